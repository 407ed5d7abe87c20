#include "OrvaAsyncFileUploader.h"

#include "AwsS3Client.h"
#include "ConfigCache.h"
#include "EditorHost.h"
#include "Json.h"
#include "Log.h"
#include "OrvaSDKSubsystem.h"
#include "Paths.h"
#include "S3PutObjectOrva.h"
#include "ThreadPool.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLocale>

namespace
{

// The platform's rule; the settings may raise it (multipart uploads take far larger files).
constexpr qint64 DefaultMaxUploadBytes = qint64(2147483648);

QString FillArguments(QString Text, const QStringList& Arguments)
{
	for (qsizetype I = 0; I < Arguments.size(); ++I)
	{
		Text.replace(QLatin1Char('{') + QString::number(I) + QLatin1Char('}'), Arguments[I]);
	}
	return Text;
}

// A localisable text of the namespace "OrvaSDK" with {0}, {1} filled in.
QString OrvaText(const char* Key, const char* Source, const QStringList& Arguments)
{
	return FillArguments(QCoreApplication::translate("OrvaSDK", Source, Key), Arguments);
}

// The log keeps the system's own text whatever language the notification is shown in.
QString SourceText(const char* Source, const QStringList& Arguments)
{
	return FillArguments(QString::fromUtf8(Source), Arguments);
}

// The cause of an answer that was not the JSON object asked for.
QString UnreadableAnswer(const FHttpResponsePtr& Response)
{
	return OrvaText("UploadCauseUnreadable", "The service gave an answer that cannot be read (HTTP {0}).",
	                {QString::number(Response ? Response->GetResponseCode() : 0)});
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
	// Set once the fields are, so that whoever watches the subsystem's children sees them.
	Uploader->setParent(Sdk);
	// The pak lies in the folder of its platform.
	Uploader->SetTitle(OrvaText("UploadJobTitle", "Upload the {0} pak ({1})",
	                            {FPaths::GetCleanFilename(FPaths::GetPath(TargetFilePath)), ComponentId}));
	Uploader->SetCancellable(true);
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

QObject* UOrvaAsyncFileUploader::StepContext() const
{
	// The end steps outlive the uploader, which is released right after its end: they hold the
	// item, and run as long as the host does.
	return Sdk && Sdk->GetHost() ? static_cast<QObject*>(Sdk->GetHost()) : nullptr;
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
		          [this] { End(false, OrvaText("UploadCauseNoSdk", "The SDK is not running.", {})); });
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
		AsyncTask(
		    ENamedThreads::GameThread, this,
		    [this]
		    { End(false, OrvaText("UploadCauseBadComponent", "\"{0}\" cannot name a component.", {ComponentId})); });
		return;
	}
	SetPhase(OrvaText("UploadPhaseState", "Asking the service about the component", {}));
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
		SetPhase(OrvaText("UploadPhaseHeld", "Already held complete by the service: skipped", {}));
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
		End(false, OrvaText("UploadCauseMissing", "The pak file is missing: {0}", {TargetFilePath}));
		return;
	}
	const qint64 Limit = MaxUploadBytes();
	if (Size > Limit)
	{
		if (Limit == DefaultMaxUploadBytes)
		{
			UE_LOG(LogTemp, Warning, QStringLiteral("FileSize is more than 2 GB"));
		}
		else
		{
			UE_LOG(LogTemp, Warning, QStringLiteral("FileSize is more than %1 bytes").arg(Limit));
		}
		SpawnRefusalNotification(OrvaText("UploadTooLargeMessage",
		                                  "{0} is too large to upload ({1} bytes, at most {2}).",
		                                  {FileLabel(), QLocale().toString(Size), QLocale().toString(Limit)}));
		End(false, OrvaText("UploadCauseTooLarge", "The pak is too large to upload ({0} bytes, at most {1}).",
		                    {QLocale().toString(Size), QLocale().toString(Limit)}));
		return;
	}
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("size"), Size);
	Writer.WriteObjectEnd();
	StsRequestBody = Writer.Close();
	FileSize = Size;
	SetProgress(0, Size, true);
	SetPhase(OrvaText("UploadPhaseCredentials", "Asking for storage credentials", {}));
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
		End(false, OrvaText("UploadCauseNoKey", "The service named no place in the store for the pak.", {}));
		return;
	}
	UE_LOG(LogTemp, Warning, QStringLiteral("Ready To Upload"));

	FEditorHost* Host = Sdk ? Sdk->GetHost() : nullptr;
	if (!Host)
	{
		End(false, OrvaText("UploadCauseNoSdk", "The SDK is not running.", {}));
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
	// Posted before the put can post its end, so the failure step always finds the item.
	SpawnUploadingNotification();
	SetPhase(OrvaText("UploadPhasePut", "Uploading", {}));
	Put->Activate();
}

