#include "LocalS3Server.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <memory>
#include <thread>

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

namespace
{
// Temporary credentials of a new role with RolePolicy, assumed with SessionPolicy (none if empty).
AwsSigV4::FCredentials AssumeRoleWith(const FLocalS3Server& Store, const std::string& RoleName,
                                      const std::string& RolePolicy, const std::string& SessionPolicy)
{
	const std::string Trust = R"({"Version":"2012-10-17","Statement":[{"Effect":"Allow","Principal":{"AWS":")" +
	                          Store.AdminArn() + R"("},"Action":"sts:AssumeRole"}]})";
	const auto Role =
	    Store.Action("iam", "CreateRole", "2010-05-08", {{"RoleName", RoleName}, {"AssumeRolePolicyDocument", Trust}});
	EXPECT_EQ(Role.Status, 200) << Role.Body;
	const auto Policy = Store.Action("iam", "PutRolePolicy", "2010-05-08",
	                                 {{"RoleName", RoleName}, {"PolicyName", "p"}, {"PolicyDocument", RolePolicy}});
	EXPECT_EQ(Policy.Status, 200) << Policy.Body;
	AwsSigV4::FNameValueList Parameters = {{"RoleArn", FLocalS3Server::XmlText(Role.Body, "Arn")},
	                                       {"RoleSessionName", "s"}};
	if (!SessionPolicy.empty())
	{
		Parameters.emplace_back("Policy", SessionPolicy);
	}
	const auto Assumed = Store.Action("sts", "AssumeRole", "2011-06-15", Parameters);
	EXPECT_EQ(Assumed.Status, 200) << Assumed.Body;
	return {FLocalS3Server::XmlText(Assumed.Body, "AccessKeyId"),
	        FLocalS3Server::XmlText(Assumed.Body, "SecretAccessKey"),
	        FLocalS3Server::XmlText(Assumed.Body, "SessionToken")};
}

std::string PolicyOf(const std::string& Statements)
{
	return R"({"Version":"2012-10-17","Statement":[)" + Statements + "]}";
}
} // namespace

