#include "S3PutObjectOrva.h"

#include "AwsS3Retry.h"
#include "AwsSigV4.h"
#include "GameThread.h"
#include "Hex.h"
#include "S3MultipartState.h"
#include "S3PutShared.h"

#include <QCoreApplication>

#include <QFile>
#include <QFileInfo>
#include <QMetaMethod>
#include <QPointer>
#include <QThreadPool>

#include <atomic>
#include <chrono>

namespace
{

QString Unquoted(QString Value)
{
	Value = Value.trimmed();
	if (Value.size() >= 2 && Value.startsWith(QLatin1Char('"')) && Value.endsWith(QLatin1Char('"')))
	{
		Value = Value.mid(1, Value.size() - 2);
	}
	return Value;
}

// Digits of either case only: QChar::isDigit would take digits of other scripts.
bool IsHexMd5(const QString& Value)
{
	return Value.size() == 32 && FHex::Decode(Value.toStdString()).has_value();
}

QString AttemptsNote(int Attempts)
{
	return Attempts > 1 ? QStringLiteral(" after %1 attempts").arg(Attempts) : QString();
}

} // namespace

// The worker reads only FilePath and the flag; Owner is read on the main thread only.
struct US3PutObjectOrva::FHashJob
{
	QString FilePath;
	bool bWithSha256 = false;
	std::atomic<bool> bCancelled{false};
	QPointer<US3PutObjectOrva> Owner;
};

US3PutObjectOrva* US3PutObjectOrva::PutObject(QObject* WorldContextObject, UAwsS3ClientObject* Client,
                                              const FPutObjectRequest& Request)
{
	Q_UNUSED(WorldContextObject);
	// The digests run on pool threads. OpenSSL's one-time set-up of a digest, done on a pool
	// thread, leaves state its clean-up at exit never frees: it is done here, on the main thread.
	static const bool bDigestsReady = []
	{
		for (const EDigestKind Kind : {EDigestKind::Md5, EDigestKind::Sha256})
		{
			FDigest Warm(Kind);
		}
		return true;
	}();
	Q_UNUSED(bDigestsReady);
	auto* Action = new US3PutObjectOrva();
	Action->Client = Client;
	Action->Request = Request;
	return Action;
}

US3PutObjectOrva::~US3PutObjectOrva()
{
	if (HashJob)
	{
		HashJob->bCancelled = true;
	}
	// Gone mid-transfer (the editor closing): what the store holds stays for a later publish.
	CancelMultipartRequests();
	if (HttpRequest && !HttpRequest->IsFinished())
	{
		HttpRequest->OnProcessRequestComplete(this, nullptr);
		HttpRequest->CancelRequest();
	}
}

void US3PutObjectOrva::Activate()
{
	if (bActivated)
	{
		return;
	}
	bActivated = true;
	if (!Client)
	{
		Fail(ES3Errors::InvalidConfiguration, QStringLiteral("no S3 client"));
		return;
	}
	Credentials = Client->GetCredentials();
	CredentialsReceived = QDateTime::currentDateTimeUtc();
	Configuration = Client->GetConfiguration();
	PayloadSigningPolicy = Client->GetPayloadSigningPolicy();
	Start();
}

void US3PutObjectOrva::Cancel()
{
	if (bFinished)
	{
		return;
	}
	if (RetryTimer)
	{
		RetryTimer->stop();
	}
	if (HttpRequest && !HttpRequest->IsFinished())
	{
		HttpRequest->OnProcessRequestComplete(this, nullptr);
		HttpRequest->CancelRequest();
	}
	CancelMultipartRequests();
	Fail(ES3Errors::Cancelled, QStringLiteral("the upload of %1 was cancelled").arg(Request.LocalFile));
}

