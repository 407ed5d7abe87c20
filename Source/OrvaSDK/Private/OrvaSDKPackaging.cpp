// The pak build through the packaging tool, where its output lies, and the task entry points of the
// tab's buttons that run the publish chain.

#include "OrvaSDKSubsystem.h"

#include "Dialogs.h"
#include "EditorHost.h"
#include "ExportPatchSettings.h"
#include "FileHelper.h"
#include "FlibHotPatcherCoreHelper.h"
#include "FlibPatchParserHelper.h"
#include "HotPatcherEditor.h"
#include "Json.h"
#include "Log.h"
#include "OrvaActivityModel.h"
#include "OrvaAsyncFileUploader.h"
#include "Paths.h"
#include "SerializeStructJson.h"
#include "Text.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QSaveFile>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#define LOCTEXT_NAMESPACE "OrvaSDK"

namespace
{
bool SaveText(const QString& Path, const QString& Text)
{
	QString Reason;
	if (!FFileHelper::SaveStringToFile(Text, Path, &Reason))
	{
		UE_LOG(LogTemp, Error, QStringLiteral("Cannot write %1: %2").arg(Path, Reason));
		return false;
	}
	return true;
}

std::optional<QJsonObject> LoadJsonObject(const QString& Path)
{
	QFile File(Path);
	if (!File.open(QIODevice::ReadOnly))
	{
		return std::nullopt;
	}
	return FJson::ParseObject(File.readAll());
}

// The entry level names a top-level asset: a package, and no sub-object.
bool NamesLevelAsset(const FSoftObjectPath& Path)
{
	return !Path.GetLongPackageName().isEmpty() && Path.GetSubPathString().isEmpty();
}

// What "Component.json" holds: the compact object with the one member "ComponentId".
QString ComponentInfoText(const QString& ComponentId)
{
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("ComponentId"), ComponentId);
	Writer.WriteObjectEnd();
	return Writer.Close();
}
} // namespace

QString UOrvaSDKSubsystem::GetPakOutputRoot() const
{
	return FPaths::ConvertRelativePathToFull(
	    FPaths::Combine(GetHost()->Paths().ProjectSavedDir(), QStringLiteral("HotPatcher")));
}

QString UOrvaSDKSubsystem::GetWorldOutputRoot(const QString& WorldIdentifier) const
{
	// Two worlds whose entry levels share a name must not share their paks and records: each
	// world builds into a folder of its own, which its identifier must not lead out of.
	if (!IsSafeIdentifier(WorldIdentifier))
	{
		return QString();
	}
	return FPaths::Combine(GetPakOutputRoot(), WorldIdentifier);
}

QString UOrvaSDKSubsystem::GetCurrentBuildFolder() const
{
	return GetLevelOutputFolder(CurrWorkspace.ObjectPath.GetAssetName());
}

QString UOrvaSDKSubsystem::GetLevelOutputFolder(const QString& LevelName) const
{
	const QString WorldRoot = GetWorldOutputRoot(CurrWorkspace.WorldIdentifier);
	const QString Own = WorldRoot.isEmpty() ? QString() : FPaths::Combine(WorldRoot, LevelName);
	const QString Shared = FPaths::Combine(GetPakOutputRoot(), LevelName);
	// A project built before output was kept per world keeps publishing what it built, until the
	// world's first build of its own.
	if (Own.isEmpty() || (!FPaths::DirectoryExists(Own) && FPaths::DirectoryExists(Shared)))
	{
		return Shared;
	}
	return Own;
}

