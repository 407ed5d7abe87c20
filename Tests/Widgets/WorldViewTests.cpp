#include "EditorFixture.h"

#include "AssetRegistry.h"
#include "DevServiceProcess.h"
#include "ExpandableArea.h"
#include "ObjectPropertyEntryBox.h"
#include "OrvaDataCacheSubsystem.h"
#include "SOrvaPreflightReportView.h"
#include "SOrvaThumbnail.h"

#include <QAbstractButton>
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

#include <csignal>

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
	EXPECT_EQ(Panel->GetTitleText()->text(), QStringLiteral("NewWorld"));
	EXPECT_EQ(Panel->GetWorldNameBox()->text(), QStringLiteral("NewWorld"));
	EXPECT_EQ(Panel->GetPrivacyCombo()->currentText(), QStringLiteral("Private"));
	// The English catalogue names the section, not the internal identifier.
	EXPECT_EQ(Panel->GetUploadArea()->GetTitle(), QStringLiteral("Build and publish"));
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

TEST_F(WorldView, DeletingAWorldFromItsTileAsksAndDeletesOnlyThatWorld)
{
	const QList<QJsonObject> Worlds = StartService(3);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	ASSERT_EQ(Panel->GetWorldTiles().size(), 3);
	// Another world is open in the panel while one is deleted from its tile.
	const QString Open = Worlds[0].value(QStringLiteral("id")).toString();
	Pick(Panel, Open);
	ASSERT_TRUE(Panel->GetInfoArea()->isVisible());
	const QString Doomed = Worlds[1].value(QStringLiteral("id")).toString();
	const auto ChooseDelete = [&]
	{
		SOrvaThumbnail* Tile = Panel->FindWorldTile(Doomed);
		ASSERT_NE(Tile, nullptr);
		QEnterEvent Enter(QPointF(3, 3), QPointF(3, 3), Tile->mapToGlobal(QPointF(3, 3)));
		QApplication::sendEvent(Tile, &Enter);
		ASSERT_TRUE(Tile->GetDeleteCombo()->isVisible());
		Tile->GetDeleteMenu()->popup(Tile->GetDeleteCombo()->mapToGlobal(QPoint(0, 0)));
		Tile->GetDeleteMenu()->actions().first()->trigger();
		Tile->GetDeleteMenu()->hide();
	};
	// A "No" deletes nothing.
	Dialogs().QueueAnswer(EAppReturnType::No);
	ChooseDelete();
	Settle();
	ASSERT_EQ(Dialogs().ShownMessages().size(), 1);
	EXPECT_EQ(Dialogs().ShownMessages()[0].Title, QStringLiteral("Delete World"));
	EXPECT_TRUE(Dialogs().ShownMessages()[0].Message.contains(QStringLiteral("NewWorld")));
	EXPECT_EQ(JsonOf(Service.Get("me/worlds", Token)).array().size(), 3);
	Dialogs().QueueAnswer(EAppReturnType::Yes);
	ChooseDelete();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Panel->GetWorldTiles().size() == 2; }, 15000));
	Settle();
	Panel->UpdateBoundState();
	// The open world stays open.
	EXPECT_EQ(Sdk()->CurrWorkspace.WorldId, Open);
	EXPECT_TRUE(Panel->GetInfoArea()->isVisible());

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
	EXPECT_EQ(Panel->GetUploadArea()->GetTitle(), QStringLiteral("Build and publish"));
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
	// Without a configured web site the entry opens nothing and says why.
	Menu->popup(Panel->GetLaunchCombo()->mapToGlobal(QPoint(0, 0)));
	ASSERT_EQ(Menu->actions().size(), 2);
	EXPECT_FALSE(Menu->actions()[0]->isEnabled());
	EXPECT_EQ(Menu->actions()[0]->toolTip(), QStringLiteral("No sandbox web site is configured for this service"));
	Menu->hide();
	Editor->Host().GetConfig()->SetString(QStringLiteral("Development"), QStringLiteral("SandboxUrl"),
	                                      QStringLiteral("https://play.orva.test/"), Sdk()->GetSettingsFilePath());
	Menu->popup(Panel->GetLaunchCombo()->mapToGlobal(QPoint(0, 0)));
	ASSERT_EQ(Menu->actions().size(), 2);
	EXPECT_TRUE(Menu->actions()[0]->isEnabled());
	EXPECT_EQ(Menu->actions()[0]->text(), QStringLiteral("Launch Sandbox"));
	EXPECT_EQ(Menu->actions()[0]->toolTip(), QStringLiteral("Open the ORVA web site in your browser"));
	EXPECT_EQ(Menu->actions()[1]->text(), QStringLiteral("Open Build Folder"));
	EXPECT_EQ(Menu->actions()[1]->toolTip(), QStringLiteral("Show the built paks in the file browser"));
	Menu->actions()[0]->trigger();
	Menu->hide();
	// Built anew on each opening.
	Menu->popup(Panel->GetLaunchCombo()->mapToGlobal(QPoint(0, 0)));
	ASSERT_EQ(Menu->actions().size(), 2);
	Menu->actions()[1]->trigger();
	Menu->hide();

	ASSERT_EQ(Urls.Opened.size(), 2);
	EXPECT_EQ(Urls.Opened[0], QUrl(QStringLiteral("https://play.orva.test/")));
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
	// The refused one stops turning and says it failed; the panel says so until dismissed.
	EXPECT_TRUE(Tiles[1]->IsFailed());
	EXPECT_FALSE(Tiles[1]->GetPendingThrobber()->isVisible());
	EXPECT_TRUE(Tiles[1]->GetFailedMark()->isVisible());
	EXPECT_FALSE(Tiles[0]->IsFailed());
	EXPECT_TRUE(Panel->GetMessageBar()->isVisible());
	EXPECT_EQ(Panel->GetMessageKind(), SOrvaEditorWorldView::EMessageKind::Error);
	EXPECT_TRUE(Panel->GetMessageText()->text().contains(QStringLiteral("noise.png")));
	EXPECT_FALSE(Log.Contains(QStringLiteral("Image Upload Success: ImageId is ")));
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
	EXPECT_EQ(Panel->GetTitleText()->text(), QStringLiteral("Mo"));
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
	// "Back" logs out: it asks first, and a "No" keeps the creator logged in.
	Dialogs().QueueAnswer(EAppReturnType::No);
	QTest::mouseClick(Panel->GetBackButton(), Qt::LeftButton);
	FGameThread::RunUntilIdle(20);
	ASSERT_EQ(Dialogs().ShownMessages().size(), 1);
	EXPECT_EQ(Dialogs().ShownMessages()[0].Title, QStringLiteral("Log Out"));
	EXPECT_TRUE(Sdk()->IsLoggedin());
	EXPECT_FALSE(Sdk()->GetAccessToken().isEmpty());
	Dialogs().QueueAnswer(EAppReturnType::Yes);
	QTest::mouseClick(Panel->GetBackButton(), Qt::LeftButton);
	FGameThread::RunUntilIdle(20);
	EXPECT_FALSE(Sdk()->IsLoggedin());
	EXPECT_TRUE(Sdk()->GetAccessToken().isEmpty());
	SOrvaEditorView* View = PluginTab()->findChild<SOrvaEditorView*>();
	ASSERT_NE(View, nullptr);
	EXPECT_NE(View->GetLoginBox(), nullptr);
	EXPECT_EQ(View->GetChild(), View->GetLoginBox());
}

