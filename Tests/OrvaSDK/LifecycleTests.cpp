#include "SdkFixture.h"

#include "ExportPatchSettings.h"

#include <QFile>
#include <QFileInfo>

class LifecycleTest : public FSdkFixture
{
};

TEST_F(LifecycleTest, StartWithoutSettingsFile)
{
	StartHost();
	Settle();
	EXPECT_TRUE(Sdk().GetAccessToken().isEmpty());
	EXPECT_FALSE(Sdk().IsLoggedin());
	EXPECT_EQ(Server.RequestCount(), 0);
	EXPECT_EQ(Sdk().GetTargetPlatforms(),
	          (QStringList{QStringLiteral("WindowsServer"), QStringLiteral("WindowsClient")}));
	EXPECT_EQ(Sdk().GetServiceBaseUrl(), QStringLiteral("https://api.orva.example/api/v1/"));
	EXPECT_TRUE(Sdk().GetKeyFolderName().isEmpty());
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Warning).contains(QStringLiteral("OrvaSDK Initialize")));
	ASSERT_NE(GPatchSettings, nullptr);
	EXPECT_EQ(GPatchSettings, Sdk().GetPatchSettings().get());
	EXPECT_TRUE(
	    Sdk().GetSettingsFilePath().startsWith(Project.UserSettingsDir() + QStringLiteral("BrackenfoldStudios/ORVA/")));
}

TEST_F(LifecycleTest, SavedTokenSendsExactlyOneProfileRequest)
{
	WriteSettings("[LoginInfo]\nToken=Bearer saved-token\n");
	Server.Enqueue(200, R"({"display_name":"Ann","email":"a@b","is_creator":true})");
	StartHost();
	Settle();
	ASSERT_EQ(Server.RequestCount(), 1);
	EXPECT_EQ(Server.Requests()[0].Target, "/api/v1/me");
	EXPECT_EQ(Server.Requests()[0].Header("Authorization"), "Bearer saved-token");
	EXPECT_TRUE(Sdk().IsLoggedin());
}

TEST_F(LifecycleTest, LogoutThenShutdownWritesEmptyTokenOwnerOnly)
{
	WriteSettings("[LoginInfo]\nToken=Bearer saved-token\nUser=INVTEXT(\"ann\")\n");
	Server.Enqueue(200, R"({"display_name":"Ann"})");
	StartHost();
	Settle();
	QSignalSpy StateSpy(&Sdk(), &UOrvaSDKSubsystem::OnLoginStateChanged);
	Sdk().Logout();
	EXPECT_FALSE(Sdk().IsLoggedin());
	ASSERT_EQ(StateSpy.count(), 1);
	EXPECT_FALSE(StateSpy[0][0].toBool());
	EXPECT_TRUE(Sdk().GetAccessToken().isEmpty());
	EXPECT_EQ(Server.RequestCount(), 1) << "logout sends nothing";
	Host->Shutdown();

	FConfigCache Reader;
	QString Token = QStringLiteral("unchanged");
	EXPECT_TRUE(Reader.GetString(QStringLiteral("LoginInfo"), QStringLiteral("Token"), Token, SettingsFile()));
	EXPECT_TRUE(Token.isEmpty());
	QString User;
	EXPECT_TRUE(Reader.GetText(QStringLiteral("LoginInfo"), QStringLiteral("User"), User, SettingsFile()));
	EXPECT_EQ(User, QStringLiteral("ann"));
	EXPECT_EQ(QFileInfo(SettingsFile()).permissions() &
	              (QFileDevice::ReadGroup | QFileDevice::ReadOther | QFileDevice::WriteGroup | QFileDevice::WriteOther),
	          QFileDevice::Permissions());
}

TEST_F(LifecycleTest, TokenFromLoginSurvivesRestart)
{
	StartLoggedOutHost();
	Server.Enqueue(200, R"({"access_token":"fresh"})");
	Server.Enqueue(200, R"({"display_name":"Ann"})");
	Sdk().Login(QStringLiteral("a@b"), QStringLiteral("pw"));
	Settle();
	Host->Shutdown();
	Host.reset();

	Server.Enqueue(200, R"({"display_name":"Ann"})");
	StartHost();
	Settle();
	EXPECT_EQ(Sdk().GetAccessToken(), QStringLiteral("Bearer fresh"));
	EXPECT_TRUE(Sdk().IsLoggedin());
	EXPECT_EQ(Server.Requests().last().Header("Authorization"), "Bearer fresh");
}

TEST_F(LifecycleTest, ServiceAddressOverride)
{
	for (const char* Bad : {"ftp://127.0.0.1/api/v1/", "http://127.0.0.1/api/v2/", "/api/v1/", "http:///api/v1/",
	                        "http://127.0.0.1/api/v1"})
	{
		WriteSettings(QByteArray("[Development]\nServiceBaseUrl=") + Bad + "\n", false);
		FLogCapture Errors;
		StartHost();
		EXPECT_EQ(Sdk().GetServiceBaseUrl(), UOrvaSDKSubsystem::DefaultServiceBaseUrl()) << Bad;
		EXPECT_EQ(Errors.Messages(ELogVerbosity::Error).size(), 1) << Bad;
		Host->Shutdown();
		Host.reset();
	}
	WriteSettings();
	StartHost();
	EXPECT_EQ(Sdk().GetServiceBaseUrl(), Server.Url(QStringLiteral("/api/v1/")));
}

