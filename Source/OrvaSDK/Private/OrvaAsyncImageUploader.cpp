#include "OrvaAsyncImageUploader.h"

#include "EditorHost.h"
#include "GameThread.h"
#include "Json.h"
#include "Log.h"
#include "OrvaSDKSubsystem.h"
#include "OrvaServiceJob.h"
#include "Paths.h"
#include "Text.h"

#include <QDateTime>
#include <QFileInfo>

#define LOCTEXT_NAMESPACE "OrvaSDK"

namespace
{
// Ticks from 1 January of year 1 to the Unix epoch.
constexpr qint64 EpochTicks = 621355968000000000LL;
constexpr qint64 TicksPerMillisecond = 10000;

// Why an upload that reached no stored screenshot failed, in the words of the service's requests.
QString ServiceCause(FEditorHost& Host, const FHttpResponsePtr& Response)
{
	if (const auto* Sdk = Host.GetEditorSubsystem<UOrvaSDKSubsystem>())
	{
		return Sdk->DescribeServiceFailure(Response);
	}
	return LOCTEXT("UploadCauseNoSdk", "The SDK is not running.").ToString();
}
} // namespace

UOrvaAsyncImageUploader::UOrvaAsyncImageUploader(FEditorHost& InHost, QObject* Outer)
    : UEditorJob(Outer)
    , Host(InHost)
{
}

UOrvaAsyncImageUploader::~UOrvaAsyncImageUploader() = default;

UOrvaAsyncImageUploader* UOrvaAsyncImageUploader::UploadImage(FEditorHost& Host, QString InLocalPath)
{
	auto* Uploader = new UOrvaAsyncImageUploader(Host);
	Uploader->Start(std::move(InLocalPath));
	return Uploader;
}

qint64 UOrvaAsyncImageUploader::NowTicks()
{
	const QDateTime Now = QDateTime::currentDateTime();
	const qint64 LocalMs = Now.toMSecsSinceEpoch() + qint64(Now.offsetFromUtc()) * 1000;
	return EpochTicks + LocalMs * TicksPerMillisecond;
}

QString UOrvaAsyncImageUploader::MakeBoundary(qint64 Ticks)
{
	const auto Low = qint32(quint32(quint64(Ticks) & 0xFFFFFFFFu));
	return QStringLiteral("---------------------------") + QString::number(Low);
}

QByteArray UOrvaAsyncImageUploader::MultipartPrefix(const QString& Boundary, const QString& EncodedFileName)
{
	return QByteArrayLiteral("\r\n--") + Boundary.toUtf8() +
	       QByteArrayLiteral("\r\nContent-Disposition: form-data; name=\"image\"; filename=\"") +
	       EncodedFileName.toUtf8() + QByteArrayLiteral("\"\r\nContent-Type: image/png\r\n\r\n");
}

QByteArray UOrvaAsyncImageUploader::MultipartSuffix(const QString& Boundary)
{
	return QByteArrayLiteral("\r\n--") + Boundary.toUtf8() + QByteArrayLiteral("--\r\n");
}

void UOrvaAsyncImageUploader::Start(QString InLocalPath)
{
	if (GetState() != EEditorJobState::Waiting)
	{
		return;
	}
	LocalPath = std::move(InLocalPath);
	UEditorJob::Start();
}

