#include "ImageTestSupport.h"
#include "SdkFixture.h"

class ImageCacheTest : public FSdkFixture
{
protected:
	void SetUp() override { StartLoggedOutHost(); }

	void ServePng(int Width, int Height, int Status = 200)
	{
		Server.Enqueue(FLoopbackHttpServer::FAnswer{
		    Status, EncodeImage(PatternImage(Width, Height), "png"), {{"Content-Type", "image/png"}}});
	}

	static bool RunUntilCalled(const std::shared_ptr<FRecordingReceiver>& Receiver)
	{
		const bool bCalled = FGameThread::RunUntil([&] { return Receiver->RemoteCalls > 0; }, 10000);
		FGameThread::RunUntilIdle(20);
		return bCalled;
	}
};

TEST_F(ImageCacheTest, ReceiversOfOneNewAddressShareOneDownloadAndLaterOnesAreAnsweredAtOnce)
{
	ServePng(12, 7);
	const QString Url = Server.Url(QStringLiteral("/files/screenshots/a.png"));
	auto First = std::make_shared<FRecordingReceiver>(Url);
	auto Second = std::make_shared<FRecordingReceiver>(Url);
	Cache().GetImage(First);
	Cache().GetImage(Second);
	EXPECT_EQ(First->RemoteCalls + Second->RemoteCalls, 0);
	ASSERT_TRUE(RunUntilCalled(Second));
	EXPECT_EQ(Server.RequestCount(), 1);
	ASSERT_EQ(First->RemoteCalls, 1);
	ASSERT_EQ(Second->RemoteCalls, 1);
	ASSERT_TRUE(First->Remote);
	EXPECT_EQ(First->Remote, Second->Remote);
	EXPECT_EQ(First->Remote->GetSizeX(), 12);
	EXPECT_EQ(First->UrlCalls, 1);

	// Cached: answered inside GetImage, also for the address spelt in other letter case.
	QString Shouted = Url;
	Shouted.replace(QStringLiteral("http://"), QStringLiteral("HTTP://"));
	auto Third = std::make_shared<FRecordingReceiver>(Shouted);
	Cache().GetImage(Third);
	EXPECT_EQ(Third->RemoteCalls, 1);
	EXPECT_EQ(Third->Remote, First->Remote);
	EXPECT_EQ(Server.RequestCount(), 1);
	// The cache keeps the texture alive.
	FGameThread::RunUntilIdle(50);
	EXPECT_TRUE(First->Remote);
}

// A tile that asks again from inside its callback, before the cache has stored the texture.
class FAskingAgainReceiver : public FRecordingReceiver
{
public:
	FAskingAgainReceiver(QString InUrl, UOrvaDataCacheSubsystem& InCache)
	    : FRecordingReceiver(std::move(InUrl))
	    , Cache(InCache)
	{
	}
	void OnRemoteImageLoaded(UTexture2DDynamic* Texture) override
	{
		FRecordingReceiver::OnRemoteImageLoaded(Texture);
		Again = std::make_shared<FRecordingReceiver>(Url);
		Cache.GetImage(Again);
	}
	UOrvaDataCacheSubsystem& Cache;
	std::shared_ptr<FRecordingReceiver> Again;
};

TEST_F(ImageCacheTest, AReceiverAskingAgainFromItsCallbackIsAnswered)
{
	ServePng(4, 4);
	auto Asking = std::make_shared<FAskingAgainReceiver>(Server.Url(QStringLiteral("/again.png")), Cache());
	Cache().GetImage(Asking);
	ASSERT_TRUE(RunUntilCalled(Asking));
	ASSERT_TRUE(Asking->Again);
	EXPECT_EQ(Asking->Again->RemoteCalls, 1);
	EXPECT_EQ(Asking->Again->Remote, Asking->Remote);
	EXPECT_EQ(Server.RequestCount(), 1);
}

TEST_F(ImageCacheTest, AReceiverThatWentAwayIsNotCalled)
{
	ServePng(3, 3);
	const QString Url = Server.Url(QStringLiteral("/gone.png"));
	auto Gone = std::make_shared<FRecordingReceiver>(Url);
	std::weak_ptr<FRecordingReceiver> Watch = Gone;
	auto Staying = std::make_shared<FRecordingReceiver>(Url);
	Cache().GetImage(Gone);
	Cache().GetImage(Staying);
	Gone.reset();
	ASSERT_TRUE(RunUntilCalled(Staying));
	EXPECT_TRUE(Watch.expired());
	EXPECT_EQ(Staying->RemoteCalls, 1);
}

