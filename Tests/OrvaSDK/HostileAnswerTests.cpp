// Answers a hostile or broken service may send: tokens that would break header lines, strings that
// are no valid UTF-8, identifiers that collide with each other or with the project's own folders.
#include "SdkFixture.h"

#include <QDir>
#include <QElapsedTimer>

namespace
{
const QByteArray InjectingToken = "FAKETOKEN\\r\\nX-Injected: yes\\r\\n\\r\\nGET /smuggled HTTP/1.1";
} // namespace

class HostileAnswerTest : public FSdkFixture
{
};

TEST_F(HostileAnswerTest, TokenThatIsNoPlainBearerTokenIsAFailedLogin)
{
	StartLoggedOutHost();
	const QList<QByteArray> Bad = {InjectingToken, "has blank",   "tab\\there",
	                               "caf\\u00e9",   "nul\\u0000x", QByteArray(4097, 'a')};
	for (const QByteArray& Token : Bad)
	{
		Server.Enqueue(200, R"({"access_token":")" + Token + R"("})");
		QSignalSpy LoginSpy(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKLogin);
		Sdk().Login(QStringLiteral("ann@example.org"), QStringLiteral("pw"));
		Settle();
		ASSERT_EQ(LoginSpy.size(), 1) << Token.left(40).constData();
		EXPECT_FALSE(LoginSpy[0][0].toBool());
		EXPECT_FALSE(Sdk().bIsLoggedin);
		EXPECT_TRUE(Sdk().GetAccessToken().isEmpty());
	}
	// Only the token requests went out: no profile request carried the token.
	EXPECT_EQ(Server.RequestCount(), Bad.size());
	EXPECT_EQ(Log.Count(QStringLiteral("Login: refused an access token that is not a plain bearer token")), Bad.size());

	// The longest plain token still logs in.
	Server.Enqueue(200, R"({"access_token":")" + QByteArray(4096, 'b') + R"("})");
	Server.Enqueue(200, R"({"display_name":"Ann"})");
	Sdk().Login(QStringLiteral("ann@example.org"), QStringLiteral("pw"));
	Settle();
	EXPECT_TRUE(Sdk().bIsLoggedin);
	ASSERT_EQ(Server.RequestCount(), Bad.size() + 2);
	EXPECT_EQ(Server.Requests().last().Header("Authorization"), "Bearer " + QByteArray(4096, 'b'));
}

TEST_F(HostileAnswerTest, SavedTokenThatIsNoPlainBearerTokenIsDroppedAtStart)
{
	StartLoggedOutHost();
	Sdk().AccessToken = QStringLiteral("Bearer FAKETOKEN\r\nX-Injected: yes\r\n\r\nGET /smuggled HTTP/1.1");
	Host->Shutdown();
	Host.reset();
	ASSERT_TRUE(Project.ReadFile(SettingsRelative()).contains("X-Injected"));

	StartHost();
	Settle(500);
	EXPECT_EQ(Server.RequestCount(), 0);
	EXPECT_TRUE(Sdk().GetAccessToken().isEmpty());
	EXPECT_TRUE(
	    Log.Contains(QStringLiteral("OrvaSDK Initialize: ignored the saved token: it is not a plain bearer token")));
	// Nor is it written back.
	Host->Shutdown();
	Host.reset();
	EXPECT_FALSE(Project.ReadFile(SettingsRelative()).contains("X-Injected"));
}

TEST_F(HostileAnswerTest, InvalidUtf8InOneStringKeepsTheRestOfTheLists)
{
	StartLoggedOutHost();
	// A raw byte that is no UTF-8, and a surrogate encoded as if it were a character.
	const QByteArray Title = R"({"name":"title)" + QByteArray("\xff\xfe") + R"(.png","id":"i1","url":"u"})";
	QSignalSpy ListSpy(&Sdk(), &UOrvaSDKSubsystem::OnWorldsListUpdated);
	Server.Enqueue(200, R"([{"identifier":"W1","id":"w1","name":"One","image":)" + Title +
	                        R"(},{"identifier":"W2","id":"w2","name":"Tw)" + QByteArray("\xed\xa0\x80") + R"(o"}])");
	Sdk().GetWorldsList();
	Settle();
	ASSERT_EQ(ListSpy.size(), 1);
	const QList<FOrvaWorldData> Worlds = Cache().GetWorlds();
	ASSERT_EQ(Worlds.size(), 3);
	EXPECT_EQ(Worlds[1].Identifier, QStringLiteral("W1"));
	ASSERT_TRUE(Worlds[1].TitleImage);
	EXPECT_EQ(Worlds[1].TitleImage->Name, QStringLiteral("title\uFFFD\uFFFD.png"));
	EXPECT_EQ(Worlds[2].Identifier, QStringLiteral("W2"));
	EXPECT_TRUE(Worlds[2].Name.startsWith(QStringLiteral("Tw\uFFFD")));
	EXPECT_TRUE(Log.Contains(
	    QStringLiteral("GetWorldsList: the answer holds invalid UTF-8; read it with replacement characters")));

	Sdk().ChangeWorkspaceWorld(Worlds[1]);
	QSignalSpy ShotSpy(&Sdk(), &UOrvaSDKSubsystem::OnScreenshotsUpdated);
	// ChangeWorkspaceWorld asked for the screenshots; answer them.
	Server.Enqueue(200, R"({"screen_shots":[)" + Title + R"(,{"name":"b.png","id":"i2"}]})");
	Settle();
	ASSERT_EQ(ShotSpy.size(), 1);
	const QList<FOrvaImageData> Images = Cache().GetImages();
	ASSERT_EQ(Images.size(), 3);
	EXPECT_EQ(Images[0].Id, QStringLiteral("i1"));
	EXPECT_EQ(Images[1].Name, QStringLiteral("b.png"));
}