TEST_F(WorldView, CommittedNameAndDescriptionReachTheServiceWhileTheEditorRuns)
{
	const QList<QJsonObject> Worlds = StartService(2);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	const QString Id = Worlds[0].value(QStringLiteral("id")).toString();
	Pick(Panel, Id);

	// Enter commits the name.
	QLineEdit* Name = Panel->GetWorldNameBox();
	Name->setFocus();
	Name->selectAll();
	QTest::keyClicks(Name, QStringLiteral("Crystal Caves"));
	QTest::keyClick(Name, Qt::Key_Return);
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&] { return ServiceWorld(Id).value(QStringLiteral("name")).toString() == QStringLiteral("Crystal Caves"); },
	    15000));

	// Tab leaves the description (no tab character in it), and leaving it commits it.
	QPlainTextEdit* Description = Panel->GetDescriptionBox();
	Description->setFocus();
	QTest::keyClicks(Description, QStringLiteral("Glowing caves"));
	QTest::keyClick(Description, Qt::Key_Tab);
	EXPECT_FALSE(Description->hasFocus());
	EXPECT_EQ(Description->toPlainText(), QStringLiteral("Glowing caves"));
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&]
	    { return ServiceWorld(Id).value(QStringLiteral("description")).toString() == QStringLiteral("Glowing caves"); },
	    15000));
	Settle();
	// Each commit went once: Enter and the focus leaving right after coalesce.
	EXPECT_EQ(Log.Count(QStringLiteral("UploadWorld Detials Success")), 2);
	// The tile names what the service holds.
	ASSERT_NE(Panel->FindWorldTile(Id), nullptr);
	EXPECT_EQ(Panel->FindWorldTile(Id)->GetCaption()->toolTip(), QStringLiteral("Crystal Caves"));

	// Typing without committing, then picking another world: the edit goes to the world it was made in.
	Name->setFocus();
	Name->selectAll();
	QTest::keyClicks(Name, QStringLiteral("Ice Halls"));
	const QString Other = Worlds[1].value(QStringLiteral("id")).toString();
	Pick(Panel, Other);
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&] { return ServiceWorld(Id).value(QStringLiteral("name")).toString() == QStringLiteral("Ice Halls"); },
	    15000));
	EXPECT_EQ(ServiceWorld(Other).value(QStringLiteral("name")).toString(), QStringLiteral("NewWorld"));
}

