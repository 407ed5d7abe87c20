#include "AwsS3Client.h"
#include "ConfigCache.h"
#include "FaultProxy.h"
#include "GameThread.h"
#include "LocalS3Server.h"
#include "S3PutObjectOrva.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <thread>

namespace
{

constexpr qint64 MiB = 1024 * 1024;
using EFault = FFaultProxy::EFault;

FAwsCredentials ToQt(const AwsSigV4::FCredentials& Keys)
{
	return {QString::fromStdString(Keys.AccessKeyId), QString::fromStdString(Keys.SecretAccessKey),
	        QString::fromStdString(Keys.SessionToken)};
}

QByteArray RandomBytes(qsizetype Size, quint32 Seed)
{
	QByteArray Bytes(Size, Qt::Uninitialized);
	QRandomGenerator Generator(Seed);
	const qsizetype Words = Size / 4;
	Generator.fillRange(reinterpret_cast<quint32*>(Bytes.data()), Words);
	for (qsizetype I = Words * 4; I < Size; ++I)
	{
		Bytes[I] = char(Generator.generate());
	}
	return Bytes;
}

// The ETag S3 gives an object put together from parts: the MD5 of the parts' MD5s, "-", the count.
QString MultipartEtag(const QByteArray& Bytes, qint64 PartSize)
{
	QByteArray Md5s;
	int Count = 0;
	for (qint64 Offset = 0; Offset < Bytes.size(); Offset += PartSize, ++Count)
	{
		Md5s += QCryptographicHash::hash(
		    QByteArrayView(Bytes.constData() + Offset, qMin(PartSize, Bytes.size() - Offset)), QCryptographicHash::Md5);
	}
	return QString::fromLatin1(QCryptographicHash::hash(Md5s, QCryptographicHash::Md5).toHex()) + QLatin1Char('-') +
	       QString::number(Count);
}

struct FPutOutcome
{
	int CompletedCount = 0;
	bool bSuccess = false;
	FPutObjectResult Result;
	ES3Errors Error = ES3Errors::None;
	QString Message;
	QList<int> Percents;
	// The action was destroyed mid-transfer by the progress handler (as a closing editor does).
	bool bKilled = false;
};

// Runs one put as the plugin does; OnProgress may act on the running action (cancel it).
FPutOutcome RunPut(const FAwsCredentials& Credentials, const FS3ClientConfiguration& Configuration,
                   const FPutObjectRequest& Request,
                   const std::function<void(US3PutObjectOrva*, int)>& OnProgress = nullptr,
                   const std::function<FAwsCredentials()>& Renew = nullptr)
{
	FPutOutcome Outcome;
	QObject Context;
	UAwsS3ClientObject* Client = UAwsS3ClientObject::CreateAwsS3ObjClient(Credentials, Configuration,
	                                                                      EAwsS3PayloadSigningPolicy::RequestDependent);
	Client->BindOnClientReady(
	    &Context,
	    [&](UAwsS3ClientObject* ReadyClient)
	    {
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
		                     [&, Put](const QString&, int Percent)
		                     {
			                     Outcome.Percents.append(Percent);
			                     if (OnProgress && !Outcome.bKilled)
			                     {
				                     OnProgress(Put, Percent);
			                     }
		                     });
		    if (Renew)
		    {
			    // As the uploader does: fresh credentials arrive later, from the service.
			    QObject::connect(Put, &US3PutObjectOrva::CredentialsExpired, &Context,
			                     [Put, Renew]
			                     { FGameThread::Post(Put, [Put, Renew] { Put->RenewCredentials(Renew()); }); });
		    }
		    QObject::connect(Put, &QObject::destroyed, &Context,
		                     [&] { Outcome.bKilled = Outcome.CompletedCount == 0; });
		    Put->Activate();
	    });
	Client->Activate();
	EXPECT_TRUE(FGameThread::RunUntil([&] { return Outcome.CompletedCount > 0 || Outcome.bKilled; }, 180000));
	Client->DestroyS3Object();
	FGameThread::RunUntilIdle(50);
	return Outcome;
}

} // namespace

