#include "AwsS3Retry.h"
#include "AwsSigV4.h"
#include "FileHelper.h"
#include "S3MultipartState.h"
#include "S3PutShared.h"
#include "S3TransferThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QThreadPool>
#include <QTimer>
#include <QXmlStreamReader>

#include <chrono>

namespace
{

using FQuery = QList<QPair<QString, QString>>;

QString Unquoted(QString Value)
{
	Value = Value.trimmed();
	if (Value.size() >= 2 && Value.startsWith(QLatin1Char('"')) && Value.endsWith(QLatin1Char('"')))
	{
		Value = Value.mid(1, Value.size() - 2);
	}
	return Value;
}

// The text of the first element called Name in an XML answer; empty when absent.
QString XmlElementText(const QByteArray& Xml, QLatin1StringView Name)
{
	QXmlStreamReader Reader(Xml);
	while (!Reader.atEnd() && !Reader.hasError())
	{
		if (Reader.readNext() == QXmlStreamReader::StartElement && Reader.name() == Name)
		{
			return Reader.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
		}
	}
	return QString();
}

QString UnsignedPayloadText()
{
	return QString::fromLatin1(AwsSigV4::UnsignedPayload.data(), qsizetype(AwsSigV4::UnsignedPayload.size()));
}

QString Sha256HexOf(const QByteArray& Bytes)
{
	return QString::fromStdString(AwsSigV4::Sha256Hex(std::string_view(Bytes.constData(), size_t(Bytes.size()))));
}

// One pool for the part hashes of every upload: a hash job reads a file from start to end, and two
// uploads at once should not make the disk seek between them more than needed.
QThreadPool& PartHashPool()
{
	static QThreadPool Pool;
	return Pool;
}

// Journal writes and removals of every upload, one at a time and in the order they were asked
// for, off the main thread (each write syncs the disk).
QThreadPool& JournalPool()
{
	static QThreadPool* Pool = []
	{
		auto* Created = new QThreadPool();
		Created->setMaxThreadCount(1);
		return Created;
	}();
	return *Pool;
}

} // namespace

QString US3PutObjectOrva::JournalPathFor(const QString& LocalFile)
{
	return LocalFile + QStringLiteral(".upload.json");
}

bool US3PutObjectOrva::ReadJournal()
{
	// A write still on its way from an earlier put of this file lands first.
	JournalPool().waitForDone();
	QFile File(Multipart->JournalPath);
	if (!File.exists())
	{
		return false;
	}
	const QJsonObject Journal =
	    File.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(File.read(1024 * 1024)).object() : QJsonObject();
	const QString UploadId = Journal.value(QLatin1String("UploadId")).toString();
	const qint64 PartSize = qint64(Journal.value(QLatin1String("PartSize")).toDouble());
	const bool bSameTarget = Journal.value(QLatin1String("Bucket")).toString() == Request.Bucket &&
	                         Journal.value(QLatin1String("Key")).toString() == Request.Key;
	const bool bSameFile = qint64(Journal.value(QLatin1String("FileSize")).toDouble()) == FileSize &&
	                       qint64(Journal.value(QLatin1String("FileModified")).toDouble()) == Multipart->FileModifiedMs;
	const bool bUsablePartSize =
	    PartSize >= AwsS3::MinPartBytes && (FileSize + PartSize - 1) / qMax<qint64>(PartSize, 1) <= AwsS3::MaxParts;
	if (!UploadId.isEmpty() && bSameTarget && bSameFile && bUsablePartSize)
	{
		Multipart->ResumeUploadId = UploadId;
		Multipart->PartSize = PartSize;
		Multipart->Digest = Journal.value(QLatin1String("Digest")).toString();
		UE_LOG(LogAwsS3, Display,
		       QStringLiteral("PutObject %1: resuming upload %2 of %3").arg(Request.Key, UploadId, Request.LocalFile));
		return true;
	}
	// A new build of the file, or an upload to another place: the old parts are of no use.
	if (!UploadId.isEmpty() && bSameTarget)
	{
		QString Problem;
		if (FHttpRequestPtr Abort = NewStoreRequest(QStringLiteral("DELETE"), {{QStringLiteral("uploadId"), UploadId}},
		                                            FHttpBody::FromBytes({}), Sha256HexOf({}), {}, Problem))
		{
			Abort->SetTimeout(qMin(Configuration.RequestTimeoutSeconds, 10.0));
			Abort->ProcessRequest();
		}
	}
	UE_LOG(LogAwsS3, Display,
	       QStringLiteral("PutObject %1: the journal of %2 is for %3; starting afresh")
	           .arg(Request.Key, Request.LocalFile,
	                bSameTarget ? QStringLiteral("another version of the file") : QStringLiteral("another object")));
	RemoveJournal();
	return false;
}

