#include "Text.h"

#include <QCoreApplication>
#include <QTranslator>

#include <gtest/gtest.h>

namespace
{
// A translator that knows one pattern, found by context, source and disambiguation as a .qm
// file's messages are.
class FPatternTranslator : public QTranslator
{
public:
	QString translate(const char* Context, const char* Source, const char* Disambiguation, int) const override
	{
		if (QByteArray(Context) == "OrvaSDK" && QByteArray(Source) == "{0} upload cancelled." &&
		    QByteArray(Disambiguation) == "UploadCancelledMessage")
		{
			return QStringLiteral("Hochladen von {0} abgebrochen.");
		}
		return QString();
	}
	bool isEmpty() const override { return false; }
};
} // namespace

TEST(EditorTexts, FormattedTextsTranslateThePatternAndLogTheSource)
{
	const FText Message =
	    FText::Format(NSLOCTEXT("OrvaSDK", "UploadCancelledMessage", "{0} upload cancelled."), {QStringLiteral("Pak")});
	EXPECT_EQ(Message.ToString(), QStringLiteral("Pak upload cancelled."));
	FPatternTranslator Translator;
	ASSERT_TRUE(QCoreApplication::installTranslator(&Translator));
	EXPECT_EQ(Message.ToString(), QStringLiteral("Hochladen von Pak abgebrochen."));
	// The log keeps the system's own words whatever the creator reads.
	EXPECT_EQ(Message.BuildSourceString(), QStringLiteral("Pak upload cancelled."));
	QCoreApplication::removeTranslator(&Translator);
	EXPECT_EQ(Message.GetSourceString(), QStringLiteral("{0} upload cancelled."));
}

TEST(EditorTexts, ArgumentsAreFilledInOnePassAndTakenAsTheyAre)
{
	// A package or file name may hold braces: it must not pull in another argument.
	EXPECT_EQ(FText::Format(FText::FromString(QStringLiteral("{0} needs {1}")),
	                        {QStringLiteral("/Game/A{1}"), QStringLiteral("/Game/B")})
	              .ToString(),
	          QStringLiteral("/Game/A{1} needs /Game/B"));
	// Placeholders without an argument, and braces that are no placeholder, stay.
	EXPECT_EQ(
	    FText::Format(FText::FromString(QStringLiteral("{0} {2} {x} {} {-1} {1")), {QStringLiteral("a")}).ToString(),
	    QStringLiteral("a {2} {x} {} {-1} {1"));
	EXPECT_EQ(FText::Format(FText::FromString(QStringLiteral("{0}{0}")), {QStringLiteral("ab")}).ToString(),
	          QStringLiteral("abab"));
	EXPECT_EQ(FText::Format(FText::FromString(QStringLiteral("{0}")), {}).ToString(), QStringLiteral("{0}"));
}
