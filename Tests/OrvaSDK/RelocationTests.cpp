#include "SdkFixture.h"

#include "AssetRegistry.h"
#include "FileHelper.h"
#include "GameThread.h"
#include "ObjectClasses.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>

namespace
{
// Writes one package file: its main asset is named after the package; a level with "World".
QByteArray PackageJson(const QString& PackageName, const QStringList& Hard, const QStringList& Soft = {},
                       bool bLevel = false, bool bPartitioned = false)
{
	QJsonObject Asset{{QStringLiteral("Name"), PackageName.section(QLatin1Char('/'), -1)},
	                  {QStringLiteral("Class"),
	                   bLevel ? QStringLiteral("/Script/Engine.World") : QStringLiteral("/Script/Engine.StaticMesh")}};
	QJsonObject Root{{QStringLiteral("OrvaPackage"), 1},
	                 {QStringLiteral("Assets"), QJsonArray{Asset}},
	                 {QStringLiteral("HardDependencies"), QJsonArray::fromStringList(Hard)},
	                 {QStringLiteral("SoftDependencies"), QJsonArray::fromStringList(Soft)}};
	if (bPartitioned)
	{
		Root.insert(QStringLiteral("Partitioned"), true);
	}
	return QJsonDocument(Root).toJson();
}
} // namespace

class RelocationTest : public FSdkFixture
{
protected:
	void AddPackage(const QString& PackageName, const QStringList& Hard, const QStringList& Soft = {},
	                bool bLevel = false, bool bPartitioned = false)
	{
		const QString Relative = PackageName.mid(QStringLiteral("/Game/").size());
		Project.WriteFile(QStringLiteral("TestProject/Content/") + Relative +
		                      (bLevel ? QStringLiteral(".umap") : QStringLiteral(".uasset")),
		                  PackageJson(PackageName, Hard, Soft, bLevel, bPartitioned));
	}

	// A workspace W1 bound to a cached world, with folders, as after selecting it.
	void StartWithWorkspace(bool bWithEditorWorld = false)
	{
		WriteSettings();
		FEditorHostOptions Options;
		Options.ProjectFile = Project.ProjectFile();
		Options.UserSettingsDir = Project.UserSettingsDir();
		Options.bWithEditorWorld = bWithEditorWorld;
		Options.EngineDir = QStringLiteral(ORVA_SOURCE_DIR "/Resources/EngineContent");
		Host = std::make_unique<FEditorHost>(Options);
		auto PolicyDialogs = std::make_unique<FPolicyDialogService>();
		Dialogs = PolicyDialogs.get();
		Host->SetDialogService(std::move(PolicyDialogs));
		Host->RegisterSubsystem<UOrvaSDKSubsystem>();
		Host->RegisterSubsystem<UOrvaDataCacheSubsystem>();
		Host->Start();
		Server.SetHandler(
		    [](const FLoopbackHttpServer::FRecordedRequest& Request)
		    {
			    if (Request.Target.endsWith("/me/worlds"))
			    {
				    return FLoopbackHttpServer::FAnswer{
				        200, "[" + WorldJson(QStringLiteral("W1"), QStringLiteral("id-1")) + "]"};
			    }
			    return FLoopbackHttpServer::FAnswer{200, R"({"screen_shots":[]})"};
		    });
		QDir().mkpath(Project.ContentDir() + QStringLiteral("W1"));
		Sdk().GetWorldsList();
		Settle();
		FOrvaWorldData World;
		World.Identifier = QStringLiteral("W1");
		World.Id = QStringLiteral("id-1");
		Sdk().ChangeWorkspaceWorld(World);
		Settle();
		ASSERT_EQ(Sdk().GetKeyFolderName(), QStringLiteral("W1"));
	}

	QStringList Sorted(QStringList Names) const
	{
		Names.sort(Qt::CaseInsensitive);
		return Names;
	}

	// Runs the folder moves tick by tick, as the timer would, until the move finished.
	int RunTicks()
	{
		int Ticks = 0;
		while (Sdk().GetCurrProgress() != EOrvaSDKProgress::FolderMoveSuccess && Ticks < 100)
		{
			Sdk().ExcuteFolderMoving();
			++Ticks;
		}
		return Ticks;
	}

	QString InfoPath() const
	{
		FConfigCache Reader;
		QString Value;
		Reader.GetString(QStringLiteral("WorldInfo"), QStringLiteral("Path"), Value,
		                 Project.ContentDir() + QStringLiteral("W1/Config/WorldInfo.ini"));
		return Value;
	}

