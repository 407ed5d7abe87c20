// The storage endpoint's check of presigned part addresses, in process: what passes is exactly an
// address signed with our key for this request, in our scope, within its lifetime.

#include "PresignedRequest.h"

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace
{
using namespace std::chrono_literals;

const AwsSigV4::FCredentials Keys{"AKIDEXAMPLE", "wJalrXUtnFEMI/K7MDENG+bPxRfiCYEXAMPLEKEY", ""};
const AwsSigV4::FScope Scope{"us-east-1", "s3"};
const auto SignedAt = std::chrono::sys_days{std::chrono::year{2026} / 12 / 8} + 12h;

struct FSigned
{
	AwsSigV4::FNameValueList Query;
	std::map<std::string, std::string> Headers{{"host", "127.0.0.1:7480"}};
};

FSigned Presigned(const AwsSigV4::FCredentials& With = Keys, const AwsSigV4::FScope& In = Scope, int Expires = 900)
{
	AwsSigV4::FRequest Request;
	Request.Method = "PUT";
	Request.Path = "/api/storage/upload/uploads/Level";
	Request.Query = {{"partNumber", "2"}, {"uploadId", "abc+/="}};
	Request.Headers = {{"host", "127.0.0.1:7480"}};
	AwsSigV4::Presign(Request, With, In, AwsSigV4::FormatTimestamp(SignedAt), Expires);
	return {Request.Query};
}

OrvaDev::FPresignedRefusal Check(const FSigned& Signed, std::chrono::system_clock::time_point Now = SignedAt + 1s,
                                 const AwsSigV4::FCredentials& With = Keys)
{
	OrvaDev::FPresignedRequest Request;
	Request.Method = "PUT";
	Request.Path = "/api/storage/upload/uploads/Level";
	Request.Query = Signed.Query;
	Request.Header = [&Signed](const std::string& Name)
	{
		const auto Found = Signed.Headers.find(Name);
		return Found == Signed.Headers.end() ? std::string() : Found->second;
	};
	return OrvaDev::CheckPresignedRequest(Request, With, Scope, Now);
}

void Set(FSigned& Signed, const std::string& Name, const std::string& Value)
{
	for (auto& [Key, Old] : Signed.Query)
	{
		if (Key == Name)
		{
			Old = Value;
		}
	}
}
} // namespace

TEST(DevServicePresignedRequest, AnAddressSignedForThisRequestPassesWithinItsLifetimeOnly)
{
	EXPECT_FALSE(Check(Presigned()).IsRefused());
	EXPECT_FALSE(Check(Presigned(), SignedAt + 900s).IsRefused());
	// A clock a little behind the signer's is allowed; further is not.
	EXPECT_FALSE(Check(Presigned(), SignedAt - 10min).IsRefused());

	const OrvaDev::FPresignedRefusal Expired = Check(Presigned(), SignedAt + 901s);
	EXPECT_EQ(Expired.Status, 403);
	EXPECT_EQ(Expired.Code, "AccessDenied");
	EXPECT_EQ(Expired.Message, "Request has expired");
	const OrvaDev::FPresignedRefusal Early = Check(Presigned(), SignedAt - 16min);
	EXPECT_EQ(Early.Status, 403);
	EXPECT_EQ(Early.Message, "Request is not valid yet");
}

