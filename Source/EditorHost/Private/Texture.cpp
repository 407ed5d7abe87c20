#include "Texture.h"

#include "RenderThread.h"

#include <QCoreApplication>
#include <QPointer>
#include <QtEndian>

#include <cstring>

bool IsTextureSizeAllowed(qint64 SizeX, qint64 SizeY)
{
	return SizeX > 0 && SizeY > 0 && SizeX <= MaxTextureDimension && SizeY <= MaxTextureDimension &&
	       SizeX * SizeY * 4 <= MaxTextureBytes;
}

FTextureResource::FTextureResource(int InSizeX, int InSizeY)
    : SizeX(InSizeX)
    , SizeY(InSizeY)
{
}

FTextureResource::~FTextureResource() = default;

bool FTextureResource::HasPixels() const
{
	std::lock_guard Lock(Mutex);
	return bHasPixels;
}

std::vector<uint8_t> FTextureResource::CopyPixels() const
{
	std::lock_guard Lock(Mutex);
	return Pixels;
}

QImage FTextureResource::ToImage() const
{
	std::lock_guard Lock(Mutex);
	if (!bHasPixels)
	{
		return QImage();
	}
	QImage Image(SizeX, SizeY, QImage::Format_ARGB32);
	if (Image.isNull())
	{
		return Image;
	}
	const qsizetype RowBytes = qsizetype(SizeX) * 4;
	for (int Row = 0; Row < SizeY; ++Row)
	{
		uchar* Line = Image.scanLine(Row);
		std::memcpy(Line, Pixels.data() + Row * RowBytes, size_t(RowBytes));
		if constexpr (Q_BYTE_ORDER != Q_LITTLE_ENDIAN)
		{
			// Format_ARGB32 is a 32-bit word per pixel; BGRA bytes are that word in little-endian.
			auto* Words = reinterpret_cast<quint32*>(Line);
			for (int Column = 0; Column < SizeX; ++Column)
			{
				Words[Column] = qFromLittleEndian(Words[Column]);
			}
		}
	}
	return Image;
}

const void* FTextureResource::GetRawDataAddress() const
{
	std::lock_guard Lock(Mutex);
	return Pixels.data();
}

bool FTextureResource::StorePixels(std::vector<uint8_t>&& RawData)
{
	if (qsizetype(RawData.size()) != GetExpectedByteCount())
	{
		return false;
	}
	std::vector<uint8_t> Old;
	{
		std::lock_guard Lock(Mutex);
		Old.swap(Pixels);
		Pixels = std::move(RawData);
		bHasPixels = true;
	}
	return true;
}

bool FTexture2DDynamicResource::WriteRawToTexture_RenderThread(std::vector<uint8_t>&& RawData)
{
	return StorePixels(std::move(RawData));
}

UTexture::UTexture(int InSizeX, int InSizeY, EPixelFormat InFormat, QObject* Outer)
    : QObject(Outer)
    , SizeX(InSizeX)
    , SizeY(InSizeY)
    , Format(InFormat)
{
}

UTexture::~UTexture() = default;

namespace
{
class FTexture2DResource final : public FTextureResource
{
public:
	FTexture2DResource(int InSizeX, int InSizeY, std::vector<uint8_t>&& RawData, bool& bOutStored)
	    : FTextureResource(InSizeX, InSizeY)
	{
		bOutStored = StorePixels(std::move(RawData));
	}
};
} // namespace

UTexture2D::UTexture2D(int InSizeX, int InSizeY, EPixelFormat InFormat, QObject* Outer)
    : UTexture(InSizeX, InSizeY, InFormat, Outer)
{
}

UTexture2D* UTexture2D::CreateTransient(int InSizeX, int InSizeY, EPixelFormat InFormat, std::vector<uint8_t>&& RawData,
                                        QObject* Outer)
{
	if (InFormat != PF_B8G8R8A8 || !IsTextureSizeAllowed(InSizeX, InSizeY))
	{
		return nullptr;
	}
	bool bStored = false;
	auto Resource = std::make_shared<FTexture2DResource>(InSizeX, InSizeY, std::move(RawData), bStored);
	if (!bStored)
	{
		return nullptr;
	}
	auto* Texture = new UTexture2D(InSizeX, InSizeY, InFormat, Outer);
	Texture->Resource = std::move(Resource);
	return Texture;
}

UTexture2DDynamic::UTexture2DDynamic(int InSizeX, int InSizeY, EPixelFormat InFormat, QObject* Outer)
    : UTexture(InSizeX, InSizeY, InFormat, Outer)
{
}

UTexture2DDynamic* UTexture2DDynamic::Create(int InSizeX, int InSizeY, EPixelFormat InFormat, bool bInSRGB,
                                             QObject* Outer)
{
	if (InFormat != PF_B8G8R8A8 || !IsTextureSizeAllowed(InSizeX, InSizeY))
	{
		return nullptr;
	}
	auto* Texture = new UTexture2DDynamic(InSizeX, InSizeY, InFormat, Outer);
	Texture->SRGB = bInSRGB;
	return Texture;
}

void UTexture2DDynamic::UpdateResource()
{
	if (!Resource)
	{
		Resource = std::make_shared<FTexture2DDynamicResource>(SizeX, SizeY);
	}
}

FTexture2DDynamicResource* UTexture2DDynamic::GetResource() const
{
	return static_cast<FTexture2DDynamicResource*>(Resource.get());
}

std::shared_ptr<FTexture2DDynamicResource> UTexture2DDynamic::GetResourceShared() const
{
	return std::static_pointer_cast<FTexture2DDynamicResource>(Resource);
}

namespace
{
class FWriteRawDataToTexture final : public FRenderCommand
{
public:
	FWriteRawDataToTexture(std::shared_ptr<FTexture2DDynamicResource> InResource, QPointer<UTexture2DDynamic> InTexture,
	                       std::vector<uint8_t>&& InRawData)
	    : Resource(std::move(InResource))
	    , Texture(std::move(InTexture))
	    , RawData(std::move(InRawData))
	{
	}

	const char* GetName() const override { return "FWriteRawDataToTexture"; }

	void Execute() override
	{
		if (!Resource->WriteRawToTexture_RenderThread(std::move(RawData)))
		{
			return;
		}
		// The guarded pointer is only read on the main thread, where the texture lives and dies.
		if (QCoreApplication* App = QCoreApplication::instance())
		{
			QMetaObject::invokeMethod(
			    App,
			    [Target = std::move(Texture)]
			    {
				    if (Target)
				    {
					    Q_EMIT Target->OnPixelsWritten();
				    }
			    },
			    Qt::QueuedConnection);
		}
	}

private:
	std::shared_ptr<FTexture2DDynamicResource> Resource;
	QPointer<UTexture2DDynamic> Texture;
	std::vector<uint8_t> RawData;
};
} // namespace

bool EnqueueWriteRawDataToTexture(FRenderThread& RenderThread, UTexture2DDynamic* Texture,
                                  std::vector<uint8_t>&& RawData)
{
	if (!Texture || !Texture->GetResource())
	{
		return false;
	}
	RenderThread.Enqueue(std::make_unique<FWriteRawDataToTexture>(
	    Texture->GetResourceShared(), QPointer<UTexture2DDynamic>(Texture), std::move(RawData)));
	return true;
}
