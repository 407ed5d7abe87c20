#include "ConfigCache.h"
#include "OrvaSDKSettings.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{
QByteArray ReadAll(const QString& Path)
{
	QFile File(Path);
	return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

// A value of the key's form that the dialect must quote or wrap, so that the file text shows it
// was written the engine's way; whole numbers and flags away from their defaults.
QString SampleOf(const FConfigKey& Key)
{
	switch (Key.GetForm())
	{
	case EConfigForm::String:
		return Key.KeyName() + QStringLiteral(" a\"b//c");
	case EConfigForm::Text:
		return Key.KeyName() + QStringLiteral(" p\"w");
	case EConfigForm::Bool:
		return static_cast<const FConfigBoolSetting&>(Key).Default() ? QStringLiteral("False") : QStringLiteral("True");
	case EConfigForm::WholeNumber:
		return QString::number(static_cast<const FConfigWholeNumberSetting&>(Key).Default() + 1);
	}
	return QString();
}

void Write(FConfigCache& Config, const QString& File, const FConfigKey& Key)
{
	const QString Sample = SampleOf(Key);
	switch (Key.GetForm())
	{
	case EConfigForm::String:
		static_cast<const FConfigStringSetting&>(Key).Set(Config, File, Sample);
		break;
	case EConfigForm::Text:
		static_cast<const FConfigTextSetting&>(Key).Set(Config, File, Sample);
		break;
	case EConfigForm::Bool:
		static_cast<const FConfigBoolSetting&>(Key).Set(Config, File, Sample == QLatin1String("True"));
		break;
	case EConfigForm::WholeNumber:
		static_cast<const FConfigWholeNumberSetting&>(Key).Set(Config, File, Sample.toLongLong());
		break;
	}
}

QString ReadBack(FConfigCache& Config, const QString& File, const FConfigKey& Key)
{
	switch (Key.GetForm())
	{
	case EConfigForm::String:
		return static_cast<const FConfigStringSetting&>(Key).Get(Config, File);
	case EConfigForm::Text:
		return static_cast<const FConfigTextSetting&>(Key).Get(Config, File);
	case EConfigForm::Bool:
		return static_cast<const FConfigBoolSetting&>(Key).Get(Config, File) ? QStringLiteral("True")
		                                                                     : QStringLiteral("False");
	case EConfigForm::WholeNumber:
		return QString::number(static_cast<const FConfigWholeNumberSetting&>(Key).Get(Config, File));
	}
	return QString();
}

// Writes every key, flushes, and reads each back through a cache that loads the file afresh.
QByteArray RoundTrip(const QList<const FConfigKey*>& Keys, const QString& File)
{
	{
		FConfigCache Writer;
		for (const FConfigKey* Key : Keys)
		{
			Write(Writer, File, *Key);
		}
		EXPECT_TRUE(Writer.Flush(false, File));
	}
	FConfigCache Reader;
	for (const FConfigKey* Key : Keys)
	{
		EXPECT_EQ(ReadBack(Reader, File, *Key), SampleOf(*Key))
		    << Key->SectionName().toStdString() << " " << Key->KeyName().toStdString();
	}
	return ReadAll(File);
}
} // namespace

TEST(OrvaSDKSettings, EveryKeyOfTheSettingsFileRoundTripsInTheEnginesDialect)
{
	QTemporaryDir Dir;
	const QString File = OrvaSDKSettings::SettingsFilePath(Dir.path() + QLatin1Char('/'));
	EXPECT_EQ(File, Dir.path() + QStringLiteral("/BrackenfoldStudios/ORVA/OrvaSDK.ini"));

	// The names stored files carry, section by section, each key once.
	const QByteArray Expected = R"ini([LoginInfo]
Token="Token a\"b//c"
User=INVTEXT("User p\"w")
Password=INVTEXT("Password p\"w")

[Development]
ServiceBaseUrl="ServiceBaseUrl a\"b//c"
SandboxUrl="SandboxUrl a\"b//c"
StorageEndpoint="StorageEndpoint a\"b//c"
StorageToken="StorageToken a\"b//c"
AppPath="AppPath a\"b//c"
Logging=True

[AwsS3]
Endpoint="Endpoint a\"b//c"
bUsePathStyle=True
MultipartThresholdBytes=16777217
MultipartPartSizeBytes=8388609
MaxPartsInFlight=5
MaxUploadBytes=2147483649
)ini";
	EXPECT_EQ(RoundTrip(OrvaSDKSettings::SettingsFileKeys(), File).toStdString(), Expected.toStdString());

	QSet<QString> Seen;
	for (const FConfigKey* Key : OrvaSDKSettings::SettingsFileKeys())
	{
		const QString Name = (Key->SectionName() + QLatin1Char('/') + Key->KeyName()).toLower();
		EXPECT_FALSE(Seen.contains(Name)) << Name.toStdString();
		Seen.insert(Name);
	}
}

