#include "AwsSigV4.h"

#include "AsciiCase.h"
#include "Digest.h"
#include "Hex.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <algorithm>
#include <ctime>
#include <map>

namespace AwsSigV4
{
namespace
{

bool IsUnreserved(unsigned char C)
{
	return (C >= 'A' && C <= 'Z') || (C >= 'a' && C <= 'z') || (C >= '0' && C <= '9') || C == '-' || C == '.' ||
	       C == '_' || C == '~';
}

bool IsBlank(char C)
{
	return C == ' ' || C == '\t' || C == '\r' || C == '\n';
}

// Trims the value and folds every run of blanks (folded continuation lines included) into one
// space, as the canonical form asks.
std::string CanonicalValue(std::string_view Value)
{
	std::string Out;
	Out.reserve(Value.size());
	bool bPendingBlank = false;
	for (char C : Value)
	{
		if (IsBlank(C))
		{
			bPendingBlank = !Out.empty();
			continue;
		}
		if (bPendingBlank)
		{
			Out.push_back(' ');
			bPendingBlank = false;
		}
		Out.push_back(C);
	}
	return Out;
}

const std::string* FindHeader(const FNameValueList& Headers, std::string_view Name)
{
	for (const auto& Header : Headers)
	{
		if (FAsciiCase::ToLower(Header.first) == Name)
		{
			return &Header.second;
		}
	}
	return nullptr;
}

void SetHeaderIfAbsent(FNameValueList& Headers, std::string_view Name, std::string_view Value)
{
	if (FindHeader(Headers, Name) == nullptr)
	{
		Headers.emplace_back(std::string(Name), std::string(Value));
	}
}

std::string CanonicalQuery(const FNameValueList& Query)
{
	std::vector<std::pair<std::string, std::string>> Encoded;
	Encoded.reserve(Query.size());
	for (const auto& [Name, Value] : Query)
	{
		Encoded.emplace_back(UriEncode(Name, false), UriEncode(Value, false));
	}
	std::sort(Encoded.begin(), Encoded.end());
	std::string Out;
	for (const auto& [Name, Value] : Encoded)
	{
		if (!Out.empty())
		{
			Out.push_back('&');
		}
		Out += Name;
		Out.push_back('=');
		Out += Value;
	}
	return Out;
}

// Lower-cased names in sorted order, each with its values joined by ",".
std::map<std::string, std::string> CanonicalHeaderMap(const FNameValueList& Headers)
{
	std::map<std::string, std::string> Map;
	for (const auto& [Name, Value] : Headers)
	{
		const std::string Key = FAsciiCase::ToLower(CanonicalValue(Name));
		auto [It, bInserted] = Map.try_emplace(Key, CanonicalValue(Value));
		if (!bInserted)
		{
			It->second.push_back(',');
			It->second += CanonicalValue(Value);
		}
	}
	return Map;
}

std::string SignedHeaderNames(const std::map<std::string, std::string>& Map)
{
	std::string Out;
	for (const auto& Entry : Map)
	{
		if (!Out.empty())
		{
			Out.push_back(';');
		}
		Out += Entry.first;
	}
	return Out;
}

FSignature Finish(const FRequest& Request, const FCredentials& Credentials, const FScope& Scope,
                  std::string_view Timestamp)
{
	FSignature Result;
	Result.CanonicalRequest = CanonicalRequest(Request, &Result.SignedHeaders);
	const std::string_view Date = Timestamp.substr(0, 8);
	const std::string ScopeText = CredentialScope(Date, Scope);
	Result.StringToSign = StringToSign(Timestamp, ScopeText, Result.CanonicalRequest);
	const auto Key = SigningKey(Credentials.SecretAccessKey, Date, Scope);
	const auto Mac =
	    HmacSha256(std::string_view(reinterpret_cast<const char*>(Key.data()), Key.size()), Result.StringToSign);
	Result.Signature = HexLower(Mac.data(), Mac.size());
	Result.Authorization = std::string(Algorithm) + " Credential=" + Credentials.AccessKeyId + "/" + ScopeText +
	                       ", SignedHeaders=" + Result.SignedHeaders + ", Signature=" + Result.Signature;
	return Result;
}

} // namespace

std::string UriEncode(std::string_view Bytes, bool bKeepSlash)
{
	std::string Out;
	Out.reserve(Bytes.size() * 3);
	for (char Signed : Bytes)
	{
		const auto C = static_cast<unsigned char>(Signed);
		if (IsUnreserved(C) || (bKeepSlash && C == '/'))
		{
			Out.push_back(Signed);
		}
		else
		{
			Out.push_back('%');
			Out.push_back(FHex::UpperDigits[C >> 4]);
			Out.push_back(FHex::UpperDigits[C & 0x0F]);
		}
	}
	return Out;
}

std::string UriDecode(std::string_view Text)
{
	std::string Out;
	Out.reserve(Text.size());
	for (size_t I = 0; I < Text.size(); ++I)
	{
		if (Text[I] == '%' && I + 2 < Text.size())
		{
			const int High = FHex::DigitValue(Text[I + 1]);
			const int Low = FHex::DigitValue(Text[I + 2]);
			if (High >= 0 && Low >= 0)
			{
				Out.push_back(static_cast<char>(High * 16 + Low));
				I += 2;
				continue;
			}
		}
		Out.push_back(Text[I]);
	}
	return Out;
}

std::string HexLower(const unsigned char* Bytes, size_t Count)
{
	return FHex::Encode(Bytes, Count);
}

std::string Sha256Hex(std::string_view Bytes)
{
	return FHex::Encode(FDigest::Of(EDigestKind::Sha256, Bytes));
}

std::array<unsigned char, 32> HmacSha256(std::string_view Key, std::string_view Data)
{
	std::array<unsigned char, 32> Out{};
	unsigned int Length = 0;
	HMAC(EVP_sha256(), Key.data(), static_cast<int>(Key.size()), reinterpret_cast<const unsigned char*>(Data.data()),
	     Data.size(), Out.data(), &Length);
	return Out;
}

std::string FormatTimestamp(std::chrono::system_clock::time_point Time)
{
	const std::time_t Seconds = std::chrono::system_clock::to_time_t(Time);
	std::tm Utc{};
	gmtime_r(&Seconds, &Utc);
	char Buffer[32];
	std::strftime(Buffer, sizeof(Buffer), "%Y%m%dT%H%M%SZ", &Utc);
	return Buffer;
}

std::string CanonicalRequest(const FRequest& Request, std::string* OutSignedHeaders)
{
	const auto Headers = CanonicalHeaderMap(Request.Headers);
	const std::string SignedHeaders = SignedHeaderNames(Headers);
	std::string Out = Request.Method;
	Out.push_back('\n');
	Out += Request.Path.empty() ? std::string("/") : UriEncode(Request.Path, true);
	Out.push_back('\n');
	Out += CanonicalQuery(Request.Query);
	Out.push_back('\n');
	for (const auto& [Name, Value] : Headers)
	{
		Out += Name;
		Out.push_back(':');
		Out += Value;
		Out.push_back('\n');
	}
	Out.push_back('\n');
	Out += SignedHeaders;
	Out.push_back('\n');
	Out += Request.PayloadHash;
	if (OutSignedHeaders != nullptr)
	{
		*OutSignedHeaders = SignedHeaders;
	}
	return Out;
}

std::string CredentialScope(std::string_view Date, const FScope& Scope)
{
	return std::string(Date) + "/" + Scope.Region + "/" + Scope.Service + "/aws4_request";
}

std::string StringToSign(std::string_view Timestamp, std::string_view Scope, std::string_view CanonicalRequestText)
{
	return std::string(Algorithm) + "\n" + std::string(Timestamp) + "\n" + std::string(Scope) + "\n" +
	       Sha256Hex(CanonicalRequestText);
}

std::array<unsigned char, 32> SigningKey(std::string_view SecretAccessKey, std::string_view Date, const FScope& Scope)
{
	auto AsView = [](const std::array<unsigned char, 32>& Bytes)
	{ return std::string_view(reinterpret_cast<const char*>(Bytes.data()), Bytes.size()); };
	const std::string Secret = "AWS4" + std::string(SecretAccessKey);
	const auto DateKey = HmacSha256(Secret, Date);
	const auto RegionKey = HmacSha256(AsView(DateKey), Scope.Region);
	const auto ServiceKey = HmacSha256(AsView(RegionKey), Scope.Service);
	return HmacSha256(AsView(ServiceKey), "aws4_request");
}

FSignature Sign(FRequest& Request, const FCredentials& Credentials, const FScope& Scope, std::string_view Timestamp)
{
	SetHeaderIfAbsent(Request.Headers, "x-amz-date", Timestamp);
	if (Scope.Service == "s3")
	{
		SetHeaderIfAbsent(Request.Headers, "x-amz-content-sha256", Request.PayloadHash);
	}
	if (!Credentials.SessionToken.empty())
	{
		SetHeaderIfAbsent(Request.Headers, "x-amz-security-token", Credentials.SessionToken);
	}
	FSignature Result = Finish(Request, Credentials, Scope, Timestamp);
	Request.Headers.emplace_back("Authorization", Result.Authorization);
	return Result;
}

FSignature Presign(FRequest& Request, const FCredentials& Credentials, const FScope& Scope, std::string_view Timestamp,
                   int ExpiresSeconds)
{
	Request.PayloadHash = std::string(UnsignedPayload);
	const std::string Date(Timestamp.substr(0, 8));
	Request.Query.emplace_back("X-Amz-Algorithm", std::string(Algorithm));
	Request.Query.emplace_back("X-Amz-Credential", Credentials.AccessKeyId + "/" + CredentialScope(Date, Scope));
	Request.Query.emplace_back("X-Amz-Date", std::string(Timestamp));
	Request.Query.emplace_back("X-Amz-Expires", std::to_string(ExpiresSeconds));
	if (!Credentials.SessionToken.empty())
	{
		Request.Query.emplace_back("X-Amz-Security-Token", Credentials.SessionToken);
	}
	Request.Query.emplace_back("X-Amz-SignedHeaders", SignedHeaderNames(CanonicalHeaderMap(Request.Headers)));
	FSignature Result = Finish(Request, Credentials, Scope, Timestamp);
	Request.Query.emplace_back("X-Amz-Signature", Result.Signature);
	return Result;
}

std::string EncodeQuery(const FNameValueList& Query)
{
	std::string Out;
	for (const auto& [Name, Value] : Query)
	{
		if (!Out.empty())
		{
			Out.push_back('&');
		}
		Out += UriEncode(Name, false);
		Out.push_back('=');
		Out += UriEncode(Value, false);
	}
	return Out;
}

} // namespace AwsSigV4
