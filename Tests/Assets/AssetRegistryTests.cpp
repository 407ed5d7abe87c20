#include "AssetTestSupport.h"

#include "Log.h"

#include <gtest/gtest.h>

using namespace AssetTestUtil;
using UE::AssetRegistry::EDependencyCategory;
using UE::AssetRegistry::EDependencyQuery;

namespace
{
class AssetRegistryTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Maps/Entry"), World,
		                          {QStringLiteral("/Game/Props/Crate"), QStringLiteral("/Engine/BasicShapes/Cube"),
		                           QStringLiteral("/Script/Engine")},
		                          {QStringLiteral("/Game/Textures/T_Sky"), QStringLiteral("/Game/Missing/Thing")}));
		ASSERT_TRUE(
		    Project.Write(QStringLiteral("/Game/Props/Crate"), StaticMesh, {QStringLiteral("/Game/Materials/M_Wood")}));
		ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Materials/M_Wood"), Material));
		ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Materials/MI_Wood"),
		                          QStringLiteral("/Script/Engine.MaterialInstanceConstant"),
		                          {QStringLiteral("/Game/Materials/M_Wood")}));
		ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Textures/T_Sky"), Texture));
		ASSERT_TRUE(Project.Write(QStringLiteral("/Engine/BasicShapes/Cube"), StaticMesh));
		// A plugin with content of its own.
		ASSERT_TRUE(
		    FAssetTestProject::WriteRaw(Project.ProjectDir() + QStringLiteral("Plugins/ToolsPlugin/Tools.uplugin"),
		                                QByteArrayLiteral("{\"FileVersion\":3,\"CanContainContent\":true}")));
		FPackageFile Star;
		Star.Assets.append({QStringLiteral("Star"), Texture, QString()});
		ASSERT_TRUE(
		    Star.SaveToFile(Project.ProjectDir() + QStringLiteral("Plugins/ToolsPlugin/Content/Icons/Star.uasset")));
	}

	FAssetTestProject Project;
};
} // namespace

TEST_F(AssetRegistryTest, StartUpScanIndexesEveryMountPoint)
{
	const auto Host = Project.StartHost();
	FAssetRegistry& Registry = Host->AssetRegistry();
	EXPECT_EQ(Registry.GetPackageCount(), 7);
	for (const char* Name : {"/Game/Maps/Entry", "/Game/Props/Crate", "/Engine/BasicShapes/Cube", "/Tools/Icons/Star"})
	{
		EXPECT_TRUE(Registry.DoesPackageExistOnDisk(QString::fromLatin1(Name))) << Name;
	}
	QString CorrectCase;
	QString Extension;
	ASSERT_TRUE(Registry.DoesPackageExistOnDisk(QStringLiteral("/game/maps/ENTRY"), &CorrectCase, &Extension));
	EXPECT_EQ(CorrectCase, QStringLiteral("/Game/Maps/Entry"));
	EXPECT_EQ(Extension, QStringLiteral(".umap"));
	EXPECT_EQ(Registry.GetPackageFilename(QStringLiteral("/Game/Maps/Entry")),
	          Project.FileOf(QStringLiteral("/Game/Maps/Entry"), true));
	EXPECT_EQ(Registry.GetPackageFilename(QStringLiteral("/Tools/Icons/Star")),
	          Project.ProjectDir() + QStringLiteral("Plugins/ToolsPlugin/Content/Icons/Star.uasset"));
	const std::optional<FAssetPackageData> Data = Registry.GetAssetPackageDataCopy(QStringLiteral("/Game/Props/Crate"));
	ASSERT_TRUE(Data);
	EXPECT_EQ(Data->DiskSize, QFileInfo(Project.FileOf(QStringLiteral("/Game/Props/Crate"))).size());
	EXPECT_FALSE(Registry.GetAssetPackageDataCopy(QStringLiteral("/Game/Missing/Thing")));

	// Without an engine folder there is no /Engine mount point.
	const auto NoEngine = Project.StartHost(false);
	EXPECT_FALSE(NoEngine->AssetRegistry().DoesPackageExistOnDisk(QStringLiteral("/Engine/BasicShapes/Cube")));
	EXPECT_EQ(NoEngine->AssetRegistry().GetPackageCount(), 6);
}