void US3PutObjectOrva::WriteJournal()
{
	if (!Multipart || Multipart->UploadId.isEmpty())
	{
		return;
	}
	QJsonArray Parts;
	for (int Index = 0; Index < Multipart->Parts.size(); ++Index)
	{
		const FMultipart::FPart& Part = Multipart->Parts[Index];
		if (Part.State == FMultipart::EPart::Done)
		{
			Parts.append(QJsonObject{{QStringLiteral("PartNumber"), Index + 1},
			                         {QStringLiteral("ETag"), Part.ETag},
			                         {QStringLiteral("Size"), double(Part.Length)}});
		}
	}
	const QJsonObject Journal{{QStringLiteral("UploadId"), Multipart->UploadId},
	                          {QStringLiteral("Bucket"), Request.Bucket},
	                          {QStringLiteral("Key"), Request.Key},
	                          {QStringLiteral("PartSize"), double(Multipart->PartSize)},
	                          {QStringLiteral("FileSize"), double(FileSize)},
	                          {QStringLiteral("FileModified"), double(Multipart->FileModifiedMs)},
	                          {QStringLiteral("Digest"), Multipart->Digest},
	                          {QStringLiteral("Parts"), Parts}};
	JournalPool().start(
	    [Bytes = QJsonDocument(Journal).toJson(QJsonDocument::Compact), Path = Multipart->JournalPath]
	    {
		    QString Error;
		    if (!FFileHelper::SaveArrayToFile(Bytes, Path, &Error))
		    {
			    // Without it the upload cannot be resumed later; it goes on all the same.
			    UE_LOG(LogAwsS3, Warning, QStringLiteral("cannot write the upload journal %1: %2").arg(Path, Error));
		    }
	    });
}

void US3PutObjectOrva::RemoveJournal()
{
	JournalPool().start([Path = Multipart->JournalPath] { QFile::remove(Path); });
}

void US3PutObjectOrva::StartMultipart()
{
	Multipart = std::make_unique<FMultipart>();
	Multipart->JournalPath = JournalPathFor(Request.LocalFile);
	Multipart->FileModifiedMs = QFileInfo(Request.LocalFile).lastModified().toMSecsSinceEpoch();
	const bool bResume = ReadJournal();
	if (!bResume)
	{
		Multipart->PartSize = AwsS3::ChoosePartSize(FileSize, Configuration.MultipartPartSizeBytes);
	}
	const qint64 Count = (FileSize + Multipart->PartSize - 1) / Multipart->PartSize;
	if (Count > AwsS3::MaxParts)
	{
		Fail(ES3Errors::EntityTooLarge, QStringLiteral("%1 has %2 bytes, more than a multipart upload may store")
		                                    .arg(Request.LocalFile)
		                                    .arg(FileSize));
		return;
	}
	for (qint64 Offset = 0; Offset < FileSize; Offset += Multipart->PartSize)
	{
		FMultipart::FPart Part;
		Part.Offset = Offset;
		Part.Length = qMin(Multipart->PartSize, FileSize - Offset);
		Multipart->Parts.append(Part);
	}
	UE_LOG(LogAwsS3, Log,
	       QStringLiteral("PutObject %1: %2 bytes in %3 parts of %4 bytes, up to %5 at once")
	           .arg(Request.Key)
	           .arg(FileSize)
	           .arg(Multipart->Parts.size())
	           .arg(Multipart->PartSize)
	           .arg(Configuration.MaxPartsInFlight));

	// The parts are hashed in file order while the upload is created and the first parts go: a
	// part leaves as soon as its digest is known.
	auto Job = std::make_shared<FPartHashJob>();
	Job->FilePath = Request.LocalFile;
	Job->Owner = this;
	Job->bWithSha256 = PayloadSigningPolicy == EAwsS3PayloadSigningPolicy::Always;
	for (int Index = 0; Index < Multipart->Parts.size(); ++Index)
	{
		Job->Ranges.append({Multipart->Parts[Index].Offset, Multipart->Parts[Index].Length});
		Job->Indexes.append(Index);
	}
	Multipart->HashJobs.append(Job);
	PartHashPool().start([Job] { HashPartsOnWorker(Job); });
	if (bResume)
	{
		SendListParts(QString());
	}
	else
	{
		SendCreateMultipart();
	}
}

void US3PutObjectOrva::SendListParts(const QString& Marker)
{
	FQuery Query{{QStringLiteral("uploadId"), Multipart->ResumeUploadId}};
	if (!Marker.isEmpty())
	{
		Query.append({QStringLiteral("part-number-marker"), Marker});
	}
	SendControlRequest(QStringLiteral("GET"), Query, {}, {}, &US3PutObjectOrva::OnPartsListed);
}

