#include "AwsS3Client.h"
#include "ConfigCache.h"
#include "GameThread.h"
#include "LocalS3Server.h"
#include "LoopbackHttpServer.h"
#include "S3PutObjectOrva.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>
#include <httplib.h>

#include <memory>
#include <set>
#include <thread>

namespace
{

FAwsCredentials ToQt(const AwsSigV4::FCredentials& Keys)
{
	return {QString::fromStdString(Keys.AccessKeyId), QString::fromStdString(Keys.SecretAccessKey),
	        QString::fromStdString(Keys.SessionToken)};
}

QByteArray RandomBytes(qsizetype Size)
{
	QByteArray Bytes(Size, Qt::Uninitialized);
	QRandomGenerator Generator(42);
	for (qsizetype I = 0; I < Size; ++I)
	{
		Bytes[I] = char(Generator.generate() & 0xFF);
	}
	return Bytes;
}

// What one put reported, as the plugin would see it.
struct FPutOutcome
{
	int CompletedCount = 0;
	bool bSuccess = false;
	FPutObjectResult Result;
	ES3Errors Error = ES3Errors::None;
	QString Message;
	QList<int> Percents;
	bool bProgressOffMainThread = false;
	bool bCompletedInsideActivate = false;
};

FPutOutcome RunPut(const FAwsCredentials& Credentials, const FS3ClientConfiguration& Configuration,
                   const FPutObjectRequest& Request,
                   EAwsS3PayloadSigningPolicy Policy = EAwsS3PayloadSigningPolicy::RequestDependent)
{
	FPutOutcome Outcome;
	QObject Context;
	UAwsS3ClientObject* Client = UAwsS3ClientObject::CreateAwsS3ObjClient(Credentials, Configuration, Policy);
	bool bReady = false;
	Client->BindOnClientReady(
	    &Context,
	    [&](UAwsS3ClientObject* ReadyClient)
	    {
		    bReady = true;
		    US3PutObjectOrva* Put = US3PutObjectOrva::PutObject(nullptr, ReadyClient, Request);
		    QObject::connect(Put, &US3PutObjectOrva::Completed, &Context,
		                     [&](bool bSuccess, const FPutObjectResult& Result, ES3Errors Error, const QString& Message)
		                     {
			                     ++Outcome.CompletedCount;
			                     Outcome.bSuccess = bSuccess;
			                     Outcome.Result = Result;
			                     Outcome.Error = Error;
			                     Outcome.Message = Message;
		                     });
		    QObject::connect(Put, &US3PutObjectOrva::Progress, &Context,
		                     [&](const QString& FileName, int Percent)
		                     {
			                     EXPECT_EQ(FileName, Request.LocalFile);
			                     Outcome.Percents.append(Percent);
			                     Outcome.bProgressOffMainThread |= !FGameThread::IsInGameThread();
		                     });
		    Put->Activate();
		    Outcome.bCompletedInsideActivate = Outcome.CompletedCount > 0;
	    });
	Client->Activate();
	EXPECT_FALSE(bReady) << "the ready delegate runs later, not inside Activate";
	EXPECT_TRUE(FGameThread::RunUntil([&] { return Outcome.CompletedCount > 0; }, 60000));
	Client->DestroyS3Object();
	FGameThread::RunUntilIdle(50);
	return Outcome;
}

// Stands between the client and the store and damages what passes: flips one byte in the middle of
// each request body, and takes the ETag out of the store's answers (as KMS, multipart-style ETags
// or stores that omit it leave the client nothing to compare).
class FDamagingProxy
{
public:
	FDamagingProxy(int StorePort, bool bFlipByte, bool bStripEtag)
	{
		Server.Put(".*",
		           [=](const httplib::Request& In, httplib::Response& Out)
		           {
			           std::string Body = In.body;
			           if (bFlipByte && !Body.empty())
			           {
				           Body[Body.size() / 2] = char(Body[Body.size() / 2] ^ 0x20);
			           }
			           // Host stays as the client signed it; the rest of the headers go as they came.
			           static const std::set<std::string> NotForwarded = {"Content-Length", "REMOTE_ADDR",
			                                                              "REMOTE_PORT", "LOCAL_ADDR", "LOCAL_PORT"};
			           httplib::Headers Headers;
			           for (const auto& [Name, Value] : In.headers)
			           {
				           if (NotForwarded.count(Name) == 0)
				           {
					           Headers.emplace(Name, Value);
				           }
			           }
			           httplib::Client Store("127.0.0.1", StorePort);
			           const httplib::Result Answer = Store.Put(In.target.c_str(), Headers, Body, "");
			           if (!Answer)
			           {
				           Out.status = 502;
				           return;
			           }
			           Out.status = Answer->status;
			           auto Is = [](const std::string& Name, const char* Other)
			           { return QByteArray::fromStdString(Name).compare(Other, Qt::CaseInsensitive) == 0; };
			           for (const auto& [Name, Value] : Answer->headers)
			           {
				           const bool bFraming =
				               Is(Name, "Content-Length") || Is(Name, "Transfer-Encoding") || Is(Name, "Connection");
				           if (!bFraming && !(bStripEtag && Is(Name, "ETag")))
				           {
					           Out.set_header(Name.c_str(), Value);
				           }
			           }
			           Out.body = Answer->body;
		           });
		// One request per connection: the client's idle connection must not hold the proxy's end.
		Server.set_keep_alive_max_count(1);
		ProxyPort = Server.bind_to_any_port("127.0.0.1");
		Thread = std::thread([this] { Server.listen_after_bind(); });
		while (ProxyPort > 0 && !Server.is_running())
		{
			std::this_thread::yield();
		}
	}
	~FDamagingProxy()
	{
		Server.stop();
		Thread.join();
	}
	int Port() const { return ProxyPort; }

private:
	httplib::Server Server;
	std::thread Thread;
	int ProxyPort = 0;
};

} // namespace

