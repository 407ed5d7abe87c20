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

#include <algorithm>
#include <span>
#include <vector>

namespace
{
const QString GameRoot = QStringLiteral("/Game");
constexpr int FirstFolderMoveDelayMs = 100;
constexpr int FolderMoveIntervalMs = 990;

// Package names are ASCII in practice, and comparing ASCII needs no case-folding tables: over the
// hundred thousand names of a large project's walk, Qt's general comparison cost more than the
// walk itself. Text that is not ASCII takes Qt's comparison.
bool StartsWithIgnoringCase(QStringView Text, QStringView Prefix)
{
	if (Text.size() < Prefix.size())
	{
		return false;
	}
	for (qsizetype Index = 0; Index < Prefix.size(); ++Index)
	{
		const char16_t A = Text[Index].unicode();
		const char16_t B = Prefix[Index].unicode();
		if (A == B)
		{
			continue;
		}
		if ((A | B) >= 0x80)
		{
			return Text.startsWith(Prefix, Qt::CaseInsensitive);
		}
		const char16_t Lower = A | 0x20;
		if (Lower != (B | 0x20) || Lower < u'a' || Lower > u'z')
		{
			return false;
		}
	}
	return true;
}

// A level's external actors and objects mirror its path below the mount point's
// "__ExternalActors__" and "__ExternalObjects__" folders and move with their level, so they belong
// where their level belongs: "/Game/__ExternalActors__/W1/Maps/Open/A/B1/X" lies in "/Game/W1".
// Answers the part after the external folder ("W1/Maps/Open/A/B1/X"), or a null view for a
// package that is not external.
QStringView ExternalRemainder(const QString& PackageName)
{
	static const QString Folders[] = {QStringLiteral("/Game/__ExternalActors__/"), QStringLiteral("/Game/__ExternalObjects__/")};
	for (const QString& Folder : Folders)
	{
		if (StartsWithIgnoringCase(PackageName, Folder))
		{
			return QStringView(PackageName).mid(Folder.size());
		}
	}
	return QStringView();
}

bool IsExternalPackage(const QString& PackageName) { return !ExternalRemainder(PackageName).isNull(); }

// Whether the package lies in the folder Prefix ("/Game/W1"), an external package where its level lies.
bool LiesIn(const QString& PackageName, QStringView Prefix)
{
	const QStringView Remainder = ExternalRemainder(PackageName);
	if (Remainder.isNull())
	{
		return StartsWithIgnoringCase(PackageName, Prefix);
	}
	// As if the name were "/Game/" followed by the remainder, without building that text.
	const QStringView Head = u"/Game/";
	if (Prefix.size() <= Head.size())
	{
		return StartsWithIgnoringCase(Head, Prefix);
	}
	return StartsWithIgnoringCase(Head, Prefix.first(Head.size())) && StartsWithIgnoringCase(Remainder, Prefix.mid(Head.size()));
}
} // namespace

// Package names compare ignoring case, as the engine's names do; the order of first insertion is
// kept so results are stable. Names the registry knows are kept as their registry ids, with flags
// by id, so that a walk over a large project neither folds nor hashes nor even reads a name per
// dependency; the rare name the registry never met (an entry level that is not on disk, say) is
// kept folded.
struct UOrvaSDKSubsystem::FNameSet
{
	explicit FNameSet(const FAssetRegistry& InRegistry)
		: Registry(InRegistry)
	{
	}

	bool HasId(int Id) const { return size_t(Id) < ById.size() && ById[size_t(Id)]; }

	// Id: the registry's id of Name, or -1 for a name it never met.
	bool Contains(const QString& Name, int Id) const
	{
		if (HasId(Id))
		{
			return true;
		}
		// A name added before the registry met it has no flag; a later scan may have given it an id.
		return !Unknown.isEmpty() && Unknown.contains(Name.toCaseFolded());
	}

	bool Add(const QString& Name, int Id)
	{
		if (Contains(Name, Id))
		{
			return false;
		}
		if (Id >= 0)
		{
			if (size_t(Id) >= ById.size())
			{
				ById.resize(std::max(size_t(Id) + 1, size_t(Registry.GetPackageIdCount())), 0);
			}
			ById[size_t(Id)] = 1;
		}
		else
		{
			Unknown.insert(Name.toCaseFolded());
		}
		// The name is kept as spelled: mostly the registry's own text, which the id stands for.
		// The walk passes the registry's own string, which is recognised without reading it.
		const QString* Registered = Id >= 0 ? &Registry.GetPackageNameById(Id) : nullptr;
		if (Registered && (Registered == &Name || Registered->constData() == Name.constData() || *Registered == Name))
		{
			Ordered.push_back(Id);
		}
		else
		{
			Spellings.append(Name);
			Ordered.push_back(-int(Spellings.size()));
		}
		return true;
	}
	bool Add(const QString& Name) { return Add(Name, Registry.FindPackageId(Name)); }

	qsizetype Size() const { return qsizetype(Ordered.size()); }
	// In the order of first insertion.
	const QString& At(qsizetype Index) const
	{
		const int Entry = Ordered[size_t(Index)];
		return Entry >= 0 ? Registry.GetPackageNameById(Entry) : Spellings[-Entry - 1];
	}

