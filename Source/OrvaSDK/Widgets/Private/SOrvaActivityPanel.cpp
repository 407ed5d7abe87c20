#include "SOrvaActivityPanel.h"

#include "EditorHost.h"
#include "OrvaActivityModel.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSubsystem.h"
#include "Text.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

#define LOCTEXT_NAMESPACE "SOrvaActivityPanel"

namespace
{
// The state's word and colour; the colour carries the state at a glance, the word for everyone.
struct FStateLook
{
	FText Word;
	const char* Colour;
};

FStateLook LookOf(EEditorJobState State)
{
	switch (State)
	{
	case EEditorJobState::Waiting:
		return {LOCTEXT("StateWaiting", "Waiting"), "#c9a23a"};
	case EEditorJobState::Running:
		return {LOCTEXT("StateRunning", "Running"), "#3d8ee8"};
	case EEditorJobState::Succeeded:
		return {LOCTEXT("StateDone", "Done"), "#4caf6a"};
	case EEditorJobState::Failed:
		return {LOCTEXT("StateFailed", "Failed"), "#e05252"};
	case EEditorJobState::Cancelled:
		return {LOCTEXT("StateCancelled", "Cancelled"), "#8a8a8a"};
	}
	return {FText(), "#8a8a8a"};
}

QString Amount(qint64 Value, bool bBytes)
{
	return bBytes ? QLocale().formattedDataSize(Value) : QLocale().toString(Value);
}

QString TimeLeft(qint64 Seconds)
{
	if (Seconds < 60)
	{
		return FText::Format(LOCTEXT("SecondsLeft", "{0} s left"), {QLocale().toString(Seconds)}).ToString();
	}
	if (Seconds < 3600)
	{
		return FText::Format(LOCTEXT("MinutesLeft", "{0} min left"), {QLocale().toString((Seconds + 59) / 60)})
		    .ToString();
	}
	return FText::Format(LOCTEXT("HoursLeft", "{0} h {1} min left"),
	                     {QLocale().toString(Seconds / 3600), QLocale().toString((Seconds % 3600) / 60)})
	    .ToString();
}

// The world's name as the creator gave it, when this editor knows it; its identifier otherwise.
QString WorldName(const UOrvaActivityModel* Model, const QString& World)
{
	const auto* Sdk = Model ? qobject_cast<const UOrvaSDKSubsystem*>(Model->parent()) : nullptr;
	FEditorHost* Host = Sdk ? Sdk->GetHost() : nullptr;
	const auto* Cache = Host ? Host->GetEditorSubsystem<UOrvaDataCacheSubsystem>() : nullptr;
	const FWorkspaceDataPtr Workspace = Cache ? Cache->GetWorkspace(World) : nullptr;
	return Workspace && !Workspace->TitleName.isEmpty() ? Workspace->TitleName : World;
}

QPushButton* SmallButton(const FText& Text, const char* Name, const FText& Tooltip)
{
	auto* Button = new QPushButton(Text.ToString());
	Button->setObjectName(QLatin1String(Name));
	Button->setToolTip(Tooltip.ToString());
	Button->setCursor(Qt::PointingHandCursor);
	return Button;
}
} // namespace

