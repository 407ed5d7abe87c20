#include "Commands.h"
#include "EditorServices.h"
#include "SlateStyle.h"
#include "TabManager.h"
#include "Text.h"
#include "ToolMenus.h"

#include <QCoreApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QTemporaryDir>
#include <QTranslator>

#include <gtest/gtest.h>

namespace
{
// A translator with one message, found by context, source and disambiguation as a .qm file's is.
class FOneMessageTranslator : public QTranslator
{
public:
	QString translate(const char* Context, const char* Source, const char* Disambiguation, int) const override
	{
		if (QByteArray(Context) == "SOrvaEditorLoginBox" && QByteArray(Source) == "LOG IN" &&
		    QByteArray(Disambiguation) == "Login")
		{
			return QStringLiteral("ANMELDEN");
		}
		return QString();
	}
	bool isEmpty() const override { return false; }
};

class FTestCommands : public TCommands<FTestCommands>
{
public:
	FTestCommands()
	    : TCommands<FTestCommands>(QStringLiteral("TestContext"), FText::FromString(QStringLiteral("Test")), QString(),
	                               QStringLiteral("TestStyle"))
	{
	}
#define LOCTEXT_NAMESPACE "FTestCommands"
	void RegisterCommands() override
	{
		UI_COMMAND(Open, "Open", "Opens it", EUserInterfaceActionType::Button, FInputChord());
	}
#undef LOCTEXT_NAMESPACE
	FUICommandInfoPtr Open;
};
} // namespace

TEST(EditorTexts, NamespaceIsTheContextAndKeyTheDisambiguation)
{
	const FText Login = NSLOCTEXT("SOrvaEditorLoginBox", "Login", "LOG IN");
	const FText SameSourceOtherKey = NSLOCTEXT("SOrvaEditorLoginBox", "Other", "LOG IN");
	const FText OtherNamespace = NSLOCTEXT("FOrvaSDKModule", "Login", "LOG IN");
	EXPECT_EQ(Login.ToString(), QStringLiteral("LOG IN"));
	FOneMessageTranslator Translator;
	ASSERT_TRUE(QCoreApplication::installTranslator(&Translator));
	// Looked up when shown, so a translator installed later applies to texts made earlier.
	EXPECT_EQ(Login.ToString(), QStringLiteral("ANMELDEN"));
	EXPECT_EQ(SameSourceOtherKey.ToString(), QStringLiteral("LOG IN"));
	EXPECT_EQ(OtherNamespace.ToString(), QStringLiteral("LOG IN"));
	EXPECT_EQ(FText::FromString(QStringLiteral("LOG IN")).ToString(), QStringLiteral("LOG IN"));
	QCoreApplication::removeTranslator(&Translator);
	EXPECT_EQ(Login.ToString(), QStringLiteral("LOG IN"));
	EXPECT_EQ(NSLOCTEXT("N", "K", "Grüße").ToString(), QStringLiteral("Grüße"));
}

