#pragma once

#include "EditorJob.h"
#include "EditorSubsystem.h"
#include "Http.h"
#include "OrvaSDKPreflight.h"
#include "OrvaServiceJob.h"
#include "SoftObjectPath.h"

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

// The records shared by the subsystems, the request handlers and the views. Records that several
// holders share live behind shared pointers and are changed in place.

namespace OrvaSDKTypes
{
Q_NAMESPACE

// The state of the one task the SDK runs at a time for a workspace.
enum class EOrvaSDKProgress : quint8
{
	None = 0,         ///< NoString
	FolderMoving = 1, ///< Floder Moving
	FolderMovFailed = 2,
	FolderMoveSuccess = 3,
	AssetPaking = 4, ///< Asset Paking
	AssetPakFailed = 5,
	AssetPakSuccess = 6,
	PakUploading = 7, ///< Pak Uploading
	PakUploadFailed = 8,
	PakUploadSuccess = 9,
};
Q_ENUM_NS(EOrvaSDKProgress)
} // namespace OrvaSDKTypes

using OrvaSDKTypes::EOrvaSDKProgress;

// The logged-in user's profile.
struct FOrvaUserInfo
{
	Q_GADGET
	Q_PROPERTY(QString DisplayName MEMBER DisplayName)
	Q_PROPERTY(QString Email MEMBER Email)
	Q_PROPERTY(bool bIsCreator MEMBER bIsCreator)

public:
	QString DisplayName;
	QString Email;
	bool bIsCreator = false;

	bool operator==(const FOrvaUserInfo& Other) const = default;
};

// One image known to the service: a world's title image or a screenshot of the current world.
struct FOrvaImageData
{
	Q_GADGET
	Q_PROPERTY(QString Name MEMBER Name)
	Q_PROPERTY(qint64 Size MEMBER Size)
	Q_PROPERTY(QString Url MEMBER Url)
	Q_PROPERTY(QString Id MEMBER Id)

public:
	QString Name;
	qint64 Size = 0;
	// Where the image is downloaded from; a local path while a screenshot is being uploaded.
	QString Url;
	// Sent as "image_id" when the image becomes the title image.
	QString Id;

	bool operator==(const FOrvaImageData& Other) const = default;
};

using FOrvaImageDataPtr = std::shared_ptr<FOrvaImageData>;

// One world of the logged-in creator.
struct FOrvaWorldData
{
	Q_GADGET
	Q_PROPERTY(QString Identifier MEMBER Identifier)
	Q_PROPERTY(QString Name MEMBER Name)
	Q_PROPERTY(QString Description MEMBER Description)
	Q_PROPERTY(qint32 Capacity MEMBER Capacity)
	Q_PROPERTY(bool bIsPublic MEMBER bIsPublic)
	Q_PROPERTY(qint32 Activities MEMBER Activities)
	Q_PROPERTY(qint32 Likes MEMBER Likes)
	Q_PROPERTY(FOrvaImageDataPtr TitleImage MEMBER TitleImage)
	Q_PROPERTY(QList<FOrvaImageDataPtr> PreviewImages MEMBER PreviewImages)
	Q_PROPERTY(QString LastUpdate MEMBER LastUpdate)
	Q_PROPERTY(QString Id MEMBER Id)

public:
	// The world's folder-safe key: names the workspace folder and keys the workspace record.
	QString Identifier;
	QString Name;
	QString Description;
	qint32 Capacity = 0;
	bool bIsPublic = false;
	qint32 Activities = 0;
	qint32 Likes = 0;
	FOrvaImageDataPtr TitleImage;
	QList<FOrvaImageDataPtr> PreviewImages;
	QString LastUpdate;
	// The service's key of the world, used in request paths.
	QString Id;
};

using FOrvaWorldDataPtr = std::shared_ptr<FOrvaWorldData>;

