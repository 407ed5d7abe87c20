#include "AssetTestSupport.h"

#include "AssetViewUtils.h"
#include "Dialogs.h"
#include "FileHelper.h"
#include "GameThread.h"
#include "Log.h"

#include <QDeadlineTimer>
#include <QJsonObject>
#include <QThread>

#include <atomic>
#include <cerrno>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace AssetTestUtil;

namespace
{
// A small project: a level with props, materials and textures, a partitioned level with external
// actors and objects, and a blueprint outside the levels that also uses the crate.
class AssetMoveTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Maps/Entry"), World,
		                          {QStringLiteral("/Game/Props/Crate"), QStringLiteral("/Script/Engine")},
		                          {QStringLiteral("/Game/Maps/Open")}));
		ASSERT_TRUE(
		    Project.Write(QStringLiteral("/Game/Maps/Open"), World, {QStringLiteral("/Game/Props/Crate")}, {}, true));
		ASSERT_TRUE(Project.Write(ActorA, Actor, {QStringLiteral("/Game/Props/Rock")}));
		ASSERT_TRUE(Project.Write(ActorB, Actor, {QStringLiteral("/Game/Props/Crate")}));
		ASSERT_TRUE(Project.Write(ObjectC, QStringLiteral("/Script/Engine.DataLayerInstance")));
		ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Maps/Layers/DL_Main"),
		                          QStringLiteral("/Script/Engine.DataLayerAsset")));
		FPackageFile Crate;
		Crate.Assets.append({QStringLiteral("Crate"), StaticMesh, QString()});
		Crate.HardDependencies = {QStringLiteral("/Game/Materials/M_Wood")};
		Crate.Payload =
		    QJsonObject{{QStringLiteral("Vertices"), 8}, {QStringLiteral("Blob"), QStringLiteral("AAECAw==")}};
		ASSERT_TRUE(Crate.SaveToFile(Project.FileOf(QStringLiteral("/Game/Props/Crate"))));
		ASSERT_TRUE(
		    Project.Write(QStringLiteral("/Game/Props/Rock"), StaticMesh, {QStringLiteral("/Game/Materials/M_Wood")}));
		ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Materials/M_Wood"), Material,
		                          {QStringLiteral("/Game/Textures/T_Wood")}));
		ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Textures/T_Wood"), Texture));
		ASSERT_TRUE(Project.Write(QStringLiteral("/Game/Blueprints/BP_Spawner"),
		                          QStringLiteral("/Script/Engine.Blueprint"),
		                          {QStringLiteral("/Game/Props/Crate"), QStringLiteral("/Game/Props/Rock")},
		                          {QStringLiteral("/Game/Textures/T_Wood")}));
		QDir().mkpath(Project.ContentDir() + QStringLiteral("Maps/Empty/Deeper"));
		Host = Project.StartHost();
	}

	FAssetRegistry& Registry() { return Host->AssetRegistry(); }
	FAssetTools& Tools() { return Host->AssetTools(); }
	FPolicyDialogService& Dialogs() { return static_cast<FPolicyDialogService&>(Host->Dialogs()); }

	FObjectPtr Load(const QString& ObjectPath, bool bNoRedirects = false)
	{
		return Tools().LoadObject(ObjectPath, bNoRedirects);
	}

	QString RedirectorTarget(const QString& PackageName)
	{
		QList<FAssetData> Assets;
		Registry().GetAssetsByPackageName(PackageName, Assets);
		return Assets.size() == 1 && Assets.first().IsRedirector() ? Assets.first().DestinationObjectPath : QString();
	}

	QList<FObjectPtr> LoadAllRedirectors()
	{
		FARFilter Filter;
		Filter.PackagePaths = {QStringLiteral("/Game")};
		Filter.bRecursivePaths = true;
		Filter.ClassPaths = {FTopLevelAssetPath(Redirector)};
		QList<FAssetData> Found;
		Registry().GetAssets(Filter, Found);
		QStringList Paths;
		for (const FAssetData& Asset : Found)
		{
			Paths.append(Asset.GetObjectPathString());
		}
		QList<FObjectPtr> Objects;
		EXPECT_TRUE(AssetViewUtils::LoadAssetsIfNeeded(Tools(), Paths, Objects, true, true));
		return Objects;
	}

	// The registry agrees with a fresh scan of the same files.
	void ExpectRegistryMatchesDisk()
	{
		FAssetRegistry Fresh(Registry().GetMountPoints(), Host->Classes());
		Fresh.SearchAllAssets(true);
		EXPECT_EQ(Describe(Registry()), Describe(Fresh));
	}

	const QString ActorA = QStringLiteral("/Game/__ExternalActors__/Maps/Open/3/KQ/3KQ0M7X1");
	const QString ActorB = QStringLiteral("/Game/__ExternalActors__/Maps/Open/8/1Z/81Z5T0PL");
	const QString ObjectC = QStringLiteral("/Game/__ExternalObjects__/Maps/Open/0/B7/0B7N4D2X");
	FAssetTestProject Project;
	std::unique_ptr<FEditorHost> Host;
};
} // namespace

