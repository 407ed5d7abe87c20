#include "SdkFixture.h"

#include "LocalS3Server.h"
#include "OrvaAsyncFileUploader.h"
#include "PackageFile.h"
#include "PakFile.h"
#include "ScopedEnv.h"
#include "ServiceProcess.h"
#include "ThreadPool.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUrl>

#include <httplib.h>

#include <optional>

// The whole chain: the plugin's uploader, the development service issuing real scoped
// credentials, and the local store checking them.
class UploadChainTest : public FSdkFixture
{
protected:
	void SetUp() override
	{
		if (!FLocalS3Server::IsAvailable())
		{
			GTEST_SKIP() << "moto_server is not installed";
		}
		if (UOrvaSDKSubsystem::staticMetaObject.indexOfMethod("GetCheckCode()") < 0)
		{
			// The service refuses a completion without a check code.
			GTEST_SKIP() << "this build has no pak bookkeeping (GetCheckCode) yet";
		}
		ASSERT_EQ(Store.Start(), "");
		ASSERT_TRUE(Data.isValid());
		std::vector<std::string> Options = {"--creator", "chain@example.com:chain-Secret-1"};
		const std::vector<std::string> Storage = Store.ServiceStsOptions(Bucket);
		Options.insert(Options.end(), Storage.begin(), Storage.end());
		Service.emplace(ORVA_DEVSERVICE_PATH, Data.path().toStdString() + "/data", Options);
		ASSERT_EQ(Service->Start(), "");
		BaseUrl = QString::fromStdString(Service->BaseUrl());

		WriteSettings(QStringLiteral("[Development]\nServiceBaseUrl=%1\n[AwsS3]\nEndpoint=%2\nbUsePathStyle=True\n")
		                  .arg(BaseUrl, QString::fromStdString(Store.Endpoint()))
		                  .toUtf8(),
		              false);
		StartHost();

		// The creator's side, as the plugin's earlier steps leave it: logged in, a world, one
		// registered component.
		const QUrl Url(BaseUrl);
		Client = std::make_unique<httplib::Client>("127.0.0.1", Url.port());
		const auto Login = Client->Post(
		    Url.path().toStdString() + "auth/token?role=creator",
		    R"({"email":"chain@example.com","grant_type":"password","guest_token":"string","password":"chain-Secret-1"})",
		    "application/json; charset=utf-8");
		ASSERT_TRUE(Login && Login->status == 200);
		Token = QJsonDocument::fromJson(QByteArray::fromStdString(Login->body))
		            .object()
		            .value(QStringLiteral("access_token"))
		            .toString()
		            .toStdString();
		const httplib::Headers Auth = {{"Authorization", "Bearer " + Token}};
		const auto World =
		    Client->Post(Url.path().toStdString() + "me/worlds", Auth,
		                 R"({"description":"","name":"Chain","public":false})", "application/json; charset=utf-8");
		ASSERT_TRUE(World && World->status == 201);
		WorldId = QJsonDocument::fromJson(QByteArray::fromStdString(World->body))
		              .object()
		              .value(QStringLiteral("id"))
		              .toString()
		              .toStdString();
		const auto Components = Client->Post(
		    Url.path().toStdString() + "worlds/" + WorldId + "/components", Auth,
		    R"([{"metadata":{"map":"/Game/W/Maps/Entry","filename":"Entry_WindowsServer"},"name":"environment","platform":"WindowsServer","sandbox":false}])",
		    "application/json; charset=utf-8");
		ASSERT_TRUE(Components && Components->status == 201);
		ComponentId = QJsonDocument::fromJson(QByteArray::fromStdString(Components->body))
		                  .array()
		                  .at(0)
		                  .toObject()
		                  .value(QStringLiteral("id"))
		                  .toString();
		Sdk().AccessToken = QStringLiteral("Bearer ") + QString::fromStdString(Token);
		// The build's version file, where the check code comes from.
		Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W/Maps/Entry.Entry"));
		ASSERT_TRUE(Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/Entry_PakVersion.json"),
		                              R"({"VersionId":"Entry","CheckCode":"check-9"})"));
	}

	void TearDown() override
	{
		FSdkFixture::TearDown();
		if (Service)
		{
			Service->Stop(SIGTERM);
		}
	}

	QJsonObject ComponentState()
	{
		const auto Answer = Client->Get(QUrl(BaseUrl).path().toStdString() + "components/" + ComponentId.toStdString(),
		                                {{"Authorization", "Bearer " + Token}});
		return Answer ? QJsonDocument::fromJson(QByteArray::fromStdString(Answer->body)).object() : QJsonObject();
	}

	QList<bool> Upload(const QString& Path)
	{
		QList<bool> Ends;
		UOrvaAsyncFileUploader* Uploader = UOrvaAsyncFileUploader::UploadFile(&Sdk(), Path, ComponentId, false);
		QObject::connect(Uploader, &UOrvaAsyncFileUploader::OnUploadCompleted, Host.get(),
		                 [&Ends](bool bOk) { Ends.append(bOk); });
		FGameThread::RunUntil([&] { return !Ends.isEmpty(); }, 60000);
		Settle();
		return Ends;
	}

	static inline const std::string Bucket = "orva-chain";
	FLocalS3Server Store;
	QTemporaryDir Data;
	std::optional<FDevServiceProcess> Service;
	QString BaseUrl;
	std::unique_ptr<httplib::Client> Client;
	std::string Token;
	std::string WorldId;
	QString ComponentId;
};