// The local workspace bound to one world.
struct FWorkspaceData
{
	Q_GADGET
	Q_PROPERTY(QString WorldIdentifier MEMBER WorldIdentifier)
	Q_PROPERTY(QString WorldId MEMBER WorldId)
	Q_PROPERTY(QString TitleName MEMBER TitleName)
	Q_PROPERTY(QString Description MEMBER Description)
	Q_PROPERTY(bool bIsPublic MEMBER bIsPublic)
	Q_PROPERTY(FSoftObjectPath ObjectPath MEMBER ObjectPath)
	Q_PROPERTY(bool bEditable MEMBER bEditable)
	Q_PROPERTY(OrvaSDKTypes::EOrvaSDKProgress Progress MEMBER Progress)

public:
	QString WorldIdentifier;
	QString WorldId;
	QString TitleName;
	// A display text.
	QString Description;
	bool bIsPublic = false;
	// The workspace's entry level; empty until chosen.
	FSoftObjectPath ObjectPath;
	// Whether the workspace folder exists in this project's content folder.
	bool bEditable = false;
	EOrvaSDKProgress Progress = EOrvaSDKProgress::None;

	bool operator==(const FWorkspaceData& Other) const = default;
};

using FWorkspaceDataPtr = std::shared_ptr<FWorkspaceData>;

Q_DECLARE_METATYPE(FOrvaUserInfo)
Q_DECLARE_METATYPE(FOrvaImageData)
Q_DECLARE_METATYPE(FOrvaImageDataPtr)
Q_DECLARE_METATYPE(FOrvaWorldData)
Q_DECLARE_METATYPE(FOrvaWorldDataPtr)
Q_DECLARE_METATYPE(FWorkspaceData)
Q_DECLARE_METATYPE(FWorkspaceDataPtr)

class FExportPatchSettings;
class FLoadedObject;
class FProcWorkerThread;
struct FAssetData;
class UOrvaActivityModel;
enum class EOrvaActivityStep;
class UOrvaAsyncFileUploader;
class UOrvaDataCacheSubsystem;

// The plugin's central editor subsystem: login state, the current workspace, the pak build's
// targets and settings, the bookkeeping of the one task that may run at a time, and the events the
// views bind to. All of it lives on the main thread.
class UOrvaSDKSubsystem : public UEditorSubsystem
{
	Q_OBJECT
	Q_PROPERTY(bool bIsLoggedin READ IsLoggedin)
	Q_PROPERTY(FOrvaUserInfo UserInfo READ GetUserInfoRecord)
	Q_PROPERTY(QString AccessToken READ GetAccessToken)
	Q_PROPERTY(QString UserEmailOrPhone READ GetUserEmailOrPhone)
	Q_PROPERTY(FWorkspaceData CurrWorkspace MEMBER CurrWorkspace)
	Q_PROPERTY(QStringList TargetPlatforms READ GetTargetPlatforms)
	Q_PROPERTY(QString KeyFolderName READ GetKeyFolderName)
	Q_PROPERTY(QString IdentInProgress MEMBER IdentInProgress)
	Q_PROPERTY(QStringList RecordMovedFolders MEMBER RecordMovedFolders)
	Q_PROPERTY(bool bOnlyServer READ OnlyBuildServer)
	Q_PROPERTY(QString ServiceBaseUrl READ GetServiceBaseUrl)

public:
	// The service's address when no development override is configured.
	static QString DefaultServiceBaseUrl();
	// Relative path from the creator's project to the player client's project.
	static QString ClientRelativePath();

	UOrvaSDKSubsystem();
	~UOrvaSDKSubsystem() override;

	void Initialize(FSubsystemCollection& Collection) override;
	void Deinitialize() override;

	// Login (web requests and their answers).
	Q_INVOKABLE void Login(QString User, QString Pwd);
	void Login_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	Q_INVOKABLE void GetUserInfo();
	void GetUserInfo_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	Q_INVOKABLE void Logout();

