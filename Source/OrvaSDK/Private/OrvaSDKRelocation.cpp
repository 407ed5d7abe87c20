// Asset relocation: every package the entry level needs is to lie in the workspace folder
// "/Game/<KeyFolderName>" before the world is packed. The dependencies outside it are found through
// the asset registry, the creator is asked, loose root assets move at once and top-level folders
// move one per timer tick; the redirectors the moves leave behind are fixed up at the end.

#include "OrvaSDKSubsystem.h"

#include "AssetRegistry.h"
#include "AssetTools.h"
#include "AssetViewUtils.h"
#include "Dialogs.h"
#include "EditorHost.h"
#include "Log.h"
#include "ObjectClasses.h"
#include "OrvaDataCacheSubsystem.h"
#include "Paths.h"

namespace
{
const QString GameRoot = QStringLiteral("/Game");
constexpr int FirstFolderMoveDelayMs = 100;
constexpr int FolderMoveIntervalMs = 990;

bool StartsWithIgnoringCase(const QString& Text, const QString& Prefix)
{
	return Text.startsWith(Prefix, Qt::CaseInsensitive);
}

// A level's external actors and objects mirror its path below the mount point's
// "__ExternalActors__" and "__ExternalObjects__" folders and move with their level, so they belong
// where their level belongs: "/Game/__ExternalActors__/W1/Maps/Open/A/B1/X" lies in "/Game/W1".
QString WithoutExternalFolder(const QString& PackageName)
{
	for (const QString& Folder : {QStringLiteral("/Game/__ExternalActors__/"), QStringLiteral("/Game/__ExternalObjects__/")})
	{
		if (StartsWithIgnoringCase(PackageName, Folder))
		{
			return QStringLiteral("/Game/") + PackageName.mid(Folder.size());
		}
	}
	return PackageName;
}

bool IsExternalPackage(const QString& PackageName) { return WithoutExternalFolder(PackageName) != PackageName; }
} // namespace

// Package names compare ignoring case, as the engine's names do; the order of first insertion is
// kept so results are stable.
struct UOrvaSDKSubsystem::FNameSet
{
	QSet<QString> Folded;
	QStringList Ordered;

	bool Contains(const QString& Name) const { return Folded.contains(Name.toLower()); }
	bool Add(const QString& Name)
	{
		const QString Key = Name.toLower();
		if (Folded.contains(Key))
		{
			return false;
		}
		Folded.insert(Key);
		Ordered.append(Name);
		return true;
	}
};

void UOrvaSDKSubsystem::RecursiveGetDependencies(const QString& PackageName, FNameSet& OutDependencies,
	QSet<QString>& ScannedPaths) const
{
	FAssetRegistry& Registry = GetHost()->AssetRegistry();
	// Depth-first with an explicit stack: a dependency chain of many thousand packages must not
	// exhaust the call stack. Termination rests on the two sets, as each ordinary dependency is
	// followed once and each external folder is scanned once.
	QStringList Stack{PackageName};
	QStringList Dependencies;
	QList<FAssetData> Assets;
	while (!Stack.isEmpty())
	{
		const QString Current = Stack.takeLast();

		Dependencies.clear();
		Registry.GetDependencies(Current, Dependencies);
		// Pushed in reverse so the first dependency is walked first.
		for (auto It = Dependencies.crbegin(); It != Dependencies.crend(); ++It)
		{
			const QString& Dependency = *It;
			if (StartsWithIgnoringCase(Dependency, GameRoot) && !OutDependencies.Contains(Dependency) &&
				Registry.GetAssetPackageDataCopy(Dependency))
			{
				OutDependencies.Add(Dependency);
				Stack.append(Dependency);
			}
		}

		Assets.clear();
		if (!Registry.GetAssetsByPackageName(Current, Assets, true, true))
		{
			continue;
		}
		bool bIsLevel = false;
		for (const FAssetData& Asset : Assets)
		{
			if (Asset.PackageName.isEmpty() || Asset.AssetName.isEmpty())
			{
				continue;
			}
			const UClass* Class = UClass::ResolveClass(Asset.AssetClassPath.ToString());
			if (Class && Class->IsChildOf(UWorld::StaticClass()))
			{
				bIsLevel = true;
			}
		}
		if (!bIsLevel)
		{
			continue;
		}
		for (const QString& Path : ULevel::GetExternalObjectsPaths(Current))
		{
			if (Path.isEmpty() || ScannedPaths.contains(Path))
			{
				continue;
			}
			ScannedPaths.insert(Path);
			Registry.ScanPathsSynchronous({Path}, true, true);
			QList<FAssetData> External;
			Registry.GetAssetsByPath(Path, External, true, true);
			for (const FAssetData& Asset : External)
			{
				OutDependencies.Add(Asset.PackageName);
				Stack.append(Asset.PackageName);
			}
		}
	}
}