TEST_F(UploadChainTest, ThePakArrivesByteForByteAndTheServiceMarksItComplete)
{
	QByteArray Pak(512 * 1024 + 11, Qt::Uninitialized);
	for (qsizetype I = 0; I < Pak.size(); ++I)
	{
		Pak[I] = char((I * 7919) >> 3);
	}
	const QString Relative =
	    QStringLiteral("TestProject/Saved/HotPatcher/Entry/WindowsServer/") + ComponentId + QStringLiteral(".pak");
	ASSERT_TRUE(Project.WriteFile(Relative, Pak));
	const QString Path = Project.RootDir() + Relative;

	EXPECT_EQ(Upload(Path), QList<bool>({true}));
	const std::string Key = "worlds/" + WorldId + "/" + ComponentId.toStdString() + ".pak";
	const auto Stored = Store.GetObject(Bucket, Key);
	ASSERT_EQ(Stored.Status, 200);
	EXPECT_TRUE(Stored.Body == Pak.toStdString());
	const QJsonObject State = ComponentState();
	EXPECT_TRUE(State.value(QStringLiteral("complete")).toBool());
	EXPECT_EQ(State.value(QStringLiteral("size")).toInteger(), Pak.size());
	EXPECT_EQ(State.value(QStringLiteral("checksum")).toString(), QStringLiteral("check-9"));

	// Complete now: a second publish asks no credentials and uploads nothing.
	Log.Clear();
	EXPECT_EQ(Upload(Path), QList<bool>({true}));
	EXPECT_TRUE(Log.Contains(ComponentId + QStringLiteral(" is already uploaded")));
	EXPECT_FALSE(Log.Contains(QStringLiteral("Ready To Upload")));
}

