#pragma once

#include "ProcWorkerThread.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class FNotificationService;

// The packaging tool's editor module: runs build missions as separate processes. One module per
// application, living as long as the application object.
class FHotPatcherEditorModule : public QObject
{
	Q_OBJECT

public:
	static FHotPatcherEditorModule& Get();
	~FHotPatcherEditorModule() override;

	// Starts Executable with CommandLine (split as a shell would, quotes grouping) and answers its
	// worker, which is always valid: a process that cannot start fires the failure event. While it
	// runs a notification shows NotifyText and the progress; it ends as success or failure. Every
	// line of output goes to the log under LogHotPatcher.
	FProcWorkerThreadPtr RunProcMission(const QString& Executable, const QString& CommandLine,
	                                    const QString& MissionName, const QString& NotifyText = QString());

	// Missions started and not yet ended.
	QList<FProcWorkerThreadPtr> GetRunningMissions() const;

	// Where mission notifications go; none until an editor host offers its stack. Not owned.
	void SetNotificationService(FNotificationService* Service);
	FNotificationService* GetNotificationService() const;

Q_SIGNALS:
	// A mission was started; its output and end events are still to come.
	void MissionStarted(FProcWorkerThread* Worker);

private:
	explicit FHotPatcherEditorModule(QObject* Parent);
	void ShowMissionNotification(const FProcWorkerThreadPtr& Worker, const QString& NotifyText);

	QList<FProcWorkerThreadPtr> Running;
	QPointer<QObject> Notifications;
};
