#include "HotPatcherEditor.h"

#include "EditorJobNotification.h"
#include "Log.h"
#include "Notifications.h"

#include <QCoreApplication>

FHotPatcherEditorModule& FHotPatcherEditorModule::Get()
{
	// Owned by the application object, so it and its processes go before the application does.
	static QPointer<FHotPatcherEditorModule> Instance;
	if (!Instance)
	{
		Instance = new FHotPatcherEditorModule(QCoreApplication::instance());
	}
	return *Instance;
}

FHotPatcherEditorModule::FHotPatcherEditorModule(QObject* Parent)
    : QObject(Parent)
{
}

FHotPatcherEditorModule::~FHotPatcherEditorModule() = default;

QList<FProcWorkerThreadPtr> FHotPatcherEditorModule::GetRunningMissions() const
{
	return Running;
}

FProcWorkerThreadPtr FHotPatcherEditorModule::RunProcMission(const QString& Executable, const QString& CommandLine,
                                                             const QString& MissionName, const QString& NotifyText)
{
	// Deleted through the event loop: the last owner may let go inside one of its own events.
	FProcWorkerThreadPtr Worker(new FProcWorkerThread(Executable, CommandLine, MissionName),
	                            [](FProcWorkerThread* Object) { Object->deleteLater(); });
	Running.append(Worker);
	auto Release = [this, Raw = Worker.get()](FProcWorkerThread*)
	{ Running.removeIf([Raw](const FProcWorkerThreadPtr& Held) { return Held.get() == Raw; }); };
	connect(Worker.get(), &FProcWorkerThread::ProcSuccessed, this, Release, Qt::QueuedConnection);
	connect(Worker.get(), &FProcWorkerThread::ProcFaild, this, Release, Qt::QueuedConnection);
	ShowMissionNotification(Worker, NotifyText);
	Worker->Execute();
	// After the start, so that the worker already tells its state; its output and end events are
	// read from the event loop, so none is missed.
	Q_EMIT MissionStarted(Worker.get());
	return Worker;
}

void FHotPatcherEditorModule::SetNotificationService(FNotificationService* Service)
{
	Notifications = Service;
}

FNotificationService* FHotPatcherEditorModule::GetNotificationService() const
{
	return qobject_cast<FNotificationService*>(Notifications.data());
}

void FHotPatcherEditorModule::ShowMissionNotification(const FProcWorkerThreadPtr& Worker, const QString& NotifyText)
{
	FNotificationService* Service = GetNotificationService();
	if (!Service)
	{
		return;
	}
	const QString Text = NotifyText.isEmpty() ? Worker->GetMissionName() : NotifyText;
	FEditorJobNotificationTexts Texts;
	Texts.Running = [Text](const UEditorJob& Job)
	{
		const int Percent = static_cast<const FProcWorkerThread&>(Job).GetProgressPercent();
		return Percent < 0 ? Text : QStringLiteral("%1 %2%").arg(Text).arg(Percent);
	};
	Texts.Succeeded = QStringLiteral("%1 done").arg(Text);
	Texts.Failed = QStringLiteral("%1 failed").arg(Text);
	Texts.Cancelled = Texts.Failed;
	FEditorJobNotification::Follow(*Worker, *Service, std::move(Texts));
}
