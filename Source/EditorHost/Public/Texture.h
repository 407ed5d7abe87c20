#pragma once

#include <QImage>
#include <QObject>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class FRenderThread;

enum EPixelFormat : quint8
{
	PF_Unknown = 0,
	// Four bytes a pixel in the order blue, green, red, alpha.
	PF_B8G8R8A8 = 1,
};

// The pixels of a texture: rows of SizeX * 4 bytes, top row first, no padding.
//
// Reading pixels is safe from any thread: every access goes through the resource's lock, and what a
// reader gets is its own copy. A dynamic texture's pixels are written later, on the render thread;
// the texture then tells the main thread (UTexture::OnPixelsWritten), which is when whatever draws
// it should look again. Before that a reader sees no pixels (HasPixels() false).
class FTextureResource
{
public:
	FTextureResource(int InSizeX, int InSizeY);
	virtual ~FTextureResource();

	int GetSizeX() const { return SizeX; }
	int GetSizeY() const { return SizeY; }
	qsizetype GetExpectedByteCount() const { return qsizetype(SizeX) * SizeY * 4; }

	bool HasPixels() const;
	std::vector<uint8_t> CopyPixels() const;
	// A deep copy that QPainter can draw (QImage::Format_ARGB32, whose bytes are BGRA on
	// little-endian machines); a null image until the pixels are written.
	QImage ToImage() const;
	// Where the stored pixel array lies, so a test can tell that an array was moved in, not copied.
	const void* GetRawDataAddress() const;

protected:
	// Takes the array over; false (and nothing stored) when its size does not match the texture.
	bool StorePixels(std::vector<uint8_t>&& RawData);

private:
	const int SizeX;
	const int SizeY;
	mutable std::mutex Mutex;
	std::vector<uint8_t> Pixels;
	bool bHasPixels = false;
};

class FTexture2DDynamicResource final : public FTextureResource
{
public:
	using FTextureResource::FTextureResource;
	// Render thread only. The array is moved in; a size that does not match writes nothing.
	bool WriteRawToTexture_RenderThread(std::vector<uint8_t>&& RawData);
};

// A texture object. Its resource is shared with the render commands that write it, so a command
// still queued when the texture goes away writes into memory it keeps alive, never into freed
// memory.
class UTexture : public QObject
{
	Q_OBJECT

public:
	~UTexture() override;

	int GetSizeX() const { return SizeX; }
	int GetSizeY() const { return SizeY; }
	EPixelFormat GetPixelFormat() const { return Format; }
	bool HasPixels() const { return Resource && Resource->HasPixels(); }
	QImage ToImage() const { return Resource ? Resource->ToImage() : QImage(); }

	bool SRGB = true;

Q_SIGNALS:
	// On the main thread, once the pixels are there to draw.
	void OnPixelsWritten();

protected:
	UTexture(int InSizeX, int InSizeY, EPixelFormat InFormat, QObject* Outer);

	int SizeX;
	int SizeY;
	EPixelFormat Format;
	std::shared_ptr<FTextureResource> Resource;
};

// A texture made from an image file; its pixels are there from the start.
class UTexture2D final : public UTexture
{
	Q_OBJECT

public:
	// Null when the array's size does not match or the size is out of bounds.
	static UTexture2D* CreateTransient(int InSizeX, int InSizeY, EPixelFormat InFormat, std::vector<uint8_t>&& RawData,
	                                   QObject* Outer = nullptr);

private:
	UTexture2D(int InSizeX, int InSizeY, EPixelFormat InFormat, QObject* Outer);
};

// A texture whose pixels are written later by a render command.
class UTexture2DDynamic final : public UTexture
{
	Q_OBJECT

public:
	// Null for a size out of bounds or a format other than PF_B8G8R8A8.
	static UTexture2DDynamic* Create(int InSizeX, int InSizeY, EPixelFormat InFormat = PF_B8G8R8A8, bool bInSRGB = true,
	                                 QObject* Outer = nullptr);

	// Creates the render resource (there is none before the first call).
	void UpdateResource();
	FTexture2DDynamicResource* GetResource() const;
	std::shared_ptr<FTexture2DDynamicResource> GetResourceShared() const;

private:
	UTexture2DDynamic(int InSizeX, int InSizeY, EPixelFormat InFormat, QObject* Outer);
};

// The render command that fills a dynamic texture: it owns the pixel array (moved in by the
// caller), writes it into the resource on the render thread, then tells the texture on the main
// thread. False when the texture has no resource (nothing is enqueued then).
bool EnqueueWriteRawDataToTexture(FRenderThread& RenderThread, UTexture2DDynamic* Texture,
                                  std::vector<uint8_t>&& RawData);

// What any texture may hold: each side at most MaxTextureDimension and at most MaxTextureBytes of
// pixels, so that no answer from outside can make the host allocate without bound.
inline constexpr int MaxTextureDimension = 16384;
inline constexpr qint64 MaxTextureBytes = qint64(256) * 1024 * 1024;
bool IsTextureSizeAllowed(qint64 SizeX, qint64 SizeY);
