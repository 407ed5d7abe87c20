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

#include <QHash>
#include <QPair>
#include <QSet>

#include <utility>

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

// Whether the package's assets include a level: an asset whose class resolves (through class
// redirects) to the world class or one derived from it. Class paths repeat over a project, so
// each is resolved once per walk.
class FLevelTest
{
public:
	explicit FLevelTest(const FClassTable& InClasses)
		: Classes(InClasses)
	{
	}

	bool HasLevel(const QList<FAssetData>& Assets)
	{
		for (const FAssetData& Asset : Assets)
		{
			if (!Asset.PackageName.isEmpty() && !Asset.AssetName.isEmpty() && IsWorldClass(Asset.AssetClassPath))
			{
				return true;
			}
		}
		return false;
	}

private:
	bool IsWorldClass(const FTopLevelAssetPath& ClassPath)
	{
		const QPair<QString, QString> Key{ClassPath.PackageName, ClassPath.AssetName};
		const auto Known = Answers.constFind(Key);
		if (Known != Answers.constEnd())
		{
			return Known.value();
		}
		// The loaded class of that path; failing that, the class its path was redirected to.
		const QString Path = ClassPath.ToString();
		const UClass* Class = Classes.FindClass(Path);
		if (!Class)
		{
			const QString NewPath = Classes.FindNewPathNameForClass(Path);
			Class = NewPath.isEmpty() ? nullptr : Classes.FindClass(NewPath);
		}
		const bool bWorld = Class && Class->IsChildOf(UWorld::StaticClass());
		Answers.insert(Key, bWorld);
		return bWorld;
	}

	const FClassTable& Classes;
	QHash<QPair<QString, QString>, bool> Answers;
};
} // namespace

// Package names compare ignoring case, as the engine's names do; the order of first insertion is
// kept so results are stable, with each name as it was first spelled. A walk meets every name
// several times, nearly always spelled the same: the spelling is looked up first, and only a
// spelling not met before is folded.
struct UOrvaSDKSubsystem::FNameSet
{
	enum class EState : quint8
	{
		// Listed under another spelling, or under this one.
		Listed,
		// Met before and not listed: it lies under no walked mount point.
		Passed,
		Unknown,
	};

	EState Find(const QString& Name)
	{
		const auto Known = Spellings.constFind(Name);
		if (Known != Spellings.constEnd())
		{
			return Known.value();
		}
		if (Folded.contains(Name.toCaseFolded()))
		{
			Spellings.insert(Name, EState::Listed);
			return EState::Listed;
		}
		return EState::Unknown;
	}

	bool Contains(const QString& Name) { return Find(Name) == EState::Listed; }

	// Whether Name was new.
	bool Add(const QString& Name)
	{
		if (Contains(Name))
		{
			return false;
		}
		Spellings.insert(Name, EState::Listed);
		Folded.insert(Name.toCaseFolded());
		Names.append(Name);
		return true;
	}

	// A name that is never to be listed, so that meeting it again costs one look-up.
	void Pass(const QString& Name) { Spellings.insert(Name, EState::Passed); }

	QHash<QString, EState> Spellings;
	QSet<QString> Folded;
	QStringList Names;
};

void UOrvaSDKSubsystem::RecursiveGetDependencies(const QString& PackageName, FNameSet& OutDependencies,
	QSet<QString>& ScannedPaths) const
{
	FAssetRegistry& Registry = GetHost()->AssetRegistry();
	FLevelTest Levels(GetHost()->Classes());
	// Depth-first with an explicit stack: a dependency chain of many thousand packages must not
	// exhaust the call stack. Termination rests on the two sets, as each ordinary dependency is
	// followed once and each external folder is scanned once.
	QStringList Stack{PackageName};
	QStringList Dependencies;
	QList<FAssetData> Assets;
	while (!Stack.isEmpty())
	{
		const QString Current = Stack.takeLast();
		// A package the registry has no dependencies for is not on disk: it has no assets either.
		Dependencies.clear();
		if (!Registry.GetDependencies(Current, Dependencies))
		{
			continue;
		}
		// Pushed in reverse so the first dependency is walked first.
		for (auto It = Dependencies.crbegin(); It != Dependencies.crend(); ++It)
		{
			const QString& Dependency = *It;
			if (OutDependencies.Find(Dependency) != FNameSet::EState::Unknown)
			{
				continue;
			}
			if (!StartsWithIgnoringCase(Dependency, GameRoot))
			{
				OutDependencies.Pass(Dependency);
			}
			// A package not on disk is asked about again when met again: a scan of external
			// folders on the way may have found it.
			else if (Registry.DoesPackageExistOnDisk(Dependency))
			{
				OutDependencies.Add(Dependency);
				Stack.append(Dependency);
			}
		}

		Assets.clear();
		if (!Registry.GetAssetsByPackageName(Current, Assets, true, true) || !Levels.HasLevel(Assets))
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
	for (const QString& Name : std::as_const(All.Names))
	{
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
