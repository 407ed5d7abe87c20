#include "EditorHost.h"

#include "AssetRegistry.h"
#include "AssetTools.h"
#include "ConfigCache.h"
#include "Dialogs.h"
#include "EditorSubsystem.h"
#include "Http.h"
#include "Log.h"
#include "Notifications.h"
#include "ObjectClasses.h"
#include "RenderThread.h"
#include "ThreadPool.h"

#include <QMetaObject>

UEditorSubsystem::UEditorSubsystem(QObject* Parent)
    : QObject(Parent)
{
}

UEditorSubsystem::~UEditorSubsystem() = default;

void UEditorSubsystem::Initialize(FSubsystemCollection&) {}

void UEditorSubsystem::Deinitialize() {}

FEditorHost::FEditorHost(const FEditorHostOptions& InOptions, QObject* Parent)
    : QObject(Parent)
    , Options(InOptions)
    , PathsInstance(InOptions.ProjectFile, InOptions.UserSettingsDir, InOptions.EngineDir)
    , HttpModule(std::make_unique<FHttpModule>())
    , DialogService(std::make_unique<FPolicyDialogService>())
    , NotificationService(std::make_unique<FNotificationService>())
    , Pool(std::make_unique<FQueuedThreadPool>())
    , ClassTable(std::make_unique<FClassTable>())
    , bEditorWorld(InOptions.bWithEditorWorld)
{
	Render = std::make_unique<FRenderThread>();
	Registry = std::make_unique<FAssetRegistry>(PathsInstance, *ClassTable);
	// Through the host, so that a dialog service set later is the one the tools ask.
	Tools = std::make_unique<FAssetTools>(*Registry, [this] { return DialogService.get(); });
	if (Options.bWithConfigCache)
	{
		Config = std::make_unique<FConfigCache>();
	}
	if (!GThreadPool)
	{
		GThreadPool = Pool.get();
	}
}

FEditorHost::~FEditorHost()
{
	Shutdown();
	qDeleteAll(Subsystems);
	Subsystems.clear();
	// Work still on the pool finishes before the pool goes; what it posts back finds its
	// receivers gone and is dropped.
	if (GThreadPool == Pool.get())
	{
		GThreadPool = nullptr;
	}
	Pool.reset();
}

void FEditorHost::RegisterSubsystem(const QMetaObject& Class, FSubsystemFactory Factory)
{
	Registrations.append({&Class, std::move(Factory)});
}

void FEditorHost::Start()
{
	if (bStarted)
	{
		return;
	}
	bStarted = true;
	if (Options.bLogToFile)
	{
		LogFile = std::make_unique<FFileLogSink>(PathsInstance.ProjectLogDir() + PathsInstance.ProjectName() +
		                                         QStringLiteral(".log"));
		FLog::AddSink(LogFile.get());
	}
	// Subsystems find the project's packages indexed when they start.
	Registry->SearchAllAssets(true);
	// Create every subsystem before initialising any, so that each may look the others up.
	for (const FRegistration& Registration : Registrations)
	{
		UEditorSubsystem* Subsystem = Registration.Factory();
		Subsystem->Host = this;
		Subsystems.append(Subsystem);
	}
	FSubsystemCollection Collection(*this);
	for (UEditorSubsystem* Subsystem : Subsystems)
	{
		Subsystem->Initialize(Collection);
	}
}

void FEditorHost::Shutdown()
{
	if (!bStarted)
	{
		return;
	}
	bStarted = false;
	for (auto It = Subsystems.crbegin(); It != Subsystems.crend(); ++It)
	{
		(*It)->Deinitialize();
	}
	// Requests sent during shutdown (the world details, for one) still leave before the process ends.
	HttpModule->Flush(Options.ShutdownFlushMs);
	if (LogFile)
	{
		FLog::RemoveSink(LogFile.get());
		LogFile.reset();
	}
}

UEditorSubsystem* FEditorHost::FindSubsystem(const QMetaObject& Class) const
{
	for (UEditorSubsystem* Subsystem : Subsystems)
	{
		if (Subsystem->metaObject()->inherits(&Class))
		{
			return Subsystem;
		}
	}
	return nullptr;
}

UEditorSubsystem* FEditorHost::FindSubsystem(const QString& ClassName) const
{
	for (UEditorSubsystem* Subsystem : Subsystems)
	{
		if (QLatin1String(Subsystem->metaObject()->className()) == ClassName)
		{
			return Subsystem;
		}
	}
	return nullptr;
}

QList<UEditorSubsystem*> FEditorHost::GetSubsystems() const
{
	return Subsystems;
}

void FEditorHost::SetDialogService(std::unique_ptr<FDialogService> Service)
{
	if (Service)
	{
		DialogService = std::move(Service);
	}
}

void FEditorHost::SetTabInvoker(QObject* Context, FTabInvoker Invoker)
{
	TabInvokerContext = Context;
	TabInvoker = Context ? std::move(Invoker) : FTabInvoker();
}

bool FEditorHost::TryInvokeTab(const QString& TabId) const
{
	return TabInvokerContext && TabInvoker && TabInvoker(TabId);
}
