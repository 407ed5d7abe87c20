#include "AssetViewUtils.h"

#include "AssetRegistry.h"
#include "Dialogs.h"
#include "Log.h"
#include "ObjectClasses.h"
#include "PackageName.h"

#include <QDir>
#include <QDirIterator>
#include <QSet>

#include <algorithm>

namespace
{
QString WithoutTrailingSlash(QString Path)
{
	while (Path.size() > 1 && Path.endsWith(QLatin1Char('/')))
	{
		Path.chop(1);
	}
	return Path;
}

// The folder on disk of a content path, when its mount point is mounted.
QString FolderOnDisk(const FAssetRegistry& Registry, const QString& ContentPath)
{
	const QString Mount = QLatin1Char('/') + FPackageName::GetMountPointName(ContentPath);
	for (const FMountPoint& Point : Registry.GetMountPoints())
	{
		if (Point.RootPath.compare(Mount, Qt::CaseInsensitive) == 0)
		{
			return Point.ContentDir + FPackageName::GetPathAfterMountPoint(ContentPath);
		}
	}
	return QString();
}
} // namespace

void AssetViewUtils::GetObjectsInAssetData(FAssetTools& Tools, const QList<FAssetData>& AssetList,
                                           QList<FObjectPtr>& OutObjects)
{
	for (const FAssetData& Asset : AssetList)
	{
		if (const FObjectPtr Object = Asset.IsValid() ? Tools.LoadObject(Asset.GetObjectPathString()) : nullptr)
		{
			OutObjects.append(Object);
		}
	}
}

bool AssetViewUtils::LoadAssetsIfNeeded(FAssetTools& Tools, const QStringList& ObjectPaths,
                                        QList<FObjectPtr>& OutLoadedObjects, bool bAllowedToPromptToLoadAssets,
                                        bool bLoadRedirects)
{
	QStringList Unloaded;
	bool bAnyMap = false;
	for (const QString& Path : ObjectPaths)
	{
		const FObjectPtr Found = Tools.FindObject(Path);
		if (Found && (bLoadRedirects || !Found->IsRedirector()))
		{
			OutLoadedObjects.append(Found);
			continue;
		}
		Unloaded.append(Path);
		bAnyMap = bAnyMap || Tools.GetRegistry().IsLevelPackage(FPackageName::ObjectPathToPackageName(Path));
	}
	if (Unloaded.isEmpty())
	{
		return true;
	}
	FDialogService* Dialogs = Tools.GetDialogs();
	const bool bMany = Unloaded.size() > Tools.NumObjectsToLoadBeforeWarning;
	if (bAllowedToPromptToLoadAssets && bMany && Dialogs &&
	    Dialogs->MessageBox(
	        EAppMsgType::YesNo,
	        QStringLiteral("You are about to load %1 assets. Would you like to proceed?").arg(Unloaded.size()),
	        QStringLiteral("Load Assets")) != EAppReturnType::Yes)
	{
		return false;
	}
	std::optional<FScopedSlowTask> Progress;
	if (Dialogs && (bMany || bAnyMap))
	{
		Progress.emplace(*Dialogs, float(Unloaded.size()), QStringLiteral("Loading Objects..."));
	}
	return Tools.LoadObjects(Unloaded, bLoadRedirects, OutLoadedObjects,
	                         [&](const QString& Path)
	                         {
		                         if (Progress)
		                         {
			                         Progress->EnterProgressFrame(1.f, Path);
		                         }
	                         });
}

void AssetViewUtils::MoveAssets(FAssetTools& Tools, const QList<FObjectPtr>& Assets, const QString& DestPath,
                                const QString& SourcePath)
{
	const QString Destination = WithoutTrailingSlash(DestPath);
	const QString Source = WithoutTrailingSlash(SourcePath);
	QList<FAssetRenameData> Renames;
	for (const FObjectPtr& Object : Assets)
	{
		if (!Object || !Object->IsValid())
		{
			continue;
		}
		const QString PackagePath = FPackageName::GetLongPackagePath(Object->GetPackageName());
		QString NewPath = Destination;
		if (!Source.isEmpty() && FPackageName::IsUnderPath(PackagePath, Source))
		{
			NewPath += PackagePath.mid(Source.size());
		}
		Renames.append({Object, NewPath, FPackageName::GetShortName(Object->GetPackageName())});
	}
	Tools.RenameAssets(Renames);
}

