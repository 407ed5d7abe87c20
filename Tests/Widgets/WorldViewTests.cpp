#include "EditorFixture.h"

#include "DevServiceProcess.h"
#include "ExpandableArea.h"
#include "ObjectPropertyEntryBox.h"
#include "OrvaDataCacheSubsystem.h"
#include "SOrvaThumbnail.h"

#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QFileInfo>
#include <QImage>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QToolButton>
#include <QUrl>
#include <QtTest/QTest>

namespace
{
// Stands in for the system browser and file browser: records what the desktop was asked to open.
class FUrlRecorder : public QObject
{
	Q_OBJECT

public:
	FUrlRecorder()
	{
		for (const char* Scheme : {"http", "https", "file"})
		{
			QDesktopServices::setUrlHandler(QString::fromLatin1(Scheme), this, "Open");
		}
	}
	~FUrlRecorder() override
	{
		for (const char* Scheme : {"http", "https", "file"})
		{
			QDesktopServices::unsetUrlHandler(QString::fromLatin1(Scheme));
		}
	}
	QList<QUrl> Opened;

public Q_SLOTS:
	void Open(const QUrl& Url) { Opened.append(Url); }
};

QByteArray WorldPackage()
{
	QJsonObject Asset{{QStringLiteral("Class"), QStringLiteral("/Script/Engine.World")},
	                  {QStringLiteral("Name"), QStringLiteral("Entry")}};
	QJsonObject Package{{QStringLiteral("Assets"), QJsonArray{Asset}}, {QStringLiteral("OrvaPackage"), 1}};
	return QJsonDocument(Package).toJson();
}
} // namespace

class WorldView : public FEditorFixture
{
protected:
	FTestService Service;
	std::string Token;
	FUrlRecorder Urls;

	// The service with Count worlds of Alice's, each with a workspace folder in the project when
	// bEditable. Answers the worlds' objects.
	QList<QJsonObject> StartService(int Count, bool bEditable = true, const std::vector<std::string>& Extra = {})
	{
		const std::string Problem = Service.Start(Extra);
		EXPECT_TRUE(Problem.empty()) << Problem;
		Token = Service.LoginAlice();
		QList<QJsonObject> Worlds;
		for (int Index = 0; Index < Count; ++Index)
		{
			Worlds.append(Service.CreateWorld(Token));
			if (bEditable)
			{
				const QString Folder = QStringLiteral("TestProject/Content/") +
				                       Worlds.last().value(QStringLiteral("identifier")).toString();
				Project.WriteFile(Folder + QStringLiteral("/Config/.keep"), QByteArray());
				Project.WriteFile(Folder + QStringLiteral("/ExtendFiles/.keep"), QByteArray());
			}
		}
		WriteSettings(QByteArray(), QStringLiteral("http://127.0.0.1:%1/api/v1/").arg(Service.Process().Port()));
		return Worlds;
	}

	// Logs Alice in and opens the tab on the world panel, its first world list in.
	SOrvaEditorWorldView* OpenPanel()
	{
		StartEditor();
		Sdk()->Login(QString::fromStdString(AliceEmail), QString::fromStdString(AlicePassword));
		if (!FGameThread::RunUntil([this] { return Sdk()->IsLoggedin(); }, 15000))
		{
			return nullptr;
		}
		Settle();
		SOrvaEditorView* View = OpenView();
		Settle();
		return View ? View->GetWorldView() : nullptr;
	}

	UOrvaDataCacheSubsystem* Cache() const { return Editor->Host().GetEditorSubsystem<UOrvaDataCacheSubsystem>(); }
	FPolicyDialogService& Dialogs() const { return static_cast<FPolicyDialogService&>(Editor->Host().Dialogs()); }

	// Clicks the world's tile in the strip, as a creator picks a world.
	void Pick(SOrvaEditorWorldView* Panel, const QString& WorldId)
	{
		SOrvaThumbnail* Tile = Panel->FindWorldTile(WorldId);
		ASSERT_NE(Tile, nullptr);
		// On the picture itself: the click goes through to the strip, which selects the row.
		QTest::mouseClick(Tile, Qt::LeftButton, {}, QPoint(20, 20));
		Settle();
		Panel->UpdateBoundState();
	}

