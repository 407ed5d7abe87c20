#include "AutomationFixture.h"

#include <QFile>

class SecretMaskTest : public FAutomationFixture
{
};

// The password given to Login and the token the service hands out appear nowhere: not in the
// echoed lines, the results, the failure, nor the project's log file.
TEST_F(SecretMaskTest, PasswordAndTokenNeverReachALineOrTheLog)
{
	FLogCapture Log;
	Server.Enqueue(200, R"({"access_token":"tok-SECRET-1"})");
	Server.Enqueue(200, R"({"display_name":"Ann"})");

	EXPECT_FALSE(Run(QStringLiteral(R"(
call UOrvaSDKSubsystem.Login "ann@example.org" "s3cr\"t-Pw"
wait UOrvaSDKSubsystem.OnOrvaSDKLogin 5
get UOrvaSDKSubsystem.AccessToken
expect UOrvaSDKSubsystem.AccessToken "Bearer wrong"
)")));
	ASSERT_EQ(Server.RequestCount(), 2);
	EXPECT_TRUE(Server.Requests()[0].Body.contains(R"("password":"s3cr\"t-Pw")"));

	QStringList Lines = Output;
	Lines.append(Log.Messages());
	Lines.append(Runner->GetError());
	QFile File(Project.SavedDir() + QStringLiteral("Logs/TestProject.log"));
	ASSERT_TRUE(File.open(QIODevice::ReadOnly));
	Lines.append(QString::fromUtf8(File.readAll()));
	const QString All = Lines.join(QLatin1Char('\n'));
	EXPECT_FALSE(All.contains(QStringLiteral("s3cr"))) << qPrintable(All);
	EXPECT_FALSE(All.contains(QStringLiteral("SECRET"))) << qPrintable(All);
	// The lines are still there, with the secrets masked.
	EXPECT_TRUE(All.contains(QStringLiteral(R"(Test.orva:2: call UOrvaSDKSubsystem.Login "ann@example.org" ****)")))
	    << qPrintable(All);
	EXPECT_TRUE(Output.contains(QStringLiteral(R"({"get":"UOrvaSDKSubsystem.AccessToken","value":"****"})")))
	    << qPrintable(Output.join(QLatin1Char('\n')));
	EXPECT_EQ(
	    Runner->GetError(),
	    QStringLiteral(R"(Test.orva:5: expect UOrvaSDKSubsystem.AccessToken: expected "Bearer wrong", got "****")"));
}