class S3MultipartPutTest : public ::testing::Test
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

	// Parts of the store's minimum size, so that a few dozen MiB make many parts.
	FS3ClientConfiguration Configuration(int Port)
	{
		FS3ClientConfiguration Result;
		Result.Region = QStringLiteral("us-east-1");
		Result.Endpoint = QStringLiteral("http://127.0.0.1:%1").arg(Port);
		Result.bUsePathStyle = true;
		Result.Http = &Http;
		Result.MultipartThresholdBytes = 8 * MiB;
		Result.MultipartPartSizeBytes = AwsS3::MinPartBytes;
		Result.MaxPartsInFlight = 4;
		Result.RetryBaseDelaySeconds = 0.05;
		Result.RetryMaxDelaySeconds = 0.2;
		Result.MaxAttempts = 4;
		// A stalled part is given up after this long without progress; long enough for a loaded
		// store to answer a part it has whole.
		Result.RequestTimeoutSeconds = 10.0;
		return Result;
	}

	QString WriteFile(const QString& Name, const QByteArray& Bytes)
	{
		const QString Path = Dir.filePath(Name);
		QFile File(Path);
		EXPECT_TRUE(File.open(QIODevice::WriteOnly));
		EXPECT_EQ(File.write(Bytes), Bytes.size());
		return Path;
	}

	FPutObjectRequest RequestFor(const std::string& Key, const QString& Path)
	{
		return {QString::fromStdString(Bucket), QString::fromStdString(Key), Path, QString()};
	}

	// Multipart uploads the store still holds for Key.
	int OpenUploads(const std::string& Key)
	{
		const auto Listed = Server->Call("s3", "GET", "/" + Bucket, {{"uploads", ""}}, "", Server->AdminCredentials());
		EXPECT_EQ(Listed.Status, 200) << Listed.Body;
		int Count = 0;
		for (size_t At = Listed.Body.find("<Key>" + Key + "</Key>"); At != std::string::npos;
		     At = Listed.Body.find("<Key>" + Key + "</Key>", At + 1))
		{
			++Count;
		}
		return Count;
	}

	static inline const std::string Bucket = "orva-multipart-tests";
	static std::unique_ptr<FLocalS3Server> Server;
	static std::string Problem;
	FHttpModule Http;
	QTemporaryDir Dir;
};
std::unique_ptr<FLocalS3Server> S3MultipartPutTest::Server;
std::string S3MultipartPutTest::Problem;

