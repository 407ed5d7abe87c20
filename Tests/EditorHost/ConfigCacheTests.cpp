#include "ConfigCache.h"
#include "Log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace
{
class ConfigCacheTest : public ::testing::Test
{
protected:
	QTemporaryDir Dir;
	FConfigCache Cache;

	QString PathOf(const QString& Name) const { return Dir.filePath(Name); }

	static QByteArray ReadAll(const QString& Path)
	{
		QFile File(Path);
		return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
	}

	static void WriteAll(const QString& Path, const QByteArray& Bytes)
	{
		QDir().mkpath(QFileInfo(Path).absolutePath());
		QFile File(Path);
		ASSERT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
		ASSERT_EQ(File.write(Bytes), Bytes.size());
	}

	static void WriteWithMode(const QString& Path, const QByteArray& Bytes, mode_t Mode)
	{
		WriteAll(Path, Bytes);
		ASSERT_EQ(::chmod(QFile::encodeName(Path).constData(), Mode), 0);
		ASSERT_EQ(ModeOf(Path), unsigned(Mode));
	}

	static unsigned ModeOf(const QString& Path)
	{
		struct stat Info
		{
		};
		if (::stat(QFile::encodeName(Path).constData(), &Info) != 0)
		{
			return 0xFFFF;
		}
		return Info.st_mode & 07777;
	}

	// Reads Key back as a fresh cache would: from disk, not from memory.
	QString ReadBack(const QString& Section, const QString& Key, const QString& File)
	{
		Cache.Unload(File);
		QString Value = QStringLiteral("<missing>");
		Cache.GetString(Section, Key, Value, File);
		return Value;
	}
};

struct FQuotingCase
{
	const char* Key;
	QString Value;
	// The line as it must appear in the file.
	QString Line;
};

TEST_F(ConfigCacheTest, TrickyValuesAreWrittenInTheEngineFormAndReadBackExactly)
{
	const QList<FQuotingCase> Cases = {
	    {"Plain", QStringLiteral("abc"), QStringLiteral("Plain=abc")},
	    {"Empty", QString(), QStringLiteral("Empty=")},
	    {"Equals", QStringLiteral("a=b=c"), QStringLiteral("Equals=a=b=c")},
	    {"InnerQuote", QStringLiteral("say \"hi\""), QStringLiteral("InnerQuote=say \"hi\"")},
	    {"Semicolon", QStringLiteral(";not a comment"), QStringLiteral("Semicolon=;not a comment")},
	    {"Hash", QStringLiteral("#not a comment"), QStringLiteral("Hash=#not a comment")},
	    {"WindowsPath", QStringLiteral("C:\\new\\table"), QStringLiteral("WindowsPath=C:\\new\\table")},
	    {"Section", QStringLiteral("[Other]"), QStringLiteral("Section=[Other]")},
	    {"Apostrophe", QStringLiteral("it's"), QStringLiteral("Apostrophe=it's")},
	    {"NonAscii", QStringLiteral("Grüße 日本 \U0001F600"), QStringLiteral("NonAscii=Grüße 日本 \U0001F600")},
	    {"SingleSlash", QStringLiteral("a/b"), QStringLiteral("SingleSlash=a/b")},
	    // Every quoting trigger on its own.
	    {"LeadingBlank", QStringLiteral(" lead"), QStringLiteral("LeadingBlank=\" lead\"")},
	    {"TrailingBlank", QStringLiteral("trail "), QStringLiteral("TrailingBlank=\"trail \"")},
	    {"LeadingTab", QStringLiteral("\tx"), QStringLiteral("LeadingTab=\"\\tx\"")},
	    {"OnlyBlanks", QStringLiteral("   "), QStringLiteral("OnlyBlanks=\"   \"")},
	    {"StartsWithQuote", QStringLiteral("\"q\" rest"), QStringLiteral("StartsWithQuote=\"\\\"q\\\" rest\"")},
	    {"LoneQuote", QStringLiteral("\""), QStringLiteral("LoneQuote=\"\\\"\"")},
	    {"EndsWithBackslash", QStringLiteral("C:\\Dir\\"), QStringLiteral("EndsWithBackslash=\"C:\\\\Dir\\\\\"")},
	    {"LineFeed", QStringLiteral("one\ntwo"), QStringLiteral("LineFeed=\"one\\ntwo\"")},
	    {"CarriageReturn", QStringLiteral("one\rtwo"), QStringLiteral("CarriageReturn=\"one\\rtwo\"")},
	    {"OpenBrace", QStringLiteral("a{b"), QStringLiteral("OpenBrace=\"a{b\"")},
	    {"CloseBrace", QStringLiteral("a}b"), QStringLiteral("CloseBrace=\"a}b\"")},
	    {"DoubleSlash", QStringLiteral("http://host/x"), QStringLiteral("DoubleSlash=\"http://host/x\"")},
	    // Once quoted, every special character is escaped.
	    {"Everything", QStringLiteral(" it's \"x\"\t\\n {} // é\r\n"),
	     QStringLiteral("Everything=\" it\\'s \\\"x\\\"\\t\\\\n {} // é\\r\\n\"")},
	};

	const QString File = PathOf(QStringLiteral("Tricky.ini"));
	for (const FQuotingCase& Case : Cases)
	{
		Cache.SetString(QStringLiteral("Values"), QLatin1String(Case.Key), Case.Value, File);
	}
	ASSERT_TRUE(Cache.Flush(false, File));

	const QStringList Lines = QString::fromUtf8(ReadAll(File)).split(QLatin1Char('\n'));
	for (const FQuotingCase& Case : Cases)
	{
		EXPECT_TRUE(Lines.contains(Case.Line)) << "missing line: " << qPrintable(Case.Line);
	}

	Cache.Unload(File);
	for (const FQuotingCase& Case : Cases)
	{
		QString Value = QStringLiteral("<missing>");
		EXPECT_TRUE(Cache.GetString(QStringLiteral("Values"), QLatin1String(Case.Key), Value, File)) << Case.Key;
		EXPECT_EQ(Value, Case.Value) << Case.Key;
	}
}

TEST_F(ConfigCacheTest, QuotingHelpersAgreeWithEachOther)
{
	EXPECT_EQ(FConfigCache::QuoteValueIfNeeded(QStringLiteral("plain value")), QStringLiteral("plain value"));
	EXPECT_EQ(FConfigCache::QuoteValueIfNeeded(QStringLiteral("a/b/c")), QStringLiteral("a/b/c"));
	EXPECT_EQ(FConfigCache::QuoteValueIfNeeded(QStringLiteral("x//")), QStringLiteral("\"x//\""));

	// Reading trims what is outside quotes and undoes the escapes inside them.
	EXPECT_EQ(FConfigCache::UnquoteValue(QStringLiteral("  spaced  ")), QStringLiteral("spaced"));
	EXPECT_EQ(FConfigCache::UnquoteValue(QStringLiteral("\"a\\\\b\\n\\r\\t\\'\\\"\"")),
	          QStringLiteral("a\\b\n\r\t'\""));
	EXPECT_EQ(FConfigCache::UnquoteValue(QStringLiteral(" \"  kept  \" ")), QStringLiteral("  kept  "));
	// Unknown escapes are kept as typed; a missing closing quote keeps what was there.
	EXPECT_EQ(FConfigCache::UnquoteValue(QStringLiteral("\"C:\\Dir\\x\"")), QStringLiteral("C:\\Dir\\x"));
	EXPECT_EQ(FConfigCache::UnquoteValue(QStringLiteral("\"open")), QStringLiteral("open"));
	EXPECT_EQ(FConfigCache::UnquoteValue(QStringLiteral("no \"quotes\" here")), QStringLiteral("no \"quotes\" here"));

	const QStringList Samples = {QStringLiteral(" a "), QStringLiteral("\"\\"), QStringLiteral("x\\"),
	                             QStringLiteral("{\n}"), QStringLiteral("\\\\server\\share\\")};
	for (const QString& Sample : Samples)
	{
		EXPECT_EQ(FConfigCache::UnquoteValue(FConfigCache::QuoteValueIfNeeded(Sample)), Sample);
	}
}

TEST_F(ConfigCacheTest, ReadsHandWrittenFilesInEveryAcceptedEncoding)
{
	const QByteArray Body = "; leading comment\n"
	                        "Orphan=before any section\n"
	                        "[LoginInfo]\n"
	                        "# another comment\n"
	                        "  Token   =   Bearer abc  \n"
	                        "User=\"  padded  \"\n"
	                        "Escaped=\"tab\\there\"\n"
	                        "Name=J\xC3\xB6rg\n";

	const QString Utf8 = PathOf(QStringLiteral("Plain.ini"));
	const QString Bom = PathOf(QStringLiteral("Bom.ini"));
	const QString Crlf = PathOf(QStringLiteral("Crlf.ini"));
	const QString Utf16 = PathOf(QStringLiteral("Utf16.ini"));
	WriteAll(Utf8, Body);
	WriteAll(Bom, "\xEF\xBB\xBF" + Body);
	WriteAll(Crlf, QByteArray(Body).replace("\n", "\r\n"));
	const QString Text = QString::fromUtf8(Body);
	QByteArray Wide("\xFF\xFE", 2);
	for (const QChar Ch : Text)
	{
		Wide.append(char(Ch.unicode() & 0xFF));
		Wide.append(char(Ch.unicode() >> 8));
	}
	WriteAll(Utf16, Wide);

	for (const QString& File : {Utf8, Bom, Crlf, Utf16})
	{
		SCOPED_TRACE(qPrintable(File));
		QString Value;
		ASSERT_TRUE(Cache.GetString(QStringLiteral("LoginInfo"), QStringLiteral("Token"), Value, File));
		EXPECT_EQ(Value, QStringLiteral("Bearer abc"));
		ASSERT_TRUE(Cache.GetString(QStringLiteral("LoginInfo"), QStringLiteral("User"), Value, File));
		EXPECT_EQ(Value, QStringLiteral("  padded  "));
		ASSERT_TRUE(Cache.GetString(QStringLiteral("LoginInfo"), QStringLiteral("Escaped"), Value, File));
		EXPECT_EQ(Value, QStringLiteral("tab\there"));
		ASSERT_TRUE(Cache.GetString(QStringLiteral("LoginInfo"), QStringLiteral("Name"), Value, File));
		EXPECT_EQ(Value, QStringLiteral("Jörg"));
		// Lines above the first header belong to no section, comments are no keys.
		EXPECT_EQ(Cache.GetSectionNames(File), QStringList{QStringLiteral("LoginInfo")});
		EXPECT_FALSE(Cache.GetString(QString(), QStringLiteral("Orphan"), Value, File));
		EXPECT_FALSE(Cache.GetString(QStringLiteral("LoginInfo"), QStringLiteral("# another comment"), Value, File));
	}
}

TEST_F(ConfigCacheTest, SectionAndKeyNamesIgnoreCaseButValuesDoNot)
{
	const QString File = PathOf(QStringLiteral("Case.ini"));
	WriteAll(File, "[LoginInfo]\nToken=Secret\n");

	QString Value;
	ASSERT_TRUE(Cache.GetString(QStringLiteral("logininfo"), QStringLiteral("TOKEN"), Value, File));
	EXPECT_EQ(Value, QStringLiteral("Secret"));

	// Writing through another spelling changes the existing key instead of adding a twin.
	Cache.SetString(QStringLiteral("LOGININFO"), QStringLiteral("token"), QStringLiteral("secret"), File);
	Cache.SetString(QStringLiteral("loginInfo"), QStringLiteral("User"), QStringLiteral("Me"), File);
	ASSERT_TRUE(Cache.Flush(false, File));
	EXPECT_EQ(ReadAll(File), QByteArray("[LoginInfo]\nToken=secret\nUser=Me\n"));
	EXPECT_EQ(ReadBack(QStringLiteral("LoginInfo"), QStringLiteral("Token"), File), QStringLiteral("secret"));
	EXPECT_EQ(Cache.GetSectionNames(File), QStringList{QStringLiteral("LoginInfo")});
}

TEST_F(ConfigCacheTest, TextValuesUseTheEngineTextForms)
{
	const QString File = PathOf(QStringLiteral("Texts.ini"));
	const QString Tricky = QStringLiteral(" \"Jörg\" {x} // it's\nnext\\ ");
	Cache.SetText(QStringLiteral("LoginInfo"), QStringLiteral("User"), QStringLiteral("someone@example.com"), File);
	Cache.SetText(QStringLiteral("LoginInfo"), QStringLiteral("Tricky"), Tricky, File);
	ASSERT_TRUE(Cache.Flush(false, File));
	EXPECT_TRUE(QString::fromUtf8(ReadAll(File)).contains(QStringLiteral("User=INVTEXT(\"someone@example.com\")\n")));

	Cache.Unload(File);
	QString Value;
	ASSERT_TRUE(Cache.GetText(QStringLiteral("LoginInfo"), QStringLiteral("User"), Value, File));
	EXPECT_EQ(Value, QStringLiteral("someone@example.com"));
	ASSERT_TRUE(Cache.GetText(QStringLiteral("LoginInfo"), QStringLiteral("Tricky"), Value, File));
	EXPECT_EQ(Value, Tricky);

	const QString Foreign = PathOf(QStringLiteral("Foreign.ini"));
	WriteAll(Foreign, "[LoginInfo]\n"
	                  "Loc=NSLOCTEXT(\"Login\", \"UserKey\", \"Source \\\"text\\\"\")\n"
	                  "Tight=NSLOCTEXT(\"Ns\",\"Key\",\"Compact\")\n"
	                  "Short=LOCTEXT(\"Key\", \"Short form\")\n"
	                  "Inv=INVTEXT(\"Invariant\")\n"
	                  "Raw=Just a string\n"
	                  "Broken=INVTEXT(\"unterminated\n"
	                  "Trailing=INVTEXT(\"a\") and more\n");
	const QList<QPair<QString, QString>> Expected = {
	    {QStringLiteral("Loc"), QStringLiteral("Source \"text\"")},
	    {QStringLiteral("Tight"), QStringLiteral("Compact")},
	    {QStringLiteral("Short"), QStringLiteral("Short form")},
	    {QStringLiteral("Inv"), QStringLiteral("Invariant")},
	    {QStringLiteral("Raw"), QStringLiteral("Just a string")},
	    // What is no complete text form is taken as the string it is.
	    {QStringLiteral("Broken"), QStringLiteral("INVTEXT(\"unterminated")},
	    {QStringLiteral("Trailing"), QStringLiteral("INVTEXT(\"a\") and more")},
	};
	for (const auto& [Key, Text] : Expected)
	{
		Value.clear();
		EXPECT_TRUE(Cache.GetText(QStringLiteral("LoginInfo"), Key, Value, Foreign)) << qPrintable(Key);
		EXPECT_EQ(Value, Text) << qPrintable(Key);
	}
	Value = QStringLiteral("unchanged");
	EXPECT_FALSE(Cache.GetText(QStringLiteral("LoginInfo"), QStringLiteral("Password"), Value, Foreign));
	EXPECT_EQ(Value, QStringLiteral("unchanged"));
}

TEST_F(ConfigCacheTest, ArrayLinesAddRemoveAndClear)
{
	const QString File = PathOf(QStringLiteral("Arrays.ini"));
	WriteAll(File, "[Arrays]\n"
	               "Plain=a\n"
	               "Plain=b\n"
	               "+Unique=x\n"
	               "+Unique=x\n"
	               "+Unique=y\n"
	               ".Dup=x\n"
	               ".Dup=x\n"
	               "+Removed=a\n"
	               "+Removed=b\n"
	               "+Removed=a2\n"
	               "-Removed=a\n"
	               "+Cleared=old\n"
	               "!Cleared=ClearArray\n"
	               "+Cleared=new\n"
	               "+Gone=1\n"
	               "!Gone=ClearArray\n"
	               "[Elsewhere]\n"
	               "+Unique=other section\n"
	               "[arrays]\n"
	               "+Unique=z\n");

	QStringList Values;
	const auto ArrayOf = [&](const char* Key)
	{
		QStringList Out{QStringLiteral("stale")};
		Cache.GetArray(QStringLiteral("Arrays"), QLatin1String(Key), Out, File);
		return Out;
	};
	EXPECT_EQ(ArrayOf("Plain"), (QStringList{QStringLiteral("a"), QStringLiteral("b")}));
	// A section that appears twice is one section.
	EXPECT_EQ(ArrayOf("Unique"), (QStringList{QStringLiteral("x"), QStringLiteral("y"), QStringLiteral("z")}));
	EXPECT_EQ(ArrayOf("Dup"), (QStringList{QStringLiteral("x"), QStringLiteral("x")}));
	EXPECT_EQ(ArrayOf("Removed"), (QStringList{QStringLiteral("b"), QStringLiteral("a2")}));
	EXPECT_EQ(ArrayOf("Cleared"), QStringList{QStringLiteral("new")});
	EXPECT_TRUE(ArrayOf("Gone").isEmpty());
	EXPECT_FALSE(Cache.GetArray(QStringLiteral("Arrays"), QStringLiteral("Gone"), Values, File));
	EXPECT_FALSE(Cache.GetArray(QStringLiteral("Arrays"), QStringLiteral("Missing"), Values, File));

	// A single-value read of an array gives its first element; a cleared array is no value.
	QString Value = QStringLiteral("unchanged");
	ASSERT_TRUE(Cache.GetString(QStringLiteral("Arrays"), QStringLiteral("Removed"), Value, File));
	EXPECT_EQ(Value, QStringLiteral("b"));
	Value = QStringLiteral("unchanged");
	EXPECT_FALSE(Cache.GetString(QStringLiteral("Arrays"), QStringLiteral("Gone"), Value, File));
	EXPECT_EQ(Value, QStringLiteral("unchanged"));

	// Setting a single value replaces every line of the array, in both blocks of the section.
	Cache.SetString(QStringLiteral("Arrays"), QStringLiteral("Unique"), QStringLiteral("only"), File);
	ASSERT_TRUE(Cache.Flush(false, File));
	const QByteArray Written = ReadAll(File);
	EXPECT_TRUE(Written.contains("\nUnique=only\n"));
	EXPECT_FALSE(Written.contains("Unique=x"));
	EXPECT_FALSE(Written.contains("Unique=z"));
	EXPECT_TRUE(Written.contains("+Unique=other section\n"));
	Cache.Unload(File);
	EXPECT_EQ(ArrayOf("Unique"), QStringList{QStringLiteral("only")});
	EXPECT_EQ(ArrayOf("Removed"), (QStringList{QStringLiteral("b"), QStringLiteral("a2")}));
}

TEST_F(ConfigCacheTest, BoolsAreWrittenAsTrueFalseAndReadLeniently)
{
	const QString File = PathOf(QStringLiteral("Bools.ini"));
	WriteAll(File, "[B]\nT1=true\nT2=YES\nT3=On\nT4=1\nF1=False\nF2=0\nF3=no\nF4=2\nF5=\n");
	for (const char* Key : {"T1", "T2", "T3", "T4"})
	{
		bool bValue = false;
		EXPECT_TRUE(Cache.GetBool(QStringLiteral("B"), QLatin1String(Key), bValue, File)) << Key;
		EXPECT_TRUE(bValue) << Key;
	}
	for (const char* Key : {"F1", "F2", "F3", "F4", "F5"})
	{
		bool bValue = true;
		EXPECT_TRUE(Cache.GetBool(QStringLiteral("B"), QLatin1String(Key), bValue, File)) << Key;
		EXPECT_FALSE(bValue) << Key;
	}
	bool bUntouched = true;
	EXPECT_FALSE(Cache.GetBool(QStringLiteral("B"), QStringLiteral("Missing"), bUntouched, File));
	EXPECT_TRUE(bUntouched);

	Cache.SetBool(QStringLiteral("B"), QStringLiteral("T1"), false, File);
	Cache.SetBool(QStringLiteral("B"), QStringLiteral("New"), true, File);
	ASSERT_TRUE(Cache.Flush(true, File));
	const QByteArray Written = ReadAll(File);
	EXPECT_TRUE(Written.contains("\nT1=False\n"));
	EXPECT_TRUE(Written.contains("\nNew=True\n"));
}

TEST_F(ConfigCacheTest, MissingFileReadsEmptyAndIsNotCreatedUntilSomethingIsSet)
{
	const QString File = PathOf(QStringLiteral("Sub/Dir/Missing.ini"));
	QString Value = QStringLiteral("unchanged");
	EXPECT_FALSE(Cache.GetString(QStringLiteral("LoginInfo"), QStringLiteral("Token"), Value, File));
	EXPECT_EQ(Value, QStringLiteral("unchanged"));
	EXPECT_TRUE(Cache.GetSectionNames(File).isEmpty());
	EXPECT_TRUE(Cache.Flush(false, File));
	EXPECT_FALSE(QFileInfo::exists(File));
	EXPECT_FALSE(QFileInfo::exists(PathOf(QStringLiteral("Sub"))));

	// An empty value still makes the file, and the folders above it.
	Cache.SetString(QStringLiteral("LoginInfo"), QStringLiteral("Token"), QString(), File);
	ASSERT_TRUE(Cache.Flush(false, File));
	EXPECT_EQ(ReadAll(File), QByteArray("[LoginInfo]\nToken=\n"));
	EXPECT_EQ(ReadBack(QStringLiteral("LoginInfo"), QStringLiteral("Token"), File), QString());
}

TEST_F(ConfigCacheTest, FlushWritesOnlyChangedFilesAndLeavesNoTemporaryFile)
{
	const QString File = PathOf(QStringLiteral("Settings.ini"));
	WriteAll(File, "[S]\nKey=Value\n");
	QString Value;
	ASSERT_TRUE(Cache.GetString(QStringLiteral("S"), QStringLiteral("Key"), Value, File));

	// Someone else rewrites the file; an unchanged cache entry must not overwrite it, and setting
	// the value it already has is no change either.
	WriteAll(File, "[S]\nKey=Edited elsewhere\n");
	Cache.SetString(QStringLiteral("S"), QStringLiteral("Key"), QStringLiteral("Value"), File);
	ASSERT_TRUE(Cache.Flush(false, File));
	EXPECT_EQ(ReadAll(File), QByteArray("[S]\nKey=Edited elsewhere\n"));

	Cache.SetString(QStringLiteral("S"), QStringLiteral("Key"), QStringLiteral("Mine"), File);
	ASSERT_TRUE(Cache.Flush(false, File));
	EXPECT_EQ(ReadAll(File), QByteArray("[S]\nKey=Mine\n"));
	EXPECT_EQ(QDir(Dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
	          QStringList{QStringLiteral("Settings.ini")});

	// Flushed and clean again: a second flush writes nothing.
	WriteAll(File, "[S]\nKey=Again elsewhere\n");
	ASSERT_TRUE(Cache.Flush(false, File));
	EXPECT_EQ(ReadAll(File), QByteArray("[S]\nKey=Again elsewhere\n"));
}

TEST_F(ConfigCacheTest, UnloadForgetsUnflushedChangesAndFlushCanDropTheFile)
{
	const QString File = PathOf(QStringLiteral("Unload.ini"));
	WriteAll(File, "[S]\nKey=Disk\n");
	Cache.SetString(QStringLiteral("S"), QStringLiteral("Key"), QStringLiteral("Memory"), File);
	EXPECT_EQ(ReadBack(QStringLiteral("S"), QStringLiteral("Key"), File), QStringLiteral("Disk"));

	Cache.SetString(QStringLiteral("S"), QStringLiteral("Key"), QStringLiteral("Flushed"), File);
	ASSERT_TRUE(Cache.Flush(true, File));
	WriteAll(File, "[S]\nKey=Changed after drop\n");
	QString Value;
	ASSERT_TRUE(Cache.GetString(QStringLiteral("S"), QStringLiteral("Key"), Value, File));
	EXPECT_EQ(Value, QStringLiteral("Changed after drop"));
}

TEST_F(ConfigCacheTest, FilenamesAreKeyedByTheirFullCleanPath)
{
	const QString Previous = QDir::currentPath();
	ASSERT_TRUE(QDir().mkpath(PathOf(QStringLiteral("Work/Deeper"))));
	ASSERT_TRUE(QDir::setCurrent(PathOf(QStringLiteral("Work/Deeper"))));
	Cache.SetString(QStringLiteral("S"), QStringLiteral("Key"), QStringLiteral("Relative"),
	                QStringLiteral("../Rel.ini"));
	QDir::setCurrent(Previous);

	const QString Absolute = PathOf(QStringLiteral("Work/./Other/../Rel.ini"));
	QString Value;
	ASSERT_TRUE(Cache.GetString(QStringLiteral("S"), QStringLiteral("Key"), Value, Absolute));
	EXPECT_EQ(Value, QStringLiteral("Relative"));
	ASSERT_TRUE(Cache.Flush(false, Absolute));
	EXPECT_TRUE(QFileInfo::exists(PathOf(QStringLiteral("Work/Rel.ini"))));
}

TEST_F(ConfigCacheTest, DestroyingTheCacheWritesPendingChanges)
{
	const QString File = PathOf(QStringLiteral("Shutdown.ini"));
	{
		FConfigCache Local;
		Local.SetString(QStringLiteral("LoginInfo"), QStringLiteral("Token"), QString(), File);
	}
	EXPECT_EQ(ReadAll(File), QByteArray("[LoginInfo]\nToken=\n"));
}

TEST_F(ConfigCacheTest, PrivateFilesAreReadableByTheirOwnerOnly)
{
	const QString Fresh = PathOf(QStringLiteral("Private/New.ini"));
	Cache.MarkPrivate(Fresh);
	Cache.SetString(QStringLiteral("LoginInfo"), QStringLiteral("Token"), QStringLiteral("Bearer t"), Fresh);
	ASSERT_TRUE(Cache.Flush(false, Fresh));
	EXPECT_EQ(ModeOf(Fresh), 0600u);

	const QString Existing = PathOf(QStringLiteral("Existing.ini"));
	WriteWithMode(Existing, "[LoginInfo]\nToken=old\n", 0646);
	Cache.MarkPrivate(PathOf(QStringLiteral("./Existing.ini")));
	Cache.SetString(QStringLiteral("LoginInfo"), QStringLiteral("Token"), QStringLiteral("new"), Existing);
	ASSERT_TRUE(Cache.Flush(false, Existing));
	EXPECT_EQ(ModeOf(Existing), 0600u);
	EXPECT_EQ(ReadAll(Existing), QByteArray("[LoginInfo]\nToken=new\n"));

	// Marking alone is enough: the next flush narrows the file even with nothing to write.
	const QString Untouched = PathOf(QStringLiteral("Untouched.ini"));
	WriteWithMode(Untouched, "[LoginInfo]\nToken=t\n", 0644);
	Cache.MarkPrivate(Untouched);
	ASSERT_TRUE(Cache.Flush(false, Untouched));
	EXPECT_EQ(ModeOf(Untouched), 0600u);
	EXPECT_EQ(ReadAll(Untouched), QByteArray("[LoginInfo]\nToken=t\n"));

	// Other files keep the permissions they have.
	const QString Shared = PathOf(QStringLiteral("Shared.ini"));
	WriteWithMode(Shared, "[S]\nK=v\n", 0664);
	Cache.SetString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("w"), Shared);
	ASSERT_TRUE(Cache.Flush(false, Shared));
	EXPECT_EQ(ModeOf(Shared), 0664u);
}

TEST_F(ConfigCacheTest, UnwritableFileFailsWithAnErrorAndKeepsTheValues)
{
	FLogCapture Capture;
	const QString Blocker = PathOf(QStringLiteral("Blocker"));
	WriteAll(Blocker, "a file where a folder should be");
	const QString UnderFile = PathOf(QStringLiteral("Blocker/Settings.ini"));
	Cache.SetString(QStringLiteral("S"), QStringLiteral("Key"), QStringLiteral("Kept"), UnderFile);
	EXPECT_FALSE(Cache.Flush(true, UnderFile));
	const QStringList Errors = Capture.Messages(ELogVerbosity::Error);
	ASSERT_EQ(Errors.size(), 1);
	EXPECT_TRUE(Errors.first().contains(UnderFile)) << qPrintable(Errors.first());
	EXPECT_EQ(Capture.Lines().first().Category, QStringLiteral("LogEditorHost"));

	// Even a failed flush that was asked to drop the file keeps it, so a later flush can succeed.
	QString Value;
	ASSERT_TRUE(Cache.GetString(QStringLiteral("S"), QStringLiteral("Key"), Value, UnderFile));
	EXPECT_EQ(Value, QStringLiteral("Kept"));
	ASSERT_TRUE(QFile::remove(Blocker));
	ASSERT_TRUE(Cache.Flush(false, UnderFile));
	EXPECT_EQ(ReadAll(UnderFile), QByteArray("[S]\nKey=Kept\n"));

	// A folder in the place of the file.
	Capture.Clear();
	const QString FolderInstead = PathOf(QStringLiteral("IsAFolder.ini"));
	ASSERT_TRUE(QDir().mkpath(FolderInstead + QStringLiteral("/inside")));
	Cache.SetString(QStringLiteral("S"), QStringLiteral("Key"), QStringLiteral("v"), FolderInstead);
	EXPECT_FALSE(Cache.Flush(false, FolderInstead));
	EXPECT_EQ(Capture.Messages(ELogVerbosity::Error).size(), 1);
	EXPECT_TRUE(QFileInfo(FolderInstead).isDir());
}

TEST_F(ConfigCacheTest, WriteFailingHalfwayLeavesTheOldFileWhole)
{
	const QString File = PathOf(QStringLiteral("Full.ini"));
	WriteAll(File, "[S]\nKey=old\n");
	Cache.SetString(QStringLiteral("S"), QStringLiteral("Key"), QString(64 * 1024, QLatin1Char('x')), File);

	// A file size limit makes the write fail the way a full disk does.
	FLogCapture Capture;
	struct rlimit Saved
	{
	};
	ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &Saved), 0);
	const auto PreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
	struct rlimit Small = Saved;
	Small.rlim_cur = 1024;
	ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &Small), 0);
	const bool bFlushed = Cache.Flush(false, File);
	::setrlimit(RLIMIT_FSIZE, &Saved);
	std::signal(SIGXFSZ, PreviousHandler);

	EXPECT_FALSE(bFlushed);
	EXPECT_EQ(Capture.Messages(ELogVerbosity::Error).size(), 1);
	EXPECT_EQ(ReadAll(File), QByteArray("[S]\nKey=old\n"));
	EXPECT_EQ(QDir(Dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
	          QStringList{QStringLiteral("Full.ini")});
	ASSERT_TRUE(Cache.Flush(false, File));
	EXPECT_EQ(ReadBack(QStringLiteral("S"), QStringLiteral("Key"), File).size(), 64 * 1024);
}

