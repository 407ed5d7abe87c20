// Times the pak build the way the plugin runs it, against `tar -cf` of the same files.
//
// Generates a project (once; it is kept for the next run) whose workspace level depends on package
// files of mixed sizes, with the rest of the bytes in the workspace's "ExtendFiles" folder, then:
// reads every file once so that both tools find them in the page cache; runs `tar -cf` over the
// workspace folder; calls BuildPak() for the client platform, timing how long the call takes to
// return and how long until the build's end event; then tar again. It prints both times (the best
// tar run), the throughput ratio and the build process's peak resident memory.
//
// Usage: PakBench [--dir FOLDER] [--mib N] [--files N]   (defaults: $TMPDIR/orva-pakbench, 1024, 2000)
// Targets on the reference machine: our throughput at least 80% of tar's, peak RSS under 64 MiB
// and not growing with the content, BuildPak returning in under 50 ms.

#include "EditorHost.h"
#include "ExportPatchSettings.h"
#include "GameThread.h"
#include "Log.h"
#include "OrvaSDKModule.h"
#include "OrvaSDKSubsystem.h"
#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <cmath>
#include <cstdio>
#include <random>
#include <sys/resource.h>
#include <unistd.h>

namespace
{
struct FOptions
{
	QString Dir;
	qint64 MiB = 1024;
	int Files = 2000;
};

void Print(const QString& Text)
{
	std::fprintf(stdout, "%s\n", qUtf8Printable(Text));
	std::fflush(stdout);
}

bool WriteFile(const QString& Path, const QByteArray& Bytes)
{
	QDir().mkpath(FPaths::GetPath(Path));
	QFile File(Path);
	return File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size();
}

// Incompressible bytes, quickly.
bool WriteRandomFile(const QString& Path, qint64 Size, std::mt19937_64& Random)
{
	QDir().mkpath(FPaths::GetPath(Path));
	QFile File(Path);
	if (!File.open(QIODevice::WriteOnly))
	{
		return false;
	}
	QByteArray Chunk(1 << 20, Qt::Uninitialized);
	while (Size > 0)
	{
		auto* Words = reinterpret_cast<quint64*>(Chunk.data());
		for (qsizetype Index = 0; Index < Chunk.size() / 8; ++Index)
		{
			Words[Index] = Random();
		}
		const qint64 Part = qMin<qint64>(Size, Chunk.size());
		if (File.write(Chunk.constData(), Part) != Part)
		{
			return false;
		}
		Size -= Part;
	}
	return true;
}

// A tenth of the files are packages (small JSON files with a payload), the rest are extend files of
// sizes spread over three orders of magnitude, scaled so the total comes to the size asked for.
bool Generate(const FOptions& Options, const QString& Project)
{
	const QString Marker = Project + QStringLiteral("/generated-%1-%2").arg(Options.MiB).arg(Options.Files);
	if (QFile::exists(Marker))
	{
		return true;
	}
	QDir(Project).removeRecursively();
	std::mt19937_64 Random(20261208);
	const int Packages = qMax(1, Options.Files / 10);
	const int Extern = qMax(1, Options.Files - Packages - 1);
	if (!WriteFile(Project + QStringLiteral("/Bench.uproject"), "{\"FileVersion\":3}\n"))
	{
		return false;
	}
	QStringList Dependencies;
	qint64 PackageBytes = 0;
	for (int Index = 0; Index < Packages; ++Index)
	{
		const QString Name = QStringLiteral("P%1").arg(Index, 5, 10, QLatin1Char('0'));
		Dependencies.append(QStringLiteral("\"/Game/W1/Props/") + Name + QLatin1Char('"'));
		QByteArray Payload(int(1024 + Random() % (48 * 1024)), Qt::Uninitialized);
		for (char& Byte : Payload)
		{
			Byte = char(Random());
		}
		const QByteArray Json = "{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"" + Name.toUtf8() +
		                        "\",\"Class\":\"/Script/Engine.StaticMesh\"}],\"Payload\":\"" + Payload.toBase64() +
		                        "\"}\n";
		PackageBytes += Json.size();
		if (!WriteFile(Project + QStringLiteral("/Content/W1/Props/") + Name + QStringLiteral(".uasset"), Json))
		{
			return false;
		}
	}
	const QByteArray Level = "{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"Entry\",\"Class\":\"/Script/Engine.World\"}],"
	                         "\"HardDependencies\":[" +
	                         Dependencies.join(QLatin1Char(',')).toUtf8() + "]}\n";
	if (!WriteFile(Project + QStringLiteral("/Content/W1/Maps/Entry.umap"), Level))
	{
		return false;
	}
	WriteFile(Project + QStringLiteral("/Content/W1/Config/DefaultGame.ini"), "[/Script/Engine]\n");

	// Log-uniform weights from 1 to 1000, scaled to the bytes left.
	std::uniform_real_distribution<double> Exponent(0.0, 3.0);
	QList<double> Weights;
	double WeightSum = 0;
	for (int Index = 0; Index < Extern; ++Index)
	{
		Weights.append(std::pow(10.0, Exponent(Random)));
		WeightSum += Weights.last();
	}
	const qint64 Left = qMax<qint64>(0, Options.MiB * 1024 * 1024 - PackageBytes);
	for (int Index = 0; Index < Extern; ++Index)
	{
		const qint64 Size = qint64(double(Left) * Weights[Index] / WeightSum);
		const QString Path = Project + QStringLiteral("/Content/W1/ExtendFiles/Media/%1/F%2.bin")
		                                   .arg(Index % 16)
		                                   .arg(Index, 5, 10, QLatin1Char('0'));
		if (!WriteRandomFile(Path, Size, Random))
		{
			return false;
		}
	}
	::sync();
	return WriteFile(Marker, QByteArray());
}

qint64 WarmAndCount(const QString& Folder, int& OutFiles)
{
	qint64 Bytes = 0;
	OutFiles = 0;
	QByteArray Chunk(1 << 20, Qt::Uninitialized);
	QDirIterator It(Folder, QDir::Files, QDirIterator::Subdirectories);
	while (It.hasNext())
	{
		QFile File(It.next());
		if (File.open(QIODevice::ReadOnly))
		{
			while (File.read(Chunk.data(), Chunk.size()) > 0)
			{
			}
			Bytes += File.size();
			++OutFiles;
		}
	}
	return Bytes;
}

// CPU seconds (user and system) of the child processes reaped so far. On a shared machine the
// wall clock says as much about the neighbours as about the tools, so both are printed.
double ChildCpuSeconds()
{
	rusage Usage{};
	getrusage(RUSAGE_CHILDREN, &Usage);
	return double(Usage.ru_utime.tv_sec + Usage.ru_stime.tv_sec) +
	       double(Usage.ru_utime.tv_usec + Usage.ru_stime.tv_usec) / 1e6;
}

struct FRunTiming
{
	bool bOk = false;
	double Seconds = 0;
	double CpuSeconds = 0;
};

FRunTiming TimeTar(const QString& Content, const QString& Output)
{
	QFile::remove(Output);
	FRunTiming Timing;
	const double Cpu = ChildCpuSeconds();
	QElapsedTimer Timer;
	Timer.start();
	const int Code = QProcess::execute(
	    QStringLiteral("tar"), {QStringLiteral("-cf"), Output, QStringLiteral("-C"), Content, QStringLiteral("W1")});
	Timing.Seconds = double(Timer.nsecsElapsed()) / 1e9;
	Timing.CpuSeconds = ChildCpuSeconds() - Cpu;
	Timing.bOk = Code == 0;
	QFile::remove(Output);
	return Timing;
}

struct FBuildTiming : FRunTiming
{
	double CallMs = 0;
	qint64 PakBytes = 0;
};

FBuildTiming TimeBuild(const QString& Project)
{
	FEditorHostOptions Options;
	Options.ProjectFile = Project + QStringLiteral("/Bench.uproject");
	Options.UserSettingsDir = Project + QStringLiteral("/UserSettings");
	Options.bLogToFile = false;
	Options.ShutdownFlushMs = 0;
	FEditorHost Host(Options);
	RegisterOrvaSDKSubsystems(Host);
	Host.Start();
	UOrvaSDKSubsystem* Sdk = Host.GetEditorSubsystem<UOrvaSDKSubsystem>();
	FBuildTiming Timing;
	if (!Sdk)
	{
		return Timing;
	}
	Sdk->KeyFolderName = QStringLiteral("W1");
	Sdk->CurrWorkspace.WorldIdentifier = QStringLiteral("W1");
	Sdk->CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Entry.Entry"));
	// The client pak carries the extend folder: every generated byte.
	Sdk->TargetPlatforms = {QStringLiteral("WindowsClient")};
	bool bEnded = false;
	QObject::connect(Sdk, &UOrvaSDKSubsystem::OnOrvaSDKPaking, Sdk,
	                 [&](bool bSuccess)
	                 {
		                 bEnded = true;
		                 Timing.bOk = bSuccess;
	                 });
	const double Cpu = ChildCpuSeconds();
	QElapsedTimer Timer;
	Timer.start();
	Sdk->BuildPak();
	Timing.CallMs = double(Timer.nsecsElapsed()) / 1e6;
	FGameThread::RunUntil([&] { return bEnded; }, 3600 * 1000);
	Timing.Seconds = double(Timer.nsecsElapsed()) / 1e9;
	Timing.CpuSeconds = ChildCpuSeconds() - Cpu;
	Timing.PakBytes =
	    QFileInfo(Project + QStringLiteral("/Saved/HotPatcher/W1/Entry/WindowsClient/Entry_WindowsClient.pak")).size();
	// No service answers here: the registration the build starts is dropped at shutdown.
	Host.Shutdown();
	return Timing;
}
} // namespace

