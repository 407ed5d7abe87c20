#include "GameThread.h"
#include "Http.h"
#include "LoopbackHttpServer.h"
#include "TestPrinters.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QUrl>

#include <gtest/gtest.h>

namespace
{
struct FOutcome
{
	FHttpResponsePtr Response;
	bool bSuccess = false;
	int Calls = 0;
};

std::shared_ptr<FOutcome> Bind(const FHttpRequestPtr& Request, QObject* Context)
{
	auto Outcome = std::make_shared<FOutcome>();
	Request->OnProcessRequestComplete(Context,
	                                  [Outcome](FHttpRequestPtr, FHttpResponsePtr Response, bool bSuccess)
	                                  {
		                                  Outcome->Response = Response;
		                                  Outcome->bSuccess = bSuccess;
		                                  ++Outcome->Calls;
	                                  });
	return Outcome;
}

FOutcome SendAndWait(const FHttpRequestPtr& Request, QObject* Context, int TimeoutMs = 10000)
{
	auto Outcome = Bind(Request, Context);
	Request->ProcessRequest();
	FGameThread::RunUntil([&] { return Outcome->Calls > 0; }, TimeoutMs);
	// Long enough for a second completion, if there were one, to show.
	FGameThread::RunUntilIdle(30);
	return *Outcome;
}

QByteArray Pattern(qsizetype Size, int Seed)
{
	QByteArray Bytes(Size, Qt::Uninitialized);
	for (qsizetype Index = 0; Index < Size; ++Index)
	{
		Bytes[Index] = char((Index * 131 + Seed) ^ (Index >> 9));
	}
	return Bytes;
}

QString WriteFile(const QTemporaryDir& Dir, const QString& Name, const QByteArray& Bytes)
{
	QFile File(Dir.filePath(Name));
	EXPECT_TRUE(File.open(QIODevice::WriteOnly));
	File.write(Bytes);
	return File.fileName();
}
} // namespace

class HttpStreamingTest : public ::testing::Test
{
protected:
	FLoopbackHttpServer Server;
	FHttpModule Http;
	QObject Context;
	QTemporaryDir Dir;
};

TEST_F(HttpStreamingTest, MultipartBodyFromBytesFileAndRangeArrivesByteForByte)
{
	const QByteArray Payload = Pattern(2 * 1024 * 1024 + 333, 5);
	const QString Path = WriteFile(Dir, QStringLiteral("shot.png"), Payload);
	const QByteArray Prefix = "--b\r\nContent-Disposition: form-data; name=\"file\"; filename=\"shot.png\"\r\n\r\n";
	const QByteArray Suffix = "\r\n--b--\r\n";
	const FHttpBody Body =
	    FHttpBody::Sequence({FHttpBody::FromBytes(Prefix), FHttpBody::FromFile(Path), FHttpBody::FromBytes(Suffix),
	                         FHttpBody::FromFileRange(Path, 1000, 70000), FHttpBody::FromFileRange(Path, 5, 0)});
	ASSERT_TRUE(Body.GetError().isEmpty());
	const QByteArray Expected = Prefix + Payload + Suffix + Payload.mid(1000, 70000);
	EXPECT_EQ(Body.GetLength(), Expected.size());

	Server.Enqueue(201, "{}");
	FHttpRequestPtr Request = Http.CreateRequest();
	Request->SetVerb(QStringLiteral("POST"));
	Request->SetURL(Server.Url(QStringLiteral("/upload")));
	Request->SetHeader(QStringLiteral("Content-Type"), QStringLiteral("multipart/form-data; boundary=b"));
	ASSERT_TRUE(Request->SetContentSource(Body));
	const FOutcome Outcome = SendAndWait(Request, &Context, 20000);
	ASSERT_TRUE(Outcome.bSuccess);
	EXPECT_EQ(Outcome.Response->GetResponseCode(), 201);
	ASSERT_EQ(Server.RequestCount(), 1);
	EXPECT_EQ(Server.Requests()[0].Header("Content-Length"), QByteArray::number(Expected.size()));
	EXPECT_TRUE(Server.Requests()[0].Body == Expected);

	// Ranges that the file does not hold, and missing files, are refused before anything is sent.
	FHttpRequestPtr Bad = Http.CreateRequest();
	EXPECT_FALSE(Bad->SetContentSource(FHttpBody::FromFileRange(Path, Payload.size() - 10, 11)));
	EXPECT_FALSE(Bad->SetContentSource(FHttpBody::FromFileRange(Path, -1, 5)));
	EXPECT_FALSE(Bad->SetContentSource(
	    FHttpBody::Sequence({FHttpBody::FromBytes("x"), FHttpBody::FromFile(Dir.filePath(QStringLiteral("none")))})));
}

