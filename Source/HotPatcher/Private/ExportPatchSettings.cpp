#include "ExportPatchSettings.h"

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

QString FExportPatchSettings::GetCombinedAdditionalCommandletArgs() const
{
	return AdditionalCommandletArgs.join(QLatin1Char(' '));
}
