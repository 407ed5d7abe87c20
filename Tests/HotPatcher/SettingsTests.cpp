// The settings record: its JSON form reads back whole, bad files are refused with the key named,
// and the output folders resolve against the project.

#include "ExportPatchSettings.h"
#include "FlibHotPatcherCoreHelper.h"
#include "SerializeStructJson.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace
{
FExportPatchSettings FilledSettings()
{
	FExportPatchSettings Settings;
	Settings.VersionId = QStringLiteral("Entry");
	Settings.PakTargetPlatforms = {ETargetPlatform::WindowsServer, ETargetPlatform::WindowsClient};
	Settings.bCustomPakNameRegular = true;
	Settings.PakNameRegular = QStringLiteral("{VERSION}_{PLATFORM}");
	FPatcherSpecifyAsset Asset;
	Asset.Asset = FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Entry.Entry"));
	Asset.AssetRegistryDependencyTypes = {EAssetRegistryDependencyTypeEx::Packages};
	Settings.GetIncludeSpecifyAssets().append(Asset);
	Settings.ReplacePakListTexts.append({QStringLiteral("../../../Demo"), QStringLiteral("../../../ORVAClient"), true});
	Settings.ReplacePakListTexts.append({QStringLiteral("a\"b\\c"), QStringLiteral("\u00e4\n"), false});
	FPlatformExternAssets Extern;
	Extern.TargetPlatform = ETargetPlatform::WindowsClient;
	Extern.AddExternFileToPak.append({QStringLiteral("/p/f.txt"), QStringLiteral("../../../ORVAClient/f.txt")});
	Extern.AddExternDirectoryToPak.append(
	    {QStringLiteral("/p/Content/W1/ExtendFiles"), QStringLiteral("../../../ORVAClient"), false, QString()});
	Settings.GetAddExternAssetsToPlatform().append(Extern);
	Settings.bByBaseVersion = true;
	Settings.BaseVersion = QStringLiteral("../../../ORVAClient/Versions/version.json");
	Settings.AdditionalCommandletArgs = {QStringLiteral("-NoShaderCompile"), QStringLiteral("-a=\"b c\"")};
	return Settings;
}
} // namespace

TEST(PatchSettings, JsonFormReadsBackWhole)
{
	const FExportPatchSettings Settings = FilledSettings();
	QString Json;
	ASSERT_TRUE(TSerializeStructAsJsonString(Settings, Json));
	EXPECT_FALSE(Json.contains(QLatin1Char('\n')));
	const QJsonObject Object = QJsonDocument::fromJson(Json.toUtf8()).object();
	EXPECT_EQ(Object.value(QStringLiteral("PakNameRegular")).toString(), QStringLiteral("{VERSION}_{PLATFORM}"));

	FExportPatchSettings Read;
	QString Error;
	ASSERT_TRUE(TDeserializeJsonStringAsStruct(Json, Read, &Error)) << Error.toStdString();
	QString Again;
	TSerializeStructAsJsonString(Read, Again);
	EXPECT_EQ(Again, Json);
	EXPECT_EQ(Read.PakTargetPlatforms, Settings.PakTargetPlatforms);
	EXPECT_EQ(Read.IncludeSpecifyAssets[0].Asset.ToString(), QStringLiteral("/Game/W1/Maps/Entry.Entry"));
	EXPECT_FALSE(Read.ReplacePakListTexts[1].bCaseSensitive);
	EXPECT_EQ(Read.ReplacePakListTexts[1].To, QStringLiteral("\u00e4\n"));
	EXPECT_EQ(Read.AddExternAssetsToPlatform[0].AddExternDirectoryToPak[0].DirectoryPath,
	          QStringLiteral("/p/Content/W1/ExtendFiles"));
	EXPECT_EQ(Read.GetCombinedAdditionalCommandletArgs(), QStringLiteral("-NoShaderCompile -a=\"b c\""));

	// Compression is on unless the file turns it off.
	EXPECT_TRUE(Read.bCompressPak);
	EXPECT_TRUE(Object.value(QStringLiteral("bCompressPak")).toBool());
	FExportPatchSettings Off;
	ASSERT_TRUE(TDeserializeJsonStringAsStruct(QStringLiteral("{\"bCompressPak\":false}"), Off, &Error));
	EXPECT_FALSE(Off.bCompressPak);
	FExportPatchSettings Unsaid;
	ASSERT_TRUE(TDeserializeJsonStringAsStruct(QStringLiteral("{\"VersionId\":\"Entry\"}"), Unsaid, &Error));
	EXPECT_TRUE(Unsaid.bCompressPak);
}

