#include "OrvaSDK.h"

#include "EditorHost.h"
#include "OrvaSDKCommands.h"
#include "OrvaSDKStyle.h"
#include "OrvaSDKSubsystem.h"
#include "SOrvaActivityPanel.h"
#include "SOrvaEditorView.h"

#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>

#define LOCTEXT_NAMESPACE "FOrvaSDKModule"

FOrvaSDKModule::FOrvaSDKModule(FEditorServices& InEditor)
    : Editor(InEditor)
{
}

FOrvaSDKModule::~FOrvaSDKModule()
{
	// An owner that forgets to unload still leaves the editor without dangling entries.
	ShutdownModule();
}

void FOrvaSDKModule::StartupModule()
{
	if (bStarted)
	{
		return;
	}
	bStarted = true;
	FOrvaSDKStyle::Initialize(Editor.StyleRegistry(), Editor.Plugins());
	FOrvaSDKStyle::ReloadTextures();

	FOrvaSDKCommands::Register(Editor.InputBindings());

	PluginCommands = std::make_shared<FUICommandList>();
	PluginCommands->MapAction(FOrvaSDKCommands::Get().PluginAction, [this] { PluginButtonClicked(); });

	Editor.ToolMenus().RegisterStartupCallback([this] { RegisterMenus(); }, this);

	Editor.TabManager()
	    .RegisterNomadTabSpawner(TabName(), [this](const FSpawnTabArgs& Args) { return OnSpawnPluginTab(Args); })
	    .SetDisplayName(LOCTEXT("FOrvaSDKTabTitle", "OrvaSDKTab"))
	    .SetMenuType(ETabSpawnerMenuType::Hidden);
	// Listed in the Window menu beside the output log, so it can be docked wherever it helps.
	Editor.TabManager()
	    .RegisterNomadTabSpawner(ActivityTabName(),
	                             [this](const FSpawnTabArgs& Args) { return OnSpawnActivityTab(Args); })
	    .SetDisplayName(LOCTEXT("FOrvaSDKActivityTabTitle", "Orva Activity"))
	    .SetMenuType(ETabSpawnerMenuType::Enabled);
}

void FOrvaSDKModule::ShutdownModule()
{
	if (!bStarted)
	{
		return;
	}
	bStarted = false;
	Editor.ToolMenus().UnRegisterStartupCallback(static_cast<FToolMenuOwner>(this));
	Editor.ToolMenus().UnregisterOwner(this);
	FOrvaSDKStyle::Shutdown();
	FOrvaSDKCommands::Unregister();
	Editor.TabManager().UnregisterNomadTabSpawner(TabName());
	Editor.TabManager().UnregisterNomadTabSpawner(ActivityTabName());
	PluginCommands.reset();
}

void FOrvaSDKModule::PluginButtonClicked()
{
	Editor.TabManager().TryInvokeTab(TabName());
}

void FOrvaSDKModule::RegisterMenus()
{
	FToolMenuOwnerScoped OwnerScoped(this, Editor.ToolMenus());
	{
		UToolMenu* Menu = Editor.ToolMenus().ExtendMenu(QStringLiteral("LevelEditor.MainMenu.Window"));
		FToolMenuSection& Section = Menu->FindOrAddSection(QStringLiteral("WindowLayout"));
		Section.AddMenuEntryWithCommandList(FOrvaSDKCommands::Get().PluginAction, PluginCommands);
	}
	{
		UToolMenu* ToolbarMenu =
		    Editor.ToolMenus().ExtendMenu(QStringLiteral("LevelEditor.LevelEditorToolBar.PlayToolBar"));
		FToolMenuSection& Section = ToolbarMenu->FindOrAddSection(QStringLiteral("PluginTools"));
		FToolMenuEntry Entry = FToolMenuEntry::InitToolBarButton(FOrvaSDKCommands::Get().PluginAction);
		Entry.SetCommandList(PluginCommands);
		Section.AddEntry(Entry);
	}
}

SDockTab* FOrvaSDKModule::OnSpawnPluginTab(const FSpawnTabArgs&)
{
	FEditorHost* Host = Editor.GetHost();
	UOrvaSDKSubsystem* Sdk = Host ? Host->GetEditorSubsystem<UOrvaSDKSubsystem>() : nullptr;

	auto* Box = new QWidget();
	auto* Layout = new QVBoxLayout(Box);
	Layout->setContentsMargins(0, 0, 0, 0);
	if (Sdk)
	{
		Layout->addWidget(new SOrvaEditorView(Host));
	}
	else
	{
		auto* Text = new QLabel(LOCTEXT("OrvaSDK_ErrorText", "OrvaSDKSubsystem is error").ToString());
		Text->setObjectName(QStringLiteral("OrvaSDK_ErrorText"));
		Layout->addWidget(Text, 0, Qt::AlignHCenter | Qt::AlignVCenter);
	}
	auto* Tab = new SDockTab(ETabRole::NomadTab);
	Tab->SetContent(Box);
	return Tab;
}

SDockTab* FOrvaSDKModule::OnSpawnActivityTab(const FSpawnTabArgs&)
{
	FEditorHost* Host = Editor.GetHost();
	QWidget* Content = nullptr;
	if (Host && Host->GetEditorSubsystem<UOrvaSDKSubsystem>())
	{
		auto* Scroll = new QScrollArea();
		Scroll->setWidgetResizable(true);
		Scroll->setFrameShape(QFrame::NoFrame);
		Scroll->setWidget(new SOrvaActivityPanel(Host));
		Content = Scroll;
	}
	else
	{
		auto* Text = new QLabel(LOCTEXT("OrvaSDK_ErrorText", "OrvaSDKSubsystem is error").ToString());
		Text->setObjectName(QStringLiteral("OrvaSDK_ErrorText"));
		Text->setAlignment(Qt::AlignCenter);
		Content = Text;
	}
	auto* Tab = new SDockTab(ETabRole::NomadTab);
	Tab->SetContent(Content);
	return Tab;
}

#undef LOCTEXT_NAMESPACE
