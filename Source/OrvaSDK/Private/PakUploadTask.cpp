#include "PakUploadTask.h"

#include "EditorHost.h"
#include "Log.h"
#include "ThreadName.h"

#include <memory>

namespace
{
// A part is up to 5 GiB: no overall deadline, but a transfer that stops moving is given up.
constexpr double PartStallSeconds = 60.0;
} // namespace

FPakUploadTask::FPakUploadTask(const FAwsUploader& InRecord, const QString& InFilePath, qint64 InOffset,
                               qint64 InLength, UOrvaPakUploadSubsystem* InOwner)
    : Record(InRecord)
    , FilePath(InFilePath)
    , Offset(InOffset)
    , Length(InLength)
    , Owner(InOwner)
{
}

void FPakUploadTask::DoWork()
{
	Log(QStringLiteral("FPakUploadTask::DoWork"));
	// The pool deletes this task when DoWork returns; the copy lives on in the request's completion.
	auto Task = std::make_shared<FPakUploadTask>(*this);
	AsyncTask(ENamedThreads::GameThread, Owner, [Task] { Task->SendPart(); });
}

void FPakUploadTask::SendPart()
{
	auto* Subsystem = qobject_cast<UOrvaPakUploadSubsystem*>(Owner.Get());
	if (!Subsystem || !Subsystem->GetHost())
	{
		return;
	}
	FHttpRequestPtr Request = Subsystem->GetHost()->Http().CreateRequest();
	Request->SetVerb(QStringLiteral("PUT"));
	Request->SetURL(Record.Url);
	Request->SetHeader(QStringLiteral("Content-Type"), QStringLiteral("application/octet-stream"));
	Request->SetDeadline(-1);
	Request->SetStallTimeout(PartStallSeconds);
	if (!Request->SetContentSource(FHttpBody::FromFileRange(FilePath, Offset, Length)))
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("FPakUploadTask: part %1 of upload %2: cannot read %3 bytes at %4 of %5")
		           .arg(Record.Part_Number)
		           .arg(Record.Upload_Id)
		           .arg(Length)
		           .arg(Offset)
		           .arg(FilePath));
		Subsystem->PartAnswered(Record, QString(), false);
		return;
	}
	auto Self = std::make_shared<FPakUploadTask>(*this);
	Request->OnProcessRequestComplete(
	    Subsystem, [Self](FHttpRequestPtr InRequest, FHttpResponsePtr Response, bool bWasSuccessful)
	    { Self->ResponseReceived(std::move(InRequest), std::move(Response), bWasSuccessful); });
	Request->ProcessRequest();
}

void FPakUploadTask::ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful)
{
	Q_UNUSED(Request);
	QString Etag;
	bool bSuccess = false;
	if (Response)
	{
		UE_LOG(LogTemp, Warning, QStringLiteral("%1").arg(Response->GetContentAsString()));
		Etag = Response->GetHeader(QStringLiteral("ETag"));
		const int Code = Response->GetResponseCode();
		bSuccess = bWasSuccessful && Code >= 200 && Code < 300 && !Etag.isEmpty();
		if (!bSuccess)
		{
			// The presigned address is a credential of its own: it is not logged.
			UE_LOG(LogTemp, Error,
			       QStringLiteral("FPakUploadTask: part %1 of upload %2 was refused (HTTP %3%4)")
			           .arg(Record.Part_Number)
			           .arg(Record.Upload_Id)
			           .arg(Code)
			           .arg(Etag.isEmpty() ? QStringLiteral(", no ETag") : QString()));
		}
	}
	else
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("FPakUploadTask: part %1 of upload %2 got no answer")
		           .arg(Record.Part_Number)
		           .arg(Record.Upload_Id));
	}
	if (auto* Subsystem = qobject_cast<UOrvaPakUploadSubsystem*>(Owner.Get()))
	{
		Subsystem->PartAnswered(Record, bSuccess ? Etag : QString(), bSuccess);
	}
}

void FPakUploadTask::Log(const QString& Message)
{
	UE_LOG(LogTemp, Display,
	       QStringLiteral("%1[%2] - %3").arg(FThreadName::GetCurrent()).arg(FThreadName::GetCurrentId()).arg(Message));
}
