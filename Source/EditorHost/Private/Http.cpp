#include "Http.h"

#include "FileHelper.h"
#include "Log.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimer>
#include <QUrl>

#include <cstring>

FHttpBody FHttpBody::FromBytes(const QByteArray& Bytes)
{
	FHttpBody Body;
	if (!Bytes.isEmpty())
	{
		Body.Parts.append(FPart{Bytes, QString(), 0, Bytes.size()});
		Body.Length = Bytes.size();
	}
	return Body;
}

FHttpBody FHttpBody::FromFile(const QString& FilePath)
{
	const QFileInfo Info(FilePath);
	if (!Info.isFile())
	{
		FHttpBody Body;
		Body.Error = QStringLiteral("Cannot open %1 to send it: no such file").arg(FilePath);
		return Body;
	}
	return FromFileRange(FilePath, 0, Info.size());
}

FHttpBody FHttpBody::FromFileRange(const QString& FilePath, qint64 Offset, qint64 Length)
{
	FHttpBody Body;
	QFile Probe(FilePath);
	if (!Probe.open(QIODevice::ReadOnly))
	{
		Body.Error = QStringLiteral("Cannot open %1 to send it: %2").arg(FilePath, Probe.errorString());
		return Body;
	}
	if (Offset < 0 || Length < 0 || Offset > Probe.size() || Length > Probe.size() - Offset)
	{
		Body.Error = QStringLiteral("Cannot send bytes %1 to %2 of %3: the file has %4")
		                 .arg(Offset)
		                 .arg(Offset + Length)
		                 .arg(FilePath)
		                 .arg(Probe.size());
		return Body;
	}
	if (Length > 0)
	{
		Body.Parts.append(FPart{QByteArray(), FilePath, Offset, Length});
		Body.Length = Length;
	}
	return Body;
}

FHttpBody FHttpBody::Sequence(const QList<FHttpBody>& Parts)
{
	FHttpBody Body;
	for (const FHttpBody& Part : Parts)
	{
		Body.Append(Part);
	}
	return Body;
}

FHttpBody& FHttpBody::Append(const FHttpBody& Part)
{
	if (Error.isEmpty() && !Part.Error.isEmpty())
	{
		Error = Part.Error;
	}
	Parts.append(Part.Parts);
	Length += Part.Length;
	return *this;
}

// Reads an FHttpBody as one random-access device of its exact length. One file is open at a time.
//
// When a connection breaks before the answer, Qt's network layer rewinds the body and sends the
// request again on a fresh connection, whatever its verb, and no request attribute turns that off.
// That is right for GET and PUT, but a POST that reached the service and lost only its answer
// would be carried out twice (two worlds, two registrations). Every resend rewinds the body first,
// so a body that refuses to rewind stops it: the request then fails, and whoever sent it decides
// whether to try again.
class FHttpBodyDevice : public QIODevice
{
public:
	FHttpBodyDevice(std::shared_ptr<const FHttpBody> InBody, std::function<void()> InOnResendRefused)
	    : Body(std::move(InBody))
	    , OnResendRefused(std::move(InOnResendRefused))
	{
	}

	bool isSequential() const override { return false; }
	qint64 size() const override { return Body->Length; }

	bool seek(qint64 Position) override
	{
		if (OnResendRefused && Position < ReadPos)
		{
			return RefuseResend();
		}
		if (Position < 0 || Position > Body->Length || !QIODevice::seek(Position))
		{
			return false;
		}
		ReadPos = Position;
		return true;
	}

