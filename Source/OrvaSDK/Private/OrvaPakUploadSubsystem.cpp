#include "OrvaPakUploadSubsystem.h"

#include "ConfigCache.h"
#include "Dialogs.h"
#include "EditorHost.h"
#include "Json.h"
#include "Log.h"
#include "OrvaSDKSettings.h"
#include "OrvaSDKSubsystem.h"
#include "PakUploadTask.h"
#include "Paths.h"

#include <QFileInfo>
#include <QMap>
#include <QUrl>

namespace
{
constexpr qint64 MiB = 1048576;
// What the endpoint's routes are under; the endpoint setting is scheme, host and port.
const QString PresignPath = QStringLiteral("/api/storage/presign_upload_url");
const QString CompletePath = QStringLiteral("/api/storage/complete_upload");

bool IsUsableEndpoint(const QString& Text)
{
	const QUrl Url(Text, QUrl::StrictMode);
	const QString Scheme = Url.scheme().toLower();
	return Url.isValid() && !Url.host().isEmpty() &&
	       (Scheme == QLatin1String("http") || Scheme == QLatin1String("https")) && Url.query().isEmpty() &&
	       Url.fragment().isEmpty();
}

bool IsUsableToken(const QString& Token)
{
	if (Token.size() != 64)
	{
		return false;
	}
	for (const QChar Char : Token)
	{
		if (!((Char >= QLatin1Char('0') && Char <= QLatin1Char('9')) ||
		      (Char >= QLatin1Char('a') && Char <= QLatin1Char('f'))))
		{
			return false;
		}
	}
	return true;
}
} // namespace

QString UOrvaPakUploadSubsystem::DefaultStorageEndpoint()
{
	return OrvaSDKSettings::StorageEndpoint.Default();
}

QString UOrvaPakUploadSubsystem::DefaultStorageToken()
{
	return OrvaSDKSettings::StorageToken.Default();
}

void UOrvaPakUploadSubsystem::Initialize(FSubsystemCollection& Collection)
{
	UEditorSubsystem::Initialize(Collection);
	StorageEndpoint = DefaultStorageEndpoint();
	StorageToken = DefaultStorageToken();
	FConfigCache* Config = GetHost()->GetConfig();
	if (!Config)
	{
		return;
	}
	const QString SettingsFile = OrvaSDKSettings::SettingsFilePath(GetHost()->Paths().UserSettingsDir());
	QString Value;
	if (OrvaSDKSettings::StorageEndpoint.Read(*Config, SettingsFile, Value) && !Value.isEmpty())
	{
		while (Value.endsWith(QLatin1Char('/')))
		{
			Value.chop(1);
		}
		if (IsUsableEndpoint(Value))
		{
			StorageEndpoint = Value;
		}
		else
		{
			UE_LOG(LogTemp, Error,
			       QStringLiteral("Ignoring StorageEndpoint \"%1\": it must be an absolute http or https address")
			           .arg(Value));
		}
	}
	Value.clear();
	if (OrvaSDKSettings::StorageToken.Read(*Config, SettingsFile, Value) && !Value.isEmpty())
	{
		if (IsUsableToken(Value))
		{
			StorageToken = Value;
		}
		else
		{
			// The value is not echoed: it is meant to be a secret.
			UE_LOG(LogTemp, Error, QStringLiteral("Ignoring StorageToken: it must be 64 lowercase hexadecimal digits"));
		}
	}
}

QString UOrvaPakUploadSubsystem::TestChoseFile()
{
	const QString DefaultPath = FPaths::Combine(FPaths::ConvertRelativePathToFull(GetHost()->Paths().ProjectDir()),
	                                            QStringLiteral("Saved/HotPatcher/"));
	const QString FileTypes =
	    QStringLiteral("%1 files (%2)|%3").arg(QStringLiteral("*"), QStringLiteral("*.*"), QStringLiteral("*.*"));
	const QStringList Chosen =
	    GetHost()->Dialogs().OpenFileDialog(QStringLiteral("Choose a file to upload"), DefaultPath, FileTypes, false);
	return Chosen.isEmpty() ? QString() : Chosen.first();
}

