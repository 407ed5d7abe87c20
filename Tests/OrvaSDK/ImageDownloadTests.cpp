#include "ImageTestSupport.h"
#include "OrvaAsyncImageDownloader.h"
#include "RenderThread.h"
#include "SdkFixture.h"

#include <QDir>

namespace
{
FLoopbackHttpServer::FAnswer ImageAnswer(const QByteArray& Body, int Status = 200)
{
	return FLoopbackHttpServer::FAnswer{Status, Body, {{"Content-Type", "application/octet-stream"}}};
}

struct FDownloadOutcome
{
	int Succeeded = 0;
	int Failed = 0;
	int Cached = 0;
	QPointer<UTexture2DDynamic> Texture;
	QString CachedUrl;
};
} // namespace

class ImageDownloadTest : public FSdkFixture
{
protected:
	void SetUp() override { StartLoggedOutHost(); }

	// Starts a downloader and runs the loop until it fired; the texture is taken over by Keeper.
	std::shared_ptr<FDownloadOutcome> Download(const QString& Url, bool bBindCached = true)
	{
		auto Outcome = std::make_shared<FDownloadOutcome>();
		UOrvaAsyncImageDownloader* Downloader = UOrvaAsyncImageDownloader::DownloadImage(*Host, Url);
		// Nothing fires inside Start: binding after the factory is in time.
		QObject::connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadSucceeded, &Keeper,
		                 [this, Outcome](UTexture2DDynamic* Texture)
		                 {
			                 ++Outcome->Succeeded;
			                 Outcome->Texture = Texture;
			                 Texture->setParent(&Keeper);
		                 });
		QObject::connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadFailed, &Keeper,
		                 [Outcome](UTexture2DDynamic* Texture)
		                 {
			                 EXPECT_EQ(Texture, nullptr);
			                 ++Outcome->Failed;
		                 });
		if (bBindCached)
		{
			Downloader->OnImageCached.BindUObject(&Keeper,
			                                      [Outcome](QString CachedUrl, UTexture2DDynamic*)
			                                      {
				                                      EXPECT_EQ(Outcome->Succeeded, 1)
				                                          << "the cache hears of it after the listeners";
				                                      ++Outcome->Cached;
				                                      Outcome->CachedUrl = CachedUrl;
			                                      });
		}
		EXPECT_EQ(Outcome->Succeeded + Outcome->Failed, 0);
		FGameThread::RunUntil([&] { return Outcome->Succeeded + Outcome->Failed > 0; }, 10000);
		FGameThread::RunUntilIdle(20);
		return Outcome;
	}

	QObject Keeper;
};

TEST_F(ImageDownloadTest, PngJpegAndBmpBodiesBecomeTexturesOfTheirSize)
{
	const QImage Picture = PatternImage(40, 24);
	for (const char* Format : {"png", "jpeg", "bmp"})
	{
		SCOPED_TRACE(Format);
		Server.Enqueue(ImageAnswer(EncodeImage(Picture, Format)));
		const auto Outcome = Download(Server.Url(QStringLiteral("/files/shot")));
		ASSERT_EQ(Outcome->Succeeded, 1);
		EXPECT_EQ(Outcome->Failed, 0);
		EXPECT_EQ(Outcome->Cached, 1);
		EXPECT_EQ(Outcome->CachedUrl, Server.Url(QStringLiteral("/files/shot")));
		ASSERT_TRUE(Outcome->Texture);
		EXPECT_EQ(Outcome->Texture->GetSizeX(), 40);
		EXPECT_EQ(Outcome->Texture->GetSizeY(), 24);
		EXPECT_EQ(Outcome->Texture->GetPixelFormat(), PF_B8G8R8A8);
		EXPECT_TRUE(Outcome->Texture->SRGB);
		Host->RenderThread().Flush();
		ASSERT_TRUE(Outcome->Texture->HasPixels());
		if (QByteArray(Format) != "jpeg")
		{
			EXPECT_EQ(Outcome->Texture->ToImage(), Picture.convertToFormat(QImage::Format_ARGB32));
		}
	}
	// A GET with nothing of the plugin's own: no authorization, no body.
	ASSERT_EQ(Server.RequestCount(), 3);
	const auto& Request = Server.Requests()[0];
	EXPECT_EQ(Request.Verb, "GET");
	EXPECT_EQ(Request.Target, "/files/shot");
	EXPECT_TRUE(Request.Header("Authorization").isEmpty());
	EXPECT_TRUE(Request.Body.isEmpty());
}

