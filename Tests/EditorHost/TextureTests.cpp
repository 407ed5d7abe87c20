#include "GameThread.h"
#include "ImageWrapper.h"
#include "RenderThread.h"
#include "Texture.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageWriter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <future>

namespace
{
// A 3 x 2 picture whose pixels all differ, so that a swapped channel or row shows.
QImage SampleImage()
{
	QImage Image(3, 2, QImage::Format_ARGB32);
	Image.setPixel(0, 0, qRgba(255, 0, 0, 255));
	Image.setPixel(1, 0, qRgba(0, 255, 0, 255));
	Image.setPixel(2, 0, qRgba(0, 0, 255, 255));
	Image.setPixel(0, 1, qRgba(10, 20, 30, 255));
	Image.setPixel(1, 1, qRgba(200, 100, 50, 255));
	Image.setPixel(2, 1, qRgba(255, 255, 255, 255));
	return Image;
}

// The same six colours as 16 x 16 blocks, which survive JPEG's colour subsampling.
QImage BlockImage()
{
	const QImage Small = SampleImage();
	QImage Image(48, 32, QImage::Format_ARGB32);
	for (int Y = 0; Y < 32; ++Y)
	{
		for (int X = 0; X < 48; ++X)
		{
			Image.setPixel(X, Y, Small.pixel(X / 16, Y / 16));
		}
	}
	return Image;
}

QByteArray Encode(const QImage& Image, const char* Format, int Quality = -1)
{
	QByteArray Bytes;
	QBuffer Buffer(&Bytes);
	Buffer.open(QIODevice::WriteOnly);
	QImageWriter Writer(&Buffer, Format);
	Writer.setQuality(Quality);
	EXPECT_TRUE(Writer.write(Image)) << Format << ": " << Writer.errorString().toStdString();
	return Bytes;
}

// The smallest GIF: one transparent pixel. Qt has no GIF writer.
QByteArray TinyGif()
{
	static const unsigned char Bytes[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
	                                      0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04,
	                                      0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01,
	                                      0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
	return QByteArray(reinterpret_cast<const char*>(Bytes), sizeof(Bytes));
}

// A BMP header that announces Width x Height and carries no pixels.
QByteArray BmpHeader(qint32 Width, qint32 Height)
{
	QByteArray Header(54, '\0');
	auto Put32 = [&Header](int Offset, quint32 Value)
	{
		for (int Index = 0; Index < 4; ++Index)
		{
			Header[Offset + Index] = char((Value >> (8 * Index)) & 0xFF);
		}
	};
	Header[0] = 'B';
	Header[1] = 'M';
	Put32(2, 54);
	Put32(10, 54);
	Put32(14, 40);
	Put32(18, quint32(Width));
	Put32(22, quint32(Height));
	Header[26] = 1;
	Header[28] = 32;
	return Header;
}

// B, G, R, A of a pixel of a decoded array.
std::array<int, 4> PixelAt(const std::vector<uint8_t>& Raw, int Width, int X, int Y)
{
	const size_t At = (size_t(Y) * size_t(Width) + size_t(X)) * 4;
	return {Raw[At], Raw[At + 1], Raw[At + 2], Raw[At + 3]};
}
} // namespace

TEST(ImageDecodingTest, PngJpegAndBmpDecodeToBgraRowsOfTheirSize)
{
	const QImage Sample = BlockImage();
	for (const auto& [Format, Expected, Tolerance] :
	     {std::tuple{"png", EImageFormat::PNG, 0}, std::tuple{"jpeg", EImageFormat::JPEG, 12},
	      std::tuple{"bmp", EImageFormat::BMP, 0}})
	{
		SCOPED_TRACE(Format);
		FDecodedImage Decoded;
		ASSERT_TRUE(FImageDecoding::DecodeBgra(Encode(Sample, Format, 100), Decoded));
		EXPECT_EQ(Decoded.Format, Expected);
		ASSERT_EQ(Decoded.Width, 48);
		ASSERT_EQ(Decoded.Height, 32);
		ASSERT_EQ(Decoded.Pixels.size(), size_t(48 * 32 * 4));
		// Lossless formats must match everywhere; JPEG inside its blocks.
		const int Step = Tolerance ? 16 : 1;
		const int Offset = Tolerance ? 8 : 0;
		for (int Y = Offset; Y < 32; Y += Step)
		{
			for (int X = Offset; X < 48; X += Step)
			{
				const QRgb Want = Sample.pixel(X, Y);
				const auto Got = PixelAt(Decoded.Pixels, 48, X, Y);
				ASSERT_NEAR(Got[0], qBlue(Want), Tolerance) << X << "," << Y;
				ASSERT_NEAR(Got[1], qGreen(Want), Tolerance) << X << "," << Y;
				ASSERT_NEAR(Got[2], qRed(Want), Tolerance) << X << "," << Y;
				ASSERT_EQ(Got[3], 255);
			}
		}
	}
}

TEST(ImageDecodingTest, DecodersAreBoundToTheirFormat)
{
	const QByteArray Png = Encode(SampleImage(), "png");
	FImageWrapper Jpeg(EImageFormat::JPEG);
	EXPECT_FALSE(Jpeg.SetCompressed(Png));
	FImageWrapper Bmp(EImageFormat::BMP);
	EXPECT_FALSE(Bmp.SetCompressed(Png));
	FImageWrapper PngWrapper(EImageFormat::PNG);
	ASSERT_TRUE(PngWrapper.SetCompressed(Png));
	std::vector<uint8_t> Raw;
	EXPECT_FALSE(PngWrapper.GetRaw(ERGBFormat::Invalid, 8, Raw));
	EXPECT_FALSE(PngWrapper.GetRaw(ERGBFormat::BGRA, 16, Raw));
	EXPECT_TRUE(PngWrapper.GetRaw(ERGBFormat::BGRA, 8, Raw));
}

TEST(ImageDecodingTest, GifWebpEmptyAndGarbageFailThoughQtCouldReadSome)
{
	QList<QPair<const char*, QByteArray>> Refused = {{"gif", TinyGif()},
	                                                 {"empty", QByteArray()},
	                                                 {"text", QByteArrayLiteral("<html>Not Found</html>")},
	                                                 {"truncated png", Encode(SampleImage(), "png").left(20)}};
	if (QImageWriter::supportedImageFormats().contains("webp"))
	{
		Refused.append({"webp", Encode(SampleImage(), "webp")});
	}
	for (const auto& [Name, Bytes] : Refused)
	{
		SCOPED_TRACE(Name);
		FDecodedImage Decoded;
		EXPECT_FALSE(FImageDecoding::DecodeBgra(Bytes, Decoded));
	}
	// The refusal is ours: Qt's own guessing would have read the GIF.
	EXPECT_FALSE(QImage::fromData(TinyGif()).isNull());
}

TEST(ImageDecodingTest, AnnouncedSizesBeyondTheBoundsAreRefusedBeforeDecoding)
{
	FImageWrapper Bmp(EImageFormat::BMP);
	EXPECT_TRUE(Bmp.SetCompressed(BmpHeader(64, 64)));
	EXPECT_FALSE(Bmp.SetCompressed(BmpHeader(MaxTextureDimension + 1, 1)));
	// Each side within bounds, the pixels together beyond them.
	EXPECT_FALSE(Bmp.SetCompressed(BmpHeader(9000, 9000)));
	EXPECT_FALSE(IsTextureSizeAllowed(0, 10));
	EXPECT_TRUE(IsTextureSizeAllowed(8192, 8192));
	EXPECT_FALSE(IsTextureSizeAllowed(8192, 8193));
}

TEST(ImageUtilsTest, ImportsImageFilesAndRefusesOthers)
{
	QTemporaryDir Dir;
	auto Write = [&Dir](const QString& Name, const QByteArray& Bytes)
	{
		QFile File(Dir.filePath(Name));
		EXPECT_TRUE(File.open(QIODevice::WriteOnly));
		File.write(Bytes);
		return File.fileName();
	};
	// The name's extension does not decide: a PNG named .jpg is read as the PNG it is.
	const QString Png = Write(QStringLiteral("shot.jpg"), Encode(SampleImage(), "png"));
	std::unique_ptr<UTexture2D> Texture(FImageUtils::ImportFileAsTexture2D(Png));
	ASSERT_TRUE(Texture);
	EXPECT_EQ(Texture->GetSizeX(), 3);
	EXPECT_EQ(Texture->GetSizeY(), 2);
	EXPECT_EQ(Texture->GetPixelFormat(), PF_B8G8R8A8);
	ASSERT_TRUE(Texture->HasPixels());
	EXPECT_EQ(Texture->ToImage().pixel(1, 1), SampleImage().pixel(1, 1));

	EXPECT_EQ(FImageUtils::ImportFileAsTexture2D(Write(QStringLiteral("a.gif"), TinyGif())), nullptr);
	EXPECT_EQ(FImageUtils::ImportFileAsTexture2D(Dir.filePath(QStringLiteral("missing.png"))), nullptr);
	EXPECT_EQ(FImageUtils::ImportFileAsTexture2D(Dir.path()), nullptr);
	// A pipe is refused, not opened: opening it would wait for a writer forever.
	const QByteArray Fifo = QFile::encodeName(Dir.filePath(QStringLiteral("pipe.png")));
	ASSERT_EQ(::mkfifo(Fifo.constData(), 0600), 0);
	EXPECT_EQ(FImageUtils::ImportFileAsTexture2D(QFile::decodeName(Fifo)), nullptr);
}

TEST(RenderThreadTest, RunsCommandsInOrderOffTheMainThread)
{
	FRenderThread Render;
	std::vector<int> Order;
	std::atomic<bool> bOffMain{true};
	QThread* Main = QThread::currentThread();
	for (int Index = 0; Index < 50; ++Index)
	{
		Render.Enqueue("Record",
		               [&, Index]
		               {
			               bOffMain = bOffMain && QThread::currentThread() != Main && Render.IsInRenderingThread();
			               Order.push_back(Index);
		               });
	}
	Render.Flush();
	ASSERT_EQ(Order.size(), 50u);
	for (int Index = 0; Index < 50; ++Index)
	{
		EXPECT_EQ(Order[size_t(Index)], Index);
	}
	EXPECT_TRUE(bOffMain);
	EXPECT_FALSE(Render.IsInRenderingThread());
	EXPECT_EQ(Render.GetExecutedCount(), 50u);
}

TEST(RenderThreadTest, CommandsStillQueuedRunBeforeTheThreadEnds)
{
	std::atomic<int> Ran{0};
	{
		FRenderThread Render;
		std::promise<void> Gate;
		std::shared_future<void> Open = Gate.get_future().share();
		Render.Enqueue("Hold", [Open] { Open.wait(); });
		for (int Index = 0; Index < 10; ++Index)
		{
			Render.Enqueue("Count", [&Ran] { ++Ran; });
		}
		Gate.set_value();
	}
	EXPECT_EQ(Ran, 10);
}

class DynamicTextureTest : public ::testing::Test
{
protected:
	FRenderThread Render;
	std::promise<void> Gate;

