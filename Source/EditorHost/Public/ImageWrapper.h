#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

class UTexture2D;
class QObject;

enum class EImageFormat : quint8
{
	Invalid,
	PNG,
	JPEG,
	BMP,
};

enum class ERGBFormat : quint8
{
	Invalid,
	BGRA,
};

// A decoder bound to one image format. It never guesses the format from the data: PNG bytes handed
// to the JPEG decoder fail, and formats none of the decoders is bound to (GIF, WebP) fail on all of
// them, even where the image library could read them. Safe to use on any thread, one decoder per
// thread.
class FImageWrapper
{
public:
	explicit FImageWrapper(EImageFormat InFormat);
	~FImageWrapper();
	FImageWrapper(const FImageWrapper&) = delete;
	FImageWrapper& operator=(const FImageWrapper&) = delete;

	EImageFormat GetFormat() const { return Format; }

	// Accepts the compressed bytes when they are of this decoder's format and announce a size within
	// the texture bounds. Only the image's header is read here.
	bool SetCompressed(const QByteArray& Data);
	int GetWidth() const { return Width; }
	int GetHeight() const { return Height; }

	// Decodes the accepted bytes into rows of Width * 4 bytes (8 bits per channel, in the order
	// blue, green, red, alpha). Only BGRA at 8 bits is offered; false for anything else or when the
	// data does not decode.
	bool GetRaw(ERGBFormat InFormat, int InBitDepth, std::vector<uint8_t>& OutRawData);

private:
	EImageFormat Format;
	QByteArray Compressed;
	QBuffer Buffer;
	std::unique_ptr<QImageReader> Reader;
	int Width = 0;
	int Height = 0;
};

class FImageWrapperModule
{
public:
	// Null for EImageFormat::Invalid.
	static std::unique_ptr<FImageWrapper> CreateImageWrapper(EImageFormat Format);
};

// What a decoder found, for callers that try the formats in turn.
struct FDecodedImage
{
	int Width = 0;
	int Height = 0;
	EImageFormat Format = EImageFormat::Invalid;
	std::vector<uint8_t> Pixels;
};

namespace FImageDecoding
{
// The order in which bytes of unknown format are tried.
inline constexpr EImageFormat TryOrder[] = {EImageFormat::PNG, EImageFormat::JPEG, EImageFormat::BMP};
// The largest compressed image the host takes in, from a file or an answer.
inline constexpr qint64 MaxCompressedBytes = qint64(64) * 1024 * 1024;

// Tries the decoders in TryOrder; false when none of them decodes the bytes.
bool DecodeBgra(const QByteArray& Data, FDecodedImage& Out);
} // namespace FImageDecoding

class FImageUtils
{
public:
	// Reads and decodes an image file (PNG, JPEG or BMP) into a texture; null when the file cannot be
	// read, is larger than MaxCompressedBytes or does not decode.
	static UTexture2D* ImportFileAsTexture2D(const QString& FilePath, QObject* Outer = nullptr);
};
