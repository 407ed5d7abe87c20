#pragma once

// AWS Signature Version 4, in plain C++ and OpenSSL so that the editor's S3 client and the
// development service sign with the same code. Nothing here allocates threads or touches I/O.

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace AwsSigV4
{

inline constexpr std::string_view Algorithm = "AWS4-HMAC-SHA256";
inline constexpr std::string_view UnsignedPayload = "UNSIGNED-PAYLOAD";
// SHA-256 of no bytes: the payload hash of a request without a body.
inline constexpr std::string_view EmptyPayloadHash = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

struct FCredentials
{
	std::string AccessKeyId;
	std::string SecretAccessKey;
	// Set for temporary credentials; sent and signed as "x-amz-security-token".
	std::string SessionToken;
};

using FNameValueList = std::vector<std::pair<std::string, std::string>>;

// A request as it will go over the wire. Path and query are given decoded (the bytes of the
// object key, the plain parameter values): the signer encodes them exactly once, as S3 expects.
struct FRequest
{
	std::string Method;
	std::string Path = "/";
	FNameValueList Query;
	// Every header that is sent and signed, "host" included. Names compare ignoring case;
	// repeated names are signed as one comma-joined value in the order given.
	FNameValueList Headers;
	// Hex SHA-256 of the body, or UnsignedPayload.
	std::string PayloadHash = std::string(EmptyPayloadHash);
};

struct FScope
{
	std::string Region;
	std::string Service;
};

// What one signature was made of; the intermediate texts are kept for diagnostics and tests.
struct FSignature
{
	std::string CanonicalRequest;
	std::string StringToSign;
	std::string SignedHeaders;
	std::string Signature;
	// The value of the "Authorization" header.
	std::string Authorization;
};

// Percent-encodes every byte except A-Z a-z 0-9 - . _ ~ (and "/" when bKeepSlash), upper-case hex.
std::string UriEncode(std::string_view Bytes, bool bKeepSlash);
// Decodes %XX sequences (a malformed sequence stays as it is); "+" stays "+".
std::string UriDecode(std::string_view Text);

std::string HexLower(const unsigned char* Bytes, size_t Count);
std::string Sha256Hex(std::string_view Bytes);
std::array<unsigned char, 32> HmacSha256(std::string_view Key, std::string_view Data);

// "20130524T000000Z" for the given moment (UTC).
std::string FormatTimestamp(std::chrono::system_clock::time_point Time);

// The canonical request of Request (headers as they stand; nothing is added).
std::string CanonicalRequest(const FRequest& Request, std::string* OutSignedHeaders = nullptr);
std::string CredentialScope(std::string_view Date, const FScope& Scope);
std::string StringToSign(std::string_view Timestamp, std::string_view Scope, std::string_view CanonicalRequestText);
// The HMAC chain of "AWS4" + secret, date, region, service, "aws4_request".
std::array<unsigned char, 32> SigningKey(std::string_view SecretAccessKey, std::string_view Date, const FScope& Scope);

// Signs Request in place for header authentication at Timestamp ("YYYYMMDDTHHMMSSZ"): sets
// "x-amz-date" when absent, "x-amz-content-sha256" for S3 (service "s3"), and
// "x-amz-security-token" when the credentials carry a session token, then appends
// "Authorization". The returned record holds the texts the signature was made of.
FSignature Sign(FRequest& Request, const FCredentials& Credentials, const FScope& Scope, std::string_view Timestamp);

// Query authentication: the Request's query gains the X-Amz-* parameters (the session token
// included) and X-Amz-Signature. Only the headers already in Request are signed (normally just
// "host"); the payload is UnsignedPayload.
FSignature Presign(FRequest& Request, const FCredentials& Credentials, const FScope& Scope, std::string_view Timestamp,
                   int ExpiresSeconds);

// The encoded query string of Query in the order given ("a=1&b=2").
std::string EncodeQuery(const FNameValueList& Query);

} // namespace AwsSigV4