void UOrvaAsyncFileUploader::OnUploadPercents(const QString& UploadFilename, int Percentage)
{
	if (FileSize >= 0)
	{
		SetProgress(FileSize * qBound(0, Percentage, 100) / 100, FileSize, true);
	}
	if (UploadNotification)
	{
		UploadNotification->SetText(
		    OrvaText("UploadProgressMessage", "{0} Uploading:  {1}%",
		             {FPaths::GetBaseFilename(UploadFilename), QLocale().toString(Percentage)}));
	}
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
		SpawnUploadCancelledNotification();
		UE_LOG(LogTemp, Warning, QStringLiteral("Upload of %1 cancelled").arg(FileLabel()));
	}
	else
	{
		SpawnUploadFailNotification();
		UE_LOG(
		    LogTemp, Error,
		    QStringLiteral("Upload of %1 failed (%2): %3").arg(FileLabel(), AwsS3::ErrorKindName(Error), ErrorMessage));
	}
	DestroyClient();
	if (!bSuccess)
	{
		End(false, Error == ES3Errors::Cancelled ? QString()
		                                         : OrvaText("UploadCausePut", "The store refused the pak ({0}): {1}",
		                                                    {AwsS3::ErrorKindName(Error), ErrorMessage}));
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
	SpawnUploadCancelledNotification();
	End(false);
	return true;
}

qint64 UOrvaAsyncFileUploader::MaxUploadBytes() const
{
	return UploadLimitFor(Sdk);
}

qint64 UOrvaAsyncFileUploader::UploadLimitFor(const UOrvaSDKSubsystem* Sdk)
{
	QString Text;
	FEditorHost* Host = Sdk ? Sdk->GetHost() : nullptr;
	if (!Host || !Host->GetConfig() ||
	    !Host->GetConfig()->GetString(QStringLiteral("AwsS3"), QStringLiteral("MaxUploadBytes"), Text,
	                                  Sdk->GetSettingsFilePath()))
	{
		return DefaultMaxUploadBytes;
	}
	bool bOk = false;
	const qint64 Value = Text.trimmed().toLongLong(&bOk);
	if (!bOk || Value <= 0)
	{
		UE_LOG(LogTemp, Warning,
		       QStringLiteral("[AwsS3] MaxUploadBytes=%1 is not a positive whole number; the 2 GiB limit stays")
		           .arg(Text));
		return DefaultMaxUploadBytes;
	}
	return Value;
}

void UOrvaAsyncFileUploader::CompleteUpload()
{
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("checksum"), CheckCode);
	Writer.WriteObjectEnd();
	SetPhase(OrvaText("UploadPhaseComplete", "Confirming the upload with the service", {}));
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
	SpawnUploadSuccessNotification();
	SetPhase(OrvaText("UploadPhaseDone", "Stored and confirmed by the service", {}));
	End(true);
	UE_LOG(LogTemp, Warning, QStringLiteral("Complete Upload"));
}