void UOrvaPakUploadSubsystem::TestGetUploadAddress(const QString& InFullFilepath, qint32 SliceSize)
{
	const QFileInfo File(InFullFilepath);
	if (!File.isFile())
	{
		return;
	}
	if (SliceSize <= 0)
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("TestGetUploadAddress: the slice size must be at least 1 MiB, not %1").arg(SliceSize));
		return;
	}
	const qint64 FileSize = File.size();
	// In 64 bits: slices of 2048 MiB and more do not fit 32 bits.
	const qint64 SliceBytes = qint64(SliceSize) * MiB;
	const QString Query = QStringLiteral("name=%1&file_size=%2&multi_part=%3&slice_size=%4")
	                          .arg(FPaths::GetBaseFilename(InFullFilepath))
	                          .arg(FileSize)
	                          .arg(SliceBytes < FileSize ? QStringLiteral("true") : QStringLiteral("false"))
	                          .arg(SliceSize);

	FOrvaServiceJob Job = StorageJob(QStringLiteral("GET"), PresignPath);
	Job.SetQuery(Query).SetLabel(QStringLiteral("TestGetUploadAddress"));
	const FUploadSource Source{File.absoluteFilePath(), SliceBytes};
	Job.Send(
	    this, [this, Source](FHttpRequestPtr InRequest, FHttpResponsePtr Response, bool bWasSuccessful)
	    { TestGetUploadAddress_ResponseReceived(std::move(InRequest), std::move(Response), bWasSuccessful, Source); });
}

void UOrvaPakUploadSubsystem::TestGetUploadAddress_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response,
                                                                    bool bWasSuccessful, const FUploadSource& Source)
{
	Q_UNUSED(Request);
	Q_UNUSED(bWasSuccessful);
	if (!Response)
	{
		return;
	}
	const std::optional<QJsonObject> Answer =
	    FOrvaServiceJob::ReadObject(Response, QStringLiteral("TestGetUploadAddress"));
	if (!Answer)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("JsonReader Error"));
	}
	else if (FJson::GetNumber(*Answer, QStringLiteral("code")) != 0)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("Error"));
		return;
	}
	else
	{
		FJson::GetString(*Answer, QStringLiteral("msg"));
		QJsonObject Data = FJson::GetObject(*Answer, QStringLiteral("data")).value_or(QJsonObject());
		for (const QJsonValue Element : FJson::GetArray(Data, QStringLiteral("urls")))
		{
			const QJsonObject Url = Element.toObject();
			FAwsUploader Record;
			Record.Url = FJson::GetString(Url, QStringLiteral("url"));
			Record.Part_Number = FJson::GetInt32(Url, QStringLiteral("part_number"));
			Record.Upload_Id = FJson::GetString(Url, QStringLiteral("upload_id"));
			AwsUploader.append(Record);
			Sources.insert(Record.Upload_Id, Source);
		}
	}
	TestAwsUpload();
}

void UOrvaPakUploadSubsystem::TestAwsUpload()
{
	// A new round of every held part: what failed before may go through now.
	FailedUploads.clear();
	for (const FAwsUploader& Record : AwsUploader)
	{
		const auto Found = Sources.constFind(Record.Upload_Id);
		const qint64 FileSize = Found == Sources.constEnd() ? -1 : QFileInfo(Found->FilePath).size();
		const qint64 Offset = Found == Sources.constEnd() ? -1 : qint64(Record.Part_Number - 1) * Found->SliceBytes;
		// Part 1 of an empty file is the one empty part; any other part must start inside the file.
		if (Found == Sources.constEnd() || Record.Part_Number < 1 || Offset > FileSize ||
		    (Offset == FileSize && Record.Part_Number != 1))
		{
			UE_LOG(LogTemp, Error,
			       QStringLiteral("TestAwsUpload: part %1 of upload %2 lies outside its file; not sent")
			           .arg(Record.Part_Number)
			           .arg(Record.Upload_Id));
			continue;
		}
		const qint64 Length = qMin(Found->SliceBytes, FileSize - Offset);
		(new FAutoDeleteAsyncTask<FPakUploadTask>(Record, Found->FilePath, Offset, Length, this))
		    ->StartBackgroundTask();
	}
}

void UOrvaPakUploadSubsystem::TestTask(qint32 TaskCount)
{
	Q_UNUSED(TaskCount);
}