TEST(ToolMenus, StartupCallbacksRunOnceWhenReadyAndOwnersTakeTheirEntriesAway)
{
	FInputBindingManager Bindings;
	FTestCommands::Register(Bindings);
	FTestCommands::Register(Bindings);
	ASSERT_EQ(Bindings.GetCommandInfosFromContext(QStringLiteral("TestContext")).size(), 1);
	const FUICommandInfoPtr Open = FTestCommands::Get().Open;
	EXPECT_EQ(Open->GetDescription().GetKey(), QByteArray("Open_ToolTip"));
	EXPECT_EQ(Open->GetIcon().StyleName, QStringLiteral("TestContext.Open"));

	FToolMenus Menus;
	int Calls = 0;
	int Dropped = 0;
	const int OwnerA = 0;
	const int OwnerB = 0;
	auto List = std::make_shared<FUICommandList>();
	int Executed = 0;
	List->MapAction(Open, [&Executed] { ++Executed; });
	Menus.RegisterStartupCallback(
	    [&]
	    {
		    ++Calls;
		    FToolMenuOwnerScoped Scope(&OwnerA, Menus);
		    Menus.ExtendMenu(QStringLiteral("M"))
		        ->FindOrAddSection(QStringLiteral("S"))
		        .AddMenuEntryWithCommandList(Open, List);
	    },
	    &OwnerA);
	Menus.RegisterStartupCallback([&] { ++Dropped; }, &OwnerB);
	Menus.UnRegisterStartupCallback(static_cast<FToolMenuOwner>(&OwnerB));
	EXPECT_EQ(Calls, 0);
	Menus.SetReady();
	Menus.SetReady();
	EXPECT_EQ(Calls, 1);
	EXPECT_EQ(Dropped, 0);
	// Once ready, a callback runs as it is registered.
	Menus.RegisterStartupCallback(
	    [&]
	    {
		    FToolMenuOwnerScoped Scope(&OwnerB, Menus);
		    Menus.ExtendMenu(QStringLiteral("M"))
		        ->FindOrAddSection(QStringLiteral("S"))
		        .AddMenuEntryWithCommandList(Open, List);
	    });
	const FToolMenuSection* Section = Menus.FindMenu(QStringLiteral("M"))->FindSection(QStringLiteral("S"));
	ASSERT_NE(Section, nullptr);
	ASSERT_EQ(Section->GetEntries().size(), 2);

	QMenu Realised;
	Menus.PopulateMenu(QStringLiteral("M"), &Realised);
	ASSERT_EQ(Realised.actions().size(), 2);
	EXPECT_EQ(Realised.actions().first()->text(), QStringLiteral("Open"));
	EXPECT_EQ(Realised.actions().first()->toolTip(), QStringLiteral("Opens it"));
	Realised.actions().first()->trigger();
	EXPECT_EQ(Executed, 1);

	Menus.UnregisterOwner(&OwnerA);
	ASSERT_EQ(Section->GetEntries().size(), 1);
	EXPECT_EQ(Section->GetEntries().first().Owner, static_cast<FToolMenuOwner>(&OwnerB));
	// An action built before its entry went away, outliving the command list, does nothing.
	Menus.UnregisterOwner(&OwnerB);
	EXPECT_TRUE(Section->GetEntries().isEmpty());
	List.reset();
	Realised.actions().last()->trigger();
	EXPECT_EQ(Executed, 1);
	FTestCommands::Unregister();
	EXPECT_TRUE(Bindings.GetContextNames().isEmpty());
	EXPECT_TRUE(Bindings.GetCommandInfosFromContext(QStringLiteral("TestContext")).isEmpty());
}

TEST(CommandLists, CanExecuteGatesTheAction)
{
	auto Command = std::make_shared<const FUICommandInfo>(QStringLiteral("C"), QStringLiteral("Do"), FText(), FText(),
	                                                      FSlateIcon(), EUserInterfaceActionType::Button);
	FUICommandList List;
	int Ran = 0;
	bool bAllowed = false;
	EXPECT_FALSE(List.ExecuteAction(Command));
	List.MapAction(
	    Command, [&Ran] { ++Ran; }, [&bAllowed] { return bAllowed; });
	EXPECT_FALSE(List.ExecuteAction(Command));
	bAllowed = true;
	EXPECT_TRUE(List.ExecuteAction(Command));
	EXPECT_EQ(Ran, 1);
	List.UnmapAction(Command);
	EXPECT_FALSE(List.IsActionMapped(Command));
}

TEST(TabManager, OneLiveTabPerIdAndHiddenSpawnersAreNotListed)
{
	QMainWindow Window;
	FGlobalTabManager Tabs(&Window);
	int Spawned = 0;
	const auto Spawn = [&Spawned](const FSpawnTabArgs& Args)
	{
		++Spawned;
		auto* Tab = new SDockTab();
		Tab->SetContent(new QLabel(Args.TabId));
		return Tab;
	};
	Tabs.RegisterNomadTabSpawner(QStringLiteral("Listed"), Spawn)
	    .SetDisplayName(FText::FromString(QStringLiteral("Listed Tab")));
	Tabs.RegisterNomadTabSpawner(QStringLiteral("Hidden"), Spawn).SetMenuType(ETabSpawnerMenuType::Hidden);
	ASSERT_EQ(Tabs.GetListedSpawners().size(), 1);
	EXPECT_EQ(Tabs.GetListedSpawners().first()->GetTabId(), QStringLiteral("Listed"));
	QMenu Menu;
	Tabs.PopulateTabSpawnerMenu(&Menu);
	ASSERT_EQ(Menu.actions().size(), 1);
	EXPECT_EQ(Menu.actions().first()->text(), QStringLiteral("Listed Tab"));

	SDockTab* First = Tabs.TryInvokeTab(QStringLiteral("Hidden"));
	ASSERT_NE(First, nullptr);
	EXPECT_EQ(Tabs.TryInvokeTab(QStringLiteral("Hidden")), First);
	EXPECT_EQ(Spawned, 1);
	EXPECT_EQ(Window.dockWidgetArea(First), Qt::RightDockWidgetArea);
	EXPECT_EQ(Tabs.TryInvokeTab(QStringLiteral("Unknown")), nullptr);

	QPointer<SDockTab> Open = First;
	EXPECT_TRUE(Tabs.UnregisterNomadTabSpawner(QStringLiteral("Hidden")));
	EXPECT_TRUE(Open.isNull());
	EXPECT_EQ(Tabs.TryInvokeTab(QStringLiteral("Hidden")), nullptr);
	EXPECT_FALSE(Tabs.UnregisterNomadTabSpawner(QStringLiteral("Hidden")));
}

