// Sends one large file body through the host's HTTP module to a loopback server that counts and
// checks what arrives, and prints how far the process's resident memory rose above what it was
// before the transfer. A file body must stream: the figure stays far below the file's size.
// Usage: HttpUploadBench [MiB] [folder for the file]   (default: 1024, the system's temp folder)

#include "GameThread.h"
#include "Http.h"
#include "Log.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>
#include <memory>

namespace
{
// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
qint64 StatusKiB(const char* Field)
{
	QFile Status(QStringLiteral("/proc/self/status"));
	if (!Status.open(QIODevice::ReadOnly))
	{
		return -1;
	}
	const QByteArray Prefix = QByteArray(Field) + ':';
	for (const QByteArray& Line : Status.readAll().split('\n'))
	{
		if (Line.startsWith(Prefix))
		{
			return Line.mid(Prefix.size()).trimmed().split(' ').value(0).toLongLong();
		}
	}
	return -1;
}

// Starts the peak (VmHWM) afresh at the current resident size.
bool ResetPeak()
{
	QFile ClearRefs(QStringLiteral("/proc/self/clear_refs"));
	return ClearRefs.open(QIODevice::WriteOnly) && ClearRefs.write("5") == 1;
}

// FNV-1a over the bytes, so both ends can show that every byte arrived in order.
struct FChecksum
{
	quint64 Value = 1469598103934665603ULL;
	void Add(const char* Data, qint64 Size)
	{
		for (qint64 Index = 0; Index < Size; ++Index)
		{
			Value = (Value ^ quint8(Data[Index])) * 1099511628211ULL;
		}
	}
};

// Reads one request at a time, keeping only its headers; the body is counted and discarded.
class FCountingServer : public QObject
{
public:
	FCountingServer()
	{
		if (!Server.listen(QHostAddress::LocalHost, 0))
		{
			std::fprintf(stderr, "cannot listen on 127.0.0.1: %s\n", qPrintable(Server.errorString()));
			std::exit(1);
		}
		connect(&Server, &QTcpServer::newConnection, this,
		        [this]
		        {
			        while (QTcpSocket* Socket = Server.nextPendingConnection())
			        {
				        Socket->setParent(this);
				        connect(Socket, &QTcpSocket::disconnected, Socket, &QObject::deleteLater);
				        connect(Socket, &QTcpSocket::readyRead, this, [this, Socket] { OnRead(Socket); });
			        }
		        });
	}

	quint16 Port() const { return Server.serverPort(); }
	qint64 BodyBytes = 0;
	FChecksum Sum;
	int Requests = 0;

private:
	void OnRead(QTcpSocket* Socket)
	{
		for (;;)
		{
			if (Remaining < 0)
			{
				Head += Socket->readAll();
				const qsizetype End = Head.indexOf("\r\n\r\n");
				if (End < 0)
				{
					return;
				}
				Remaining = 0;
				for (const QByteArray& Line : Head.left(End).split('\n'))
				{
					if (Line.toLower().startsWith("content-length:"))
					{
						Remaining = Line.mid(15).trimmed().toLongLong();
					}
				}
				const QByteArray Rest = Head.mid(End + 4);
				Head.clear();
				BodyBytes = 0;
				Sum = FChecksum();
				Take(Rest.constData(), Rest.size());
			}
			else
			{
				char Buffer[256 * 1024];
				const qint64 Got = Socket->read(Buffer, sizeof(Buffer));
				if (Got <= 0)
				{
					return;
				}
				Take(Buffer, Got);
			}
			if (Remaining == 0)
			{
				++Requests;
				Remaining = -1;
				Socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
			}
		}
	}

	void Take(const char* Data, qint64 Size)
	{
		BodyBytes += Size;
		Remaining -= Size;
		Sum.Add(Data, Size);
	}

	QTcpServer Server;
	QByteArray Head;
	qint64 Remaining = -1;
};

bool Send(FHttpModule& Http, const QString& Url, const FHttpBody& Body, int* OutProgressCalls)
{
	FHttpRequestPtr Request = Http.CreateRequest();
	Request->SetVerb(QStringLiteral("PUT"));
	Request->SetURL(Url);
	Request->SetHeader(QStringLiteral("Content-Type"), QStringLiteral("application/octet-stream"));
	Request->SetStallTimeout(30.0);
	Request->SetTimeout(120.0);
	if (!Request->SetContentSource(Body))
	{
		return false;
	}
	QObject Context;
	bool bDone = false;
	bool bOk = false;
	Request->OnProcessRequestComplete(&Context,
	                                  [&](FHttpRequestPtr, FHttpResponsePtr Response, bool bSuccess)
	                                  {
		                                  bDone = true;
		                                  bOk = bSuccess && Response && Response->GetResponseCode() == 200;
	                                  });
	if (OutProgressCalls)
	{
		Request->OnRequestProgress(&Context,
		                           [OutProgressCalls](FHttpRequestPtr, qint64, qint64) { ++*OutProgressCalls; });
	}
	Request->ProcessRequest();
	FGameThread::RunUntil([&] { return bDone; }, 600000);
	return bOk;
}
} // namespace