	QJsonObject ServiceWorld(const QString& Id) { return ObjectOf(Service.Get("worlds/" + Id.toStdString(), Token)); }
};

TEST_F(WorldView, WithoutAWorkspaceOnlyTheStripAndTheAccountShow)
{
	StartService(1);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	EXPECT_TRUE(Panel->GetBackButton()->isVisible());
	EXPECT_EQ(Panel->GetAccountText()->text(), QStringLiteral("Account: Alice Example"));
	EXPECT_TRUE(Panel->GetWorldListView()->isVisible());
	EXPECT_FALSE(Panel->GetInfoArea()->isVisible());
	EXPECT_FALSE(Panel->GetActionBar()->isVisible());
	EXPECT_FALSE(Panel->GetWorldIdRow()->isVisible());
	// The "+" tile first, then the world.
	ASSERT_EQ(Panel->GetWorldListView()->count(), 2);
	EXPECT_TRUE(Panel->GetWorldListView()
	                ->itemWidget(Panel->GetWorldListView()->item(0))
	                ->isAncestorOf(Panel->GetNewWorldButton()));
	EXPECT_EQ(Panel->GetWorldTiles().size(), 1);
	EXPECT_EQ(Panel->GetWorldTiles().first()->size(), QSize(120, 80));
	EXPECT_TRUE(Panel->GetWorldTiles().first()->CanDelete());
	EXPECT_EQ(Log.Count(QStringLiteral("ImageList Generated")), 1);
}

TEST_F(WorldView, PlusTileMakesAWorldThatOpensForEditing)
{
	StartService(0);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	ASSERT_TRUE(Panel->GetWorldTiles().isEmpty());
	QTest::mouseClick(Panel->GetNewWorldButton(), Qt::LeftButton);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Panel->GetWorldTiles().size() == 1; }, 15000));
	Settle();
	// Still first after the refresh.
	EXPECT_TRUE(Panel->GetWorldListView()
	                ->itemWidget(Panel->GetWorldListView()->item(0))
	                ->isAncestorOf(Panel->GetNewWorldButton()));

	const QString Id = Panel->GetWorldTiles().first()->GetThumbnailId();
	Pick(Panel, Id);
	const FWorkspaceData& Workspace = Sdk()->CurrWorkspace;
	EXPECT_EQ(Workspace.WorldId, Id);
	EXPECT_TRUE(Panel->GetInfoArea()->isVisible());
	EXPECT_EQ(Panel->GetTitleText()->text(), QStringLiteral("NewWorld - "));
	EXPECT_EQ(Panel->GetWorldNameBox()->text(), QStringLiteral("NewWorld"));
	EXPECT_EQ(Panel->GetPrivacyCombo()->currentText(), QStringLiteral("Private"));
	EXPECT_EQ(Panel->GetUploadArea()->GetTitle(), QStringLiteral("Upload (%1)").arg(Workspace.WorldIdentifier));
	EXPECT_TRUE(Panel->GetUploadBody()->isVisible());
	EXPECT_TRUE(Panel->GetActionBar()->isVisible());
	EXPECT_TRUE(Panel->GetWorldIdRow()->isVisible());
	EXPECT_EQ(Panel->GetWorldIdText()->text(), Id);

	// The id row copies the id; the close button folds the editing area away.
	QTest::mouseClick(Panel->GetWorldIdButton(), Qt::LeftButton);
	EXPECT_EQ(QGuiApplication::clipboard()->text(), Id);
	QTest::mouseClick(Panel->GetCloseButton(), Qt::LeftButton);
	EXPECT_FALSE(Panel->GetInfoArea()->isVisible());
	EXPECT_TRUE(Panel->GetWorldListView()->selectedItems().isEmpty());
	EXPECT_EQ(Sdk()->CurrWorkspace.WorldId, Id);
}