	const FAssetRegistry& Registry;
	// Membership: flags by registry id, and the folded names that had no id when added.
	std::vector<char> ById;
	QSet<QString> Unknown;
	// The names in order: a registry id where the name is spelled as the registry's text, else
	// -(k + 1) for the k-th of Spellings.
	std::vector<int> Ordered;
	QStringList Spellings;
};

void UOrvaSDKSubsystem::RecursiveGetDependencies(const QString& PackageName, FNameSet& OutDependencies,
	QSet<QString>& ScannedPaths) const
{
	FAssetRegistry& Registry = GetHost()->AssetRegistry();
	// Depth-first with an explicit stack: a dependency chain of many thousand packages must not
	// exhaust the call stack. Termination rests on the two sets, as each ordinary dependency is
	// followed once and each external folder is scanned once.
	// The stack holds registry ids; a package the registry does not know has none (-1) and, like
	// any package not on disk, has no dependencies and no assets.
	// The registry is asked to fetch a package's dependency list when the package is pushed, so
	// that on a large project the cache misses of the lists pushed together overlap instead of
	// each stalling the walk when it is popped.
	std::vector<int> Stack;
	const auto Push = [&](int Id)
	{
		Registry.PrefetchDependencyIds(Id);
		Stack.push_back(Id);
	};
	Push(Registry.FindPackageId(PackageName));
	// Whether an id's name begins with /Game, decided once per id: -1 not yet known. A name under
	// the /Game mount point does; only other names need their text read.
	std::vector<signed char> UnderGame;
	int GameMount = -1;
	const QList<FMountPoint> Mounts = Registry.GetMountPoints();
	for (int Index = 0; Index < Mounts.size(); ++Index)
	{
		if (Mounts[Index].RootPath.compare(GameRoot, Qt::CaseInsensitive) == 0)
		{
			GameMount = Index;
		}
	}
	while (!Stack.empty())
	{
		const int Current = Stack.back();
		Stack.pop_back();
		if (!Registry.IsPackageOnDisk(Current))
		{
			continue;
		}

		// Pushed in reverse so the first dependency is walked first. The registry has package data
		// exactly for the packages it found on disk.
		const std::span<const int> Dependencies = Registry.GetDependencyIds(Current);
		if (UnderGame.size() < size_t(Registry.GetPackageIdCount()))
		{
			UnderGame.resize(size_t(Registry.GetPackageIdCount()), -1);
		}
		for (auto It = Dependencies.rbegin(); It != Dependencies.rend(); ++It)
		{
			const int Dependency = *It;
			// Most dependencies were reached already: the flag answers those without touching the
			// registry's records or the name.
			if (OutDependencies.HasId(Dependency))
			{
				continue;
			}
			signed char& Game = UnderGame[size_t(Dependency)];
			if (Game < 0)
			{
				Game = (GameMount >= 0 && Registry.GetPackageMountIndex(Dependency) == GameMount) ||
						StartsWithIgnoringCase(Registry.GetPackageNameById(Dependency), GameRoot)
					? 1
					: 0;
			}
			if (Game && Registry.IsPackageOnDisk(Dependency) &&
				OutDependencies.Add(Registry.GetPackageNameById(Dependency), Dependency))
			{
				Push(Dependency);
			}
		}

		// A level: any asset whose class resolves (through class redirects) to the world class or
		// one derived from it. Assets the registry lists always carry their package and own names.
		if (!Registry.HasAssetOfClass(Current, UWorld::StaticClass()))
		{
			continue;
		}
		const QString CurrentName = Registry.GetPackageNameById(Current);
		for (const QString& Path : ULevel::GetExternalObjectsPaths(CurrentName))
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
				const int Id = Registry.FindPackageId(Asset.PackageName);
				OutDependencies.Add(Asset.PackageName, Id);
				Push(Id);
			}
		}
	}
}

QStringList UOrvaSDKSubsystem::CheckFoldersNeedMove(const QString& PackageName, const QString& FolderName) const
{
	FNameSet All(GetHost()->AssetRegistry());
	All.Add(PackageName);
	QSet<QString> ScannedPaths;
	RecursiveGetDependencies(PackageName, All, ScannedPaths);

	// No separator after the prefix: "/Game/W1Old" counts as inside "/Game/W1".
	const QString Prefix = FPaths::Combine(GameRoot, FolderName);
	QStringList Outside;
	// The names lie all over the heap, in the walk's order: fetching each one's entry and then its
	// text some steps ahead overlaps the cache misses of a large project instead of waiting on each.
	constexpr qsizetype Ahead = 16;
	for (qsizetype Index = 0; Index < All.Size(); ++Index)
	{
		if (Index + 2 * Ahead < All.Size())
		{
			__builtin_prefetch(&All.At(Index + 2 * Ahead));
		}
		if (Index + Ahead < All.Size())
		{
			// The text, and the header whose count the copy into the answer raises.
			const QString& Next = All.At(Index + Ahead);
			__builtin_prefetch(Next.constData());
			// (data_ptr() of a const string is read-only; asking for the header changes nothing.)
			__builtin_prefetch(const_cast<QString&>(Next).data_ptr().d_ptr(), 1);
		}
		const QString& Name = All.At(Index);
		if (!LiesIn(Name, Prefix))
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
		!StartsWithIgnoringCase(LevelPath, QString(GamePrefix + KeyFolderName)))
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
