#include "NotificationList.h"

#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

namespace
{
constexpr int Margin = 16;
constexpr int SpinStepMs = 40;

int Milliseconds(double Seconds)
{
	return qMax(0, int(Seconds * 1000.0));
}
} // namespace

SNotificationMark::SNotificationMark(QWidget* Parent)
    : QWidget(Parent)
    , Spin(new QTimer(this))
{
	setFixedSize(24, 24);
	Spin->setInterval(SpinStepMs);
	connect(Spin, &QTimer::timeout, this,
	        [this]
	        {
		        Angle = (Angle + 30) % 360;
		        update();
	        });
}

void SNotificationMark::SetState(ENotificationState InState, bool bInThrobber, bool bInSuccessFail)
{
	State = InState;
	bThrobber = bInThrobber;
	bSuccessFail = bInSuccessFail;
	if (IsSpinning())
	{
		Spin->start();
	}
	else
	{
		Spin->stop();
	}
	update();
}

bool SNotificationMark::IsDrawing() const
{
	switch (State)
	{
	case ENotificationState::Pending:
		return bThrobber;
	case ENotificationState::Success:
	case ENotificationState::Fail:
		return bSuccessFail;
	case ENotificationState::None:
		break;
	}
	return false;
}

bool SNotificationMark::IsSpinning() const
{
	return State == ENotificationState::Pending && bThrobber;
}

