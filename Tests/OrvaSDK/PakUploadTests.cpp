#include "SdkFixture.h"

#include "AwsS3Types.h"
#include "FaultProxy.h"
#include "LocalS3Server.h"
#include "OrvaPakUploadSubsystem.h"
#include "OrvaSDKModule.h"
#include "PakUploadTask.h"
#include "ServiceProcess.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QPointer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <algorithm>
#include <chrono>
#include <map>
#include <optional>
#include <vector>

namespace
{

constexpr qint64 MiB = 1048576;

QByteArray Patterned(qsizetype Size, int Seed = 0)
{
	QByteArray Bytes(Size, Qt::Uninitialized);
	for (qsizetype I = 0; I < Size; ++I)
	{
		Bytes[I] = char((I * 131 + I / 7 + Seed) & 0xFF);
	}
	return Bytes;
}

QByteArray Md5Etag(const QByteArray& Bytes)
{
	return '"' + QCryptographicHash::hash(Bytes, QCryptographicHash::Md5).toHex() + '"';
}

// The store's answer to part PUTs: part 2's address has expired, the others are stored.
FLoopbackHttpServer::FAnswer RefuseThePartTwo(const FLoopbackHttpServer::FRecordedRequest& Request)
{
	FLoopbackHttpServer::FAnswer Answer;
	Answer.Status = Request.Target.endsWith("/2") ? 403 : 200;
	Answer.Body = Answer.Status == 403
	                  ? QByteArray("<Error><Code>AccessDenied</Code><Message>Request has expired</Message></Error>")
	                  : QByteArray();
	Answer.Headers = {{"ETag", Md5Etag(Request.Body)}};
	return Answer;
}

} // namespace

// A host with all three subsystems whose storage endpoint is the loopback server; part addresses
// point at the same server under "/part".
class PakUploadTest : public FSdkFixture
{
protected:
	void StartPakHost(const QByteArray& Development = QByteArray(), const QString& Endpoint = QString())
	{
		const QString StorageEndpoint = Endpoint.isEmpty() ? Server.Url() : Endpoint;
		Project.WriteFile(SettingsRelative(),
		                  "[Development]\nStorageEndpoint=" + StorageEndpoint.toUtf8() + "\n" + Development);
		FEditorHostOptions Options;
		Options.ProjectFile = Project.ProjectFile();
		Options.UserSettingsDir = Project.UserSettingsDir();
		Options.ShutdownFlushMs = 2000;
		Host = std::make_unique<FEditorHost>(Options);
		auto PolicyDialogs = std::make_unique<FPolicyDialogService>();
		Dialogs = PolicyDialogs.get();
		Host->SetDialogService(std::move(PolicyDialogs));
		RegisterOrvaSDKSubsystems(*Host);
		Host->Start();
	}

	UOrvaPakUploadSubsystem& Pak() const { return *Host->GetEditorSubsystem<UOrvaPakUploadSubsystem>(); }

	QString WriteFile(const QString& Name, const QByteArray& Bytes)
	{
		EXPECT_TRUE(Project.WriteFile(QStringLiteral("TestProject/Saved/HotPatcher/") + Name, Bytes));
		return Project.ProjectDir() + QStringLiteral("Saved/HotPatcher/") + Name;
	}

	// An address answer with parts From..To of UploadId.
	QByteArray AddressAnswer(const QString& UploadId, int From, int To)
	{
		QJsonArray Urls;
		for (int Part = From; Part <= To; ++Part)
		{
			Urls.append(
			    QJsonObject{{QStringLiteral("url"), Server.Url(QStringLiteral("/part/%1/%2").arg(UploadId).arg(Part))},
			                {QStringLiteral("part_number"), Part + 0.7},
			                {QStringLiteral("upload_id"), UploadId}});
		}
		const QJsonObject Answer{{QStringLiteral("code"), 0},
		                         {QStringLiteral("msg"), QStringLiteral("ok")},
		                         {QStringLiteral("data"), QJsonObject{{QStringLiteral("urls"), Urls}}}};
		return QJsonDocument(Answer).toJson(QJsonDocument::Compact);
	}

	// Parts are answered with the MD5 of their body as ETag, completions with code 0.
	void AnswerPartsAndCompletions(int PartStatus = 200)
	{
		Server.SetHandler(
		    [PartStatus](const FLoopbackHttpServer::FRecordedRequest& Request)
		    {
			    FLoopbackHttpServer::FAnswer Answer;
			    if (Request.Target.startsWith("/part/"))
			    {
				    Answer.Status = PartStatus;
				    Answer.Body = "part-answer";
				    Answer.Headers = {{"ETag", Md5Etag(Request.Body)}};
			    }
			    else if (Request.Target == "/api/storage/complete_upload")
			    {
				    Answer.Body = R"({"code":0,"msg":"ok","data":{"key":"uploads/x"}})";
			    }
			    return Answer;
		    });
	}

	QList<FLoopbackHttpServer::FRecordedRequest> RequestsTo(const QByteArray& Prefix) const
	{
		QList<FLoopbackHttpServer::FRecordedRequest> Found;
		for (const auto& Request : Server.Requests())
		{
			if (Request.Target.startsWith(Prefix))
			{
				Found.append(Request);
			}
		}
		return Found;
	}

	bool WaitFor(const std::function<bool()>& Condition, int TimeoutMs = 10000)
	{
		return FGameThread::RunUntil(Condition, TimeoutMs);
	}

	// Whether a logged line holds Text.
	bool LogHas(const QString& Text) const
	{
		const QStringList Lines = Log.Messages();
		return std::any_of(Lines.begin(), Lines.end(), [&](const QString& Line) { return Line.contains(Text); });
	}
};

