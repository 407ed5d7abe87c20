#include "AssetTestSupport.h"

#include "AssetViewUtils.h"
#include "Log.h"

#include <gtest/gtest.h>

using namespace AssetTestUtil;

namespace
{
const QString DemoDir = QStringLiteral(ORVA_SOURCE_DIR "/Examples/DemoProject/");
const QString EngineDir = QStringLiteral(ORVA_SOURCE_DIR "/Resources/EngineContent/");

bool CopyTree(const QString& From, const QString& To)
{
	QDirIterator It(From, QDir::Files, QDirIterator::Subdirectories);
	while (It.hasNext())
	{
		const QString File = It.next();
		const QString Target = To + File.mid(From.size());
		QDir().mkpath(FPaths::GetPath(Target));
		if (!QFile::copy(File, Target))
		{
			return false;
		}
	}
	return true;
}

std::unique_ptr<FEditorHost> StartHost(const QString& ProjectFile, const QString& UserSettings)
{
	FEditorHostOptions Options;
	Options.ProjectFile = ProjectFile;
	Options.UserSettingsDir = UserSettings;
	Options.EngineDir = EngineDir;
	Options.bLogToFile = false;
	auto Host = std::make_unique<FEditorHost>(Options);
	Host->Start();
	return Host;
}

// Dependencies that name no package: neither on disk nor code.
QStringList UnresolvedReferences(const FAssetRegistry& Registry)
{
	QStringList Missing;
	for (const QString& Package : Registry.GetAllPackageNames())
	{
		QStringList Dependencies;
		Registry.GetDependencies(Package, Dependencies);
		for (const QString& Dependency : Dependencies)
		{
			if (!Registry.DoesPackageExist(Dependency))
			{
				Missing.append(Package + QStringLiteral(" -> ") + Dependency);
			}
		}
	}
	return Missing;
}

const QSet<QString> EntryClosure = {
    QStringLiteral("/Game/Maps/Entry"),
    QStringLiteral("/Game/Maps/Open"),
    QStringLiteral("/Game/Maps/Layers/DL_Gameplay"),
    QStringLiteral("/Game/__ExternalActors__/Maps/Open/3/KQ/3KQ0M7X1B2C9DF4E"),
    QStringLiteral("/Game/__ExternalActors__/Maps/Open/8/1Z/81Z5T0PL6W3N8H2A"),
    QStringLiteral("/Game/__ExternalActors__/Maps/Open/E/4R/E4R2H9VC0Y7K5M1Q"),
    QStringLiteral("/Game/__ExternalObjects__/Maps/Open/0/B7/0B7N4D2XW9F1J6LS"),
    QStringLiteral("/Game/Props/Crate"),
    QStringLiteral("/Game/Props/Barrel"),
    QStringLiteral("/Game/Props/Rock"),
    QStringLiteral("/Game/Materials/M_Wood"),
    QStringLiteral("/Game/Materials/M_Stone"),
    QStringLiteral("/Game/Materials/M_Base"),
    QStringLiteral("/Game/Materials/MI_Metal"),
    QStringLiteral("/Game/Textures/T_Wood"),
    QStringLiteral("/Game/Textures/T_Stone"),
    QStringLiteral("/Game/Textures/T_Metal"),
    QStringLiteral("/Game/Textures/T_Sky"),
    QStringLiteral("/Game/SharedPalette"),
};
} // namespace

TEST(DemoProject, EveryPackageReadsAndEveryReferenceResolves)
{
	QTemporaryDir UserSettings;
	FLogCapture Log;
	const auto Host = StartHost(DemoDir + QStringLiteral("DemoProject.uproject"), UserSettings.path());
	FAssetRegistry& Registry = Host->AssetRegistry();
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).isEmpty())
	    << qPrintable(Log.Messages(ELogVerbosity::Error).join(QLatin1Char('\n')));
	EXPECT_EQ(Registry.GetPackageCount(), int(FilesUnder(DemoDir + QStringLiteral("Content/")).size() +
	                                          FilesUnder(EngineDir + QStringLiteral("Content/")).size()));
	EXPECT_TRUE(UnresolvedReferences(Registry).isEmpty())
	    << qPrintable(UnresolvedReferences(Registry).join(QLatin1Char('\n')));
	EXPECT_TRUE(Registry.IsLevelPackage(QStringLiteral("/Game/Maps/Entry")));
	EXPECT_TRUE(Registry.DoesPackageExistOnDisk(QStringLiteral("/Engine/BasicShapes/Cube")));
	EXPECT_EQ(Walk(Registry, QStringLiteral("/Game/Maps/Entry")), EntryClosure);
}

// The relocation of the entry level into the workspace folder W1, done the way the plugin does it:
// the level's closure outside W1 grouped into root-level assets (moved as objects) and top-level
// folders (moved one by one), then every redirector under /Game fixed up. The external actors
// folder lands among the folders to move; the order of the folders must not matter.
class DemoRelocation : public ::testing::TestWithParam<bool>
{
};

