#include "ObjectClasses.h"

#include "PackageName.h"

#include <QHash>

namespace
{
// The engine's own classes and class redirects: built once, never changed, so read without a lock.
struct FEngineClasses
{
	// Stable addresses: classes are handed out as raw pointers for the life of the process.
	std::deque<UClass> Classes;
	QHash<QString, const UClass*> ByPath; // folded path -> class
	QHash<QString, QString> Redirects;    // folded old path -> new path

	FEngineClasses()
	{
		// Parent before child; each entry names its parent's path.
		static const char* const Table[][2] = {
		    {"/Script/CoreUObject.Object", nullptr},
		    {"/Script/CoreUObject.ObjectRedirector", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.World", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.Level", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.Actor", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.StaticMeshActor", "/Script/Engine.Actor"},
		    {"/Script/Engine.PointLight", "/Script/Engine.Actor"},
		    {"/Script/Engine.PlayerStart", "/Script/Engine.Actor"},
		    {"/Script/Engine.LevelStreaming", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.LevelStreamingDynamic", "/Script/Engine.LevelStreaming"},
		    {"/Script/Engine.StreamableRenderAsset", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.StaticMesh", "/Script/Engine.StreamableRenderAsset"},
		    {"/Script/Engine.SkeletalMesh", "/Script/Engine.StreamableRenderAsset"},
		    {"/Script/Engine.Texture", "/Script/Engine.StreamableRenderAsset"},
		    {"/Script/Engine.Texture2D", "/Script/Engine.Texture"},
		    {"/Script/Engine.TextureCube", "/Script/Engine.Texture"},
		    {"/Script/Engine.MaterialInterface", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.Material", "/Script/Engine.MaterialInterface"},
		    {"/Script/Engine.MaterialInstance", "/Script/Engine.MaterialInterface"},
		    {"/Script/Engine.MaterialInstanceConstant", "/Script/Engine.MaterialInstance"},
		    {"/Script/Engine.MaterialParameterCollection", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.SoundBase", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.SoundWave", "/Script/Engine.SoundBase"},
		    {"/Script/Engine.Blueprint", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.DataAsset", "/Script/CoreUObject.Object"},
		    {"/Script/Engine.DataLayerAsset", "/Script/Engine.DataAsset"},
		    {"/Script/Engine.DataLayerInstance", "/Script/CoreUObject.Object"},
		};
		for (const auto& Row : Table)
		{
			const QString Path = QString::fromLatin1(Row[0]);
			Classes.emplace_back(Path, Row[1] ? ByPath.value(QString::fromLatin1(Row[1]).toCaseFolded()) : nullptr);
			ByPath.insert(Path.toCaseFolded(), &Classes.back());
		}
		// Classes renamed by earlier engine versions, as the engine's redirect list carries them.
		static const char* const RedirectTable[][2] = {
		    {"/Script/Engine.LevelStreamingKismet", "/Script/Engine.LevelStreamingDynamic"},
		    {"/Script/Engine.MaterialInstanceTimeVarying", "/Script/Engine.MaterialInstanceConstant"},
		    {"/Script/Engine.PartitionedWorld", "/Script/Engine.World"},
		    {"/Script/Engine.Redirector", "/Script/CoreUObject.ObjectRedirector"},
		};
		for (const auto& Row : RedirectTable)
		{
			Redirects.insert(QString::fromLatin1(Row[0]).toCaseFolded(), QString::fromLatin1(Row[1]));
		}
	}
};

const FEngineClasses& EngineClasses()
{
	static const FEngineClasses Instance;
	return Instance;
}

// Every table's generations come from one counter, so that a value names one table in one state.
std::atomic<quint64> NextGeneration{1};

// Scans resolve the same few class paths for every package, on several threads: each thread keeps
// its answers for the table it last asked instead of taking the table's lock each time.
struct FResolveCache
{
	quint64 Generation = 0;
	QHash<QString, const UClass*> Found;
	QHash<QString, const UClass*> Resolved;

	void Validate(quint64 Current)
	{
		if (Generation != Current)
		{
			Found.clear();
			Resolved.clear();
			Generation = Current;
		}
	}
};

thread_local FResolveCache ResolveCache;

const UClass* Require(const char* Path)
{
	const UClass* Class = UClass::FindEngineClass(QString::fromLatin1(Path));
	Q_ASSERT(Class);
	return Class;
}

// Follows redirects in one redirect list; they may chain when a class was renamed twice, and a
// loop ends the walk.
QString FollowRedirects(const QHash<QString, QString>& Redirects, const QString& OldPathName)
{
	QString Current;
	QString Key = OldPathName.toCaseFolded();
	for (int Hop = 0; Hop < 16; ++Hop)
	{
		const auto It = Redirects.constFind(Key);
		if (It == Redirects.constEnd())
		{
			break;
		}
		Current = It.value();
		Key = Current.toCaseFolded();
	}
	return Current;
}
} // namespace

QString UClass::GetName() const
{
	return PathName.mid(PathName.lastIndexOf(QLatin1Char('.')) + 1);
}

bool UClass::IsChildOf(const UClass* Other) const
{
	for (const UClass* Class = this; Class; Class = Class->Super)
	{
		if (Class == Other)
		{
			return true;
		}
	}
	return false;
}

const UClass* UClass::FindEngineClass(const QString& PathName)
{
	return EngineClasses().ByPath.value(PathName.toCaseFolded(), nullptr);
}

const UClass* UClass::ResolveEngineClass(const QString& PathName)
{
	// Every package a scan parses asks this for each of its assets, with the same few paths.
	thread_local QHash<QString, const UClass*> Cache;
	const auto Cached = Cache.constFind(PathName);
	if (Cached != Cache.constEnd())
	{
		return Cached.value();
	}
	const UClass* Class = FindEngineClass(PathName);
	if (!Class)
	{
		const QString NewPath = FollowRedirects(EngineClasses().Redirects, PathName);
		Class = NewPath.isEmpty() ? nullptr : FindEngineClass(NewPath);
	}
	if (Cache.size() < 4096)
	{
		Cache.insert(PathName, Class);
	}
	return Class;
}

FClassTable::FClassTable()
{
	BumpGeneration();
}

FClassTable::~FClassTable() = default;

void FClassTable::BumpGeneration()
{
	Generation.store(NextGeneration.fetch_add(1), std::memory_order_release);
}

const UClass* FClassTable::FindOwnLocked(const QString& FoldedPath) const
{
	return ByPath.value(FoldedPath, nullptr);
}

const UClass* FClassTable::FindClass(const QString& PathName) const
{
	ResolveCache.Validate(GetGeneration());
	const auto Cached = ResolveCache.Found.constFind(PathName);
	if (Cached != ResolveCache.Found.constEnd())
	{
		return Cached.value();
	}
	const QString Folded = PathName.toCaseFolded();
	const UClass* Class = EngineClasses().ByPath.value(Folded, nullptr);
	if (!Class)
	{
		std::lock_guard Lock(Mutex);
		Class = FindOwnLocked(Folded);
	}
	if (ResolveCache.Found.size() < 4096)
	{
		ResolveCache.Found.insert(PathName, Class);
	}
	return Class;
}

QString FClassTable::FindNewPathNameForClass(const QString& OldPathName) const
{
	std::lock_guard Lock(Mutex);
	if (Redirects.isEmpty())
	{
		return FollowRedirects(EngineClasses().Redirects, OldPathName);
	}
	// A module's redirect wins over the engine's for the same path; a chain may pass through both.
	QString Current;
	QString Key = OldPathName.toCaseFolded();
	for (int Hop = 0; Hop < 16; ++Hop)
	{
		auto It = Redirects.constFind(Key);
		if (It == Redirects.constEnd())
		{
			It = EngineClasses().Redirects.constFind(Key);
			if (It == EngineClasses().Redirects.constEnd())
			{
				break;
			}
		}
		Current = It.value();
		Key = Current.toCaseFolded();
	}
	return Current;
}

const UClass* FClassTable::ResolveClass(const QString& PathName) const
{
	ResolveCache.Validate(GetGeneration());
	const auto Cached = ResolveCache.Resolved.constFind(PathName);
	if (Cached != ResolveCache.Resolved.constEnd())
	{
		return Cached.value();
	}
	const UClass* Class = FindClass(PathName);
	if (!Class)
	{
		const QString NewPath = FindNewPathNameForClass(PathName);
		Class = NewPath.isEmpty() ? nullptr : FindClass(NewPath);
	}
	if (ResolveCache.Resolved.size() < 4096)
	{
		ResolveCache.Resolved.insert(PathName, Class);
	}
	return Class;
}

const UClass* FClassTable::RegisterClass(const QString& PathName, const QString& SuperPathName)
{
	const QString Folded = PathName.toCaseFolded();
	std::lock_guard Lock(Mutex);
	if (const UClass* Existing = EngineClasses().ByPath.value(Folded, nullptr))
	{
		return Existing;
	}
	if (const UClass* Existing = FindOwnLocked(Folded))
	{
		return Existing;
	}
	const QString SuperFolded = SuperPathName.toCaseFolded();
	const UClass* Super = EngineClasses().ByPath.value(SuperFolded, nullptr);
	if (!Super)
	{
		Super = FindOwnLocked(SuperFolded);
	}
	if (!Super || !FPackageName::IsValidObjectPath(PathName))
	{
		return nullptr;
	}
	Classes.emplace_back(PathName, Super);
	const UClass* Class = &Classes.back();
	ByPath.insert(Folded, Class);
	BumpGeneration();
	return Class;
}

void FClassTable::AddClassRedirect(const QString& OldPathName, const QString& NewPathName)
{
	std::lock_guard Lock(Mutex);
	Redirects.insert(OldPathName.toCaseFolded(), NewPathName);
	BumpGeneration();
}

const UClass* UWorld::StaticClass()
{
	static const UClass* Class = Require("/Script/Engine.World");
	return Class;
}

const UClass* UObjectRedirector::StaticClass()
{
	static const UClass* Class = Require("/Script/CoreUObject.ObjectRedirector");
	return Class;
}

const UClass* ULevel::StaticClass()
{
	static const UClass* Class = Require("/Script/Engine.Level");
	return Class;
}

QStringList ULevel::GetExternalObjectsPaths(const QString& LevelPackageName, const QString& LevelPackageShortName)
{
	if (!FPackageName::IsValidLongPackageName(LevelPackageName))
	{
		return {};
	}
	const QString Mount = QLatin1Char('/') + FPackageName::GetMountPointName(LevelPackageName);
	const QString Tail = LevelPackageShortName.isEmpty() ? FPackageName::GetPathAfterMountPoint(LevelPackageName)
	                                                     : LevelPackageShortName;
	return {Mount + QLatin1Char('/') + FPackageName::ExternalActorsFolderName() + QLatin1Char('/') + Tail,
	        Mount + QLatin1Char('/') + FPackageName::ExternalObjectsFolderName() + QLatin1Char('/') + Tail};
}