TEST_F(AssetRegistryTest, ScriptPackagesExistAsCodeButNeverOnDisk)
{
	// Even a file where a /Script mount point would put it is not read as one.
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Script/Engine"), StaticMesh));
	const auto Host = Project.StartHost();
	FAssetRegistry& Registry = Host->AssetRegistry();
	EXPECT_TRUE(Registry.DoesPackageExist(QStringLiteral("/Script/Engine")));
	EXPECT_TRUE(Registry.DoesPackageExist(QStringLiteral("/Script/CoreUObject")));
	EXPECT_FALSE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Script/Engine")));
	EXPECT_FALSE(Registry.GetAssetPackageDataCopy(QStringLiteral("/Script/Engine")));
	QString Filename;
	EXPECT_FALSE(Registry.TryConvertLongPackageNameToFilename(QStringLiteral("/Script/Engine"), Filename));
	Registry.ScanPathsSynchronous({QStringLiteral("/Script/Engine")}, true, true);
	EXPECT_FALSE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Script/Engine")));
	EXPECT_FALSE(Registry.DoesPackageExist(QStringLiteral("/Unmounted/Thing")));
	EXPECT_TRUE(Registry.IsValidPackageName(QStringLiteral("/Script/Anything")));
	QString Reason;
	EXPECT_FALSE(Registry.IsValidPackageName(QStringLiteral("/Unmounted/Thing"), &Reason));
	EXPECT_TRUE(Reason.contains(QLatin1String("Unmounted")));
}

TEST_F(AssetRegistryTest, DependenciesComeHardThenSoftInFileOrder)
{
	const auto Host = Project.StartHost();
	FAssetRegistry& Registry = Host->AssetRegistry();
	QStringList All;
	ASSERT_TRUE(Registry.GetDependencies(QStringLiteral("/Game/Maps/Entry"), All));
	EXPECT_EQ(All, QStringList({QStringLiteral("/Game/Props/Crate"), QStringLiteral("/Engine/BasicShapes/Cube"),
	                            QStringLiteral("/Script/Engine"), QStringLiteral("/Game/Textures/T_Sky"),
	                            QStringLiteral("/Game/Missing/Thing")}));
	QStringList Hard;
	QStringList Soft;
	Registry.GetDependencies(QStringLiteral("/GAME/Maps/Entry"), Hard, EDependencyCategory::Package,
	                         EDependencyQuery::Hard);
	Registry.GetDependencies(QStringLiteral("/Game/Maps/Entry"), Soft, EDependencyCategory::Package,
	                         EDependencyQuery::Soft);
	EXPECT_EQ(Hard + Soft, All);
	EXPECT_EQ(Soft.size(), 2);
	QStringList Managed;
	EXPECT_TRUE(Registry.GetDependencies(QStringLiteral("/Game/Maps/Entry"), Managed, EDependencyCategory::Manage));
	EXPECT_TRUE(Managed.isEmpty());
	QStringList None;
	EXPECT_FALSE(Registry.GetDependencies(QStringLiteral("/Game/Missing/Thing"), None));

	QStringList Referencers;
	ASSERT_TRUE(Registry.GetReferencers(QStringLiteral("/Game/Materials/M_Wood"), Referencers));
	Referencers.sort();
	EXPECT_EQ(Referencers,
	          QStringList({QStringLiteral("/Game/Materials/MI_Wood"), QStringLiteral("/Game/Props/Crate")}));

	// The walk over them reaches the /Game packages on disk only.
	EXPECT_EQ(Walk(Registry, QStringLiteral("/Game/Maps/Entry")),
	          QSet<QString>({QStringLiteral("/Game/Maps/Entry"), QStringLiteral("/Game/Props/Crate"),
	                         QStringLiteral("/Game/Materials/M_Wood"), QStringLiteral("/Game/Textures/T_Sky")}));
}