TEST_F(WorldView, PrivacyShowsWhatTheServiceHoldsAfterReopeningAndLoggingInAgain)
{
	const QList<QJsonObject> Worlds = StartService(2);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	const QString Id = Worlds[0].value(QStringLiteral("id")).toString();
	Pick(Panel, Id);
	ASSERT_EQ(Panel->GetPrivacyCombo()->currentText(), QStringLiteral("Private"));
	Panel->HandlePrivacyChanged(QStringLiteral("Public"));
	ASSERT_TRUE(
	    FGameThread::RunUntil([&] { return !ServiceWorld(Id).value(QStringLiteral("private")).toBool(true); }, 15000));
	Settle();
	EXPECT_EQ(Panel->FindWorldTile(Id)->GetBadge()->text(), QStringLiteral("Public"));

	// Another world, then this one again.
	Pick(Panel, Worlds[1].value(QStringLiteral("id")).toString());
	EXPECT_EQ(Panel->GetPrivacyCombo()->currentText(), QStringLiteral("Private"));
	Pick(Panel, Id);
	EXPECT_EQ(Panel->GetPrivacyCombo()->currentText(), QStringLiteral("Public"));

	// Logging in again opens a new panel on the same world.
	Dialogs().QueueAnswer(EAppReturnType::Yes);
	QTest::mouseClick(Panel->GetBackButton(), Qt::LeftButton);
	Settle();
	Sdk()->Login(QString::fromStdString(AliceEmail), QString::fromStdString(AlicePassword));
	ASSERT_TRUE(FGameThread::RunUntil([this] { return Sdk()->IsLoggedin(); }, 15000));
	Settle();
	SOrvaEditorWorldView* Again = PluginTab()->findChild<SOrvaEditorView*>()->GetWorldView();
	ASSERT_NE(Again, nullptr);
	Again->UpdateBoundState();
	EXPECT_EQ(Sdk()->CurrWorkspace.WorldId, Id);
	EXPECT_EQ(Again->GetPrivacyCombo()->currentText(), QStringLiteral("Public"));
}

