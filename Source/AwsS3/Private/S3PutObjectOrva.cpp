#include "S3PutObjectOrva.h"

#include "AwsSigV4.h"
#include "GameThread.h"

#include <QCoreApplication>
#include <QCryptographicHash>

#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>
#include <openssl/evp.h>

#include <atomic>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

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

bool IsHexMd5(const QString& Value)
{
	if (Value.size() != 32)
	{
		return false;
	}
	for (QChar C : Value)
	{
		if (!C.isDigit() && !(C.toLower() >= QLatin1Char('a') && C.toLower() <= QLatin1Char('f')))
		{
			return false;
		}
	}
	return true;
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
	if (HttpRequest && !HttpRequest->IsFinished())
	{
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
	if (HttpRequest && !HttpRequest->IsFinished())
	{
		HttpRequest->OnProcessRequestComplete(this, nullptr);
		HttpRequest->CancelRequest();
	}
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
	if (FileSize > MaxSinglePutBytes)
	{
		Fail(ES3Errors::EntityTooLarge,
		     QStringLiteral("%1 has %2 bytes, more than one PUT may store").arg(Request.LocalFile).arg(FileSize));
		return;
	}
	if (PayloadSigningPolicy == EAwsS3PayloadSigningPolicy::Always)
	{
		// A signed payload needs its SHA-256 before the first byte goes: one pass over the file on
		// a worker thread, which gives the MD5 as well; the send starts when it is done.
		bPrehash = true;
		StartHashing(true);
		return;
	}
	Send(QString::fromLatin1(AwsSigV4::UnsignedPayload.data(), qsizetype(AwsSigV4::UnsignedPayload.size())));
	StartHashing(false);
}

void US3PutObjectOrva::Send(const QString& PayloadHash)
{
	QString Problem;
	const AwsS3::FS3ObjectAddress Address =
	    AwsS3::ResolveObjectAddress(Configuration, Request.Bucket, Request.Key, Problem);
	if (Address.Url.isEmpty())
	{
		Fail(ES3Errors::InvalidConfiguration, Problem);
		return;
	}

	HttpRequest = Configuration.Http->CreateRequest();
	HttpRequest->SetVerb(QStringLiteral("PUT"));
	HttpRequest->SetURL(Address.Url);
	if (!Request.ContentType.isEmpty())
	{
		HttpRequest->SetHeader(QStringLiteral("Content-Type"), Request.ContentType);
	}
	// The length checked and hashed is the length sent: a file that shrinks fails the request.
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
	const AwsSigV4::FCredentials Keys{Credentials.AccessKeyId.toStdString(), Credentials.SecretAccessKey.toStdString(),
	                                  Credentials.SessionToken.toStdString()};
	const QString Region = Configuration.Region.isEmpty() ? QStringLiteral("us-east-1") : Configuration.Region;
	const AwsSigV4::FScope Scope{Region.toStdString(), "s3"};
	HttpRequest->SetPreSendHook(
	    [Keys, Scope, Address, Hash = PayloadHash.toStdString()](const QString& Verb, const QUrl&,
	                                                             FHttpHeaderList& Headers, qint64)
	    {
		    AwsSigV4::FRequest Signed;
		    Signed.Method = Verb.toStdString();
		    Signed.Path = Address.Path.toStdString();
		    // The HTTP layer writes "Host" from the URL: the same value that is signed here.
		    Signed.Headers.emplace_back("host", Address.Host.toStdString());
		    for (const auto& Header : Headers)
		    {
			    if (Header.first.compare("content-type", Qt::CaseInsensitive) == 0)
			    {
				    Signed.Headers.emplace_back("content-type", Header.second.toStdString());
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
	// Threads of their own: they run niced (see HashOnWorker).
	static QThreadPool HashPool;
	HashPool.start([Job = HashJob] { HashOnWorker(Job); });
}

void US3PutObjectOrva::HashOnWorker(const std::shared_ptr<FHashJob>& Job)
{
	// The check may lag the transfer a little; it must not take the processor from the transfer
	// (or from a local store on the same machine). Linux nice values are per thread, and these
	// threads do nothing else.
	::setpriority(PRIO_PROCESS, id_t(::syscall(SYS_gettid)), 10);
	// OpenSSL's digests: the check competes with the transfer for the processor, and these are
	// the fastest at hand.
	struct FDigest
	{
		EVP_MD_CTX* Context = EVP_MD_CTX_new();
		explicit FDigest(const EVP_MD* Type) { EVP_DigestInit_ex(Context, Type, nullptr); }
		~FDigest() { EVP_MD_CTX_free(Context); }
		void Add(QByteArrayView Bytes) { EVP_DigestUpdate(Context, Bytes.data(), size_t(Bytes.size())); }
		QString Hex()
		{
			unsigned char Out[EVP_MAX_MD_SIZE];
			unsigned int Length = 0;
			EVP_DigestFinal_ex(Context, Out, &Length);
			return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(Out), int(Length)).toHex());
		}
	};
	FDigest Md5(EVP_md5());
	FDigest Sha256(EVP_sha256());
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
			Md5.Add(Bytes);
			if (Job->bWithSha256)
			{
				Sha256.Add(Bytes);
			}
			Total += Read;
		}
	}
	if (Job->bCancelled.load())
	{
		return;
	}
	const QString Md5Hex = Md5.Hex();
	const QString Sha256Hex = Job->bWithSha256 ? Sha256.Hex() : QString();
	// The application object outlives every action; the owner is looked up on the main thread.
	auto Deliver = [Job, Md5Hex, Sha256Hex, Total, Problem]
	{
		if (Job->Owner)
		{
			Job->Owner->OnHashed(Md5Hex, Sha256Hex, Total, Problem);
		}
	};
	QMetaObject::invokeMethod(QCoreApplication::instance(), Deliver, Qt::QueuedConnection);
}

void US3PutObjectOrva::OnHashed(const QString& Md5Hex, const QString& Sha256Hex, qint64 BytesRead,
                                const QString& Problem)
{
	if (bFinished)
	{
		return;
	}
	bHashed = true;
	HashedBytes = BytesRead;
	HashProblem = Problem;
	if (Problem.isEmpty())
	{
		Result.ContentMd5 = Md5Hex;
	}
	if (bPrehash && !HttpRequest && !Answer)
	{
		if (!Problem.isEmpty() || BytesRead != FileSize)
		{
			Fail(ES3Errors::FileError,
			     QStringLiteral("cannot read %1 to sign it: %2")
			         .arg(Request.LocalFile, Problem.isEmpty() ? QStringLiteral("it changed") : Problem));
			return;
		}
		Send(Sha256Hex);
		return;
	}
	if (Answer)
	{
		Conclude();
	}
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
		Fail(ES3Errors::NetworkError,
		     QStringLiteral("no answer from the store for %1 (connection refused or broken)").arg(Request.Key));
		return;
	}
	Result.HttpStatus = Response->GetResponseCode();
	Result.ETag = Unquoted(Response->GetHeader(QStringLiteral("ETag")));
	Result.VersionId = Response->GetHeader(QStringLiteral("x-amz-version-id"));
	Result.ServerSideEncryption = Response->GetHeader(QStringLiteral("x-amz-server-side-encryption"));
	if (Result.HttpStatus < 200 || Result.HttpStatus >= 300)
	{
		const FS3Error Error = AwsS3::ParseErrorResponse(Result.HttpStatus, Response->GetContent());
		Fail(Error.Kind == ES3Errors::None ? ES3Errors::Unknown : Error.Kind, Error.Describe());
		return;
	}
	Result.BytesSent = FileSize;
	Answer = Response;
	// The answer may come before the file's MD5 does: the hash finishes the decision then.
	if (bHashed)
	{
		Conclude();
	}
}

