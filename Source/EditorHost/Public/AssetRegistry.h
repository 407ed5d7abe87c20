#pragma once

#include "AssetData.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <span>

class FPaths;
class UClass;
struct FPackageFile;

// A mount point: the root of package names ("/Game") and the folder its packages lie in.
struct FMountPoint
{
	// "/Game", "/Engine", "/<PluginName>".
	QString RootPath;
	// Absolute, ending with "/".
	QString ContentDir;
};

// The asset registry: an index of every package file under the mount points' folders, built by a
// scan (the host's start-up scan, or a forced scan of one path) and kept in step by the asset tools
// when they move, rewrite or delete packages. Package names compare ignoring case.
//
// Package files are parsed in parallel when scanning; a file that cannot be parsed, or whose path
// makes no valid package name, is reported once as an error line and skipped. Everything else is
// main-thread only.
class FAssetRegistry
{
public:
	// Mounts "/Game" (the project's Content/), "/Engine" (the engine content folder, when the host
	// has one) and "/<Name>" for each project plugin found as Plugins/*/<Name>.uplugin.
	explicit FAssetRegistry(const FPaths& Paths);
	explicit FAssetRegistry(const QList<FMountPoint>& MountPoints);
	~FAssetRegistry();
	FAssetRegistry(const FAssetRegistry&) = delete;
	FAssetRegistry& operator=(const FAssetRegistry&) = delete;

	static QList<FMountPoint> DiscoverMountPoints(const FPaths& Paths);
	QList<FMountPoint> GetMountPoints() const;

	// "/Game/Maps/Entry" -> "<Content>/Maps/Entry" + Extension. False for names of no mounted
	// folder ("/Script/..." included: code has no file).
	bool TryConvertLongPackageNameToFilename(const QString& PackageName, QString& OutFilename,
		const QString& Extension = QString()) const;
	// A package file's path (".uasset"/".umap" or none) -> its package name.
	bool TryConvertFilenameToLongPackageName(const QString& Filename, QString& OutPackageName,
		QString* OutReason = nullptr) const;
	// The file of a package the registry knows; empty otherwise.
	QString GetPackageFilename(const QString& PackageName) const;
	// A valid package name whose mount point is mounted or is "/Script"; OutReason says why not.
	bool IsValidPackageName(const QString& PackageName, QString* OutReason = nullptr) const;

	// Scans every mount point's folder from scratch. The search is always synchronous here.
	void SearchAllAssets(bool bSynchronousSearch = true);
	// Scans content paths ("/Game/Maps", or a package name) or folders on disk. Paths already scanned
	// are skipped unless bForceRescan, which re-reads their files: new files are added, changed ones
	// updated, vanished ones dropped. Paths on the deny list are skipped unless
	// bIgnoreDenyListScanFilters.
	void ScanPathsSynchronous(const QStringList& Paths, bool bForceRescan = false,
		bool bIgnoreDenyListScanFilters = false);
	// Content paths that scans leave out (with their sub-folders) unless told to ignore the list.
	void SetScanDenyList(const QStringList& PackagePaths);
	bool IsLoadingAssets() const { return false; }

	// The packages PackageName depends on: hard ones, then soft ones, in file order. False when
	// the package is unknown.
	bool GetDependencies(const QString& PackageName, QStringList& OutDependencies,
		UE::AssetRegistry::EDependencyCategory Category = UE::AssetRegistry::EDependencyCategory::Package,
		const UE::AssetRegistry::FDependencyQuery& Query = UE::AssetRegistry::FDependencyQuery()) const;
	// The packages that depend on PackageName (hard or soft). False when none does.
	bool GetReferencers(const QString& PackageName, QStringList& OutReferencers) const;

	// Present only for a package the registry found on disk ("/Script/..." never is).
	std::optional<FAssetPackageData> GetAssetPackageDataCopy(const QString& PackageName) const;
	bool DoesPackageExistOnDisk(const QString& PackageName, QString* OutCorrectCasePackageName = nullptr,
		QString* OutExtension = nullptr) const;
	// On disk, or a "/Script/..." package (code, which exists without a file).
	bool DoesPackageExist(const QString& PackageName) const;
	// Whether the package's main asset is a level (its class is a world or derives from one).
	bool IsLevelPackage(const QString& PackageName) const;

	// The assets of one package, in file order. Every asset the host knows is on disk and the host
	// registers no asset filters, so the two flags change nothing. False for an invalid name.
	bool GetAssetsByPackageName(const QString& PackageName, QList<FAssetData>& OutAssetData,
		bool bIncludeOnlyOnDiskAssets = false, bool bSkipARFilteredAssets = true) const;
	// The assets of the packages in a content folder, and with bRecursive in its sub-folders.
	bool GetAssetsByPath(const QString& PackagePath, QList<FAssetData>& OutAssetData, bool bRecursive = false,
		bool bIncludeOnlyOnDiskAssets = false) const;
	bool GetAssets(const FARFilter& Filter, QList<FAssetData>& OutAssetData) const;
	bool GetAllAssets(QList<FAssetData>& OutAssetData, bool bIncludeOnlyOnDiskAssets = false) const;
	// Invalid asset data when there is no such object on disk.
	FAssetData GetAssetByObjectPath(const FSoftObjectPath& ObjectPath) const;
	QStringList GetAllPackageNames() const;
	int GetPackageCount() const;

	// Package ids, for walks over large projects that would otherwise hash every name they meet.
	// Every package name the registry has met (a package found on disk, or a name a package
	// depends on) has an id, dense from 0 and the same for the registry's life; names that differ
	// only in case share one. Scans may add ids, never change or drop one.
	// -1 when the registry never met the name.
	int FindPackageId(const QString& PackageName) const;
	// Ids are below this.
	int GetPackageIdCount() const;
	// The name as the registry first met it (the spelling GetDependencies answers).
	const QString& GetPackageNameById(int Id) const;
	// Whether that package is on disk: GetAssetPackageDataCopy answers a value for its name.
	bool IsPackageOnDisk(int Id) const;
	// The index in GetMountPoints() of the mount point whose root the name begins with, followed
	// by "/" ("/Game" for "/Game/Maps/Entry"), ignoring case; -1 for none ("/Script/Engine").
	int GetPackageMountIndex(int Id) const;
	// GetDependencies of that package as ids, in the same order; empty when it is not on disk.
	// Valid until the registry next changes.
	std::span<const int> GetDependencyIds(int Id) const;
	// A hint that GetDependencyIds(Id) follows soon: starts fetching the list into the cache
	// without waiting for it, so that a walk overlaps the cache misses of a large project.
	void PrefetchDependencyIds(int Id) const;
	// Whether any asset of that package has a class that resolves (after class redirects) to Class
	// or to a class derived from it; false when the package is not on disk.
	bool HasAssetOfClass(int Id, const UClass* Class) const;

	// Keeping the index in step with the files that the asset tools write and delete.
	void AddOrUpdatePackage(const QString& PackageName, const FPackageFile& File, const QString& Extension,
		qint64 DiskSize);
	void RemovePackage(const QString& PackageName);

private:
	struct FImpl;
	std::unique_ptr<FImpl> Impl;
};
