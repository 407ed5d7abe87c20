// A mission as a job of the editor: it starts, reports its percentage, ends once, and says why it
// failed or that it was cancelled, beside its own end events.

#include "GameThread.h"
#include "HotPatcherEditor.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace
{
// Runs the loop until Worker's own end event came, then a little longer for anything that would
// come twice.
void WaitForEnd(const FProcWorkerThreadPtr& Worker, QSignalSpy& Succeeded, QSignalSpy& Failed)
{
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Succeeded.size() + Failed.size() > 0; }, 20000));
	FGameThread::RunUntilIdle(200);
	EXPECT_EQ(Succeeded.size() + Failed.size(), 1);
	EXPECT_TRUE(Worker->HasEnded());
}
} // namespace

TEST(MissionJob, ProgressAndSuccessAndAFailureCarriesTheLastLineAsItsCause)
{
	const FProcWorkerThreadPtr Good = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/bin/sh"), QStringLiteral("-c \"echo 'LogHotPatcher: Packaging progress: 40%'\""),
	    QStringLiteral("Entry"));
	EXPECT_EQ(Good->GetState(), EEditorJobState::Running);
	EXPECT_EQ(Good->GetTitle(), QStringLiteral("Entry"));
	QSignalSpy Finished(Good.get(), &UEditorJob::Finished);
	QSignalSpy Succeeded(Good.get(), &FProcWorkerThread::ProcSuccessed);
	QSignalSpy Failed(Good.get(), &FProcWorkerThread::ProcFaild);
	WaitForEnd(Good, Succeeded, Failed);
	EXPECT_EQ(Succeeded.size(), 1);
	EXPECT_EQ(Finished.size(), 1);
	EXPECT_EQ(Good->GetState(), EEditorJobState::Succeeded);
	EXPECT_EQ(Good->GetDone(), 40);
	EXPECT_EQ(Good->GetTotal(), 100);
	EXPECT_TRUE(Good->GetErrorText().isEmpty());

	const FProcWorkerThreadPtr Bad = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/bin/sh"), QStringLiteral("-c \"echo 'Cook failed: /Game/X is missing' >&2; exit 3\""),
	    QStringLiteral("Entry"));
	QSignalSpy BadFinished(Bad.get(), &UEditorJob::Finished);
	QSignalSpy BadSucceeded(Bad.get(), &FProcWorkerThread::ProcSuccessed);
	QSignalSpy BadFailed(Bad.get(), &FProcWorkerThread::ProcFaild);
	WaitForEnd(Bad, BadSucceeded, BadFailed);
	EXPECT_EQ(BadFailed.size(), 1);
	EXPECT_EQ(BadFinished.size(), 1);
	EXPECT_EQ(Bad->GetState(), EEditorJobState::Failed);
	EXPECT_EQ(Bad->GetErrorText(), QStringLiteral("Cook failed: /Game/X is missing"));
	EXPECT_FALSE(Bad->Cancel()) << "an ended mission has nothing to stop";
}

TEST(MissionJob, CancelEndsItOnceAsCancelled)
{
	const FProcWorkerThreadPtr Worker = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/bin/sleep"), QStringLiteral("30"), QStringLiteral("Entry"));
	QSignalSpy Finished(Worker.get(), &UEditorJob::Finished);
	QSignalSpy Succeeded(Worker.get(), &FProcWorkerThread::ProcSuccessed);
	QSignalSpy Failed(Worker.get(), &FProcWorkerThread::ProcFaild);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Worker->GetProcessId() > 0; }, 5000));
	EXPECT_TRUE(Worker->IsCancellable());
	EXPECT_TRUE(Worker->Cancel());
	EXPECT_FALSE(Worker->Cancel()) << "a second cancel asks nothing more";
	WaitForEnd(Worker, Succeeded, Failed);
	EXPECT_EQ(Failed.size(), 1);
	EXPECT_EQ(Finished.size(), 1);
	EXPECT_EQ(Worker->GetState(), EEditorJobState::Cancelled);
	EXPECT_TRUE(Worker->GetErrorText().contains(QStringLiteral("cancelled")));
	// The old view of the end stays as it was.
	EXPECT_EQ(Worker->GetStatus(), EProcWorkerStatus::Failed);
}
