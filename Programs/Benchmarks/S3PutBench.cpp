// Times one object PUT through the editor's S3 client (US3PutObjectOrva over the host's HTTP
// module) and prints what the editor paid for it: wall time, throughput, peak RSS growth and the
// longest stall of the main thread's event loop while the upload ran (and when, in ms since the
// round's start), and its CPU time.
//
// Usage: S3PutBench --endpoint URL --bucket B --key K --file F --access-key ID --secret S
//                   [--token T] [--region R] [--threshold BYTES] [--part-size BYTES] [--in-flight N]
// Prints "key=value" lines; exits 0 when the put succeeded.

#include "AwsS3Client.h"
#include "GameThread.h"
#include "Http.h"
#include "S3PutObjectOrva.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

namespace
{

// VmRSS or VmHWM of this process, in KiB.
qint64 StatusKiB(const char* Field)
{
	QFile Status(QStringLiteral("/proc/self/status"));
	if (!Status.open(QIODevice::ReadOnly))
	{
		return -1;
	}
	const QByteArray Wanted = QByteArray(Field) + ':';
	for (const QByteArray& Line : Status.readAll().split('\n'))
	{
		if (Line.startsWith(Wanted))
		{
			return Line.mid(Wanted.size()).trimmed().split(' ').value(0).toLongLong();
		}
	}
	return -1;
}

} // namespace

// CPU time of the calling thread so far, in ns.
qint64 ThreadCpuNs()
{
	timespec Now{};
	clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Now);
	return qint64(Now.tv_sec) * 1'000'000'000 + Now.tv_nsec;
}

// Time the calling thread spent runnable but waiting for a core so far, in ns (the kernel's
// schedstat of the thread); -1 where the kernel does not keep it.
qint64 ThreadRunQueueNs()
{
	// Read afresh each time: a stdio stream would answer a rewind from its buffer.
	static const int Stat = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
	char Text[128] = {};
	long long Running = 0;
	long long Waiting = -1;
	if (Stat < 0 || pread(Stat, Text, sizeof(Text) - 1, 0) <= 0 ||
	    std::sscanf(Text, "%lld %lld", &Running, &Waiting) != 2)
	{
		return -1;
	}
	return Waiting;
}

