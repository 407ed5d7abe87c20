#pragma once

#include "Commands.h"
#include "SlateStyle.h"
#include "TabManager.h"
#include "ToolMenus.h"

#include <QHash>
#include <QString>

#include <optional>

class FEditorHost;

// What an editor module is given: loaded once, unloaded once, by whoever owns it.
class IModuleInterface
{
public:
	virtual ~IModuleInterface() = default;
	virtual void StartupModule() {}
	virtual void ShutdownModule() {}
};

// The plugins the editor knows and the folders they lie in.
class FPluginManager
{
public:
	void AddPlugin(const QString& Name, const QString& BaseDir) { BaseDirs.insert(Name, BaseDir); }
	std::optional<QString> FindPluginBaseDir(const QString& Name) const;

private:
	QHash<QString, QString> BaseDirs;
};

// The editor's own services that modules extend: menus and toolbars, tabs, styles, commands and
// plugins, with the host whose subsystems they reach. One per editor window; tests make their own.
class FEditorServices
{
public:
	// Host may be null: modules then find no subsystems.
	explicit FEditorServices(FEditorHost* InHost = nullptr);
	~FEditorServices();
	FEditorServices(const FEditorServices&) = delete;
	FEditorServices& operator=(const FEditorServices&) = delete;

	FEditorHost* GetHost() const { return Host; }
	FToolMenus& ToolMenus() { return Menus; }
	FGlobalTabManager& TabManager() { return Tabs; }
	FSlateStyleRegistry& StyleRegistry() { return Styles; }
	FInputBindingManager& InputBindings() { return Bindings; }
	FPluginManager& Plugins() { return PluginList; }

private:
	FEditorHost* Host;
	FSlateStyleRegistry Styles;
	FInputBindingManager Bindings;
	FPluginManager PluginList;
	FToolMenus Menus;
	FGlobalTabManager Tabs;
};
