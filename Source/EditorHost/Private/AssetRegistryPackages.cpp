#include "AssetRegistryImpl.h"

#include "PackageName.h"

#include <algorithm>

namespace AssetRegistryNames
{
QString WithTrailingSlash(QString Path)
{
	if (!Path.endsWith(QLatin1Char('/')))
	{
		Path += QLatin1Char('/');
	}
	return Path;
}
} // namespace AssetRegistryNames

std::span<const int> FAssetRegistry::FImpl::DependencyIdsOf(int Slot) const
{
	if (Slot < 0 || size_t(Slot) >= OnDisk.size() || !OnDisk[size_t(Slot)])
	{
		return {};
	}
	const quint32 At = DependencyAt[size_t(Slot)];
	return std::span<const int>(DependencyPool.data() + At + 1, size_t(DependencyPool[At]));
}

int FAssetRegistry::FImpl::SlotOf(const QString& PackageName) const
{
	const int Id = Names.Find(PackageName);
	return Id >= 0 && size_t(Id) < OnDisk.size() && OnDisk[size_t(Id)] ? Id : -1;
}

int FAssetRegistry::FImpl::InternName(const QString& Name, size_t Hash)
{
	const int Id = Names.Intern(Name, Hash);
	if (size_t(Id) >= Infos.size())
	{
		Packages.resize(size_t(Id) + 1);
		Infos.resize(size_t(Id) + 1);
		OnDisk.resize(size_t(Id) + 1, 0);
		DependencyAt.resize(size_t(Id) + 1, 0);
	}
	return Id;
}

int FAssetRegistry::FImpl::InternClass(const QString& Path, size_t Hash)
{
	const int Id = Classes.Intern(Path, Hash);
	if (size_t(Id) >= ClassPaths.size())
	{
		ClassPaths.resize(size_t(Id) + 1);
		ClassPaths[size_t(Id)] = FTopLevelAssetPath(Path);
	}
	return Id;
}

int FAssetRegistry::FImpl::EnsureFolder(const QString& Path)
{
	if (LastFolderId >= 0 && Path == LastFolderPath)
	{
		return LastFolderId;
	}
	const int Existing = FindFolder(Path);
	if (Existing >= 0)
	{
		LastFolderPath = Path;
		LastFolderId = Existing;
		return Existing;
	}
	const QString ParentPath = FPackageName::GetLongPackagePath(Path);
	const int Parent = ParentPath.isEmpty() ? -1 : EnsureFolder(ParentPath);
	const int Id = int(Folders.size());
	Folders.push_back(FFolder{Path, Parent, {}, {}});
	FolderIds.insert(FFoldedKey{Path}, Id);
	if (Parent >= 0)
	{
		Folders[size_t(Parent)].Children.push_back(Id);
	}
	LastFolderPath = Path;
	LastFolderId = Id;
	return Id;
}

void FAssetRegistry::FImpl::CollectSlots(int FolderId, bool bRecursive, std::vector<int>& Out) const
{
	const FFolder& Folder = Folders[size_t(FolderId)];
	Out.insert(Out.end(), Folder.Slots.begin(), Folder.Slots.end());
	if (bRecursive)
	{
		for (const int Child : Folder.Children)
		{
			CollectSlots(Child, true, Out);
		}
	}
}

int FAssetRegistry::FImpl::MountOf(const QString& PackageName) const
{
	return MountByName.value(FFoldedKey{FPackageName::GetMountPointName(PackageName)}, -1);
}

QString FAssetRegistry::FImpl::FilenameOf(const FPackageRecord& Record) const
{
	return Mounts[Record.MountIndex].ContentDir + FPackageName::GetPathAfterMountPoint(Record.Name) +
	       (Record.bMap ? MapExtension : AssetExtension);
}