TEST_P(DemoRelocation, LeavesEveryReferenceResolvedAndNoRedirectors)
{
	QTemporaryDir Temp;
	const QString ProjectDir = Temp.path() + QStringLiteral("/DemoProject/");
	ASSERT_TRUE(CopyTree(DemoDir, ProjectDir));
	const auto Host =
	    StartHost(ProjectDir + QStringLiteral("DemoProject.uproject"), Temp.path() + QStringLiteral("/User"));
	FAssetRegistry& Registry = Host->AssetRegistry();
	FAssetTools& Tools = Host->AssetTools();
	const QByteArray SkyBytes =
	    FAssetTestProject::ReadRaw(ProjectDir + QStringLiteral("Content/Textures/T_Sky.uasset"));

	QStringList Folders;
	QList<FObjectPtr> RootObjects;
	for (const QString& Package : Walk(Registry, QStringLiteral("/Game/Maps/Entry")))
	{
		ASSERT_FALSE(Package.startsWith(QLatin1String("/Game/W1"), Qt::CaseInsensitive));
		const QStringList Pieces = Package.split(QLatin1Char('/'), Qt::SkipEmptyParts);
		if (Pieces.size() == 2)
		{
			QList<FAssetData> Assets;
			Registry.GetAssetsByPackageName(Package, Assets, true, true);
			AssetViewUtils::GetObjectsInAssetData(Tools, Assets, RootObjects);
		}
		else if (Pieces.size() > 2)
		{
			const QString Folder = QLatin1Char('/') + Pieces[0] + QLatin1Char('/') + Pieces[1];
			if (!Folders.contains(Folder, Qt::CaseInsensitive))
			{
				Folders.append(Folder);
			}
		}
	}
	Folders.sort();
	ASSERT_EQ(Folders,
	          QStringList({QStringLiteral("/Game/Maps"), QStringLiteral("/Game/Materials"),
	                       QStringLiteral("/Game/Props"), QStringLiteral("/Game/Textures"),
	                       QStringLiteral("/Game/__ExternalActors__"), QStringLiteral("/Game/__ExternalObjects__")}));
	if (GetParam())
	{
		std::reverse(Folders.begin(), Folders.end());
	}
	ASSERT_EQ(RootObjects.size(), 1);
	AssetViewUtils::MoveAssets(Tools, RootObjects, QStringLiteral("/Game/W1"));
	for (const QString& Folder : Folders)
	{
		AssetViewUtils::MoveFolders(Tools, {Folder}, QStringLiteral("/Game/W1"));
	}

	FARFilter Filter;
	Filter.PackagePaths = {QStringLiteral("/Game")};
	Filter.bRecursivePaths = true;
	Filter.ClassPaths = {FTopLevelAssetPath(QStringLiteral("/Script/CoreUObject.ObjectRedirector"))};
	QList<FAssetData> Redirectors;
	Registry.GetAssets(Filter, Redirectors);
	EXPECT_EQ(Redirectors.size(), EntryClosure.size() - 4 + 1); // the external packages leave none; Unused moved too
	QStringList Paths;
	for (const FAssetData& Redirector : Redirectors)
	{
		Paths.append(Redirector.GetObjectPathString());
	}
	QList<FObjectPtr> Loaded;
	Tools.NumObjectsToLoadBeforeWarning = 100;
	ASSERT_TRUE(AssetViewUtils::LoadAssetsIfNeeded(Tools, Paths, Loaded, true, true));
	Tools.FixupReferencers(Loaded, true, ERedirectFixupMode::DeleteFixedUpRedirectors);

	Redirectors.clear();
	Registry.GetAssets(Filter, Redirectors);
	EXPECT_TRUE(Redirectors.isEmpty());
	EXPECT_TRUE(UnresolvedReferences(Registry).isEmpty())
	    << qPrintable(UnresolvedReferences(Registry).join(QLatin1Char('\n')));

	// The new entry level reaches exactly the moved closure; only its external packages lie outside
	// W1, in the folders that mirror the level's new path.
	QSet<QString> Expected;
	for (const QString& Package : EntryClosure)
	{
		Expected.insert(FPackageName::IsExternalPackage(Package)
		                    ? QString(Package).replace(QStringLiteral("/Maps/Open/"), QStringLiteral("/W1/Maps/Open/"))
		                    : QStringLiteral("/Game/W1/") + Package.mid(6));
	}
	EXPECT_EQ(Walk(Registry, QStringLiteral("/Game/W1/Maps/Entry")), Expected);
	EXPECT_TRUE(FilesUnder(ProjectDir + QStringLiteral("Content/__ExternalActors__/Maps")).isEmpty());

	// The blueprint outside the level now refers to the moved crate; payloads moved untouched.
	QStringList Dependencies;
	Registry.GetDependencies(QStringLiteral("/Game/Blueprints/BP_Spawner"), Dependencies);
	EXPECT_EQ(Dependencies.first(), QStringLiteral("/Game/W1/Props/Crate"));
	EXPECT_EQ(FAssetTestProject::ReadRaw(ProjectDir + QStringLiteral("Content/W1/Textures/T_Sky.uasset")), SkyBytes);

	// What the registry holds is what a fresh start reads from the files.
	const auto Fresh =
	    StartHost(ProjectDir + QStringLiteral("DemoProject.uproject"), Temp.path() + QStringLiteral("/User"));
	EXPECT_EQ(Describe(Fresh->AssetRegistry()), Describe(Registry));
}

INSTANTIATE_TEST_SUITE_P(FolderOrder, DemoRelocation, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& Info)
                         { return Info.param ? "ExternalFoldersFirst" : "ExternalFoldersLast"; });
