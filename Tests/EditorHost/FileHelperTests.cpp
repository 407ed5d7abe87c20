#include "ConfigCache.h"
#include "FileHelper.h"
#include "GameThread.h"
#include "Http.h"
#include "Log.h"
#include "LoopbackHttpServer.h"
#include "ScopedTmpfs.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace
{
QByteArray ReadAll(const QString& Path)
{
	QFile File(Path);
	return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray("<unreadable>");
}

// Names in Folder; a left-over temporary would show here.
QStringList Entries(const QString& Folder)
{
	return QDir(Folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
}

unsigned ModeOf(const QString& Path)
{
	struct stat Info
	{
	};
	return ::stat(QFile::encodeName(Path).constData(), &Info) == 0 ? Info.st_mode & 07777 : 0xFFFF;
}

QString NoSpace()
{
	return QString::fromLocal8Bit(std::strerror(ENOSPC));
}

#define SKIP_UNLESS_MOUNTED(Fs)                                                                                        \
	if (!(Fs).IsMounted())                                                                                             \
	{                                                                                                                  \
		GTEST_SKIP() << "No full file system to test on: " << qPrintable((Fs).Why());                                  \
	}
} // namespace

// On a file system that is really full, as Qt's QSaveFile (6.4) got it wrong: it left an empty
// target and reported success.
TEST(FileHelperFullDisk, FailedSaveKeepsThePreviousFileByteForByteAndSaysWhy)
{
	FScopedTmpfs Fs(64);
	SKIP_UNLESS_MOUNTED(Fs);
	const QString Target = Fs.FilePath(QStringLiteral("Component.json"));
	const QByteArray Old = "{\"components\":[{\"id\":\"1\",\"pak\":\"Entry_WindowsClient.pak\"}]}";
	ASSERT_TRUE(FFileHelper::SaveArrayToFile(Old, Target));

	// No room at all: the first write fails.
	ASSERT_TRUE(Fs.Fill());
	QString Error;
	EXPECT_FALSE(FFileHelper::SaveStringToFile(QStringLiteral("{\"components\":[]}"), Target, &Error));
	EXPECT_EQ(Error, NoSpace());
	EXPECT_EQ(ReadAll(Target), Old);
	EXPECT_EQ(Entries(Fs.Path()), (QStringList{QStringLiteral("Component.json"), QStringLiteral("filler")}));

	// Some room, but not enough: the write fails halfway.
	Fs.Empty();
	Error.clear();
	EXPECT_FALSE(FFileHelper::SaveArrayToFile(QByteArray(96 * 1024, 'n'), Target, &Error));
	EXPECT_EQ(Error, NoSpace());
	EXPECT_EQ(ReadAll(Target), Old);
	EXPECT_EQ(Entries(Fs.Path()), QStringList{QStringLiteral("Component.json")});

	// With room again the same write goes through.
	ASSERT_TRUE(FFileHelper::SaveArrayToFile(QByteArray(8 * 1024, 'n'), Target, &Error)) << qPrintable(Error);
	EXPECT_EQ(ReadAll(Target), QByteArray(8 * 1024, 'n'));
}

// Logging in on a full disk once left OrvaSDK.ini empty and the next start could not log in.
TEST(FileHelperFullDisk, TokenSaveThroughTheConfigCacheKeepsTheOldFileAndLogs)
{
	FScopedTmpfs Fs(64);
	SKIP_UNLESS_MOUNTED(Fs);
	const QString Ini = Fs.FilePath(QStringLiteral("BrackenfoldStudios/ORVA/OrvaSDK.ini"));
	const QString Section = QStringLiteral("LoginInfo");
	const QString Key = QStringLiteral("Token");
	{
		FConfigCache Config;
		Config.MarkPrivate(Ini);
		Config.SetString(Section, Key, QStringLiteral("Bearer old-token"), Ini);
		ASSERT_TRUE(Config.Flush(false, Ini));
	}
	const QByteArray Before = ReadAll(Ini);
	ASSERT_TRUE(Before.contains("old-token"));

	ASSERT_TRUE(Fs.Fill());
	FLogCapture Capture;
	{
		FConfigCache Config;
		Config.MarkPrivate(Ini);
		Config.SetString(Section, Key, QStringLiteral("Bearer new-token-%1").arg(QString(200, QLatin1Char('x'))), Ini);
		EXPECT_FALSE(Config.Flush(false, Ini));
		const QStringList Errors = Capture.Messages(ELogVerbosity::Error);
		ASSERT_EQ(Errors.size(), 1);
		EXPECT_TRUE(Errors.first().startsWith(QStringLiteral("Cannot write config file ") + Ini))
		    << qPrintable(Errors.first());
		EXPECT_TRUE(Errors.first().endsWith(NoSpace())) << qPrintable(Errors.first());
		EXPECT_FALSE(Errors.first().contains(QStringLiteral("new-token")));
		EXPECT_EQ(ReadAll(Ini), Before);
		EXPECT_EQ(ModeOf(Ini), 0600u);
		Fs.Empty();
		// The cache destroyed here writes what is still pending, now that there is room.
		Capture.Clear();
	}
	EXPECT_TRUE(Capture.Messages(ELogVerbosity::Error).isEmpty());
	EXPECT_TRUE(ReadAll(Ini).contains("new-token"));
	EXPECT_EQ(Entries(QFileInfo(Ini).absolutePath()), QStringList{QStringLiteral("OrvaSDK.ini")});
}

// An answer streamed to a file on a full disk fails the request and keeps the older file.
TEST(FileHelperFullDisk, StreamedAnswerFailsAndKeepsTheOlderFile)
{
	FScopedTmpfs Fs(64);
	SKIP_UNLESS_MOUNTED(Fs);
	const QString Target = Fs.FilePath(QStringLiteral("download.bin"));
	ASSERT_TRUE(FFileHelper::SaveArrayToFile("older", Target));
	ASSERT_TRUE(Fs.Fill());

	FLoopbackHttpServer Server;
	FHttpModule Http;
	QObject Context;
	Server.Enqueue(200, QByteArray(32 * 1024, 'd'));
	FHttpRequestPtr Request = Http.CreateRequest();
	Request->SetURL(Server.Url(QStringLiteral("/file")));
	Request->SetResponseFile(Target);
	bool bCalled = false;
	bool bSucceeded = true;
	Request->OnProcessRequestComplete(&Context,
	                                  [&](FHttpRequestPtr, FHttpResponsePtr Response, bool bSuccess)
	                                  {
		                                  bCalled = true;
		                                  bSucceeded = bSuccess && Response;
	                                  });
	FLogCapture Capture;
	Request->ProcessRequest();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return bCalled; }, 10000));
	EXPECT_FALSE(bSucceeded);
	EXPECT_EQ(ReadAll(Target), QByteArray("older"));
	EXPECT_EQ(Entries(Fs.Path()), (QStringList{QStringLiteral("download.bin"), QStringLiteral("filler")}));
	bool bLogged = false;
	for (const QString& Line : Capture.Messages())
	{
		bLogged = bLogged || (Line.contains(Target) && Line.contains(NoSpace()));
	}
	EXPECT_TRUE(bLogged);
}