	// World catalogue.
	Q_INVOKABLE void GetWorldsList();
	void GetWorldsList_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	Q_INVOKABLE void NewWorld();
	void NewWorld_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	Q_INVOKABLE void DeleteWorld(const QStringList& InWorldIds);
	void DeleteWorld_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	Q_INVOKABLE void PrivatizeWorld(bool bIsPrivate);
	void PrivatizeWorld_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	Q_INVOKABLE void UploadWorldDetials();
	void UploadWorldDetials_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	Q_INVOKABLE void SetTitleImage(const QString& InImageId);
	void SetTitleImage_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);
	Q_INVOKABLE void GetScreenshots();
	void GetScreenshots_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);

	// Workspaces.
	Q_INVOKABLE void CreateWorkspaceFolder(const QString& FolderName);
	Q_INVOKABLE FWorkspaceData ChangeWorkspaceWorld(const FOrvaWorldData& World);
	Q_INVOKABLE bool CacheCurrWorkspace();
	Q_INVOKABLE void ClearCurrWorkspace();
	Q_INVOKABLE void ResetCurrWorkspace();
	Q_INVOKABLE void SaveCurrWorldInfo();
	Q_INVOKABLE void ClearSection();
	Q_INVOKABLE void SetCurrentLevelPath(const FSoftObjectPath& Path);
	Q_INVOKABLE FSoftObjectPath GetCurrentLevelPath() const;
	Q_INVOKABLE bool CurrentLevelIsNone() const;
	Q_INVOKABLE bool CurrWorkspaceInProgress() const;

	// Asset relocation: the packages the entry level needs that lie outside the workspace folder,
	// and moving them into it. Package-name sets hold each name once, in the order found.
	QStringList CheckFoldersNeedMove(const QString& PackageName, const QString& FolderName) const;
	// Every package PackageName needs, itself first: what CheckFoldersNeedMove sorts into inside
	// and outside.
	QStringList GetDependencyClosure(const QString& PackageName) const;
	// Whether the relocation counts PackageName as inside the workspace folder FolderName.
	static bool LiesInWorkspaceFolder(const QString& PackageName, const QString& FolderName);
	// What SureAutoMovePackages does with a set of packages to move: the top-level folders it moves
	// whole, one per tick, and the packages at a mount point's root it moves at once.
	struct FRelocationPlan
	{
		QStringList Folders;
		QStringList RootPackages;
	};
	static FRelocationPlan PlanRelocation(const QStringList& PackageNamesToMove);
	QStringList CheckFoldersNeedMove(const FAssetData& AssetData) const;
	Q_INVOKABLE QStringList CheckFoldersNeedMove(const FSoftObjectPath& InObjectPath) const;
	Q_INVOKABLE bool SureAutoMovePackages(const QStringList& PackageNamesToMove);
	Q_INVOKABLE void ExcuteFolderMoving();
	Q_INVOKABLE void FixUpAllRedirectors();
	// Whether the folder-move timer runs.
	Q_INVOKABLE bool IsFolderMoveRunning() const;
	const QList<std::shared_ptr<FLoadedObject>>& GetRecordMovedObjects() const { return RecordMovedObjects; }

	// What a build and publish of the current world would run into (see OrvaSDKPreflight.h).
	Q_INVOKABLE FOrvaPreflightReport GetPreflightReport() const;

	// Progress of the running task, as recorded for the current workspace.
	Q_INVOKABLE OrvaSDKTypes::EOrvaSDKProgress GetCurrProgress() const;
	Q_INVOKABLE bool OnlyBuildServer() const { return bOnlyServer; }
	Q_INVOKABLE void SetOnlyBuildServer(bool bInOnlyServer);

	// The pak build through the packaging tool, and the bookkeeping of its output.
	Q_INVOKABLE void UpdateHotPatcherSettings(const QString& PackageName, const FSoftObjectPath& TargetObject);
	Q_INVOKABLE void ExcutePatcher();
	Q_INVOKABLE void BuildPak();
	void PatcherSuccess(FProcWorkerThread* Worker);
	void PathcerFailed(FProcWorkerThread* Worker);
	Q_INVOKABLE void OpenHotPatcher();
	// Whether a pak build process runs; CancelPakBuild stops it (the build then counts as failed).
	Q_INVOKABLE bool IsPakBuildRunning() const;
	Q_INVOKABLE void CancelPakBuild();
	Q_INVOKABLE QString GetCheckCode();
	Q_INVOKABLE bool CheckLocalPaks(bool bNamedByComponent);
	bool GetCopmonentNamedPakPath(const QString& AssetName, const QString& PlatformName, QString& OutPath);
	Q_INVOKABLE bool SaveComponentInfoToFile(const QString& ComponentId, const QString& PlatformName);
	// The folder of the current world's build of its entry level (see GetLevelOutputFolder).
	Q_INVOKABLE QString GetCurrentBuildFolder() const;
	Q_INVOKABLE void PakAndUpload();
	Q_INVOKABLE void TaskPublishPaks();
	Q_INVOKABLE void TaskLaunchORVA();
	Q_INVOKABLE QStringList OpenPakFiles();
	Q_INVOKABLE QStringList OpenImageFiles();

	// Component registration.
	Q_INVOKABLE void InitUpload();
	void InitUpload_ResponseReceived(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bWasSuccessful);

	bool IsLoggedin() const { return bIsLoggedin; }
	const FOrvaUserInfo& GetUserInfoRecord() const { return UserInfo; }
	QString GetAccessToken() const { return AccessToken; }
	QString GetUserEmailOrPhone() const { return UserEmailOrPhone; }
	QStringList GetTargetPlatforms() const { return TargetPlatforms; }
	QString GetKeyFolderName() const { return KeyFolderName; }
	QString GetServiceBaseUrl() const { return ServiceBaseUrl; }
	// The per-user folder of the platform's settings: the user settings folder followed by
	// "BrackenfoldStudios/ORVA".
	QString GetUserSettingsPath() const;
	// Full path of "OrvaSDK.ini".
	QString GetSettingsFilePath() const;

	// Why the last login attempt failed, in the creator's words (the service's own message or that
	// it cannot be reached); empty once a login succeeded.
	QString GetLastLoginError() const { return LastLoginError; }
	// The cause of a failed service request: the service's status and message, or that it cannot
	// be reached at its address.
	QString DescribeServiceFailure(const FHttpResponsePtr& Response) const;

	// Starts the player client on the registered client pak of the current world (see
	// docs/ClientLaunch.md); true when a client process was started.
	Q_INVOKABLE bool OpenClientExe();
	// The program the last OpenClientExe started; empty when it started none.
	QString GetLastClientPath() const { return LastClientPath; }
	// The client's arguments, one per switch, in the client's order.
	QStringList BuildClientArguments(const QString& ClientPakPath, bool bStereoscopic, bool bLogging) const;
	// The file standing in for the current user's registry hive.
	QString GetInstallerRecordPath() const;
	// Bound to the server pak's upload: the client starts once it is stored.
	Q_INVOKABLE void TaskLaunchORVA_CheckServerPak(bool bServerPakIsUploaded);
	const std::shared_ptr<FExportPatchSettings>& GetPatchSettings() const { return PatchSettings; }
	// The steps of this project's publishes, as the activity list shows them.
	UOrvaActivityModel* GetActivity() const { return Activity; }

	// Whether an identifier from the service can safely name a folder and a request path segment.
	static bool IsSafeIdentifier(const QString& Identifier);
	// Whether a token from the service can go into a header as it is: visible ASCII without blanks,
	// at most MaxTokenLength characters.
	static bool IsPlainBearerToken(const QString& Token);
	static constexpr qsizetype MaxTokenLength = 4096;
	// Every service answer is buffered: a longer one fails as no answer.
	static constexpr qint64 MaxServiceAnswerBytes = FOrvaServiceJob::DefaultAnswerLimit;
	// However busy the connection, a service request that has not completed by then completes as
	// no answer.
	static constexpr double ServiceRequestDeadlineSeconds = FOrvaServiceJob::DefaultDeadlineSeconds;

	// The fields the views and tasks read and write directly.
	bool bIsLoggedin = false;
	FOrvaUserInfo UserInfo;
	QString AccessToken;
	QString UserEmailOrPhone;
	FWorkspaceData CurrWorkspace;
	QStringList TargetPlatforms;
	QString KeyFolderName;
	QString IdentInProgress;