void US3PutObjectOrva::OnPartsListed(FHttpResponsePtr Response, bool bOk)
{
	Multipart->ControlRequest.reset();
	if (bFinished)
	{
		return;
	}
	const int Status = Response && bOk ? Response->GetResponseCode() : 0;
	const FS3Error Error = AwsS3::ParseErrorResponse(Status, Response ? Response->GetContent() : QByteArray());
	if (Error.Kind == ES3Errors::ExpiredToken && AwaitFreshCredentials([this] { SendListParts(QString()); }))
	{
		return;
	}
	if (Status == 0 || Error.IsError())
	{
		if ((Status == 0 || AwsS3::IsTransientError(Error)) && Multipart->ControlAttempts < Configuration.MaxAttempts)
		{
			QTimer::singleShot(int(QRandomGenerator::global()->bounded(Configuration.RetryBaseDelaySeconds) * 1000.0),
			                   this,
			                   [this]
			                   {
				                   if (!bFinished)
				                   {
					                   SendListParts(QString());
				                   }
			                   });
			return;
		}
		if (Error.Code == QLatin1String("NoSuchUpload") || Status == 404)
		{
			// Aborted, completed or expired in the store since: the file goes up afresh.
			UE_LOG(LogAwsS3, Display,
			       QStringLiteral("PutObject %1: upload %2 is gone from the store; starting afresh")
			           .arg(Request.Key, Multipart->ResumeUploadId));
			Multipart->ResumeUploadId.clear();
			Multipart->ControlAttempts = 0;
			for (FMultipart::FPart& Part : Multipart->Parts)
			{
				Part.StoredETag.clear();
			}
			RemoveJournal();
			SendCreateMultipart();
			return;
		}
		Fail(Status == 0 ? ES3Errors::NetworkError : Error.Kind,
		     Status == 0 ? QStringLiteral("no answer from the store to list the parts of %1").arg(Request.Key)
		                 : Error.Describe());
		return;
	}
	QXmlStreamReader Xml(Response->GetContent());
	bool bTruncated = false;
	QString NextMarker;
	int Number = 0;
	QString ETag;
	qint64 Size = -1;
	while (!Xml.atEnd() && !Xml.hasError())
	{
		const auto Token = Xml.readNext();
		if (Token == QXmlStreamReader::StartElement)
		{
			const auto Name = Xml.name();
			if (Name == QLatin1String("Part"))
			{
				Number = 0;
				ETag.clear();
				Size = -1;
			}
			else if (Name == QLatin1String("PartNumber"))
			{
				Number = Xml.readElementText().trimmed().toInt();
			}
			else if (Name == QLatin1String("ETag"))
			{
				ETag = Unquoted(Xml.readElementText());
			}
			else if (Name == QLatin1String("Size"))
			{
				Size = Xml.readElementText().trimmed().toLongLong();
			}
			else if (Name == QLatin1String("IsTruncated"))
			{
				bTruncated = Xml.readElementText().trimmed() == QLatin1String("true");
			}
			else if (Name == QLatin1String("NextPartNumberMarker"))
			{
				NextMarker = Xml.readElementText().trimmed();
			}
		}
		else if (Token == QXmlStreamReader::EndElement && Xml.name() == QLatin1String("Part"))
		{
			const int Index = Number - 1;
			if (Index >= 0 && Index < Multipart->Parts.size() && Multipart->Parts[Index].Length == Size)
			{
				Multipart->Parts[Index].StoredETag = ETag;
			}
		}
	}
	if (bTruncated && !NextMarker.isEmpty())
	{
		Multipart->ControlAttempts = 0;
		SendListParts(NextMarker);
		return;
	}
	Multipart->UploadId = Multipart->ResumeUploadId;
	Multipart->bResumed = true;
	Multipart->ControlAttempts = 0;
	for (int Index = 0; Index < Multipart->Parts.size(); ++Index)
	{
		if (Multipart->Parts[Index].State == FMultipart::EPart::Ready)
		{
			TakeStoredPart(Index);
		}
	}
	PumpParts();
}

void US3PutObjectOrva::TakeStoredPart(int Index)
{
	FMultipart::FPart& Part = Multipart->Parts[Index];
	if (Multipart->UploadId.isEmpty() || Part.StoredETag.isEmpty() || Part.State != FMultipart::EPart::Ready)
	{
		return;
	}
	const QString Held = Part.StoredETag;
	Part.StoredETag.clear();
	// The store's copy is only kept when it is what the file holds now.
	if (Held.compare(QString::fromLatin1(Part.Md5.toHex()), Qt::CaseInsensitive) != 0)
	{
		return;
	}
	Part.ETag = Held;
	Part.State = FMultipart::EPart::Done;
	Multipart->AcknowledgedBytes += Part.Length;
	Result.BytesSent = Multipart->AcknowledgedBytes;
	ReportProgress(Multipart->AcknowledgedBytes);
}

