// Times the screenshot transfers against a local OrvaDevService:
//  1. a large file through UOrvaAsyncImageUploader, and the same multipart body through curl, with
//     the host's peak resident memory growth during our upload;
//  2. a 4096 x 4096 PNG downloaded, decoded and made a texture, with the longest main-thread stall.
//  Each upload round runs both, alternating which goes first, and prints the pair and its ratio;
//  then the min / median / max of the ratios over the rounds (at least 5).
// Usage: ImageBench [--service PATH] [--upload-mib N] [--runs N]   (defaults: the OrvaDevService
// built beside this program, 256 MiB, 5 rounds)
// Targets: upload median ratio ours / curl <= 1.1, peak RSS growth < 16 MiB, longest main-thread
// stall < 50 ms.

#include "EditorHost.h"
#include "GameThread.h"
#include "Http.h"
#include "Json.h"
#include "OrvaAsyncImageDownloader.h"
#include "OrvaAsyncImageUploader.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSubsystem.h"
#include "Paths.h"
#include "RenderThread.h"
#include "Texture.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <memory>

namespace
{
// The machine is shared: every figure goes out with the load it was measured under.
QString LoadAverage()
{
	QFile Load(QStringLiteral("/proc/loadavg"));
	return Load.open(QIODevice::ReadOnly) ? QString::fromLatin1(Load.readAll()).trimmed() : QStringLiteral("unknown");
}

// A value of /proc/self/status in KiB (VmRSS, VmHWM).
qint64 StatusKiB(const char* Key)
{
	QFile Status(QStringLiteral("/proc/self/status"));
	if (!Status.open(QIODevice::ReadOnly))
	{
		return -1;
	}
	const QByteArray Prefix = QByteArray(Key) + ':';
	for (const QByteArray& Line : Status.readAll().split('\n'))
	{
		if (Line.startsWith(Prefix))
		{
			return Line.mid(Prefix.size()).trimmed().split(' ').value(0).toLongLong();
		}
	}
	return -1;
}

qint64 ThreadCpuNs()
{
	timespec Now{};
	clock_gettime(CLOCK_THREAD_CPUTIME_ID, &Now);
	return qint64(Now.tv_sec) * 1000000000 + Now.tv_nsec;
}

// Sets the peak resident size back to the current one, so VmHWM afterwards is the peak since now.
bool ResetPeakRss()
{
	QFile ClearRefs(QStringLiteral("/proc/self/clear_refs"));
	return ClearRefs.open(QIODevice::WriteOnly) && ClearRefs.write("5") == 1;
}

bool WriteLargeFile(const QString& Path, qint64 Bytes)
{
	QFile File(Path);
	if (!File.open(QIODevice::WriteOnly))
	{
		return false;
	}
	// A PNG signature in front, so the service takes it for an image; the rest does not compress.
	File.write("\x89PNG\r\n\x1a\n", 8);
	QByteArray Chunk(4 * 1024 * 1024, Qt::Uninitialized);
	QRandomGenerator Random(42);
	for (qint64 Left = Bytes - 8; Left > 0; Left -= Chunk.size())
	{
		Random.fillRange(reinterpret_cast<quint32*>(Chunk.data()), Chunk.size() / 4);
		if (File.write(Chunk.constData(), qMin<qint64>(Left, Chunk.size())) < 0)
		{
			return false;
		}
	}
	return File.flush();
}

struct FService
{
	QProcess Process;
	QString BaseUrl;

	bool Start(const QString& Program, const QString& DataDir)
	{
		Process.setProgram(Program);
		Process.setArguments({QStringLiteral("--data"), DataDir, QStringLiteral("--host"), QStringLiteral("127.0.0.1"),
		                      QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--creator"),
		                      QStringLiteral("bench@orva.dev:bench-pass:Bench"), QStringLiteral("--max-body-bytes"),
		                      QStringLiteral("4294967296")});
		Process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
		Process.start();
		if (!Process.waitForStarted(10000))
		{
			return false;
		}
		const QRegularExpression Listening(QStringLiteral("listening on (http://\\S+/api/v1/)"));
		QByteArray Out;
		QElapsedTimer Clock;
		Clock.start();
		while (Clock.elapsed() < 15000)
		{
			Process.waitForReadyRead(100);
			Out += Process.readAllStandardOutput();
			const QRegularExpressionMatch Match = Listening.match(QString::fromUtf8(Out));
			if (Match.hasMatch())
			{
				BaseUrl = Match.captured(1);
				return true;
			}
		}
		return false;
	}

