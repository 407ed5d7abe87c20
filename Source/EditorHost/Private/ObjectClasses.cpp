#include "ObjectClasses.h"

#include "PackageName.h"

#include <QHash>

#include <atomic>
#include <deque>
#include <mutex>

namespace
{
struct FClassTable
{
	std::mutex Mutex;
	// Stable addresses: classes are handed out as raw pointers for the life of the process.
	std::deque<UClass> Classes;
	QHash<QString, const UClass*> ByPath;  // folded path -> class
	QHash<QString, QString> Redirects;     // folded old path -> new path

	const UClass* AddLocked(const QString& Path, const UClass* Super)
	{
		Classes.emplace_back(Path, Super);
		const UClass* Class = &Classes.back();
		ByPath.insert(Path.toCaseFolded(), Class);
		return Class;
	}

	const UClass* FindLocked(const QString& Path) const { return ByPath.value(Path.toCaseFolded(), nullptr); }

	FClassTable()
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
			AddLocked(Path, Row[1] ? FindLocked(QString::fromLatin1(Row[1])) : nullptr);
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

FClassTable& Table()
{
	static FClassTable Instance;
	return Instance;
}

// Bumped whenever a class or a redirect is added, so that per-thread caches know to start over.
std::atomic<quint64> TableGeneration{0};

// Scans resolve the same few class paths for every package, on several threads: each thread keeps
// its answers instead of taking the table's lock each time.
struct FResolveCache
{
	quint64 Generation = ~0ull;
	QHash<QString, const UClass*> Found;
	QHash<QString, const UClass*> Resolved;

	void Validate()
	{
		const quint64 Current = TableGeneration.load(std::memory_order_acquire);
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
	const UClass* Class = UClass::FindClass(QString::fromLatin1(Path));
	Q_ASSERT(Class);
	return Class;
}
} // namespace

QString UClass::GetName() const { return PathName.mid(PathName.lastIndexOf(QLatin1Char('.')) + 1); }

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

const UClass* UClass::FindClass(const QString& PathName)
{
	ResolveCache.Validate();
	const auto Cached = ResolveCache.Found.constFind(PathName);
	if (Cached != ResolveCache.Found.constEnd())
	{
		return Cached.value();
	}
	FClassTable& T = Table();
	const UClass* Class = nullptr;
	{
		std::lock_guard Lock(T.Mutex);
		Class = T.FindLocked(PathName);
	}
	if (ResolveCache.Found.size() < 4096)
	{
		ResolveCache.Found.insert(PathName, Class);
	}
	return Class;
}

QString UClass::FindNewPathNameForClass(const QString& OldPathName)
{
	FClassTable& T = Table();
	std::lock_guard Lock(T.Mutex);
	// Redirects may chain when a class was renamed twice; a loop ends the walk.
	QString Current;
	QString Key = OldPathName.toCaseFolded();
	for (int Hop = 0; Hop < 16; ++Hop)
	{
		const auto It = T.Redirects.constFind(Key);
		if (It == T.Redirects.constEnd())
		{
			break;
		}
		Current = It.value();
		Key = Current.toCaseFolded();
	}
	return Current;
}

const UClass* UClass::ResolveClass(const QString& PathName)
{
	ResolveCache.Validate();
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

const UClass* UClass::RegisterClass(const QString& PathName, const QString& SuperPathName)
{
	FClassTable& T = Table();
	std::lock_guard Lock(T.Mutex);
	if (const UClass* Existing = T.FindLocked(PathName))
	{
		return Existing;
	}
	const UClass* Super = T.FindLocked(SuperPathName);
	if (!Super || !FPackageName::IsValidObjectPath(PathName))
	{
		return nullptr;
	}
	const UClass* Class = T.AddLocked(PathName, Super);
	TableGeneration.fetch_add(1, std::memory_order_release);
	return Class;
}

void UClass::AddClassRedirect(const QString& OldPathName, const QString& NewPathName)
{
	FClassTable& T = Table();
	std::lock_guard Lock(T.Mutex);
	T.Redirects.insert(OldPathName.toCaseFolded(), NewPathName);
	TableGeneration.fetch_add(1, std::memory_order_release);
}

quint64 UClass::GetTableGeneration() { return TableGeneration.load(std::memory_order_acquire); }

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
	const QString Tail =
		LevelPackageShortName.isEmpty() ? FPackageName::GetPathAfterMountPoint(LevelPackageName) : LevelPackageShortName;
	return {Mount + QLatin1Char('/') + FPackageName::ExternalActorsFolderName() + QLatin1Char('/') + Tail,
		Mount + QLatin1Char('/') + FPackageName::ExternalObjectsFolderName() + QLatin1Char('/') + Tail};
}
