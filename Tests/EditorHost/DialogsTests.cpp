#include "Dialogs.h"

#include <gtest/gtest.h>

namespace
{
TEST(PolicyDialogServiceTest, QueuedAnswersThenDefaultThenUnanswered)
{
	FPolicyDialogService Service;
	Service.QueueAnswer(EAppReturnType::Yes);
	Service.QueueAnswer(EAppReturnType::No);
	EXPECT_EQ(Service.MessageBox(EAppMsgType::YesNo, QStringLiteral("Move?"), QStringLiteral("Title")),
	          EAppReturnType::Yes);
	EXPECT_EQ(Service.MessageBox(EAppMsgType::YesNo, QStringLiteral("Again?"), QString()), EAppReturnType::No);
	EXPECT_FALSE(Service.FirstUnanswered().has_value());

	// With the queue empty and no default, boxes are recorded as unanswered and refused.
	EXPECT_EQ(Service.MessageBox(EAppMsgType::YesNo, QStringLiteral("Unexpected"), QString()), EAppReturnType::No);
	EXPECT_EQ(Service.MessageBox(EAppMsgType::OkCancel, QStringLiteral("Also"), QString()), EAppReturnType::Cancel);
	EXPECT_EQ(Service.MessageBox(EAppMsgType::YesNoCancel, QStringLiteral("Third"), QString()), EAppReturnType::Cancel);
	const std::optional<FPolicyDialogService::FShownMessage> Unanswered = Service.FirstUnanswered();
	ASSERT_TRUE(Unanswered.has_value());
	EXPECT_EQ(Unanswered->Message, QStringLiteral("Unexpected"));

	Service.SetDefaultAnswer(EAppReturnType::Ok);
	Service.QueueAnswer(EAppReturnType::Retry);
	EXPECT_EQ(Service.MessageBox(EAppMsgType::Ok, QStringLiteral("Queued wins"), QString()), EAppReturnType::Retry);
	EXPECT_EQ(Service.MessageBox(EAppMsgType::Ok, QStringLiteral("Default"), QString()), EAppReturnType::Ok);
	Service.SetDefaultAnswer(std::nullopt);
	EXPECT_EQ(Service.MessageBox(EAppMsgType::OkCancel, QStringLiteral("No default"), QString()),
	          EAppReturnType::Cancel);

	const QList<FPolicyDialogService::FShownMessage>& Shown = Service.ShownMessages();
	ASSERT_EQ(Shown.size(), 8);
	EXPECT_EQ(Shown.at(0).Type, EAppMsgType::YesNo);
	EXPECT_EQ(Shown.at(0).Message, QStringLiteral("Move?"));
	EXPECT_EQ(Shown.at(0).Title, QStringLiteral("Title"));
	EXPECT_EQ(Shown.at(0).Answer, EAppReturnType::Yes);
	EXPECT_TRUE(Shown.at(0).bAnswered);
	const QList<bool> Answered = {true, true, false, false, false, true, true, false};
	for (int Index = 0; Index < Shown.size(); ++Index)
	{
		EXPECT_EQ(Shown.at(Index).bAnswered, Answered.at(Index)) << Index;
	}
}

TEST(PolicyDialogServiceTest, FileChoicesAreHandedOutInOrder)
{
	FPolicyDialogService Service;
	Service.QueueFileChoice({QStringLiteral("/a.png"), QStringLiteral("/b.png")});
	Service.QueueFileChoice({QStringLiteral("/c.exe")});
	EXPECT_EQ(Service.OpenFileDialog(QStringLiteral("Pick"), QString(), QStringLiteral("*.png"), true),
	          (QStringList{QStringLiteral("/a.png"), QStringLiteral("/b.png")}));
	EXPECT_EQ(Service.OpenFileDialog(QStringLiteral("Pick"), QString(), QString(), false),
	          QStringList{QStringLiteral("/c.exe")});
	// Nothing queued: the creator cancelled.
	EXPECT_TRUE(Service.OpenFileDialog(QStringLiteral("Pick"), QString(), QString(), false).isEmpty());
}

// Records what a slow task reports, to check its progress amounts.
class FRecordingDialogService : public FPolicyDialogService
{
public:
	struct FUpdate
	{
		float Completed;
		float Total;
		QString Text;
	};
	QList<FUpdate> Updates;
	QList<float> BeginTotals;

	void BeginSlowTask(float TotalWork, const QString& Text) override
	{
		BeginTotals.append(TotalWork);
		FPolicyDialogService::BeginSlowTask(TotalWork, Text);
	}
	void UpdateSlowTask(float CompletedWork, float TotalWork, const QString& Text) override
	{
		Updates.append({CompletedWork, TotalWork, Text});
		FPolicyDialogService::UpdateSlowTask(CompletedWork, TotalWork, Text);
	}
};

TEST(ScopedSlowTaskTest, FramesReportTextsAndCompletedWork)
{
	FRecordingDialogService Service;
	{
		FScopedSlowTask Task(Service, 4.f, QStringLiteral("Moving assets"));
		EXPECT_EQ(Service.OpenSlowTasks(), 1);
		Task.EnterProgressFrame(1.f, QStringLiteral("Moving A"));
		Task.EnterProgressFrame(2.f, QStringLiteral("Moving B"));
		{
			FScopedSlowTask Inner(Service, 1.f, QStringLiteral("Fixing redirectors"));
			EXPECT_EQ(Service.OpenSlowTasks(), 2);
		}
		EXPECT_EQ(Service.OpenSlowTasks(), 1);
		Task.EnterProgressFrame(1.f, QStringLiteral("Moving C"));
	}
	EXPECT_EQ(Service.OpenSlowTasks(), 0);
	EXPECT_EQ(Service.SlowTaskTexts(),
	          (QStringList{QStringLiteral("Moving assets"), QStringLiteral("Moving A"), QStringLiteral("Moving B"),
	                       QStringLiteral("Fixing redirectors"), QStringLiteral("Moving C")}));
	EXPECT_EQ(Service.BeginTotals, (QList<float>{4.f, 1.f}));

	// Entering a frame completes the one before it.
	ASSERT_EQ(Service.Updates.size(), 3);
	EXPECT_FLOAT_EQ(Service.Updates.at(0).Completed, 0.f);
	EXPECT_FLOAT_EQ(Service.Updates.at(1).Completed, 1.f);
	EXPECT_FLOAT_EQ(Service.Updates.at(2).Completed, 3.f);
	for (const FRecordingDialogService::FUpdate& Update : Service.Updates)
	{
		EXPECT_FLOAT_EQ(Update.Total, 4.f);
	}

	// Ending more tasks than were begun never goes below zero.
	Service.EndSlowTask();
	EXPECT_EQ(Service.OpenSlowTasks(), 0);
}
} // namespace
