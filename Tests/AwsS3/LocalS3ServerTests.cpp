#include "LocalS3Server.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <memory>

// One store for the whole suite: it takes a few seconds to start.
class LocalS3ServerTest : public ::testing::Test
{
protected:
	static void SetUpTestSuite()
	{
		if (!FLocalS3Server::IsAvailable())
		{
			return;
		}
		Server = std::make_unique<FLocalS3Server>();
		Problem = Server->Start();
	}
	static void TearDownTestSuite() { Server.reset(); }
	void SetUp() override
	{
		if (!FLocalS3Server::IsAvailable())
		{
			GTEST_SKIP() << "moto_server is not installed (scripts/install-deps.sh installs it)";
		}
		ASSERT_TRUE(Problem.empty()) << Problem;
	}

	static std::unique_ptr<FLocalS3Server> Server;
	static std::string Problem;
};
std::unique_ptr<FLocalS3Server> LocalS3ServerTest::Server;
std::string LocalS3ServerTest::Problem;

TEST_F(LocalS3ServerTest, EnforcesSignaturesKeysTokensAndPolicies)
{
	ASSERT_TRUE(Server->CreateBucket("orva-fixture"));
	ASSERT_TRUE(Server->PutObject("orva-fixture", "plain.txt", "admin bytes"));
	EXPECT_EQ(Server->GetObject("orva-fixture", "plain.txt").Body, "admin bytes");

	AwsSigV4::FCredentials WrongSecret = Server->AdminCredentials();
	WrongSecret.SecretAccessKey += "x";
	const auto BadSignature = Server->Call("s3", "PUT", "/orva-fixture/a.txt", {}, "x", WrongSecret);
	EXPECT_EQ(BadSignature.Status, 403);
	EXPECT_EQ(FLocalS3Server::XmlText(BadSignature.Body, "Code"), "SignatureDoesNotMatch");

	const AwsSigV4::FCredentials Stranger{"AKIAUNKNOWNKEY000000", "secret", ""};
	const auto UnknownKey = Server->Call("s3", "PUT", "/orva-fixture/a.txt", {}, "x", Stranger);
	EXPECT_EQ(UnknownKey.Status, 403);
	EXPECT_EQ(FLocalS3Server::XmlText(UnknownKey.Body, "Code"), "InvalidAccessKeyId");

	const std::string Key = "worlds/w1/c 1.pak";
	const AwsSigV4::FCredentials Temporary = Server->IssueUploadCredentials("orva-fixture", Key);
	ASSERT_FALSE(Temporary.AccessKeyId.empty()) << Server->GetLastProblem();
	ASSERT_FALSE(Temporary.SessionToken.empty());
	EXPECT_EQ(Server->Call("s3", "PUT", "/orva-fixture/" + Key, {}, "pak bytes", Temporary).Status, 200);
	EXPECT_EQ(Server->GetObject("orva-fixture", Key).Body, "pak bytes");

	AwsSigV4::FCredentials NoToken = Temporary;
	NoToken.SessionToken.clear();
	const auto WithoutToken = Server->Call("s3", "PUT", "/orva-fixture/" + Key, {}, "y", NoToken);
	EXPECT_EQ(WithoutToken.Status, 403);
	EXPECT_EQ(FLocalS3Server::XmlText(WithoutToken.Body, "Code"), "InvalidAccessKeyId");

	const auto OtherKey = Server->Call("s3", "PUT", "/orva-fixture/worlds/w1/other.pak", {}, "y", Temporary);
	EXPECT_EQ(OtherKey.Status, 403) << Server->LogText();
	EXPECT_EQ(FLocalS3Server::XmlText(OtherKey.Body, "Code"), "AccessDenied");
}

TEST_F(LocalS3ServerTest, StopsByItsProcessId)
{
	FLocalS3Server Second;
	ASSERT_EQ(Second.Start(), "");
	const pid_t Pid = Second.ProcessId();
	ASSERT_GT(Pid, 0);
	EXPECT_NE(Second.Port(), Server->Port());
	EXPECT_EQ(::kill(Pid, 0), 0);
	Second.Stop();
	EXPECT_FALSE(Second.IsRunning());
	EXPECT_NE(::kill(Pid, 0), 0);
}
