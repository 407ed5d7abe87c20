// Times the pak build the way the plugin runs it (entries compressed in zlib blocks) against
// `tar -czf` of the same files, and prints the demo world's pak with and without compression.
//
// Generates a project (once; it is kept for the next run) whose workspace level depends on package
// files of mixed sizes, with the rest of the bytes in the workspace's "ExtendFiles" folder. Every
// file is package-like: name tables, property names, quantised vertex data and offsets among some
// noise, so it compresses about as real package files do. It reads every file once so that both
// tools find them in the page cache, then runs the two side by side for at least five rounds,
// alternating which goes first, and prints each round's pair and the min/median/max of the ratios.
//
// Usage: PakBench [--dir FOLDER] [--mib N] [--files N] [--rounds N]
//        (defaults: $TMPDIR/orva-pakbench, 1024, 2000, 5)
// Targets: our throughput at least 1.5 times tar's, the pak within 5% of the archive's size.

#include "EditorHost.h"
#include "ExportPatchSettings.h"
#include "FlibHotPatcherCoreHelper.h"
#include "GameThread.h"
#include "InstallPaths.h"
#include "Log.h"
#include "OrvaSDKModule.h"
#include "OrvaSDKSubsystem.h"
#include "PakFile.h"
#include "Paths.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>

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
	int Rounds = 5;
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
// Package-like bytes: a name table, then records that refer to it, name properties, hold quantised
// vertex data or small offsets, and some noise (hashes, compressed texture bits).
QByteArray PackageLikeBytes(qint64 Size, std::mt19937_64& Random)
{
	static const char* const Properties[] = {"RelativeLocation", "RelativeRotation", "StaticMesh",  "OverrideMaterials",
	                                         "bHidden",          "CollisionProfile", "LightmapRes", "AttachParent"};
	QByteArray Bytes;
	Bytes.reserve(Size + 512);
	QList<QByteArray> Names;
	for (int Index = 0; Index < 24; ++Index)
	{
		Names.append("/Game/W1/Props/Mesh_" + QByteArray::number(quint32(Random() % 100000)));
		Bytes.append(Names.last());
		Bytes.append('\0');
	}
	auto Word = [&Bytes](quint32 Value) { Bytes.append(reinterpret_cast<const char*>(&Value), 4); };
	while (Bytes.size() < Size)
	{
		const quint64 Pick = Random();
		switch (Pick % 6)
		{
		case 0:
			Word(quint32((Pick >> 8) % Names.size()));
			Word(quint32((Pick >> 16) % 8));
			break;
		case 1:
			Bytes.append(Properties[(Pick >> 8) % 8]);
			Bytes.append('\0');
			Word(quint32((Pick >> 16) % 256));
			break;
		case 2:
			for (int Vertex = 0; Vertex < 24; ++Vertex)
			{
				const float Value = float(int(Random() % 2048) - 1024) / 16.0f;
				Bytes.append(reinterpret_cast<const char*>(&Value), 4);
			}
			break;
		case 3:
			Word(quint32(Bytes.size()));
			Word(0);
			break;
		default:
			for (int Index = 0; Index < 2; ++Index)
			{
				const quint64 Noise = Random();
				Bytes.append(reinterpret_cast<const char*>(&Noise), 8);
			}
			break;
		}
	}
	Bytes.truncate(Size);
	return Bytes;
}

bool WritePackageLikeFile(const QString& Path, qint64 Size, std::mt19937_64& Random)
{
	QDir().mkpath(FPaths::GetPath(Path));
	QFile File(Path);
	if (!File.open(QIODevice::WriteOnly))
	{
		return false;
	}
	while (Size > 0)
	{
		const QByteArray Chunk = PackageLikeBytes(qMin<qint64>(Size, 4 << 20), Random);
		if (File.write(Chunk) != Chunk.size())
		{
			return false;
		}
		Size -= Chunk.size();
	}
	return true;
}

bool Generate(const FOptions& Options, const QString& Project)
{
	const QString Marker = Project + QStringLiteral("/generated-packagelike-%1-%2").arg(Options.MiB).arg(Options.Files);
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
		const QByteArray Payload = PackageLikeBytes(qint64(1024 + Random() % (48 * 1024)), Random);
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
		if (!WritePackageLikeFile(Path, Size, Random))
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
	qint64 Bytes = 0;
};

FRunTiming TimeTar(const QString& Content, const QString& Output)
{
	QFile::remove(Output);
	FRunTiming Timing;
	const double Cpu = ChildCpuSeconds();
	QElapsedTimer Timer;
	Timer.start();
	const int Code = QProcess::execute(
	    QStringLiteral("tar"), {QStringLiteral("-czf"), Output, QStringLiteral("-C"), Content, QStringLiteral("W1")});
	Timing.Seconds = double(Timer.nsecsElapsed()) / 1e9;
	Timing.CpuSeconds = ChildCpuSeconds() - Cpu;
	Timing.bOk = Code == 0;
	Timing.Bytes = QFileInfo(Output).size();
	QFile::remove(Output);
	return Timing;
}

struct FBuildTiming : FRunTiming
{
	double CallMs = 0;
};

double Median(QList<double> Values)
{
	std::sort(Values.begin(), Values.end());
	const qsizetype Mid = Values.size() / 2;
	return Values.size() % 2 ? Values[Mid] : (Values[Mid - 1] + Values[Mid]) / 2;
}

