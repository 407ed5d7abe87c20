#include "EditorServices.h"

#include "EditorHost.h"

std::optional<QString> FPluginManager::FindPluginBaseDir(const QString& Name) const
{
	const auto Found = BaseDirs.constFind(Name);
	if (Found == BaseDirs.constEnd())
	{
		return std::nullopt;
	}
	return *Found;
}

FEditorServices::FEditorServices(FEditorHost* InHost)
    : Host(InHost)
    , Menus(&Styles)
{
	if (Host)
	{
		// Lets code without widgets (the plugin's subsystem) open tabs by id.
		Host->SetTabInvoker(&Tabs, [this](const QString& TabId) { return Tabs.TryInvokeTab(TabId) != nullptr; });
	}
}

FEditorServices::~FEditorServices() = default;
