#include "SdkFixture.h"

#include "LocalS3Server.h"
#include "OrvaPakUploadSubsystem.h"
#include "OrvaSDKModule.h"
#include "PakUploadTask.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QUrlQuery>

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

TEST_F(PakUploadTest, AFailedPartLeavesTheUploadIncomplete)
{
	StartPakHost();
	const QString Path = WriteFile(QStringLiteral("Failing.pak"), Patterned(MiB + 10));
	Server.Enqueue(200, AddressAnswer(QStringLiteral("up-f"), 1, 2));
	AnswerPartsAndCompletions(500);
	QSignalSpy PartsDone(&Pak(), &UOrvaPakUploadSubsystem::OnPakPartUploaded);
	QSignalSpy Finished(&Pak(), &UOrvaPakUploadSubsystem::OnPakUploadFinished);
	Pak().TestGetUploadAddress(Path, 1);
	ASSERT_TRUE(WaitFor([&] { return PartsDone.size() == 2; }));
	Settle();
	EXPECT_FALSE(PartsDone[0][2].toBool());
	EXPECT_FALSE(PartsDone[1][2].toBool());
	EXPECT_TRUE(Finished.isEmpty());
	EXPECT_TRUE(RequestsTo("/api/storage/complete_upload").isEmpty());
	for (const FAwsUploader& Record : Pak().GetAwsUploader())
	{
		EXPECT_TRUE(Record.Etag.isEmpty());
	}

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
	ASSERT_TRUE(WaitFor([&] { return PartsDone.size() == 3 && RequestsTo("/part/").size() == 4; }));
	EXPECT_FALSE(PartsDone[2][2].toBool());
	Host->Shutdown();
	Host.reset();
	FGameThread::RunUntilIdle(200);
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

// The whole path: OrvaDevService's storage endpoint over the local S3 store.
class PakUploadEndToEndTest : public PakUploadTest
{
protected:
	void SetUp() override
	{
		if (!FLocalS3Server::IsAvailable())
		{
			GTEST_SKIP() << "moto_server is not installed";
		}
		// The parts go to presigned addresses, which this store cannot check (see EAuthentication);
		// the signer's presigned form is checked against AWS's published example instead.
		const std::string Problem = Store.Start(FLocalS3Server::EAuthentication::NotChecked);
		ASSERT_TRUE(Problem.empty()) << Problem;
		ASSERT_TRUE(Store.CreateBucket(Bucket));
		ASSERT_TRUE(Data.isValid());
		Service.setProgram(QStringLiteral(ORVA_DEVSERVICE_PATH));
		Service.setArguments({QStringLiteral("--data"), Data.path(), QStringLiteral("--storage-endpoint"),
		                      QString::fromStdString(Store.Endpoint()), QStringLiteral("--storage-bucket"),
		                      QString::fromStdString(Bucket), QStringLiteral("--storage-access-key-id"),
		                      QString::fromStdString(Store.AdminCredentials().AccessKeyId),
		                      QStringLiteral("--storage-secret-access-key"),
		                      QString::fromStdString(Store.AdminCredentials().SecretAccessKey),
		                      QStringLiteral("--storage-endpoint-port"), QStringLiteral("0")});
		Service.start();
		ASSERT_TRUE(Service.waitForStarted(5000));
		QByteArray Lines;
		while (!Lines.contains("listening on") && Service.waitForReadyRead(10000))
		{
			Lines += Service.readAllStandardOutput();
		}
		const QRegularExpressionMatch Match =
		    QRegularExpression(QStringLiteral("storage endpoint on (http://127\\.0\\.0\\.1:\\d+)/api/storage/"))
		        .match(QString::fromUtf8(Lines));
		ASSERT_TRUE(Match.hasMatch()) << Lines.constData() << Service.readAllStandardError().constData();
		StorageUrl = Match.captured(1);
	}

	void TearDown() override
	{
		PakUploadTest::TearDown();
		if (Service.state() != QProcess::NotRunning)
		{
			Service.terminate();
			if (!Service.waitForFinished(5000))
			{
				Service.kill();
				Service.waitForFinished(2000);
			}
		}
	}

	const std::string Bucket = "orva-presigned-tests";
	FLocalS3Server Store;
	QTemporaryDir Data;
	QProcess Service;
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
	ASSERT_TRUE(Finished[0][1].toBool()) << Service.readAllStandardError().constData();

	const QList<FAwsUploader> Records = Pak().GetAwsUploader();
	ASSERT_EQ(Records.size(), 5);
	for (int Index = 0; Index < Records.size(); ++Index)
	{
		EXPECT_EQ(Records[Index].Part_Number, Index + 1);
		EXPECT_EQ(Records[Index].Etag.toUtf8(), Md5Etag(Bytes.mid(Index * 5 * MiB, 5 * MiB)));
	}
	const FLocalS3Server::FResponse Stored = Store.GetObject(Bucket, "uploads/World_Client");
	ASSERT_EQ(Stored.Status, 200);
	EXPECT_EQ(QCryptographicHash::hash(QByteArray::fromStdString(Stored.Body), QCryptographicHash::Sha256).toHex(),
	          QCryptographicHash::hash(Bytes, QCryptographicHash::Sha256).toHex());
}

TEST_F(PakUploadEndToEndTest, TheEndpointRefusesWrongTokensAndUnsafeNames)
{
	StartPakHost("StorageToken=" + QByteArray(64, 'b') + "\n", StorageUrl);
	const QString Path = WriteFile(QStringLiteral("Refused.pak"), Patterned(1000));
	Pak().TestGetUploadAddress(Path, 5);
	ASSERT_TRUE(WaitFor([&] { return Log.Contains(QStringLiteral("Error")); }));
	EXPECT_TRUE(Pak().GetAwsUploader().isEmpty());
	EXPECT_FALSE(QString::fromUtf8(Service.readAllStandardError()).contains(QString(64, QLatin1Char('b'))));

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
