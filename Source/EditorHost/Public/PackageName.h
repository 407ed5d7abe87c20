#pragma once

#include <QString>
#include <QStringView>

// Long package names and object paths as the engine spells them:
//   package name  "/Game/Maps/Entry"          (mount point "/Game", package path "/Game/Maps")
//   object path   "/Game/Maps/Entry.Entry"    (package name, a dot, the object's name)
// Names compare ignoring case, as the engine's names do.
class FPackageName
{
public:
	// The folders under a mount point where partitioned levels keep their actors and other objects.
	static QString ExternalActorsFolderName() { return QStringLiteral("__ExternalActors__"); }
	static QString ExternalObjectsFolderName() { return QStringLiteral("__ExternalObjects__"); }

	// A long package name: starts with "/", at least 4 characters, a mount point and at least one
	// more part, no empty part, no trailing "/", none of \ : * ? " < > | ' , . & ! ~ @ # nor line
	// breaks or tabs. Whether the mount point is mounted is the registry's business.
	static bool IsValidLongPackageName(QStringView Name, QString* OutReason = nullptr);
	// A content folder: "/Game" or "/Game/Maps"; the same characters as a package name.
	static bool IsValidPackagePath(QStringView Path, QString* OutReason = nullptr);
	// An object's short name: not empty, none of the characters above nor "/" or ".".
	static bool IsValidObjectName(QStringView Name, QString* OutReason = nullptr);
	// "Package.Object", optionally followed by ":SubPath".
	static bool IsValidObjectPath(QStringView Path, QString* OutReason = nullptr);

	// "/Game/Maps/Entry" -> "/Game/Maps"; "/Game" -> "".
	static QString GetLongPackagePath(const QString& PackageName);
	// "/Game/Maps/Entry" -> "Entry".
	static QString GetShortName(const QString& PackageName);
	// "/Game/Maps/Entry" -> "Game".
	static QString GetMountPointName(const QString& PackageName);
	// "/Game/Maps/Entry" -> "Maps/Entry": the part after the mount point.
	static QString GetPathAfterMountPoint(const QString& PackageName);
	// "/Game/Maps/Entry.Entry:Sub" -> "/Game/Maps/Entry"; a package name is answered as it is.
	static QString ObjectPathToPackageName(const QString& ObjectPath);
	// "/Game/Maps/Entry.Entry:Sub" -> "Entry"; empty when there is no object part.
	static QString ObjectPathToObjectName(const QString& ObjectPath);

	// "/Script/..." packages are code: they exist without any file.
	static bool IsScriptPackage(QStringView PackageName);
	// Packages kept under a mount point's external actors or objects folder, which belong to a
	// partitioned level and follow it wherever it goes.
	static bool IsExternalPackage(const QString& PackageName);
	// Whether Name equals Folder or lies below it ("/Game/Maps" holds "/Game/Maps/Entry" but not
	// "/Game/MapsOld/Entry"), ignoring case.
	static bool IsUnderPath(QStringView Name, QStringView Folder);
};
