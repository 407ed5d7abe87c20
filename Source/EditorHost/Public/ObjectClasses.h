#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <atomic>
#include <deque>
#include <mutex>

// A class of the object system: its path and its parent. The engine's own classes are shared by
// every host and never change; a class that a code module registers belongs to the class table
// of the host it was registered with, and lives as long as that table.
class UClass
{
public:
	// "/Script/Engine.World"
	QString GetPathName() const { return PathName; }
	// "World"
	QString GetName() const;
	const UClass* GetSuperClass() const { return Super; }
	// True for this class and every class derived from Other.
	bool IsChildOf(const UClass* Other) const;

	// The engine's own class of that path, without following redirects; null otherwise. Enough
	// where a code module cannot add a class that matters (the object redirector, say).
	static const UClass* FindEngineClass(const QString& PathName);
	// FindEngineClass, then FindEngineClass of the path after the engine's own class redirects.
	static const UClass* ResolveEngineClass(const QString& PathName);

	UClass(const QString& InPathName, const UClass* InSuper)
	    : PathName(InPathName)
	    , Super(InSuper)
	{
	}

private:
	QString PathName;
	const UClass* Super = nullptr;
};

// The classes one host knows: the engine's own asset classes with their parents and the class
// redirects that map class paths of older engine versions onto current classes, plus what code
// modules register with this host. Owned by the host, so that classes registered in one host (one
// test, say) are unknown to every other. Safe to use from several threads.
class FClassTable
{
public:
	FClassTable();
	~FClassTable();
	FClassTable(const FClassTable&) = delete;
	FClassTable& operator=(const FClassTable&) = delete;

	// The class of that path when it is known, without following redirects (the engine's lookup of
	// a loaded class); null otherwise.
	const UClass* FindClass(const QString& PathName) const;
	// The current path of a class after class redirects ("/Script/Engine.LevelStreamingKismet" ->
	// "/Script/Engine.LevelStreamingDynamic"); empty when no redirect applies.
	QString FindNewPathNameForClass(const QString& OldPathName) const;
	// FindClass, then FindClass of the redirected path: how an asset's class is resolved.
	const UClass* ResolveClass(const QString& PathName) const;

	// Registers a class of a code module (for example a game's own world class). The parent must
	// be known. Answers the class, the existing one when the path is taken; null for a bad parent.
	const UClass* RegisterClass(const QString& PathName, const QString& SuperPathName);
	// Adds a class redirect, as a module's redirect list does.
	void AddClassRedirect(const QString& OldPathName, const QString& NewPathName);
	// Changes whenever a class or a class redirect is added, and differs between tables: a
	// resolution remembered under one value holds as long as the value stays.
	quint64 GetGeneration() const { return Generation.load(std::memory_order_acquire); }

private:
	const UClass* FindOwnLocked(const QString& FoldedPath) const;
	void BumpGeneration();

	mutable std::mutex Mutex;
	// Stable addresses: classes are handed out as raw pointers for the life of the table.
	std::deque<UClass> Classes;
	QHash<QString, const UClass*> ByPath; // folded path -> class
	QHash<QString, QString> Redirects;    // folded old path -> new path
	std::atomic<quint64> Generation{0};
};

struct UWorld
{
	static const UClass* StaticClass();
};
struct UObjectRedirector
{
	static const UClass* StaticClass();
};

struct ULevel
{
	static const UClass* StaticClass();
	// The content folders where a level keeps its external actors and its other external objects:
	// for "/Game/Maps/Entry", "/Game/__ExternalActors__/Maps/Entry" and
	// "/Game/__ExternalObjects__/Maps/Entry", whether or not they exist. A non-empty short name
	// replaces the level's path after the mount point. Empty for an invalid package name.
	static QStringList GetExternalObjectsPaths(const QString& LevelPackageName,
	                                           const QString& LevelPackageShortName = QString());
};
