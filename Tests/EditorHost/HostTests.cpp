#include "EditorHost.h"
#include "EditorSubsystem.h"
#include "GameThread.h"
#include "Http.h"
#include "Log.h"
#include "LoopbackHttpServer.h"
#include "TestProject.h"

#include <QFile>

#include <gtest/gtest.h>

namespace
{
QStringList Journal;

class UFirstSubsystem : public UEditorSubsystem
{
	Q_OBJECT
public:
	void Initialize(FSubsystemCollection& Collection) override
	{
		// Every subsystem already exists when the first one initialises.
		Journal.append(Collection.GetHost().FindSubsystem(QStringLiteral("USecondSubsystem"))
		                   ? QStringLiteral("init1+")
		                   : QStringLiteral("init1-"));
	}
	void Deinitialize() override { Journal.append(QStringLiteral("deinit1")); }
};

class USecondSubsystem : public UEditorSubsystem
{
	Q_OBJECT
public:
	void Initialize(FSubsystemCollection&) override { Journal.append(QStringLiteral("init2")); }
	void Deinitialize() override
	{
		Journal.append(QStringLiteral("deinit2"));
		// A request sent during shutdown still leaves.
		if (!ShutdownUrl.isEmpty())
		{
			FHttpRequestPtr Request = GetHost()->Http().CreateRequest();
			Request->SetVerb(QStringLiteral("PATCH"));
			Request->SetURL(ShutdownUrl);
			Request->SetContentAsString(QStringLiteral("{\"bye\":true}"));
			Request->ProcessRequest();
		}
	}
	QString ShutdownUrl;
};

FEditorHostOptions OptionsFor(const FTestProject& Project)
{
	FEditorHostOptions Options;
	Options.ProjectFile = Project.ProjectFile();
	Options.UserSettingsDir = Project.UserSettingsDir();
	Options.ShutdownFlushMs = 3000;
	return Options;
}
} // namespace

TEST(EditorHost, CreatesInOrderAndShutsDownInReverse)
{
	Journal.clear();
	FTestProject Project;
	FEditorHost Host(OptionsFor(Project));
	Host.RegisterSubsystem<UFirstSubsystem>();
	Host.RegisterSubsystem<USecondSubsystem>();
	EXPECT_EQ(Host.GetEditorSubsystem<UFirstSubsystem>(), nullptr) << "nothing before start";
	Host.Start();
	EXPECT_EQ(Journal, (QStringList{QStringLiteral("init1+"), QStringLiteral("init2")}));
	EXPECT_NE(Host.GetEditorSubsystem<USecondSubsystem>(), nullptr);
	EXPECT_EQ(Host.GetEditorSubsystem<USecondSubsystem>()->GetHost(), &Host);
	Host.Shutdown();
	Host.Shutdown();
	EXPECT_EQ(Journal, (QStringList{QStringLiteral("init1+"), QStringLiteral("init2"), QStringLiteral("deinit2"),
	                                QStringLiteral("deinit1")}));
}

TEST(EditorHost, AbsentSubsystemIsNull)
{
	FTestProject Project;
	FEditorHost Host(OptionsFor(Project));
	Host.RegisterSubsystem<UFirstSubsystem>();
	Host.Start();
	EXPECT_EQ(Host.GetEditorSubsystem<USecondSubsystem>(), nullptr);
	EXPECT_EQ(Host.FindSubsystem(QStringLiteral("USecondSubsystem")), nullptr);
}

TEST(EditorHost, PathsComeFromTheProjectAndUserFolders)
{
	FTestProject Project;
	FEditorHost Host(OptionsFor(Project));
	EXPECT_EQ(Host.Paths().ProjectDir(), Project.ProjectDir());
	EXPECT_EQ(Host.Paths().ProjectContentDir(), Project.ContentDir());
	EXPECT_EQ(Host.Paths().ProjectSavedDir(), Project.SavedDir());
	EXPECT_EQ(Host.Paths().UserSettingsDir(), Project.UserSettingsDir());
	EXPECT_EQ(Host.Paths().ProjectName(), QStringLiteral("TestProject"));
}

TEST(EditorHost, RequestSentDuringShutdownLeaves)
{
	FTestProject Project;
	FLoopbackHttpServer Server;
	FLoopbackHttpServer::FAnswer Slow{200, "{}"};
	Slow.DelayMs = 300;
	Server.Enqueue(Slow);
	FEditorHost Host(OptionsFor(Project));
	Host.RegisterSubsystem<USecondSubsystem>();
	Host.Start();
	Host.GetEditorSubsystem<USecondSubsystem>()->ShutdownUrl = Server.Url(QStringLiteral("/api/v1/worlds/w"));
	Host.Shutdown();
	ASSERT_EQ(Server.RequestCount(), 1);
	EXPECT_EQ(Server.Requests()[0].Body, "{\"bye\":true}");
	EXPECT_EQ(Host.Http().GetPendingCount(), 0);
}

TEST(EditorHost, LogsToTheProjectLogFile)
{
	FTestProject Project;
	{
		FEditorHost Host(OptionsFor(Project));
		Host.Start();
		UE_LOG(LogTemp, Warning, QStringLiteral("hello from the host"));
	}
	UE_LOG(LogTemp, Warning, QStringLiteral("after the host"));
	QFile Log(Project.SavedDir() + QStringLiteral("Logs/TestProject.log"));
	ASSERT_TRUE(Log.open(QIODevice::ReadOnly));
	const QByteArray Text = Log.readAll();
	EXPECT_TRUE(Text.contains("LogTemp: Warning: hello from the host"));
	EXPECT_FALSE(Text.contains("after the host"));
}

TEST(GameThread, PostedWorkRunsLaterAndIsDroppedWithItsContext)
{
	int Runs = 0;
	QObject Alive;
	FGameThread::Post(&Alive, [&] { ++Runs; });
	EXPECT_EQ(Runs, 0);
	{
		QObject Gone;
		FGameThread::Post(&Gone, [&] { Runs += 100; });
	}
	FGameThread::RunUntilIdle();
	EXPECT_EQ(Runs, 1);
	EXPECT_TRUE(FGameThread::IsInGameThread());
	bool bFired = false;
	FGameThread::PostDelayed(&Alive, 50, [&] { bFired = true; });
	EXPECT_TRUE(FGameThread::RunUntil([&] { return bFired; }, 2000));
	EXPECT_FALSE(FGameThread::RunUntil([] { return false; }, 50));
}

#include "HostTests.moc"
