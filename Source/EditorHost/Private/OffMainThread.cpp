#include "OffMainThread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QRunnable>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <memory>

namespace
{
// A main thread that waits this long without looking at its events reads as a freeze.
constexpr int BreatheEveryMs = 20;
constexpr int ProgressEveryMs = 50;

bool OnMainThreadWithEvents()
{
	const QCoreApplication* App = QCoreApplication::instance();
	return App && QThread::currentThread() == App->thread();
}

struct FParallelState
{
	std::atomic<qsizetype> Next{0};
	std::atomic<qsizetype> Done{0};
	std::atomic<int> Running{0};
	QSemaphore Finished;
};
} // namespace

void OffMainThread::ParallelFor(QThreadPool& Pool, qsizetype Count, const std::function<void(qsizetype)>& Body,
                                const std::function<void(qsizetype)>& OnProgress)
{
	if (Count <= 0)
	{
		return;
	}
	const bool bPumpEvents = OnMainThreadWithEvents();
	// Created before any worker starts, so that the last one always has a loop to wake.
	QEventLoop Loop;
	const auto State = std::make_shared<FParallelState>();
	const int Runners = int(std::clamp<qsizetype>(Count, 1, std::max(1, Pool.maxThreadCount())));
	State->Running = Runners;
	QEventLoop* const LoopToWake = bPumpEvents ? &Loop : nullptr;
	for (int Runner = 0; Runner < Runners; ++Runner)
	{
		Pool.start(
		    [State, Count, &Body, LoopToWake]
		    {
			    for (qsizetype Index = State->Next++; Index < Count; Index = State->Next++)
			    {
				    Body(Index);
				    ++State->Done;
			    }
			    if (--State->Running == 0)
			    {
				    // Posted before the release: the waiting side keeps the loop until it has
				    // acquired, and a loop that is gone drops what was posted to it.
				    if (LoopToWake)
				    {
					    QMetaObject::invokeMethod(
					        LoopToWake, [LoopToWake] { LoopToWake->quit(); }, Qt::QueuedConnection);
				    }
				    State->Finished.release();
			    }
		    });
	}
	if (bPumpEvents && !State->Finished.tryAcquire())
	{
		QTimer Progress;
		if (OnProgress)
		{
			QObject::connect(&Progress, &QTimer::timeout, &Loop, [&] { OnProgress(State->Done.load()); });
			Progress.start(ProgressEveryMs);
		}
		Loop.exec(QEventLoop::ExcludeUserInputEvents);
		// A loop ended early (the application quitting) still waits for the workers, which use
		// the caller's data.
		State->Finished.acquire();
	}
	else if (!bPumpEvents)
	{
		State->Finished.acquire();
	}
	if (OnProgress)
	{
		OnProgress(Count);
	}
}

void OffMainThread::Run(QThreadPool& Pool, const std::function<void()>& Work)
{
	ParallelFor(Pool, 1, [&](qsizetype) { Work(); });
}

FEventBreather::FEventBreather()
    : bOnMainThread(OnMainThreadWithEvents())
{
	Since.start();
}

void FEventBreather::Breathe()
{
	if (bOnMainThread && Since.elapsed() >= BreatheEveryMs)
	{
		QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
		Since.restart();
	}
}