// Every step that can fail, failed on purpose: the previous file stays, no temporary is left, and
// the caller hears the system's reason.
TEST(FileHelperFaults, AnyFailingStepKeepsThePreviousFile)
{
	QTemporaryDir Dir;
	const QString Target = Dir.filePath(QStringLiteral("Entry_PakVersion.json"));
	const QByteArray Old = "{\"VersionId\":\"1\"}";
	const QList<QPair<EFileWriteStep, int>> Cases = {{EFileWriteStep::Create, EACCES},
	                                                 {EFileWriteStep::Write, ENOSPC},
	                                                 {EFileWriteStep::Sync, EIO},
	                                                 {EFileWriteStep::Close, EDQUOT},
	                                                 {EFileWriteStep::Rename, EXDEV}};
	for (const auto& [Step, Errno] : Cases)
	{
		SCOPED_TRACE(testing::Message() << "step " << int(Step));
		ASSERT_TRUE(FFileHelper::SaveArrayToFile(Old, Target));
		QString Error;
		{
			FScopedFileWriteFault Fault([Step = Step, Errno = Errno, Target](EFileWriteStep At, const QString& Path)
			                            { return At == Step && Path == Target ? Errno : 0; });
			EXPECT_FALSE(FFileHelper::SaveStringToFile(QStringLiteral("{\"VersionId\":\"2\"}"), Target, &Error));
		}
		EXPECT_EQ(Error, QString::fromLocal8Bit(std::strerror(Errno)));
		EXPECT_EQ(ReadAll(Target), Old);
		EXPECT_EQ(Entries(Dir.path()), QStringList{QStringLiteral("Entry_PakVersion.json")});
	}

	// A folder that cannot be synced: the new file is in place but not known to be durable, so the
	// write is still reported as failed.
	QString Error;
	{
		FScopedFileWriteFault Fault([](EFileWriteStep At, const QString&)
		                            { return At == EFileWriteStep::SyncFolder ? EIO : 0; });
		EXPECT_FALSE(FFileHelper::SaveArrayToFile("{}", Target, &Error));
	}
	EXPECT_TRUE(Error.endsWith(QString::fromLocal8Bit(std::strerror(EIO)))) << qPrintable(Error);
	EXPECT_EQ(Entries(Dir.path()), QStringList{QStringLiteral("Entry_PakVersion.json")});
}

