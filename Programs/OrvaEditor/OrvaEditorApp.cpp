#include "OrvaEditorApp.h"

#include "EditorHost.h"
#include "EditorServices.h"
#include "FlibHotPatcherCoreHelper.h"
#include "HotPatcherEditorTab.h"
#include "InstallPaths.h"
#include "LevelEditorWindow.h"
#include "OrvaSDK.h"
#include "OrvaSDKModule.h"
#include "WidgetDialogService.h"

#include <QApplication>
#include <QFileInfo>
#include <QLocale>
#include <QPalette>
#include <QProgressDialog>
#include <QStyleFactory>

FOrvaEditorApp::FOrvaEditorApp(FOrvaEditorOptions InOptions)
    : Options(std::move(InOptions))
{
}

FOrvaEditorApp::~FOrvaEditorApp()
{
	Shutdown();
}

void FOrvaEditorApp::Start()
{
	if (bStarted)
	{
		return;
	}
	bStarted = true;
	FEditorHostOptions HostOptions;
	HostOptions.ProjectFile = Options.ProjectFile;
	HostOptions.UserSettingsDir = Options.UserSettingsDir;
	HostOptions.EngineDir = Options.EngineDir;
	HostOptions.bLogToFile = Options.bLogToFile;
	const QString DataDir = FInstallPaths::DataDir();
	const QString ShippedEngineContent = DataDir + QStringLiteral("/Resources/EngineContent");
	if (HostOptions.EngineDir.isEmpty() && !DataDir.isEmpty() && QFileInfo(ShippedEngineContent).isDir())
	{
		HostOptions.EngineDir = ShippedEngineContent;
	}
	// The packaging tool builds paks with the headless editor that ships beside this one.
	const QString EditorCmd = FInstallPaths::ProgramPath(QStringLiteral("OrvaEditorCmd"));
	if (!EditorCmd.isEmpty())
	{
		UFlibHotPatcherCoreHelper::SetUECmdBinary(EditorCmd);
	}
	EditorHost = std::make_unique<FEditorHost>(HostOptions);
	if (Options.bWithSdkSubsystems)
	{
		RegisterOrvaSDKSubsystems(*EditorHost);
	}
	EditorServices = std::make_unique<FEditorServices>(EditorHost.get());
	const QString PluginDir = Options.PluginDir.isEmpty() ? DataDir : Options.PluginDir;
	EditorServices->Plugins().AddPlugin(QStringLiteral("OrvaSDK"), PluginDir);
	LoadTranslation(PluginDir);
	MainWindow = std::make_unique<SLevelEditorWindow>(*EditorServices);
	if (Options.Dialogs)
	{
		EditorHost->SetDialogService(std::move(Options.Dialogs));
	}
	else
	{
		EditorHost->SetDialogService(std::make_unique<FWidgetDialogService>(MainWindow.get()));
	}
	EditorHost->Start();

	// The packaging tool's module loads before the plugin that uses it, and unloads after it.
	HotPatcherTab = std::make_unique<FHotPatcherEditorTab>(*EditorServices);
	HotPatcherTab->StartupModule();
	SdkModule = std::make_unique<FOrvaSDKModule>(*EditorServices);
	SdkModule->StartupModule();
	EditorServices->ToolMenus().SetReady();
}

void FOrvaEditorApp::Shutdown()
{
	if (!bStarted)
	{
		return;
	}
	bStarted = false;
	if (SdkModule)
	{
		SdkModule->ShutdownModule();
	}
	if (HotPatcherTab)
	{
		HotPatcherTab->ShutdownModule();
	}
	MainWindow.reset();
	SdkModule.reset();
	HotPatcherTab.reset();
	EditorHost->Shutdown();
	EditorServices.reset();
	EditorHost.reset();
	if (Translator)
	{
		QCoreApplication::removeTranslator(Translator.get());
		Translator.reset();
	}
}

void FOrvaEditorApp::LoadTranslation(const QString& PluginDir)
{
	// The system's language first; English, the catalogue that polishes the source texts, when
	// there is none for it. The plugin's folder first, then the catalogues that ship with the editor.
	const QStringList Folders{PluginDir + QStringLiteral("/Resources/Localization"),
	                          FInstallPaths::DataDir() + QStringLiteral("/Resources/Localization")};
	const QList<QLocale> Locales{QLocale(), QLocale(QLocale::English)};
	for (const QLocale& Locale : Locales)
	{
		for (const QString& Folder : Folders)
		{
			auto Candidate = std::make_unique<QTranslator>();
			if (Candidate->load(Locale, QStringLiteral("OrvaSDK"), QStringLiteral("_"), Folder) &&
			    QCoreApplication::installTranslator(Candidate.get()))
			{
				Translator = std::move(Candidate);
				return;
			}
		}
	}
}

void FOrvaEditorApp::ApplyEditorStyle()
{
	QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
	QPalette Palette;
	const QColor Window(0x2b, 0x2b, 0x2b);
	const QColor Base(0x1a, 0x1a, 0x1a);
	const QColor Text(0xd8, 0xd8, 0xd8);
	Palette.setColor(QPalette::Window, Window);
	Palette.setColor(QPalette::WindowText, Text);
	Palette.setColor(QPalette::Base, Base);
	Palette.setColor(QPalette::AlternateBase, Window);
	Palette.setColor(QPalette::ToolTipBase, Base);
	Palette.setColor(QPalette::ToolTipText, Text);
	Palette.setColor(QPalette::Text, Text);
	Palette.setColor(QPalette::PlaceholderText, QColor(0x80, 0x80, 0x80));
	Palette.setColor(QPalette::Button, QColor(0x38, 0x38, 0x38));
	Palette.setColor(QPalette::ButtonText, Text);
	Palette.setColor(QPalette::Highlight, QColor(0x26, 0x8b, 0xd2));
	Palette.setColor(QPalette::HighlightedText, Qt::white);
	Palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x70, 0x70, 0x70));
	Palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x70, 0x70, 0x70));
	QApplication::setPalette(Palette);
}