void US3PutObjectOrva::Conclude()
{
	if (bFinished)
	{
		return;
	}
	if (!HashProblem.isEmpty() || HashedBytes != FileSize)
	{
		// The file changed or became unreadable while it was sent: what the store holds is not it.
		Fail(ES3Errors::FileError,
		     HashProblem.isEmpty()
		         ? QStringLiteral("%1 changed while it was sent (%2 bytes sent, %3 bytes now)")
		               .arg(Request.LocalFile)
		               .arg(FileSize)
		               .arg(HashedBytes)
		         : QStringLiteral("cannot read %1 to check it: %2").arg(Request.LocalFile, HashProblem));
		return;
	}
	const bool bKms = Result.ServerSideEncryption.startsWith(QLatin1String("aws:kms"), Qt::CaseInsensitive);
	if (bKms || Result.ETag.isEmpty() || !IsHexMd5(Result.ETag))
	{
		UE_LOG(LogAwsS3, Display,
		       QStringLiteral("%1: the store's answer gives no MD5 to compare (%2), the checksum check is skipped")
		           .arg(Request.Key, bKms ? QStringLiteral("encrypted with KMS")
		                                  : (Result.ETag.isEmpty() ? QStringLiteral("no ETag")
		                                                           : QStringLiteral("ETag is not an MD5"))));
	}
	else if (Result.ETag.compare(Result.ContentMd5, Qt::CaseInsensitive) != 0)
	{
		Fail(ES3Errors::ChecksumMismatch,
		     QStringLiteral("%1 arrived damaged: the store holds MD5 %2, the file sent has %3")
		         .arg(Request.Key, Result.ETag, Result.ContentMd5));
		return;
	}
	else
	{
		Result.bChecksumVerified = true;
	}
	ReportProgress(FileSize);
	Finish(true, ES3Errors::None, QString());
}

void US3PutObjectOrva::Fail(ES3Errors Error, const QString& Message)
{
	UE_LOG(LogAwsS3, Error, QStringLiteral("PutObject %1 failed: %2").arg(Request.Key, Message));
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