// What the store adds to moto so that the credentials the chain issues isolate creators as on AWS.
TEST_F(LocalS3ServerTest, EvaluatesConditionsSessionPoliciesAndTheReadOfACopysSource)
{
	ASSERT_TRUE(Server->CreateBucket("orva-policies"));
	ASSERT_TRUE(Server->PutObject("orva-policies", "theirs/pak", "their bytes"));
	const AwsSigV4::FNameValueList CopyTheirs = {{"x-amz-copy-source", "/orva-policies/theirs/pak"}};

	// A conditional Deny applies only where its condition holds: copies, not plain PUTs.
	const AwsSigV4::FCredentials Issued = Server->IssueUploadCredentials("orva-policies", "mine/a");
	ASSERT_FALSE(Issued.AccessKeyId.empty()) << Server->GetLastProblem();
	EXPECT_EQ(Server->Call("s3", "PUT", "/orva-policies/mine/a", {}, "a", Issued).Status, 200);
	EXPECT_EQ(Server->Call("s3", "PUT", "/orva-policies/mine/a", {}, "", Issued, CopyTheirs).Status, 403);

	// Without that Deny, a copy needs the read of its source.
	const std::string PutMine =
	    R"({"Effect":"Allow","Action":"s3:PutObject","Resource":"arn:aws:s3:::orva-policies/mine/*"})";
	const AwsSigV4::FCredentials PutOnly = AssumeRoleWith(*Server, "orva-put-only", PolicyOf(PutMine), "");
	const auto Unread = Server->Call("s3", "PUT", "/orva-policies/mine/b", {}, "", PutOnly, CopyTheirs);
	EXPECT_EQ(Unread.Status, 403) << Unread.Body;
	EXPECT_EQ(FLocalS3Server::XmlText(Unread.Body, "Code"), "AccessDenied");
	const auto Started = Server->Call("s3", "POST", "/orva-policies/mine/b", {{"uploads", ""}}, "", PutOnly);
	ASSERT_EQ(Started.Status, 200) << Started.Body;
	EXPECT_EQ(Server
	              ->Call("s3", "PUT", "/orva-policies/mine/b",
	                     {{"partNumber", "1"}, {"uploadId", FLocalS3Server::XmlText(Started.Body, "UploadId")}}, "",
	                     PutOnly, CopyTheirs)
	              .Status,
	          403);
	EXPECT_EQ(Server->HeadObject("orva-policies", "mine/b").Status, 404);
	const std::string ReadTheirs =
	    R"({"Effect":"Allow","Action":"s3:GetObject","Resource":"arn:aws:s3:::orva-policies/theirs/*"})";
	const AwsSigV4::FCredentials Reader =
	    AssumeRoleWith(*Server, "orva-put-read", PolicyOf(PutMine + "," + ReadTheirs), "");
	const auto Copied = Server->Call("s3", "PUT", "/orva-policies/mine/c", {}, "", Reader, CopyTheirs);
	EXPECT_EQ(Copied.Status, 200) << Copied.Body;
	EXPECT_EQ(Server->GetObject("orva-policies", "mine/c").Body, "their bytes");

	// The session policy narrows what the role allows.
	const AwsSigV4::FCredentials Narrowed = AssumeRoleWith(
	    *Server, "orva-narrowed", PolicyOf(PutMine),
	    PolicyOf(R"({"Effect":"Allow","Action":"s3:PutObject","Resource":"arn:aws:s3:::orva-policies/mine/d"})"));
	EXPECT_EQ(Server->Call("s3", "PUT", "/orva-policies/mine/d", {}, "d", Narrowed).Status, 200);
	EXPECT_EQ(Server->Call("s3", "PUT", "/orva-policies/mine/e", {}, "e", Narrowed).Status, 403);

	// A conditional Allow grants only where its condition holds.
	const AwsSigV4::FCredentials Encrypting = AssumeRoleWith(
	    *Server, "orva-encrypting",
	    PolicyOf(R"({"Effect":"Allow","Action":"s3:PutObject","Resource":"arn:aws:s3:::orva-policies/mine/*",)"
	             R"("Condition":{"StringLike":{"s3:x-amz-server-side-encryption":"AES*"}}})"),
	    "");
	EXPECT_EQ(Server->Call("s3", "PUT", "/orva-policies/mine/f", {}, "f", Encrypting).Status, 403);
	EXPECT_EQ(Server
	              ->Call("s3", "PUT", "/orva-policies/mine/f", {}, "f", Encrypting,
	                     {{"x-amz-server-side-encryption", "AES256"}})
	              .Status,
	          200);
}

// Short-lived credentials really run out: past their expiration the store refuses them as AWS does,
// and the issued role allows the multipart calls on its one key but no listing of the bucket.
TEST_F(LocalS3ServerTest, RefusesExpiredTemporaryCredentialsAndAllowsTheMultipartCallsOfTheKey)
{
	ASSERT_TRUE(Server->CreateBucket("orva-expiry"));
	const std::string Key = "worlds/w1/c9.pak";
	const AwsSigV4::FCredentials Lasting = Server->IssueUploadCredentials("orva-expiry", Key);
	const auto Created = Server->Call("s3", "POST", "/orva-expiry/" + Key, {{"uploads", ""}}, "", Lasting);
	const std::string UploadId = FLocalS3Server::XmlText(Created.Body, "UploadId");
	ASSERT_FALSE(UploadId.empty()) << Created.Body;
	EXPECT_EQ(Server->Call("s3", "GET", "/orva-expiry/" + Key, {{"uploadId", UploadId}}, "", Lasting).Status, 200);
	EXPECT_EQ(Server->Call("s3", "GET", "/orva-expiry", {{"uploads", ""}}, "", Lasting).Status, 403);
	EXPECT_EQ(Server->Call("s3", "DELETE", "/orva-expiry/" + Key, {{"uploadId", UploadId}}, "", Lasting).Status, 204);

	const AwsSigV4::FCredentials Brief = Server->IssueUploadCredentials("orva-expiry", Key, 900);
	ASSERT_FALSE(Brief.AccessKeyId.empty()) << Server->GetLastProblem();
	EXPECT_EQ(Server->Call("s3", "PUT", "/orva-expiry/" + Key, {}, "in time", Brief).Status, 200);
	// Past the expiry by the store's clock; the time a test takes does not matter.
	const FLocalS3Server::FClockShift Later = Server->MoveClock(901);
	const auto Expired = Server->Call("s3", "PUT", "/orva-expiry/" + Key, {}, "late", Brief);
	EXPECT_EQ(Expired.Status, 400) << Expired.Body;
	EXPECT_EQ(FLocalS3Server::XmlText(Expired.Body, "Code"), "ExpiredToken");
	EXPECT_EQ(Server->GetObject("orva-expiry", Key).Body, "in time");
}