TEST_F(UploadChainTest, LaunchUploadsOnlyTheServerPakThenThePlayerClientPlaysTheClientPak)
{
	const httplib::Headers Auth = {{"Authorization", "Bearer " + Token}};
	const std::string ApiPath = QUrl(BaseUrl).path().toStdString();
	const auto WorldAnswer = Client->Get(ApiPath + "worlds/" + WorldId, Auth);
	ASSERT_TRUE(WorldAnswer && WorldAnswer->status == 200);
	const QString Identifier = QJsonDocument::fromJson(QByteArray::fromStdString(WorldAnswer->body))
	                               .object()
	                               .value(QStringLiteral("identifier"))
	                               .toString();
	const auto Registered = Client->Post(
	    ApiPath + "worlds/" + WorldId + "/components", Auth,
	    R"([{"metadata":{"map":"/Game/)" + Identifier.toStdString() +
	        R"(/Maps/Entry","filename":"Entry_WindowsClient"},"name":"environment","platform":"WindowsClient","sandbox":false}])",
	    "application/json; charset=utf-8");
	ASSERT_TRUE(Registered && Registered->status == 201);
	const QString ClientComponent = QJsonDocument::fromJson(QByteArray::fromStdString(Registered->body))
	                                    .array()
	                                    .at(0)
	                                    .toObject()
	                                    .value(QStringLiteral("id"))
	                                    .toString();

	// Both paks as registration leaves them: each named after its component, recorded beside it.
	Sdk().CurrWorkspace.WorldId = QString::fromStdString(WorldId);
	Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/%1/Maps/Entry.Entry").arg(Identifier));
	const QString Output = QStringLiteral("TestProject/Saved/HotPatcher/Entry/");
	const QByteArray ServerPak(300 * 1024 + 5, 's');
	ASSERT_TRUE(
	    Project.WriteFile(Output + QStringLiteral("WindowsServer/") + ComponentId + QStringLiteral(".pak"), ServerPak));
	ASSERT_TRUE(Project.WriteFile(Output + QStringLiteral("WindowsServer/Component.json"),
	                              QStringLiteral(R"({"ComponentId":"%1"})").arg(ComponentId).toUtf8()));
	ASSERT_TRUE(Project.WriteFile(Output + QStringLiteral("WindowsClient/Component.json"),
	                              QStringLiteral(R"({"ComponentId":"%1"})").arg(ClientComponent).toUtf8()));
	FPackageFile Level;
	Level.Assets = {{QStringLiteral("Entry"), QStringLiteral("/Script/Engine.World"), QString()}};
	ASSERT_TRUE(Level.SaveToFile(Project.RootDir() + QStringLiteral("Entry.umap")));
	const QString ClientPak =
	    Project.RootDir() + Output + QStringLiteral("WindowsClient/") + ClientComponent + QStringLiteral(".pak");
	FPakWriter Writer;
	ASSERT_TRUE(Writer.Open(ClientPak, QStringLiteral("../../../ORVAClient/")));
	ASSERT_TRUE(Writer.AddFile(Project.RootDir() + QStringLiteral("Entry.umap"),
	                           QStringLiteral("Content/%1/Maps/Entry.umap").arg(Identifier)));
	ASSERT_TRUE(Writer.Finish());

	// The installer's record names where the client lies.
	const QString Executable = Project.InstallClient(QStringLiteral(ORVA_CLIENT_PATH));
	ASSERT_FALSE(Executable.isEmpty());
	const QString ClientLog = Project.ClientLogFile();

	// The client reads the service's address from the same user settings as the editor.
	QString Verdict;
	{
		const FScopedEnv ConfigHome("XDG_CONFIG_HOME", Project.UserSettingsDir().toUtf8());
		Sdk().TaskLaunchORVA();
		FGameThread::RunUntil(
		    [&]
		    {
			    QFile File(ClientLog);
			    Verdict = File.open(QIODevice::ReadOnly) ? QString::fromUtf8(File.readAll()) : QString();
			    return Verdict.contains(QStringLiteral("ORVAClient exits with"));
		    },
		    60000);
	}
	Settle();

	EXPECT_TRUE(Dialogs->ShownMessages().isEmpty());
	EXPECT_TRUE(Log.Contains(QStringLiteral("Target::") + Executable));
	// The server pak is stored and complete; the client pak was not sent anywhere.
	const auto Stored = Store.GetObject(Bucket, "worlds/" + WorldId + "/" + ComponentId.toStdString() + ".pak");
	ASSERT_EQ(Stored.Status, 200);
	EXPECT_TRUE(Stored.Body == ServerPak.toStdString());
	EXPECT_EQ(Store.HeadObject(Bucket, "worlds/" + WorldId + "/" + ClientComponent.toStdString() + ".pak").Status, 404);
	EXPECT_TRUE(ComponentState().value(QStringLiteral("complete")).toBool());

	// The client got the documented line, one argument per switch, and could play the world.
	EXPECT_TRUE(Verdict.contains(QStringLiteral("ORVAClient started with 6 arguments: -ApplicationType=PC_Win64 "
	                                            "-ApplicationToken=<hidden> -PakPlatform=WindowsClient -RunMode=Editor "
	                                            "-SDK_Id=%1 -SDK_Path=%2\n")
	                                 .arg(QString::fromStdString(WorldId), ClientPak)))
	    << Verdict.toStdString();
	EXPECT_TRUE(Verdict.contains(QStringLiteral("Verdict: world %1 \"Chain\" can be played: level /Game/%2/Maps/Entry")
	                                 .arg(QString::fromStdString(WorldId), Identifier)))
	    << Verdict.toStdString();
	EXPECT_TRUE(Verdict.contains(QStringLiteral("ORVAClient exits with 0")));
	EXPECT_FALSE(Verdict.contains(QString::fromStdString(Token)));
}