TEST_F(PakUploadTest, AddressRequestCarriesTheQueryAndTheToken)
{
	StartPakHost();
	EXPECT_EQ(Pak().GetStorageEndpoint(), Server.Url());
	const QString Path = WriteFile(QStringLiteral("Level_Client.pak"), Patterned(5 * MiB));
	Server.Enqueue(200, R"({"code":1,"msg":"no"})");
	Server.Enqueue(200, R"({"code":1,"msg":"no"})");
	Pak().TestGetUploadAddress(Path, 10);
	Pak().TestGetUploadAddress(Path, 4);
	Pak().TestGetUploadAddress(Path + QStringLiteral(".missing"), 4);
	ASSERT_TRUE(Server.WaitForRequests(2));
	Settle();
	ASSERT_EQ(Server.RequestCount(), 2);
	const auto& First = Server.Requests()[0];
	EXPECT_EQ(First.Verb, "GET");
	EXPECT_EQ(First.Target,
	          "/api/storage/presign_upload_url?name=Level_Client&file_size=5242880&multi_part=false&slice_size=10");
	EXPECT_EQ(First.Header("Content-Type"), "application/json; charset=utf-8");
	EXPECT_EQ(First.Header("Token"), UOrvaPakUploadSubsystem::DefaultStorageToken().toUtf8());
	EXPECT_EQ(First.Body, QByteArray());
	EXPECT_EQ(Server.Requests()[1].Target,
	          "/api/storage/presign_upload_url?name=Level_Client&file_size=5242880&multi_part=true&slice_size=4");
	// "code" 1: "Error", and no part is sent.
	EXPECT_EQ(Log.Count(QStringLiteral("Error")), 2);
	EXPECT_TRUE(Pak().GetAwsUploader().isEmpty());
}

TEST_F(PakUploadTest, PartsCarryTheirSliceAndTheUploadCompletesWithEveryEtag)
{
	const QByteArray Token(64, 'a');
	StartPakHost("StorageToken=" + Token + "\n");
	// 2.5 slices of 1 MiB: parts of 1 MiB, 1 MiB and the rest.
	const QByteArray Bytes = Patterned(2 * MiB + MiB / 2 + 3);
	const QString Path = WriteFile(QStringLiteral("Sliced.pak"), Bytes);
	Server.Enqueue(200, AddressAnswer(QStringLiteral("up-1"), 1, 3));
	AnswerPartsAndCompletions();
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);

	Pak().TestGetUploadAddress(Path, 1);
	ASSERT_TRUE(WaitFor([&] { return Finished.size() == 1; }));
	EXPECT_EQ(Finished[0][0].toString(), QStringLiteral("up-1"));
	EXPECT_TRUE(Finished[0][1].toBool());

	const auto Parts = RequestsTo("/part/");
	ASSERT_EQ(Parts.size(), 3);
	for (const auto& Part : Parts)
	{
		const int Number = Part.Target.mid(Part.Target.lastIndexOf('/') + 1).toInt();
		EXPECT_EQ(Part.Verb, "PUT");
		EXPECT_EQ(Part.Header("Content-Type"), "application/octet-stream");
		EXPECT_EQ(Part.Body, Bytes.mid((Number - 1) * MiB, MiB)) << "part " << Number;
		// So that a part damaged on the way is refused rather than stored.
		EXPECT_EQ(Part.Header("Content-MD5"), QCryptographicHash::hash(Part.Body, QCryptographicHash::Md5).toBase64());
	}
	const QList<FAwsUploader> Records = Pak().GetAwsUploader();
	ASSERT_EQ(Records.size(), 3);
	for (int Index = 0; Index < 3; ++Index)
	{
		EXPECT_EQ(Records[Index].Part_Number, Index + 1);
		EXPECT_EQ(Records[Index].Etag.toUtf8(), Md5Etag(Bytes.mid(Index * MiB, MiB)));
		EXPECT_TRUE(Records[Index].Headers.isEmpty());
	}

	const auto Completions = RequestsTo("/api/storage/complete_upload");
	ASSERT_EQ(Completions.size(), 1);
	EXPECT_EQ(Completions[0].Header("Token"), Token);
	const QJsonObject Body = QJsonDocument::fromJson(Completions[0].Body).object();
	EXPECT_EQ(Body.value(QStringLiteral("upload_id")).toString(), QStringLiteral("up-1"));
	const QJsonArray Sent = Body.value(QStringLiteral("parts")).toArray();
	ASSERT_EQ(Sent.size(), 3);
	for (int Index = 0; Index < 3; ++Index)
	{
		EXPECT_EQ(Sent[Index].toObject().value(QStringLiteral("part_number")).toInt(), Index + 1);
		EXPECT_EQ(Sent[Index].toObject().value(QStringLiteral("etag")).toString(), Records[Index].Etag);
	}
	EXPECT_TRUE(Log.Contains(QStringLiteral("part-answer")));
	// Each part's DoWork ran on a pool thread and said so.
	int DoWorkLines = 0;
	for (const QString& Line : Log.Messages(ELogVerbosity::Display))
	{
		DoWorkLines += QRegularExpression(QStringLiteral("^PoolThread \\d+\\[\\d+\\] - FPakUploadTask::DoWork$"))
		                   .match(Line)
		                   .hasMatch();
	}
	EXPECT_EQ(DoWorkLines, 3);
}

TEST_F(PakUploadTest, LaterAnswersAppendAndEveryHeldRecordIsSentAgain)
{
	StartPakHost();
	const QString First = WriteFile(QStringLiteral("First.pak"), Patterned(2 * MiB, 1));
	const QString Second = WriteFile(QStringLiteral("Second.pak"), Patterned(MiB / 2, 2));
	AnswerPartsAndCompletions();
	Server.Enqueue(200, AddressAnswer(QStringLiteral("up-a"), 1, 2));
	Pak().TestGetUploadAddress(First, 1);
	ASSERT_TRUE(WaitFor([&] { return RequestsTo("/api/storage/complete_upload").size() == 1; }));

	Server.Enqueue(200, AddressAnswer(QStringLiteral("up-b"), 1, 1));
	Pak().TestGetUploadAddress(Second, 1);
	ASSERT_TRUE(WaitFor([&] { return RequestsTo("/part/").size() == 5; }));
	Settle();
	const QList<FAwsUploader> Records = Pak().GetAwsUploader();
	ASSERT_EQ(Records.size(), 3);
	EXPECT_EQ(Records[2].Upload_Id, QStringLiteral("up-b"));
	// up-b's only part is the second file's bytes, not the first's.
	for (const auto& Part : RequestsTo("/part/up-b/"))
	{
		EXPECT_EQ(Part.Body, Patterned(MiB / 2, 2));
	}
	// Each upload is completed once, however often its parts are sent.
	EXPECT_EQ(RequestsTo("/api/storage/complete_upload").size(), 2);

	// An answer that is not JSON: logged, and the held records are sent once more.
	Server.Enqueue(200, "<html>gateway</html>");
	Pak().TestGetUploadAddress(First, 1);
	ASSERT_TRUE(WaitFor([&] { return RequestsTo("/part/").size() == 8; }));
	Settle();
	EXPECT_TRUE(Log.Contains(QStringLiteral("JsonReader Error")));
	EXPECT_EQ(Pak().GetAwsUploader().size(), 3);
}

