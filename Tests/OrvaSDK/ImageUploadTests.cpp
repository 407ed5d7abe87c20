#include "ImageTestSupport.h"
#include "OrvaAsyncImageUploader.h"
#include "SdkFixture.h"

#include <QRegularExpression>

namespace
{
struct FUploadOutcome
{
	int Succeeded = 0;
	int Failed = 0;
	FOrvaImageData Image;
};
} // namespace

class ImageUploadTest : public FSdkFixture
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

	std::shared_ptr<FUploadOutcome> Upload(const QString& Path)
	{
		auto Outcome = std::make_shared<FUploadOutcome>();
		UOrvaAsyncImageUploader* Uploader = UOrvaAsyncImageUploader::UploadImage(*Host, Path);
		EXPECT_EQ(Uploader->LocalPath, Path);
		QObject::connect(Uploader, &UOrvaAsyncImageUploader::OnUploadSucceeded, &Keeper,
		                 [Outcome](FOrvaImageData Image)
		                 {
			                 ++Outcome->Succeeded;
			                 Outcome->Image = Image;
		                 });
		QObject::connect(Uploader, &UOrvaAsyncImageUploader::OnUploadFailed, &Keeper,
		                 [Outcome](FOrvaImageData Image)
		                 {
			                 ++Outcome->Failed;
			                 Outcome->Image = Image;
		                 });
		FGameThread::RunUntil([&] { return Outcome->Succeeded + Outcome->Failed > 0; }, 10000);
		FGameThread::RunUntilIdle(30);
		return Outcome;
	}

	QObject Keeper;
};

