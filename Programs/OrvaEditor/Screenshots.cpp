// Renders the editor's states a reviewer looks at into PNG files: the editor with the plugin's tab
// open on the login box, the login box after a refused login, and the tab's error text when the
// SDK subsystem is missing; how the editor draws notifications; and, after a real login, the world
// panel with several worlds, a chosen world with its screenshots (one still waiting for its upload)
// and the launch menu; the pre-flight report that a refused build shows; the packaging panel after
// a build it ran, and the level chooser with its picker open. It drives the real editor; the login goes to the service
// named in the user's "OrvaSDK.ini", and the worlds, screenshots and title images are made there through the plugin.
#include "AssetRegistry.h"
#include "CommandLine.h"
#include "EditorHost.h"
#include "EditorServices.h"
#include "ExpandableArea.h"
#include "GameThread.h"
#include "HotPatcherEditorTab.h"
#include "LevelEditorWindow.h"
#include "NotificationList.h"
#include "Notifications.h"
#include "ObjectPropertyEntryBox.h"
#include "OrvaActivityModel.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaEditorApp.h"
#include "OrvaLevelChooser.h"
#include "OrvaSDK.h"
#include "OrvaSDKSubsystem.h"
#include "Paths.h"
#include "SHotPatcher.h"
#include "SOrvaEditorLoginBox.h"
#include "SOrvaEditorView.h"
#include "SOrvaEditorWorldView.h"
#include "SOrvaPreflightReportView.h"
#include "SOrvaThumbnail.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScrollArea>
#include <QTableWidget>
#include <QToolButton>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace
{

bool Save(QWidget* Widget, const QString& Path)
{
	FGameThread::RunUntilIdle(200);
	if (!Widget->grab().save(Path, "PNG"))
	{
		std::fprintf(stderr, "Cannot write %s\n", qUtf8Printable(Path));
		return false;
	}
	std::fprintf(stdout, "%s\n", qUtf8Printable(Path));
	return true;
}

// A picture for a world or a screenshot: a gradient with a caption.
QString WritePicture(const QString& Folder, const QString& Name, const QColor& From, const QColor& To,
                     const QString& Caption)
{
	QImage Image(480, 300, QImage::Format_ARGB32);
	QPainter Painter(&Image);
	QLinearGradient Gradient(0, 0, 480, 300);
	Gradient.setColorAt(0, From);
	Gradient.setColorAt(1, To);
	Painter.fillRect(Image.rect(), Gradient);
	Painter.setPen(Qt::white);
	QFont Font = Painter.font();
	Font.setPixelSize(44);
	Font.setBold(true);
	Painter.setFont(Font);
	Painter.drawText(Image.rect(), Qt::AlignCenter, Caption);
	Painter.end();
	const QString Path = QDir(Folder).filePath(Name);
	Image.save(Path, "PNG");
	return Path;
}

// A screenshot too large for the service's body limit, whose upload is refused: it stays local.
QString WriteNoise(const QString& Folder, const QString& Name)
{
	QImage Image(1000, 700, QImage::Format_RGB32);
	QRandomGenerator Random(7);
	for (int Y = 0; Y < Image.height(); ++Y)
	{
		auto* Line = reinterpret_cast<QRgb*>(Image.scanLine(Y));
		for (int X = 0; X < Image.width(); ++X)
		{
			const int Shade = int(Random.bounded(90));
			Line[X] = qRgb(60 + Shade, 90 + Shade, 140 + Shade / 2 + int(Random.bounded(20)));
		}
	}
	const QString Path = QDir(Folder).filePath(Name);
	Image.save(Path, "PNG", 100);
	return Path;
}

bool Wait(const std::function<bool()>& Condition, const char* What, int TimeoutMs = 15000)
{
	if (FGameThread::RunUntil(Condition, TimeoutMs))
	{
		return true;
	}
	std::fprintf(stderr, "Timed out waiting for %s\n", What);
	return false;
}

// The window with an open popup menu drawn below the button that opened it (the offscreen
// screen is smaller than the window, so the menu itself may have been moved to fit the screen).
bool SaveWithMenu(QWidget* Window, QMenu* Menu, QWidget* Button, const QString& Path)
{
	FGameThread::RunUntilIdle(200);
	QImage Shot = Window->grab().toImage();
	const QPixmap MenuShot = Menu->grab();
	QPainter Painter(&Shot);
	Painter.drawPixmap(Button->mapTo(Window, QPoint(0, Button->height())), MenuShot);
	Painter.end();
	if (!Shot.save(Path, "PNG"))
	{
		std::fprintf(stderr, "Cannot write %s\n", qUtf8Printable(Path));
		return false;
	}
	std::fprintf(stdout, "%s\n", qUtf8Printable(Path));
	return true;
}

QByteArray PackageText(const QString& Name, const QString& Class, const QStringList& Hard)
{
	return QJsonDocument(
	           QJsonObject{{QStringLiteral("OrvaPackage"), 1},
	                       {QStringLiteral("Assets"),
	                        QJsonArray{QJsonObject{{QStringLiteral("Name"), Name}, {QStringLiteral("Class"), Class}}}},
	                       {QStringLiteral("HardDependencies"), QJsonArray::fromStringList(Hard)}})
	    .toJson();
}

bool WriteText(const QString& Path, const QByteArray& Bytes)
{
	QDir().mkpath(QFileInfo(Path).absolutePath());
	QFile File(Path);
	return File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size();
}

// The pre-flight report as a refused build shows it: a second map of the chosen world that needs a
// package nobody has, a prop spelled twice in different case, a lamp whose installed path is too
// long for Windows, and a rope from a shared folder outside the world's folder. Written into the
// project copy, so the report finds them as it finds any problem.
bool ShootPreflightReport(FOrvaEditorApp& Editor, const QString& OutDir)
{
	UOrvaSDKSubsystem* Sdk = Editor.Host().GetEditorSubsystem<UOrvaSDKSubsystem>();
	const QString Key = Sdk->GetKeyFolderName();
	if (Key.isEmpty() || !Sdk->CurrWorkspace.bEditable)
	{
		std::fprintf(stderr, "No editable world for the pre-flight report\n");
		return false;
	}
	const QString Content = Editor.Host().Paths().ProjectContentDir();
	const QString Game = QStringLiteral("/Game/") + Key;
	const QString Mesh = QStringLiteral("/Script/Engine.StaticMesh");
	const QString Lamp = Game + QStringLiteral("/Environment/Harbour_Northern_Pier_Night_Market/"
	                                           "Lighting_Fixtures_Hanging_Lamps_With_Painted_Glass_Shades/"
	                                           "Artist_Review_Second_Pass_Approved/"
	                                           "SM_Hanging_Lamp_Painted_Glass_Shade_Warm_Light_Variant_03");
	const QString Entry = Sdk->CurrWorkspace.ObjectPath.GetLongPackageName();
	bool bOk =
	    WriteText(Content + Key + QStringLiteral("/Maps/Harbour.umap"),
	              PackageText(QStringLiteral("Harbour"), QStringLiteral("/Script/Engine.World"),
	                          {Entry, Game + QStringLiteral("/Props/Lantern"), Lamp,
	                           QStringLiteral("/Game/Shared/Rope"), QStringLiteral("/Engine/BasicShapes/Cube")}));
	bOk &= WriteText(Content + Key + QStringLiteral("/Props/Lantern.uasset"),
	                 PackageText(QStringLiteral("Lantern"), Mesh, {Game + QStringLiteral("/Props/LanternGlass")}));
	bOk &= WriteText(Content + Key + QStringLiteral("/Props/lantern.uasset"),
	                 PackageText(QStringLiteral("lantern"), Mesh, {}));
	bOk &= WriteText(Content + Lamp.mid(6) + QStringLiteral(".uasset"),
	                 PackageText(Lamp.section(QLatin1Char('/'), -1), Mesh, {}));
	bOk &= WriteText(Content + QStringLiteral("Shared/Rope.uasset"), PackageText(QStringLiteral("Rope"), Mesh, {}));
	if (!bOk)
	{
		std::fprintf(stderr, "Cannot write the pre-flight report's packages\n");
		return false;
	}
	Editor.Host().AssetRegistry().ScanPathsSynchronous({QStringLiteral("/Game")}, true);
	const FSoftObjectPath KeptEntry = Sdk->CurrWorkspace.ObjectPath;
	Sdk->CurrWorkspace.ObjectPath = FSoftObjectPath(Game + QStringLiteral("/Maps/Harbour.Harbour"));
	// A panel of its own, clear of the publish's toasts, with the information area folded so the
	// build section and its report are in view.
	SOrvaEditorWorldView Shot(&Editor.Host());
	Shot.resize(760, 1240);
	Shot.show();
	Shot.HandleWorkspaceChanged(Sdk->CurrWorkspace);
	FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
	Shot.GetInformationArea()->SetExpanded(false);
	Shot.UpdateBoundState();
	Shot.OnBuildClicked();
	Shot.UpdateBoundState();
	FGameThread::RunUntilIdle(200);
	SOrvaPreflightReportView* Report = Shot.GetPreflightView();
	const bool bShown = Report && Report->isVisible() && Report->GetReport().HasErrors();
	bOk = bShown;
	if (!bShown)
	{
		std::fprintf(stderr, "Build did not show the pre-flight report\n");
	}
	else
	{
		for (QWidget* Parent = Report->parentWidget(); Parent; Parent = Parent->parentWidget())
		{
			if (auto* Scroll = qobject_cast<QScrollArea*>(Parent))
			{
				Scroll->ensureWidgetVisible(Report, 0, 0);
				break;
			}
		}
		bOk = Save(&Shot, QDir(OutDir).filePath(QStringLiteral("14-preflight-report.png")));
	}
	Sdk->CurrWorkspace.ObjectPath = KeptEntry;
	return bOk;
}

// The world panel's states: several worlds with title images, a chosen world with screenshots
// (the last one refused by the service, so still marked as waiting) and the launch menu.
SDockTab* OpenActivityTab(FOrvaEditorApp& Editor);

bool ShootWorldPanel(FOrvaEditorApp& Editor, FPolicyDialogService& Dialogs, SOrvaEditorView* View,
                     const QString& OutDir, const QString& WorkDir)
{
	UOrvaSDKSubsystem* Sdk = Editor.Host().GetEditorSubsystem<UOrvaSDKSubsystem>();
	UOrvaDataCacheSubsystem* Cache = Editor.Host().GetEditorSubsystem<UOrvaDataCacheSubsystem>();
	if (!Wait([View] { return View->GetWorldView() != nullptr; }, "the world panel"))
	{
		return false;
	}
	SOrvaEditorWorldView* Panel = View->GetWorldView();
	FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);

	struct FWorldLook
	{
		const char* Name;
		const char* Description;
		QColor From;
		QColor To;
	};
	const FWorldLook Looks[] = {
	    {"Crystal Caves", "Glowing caverns under the northern ridge.", QColor(0x1d, 0x4e, 0x89),
	     QColor(0x6a, 0xd1, 0xe3)},
	    {"Sky Harbor", "Airships, docks and a market in the clouds.", QColor(0xe0, 0x7a, 0x2f),
	     QColor(0xf5, 0xd0, 0x6f)},
	    {"Moss Garden", "A quiet garden to meet friends.", QColor(0x2f, 0x6b, 0x3a), QColor(0xa8, 0xd5, 0x7a)},
	    {"Neon Alley", "Rainy streets and arcade lights.", QColor(0x5b, 0x1a, 0x7a), QColor(0xe0, 0x3f, 0x8f)},
	};
	const int WorldCount = int(std::size(Looks));
	for (int Index = 0; Index < WorldCount; ++Index)
	{
		const int Before = int(Cache->GetWorldList().size());
		Sdk->NewWorld();
		if (!Wait([&] { return int(Cache->GetWorldList().size()) > Before; }, "a new world"))
		{
			return false;
		}
	}
	FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
	const QList<FOrvaWorldDataPtr> Worlds = Cache->GetWorldList();
	QList<FOrvaWorldDataPtr> Made;
	for (const FOrvaWorldDataPtr& World : Worlds)
	{
		if (World && !World->Id.isEmpty())
		{
			Made.append(World);
		}
	}
	// Each world gets its name, its description and a first screenshot, which becomes its title image.
	for (int Index = 0; Index < Made.size() && Index < WorldCount; ++Index)
	{
		Sdk->ChangeWorkspaceWorld(*Made[Index]);
		Sdk->CurrWorkspace.TitleName = QString::fromUtf8(Looks[Index].Name);
		Sdk->CurrWorkspace.Description = QString::fromUtf8(Looks[Index].Description);
		Sdk->CacheCurrWorkspace();
		Sdk->UploadWorldDetials();
		FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
		const QString Picture = WritePicture(WorkDir, QStringLiteral("title-%1.png").arg(Index), Looks[Index].From,
		                                     Looks[Index].To, QString::fromUtf8(Looks[Index].Name));
		Cache->AddNewLocalImage(Picture);
		Wait([&] { return Cache->GetLocalImageData(Picture) && !Cache->GetLocalImageData(Picture)->Id.isEmpty(); },
		     "a title image upload");
		FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
	}
	// More screenshots for the first world.
	Sdk->ChangeWorkspaceWorld(*Made[0]);
	FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
	for (int Index = 0; Index < 3; ++Index)
	{
		const QString Picture =
		    WritePicture(WorkDir, QStringLiteral("shot-%1.png").arg(Index), QColor(0x10 + 40 * Index, 0x30, 0x60),
		                 QColor(0x50, 0x90 + 30 * Index, 0xc0), QStringLiteral("Cave %1").arg(Index + 2));
		Cache->AddNewLocalImage(Picture);
		Wait([&] { return Cache->GetLocalImageData(Picture) && !Cache->GetLocalImageData(Picture)->Id.isEmpty(); },
		     "a screenshot upload");
	}
	Sdk->ClearCurrWorkspace();
	Sdk->GetWorldsList();
	FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
	Wait(
	    [&]
	    {
		    const QList<SOrvaThumbnail*> Tiles = Panel->GetWorldTiles();
		    return Tiles.size() == Made.size() &&
		           std::all_of(Tiles.begin(), Tiles.end(),
		                       [](const SOrvaThumbnail* Tile) { return Tile->GetThumbnailImage()->isVisible(); });
	    },
	    "the title images");
	bool bOk = Save(&Editor.Window(), QDir(OutDir).filePath(QStringLiteral("5-world-panel.png")));

	// The first world chosen, as a creator clicks its tile; its entry map chosen; one more
	// screenshot that the service refuses, so it stays marked as waiting for its upload.
	QListWidget* Strip = Panel->GetWorldListView();
	if (SOrvaThumbnail* Tile = Panel->FindWorldTile(Made[0]->Id))
	{
		Strip->setCurrentItem(Strip->itemAt(Tile->geometry().center()));
	}
	FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
	// The map's packages are moved into the world's folder (the question is answered Yes).
	Dialogs.QueueAnswer(EAppReturnType::Yes);
	Sdk->SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry")));
	Wait([&] { return !Sdk->IsFolderMoveRunning(); }, "the entry map's folders to move", 60000);
	const QString Refused = WriteNoise(WorkDir, QStringLiteral("too-large.png"));
	Cache->AddNewLocalImage(Refused);
	Panel->RefreshScreenshots();
	FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
	Wait(
	    [&]
	    {
		    const QList<SOrvaThumbnail*> Tiles = Panel->GetScreenshotTiles();
		    return !Tiles.isEmpty() &&
		           std::all_of(Tiles.begin(), Tiles.end(),
		                       [](const SOrvaThumbnail* Tile) { return Tile->GetThumbnailImage()->isVisible(); });
	    },
	    "the screenshots");
	Panel->UpdateBoundState();
	bOk &= Save(&Editor.Window(), QDir(OutDir).filePath(QStringLiteral("6-world-chosen.png")));

	QToolButton* Combo = Panel->GetLaunchCombo();
	Panel->GetLaunchMenu()->popup(Combo->mapToGlobal(QPoint(0, Combo->height())));
	bOk &= SaveWithMenu(&Editor.Window(), Panel->GetLaunchMenu(), Combo,
	                    QDir(OutDir).filePath(QStringLiteral("7-launch-menu.png")));
	Panel->GetLaunchMenu()->hide();

	// A request the service refuses: the panel keeps the service's own reason on screen.
	Sdk->DeleteWorld({QStringLiteral("no-such-world")});
	FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
	FGameThread::RunUntilIdle(100);
	bOk &= Save(&Editor.Window(), QDir(OutDir).filePath(QStringLiteral("10-service-error.png")));
	Panel->DismissMessage();

	// Deleting a world asks first: the question as the editor's message box shows it.
	Dialogs.QueueAnswer(EAppReturnType::No);
	Panel->OnDeleteWorldClicked(Made.size() > 1 ? Made[1]->Id : Made[0]->Id);
	if (!Dialogs.ShownMessages().isEmpty())
	{
		const FPolicyDialogService::FShownMessage Asked = Dialogs.ShownMessages().last();
		QMessageBox Question(QMessageBox::Question, Asked.Title, Asked.Message, QMessageBox::Yes | QMessageBox::No,
		                     &Editor.Window());
		Question.show();
		FGameThread::RunUntilIdle(100);
		bOk &= Save(&Question, QDir(OutDir).filePath(QStringLiteral("11-confirm-delete.png")));
	}

	// A long name in a dock 480 pixels wide: the name gives way, every control stays in view.
	{
		const QString KeptName = Sdk->CurrWorkspace.TitleName;
		Sdk->CurrWorkspace.TitleName =
		    QStringLiteral("The Crystal Caves of the Northern Ridge, Where the Glow Never Fades");
		SOrvaEditorWorldView Narrow(&Editor.Host());
		Narrow.resize(480, 1100);
		Narrow.show();
		Narrow.HandleWorkspaceChanged(Sdk->CurrWorkspace);
		FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
		FGameThread::RunUntilIdle(200);
		Narrow.UpdateBoundState();
		bOk &= Save(&Narrow, QDir(OutDir).filePath(QStringLiteral("12-narrow-long-name.png")));
		Sdk->CurrWorkspace.TitleName = KeptName;
	}

	// Build, then publish: "Published" shows once the service has confirmed every stored pak. The
	// activity tab is shot while the build runs and once all is done.
	if (Panel->GetBuildButton()->isEnabled())
	{
		Panel->OnBuildClicked();
		SDockTab* Activity = OpenActivityTab(Editor);
		Wait(
		    [&]
		    {
			    for (const FOrvaActivityRow& Row : Sdk->GetActivity()->GetRows())
			    {
				    if (Row.Step == EOrvaActivityStep::Build && Row.State == EEditorJobState::Running)
				    {
					    return true;
				    }
			    }
			    return false;
		    },
		    "the build to start", 240000);
		if (Activity)
		{
			bOk &= Save(Activity, QDir(OutDir).filePath(QStringLiteral("15-activity-during-publish.png")));
		}
		Wait([&] { return !Sdk->IsPakBuildRunning() && Sdk->CheckLocalPaks(true); }, "the build and registration",
		     240000);
		FGameThread::RunUntil([&] { return Editor.Host().Http().GetPendingCount() == 0; }, 10000);
		Panel->OnPublishClicked();
		Wait([&] { return Panel->GetMessageKind() != SOrvaEditorWorldView::EMessageKind::Info; }, "the publish",
		     120000);
		Panel->UpdateBoundState();
		FGameThread::RunUntilIdle(100);
		bOk &= Save(&Editor.Window(), QDir(OutDir).filePath(QStringLiteral("13-published.png")));
		if (Activity)
		{
			// The outcome is on disk once the paks' digests are taken.
			Wait([&] { return !Sdk->GetActivity()->GetLastOutcome(Sdk->CurrWorkspace.WorldIdentifier).IsEmpty(); },
			     "the recorded outcome");
			FGameThread::RunUntilIdle(100);
			bOk &= Save(Activity, QDir(OutDir).filePath(QStringLiteral("16-activity-after-publish.png")));
		}
	}

	bOk &= ShootPreflightReport(Editor, OutDir);
	return bOk;
}