TEST_F(ConfigCacheTest, EditsKeepEverythingElseOfTheFile)
{
	const QString File = PathOf(QStringLiteral("Keep.ini"));
	const QByteArray Original = "; Written by hand\n"
	                            "[WorldInfo]\n"
	                            "WorldId = 42\n"
	                            "; the level\n"
	                            "Path=/Game/Old.Old\n"
	                            "this line means nothing to us\n"
	                            "\n"
	                            "[Other]\n"
	                            "+List=a\n"
	                            "Quoted=\"  spaced \"\n"
	                            "\n"
	                            "; Trailing comment\n";
	WriteAll(File, Original);

	Cache.SetString(QStringLiteral("WorldInfo"), QStringLiteral("Path"), QStringLiteral("/Game/W1/Maps/Entry.Entry"),
	                File);
	Cache.SetString(QStringLiteral("WorldInfo"), QStringLiteral("Identifier"), QStringLiteral("W1"), File);
	Cache.SetString(QStringLiteral("New"), QStringLiteral("Key"), QStringLiteral("v"), File);
	ASSERT_TRUE(Cache.Flush(false, File));
	EXPECT_EQ(ReadAll(File), QByteArray("; Written by hand\n"
	                                    "[WorldInfo]\n"
	                                    "WorldId = 42\n"
	                                    "; the level\n"
	                                    "Path=/Game/W1/Maps/Entry.Entry\n"
	                                    "Identifier=W1\n"
	                                    "this line means nothing to us\n"
	                                    "\n"
	                                    "[Other]\n"
	                                    "+List=a\n"
	                                    "Quoted=\"  spaced \"\n"
	                                    "\n"
	                                    "; Trailing comment\n"
	                                    "\n"
	                                    "[New]\n"
	                                    "Key=v\n"));

	// Line endings of the file are kept.
	const QString Windows = PathOf(QStringLiteral("Windows.ini"));
	WriteAll(Windows, "[S]\r\nA=1\r\n");
	Cache.SetString(QStringLiteral("S"), QStringLiteral("B"), QStringLiteral("2"), Windows);
	ASSERT_TRUE(Cache.Flush(false, Windows));
	EXPECT_EQ(ReadAll(Windows), QByteArray("[S]\r\nA=1\r\nB=2\r\n"));
}

