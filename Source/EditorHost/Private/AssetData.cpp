#include "AssetRegistryImpl.h"

#include "ObjectClasses.h"
#include "PackageName.h"

#include <algorithm>

void FAssetRegistry::FImpl::AppendAssets(int Slot, QList<FAssetData>& Out) const
{
	const FPackageRecord& Record = Packages[size_t(Slot)];
	const QString& PackagePath = Folders[size_t(Record.FolderId)].Path;
	// No reserve here: it allocates exactly, so callers appending package after package would
	// copy the whole list each time.
	for (const FAssetRecord& Asset : Record.Assets)
	{
		Out.append(
		    FAssetData{Record.Name, PackagePath, Asset.Name, ClassPaths[size_t(Asset.ClassId)], Asset.Destination});
	}
}

bool FAssetRegistry::GetAssetsByPackageName(const QString& PackageName, QList<FAssetData>& OutAssetData, bool,
                                            bool) const
{
	// A package on disk has a valid name.
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot >= 0)
	{
		Impl->AppendAssets(Slot, OutAssetData);
		return true;
	}
	return FPackageName::IsValidLongPackageName(PackageName);
}

bool FAssetRegistry::GetAssetsByPath(const QString& PackagePath, QList<FAssetData>& OutAssetData, bool bRecursive,
                                     bool) const
{
	const QString Path = PackagePath.endsWith(QLatin1Char('/')) ? PackagePath.chopped(1) : PackagePath;
	if (!FPackageName::IsValidPackagePath(Path))
	{
		return false;
	}
	const int FolderId = Impl->FindFolder(Path);
	if (FolderId < 0)
	{
		return true;
	}
	std::vector<int> Slots;
	Impl->CollectSlots(FolderId, bRecursive, Slots);
	qsizetype Count = 0;
	for (const int Slot : Slots)
	{
		Count += Impl->Packages[size_t(Slot)].Assets.size();
	}
	OutAssetData.reserve(OutAssetData.size() + Count);
	for (const int Slot : Slots)
	{
		Impl->AppendAssets(Slot, OutAssetData);
	}
	return true;
}

bool FAssetRegistry::GetAssets(const FARFilter& Filter, QList<FAssetData>& OutAssetData) const
{
	std::vector<int> Candidates;
	if (!Filter.PackageNames.isEmpty())
	{
		for (const QString& Name : Filter.PackageNames)
		{
			const int Slot = Impl->SlotOf(Name);
			if (Slot >= 0)
			{
				Candidates.push_back(Slot);
			}
		}
	}
	else if (!Filter.PackagePaths.isEmpty())
	{
		for (const QString& Path : Filter.PackagePaths)
		{
			const int FolderId = Impl->FindFolder(Path.endsWith(QLatin1Char('/')) ? Path.chopped(1) : Path);
			if (FolderId >= 0)
			{
				Impl->CollectSlots(FolderId, Filter.bRecursivePaths, Candidates);
			}
		}
	}
	else
	{
		for (size_t Slot = 0; Slot < Impl->Packages.size(); ++Slot)
		{
			if (Impl->Packages[Slot].bAlive)
			{
				Candidates.push_back(int(Slot));
			}
		}
	}
	std::sort(Candidates.begin(), Candidates.end());
	Candidates.erase(std::unique(Candidates.begin(), Candidates.end()), Candidates.end());

	// Which interned classes pass, decided once per class rather than once per asset.
	std::vector<signed char> ClassMatches(size_t(Impl->Classes.Count()), -1);
	QList<const UClass*> FilterClasses;
	for (const FTopLevelAssetPath& Path : Filter.ClassPaths)
	{
		FilterClasses.append(Impl->ClassTable.ResolveClass(Path.ToString()));
	}
	const auto ClassPasses = [&](int ClassId)
	{
		if (Filter.ClassPaths.isEmpty())
		{
			return true;
		}
		signed char& Match = ClassMatches[size_t(ClassId)];
		if (Match < 0)
		{
			Match = 0;
			const FTopLevelAssetPath& AssetClass = Impl->ClassPaths[size_t(ClassId)];
			const UClass* Resolved =
			    Filter.bRecursiveClasses ? Impl->ClassTable.ResolveClass(AssetClass.ToString()) : nullptr;
			for (qsizetype Index = 0; Index < Filter.ClassPaths.size() && !Match; ++Index)
			{
				Match = AssetClass == Filter.ClassPaths[Index] ||
				        (Resolved && FilterClasses[Index] && Resolved->IsChildOf(FilterClasses[Index]));
			}
		}
		return Match > 0;
	};

	for (const int Slot : Candidates)
	{
		const FPackageRecord& Record = Impl->Packages[size_t(Slot)];
		if (!Filter.PackagePaths.isEmpty() && !Filter.PackageNames.isEmpty())
		{
			bool bInPath = false;
			for (const QString& Path : Filter.PackagePaths)
			{
				const QString Folder = FPackageName::GetLongPackagePath(Record.Name);
				bInPath = bInPath || (Filter.bRecursivePaths ? FPackageName::IsUnderPath(Folder, Path)
				                                             : Folder.compare(Path, Qt::CaseInsensitive) == 0);
			}
			if (!bInPath)
			{
				continue;
			}
		}
		QList<FAssetData> Assets;
		Impl->AppendAssets(Slot, Assets);
		for (qsizetype Index = 0; Index < Assets.size(); ++Index)
		{
			if (!ClassPasses(Record.Assets[Index].ClassId))
			{
				continue;
			}
			if (!Filter.SoftObjectPaths.isEmpty() &&
			    !Filter.SoftObjectPaths.contains(Assets[Index].GetSoftObjectPath()))
			{
				continue;
			}
			OutAssetData.append(Assets[Index]);
		}
	}
	return true;
}

bool FAssetRegistry::GetAllAssets(QList<FAssetData>& OutAssetData, bool) const
{
	return GetAssets(FARFilter(), OutAssetData);
}

FAssetData FAssetRegistry::GetAssetByObjectPath(const FSoftObjectPath& ObjectPath) const
{
	const int Slot = Impl->SlotOf(ObjectPath.GetLongPackageName());
	if (Slot < 0 || !ObjectPath.GetSubPathString().isEmpty())
	{
		return FAssetData();
	}
	QList<FAssetData> Assets;
	Impl->AppendAssets(Slot, Assets);
	for (const FAssetData& Asset : Assets)
	{
		if (Asset.AssetName.compare(ObjectPath.GetAssetName(), Qt::CaseInsensitive) == 0)
		{
			return Asset;
		}
	}
	return FAssetData();
}

// ---- FAssetData / FTopLevelAssetPath ----

FTopLevelAssetPath::FTopLevelAssetPath(const QString& Path)
{
	const qsizetype Dot = Path.indexOf(QLatin1Char('.'));
	if (Dot > 0)
	{
		PackageName = Path.left(Dot);
		AssetName = Path.mid(Dot + 1);
	}
}

bool FTopLevelAssetPath::operator==(const FTopLevelAssetPath& Other) const
{
	return PackageName.compare(Other.PackageName, Qt::CaseInsensitive) == 0 &&
	       AssetName.compare(Other.AssetName, Qt::CaseInsensitive) == 0;
}

bool FAssetData::IsRedirector() const
{
	// Code modules derive no classes from the redirector: the engine's own classes decide.
	const UClass* Class = UClass::ResolveEngineClass(AssetClassPath.ToString());
	return Class && Class->IsChildOf(UObjectRedirector::StaticClass());
}
