#include "OrvaAsyncImageDownloader.h"

#include "EditorHost.h"
#include "GameThread.h"
#include "ImageWrapper.h"
#include "RenderThread.h"
#include "Text.h"
#include "Texture.h"
#include "ThreadPool.h"

#include <QUrl>

#define LOCTEXT_NAMESPACE "OrvaSDK"

void UOrvaAsyncImageDownloader::FOnImageCached::BindUObject(QObject* InReceiver, FFunction InFunction)
{
	Receiver = InReceiver;
	Function = std::move(InFunction);
}

void UOrvaAsyncImageDownloader::FOnImageCached::Unbind()
{
	Receiver.clear();
	Function = nullptr;
}

bool UOrvaAsyncImageDownloader::FOnImageCached::ExecuteIfBound(const QString& Url, UTexture2DDynamic* Texture) const
{
	if (!IsBound())
	{
		return false;
	}
	Function(Url, Texture);
	return true;
}

UOrvaAsyncImageDownloader::UOrvaAsyncImageDownloader(FEditorHost& InHost, QObject* Outer)
    : UEditorJob(Outer)
    , Host(InHost)
{
}

UOrvaAsyncImageDownloader::~UOrvaAsyncImageDownloader() = default;

UOrvaAsyncImageDownloader* UOrvaAsyncImageDownloader::DownloadImage(FEditorHost& Host, QString URL)
{
	auto* Downloader = new UOrvaAsyncImageDownloader(Host);
	Downloader->Start(std::move(URL));
	return Downloader;
}

void UOrvaAsyncImageDownloader::Start(QString URL)
{
	if (GetState() != EEditorJobState::Waiting)
	{
		return;
	}
	CurrUrl = std::move(URL);
	UEditorJob::Start();
}

void UOrvaAsyncImageDownloader::DoStart()
{
	const QString URL = CurrUrl;
	// Anything but http(s) would let an answer from the service make the editor read local files
	// or talk to other protocols.
	const QUrl Parsed(URL, QUrl::StrictMode);
	const QString Scheme = Parsed.scheme().toLower();
	if (!Parsed.isValid() || Parsed.host().isEmpty() ||
	    (Scheme != QLatin1String("http") && Scheme != QLatin1String("https")))
	{
		FGameThread::Post(
		    this,
		    [this] {
			    Fail(LOCTEXT("ImageDownloadCauseAddress", "Only web addresses (http and https) are fetched.")
			             .ToString());
		    });
		return;
	}
	Request = Host.Http().CreateRequest();
	Request->OnProcessRequestComplete(this, [this](FHttpRequestPtr Req, FHttpResponsePtr Resp, bool bOk)
	                                  { HandleImageRequest(Req, Resp, bOk); });
	// A longer body fails the request while it arrives, before it fills memory. A success answer's
	// body is kept as the chunks that arrived: joining them into one array is a copy of the whole
	// image, which the pool does, not the main thread.
	Request->SetResponseBodyLimit(MaxBodyBytes);
	Body = std::make_shared<FBodyChunks>();
	Request->SetResponseSink(this,
	                         [Chunks = Body](const QByteArray& Chunk)
	                         {
		                         Chunks->Size += Chunk.size();
		                         if (Chunks->Size > MaxBodyBytes)
		                         {
			                         return false;
		                         }
		                         Chunks->Parts.append(Chunk);
		                         return true;
	                         });
	Request->OnRequestProgress(this,
	                           [this](FHttpRequestPtr, qint64, qint64 Received) { SetProgress(Received, 0, true); });
	Request->SetURL(URL);
	Request->SetVerb(QStringLiteral("GET"));
	SetCancellable(true);
	Request->ProcessRequest();
}

bool UOrvaAsyncImageDownloader::DoCancel()
{
	if (bCancelRequested)
	{
		return false;
	}
	bCancelRequested = true;
	SetCancellable(false);
	if (Request && !Request->IsFinished())
	{
		// Its completion ends the download.
		Request->CancelRequest();
		return true;
	}
	// Decoding on the pool: what it makes is dropped.
	Fail(QString());
	return true;
}

