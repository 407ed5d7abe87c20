// The pak build as the plugin drives it (settings, the real build process, the outcome), where its
// output lies, and the registration answer.

#include "SdkFixture.h"

#include "ExportPatchSettings.h"
#include "HotPatcherEditor.h"
#include "Json.h"
#include "OrvaAsyncFileUploader.h"
#include "PakFile.h"
#include "SerializeStructJson.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

namespace
{
QByteArray PackageJson(const QString& PackageName, const QStringList& Hard, bool bLevel)
{
	const QJsonObject Asset{{QStringLiteral("Name"), PackageName.section(QLatin1Char('/'), -1)},
	                        {QStringLiteral("Class"), bLevel ? QStringLiteral("/Script/Engine.World")
	                                                         : QStringLiteral("/Script/Engine.StaticMesh")}};
	const QJsonObject Root{{QStringLiteral("OrvaPackage"), 1},
	                       {QStringLiteral("Assets"), QJsonArray{Asset}},
	                       {QStringLiteral("HardDependencies"), QJsonArray::fromStringList(Hard)},
	                       {QStringLiteral("SoftDependencies"), QJsonArray()}};
	return QJsonDocument(Root).toJson();
}

QByteArray ComponentJson(const QString& Id, const QString& Platform, const QString& FileName)
{
	return QStringLiteral(R"({"id":%1,"platform":%2,"sandbox":false,"metadata":{"filename":%3}})")
	    .arg(FJson::Quote(Id), FJson::Quote(Platform), FJson::Quote(FileName))
	    .toUtf8();
}
} // namespace

class PackagingTest : public FSdkFixture
{
protected:
	QByteArray ComponentsAnswer;
	int ComponentsStatus = 201;
	// Holds back the answers about single components (the uploads' first step).
	int ComponentInfoDelayMs = 0;
	bool bDropComponents = false;
	// Registration answers by world id, before ComponentsAnswer.
	QHash<QByteArray, QByteArray> WorldComponents;
	// Worlds of the list answer besides W1.
	QList<QByteArray> MoreWorlds;

	QString Out(const QString& Relative) const
	{
		return Project.SavedDir() + QStringLiteral("HotPatcher/W1/") + Relative;
	}

	// A workspace W1 whose entry level needs a prop, selected as the world view would.
	void StartWithWorkspace()
	{
		Project.WriteFile(
		    QStringLiteral("TestProject/Content/W1/Maps/Entry.umap"),
		    PackageJson(QStringLiteral("/Game/W1/Maps/Entry"), {QStringLiteral("/Game/W1/Props/Crate")}, true));
		Project.WriteFile(QStringLiteral("TestProject/Content/W1/Props/Crate.uasset"),
		                  PackageJson(QStringLiteral("/Game/W1/Props/Crate"), {}, false));
		Project.WriteFile(QStringLiteral("TestProject/Content/W1/Config/DefaultGame.ini"), "[/Script/Engine]\n");
		Project.WriteFile(QStringLiteral("TestProject/Content/W1/ExtendFiles/Intro.txt"), "intro");
		WriteSettings();
		StartHost();
		Server.SetHandler(
		    [this](const FLoopbackHttpServer::FRecordedRequest& Request)
		    {
			    if (Request.Target.endsWith("/me/worlds"))
			    {
				    QByteArray Worlds = "[" + WorldJson(QStringLiteral("W1"), QStringLiteral("id-1"));
				    for (const QByteArray& World : std::as_const(MoreWorlds))
				    {
					    Worlds += "," + World;
				    }
				    return FLoopbackHttpServer::FAnswer{200, Worlds + "]"};
			    }
			    if (Request.Target.endsWith("/components"))
			    {
				    const QByteArray WorldId = Request.Target.split('/').value(4);
				    FLoopbackHttpServer::FAnswer Answer{ComponentsStatus,
				                                        WorldComponents.value(WorldId, ComponentsAnswer)};
				    Answer.bDrop = bDropComponents;
				    return Answer;
			    }
			    FLoopbackHttpServer::FAnswer Answer{200, R"({"screen_shots":[]})"};
			    if (Request.Target.contains("/components/"))
			    {
				    Answer.DelayMs = ComponentInfoDelayMs;
			    }
			    return Answer;
		    });
		Sdk().GetWorldsList();
		Settle();
		FOrvaWorldData World;
		World.Identifier = QStringLiteral("W1");
		World.Id = QStringLiteral("id-1");
		Sdk().ChangeWorkspaceWorld(World);
		Settle();
		Sdk().SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Entry.Entry")));
		Settle();
		ASSERT_EQ(Sdk().GetKeyFolderName(), QStringLiteral("W1"));
	}

	const FLoopbackHttpServer::FRecordedRequest* ComponentsRequest() const
	{
		for (const auto& Request : Server.Requests())
		{
			if (Request.Target.endsWith("/components"))
			{
				return &Request;
			}
		}
		return nullptr;
	}

	// Waits until every upload the subsystem started has ended and been released.
	void WaitForUploads()
	{
		EXPECT_TRUE(FGameThread::RunUntil(
		    [this] { return Sdk().findChildren<UOrvaAsyncFileUploader*>(Qt::FindDirectChildrenOnly).isEmpty(); },
		    20000));
		Settle();
	}

	// Waits for the build's outcome event.
	QList<QVariant> WaitForBuild(QSignalSpy& Spy)
	{
		EXPECT_TRUE(FGameThread::RunUntil([&] { return Spy.count() > 0; }, 60000));
		Settle();
		return Spy.isEmpty() ? QList<QVariant>() : Spy.takeFirst();
	}
};

