#include "SdkFixture.h"

#include "FaultProxy.h"
#include "LocalS3Server.h"
#include "Notifications.h"
#include "OrvaAsyncFileUploader.h"
#include "S3PutObjectOrva.h"

#include <QCryptographicHash>
#include <QFile>
#include <QPointer>

#include <atomic>

namespace
{

// One store for the suite; it takes seconds to start.
std::unique_ptr<FLocalS3Server> GStore;
std::string GStoreProblem;
const std::string Bucket = "orva-uploader-tests";

QByteArray Patterned(qsizetype Size)
{
	QByteArray Bytes(Size, Qt::Uninitialized);
	for (qsizetype I = 0; I < Size; ++I)
	{
		Bytes[I] = char((I * 131 + I / 7) & 0xFF);
	}
	return Bytes;
}

} // namespace

class UploaderTest : public FSdkFixture
{
protected:
	static void SetUpTestSuite()
	{
		if (FLocalS3Server::IsAvailable())
		{
			GStore = std::make_unique<FLocalS3Server>();
			GStoreProblem = GStore->Start();
			if (GStoreProblem.empty() && !GStore->CreateBucket(Bucket))
			{
				GStoreProblem = "cannot create the bucket";
			}
		}
	}
	static void TearDownTestSuite() { GStore.reset(); }

	void SetUp() override
	{
		if (!FLocalS3Server::IsAvailable())
		{
			GTEST_SKIP() << "moto_server is not installed";
		}
		ASSERT_TRUE(GStoreProblem.empty()) << GStoreProblem;
		WriteSettings(QStringLiteral("[AwsS3]\nEndpoint=%1\nbUsePathStyle=True\n")
		                  .arg(QString::fromStdString(GStore->Endpoint()))
		                  .toUtf8());
		StartHost();
		Sdk().AccessToken = QStringLiteral("Bearer tok-1");
		Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Entry.Entry"));
		Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/Entry_PakVersion.json"),
		                  R"({"VersionId":"Entry","CheckCode":"check-42"})");
		Pak = Patterned(300 * 1024 + 5);
		PakPath = Project.ProjectDir() + QStringLiteral("Saved/HotPatcher/Entry/WindowsServer/c-7.pak");
		Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/WindowsServer/c-7.pak"), Pak);
	}

	// The service's credentials answer for Key, with real temporary credentials of the store.
	QByteArray StsAnswer(const std::string& Key, const QString& FilesOverride = QString())
	{
		const AwsSigV4::FCredentials Issued = GStore->IssueUploadCredentials(Bucket, Key);
		const QString Files = FilesOverride.isNull()
		                          ? QStringLiteral(R"([{"component_id":"c-7","bucket_name":"%1","url":"%2"}])")
		                                .arg(QString::fromStdString(Bucket), QString::fromStdString(Key))
		                          : FilesOverride;
		return QStringLiteral(
		           R"({"sts":{"token":"%1","access_key_id":"%2","secret_access_key":"%3","region":"us-east-1"},"files":%4})")
		    .arg(QString::fromStdString(Issued.SessionToken), QString::fromStdString(Issued.AccessKeyId),
		         QString::fromStdString(Issued.SecretAccessKey), Files)
		    .toUtf8();
	}

	struct FEnd
	{
		QList<bool> Results;
	};
	// Starts an upload and runs the loop until it has ended (or the time is up).
	FEnd Upload(int TimeoutMs = 30000)
	{
		FEnd Ends;
		UOrvaAsyncFileUploader* Uploader =
		    UOrvaAsyncFileUploader::UploadFile(&Sdk(), PakPath, QStringLiteral("c-7"), false);
		QObject::connect(Uploader, &UOrvaAsyncFileUploader::OnUploadCompleted, Host.get(),
		                 [&Ends](bool bSuccess) { Ends.Results.append(bSuccess); });
		FGameThread::RunUntil([&] { return !Ends.Results.isEmpty(); }, TimeoutMs);
		// Anything broadcast after the end would show up here.
		Settle();
		FGameThread::RunUntilIdle(100);
		return Ends;
	}

	QByteArray Pak;
	QString PakPath;
};

