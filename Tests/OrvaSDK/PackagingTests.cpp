// The pak build as the plugin drives it (settings, the real build process, the outcome), where its
// output lies, and the registration answer.

#include "SdkFixture.h"

#include "ExportPatchSettings.h"
#include "HotPatcherEditor.h"
#include "Json.h"
#include "PakFile.h"
#include "SerializeStructJson.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

	QString Out(const QString& Relative) const { return Project.SavedDir() + QStringLiteral("HotPatcher/") + Relative; }

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
				    return FLoopbackHttpServer::FAnswer{
				        200, "[" + WorldJson(QStringLiteral("W1"), QStringLiteral("id-1")) + "]"};
			    }
			    if (Request.Target.endsWith("/components"))
			    {
				    return FLoopbackHttpServer::FAnswer{201, ComponentsAnswer};
			    }
			    return FLoopbackHttpServer::FAnswer{200, R"({"screen_shots":[]})"};
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
	const QString Config = Project.SavedDir() + QStringLiteral("HotPatcher/Entry_PatchConfig.json");
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
		    Project.ReadFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/%1/Component.json").arg(Platform)),
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
		Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/%1/Entry_%1.pak").arg(Platform), "pak");
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
	EXPECT_EQ(Project.ReadFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/WindowsClient/Component.json")),
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
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/My_Map/WindowsServer/My_Map_WindowsServer.pak"),
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
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/My_Map/WindowsServer/Component.json"),
	                  R"({"ComponentId":"../../x"})");
	EXPECT_FALSE(Sdk().GetCopmonentNamedPakPath(QStringLiteral("My_Map"), QStringLiteral("WindowsServer"), Path));
	EXPECT_TRUE(Path.isEmpty());

	EXPECT_EQ(Sdk().GetCheckCode(), QString());
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/My_Map/My_Map_PakVersion.json"),
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
		Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/%1/%2.pak").arg(Platform, Id), "pak");
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