TEST_F(AssetRegistryTest, AssetDataNamesPackageAssetClassAndObjectPath)
{
	FPackageFile Two;
	Two.Assets = {{QStringLiteral("Rock"), StaticMesh, QString()},
	              {QStringLiteral("Rock_LOD1"), StaticMesh, QString()}};
	ASSERT_TRUE(Two.SaveToFile(Project.FileOf(QStringLiteral("/Game/Props/Rock"))));
	const auto Host = Project.StartHost();
	FAssetRegistry& Registry = Host->AssetRegistry();

	QList<FAssetData> Assets;
	ASSERT_TRUE(Registry.GetAssetsByPackageName(QStringLiteral("/Game/Props/Rock"), Assets, true, true));
	ASSERT_EQ(Assets.size(), 2);
	EXPECT_EQ(Assets[0].PackageName, QStringLiteral("/Game/Props/Rock"));
	EXPECT_EQ(Assets[0].PackagePath, QStringLiteral("/Game/Props"));
	EXPECT_EQ(Assets[0].AssetName, QStringLiteral("Rock"));
	EXPECT_EQ(Assets[0].AssetClassPath.ToString(), StaticMesh);
	EXPECT_EQ(Assets[0].GetObjectPathString(), QStringLiteral("/Game/Props/Rock.Rock"));
	EXPECT_EQ(Assets[1].GetObjectPathString(), QStringLiteral("/Game/Props/Rock.Rock_LOD1"));
	EXPECT_EQ(Registry.GetAssetByObjectPath(FSoftObjectPath(QStringLiteral("/Game/Props/Rock.Rock_LOD1"))).AssetName,
	          QStringLiteral("Rock_LOD1"));
	EXPECT_FALSE(Registry.GetAssetByObjectPath(FSoftObjectPath(QStringLiteral("/Game/Props/Rock.Nope"))).IsValid());

	Assets.clear();
	EXPECT_TRUE(Registry.GetAssetsByPackageName(QStringLiteral("/Game/Missing/Thing"), Assets));
	EXPECT_TRUE(Assets.isEmpty());
	EXPECT_FALSE(Registry.GetAssetsByPackageName(QStringLiteral("not a name"), Assets));

	// By path, with and without sub-folders.
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Props/Small/Pebble"), StaticMesh));
	Registry.ScanPathsSynchronous({QStringLiteral("/Game/Props")}, true);
	QList<FAssetData> Flat;
	QList<FAssetData> Deep;
	Registry.GetAssetsByPath(QStringLiteral("/Game/Props"), Flat, false);
	Registry.GetAssetsByPath(QStringLiteral("/Game/Props/"), Deep, true);
	EXPECT_EQ(Flat.size(), 3);
	EXPECT_EQ(Deep.size(), 4);

	// By class: exact paths, or with derived classes.
	FARFilter Filter;
	Filter.PackagePaths = {QStringLiteral("/Game")};
	Filter.bRecursivePaths = true;
	Filter.ClassPaths = {FTopLevelAssetPath(QStringLiteral("/Script/Engine.MaterialInterface"))};
	QList<FAssetData> Materials;
	Registry.GetAssets(Filter, Materials);
	EXPECT_TRUE(Materials.isEmpty());
	Filter.bRecursiveClasses = true;
	Registry.GetAssets(Filter, Materials);
	QStringList Names;
	for (const FAssetData& Asset : Materials)
	{
		Names.append(Asset.AssetName);
	}
	Names.sort();
	EXPECT_EQ(Names, QStringList({QStringLiteral("MI_Wood"), QStringLiteral("M_Wood")}));
}