void US3PutObjectOrva::HashPartsOnWorker(const std::shared_ptr<FPartHashJob>& Job)
{
	QFile File(Job->FilePath);
	const bool bOpen = File.open(QIODevice::ReadOnly);
	QByteArray Chunk(1024 * 1024, Qt::Uninitialized);
	for (int I = 0; I < Job->Ranges.size() && !Job->bCancelled.load(std::memory_order_relaxed); ++I)
	{
		const auto [Offset, Length] = Job->Ranges[I];
		FDigest Md5(EDigestKind::Md5);
		FDigest Sha256(EDigestKind::Sha256);
		QString Problem = bOpen ? QString() : File.errorString();
		if (bOpen && !File.seek(Offset))
		{
			Problem = File.errorString();
		}
		qint64 Left = Length;
		while (Problem.isEmpty() && Left > 0 && !Job->bCancelled.load(std::memory_order_relaxed))
		{
			const qint64 Read = File.read(Chunk.data(), qMin<qint64>(Chunk.size(), Left));
			if (Read <= 0)
			{
				Problem = Read < 0 ? File.errorString()
				                   : QStringLiteral("the file ends %1 bytes before the part does").arg(Left);
				break;
			}
			Md5.Update(Chunk.constData(), size_t(Read));
			if (Job->bWithSha256)
			{
				Sha256.Update(Chunk.constData(), size_t(Read));
			}
			Left -= Read;
		}
		if (Job->bCancelled.load())
		{
			return;
		}
		const QByteArray Md5Bytes = Md5.Final<QByteArray>();
		const QString Sha256Hex =
		    Job->bWithSha256 ? QString::fromLatin1(Sha256.Final<QByteArray>().toHex()) : QString();
		const int Index = Job->Indexes[I];
		QMetaObject::invokeMethod(
		    QCoreApplication::instance(),
		    [Job, Index, Md5Bytes, Sha256Hex, Problem]
		    {
			    if (Job->Owner && !Job->bCancelled.load())
			    {
				    Job->Owner->OnPartHashed(Index, Md5Bytes, Sha256Hex, Problem);
			    }
		    },
		    Qt::QueuedConnection);
		if (!Problem.isEmpty())
		{
			return;
		}
	}
}

void US3PutObjectOrva::OnPartHashed(int Index, const QByteArray& Md5, const QString& Sha256Hex, const QString& Problem)
{
	if (bFinished || !Multipart || Multipart->bAborting || Index < 0 || Index >= Multipart->Parts.size())
	{
		return;
	}
	if (!Problem.isEmpty())
	{
		Fail(ES3Errors::FileError, QStringLiteral("cannot read %1 to hash it: %2").arg(Request.LocalFile, Problem));
		return;
	}
	FMultipart::FPart& Part = Multipart->Parts[Index];
	if (Part.bReread && !Part.Md5.isEmpty() && Part.Md5 != Md5)
	{
		Fail(ES3Errors::FileError, QStringLiteral("%1 changed while it was uploaded (part %2 reads differently now)")
		                               .arg(Request.LocalFile)
		                               .arg(Index + 1));
		return;
	}
	Part.Md5 = Md5;
	Part.Sha256Hex = Sha256Hex;
	if (Index == 0)
	{
		Multipart->Digest = QString::fromLatin1(Md5.toHex());
	}
	if (Part.State == FMultipart::EPart::Hashing)
	{
		Part.State = FMultipart::EPart::Ready;
		TakeStoredPart(Index);
	}
	PumpParts();
}

FHttpRequestPtr US3PutObjectOrva::NewStoreRequest(const QString& Verb, const FQuery& Query, const FHttpBody& Body,
                                                  const QString& PayloadHashHex, const FQuery& Headers,
                                                  QString& OutProblem, FHttpModule* Http)
{
	const AwsS3::FS3ObjectAddress Address =
	    AwsS3::ResolveObjectAddress(Configuration, Request.Bucket, Request.Key, OutProblem);
	if (Address.Url.isEmpty())
	{
		return nullptr;
	}
	AwsSigV4::FNameValueList SignedQuery;
	for (const auto& [Name, Value] : Query)
	{
		SignedQuery.emplace_back(Name.toStdString(), Value.toStdString());
	}
	QString Url = Address.Url;
	if (!SignedQuery.empty())
	{
		// Encoded exactly as the signature encodes it, so the store canonicalises the same bytes.
		Url += QLatin1Char('?') + QString::fromStdString(AwsSigV4::EncodeQuery(SignedQuery));
	}
	FHttpRequestPtr Call = (Http != nullptr ? Http : Configuration.Http)->CreateRequest();
	Call->SetVerb(Verb);
	Call->SetURL(Url);
	for (const auto& [Name, Value] : Headers)
	{
		Call->SetHeader(Name, Value);
	}
	if (!Call->SetContentSource(Body))
	{
		OutProblem =
		    Body.GetError().isEmpty() ? QStringLiteral("cannot open %1").arg(Request.LocalFile) : Body.GetError();
		return nullptr;
	}
	Call->SetTimeout(Configuration.RequestTimeoutSeconds);
	Call->SetStallTimeout(Configuration.RequestTimeoutSeconds);
	AwsS3::SignWhenSent(*Call, Credentials, Configuration, Address, SignedQuery, PayloadHashHex);
	return Call;
}

