#pragma once

#include "EditorJob.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

class UOrvaSDKSubsystem;

// The steps of a publish, in the order a publish runs them.
enum class EOrvaActivityStep
{
	Relocation,
	Build,
	Registration,
	Upload,
	Launch,
};

// One step of a publish as the activity list shows it: a copy, taken when asked.
struct FOrvaActivityRow
{
	int Id = 0;
	EOrvaActivityStep Step = EOrvaActivityStep::Upload;
	// What the step does ("Upload 3f2a…"), and the world (identifier) it is for.
	QString What;
	QString World;
	// Where the work is ("Asking for storage credentials"); after the end, what it came to.
	QString Phase;
	EEditorJobState State = EEditorJobState::Waiting;
	// Why it failed or was cancelled.
	QString Cause;
	qint64 Done = 0;
	// 0 while unknown.
	qint64 Total = 0;
	bool bBytes = false;
	// Per second; 0 while unknown.
	double Rate = 0.0;
	// -1 while unknown.
	qint64 SecondsLeft = -1;
	QDateTime StartedAt;
	QDateTime EndedAt;
	bool bCanCancel = false;
	bool bCanRetry = false;
};

// What the service last confirmed holding complete of a world: one entry per platform.
struct FOrvaPublishOutcome
{
	struct FPak
	{
		QString Platform;
		QString ComponentId;
		qint64 Size = 0;
	};
	// The level whose build was published.
	QString Level;
	QString CheckCode;
	// The latest confirmation of the entries, UTC.
	QDateTime PublishedAt;
	QList<FPak> Paks;

	bool IsEmpty() const { return Paks.isEmpty(); }
};

// The current and past steps of the publishes of this project: relocation, build, registration,
// upload per pak (its completion with the service included), launch. Each step is a job; the list
// follows it and keeps it after its end: done steps until the list is long, failed and cancelled
// ones until the creator dismisses them. A failed step can be retried: the retry runs the step
// again, and what the service already holds complete is passed over by the upload itself.
//
// The log lines written while a step ran are kept with it. The last outcome per world is not kept
// here but read from what the subsystem records beside each build, so it outlives the editor.
// Owned by the SDK subsystem; main thread only (log lines may come from any thread).
class UOrvaActivityModel : public QObject
{
	Q_OBJECT

public:
	explicit UOrvaActivityModel(UOrvaSDKSubsystem* InSdk);
	~UOrvaActivityModel() override;

	// Follows Job (which must not have ended) as a step of World. Retry, when given, starts the
	// step again. Returns the row's id.
	int Track(UEditorJob* Job, EOrvaActivityStep Step, const QString& World, std::function<void()> Retry = {});

	QList<FOrvaActivityRow> GetRows() const;
	// Null when there is no such row.
	const FOrvaActivityRow* FindRow(int Id) const;

	bool Cancel(int Id);
	// Drops the failed or cancelled row and runs its step again.
	bool Retry(int Id);
	// Drops an ended row.
	bool Dismiss(int Id);

	// The log lines written from the step's start to its end (to now while it runs), in the
	// engine's form. Lines of steps that ran at the same time are among them.
	QStringList GetLogLines(int Id) const;

	// What the service last confirmed of World; empty when nothing of it was published.
	FOrvaPublishOutcome GetLastOutcome(const QString& World) const;
	// Said by the subsystem once a new confirmation of World is on disk.
	void NotifyOutcomeRecorded(const QString& World);

	// Ended rows beyond this many are dropped, oldest successes first; failures stay.
	static constexpr int MaxEndedRows = 40;
	// Log lines kept for the rows; older ones are forgotten.
	static constexpr int MaxLogLines = 20000;

Q_SIGNALS:
	void RowAdded(int Id);
	void RowChanged(int Id);
	void RowRemoved(int Id);
	void OutcomeChanged(const QString& World);

private:
	struct FEntry
	{
		FOrvaActivityRow Row;
		QPointer<UEditorJob> Job;
		std::function<void()> Retry;
		// Positions in the log kept since the model was made.
		qint64 FirstLine = 0;
		qint64 EndLine = -1;
	};
	class FLogKeeper;

	FEntry* Find(int Id);
	void Update(FEntry& Entry, UEditorJob* Job);
	void TrimEnded();

	UOrvaSDKSubsystem* Sdk = nullptr;
	QList<FEntry> Entries;
	int NextId = 1;
	std::unique_ptr<FLogKeeper> Log;
};

Q_DECLARE_METATYPE(EOrvaActivityStep)