TEST_F(ConfigCacheTest, RemovingKeysAndSections)
{
	const QString File = PathOf(QStringLiteral("Remove.ini"));
	WriteAll(File,
	         "[A]\nKeep=1\nDrop=2\n+Drop=3\n\n; about B\n[B]\nX=1\n; inside B\nY=2\n\n; about C\n[C]\nZ=3\n[b]\nW=4\n");

	EXPECT_TRUE(Cache.RemoveKey(QStringLiteral("a"), QStringLiteral("DROP"), File));
	EXPECT_FALSE(Cache.RemoveKey(QStringLiteral("A"), QStringLiteral("Drop"), File));
	EXPECT_FALSE(Cache.RemoveKey(QStringLiteral("Nowhere"), QStringLiteral("Keep"), File));
	EXPECT_EQ(Cache.GetSectionNames(File),
	          (QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")}));

	EXPECT_TRUE(Cache.EmptySection(QStringLiteral("B"), File));
	EXPECT_FALSE(Cache.EmptySection(QStringLiteral("B"), File));
	EXPECT_EQ(Cache.GetSectionNames(File), (QStringList{QStringLiteral("A"), QStringLiteral("C")}));
	QString Value;
	EXPECT_FALSE(Cache.GetString(QStringLiteral("B"), QStringLiteral("W"), Value, File));

	ASSERT_TRUE(Cache.Flush(false, File));
	EXPECT_EQ(ReadAll(File), QByteArray("[A]\nKeep=1\n\n; about B\n\n; about C\n[C]\nZ=3\n"));
}
} // namespace
