#pragma once

#include "EditorJob.h"

#include <QObject>
#include <QProcess>
#include <QString>

#include <memory>

enum class EProcWorkerStatus
{
	Ready,
	Running,
	Succeeded,
	Failed
};

// Watches one process of a packaging mission. Everything happens on the main thread: the process
// is started and read through QProcess, and the end is posted to the event loop, so a handler
// bound right after the mission was started never misses it. The mission is a job: Execute starts
// it, Cancel stops the process, its progress is the reported percentage. At the end the job
// finishes first (with the failure reason as its cause; cancelled when a cancel stopped it), then
// exactly one of ProcSuccessed and ProcFaild fires, once, when the process ends, fails to start
// or is cancelled. Its owner keeps it (it does not release itself).
class FProcWorkerThread : public UEditorJob
{
	Q_OBJECT

public:
	FProcWorkerThread(const QString& InExecutable, const QString& InCommandLine, const QString& InMissionName,
	                  QObject* Parent = nullptr);
	// A process still running is stopped.
	~FProcWorkerThread() override;

	// Start() under the mission's name.
	void Execute();

	// True once the mission ended with exit status 0.
	bool IsSucceeded() const { return Status == EProcWorkerStatus::Succeeded; }
	EProcWorkerStatus GetStatus() const { return Status; }
	QString GetMissionName() const { return MissionName; }
	QString GetExecutable() const { return Executable; }
	QString GetCommandLine() const { return CommandLine; }
	// The exit status of the process; -1 when it did not exit by itself.
	int GetExitCode() const { return ExitCode; }
	// Why the mission failed: the last line the process wrote, or what kept it from running.
	QString GetFailureReason() const { return FailureReason; }
	// The last progress the process reported, 0 to 100; -1 before any.
	int GetProgressPercent() const { return ProgressPercent; }
	qint64 GetProcessId() const { return Process ? Process->processId() : 0; }

Q_SIGNALS:
	void ProcSuccessed(FProcWorkerThread* Worker);
	void ProcFaild(FProcWorkerThread* Worker);
	// A "Packaging progress: N%" line.
	void ProcProgress(FProcWorkerThread* Worker, int Percent);
	void ProcOutputLine(FProcWorkerThread* Worker, const QString& Line);

protected:
	void DoStart() override;
	// Stops the process; the failure event follows.
	bool DoCancel() override;

private:
	void ReadOutput(bool bFlush);
	void HandleLine(const QString& Line);
	void End(bool bSuccess, const QString& Reason);

	QString Executable;
	QString CommandLine;
	QString MissionName;
	QProcess* Process = nullptr;
	QByteArray Pending;
	QString LastLine;
	QString FailureReason;
	EProcWorkerStatus Status = EProcWorkerStatus::Ready;
	int ExitCode = -1;
	int ProgressPercent = -1;
	bool bEnded = false;
	bool bCancelled = false;
};

using FProcWorkerThreadPtr = std::shared_ptr<FProcWorkerThread>;
