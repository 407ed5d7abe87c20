#include "SHotPatcherMissionList.h"

#include "HotPatcherEditor.h"
#include "SHotPatcherParts.h"

#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace HotPatcherPanel;

namespace
{
QString StateText(const FProcWorkerThread* Worker)
{
	if (!Worker)
	{
		return Tr("StateEnded", "Ended");
	}
	switch (Worker->GetStatus())
	{
	case EProcWorkerStatus::Ready:
		return Tr("StateReady", "Ready");
	case EProcWorkerStatus::Running:
		return Tr("StateRunning", "Running");
	case EProcWorkerStatus::Succeeded:
		return Tr("StateSucceeded", "Succeeded");
	case EProcWorkerStatus::Failed:
		return Tr("StateFailed", "Failed");
	}
	return QString();
}
} // namespace

SHotPatcherMissionList::SHotPatcherMissionList(QWidget* Parent)
    : QGroupBox(Tr("Missions", "Missions"), Parent)
{
	auto* Layout = new QVBoxLayout(this);
	MissionTable = MakeTable({Tr("MissionColumn", "Mission"), Tr("StateColumn", "State"),
	                          Tr("ProgressColumn", "Progress"), Tr("ResultColumn", "Result")},
	                         QStringLiteral("Missions"));
	MissionTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
	MissionTable->setSelectionMode(QAbstractItemView::SingleSelection);
	MissionTable->setColumnWidth(0, 160);
	MissionTable->setColumnWidth(1, 90);
	MissionTable->setColumnWidth(2, 70);
	MissionTable->setMinimumHeight(80);
	MissionOutput = new QPlainTextEdit();
	MissionOutput->setObjectName(QStringLiteral("MissionOutput"));
	MissionOutput->setReadOnly(true);
	MissionOutput->setMaximumBlockCount(MaxOutputLines + 1);
	MissionOutput->setMinimumHeight(80);
	CancelButton = new QPushButton(Tr("Cancel", "Cancel mission"));
	CancelButton->setObjectName(QStringLiteral("CancelMission"));
	CancelButton->setEnabled(false);
	auto* Top = new QHBoxLayout();
	Top->addWidget(MissionTable, 1);
	Top->addWidget(CancelButton, 0, Qt::AlignTop);
	Layout->addLayout(Top, 1);
	Layout->addWidget(MissionOutput, 2);
	connect(MissionTable, &QTableWidget::itemSelectionChanged, this, &SHotPatcherMissionList::ShowSelectedOutput);
	connect(CancelButton, &QPushButton::clicked, this,
	        [this]
	        {
		        const int Row = SelectedMission();
		        if (Row >= 0 && Missions[Row].Worker)
		        {
			        Missions[Row].Worker->Cancel();
		        }
	        });

	connect(&FHotPatcherEditorModule::Get(), &FHotPatcherEditorModule::MissionStarted, this,
	        &SHotPatcherMissionList::AddMission);
	for (const FProcWorkerThreadPtr& Running : FHotPatcherEditorModule::Get().GetRunningMissions())
	{
		AddMission(Running.get());
	}
}

void SHotPatcherMissionList::AddMission(FProcWorkerThread* Worker)
{
	if (!Worker)
	{
		return;
	}
	for (const FMissionRow& Known : Missions)
	{
		if (Known.Worker == Worker)
		{
			return;
		}
	}
	Missions.push_back(FMissionRow{Worker, Worker->GetMissionName(), {}, 0});
	const int Row = MissionTable->rowCount();
	MissionTable->insertRow(Row);
	for (int Column = 0; Column < MissionTable->columnCount(); ++Column)
	{
		MissionTable->setItem(Row, Column, TextItem(QString()));
	}
	UpdateMissionRow(Row);
	connect(Worker, &FProcWorkerThread::ProcOutputLine, this,
	        [this, Row](FProcWorkerThread*, const QString& Line)
	        {
		        FMissionRow& Mission = Missions[Row];
		        Mission.Output.append(Line);
		        if (Mission.Output.size() > MaxOutputLines)
		        {
			        Mission.Output.removeFirst();
			        ++Mission.DroppedLines;
		        }
		        if (SelectedMission() == Row)
		        {
			        MissionOutput->appendPlainText(Line);
		        }
	        });
	connect(Worker, &FProcWorkerThread::ProcProgress, this, [this, Row] { UpdateMissionRow(Row); });
	auto Ended = [this, Row](FProcWorkerThread* Ender)
	{
		UpdateMissionRow(Row);
		if (SelectedMission() == Row && !Ender->IsSucceeded())
		{
			MissionOutput->appendPlainText(Ender->GetFailureReason());
		}
		if (SelectedMission() == Row)
		{
			CancelButton->setEnabled(false);
		}
	};
	connect(Worker, &FProcWorkerThread::ProcSuccessed, this, Ended);
	connect(Worker, &FProcWorkerThread::ProcFaild, this, Ended);
	// The newest mission is the one a creator wants to watch.
	MissionTable->selectRow(Row);
}

void SHotPatcherMissionList::UpdateMissionRow(int Row)
{
	const FMissionRow& Mission = Missions[Row];
	const FProcWorkerThread* Worker = Mission.Worker;
	MissionTable->item(Row, 0)->setText(Mission.Name);
	// A worker is released once its mission ended and no one holds it: its row keeps what it showed.
	if (!Worker)
	{
		return;
	}
	MissionTable->item(Row, 1)->setText(StateText(Worker));
	const int Percent = Worker->GetProgressPercent();
	MissionTable->item(Row, 2)->setText(Worker->IsSucceeded()
	                                        ? QStringLiteral("100%")
	                                        : (Percent >= 0 ? QStringLiteral("%1%").arg(Percent) : QString()));
	QString Result;
	if (Worker->GetStatus() == EProcWorkerStatus::Failed)
	{
		Result = Worker->GetFailureReason();
	}
	else if (Worker->GetStatus() == EProcWorkerStatus::Succeeded)
	{
		Result = Tr("ExitZero", "Exit status 0");
	}
	MissionTable->item(Row, 3)->setText(Result);
	MissionTable->item(Row, 3)->setToolTip(Result);
}

int SHotPatcherMissionList::SelectedMission() const
{
	const QList<QTableWidgetItem*> Selected = MissionTable->selectedItems();
	return Selected.isEmpty() ? -1 : Selected.first()->row();
}

void SHotPatcherMissionList::ShowSelectedOutput()
{
	const int Row = SelectedMission();
	MissionOutput->clear();
	if (Row < 0)
	{
		CancelButton->setEnabled(false);
		return;
	}
	const FMissionRow& Mission = Missions[Row];
	QStringList Lines;
	if (Mission.DroppedLines > 0)
	{
		Lines.append(Tr("Dropped", "(%1 earlier lines not kept)").arg(Mission.DroppedLines));
	}
	Lines.append(Mission.Output);
	if (Mission.Worker && Mission.Worker->GetStatus() == EProcWorkerStatus::Failed)
	{
		Lines.append(Mission.Worker->GetFailureReason());
	}
	MissionOutput->setPlainText(Lines.join(QLatin1Char('\n')));
	CancelButton->setEnabled(Mission.Worker && Mission.Worker->GetStatus() == EProcWorkerStatus::Running);
}
