#include "OrvaAsyncFileUploader.h"

#include "AwsS3Client.h"
#include "ConfigCache.h"
#include "EditorHost.h"
#include "EditorJobNotification.h"
#include "Json.h"
#include "Log.h"
#include "OrvaSDKSettings.h"
#include "OrvaSDKSubsystem.h"
#include "Paths.h"
#include "S3PutObjectOrva.h"
#include "Text.h"
#include "ThreadPool.h"

#include <QFileInfo>
#include <QLocale>

#define LOCTEXT_NAMESPACE "OrvaSDK"

namespace
{

// The cause of an answer that was not the JSON object asked for.
QString UnreadableAnswer(const FHttpResponsePtr& Response)
{
	return FText::Format(LOCTEXT("UploadCauseUnreadable", "The service gave an answer that cannot be read (HTTP {0})."),
	                     {QString::number(Response ? Response->GetResponseCode() : 0)})
	    .ToString();
}

} // namespace

UOrvaAsyncFileUploader* UOrvaAsyncFileUploader::UploadFile(UOrvaSDKSubsystem* Sdk, const QString& TargetFilePath,
                                                           const QString& ComponentId, bool bIsSandbox)
{
	// Read now, not at the end: the creator may select another world while the upload runs.
	return UploadFile(Sdk, TargetFilePath, ComponentId, bIsSandbox, Sdk ? Sdk->GetCheckCode() : QString());
}

UOrvaAsyncFileUploader* UOrvaAsyncFileUploader::UploadFile(UOrvaSDKSubsystem* Sdk, const QString& TargetFilePath,
                                                           const QString& ComponentId, bool bIsSandbox,
                                                           const QString& CheckCode)
{
	auto* Uploader = new UOrvaAsyncFileUploader();
	Uploader->Sdk = Sdk;
	Uploader->TargetFilePath = TargetFilePath;
	Uploader->ComponentId = ComponentId;
	Uploader->bIsSandbox = bIsSandbox;
	Uploader->CheckCode = CheckCode;
	// Still its own keeper until it ends; a subsystem that goes first takes its uploads with it.
	Uploader->setParent(Sdk);
	// The pak lies in the folder of its platform.
	Uploader->SetTitle(FText::Format(LOCTEXT("UploadJobTitle", "Upload the {0} pak ({1})"),
	                                 {FPaths::GetCleanFilename(FPaths::GetPath(TargetFilePath)), ComponentId})
	                       .ToString());
	Uploader->SetCancellable(true);
	if (Sdk)
	{
		Q_EMIT Sdk->OnUploadStarted(Uploader);
	}
	Uploader->Start();
	return Uploader;
}

void UOrvaAsyncFileUploader::DoStart()
{
	GetComponentInfo();
}

UOrvaAsyncFileUploader::~UOrvaAsyncFileUploader()
{
	DestroyClient();
}

QString UOrvaAsyncFileUploader::FileLabel() const
{
	return FPaths::GetBaseFilename(TargetFilePath);
}

void UOrvaAsyncFileUploader::Send(const QString& Verb, const QString& RelativePath, const QString& Body, bool bAccept,
                                  FHandler Handler)
{
	if (!Sdk || !Sdk->GetHost())
	{
		UE_LOG(LogTemp, Error, QStringLiteral("Upload of %1: the SDK subsystem is gone").arg(TargetFilePath));
		// Later: this may run inside UploadFile, before the caller has bound OnUploadCompleted.
		AsyncTask(ENamedThreads::GameThread, this,
		          [this] { End(false, LOCTEXT("UploadCauseNoSdk", "The SDK is not running.").ToString()); });
		return;
	}
	// The token is read as each request is sent: a new login in between is honoured.
	FOrvaServiceJob Job = Sdk->ServiceJob(Verb, RelativePath, bAccept, true);
	if (!Body.isNull())
	{
		Job.SetJsonBody(Body);
	}
	Job.SetLabel(QStringLiteral("Upload of %1").arg(FileLabel()));
	Job.Send(this,
	         [this, Handler](FHttpRequestPtr Req, FHttpResponsePtr Resp, bool bOk)
	         {
		         // Cancelled meanwhile: the answer no longer matters.
		         if (!bEnded)
		         {
			         (this->*Handler)(std::move(Req), std::move(Resp), bOk);
		         }
	         });
}

