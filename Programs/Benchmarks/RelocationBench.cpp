// Times the plugin's asset relocation against the shell's: a synthetic project whose packages lie
// in ten top-level folders outside the workspace, with an entry level that depends on all of them.
//   ours: the SDK subsystem relocating the entry level's dependencies as the creator's choice of
//         entry map starts it: the dependency walk, the folders moved one per timer tick, the entry
//         path rewritten and the redirectors fixed up; the round ends when the progress reads
//         FolderMoveSuccess. A timer ticking every 5 ms on the main thread meanwhile records the
//         longest gap between its ticks (the longest freeze of the editor) and when it began.
//   peer: `mv` of the same folders (the levels' external actor folders with them) into the
//         workspace folder, then one `sed -i` pass rewriting every reference in every package file,
//         on a fresh copy of the same project in the same round.
// Which side goes first alternates from round to round.
// Usage: RelocationBench [--packages N] [--rounds R] [--dir FOLDER] [--fresh-fs] [--verbose]
//        (10000 packages, 5 rounds)
// FOLDER should lie on the disk the editor's projects lie on (not a tmpfs): both sides write there.

#include "AssetRegistry.h"
#include "Dialogs.h"
#include "EditorHost.h"
#include "GameThread.h"
#include "Log.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSubsystem.h"
#include "SoftObjectPath.h"
#include "SyntheticProject.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <unistd.h>

namespace
{
const QString Workspace = QStringLiteral("W1");
constexpr double TargetRatio = 1.2;
constexpr double TargetStallMs = 100.0;

// With --verbose, the host's lines of each relocation with the time since the round's start.
class FTimedLog : public FLogSink
{
public:
	explicit FTimedLog(const QElapsedTimer& InClock)
	    : Clock(InClock)
	{
		FLog::AddSink(this);
	}
	~FTimedLog() override { FLog::RemoveSink(this); }
	void Receive(const FLogLine& Line) override
	{
		std::printf("  %8.1f ms  %s\n", double(Clock.nsecsElapsed()) / 1e6, qPrintable(Line.Format()));
	}

private:
	const QElapsedTimer& Clock;
};

bool bVerbose = false;

struct FRound
{
	double OursMs = 0;
	double PeerMs = 0;
	double StallMs = 0;
	double StallAtMs = 0;
	int Stalls = 0;
	bool bOursFirst = true;
};

bool RunShell(const QString& Script, const QString& Folder, QString& OutError)
{
	QProcess Shell;
	Shell.setWorkingDirectory(Folder);
	Shell.setProcessChannelMode(QProcess::MergedChannels);
	Shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), Script});
	if (!Shell.waitForFinished(-1) || Shell.exitStatus() != QProcess::NormalExit || Shell.exitCode() != 0)
	{
		OutError = QString::fromLocal8Bit(Shell.readAll()).trimmed();
		return false;
	}
	return true;
}

QString Quoted(const QString& Path)
{
	QString Out = Path;
	Out.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
	return QLatin1Char('\'') + Out + QLatin1Char('\'');
}

int CountFiles(const QString& Folder)
{
	int Count = 0;
	QDirIterator It(Folder, QDir::Files, QDirIterator::Subdirectories);
	while (It.hasNext())
	{
		It.next();
		++Count;
	}
	return Count;
}

bool CopyProject(const QString& From, const QString& To, QString& OutError)
{
	QDir(To).removeRecursively();
	const bool bOk =
	    RunShell(QStringLiteral("cp -a ") + Quoted(From) + QLatin1Char(' ') + Quoted(To), QDir::rootPath(), OutError);
	// The copy's write-back belongs to neither side.
	::sync();
	return bOk;
}

