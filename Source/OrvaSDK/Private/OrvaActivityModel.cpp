#include "OrvaActivityModel.h"

#include "Log.h"
#include "OrvaSDKSubsystem.h"
#include "Paths.h"

#include <QDir>

#include <deque>

// Keeps the latest log lines, numbered from the model's start, for the rows to point into.
class UOrvaActivityModel::FLogKeeper : public FLogSink
{
public:
	FLogKeeper() { FLog::AddSink(this); }
	~FLogKeeper() override { FLog::RemoveSink(this); }

	void Receive(const FLogLine& Line) override
	{
		const std::lock_guard Guard(Mutex);
		Lines.push_back(Line.Format());
		if (Lines.size() > size_t(MaxLogLines))
		{
			Lines.pop_front();
			++Dropped;
		}
	}

	qint64 End() const
	{
		const std::lock_guard Guard(Mutex);
		return Dropped + qint64(Lines.size());
	}

	QStringList Range(qint64 First, qint64 EndLine) const
	{
		const std::lock_guard Guard(Mutex);
		QStringList Result;
		const qint64 Last = EndLine < 0 ? Dropped + qint64(Lines.size()) : EndLine;
		for (qint64 Index = qMax(First, Dropped); Index < Last && Index - Dropped < qint64(Lines.size()); ++Index)
		{
			Result.append(Lines[size_t(Index - Dropped)]);
		}
		return Result;
	}

private:
	mutable std::mutex Mutex;
	std::deque<QString> Lines;
	qint64 Dropped = 0;
};

UOrvaActivityModel::UOrvaActivityModel(UOrvaSDKSubsystem* InSdk)
    : QObject(InSdk)
    , Sdk(InSdk)
    , Log(std::make_unique<FLogKeeper>())
{
}

UOrvaActivityModel::~UOrvaActivityModel() = default;

int UOrvaActivityModel::Track(UEditorJob* Job, EOrvaActivityStep Step, const QString& World,
                              std::function<void()> Retry)
{
	if (!Job)
	{
		return 0;
	}
	FEntry Entry;
	Entry.Row.Id = NextId++;
	Entry.Row.Step = Step;
	Entry.Row.World = World;
	Entry.Row.StartedAt = QDateTime::currentDateTimeUtc();
	Entry.Job = Job;
	Entry.Retry = std::move(Retry);
	Entry.FirstLine = Log->End();
	const int Id = Entry.Row.Id;
	Entries.append(std::move(Entry));
	Update(Entries.last(), Job);
	if (Job->HasEnded())
	{
		Entries.last().Row.EndedAt = Entries.last().Row.StartedAt;
		Entries.last().EndLine = Log->End();
		Entries.last().Job = nullptr;
		Q_EMIT RowAdded(Id);
		return Id;
	}

	connect(Job, &UEditorJob::Changed, this,
	        [this, Id](UEditorJob* Changed)
	        {
		        if (FEntry* Found = Find(Id))
		        {
			        Update(*Found, Changed);
			        Q_EMIT RowChanged(Id);
		        }
	        });
	connect(Job, &UEditorJob::Started, this,
	        [this, Id](UEditorJob* Started)
	        {
		        if (FEntry* Found = Find(Id))
		        {
			        Found->Row.StartedAt = QDateTime::currentDateTimeUtc();
			        Update(*Found, Started);
			        Q_EMIT RowChanged(Id);
		        }
	        });
	connect(Job, &UEditorJob::Finished, this,
	        [this, Id](UEditorJob* Ended)
	        {
		        FEntry* Found = Find(Id);
		        if (!Found)
		        {
			        return;
		        }
		        Update(*Found, Ended);
		        Found->Row.EndedAt = QDateTime::currentDateTimeUtc();
		        Found->EndLine = Log->End();
		        Found->Job = nullptr;
		        Q_EMIT RowChanged(Id);
		        TrimEnded();
	        });
	Q_EMIT RowAdded(Id);
	return Id;
}

void UOrvaActivityModel::Update(FEntry& Entry, UEditorJob* Job)
{
	FOrvaActivityRow& Row = Entry.Row;
	Row.What = Job->GetTitle();
	Row.Phase = Job->GetPhase();
	Row.State = Job->GetState();
	Row.Cause = Job->GetErrorText();
	Row.Done = Job->GetDone();
	Row.Total = Job->GetTotal();
	Row.bBytes = Job->IsMeasuredInBytes();
	Row.Rate = Job->GetRate();
	Row.SecondsLeft = Job->GetSecondsLeft();
	Row.bCanCancel = !Job->HasEnded() && Job->IsCancellable();
	Row.bCanRetry =
	    bool(Entry.Retry) && (Row.State == EEditorJobState::Failed || Row.State == EEditorJobState::Cancelled);
}