void UOrvaAsyncFileUploader::GetComponentInfo()
{
	if (!UOrvaSDKSubsystem::IsSafeIdentifier(ComponentId))
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("Upload of %1: \"%2\" cannot name a component").arg(TargetFilePath, ComponentId));
		// Later, so that whoever started the upload has bound its handler.
		AsyncTask(ENamedThreads::GameThread, this,
		          [this]
		          {
			          End(false, FText::Format(LOCTEXT("UploadCauseBadComponent", "\"{0}\" cannot name a component."),
			                                   {ComponentId})
			                         .ToString());
		          });
		return;
	}
	SetPhase(LOCTEXT("UploadPhaseState", "Asking the service about the component").ToString());
	Send(QStringLiteral("GET"), QStringLiteral("components/%1").arg(ComponentId), QString(), true,
	     &UOrvaAsyncFileUploader::GetComponentInfo_ResponseReceived);
}

void UOrvaAsyncFileUploader::GetComponentInfo_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	if (!Response)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("Error for GetComponents: Response Is Not Valid"));
		End(false, Sdk ? Sdk->DescribeServiceFailure(Response) : QString());
		return;
	}
	const std::optional<QJsonObject> Answer = FOrvaServiceJob::ReadObject(Response, QStringLiteral("GetComponentInfo"));
	if (!Answer)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("JsonReader Error: GetComponentInfo Failed"));
		End(false, UnreadableAnswer(Response));
		return;
	}
	if (FJson::GetBool(*Answer, QStringLiteral("complete")))
	{
		// A retry after a failure passes over what the service holds already.
		SetPhase(LOCTEXT("UploadPhaseHeld", "Already held complete by the service: skipped").ToString());
		End(true);
		UE_LOG(LogTemp, Warning, QStringLiteral("%1 is already uploaded").arg(ComponentId));
		return;
	}
	IssueComponentSts();
}

void UOrvaAsyncFileUploader::IssueComponentSts()
{
	const QFileInfo File(TargetFilePath);
	const qint64 Size = File.isFile() ? File.size() : -1;
	if (Size < 0)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("The pak file to upload is missing: %1").arg(TargetFilePath));
		End(false,
		    FText::Format(LOCTEXT("UploadCauseMissing", "The pak file is missing: {0}"), {TargetFilePath}).ToString());
		return;
	}
	const qint64 Limit = MaxUploadBytes();
	if (Size > Limit)
	{
		if (Limit == OrvaSDKSettings::MaxUploadBytes.Default())
		{
			UE_LOG(LogTemp, Warning, QStringLiteral("FileSize is more than 2 GB"));
		}
		else
		{
			UE_LOG(LogTemp, Warning, QStringLiteral("FileSize is more than %1 bytes").arg(Limit));
		}
		if (Sdk && Sdk->GetHost())
		{
			const FText Message =
			    FText::Format(LOCTEXT("UploadTooLargeMessage", "{0} is too large to upload ({1} bytes, at most {2})."),
			                  {FileLabel(), QLocale().toString(Size), QLocale().toString(Limit)});
			FEditorJobNotification::ShowEnded(Sdk->GetHost()->Notifications(), EEditorJobState::Failed,
			                                  Message.ToString(), Message.BuildSourceString());
		}
		End(false,
		    FText::Format(LOCTEXT("UploadCauseTooLarge", "The pak is too large to upload ({0} bytes, at most {1})."),
		                  {QLocale().toString(Size), QLocale().toString(Limit)})
		        .ToString());
		return;
	}
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("size"), Size);
	Writer.WriteObjectEnd();
	StsRequestBody = Writer.Close();
	FileSize = Size;
	SetProgress(0, Size, true);
	SetPhase(LOCTEXT("UploadPhaseCredentials", "Asking for storage credentials").ToString());
	Send(QStringLiteral("POST"), QStringLiteral("components/%1/sts").arg(ComponentId), StsRequestBody, true,
	     &UOrvaAsyncFileUploader::IssueComponentSts_ResponseReceived);
}