TEST_F(PakUploadTest, ABusyStoreIsAskedAgainAndARefusalEndsTheUpload)
{
	StartPakHost();
	const QByteArray Bytes = Patterned(MiB + 10);
	const QString Path = WriteFile(QStringLiteral("Busy.pak"), Bytes);
	QSignalSpy PartsDone(&Pak(), &UOrvaPakUploadSubsystem::OnPakPartUploaded);
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);

	// Each part is turned away once (503 SlowDown, a broken connection), then taken.
	std::atomic<int> PartRequests{0};
	Server.SetHandler(
	    [&PartRequests](const FLoopbackHttpServer::FRecordedRequest& Request)
	    {
		    FLoopbackHttpServer::FAnswer Answer;
		    if (Request.Target == "/api/storage/complete_upload")
		    {
			    Answer.Body = R"({"code":0,"msg":"ok","data":{"key":"uploads/x"}})";
			    return Answer;
		    }
		    const int Seen = ++PartRequests;
		    if (Seen == 1)
		    {
			    Answer.Status = 503;
			    Answer.Body = "<Error><Code>SlowDown</Code><Message>Please reduce your request rate.</Message></Error>";
			    return Answer;
		    }
		    Answer.bCloseWithoutAnswer = Seen == 2;
		    Answer.Headers = {{"ETag", Md5Etag(Request.Body)}};
		    return Answer;
	    });
	Server.Enqueue(200, AddressAnswer(QStringLiteral("up-busy"), 1, 2));
	Pak().TestGetUploadAddress(Path, 1);
	ASSERT_TRUE(WaitFor([&] { return Finished.size() == 1; }, 20000));
	EXPECT_TRUE(Finished[0][1].toBool()) << Pak().GetUploadProblem(QStringLiteral("up-busy")).toStdString();
	EXPECT_EQ(RequestsTo("/part/").size(), 4);
	ASSERT_EQ(PartsDone.size(), 2);
	EXPECT_TRUE(PartsDone[0][2].toBool());
	EXPECT_TRUE(PartsDone[1][2].toBool());
	EXPECT_EQ(RequestsTo("/api/storage/complete_upload").size(), 1);
	EXPECT_TRUE(LogHas(QStringLiteral("; attempt 2 of 4 in ")));
}

// A refusal is not tried again: the upload ends at once, with the store's code, uncompleted.
TEST_F(PakUploadTest, ARefusedPartIsNotSentAgainAndEndsTheUploadWithTheStoresCode)
{
	StartPakHost();
	const QByteArray Bytes = Patterned(MiB + 10);
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);
	Server.SetHandler(RefuseThePartTwo);
	Server.Enqueue(200, AddressAnswer(QStringLiteral("up-refused"), 1, 2));
	const QString Other = WriteFile(QStringLiteral("Refused.pak"), Bytes);
	Pak().TestGetUploadAddress(Other, 1);
	ASSERT_TRUE(WaitFor([&] { return Finished.size() >= 1 && RequestsTo("/part/up-refused/").size() == 2; }));
	Settle();
	ASSERT_EQ(Finished.size(), 1);
	EXPECT_EQ(Finished[0][0].toString(), QStringLiteral("up-refused"));
	EXPECT_FALSE(Finished[0][1].toBool());
	EXPECT_EQ(RequestsTo("/part/up-refused/2").size(), 1);
	EXPECT_TRUE(RequestsTo("/api/storage/complete_upload").isEmpty());
	EXPECT_TRUE(Pak().GetUploadProblem(QStringLiteral("up-refused")).contains(QStringLiteral("AccessDenied")));
}

TEST_F(PakUploadTest, APartFailingEveryAttemptEndsTheUploadAndTheEditorMayCloseMeanwhile)
{
	StartPakHost();
	const QString Path = WriteFile(QStringLiteral("Failing.pak"), Patterned(MiB + 10));
	Server.Enqueue(200, AddressAnswer(QStringLiteral("up-f"), 1, 2));
	// Part 1 always meets a failing store; part 2 is taken.
	Server.SetHandler(
	    [](const FLoopbackHttpServer::FRecordedRequest& Request)
	    {
		    FLoopbackHttpServer::FAnswer Answer;
		    Answer.Status = Request.Target.endsWith("/1") ? 500 : 200;
		    Answer.Headers = {{"ETag", Md5Etag(Request.Body)}};
		    return Answer;
	    });
	QSignalSpy PartsDone(&Pak(), &UOrvaPakUploadSubsystem::OnPakPartUploaded);
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);
	Pak().TestGetUploadAddress(Path, 1);
	ASSERT_TRUE(WaitFor([&] { return PartsDone.size() == 2; }, 30000));
	Settle();
	// Part 1 was tried as often as the store's own puts try, then the upload ended, once.
	EXPECT_EQ(RequestsTo("/part/up-f/1").size(), FS3ClientConfiguration().MaxAttempts);
	EXPECT_EQ(RequestsTo("/part/up-f/2").size(), 1);
	ASSERT_EQ(Finished.size(), 1);
	EXPECT_FALSE(Finished[0][1].toBool());
	EXPECT_TRUE(Pak().GetUploadProblem(QStringLiteral("up-f")).contains(QStringLiteral("after 4 attempts")));
	EXPECT_TRUE(RequestsTo("/api/storage/complete_upload").isEmpty());

	// A part whose connection breaks, and a part still under way when the editor closes: the
	// answers (or their absence) are handled without touching what is gone.
	Server.SetHandler(
	    [](const FLoopbackHttpServer::FRecordedRequest& Request)
	    {
		    FLoopbackHttpServer::FAnswer Answer;
		    Answer.bDrop = Request.Target.endsWith("/1");
		    Answer.DelayMs = Request.Target.endsWith("/2") ? 1500 : 0;
		    Answer.Body = "late";
		    return Answer;
	    });
	QMetaObject::invokeMethod(&Pak(), "TestAwsUpload");
	ASSERT_TRUE(WaitFor([&] { return RequestsTo("/part/up-f/1").size() >= FS3ClientConfiguration().MaxAttempts + 2; }));
	Host->Shutdown();
	Host.reset();
	FGameThread::RunUntilIdle(200);
}