// Large enough to be parsed on several threads, each reading runs of files from one folder: the
// same short names in many folders, folders of one package between folders of many, and every
// package must be read from its own file.
TEST_F(AssetRegistryTest, AParallelScanReadsEachPackageFromItsOwnFolder)
{
	constexpr int LargeFolders = 3;
	constexpr int PerFolder = 90;
	const auto ClassOf = [](int Folder) { return Folder % 2 ? Texture : StaticMesh; };
	for (int Folder = 0; Folder < LargeFolders; ++Folder)
	{
		for (int Index = 0; Index < PerFolder; ++Index)
		{
			const QString Name = QStringLiteral("/Game/Bulk/F%1/P%2").arg(Folder).arg(Index, 3, 10, QLatin1Char('0'));
			ASSERT_TRUE(Project.Write(Name, ClassOf(Folder),
			                          {QStringLiteral("/Game/Bulk/F%1/P000").arg((Folder + 1) % LargeFolders)}));
		}
		// A folder of one package after each large one, with a name the large folders use too.
		ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Bulk/F%1_Single/P000").arg(Folder), ClassOf(Folder + 1),
		                          {QStringLiteral("/Game/Bulk/F%1/P001").arg(Folder)}));
	}

	const auto Host = Project.StartHost();
	FAssetRegistry& Registry = Host->AssetRegistry();
	EXPECT_EQ(Registry.GetPackageCount(), 7 + LargeFolders * (PerFolder + 1));
	for (int Folder = 0; Folder < LargeFolders; ++Folder)
	{
		QList<FAssetData> Assets;
		Registry.GetAssetsByPath(QStringLiteral("/Game/Bulk/F%1").arg(Folder), Assets, false);
		ASSERT_EQ(Assets.size(), PerFolder) << Folder;
		for (int Index = 0; Index < PerFolder; ++Index)
		{
			const FAssetData& Asset = Assets[Index];
			EXPECT_EQ(Asset.AssetClassPath, FTopLevelAssetPath(ClassOf(Folder))) << qPrintable(Asset.PackageName);
			QStringList Dependencies;
			ASSERT_TRUE(Registry.GetDependencies(Asset.PackageName, Dependencies));
			EXPECT_EQ(Dependencies,
			          QStringList{QStringLiteral("/Game/Bulk/F%1/P000").arg((Folder + 1) % LargeFolders)});
		}
		const QString Single = QStringLiteral("/Game/Bulk/F%1_Single/P000").arg(Folder);
		QList<FAssetData> SingleAssets;
		Registry.GetAssetsByPath(FPackageName::GetLongPackagePath(Single), SingleAssets, false);
		ASSERT_EQ(SingleAssets.size(), 1);
		EXPECT_EQ(SingleAssets[0].AssetClassPath, FTopLevelAssetPath(ClassOf(Folder + 1)));
		QStringList Dependencies;
		ASSERT_TRUE(Registry.GetDependencies(Single, Dependencies));
		EXPECT_EQ(Dependencies, QStringList{QStringLiteral("/Game/Bulk/F%1/P001").arg(Folder)});
	}
}

