#pragma once

#include "IImageReceiver.h"
#include "Texture.h"

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <QPointer>

#include <gtest/gtest.h>

// Test pictures: Width x Height, each pixel's colour made from its position.
inline QImage PatternImage(int Width, int Height)
{
	QImage Image(Width, Height, QImage::Format_ARGB32);
	for (int Y = 0; Y < Height; ++Y)
	{
		for (int X = 0; X < Width; ++X)
		{
			Image.setPixel(X, Y, qRgba((X * 37) & 0xFF, (Y * 59) & 0xFF, ((X + Y) * 11) & 0xFF, 255));
		}
	}
	return Image;
}

inline QByteArray EncodeImage(const QImage& Image, const char* Format)
{
	QByteArray Bytes;
	QBuffer Buffer(&Bytes);
	Buffer.open(QIODevice::WriteOnly);
	QImageWriter Writer(&Buffer, Format);
	EXPECT_TRUE(Writer.write(Image)) << Format;
	return Bytes;
}

// One transparent pixel; Qt reads GIF but writes none.
inline QByteArray TinyGifBytes()
{
	static const unsigned char Bytes[] = {0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x01, 0x00, 0x80,
	                                      0x00, 0x00, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04,
	                                      0x01, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x01,
	                                      0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x44, 0x01, 0x00, 0x3B};
	return QByteArray(reinterpret_cast<const char*>(Bytes), sizeof(Bytes));
}

// A receiver that records what it was given.
class FRecordingReceiver : public IImageReceiver
{
public:
	explicit FRecordingReceiver(QString InUrl)
	    : Url(std::move(InUrl))
	{
	}
	void OnLocalImageLoaded(UTexture2D* Texture) override
	{
		++LocalCalls;
		Local = Texture;
	}
	void OnRemoteImageLoaded(UTexture2DDynamic* Texture) override
	{
		++RemoteCalls;
		Remote = Texture;
	}
	QString GetImageUrl() override
	{
		++UrlCalls;
		return Url;
	}

	QString Url;
	int LocalCalls = 0;
	int RemoteCalls = 0;
	int UrlCalls = 0;
	QPointer<UTexture2D> Local;
	QPointer<UTexture2DDynamic> Remote;
};
