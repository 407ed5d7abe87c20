#pragma once

#include "EditorServices.h"

#include <QString>

// The packaging tool's part of the editor's window: the nomad tab "HotPatcher" with the tool's
// panel, listed in the Window menu. One panel per tab; closing the tab drops the panel's unsaved
// edits, never a running build, which belongs to the tool's editor module.
class FHotPatcherEditorTab : public IModuleInterface
{
public:
	static QString TabName() { return QStringLiteral("HotPatcher"); }

	explicit FHotPatcherEditorTab(FEditorServices& InEditor);
	~FHotPatcherEditorTab() override;

	void StartupModule() override;
	void ShutdownModule() override;

	SDockTab* SpawnTab(const FSpawnTabArgs& Args);

private:
	FEditorServices& Editor;
	bool bStarted = false;
};
