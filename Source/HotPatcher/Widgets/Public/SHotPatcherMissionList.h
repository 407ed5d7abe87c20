#pragma once

#include "ProcWorkerThread.h"

#include <QGroupBox>
#include <QPointer>
#include <QStringList>

#include <vector>

class QPlainTextEdit;
class QPushButton;
class QTableWidget;

// The build missions of the editor, running and ended, with their state and output; the selected
// one can be cancelled. Follows the missions the packaging module starts from the moment it is made.
class SHotPatcherMissionList : public QGroupBox
{
	Q_OBJECT

public:
	explicit SHotPatcherMissionList(QWidget* Parent = nullptr);

	// The most output lines the list keeps per mission; older ones are dropped.
	static constexpr int MaxOutputLines = 5000;

	QPushButton* GetCancelButton() const { return CancelButton; }
	QTableWidget* GetMissionTable() const { return MissionTable; }
	QPlainTextEdit* GetMissionOutput() const { return MissionOutput; }

private:
	struct FMissionRow
	{
		QPointer<FProcWorkerThread> Worker;
		QString Name;
		QStringList Output;
		int DroppedLines = 0;
	};

	void AddMission(FProcWorkerThread* Worker);
	void UpdateMissionRow(int Row);
	void ShowSelectedOutput();
	int SelectedMission() const;

	std::vector<FMissionRow> Missions;
	QTableWidget* MissionTable = nullptr;
	QPlainTextEdit* MissionOutput = nullptr;
	QPushButton* CancelButton = nullptr;
};