void US3PutObjectOrva::Start()
{
	if (Configuration.Http == nullptr)
	{
		Fail(ES3Errors::InvalidConfiguration, QStringLiteral("the S3 client has no HTTP module"));
		return;
	}
	if (!Credentials.IsUsable())
	{
		Fail(ES3Errors::InvalidConfiguration, QStringLiteral("the S3 client has no access key or secret"));
		return;
	}
	const QFileInfo File(Request.LocalFile);
	if (Request.LocalFile.isEmpty() || !File.isFile() || !File.isReadable())
	{
		Fail(ES3Errors::FileError, QStringLiteral("cannot read the file to upload: %1").arg(Request.LocalFile));
		return;
	}
	FileSize = File.size();
	if (FileSize > Configuration.MultipartThresholdBytes)
	{
		StartMultipart();
		return;
	}
	if (FileSize > MaxSinglePutBytes)
	{
		Fail(ES3Errors::EntityTooLarge,
		     QStringLiteral("%1 has %2 bytes, more than one PUT may store").arg(Request.LocalFile).arg(FileSize));
		return;
	}
	// The store can only check the body against a digest it is given before the body: one pass
	// over the file on a worker thread, then the send.
	StartHashing(PayloadSigningPolicy == EAwsS3PayloadSigningPolicy::Always);
}

void US3PutObjectOrva::Send()
{
	if (CredentialsAboutToExpire() && AwaitFreshCredentials([this] { Send(); }))
	{
		return;
	}
	QString Problem;
	const AwsS3::FS3ObjectAddress Address =
	    AwsS3::ResolveObjectAddress(Configuration, Request.Bucket, Request.Key, Problem);
	if (Address.Url.isEmpty())
	{
		Fail(ES3Errors::InvalidConfiguration, Problem);
		return;
	}

	++Result.Attempts;
	HttpRequest = Configuration.Http->CreateRequest();
	HttpRequest->SetVerb(QStringLiteral("PUT"));
	HttpRequest->SetURL(Address.Url);
	if (!Request.ContentType.isEmpty())
	{
		HttpRequest->SetHeader(QStringLiteral("Content-Type"), Request.ContentType);
	}
	HttpRequest->SetHeader(QStringLiteral("Content-MD5"), QString::fromLatin1(ContentMd5Base64));
	// The length hashed is the length sent: a file that shrinks fails the request, one whose bytes
	// changed since the hash is refused by the store.
	if (!HttpRequest->SetContentSource(FHttpBody::FromFileRange(Request.LocalFile, 0, FileSize)))
	{
		HttpRequest.reset();
		Fail(ES3Errors::FileError, QStringLiteral("cannot open the file to upload: %1").arg(Request.LocalFile));
		return;
	}
	// A large upload may take long; one that stops moving is given up.
	HttpRequest->SetTimeout(Configuration.RequestTimeoutSeconds);
	HttpRequest->SetStallTimeout(Configuration.RequestTimeoutSeconds);
	// Signed just before it goes, so the timestamp is the sending time and the headers are the
	// ones on the wire.
	AwsS3::SignWhenSent(*HttpRequest, Credentials, Configuration, Address, {}, PayloadHash);
	HttpRequest->OnRequestProgress(this,
	                               [this](FHttpRequestPtr, qint64 BytesSent, qint64)
	                               {
		                               if (BytesSent >= 0)
		                               {
			                               ReportProgress(BytesSent);
		                               }
	                               });
	HttpRequest->OnProcessRequestComplete(this, [this](FHttpRequestPtr Sent, FHttpResponsePtr Response, bool bOk)
	                                      { OnSent(std::move(Sent), std::move(Response), bOk); });
	UE_LOG(LogAwsS3, Log, QStringLiteral("PUT %1 (%2 bytes)").arg(Address.Url).arg(FileSize));
	HttpRequest->ProcessRequest();
}

void US3PutObjectOrva::StartHashing(bool bWithSha256)
{
	HashJob = std::make_shared<FHashJob>();
	HashJob->FilePath = Request.LocalFile;
	HashJob->Owner = this;
	HashJob->bWithSha256 = bWithSha256;
	static QThreadPool HashPool;
	HashPool.start([Job = HashJob] { HashOnWorker(Job); });
}

