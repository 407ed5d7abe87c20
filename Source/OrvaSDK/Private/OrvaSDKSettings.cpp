#include "OrvaSDKSettings.h"

#include "Paths.h"

namespace OrvaSDKSettings
{

QString SettingsFolder(const QString& UserSettingsDir)
{
	return UserSettingsDir + QStringLiteral("BrackenfoldStudios/ORVA");
}

QString SettingsFilePath(const QString& UserSettingsDir)
{
	return FPaths::ConvertRelativePathToFull(
	    FPaths::Combine(SettingsFolder(UserSettingsDir), QStringLiteral("OrvaSDK.ini")));
}

QString InstallerRecordPath(const QString& UserSettingsDir)
{
	return FPaths::Combine(UserSettingsDir, QStringLiteral("Registry/HKEY_CURRENT_USER.ini"));
}

QString WorldInfoFilePath(const QString& ProjectContentDir, const QString& WorldIdentifier)
{
	return FPaths::ConvertRelativePathToFull(FPaths::Combine(
	    {ProjectContentDir, WorldIdentifier, QStringLiteral("Config"), QStringLiteral("WorldInfo.ini")}));
}

QList<const FConfigKey*> SettingsFileKeys()
{
	return {&Token,
	        &User,
	        &Password,
	        &ServiceBaseUrl,
	        &SandboxUrl,
	        &StorageEndpoint,
	        &StorageToken,
	        &AppPath,
	        &Logging,
	        &AwsS3::Settings::Endpoint,
	        &AwsS3::Settings::bUsePathStyle,
	        &AwsS3::Settings::MultipartThresholdBytes,
	        &AwsS3::Settings::MultipartPartSizeBytes,
	        &AwsS3::Settings::MaxPartsInFlight,
	        &MaxUploadBytes};
}

QList<const FConfigKey*> InstallerRecordKeys()
{
	return {&InstallLocation};
}

QList<const FConfigKey*> WorldInfoKeys()
{
	return {&WorldId, &Identifier, &Path};
}

} // namespace OrvaSDKSettings