TEST_F(WorldView, DeletingAWorldFromItsTileDeletesOnlyThatWorld)
{
	const QList<QJsonObject> Worlds = StartService(3);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	ASSERT_EQ(Panel->GetWorldTiles().size(), 3);
	const QString Doomed = Worlds[1].value(QStringLiteral("id")).toString();
	SOrvaThumbnail* Tile = Panel->FindWorldTile(Doomed);
	ASSERT_NE(Tile, nullptr);
	QEnterEvent Enter(QPointF(3, 3), QPointF(3, 3), Tile->mapToGlobal(QPointF(3, 3)));
	QApplication::sendEvent(Tile, &Enter);
	ASSERT_TRUE(Tile->GetDeleteCombo()->isVisible());
	Tile->GetDeleteMenu()->popup(Tile->GetDeleteCombo()->mapToGlobal(QPoint(0, 0)));
	Tile->GetDeleteMenu()->actions().first()->trigger();
	Tile->GetDeleteMenu()->hide();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Panel->GetWorldTiles().size() == 2; }, 15000));

	QStringList Left;
	for (const SOrvaThumbnail* Remaining : Panel->GetWorldTiles())
	{
		Left.append(Remaining->GetThumbnailId());
	}
	Left.sort();
	QStringList Expected{Worlds[0].value(QStringLiteral("id")).toString(),
	                     Worlds[2].value(QStringLiteral("id")).toString()};
	Expected.sort();
	EXPECT_EQ(Left, Expected);
	EXPECT_EQ(JsonOf(Service.Get("me/worlds", Token)).array().size(), 2);
}

TEST_F(WorldView, PrivacyComboSendsTheChosenPrivacy)
{
	const QList<QJsonObject> Worlds = StartService(1);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	const QString Id = Worlds[0].value(QStringLiteral("id")).toString();
	Pick(Panel, Id);
	ASSERT_EQ(Panel->GetPrivacySelection(), QStringLiteral("Private"));
	ASSERT_TRUE(ServiceWorld(Id).value(QStringLiteral("private")).toBool());

	QTest::keyClick(Panel->GetPrivacyCombo(), Qt::Key_Down);
	Settle();
	EXPECT_EQ(Panel->GetPrivacySelection(), QStringLiteral("Public"));
	EXPECT_FALSE(ServiceWorld(Id).value(QStringLiteral("private")).toBool(true));
	QTest::keyClick(Panel->GetPrivacyCombo(), Qt::Key_Up);
	Settle();
	EXPECT_EQ(Panel->GetPrivacySelection(), QStringLiteral("Private"));
	EXPECT_TRUE(ServiceWorld(Id).value(QStringLiteral("private")).toBool());
}

TEST_F(WorldView, WorkspaceWithoutItsFolderIsNotAvailableForUpload)
{
	const QList<QJsonObject> Worlds = StartService(1, false);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	Pick(Panel, Worlds[0].value(QStringLiteral("id")).toString());
	EXPECT_TRUE(Panel->GetInfoArea()->isVisible());
	EXPECT_EQ(Panel->GetUploadArea()->GetTitle(), QStringLiteral("Upload (Not available)"));
	EXPECT_FALSE(Panel->GetUploadArea()->isEnabled());
	EXPECT_FALSE(Panel->GetUploadBody()->isVisible());
	EXPECT_FALSE(Panel->GetActionBar()->isVisible());
	EXPECT_FALSE(Panel->GetWorldIdRow()->isVisible());
}

