#pragma once

#include "Notifications.h"

#include <QFrame>
#include <QHash>
#include <QPointer>
#include <QWidget>

class QGraphicsOpacityEffect;
class QLabel;
class QPropertyAnimation;
class QTimer;

// What a toast shows beside its text: a turning throbber while pending, a tick or a cross once
// done, nothing otherwise.
class SNotificationMark : public QWidget
{
	Q_OBJECT

public:
	explicit SNotificationMark(QWidget* Parent = nullptr);

	void SetState(ENotificationState InState, bool bInThrobber, bool bInSuccessFail);
	ENotificationState GetState() const { return State; }
	// Whether it draws anything, and whether the throbber turns.
	bool IsDrawing() const;
	bool IsSpinning() const;

	QSize sizeHint() const override { return QSize(24, 24); }

protected:
	void paintEvent(QPaintEvent* Event) override;

private:
	ENotificationState State = ENotificationState::None;
	bool bThrobber = true;
	bool bSuccessFail = true;
	int Angle = 0;
	QTimer* Spin;
};

// One toast of the notification stack, drawn from its item.
class SNotificationItem : public QFrame
{
	Q_OBJECT

public:
	SNotificationItem(const FNotificationItemPtr& InItem, QWidget* Parent = nullptr);

	int GetId() const { return Id; }
	QString GetText() const;
	const SNotificationMark* GetMark() const { return Mark; }
	// 0 (transparent) to 1 (opaque).
	qreal GetOpacity() const;
	bool IsFadingOut() const { return bFadingOut; }

	// Takes the item's text and state.
	void Refresh();
	void FadeIn();
	void FadeOut();

private:
	std::weak_ptr<FNotificationItem> Item;
	int Id;
	QLabel* Text;
	SNotificationMark* Mark;
	QGraphicsOpacityEffect* Opacity;
	QPointer<QPropertyAnimation> Animation;
	double FadeOutSeconds = 2.0;
	bool bFadingOut = false;
};

// The host's notifications as stacked toasts in the bottom right corner of a window, the newest on
// top. It follows the service's signals only; the service decides when items fade and go.
class SNotificationList : public QWidget
{
	Q_OBJECT

public:
	SNotificationList(FNotificationService& InService, QWidget* Window);
	~SNotificationList() override;

	// Top to bottom.
	QList<SNotificationItem*> GetToasts() const;
	SNotificationItem* FindToast(int Id) const;

protected:
	bool eventFilter(QObject* Watched, QEvent* Event) override;

private:
	void Add(int Id);
	void Remove(int Id);
	void Place();

	QPointer<FNotificationService> Service;
	QHash<int, QPointer<SNotificationItem>> Toasts;
	class QVBoxLayout* Stack;
};
