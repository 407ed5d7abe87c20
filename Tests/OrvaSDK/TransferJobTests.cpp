// The screenshot upload and the image download as jobs: a cancel while the request is under way
// ends the job once as cancelled (and fires the failure event once); a failure carries its cause.

#include "ImageTestSupport.h"
#include "OrvaAsyncImageDownloader.h"
#include "OrvaAsyncImageUploader.h"
#include "SdkFixture.h"

#ifdef ORVA_WITH_DEV_SERVICE
#include "DevServiceProcess.h"
#endif

namespace
{
// How a job ended, read at its end (a job that owns itself is gone soon after).
struct FJobEnd
{
	int Finished = 0;
	int Succeeded = 0;
	int Failed = 0;
	EEditorJobState State = EEditorJobState::Waiting;
	QString Cause;
};

void Record(UEditorJob* Job, const std::shared_ptr<FJobEnd>& End, QObject* Context)
{
	QObject::connect(Job, &UEditorJob::Finished, Context,
	                 [End](UEditorJob* Ended)
	                 {
		                 ++End->Finished;
		                 End->State = Ended->GetState();
		                 End->Cause = Ended->GetErrorText();
	                 });
}

// An answer that comes only long after any cancel.
FLoopbackHttpServer::FAnswer LateAnswer(const QByteArray& Body)
{
	FLoopbackHttpServer::FAnswer Answer;
	Answer.Body = Body;
	Answer.DelayMs = 20000;
	return Answer;
}
} // namespace

class TransferJobTest : public FSdkFixture
{
protected:
	void SetUp() override
	{
		StartLoggedOutHost();
		Sdk().AccessToken = QStringLiteral("Bearer secret-token");
		Sdk().CurrWorkspace.WorldId = QStringLiteral("w-1");
	}

	QString WriteShot(const QString& Name, const QByteArray& Bytes)
	{
		EXPECT_TRUE(Project.WriteFile(QStringLiteral("shots/") + Name, Bytes));
		return Project.RootDir() + QStringLiteral("shots/") + Name;
	}

	// Starts an upload of Path and records its end.
	std::shared_ptr<FJobEnd> StartUpload(const QString& Path, QPointer<UOrvaAsyncImageUploader>* OutUploader = nullptr)
	{
		auto End = std::make_shared<FJobEnd>();
		UOrvaAsyncImageUploader* Uploader = UOrvaAsyncImageUploader::UploadImage(*Host, Path);
		Record(Uploader, End, &Keeper);
		QObject::connect(Uploader, &UOrvaAsyncImageUploader::OnUploadSucceeded, &Keeper,
		                 [End](const FOrvaImageData&) { ++End->Succeeded; });
		QObject::connect(Uploader, &UOrvaAsyncImageUploader::OnUploadFailed, &Keeper,
		                 [End](const FOrvaImageData&) { ++End->Failed; });
		if (OutUploader)
		{
			*OutUploader = Uploader;
		}
		return End;
	}

	std::shared_ptr<FJobEnd> StartDownload(const QString& Url,
	                                       QPointer<UOrvaAsyncImageDownloader>* OutDownloader = nullptr)
	{
		auto End = std::make_shared<FJobEnd>();
		UOrvaAsyncImageDownloader* Downloader = UOrvaAsyncImageDownloader::DownloadImage(*Host, Url);
		Record(Downloader, End, &Keeper);
		QObject::connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadSucceeded, &Keeper,
		                 [End](UTexture2DDynamic*) { ++End->Succeeded; });
		QObject::connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadFailed, &Keeper,
		                 [End](UTexture2DDynamic*) { ++End->Failed; });
		if (OutDownloader)
		{
			*OutDownloader = Downloader;
		}
		return End;
	}

	// Runs the loop until the job ended, then a little longer for anything that would come twice.
	static void WaitForEnd(const std::shared_ptr<FJobEnd>& End)
	{
		EXPECT_TRUE(FGameThread::RunUntil([&] { return End->Finished > 0; }, 15000));
		FGameThread::RunUntilIdle(50);
	}

	QObject Keeper;
};

TEST_F(TransferJobTest, AnImageUploadCancelledUnderWayEndsOnceAsCancelledAndReleasesItself)
{
	Server.Enqueue(LateAnswer(R"({"name":"a.png","id":"img-1","size":4})"));
	QPointer<UOrvaAsyncImageUploader> Uploader;
	const auto End = StartUpload(WriteShot(QStringLiteral("a.png"), EncodeImage(PatternImage(8, 8), "png")), &Uploader);
	ASSERT_TRUE(Server.WaitForRequests(1));
	ASSERT_TRUE(Uploader);
	EXPECT_EQ(Uploader->GetState(), EEditorJobState::Running);
	EXPECT_GT(Uploader->GetTotal(), 0) << "the progress counts the request's bytes";
	EXPECT_TRUE(Uploader->Cancel());
	EXPECT_FALSE(Uploader->Cancel()) << "a second cancel asks nothing more";
	WaitForEnd(End);
	EXPECT_EQ(End->Finished, 1);
	EXPECT_EQ(End->State, EEditorJobState::Cancelled);
	EXPECT_EQ(End->Failed, 1) << "whoever waits for the upload learns that it ended";
	EXPECT_EQ(End->Succeeded, 0);
	EXPECT_TRUE(FGameThread::RunUntil([&] { return !Uploader; }, 5000));
}