void UOrvaSDKSubsystem::UpdateHotPatcherSettings(const QString& PackageName, const FSoftObjectPath& TargetObject)
{
	FExportPatchSettings* Settings = GPatchSettings;
	if (!Settings)
	{
		return;
	}
	Settings->PakTargetPlatforms.clear();
	// Every list starts afresh, so a build carries its own level only, never one of an earlier
	// build or of another workspace.
	Settings->GetIncludeSpecifyAssets().clear();
	Settings->ReplacePakListTexts.clear();
	Settings->GetAddExternAssetsToPlatform().clear();
	if (TargetPlatforms.isEmpty())
	{
		return;
	}
	const FPaths& Paths = GetHost()->Paths();
	for (const QString& PlatformName : std::as_const(TargetPlatforms))
	{
		ETargetPlatform Platform;
		if (!TargetPlatformFromEnumName(QStringLiteral("ETargetPlatform::") + PlatformName, Platform))
		{
			continue;
		}
		Settings->PakTargetPlatforms.append(Platform);
		Settings->VersionId = PackageName;
		Settings->bCustomPakNameRegular = true;
		Settings->PakNameRegular = QStringLiteral("{VERSION}_{PLATFORM}");

		FPatcherSpecifyAsset Asset;
		Asset.Asset = TargetObject;
		Asset.bAnalysisAssetDependencies = true;
		Asset.AssetRegistryDependencyTypes = {EAssetRegistryDependencyTypeEx::Packages};
		Settings->GetIncludeSpecifyAssets().append(Asset);

		FReplaceText Replace;
		Replace.From = FPaths::Combine(QStringLiteral("../../.."), Paths.ProjectName());
		Replace.To = ClientRelativePath();
		Replace.bCaseSensitive = true;
		Settings->ReplacePakListTexts.append(Replace);

		auto ExternFolder = [&](const QString& Folder)
		{
			FPlatformExternAssets Extern;
			Extern.TargetPlatform = Platform;
			FExternDirectoryInfo Directory;
			Directory.DirectoryPath = FPaths::Combine({Paths.ProjectContentDir(), KeyFolderName, Folder});
			Directory.MountPoint = ClientRelativePath();
			Directory.bSpecifyMountPoint = false;
			Extern.AddExternDirectoryToPak.append(Directory);
			Settings->GetAddExternAssetsToPlatform().append(Extern);
		};
		if (!PlatformName.endsWith(QLatin1String("Server"), Qt::CaseInsensitive))
		{
			ExternFolder(QStringLiteral("ExtendFiles"));
		}
		ExternFolder(QStringLiteral("Config"));

		Settings->bByBaseVersion = true;
		Settings->BaseVersion = ClientRelativePath() + QStringLiteral("/Versions/version.json");
	}
}

void UOrvaSDKSubsystem::BuildPak()
{
	const QString VersionName = FPaths::GetBaseFilename(CurrWorkspace.ObjectPath.ToString());
	UpdateHotPatcherSettings(VersionName, CurrWorkspace.ObjectPath);
	ExcutePatcher();
}