class S3PutObjectTest : public ::testing::Test
{
protected:
	static void SetUpTestSuite()
	{
		if (FLocalS3Server::IsAvailable())
		{
			Server = std::make_unique<FLocalS3Server>();
			Problem = Server->Start();
			if (Problem.empty() && !Server->CreateBucket(Bucket))
			{
				Problem = "cannot create the test bucket";
			}
		}
	}
	static void TearDownTestSuite() { Server.reset(); }

	void SetUp() override
	{
		if (!FLocalS3Server::IsAvailable())
		{
			GTEST_SKIP() << "moto_server is not installed (scripts/install-deps.sh installs it)";
		}
		ASSERT_TRUE(Problem.empty()) << Problem;
		ASSERT_TRUE(Dir.isValid());
	}

	FS3ClientConfiguration StoreConfiguration()
	{
		FS3ClientConfiguration Configuration;
		Configuration.Region = QStringLiteral("us-east-1");
		Configuration.Endpoint = QString::fromStdString(Server->Endpoint());
		Configuration.bUsePathStyle = true;
		Configuration.Http = &Http;
		return Configuration;
	}

	QString WriteFile(const QString& Name, const QByteArray& Bytes)
	{
		const QString Path = Dir.filePath(Name);
		QFile File(Path);
		EXPECT_TRUE(File.open(QIODevice::WriteOnly));
		File.write(Bytes);
		return Path;
	}

	static inline const std::string Bucket = "orva-put-tests";
	static std::unique_ptr<FLocalS3Server> Server;
	static std::string Problem;
	FHttpModule Http;
	QTemporaryDir Dir;
};
std::unique_ptr<FLocalS3Server> S3PutObjectTest::Server;
std::string S3PutObjectTest::Problem;

