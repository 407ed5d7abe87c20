#include "AwsS3Errors.h"

#include <gtest/gtest.h>

using namespace AwsS3;

TEST(S3Errors, StoreErrorBodiesKeepCodeMessageAndRequestId)
{
	const FS3Error Denied = ParseErrorResponse(
	    403,
	    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>SignatureDoesNotMatch</Code><Message>The request "
	    "signature we calculated does not match</Message><StringToSign>AWS4-HMAC-SHA256 ...</StringToSign>"
	    "<RequestId>4442587FB7D0A2F9</RequestId></Error>");
	EXPECT_EQ(Denied.Kind, ES3Errors::SignatureDoesNotMatch);
	EXPECT_EQ(Denied.Code, QStringLiteral("SignatureDoesNotMatch"));
	EXPECT_EQ(Denied.Message, QStringLiteral("The request signature we calculated does not match"));
	EXPECT_EQ(Denied.RequestId, QStringLiteral("4442587FB7D0A2F9"));
	EXPECT_EQ(Denied.Describe(),
	          QStringLiteral("SignatureDoesNotMatch: The request signature we calculated does not match (HTTP 403)"));

	const struct
	{
		int Status;
		const char* Code;
		ES3Errors Kind;
	} Cases[] = {
	    {403, "AccessDenied", ES3Errors::AccessDenied},
	    {403, "InvalidAccessKeyId", ES3Errors::InvalidAccessKeyId},
	    {400, "InvalidToken", ES3Errors::InvalidToken},
	    {400, "ExpiredToken", ES3Errors::ExpiredToken},
	    {404, "NoSuchBucket", ES3Errors::NoSuchBucket},
	    {400, "EntityTooLarge", ES3Errors::EntityTooLarge},
	    {400, "BadDigest", ES3Errors::BadDigest},
	    {503, "SlowDown", ES3Errors::SlowDown},
	    // A code we do not know falls back on the status, and the code is kept.
	    {409, "OperationAborted", ES3Errors::Unknown},
	    {403, "QuotaExceededSomething", ES3Errors::AccessDenied},
	};
	for (const auto& Case : Cases)
	{
		const QByteArray Body = "<Error><Code>" + QByteArray(Case.Code) + "</Code><Message>m</Message></Error>";
		const FS3Error Error = ParseErrorResponse(Case.Status, Body);
		EXPECT_EQ(Error.Kind, Case.Kind) << Case.Code;
		EXPECT_EQ(Error.Code, QString::fromLatin1(Case.Code));
	}
}

TEST(S3Errors, QueryApiWrappingAndBodilessOrBrokenAnswers)
{
	const FS3Error Sts = ParseErrorResponse(
	    403, "<ErrorResponse xmlns=\"https://sts.amazonaws.com/doc/2011-06-15/\"><Error><Type>Sender</Type>"
	         "<Code>InvalidClientTokenId</Code><Message>The security token included in the request is invalid."
	         "</Message></Error><RequestId>abc</RequestId></ErrorResponse>");
	EXPECT_EQ(Sts.Kind, ES3Errors::InvalidAccessKeyId);
	EXPECT_EQ(Sts.Message, QStringLiteral("The security token included in the request is invalid."));

	// A HEAD answers no body: the status decides.
	EXPECT_EQ(ParseErrorResponse(404, {}).Kind, ES3Errors::NoSuchKey);
	EXPECT_EQ(ParseErrorResponse(403, {}).Kind, ES3Errors::AccessDenied);
	EXPECT_EQ(ParseErrorResponse(502, "<html>bad gateway</html>").Kind, ES3Errors::Unknown);
	// Truncated XML never yields a half-read code.
	const FS3Error Truncated = ParseErrorResponse(500, "<Error><Code>AccessDen");
	EXPECT_TRUE(Truncated.Code.isEmpty());
	EXPECT_EQ(Truncated.Kind, ES3Errors::InternalError);
	// Nested markup inside the message is skipped, not mistaken for the code.
	const FS3Error Nested = ParseErrorResponse(
	    400, "<Error><Message>a<Code>AccessDenied</Code>b</Message><Code>InvalidRequest</Code></Error>");
	EXPECT_EQ(Nested.Kind, ES3Errors::InvalidRequest);
	// A success answer is no error, whatever its body.
	EXPECT_FALSE(ParseErrorResponse(200, "<PutObjectResult/>").IsError());
	// No answer at all.
	EXPECT_EQ(ParseErrorResponse(0, {}).Kind, ES3Errors::NetworkError);
}