TEST_F(PackagingTest, SettingsUpdateCarriesOnlyThisLevel)
{
	StartWithWorkspace();
	const FSoftObjectPath Level(QStringLiteral("/Game/W1/Maps/Entry.Entry"));
	Sdk().UpdateHotPatcherSettings(QStringLiteral("Other"), FSoftObjectPath(QStringLiteral("/Game/W2/Maps/Old.Old")));
	Sdk().UpdateHotPatcherSettings(QStringLiteral("Entry"), Level);
	FExportPatchSettings& Settings = *GPatchSettings;
	EXPECT_EQ(Settings.PakTargetPlatforms,
	          (QList<ETargetPlatform>{ETargetPlatform::WindowsServer, ETargetPlatform::WindowsClient}));
	EXPECT_EQ(Settings.VersionId, QStringLiteral("Entry"));
	EXPECT_EQ(Settings.PakNameRegular, QStringLiteral("{VERSION}_{PLATFORM}"));
	// One per platform, all of this level: nothing of the earlier update is left.
	ASSERT_EQ(Settings.IncludeSpecifyAssets.size(), 2);
	for (const FPatcherSpecifyAsset& Asset : std::as_const(Settings.IncludeSpecifyAssets))
	{
		EXPECT_EQ(Asset.Asset, Level);
		EXPECT_EQ(Asset.AssetRegistryDependencyTypes,
		          (QList<EAssetRegistryDependencyTypeEx>{EAssetRegistryDependencyTypeEx::Packages}));
	}
	ASSERT_EQ(Settings.ReplacePakListTexts.size(), 2);
	EXPECT_EQ(Settings.ReplacePakListTexts[0].From, QStringLiteral("../../../TestProject"));
	EXPECT_EQ(Settings.ReplacePakListTexts[0].To, QStringLiteral("../../../ORVAClient"));
	const QList<FPlatformExternAssets>& Extern = Settings.AddExternAssetsToPlatform;
	ASSERT_EQ(Extern.size(), 3);
	EXPECT_EQ(Extern[0].TargetPlatform, ETargetPlatform::WindowsServer);
	EXPECT_TRUE(Extern[0].AddExternDirectoryToPak[0].DirectoryPath.endsWith(QStringLiteral("Content/W1/Config")));
	EXPECT_TRUE(Extern[1].AddExternDirectoryToPak[0].DirectoryPath.endsWith(QStringLiteral("Content/W1/ExtendFiles")));
	EXPECT_EQ(Extern[1].AddExternDirectoryToPak[0].MountPoint, QStringLiteral("../../../ORVAClient"));
	EXPECT_EQ(Settings.BaseVersion, QStringLiteral("../../../ORVAClient/Versions/version.json"));

	// Server only: no extend folder. An unknown platform name is skipped, the others still apply.
	Sdk().SetOnlyBuildServer(true);
	Sdk().SetOnlyBuildServer(true);
	EXPECT_EQ(Sdk().GetTargetPlatforms(), QStringList{QStringLiteral("WindowsServer")});
	Sdk().TargetPlatforms.prepend(QStringLiteral("Dreamcast"));
	Sdk().UpdateHotPatcherSettings(QStringLiteral("Entry"), Level);
	EXPECT_EQ(Settings.PakTargetPlatforms, QList<ETargetPlatform>{ETargetPlatform::WindowsServer});
	ASSERT_EQ(Settings.AddExternAssetsToPlatform.size(), 1);
	EXPECT_TRUE(Settings.AddExternAssetsToPlatform[0].AddExternDirectoryToPak[0].DirectoryPath.endsWith(
	    QStringLiteral("/Config")));
	Sdk().TargetPlatforms.clear();
	Sdk().UpdateHotPatcherSettings(QStringLiteral("Entry"), Level);
	EXPECT_TRUE(Settings.PakTargetPlatforms.isEmpty());
}

TEST_F(PackagingTest, BuildRegistersPaksThatTheReaderAccepts)
{
	StartWithWorkspace();
	ComponentsAnswer = "[" +
	                   ComponentJson(QStringLiteral("c-server"), QStringLiteral("WindowsServer"),
	                                 QStringLiteral("Entry_WindowsServer")) +
	                   "," +
	                   ComponentJson(QStringLiteral("c-client"), QStringLiteral("WindowsClient"),
	                                 QStringLiteral("Entry_WindowsClient")) +
	                   "]";
	QSignalSpy Paking(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKPaking);
	Sdk().BuildPak();
	EXPECT_TRUE(Sdk().IsPakBuildRunning());
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::AssetPaking);
	EXPECT_EQ(Sdk().IdentInProgress, QStringLiteral("W1"));

	// The settings file and the mission line, as the build started them.
	const QString Config = Project.SavedDir() + QStringLiteral("HotPatcher/W1/Entry_PatchConfig.json");
	ASSERT_TRUE(QFileInfo::exists(Config));
	FExportPatchSettings Read;
	QFile ConfigFile(Config);
	ASSERT_TRUE(ConfigFile.open(QIODevice::ReadOnly));
	ASSERT_TRUE(TDeserializeJsonStringAsStruct(QString::fromUtf8(ConfigFile.readAll()), Read));
	EXPECT_EQ(Read.VersionId, QStringLiteral("Entry"));
	const QStringList Missions = Log.Messages().filter(QStringLiteral("HotPatcher Entry Mission: "));
	ASSERT_EQ(Missions.size(), 1);
	EXPECT_TRUE(Missions[0].contains(QStringLiteral(" \"") + Project.ProjectFile() +
	                                 QStringLiteral("\" -run=HotPatcher -config=\"") + Config + QStringLiteral("\" ")));

	const QList<QVariant> Outcome = WaitForBuild(Paking);
	ASSERT_EQ(Outcome.size(), 1);
	ASSERT_TRUE(Outcome[0].toBool()) << Log.Messages(ELogVerbosity::Error).join(QLatin1Char('\n')).toStdString();
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::AssetPakSuccess);

	const auto* Request = ComponentsRequest();
	ASSERT_NE(Request, nullptr);
	EXPECT_EQ(Request->Verb, QByteArray("POST"));
	EXPECT_EQ(Request->Target, QByteArray("/api/v1/worlds/id-1/components"));
	EXPECT_EQ(
	    Request->Body,
	    QByteArray(
	        R"([{"metadata":{"map":"/Game/W1/Maps/Entry","filename":"Entry_WindowsServer"},"name":"environment","platform":"WindowsServer","sandbox":false},)"
	        R"({"metadata":{"map":"/Game/W1/Maps/Entry","filename":"Entry_WindowsClient"},"name":"environment","platform":"WindowsClient","sandbox":false}])"));

	// Each pak bears its component id, its Component.json says so, and the reader accepts it.
	for (const auto& [Platform, Id] : {std::pair{QStringLiteral("WindowsServer"), QStringLiteral("c-server")},
	                                   std::pair{QStringLiteral("WindowsClient"), QStringLiteral("c-client")}})
	{
		EXPECT_FALSE(QFileInfo::exists(Out(QStringLiteral("Entry/%1/Entry_%1.pak").arg(Platform))));
		FPakReader Reader;
		ASSERT_TRUE(Reader.Open(Out(QStringLiteral("Entry/%1/%2.pak").arg(Platform, Id))))
		    << Reader.GetError().toStdString();
		QStringList Paths;
		for (FPakEntryInfo Entry : Reader.GetEntries())
		{
			EXPECT_TRUE(Reader.VerifyEntry(Entry)) << Reader.GetError().toStdString();
			Paths.append(Reader.GetMountPoint() + Entry.Path);
		}
		EXPECT_TRUE(Paths.contains(QStringLiteral("../../../ORVAClient/Content/W1/Props/Crate.uasset")));
		EXPECT_EQ(Paths.contains(QStringLiteral("../../../ORVAClient/Intro.txt")),
		          Platform == QLatin1String("WindowsClient"));
		EXPECT_EQ(
		    Project.ReadFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/%1/Component.json").arg(Platform)),
		    QStringLiteral("{\"ComponentId\":\"%1\"}").arg(Id).toUtf8());
		QString Registered;
		EXPECT_TRUE(Sdk().GetCopmonentNamedPakPath(QStringLiteral("Entry"), Platform, Registered));
		EXPECT_EQ(Registered, Out(QStringLiteral("Entry/%1/%2.pak").arg(Platform, Id)));
	}
	EXPECT_TRUE(Sdk().CheckLocalPaks(true));
	EXPECT_EQ(Sdk().GetCheckCode().size(), 40);
	// The chain ended: the slot is free for the next task.
	EXPECT_TRUE(Sdk().IdentInProgress.isEmpty());
	EXPECT_FALSE(Sdk().IsPakBuildRunning());
}

