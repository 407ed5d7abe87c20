// The pre-flight report as a pipeline reads it: OrvaEditorCmd runs a script over a project and
// prints the report as one JSON line.

#include "GameThread.h"
#include "LoopbackHttpServer.h"
#include "TestProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{
bool WriteFile(const QString& Path, const QByteArray& Content)
{
	QDir().mkpath(QFileInfo(Path).absolutePath());
	QFile File(Path);
	return File.open(QIODevice::WriteOnly) && File.write(Content) == Content.size();
}

QByteArray Package(const QString& Name, const QString& Class, const QStringList& Hard)
{
	return QJsonDocument(
	           QJsonObject{{QStringLiteral("OrvaPackage"), 1},
	                       {QStringLiteral("Assets"),
	                        QJsonArray{QJsonObject{{QStringLiteral("Name"), Name}, {QStringLiteral("Class"), Class}}}},
	                       {QStringLiteral("HardDependencies"), QJsonArray::fromStringList(Hard)},
	                       {QStringLiteral("SoftDependencies"), QJsonArray()}})
	    .toJson();
}
} // namespace

TEST(PreflightScriptTest, TheReportPrintsAsJsonWithItsFindings)
{
	QTemporaryDir Root;
	ASSERT_TRUE(Root.isValid());
	const QString Dir = Root.path();
	FLoopbackHttpServer Server;
	Server.SetHandler(
	    [](const FLoopbackHttpServer::FRecordedRequest& Request)
	    {
		    if (Request.Target.endsWith("/me/worlds"))
		    {
			    return FLoopbackHttpServer::FAnswer{
			        200,
			        R"([{"identifier":"W1","id":"id-1","name":"Harbour","description":"Docks.","private":false}])"};
		    }
		    return FLoopbackHttpServer::FAnswer{200, R"({"screen_shots":[]})"};
	    });
	ASSERT_TRUE(WriteFile(Dir + QStringLiteral("/config/BrackenfoldStudios/ORVA/OrvaSDK.ini"),
	                      "[Development]\nServiceBaseUrl=" + Server.Url(QStringLiteral("/api/v1/")).toUtf8() +
	                          "\n[AwsS3]\nMaxUploadBytes=100\n"));
	ASSERT_TRUE(WriteFile(Dir + QStringLiteral("/Project/Project.uproject"), "{\"FileVersion\":3}\n"));
	ASSERT_TRUE(WriteFile(Dir + QStringLiteral("/Project/Content/W1/Maps/Entry.umap"),
	                      Package(QStringLiteral("Entry"), QStringLiteral("/Script/Engine.World"),
	                              {QStringLiteral("/Game/W1/Props/Gone")})));
	ASSERT_TRUE(QDir().mkpath(Dir + QStringLiteral("/Project/Content/W1/Config")));
	ASSERT_TRUE(WriteFile(Dir + QStringLiteral("/Check.orva"),
	                      "call UOrvaSDKSubsystem.GetWorldsList\n"
	                      "settle\n"
	                      "call UOrvaSDKSubsystem.ChangeWorkspaceWorld @UOrvaDataCacheSubsystem.GetWorldList[1]\n"
	                      "settle\n"
	                      "set UOrvaSDKSubsystem.CurrWorkspace.ObjectPath \"/Game/W1/Maps/Entry.Entry\"\n"
	                      "call UOrvaSDKSubsystem.GetPreflightReport\n"));

	// The loopback server answers on this thread, so the run is waited for by turning the event loop.
	FTestProcess Process;
	ASSERT_EQ(
	    Process.Start(
	        ProgramLine(QStringLiteral(ORVA_EDITOR_CMD),
	                    {Dir + QStringLiteral("/Project/Project.uproject"), QStringLiteral("-run=OrvaSDK"),
	                     QStringLiteral("-script=") + Dir + QStringLiteral("/Check.orva")}),
	        QString(Dir + QStringLiteral("/stdout")).toStdString(),
	        QString(Dir + QStringLiteral("/stderr")).toStdString(),
	        {"XDG_CONFIG_HOME=" + QString(Dir + QStringLiteral("/config")).toStdString(), "QT_QPA_PLATFORM=offscreen"}),
	    "");
	if (!FGameThread::RunUntil([&] { return Process.HasEnded(); }, 120000))
	{
		FAIL() << "OrvaEditorCmd did not end";
	}
	const QString Errors = QString::fromStdString(Process.ErrorText());
	ASSERT_EQ(Process.ExitCode(), 0) << qPrintable(Errors.right(2000));

	const QStringList Lines = QString::fromStdString(Process.OutputText()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
	ASSERT_FALSE(Lines.isEmpty());
	const QJsonObject Line = QJsonDocument::fromJson(Lines.last().toUtf8()).object();
	EXPECT_EQ(Line.value(QStringLiteral("call")).toString(), QStringLiteral("UOrvaSDKSubsystem.GetPreflightReport"));
	const QJsonObject Report = Line.value(QStringLiteral("result")).toObject();
	// The fields in their order, as every record prints.
	EXPECT_EQ(Report.keys().size(), 7) << qPrintable(Lines.last());
	EXPECT_EQ(Report.value(QStringLiteral("PackageCount")).toInt(), 1);
	EXPECT_EQ(Report.value(QStringLiteral("TotalBytes")).toInteger(),
	          QFileInfo(Dir + QStringLiteral("/Project/Content/W1/Maps/Entry.umap")).size());
	EXPECT_GT(Report.value(QStringLiteral("EstimatedPakBytes")).toInteger(), 100);
	EXPECT_EQ(Report.value(QStringLiteral("UploadLimitBytes")).toInteger(), 100);

	QStringList Errored;
	QStringList Warned;
	for (const QJsonValue Value : Report.value(QStringLiteral("Findings")).toArray())
	{
		const QJsonObject Finding = Value.toObject();
		EXPECT_EQ(Finding.keys(), (QStringList{QStringLiteral("Hint"), QStringLiteral("Level"),
		                                       QStringLiteral("Message"), QStringLiteral("Subject")}));
		const QString Level = Finding.value(QStringLiteral("Level")).toString();
		EXPECT_TRUE(Level == QStringLiteral("Error") || Level == QStringLiteral("Warning") ||
		            Level == QStringLiteral("Note"))
		    << qPrintable(Level);
		const QString Subject = Finding.value(QStringLiteral("Subject")).toString();
		if (Level == QStringLiteral("Error"))
		{
			Errored.append(Subject);
		}
		else if (Level == QStringLiteral("Warning"))
		{
			Warned.append(Subject);
		}
	}
	// The missing package and both paks over the limit of 100 bytes; the world has no title image.
	EXPECT_EQ(Errored, (QStringList{QStringLiteral("/Game/W1/Props/Gone"), QStringLiteral("WindowsServer"),
	                                QStringLiteral("WindowsClient")}))
	    << qPrintable(Lines.last());
	EXPECT_TRUE(Warned.contains(QStringLiteral("W1"))) << qPrintable(Lines.last());
}