TEST_F(WorldView, AFailedSaveStaysOnScreenWithItsCauseUntilDismissed)
{
	const QList<QJsonObject> Worlds = StartService(1);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	Pick(Panel, Worlds[0].value(QStringLiteral("id")).toString());
	const int Port = Service.Process().Port();
	Service.Process().Stop(SIGTERM);
	QLineEdit* Name = Panel->GetWorldNameBox();
	Name->setFocus();
	QTest::keyClicks(Name, QStringLiteral("X"));
	QTest::keyClick(Name, Qt::Key_Return);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Panel->GetMessageBar()->isVisible(); }, 15000));
	const QString Text = Panel->GetMessageText()->text();
	EXPECT_TRUE(Text.startsWith(QStringLiteral("Saving the world's name and description failed: ")))
	    << Text.toStdString();
	EXPECT_TRUE(Text.contains(QStringLiteral("cannot reach the service at http://127.0.0.1:%1").arg(Port)))
	    << Text.toStdString();
	EXPECT_TRUE(Panel->GetRetryButton()->isVisible());
	// It stays.
	FGameThread::RunUntilIdle(300);
	EXPECT_TRUE(Panel->GetMessageBar()->isVisible());
	QTest::mouseClick(Panel->GetDismissButton(), Qt::LeftButton);
	EXPECT_FALSE(Panel->GetMessageBar()->isVisible());
}

TEST_F(WorldView, ANewWorldsTileShowsItsNameAndTheEmptyListAHint)
{
	StartService(0);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	EXPECT_TRUE(Panel->GetEmptyListHint()->isVisible());
	QTest::mouseClick(Panel->GetNewWorldButton(), Qt::LeftButton);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Panel->GetWorldTiles().size() == 1; }, 15000));
	Settle();
	EXPECT_FALSE(Panel->GetEmptyListHint()->isVisible());
	SOrvaThumbnail* Tile = Panel->GetWorldTiles().first();
	// No picture to wait for: no spinner, its name and privacy instead.
	EXPECT_FALSE(Tile->IsSpinning());
	EXPECT_FALSE(Tile->GetLoadingThrobber()->isVisible());
	EXPECT_TRUE(Tile->GetCaption()->isVisible());
	EXPECT_EQ(Tile->GetCaption()->text(), QStringLiteral("NewWorld"));
	EXPECT_EQ(Tile->GetBadge()->text(), QStringLiteral("Private"));
	// It opens, and the creator names it next: the focus is in the name box, not on "Back".
	EXPECT_EQ(Sdk()->CurrWorkspace.WorldId, Tile->GetThumbnailId());
	EXPECT_TRUE(Panel->GetInfoArea()->isVisible());
	QWidget* Focused = QApplication::focusWidget();
	EXPECT_NE(Focused, Panel->GetBackButton());
	EXPECT_EQ(Focused, Panel->GetWorldNameBox());
}

TEST_F(WorldView, AWorldChosenWhileANewOneIsListedStaysChosen)
{
	const QList<QJsonObject> Worlds = StartService(1);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Panel->GetWorldTiles().size() == 1; }, 15000));
	const QString Chosen = Worlds[0].value(QStringLiteral("id")).toString();
	FOrvaWorldData Old;
	for (const FOrvaWorldDataPtr& World : Cache()->GetWorldList())
	{
		if (World && World->Id == Chosen)
		{
			Old = *World;
		}
	}
	ASSERT_EQ(Old.Id, Chosen);
	QTest::mouseClick(Panel->GetNewWorldButton(), Qt::LeftButton);
	// The new world's answer makes it the workspace; the creator picks the other world before the
	// list that holds the new one arrives.
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&] { return !Sdk()->GetKeyFolderName().isEmpty() && Sdk()->GetKeyFolderName() != Old.Identifier; }, 15000));
	Sdk()->ChangeWorkspaceWorld(Old);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Panel->GetWorldTiles().size() == 2; }, 15000));
	Settle();
	EXPECT_EQ(Sdk()->CurrWorkspace.WorldId, Chosen);
	EXPECT_EQ(Sdk()->GetKeyFolderName(), Old.Identifier);
}

