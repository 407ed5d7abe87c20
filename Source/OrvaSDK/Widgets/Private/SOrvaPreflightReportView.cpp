#include "SOrvaPreflightReportView.h"

#include "AppStyle.h"
#include "Text.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

#define LOCTEXT_NAMESPACE "SOrvaPreflightReportView"

namespace
{
// Long enough for a screen of findings; the panel around it keeps room for the buttons.
constexpr int MaxRowsHeight = 560;
constexpr int RowIconSize = 16;
constexpr int HeadlineIconSize = 22;

QColor LevelColour(EOrvaPreflightLevel Level)
{
	switch (Level)
	{
	case EOrvaPreflightLevel::Error:
		return QColor(0xE0, 0x4F, 0x4F);
	case EOrvaPreflightLevel::Warning:
		return QColor(0xE8, 0xA8, 0x2E);
	case EOrvaPreflightLevel::Note:
		break;
	}
	return QColor(0x4A, 0x90, 0xD9);
}

QString LevelName(EOrvaPreflightLevel Level)
{
	switch (Level)
	{
	case EOrvaPreflightLevel::Error:
		return LOCTEXT("LevelError", "Error").ToString();
	case EOrvaPreflightLevel::Warning:
		return LOCTEXT("LevelWarning", "Warning").ToString();
	case EOrvaPreflightLevel::Note:
		break;
	}
	return LOCTEXT("LevelNote", "Note").ToString();
}

QString Bytes(qint64 Count)
{
	return QLocale().formattedDataSize(Count, 1, QLocale::DataSizeIecFormat);
}

QString CountedErrors(int Count)
{
	return Count == 1 ? LOCTEXT("OneError", "1 error").ToString()
	                  : FText::Format(LOCTEXT("Errors", "{0} errors"), {QString::number(Count)}).ToString();
}

QString CountedWarnings(int Count)
{
	return Count == 1 ? LOCTEXT("OneWarning", "1 warning").ToString()
	                  : FText::Format(LOCTEXT("Warnings", "{0} warnings"), {QString::number(Count)}).ToString();
}

QString CountedNotes(int Count)
{
	return Count == 1 ? LOCTEXT("OneNote", "1 note").ToString()
	                  : FText::Format(LOCTEXT("Notes", "{0} notes"), {QString::number(Count)}).ToString();
}

QLabel* WrappedLabel(const QString& Text, int PointSize, bool bBold = false)
{
	auto* Label = new QLabel(Text);
	Label->setWordWrap(true);
	Label->setTextFormat(Qt::PlainText);
	Label->setTextInteractionFlags(Qt::TextSelectableByMouse);
	QFont Font = QApplication::font();
	Font.setPointSize(PointSize);
	Font.setBold(bBold);
	Label->setFont(Font);
	return Label;
}

QWidget* MakeRow(const FOrvaPreflightFinding& Finding, bool bShaded)
{
	auto* Row = new QFrame();
	Row->setObjectName(QStringLiteral("PreflightRow"));
	Row->setAutoFillBackground(true);
	QPalette Palette = Row->palette();
	const QColor Base = Palette.color(QPalette::Base);
	Palette.setColor(QPalette::Window, bShaded ? Base.lighter(112) : Base);
	Row->setPalette(Palette);
	auto* Layout = new QHBoxLayout(Row);
	Layout->setContentsMargins(10, 7, 10, 7);
	Layout->setSpacing(10);

	auto* Icon = new QLabel();
	Icon->setPixmap(SOrvaPreflightReportView::LevelIcon(Finding.Level, RowIconSize, Row->devicePixelRatioF()));
	Icon->setToolTip(LevelName(Finding.Level));
	Icon->setFixedSize(RowIconSize, RowIconSize + 2);
	Layout->addWidget(Icon, 0, Qt::AlignTop);

	auto* Texts = new QVBoxLayout();
	Texts->setSpacing(2);
	QLabel* Subject = WrappedLabel(Finding.Subject, 10, true);
	Subject->setObjectName(QStringLiteral("PreflightSubject"));
	Texts->addWidget(Subject);
	QLabel* Message = WrappedLabel(Finding.Message, 10);
	Message->setObjectName(QStringLiteral("PreflightMessage"));
	Texts->addWidget(Message);
	if (!Finding.Hint.isEmpty())
	{
		QLabel* Hint = WrappedLabel(QStringLiteral("\u2192 ") + Finding.Hint, 9);
		Hint->setObjectName(QStringLiteral("PreflightHint"));
		QPalette HintPalette = Hint->palette();
		HintPalette.setColor(QPalette::WindowText, HintPalette.color(QPalette::PlaceholderText));
		Hint->setPalette(HintPalette);
		Texts->addWidget(Hint);
	}
	Layout->addLayout(Texts, 1);
	return Row;
}
} // namespace

