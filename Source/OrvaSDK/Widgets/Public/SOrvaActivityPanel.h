#pragma once

#include <QFrame>
#include <QHash>
#include <QPointer>
#include <QWidget>

class FEditorHost;
class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QToolButton;
class QVBoxLayout;
class UOrvaActivityModel;
class UOrvaSDKSubsystem;
struct FOrvaActivityRow;

// One step in the activity list: what and for which world, its state, a progress bar with bytes,
// rate and time left where known, the cause of a failure, its buttons and its log lines.
class SOrvaActivityRow : public QFrame
{
	Q_OBJECT

public:
	SOrvaActivityRow(UOrvaActivityModel* InModel, int InId, QWidget* Parent = nullptr);

	int GetId() const { return Id; }
	// Shows the row as the model has it now.
	void Refresh();

	QLabel* GetWhatText() const { return WhatText; }
	QLabel* GetStateText() const { return StateText; }
	QLabel* GetDetailText() const { return DetailText; }
	QProgressBar* GetProgressBar() const { return ProgressBar; }
	QPushButton* GetCancelButton() const { return CancelButton; }
	QPushButton* GetRetryButton() const { return RetryButton; }
	QPushButton* GetDismissButton() const { return DismissButton; }
	QToolButton* GetShowLogButton() const { return ShowLogButton; }
	QPlainTextEdit* GetLogView() const { return LogView; }

	// The detail line's text for a row: bytes, rate and time left, or the cause of its end.
	static QString DescribeProgress(const FOrvaActivityRow& Row);

private:
	void RefreshLog();

	QPointer<UOrvaActivityModel> Model;
	int Id = 0;
	QLabel* StateText = nullptr;
	QLabel* WhatText = nullptr;
	QLabel* WorldText = nullptr;
	QLabel* DetailText = nullptr;
	QProgressBar* ProgressBar = nullptr;
	QPushButton* CancelButton = nullptr;
	QPushButton* RetryButton = nullptr;
	QPushButton* DismissButton = nullptr;
	QToolButton* ShowLogButton = nullptr;
	QPlainTextEdit* LogView = nullptr;
};

// The lasting view of this project's publishes: the last outcome of the selected world (kept across
// editor runs) and every current and past step, newest first. Shown in the world tab and in a
// dockable tab of its own. The toasts of the transfers stay; this is where a creator looks back.
class SOrvaActivityPanel : public QWidget
{
	Q_OBJECT

public:
	explicit SOrvaActivityPanel(FEditorHost* InHost, QWidget* Parent = nullptr);

	QList<SOrvaActivityRow*> GetRowWidgets() const;
	SOrvaActivityRow* FindRowWidget(int Id) const;
	QLabel* GetOutcomeText() const { return OutcomeText; }
	// The text that tells World's last outcome; empty when nothing of it was published.
	static QString DescribeOutcome(const UOrvaActivityModel& Model, const QString& World);

private:
	void AddRow(int Id);
	void RemoveRow(int Id);
	void RefreshOutcome();
	void RefreshEmptyHint();

	FEditorHost* Host = nullptr;
	QPointer<UOrvaSDKSubsystem> Sdk;
	QPointer<UOrvaActivityModel> Model;
	QLabel* OutcomeText = nullptr;
	QLabel* EmptyHint = nullptr;
	QVBoxLayout* RowsLayout = nullptr;
	QHash<int, SOrvaActivityRow*> Rows;
};
