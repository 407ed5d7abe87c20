#include "EditorJob.h"

#include <cmath>

namespace
{
// Samples closer together than this only move the counters: the rate of a burst of tiny reads
// says nothing.
constexpr qint64 MinSampleSpanMs = 200;
// Weight of the newest sample in the smoothed rate.
constexpr double RateSmoothing = 0.3;
} // namespace

UEditorJob::UEditorJob(QObject* Parent)
    : QObject(Parent)
{
	Elapsed.start();
}

qint64 UEditorJob::Now() const
{
	return Clock ? Clock() : Elapsed.elapsed();
}

void UEditorJob::Start()
{
	if (State != EEditorJobState::Waiting)
	{
		return;
	}
	State = EEditorJobState::Running;
	LastSampleMs = Now();
	LastSampleDone = Done;
	Q_EMIT Started(this);
	DoStart();
}

bool UEditorJob::Cancel()
{
	if (HasEnded() || !bCancellable)
	{
		return false;
	}
	return DoCancel();
}

void UEditorJob::SetTitle(const QString& InTitle)
{
	if (Title == InTitle)
	{
		return;
	}
	Title = InTitle;
	Q_EMIT Changed(this);
}

void UEditorJob::SetCancellable(bool bInCancellable)
{
	if (bCancellable == bInCancellable)
	{
		return;
	}
	bCancellable = bInCancellable;
	// Whoever shows the job offers the cancel only while it can be asked for.
	Q_EMIT Changed(this);
}

void UEditorJob::SetPhase(const QString& InPhase)
{
	if (Phase == InPhase || HasEnded())
	{
		return;
	}
	Phase = InPhase;
	Q_EMIT Changed(this);
}

qint64 UEditorJob::GetSecondsLeft() const
{
	if (Total <= 0 || Rate <= 0.0 || Done > Total)
	{
		return -1;
	}
	return qint64(std::ceil(double(Total - Done) / Rate));
}

void UEditorJob::SetProgress(qint64 InDone, qint64 InTotal, bool bBytes)
{
	if (HasEnded())
	{
		return;
	}
	const qint64 NowMs = Now();
	// A count that went back (a part sent again) starts the rate anew rather than going negative.
	if (InDone < LastSampleDone || LastSampleMs < 0)
	{
		Rate = 0.0;
		LastSampleMs = NowMs;
		LastSampleDone = InDone;
	}
	else if (NowMs - LastSampleMs >= MinSampleSpanMs)
	{
		const double Sample = double(InDone - LastSampleDone) * 1000.0 / double(NowMs - LastSampleMs);
		Rate = Rate > 0.0 ? RateSmoothing * Sample + (1.0 - RateSmoothing) * Rate : Sample;
		LastSampleMs = NowMs;
		LastSampleDone = InDone;
	}
	Done = InDone;
	Total = InTotal;
	bInBytes = bBytes;
	Q_EMIT Changed(this);
}

void UEditorJob::FinishSucceeded()
{
	Finish(EEditorJobState::Succeeded, QString());
}

void UEditorJob::FinishFailed(const QString& Error)
{
	Finish(EEditorJobState::Failed, Error);
}

void UEditorJob::FinishCancelled(const QString& Why)
{
	Finish(EEditorJobState::Cancelled, Why);
}

void UEditorJob::Finish(EEditorJobState EndState, const QString& Error)
{
	if (HasEnded())
	{
		return;
	}
	State = EndState;
	ErrorText = Error;
	Rate = 0.0;
	Q_EMIT Finished(this);
	if (bAutoDelete)
	{
		deleteLater();
	}
}

UEditorStepJob::UEditorStepJob(const QString& InTitle, QObject* Parent)
    : UEditorJob(Parent)
{
	SetTitle(InTitle);
}

void UEditorStepJob::SetOnCancel(std::function<void()> InOnCancel)
{
	OnCancel = std::move(InOnCancel);
	SetCancellable(bool(OnCancel));
}

bool UEditorStepJob::DoCancel()
{
	if (!OnCancel)
	{
		return false;
	}
	// Once: a second click while the work winds down asks nothing more of it.
	std::function<void()> Stop = std::move(OnCancel);
	OnCancel = nullptr;
	SetCancellable(false);
	Stop();
	return true;
}