	// Every dependency of every package in the project resolves to a package that exists.
	void ExpectAllReferencesResolve()
	{
		FAssetRegistry& Registry = Host->AssetRegistry();
		Registry.SearchAllAssets(true);
		for (const QString& Package : Registry.GetAllPackageNames())
		{
			QStringList Dependencies;
			Registry.GetDependencies(Package, Dependencies);
			for (const QString& Dependency : Dependencies)
			{
				EXPECT_TRUE(Registry.DoesPackageExist(Dependency))
				    << qPrintable(Package + QStringLiteral(" -> ") + Dependency);
			}
		}
	}

	int CountRedirectors()
	{
		QList<FAssetData> All;
		Host->AssetRegistry().GetAllAssets(All);
		int Count = 0;
		for (const FAssetData& Asset : All)
		{
			Count += Asset.IsRedirector() ? 1 : 0;
		}
		return Count;
	}
};

TEST_F(RelocationTest, FindsWhatLiesOutsideTheWorkspace)
{
	AddPackage(QStringLiteral("/Game/Maps/Entry"),
	           {QStringLiteral("/Game/Props/Crate"), QStringLiteral("/Game/W1Old/Inside"),
	            QStringLiteral("/Game/W1/Mine"), QStringLiteral("/Engine/BasicShapes/Cube"),
	            QStringLiteral("/Script/Engine"), QStringLiteral("/Game/Missing/Gone")},
	           {QStringLiteral("/Game/Textures/T_Sky")}, true);
	AddPackage(QStringLiteral("/Game/Props/Crate"),
	           {QStringLiteral("/Game/Materials/M_Wood"), QStringLiteral("/Game/Maps/Entry")});
	AddPackage(QStringLiteral("/Game/Materials/M_Wood"), {QStringLiteral("/Game/Props/Crate")});
	AddPackage(QStringLiteral("/Game/W1Old/Inside"), {QStringLiteral("/Game/Far/Away")});
	AddPackage(QStringLiteral("/Game/Far/Away"), {});
	AddPackage(QStringLiteral("/Game/W1/Mine"), {});
	AddPackage(QStringLiteral("/Game/Textures/T_Sky"), {});
	StartWithWorkspace();

	const QStringList Found = Sdk().CheckFoldersNeedMove(FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry")));
	EXPECT_EQ(Sorted(Found), Sorted({QStringLiteral("/Game/Maps/Entry"), QStringLiteral("/Game/Props/Crate"),
	                                 QStringLiteral("/Game/Materials/M_Wood"), QStringLiteral("/Game/Textures/T_Sky"),
	                                 QStringLiteral("/Game/Far/Away")}));
	QStringList Unique = Found;
	EXPECT_EQ(Unique.removeDuplicates(), 0);
	EXPECT_TRUE(Sdk().CheckFoldersNeedMove(FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry:Sub"))).isEmpty());
	EXPECT_TRUE(Sdk().CheckFoldersNeedMove(FSoftObjectPath()).isEmpty());
	// The entry level itself counts even from another mount point.
	EXPECT_EQ(Sdk().CheckFoldersNeedMove(QStringLiteral("/Engine/BasicShapes/Cube"), QStringLiteral("W1")),
	          QStringList{QStringLiteral("/Engine/BasicShapes/Cube")});
}

TEST_F(RelocationTest, LevelInsideTheWorkspaceAsksNothing)
{
	AddPackage(QStringLiteral("/Game/W1/Maps/Entry"),
	           {QStringLiteral("/Game/W1/Props/Crate"), QStringLiteral("/Script/Engine")}, {}, true);
	AddPackage(QStringLiteral("/Game/W1/Props/Crate"), {});
	StartWithWorkspace();
	Sdk().SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Entry.Entry")));
	EXPECT_TRUE(Dialogs->ShownMessages().isEmpty());
	EXPECT_EQ(InfoPath(), QStringLiteral("/Game/W1/Maps/Entry.Entry"));
}

TEST_F(RelocationTest, ExternalActorsAreFoundAfterAForcedScan)
{
	AddPackage(QStringLiteral("/Game/W1/Maps/Open"), {}, {}, true, true);
	StartWithWorkspace();
	// Actors saved after the start-up scan are found all the same.
	AddPackage(QStringLiteral("/Game/__ExternalActors__/Maps/Open/A/B1/Actor1"), {QStringLiteral("/Game/Props/Stone")});
	AddPackage(QStringLiteral("/Game/__ExternalObjects__/Maps/Open/C/D2/Object1"), {});
	AddPackage(QStringLiteral("/Game/__ExternalActors__/W1/Maps/Open/E/F3/Actor2"),
	           {QStringLiteral("/Game/Props/Rock")});
	AddPackage(QStringLiteral("/Game/Props/Stone"), {});
	AddPackage(QStringLiteral("/Game/Props/Rock"), {});
	Host->AssetRegistry().ScanPathsSynchronous({QStringLiteral("/Game/Props")}, true);
	const QStringList Found = Sdk().CheckFoldersNeedMove(FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Open.Open")));
	EXPECT_EQ(Sorted(Found), Sorted({QStringLiteral("/Game/Props/Rock")}))
	    << "the level's own external actors belong to the workspace; the actor's dependency does not";

	// The same level outside the workspace brings its external packages along.
	AddPackage(QStringLiteral("/Game/Maps/Open"), {}, {}, true, true);
	Host->AssetRegistry().ScanPathsSynchronous({QStringLiteral("/Game/Maps")}, true);
	const QStringList Outside = Sdk().CheckFoldersNeedMove(FSoftObjectPath(QStringLiteral("/Game/Maps/Open.Open")));
	EXPECT_TRUE(Outside.contains(QStringLiteral("/Game/__ExternalActors__/Maps/Open/A/B1/Actor1")));
	EXPECT_TRUE(Outside.contains(QStringLiteral("/Game/__ExternalObjects__/Maps/Open/C/D2/Object1")));
	EXPECT_TRUE(Outside.contains(QStringLiteral("/Game/Props/Stone")));
	EXPECT_FALSE(Outside.contains(QStringLiteral("/Game/Props/Rock")));
}

TEST_F(RelocationTest, ALevelIsAnyPackageWithAWorldAssetAfterClassRedirects)
{
	// The world is not the main asset, and its class path is an old one redirected to the world class.
	const QJsonObject Mixed{
	    {QStringLiteral("OrvaPackage"), 1},
	    {QStringLiteral("Assets"),
	     QJsonArray{QJsonObject{{QStringLiteral("Name"), QStringLiteral("Mixed_Data")},
	                            {QStringLiteral("Class"), QStringLiteral("/Script/Engine.DataAsset")}},
	                QJsonObject{{QStringLiteral("Name"), QStringLiteral("Mixed")},
	                            {QStringLiteral("Class"), QStringLiteral("/Script/Engine.PartitionedWorld")}}}},
	    {QStringLiteral("HardDependencies"), QJsonArray{QStringLiteral("/Game/Maps/Late")}}};
	Project.WriteFile(QStringLiteral("TestProject/Content/Maps/Mixed.uasset"), QJsonDocument(Mixed).toJson());
	// A world class of the game's own module, unknown until its module registers it.
	const QString LateWorld = QStringLiteral("/Script/RelocationTestModule.LateWorld");
	const QJsonObject Late{
	    {QStringLiteral("OrvaPackage"), 1},
	    {QStringLiteral("Assets"), QJsonArray{QJsonObject{{QStringLiteral("Name"), QStringLiteral("Late")},
	                                                      {QStringLiteral("Class"), LateWorld}}}}};
	Project.WriteFile(QStringLiteral("TestProject/Content/Maps/Late.umap"), QJsonDocument(Late).toJson());
	AddPackage(QStringLiteral("/Game/__ExternalActors__/Maps/Mixed/A/B1/MixedActor"),
	           {QStringLiteral("/Game/Props/Stone")});
	AddPackage(QStringLiteral("/Game/__ExternalActors__/Maps/Late/C/D2/LateActor"), {});
	AddPackage(QStringLiteral("/Game/Props/Stone"), {});
	StartWithWorkspace();

	const QStringList Before = Sdk().CheckFoldersNeedMove(FSoftObjectPath(QStringLiteral("/Game/Maps/Mixed.Mixed")));
	EXPECT_EQ(Sorted(Before), Sorted({QStringLiteral("/Game/Maps/Mixed"), QStringLiteral("/Game/Maps/Late"),
	                                  QStringLiteral("/Game/__ExternalActors__/Maps/Mixed/A/B1/MixedActor"),
	                                  QStringLiteral("/Game/Props/Stone")}));

	ASSERT_TRUE(Host->Classes().RegisterClass(LateWorld, QStringLiteral("/Script/Engine.World")));
	const QStringList After = Sdk().CheckFoldersNeedMove(FSoftObjectPath(QStringLiteral("/Game/Maps/Mixed.Mixed")));
	EXPECT_EQ(Sorted(After),
	          Sorted(Before + QStringList{QStringLiteral("/Game/__ExternalActors__/Maps/Late/C/D2/LateActor")}))
	    << "a class registered after the scan makes its packages levels from then on";
}

TEST_F(RelocationTest, NamesAreAnsweredOnceAsSpelled)
{
	AddPackage(QStringLiteral("/Game/Maps/Entry"),
	           {QStringLiteral("/Game/Props/Crate"), QStringLiteral("/game/props/crate")}, {}, true);
	AddPackage(QStringLiteral("/Game/Props/Crate"), {QStringLiteral("/GAME/MAPS/ENTRY")});
	StartWithWorkspace();
	// The entry level keeps the caller's spelling; a dependency is the registry's spelling of it,
	// and names differing only in case count once.
	EXPECT_EQ(Sdk().CheckFoldersNeedMove(QStringLiteral("/game/maps/ENTRY"), QStringLiteral("W1")),
	          QStringList({QStringLiteral("/game/maps/ENTRY"), QStringLiteral("/Game/Props/Crate")}));
}

TEST_F(RelocationTest, AnsweringNoClearsTheEntryLevel)
{
	AddPackage(QStringLiteral("/Game/Maps/Entry"), {QStringLiteral("/Game/Props/Crate")}, {}, true);
	AddPackage(QStringLiteral("/Game/Props/Crate"), {});
	StartWithWorkspace();
	Dialogs->QueueAnswer(EAppReturnType::No);
	Sdk().SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry")));
	ASSERT_EQ(Dialogs->ShownMessages().size(), 1);
	EXPECT_EQ(
	    Dialogs->ShownMessages()[0].Message,
	    QStringLiteral("Do some packages not in the correct path need to be automatically moved to the correct path?"));
	EXPECT_EQ(Dialogs->ShownMessages()[0].Title, QStringLiteral("Auto Move Folders To Correct Path"));
	EXPECT_TRUE(Sdk().CurrentLevelIsNone());
	EXPECT_EQ(InfoPath(), QString());
	EXPECT_TRUE(QFileInfo::exists(Project.ContentDir() + QStringLiteral("Maps/Entry.umap"))) << "nothing moved";
	EXPECT_TRUE(Sdk().IdentInProgress.isEmpty());
	EXPECT_FALSE(Sdk().SureAutoMovePackages({}));
	EXPECT_EQ(Dialogs->ShownMessages().size(), 1) << "an empty set asks nothing";
}

TEST_F(RelocationTest, MovesRootAssetsAtOnceAndOneFolderPerTick)
{
	AddPackage(
	    QStringLiteral("/Game/Maps/Entry"),
	    {QStringLiteral("/Game/Props/Crate"), QStringLiteral("/Game/Props/Barrel"), QStringLiteral("/Game/Palette")},
	    {QStringLiteral("/Game/Textures/T_Sky")}, true);
	AddPackage(QStringLiteral("/Game/Props/Crate"), {QStringLiteral("/Game/Materials/M_Wood")});
	AddPackage(QStringLiteral("/Game/Props/Barrel"), {QStringLiteral("/Game/Materials/M_Wood")});
	AddPackage(QStringLiteral("/Game/Materials/M_Wood"), {QStringLiteral("/Game/Textures/T_Wood")});
	AddPackage(QStringLiteral("/Game/Textures/T_Wood"), {});
	AddPackage(QStringLiteral("/Game/Textures/T_Sky"), {});
	AddPackage(QStringLiteral("/Game/Palette"), {});
	AddPackage(QStringLiteral("/Game/Other/User"), {QStringLiteral("/Game/Props/Crate")});
	StartWithWorkspace();
	Dialogs->QueueAnswer(EAppReturnType::Yes);

	Sdk().SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry")));

	EXPECT_EQ(Sdk().IdentInProgress, QStringLiteral("W1"));
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::FolderMoving);
	EXPECT_TRUE(Log.Contains(QStringLiteral("No World")));
	EXPECT_EQ(Sorted(Sdk().property("RecordMovedFolders").toStringList()),
	          Sorted({QStringLiteral("/Game/Maps"), QStringLiteral("/Game/Props"), QStringLiteral("/Game/Materials"),
	                  QStringLiteral("/Game/Textures")}));
	// The root asset moved before any tick; folders have not.
	EXPECT_TRUE(QFileInfo::exists(Project.ContentDir() + QStringLiteral("W1/Palette.uasset")));
	EXPECT_TRUE(QFileInfo::exists(Project.ContentDir() + QStringLiteral("Props/Crate.uasset")));

	Sdk().ExcuteFolderMoving();
	const QString First = Sdk().property("RecordMovedFolders").toStringList().first();
	EXPECT_TRUE(QFileInfo(Project.ContentDir() + QStringLiteral("W1") + First.mid(5)).isDir()) << qPrintable(First);
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::FolderMoving);

	EXPECT_EQ(RunTicks(), 4) << "three more folders, then one tick to finish";
	EXPECT_EQ(Sdk().GetCurrentLevelPath().ToString(), QStringLiteral("/Game/W1/Maps/Entry.Entry"));
	EXPECT_EQ(Cache().GetWorkspace(QStringLiteral("W1"))->ObjectPath.ToString(),
	          QStringLiteral("/Game/W1/Maps/Entry.Entry"));
	EXPECT_EQ(InfoPath(), QStringLiteral("/Game/W1/Maps/Entry.Entry")) << "the stored entry level follows the move";
	EXPECT_EQ(CountRedirectors(), 0);
	EXPECT_TRUE(Host->AssetRegistry().DoesPackageExistOnDisk(QStringLiteral("/Game/W1/Props/Crate")));
	EXPECT_FALSE(Host->AssetRegistry().DoesPackageExistOnDisk(QStringLiteral("/Game/Props/Crate")));
	ExpectAllReferencesResolve();
	EXPECT_TRUE(Sdk().CheckFoldersNeedMove(Sdk().GetCurrentLevelPath()).isEmpty());
	EXPECT_TRUE(Dialogs->SlowTaskTexts().contains(QStringLiteral("Fixing up redirectors")));
	EXPECT_EQ(Dialogs->OpenSlowTasks(), 0);
}

TEST_F(RelocationTest, TimerTicksAfterAShortDelayThenAboutEverySecond)
{
	AddPackage(QStringLiteral("/Game/Maps/Entry"), {QStringLiteral("/Game/Props/Crate")}, {}, true);
	AddPackage(QStringLiteral("/Game/Props/Crate"), {});
	StartWithWorkspace(true);
	Dialogs->QueueAnswer(EAppReturnType::Yes);
	QElapsedTimer Clock;
	Clock.start();
	Sdk().SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry")));
	ASSERT_TRUE(Sdk().IsFolderMoveRunning());
	const QList<QTimer*> Timers = Sdk().findChildren<QTimer*>();
	const auto Running =
	    std::find_if(Timers.cbegin(), Timers.cend(), [](const QTimer* Timer) { return Timer->isActive(); });
	ASSERT_NE(Running, Timers.cend());
	const QTimer* Timer = *Running;
	EXPECT_FALSE(Timer->isSingleShot());
	EXPECT_EQ(Timer->interval(), 100) << "the first tick comes after a short delay";

	// Two folders: the first tick moves /Game/Maps, the next /Game/Props, one more finishes.
	const QString FirstMoved = Project.ContentDir() + QStringLiteral("W1/Maps/Entry.umap");
	ASSERT_TRUE(FGameThread::RunUntil([&] { return QFileInfo::exists(FirstMoved); }, 8000));
	const qint64 FirstTickMs = Clock.elapsed();
	EXPECT_EQ(Timer->interval(), 990) << "then about every second";
	EXPECT_FALSE(QFileInfo::exists(Project.ContentDir() + QStringLiteral("W1/Props/Crate.uasset")))
	    << "one folder per tick";
	ASSERT_TRUE(
	    FGameThread::RunUntil([&] { return Sdk().GetCurrProgress() == EOrvaSDKProgress::FolderMoveSuccess; }, 8000));
	// Timers never fire early by more than their coarse margin, so these lower bounds hold on any machine.
	EXPECT_GE(FirstTickMs, 90);
	EXPECT_GE(Clock.elapsed(), 90 + 2 * 940);
	EXPECT_FALSE(Sdk().IsFolderMoveRunning());
	EXPECT_EQ(Sdk().GetCurrentLevelPath().ToString(), QStringLiteral("/Game/W1/Maps/Entry.Entry"));
}

TEST_F(RelocationTest, ATickThatComesWhileAFolderMovesRunsAfterIt)
{
	AddPackage(QStringLiteral("/Game/Maps/Entry"), {QStringLiteral("/Game/Props/Crate")}, {}, true);
	AddPackage(QStringLiteral("/Game/Props/Crate"), {});
	StartWithWorkspace(true);
	Dialogs->QueueAnswer(EAppReturnType::Yes);
	// The first folder's files are held until the next tick has come, through the main thread's
	// events, which flow while the tick waits for them.
	QObject Context;
	std::atomic<bool> bPosted{false};
	std::atomic<bool> bTicked{false};
	FScopedFileWriteFault Hold(
	    [&](EFileWriteStep, const QString&)
	    {
		    // Settings files are written on the main thread, which must not wait for itself.
		    if (FGameThread::IsInGameThread())
		    {
			    return 0;
		    }
		    if (!bPosted.exchange(true))
		    {
			    FGameThread::Post(&Context,
			                      [&]
			                      {
				                      Sdk().ExcuteFolderMoving();
				                      bTicked = true;
			                      });
		    }
		    QDeadlineTimer Deadline(10000);
		    while (!bTicked && !Deadline.hasExpired())
		    {
			    QThread::msleep(1);
		    }
		    return 0;
	    });
	Sdk().SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry")));
	ASSERT_TRUE(
	    FGameThread::RunUntil([&] { return Sdk().GetCurrProgress() == EOrvaSDKProgress::FolderMoveSuccess; }, 8000));
	EXPECT_TRUE(bTicked);
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).isEmpty()) << qPrintable(Log.Messages().join(QLatin1Char('\n')));
	EXPECT_EQ(Sdk().GetCurrentLevelPath().ToString(), QStringLiteral("/Game/W1/Maps/Entry.Entry"));
	EXPECT_TRUE(Sdk().CheckFoldersNeedMove(Sdk().GetCurrentLevelPath()).isEmpty()) << "no folder was skipped";
	EXPECT_EQ(CountRedirectors(), 0);
	ExpectAllReferencesResolve();
}

