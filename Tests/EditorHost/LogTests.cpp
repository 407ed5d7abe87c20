#include "Log.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace
{
TEST(LogTest, LinesUseTheEngineForm)
{
	EXPECT_EQ((FLogLine{QStringLiteral("LogTemp"), ELogVerbosity::Warning, QStringLiteral("x")}.Format()),
	          QStringLiteral("LogTemp: Warning: x"));
	EXPECT_EQ((FLogLine{QStringLiteral("LogHotPatcher"), ELogVerbosity::Error, QStringLiteral("Failed: 2")}.Format()),
	          QStringLiteral("LogHotPatcher: Error: Failed: 2"));
	EXPECT_EQ((FLogLine{QStringLiteral("LogTemp"), ELogVerbosity::Display, QStringLiteral("shown")}.Format()),
	          QStringLiteral("LogTemp: shown"));
	EXPECT_EQ((FLogLine{QStringLiteral("LogTemp"), ELogVerbosity::Log, QStringLiteral("logged")}.Format()),
	          QStringLiteral("LogTemp: logged"));
}

TEST(LogTest, CaptureSeesLinesWhileItLives)
{
	auto First = std::make_unique<FLogCapture>();
	UE_LOG(LogTemp, Warning, QStringLiteral("SOrvaEditorView::Construct"));
	UE_LOG(LogEditorHost, Error, QStringLiteral("broken"));
	UE_LOG(LogHotPatcher, Display, QStringLiteral("broken"));

	const QList<FLogLine> Lines = First->Lines();
	ASSERT_EQ(Lines.size(), 3);
	EXPECT_EQ(Lines.at(0).Category, QStringLiteral("LogTemp"));
	EXPECT_EQ(Lines.at(0).Verbosity, ELogVerbosity::Warning);
	EXPECT_EQ(Lines.at(0).Format(), QStringLiteral("LogTemp: Warning: SOrvaEditorView::Construct"));
	EXPECT_EQ(Lines.at(1).Category, QStringLiteral("LogEditorHost"));
	EXPECT_EQ(First->Messages(ELogVerbosity::Error), QStringList{QStringLiteral("broken")});
	EXPECT_EQ(First->Messages(ELogVerbosity::Log), QStringList());
	EXPECT_EQ(First->Count(QStringLiteral("broken")), 2);
	EXPECT_TRUE(First->Contains(QStringLiteral("SOrvaEditorView::Construct")));
	EXPECT_FALSE(First->Contains(QStringLiteral("SOrvaEditorView")));

	FLogCapture Second;
	UE_LOG(LogTemp, Log, QStringLiteral("both"));
	First.reset();
	// A destroyed capture is detached: writing goes on without it.
	UE_LOG(LogTemp, Log, QStringLiteral("second only"));
	EXPECT_EQ(Second.Messages(), (QStringList{QStringLiteral("both"), QStringLiteral("second only")}));

	Second.Clear();
	EXPECT_TRUE(Second.Lines().isEmpty());
	UE_LOG(LogTemp, Log, QStringLiteral("after clear"));
	EXPECT_EQ(Second.Messages(), QStringList{QStringLiteral("after clear")});
}

TEST(LogTest, FileSinkAppendsOneLinePerMessage)
{
	QTemporaryDir Dir;
	ASSERT_TRUE(Dir.isValid());
	const QString Path = Dir.filePath(QStringLiteral("Saved/Logs/Demo.log"));
	{
		FFileLogSink Sink(Path);
		EXPECT_EQ(Sink.GetFilePath(), Path);
		FLog::AddSink(&Sink);
		UE_LOG(LogTemp, Warning, QStringLiteral("first"));
		UE_LOG(LogEditorHost, Display, QStringLiteral("zweite Zeile ü"));
		// Flushed as written: readable while the sink is still open.
		QFile Live(Path);
		ASSERT_TRUE(Live.open(QIODevice::ReadOnly));
		EXPECT_EQ(Live.readAll().count('\n'), 2);
		FLog::RemoveSink(&Sink);
		UE_LOG(LogTemp, Warning, QStringLiteral("not in the file"));
	}
	{
		// A new sink on the same file adds to it.
		FFileLogSink Sink(Path);
		Sink.Receive(FLogLine{QStringLiteral("LogTemp"), ELogVerbosity::Error, QStringLiteral("third")});
	}

	QFile File(Path);
	ASSERT_TRUE(File.open(QIODevice::ReadOnly));
	const QStringList Lines = QString::fromUtf8(File.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
	ASSERT_EQ(Lines.size(), 3);
	EXPECT_TRUE(Lines.at(0).endsWith(QStringLiteral("LogTemp: Warning: first")));
	EXPECT_TRUE(Lines.at(1).endsWith(QStringLiteral("LogEditorHost: zweite Zeile ü")));
	EXPECT_TRUE(Lines.at(2).endsWith(QStringLiteral("LogTemp: Error: third")));
}
} // namespace