TEST_F(PackagingTest, FailedOrEmptyBuildsEndTheTaskAndReportFalse)
{
	StartWithWorkspace();
	QSignalSpy Paking(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKPaking);

	// The commandlet fails: the entry level is gone.
	Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Gone.Gone"));
	Sdk().BuildPak();
	QList<QVariant> Outcome = WaitForBuild(Paking);
	ASSERT_EQ(Outcome.size(), 1);
	EXPECT_FALSE(Outcome[0].toBool());
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::AssetPakFailed);
	EXPECT_TRUE(Sdk().IdentInProgress.isEmpty());
	EXPECT_FALSE(Log.Messages(ELogVerbosity::Error).filter(QStringLiteral("does not exist in the project")).isEmpty());
	EXPECT_EQ(ComponentsRequest(), nullptr);

	// A process that reports success without writing the paks.
	Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Entry.Entry"));
	Sdk().IdentInProgress = QStringLiteral("W1");
	const FProcWorkerThreadPtr Worker =
	    FHotPatcherEditorModule::Get().RunProcMission(QStringLiteral("/bin/true"), QString(), QStringLiteral("Entry"));
	QObject::connect(Worker.get(), &FProcWorkerThread::ProcSuccessed, &Sdk(), &UOrvaSDKSubsystem::PatcherSuccess);
	Outcome = WaitForBuild(Paking);
	ASSERT_EQ(Outcome.size(), 1);
	EXPECT_FALSE(Outcome[0].toBool());
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::AssetPakFailed);
	EXPECT_TRUE(Sdk().IdentInProgress.isEmpty());
	EXPECT_FALSE(Log.Messages(ELogVerbosity::Error)
	                 .filter(QStringLiteral("reported success, but ") +
	                         Out(QStringLiteral("Entry/WindowsServer/Entry_WindowsServer.pak")))
	                 .isEmpty());
	EXPECT_EQ(ComponentsRequest(), nullptr);

	// A cancelled build is a failed one.
	Sdk().BuildPak();
	ASSERT_TRUE(Sdk().IsPakBuildRunning());
	Sdk().CancelPakBuild();
	Outcome = WaitForBuild(Paking);
	ASSERT_EQ(Outcome.size(), 1);
	EXPECT_FALSE(Outcome[0].toBool());
	EXPECT_FALSE(QFileInfo::exists(Out(QStringLiteral("Entry/WindowsServer/Entry_WindowsServer.pak"))));
}

TEST_F(PackagingTest, RegistrationAnswerRefusesHostileNamesAndHandlesTheRest)
{
	StartWithWorkspace();
	for (const QString& Platform : {QStringLiteral("WindowsServer"), QStringLiteral("WindowsClient")})
	{
		Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/%1/Entry_%1.pak").arg(Platform), "pak");
	}
	GPatchSettings->VersionId = QStringLiteral("Entry");
	Sdk().IdentInProgress = QStringLiteral("W1");
	const QString Long(256, QLatin1Char('a'));
	ComponentsAnswer =
	    "[" +
	    ComponentJson(QStringLiteral("../evil"), QStringLiteral("WindowsServer"),
	                  QStringLiteral("Entry_WindowsServer")) +
	    "," +
	    ComponentJson(QStringLiteral("c:1"), QStringLiteral("WindowsServer"), QStringLiteral("Entry_WindowsServer")) +
	    "," + ComponentJson(QStringLiteral("ok"), QStringLiteral("..\\up"), QStringLiteral("Entry_WindowsServer")) +
	    "," + ComponentJson(Long, QStringLiteral("WindowsServer"), QStringLiteral("Entry_WindowsServer")) + "," +
	    ComponentJson(QStringLiteral(""), QStringLiteral("WindowsServer"), QStringLiteral("Entry_WindowsServer")) +
	    "," +
	    ComponentJson(QStringLiteral("tab\tid"), QStringLiteral("WindowsServer"),
	                  QStringLiteral("Entry_WindowsServer")) +
	    "," +
	    ComponentJson(QStringLiteral("x"), QStringLiteral("WindowsServer"),
	                  QStringLiteral("../../Entry_WindowsServer")) +
	    R"(,{"id":"nometa","platform":"WindowsServer"},7,)" +
	    ComponentJson(QStringLiteral("good"), QStringLiteral("WindowsClient"), QStringLiteral("Entry_WindowsClient")) +
	    "]";
	Sdk().InitUpload();
	Settle();
	EXPECT_EQ(Log.Messages(ELogVerbosity::Error).filter(QStringLiteral("UploadComponents: refused the ")).size(), 7);
	// The server pak kept its name, and nothing was written for it.
	EXPECT_TRUE(QFileInfo::exists(Out(QStringLiteral("Entry/WindowsServer/Entry_WindowsServer.pak"))));
	EXPECT_FALSE(QFileInfo::exists(Out(QStringLiteral("Entry/WindowsServer/Component.json"))));
	EXPECT_EQ(QDir(Out(QStringLiteral("Entry/WindowsServer"))).entryList(QDir::Files),
	          QStringList{QStringLiteral("Entry_WindowsServer.pak")});
	EXPECT_EQ(QDir(Out(QStringLiteral("Entry"))).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
	          (QStringList{QStringLiteral("WindowsClient"), QStringLiteral("WindowsServer")}));
	EXPECT_TRUE(QFileInfo::exists(Out(QStringLiteral("Entry/WindowsClient/good.pak"))));
	EXPECT_EQ(Project.ReadFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/WindowsClient/Component.json")),
	          QByteArray(R"({"ComponentId":"good"})"));
	EXPECT_TRUE(Sdk().IdentInProgress.isEmpty());

	// An answer that is no array fails the registration and frees the slot.
	Sdk().IdentInProgress = QStringLiteral("W1");
	ComponentsAnswer = R"({"id":"c1"})";
	Sdk().InitUpload();
	Settle();
	EXPECT_TRUE(Log.Contains(QStringLiteral("JsonReader Error: Upload Components Failed")));
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::PakUploadFailed);
	EXPECT_TRUE(Sdk().IdentInProgress.isEmpty());
}