TEST_F(UploaderTest, PublishesThePakAndCompletesWithTheCheckCode)
{
	const std::string Key = "worlds/w1/c-7.pak";
	Server.Enqueue(200, R"({"id":"c-7","complete":false})");
	Server.Enqueue(200, StsAnswer(Key));
	Server.Enqueue(200, R"({"id":"c-7","complete":true})");
	const FEnd Ends = Upload();
	ASSERT_EQ(Ends.Results, QList<bool>({true}));

	const auto Stored = GStore->GetObject(Bucket, Key);
	ASSERT_EQ(Stored.Status, 200);
	EXPECT_TRUE(Stored.Body == Pak.toStdString());

	ASSERT_EQ(Server.RequestCount(), 3);
	const auto& State = Server.Requests()[0];
	EXPECT_EQ(State.Verb, "GET");
	EXPECT_EQ(State.Target, "/api/v1/components/c-7");
	EXPECT_EQ(State.Header("Authorization"), "Bearer tok-1");
	EXPECT_EQ(State.Header("accept"), "application/json");
	const auto& Sts = Server.Requests()[1];
	EXPECT_EQ(Sts.Verb, "POST");
	EXPECT_EQ(Sts.Target, "/api/v1/components/c-7/sts");
	EXPECT_EQ(Sts.Body, "{\"size\":" + QByteArray::number(Pak.size()) + "}");
	const auto& Complete = Server.Requests()[2];
	EXPECT_EQ(Complete.Verb, "PATCH");
	EXPECT_EQ(Complete.Target, "/api/v1/components/c-7/sts");
	QString CheckCode;
	QMetaObject::invokeMethod(&Sdk(), "GetCheckCode", Qt::DirectConnection, Q_RETURN_ARG(QString, CheckCode));
	EXPECT_EQ(Complete.Body, "{\"checksum\":\"" + CheckCode.toUtf8() + "\"}");
	EXPECT_TRUE(Complete.Header("accept").isEmpty());

	EXPECT_TRUE(Log.Contains(QStringLiteral("Ready To Upload")));
	EXPECT_TRUE(Log.Contains(QStringLiteral("Aws3S Upload Success!!!")));
	EXPECT_TRUE(Log.Contains(QStringLiteral("Complete Upload")));
	EXPECT_TRUE(Log.Contains(QStringLiteral("c-7 is upload Successfully.")));
	EXPECT_FALSE(Log.Messages().filter(QStringLiteral("c-7 Uploading:  0%")).isEmpty());
	EXPECT_FALSE(Log.Messages().filter(QStringLiteral("c-7 Uploading:  100%")).isEmpty());
	// No secret reaches a log line.
	const QString AllLines = Log.Messages().join(u'\n');
	EXPECT_FALSE(AllLines.contains(QStringLiteral("tok-1")));
}

TEST_F(UploaderTest, AlreadyCompleteAsksNoCredentials)
{
	Server.Enqueue(200, R"({"id":"c-7","complete":true})");
	const FEnd Ends = Upload();
	EXPECT_EQ(Ends.Results, QList<bool>({true}));
	EXPECT_EQ(Server.RequestCount(), 1);
	EXPECT_TRUE(Log.Contains(QStringLiteral("c-7 is already uploaded")));
	EXPECT_TRUE(Host->Notifications().GetItems().isEmpty());
}

