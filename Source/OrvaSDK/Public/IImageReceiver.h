#pragma once

#include <QString>

class UTexture2D;
class UTexture2DDynamic;

// What receives an image from the image cache (the thumbnail tiles). Receivers are handed over as
// shared pointers and held weakly while they wait: one that goes away is simply not called.
class IImageReceiver
{
public:
	IImageReceiver() = default;
	IImageReceiver(const IImageReceiver&) = default;
	IImageReceiver& operator=(const IImageReceiver&) = default;
	virtual ~IImageReceiver() = default;

	// A local file's image is ready.
	virtual void OnLocalImageLoaded(UTexture2D* Texture) = 0;
	// A downloaded image is ready; null when its download failed.
	virtual void OnRemoteImageLoaded(UTexture2DDynamic* Texture) = 0;
	// The image's name: a web address or a local file path.
	virtual QString GetImageUrl() = 0;
};