	// Holds the render thread until Release(), so a test sees the state before a command ran.
	void Hold()
	{
		std::shared_future<void> Open = Gate.get_future().share();
		Render.Enqueue("Hold", [Open] { Open.wait(); });
	}
	void Release() { Gate.set_value(); }
};

TEST_F(DynamicTextureTest, PixelsAreMovedInAndWrittenOnTheRenderThreadAfterTheTextureIsKnown)
{
	std::unique_ptr<UTexture2DDynamic> Texture(UTexture2DDynamic::Create(3, 2, PF_B8G8R8A8, true));
	ASSERT_TRUE(Texture);
	EXPECT_TRUE(Texture->SRGB);
	EXPECT_EQ(Texture->GetResource(), nullptr);
	std::vector<uint8_t> Raw(3 * 2 * 4, 0);
	EXPECT_FALSE(EnqueueWriteRawDataToTexture(Render, Texture.get(), std::vector<uint8_t>(Raw)));
	Texture->UpdateResource();
	ASSERT_NE(Texture->GetResource(), nullptr);

	for (size_t Index = 0; Index < Raw.size(); ++Index)
	{
		Raw[Index] = uint8_t(Index * 7);
	}
	const void* Address = Raw.data();
	QSignalSpy Written(Texture.get(), &UTexture::OnPixelsWritten);
	Hold();
	ASSERT_TRUE(EnqueueWriteRawDataToTexture(Render, Texture.get(), std::move(Raw)));
	// Enqueued, not written: whoever got the texture sees no pixels yet and draws nothing.
	EXPECT_FALSE(Texture->HasPixels());
	EXPECT_TRUE(Texture->ToImage().isNull());
	Release();
	Render.Flush();
	EXPECT_TRUE(Texture->HasPixels());
	EXPECT_EQ(Texture->GetResource()->GetRawDataAddress(), Address);
	// The notice reaches the main thread through its event loop.
	EXPECT_EQ(Written.count(), 0);
	ASSERT_TRUE(Written.wait(2000));
	const std::vector<uint8_t> Copy = Texture->GetResource()->CopyPixels();
	ASSERT_EQ(Copy.size(), size_t(24));
	EXPECT_EQ(Copy[5], uint8_t(35));
	// BGRA bytes 0..3 of the first pixel: blue 0, green 7, red 14, alpha 21.
	EXPECT_EQ(Texture->ToImage().pixel(0, 0), qRgba(14, 7, 0, 21));
}

TEST_F(DynamicTextureTest, AWrongSizedArrayWritesNothingAndADeadTextureIsNoHarm)
{
	std::unique_ptr<UTexture2DDynamic> Texture(UTexture2DDynamic::Create(4, 4));
	Texture->UpdateResource();
	ASSERT_TRUE(EnqueueWriteRawDataToTexture(Render, Texture.get(), std::vector<uint8_t>(10, 1)));
	Render.Flush();
	EXPECT_FALSE(Texture->HasPixels());

	Hold();
	ASSERT_TRUE(EnqueueWriteRawDataToTexture(Render, Texture.get(), std::vector<uint8_t>(64, 1)));
	Texture.reset();
	Release();
	Render.Flush();
	FGameThread::RunUntilIdle(20);

	EXPECT_EQ(UTexture2DDynamic::Create(0, 4), nullptr);
	EXPECT_EQ(UTexture2DDynamic::Create(4, 4, PF_Unknown), nullptr);
	EXPECT_EQ(UTexture2DDynamic::Create(MaxTextureDimension + 1, 1), nullptr);
}
