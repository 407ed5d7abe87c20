#include "ProcWorkerThread.h"

#include "Log.h"

#include <QRegularExpression>
#include <QTimer>

namespace
{
// What the child's own log lines start with; stripped so the editor's log does not repeat it.
const QString ChildCategoryPrefix = QStringLiteral("LogHotPatcher: ");
} // namespace

FProcWorkerThread::FProcWorkerThread(const QString& InExecutable, const QString& InCommandLine,
                                     const QString& InMissionName, QObject* Parent)
    : UEditorJob(Parent)
    , Executable(InExecutable)
    , CommandLine(InCommandLine)
    , MissionName(InMissionName)
{
	SetTitle(MissionName);
	// Held by whoever ran it (the module, the subsystem), who may still read it after the end.
	SetAutoDelete(false);
}

FProcWorkerThread::~FProcWorkerThread()
{
	if (Process && Process->state() != QProcess::NotRunning)
	{
		Process->disconnect(this);
		Process->kill();
		Process->waitForFinished(2000);
	}
}

void FProcWorkerThread::Execute()
{
	Start();
}

void FProcWorkerThread::DoStart()
{
	Status = EProcWorkerStatus::Running;
	SetCancellable(true);
	Process = new QProcess(this);
	Process->setProcessChannelMode(QProcess::MergedChannels);
	Process->setProgram(Executable);
	Process->setArguments(QProcess::splitCommand(CommandLine));
	connect(Process, &QProcess::readyReadStandardOutput, this, [this] { ReadOutput(false); });
	connect(Process, &QProcess::errorOccurred, this,
	        [this](QProcess::ProcessError Error)
	        {
		        if (Error == QProcess::FailedToStart)
		        {
			        End(false, QStringLiteral("Cannot start %1: %2").arg(Executable, Process->errorString()));
		        }
	        });
	connect(Process, &QProcess::finished, this,
	        [this](int Code, QProcess::ExitStatus ExitStatus)
	        {
		        ReadOutput(true);
		        if (bCancelled)
		        {
			        End(false, QStringLiteral("The mission %1 was cancelled").arg(MissionName));
			        return;
		        }
		        if (ExitStatus != QProcess::NormalExit)
		        {
			        End(false, QStringLiteral("The mission %1 crashed").arg(MissionName));
			        return;
		        }
		        ExitCode = Code;
		        End(Code == 0, Code == 0 ? QString() : LastLine);
	        });
	Process->start();
}

bool FProcWorkerThread::DoCancel()
{
	if (bEnded || Status != EProcWorkerStatus::Running || !Process)
	{
		return false;
	}
	bCancelled = true;
	SetCancellable(false);
	if (Process->state() == QProcess::NotRunning)
	{
		End(false, QStringLiteral("The mission %1 was cancelled").arg(MissionName));
		return true;
	}
	// The build writes under temporary names and renames at the end, so stopping it at once leaves
	// no partial pak behind.
	Process->kill();
	return true;
}

void FProcWorkerThread::ReadOutput(bool bFlush)
{
	if (!Process)
	{
		return;
	}
	Pending.append(Process->readAllStandardOutput());
	qsizetype Start = 0;
	for (qsizetype End = Pending.indexOf('\n'); End >= 0; End = Pending.indexOf('\n', Start))
	{
		HandleLine(QString::fromUtf8(Pending.constData() + Start, End - Start));
		Start = End + 1;
	}
	Pending.remove(0, Start);
	// A process that never ends its line does not make the editor hold all it writes.
	constexpr qsizetype MaxLineBytes = 64 * 1024;
	if ((bFlush || Pending.size() > MaxLineBytes) && !Pending.isEmpty())
	{
		HandleLine(QString::fromUtf8(Pending));
		Pending.clear();
	}
}

void FProcWorkerThread::HandleLine(const QString& RawLine)
{
	QString Line = RawLine;
	if (Line.endsWith(QLatin1Char('\r')))
	{
		Line.chop(1);
	}
	if (Line.trimmed().isEmpty())
	{
		return;
	}
	if (Line.startsWith(ChildCategoryPrefix))
	{
		Line = Line.mid(ChildCategoryPrefix.size());
	}
	LastLine = Line;
	UE_LOG(LogHotPatcher, Display, Line);
	Q_EMIT ProcOutputLine(this, Line);
	static const QRegularExpression Progress(QStringLiteral("Packaging progress: (\\d{1,3})%"));
	const QRegularExpressionMatch Match = Progress.match(Line);
	if (Match.hasMatch())
	{
		const int Percent = qBound(0, Match.captured(1).toInt(), 100);
		if (Percent != ProgressPercent)
		{
			ProgressPercent = Percent;
			SetProgress(Percent, 100, false);
			Q_EMIT ProcProgress(this, Percent);
		}
	}
}

void FProcWorkerThread::End(bool bSuccess, const QString& Reason)
{
	if (bEnded)
	{
		return;
	}
	bEnded = true;
	SetCancellable(false);
	Status = bSuccess ? EProcWorkerStatus::Succeeded : EProcWorkerStatus::Failed;
	FailureReason =
	    bSuccess ? QString()
	             : (Reason.isEmpty()
	                    ? QStringLiteral("The mission %1 failed with exit status %2").arg(MissionName).arg(ExitCode)
	                    : Reason);
	if (bSuccess)
	{
		UE_LOG(LogHotPatcher, Display, QStringLiteral("Mission %1 succeeded").arg(MissionName));
	}
	else
	{
		UE_LOG(LogHotPatcher, Error, QStringLiteral("Mission %1 failed: %2").arg(MissionName, FailureReason));
	}
	// Posted, so that the caller of RunProcMission has bound its handlers, whatever happened inside
	// start().
	QTimer::singleShot(0, this,
	                   [this, bSuccess]
	                   {
		                   if (bSuccess)
		                   {
			                   FinishSucceeded();
			                   Q_EMIT ProcSuccessed(this);
		                   }
		                   else
		                   {
			                   if (bCancelled)
			                   {
				                   FinishCancelled(FailureReason);
			                   }
			                   else
			                   {
				                   FinishFailed(FailureReason);
			                   }
			                   Q_EMIT ProcFaild(this);
		                   }
	                   });
}