TEST_F(PackagingTest, SandboxAndEmptyRegistrations)
{
	StartWithWorkspace();
	ComponentsAnswer = "[]";
	Sdk().TargetPlatforms = {QStringLiteral("windowsserver")};
	Sdk().InitUpload();
	Settle();
	ASSERT_NE(ComponentsRequest(), nullptr);
	EXPECT_TRUE(ComponentsRequest()->Body.endsWith(R"("platform":"windowsserver","sandbox":true}])"));
	EXPECT_EQ(ComponentsRequest()->Header("Content-Type"), QByteArray("application/json; charset=utf-8"));

	const int Before = Server.RequestCount();
	Sdk().TargetPlatforms.clear();
	Sdk().InitUpload();
	Settle();
	ASSERT_EQ(Server.RequestCount(), Before + 1);
	EXPECT_EQ(Server.Requests().last().Body, QByteArray("[]"));
}

TEST_F(PackagingTest, BookkeepingFindsPaksWhereTheBuildPutsThem)
{
	StartWithWorkspace();
	// Level names with underscores split at the last one.
	Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W1/Maps/My_Map.My_Map"));
	Sdk().SetOnlyBuildServer(true);
	EXPECT_FALSE(Sdk().CheckLocalPaks(false));
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/My_Map/WindowsServer/My_Map_WindowsServer.pak"),
	                  "p");
	EXPECT_TRUE(Sdk().CheckLocalPaks(false));
	EXPECT_FALSE(Sdk().CheckLocalPaks(true));

	// Registered before the pak moved: the path names the id all the same.
	GPatchSettings->VersionId = QStringLiteral("My_Map");
	EXPECT_TRUE(Sdk().SaveComponentInfoToFile(QStringLiteral("N1"), QStringLiteral("WindowsServer")));
	QString Path;
	EXPECT_TRUE(Sdk().GetCopmonentNamedPakPath(QStringLiteral("My_Map"), QStringLiteral("WindowsServer"), Path));
	EXPECT_EQ(Path, Out(QStringLiteral("My_Map/WindowsServer/N1.pak")));
	// A Component.json that would lead elsewhere is no registration.
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/My_Map/WindowsServer/Component.json"),
	                  R"({"ComponentId":"../../x"})");
	EXPECT_FALSE(Sdk().GetCopmonentNamedPakPath(QStringLiteral("My_Map"), QStringLiteral("WindowsServer"), Path));
	EXPECT_TRUE(Path.isEmpty());

	EXPECT_EQ(Sdk().GetCheckCode(), QString());
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/My_Map/My_Map_PakVersion.json"),
	                  R"({"CheckCode":"abc"})");
	EXPECT_EQ(Sdk().GetCheckCode(), QStringLiteral("abc"));

	// Not registered: the rebuild question; "no" builds nothing.
	Dialogs->QueueAnswer(EAppReturnType::No);
	Sdk().TaskPublishPaks();
	ASSERT_EQ(Dialogs->ShownMessages().size(), 1);
	EXPECT_EQ(Dialogs->ShownMessages()[0].Message,
	          QStringLiteral("No target Paks were found. Do you need to rebuild the Paks?"));
	EXPECT_EQ(Dialogs->ShownMessages()[0].Title, QStringLiteral("Rebuild the Paks"));
	EXPECT_FALSE(Sdk().IsPakBuildRunning());

	Sdk().IdentInProgress = QStringLiteral("W1");
	Dialogs->QueueAnswer(EAppReturnType::Ok);
	Sdk().PakAndUpload();
	ASSERT_EQ(Dialogs->ShownMessages().size(), 2);
	EXPECT_EQ(Dialogs->ShownMessages()[1].Message,
	          QStringLiteral("This Project has one task in folder: W1, please waiting."));
	EXPECT_EQ(Dialogs->ShownMessages()[1].Title, QStringLiteral("One Task in progress"));

	Dialogs->QueueFileChoice({QStringLiteral("/tmp/a.png")});
	EXPECT_EQ(Sdk().OpenImageFiles(), QStringList{QStringLiteral("/tmp/a.png")});
	EXPECT_TRUE(Sdk().OpenPakFiles().isEmpty());
}

TEST_F(PackagingTest, PublishStartsOneUploadPerRegisteredPak)
{
	StartWithWorkspace();
	GPatchSettings->VersionId = QStringLiteral("Entry");
	for (const auto& [Platform, Id] : {std::pair{QStringLiteral("WindowsServer"), QStringLiteral("c-server")},
	                                   std::pair{QStringLiteral("WindowsClient"), QStringLiteral("c-client")}})
	{
		Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/%1/%2.pak").arg(Platform, Id), "pak");
		ASSERT_TRUE(Sdk().SaveComponentInfoToFile(Id, Platform));
	}
	ASSERT_TRUE(Sdk().CheckLocalPaks(true));
	const int Before = Server.RequestCount();
	Sdk().TaskPublishPaks();
	ASSERT_TRUE(Server.WaitForRequests(Before + 2));
	QList<QByteArray> Targets;
	for (int Index = Before; Index < Server.RequestCount(); ++Index)
	{
		Targets.append(Server.Requests()[Index].Target);
	}
	EXPECT_TRUE(Targets.contains("/api/v1/components/c-server")) << Targets.size();
	EXPECT_TRUE(Targets.contains("/api/v1/components/c-client"));
	EXPECT_TRUE(Dialogs->ShownMessages().isEmpty());
	Settle();
}