TEST_F(TransferJobTest, AFailedImageUploadCarriesItsCause)
{
	Server.Enqueue(422, R"({"detail":"the file holds no image"})");
	auto End = StartUpload(WriteShot(QStringLiteral("b.png"), EncodeImage(PatternImage(8, 8), "png")));
	WaitForEnd(End);
	EXPECT_EQ(End->Finished, 1);
	EXPECT_EQ(End->Failed, 1);
	EXPECT_EQ(End->State, EEditorJobState::Failed);
	EXPECT_EQ(End->Cause, QStringLiteral("the service answered 422: the file holds no image"));

	// A file that is not there: nothing is sent, the cause names it.
	const int Sent = Server.RequestCount();
	End = StartUpload(Project.RootDir() + QStringLiteral("shots/missing.png"));
	WaitForEnd(End);
	EXPECT_EQ(End->State, EEditorJobState::Failed);
	EXPECT_EQ(End->Cause, QStringLiteral("The screenshot missing.png cannot be read."));
	EXPECT_EQ(Server.RequestCount(), Sent);
}

TEST_F(TransferJobTest, AnImageDownloadCancelledUnderWayEndsOnceAsCancelled)
{
	Server.Enqueue(LateAnswer(EncodeImage(PatternImage(8, 8), "png")));
	QPointer<UOrvaAsyncImageDownloader> Downloader;
	const auto End = StartDownload(Server.Url(QStringLiteral("/img/a.png")), &Downloader);
	ASSERT_TRUE(Server.WaitForRequests(1));
	ASSERT_TRUE(Downloader);
	EXPECT_TRUE(Downloader->Cancel());
	EXPECT_FALSE(Downloader->Cancel());
	WaitForEnd(End);
	EXPECT_EQ(End->Finished, 1);
	EXPECT_EQ(End->State, EEditorJobState::Cancelled);
	EXPECT_EQ(End->Failed, 1);
	EXPECT_EQ(End->Succeeded, 0);
	EXPECT_TRUE(FGameThread::RunUntil([&] { return !Downloader; }, 5000));
}

TEST_F(TransferJobTest, AFailedImageDownloadCarriesItsCause)
{
	auto End = StartDownload(QStringLiteral("file:///etc/passwd"));
	WaitForEnd(End);
	EXPECT_EQ(End->Finished, 1);
	EXPECT_EQ(End->Failed, 1);
	EXPECT_EQ(End->State, EEditorJobState::Failed);
	EXPECT_EQ(End->Cause, QStringLiteral("Only web addresses (http and https) are fetched."));

	Server.Enqueue(200, "no picture at all");
	End = StartDownload(Server.Url(QStringLiteral("/img/b.png")));
	WaitForEnd(End);
	EXPECT_EQ(End->State, EEditorJobState::Failed);
	EXPECT_EQ(End->Cause, QStringLiteral("The download is not an image the editor can read."));

	// Nothing came: an error answer without a body.
	Server.Enqueue(404, "");
	End = StartDownload(Server.Url(QStringLiteral("/img/c.png")));
	WaitForEnd(End);
	EXPECT_EQ(End->State, EEditorJobState::Failed);
	EXPECT_EQ(End->Cause, QStringLiteral("The image could not be fetched."));
	EXPECT_EQ(End->Failed, 1);
}

#ifdef ORVA_WITH_DEV_SERVICE
class TransferJobServiceTest : public TransferJobTest
{
protected:
	void SetUp() override
	{
		ASSERT_EQ(Service.Start(), "");
		const std::string Token = Service.LoginAlice();
		ASSERT_FALSE(Token.empty());
		const QString WorldId = QString::fromStdString(StringOf(Service.CreateWorld(Token), "id"));
		ASSERT_FALSE(WorldId.isEmpty());
		Project.WriteFile(SettingsRelative(), "[Development]\nServiceBaseUrl=http://127.0.0.1:" +
		                                          QByteArray::number(Service.Process().Port()) + "/api/v1/\n");
		StartHost();
		Sdk().AccessToken = QStringLiteral("Bearer ") + QString::fromStdString(Token);
		Sdk().CurrWorkspace.WorldId = WorldId;
	}

	FTestService Service;
};

// The development service refuses what is no image; the job's cause is its word on it.
TEST_F(TransferJobServiceTest, TheServicesRefusalIsTheUploadsCause)
{
	const auto End = StartUpload(WriteShot(QStringLiteral("notes.png"), "just some text"));
	WaitForEnd(End);
	EXPECT_EQ(End->Finished, 1);
	EXPECT_EQ(End->Failed, 1);
	EXPECT_EQ(End->State, EEditorJobState::Failed);
	EXPECT_TRUE(End->Cause.startsWith(QStringLiteral("the service answered 422: "))) << End->Cause.toStdString();
	EXPECT_GT(End->Cause.size(), QStringLiteral("the service answered 422: ").size());
}
#endif
