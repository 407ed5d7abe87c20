// The screenshot upload and the image download against the real development service.
#ifdef ORVA_WITH_DEV_SERVICE

#include "DevServiceProcess.h"
#include "ImageTestSupport.h"
#include "RenderThread.h"
#include "SdkFixture.h"

class ImageServiceTest : public FSdkFixture
{
protected:
	void SetUp() override
	{
		ASSERT_EQ(Service.Start(), "");
		const std::string Token = Service.LoginAlice();
		ASSERT_FALSE(Token.empty());
		WorldId = QString::fromStdString(StringOf(Service.CreateWorld(Token), "id"));
		ASSERT_FALSE(WorldId.isEmpty());
		Project.WriteFile(SettingsRelative(), "[Development]\nServiceBaseUrl=http://127.0.0.1:" +
		                                          QByteArray::number(Service.Process().Port()) + "/api/v1/\n");
		StartHost();
		Sdk().AccessToken = QStringLiteral("Bearer ") + QString::fromStdString(Token);
		Sdk().CurrWorkspace.WorldId = WorldId;
		QObject::connect(&Cache(), &UOrvaDataCacheSubsystem::OnImageUploadEnded, &Keeper,
		                 [this](const FOrvaImageData& Image) { Ended.append(Image); });
	}

	QString WriteShot(const QString& Name, const QByteArray& Bytes)
	{
		EXPECT_TRUE(Project.WriteFile(QStringLiteral("shots/") + Name, Bytes));
		return Project.RootDir() + QStringLiteral("shots/") + Name;
	}

	FOrvaImageData AddAndWait(const QString& Path)
	{
		const qsizetype Before = Ended.size();
		Cache().AddNewLocalImage(Path);
		EXPECT_TRUE(FGameThread::RunUntil([&] { return Ended.size() > Before; }, 10000));
		Settle();
		return Ended.value(Before);
	}

	FOrvaWorldDataPtr ListedWorld()
	{
		Sdk().GetWorldsList();
		Settle();
		for (const FOrvaWorldDataPtr& World : Cache().GetWorldList())
		{
			if (World && World->Id == WorldId)
			{
				return World;
			}
		}
		return nullptr;
	}

	std::shared_ptr<FRecordingReceiver> Fetch(const QString& Url)
	{
		auto Receiver = std::make_shared<FRecordingReceiver>(Url);
		Cache().GetImage(Receiver);
		EXPECT_TRUE(FGameThread::RunUntil([&] { return Receiver->RemoteCalls > 0; }, 10000));
		Host->RenderThread().Flush();
		return Receiver;
	}

	FTestService Service;
	QString WorldId;
	QObject Keeper;
	QList<FOrvaImageData> Ended;
};

TEST_F(ImageServiceTest, TheFirstScreenshotBecomesTheTitleImageAndDownloadsBackToItsSize)
{
	// A JPEG under a name with a blank, sent as the plugin sends every screenshot.
	const QByteArray Jpeg = EncodeImage(PatternImage(64, 40), "jpeg");
	const QString Path = WriteShot(QStringLiteral("harbour view.jpg"), Jpeg);
	const FOrvaImageData Uploaded = AddAndWait(Path);
	ASSERT_FALSE(Uploaded.Id.isEmpty()) << Service.Process().StderrText();
	EXPECT_EQ(Uploaded.Name, QStringLiteral("harbour view.jpg"));
	EXPECT_EQ(Uploaded.Size, Jpeg.size());
	EXPECT_EQ(Uploaded.Url, Path);
	EXPECT_EQ(*Cache().GetCurrImageList()[0], Uploaded);

	const FOrvaWorldDataPtr World = ListedWorld();
	ASSERT_TRUE(World);
	ASSERT_TRUE(World->TitleImage);
	EXPECT_EQ(World->TitleImage->Id, Uploaded.Id);
	ASSERT_TRUE(World->TitleImage->Url.startsWith(QStringLiteral("http://127.0.0.1:")));

	const auto Receiver = Fetch(World->TitleImage->Url);
	ASSERT_TRUE(Receiver->Remote);
	EXPECT_EQ(Receiver->Remote->GetSizeX(), 64);
	EXPECT_EQ(Receiver->Remote->GetSizeY(), 40);
	EXPECT_TRUE(Receiver->Remote->HasPixels());

	// A second screenshot leaves the title image as it was.
	const FOrvaImageData Second =
	    AddAndWait(WriteShot(QStringLiteral("second.png"), EncodeImage(PatternImage(8, 8), "png")));
	ASSERT_FALSE(Second.Id.isEmpty());
	EXPECT_EQ(ListedWorld()->TitleImage->Id, Uploaded.Id);
	// The service lists both, and the cache's list holds them before its placeholder.
	Sdk().GetScreenshots();
	Settle();
	ASSERT_EQ(Cache().GetCurrImageList().size(), 3);
	EXPECT_EQ(Cache().GetCurrImageList()[1]->Id, Second.Id);
}

TEST_F(ImageServiceTest, AGifTheServiceStoresIsRefusedByTheDownloaderEachTime)
{
	const FOrvaImageData Uploaded = AddAndWait(WriteShot(QStringLiteral("tiny.gif"), TinyGifBytes()));
	ASSERT_FALSE(Uploaded.Id.isEmpty());
	Sdk().GetScreenshots();
	Settle();
	ASSERT_EQ(Cache().GetCurrImageList().size(), 2);
	const QString Url = Cache().GetCurrImageList()[0]->Url;
	ASSERT_TRUE(Url.endsWith(QStringLiteral(".gif"))) << Url.toStdString();
	EXPECT_FALSE(Fetch(Url)->Remote);
	// Forgotten after failing: asked again, it is fetched again (and fails again).
	EXPECT_FALSE(Fetch(Url)->Remote);
}

#endif