SOrvaPreflightReportView::SOrvaPreflightReportView(QWidget* Parent)
    : QWidget(Parent)
{
	setObjectName(QStringLiteral("PreflightReport"));
	auto* Layout = new QVBoxLayout(this);
	Layout->setContentsMargins(0, 6, 0, 6);
	Layout->setSpacing(4);

	auto* Top = new QHBoxLayout();
	Top->setSpacing(8);
	HeadlineIcon = new QLabel();
	HeadlineIcon->setFixedSize(HeadlineIconSize, HeadlineIconSize);
	Top->addWidget(HeadlineIcon);
	Headline = new QLabel();
	Headline->setObjectName(QStringLiteral("PreflightHeadline"));
	Headline->setWordWrap(true);
	QFont HeadlineFont = QApplication::font();
	HeadlineFont.setPointSize(12);
	HeadlineFont.setBold(true);
	Headline->setFont(HeadlineFont);
	Top->addWidget(Headline, 1);
	auto* Close = new QPushButton();
	Close->setObjectName(QStringLiteral("PreflightClose"));
	FAppStyle::ApplyButtonStyle(Close, QStringLiteral("NoBorder"));
	Close->setIcon(FAppStyle::GetIcon(QStringLiteral("Icons.X")));
	Close->setToolTip(LOCTEXT("Close_Tooltip", "Hide the report").ToString());
	connect(Close, &QPushButton::clicked, this,
	        [this]
	        {
		        hide();
		        Q_EMIT OnClosed();
	        });
	Top->addWidget(Close, 0, Qt::AlignTop);
	Layout->addLayout(Top);

	Figures = new QLabel();
	Figures->setObjectName(QStringLiteral("PreflightFigures"));
	Figures->setWordWrap(true);
	QFont FiguresFont = QApplication::font();
	FiguresFont.setPointSize(9);
	Figures->setFont(FiguresFont);
	QPalette FiguresPalette = Figures->palette();
	FiguresPalette.setColor(QPalette::WindowText, FiguresPalette.color(QPalette::PlaceholderText));
	Figures->setPalette(FiguresPalette);
	Layout->addWidget(Figures);

	Rows = new QWidget();
	RowsLayout = new QVBoxLayout(Rows);
	RowsLayout->setContentsMargins(0, 0, 0, 0);
	RowsLayout->setSpacing(1);
	RowsScroll = new QScrollArea();
	RowsScroll->setObjectName(QStringLiteral("PreflightRows"));
	RowsScroll->setWidgetResizable(true);
	RowsScroll->setFrameShape(QFrame::StyledPanel);
	RowsScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
	RowsScroll->setMaximumHeight(MaxRowsHeight);
	RowsScroll->setWidget(Rows);
	Layout->addWidget(RowsScroll);
}

QPixmap SOrvaPreflightReportView::LevelIcon(EOrvaPreflightLevel Level, int Size, qreal DevicePixelRatio)
{
	QPixmap Pixmap(QSize(Size, Size) * DevicePixelRatio);
	Pixmap.setDevicePixelRatio(DevicePixelRatio);
	Pixmap.fill(Qt::transparent);
	QPainter Painter(&Pixmap);
	Painter.setRenderHint(QPainter::Antialiasing);
	Painter.setPen(Qt::NoPen);
	Painter.setBrush(LevelColour(Level));
	const QRectF Box(0.5, 0.5, Size - 1.0, Size - 1.0);
	if (Level == EOrvaPreflightLevel::Warning)
	{
		QPainterPath Triangle;
		Triangle.moveTo(Box.center().x(), Box.top());
		Triangle.lineTo(Box.right(), Box.bottom());
		Triangle.lineTo(Box.left(), Box.bottom());
		Triangle.closeSubpath();
		Painter.drawPath(Triangle);
	}
	else
	{
		Painter.drawEllipse(Box);
	}
	// The mark: "!" for errors and warnings, "i" for notes, drawn as strokes so it needs no font.
	QPen Pen(Level == EOrvaPreflightLevel::Warning ? QColor(0x20, 0x20, 0x20) : QColor(Qt::white));
	Pen.setWidthF(Size / 8.0);
	Pen.setCapStyle(Qt::RoundCap);
	Painter.setPen(Pen);
	const qreal X = Box.center().x();
	if (Level == EOrvaPreflightLevel::Note)
	{
		Painter.drawLine(QPointF(X, Size * 0.45), QPointF(X, Size * 0.75));
		Painter.drawPoint(QPointF(X, Size * 0.27));
	}
	else
	{
		const qreal Top = Level == EOrvaPreflightLevel::Warning ? Size * 0.38 : Size * 0.25;
		Painter.drawLine(QPointF(X, Top), QPointF(X, Size * 0.6));
		Painter.drawPoint(QPointF(X, Size * 0.78));
	}
	return Pixmap;
}

