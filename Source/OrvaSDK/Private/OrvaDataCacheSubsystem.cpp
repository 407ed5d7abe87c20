#include "OrvaDataCacheSubsystem.h"

#include "ConfigCache.h"
#include "EditorHost.h"
#include "Log.h"
#include "Paths.h"

namespace
{
// The engine's string equality: same length, equal ignoring case.
bool SameIdentifier(const QString& A, const QString& B) { return A.compare(B, Qt::CaseInsensitive) == 0; }
} // namespace

UOrvaDataCacheSubsystem::UOrvaDataCacheSubsystem() = default;
UOrvaDataCacheSubsystem::~UOrvaDataCacheSubsystem() = default;

void UOrvaDataCacheSubsystem::Initialize(FSubsystemCollection&)
{
	WorldList.clear();
	WorldList.append(std::make_shared<FOrvaWorldData>());
	InitCurrImageList();
}

void UOrvaDataCacheSubsystem::Deinitialize() {}

void UOrvaDataCacheSubsystem::CleanWorldData()
{
	WorldList.clear();
	WorldList.append(std::make_shared<FOrvaWorldData>());
}

void UOrvaDataCacheSubsystem::AddWorldData(const FOrvaWorldDataPtr& World)
{
	if (!World)
	{
		return;
	}
	WorldList.append(World);
	RecordWorkspaceByWorldData(World);
}

FWorkspaceDataPtr UOrvaDataCacheSubsystem::GetWorkspace(const QString& WorldIdentifier) const
{
	for (const FWorkspaceDataPtr& Workspace : WorkspaceList)
	{
		if (Workspace && SameIdentifier(Workspace->WorldIdentifier, WorldIdentifier))
		{
			return Workspace;
		}
	}
	return nullptr;
}

bool UOrvaDataCacheSubsystem::UpdateCachedWorkspace(const FWorkspaceData& Workspace)
{
	const FWorkspaceDataPtr Cached = GetWorkspace(Workspace.WorldIdentifier);
	if (!Cached)
	{
		return false;
	}
	Cached->WorldId = Workspace.WorldId;
	Cached->WorldIdentifier = Workspace.WorldIdentifier;
	Cached->TitleName = Workspace.TitleName;
	Cached->Description = Workspace.Description;
	Cached->ObjectPath = Workspace.ObjectPath;
	Cached->bEditable = Workspace.bEditable;
	Cached->Progress = Workspace.Progress;
	return true;
}

void UOrvaDataCacheSubsystem::RecordWorkspaceByWorldData(const FOrvaWorldDataPtr& World)
{
	auto Workspace = std::make_shared<FWorkspaceData>();
	if (GetWorkspace(World->Identifier))
	{
		return;
	}
	Workspace->WorldId = World->Id;
	Workspace->WorldIdentifier = World->Identifier;
	Workspace->TitleName = World->Name;
	Workspace->Description = World->Description;
	Workspace->bIsPublic = World->bIsPublic;
	Workspace->ObjectPath.Reset();
	Workspace->Progress = EOrvaSDKProgress::None;

	const FPaths& Paths = GetHost()->Paths();
	// An identifier that cannot name a folder never reaches the file system.
	const bool bSafe = UOrvaSDKSubsystem::IsSafeIdentifier(Workspace->WorldIdentifier);
	const QString Folder = FPaths::Combine(Paths.ProjectContentDir(), Workspace->WorldIdentifier);
	Workspace->bEditable = bSafe && FPaths::DirectoryExists(Folder);

	FConfigCache* Config = GetHost()->GetConfig();
	if (Workspace->bEditable && Config)
	{
		const QString InfoFile = FPaths::ConvertRelativePathToFull(
			FPaths::Combine({Paths.ProjectContentDir(), Workspace->WorldIdentifier, QStringLiteral("Config"),
				QStringLiteral("WorldInfo.ini")}));
		QString Path;
		Config->GetString(QStringLiteral("WorldInfo"), QStringLiteral("Path"), Path, InfoFile);
		const FSoftObjectPath Level(Path);
		if (Level.IsAsset())
		{
			Workspace->ObjectPath = Level;
		}
	}
	WorkspaceList.append(Workspace);
}

void UOrvaDataCacheSubsystem::InitCurrImageList()
{
	CurrImageList.clear();
	CurrImageList.append(std::make_shared<FOrvaImageData>());
}

void UOrvaDataCacheSubsystem::SetCurrImageList(const QList<FOrvaImageDataPtr>& ImageList)
{
	CurrImageList = ImageList;
	CurrImageList.append(std::make_shared<FOrvaImageData>());
}

const QList<FOrvaImageDataPtr>& UOrvaDataCacheSubsystem::GetCurrImageList() const
{
	UE_LOG(LogTemp, Warning, QStringLiteral("ImageList Generated"));
	return CurrImageList;
}

QList<FOrvaWorldData> UOrvaDataCacheSubsystem::GetWorlds() const
{
	QList<FOrvaWorldData> Out;
	for (const FOrvaWorldDataPtr& World : WorldList)
	{
		Out.append(World ? *World : FOrvaWorldData());
	}
	return Out;
}

QList<FWorkspaceData> UOrvaDataCacheSubsystem::GetWorkspaces() const
{
	QList<FWorkspaceData> Out;
	for (const FWorkspaceDataPtr& Workspace : WorkspaceList)
	{
		if (Workspace)
		{
			Out.append(*Workspace);
		}
	}
	return Out;
}

QList<FOrvaImageData> UOrvaDataCacheSubsystem::GetImages() const
{
	QList<FOrvaImageData> Out;
	for (const FOrvaImageDataPtr& Image : CurrImageList)
	{
		Out.append(Image ? *Image : FOrvaImageData());
	}
	return Out;
}

FWorkspaceData UOrvaDataCacheSubsystem::FindWorkspace(const QString& WorldIdentifier) const
{
	const FWorkspaceDataPtr Workspace = GetWorkspace(WorldIdentifier);
	return Workspace ? *Workspace : FWorkspaceData();
}