// With --fresh-fs (as root): a side's project lies on an ext4 file system made for it alone, a
// loop device over an image file with direct I/O (so that syncs still reach the disk), without a
// journal like the disks of our machines. Neither side then searches past the inodes the other
// side or the harness freed a moment ago; each pays only for its own.
class FFreshFileSystem
{
public:
	bool Make(const QString& Folder, QString& OutError)
	{
		Image = Folder + QStringLiteral(".img");
		Mount = Folder;
		QDir().mkpath(Mount);
		const QString Script = QStringLiteral("set -e\ntruncate -s 2G %1\nmkfs.ext4 -q -O ^has_journal %1\n"
		                                      "losetup --direct-io=on -f --show %1\n")
		                           .arg(Quoted(Image));
		QProcess Shell;
		Shell.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), Script});
		Shell.waitForFinished(-1);
		Device = QString::fromLocal8Bit(Shell.readAllStandardOutput()).trimmed();
		if (Shell.exitStatus() != QProcess::NormalExit || Shell.exitCode() != 0 || !Device.startsWith(QLatin1Char('/')))
		{
			OutError = QStringLiteral("cannot make a file system (root, losetup and mkfs.ext4 are needed): ") +
			           QString::fromLocal8Bit(Shell.readAllStandardError()).trimmed();
			Device.clear();
			return false;
		}
		bMounted = RunShell(QStringLiteral("mount ") + Quoted(Device) + QLatin1Char(' ') + Quoted(Mount),
		                    QDir::rootPath(), OutError);
		return bMounted;
	}
	~FFreshFileSystem()
	{
		QString Ignored;
		if (bMounted)
		{
			RunShell(QStringLiteral("umount ") + Quoted(Mount), QDir::rootPath(), Ignored);
		}
		if (!Device.isEmpty())
		{
			RunShell(QStringLiteral("losetup -d ") + Quoted(Device), QDir::rootPath(), Ignored);
		}
		if (!Image.isEmpty())
		{
			QFile::remove(Image);
		}
	}

private:
	QString Image;
	QString Mount;
	QString Device;
	bool bMounted = false;
};

bool bFreshFileSystems = false;

// The folder names below /Game, "Maps" first.
QStringList FolderNames(const FSyntheticProject& Project)
{
	QStringList Names;
	for (const QString& Folder : Project.TopFolders)
	{
		Names.append(Folder.mid(int(sizeof("/Game/")) - 1));
	}
	return Names;
}

bool RunPeer(const QString& Root, const FSyntheticProject& Project, double& OutMs, QString& OutError)
{
	const QString Content = Root + QStringLiteral("/Content");
	QString Script = QStringLiteral("set -e\nmkdir -p ") + Workspace + QLatin1Char('\n');
	QString Sed;
	for (const QString& Name : FolderNames(Project))
	{
		Script += QStringLiteral("mv %1 %2/%1\n").arg(Name, Workspace);
		for (const char* External : {"__ExternalActors__", "__ExternalObjects__"})
		{
			const QString Folder = QLatin1String(External) + QLatin1Char('/') + Name;
			if (QFileInfo(Content + QLatin1Char('/') + Folder).isDir())
			{
				Script += QStringLiteral("mkdir -p %1/%2\nmv %3 %1/%2/%4\n")
				              .arg(QLatin1String(External), Workspace, Folder, Name);
			}
		}
		Sed += QStringLiteral(" -e 's#\"/Game/%1/#\"/Game/%2/%1/#g'").arg(Name, Workspace);
	}
	Script += QStringLiteral("find . -type f \\( -name '*.uasset' -o -name '*.umap' \\) -print0 | xargs -0 sed -i") +
	          Sed + QLatin1Char('\n');
	QElapsedTimer Clock;
	Clock.start();
	const bool bOk = RunShell(Script, Content, OutError);
	OutMs = double(Clock.nsecsElapsed()) / 1e6;
	if (bOk &&
	    CountFiles(Content + QLatin1Char('/') + Workspace) != Project.PackageCount - Project.ExternalPackageCount)
	{
		OutError = QStringLiteral("the peer left packages outside the workspace");
		return false;
	}
	return bOk;
}