TEST_F(WorldView, EveryControlStaysReachableAtANarrowWidthWithALongName)
{
	const QList<QJsonObject> Worlds = StartService(1);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	Pick(Panel, Worlds[0].value(QStringLiteral("id")).toString());
	Sdk()->CurrWorkspace.TitleName = QString(120, QLatin1Char('W'));
	Sdk()->CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry"));
	// The panel alone, as a 480-pixel dock holds it.
	SOrvaEditorWorldView Narrow(&Editor->Host());
	Narrow.resize(480, 1000);
	Narrow.show();
	Narrow.HandleWorkspaceChanged(Sdk()->CurrWorkspace);
	Narrow.ShowMessage(SOrvaEditorWorldView::EMessageKind::Error, QString(40, QLatin1Char('e')) + QStringLiteral(" x"),
	                   [] {});
	FGameThread::RunUntilIdle(50);
	Narrow.UpdateBoundState();
	FGameThread::RunUntilIdle(50);
	auto* Scroll = Narrow.findChild<QWidget*>(QStringLiteral("InfoScroll"));
	ASSERT_NE(Scroll, nullptr);
	for (QWidget* Control : Narrow.findChildren<QWidget*>())
	{
		if (!Control->isVisible() || !(qobject_cast<QAbstractButton*>(Control) || qobject_cast<QComboBox*>(Control) ||
		                               qobject_cast<QLineEdit*>(Control)))
		{
			continue;
		}
		const QRect At(Control->mapTo(&Narrow, QPoint(0, 0)), Control->size());
		EXPECT_GE(At.left(), 0) << Control->objectName().toStdString();
		EXPECT_LE(At.right(), Narrow.width()) << Control->objectName().toStdString();
	}
	// The long name gives way; the privacy box beside it stays whole.
	EXPECT_TRUE(Narrow.GetTitleText()->IsElided()) << Narrow.GetTitleText()->GetShownText().toStdString();
	EXPECT_EQ(Narrow.GetTitleText()->toolTip(), QString(120, QLatin1Char('W')));
	EXPECT_GE(Narrow.GetPrivacyCombo()->width(), Narrow.GetPrivacyCombo()->sizeHint().width());
}

TEST_F(WorldView, PublishBeforeBuildSaysWhyNothingHappened)
{
	const QList<QJsonObject> Worlds = StartService(1);
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	Pick(Panel, Worlds[0].value(QStringLiteral("id")).toString());
	Sdk()->CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry"));
	Panel->UpdateBoundState();
	// The rebuild question is declined.
	Dialogs().SetDefaultAnswer(EAppReturnType::No);
	QTest::mouseClick(Panel->GetPublishButton(), Qt::LeftButton);
	ASSERT_TRUE(Panel->GetMessageBar()->isVisible());
	EXPECT_EQ(Panel->GetMessageText()->text(),
	          QStringLiteral("Nothing was published: build the world first (Build), then press Publish."));
	QTest::mouseClick(Panel->GetLaunchButton(), Qt::LeftButton);
	EXPECT_EQ(Panel->GetMessageText()->text(), QStringLiteral("Nothing to play yet: build the world first (Build)."));
	for (QAbstractButton* Button : Panel->findChildren<QAbstractButton*>())
	{
		if (Button->isVisible() && Button->objectName() != QLatin1String("qt_scrollarea_hcontainer"))
		{
			EXPECT_FALSE(Button->toolTip().isEmpty())
			    << Button->objectName().toStdString() << " " << Button->text().toStdString();
		}
	}
}

