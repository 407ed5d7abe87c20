#include "EditorHost.h"
#include "GameThread.h"
#include "TestProject.h"
#include "ThreadName.h"
#include "ThreadPool.h"

#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

namespace
{
struct FRecordThread : FNonAbandonableTask
{
	FRecordThread(std::shared_ptr<std::atomic<bool>> InOffMain, std::shared_ptr<QString> InName,
	              std::shared_ptr<std::atomic<int>> InDone)
	    : OffMain(std::move(InOffMain))
	    , Name(std::move(InName))
	    , Done(std::move(InDone))
	{
	}
	~FRecordThread() { ++*Done; }
	void DoWork()
	{
		*OffMain = !FGameThread::IsInGameThread();
		*Name = FThreadName::Describe();
	}
	std::shared_ptr<std::atomic<bool>> OffMain;
	std::shared_ptr<QString> Name;
	std::shared_ptr<std::atomic<int>> Done;
};
} // namespace

TEST(ThreadPool, SelfDeletingTaskRunsOnANamedPoolThread)
{
	FQueuedThreadPool Pool(2);
	auto OffMain = std::make_shared<std::atomic<bool>>(false);
	auto Name = std::make_shared<QString>();
	// Counts destructions: the task deletes itself after its work.
	auto Done = std::make_shared<std::atomic<int>>(0);
	(new FAutoDeleteAsyncTask<FRecordThread>(OffMain, Name, Done))->StartBackgroundTask(&Pool);
	ASSERT_TRUE(Pool.WaitForIdle(5000));
	EXPECT_TRUE(OffMain->load());
	EXPECT_EQ(Done->load(), 1);
	EXPECT_TRUE(Name->startsWith(QStringLiteral("PoolThread "))) << Name->toStdString();
	EXPECT_NE(*Name, FThreadName::Describe());
	EXPECT_TRUE(FThreadName::Describe().startsWith(QStringLiteral("GameThread (")));
}

TEST(ThreadPool, PoolWorkIsDroppedWhenItsContextDiedBeforeItStarted)
{
	FQueuedThreadPool Pool(1);
	std::mutex Gate;
	Gate.lock();
	std::atomic<int> Ran{0};
	// Hold the only thread so the next work waits in the queue while its context dies.
	QObject Keeper;
	Pool.Run(FWeakContext(&Keeper), [&] { std::lock_guard<std::mutex> Lock(Gate); });
	{
		QObject Receiver;
		Pool.Run(FWeakContext(&Receiver), [&] { ++Ran; });
	}
	QObject Survivor;
	Pool.Run(FWeakContext(&Survivor), [&] { Ran += 10; });
	// Without a receiver there is nobody to run it for.
	Pool.Run(FWeakContext(nullptr), [&] { Ran += 100; });
	Gate.unlock();
	ASSERT_TRUE(Pool.WaitForIdle(5000));
	EXPECT_EQ(Ran.load(), 10);
}

TEST(GameThreadTask, RunsOnTheMainThreadAndDropsWorkWhoseContextDied)
{
	FQueuedThreadPool Pool(2);
	QObject Receiver;
	auto Dying = std::make_unique<QObject>();
	const FWeakContext Alive(&Receiver);
	const FWeakContext Gone(Dying.get());
	std::atomic<bool> bPosted{false};
	bool bRanOnMain = false;
	bool bDroppedRan = false;
	Pool.Run(Alive,
	         [&]
	         {
		         AsyncTask(ENamedThreads::GameThread, Alive, [&] { bRanOnMain = FGameThread::IsInGameThread(); });
		         AsyncTask(ENamedThreads::GameThread, Gone, [&] { bDroppedRan = true; });
		         bPosted = true;
	         });
	ASSERT_TRUE(Pool.WaitForIdle(5000));
	ASSERT_TRUE(bPosted);
	// The receiver dies after the work was posted and before the main thread runs it.
	Dying.reset();
	FGameThread::RunUntil([&] { return bRanOnMain; }, 5000);
	FGameThread::RunUntilIdle(20);
	EXPECT_TRUE(bRanOnMain);
	EXPECT_FALSE(bDroppedRan);

	// From the main thread, with a plain receiver.
	bool bPlain = false;
	bool bPlainDropped = false;
	AsyncTask(ENamedThreads::GameThread, &Receiver, [&] { bPlain = true; });
	{
		QObject Short;
		AsyncTask(ENamedThreads::GameThread, &Short, [&] { bPlainDropped = true; });
	}
	FGameThread::RunUntilIdle(20);
	EXPECT_TRUE(bPlain);
	EXPECT_FALSE(bPlainDropped);
}

TEST(ThreadPool, TheHostOwnsTheGlobalPool)
{
	ASSERT_EQ(GThreadPool, nullptr);
	FTestProject Project;
	FEditorHostOptions Options;
	Options.ProjectFile = Project.ProjectFile();
	Options.UserSettingsDir = Project.UserSettingsDir();
	Options.bLogToFile = false;
	std::atomic<bool> bOffMain{false};
	{
		FEditorHost Host(Options);
		EXPECT_EQ(GThreadPool, &Host.ThreadPool());
		QObject Receiver;
		AsyncTask(ENamedThreads::AnyThread, &Receiver, [&] { bOffMain = !FGameThread::IsInGameThread(); });
		ASSERT_TRUE(Host.ThreadPool().WaitForIdle(5000));
	}
	EXPECT_TRUE(bOffMain);
	EXPECT_EQ(GThreadPool, nullptr);
}
