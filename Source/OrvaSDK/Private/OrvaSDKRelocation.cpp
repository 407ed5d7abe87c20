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
#include "GameThread.h"
#include "Log.h"
#include "NameCase.h"
#include "ObjectClasses.h"
#include "OrvaActivityModel.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaDependencyWalk.h"
#include "Paths.h"
#include "Text.h"

#include <QScopeGuard>
#include <QSet>

#include <utility>

#define LOCTEXT_NAMESPACE "OrvaSDK"

namespace
{
const QString GameRoot = QStringLiteral("/Game");
constexpr int FirstFolderMoveDelayMs = 100;
constexpr int FolderMoveIntervalMs = 990;

// A level's external actors and objects mirror its path below the mount point's
// "__ExternalActors__" and "__ExternalObjects__" folders and move with their level, so they belong
// where their level belongs: "/Game/__ExternalActors__/W1/Maps/Open/A/B1/X" lies in "/Game/W1".
// Answers the part after the external folder ("W1/Maps/Open/A/B1/X"), or a null view for a
// package that is not external.
QStringView ExternalRemainder(const QString& PackageName)
{
	static const QString Folders[] = {QStringLiteral("/Game/__ExternalActors__/"),
	                                  QStringLiteral("/Game/__ExternalObjects__/")};
	for (const QString& Folder : Folders)
	{
		if (FNameCase::StartsWith(PackageName, Folder))
		{
			return QStringView(PackageName).mid(Folder.size());
		}
	}
	return QStringView();
}

bool IsExternalPackage(const QString& PackageName)
{
	return !ExternalRemainder(PackageName).isNull();
}

// Whether the package lies in the folder Prefix ("/Game/W1"), an external package where its level lies.
bool LiesIn(const QString& PackageName, QStringView Prefix)
{
	const QStringView Remainder = ExternalRemainder(PackageName);
	if (Remainder.isNull())
	{
		return FNameCase::StartsWith(PackageName, Prefix);
	}
	// As if the name were "/Game/" followed by the remainder, without building that text.
	const QStringView Head = u"/Game/";
	if (Prefix.size() <= Head.size())
	{
		return FNameCase::StartsWith(Head, Prefix);
	}
	return FNameCase::StartsWith(Head, Prefix.first(Head.size())) &&
	       FNameCase::StartsWith(Remainder, Prefix.mid(Head.size()));
}

// A package name hashed and compared ignoring case, as the engine's names are, without a folded
// copy of its text.
struct FPackageNameKey
{
	QString Name;
	bool operator==(const FPackageNameKey& Other) const { return FNameCase::Equals(Name, Other.Name); }
};

size_t qHash(const FPackageNameKey& Key, size_t Seed = 0) noexcept
{
	return FNameCase::Hash(Key.Name, Seed);
}
} // namespace

// Package names compare ignoring case, as the engine's names do; the order of first insertion is
// kept so results are stable, with each name as it was first spelled.
struct UOrvaSDKSubsystem::FNameSet
{
	bool Contains(const QString& Name) const { return Keys.contains(FPackageNameKey{Name}); }

	// Whether Name was new.
	bool Add(const QString& Name)
	{
		const qsizetype Before = Keys.size();
		Keys.insert(FPackageNameKey{Name});
		if (Keys.size() == Before)
		{
			return false;
		}
		Names.append(Name);
		return true;
	}

	QSet<FPackageNameKey> Keys;
	QStringList Names;
};

void UOrvaSDKSubsystem::RecursiveGetDependencies(const QString& PackageName, FNameSet& OutDependencies,
                                                 QSet<QString>& ScannedPaths) const
{
	FAssetRegistry& Registry = GetHost()->AssetRegistry();
	// The walk follows a package's dependencies under /Game that are on disk, transitively,
	// leaving out what was reached before, and names the levels among them (any asset whose class
	// resolves, through class redirects, to the world class or one derived from it): on a large
	// project, asking it package by package costs ten times as much. A level's external actors and
	// objects are found after a forced scan of their folders and walked from in turn. Termination
	// rests on the two sets: nothing reached is followed again, and each folder is scanned once.
	QStringList Roots{PackageName};
	while (!Roots.isEmpty())
	{
		const QString Root = Roots.takeLast();
		QStringList Levels;
		const QStringList Reached = OrvaDependencyWalk::Reach(
		    Registry, Root, GameRoot, [&](const QString& Name) { return OutDependencies.Contains(Name); },
		    UWorld::StaticClass(), &Levels);
		OutDependencies.Keys.reserve(OutDependencies.Keys.size() + Reached.size());
		OutDependencies.Names.reserve(OutDependencies.Names.size() + Reached.size());
		for (const QString& Name : Reached)
		{
			OutDependencies.Add(Name);
		}
		for (const QString& Level : std::as_const(Levels))
		{
			for (const QString& Path : ULevel::GetExternalObjectsPaths(Level))
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
					Roots.append(Asset.PackageName);
				}
			}
		}
	}
}

