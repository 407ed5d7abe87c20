#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class QUrl;
class FDurableFileWriter;
class FHttpModule;
class FHttpRequest;
class FHttpResponse;

using FHttpRequestPtr = std::shared_ptr<FHttpRequest>;
using FHttpResponsePtr = std::shared_ptr<FHttpResponse>;
using FHttpHeaderList = QList<QPair<QByteArray, QByteArray>>;

// Called on the main thread with (request, response or null, success). A transport failure or a
// time-out yields a null response and false.
using FHttpRequestCompleteDelegate = std::function<void(FHttpRequestPtr, FHttpResponsePtr, bool)>;
// Bytes of the body sent and received so far, on the main thread, throttled: at most about every
// 100 ms or each whole percent, and once more when a direction is complete.
using FHttpRequestProgressDelegate = std::function<void(FHttpRequestPtr, qint64 BytesSent, qint64 BytesReceived)>;
// Runs just before the request is sent, on the main thread, with the verb as sent (upper case),
// the full URL, the headers (in wire order; the hook may add or replace some) and the exact body
// length. Request signing uses it.
using FHttpPreSendHook =
    std::function<void(const QString& Verb, const QUrl& Url, FHttpHeaderList& Headers, qint64 ContentLength)>;
// Receives a streamed answer's body in order, chunk by chunk, on the main thread; false stops the
// request, which then fails.
using FHttpResponseSink = std::function<bool(const QByteArray& Chunk)>;

// A request body of exact length, read from memory and files only as it is sent: literal bytes, a
// whole file, a byte range of a file, or a sequence of these (a multipart body is prefix + file +
// suffix). File lengths are taken when the part is made; a file that is shorter when sent fails
// the request instead of sending fewer bytes than announced.
class FHttpBody
{
public:
	FHttpBody() = default;
	static FHttpBody FromBytes(const QByteArray& Bytes);
	static FHttpBody FromFile(const QString& FilePath);
	static FHttpBody FromFileRange(const QString& FilePath, qint64 Offset, qint64 Length);
	static FHttpBody Sequence(const QList<FHttpBody>& Parts);
	FHttpBody& Append(const FHttpBody& Part);

	qint64 GetLength() const { return Length; }
	// Empty when every part can be sent; else what is wrong with the first part that cannot.
	QString GetError() const { return Error; }

private:
	friend class FHttpBodyDevice;
	struct FPart
	{
		QByteArray Bytes;
		// Empty for literal bytes.
		QString FilePath;
		qint64 Offset = 0;
		qint64 Length = 0;
	};
	QList<FPart> Parts;
	qint64 Length = 0;
	QString Error;
};

class FHttpResponse
{
public:
	int GetResponseCode() const { return ResponseCode; }
	// The buffered body; empty when the body was streamed to a sink or a file.
	const QByteArray& GetContent() const { return Content; }
	// Bytes of body received, buffered or streamed.
	qint64 GetContentLength() const { return ContentLength; }
	QString GetContentAsString() const { return QString::fromUtf8(Content); }
	// Headers in the order the server sent them.
	const FHttpHeaderList& GetAllHeaders() const { return Headers; }
	// The first header of that name (compared ignoring case); empty when absent.
	QString GetHeader(const QString& Name) const;
	QString GetContentType() const { return GetHeader(QStringLiteral("Content-Type")); }
	QString GetURL() const { return Url; }

private:
	friend class FHttpRequest;
	friend struct FHttpResponseTestAccess;
	int ResponseCode = 0;
	QByteArray Content;
	qint64 ContentLength = 0;
	FHttpHeaderList Headers;
	QString Url;
};

// One HTTP call. Set the verb, URL, headers and body, bind the completion, then ProcessRequest().
// The request keeps itself alive until its completion has run. When the connection breaks before
// the answer, a GET, HEAD, PUT, DELETE or OPTIONS may be sent once more on a fresh connection; any
// other verb (POST, PATCH) is sent at most once and fails instead, because the server may have
// carried it out: retrying it is the caller's decision.
class FHttpRequest : public std::enable_shared_from_this<FHttpRequest>
{
public:
	~FHttpRequest();

