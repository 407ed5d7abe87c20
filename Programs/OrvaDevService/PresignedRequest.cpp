#include "PresignedRequest.h"

#include "Hex.h"

#include <openssl/crypto.h>

#include <algorithm>
#include <charconv>
#include <ctime>
#include <optional>
#include <vector>

namespace OrvaDev
{

namespace
{

FPresignedRefusal Refuse(int Status, std::string Code, std::string Message)
{
	return {Status, std::move(Code), std::move(Message)};
}

// The one value of a parameter; nullopt when it is absent or given more than once (two values
// would leave open which one was meant).
std::optional<std::string> OnlyValue(const AwsSigV4::FNameValueList& Query, std::string_view Name)
{
	std::optional<std::string> Found;
	for (const auto& [Key, Value] : Query)
	{
		if (Key == Name)
		{
			if (Found)
			{
				return std::nullopt;
			}
			Found = Value;
		}
	}
	return Found;
}

std::vector<std::string> Split(const std::string& Text, char Separator)
{
	std::vector<std::string> Pieces;
	size_t Start = 0;
	while (true)
	{
		const size_t At = Text.find(Separator, Start);
		Pieces.push_back(Text.substr(Start, At == std::string::npos ? std::string::npos : At - Start));
		if (At == std::string::npos)
		{
			return Pieces;
		}
		Start = At + 1;
	}
}

// "20130524T000000Z" as a moment; nullopt when it is not one.
std::optional<std::chrono::system_clock::time_point> ParseTimestamp(const std::string& Text)
{
	if (Text.size() != 16 || Text[8] != 'T' || Text[15] != 'Z')
	{
		return std::nullopt;
	}
	const auto Number = [&](size_t At, size_t Count, int& Out)
	{
		const char* Begin = Text.data() + At;
		const auto [Ptr, Error] = std::from_chars(Begin, Begin + Count, Out);
		return Error == std::errc() && Ptr == Begin + Count;
	};
	std::tm Parts{};
	int Year = 0;
	int Month = 0;
	if (!Number(0, 4, Year) || !Number(4, 2, Month) || !Number(6, 2, Parts.tm_mday) || !Number(9, 2, Parts.tm_hour) ||
	    !Number(11, 2, Parts.tm_min) || !Number(13, 2, Parts.tm_sec))
	{
		return std::nullopt;
	}
	if (Month < 1 || Month > 12 || Parts.tm_mday < 1 || Parts.tm_mday > 31 || Parts.tm_hour > 23 || Parts.tm_min > 59 ||
	    Parts.tm_sec > 60)
	{
		return std::nullopt;
	}
	Parts.tm_year = Year - 1900;
	Parts.tm_mon = Month - 1;
	return std::chrono::system_clock::from_time_t(::timegm(&Parts));
}

} // namespace

FPresignedRefusal CheckPresignedRequest(const FPresignedRequest& Request, const AwsSigV4::FCredentials& Keys,
                                        const AwsSigV4::FScope& Scope, std::chrono::system_clock::time_point Now)
{
	const auto Algorithm = OnlyValue(Request.Query, "X-Amz-Algorithm");
	const auto Credential = OnlyValue(Request.Query, "X-Amz-Credential");
	const auto Timestamp = OnlyValue(Request.Query, "X-Amz-Date");
	const auto Expires = OnlyValue(Request.Query, "X-Amz-Expires");
	const auto SignedHeaders = OnlyValue(Request.Query, "X-Amz-SignedHeaders");
	const auto Signature = OnlyValue(Request.Query, "X-Amz-Signature");
	if (!Algorithm || !Credential || !Timestamp || !Expires || !SignedHeaders || !Signature)
	{
		return Refuse(403, "AccessDenied",
		              "Query-string authentication requires the X-Amz-Algorithm, X-Amz-Credential, X-Amz-Signature, "
		              "X-Amz-Date, X-Amz-SignedHeaders, and X-Amz-Expires parameters, each once.");
	}
	if (*Algorithm != AwsSigV4::Algorithm)
	{
		return Refuse(400, "AuthorizationQueryParametersError", "X-Amz-Algorithm only supports \"AWS4-HMAC-SHA256\"");
	}
	const auto SignedAt = ParseTimestamp(*Timestamp);
	if (!SignedAt)
	{
		return Refuse(400, "AuthorizationQueryParametersError",
		              "X-Amz-Date must be in the ISO8601 Long Format \"yyyyMMdd'T'HHmmss'Z'\"");
	}
	int Lifetime = 0;
	{
		const char* End = Expires->data() + Expires->size();
		const auto [Ptr, Error] = std::from_chars(Expires->data(), End, Lifetime);
		if (Expires->empty() || Error != std::errc() || Ptr != End || Lifetime < 1 ||
		    Lifetime > MaxPresignedLifetimeSeconds)
		{
			return Refuse(400, "AuthorizationQueryParametersError",
			              "X-Amz-Expires must be a whole number of seconds from 1 to 604800");
		}
	}

	// Access key id / date / region / service / "aws4_request".
	const std::vector<std::string> ScopeParts = Split(*Credential, '/');
	if (ScopeParts.size() != 5)
	{
		return Refuse(400, "AuthorizationQueryParametersError",
		              "X-Amz-Credential must be ACCESS-KEY-ID/DATE/REGION/SERVICE/aws4_request");
	}
	if (ScopeParts[0].size() != Keys.AccessKeyId.size() ||
	    CRYPTO_memcmp(ScopeParts[0].data(), Keys.AccessKeyId.data(), Keys.AccessKeyId.size()) != 0)
	{
		return Refuse(403, "InvalidAccessKeyId", "The access key Id you provided does not exist in our records.");
	}
	// A signature made for another day, region or service is no signature for this request, even
	// when its arithmetic is right.
	if (ScopeParts[1] != Timestamp->substr(0, 8) || ScopeParts[2] != Scope.Region || ScopeParts[3] != Scope.Service ||
	    ScopeParts[4] != "aws4_request")
	{
		return Refuse(403, "SignatureDoesNotMatch", "The credential scope of the signature is not this endpoint's.");
	}

	const std::vector<std::string> HeaderNames = Split(*SignedHeaders, ';');
	if (std::find(HeaderNames.begin(), HeaderNames.end(), "host") == HeaderNames.end())
	{
		return Refuse(400, "AuthorizationQueryParametersError", "X-Amz-SignedHeaders must include \"host\"");
	}
	AwsSigV4::FRequest Canonical;
	Canonical.Method = Request.Method;
	Canonical.Path = Request.Path;
	Canonical.PayloadHash = std::string(AwsSigV4::UnsignedPayload);
	for (const std::string& Name : HeaderNames)
	{
		if (Name.empty() || !std::all_of(Name.begin(), Name.end(), [](char Char) { return Char < 'A' || Char > 'Z'; }))
		{
			return Refuse(400, "AuthorizationQueryParametersError",
			              "X-Amz-SignedHeaders must be lower-case names separated by \";\"");
		}
		const std::string Value = Request.Header(Name);
		if (Value.empty())
		{
			return Refuse(403, "AccessDenied", "There were headers present in the signature that are missing.");
		}
		Canonical.Headers.emplace_back(Name, Value);
	}
	for (const auto& Parameter : Request.Query)
	{
		if (Parameter.first != "X-Amz-Signature")
		{
			Canonical.Query.push_back(Parameter);
		}
	}

	const std::string Date = Timestamp->substr(0, 8);
	const std::string StringToSign = AwsSigV4::StringToSign(*Timestamp, AwsSigV4::CredentialScope(Date, Scope),
	                                                        AwsSigV4::CanonicalRequest(Canonical));
	const auto Key = AwsSigV4::SigningKey(Keys.SecretAccessKey, Date, Scope);
	const auto Mac =
	    AwsSigV4::HmacSha256(std::string_view(reinterpret_cast<const char*>(Key.data()), Key.size()), StringToSign);
	const std::string Expected = AwsSigV4::HexLower(Mac.data(), Mac.size());
	if (Signature->size() != Expected.size() || !FHex::IsLowerDigits(*Signature) ||
	    CRYPTO_memcmp(Signature->data(), Expected.data(), Expected.size()) != 0)
	{
		return Refuse(403, "SignatureDoesNotMatch",
		              "The request signature we calculated does not match the signature you provided.");
	}
	// The session token is signed with the rest of the query; it must still be the one we sign with.
	const auto Token = OnlyValue(Request.Query, "X-Amz-Security-Token");
	if (Token.value_or(std::string()) != Keys.SessionToken)
	{
		return Refuse(403, "InvalidToken", "The provided token is malformed or otherwise invalid.");
	}
	if (*SignedAt - Now > PresignedClockSkew)
	{
		return Refuse(403, "AccessDenied", "Request is not valid yet");
	}
	if (Now > *SignedAt + std::chrono::seconds(Lifetime))
	{
		return Refuse(403, "AccessDenied", "Request has expired");
	}
	return {};
}

} // namespace OrvaDev
