#include "AssetRegistry.h"

#include "AssetRegistryImpl.h"
#include "ObjectClasses.h"
#include "PackageName.h"
#include "Paths.h"

#include <QDir>

#include <algorithm>

FAssetRegistry::FAssetRegistry(const FPaths& Paths, const FClassTable& Classes)
    : FAssetRegistry(DiscoverMountPoints(Paths), Classes)
{
}

FAssetRegistry::FAssetRegistry(const QList<FMountPoint>& MountPoints, const FClassTable& Classes)
    : Impl(std::make_unique<FImpl>(Classes))
{
	for (const FMountPoint& Mount : MountPoints)
	{
		const QString Name = FPackageName::GetMountPointName(Mount.RootPath);
		if (Name.isEmpty() || Impl->MountByName.contains(FFoldedKey{Name}))
		{
			continue;
		}
		Impl->MountByName.insert(FFoldedKey{Name}, int(Impl->Mounts.size()));
		Impl->Mounts.append(FMountPoint{QLatin1Char('/') + Name,
		                                WithTrailingSlash(FPaths::ConvertRelativePathToFull(Mount.ContentDir))});
	}
}

FAssetRegistry::~FAssetRegistry() = default;

QList<FMountPoint> FAssetRegistry::DiscoverMountPoints(const FPaths& Paths)
{
	QList<FMountPoint> Mounts{{QStringLiteral("/Game"), Paths.ProjectContentDir()}};
	if (!Paths.EngineContentDir().isEmpty())
	{
		Mounts.append({QStringLiteral("/Engine"), Paths.EngineContentDir()});
	}
	const QDir PluginsDir(Paths.ProjectPluginsDir());
	const QStringList PluginFolders = PluginsDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
	for (const QString& Folder : PluginFolders)
	{
		const QStringList Descriptors =
		    QDir(PluginsDir.filePath(Folder)).entryList({QStringLiteral("*.uplugin")}, QDir::Files);
		if (!Descriptors.isEmpty())
		{
			Mounts.append({QLatin1Char('/') + FPaths::GetBaseFilename(Descriptors.first()),
			               PluginsDir.filePath(Folder) + QStringLiteral("/Content/")});
		}
	}
	return Mounts;
}

QList<FMountPoint> FAssetRegistry::GetMountPoints() const
{
	return Impl->Mounts;
}

const FClassTable& FAssetRegistry::GetClasses() const
{
	return Impl->ClassTable;
}

bool FAssetRegistry::TryConvertLongPackageNameToFilename(const QString& PackageName, QString& OutFilename,
                                                         const QString& Extension) const
{
	const int MountIndex = Impl->MountOf(PackageName);
	if (MountIndex < 0 || !FPackageName::IsValidLongPackageName(PackageName))
	{
		return false;
	}
	OutFilename = Impl->Mounts[MountIndex].ContentDir + FPackageName::GetPathAfterMountPoint(PackageName) + Extension;
	return true;
}

bool FAssetRegistry::TryConvertFilenameToLongPackageName(const QString& Filename, QString& OutPackageName,
                                                         QString* OutReason) const
{
	const QString ContentPath = Impl->ToContentPath(Filename);
	if (ContentPath.isEmpty())
	{
		if (OutReason)
		{
			*OutReason = QStringLiteral("the file lies under no mount point's folder");
		}
		return false;
	}
	if (!FPackageName::IsValidLongPackageName(ContentPath, OutReason))
	{
		return false;
	}
	OutPackageName = ContentPath;
	return true;
}

QString FAssetRegistry::GetPackageFilename(const QString& PackageName) const
{
	const int Slot = Impl->SlotOf(PackageName);
	return Slot < 0 ? QString() : Impl->FilenameOf(Impl->Packages[size_t(Slot)]);
}

bool FAssetRegistry::IsValidPackageName(const QString& PackageName, QString* OutReason) const
{
	if (!FPackageName::IsValidLongPackageName(PackageName, OutReason))
	{
		return false;
	}
	if (!FPackageName::IsScriptPackage(PackageName) && Impl->MountOf(PackageName) < 0)
	{
		if (OutReason)
		{
			*OutReason = QStringLiteral("no mount point \"/") + FPackageName::GetMountPointName(PackageName) +
			             QStringLiteral("\"");
		}
		return false;
	}
	return true;
}

