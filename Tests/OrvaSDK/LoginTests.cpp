#include "SdkFixture.h"

#include <QFile>

namespace
{
using FHeaders = QList<QPair<QByteArray, QByteArray>>;

// Our headers, in order, ignoring the transport's own (Host, Content-Length, Connection, ...).
FHeaders PluginHeaders(const FLoopbackHttpServer::FRecordedRequest& Request)
{
	static const QList<QByteArray> Ours = {"Content-Type", "accept", "Authorization"};
	FHeaders Out;
	for (const auto& Header : Request.Headers)
	{
		if (Ours.contains(Header.first))
		{
			Out.append(Header);
		}
	}
	return Out;
}
} // namespace

class LoginTest : public FSdkFixture
{
};

TEST_F(LoginTest, TokenRequestIsExactOnTheWire)
{
	StartLoggedOutHost();
	Server.Enqueue(401, "{}");
	Sdk().Login(QStringLiteral("ann@example.org"), QStringLiteral("p\"w\\d"));
	Settle();

	ASSERT_EQ(Server.RequestCount(), 1);
	const auto& Request = Server.Requests()[0];
	EXPECT_EQ(Request.Verb, "POST");
	EXPECT_EQ(Request.Target, "/api/v1/auth/token?role=creator");
	EXPECT_EQ(PluginHeaders(Request),
	          (FHeaders{{"Content-Type", "application/json; charset=utf-8"}, {"accept", "application/json"}}));
	EXPECT_EQ(Request.Body,
	          R"({"email":"ann@example.org","grant_type":"password","guest_token":"string","password":"p\"w\\d"})");
	EXPECT_EQ(Sdk().GetUserEmailOrPhone(), QStringLiteral("ann@example.org"));
}

TEST_F(LoginTest, AccountKeyAndEmptyPassword)
{
	StartLoggedOutHost();
	Server.Enqueue(401, "{}");
	Server.Enqueue(401, "{}");
	Sdk().Login(QStringLiteral("5550123"), QString());
	Sdk().Login(QStringLiteral("x@"), QStringLiteral("pw"));
	Settle();
	ASSERT_EQ(Server.RequestCount(), 2);
	QList<QByteArray> Bodies{Server.Requests()[0].Body, Server.Requests()[1].Body};
	EXPECT_TRUE(Bodies.contains(R"({"phone":"5550123","grant_type":"password","guest_token":"string","password":""})"));
	EXPECT_TRUE(Bodies.contains(R"({"email":"x@","grant_type":"password","guest_token":"string","password":"pw"})"));
}

TEST_F(LoginTest, TokenAnswerStoresBearerAndRequestsProfileWithIt)
{
	StartLoggedOutHost();
	// An error status with a token in the body still counts as a login.
	Server.Enqueue(400, R"({"access_token":"tok-123456"})");
	Server.Enqueue(200, R"({"display_name":"Ann","email":"ann@example.org","is_creator":true})");
	QSignalSpy LoginSpy(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKLogin);
	QSignalSpy StateSpy(&Sdk(), &UOrvaSDKSubsystem::OnLoginStateChanged);
	QList<QString> Order;
	QObject::connect(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKLogin, &Sdk(),
	                 [&](bool) { Order.append(QStringLiteral("login")); });
	QObject::connect(&Sdk(), &UOrvaSDKSubsystem::OnLoginStateChanged, &Sdk(),
	                 [&](bool) { Order.append(QStringLiteral("state")); });

	Sdk().Login(QStringLiteral("ann@example.org"), QStringLiteral("pw"));
	Settle();

	EXPECT_EQ(Sdk().GetAccessToken(), QStringLiteral("Bearer tok-123456"));
	ASSERT_EQ(Server.RequestCount(), 2);
	const auto& Profile = Server.Requests()[1];
	EXPECT_EQ(Profile.Verb, "GET");
	EXPECT_EQ(Profile.Target, "/api/v1/me");
	EXPECT_TRUE(Profile.Body.isEmpty());
	EXPECT_EQ(PluginHeaders(Profile), (FHeaders{{"Content-Type", "application/json; charset=utf-8"},
	                                            {"accept", "application/json"},
	                                            {"Authorization", "Bearer tok-123456"}}));
	EXPECT_TRUE(Sdk().IsLoggedin());
	EXPECT_EQ(Sdk().GetUserInfoRecord().DisplayName, QStringLiteral("Ann"));
	EXPECT_TRUE(Sdk().GetUserInfoRecord().bIsCreator);
	ASSERT_EQ(LoginSpy.count(), 1);
	EXPECT_TRUE(LoginSpy[0][0].toBool());
	ASSERT_EQ(StateSpy.count(), 1);
	EXPECT_TRUE(StateSpy[0][0].toBool());
	EXPECT_EQ(Order, (QList<QString>{QStringLiteral("login"), QStringLiteral("state")}));
}

