#include "SdkFixture.h"

#include <QDir>
#include <QFileInfo>

class WorkspaceTest : public FSdkFixture
{
protected:
	void SetUp() override
	{
		WriteSettings();
		StartHost();
		// Screenshot requests of world switches are answered with empty lists.
		Server.SetHandler(
		    [](const FLoopbackHttpServer::FRecordedRequest&) {
			    return FLoopbackHttpServer::FAnswer{200, R"({"screen_shots":[]})"};
		    });
	}

	QString WorldInfo(const QString& Identifier) const
	{
		return Project.ContentDir() + Identifier + QStringLiteral("/Config/WorldInfo.ini");
	}

	QString ReadInfo(const QString& Identifier, const QString& Key) const
	{
		FConfigCache Reader;
		QString Value = QStringLiteral("<missing>");
		Reader.GetString(QStringLiteral("WorldInfo"), Key, Value, WorldInfo(Identifier));
		return Value;
	}

	FOrvaWorldData World(const QString& Identifier, const QString& Id) const
	{
		FOrvaWorldData Out;
		Out.Identifier = Identifier;
		Out.Id = Id;
		return Out;
	}
};

TEST_F(WorkspaceTest, CreateWorkspaceFolderMakesFourFoldersOnceAndRefusesUnsafeNames)
{
	Sdk().CreateWorkspaceFolder(QString());
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Warning).contains(QStringLiteral("No Workspace.WorldIdentifier")));
	EXPECT_TRUE(Sdk().GetKeyFolderName().isEmpty());

	// The four folders, with the parents they need.
	QDir(Project.ProjectDir()).removeRecursively();
	QDir().mkpath(Project.ProjectDir());
	Project.WriteFile(QStringLiteral("TestProject/TestProject.uproject"), "{}");
	Sdk().CreateWorkspaceFolder(QStringLiteral("W1"));
	EXPECT_EQ(Sdk().GetKeyFolderName(), QStringLiteral("W1"));
	for (const QString& Folder : {QStringLiteral("Content/W1"), QStringLiteral("Content/W1/ExtendFiles"),
	                              QStringLiteral("Content/W1/Config"), QStringLiteral("Saved/OrvaSDK/W1")})
	{
		EXPECT_TRUE(QFileInfo(Project.ProjectDir() + Folder).isDir()) << qPrintable(Folder);
	}
	EXPECT_EQ(Host->EditorSettings().ScreenshotSaveDirectory, Project.SavedDir() + QStringLiteral("OrvaSDK/W1"));

	// Again: nothing new is created, existing content stays.
	Project.WriteFile(QStringLiteral("TestProject/Content/W1/Config/keep.txt"), "keep");
	Host->EditorSettings().ScreenshotSaveDirectory.clear();
	Sdk().CreateWorkspaceFolder(QStringLiteral("W1"));
	EXPECT_EQ(Project.ReadFile(QStringLiteral("TestProject/Content/W1/Config/keep.txt")), "keep");
	EXPECT_EQ(Host->EditorSettings().ScreenshotSaveDirectory, Project.SavedDir() + QStringLiteral("OrvaSDK/W1"));

	// A name that would leave the content folder is refused.
	Sdk().CreateWorkspaceFolder(QStringLiteral(".."));
	Sdk().CreateWorkspaceFolder(QStringLiteral("a/../../b"));
	EXPECT_EQ(Sdk().GetKeyFolderName(), QStringLiteral("W1"));
	EXPECT_FALSE(QFileInfo::exists(Project.ProjectDir() + QStringLiteral("b")));
}