TEST_F(ImageUploadTest, SendsTheMultipartRequestByteForByte)
{
	// A JPEG with a blank in its name: sent as "image/png", the name escaped in the part header only.
	const QByteArray Jpeg = EncodeImage(PatternImage(16, 16), "jpeg");
	const QString Path = WriteShot(QStringLiteral("my shot.jpg"), Jpeg);
	Server.Enqueue(200, R"({"name":"my shot.jpg","id":"img-1","size":4321,"url":"http://x/y.jpg"})");
	const auto Outcome = Upload(Path);
	ASSERT_EQ(Outcome->Succeeded, 1);
	EXPECT_EQ(Outcome->Failed, 0);
	EXPECT_EQ(Outcome->Image.Name, QStringLiteral("my shot.jpg"));
	EXPECT_EQ(Outcome->Image.Id, QStringLiteral("img-1"));
	EXPECT_EQ(Outcome->Image.Size, 4321);
	EXPECT_EQ(Outcome->Image.Url, Path) << "the record keeps the local path as given";
	EXPECT_TRUE(Log.Contains(QStringLiteral("Image Upload Success: ImageId is img-1")));

	ASSERT_EQ(Server.RequestCount(), 1);
	const auto& Request = Server.Requests()[0];
	EXPECT_EQ(Request.Verb, "POST");
	EXPECT_EQ(Request.Target, "/api/v1/worlds/w-1/screenshots");
	EXPECT_EQ(Request.Header("accept"), "application/json");
	EXPECT_EQ(Request.Header("Authorization"), "Bearer secret-token");
	QList<QByteArray> Ours;
	for (const QByteArray& Name : Request.HeaderNames())
	{
		if (Name == "accept" || Name == "Authorization" || Name == "Content-Type")
		{
			Ours.append(Name);
		}
	}
	EXPECT_EQ(Ours, (QList<QByteArray>{"accept", "Authorization", "Content-Type"}));

	const QRegularExpression TypeForm(QStringLiteral("^multipart/form-data; boundary =(-{27}-?[0-9]+)$"));
	const QRegularExpressionMatch Match = TypeForm.match(QString::fromLatin1(Request.Header("Content-Type")));
	ASSERT_TRUE(Match.hasMatch()) << Request.Header("Content-Type").toStdString();
	const QByteArray B = Match.captured(1).toLatin1();
	const QByteArray Expected = "\r\n--" + B +
	                            "\r\n"
	                            "Content-Disposition: form-data; name=\"image\"; filename=\"my%20shot.jpg\"\r\n"
	                            "Content-Type: image/png\r\n"
	                            "\r\n" +
	                            Jpeg + "\r\n--" + B + "--\r\n";
	EXPECT_EQ(Request.Body.size(), Expected.size());
	EXPECT_EQ(Request.Body, Expected);
	EXPECT_EQ(Request.Header("Content-Length").toLongLong(), Expected.size());
}

TEST_F(ImageUploadTest, TheBoundaryIsTheLowWordOfTheLocalTickCount)
{
	const QString Hyphens(27, QLatin1Char('-'));
	EXPECT_EQ(UOrvaAsyncImageUploader::MakeBoundary(5), Hyphens + QStringLiteral("5"));
	EXPECT_EQ(UOrvaAsyncImageUploader::MakeBoundary(0x1FFFFFFFFLL), Hyphens + QStringLiteral("-1"));
	EXPECT_EQ(UOrvaAsyncImageUploader::MakeBoundary(0x180000000LL), Hyphens + QStringLiteral("-2147483648"));
	// 1 January 2001, 00:00 as local time is 631139040000000000 ticks.
	const QDateTime Now = QDateTime::currentDateTime();
	const qint64 Expected =
	    631139040000000000LL + (Now.toMSecsSinceEpoch() + Now.offsetFromUtc() * 1000LL - 978307200000LL) * 10000;
	EXPECT_NEAR(double(UOrvaAsyncImageUploader::NowTicks()), double(Expected), 1e8);
}

TEST_F(ImageUploadTest, OnlyAStoredScreenshotIsASuccess)
{
	const QString Path = WriteShot(QStringLiteral("a.png"), EncodeImage(PatternImage(2, 2), "png"));
	// A refusal that is a JSON object is a failure: nothing claims a success without an id.
	Server.Enqueue(401, R"({"detail":"Not authenticated"})");
	auto Outcome = Upload(Path);
	EXPECT_EQ(Outcome->Succeeded, 0);
	EXPECT_EQ(Outcome->Failed, 1);
	EXPECT_FALSE(Log.Contains(QStringLiteral("Image Upload Success: ImageId is ")));
	// So is a success status without an id.
	Server.Enqueue(201, R"({"name":"a.png"})");
	Outcome = Upload(Path);
	EXPECT_EQ(Outcome->Succeeded, 0);
	EXPECT_EQ(Outcome->Failed, 1);

	Server.Enqueue(200, R"({"name":"big","id":"i","size":3000000000})");
	Outcome = Upload(Path);
	EXPECT_EQ(Outcome->Image.Size, 3000000000LL) << "sizes past 32 bits arrive whole";

	Server.Enqueue(502, "<html>Bad Gateway</html>");
	Outcome = Upload(Path);
	EXPECT_EQ(Outcome->Failed, 1);
	EXPECT_EQ(Outcome->Succeeded, 0);
	EXPECT_EQ(Outcome->Image, FOrvaImageData());
	EXPECT_TRUE(Log.Contains(QStringLiteral("JsonReader Error: Upload Image Failed")));

	FLoopbackHttpServer::FAnswer Dropped{200, R"({"id":"never"})"};
	Dropped.bDrop = true;
	Server.Enqueue(Dropped);
	Outcome = Upload(Path);
	EXPECT_EQ(Outcome->Failed, 1);
	EXPECT_TRUE(Log.Contains(QStringLiteral("Error for UploadImage: Response Is Not Valid")));
}

TEST_F(ImageUploadTest, AnUnreadableFileFailsWithALineNamingIt)
{
	const QString Missing = Project.RootDir() + QStringLiteral("shots/missing.png");
	const auto Outcome = Upload(Missing);
	EXPECT_EQ(Outcome->Failed, 1);
	EXPECT_EQ(Outcome->Succeeded, 0);
	EXPECT_EQ(Outcome->Image, FOrvaImageData());
	EXPECT_EQ(Server.RequestCount(), 0);
	bool bNamed = false;
	for (const QString& Line : Log.Messages(ELogVerbosity::Error))
	{
		bNamed = bNamed || Line.contains(Missing);
	}
	EXPECT_TRUE(bNamed);
}

TEST_F(ImageUploadTest, TheFirstAddedScreenshotBecomesTheTitleImage)
{
	Server.SetHandler(
	    [](const FLoopbackHttpServer::FRecordedRequest& Request)
	    {
		    if (Request.Verb == "POST")
		    {
			    const bool bSecond = Request.Body.contains("second.png");
			    return FLoopbackHttpServer::FAnswer{200, bSecond ? R"({"name":"second.png","id":"id-2","size":20})"
			                                                     : R"({"name":"first.png","id":"id-1","size":10})"};
		    }
		    return FLoopbackHttpServer::FAnswer{200, "{}"};
	    });
	const QString First = WriteShot(QStringLiteral("first.png"), EncodeImage(PatternImage(3, 3), "png"));
	const QString Second = WriteShot(QStringLiteral("second.png"), EncodeImage(PatternImage(4, 4), "png"));
	QList<FOrvaImageData> Ended;
	QObject::connect(&Cache(), &UOrvaDataCacheSubsystem::OnImageUploadEnded, &Keeper,
	                 [&Ended](const FOrvaImageData& Image) { Ended.append(Image); });

	Cache().AddNewLocalImage(First);
	ASSERT_EQ(Cache().GetCurrImageList().size(), 2);
	EXPECT_EQ(Cache().GetCurrImageList()[0]->Url, First);
	EXPECT_TRUE(Cache().GetCurrImageList()[0]->Id.isEmpty());
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended.size() == 1; }, 10000));
	Settle();
	ASSERT_EQ(Server.RequestCount(), 2);
	EXPECT_EQ(Server.Requests()[1].Verb, "PATCH");
	EXPECT_EQ(Server.Requests()[1].Target, "/api/v1/worlds/w-1");
	EXPECT_EQ(Server.Requests()[1].Body, R"({"image_id":"id-1"})");
	const FOrvaImageData& Filled = *Cache().GetCurrImageList()[0];
	EXPECT_EQ(Filled.Id, QStringLiteral("id-1"));
	EXPECT_EQ(Filled.Name, QStringLiteral("first.png"));
	EXPECT_EQ(Filled.Size, 10);
	EXPECT_EQ(Filled.Url, First);
	EXPECT_EQ(Ended[0], Filled);

	// The second one follows the first and leaves the title image alone.
	Cache().AddNewLocalImage(Second);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended.size() == 2; }, 10000));
	Settle();
	EXPECT_EQ(Server.RequestCount(), 3);
	ASSERT_EQ(Cache().GetCurrImageList().size(), 3);
	EXPECT_EQ(Cache().GetCurrImageList()[1]->Id, QStringLiteral("id-2"));
	EXPECT_EQ(*Cache().GetCurrImageList()[2], FOrvaImageData());

	// A file that cannot be read still ends, with its entry left without an id.
	Cache().AddNewLocalImage(Project.RootDir() + QStringLiteral("shots/none.png"));
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended.size() == 3; }, 10000));
	EXPECT_TRUE(Ended[2].Id.isEmpty());
	EXPECT_EQ(Cache().GetCurrImageList().size(), 4);
	EXPECT_EQ(Server.RequestCount(), 3);
}