namespace
{
// How one part's job ended, read at its end (the job releases itself after it).
struct FPartJobEnd
{
	qint32 PartNumber = 0;
	int Finished = 0;
	EEditorJobState State = EEditorJobState::Waiting;
	QString Cause;
	QPointer<UPakPartJob> Job;
};

// Records every part job the subsystem starts from now on, by part number.
std::shared_ptr<QMap<qint32, FPartJobEnd>> RecordPartJobs(UOrvaPakUploadSubsystem& Subsystem, QObject* Context)
{
	auto Ends = std::make_shared<QMap<qint32, FPartJobEnd>>();
	QObject::connect(&Subsystem, &UOrvaPakUploadSubsystem::OnPakPartJobStarted, Context,
	                 [Ends, Context](UEditorJob* Started)
	                 {
		                 auto* Part = qobject_cast<UPakPartJob*>(Started);
		                 ASSERT_TRUE(Part);
		                 FPartJobEnd& End = (*Ends)[Part->GetPartNumber()];
		                 End.PartNumber = Part->GetPartNumber();
		                 End.Job = Part;
		                 EXPECT_EQ(Part->GetState(), EEditorJobState::Running);
		                 QObject::connect(Part, &UEditorJob::Finished, Context,
		                                  [Ends, Number = Part->GetPartNumber()](UEditorJob* Ended)
		                                  {
			                                  FPartJobEnd& Of = (*Ends)[Number];
			                                  ++Of.Finished;
			                                  Of.State = Ended->GetState();
			                                  Of.Cause = Ended->GetErrorText();
		                                  });
	                 });
	return Ends;
}
} // namespace

// A part cancelled while its PUT is under way: its job ends once as cancelled, the part is not
// sent again, and the upload ends once, uncompleted.
TEST_F(PakUploadTest, APartCancelledUnderWayEndsItsJobOnceAsCancelledAndTheUploadUncompleted)
{
	StartPakHost();
	QObject Context;
	const auto Ends = RecordPartJobs(Pak(), &Context);
	QSignalSpy PartsDone(&Pak(), &UOrvaPakUploadSubsystem::OnPakPartUploaded);
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);
	Server.SetHandler(
	    [](const FLoopbackHttpServer::FRecordedRequest& Request)
	    {
		    FLoopbackHttpServer::FAnswer Answer;
		    // Part 1 hangs until long after the cancel.
		    Answer.DelayMs = Request.Target.endsWith("/1") ? 20000 : 0;
		    Answer.Headers = {{"ETag", Md5Etag(Request.Body)}};
		    return Answer;
	    });
	Server.Enqueue(200, AddressAnswer(QStringLiteral("up-c"), 1, 2));
	Pak().TestGetUploadAddress(WriteFile(QStringLiteral("Cancelled.pak"), Patterned(MiB + 10)), 1);
	ASSERT_TRUE(WaitFor([&] { return RequestsTo("/part/up-c/1").size() == 1 && Ends->contains(1); }));
	QPointer<UPakPartJob> First = Ends->value(1).Job;
	ASSERT_TRUE(First);
	EXPECT_TRUE(First->IsCancellable());
	EXPECT_TRUE(First->Cancel());
	EXPECT_FALSE(First->Cancel()) << "a second cancel asks nothing more";
	ASSERT_TRUE(WaitFor([&] { return Ends->value(1).Finished > 0 && Ends->value(2).Finished > 0; }));
	Settle();
	EXPECT_EQ(Ends->value(1).Finished, 1);
	EXPECT_EQ(Ends->value(1).State, EEditorJobState::Cancelled);
	EXPECT_EQ(Ends->value(2).State, EEditorJobState::Succeeded);
	EXPECT_EQ(RequestsTo("/part/up-c/1").size(), 1);
	ASSERT_EQ(Finished.size(), 1);
	EXPECT_FALSE(Finished[0][1].toBool());
	ASSERT_EQ(PartsDone.size(), 2);
	EXPECT_TRUE(RequestsTo("/api/storage/complete_upload").isEmpty());
	EXPECT_TRUE(Pak().GetUploadProblem(QStringLiteral("up-c")).contains(QStringLiteral("cancelled")));
}

// A part the store refuses: its job fails with the store's code as its cause; the other succeeds.
TEST_F(PakUploadTest, ARefusedPartsJobCarriesTheStoresCode)
{
	StartPakHost();
	QObject Context;
	const auto Ends = RecordPartJobs(Pak(), &Context);
	Server.SetHandler(RefuseThePartTwo);
	Server.Enqueue(200, AddressAnswer(QStringLiteral("up-r"), 1, 2));
	Pak().TestGetUploadAddress(WriteFile(QStringLiteral("RefusedJob.pak"), Patterned(MiB + 10)), 1);
	ASSERT_TRUE(WaitFor([&] { return Ends->value(1).Finished > 0 && Ends->value(2).Finished > 0; }));
	Settle();
	EXPECT_EQ(Ends->value(1).State, EEditorJobState::Succeeded);
	EXPECT_EQ(Ends->value(1).Finished, 1);
	EXPECT_EQ(Ends->value(2).State, EEditorJobState::Failed);
	EXPECT_EQ(Ends->value(2).Finished, 1);
	EXPECT_TRUE(Ends->value(2).Cause.contains(QStringLiteral("AccessDenied"))) << Ends->value(2).Cause.toStdString();
}

