#include "TestProject.h"

#include <QDir>
#include <QDirIterator>
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

bool FTestProject::CopyContent(const QString& SourceDir) const
{
	const QDir Source(SourceDir);
	if (!Source.exists())
	{
		return false;
	}
	QDirIterator It(SourceDir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
	while (It.hasNext())
	{
		const QString File = It.next();
		const QString Target = ContentDir() + Source.relativeFilePath(File);
		QDir().mkpath(QFileInfo(Target).absolutePath());
		QFile::remove(Target);
		if (!QFile::copy(File, Target))
		{
			return false;
		}
	}
	return true;
}

QString FTestProject::InstallClient(const QString& Program) const
{
	const QString Executable = ClientInstallDir() + QStringLiteral("ORVAClient/Binaries/Linux/ORVAClient");
	QDir().mkpath(QFileInfo(Executable).absolutePath());
	QFile::remove(Executable);
	if (!QFile::copy(Program, Executable) ||
	    !QFile::setPermissions(Executable, QFileDevice::ReadOwner | QFileDevice::ExeOwner))
	{
		return QString();
	}
	const QByteArray Record =
	    "[Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6A1D3C90-2F7B-4E55-8B14-0C9E7A2D4F61}_is1]\n"
	    "InstallLocation=" +
	    QDir::cleanPath(ClientInstallDir()).toUtf8() + "\n";
	return WriteFile(QStringLiteral("UserSettings/Registry/HKEY_CURRENT_USER.ini"), Record) ? Executable : QString();
}