TEST_F(WorkspaceTest, ChangeWorkspaceWorld)
{
	QDir().mkpath(Project.ContentDir() + QStringLiteral("known/Config"));
	LoadWorlds({WorldJson(QStringLiteral("known"), QStringLiteral("w-1"), QStringLiteral("Known")),
	            WorldJson(QStringLiteral("remote"), QStringLiteral("w-2"))});
	QSignalSpy Changed(&Sdk(), &UOrvaSDKSubsystem::OnWorkspaceChanged);

	const FWorkspaceData Current = Sdk().ChangeWorkspaceWorld(World(QStringLiteral("KNOWN"), QStringLiteral("w-1")));
	Settle();
	EXPECT_EQ(Current.WorldIdentifier, QStringLiteral("known"));
	EXPECT_EQ(Current.TitleName, QStringLiteral("Known"));
	EXPECT_TRUE(Current.bEditable);
	EXPECT_EQ(Sdk().GetKeyFolderName(), QStringLiteral("known"));
	EXPECT_TRUE(QFileInfo(Project.ContentDir() + QStringLiteral("known/ExtendFiles")).isDir()) << "repaired";
	EXPECT_EQ(Changed.count(), 1);
	EXPECT_EQ(Server.Requests().last().Target, "/api/v1/worlds/w-1/screenshots");
	EXPECT_TRUE(Log.Contains(QStringLiteral("World Id is w-1")));

	// A world without a folder here becomes current, but creates nothing and keeps the folder name.
	Sdk().ChangeWorkspaceWorld(World(QStringLiteral("remote"), QStringLiteral("w-2")));
	Settle();
	EXPECT_EQ(Sdk().CurrWorkspace.WorldIdentifier, QStringLiteral("remote"));
	EXPECT_FALSE(Sdk().CurrWorkspace.bEditable);
	EXPECT_EQ(Sdk().GetKeyFolderName(), QStringLiteral("known"));
	EXPECT_FALSE(QFileInfo::exists(Project.ContentDir() + QStringLiteral("remote")));

	// An unknown world clears the workspace: two events.
	Changed.clear();
	Sdk().ChangeWorkspaceWorld(World(QStringLiteral("ghost"), QStringLiteral("w-9")));
	Settle();
	EXPECT_EQ(Changed.count(), 2);
	EXPECT_TRUE(Sdk().CurrWorkspace.WorldIdentifier.isEmpty());
}

TEST_F(WorkspaceTest, ResetKeepsIdentityAndRewritesWorldInfo)
{
	QDir().mkpath(Project.ContentDir() + QStringLiteral("w1"));
	LoadWorlds({WorldJson(QStringLiteral("w1"), QStringLiteral("id-1"), QStringLiteral("Title"))});
	Sdk().ChangeWorkspaceWorld(World(QStringLiteral("w1"), QStringLiteral("id-1")));
	Settle();
	Sdk().SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/w1/Maps/Entry.Entry")));
	EXPECT_EQ(ReadInfo(QStringLiteral("w1"), QStringLiteral("Path")), QStringLiteral("/Game/w1/Maps/Entry.Entry"));

	QList<QString> Order;
	QObject::connect(&Sdk(), &UOrvaSDKSubsystem::OnWorkspaceChanged, &Sdk(),
	                 [&](const FWorkspaceData&) { Order.append(QStringLiteral("workspace")); });
	QObject::connect(&Sdk(), &UOrvaSDKSubsystem::OnScreenshotsUpdated, &Sdk(),
	                 [&] { Order.append(QStringLiteral("screenshots")); });
	Sdk().ResetCurrWorkspace();
	EXPECT_EQ(Order, (QList<QString>{QStringLiteral("workspace"), QStringLiteral("screenshots")}));
	EXPECT_EQ(Sdk().CurrWorkspace.WorldIdentifier, QStringLiteral("w1"));
	EXPECT_EQ(Sdk().CurrWorkspace.WorldId, QStringLiteral("id-1"));
	EXPECT_TRUE(Sdk().CurrWorkspace.TitleName.isEmpty());
	EXPECT_TRUE(Sdk().CurrWorkspace.Description.isEmpty());
	EXPECT_TRUE(Sdk().CurrentLevelIsNone());
	EXPECT_EQ(ReadInfo(QStringLiteral("w1"), QStringLiteral("Path")), QString());
	EXPECT_EQ(ReadInfo(QStringLiteral("w1"), QStringLiteral("WorldId")), QStringLiteral("id-1"));
	EXPECT_TRUE(Cache().GetWorkspace(QStringLiteral("w1"))->TitleName.isEmpty()) << "written to the cache";
	EXPECT_EQ(Cache().GetCurrImageList().size(), 1);
}