bool AssetViewUtils::MoveFolders(FAssetTools& Tools, const QStringList& SourcePathNames, const QString& DestPath)
{
	FAssetRegistry& Registry = Tools.GetRegistry();
	const QString Destination = WithoutTrailingSlash(DestPath);
	if (!FPackageName::IsValidPackagePath(Destination) || FolderOnDisk(Registry, Destination).isEmpty())
	{
		UE_LOG(LogEditorHost, Error,
		       QStringLiteral("Cannot move folders to ") + DestPath +
		           QStringLiteral(": it is no content folder of a mounted mount point"));
		return false;
	}
	bool bAll = true;
	for (const QString& SourcePathName : SourcePathNames)
	{
		const QString Source = WithoutTrailingSlash(SourcePathName);
		const QString NewBase = Destination + QLatin1Char('/') + FPackageName::GetShortName(Source);
		const QString SourceDir = FolderOnDisk(Registry, Source);
		QString Reason;
		if (!FPackageName::IsValidLongPackageName(Source, &Reason) || SourceDir.isEmpty())
		{
			UE_LOG(LogEditorHost, Error,
			       QStringLiteral("Cannot move folder ") + SourcePathName + QStringLiteral(": ") +
			           (Reason.isEmpty() ? QStringLiteral("its mount point is not mounted") : Reason));
			bAll = false;
			continue;
		}
		if (FPackageName::IsUnderPath(Destination, Source))
		{
			UE_LOG(LogEditorHost, Error,
			       QStringLiteral("Cannot move folder ") + Source + QStringLiteral(" into ") + Destination +
			           QStringLiteral(", which lies inside it"));
			bAll = false;
			continue;
		}
		if (Source.compare(NewBase, Qt::CaseInsensitive) == 0)
		{
			continue;
		}
		const QString FirstFolder = FPackageName::GetPathAfterMountPoint(Source).section(QLatin1Char('/'), 0, 0);
		if (FirstFolder.compare(FPackageName::ExternalActorsFolderName(), Qt::CaseInsensitive) == 0 ||
		    FirstFolder.compare(FPackageName::ExternalObjectsFolderName(), Qt::CaseInsensitive) == 0)
		{
			UE_LOG(LogEditorHost, Warning,
			       QStringLiteral("Folder ") + Source +
			           QStringLiteral(
			               " holds external packages of levels; they move with their levels, not on their own"));
			continue;
		}
		QList<FAssetData> Assets;
		Registry.GetAssetsByPath(Source, Assets, true);
		if (Assets.isEmpty() && !QDir(SourceDir).exists())
		{
			UE_LOG(LogEditorHost, Error,
			       QStringLiteral("Cannot move folder ") + Source + QStringLiteral(": it does not exist"));
			bAll = false;
			continue;
		}
		QStringList Packages;
		QSet<QString> Seen;
		int ExternalCount = 0;
		for (const FAssetData& Asset : Assets)
		{
			const QString Key = Asset.PackageName.toCaseFolded();
			if (Seen.contains(Key))
			{
				continue;
			}
			Seen.insert(Key);
			if (FPackageName::IsExternalPackage(Asset.PackageName))
			{
				++ExternalCount;
				continue;
			}
			Packages.append(Asset.PackageName);
		}
		if (ExternalCount > 0)
		{
			UE_LOG(
			    LogEditorHost, Warning,
			    QStringLiteral(
			        "Folder %1 holds %2 external packages of levels; they move with their levels, not with the folder")
			        .arg(Source)
			        .arg(ExternalCount));
		}
		std::sort(Packages.begin(), Packages.end());
		QList<QPair<QString, QString>> Moves;
		Moves.reserve(Packages.size());
		for (const QString& Package : Packages)
		{
			Moves.append({Package, NewBase + Package.mid(Source.size())});
		}
		const bool bMoved = Tools.MovePackages(Moves);
		bAll = bMoved && bAll;

		// Sub-folders without packages come along too, so the structure stays the same.
		const QString NewDir = FolderOnDisk(Registry, NewBase);
		QDir().mkpath(NewDir);
		QDirIterator It(SourceDir, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
		while (It.hasNext())
		{
			const QString Folder = It.next();
			QDir().mkpath(NewDir + Folder.mid(SourceDir.size()));
		}
		UE_LOG(LogEditorHost, Display,
		       QStringLiteral("Moved folder %1 to %2 (%3 packages%4)")
		           .arg(Source, NewBase)
		           .arg(Packages.size())
		           .arg(bMoved ? QString() : QStringLiteral(", some failed")));
	}
	return bAll;
}