void UOrvaAsyncImageDownloader::HandleImageRequest(FHttpRequestPtr, FHttpResponsePtr Response, bool bWasSuccessful)
{
	Request.reset();
	if (bCancelRequested)
	{
		Body.reset();
		Fail(QString());
		return;
	}
	// Answers other than 2xx are buffered by the HTTP module; they are tried as images all the same.
	QList<QByteArray> Parts;
	if (Response && Body && Body->Size > 0)
	{
		Parts = std::move(Body->Parts);
	}
	else if (Response && !Response->GetContent().isEmpty())
	{
		Parts.append(Response->GetContent());
	}
	Body.reset();
	qint64 Size = 0;
	for (const QByteArray& Part : Parts)
	{
		Size += Part.size();
	}
	if (!bWasSuccessful || !Response || Size == 0 || Size > MaxBodyBytes)
	{
		Fail(LOCTEXT("ImageDownloadCauseTransfer", "The image could not be fetched.").ToString());
		return;
	}
	// Decoding a large image takes long: it runs on the host's pool, and only the texture is made
	// here. The weak context is all the pool thread holds of this object.
	const FWeakContext Self(this);
	Host.ThreadPool().Run(Self,
	                      [Parts = std::move(Parts), Self]
	                      {
		                      QByteArray Content;
		                      if (Parts.size() == 1)
		                      {
			                      Content = Parts.first();
		                      }
		                      else
		                      {
			                      qsizetype Total = 0;
			                      for (const QByteArray& Part : Parts)
			                      {
				                      Total += Part.size();
			                      }
			                      Content.reserve(Total);
			                      for (const QByteArray& Part : Parts)
			                      {
				                      Content.append(Part);
			                      }
		                      }
		                      auto Image = std::make_shared<FDecodedImage>();
		                      if (!FImageDecoding::DecodeBgra(Content, *Image))
		                      {
			                      Image.reset();
		                      }
		                      AsyncTask(ENamedThreads::GameThread, Self,
		                                [Self, Image]() mutable
		                                {
			                                if (auto* Downloader = qobject_cast<UOrvaAsyncImageDownloader*>(Self.Get()))
			                                {
				                                Downloader->HandleDecodedImage(std::move(Image));
			                                }
		                                });
	                      });
}

void UOrvaAsyncImageDownloader::HandleDecodedImage(std::shared_ptr<FDecodedImage> Image)
{
	if (HasEnded())
	{
		return;
	}
	if (!Image)
	{
		Fail(LOCTEXT("ImageDownloadCauseDecode", "The download is not an image the editor can read.").ToString());
		return;
	}
	UTexture2DDynamic* Texture = UTexture2DDynamic::Create(Image->Width, Image->Height, PF_B8G8R8A8, true, this);
	if (!Texture)
	{
		Fail(LOCTEXT("ImageDownloadCauseDecode", "The download is not an image the editor can read.").ToString());
		return;
	}
	Texture->SRGB = true;
	Texture->UpdateResource();
	if (Texture->GetResource())
	{
		EnqueueWriteRawDataToTexture(Host.RenderThread(), Texture, std::move(Image->Pixels));
	}
	Result = Texture;
	KeepIfOwned();
	FinishSucceeded();
	Q_EMIT OnDownloadSucceeded(Texture);
	OnImageCached.ExecuteIfBound(QString(CurrUrl), Texture);
}

void UOrvaAsyncImageDownloader::Fail(const QString& Cause)
{
	if (HasEnded())
	{
		return;
	}
	KeepIfOwned();
	if (bCancelRequested)
	{
		FinishCancelled(LOCTEXT("UploadCauseCancelled", "Cancelled").ToString());
	}
	else
	{
		FinishFailed(Cause);
	}
	Q_EMIT OnDownloadFailed(nullptr);
}

void UOrvaAsyncImageDownloader::KeepIfOwned()
{
	SetAutoDelete(!parent());
}

#undef LOCTEXT_NAMESPACE