	bool reset() override
	{
		// Only ever asked for to send the body again.
		return OnResendRefused ? RefuseResend() : seek(0);
	}

protected:
	qint64 readData(char* Data, qint64 MaxSize) override
	{
		qint64 Done = 0;
		qint64 PartStart = 0;
		for (int Index = 0; Index < Body->Parts.size() && Done < MaxSize; ++Index)
		{
			const FHttpBody::FPart& Part = Body->Parts[Index];
			const qint64 PartEnd = PartStart + Part.Length;
			if (ReadPos >= PartEnd)
			{
				PartStart = PartEnd;
				continue;
			}
			const qint64 Within = ReadPos - PartStart;
			const qint64 Wanted = qMin(MaxSize - Done, Part.Length - Within);
			if (Part.FilePath.isEmpty())
			{
				std::memcpy(Data + Done, Part.Bytes.constData() + Within, size_t(Wanted));
			}
			else
			{
				if (OpenIndex != Index)
				{
					File.close();
					File.setFileName(Part.FilePath);
					OpenIndex = -1;
					if (!File.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
					{
						setErrorString(File.errorString());
						return -1;
					}
					OpenIndex = Index;
				}
				// Reads follow each other; only a rewind or a jump needs the seek.
				if (File.pos() != Part.Offset + Within && !File.seek(Part.Offset + Within))
				{
					setErrorString(File.errorString());
					return -1;
				}
				const qint64 Got = File.read(Data + Done, Wanted);
				if (Got != Wanted)
				{
					// Shorter than when the body was made: sending less than announced would corrupt it.
					setErrorString(QStringLiteral("%1 became shorter while it was sent").arg(Part.FilePath));
					return -1;
				}
			}
			Done += Wanted;
			ReadPos += Wanted;
			PartStart = PartEnd;
		}
		return Done;
	}

	qint64 writeData(const char*, qint64) override { return -1; }

private:
	bool RefuseResend()
	{
		setErrorString(QStringLiteral("the request is not sent twice"));
		OnResendRefused();
		return false;
	}

	std::shared_ptr<const FHttpBody> Body;
	// Set for requests that must not be sent twice.
	std::function<void()> OnResendRefused;
	qint64 ReadPos = 0;
	QFile File;
	int OpenIndex = -1;
};

namespace
{
bool HasLineBreakOrNul(const QByteArray& Bytes)
{
	return Bytes.contains('\r') || Bytes.contains('\n') || Bytes.contains('\0');
}

constexpr qint64 ProgressIntervalMs = 100;

int Percent(qint64 Done, qint64 Total)
{
	return Total > 0 ? int(Done * 100 / Total) : -1;
}

// An address as log lines show it: without its query, fragment and user info, which may carry
// credentials (a presigned address holds its signature and session token in the query).
QString LoggedUrl(const QString& Url)
{
	const qsizetype Cut = Url.indexOf(QRegularExpression(QStringLiteral("[?#]")));
	QString Shown = Cut < 0 ? Url : Url.left(Cut) + QStringLiteral("?...");
	const qsizetype Authority = Shown.indexOf(QStringLiteral("://"));
	if (Authority >= 0)
	{
		const qsizetype Slash = Shown.indexOf(QLatin1Char('/'), Authority + 3);
		const qsizetype At = Shown.lastIndexOf(QLatin1Char('@'), Slash < 0 ? -1 : Slash);
		if (At > Authority)
		{
			Shown.remove(Authority + 3, At - Authority - 2);
		}
	}
	return Shown;
}

// Qt's transport errors quote the address they failed on; the quoted address is shown as above.
QString LoggedError(QString Error, const QUrl& Url)
{
	for (const QString& Form : {Url.toString(), QString::fromLatin1(Url.toEncoded()), Url.toDisplayString()})
	{
		if (!Form.isEmpty())
		{
			Error.replace(Form, LoggedUrl(Form));
		}
	}
	return Error;
}
} // namespace

QString FHttpResponse::GetHeader(const QString& Name) const
{
	const QByteArray Wanted = Name.toLatin1().toLower();
	for (const auto& Header : Headers)
	{
		if (Header.first.toLower() == Wanted)
		{
			return QString::fromUtf8(Header.second);
		}
	}
	return QString();
}

FHttpRequest::FHttpRequest(FHttpModule& InModule)
    : Module(InModule)
{
}

FHttpRequest::~FHttpRequest()
{
	StopTimers();
	if (Reply)
	{
		Reply->disconnect();
		Reply->abort();
		Reply->deleteLater();
	}
}

void FHttpRequest::SetHeader(const QString& Name, const QString& Value)
{
	const QByteArray Key = Name.toLatin1();
	for (auto& Header : HeaderList)
	{
		if (Header.first.compare(Key, Qt::CaseInsensitive) == 0)
		{
			Header.second = Value.toUtf8();
			return;
		}
	}
	HeaderList.append({Key, Value.toUtf8()});
}

QString FHttpRequest::GetHeader(const QString& Name) const
{
	const QByteArray Key = Name.toLatin1();
	for (const auto& Header : HeaderList)
	{
		if (Header.first.compare(Key, Qt::CaseInsensitive) == 0)
		{
			return QString::fromUtf8(Header.second);
		}
	}
	return QString();
}

void FHttpRequest::SetContentAsString(const QString& Text)
{
	Body = Text.toUtf8();
	Source.reset();
}

void FHttpRequest::SetContent(const QByteArray& Bytes)
{
	Body = Bytes;
	Source.reset();
}

bool FHttpRequest::SetContentAsStreamedFile(const QString& FilePath)
{
	QFile Probe(FilePath);
	if (!Probe.open(QIODevice::ReadOnly))
	{
		UE_LOG(LogEditorHost, Error,
		       QStringLiteral("Cannot open %1 to send it: %2").arg(FilePath, Probe.errorString()));
		return false;
	}
	return SetContentSource(FHttpBody::FromFileRange(FilePath, 0, Probe.size()));
}

bool FHttpRequest::SetContentSource(const FHttpBody& InSource)
{
	if (!InSource.GetError().isEmpty())
	{
		UE_LOG(LogEditorHost, Error, InSource.GetError());
		return false;
	}
	Body.clear();
	Source = std::make_shared<FHttpBody>(InSource);
	return true;
}

void FHttpRequest::SetResponseSink(QObject* Context, FHttpResponseSink InSink)
{
	SinkContext = Context;
	Sink = std::move(InSink);
	bHasSink = true;
	ResponseFilePath.clear();
}

void FHttpRequest::SetResponseFile(const QString& FilePath)
{
	ResponseFilePath = FilePath;
	bHasSink = false;
	Sink = nullptr;
}

void FHttpRequest::OnProcessRequestComplete(QObject* Context, FHttpRequestCompleteDelegate Delegate)
{
	CompleteContext = Context;
	CompleteDelegate = std::move(Delegate);
}

void FHttpRequest::OnRequestProgress(QObject* Context, FHttpRequestProgressDelegate Delegate)
{
	ProgressContext = Context;
	ProgressDelegate = std::move(Delegate);
}

void FHttpRequest::Fail(const QString& Reason)
{
	UE_LOG(LogEditorHost, Error, Reason);
	// The caller learns of it the same way as of any failed request: later, on the main thread.
	QTimer::singleShot(0, &Module, [Self = SelfWhileRunning] { Self->Finish(nullptr, false); });
}

bool FHttpRequest::ProcessRequest()
{
	if (bStarted)
	{
		return false;
	}
	bStarted = true;
	SelfWhileRunning = shared_from_this();
	++Module.Pending;
	Module.Running.append(this);
	Clock.start();

	const QUrl Url(UrlText, QUrl::StrictMode);
	const QString Scheme = Url.scheme().toLower();
	if (!Url.isValid() || Url.host().isEmpty() || (Scheme != QLatin1String("http") && Scheme != QLatin1String("https")))
	{
		Fail(QStringLiteral("Invalid request URL: %1").arg(LoggedUrl(UrlText)));
		return false;
	}

	const QByteArray Verb = VerbText.toLatin1().toUpper();
	const qint64 ContentLength = Source ? Source->GetLength() : Body.size();
	if (PreSendHook)
	{
		PreSendHook(QString::fromLatin1(Verb), Url, HeaderList, ContentLength);
	}
	for (const auto& Header : HeaderList)
	{
		// A line break in a header would let its value write headers or whole requests of its own;
		// the value itself is not logged, it may be a secret.
		if (Header.first.isEmpty() || HasLineBreakOrNul(Header.first) || HasLineBreakOrNul(Header.second))
		{
			Fail(QStringLiteral("Refused to send %1 %2: header \"%3\" holds CR, LF or NUL")
			         .arg(VerbText, LoggedUrl(UrlText), QString::fromLatin1(Header.first.toPercentEncoding())));
			return false;
		}
	}

	QNetworkRequest Request(Url);
	for (const auto& Header : HeaderList)
	{
		Request.setRawHeader(Header.first, Header.second);
	}
	const double Timeout = TimeoutSeconds > 0.0 ? TimeoutSeconds : Module.DefaultTimeoutSeconds;
	Request.setTransferTimeout(int(Timeout * 1000.0));
	// Redirects are not followed: the plugin talks to one service and reads its answers as sent.
	Request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
	if (ProgressDelegate)
	{
		// Qt would hold upload progress back to every 100 ms; ours also reports each whole percent.
		Request.setAttribute(QNetworkRequest::EmitAllUploadProgressSignalsAttribute, true);
	}

	// Safe to send again by their nature (RFC 9110, 9.2.2); anything else goes out at most once.
	static const QList<QByteArray> IdempotentVerbs = {"GET", "HEAD", "PUT", "DELETE", "OPTIONS", "TRACE"};
	const bool bSendOnce = !IdempotentVerbs.contains(Verb);
	if (bSendOnce && !Source)
	{
		// Only a body of ours can refuse the rewind that every resend starts with.
		Source = std::make_shared<FHttpBody>(FHttpBody::FromBytes(Body));
	}
	QIODevice* Upload = nullptr;
	if (Source)
	{
		std::function<void()> OnResendRefused;
		if (bSendOnce)
		{
			OnResendRefused = [Weak = weak_from_this()]
			{
				if (FHttpRequestPtr Self = Weak.lock())
				{
					Self->bResendRefused = true;
				}
			};
		}
		auto* Device = new FHttpBodyDevice(Source, std::move(OnResendRefused));
		// Qt's network layer reads it in pieces of its own into a buffer of its own: a buffer here
		// would only copy every byte once more.
		Device->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
		Request.setHeader(QNetworkRequest::ContentLengthHeader, ContentLength);
		Upload = Device;
		SendTotal = ContentLength;
	}
	else
	{
		SendTotal = Body.size();
	}

	QNetworkAccessManager& Manager = *Module.Manager;
	if (Upload)
	{
		Reply = Manager.sendCustomRequest(Request, Verb, Upload);
		Upload->setParent(Reply);
	}
	else if (!Body.isEmpty() || Verb == "POST" || Verb == "PUT" || Verb == "PATCH")
	{
		Reply = Manager.sendCustomRequest(Request, Verb, Body);
	}
	else
	{
		Reply = Manager.sendCustomRequest(Request, Verb);
	}

	QObject::connect(Reply, &QNetworkReply::finished, &Module,
	                 [Weak = weak_from_this()]
	                 {
		                 if (FHttpRequestPtr Self = Weak.lock())
		                 {
			                 Self->OnReplyFinished();
		                 }
	                 });
	QObject::connect(Reply, &QNetworkReply::readyRead, &Module,
	                 [Weak = weak_from_this()]
	                 {
		                 if (FHttpRequestPtr Self = Weak.lock())
		                 {
			                 Self->OnReadyRead();
		                 }
	                 });
	QObject::connect(Reply, &QNetworkReply::uploadProgress, &Module,
	                 [Weak = weak_from_this()](qint64 Done, qint64 Total)
	                 {
		                 // Qt reports (0, 0) once the answer starts; what was sent stays sent.
		                 if (FHttpRequestPtr Self = Weak.lock(); Self && Done > Self->Sent)
		                 {
			                 Self->Sent = Done;
			                 if (Total > 0)
			                 {
				                 Self->SendTotal = Total;
			                 }
			                 Self->ReportProgress(false);
		                 }
	                 });
	StartTimers();
	return true;
}

void FHttpRequest::StartTimers()
{
	const double Deadline = DeadlineSeconds != 0.0 ? DeadlineSeconds : Module.DefaultDeadlineSeconds;
	if (Deadline > 0.0)
	{
		DeadlineTimer = new QTimer(&Module);
		DeadlineTimer->setSingleShot(true);
		QObject::connect(DeadlineTimer, &QTimer::timeout, &Module,
		                 [Weak = weak_from_this(), Deadline]
		                 {
			                 if (FHttpRequestPtr Self = Weak.lock())
			                 {
				                 Self->GiveUp(QStringLiteral("no complete answer within %1 s").arg(Deadline), true);
			                 }
		                 });
		DeadlineTimer->start(int(Deadline * 1000.0));
	}
	if (StallSeconds > 0.0)
	{
		StallTimer = new QTimer(&Module);
		QObject::connect(StallTimer, &QTimer::timeout, &Module,
		                 [Weak = weak_from_this()]
		                 {
			                 FHttpRequestPtr Self = Weak.lock();
			                 if (!Self)
			                 {
				                 return;
			                 }
			                 const qint64 Moved = Self->Sent + Self->Received;
			                 if (Moved - Self->StallMark < Self->StallMinBytes)
			                 {
				                 Self->GiveUp(QStringLiteral("the transfer stalled (under %1 bytes in %2 s)")
				                                  .arg(Self->StallMinBytes)
				                                  .arg(Self->StallSeconds),
				                              true);
				                 return;
			                 }
			                 Self->StallMark = Moved;
		                 });
		StallTimer->start(int(StallSeconds * 1000.0));
	}
}

void FHttpRequest::StopTimers()
{
	delete DeadlineTimer.data();
	delete StallTimer.data();
}

void FHttpRequest::GiveUp(const QString& Reason, bool bTimeout)
{
	if (bFinished || !Reply)
	{
		return;
	}
	GiveUpReason = Reason;
	bTimedOut = bTimeout;
	UE_LOG(LogEditorHost, Display, QStringLiteral("%1 %2 failed: %3").arg(VerbText, LoggedUrl(UrlText), Reason));
	StopTimers();
	QNetworkReply* Dropped = Reply;
	Reply = nullptr;
	Dropped->disconnect();
	Dropped->abort();
	Dropped->deleteLater();
	if (ResponseFile)
	{
		ResponseFile->Cancel();
		ResponseFile.reset();
	}
	Buffered.clear();
	// Later, so that a cancel from inside a callback never runs the completion under it.
	QTimer::singleShot(0, &Module, [Self = SelfWhileRunning] { Self->Finish(nullptr, false); });
}

void FHttpRequest::CancelRequest()
{
	GiveUp(QStringLiteral("cancelled"));
}

void FHttpRequest::OnReadyRead()
{
	QNetworkReply* Current = Reply;
	if (!Current)
	{
		return;
	}
	if (!bStatusSeen)
	{
		bStatusSeen = true;
		const int Status = Current->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
		const bool bWantsStream = bHasSink || !ResponseFilePath.isEmpty();
		bStreaming = bWantsStream && Status >= 200 && Status < 300;
		const QVariant Declared = Current->header(QNetworkRequest::ContentLengthHeader);
		ReceiveTotal = Declared.isValid() ? Declared.toLongLong() : -1;
		if (bStreaming && !ResponseFilePath.isEmpty())
		{
			ResponseFile = std::make_unique<FDurableFileWriter>(ResponseFilePath);
			QString Why;
			if (!ResponseFile->Open(&Why))
			{
				ResponseFile.reset();
				GiveUp(QStringLiteral("cannot write %1: %2").arg(ResponseFilePath, Why));
				return;
			}
		}
	}
	const qint64 Limit = ResponseLimit != 0 ? ResponseLimit : Module.DefaultResponseLimit;
	if (!bStreaming && Limit >= 0 && ReceiveTotal > Limit)
	{
		GiveUp(QStringLiteral("the answer announces %1 bytes, more than the %2 allowed").arg(ReceiveTotal).arg(Limit));
		return;
	}
	const QByteArray Chunk = Current->readAll();
	if (Chunk.isEmpty())
	{
		return;
	}
	Received += Chunk.size();
	if (!bStreaming)
	{
		if (Limit >= 0 && Received > Limit)
		{
			GiveUp(QStringLiteral("the answer is longer than the %1 bytes allowed").arg(Limit));
			return;
		}
		Buffered.append(Chunk);
	}
	else if (ResponseFile)
	{
		QString Why;
		if (!ResponseFile->Write(Chunk, &Why))
		{
			GiveUp(QStringLiteral("cannot write %1: %2").arg(ResponseFilePath, Why));
			return;
		}
	}
	else
	{
		if (!SinkContext)
		{
			GiveUp(QStringLiteral("the receiver of the answer is gone"));
			return;
		}
		if (!Sink(Chunk))
		{
			GiveUp(QStringLiteral("the receiver of the answer refused it"));
			return;
		}
	}
	ReportProgress(false);
}

void FHttpRequest::ReportProgress(bool bFinal)
{
	if (!ProgressDelegate || !ProgressContext || bFinished)
	{
		return;
	}
	if (Sent == DeliveredSent && Received == DeliveredReceived)
	{
		return;
	}
	const qint64 Now = Clock.elapsed();
	const bool bDue = bFinal || LastDeliveryMs < 0 || Now - LastDeliveryMs >= ProgressIntervalMs ||
	                  Percent(Sent, SendTotal) != Percent(DeliveredSent, SendTotal) ||
	                  Percent(Received, ReceiveTotal) != Percent(DeliveredReceived, ReceiveTotal) ||
	                  (SendTotal > 0 && Sent == SendTotal);
	if (!bDue)
	{
		return;
	}
	DeliveredSent = Sent;
	DeliveredReceived = Received;
	LastDeliveryMs = Now;
	ProgressDelegate(shared_from_this(), Sent, Received);
}

void FHttpRequest::OnReplyFinished()
{
	QNetworkReply* Finished = Reply;
	if (!Finished)
	{
		return;
	}
	const QVariant Status = Finished->attribute(QNetworkRequest::HttpStatusCodeAttribute);
	// Network and proxy errors (codes below 200) mean the exchange did not complete, even when a
	// status line arrived before the connection broke; error statuses from the server are answers.
	const QNetworkReply::NetworkError Error = Finished->error();
	const bool bTransportError = Error != QNetworkReply::NoError && int(Error) < 200;
	if (Status.isValid() && !bTransportError)
	{
		// What is left unread goes the same way as what came before; this may give the request up.
		OnReadyRead();
		if (!Reply)
		{
			return;
		}
	}
	Reply = nullptr;
	Finished->deleteLater();
	StopTimers();

	if (!Status.isValid() || bTransportError)
	{
		// No HTTP answer at all: connection refused, TLS failure, time-out, abort. Our own aborts
		// disconnect the reply first, so a cancelled reply that gets here ran out of its transfer
		// time-out.
		bTimedOut = Error == QNetworkReply::TimeoutError || Error == QNetworkReply::OperationCanceledError;
		const QString Why =
		    bResendRefused
		        ? QStringLiteral("the connection broke before the answer; the request is not sent again by itself")
		        : LoggedError(Finished->errorString(), Finished->url());
		UE_LOG(LogEditorHost, Display, QStringLiteral("%1 %2 failed: %3").arg(VerbText, LoggedUrl(UrlText), Why));
		if (ResponseFile)
		{
			ResponseFile->Cancel();
			ResponseFile.reset();
		}
		Finish(nullptr, false);
		return;
	}
	if (ResponseFile)
	{
		QString Why;
		const bool bCommitted = ResponseFile->Commit(&Why);
		ResponseFile.reset();
		if (!bCommitted)
		{
			UE_LOG(LogEditorHost, Display,
			       QStringLiteral("%1 %2 failed: cannot write %3: %4")
			           .arg(VerbText, LoggedUrl(UrlText), ResponseFilePath, Why));
			Finish(nullptr, false);
			return;
		}
	}
	auto Answer = std::make_shared<FHttpResponse>();
	Answer->ResponseCode = Status.toInt();
	Answer->Content = std::move(Buffered);
	Answer->ContentLength = Received;
	Answer->Url = UrlText;
	for (const auto& Pair : Finished->rawHeaderPairs())
	{
		Answer->Headers.append(Pair);
	}
	ReportProgress(true);
	// An error status is still an answer; success means the exchange completed.
	Finish(Answer, true);
}

void FHttpRequest::Finish(FHttpResponsePtr InResponse, bool bSuccess)
{
	if (bFinished)
	{
		return;
	}
	bFinished = true;
	Response = InResponse;
	--Module.Pending;
	Module.Running.removeOne(this);
	StopTimers();
	FHttpRequestPtr Keep = std::move(SelfWhileRunning);
	if (CompleteDelegate && CompleteContext)
	{
		CompleteDelegate(Keep, Response, bSuccess);
	}
}

FHttpModule::FHttpModule(QObject* Parent)
    : QObject(Parent)
    , Manager(new QNetworkAccessManager(this))
{
	// Certificates are verified (Qt's default); nothing here turns that off.
	Manager->setAutoDeleteReplies(false);
}

FHttpModule::~FHttpModule()
{
	// Whatever is still under way can no longer be answered: release it without calling anyone.
	const QList<FHttpRequest*> Left = Running;
	for (FHttpRequest* Request : Left)
	{
		Request->Abandon();
	}
}

void FHttpRequest::Abandon()
{
	if (bFinished)
	{
		return;
	}
	bFinished = true;
	--Module.Pending;
	Module.Running.removeOne(this);
	CompleteDelegate = nullptr;
	ProgressDelegate = nullptr;
	Sink = nullptr;
	StopTimers();
	if (ResponseFile)
	{
		ResponseFile->Cancel();
		ResponseFile.reset();
	}
	if (Reply)
	{
		Reply->disconnect();
		Reply->abort();
		delete Reply.data();
	}
	// Last: this may delete the request itself.
	FHttpRequestPtr Keep = std::move(SelfWhileRunning);
}

FHttpRequestPtr FHttpModule::CreateRequest()
{
	return FHttpRequestPtr(new FHttpRequest(*this));
}

bool FHttpModule::Flush(int TimeoutMs)
{
	QElapsedTimer Timer;
	Timer.start();
	QTimer Wake;
	Wake.setInterval(10);
	Wake.start();
	while (Pending > 0 && Timer.elapsed() < TimeoutMs)
	{
		QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
	}
	return Pending == 0;
}

QString FHttpModule::UrlEncode(const QString& Text)
{
	return QString::fromLatin1(Text.toUtf8().toPercentEncoding());
}
