#include "FlibHotPatcherCoreHelper.h"
#include "FlibPatchParserHelper.h"
#include "Paths.h"

#include <QCoreApplication>
#include <QFileInfo>

QString UFlibPatchParserHelper::GetProjectFilePath(const FPaths& Paths)
{
	return FPaths::ConvertRelativePathToFull(Paths.GetProjectFilePath());
}

QString UFlibHotPatcherCoreHelper::GetUECmdBinary()
{
	const QString Override = qEnvironmentVariable("ORVA_EDITOR_CMD");
	if (!Override.isEmpty())
	{
		return Override;
	}
	const QString Name = QStringLiteral("OrvaEditorCmd");
	if (QCoreApplication::instance())
	{
		const QString AppDir = QCoreApplication::applicationDirPath();
		// Beside the program when installed; in the build tree each program has a folder under
		// Programs/, and test programs live under Tests/<Area>/.
		for (const QString& Candidate :
		     {FPaths::Combine(AppDir, Name), FPaths::Combine({AppDir, QStringLiteral(".."), Name, Name}),
		      FPaths::Combine({AppDir, QStringLiteral("../../Programs"), Name, Name})})
		{
			const QFileInfo Info(Candidate);
			if (Info.isFile() && Info.isExecutable())
			{
				return FPaths::ConvertRelativePathToFull(Candidate);
			}
		}
	}
	return QStringLiteral(ORVA_EDITOR_CMD_BUILD_PATH);
}

QString UFlibHotPatcherCoreHelper::GetPlatformsStr(const QList<ETargetPlatform>& Platforms)
{
	QStringList Names;
	for (const ETargetPlatform Platform : Platforms)
	{
		Names.append(TargetPlatformToString(Platform));
	}
	return Names.join(QLatin1Char(','));
}