void US3PutObjectOrva::SendCreateMultipart()
{
	FQuery Headers;
	if (!Request.ContentType.isEmpty())
	{
		Headers.append({QStringLiteral("Content-Type"), Request.ContentType});
	}
	SendControlRequest(QStringLiteral("POST"), {{QStringLiteral("uploads"), QString()}}, {}, Headers,
	                   &US3PutObjectOrva::OnMultipartCreated);
}

void US3PutObjectOrva::OnMultipartCreated(FHttpResponsePtr Response, bool bOk)
{
	Multipart->ControlRequest.reset();
	if (bFinished)
	{
		return;
	}
	const int Status = Response && bOk ? Response->GetResponseCode() : 0;
	const FS3Error Error = AwsS3::ParseErrorResponse(Status, Response ? Response->GetContent() : QByteArray());
	const QString UploadId = Status == 200 && !Error.IsError()
	                             ? XmlElementText(Response->GetContent(), QLatin1StringView("UploadId"))
	                             : QString();
	if (UploadId.isEmpty() && Error.Kind == ES3Errors::ExpiredToken &&
	    AwaitFreshCredentials([this] { SendCreateMultipart(); }))
	{
		return;
	}
	if (UploadId.isEmpty())
	{
		// An upload created but unanswered stays behind in the store; the lifecycle rule of a
		// bucket removes such leftovers. Nothing of the file was sent yet.
		const bool bTransient = Status == 0 || AwsS3::IsTransientError(Error);
		if (bTransient && Multipart->ControlAttempts < Configuration.MaxAttempts)
		{
			QTimer::singleShot(int(QRandomGenerator::global()->bounded(Configuration.RetryBaseDelaySeconds) * 1000.0),
			                   this,
			                   [this]
			                   {
				                   if (!bFinished)
				                   {
					                   SendCreateMultipart();
				                   }
			                   });
			return;
		}
		Fail(Status == 0 ? ES3Errors::NetworkError : (Error.IsError() ? Error.Kind : ES3Errors::Unknown),
		     Status == 0
		         ? QStringLiteral("no answer from the store to start the upload of %1").arg(Request.Key)
		         : (Error.IsError() ? Error.Describe()
		                            : QStringLiteral("the store started no upload (no UploadId in its answer)")));
		return;
	}
	Multipart->UploadId = UploadId;
	Multipart->ControlAttempts = 0;
	WriteJournal();
	PumpParts();
}

void US3PutObjectOrva::PumpParts()
{
	if (bFinished || !Multipart || Multipart->UploadId.isEmpty() || Multipart->bCompleting || Multipart->bAborting ||
	    bAwaitingCredentials)
	{
		return;
	}
	if (CredentialsAboutToExpire() && AwaitFreshCredentials([this] { PumpParts(); }))
	{
		return;
	}
	bool bAllDone = true;
	for (int Index = 0; Index < Multipart->Parts.size(); ++Index)
	{
		const FMultipart::FPart& Part = Multipart->Parts[Index];
		bAllDone = bAllDone && Part.State == FMultipart::EPart::Done;
		if (Part.State == FMultipart::EPart::Ready && Multipart->InFlight < Configuration.MaxPartsInFlight)
		{
			SendPart(Index);
			if (bFinished || Multipart->bAborting)
			{
				return;
			}
		}
	}
	if (bAllDone)
	{
		SendCompleteMultipart();
	}
}