TEST_F(UploaderTest, EveryFailureEndsOnceWithFalse)
{
	// A put the store refuses (a key outside the credentials' policy): false, once; no completion.
	Server.Enqueue(200, R"({"complete":false})");
	Server.Enqueue(
	    200, StsAnswer("worlds/w1/other.pak", QStringLiteral(R"([{"bucket_name":"%1","url":"worlds/w1/c-7.pak"}])")
	                                              .arg(QString::fromStdString(Bucket))));
	EXPECT_EQ(Upload().Results, QList<bool>({false}));
	EXPECT_EQ(Server.RequestCount(), 2);
	EXPECT_TRUE(Log.Contains(QStringLiteral("c-7 is upload faild.")));

	// Credentials without "sts", or without one usable file: no put.
	Server.Enqueue(200, R"({"complete":false})");
	Server.Enqueue(200, R"({"files":[]})");
	EXPECT_EQ(Upload().Results, QList<bool>({false}));
	Server.Enqueue(200, R"({"complete":false})");
	Server.Enqueue(200, StsAnswer("worlds/w1/c-7.pak", QStringLiteral(R"([{"url":"a"},{"url":"b"}])")));
	EXPECT_EQ(Upload().Results, QList<bool>({false}));

	// A completion the service refuses: false only, never true first.
	Server.Enqueue(200, R"({"complete":false})");
	Server.Enqueue(200, StsAnswer("worlds/w1/c-7.pak"));
	Server.Enqueue(409, R"({"error":"the object has another size"})");
	EXPECT_EQ(Upload().Results, QList<bool>({false}));
	EXPECT_TRUE(Log.Contains(QStringLiteral("Error for CompleteComponents: Response Is Not Valid")));

	// Unreadable state answers.
	Server.Enqueue(200, "not json");
	EXPECT_EQ(Upload().Results, QList<bool>({false}));
	EXPECT_TRUE(Log.Contains(QStringLiteral("JsonReader Error: GetComponentInfo Failed")));

	// A missing pak: an error line naming it, no credentials request.
	const int Before = Server.RequestCount();
	QFile::remove(PakPath);
	Server.Enqueue(200, R"({"complete":false})");
	EXPECT_EQ(Upload().Results, QList<bool>({false}));
	EXPECT_EQ(Server.RequestCount(), Before + 1);
	EXPECT_FALSE(Log.Messages(ELogVerbosity::Error).filter(PakPath).isEmpty());
}

TEST_F(UploaderTest, TheTwoGibLimitIsKeptAndEndsWithFalse)
{
	// Sparse files: nothing is written to disk.
	ASSERT_TRUE(QFile::resize(PakPath, qint64(2147483648) + 1));
	Server.Enqueue(200, R"({"complete":false})");
	EXPECT_EQ(Upload().Results, QList<bool>({false}));
	EXPECT_TRUE(Log.Contains(QStringLiteral("FileSize is more than 2 GB")));
	EXPECT_EQ(Server.RequestCount(), 1);

	ASSERT_TRUE(QFile::resize(PakPath, qint64(2147483648)));
	Server.Enqueue(200, R"({"complete":false})");
	Server.Enqueue(200, R"({"files":[]})");
	EXPECT_EQ(Upload().Results, QList<bool>({false}));
	ASSERT_EQ(Server.RequestCount(), 3);
	EXPECT_EQ(Server.Requests()[2].Body, "{\"size\":2147483648}");
}