TEST_F(S3PutObjectTest, StoresTheFileByteForByteWithTemporaryCredentialsAndRisingWholePercents)
{
	const QByteArray Bytes = RandomBytes(3 * 1024 * 1024 + 17);
	const QString Path = WriteFile(QStringLiteral("My World.pak"), Bytes);
	const std::string Key = "worlds/w1/c1.pak";
	const FAwsCredentials Temporary = ToQt(Server->IssueUploadCredentials(Bucket, Key));
	ASSERT_FALSE(Temporary.SessionToken.isEmpty()) << Server->GetLastProblem();

	const FPutOutcome Outcome = RunPut(Temporary, StoreConfiguration(),
	                                   {QString::fromStdString(Bucket), QString::fromStdString(Key), Path, QString()});
	ASSERT_TRUE(Outcome.bSuccess) << Outcome.Message.toStdString();
	EXPECT_EQ(Outcome.CompletedCount, 1);
	EXPECT_FALSE(Outcome.bCompletedInsideActivate);
	EXPECT_EQ(Outcome.Error, ES3Errors::None);
	EXPECT_EQ(Outcome.Result.HttpStatus, 200);
	EXPECT_EQ(Outcome.Result.BytesSent, Bytes.size());
	EXPECT_TRUE(Outcome.Result.bChecksumVerified);
	EXPECT_EQ(Outcome.Result.ETag,
	          QString::fromLatin1(QCryptographicHash::hash(Bytes, QCryptographicHash::Md5).toHex()));

	const auto Stored = Server->GetObject(Bucket, Key);
	ASSERT_EQ(Stored.Status, 200);
	EXPECT_TRUE(Stored.Body == Bytes.toStdString());

	ASSERT_FALSE(Outcome.Percents.isEmpty());
	EXPECT_EQ(Outcome.Percents.last(), 100);
	for (qsizetype I = 1; I < Outcome.Percents.size(); ++I)
	{
		EXPECT_GT(Outcome.Percents[I], Outcome.Percents[I - 1]);
	}
	EXPECT_FALSE(Outcome.bProgressOffMainThread);

	// Payload signing policy Always: the signature covers the SHA-256 of the body.
	const std::string SignedKey = "worlds/w1/c1-signed.pak";
	const FAwsCredentials Second = ToQt(Server->IssueUploadCredentials(Bucket, SignedKey));
	const FPutOutcome Signed =
	    RunPut(Second, StoreConfiguration(),
	           {QString::fromStdString(Bucket), QString::fromStdString(SignedKey), Path, QString()},
	           EAwsS3PayloadSigningPolicy::Always);
	ASSERT_TRUE(Signed.bSuccess) << Signed.Message.toStdString();
	EXPECT_TRUE(Signed.Result.bChecksumVerified);
	EXPECT_TRUE(Server->GetObject(Bucket, SignedKey).Body == Bytes.toStdString());
}

TEST_F(S3PutObjectTest, TheStoreRefusesABodyDamagedOnTheWayWhateverItsAnswerCarries)
{
	const QByteArray Bytes = RandomBytes(256 * 1024 + 9);
	const QString Path = WriteFile(QStringLiteral("damaged.pak"), Bytes);
	const struct
	{
		const char* Label;
		bool bFlipByte;
		bool bStripEtag;
	} Cases[] = {{"damaged", true, false},
	             {"damaged, answer without ETag", true, true},
	             {"intact, answer without ETag", false, true}};
	int Number = 0;
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.Label);
		const std::string Key = "worlds/w1/damaged-" + std::to_string(++Number) + ".pak";
		const FAwsCredentials Temporary = ToQt(Server->IssueUploadCredentials(Bucket, Key));
		ASSERT_FALSE(Temporary.SessionToken.isEmpty()) << Server->GetLastProblem();
		FDamagingProxy Proxy(Server->Port(), Case.bFlipByte, Case.bStripEtag);
		ASSERT_GT(Proxy.Port(), 0);
		FS3ClientConfiguration Configuration = StoreConfiguration();
		Configuration.Endpoint = QStringLiteral("http://127.0.0.1:%1").arg(Proxy.Port());
		const FPutOutcome Outcome = RunPut(
		    Temporary, Configuration, {QString::fromStdString(Bucket), QString::fromStdString(Key), Path, QString()});
		EXPECT_EQ(Outcome.CompletedCount, 1);
		if (Case.bFlipByte)
		{
			EXPECT_FALSE(Outcome.bSuccess);
			EXPECT_EQ(Outcome.Error, ES3Errors::BadDigest) << Outcome.Message.toStdString();
			EXPECT_FALSE(Outcome.Result.bChecksumVerified);
			EXPECT_EQ(Server->HeadObject(Bucket, Key).Status, 404);
		}
		else
		{
			EXPECT_TRUE(Outcome.bSuccess) << Outcome.Message.toStdString();
			EXPECT_TRUE(Outcome.Result.bChecksumVerified);
			EXPECT_TRUE(Server->GetObject(Bucket, Key).Body == Bytes.toStdString());
		}
	}
}

