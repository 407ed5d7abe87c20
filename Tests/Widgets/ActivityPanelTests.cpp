// The activity list through a real publish: the development service, the local object store behind
// a proxy that breaks the puts it is told to, the real pak build.

#include "EditorFixture.h"

#include "DevServiceProcess.h"
#include "FaultProxy.h"
#include "LocalS3Server.h"
#include "OrvaActivityModel.h"
#include "OrvaDataCacheSubsystem.h"
#include "SOrvaActivityPanel.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QToolButton>
#include <QtTest/QTest>

#include <mutex>

namespace
{
QString ReadText(const QString& Path)
{
	QFile File(Path);
	return File.open(QIODevice::ReadOnly) ? QString::fromUtf8(File.readAll()) : QString();
}

QString JsonString(const QString& Path, const QString& Key)
{
	return QJsonDocument::fromJson(ReadText(Path).toUtf8()).object().value(Key).toString();
}
} // namespace

class ActivityPanel : public FEditorFixture
{
protected:
	static inline const std::string Bucket = "orva-activity";
	FLocalS3Server Store;
	FTestService Service;
	std::string Token;

	// What the proxy does to the puts of each component: keyed by a piece of the object key.
	std::mutex FaultLock;
	std::map<std::string, FFaultProxy::EFault> PutFaults;

	void SetUp() override
	{
		if (!FLocalS3Server::IsAvailable())
		{
			GTEST_SKIP() << "moto_server is not installed";
		}
		ASSERT_EQ(Store.Start(), "");
		const std::string Problem = Service.Start(Store.ServiceStsOptions(Bucket));
		ASSERT_TRUE(Problem.empty()) << Problem;
		Token = Service.LoginAlice();
		ASSERT_FALSE(Token.empty());
	}

	FFaultProxy::EFault FaultFor(const FFaultProxy::FSeen& Seen)
	{
		const std::lock_guard Guard(FaultLock);
		if (Seen.Method != "PUT")
		{
			return FFaultProxy::EFault::None;
		}
		for (const auto& [Piece, Fault] : PutFaults)
		{
			if (Seen.Target.find(Piece) != std::string::npos)
			{
				return Fault;
			}
		}
		return FFaultProxy::EFault::None;
	}

	void SetPutFault(const QString& ComponentId, FFaultProxy::EFault Fault)
	{
		const std::lock_guard Guard(FaultLock);
		PutFaults[ComponentId.toStdString()] = Fault;
	}

	static int PutsOf(const FFaultProxy& Proxy, const QString& ComponentId)
	{
		int Count = 0;
		for (const FFaultProxy::FSeen& Seen : Proxy.Requests())
		{
			Count += Seen.Method == "PUT" && Seen.Target.find(ComponentId.toStdString()) != std::string::npos ? 1 : 0;
		}
		return Count;
	}

	FPolicyDialogService& Dialogs() const { return static_cast<FPolicyDialogService&>(Editor->Host().Dialogs()); }
	UOrvaActivityModel& Activity() const { return *Sdk()->GetActivity(); }

	// The newest row of a step whose title names Subject.
	std::optional<FOrvaActivityRow> Newest(EOrvaActivityStep Step, const QString& Subject = QString()) const
	{
		std::optional<FOrvaActivityRow> Found;
		for (const FOrvaActivityRow& Row : Activity().GetRows())
		{
			if (Row.Step == Step && Row.What.contains(Subject) && (!Found || Row.Id > Found->Id))
			{
				Found = Row;
			}
		}
		return Found;
	}

	bool Ended(EOrvaActivityStep Step, const QString& Subject = QString()) const
	{
		const auto Row = Newest(Step, Subject);
		return Row && Row->State >= EEditorJobState::Succeeded;
	}

	SOrvaActivityPanel* OpenActivityTab()
	{
		QAction* Entry = Window().FindWindowMenuAction(FOrvaSDKModule::ActivityTabName());
		if (!Entry)
		{
			return nullptr;
		}
		Entry->trigger();
		FGameThread::RunUntilIdle(50);
		SDockTab* Tab = Services().TabManager().FindExistingLiveTab(FOrvaSDKModule::ActivityTabName());
		return Tab ? Tab->findChild<SOrvaActivityPanel*>() : nullptr;
	}
};