TEST_F(PakUploadTest, TheDialogOffersEveryFileAndACancelGivesNothing)
{
	StartPakHost();
	QString Chosen = QStringLiteral("unset");
	ASSERT_TRUE(QMetaObject::invokeMethod(&Pak(), "TestChoseFile", Q_RETURN_ARG(QString, Chosen)));
	EXPECT_TRUE(Chosen.isEmpty());
	Dialogs->QueueFileChoice({QStringLiteral("/tmp/a.pak"), QStringLiteral("/tmp/b.pak")});
	ASSERT_TRUE(QMetaObject::invokeMethod(&Pak(), "TestChoseFile", Q_RETURN_ARG(QString, Chosen)));
	EXPECT_EQ(Chosen, QStringLiteral("/tmp/a.pak"));
}

TEST_F(PakUploadTest, UnusableSettingsFallBackToTheDefaults)
{
	Project.WriteFile(SettingsRelative(), "[Development]\nStorageEndpoint=ftp://x\nStorageToken=secret-guess\n");
	FEditorHostOptions Options;
	Options.ProjectFile = Project.ProjectFile();
	Options.UserSettingsDir = Project.UserSettingsDir();
	Host = std::make_unique<FEditorHost>(Options);
	RegisterOrvaSDKSubsystems(*Host);
	Host->Start();
	EXPECT_EQ(Pak().GetStorageEndpoint(), UOrvaPakUploadSubsystem::DefaultStorageEndpoint());
	EXPECT_FALSE(Log.Contains(QStringLiteral("secret-guess")));
	for (const QString& Line : Log.Messages())
	{
		EXPECT_FALSE(Line.contains(QStringLiteral("secret-guess")));
	}
}

// The whole path: OrvaDevService's storage endpoint over the local S3 store, which checks every
// signature. The part addresses point at the endpoint, which checks their query signatures itself
// and passes each part on to the store.
class PakUploadEndToEndTest : public PakUploadTest
{
protected:
	void SetUp() override
	{
		if (!FLocalS3Server::IsAvailable())
		{
			GTEST_SKIP() << "moto_server is not installed";
		}
		const std::string Problem = Store.Start();
		ASSERT_TRUE(Problem.empty()) << Problem;
		ASSERT_TRUE(Store.CreateBucket(Bucket));
		ASSERT_TRUE(Data.isValid());
		// The parts go to the service's own storage endpoint, which passes them on to the store.
		Service.emplace(ORVA_DEVSERVICE_PATH, Data.path().toStdString() + "/data",
		                std::vector<std::string>{"--storage-endpoint", Store.Endpoint(), "--storage-bucket", Bucket,
		                                         "--storage-access-key-id", Store.AdminCredentials().AccessKeyId,
		                                         "--storage-secret-access-key",
		                                         Store.AdminCredentials().SecretAccessKey, "--storage-endpoint-port",
		                                         "0"});
		ASSERT_EQ(Service->Start(), "");
		const QRegularExpressionMatch Match =
		    QRegularExpression(QStringLiteral("storage endpoint on (http://127\\.0\\.0\\.1:\\d+)/api/storage/"))
		        .match(QString::fromStdString(Service->WaitForLine("storage endpoint on")));
		ASSERT_TRUE(Match.hasMatch()) << Service->StdoutText() << Service->StderrText();
		StorageUrl = Match.captured(1);
	}

	int EndpointPort() const { return QUrl(StorageUrl).port(); }

	// Everything the service wrote, so far.
	QByteArray ServiceLog() const
	{
		return Service ? QByteArray::fromStdString(Service->StdoutText() + Service->StderrText()) : QByteArray();
	}

	struct FFetched
	{
		int Status = 0;
		QByteArray Body;
	};
	FFetched Fetch(const QString& Verb, const QString& Url, const QByteArray& Body = QByteArray(),
	               const QList<QPair<QString, QString>>& Headers = {})
	{
		FHttpRequestPtr Request = Host->Http().CreateRequest();
		Request->SetVerb(Verb);
		Request->SetURL(Url);
		for (const auto& [Name, Value] : Headers)
		{
			Request->SetHeader(Name, Value);
		}
		if (!Body.isEmpty())
		{
			Request->SetContent(Body);
		}
		FFetched Out;
		bool bDone = false;
		Request->OnProcessRequestComplete(Host.get(),
		                                  [&](FHttpRequestPtr, FHttpResponsePtr Response, bool)
		                                  {
			                                  Out.Status = Response ? Response->GetResponseCode() : -1;
			                                  Out.Body = Response ? Response->GetContent() : QByteArray();
			                                  bDone = true;
		                                  });
		Request->ProcessRequest();
		EXPECT_TRUE(WaitFor([&] { return bDone; }, 30000));
		return Out;
	}

	// Starts an upload on the endpoint directly; its answer's "data".
	QJsonObject StartUpload(const QString& Name, qint64 Size, int SliceMiB)
	{
		const FFetched Answer = Fetch(
		    QStringLiteral("GET"),
		    StorageUrl + QStringLiteral("/api/storage/presign_upload_url?name=%1&file_size=%2&multi_part=%3&"
		                                "slice_size=%4")
		                     .arg(Name)
		                     .arg(Size)
		                     .arg(qint64(SliceMiB) * MiB < Size ? QStringLiteral("true") : QStringLiteral("false"))
		                     .arg(SliceMiB),
		    {}, {{QStringLiteral("Token"), UOrvaPakUploadSubsystem::DefaultStorageToken()}});
		EXPECT_EQ(Answer.Status, 200) << Answer.Body.constData();
		return QJsonDocument::fromJson(Answer.Body).object().value(QStringLiteral("data")).toObject();
	}

