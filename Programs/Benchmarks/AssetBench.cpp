// Times the asset layer and the plugin's relocation on synthetic projects: the host's start-up
// scan (with the plugin's subsystems registered, as in the editor), the relocation check's
// dependency walk from the entry level, and moving one top-level folder the way one folder-move
// tick does.
// Usage: AssetBench [package counts...]   (default: 10000 100000)
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
#include <QTemporaryDir>

#include <algorithm>

#include <cstdio>
#include <ctime>
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

bool Run(int PackageCount, const QTemporaryDir& Temp, FFigures& Out)
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
	for (int Index = 1; Index < argc; ++Index)
	{
		Counts.append(QByteArray(argv[Index]).toInt());
	}
	if (Counts.isEmpty())
	{
		Counts = {10000, 100000};
	}
	QList<FFigures> Figures;
	std::vector<std::unique_ptr<QTemporaryDir>> Projects;
	bool bOk = true;
	for (const int Count : Counts)
	{
		FFigures Result;
		Projects.push_back(std::make_unique<QTemporaryDir>());
		bOk = Run(Count, *Projects.back(), Result) && bOk;
		Figures.append(Result);
	}
	if (Figures.size() >= 2)
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
	return bOk ? 0 : 1;
}