Q_SIGNALS:
	void OnOrvaUploadProgress(int OrvaTaskId, float Percent, const QString& FileName);
	void OnOrvaUploadFinished(int OrvaTaskId, const QString& FileName);
	void OnOrvaPackagesMove();
	void OnOrvaSDKLogin(bool LoginSuccess);
	void OnLoginStateChanged(bool bLoggedIn);
	void OnWorkspaceChanged(const FWorkspaceData& Workspace);
	void OnWorldsListUpdated();
	void OnScreenshotsUpdated();
	void OnOrvaSDKPaking(bool PakSuccess);
	void OnNewWorkspace();
	// A request the creator started failed: What names it, Cause says why (see
	// DescribeServiceFailure). Views show it until the creator dismisses it.
	void OnServiceRequestFailed(const QString& What, const QString& Cause);
	// The service answered that it holds the details or the privacy sent for the world WorldId.
	void OnWorldSaved(const QString& WorldId);
	// The client launch after the server pak's upload: whether a client process started.
	void OnClientLaunched(bool bStarted);
	// A build of WorldIdentifier gave the very paks whose components the service already holds
	// complete: they were kept, nothing is registered and a publish uploads nothing.
	void OnBuildUnchanged(const QString& WorldIdentifier);
	// An upload of a pak began, from whichever caller; its end is the uploader's OnUploadCompleted,
	// so a receiver that wants it connects before returning.
	void OnUploadStarted(UOrvaAsyncFileUploader* Uploader);

