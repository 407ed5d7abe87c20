#include "DevServiceProcess.h"
#include "LocalS3Server.h"

#include <gtest/gtest.h>

#include <QDateTime>

#include <chrono>
#include <memory>

// The service against the local store: real temporary credentials scoped to one object, and
// uploads checked with a HEAD before they count as complete.
class DevServiceStorage : public ::testing::Test
{
protected:
	static void SetUpTestSuite()
	{
		if (FLocalS3Server::IsAvailable())
		{
			Store = std::make_unique<FLocalS3Server>();
			StoreProblem = Store->Start();
		}
	}
	static void TearDownTestSuite() { Store.reset(); }

	void SetUp() override
	{
		if (!FLocalS3Server::IsAvailable())
		{
			GTEST_SKIP() << "moto_server is not installed (scripts/install-deps.sh installs it)";
		}
		ASSERT_EQ(StoreProblem, "");
		ASSERT_EQ(Service.Start({"--storage-sts", "--storage-endpoint", Store->Endpoint(), "--storage-bucket", Bucket,
		                         "--storage-access-key-id", Store->AdminCredentials().AccessKeyId,
		                         "--storage-secret-access-key", Store->AdminCredentials().SecretAccessKey}),
		          "");
		Alice = Service.LoginAlice();
		WorldId = StringOf(Service.CreateWorld(Alice), "id");
		const httplib::Result Registered = Service.PostJson(
		    "worlds/" + WorldId + "/components",
		    R"([{"metadata":{"map":"/Game/W/Maps/A","filename":"A_WindowsServer"},"name":"environment","platform":"WindowsServer","sandbox":false}])",
		    Alice);
		ASSERT_TRUE(Registered);
		ComponentId = StringOf(JsonOf(Registered).array().at(0).toObject(), "id");
		ASSERT_FALSE(ComponentId.empty());
	}

	httplib::Result Complete(const std::string& Checksum)
	{
		return Service.Client().Patch(Api("components/" + ComponentId + "/sts"), {{"Authorization", "Bearer " + Alice}},
		                              R"({"checksum":")" + Checksum + R"("})", "application/json; charset=utf-8");
	}

	static inline const std::string Bucket = "orva-dev-components";
	static std::unique_ptr<FLocalS3Server> Store;
	static std::string StoreProblem;
	FTestService Service;
	std::string Alice;
	std::string WorldId;
	std::string ComponentId;
};
std::unique_ptr<FLocalS3Server> DevServiceStorage::Store;
std::string DevServiceStorage::StoreProblem;