TEST_F(ImageDownloadTest, GifWebpEmptyAndErrorPagesFailOnce)
{
	QList<QPair<const char*, FLoopbackHttpServer::FAnswer>> Answers = {
	    {"gif", ImageAnswer(TinyGifBytes())},
	    {"webp", ImageAnswer(EncodeImage(PatternImage(8, 8), "webp"))},
	    {"empty 200", ImageAnswer(QByteArray())},
	    {"404 page", ImageAnswer("<html>Not Found</html>", 404)},
	};
	for (const auto& [Name, Answer] : Answers)
	{
		SCOPED_TRACE(Name);
		Server.Enqueue(Answer);
		const auto Outcome = Download(Server.Url(QStringLiteral("/x")));
		EXPECT_EQ(Outcome->Failed, 1);
		EXPECT_EQ(Outcome->Succeeded, 0);
		EXPECT_EQ(Outcome->Cached, 0);
	}
	// An error answer that is an image is still the image.
	Server.Enqueue(ImageAnswer(EncodeImage(PatternImage(5, 3), "png"), 500));
	EXPECT_EQ(Download(Server.Url(QStringLiteral("/y")))->Succeeded, 1);
	// Dropped connections fail too.
	FLoopbackHttpServer::FAnswer Dropped = ImageAnswer(EncodeImage(PatternImage(5, 3), "png"));
	Dropped.bDrop = true;
	Server.Enqueue(Dropped);
	EXPECT_EQ(Download(Server.Url(QStringLiteral("/z")))->Failed, 1);
}

TEST_F(ImageDownloadTest, OnlyWebAddressesAreFetched)
{
	const QString LocalFile = Project.ProjectDir() + QStringLiteral("secret.png");
	Project.WriteFile(QStringLiteral("TestProject/secret.png"), EncodeImage(PatternImage(4, 4), "png"));
	for (const QString& Url :
	     QStringList{QString(QStringLiteral("file://") + LocalFile), QStringLiteral("ftp://127.0.0.1/x.png"),
	                 QStringLiteral("httpx://127.0.0.1/x.png"), QStringLiteral("http://"), QString()})
	{
		SCOPED_TRACE(Url.toStdString());
		const auto Outcome = Download(Url);
		EXPECT_EQ(Outcome->Failed, 1);
		EXPECT_EQ(Outcome->Succeeded, 0);
	}
	EXPECT_EQ(Server.RequestCount(), 0);
}

TEST_F(ImageDownloadTest, BodiesAndImagesBeyondTheBoundsFailCleanly)
{
	// A BMP header announcing 9000 x 9000 pixels (over 300 MiB) and nothing more.
	QByteArray Bmp(54, '\0');
	auto Put32 = [&Bmp](int Offset, quint32 Value)
	{
		for (int Index = 0; Index < 4; ++Index)
		{
			Bmp[Offset + Index] = char((Value >> (8 * Index)) & 0xFF);
		}
	};
	Bmp[0] = 'B';
	Bmp[1] = 'M';
	Put32(10, 54);
	Put32(14, 40);
	Put32(18, 9000);
	Put32(22, 9000);
	Bmp[26] = 1;
	Bmp[28] = 32;
	Server.Enqueue(ImageAnswer(Bmp));
	EXPECT_EQ(Download(Server.Url(QStringLiteral("/huge.bmp")))->Failed, 1);

	// A body past the bound is cut off while it arrives.
	QByteArray Large = EncodeImage(PatternImage(4, 4), "png");
	Large.append(QByteArray(int(UOrvaAsyncImageDownloader::MaxBodyBytes), '\0'));
	Server.Enqueue(ImageAnswer(Large));
	EXPECT_EQ(Download(Server.Url(QStringLiteral("/large.png")))->Failed, 1);
}

TEST_F(ImageDownloadTest, ListenersBoundAfterTheEndAreNeverCalledAndUnboundCacheDelegateIsSkipped)
{
	Server.Enqueue(ImageAnswer(EncodeImage(PatternImage(6, 6), "png")));
	UOrvaAsyncImageDownloader* Downloader = new UOrvaAsyncImageDownloader(*Host, &Keeper);
	int Succeeded = 0;
	QObject::connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadSucceeded, &Keeper,
	                 [&Succeeded] { ++Succeeded; });
	Downloader->Start(Server.Url(QStringLiteral("/a.png")));
	EXPECT_EQ(Downloader->CurrUrl, Server.Url(QStringLiteral("/a.png")));
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Succeeded > 0; }, 5000));
	EXPECT_FALSE(Downloader->OnImageCached.IsBound());
	int Late = 0;
	QObject::connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadSucceeded, &Keeper, [&Late] { ++Late; });
	QObject::connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadFailed, &Keeper, [&Late] { ++Late; });
	// Starting again sends nothing.
	Downloader->Start(Server.Url(QStringLiteral("/b.png")));
	FGameThread::RunUntilIdle(100);
	EXPECT_EQ(Late, 0);
	EXPECT_EQ(Succeeded, 1);
	EXPECT_EQ(Server.RequestCount(), 1);
	// An owned downloader stays with its owner after it ended.
	EXPECT_EQ(Downloader->parent(), &Keeper);
	EXPECT_TRUE(Downloader->HasEnded());
}
