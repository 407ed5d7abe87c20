#include "ExpandableArea.h"

#include <QToolButton>
#include <QVBoxLayout>

SExpandableArea::SExpandableArea(const QString& InTitle, QWidget* Parent)
    : QWidget(Parent)
    , TitleButton(new QToolButton())
    , Body(new QWidget())
    , BodyLayout(new QVBoxLayout(Body))
{
	setObjectName(QStringLiteral("SExpandableArea"));
	auto* Layout = new QVBoxLayout(this);
	Layout->setContentsMargins(0, 0, 0, 0);
	Layout->setSpacing(0);
	TitleButton->setObjectName(QStringLiteral("AreaTitle"));
	TitleButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
	TitleButton->setArrowType(Qt::DownArrow);
	TitleButton->setAutoRaise(true);
	TitleButton->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
	TitleButton->setStyleSheet(QStringLiteral("QToolButton#AreaTitle { text-align: left; padding: 4px; border: none;"
	                                          " background: rgba(255, 255, 255, 14); }"));
	TitleButton->setText(InTitle);
	connect(TitleButton, &QToolButton::clicked, this, [this] { SetExpanded(!bExpanded); });
	Layout->addWidget(TitleButton);
	BodyLayout->setContentsMargins(0, 0, 0, 0);
	BodyLayout->setSpacing(0);
	Layout->addWidget(Body);
}

SExpandableArea::~SExpandableArea() = default;

void SExpandableArea::SetTitle(const QString& InTitle)
{
	if (TitleButton->text() != InTitle)
	{
		TitleButton->setText(InTitle);
	}
}

QString SExpandableArea::GetTitle() const
{
	return TitleButton->text();
}

void SExpandableArea::SetTitleFont(const QFont& Font)
{
	TitleButton->setFont(Font);
}

void SExpandableArea::SetBodyContent(QWidget* InContent)
{
	if (Content)
	{
		BodyLayout->removeWidget(Content);
		delete Content;
	}
	Content = InContent;
	if (Content)
	{
		BodyLayout->addWidget(Content);
	}
}

void SExpandableArea::SetExpanded(bool bInExpanded)
{
	if (bExpanded == bInExpanded)
	{
		return;
	}
	bExpanded = bInExpanded;
	TitleButton->setArrowType(bExpanded ? Qt::DownArrow : Qt::RightArrow);
	Body->setVisible(bExpanded);
	Q_EMIT AreaExpansionChanged(bExpanded);
}