bool RunOurs(const QString& Root, const FSyntheticProject& Project, const QString& UserSettings, FRound& Out,
             QString& OutError)
{
	FEditorHostOptions Options;
	Options.ProjectFile = Root + QLatin1Char('/') + QFileInfo(Project.ProjectFile).fileName();
	Options.UserSettingsDir = UserSettings;
	Options.bLogToFile = false;
	Options.bWithEditorWorld = true;
	FEditorHost Host(Options);
	auto Dialogs = std::make_unique<FPolicyDialogService>();
	// The creator agrees to the move and to loading the redirectors.
	Dialogs->SetDefaultAnswer(EAppReturnType::Yes);
	Host.SetDialogService(std::move(Dialogs));
	Host.RegisterSubsystem<UOrvaSDKSubsystem>();
	Host.RegisterSubsystem<UOrvaDataCacheSubsystem>();
	Host.Start();
	UOrvaSDKSubsystem* Sdk = Host.GetEditorSubsystem<UOrvaSDKSubsystem>();
	if (!Sdk)
	{
		OutError = QStringLiteral("the SDK subsystem did not start");
		return false;
	}
	Sdk->CreateWorkspaceFolder(Workspace);
	// What the scan read is written back before the clock starts.
	::sync();

	QElapsedTimer Clock;
	std::optional<FTimedLog> Lines;
	if (bVerbose)
	{
		Lines.emplace(Clock);
	}
	int Stalls = 0;
	qint64 LastTickNs = 0;
	QTimer Watch;
	Watch.setTimerType(Qt::PreciseTimer);
	Watch.setInterval(5);
	QObject::connect(&Watch, &QTimer::timeout, &Watch,
	                 [&]
	                 {
		                 const qint64 Now = Clock.nsecsElapsed();
		                 const double Gap = double(Now - LastTickNs) / 1e6;
		                 if (bVerbose && Gap > TargetStallMs)
		                 {
			                 std::printf("  %8.1f ms  main thread stalled %.1f ms\n", double(LastTickNs) / 1e6, Gap);
		                 }
		                 Stalls += Gap > TargetStallMs ? 1 : 0;
		                 if (Gap > Out.StallMs)
		                 {
			                 Out.StallMs = Gap;
			                 Out.StallAtMs = double(LastTickNs) / 1e6;
		                 }
		                 LastTickNs = Now;
	                 });
	Clock.start();
	Watch.start();
	Sdk->SetCurrentLevelPath(FSoftObjectPath(Project.EntryLevel + QStringLiteral(".Entry")));
	// The last tick stops the timer and fixes up the redirectors before it returns; with no world
	// bound (no service here) the progress is kept for no workspace, so the timer tells.
	const bool bDone = FGameThread::RunUntil([&] { return !Sdk->IsFolderMoveRunning(); }, 600000);
	Out.OursMs = double(Clock.nsecsElapsed()) / 1e6;
	// The gap up to the end counts too.
	const double Tail = double(Clock.nsecsElapsed() - LastTickNs) / 1e6;
	if (Tail > Out.StallMs)
	{
		Out.StallMs = Tail;
		Out.StallAtMs = double(LastTickNs) / 1e6;
	}
	Watch.stop();
	Out.Stalls = Stalls;
	Lines.reset();
	if (!bDone)
	{
		OutError = QStringLiteral("the relocation did not finish");
		return false;
	}
	const QString Expected = QStringLiteral("/Game/") + Workspace + QStringLiteral("/Maps/Entry.Entry");
	const QStringList Outside = Sdk->CheckFoldersNeedMove(Sdk->GetCurrentLevelPath());
	QList<FAssetData> All;
	Host.AssetRegistry().GetAllAssets(All);
	const bool bRedirectors =
	    std::any_of(All.cbegin(), All.cend(), [](const FAssetData& Asset) { return Asset.IsRedirector(); });
	Host.Shutdown();
	if (Sdk->GetCurrentLevelPath().ToString() != Expected || !Outside.isEmpty() || bRedirectors)
	{
		OutError = QStringLiteral("the relocation left %1 packages outside, redirectors: %2, entry %3")
		               .arg(Outside.size())
		               .arg(bRedirectors ? QStringLiteral("yes") : QStringLiteral("no"), Expected);
		return false;
	}
	return true;
}

