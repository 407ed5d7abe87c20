#pragma once

#include <QString>
#include <QStringList>

// The host's folders, and the engine's path helpers. Folder getters answer with a trailing "/",
// as the engine's do.
class FPaths
{
public:
	FPaths() = default;
	// ProjectFile: the .uproject file. UserSettingsDir: the per-user settings folder; empty means
	// the XDG config home of the user.
	FPaths(const QString& ProjectFile, const QString& UserSettingsDir, const QString& EngineDir = QString());

	QString GetProjectFilePath() const { return ProjectFile; }
	QString ProjectDir() const { return ProjectDirectory; }
	QString ProjectContentDir() const { return ProjectDirectory + QStringLiteral("Content/"); }
	QString ProjectSavedDir() const { return ProjectDirectory + QStringLiteral("Saved/"); }
	QString ProjectLogDir() const { return ProjectSavedDir() + QStringLiteral("Logs/"); }
	QString ProjectConfigDir() const { return ProjectDirectory + QStringLiteral("Config/"); }
	QString ProjectPluginsDir() const { return ProjectDirectory + QStringLiteral("Plugins/"); }
	// The project's name: the base name of the project file.
	QString ProjectName() const;
	// The host's engine folder (holding "Content/" for the /Engine mount point); may be empty.
	QString EngineDir() const { return EngineDirectory; }
	QString EngineContentDir() const;
	QString UserSettingsDir() const { return UserSettings; }

	// Joins parts with exactly one "/" between each two non-empty parts.
	static QString Combine(const QString& A, const QString& B);
	static QString Combine(const QStringList& Parts);
	// Makes a path absolute against the current folder and normalises "." and "..", keeping a
	// trailing "/".
	static QString ConvertRelativePathToFull(const QString& Path);
	static QString ConvertRelativePathToFull(const QString& BasePath, const QString& Path);
	// "a/b/c.ext" -> "c"
	static QString GetBaseFilename(const QString& Path);
	// "a/b/c.ext" -> "c.ext"
	static QString GetCleanFilename(const QString& Path);
	// "a/b/c.ext" -> "a/b"
	static QString GetPath(const QString& Path);
	static QString GetExtension(const QString& Path, bool bIncludeDot = false);
	// Replaces "\" by "/".
	static QString NormalizeFilename(const QString& Path);
	static bool DirectoryExists(const QString& Path);
	static bool FileExists(const QString& Path);
	// Creates the folder and every missing parent.
	static bool CreateDirectoryTree(const QString& Path);

	// The XDG config home ("$XDG_CONFIG_HOME" or "~/.config"), ending with "/".
	static QString DefaultUserSettingsDir();

private:
	QString ProjectFile;
	QString ProjectDirectory;
	QString EngineDirectory;
	QString UserSettings;
};