void UOrvaSDKSubsystem::ExcutePatcher()
{
	// Two builds at once would write the same paks and settings file.
	if (IsPakBuildRunning())
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("A pak build of %1 is running; wait for it to end before starting another")
		           .arg(PakMission ? PakMission->GetMissionName() : QString()));
		return;
	}
	if (!GPatchSettings)
	{
		UE_LOG(LogTemp, Error, QStringLiteral("No HotPatcher settings: nothing is built"));
		return;
	}
	const QString WorldRoot = GetWorldOutputRoot(CurrWorkspace.WorldIdentifier);
	if (WorldRoot.isEmpty())
	{
		FailPakBuild(QStringLiteral("The world identifier \"%1\" cannot name a build folder: nothing is built")
		                 .arg(CurrWorkspace.WorldIdentifier));
		return;
	}
	// A build is a task of its workspace, so its progress shows in the workspace's record.
	if (IdentInProgress.isEmpty())
	{
		IdentInProgress = CurrWorkspace.WorldIdentifier;
	}
	UpdateProgress(EOrvaSDKProgress::AssetPaking);

	FExportPatchSettings Copy;
	Copy = *GPatchSettings;
	// The paks, the version file and the settings file of this build lie in the world's folder.
	Copy.SavePath = WorldRoot;
	QString Json;
	TSerializeStructAsJsonString(Copy, Json);
	const QString ConfigPath = FPaths::Combine(WorldRoot, QStringLiteral("%1_PatchConfig.json").arg(Copy.VersionId));
	if (!SaveText(ConfigPath, Json))
	{
		// A build from the settings file left by an earlier build would publish the wrong level.
		FailPakBuild(QStringLiteral("Cannot write the pak settings file %1").arg(ConfigPath));
		return;
	}
	PakBuildWorkspace = CurrWorkspace;

	const QString AdditionalArgs = Copy.GetCombinedAdditionalCommandletArgs();
	const QString CommandLine =
	    QStringLiteral("\"%1\" -run=HotPatcher -config=\"%2\" %3")
	        .arg(UFlibPatchParserHelper::GetProjectFilePath(GetHost()->Paths()), ConfigPath, AdditionalArgs);
	const QString Executable = UFlibHotPatcherCoreHelper::GetUECmdBinary();
	UE_LOG(LogHotPatcher, Log,
	       QStringLiteral("HotPatcher %1 Mission: %2 %3").arg(Copy.VersionId, Executable, CommandLine));
	const QString NotifyText =
	    QStringLiteral("Packaging %1 for %2...")
	        .arg(Copy.VersionId, UFlibHotPatcherCoreHelper::GetPlatformsStr(Copy.PakTargetPlatforms));

	PakMission = FHotPatcherEditorModule::Get().RunProcMission(Executable, CommandLine, Copy.VersionId, NotifyText);
	connect(PakMission.get(), &FProcWorkerThread::ProcSuccessed, this, &UOrvaSDKSubsystem::PatcherSuccess);
	connect(PakMission.get(), &FProcWorkerThread::ProcFaild, this, &UOrvaSDKSubsystem::PathcerFailed);

	const QString World = CurrWorkspace.WorldIdentifier;
	BuildJob = BeginActivityStep(EOrvaActivityStep::Build,
	                             FText::Format(LOCTEXT("ActivityBuild", "Build {0} for {1}"),
	                                           {Copy.VersionId, TargetPlatforms.join(QStringLiteral(", "))})
	                                 .ToString(),
	                             World,
	                             [this, World]
	                             {
		                             // The build reads the selected world's entry level.
		                             if (CurrWorkspace.WorldIdentifier != World)
		                             {
			                             UE_LOG(LogTemp, Warning,
			                                    QStringLiteral("Select the world %1 to build it again").arg(World));
			                             return;
		                             }
		                             BuildPak();
	                             });
	BuildJob->SetOnCancel([this] { CancelPakBuild(); });
	connect(PakMission.get(), &FProcWorkerThread::ProcProgress, BuildJob,
	        [Job = BuildJob.data()](FProcWorkerThread*, int Percent) { Job->SetProgress(Percent, 100, false); });
}

bool UOrvaSDKSubsystem::IsPakBuildRunning() const
{
	return PakMission && PakMission->GetStatus() == EProcWorkerStatus::Running;
}

void UOrvaSDKSubsystem::CancelPakBuild()
{
	if (PakMission)
	{
		PakMission->Cancel();
	}
}

void UOrvaSDKSubsystem::FailPakBuild(const QString& Reason)
{
	UE_LOG(LogTemp, Error, Reason);
	if (UEditorStepJob* Job = BuildJob.data())
	{
		BuildJob = nullptr;
		// A job gives up its cancel once one was asked for.
		if (!Job->IsCancellable())
		{
			Job->FinishCancelled(Reason);
		}
		else
		{
			Job->FinishFailed(Reason);
		}
	}
	UpdateProgress(EOrvaSDKProgress::AssetPakFailed);
	IdentInProgress.clear();
	PakMission.reset();
	PakBuildWorkspace.reset();
	Q_EMIT OnOrvaSDKPaking(false);
}

