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
#include "OrvaAsyncFileUploader.h"
#include "Paths.h"
#include "SerializeStructJson.h"

#include <QCoreApplication>
#include <QFile>
#include <QSaveFile>

namespace
{
QString Localized(const char* Key, const char* Source)
{
	return QCoreApplication::translate("OrvaSDK", Source, Key);
}

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
} // namespace

QString UOrvaSDKSubsystem::GetPakOutputRoot() const
{
	return FPaths::ConvertRelativePathToFull(
	    FPaths::Combine(GetHost()->Paths().ProjectSavedDir(), QStringLiteral("HotPatcher")));
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
	// A build is a task of its workspace, so its progress shows in the workspace's record.
	if (IdentInProgress.isEmpty())
	{
		IdentInProgress = CurrWorkspace.WorldIdentifier;
	}
	UpdateProgress(EOrvaSDKProgress::AssetPaking);

	FExportPatchSettings Copy;
	Copy = *GPatchSettings;
	QString Json;
	TSerializeStructAsJsonString(Copy, Json);
	const QString ConfigPath = FPaths::ConvertRelativePathToFull(
	    FPaths::Combine({GetHost()->Paths().ProjectSavedDir(), QStringLiteral("HotPatcher"),
	                     QStringLiteral("%1_PatchConfig.json").arg(Copy.VersionId)}));
	if (!SaveText(ConfigPath, Json))
	{
		// The commandlet then cannot read it and the build fails with that reason.
		UE_LOG(LogTemp, Error, QStringLiteral("Cannot write the pak settings file %1").arg(ConfigPath));
	}

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
	UpdateProgress(EOrvaSDKProgress::AssetPakFailed);
	IdentInProgress.clear();
	PakMission.reset();
	Q_EMIT OnOrvaSDKPaking(false);
}

void UOrvaSDKSubsystem::PatcherSuccess(FProcWorkerThread* Worker)
{
	if (!Worker || !Worker->IsSucceeded())
	{
		FailPakBuild(QStringLiteral("Pak build failed"));
		return;
	}
	// A process that says it succeeded has not built anything until its paks are there.
	const QString Level = CurrWorkspace.ObjectPath.GetAssetName();
	for (const QString& Platform : std::as_const(TargetPlatforms))
	{
		const QString PakPath = GetPakPathByPakName(Level + QLatin1Char('_') + Platform);
		if (!FPaths::FileExists(PakPath))
		{
			FailPakBuild(QStringLiteral("Pak build %1 reported success, but %2 is missing")
			                 .arg(Worker->GetMissionName(), PakPath));
			return;
		}
	}
	PakMission.reset();
	Q_EMIT OnOrvaSDKPaking(true);
	if (CheckLocalPaks(false))
	{
		InitUpload();
		UpdateProgress(EOrvaSDKProgress::AssetPakSuccess);
	}
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
	const int Split = PakName.lastIndexOf(QLatin1Char('_'));
	const QString Left = Split >= 0 ? PakName.left(Split) : QString();
	const QString Right = Split >= 0 ? PakName.mid(Split + 1) : QString();
	return FPaths::Combine({GetPakOutputRoot(), Left, Right, PakName + QStringLiteral(".pak")});
}

bool UOrvaSDKSubsystem::GetCopmonentNamedPakPath(const QString& AssetName, const QString& PlatformName,
                                                 QString& OutPath)
{
	const QString Root = GPatchSettings ? GPatchSettings->GetSaveAbsPath() : GetPakOutputRoot();
	const QString Folder = FPaths::Combine({Root, AssetName, PlatformName});
	OutPath.clear();
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
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("ComponentId"), ComponentId);
	Writer.WriteObjectEnd();
	const QString Path =
	    GPatchSettings
	        ? QString(FPaths::Combine(GPatchSettings->GetCurrentVersionSavePath(), PlatformName) +
	                  QStringLiteral("/Component.json"))
	        : QString(GetHost()->Paths().ProjectSavedDir() + PlatformName + QStringLiteral("/Component.json"));
	return SaveText(Path, Writer.Close());
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
		const QString File = FPaths::Combine({GetPakOutputRoot(), Name, Name + QStringLiteral("_PakVersion.json")});
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

void UOrvaSDKSubsystem::PakAndUpload()
{
	if (!IdentInProgress.isEmpty())
	{
		GetHost()->Dialogs().MessageBox(
		    EAppMsgType::Ok,
		    Localized("OrvaSDK_TaskInProgress", "This Project has one task in folder: {0}, please waiting.")
		        .replace(QStringLiteral("{0}"), IdentInProgress),
		    Localized("OrvaSDK_TaskInProgressTitle", "One Task in progress"));
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
	           Localized("OrvaSDK_NeedBuildPaks", "No target Paks were found. Do you need to rebuild the Paks?"),
	           Localized("OrvaSDK_NeedBuildPaksTitle", "Rebuild the Paks")) == EAppReturnType::Yes;
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
	const QString Level = CurrWorkspace.ObjectPath.GetAssetName();
	for (const QString& Platform : std::as_const(TargetPlatforms))
	{
		QString Path;
		if (GetCopmonentNamedPakPath(Level, Platform, Path))
		{
			UOrvaAsyncFileUploader::UploadFile(this, Path, FPaths::GetBaseFilename(Path), bOnlyServer);
		}
	}
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
	QString ServerPak;
	if (GetCopmonentNamedPakPath(CurrWorkspace.ObjectPath.GetAssetName(), QStringLiteral("WindowsServer"), ServerPak))
	{
		UOrvaAsyncFileUploader* Uploader =
		    UOrvaAsyncFileUploader::UploadFile(this, ServerPak, FPaths::GetBaseFilename(ServerPak), bOnlyServer);
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
