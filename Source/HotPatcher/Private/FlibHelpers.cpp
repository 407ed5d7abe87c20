#include "FlibHotPatcherCoreHelper.h"
#include "FlibPatchParserHelper.h"
#include "Paths.h"

QString UFlibPatchParserHelper::GetProjectFilePath(const FPaths& Paths)
{
	return FPaths::ConvertRelativePathToFull(Paths.GetProjectFilePath());
}

namespace
{
QString& HostEditorCmd()
{
	static QString Path;
	return Path;
}
} // namespace

QString UFlibHotPatcherCoreHelper::GetUECmdBinary()
{
	const QString Override = qEnvironmentVariable("ORVA_EDITOR_CMD");
	if (!Override.isEmpty())
	{
		return Override;
	}
	if (!HostEditorCmd().isEmpty())
	{
		return HostEditorCmd();
	}
	return QStringLiteral("OrvaEditorCmd");
}

void UFlibHotPatcherCoreHelper::SetUECmdBinary(const QString& Path)
{
	HostEditorCmd() = Path;
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