int main(int Argc, char** Argv)
{
	QCoreApplication App(Argc, Argv);
	const QStringList Arguments = App.arguments();
	const qint64 MiB = Arguments.size() > 1 ? Arguments[1].toLongLong() : 1024;
	if (MiB <= 0)
	{
		std::fprintf(stderr, "usage: HttpUploadBench [MiB] [folder]\n");
		return 2;
	}
	QTemporaryDir Dir(Arguments.size() > 2 ? QDir(Arguments[2]).filePath(QStringLiteral("HttpUploadBench-XXXXXX"))
	                                       : QDir::temp().filePath(QStringLiteral("HttpUploadBench-XXXXXX")));
	if (!Dir.isValid())
	{
		std::fprintf(stderr, "cannot create a folder for the file\n");
		return 1;
	}
	FLog::SetStderrEnabled(false);

	// Real bytes, not a sparse file: reading holes would not exercise the read path.
	const QString Path = Dir.filePath(QStringLiteral("body.bin"));
	FChecksum Expected;
	{
		QFile File(Path);
		if (!File.open(QIODevice::WriteOnly))
		{
			std::fprintf(stderr, "cannot write %s\n", qPrintable(Path));
			return 1;
		}
		QByteArray Chunk(1024 * 1024, Qt::Uninitialized);
		for (qint64 Index = 0; Index < MiB; ++Index)
		{
			for (qsizetype At = 0; At < Chunk.size(); ++At)
			{
				Chunk[At] = char((At * 131 + Index * 7) ^ (At >> 11));
			}
			Expected.Add(Chunk.constData(), Chunk.size());
			if (File.write(Chunk) != Chunk.size())
			{
				std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(Path), qPrintable(File.errorString()));
				return 1;
			}
		}
	}

	FCountingServer Server;
	FHttpModule Http;
	const QString Url = QStringLiteral("http://127.0.0.1:%1/bucket/body.bin").arg(Server.Port());
	// A small request first, so that what the network stack sets up once is not counted.
	if (!Send(Http, Url, FHttpBody::FromBytes(QByteArray(4096, 'w')), nullptr))
	{
		std::fprintf(stderr, "the warm-up request failed\n");
		return 1;
	}

	const bool bPeakReset = ResetPeak();
	const qint64 BaseKiB = StatusKiB("VmRSS");
	int ProgressCalls = 0;
	QElapsedTimer Timer;
	Timer.start();
	const bool bSent = Send(Http, Url, FHttpBody::FromFile(Path), &ProgressCalls);
	const double Seconds = double(Timer.elapsed()) / 1000.0;
	const qint64 PeakKiB = StatusKiB("VmHWM");
	const qint64 GrowthKiB = PeakKiB - BaseKiB;
	const bool bIntact = Server.BodyBytes == MiB * 1024 * 1024 && Server.Sum.Value == Expected.Value;

	std::printf("body: %lld MiB from a file, sent %s, arrived %s (%lld bytes)\n", static_cast<long long>(MiB),
	            bSent ? "ok" : "FAILED", bIntact ? "byte for byte" : "DIFFERENT",
	            static_cast<long long>(Server.BodyBytes));
	std::printf("time: %.1f s (%.0f MiB/s), progress calls: %d\n", Seconds, double(MiB) / qMax(Seconds, 0.001),
	            ProgressCalls);
	std::printf("resident before: %.1f MiB, peak during: %.1f MiB%s, growth: %.1f MiB (target < 32 MiB): %s\n",
	            double(BaseKiB) / 1024.0, double(PeakKiB) / 1024.0, bPeakReset ? "" : " (peak since start)",
	            double(GrowthKiB) / 1024.0, GrowthKiB < 32 * 1024 ? "met" : "MISSED");
	return bSent && bIntact && GrowthKiB < 32 * 1024 ? 0 : 1;
}
