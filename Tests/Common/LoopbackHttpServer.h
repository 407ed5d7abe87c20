#pragma once

#include "TestPrinters.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QTcpServer>

#include <deque>
#include <functional>

// A plain HTTP/1.1 server on 127.0.0.1 and a free port, for wire tests. It records every request
// exactly as it arrived (verb, target, headers in order, body bytes; a chunked body is recorded
// de-chunked) and answers what the test queued, or what the handler returns. A server that cannot
// listen fails the test at once rather than letting it wait for requests that never come.
class FLoopbackHttpServer : public QObject
{
	Q_OBJECT

public:
	struct FRecordedRequest
	{
		QByteArray Verb;
		// Path and query, as sent.
		QByteArray Target;
		QList<QPair<QByteArray, QByteArray>> Headers;
		QByteArray Body;

		QByteArray Header(const QByteArray& Name) const;
		// Header names in the order they were sent.
		QList<QByteArray> HeaderNames() const;
	};

	struct FAnswer
	{
		int Status = 200;
		QByteArray Body;
		QList<QPair<QByteArray, QByteArray>> Headers = {{"Content-Type", "application/json"}};
		// Break the answer off in its body (a transport failure for the client).
		bool bDrop = false;
		// Close the connection after reading the request, without a byte of answer.
		bool bCloseWithoutAnswer = false;
		// Answer only after this many milliseconds.
		int DelayMs = 0;
		// Send the answer one byte every this many milliseconds (a server that keeps a connection busy
		// without ever finishing in time).
		int TrickleMs = 0;
	};

	using FHandler = std::function<FAnswer(const FRecordedRequest&)>;

	explicit FLoopbackHttpServer(QObject* Parent = nullptr);
	~FLoopbackHttpServer() override;

	quint16 Port() const { return Server.serverPort(); }
	// "http://127.0.0.1:PORT" followed by Path.
	QString Url(const QString& Path = QString()) const;

	void Enqueue(const FAnswer& Answer) { Queue.push_back(Answer); }
	void Enqueue(int Status, const QByteArray& Body) { Queue.push_back(FAnswer{Status, Body}); }
	// Used when the queue is empty; without one the server answers 404.
	void SetHandler(FHandler Handler) { Fallback = std::move(Handler); }

	const QList<FRecordedRequest>& Requests() const { return Recorded; }
	int RequestCount() const { return Recorded.size(); }
	// Connections accepted, whether or not a request arrived on them.
	int ConnectionCount() const { return Connections; }
	// Waits (running the event loop) until at least Count requests arrived.
	bool WaitForRequests(int Count, int TimeoutMs = 5000);

private:
	void OnNewConnection();

	QTcpServer Server;
	std::deque<FAnswer> Queue;
	FHandler Fallback;
	QList<FRecordedRequest> Recorded;
	int Connections = 0;
};
