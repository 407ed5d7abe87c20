#pragma once

#include "AssetTools.h"

#include <QList>
#include <QString>
#include <QStringList>

// The content browser's asset utilities, over the host's asset tools.
namespace AssetViewUtils
{
// Loads the objects of the asset data (following redirectors to their destinations) and appends
// those that load.
void GetObjectsInAssetData(FAssetTools& Tools, const QList<FAssetData>& AssetList, QList<FObjectPtr>& OutObjects);

// Loads the objects of these object paths, taking those already loaded as they are. With
// bLoadRedirects a redirector's path loads the redirector itself, otherwise its destination. When
// more objects must be loaded than the tools' NumObjectsToLoadBeforeWarning and prompting is
// allowed, the creator is asked first; a "no" loads nothing. False when the creator declined or
// any object failed to load.
bool LoadAssetsIfNeeded(FAssetTools& Tools, const QStringList& ObjectPaths, QList<FObjectPtr>& OutLoadedObjects,
                        bool bAllowedToPromptToLoadAssets = true, bool bLoadRedirects = false);

// Moves the assets' packages into DestPath. With a SourcePath, a package below it keeps its
// path relative to SourcePath under DestPath; otherwise it lands directly in DestPath.
void MoveAssets(FAssetTools& Tools, const QList<FObjectPtr>& Assets, const QString& DestPath,
                const QString& SourcePath = QString());

// Moves each folder, with every package below it, into DestPath: "/Game/Maps" moved to "/Game/W1"
// becomes "/Game/W1/Maps", keeping the structure below it (empty folders included). Packages of
// the external actors and objects folders move with their levels, never on their own. True when
// every package moved.
bool MoveFolders(FAssetTools& Tools, const QStringList& SourcePathNames, const QString& DestPath);
} // namespace AssetViewUtils