QStringList UOrvaSDKSubsystem::CheckFoldersNeedMove(const QString& PackageName, const QString& FolderName) const
{
	FNameSet All;
	All.Add(PackageName);
	QSet<QString> ScannedPaths;
	RecursiveGetDependencies(PackageName, All, ScannedPaths);

	// No separator after the prefix: "/Game/W1Old" counts as inside "/Game/W1".
	const QString Prefix = FPaths::Combine(GameRoot, FolderName);
	QStringList Outside;
	for (const QString& Name : All.Ordered)
	{
		if (!StartsWithIgnoringCase(WithoutExternalFolder(Name), Prefix))
		{
			Outside.append(Name);
		}
	}
	return Outside;
}

QStringList UOrvaSDKSubsystem::CheckFoldersNeedMove(const FAssetData& AssetData) const
{
	return CheckFoldersNeedMove(AssetData.PackageName, KeyFolderName);
}

QStringList UOrvaSDKSubsystem::CheckFoldersNeedMove(const FSoftObjectPath& InObjectPath) const
{
	if (InObjectPath.GetLongPackageName().isEmpty() || !InObjectPath.GetSubPathString().isEmpty())
	{
		return {};
	}
	return CheckFoldersNeedMove(InObjectPath.GetLongPackageName(), KeyFolderName);
}

bool UOrvaSDKSubsystem::SureAutoMovePackages(const QStringList& PackageNamesToMove)
{
	if (PackageNamesToMove.isEmpty())
	{
		return false;
	}
	const EAppReturnType Answer = GetHost()->Dialogs().MessageBox(EAppMsgType::YesNo,
		QStringLiteral("Do some packages not in the correct path need to be automatically moved to the correct path?"),
		QStringLiteral("Auto Move Folders To Correct Path"));
	if (Answer != EAppReturnType::Yes)
	{
		ClearSection();
		return false;
	}
	if (KeyFolderName.isEmpty())
	{
		return true;
	}

	// The task is recorded against this workspace before its first progress value, so the value
	// shows in the workspace's own record.
	IdentInProgress = CurrWorkspace.WorldIdentifier;
	UpdateProgress(EOrvaSDKProgress::FolderMoving);
	// A relocation moves only what this one found: nothing of an earlier workspace is carried over.
	RecordMovedFolders.clear();
	RecordMovedObjects.clear();

	FAssetRegistry& Registry = GetHost()->AssetRegistry();
	FAssetTools& Tools = GetHost()->AssetTools();
	for (const QString& Name : PackageNamesToMove)
	{
		// External actors and objects move with their level, never as a folder of their own.
		if (IsExternalPackage(Name))
		{
			continue;
		}
		const QStringList Pieces = Name.split(QLatin1Char('/'), Qt::SkipEmptyParts);
		if (Pieces.size() == 2)
		{
			QList<FAssetData> Assets;
			Registry.GetAssetsByPackageName(Name, Assets, true, true);
			AssetViewUtils::GetObjectsInAssetData(Tools, Assets, RecordMovedObjects);
		}
		else if (Pieces.size() >= 3)
		{
			const QString Folder = QLatin1Char('/') + Pieces[0] + QLatin1Char('/') + Pieces[1];
			if (!RecordMovedFolders.contains(Folder, Qt::CaseInsensitive))
			{
				RecordMovedFolders.append(Folder);
			}
		}
	}

	const QString Destination = FPaths::Combine(GameRoot, KeyFolderName);
	if (!RecordMovedObjects.isEmpty())
	{
		AssetViewUtils::MoveAssets(Tools, RecordMovedObjects, Destination, QString());
	}
	FolderMoveIndex = 0;

	if (!GetHost()->HasEditorWorld())
	{
		UE_LOG(LogTemp, Warning, QStringLiteral("No World"));
		return true;
	}
	if (!FolderMoveTimer)
	{
		FolderMoveTimer = new QTimer(this);
		connect(FolderMoveTimer, &QTimer::timeout, this, [this] {
			FolderMoveTimer->setInterval(FolderMoveIntervalMs);
			ExcuteFolderMoving();
		});
	}
	// Setting the timer again replaces a running one, as the engine's timer handle does.
	FolderMoveTimer->stop();
	FolderMoveTimer->setInterval(FirstFolderMoveDelayMs);
	FolderMoveTimer->start();
	return true;
}

