#include "GameThread.h"
#include "Log.h"
#include "Notifications.h"
#include "TestPrinters.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

namespace
{
FNotificationInfo Quick(const QString& Text, bool bFireAndForget)
{
	FNotificationInfo Info(Text);
	Info.bFireAndForget = bFireAndForget;
	Info.FadeInDuration = 0.0;
	Info.ExpireDuration = 0.05;
	Info.FadeOutDuration = 0.05;
	return Info;
}
} // namespace

TEST(Notifications, KeptItemChangesTextAndStateEachAsOneLogLineUntilToldToGo)
{
	FLogCapture Log;
	FNotificationService Service;
	QSignalSpy Changed(&Service, &FNotificationService::ItemChanged);
	QSignalSpy Removed(&Service, &FNotificationService::ItemRemoved);
	FNotificationItemPtr Item = Service.AddNotification(Quick(QStringLiteral("Map Uploading:  0%"), false));
	Item->SetCompletionState(ENotificationState::Pending);
	Item->SetText(QStringLiteral("Map Uploading:  40%"));
	// A text that does not change is no change.
	Item->SetText(QStringLiteral("Map Uploading:  40%"));
	FNotificationItemPtr Second = Service.AddNotification(Quick(QStringLiteral("Other 50% %1"), false));

	// Kept: still there well after its expire duration.
	FGameThread::RunUntilIdle(200);
	ASSERT_EQ(Service.GetItems().size(), 2);
	EXPECT_EQ(Service.GetItems()[0], Item);
	EXPECT_EQ(Service.GetItems()[1], Second);
	EXPECT_EQ(Changed.count(), 2);

	Item->SetText(QStringLiteral("Map is upload Successfully."));
	Item->SetCompletionState(ENotificationState::Success);
	Item->ExpireAndFadeout();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Removed.count() == 1; }, 3000));
	EXPECT_EQ(Item->GetPhase(), ENotificationPhase::Gone);
	EXPECT_EQ(Service.Find(Item->GetId()), nullptr);
	EXPECT_EQ(Service.GetItems().size(), 1);
	// A gone item ignores changes and logs nothing.
	Item->SetText(QStringLiteral("late"));
	EXPECT_EQ(Item->GetText(), QStringLiteral("Map is upload Successfully."));

	const QString Id = QString::number(Item->GetId());
	const QStringList Expected = {
	    QStringLiteral("Notification %1 shown (none): Map Uploading:  0%").arg(Id),
	    QStringLiteral("Notification %1 state: pending").arg(Id),
	    QStringLiteral("Notification %1 text: Map Uploading:  40%").arg(Id),
	    QStringLiteral("Notification %1 shown (none): ").arg(Second->GetId()) + QStringLiteral("Other 50% %1"),
	    QStringLiteral("Notification %1 text: Map is upload Successfully.").arg(Id),
	    QStringLiteral("Notification %1 state: success").arg(Id),
	    QStringLiteral("Notification %1 fading out").arg(Id),
	    QStringLiteral("Notification %1 gone").arg(Id),
	};
	EXPECT_EQ(Log.Messages(), Expected);
}

TEST(Notifications, FireAndForgetItemGoesByItself)
{
	FNotificationService Service;
	QSignalSpy Fading(&Service, &FNotificationService::ItemFadingOut);
	FNotificationItemPtr Item = Service.AddNotification(Quick(QStringLiteral("Saved"), true));
	Item->SetCompletionState(ENotificationState::Fail);
	EXPECT_EQ(Item->GetPhase(), ENotificationPhase::Showing);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Service.GetItems().isEmpty(); }, 3000));
	EXPECT_EQ(Fading.count(), 1);
	EXPECT_EQ(Item->GetCompletionState(), ENotificationState::Fail);

	// An item outliving its service does nothing.
	FNotificationItemPtr Orphan;
	{
		FNotificationService Short;
		Orphan = Short.AddNotification(Quick(QStringLiteral("x"), false));
	}
	Orphan->SetText(QStringLiteral("y"));
	Orphan->ExpireAndFadeout();
	FGameThread::RunUntilIdle(100);
	EXPECT_EQ(Orphan->GetText(), QStringLiteral("x"));
}