// Every fault of a bad link on one transfer, each on another part's first attempt: the object
// arrives byte for byte, with the multipart ETag, and progress only rises.
TEST_F(S3MultipartPutTest, A64MiBPakArrivesByteForByteThroughEveryFault)
{
	const QByteArray Bytes = RandomBytes(64 * MiB, 25);
	const QString Path = WriteFile(QStringLiteral("World.pak"), Bytes);
	const std::string Key = "worlds/w25/faults.pak";
	const FAwsCredentials Temporary = ToQt(Server->IssueUploadCredentials(Bucket, Key));
	ASSERT_FALSE(Temporary.SessionToken.isEmpty()) << Server->GetLastProblem();

	FFaultProxy Proxy(Server->Port(),
	                  [](const FFaultProxy::FSeen& Seen)
	                  {
		                  if (Seen.PartAttempt != 1)
		                  {
			                  return EFault::None;
		                  }
		                  switch (Seen.PartNumber)
		                  {
		                  case 2:
			                  return EFault::DropMidBody;
		                  case 4:
			                  return EFault::SlowDown;
		                  case 6:
			                  return EFault::Stall;
		                  case 9:
			                  return EFault::FlipByte;
		                  default:
			                  return EFault::None;
		                  }
	                  });
	ASSERT_GT(Proxy.Port(), 0);
	// Held until the client gives up on it.
	Proxy.StallSeconds = 60.0;

	const FPutOutcome Outcome = RunPut(Temporary, Configuration(Proxy.Port()), RequestFor(Key, Path));
	ASSERT_TRUE(Outcome.bSuccess) << Outcome.Message.toStdString();
	EXPECT_EQ(Outcome.CompletedCount, 1);
	EXPECT_TRUE(Outcome.Result.bChecksumVerified);
	EXPECT_EQ(Outcome.Result.ETag, MultipartEtag(Bytes, AwsS3::MinPartBytes));
	EXPECT_EQ(Outcome.Result.BytesSent, Bytes.size());

	std::vector<EFault> Done = Proxy.FaultsDone();
	std::sort(Done.begin(), Done.end());
	EXPECT_EQ(Done, (std::vector<EFault>{EFault::DropMidBody, EFault::SlowDown, EFault::Stall, EFault::FlipByte}));

	const auto Stored = Server->GetObject(Bucket, Key);
	ASSERT_EQ(Stored.Status, 200);
	EXPECT_TRUE(Stored.Body == Bytes.toStdString());
	EXPECT_EQ(OpenUploads(Key), 0);

	ASSERT_FALSE(Outcome.Percents.isEmpty());
	EXPECT_EQ(Outcome.Percents.last(), 100);
	EXPECT_TRUE(std::is_sorted(Outcome.Percents.begin(), Outcome.Percents.end()));
	EXPECT_EQ(std::adjacent_find(Outcome.Percents.begin(), Outcome.Percents.end()), Outcome.Percents.end());
}

// Credentials that run out mid-transfer: the put asks for fresh ones and goes on with them; without
// anyone to ask, or when none come, it ends with the store's ExpiredToken.
TEST_F(S3MultipartPutTest, ExpiredCredentialsAreRenewedAndTheTransferGoesOn)
{
	const QByteArray Bytes = RandomBytes(24 * MiB + 1, 29);
	const QString Path = WriteFile(QStringLiteral("Expiring.pak"), Bytes);
	const std::string Key = "worlds/w25/expiring.pak";
	auto ExpireOnPartThree = [](const FFaultProxy::FSeen& Seen)
	{ return Seen.PartNumber == 3 && Seen.PartAttempt == 1 ? EFault::ExpiredToken : EFault::None; };
	{
		FFaultProxy Proxy(Server->Port(), ExpireOnPartThree);
		int Renewed = 0;
		const FPutOutcome Outcome = RunPut(ToQt(Server->IssueUploadCredentials(Bucket, Key)),
		                                   Configuration(Proxy.Port()), RequestFor(Key, Path), nullptr,
		                                   [&]
		                                   {
			                                   ++Renewed;
			                                   return ToQt(Server->IssueUploadCredentials(Bucket, Key));
		                                   });
		ASSERT_TRUE(Outcome.bSuccess) << Outcome.Message.toStdString();
		EXPECT_EQ(Renewed, 1);
		EXPECT_TRUE(Server->GetObject(Bucket, Key).Body == Bytes.toStdString());
	}
	{
		FFaultProxy Proxy(Server->Port(), ExpireOnPartThree);
		const FPutOutcome Outcome =
		    RunPut(ToQt(Server->IssueUploadCredentials(Bucket, Key)), Configuration(Proxy.Port()),
		           RequestFor(Key, Path), nullptr, [] { return FAwsCredentials(); });
		EXPECT_FALSE(Outcome.bSuccess);
		EXPECT_EQ(Outcome.Error, ES3Errors::ExpiredToken) << Outcome.Message.toStdString();
	}
	{
		FFaultProxy Proxy(Server->Port(), ExpireOnPartThree);
		const FPutOutcome Outcome = RunPut(ToQt(Server->IssueUploadCredentials(Bucket, Key)),
		                                   Configuration(Proxy.Port()), RequestFor(Key, Path));
		EXPECT_FALSE(Outcome.bSuccess);
		EXPECT_EQ(Outcome.Error, ES3Errors::ExpiredToken) << Outcome.Message.toStdString();
	}
	{
		// Known to be past their expiry: renewed before the parts are sent with them.
		FAwsCredentials Expiring = ToQt(Server->IssueUploadCredentials(Bucket, Key));
		Expiring.Expiration = QDateTime::currentDateTimeUtc().addSecs(-1);
		int Renewed = 0;
		const FPutOutcome Outcome = RunPut(Expiring, Configuration(Server->Port()), RequestFor(Key, Path), nullptr,
		                                   [&]
		                                   {
			                                   ++Renewed;
			                                   return ToQt(Server->IssueUploadCredentials(Bucket, Key));
		                                   });
		ASSERT_TRUE(Outcome.bSuccess) << Outcome.Message.toStdString();
		EXPECT_EQ(Renewed, 1);
	}
	EXPECT_EQ(OpenUploads(Key), 0);
}

