#pragma once

#include <QString>
#include <QStringList>

// The classes the host knows: a small table of the engine's asset classes with their parents,
// and the class redirects that map class paths of older engine versions onto current classes.
// Classes live for the whole process; pointers to them never dangle.
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

	// The class of that path when it is known, without following redirects (the engine's lookup of
	// a loaded class); null otherwise.
	static const UClass* FindClass(const QString& PathName);
	// The current path of a class after class redirects ("/Script/Engine.LevelStreamingKismet" ->
	// "/Script/Engine.LevelStreamingDynamic"); empty when no redirect applies.
	static QString FindNewPathNameForClass(const QString& OldPathName);
	// FindClass, then FindClass of the redirected path: how an asset's class is resolved.
	static const UClass* ResolveClass(const QString& PathName);

	// Registers a class of a code module (for example a game's own world class). The parent must
	// be known. Answers the class, the existing one when the path is taken; null for a bad parent.
	static const UClass* RegisterClass(const QString& PathName, const QString& SuperPathName);
	// Adds a class redirect, as a module's redirect list does.
	static void AddClassRedirect(const QString& OldPathName, const QString& NewPathName);
	// Changes whenever a class or a class redirect is added: a resolution remembered under one
	// value holds as long as the value stays.
	static quint64 GetTableGeneration();

	UClass(const QString& InPathName, const UClass* InSuper)
		: PathName(InPathName)
		, Super(InSuper)
	{
	}

private:
	QString PathName;
	const UClass* Super = nullptr;
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