double Median(QList<double> Values)
{
	std::sort(Values.begin(), Values.end());
	const qsizetype Middle = Values.size() / 2;
	return Values.size() % 2 ? Values[Middle] : (Values[Middle - 1] + Values[Middle]) / 2;
}
} // namespace

int main(int argc, char** argv)
{
	QCoreApplication App(argc, argv);
	FLog::SetStderrEnabled(false);
	std::setvbuf(stdout, nullptr, _IOLBF, 0);
	int Packages = 10000;
	int Rounds = 5;
	QString Parent;
	const QStringList Args = App.arguments();
	for (qsizetype Index = 1; Index < Args.size(); Index += 2)
	{
		if (Args[Index] == QStringLiteral("--verbose"))
		{
			bVerbose = true;
			--Index;
		}
		else if (Args[Index] == QStringLiteral("--fresh-fs"))
		{
			bFreshFileSystems = true;
			--Index;
		}
		else if (Index + 1 >= Args.size())
		{
			break;
		}
		else if (Args[Index] == QStringLiteral("--packages"))
		{
			Packages = Args[Index + 1].toInt();
		}
		else if (Args[Index] == QStringLiteral("--rounds"))
		{
			Rounds = Args[Index + 1].toInt();
		}
		else if (Args[Index] == QStringLiteral("--dir"))
		{
			Parent = Args[Index + 1];
		}
	}
	Rounds = std::max(1, Rounds);
	const std::unique_ptr<QTemporaryDir> Temp =
	    Parent.isEmpty() ? std::make_unique<QTemporaryDir>()
	                     : std::make_unique<QTemporaryDir>(Parent + QStringLiteral("/RelocationBench-XXXXXX"));
	if (!Temp->isValid())
	{
		std::fprintf(stderr, "Cannot create a working folder\n");
		return 1;
	}
	FSyntheticProjectOptions Options;
	Options.RootDir = Temp->path() + QStringLiteral("/Pristine");
	Options.PackageCount = Packages;
	QString Error;
	const std::optional<FSyntheticProject> Project = FSyntheticProject::Generate(Options, &Error);
	if (!Project)
	{
		std::fprintf(stderr, "Cannot generate the project: %s\n", qPrintable(Error));
		return 1;
	}
	std::printf("RelocationBench: %d packages (%d external) in %d top-level folders, workspace /Game/%s, %d rounds, "
	            "in %s\n",
	            Project->PackageCount, Project->ExternalPackageCount, int(Project->TopFolders.size()),
	            qPrintable(Workspace), Rounds, qPrintable(Temp->path()));
	if (bFreshFileSystems)
	{
		std::printf("each side on an ext4 file system of its own (2 GiB image, loop device, direct I/O, no journal)\n");
	}
	std::printf("ours: folder moves one per tick (0.1 s, then every 0.99 s) + redirector fix-up; peer: mv + one sed -i "
	            "pass\n");

	// The ticks alone: one per folder, the first after 0.1 s and then every 0.99 s, and one more that
	// finishes (and fixes up); ours cannot end sooner, whatever its work costs.
	const double TicksMs = 100.0 + 990.0 * double(Project->TopFolders.size());
	std::printf("the ticks alone take %.0f ms (%d folders); \"beyond the ticks\" is ours less that\n", TicksMs,
	            int(Project->TopFolders.size()));
	QList<FRound> Results;
	bool bOk = true;
	for (int Round = 0; Round < Rounds && bOk; ++Round)
	{
		FRound Result;
		Result.bOursFirst = Round % 2 == 0;
		// Each round works on copies of its own, all removed at the end: deleting tens of thousands
		// of files just before a side runs would slow that side's every file creation (ext4 without
		// a journal searches past recently freed inodes), a cost that belongs to neither side.
		const QString OursRoot = Temp->path() + QStringLiteral("/Ours%1").arg(Round + 1);
		const QString PeerRoot = Temp->path() + QStringLiteral("/Peer%1").arg(Round + 1);
		for (int Side = 0; Side < 2 && bOk; ++Side)
		{
			const bool bOurs = (Side == 0) == Result.bOursFirst;
			const QString Root = bOurs ? OursRoot : PeerRoot;
			std::optional<FFreshFileSystem> FileSystem;
			if (bFreshFileSystems)
			{
				FileSystem.emplace();
				bOk = FileSystem->Make(Root + QStringLiteral("-fs"), Error);
			}
			bOk = bOk &&
			      CopyProject(Options.RootDir, bFreshFileSystems ? Root + QStringLiteral("-fs/Project") : Root, Error);
			if (bOk)
			{
				const QString ProjectRoot = bFreshFileSystems ? Root + QStringLiteral("-fs/Project") : Root;
				bOk = bOurs ? RunOurs(ProjectRoot, *Project, Temp->path() + QStringLiteral("/UserSettings"), Result,
				                      Error)
				            : RunPeer(ProjectRoot, *Project, Result.PeerMs, Error);
			}
			if (!bOk)
			{
				std::printf("round %d: %s failed: %s\n", Round + 1, bOurs ? "ours" : "peer", qPrintable(Error));
			}
		}
		if (!bOk)
		{
			break;
		}
		Results.append(Result);
		std::printf("round %d (%s first): ours %8.1f ms, peer %8.1f ms, ratio %.2f; beyond the ticks %.1f ms, ratio "
		            "%.2f; longest main-thread stall %.1f ms at %.0f ms (%d over %.0f ms)\n",
		            Round + 1, Result.bOursFirst ? "ours" : "peer", Result.OursMs, Result.PeerMs,
		            Result.OursMs / Result.PeerMs, Result.OursMs - TicksMs, (Result.OursMs - TicksMs) / Result.PeerMs,
		            Result.StallMs, Result.StallAtMs, Result.Stalls, TargetStallMs);
	}
	if (Results.isEmpty())
	{
		return 1;
	}
	QList<double> Ratios;
	QList<double> BeyondRatios;
	double Stall = 0;
	double StallAt = 0;
	int StallRound = 0;
	for (qsizetype Index = 0; Index < Results.size(); ++Index)
	{
		Ratios.append(Results[Index].OursMs / Results[Index].PeerMs);
		BeyondRatios.append((Results[Index].OursMs - TicksMs) / Results[Index].PeerMs);
		if (Results[Index].StallMs > Stall)
		{
			Stall = Results[Index].StallMs;
			StallAt = Results[Index].StallAtMs;
			StallRound = int(Index) + 1;
		}
	}
	const double MedianRatio = Median(Ratios);
	std::printf("ratio ours/peer: min %.2f / median %.2f / max %.2f over %d rounds\n",
	            *std::min_element(Ratios.cbegin(), Ratios.cend()), MedianRatio,
	            *std::max_element(Ratios.cbegin(), Ratios.cend()), int(Ratios.size()));
	std::printf("ratio beyond the ticks / peer (no target): min %.2f / median %.2f / max %.2f\n",
	            *std::min_element(BeyondRatios.cbegin(), BeyondRatios.cend()), Median(BeyondRatios),
	            *std::max_element(BeyondRatios.cbegin(), BeyondRatios.cend()));
	std::printf("longest main-thread stall: %.1f ms, round %d at %.0f ms\n", Stall, StallRound, StallAt);
	std::printf("target: median ratio <= %.1f: %s\n", TargetRatio, MedianRatio <= TargetRatio ? "met" : "MISSED");
	std::printf("target: no main-thread stall over %.0f ms: %s\n", TargetStallMs,
	            Stall <= TargetStallMs ? "met" : "MISSED");
	return bOk && MedianRatio <= TargetRatio && Stall <= TargetStallMs ? 0 : 1;
}