SOrvaActivityRow::SOrvaActivityRow(UOrvaActivityModel* InModel, int InId, QWidget* Parent)
    : QFrame(Parent)
    , Model(InModel)
    , Id(InId)
{
	setObjectName(QStringLiteral("ActivityRow_%1").arg(Id));
	setFrameShape(QFrame::StyledPanel);
	setStyleSheet(QStringLiteral("SOrvaActivityRow { border: 1px solid #3a3a3a; border-radius: 4px; }"));
	auto* Layout = new QVBoxLayout(this);
	Layout->setContentsMargins(10, 8, 10, 8);
	Layout->setSpacing(4);

	auto* Top = new QHBoxLayout();
	Top->setSpacing(8);
	StateText = new QLabel();
	StateText->setObjectName(QStringLiteral("StateText"));
	StateText->setAlignment(Qt::AlignCenter);
	StateText->setMinimumWidth(78);
	Top->addWidget(StateText);
	WhatText = new QLabel();
	WhatText->setObjectName(QStringLiteral("WhatText"));
	QFont Bold = WhatText->font();
	Bold.setBold(true);
	WhatText->setFont(Bold);
	WhatText->setTextInteractionFlags(Qt::TextSelectableByMouse);
	// Long titles (component ids) wrap rather than widen the list past its dock.
	WhatText->setWordWrap(true);
	WhatText->setMinimumWidth(120);
	Top->addWidget(WhatText, 1);
	WorldText = new QLabel();
	WorldText->setObjectName(QStringLiteral("WorldText"));
	WorldText->setStyleSheet(QStringLiteral("color: #9a9a9a;"));
	Top->addWidget(WorldText);

	CancelButton = SmallButton(LOCTEXT("Cancel", "Cancel"), "CancelButton",
	                           LOCTEXT("Cancel_Tooltip", "Stop this step; nothing it has not finished is kept"));
	RetryButton = SmallButton(LOCTEXT("Retry", "Retry"), "RetryButton",
	                          LOCTEXT("Retry_Tooltip", "Run this step again; what the service already holds "
	                                                   "complete is not sent again"));
	DismissButton = SmallButton(LOCTEXT("Dismiss", "Dismiss"), "DismissButton",
	                            LOCTEXT("Dismiss_Tooltip", "Remove it from the list"));
	ShowLogButton = new QToolButton();
	ShowLogButton->setObjectName(QStringLiteral("ShowLogButton"));
	ShowLogButton->setText(LOCTEXT("ShowLog", "Show log").ToString());
	ShowLogButton->setToolTip(LOCTEXT("ShowLog_Tooltip", "The log lines written while this step ran").ToString());
	ShowLogButton->setCheckable(true);
	ShowLogButton->setAutoRaise(true);
	for (QWidget* Button : {static_cast<QWidget*>(CancelButton), static_cast<QWidget*>(RetryButton),
	                        static_cast<QWidget*>(DismissButton), static_cast<QWidget*>(ShowLogButton)})
	{
		Top->addWidget(Button);
	}
	Layout->addLayout(Top);

	auto* Bottom = new QHBoxLayout();
	Bottom->setSpacing(8);
	ProgressBar = new QProgressBar();
	ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
	ProgressBar->setTextVisible(false);
	ProgressBar->setFixedHeight(8);
	ProgressBar->setMinimumWidth(160);
	Bottom->addWidget(ProgressBar, 2);
	DetailText = new QLabel();
	DetailText->setObjectName(QStringLiteral("DetailText"));
	DetailText->setWordWrap(true);
	DetailText->setTextInteractionFlags(Qt::TextSelectableByMouse);
	Bottom->addWidget(DetailText, 3);
	Layout->addLayout(Bottom);

	LogView = new QPlainTextEdit();
	LogView->setObjectName(QStringLiteral("LogView"));
	LogView->setReadOnly(true);
	LogView->setLineWrapMode(QPlainTextEdit::NoWrap);
	LogView->setMaximumHeight(160);
	LogView->setStyleSheet(QStringLiteral("QPlainTextEdit { font-family: monospace; font-size: 11px; }"));
	LogView->hide();
	Layout->addWidget(LogView);

	connect(CancelButton, &QPushButton::clicked, this,
	        [this]
	        {
		        if (Model)
		        {
			        Model->Cancel(Id);
		        }
	        });
	// Retry and Dismiss remove this row; the model says so after the click has returned.
	connect(RetryButton, &QPushButton::clicked, this,
	        [this]
	        {
		        if (Model)
		        {
			        Model->Retry(Id);
		        }
	        });
	connect(DismissButton, &QPushButton::clicked, this,
	        [this]
	        {
		        if (Model)
		        {
			        Model->Dismiss(Id);
		        }
	        });
	connect(ShowLogButton, &QToolButton::toggled, this,
	        [this](bool bShown)
	        {
		        LogView->setVisible(bShown);
		        ShowLogButton->setText(bShown ? LOCTEXT("HideLog", "Hide log").ToString()
		                                      : LOCTEXT("ShowLog", "Show log").ToString());
		        RefreshLog();
	        });
	Refresh();
}

QString SOrvaActivityRow::DescribeProgress(const FOrvaActivityRow& Row)
{
	if (Row.State == EEditorJobState::Failed || Row.State == EEditorJobState::Cancelled)
	{
		return Row.Cause;
	}
	QStringList Parts;
	if (!Row.Phase.isEmpty())
	{
		Parts.append(Row.Phase);
	}
	if (Row.State == EEditorJobState::Running && Row.Total > 0 && !Row.bBytes)
	{
		Parts.append(FText::Format(LOCTEXT("Percent", "{0}%"),
		                           {QLocale().toString(qBound(qint64(0), Row.Done * 100 / Row.Total, qint64(100)))})
		                 .ToString());
	}
	else if (Row.State == EEditorJobState::Running && Row.Total > 0)
	{
		Parts.append(FText::Format(LOCTEXT("DoneOfTotal", "{0} of {1}"),
		                           {Amount(Row.Done, Row.bBytes), Amount(Row.Total, Row.bBytes)})
		                 .ToString());
		if (Row.bBytes && Row.Rate > 0.0)
		{
			Parts.append(
			    FText::Format(LOCTEXT("Rate", "{0}/s"), {QLocale().formattedDataSize(qint64(Row.Rate))}).ToString());
		}
		if (Row.SecondsLeft >= 0)
		{
			Parts.append(TimeLeft(Row.SecondsLeft));
		}
	}
	else if (Row.State == EEditorJobState::Succeeded && Row.Total > 0 && Row.bBytes)
	{
		Parts.append(Amount(Row.Total, true));
	}
	return Parts.join(QStringLiteral(" · "));
}