TEST_F(S3PutObjectTest, StoreRefusalsAreFailuresWithTheStoresCode)
{
	const QString Path = WriteFile(QStringLiteral("c2.pak"), RandomBytes(4096));
	const std::string Key = "worlds/w1/c2.pak";
	const AwsSigV4::FCredentials Issued = Server->IssueUploadCredentials(Bucket, Key);
	ASSERT_FALSE(Issued.SessionToken.empty()) << Server->GetLastProblem();

	FAwsCredentials WrongSecret = ToQt(Issued);
	WrongSecret.SecretAccessKey += QLatin1Char('x');
	FAwsCredentials NoToken = ToQt(Issued);
	NoToken.SessionToken.clear();
	const struct
	{
		const char* Label;
		FAwsCredentials Credentials;
		std::string Key;
		ES3Errors Expected;
	} Cases[] = {
	    {"wrong secret", WrongSecret, Key, ES3Errors::SignatureDoesNotMatch},
	    {"no session token", NoToken, Key, ES3Errors::InvalidAccessKeyId},
	    {"another key", ToQt(Issued), "worlds/w1/other.pak", ES3Errors::AccessDenied},
	};
	for (const auto& Case : Cases)
	{
		SCOPED_TRACE(Case.Label);
		const FPutOutcome Outcome =
		    RunPut(Case.Credentials, StoreConfiguration(),
		           {QString::fromStdString(Bucket), QString::fromStdString(Case.Key), Path, QString()});
		EXPECT_FALSE(Outcome.bSuccess);
		EXPECT_EQ(Outcome.CompletedCount, 1);
		EXPECT_EQ(Outcome.Error, Case.Expected) << Outcome.Message.toStdString();
		EXPECT_EQ(Outcome.Result.HttpStatus, 403);
		EXPECT_TRUE(Outcome.Message.contains(AwsS3::ErrorKindName(Case.Expected))) << Outcome.Message.toStdString();
		// The message never carries the secret or the token.
		EXPECT_FALSE(Outcome.Message.contains(Case.Credentials.SecretAccessKey));
		EXPECT_FALSE(Outcome.Message.contains(QString::fromStdString(Issued.SessionToken)));
	}
	EXPECT_EQ(Server->HeadObject(Bucket, Key).Status, 404);

	const FPutOutcome NoBucket =
	    RunPut(ToQt(Server->AdminCredentials()), StoreConfiguration(),
	           {QStringLiteral("orva-no-such-bucket"), QStringLiteral("k.pak"), Path, QString()});
	EXPECT_EQ(NoBucket.Error, ES3Errors::NoSuchBucket) << NoBucket.Message.toStdString();
}

TEST_F(S3PutObjectTest, LocalProblemsAndDeadStoresAreReportedOnceAndLater)
{
	const QString Path = WriteFile(QStringLiteral("c3.pak"), RandomBytes(1000));
	const FAwsCredentials Admin = ToQt(Server->AdminCredentials());
	const QString BucketName = QString::fromStdString(Bucket);

	const FPutOutcome Missing = RunPut(Admin, StoreConfiguration(),
	                                   {BucketName, QStringLiteral("k"), Dir.filePath(QStringLiteral("none.pak"))});
	EXPECT_EQ(Missing.Error, ES3Errors::FileError);
	EXPECT_TRUE(Missing.Message.contains(QStringLiteral("none.pak")));
	EXPECT_FALSE(Missing.bCompletedInsideActivate);

	FS3ClientConfiguration BadEndpoint = StoreConfiguration();
	BadEndpoint.Endpoint = QStringLiteral("ftp://127.0.0.1/");
	EXPECT_EQ(RunPut(Admin, BadEndpoint, {BucketName, QStringLiteral("k"), Path}).Error,
	          ES3Errors::InvalidConfiguration);
	EXPECT_EQ(RunPut(Admin, StoreConfiguration(), {BucketName, QString(), Path}).Error,
	          ES3Errors::InvalidConfiguration);
	EXPECT_EQ(RunPut(FAwsCredentials{}, StoreConfiguration(), {BucketName, QStringLiteral("k"), Path}).Error,
	          ES3Errors::InvalidConfiguration);

	// A port where nothing listens: take a free one and close it again.
	quint16 DeadPort = 0;
	{
		FLoopbackHttpServer Probe;
		DeadPort = Probe.Port();
	}
	FS3ClientConfiguration Dead = StoreConfiguration();
	Dead.Endpoint = QStringLiteral("http://127.0.0.1:%1").arg(DeadPort);
	const FPutOutcome Refused = RunPut(Admin, Dead, {BucketName, QStringLiteral("k"), Path});
	EXPECT_FALSE(Refused.bSuccess);
	EXPECT_EQ(Refused.Error, ES3Errors::NetworkError);
}