TEST(OrvaSDKSettings, TheWorkspaceRecordAndTheInstallerRecordRoundTrip)
{
	QTemporaryDir Dir;
	const QString Info =
	    OrvaSDKSettings::WorldInfoFilePath(Dir.path() + QStringLiteral("/Content/"), QStringLiteral("harbour"));
	EXPECT_EQ(Info, Dir.path() + QStringLiteral("/Content/harbour/Config/WorldInfo.ini"));
	EXPECT_EQ(RoundTrip(OrvaSDKSettings::WorldInfoKeys(), Info).toStdString(), std::string(R"ini([WorldInfo]
WorldId="WorldId a\"b//c"
Identifier="Identifier a\"b//c"
Path="Path a\"b//c"
)ini"));

	const QString Record = OrvaSDKSettings::InstallerRecordPath(Dir.path() + QLatin1Char('/'));
	EXPECT_EQ(Record, Dir.path() + QStringLiteral("/Registry/HKEY_CURRENT_USER.ini"));
	EXPECT_EQ(RoundTrip(OrvaSDKSettings::InstallerRecordKeys(), Record).toStdString(),
	          std::string(
	              R"ini([Software\Microsoft\Windows\CurrentVersion\Uninstall\{6A1D3C90-2F7B-4E55-8B14-0C9E7A2D4F61}_is1]
InstallLocation="InstallLocation a\"b//c"
)ini"));
}

TEST(OrvaSDKSettings, FilesWrittenByHandOrByTheEngineReadThroughTheDeclarations)
{
	QTemporaryDir Dir;
	const QString File = Dir.filePath(QStringLiteral("OrvaSDK.ini"));
	QFile Ini(File);
	ASSERT_TRUE(Ini.open(QIODevice::WriteOnly));
	Ini.write("; written by hand\r\n[logininfo]\r\nuser=NSLOCTEXT(\"Ns\", \"Key\", \"Ann\")\r\n"
	          "[Development]\r\nLogging=yes\r\nServiceBaseUrl=\r\n"
	          "[AwsS3]\r\nMaxUploadBytes= 42 \r\nMaxPartsInFlight=0\r\nMultipartPartSizeBytes=many\r\n");
	Ini.close();

	FConfigCache Config;
	EXPECT_EQ(OrvaSDKSettings::User.Get(Config, File), QStringLiteral("Ann"));
	EXPECT_TRUE(OrvaSDKSettings::Password.Get(Config, File).isEmpty());
	EXPECT_TRUE(OrvaSDKSettings::Logging.Get(Config, File));
	// Present but empty is not absent: the caller decides what an empty address means.
	QString Url = QStringLiteral("untouched");
	EXPECT_TRUE(OrvaSDKSettings::ServiceBaseUrl.Read(Config, File, Url));
	EXPECT_TRUE(Url.isEmpty());
	EXPECT_EQ(OrvaSDKSettings::AppPath.Get(Config, File), QString());
	EXPECT_EQ(OrvaSDKSettings::StorageEndpoint.Get(Config, File), QStringLiteral("http://127.0.0.1:7480"));

	EXPECT_EQ(OrvaSDKSettings::MaxUploadBytes.Get(Config, File), 42);
	qint64 Parts = -1;
	QString Stored;
	EXPECT_EQ(AwsS3::Settings::MaxPartsInFlight.Read(Config, File, Parts, &Stored), EConfigRead::Invalid);
	EXPECT_EQ(Parts, -1) << "an invalid value is not handed out";
	EXPECT_EQ(Stored, QStringLiteral("0"));
	EXPECT_EQ(AwsS3::Settings::MaxPartsInFlight.Get(Config, File), 4);
	EXPECT_EQ(AwsS3::Settings::MultipartPartSizeBytes.Get(Config, File), 8 * 1024 * 1024);
	EXPECT_EQ(AwsS3::Settings::MultipartThresholdBytes.Read(Config, File, Parts), EConfigRead::Absent);

	// Editing a key keeps the file's own spelling, line ends and comment.
	OrvaSDKSettings::User.Set(Config, File, QStringLiteral("Bo"));
	ASSERT_TRUE(Config.Flush(false, File));
	EXPECT_TRUE(ReadAll(File).startsWith("; written by hand\r\n[logininfo]\r\nuser=INVTEXT(\"Bo\")\r\n"));
}
