// Times the asset layer and the plugin's relocation on synthetic projects: the host's start-up
// scan (with the plugin's subsystems registered, as in the editor), the relocation check's
// dependency walk from the entry level, and moving one top-level folder the way one folder-move
// tick does.
// The scan is paired with a plain C++ reader of the same package files (a directory walk, then
// every file read whole with open/read/close), once on one thread and once on two, for at least 5
// rounds per count, alternating whether the scan goes first or last; it prints each round, the
// min / median / max of the ratios, and whether the scan's targets are met: median within 1.5 x the
// one-thread reader and 2 x the two-thread one.
// Usage: AssetBench [--rounds N] [--scan-only] [package counts...]   (default: 10000 100000)
//        (--scan-only leaves out the dependency walk and the folder move)
//
// The generated projects are removed only when every count has run: on ext4 without a journal the
// inode allocator steps over every inode freed within the last minute, so creating files right
// after deleting a large project costs far more than the same creates later, and the next count's
// move would be timed against the previous count's clean-up. For the same reason, runs of this
// program back to back should be a minute or more apart.

#include "AssetRegistry.h"
#include "AssetTools.h"
#include "AssetViewUtils.h"
#include "EditorHost.h"
#include "Log.h"
#include "OrvaSDKModule.h"
#include "OrvaSDKSubsystem.h"
#include "SyntheticProject.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <unistd.h>
#include <vector>

namespace
{
// The workspace folder the relocation check and the move aim at: no generated package lies in it,
// so the check from the entry level answers every package of the project.
const QString WorkspaceFolder = QStringLiteral("W1");
constexpr int WalkRounds = 5;

// CPU time of the whole process, in milliseconds: on a busy machine wall-clock figures say more
// about the neighbours than about the code, so both are printed. Fractions are kept, as the small
// project's figures can be a few milliseconds and their ratios would otherwise mean little.
double ProcessCpuMs()
{
	timespec Now{};
	clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Now);
	return double(Now.tv_sec) * 1000.0 + double(Now.tv_nsec) / 1e6;
}

struct FTiming
{
	double WallMs = 0;
	double CpuMs = 0;
};

class FStopwatch
{
public:
	FStopwatch()
	    : Cpu(ProcessCpuMs())
	{
		Wall.start();
	}
	FTiming Stop() const { return FTiming{double(Wall.nsecsElapsed()) / 1e6, ProcessCpuMs() - Cpu}; }

private:
	QElapsedTimer Wall;
	double Cpu;
};

struct FFigures
{
	FTiming Scan;
	FTiming Walk;
	FTiming Move;
};

QString LoadAverage()
{
	QFile Load(QStringLiteral("/proc/loadavg"));
	return Load.open(QIODevice::ReadOnly) ? QString::fromLatin1(Load.readAll()).trimmed() : QStringLiteral("unknown");
}

double Median(std::vector<double> Values)
{
	std::sort(Values.begin(), Values.end());
	const size_t Mid = Values.size() / 2;
	return Values.size() % 2 ? Values[Mid] : (Values[Mid - 1] + Values[Mid]) / 2;
}