void SOrvaPreflightReportView::SetReport(const FOrvaPreflightReport& InReport, const QString& InHeadline)
{
	Report = InReport;
	const int Errors = Report.Count(EOrvaPreflightLevel::Error);
	const int Warnings = Report.Count(EOrvaPreflightLevel::Warning);
	const int Notes = Report.Count(EOrvaPreflightLevel::Note);
	QString Text = InHeadline;
	if (Text.isEmpty())
	{
		Text = Errors > 0 ? FText::Format(LOCTEXT("HeadlineErrors", "{0} and {1}: the world cannot be built until the "
		                                                            "errors are fixed."),
		                                  {CountedErrors(Errors), CountedWarnings(Warnings)})
		                        .ToString()
		       : Warnings > 0 ? FText::Format(LOCTEXT("HeadlineWarnings", "Ready to build, with {0} worth a look."),
		                                      {CountedWarnings(Warnings)})
		                            .ToString()
		                      : LOCTEXT("HeadlineReady", "Ready to build: nothing to fix.").ToString();
	}
	Headline->setText(Text);
	const EOrvaPreflightLevel Worst = Errors > 0     ? EOrvaPreflightLevel::Error
	                                  : Warnings > 0 ? EOrvaPreflightLevel::Warning
	                                                 : EOrvaPreflightLevel::Note;
	HeadlineIcon->setPixmap(LevelIcon(Worst, HeadlineIconSize, devicePixelRatioF()));

	QStringList Parts;
	if (Report.PackageCount > 0)
	{
		Parts.append(FText::Format(LOCTEXT("FiguresPackages", "{0} packages, {1}"),
		                           {QLocale().toString(Report.PackageCount), Bytes(Report.TotalBytes)})
		                 .ToString());
	}
	for (const FOrvaPreflightPak& Pak : std::as_const(Report.Paks))
	{
		Parts.append(
		    FText::Format(LOCTEXT("FiguresPak", "{0} pak about {1}"), {Pak.Platform, Bytes(Pak.EstimatedBytes)})
		        .ToString());
	}
	if (Report.UploadLimitBytes > 0)
	{
		Parts.append(
		    FText::Format(LOCTEXT("FiguresLimit", "upload limit {0}"), {Bytes(Report.UploadLimitBytes)}).ToString());
	}
	Parts.append(FText::Format(LOCTEXT("FiguresCounts", "{0}, {1}, {2}"),
	                           {CountedErrors(Errors), CountedWarnings(Warnings), CountedNotes(Notes)})
	                 .ToString());
	// Each figure stays on one line; the line breaks between them.
	for (QString& Part : Parts)
	{
		Part.replace(QLatin1Char(' '), QChar(0x00a0));
	}
	Figures->setText(Parts.join(QStringLiteral(" \u00b7 ")));

	while (QLayoutItem* Item = RowsLayout->takeAt(0))
	{
		delete Item->widget();
		delete Item;
	}
	for (qsizetype Index = 0; Index < Report.Findings.size(); ++Index)
	{
		RowsLayout->addWidget(MakeRow(Report.Findings[Index], Index % 2 == 1));
	}
	RowsLayout->addStretch(1);
	// The panel around gives the report only what it asks for: ask for the rows, up to a screenful.
	RowsScroll->setMinimumHeight(std::min(Rows->sizeHint().height() + 2 * RowsScroll->frameWidth(), MaxRowsHeight));
	show();
}

QString SOrvaPreflightReportView::GetHeadline() const
{
	return Headline->text();
}

int SOrvaPreflightReportView::GetRowCount() const
{
	return int(Rows->findChildren<QFrame*>(QStringLiteral("PreflightRow"), Qt::FindDirectChildrenOnly).size());
}