TEST_F(UploaderTest, SuccessShowsOnlyOnceTheServiceConfirmedTheCompletion)
{
	const std::string Key = "worlds/w1/c-7.pak";
	// What the creator saw when the completion reached the service.
	bool bSuccessShownBeforeAnswer = true;
	Server.SetHandler(
	    [&](const FLoopbackHttpServer::FRecordedRequest& Request)
	    {
		    if (Request.Verb == "PATCH")
		    {
			    bSuccessShownBeforeAnswer = Log.Contains(QStringLiteral("c-7 is upload Successfully."));
		    }
		    return FLoopbackHttpServer::FAnswer{200, R"({"id":"c-7","complete":true})"};
	    });
	Server.Enqueue(200, R"({"id":"c-7","complete":false})");
	Server.Enqueue(200, StsAnswer(Key));
	EXPECT_EQ(Upload().Results, QList<bool>({true}));
	ASSERT_EQ(Server.RequestCount(), 3);
	EXPECT_FALSE(bSuccessShownBeforeAnswer);
	EXPECT_TRUE(Log.Contains(QStringLiteral("c-7 is upload Successfully.")));

	// A refused completion: the object is stored, yet the creator sees the failure and its cause.
	const QStringList Refusals = {QStringLiteral("409"), QStringLiteral("500")};
	for (const QString& Status : Refusals)
	{
		SCOPED_TRACE(Status.toStdString());
		Log.Clear();
		Server.SetHandler({});
		Server.Enqueue(200, R"({"id":"c-7","complete":false})");
		Server.Enqueue(200, StsAnswer(Key));
		Server.Enqueue(Status.toInt(), R"({"detail":"no object of the registered size"})");
		EXPECT_EQ(Upload().Results, QList<bool>({false}));
		EXPECT_FALSE(Log.Contains(QStringLiteral("c-7 is upload Successfully.")));
		EXPECT_TRUE(Log.Contains(QStringLiteral("c-7 is upload faild.")));
		EXPECT_TRUE(Log.Contains(QStringLiteral("Error for CompleteComponents: Response Is Not Valid")));
		EXPECT_FALSE(
		    Log.Messages(ELogVerbosity::Error)
		        .filter(QStringLiteral("HTTP %1: {\"detail\":\"no object of the registered size\"}").arg(Status))
		        .isEmpty());
		const auto Items = Host->Notifications().GetItems();
		ASSERT_FALSE(Items.isEmpty());
		EXPECT_EQ(Items.last()->GetCompletionState(), ENotificationState::Fail);
	}
}

TEST_F(UploaderTest, TheCompletionCarriesTheCheckCodeOfTheBuildTheUploadStartedWith)
{
	// Another world, built too, with its own check code.
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Lobby/Lobby_PakVersion.json"),
	                  R"({"VersionId":"Lobby","CheckCode":"check-99"})");
	const QByteArray Sts = StsAnswer("worlds/w1/c-7.pak");
	Server.SetHandler(
	    [&](const FLoopbackHttpServer::FRecordedRequest& Request)
	    {
		    if (Request.Verb == "GET")
		    {
			    // The creator selects the other world while the upload runs.
			    Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W2/Maps/Lobby.Lobby"));
			    return FLoopbackHttpServer::FAnswer{200, R"({"id":"c-7","complete":false})"};
		    }
		    return FLoopbackHttpServer::FAnswer{200, Request.Verb == "POST" ? Sts : QByteArray("{}")};
	    });
	EXPECT_EQ(Upload().Results, QList<bool>({true}));
	ASSERT_EQ(Server.RequestCount(), 3);
	EXPECT_EQ(Server.Requests()[2].Verb, "PATCH");
	EXPECT_EQ(Server.Requests()[2].Body, R"({"checksum":"check-42"})");

	// A caller that knows the build's check code hands it over.
	Server.SetHandler({});
	Server.Enqueue(200, R"({"complete":false})");
	Server.Enqueue(200, StsAnswer("worlds/w1/c-7.pak"));
	Server.Enqueue(200, "{}");
	bool bEnded = false;
	UOrvaAsyncFileUploader* Uploader =
	    UOrvaAsyncFileUploader::UploadFile(&Sdk(), PakPath, QStringLiteral("c-7"), false, QStringLiteral("check-7"));
	QObject::connect(Uploader, &UOrvaAsyncFileUploader::OnUploadCompleted, Host.get(), [&] { bEnded = true; });
	ASSERT_TRUE(FGameThread::RunUntil([&] { return bEnded; }, 30000));
	EXPECT_EQ(Server.Requests().last().Body, R"({"checksum":"check-7"})");
}