// The peer of the start-up scan: what any program has to do to look at every package file once.
// Lists the content folder, then reads each package file whole into a reused buffer, on Threads
// threads taking files in turn. Returns the wall time in ms, or -1 when a file did not read.
double PlainRead(const QString& ContentDir, int Threads, qint64& OutFiles)
{
	QElapsedTimer Wall;
	Wall.start();
	std::vector<std::string> Paths;
	for (const std::filesystem::directory_entry& Entry :
	     std::filesystem::recursive_directory_iterator(ContentDir.toStdString()))
	{
		if (Entry.is_regular_file())
		{
			const std::string Extension = Entry.path().extension().string();
			if (Extension == ".uasset" || Extension == ".umap")
			{
				Paths.push_back(Entry.path().string());
			}
		}
	}
	std::atomic<size_t> Next{0};
	std::atomic<bool> bFailed{false};
	auto Work = [&]
	{
		std::vector<char> Buffer(64 * 1024);
		for (size_t Index = Next.fetch_add(1); Index < Paths.size(); Index = Next.fetch_add(1))
		{
			const int Fd = ::open(Paths[Index].c_str(), O_RDONLY | O_CLOEXEC);
			if (Fd < 0)
			{
				bFailed = true;
				continue;
			}
			size_t Size = 0;
			for (;;)
			{
				if (Size == Buffer.size())
				{
					Buffer.resize(Buffer.size() * 2);
				}
				const ssize_t Read = ::read(Fd, Buffer.data() + Size, Buffer.size() - Size);
				if (Read <= 0)
				{
					bFailed = bFailed || Read < 0;
					break;
				}
				Size += size_t(Read);
			}
			::close(Fd);
		}
	};
	std::vector<std::thread> Helpers;
	for (int Index = 1; Index < Threads; ++Index)
	{
		Helpers.emplace_back(Work);
	}
	Work();
	for (std::thread& Helper : Helpers)
	{
		Helper.join();
	}
	OutFiles = qint64(Paths.size());
	return bFailed ? -1.0 : double(Wall.nsecsElapsed()) / 1e6;
}

// The start-up scan against the plain reader on one and on two threads, in rounds; true when the
// scan's targets are met.
bool PairedScan(const FSyntheticProject& Project, const QTemporaryDir& Temp, int Rounds)
{
	const QString ContentDir = QFileInfo(Project.ProjectFile).absolutePath() + QStringLiteral("/Content");
	std::vector<double> OneRatios;
	std::vector<double> TwoRatios;
	std::printf("  load before the scan rounds: %s\n", qPrintable(LoadAverage()));
	for (int Round = 0; Round < Rounds; ++Round)
	{
		double OursMs = -1;
		double OursCpuMs = 0;
		int Indexed = 0;
		auto RunOurs = [&]
		{
			FEditorHostOptions HostOptions;
			HostOptions.ProjectFile = Project.ProjectFile;
			HostOptions.UserSettingsDir = Temp.path() + QStringLiteral("/UserSettings");
			HostOptions.bLogToFile = false;
			HostOptions.bWithEditorWorld = false;
			FEditorHost Host(HostOptions);
			RegisterOrvaSDKSubsystems(Host);
			FStopwatch Scan;
			Host.Start();
			const FTiming Timing = Scan.Stop();
			OursMs = Timing.WallMs;
			OursCpuMs = Timing.CpuMs;
			Indexed = Host.AssetRegistry().GetPackageCount();
			Host.Shutdown();
		};
		// The scan goes first in even rounds and last in odd ones; the two readers swap too.
		const bool bOursFirst = Round % 2 == 0;
		qint64 Files = 0;
		if (bOursFirst)
		{
			RunOurs();
		}
		const double OneMs = bOursFirst ? PlainRead(ContentDir, 1, Files) : PlainRead(ContentDir, 2, Files);
		const double TwoMs = bOursFirst ? PlainRead(ContentDir, 2, Files) : PlainRead(ContentDir, 1, Files);
		const double ReadOneMs = bOursFirst ? OneMs : TwoMs;
		const double ReadTwoMs = bOursFirst ? TwoMs : OneMs;
		if (!bOursFirst)
		{
			RunOurs();
		}
		if (ReadOneMs < 0 || ReadTwoMs < 0 || Indexed != Project.PackageCount || Files != Project.PackageCount)
		{
			std::printf("  scan round %d: a run did not read every package (scan %d, reader %lld of %d)\n", Round + 1,
			            Indexed, Files, Project.PackageCount);
			return false;
		}
		OneRatios.push_back(OursMs / ReadOneMs);
		TwoRatios.push_back(OursMs / ReadTwoMs);
		std::printf("  scan round %d (%s first): scan %8.1f ms (cpu %8.1f ms), reader 1 thread %8.1f ms, 2 threads "
		            "%8.1f ms; x%.2f / x%.2f\n",
		            Round + 1, bOursFirst ? "scan" : "readers", OursMs, OursCpuMs, ReadOneMs, ReadTwoMs,
		            OneRatios.back(), TwoRatios.back());
	}
	std::printf("  load after the scan rounds: %s\n", qPrintable(LoadAverage()));
	bool bMet = true;
	auto Verdict = [&](const char* What, const std::vector<double>& Ratios, double Target)
	{
		const double Mid = Median(Ratios);
		bMet = bMet && Mid <= Target;
		std::printf("  scan / reader on %s: min %.2f, median %.2f, max %.2f: %s (median <= %.1f)\n", What,
		            *std::min_element(Ratios.begin(), Ratios.end()), Mid,
		            *std::max_element(Ratios.begin(), Ratios.end()), Mid <= Target ? "target met" : "TARGET MISSED",
		            Target);
	};
	Verdict("1 thread ", OneRatios, 1.5);
	Verdict("2 threads", TwoRatios, 2.0);
	return bMet;
}