UOrvaActivityModel::FEntry* UOrvaActivityModel::Find(int Id)
{
	for (FEntry& Entry : Entries)
	{
		if (Entry.Row.Id == Id)
		{
			return &Entry;
		}
	}
	return nullptr;
}

QList<FOrvaActivityRow> UOrvaActivityModel::GetRows() const
{
	QList<FOrvaActivityRow> Rows;
	Rows.reserve(Entries.size());
	for (const FEntry& Entry : Entries)
	{
		Rows.append(Entry.Row);
	}
	return Rows;
}

const FOrvaActivityRow* UOrvaActivityModel::FindRow(int Id) const
{
	for (const FEntry& Entry : Entries)
	{
		if (Entry.Row.Id == Id)
		{
			return &Entry.Row;
		}
	}
	return nullptr;
}

bool UOrvaActivityModel::Cancel(int Id)
{
	FEntry* Found = Find(Id);
	// The job ends as cancelled through its own signals.
	return Found && Found->Job && Found->Job->Cancel();
}

bool UOrvaActivityModel::Retry(int Id)
{
	FEntry* Found = Find(Id);
	if (!Found || !Found->Row.bCanRetry)
	{
		return false;
	}
	std::function<void()> Again = std::move(Found->Retry);
	const QString What = Found->Row.What;
	Dismiss(Id);
	UE_LOG(LogTemp, Display, QStringLiteral("Retrying: %1").arg(What));
	// It tracks the steps it starts as new rows.
	Again();
	return true;
}

bool UOrvaActivityModel::Dismiss(int Id)
{
	for (qsizetype Index = 0; Index < Entries.size(); ++Index)
	{
		if (Entries[Index].Row.Id == Id)
		{
			if (Entries[Index].Job)
			{
				return false;
			}
			Entries.removeAt(Index);
			Q_EMIT RowRemoved(Id);
			return true;
		}
	}
	return false;
}

void UOrvaActivityModel::TrimEnded()
{
	int Ended = 0;
	for (const FEntry& Entry : std::as_const(Entries))
	{
		Ended += Entry.Job ? 0 : 1;
	}
	for (qsizetype Index = 0; Ended > MaxEndedRows && Index < Entries.size();)
	{
		const FEntry& Entry = Entries[Index];
		if (!Entry.Job && Entry.Row.State == EEditorJobState::Succeeded)
		{
			const int Id = Entry.Row.Id;
			Entries.removeAt(Index);
			--Ended;
			Q_EMIT RowRemoved(Id);
			continue;
		}
		++Index;
	}
}

QStringList UOrvaActivityModel::GetLogLines(int Id) const
{
	for (const FEntry& Entry : Entries)
	{
		if (Entry.Row.Id == Id)
		{
			return Log->Range(Entry.FirstLine, Entry.EndLine);
		}
	}
	return {};
}

FOrvaPublishOutcome UOrvaActivityModel::GetLastOutcome(const QString& World) const
{
	FOrvaPublishOutcome Latest;
	const QString WorldRoot = Sdk ? Sdk->GetWorldOutputRoot(World) : QString();
	if (WorldRoot.isEmpty())
	{
		return Latest;
	}
	// Each level of the world keeps its own record; the newest confirmation tells the outcome.
	const QStringList Levels = QDir(WorldRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
	for (const QString& Level : Levels)
	{
		const auto Record = UOrvaSDKSubsystem::LoadPublishedRecord(FPaths::Combine(WorldRoot, Level));
		if (Record.isEmpty())
		{
			continue;
		}
		FOrvaPublishOutcome Outcome;
		Outcome.Level = Level;
		QStringList Platforms = Record.keys();
		Platforms.sort();
		for (const QString& Platform : std::as_const(Platforms))
		{
			const auto& Published = Record[Platform];
			const QDateTime At = QDateTime::fromString(Published.PublishedAt, Qt::ISODate);
			if (!Outcome.PublishedAt.isValid() || At > Outcome.PublishedAt)
			{
				Outcome.PublishedAt = At;
				Outcome.CheckCode = Published.CheckCode;
			}
			Outcome.Paks.append(FOrvaPublishOutcome::FPak{Platform, Published.ComponentId, Published.Size});
		}
		if (Latest.IsEmpty() || Outcome.PublishedAt > Latest.PublishedAt)
		{
			Latest = Outcome;
		}
	}
	return Latest;
}

void UOrvaActivityModel::NotifyOutcomeRecorded(const QString& World)
{
	Q_EMIT OutcomeChanged(World);
}
