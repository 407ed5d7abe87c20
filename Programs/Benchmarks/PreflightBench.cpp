// Times the pre-flight report (UOrvaSDKSubsystem::GetPreflightReport) on the demo project and on a
// synthetic project, each with a workspace "W1" whose entry map is the project's entry level, so
// the report walks every package of the project. As a peer figure, each round also times a plain
// C++ walk over the same Content folder (std::filesystem, recursive, one stat per entry): what
// merely looking at every file costs. The two run in the same round, in alternating order, so that
// a busy neighbour slows both alike. The relocation's own dependency walk, which the report runs
// first, is timed after them, to show what the report adds to it.
// Usage: PreflightBench [--packages N] [--rounds N]   (defaults: 100000, 5)
// Targets: the demo's report under 1 s, the synthetic project's under 3 s.

#include "EditorHost.h"
#include "Log.h"
#include "OrvaSDKModule.h"
#include "OrvaSDKSubsystem.h"
#include "SyntheticProject.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace
{
double ElapsedMs(const QElapsedTimer& Timer)
{
	return double(Timer.nsecsElapsed()) / 1e6;
}

// Every entry below Folder, each stat'ed once; answers the bytes of the files.
qint64 PlainWalk(const QString& Folder, qint64& OutEntries)
{
	namespace fs = std::filesystem;
	std::error_code Error;
	qint64 Bytes = 0;
	OutEntries = 0;
	for (fs::recursive_directory_iterator It(Folder.toStdString(), Error), End; !Error && It != End;
	     It.increment(Error))
	{
		const fs::file_status Status = fs::status(It->path(), Error);
		++OutEntries;
		if (!Error && fs::is_regular_file(Status))
		{
			Bytes += qint64(fs::file_size(It->path(), Error));
		}
		Error.clear();
	}
	return Bytes;
}

bool CopyTree(const QString& From, const QString& To)
{
	QDirIterator It(From, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
	if (!QDir().mkpath(To))
	{
		return false;
	}
	while (It.hasNext())
	{
		const QString Path = It.next();
		const QString Target = To + QLatin1Char('/') + QDir(From).relativeFilePath(Path);
		if (!(It.fileInfo().isDir() ? QDir().mkpath(Target) : QFile::copy(Path, Target)))
		{
			return false;
		}
	}
	return true;
}

struct FStats
{
	double Min = 0;
	double Median = 0;
	double Max = 0;
};

FStats Stats(std::vector<double> Values)
{
	std::sort(Values.begin(), Values.end());
	const size_t N = Values.size();
	return FStats{Values.front(), N % 2 ? Values[N / 2] : (Values[N / 2 - 1] + Values[N / 2]) / 2, Values.back()};
}

// Times the report on the project, Rounds times, beside the plain walk. False when it cannot run.
bool Measure(const char* Label, const QString& ProjectFile, const QString& EntryLevel, const QString& UserSettingsDir,
             int Rounds, double TargetMs)
{
	FEditorHostOptions Options;
	Options.ProjectFile = ProjectFile;
	Options.UserSettingsDir = UserSettingsDir;
	Options.bLogToFile = false;
	Options.bWithEditorWorld = false;
	FEditorHost Host(Options);
	RegisterOrvaSDKSubsystems(Host);
	QElapsedTimer Scan;
	Scan.start();
	Host.Start();
	const double ScanMs = ElapsedMs(Scan);
	UOrvaSDKSubsystem* Sdk = Host.GetEditorSubsystem<UOrvaSDKSubsystem>();
	if (!Sdk)
	{
		std::fprintf(stderr, "The SDK subsystem did not start\n");
		return false;
	}
	// The workspace a creator has after picking the world: its folders exist, its entry map is chosen.
	Sdk->CreateWorkspaceFolder(QStringLiteral("W1"));
	Sdk->CurrWorkspace.WorldIdentifier = QStringLiteral("W1");
	Sdk->CurrWorkspace.WorldId = QStringLiteral("bench-world");
	Sdk->CurrWorkspace.TitleName = QStringLiteral("Bench");
	Sdk->CurrWorkspace.bEditable = true;
	Sdk->CurrWorkspace.ObjectPath =
	    FSoftObjectPath(EntryLevel + QLatin1Char('.') + EntryLevel.section(QLatin1Char('/'), -1));
	const QString Content = Host.Paths().ProjectContentDir();
	::sync();

	std::printf("%s: %s (start-up scan %.0f ms)\n", Label, qPrintable(ProjectFile), ScanMs);
	std::vector<double> ReportMs;
	std::vector<double> WalkMs;
	std::vector<double> RelocationMs;
	FOrvaPreflightReport Report;
	qint64 Entries = 0;
	qint64 WalkBytes = 0;
	for (int Round = 0; Round < Rounds; ++Round)
	{
		double This = 0;
		double Peer = 0;
		const auto TimeReport = [&]
		{
			QElapsedTimer Timer;
			Timer.start();
			Report = Sdk->GetPreflightReport();
			This = ElapsedMs(Timer);
		};
		const auto TimeWalk = [&]
		{
			QElapsedTimer Timer;
			Timer.start();
			WalkBytes = PlainWalk(Content, Entries);
			Peer = ElapsedMs(Timer);
		};
		if (Round % 2 == 0)
		{
			TimeReport();
			TimeWalk();
		}
		else
		{
			TimeWalk();
			TimeReport();
		}
		QElapsedTimer Relocation;
		Relocation.start();
		const QStringList Outside = Sdk->CheckFoldersNeedMove(Sdk->CurrWorkspace.ObjectPath);
		const double RelocationWalk = ElapsedMs(Relocation);
		ReportMs.push_back(This);
		WalkMs.push_back(Peer);
		RelocationMs.push_back(RelocationWalk);
		std::printf("  round %d (%s first): report %8.1f ms   plain walk %8.1f ms   ratio %.2f   (relocation's walk "
		            "%.1f ms, %d outside)\n",
		            Round + 1, Round % 2 == 0 ? "report" : "walk", This, Peer, Peer > 0 ? This / Peer : 0.0,
		            RelocationWalk, int(Outside.size()));
	}
	const FStats R = Stats(ReportMs);
	const FStats W = Stats(WalkMs);
	const FStats M = Stats(RelocationMs);
	std::printf("  report:     min %8.1f  median %8.1f  max %8.1f ms   (%d packages, %lld bytes, pak about %lld bytes; "
	            "%d errors, %d warnings, %d notes)\n",
	            R.Min, R.Median, R.Max, Report.PackageCount, Report.TotalBytes, Report.EstimatedPakBytes,
	            Report.Count(EOrvaPreflightLevel::Error), Report.Count(EOrvaPreflightLevel::Warning),
	            Report.Count(EOrvaPreflightLevel::Note));
	std::printf("  plain walk: min %8.1f  median %8.1f  max %8.1f ms   (%lld entries, %lld bytes)\n", W.Min, W.Median,
	            W.Max, Entries, WalkBytes);
	std::printf("  relocation's walk alone: min %8.1f  median %8.1f  max %8.1f ms\n", M.Min, M.Median, M.Max);
	const bool bMet = R.Max < TargetMs;
	std::printf("  target: under %.0f ms in every round: %s\n", TargetMs, bMet ? "met" : "MISSED");
	Host.Shutdown();
	return true;
}
} // namespace

int main(int argc, char** argv)
{
	QCoreApplication App(argc, argv);
	FLog::SetStderrEnabled(false);
	std::setvbuf(stdout, nullptr, _IOLBF, 0);
	int PackageCount = 100000;
	int Rounds = 5;
	for (int Index = 1; Index + 1 < argc; Index += 2)
	{
		const QByteArray Option(argv[Index]);
		const int Value = QByteArray(argv[Index + 1]).toInt();
		if (Option == "--packages")
		{
			PackageCount = Value;
		}
		else if (Option == "--rounds")
		{
			Rounds = std::max(1, Value);
		}
	}

	QTemporaryDir Temp;
	if (!Temp.isValid())
	{
		std::fprintf(stderr, "No temporary folder\n");
		return 1;
	}
	const QString Demo = Temp.path() + QStringLiteral("/DemoProject");
	if (!CopyTree(QStringLiteral(ORVA_SOURCE_DIR "/Examples/DemoProject"), Demo))
	{
		std::fprintf(stderr, "Cannot copy the demo project\n");
		return 1;
	}
	if (!Measure("demo project", Demo + QStringLiteral("/DemoProject.uproject"), QStringLiteral("/Game/Maps/Entry"),
	             Temp.path() + QStringLiteral("/UserSettingsDemo"), Rounds, 1000.0))
	{
		return 1;
	}

	FSyntheticProjectOptions Options;
	Options.RootDir = Temp.path() + QStringLiteral("/Synthetic");
	Options.PackageCount = PackageCount;
	QString Error;
	QElapsedTimer Generate;
	Generate.start();
	const std::optional<FSyntheticProject> Project = FSyntheticProject::Generate(Options, &Error);
	if (!Project)
	{
		std::fprintf(stderr, "Cannot generate the project: %s\n", qPrintable(Error));
		return 1;
	}
	::sync();
	std::printf("synthetic project of %d package files generated in %.0f ms\n", Project->PackageCount,
	            ElapsedMs(Generate));
	const QString Label = QStringLiteral("synthetic project, %1 packages").arg(Project->PackageCount);
	if (!Measure(qPrintable(Label), Project->ProjectFile, Project->EntryLevel,
	             Temp.path() + QStringLiteral("/UserSettingsSynthetic"), Rounds, 3000.0))
	{
		return 1;
	}
	return 0;
}
