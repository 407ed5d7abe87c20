#pragma once

#include "SoftObjectPath.h"

#include <QList>
#include <QString>
#include <QStringList>

// The patch-export settings of the packaging tool: what a pak build takes in and where its output
// goes. Field names follow the tool's own settings format.

enum class ETargetPlatform : quint8
{
	None,
	WindowsClient,
	WindowsServer,
	WindowsEditor,
	Windows,
	LinuxServer,
	LinuxClient,
	Linux
};

// The platform's name ("WindowsClient"); empty for None.
QString TargetPlatformToString(ETargetPlatform Platform);
// Looks up "ETargetPlatform::" + Name; false when the enum has no such entry.
bool TargetPlatformFromString(const QString& Name, ETargetPlatform& OutPlatform);
// The enum's own lookup by qualified entry name: "ETargetPlatform::WindowsServer".
bool TargetPlatformFromEnumName(const QString& QualifiedName, ETargetPlatform& OutPlatform);

enum class EAssetRegistryDependencyTypeEx : quint8
{
	None = 0,
	Hard = 1,
	Soft = 2,
	Packages = 3,
};

struct FPatcherSpecifyAsset
{
	FSoftObjectPath Asset;
	bool bAnalysisAssetDependencies = true;
	QList<EAssetRegistryDependencyTypeEx> AssetRegistryDependencyTypes{EAssetRegistryDependencyTypeEx::Packages};
};

struct FReplaceText
{
	QString From;
	QString To;
	// Case-sensitive when true (the engine's ESearchCase::CaseSensitive).
	bool bCaseSensitive = true;
};

struct FExternDirectoryInfo
{
	QString DirectoryPath;
	QString MountPoint;
	bool bSpecifyMountPoint = false;
	QString WildcardFilter;
};

struct FExternFileInfo
{
	QString FilePath;
	QString MountPath;
};

struct FPlatformExternAssets
{
	ETargetPlatform TargetPlatform = ETargetPlatform::None;
	QList<FExternFileInfo> AddExternFileToPak;
	QList<FExternDirectoryInfo> AddExternDirectoryToPak;
};

class FExportPatchSettings
{
public:
	FExportPatchSettings() = default;
	virtual ~FExportPatchSettings() = default;
	FExportPatchSettings(const FExportPatchSettings&) = default;
	FExportPatchSettings& operator=(const FExportPatchSettings&) = default;

	virtual QList<FPatcherSpecifyAsset>& GetIncludeSpecifyAssets() { return IncludeSpecifyAssets; }
	virtual QList<FPlatformExternAssets>& GetAddExternAssetsToPlatform() { return AddExternAssetsToPlatform; }
	// Extra arguments handed to the build commandlet, as one string.
	virtual QString GetCombinedAdditionalCommandletArgs() const;
	// The absolute output folder: SavePath with its markers resolved ("[PROJECTDIR]",
	// "[PROJECT_SAVED_DIR]"), relative paths taken from the project folder; the project's saved
	// "HotPatcher" folder when SavePath is empty. No trailing "/".
	virtual QString GetSaveAbsPath() const;
	// GetSaveAbsPath() / VersionId.
	virtual QString GetCurrentVersionSavePath() const;

	// The project the settings belong to; resolves the save path. Not part of the settings file:
	// whoever reads one sets it from its own project.
	void SetProjectDir(const QString& InProjectDir) { ProjectDir = InProjectDir; }
	QString GetProjectDir() const { return ProjectDir; }

	QString VersionId;
	QList<ETargetPlatform> PakTargetPlatforms;
	bool bCustomPakNameRegular = false;
	QString PakNameRegular;
	QList<FReplaceText> ReplacePakListTexts;
	bool bByBaseVersion = false;
	QString BaseVersion;
	// Where the build output goes; see GetSaveAbsPath().
	QString SavePath = QStringLiteral("[PROJECT_SAVED_DIR]/HotPatcher");
	QStringList AdditionalCommandletArgs;
	// Compress the paks' entries with zlib in blocks, as the engine's packer does.
	bool bCompressPak = true;

	QList<FPatcherSpecifyAsset> IncludeSpecifyAssets;
	QList<FPlatformExternAssets> AddExternAssetsToPlatform;

private:
	QString ProjectDir;
};

// The tool's global settings pointer: the settings object its panel and commandlet work on.
// Null means no settings object exists.
extern FExportPatchSettings* GPatchSettings;