TEST_F(DevServiceStorage, CredentialsPutOnlyTheComponentsKeyAndCompletionChecksTheObject)
{
	EXPECT_EQ(Complete("c1")->status, 409) << "no grant yet";

	const std::string Pak(70000, 'p');
	const httplib::Result Grant =
	    Service.PostJson("components/" + ComponentId + "/sts", "{\"size\":" + std::to_string(Pak.size()) + "}", Alice);
	ASSERT_TRUE(Grant);
	ASSERT_EQ(Grant->status, 200) << Grant->body;
	const QJsonObject Sts = ObjectOf(Grant).value(QLatin1String("sts")).toObject();
	const AwsSigV4::FCredentials Issued{StringOf(Sts, "access_key_id"), StringOf(Sts, "secret_access_key"),
	                                    StringOf(Sts, "token")};
	EXPECT_NE(Issued.AccessKeyId, Store->AdminCredentials().AccessKeyId);
	EXPECT_NE(Issued.SecretAccessKey, Store->AdminCredentials().SecretAccessKey);
	ASSERT_FALSE(Issued.SessionToken.empty());
	const QJsonObject File = ObjectOf(Grant).value(QLatin1String("files")).toArray().at(0).toObject();
	EXPECT_EQ(StringOf(File, "bucket_name"), Bucket);
	const std::string Key = StringOf(File, "url");
	EXPECT_EQ(Key, "worlds/" + WorldId + "/" + ComponentId + ".pak");

	// The store refuses the credentials for another key, and without their token.
	const auto Elsewhere =
	    Store->Call("s3", "PUT", "/" + Bucket + "/worlds/" + WorldId + "/other.pak", {}, Pak, Issued);
	EXPECT_EQ(Elsewhere.Status, 403);
	EXPECT_EQ(FLocalS3Server::XmlText(Elsewhere.Body, "Code"), "AccessDenied");
	AwsSigV4::FCredentials NoToken = Issued;
	NoToken.SessionToken.clear();
	EXPECT_EQ(Store->Call("s3", "PUT", "/" + Bucket + "/" + Key, {}, Pak, NoToken).Status, 403);

	// A short object does not complete the component.
	ASSERT_EQ(Store->Call("s3", "PUT", "/" + Bucket + "/" + Key, {}, Pak.substr(1), Issued).Status, 200);
	const httplib::Result Short = Complete("c1");
	EXPECT_EQ(Short->status, 409);
	EXPECT_NE(StringOf(ObjectOf(Short), "detail").find("bytes"), std::string::npos) << Short->body;
	EXPECT_FALSE(ObjectOf(Service.Get("components/" + ComponentId, Alice)).value(QLatin1String("complete")).toBool());

	ASSERT_EQ(Store->Call("s3", "PUT", "/" + Bucket + "/" + Key, {}, Pak, Issued).Status, 200);
	const httplib::Result Done = Complete("c1");
	ASSERT_EQ(Done->status, 200) << Done->body;
	const QJsonObject After = ObjectOf(Service.Get("components/" + ComponentId, Alice));
	EXPECT_TRUE(After.value(QLatin1String("complete")).toBool());
	EXPECT_EQ(StringOf(After, "checksum"), "c1");

	// A second grant for the same component works again (its role is reused).
	EXPECT_EQ(Service.PostJson("components/" + ComponentId + "/sts", R"({"size":1})", Alice)->status, 200);
}

