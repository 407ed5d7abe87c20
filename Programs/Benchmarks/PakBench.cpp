// Times the pak build the way the plugin runs it against tar on the same files, in two pairs per
// round: the pak with its entries stored against `tar -cf` (the copy, hashing and writing of the
// build against a plain archiver), and the pak with its entries compressed in zlib blocks (the
// plugin's default) against `tar -czf`. Prints the demo world's pak with and without compression.
//
// Generates a project (once; it is kept for the next run) whose workspace level depends on package
// files of mixed sizes, with the rest of the bytes in the workspace's "ExtendFiles" folder. Every
// file is package-like: name tables, property names, quantised vertex data and offsets among some
// noise, so it compresses about as real package files do. It reads every file once so that both
// tools find them in the page cache, then runs each pair side by side for at least five rounds,
// alternating which goes first, and prints each round's pairs and the min/median/max of the ratios.
//
// Usage: PakBench [--dir FOLDER] [--mib N] [--files N] [--rounds N] [--stored-only]
//        (defaults: $TMPDIR/orva-pakbench, 1024, 2000, 5)
// Targets, stored against tar -cf: median throughput at least 0.9 times tar's, median CPU time at
// most 1.4 times tar's. Compressed against tar -czf: median throughput at least 1.5 times tar's, the
// pak within 5% of the archive's size.

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
	bool bStoredOnly = false;
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
	double SyncSeconds = 0; // tar only: the archive's fsync after it, which tar itself leaves out
};

FRunTiming TimeTar(const QString& Content, const QString& Output, bool bGzip)
{
	QFile::remove(Output);
	FRunTiming Timing;
	const double Cpu = ChildCpuSeconds();
	QElapsedTimer Timer;
	Timer.start();
	const int Code =
	    QProcess::execute(QStringLiteral("tar"), {bGzip ? QStringLiteral("-czf") : QStringLiteral("-cf"), Output,
	                                              QStringLiteral("-C"), Content, QStringLiteral("W1")});
	Timing.Seconds = double(Timer.nsecsElapsed()) / 1e9;
	Timing.CpuSeconds = ChildCpuSeconds() - Cpu;
	Timing.bOk = Code == 0;
	Timing.Bytes = QFileInfo(Output).size();
	// The pak is synced before it is renamed into place; what the same durability costs tar is
	// timed apart, so that both comparisons can be read.
	Timer.restart();
	Timing.bOk = QProcess::execute(QStringLiteral("sync"), {Output}) == 0 && Timing.bOk;
	Timing.SyncSeconds = double(Timer.nsecsElapsed()) / 1e9;
	QFile::remove(Output);
	return Timing;
}

struct FBuildTiming : FRunTiming
{
	double CallMs = 0;
};

// The machine is shared: every figure goes out with the load it was measured under.
QString LoadAverage()
{
	QFile Load(QStringLiteral("/proc/loadavg"));
	return Load.open(QIODevice::ReadOnly) ? QString::fromLatin1(Load.readAll()).trimmed() : QStringLiteral("unknown");
}

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