// A part the store keeps refusing, a key the credentials may not write, a cancel mid-transfer: each
// ends with its own error, and the store holds no upload afterwards.
TEST_F(S3MultipartPutTest, RefusalsAndCancelEndTheTransferAndLeaveNoUploadBehind)
{
	const QByteArray Bytes = RandomBytes(24 * MiB + 5, 26);
	const QString Path = WriteFile(QStringLiteral("Refused.pak"), Bytes);

	{
		// Damaged on every attempt: read again once, then given up with the store's code.
		const std::string Key = "worlds/w25/damaged.pak";
		FFaultProxy Proxy(Server->Port(), [](const FFaultProxy::FSeen& Seen)
		                  { return Seen.PartNumber == 3 ? EFault::FlipByte : EFault::None; });
		const FPutOutcome Outcome = RunPut(ToQt(Server->IssueUploadCredentials(Bucket, Key)),
		                                   Configuration(Proxy.Port()), RequestFor(Key, Path));
		EXPECT_FALSE(Outcome.bSuccess);
		EXPECT_EQ(Outcome.Error, ES3Errors::BadDigest) << Outcome.Message.toStdString();
		EXPECT_TRUE(Outcome.Message.contains(QStringLiteral("BadDigest"))) << Outcome.Message.toStdString();
		int PartThreeAttempts = 0;
		for (const auto& Seen : Proxy.Requests())
		{
			PartThreeAttempts += Seen.PartNumber == 3 ? 1 : 0;
		}
		EXPECT_EQ(PartThreeAttempts, 2);
		EXPECT_EQ(OpenUploads(Key), 0);
		EXPECT_EQ(Server->HeadObject(Bucket, Key).Status, 404);
	}
	{
		// The abort itself failing at first (a part on its way may still be arriving in the store):
		// it goes again, and the parts sent do not stay stored.
		const std::string Key = "worlds/w25/abort-again.pak";
		std::atomic<int> Deletes{0};
		FFaultProxy Proxy(Server->Port(),
		                  [&](const FFaultProxy::FSeen& Seen)
		                  {
			                  if (Seen.Method == "DELETE")
			                  {
				                  return ++Deletes <= 2 ? EFault::SlowDown : EFault::None;
			                  }
			                  return Seen.PartNumber == 3 ? EFault::ExpiredToken : EFault::None;
		                  });
		const FPutOutcome Outcome = RunPut(ToQt(Server->IssueUploadCredentials(Bucket, Key)),
		                                   Configuration(Proxy.Port()), RequestFor(Key, Path));
		EXPECT_FALSE(Outcome.bSuccess);
		EXPECT_EQ(Outcome.Error, ES3Errors::ExpiredToken) << Outcome.Message.toStdString();
		EXPECT_EQ(Deletes.load(), 3);
		EXPECT_EQ(OpenUploads(Key), 0);
	}
	{
		// Credentials for another key: refused at the start, nothing sent.
		const std::string Key = "worlds/w25/not-mine.pak";
		const FPutOutcome Outcome = RunPut(ToQt(Server->IssueUploadCredentials(Bucket, "worlds/w25/mine.pak")),
		                                   Configuration(Server->Port()), RequestFor(Key, Path));
		EXPECT_FALSE(Outcome.bSuccess);
		EXPECT_EQ(Outcome.Error, ES3Errors::AccessDenied) << Outcome.Message.toStdString();
		EXPECT_EQ(OpenUploads(Key), 0);
	}
	{
		// Cancelled once the first part was acknowledged, with the next ones held up on the way.
		const std::string Key = "worlds/w25/cancelled.pak";
		FFaultProxy Proxy(Server->Port(), [](const FFaultProxy::FSeen& Seen)
		                  { return Seen.PartNumber > 1 ? EFault::Stall : EFault::None; });
		FS3ClientConfiguration Slow = Configuration(Proxy.Port());
		Slow.MaxPartsInFlight = 2;
		Slow.RequestTimeoutSeconds = 30.0;
		bool bCancelled = false;
		const FPutOutcome Outcome =
		    RunPut(ToQt(Server->IssueUploadCredentials(Bucket, Key)), Slow, RequestFor(Key, Path),
		           [&](US3PutObjectOrva* Put, int Percent)
		           {
			           if (Percent > 0 && !bCancelled)
			           {
				           bCancelled = true;
				           Put->Cancel();
			           }
		           });
		EXPECT_TRUE(bCancelled);
		EXPECT_FALSE(Outcome.bSuccess);
		EXPECT_EQ(Outcome.Error, ES3Errors::Cancelled);
		EXPECT_EQ(Outcome.CompletedCount, 1);
		EXPECT_EQ(OpenUploads(Key), 0);
		EXPECT_EQ(Server->HeadObject(Bucket, Key).Status, 404);
	}
}