// A rebuild sends nothing that the service already holds complete: the real build, registration,
// uploads and a restart of the editor, against the development service and the local store.
class UnchangedRebuildTest : public UploadChainTest
{
protected:
	void SetUp() override
	{
		UploadChainTest::SetUp();
		if (IsSkipped() || HasFatalFailure())
		{
			return;
		}
		const auto WorldAnswer = Client->Get(QUrl(BaseUrl).path().toStdString() + "worlds/" + WorldId,
		                                     {{"Authorization", "Bearer " + Token}});
		ASSERT_TRUE(WorldAnswer && WorldAnswer->status == 200);
		Identifier = QJsonDocument::fromJson(QByteArray::fromStdString(WorldAnswer->body))
		                 .object()
		                 .value(QStringLiteral("identifier"))
		                 .toString();
		ASSERT_FALSE(Identifier.isEmpty());
		WritePackage(QStringLiteral("Maps/Entry.umap"), QStringLiteral("Entry"), QStringLiteral("/Script/Engine.World"),
		             {QStringLiteral("/Game/%1/Props/Crate").arg(Identifier)});
		WritePackage(QStringLiteral("Props/Crate.uasset"), QStringLiteral("Crate"),
		             QStringLiteral("/Script/Engine.StaticMesh"), {});
		ASSERT_TRUE(Project.WriteFile(Content(QStringLiteral("Config/DefaultGame.ini")), "[/Script/Engine]\n"));
		ASSERT_TRUE(Project.WriteFile(Content(QStringLiteral("ExtendFiles/Intro.txt")), "intro"));
		SelectWorld();
	}

	QString Content(const QString& Relative) const
	{
		return QStringLiteral("TestProject/Content/%1/%2").arg(Identifier, Relative);
	}

	void WritePackage(const QString& Relative, const QString& Name, const QString& Class, const QStringList& Hard)
	{
		const QJsonObject Root{{QStringLiteral("OrvaPackage"), 1},
		                       {QStringLiteral("Assets"), QJsonArray{QJsonObject{{QStringLiteral("Name"), Name},
		                                                                         {QStringLiteral("Class"), Class}}}},
		                       {QStringLiteral("HardDependencies"), QJsonArray::fromStringList(Hard)},
		                       {QStringLiteral("SoftDependencies"), QJsonArray()}};
		ASSERT_TRUE(Project.WriteFile(Content(Relative), QJsonDocument(Root).toJson()));
	}

	// The world and its entry level chosen as the world view does, after the host started.
	void SelectWorld()
	{
		Sdk().AccessToken = QStringLiteral("Bearer ") + QString::fromStdString(Token);
		Sdk().GetWorldsList();
		Settle();
		FOrvaWorldData World;
		World.Identifier = Identifier;
		World.Id = QString::fromStdString(WorldId);
		Sdk().ChangeWorkspaceWorld(World);
		Settle();
		Sdk().SetCurrentLevelPath(FSoftObjectPath(QStringLiteral("/Game/%1/Maps/Entry.Entry").arg(Identifier)));
		Settle();
		ASSERT_EQ(Sdk().CurrWorkspace.WorldIdentifier, Identifier);
	}

	// Builds and waits until the chain of the build has ended; whether the build was kept.
	bool Build()
	{
		QSignalSpy Paking(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKPaking);
		QSignalSpy Unchanged(&Sdk(), &UOrvaSDKSubsystem::OnBuildUnchanged);
		Sdk().BuildPak();
		EXPECT_TRUE(FGameThread::RunUntil([&] { return !Paking.isEmpty() && Sdk().IdentInProgress.isEmpty(); }, 60000));
		Settle();
		EXPECT_EQ(Paking.value(0).value(0).toBool(), true)
		    << Log.Messages(ELogVerbosity::Error).join(QLatin1Char('\n')).toStdString();
		EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::AssetPakSuccess);
		return Unchanged.count() == 1 && Unchanged.value(0).value(0).toString() == Identifier;
	}

	void Publish()
	{
		Sdk().TaskPublishPaks();
		EXPECT_TRUE(FGameThread::RunUntil(
		    [this] { return Sdk().findChildren<UOrvaAsyncFileUploader*>(Qt::FindDirectChildrenOnly).isEmpty(); },
		    60000));
		Settle();
		// The record is written on the main thread once a pool thread has hashed the pak.
		EXPECT_TRUE(FGameThread::RunUntil([] { return GThreadPool->WaitForIdle(0); }, 20000));
		FGameThread::RunUntilIdle();
	}

	// The request lines the service logged so far (path only, never a secret).
	QStringList ServiceRequests()
	{
		return QString::fromStdString(Service->StderrText()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
	}

	int Registrations()
	{
		return ServiceRequests()
		    .filter(QStringLiteral("POST %1worlds/%2/components ")
		                .arg(QUrl(BaseUrl).path(), QString::fromStdString(WorldId)))
		    .size();
	}

	int StoredObjects() const
	{
		return int(
		    QString::fromStdString(Store.LogText()).count(QStringLiteral("\"PUT /") + QString::fromStdString(Bucket)));
	}

	QByteArray Output(const QString& Relative) const
	{
		return Project.ReadFile(QStringLiteral("TestProject/Saved/HotPatcher/%1/Entry/%2").arg(Identifier, Relative));
	}

	QString Identifier;
};

