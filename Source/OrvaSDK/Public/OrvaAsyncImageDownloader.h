#pragma once

#include "EditorJob.h"
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
// texture. It is a job: its progress is the bytes received, and it ends once, on the main thread,
// never inside Start. At the end the job finishes first (HasEnded is true from then on, with the
// cause when it failed), then exactly one of the two events fires; a cancelled download fires
// OnDownloadFailed.
//
// Ownership: a downloader without a parent owns itself and is released after its events fired;
// the image cache parents the downloaders it starts and keeps them. The texture is a child of the
// downloader: a listener that keeps it beyond the event takes it over (QObject::setParent), as the
// image cache does.
class UOrvaAsyncImageDownloader : public UEditorJob
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
	// ends in OnDownloadFailed on a later turn of the event loop. A downloader that runs or has
	// ended is not started again.
	void Start(QString URL);

	// The texture once OnDownloadSucceeded fired (null before, after a failure, or once it is gone).
	UTexture2DDynamic* GetTexture() const { return Result; }

	FOnImageCached OnImageCached;
	QString CurrUrl;

Q_SIGNALS:
	void OnDownloadSucceeded(UTexture2DDynamic* Texture);
	void OnDownloadFailed(UTexture2DDynamic* Texture);

protected:
	void DoStart() override;
	// Aborts the request under way, or drops the image being decoded; the download then ends as
	// cancelled.
	bool DoCancel() override;

private:
	void HandleImageRequest(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	// Back on the main thread after the pool decoded the body (null when nothing decoded).
	void HandleDecodedImage(std::shared_ptr<FDecodedImage> Image);
	// Ends the job with Cause (as cancelled once a cancel was asked for) and fires the failure.
	void Fail(const QString& Cause);
	// The job's end keeps the downloader when an owner took it.
	void KeepIfOwned();

	// A success answer's body, as it arrived.
	struct FBodyChunks
	{
		QList<QByteArray> Parts;
		qint64 Size = 0;
	};

	FEditorHost& Host;
	std::shared_ptr<FBodyChunks> Body;
	FHttpRequestPtr Request;
	QPointer<UTexture2DDynamic> Result;
	bool bCancelRequested = false;
};
