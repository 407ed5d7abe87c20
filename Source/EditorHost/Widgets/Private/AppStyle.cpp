#include "AppStyle.h"

#include <QAbstractButton>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace
{
const QColor Foreground(0xd8, 0xd8, 0xd8);

void DrawChevron(QPainter& Painter, const QRectF& Box, bool bLeft)
{
	const qreal W = Box.width();
	const qreal H = Box.height();
	QPainterPath Path;
	if (bLeft)
	{
		Path.moveTo(Box.left() + W * 0.62, Box.top() + H * 0.22);
		Path.lineTo(Box.left() + W * 0.34, Box.top() + H * 0.5);
		Path.lineTo(Box.left() + W * 0.62, Box.top() + H * 0.78);
	}
	else
	{
		Path.moveTo(Box.left() + W * 0.25, Box.top() + H * 0.38);
		Path.lineTo(Box.left() + W * 0.5, Box.top() + H * 0.64);
		Path.lineTo(Box.left() + W * 0.75, Box.top() + H * 0.38);
	}
	Painter.drawPath(Path);
}

void DrawCut(QPainter& Painter, const QRectF& Box)
{
	const qreal W = Box.width();
	const qreal H = Box.height();
	const qreal R = W * 0.15;
	const QPointF LeftRing(Box.left() + W * 0.3, Box.top() + H * 0.75);
	const QPointF RightRing(Box.left() + W * 0.7, Box.top() + H * 0.75);
	Painter.drawEllipse(LeftRing, R, R);
	Painter.drawEllipse(RightRing, R, R);
	Painter.drawLine(QPointF(LeftRing.x() + R * 0.6, LeftRing.y() - R * 0.8),
	                 QPointF(Box.left() + W * 0.68, Box.top() + H * 0.12));
	Painter.drawLine(QPointF(RightRing.x() - R * 0.6, RightRing.y() - R * 0.8),
	                 QPointF(Box.left() + W * 0.32, Box.top() + H * 0.12));
}

// A ring of dots fading round the circle, brightest at the top.
void DrawThrobber(QPainter& Painter, const QRectF& Box)
{
	Painter.setPen(Qt::NoPen);
	const QPointF Centre = Box.center();
	const qreal Radius = std::min(Box.width(), Box.height()) * 0.36;
	const qreal Dot = std::min(Box.width(), Box.height()) * 0.09;
	constexpr int Dots = 8;
	for (int Index = 0; Index < Dots; ++Index)
	{
		const qreal Angle = -M_PI / 2 + 2 * M_PI * Index / Dots;
		QColor Colour = Foreground;
		Colour.setAlphaF(1.0 - 0.85 * Index / Dots);
		Painter.setBrush(Colour);
		const QPointF At(Centre.x() + Radius * qCos(Angle), Centre.y() + Radius * qSin(Angle));
		Painter.drawEllipse(At, Dot * (1.0 - 0.4 * Index / Dots), Dot * (1.0 - 0.4 * Index / Dots));
	}
}
} // namespace

QSize FAppStyle::GetBrushSize(const QString& BrushName)
{
	if (BrushName == QLatin1String("NotificationList.Throbber"))
	{
		return QSize(32, 32);
	}
	if (BrushName == QLatin1String("Icons.Plus") || BrushName == QLatin1String("Icons.X") ||
	    BrushName == QLatin1String("Icons.ChevronLeft") || BrushName == QLatin1String("Icons.ChevronDown") ||
	    BrushName == QLatin1String("GenericCommands.Cut") || BrushName == QLatin1String("NoBorder"))
	{
		return QSize(16, 16);
	}
	return QSize();
}

QPixmap FAppStyle::GetBrush(const QString& BrushName, const QSize& Size)
{
	const QSize Natural = GetBrushSize(BrushName);
	if (Natural.isEmpty())
	{
		return QPixmap();
	}
	const QSize DrawSize = Size.isEmpty() ? Natural : Size;
	QPixmap Pixmap(DrawSize);
	Pixmap.fill(Qt::transparent);
	QPainter Painter(&Pixmap);
	Painter.setRenderHint(QPainter::Antialiasing);
	QPen Pen(Foreground, std::max(1.5, DrawSize.width() / 10.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
	Painter.setPen(Pen);
	Painter.setBrush(Qt::NoBrush);
	const QRectF Box(0, 0, DrawSize.width(), DrawSize.height());
	const qreal W = Box.width();
	const qreal H = Box.height();
	if (BrushName == QLatin1String("Icons.Plus"))
	{
		Painter.drawLine(QPointF(W * 0.5, H * 0.2), QPointF(W * 0.5, H * 0.8));
		Painter.drawLine(QPointF(W * 0.2, H * 0.5), QPointF(W * 0.8, H * 0.5));
	}
	else if (BrushName == QLatin1String("Icons.X"))
	{
		Painter.drawLine(QPointF(W * 0.25, H * 0.25), QPointF(W * 0.75, H * 0.75));
		Painter.drawLine(QPointF(W * 0.75, H * 0.25), QPointF(W * 0.25, H * 0.75));
	}
	else if (BrushName == QLatin1String("Icons.ChevronLeft"))
	{
		DrawChevron(Painter, Box, true);
	}
	else if (BrushName == QLatin1String("Icons.ChevronDown"))
	{
		DrawChevron(Painter, Box, false);
	}
	else if (BrushName == QLatin1String("GenericCommands.Cut"))
	{
		Pen.setWidthF(std::max(1.2, W / 14.0));
		Painter.setPen(Pen);
		DrawCut(Painter, Box);
	}
	else if (BrushName == QLatin1String("NotificationList.Throbber"))
	{
		DrawThrobber(Painter, Box);
	}
	return Pixmap;
}

QIcon FAppStyle::GetIcon(const QString& BrushName)
{
	const QPixmap Pixmap = GetBrush(BrushName);
	return Pixmap.isNull() ? QIcon() : QIcon(Pixmap);
}

bool FAppStyle::ApplyButtonStyle(QAbstractButton* Button, const QString& StyleName)
{
	if (!Button)
	{
		return false;
	}
	QString Sheet;
	if (StyleName == QLatin1String("NoBorder"))
	{
		Sheet = QStringLiteral("QAbstractButton { border: none; background: transparent; padding: 2px; }"
		                       "QAbstractButton:hover { background: rgba(255, 255, 255, 24); }"
		                       "QAbstractButton:pressed { background: rgba(255, 255, 255, 40); }");
	}
	else if (StyleName == QLatin1String("SlimToolBar"))
	{
		Sheet = QStringLiteral("QAbstractButton { border: 1px solid #3a3a3a; border-radius: 3px; background: #303030;"
		                       " padding: 4px 10px; }"
		                       "QAbstractButton:hover { background: #3c3c3c; }"
		                       "QAbstractButton:pressed { background: #262626; }"
		                       "QAbstractButton:disabled { color: #707070; background: #2a2a2a; }"
		                       "QToolButton::menu-indicator { image: none; width: 0px; }");
	}
	else if (StyleName == QLatin1String("ComboButton"))
	{
		Sheet = QStringLiteral("QAbstractButton { border: 1px solid #505050; border-radius: 3px;"
		                       " background: rgba(30, 30, 30, 200); padding: 1px; }"
		                       "QAbstractButton:hover { background: rgba(60, 60, 60, 230); }"
		                       "QToolButton::menu-indicator { image: none; width: 0px; }");
	}
	else
	{
		return false;
	}
	Button->setStyleSheet(Sheet);
	Button->setProperty("AppStyle", StyleName);
	return true;
}
