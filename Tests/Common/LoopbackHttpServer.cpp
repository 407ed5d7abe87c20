#include "LoopbackHttpServer.h"

#include "GameThread.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace
{
// De-chunks a chunked body starting at Start. Returns the index just past its end, -1 when it is
// not complete yet, -2 when it is malformed.
qsizetype ParseChunked(const QByteArray& Buffer, qsizetype Start, QByteArray& Out)
{
	QByteArray Body;
	qsizetype At = Start;
	for (;;)
	{
		const qsizetype LineEnd = Buffer.indexOf("\r\n", At);
		if (LineEnd < 0)
		{
			return -1;
		}
		// Chunk extensions after ';' are allowed and ignored.
		QByteArray SizeText = Buffer.mid(At, LineEnd - At);
		if (const qsizetype Semi = SizeText.indexOf(';'); Semi >= 0)
		{
			SizeText.truncate(Semi);
		}
		bool bOk = false;
		const qint64 Size = SizeText.trimmed().toLongLong(&bOk, 16);
		if (!bOk || Size < 0)
		{
			return -2;
		}
		At = LineEnd + 2;
		if (Size == 0)
		{
			// Trailers, each ending in CRLF, then an empty line.
			for (;;)
			{
				const qsizetype TrailerEnd = Buffer.indexOf("\r\n", At);
				if (TrailerEnd < 0)
				{
					return -1;
				}
				const bool bEmpty = TrailerEnd == At;
				At = TrailerEnd + 2;
				if (bEmpty)
				{
					Out = Body;
					return At;
				}
			}
		}
		if (Buffer.size() < At + Size + 2)
		{
			return -1;
		}
		if (Buffer.mid(At + Size, 2) != "\r\n")
		{
			return -2;
		}
		Body.append(Buffer.constData() + At, Size);
		At += Size + 2;
	}
}
} // namespace

QByteArray FLoopbackHttpServer::FRecordedRequest::Header(const QByteArray& Name) const
{
	for (const auto& Pair : Headers)
	{
		if (Pair.first.compare(Name, Qt::CaseInsensitive) == 0)
		{
			return Pair.second;
		}
	}
	return QByteArray();
}

QList<QByteArray> FLoopbackHttpServer::FRecordedRequest::HeaderNames() const
{
	QList<QByteArray> Names;
	for (const auto& Pair : Headers)
	{
		Names.append(Pair.first);
	}
	return Names;
}

FLoopbackHttpServer::FLoopbackHttpServer(QObject* Parent)
    : QObject(Parent)
{
	if (!Server.listen(QHostAddress::LocalHost, 0))
	{
		const QByteArray Why = Server.errorString().toUtf8();
		ADD_FAILURE() << "The loopback HTTP server cannot listen on 127.0.0.1: " << Why.constData();
		std::fprintf(stderr, "FLoopbackHttpServer: cannot listen on 127.0.0.1: %s\n", Why.constData());
		std::abort();
	}
	connect(&Server, &QTcpServer::newConnection, this, &FLoopbackHttpServer::OnNewConnection);
}

FLoopbackHttpServer::~FLoopbackHttpServer()
{
	Server.close();
}

QString FLoopbackHttpServer::Url(const QString& Path) const
{
	return QStringLiteral("http://127.0.0.1:%1").arg(Port()) + Path;
}

bool FLoopbackHttpServer::WaitForRequests(int Count, int TimeoutMs)
{
	return FGameThread::RunUntil([this, Count] { return Recorded.size() >= Count; }, TimeoutMs);
}