TEST_F(LifecycleTest, ShutdownSendsWorldDetailsOnlyForARealWorld)
{
	StartLoggedOutHost();
	// No world selected: nothing may go to "worlds/".
	Host->Shutdown();
	EXPECT_EQ(Server.RequestCount(), 0);
	Host.reset();

	// Logged out: the service could only refuse the details, so none are sent.
	StartLoggedOutHost();
	Sdk().CurrWorkspace.WorldId = QStringLiteral("w-1");
	Host->Shutdown();
	EXPECT_EQ(Server.RequestCount(), 0);
	Host.reset();

	WriteSettings("[LoginInfo]\nToken=Bearer saved\n");
	Server.Enqueue(200, R"({"display_name":"Ann"})");
	StartHost();
	Settle();
	Sdk().CurrWorkspace.WorldId = QStringLiteral("w-1");
	Sdk().CurrWorkspace.TitleName = QStringLiteral("Harbour");
	Sdk().CurrWorkspace.Description = QStringLiteral("Docks & \"boats\"");
	Server.Enqueue(200, "{}");
	// Shutdown lets the request leave before it returns.
	Host->Shutdown();
	ASSERT_EQ(Server.RequestCount(), 2);
	EXPECT_EQ(Server.Requests()[1].Verb, "PATCH");
	EXPECT_EQ(Server.Requests()[1].Target, "/api/v1/worlds/w-1");
	EXPECT_EQ(Server.Requests()[1].Header("Authorization"), "Bearer saved");
	EXPECT_EQ(Server.Requests()[1].Body, R"({"name":"Harbour","description":"Docks & \"boats\""})");
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Warning).contains(QStringLiteral("OrvaSDK Deinitialize")));
}

TEST_F(LifecycleTest, NoConfigCacheKeepsNothing)
{
	WriteSettings("[LoginInfo]\nToken=Bearer saved-token\n");
	StartHost(true, true, false);
	Settle();
	EXPECT_TRUE(Sdk().GetAccessToken().isEmpty());
	EXPECT_EQ(Server.RequestCount(), 0);
}

TEST_F(LifecycleTest, OnlyBuildServerSwitch)
{
	StartHost();
	Sdk().SetOnlyBuildServer(true);
	EXPECT_TRUE(Sdk().OnlyBuildServer());
	EXPECT_EQ(Sdk().GetTargetPlatforms(), QStringList{QStringLiteral("WindowsServer")});
	Sdk().SetOnlyBuildServer(false);
	EXPECT_FALSE(Sdk().OnlyBuildServer());
	EXPECT_EQ(Sdk().GetTargetPlatforms(),
	          (QStringList{QStringLiteral("WindowsServer"), QStringLiteral("WindowsClient")}));
}

TEST_F(LifecycleTest, ProgressBookkeeping)
{
	StartLoggedOutHost();
	LoadWorlds(
	    {WorldJson(QStringLiteral("w1"), QStringLiteral("1")), WorldJson(QStringLiteral("w2"), QStringLiteral("2"))});
	Sdk().CurrWorkspace = *Cache().GetWorkspace(QStringLiteral("w1"));
	Sdk().IdentInProgress = QStringLiteral("W2");
	FOrvaSDKSubsystemTestAccess::UpdateProgress(Sdk(), EOrvaSDKProgress::AssetPaking);
	EXPECT_EQ(Sdk().CurrWorkspace.Progress, EOrvaSDKProgress::AssetPaking);
	EXPECT_EQ(Cache().GetWorkspace(QStringLiteral("w2"))->Progress, EOrvaSDKProgress::AssetPaking);
	EXPECT_EQ(Cache().GetWorkspace(QStringLiteral("w1"))->Progress, EOrvaSDKProgress::None);
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::None);

	// A current workspace with no cached record answers None whatever it holds itself.
	Sdk().CurrWorkspace.WorldIdentifier = QStringLiteral("unknown");
	Sdk().CurrWorkspace.Progress = EOrvaSDKProgress::PakUploading;
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::None);
}

TEST_F(LifecycleTest, HostLooksSubsystemsUpAndWithoutACacheProgressStaysOnTheWorkspace)
{
	StartHost(true, false);
	EXPECT_NE(Host->GetEditorSubsystem<UOrvaSDKSubsystem>(), nullptr);
	EXPECT_EQ(Host->GetEditorSubsystem<UOrvaDataCacheSubsystem>(), nullptr);
	EXPECT_EQ(Host->FindSubsystem(QStringLiteral("UOrvaSDKSubsystem")), Host->GetEditorSubsystem<UOrvaSDKSubsystem>());
	// Without a data cache the progress is only recorded on the current workspace.
	FOrvaSDKSubsystemTestAccess::UpdateProgress(Sdk(), EOrvaSDKProgress::FolderMoving);
	EXPECT_EQ(Sdk().CurrWorkspace.Progress, EOrvaSDKProgress::FolderMoving);
	EXPECT_EQ(Sdk().GetCurrProgress(), EOrvaSDKProgress::None);
}