// The world's screenshot list answer is written by the service before a screenshot added meanwhile
// is stored: the answer must not drop it, nor keep it from becoming the title image.
TEST_F(ImageUploadTest, ScreenshotAddedWhileTheListIsFetchedStaysAndBecomesTheTitleImage)
{
	const QString Shot = WriteShot(QStringLiteral("shot.png"), EncodeImage(PatternImage(3, 3), "png"));
	QList<FOrvaImageData> Ended;
	QObject::connect(&Cache(), &UOrvaDataCacheSubsystem::OnImageUploadEnded, &Keeper,
	                 [&Ended](const FOrvaImageData& Image) { Ended.append(Image); });
	int ListAnswers = 0;
	QObject::connect(&Sdk(), &UOrvaSDKSubsystem::OnScreenshotsUpdated, &Keeper, [&ListAnswers] { ++ListAnswers; });

	// Both orders of the two answers: the list first, then the upload; and the other way round.
	for (const bool bListFirst : {true, false})
	{
		SCOPED_TRACE(bListFirst ? "list answered first" : "upload answered first");
		Cache().InitCurrImageList();
		Ended.clear();
		ListAnswers = 0;
		const int Before = Server.RequestCount();
		Server.SetHandler(
		    [bListFirst](const FLoopbackHttpServer::FRecordedRequest& Request)
		    {
			    FLoopbackHttpServer::FAnswer Answer{200, "{}"};
			    if (Request.Verb == "GET")
			    {
				    Answer.Body = R"({"screen_shots":[]})";
				    Answer.DelayMs = bListFirst ? 0 : 400;
			    }
			    else if (Request.Verb == "POST")
			    {
				    Answer.Body = R"({"name":"shot.png","id":"id-7","size":10})";
				    Answer.DelayMs = bListFirst ? 400 : 0;
			    }
			    return Answer;
		    });
		Sdk().GetScreenshots();
		Cache().AddNewLocalImage(Shot);
		ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended.size() == 1 && ListAnswers == 1; }, 10000));
		Settle();

		ASSERT_EQ(Cache().GetCurrImageList().size(), 2);
		const FOrvaImageData& First = *Cache().GetCurrImageList()[0];
		EXPECT_EQ(First.Url, Shot);
		EXPECT_EQ(First.Id, QStringLiteral("id-7"));
		EXPECT_EQ(*Cache().GetCurrImageList()[1], FOrvaImageData());
		const QList<FLoopbackHttpServer::FRecordedRequest> Sent = Server.Requests().mid(Before);
		ASSERT_EQ(Sent.size(), 3);
		EXPECT_EQ(Sent[2].Verb, "PATCH");
		EXPECT_EQ(Sent[2].Body, R"({"image_id":"id-7"})");
	}

	// Once the service lists it, the entry is the service's, not a second copy.
	Server.SetHandler(
	    [](const FLoopbackHttpServer::FRecordedRequest&)
	    {
		    return FLoopbackHttpServer::FAnswer{
		        200, R"({"screen_shots":[{"name":"shot.png","id":"id-7","size":10,"url":"http://x/7.png"}]})"};
	    });
	ListAnswers = 0;
	Sdk().GetScreenshots();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return ListAnswers == 1; }, 10000));
	ASSERT_EQ(Cache().GetCurrImageList().size(), 2);
	EXPECT_EQ(Cache().GetCurrImageList()[0]->Url, QStringLiteral("http://x/7.png"));

	// A screenshot still uploading for one world is not carried into another world's list.
	Server.SetHandler(
	    [](const FLoopbackHttpServer::FRecordedRequest& Request)
	    {
		    FLoopbackHttpServer::FAnswer Answer{200, R"({"screen_shots":[]})"};
		    if (Request.Verb == "POST")
		    {
			    Answer.Body = R"({"name":"shot.png","id":"id-8","size":10})";
			    Answer.DelayMs = 400;
		    }
		    return Answer;
	    });
	Ended.clear();
	ListAnswers = 0;
	Cache().AddNewLocalImage(Shot);
	Sdk().CurrWorkspace.WorldId = QStringLiteral("w-2");
	Sdk().GetScreenshots();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Ended.size() == 1 && ListAnswers == 1; }, 10000));
	EXPECT_EQ(Cache().GetCurrImageList().size(), 1);
}