	// Url signed anew with the service's key at Timestamp, for Expires seconds, in Region: a
	// signature whose arithmetic is right, so only its time or scope can make it wrong.
	QString Resigned(const QString& Url, const std::string& Timestamp, int Expires,
	                 const std::string& Region = FLocalS3Server::Region) const
	{
		const QUrl Parsed(Url);
		const QUrlQuery Query(Parsed);
		AwsSigV4::FRequest Request;
		Request.Method = "PUT";
		Request.Path = Parsed.path(QUrl::FullyDecoded).toStdString();
		Request.Query = {
		    {"partNumber", Query.queryItemValue(QStringLiteral("partNumber"), QUrl::FullyDecoded).toStdString()},
		    {"uploadId", Query.queryItemValue(QStringLiteral("uploadId"), QUrl::FullyDecoded).toStdString()}};
		const std::string HostPort = QStringLiteral("%1:%2").arg(Parsed.host()).arg(Parsed.port()).toStdString();
		Request.Headers = {{"host", HostPort}};
		AwsSigV4::Presign(Request, Store.AdminCredentials(), {Region, "s3"}, Timestamp, Expires);
		return QString::fromStdString("http://" + HostPort + AwsSigV4::UriEncode(Request.Path, true) + "?" +
		                              AwsSigV4::EncodeQuery(Request.Query));
	}

	// The parts the store holds of an upload.
	int StoredParts(const QString& Key, const QString& UploadId) const
	{
		return int(StoredPartNumbers(Key, UploadId).size());
	}

	std::vector<int> StoredPartNumbers(const QString& Key, const QString& UploadId) const
	{
		const FLocalS3Server::FResponse Listed =
		    Store.Call("s3", "GET", "/" + Bucket + "/" + Key.toStdString(), {{"uploadId", UploadId.toStdString()}}, "",
		               Store.AdminCredentials());
		EXPECT_EQ(Listed.Status, 200) << Listed.Body;
		std::vector<int> Numbers;
		const std::string Open = "<PartNumber>";
		for (size_t At = Listed.Body.find(Open); At != std::string::npos; At = Listed.Body.find(Open, At + 1))
		{
			Numbers.push_back(std::stoi(Listed.Body.substr(At + Open.size(), 8)));
		}
		return Numbers;
	}

	// Waits for the upload's end; whether it succeeded.
	bool WaitForUpload(QSignalSpy& Finished, int TimeoutMs = 120000)
	{
		EXPECT_TRUE(WaitFor([&] { return !Finished.isEmpty(); }, TimeoutMs));
		Settle();
		return !Finished.isEmpty() && Finished[0][1].toBool();
	}

	void ExpectStored(const QString& Key, const QByteArray& Bytes) const
	{
		const FLocalS3Server::FResponse Stored = Store.GetObject(Bucket, Key.toStdString());
		ASSERT_EQ(Stored.Status, 200);
		EXPECT_EQ(QCryptographicHash::hash(QByteArray::fromStdString(Stored.Body), QCryptographicHash::Sha256).toHex(),
		          QCryptographicHash::hash(Bytes, QCryptographicHash::Sha256).toHex());
	}

	void TearDown() override
	{
		PakUploadTest::TearDown();
		if (Service)
		{
			Service->Stop(SIGTERM);
		}
	}

	const std::string Bucket = "orva-presigned-tests";
	FLocalS3Server Store;
	QTemporaryDir Data;
	std::optional<FDevServiceProcess> Service;
	QString StorageUrl;
};

TEST_F(PakUploadEndToEndTest, TwentyFiveMibInFiveMibSlicesArriveByteForByte)
{
	StartPakHost(QByteArray(), StorageUrl);
	const QByteArray Bytes = Patterned(25 * MiB, 9);
	const QString Path = WriteFile(QStringLiteral("World_Client.pak"), Bytes);
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);
	QSignalSpy PartsDone(&Pak(), &UOrvaPakUploadSubsystem::OnPakPartUploaded);
	Pak().TestGetUploadAddress(Path, 5);
	const auto AnyPartFailed = [&]
	{
		for (const QList<QVariant>& Part : PartsDone)
		{
			if (!Part[2].toBool())
			{
				return true;
			}
		}
		return false;
	};
	ASSERT_TRUE(WaitFor([&] { return Finished.size() == 1 || AnyPartFailed(); }, 120000));
	FGameThread::RunUntilIdle(AnyPartFailed() ? 1500 : 0);
	ASSERT_FALSE(AnyPartFailed()) << Store.LogText().substr(
	    Store.LogText().size() > 20000 ? Store.LogText().size() - 20000 : 0);
	ASSERT_TRUE(Finished[0][1].toBool()) << Service->StderrText();

	const QList<FAwsUploader> Records = Pak().GetAwsUploader();
	ASSERT_EQ(Records.size(), 5);
	for (int Index = 0; Index < Records.size(); ++Index)
	{
		EXPECT_EQ(Records[Index].Part_Number, Index + 1);
		EXPECT_EQ(Records[Index].Etag.toUtf8(), Md5Etag(Bytes.mid(Index * 5 * MiB, 5 * MiB)));
	}
	ExpectStored(QStringLiteral("uploads/World_Client"), Bytes);

	// The part addresses are credentials: neither the editor nor the service writes one down.
	const QByteArray Written = ServiceLog();
	for (const FAwsUploader& Record : Records)
	{
		const QString Signature =
		    QUrlQuery(QUrl(Record.Url)).queryItemValue(QStringLiteral("X-Amz-Signature"), QUrl::FullyDecoded);
		ASSERT_EQ(Signature.size(), 64);
		EXPECT_FALSE(Written.contains(Signature.toLatin1()));
		for (const QString& Line : Log.Messages())
		{
			EXPECT_FALSE(Line.contains(Signature));
		}
	}
	EXPECT_FALSE(Written.contains("X-Amz-"));
}