TEST(PatchSettings, BadFilesAreRefusedNamingTheKey)
{
	struct FCase
	{
		const char* Json;
		const char* Named;
	};
	const FCase Cases[] = {
	    {"", "not JSON"},
	    {"[1]", "not a JSON object"},
	    {"{\"VersionId\":3}", "VersionId"},
	    {"{\"PakTargetPlatforms\":[\"PlayStation\"]}", "PakTargetPlatforms[0]"},
	    {"{\"IncludeSpecifyAssets\":[{\"AssetRegistryDependencyTypes\":[\"Weak\"]}]}",
	     "IncludeSpecifyAssets[0].AssetRegistryDependencyTypes[0]"},
	    {"{\"ReplacePakListTexts\":[{\"SearchCase\":\"Maybe\"}]}", "ReplacePakListTexts[0].SearchCase"},
	    {"{\"AddExternAssetsToPlatform\":[{\"TargetPlatform\":\"WindowsClient\",\"AddExternDirectoryToPak\":[7]}]}",
	     "AddExternAssetsToPlatform[0].AddExternDirectoryToPak[0]"},
	    {"{\"bByBaseVersion\":\"yes\"}", "bByBaseVersion"},
	    {"{\"bCompressPak\":1}", "bCompressPak"},
	};
	for (const FCase& Case : Cases)
	{
		FExportPatchSettings Settings = FilledSettings();
		QString Error;
		EXPECT_FALSE(TDeserializeJsonStringAsStruct(QString::fromUtf8(Case.Json), Settings, &Error)) << Case.Json;
		EXPECT_TRUE(Error.contains(QString::fromUtf8(Case.Named))) << Case.Json << " -> " << Error.toStdString();
		// A refused file changes nothing.
		EXPECT_EQ(Settings.VersionId, QStringLiteral("Entry"));
	}
}

TEST(PatchSettings, PlatformsAndOutputFolders)
{
	ETargetPlatform Platform = ETargetPlatform::None;
	EXPECT_TRUE(TargetPlatformFromString(QStringLiteral("WindowsServer"), Platform));
	EXPECT_EQ(Platform, ETargetPlatform::WindowsServer);
	EXPECT_FALSE(TargetPlatformFromString(QStringLiteral("windowsserver"), Platform));
	EXPECT_FALSE(TargetPlatformFromString(QStringLiteral("None"), Platform));
	EXPECT_EQ(
	    UFlibHotPatcherCoreHelper::GetPlatformsStr({ETargetPlatform::WindowsServer, ETargetPlatform::WindowsClient}),
	    QStringLiteral("WindowsServer,WindowsClient"));

	FExportPatchSettings Settings;
	Settings.SetProjectDir(QStringLiteral("/work/Demo/"));
	Settings.VersionId = QStringLiteral("Entry");
	EXPECT_EQ(Settings.GetSaveAbsPath(), QStringLiteral("/work/Demo/Saved/HotPatcher"));
	EXPECT_EQ(Settings.GetCurrentVersionSavePath(), QStringLiteral("/work/Demo/Saved/HotPatcher/Entry"));
	Settings.SavePath = QStringLiteral("[PROJECTDIR]/Out/");
	EXPECT_EQ(Settings.GetSaveAbsPath(), QStringLiteral("/work/Demo/Out"));
	Settings.SavePath = QStringLiteral("Build\\Paks");
	EXPECT_EQ(Settings.GetSaveAbsPath(), QStringLiteral("/work/Demo/Build/Paks"));
	// A copy keeps its project.
	FExportPatchSettings Copy;
	Copy = Settings;
	EXPECT_EQ(Copy.GetSaveAbsPath(), QStringLiteral("/work/Demo/Build/Paks"));
}