TEST_F(WorldView, MapButtonsWaitForAMapAndPickingTheSameMapAgainDoesNothing)
{
	const QList<QJsonObject> Worlds = StartService(1);
	const QString Identifier = Worlds[0].value(QStringLiteral("identifier")).toString();
	Project.WriteFile(QStringLiteral("TestProject/Content/%1/Maps/Entry.umap").arg(Identifier), WorldPackage());
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	Pick(Panel, Worlds[0].value(QStringLiteral("id")).toString());
	const auto Disabled = [&]
	{
		return !Panel->GetBuildButton()->isEnabled() && !Panel->GetLaunchButton()->isEnabled() &&
		       !Panel->GetLaunchCombo()->isEnabled() && !Panel->GetPublishButton()->isEnabled();
	};
	EXPECT_TRUE(Disabled());
	// A sub-object of a map is no map.
	Sdk()->CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry:PersistentLevel"));
	Panel->UpdateBoundState();
	EXPECT_TRUE(Disabled());
	Sdk()->CurrWorkspace.ObjectPath.Reset();

	SObjectPropertyEntryBox* Picker = Panel->GetEntryMapPicker();
	const auto PickEntry = [&]
	{
		Picker->OpenPicker();
		QListWidget* List = Picker->GetAssetList();
		QListWidgetItem* Item = List->findItems(QStringLiteral("Entry"), Qt::MatchExactly).value(0);
		ASSERT_NE(Item, nullptr);
		QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, List->visualItemRect(Item).center());
		Panel->UpdateBoundState();
	};
	PickEntry();
	const QString Map = QStringLiteral("/Game/%1/Maps/Entry.Entry").arg(Identifier);
	EXPECT_EQ(Sdk()->CurrWorkspace.ObjectPath.ToString(), Map);
	EXPECT_FALSE(Disabled());
	EXPECT_TRUE(Panel->GetBuildButton()->isEnabled());
	EXPECT_TRUE(Panel->GetLaunchButton()->isEnabled());
	EXPECT_TRUE(Panel->GetLaunchCombo()->isEnabled());
	EXPECT_TRUE(Panel->GetPublishButton()->isEnabled());
	EXPECT_EQ(Picker->GetObjectPath(), Map);

	// Storing the entry map records it in WorldInfo.ini; a marker there shows whether it is stored again.
	const QString Info =
	    FPaths::ConvertRelativePathToFull(Project.ContentDir() + Identifier + QStringLiteral("/Config/WorldInfo.ini"));
	FConfigCache* Config = Editor->Host().GetConfig();
	QString Stored;
	Config->GetString(QStringLiteral("WorldInfo"), QStringLiteral("Path"), Stored, Info);
	EXPECT_EQ(Stored, Map);
	Config->SetString(QStringLiteral("WorldInfo"), QStringLiteral("Path"), QStringLiteral("marker"), Info);
	PickEntry();
	Config->GetString(QStringLiteral("WorldInfo"), QStringLiteral("Path"), Stored, Info);
	EXPECT_EQ(Stored, QStringLiteral("marker"));

	// Clearing is a change: the workspace has no map again.
	Picker->OpenPicker();
	QTest::mouseClick(Picker->GetClearButton(), Qt::LeftButton);
	Panel->UpdateBoundState();
	EXPECT_TRUE(Sdk()->CurrWorkspace.ObjectPath.IsNull());
	EXPECT_TRUE(Disabled());
}

TEST_F(WorldView, LaunchMenuOpensTheWebSiteAndTheBuildFolder)
{
	const QList<QJsonObject> Worlds = StartService(1);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	Pick(Panel, Worlds[0].value(QStringLiteral("id")).toString());
	Sdk()->CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry"));
	Panel->UpdateBoundState();
	ASSERT_TRUE(Panel->GetLaunchCombo()->isEnabled());

	QMenu* Menu = Panel->GetLaunchMenu();
	Menu->popup(Panel->GetLaunchCombo()->mapToGlobal(QPoint(0, 0)));
	ASSERT_EQ(Menu->actions().size(), 2);
	EXPECT_EQ(Menu->actions()[0]->text(), QStringLiteral("Launch Sandbox"));
	EXPECT_EQ(Menu->actions()[0]->toolTip(), QStringLiteral("Launch ORVAClient on Web"));
	EXPECT_EQ(Menu->actions()[1]->text(), QStringLiteral("Open Build Folder"));
	EXPECT_EQ(Menu->actions()[1]->toolTip(), QStringLiteral("Open Build Folder"));
	Menu->actions()[0]->trigger();
	Menu->hide();
	// Built anew on each opening.
	Menu->popup(Panel->GetLaunchCombo()->mapToGlobal(QPoint(0, 0)));
	ASSERT_EQ(Menu->actions().size(), 2);
	Menu->actions()[1]->trigger();
	Menu->hide();

	ASSERT_EQ(Urls.Opened.size(), 2);
	EXPECT_EQ(Urls.Opened[0], QUrl(SOrvaEditorWorldView::SandboxUrl()));
	EXPECT_EQ(Urls.Opened[0].path(), QStringLiteral("/"));
	// The world's own build folder.
	EXPECT_EQ(Urls.Opened[1].toLocalFile(),
	          Project.ProjectDir() +
	              QStringLiteral("Saved/HotPatcher/%1/Entry").arg(Sdk()->CurrWorkspace.WorldIdentifier));
}