void UOrvaAsyncFileUploader::FailCompletion(const QString& Cause)
{
	UE_LOG(LogTemp, Error, QStringLiteral("Error for CompleteComponents: Response Is Not Valid"));
	UE_LOG(LogTemp, Error,
	       QStringLiteral("Upload of %1 stored but not completed (component %2): %3")
	           .arg(FileLabel(), ComponentId, Cause));
	SpawnUploadFailNotification();
	End(false, OrvaText("UploadCauseCompletion", "Stored, but the service did not confirm it: {0}", {Cause}));
}

void UOrvaAsyncFileUploader::SpawnUploadingNotification()
{
	AsyncTask(ENamedThreads::GameThread, this,
	          [this]
	          {
		          if (!Sdk || !Sdk->GetHost() || bEnded)
		          {
			          return;
		          }
		          if (UploadNotification)
		          {
			          UploadNotification->ExpireAndFadeout();
		          }
		          FNotificationInfo Info(OrvaText("UploadProgressBegin", "{0} Uploading:  0%", {FileLabel()}));
		          Info.bFireAndForget = false;
		          UploadNotification = Sdk->GetHost()->Notifications().AddNotification(Info);
		          UploadNotification->SetCompletionState(ENotificationState::Pending);
	          });
}

void UOrvaAsyncFileUploader::SpawnUploadSuccessNotification()
{
	AsyncTask(ENamedThreads::GameThread, StepContext(),
	          [Item = UploadNotification, Label = FileLabel()]
	          {
		          if (!Item)
		          {
			          return;
		          }
		          Item->SetText(OrvaText("UploadSuccessMessage", "{0} is upload Successfully.", {Label}));
		          Item->SetCompletionState(ENotificationState::Success);
		          Item->ExpireAndFadeout();
		          UE_LOG(LogTemp, Display, SourceText("{0} is upload Successfully.", {Label}));
	          });
}

void UOrvaAsyncFileUploader::SpawnUploadFailNotification()
{
	AsyncTask(ENamedThreads::GameThread, StepContext(),
	          [Item = UploadNotification, Label = FileLabel()]
	          {
		          if (!Item)
		          {
			          return;
		          }
		          Item->SetText(OrvaText("UploadFailedMessage", "{0} is upload faild.", {Label}));
		          Item->SetCompletionState(ENotificationState::Fail);
		          Item->ExpireAndFadeout();
		          UE_LOG(LogTemp, Error, SourceText("{0} is upload faild.", {Label}));
	          });
}

void UOrvaAsyncFileUploader::SpawnUploadCancelledNotification()
{
	AsyncTask(ENamedThreads::GameThread, StepContext(),
	          [Item = UploadNotification, Label = FileLabel()]
	          {
		          if (!Item)
		          {
			          return;
		          }
		          const QString Text = OrvaText("UploadCancelledMessage", "{0} upload cancelled.", {Label});
		          Item->SetText(Text);
		          Item->SetCompletionState(ENotificationState::Fail);
		          Item->ExpireAndFadeout();
		          UE_LOG(LogTemp, Warning, Text);
	          });
}

void UOrvaAsyncFileUploader::SpawnRefusalNotification(const QString& Text)
{
	AsyncTask(ENamedThreads::GameThread, StepContext(),
	          [Sdk = Sdk, Text]
	          {
		          if (!Sdk || !Sdk->GetHost())
		          {
			          return;
		          }
		          FNotificationInfo Info(Text);
		          const FNotificationItemPtr Item = Sdk->GetHost()->Notifications().AddNotification(Info);
		          Item->SetCompletionState(ENotificationState::Fail);
		          Item->ExpireAndFadeout();
		          UE_LOG(LogTemp, Error, Text);
	          });
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
	// The notification steps already posted still run: they hold the item, not the uploader. The
	// job's end releases the uploader.
	if (bSuccess)
	{
		FinishSucceeded();
	}
	else if (bCancelled)
	{
		FinishCancelled(OrvaText("UploadCauseCancelled", "Cancelled", {}));
	}
	else
	{
		FinishFailed(Cause.isEmpty() ? OrvaText("UploadCauseUnknown", "The upload failed.", {}) : Cause);
	}
}