	void SetVerb(const QString& Verb) { VerbText = Verb; }
	void SetURL(const QString& Url) { UrlText = Url; }
	// Headers are sent in the order they were first set; setting one again replaces its value.
	void SetHeader(const QString& Name, const QString& Value);
	// Text sent as UTF-8.
	void SetContentAsString(const QString& Text);
	void SetContent(const QByteArray& Bytes);
	// Streams the file from disk when sent; false when it cannot be opened.
	bool SetContentAsStreamedFile(const QString& FilePath);
	// Sends Source with its exact length as Content-Length; false (logged) when a part cannot be
	// read, and the request keeps its previous body.
	bool SetContentSource(const FHttpBody& Source);
	// Seconds of silence until the request is given up (0 keeps the module's default).
	void SetTimeout(double Seconds) { TimeoutSeconds = Seconds; }
	// Seconds from ProcessRequest() until the request is given up however busy it is (0 keeps the
	// module's default; below 0: none). A server trickling bytes cannot keep it open.
	void SetDeadline(double Seconds) { DeadlineSeconds = Seconds; }
	// For long transfers instead of a deadline: the request is given up when fewer than MinBytes
	// moved (sent plus received) in any span of Seconds (0 turns it off).
	void SetStallTimeout(double Seconds, qint64 MinBytes = 1)
	{
		StallSeconds = Seconds;
		StallMinBytes = qMax<qint64>(1, MinBytes);
	}
	// Largest buffered answer body; a longer one fails the request (null response, false). 0 keeps
	// the module's default; below 0: no bound. Streamed answers are not bounded by it.
	void SetResponseBodyLimit(qint64 MaxBytes) { ResponseLimit = MaxBytes; }
	// Streams a success (2xx) answer's body to Sink instead of buffering it; other answers stay
	// buffered (bounded) so their error text can be read. Dropped, and the request cancelled, if
	// Context is destroyed first.
	void SetResponseSink(QObject* Context, FHttpResponseSink Sink);
	// Streams a success answer's body into FilePath, which appears only when the whole body
	// arrived (a failed or cancelled transfer leaves no partial file and keeps an older one).
	void SetResponseFile(const QString& FilePath);
	void SetPreSendHook(FHttpPreSendHook Hook) { PreSendHook = std::move(Hook); }

	// Binds the completion to a receiver: the call is dropped if Context is destroyed first.
	void OnProcessRequestComplete(QObject* Context, FHttpRequestCompleteDelegate Delegate);
	void OnRequestProgress(QObject* Context, FHttpRequestProgressDelegate Delegate);

	// Starts the request; false when it cannot start (bad URL, unreadable file). The completion
	// then still runs, later on the main thread, with a null response.
	bool ProcessRequest();
	// Aborts a running request; the completion runs once, later on the main thread, with a null
	// response and false.
	void CancelRequest();

	QString GetVerb() const { return VerbText; }
	QString GetURL() const { return UrlText; }
	QString GetHeader(const QString& Name) const;
	const FHttpHeaderList& GetAllHeaders() const { return HeaderList; }
	const QByteArray& GetContent() const { return Body; }
	bool IsFinished() const { return bFinished; }
	// After a completion without an answer: whether the request ran out of time (its time-out, its
	// deadline, or a stalled transfer) rather than failing otherwise.
	bool HasTimedOut() const { return bTimedOut; }
	FHttpResponsePtr GetResponse() const { return Response; }

private:
	friend class FHttpModule;
	explicit FHttpRequest(FHttpModule& Module);
	void Finish(FHttpResponsePtr InResponse, bool bSuccess);
	// The module is going away: drop the reply and the completion without calling it.
	void Abandon();
	void OnReplyFinished();
	void OnReadyRead();
	// Gives the request up for Reason: the reply is aborted and the completion sees no answer.
	void GiveUp(const QString& Reason, bool bTimeout = false);
	void ReportProgress(bool bFinal);
	void StartTimers();
	void StopTimers();
	void Fail(const QString& Reason);