void FAssetRegistry::SearchAllAssets(bool)
{
	QStringList Roots;
	for (const FMountPoint& Mount : Impl->Mounts)
	{
		Roots.append(Mount.RootPath);
	}
	Impl->Scan(Roots, false);
}

void FAssetRegistry::ScanPathsSynchronous(const QStringList& Paths, bool bForceRescan, bool bIgnoreDenyListScanFilters)
{
	QStringList ToScan;
	for (const QString& Path : Paths)
	{
		const QString ContentPath = Impl->ToContentPath(Path);
		if (ContentPath.isEmpty() || FPackageName::IsScriptPackage(ContentPath))
		{
			continue;
		}
		if (!bIgnoreDenyListScanFilters && Impl->IsDenied(ContentPath))
		{
			continue;
		}
		if (!bForceRescan && Impl->IsScanned(ContentPath))
		{
			continue;
		}
		ToScan.append(ContentPath);
	}
	if (!ToScan.isEmpty())
	{
		Impl->Scan(ToScan, bIgnoreDenyListScanFilters);
	}
}

void FAssetRegistry::SetScanDenyList(const QStringList& PackagePaths)
{
	Impl->DenyList = PackagePaths;
}

bool FAssetRegistry::GetDependencies(const QString& PackageName, QStringList& OutDependencies,
                                     UE::AssetRegistry::EDependencyCategory Category,
                                     const UE::AssetRegistry::FDependencyQuery& Query) const
{
	using namespace UE::AssetRegistry;
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot < 0)
	{
		return false;
	}
	if ((int(Category) & int(EDependencyCategory::Package)) == 0)
	{
		return true;
	}
	const FPackageRecord& Record = Impl->Packages[size_t(Slot)];
	const std::span<const int> All = Impl->DependencyIdsOf(Slot);
	const size_t Begin = Query.Required == EDependencyQuery::Soft ? size_t(Record.HardCount) : 0;
	const size_t End = Query.Required == EDependencyQuery::Hard ? size_t(Record.HardCount) : All.size();
	OutDependencies.reserve(OutDependencies.size() + qsizetype(End - Begin));
	for (size_t Index = Begin; Index < End; ++Index)
	{
		// The table's own text, shared rather than copied.
		OutDependencies.append(Impl->Names.Text(All[Index]));
	}
	return true;
}

bool FAssetRegistry::GetReferencers(const QString& PackageName, QStringList& OutReferencers) const
{
	const qsizetype Before = OutReferencers.size();
	// Names that differ only in case share an id; a name the registry never met has no referencer.
	const int Target = Impl->Names.Find(PackageName);
	if (Target < 0)
	{
		return false;
	}
	for (size_t Slot = 0; Slot < Impl->Packages.size(); ++Slot)
	{
		const std::span<const int> Dependencies = Impl->DependencyIdsOf(int(Slot));
		if (std::find(Dependencies.begin(), Dependencies.end(), Target) != Dependencies.end())
		{
			OutReferencers.append(Impl->Packages[Slot].Name);
		}
	}
	return OutReferencers.size() > Before;
}