bool Run(int PackageCount, const QTemporaryDir& Temp, int ScanRounds, bool bScanOnly, bool& bOutScanMet, FFigures& Out)
{
	FSyntheticProjectOptions Options;
	Options.RootDir = Temp.path() + QStringLiteral("/Project");
	Options.PackageCount = PackageCount;
	QString Error;
	QElapsedTimer Timer;
	Timer.start();
	const std::optional<FSyntheticProject> Project = FSyntheticProject::Generate(Options, &Error);
	if (!Project)
	{
		std::fprintf(stderr, "Cannot generate the project: %s\n", qPrintable(Error));
		return false;
	}
	// The files just written go to disk first, so that their write-back does not run into the timings.
	::sync();
	std::printf("N = %d: %d package files (%d levels, %d partitioned, %d external), generated in %lld ms\n",
	            PackageCount, Project->PackageCount, int(Project->Levels.size()),
	            int(Project->PartitionedLevels.size()), Project->ExternalPackageCount, Timer.elapsed());
	bOutScanMet = PairedScan(*Project, Temp, ScanRounds);
	if (bScanOnly)
	{
		return true;
	}

	FEditorHostOptions HostOptions;
	HostOptions.ProjectFile = Project->ProjectFile;
	HostOptions.UserSettingsDir = Temp.path() + QStringLiteral("/UserSettings");
	HostOptions.bLogToFile = false;
	// Folder moves are timed one at a time below, not driven by the editor world's timer.
	HostOptions.bWithEditorWorld = false;
	FEditorHost Host(HostOptions);
	RegisterOrvaSDKSubsystems(Host);

	FStopwatch Scan;
	Host.Start();
	Out.Scan = Scan.Stop();
	FAssetRegistry& Registry = Host.AssetRegistry();
	const int Indexed = Registry.GetPackageCount();
	std::printf("  start-up scan:   %8.1f ms  (cpu %8.1f ms over all threads; %d packages indexed)\n", Out.Scan.WallMs,
	            Out.Scan.CpuMs, Indexed);
	UOrvaSDKSubsystem* Sdk = Host.GetEditorSubsystem<UOrvaSDKSubsystem>();
	if (!Sdk)
	{
		std::fprintf(stderr, "The SDK subsystem did not start\n");
		return false;
	}
	// Reading the access times of freshly written files dirties their inodes; that write-back
	// belongs to the scan, not to the move's syncs.
	::sync();

	// The first walk meets the registry as the scan left it; the later ones show what the walk
	// itself costs when the neighbours on a busy machine leave it alone for once.
	QStringList Outside;
	FTiming FirstWalk;
	for (int Round = 0; Round < WalkRounds; ++Round)
	{
		FStopwatch Walk;
		Outside = Sdk->CheckFoldersNeedMove(Project->EntryLevel, WorkspaceFolder);
		const FTiming Timing = Walk.Stop();
		if (Round == 0)
		{
			FirstWalk = Out.Walk = Timing;
		}
		Out.Walk.WallMs = std::min(Out.Walk.WallMs, Timing.WallMs);
		Out.Walk.CpuMs = std::min(Out.Walk.CpuMs, Timing.CpuMs);
	}
	std::printf("  dependency walk: %8.1f ms  (cpu %8.1f ms; best of %d, first %.1f ms / cpu %.1f ms; %d packages "
	            "outside /Game/%s)\n",
	            Out.Walk.WallMs, Out.Walk.CpuMs, WalkRounds, FirstWalk.WallMs, FirstWalk.CpuMs, int(Outside.size()),
	            qPrintable(WorkspaceFolder));

	const QString Folder = Project->TopFolders.value(1);
	const int FolderPackages = Project->PackagesPerFolder.value(1);
	const QString Destination = QStringLiteral("/Game/") + WorkspaceFolder;
	FStopwatch Move;
	const bool bMoved = AssetViewUtils::MoveFolders(Host.AssetTools(), {Folder}, Destination);
	Out.Move = Move.Stop();
	// Every package of the folder is known at its new place, and the old names are redirectors.
	QList<FAssetData> Arrived;
	Registry.GetAssetsByPath(Destination + Folder.mid(int(sizeof("/Game")) - 1), Arrived, true);
	const bool bAllArrived =
	    bMoved && Arrived.size() == FolderPackages && Registry.GetPackageCount() == Indexed + FolderPackages;
	std::printf("  folder move:     %8.1f ms  (cpu %8.1f ms; %s, %d packages = %.1f%%, %s)\n", Out.Move.WallMs,
	            Out.Move.CpuMs, qPrintable(Folder), FolderPackages, 100.0 * FolderPackages / Project->PackageCount,
	            bAllArrived ? "all moved" : "SOME FAILED");
	Host.Shutdown();
	return bAllArrived && Indexed == Project->PackageCount && Outside.size() == Project->PackageCount;
}