void SOrvaActivityRow::Refresh()
{
	const FOrvaActivityRow* Row = Model ? Model->FindRow(Id) : nullptr;
	if (!Row)
	{
		return;
	}
	const FStateLook Look = LookOf(Row->State);
	StateText->setText(Look.Word.ToString());
	StateText->setStyleSheet(
	    QStringLiteral("QLabel { color: white; background: %1; border-radius: 3px; padding: 1px 6px; }")
	        .arg(QLatin1String(Look.Colour)));
	WhatText->setText(Row->What);
	WorldText->setText(WorldName(Model, Row->World));
	WorldText->setToolTip(FText::Format(LOCTEXT("World_Tooltip", "World {0}"), {Row->World}).ToString());

	const bool bRunning = Row->State == EEditorJobState::Running;
	if (Row->State == EEditorJobState::Succeeded)
	{
		ProgressBar->setRange(0, 1);
		ProgressBar->setValue(1);
	}
	else if (bRunning && Row->Total <= 0)
	{
		// Busy: how far it is, is not known.
		ProgressBar->setRange(0, 0);
	}
	else
	{
		ProgressBar->setRange(0, 1000);
		ProgressBar->setValue(Row->Total > 0 ? int(qBound(qint64(0), Row->Done * 1000 / Row->Total, qint64(1000))) : 0);
	}
	ProgressBar->setStyleSheet(QStringLiteral("QProgressBar { border: none; background: #2c2c2c; border-radius: 4px; }"
	                                          "QProgressBar::chunk { background: %1; border-radius: 4px; }")
	                               .arg(QLatin1String(Look.Colour)));
	DetailText->setText(DescribeProgress(*Row));
	DetailText->setStyleSheet(Row->State == EEditorJobState::Failed ? QStringLiteral("color: #ff8080;") : QString());

	CancelButton->setVisible(Row->bCanCancel);
	RetryButton->setVisible(Row->bCanRetry);
	DismissButton->setVisible(!bRunning && Row->State != EEditorJobState::Waiting);
	if (LogView->isVisible())
	{
		RefreshLog();
	}
}

void SOrvaActivityRow::RefreshLog()
{
	if (!Model || !LogView->isVisible())
	{
		return;
	}
	const QStringList Lines = Model->GetLogLines(Id);
	const QString Text = Lines.isEmpty()
	                         ? LOCTEXT("NoLogLines", "No log lines were written during this step.").ToString()
	                         : Lines.join(QLatin1Char('\n'));
	if (LogView->toPlainText() != Text)
	{
		LogView->setPlainText(Text);
		LogView->verticalScrollBar()->setValue(LogView->verticalScrollBar()->maximum());
	}
}