// The store's own check: a part whose body does not match its Content-MD5 is not kept.
TEST_F(S3MultipartPutTest, TheLocalStoreRefusesAPartWithTheWrongDigest)
{
	const std::string Key = "worlds/w25/digest.pak";
	const auto& Admin = Server->AdminCredentials();
	const auto Created = Server->Call("s3", "POST", "/" + Bucket + "/" + Key, {{"uploads", ""}}, "", Admin);
	const std::string UploadId = FLocalS3Server::XmlText(Created.Body, "UploadId");
	ASSERT_FALSE(UploadId.empty()) << Created.Body;
	const std::string Body(AwsS3::MinPartBytes, 'x');
	const QByteArray OtherMd5 = QCryptographicHash::hash("other", QCryptographicHash::Md5).toBase64();
	const QByteArray RightMd5 =
	    QCryptographicHash::hash(QByteArray::fromStdString(Body), QCryptographicHash::Md5).toBase64();
	const AwsSigV4::FNameValueList Query{{"partNumber", "1"}, {"uploadId", UploadId}};
	const auto Wrong = Server->Call("s3", "PUT", "/" + Bucket + "/" + Key, Query, Body, Admin,
	                                {{"content-md5", OtherMd5.toStdString()}});
	EXPECT_EQ(Wrong.Status, 400);
	EXPECT_EQ(FLocalS3Server::XmlText(Wrong.Body, "Code"), "BadDigest");
	const auto Listed = Server->Call("s3", "GET", "/" + Bucket + "/" + Key, {{"uploadId", UploadId}}, "", Admin);
	EXPECT_EQ(Listed.Body.find("<Part>"), std::string::npos) << Listed.Body;
	const auto Right = Server->Call("s3", "PUT", "/" + Bucket + "/" + Key, Query, Body, Admin,
	                                {{"content-md5", RightMd5.toStdString()}});
	EXPECT_EQ(Right.Status, 200) << Right.Body;
	Server->Call("s3", "DELETE", "/" + Bucket + "/" + Key, {{"uploadId", UploadId}}, "", Admin);
}