TEST_F(AssetMoveTest, MovingAnAssetLeavesARedirectorAndTheObjectFollows)
{
	const QByteArray CrateBytes = FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/Props/Crate")));
	const FObjectPtr Crate = Load(QStringLiteral("/Game/Props/Crate.Crate"));
	ASSERT_TRUE(Crate);
	AssetViewUtils::MoveAssets(Tools(), {Crate}, QStringLiteral("/Game/W1"));

	// The package moved byte for byte; its payload is untouched.
	EXPECT_EQ(FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/W1/Crate"))), CrateBytes);
	EXPECT_EQ(Crate->GetPathName(), QStringLiteral("/Game/W1/Crate.Crate"));
	EXPECT_EQ(Tools().FindObject(QStringLiteral("/Game/W1/Crate.Crate")), Crate);

	// The old file is now a redirector to the new object, and depends on the new package.
	const std::optional<FPackageFile> Old =
	    FPackageFile::LoadFromFile(Project.FileOf(QStringLiteral("/Game/Props/Crate")));
	ASSERT_TRUE(Old);
	ASSERT_TRUE(Old->IsRedirectorPackage());
	EXPECT_EQ(Old->Assets.first().Destination, QStringLiteral("/Game/W1/Crate.Crate"));
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/Props/Crate")), QStringLiteral("/Game/W1/Crate.Crate"));
	QStringList Dependencies;
	Registry().GetDependencies(QStringLiteral("/Game/Props/Crate"), Dependencies);
	EXPECT_EQ(Dependencies, QStringList{QStringLiteral("/Game/W1/Crate")});

	// Loading the old path follows the redirector unless asked not to.
	EXPECT_EQ(Load(QStringLiteral("/Game/Props/Crate.Crate")), Crate);
	const FObjectPtr OldObject = Load(QStringLiteral("/Game/Props/Crate.Crate"), true);
	ASSERT_TRUE(OldObject);
	EXPECT_TRUE(OldObject->IsRedirector());
	EXPECT_EQ(OldObject->GetDestinationObjectPath(), QStringLiteral("/Game/W1/Crate.Crate"));

	// Walks through the redirector still reach the moved package and what it needs.
	EXPECT_TRUE(Walk(Registry(), QStringLiteral("/Game/Blueprints/BP_Spawner"))
	                .contains(QStringLiteral("/Game/Materials/M_Wood")));
	EXPECT_TRUE(
	    Walk(Registry(), QStringLiteral("/Game/Blueprints/BP_Spawner")).contains(QStringLiteral("/Game/W1/Crate")));

	// Moving where it is already changes nothing; moving it back replaces its own redirector.
	AssetViewUtils::MoveAssets(Tools(), {Crate}, QStringLiteral("/Game/W1"));
	AssetViewUtils::MoveAssets(Tools(), {Crate}, QStringLiteral("/Game/Props"));
	EXPECT_EQ(FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/Props/Crate"))), CrateBytes);
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/W1/Crate")), QStringLiteral("/Game/Props/Crate.Crate"));
	EXPECT_EQ(Crate->GetPathName(), QStringLiteral("/Game/Props/Crate.Crate"));
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, RenamingAPackageRenamesItsMainAsset)
{
	const FObjectPtr Rock = Load(QStringLiteral("/Game/Props/Rock.Rock"));
	ASSERT_TRUE(Rock);
	EXPECT_TRUE(Tools().RenameAssets({{Rock, QStringLiteral("/Game/W1/Nature"), QStringLiteral("Boulder")}}));
	EXPECT_EQ(Rock->GetPathName(), QStringLiteral("/Game/W1/Nature/Boulder.Boulder"));
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/Props/Rock")), QStringLiteral("/Game/W1/Nature/Boulder.Boulder"));
	EXPECT_EQ(Load(QStringLiteral("/Game/Props/Rock.Rock")), Rock);
	EXPECT_FALSE(Tools().RenameAssets({{Rock, QStringLiteral("/Game/W1"), QStringLiteral("Bad.Name")}}));
	EXPECT_FALSE(Tools().RenameAssets({{Rock, QStringLiteral("/Nowhere/Props"), QStringLiteral("Boulder")}}));
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, ANameClashStopsThatMoveAndKeepsBothPackages)
{
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/W1/Props/Crate"), Texture));
	// A file the registry could not read is not overwritten either.
	ASSERT_TRUE(FAssetTestProject::WriteRaw(Project.FileOf(QStringLiteral("/Game/W1/Props/Rock")),
	                                        QByteArrayLiteral("garbage")));
	Registry().ScanPathsSynchronous({QStringLiteral("/Game/W1")}, true);
	const QStringList Before = Describe(Registry());
	const QByteArray SourceBytes = FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/Props/Crate")));
	const QByteArray TargetBytes = FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/W1/Props/Crate")));

	FLogCapture Log;
	EXPECT_FALSE(AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/Props")}, QStringLiteral("/Game/W1")));
	const QStringList Errors = Log.Messages(ELogVerbosity::Error);
	ASSERT_EQ(Errors.size(), 2) << qPrintable(Errors.join(QLatin1Char('\n')));
	EXPECT_TRUE(Errors[0].contains(QLatin1String("/Game/Props/Crate")) &&
	            Errors[0].contains(QLatin1String("exists already")));
	EXPECT_TRUE(Errors[1].contains(QLatin1String("/Game/Props/Rock")) &&
	            Errors[1].contains(QLatin1String("exists already")));
	EXPECT_EQ(FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/Props/Crate"))), SourceBytes);
	EXPECT_EQ(FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/W1/Props/Crate"))), TargetBytes);
	EXPECT_EQ(FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/W1/Props/Rock"))),
	          QByteArrayLiteral("garbage"));
	EXPECT_EQ(Describe(Registry()), Before);

	// Names clash ignoring case, as the engine's names do.
	const FObjectPtr Wood = Load(QStringLiteral("/Game/Materials/M_Wood.M_Wood"));
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/W1/m_wood"), Texture));
	Registry().ScanPathsSynchronous({QStringLiteral("/Game/W1")}, true);
	AssetViewUtils::MoveAssets(Tools(), {Wood}, QStringLiteral("/Game/W1"));
	EXPECT_EQ(Wood->GetPathName(), QStringLiteral("/Game/Materials/M_Wood.M_Wood"));
	EXPECT_FALSE(QFileInfo::exists(Project.FileOf(QStringLiteral("/Game/W1/M_Wood"))));
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, MovingAFolderKeepsItsStructureAndCarriesExternalPackages)
{
	const QByteArray ActorBytes = FAssetTestProject::ReadRaw(Project.FileOf(ActorA));
	// An actor saved after the registry's scan moves along all the same.
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/__ExternalActors__/Maps/Open/Z/00/Z00LATE"), Actor));
	FLogCapture Log;
	EXPECT_TRUE(AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/Maps")}, QStringLiteral("/Game/W1")));
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).isEmpty());

	for (const char* Moved : {"/Game/W1/Maps/Entry", "/Game/W1/Maps/Open", "/Game/W1/Maps/Layers/DL_Main"})
	{
		EXPECT_TRUE(Registry().DoesPackageExistOnDisk(QString::fromLatin1(Moved))) << Moved;
	}
	EXPECT_EQ(Registry().GetPackageFilename(QStringLiteral("/Game/W1/Maps/Open")),
	          Project.FileOf(QStringLiteral("/Game/W1/Maps/Open"), true));
	EXPECT_TRUE(QFileInfo(Project.ContentDir() + QStringLiteral("W1/Maps/Empty/Deeper")).isDir());
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/Maps/Open")), QStringLiteral("/Game/W1/Maps/Open.Open"));
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/Maps/Layers/DL_Main")),
	          QStringLiteral("/Game/W1/Maps/Layers/DL_Main.DL_Main"));

	// The external packages mirror the level's new path, keep their nested folders and contents,
	// and leave nothing behind: no redirectors, no empty folders.
	const QString NewA = QStringLiteral("/Game/__ExternalActors__/W1/Maps/Open/3/KQ/3KQ0M7X1");
	EXPECT_EQ(FAssetTestProject::ReadRaw(Project.FileOf(NewA)), ActorBytes);
	EXPECT_EQ(FilesUnder(Project.ContentDir() + QStringLiteral("__ExternalActors__/")),
	          QStringList({QStringLiteral("W1/Maps/Open/3/KQ/3KQ0M7X1.uasset"),
	                       QStringLiteral("W1/Maps/Open/8/1Z/81Z5T0PL.uasset"),
	                       QStringLiteral("W1/Maps/Open/Z/00/Z00LATE.uasset")}));
	EXPECT_EQ(FilesUnder(Project.ContentDir() + QStringLiteral("__ExternalObjects__/")),
	          QStringList({QStringLiteral("W1/Maps/Open/0/B7/0B7N4D2X.uasset")}));
	EXPECT_FALSE(QFileInfo::exists(Project.ContentDir() + QStringLiteral("__ExternalActors__/Maps")));
	EXPECT_FALSE(Registry().DoesPackageExistOnDisk(ActorA));
	EXPECT_EQ(Walk(Registry(), QStringLiteral("/Game/W1/Maps/Open")),
	          QSet<QString>({QStringLiteral("/Game/W1/Maps/Open"), QStringLiteral("/Game/Props/Crate"),
	                         QStringLiteral("/Game/Props/Rock"), QStringLiteral("/Game/Materials/M_Wood"),
	                         QStringLiteral("/Game/Textures/T_Wood"), NewA,
	                         QStringLiteral("/Game/__ExternalActors__/W1/Maps/Open/8/1Z/81Z5T0PL"),
	                         QStringLiteral("/Game/__ExternalObjects__/W1/Maps/Open/0/B7/0B7N4D2X"),
	                         QStringLiteral("/Game/__ExternalActors__/W1/Maps/Open/Z/00/Z00LATE")}));

	// External folders never move on their own: they follow their levels.
	const QStringList ExternalFiles = FilesUnder(Project.ContentDir());
	EXPECT_TRUE(
	    AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/__ExternalActors__")}, QStringLiteral("/Game/W2")));
	EXPECT_EQ(FilesUnder(Project.ContentDir()), ExternalFiles);
	EXPECT_FALSE(QFileInfo::exists(Project.ContentDir() + QStringLiteral("W2")));

	FLogCapture Refusals;
	AssetViewUtils::MoveAssets(Tools(), {Load(NewA + QStringLiteral(".3KQ0M7X1"))}, QStringLiteral("/Game/W2"));
	EXPECT_EQ(Refusals.Messages(ELogVerbosity::Error).size(), 1);
	EXPECT_EQ(FilesUnder(Project.ContentDir()), ExternalFiles);

	// A folder cannot move into itself.
	EXPECT_FALSE(AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/W1")}, QStringLiteral("/Game/W1/Inner")));
	EXPECT_FALSE(
	    AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/NoSuchFolder")}, QStringLiteral("/Game/W1")));
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, APackageMovedAsItIsKeepsItsFileUnderTheNewNameOrElseIsCopied)
{
	const QString Crate = Project.FileOf(QStringLiteral("/Game/Props/Crate"));
	const QString Rock = Project.FileOf(QStringLiteral("/Game/Props/Rock"));
	const QByteArray CrateBytes = FAssetTestProject::ReadRaw(Crate);
	const QByteArray RockBytes = FAssetTestProject::ReadRaw(Rock);
	struct stat CrateBefore
	{
	};
	struct stat RockBefore
	{
	};
	ASSERT_EQ(::stat(QFile::encodeName(Crate).constData(), &CrateBefore), 0);
	ASSERT_EQ(::stat(QFile::encodeName(Rock).constData(), &RockBefore), 0);
	const QString NewRock = Project.FileOf(QStringLiteral("/Game/W1/Props/Rock"));
	std::atomic<int> RockCreates{0};
	{
		// The rock's new name cannot be a link (as across file systems): it is written as a copy.
		FScopedFileWriteFault Fault(
		    [&](EFileWriteStep Step, const QString& Path)
		    { return Step == EFileWriteStep::Create && Path == NewRock && RockCreates++ == 0 ? EXDEV : 0; });
		FLogCapture Log;
		ASSERT_TRUE(AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/Props")}, QStringLiteral("/Game/W1")));
		EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).isEmpty());
	}
	EXPECT_EQ(RockCreates, 2);
	struct stat CrateAfter
	{
	};
	struct stat RockAfter
	{
	};
	const QString NewCrate = Project.FileOf(QStringLiteral("/Game/W1/Props/Crate"));
	ASSERT_EQ(::stat(QFile::encodeName(NewCrate).constData(), &CrateAfter), 0);
	ASSERT_EQ(::stat(QFile::encodeName(NewRock).constData(), &RockAfter), 0);
	EXPECT_EQ(CrateAfter.st_ino, CrateBefore.st_ino);
	EXPECT_EQ(CrateAfter.st_nlink, 1U);
	EXPECT_NE(RockAfter.st_ino, RockBefore.st_ino);
	EXPECT_EQ(FAssetTestProject::ReadRaw(NewCrate), CrateBytes);
	EXPECT_EQ(FAssetTestProject::ReadRaw(NewRock), RockBytes);
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/Props/Crate")), QStringLiteral("/Game/W1/Props/Crate.Crate"));
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/Props/Rock")), QStringLiteral("/Game/W1/Props/Rock.Rock"));
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, ALevelWhoseExternalPackageClashesDoesNotMoveAtAll)
{
	ASSERT_TRUE(Project.Write(QStringLiteral("/Game/__ExternalActors__/W1/Maps/Open/8/1Z/81Z5T0PL"), Actor));
	Registry().ScanPathsSynchronous({QStringLiteral("/Game/__ExternalActors__")}, true);
	const QStringList Files = FilesUnder(Project.ContentDir());
	FLogCapture Log;
	const FObjectPtr Open = Load(QStringLiteral("/Game/Maps/Open.Open"));
	EXPECT_FALSE(Tools().RenameAssets({{Open, QStringLiteral("/Game/W1/Maps"), QStringLiteral("Open")}}));
	ASSERT_EQ(Log.Messages(ELogVerbosity::Error).size(), 1);
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).first().contains(QLatin1String("81Z5T0PL")));
	EXPECT_EQ(FilesUnder(Project.ContentDir()), Files);
	EXPECT_EQ(Open->GetPathName(), QStringLiteral("/Game/Maps/Open.Open"));
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, FixUpRewritesReferencersAndDeletesRedirectors)
{
	const QByteArray CrateBytes = FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/Props/Crate")));
	ASSERT_TRUE(AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/Props")}, QStringLiteral("/Game/W1")));
	// A second move makes a chain: /Game/Materials/M_Wood -> /Game/W1/Materials/M_Wood -> /Game/W2/M_Wood.
	ASSERT_TRUE(AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/Materials")}, QStringLiteral("/Game/W1")));
	AssetViewUtils::MoveAssets(Tools(), {Load(QStringLiteral("/Game/W1/Materials/M_Wood.M_Wood"))},
	                           QStringLiteral("/Game/W2"));

	const QList<FObjectPtr> Redirectors = LoadAllRedirectors();
	ASSERT_EQ(Redirectors.size(), 4);
	Tools().FixupReferencers(Redirectors, false);

	for (const FObjectPtr& Redirector : Redirectors)
	{
		EXPECT_FALSE(Redirector->IsValid());
	}
	EXPECT_TRUE(LoadAllRedirectors().isEmpty());
	EXPECT_FALSE(QFileInfo::exists(Project.FileOf(QStringLiteral("/Game/Props/Crate"))));
	EXPECT_FALSE(QFileInfo::exists(Project.FileOf(QStringLiteral("/Game/W1/Materials/M_Wood"))));
	// Referencers point at the final destinations, in their own order, with their hard/soft kind.
	const std::optional<FPackageFile> Spawner =
	    FPackageFile::LoadFromFile(Project.FileOf(QStringLiteral("/Game/Blueprints/BP_Spawner")));
	ASSERT_TRUE(Spawner);
	EXPECT_EQ(Spawner->HardDependencies,
	          QStringList({QStringLiteral("/Game/W1/Props/Crate"), QStringLiteral("/Game/W1/Props/Rock")}));
	EXPECT_EQ(Spawner->SoftDependencies, QStringList{QStringLiteral("/Game/Textures/T_Wood")});
	QStringList CrateDependencies;
	Registry().GetDependencies(QStringLiteral("/Game/W1/Props/Crate"), CrateDependencies);
	EXPECT_EQ(CrateDependencies, QStringList{QStringLiteral("/Game/W2/M_Wood")});
	// Only the dependencies changed: the payload is the same JSON value.
	const std::optional<FPackageFile> Crate =
	    FPackageFile::LoadFromFile(Project.FileOf(QStringLiteral("/Game/W1/Props/Crate")));
	ASSERT_TRUE(Crate);
	EXPECT_EQ(Crate->Payload, FPackageFile::Parse(CrateBytes)->Payload);
	// The external actors of the level were rewritten too.
	QStringList ActorDependencies;
	Registry().GetDependencies(ActorA, ActorDependencies);
	EXPECT_EQ(ActorDependencies, QStringList{QStringLiteral("/Game/W1/Props/Rock")});
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, ReadOnlyReferencersAreFixedOnlyWhenTheCreatorAgrees)
{
	ASSERT_TRUE(AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/Textures")}, QStringLiteral("/Game/W1")));
	const QString Material = Project.FileOf(QStringLiteral("/Game/Materials/M_Wood"));
	ASSERT_TRUE(QFile::setPermissions(Material, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
	const QByteArray MaterialBytes = FAssetTestProject::ReadRaw(Material);

	Dialogs().QueueAnswer(EAppReturnType::No);
	Tools().FixupReferencers(LoadAllRedirectors(), true);
	ASSERT_EQ(Dialogs().ShownMessages().size(), 1);
	EXPECT_TRUE(Dialogs().ShownMessages().first().Message.contains(QLatin1String("/Game/Materials/M_Wood")));
	EXPECT_EQ(FAssetTestProject::ReadRaw(Material), MaterialBytes);
	// The blueprint was writable and was fixed, but the redirector stays for the material.
	QStringList Dependencies;
	Registry().GetDependencies(QStringLiteral("/Game/Blueprints/BP_Spawner"), Dependencies);
	EXPECT_TRUE(Dependencies.contains(QStringLiteral("/Game/W1/Textures/T_Wood")));
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/Textures/T_Wood")),
	          QStringLiteral("/Game/W1/Textures/T_Wood.T_Wood"));

	Dialogs().QueueAnswer(EAppReturnType::Yes);
	Tools().FixupReferencers(LoadAllRedirectors(), true);
	EXPECT_TRUE(QFile::permissions(Material) & QFileDevice::WriteOwner);
	Dependencies.clear();
	Registry().GetDependencies(QStringLiteral("/Game/Materials/M_Wood"), Dependencies);
	EXPECT_EQ(Dependencies, QStringList{QStringLiteral("/Game/W1/Textures/T_Wood")});
	EXPECT_FALSE(Registry().DoesPackageExistOnDisk(QStringLiteral("/Game/Textures/T_Wood")));
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, LeftOrDeclinedRedirectorsStayButReferencersAreRewritten)
{
	ASSERT_TRUE(AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/Textures")}, QStringLiteral("/Game/W1")));
	Tools().FixupReferencers(LoadAllRedirectors(), false, ERedirectFixupMode::LeaveFixedUpRedirectors);
	EXPECT_TRUE(Registry().DoesPackageExistOnDisk(QStringLiteral("/Game/Textures/T_Wood")));
	QStringList Dependencies;
	Registry().GetDependencies(QStringLiteral("/Game/Materials/M_Wood"), Dependencies);
	EXPECT_EQ(Dependencies, QStringList{QStringLiteral("/Game/W1/Textures/T_Wood")});

	Dialogs().QueueAnswer(EAppReturnType::No);
	Tools().FixupReferencers(LoadAllRedirectors(), false, ERedirectFixupMode::PromptForDeletingRedirectors);
	EXPECT_TRUE(Registry().DoesPackageExistOnDisk(QStringLiteral("/Game/Textures/T_Wood")));
	Dialogs().QueueAnswer(EAppReturnType::Yes);
	Tools().FixupReferencers(LoadAllRedirectors(), false, ERedirectFixupMode::PromptForDeletingRedirectors);
	EXPECT_FALSE(Registry().DoesPackageExistOnDisk(QStringLiteral("/Game/Textures/T_Wood")));
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, AFailedWriteLosesNothing)
{
	// A package too large for the disk's remaining room.
	FPackageFile Big;
	Big.Assets.append({QStringLiteral("Huge"), Texture, QString()});
	Big.Payload = QString(64 * 1024, QLatin1Char('x'));
	ASSERT_TRUE(Big.SaveToFile(Project.FileOf(QStringLiteral("/Game/Textures/Huge"))));
	Registry().ScanPathsSynchronous({QStringLiteral("/Game/Textures")}, true);
	const QByteArray BigBytes = FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/Textures/Huge")));
	const QStringList Before = Describe(Registry());
	const FObjectPtr Huge = Load(QStringLiteral("/Game/Textures/Huge.Huge"));
	{
		// Renamed, so that its bytes change and a new file must be written.
		FFileSizeLimit DiskFull(16 * 1024);
		FLogCapture Log;
		Tools().RenameAssets({{Huge, QStringLiteral("/Game/W1"), QStringLiteral("Giant")}});
		ASSERT_EQ(Log.Messages(ELogVerbosity::Error).size(), 1);
		EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).first().contains(QLatin1String("failed")));
	}
	EXPECT_EQ(FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/Textures/Huge"))), BigBytes);
	EXPECT_TRUE(FilesUnder(Project.ContentDir() + QStringLiteral("W1")).isEmpty());
	EXPECT_EQ(Huge->GetPathName(), QStringLiteral("/Game/Textures/Huge.Huge"));
	EXPECT_EQ(Describe(Registry()), Before);

	// A referencer too large to rewrite keeps its file, and keeps the redirector it needs.
	FPackageFile Referencer = Big;
	Referencer.Assets.first().Name = QStringLiteral("Atlas");
	Referencer.HardDependencies = {QStringLiteral("/Game/Textures/T_Wood")};
	ASSERT_TRUE(Referencer.SaveToFile(Project.FileOf(QStringLiteral("/Game/Textures/Atlas"))));
	Registry().ScanPathsSynchronous({QStringLiteral("/Game/Textures")}, true);
	AssetViewUtils::MoveAssets(Tools(), {Load(QStringLiteral("/Game/Textures/T_Wood.T_Wood"))},
	                           QStringLiteral("/Game/W1"));
	const QByteArray AtlasBytes = FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/Textures/Atlas")));
	{
		FFileSizeLimit DiskFull(16 * 1024);
		Tools().FixupReferencers(LoadAllRedirectors(), false);
	}
	EXPECT_EQ(FAssetTestProject::ReadRaw(Project.FileOf(QStringLiteral("/Game/Textures/Atlas"))), AtlasBytes);
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/Textures/T_Wood")), QStringLiteral("/Game/W1/T_Wood.T_Wood"));
	QStringList Dependencies;
	Registry().GetDependencies(QStringLiteral("/Game/Materials/M_Wood"), Dependencies);
	EXPECT_EQ(Dependencies, QStringList{QStringLiteral("/Game/W1/T_Wood")});
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, LoadingManyAssetsAsksFirstWhenAllowedTo)
{
	Tools().NumObjectsToLoadBeforeWarning = 2;
	const QStringList Paths = {QStringLiteral("/Game/Props/Crate.Crate"), QStringLiteral("/Game/Props/Rock.Rock"),
	                           QStringLiteral("/Game/Textures/T_Wood.T_Wood")};
	QList<FObjectPtr> Objects;
	Dialogs().QueueAnswer(EAppReturnType::No);
	EXPECT_FALSE(AssetViewUtils::LoadAssetsIfNeeded(Tools(), Paths, Objects, true, false));
	EXPECT_TRUE(Objects.isEmpty());
	EXPECT_TRUE(AssetViewUtils::LoadAssetsIfNeeded(Tools(), Paths, Objects, false, false));
	EXPECT_EQ(Objects.size(), 3);
	EXPECT_EQ(Dialogs().ShownMessages().size(), 1);
	// Already loaded: nothing to ask.
	Objects.clear();
	EXPECT_TRUE(AssetViewUtils::LoadAssetsIfNeeded(Tools(), Paths, Objects, true, false));
	EXPECT_EQ(Dialogs().ShownMessages().size(), 1);
	// One path that does not load fails the whole call.
	Objects.clear();
	EXPECT_FALSE(
	    AssetViewUtils::LoadAssetsIfNeeded(Tools(), {QStringLiteral("/Game/Props/Nope.Nope")}, Objects, false, false));

	QList<FAssetData> Assets;
	Registry().GetAssetsByPath(QStringLiteral("/Game/Props"), Assets);
	QList<FObjectPtr> FromData;
	AssetViewUtils::GetObjectsInAssetData(Tools(), Assets, FromData);
	EXPECT_EQ(FromData.size(), 2);
	EXPECT_TRUE(FromData.contains(Tools().FindObject(QStringLiteral("/Game/Props/Crate.Crate"))));
}

TEST_F(AssetMoveTest, AReferencerFailingInAFixUpBatchKeepsItsFileAndItsRedirectors)
{
	ASSERT_TRUE(AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/Props")}, QStringLiteral("/Game/W1")));
	const QString Spawner = Project.FileOf(QStringLiteral("/Game/Blueprints/BP_Spawner"));
	const QByteArray SpawnerBytes = FAssetTestProject::ReadRaw(Spawner);
	{
		// The blueprint's rewritten file cannot replace the original; the rest of its batch can.
		FScopedFileWriteFault Fault([&](EFileWriteStep Step, const QString& Path)
		                            { return Step == EFileWriteStep::Rename && Path == Spawner ? EIO : 0; });
		FLogCapture Log;
		Tools().FixupReferencers(LoadAllRedirectors(), false);
		ASSERT_EQ(Log.Messages(ELogVerbosity::Error).size(), 1);
		EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).first().contains(QLatin1String("BP_Spawner")));
	}
	EXPECT_EQ(FAssetTestProject::ReadRaw(Spawner), SpawnerBytes);
	// It refers to both props, so both redirectors stay; the other referencers point past them.
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/Props/Crate")), QStringLiteral("/Game/W1/Props/Crate.Crate"));
	EXPECT_EQ(RedirectorTarget(QStringLiteral("/Game/Props/Rock")), QStringLiteral("/Game/W1/Props/Rock.Rock"));
	QStringList Dependencies;
	Registry().GetDependencies(QStringLiteral("/Game/Maps/Entry"), Dependencies);
	EXPECT_TRUE(Dependencies.contains(QStringLiteral("/Game/W1/Props/Crate")));
	EXPECT_FALSE(Dependencies.contains(QStringLiteral("/Game/Props/Crate")));
	// Every file is a whole package; no temporary is left behind.
	for (const QString& File : FilesUnder(Project.ContentDir()))
	{
		EXPECT_TRUE(File.endsWith(QLatin1String(".uasset")) || File.endsWith(QLatin1String(".umap")))
		    << qPrintable(File);
		EXPECT_TRUE(FPackageFile::LoadFromFile(Project.ContentDir() + File)) << qPrintable(File);
	}
	ExpectRegistryMatchesDisk();

	Tools().FixupReferencers(LoadAllRedirectors(), false);
	EXPECT_TRUE(LoadAllRedirectors().isEmpty());
	ExpectRegistryMatchesDisk();
}

TEST_F(AssetMoveTest, AMoveAskedForWhileAnotherWaitsForItsFilesIsRefused)
{
	// The first move's files are held until an event of the main thread, which runs while the move
	// waits, has asked for a second move.
	QObject Context;
	std::atomic<bool> bAsked{false};
	bool bNestedMoved = true;
	FGameThread::Post(&Context,
	                  [&]
	                  {
		                  bNestedMoved = Tools().MovePackages(
		                      {{QStringLiteral("/Game/Textures/T_Wood"), QStringLiteral("/Game/W2/T_Wood")}});
		                  bAsked = true;
	                  });
	FScopedFileWriteFault Hold(
	    [&](EFileWriteStep, const QString&)
	    {
		    QDeadlineTimer Deadline(10000);
		    while (!bAsked && !Deadline.hasExpired())
		    {
			    QThread::msleep(1);
		    }
		    return 0;
	    });
	FLogCapture Log;
	EXPECT_TRUE(AssetViewUtils::MoveFolders(Tools(), {QStringLiteral("/Game/Props")}, QStringLiteral("/Game/W1")));
	ASSERT_TRUE(bAsked);
	EXPECT_FALSE(bNestedMoved);
	ASSERT_EQ(Log.Messages(ELogVerbosity::Error).size(), 1);
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).first().contains(QLatin1String("while another change")));
	EXPECT_TRUE(Registry().DoesPackageExistOnDisk(QStringLiteral("/Game/W1/Props/Crate")));
	EXPECT_TRUE(Registry().DoesPackageExistOnDisk(QStringLiteral("/Game/Textures/T_Wood")));
	EXPECT_FALSE(Registry().DoesPackageExistOnDisk(QStringLiteral("/Game/W2/T_Wood")));
	ExpectRegistryMatchesDisk();
}