TEST_F(UploaderTest, ServiceRequestsHaveTheDeadlineAndAnswerBoundOfEveryServiceRequest)
{
	FOrvaSDKSubsystemTestAccess::SetServiceBounds(Sdk(), 1.0, 1000);
	// An answer over the bound is no answer.
	Server.Enqueue(200, R"({"complete":false,"pad":")" + QByteArray(2000, 'x') + R"("})");
	EXPECT_EQ(Upload().Results, QList<bool>({false}));
	EXPECT_EQ(Log.Count(QStringLiteral("Error for GetComponents: Response Is Not Valid")), 1);
	EXPECT_EQ(Server.RequestCount(), 1);

	// A service that keeps a request busy byte by byte does not hold the upload.
	Server.Enqueue(200, R"({"complete":false})");
	FLoopbackHttpServer::FAnswer Trickle{200, StsAnswer("worlds/w1/c-7.pak")};
	Trickle.TrickleMs = 100;
	Server.Enqueue(Trickle);
	EXPECT_EQ(Upload(20000).Results, QList<bool>({false}));
	EXPECT_EQ(Log.Count(QStringLiteral("Error for IssueComponentSts: Response Is Not Valid")), 1);
}

namespace
{

// Points the uploader's store settings at Endpoint, with parts of the store's minimum size.
void UseStoreAt(FEditorHost& Host, const QString& SettingsFile, int Port)
{
	Host.GetConfig()->SetString(QStringLiteral("AwsS3"), QStringLiteral("Endpoint"),
	                            QStringLiteral("http://127.0.0.1:%1").arg(Port), SettingsFile);
	Host.GetConfig()->SetString(QStringLiteral("AwsS3"), QStringLiteral("MultipartThresholdBytes"),
	                            QString::number(AwsS3::MinPartBytes), SettingsFile);
	Host.GetConfig()->SetString(QStringLiteral("AwsS3"), QStringLiteral("MultipartPartSizeBytes"),
	                            QString::number(AwsS3::MinPartBytes), SettingsFile);
}

} // namespace

TEST_F(UploaderTest, ASizeRefusalShowsAFailureAndASettingRaisesTheLimit)
{
	ASSERT_TRUE(QFile::resize(PakPath, qint64(2147483648) + 1));
	Server.Enqueue(200, R"({"complete":false})");
	EXPECT_EQ(Upload().Results, QList<bool>({false}));
	EXPECT_TRUE(Log.Contains(QStringLiteral("FileSize is more than 2 GB")));
	const auto Items = Host->Notifications().GetItems();
	ASSERT_EQ(Items.size(), 1);
	EXPECT_EQ(Items.last()->GetCompletionState(), ENotificationState::Fail);
	EXPECT_TRUE(Items.last()->GetText().startsWith(QStringLiteral("c-7 is too large to upload")))
	    << Items.last()->GetText().toStdString();

	// Raised: the same pak is no longer refused for its size (the service is asked for credentials).
	Host->GetConfig()->SetString(QStringLiteral("AwsS3"), QStringLiteral("MaxUploadBytes"),
	                             QString::number(qint64(6) * 1024 * 1024 * 1024), Sdk().GetSettingsFilePath());
	Log.Clear();
	Server.Enqueue(200, R"({"complete":false})");
	Server.Enqueue(200, R"({"files":[]})");
	EXPECT_EQ(Upload().Results, QList<bool>({false}));
	EXPECT_FALSE(Log.Contains(QStringLiteral("FileSize is more than")));
	ASSERT_EQ(Server.RequestCount(), 3);
	EXPECT_EQ(Server.Requests()[2].Body, "{\"size\":2147483649}");
}