TEST_F(HostileAnswerTest, IdentifiersEqualIgnoringCaseKeepTheFirstWorld)
{
	StartLoggedOutHost();
	LoadWorlds({WorldJson(QStringLiteral("abc"), QStringLiteral("id-1"), QStringLiteral("First")),
	            WorldJson(QStringLiteral("ABC"), QStringLiteral("id-2"), QStringLiteral("Second")),
	            WorldJson(QStringLiteral("other"), QStringLiteral("id-3"))});
	const QList<FOrvaWorldData> Worlds = Cache().GetWorlds();
	ASSERT_EQ(Worlds.size(), 3);
	EXPECT_EQ(Worlds[1].Id, QStringLiteral("id-1"));
	EXPECT_EQ(Worlds[2].Id, QStringLiteral("id-3"));
	EXPECT_EQ(Cache().FindWorkspace(QStringLiteral("ABC")).WorldId, QStringLiteral("id-1"));
	EXPECT_EQ(Log.Count(QStringLiteral("GetWorldsList: refused the world \"ABC\" (id \"id-2\"): its identifier "
	                                   "equals another world's ignoring case")),
	          1);

	// A later list in which only the other spelling remains does not take over the first's record.
	LoadWorlds({WorldJson(QStringLiteral("ABC"), QStringLiteral("id-2"))});
	EXPECT_EQ(Cache().GetWorlds().size(), 1);
	EXPECT_EQ(Cache().FindWorkspace(QStringLiteral("abc")).WorldId, QStringLiteral("id-1"));
}

TEST_F(HostileAnswerTest, NewWorldDoesNotAdoptAFolderThatIsNoWorkspace)
{
	ASSERT_TRUE(Project.WriteFile(QStringLiteral("TestProject/Content/Maps/Entry.umap"), "{}"));
	ASSERT_TRUE(Project.WriteFile(QStringLiteral("TestProject/Content/Taken/Config/WorldInfo.ini"), ""));
	ASSERT_TRUE(QDir().mkpath(Project.ContentDir() + QStringLiteral("Taken/ExtendFiles")));
	StartLoggedOutHost();
	QSignalSpy NewSpy(&Sdk(), &UOrvaSDKSubsystem::OnNewWorkspace);
	// "Maps" is the project's own; "taken" differs only in case from another world's workspace.
	for (const QByteArray Identifier : {"Maps", "maps", "taken"})
	{
		Server.Enqueue(200, R"({"identifier":")" + Identifier + R"("})");
		Server.Enqueue(200, "[]");
		Sdk().NewWorld();
		Settle();
		EXPECT_TRUE(Log.Contains(QStringLiteral("NewWorld: refused the identifier \"%1\": the content folder of that "
		                                        "name is no workspace of this world")
		                             .arg(QString::fromUtf8(Identifier))));
	}
	EXPECT_EQ(NewSpy.size(), 0);
	EXPECT_FALSE(Project.Exists(QStringLiteral("TestProject/Content/Maps/Config")));
	EXPECT_FALSE(Project.Exists(QStringLiteral("TestProject/Content/Maps/ExtendFiles")));
	EXPECT_FALSE(Project.Exists(QStringLiteral("TestProject/Content/maps")));
	EXPECT_TRUE(Sdk().GetKeyFolderName().isEmpty());

	// The world's own workspace, spelled as it is, is taken up again.
	Server.Enqueue(200, R"({"identifier":"Taken"})");
	Server.Enqueue(200, "[]");
	Sdk().NewWorld();
	Settle();
	EXPECT_EQ(NewSpy.size(), 1);
	EXPECT_EQ(Sdk().GetKeyFolderName(), QStringLiteral("Taken"));
}

TEST_F(HostileAnswerTest, ServiceRequestsHaveAnOverallDeadlineAndABoundedAnswer)
{
	StartLoggedOutHost();
	EXPECT_EQ(FOrvaSDKSubsystemTestAccess::ServiceDeadline(Sdk()), 60.0);
	EXPECT_EQ(FOrvaSDKSubsystemTestAccess::ServiceAnswerLimit(Sdk()), 32 * 1024 * 1024);

	// A service that sends one byte at a time never falls silent, yet the request ends.
	FOrvaSDKSubsystemTestAccess::SetServiceBounds(Sdk(), 1.0, 1000);
	FLoopbackHttpServer::FAnswer Trickle{200, "[" + WorldJson(QStringLiteral("W1"), QStringLiteral("w1")) + "]"};
	Trickle.TrickleMs = 100;
	Server.Enqueue(Trickle);
	QElapsedTimer Clock;
	Clock.start();
	Sdk().GetWorldsList();
	Settle(8000);
	EXPECT_LT(Clock.elapsed(), 4000);
	EXPECT_EQ(Log.Count(QStringLiteral("Error for GetWorldsList: Response Is Not Valid")), 1);
	EXPECT_EQ(Cache().GetWorlds().size(), 1);

	// An answer over the bound is no answer; one within it is read.
	Server.Enqueue(200, R"({"screen_shots":[{"name":")" + QByteArray(1000, 'x') + R"("}]})");
	Server.Enqueue(200, R"({"screen_shots":[{"name":"a.png","id":"1"}]})");
	Sdk().CurrWorkspace.WorldId = QStringLiteral("w1");
	Sdk().GetScreenshots();
	Settle();
	EXPECT_EQ(Log.Count(QStringLiteral("Error for GetScreenshots: Response Is Not Valid")), 1);
	Sdk().GetScreenshots();
	Settle();
	ASSERT_EQ(Cache().GetImages().size(), 2);
	EXPECT_EQ(Cache().GetImages()[0].Name, QStringLiteral("a.png"));
}