	~FService()
	{
		if (Process.state() != QProcess::NotRunning)
		{
			Process.terminate();
			if (!Process.waitForFinished(5000))
			{
				Process.kill();
				Process.waitForFinished(2000);
			}
		}
	}
};

// One request through the host's HTTP module, waited for on the main thread.
FHttpResponsePtr Send(FEditorHost& Host, const QString& Verb, const QString& Url, const QByteArray& Body,
                      const QString& Token = QString())
{
	const FHttpRequestPtr Request = Host.Http().CreateRequest();
	Request->SetVerb(Verb);
	Request->SetURL(Url);
	Request->SetHeader(QStringLiteral("Content-Type"), QStringLiteral("application/json; charset=utf-8"));
	Request->SetHeader(QStringLiteral("accept"), QStringLiteral("application/json"));
	if (!Token.isEmpty())
	{
		Request->SetHeader(QStringLiteral("Authorization"), Token);
	}
	Request->SetContent(Body);
	FHttpResponsePtr Answer;
	bool bDone = false;
	QObject Context;
	Request->OnProcessRequestComplete(&Context,
	                                  [&](FHttpRequestPtr, FHttpResponsePtr Response, bool)
	                                  {
		                                  Answer = Response;
		                                  bDone = true;
	                                  });
	Request->ProcessRequest();
	FGameThread::RunUntil([&] { return bDone; }, 30000);
	return Answer;
}

int Fail(const char* What)
{
	std::fprintf(stderr, "ImageBench: %s\n", What);
	return 1;
}
} // namespace