namespace
{
QByteArray TwoComponents(const QString& Server, const QString& Client, const QString& Level = QStringLiteral("Entry"))
{
	return "[" + ComponentJson(Server, QStringLiteral("WindowsServer"), Level + QStringLiteral("_WindowsServer")) +
	       "," + ComponentJson(Client, QStringLiteral("WindowsClient"), Level + QStringLiteral("_WindowsClient")) + "]";
}

QStringList Files(const QString& Folder)
{
	return QDir(Folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}
} // namespace

// Two worlds whose entry levels are both named Entry: each build, its settings file, version file and
// records stay in its world's folder, and publishing or launching one world touches only its own paks.
TEST_F(PackagingTest, WorldsWhoseLevelsShareANameKeepTheirOwnBuilds)
{
	Project.WriteFile(
	    QStringLiteral("TestProject/Content/W2/Lobby/Entry.umap"),
	    PackageJson(QStringLiteral("/Game/W2/Lobby/Entry"), {QStringLiteral("/Game/W2/Props/Barrel")}, true));
	Project.WriteFile(QStringLiteral("TestProject/Content/W2/Props/Barrel.uasset"),
	                  PackageJson(QStringLiteral("/Game/W2/Props/Barrel"), {}, false));
	Project.WriteFile(QStringLiteral("TestProject/Content/W2/Config/DefaultGame.ini"), "[/Script/Engine]\n");
	Project.WriteFile(QStringLiteral("TestProject/Content/W2/ExtendFiles/Intro.txt"), "intro 2");
	MoreWorlds = {WorldJson(QStringLiteral("W2"), QStringLiteral("id-2"))};
	WorldComponents = {{"id-1", TwoComponents(QStringLiteral("c1-server"), QStringLiteral("c1-client"))},
	                   {"id-2", TwoComponents(QStringLiteral("c2-server"), QStringLiteral("c2-client"))}};
	StartWithWorkspace();
	QSignalSpy Paking(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKPaking);
	Sdk().BuildPak();
	ASSERT_EQ(WaitForBuild(Paking).value(0).toBool(), true)
	    << Log.Messages(ELogVerbosity::Error).join(QLatin1Char('\n')).toStdString();
	const QString CheckCode1 = Sdk().GetCheckCode();

	FOrvaWorldData World2;
	World2.Identifier = QStringLiteral("W2");
	World2.Id = QStringLiteral("id-2");
	Sdk().ChangeWorkspaceWorld(World2);
	Settle();
	Sdk().SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/W2/Lobby/Entry.Entry")));
	Settle();
	ASSERT_EQ(Sdk().CurrWorkspace.WorldIdentifier, QStringLiteral("W2"));
	Sdk().BuildPak();
	ASSERT_EQ(WaitForBuild(Paking).value(0).toBool(), true)
	    << Log.Messages(ELogVerbosity::Error).join(QLatin1Char('\n')).toStdString();
	EXPECT_NE(Sdk().GetCheckCode(), CheckCode1);

	const QString Root = Project.SavedDir() + QStringLiteral("HotPatcher/");
	for (const QString& World : {QStringLiteral("W1"), QStringLiteral("W2")})
	{
		EXPECT_TRUE(QFileInfo::exists(Root + World + QStringLiteral("/Entry_PatchConfig.json")));
		EXPECT_TRUE(QFileInfo::exists(Root + World + QStringLiteral("/Entry/Entry_PakVersion.json")));
	}
	EXPECT_FALSE(QFileInfo::exists(Root + QStringLiteral("Entry"))) << "nothing is written to the shared folder";

	// World 1 again: its own records, check code and paks.
	FOrvaWorldData World1;
	World1.Identifier = QStringLiteral("W1");
	World1.Id = QStringLiteral("id-1");
	Sdk().ChangeWorkspaceWorld(World1);
	Settle();
	ASSERT_EQ(Sdk().CurrWorkspace.ObjectPath, FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Entry.Entry")));
	EXPECT_EQ(Sdk().GetCheckCode(), CheckCode1);
	QString ClientPak;
	ASSERT_TRUE(Sdk().GetCopmonentNamedPakPath(QStringLiteral("Entry"), QStringLiteral("WindowsClient"), ClientPak));
	EXPECT_EQ(ClientPak, Root + QStringLiteral("W1/Entry/WindowsClient/c1-client.pak"));
	FPakReader Reader;
	ASSERT_TRUE(Reader.Open(ClientPak)) << Reader.GetError().toStdString();
	QStringList Packed;
	for (const FPakEntryInfo& Entry : Reader.GetEntries())
	{
		Packed.append(Entry.Path);
	}
	EXPECT_TRUE(Packed.contains(QStringLiteral("Content/W1/Props/Crate.uasset")))
	    << Packed.join(QLatin1Char(' ')).toStdString();
	EXPECT_FALSE(Packed.contains(QStringLiteral("Content/W2/Props/Barrel.uasset")));

	const int Before = Server.RequestCount();
	Sdk().TaskPublishPaks();
	ASSERT_TRUE(Server.WaitForRequests(Before + 2));
	Settle();
	WaitForUploads();
	Sdk().TaskLaunchORVA();
	Settle();
	QList<QByteArray> Targets;
	for (int Index = Before; Index < Server.RequestCount(); ++Index)
	{
		Targets.append(Server.Requests()[Index].Target);
	}
	EXPECT_EQ(Targets.count("/api/v1/components/c1-server"), 2) << Targets.join(' ').toStdString();
	EXPECT_EQ(Targets.count("/api/v1/components/c1-client"), 1);
	EXPECT_EQ(Targets.count("/api/v1/components/c2-server") + Targets.count("/api/v1/components/c2-client"), 0);
}

// A project built before builds were kept per world still publishes what it built; a world
// identifier that would lead out of the build folder builds and records nothing.
TEST_F(PackagingTest, SharedFolderOfEarlierBuildsAndUnsafeWorldIdentifiers)
{
	StartWithWorkspace();
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/WindowsServer/Component.json"),
	                  R"({"ComponentId":"old-server"})");
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/Entry_PakVersion.json"),
	                  R"({"CheckCode":"old-code"})");
	const QString Shared = Project.SavedDir() + QStringLiteral("HotPatcher/Entry/");
	QString Path;
	ASSERT_TRUE(Sdk().GetCopmonentNamedPakPath(QStringLiteral("Entry"), QStringLiteral("WindowsServer"), Path));
	EXPECT_EQ(Path, Shared + QStringLiteral("WindowsServer/old-server.pak"));
	EXPECT_EQ(Sdk().GetCheckCode(), QStringLiteral("old-code"));