TEST_F(UnchangedRebuildTest, RebuildWithoutChangeSendsNothingAndAChangedPackageGoesUpAgain)
{
	// The fixture registered a component of its own.
	const int EarlierRegistrations = Registrations();
	const int EarlierObjects = StoredObjects();
	ASSERT_FALSE(Build());
	ASSERT_EQ(Registrations(), EarlierRegistrations + 1);
	Publish();
	ASSERT_EQ(StoredObjects(), EarlierObjects + 2) << Store.LogText();
	const QJsonObject Published = QJsonDocument::fromJson(Output(QStringLiteral("Published.json"))).object();
	const QJsonObject Platforms = Published.value(QStringLiteral("Platforms")).toObject();
	ASSERT_EQ(Platforms.keys(), (QStringList{QStringLiteral("WindowsClient"), QStringLiteral("WindowsServer")}));
	for (const QString& Platform : Platforms.keys())
	{
		const QJsonObject Entry = Platforms.value(Platform).toObject();
		const QString Id = Entry.value(QStringLiteral("ComponentId")).toString();
		const QByteArray Pak = Output(QStringLiteral("%1/%2.pak").arg(Platform, Id));
		EXPECT_EQ(Entry.value(QStringLiteral("Sha256")).toString(),
		          QString::fromLatin1(QCryptographicHash::hash(Pak, QCryptographicHash::Sha256).toHex()));
		EXPECT_EQ(Entry.value(QStringLiteral("Size")).toInteger(), Pak.size());
		EXPECT_EQ(Entry.value(QStringLiteral("CheckCode")).toString().size(), 40);
		EXPECT_FALSE(Entry.value(QStringLiteral("PublishedAt")).toString().isEmpty());
	}
	const QByteArray ServerInfo = Output(QStringLiteral("WindowsServer/Component.json"));

	// The same content again: neither the service nor the store hears of it, the components stay.
	const int ServiceLines = ServiceRequests().size();
	const int StoreLines = int(QString::fromStdString(Store.LogText()).count(QLatin1Char('\n')));
	EXPECT_TRUE(Build());
	EXPECT_EQ(ServiceRequests().size(), ServiceLines) << Service->StderrText();
	EXPECT_EQ(int(QString::fromStdString(Store.LogText()).count(QLatin1Char('\n'))), StoreLines);
	EXPECT_EQ(Output(QStringLiteral("WindowsServer/Component.json")), ServerInfo);
	EXPECT_TRUE(Output(QStringLiteral("WindowsServer/Entry_WindowsServer.pak")).isEmpty());
	EXPECT_TRUE(Sdk().CheckLocalPaks(true));
	// Publish finds both complete and puts nothing.
	Publish();
	EXPECT_EQ(StoredObjects(), EarlierObjects + 2);
	EXPECT_EQ(Registrations(), EarlierRegistrations + 1);

	// What was published is remembered across a restart of the editor.
	Host->Shutdown();
	Host.reset();
	StartHost();
	SelectWorld();
	const int ServiceLinesAfterRestart = ServiceRequests().size();
	EXPECT_TRUE(Build());
	EXPECT_EQ(ServiceRequests().size(), ServiceLinesAfterRestart) << Service->StderrText();
	EXPECT_EQ(Registrations(), EarlierRegistrations + 1);

	// One package changes: both paks are registered and stored again.
	WritePackage(QStringLiteral("Props/Crate.uasset"), QStringLiteral("Crate"),
	             QStringLiteral("/Script/Engine.SkeletalMesh"), {});
	EXPECT_FALSE(Build());
	EXPECT_EQ(Registrations(), EarlierRegistrations + 2);
	EXPECT_NE(Output(QStringLiteral("WindowsServer/Component.json")), ServerInfo);
	Publish();
	EXPECT_EQ(StoredObjects(), EarlierObjects + 4);
}