TEST(S3Addressing, PathStyleVirtualHostedAndDefaults)
{
	FS3ClientConfiguration Configuration;
	Configuration.Region = QStringLiteral("eu-west-1");
	QString Problem;
	auto Address = AwsS3::ResolveObjectAddress(Configuration, QStringLiteral("orva-worlds"),
	                                           QStringLiteral("worlds/w 1/c$1.pak"), Problem);
	EXPECT_EQ(Address.Url, QStringLiteral("https://orva-worlds.s3.eu-west-1.amazonaws.com/worlds/w%201/c%241.pak"));
	EXPECT_EQ(Address.Host, QStringLiteral("orva-worlds.s3.eu-west-1.amazonaws.com"));
	EXPECT_EQ(Address.Path, QStringLiteral("/worlds/w 1/c$1.pak"));

	Configuration.Endpoint = QStringLiteral("http://127.0.0.1:9000/store/");
	Configuration.bUsePathStyle = true;
	Address =
	    AwsS3::ResolveObjectAddress(Configuration, QStringLiteral("orva-worlds"), QStringLiteral("a.pak"), Problem);
	EXPECT_EQ(Address.Url, QStringLiteral("http://127.0.0.1:9000/store/orva-worlds/a.pak"));
	EXPECT_EQ(Address.Host, QStringLiteral("127.0.0.1:9000"));
	EXPECT_EQ(Address.Path, QStringLiteral("/store/orva-worlds/a.pak"));

	// Default ports are not part of the host; a bucket that cannot be a host label goes path style.
	Configuration.Endpoint = QStringLiteral("https://storage.example.com:443");
	Configuration.bUsePathStyle = false;
	Address = AwsS3::ResolveObjectAddress(Configuration, QStringLiteral("Orva.Worlds"), QStringLiteral("a"), Problem);
	EXPECT_EQ(Address.Url, QStringLiteral("https://storage.example.com/Orva.Worlds/a"));
	Address = AwsS3::ResolveObjectAddress(Configuration, QStringLiteral("orva"), QStringLiteral("a"), Problem);
	EXPECT_EQ(Address.Url, QStringLiteral("https://orva.storage.example.com/a"));

	for (const QString& Bad : {QStringLiteral("storage.example.com"), QStringLiteral("ftp://h/"),
	                           QStringLiteral("http://h/?x=1"), QStringLiteral("http://user:pw@h/")})
	{
		Configuration.Endpoint = Bad;
		EXPECT_TRUE(
		    AwsS3::ResolveObjectAddress(Configuration, QStringLiteral("b"), QStringLiteral("k"), Problem).Url.isEmpty())
		    << Bad.toStdString();
		EXPECT_FALSE(Problem.isEmpty());
	}
	Configuration.Endpoint.clear();
	Configuration.Region.clear();
	EXPECT_TRUE(
	    AwsS3::ResolveObjectAddress(Configuration, QStringLiteral("b"), QStringLiteral("k"), Problem).Url.isEmpty());
}

