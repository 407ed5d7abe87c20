#pragma once

#include "TestPrinters.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A throw-away project folder ("Project.uproject", "Content/") and a user-settings folder beside
// it. Both go away with the object.
class FTestProject
{
public:
	explicit FTestProject(const QString& ProjectName = QStringLiteral("TestProject"));

	bool IsValid() const { return Root.isValid(); }
	QString RootDir() const { return Root.path() + QLatin1Char('/'); }
	QString ProjectFile() const;
	QString ProjectDir() const { return RootDir() + ProjectName + QLatin1Char('/'); }
	QString ContentDir() const { return ProjectDir() + QStringLiteral("Content/"); }
	QString SavedDir() const { return ProjectDir() + QStringLiteral("Saved/"); }
	QString UserSettingsDir() const { return RootDir() + QStringLiteral("UserSettings/"); }

	// Writes a file below the root, creating its folders.
	bool WriteFile(const QString& RelativePath, const QByteArray& Content) const;
	QByteArray ReadFile(const QString& RelativePath) const;
	bool Exists(const QString& RelativePath) const;
	// Copies every file below SourceDir into the project's Content/ folder, keeping the layout.
	bool CopyContent(const QString& SourceDir) const;

	// Where InstallClient() puts the player client: Orva/ below the root.
	QString ClientInstallDir() const { return RootDir() + QStringLiteral("Orva/"); }
	// Installs the player client Program as its installer does: the executable as
	// ORVAClient/Binaries/Linux/ORVAClient below ClientInstallDir(), and the installer's record in
	// the user settings folder. The installed executable's path, or empty on failure.
	QString InstallClient(const QString& Program) const;
	// The log the installed client writes.
	QString ClientLogFile() const
	{
		return ClientInstallDir() + QStringLiteral("ORVAClient/Saved/Logs/ORVAClient.log");
	}

private:
	QTemporaryDir Root;
	QString ProjectName;
};
