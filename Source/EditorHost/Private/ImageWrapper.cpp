#include "ImageWrapper.h"

#include "Texture.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QtEndian>

#include <cstring>

namespace
{
QByteArray FormatName(EImageFormat Format)
{
	switch (Format)
	{
	case EImageFormat::PNG:
		return QByteArrayLiteral("png");
	case EImageFormat::JPEG:
		return QByteArrayLiteral("jpeg");
	case EImageFormat::BMP:
		return QByteArrayLiteral("bmp");
	case EImageFormat::Invalid:
		break;
	}
	return QByteArray();
}
} // namespace

FImageWrapper::FImageWrapper(EImageFormat InFormat)
    : Format(InFormat)
{
}

FImageWrapper::~FImageWrapper() = default;

bool FImageWrapper::SetCompressed(const QByteArray& Data)
{
	Reader.reset();
	Buffer.close();
	Width = 0;
	Height = 0;
	const QByteArray Name = FormatName(Format);
	if (Name.isEmpty() || Data.isEmpty() || Data.size() > FImageDecoding::MaxCompressedBytes)
	{
		return false;
	}
	Compressed = Data;
	Buffer.setBuffer(&Compressed);
	if (!Buffer.open(QIODevice::ReadOnly))
	{
		return false;
	}
	Reader = std::make_unique<QImageReader>(&Buffer, Name);
	Reader->setAutoDetectImageFormat(false);
	Reader->setDecideFormatFromContent(false);
	if (!Reader->canRead())
	{
		Reader.reset();
		return false;
	}
	const QSize Size = Reader->size();
	if (!Size.isValid() || !IsTextureSizeAllowed(Size.width(), Size.height()))
	{
		Reader.reset();
		return false;
	}
	Width = Size.width();
	Height = Size.height();
	return true;
}

bool FImageWrapper::GetRaw(ERGBFormat InFormat, int InBitDepth, std::vector<uint8_t>& OutRawData)
{
	if (!Reader || InFormat != ERGBFormat::BGRA || InBitDepth != 8)
	{
		return false;
	}
	QImage Image;
	if (!Reader->read(&Image) || Image.isNull())
	{
		return false;
	}
	// A header that announced one size and data of another is refused, not trusted.
	if (Image.width() != Width || Image.height() != Height)
	{
		return false;
	}
	if (Image.format() != QImage::Format_ARGB32)
	{
		Image.convertTo(QImage::Format_ARGB32);
		if (Image.isNull())
		{
			return false;
		}
	}
	const size_t RowBytes = size_t(Width) * 4;
	OutRawData.resize(RowBytes * size_t(Height));
	for (int Row = 0; Row < Height; ++Row)
	{
		uint8_t* Target = OutRawData.data() + RowBytes * size_t(Row);
		std::memcpy(Target, Image.constScanLine(Row), RowBytes);
		if constexpr (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
		{
			// Format_ARGB32 holds a 32-bit word per pixel; BGRA is its little-endian byte order.
			for (int Column = 0; Column < Width; ++Column)
			{
				quint32 Word;
				std::memcpy(&Word, Target + Column * 4, 4);
				qToLittleEndian(Word, Target + Column * 4);
			}
		}
	}
	return true;
}

std::unique_ptr<FImageWrapper> FImageWrapperModule::CreateImageWrapper(EImageFormat Format)
{
	if (Format == EImageFormat::Invalid)
	{
		return nullptr;
	}
	return std::make_unique<FImageWrapper>(Format);
}

bool FImageDecoding::DecodeBgra(const QByteArray& Data, FDecodedImage& Out)
{
	for (const EImageFormat Format : TryOrder)
	{
		const std::unique_ptr<FImageWrapper> Wrapper = FImageWrapperModule::CreateImageWrapper(Format);
		std::vector<uint8_t> Raw;
		if (Wrapper->SetCompressed(Data) && Wrapper->GetRaw(ERGBFormat::BGRA, 8, Raw))
		{
			Out.Width = Wrapper->GetWidth();
			Out.Height = Wrapper->GetHeight();
			Out.Format = Format;
			Out.Pixels = std::move(Raw);
			return true;
		}
	}
	return false;
}

UTexture2D* FImageUtils::ImportFileAsTexture2D(const QString& FilePath, QObject* Outer)
{
	// Only regular files: opening a pipe or a device would block the caller's thread.
	const QFileInfo Info(FilePath);
	QFile File(FilePath);
	if (FilePath.isEmpty() || !Info.isFile() || Info.size() > FImageDecoding::MaxCompressedBytes ||
	    !File.open(QIODevice::ReadOnly))
	{
		return nullptr;
	}
	const QByteArray Data = File.read(FImageDecoding::MaxCompressedBytes + 1);
	if (Data.size() > FImageDecoding::MaxCompressedBytes)
	{
		return nullptr;
	}
	FDecodedImage Image;
	if (!FImageDecoding::DecodeBgra(Data, Image))
	{
		return nullptr;
	}
	return UTexture2D::CreateTransient(Image.Width, Image.Height, PF_B8G8R8A8, std::move(Image.Pixels), Outer);
}