void UOrvaAsyncFileUploader::IssueComponentSts_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response, bool)
{
	if (!Response)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("Error for IssueComponentSts: Response Is Not Valid"));
		End(false, Sdk ? Sdk->DescribeServiceFailure(Response) : QString());
		return;
	}
	const std::optional<QJsonObject> Answer =
	    FOrvaServiceJob::ReadObject(Response, QStringLiteral("IssueComponentSts"));
	if (!Answer)
	{
		End(false, UnreadableAnswer(Response));
		UE_LOG(LogTemp, Error, QStringLiteral("JsonReader Error: IssueComponentSts Failed"));
		return;
	}
	const std::optional<QJsonObject> Sts = FJson::GetObject(*Answer, QStringLiteral("sts"));
	if (!Sts)
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("IssueComponentSts: the answer (HTTP %1) holds no \"sts\" object")
		           .arg(Response->GetResponseCode()));
		End(false, Sdk ? Sdk->DescribeServiceFailure(Response) : QString());
		return;
	}
	ReadCredentials(*Sts, Credentials, Region);
	const QJsonArray Files = FJson::GetArray(*Answer, QStringLiteral("files"));
	if (Files.size() == 1 && Files.first().isObject())
	{
		const QJsonObject File = Files.first().toObject();
		FJson::TryGetString(File, QStringLiteral("component_id"), ComponentId);
		FJson::TryGetString(File, QStringLiteral("bucket_name"), BucketName);
		FJson::TryGetString(File, QStringLiteral("url"), KeyUrl);
	}
	if (BucketName.isEmpty() || KeyUrl.isEmpty())
	{
		UE_LOG(
		    LogTemp, Error,
		    QStringLiteral("IssueComponentSts: the answer names no bucket and object key for %1 (%2 \"files\" entries)")
		        .arg(ComponentId)
		        .arg(Files.size()));
		End(false, LOCTEXT("UploadCauseNoKey", "The service named no place in the store for the pak.").ToString());
		return;
	}
	UE_LOG(LogTemp, Warning, QStringLiteral("Ready To Upload"));

	FEditorHost* Host = Sdk ? Sdk->GetHost() : nullptr;
	if (!Host)
	{
		End(false, LOCTEXT("UploadCauseNoSdk", "The SDK is not running.").ToString());
		return;
	}
	FS3ClientConfiguration Configuration =
	    AwsS3::LoadClientConfiguration(Host->GetConfig(), Sdk->GetSettingsFilePath());
	Configuration.Region = Region;
	Configuration.Http = &Host->Http();
	CurrAwsS3Client = UAwsS3ClientObject::CreateAwsS3ObjClient(Credentials, Configuration,
	                                                           EAwsS3PayloadSigningPolicy::RequestDependent);
	CurrAwsS3Client->BindOnClientReady(this, [this](UAwsS3ClientObject* Client) { ExcuteUpload(Client); });
	CurrAwsS3Client->Activate();
}

void UOrvaAsyncFileUploader::ExcuteUpload(UAwsS3ClientObject* Client)
{
	if (!Client || bEnded)
	{
		return;
	}
	CurrAwsS3Client = Client;
	FPutObjectRequest Request;
	Request.Bucket = BucketName;
	Request.Key = KeyUrl;
	Request.LocalFile = TargetFilePath;
	US3PutObjectOrva* Put = US3PutObjectOrva::PutObject(nullptr, Client, Request);
	CurrentPut = Put;
	connect(Put, &US3PutObjectOrva::Completed, this, &UOrvaAsyncFileUploader::Aws3SPutObjectCallback);
	connect(Put, &US3PutObjectOrva::Progress, this, &UOrvaAsyncFileUploader::OnUploadPercents);
	connect(Put, &US3PutObjectOrva::CredentialsExpired, this, &UOrvaAsyncFileUploader::RenewComponentSts);
	// Shown before the put can end, so its end always finds the item.
	ShowUploadingNotification();
	SetPhase(LOCTEXT("UploadPhasePut", "Uploading").ToString());
	Put->Activate();
}

void UOrvaAsyncFileUploader::OnUploadPercents(const QString& UploadFilename, int Percentage)
{
	// The item's text follows the job's changes.
	PutLabel = FPaths::GetBaseFilename(UploadFilename);
	PutPercent = Percentage;
	SetProgress(FileSize >= 0 ? FileSize * qBound(0, Percentage, 100) / 100 : 0, qMax<qint64>(FileSize, 0), true);
}