	// Once the world has a build of its own, the shared folder is no longer read.
	ASSERT_TRUE(Sdk().SaveComponentInfoToFile(QStringLiteral("new-server"), QStringLiteral("WindowsServer")));
	EXPECT_EQ(Project.ReadFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/WindowsServer/Component.json")),
	          QByteArray(R"({"ComponentId":"new-server"})"));
	ASSERT_TRUE(Sdk().GetCopmonentNamedPakPath(QStringLiteral("Entry"), QStringLiteral("WindowsServer"), Path));
	EXPECT_EQ(Path, Out(QStringLiteral("Entry/WindowsServer/new-server.pak")));
	EXPECT_EQ(Sdk().GetCheckCode(), QString());
	EXPECT_FALSE(Sdk().GetCopmonentNamedPakPath(QStringLiteral("Entry"), QStringLiteral("WindowsClient"), Path));

	QSignalSpy Paking(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKPaking);
	for (const QString& Identifier : {QStringLiteral("../W1"), QStringLiteral("a/b"), QStringLiteral("..")})
	{
		Sdk().CurrWorkspace.WorldIdentifier = Identifier;
		Sdk().BuildPak();
		EXPECT_FALSE(Sdk().IsPakBuildRunning()) << Identifier.toStdString();
		ASSERT_EQ(Paking.count(), 1);
		EXPECT_FALSE(Paking.takeFirst().value(0).toBool());
		EXPECT_TRUE(Sdk().IdentInProgress.isEmpty());
		EXPECT_FALSE(Sdk().SaveComponentInfoToFile(QStringLiteral("x"), QStringLiteral("WindowsServer")));
	}
	EXPECT_FALSE(QFileInfo::exists(Project.SavedDir() + QStringLiteral("W1")));
	EXPECT_FALSE(QFileInfo::exists(Project.SavedDir() + QStringLiteral("Entry_PatchConfig.json")));
	EXPECT_FALSE(QFileInfo::exists(Project.SavedDir() + QStringLiteral("HotPatcher/Entry_PatchConfig.json")));
	EXPECT_FALSE(QFileInfo::exists(Project.SavedDir() + QStringLiteral("HotPatcher/a")));
}

// Whatever becomes of the registration answer, the task slot is free afterwards and the progress
// says the registration failed.
TEST_F(PackagingTest, LostOrRefusedRegistrationFreesTheTaskSlot)
{
	StartWithWorkspace();
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/WindowsServer/Entry_WindowsServer.pak"),
	                  "pak");
	Sdk().SetOnlyBuildServer(true);
	const QByteArray Listed = "[" +
	                          ComponentJson(QStringLiteral("c-server"), QStringLiteral("WindowsServer"),
	                                        QStringLiteral("Entry_WindowsServer")) +
	                          "]";
	struct FCase
	{
		const char* Name;
		bool bDrop;
		int Status;
		QByteArray Body;
	};
	for (const FCase& Case : {FCase{"no answer", true, 201, Listed}, FCase{"refusal", false, 409, Listed},
	                          FCase{"unreadable", false, 201, "{oops"}})
	{
		SCOPED_TRACE(Case.Name);
		Sdk().IdentInProgress = QStringLiteral("W1");
		bDropComponents = Case.bDrop;
		ComponentsStatus = Case.Status;
		ComponentsAnswer = Case.Body;
		Sdk().InitUpload();
		Settle();
		EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::PakUploadFailed);
		EXPECT_TRUE(Sdk().IdentInProgress.isEmpty());
		// Nothing was registered.
		EXPECT_EQ(Files(Out(QStringLiteral("Entry/WindowsServer"))),
		          QStringList{QStringLiteral("Entry_WindowsServer.pak")});
	}
	EXPECT_TRUE(Log.Contains(QStringLiteral("Error for UploadComponents: Response Is Not Valid")));
	EXPECT_TRUE(Log.Contains(QStringLiteral("JsonReader Error: Upload Components Failed")));

	// The next task is not refused.
	QSignalSpy Paking(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKPaking);
	Sdk().PakAndUpload();
	EXPECT_TRUE(Dialogs->ShownMessages().isEmpty());
	EXPECT_TRUE(Sdk().IsPakBuildRunning());
	Sdk().CancelPakBuild();
	WaitForBuild(Paking);
}

// The record is written before the pak takes its new name: a record that cannot be written
// leaves the pak under its build name and the earlier registration in force, and says so.
TEST_F(PackagingTest, RegistrationThatCannotBeRecordedLeavesThePakAndTheEarlierRecord)
{
	StartWithWorkspace();
	Sdk().SetOnlyBuildServer(true);
	const QString Folder = Out(QStringLiteral("Entry/WindowsServer/"));
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/WindowsServer/Entry_WindowsServer.pak"),
	                  "new pak");
	ComponentsAnswer =
	    "[" +
	    ComponentJson(QStringLiteral("c-2"), QStringLiteral("WindowsServer"), QStringLiteral("Entry_WindowsServer")) +
	    "]";

	// The record's place is taken by a folder: it cannot be written.
	ASSERT_TRUE(QDir().mkpath(Folder + QStringLiteral("Component.json")));
	Sdk().IdentInProgress = QStringLiteral("W1");
	Sdk().InitUpload();
	Settle();
	EXPECT_TRUE(QFileInfo::exists(Folder + QStringLiteral("Entry_WindowsServer.pak")));
	EXPECT_FALSE(QFileInfo::exists(Folder + QStringLiteral("c-2.pak")));
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::PakUploadFailed);
	EXPECT_TRUE(Sdk().IdentInProgress.isEmpty());
	EXPECT_FALSE(Log.Messages(ELogVerbosity::Error).filter(QStringLiteral("component c-2 is not recorded")).isEmpty());
	ASSERT_TRUE(QDir(Folder + QStringLiteral("Component.json")).removeRecursively());

	// The pak cannot take its new name: the earlier record stands again, with its pak.
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/WindowsServer/Component.json"),
	                  R"({"ComponentId":"c-1"})");
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/WindowsServer/c-1.pak"), "old pak");
	ASSERT_TRUE(QDir().mkpath(Folder + QStringLiteral("c-2.pak/taken")));
	Sdk().InitUpload();
	Settle();
	EXPECT_EQ(Project.ReadFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/WindowsServer/Component.json")),
	          QByteArray(R"({"ComponentId":"c-1"})"));
	EXPECT_EQ(Project.ReadFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/WindowsServer/c-1.pak")),
	          QByteArray("old pak"));
	EXPECT_TRUE(QFileInfo::exists(Folder + QStringLiteral("Entry_WindowsServer.pak")));
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::PakUploadFailed);
	EXPECT_FALSE(Log.Messages(ELogVerbosity::Error).filter(QStringLiteral("cannot rename")).isEmpty());
}

