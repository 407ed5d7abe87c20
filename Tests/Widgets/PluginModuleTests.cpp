#include "EditorFixture.h"
#include "InstallPaths.h"

#include "OrvaSDKCommands.h"
#include "OrvaSDKStyle.h"

#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QToolBar>
#include <QtTest/QTest>

namespace
{
int CountEntries(FToolMenus& Menus, const QString& MenuName, const QString& EntryName)
{
	int Count = 0;
	if (const UToolMenu* Menu = Menus.FindMenu(MenuName))
	{
		for (const FToolMenuSection* Section : Menu->GetSections())
		{
			for (const FToolMenuEntry& Entry : Section->GetEntries())
			{
				Count += Entry.Name == EntryName ? 1 : 0;
			}
		}
	}
	return Count;
}

int CountActions(const QList<QAction*>& Actions, const QString& Name)
{
	int Count = 0;
	for (const QAction* Action : Actions)
	{
		Count += Action->objectName() == Name ? 1 : 0;
	}
	return Count;
}
} // namespace

using PluginModule = FEditorFixture;

TEST_F(PluginModule, WindowMenuAndToolbarOpenOneTabAndFocusItAgain)
{
	WriteSettings();
	StartEditor();
	FGameThread::RunUntilIdle(20);
	QAction* MenuEntry = Window().FindWindowMenuAction(QStringLiteral("PluginAction"));
	QAction* Button = Window().FindPlayToolBarAction(QStringLiteral("PluginAction"));
	ASSERT_NE(MenuEntry, nullptr);
	ASSERT_NE(Button, nullptr);
	EXPECT_EQ(MenuEntry->text(), QStringLiteral("OrvaSDK"));
	EXPECT_EQ(MenuEntry->toolTip(), QStringLiteral("Execute OrvaSDK action"));
	EXPECT_FALSE(Button->icon().isNull());

	MenuEntry->trigger();
	FGameThread::RunUntilIdle(50);
	SDockTab* Tab = PluginTab();
	ASSERT_NE(Tab, nullptr);
	// The English catalogue names the tab for the creator; "OrvaSDKTab" stays its id.
	EXPECT_EQ(Tab->windowTitle(), QStringLiteral("ORVA"));
	EXPECT_EQ(Tab->GetTabRole(), ETabRole::NomadTab);
	EXPECT_EQ(Tab->parentWidget(), &Window());
	EXPECT_NE(Tab->findChild<SOrvaEditorView*>(), nullptr);

	// Another tab in front of it; the toolbar button brings the same tab back, no second one.
	SDockTab* Log = Services().TabManager().TryInvokeTab(SLevelEditorWindow::OutputLogTabId());
	ASSERT_NE(Log, nullptr);
	FGameThread::RunUntilIdle(50);
	EXPECT_FALSE(Tab->IsForeground());
	QToolBar* ToolBar = Window().GetPlayToolBar();
	QWidget* ButtonWidget = ToolBar->widgetForAction(Button);
	ASSERT_NE(ButtonWidget, nullptr);
	QTest::mouseClick(ButtonWidget, Qt::LeftButton);
	FGameThread::RunUntilIdle(50);
	EXPECT_EQ(PluginTab(), Tab);
	EXPECT_TRUE(Tab->IsForeground());
	MenuEntry->trigger();
	FGameThread::RunUntilIdle(50);
	EXPECT_EQ(PluginTab(), Tab);
	EXPECT_EQ(Window().findChildren<SOrvaEditorView*>().size(), 1);

	// Closing the tab destroys it with its view; the next invoke spawns a fresh one.
	QPointer<SOrvaEditorView> View = Tab->findChild<SOrvaEditorView*>();
	Tab->close();
	EXPECT_EQ(PluginTab(), nullptr);
	QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
	EXPECT_TRUE(View.isNull());
	EXPECT_EQ(PluginTab(), nullptr);
	Button->trigger();
	FGameThread::RunUntilIdle(50);
	ASSERT_NE(PluginTab(), nullptr);
	EXPECT_EQ(Window().findChildren<SOrvaEditorView*>().size(), 1);
}

TEST_F(PluginModule, TabIsHiddenFromTheTabManagersMenus)
{
	WriteSettings();
	StartEditor();
	FGameThread::RunUntilIdle(20);
	ASSERT_TRUE(Services().TabManager().HasTabSpawner(QStringLiteral("OrvaSDKTab")));
	for (const FTabSpawnerEntry* Entry : Services().TabManager().GetListedSpawners())
	{
		EXPECT_NE(Entry->GetTabId(), QStringLiteral("OrvaSDKTab"));
	}
	QMenu Menu;
	Services().TabManager().PopulateTabSpawnerMenu(&Menu);
	EXPECT_EQ(CountActions(Menu.actions(), QStringLiteral("OrvaSDKTab")), 0);
	EXPECT_EQ(CountActions(Menu.actions(), SLevelEditorWindow::OutputLogTabId()), 1);
	// The editor's Window menu: the listed tab, then the plugin's own entry, and no tab entry.
	EXPECT_EQ(CountActions(Window().GetWindowMenu()->actions(), QStringLiteral("OrvaSDKTab")), 0);
	EXPECT_EQ(CountActions(Window().GetWindowMenu()->actions(), QStringLiteral("PluginAction")), 1);
}