TEST(DevServicePresignedRequest, ChangedQueriesHostsKeysAndScopesAreRefused)
{
	const auto Code = [](const OrvaDev::FPresignedRefusal& Refusal)
	{ return std::to_string(Refusal.Status) + " " + Refusal.Code; };

	FSigned OtherPart = Presigned();
	Set(OtherPart, "partNumber", "3");
	EXPECT_EQ(Code(Check(OtherPart)), "403 SignatureDoesNotMatch");
	FSigned OtherUpload = Presigned();
	Set(OtherUpload, "uploadId", "abd+/=");
	EXPECT_EQ(Code(Check(OtherUpload)), "403 SignatureDoesNotMatch");
	FSigned Longer = Presigned();
	Set(Longer, "X-Amz-Expires", "3600");
	EXPECT_EQ(Code(Check(Longer)), "403 SignatureDoesNotMatch");
	FSigned OtherHost = Presigned();
	OtherHost.Headers["host"] = "127.0.0.1:7481";
	EXPECT_EQ(Code(Check(OtherHost)), "403 SignatureDoesNotMatch");
	FSigned NoHost = Presigned();
	NoHost.Headers.clear();
	EXPECT_EQ(Code(Check(NoHost)), "403 AccessDenied");
	FSigned Upper = Presigned();
	std::string& Signature = Upper.Query.back().second;
	ASSERT_EQ(Upper.Query.back().first, "X-Amz-Signature");
	for (char& Char : Signature)
	{
		Char = char(std::toupper(static_cast<unsigned char>(Char)));
	}
	EXPECT_EQ(Code(Check(Upper)), "403 SignatureDoesNotMatch");

	// Right arithmetic, wrong key or scope.
	EXPECT_EQ(Code(Check(Presigned({"AKIDOTHER", Keys.SecretAccessKey, ""}))), "403 InvalidAccessKeyId");
	EXPECT_EQ(Code(Check(Presigned({Keys.AccessKeyId, "another secret", ""}))), "403 SignatureDoesNotMatch");
	EXPECT_EQ(Code(Check(Presigned(Keys, {"eu-west-1", "s3"}))), "403 SignatureDoesNotMatch");
	EXPECT_EQ(Code(Check(Presigned(Keys, {"us-east-1", "iam"}))), "403 SignatureDoesNotMatch");
	// Signed with a session token the endpoint does not sign with, and the other way round.
	const AwsSigV4::FCredentials WithToken{Keys.AccessKeyId, Keys.SecretAccessKey, "session"};
	EXPECT_EQ(Code(Check(Presigned(WithToken))), "403 InvalidToken");
	EXPECT_EQ(Code(Check(Presigned(), SignedAt + 1s, WithToken)), "403 InvalidToken");
	EXPECT_FALSE(Check(Presigned(WithToken), SignedAt + 1s, WithToken).IsRefused());
}

TEST(DevServicePresignedRequest, MissingRepeatedOrMalformedParametersAreRefused)
{
	for (const char* Name : {"X-Amz-Algorithm", "X-Amz-Credential", "X-Amz-Date", "X-Amz-Expires",
	                         "X-Amz-SignedHeaders", "X-Amz-Signature"})
	{
		SCOPED_TRACE(Name);
		FSigned Missing = Presigned();
		std::erase_if(Missing.Query, [&](const auto& Parameter) { return Parameter.first == Name; });
		EXPECT_EQ(Check(Missing).Status, 403);
		FSigned Twice = Presigned();
		for (const auto& Parameter : Presigned().Query)
		{
			if (Parameter.first == Name)
			{
				Twice.Query.push_back(Parameter);
			}
		}
		EXPECT_EQ(Check(Twice).Status, 403);
	}
	const std::vector<std::pair<std::string, std::string>> Malformed = {
	    {"X-Amz-Algorithm", "AWS4-HMAC-SHA1"},
	    {"X-Amz-Date", "2026-12-08T12:00:00Z"},
	    {"X-Amz-Expires", "604801"},
	    {"X-Amz-Expires", "-1"},
	    {"X-Amz-Credential", "AKIDEXAMPLE/20261208/us-east-1/s3"},
	    {"X-Amz-SignedHeaders", "content-type"}};
	for (const auto& [Name, Value] : Malformed)
	{
		SCOPED_TRACE(Name + "=" + Value);
		FSigned Bad = Presigned();
		Set(Bad, Name, Value);
		const OrvaDev::FPresignedRefusal Refusal = Check(Bad);
		EXPECT_EQ(Refusal.Status, 400);
		EXPECT_EQ(Refusal.Code, "AuthorizationQueryParametersError");
	}
}