int main(int argc, char** argv)
{
	QCoreApplication App(argc, argv);
	FOptions Options;
	Options.Dir = QDir::tempPath() + QStringLiteral("/orva-pakbench");
	const QStringList Arguments = App.arguments();
	for (int Index = 1; Index + 1 < Arguments.size(); Index += 2)
	{
		if (Arguments[Index] == QLatin1String("--dir"))
		{
			Options.Dir = Arguments[Index + 1];
		}
		else if (Arguments[Index] == QLatin1String("--mib"))
		{
			Options.MiB = Arguments[Index + 1].toLongLong();
		}
		else if (Arguments[Index] == QLatin1String("--files"))
		{
			Options.Files = Arguments[Index + 1].toInt();
		}
	}
	FLog::SetStderrEnabled(false);
	const QString Project = Options.Dir + QStringLiteral("/Bench");
	Print(QStringLiteral("Generating %1 MiB over %2 files in %3 (kept for the next run)")
	          .arg(Options.MiB)
	          .arg(Options.Files)
	          .arg(Project));
	if (!Generate(Options, Project))
	{
		Print(QStringLiteral("Cannot generate the project"));
		return 1;
	}
	int Files = 0;
	const qint64 Bytes = WarmAndCount(Project + QStringLiteral("/Content/W1"), Files);
	const double MiB = double(Bytes) / (1024.0 * 1024.0);
	Print(QStringLiteral("Content: %1 files, %2 MiB (read once into the page cache)").arg(Files).arg(MiB, 0, 'f', 1));

	// Interleaved, best of each: the machine's load changes from one second to the next.
	const QString TarOutput = Options.Dir + QStringLiteral("/bench.tar");
	constexpr int Rounds = 3;
	FRunTiming Tar;
	FBuildTiming Build;
	for (int Round = 0; Round < Rounds; ++Round)
	{
		const FRunTiming TarRun = TimeTar(Project + QStringLiteral("/Content"), TarOutput);
		const FBuildTiming BuildRun = TimeBuild(Project);
		QDir(Project + QStringLiteral("/Saved")).removeRecursively();
		if (!TarRun.bOk || !BuildRun.bOk)
		{
			Print(QStringLiteral("A run failed: build %1, tar %2").arg(BuildRun.bOk).arg(TarRun.bOk));
			return 1;
		}
		Print(QStringLiteral(
		          "round %1: pak build %2 s wall, %3 s CPU; tar %4 s wall, %5 s CPU; BuildPak returned in %6 ms")
		          .arg(Round + 1)
		          .arg(BuildRun.Seconds, 0, 'f', 2)
		          .arg(BuildRun.CpuSeconds, 0, 'f', 2)
		          .arg(TarRun.Seconds, 0, 'f', 2)
		          .arg(TarRun.CpuSeconds, 0, 'f', 2)
		          .arg(BuildRun.CallMs, 0, 'f', 2));
		if (Round == 0 || TarRun.Seconds < Tar.Seconds)
		{
			Tar.Seconds = TarRun.Seconds;
		}
		if (Round == 0 || TarRun.CpuSeconds < Tar.CpuSeconds)
		{
			Tar.CpuSeconds = TarRun.CpuSeconds;
		}
		if (Round == 0 || BuildRun.Seconds < Build.Seconds)
		{
			Build.Seconds = BuildRun.Seconds;
			Build.PakBytes = BuildRun.PakBytes;
		}
		if (Round == 0 || BuildRun.CpuSeconds < Build.CpuSeconds)
		{
			Build.CpuSeconds = BuildRun.CpuSeconds;
		}
		Build.CallMs = Round == 0 ? BuildRun.CallMs : qMax(Build.CallMs, BuildRun.CallMs);
	}
	rusage Usage{};
	getrusage(RUSAGE_CHILDREN, &Usage);
	// The largest child is the build process: tar's own is a few MiB.
	const double PeakRssMiB = double(Usage.ru_maxrss) / 1024.0;
	Print(QStringLiteral("BuildPak returned in at most %1 ms").arg(Build.CallMs, 0, 'f', 2));
	Print(QStringLiteral("pak build: %1 s wall (%2 MiB/s), %3 s CPU; pak %4 MiB")
	          .arg(Build.Seconds, 0, 'f', 2)
	          .arg(MiB / Build.Seconds, 0, 'f', 0)
	          .arg(Build.CpuSeconds, 0, 'f', 2)
	          .arg(double(Build.PakBytes) / (1024.0 * 1024.0), 0, 'f', 1));
	Print(QStringLiteral("tar -cf:   %1 s wall (%2 MiB/s), %3 s CPU")
	          .arg(Tar.Seconds, 0, 'f', 2)
	          .arg(MiB / Tar.Seconds, 0, 'f', 0)
	          .arg(Tar.CpuSeconds, 0, 'f', 2));
	Print(QStringLiteral("throughput ratio (ours / tar): %1 by wall clock, %2 by CPU time (best of %3 each)")
	          .arg(Tar.Seconds / Build.Seconds, 0, 'f', 2)
	          .arg(Tar.CpuSeconds / qMax(Build.CpuSeconds, 1e-6), 0, 'f', 2)
	          .arg(Rounds));
	Print(QStringLiteral("build process peak RSS: %1 MiB").arg(PeakRssMiB, 0, 'f', 1));
	return 0;
}
