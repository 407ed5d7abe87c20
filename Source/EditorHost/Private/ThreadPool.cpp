#include "ThreadPool.h"

#include "GameThread.h"
#include "ThreadName.h"

#include <QCoreApplication>
#include <QRunnable>
#include <QThread>
#include <QThreadPool>

FQueuedThreadPool* GThreadPool = nullptr;

FWeakContext::FWeakContext(QObject* Context)
{
	if (!Context)
	{
		return;
	}
	State = std::make_shared<FState>();
	State->Object = Context;
	// Direct: the flag turns as the receiver dies, on its own thread, before anything queued
	// after that could look at it.
	State->Watch = QObject::connect(
	    Context, &QObject::destroyed, Context,
	    [Weak = std::weak_ptr<FState>(State)]
	    {
		    if (const std::shared_ptr<FState> Alive = Weak.lock())
		    {
			    Alive->bAlive.store(false, std::memory_order_release);
		    }
	    },
	    Qt::DirectConnection);
}

// A receiver that lives long would otherwise gather one dead connection per task.
FWeakContext::FState::~FState()
{
	QObject::disconnect(Watch);
}

QObject* FWeakContext::Get() const
{
	return IsAlive() ? State->Object : nullptr;
}

namespace
{
void NameWorkerThread(std::atomic<int>& NextNumber)
{
	thread_local bool bNamed = false;
	if (!bNamed)
	{
		bNamed = true;
		FThreadName::SetCurrent(QStringLiteral("PoolThread %1").arg(NextNumber.fetch_add(1) + 1));
	}
}
} // namespace

FQueuedThreadPool::FQueuedThreadPool(int NumThreads)
    : Pool(std::make_unique<QThreadPool>())
    , NextThreadNumber(std::make_shared<std::atomic<int>>(0))
{
	Pool->setMaxThreadCount(NumThreads > 0 ? NumThreads : qMax(2, QThread::idealThreadCount()));
	// Idle threads stay, so their names (and numbers) stay put for a session's log.
	Pool->setExpiryTimeout(-1);
}

FQueuedThreadPool::~FQueuedThreadPool()
{
	Pool->waitForDone();
}

void FQueuedThreadPool::AddQueuedWork(IQueuedWork* Work)
{
	Pool->start(
	    [Work, Numbers = NextThreadNumber]
	    {
		    NameWorkerThread(*Numbers);
		    Work->DoThreadedWork();
	    });
}

void FQueuedThreadPool::Run(const FWeakContext& Context, std::function<void()> Work)
{
	Pool->start(
	    [Context, Work = std::move(Work), Numbers = NextThreadNumber]
	    {
		    NameWorkerThread(*Numbers);
		    if (Context.IsAlive())
		    {
			    Work();
		    }
	    });
}

bool FQueuedThreadPool::WaitForIdle(int TimeoutMs)
{
	return Pool->waitForDone(TimeoutMs);
}

int FQueuedThreadPool::GetNumThreads() const
{
	return Pool->maxThreadCount();
}

void AsyncTask(ENamedThreads Thread, const FWeakContext& Context, std::function<void()> Work)
{
	if (Thread == ENamedThreads::AnyThread)
	{
		if (GThreadPool)
		{
			GThreadPool->Run(Context, std::move(Work));
		}
		else if (Context.IsAlive())
		{
			Work();
		}
		return;
	}
	QCoreApplication* App = QCoreApplication::instance();
	if (!App)
	{
		return;
	}
	// Posted to the application object, which outlives every receiver; the check runs on the
	// main thread, where receivers die, so it cannot race with a destructor.
	QMetaObject::invokeMethod(
	    App,
	    [Context, Work = std::move(Work)]
	    {
		    if (Context.IsAlive())
		    {
			    Work();
		    }
	    },
	    Qt::QueuedConnection);
}

void AsyncTask(ENamedThreads Thread, QObject* Context, std::function<void()> Work)
{
	if (Thread == ENamedThreads::GameThread && Context && Context->thread() == QThread::currentThread())
	{
		FGameThread::Post(Context, std::move(Work));
		return;
	}
	AsyncTask(Thread, FWeakContext(Context), std::move(Work));
}