void US3PutObjectOrva::SendPart(int Index)
{
	FMultipart::FPart& Part = Multipart->Parts[Index];
	FQuery Headers{{QStringLiteral("Content-MD5"), QString::fromLatin1(Part.Md5.toBase64())}};
	QString Problem;
	// The part streams from its byte range of the file; nothing holds it in memory. It is read and
	// sent on the transfer thread, so the main thread only hears when it is through.
	FHttpRequestPtr Call = NewStoreRequest(
	    QStringLiteral("PUT"),
	    {{QStringLiteral("partNumber"), QString::number(Index + 1)}, {QStringLiteral("uploadId"), Multipart->UploadId}},
	    FHttpBody::FromFileRange(Request.LocalFile, Part.Offset, Part.Length),
	    Part.Sha256Hex.isEmpty() ? UnsignedPayloadText() : Part.Sha256Hex, Headers, Problem, &AwsS3::TransferModule());
	if (!Call)
	{
		Fail(ES3Errors::FileError, Problem);
		return;
	}
	++Part.Attempts;
	++Result.Attempts;
	Part.State = FMultipart::EPart::InFlight;
	Part.Request = Call;
	++Multipart->InFlight;
	// Made here, read on the main thread only: the put may be gone when the answer gets there.
	auto Owner = std::make_shared<QPointer<US3PutObjectOrva>>(this);
	Call->OnProcessRequestComplete(&AwsS3::TransferModule(),
	                               [Owner, Index](FHttpRequestPtr Sent, FHttpResponsePtr Response, bool bOk)
	                               {
		                               AwsS3::RunOnMainThread(
		                                   [Owner, Index, Sent = std::move(Sent), Response = std::move(Response), bOk]
		                                   {
			                                   US3PutObjectOrva* Put = Owner->data();
			                                   // A part cancelled meanwhile (or sent again) is no longer this
			                                   // request's.
			                                   if (Put != nullptr && Put->Multipart &&
			                                       Index < Put->Multipart->Parts.size() &&
			                                       Put->Multipart->Parts[Index].Request == Sent)
			                                   {
				                                   Put->OnPartSent(Index, Sent, Response, bOk);
			                                   }
		                                   });
	                               });
	AwsS3::RunOnTransferThread([Call] { Call->ProcessRequest(); });
}

void US3PutObjectOrva::OnPartSent(int Index, FHttpRequestPtr Sent, FHttpResponsePtr Response, bool bOk)
{
	if (bFinished || !Multipart || Multipart->bAborting)
	{
		return;
	}
	FMultipart::FPart& Part = Multipart->Parts[Index];
	Part.Request.reset();
	--Multipart->InFlight;
	if (!Response || !bOk)
	{
		const QString Why = Sent && Sent->HasTimedOut()
		                        ? QStringLiteral("part %1 stalled").arg(Index + 1)
		                        : QStringLiteral("the connection broke during part %1").arg(Index + 1);
		if (!RetryPartLater(Index, Why))
		{
			Fail(Sent && Sent->HasTimedOut() ? ES3Errors::Timeout : ES3Errors::NetworkError,
			     QStringLiteral("%1 of %2, after %3 attempts").arg(Why, Request.Key).arg(Part.Attempts));
		}
		return;
	}
	const int Status = Response->GetResponseCode();
	if (Status < 200 || Status >= 300)
	{
		const FS3Error Error = AwsS3::ParseErrorResponse(Status, Response->GetContent());
		Result.HttpStatus = Status;
		if (AwsS3::IsTransientError(Error) && RetryPartLater(Index, Error.Describe()))
		{
			return;
		}
		if (Error.Kind == ES3Errors::ExpiredToken)
		{
			// Not the part's fault: it goes again with the fresh credentials, as a first try.
			Part.State = FMultipart::EPart::Ready;
			--Part.Attempts;
			if (AwaitFreshCredentials([this] { PumpParts(); }))
			{
				return;
			}
		}
		if (Error.Kind == ES3Errors::BadDigest && !Part.bReread)
		{
			// Damaged on the way, or the file changed: the part is read again, and goes again only
			// when it reads as before.
			Part.bReread = true;
			Part.State = FMultipart::EPart::Hashing;
			auto Job = std::make_shared<FPartHashJob>();
			Job->FilePath = Request.LocalFile;
			Job->Owner = this;
			Job->bWithSha256 = !Part.Sha256Hex.isEmpty();
			Job->Ranges.append({Part.Offset, Part.Length});
			Job->Indexes.append(Index);
			Multipart->HashJobs.append(Job);
			PartHashPool().start([Job] { HashPartsOnWorker(Job); });
			return;
		}
		Fail(Error.Kind == ES3Errors::None ? ES3Errors::Unknown : Error.Kind,
		     QStringLiteral("part %1: %2").arg(Index + 1).arg(Error.Describe()));
		return;
	}
	const QString ETag = Unquoted(Response->GetHeader(QStringLiteral("ETag")));
	const QString Expected = QString::fromLatin1(Part.Md5.toHex());
	if (!ETag.isEmpty() && ETag.size() == 32 && ETag.compare(Expected, Qt::CaseInsensitive) != 0)
	{
		Fail(ES3Errors::ChecksumMismatch, QStringLiteral("part %1 of %2 arrived damaged: the store holds MD5 %3, the "
		                                                 "part sent has %4")
		                                      .arg(Index + 1)
		                                      .arg(Request.Key, ETag, Expected));
		return;
	}
	Part.ETag = ETag.isEmpty() ? Expected : ETag;
	Part.State = FMultipart::EPart::Done;
	Renewals = 0;
	Multipart->AcknowledgedBytes += Part.Length;
	Result.BytesSent = Multipart->AcknowledgedBytes;
	ReportProgress(Multipart->AcknowledgedBytes);
	WriteJournal();
	PumpParts();
}

