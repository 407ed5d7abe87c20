#pragma once

#include "Http.h"
#include "Texture.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class FEditorHost;
struct FDecodedImage;

// Downloads one image from a public web address (no authorization) and turns it into a dynamic
// texture. Exactly one of the two events fires, once, on the main thread, never inside Start.
//
// Ownership: a downloader without a parent owns itself and is released after its events fired;
// the image cache parents the downloaders it starts and keeps them. The texture is a child of the
// downloader: a listener that keeps it beyond the event takes it over (QObject::setParent), as the
// image cache does.
class UOrvaAsyncImageDownloader : public QObject
{
	Q_OBJECT
	Q_PROPERTY(QString CurrUrl MEMBER CurrUrl)

public:
	// The single-cast delegate run after OnDownloadSucceeded with the address and the texture. It is
	// bound to a receiver object and dropped when that object goes.
	class FOnImageCached
	{
	public:
		using FFunction = std::function<void(QString, UTexture2DDynamic*)>;
		void BindUObject(QObject* Receiver, FFunction Function);
		void Unbind();
		bool IsBound() const { return Receiver && Function; }
		bool ExecuteIfBound(const QString& Url, UTexture2DDynamic* Texture) const;

	private:
		QPointer<QObject> Receiver;
		FFunction Function;
	};

	// The largest answer body taken in; a longer one is cut off and fails.
	static constexpr qint64 MaxBodyBytes = qint64(64) * 1024 * 1024;

	explicit UOrvaAsyncImageDownloader(FEditorHost& InHost, QObject* Outer = nullptr);
	~UOrvaAsyncImageDownloader() override;

	// Creates a self-owned downloader and starts it with the address.
	static UOrvaAsyncImageDownloader* DownloadImage(FEditorHost& Host, QString URL);

	// Sends the request and returns at once. Only http and https addresses are fetched; any other
	// ends in OnDownloadFailed on a later turn of the event loop.
	void Start(QString URL);

	// Whether one of the events has fired.
	bool HasEnded() const { return bEnded; }
	// The texture once OnDownloadSucceeded fired (null before, after a failure, or once it is gone).
	UTexture2DDynamic* GetTexture() const { return Result; }

	FOnImageCached OnImageCached;
	QString CurrUrl;

Q_SIGNALS:
	void OnDownloadSucceeded(UTexture2DDynamic* Texture);
	void OnDownloadFailed(UTexture2DDynamic* Texture);

private:
	void HandleImageRequest(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	// Back on the main thread after the pool decoded the body (null when nothing decoded).
	void HandleDecodedImage(std::shared_ptr<FDecodedImage> Image);
	void Fail();
	// Gives up the self-ownership once the events fired, unless an owner took the downloader.
	void Release();

	// A success answer's body, as it arrived.
	struct FBodyChunks
	{
		QList<QByteArray> Parts;
		qint64 Size = 0;
	};

	FEditorHost& Host;
	std::shared_ptr<FBodyChunks> Body;
	QPointer<UTexture2DDynamic> Result;
	bool bStarted = false;
	bool bEnded = false;
};