TEST(S3Addressing, SettingsComeFromTheAwsS3Section)
{
	QTemporaryDir Dir;
	const QString Ini = Dir.filePath(QStringLiteral("OrvaSDK.ini"));
	QFile File(Ini);
	ASSERT_TRUE(File.open(QIODevice::WriteOnly));
	File.write("[LoginInfo]\nToken=x\n[AwsS3]\nEndpoint=http://127.0.0.1:4566\nbUsePathStyle=True\n");
	File.close();
	FConfigCache Config;
	const FS3ClientConfiguration Loaded = AwsS3::LoadClientConfiguration(&Config, Ini);
	EXPECT_EQ(Loaded.Endpoint, QStringLiteral("http://127.0.0.1:4566"));
	EXPECT_TRUE(Loaded.bUsePathStyle);

	const FS3ClientConfiguration Defaults =
	    AwsS3::LoadClientConfiguration(&Config, Dir.filePath(QStringLiteral("missing.ini")));
	EXPECT_TRUE(Defaults.Endpoint.isEmpty());
	EXPECT_FALSE(Defaults.bUsePathStyle);
	EXPECT_TRUE(AwsS3::LoadClientConfiguration(nullptr, Ini).Endpoint.isEmpty());
}

TEST(S3PutObjectWire, TheEtagIsComparedWithTheMd5OfWhatWasSent)
{
	FLoopbackHttpServer Store;
	FHttpModule Http;
	QTemporaryDir Dir;
	const QByteArray Bytes = RandomBytes(200 * 1024 + 3);
	const QString Path = Dir.filePath(QStringLiteral("c.pak"));
	{
		QFile File(Path);
		ASSERT_TRUE(File.open(QIODevice::WriteOnly));
		File.write(Bytes);
	}
	const QByteArray Md5 = QCryptographicHash::hash(Bytes, QCryptographicHash::Md5).toHex();
	FS3ClientConfiguration Configuration;
	Configuration.Region = QStringLiteral("eu-central-1");
	Configuration.Endpoint = Store.Url();
	Configuration.bUsePathStyle = true;
	Configuration.Http = &Http;
	const FAwsCredentials Temporary{QStringLiteral("ASIATEMP"), QStringLiteral("secret"), QStringLiteral("tok/en+=")};
	const FPutObjectRequest Request{QStringLiteral("bucket"), QStringLiteral("worlds/w1/c.pak"), Path,
	                                QStringLiteral("application/octet-stream")};

	auto Answer = [](const QList<QPair<QByteArray, QByteArray>>& Headers)
	{
		FLoopbackHttpServer::FAnswer Reply;
		Reply.Headers = Headers;
		return Reply;
	};
	Store.Enqueue(Answer({{"ETag", "\"" + Md5 + "\""}}));
	const FPutOutcome Good = RunPut(Temporary, Configuration, Request);
	EXPECT_TRUE(Good.bSuccess) << Good.Message.toStdString();
	EXPECT_TRUE(Good.Result.bChecksumVerified);
	EXPECT_EQ(Good.Result.ContentMd5, QString::fromLatin1(Md5));

	ASSERT_EQ(Store.RequestCount(), 1);
	const auto& Sent = Store.Requests().first();
	EXPECT_EQ(Sent.Verb, "PUT");
	EXPECT_EQ(Sent.Target, "/bucket/worlds/w1/c.pak");
	EXPECT_EQ(Sent.Body, Bytes);
	EXPECT_EQ(Sent.Header("x-amz-content-sha256"), "UNSIGNED-PAYLOAD");
	EXPECT_EQ(Sent.Header("x-amz-security-token"), "tok/en+=");
	EXPECT_EQ(Sent.Header("Content-Type"), "application/octet-stream");
	const QByteArray Authorization = Sent.Header("Authorization");
	EXPECT_TRUE(Authorization.startsWith("AWS4-HMAC-SHA256 Credential=ASIATEMP/"));
	// The digest is signed with the rest, so the store checks the body against it.
	EXPECT_EQ(Sent.Header("Content-MD5"), QCryptographicHash::hash(Bytes, QCryptographicHash::Md5).toBase64());
	EXPECT_TRUE(Authorization.contains("/eu-central-1/s3/aws4_request, SignedHeaders=content-md5;content-type;host;"
	                                   "x-amz-content-sha256;x-amz-date;x-amz-security-token, Signature="));
	EXPECT_FALSE(Authorization.contains("secret"));

	Store.Enqueue(Answer({{"ETag", "\"" + Md5 + "\""}}));
	EXPECT_TRUE(RunPut(Temporary, Configuration, Request, EAwsS3PayloadSigningPolicy::Always).bSuccess);
	EXPECT_EQ(Store.Requests().last().Header("x-amz-content-sha256"),
	          QCryptographicHash::hash(Bytes, QCryptographicHash::Sha256).toHex());
	EXPECT_EQ(Store.Requests().last().Body, Bytes);

	// A store that holds other bytes than were sent: a failure, never a success.
	Store.Enqueue(Answer({{"ETag", "\"0123456789abcdef0123456789abcdef\""}}));
	const FPutOutcome Damaged = RunPut(Temporary, Configuration, Request);
	EXPECT_FALSE(Damaged.bSuccess);
	EXPECT_EQ(Damaged.CompletedCount, 1);
	EXPECT_EQ(Damaged.Error, ES3Errors::ChecksumMismatch);
	EXPECT_TRUE(Damaged.Message.contains(QStringLiteral("0123456789abcdef0123456789abcdef")));

	// KMS-encrypted objects and answers without an ETag give nothing more to compare: the store's
	// own check of the Content-MD5 stands, said so.
	FLogCapture Log;
	Store.Enqueue(
	    Answer({{"ETag", "\"ffffffffffffffffffffffffffffffff\""}, {"x-amz-server-side-encryption", "aws:kms"}}));
	const FPutOutcome Kms = RunPut(Temporary, Configuration, Request);
	EXPECT_TRUE(Kms.bSuccess);
	Store.Enqueue(Answer({}));
	const FPutOutcome NoEtag = RunPut(Temporary, Configuration, Request);
	EXPECT_TRUE(NoEtag.bSuccess);
	const QStringList Display = Log.Messages(ELogVerbosity::Display);
	EXPECT_EQ(Display.filter(QStringLiteral("gives no MD5 to compare")).size(), 2) << Display.join(u'\n').toStdString();

	// An error answer keeps the store's words.
	Store.Enqueue(FLoopbackHttpServer::FAnswer{400,
	                                           "<Error><Code>EntityTooLarge</Code><Message>Your proposed upload "
	                                           "exceeds the maximum allowed size</Message></Error>",
	                                           {{"Content-Type", "application/xml"}}});
	const FPutOutcome TooLarge = RunPut(Temporary, Configuration, Request);
	EXPECT_EQ(TooLarge.Error, ES3Errors::EntityTooLarge);
	EXPECT_EQ(TooLarge.Message,
	          QStringLiteral("EntityTooLarge: Your proposed upload exceeds the maximum allowed size (HTTP 400)"));
	// A connection broken off mid-answer is a transport failure.
	FLoopbackHttpServer::FAnswer Dropped;
	Dropped.bDrop = true;
	Dropped.Body = QByteArray(1000, 'x');
	Store.Enqueue(Dropped);
	FS3ClientConfiguration Once = Configuration;
	Once.MaxAttempts = 1;
	EXPECT_EQ(RunPut(Temporary, Once, Request).Error, ES3Errors::NetworkError);
	// A store that takes the body and then says nothing is a time-out, not a broken network.
	FLoopbackHttpServer::FAnswer Silent = Answer({{"ETag", "\"" + Md5 + "\""}});
	Silent.DelayMs = 3000;
	Store.Enqueue(Silent);
	FS3ClientConfiguration Impatient = Configuration;
	Impatient.RequestTimeoutSeconds = 0.5;
	const FPutOutcome Late = RunPut(Temporary, Impatient, Request);
	EXPECT_FALSE(Late.bSuccess);
	EXPECT_EQ(Late.Error, ES3Errors::Timeout) << Late.Message.toStdString();
	EXPECT_TRUE(Late.Message.contains(QStringLiteral("in time"))) << Late.Message.toStdString();
}