// The editor's main thread is busy (a level loading, a dialog's own loop): the parts already on
// their way keep streaming from the file, since neither their reading nor their sending waits
// for it, and the put finishes once the main thread is back.
TEST_F(S3MultipartPutTest, PartsKeepStreamingWhileTheMainThreadIsBusy)
{
	const QByteArray Bytes = RandomBytes(4 * AwsS3::MinPartBytes, 7);
	const QString Path = WriteFile(QStringLiteral("Busy.pak"), Bytes);
	const std::string Key = "worlds/w25/busy.pak";
	const FAwsCredentials Temporary = ToQt(Server->IssueUploadCredentials(Bucket, Key));
	ASSERT_FALSE(Temporary.SessionToken.isEmpty()) << Server->GetLastProblem();
	FFaultProxy Proxy(Server->Port(), [](const FFaultProxy::FSeen&) { return EFault::None; });
	ASSERT_GT(Proxy.Port(), 0);

	// Once a second part has started, the main thread runs nothing until every part started by
	// then has reached the store (the proxy counts a part's bytes when its body is through). Fed
	// from the main thread, the newest part gets no further than its socket buffers.
	const auto PartsStarted = [&Proxy]
	{
		const auto Seen = Proxy.Requests();
		return std::count_if(Seen.begin(), Seen.end(),
		                     [](const FFaultProxy::FSeen& One) { return One.PartNumber > 0; });
	};
	long long StartedAtBusy = -1;
	long long ArrivedAfterBusy = -1;
	QTimer Watch;
	Watch.setInterval(1);
	QObject::connect(&Watch, &QTimer::timeout, &Watch,
	                 [&]
	                 {
		                 if (StartedAtBusy >= 0 || PartsStarted() < 2)
		                 {
			                 return;
		                 }
		                 StartedAtBusy = PartsStarted();
		                 QElapsedTimer Busy;
		                 Busy.start();
		                 while (Proxy.PartBodyBytes() < StartedAtBusy * AwsS3::MinPartBytes && Busy.elapsed() < 60000)
		                 {
			                 std::this_thread::sleep_for(std::chrono::milliseconds(5));
		                 }
		                 ArrivedAfterBusy = Proxy.PartBodyBytes();
	                 });
	Watch.start();

	const FPutOutcome Outcome = RunPut(Temporary, Configuration(Proxy.Port()), RequestFor(Key, Path));
	ASSERT_TRUE(Outcome.bSuccess) << Outcome.Message.toStdString();
	ASSERT_GE(StartedAtBusy, 2);
	// A part asked for just before the spell may reach the proxy during it, and stream too.
	EXPECT_GE(ArrivedAfterBusy, StartedAtBusy * AwsS3::MinPartBytes)
	    << "part bytes through by the end of the main thread's busy spell, of " << StartedAtBusy << " parts started";
	EXPECT_EQ(Outcome.Result.ETag, MultipartEtag(Bytes, AwsS3::MinPartBytes));
	const auto Stored = Server->GetObject(Bucket, Key);
	ASSERT_EQ(Stored.Status, 200);
	EXPECT_TRUE(Stored.Body == Bytes.toStdString());
}