void UOrvaPakUploadSubsystem::PartAnswered(const FAwsUploader& Answered, const QString& Etag, bool bSuccess,
                                           const QString& Problem)
{
	Q_EMIT OnPakPartUploaded(Answered.Upload_Id, Answered.Part_Number, bSuccess);
	if (!bSuccess)
	{
		// The upload cannot complete without the part: it ends here, once, and is not completed. A
		// later TestAwsUpload may send its parts again.
		if (!FailedUploads.contains(Answered.Upload_Id))
		{
			FailedUploads.insert(Answered.Upload_Id,
			                     QStringLiteral("part %1 %2").arg(Answered.Part_Number).arg(Problem));
			Q_EMIT OnPakUploadFinished(Answered.Upload_Id, false);
		}
		return;
	}
	bool bAllHaveEtags = true;
	for (FAwsUploader& Record : AwsUploader)
	{
		if (Record.Upload_Id != Answered.Upload_Id)
		{
			continue;
		}
		if (Record.Part_Number == Answered.Part_Number)
		{
			Record.Etag = Etag;
		}
		bAllHaveEtags = bAllHaveEtags && !Record.Etag.isEmpty();
	}
	if (bAllHaveEtags && !CompletionSent.contains(Answered.Upload_Id) && !FailedUploads.contains(Answered.Upload_Id))
	{
		CompleteUpload(Answered.Upload_Id);
	}
}

void UOrvaPakUploadSubsystem::CompleteUpload(const QString& UploadId)
{
	// One ETag per part number, ascending, as the store wants them.
	QMap<qint32, QString> Parts;
	for (const FAwsUploader& Record : AwsUploader)
	{
		if (Record.Upload_Id == UploadId)
		{
			Parts.insert(Record.Part_Number, Record.Etag);
		}
	}
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("upload_id"), UploadId);
	Writer.WriteArrayStart(QStringLiteral("parts"));
	for (auto It = Parts.cbegin(); It != Parts.cend(); ++It)
	{
		Writer.WriteObjectStart();
		Writer.WriteValue(QStringLiteral("part_number"), It.key());
		Writer.WriteValue(QStringLiteral("etag"), It.value());
		Writer.WriteObjectEnd();
	}
	Writer.WriteArrayEnd();
	Writer.WriteObjectEnd();

	CompletionSent.insert(UploadId);
	FOrvaServiceJob Job = StorageJob(QStringLiteral("POST"), CompletePath);
	Job.SetJsonBody(Writer.Close()).SetLabel(QStringLiteral("CompleteUpload"));
	// The store assembles the object before it answers, which takes as long as the object is large:
	// silence up to this long, and no overall deadline.
	Job.SetTimeout(300).SetDeadline(-1);
	Job.Send(this, [this, UploadId](FHttpRequestPtr InRequest, FHttpResponsePtr Response, bool bWasSuccessful)
	         { CompleteUpload_ResponseReceived(std::move(InRequest), std::move(Response), bWasSuccessful, UploadId); });
}

FOrvaServiceJob UOrvaPakUploadSubsystem::StorageJob(const QString& Verb, const QString& Path) const
{
	FOrvaServiceJob Job(GetHost()->Http(), Verb, StorageEndpoint, Path);
	Job.SetCredential(QStringLiteral("Token"), [Self = QPointer<const UOrvaPakUploadSubsystem>(this)]
	                  { return Self ? Self->StorageToken : QString(); });
	return Job;
}

void UOrvaPakUploadSubsystem::CompleteUpload_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response,
                                                              bool bWasSuccessful, const QString& UploadId)
{
	Q_UNUSED(Request);
	const std::optional<QJsonObject> Answer = FOrvaServiceJob::ReadObject(Response, QStringLiteral("CompleteUpload"));
	if (!bWasSuccessful || !Response)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("Error for CompleteUpload: Response Is Not Valid"));
	}
	else if (!Answer)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("JsonReader Error: CompleteUpload Failed"));
	}
	else if (FJson::GetNumber(*Answer, QStringLiteral("code")) != 0)
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("Error for CompleteUpload: %1").arg(FJson::GetString(*Answer, QStringLiteral("msg"))));
	}
	else
	{
		const QJsonObject Data = FJson::GetObject(*Answer, QStringLiteral("data")).value_or(QJsonObject());
		UE_LOG(LogTemp, Warning,
		       QStringLiteral("Pak upload complete: %1").arg(FJson::GetString(Data, QStringLiteral("key"))));
		Q_EMIT OnPakUploadFinished(UploadId, true);
		return;
	}
	// Not completed: a later round of parts may try again.
	CompletionSent.remove(UploadId);
	Q_EMIT OnPakUploadFinished(UploadId, false);
}
