#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>

enum class EEditorJobState
{
	Waiting,
	Running,
	Succeeded,
	Failed,
	Cancelled,
};

// One long operation in the shape every transfer and build of the editor shares: it is started,
// may be cancelled, reports its progress and ends once, with an error text when it failed. Who
// shows it (a toast, the activity list, a script) only watches these signals, so a new kind of
// work needs no display code of its own.
//
// A job owns itself: once it has ended it releases itself with deleteLater(), unless its owner
// turned that off. Main thread only.
class UEditorJob : public QObject
{
	Q_OBJECT

public:
	explicit UEditorJob(QObject* Parent = nullptr);

	// Runs the work; a job that runs or has ended is not started again.
	void Start();
	// Asks the work to stop. False when the job cannot be cancelled (or has ended); otherwise it
	// ends as cancelled, now or once the work has let go of what it holds.
	bool Cancel();

	EEditorJobState GetState() const { return State; }
	bool IsRunning() const { return State == EEditorJobState::Running; }
	bool HasEnded() const { return State >= EEditorJobState::Succeeded; }
	bool IsCancellable() const { return bCancellable; }
	// Why the job failed or was cancelled, in the creator's words; empty on success.
	QString GetErrorText() const { return ErrorText; }

	// What the job does, for whoever lists it ("Upload Entry_WindowsServer").
	QString GetTitle() const { return Title; }
	void SetTitle(const QString& InTitle);
	// A short word on the step the work is at ("Requesting credentials"); empty when there is none.
	QString GetPhase() const { return Phase; }

	// Units done and in all; Total is 0 while unknown. Bytes when IsMeasuredInBytes.
	qint64 GetDone() const { return Done; }
	qint64 GetTotal() const { return Total; }
	bool IsMeasuredInBytes() const { return bInBytes; }
	// Units per second over the recent samples; 0 while unknown.
	double GetRate() const { return Rate; }
	// Seconds left at the current rate; -1 while unknown.
	qint64 GetSecondsLeft() const;

	// Whether the job releases itself once it has ended (the default).
	void SetAutoDelete(bool bInAutoDelete) { bAutoDelete = bInAutoDelete; }
	// The time source of the rate, in milliseconds (tests step it by hand).
	void SetClock(std::function<qint64()> InClock) { Clock = std::move(InClock); }

Q_SIGNALS:
	void Started(UEditorJob* Job);
	// Progress, phase or title changed.
	void Changed(UEditorJob* Job);
	// Emitted once; GetState tells how it ended.
	void Finished(UEditorJob* Job);

protected:
	// The work itself. It reports through SetProgress, SetPhase and one of the Finish calls.
	virtual void DoStart() = 0;
	// Starts stopping the work; false when it cannot stop. The work then ends with FinishCancelled.
	virtual bool DoCancel() { return false; }

	void SetCancellable(bool bInCancellable);
	void SetProgress(qint64 InDone, qint64 InTotal, bool bBytes);
	void SetPhase(const QString& InPhase);
	void FinishSucceeded();
	void FinishFailed(const QString& Error);
	void FinishCancelled(const QString& Why);

private:
	void Finish(EEditorJobState EndState, const QString& Error);
	qint64 Now() const;

	QString Title;
	QString Phase;
	QString ErrorText;
	EEditorJobState State = EEditorJobState::Waiting;
	qint64 Done = 0;
	qint64 Total = 0;
	bool bInBytes = false;
	bool bCancellable = false;
	bool bAutoDelete = true;
	// The rate follows a smoothed average, so one slow burst does not swing the time left.
	double Rate = 0.0;
	qint64 LastSampleMs = -1;
	qint64 LastSampleDone = 0;
	QElapsedTimer Elapsed;
	std::function<qint64()> Clock;
};

// A job whose work is carried out by its owner, step by step (a move driven by a timer, a request
// and its answer): the owner reports through the public calls, and a cancel runs OnCancel.
class UEditorStepJob : public UEditorJob
{
	Q_OBJECT

public:
	explicit UEditorStepJob(const QString& InTitle, QObject* Parent = nullptr);

	// Set before the job starts: the job can then be cancelled, and Cancel calls it. The work
	// ends with Cancelled once it has stopped.
	void SetOnCancel(std::function<void()> InOnCancel);

	using UEditorJob::FinishCancelled;
	using UEditorJob::FinishFailed;
	using UEditorJob::FinishSucceeded;
	using UEditorJob::SetPhase;
	using UEditorJob::SetProgress;

protected:
	void DoStart() override {}
	bool DoCancel() override;

private:
	std::function<void()> OnCancel;
};