TEST_F(WorldView, ChosenScreenshotsAreUploadedAndARefusedOneStaysMarked)
{
	// Bodies up to 64 KiB: the noisy screenshot is refused, the plain one stored.
	const QList<QJsonObject> Worlds = StartService(1, true, {"--max-body-bytes", "65536"});
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	const QString Id = Worlds[0].value(QStringLiteral("id")).toString();
	Pick(Panel, Id);
	ASSERT_TRUE(Panel->GetScreenshotTiles().isEmpty());
	ASSERT_NE(Panel->GetAddScreenshotButton(), nullptr);

	QImage Plain(64, 40, QImage::Format_ARGB32);
	Plain.fill(Qt::red);
	QImage Noise(300, 300, QImage::Format_RGB32);
	for (int Y = 0; Y < Noise.height(); ++Y)
	{
		for (int X = 0; X < Noise.width(); ++X)
		{
			Noise.setPixel(X, Y, qRgb((X * 7919 + Y * 104729) % 251, (X * Y * 31) % 253, (X ^ (Y * 13)) % 255));
		}
	}
	const QStringList Files{Project.RootDir() + QStringLiteral("plain.png"),
	                        Project.RootDir() + QStringLiteral("noise.png")};
	ASSERT_TRUE(Plain.save(Files[0], "PNG"));
	ASSERT_TRUE(Noise.save(Files[1], "PNG"));
	ASSERT_GT(QFileInfo(Files[1]).size(), 65536);
	Dialogs().QueueFileChoice({Files[0]});
	QTest::mouseClick(Panel->GetAddScreenshotButton(), Qt::LeftButton);
	Dialogs().QueueFileChoice({Files[1]});
	QTest::mouseClick(Panel->GetAddScreenshotButton(), Qt::LeftButton);

	QList<SOrvaThumbnail*> Tiles = Panel->GetScreenshotTiles();
	ASSERT_EQ(Tiles.size(), 2);
	EXPECT_EQ(Tiles[0]->GetImageUrl(), Files[0]);
	EXPECT_EQ(Tiles[1]->GetImageUrl(), Files[1]);
	EXPECT_FALSE(Tiles[0]->CanDelete());
	EXPECT_EQ(Tiles[0]->size(), QSize(189, 120));
	// The "+" tile stays last.
	QListWidget* Grid = Panel->GetScreenshotTileView();
	EXPECT_TRUE(Grid->itemWidget(Grid->item(Grid->count() - 1))->isAncestorOf(Panel->GetAddScreenshotButton()));
	// The pictures are read from the files at once.
	EXPECT_TRUE(Tiles[0]->GetThumbnailImage()->isVisible());
	EXPECT_TRUE(Tiles[1]->GetThumbnailImage()->isVisible());

	ASSERT_TRUE(FGameThread::RunUntil([&] { return !Cache()->GetLocalImageData(Files[0])->Id.isEmpty(); }, 15000));
	Settle();
	// The mark goes with the next frame's check, whenever the loop gets to it.
	EXPECT_TRUE(FGameThread::RunUntil([&] { return !Tiles[0]->GetPendingThrobber()->isVisible(); }, 5000));
	FGameThread::RunUntilIdle(200);
	EXPECT_TRUE(Cache()->GetLocalImageData(Files[1])->Id.isEmpty());
	EXPECT_TRUE(Tiles[1]->GetPendingThrobber()->isVisible());
	// The first screenshot became the title image.
	EXPECT_EQ(ServiceWorld(Id).value(QStringLiteral("image")).toObject().value(QStringLiteral("id")).toString(),
	          Cache()->GetLocalImageData(Files[0])->Id);
	EXPECT_EQ(JsonOf(Service.Get("worlds/" + Id.toStdString() + "/screenshots", Token))
	              .object()
	              .value(QStringLiteral("screen_shots"))
	              .toArray()
	              .size(),
	          1);
}

