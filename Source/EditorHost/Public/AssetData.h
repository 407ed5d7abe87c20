#pragma once

#include "SoftObjectPath.h"

#include <QList>
#include <QString>
#include <QStringList>

class UClass;

// A class's or top-level object's path: "/Script/Engine.World" is package "/Script/Engine",
// asset "World".
struct FTopLevelAssetPath
{
	QString PackageName;
	QString AssetName;

	FTopLevelAssetPath() = default;
	FTopLevelAssetPath(const QString& InPackageName, const QString& InAssetName)
	    : PackageName(InPackageName)
	    , AssetName(InAssetName)
	{
	}
	// From the text form "/Script/Engine.World"; empty when it has no dot.
	explicit FTopLevelAssetPath(const QString& Path);

	bool IsValid() const { return !PackageName.isEmpty() && !AssetName.isEmpty(); }
	QString ToString() const { return IsValid() ? PackageName + QLatin1Char('.') + AssetName : QString(); }
	bool operator==(const FTopLevelAssetPath& Other) const;
};

// What the registry knows of one asset on disk.
struct FAssetData
{
	// "/Game/Maps/Entry"
	QString PackageName;
	// "/Game/Maps"
	QString PackagePath;
	// "Entry"
	QString AssetName;
	// "/Script/Engine.World", as written in the package (before class redirects).
	FTopLevelAssetPath AssetClassPath;
	// Redirectors only: the object path they point at.
	QString DestinationObjectPath;

	bool IsValid() const { return !PackageName.isEmpty() && !AssetName.isEmpty(); }
	// "/Game/Maps/Entry.Entry"
	QString GetObjectPathString() const { return IsValid() ? PackageName + QLatin1Char('.') + AssetName : QString(); }
	FSoftObjectPath GetSoftObjectPath() const { return FSoftObjectPath(PackageName, AssetName); }
	// Whether the class (after the engine's class redirects) is the engine's object redirector.
	bool IsRedirector() const;
};

// The registry's record of a package on disk.
struct FAssetPackageData
{
	// Size of the package file in bytes.
	qint64 DiskSize = 0;
	// ".uasset" or ".umap".
	QString Extension;
};

// A query for FAssetRegistry::GetAssets. Within one field any entry matches; across fields all
// non-empty fields must match.
struct FARFilter
{
	QStringList PackageNames;
	// Content folders ("/Game/Maps"); with bRecursivePaths their sub-folders too.
	QStringList PackagePaths;
	QList<FSoftObjectPath> SoftObjectPaths;
	// With bRecursiveClasses, classes derived from these too.
	QList<FTopLevelAssetPath> ClassPaths;
	bool bRecursivePaths = false;
	bool bRecursiveClasses = false;
	// Every asset the host knows is on disk; kept for the engine's call form.
	bool bIncludeOnlyOnDiskAssets = false;
};

namespace UE::AssetRegistry
{
// Which kind of dependency to list. Packages are the only kind this host records; the other
// categories answer nothing.
enum class EDependencyCategory
{
	Package = 0x1,
	Manage = 0x2,
	SearchableName = 0x4,
	All = Package | Manage | SearchableName,
};

enum class EDependencyQuery
{
	NoRequirements,
	Hard,
	Soft,
};

struct FDependencyQuery
{
	EDependencyQuery Required = EDependencyQuery::NoRequirements;

	FDependencyQuery() = default;
	FDependencyQuery(EDependencyQuery InRequired)
	    : Required(InRequired)
	{
	}
};
} // namespace UE::AssetRegistry
