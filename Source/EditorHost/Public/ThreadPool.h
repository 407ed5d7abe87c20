#pragma once

#include <QMetaObject>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QThreadPool;

// Whether a receiver still lives, readable from any thread. Make one on the receiver's thread
// (the main thread) while the receiver is alive; copies are cheap and may travel to other threads.
// Work off the main thread may only ask IsAlive(), never touch the receiver: on the main thread
// the answer is exact, elsewhere it may turn false just after it was read.
class FWeakContext
{
public:
	FWeakContext() = default;
	explicit FWeakContext(QObject* Context);

	bool IsAlive() const { return State && State->bAlive.load(std::memory_order_acquire); }
	// Null once the receiver is gone; only for the main thread.
	QObject* Get() const;

private:
	struct FState
	{
		std::atomic<bool> bAlive{true};
		QObject* Object = nullptr;
		QMetaObject::Connection Watch;
		~FState();
	};
	std::shared_ptr<FState> State;
};

// One unit of work for the pool. The pool calls DoThreadedWork on one of its threads exactly once;
// from then on the work owns itself (self-deleting tasks delete themselves at its end).
class IQueuedWork
{
public:
	virtual ~IQueuedWork() = default;
	virtual void DoThreadedWork() = 0;
};

// A pool of worker threads named "PoolThread N". Work queued before the pool goes away still
// runs: the destructor waits for all of it.
class FQueuedThreadPool
{
public:
	// 0 threads means one per core, at least two.
	explicit FQueuedThreadPool(int NumThreads = 0);
	~FQueuedThreadPool();
	FQueuedThreadPool(const FQueuedThreadPool&) = delete;
	FQueuedThreadPool& operator=(const FQueuedThreadPool&) = delete;

	// Takes ownership of Work's run; Work is not deleted by the pool.
	void AddQueuedWork(IQueuedWork* Work);
	// Runs Work on a pool thread; dropped if Context is gone before it starts.
	void Run(const FWeakContext& Context, std::function<void()> Work);
	// Waits until no work is queued or running; false when TimeoutMs passed first.
	bool WaitForIdle(int TimeoutMs);
	int GetNumThreads() const;

private:
	std::unique_ptr<QThreadPool> Pool;
	std::shared_ptr<std::atomic<int>> NextThreadNumber;
};

// The host's pool (the engine's global pool): set while an FEditorHost lives, else null.
extern FQueuedThreadPool* GThreadPool;

// Marks a task that must run even when its pool shuts down (ours always do).
class FNonAbandonableTask
{
};

// A task that runs TTask::DoWork() on the pool and then deletes itself, as the engine's:
//   (new FAutoDeleteAsyncTask<FHashFile>(Path))->StartBackgroundTask();
// TTask posts its results to the main thread itself (AsyncTask below), with a context.
template <class TTask>
class FAutoDeleteAsyncTask final : private IQueuedWork
{
public:
	template <class... TArgs>
	explicit FAutoDeleteAsyncTask(TArgs&&... Args)
	    : Task(std::forward<TArgs>(Args)...)
	{
	}

	// Without a pool (none given and no host), the task runs here, on the calling thread.
	void StartBackgroundTask(FQueuedThreadPool* Pool = GThreadPool)
	{
		if (Pool)
		{
			Pool->AddQueuedWork(this);
		}
		else
		{
			DoThreadedWork();
		}
	}
	void StartSynchronousTask() { DoThreadedWork(); }

private:
	void DoThreadedWork() override
	{
		Task.DoWork();
		delete this;
	}

	TTask Task;
};

enum class ENamedThreads
{
	// The main thread's event loop.
	GameThread,
	// A thread of GThreadPool (the calling thread when there is no pool).
	AnyThread
};

// Runs Work on the named thread, later. It is dropped when Context is gone before it runs. From
// the main thread any live QObject may be the context; from other threads pass an FWeakContext
// made on the main thread. A null context drops the work.
void AsyncTask(ENamedThreads Thread, const FWeakContext& Context, std::function<void()> Work);
void AsyncTask(ENamedThreads Thread, QObject* Context, std::function<void()> Work);