// The same through the package and config writers that used QSaveFile, and the batch writes of
// asset moves.
TEST(FileHelperFaults, ConfigFlushReportsAnInjectedFailure)
{
	QTemporaryDir Dir;
	const QString Ini = Dir.filePath(QStringLiteral("OrvaSDK.ini"));
	FConfigCache Config;
	Config.SetString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("old"), Ini);
	ASSERT_TRUE(Config.Flush(false, Ini));
	const QByteArray Before = ReadAll(Ini);
	Config.SetString(QStringLiteral("S"), QStringLiteral("K"), QStringLiteral("new"), Ini);
	FLogCapture Capture;
	{
		FScopedFileWriteFault Fault([](EFileWriteStep At, const QString&)
		                            { return At == EFileWriteStep::Close ? EIO : 0; });
		EXPECT_FALSE(Config.Flush(false, Ini));
	}
	EXPECT_EQ(Capture.Messages(ELogVerbosity::Error).size(), 1);
	EXPECT_EQ(ReadAll(Ini), Before);
	// Still pending, so the next flush writes it.
	ASSERT_TRUE(Config.Flush(false, Ini));
	EXPECT_EQ(ReadAll(Ini), QByteArray("[S]\nK=new\n"));
}

TEST(FileHelperFaults, StreamedWriterShowsNothingUntilCommitted)
{
	QTemporaryDir Dir;
	const QString Target = Dir.filePath(QStringLiteral("answer.bin"));
	ASSERT_TRUE(FFileHelper::SaveArrayToFile("older", Target));
	{
		FDurableFileWriter Writer(Target);
		ASSERT_TRUE(Writer.Open());
		ASSERT_TRUE(Writer.Write(QByteArray("new ")));
		EXPECT_EQ(ReadAll(Target), QByteArray("older"));
		// Dropped without a commit.
	}
	EXPECT_EQ(ReadAll(Target), QByteArray("older"));
	EXPECT_EQ(Entries(Dir.path()), QStringList{QStringLiteral("answer.bin")});

	FDurableFileWriter Writer(Target);
	ASSERT_TRUE(Writer.Open());
	{
		FScopedFileWriteFault Fault([](EFileWriteStep At, const QString&)
		                            { return At == EFileWriteStep::Write ? ENOSPC : 0; });
		EXPECT_FALSE(Writer.Write(QByteArray("part")));
	}
	// Once failed, it stays failed: the rest of the answer cannot make a whole file.
	EXPECT_FALSE(Writer.Write(QByteArray("rest")));
	EXPECT_FALSE(Writer.Commit());
	EXPECT_EQ(ReadAll(Target), QByteArray("older"));
	EXPECT_EQ(Entries(Dir.path()), QStringList{QStringLiteral("answer.bin")});
}

TEST(FileHelper, TextIsUtf8WithoutByteOrderMarkAndPermissionsAreKeptOrNarrowed)
{
	QTemporaryDir Dir;
	const QString Target = Dir.filePath(QStringLiteral("Sub/Folder/Settings.json"));
	ASSERT_TRUE(FFileHelper::SaveStringToFile(QStringLiteral("Grüße ☂"), Target));
	EXPECT_EQ(ReadAll(Target), QStringLiteral("Grüße ☂").toUtf8());

	ASSERT_EQ(::chmod(QFile::encodeName(Target).constData(), 0640), 0);
	ASSERT_TRUE(FFileHelper::SaveStringToFile(QStringLiteral("b"), Target));
	EXPECT_EQ(ModeOf(Target), 0640u);
	ASSERT_TRUE(FFileHelper::SaveStringToFile(QStringLiteral("c"), Target, nullptr, EFileWrite::OwnerOnly));
	EXPECT_EQ(ModeOf(Target), 0600u);
	EXPECT_EQ(ReadAll(Target), QByteArray("c"));
}