TEST_F(WorldView, NameAndDescriptionAreCachedOnEveryChange)
{
	const QList<QJsonObject> Worlds = StartService(1);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	Pick(Panel, Worlds[0].value(QStringLiteral("id")).toString());
	const QString Identifier = Sdk()->CurrWorkspace.WorldIdentifier;
	Panel->GetWorldNameBox()->selectAll();
	QTest::keyClicks(Panel->GetWorldNameBox(), QStringLiteral("Mo"));
	EXPECT_EQ(Sdk()->CurrWorkspace.TitleName, QStringLiteral("Mo"));
	EXPECT_EQ(Cache()->GetWorkspace(Identifier)->TitleName, QStringLiteral("Mo"));
	Panel->UpdateBoundState();
	EXPECT_EQ(Panel->GetTitleText()->text(), QStringLiteral("Mo - "));
	QTest::keyClicks(Panel->GetDescriptionBox(), QStringLiteral("A cave"));
	EXPECT_EQ(Cache()->GetWorkspace(Identifier)->Description, QStringLiteral("A cave"));
}

TEST_F(WorldView, ProgressOfTheRunningTaskShowsBesideBuild)
{
	const QList<QJsonObject> Worlds = StartService(1);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	Pick(Panel, Worlds[0].value(QStringLiteral("id")).toString());
	EXPECT_TRUE(Panel->GetProgressLabel()->text().isEmpty());
	const QString Identifier = Sdk()->CurrWorkspace.WorldIdentifier;
	Sdk()->IdentInProgress = Identifier;
	Cache()->GetWorkspace(Identifier)->Progress = EOrvaSDKProgress::AssetPaking;
	// Recorded, not told: the panel reads it on its own.
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&] { return Panel->GetProgressLabel()->text() == QStringLiteral("Building the paks..."); }, 2000));
	EXPECT_TRUE(Panel->findChild<QWidget*>(QStringLiteral("ProgressThrobber"))->isVisible());
	Sdk()->IdentInProgress.clear();
	Cache()->GetWorkspace(Identifier)->Progress = EOrvaSDKProgress::AssetPakFailed;
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&] { return Panel->GetProgressLabel()->text() == QStringLiteral("Pak build failed"); }, 2000));
	EXPECT_FALSE(Panel->findChild<QWidget*>(QStringLiteral("ProgressThrobber"))->isVisible());
}

TEST_F(WorldView, BackLeavesTheSdkLoggedOutWithoutAToken)
{
	StartService(0);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	ASSERT_FALSE(Sdk()->GetAccessToken().isEmpty());
	QTest::mouseClick(Panel->GetBackButton(), Qt::LeftButton);
	FGameThread::RunUntilIdle(20);
	EXPECT_FALSE(Sdk()->IsLoggedin());
	EXPECT_TRUE(Sdk()->GetAccessToken().isEmpty());
	SOrvaEditorView* View = PluginTab()->findChild<SOrvaEditorView*>();
	ASSERT_NE(View, nullptr);
	EXPECT_NE(View->GetLoginBox(), nullptr);
	EXPECT_EQ(View->GetChild(), View->GetLoginBox());
}

#include "WorldViewTests.moc"