FBuildTiming TimeBuild(const QString& Project, bool bCompressed)
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
	Sdk->GetPatchSettings()->bCompressPak = bCompressed;
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
	QStringList Arguments = App.arguments();
	Options.bStoredOnly = Arguments.removeAll(QStringLiteral("--stored-only")) > 0;
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

	// One pair of runs, ours and tar's, the first of them alternating from round to round.
	struct FPair
	{
		FBuildTiming Pak;
		FRunTiming Tar;
	};
	auto RunPair = [&](bool bCompressed, bool bTarFirst, FPair& Out)
	{
		const QString TarOutput =
		    Options.Dir + (bCompressed ? QStringLiteral("/bench.tar.gz") : QStringLiteral("/bench.tar"));
		if (bTarFirst)
		{
			Out.Tar = TimeTar(Project + QStringLiteral("/Content"), TarOutput, bCompressed);
		}
		Out.Pak = TimeBuild(Project, bCompressed);
		if (!bTarFirst)
		{
			Out.Tar = TimeTar(Project + QStringLiteral("/Content"), TarOutput, bCompressed);
		}
		QDir(Project + QStringLiteral("/Saved")).removeRecursively();
		if (!Out.Tar.bOk || !Out.Pak.bOk)
		{
			Print(QStringLiteral("A run failed: build %1, tar %2").arg(Out.Pak.bOk).arg(Out.Tar.bOk));
			return false;
		}
		return true;
	};
	auto Describe = [&](const FPair& Pair, const QString& TarName)
	{
		return QStringLiteral("pak %1 s wall (%2 MiB/s), %3 s CPU, %4 bytes; %5 %6 s wall (%7 MiB/s, then fsync "
		                      "%12 s), %8 s CPU, %9 bytes; speed x%10 (x%13 against tar with its fsync), CPU x%11")
		    .arg(Pair.Pak.Seconds, 0, 'f', 2)
		    .arg(MiB / Pair.Pak.Seconds, 0, 'f', 0)
		    .arg(Pair.Pak.CpuSeconds, 0, 'f', 2)
		    .arg(Pair.Pak.Bytes)
		    .arg(TarName)
		    .arg(Pair.Tar.Seconds, 0, 'f', 2)
		    .arg(MiB / Pair.Tar.Seconds, 0, 'f', 0)
		    .arg(Pair.Tar.CpuSeconds, 0, 'f', 2)
		    .arg(Pair.Tar.Bytes)
		    .arg(Pair.Tar.Seconds / Pair.Pak.Seconds, 0, 'f', 2)
		    .arg(Pair.Pak.CpuSeconds / Pair.Tar.CpuSeconds, 0, 'f', 2)
		    .arg(Pair.Tar.SyncSeconds, 0, 'f', 2)
		    .arg((Pair.Tar.Seconds + Pair.Tar.SyncSeconds) / Pair.Pak.Seconds, 0, 'f', 2);
	};

	Print(QStringLiteral("load before: %1").arg(LoadAverage()));
	QList<double> StoredSpeed, StoredSyncedSpeed, StoredCpu, ZipSpeed, ZipCpu, ZipSize;
	double BuildCallMs = 0;
	for (int Round = 0; Round < Options.Rounds; ++Round)
	{
		// Alternating which runs first spreads the page cache's and the other users' effects over both.
		const bool bTarFirst = Round % 2 == 0;
		const QString First = bTarFirst ? QStringLiteral("tar") : QStringLiteral("pak");
		FPair Stored;
		if (!RunPair(false, bTarFirst, Stored))
		{
			return 1;
		}
		StoredSpeed.append(Stored.Tar.Seconds / Stored.Pak.Seconds);
		StoredSyncedSpeed.append((Stored.Tar.Seconds + Stored.Tar.SyncSeconds) / Stored.Pak.Seconds);
		StoredCpu.append(Stored.Pak.CpuSeconds / Stored.Tar.CpuSeconds);
		BuildCallMs = qMax(BuildCallMs, Stored.Pak.CallMs);
		Print(QStringLiteral("round %1 (%2 first), stored:     %3")
		          .arg(Round + 1)
		          .arg(First, Describe(Stored, QStringLiteral("tar -cf"))));
		if (Options.bStoredOnly)
		{
			continue;
		}
		FPair Zip;
		if (!RunPair(true, bTarFirst, Zip))
		{
			return 1;
		}
		ZipSpeed.append(Zip.Tar.Seconds / Zip.Pak.Seconds);
		ZipCpu.append(Zip.Pak.CpuSeconds / Zip.Tar.CpuSeconds);
		ZipSize.append(double(Zip.Pak.Bytes) / double(Zip.Tar.Bytes));
		BuildCallMs = qMax(BuildCallMs, Zip.Pak.CallMs);
		Print(QStringLiteral("round %1 (%2 first), compressed: %3, size x%4")
		          .arg(Round + 1)
		          .arg(First, Describe(Zip, QStringLiteral("tar -czf")))
		          .arg(ZipSize.last(), 0, 'f', 4));
	}
	Print(QStringLiteral("load after: %1").arg(LoadAverage()));
	auto Summary = [](const QList<double>& Values, int Digits)
	{
		return QStringLiteral("min %1, median %2, max %3")
		    .arg(*std::min_element(Values.cbegin(), Values.cend()), 0, 'f', Digits)
		    .arg(Median(Values), 0, 'f', Digits)
		    .arg(*std::max_element(Values.cbegin(), Values.cend()), 0, 'f', Digits);
	};
	bool bMet = true;
	auto Verdict = [&](const QString& What, const QList<double>& Values, int Digits, bool bAtLeast, double Target)
	{
		const double Mid = Median(Values);
		const bool bOk = bAtLeast ? Mid >= Target : Mid <= Target;
		bMet = bMet && bOk;
		Print(QStringLiteral("%1: %2; median %3 %4: %5")
		          .arg(What, Summary(Values, Digits), bAtLeast ? QStringLiteral(">=") : QStringLiteral("<="))
		          .arg(Target, 0, 'f', 2)
		          .arg(bOk ? QStringLiteral("target met") : QStringLiteral("TARGET MISSED")));
	};
	Verdict(QStringLiteral("stored, throughput ratio (ours / tar -cf, wall clock)"), StoredSpeed, 2, true, 0.9);
	Verdict(QStringLiteral("stored, CPU ratio (ours / tar -cf)"), StoredCpu, 2, false, 1.4);
	Print(
	    QStringLiteral("stored, throughput ratio against tar -cf with an fsync of its archive (the pak is synced): %1")
	        .arg(Summary(StoredSyncedSpeed, 2)));
	if (!Options.bStoredOnly)
	{
		Verdict(QStringLiteral("compressed, throughput ratio (ours / tar -czf, wall clock)"), ZipSpeed, 2, true, 1.5);
		Print(QStringLiteral("compressed, CPU ratio (ours / tar -czf): %1").arg(Summary(ZipCpu, 2)));
		Verdict(QStringLiteral("compressed, size ratio (pak / tar.gz)"), ZipSize, 4, false, 1.05);
	}
	Print(QStringLiteral("BuildPak returned in at most %1 ms").arg(BuildCallMs, 0, 'f', 2));

	const QString Demo = QStringLiteral(ORVA_SOURCE_DIR "/Examples/DemoProject/Content");
	const qint64 Plain = DemoPakSize(Demo, Options.Dir + QStringLiteral("/demo-plain.pak"), false);
	const qint64 Compressed = DemoPakSize(Demo, Options.Dir + QStringLiteral("/demo-zlib.pak"), true);
	Print(QStringLiteral("demo world pak (%1): %2 bytes uncompressed, %3 bytes compressed (%4%)")
	          .arg(Demo)
	          .arg(Plain)
	          .arg(Compressed)
	          .arg(Plain > 0 ? 100.0 * double(Compressed) / double(Plain) : 0.0, 0, 'f', 1));
	return Plain > 0 && Compressed > 0 && bMet ? 0 : 1;
}
