// The relocation's walk over the packages a level needs, behind one call whatever registry answers
// it. The editor host's registry walks the whole closure in one call, which on a project of many
// thousand packages costs a tenth of asking package by package; an engine's registry only answers
// package by package, and gets the same walk done here from its per-package calls.

#pragma once

#include "AssetData.h"
#include "ObjectClasses.h"
#include "PackageName.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <concepts>
#include <functional>

namespace OrvaDependencyWalk
{
using FIsKnown = std::function<bool(const QString&)>;

// A registry with the one-call form of the walk.
template <typename TRegistry>
concept CWalksInOneCall = requires(const TRegistry& Registry, const QString& Name, const FIsKnown& IsKnown,
                                   const UClass* Class, QStringList* OutOfClass)
{
	{
		Registry.GetDependenciesRecursive(Name, Name, IsKnown, Class, OutOfClass)
		} -> std::same_as<QStringList>;
};

// Whether a package holds an asset whose class (after class redirects) is Class or derives from it.
template <typename TRegistry>
bool HoldsClass(const TRegistry& Registry, const QString& PackageName, const UClass* Class)
{
	QList<FAssetData> Assets;
	Registry.GetAssetsByPackageName(PackageName, Assets, true);
	for (const FAssetData& Asset : std::as_const(Assets))
	{
		const UClass* Resolved = Registry.GetClasses().ResolveClass(Asset.AssetClassPath.ToString());
		if (Resolved && Resolved->IsChildOf(Class))
		{
			return true;
		}
	}
	return false;
}

// The walk from per-package calls, answering as the one-call form does: the packages PackageName
// needs, transitively through package dependencies (hard, then soft), that lie under the mount
// point MountRoot and are on disk; depth first, the first dependency walked first; each answered
// once, spelled as the registry spells it, and followed, unless IsKnown (asked once per package)
// says the caller has it already. Empty when PackageName is not on disk. OutOfClass receives
// PackageName and the packages answered that hold an asset of Class.
template <typename TRegistry>
QStringList WalkPackageByPackage(const TRegistry& Registry, const QString& PackageName, const QString& MountRoot,
                                 const FIsKnown& IsKnown = nullptr, const UClass* Class = nullptr,
                                 QStringList* OutOfClass = nullptr)
{
	QStringList Out;
	if (!Registry.GetAssetPackageDataCopy(PackageName))
	{
		return Out;
	}
	// Package names compare ignoring case, as the engine's do.
	const QString Mount = FPackageName::GetMountPointName(MountRoot).toCaseFolded();
	QSet<QString> Seen{PackageName.toCaseFolded()};
	QStringList Stack{PackageName};
	while (!Stack.isEmpty())
	{
		const QString Current = Stack.takeLast();
		if (OutOfClass && Class && HoldsClass(Registry, Current, Class))
		{
			OutOfClass->append(Current);
		}
		QStringList Dependencies;
		Registry.GetDependencies(Current, Dependencies);
		for (auto It = Dependencies.crbegin(); It != Dependencies.crend(); ++It)
		{
			const QString Folded = It->toCaseFolded();
			if (Seen.contains(Folded))
			{
				continue;
			}
			Seen.insert(Folded);
			if (FPackageName::GetMountPointName(*It).toCaseFolded() != Mount ||
			    !Registry.GetAssetPackageDataCopy(*It) || (IsKnown && IsKnown(*It)))
			{
				continue;
			}
			Out.append(*It);
			Stack.append(*It);
		}
	}
	return Out;
}

// The walk, in one call where the registry has it and package by package where it does not.
template <typename TRegistry>
QStringList Reach(const TRegistry& Registry, const QString& PackageName, const QString& MountRoot,
                  const FIsKnown& IsKnown = nullptr, const UClass* Class = nullptr, QStringList* OutOfClass = nullptr)
{
	if constexpr (CWalksInOneCall<TRegistry>)
	{
		return Registry.GetDependenciesRecursive(PackageName, MountRoot, IsKnown, Class, OutOfClass);
	}
	else
	{
		return WalkPackageByPackage(Registry, PackageName, MountRoot, IsKnown, Class, OutOfClass);
	}
}
} // namespace OrvaDependencyWalk
