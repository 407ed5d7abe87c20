#include "AssetRegistry.h"
#include "EditorHost.h"
#include "ObjectClasses.h"
#include "OrvaDependencyWalk.h"
#include "SyntheticProject.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{
// A registry as an engine's is: it answers package by package and has no one-call walk.
struct FPackageByPackageRegistry
{
	const FAssetRegistry& Registry;

	std::optional<FAssetPackageData> GetAssetPackageDataCopy(const QString& PackageName) const
	{
		return Registry.GetAssetPackageDataCopy(PackageName);
	}
	bool GetDependencies(const QString& PackageName, QStringList& OutDependencies) const
	{
		return Registry.GetDependencies(PackageName, OutDependencies);
	}
	bool GetAssetsByPackageName(const QString& PackageName, QList<FAssetData>& OutAssetData,
	                            bool bIncludeOnlyOnDiskAssets) const
	{
		return Registry.GetAssetsByPackageName(PackageName, OutAssetData, bIncludeOnlyOnDiskAssets);
	}
	const FClassTable& GetClasses() const { return Registry.GetClasses(); }
};

static_assert(OrvaDependencyWalk::CWalksInOneCall<FAssetRegistry>);
static_assert(!OrvaDependencyWalk::CWalksInOneCall<FPackageByPackageRegistry>);
} // namespace

// The relocation gets the same closure, in the same order and with the same levels, from a
// registry that walks in one call and from one asked package by package.
TEST(DependencyWalk, PackageByPackageFindsWhatTheOneCallWalkFinds)
{
	QTemporaryDir Temp;
	FSyntheticProjectOptions Options;
	Options.RootDir = Temp.path() + QStringLiteral("/Project");
	Options.PackageCount = 900;
	Options.PackagesPerSubfolder = 30;
	Options.LevelCount = 5;
	Options.ExternalActorsPerLevel = 10;
	QString Error;
	const std::optional<FSyntheticProject> Project = FSyntheticProject::Generate(Options, &Error);
	ASSERT_TRUE(Project) << qPrintable(Error);
	FEditorHostOptions HostOptions;
	HostOptions.ProjectFile = Project->ProjectFile;
	HostOptions.UserSettingsDir = Temp.path() + QStringLiteral("/UserSettings");
	HostOptions.bLogToFile = false;
	FEditorHost Host(HostOptions);
	Host.Start();
	const FAssetRegistry& Registry = Host.AssetRegistry();
	const FPackageByPackageRegistry Engine{Registry};
	const QString Game = QStringLiteral("/Game");

	QStringList Roots = Project->Levels;
	// A root spelled otherwise than on disk is answered as the caller spells it.
	Roots.append(Project->EntryLevel.toUpper().replace(QStringLiteral("/GAME/"), QStringLiteral("/game/")));
	for (const QString& Root : Roots)
	{
		QStringList LevelsFast;
		QStringList LevelsEngine;
		const QStringList Fast =
		    OrvaDependencyWalk::Reach(Registry, Root, Game, nullptr, UWorld::StaticClass(), &LevelsFast);
		const QStringList Slow =
		    OrvaDependencyWalk::Reach(Engine, Root, Game, nullptr, UWorld::StaticClass(), &LevelsEngine);
		ASSERT_FALSE(Fast.isEmpty()) << qPrintable(Root);
		EXPECT_EQ(Slow, Fast) << qPrintable(Root);
		EXPECT_EQ(LevelsEngine, LevelsFast) << qPrintable(Root);
		EXPECT_TRUE(LevelsFast.contains(Root)) << "the root is a level";
	}

	// What the caller knows is neither answered nor followed, and each name is asked once.
	const auto KnowsEveryThird = [](QStringList& Asked)
	{
		return [&Asked](const QString& Name)
		{
			Asked.append(Name);
			return Asked.size() % 3 == 0;
		};
	};
	QStringList AskedFast;
	QStringList AskedEngine;
	const QStringList Fast = OrvaDependencyWalk::Reach(Registry, Project->EntryLevel, Game, KnowsEveryThird(AskedFast));
	const QStringList Slow = OrvaDependencyWalk::Reach(Engine, Project->EntryLevel, Game, KnowsEveryThird(AskedEngine));
	EXPECT_EQ(Slow, Fast);
	EXPECT_EQ(AskedEngine, AskedFast);
	EXPECT_EQ(AskedFast.size(), QSet<QString>(AskedFast.cbegin(), AskedFast.cend()).size());
	EXPECT_LT(Fast.size(), Project->PackageCount - 1);

	// Nothing under another mount point, nothing from a package that is not on disk.
	EXPECT_TRUE(OrvaDependencyWalk::Reach(Engine, Project->EntryLevel, QStringLiteral("/Engine")).isEmpty());
	EXPECT_TRUE(OrvaDependencyWalk::Reach(Engine, QStringLiteral("/Game/Nowhere/Nothing"), Game).isEmpty());
	EXPECT_TRUE(OrvaDependencyWalk::Reach(Registry, QStringLiteral("/Game/Nowhere/Nothing"), Game).isEmpty());
}
