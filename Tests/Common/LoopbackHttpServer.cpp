#include "LoopbackHttpServer.h"

#include "GameThread.h"

#include <QPointer>
#include <QTcpSocket>
#include <QTimer>

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
	Server.listen(QHostAddress::LocalHost, 0);
	connect(&Server, &QTcpServer::newConnection, this, &FLoopbackHttpServer::OnNewConnection);
}

FLoopbackHttpServer::~FLoopbackHttpServer() { Server.close(); }

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
		auto Buffer = std::make_shared<QByteArray>();
		connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
		connect(Socket, &QTcpSocket::readyRead, this, [this, Socket, Buffer] {
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
				for (int Index = 1; Index < Lines.size(); ++Index)
				{
					const QByteArray Line = Lines[Index].endsWith('\r') ? Lines[Index].chopped(1) : Lines[Index];
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
				}
				if (Buffer->size() < HeaderEnd + 4 + Length)
				{
					return;
				}
				Request.Body = Buffer->mid(HeaderEnd + 4, Length);
				Buffer->remove(0, HeaderEnd + 4 + Length);
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
				auto Send = [Guard, Answer] {
					if (!Guard)
					{
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
					Out += Answer.Body;
					Guard->write(Out);
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