// The demo world's files in one pak, written with or without compression; the pak's size, or -1.
qint64 DemoPakSize(const QString& Content, const QString& PakPath, bool bCompressed)
{
	FPakWriter Writer;
	Writer.SetCompressed(bCompressed);
	if (!Writer.Open(PakPath, QStringLiteral("../../../ORVAClient/Content/")))
	{
		return -1;
	}
	QStringList Files;
	for (QDirIterator It(Content, QDir::Files, QDirIterator::Subdirectories); It.hasNext();)
	{
		Files.append(It.next());
	}
	Files.sort();
	for (const QString& File : std::as_const(Files))
	{
		if (!Writer.AddFile(File, QDir(Content).relativeFilePath(File)))
		{
			return -1;
		}
	}
	return Writer.Finish() ? QFileInfo(PakPath).size() : -1;
}

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
	Timing.Bytes =
	    QFileInfo(Project + QStringLiteral("/Saved/HotPatcher/W1/Entry/WindowsClient/Entry_WindowsClient.pak")).size();
	// No service answers here: the registration the build starts is dropped at shutdown.
	Host.Shutdown();
	return Timing;
}
} // namespace

int main(int argc, char** argv)
{
	QCoreApplication App(argc, argv);
	// The build it times runs in the build tree's OrvaEditorCmd.
	UFlibHotPatcherCoreHelper::SetUECmdBinary(FInstallPaths::ProgramPath(QStringLiteral("OrvaEditorCmd")));
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
		else if (Arguments[Index] == QLatin1String("--rounds"))
		{
			Options.Rounds = qMax(5, Arguments[Index + 1].toInt());
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
	const QString TarOutput = Options.Dir + QStringLiteral("/bench.tar.gz");
	QList<double> SpeedRatios;
	QList<double> SizeRatios;
	double BuildCallMs = 0;
	for (int Round = 0; Round < Options.Rounds; ++Round)
	{
		// Alternating which runs first spreads the page cache's and the other users' effects over both.
		const bool bTarFirst = Round % 2 == 0;
		FRunTiming TarRun;
		FBuildTiming BuildRun;
		if (bTarFirst)
		{
			TarRun = TimeTar(Project + QStringLiteral("/Content"), TarOutput);
		}
		BuildRun = TimeBuild(Project);
		if (!bTarFirst)
		{
			TarRun = TimeTar(Project + QStringLiteral("/Content"), TarOutput);
		}
		QDir(Project + QStringLiteral("/Saved")).removeRecursively();
		if (!TarRun.bOk || !BuildRun.bOk)
		{
			Print(QStringLiteral("A run failed: build %1, tar %2").arg(BuildRun.bOk).arg(TarRun.bOk));
			return 1;
		}
		SpeedRatios.append(TarRun.Seconds / BuildRun.Seconds);
		SizeRatios.append(double(BuildRun.Bytes) / double(TarRun.Bytes));
		BuildCallMs = qMax(BuildCallMs, BuildRun.CallMs);
		Print(QStringLiteral("round %1 (%2 first): pak build %3 s wall (%4 MiB/s), %5 s CPU, %6 bytes; "
		                     "tar -czf %7 s wall (%8 MiB/s), %9 s CPU, %10 bytes; speed x%11, size x%12")
		          .arg(Round + 1)
		          .arg(bTarFirst ? QStringLiteral("tar") : QStringLiteral("pak"))
		          .arg(BuildRun.Seconds, 0, 'f', 2)
		          .arg(MiB / BuildRun.Seconds, 0, 'f', 0)
		          .arg(BuildRun.CpuSeconds, 0, 'f', 2)
		          .arg(BuildRun.Bytes)
		          .arg(TarRun.Seconds, 0, 'f', 2)
		          .arg(MiB / TarRun.Seconds, 0, 'f', 0)
		          .arg(TarRun.CpuSeconds, 0, 'f', 2)
		          .arg(TarRun.Bytes)
		          .arg(SpeedRatios.last(), 0, 'f', 2)
		          .arg(SizeRatios.last(), 0, 'f', 4));
	}
	auto Summary = [](const QList<double>& Values, int Digits)
	{
		return QStringLiteral("min %1, median %2, max %3")
		    .arg(*std::min_element(Values.cbegin(), Values.cend()), 0, 'f', Digits)
		    .arg(Median(Values), 0, 'f', Digits)
		    .arg(*std::max_element(Values.cbegin(), Values.cend()), 0, 'f', Digits);
	};
	Print(QStringLiteral("throughput ratio (ours / tar -czf, by wall clock): %1 (target >= 1.5)")
	          .arg(Summary(SpeedRatios, 2)));
	Print(QStringLiteral("size ratio (pak / tar.gz): %1 (target <= 1.05)").arg(Summary(SizeRatios, 4)));
	Print(QStringLiteral("BuildPak returned in at most %1 ms").arg(BuildCallMs, 0, 'f', 2));

	const QString Demo = QStringLiteral(ORVA_SOURCE_DIR "/Examples/DemoProject/Content");
	const qint64 Plain = DemoPakSize(Demo, Options.Dir + QStringLiteral("/demo-plain.pak"), false);
	const qint64 Compressed = DemoPakSize(Demo, Options.Dir + QStringLiteral("/demo-zlib.pak"), true);
	Print(QStringLiteral("demo world pak (%1): %2 bytes uncompressed, %3 bytes compressed (%4%)")
	          .arg(Demo)
	          .arg(Plain)
	          .arg(Compressed)
	          .arg(Plain > 0 ? 100.0 * double(Compressed) / double(Plain) : 0.0, 0, 'f', 1));
	return Plain > 0 && Compressed > 0 ? 0 : 1;
}