TEST_F(ImageCacheTest, AFailedDownloadIsForgottenSoTheNextRequestTriesAgain)
{
	Server.Enqueue(404, "{\"detail\":\"Not Found\"}");
	const QString Url = Server.Url(QStringLiteral("/later.png"));
	auto First = std::make_shared<FRecordingReceiver>(Url);
	Cache().GetImage(First);
	ASSERT_TRUE(RunUntilCalled(First));
	EXPECT_EQ(First->RemoteCalls, 1);
	EXPECT_FALSE(First->Remote);

	ServePng(9, 4);
	auto Second = std::make_shared<FRecordingReceiver>(Url);
	Cache().GetImage(Second);
	ASSERT_TRUE(RunUntilCalled(Second));
	EXPECT_EQ(Server.RequestCount(), 2);
	ASSERT_TRUE(Second->Remote);
	EXPECT_EQ(Second->Remote->GetSizeY(), 4);
	EXPECT_EQ(First->RemoteCalls, 1) << "the first receiver heard its answer once";
}

TEST_F(ImageCacheTest, LocalFilesAreImportedOnceAndUnreadableOnesTriedAgain)
{
	// Contains "http" but does not begin with it: a local path.
	const QString Path = Project.RootDir() + QStringLiteral("shots/http_shot.png");
	auto Missing = std::make_shared<FRecordingReceiver>(Path);
	Cache().GetImage(Missing);
	EXPECT_EQ(Missing->LocalCalls + Missing->RemoteCalls, 0);

	ASSERT_TRUE(Project.WriteFile(QStringLiteral("shots/http_shot.png"), EncodeImage(PatternImage(5, 2), "png")));
	auto First = std::make_shared<FRecordingReceiver>(Path);
	Cache().GetImage(First);
	ASSERT_EQ(First->LocalCalls, 1);
	ASSERT_TRUE(First->Local);
	EXPECT_EQ(First->Local->GetSizeX(), 5);
	EXPECT_TRUE(First->Local->HasPixels());

	QFile::remove(Path);
	auto Again = std::make_shared<FRecordingReceiver>(Path);
	Cache().GetImage(Again);
	EXPECT_EQ(Again->Local, First->Local) << "served from the cache, the file is not read again";
	EXPECT_EQ(Server.RequestCount(), 0);
}

TEST_F(ImageCacheTest, TheScreenshotListKeepsItsPlaceholderLast)
{
	ASSERT_EQ(Cache().GetCurrImageList().size(), 1);
	QList<FOrvaImageDataPtr> Three;
	for (const char* Id : {"a", "b", "c"})
	{
		auto Image = std::make_shared<FOrvaImageData>();
		Image->Id = QString::fromLatin1(Id);
		Image->Url = QStringLiteral("C:/Shots/") + Image->Id + QStringLiteral(".png");
		Three.append(Image);
	}
	Log.Clear();
	Cache().SetCurrImageList(Three);
	const QList<FOrvaImageDataPtr>& List = Cache().GetCurrImageList();
	ASSERT_EQ(List.size(), 4);
	EXPECT_EQ(*List[3], FOrvaImageData());
	EXPECT_EQ(List[0], Three[0]) << "the records are shared, not copied";
	EXPECT_EQ(Log.Count(QStringLiteral("ImageList Generated")), 1);

	FOrvaImageDataPtr Out = Three[2];
	EXPECT_EQ(Cache().GetLocalImageData(QStringLiteral("c:/shots/B.PNG"), Out), 1);
	EXPECT_EQ(Out, Three[1]);
	FOrvaImageDataPtr Untouched = Three[2];
	EXPECT_EQ(Cache().GetLocalImageData(QStringLiteral("C:/Shots/none.png"), Untouched), -1);
	EXPECT_EQ(Untouched, Three[2]);
	EXPECT_FALSE(Cache().GetLocalImageData(QStringLiteral("C:/Shots/none.png")));

	// No answer fills a world's preview images: the check leaves only the placeholder.
	LoadWorlds({WorldJson(QStringLiteral("w1"), QStringLiteral("id1"))});
	const QList<FOrvaImageDataPtr>& Checked = Cache().CheckPreviewImageList(QStringLiteral("W1"));
	ASSERT_EQ(Checked.size(), 1);
	EXPECT_EQ(*Checked[0], FOrvaImageData());
	Cache().InitCurrImageList();
	EXPECT_EQ(Cache().GetCurrImageList().size(), 1);
}