bool UOrvaSDKSubsystem::IsFolderMoveRunning() const { return FolderMoveTimer && FolderMoveTimer->isActive(); }

void UOrvaSDKSubsystem::ExcuteFolderMoving()
{
	const QString Destination = FPaths::Combine(GameRoot, KeyFolderName);
	if (FolderMoveIndex >= 0 && FolderMoveIndex < RecordMovedFolders.size())
	{
		AssetViewUtils::MoveFolders(GetHost()->AssetTools(), {RecordMovedFolders[FolderMoveIndex]}, Destination);
		++FolderMoveIndex;
		return;
	}

	if (FolderMoveTimer)
	{
		FolderMoveTimer->stop();
	}
	FolderMoveIndex = 0;

	// The entry level moved with its folder: point the workspace at its new place. Only a level of
	// the project's own content can have moved.
	QString LevelPath = CurrWorkspace.ObjectPath.ToString();
	const QString GamePrefix = GameRoot + QLatin1Char('/');
	if (StartsWithIgnoringCase(LevelPath, GamePrefix) &&
		!StartsWithIgnoringCase(LevelPath, GamePrefix + KeyFolderName))
	{
		LevelPath.insert(GamePrefix.size(), KeyFolderName + QLatin1Char('/'));
		CurrWorkspace.ObjectPath.SetPath(LevelPath);
	}
	if (UOrvaDataCacheSubsystem* Cache = GetDataCache())
	{
		Cache->UpdateCachedWorkspace(CurrWorkspace);
	}
	// The stored entry level must follow the move too, or the next start reads a path whose
	// redirector the fix-up below deletes.
	SaveCurrWorldInfo();
	FixUpAllRedirectors();
	UpdateProgress(EOrvaSDKProgress::FolderMoveSuccess);
}

void UOrvaSDKSubsystem::FixUpAllRedirectors()
{
	FAssetRegistry& Registry = GetHost()->AssetRegistry();
	FARFilter Filter;
	Filter.PackagePaths.append(GameRoot);
	Filter.bRecursivePaths = true;
	Filter.ClassPaths.append(FTopLevelAssetPath(UObjectRedirector::StaticClass()->GetPathName()));
	QList<FAssetData> Redirectors;
	Registry.GetAssets(Filter, Redirectors);
	if (Redirectors.isEmpty())
	{
		return;
	}
	QStringList ObjectPaths;
	for (const FAssetData& Redirector : Redirectors)
	{
		ObjectPaths.append(Redirector.GetObjectPathString());
	}

	FScopedSlowTask SlowTask(GetHost()->Dialogs(), 3.f, QStringLiteral("Fixing up redirectors"));
	SlowTask.EnterProgressFrame(1.f, QStringLiteral("Loading Assets..."));
	QList<std::shared_ptr<FLoadedObject>> Loaded;
	FAssetTools& Tools = GetHost()->AssetTools();
	if (AssetViewUtils::LoadAssetsIfNeeded(Tools, ObjectPaths, Loaded, true, true))
	{
		QList<std::shared_ptr<FLoadedObject>> Objects;
		for (const std::shared_ptr<FLoadedObject>& Object : Loaded)
		{
			if (Object && Object->IsRedirector())
			{
				Objects.append(Object);
			}
		}
		SlowTask.EnterProgressFrame(1.f, QStringLiteral("Fixing up referencers..."));
		Tools.FixupReferencers(Objects, true, ERedirectFixupMode::DeleteFixedUpRedirectors);
	}
}