TEST_F(HttpStreamingTest, FileThatShrankBeforeItWasSentFailsTheRequest)
{
	const QByteArray Payload = Pattern(300000, 2);
	const QString Path = WriteFile(Dir, QStringLiteral("shrinks.bin"), Payload);
	FHttpRequestPtr Request = Http.CreateRequest();
	Request->SetVerb(QStringLiteral("PUT"));
	Request->SetURL(Server.Url(QStringLiteral("/put")));
	ASSERT_TRUE(Request->SetContentSource(
	    FHttpBody::Sequence({FHttpBody::FromBytes("head"), FHttpBody::FromFileRange(Path, 100, 200000)})));
	QFile::resize(Path, 1000);
	Server.Enqueue(200, "{}");
	const FOutcome Outcome = SendAndWait(Request, &Context);
	EXPECT_EQ(Outcome.Calls, 1);
	EXPECT_FALSE(Outcome.bSuccess);
	EXPECT_FALSE(Outcome.Response);
	// The server never saw a whole request of the announced length.
	EXPECT_EQ(Server.RequestCount(), 0);
}

TEST_F(HttpStreamingTest, BufferedAnswerOverItsBoundFailsCleanly)
{
	const QByteArray Big = Pattern(5000, 1);
	Server.SetHandler(
	    [&](const FLoopbackHttpServer::FRecordedRequest&) {
		    return FLoopbackHttpServer::FAnswer{200, Big};
	    });
	FHttpRequestPtr Over = Http.CreateRequest();
	Over->SetURL(Server.Url(QStringLiteral("/big")));
	Over->SetResponseBodyLimit(4999);
	FOutcome Outcome = SendAndWait(Over, &Context);
	EXPECT_EQ(Outcome.Calls, 1);
	EXPECT_FALSE(Outcome.bSuccess);
	EXPECT_FALSE(Outcome.Response);
	EXPECT_EQ(Http.GetPendingCount(), 0);

	// The module's bound applies to requests that set none; exactly the bound is allowed.
	Http.SetDefaultResponseBodyLimit(5000);
	FHttpRequestPtr Exact = Http.CreateRequest();
	Exact->SetURL(Server.Url(QStringLiteral("/big")));
	Outcome = SendAndWait(Exact, &Context);
	ASSERT_TRUE(Outcome.bSuccess);
	EXPECT_TRUE(Outcome.Response->GetContent() == Big);

	Http.SetDefaultResponseBodyLimit(100);
	FHttpRequestPtr Default = Http.CreateRequest();
	Default->SetURL(Server.Url(QStringLiteral("/big")));
	Outcome = SendAndWait(Default, &Context);
	EXPECT_FALSE(Outcome.bSuccess);
	EXPECT_EQ(FHttpModule::DefaultResponseBodyLimitBytes, 32 * 1024 * 1024);
}