TEST_F(LoginTest, TokenNeverReachesTheLog)
{
	StartLoggedOutHost();
	Server.Enqueue(200, R"({"access_token":"secret-token-abcd"})");
	Server.Enqueue(200, R"({"display_name":"Ann"})");
	Sdk().Login(QStringLiteral("ann@example.org"), QStringLiteral("pw"));
	Settle();
	EXPECT_TRUE(Log.Contains(QStringLiteral("Token is ****abcd")));
	for (const QString& Line : Log.Messages())
	{
		EXPECT_FALSE(Line.contains(QStringLiteral("secret-token"))) << qPrintable(Line);
	}
	QFile LogFile(Project.SavedDir() + QStringLiteral("Logs/TestProject.log"));
	ASSERT_TRUE(LogFile.open(QIODevice::ReadOnly));
	const QByteArray Written = LogFile.readAll();
	EXPECT_TRUE(Written.contains("Token is ****abcd"));
	EXPECT_FALSE(Written.contains("secret-token"));
}

TEST_F(LoginTest, FailedTokenAnswersReportFalseAndKeepState)
{
	StartLoggedOutHost();
	QSignalSpy LoginSpy(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKLogin);
	QSignalSpy StateSpy(&Sdk(), &UOrvaSDKSubsystem::OnLoginStateChanged);

	// No answer at all.
	FLoopbackHttpServer::FAnswer Drop;
	Drop.bDrop = true;
	Server.Enqueue(Drop);
	Sdk().Login(QStringLiteral("a@b"), QStringLiteral("pw"));
	Settle();
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).contains(QStringLiteral("Error for Login: Response Is Not Valid")));
	// The form tells this apart from a refused password: the service could not be reached, and where.
	EXPECT_EQ(Sdk().GetLastLoginError(), QStringLiteral("cannot reach the service at ") + Server.Url());

	// A body that does not parse.
	Server.Enqueue(500, "<html>oops</html>");
	Sdk().Login(QStringLiteral("a@b"), QStringLiteral("pw"));
	Settle();
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).contains(QStringLiteral("JsonReader Error: Login Failed")));
	EXPECT_EQ(Sdk().GetLastLoginError(), QStringLiteral("the service answered 500"));

	// A body without a token.
	Server.Enqueue(401, R"({"detail":"bad password"})");
	Sdk().Login(QStringLiteral("a@b"), QStringLiteral("pw"));
	Settle();
	EXPECT_EQ(Sdk().GetLastLoginError(), QStringLiteral("the service answered 401: bad password"));

	EXPECT_EQ(Log.Count(QStringLiteral("JsonReader Error: Login Failed")), 2);
	ASSERT_EQ(LoginSpy.count(), 3);
	ASSERT_EQ(StateSpy.count(), 3);
	for (int Index = 0; Index < 3; ++Index)
	{
		EXPECT_FALSE(LoginSpy[Index][0].toBool());
		EXPECT_FALSE(StateSpy[Index][0].toBool());
	}
	EXPECT_FALSE(Sdk().IsLoggedin());
	EXPECT_TRUE(Sdk().GetAccessToken().isEmpty());
	EXPECT_EQ(Server.RequestCount(), 3) << "no profile request after a failed login";
}