void SNotificationMark::paintEvent(QPaintEvent*)
{
	if (!IsDrawing())
	{
		return;
	}
	QPainter Painter(this);
	Painter.setRenderHint(QPainter::Antialiasing);
	const QRectF Area = QRectF(rect()).adjusted(3, 3, -3, -3);
	if (State == ENotificationState::Pending)
	{
		// Eight dots, the brightest one turning.
		for (int Dot = 0; Dot < 8; ++Dot)
		{
			const int Step = (Dot * 45 - Angle + 720) % 360;
			Painter.save();
			Painter.translate(Area.center());
			Painter.rotate(Dot * 45);
			Painter.setPen(Qt::NoPen);
			Painter.setBrush(QColor(255, 255, 255, 60 + (360 - Step) * 195 / 360));
			Painter.drawEllipse(QPointF(0, -Area.height() / 2 + 2), 2.0, 2.0);
			Painter.restore();
		}
		return;
	}
	const bool bSuccess = State == ENotificationState::Success;
	Painter.setPen(Qt::NoPen);
	Painter.setBrush(bSuccess ? QColor(0x3c, 0xb3, 0x71) : QColor(0xd9, 0x4a, 0x3d));
	Painter.drawEllipse(Area);
	QPen Mark(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
	Painter.setPen(Mark);
	const QPointF C = Area.center();
	if (bSuccess)
	{
		QPainterPath Tick;
		Tick.moveTo(C + QPointF(-4.5, 0.5));
		Tick.lineTo(C + QPointF(-1.2, 3.8));
		Tick.lineTo(C + QPointF(4.8, -3.2));
		Painter.drawPath(Tick);
	}
	else
	{
		Painter.drawLine(C + QPointF(-3.5, -3.5), C + QPointF(3.5, 3.5));
		Painter.drawLine(C + QPointF(-3.5, 3.5), C + QPointF(3.5, -3.5));
	}
}

SNotificationItem::SNotificationItem(const FNotificationItemPtr& InItem, QWidget* Parent)
    : QFrame(Parent)
    , Item(InItem)
    , Id(InItem->GetId())
    , Text(new QLabel())
    , Mark(new SNotificationMark())
    , Opacity(new QGraphicsOpacityEffect(this))
{
	setObjectName(QStringLiteral("Notification%1").arg(Id));
	setStyleSheet(
	    QStringLiteral("SNotificationItem { background: #1c1c1c; border: 1px solid #454545; border-radius: 6px; }"
	                   "QLabel { color: #e6e6e6; background: transparent; border: none; }"));
	const FNotificationInfo& Info = InItem->GetInfo();
	setFixedWidth(int(Info.WidthOverride));
	QFont Font = Text->font();
	Font.setPointSize(Info.bUseLargeFont ? 12 : 9);
	Text->setFont(Font);
	Text->setWordWrap(true);
	auto* Layout = new QHBoxLayout(this);
	Layout->setContentsMargins(12, 10, 12, 10);
	Layout->setSpacing(10);
	Layout->addWidget(Text, 1);
	Layout->addWidget(Mark, 0, Qt::AlignVCenter);
	FadeOutSeconds = Info.FadeOutDuration;
	Opacity->setOpacity(1.0);
	setGraphicsEffect(Opacity);
	Refresh();
}

QString SNotificationItem::GetText() const
{
	return Text->text();
}

qreal SNotificationItem::GetOpacity() const
{
	return Opacity->opacity();
}

void SNotificationItem::Refresh()
{
	const FNotificationItemPtr Locked = Item.lock();
	if (!Locked)
	{
		return;
	}
	Text->setText(Locked->GetText());
	Mark->SetState(Locked->GetCompletionState(), Locked->GetInfo().bUseThrobber,
	               Locked->GetInfo().bUseSuccessFailIcons);
}

void SNotificationItem::FadeIn()
{
	const FNotificationItemPtr Locked = Item.lock();
	const int Duration = Locked ? Milliseconds(Locked->GetInfo().FadeInDuration) : 0;
	if (Duration == 0)
	{
		return;
	}
	Animation = new QPropertyAnimation(Opacity, "opacity", this);
	Animation->setDuration(Duration);
	Animation->setStartValue(0.0);
	Animation->setEndValue(1.0);
	Animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void SNotificationItem::FadeOut()
{
	if (bFadingOut)
	{
		return;
	}
	bFadingOut = true;
	if (Animation)
	{
		Animation->stop();
	}
	Animation = new QPropertyAnimation(Opacity, "opacity", this);
	Animation->setDuration(Milliseconds(FadeOutSeconds));
	Animation->setStartValue(Opacity->opacity());
	Animation->setEndValue(0.0);
	Animation->start(QAbstractAnimation::DeleteWhenStopped);
}

SNotificationList::SNotificationList(FNotificationService& InService, QWidget* Window)
    : QWidget(Window)
    , Service(&InService)
    , Stack(new QVBoxLayout(this))
{
	setObjectName(QStringLiteral("NotificationList"));
	setAttribute(Qt::WA_TransparentForMouseEvents);
	Stack->setContentsMargins(0, 0, 0, 0);
	Stack->setSpacing(8);
	Stack->setSizeConstraint(QLayout::SetFixedSize);
	Window->installEventFilter(this);
	connect(&InService, &FNotificationService::ItemAdded, this, &SNotificationList::Add);
	connect(&InService, &FNotificationService::ItemChanged, this,
	        [this](int Id)
	        {
		        if (SNotificationItem* Toast = FindToast(Id))
		        {
			        Toast->Refresh();
			        Place();
		        }
	        });
	connect(&InService, &FNotificationService::ItemFadingOut, this,
	        [this](int Id)
	        {
		        if (SNotificationItem* Toast = FindToast(Id))
		        {
			        Toast->FadeOut();
		        }
	        });
	connect(&InService, &FNotificationService::ItemRemoved, this, &SNotificationList::Remove);
	// Items added before the window existed are drawn too.
	for (const FNotificationItemPtr& Item : InService.GetItems())
	{
		Add(Item->GetId());
	}
	Place();
}

SNotificationList::~SNotificationList() = default;

QList<SNotificationItem*> SNotificationList::GetToasts() const
{
	QList<SNotificationItem*> Result;
	for (int Index = 0; Index < Stack->count(); ++Index)
	{
		if (auto* Toast = qobject_cast<SNotificationItem*>(Stack->itemAt(Index)->widget()))
		{
			Result.append(Toast);
		}
	}
	return Result;
}

SNotificationItem* SNotificationList::FindToast(int Id) const
{
	return Toasts.value(Id);
}

void SNotificationList::Add(int Id)
{
	const FNotificationItemPtr Item = Service ? Service->Find(Id) : nullptr;
	if (!Item || FindToast(Id))
	{
		return;
	}
	auto* Toast = new SNotificationItem(Item, this);
	Toasts.insert(Id, Toast);
	Stack->insertWidget(0, Toast);
	Toast->show();
	Toast->FadeIn();
	if (Item->GetPhase() == ENotificationPhase::FadingOut)
	{
		Toast->FadeOut();
	}
	show();
	Place();
}

void SNotificationList::Remove(int Id)
{
	if (SNotificationItem* Toast = Toasts.take(Id))
	{
		Stack->removeWidget(Toast);
		delete Toast;
	}
	Place();
}

void SNotificationList::Place()
{
	if (Toasts.isEmpty())
	{
		hide();
		return;
	}
	adjustSize();
	const QWidget* Window = parentWidget();
	int Bottom = Window->height() - Margin;
	if (const auto* Main = qobject_cast<const QMainWindow*>(Window); Main && Main->statusBar()->isVisible())
	{
		Bottom -= Main->statusBar()->height();
	}
	move(Window->width() - width() - Margin, Bottom - height());
	raise();
}

bool SNotificationList::eventFilter(QObject* Watched, QEvent* Event)
{
	if (Watched == parentWidget() && Event->type() == QEvent::Resize)
	{
		Place();
	}
	return QWidget::eventFilter(Watched, Event);
}