#include "WorldViewTests.moc"

TEST_F(WorldView, BuildIsRefusedWhileTheReportHasErrorsAndNotForWarnings)
{
	const QList<QJsonObject> Worlds = StartService(1);
	const QString Identifier = Worlds[0].value(QStringLiteral("identifier")).toString();
	QJsonObject Map = QJsonDocument::fromJson(WorldPackage()).object();
	Map.insert(QStringLiteral("HardDependencies"), QJsonArray{QStringLiteral("/Game/%1/Props/Crate").arg(Identifier)});
	Project.WriteFile(QStringLiteral("TestProject/Content/%1/Maps/Entry.umap").arg(Identifier),
	                  QJsonDocument(Map).toJson());
	SOrvaEditorWorldView* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	Pick(Panel, Worlds[0].value(QStringLiteral("id")).toString());
	Sdk()->CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/%1/Maps/Entry.Entry").arg(Identifier));
	Panel->UpdateBoundState();
	ASSERT_TRUE(Panel->GetCheckButton()->isEnabled());
	SOrvaPreflightReportView* Report = Panel->GetPreflightView();
	EXPECT_FALSE(Report->isVisible());

	// Check shows the report: the missing package is an error, one row per finding.
	QTest::mouseClick(Panel->GetCheckButton(), Qt::LeftButton);
	ASSERT_TRUE(Report->isVisible());
	EXPECT_TRUE(Report->GetReport().HasErrors());
	EXPECT_EQ(Report->GetRowCount(), Report->GetReport().Findings.size());
	EXPECT_TRUE(Report->GetHeadline().contains(QStringLiteral("cannot be built"))) << qPrintable(Report->GetHeadline());
	QTest::mouseClick(Report->findChild<QPushButton*>(QStringLiteral("PreflightClose")), Qt::LeftButton);
	EXPECT_FALSE(Report->isVisible());

	// Build shows the same report instead of building.
	QTest::mouseClick(Panel->GetBuildButton(), Qt::LeftButton);
	EXPECT_FALSE(Sdk()->IsPakBuildRunning());
	EXPECT_NE(Sdk()->GetCurrProgress(), EOrvaSDKProgress::AssetPaking);
	ASSERT_TRUE(Report->isVisible());
	EXPECT_EQ(Report->GetHeadline(), QStringLiteral("Not built: fix the error below first, then press Build again."));
	EXPECT_EQ(Report->GetReport().Findings[0].Subject, QStringLiteral("/Game/%1/Props/Crate").arg(Identifier));

	// With the package there, only warnings are left (the world has no title image): Build builds.
	QJsonObject Crate{
	    {QStringLiteral("OrvaPackage"), 1},
	    {QStringLiteral("Assets"),
	     QJsonArray{QJsonObject{{QStringLiteral("Name"), QStringLiteral("Crate")},
	                            {QStringLiteral("Class"), QStringLiteral("/Script/Engine.StaticMesh")}}}}};
	Project.WriteFile(QStringLiteral("TestProject/Content/%1/Props/Crate.uasset").arg(Identifier),
	                  QJsonDocument(Crate).toJson());
	Editor->Host().AssetRegistry().ScanPathsSynchronous({QStringLiteral("/Game/") + Identifier}, true);
	QTest::mouseClick(Panel->GetBuildButton(), Qt::LeftButton);
	EXPECT_FALSE(Report->GetReport().HasErrors());
	EXPECT_GT(Report->GetReport().Count(EOrvaPreflightLevel::Warning), 0);
	EXPECT_EQ(Sdk()->GetCurrProgress(), EOrvaSDKProgress::AssetPaking);
	Sdk()->CancelPakBuild();
	FGameThread::RunUntil([&] { return !Sdk()->IsPakBuildRunning(); }, 10000);
}