void UOrvaAsyncFileUploader::Aws3SPutObjectCallback(bool bSuccess, const FPutObjectResult& Result, ES3Errors Error,
                                                    const QString& ErrorMessage)
{
	Q_UNUSED(Result);
	if (bSuccess)
	{
		// Stored and checked by the store; success shows once the service confirms the completion.
		CompleteUpload();
		UE_LOG(LogTemp, Warning, QStringLiteral("Aws3S Upload Success!!!"));
	}
	else if (Error == ES3Errors::Cancelled)
	{
		bCancelled = true;
		UE_LOG(LogTemp, Warning, QStringLiteral("Upload of %1 cancelled").arg(FileLabel()));
	}
	else
	{
		UE_LOG(
		    LogTemp, Error,
		    QStringLiteral("Upload of %1 failed (%2): %3").arg(FileLabel(), AwsS3::ErrorKindName(Error), ErrorMessage));
	}
	DestroyClient();
	if (!bSuccess)
	{
		End(false, Error == ES3Errors::Cancelled
		               ? QString()
		               : FText::Format(LOCTEXT("UploadCausePut", "The store refused the pak ({0}): {1}"),
		                               {AwsS3::ErrorKindName(Error), ErrorMessage})
		                     .ToString());
	}
}

bool UOrvaAsyncFileUploader::ReadCredentials(const QJsonObject& Sts, FAwsCredentials& OutCredentials,
                                             QString& OutRegion)
{
	OutCredentials.SessionToken = FJson::GetString(Sts, QStringLiteral("token"));
	OutCredentials.AccessKeyId = FJson::GetString(Sts, QStringLiteral("access_key_id"));
	OutCredentials.SecretAccessKey = FJson::GetString(Sts, QStringLiteral("secret_access_key"));
	// Known, the put renews the credentials before they run out instead of after a refusal.
	OutCredentials.Expiration =
	    QDateTime::fromString(FJson::GetString(Sts, QStringLiteral("expiration")), Qt::ISODateWithMs);
	OutRegion = FJson::GetString(Sts, QStringLiteral("region"));
	return OutCredentials.IsUsable();
}

void UOrvaAsyncFileUploader::RenewComponentSts()
{
	if (bEnded)
	{
		return;
	}
	UE_LOG(LogTemp, Display, QStringLiteral("Upload of %1: asking for fresh credentials").arg(FileLabel()));
	Send(QStringLiteral("POST"), QStringLiteral("components/%1/sts").arg(ComponentId), StsRequestBody, true,
	     &UOrvaAsyncFileUploader::RenewComponentSts_ResponseReceived);
}

void UOrvaAsyncFileUploader::RenewComponentSts_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response,
                                                                bool bWasSuccessful)
{
	FAwsCredentials Fresh;
	QString FreshRegion;
	const std::optional<QJsonObject> Answer =
	    bWasSuccessful ? FOrvaServiceJob::ReadObject(Response, QStringLiteral("RenewComponentSts")) : std::nullopt;
	const std::optional<QJsonObject> Sts = Answer ? FJson::GetObject(*Answer, QStringLiteral("sts")) : std::nullopt;
	if (!Sts || !ReadCredentials(*Sts, Fresh, FreshRegion))
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("Upload of %1: the service gave no fresh credentials (HTTP %2)")
		           .arg(FileLabel())
		           .arg(Response ? Response->GetResponseCode() : 0));
		Fresh = FAwsCredentials();
	}
	if (CurrentPut)
	{
		CurrentPut->RenewCredentials(Fresh);
	}
}

bool UOrvaAsyncFileUploader::DoCancel()
{
	if (bEnded)
	{
		return false;
	}
	bCancelled = true;
	if (CurrentPut)
	{
		// Its completion ends the uploader, once the store dropped the parts.
		CurrentPut->Cancel();
		return true;
	}
	UE_LOG(LogTemp, Warning, QStringLiteral("Upload of %1 cancelled").arg(FileLabel()));
	End(false);
	return true;
}

qint64 UOrvaAsyncFileUploader::MaxUploadBytes() const
{
	return UploadLimitFor(Sdk);
}

qint64 UOrvaAsyncFileUploader::UploadLimitFor(const UOrvaSDKSubsystem* Sdk)
{
	const qint64 Default = OrvaSDKSettings::MaxUploadBytes.Default();
	FEditorHost* Host = Sdk ? Sdk->GetHost() : nullptr;
	if (!Host || !Host->GetConfig())
	{
		return Default;
	}
	qint64 Value = Default;
	QString Text;
	if (OrvaSDKSettings::MaxUploadBytes.Read(*Host->GetConfig(), Sdk->GetSettingsFilePath(), Value, &Text) ==
	    EConfigRead::Invalid)
	{
		UE_LOG(LogTemp, Warning,
		       QStringLiteral("[AwsS3] MaxUploadBytes=%1 is not a positive whole number; the 2 GiB limit stays")
		           .arg(Text));
	}
	return Value;
}