// User and system time of every thread of this process so far.
double CpuSeconds()
{
	rusage Usage{};
	getrusage(RUSAGE_SELF, &Usage);
	return double(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) +
	       double(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
}

int main(int argc, char** argv)
{
	QCoreApplication App(argc, argv);
	QHash<QString, QString> Options;
	const QStringList Arguments = App.arguments();
	for (int I = 1; I + 1 < Arguments.size(); I += 2)
	{
		Options.insert(Arguments[I], Arguments[I + 1]);
	}
	for (const char* Required : {"--endpoint", "--bucket", "--key", "--file", "--access-key", "--secret"})
	{
		if (!Options.contains(QLatin1String(Required)))
		{
			std::fprintf(stderr, "missing %s\n", Required);
			return 2;
		}
	}
	FLog::SetStderrEnabled(false);

	FHttpModule Http;
	FS3ClientConfiguration Configuration;
	Configuration.Region = Options.value(QStringLiteral("--region"), QStringLiteral("us-east-1"));
	Configuration.Endpoint = Options.value(QStringLiteral("--endpoint"));
	Configuration.bUsePathStyle = true;
	Configuration.Http = &Http;
	// The transfer's settings, as [AwsS3] of OrvaSDK.ini would give them.
	if (Options.contains(QStringLiteral("--threshold")))
	{
		Configuration.MultipartThresholdBytes = Options.value(QStringLiteral("--threshold")).toLongLong();
	}
	if (Options.contains(QStringLiteral("--part-size")))
	{
		Configuration.MultipartPartSizeBytes = Options.value(QStringLiteral("--part-size")).toLongLong();
	}
	if (Options.contains(QStringLiteral("--in-flight")))
	{
		Configuration.MaxPartsInFlight = Options.value(QStringLiteral("--in-flight")).toInt();
	}
	const FAwsCredentials Credentials{Options.value(QStringLiteral("--access-key")),
	                                  Options.value(QStringLiteral("--secret")),
	                                  Options.value(QStringLiteral("--token"))};
	const FPutObjectRequest Request{Options.value(QStringLiteral("--bucket")), Options.value(QStringLiteral("--key")),
	                                Options.value(QStringLiteral("--file")), QString()};
	const qint64 Size = QFileInfo(Request.LocalFile).size();

	// The editor has talked to the network before it uploads: the HTTP layer's one-time start-up
	// (plugins, proxy look-up) is not part of what an upload costs.
	{
		bool bWarm = false;
		FHttpRequestPtr Warm = Http.CreateRequest();
		Warm->SetURL(Configuration.Endpoint);
		QObject Receiver;
		Warm->OnProcessRequestComplete(&Receiver, [&](FHttpRequestPtr, FHttpResponsePtr, bool) { bWarm = true; });
		Warm->ProcessRequest();
		while (!bWarm)
		{
			QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
		}
	}

	// The main thread's stall: the longest gap between ticks of a 5 ms timer, less the interval.
	// Times are from the round's start (the clock starts just before the client is made), and a
	// stall is placed where it began: the put's own set-up counts as much as its transfer.
	QElapsedTimer Clock;
	qint64 LastTick = -1;
	qint64 LongestGap = 0;
	qint64 LongestGapAt = 0;
	// The main thread's own CPU time over the longest gap: near the gap, the thread was busy with
	// work of its own; near zero, it waited (for a lock, a disk, or a core on a loaded machine).
	qint64 LastTickCpu = 0;
	qint64 LongestGapCpu = 0;
	qint64 LastTickQueued = 0;
	qint64 LongestGapQueued = 0;
	QTimer Ticker;
	Ticker.setTimerType(Qt::PreciseTimer);
	Ticker.setInterval(5);
	QObject::connect(&Ticker, &QTimer::timeout,
	                 [&]
	                 {
		                 const qint64 Now = Clock.nsecsElapsed();
		                 const qint64 NowCpu = ThreadCpuNs();
		                 const qint64 NowQueued = ThreadRunQueueNs();
		                 if (LastTick >= 0 && Now - LastTick > LongestGap)
		                 {
			                 LongestGap = Now - LastTick;
			                 LongestGapAt = LastTick;
			                 LongestGapCpu = NowCpu - LastTickCpu;
			                 LongestGapQueued = NowQueued < 0 ? -1 : NowQueued - LastTickQueued;
		                 }
		                 LastTickQueued = NowQueued;
		                 LastTick = Now;
		                 LastTickCpu = NowCpu;
	                 });

	bool bDone = false;
	bool bSuccess = false;
	QString Message;
	qint64 StartNs = 0;
	qint64 EndNs = 0;
	qint64 AllSentNs = -1;
	int LastPercent = -1;
	const qint64 RssBefore = StatusKiB("VmRSS");
	const double CpuBefore = CpuSeconds();
	Clock.start();
	const qint64 ClockStartEpochMs = QDateTime::currentMSecsSinceEpoch();
	Ticker.start();

	UAwsS3ClientObject* Client = UAwsS3ClientObject::CreateAwsS3ObjClient(Credentials, Configuration,
	                                                                      EAwsS3PayloadSigningPolicy::RequestDependent);
	QObject Context;
	Client->BindOnClientReady(&Context,
	                          [&](UAwsS3ClientObject* Ready)
	                          {
		                          US3PutObjectOrva* Put = US3PutObjectOrva::PutObject(nullptr, Ready, Request);
		                          QObject::connect(Put, &US3PutObjectOrva::Progress, &Context,
		                                           [&](const QString&, int Percent)
		                                           {
			                                           LastPercent = Percent;
			                                           if (Percent == 100 && AllSentNs < 0)
			                                           {
				                                           AllSentNs = Clock.nsecsElapsed();
			                                           }
		                                           });
		                          QObject::connect(
		                              Put, &US3PutObjectOrva::Completed, &Context,
		                              [&](bool bOk, const FPutObjectResult&, ES3Errors, const QString& Text)
		                              {
			                              EndNs = Clock.nsecsElapsed();
			                              bSuccess = bOk;
			                              Message = Text;
			                              bDone = true;
		                              });
		                          StartNs = Clock.nsecsElapsed();
		                          Put->Activate();
	                          });
	Client->Activate();
	while (!bDone)
	{
		QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
	}
	Ticker.stop();
	Client->DestroyS3Object();
	const qint64 RssPeak = StatusKiB("VmHWM");
	const double Cpu = CpuSeconds() - CpuBefore;

	const double Seconds = double(EndNs - StartNs) / 1e9;
	std::printf("success=%d\n", bSuccess ? 1 : 0);
	if (!bSuccess)
	{
		std::printf("error=%s\n", qPrintable(Message));
	}
	std::printf("bytes=%lld\n", static_cast<long long>(Size));
	std::printf("seconds=%.3f\n", Seconds);
	std::printf("mib_per_s=%.1f\n", Seconds > 0 ? double(Size) / (1024.0 * 1024.0) / Seconds : 0.0);
	std::printf("last_percent=%d\n", LastPercent);
	std::printf("rss_growth_mib=%.1f\n", double(RssPeak - RssBefore) / 1024.0);
	std::printf("longest_stall_ms=%.1f\n", double(qMax<qint64>(0, LongestGap - 5'000'000)) / 1e6);
	std::printf("longest_stall_at_ms=%.0f\n", double(LongestGapAt) / 1e6);
	std::printf("longest_stall_cpu_ms=%.1f\n", double(LongestGapCpu) / 1e6);
	// Of the longest stall, how long the main thread was ready to run but had no core.
	std::printf("longest_stall_queued_ms=%.1f\n", LongestGapQueued < 0 ? -1.0 : double(LongestGapQueued) / 1e6);
	std::printf("put_started_at_ms=%.0f\n", double(StartNs) / 1e6);
	// Where the times above start, for a caller that places them in a longer run of its own.
	std::printf("clock_start_epoch_ms=%lld\n", static_cast<long long>(ClockStartEpochMs));
	// Every byte acknowledged by the store; what follows is the store putting the object together.
	std::printf("all_sent_at_ms=%.0f\n", double(AllSentNs < 0 ? EndNs : AllSentNs) / 1e6);
	std::printf("completed_at_ms=%.0f\n", double(EndNs) / 1e6);
	std::printf("cpu_seconds=%.3f\n", Cpu);
	return bSuccess ? 0 : 1;
}