// Opens the activity tab from the Window menu, floating beside the editor at a size that shows
// its rows whole.
SDockTab* OpenActivityTab(FOrvaEditorApp& Editor)
{
	if (QAction* Entry = Editor.Window().FindWindowMenuAction(FOrvaSDKModule::ActivityTabName()))
	{
		Entry->trigger();
	}
	FGameThread::RunUntilIdle(200);
	SDockTab* Tab = Editor.Services().TabManager().FindExistingLiveTab(FOrvaSDKModule::ActivityTabName());
	if (Tab)
	{
		Tab->setFloating(true);
		Tab->resize(960, 560);
	}
	return Tab;
}

// Opens the plugin's tab the way a creator does: the Window menu's entry.
SDockTab* OpenPluginTab(FOrvaEditorApp& Editor)
{
	Editor.Window().resize(1600, 1000);
	Editor.Window().show();
	if (QAction* Entry = Editor.Window().FindWindowMenuAction(QStringLiteral("PluginAction")))
	{
		Entry->trigger();
	}
	FGameThread::RunUntilIdle(200);
	return Editor.Services().TabManager().FindExistingLiveTab(FOrvaSDKModule::TabName());
}
// The packaging panel as OpenHotPatcher shows it: the settings the plugin fills for an entry
// level, and a build of them run from the panel, with its state and output.
bool SaveHotPatcherPanel(FOrvaEditorApp& Editor, const QString& OutDir)
{
	UOrvaSDKSubsystem* Sdk = Editor.Host().GetEditorSubsystem<UOrvaSDKSubsystem>();
	if (!Sdk)
	{
		return false;
	}
	// The chosen world's entry level (the world panel's shots may have moved it into its workspace),
	// else the demo's, else any level the project has.
	const FAssetRegistry& Registry = Editor.Host().AssetRegistry();
	FSoftObjectPath Level = Sdk->CurrWorkspace.ObjectPath;
	if (!Registry.GetAssetByObjectPath(Level).IsValid())
	{
		Level = FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry"));
	}
	if (!Registry.GetAssetByObjectPath(Level).IsValid())
	{
		FARFilter Filter;
		Filter.ClassPaths = {FTopLevelAssetPath(QStringLiteral("/Script/Engine"), QStringLiteral("World"))};
		Filter.bRecursiveClasses = true;
		QList<FAssetData> Levels;
		Registry.GetAssets(Filter, Levels);
		if (!Levels.isEmpty())
		{
			Level = Levels.first().GetSoftObjectPath();
		}
	}
	Sdk->UpdateHotPatcherSettings(Level.GetAssetName(), Level);
	Sdk->OpenHotPatcher();
	FGameThread::RunUntilIdle(100);
	SDockTab* Tab = Editor.Services().TabManager().FindExistingLiveTab(FHotPatcherEditorTab::TabName());
	auto* Panel = Tab ? Tab->findChild<SHotPatcher*>() : nullptr;
	if (!Panel)
	{
		std::fprintf(stderr, "OpenHotPatcher showed no panel\n");
		return false;
	}
	Editor.Window().resizeDocks({Tab}, {1100}, Qt::Horizontal);
	QString Error;
	const FProcWorkerThreadPtr Build = Panel->StartBuild(Error);
	if (!Build)
	{
		std::fprintf(stderr, "The panel did not build: %s\n", qUtf8Printable(Error));
		return false;
	}
	if (!FGameThread::RunUntil([&Build] { return Build->GetStatus() != EProcWorkerStatus::Running; }, 60000))
	{
		std::fprintf(stderr, "The panel's build did not end\n");
		return false;
	}
	// The tab alone: the toasts of earlier shots would cover its buttons.
	return Save(Tab, QDir(OutDir).filePath(QStringLiteral("8-hotpatcher-panel.png")));
}
// The level chooser as a form places it, with its picker open on the demo's levels.
bool SaveLevelChooser(FOrvaEditorApp& Editor, const QString& OutDir)
{
	QWidget Form;
	Form.setWindowTitle(QStringLiteral("Level chooser"));
	auto* Layout = new QFormLayout(&Form);
	Layout->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
	auto* Chooser = new UOrvaLevelChooser();
	Chooser->SetEditorHost(&Editor.Host());
	Layout->addRow(QStringLiteral("Entry level"), Chooser);
	Form.resize(420, 60);
	Form.move(100, 100);
	Form.show();
	FGameThread::RunUntilIdle(100);
	auto* Box = qobject_cast<SObjectPropertyEntryBox*>(Chooser->GetCachedWidget());
	if (!Box)
	{
		std::fprintf(stderr, "The level chooser shows no picker\n");
		return false;
	}
	// A level chosen, and the picker open again on the levels it offers.
	Box->OpenPicker();
	FGameThread::RunUntilIdle(50);
	QListWidget* List = Box->GetAssetList();
	if (QListWidgetItem* Entry = List->findItems(QStringLiteral("Entry"), Qt::MatchExactly).value(0))
	{
		Q_EMIT List->itemClicked(Entry);
	}
	Box->OpenPicker();
	FGameThread::RunUntilIdle(200);
	QWidget* Popup = QApplication::activePopupWidget();
	const QPixmap FormShot = Form.grab();
	QRect Area(QPoint(0, 0), FormShot.size());
	QPoint PopupAt;
	QPixmap PopupShot;
	if (Popup)
	{
		PopupShot = Popup->grab();
		PopupAt = Popup->mapToGlobal(QPoint(0, 0)) - Form.mapToGlobal(QPoint(0, 0));
		Area = Area.united(QRect(PopupAt, PopupShot.size()));
	}
	QPixmap Canvas(Area.size());
	Canvas.fill(QColor(0x2b, 0x2b, 0x2b));
	QPainter Painter(&Canvas);
	Painter.drawPixmap(-Area.topLeft(), FormShot);
	if (Popup)
	{
		Painter.drawPixmap(PopupAt - Area.topLeft(), PopupShot);
	}
	Painter.end();
	Box->ClosePicker();
	const QString Path = QDir(OutDir).filePath(QStringLiteral("9-level-chooser.png"));
	if (!Canvas.save(Path, "PNG"))
	{
		std::fprintf(stderr, "Cannot write %s\n", qUtf8Printable(Path));
		return false;
	}
	std::fprintf(stdout, "%s\n", qUtf8Printable(Path));
	return true;
}
} // namespace