TEST_F(PakUploadEndToEndTest, TheEndpointRefusesWrongTokensAndUnsafeNames)
{
	StartPakHost("StorageToken=" + QByteArray(64, 'b') + "\n", StorageUrl);
	const QString Path = WriteFile(QStringLiteral("Refused.pak"), Patterned(1000));
	Pak().TestGetUploadAddress(Path, 5);
	ASSERT_TRUE(WaitFor([&] { return Log.Contains(QStringLiteral("Error")); }));
	EXPECT_TRUE(Pak().GetAwsUploader().isEmpty());
	EXPECT_FALSE(QString::fromStdString(Service->StderrText()).contains(QString(64, QLatin1Char('b'))));

	// A name that would reach into the query, with the right token.
	FHttpRequestPtr Request = Host->Http().CreateRequest();
	Request->SetURL(
	    StorageUrl +
	    QStringLiteral("/api/storage/presign_upload_url?name=a%26b&file_size=1&multi_part=false&slice_size=5"));
	Request->SetHeader(QStringLiteral("Token"), UOrvaPakUploadSubsystem::DefaultStorageToken());
	int Status = 0;
	QByteArray Body;
	Request->OnProcessRequestComplete(Host.get(),
	                                  [&](FHttpRequestPtr, FHttpResponsePtr Response, bool)
	                                  {
		                                  Status = Response ? Response->GetResponseCode() : -1;
		                                  Body = Response ? Response->GetContent() : QByteArray();
	                                  });
	Request->ProcessRequest();
	ASSERT_TRUE(WaitFor([&] { return Status != 0; }));
	EXPECT_EQ(Status, 400);
	EXPECT_EQ(QJsonDocument::fromJson(Body).object().value(QStringLiteral("code")).toInt(), 400);
}

TEST_F(PakUploadEndToEndTest, ABusyAnswerOrADroppedPartIsSentAgainAndThePakStillArrivesWhole)
{
	// In front of the endpoint: part 2's first attempt is answered 503 SlowDown, part 3's first
	// attempt loses its connection halfway through the body.
	FFaultProxy Proxy(EndpointPort(),
	                  [](const FFaultProxy::FSeen& Seen)
	                  {
		                  if (Seen.PartAttempt != 1)
		                  {
			                  return FFaultProxy::EFault::None;
		                  }
		                  return Seen.PartNumber == 2   ? FFaultProxy::EFault::SlowDown
		                         : Seen.PartNumber == 3 ? FFaultProxy::EFault::DropMidBody
		                                                : FFaultProxy::EFault::None;
	                  });
	ASSERT_GT(Proxy.Port(), 0);
	StartPakHost(QByteArray(), QStringLiteral("http://127.0.0.1:%1").arg(Proxy.Port()));
	const QByteArray Bytes = Patterned(15 * MiB + 123, 4);
	const QString Path = WriteFile(QStringLiteral("Retried_Client.pak"), Bytes);
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);
	Pak().TestGetUploadAddress(Path, 5);
	ASSERT_TRUE(WaitForUpload(Finished))
	    << Pak().GetUploadProblem(Pak().GetAwsUploader().value(0).Upload_Id).toStdString() << ServiceLog().constData();

	std::vector<FFaultProxy::EFault> Faults = Proxy.FaultsDone();
	std::sort(Faults.begin(), Faults.end());
	EXPECT_EQ(Faults, (std::vector{FFaultProxy::EFault::DropMidBody, FFaultProxy::EFault::SlowDown}));
	std::map<int, int> Attempts;
	for (const FFaultProxy::FSeen& Seen : Proxy.Requests())
	{
		Attempts[Seen.PartNumber] = std::max(Attempts[Seen.PartNumber], Seen.PartAttempt);
	}
	EXPECT_EQ(Attempts[1], 1);
	EXPECT_EQ(Attempts[2], 2);
	EXPECT_EQ(Attempts[3], 2);
	EXPECT_EQ(Attempts[4], 1);
	ExpectStored(QStringLiteral("uploads/Retried_Client"), Bytes);
	// Failed attempts are logged without their address's query, on both sides.
	EXPECT_TRUE(LogHas(QStringLiteral("; attempt 2 of 4 in ")));
	EXPECT_FALSE(LogHas(QStringLiteral("X-Amz-")));
	EXPECT_FALSE(ServiceLog().contains("X-Amz-"));
}

