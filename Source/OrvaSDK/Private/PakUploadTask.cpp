#include "PakUploadTask.h"

#include "AwsS3Errors.h"
#include "AwsS3Retry.h"
#include "EditorHost.h"
#include "FileDigest.h"
#include "Log.h"
#include "ThreadName.h"

#include <QFile>
#include <QTimer>

#include <memory>

namespace
{
// A part is up to 5 GiB: no overall deadline, but a transfer that stops moving is given up.
constexpr double PartStallSeconds = 60.0;

// The attempts and pauses of the store's own puts.
const FS3ClientConfiguration& RetryRule()
{
	static const FS3ClientConfiguration Defaults;
	return Defaults;
}

// The MD5 of Length bytes at Offset of the file, read in pieces; empty when they cannot be read.
QByteArray RangeMd5(const QString& FilePath, qint64 Offset, qint64 Length)
{
	return Length < 0 ? QByteArray() : DigestOfFile(EDigestKind::Md5, FilePath, Offset, Length);
}

QString Unquoted(QString Etag)
{
	if (Etag.size() >= 2 && Etag.startsWith(QLatin1Char('"')) && Etag.endsWith(QLatin1Char('"')))
	{
		Etag = Etag.mid(1, Etag.size() - 2);
	}
	return Etag;
}
} // namespace

UPakPartJob::UPakPartJob(const FAwsUploader& Record, QObject* Parent)
    : UEditorJob(Parent)
    , PartNumber(Record.Part_Number)
    , UploadId(Record.Upload_Id)
{
	SetCancellable(true);
}

bool UPakPartJob::DoCancel()
{
	bCancelRequested = true;
	SetCancellable(false);
	// Its completion ends the part; without a PUT under way, the next attempt does.
	if (Request && !Request->IsFinished())
	{
		Request->CancelRequest();
	}
	return true;
}

FPakUploadTask::FPakUploadTask(const FAwsUploader& InRecord, const QString& InFilePath, qint64 InOffset,
                               qint64 InLength, UOrvaPakUploadSubsystem* InOwner)
    : Record(InRecord)
    , FilePath(InFilePath)
    , Offset(InOffset)
    , Length(InLength)
    , Owner(InOwner)
{
	if (InOwner)
	{
		Job = new UPakPartJob(Record, InOwner);
		Job->Start();
		Q_EMIT InOwner->OnPakPartJobStarted(Job);
	}
}

void FPakUploadTask::DoWork()
{
	Log(QStringLiteral("FPakUploadTask::DoWork"));
	// The pool deletes this task when DoWork returns; the copy lives on in the request's completion.
	auto Task = std::make_shared<FPakUploadTask>(*this);
	// Hashing reads the whole part: here, off the main thread.
	Task->Md5 = RangeMd5(FilePath, Offset, Length);
	AsyncTask(ENamedThreads::GameThread, Owner, [Task] { Task->SendPart(); });
}

void FPakUploadTask::SendPart()
{
	auto* Subsystem = qobject_cast<UOrvaPakUploadSubsystem*>(Owner.Get());
	if (!Subsystem || !Subsystem->GetHost() || EndIfCancelled())
	{
		return;
	}
	// Another part of this upload already ended it: a retry would only add bytes to a failed upload.
	if (Attempts > 0 && Subsystem->HasUploadFailed(Record.Upload_Id))
	{
		if (Job)
		{
			Job->FinishFailed(QStringLiteral("not sent again: %1").arg(Subsystem->GetUploadProblem(Record.Upload_Id)));
		}
		return;
	}
	FHttpRequestPtr Request = Subsystem->GetHost()->Http().CreateRequest();
	Request->SetVerb(QStringLiteral("PUT"));
	Request->SetURL(Record.Url);
	Request->SetHeader(QStringLiteral("Content-Type"), QStringLiteral("application/octet-stream"));
	Request->SetHeader(QStringLiteral("Content-MD5"), QString::fromLatin1(Md5.toBase64()));
	Request->SetDeadline(-1);
	Request->SetStallTimeout(PartStallSeconds);
	if (Md5.isEmpty() || !Request->SetContentSource(FHttpBody::FromFileRange(FilePath, Offset, Length)))
	{
		Fail(QStringLiteral("cannot read %1 bytes at %2 of %3").arg(Length).arg(Offset).arg(FilePath));
		return;
	}
	++Attempts;
	if (UPakPartJob* PartJob = Job)
	{
		PartJob->Request = Request;
		Request->OnRequestProgress(PartJob, [PartJob, Total = Length](FHttpRequestPtr, qint64 Sent, qint64)
		                           { PartJob->SetProgress(Sent, Total, true); });
	}
	auto Self = std::make_shared<FPakUploadTask>(*this);
	Request->OnProcessRequestComplete(
	    Subsystem, [Self](FHttpRequestPtr InRequest, FHttpResponsePtr Response, bool bWasSuccessful)
	    { Self->ResponseReceived(std::move(InRequest), std::move(Response), bWasSuccessful); });
	Request->ProcessRequest();
}