TEST_F(HttpStreamingTest, StreamsSuccessAnswersToAFileOrSinkAndKeepsErrorsBuffered)
{
	const QByteArray Big = Pattern(3 * 1024 * 1024 + 7, 9);
	Server.Enqueue(200, Big);
	const QString Target = Dir.filePath(QStringLiteral("download.bin"));
	FHttpRequestPtr ToFile = Http.CreateRequest();
	ToFile->SetURL(Server.Url(QStringLiteral("/file")));
	// The bound is for buffered answers only.
	ToFile->SetResponseBodyLimit(1024);
	ToFile->SetResponseFile(Target);
	FOutcome Outcome = SendAndWait(ToFile, &Context, 20000);
	ASSERT_TRUE(Outcome.bSuccess);
	EXPECT_TRUE(Outcome.Response->GetContent().isEmpty());
	EXPECT_EQ(Outcome.Response->GetContentLength(), Big.size());
	QFile Written(Target);
	ASSERT_TRUE(Written.open(QIODevice::ReadOnly));
	EXPECT_TRUE(Written.readAll() == Big);
	Written.close();

	// An error answer is read as text, and the file keeps what it had.
	Server.Enqueue(404, "{\"detail\":\"gone\"}");
	FHttpRequestPtr Missing = Http.CreateRequest();
	Missing->SetURL(Server.Url(QStringLiteral("/file")));
	Missing->SetResponseFile(Target);
	Outcome = SendAndWait(Missing, &Context);
	ASSERT_TRUE(Outcome.bSuccess);
	EXPECT_EQ(Outcome.Response->GetResponseCode(), 404);
	EXPECT_EQ(Outcome.Response->GetContent(), "{\"detail\":\"gone\"}");
	EXPECT_EQ(QFileInfo(Target).size(), Big.size());

	// A transfer that breaks off leaves no partial file.
	FLoopbackHttpServer::FAnswer Broken;
	Broken.bDrop = true;
	Server.Enqueue(Broken);
	const QString Partial = Dir.filePath(QStringLiteral("partial.bin"));
	FHttpRequestPtr Dropped = Http.CreateRequest();
	Dropped->SetURL(Server.Url(QStringLiteral("/file")));
	Dropped->SetResponseFile(Partial);
	Outcome = SendAndWait(Dropped, &Context);
	EXPECT_FALSE(Outcome.bSuccess);
	EXPECT_FALSE(QFileInfo::exists(Partial));

	// A sink gets the body in order; one that refuses stops the request.
	Server.Enqueue(200, Big);
	QByteArray Collected;
	FHttpRequestPtr ToSink = Http.CreateRequest();
	ToSink->SetURL(Server.Url(QStringLiteral("/sink")));
	ToSink->SetResponseSink(&Context,
	                        [&](const QByteArray& Chunk)
	                        {
		                        Collected += Chunk;
		                        return true;
	                        });
	Outcome = SendAndWait(ToSink, &Context, 20000);
	ASSERT_TRUE(Outcome.bSuccess);
	EXPECT_TRUE(Collected == Big);

	Server.Enqueue(200, Big);
	FHttpRequestPtr Refused = Http.CreateRequest();
	Refused->SetURL(Server.Url(QStringLiteral("/sink")));
	Refused->SetResponseSink(&Context, [](const QByteArray&) { return false; });
	Outcome = SendAndWait(Refused, &Context);
	EXPECT_EQ(Outcome.Calls, 1);
	EXPECT_FALSE(Outcome.bSuccess);
	EXPECT_FALSE(Outcome.Response);
}

TEST_F(HttpStreamingTest, ProgressArrivesOnTheMainThreadThrottledAndComplete)
{
	const QByteArray Payload = Pattern(8 * 1024 * 1024, 3);
	const QString Path = WriteFile(Dir, QStringLiteral("up.bin"), Payload);
	const QByteArray Answer = Pattern(2 * 1024 * 1024, 4);
	Server.Enqueue(200, Answer);
	FHttpRequestPtr Request = Http.CreateRequest();
	Request->SetVerb(QStringLiteral("PUT"));
	Request->SetURL(Server.Url(QStringLiteral("/put")));
	ASSERT_TRUE(Request->SetContentSource(FHttpBody::FromFile(Path)));
	int Calls = 0;
	bool bAllOnMain = true;
	qint64 LastSent = -1;
	qint64 LastReceived = -1;
	bool bMonotonic = true;
	Request->OnRequestProgress(&Context,
	                           [&](FHttpRequestPtr, qint64 Sent, qint64 Received)
	                           {
		                           ++Calls;
		                           bAllOnMain = bAllOnMain && FGameThread::IsInGameThread();
		                           bMonotonic = bMonotonic && Sent >= LastSent && Received >= LastReceived;
		                           LastSent = Sent;
		                           LastReceived = Received;
	                           });
	const FOutcome Outcome = SendAndWait(Request, &Context, 30000);
	ASSERT_TRUE(Outcome.bSuccess);
	EXPECT_TRUE(bAllOnMain);
	EXPECT_TRUE(bMonotonic);
	EXPECT_EQ(LastSent, Payload.size());
	EXPECT_EQ(LastReceived, Answer.size());
	EXPECT_GE(Calls, 2);
	// Whole percents of each direction plus one per 100 ms at most; Qt itself reports every few KiB.
	EXPECT_LE(Calls, 2 * 101 + 50);
}

TEST_F(HttpStreamingTest, CancelAndTimeOutCompleteOnceWithNullAndFalse)
{
	FLoopbackHttpServer::FAnswer Slow{200, "{}"};
	Slow.DelayMs = 3000;
	Server.Enqueue(Slow);
	FHttpRequestPtr Request = Http.CreateRequest();
	Request->SetURL(Server.Url(QStringLiteral("/slow")));
	auto Outcome = Bind(Request, &Context);
	Request->ProcessRequest();
	ASSERT_TRUE(Server.WaitForRequests(1));
	Request->CancelRequest();
	// Never under the caller's feet.
	EXPECT_EQ(Outcome->Calls, 0);
	Request->CancelRequest();
	FGameThread::RunUntilIdle(100);
	EXPECT_EQ(Outcome->Calls, 1);
	EXPECT_FALSE(Outcome->bSuccess);
	EXPECT_FALSE(Outcome->Response);
	EXPECT_TRUE(Request->IsFinished());
	EXPECT_EQ(Http.GetPendingCount(), 0);

	// The idle time-out of one request.
	Server.Enqueue(Slow);
	FHttpRequestPtr Late = Http.CreateRequest();
	Late->SetURL(Server.Url(QStringLiteral("/slow")));
	Late->SetTimeout(0.2);
	const FOutcome TimedOut = SendAndWait(Late, &Context, 5000);
	EXPECT_EQ(TimedOut.Calls, 1);
	EXPECT_FALSE(TimedOut.bSuccess);
	EXPECT_FALSE(TimedOut.Response);
}