void FAssetRegistry::FImpl::Store(const QString& PackageName, int MountIndex, const FPackageFile& File, bool bMap,
                                  qint64 DiskSize, const FScanResult* Scanned)
{
	// Names first: interning may grow the records, which would move the one being filled.
	const size_t DependencyBegin = DependencyPool.size();
	DependencyPool.push_back(0);
	size_t Index = 0;
	for (const QStringList* List : {&File.HardDependencies, &File.SoftDependencies})
	{
		for (const QString& Dependency : *List)
		{
			DependencyPool.push_back(Scanned ? InternName(Dependency, Scanned->DependencyHashes[qsizetype(Index)])
			                                 : InternName(Dependency));
			++Index;
		}
	}
	const int Slot = Scanned ? InternName(PackageName, Scanned->NameHash) : InternName(PackageName);
	const int FolderId = EnsureFolder(Scanned ? Scanned->FolderPath : FPackageName::GetLongPackagePath(PackageName));
	FPackageRecord& Record = Packages[size_t(Slot)];
	if (Record.bAlive && Record.FolderId != FolderId)
	{
		DetachFromFolder(Slot);
	}
	if (!Record.bAlive || Record.FolderId != FolderId)
	{
		Folders[size_t(FolderId)].Slots.push_back(Slot);
	}
	if (!Record.bAlive)
	{
		++AliveCount;
	}
	// Share the interned text when it is spelled the same.
	Record.Name = Names.Text(Slot) == PackageName ? Names.Text(Slot) : PackageName;
	Record.FolderId = FolderId;
	Record.MountIndex = MountIndex;
	Record.bAlive = true;
	Record.bMap = bMap;
	Record.bPartitioned = File.bPartitioned;
	Record.HardCount = int(File.HardDependencies.size());
	Record.Assets.clear();
	Record.Assets.reserve(File.Assets.size());
	for (qsizetype AssetIndex = 0; AssetIndex < File.Assets.size(); ++AssetIndex)
	{
		const FPackageAsset& Asset = File.Assets[AssetIndex];
		const int ClassId =
		    Scanned ? InternClass(Asset.ClassPath, Scanned->ClassHashes[AssetIndex]) : InternClass(Asset.ClassPath);
		Record.Assets.append(
		    FAssetRecord{QString(Asset.Name.constData(), Asset.Name.size()), ClassId, Asset.Destination});
	}
	FPackageInfo& Info = Infos[size_t(Slot)];
	Info = FPackageInfo();
	Info.DiskSize = DiskSize;
	Info.bMap = bMap;
	OnDisk[size_t(Slot)] = 1;
	DropDependencies(Slot);
	DependencyPool[DependencyBegin] = int(DependencyPool.size() - DependencyBegin - 1);
	DependencyAt[size_t(Slot)] = quint32(DependencyBegin);
	CompactDependenciesIfWasteful();
}

void FAssetRegistry::FImpl::CompactDependenciesIfWasteful()
{
	if (DependencyGarbage < 4096 || DependencyGarbage * 2 < DependencyPool.size())
	{
		return;
	}
	std::vector<int> Compact;
	Compact.reserve(DependencyPool.size() - DependencyGarbage);
	Compact.push_back(0);
	for (quint32& At : DependencyAt)
	{
		if (At == 0)
		{
			continue;
		}
		const size_t Begin = Compact.size();
		Compact.insert(Compact.end(), DependencyPool.begin() + At,
		               DependencyPool.begin() + At + 1 + DependencyPool[At]);
		At = quint32(Begin);
	}
	DependencyPool.swap(Compact);
	DependencyGarbage = 0;
}

void FAssetRegistry::FImpl::DropDependencies(int Slot)
{
	quint32& At = DependencyAt[size_t(Slot)];
	if (At != 0)
	{
		DependencyGarbage += size_t(DependencyPool[At]) + 1;
		At = 0;
	}
}

void FAssetRegistry::FImpl::DetachFromFolder(int Slot)
{
	FPackageRecord& Record = Packages[size_t(Slot)];
	std::vector<int>& Slots = Folders[size_t(Record.FolderId)].Slots;
	Slots.erase(std::remove(Slots.begin(), Slots.end(), Slot), Slots.end());
}

void FAssetRegistry::FImpl::Remove(int Slot)
{
	FPackageRecord& Record = Packages[size_t(Slot)];
	if (!Record.bAlive)
	{
		return;
	}
	DetachFromFolder(Slot);
	Record = FPackageRecord();
	DropDependencies(Slot);
	Infos[size_t(Slot)] = FPackageInfo();
	OnDisk[size_t(Slot)] = 0;
	--AliveCount;
}