void US3PutObjectOrva::HashOnWorker(const std::shared_ptr<FHashJob>& Job)
{
	FDigest Md5(EDigestKind::Md5);
	FDigest Sha256(EDigestKind::Sha256);
	QString Problem;
	qint64 Total = 0;
	QFile File(Job->FilePath);
	if (!File.open(QIODevice::ReadOnly))
	{
		Problem = File.errorString();
	}
	else
	{
		QByteArray Chunk(1024 * 1024, Qt::Uninitialized);
		while (!Job->bCancelled.load(std::memory_order_relaxed))
		{
			const qint64 Read = File.read(Chunk.data(), Chunk.size());
			if (Read < 0)
			{
				Problem = File.errorString();
				break;
			}
			if (Read == 0)
			{
				break;
			}
			const QByteArrayView Bytes(Chunk.constData(), Read);
			Md5.Update(Bytes.data(), size_t(Bytes.size()));
			if (Job->bWithSha256)
			{
				Sha256.Update(Bytes.data(), size_t(Bytes.size()));
			}
			Total += Read;
		}
	}
	if (Job->bCancelled.load())
	{
		return;
	}
	const QByteArray Md5Bytes = Md5.Final<QByteArray>();
	const QString Sha256Hex = Job->bWithSha256 ? QString::fromLatin1(Sha256.Final<QByteArray>().toHex()) : QString();
	// The application object outlives every action; the owner is looked up on the main thread.
	auto Deliver = [Job, Md5Bytes, Sha256Hex, Total, Problem]
	{
		if (Job->Owner)
		{
			Job->Owner->OnHashed(Md5Bytes, Sha256Hex, Total, Problem);
		}
	};
	QMetaObject::invokeMethod(QCoreApplication::instance(), Deliver, Qt::QueuedConnection);
}

void US3PutObjectOrva::OnHashed(const QByteArray& Md5, const QString& Sha256Hex, qint64 BytesRead,
                                const QString& Problem)
{
	HashJob.reset();
	if (bFinished)
	{
		return;
	}
	// Without the file's digest the store could not check the body: nothing is sent.
	if (!Problem.isEmpty() || BytesRead != FileSize)
	{
		Fail(ES3Errors::FileError,
		     Problem.isEmpty() ? QStringLiteral("%1 changed while it was read to hash it (%2 bytes, then %3)")
		                             .arg(Request.LocalFile)
		                             .arg(FileSize)
		                             .arg(BytesRead)
		                       : QStringLiteral("cannot read %1 to hash it: %2").arg(Request.LocalFile, Problem));
		return;
	}
	Result.ContentMd5 = QString::fromLatin1(Md5.toHex());
	ContentMd5Base64 = Md5.toBase64();
	PayloadHash = Sha256Hex.isEmpty() ? QString::fromLatin1(AwsSigV4::UnsignedPayload.data(),
	                                                        qsizetype(AwsSigV4::UnsignedPayload.size()))
	                                  : Sha256Hex;
	Send();
}

void US3PutObjectOrva::ReportProgress(qint64 BytesSent)
{
	if (FileSize <= 0 || bFinished)
	{
		return;
	}
	const int Percent = int(qBound<qint64>(0, BytesSent, FileSize) * 100 / FileSize);
	if (Percent > LastPercent)
	{
		LastPercent = Percent;
		Q_EMIT Progress(Request.LocalFile, Percent);
	}
}

bool US3PutObjectOrva::RetryLater(const QString& Why)
{
	if (!AwsS3::MayRetry(Result.Attempts, Configuration))
	{
		return false;
	}
	const int DelayMs = AwsS3::RetryDelayMs(Result.Attempts, Configuration);
	UE_LOG(LogAwsS3, Warning,
	       QStringLiteral("PutObject %1: %2; attempt %3 of %4 in %5 ms")
	           .arg(Request.Key, Why)
	           .arg(Result.Attempts + 1)
	           .arg(Configuration.MaxAttempts)
	           .arg(DelayMs));
	if (!RetryTimer)
	{
		RetryTimer = new QTimer(this);
		RetryTimer->setSingleShot(true);
		connect(RetryTimer, &QTimer::timeout, this,
		        [this]
		        {
			        if (!bFinished)
			        {
				        Send();
			        }
		        });
	}
	RetryTimer->start(DelayMs);
	return true;
}