void FPakUploadTask::ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful)
{
	if (Job)
	{
		Job->Request.reset();
	}
	if (EndIfCancelled())
	{
		return;
	}
	if (Response)
	{
		UE_LOG(LogTemp, Warning, QStringLiteral("%1").arg(Response->GetContentAsString()));
	}
	if (!Response || !bWasSuccessful)
	{
		// The presigned address is a credential of its own: it is not logged.
		const QString Why = Request && Request->HasTimedOut() ? QStringLiteral("the part stalled")
		                                                      : QStringLiteral("the connection broke");
		if (!RetryLater(Why))
		{
			Fail(QStringLiteral("%1, after %2 attempts").arg(Why).arg(Attempts));
		}
		return;
	}
	const int Code = Response->GetResponseCode();
	if (Code < 200 || Code >= 300)
	{
		const FS3Error Error = AwsS3::ParseErrorResponse(Code, Response->GetContent());
		if (!AwsS3::IsTransientError(Error))
		{
			Fail(QStringLiteral("refused: %1").arg(Error.Describe()));
		}
		else if (!RetryLater(Error.Describe()))
		{
			Fail(QStringLiteral("failed: %1, after %2 attempts").arg(Error.Describe()).arg(Attempts));
		}
		return;
	}
	const QString Etag = Response->GetHeader(QStringLiteral("ETag"));
	if (Etag.isEmpty())
	{
		Fail(QStringLiteral("answered HTTP %1 without an ETag").arg(Code));
		return;
	}
	// A store's ETag of a part is the MD5 of what it stored.
	const QString Stored = Unquoted(Etag);
	const QString Sent = QString::fromLatin1(Md5.toHex());
	if (Stored.size() == 32 && Stored.compare(Sent, Qt::CaseInsensitive) != 0)
	{
		Fail(QStringLiteral("arrived damaged: the store holds MD5 %1, the part sent has %2").arg(Stored, Sent));
		return;
	}
	if (Job)
	{
		Job->FinishSucceeded();
	}
	if (auto* Subsystem = qobject_cast<UOrvaPakUploadSubsystem*>(Owner.Get()))
	{
		Subsystem->PartAnswered(Record, Etag, true);
	}
}

bool FPakUploadTask::RetryLater(const QString& Why)
{
	auto* Subsystem = qobject_cast<UOrvaPakUploadSubsystem*>(Owner.Get());
	if (!Subsystem || !AwsS3::MayRetry(Attempts, RetryRule()))
	{
		return false;
	}
	const int DelayMs = AwsS3::RetryDelayMs(Attempts, RetryRule());
	UE_LOG(LogTemp, Warning,
	       QStringLiteral("FPakUploadTask: part %1 of upload %2: %3; attempt %4 of %5 in %6 ms")
	           .arg(Record.Part_Number)
	           .arg(Record.Upload_Id, Why)
	           .arg(Attempts + 1)
	           .arg(RetryRule().MaxAttempts)
	           .arg(DelayMs));
	auto Again = std::make_shared<FPakUploadTask>(*this);
	QTimer::singleShot(DelayMs, Subsystem, [Again] { Again->SendPart(); });
	return true;
}

void FPakUploadTask::Fail(const QString& Problem)
{
	UE_LOG(LogTemp, Error,
	       QStringLiteral("FPakUploadTask: part %1 of upload %2 %3")
	           .arg(Record.Part_Number)
	           .arg(Record.Upload_Id, Problem));
	if (Job)
	{
		Job->FinishFailed(Problem);
	}
	if (auto* Subsystem = qobject_cast<UOrvaPakUploadSubsystem*>(Owner.Get()))
	{
		Subsystem->PartAnswered(Record, QString(), false, Problem);
	}
}

bool FPakUploadTask::EndIfCancelled()
{
	if (!Job || !Job->bCancelRequested)
	{
		return false;
	}
	const QString Why = QStringLiteral("cancelled");
	UE_LOG(
	    LogTemp, Warning,
	    QStringLiteral("FPakUploadTask: part %1 of upload %2 %3").arg(Record.Part_Number).arg(Record.Upload_Id, Why));
	Job->FinishCancelled(Why);
	// The upload cannot complete without the part.
	if (auto* Subsystem = qobject_cast<UOrvaPakUploadSubsystem*>(Owner.Get()))
	{
		Subsystem->PartAnswered(Record, QString(), false, Why);
	}
	return true;
}

void FPakUploadTask::Log(const QString& Message)
{
	UE_LOG(LogTemp, Display,
	       QStringLiteral("%1[%2] - %3").arg(FThreadName::GetCurrent()).arg(FThreadName::GetCurrentId()).arg(Message));
}