TEST_F(HttpStreamingTest, DeadlineEndsARequestThatATricklingServerKeepsBusy)
{
	FLoopbackHttpServer::FAnswer Trickle{200, QByteArray(400, 'x')};
	Trickle.TrickleMs = 40;
	Server.Enqueue(Trickle);
	FHttpRequestPtr Request = Http.CreateRequest();
	Request->SetURL(Server.Url(QStringLiteral("/trickle")));
	// Silence never lasts long enough for the idle time-out.
	Request->SetTimeout(1.0);
	Request->SetDeadline(0.6);
	QElapsedTimer Timer;
	Timer.start();
	const FOutcome Outcome = SendAndWait(Request, &Context, 10000);
	EXPECT_EQ(Outcome.Calls, 1);
	EXPECT_FALSE(Outcome.bSuccess);
	EXPECT_FALSE(Outcome.Response);
	EXPECT_LT(Timer.elapsed(), 5000);

	// The module's deadline for requests that set none.
	Server.Enqueue(Trickle);
	Http.SetDefaultDeadline(0.4);
	FHttpRequestPtr ByDefault = Http.CreateRequest();
	ByDefault->SetURL(Server.Url(QStringLiteral("/trickle")));
	EXPECT_FALSE(SendAndWait(ByDefault, &Context, 10000).bSuccess);
	Http.SetDefaultDeadline(0.0);

	// A transfer ends when progress stalls: here under 100 bytes a quarter second.
	Server.Enqueue(Trickle);
	FHttpRequestPtr Stalled = Http.CreateRequest();
	Stalled->SetURL(Server.Url(QStringLiteral("/trickle")));
	Stalled->SetStallTimeout(0.25, 100);
	const FOutcome StallOutcome = SendAndWait(Stalled, &Context, 10000);
	EXPECT_EQ(StallOutcome.Calls, 1);
	EXPECT_FALSE(StallOutcome.bSuccess);

	// A transfer that keeps moving is not stalled.
	FLoopbackHttpServer::FAnswer Steady{200, QByteArray(30, 'y')};
	Steady.TrickleMs = 10;
	Server.Enqueue(Steady);
	FHttpRequestPtr Moving = Http.CreateRequest();
	Moving->SetURL(Server.Url(QStringLiteral("/steady")));
	Moving->SetStallTimeout(0.2, 1);
	const FOutcome MovingOutcome = SendAndWait(Moving, &Context, 10000);
	ASSERT_TRUE(MovingOutcome.bSuccess);
	EXPECT_EQ(MovingOutcome.Response->GetContent(), QByteArray(30, 'y'));
}

