// Missions as real processes: exactly one end event, after the caller bound it, on the main
// thread; output in the log; progress parsed; cancel stops the process.

#include "GameThread.h"
#include "HotPatcherEditor.h"
#include "Log.h"
#include "Notifications.h"

#include <QSignalSpy>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>

namespace
{
struct FOutcome
{
	int Successes = 0;
	int Failures = 0;
	bool bOnMainThread = true;
	QList<int> Progress;
};

FOutcome Watch(const FProcWorkerThreadPtr& Worker, int TimeoutMs = 20000)
{
	auto Outcome = std::make_shared<FOutcome>();
	QObject Context;
	QObject::connect(Worker.get(), &FProcWorkerThread::ProcSuccessed, &Context,
	                 [Outcome](FProcWorkerThread*)
	                 {
		                 ++Outcome->Successes;
		                 Outcome->bOnMainThread &= FGameThread::IsInGameThread();
	                 });
	QObject::connect(Worker.get(), &FProcWorkerThread::ProcFaild, &Context,
	                 [Outcome](FProcWorkerThread*)
	                 {
		                 ++Outcome->Failures;
		                 Outcome->bOnMainThread &= FGameThread::IsInGameThread();
	                 });
	QObject::connect(Worker.get(), &FProcWorkerThread::ProcProgress, &Context,
	                 [Outcome](FProcWorkerThread*, int Percent) { Outcome->Progress.append(Percent); });
	FGameThread::RunUntil([&] { return Outcome->Successes + Outcome->Failures > 0; }, TimeoutMs);
	// Anything that would fire twice has had its chance.
	FGameThread::RunUntilIdle(200);
	return *Outcome;
}
} // namespace

TEST(ProcMission, SuccessReportsProgressAndLogsTheOutput)
{
	FLogCapture Log;
	const FProcWorkerThreadPtr Worker = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/bin/sh"),
	    QStringLiteral("-c \"echo 'LogHotPatcher: Packaging progress: 40%'; echo 'LogHotPatcher: Packaging progress: "
	                   "100%' >&2; echo done\""),
	    QStringLiteral("Entry"), QStringLiteral("Packaging Entry for WindowsServer..."));
	ASSERT_TRUE(Worker);
	EXPECT_EQ(FHotPatcherEditorModule::Get().GetRunningMissions().size(), 1);
	const FOutcome Outcome = Watch(Worker);
	EXPECT_EQ(Outcome.Successes, 1);
	EXPECT_EQ(Outcome.Failures, 0);
	EXPECT_TRUE(Outcome.bOnMainThread);
	EXPECT_TRUE(Worker->IsSucceeded());
	EXPECT_EQ(Worker->GetExitCode(), 0);
	EXPECT_EQ(Outcome.Progress, (QList<int>{40, 100}));
	bool bLogged = false;
	for (const FLogLine& Line : Log.Lines())
	{
		bLogged |= Line.Category == QLatin1String("LogHotPatcher") && Line.Message == QLatin1String("done");
	}
	EXPECT_TRUE(bLogged);
	EXPECT_TRUE(Log.Contains(QStringLiteral("Packaging progress: 100%")));
	EXPECT_TRUE(FHotPatcherEditorModule::Get().GetRunningMissions().isEmpty());
}

TEST(ProcMission, FailuresFireTheFailureEventOnceWithTheReason)
{
	const FProcWorkerThreadPtr Exit = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/bin/sh"),
	    QStringLiteral("-c \"echo working; echo 'The specified asset /Game/X does not exist' >&2; exit 1\""),
	    QStringLiteral("Entry"));
	const FOutcome ExitOutcome = Watch(Exit);
	EXPECT_EQ(ExitOutcome.Successes, 0);
	EXPECT_EQ(ExitOutcome.Failures, 1);
	EXPECT_FALSE(Exit->IsSucceeded());
	EXPECT_EQ(Exit->GetExitCode(), 1);
	EXPECT_EQ(Exit->GetFailureReason(), QStringLiteral("The specified asset /Game/X does not exist"));

	// A program that does not exist fails after the caller bound its handlers, not inside the call.
	const FProcWorkerThreadPtr Missing = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/nonexistent/OrvaEditorCmd"), QStringLiteral("-run=HotPatcher"), QStringLiteral("Entry"));
	const FOutcome MissingOutcome = Watch(Missing);
	EXPECT_EQ(MissingOutcome.Failures, 1);
	EXPECT_EQ(MissingOutcome.Successes, 0);
	EXPECT_TRUE(Missing->GetFailureReason().startsWith(QStringLiteral("Cannot start /nonexistent/OrvaEditorCmd")));
}