// A copy is a PutObject on the target. Where the source is readable by everyone (a bucket that serves
// paks to clients), only the issued policy's refusal of "x-amz-copy-source" keeps one creator's
// credentials from filling their key with another creator's pak.
TEST_F(DevServiceStorage, CredentialsCannotCopyAnotherCreatorsPak)
{
	// Bob's pak, uploaded with his own credentials.
	const std::string Bob = Service.LoginBob();
	const std::string BobWorld = StringOf(Service.CreateWorld(Bob), "id");
	const httplib::Result BobRegistered = Service.PostJson(
	    "worlds/" + BobWorld + "/components",
	    R"([{"metadata":{"map":"/Game/B/Maps/B","filename":"B_WindowsClient"},"platform":"WindowsClient"}])", Bob);
	ASSERT_TRUE(BobRegistered);
	const std::string BobComponent = StringOf(JsonOf(BobRegistered).array().at(0).toObject(), "id");
	auto Grant = [&](const std::string& Component, const std::string& Token, std::string& OutKey)
	{
		const httplib::Result Answer = Service.PostJson("components/" + Component + "/sts", R"({"size":5})", Token);
		EXPECT_TRUE(Answer && Answer->status == 200);
		const QJsonObject Sts = ObjectOf(Answer).value(QLatin1String("sts")).toObject();
		OutKey = StringOf(ObjectOf(Answer).value(QLatin1String("files")).toArray().at(0).toObject(), "url");
		return AwsSigV4::FCredentials{StringOf(Sts, "access_key_id"), StringOf(Sts, "secret_access_key"),
		                              StringOf(Sts, "token")};
	};
	std::string BobKey;
	const AwsSigV4::FCredentials BobIssued = Grant(BobComponent, Bob, BobKey);
	ASSERT_EQ(Store->Call("s3", "PUT", "/" + Bucket + "/" + BobKey, {}, "bobs!", BobIssued).Status, 200);

	// Everyone may read the stored paks; the suite's later tests get the bucket back without that.
	const std::string PublicRead = R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Principal":"*",)"
	                               R"("Action":"s3:GetObject","Resource":"arn:aws:s3:::)" +
	                               Bucket + R"(/worlds/*"}]})";
	const auto Policy = Store->Call("s3", "PUT", "/" + Bucket, {{"policy", ""}}, PublicRead, Store->AdminCredentials());
	ASSERT_EQ(Policy.Status / 100, 2) << Policy.Body;
	struct FPolicyRemoval
	{
		const FLocalS3Server& Store;
		~FPolicyRemoval() { Store.Call("s3", "DELETE", "/" + Bucket, {{"policy", ""}}, "", Store.AdminCredentials()); }
	} RemovePolicy{*Store};

	// Alice's put-only credentials for her own key.
	std::string AliceKey;
	const AwsSigV4::FCredentials AliceIssued = Grant(ComponentId, Alice, AliceKey);
	ASSERT_EQ(Store->Call("s3", "PUT", "/" + Bucket + "/" + AliceKey, {}, "alice", AliceIssued).Status, 200);
	const AwsSigV4::FNameValueList CopyBob = {{"x-amz-copy-source", "/" + Bucket + "/" + BobKey}};
	const auto Copied = Store->Call("s3", "PUT", "/" + Bucket + "/" + AliceKey, {}, "", AliceIssued, CopyBob);
	EXPECT_EQ(Copied.Status, 403) << Copied.Body;

	const auto Started = Store->Call("s3", "POST", "/" + Bucket + "/" + AliceKey, {{"uploads", ""}}, "", AliceIssued);
	ASSERT_EQ(Started.Status, 200) << Started.Body;
	const std::string UploadId = FLocalS3Server::XmlText(Started.Body, "UploadId");
	const auto PartCopied = Store->Call("s3", "PUT", "/" + Bucket + "/" + AliceKey,
	                                    {{"partNumber", "1"}, {"uploadId", UploadId}}, "", AliceIssued, CopyBob);
	EXPECT_EQ(PartCopied.Status, 403) << PartCopied.Body;
	EXPECT_EQ(Store->GetObject(Bucket, AliceKey).Body, "alice");
}

TEST(DevServiceStorageStart, AStoreThatRefusesTheKeyStopsTheStart)
{
	if (!FLocalS3Server::IsAvailable())
	{
		GTEST_SKIP() << "moto_server is not installed";
	}
	FLocalS3Server Store;
	ASSERT_EQ(Store.Start(), "");
	FTestService Service;
	const std::string Problem =
	    Service.Start({"--storage-sts", "--storage-endpoint", Store.Endpoint(), "--storage-access-key-id",
	                   "AKIANOSUCHKEY0000000", "--storage-secret-access-key", "nope"});
	EXPECT_NE(Problem, "");
	EXPECT_NE(Service.Process().StderrText().find("does not accept the service's key"), std::string::npos)
	    << Service.Process().StderrText();
}

