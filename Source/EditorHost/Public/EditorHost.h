#pragma once

#include "Paths.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class FAssetRegistry;
class FAssetTools;
class FClassTable;
class FConfigCache;
class FDialogService;
class FFileLogSink;
class FHttpModule;
class FNotificationService;
class FQueuedThreadPool;
class FRenderThread;
class UEditorSubsystem;
struct QMetaObject;

struct FEditorHostOptions
{
	// The project's .uproject file.
	QString ProjectFile;
	// Per-user settings folder; empty means the XDG config home.
	QString UserSettingsDir;
	// Engine folder with "Content/" for the /Engine mount point; empty means none.
	QString EngineDir;
	// Without a config cache, GetConfig() answers null (the plugin then keeps no settings).
	bool bWithConfigCache = true;
	// Whether the host has an editor world (timers on it drive folder moves).
	bool bWithEditorWorld = true;
	// Whether log lines go to Saved/Logs/<ProjectName>.log of the project.
	bool bLogToFile = true;
	// How long shutdown lets requests already sent finish.
	int ShutdownFlushMs = 3000;
};

// Settings of the editor itself that the plugin reads or writes.
struct FEditorSettings
{
	// The level editor's screenshot folder.
	QString ScreenshotSaveDirectory;
	// Whether the engine renders stereoscopically (a VR headset is in use); off unless set.
	bool bStereoscopic3D = false;
};

// The editor host: owns the project paths, the config cache, the HTTP module, the dialog service,
// the notification stack, the thread pool and the editor subsystems. Subsystems are registered before Start(), created
// and initialised in registration order by Start(), and deinitialised in reverse order by Shutdown().
class FEditorHost : public QObject
{
	Q_OBJECT

public:
	explicit FEditorHost(const FEditorHostOptions& Options, QObject* Parent = nullptr);
	~FEditorHost() override;

	using FSubsystemFactory = std::function<UEditorSubsystem*()>;
	void RegisterSubsystem(const QMetaObject& Class, FSubsystemFactory Factory);
	template <class T>
	void RegisterSubsystem()
	{
		RegisterSubsystem(T::staticMetaObject, [] { return new T(); });
	}

	void Start();
	// Deinitialises the subsystems in reverse order, then lets requests already sent finish for a
	// bounded time. Safe to call twice.
	void Shutdown();
	bool IsStarted() const { return bStarted; }

	template <class T>
	T* GetEditorSubsystem() const
	{
		return qobject_cast<T*>(FindSubsystem(T::staticMetaObject));
	}
	UEditorSubsystem* FindSubsystem(const QMetaObject& Class) const;
	// By class name, for example "UOrvaSDKSubsystem"; null when absent.
	UEditorSubsystem* FindSubsystem(const QString& ClassName) const;
	QList<UEditorSubsystem*> GetSubsystems() const;

	const FPaths& Paths() const { return PathsInstance; }
	// Null when the host runs without a config cache.
	FConfigCache* GetConfig() const { return Config.get(); }
	FHttpModule& Http() const { return *HttpModule; }
	FDialogService& Dialogs() const { return *DialogService; }
	// The notification stack; a front end draws it from its signals.
	FNotificationService& Notifications() const { return *NotificationService; }
	// The host's pool; it is also GThreadPool while this host is the first one alive.
	FQueuedThreadPool& ThreadPool() const { return *Pool; }
	void SetDialogService(std::unique_ptr<FDialogService> Service);
	FEditorSettings& EditorSettings() { return Settings; }
	// The classes this host knows: the engine's own and those its code modules register.
	FClassTable& Classes() const { return *ClassTable; }
	// The project's packages: scanned by Start() before any subsystem is initialised.
	FAssetRegistry& AssetRegistry() const { return *Registry; }
	FAssetTools& AssetTools() const { return *Tools; }
	bool HasEditorWorld() const { return bEditorWorld; }
	// Runs render commands (texture uploads) in order, off the main thread.
	FRenderThread& RenderThread() const { return *Render; }

	// Opens an editor tab by id, or brings the open one to front; answers whether a tab shows.
	using FTabInvoker = std::function<bool(const QString& TabId)>;
	// Set by a front end that has tabs; the invoker lives as long as Context. A headless host has
	// none, and TryInvokeTab answers false.
	void SetTabInvoker(QObject* Context, FTabInvoker Invoker);
	bool TryInvokeTab(const QString& TabId) const;

private:
	struct FRegistration
	{
		const QMetaObject* Class;
		FSubsystemFactory Factory;
	};

	FEditorHostOptions Options;
	FPaths PathsInstance;
	std::unique_ptr<FConfigCache> Config;
	std::unique_ptr<FHttpModule> HttpModule;
	std::unique_ptr<FDialogService> DialogService;
	std::unique_ptr<FNotificationService> NotificationService;
	std::unique_ptr<FQueuedThreadPool> Pool;
	// Before the registry and the tools, which resolve classes through it.
	std::unique_ptr<FClassTable> ClassTable;
	std::unique_ptr<FAssetRegistry> Registry;
	std::unique_ptr<FAssetTools> Tools;
	std::unique_ptr<FFileLogSink> LogFile;
	std::unique_ptr<FRenderThread> Render;
	FEditorSettings Settings;
	QPointer<QObject> TabInvokerContext;
	FTabInvoker TabInvoker;
	QList<FRegistration> Registrations;
	QList<UEditorSubsystem*> Subsystems;
	bool bStarted = false;
	bool bEditorWorld = true;
};
