#include "TestProject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

FTestProject::FTestProject(const QString& InProjectName)
    : ProjectName(InProjectName)
{
	QDir().mkpath(ContentDir());
	QDir().mkpath(UserSettingsDir());
	WriteFile(ProjectName + QLatin1Char('/') + ProjectName + QStringLiteral(".uproject"),
	          QByteArray("{\"FileVersion\":3,\"EngineAssociation\":\"5.1\"}\n"));
}

QString FTestProject::ProjectFile() const
{
	return ProjectDir() + ProjectName + QStringLiteral(".uproject");
}

bool FTestProject::WriteFile(const QString& RelativePath, const QByteArray& Content) const
{
	const QString Path = RootDir() + RelativePath;
	QDir().mkpath(QFileInfo(Path).absolutePath());
	QFile File(Path);
	if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate))
	{
		return false;
	}
	return File.write(Content) == Content.size();
}

QByteArray FTestProject::ReadFile(const QString& RelativePath) const
{
	QFile File(RootDir() + RelativePath);
	return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

bool FTestProject::Exists(const QString& RelativePath) const
{
	return QFileInfo::exists(RootDir() + RelativePath);
}