TEST_F(UploaderTest, ExpiredCredentialsAreIssuedAgainByTheServiceAndTheUploadGoesOn)
{
	const std::string Key = "worlds/w1/c-7.pak";
	Pak = Patterned(12 * 1024 * 1024 + 3);
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/WindowsServer/c-7.pak"), Pak);
	std::atomic<int> Puts{0};
	FFaultProxy Proxy(GStore->Port(),
	                  [&](const FFaultProxy::FSeen& Seen) {
		                  return Seen.Method == "PUT" && ++Puts == 2 ? FFaultProxy::EFault::ExpiredToken
		                                                             : FFaultProxy::EFault::None;
	                  });
	UseStoreAt(*Host, Sdk().GetSettingsFilePath(), Proxy.Port());
	Server.Enqueue(200, R"({"id":"c-7","complete":false})");
	Server.Enqueue(200, StsAnswer(Key));
	Server.Enqueue(200, StsAnswer(Key));
	Server.Enqueue(200, R"({"id":"c-7","complete":true})");
	EXPECT_EQ(Upload(60000).Results, QList<bool>({true}));
	ASSERT_EQ(Server.RequestCount(), 4);
	EXPECT_EQ(Server.Requests()[1].Target, Server.Requests()[2].Target);
	EXPECT_EQ(Server.Requests()[1].Body, Server.Requests()[2].Body);
	EXPECT_EQ(Server.Requests()[3].Verb, "PATCH");
	EXPECT_TRUE(GStore->GetObject(Bucket, Key).Body == Pak.toStdString());
}

TEST_F(UploaderTest, ACancelledUploadEndsWithFalseACancelledStepAndNoPartsInTheStore)
{
	const std::string Key = "worlds/w1/c-7-cancelled.pak";
	Pak = Patterned(16 * 1024 * 1024 + 3);
	Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/Entry/WindowsServer/c-7.pak"), Pak);
	// The first part goes; the others hang on the way until the cancel.
	FFaultProxy Proxy(GStore->Port(), [](const FFaultProxy::FSeen& Seen)
	                  { return Seen.PartNumber > 1 ? FFaultProxy::EFault::Stall : FFaultProxy::EFault::None; });
	Proxy.StallSeconds = 30.0;
	UseStoreAt(*Host, Sdk().GetSettingsFilePath(), Proxy.Port());
	Server.Enqueue(200, R"({"id":"c-7","complete":false})");
	Server.Enqueue(200, StsAnswer(Key));

	QList<bool> Ends;
	UOrvaAsyncFileUploader* Uploader =
	    UOrvaAsyncFileUploader::UploadFile(&Sdk(), PakPath, QStringLiteral("c-7"), false);
	QPointer<UOrvaAsyncFileUploader> Alive(Uploader);
	QObject::connect(Uploader, &UOrvaAsyncFileUploader::OnUploadCompleted, Host.get(),
	                 [&Ends](bool bSuccess) { Ends.append(bSuccess); });
	// Cancelled once the first part is acknowledged (the progress text moved off 0 %).
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&]
	    {
		    const auto Items = Host->Notifications().GetItems();
		    return !Items.isEmpty() && Items.last()->GetText().contains(QStringLiteral("Uploading:")) &&
		           !Items.last()->GetText().endsWith(QStringLiteral(" 0%"));
	    },
	    60000));
	ASSERT_TRUE(Alive);
	Alive->Cancel();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return !Ends.isEmpty(); }, 30000));
	Settle();
	EXPECT_EQ(Ends, QList<bool>({false}));
	EXPECT_TRUE(Log.Contains(QStringLiteral("c-7 upload cancelled.")));
	const auto Items = Host->Notifications().GetItems();
	ASSERT_FALSE(Items.isEmpty());
	EXPECT_EQ(Items.last()->GetCompletionState(), ENotificationState::Fail);
	EXPECT_EQ(Items.last()->GetText(), QStringLiteral("c-7 upload cancelled."));
	const auto Listed = GStore->Call("s3", "GET", "/" + Bucket, {{"uploads", ""}}, "", GStore->AdminCredentials());
	EXPECT_EQ(Listed.Body.find("<Key>" + Key + "</Key>"), std::string::npos) << Listed.Body;
	// The journal goes on the journal writer's thread, after the writes asked for before.
	EXPECT_TRUE(
	    FGameThread::RunUntil([&] { return !QFile::exists(US3PutObjectOrva::JournalPathFor(PakPath)); }, 10000));
	// Only the component state and the credentials were asked: no completion.
	EXPECT_EQ(Server.RequestCount(), 2);
}