TEST_F(ActivityPanel, APublishShowsItsStepsAFailedUploadIsRetriedACancelledOneTooAndTheOutcomeStays)
{
	ASSERT_TRUE(Project.CopyContent(QStringLiteral(ORVA_SOURCE_DIR "/Examples/DemoProject/Content")));
	FFaultProxy Proxy(Store.Port(), [this](const FFaultProxy::FSeen& Seen) { return FaultFor(Seen); });
	Proxy.StallSeconds = 60.0;
	WriteSettings(
	    QStringLiteral("[AwsS3]\nEndpoint=http://127.0.0.1:%1\nbUsePathStyle=True\n").arg(Proxy.Port()).toUtf8(),
	    QStringLiteral("http://127.0.0.1:%1/api/v1/").arg(Service.Process().Port()));
	StartEditor();
	SOrvaActivityPanel* Panel = OpenActivityTab();
	ASSERT_NE(Panel, nullptr);
	EXPECT_TRUE(Panel->GetRowWidgets().isEmpty());

	// Logged in, the world selected, its entry map chosen: the relocation is the first step.
	Sdk()->Login(QString::fromStdString(AliceEmail), QString::fromStdString(AlicePassword));
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Sdk()->IsLoggedin(); }, 15000));
	// A world made here, as the tab's "+" does: its workspace folder lies in this project.
	Sdk()->NewWorld();
	auto* Cache = Editor->Host().GetEditorSubsystem<UOrvaDataCacheSubsystem>();
	FOrvaWorldDataPtr World;
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&]
	    {
		    for (const FOrvaWorldDataPtr& Item : Cache->GetWorldList())
		    {
			    const FWorkspaceDataPtr Workspace = Item ? Cache->GetWorkspace(Item->Identifier) : nullptr;
			    World = Workspace && Workspace->bEditable ? Item : World;
		    }
		    return World != nullptr;
	    },
	    15000));
	Sdk()->ChangeWorkspaceWorld(*World);
	ASSERT_TRUE(Sdk()->CurrWorkspace.bEditable);
	const QString Identifier = Sdk()->CurrWorkspace.WorldIdentifier;
	Dialogs().QueueAnswer(EAppReturnType::Yes);
	Sdk()->SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry")));
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended(EOrvaActivityStep::Relocation); }, 60000))
	    << Log.Messages().join(QLatin1Char('\n')).toStdString();
	{
		const auto Moved = Newest(EOrvaActivityStep::Relocation);
		EXPECT_EQ(Moved->State, EEditorJobState::Succeeded);
		EXPECT_EQ(Moved->World, Identifier);
		EXPECT_GT(Moved->Total, 0);
		EXPECT_EQ(Moved->Done, Moved->Total);
		SOrvaActivityRow* Row = Panel->FindRowWidget(Moved->Id);
		ASSERT_NE(Row, nullptr);
		EXPECT_EQ(Row->GetStateText()->text(), QStringLiteral("Done"));
		EXPECT_FALSE(Row->GetRetryButton()->isVisibleTo(Row));
		EXPECT_FALSE(Row->GetCancelButton()->isVisibleTo(Row));
	}

	// The build and the registration follow, each as a row that ends done.
	Sdk()->BuildPak();
	{
		const auto Building = Newest(EOrvaActivityStep::Build);
		ASSERT_TRUE(Building.has_value());
		EXPECT_EQ(Building->State, EEditorJobState::Running);
		EXPECT_TRUE(Building->bCanCancel);
		// A row added to the shown list shows on the next turn of the loop.
		FGameThread::RunUntilIdle(20);
		EXPECT_TRUE(Panel->FindRowWidget(Building->Id)->GetCancelButton()->isVisibleTo(Panel));
		EXPECT_EQ(Panel->GetRowWidgets().first()->GetId(), Building->Id) << "the newest row comes first";
	}
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended(EOrvaActivityStep::Registration); }, 180000));
	EXPECT_EQ(Newest(EOrvaActivityStep::Build)->State, EEditorJobState::Succeeded);
	EXPECT_EQ(Newest(EOrvaActivityStep::Build)->Done, 100);
	EXPECT_EQ(Newest(EOrvaActivityStep::Registration)->State, EEditorJobState::Succeeded);

	const QString Output = Project.SavedDir() + QStringLiteral("HotPatcher/%1/Entry/").arg(Identifier);
	const QString ServerId =
	    JsonString(Output + QStringLiteral("WindowsServer/Component.json"), QStringLiteral("ComponentId"));
	const QString ClientId =
	    JsonString(Output + QStringLiteral("WindowsClient/Component.json"), QStringLiteral("ComponentId"));
	ASSERT_FALSE(ServerId.isEmpty());
	ASSERT_FALSE(ClientId.isEmpty());

	// Publish with the client pak's put damaged on its way (the store refuses it) and the server
	// pak's put stalled half way.
	SetPutFault(ClientId, FFaultProxy::EFault::FlipByte);
	SetPutFault(ServerId, FFaultProxy::EFault::Stall);
	Sdk()->TaskPublishPaks();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended(EOrvaActivityStep::Upload, ClientId); }, 60000));
	const auto ClientFailed = Newest(EOrvaActivityStep::Upload, ClientId);
	EXPECT_EQ(ClientFailed->State, EEditorJobState::Failed);
	EXPECT_TRUE(ClientFailed->Cause.startsWith(QStringLiteral("The store refused the pak")))
	    << ClientFailed->Cause.toStdString();
	EXPECT_TRUE(ClientFailed->bCanRetry);
	EXPECT_TRUE(ClientFailed->bBytes);
	EXPECT_EQ(ClientFailed->Total,
	          QFileInfo(Output + QStringLiteral("WindowsClient/") + ClientId + QStringLiteral(".pak")).size());
	SOrvaActivityRow* ClientRow = Panel->FindRowWidget(ClientFailed->Id);
	ASSERT_NE(ClientRow, nullptr);
	EXPECT_EQ(ClientRow->GetStateText()->text(), QStringLiteral("Failed"));
	EXPECT_EQ(ClientRow->GetDetailText()->text(), ClientFailed->Cause);
	EXPECT_TRUE(ClientRow->GetRetryButton()->isVisibleTo(Panel));
	EXPECT_TRUE(ClientRow->GetDismissButton()->isVisibleTo(Panel));
	EXPECT_FALSE(ClientRow->GetCancelButton()->isVisibleTo(Panel));
	// Its log lines say what happened to it.
	QTest::mouseClick(ClientRow->GetShowLogButton(), Qt::LeftButton);
	EXPECT_TRUE(ClientRow->GetLogView()->isVisibleTo(Panel));
	EXPECT_TRUE(ClientRow->GetLogView()->toPlainText().contains(QStringLiteral("Upload of %1 failed").arg(ClientId)))
	    << ClientRow->GetLogView()->toPlainText().toStdString();

	// The stalled upload runs until it is cancelled from its row.
	ASSERT_TRUE(FGameThread::RunUntil([&] { return PutsOf(Proxy, ServerId) == 1; }, 30000));
	const auto ServerRunning = Newest(EOrvaActivityStep::Upload, ServerId);
	ASSERT_EQ(ServerRunning->State, EEditorJobState::Running);
	SOrvaActivityRow* ServerRow = Panel->FindRowWidget(ServerRunning->Id);
	ASSERT_TRUE(ServerRow->GetCancelButton()->isVisibleTo(Panel));
	QTest::mouseClick(ServerRow->GetCancelButton(), Qt::LeftButton);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended(EOrvaActivityStep::Upload, ServerId); }, 30000));
	EXPECT_EQ(Newest(EOrvaActivityStep::Upload, ServerId)->State, EEditorJobState::Cancelled);
	EXPECT_EQ(ServerRow->GetStateText()->text(), QStringLiteral("Cancelled"));
	EXPECT_TRUE(ServerRow->GetRetryButton()->isVisibleTo(Panel));
	// Failures stay until dismissed.
	FGameThread::RunUntilIdle(50);
	EXPECT_NE(Panel->FindRowWidget(ClientFailed->Id), nullptr);

	// With the link mended, each retry puts its pak once more and completes it with the service.
	SetPutFault(ClientId, FFaultProxy::EFault::None);
	SetPutFault(ServerId, FFaultProxy::EFault::None);
	QTest::mouseClick(ClientRow->GetRetryButton(), Qt::LeftButton);
	FGameThread::RunUntilIdle(20);
	EXPECT_EQ(Panel->FindRowWidget(ClientFailed->Id), nullptr) << "a retried row makes way for its new run";
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended(EOrvaActivityStep::Upload, ClientId); }, 60000));
	EXPECT_EQ(Newest(EOrvaActivityStep::Upload, ClientId)->State, EEditorJobState::Succeeded);
	QTest::mouseClick(ServerRow->GetRetryButton(), Qt::LeftButton);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended(EOrvaActivityStep::Upload, ServerId); }, 60000));
	EXPECT_EQ(Newest(EOrvaActivityStep::Upload, ServerId)->State, EEditorJobState::Succeeded);
	EXPECT_EQ(PutsOf(Proxy, ClientId), 2);
	EXPECT_EQ(PutsOf(Proxy, ServerId), 2);
	for (const QString& Id : {ServerId, ClientId})
	{
		EXPECT_TRUE(
		    ObjectOf(Service.Get("components/" + Id.toStdString(), Token)).value(QStringLiteral("complete")).toBool());
	}

	// Rows stay as the history until dismissed.
	const int RowsBefore = Panel->GetRowWidgets().size();
	const auto DoneServer = Newest(EOrvaActivityStep::Upload, ServerId);
	QTest::mouseClick(Panel->FindRowWidget(DoneServer->Id)->GetDismissButton(), Qt::LeftButton);
	FGameThread::RunUntilIdle(20);
	EXPECT_EQ(Panel->GetRowWidgets().size(), RowsBefore - 1);

	// Publishing again sends nothing: the service holds both complete, and the rows say so.
	const int PutsBefore = int(Proxy.Requests().size());
	const int LastId = Newest(EOrvaActivityStep::Upload)->Id;
	Sdk()->TaskPublishPaks();
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&]
	    {
		    const auto Server = Newest(EOrvaActivityStep::Upload, ServerId);
		    const auto Client = Newest(EOrvaActivityStep::Upload, ClientId);
		    return Server->Id > LastId && Client->Id > LastId && Server->State >= EEditorJobState::Succeeded &&
		           Client->State >= EEditorJobState::Succeeded;
	    },
	    30000));
	for (const QString& Id : {ServerId, ClientId})
	{
		const auto Row = Newest(EOrvaActivityStep::Upload, Id);
		EXPECT_EQ(Row->State, EEditorJobState::Succeeded);
		EXPECT_EQ(Row->Phase, QStringLiteral("Already held complete by the service: skipped"));
	}
	EXPECT_EQ(int(Proxy.Requests().size()), PutsBefore);

	// The last outcome shows for the selected world, and outlives the editor.
	const QString CheckCode = JsonString(Output + QStringLiteral("Entry_PakVersion.json"), QStringLiteral("CheckCode"));
	ASSERT_FALSE(CheckCode.isEmpty());
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Panel->GetOutcomeText()->text().contains(ClientId); }, 20000))
	    << Panel->GetOutcomeText()->text().toStdString();
	EXPECT_TRUE(Panel->GetOutcomeText()->text().contains(ServerId));
	EXPECT_TRUE(Panel->GetOutcomeText()->text().contains(CheckCode));
	Editor->Shutdown();
	Editor.reset();
	StartEditor();
	const FOrvaPublishOutcome Outcome = Activity().GetLastOutcome(Identifier);
	EXPECT_EQ(Outcome.Level, QStringLiteral("Entry"));
	EXPECT_EQ(Outcome.CheckCode, CheckCode);
	EXPECT_TRUE(Outcome.PublishedAt.isValid());
	ASSERT_EQ(Outcome.Paks.size(), 2);
	EXPECT_EQ(Outcome.Paks[0].Platform, QStringLiteral("WindowsClient"));
	EXPECT_EQ(Outcome.Paks[0].ComponentId, ClientId);
	EXPECT_EQ(Outcome.Paks[0].Size,
	          QFileInfo(Output + QStringLiteral("WindowsClient/") + ClientId + QStringLiteral(".pak")).size());
	EXPECT_EQ(Outcome.Paks[1].ComponentId, ServerId);
	EXPECT_TRUE(Activity().GetRows().isEmpty()) << "the steps themselves belong to the editor run";
}