// Each registration removes the pak it superseded and what killed builds left behind, once the new
// pak is registered, and never while an upload of the world may still read the old one.
TEST_F(PackagingTest, RegistrationRemovesSupersededPaksAndStaleTemporaries)
{
	StartWithWorkspace();
	Sdk().SetOnlyBuildServer(true);
	const QString Folder = Out(QStringLiteral("Entry/WindowsServer/"));
	const QString Relative = QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/WindowsServer/");
	auto Register = [&](const QString& Id)
	{
		Project.WriteFile(Relative + QStringLiteral("Entry_WindowsServer.pak"), Id.toUtf8());
		ComponentsAnswer =
		    "[" + ComponentJson(Id, QStringLiteral("WindowsServer"), QStringLiteral("Entry_WindowsServer")) + "]";
		Sdk().IdentInProgress = QStringLiteral("W1");
		Sdk().InitUpload();
		Settle();
	};
	Register(QStringLiteral("c-1"));
	EXPECT_EQ(Files(Folder), (QStringList{QStringLiteral("Component.json"), QStringLiteral("c-1.pak")}));

	// A killed build left its temporary; the next registration clears both.
	Project.WriteFile(Relative + QStringLiteral("Entry_WindowsServer.pak.tmp"), "half");
	Register(QStringLiteral("c-2"));
	EXPECT_EQ(Files(Folder), (QStringList{QStringLiteral("Component.json"), QStringLiteral("c-2.pak")}));
	EXPECT_EQ(Project.ReadFile(Relative + QStringLiteral("c-2.pak")), QByteArray("c-2"));

	// A registration that could not be recorded removes nothing.
	ASSERT_TRUE(QDir().mkpath(Folder + QStringLiteral("c-3.pak/taken")));
	Register(QStringLiteral("c-3"));
	EXPECT_TRUE(QFileInfo::exists(Folder + QStringLiteral("c-2.pak")));
	EXPECT_EQ(Project.ReadFile(Relative + QStringLiteral("Component.json")), QByteArray(R"({"ComponentId":"c-2"})"));
	ASSERT_TRUE(QDir(Folder + QStringLiteral("c-3.pak")).removeRecursively());
	QFile::remove(Folder + QStringLiteral("Entry_WindowsServer.pak"));

	// While the world's upload runs (the service holds its first answer back), the pak it was
	// given stays.
	ComponentInfoDelayMs = 3000;
	Sdk().TaskPublishPaks();
	Project.WriteFile(Relative + QStringLiteral("Entry_WindowsServer.pak"), "c-4");
	ComponentsAnswer =
	    "[" +
	    ComponentJson(QStringLiteral("c-4"), QStringLiteral("WindowsServer"), QStringLiteral("Entry_WindowsServer")) +
	    "]";
	Sdk().IdentInProgress = QStringLiteral("W1");
	Sdk().InitUpload();
	ASSERT_TRUE(FGameThread::RunUntil([this] { return Sdk().IdentInProgress.isEmpty(); }, 20000));
	EXPECT_TRUE(QFileInfo::exists(Folder + QStringLiteral("c-2.pak")));
	EXPECT_TRUE(QFileInfo::exists(Folder + QStringLiteral("c-4.pak")));
	WaitForUploads();
}

// A second publish or launch of a world while its uploads run is refused as a second task is.
TEST_F(PackagingTest, SecondPublishOfAWorldWhileItsUploadsRunIsRefused)
{
	StartWithWorkspace();
	for (const auto& [Platform, Id] : {std::pair{QStringLiteral("WindowsServer"), QStringLiteral("c-server")},
	                                   std::pair{QStringLiteral("WindowsClient"), QStringLiteral("c-client")}})
	{
		Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/%1/%2.pak").arg(Platform, Id), "pak");
		ASSERT_TRUE(Sdk().SaveComponentInfoToFile(Id, Platform));
	}
	const int Before = Server.RequestCount();
	Sdk().TaskPublishPaks();
	Sdk().TaskPublishPaks();
	Sdk().TaskLaunchORVA();
	ASSERT_EQ(Dialogs->ShownMessages().size(), 2);
	for (const auto& Shown : Dialogs->ShownMessages())
	{
		EXPECT_EQ(Shown.Message, QStringLiteral("This Project has one task in folder: W1, please waiting."));
		EXPECT_EQ(Shown.Title, QStringLiteral("One Task in progress"));
	}
	WaitForUploads();
	auto Count = [&](const QByteArray& Target)
	{
		int Found = 0;
		for (int Index = Before; Index < Server.RequestCount(); ++Index)
		{
			Found += Server.Requests()[Index].Target == Target;
		}
		return Found;
	};
	EXPECT_EQ(Count("/api/v1/components/c-server"), 1);
	EXPECT_EQ(Count("/api/v1/components/c-client"), 1);

	// Once they ended, the world may be published again.
	Sdk().TaskPublishPaks();
	WaitForUploads();
	EXPECT_EQ(Dialogs->ShownMessages().size(), 2);
	EXPECT_EQ(Count("/api/v1/components/c-server"), 2);
}

// The client starts on the world whose server pak was uploaded, never on one selected meanwhile.
TEST_F(PackagingTest, LaunchStartsNoClientWhenAnotherWorldWasSelectedMeanwhile)
{
	StartWithWorkspace();
	for (const auto& [Platform, Id] : {std::pair{QStringLiteral("WindowsServer"), QStringLiteral("c-server")},
	                                   std::pair{QStringLiteral("WindowsClient"), QStringLiteral("c-client")}})
	{
		Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/%1/%2.pak").arg(Platform, Id), "pak");
		ASSERT_TRUE(Sdk().SaveComponentInfoToFile(Id, Platform));
	}
	Dialogs->QueueAnswer(EAppReturnType::No);
	Sdk().TaskLaunchORVA();
	auto Uploaders = Sdk().findChildren<UOrvaAsyncFileUploader*>(Qt::FindDirectChildrenOnly);
	ASSERT_EQ(Uploaders.size(), 1);
	// As when the store and the service confirmed the server pak.
	Q_EMIT Uploaders[0]->OnUploadCompleted(true);
	WaitForUploads();
	// Same world: the client is looked for (and not found here: the manual question).
	ASSERT_EQ(Dialogs->ShownMessages().size(), 1);
	EXPECT_EQ(Dialogs->ShownMessages()[0].Title, QStringLiteral("Select ORVAClient manually"));

	Sdk().TaskLaunchORVA();
	Uploaders = Sdk().findChildren<UOrvaAsyncFileUploader*>(Qt::FindDirectChildrenOnly);
	ASSERT_EQ(Uploaders.size(), 1);
	Sdk().CurrWorkspace.WorldIdentifier = QStringLiteral("W2");
	Q_EMIT Uploaders[0]->OnUploadCompleted(true);
	Sdk().CurrWorkspace.WorldIdentifier = QStringLiteral("W1");
	WaitForUploads();
	EXPECT_EQ(Dialogs->ShownMessages().size(), 1);
	EXPECT_TRUE(Log.Contains(
	    QStringLiteral("The server pak of W1 is uploaded, but W2 is selected now: the client is not started")));
}