void FLoopbackHttpServer::OnNewConnection()
{
	while (QTcpSocket* Socket = Server.nextPendingConnection())
	{
		Socket->setParent(this);
		++Connections;
		auto Buffer = std::make_shared<QByteArray>();
		connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
		connect(Socket, &QTcpSocket::readyRead, this,
		        [this, Socket, Buffer]
		        {
			        Buffer->append(Socket->readAll());
			        // Serve every complete request in the buffer (keep-alive connections send several).
			        for (;;)
			        {
				        const int HeaderEnd = Buffer->indexOf("\r\n\r\n");
				        if (HeaderEnd < 0)
				        {
					        return;
				        }
				        const QList<QByteArray> Lines = Buffer->left(HeaderEnd).split('\n');
				        FRecordedRequest Request;
				        const QList<QByteArray> RequestLine = Lines.value(0).trimmed().split(' ');
				        Request.Verb = RequestLine.value(0);
				        Request.Target = RequestLine.value(1);
				        qint64 Length = 0;
				        bool bChunked = false;
				        for (int Index = 1; Index < Lines.size(); ++Index)
				        {
					        const QByteArray Line =
					            Lines[Index].endsWith('\r') ? Lines[Index].chopped(1) : Lines[Index];
					        const int Colon = Line.indexOf(':');
					        if (Colon <= 0)
					        {
						        continue;
					        }
					        const QByteArray Name = Line.left(Colon);
					        const QByteArray Value = Line.mid(Colon + 1).trimmed();
					        Request.Headers.append({Name, Value});
					        if (Name.compare("Content-Length", Qt::CaseInsensitive) == 0)
					        {
						        Length = Value.toLongLong();
					        }
					        if (Name.compare("Transfer-Encoding", Qt::CaseInsensitive) == 0 &&
					            Value.toLower().contains("chunked"))
					        {
						        bChunked = true;
					        }
				        }
				        if (bChunked)
				        {
					        const qsizetype End = ParseChunked(*Buffer, HeaderEnd + 4, Request.Body);
					        if (End == -1)
					        {
						        return;
					        }
					        if (End == -2)
					        {
						        ADD_FAILURE() << "The loopback HTTP server received a malformed chunked body";
						        Socket->abort();
						        return;
					        }
					        Buffer->remove(0, End);
				        }
				        else
				        {
					        if (Buffer->size() < HeaderEnd + 4 + Length)
					        {
						        return;
					        }
					        Request.Body = Buffer->mid(HeaderEnd + 4, Length);
					        Buffer->remove(0, HeaderEnd + 4 + Length);
				        }
				        Recorded.append(Request);

				        FAnswer Answer;
				        if (!Queue.empty())
				        {
					        Answer = Queue.front();
					        Queue.pop_front();
				        }
				        else if (Fallback)
				        {
					        Answer = Fallback(Request);
				        }
				        else
				        {
					        Answer = FAnswer{404, QByteArray("{\"detail\":\"Not Found\"}")};
				        }

				        QPointer<QTcpSocket> Guard(Socket);
				        auto Send = [Guard, Answer]
				        {
					        if (!Guard)
					        {
						        return;
					        }
					        if (Answer.bCloseWithoutAnswer)
					        {
						        Guard->disconnectFromHost();
						        return;
					        }
					        if (Answer.bDrop)
					        {
						        // The answer breaks off in its body: the client has started reading, so it does not
						        // resend, and gets no complete answer.
						        Guard->write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"access");
						        Guard->disconnectFromHost();
						        return;
					        }
					        QByteArray Out = "HTTP/1.1 " + QByteArray::number(Answer.Status) + " Status\r\n";
					        for (const auto& Header : Answer.Headers)
					        {
						        Out += Header.first + ": " + Header.second + "\r\n";
					        }
					        Out += "Content-Length: " + QByteArray::number(Answer.Body.size()) + "\r\n\r\n";
					        if (Answer.TrickleMs <= 0)
					        {
						        Guard->write(Out + Answer.Body);
						        return;
					        }
					        Guard->write(Out);
					        auto* Trickle = new QTimer(Guard);
					        auto Next = std::make_shared<qsizetype>(0);
					        QObject::connect(Trickle, &QTimer::timeout, Guard,
					                         [Guard, Trickle, Next, Body = Answer.Body]
					                         {
						                         if (*Next >= Body.size())
						                         {
							                         Trickle->deleteLater();
							                         return;
						                         }
						                         Guard->write(Body.mid((*Next)++, 1));
					                         });
					        Trickle->start(Answer.TrickleMs);
				        };
				        if (Answer.DelayMs > 0)
				        {
					        QTimer::singleShot(Answer.DelayMs, this, Send);
				        }
				        else
				        {
					        Send();
				        }
			        }
		        });
	}
}