void UOrvaAsyncImageUploader::DoStart()
{
	SetTitle(FText::Format(LOCTEXT("ImageUploadJobTitle", "Upload the screenshot {0}"),
	                       {FPaths::GetCleanFilename(LocalPath)})
	             .ToString());
	QString WorldId;
	QString BaseUrl = UOrvaSDKSubsystem::DefaultServiceBaseUrl();
	if (const auto* Sdk = Host.GetEditorSubsystem<UOrvaSDKSubsystem>())
	{
		WorldId = Sdk->CurrWorkspace.WorldId;
		BaseUrl = Sdk->GetServiceBaseUrl();
	}

	// The id goes into the path escaped, so no answer can steer the request elsewhere.
	FOrvaServiceJob Job(Host.Http(), QStringLiteral("POST"), BaseUrl,
	                    QStringLiteral("worlds/") + FHttpModule::UrlEncode(WorldId) + QStringLiteral("/screenshots"));
	Job.SetAcceptJson().SetLabel(QStringLiteral("UploadImage"));
	Job.SetCredential(QStringLiteral("Authorization"),
	                  [Host = &Host]
	                  {
		                  const auto* Sdk = Host->GetEditorSubsystem<UOrvaSDKSubsystem>();
		                  return Sdk ? Sdk->AccessToken : QString();
	                  });
	const QString Boundary = MakeBoundary(NowTicks());
	const QString EncodedFileName = FHttpModule::UrlEncode(FPaths::GetCleanFilename(LocalPath));
	// The file is streamed from disk between the framing, so a screenshot of any size costs no
	// more memory than a small one, and Content-Length is exact.
	const FHttpBody Body =
	    FHttpBody::Sequence({FHttpBody::FromBytes(MultipartPrefix(Boundary, EncodedFileName)),
	                         FHttpBody::FromFile(LocalPath), FHttpBody::FromBytes(MultipartSuffix(Boundary))});
	if (LocalPath.isEmpty() || !QFileInfo(LocalPath).isFile() ||
	    !Job.SetFormBody(QStringLiteral("multipart/form-data; boundary =") + Boundary, Body))
	{
		UE_LOG(LogTemp, Error, QStringLiteral("Error for UploadImage: Cannot Read File %1").arg(LocalPath));
		Request.reset();
		const QString Cause = FText::Format(LOCTEXT("ImageUploadCauseUnreadable", "The screenshot {0} cannot be read."),
		                                    {FPaths::GetCleanFilename(LocalPath)})
		                          .ToString();
		FGameThread::Post(this, [this, Cause] { End(nullptr, Cause); });
		return;
	}
	const qint64 Total = Body.GetLength();
	SetProgress(0, Total, true);
	SetCancellable(true);
	Job.Send(this,
	         [this](FHttpRequestPtr Req, FHttpResponsePtr Resp, bool bOk) { HandleImageRequest(Req, Resp, bOk); });
	Request = Job.GetRequest();
	if (Request)
	{
		Request->OnRequestProgress(this, [this, Total](FHttpRequestPtr, qint64 Sent, qint64)
		                           { SetProgress(Sent, Total, true); });
	}
}

bool UOrvaAsyncImageUploader::DoCancel()
{
	if (!Request || bCancelRequested)
	{
		return false;
	}
	bCancelRequested = true;
	SetCancellable(false);
	Request->CancelRequest();
	return true;
}

void UOrvaAsyncImageUploader::HandleImageRequest(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	Request.reset();
	if (bCancelRequested)
	{
		UE_LOG(LogTemp, Warning,
		       QStringLiteral("Upload of the screenshot %1 cancelled").arg(FPaths::GetCleanFilename(LocalPath)));
		End(nullptr);
		return;
	}
	if (!Response)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("Error for UploadImage: Response Is Not Valid"));
		// Whoever waits for this upload learns that it ended.
		End(nullptr, ServiceCause(Host, Response));
		return;
	}
	const std::optional<QJsonObject> Answer = FOrvaServiceJob::ReadObject(Response, QStringLiteral("UploadImage"));
	if (!Answer)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("JsonReader Error: Upload Image Failed"));
		End(nullptr, FText::Format(
		                 LOCTEXT("UploadCauseUnreadable", "The service gave an answer that cannot be read (HTTP {0})."),
		                 {QString::number(Response->GetResponseCode())})
		                 .ToString());
		return;
	}
	// A refusal comes back as an object too (the service's "detail"): only a stored screenshot has
	// an id, and only that is a success.
	const int Status = Response->GetResponseCode();
	if (Status < 200 || Status >= 300 || FJson::GetString(*Answer, QStringLiteral("id")).isEmpty())
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("Error for UploadImage: the service did not store %1 (status %2)")
		           .arg(FPaths::GetCleanFilename(LocalPath))
		           .arg(Status));
		End(nullptr, ServiceCause(Host, Response));
		return;
	}
	FOrvaImageData Image;
	Image.Name = FJson::GetString(*Answer, QStringLiteral("name"));
	// The record's size is 64-bit: a file beyond 2 GiB keeps its real size.
	Image.Size = FJson::GetInt64(*Answer, QStringLiteral("size"));
	Image.Url = LocalPath;
	Image.Id = FJson::GetString(*Answer, QStringLiteral("id"));
	End(&Image);
	UE_LOG(LogTemp, Warning, QStringLiteral("Image Upload Success: ImageId is %1").arg(Image.Id));
}

void UOrvaAsyncImageUploader::End(const FOrvaImageData* Stored, const QString& Cause)
{
	if (HasEnded())
	{
		return;
	}
	// An uploader someone owns stays theirs.
	SetAutoDelete(!parent());
	if (Stored)
	{
		FinishSucceeded();
		Q_EMIT OnUploadSucceeded(*Stored);
		return;
	}
	if (bCancelRequested)
	{
		FinishCancelled(LOCTEXT("UploadCauseCancelled", "Cancelled").ToString());
	}
	else
	{
		FinishFailed(Cause);
	}
	Q_EMIT OnUploadFailed(FOrvaImageData());
}

#undef LOCTEXT_NAMESPACE
