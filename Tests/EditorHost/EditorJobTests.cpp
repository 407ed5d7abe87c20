#include "EditorJob.h"
#include "GameThread.h"

#include <QPointer>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace
{
// The clock of a job, stepped by the test.
struct FClock
{
	qint64 NowMs = 0;
};

UEditorStepJob* MakeJob(FClock& Clock)
{
	auto* Job = new UEditorStepJob(QStringLiteral("Upload c-7"));
	Job->SetClock([&Clock] { return Clock.NowMs; });
	return Job;
}
} // namespace

TEST(EditorJob, RateAndTimeLeftFollowTheBytesAndStartAfreshWhenTheCountGoesBack)
{
	FClock Clock;
	UEditorStepJob* Job = MakeJob(Clock);
	Job->SetAutoDelete(false);
	Job->Start();
	Job->SetProgress(0, 1000, true);
	EXPECT_EQ(Job->GetSecondsLeft(), -1) << "no rate before a second sample";

	Clock.NowMs = 1000;
	Job->SetProgress(100, 1000, true);
	EXPECT_DOUBLE_EQ(Job->GetRate(), 100.0);
	EXPECT_EQ(Job->GetSecondsLeft(), 9);

	// Bursts closer than a sample span move the count, not the rate.
	Clock.NowMs = 1010;
	Job->SetProgress(300, 1000, true);
	EXPECT_DOUBLE_EQ(Job->GetRate(), 100.0);
	EXPECT_EQ(Job->GetDone(), 300);

	// A part sent again lowers the count: the rate starts anew rather than turning negative.
	Clock.NowMs = 2000;
	Job->SetProgress(50, 1000, true);
	EXPECT_DOUBLE_EQ(Job->GetRate(), 0.0);
	EXPECT_EQ(Job->GetSecondsLeft(), -1);
	Clock.NowMs = 3000;
	Job->SetProgress(250, 1000, true);
	EXPECT_DOUBLE_EQ(Job->GetRate(), 200.0);
	EXPECT_EQ(Job->GetSecondsLeft(), 4);
	delete Job;
}

TEST(EditorJob, EndsOnceReleasesItselfAndCancelsOnlyWhatCanStop)
{
	FClock Clock;
	QPointer<UEditorStepJob> Job = MakeJob(Clock);
	QSignalSpy Finished(Job.data(), &UEditorJob::Finished);
	int Stops = 0;
	Job->Start();
	EXPECT_FALSE(Job->Cancel()) << "no way to stop it was given";
	Job->SetOnCancel([&] { ++Stops; });
	EXPECT_TRUE(Job->Cancel());
	EXPECT_FALSE(Job->Cancel()) << "asked once, the work is winding down";
	EXPECT_EQ(Stops, 1);
	EXPECT_TRUE(Job->IsRunning());
	Job->FinishCancelled(QStringLiteral("Cancelled"));
	Job->FinishSucceeded();
	EXPECT_EQ(Finished.count(), 1);
	EXPECT_EQ(Job->GetState(), EEditorJobState::Cancelled);
	EXPECT_EQ(Job->GetErrorText(), QStringLiteral("Cancelled"));
	Job->SetProgress(5, 10, false);
	EXPECT_EQ(Job->GetDone(), 0) << "an ended job reports no more progress";
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Job.isNull(); }, 5000));
}