double Ratio(double Large, double Small)
{
	return Large / std::max(0.001, Small);
}
} // namespace

int main(int argc, char** argv)
{
	QCoreApplication App(argc, argv);
	FLog::SetStderrEnabled(false);
	std::setvbuf(stdout, nullptr, _IOLBF, 0);
	QList<int> Counts;
	int ScanRounds = 5;
	bool bScanOnly = false;
	for (int Index = 1; Index < argc; ++Index)
	{
		const QByteArray Argument(argv[Index]);
		if (Argument == "--rounds" && Index + 1 < argc)
		{
			ScanRounds = std::max(5, QByteArray(argv[++Index]).toInt());
		}
		else if (Argument == "--scan-only")
		{
			bScanOnly = true;
		}
		else
		{
			Counts.append(Argument.toInt());
		}
	}
	if (Counts.isEmpty())
	{
		Counts = {10000, 100000};
	}
	QList<FFigures> Figures;
	std::vector<std::unique_ptr<QTemporaryDir>> Projects;
	bool bOk = true;
	bool bScanMet = true;
	for (const int Count : Counts)
	{
		FFigures Result;
		bool bMet = false;
		Projects.push_back(std::make_unique<QTemporaryDir>());
		bOk = Run(Count, *Projects.back(), ScanRounds, bScanOnly, bMet, Result) && bOk;
		bScanMet = bScanMet && bMet;
		Figures.append(Result);
	}
	if (Figures.size() >= 2 && !bScanOnly)
	{
		const FFigures& Small = Figures.first();
		const FFigures& Large = Figures.last();
		std::printf(
		    "Growth %d -> %d packages (wall / cpu): scan x%.1f / x%.1f, walk x%.1f / x%.1f, move x%.1f / x%.1f\n",
		    Counts.first(), Counts.last(), Ratio(Large.Scan.WallMs, Small.Scan.WallMs),
		    Ratio(Large.Scan.CpuMs, Small.Scan.CpuMs), Ratio(Large.Walk.WallMs, Small.Walk.WallMs),
		    Ratio(Large.Walk.CpuMs, Small.Walk.CpuMs), Ratio(Large.Move.WallMs, Small.Move.WallMs),
		    Ratio(Large.Move.CpuMs, Small.Move.CpuMs));
	}
	if (!bOk)
	{
		std::printf("A run did not index, reach or move every package it should have\n");
	}
	std::printf("start-up scan targets: %s\n", bScanMet ? "met at every count" : "MISSED");
	return bOk && bScanMet ? 0 : 1;
}
