#include "InstallPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace
{
QString FirstExisting(const QStringList& Candidates, bool bExecutable)
{
	for (const QString& Candidate : Candidates)
	{
		const QFileInfo Info(Candidate);
		if (bExecutable ? (Info.isFile() && Info.isExecutable()) : Info.isDir())
		{
			return QDir::cleanPath(Info.absoluteFilePath());
		}
	}
	return QString();
}
} // namespace

QString FInstallPaths::DataDir()
{
	if (!QCoreApplication::instance())
	{
		return QString();
	}
	const QString AppDir = QCoreApplication::applicationDirPath();
	// Installed: the data folder relative to the bin folder. In the build tree every program (and
	// every test program) sits two levels below the build folder, which holds the staged copy.
	return FirstExisting(
	    {AppDir + QStringLiteral("/" ORVA_DATA_FROM_BIN_DIR), AppDir + QStringLiteral("/../../" ORVA_DATA_SUBDIR)},
	    false);
}

QString FInstallPaths::ProgramPath(const QString& Name)
{
	if (!QCoreApplication::instance())
	{
		return QString();
	}
	const QString AppDir = QCoreApplication::applicationDirPath();
	return FirstExisting({AppDir + QLatin1Char('/') + Name,
	                      AppDir + QStringLiteral("/../") + Name + QLatin1Char('/') + Name,
	                      AppDir + QStringLiteral("/../../Programs/") + Name + QLatin1Char('/') + Name},
	                     true);
}