bool US3PutObjectOrva::RetryPartLater(int Index, const QString& Why)
{
	FMultipart::FPart& Part = Multipart->Parts[Index];
	if (!AwsS3::MayRetry(Part.Attempts, Configuration))
	{
		return false;
	}
	const int DelayMs = AwsS3::RetryDelayMs(Part.Attempts, Configuration);
	UE_LOG(LogAwsS3, Warning,
	       QStringLiteral("PutObject %1: %2; attempt %3 of %4 in %5 ms")
	           .arg(Request.Key, Why)
	           .arg(Part.Attempts + 1)
	           .arg(Configuration.MaxAttempts)
	           .arg(DelayMs));
	Part.State = FMultipart::EPart::Waiting;
	QTimer::singleShot(DelayMs, this,
	                   [this, Index]
	                   {
		                   if (!bFinished && Multipart && Multipart->Parts[Index].State == FMultipart::EPart::Waiting)
		                   {
			                   Multipart->Parts[Index].State = FMultipart::EPart::Ready;
			                   PumpParts();
		                   }
	                   });
	return true;
}

void US3PutObjectOrva::SendCompleteMultipart()
{
	Multipart->bCompleting = true;
	QByteArray Body = "<CompleteMultipartUpload>";
	QByteArray Md5s;
	for (int Index = 0; Index < Multipart->Parts.size(); ++Index)
	{
		const FMultipart::FPart& Part = Multipart->Parts[Index];
		Body += "<Part><PartNumber>" + QByteArray::number(Index + 1) + "</PartNumber><ETag>\"" + Part.ETag.toLatin1() +
		        "\"</ETag></Part>";
		Md5s += Part.Md5;
	}
	Body += "</CompleteMultipartUpload>";
	Result.ContentMd5 =
	    QString::fromLatin1(FDigest::Of<QByteArray>(EDigestKind::Md5, Md5s.constData(), size_t(Md5s.size())).toHex()) +
	    QLatin1Char('-') + QString::number(Multipart->Parts.size());
	UE_LOG(LogAwsS3, Log,
	       QStringLiteral("PutObject %1: completing %2 parts").arg(Request.Key).arg(Multipart->Parts.size()));
	SendControlRequest(QStringLiteral("POST"), {{QStringLiteral("uploadId"), Multipart->UploadId}}, Body,
	                   {{QStringLiteral("Content-Type"), QStringLiteral("application/xml")}},
	                   &US3PutObjectOrva::OnMultipartCompleted);
}

bool US3PutObjectOrva::SendControlRequest(const QString& Verb, const FQuery& Query, const QByteArray& Body,
                                          const FQuery& Headers,
                                          void (US3PutObjectOrva::*Handler)(FHttpResponsePtr, bool))
{
	QString Problem;
	FHttpRequestPtr Call =
	    NewStoreRequest(Verb, Query, FHttpBody::FromBytes(Body), Sha256HexOf(Body), Headers, Problem);
	if (!Call)
	{
		Fail(ES3Errors::InvalidConfiguration, Problem);
		return false;
	}
	++Multipart->ControlAttempts;
	Multipart->ControlRequest = Call;
	Call->OnProcessRequestComplete(this, [this, Handler](FHttpRequestPtr, FHttpResponsePtr Response, bool bOk)
	                               { (this->*Handler)(std::move(Response), bOk); });
	Call->ProcessRequest();
	return true;
}

void US3PutObjectOrva::OnMultipartCompleted(FHttpResponsePtr Response, bool bOk)
{
	Multipart->ControlRequest.reset();
	if (bFinished)
	{
		return;
	}
	const int Status = Response && bOk ? Response->GetResponseCode() : 0;
	Result.HttpStatus = Status;
	// The store may answer 200 and still report an error in the body.
	const FS3Error Error = AwsS3::ParseErrorResponse(Status, Response ? Response->GetContent() : QByteArray());
	if (Error.Kind == ES3Errors::ExpiredToken && AwaitFreshCredentials([this] { SendCompleteMultipart(); }))
	{
		return;
	}
	if (Status == 0 || Error.IsError())
	{
		if ((Status == 0 || AwsS3::IsTransientError(Error)) && Multipart->ControlAttempts < Configuration.MaxAttempts)
		{
			QTimer::singleShot(AwsS3::RetryDelayMs(Multipart->ControlAttempts, Configuration), this,
			                   [this]
			                   {
				                   if (!bFinished)
				                   {
					                   SendCompleteMultipart();
				                   }
			                   });
			return;
		}
		Fail(Status == 0 ? ES3Errors::NetworkError : (Error.Kind == ES3Errors::None ? ES3Errors::Unknown : Error.Kind),
		     Status == 0 ? QStringLiteral("no answer from the store to complete the upload of %1").arg(Request.Key)
		                 : Error.Describe());
		return;
	}
	QString ETag = Unquoted(XmlElementText(Response->GetContent(), QLatin1StringView("ETag")));
	if (ETag.isEmpty())
	{
		ETag = Unquoted(Response->GetHeader(QStringLiteral("ETag")));
	}
	Result.ETag = ETag;
	Result.VersionId = Response->GetHeader(QStringLiteral("x-amz-version-id"));
	Result.ServerSideEncryption = Response->GetHeader(QStringLiteral("x-amz-server-side-encryption"));
	if (ETag.isEmpty() || ETag.compare(Result.ContentMd5, Qt::CaseInsensitive) != 0)
	{
		// The store put together other parts than the ones acknowledged: the object is not the file.
		Fail(ES3Errors::ChecksumMismatch,
		     QStringLiteral("%1 was put together wrongly: the store holds ETag %2, the "
		                    "parts sent give %3")
		         .arg(Request.Key, ETag.isEmpty() ? QStringLiteral("(none)") : ETag, Result.ContentMd5));
		return;
	}
	// The upload is the object now: nothing is left to abort or resume.
	Multipart->UploadId.clear();
	RemoveJournal();
	Result.bChecksumVerified = true;
	Result.BytesSent = FileSize;
	ReportProgress(FileSize);
	Finish(true, ES3Errors::None, QString());
}