// The editor closed mid-transfer: the next put of the same file asks the store what it holds and
// sends only the rest; a file rebuilt since, or an upload the store no longer has, starts afresh.
TEST_F(S3MultipartPutTest, AKilledUploadResumedLaterSendsOnlyTheMissingParts)
{
	const QByteArray Bytes = RandomBytes(64 * MiB, 27);
	const QString Path = WriteFile(QStringLiteral("Resumed.pak"), Bytes);
	const QString Journal = US3PutObjectOrva::JournalPathFor(Path);
	const std::string Key = "worlds/w25/resumed.pak";
	const FAwsCredentials Temporary = ToQt(Server->IssueUploadCredentials(Bucket, Key));
	FS3ClientConfiguration Config = Configuration(Server->Port());
	Config.MaxPartsInFlight = 2;

	// Destroys the action once a quarter is acknowledged, through a proxy that is gone (its
	// connections finished) before the store is asked what it holds.
	auto KillAtAQuarter = [&]
	{
		FFaultProxy Proxy(Server->Port(), nullptr);
		FS3ClientConfiguration Proxied = Config;
		Proxied.Endpoint = QStringLiteral("http://127.0.0.1:%1").arg(Proxy.Port());
		const FPutOutcome Killed = RunPut(Temporary, Proxied, RequestFor(Key, Path),
		                                  [](US3PutObjectOrva* Put, int Percent)
		                                  {
			                                  if (Percent >= 25)
			                                  {
				                                  Put->deleteLater();
			                                  }
		                                  });
		EXPECT_TRUE(Killed.bKilled);
		EXPECT_EQ(Killed.CompletedCount, 0);
	};
	// The bytes of the parts the store holds for the key's one open upload.
	auto HeldBytes = [&]
	{
		const auto Listed = Server->Call("s3", "GET", "/" + Bucket, {{"uploads", ""}}, "", Server->AdminCredentials());
		const std::string UploadId = FLocalS3Server::XmlText(Listed.Body, "UploadId");
		EXPECT_FALSE(UploadId.empty()) << Listed.Body;
		const auto Parts = Server->Call("s3", "GET", "/" + Bucket + "/" + Key, {{"uploadId", UploadId}}, "",
		                                Server->AdminCredentials());
		qint64 Held = 0;
		const std::string Tag = "<Size>";
		for (size_t At = Parts.Body.find(Tag); At != std::string::npos; At = Parts.Body.find(Tag, At + 1))
		{
			Held += std::stoll(Parts.Body.substr(At + Tag.size()));
		}
		return std::make_pair(UploadId, Held);
	};
	auto FinishThroughCountingProxy = [&](const QByteArray& Expected)
	{
		FFaultProxy Proxy(Server->Port(), nullptr);
		FS3ClientConfiguration Proxied = Config;
		Proxied.Endpoint = QStringLiteral("http://127.0.0.1:%1").arg(Proxy.Port());
		const FPutOutcome Outcome = RunPut(Temporary, Proxied, RequestFor(Key, Path));
		EXPECT_TRUE(Outcome.bSuccess) << Outcome.Message.toStdString();
		EXPECT_EQ(Outcome.Result.ETag, MultipartEtag(Expected, AwsS3::MinPartBytes));
		EXPECT_TRUE(Server->GetObject(Bucket, Key).Body == Expected.toStdString());
		EXPECT_TRUE(FGameThread::RunUntil([&] { return !QFile::exists(Journal); }, 10000));
		return Proxy.PartBodyBytes();
	};

	KillAtAQuarter();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return QFile::exists(Journal); }, 10000));
	const auto [UploadId, Held] = HeldBytes();
	EXPECT_GE(Held, Bytes.size() / 4);
	EXPECT_LT(Held, Bytes.size());
	QFile JournalFile(Journal);
	ASSERT_TRUE(JournalFile.open(QIODevice::ReadOnly));
	EXPECT_TRUE(JournalFile.readAll().contains(QByteArray::fromStdString(UploadId)));
	JournalFile.close();
	EXPECT_EQ(FinishThroughCountingProxy(Bytes), Bytes.size() - Held);
	EXPECT_EQ(OpenUploads(Key), 0);

	// Rebuilt since: the old upload is aborted and every byte goes.
	KillAtAQuarter();
	EXPECT_EQ(OpenUploads(Key), 1);
	const QByteArray Rebuilt = RandomBytes(64 * MiB - 3, 28);
	WriteFile(QStringLiteral("Resumed.pak"), Rebuilt);
	EXPECT_EQ(FinishThroughCountingProxy(Rebuilt), Rebuilt.size());
	EXPECT_TRUE(FGameThread::RunUntil([&] { return OpenUploads(Key) == 0; }, 10000));

	// Gone from the store (aborted by someone else, expired): every byte goes.
	KillAtAQuarter();
	const auto Gone = HeldBytes();
	Server->Call("s3", "DELETE", "/" + Bucket + "/" + Key, {{"uploadId", Gone.first}}, "", Server->AdminCredentials());
	EXPECT_EQ(FinishThroughCountingProxy(Rebuilt), Rebuilt.size());
	EXPECT_EQ(OpenUploads(Key), 0);
}