SOrvaActivityPanel::SOrvaActivityPanel(FEditorHost* InHost, QWidget* Parent)
    : QWidget(Parent)
    , Host(InHost)
{
	setObjectName(QStringLiteral("SOrvaActivityPanel"));
	Sdk = Host ? Host->GetEditorSubsystem<UOrvaSDKSubsystem>() : nullptr;
	Model = Sdk ? Sdk->GetActivity() : nullptr;

	auto* Layout = new QVBoxLayout(this);
	Layout->setContentsMargins(30, 8, 30, 8);
	Layout->setSpacing(6);
	OutcomeText = new QLabel();
	OutcomeText->setObjectName(QStringLiteral("OutcomeText"));
	OutcomeText->setStyleSheet(QStringLiteral(
	    "QLabel { background: #323a44; border: 1px solid #46505c; border-radius: 4px; padding: 6px 10px; }"));
	OutcomeText->setWordWrap(true);
	OutcomeText->setTextInteractionFlags(Qt::TextSelectableByMouse);
	Layout->addWidget(OutcomeText);
	EmptyHint = new QLabel(LOCTEXT("NoSteps", "Nothing has run yet: the steps of a build, publish or launch show "
	                                          "here while they run, and stay afterwards.")
	                           .ToString());
	EmptyHint->setObjectName(QStringLiteral("EmptyHint"));
	EmptyHint->setWordWrap(true);
	EmptyHint->setStyleSheet(QStringLiteral("color: #9a9a9a;"));
	Layout->addWidget(EmptyHint);
	RowsLayout = new QVBoxLayout();
	RowsLayout->setSpacing(6);
	Layout->addLayout(RowsLayout);
	Layout->addStretch(1);

	if (Model)
	{
		for (const FOrvaActivityRow& Row : Model->GetRows())
		{
			AddRow(Row.Id);
		}
		connect(Model, &UOrvaActivityModel::RowAdded, this, &SOrvaActivityPanel::AddRow);
		connect(Model, &UOrvaActivityModel::RowRemoved, this, &SOrvaActivityPanel::RemoveRow);
		connect(Model, &UOrvaActivityModel::RowChanged, this,
		        [this](int Id)
		        {
			        if (SOrvaActivityRow* Row = Rows.value(Id))
			        {
				        Row->Refresh();
			        }
		        });
		connect(Model, &UOrvaActivityModel::OutcomeChanged, this, [this](const QString&) { RefreshOutcome(); });
	}
	if (Sdk)
	{
		connect(Sdk, &UOrvaSDKSubsystem::OnWorkspaceChanged, this, [this](const FWorkspaceData&) { RefreshOutcome(); });
	}
	RefreshOutcome();
	RefreshEmptyHint();
}

void SOrvaActivityPanel::AddRow(int Id)
{
	if (!Model || Rows.contains(Id))
	{
		return;
	}
	auto* Row = new SOrvaActivityRow(Model, Id);
	Rows.insert(Id, Row);
	// Newest first.
	RowsLayout->insertWidget(0, Row);
	RefreshEmptyHint();
}

void SOrvaActivityPanel::RemoveRow(int Id)
{
	if (SOrvaActivityRow* Row = Rows.take(Id))
	{
		// Later: the click that removed it may still be on its way through the row's button.
		Row->hide();
		Row->deleteLater();
	}
	RefreshEmptyHint();
}

void SOrvaActivityPanel::RefreshEmptyHint()
{
	EmptyHint->setVisible(Rows.isEmpty());
}

QList<SOrvaActivityRow*> SOrvaActivityPanel::GetRowWidgets() const
{
	QList<SOrvaActivityRow*> Result;
	for (int Index = 0; Index < RowsLayout->count(); ++Index)
	{
		if (auto* Row = qobject_cast<SOrvaActivityRow*>(RowsLayout->itemAt(Index)->widget()))
		{
			if (Rows.contains(Row->GetId()))
			{
				Result.append(Row);
			}
		}
	}
	return Result;
}

SOrvaActivityRow* SOrvaActivityPanel::FindRowWidget(int Id) const
{
	return Rows.value(Id);
}

QString SOrvaActivityPanel::DescribeOutcome(const UOrvaActivityModel& Model, const QString& World)
{
	const FOrvaPublishOutcome Outcome = Model.GetLastOutcome(World);
	if (Outcome.IsEmpty())
	{
		return QString();
	}
	QStringList Paks;
	for (const FOrvaPublishOutcome::FPak& Pak : Outcome.Paks)
	{
		Paks.append(FText::Format(LOCTEXT("OutcomePak", "{0}: component {1}, {2}"),
		                          {Pak.Platform, Pak.ComponentId, QLocale().formattedDataSize(Pak.Size)})
		                .ToString());
	}
	return FText::Format(LOCTEXT("Outcome", "Last published {0} ({1}), check code {2}\n{3}"),
	                     {QLocale().toString(Outcome.PublishedAt.toLocalTime(), QLocale::ShortFormat), Outcome.Level,
	                      Outcome.CheckCode, Paks.join(QLatin1Char('\n'))})
	    .ToString();
}

void SOrvaActivityPanel::RefreshOutcome()
{
	const QString World = Sdk ? Sdk->CurrWorkspace.WorldIdentifier : QString();
	const QString Text = Model && !World.isEmpty() ? DescribeOutcome(*Model, World) : QString();
	OutcomeText->setText(
	    Text.isEmpty() && !World.isEmpty()
	        ? LOCTEXT("NeverPublished", "This world has not been published from this project yet.").ToString()
	        : Text);
	OutcomeText->setVisible(!World.isEmpty());
}

#undef LOCTEXT_NAMESPACE