TEST(ProcMission, EndlessLinesAreLoggedInPieces)
{
	FLogCapture Log;
	const FProcWorkerThreadPtr Worker = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/bin/sh"), QStringLiteral("-c \"head -c 300000 /dev/zero | tr -c x x\""),
	    QStringLiteral("Entry"));
	EXPECT_EQ(Watch(Worker).Successes, 1);
	// How the output is cut depends on how the pipe's reads arrive; what counts is that no byte is
	// lost and no piece holds the whole line.
	int Pieces = 0;
	qsizetype Longest = 0;
	qsizetype Total = 0;
	for (const FLogLine& Line : Log.Lines())
	{
		if (Line.Message.startsWith(QLatin1String("xxxx")))
		{
			++Pieces;
			Longest = qMax(Longest, Line.Message.size());
			Total += Line.Message.size();
		}
	}
	EXPECT_EQ(Total, 300000);
	EXPECT_GE(Pieces, 2);
	EXPECT_LE(Longest, 300000 / 2);
}

TEST(ProcMission, CancelStopsTheProcessAndFails)
{
	const FProcWorkerThreadPtr Worker = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/bin/sleep"), QStringLiteral("30"), QStringLiteral("Entry"));
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Worker->GetProcessId() > 0; }, 5000));
	const qint64 Pid = Worker->GetProcessId();
	FGameThread::PostDelayed(Worker.get(), 100, [Worker] { Worker->Cancel(); });
	const FOutcome Outcome = Watch(Worker, 10000);
	EXPECT_EQ(Outcome.Failures, 1);
	EXPECT_EQ(Outcome.Successes, 0);
	EXPECT_TRUE(Worker->GetFailureReason().contains(QStringLiteral("cancelled")));
	// The process is gone (reaped: no such process id any more).
	EXPECT_NE(::kill(pid_t(Pid), 0), 0);
	// Cancelling again changes nothing.
	Worker->Cancel();
	EXPECT_EQ(Watch(Worker, 300).Failures, 0);
}

TEST(ProcMission, NotificationShowsTheMissionItsProgressAndItsEnd)
{
	FNotificationService Notifications;
	FHotPatcherEditorModule::Get().SetNotificationService(&Notifications);
	QStringList Texts;
	QObject::connect(&Notifications, &FNotificationService::ItemChanged, &Notifications,
	                 [&](int Id)
	                 {
		                 if (const FNotificationItemPtr Item = Notifications.Find(Id))
		                 {
			                 Texts.append(Item->GetText());
		                 }
	                 });
	const FProcWorkerThreadPtr Good = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/bin/sh"), QStringLiteral("-c \"echo 'LogHotPatcher: Packaging progress: 50%'\""),
	    QStringLiteral("Entry"), QStringLiteral("Packaging Entry for WindowsServer..."));
	ASSERT_EQ(Notifications.GetItems().size(), 1);
	const FNotificationItemPtr Item = Notifications.GetItems().first();
	EXPECT_EQ(Item->GetText(), QStringLiteral("Packaging Entry for WindowsServer..."));
	EXPECT_EQ(Item->GetCompletionState(), ENotificationState::Pending);
	EXPECT_EQ(Watch(Good).Successes, 1);
	EXPECT_TRUE(Texts.contains(QStringLiteral("Packaging Entry for WindowsServer... 50%")));
	EXPECT_EQ(Item->GetCompletionState(), ENotificationState::Success);

	const FProcWorkerThreadPtr Bad =
	    FHotPatcherEditorModule::Get().RunProcMission(QStringLiteral("/bin/sh"), QStringLiteral("-c \"exit 1\""),
	                                                  QStringLiteral("Entry"), QStringLiteral("Packaging Entry"));
	EXPECT_EQ(Watch(Bad).Failures, 1);
	EXPECT_EQ(Notifications.GetItems().last()->GetCompletionState(), ENotificationState::Fail);
	EXPECT_EQ(Notifications.GetItems().last()->GetText(), QStringLiteral("Packaging Entry failed"));
	FHotPatcherEditorModule::Get().SetNotificationService(nullptr);
}