void UOrvaSDKSubsystem::PatcherSuccess(FProcWorkerThread* Worker)
{
	if (!Worker || !Worker->IsSucceeded())
	{
		FailPakBuild(QStringLiteral("Pak build failed"));
		return;
	}
	// The build belongs to the world it was started for, whichever is current by now.
	const FWorkspaceData Built = PakBuildWorkspace.value_or(CurrWorkspace);
	// A process that says it succeeded has not built anything until its paks are there.
	const QString Level = Built.ObjectPath.GetAssetName();
	for (const QString& Platform : std::as_const(TargetPlatforms))
	{
		const QString PakPath = GetPakPathByPakName(Level + QLatin1Char('_') + Platform, Built.WorldIdentifier);
		if (!FPaths::FileExists(PakPath))
		{
			FailPakBuild(QStringLiteral("Pak build %1 reported success, but %2 is missing")
			                 .arg(Worker->GetMissionName(), PakPath));
			return;
		}
	}
	PakMission.reset();
	PakBuildWorkspace.reset();
	if (UEditorStepJob* Job = BuildJob.data())
	{
		BuildJob = nullptr;
		Job->FinishSucceeded();
	}
	Q_EMIT OnOrvaSDKPaking(true);
	RegisterUnlessPublished(Built);
}

void UOrvaSDKSubsystem::PathcerFailed(FProcWorkerThread* Worker)
{
	FailPakBuild(QStringLiteral("Pak build %1 failed: %2")
	                 .arg(Worker ? Worker->GetMissionName() : QString(),
	                      Worker ? Worker->GetFailureReason() : QStringLiteral("no worker")));
}

void UOrvaSDKSubsystem::OpenHotPatcher()
{
	// The headless editor has no tabs; the windowed one registers the packaging panel's tab.
	if (!GetHost()->TryInvokeTab(QStringLiteral("HotPatcher")))
	{
		UE_LOG(LogTemp, Warning, QStringLiteral("No tab \"HotPatcher\" is registered in this editor"));
	}
}

QString UOrvaSDKSubsystem::GetPakPathByPakName(const QString& PakName) const
{
	return GetPakPathByPakName(PakName, CurrWorkspace.WorldIdentifier);
}

QString UOrvaSDKSubsystem::GetPakPathByPakName(const QString& PakName, const QString& WorldIdentifier) const
{
	const int Split = PakName.lastIndexOf(QLatin1Char('_'));
	const QString Left = Split >= 0 ? PakName.left(Split) : QString();
	const QString Right = Split >= 0 ? PakName.mid(Split + 1) : QString();
	// No world, no folder of its own: the name leads to the shared folder, where no build of ours
	// writes any more.
	QString Root = GetWorldOutputRoot(WorldIdentifier);
	if (Root.isEmpty())
	{
		Root = GetPakOutputRoot();
	}
	return FPaths::Combine({Root, Left, Right, PakName + QStringLiteral(".pak")});
}

bool UOrvaSDKSubsystem::GetCopmonentNamedPakPath(const QString& AssetName, const QString& PlatformName,
                                                 QString& OutPath)
{
	OutPath.clear();
	if (!IsSafeIdentifier(AssetName) || !IsSafeIdentifier(PlatformName))
	{
		return false;
	}
	const QString Folder = FPaths::Combine(GetLevelOutputFolder(AssetName), PlatformName);
	const std::optional<QJsonObject> Info = LoadJsonObject(FPaths::Combine(Folder, QStringLiteral("Component.json")));
	if (!Info)
	{
		return false;
	}
	const QString ComponentId = FJson::GetString(*Info, QStringLiteral("ComponentId"));
	// An id that would lead out of the folder is no registration of ours.
	if (ComponentId.isEmpty() || !IsSafeIdentifier(ComponentId))
	{
		return false;
	}
	OutPath = FPaths::Combine(Folder, ComponentId + QStringLiteral(".pak"));
	return true;
}

bool UOrvaSDKSubsystem::SaveComponentInfoToFile(const QString& ComponentId, const QString& PlatformName)
{
	const QString WorldRoot = GetWorldOutputRoot(CurrWorkspace.WorldIdentifier);
	const QString Level = CurrWorkspace.ObjectPath.GetAssetName();
	if (WorldRoot.isEmpty() || !IsSafeIdentifier(Level) || !IsSafeIdentifier(PlatformName))
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("Component %1 of %2 is not recorded: no world folder for \"%3\"")
		           .arg(ComponentId, PlatformName, CurrWorkspace.WorldIdentifier));
		return false;
	}
	return SaveText(FPaths::Combine({WorldRoot, Level, PlatformName, QStringLiteral("Component.json")}),
	                ComponentInfoText(ComponentId));
}

