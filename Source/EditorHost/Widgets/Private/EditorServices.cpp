#include "EditorServices.h"

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
}

FEditorServices::~FEditorServices() = default;
