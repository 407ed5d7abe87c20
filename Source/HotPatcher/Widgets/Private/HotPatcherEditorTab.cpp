#include "HotPatcherEditorTab.h"

#include "SHotPatcher.h"

FHotPatcherEditorTab::FHotPatcherEditorTab(FEditorServices& InEditor)
    : Editor(InEditor)
{
}

FHotPatcherEditorTab::~FHotPatcherEditorTab()
{
	ShutdownModule();
}

void FHotPatcherEditorTab::StartupModule()
{
	if (bStarted)
	{
		return;
	}
	bStarted = true;
	Editor.TabManager()
	    .RegisterNomadTabSpawner(TabName(), [this](const FSpawnTabArgs& Args) { return SpawnTab(Args); })
	    .SetDisplayName(NSLOCTEXT("HotPatcher", "HotPatcherTab", "HotPatcher"))
	    .SetMenuType(ETabSpawnerMenuType::Enabled);
}

void FHotPatcherEditorTab::ShutdownModule()
{
	if (!bStarted)
	{
		return;
	}
	bStarted = false;
	Editor.TabManager().UnregisterNomadTabSpawner(TabName());
}

SDockTab* FHotPatcherEditorTab::SpawnTab(const FSpawnTabArgs&)
{
	auto* Tab = new SDockTab(ETabRole::NomadTab);
	Tab->SetContent(new SHotPatcher(Editor.GetHost()));
	return Tab;
}