TEST_F(PluginModule, LoadingAndUnloadingTwiceLeavesNoDuplicates)
{
	WriteSettings();
	StartEditor();
	FOrvaSDKModule& Module = Editor->Module();
	const QString Window = QStringLiteral("LevelEditor.MainMenu.Window");
	const QString Play = QStringLiteral("LevelEditor.LevelEditorToolBar.PlayToolBar");
	for (int Round = 0; Round < 2; ++Round)
	{
		SCOPED_TRACE(Round);
		Module.PluginButtonClicked();
		ASSERT_NE(PluginTab(), nullptr);
		Module.ShutdownModule();
		FGameThread::RunUntilIdle(20);
		EXPECT_EQ(CountEntries(Services().ToolMenus(), Window, QStringLiteral("PluginAction")), 0);
		EXPECT_EQ(CountEntries(Services().ToolMenus(), Play, QStringLiteral("PluginAction")), 0);
		EXPECT_FALSE(Services().StyleRegistry().GetStyleSetNames().contains(QStringLiteral("OrvaSDKStyle")));
		EXPECT_FALSE(FOrvaSDKStyle::IsInitialized());
		EXPECT_FALSE(Services().InputBindings().GetContextNames().contains(QStringLiteral("OrvaSDK")));
		EXPECT_FALSE(FOrvaSDKCommands::IsRegistered());
		EXPECT_FALSE(Services().TabManager().HasTabSpawner(FOrvaSDKModule::TabName()));
		// The tab's content came from the module: it goes with it.
		EXPECT_EQ(PluginTab(), nullptr);
		EXPECT_EQ(this->Window().FindWindowMenuAction(QStringLiteral("PluginAction")), nullptr);
		EXPECT_EQ(this->Window().FindPlayToolBarAction(QStringLiteral("PluginAction")), nullptr);
		EXPECT_EQ(Services().ToolMenus().GetPendingStartupCallbackCount(), 0);

		// Loaded again after the registry is ready: the menus come at once.
		Module.StartupModule();
		FGameThread::RunUntilIdle(20);
		EXPECT_EQ(CountEntries(Services().ToolMenus(), Window, QStringLiteral("PluginAction")), 1);
		EXPECT_EQ(CountEntries(Services().ToolMenus(), Play, QStringLiteral("PluginAction")), 1);
		EXPECT_EQ(Services().StyleRegistry().GetStyleSetNames().count(QStringLiteral("OrvaSDKStyle")), 1);
		EXPECT_EQ(Services().InputBindings().GetContextNames().count(QStringLiteral("OrvaSDK")), 1);
		EXPECT_EQ(Services().InputBindings().GetCommandInfosFromContext(QStringLiteral("OrvaSDK")).size(), 2);
		EXPECT_EQ(Services().TabManager().GetSpawnerIds().count(FOrvaSDKModule::TabName()), 1);
		EXPECT_EQ(CountActions(this->Window().GetWindowMenu()->actions(), QStringLiteral("PluginAction")), 1);
		EXPECT_EQ(CountActions(this->Window().GetPlayToolBar()->actions(), QStringLiteral("PluginAction")), 1);
	}
	// Still working after the reloads.
	QAction* Entry = this->Window().FindWindowMenuAction(QStringLiteral("PluginAction"));
	ASSERT_NE(Entry, nullptr);
	Entry->trigger();
	EXPECT_NE(PluginTab(), nullptr);
	EXPECT_FALSE(Log.Contains(QStringLiteral("OrvaSDKStyle is still referenced at shutdown")));
}

TEST_F(PluginModule, WithoutTheSdkSubsystemTheTabShowsTheErrorTextCentred)
{
	StartEditor(false);
	QAction* Entry = Window().FindWindowMenuAction(QStringLiteral("PluginAction"));
	ASSERT_NE(Entry, nullptr);
	Entry->trigger();
	FGameThread::RunUntilIdle(50);
	SDockTab* Tab = PluginTab();
	ASSERT_NE(Tab, nullptr);
	EXPECT_EQ(Tab->findChild<SOrvaEditorView*>(), nullptr);
	const QList<QLabel*> Labels = Tab->GetContent()->findChildren<QLabel*>();
	ASSERT_EQ(Labels.size(), 1);
	QLabel* Text = Labels.first();
	EXPECT_EQ(Text->text(), QStringLiteral("OrvaSDKSubsystem is error"));
	EXPECT_TRUE(Text->isVisible());
	const QRect Area = Tab->GetContent()->rect();
	const QPoint Centre = Text->geometry().center();
	EXPECT_LE(std::abs(Centre.x() - Area.center().x()), 1);
	EXPECT_LE(std::abs(Centre.y() - Area.center().y()), 1);
	EXPECT_LT(Text->width(), Area.width());
	EXPECT_LT(Text->height(), Area.height());
}