void US3PutObjectOrva::OnSent(FHttpRequestPtr Sent, FHttpResponsePtr Response, bool bWasSuccessful)
{
	HttpRequest.reset();
	if (bFinished)
	{
		return;
	}
	if (!Response || !bWasSuccessful)
	{
		if (Sent && Sent->HasTimedOut())
		{
			Fail(ES3Errors::Timeout,
			     QStringLiteral("no answer from the store for %1 in time (nothing moved for %2 s, or no answer "
			                    "within the deadline)")
			         .arg(Request.Key)
			         .arg(Configuration.RequestTimeoutSeconds));
			return;
		}
		// The whole object goes again: a PUT of it is idempotent.
		if (RetryLater(QStringLiteral("the connection broke before the answer")))
		{
			return;
		}
		Fail(ES3Errors::NetworkError, QStringLiteral("no answer from the store for %1 (connection refused or broken)%2")
		                                  .arg(Request.Key, AttemptsNote(Result.Attempts)));
		return;
	}
	Result.HttpStatus = Response->GetResponseCode();
	Result.ETag = Unquoted(Response->GetHeader(QStringLiteral("ETag")));
	Result.VersionId = Response->GetHeader(QStringLiteral("x-amz-version-id"));
	Result.ServerSideEncryption = Response->GetHeader(QStringLiteral("x-amz-server-side-encryption"));
	if (Result.HttpStatus < 200 || Result.HttpStatus >= 300)
	{
		const FS3Error Error = AwsS3::ParseErrorResponse(Result.HttpStatus, Response->GetContent());
		if (AwsS3::IsTransientError(Error) && RetryLater(Error.Describe()))
		{
			return;
		}
		if (Error.Kind == ES3Errors::ExpiredToken && AwaitFreshCredentials([this] { Send(); }))
		{
			return;
		}
		Fail(Error.Kind == ES3Errors::None ? ES3Errors::Unknown : Error.Kind,
		     Error.Describe() + AttemptsNote(Result.Attempts));
		return;
	}
	Result.BytesSent = FileSize;
	Conclude();
}

void US3PutObjectOrva::Conclude()
{
	const bool bKms = Result.ServerSideEncryption.startsWith(QLatin1String("aws:kms"), Qt::CaseInsensitive);
	if (bKms || Result.ETag.isEmpty() || !IsHexMd5(Result.ETag))
	{
		UE_LOG(LogAwsS3, Display,
		       QStringLiteral("%1: the store's answer gives no MD5 to compare (%2); the store checked the body "
		                      "against its Content-MD5")
		           .arg(Request.Key, bKms ? QStringLiteral("encrypted with KMS")
		                                  : (Result.ETag.isEmpty() ? QStringLiteral("no ETag")
		                                                           : QStringLiteral("ETag is not an MD5"))));
	}
	else if (Result.ETag.compare(Result.ContentMd5, Qt::CaseInsensitive) != 0)
	{
		// A store that ignored the Content-MD5 and kept other bytes.
		Fail(ES3Errors::ChecksumMismatch,
		     QStringLiteral("%1 arrived damaged: the store holds MD5 %2, the file sent has %3")
		         .arg(Request.Key, Result.ETag, Result.ContentMd5));
		return;
	}
	Result.bChecksumVerified = true;
	ReportProgress(FileSize);
	Finish(true, ES3Errors::None, QString());
}

bool US3PutObjectOrva::CredentialsAboutToExpire() const
{
	if (!Credentials.Expiration.isValid() || !CredentialsReceived.isValid())
	{
		return false;
	}
	// A minute ahead, or half their life for credentials that live less than two minutes, so that
	// fresh short-lived ones are used before they are renewed again.
	const qint64 LifeMs = CredentialsReceived.msecsTo(Credentials.Expiration);
	const qint64 AheadMs = qMin<qint64>(qint64(RenewBeforeExpirySeconds) * 1000, LifeMs / 2);
	return QDateTime::currentDateTimeUtc().msecsTo(Credentials.Expiration) <= AheadMs;
}

bool US3PutObjectOrva::AwaitFreshCredentials(std::function<void()> Then)
{
	if (bFinished || !isSignalConnected(QMetaMethod::fromSignal(&US3PutObjectOrva::CredentialsExpired)) ||
	    (!bAwaitingCredentials && Renewals >= Configuration.MaxAttempts))
	{
		return false;
	}
	AfterRenewal.append(std::move(Then));
	if (!bAwaitingCredentials)
	{
		bAwaitingCredentials = true;
		UE_LOG(LogAwsS3, Display,
		       QStringLiteral("PutObject %1: the credentials expired; asking for fresh ones").arg(Request.Key));
		Q_EMIT CredentialsExpired();
	}
	return true;
}

