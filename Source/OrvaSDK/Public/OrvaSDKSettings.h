#pragma once

#include "AwsS3Settings.h"
#include "ConfigSetting.h"

#include <QList>
#include <QString>

// The plugin's settings files, each section and key declared once, as stored files spell them.
// Everything that reads or writes them (the subsystems, the login box, the uploaders, the player
// client) goes through these declarations.
namespace OrvaSDKSettings
{

// "OrvaSDK.ini": the plugin's settings, in the per-user folder "BrackenfoldStudios/ORVA" of the user
// settings directory. It holds the access token, so it is written for its owner only.

// The per-user folder (UserSettingsDir ends with "/").
QString SettingsFolder(const QString& UserSettingsDir);
// The file's absolute path.
QString SettingsFilePath(const QString& UserSettingsDir);

inline constexpr FConfigSection LoginInfo{"LoginInfo"};
// The whole access token, "Bearer " included; empty when there is none.
inline constexpr FConfigStringSetting Token{LoginInfo, "Token"};
// The login box's account and password fields, stored as texts.
inline constexpr FConfigTextSetting User{LoginInfo, "User"};
inline constexpr FConfigTextSetting Password{LoginInfo, "Password"};

inline constexpr FConfigSection Development{"Development"};
// The web service's address, ending with "/api/v1/"; the default is the platform's.
inline constexpr FConfigStringSetting ServiceBaseUrl{Development, "ServiceBaseUrl", "https://api.orva.example/api/v1/"};
// The web sandbox the world view's menu opens; none disables the entry.
inline constexpr FConfigStringSetting SandboxUrl{Development, "SandboxUrl"};
// The storage endpoint of the pak-upload subsystem and the token it sends there.
inline constexpr FConfigStringSetting StorageEndpoint{Development, "StorageEndpoint", "http://127.0.0.1:7480"};
inline constexpr FConfigStringSetting StorageToken{Development, "StorageToken",
                                                   "6f72766164657673746f72616765746f6b656e2d6c6f63616c2d6f6e6c792d31"};
// The player client's executable, and whether it is started with its console log.
inline constexpr FConfigStringSetting AppPath{Development, "AppPath"};
inline constexpr FConfigBoolSetting Logging{Development, "Logging", false};

// Section "AwsS3" is the storage client's (AwsS3::Settings); the plugin adds its own limit there:
// the platform's 2 GiB rule for one pak, which the settings may raise.
inline constexpr FConfigWholeNumberSetting MaxUploadBytes{AwsS3::Settings::Section, "MaxUploadBytes",
                                                          qint64(2147483648), 1};

// The installer's record of the player client: on Windows a registry key of the current user; here
// one INI file per hive in the user settings folder, one section per key, the key's values as its
// entries (docs/ClientLaunch.md).
QString InstallerRecordPath(const QString& UserSettingsDir);
inline constexpr FConfigSection InstallerRecord{
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{6A1D3C90-2F7B-4E55-8B14-0C9E7A2D4F61}_is1"};
inline constexpr FConfigStringSetting InstallLocation{InstallerRecord, "InstallLocation"};

// "WorldInfo.ini": a workspace's record, in the sub-folder "Config" of the world's folder.
QString WorldInfoFilePath(const QString& ProjectContentDir, const QString& WorldIdentifier);
inline constexpr FConfigSection WorldInfo{"WorldInfo"};
inline constexpr FConfigStringSetting WorldId{WorldInfo, "WorldId"};
inline constexpr FConfigStringSetting Identifier{WorldInfo, "Identifier"};
// The entry level's soft object path; empty when none is set.
inline constexpr FConfigStringSetting Path{WorldInfo, "Path"};

// Every key of each file, for what walks them all (the settings' tests).
QList<const FConfigKey*> SettingsFileKeys();
QList<const FConfigKey*> InstallerRecordKeys();
QList<const FConfigKey*> WorldInfoKeys();

} // namespace OrvaSDKSettings