int main(int argc, char** argv)
{
	QApplication App(argc, argv);
	FOrvaEditorApp::ApplyEditorStyle();
	const QStringList Arguments = App.arguments();
	const QString ProjectFile = Arguments.size() > 1 ? Arguments[1] : QString();
	const QString OutDir = FCommandLine::SwitchValue(Arguments, QStringLiteral("Out"));
	const QString User = FCommandLine::SwitchValue(Arguments, QStringLiteral("User"));
	const QString Password = FCommandLine::SwitchValue(Arguments, QStringLiteral("Password"));
	// The account's real password: the world panel's shots log in with it.
	const QString RightPassword = FCommandLine::SwitchValue(Arguments, QStringLiteral("RightPassword"));
	if (!QFileInfo(ProjectFile).isFile() || OutDir.isEmpty())
	{
		std::fprintf(
		    stderr,
		    "Usage: OrvaEditorScreenshots PROJECT.uproject -Out=DIR [-User=U -Password=P [-RightPassword=R]]\n");
		return 2;
	}
	QDir().mkpath(OutDir);
	bool bOk = true;
	{
		FOrvaEditorOptions Options;
		Options.ProjectFile = ProjectFile;
		// No one is there to answer: the question to move the entry map's packages is answered No.
		auto Dialogs = std::make_unique<FPolicyDialogService>();
		Dialogs->SetDefaultAnswer(EAppReturnType::No);
		FPolicyDialogService* Answers = Dialogs.get();
		Options.Dialogs = std::move(Dialogs);
		FOrvaEditorApp Editor(std::move(Options));
		Editor.Start();
		SDockTab* Tab = OpenPluginTab(Editor);
		auto* View = Tab ? Tab->findChild<SOrvaEditorView*>() : nullptr;
		SOrvaEditorLoginBox* Box = View ? View->GetLoginBox() : nullptr;
		if (!Box)
		{
			std::fprintf(stderr, "The plugin's tab shows no login box\n");
			return 1;
		}
		bOk &= Save(&Editor.Window(), QDir(OutDir).filePath(QStringLiteral("1-editor-login-tab.png")));

		Box->GetUserText()->setText(User);
		Box->GetPasswordText()->setText(Password);
		Box->GetLoginButton()->click();
		if (!FGameThread::RunUntil([Box] { return Box->GetErrorText()->isVisible(); }, 15000))
		{
			std::fprintf(stderr, "The login box shows no error after a refused login\n");
			bOk = false;
		}
		bOk &= Save(Box, QDir(OutDir).filePath(QStringLiteral("2-login-error.png")));

		// How the editor draws the host's notification stack: one pending item, one finished.
		FNotificationInfo Pending(QStringLiteral("Map Uploading:  40%"));
		Pending.bFireAndForget = false;
		Pending.FadeInDuration = 0.0;
		const auto PendingItem = Editor.Host().Notifications().AddNotification(Pending);
		PendingItem->SetCompletionState(ENotificationState::Pending);
		FNotificationInfo Done(QStringLiteral("Pak build finished"));
		Done.bFireAndForget = false;
		Done.FadeInDuration = 0.0;
		const auto DoneItem = Editor.Host().Notifications().AddNotification(Done);
		DoneItem->SetCompletionState(ENotificationState::Success);
		bOk &= Save(&Editor.Window(), QDir(OutDir).filePath(QStringLiteral("4-notification-toasts.png")));

		if (!RightPassword.isEmpty())
		{
			// The toasts go before the world panel's shots.
			PendingItem->ExpireAndFadeout();
			DoneItem->ExpireAndFadeout();
			Wait([&] { return Editor.Window().GetNotificationList()->GetToasts().isEmpty(); }, "the toasts to go",
			     10000);
			Box->GetPasswordText()->setText(RightPassword);
			Box->GetLoginButton()->click();
			const QString WorkDir = QDir(OutDir).filePath(QStringLiteral("pictures"));
			QDir().mkpath(WorkDir);
			// Tall enough for the whole panel.
			Editor.Window().resize(1600, 1300);
			bOk &= ShootWorldPanel(Editor, *Answers, View, OutDir, WorkDir);
			QDir(WorkDir).removeRecursively();
		}
		// After the world panel's shots: the packaging tab opens in front of the plugin's.
		bOk &= SaveHotPatcherPanel(Editor, OutDir);
		bOk &= SaveLevelChooser(Editor, OutDir);
		Editor.Shutdown();
	}
	{
		FOrvaEditorOptions Options;
		Options.ProjectFile = ProjectFile;
		Options.bWithSdkSubsystems = false;
		FOrvaEditorApp Editor(std::move(Options));
		Editor.Start();
		SDockTab* Tab = OpenPluginTab(Editor);
		if (!Tab)
		{
			std::fprintf(stderr, "The plugin's tab did not open\n");
			return 1;
		}
		bOk &= Save(&Editor.Window(), QDir(OutDir).filePath(QStringLiteral("3-subsystem-missing.png")));
		Editor.Shutdown();
	}
	return bOk ? 0 : 1;
}