TEST_F(LoginTest, ProfileAnswers)
{
	WriteSettings("[LoginInfo]\nToken=Bearer saved\n");
	Server.Enqueue(200, R"({"display_name":"Ann","email":"ann@example.org","is_creator":true})");
	StartHost();
	Settle();
	ASSERT_TRUE(Sdk().IsLoggedin());

	// Only "display_name": the e-mail stays, the creator flag falls to false.
	Server.Enqueue(200, R"({"display_name":"Annie"})");
	Sdk().GetUserInfo();
	Settle();
	EXPECT_EQ(Sdk().GetUserInfoRecord().DisplayName, QStringLiteral("Annie"));
	EXPECT_EQ(Sdk().GetUserInfoRecord().Email, QStringLiteral("ann@example.org"));
	EXPECT_FALSE(Sdk().GetUserInfoRecord().bIsCreator);

	// Status 200 with an unreadable body: logged, nothing else changes.
	Server.Enqueue(200, "not json");
	Sdk().GetUserInfo();
	Settle();
	EXPECT_TRUE(Log.Contains(QStringLiteral("JsonReader Error: GetUserInfo Failed")));
	EXPECT_TRUE(Sdk().IsLoggedin());

	// No answer: nothing changes, nothing fires.
	QSignalSpy StateSpy(&Sdk(), &UOrvaSDKSubsystem::OnLoginStateChanged);
	FLoopbackHttpServer::FAnswer Drop;
	Drop.bDrop = true;
	Server.Enqueue(Drop);
	Sdk().GetUserInfo();
	Settle();
	EXPECT_TRUE(Log.Contains(QStringLiteral("Error for GetUserInfo: Response Is Not Valid")));
	EXPECT_TRUE(Sdk().IsLoggedin());

	// 401: logged out silently.
	Server.Enqueue(401, R"({"display_name":"Mallory"})");
	Sdk().GetUserInfo();
	Settle();
	EXPECT_FALSE(Sdk().IsLoggedin());
	EXPECT_EQ(Sdk().GetUserInfoRecord().DisplayName, QStringLiteral("Annie"));
	EXPECT_EQ(StateSpy.count(), 0);
}

TEST_F(LoginTest, UnreachableServiceFailsInsteadOfWaiting)
{
	// A port nobody listens on: the request fails at once with no answer.
	quint16 DeadPort = 0;
	{
		QTcpServer Probe;
		Probe.listen(QHostAddress::LocalHost, 0);
		DeadPort = Probe.serverPort();
	}
	WriteSettings(QStringLiteral("[Development]\nServiceBaseUrl=http://127.0.0.1:%1/api/v1/\n").arg(DeadPort).toUtf8(),
	              false);
	StartHost();
	QSignalSpy LoginSpy(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKLogin);
	Sdk().Login(QStringLiteral("a@b"), QStringLiteral("pw"));
	ASSERT_TRUE(FGameThread::RunUntil([&] { return LoginSpy.count() == 1; }, 5000));
	EXPECT_FALSE(LoginSpy[0][0].toBool());
}

TEST_F(LoginTest, TimedOutRequestYieldsNoAnswer)
{
	StartLoggedOutHost();
	Host->Http().SetDefaultTimeout(0.3);
	FLoopbackHttpServer::FAnswer Slow{200, R"({"access_token":"late"})"};
	Slow.DelayMs = 3000;
	Server.Enqueue(Slow);
	QSignalSpy LoginSpy(&Sdk(), &UOrvaSDKSubsystem::OnOrvaSDKLogin);
	Sdk().Login(QStringLiteral("a@b"), QStringLiteral("pw"));
	ASSERT_TRUE(FGameThread::RunUntil([&] { return LoginSpy.count() == 1; }, 2500));
	EXPECT_FALSE(LoginSpy[0][0].toBool());
	EXPECT_TRUE(Log.Contains(QStringLiteral("Error for Login: Response Is Not Valid")));
	EXPECT_TRUE(Sdk().GetAccessToken().isEmpty());
}