	FHttpModule& Module;
	QString VerbText = QStringLiteral("GET");
	QString UrlText;
	FHttpHeaderList HeaderList;
	QByteArray Body;
	std::shared_ptr<FHttpBody> Source;
	double TimeoutSeconds = 0.0;
	double DeadlineSeconds = 0.0;
	double StallSeconds = 0.0;
	qint64 StallMinBytes = 1;
	qint64 ResponseLimit = 0;
	FHttpPreSendHook PreSendHook;
	QPointer<QObject> SinkContext;
	FHttpResponseSink Sink;
	bool bHasSink = false;
	QString ResponseFilePath;
	std::unique_ptr<FDurableFileWriter> ResponseFile;
	// Decided when the status arrives: whether this answer's body goes to the sink or file.
	bool bStreaming = false;
	bool bStatusSeen = false;
	QByteArray Buffered;
	qint64 Received = 0;
	QString GiveUpReason;
	QPointer<QTimer> DeadlineTimer;
	QPointer<QTimer> StallTimer;
	qint64 StallMark = 0;
	qint64 Sent = 0;
	qint64 SendTotal = 0;
	qint64 ReceiveTotal = -1;
	qint64 DeliveredSent = -1;
	qint64 DeliveredReceived = -1;
	qint64 LastDeliveryMs = -1;
	QElapsedTimer Clock;
	QPointer<QObject> CompleteContext;
	FHttpRequestCompleteDelegate CompleteDelegate;
	QPointer<QObject> ProgressContext;
	FHttpRequestProgressDelegate ProgressDelegate;
	QPointer<QNetworkReply> Reply;
	FHttpResponsePtr Response;
	FHttpRequestPtr SelfWhileRunning;
	bool bStarted = false;
	bool bFinished = false;
	bool bTimedOut = false;
	// The connection broke before the answer and the request was not sent again (see FHttpBodyDevice).
	bool bResendRefused = false;
};

// The HTTP module: creates requests and owns the network access manager. Lives on the main thread.
class FHttpModule : public QObject
{
	Q_OBJECT

public:
	explicit FHttpModule(QObject* Parent = nullptr);
	~FHttpModule() override;

	FHttpRequestPtr CreateRequest();

	// The time-out of requests that set none, so nothing waits forever.
	void SetDefaultTimeout(double Seconds) { DefaultTimeoutSeconds = Seconds; }
	double GetDefaultTimeout() const { return DefaultTimeoutSeconds; }
	// The overall deadline of requests that set none (0: none, the default).
	void SetDefaultDeadline(double Seconds) { DefaultDeadlineSeconds = Seconds; }
	double GetDefaultDeadline() const { return DefaultDeadlineSeconds; }
	// The bound of buffered answer bodies for requests that set none (below 0: none).
	void SetDefaultResponseBodyLimit(qint64 MaxBytes) { DefaultResponseLimit = MaxBytes; }
	qint64 GetDefaultResponseBodyLimit() const { return DefaultResponseLimit; }
	static constexpr qint64 DefaultResponseBodyLimitBytes = 32 * 1024 * 1024;

	int GetPendingCount() const { return Pending; }
	// Lets requests already sent finish, for at most TimeoutMs; true when none is left.
	bool Flush(int TimeoutMs);

	QNetworkAccessManager& GetManager() { return *Manager; }

	// Percent-encodes every byte of the UTF-8 form except A-Z a-z 0-9 - . _ ~
	static QString UrlEncode(const QString& Text);

private:
	friend class FHttpRequest;
	QNetworkAccessManager* Manager;
	double DefaultTimeoutSeconds = 60.0;
	double DefaultDeadlineSeconds = 0.0;
	qint64 DefaultResponseLimit = DefaultResponseBodyLimitBytes;
	int Pending = 0;
	// Requests under way; each keeps itself alive until it finishes or the module goes away.
	QList<FHttpRequest*> Running;
};
