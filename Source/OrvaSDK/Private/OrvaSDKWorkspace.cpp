// Workspaces: binding the project to one world through its folder under the content directory.

#include "OrvaSDKSubsystem.h"

#include "ConfigCache.h"
#include "EditorHost.h"
#include "Log.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSettings.h"
#include "Paths.h"

#include <QDir>

void UOrvaSDKSubsystem::CreateWorkspaceFolder(const QString& FolderName)
{
	if (FolderName.isEmpty())
	{
		UE_LOG(LogTemp, Warning, QStringLiteral("No Workspace.WorldIdentifier"));
		return;
	}
	// The name comes from the service: it must stay one folder inside Content and Saved.
	if (!IsSafeIdentifier(FolderName))
	{
		UE_LOG(LogTemp, Error, QStringLiteral("CreateWorkspaceFolder: refused the folder name \"%1\"").arg(FolderName));
		return;
	}
	KeyFolderName = FolderName;

	const FPaths& Paths = GetHost()->Paths();
	const QString F1 = FPaths::Combine(Paths.ProjectContentDir(), KeyFolderName);
	const QString F2 = FPaths::Combine(F1, QStringLiteral("ExtendFiles"));
	const QString F3 = FPaths::Combine(F1, QStringLiteral("Config"));
	const QString F4 = FPaths::Combine({Paths.ProjectSavedDir(), QStringLiteral("OrvaSDK"), KeyFolderName});

	GetHost()->EditorSettings().ScreenshotSaveDirectory = F4;

	for (const QString& Folder : {F1, F2, F3, F4})
	{
		if (!FPaths::DirectoryExists(Folder) && !FPaths::CreateDirectoryTree(Folder))
		{
			UE_LOG(LogTemp, Error, QStringLiteral("CreateWorkspaceFolder: cannot create %1").arg(Folder));
		}
	}
}

bool UOrvaSDKSubsystem::FolderTakenByOther(const QString& Identifier) const
{
	// Package paths, and the file systems the editor runs on, do not tell names apart by case.
	const QDir Content(GetHost()->Paths().ProjectContentDir());
	for (const QString& Name : Content.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden))
	{
		if (Name.compare(Identifier, Qt::CaseInsensitive) != 0)
		{
			continue;
		}
		// A workspace holds both of the folders CreateWorkspaceFolder makes; anything else (the
		// project's own "Maps", another world's "ABC") is not this world's to take.
		const QDir Folder(Content.filePath(Name));
		const bool bWorkspace = Folder.exists(QStringLiteral("Config")) && Folder.exists(QStringLiteral("ExtendFiles"));
		if (Name != Identifier || !bWorkspace)
		{
			return true;
		}
	}
	return false;
}

FWorkspaceData UOrvaSDKSubsystem::ChangeWorkspaceWorld(const FOrvaWorldData& World)
{
	if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
	{
		if (const FWorkspaceDataPtr Workspace = Cache->GetWorkspace(World.Identifier))
		{
			CurrWorkspace = *Workspace;
			if (CurrWorkspace.bEditable)
			{
				CreateWorkspaceFolder(CurrWorkspace.WorldIdentifier);
			}
		}
		else
		{
			ClearCurrWorkspace();
		}
	}
	UE_LOG(LogTemp, Warning, QStringLiteral("World Id is %1").arg(World.Id));
	GetScreenshots();
	Q_EMIT OnWorkspaceChanged(CurrWorkspace);
	return CurrWorkspace;
}

bool UOrvaSDKSubsystem::CacheCurrWorkspace()
{
	UOrvaDataCacheSubsystem* Cache = GetDataCache();
	return Cache && Cache->UpdateCachedWorkspace(CurrWorkspace);
}

void UOrvaSDKSubsystem::ClearCurrWorkspace()
{
	CurrWorkspace = FWorkspaceData();
	Q_EMIT OnWorkspaceChanged(CurrWorkspace);
}

void UOrvaSDKSubsystem::ResetCurrWorkspace()
{
	CurrWorkspace.TitleName.clear();
	CurrWorkspace.Description.clear();
	if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
	{
		Cache->InitCurrImageList();
	}
	ClearSection();
	Q_EMIT OnWorkspaceChanged(CurrWorkspace);
	Q_EMIT OnScreenshotsUpdated();
}

void UOrvaSDKSubsystem::SaveCurrWorldInfo()
{
	FConfigCache* Config = GetHost()->GetConfig();
	if (!Config || !CurrWorkspace.bEditable)
	{
		return;
	}
	if (!IsSafeIdentifier(CurrWorkspace.WorldIdentifier))
	{
		UE_LOG(LogTemp, Error,
		       QStringLiteral("SaveCurrWorldInfo: refused the identifier \"%1\"").arg(CurrWorkspace.WorldIdentifier));
		return;
	}
	const QString InfoFile =
	    OrvaSDKSettings::WorldInfoFilePath(GetHost()->Paths().ProjectContentDir(), CurrWorkspace.WorldIdentifier);
	OrvaSDKSettings::WorldId.Set(*Config, InfoFile, CurrWorkspace.WorldId);
	OrvaSDKSettings::Identifier.Set(*Config, InfoFile, CurrWorkspace.WorldIdentifier);
	OrvaSDKSettings::Path.Set(*Config, InfoFile, CurrWorkspace.ObjectPath.ToString());
	Config->Flush(false, InfoFile);
}

void UOrvaSDKSubsystem::ClearSection()
{
	CurrWorkspace.ObjectPath.Reset();
	if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
	{
		Cache->UpdateCachedWorkspace(CurrWorkspace);
	}
	SaveCurrWorldInfo();
}

void UOrvaSDKSubsystem::SetCurrentLevelPath(const FSoftObjectPath& Path)
{
	CurrWorkspace.ObjectPath = Path;
	if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
	{
		Cache->UpdateCachedWorkspace(CurrWorkspace);
	}
	const QStringList ToMove = CheckFoldersNeedMove(CurrWorkspace.ObjectPath);
	if (!ToMove.isEmpty())
	{
		SureAutoMovePackages(ToMove);
	}
	SaveCurrWorldInfo();
}

FSoftObjectPath UOrvaSDKSubsystem::GetCurrentLevelPath() const
{
	return CurrWorkspace.ObjectPath;
}

bool UOrvaSDKSubsystem::CurrentLevelIsNone() const
{
	return CurrWorkspace.ObjectPath.GetAssetPathString().isEmpty() ||
	       CurrWorkspace.ObjectPath.GetLongPackageName().isEmpty() || CurrWorkspace.ObjectPath.GetAssetName().isEmpty();
}

bool UOrvaSDKSubsystem::CurrWorkspaceInProgress() const
{
	return CurrWorkspace.WorldIdentifier.compare(IdentInProgress, Qt::CaseInsensitive) == 0;
}
