#pragma once

#include "Dialogs.h"

#include <QString>
#include <QTranslator>

#include <memory>

class FEditorHost;
class FEditorServices;
class FHotPatcherEditorTab;
class FOrvaSDKModule;
class SLevelEditorWindow;

struct FOrvaEditorOptions
{
	QString ProjectFile;
	// Empty means the XDG config home.
	QString UserSettingsDir;
	// Empty means the engine content that ships with the editor.
	QString EngineDir;
	// Where the OrvaSDK plugin lies (its Resources folder); empty means the editor's data folder.
	QString PluginDir;
	// Without them the plugin's tab shows its error text.
	bool bWithSdkSubsystems = true;
	// Null means Qt dialogs over the editor window.
	std::unique_ptr<FDialogService> Dialogs;
	bool bLogToFile = true;
};

// The editor a creator opens: the host with the plugin's subsystems, the level editor window with
// its services, and the plugin's module loaded into them.
class FOrvaEditorApp
{
public:
	explicit FOrvaEditorApp(FOrvaEditorOptions InOptions);
	// Shuts down if that was not done yet.
	~FOrvaEditorApp();
	FOrvaEditorApp(const FOrvaEditorApp&) = delete;
	FOrvaEditorApp& operator=(const FOrvaEditorApp&) = delete;

	// Starts the host (the subsystems initialise), builds the window, loads the module and lets
	// the tool menus call their start-up callbacks.
	void Start();
	// Unloads the module, then shuts the host down (the subsystems deinitialise). Safe twice.
	void Shutdown();

	FEditorHost& Host() const { return *EditorHost; }
	FEditorServices& Services() const { return *EditorServices; }
	SLevelEditorWindow& Window() const { return *MainWindow; }
	FOrvaSDKModule& Module() const { return *SdkModule; }

	// The editor's look: a dark palette on the Fusion style.
	static void ApplyEditorStyle();
	// The plugin's translation for the system's language, if one is installed:
	// Resources/Localization/OrvaSDK_<language>.qm of the plugin. Null when none was found.
	const QTranslator* GetTranslator() const { return Translator.get(); }

private:
	void LoadTranslation(const QString& PluginDir);

	FOrvaEditorOptions Options;
	std::unique_ptr<QTranslator> Translator;
	std::unique_ptr<FEditorHost> EditorHost;
	std::unique_ptr<FEditorServices> EditorServices;
	std::unique_ptr<SLevelEditorWindow> MainWindow;
	std::unique_ptr<FHotPatcherEditorTab> HotPatcherTab;
	std::unique_ptr<FOrvaSDKModule> SdkModule;
	bool bStarted = false;
};