// The issued role covers the multipart transfer of its one key (create, parts, list parts, abort,
// complete) and nothing else of the bucket; with short-lived credentials asked for, they really run
// out within the lifetime given, below the store's usual 15 minutes.
TEST_F(DevServiceStorage, IssuedCredentialsCoverTheMultipartTransferAndShortLivedOnesRunOut)
{
	FTestService Short;
	ASSERT_EQ(Short.Start({"--storage-sts", "--storage-short-lived-credentials", "--storage-credential-lifetime", "60",
	                       "--storage-endpoint", Store->Endpoint(), "--storage-bucket", Bucket,
	                       "--storage-access-key-id", Store->AdminCredentials().AccessKeyId,
	                       "--storage-secret-access-key", Store->AdminCredentials().SecretAccessKey}),
	          "");
	const std::string Creator = Short.LoginAlice();
	const std::string World = StringOf(Short.CreateWorld(Creator), "id");
	const httplib::Result Registered = Short.PostJson(
	    "worlds/" + World + "/components",
	    R"([{"metadata":{"map":"/Game/W/Maps/A","filename":"A_WindowsServer"},"name":"environment","platform":"WindowsServer","sandbox":false}])",
	    Creator);
	ASSERT_TRUE(Registered);
	const std::string Component = StringOf(JsonOf(Registered).array().at(0).toObject(), "id");

	// The long-lived service's credentials: the multipart calls on the key, no listing of the bucket.
	const httplib::Result Grant = Service.PostJson("components/" + ComponentId + "/sts", R"({"size":5})", Alice);
	ASSERT_TRUE(Grant);
	const QJsonObject Sts = ObjectOf(Grant).value(QLatin1String("sts")).toObject();
	const AwsSigV4::FCredentials Issued{StringOf(Sts, "access_key_id"), StringOf(Sts, "secret_access_key"),
	                                    StringOf(Sts, "token")};
	const std::string Key = StringOf(ObjectOf(Grant).value(QLatin1String("files")).toArray().at(0).toObject(), "url");
	const auto Created = Store->Call("s3", "POST", "/" + Bucket + "/" + Key, {{"uploads", ""}}, "", Issued);
	const std::string UploadId = FLocalS3Server::XmlText(Created.Body, "UploadId");
	ASSERT_FALSE(UploadId.empty()) << Created.Body;
	EXPECT_EQ(Store->Call("s3", "GET", "/" + Bucket + "/" + Key, {{"uploadId", UploadId}}, "", Issued).Status, 200);
	EXPECT_EQ(Store->Call("s3", "GET", "/" + Bucket, {{"uploads", ""}}, "", Issued).Status, 403);
	EXPECT_EQ(Store->Call("s3", "GET", "/" + Bucket + "/" + Key, {}, "", Issued).Status, 403);
	EXPECT_EQ(Store->Call("s3", "DELETE", "/" + Bucket + "/" + Key, {{"uploadId", UploadId}}, "", Issued).Status, 204);

	const httplib::Result ShortGrant = Short.PostJson("components/" + Component + "/sts", R"({"size":5})", Creator);
	ASSERT_TRUE(ShortGrant);
	ASSERT_EQ(ShortGrant->status, 200) << ShortGrant->body;
	const QJsonObject ShortSts = ObjectOf(ShortGrant).value(QLatin1String("sts")).toObject();
	const AwsSigV4::FCredentials Brief{StringOf(ShortSts, "access_key_id"), StringOf(ShortSts, "secret_access_key"),
	                                   StringOf(ShortSts, "token")};
	const QDateTime Expiration =
	    QDateTime::fromString(QString::fromStdString(StringOf(ShortSts, "expiration")), Qt::ISODateWithMs);
	ASSERT_TRUE(Expiration.isValid()) << StringOf(ShortSts, "expiration");
	EXPECT_LE(QDateTime::currentDateTimeUtc().secsTo(Expiration), 60);
	const std::string ShortKey =
	    StringOf(ObjectOf(ShortGrant).value(QLatin1String("files")).toArray().at(0).toObject(), "url");
	EXPECT_EQ(Store->Call("s3", "PUT", "/" + Bucket + "/" + ShortKey, {}, "in time", Brief).Status, 200);
	// Past the lifetime by the store's clock; the time a test takes does not matter.
	const FLocalS3Server::FClockShift Later = Store->MoveClock(61);
	const auto Late = Store->Call("s3", "PUT", "/" + Bucket + "/" + ShortKey, {}, "late", Brief);
	EXPECT_EQ(Late.Status, 400) << Late.Body;
	EXPECT_EQ(FLocalS3Server::XmlText(Late.Body, "Code"), "ExpiredToken");
}
