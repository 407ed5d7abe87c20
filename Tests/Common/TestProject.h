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

private:
	QTemporaryDir Root;
	QString ProjectName;
};
