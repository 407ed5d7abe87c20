#include "EditorJob.h"
#include "EditorJobNotification.h"
#include "GameThread.h"
#include "Log.h"
#include "Notifications.h"

#include <QPointer>

#include <gtest/gtest.h>

namespace
{
FEditorJobNotificationTexts UploadTexts()
{
	FEditorJobNotificationTexts Texts;
	Texts.Running = [](const UEditorJob& Job)
	{
		return Job.GetTotal() > 0 ? QStringLiteral("c-7 Uploading:  %1%").arg(Job.GetDone() * 100 / Job.GetTotal())
		                          : QStringLiteral("c-7 Uploading:  0%");
	};
	Texts.Succeeded = QStringLiteral("c-7 is upload Successfully.");
	Texts.SucceededLog = QStringLiteral("c-7 stored");
	Texts.Cancelled = QStringLiteral("c-7 upload cancelled.");
	Texts.CancelledLog = QStringLiteral("c-7 cancelled");
	Texts.FailedLog = QStringLiteral("c-7 failed");
	return Texts;
}

ELogVerbosity VerbosityOf(const FLogCapture& Log, const QString& Message)
{
	for (const FLogLine& Line : Log.Lines())
	{
		if (Line.Message == Message)
		{
			return Line.Verbosity;
		}
	}
	ADD_FAILURE() << "not logged: " << Message.toStdString();
	return ELogVerbosity::Log;
}
} // namespace

// Each end shows on the item the job had while it ran: the text, the state, the fade-out and the
// log line of that end. The item outlives the job, which releases itself at its end.
TEST(EditorJobNotification, TheItemFollowsTheJobAndShowsHowItEnded)
{
	struct FCase
	{
		EEditorJobState End;
		QString Text;
		ENotificationState State;
		QString LogLine;
		ELogVerbosity Verbosity;
	};
	const QList<FCase> Cases = {
	    {EEditorJobState::Succeeded, QStringLiteral("c-7 is upload Successfully."), ENotificationState::Success,
	     QStringLiteral("c-7 stored"), ELogVerbosity::Display},
	    {EEditorJobState::Cancelled, QStringLiteral("c-7 upload cancelled."), ENotificationState::Fail,
	     QStringLiteral("c-7 cancelled"), ELogVerbosity::Warning},
	    // No failure text: the last running text stays.
	    {EEditorJobState::Failed, QStringLiteral("c-7 Uploading:  40%"), ENotificationState::Fail,
	     QStringLiteral("c-7 failed"), ELogVerbosity::Error},
	};
	for (const FCase& Case : Cases)
	{
		SCOPED_TRACE(int(Case.End));
		FLogCapture Log;
		FNotificationService Service;
		QPointer<UEditorStepJob> Job = new UEditorStepJob(QStringLiteral("Upload c-7"));
		Job->Start();
		const FNotificationItemPtr Item = FEditorJobNotification::Follow(*Job, Service, UploadTexts());
		ASSERT_TRUE(Item);
		EXPECT_EQ(Service.GetItems().size(), 1);
		EXPECT_EQ(Item->GetText(), QStringLiteral("c-7 Uploading:  0%"));
		EXPECT_EQ(Item->GetCompletionState(), ENotificationState::Pending);
		EXPECT_FALSE(Item->GetInfo().bFireAndForget) << "a running job's item stays until the job ends";

		Job->SetProgress(40, 100, true);
		EXPECT_EQ(Item->GetText(), QStringLiteral("c-7 Uploading:  40%"));
		// A change that leaves the text as it is writes no line.
		Job->SetPhase(QStringLiteral("Uploading"));
		EXPECT_EQ(Log.Count(QStringLiteral("Notification %1 text: c-7 Uploading:  40%").arg(Item->GetId())), 1);

		if (Case.End == EEditorJobState::Succeeded)
		{
			Job->FinishSucceeded();
		}
		else if (Case.End == EEditorJobState::Cancelled)
		{
			Job->FinishCancelled(QStringLiteral("Cancelled"));
		}
		else
		{
			Job->FinishFailed(QStringLiteral("The store refused the pak"));
		}
		EXPECT_EQ(Item->GetText(), Case.Text);
		EXPECT_EQ(Item->GetCompletionState(), Case.State);
		EXPECT_EQ(VerbosityOf(Log, Case.LogLine), Case.Verbosity);
		EXPECT_EQ(Log.Count(Case.LogLine), 1);
		ASSERT_TRUE(FGameThread::RunUntil([&] { return !Job; }, 5000)) << "the job released itself";
		EXPECT_EQ(Service.GetItems().size(), 1) << "the item outlives its job";
	}
}

TEST(EditorJobNotification, AnEndedJobGetsNoItemAndAnEndCanBeShownAtOnce)
{
	FLogCapture Log;
	FNotificationService Service;
	auto* Ended = new UEditorStepJob(QStringLiteral("Upload c-7"));
	Ended->Start();
	Ended->FinishFailed(QStringLiteral("gone"));
	EXPECT_EQ(FEditorJobNotification::Follow(*Ended, Service, UploadTexts()), nullptr);
	EXPECT_TRUE(Service.GetItems().isEmpty());

	// A job with no running text shows its title.
	QPointer<UEditorStepJob> Untitled = new UEditorStepJob(QStringLiteral("Build Entry"));
	Untitled->Start();
	const FNotificationItemPtr Titled = FEditorJobNotification::Follow(*Untitled, Service, {});
	EXPECT_EQ(Titled->GetText(), QStringLiteral("Build Entry"));
	Untitled->FinishSucceeded();
	EXPECT_EQ(Titled->GetText(), QStringLiteral("Build Entry"));
	EXPECT_EQ(Titled->GetCompletionState(), ENotificationState::Success);

	const FNotificationItemPtr Refusal = FEditorJobNotification::ShowEnded(
	    Service, EEditorJobState::Failed, QStringLiteral("c-7 is too large to upload."), QStringLiteral("too large"));
	EXPECT_EQ(Refusal->GetText(), QStringLiteral("c-7 is too large to upload."));
	EXPECT_EQ(Refusal->GetCompletionState(), ENotificationState::Fail);
	EXPECT_EQ(Log.Messages(ELogVerbosity::Error).filter(QStringLiteral("too large")).size(), 1);
	// Every end fades out: the stack empties by itself.
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Service.GetItems().isEmpty(); }, 15000));
}