TEST_F(WorkspaceTest, SaveCurrWorldInfoUsesTheWorldIdentifier)
{
	QDir().mkpath(Project.ContentDir() + QStringLiteral("mine"));
	Sdk().CreateWorkspaceFolder(QStringLiteral("other"));
	Sdk().CurrWorkspace.WorldIdentifier = QStringLiteral("mine");
	Sdk().CurrWorkspace.WorldId = QStringLiteral("id-m");
	Sdk().CurrWorkspace.bEditable = true;
	Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/mine/Entry.Entry"));
	Sdk().SaveCurrWorldInfo();
	EXPECT_EQ(ReadInfo(QStringLiteral("mine"), QStringLiteral("Identifier")), QStringLiteral("mine"));
	EXPECT_EQ(ReadInfo(QStringLiteral("mine"), QStringLiteral("Path")), QStringLiteral("/Game/mine/Entry.Entry"));
	EXPECT_FALSE(QFileInfo::exists(WorldInfo(QStringLiteral("other"))));

	// A workspace that is not editable writes nothing.
	Sdk().CurrWorkspace.WorldIdentifier = QStringLiteral("other");
	Sdk().CurrWorkspace.bEditable = false;
	Sdk().SaveCurrWorldInfo();
	EXPECT_FALSE(QFileInfo::exists(WorldInfo(QStringLiteral("other"))));
}

TEST_F(WorkspaceTest, WorldInfoIsReadBackByANewHost)
{
	QDir().mkpath(Project.ContentDir() + QStringLiteral("w1"));
	LoadWorlds({WorldJson(QStringLiteral("w1"), QStringLiteral("id-1"))});
	Sdk().ChangeWorkspaceWorld(World(QStringLiteral("w1"), QStringLiteral("id-1")));
	Settle();
	Sdk().SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/w1/Maps/Entry.Entry")));
	Host->Shutdown();
	Host.reset();

	StartHost();
	Server.SetHandler(
	    [](const FLoopbackHttpServer::FRecordedRequest&) {
		    return FLoopbackHttpServer::FAnswer{200,
		                                        "[" + WorldJson(QStringLiteral("w1"), QStringLiteral("id-1")) + "]"};
	    });
	Sdk().GetWorldsList();
	Settle();
	const FWorkspaceDataPtr Workspace = Cache().GetWorkspace(QStringLiteral("w1"));
	ASSERT_TRUE(Workspace);
	EXPECT_TRUE(Workspace->bEditable);
	EXPECT_EQ(Workspace->ObjectPath.ToString(), QStringLiteral("/Game/w1/Maps/Entry.Entry"));
}

TEST_F(WorkspaceTest, LevelPathQueries)
{
	EXPECT_TRUE(Sdk().CurrentLevelIsNone());
	EXPECT_TRUE(Sdk().CurrWorkspaceInProgress()) << "no workspace and no task";
	Sdk().CurrWorkspace.WorldIdentifier = QStringLiteral("Abc");
	Sdk().IdentInProgress = QStringLiteral("aBC");
	EXPECT_TRUE(Sdk().CurrWorkspaceInProgress());
	Sdk().IdentInProgress = QStringLiteral("abd");
	EXPECT_FALSE(Sdk().CurrWorkspaceInProgress());

	Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry"));
	EXPECT_FALSE(Sdk().CurrentLevelIsNone());
	EXPECT_EQ(Sdk().GetCurrentLevelPath().ToString(), QStringLiteral("/Game/Maps/Entry.Entry"));
	Sdk().ClearSection();
	EXPECT_TRUE(Sdk().CurrentLevelIsNone());
}

TEST_F(WorkspaceTest, CacheCurrWorkspaceWritesEditsBack)
{
	LoadWorlds({WorldJson(QStringLiteral("w1"), QStringLiteral("id-1"))});
	Sdk().ChangeWorkspaceWorld(World(QStringLiteral("w1"), QStringLiteral("id-1")));
	Settle();
	Sdk().CurrWorkspace.TitleName = QStringLiteral("Edited");
	Sdk().CurrWorkspace.bIsPublic = !Sdk().CurrWorkspace.bIsPublic;
	const bool bWasPublic = Cache().GetWorkspace(QStringLiteral("w1"))->bIsPublic;
	EXPECT_TRUE(Sdk().CacheCurrWorkspace());
	EXPECT_EQ(Cache().GetWorkspace(QStringLiteral("w1"))->TitleName, QStringLiteral("Edited"));
	EXPECT_EQ(Cache().GetWorkspace(QStringLiteral("w1"))->bIsPublic, bWasPublic) << "the public flag is not copied";
	Sdk().ClearCurrWorkspace();
	EXPECT_FALSE(Sdk().CacheCurrWorkspace());
}