TEST_F(PakUploadEndToEndTest, TamperedExpiredMisscopedOrReusedAddressesAreRefusedAndTheUploadFails)
{
	// The address answers come from the loopback server, carrying addresses the endpoint really
	// issued, changed as a thief or a stale cache would change them.
	StartPakHost();
	const QByteArray Bytes = Patterned(6 * MiB, 6);
	const QString Path = WriteFile(QStringLiteral("Stolen.pak"), Bytes);
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);

	const std::string LongAgo = AwsSigV4::FormatTimestamp(std::chrono::system_clock::now() - std::chrono::hours(2));
	const std::string Now = AwsSigV4::FormatTimestamp(std::chrono::system_clock::now());
	struct FCase
	{
		const char* Name;
		std::function<QString(const QJsonObject& Data)> Address;
		int PartNumber;
		const char* Code;
	};
	const auto PartUrl = [](const QJsonObject& Data, int Index) {
		return Data.value(QStringLiteral("urls"))
		    .toArray()
		    .at(Index)
		    .toObject()
		    .value(QStringLiteral("url"))
		    .toString();
	};
	const std::vector<FCase> Cases = {
	    {"tampered signature",
	     [&](const QJsonObject& Data)
	     {
		     QString Url = PartUrl(Data, 0);
		     const qsizetype At = Url.indexOf(QStringLiteral("X-Amz-Signature=")) + 16;
		     Url[At] = Url[At] == QLatin1Char('0') ? QLatin1Char('1') : QLatin1Char('0');
		     return Url;
	     },
	     1, "SignatureDoesNotMatch"},
	    {"expired", [&](const QJsonObject& Data) { return Resigned(PartUrl(Data, 0), LongAgo, 60); }, 1,
	     "AccessDenied"},
	    {"another region", [&](const QJsonObject& Data) { return Resigned(PartUrl(Data, 0), Now, 600, "eu-west-1"); },
	     1, "SignatureDoesNotMatch"},
	    {"part 1's address for part 2",
	     [&](const QJsonObject& Data)
	     { return PartUrl(Data, 0).replace(QStringLiteral("partNumber=1&"), QStringLiteral("partNumber=2&")); },
	     2, "SignatureDoesNotMatch"},
	};
	for (const FCase& Case : Cases)
	{
		SCOPED_TRACE(Case.Name);
		const QJsonObject Data = StartUpload(QStringLiteral("Stolen"), Bytes.size(), 5);
		const QString UploadId = Data.value(QStringLiteral("upload_id")).toString();
		ASSERT_FALSE(UploadId.isEmpty());
		const QString Address = Case.Address(Data);
		ASSERT_NE(Address, PartUrl(Data, Case.PartNumber - 1));
		const QJsonObject Answer{{QStringLiteral("code"), 0},
		                         {QStringLiteral("msg"), QStringLiteral("ok")},
		                         {QStringLiteral("data"),
		                          QJsonObject{{QStringLiteral("urls"),
		                                       QJsonArray{QJsonObject{{QStringLiteral("url"), Address},
		                                                              {QStringLiteral("part_number"), Case.PartNumber},
		                                                              {QStringLiteral("upload_id"), UploadId}}}}}}};
		Server.Enqueue(200, QJsonDocument(Answer).toJson(QJsonDocument::Compact));
		// Every held address goes again with each answer, those of the earlier cases too: only this
		// case's upload is looked at.
		Finished.clear();
		Pak().TestGetUploadAddress(Path, 5);
		const auto Ends = [&]
		{
			QList<bool> Found;
			for (const QList<QVariant>& End : Finished)
			{
				if (End[0].toString() == UploadId)
				{
					Found.append(End[1].toBool());
				}
			}
			return Found;
		};
		ASSERT_TRUE(WaitFor([&] { return !Ends().isEmpty(); }, 30000));
		Settle();
		EXPECT_EQ(Ends(), QList<bool>{false});
		const QString Problem = Pak().GetUploadProblem(UploadId);
		EXPECT_TRUE(Problem.contains(QStringLiteral("(HTTP 403)"))) << Problem.toStdString();
		EXPECT_TRUE(Problem.contains(QString::fromLatin1(Case.Code))) << Problem.toStdString();
		EXPECT_EQ(StoredParts(QStringLiteral("uploads/Stolen"), UploadId), 0);
		// The refusal is final: the part went once.
		EXPECT_TRUE(RequestsTo("/api/storage/complete_upload").isEmpty());
	}
}

TEST_F(PakUploadEndToEndTest, APartDamagedOnTheWayIsRefusedAsBadDigestAndNotReportedAsSuccess)
{
	FFaultProxy Proxy(EndpointPort(), [](const FFaultProxy::FSeen& Seen)
	                  { return Seen.PartNumber == 2 ? FFaultProxy::EFault::FlipByte : FFaultProxy::EFault::None; });
	ASSERT_GT(Proxy.Port(), 0);
	StartPakHost(QByteArray(), QStringLiteral("http://127.0.0.1:%1").arg(Proxy.Port()));
	const QByteArray Bytes = Patterned(8 * MiB, 8);
	const QString Path = WriteFile(QStringLiteral("Flipped_Client.pak"), Bytes);
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);
	Pak().TestGetUploadAddress(Path, 5);
	EXPECT_FALSE(WaitForUpload(Finished, 60000));
	ASSERT_FALSE(Finished.isEmpty());
	const QString UploadId = Finished[0][0].toString();
	const QString Problem = Pak().GetUploadProblem(UploadId);
	EXPECT_TRUE(Problem.contains(QStringLiteral("BadDigest"))) << Problem.toStdString();
	EXPECT_EQ(Proxy.FaultsDone(), std::vector{FFaultProxy::EFault::FlipByte});
	for (const FFaultProxy::FSeen& Seen : Proxy.Requests())
	{
		EXPECT_EQ(Seen.Target.find("complete_upload"), std::string::npos);
	}
	EXPECT_EQ(Store.GetObject(Bucket, "uploads/Flipped_Client").Status, 404);
	// The damaged part never reached the store. The other one ran beside it and may have been
	// stopped by the refusal before it arrived.
	for (const int Number : StoredPartNumbers(QStringLiteral("uploads/Flipped_Client"), UploadId))
	{
		EXPECT_EQ(Number, 1);
	}
}

TEST_F(PakUploadEndToEndTest, AFileThatChangedSizeSinceItsAddressesWereIssuedIsRefusedBeforeTheStore)
{
	// The addresses were issued for 6 MiB; the file on disk is half a MiB shorter by now.
	StartPakHost();
	const QJsonObject Data = StartUpload(QStringLiteral("Shrunk"), 6 * MiB, 5);
	const QString UploadId = Data.value(QStringLiteral("upload_id")).toString();
	ASSERT_FALSE(UploadId.isEmpty());
	const QString Path = WriteFile(QStringLiteral("Shrunk.pak"), Patterned(6 * MiB - MiB / 2, 3));
	QJsonArray Urls = Data.value(QStringLiteral("urls")).toArray();
	Server.Enqueue(200,
	               QJsonDocument(QJsonObject{{QStringLiteral("code"), 0},
	                                         {QStringLiteral("msg"), QStringLiteral("ok")},
	                                         {QStringLiteral("data"), QJsonObject{{QStringLiteral("urls"), Urls}}}})
	                   .toJson(QJsonDocument::Compact));
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);
	Pak().TestGetUploadAddress(Path, 5);
	EXPECT_FALSE(WaitForUpload(Finished, 60000));
	ASSERT_EQ(Finished.size(), 1);
	const QString Problem = Pak().GetUploadProblem(UploadId);
	EXPECT_TRUE(Problem.startsWith(QStringLiteral("part 2 refused: InvalidArgument"))) << Problem.toStdString();
	EXPECT_TRUE(Problem.contains(QStringLiteral("(HTTP 400)"))) << Problem.toStdString();
	// The short part never reached the store; the first ran beside it and may have been stopped by
	// the refusal before it arrived.
	for (const int Number : StoredPartNumbers(QStringLiteral("uploads/Shrunk"), UploadId))
	{
		EXPECT_EQ(Number, 1);
	}
}