bool UOrvaSDKSubsystem::RegisterComponent(const FRegistration& Registration, const QString& ComponentId,
                                          const QString& Platform, const QString& FileName)
{
	const QString WorldRoot = GetWorldOutputRoot(Registration.WorldIdentifier);
	if (WorldRoot.isEmpty())
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("UploadComponents: the world identifier \"%1\" cannot name a folder; %2 is not recorded")
		           .arg(Registration.WorldIdentifier, ComponentId));
		return false;
	}
	const QString InfoPath =
	    FPaths::Combine({WorldRoot, Registration.LevelName, Platform, QStringLiteral("Component.json")});
	// The record is written before the pak takes its new name: a failed write leaves the pak
	// under the name of its build and the earlier record as it was, never a renamed pak that
	// nothing records.
	QFile Previous(InfoPath);
	const bool bHadPrevious = Previous.open(QIODevice::ReadOnly);
	const QByteArray PreviousInfo = bHadPrevious ? Previous.readAll() : QByteArray();
	Previous.close();
	if (!SaveText(InfoPath, ComponentInfoText(ComponentId)))
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("UploadComponents: cannot write %1; component %2 is not recorded")
		           .arg(InfoPath, ComponentId));
		return false;
	}
	// Only the file's own name changes, never a folder that happens to contain the same text.
	const QString OldPath = GetPakPathByPakName(FileName, Registration.WorldIdentifier);
	const QString NewPath = FPaths::Combine(FPaths::GetPath(OldPath), ComponentId + QStringLiteral(".pak"));
	if (OldPath != NewPath && QFileInfo::exists(OldPath))
	{
		// rename(2) replaces a pak of the same id left by an earlier registration in one step.
		if (std::rename(QFile::encodeName(OldPath).constData(), QFile::encodeName(NewPath).constData()) != 0)
		{
			const QString Reason = QString::fromLocal8Bit(std::strerror(errno));
			// The record named a pak that is not there: the earlier one stands again.
			const bool bRestored =
			    bHadPrevious ? SaveText(InfoPath, QString::fromUtf8(PreviousInfo)) : QFile::remove(InfoPath);
			UE_LOG(LogTemp, Error,
			       QStringLiteral("UploadComponents: cannot rename %1 to %2: %3; component %4 is not recorded%5")
			           .arg(OldPath, NewPath, Reason, ComponentId,
			                bRestored ? QString() : QStringLiteral(" (and %1 could not be restored)").arg(InfoPath)));
			return false;
		}
	}
	if (FPaths::GetPath(NewPath) == FPaths::GetPath(InfoPath) && QFileInfo::exists(NewPath))
	{
		RemoveSupersededFiles(Registration.WorldIdentifier, NewPath);
	}
	return true;
}

void UOrvaSDKSubsystem::RemoveSupersededFiles(const QString& WorldIdentifier, const QString& KeptPak)
{
	// A running build may be writing its temporary here, and a running upload may not have opened
	// the pak it was given yet: both wait for the next registration.
	if (IsPakBuildRunning() || IsUploadRunning(WorldIdentifier))
	{
		return;
	}
	const QFileInfo Kept(KeptPak);
	QDir Folder = Kept.absoluteDir();
	const QFileInfoList Files =
	    Folder.entryInfoList({QStringLiteral("*.pak"), QStringLiteral("*.tmp")}, QDir::Files | QDir::Hidden);
	for (const QFileInfo& File : Files)
	{
		if (File.fileName() == Kept.fileName())
		{
			continue;
		}
		if (QFile::remove(File.absoluteFilePath()))
		{
			UE_LOG(LogTemp, Display,
			       QStringLiteral("Removed %1: superseded by %2").arg(File.absoluteFilePath(), KeptPak));
		}
		else
		{
			UE_LOG(LogTemp, Warning,
			       QStringLiteral("Cannot remove %1, superseded by %2").arg(File.absoluteFilePath(), KeptPak));
		}
	}
}