TEST(SlateStyles, BrushesDrawTheirImageAtTheirSizeTinted)
{
	QTemporaryDir Dir;
	ASSERT_TRUE(Dir.isValid());
	QImage Image(8, 8, QImage::Format_ARGB32);
	Image.fill(QColor(255, 255, 255, 255));
	Image.setPixelColor(0, 0, QColor(0, 0, 0, 0));
	ASSERT_TRUE(Image.save(Dir.filePath(QStringLiteral("Icon.png"))));

	FSlateStyleSet Style(QStringLiteral("TestStyle"));
	Style.SetContentRoot(Dir.path());
	Style.Set(QStringLiteral("White"),
	          std::make_unique<FSlateImageBrush>(Style.RootToContentDir(QStringLiteral("Icon"), QStringLiteral(".png")),
	                                             QSize(16, 16)));
	Style.Set(QStringLiteral("Red"),
	          std::make_unique<FSlateImageBrush>(Style.RootToContentDir(QStringLiteral("Icon"), QStringLiteral(".png")),
	                                             QSize(4, 4), QColor(255, 0, 0)));
	Style.Set(QStringLiteral("Missing"),
	          std::make_unique<FSlateImageBrush>(Style.RootToContentDir(QStringLiteral("None"), QStringLiteral(".png")),
	                                             QSize(4, 4)));
	EXPECT_EQ(Style.GetBrush(QStringLiteral("White"))->GetResourceName(), Dir.path() + QStringLiteral("/Icon.png"));

	const QImage White = Style.GetBrush(QStringLiteral("White"))->GetPixmap().toImage();
	EXPECT_EQ(White.size(), QSize(16, 16));
	EXPECT_EQ(White.pixelColor(8, 8), QColor(255, 255, 255));
	const QImage Red = Style.GetBrush(QStringLiteral("Red"))->GetPixmap().toImage();
	EXPECT_EQ(Red.size(), QSize(4, 4));
	EXPECT_EQ(Red.pixelColor(3, 3), QColor(255, 0, 0));
	EXPECT_TRUE(Style.GetBrush(QStringLiteral("Missing"))->GetPixmap().isNull());
	EXPECT_EQ(Style.GetBrush(QStringLiteral("Nothing")), nullptr);

	FSlateStyleRegistry Registry;
	EXPECT_TRUE(Registry.RegisterSlateStyle(Style));
	FSlateStyleSet Twin(QStringLiteral("TestStyle"));
	EXPECT_FALSE(Registry.RegisterSlateStyle(Twin));
	EXPECT_EQ(Registry.FindSlateStyle(QStringLiteral("TestStyle")), &Style);
	EXPECT_FALSE((FSlateIcon{QStringLiteral("TestStyle"), QStringLiteral("White")}.GetIcon(Registry).isNull()));
	EXPECT_TRUE((FSlateIcon{QStringLiteral("OtherStyle"), QStringLiteral("White")}.GetIcon(Registry).isNull()));
	EXPECT_TRUE(Registry.UnRegisterSlateStyle(QStringLiteral("TestStyle")));
	EXPECT_EQ(Registry.FindSlateStyle(QStringLiteral("TestStyle")), nullptr);
}
