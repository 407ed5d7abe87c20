#include "ExportPatchSettings.h"

#include "Paths.h"

FExportPatchSettings* GPatchSettings = nullptr;

namespace
{
struct FPlatformName
{
	ETargetPlatform Platform;
	const char* Name;
};

constexpr FPlatformName PlatformNames[] = {
    {ETargetPlatform::WindowsClient, "WindowsClient"},
    {ETargetPlatform::WindowsServer, "WindowsServer"},
    {ETargetPlatform::WindowsEditor, "WindowsEditor"},
    {ETargetPlatform::Windows, "Windows"},
    {ETargetPlatform::LinuxServer, "LinuxServer"},
    {ETargetPlatform::LinuxClient, "LinuxClient"},
    {ETargetPlatform::Linux, "Linux"},
};
} // namespace

QString TargetPlatformToString(ETargetPlatform Platform)
{
	for (const FPlatformName& Entry : PlatformNames)
	{
		if (Entry.Platform == Platform)
		{
			return QLatin1String(Entry.Name);
		}
	}
	return QString();
}

bool TargetPlatformFromString(const QString& Name, ETargetPlatform& OutPlatform)
{
	for (const FPlatformName& Entry : PlatformNames)
	{
		if (Name == QLatin1String(Entry.Name))
		{
			OutPlatform = Entry.Platform;
			return true;
		}
	}
	return false;
}

bool TargetPlatformFromEnumName(const QString& QualifiedName, ETargetPlatform& OutPlatform)
{
	const QString Prefix = QStringLiteral("ETargetPlatform::");
	return QualifiedName.startsWith(Prefix) && TargetPlatformFromString(QualifiedName.mid(Prefix.size()), OutPlatform);
}

QString FExportPatchSettings::GetCombinedAdditionalCommandletArgs() const
{
	return AdditionalCommandletArgs.join(QLatin1Char(' '));
}

QString FExportPatchSettings::GetSaveAbsPath() const
{
	QString Path = SavePath.trimmed();
	const QString Project = FPaths::ConvertRelativePathToFull(ProjectDir);
	if (Path.isEmpty())
	{
		Path = QStringLiteral("[PROJECT_SAVED_DIR]/HotPatcher");
	}
	Path.replace(QStringLiteral("[PROJECT_SAVED_DIR]"), FPaths::Combine(Project, QStringLiteral("Saved")),
	             Qt::CaseInsensitive);
	Path.replace(QStringLiteral("[PROJECTDIR]"), Project, Qt::CaseInsensitive);
	Path = FPaths::ConvertRelativePathToFull(Project, FPaths::NormalizeFilename(Path));
	while (Path.size() > 1 && Path.endsWith(QLatin1Char('/')))
	{
		Path.chop(1);
	}
	return Path;
}

QString FExportPatchSettings::GetCurrentVersionSavePath() const
{
	return FPaths::Combine(GetSaveAbsPath(), VersionId);
}