bool UOrvaSDKSubsystem::CheckLocalPaks(bool bNamedByComponent)
{
	const QString Level = CurrWorkspace.ObjectPath.GetAssetName();
	if (!bNamedByComponent)
	{
		for (const QString& Platform : std::as_const(TargetPlatforms))
		{
			if (!FPaths::FileExists(GetPakPathByPakName(Level + QLatin1Char('_') + Platform)))
			{
				return false;
			}
		}
		return true;
	}
	if (!GPatchSettings)
	{
		return false;
	}
	for (const QString& Platform : std::as_const(TargetPlatforms))
	{
		QString Path;
		if (!GetCopmonentNamedPakPath(Level, Platform, Path))
		{
			return false;
		}
	}
	return true;
}

QString UOrvaSDKSubsystem::GetCheckCode()
{
	QString CheckCode;
	if (GPatchSettings)
	{
		const QString Name = FPaths::GetBaseFilename(CurrWorkspace.ObjectPath.ToString());
		const QString File = FPaths::Combine(GetLevelOutputFolder(Name), Name + QStringLiteral("_PakVersion.json"));
		if (FPaths::FileExists(File))
		{
			if (const std::optional<QJsonObject> Version = LoadJsonObject(File))
			{
				FJson::TryGetString(*Version, QStringLiteral("CheckCode"), CheckCode);
			}
		}
	}
	UE_LOG(LogTemp, Warning, CheckCode);
	return CheckCode;
}

void UOrvaSDKSubsystem::ShowTaskInProgress(const QString& Folder)
{
	GetHost()->Dialogs().MessageBox(
	    EAppMsgType::Ok,
	    FText::Format(LOCTEXT("OrvaSDK_TaskInProgress", "This Project has one task in folder: {0}, please waiting."),
	                  {Folder})
	        .ToString(),
	    LOCTEXT("OrvaSDK_TaskInProgressTitle", "One Task in progress").ToString());
}

void UOrvaSDKSubsystem::PakAndUpload()
{
	if (!IdentInProgress.isEmpty())
	{
		ShowTaskInProgress(IdentInProgress);
		return;
	}
	const QStringList NeedMove = CheckFoldersNeedMove(CurrWorkspace.ObjectPath);
	if (!NeedMove.isEmpty())
	{
		SureAutoMovePackages(NeedMove);
		return;
	}
	UpdateProgress(EOrvaSDKProgress::FolderMoveSuccess);
	IdentInProgress = CurrWorkspace.WorldIdentifier;
	const QString VersionName = FPaths::GetBaseFilename(CurrWorkspace.ObjectPath.ToString());
	UpdateHotPatcherSettings(VersionName, CurrWorkspace.ObjectPath);
	ExcutePatcher();
}

namespace
{
bool AskToRebuild(FDialogService& Dialogs)
{
	return Dialogs.MessageBox(
	           EAppMsgType::YesNo,
	           LOCTEXT("OrvaSDK_NeedBuildPaks", "No target Paks were found. Do you need to rebuild the Paks?")
	               .ToString(),
	           LOCTEXT("OrvaSDK_NeedBuildPaksTitle", "Rebuild the Paks").ToString()) == EAppReturnType::Yes;
}

} // namespace

void UOrvaSDKSubsystem::TaskPublishPaks()
{
	if (!NamesLevelAsset(CurrWorkspace.ObjectPath))
	{
		return;
	}
	if (!CheckLocalPaks(true))
	{
		if (AskToRebuild(GetHost()->Dialogs()))
		{
			BuildPak();
		}
		return;
	}
	// A second publish would put every pak a second time.
	if (IsUploadRunning(CurrWorkspace.WorldIdentifier))
	{
		ShowTaskInProgress(CurrWorkspace.WorldIdentifier);
		return;
	}
	const QString Level = CurrWorkspace.ObjectPath.GetAssetName();
	for (const QString& Platform : std::as_const(TargetPlatforms))
	{
		QString Path;
		if (GetCopmonentNamedPakPath(Level, Platform, Path))
		{
			StartUpload(Path);
		}
	}
}