void US3PutObjectOrva::RenewCredentials(const FAwsCredentials& Fresh)
{
	if (bFinished || !bAwaitingCredentials)
	{
		return;
	}
	bAwaitingCredentials = false;
	const QList<std::function<void()>> Waiting = std::exchange(AfterRenewal, {});
	if (!Fresh.IsUsable())
	{
		Fail(ES3Errors::ExpiredToken,
		     QStringLiteral("the store refused the credentials for %1 as expired, and no fresh ones came")
		         .arg(Request.Key));
		return;
	}
	Credentials = Fresh;
	CredentialsReceived = QDateTime::currentDateTimeUtc();
	++Renewals;
	for (const auto& Then : Waiting)
	{
		if (bFinished || bAwaitingCredentials)
		{
			break;
		}
		Then();
	}
}

void US3PutObjectOrva::Fail(ES3Errors Error, const QString& Message)
{
	if (bFinished)
	{
		return;
	}
	UE_LOG(LogAwsS3, Error, QStringLiteral("PutObject %1 failed: %2").arg(Request.Key, Message));
	// A link that gave out leaves the upload and its journal for the next put of the file;
	// anything else will not go better later.
	const bool bResumable = Error == ES3Errors::NetworkError || Error == ES3Errors::Timeout;
	if (Multipart && !Multipart->UploadId.isEmpty() && !Multipart->bAborting && !bResumable)
	{
		AbortMultipartThenFinish(Error, Message);
		return;
	}
	if (Multipart)
	{
		CancelMultipartRequests();
	}
	Finish(false, Error, Message);
}

void US3PutObjectOrva::Finish(bool bSuccess, ES3Errors Error, const QString& Message)
{
	if (bFinished)
	{
		return;
	}
	bFinished = true;
	if (HashJob)
	{
		HashJob->bCancelled = true;
	}
	// Always later on the main thread, also for a refusal inside Activate(), so that whoever
	// activates has bound its handlers by then either way.
	FGameThread::Post(this,
	                  [this, bSuccess, Error, Message]
	                  {
		                  Q_EMIT Completed(bSuccess, Result, Error, Message);
		                  deleteLater();
	                  });
}

void AwsS3::SignWhenSent(FHttpRequest& Call, const FAwsCredentials& Credentials,
                         const FS3ClientConfiguration& Configuration, const FS3ObjectAddress& Address,
                         const AwsSigV4::FNameValueList& Query, const QString& PayloadHashHex)
{
	const AwsSigV4::FCredentials Keys{Credentials.AccessKeyId.toStdString(), Credentials.SecretAccessKey.toStdString(),
	                                  Credentials.SessionToken.toStdString()};
	const QString Region = Configuration.Region.isEmpty() ? QStringLiteral("us-east-1") : Configuration.Region;
	const AwsSigV4::FScope Scope{Region.toStdString(), "s3"};
	Call.SetPreSendHook(
	    [Keys, Scope, Address, Query, Hash = PayloadHashHex.toStdString()](const QString& Verb, const QUrl&,
	                                                                       FHttpHeaderList& Headers, qint64)
	    {
		    AwsSigV4::FRequest Signed;
		    Signed.Method = Verb.toStdString();
		    Signed.Path = Address.Path.toStdString();
		    Signed.Query = Query;
		    // The HTTP layer writes "Host" from the URL: the same value that is signed here.
		    Signed.Headers.emplace_back("host", Address.Host.toStdString());
		    for (const auto& Header : Headers)
		    {
			    // The digest is signed: nobody on the way can swap it for the digest of other bytes.
			    for (const char* Name : {"content-type", "content-md5"})
			    {
				    if (Header.first.compare(Name, Qt::CaseInsensitive) == 0)
				    {
					    Signed.Headers.emplace_back(Name, Header.second.toStdString());
				    }
			    }
		    }
		    Signed.PayloadHash = Hash;
		    const size_t Before = Signed.Headers.size();
		    AwsSigV4::Sign(Signed, Keys, Scope, AwsSigV4::FormatTimestamp(std::chrono::system_clock::now()));
		    for (size_t I = Before; I < Signed.Headers.size(); ++I)
		    {
			    Headers.append({QByteArray::fromStdString(Signed.Headers[I].first),
			                    QByteArray::fromStdString(Signed.Headers[I].second)});
		    }
	    });
}