TEST(S3Multipart, PartSizeGrowsSoNoUploadNeedsMoreThanTenThousandParts)
{
	constexpr qint64 GiB = 1024 * MiB;
	EXPECT_EQ(AwsS3::ChoosePartSize(64 * MiB, 8 * MiB), 8 * MiB);
	// Below the store's minimum is raised to it.
	EXPECT_EQ(AwsS3::ChoosePartSize(64 * MiB, 1 * MiB), AwsS3::MinPartBytes);
	for (const qint64 Size : {80 * GiB, 100 * GiB, 400 * GiB, 5000 * GiB})
	{
		const qint64 Part = AwsS3::ChoosePartSize(Size, 8 * MiB);
		EXPECT_LE((Size + Part - 1) / Part, AwsS3::MaxParts) << Size;
		EXPECT_EQ(Part % MiB, 0) << Size;
	}
	EXPECT_EQ(AwsS3::ChoosePartSize(100 * GiB, 8 * MiB), 11 * MiB);
}

TEST(S3Multipart, SettingsComeFromTheAwsS3Section)
{
	QTemporaryDir Dir;
	const QString Ini = Dir.filePath(QStringLiteral("OrvaSDK.ini"));
	QFile File(Ini);
	ASSERT_TRUE(File.open(QIODevice::WriteOnly));
	File.write("[AwsS3]\nMultipartThresholdBytes=1048576\nMultipartPartSizeBytes=6291456\nMaxPartsInFlight=7\n");
	File.close();
	FConfigCache Config;
	const FS3ClientConfiguration Loaded = AwsS3::LoadClientConfiguration(&Config, Ini);
	EXPECT_EQ(Loaded.MultipartThresholdBytes, 1048576);
	EXPECT_EQ(Loaded.MultipartPartSizeBytes, 6291456);
	EXPECT_EQ(Loaded.MaxPartsInFlight, 7);

	const FS3ClientConfiguration Defaults =
	    AwsS3::LoadClientConfiguration(&Config, Dir.filePath(QStringLiteral("x.ini")));
	EXPECT_EQ(Defaults.MultipartThresholdBytes, 16 * MiB);
	EXPECT_EQ(Defaults.MaxPartsInFlight, 4);

	// A value that is no count keeps the default.
	const QString Bad = Dir.filePath(QStringLiteral("Bad.ini"));
	QFile BadFile(Bad);
	ASSERT_TRUE(BadFile.open(QIODevice::WriteOnly));
	BadFile.write("[AwsS3]\nMultipartThresholdBytes=lots\nMaxPartsInFlight=0\n");
	BadFile.close();
	const FS3ClientConfiguration Kept = AwsS3::LoadClientConfiguration(&Config, Bad);
	EXPECT_EQ(Kept.MultipartThresholdBytes, 16 * MiB);
	EXPECT_EQ(Kept.MaxPartsInFlight, 4);
}

TEST(S3Multipart, AParallelismBeyondAnyCountIsCappedNotWrapped)
{
	QTemporaryDir Dir;
	const QString Ini = Dir.filePath(QStringLiteral("OrvaSDK.ini"));
	QFile File(Ini);
	ASSERT_TRUE(File.open(QIODevice::WriteOnly));
	// Past the range of an int: narrowed as it was, it came out negative or as a single part.
	File.write("[AwsS3]\nMaxPartsInFlight=2147483648\nMultipartPartSizeBytes=9223372036854775807\n");
	File.close();
	FConfigCache Config;
	const FS3ClientConfiguration Loaded = AwsS3::LoadClientConfiguration(&Config, Ini);
	EXPECT_EQ(Loaded.MaxPartsInFlight, 64);
	EXPECT_EQ(Loaded.MultipartPartSizeBytes, std::numeric_limits<qint64>::max());
}
