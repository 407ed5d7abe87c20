#include "SdkFixture.h"

#include <QDir>

class DataCacheTest : public FSdkFixture
{
protected:
	void SetUp() override { StartHost(false, true); }

	static FOrvaWorldDataPtr MakeWorld(const QString& Identifier, const QString& Name = QString())
	{
		auto World = std::make_shared<FOrvaWorldData>();
		World->Identifier = Identifier;
		World->Name = Name;
		World->Id = Identifier + QStringLiteral("-id");
		return World;
	}
};

TEST_F(DataCacheTest, WorldListKeepsItsPlaceholderFirst)
{
	ASSERT_EQ(Cache().GetWorldList().size(), 1);
	EXPECT_TRUE(Cache().GetWorldList()[0]->Identifier.isEmpty());
	Cache().AddWorldData(MakeWorld(QStringLiteral("a")));
	Cache().AddWorldData(MakeWorld(QStringLiteral("b")));
	EXPECT_EQ(Cache().GetWorldList().size(), 3);
	Cache().CleanWorldData();
	ASSERT_EQ(Cache().GetWorldList().size(), 1);
	EXPECT_EQ(Cache().GetWorkspaceList().size(), 2) << "workspaces outlive the list";
}

TEST_F(DataCacheTest, WorkspacesAreOnePerIdentifierIgnoringCase)
{
	auto First = MakeWorld(QStringLiteral("Harbour"), QStringLiteral("First"));
	First->bIsPublic = true;
	Cache().AddWorldData(First);
	auto Second = MakeWorld(QStringLiteral("hARBOUR"), QStringLiteral("Second"));
	Cache().AddWorldData(Second);
	ASSERT_EQ(Cache().GetWorkspaceList().size(), 1);
	EXPECT_EQ(Cache().GetWorkspace(QStringLiteral("HARBOUR"))->TitleName, QStringLiteral("First"));
	EXPECT_TRUE(Cache().GetWorkspace(QStringLiteral("harbour"))->bIsPublic);

	// Changes made since survive a re-listing.
	Cache().GetWorkspace(QStringLiteral("harbour"))->Progress = EOrvaSDKProgress::AssetPaking;
	Cache().CleanWorldData();
	Cache().AddWorldData(MakeWorld(QStringLiteral("harbour"), QStringLiteral("Third")));
	EXPECT_EQ(Cache().GetWorkspace(QStringLiteral("harbour"))->Progress, EOrvaSDKProgress::AssetPaking);

	// Two empty identifiers are equal.
	Cache().AddWorldData(MakeWorld(QString()));
	Cache().AddWorldData(MakeWorld(QString()));
	EXPECT_EQ(Cache().GetWorkspaceList().size(), 2);
	EXPECT_FALSE(Cache().GetWorkspace(QStringLiteral("nope")));
}

TEST_F(DataCacheTest, WorkspaceReadsItsFolderAndWorldInfo)
{
	Project.WriteFile(QStringLiteral("TestProject/Content/w1/Config/WorldInfo.ini"),
	                  "[WorldInfo]\nWorldId=x\nIdentifier=w1\nPath=/Game/w1/Maps/Entry.Entry\n");
	Project.WriteFile(QStringLiteral("TestProject/Content/w2/Config/WorldInfo.ini"),
	                  "[WorldInfo]\nPath=/Game/w2/Maps/Entry.Entry:PersistentLevel.Actor\n");
	Project.WriteFile(QStringLiteral("TestProject/Content/w3/Config/WorldInfo.ini"), "[WorldInfo]\nPath=\n");
	// w4 has an info file but no folder of its own in this project.
	Project.WriteFile(QStringLiteral("TestProject/Saved/w4/Config/WorldInfo.ini"), "[WorldInfo]\nPath=/Game/w4/E.E\n");
	for (const char* Name : {"w1", "w2", "w3", "w4"})
	{
		Cache().AddWorldData(MakeWorld(QLatin1String(Name)));
	}
	EXPECT_TRUE(Cache().GetWorkspace(QStringLiteral("w1"))->bEditable);
	EXPECT_EQ(Cache().GetWorkspace(QStringLiteral("w1"))->ObjectPath.ToString(),
	          QStringLiteral("/Game/w1/Maps/Entry.Entry"));
	EXPECT_TRUE(Cache().GetWorkspace(QStringLiteral("w2"))->ObjectPath.IsNull()) << "a sub-object is no level";
	EXPECT_TRUE(Cache().GetWorkspace(QStringLiteral("w3"))->ObjectPath.IsNull());
	EXPECT_FALSE(Cache().GetWorkspace(QStringLiteral("w4"))->bEditable);
	EXPECT_TRUE(Cache().GetWorkspace(QStringLiteral("w4"))->ObjectPath.IsNull());
}

TEST_F(DataCacheTest, UpdateCachedWorkspaceCopiesAllButThePublicFlag)
{
	Cache().AddWorldData(MakeWorld(QStringLiteral("w1")));
	FWorkspaceData Edit = *Cache().GetWorkspace(QStringLiteral("w1"));
	Edit.WorldIdentifier = QStringLiteral("W1");
	Edit.TitleName = QStringLiteral("New");
	Edit.bIsPublic = !Edit.bIsPublic;
	Edit.Progress = EOrvaSDKProgress::FolderMoveSuccess;
	Edit.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W1/E.E"));
	const bool bWasPublic = Cache().GetWorkspace(QStringLiteral("w1"))->bIsPublic;
	EXPECT_TRUE(Cache().UpdateCachedWorkspace(Edit));
	const FWorkspaceDataPtr Cached = Cache().GetWorkspace(QStringLiteral("w1"));
	EXPECT_EQ(Cached->TitleName, QStringLiteral("New"));
	EXPECT_EQ(Cached->Progress, EOrvaSDKProgress::FolderMoveSuccess);
	EXPECT_EQ(Cached->ObjectPath.ToString(), QStringLiteral("/Game/W1/E.E"));
	EXPECT_EQ(Cached->bIsPublic, bWasPublic);
	Edit.WorldIdentifier = QStringLiteral("unknown");
	EXPECT_FALSE(Cache().UpdateCachedWorkspace(Edit));
}

TEST_F(DataCacheTest, ScreenshotListKeepsPlaceholderLast)
{
	EXPECT_EQ(Cache().GetCurrImageList().size(), 1);
	QList<FOrvaImageDataPtr> Images;
	for (int Index = 0; Index < 3; ++Index)
	{
		auto Image = std::make_shared<FOrvaImageData>();
		Image->Id = QString::number(Index);
		Images.append(Image);
	}
	Cache().SetCurrImageList(Images);
	const auto& List = Cache().GetCurrImageList();
	ASSERT_EQ(List.size(), 4);
	EXPECT_EQ(List[0], Images[0]) << "the same shared records";
	EXPECT_TRUE(List[3]->Id.isEmpty() && List[3]->Name.isEmpty() && List[3]->Size == 0);
	EXPECT_TRUE(Log.Contains(QStringLiteral("ImageList Generated")));
	Cache().InitCurrImageList();
	EXPECT_EQ(Cache().GetCurrImageList().size(), 1);
}