TEST_F(HttpStreamingTest, SigningHookSeesWhatIsSentAndItsHeadersReachTheWire)
{
	const QByteArray Payload = Pattern(100000, 7);
	const QString Path = WriteFile(Dir, QStringLiteral("part.bin"), Payload);
	Server.Enqueue(200, QByteArray());
	FHttpRequestPtr Request = Http.CreateRequest();
	Request->SetVerb(QStringLiteral("put"));
	Request->SetURL(Server.Url(QStringLiteral("/bucket/key%20one?partNumber=2&uploadId=a%2Fb")));
	Request->SetHeader(QStringLiteral("Content-Type"), QStringLiteral("application/octet-stream"));
	ASSERT_TRUE(Request->SetContentSource(FHttpBody::FromFileRange(Path, 10, 50000)));
	QString SeenVerb;
	QUrl SeenUrl;
	qint64 SeenLength = -1;
	QList<QByteArray> SeenNames;
	Request->SetPreSendHook(
	    [&](const QString& Verb, const QUrl& Url, FHttpHeaderList& Headers, qint64 Length)
	    {
		    SeenVerb = Verb;
		    SeenUrl = Url;
		    SeenLength = Length;
		    for (const auto& Header : Headers)
		    {
			    SeenNames.append(Header.first);
		    }
		    Headers.append(qMakePair(QByteArray("X-Amz-Date"), QByteArray("20260102T030405Z")));
		    Headers.append(
		        qMakePair(QByteArray("Authorization"), QByteArray("AWS4-HMAC-SHA256 Credential=a/b, Signature=c")));
	    });
	const FOutcome Outcome = SendAndWait(Request, &Context);
	ASSERT_TRUE(Outcome.bSuccess);
	EXPECT_EQ(SeenVerb, QStringLiteral("PUT"));
	EXPECT_EQ(SeenUrl.toString(QUrl::FullyEncoded),
	          Server.Url(QStringLiteral("/bucket/key%20one?partNumber=2&uploadId=a%2Fb")));
	EXPECT_EQ(SeenLength, 50000);
	EXPECT_EQ(SeenNames, (QList<QByteArray>{"Content-Type"}));
	ASSERT_EQ(Server.RequestCount(), 1);
	const auto& Recorded = Server.Requests()[0];
	EXPECT_EQ(Recorded.Verb, "PUT");
	EXPECT_EQ(Recorded.Target, "/bucket/key%20one?partNumber=2&uploadId=a%2Fb");
	EXPECT_EQ(Recorded.Header("X-Amz-Date"), "20260102T030405Z");
	EXPECT_EQ(Recorded.Header("Authorization"), "AWS4-HMAC-SHA256 Credential=a/b, Signature=c");
	EXPECT_TRUE(Recorded.Body == Payload.mid(10, 50000));
	EXPECT_EQ(Request->GetHeader(QStringLiteral("X-Amz-Date")), QStringLiteral("20260102T030405Z"));
}

TEST_F(HttpStreamingTest, HeaderWithCrLfOrNulIsRefusedAndNothingIsSent)
{
	const QList<QPair<QString, QString>> Bad = {
	    {QStringLiteral("Authorization"), QStringLiteral("Bearer FAKETOKEN\r\nX-Injected: yes")},
	    {QStringLiteral("Authorization"), QStringLiteral("Bearer FAKE\nTOKEN")},
	    {QStringLiteral("Authorization"), QStringLiteral("Bearer FAKE") + QChar(0) + QStringLiteral("x")},
	    {QStringLiteral("X-Bad\r\nName"), QStringLiteral("v")},
	    {QStringLiteral("X-Ok"), QStringLiteral("trailing\r")},
	};
	for (const auto& Header : Bad)
	{
		FHttpRequestPtr Request = Http.CreateRequest();
		Request->SetURL(Server.Url(QStringLiteral("/me")));
		Request->SetHeader(Header.first, Header.second);
		const FOutcome Outcome = SendAndWait(Request, &Context);
		EXPECT_EQ(Outcome.Calls, 1);
		EXPECT_FALSE(Outcome.bSuccess);
		EXPECT_FALSE(Outcome.Response);
	}
	// Also when the hook is what adds it.
	FHttpRequestPtr Hooked = Http.CreateRequest();
	Hooked->SetURL(Server.Url(QStringLiteral("/me")));
	Hooked->SetPreSendHook(
	    [](const QString&, const QUrl&, FHttpHeaderList& Headers, qint64)
	    { Headers.append(qMakePair(QByteArray("X-Signed"), QByteArray("a\r\n\r\nGET /smuggled HTTP/1.1"))); });
	EXPECT_FALSE(SendAndWait(Hooked, &Context).bSuccess);
	FGameThread::RunUntilIdle(100);
	EXPECT_EQ(Server.ConnectionCount(), 0);
	EXPECT_EQ(Http.GetPendingCount(), 0);
}

TEST(LoopbackHttpServer, RecordsChunkedRequestBodiesDechunked)
{
	FLoopbackHttpServer Server;
	Server.Enqueue(200, "{}");
	QTcpSocket Socket;
	Socket.connectToHost(QHostAddress::LocalHost, Server.Port());
	ASSERT_TRUE(Socket.waitForConnected(3000));
	Socket.write("POST /c HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n");
	Socket.flush();
	FGameThread::RunUntilIdle(50);
	EXPECT_EQ(Server.RequestCount(), 0);
	Socket.write("7;ext=1\r\n, world\r\n0\r\nX-Trailer: t\r\n\r\n");
	ASSERT_TRUE(Server.WaitForRequests(1));
	EXPECT_EQ(Server.Requests()[0].Body, "hello, world");
	EXPECT_TRUE(
	    FGameThread::RunUntil([&] { return Socket.bytesAvailable() > 0 || Socket.waitForReadyRead(10); }, 3000));
	EXPECT_TRUE(Socket.readAll().startsWith("HTTP/1.1 200"));
}
