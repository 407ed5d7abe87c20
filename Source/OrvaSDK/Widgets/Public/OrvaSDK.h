#pragma once

#include "EditorServices.h"

#include <QString>

#include <memory>

// The plugin's module: its style, its command, its entries in the level editor's Window menu and
// play toolbar, and the nomad tab "OrvaSDKTab" that shows the plugin's root view. It holds no SDK
// state: the tab reaches the SDK subsystem of the editor's host each time it is spawned.
class FOrvaSDKModule : public IModuleInterface
{
public:
	static QString TabName() { return QStringLiteral("OrvaSDKTab"); }
	// The dockable tab of the activity list.
	static QString ActivityTabName() { return QStringLiteral("OrvaSDKActivityTab"); }

	explicit FOrvaSDKModule(FEditorServices& InEditor);
	~FOrvaSDKModule() override;

	void StartupModule() override;
	void ShutdownModule() override;

	// The action of PluginAction: opens the tab, or brings it to front.
	void PluginButtonClicked();
	// The tool-menu start-up callback.
	void RegisterMenus();
	SDockTab* OnSpawnPluginTab(const FSpawnTabArgs& SpawnTabArgs);
	SDockTab* OnSpawnActivityTab(const FSpawnTabArgs& SpawnTabArgs);

	// Binds PluginAction to PluginButtonClicked; from start-up to shut-down.
	std::shared_ptr<FUICommandList> PluginCommands;

private:
	FEditorServices& Editor;
	bool bStarted = false;
};
