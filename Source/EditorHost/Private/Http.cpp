#include "Http.h"

#include "Log.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QUrl>

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
	StreamedFilePath.clear();
}

void FHttpRequest::SetContent(const QByteArray& Bytes)
{
	Body = Bytes;
	StreamedFilePath.clear();
}

bool FHttpRequest::SetContentAsStreamedFile(const QString& FilePath)
{
	QFile Probe(FilePath);
	if (!Probe.open(QIODevice::ReadOnly))
	{
		UE_LOG(LogEditorHost, Error, QStringLiteral("Cannot open %1 to send it: %2").arg(FilePath, Probe.errorString()));
		return false;
	}
	Body.clear();
	StreamedFilePath = FilePath;
	return true;
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

	const QUrl Url(UrlText, QUrl::StrictMode);
	const QString Scheme = Url.scheme().toLower();
	if (!Url.isValid() || Url.host().isEmpty() || (Scheme != QLatin1String("http") && Scheme != QLatin1String("https")))
	{
		UE_LOG(LogEditorHost, Error, QStringLiteral("Invalid request URL: %1").arg(UrlText));
		// The caller learns of it the same way as of any failed request: later, on the main thread.
		QTimer::singleShot(0, &Module, [Self = SelfWhileRunning] { Self->Finish(nullptr, false); });
		return false;
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

	QIODevice* Upload = nullptr;
	if (!StreamedFilePath.isEmpty())
	{
		auto* File = new QFile(StreamedFilePath);
		if (!File->open(QIODevice::ReadOnly))
		{
			UE_LOG(LogEditorHost, Error,
				QStringLiteral("Cannot open %1 to send it: %2").arg(StreamedFilePath, File->errorString()));
			delete File;
			QTimer::singleShot(0, &Module, [Self = SelfWhileRunning] { Self->Finish(nullptr, false); });
			return false;
		}
		Request.setHeader(QNetworkRequest::ContentLengthHeader, File->size());
		Upload = File;
	}

	QNetworkAccessManager& Manager = *Module.Manager;
	const QByteArray Verb = VerbText.toLatin1().toUpper();
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

	QObject::connect(Reply, &QNetworkReply::finished, &Module, [Weak = weak_from_this()] {
		if (FHttpRequestPtr Self = Weak.lock())
		{
			Self->OnReplyFinished();
		}
	});
	auto Progress = [Weak = weak_from_this()](qint64 Sent, qint64 Received) {
		FHttpRequestPtr Self = Weak.lock();
		if (Self && Self->ProgressDelegate && Self->ProgressContext)
		{
			Self->ProgressDelegate(Self, Sent, Received);
		}
	};
	QObject::connect(Reply, &QNetworkReply::uploadProgress, &Module,
		[Progress](qint64 Sent, qint64) { Progress(Sent, 0); });
	QObject::connect(Reply, &QNetworkReply::downloadProgress, &Module,
		[Progress](qint64 Received, qint64) { Progress(-1, Received); });
	return true;
}

void FHttpRequest::CancelRequest()
{
	if (Reply && !bFinished)
	{
		Reply->abort();
	}
}

void FHttpRequest::OnReplyFinished()
{
	QNetworkReply* Finished = Reply;
	if (!Finished)
	{
		return;
	}
	Reply = nullptr;
	Finished->deleteLater();

	const QVariant Status = Finished->attribute(QNetworkRequest::HttpStatusCodeAttribute);
	// Network and proxy errors (codes below 200) mean the exchange did not complete, even when a
	// status line arrived before the connection broke; error statuses from the server are answers.
	const QNetworkReply::NetworkError Error = Finished->error();
	const bool bTransportError = Error != QNetworkReply::NoError && int(Error) < 200;
	if (!Status.isValid() || bTransportError)
	{
		// No HTTP answer at all: connection refused, TLS failure, time-out, abort.
		UE_LOG(LogEditorHost, Display,
			QStringLiteral("%1 %2 failed: %3").arg(VerbText, UrlText, Finished->errorString()));
		Finish(nullptr, false);
		return;
	}
	auto Answer = std::make_shared<FHttpResponse>();
	Answer->ResponseCode = Status.toInt();
	Answer->Content = Finished->readAll();
	Answer->Url = UrlText;
	for (const auto& Pair : Finished->rawHeaderPairs())
	{
		Answer->Headers.append(Pair);
	}
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
	if (Reply)
	{
		Reply->disconnect();
		Reply->abort();
		delete Reply.data();
	}
	// Last: this may delete the request itself.
	FHttpRequestPtr Keep = std::move(SelfWhileRunning);
}

FHttpRequestPtr FHttpModule::CreateRequest() { return FHttpRequestPtr(new FHttpRequest(*this)); }

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