void US3PutObjectOrva::CancelMultipartRequests()
{
	if (!Multipart)
	{
		return;
	}
	for (const auto& Job : Multipart->HashJobs)
	{
		Job->bCancelled = true;
	}
	for (FMultipart::FPart& Part : Multipart->Parts)
	{
		if (Part.Request)
		{
			// The request is the transfer thread's; an answer already on its way here finds the
			// part without it and is dropped.
			AwsS3::RunOnTransferThread(
			    [Call = Part.Request]
			    {
				    Call->OnProcessRequestComplete(nullptr, nullptr);
				    Call->CancelRequest();
			    });
		}
		Part.Request.reset();
	}
	Multipart->InFlight = 0;
	if (Multipart->ControlRequest && !Multipart->ControlRequest->IsFinished() && !Multipart->bAborting)
	{
		Multipart->ControlRequest->OnProcessRequestComplete(this, nullptr);
		Multipart->ControlRequest->CancelRequest();
		Multipart->ControlRequest.reset();
	}
}

void US3PutObjectOrva::AbortMultipartThenFinish(ES3Errors Error, const QString& Message)
{
	CancelMultipartRequests();
	Multipart->bAborting = true;
	Multipart->ControlAttempts = 0;
	RemoveJournal();
	SendAbortMultipart(Error, Message);
}

void US3PutObjectOrva::SendAbortMultipart(ES3Errors Error, const QString& Message)
{
	QString Problem;
	FHttpRequestPtr Call =
	    NewStoreRequest(QStringLiteral("DELETE"), {{QStringLiteral("uploadId"), Multipart->UploadId}},
	                    FHttpBody::FromBytes({}), Sha256HexOf({}), {}, Problem);
	if (!Call)
	{
		Finish(false, Error, Message);
		return;
	}
	++Multipart->ControlAttempts;
	// The abort is short: it may not hold up the failure for a whole transfer timeout.
	Call->SetTimeout(qMin(Configuration.RequestTimeoutSeconds, 10.0));
	Call->SetDeadline(qMin(Configuration.RequestTimeoutSeconds, 10.0));
	Multipart->ControlRequest = Call;
	Call->OnProcessRequestComplete(
	    this,
	    [this, Error, Message](FHttpRequestPtr, FHttpResponsePtr Response, bool bOk)
	    {
		    Multipart->ControlRequest.reset();
		    const int Status = Response && bOk ? Response->GetResponseCode() : 0;
		    if (Status == 204 || Status == 200 || Status == 404)
		    {
			    Finish(false, Error, Message);
			    return;
		    }
		    // A part that was on its way when the abort left may still be arriving, and a store
		    // may fail the abort meanwhile: it goes again, as often as a part would, so that the
		    // parts sent do not stay stored.
		    const FS3Error Refusal =
		        AwsS3::ParseErrorResponse(Status, Response ? Response->GetContent() : QByteArray());
		    if ((Status == 0 || Status >= 500 || AwsS3::IsTransientError(Refusal)) &&
		        AwsS3::MayRetry(Multipart->ControlAttempts, Configuration))
		    {
			    QTimer::singleShot(AwsS3::RetryDelayMs(Multipart->ControlAttempts, Configuration), this,
			                       [this, Error, Message] { SendAbortMultipart(Error, Message); });
			    return;
		    }
		    UE_LOG(LogAwsS3, Warning,
		           QStringLiteral("PutObject %1: the store did not drop the parts "
		                          "of upload %2 (HTTP %3)")
		               .arg(Request.Key, Multipart->UploadId)
		               .arg(Status));
		    Finish(false, Error, Message);
	    });
	Call->ProcessRequest();
}