void UOrvaAsyncFileUploader::CompleteUpload()
{
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("checksum"), CheckCode);
	Writer.WriteObjectEnd();
	SetPhase(LOCTEXT("UploadPhaseComplete", "Confirming the upload with the service").ToString());
	Send(QStringLiteral("PATCH"), QStringLiteral("components/%1/sts").arg(ComponentId), Writer.Close(), false,
	     &UOrvaAsyncFileUploader::CompleteUpload_ResponseReceived);
}

void UOrvaAsyncFileUploader::CompleteUpload_ResponseReceived(FHttpRequestPtr, FHttpResponsePtr Response,
                                                             bool bWasSuccessful)
{
	if (!Response || !bWasSuccessful)
	{
		FailCompletion(QStringLiteral("no answer from the service"));
		return;
	}
	const int Status = Response->GetResponseCode();
	// A refusal (the service found no object of the registered size, say) is no completion.
	if (Status < 200 || Status >= 300)
	{
		const QString Detail = QString::fromUtf8(Response->GetContent().left(200)).simplified();
		FailCompletion(QStringLiteral("the service answered HTTP %1%2")
		                   .arg(Status)
		                   .arg(Detail.isEmpty() ? QString() : QStringLiteral(": ") + Detail));
		return;
	}
	SetPhase(LOCTEXT("UploadPhaseDone", "Stored and confirmed by the service").ToString());
	End(true);
	UE_LOG(LogTemp, Warning, QStringLiteral("Complete Upload"));
}

void UOrvaAsyncFileUploader::FailCompletion(const QString& Cause)
{
	UE_LOG(LogTemp, Error, QStringLiteral("Error for CompleteComponents: Response Is Not Valid"));
	UE_LOG(LogTemp, Error,
	       QStringLiteral("Upload of %1 stored but not completed (component %2): %3")
	           .arg(FileLabel(), ComponentId, Cause));
	End(false,
	    FText::Format(LOCTEXT("UploadCauseCompletion", "Stored, but the service did not confirm it: {0}"), {Cause})
	        .ToString());
}

void UOrvaAsyncFileUploader::ShowUploadingNotification()
{
	if (UploadNotification || !Sdk || !Sdk->GetHost())
	{
		return;
	}
	FEditorJobNotificationTexts Texts;
	Texts.Running = [this](const UEditorJob&)
	{
		return PutPercent < 0
		           ? FText::Format(LOCTEXT("UploadProgressBegin", "{0} Uploading:  0%"), {FileLabel()}).ToString()
		           : FText::Format(LOCTEXT("UploadProgressMessage", "{0} Uploading:  {1}%"),
		                           {PutLabel, QLocale().toString(PutPercent)})
		                 .ToString();
	};
	const QString Label = FileLabel();
	const FText Succeeded = FText::Format(LOCTEXT("UploadSuccessMessage", "{0} is upload Successfully."), {Label});
	const FText Failed = FText::Format(LOCTEXT("UploadFailedMessage", "{0} is upload faild."), {Label});
	// The log keeps the system's own text whatever language the notification is shown in.
	Texts.Succeeded = Succeeded.ToString();
	Texts.SucceededLog = Succeeded.BuildSourceString();
	Texts.Failed = Failed.ToString();
	Texts.FailedLog = Failed.BuildSourceString();
	Texts.Cancelled = FText::Format(LOCTEXT("UploadCancelledMessage", "{0} upload cancelled."), {Label}).ToString();
	Texts.CancelledLog = Texts.Cancelled;
	UploadNotification = FEditorJobNotification::Follow(*this, Sdk->GetHost()->Notifications(), std::move(Texts));
}

void UOrvaAsyncFileUploader::DestroyClient()
{
	if (CurrAwsS3Client)
	{
		CurrAwsS3Client->DestroyS3Object();
		CurrAwsS3Client = nullptr;
	}
}

void UOrvaAsyncFileUploader::End(bool bSuccess, const QString& Cause)
{
	if (bEnded)
	{
		return;
	}
	bEnded = true;
	Q_EMIT OnUploadCompleted(bSuccess);
	DestroyClient();
	// The job's end shows it on the item and releases the uploader.
	if (bSuccess)
	{
		FinishSucceeded();
	}
	else if (bCancelled)
	{
		FinishCancelled(LOCTEXT("UploadCauseCancelled", "Cancelled").ToString());
	}
	else
	{
		FinishFailed(Cause.isEmpty() ? LOCTEXT("UploadCauseUnknown", "The upload failed.").ToString() : Cause);
	}
}

#undef LOCTEXT_NAMESPACE