QStringList UOrvaSDKSubsystem::GetDependencyClosure(const QString& PackageName) const
{
	FNameSet All;
	All.Add(PackageName);
	QSet<QString> ScannedPaths;
	RecursiveGetDependencies(PackageName, All, ScannedPaths);
	return std::move(All.Names);
}

bool UOrvaSDKSubsystem::LiesInWorkspaceFolder(const QString& PackageName, const QString& FolderName)
{
	// No separator after the prefix: "/Game/W1Old" counts as inside "/Game/W1".
	return LiesIn(PackageName, FPaths::Combine(GameRoot, FolderName));
}

QStringList UOrvaSDKSubsystem::CheckFoldersNeedMove(const QString& PackageName, const QString& FolderName) const
{
	QStringList Outside;
	for (const QString& Name : GetDependencyClosure(PackageName))
	{
		if (!LiesInWorkspaceFolder(Name, FolderName))
		{
			Outside.append(Name);
		}
	}
	return Outside;
}

UOrvaSDKSubsystem::FRelocationPlan UOrvaSDKSubsystem::PlanRelocation(const QStringList& PackageNamesToMove)
{
	FRelocationPlan Plan;
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
			Plan.RootPackages.append(Name);
		}
		else if (Pieces.size() >= 3)
		{
			const QString Folder = QLatin1Char('/') + Pieces[0] + QLatin1Char('/') + Pieces[1];
			if (!Plan.Folders.contains(Folder, Qt::CaseInsensitive))
			{
				Plan.Folders.append(Folder);
			}
		}
	}
	return Plan;
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
	const EAppReturnType Answer = GetHost()->Dialogs().MessageBox(
	    EAppMsgType::YesNo,
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
	const FRelocationPlan Plan = PlanRelocation(PackageNamesToMove);
	for (const QString& Name : Plan.RootPackages)
	{
		QList<FAssetData> Assets;
		Registry.GetAssetsByPackageName(Name, Assets, true, true);
		AssetViewUtils::GetObjectsInAssetData(Tools, Assets, RecordMovedObjects);
	}
	RecordMovedFolders = Plan.Folders;

	const QString Destination = FPaths::Combine(GameRoot, KeyFolderName);
	if (!RecordMovedObjects.isEmpty())
	{
		AssetViewUtils::MoveAssets(Tools, RecordMovedObjects, Destination, QString());
	}
	FolderMoveIndex = 0;
	// A relocation started while one runs takes its place, as its timer does.
	if (UEditorStepJob* Earlier = RelocationJob.data())
	{
		Earlier->FinishCancelled(LOCTEXT("ActivityMoveReplaced", "Replaced by a later move").ToString());
	}
	RelocationJob = BeginActivityStep(
	    EOrvaActivityStep::Relocation,
	    FText::Format(LOCTEXT("ActivityMove", "Move the entry map's packages into {0}"), {Destination}).ToString(),
	    CurrWorkspace.WorldIdentifier);
	RelocationJob->SetProgress(0, RecordMovedFolders.size(), false);

	if (!GetHost()->HasEditorWorld())
	{
		UE_LOG(LogTemp, Warning, QStringLiteral("No World"));
		RelocationJob->FinishFailed(
		    LOCTEXT("ActivityMoveNoWorld", "No level is open in the editor: the folders were not moved").ToString());
		return true;
	}
	if (!FolderMoveTimer)
	{
		FolderMoveTimer = new QTimer(this);
		connect(FolderMoveTimer, &QTimer::timeout, this,
		        [this]
		        {
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

bool UOrvaSDKSubsystem::IsFolderMoveRunning() const
{
	return FolderMoveTimer && FolderMoveTimer->isActive();
}

void UOrvaSDKSubsystem::ExcuteFolderMoving()
{
	if (bFolderMoveTickRunning)
	{
		bFolderMoveTickDeferred = true;
		return;
	}
	bFolderMoveTickRunning = true;
	const auto TickDone = qScopeGuard(
	    [this]
	    {
		    bFolderMoveTickRunning = false;
		    if (std::exchange(bFolderMoveTickDeferred, false) && IsFolderMoveRunning())
		    {
			    FGameThread::Post(this,
			                      [this]
			                      {
				                      if (IsFolderMoveRunning())
				                      {
					                      ExcuteFolderMoving();
				                      }
			                      });
		    }
	    });
	const QString Destination = FPaths::Combine(GameRoot, KeyFolderName);
	if (FolderMoveIndex >= 0 && FolderMoveIndex < RecordMovedFolders.size())
	{
		AssetViewUtils::MoveFolders(GetHost()->AssetTools(), {RecordMovedFolders[FolderMoveIndex]}, Destination);
		++FolderMoveIndex;
		if (RelocationJob)
		{
			RelocationJob->SetProgress(FolderMoveIndex, RecordMovedFolders.size(), false);
		}
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
	if (FNameCase::StartsWith(LevelPath, GamePrefix) &&
	    !FNameCase::StartsWith(LevelPath, QString(GamePrefix + KeyFolderName)))
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
	if (UEditorStepJob* Job = RelocationJob.data())
	{
		RelocationJob = nullptr;
		Job->FinishSucceeded();
	}
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

#undef LOCTEXT_NAMESPACE