TEST_F(PluginModule, CommandsStyleAndIcons)
{
	WriteSettings();
	StartEditor();
	const FInputBindingManager& Bindings = Services().InputBindings();
	const FBindingContext* Context = Bindings.GetContextByName(QStringLiteral("OrvaSDK"));
	ASSERT_NE(Context, nullptr);
	EXPECT_EQ(Context->GetContextDesc().ToString(), QStringLiteral("OrvaSDK Plugin"));
	EXPECT_EQ(Context->GetContextDesc().GetNamespace(), QByteArray("Contexts"));
	EXPECT_EQ(Context->GetStyleSetName(), QStringLiteral("OrvaSDKStyle"));

	const FUICommandInfoPtr Test =
	    Bindings.FindCommandInContext(QStringLiteral("OrvaSDK"), QStringLiteral("TestAction"));
	ASSERT_NE(Test, nullptr);
	EXPECT_EQ(Test->GetLabel().ToString(), QStringLiteral("OrvaSDK"));
	EXPECT_EQ(Test->GetDescription().ToString(), QStringLiteral("Connect Sandbox"));
	EXPECT_EQ(Test->GetDescription().GetKey(), QByteArray("TestAction_ToolTip"));
	// Listed, but bound to nothing and shown nowhere.
	EXPECT_FALSE(Editor->Module().PluginCommands->IsActionMapped(Test));
	EXPECT_FALSE(Editor->Module().PluginCommands->ExecuteAction(Test));
	EXPECT_EQ(PluginTab(), nullptr);
	EXPECT_EQ(Window().FindWindowMenuAction(QStringLiteral("TestAction")), nullptr);
	EXPECT_EQ(Window().FindPlayToolBarAction(QStringLiteral("TestAction")), nullptr);

	const FUICommandInfoPtr Plugin = FOrvaSDKCommands::Get().PluginAction;
	EXPECT_EQ(Plugin->GetLabel().GetKey(), QByteArray("PluginAction"));
	EXPECT_EQ(Plugin->GetLabel().GetNamespace(), QByteArray("FOrvaSDKModule"));
	EXPECT_EQ(Plugin->GetIcon().StyleName, QStringLiteral("OrvaSDK.PluginAction"));

	// The brushes draw the plugin's real icons at their sizes, from the files that ship with the
	// editor (the build stages them beside the programs as an install does).
	const FSlateStyleSet& Style = FOrvaSDKStyle::Get();
	const struct
	{
		const char* Name;
		const char* File;
		int Size;
	} Brushes[] = {{"OrvaSDK.PluginAction", "ButtonIcon_40x.png", 40},
	               {"OrvaSDK.Logo", "Icon128.png", 200},
	               {"OrvaSDK.BtnIcon", "ButtonIcon_40x.png", 20}};
	for (const auto& Expected : Brushes)
	{
		SCOPED_TRACE(Expected.Name);
		const FSlateImageBrush* Brush = Style.GetBrush(QString::fromLatin1(Expected.Name));
		ASSERT_NE(Brush, nullptr);
		EXPECT_EQ(Brush->GetResourceName(),
		          FInstallPaths::DataDir() + QStringLiteral("/Resources/") + QLatin1String(Expected.File));
		QFile Shipped(Brush->GetResourceName());
		QFile Original(QStringLiteral(ORVA_SOURCE_DIR "/Resources/") + QLatin1String(Expected.File));
		ASSERT_TRUE(Shipped.open(QIODevice::ReadOnly) && Original.open(QIODevice::ReadOnly));
		EXPECT_TRUE(Shipped.readAll() == Original.readAll());
		EXPECT_EQ(Brush->GetTint(), QColor(Qt::white));
		const QPixmap Pixmap = Brush->GetPixmap();
		ASSERT_FALSE(Pixmap.isNull());
		EXPECT_EQ(Pixmap.size(), QSize(Expected.Size, Expected.Size));
	}
	const QImage Source(QStringLiteral(ORVA_SOURCE_DIR "/Resources/ButtonIcon_40x.png"));
	EXPECT_EQ(Source.size(), QSize(40, 40));
	EXPECT_TRUE(Source.hasAlphaChannel());
	EXPECT_EQ(QImage(QStringLiteral(ORVA_SOURCE_DIR "/Resources/Icon128.png")).size(), QSize(128, 128));
}

TEST_F(PluginModule, ThePluginsDockGrowsWithTheWindow)
{
	StartEditor();
	Window().resize(1000, 800);
	FGameThread::RunUntilIdle(20);
	ASSERT_NE(OpenView(), nullptr);
	SDockTab* Tab = PluginTab();
	ASSERT_NE(Tab, nullptr);
	FGameThread::RunUntilIdle(20);
	const int Before = Tab->width();
	Window().resize(1800, 800);
	FGameThread::RunUntilIdle(20);
	EXPECT_GT(Tab->width(), Before + 200) << Before << " -> " << Tab->width();
}