bool UOrvaSDKSubsystem::IsUploadRunning(const QString& WorldIdentifier) const
{
	const auto Found = RunningUploads.constFind(WorldIdentifier);
	if (Found == RunningUploads.cend())
	{
		return false;
	}
	return std::any_of(Found->cbegin(), Found->cend(),
	                   [](const QPointer<QObject>& Uploader) { return !Uploader.isNull(); });
}

UOrvaAsyncFileUploader* UOrvaSDKSubsystem::StartUpload(const QString& PakPath)
{
	// The check code is read now, not at the end: the creator may select another world meanwhile.
	return StartUpload(PakPath, CurrWorkspace.WorldIdentifier, GetCheckCode());
}

void UOrvaSDKSubsystem::TaskLaunchORVA()
{
	if (!CheckLocalPaks(true))
	{
		if (AskToRebuild(GetHost()->Dialogs()))
		{
			BuildPak();
		}
		return;
	}
	if (!NamesLevelAsset(CurrWorkspace.ObjectPath))
	{
		return;
	}
	// The launch puts the server pak too: not a second time beside a running publish.
	if (IsUploadRunning(CurrWorkspace.WorldIdentifier))
	{
		ShowTaskInProgress(CurrWorkspace.WorldIdentifier);
		return;
	}
	QString ServerPak;
	if (GetCopmonentNamedPakPath(CurrWorkspace.ObjectPath.GetAssetName(), QStringLiteral("WindowsServer"), ServerPak))
	{
		UOrvaAsyncFileUploader* Uploader = StartUpload(ServerPak);
		LaunchWorld = CurrWorkspace.WorldIdentifier;
		if (UEditorStepJob* Earlier = LaunchJob.data())
		{
			Earlier->FinishCancelled(LOCTEXT("ActivityLaunchReplaced", "Replaced by a later launch").ToString());
		}
		const QString World = CurrWorkspace.WorldIdentifier;
		LaunchJob = BeginActivityStep(
		    EOrvaActivityStep::Launch, LOCTEXT("ActivityLaunch", "Launch ORVA").ToString(), World,
		    [this, World]
		    {
			    if (CurrWorkspace.WorldIdentifier != World)
			    {
				    UE_LOG(LogTemp, Warning, QStringLiteral("Select the world %1 to launch it again").arg(World));
				    return;
			    }
			    TaskLaunchORVA();
		    });
		LaunchJob->SetPhase(LOCTEXT("ActivityLaunchWaiting", "Waiting for the server pak to be stored").ToString());
		connect(Uploader, &UOrvaAsyncFileUploader::OnUploadCompleted, this,
		        &UOrvaSDKSubsystem::TaskLaunchORVA_CheckServerPak);
	}
}

QStringList UOrvaSDKSubsystem::OpenPakFiles()
{
	return GetHost()->Dialogs().OpenFileDialog(
	    QStringLiteral("Pak Files"),
	    FPaths::ConvertRelativePathToFull(GetHost()->Paths().ProjectDir()) + QStringLiteral("Saved/HotPatcher/"),
	    QStringLiteral("%1 files (%2)|%3").arg(QStringLiteral("pak"), QStringLiteral("*.pak"), QStringLiteral("*.pak")),
	    false);
}

QStringList UOrvaSDKSubsystem::OpenImageFiles()
{
	return GetHost()->Dialogs().OpenFileDialog(
	    QString(),
	    FPaths::Combine({FPaths::ConvertRelativePathToFull(GetHost()->Paths().ProjectSavedDir()),
	                     QStringLiteral("OrvaSDK"), KeyFolderName}),
	    QStringLiteral("%1 files (%2)|%3").arg(QString(), QStringLiteral("*.png"), QStringLiteral("*.png")), false);
}

#undef LOCTEXT_NAMESPACE
