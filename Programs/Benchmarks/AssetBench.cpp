// Times the asset layer on synthetic projects: the host's start-up scan, the relocation's
// dependency walk from the entry level, and moving one top-level folder.
// Usage: AssetBench [package counts...]   (default: 10000 100000)

#include "AssetRegistry.h"
#include "AssetTools.h"
#include "AssetViewUtils.h"
#include "EditorHost.h"
#include "Log.h"
#include "ObjectClasses.h"
#include "SyntheticProject.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSet>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <unistd.h>
#include <vector>

namespace
{
// The relocation check's walk: hard and soft dependencies that are /Game packages on disk, and the
// packages in a level's external actor and object folders after a forced scan of each folder. An
// explicit stack stands in for recursion so that deep graphs cannot exhaust the thread's stack;
// the set reached is the same.
QSet<QString> WalkDependencies(FAssetRegistry& Registry, const QString& Root)
{
	QSet<QString> Reached{Root};
	QSet<QString> ScannedPaths;
	std::vector<QString> Stack{Root};
	while (!Stack.empty())
	{
		const QString Package = Stack.back();
		Stack.pop_back();
		QStringList Dependencies;
		Registry.GetDependencies(Package, Dependencies);
		for (const QString& Dependency : Dependencies)
		{
			if (Dependency.startsWith(QLatin1String("/Game"), Qt::CaseInsensitive) &&
				Registry.GetAssetPackageDataCopy(Dependency) && !Reached.contains(Dependency))
			{
				Reached.insert(Dependency);
				Stack.push_back(Dependency);
			}
		}
		QList<FAssetData> Assets;
		if (!Registry.GetAssetsByPackageName(Package, Assets, true, true))
		{
			continue;
		}
		for (const FAssetData& Asset : Assets)
		{
			const UClass* Class = UClass::FindClass(Asset.AssetClassPath.ToString());
			if (!Class)
			{
				Class = UClass::FindClass(UClass::FindNewPathNameForClass(Asset.AssetClassPath.ToString()));
			}
			if (!Class || !Class->IsChildOf(UWorld::StaticClass()))
			{
				continue;
			}
			for (const QString& Path : ULevel::GetExternalObjectsPaths(Package))
			{
				if (Path.isEmpty() || ScannedPaths.contains(Path))
				{
					continue;
				}
				ScannedPaths.insert(Path);
				Registry.ScanPathsSynchronous({Path}, true, true);
				QList<FAssetData> External;
				Registry.GetAssetsByPath(Path, External, true, true);
				for (const FAssetData& Actor : External)
				{
					Reached.insert(Actor.PackageName);
					Stack.push_back(Actor.PackageName);
				}
			}
		}
	}
	return Reached;
}

// CPU time of the whole process, in milliseconds: on a busy machine wall-clock figures say more
// about the neighbours than about the code, so both are printed.
qint64 ProcessCpuMs()
{
	timespec Now{};
	clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &Now);
	return qint64(Now.tv_sec) * 1000 + Now.tv_nsec / 1000000;
}

struct FFigures
{
	qint64 ScanMs = 0;
	qint64 WalkMs = 0;
	qint64 MoveMs = 0;
};

bool Run(int PackageCount, FFigures& Out)
{
	QTemporaryDir Temp;
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
		PackageCount, Project->PackageCount, int(Project->Levels.size()), int(Project->PartitionedLevels.size()),
		Project->ExternalPackageCount, Timer.elapsed());

	FEditorHostOptions HostOptions;
	HostOptions.ProjectFile = Project->ProjectFile;
	HostOptions.UserSettingsDir = Temp.path() + QStringLiteral("/UserSettings");
	HostOptions.bLogToFile = false;
	FEditorHost Host(HostOptions);
	Timer.restart();
	qint64 Cpu = ProcessCpuMs();
	Host.Start();
	Out.ScanMs = Timer.elapsed();
	FAssetRegistry& Registry = Host.AssetRegistry();
	std::printf("  start-up scan:   %6lld ms  (cpu %lld ms over all threads; %d packages indexed)\n", Out.ScanMs,
		ProcessCpuMs() - Cpu, Registry.GetPackageCount());

	Timer.restart();
	Cpu = ProcessCpuMs();
	const QSet<QString> Reached = WalkDependencies(Registry, Project->EntryLevel);
	Out.WalkMs = Timer.elapsed();
	std::printf("  dependency walk: %6lld ms  (cpu %lld ms; %d packages reached)\n", Out.WalkMs, ProcessCpuMs() - Cpu,
		int(Reached.size()));

	const QString Folder = Project->TopFolders.value(1);
	const int FolderPackages = Project->PackagesPerFolder.value(1);
	Timer.restart();
	const bool bMoved = AssetViewUtils::MoveFolders(Host.AssetTools(), {Folder}, QStringLiteral("/Game/W1"));
	Out.MoveMs = Timer.elapsed();
	std::printf("  folder move:     %6lld ms  (%s, %d packages = %.1f%%, %s)\n", Out.MoveMs, qPrintable(Folder),
		FolderPackages, 100.0 * FolderPackages / Project->PackageCount, bMoved ? "all moved" : "SOME FAILED");
	Host.Shutdown();
	return bMoved && Reached.size() == Project->PackageCount;
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
	bool bOk = true;
	for (const int Count : Counts)
	{
		FFigures Result;
		bOk = Run(Count, Result) && bOk;
		Figures.append(Result);
	}
	if (Figures.size() >= 2)
	{
		const auto Ratio = [](qint64 Large, qint64 Small) { return double(Large) / double(std::max<qint64>(1, Small)); };
		std::printf("Growth %d -> %d packages: scan x%.1f, walk x%.1f, move x%.1f\n", Counts.first(), Counts.last(),
			Ratio(Figures.last().ScanMs, Figures.first().ScanMs), Ratio(Figures.last().WalkMs, Figures.first().WalkMs),
			Ratio(Figures.last().MoveMs, Figures.first().MoveMs));
	}
	if (!bOk)
	{
		std::printf("A run did not reach or move every package it should have\n");
	}
	return bOk ? 0 : 1;
}