TEST_F(RelocationTest, ALaterRelocationCarriesNothingOver)
{
	AddPackage(QStringLiteral("/Game/Maps/Entry"), {QStringLiteral("/Game/Props/Crate")}, {}, true);
	AddPackage(QStringLiteral("/Game/Props/Crate"), {});
	AddPackage(QStringLiteral("/Game/Stray"), {});
	AddPackage(QStringLiteral("/Game/Second/Level"), {}, {}, true);
	StartWithWorkspace();
	Dialogs->QueueAnswer(EAppReturnType::Yes);
	Sdk().SureAutoMovePackages({QStringLiteral("/Game/Stray"), QStringLiteral("/Game/Maps/Entry")});
	RunTicks();
	Dialogs->QueueAnswer(EAppReturnType::Yes);
	Sdk().SureAutoMovePackages({QStringLiteral("/Game/Second/Level")});
	EXPECT_EQ(Sdk().property("RecordMovedFolders").toStringList(), QStringList{QStringLiteral("/Game/Second")});
	EXPECT_TRUE(Sdk().GetRecordMovedObjects().isEmpty());
}

TEST_F(RelocationTest, DemoLevelEndsUpWholeInItsWorkspace)
{
	// A copy of the demo project's content.
	ASSERT_TRUE(Project.CopyContent(QStringLiteral(ORVA_SOURCE_DIR "/Examples/DemoProject/Content")));
	StartWithWorkspace();
	const FSoftObjectPath Entry(QStringLiteral("/Game/Maps/Entry.Entry"));
	const QStringList Before = Sdk().CheckFoldersNeedMove(Entry);
	ASSERT_FALSE(Before.isEmpty());
	Dialogs->QueueAnswer(EAppReturnType::Yes);
	Dialogs->SetDefaultAnswer(EAppReturnType::Yes);
	Sdk().SetCurrentLevelPath(Entry);
	RunTicks();

	EXPECT_EQ(Sdk().GetCurrentLevelPath().ToString(), QStringLiteral("/Game/W1/Maps/Entry.Entry"));
	EXPECT_TRUE(Sdk().CheckFoldersNeedMove(Sdk().GetCurrentLevelPath()).isEmpty());
	EXPECT_EQ(CountRedirectors(), 0);
	ExpectAllReferencesResolve();
	for (const QString& Name : Before)
	{
		EXPECT_FALSE(Host->AssetRegistry().DoesPackageExistOnDisk(Name)) << qPrintable(Name);
	}
}