QStringList FAssetRegistry::GetDependenciesRecursive(const QString& PackageName, const QString& MountRoot,
                                                     const std::function<bool(const QString&)>& IsKnown,
                                                     const UClass* Class, QStringList* OutOfClass) const
{
	QStringList Out;
	const int Root = Impl->SlotOf(PackageName);
	const int Mount = Impl->MountByName.value(FFoldedKey{FPackageName::GetMountPointName(MountRoot)}, -1);
	if (Root < 0)
	{
		return Out;
	}
	// By id, so that the walk hashes no name and reads no text but the ones it answers.
	std::vector<char> Seen(size_t(Impl->Names.Count()), 0);
	std::vector<signed char> ClassMatches(Impl->ClassPaths.size(), -1);
	const auto HoldsClass = [&](int Slot)
	{
		for (const FAssetRecord& Asset : Impl->Packages[size_t(Slot)].Assets)
		{
			signed char& Match = ClassMatches[size_t(Asset.ClassId)];
			if (Match < 0)
			{
				const UClass* Resolved =
				    Impl->ClassTable.ResolveClass(Impl->ClassPaths[size_t(Asset.ClassId)].ToString());
				Match = Resolved && Resolved->IsChildOf(Class) ? 1 : 0;
			}
			if (Match > 0)
			{
				return true;
			}
		}
		return false;
	};
	Seen[size_t(Root)] = 1;
	std::vector<int> Stack{Root};
	while (!Stack.empty())
	{
		const int Current = Stack.back();
		Stack.pop_back();
		if (OutOfClass && Class && HoldsClass(Current))
		{
			OutOfClass->append(Current == Root ? PackageName : Impl->Names.Text(Current));
		}
		// Pushed in reverse so the first dependency is walked first.
		const std::span<const int> Dependencies = Impl->DependencyIdsOf(Current);
		for (auto It = Dependencies.rbegin(); It != Dependencies.rend(); ++It)
		{
			const int Dependency = *It;
			if (Seen[size_t(Dependency)])
			{
				continue;
			}
			Seen[size_t(Dependency)] = 1;
			if (Mount < 0 || !Impl->OnDisk[size_t(Dependency)] ||
			    Impl->Packages[size_t(Dependency)].MountIndex != Mount ||
			    (IsKnown && IsKnown(Impl->Names.Text(Dependency))))
			{
				continue;
			}
			Out.append(Impl->Names.Text(Dependency));
			Stack.push_back(Dependency);
		}
	}
	return Out;
}

std::optional<FAssetPackageData> FAssetRegistry::GetAssetPackageDataCopy(const QString& PackageName) const
{
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot < 0)
	{
		return std::nullopt;
	}
	const FPackageInfo& Info = Impl->Infos[size_t(Slot)];
	return FAssetPackageData{Info.DiskSize, Info.bMap ? MapExtension : AssetExtension};
}

bool FAssetRegistry::DoesPackageExistOnDisk(const QString& PackageName, QString* OutCorrectCasePackageName,
                                            QString* OutExtension) const
{
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot < 0)
	{
		return false;
	}
	if (OutCorrectCasePackageName)
	{
		*OutCorrectCasePackageName = Impl->Packages[size_t(Slot)].Name;
	}
	if (OutExtension)
	{
		*OutExtension = Impl->Infos[size_t(Slot)].bMap ? MapExtension : AssetExtension;
	}
	return true;
}

bool FAssetRegistry::DoesPackageExist(const QString& PackageName) const
{
	return (FPackageName::IsScriptPackage(PackageName) && FPackageName::IsValidLongPackageName(PackageName)) ||
	       DoesPackageExistOnDisk(PackageName);
}

bool FAssetRegistry::IsLevelPackage(const QString& PackageName) const
{
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot < 0 || Impl->Packages[size_t(Slot)].Assets.isEmpty())
	{
		return false;
	}
	const UClass* Class =
	    Impl->ClassTable.ResolveClass(Impl->Classes.Text(Impl->Packages[size_t(Slot)].Assets.first().ClassId));
	return Class && Class->IsChildOf(UWorld::StaticClass());
}

QStringList FAssetRegistry::GetAllPackageNames() const
{
	QStringList Out;
	Out.reserve(Impl->AliveCount);
	for (const FPackageRecord& Record : Impl->Packages)
	{
		if (Record.bAlive)
		{
			Out.append(Record.Name);
		}
	}
	return Out;
}

int FAssetRegistry::GetPackageCount() const
{
	return Impl->AliveCount;
}

void FAssetRegistry::AddOrUpdatePackage(const QString& PackageName, const FPackageFile& File, const QString& Extension,
                                        qint64 DiskSize)
{
	const int MountIndex = Impl->MountOf(PackageName);
	if (MountIndex < 0 || !FPackageName::IsValidLongPackageName(PackageName))
	{
		return;
	}
	QString Filename;
	TryConvertLongPackageNameToFilename(PackageName, Filename, Extension);
	Impl->ReportedFiles.remove(Filename);
	Impl->Store(PackageName, MountIndex, File, Extension.compare(MapExtension, Qt::CaseInsensitive) == 0, DiskSize);
}

void FAssetRegistry::RemovePackage(const QString& PackageName)
{
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot >= 0)
	{
		Impl->Remove(Slot);
	}
}
