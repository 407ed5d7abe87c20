#pragma once

// The registry's state, shared by the files that each do one of its jobs: AssetRegistry.cpp (the
// interface), AssetRegistryPackages.cpp (names, per-package records, folders), AssetData.cpp (the
// assets of packages), AssetRegistryScan.cpp (scans: listing, parallel parsing, merging) over
// AssetDirectoryLister.h (listing package files).

#include "AssetData.h"
#include "AssetDirectoryLister.h"
#include "AssetNameTable.h"
#include "AssetRegistry.h"
#include "PackageFile.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>

#include <optional>
#include <span>
#include <vector>

class FClassTable;

namespace AssetRegistryNames
{
inline const QString MapExtension = QStringLiteral(".umap");
inline const QString AssetExtension = QStringLiteral(".uasset");

struct FAssetRecord
{
	QString Name;
	int ClassId = -1;
	QString Destination;
};

struct FPackageRecord
{
	QString Name;
	int FolderId = -1;
	int MountIndex = -1;
	int HardCount = 0;
	bool bAlive = false;
	bool bMap = false;
	bool bPartitioned = false;
	QList<FAssetRecord> Assets;
};

// What existence checks read, kept apart from the records so that walks over large projects touch
// little memory per package.
struct FPackageInfo
{
	qint64 DiskSize = 0;
	bool bMap = false;
};

struct FFolder
{
	QString Path;
	int Parent = -1;
	std::vector<int> Children;
	std::vector<int> Slots;
};

// One package file read by a scan worker.
struct FScanResult
{
	QString FilePath;
	QString PackageName;
	int MountIndex = -1;
	bool bMap = false;
	qint64 DiskSize = 0;
	std::optional<FPackageFile> File;
	QString Error;
	// The package's folder ("/Game/Maps"), and the name tables' hashes of the package name, of
	// each dependency (hard, then soft) and of each asset's class, all computed by the parsing
	// thread so that the merge, which runs on one thread, only looks them up.
	QString FolderPath;
	size_t NameHash = 0;
	QVarLengthArray<size_t, 8> DependencyHashes;
	QVarLengthArray<size_t, 2> ClassHashes;
};

// A folder a parsing thread keeps open while it reads several package files in it: each file then
// opens by its own name, without a walk over every folder of its path.
struct FOpenFolder
{
	QStringView Path; // ends with "/"; a view into the scan's list of files
	int Fd = -1;

	FOpenFolder() = default;
	FOpenFolder(const FOpenFolder&) = delete;
	FOpenFolder& operator=(const FOpenFolder&) = delete;
	~FOpenFolder() { Close(); }
	// Keeps the folder of FilePath open when NextPath (null at the end) lies in the same folder.
	void Track(const QString& FilePath, const QString* NextPath);
	void Close();
};

// Ends Path with "/".
QString WithTrailingSlash(QString Path);
} // namespace AssetRegistryNames

using namespace AssetRegistryNames;

struct FAssetRegistry::FImpl
{
	explicit FImpl(const FClassTable& InClasses)
	    : ClassTable(InClasses)
	{
	}

	const FClassTable& ClassTable;
	QList<FMountPoint> Mounts;
	QHash<FFoldedKey, int> MountByName; // "Game" -> index

	FNameTable Names;
	// Indexed by name id (a package's slot is its name's id), so that a name found in the table
	// leads straight to its package.
	std::vector<FPackageRecord> Packages;
	std::vector<FPackageInfo> Infos;
	// Per name id, a byte each, so that the existence checks a walk makes for every dependency it
	// meets stay within a few hundred kilobytes even for a large project.
	std::vector<char> OnDisk;
	// Per name id, where its dependency list starts in DependencyPool.
	std::vector<quint32> DependencyAt;
	// Every package's dependency ids in one array, each list led by its length, so that a walk
	// reads a package's list from one place. Entry 0 is the empty list that packages without one
	// point at. A package stored again appends its new list; the lists left behind are dropped
	// when they make up half of the array.
	std::vector<int> DependencyPool{0};
	size_t DependencyGarbage = 0;
	int AliveCount = 0;

	FNameTable Classes;
	std::vector<FTopLevelAssetPath> ClassPaths; // class id -> split path

	std::vector<FFolder> Folders;
	QHash<FFoldedKey, int> FolderIds;
	QString LastFolderPath;
	int LastFolderId = -1;

	// Folded content paths scanned so far -> whether that scan ignored the deny list.
	QHash<QString, bool> ScannedPaths;
	QStringList DenyList;
	QSet<QString> ReportedFiles; // files reported as bad, so each is reported once

	// ---- names, records and folders (AssetRegistryPackages.cpp) ----
	// The dependency ids of a package on disk, in file order; empty for others. Valid until the
	// registry next changes.
	std::span<const int> DependencyIdsOf(int Slot) const;
	int SlotOf(const QString& PackageName) const;
	int InternName(const QString& Name) { return InternName(Name, FNameTable::HashOf(Name)); }
	int InternName(const QString& Name, size_t Hash);
	int InternClass(const QString& Path) { return InternClass(Path, FNameTable::HashOf(Path)); }
	int InternClass(const QString& Path, size_t Hash);
	int FindFolder(const QString& Path) const { return FolderIds.value(FFoldedKey{Path}, -1); }
	// Folders are never dropped, so the folder last asked for by its exact spelling keeps its id;
	// a scan stores the packages of one folder one after another.
	int EnsureFolder(const QString& Path);
	void CollectSlots(int FolderId, bool bRecursive, std::vector<int>& Out) const;
	int MountOf(const QString& PackageName) const;
	QString FilenameOf(const FPackageRecord& Record) const;
	// Scanned: the scan's folder and precomputed hashes (see FScanResult), or null to compute them here.
	void Store(const QString& PackageName, int MountIndex, const FPackageFile& File, bool bMap, qint64 DiskSize,
	           const FScanResult* Scanned = nullptr);
	void CompactDependenciesIfWasteful();
	// The package's list becomes garbage; it points at the empty list.
	void DropDependencies(int Slot);
	void DetachFromFolder(int Slot);
	void Remove(int Slot);

	// ---- assets (AssetData.cpp) ----
	void AppendAssets(int Slot, QList<FAssetData>& Out) const;

	// ---- scanning (AssetRegistryScan.cpp) ----
	void ReportOnce(const QString& FilePath, const QString& Problem);
	bool IsDenied(const QString& ContentPath) const;
	bool IsScanned(const QString& ContentPath) const;
	// Turns a scan path (content path, package name, or folder/file on disk) into a content path.
	QString ToContentPath(const QString& Path) const;
	// Lists the package files at or below a content path (AssetDirectoryLister.h).
	void ListFiles(const QString& ContentPath, bool bIgnoreDenyList, std::vector<FScanFile>& Out) const;
	// Folder: the folder of Input kept open by the calling thread, or null to open by the full path.
	void ParseFile(const FScanFile& Input, FScanResult& Out, const FOpenFolder* Folder = nullptr) const;
	// Parses the files on every core. The calling thread merges finished batches in file order
	// (the index is not thread-safe) and parses whenever the next batch is not ready, so the merge
	// overlaps the parsing instead of following it.
	template <class FMerge>
	void ParseAndMerge(const std::vector<FScanFile>& Files, FMerge&& Merge) const;
	void Scan(const QStringList& ContentPaths, bool bIgnoreDenyList);
};