TEST(S3PutObjectWire, TransientStoreErrorsAreTriedAgainAndTheLastCodeIsKept)
{
	FLoopbackHttpServer Store;
	FHttpModule Http;
	QTemporaryDir Dir;
	const QByteArray Bytes = RandomBytes(64 * 1024 + 1);
	const QString Path = Dir.filePath(QStringLiteral("c.pak"));
	{
		QFile File(Path);
		ASSERT_TRUE(File.open(QIODevice::WriteOnly));
		File.write(Bytes);
	}
	const QByteArray Md5 = QCryptographicHash::hash(Bytes, QCryptographicHash::Md5);
	FS3ClientConfiguration Configuration;
	Configuration.Region = QStringLiteral("us-east-1");
	Configuration.Endpoint = Store.Url();
	Configuration.bUsePathStyle = true;
	Configuration.Http = &Http;
	Configuration.MaxAttempts = 4;
	Configuration.RetryBaseDelaySeconds = 0.01;
	const FAwsCredentials Keys{QStringLiteral("AKIDEXAMPLE"), QStringLiteral("secret"), QString()};
	const FPutObjectRequest Request{QStringLiteral("bucket"), QStringLiteral("worlds/w1/c.pak"), Path, QString()};
	auto StoreError = [](int Status, const QByteArray& Code)
	{
		return FLoopbackHttpServer::FAnswer{Status,
		                                    "<Error><Code>" + Code + "</Code><Message>try again</Message></Error>",
		                                    {{"Content-Type", "application/xml"}}};
	};
	FLoopbackHttpServer::FAnswer Stored;
	Stored.Headers = {{"ETag", "\"" + Md5.toHex() + "\""}};
	FLoopbackHttpServer::FAnswer Dropped;
	Dropped.bDrop = true;
	Dropped.Body = QByteArray(1000, 'x');

	// Busy, failing inside, timing out on the body, dropping the connection: each tried again.
	Store.Enqueue(StoreError(503, "SlowDown"));
	Store.Enqueue(StoreError(500, "InternalError"));
	Store.Enqueue(StoreError(400, "RequestTimeout"));
	Store.Enqueue(Stored);
	const FPutOutcome Recovered = RunPut(Keys, Configuration, Request);
	EXPECT_TRUE(Recovered.bSuccess) << Recovered.Message.toStdString();
	EXPECT_EQ(Recovered.CompletedCount, 1);
	EXPECT_EQ(Recovered.Result.Attempts, 4);
	ASSERT_EQ(Store.RequestCount(), 4);
	for (const auto& Sent : Store.Requests())
	{
		// Every attempt sends the whole object with the same digest, freshly signed.
		EXPECT_EQ(Sent.Body, Bytes);
		EXPECT_EQ(Sent.Header("Content-MD5"), Md5.toBase64());
	}
	Store.Enqueue(Dropped);
	Store.Enqueue(Stored);
	const FPutOutcome AfterDrop = RunPut(Keys, Configuration, Request);
	EXPECT_TRUE(AfterDrop.bSuccess) << AfterDrop.Message.toStdString();
	EXPECT_EQ(AfterDrop.Result.Attempts, 2);

	// Bounded: the last failure carries the store's code.
	const int Before = Store.RequestCount();
	for (int I = 0; I < Configuration.MaxAttempts; ++I)
	{
		Store.Enqueue(StoreError(503, "SlowDown"));
	}
	const FPutOutcome Busy = RunPut(Keys, Configuration, Request);
	EXPECT_FALSE(Busy.bSuccess);
	EXPECT_EQ(Busy.CompletedCount, 1);
	EXPECT_EQ(Busy.Error, ES3Errors::SlowDown);
	EXPECT_EQ(Busy.Message, QStringLiteral("SlowDown: try again (HTTP 503) after 4 attempts"));
	EXPECT_EQ(Store.RequestCount(), Before + 4);

	// A refusal is final at once.
	const struct
	{
		int Status;
		QByteArray Code;
		ES3Errors Expected;
	} Final[] = {{403, "AccessDenied", ES3Errors::AccessDenied}, {400, "BadDigest", ES3Errors::BadDigest}};
	for (const auto& Case : Final)
	{
		const int Count = Store.RequestCount();
		Store.Enqueue(StoreError(Case.Status, Case.Code));
		const FPutOutcome Refused = RunPut(Keys, Configuration, Request);
		EXPECT_EQ(Refused.Error, Case.Expected) << Case.Code.toStdString();
		EXPECT_EQ(Store.RequestCount(), Count + 1);
	}
}
