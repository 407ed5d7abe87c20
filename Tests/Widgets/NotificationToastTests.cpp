#include "EditorFixture.h"

#include "NotificationList.h"
#include "Notifications.h"

using NotificationToasts = FEditorFixture;

TEST_F(NotificationToasts, ItemsAreStackedNewestOnTopAndFollowTheirState)
{
	StartEditor();
	SNotificationList* List = Window().GetNotificationList();
	ASSERT_NE(List, nullptr);
	EXPECT_FALSE(List->isVisible());
	FNotificationService& Service = Editor->Host().Notifications();

	FNotificationInfo Upload(QStringLiteral("Map Uploading:  0%"));
	Upload.bFireAndForget = false;
	Upload.FadeInDuration = 0.0;
	Upload.FadeOutDuration = 0.2;
	Upload.ExpireDuration = 0.05;
	const FNotificationItemPtr First = Service.AddNotification(Upload);
	First->SetCompletionState(ENotificationState::Pending);
	FGameThread::RunUntilIdle(20);
	SNotificationItem* Toast = List->FindToast(First->GetId());
	ASSERT_NE(Toast, nullptr);
	EXPECT_TRUE(List->isVisible());
	EXPECT_EQ(Toast->GetText(), QStringLiteral("Map Uploading:  0%"));
	EXPECT_EQ(Toast->width(), 320);
	EXPECT_TRUE(Toast->GetMark()->IsSpinning());

	First->SetText(QStringLiteral("Map Uploading:  40%"));
	EXPECT_EQ(Toast->GetText(), QStringLiteral("Map Uploading:  40%"));

	// A second item goes on top; both sit in the window's bottom right corner.
	FNotificationInfo Other(QStringLiteral("Pak build failed"));
	Other.bFireAndForget = false;
	Other.FadeInDuration = 0.0;
	const FNotificationItemPtr Second = Service.AddNotification(Other);
	Second->SetCompletionState(ENotificationState::Fail);
	FGameThread::RunUntilIdle(20);
	ASSERT_EQ(List->GetToasts().size(), 2);
	EXPECT_EQ(List->GetToasts().first()->GetId(), Second->GetId());
	EXPECT_EQ(List->GetToasts().last(), Toast);
	EXPECT_LT(List->GetToasts().first()->mapTo(&Window(), QPoint()).y(), Toast->mapTo(&Window(), QPoint()).y());
	const QRect Area = List->geometry();
	EXPECT_TRUE(Window().rect().contains(Area));
	EXPECT_GT(Area.left(), Window().width() / 2);
	EXPECT_GT(Area.top(), Window().height() / 2);
	EXPECT_EQ(List->GetToasts().first()->GetMark()->GetState(), ENotificationState::Fail);
	EXPECT_TRUE(List->GetToasts().first()->GetMark()->IsDrawing());
	EXPECT_FALSE(List->GetToasts().first()->GetMark()->IsSpinning());

	// Done: the tick replaces the throbber, then the toast fades and goes.
	First->SetCompletionState(ENotificationState::Success);
	EXPECT_EQ(Toast->GetMark()->GetState(), ENotificationState::Success);
	EXPECT_FALSE(Toast->GetMark()->IsSpinning());
	QPointer<SNotificationItem> Going = Toast;
	First->ExpireAndFadeout();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Going && Going->IsFadingOut(); }, 3000));
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Going && Going->GetOpacity() < 0.9; }, 3000));
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Going.isNull(); }, 3000));
	ASSERT_EQ(List->GetToasts().size(), 1);
	EXPECT_EQ(List->GetToasts().first()->GetId(), Second->GetId());
	Second->Fadeout();
	ASSERT_TRUE(FGameThread::RunUntil([&] { return List->GetToasts().isEmpty(); }, 5000));
	EXPECT_FALSE(List->isVisible());
}
