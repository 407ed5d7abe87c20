#pragma once

#include "AssetData.h"
#include "LevelEditorWindow.h"
#include "NativeWidgetHost.h"
#include "SoftObjectPath.h"

// A designer widget that picks the entry level: an asset picker of the
// project's levels that remembers the chosen level and tells listeners about
// each new choice. What is chosen lives with this widget and survives rebuilds
// of the picker.
class UOrvaLevelChooser : public UNativeWidgetHost
{
	Q_OBJECT
	Q_PROPERTY(FSoftObjectPath ChosenLevelPath MEMBER ChosenLevelPath DESIGNABLE false)

public:
	explicit UOrvaLevelChooser(QWidget* Parent = nullptr);

	// The level chosen now; empty when none is.
	FSoftObjectPath ChosenLevelPath;

Q_SIGNALS:
	// A level other than the chosen one was picked and loads; it is the chosen
	// level now.
	void OnOrvaLevelChoosen(const FSoftObjectPath& LevelPath);

protected:
	// Chooses InPath without telling anyone.
	Q_INVOKABLE void SetSection(const FSoftObjectPath& InPath);
	// Chooses no level without telling anyone.
	Q_INVOKABLE void ClearSection();
	Q_INVOKABLE bool IsNone() const;

	// What the picker shows: the chosen level as an object path.
	QString GetLevelPath() const;
	// The picker's pick; invalid asset data when it was cleared.
	void OnLevelChanged(const FAssetData& AssetData);
	// For the level editor's map-changed notification: a new map makes the choice
	// stale.
	void ClearSectionWhenMapChanged(UWorld* World, EMapChangeType MapChangeType);

	// The asset picker of the editor's levels; outside an editor, a line that
	// says why there is none.
	QWidget* RebuildWidget() override;

private:
	// The picker shows the chosen level again.
	void RefreshPicker();
};