// A build keeps the published components only while the record, the registration and the paks
// all still agree; anything else registers the new paks.
TEST_F(PackagingTest, PublishedRecordKeepsComponentsOnlyWhileEverythingAgrees)
{
	StartWithWorkspace();
	ComponentsAnswer = "[" +
	                   ComponentJson(QStringLiteral("c-server"), QStringLiteral("WindowsServer"),
	                                 QStringLiteral("Entry_WindowsServer")) +
	                   "," +
	                   ComponentJson(QStringLiteral("c-client"), QStringLiteral("WindowsClient"),
	                                 QStringLiteral("Entry_WindowsClient")) +
	                   "]";
	auto Registrations = [this]
	{
		int Count = 0;
		for (const auto& Request : Server.Requests())
		{
			Count += Request.Target.endsWith("/components") ? 1 : 0;
		}
		return Count;
	};
	// Builds; whether the build kept the published components.
	auto Build = [this]
	{
		QSignalSpy Paking(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKPaking);
		QSignalSpy Unchanged(&Sdk(), &UOrvaSDKSubsystem::OnBuildUnchanged);
		Sdk().BuildPak();
		EXPECT_TRUE(FGameThread::RunUntil([&] { return !Paking.isEmpty() && Sdk().IdentInProgress.isEmpty(); }, 60000));
		Settle();
		EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::AssetPakSuccess);
		return Unchanged.count() == 1;
	};
	// The record as a confirmed completion of both registered paks writes it.
	auto Record = [this](const QString& CheckCode)
	{
		QJsonObject Platforms;
		for (const auto& [Platform, Id] : {std::pair{QStringLiteral("WindowsServer"), QStringLiteral("c-server")},
		                                   std::pair{QStringLiteral("WindowsClient"), QStringLiteral("c-client")}})
		{
			QFile Pak(Out(QStringLiteral("Entry/%1/%2.pak").arg(Platform, Id)));
			EXPECT_TRUE(Pak.open(QIODevice::ReadOnly));
			const QByteArray Bytes = Pak.readAll();
			Platforms.insert(
			    Platform,
			    QJsonObject{{QStringLiteral("ComponentId"), Id},
			                {QStringLiteral("Sha256"),
			                 QString::fromLatin1(QCryptographicHash::hash(Bytes, QCryptographicHash::Sha256).toHex())},
			                {QStringLiteral("Size"), Bytes.size()},
			                {QStringLiteral("CheckCode"), CheckCode},
			                {QStringLiteral("PublishedAt"), QStringLiteral("2026-01-01T00:00:00Z")}});
		}
		EXPECT_TRUE(Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/Published.json"),
		                              QJsonDocument(QJsonObject{{QStringLiteral("Platforms"), Platforms}}).toJson()));
	};

	EXPECT_FALSE(Build());
	ASSERT_EQ(Registrations(), 1);
	const QString CheckCode = Sdk().GetCheckCode();
	ASSERT_EQ(CheckCode.size(), 40);

	Record(CheckCode);
	EXPECT_TRUE(Build());
	EXPECT_EQ(Registrations(), 1);
	EXPECT_FALSE(QFileInfo::exists(Out(QStringLiteral("Entry/WindowsClient/Entry_WindowsClient.pak"))));
	EXPECT_TRUE(Sdk().CheckLocalPaks(true));

	// Another check code for the same bytes.
	Record(QStringLiteral("0000000000000000000000000000000000000000"));
	EXPECT_FALSE(Build());
	EXPECT_EQ(Registrations(), 2);

	// The client's registration names another component than the published one.
	Record(CheckCode);
	ASSERT_TRUE(Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/WindowsClient/Component.json"),
	                              R"({"ComponentId":"c-other"})"));
	EXPECT_FALSE(Build());
	EXPECT_EQ(Registrations(), 3);

	// A published pak whose bytes differ though its size is the same.
	QFile ServerPak(Out(QStringLiteral("Entry/WindowsServer/c-server.pak")));
	ASSERT_TRUE(ServerPak.open(QIODevice::ReadOnly));
	QByteArray Bytes = ServerPak.readAll();
	ServerPak.close();
	Record(CheckCode);
	QJsonObject Broken = QJsonDocument::fromJson(
	                         Project.ReadFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/Published.json")))
	                         .object();
	QJsonObject Platforms = Broken.value(QStringLiteral("Platforms")).toObject();
	QJsonObject ServerEntry = Platforms.value(QStringLiteral("WindowsServer")).toObject();
	Bytes[Bytes.size() / 2] = char(Bytes[Bytes.size() / 2] ^ 1);
	ServerEntry.insert(QStringLiteral("Sha256"),
	                   QString::fromLatin1(QCryptographicHash::hash(Bytes, QCryptographicHash::Sha256).toHex()));
	Platforms.insert(QStringLiteral("WindowsServer"), ServerEntry);
	Broken.insert(QStringLiteral("Platforms"), Platforms);
	ASSERT_TRUE(Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/Published.json"),
	                              QJsonDocument(Broken).toJson()));
	EXPECT_FALSE(Build());
	EXPECT_EQ(Registrations(), 4);

	// A record that is no JSON object keeps nothing and loses nothing.
	ASSERT_TRUE(Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/W1/Entry/Published.json"), "[1,"));
	EXPECT_FALSE(Build());
	EXPECT_EQ(Registrations(), 5);
	EXPECT_EQ(Log.Messages(ELogVerbosity::Warning).filter(QStringLiteral("Published.json is not a JSON object")).size(),
	          1);
	EXPECT_TRUE(Sdk().CheckLocalPaks(true));
}
