#include "Notifications.h"

#include "Log.h"

#include <QTimer>

namespace
{
constexpr FLogCategory LogSlate{"LogSlate"};

int Milliseconds(double Seconds)
{
	return qMax(0, int(Seconds * 1000.0));
}
} // namespace

FNotificationItem::FNotificationItem(FNotificationService& InService, int InId, const FNotificationInfo& InInfo)
    : Service(&InService)
    , Id(InId)
    , Info(InInfo)
    , Text(InInfo.Text)
{
}

void FNotificationItem::SetText(const QString& NewText)
{
	if (!Service || Phase == ENotificationPhase::Gone || NewText == Text)
	{
		return;
	}
	Text = NewText;
	Service->Changed(*this, QStringLiteral("text: ") + Text);
}

void FNotificationItem::SetCompletionState(ENotificationState NewState)
{
	if (!Service || Phase == ENotificationPhase::Gone || NewState == State)
	{
		return;
	}
	State = NewState;
	Service->Changed(*this, QStringLiteral("state: ") + FNotificationService::StateName(State));
}

void FNotificationItem::ExpireAndFadeout()
{
	if (!Service || Phase != ENotificationPhase::Showing || bExpiring)
	{
		return;
	}
	bExpiring = true;
	Service->ScheduleFadeout(*this, Info.ExpireDuration);
}

void FNotificationItem::Fadeout()
{
	if (Service && Phase == ENotificationPhase::Showing)
	{
		Service->StartFadeout(*this);
	}
}

FNotificationService::FNotificationService(QObject* Parent)
    : QObject(Parent)
{
}

FNotificationService::~FNotificationService() = default;

FNotificationItemPtr FNotificationService::AddNotification(const FNotificationInfo& Info)
{
	FNotificationItemPtr Item(new FNotificationItem(*this, NextId++, Info));
	Items.append(Item);
	UE_LOG(LogSlate, Display,
	       QStringLiteral("Notification %1 shown (%2): %3").arg(Item->Id).arg(StateName(Item->State), Item->Text));
	Q_EMIT ItemAdded(Item->Id);
	if (Info.bFireAndForget)
	{
		Item->bExpiring = true;
		ScheduleFadeout(*Item, Info.FadeInDuration + Info.ExpireDuration);
	}
	return Item;
}

FNotificationItemPtr FNotificationService::Find(int Id) const
{
	for (const FNotificationItemPtr& Item : Items)
	{
		if (Item->Id == Id)
		{
			return Item;
		}
	}
	return nullptr;
}

QString FNotificationService::StateName(ENotificationState State)
{
	switch (State)
	{
	case ENotificationState::Pending:
		return QStringLiteral("pending");
	case ENotificationState::Success:
		return QStringLiteral("success");
	case ENotificationState::Fail:
		return QStringLiteral("fail");
	case ENotificationState::None:
		break;
	}
	return QStringLiteral("none");
}

QString FNotificationService::PhaseName(ENotificationPhase Phase)
{
	switch (Phase)
	{
	case ENotificationPhase::FadingOut:
		return QStringLiteral("fading");
	case ENotificationPhase::Gone:
		return QStringLiteral("gone");
	case ENotificationPhase::Showing:
		break;
	}
	return QStringLiteral("showing");
}

void FNotificationService::Changed(FNotificationItem& Item, const QString& What)
{
	UE_LOG(LogSlate, Display, QStringLiteral("Notification %1 %2").arg(Item.Id).arg(What));
	Q_EMIT ItemChanged(Item.Id);
}

void FNotificationService::ScheduleFadeout(FNotificationItem& Item, double Seconds)
{
	// The stack holds the item until it is gone, so the weak pointer only guards a service that
	// went away with its timers.
	std::weak_ptr<FNotificationItem> Weak = Find(Item.Id);
	QTimer::singleShot(Milliseconds(Seconds), this,
	                   [this, Weak]
	                   {
		                   if (FNotificationItemPtr Alive = Weak.lock();
		                       Alive && Alive->Phase == ENotificationPhase::Showing)
		                   {
			                   StartFadeout(*Alive);
		                   }
	                   });
}

void FNotificationService::StartFadeout(FNotificationItem& Item)
{
	Item.Phase = ENotificationPhase::FadingOut;
	UE_LOG(LogSlate, Display, QStringLiteral("Notification %1 fading out").arg(Item.Id));
	Q_EMIT ItemFadingOut(Item.Id);
	const int Id = Item.Id;
	QTimer::singleShot(Milliseconds(Item.Info.FadeOutDuration), this,
	                   [this, Id]
	                   {
		                   for (int Index = 0; Index < Items.size(); ++Index)
		                   {
			                   if (Items[Index]->Id == Id)
			                   {
				                   const FNotificationItemPtr Gone = Items.takeAt(Index);
				                   Gone->Phase = ENotificationPhase::Gone;
				                   UE_LOG(LogSlate, Display, QStringLiteral("Notification %1 gone").arg(Id));
				                   Q_EMIT ItemRemoved(Id);
				                   return;
			                   }
		                   }
	                   });
}