private:
	friend struct FOrvaSDKSubsystemTestAccess;
	// Its service requests are ServiceJobs like every other.
	friend class UOrvaAsyncFileUploader;
	// Reads the published records of a world.
	friend class UOrvaActivityModel;
	using FResponseHandler = void (UOrvaSDKSubsystem::*)(FHttpRequestPtr, FHttpResponsePtr, bool);

	void UpdateProgress(EOrvaSDKProgress Progress);
	UOrvaDataCacheSubsystem* GetDataCache() const;
	// A request to the service at RelativePath (never starting with "/"), with this subsystem's
	// address, bounds and, when bAuthorization, its access token as it is when the job is sent.
	FOrvaServiceJob ServiceJob(const QString& Verb, const QString& RelativePath, bool bAccept,
	                           bool bAuthorization) const;
	// Sends Job with its answer bound to Handler on this object.
	void SendServiceJob(FOrvaServiceJob& Job, FResponseHandler Handler);
	// PATCH "worlds/<id>" of the current world with Body; nothing is sent without a usable id.
	void PatchCurrentWorld(const QString& Label, const QString& Body, FResponseHandler Handler);
	// The same, with an answer handler that knows which world was patched.
	void PatchCurrentWorld(const QString& Label, const QString& Body,
	                       std::function<void(const QString& WorldId, FHttpResponsePtr Response, bool bOk)> Handler);
	// Ends a login attempt that gave no token or no profile: the cause is kept for the form.
	void FailLogin(const QString& Cause);
	// "worlds/<id>" for the current workspace's world; empty (with an error line naming Label) when
	// the id cannot go into a path.
	QString CurrentWorldPath(const QString& Label) const;
	// "worlds/<id>" for WorldId, under the same rules.
	QString WorldPath(const QString& Label, const QString& WorldId) const;
	void ReadServiceBaseUrlOverride();
	// The world's output folder / Left / Right / PakName + ".pak", split at the last "_" of PakName,
	// for the current world.
	QString GetPakPathByPakName(const QString& PakName) const;
	// The same for the world WorldIdentifier.
	QString GetPakPathByPakName(const QString& PakName, const QString& WorldIdentifier) const;
	// The project's saved "HotPatcher" folder, absolute.
	QString GetPakOutputRoot() const;
	// Where builds of one world write: the output root / WorldIdentifier. Empty when the identifier
	// cannot name a folder of its own there.
	QString GetWorldOutputRoot(const QString& WorldIdentifier) const;
	// Where the output of a level of the current world is read: the world's own folder, or the
	// shared folder builds used before output was kept per world, when only that one exists.
	QString GetLevelOutputFolder(const QString& LevelName) const;
	// Ends a build that did not give its paks: progress, the task slot, the event.
	void FailPakBuild(const QString& Reason);
	// The one message box of a refused task, naming the folder whose task runs.
	void ShowTaskInProgress(const QString& Folder);

	// Component registration of Workspace's build; the answer is handled for that world even if
	// another one is current by then.
	void InitUploadFor(const FWorkspaceData& Workspace);
	struct FRegistration
	{
		QString WorldIdentifier;
		QString LevelName;
		QPointer<UEditorStepJob> Job;
	};
	// Registers one element of the answer; false when it could not be recorded.
	bool RegisterComponent(const FRegistration& Registration, const QString& ComponentId, const QString& Platform,
	                       const QString& FileName);
	// Removes the paks a registration superseded and temporaries of killed builds from the folder
	// of the registered pak KeptPak.
	void RemoveSupersededFiles(const QString& WorldIdentifier, const QString& KeptPak);
	QHash<const void*, FRegistration> PendingRegistrations;

	// What the service confirmed holding complete of a level, per platform: Published.json in the
	// level's build folder, written when an upload's completion is confirmed.
	struct FPublishedPak
	{
		QString ComponentId;
		QString Sha256;
		qint64 Size = -1;
		QString CheckCode;
		QString PublishedAt;
	};
	static QHash<QString, FPublishedPak> LoadPublishedRecord(const QString& LevelFolder);
	// Records the pak PakPath (LevelFolder/Platform/ComponentId.pak) as held complete; the hash is
	// taken on a pool thread, the record written on the main thread.
	void RecordPublishedPak(const QString& PakPath, const QString& ComponentId, const QString& CheckCode);
	void WritePublishedPak(const QString& PakPath, const FPublishedPak& Published);
	// After a build: keeps the published components when every new pak equals its published one,
	// else registers the new paks.
	void RegisterUnlessPublished(const FWorkspaceData& Built);

	// Uploads of each world that have not ended yet; a second publish of a world waits for them.
	bool IsUploadRunning(const QString& WorldIdentifier) const;
	UOrvaAsyncFileUploader* StartUpload(const QString& PakPath);
	// The same for the world World with the check code of its build (a retry of a failed upload).
	UOrvaAsyncFileUploader* StartUpload(const QString& PakPath, const QString& World, const QString& CheckCode);
	// Starts a step the subsystem carries out itself and lists it; Retry, when given, runs it again.
	UEditorStepJob* BeginActivityStep(EOrvaActivityStep Step, const QString& Title, const QString& World,
	                                  std::function<void()> Retry = {});
	QHash<QString, QList<QPointer<QObject>>> RunningUploads;
	// The world whose launch waits for its server pak's upload.
	QString LaunchWorld;
	// The bounds ServiceJob gives every request (tests shorten them).
	double ServiceDeadline = ServiceRequestDeadlineSeconds;
	qint64 ServiceAnswerLimit = MaxServiceAnswerBytes;
	// Whether the content folder a new world's identifier names (ignoring case) already exists
	// without being that world's workspace.
	bool FolderTakenByOther(const QString& Identifier) const;

	struct FNameSet;
	// Adds every /Game package that PackageName needs, transitively, to OutDependencies;
	// ScannedPaths holds the external-object folders already scanned.
	void RecursiveGetDependencies(const QString& PackageName, FNameSet& OutDependencies,
	                              QSet<QString>& ScannedPaths) const;

	QString ServiceBaseUrl;
	std::shared_ptr<FExportPatchSettings> PatchSettings;
	QStringList RecordMovedFolders;
	QList<std::shared_ptr<FLoadedObject>> RecordMovedObjects;
	int FolderMoveIndex = 0;
	// Drives the folder moves; owned by this object, so it dies with it.
	QTimer* FolderMoveTimer = nullptr;
	// A folder's files move while the main thread's events flow, this timer's included: a tick that
	// comes meanwhile runs right after the running one, as it would have after a blocking one.
	bool bFolderMoveTickRunning = false;
	bool bFolderMoveTickDeferred = false;
	bool bOnlyServer = false;
	// The running pak build, if any; one at a time, as they write the same files.
	std::shared_ptr<FProcWorkerThread> PakMission;
	UOrvaActivityModel* Activity = nullptr;
	// The listed steps of the running relocation, build and launch.
	QPointer<UEditorStepJob> RelocationJob;
	QPointer<UEditorStepJob> BuildJob;
	QPointer<UEditorStepJob> LaunchJob;
	QString LastLoginError;
	QString LastClientPath;
	// A login was sent and its profile answer decides it: a refused profile then fails the login.
	bool bLoginInFlight = false;
	// The ids of the deletion whose answer is being handled.
	QStringList DeletedWorldIds;
	// The workspace the running build was started for: its paks are registered for that world.
	std::optional<FWorkspaceData> PakBuildWorkspace;
	// Only the answer to the latest world-list request fills the cached list.
	quint64 WorldsListGeneration = 0;
};
