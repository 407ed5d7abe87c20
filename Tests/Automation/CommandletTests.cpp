// The OrvaEditorCmd program itself: its exit status and output, and the demo script against a real
// OrvaDevService.

#include "LocalS3Server.h"
#include "ServiceProcess.h"
#include "TestPrinters.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace
{
struct FRunResult
{
	int ExitCode = -1;
	QStringList StdoutLines;
	QStringList StderrLines;
};

bool CopyTree(const QString& From, const QString& To)
{
	QDirIterator It(From, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
	if (!QDir().mkpath(To))
	{
		return false;
	}
	while (It.hasNext())
	{
		const QString Path = It.next();
		const QString Target = To + QLatin1Char('/') + QDir(From).relativeFilePath(Path);
		const bool bOk = It.fileInfo().isDir() ? QDir().mkpath(Target) : QFile::copy(Path, Target);
		if (!bOk)
		{
			return false;
		}
	}
	return true;
}

QStringList Lines(const QByteArray& Bytes)
{
	return QString::fromUtf8(Bytes).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// A folder for one run: a user settings folder, and whatever the test puts beside it.
class FCommandletRun
{
public:
	QTemporaryDir Root;

	QString Path(const QString& Relative) const { return Root.path() + QLatin1Char('/') + Relative; }

	void WriteSettings(const QString& ServiceBaseUrl) const
	{
		QDir().mkpath(Path(QStringLiteral("config/BrackenfoldStudios/ORVA")));
		QFile File(Path(QStringLiteral("config/BrackenfoldStudios/ORVA/OrvaSDK.ini")));
		ASSERT_TRUE(File.open(QIODevice::WriteOnly));
		if (!ServiceBaseUrl.isEmpty())
		{
			File.write("[Development]\nServiceBaseUrl=" + ServiceBaseUrl.toUtf8() + "\n");
		}
	}

	void WriteFile(const QString& Relative, const QByteArray& Content) const
	{
		QDir().mkpath(QFileInfo(Path(Relative)).absolutePath());
		QFile File(Path(Relative));
		ASSERT_TRUE(File.open(QIODevice::WriteOnly));
		File.write(Content);
	}

	FRunResult Run(const QStringList& Arguments, int TimeoutMs = 120000) const
	{
		const FProgramRun Ran = RunProgram(
		    ProgramLine(QStringLiteral(ORVA_EDITOR_CMD), Arguments), std::chrono::milliseconds(TimeoutMs),
		    {"XDG_CONFIG_HOME=" + Path(QStringLiteral("config")).toStdString(), "QT_QPA_PLATFORM=offscreen"});
		FRunResult Result;
		if (!Ran.bEnded)
		{
			return Result;
		}
		Result.ExitCode = Ran.ExitCode;
		Result.StdoutLines = Lines(QByteArray::fromStdString(Ran.Output));
		Result.StderrLines = Lines(QByteArray::fromStdString(Ran.Error));
		return Result;
	}
};

#ifdef ORVA_DEV_SERVICE
// OrvaDevService on a free loopback port over a temporary data folder, with the demo creator; it
// is stopped when the object goes.
class FDevService
{
public:
	explicit FDevService(const QString& DataDir, const std::vector<std::string>& Extra = {})
	    : Process(ORVA_DEV_SERVICE, DataDir.toStdString(), WithDemoCreator(Extra))
	{
		Problem = Process.Start();
		if (Problem.empty())
		{
			BaseUrl = QString::fromStdString(Process.BaseUrl());
		}
	}

	static std::vector<std::string> WithDemoCreator(std::vector<std::string> Extra)
	{
		Extra.insert(Extra.begin(), {"--host", "127.0.0.1", "--creator", "demo@orva.dev:orva-demo:Demo Creator"});
		return Extra;
	}

	FDevServiceProcess Process;
	std::string Problem;
	QString BaseUrl;
};
#endif
} // namespace

TEST(CommandletTest, FailureIsTheLastLineOnStderrAndStdoutHoldsOnlyResults)
{
	FCommandletRun Run;
	ASSERT_TRUE(Run.Root.isValid());
	Run.WriteSettings(QString());
	Run.WriteFile(QStringLiteral("Project/Project.uproject"), "{\"FileVersion\":3}\n");
	Run.WriteFile(QStringLiteral("Fail.orva"), "get UOrvaSDKSubsystem.bIsLoggedin\n"
	                                           "# nobody logs in\n"
	                                           "wait UOrvaSDKSubsystem.OnOrvaSDKLogin 0.2\n"
	                                           "get UOrvaSDKSubsystem.bIsLoggedin\n");

	const FRunResult Result =
	    Run.Run({Run.Path(QStringLiteral("Project/Project.uproject")), QStringLiteral("-run=OrvaSDK"),
	             QStringLiteral("-script=") + Run.Path(QStringLiteral("Fail.orva"))});

	EXPECT_EQ(Result.ExitCode, 1);
	EXPECT_EQ(Result.StdoutLines,
	          QStringList{QStringLiteral(R"({"get":"UOrvaSDKSubsystem.bIsLoggedin","value":false})")});
	ASSERT_FALSE(Result.StderrLines.isEmpty());
	EXPECT_EQ(Result.StderrLines.last(),
	          QStringLiteral("Fail.orva:3: wait UOrvaSDKSubsystem.OnOrvaSDKLogin: timed out after 0.2 s"));
	// The log file of the project has the failure too.
	QFile Log(Run.Path(QStringLiteral("Project/Saved/Logs/Project.log")));
	ASSERT_TRUE(Log.open(QIODevice::ReadOnly));
	EXPECT_TRUE(Log.readAll().contains("Fail.orva:3: wait UOrvaSDKSubsystem.OnOrvaSDKLogin: timed out after 0.2 s"));
}

TEST(CommandletTest, UsageErrorsExitWithTwo)
{
	FCommandletRun Run;
	ASSERT_TRUE(Run.Root.isValid());
	Run.WriteSettings(QString());
	Run.WriteFile(QStringLiteral("Project/Project.uproject"), "{\"FileVersion\":3}\n");
	const QString Project = Run.Path(QStringLiteral("Project/Project.uproject"));

	const QList<QPair<QStringList, QString>> Cases = {
	    {{Project, QStringLiteral("-run=OrvaSDK")}, QStringLiteral("-run=OrvaSDK needs -script=FILE")},
	    {{Project, QStringLiteral("-run=OrvaSDK"), QStringLiteral("-script=") + Run.Path(QStringLiteral("none.orva"))},
	     QStringLiteral("No script at ") + Run.Path(QStringLiteral("none.orva"))},
	    {{Project, QStringLiteral("-run=Nothing")}, QStringLiteral("Unknown commandlet Nothing")},
	};
	for (const auto& [Arguments, Message] : Cases)
	{
		const FRunResult Result = Run.Run(Arguments);
		EXPECT_EQ(Result.ExitCode, 2) << qPrintable(Arguments.join(QLatin1Char(' ')));
		EXPECT_EQ(Result.StderrLines.value(Result.StderrLines.size() - 1), Message);
		EXPECT_TRUE(Result.StdoutLines.isEmpty());
	}
}

TEST(CommandletTest, PublishDemoRunsAgainstOrvaDevService)
{
#ifndef ORVA_DEV_SERVICE
	GTEST_SKIP() << "OrvaDevService is not part of this build";
#else
	if (!FLocalS3Server::IsAvailable())
	{
		GTEST_SKIP() << "moto_server is not installed";
	}
	FCommandletRun Run;
	ASSERT_TRUE(Run.Root.isValid());
	// The whole chain: the store checks what the service's temporary credentials allow.
	FLocalS3Server Store;
	ASSERT_EQ(Store.Start(), "");
	const std::string Bucket = "orva-components";
	FDevService Service(Run.Path(QStringLiteral("service")), Store.ServiceStsOptions(Bucket));
	ASSERT_FALSE(Service.BaseUrl.isEmpty()) << "OrvaDevService did not start: " << Service.Problem;
	Run.WriteSettings(Service.BaseUrl);
	{
		QFile Settings(Run.Path(QStringLiteral("config/BrackenfoldStudios/ORVA/OrvaSDK.ini")));
		ASSERT_TRUE(Settings.open(QIODevice::Append));
		Settings.write("[AwsS3]\nEndpoint=" + QByteArray::fromStdString(Store.Endpoint()) + "\nbUsePathStyle=True\n");
	}
	// The player client, where the installer's record says it lies.
	const QString Install = Run.Path(QStringLiteral("Orva"));
	ASSERT_TRUE(QDir().mkpath(Install + QStringLiteral("/ORVAClient/Binaries/Linux")));
	ASSERT_TRUE(QFile::copy(QStringLiteral(ORVA_CLIENT_PATH),
	                        Install + QStringLiteral("/ORVAClient/Binaries/Linux/ORVAClient")));
	Run.WriteFile(
	    QStringLiteral("config/Registry/HKEY_CURRENT_USER.ini"),
	    "[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6A1D3C90-2F7B-4E55-8B14-0C9E7A2D4F61}_is1]\n"
	    "InstallLocation=" +
	        Install.toUtf8() + "\n");
	const QString DemoSource = QStringLiteral(ORVA_SOURCE_DIR "/Examples/DemoProject");
	const QString Demo = Run.Path(QStringLiteral("DemoProject"));
	ASSERT_TRUE(CopyTree(DemoSource, Demo));

	const FRunResult Result = Run.Run({Demo + QStringLiteral("/DemoProject.uproject"), QStringLiteral("-run=OrvaSDK"),
	                                   QStringLiteral("-script=" ORVA_SOURCE_DIR "/Examples/PublishDemo.orva")});
	ASSERT_EQ(Result.ExitCode, 0)
	    << Result.StderrLines.mid(Result.StderrLines.size() - 15).join(QLatin1Char('\n')).toStdString();

	// Every line on stdout is one JSON result; the world the script selected is in the last one.
	QJsonObject Last;
	QJsonObject TitleImage;
	for (const QString& Line : Result.StdoutLines)
	{
		QJsonParseError Problem;
		const QJsonDocument Document = QJsonDocument::fromJson(Line.toUtf8(), &Problem);
		ASSERT_TRUE(Document.isObject()) << qPrintable(Line);
		Last = Document.object();
		if (Last.contains(QStringLiteral("image")))
		{
			TitleImage = Last;
		}
	}
	// The shipped screenshot became the title image, downloaded back from the service and decoded
	// to the picture's size.
	EXPECT_TRUE(TitleImage.value(QStringLiteral("image")).toString().startsWith(Service.BaseUrl))
	    << qPrintable(QString::fromUtf8(QJsonDocument(TitleImage).toJson(QJsonDocument::Compact)));
	EXPECT_EQ(TitleImage.value(QStringLiteral("value")).toObject(),
	          (QJsonObject{{QStringLiteral("SizeX"), 320},
	                       {QStringLiteral("SizeY"), 180},
	                       {QStringLiteral("bHasPixels"), true}}));
	EXPECT_EQ(Last.value(QStringLiteral("get")).toString(), QStringLiteral("UOrvaSDKSubsystem.CurrWorkspace"));
	const QJsonObject Workspace = Last.value(QStringLiteral("value")).toObject();
	EXPECT_EQ(Workspace.value(QStringLiteral("TitleName")).toString(), QStringLiteral("Harbour"));
	const QString Identifier = Workspace.value(QStringLiteral("WorldIdentifier")).toString();
	ASSERT_FALSE(Identifier.isEmpty());

	// The workspace folders were made in the copy, with the world recorded in WorldInfo.ini ...
	for (const QString& Folder : {QStringLiteral("Content/%1"), QStringLiteral("Content/%1/ExtendFiles"),
	                              QStringLiteral("Content/%1/Config"), QStringLiteral("Saved/OrvaSDK/%1")})
	{
		EXPECT_TRUE(QFileInfo(Demo + QLatin1Char('/') + Folder.arg(Identifier)).isDir())
		    << qPrintable(Folder.arg(Identifier));
	}
	QFile WorldInfo(Demo + QStringLiteral("/Content/%1/Config/WorldInfo.ini").arg(Identifier));
	ASSERT_TRUE(WorldInfo.open(QIODevice::ReadOnly));
	const QByteArray Info = WorldInfo.readAll();
	const QString InfoText = QString::fromUtf8(Info);
	EXPECT_TRUE(InfoText.contains(QStringLiteral("Identifier=") + Identifier)) << Info.toStdString();
	EXPECT_TRUE(InfoText.contains(QStringLiteral("WorldId=") + Workspace.value(QStringLiteral("WorldId")).toString()));
	// The entry level and what it needs moved into the workspace, and the stored entry level
	// followed it.
	EXPECT_EQ(Workspace.value(QStringLiteral("ObjectPath")).toString(),
	          QStringLiteral("/Game/%1/Maps/Entry.Entry").arg(Identifier));
	EXPECT_TRUE(InfoText.contains(QStringLiteral("Path=/Game/%1/Maps/Entry.Entry").arg(Identifier)))
	    << Info.toStdString();
	for (const QString& Moved :
	     {QStringLiteral("Content/%1/Maps/Entry.umap"), QStringLiteral("Content/%1/SharedPalette.uasset"),
	      QStringLiteral("Content/%1/Props/Crate.uasset")})
	{
		EXPECT_TRUE(QFileInfo::exists(Demo + QLatin1Char('/') + Moved.arg(Identifier)))
		    << qPrintable(Moved.arg(Identifier));
	}
	EXPECT_FALSE(QFileInfo::exists(Demo + QStringLiteral("/Content/Maps/Entry.umap"))) << "no redirector is left";
	// ... and not in the repository's demo project.
	EXPECT_FALSE(QFileInfo::exists(DemoSource + QStringLiteral("/Content/") + Identifier));

	// Both paks were built, registered and renamed to their component ids, and read back intact.
	for (const QString& Platform : {QStringLiteral("WindowsServer"), QStringLiteral("WindowsClient")})
	{
		const QString Folder = Demo + QStringLiteral("/Saved/HotPatcher/%1/Entry/").arg(Identifier) + Platform;
		QFile Component(Folder + QStringLiteral("/Component.json"));
		ASSERT_TRUE(Component.open(QIODevice::ReadOnly)) << qPrintable(Folder);
		const QString Id =
		    QJsonDocument::fromJson(Component.readAll()).object().value(QStringLiteral("ComponentId")).toString();
		ASSERT_FALSE(Id.isEmpty());
		EXPECT_EQ(QDir(Folder).entryList({QStringLiteral("*.pak")}), QStringList{Id + QStringLiteral(".pak")});
		const FRunResult Info =
		    Run.Run({QStringLiteral("-run=PakInfo"),
		             QStringLiteral("-pak=") + Folder + QLatin1Char('/') + Id + QStringLiteral(".pak")});
		EXPECT_EQ(Info.ExitCode, 0) << qPrintable(Info.StderrLines.join(QLatin1Char('\n')));
		EXPECT_TRUE(Info.StdoutLines.join(QLatin1Char('\n'))
		                .contains(QStringLiteral(" Content/%1/Maps/Entry.umap").arg(Identifier)));

		// Published: the store holds the pak byte for byte.
		QFile Pak(Folder + QLatin1Char('/') + Id + QStringLiteral(".pak"));
		ASSERT_TRUE(Pak.open(QIODevice::ReadOnly));
		const FLocalS3Server::FResponse Stored =
		    Store.GetObject(Bucket, "worlds/" + Workspace.value(QStringLiteral("WorldId")).toString().toStdString() +
		                                "/" + Id.toStdString() + ".pak");
		ASSERT_EQ(Stored.Status, 200) << qPrintable(Platform);
		EXPECT_TRUE(Stored.Body == Pak.readAll().toStdString()) << qPrintable(Platform);
	}

	// Launched: the client played the client pak (it runs on its own; its log ends with its exit).
	QFile ClientLog(Install + QStringLiteral("/ORVAClient/Saved/Logs/ORVAClient.log"));
	for (int Try = 0; Try < 300 && !(ClientLog.open(QIODevice::ReadOnly) &&
	                                 QString::fromUtf8(ClientLog.readAll()).contains(QStringLiteral("exits with")));
	     ++Try)
	{
		ClientLog.close();
		QThread::msleep(100);
	}
	ClientLog.close();
	ASSERT_TRUE(ClientLog.open(QIODevice::ReadOnly));
	const QString Verdict = QString::fromUtf8(ClientLog.readAll());
	EXPECT_TRUE(Verdict.contains(QStringLiteral("can be played: level /Game/%1/Maps/Entry").arg(Identifier)))
	    << Verdict.toStdString();
	EXPECT_TRUE(Verdict.contains(QStringLiteral("ORVAClient exits with 0")));
#endif
}
