#pragma once

#include "AssetData.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class FClassTable;
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
	// Classes: the host's class table, which resolves the assets' classes; it outlives the registry.
	FAssetRegistry(const FPaths& Paths, const FClassTable& Classes);
	FAssetRegistry(const QList<FMountPoint>& MountPoints, const FClassTable& Classes);
	~FAssetRegistry();
	FAssetRegistry(const FAssetRegistry&) = delete;
	FAssetRegistry& operator=(const FAssetRegistry&) = delete;

	static QList<FMountPoint> DiscoverMountPoints(const FPaths& Paths);
	QList<FMountPoint> GetMountPoints() const;
	const FClassTable& GetClasses() const;

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
	bool
	GetDependencies(const QString& PackageName, QStringList& OutDependencies,
	                UE::AssetRegistry::EDependencyCategory Category = UE::AssetRegistry::EDependencyCategory::Package,
	                const UE::AssetRegistry::FDependencyQuery& Query = UE::AssetRegistry::FDependencyQuery()) const;
	// The packages that depend on PackageName (hard or soft). False when none does.
	bool GetReferencers(const QString& PackageName, QStringList& OutReferencers) const;
	// The fast form of a walk over GetDependencies and GetAssetPackageDataCopy, for projects of
	// many thousand packages (an engine's registry answers the same package by package): the
	// packages PackageName needs, transitively through package dependencies (hard, then soft),
	// that lie under the mount point MountRoot ("/Game") and are on disk. Depth first, the first
	// dependency walked first; each package is answered once, when first found, spelled as
	// GetDependencies spells it, and followed; a package for which IsKnown (when set, asked once
	// per package) answers true is neither. Empty when PackageName is not on disk. OutOfClass,
	// when given, receives PackageName and the packages answered that hold an asset whose class
	// (after class redirects) is Class or derives from it.
	QStringList GetDependenciesRecursive(const QString& PackageName, const QString& MountRoot,
	                                     const std::function<bool(const QString&)>& IsKnown = nullptr,
	                                     const UClass* Class = nullptr, QStringList* OutOfClass = nullptr) const;

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

	// Keeping the index in step with the files that the asset tools write and delete.
	void AddOrUpdatePackage(const QString& PackageName, const FPackageFile& File, const QString& Extension,
	                        qint64 DiskSize);
	void RemovePackage(const QString& PackageName);

private:
	struct FImpl;
	std::unique_ptr<FImpl> Impl;
};