TEST_F(AssetRegistryTest, UnreadablePackageFilesAreReportedOnceAndSkipped)
{
	const QString Broken = Project.ContentDir() + QStringLiteral("Props/Broken.uasset");
	const QString BadName = Project.ContentDir() + QStringLiteral("Props/Bad#Name.uasset");
	ASSERT_TRUE(FAssetTestProject::WriteRaw(Broken, QByteArrayLiteral("{\"OrvaPackage\":1,\"Assets\":[")));
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Props/Fine"), StaticMesh));
	QFile::copy(Project.FileOf(QStringLiteral("/Game/Props/Fine")), BadName);
	// Two files for one package name: the first keeps it, the other is reported.
	ASSERT_TRUE(
	    FAssetTestProject::WriteRaw(Project.ContentDir() + QStringLiteral("Props/Crate.umap"),
	                                FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/Props/Crate")))));

	FLogCapture Log;
	const auto Host = Project.StartHost();
	FAssetRegistry& Registry = Host->AssetRegistry();
	const auto ErrorsNaming = [&Log](const QString& Path)
	{
		int Count = 0;
		for (const QString& Line : Log.Messages(ELogVerbosity::Error))
		{
			Count += Line.contains(Path) ? 1 : 0;
		}
		return Count;
	};
	EXPECT_EQ(ErrorsNaming(Broken), 1);
	EXPECT_EQ(ErrorsNaming(BadName), 1);
	EXPECT_EQ(ErrorsNaming(Project.ContentDir() + QStringLiteral("Props/Crate.umap")), 1);
	EXPECT_TRUE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Props/Fine")));
	EXPECT_EQ(Registry.GetPackageFilename(QStringLiteral("/Game/Props/Crate")),
	          Project.FileOf(QStringLiteral("/Game/Props/Crate")));
	EXPECT_FALSE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Props/Broken")));

	// Scanning again, and walking over the folder, reports nothing new.
	Registry.ScanPathsSynchronous({QStringLiteral("/Game/Props")}, true, true);
	Registry.SearchAllAssets(true);
	Walk(Registry, QStringLiteral("/Game/Maps/Entry"));
	EXPECT_EQ(ErrorsNaming(Broken), 1);
	EXPECT_EQ(ErrorsNaming(BadName), 1);

	// Repaired, it is read; broken again, it is reported again.
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Props/Broken"), StaticMesh));
	Registry.ScanPathsSynchronous({QStringLiteral("/Game/Props")}, true);
	EXPECT_TRUE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Props/Broken")));
	ASSERT_TRUE(FAssetTestProject::WriteRaw(Broken, QByteArrayLiteral("garbage")));
	Registry.ScanPathsSynchronous({QStringLiteral("/Game/Props")}, true);
	EXPECT_EQ(ErrorsNaming(Broken), 2);
	EXPECT_FALSE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Props/Broken")));
}

TEST_F(AssetRegistryTest, ExternalActorsAddedLaterAppearOnlyAfterAForcedScan)
{
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Maps/Open"), World, {}, {}, true));
	const QString First = QStringLiteral("/Game/__ExternalActors__/Maps/Open/3/KQ/3KQ0M7X1");
	ASSERT_TRUE(Project.Write(First, Actor, {QStringLiteral("/Game/Props/Crate")}));
	const auto Host = Project.StartHost();
	FAssetRegistry& Registry = Host->AssetRegistry();
	const QStringList Paths = ULevel::GetExternalObjectsPaths(QStringLiteral("/Game/Maps/Open"));
	const auto ActorsOnRecord = [&]
	{
		QStringList Names;
		for (const QString& Path : Paths)
		{
			QList<FAssetData> Assets;
			Registry.GetAssetsByPath(Path, Assets, true, true);
			for (const FAssetData& Asset : Assets)
			{
				Names.append(Asset.PackageName);
			}
		}
		Names.sort();
		return Names;
	};
	EXPECT_EQ(ActorsOnRecord(), QStringList{First});

	const QString Second = QStringLiteral("/Game/__ExternalObjects__/Maps/Open/0/B7/0B7N4D2X");
	ASSERT_TRUE(Project.Write(Second, QStringLiteral("/Script/Engine.DataLayerInstance")));
	ASSERT_TRUE(QFile::remove(Project.FileOf(First)));
	EXPECT_EQ(ActorsOnRecord(), QStringList{First});
	Registry.ScanPathsSynchronous(Paths, false, true);
	EXPECT_EQ(ActorsOnRecord(), QStringList{First});
	Registry.ScanPathsSynchronous(Paths, true, true);
	EXPECT_EQ(ActorsOnRecord(), QStringList{Second});
	EXPECT_FALSE(Registry.DoesPackageExistOnDisk(First));
	EXPECT_TRUE(Registry.IsLevelPackage(QStringLiteral("/Game/Maps/Open")));
	EXPECT_FALSE(Registry.IsLevelPackage(Second));
}

TEST_F(AssetRegistryTest, DenyListedFoldersAreScannedOnlyWhenTheListIsIgnored)
{
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Developers/Me/Scratch"), StaticMesh));
	const FClassTable Classes;
	FAssetRegistry Registry(FAssetRegistry::DiscoverMountPoints(FPaths(Project.ProjectFile(), Project.Root())),
	                        Classes);
	Registry.SetScanDenyList({QStringLiteral("/Game/Developers")});
	Registry.SearchAllAssets(true);
	EXPECT_TRUE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Props/Crate")));
	EXPECT_FALSE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Developers/Me/Scratch")));
	Registry.ScanPathsSynchronous({QStringLiteral("/Game/Developers/Me")}, true, false);
	EXPECT_FALSE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Developers/Me/Scratch")));
	Registry.ScanPathsSynchronous({QStringLiteral("/Game/Developers/Me")}, false, true);
	EXPECT_TRUE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Developers/Me/Scratch")));
}

TEST_F(AssetRegistryTest, ScanPathsAcceptFoldersOnDiskAndPackageNames)
{
	const auto Host = Project.StartHost();
	FAssetRegistry& Registry = Host->AssetRegistry();
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Props/Barrel"), StaticMesh));
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Textures/T_Rust"), Texture));
	Registry.ScanPathsSynchronous({Project.ContentDir() + QStringLiteral("Props")}, true);
	EXPECT_TRUE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Props/Barrel")));
	EXPECT_FALSE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Textures/T_Rust")));
	Registry.ScanPathsSynchronous({QStringLiteral("/Game/Textures/T_Rust")}, true);
	EXPECT_TRUE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Game/Textures/T_Rust")));

	QString Name;
	EXPECT_TRUE(
	    Registry.TryConvertFilenameToLongPackageName(Project.FileOf(QStringLiteral("/Game/Props/Barrel")), Name));
	EXPECT_EQ(Name, QStringLiteral("/Game/Props/Barrel"));
	QString Reason;
	EXPECT_FALSE(Registry.TryConvertFilenameToLongPackageName(Project.Root() + QStringLiteral("Elsewhere/X.uasset"),
	                                                          Name, &Reason));
	EXPECT_FALSE(Reason.isEmpty());
}

TEST_F(AssetRegistryTest, APackageStoredAgainAndAgainKeepsEveryAnswerInStep)
{
	const std::unique_ptr<FEditorHost> Host = Project.StartHost();
	FAssetRegistry& Registry = Host->AssetRegistry();
	QStringList EntryBefore;
	ASSERT_TRUE(Registry.GetDependencies(QStringLiteral("/Game/Maps/Entry"), EntryBefore));
	ASSERT_FALSE(EntryBefore.isEmpty());
	// Stored again with other dependencies, many times over (old lists pile up and are compacted):
	// the answers follow, for this package and for every other.
	for (int Round = 0; Round < 3000; ++Round)
	{
		FPackageFile File;
		File.Assets.append({QStringLiteral("Crate"), StaticMesh, QString()});
		File.Assets.append(
		    {QStringLiteral("Crate_World"), QStringLiteral("/Script/Engine.PartitionedWorld"), QString()});
		File.HardDependencies = {QStringLiteral("/Game/Textures/T_Sky"), QStringLiteral("/Game/Gen/P%1").arg(Round)};
		Registry.AddOrUpdatePackage(QStringLiteral("/Game/Props/Crate"), File, QStringLiteral(".uasset"), 10);
	}
	QStringList Dependencies;
	ASSERT_TRUE(Registry.GetDependencies(QStringLiteral("/game/props/CRATE"), Dependencies));
	EXPECT_EQ(Dependencies, QStringList({QStringLiteral("/Game/Textures/T_Sky"), QStringLiteral("/Game/Gen/P2999")}));
	QStringList EntryAfter;
	Registry.GetDependencies(QStringLiteral("/Game/Maps/Entry"), EntryAfter);
	EXPECT_EQ(EntryAfter, EntryBefore) << "other packages keep their lists when the old lists are dropped";
	QStringList Referencers;
	EXPECT_TRUE(Registry.GetReferencers(QStringLiteral("/Game/Gen/P2999"), Referencers));
	EXPECT_EQ(Referencers, QStringList{QStringLiteral("/Game/Props/Crate")});
	Referencers.clear();
	EXPECT_FALSE(Registry.GetReferencers(QStringLiteral("/Game/Gen/P2998"), Referencers))
	    << "an old list refers to nothing";
	QList<FAssetData> Assets;
	ASSERT_TRUE(Registry.GetAssetsByPackageName(QStringLiteral("/Game/Props/Crate"), Assets, true, true));
	ASSERT_EQ(Assets.size(), 2);
	EXPECT_EQ(Assets[1].AssetClassPath.ToString(), QStringLiteral("/Script/Engine.PartitionedWorld"));

	Registry.RemovePackage(QStringLiteral("/Game/Props/Crate"));
	EXPECT_FALSE(Registry.GetDependencies(QStringLiteral("/Game/Props/Crate"), Dependencies));
	EXPECT_FALSE(Registry.GetAssetPackageDataCopy(QStringLiteral("/Game/Props/Crate")));
	Referencers.clear();
	EXPECT_FALSE(Registry.GetReferencers(QStringLiteral("/Game/Gen/P2999"), Referencers));
}

TEST_F(AssetRegistryTest, RecursiveDependenciesAnswerWhatTheWalkPackageByPackageFinds)
{
	// A level among the dependencies, through an old class path, and a cycle back to the entry.
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Materials/M_Wood"), Material,
	                          {QStringLiteral("/Game/Maps/Sub"), QStringLiteral("/Tools/Icons/Star")},
	                          {QStringLiteral("/game/maps/ENTRY")}));
	FPackageFile Sub;
	Sub.Assets.append({QStringLiteral("Sub"), QStringLiteral("/Script/Engine.PartitionedWorld"), QString()});
	Sub.HardDependencies = {QStringLiteral("/Game/Textures/T_Sky")};
	ASSERT_TRUE(Sub.SaveToFile(Project.FileOf(QStringLiteral("/Game/Maps/Sub"))));
	const auto Host = Project.StartHost();
	const FAssetRegistry& Registry = Host->AssetRegistry();

	// The same walk package by package: depth first, /Game packages on disk, each followed once.
	const auto StepByStep = [&](const QString& Root)
	{
		QStringList Out;
		QSet<QString> Seen{Root.toCaseFolded()};
		QStringList Stack{Root};
		while (!Stack.isEmpty())
		{
			QStringList Dependencies;
			Registry.GetDependencies(Stack.takeLast(), Dependencies);
			for (auto It = Dependencies.crbegin(); It != Dependencies.crend(); ++It)
			{
				if (It->startsWith(QLatin1String("/Game/"), Qt::CaseInsensitive) &&
				    Registry.GetAssetPackageDataCopy(*It) && !Seen.contains(It->toCaseFolded()))
				{
					Seen.insert(It->toCaseFolded());
					Out.append(*It);
					Stack.append(*It);
				}
			}
		}
		return Out;
	};
	QStringList Levels;
	const QStringList Reached = Registry.GetDependenciesRecursive(
	    QStringLiteral("/game/maps/entry"), QStringLiteral("/Game"), nullptr, UWorld::StaticClass(), &Levels);
	EXPECT_EQ(Reached, StepByStep(QStringLiteral("/game/maps/entry")));
	// In the order found: a package's dependencies as it is walked, its first one walked first.
	EXPECT_EQ(Reached, QStringList({QStringLiteral("/Game/Textures/T_Sky"), QStringLiteral("/Game/Props/Crate"),
	                                QStringLiteral("/Game/Materials/M_Wood"), QStringLiteral("/Game/Maps/Sub")}));
	EXPECT_EQ(Levels, QStringList({QStringLiteral("/game/maps/entry"), QStringLiteral("/Game/Maps/Sub")}))
	    << "the root as the caller spells it, then the levels answered";

	// What the caller knows already is neither answered nor followed.
	QStringList Asked;
	const QStringList Partial =
	    Registry.GetDependenciesRecursive(QStringLiteral("/Game/Maps/Entry"), QStringLiteral("/Game"),
	                                      [&](const QString& Name)
	                                      {
		                                      Asked.append(Name);
		                                      return Name == QStringLiteral("/Game/Materials/M_Wood");
	                                      });
	EXPECT_EQ(Partial, QStringList({QStringLiteral("/Game/Textures/T_Sky"), QStringLiteral("/Game/Props/Crate")}));
	EXPECT_EQ(Asked.size(), QSet<QString>(Asked.cbegin(), Asked.cend()).size()) << "each name is asked once";
	EXPECT_EQ(Registry.GetDependenciesRecursive(QStringLiteral("/Tools/Icons/Star"), QStringLiteral("/Tools")),
	          QStringList());
	EXPECT_TRUE(
	    Registry.GetDependenciesRecursive(QStringLiteral("/Game/Missing/Thing"), QStringLiteral("/Game")).isEmpty());
}
