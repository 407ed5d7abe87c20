#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class FNotificationService;

// What an item shows beside its text: a throbber while pending, a tick or a cross when done.
enum class ENotificationState
{
	None,
	Pending,
	Success,
	Fail
};

// Where an item is in its life: shown, fading out, gone from the stack.
enum class ENotificationPhase
{
	Showing,
	FadingOut,
	Gone
};

// How an item is made, with the engine's defaults. Durations in seconds.
struct FNotificationInfo
{
	FNotificationInfo() = default;
	explicit FNotificationInfo(const QString& InText)
	    : Text(InText)
	{
	}

	QString Text;
	// Fire-and-forget items fade out on their own after FadeInDuration + ExpireDuration; the
	// others stay until ExpireAndFadeout() or Fadeout().
	bool bFireAndForget = true;
	double FadeInDuration = 0.5;
	double ExpireDuration = 1.0;
	double FadeOutDuration = 2.0;
	// Drawing hints for a front end; the core keeps them only to hand them on.
	double WidthOverride = 320.0;
	bool bUseLargeFont = true;
	bool bUseThrobber = true;
	bool bUseSuccessFailIcons = true;
};

// One item of the stack, shared by the service and whoever added it. Changes made after the item
// is gone (or after the service is gone) do nothing. Main thread only.
class FNotificationItem
{
public:
	int GetId() const { return Id; }
	QString GetText() const { return Text; }
	ENotificationState GetCompletionState() const { return State; }
	ENotificationPhase GetPhase() const { return Phase; }
	const FNotificationInfo& GetInfo() const { return Info; }

	void SetText(const QString& NewText);
	void SetCompletionState(ENotificationState NewState);
	// Waits ExpireDuration, then fades out over FadeOutDuration and leaves the stack.
	void ExpireAndFadeout();
	// Fades out now.
	void Fadeout();

private:
	friend class FNotificationService;
	FNotificationItem(FNotificationService& Service, int Id, const FNotificationInfo& Info);

	QPointer<FNotificationService> Service;
	int Id;
	FNotificationInfo Info;
	QString Text;
	ENotificationState State = ENotificationState::None;
	ENotificationPhase Phase = ENotificationPhase::Showing;
	bool bExpiring = false;
};

using FNotificationItemPtr = std::shared_ptr<FNotificationItem>;

// The editor's notification stack (the engine's notification manager), owned by the host. The
// core adds and changes items; a front end draws them from the signals. Every new item and every
// change of text, state or phase is one log line, so headless runs show them too:
//   LogSlate: Notification 3 shown (pending): Map Uploading:  0%
//   LogSlate: Notification 3 text: Map Uploading:  40%
//   LogSlate: Notification 3 state: success
//   LogSlate: Notification 3 fading out
//   LogSlate: Notification 3 gone
class FNotificationService : public QObject
{
	Q_OBJECT

public:
	explicit FNotificationService(QObject* Parent = nullptr);
	~FNotificationService() override;

	FNotificationItemPtr AddNotification(const FNotificationInfo& Info);
	// The items on the stack, oldest first (the newest is drawn on top).
	QList<FNotificationItemPtr> GetItems() const { return Items; }
	// Null when no item of that id is on the stack.
	FNotificationItemPtr Find(int Id) const;

	static QString StateName(ENotificationState State);
	static QString PhaseName(ENotificationPhase Phase);

Q_SIGNALS:
	void ItemAdded(int Id);
	// Text or state changed.
	void ItemChanged(int Id);
	void ItemFadingOut(int Id);
	void ItemRemoved(int Id);

private:
	friend class FNotificationItem;
	void Changed(FNotificationItem& Item, const QString& What);
	void StartFadeout(FNotificationItem& Item);
	void ScheduleFadeout(FNotificationItem& Item, double Seconds);

	QList<FNotificationItemPtr> Items;
	int NextId = 1;
};
