#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class FHttpModule;
class FHttpRequest;
class FHttpResponse;

using FHttpRequestPtr = std::shared_ptr<FHttpRequest>;
using FHttpResponsePtr = std::shared_ptr<FHttpResponse>;
using FHttpHeaderList = QList<QPair<QByteArray, QByteArray>>;

// Called on the main thread with (request, response or null, success). A transport failure or a
// time-out yields a null response and false.
using FHttpRequestCompleteDelegate = std::function<void(FHttpRequestPtr, FHttpResponsePtr, bool)>;
// Bytes sent and received so far.
using FHttpRequestProgressDelegate = std::function<void(FHttpRequestPtr, qint64 BytesSent, qint64 BytesReceived)>;

class FHttpResponse
{
public:
	int GetResponseCode() const { return ResponseCode; }
	const QByteArray& GetContent() const { return Content; }
	QString GetContentAsString() const { return QString::fromUtf8(Content); }
	// Headers in the order the server sent them.
	const FHttpHeaderList& GetAllHeaders() const { return Headers; }
	// The first header of that name (compared ignoring case); empty when absent.
	QString GetHeader(const QString& Name) const;
	QString GetContentType() const { return GetHeader(QStringLiteral("Content-Type")); }
	QString GetURL() const { return Url; }

private:
	friend class FHttpRequest;
	int ResponseCode = 0;
	QByteArray Content;
	FHttpHeaderList Headers;
	QString Url;
};

// One HTTP call. Set the verb, URL, headers and body, bind the completion, then ProcessRequest().
// The request keeps itself alive until its completion has run.
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
	// Seconds until the request is given up (0 keeps the module's default).
	void SetTimeout(double Seconds) { TimeoutSeconds = Seconds; }

	// Binds the completion to a receiver: the call is dropped if Context is destroyed first.
	void OnProcessRequestComplete(QObject* Context, FHttpRequestCompleteDelegate Delegate);
	void OnRequestProgress(QObject* Context, FHttpRequestProgressDelegate Delegate);

	// Starts the request; false when it cannot start (bad URL, unreadable file). The completion
	// then still runs, later on the main thread, with a null response.
	bool ProcessRequest();
	// Aborts a running request; the completion runs with a null response.
	void CancelRequest();

	QString GetVerb() const { return VerbText; }
	QString GetURL() const { return UrlText; }
	QString GetHeader(const QString& Name) const;
	const FHttpHeaderList& GetAllHeaders() const { return HeaderList; }
	const QByteArray& GetContent() const { return Body; }
	bool IsFinished() const { return bFinished; }
	FHttpResponsePtr GetResponse() const { return Response; }

private:
	friend class FHttpModule;
	explicit FHttpRequest(FHttpModule& Module);
	void Finish(FHttpResponsePtr InResponse, bool bSuccess);
	// The module is going away: drop the reply and the completion without calling it.
	void Abandon();
	void OnReplyFinished();

	FHttpModule& Module;
	QString VerbText = QStringLiteral("GET");
	QString UrlText;
	FHttpHeaderList HeaderList;
	QByteArray Body;
	QString StreamedFilePath;
	double TimeoutSeconds = 0.0;
	QPointer<QObject> CompleteContext;
	FHttpRequestCompleteDelegate CompleteDelegate;
	QPointer<QObject> ProgressContext;
	FHttpRequestProgressDelegate ProgressDelegate;
	QPointer<QNetworkReply> Reply;
	FHttpResponsePtr Response;
	FHttpRequestPtr SelfWhileRunning;
	bool bStarted = false;
	bool bFinished = false;
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
	int Pending = 0;
	// Requests under way; each keeps itself alive until it finishes or the module goes away.
	QList<FHttpRequest*> Running;
};