int main(int Argc, char** Argv)
{
	QCoreApplication App(Argc, Argv);
	QString ServicePath = QCoreApplication::applicationDirPath() + QStringLiteral("/../OrvaDevService/OrvaDevService");
	qint64 UploadMiB = 256;
	int Runs = 5;
	const QStringList Args = App.arguments();
	for (qsizetype Index = 1; Index + 1 < Args.size(); ++Index)
	{
		if (Args[Index] == QLatin1String("--service"))
		{
			ServicePath = Args[++Index];
		}
		else if (Args[Index] == QLatin1String("--upload-mib"))
		{
			UploadMiB = qMax<qint64>(1, Args[++Index].toLongLong());
		}
		else if (Args[Index] == QLatin1String("--runs"))
		{
			Runs = qMax(5, Args[++Index].toInt());
		}
	}

	QTemporaryDir Temp;
	if (!Temp.isValid())
	{
		return Fail("no temporary folder");
	}
	FService Service;
	if (!Service.Start(ServicePath, Temp.filePath(QStringLiteral("service"))))
	{
		return Fail("OrvaDevService did not start");
	}

	// A project and settings of the run's own, with the plugin's subsystems, pointed at the service.
	QDir(Temp.path()).mkpath(QStringLiteral("Project/Content"));
	QDir(Temp.path()).mkpath(QStringLiteral("Settings/BrackenfoldStudios/ORVA"));
	{
		QFile Project(Temp.filePath(QStringLiteral("Project/Project.uproject")));
		Project.open(QIODevice::WriteOnly);
		Project.write("{\"FileVersion\":3}\n");
		QFile Settings(Temp.filePath(QStringLiteral("Settings/BrackenfoldStudios/ORVA/OrvaSDK.ini")));
		Settings.open(QIODevice::WriteOnly);
		Settings.write("[Development]\nServiceBaseUrl=" + Service.BaseUrl.toUtf8() + "\n");
	}
	FEditorHostOptions Options;
	Options.ProjectFile = Temp.filePath(QStringLiteral("Project/Project.uproject"));
	Options.UserSettingsDir = Temp.filePath(QStringLiteral("Settings/"));
	Options.bLogToFile = false;
	FEditorHost Host(Options);
	Host.RegisterSubsystem<UOrvaSDKSubsystem>();
	Host.RegisterSubsystem<UOrvaDataCacheSubsystem>();
	Host.Start();
	Host.Http().SetDefaultTimeout(600);
	auto* Sdk = Host.GetEditorSubsystem<UOrvaSDKSubsystem>();
	auto* Cache = Host.GetEditorSubsystem<UOrvaDataCacheSubsystem>();

	const FHttpResponsePtr Login =
	    Send(Host, QStringLiteral("POST"), Service.BaseUrl + QStringLiteral("auth/token?role=creator"),
	         R"({"email":"bench@orva.dev","grant_type":"password","guest_token":"string","password":"bench-pass"})");
	const std::optional<QJsonObject> Token = Login ? FJson::ParseObject(Login->GetContent()) : std::nullopt;
	if (!Token)
	{
		return Fail("login failed");
	}
	Sdk->AccessToken = QStringLiteral("Bearer ") + FJson::GetString(*Token, QStringLiteral("access_token"));
	const FHttpResponsePtr World = Send(Host, QStringLiteral("POST"), Service.BaseUrl + QStringLiteral("me/worlds"),
	                                    R"({"description":"","name":"Bench","public":false})", Sdk->AccessToken);
	const std::optional<QJsonObject> WorldObject = World ? FJson::ParseObject(World->GetContent()) : std::nullopt;
	if (!WorldObject)
	{
		return Fail("world creation failed");
	}
	Sdk->CurrWorkspace.WorldId = FJson::GetString(*WorldObject, QStringLiteral("id"));

	// 1. The large upload, ours and curl's in pairs, alternating which goes first, so that both meet
	// the same machine; the ratio within each pair is what says something about the code.
	const QString Large = Temp.filePath(QStringLiteral("large.png"));
	const qint64 LargeBytes = UploadMiB * 1024 * 1024;
	if (!WriteLargeFile(Large, LargeBytes))
	{
		return Fail("cannot write the upload file");
	}
	// curl sends the same bytes: the body is written out once, then streamed from disk.
	const QString Boundary = UOrvaAsyncImageUploader::MakeBoundary(UOrvaAsyncImageUploader::NowTicks());
	const QString BodyPath = Temp.filePath(QStringLiteral("body.bin"));
	{
		QFile Body(BodyPath);
		QFile Source(Large);
		if (!Body.open(QIODevice::WriteOnly) || !Source.open(QIODevice::ReadOnly))
		{
			return Fail("cannot write the curl body");
		}
		Body.write(UOrvaAsyncImageUploader::MultipartPrefix(Boundary, QStringLiteral("large.png")));
		while (!Source.atEnd())
		{
			Body.write(Source.read(8 * 1024 * 1024));
		}
		Body.write(UOrvaAsyncImageUploader::MultipartSuffix(Boundary));
	}

	QList<double> Ratios;
	const qint64 RssBefore = StatusKiB("VmRSS");
	qint64 RssPeak = RssBefore;
	std::printf("load before: %s\n", qUtf8Printable(LoadAverage()));
	std::printf("upload %lld MiB to OrvaDevService, %d rounds\n", UploadMiB, Runs);
	std::fflush(stdout);
	// Milliseconds, or a negative value when the upload failed.
	auto RunOurs = [&]() -> double
	{
		const bool bPeakReset = ResetPeakRss();
		QTimer Sampler;
		QObject::connect(&Sampler, &QTimer::timeout, [&RssPeak] { RssPeak = qMax(RssPeak, StatusKiB("VmRSS")); });
		Sampler.start(5);
		QElapsedTimer Clock;
		Clock.start();
		UOrvaAsyncImageUploader* Uploader = UOrvaAsyncImageUploader::UploadImage(Host, Large);
		FOrvaImageData Stored;
		bool bUploadEnded = false;
		QObject::connect(Uploader, &UOrvaAsyncImageUploader::OnUploadSucceeded, Uploader,
		                 [&](FOrvaImageData Image)
		                 {
			                 Stored = Image;
			                 bUploadEnded = true;
		                 });
		QObject::connect(Uploader, &UOrvaAsyncImageUploader::OnUploadFailed, Uploader,
		                 [&](FOrvaImageData) { bUploadEnded = true; });
		FGameThread::RunUntil([&] { return bUploadEnded; }, 600000);
		const double Ms = double(Clock.nsecsElapsed()) / 1e6;
		Sampler.stop();
		if (bPeakReset)
		{
			RssPeak = qMax(RssPeak, StatusKiB("VmHWM"));
		}
		return Stored.Id.isEmpty() || Stored.Size != LargeBytes ? -1.0 : Ms;
	};
	auto RunCurl = [&]() -> double
	{
		QProcess Curl;
		Curl.setProgram(QStringLiteral("curl"));
		Curl.setArguments({QStringLiteral("-sS"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
		                   QStringLiteral("-w"), QStringLiteral("%{http_code}"), QStringLiteral("-X"),
		                   QStringLiteral("POST"), QStringLiteral("-T"), BodyPath, QStringLiteral("-H"),
		                   QStringLiteral("Expect:"), QStringLiteral("-H"), QStringLiteral("accept: application/json"),
		                   QStringLiteral("-H"), QStringLiteral("Authorization: ") + Sdk->AccessToken,
		                   QStringLiteral("-H"),
		                   QStringLiteral("Content-Type: multipart/form-data; boundary =") + Boundary,
		                   Service.BaseUrl + QStringLiteral("worlds/") + Sdk->CurrWorkspace.WorldId +
		                       QStringLiteral("/screenshots")});
		QElapsedTimer Clock;
		Clock.start();
		Curl.start();
		Curl.waitForFinished(600000);
		const double Ms = double(Clock.nsecsElapsed()) / 1e6;
		const QByteArray CurlStatus = Curl.readAllStandardOutput().trimmed();
		return CurlStatus != "200" && CurlStatus != "201" ? -1.0 : Ms;
	};
	for (int Run = 0; Run < Runs; ++Run)
	{
		const bool bCurlFirst = Run % 2 == 1;
		const double CurlFirstMs = bCurlFirst ? RunCurl() : 0.0;
		const double OursMs = RunOurs();
		const double CurlMs = bCurlFirst ? CurlFirstMs : RunCurl();
		if (OursMs < 0)
		{
			return Fail("our upload was not stored whole");
		}
		if (CurlMs < 0)
		{
			return Fail("curl's upload was refused");
		}
		Ratios.append(OursMs / CurlMs);
		std::printf("  round %d (%s first): UOrvaAsyncImageUploader %9.1f ms, curl (same body) %9.1f ms, ratio %.3f\n",
		            Run + 1, bCurlFirst ? "curl" : "ours", OursMs, CurlMs, Ratios.last());
		std::fflush(stdout);
	}
	QFile::remove(BodyPath);
	QFile::remove(Large);
	std::sort(Ratios.begin(), Ratios.end());
	const double MedianRatio =
	    Ratios.size() % 2 ? Ratios[Ratios.size() / 2] : (Ratios[Ratios.size() / 2 - 1] + Ratios[Ratios.size() / 2]) / 2;
	const double RssGrowthMiB = double(RssPeak - RssBefore) / 1024.0;
	std::printf("  ratio ours / curl: min %.3f, median %.3f, max %.3f: %s (median <= 1.1)\n", Ratios.first(),
	            MedianRatio, Ratios.last(), MedianRatio <= 1.1 ? "target met" : "TARGET MISSED");
	std::printf("  peak RSS growth:   %.1f MiB (before %.1f MiB): %s (< 16 MiB)\n", RssGrowthMiB,
	            double(RssBefore) / 1024.0, RssGrowthMiB < 16 ? "target met" : "TARGET MISSED");
	std::fflush(stdout);
	bool bMet = MedianRatio <= 1.1 && RssGrowthMiB < 16;

	// 2. A 4096 x 4096 PNG through the image cache, while a timer watches the main thread.
	QImage Picture(4096, 4096, QImage::Format_RGB32);
	QRandomGenerator Noise(7);
	for (int Y = 0; Y < Picture.height(); ++Y)
	{
		auto* Line = reinterpret_cast<QRgb*>(Picture.scanLine(Y));
		for (int X = 0; X < Picture.width(); ++X)
		{
			Line[X] = qRgb(X / 16, Y / 16, int(Noise.bounded(64)) + ((X ^ Y) & 0x7F));
		}
	}
	const QString PngPath = Temp.filePath(QStringLiteral("big.png"));
	{
		QImageWriter Writer(PngPath, "png");
		Writer.setCompression(1);
		if (!Writer.write(Picture))
		{
			return Fail("cannot write the PNG");
		}
	}
	Cache->AddNewLocalImage(PngPath);
	bool bListed = false;
	QObject::connect(Cache, &UOrvaDataCacheSubsystem::OnImageUploadEnded,
	                 [&](const FOrvaImageData&) { bListed = true; });
	FGameThread::RunUntil([&] { return bListed; }, 120000);
	QObject::connect(Sdk, &UOrvaSDKSubsystem::OnScreenshotsUpdated, [&] { bListed = false; });
	Sdk->GetScreenshots();
	FGameThread::RunUntil([&] { return !bListed; }, 30000);
	QString PngUrl;
	for (const FOrvaImageDataPtr& Image : Cache->GetCurrImageList())
	{
		if (Image && Image->Url.endsWith(QStringLiteral(".png")) && Image->Url.startsWith(QStringLiteral("http")))
		{
			PngUrl = Image->Url;
		}
	}
	if (PngUrl.isEmpty())
	{
		return Fail("the PNG was not listed");
	}
	// A stall is a gap between two ticks of a 1 ms timer. On a shared machine a gap can also be
	// time the thread waited for a core, so the main thread's own CPU time in each gap is kept too:
	// that is the part the code is to blame for.
	qint64 LongestStallNs = 0;
	qint64 LongestStallEndNs = 0; // since the download started
	qint64 LongestBusyNs = 0;
	qint64 LastCpuNs = 0;
	QElapsedTimer Clock;
	QElapsedTimer Tick;
	QTimer Watch;
	Watch.setTimerType(Qt::PreciseTimer);
	QObject::connect(&Watch, &QTimer::timeout,
	                 [&]
	                 {
		                 const qint64 Cpu = ThreadCpuNs();
		                 if (Tick.nsecsElapsed() > LongestStallNs)
		                 {
			                 LongestStallNs = Tick.nsecsElapsed();
			                 LongestStallEndNs = Clock.nsecsElapsed();
		                 }
		                 LongestBusyNs = qMax(LongestBusyNs, Cpu - LastCpuNs);
		                 LastCpuNs = Cpu;
		                 Tick.restart();
	                 });
	UTexture2DDynamic* Texture = nullptr;
	bool bDownloaded = false;
	Clock.start();
	Tick.start();
	LastCpuNs = ThreadCpuNs();
	Watch.start(1);
	UOrvaAsyncImageDownloader* Downloader = UOrvaAsyncImageDownloader::DownloadImage(Host, PngUrl);
	QObject::connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadSucceeded,
	                 [&](UTexture2DDynamic* InTexture)
	                 {
		                 InTexture->setParent(&App);
		                 Texture = InTexture;
		                 bDownloaded = true;
	                 });
	QObject::connect(Downloader, &UOrvaAsyncImageDownloader::OnDownloadFailed, [&] { bDownloaded = true; });
	FGameThread::RunUntil([&] { return bDownloaded; }, 120000);
	const double DecodeMs = double(Clock.nsecsElapsed()) / 1e6;
	FGameThread::RunUntil([&] { return Texture && Texture->HasPixels(); }, 30000);
	const double PixelsMs = double(Clock.nsecsElapsed()) / 1e6;
	Watch.stop();
	if (!Texture || Texture->GetSizeX() != 4096 || Texture->GetSizeY() != 4096)
	{
		return Fail("the PNG did not become a 4096 x 4096 texture");
	}
	std::printf("download and decode a 4096 x 4096 PNG (%.1f MiB)\n", double(QFileInfo(PngPath).size()) / 1048576.0);
	std::printf("  texture reported after:  %9.1f ms\n", DecodeMs);
	std::printf("  pixels written after:    %9.1f ms\n", PixelsMs);
	const bool bStallOk = LongestStallNs < 50 * 1000 * 1000;
	std::printf("  longest main-thread stall: %7.1f ms wall, ending at %.1f ms after the download started, of it at "
	            "most %.1f ms busy on the main thread: %s (< 50 ms)\n",
	            double(LongestStallNs) / 1e6, double(LongestStallEndNs) / 1e6, double(LongestBusyNs) / 1e6,
	            bStallOk ? "target met" : "TARGET MISSED");
	std::printf("load after: %s\n", qUtf8Printable(LoadAverage()));
	Host.Shutdown();
	return bMet && bStallOk ? 0 : 1;
}
