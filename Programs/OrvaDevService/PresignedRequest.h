#pragma once

// Checks a request that carries its SigV4 signature in the query (a presigned address), the way
// S3 does: the signature is recomputed over the canonical request with our own key and compared
// in constant time, the scope must be ours, and the address must be within its lifetime. Plain
// C++ on the shared signer; no I/O.

#include "AwsSigV4.h"

#include <chrono>
#include <functional>
#include <string>

namespace OrvaDev
{

// Why a presigned request is refused, in the store's terms; Status 0 means it may proceed.
struct FPresignedRefusal
{
	int Status = 0;
	std::string Code;
	std::string Message;

	bool IsRefused() const { return Status != 0; }
};

struct FPresignedRequest
{
	std::string Method;
	// Decoded, as the server hands it over.
	std::string Path;
	// Every query parameter, decoded, X-Amz-Signature included.
	AwsSigV4::FNameValueList Query;
	// The value of a header as received (empty when absent); the names asked for are lower case.
	std::function<std::string(const std::string&)> Header;
};

// How far a signing time may lie ahead of our clock, as S3 allows.
inline constexpr std::chrono::minutes PresignedClockSkew{15};
// S3's longest presigned lifetime: seven days.
inline constexpr int MaxPresignedLifetimeSeconds = 7 * 24 * 3600;

FPresignedRefusal CheckPresignedRequest(const FPresignedRequest& Request, const AwsSigV4::FCredentials& Keys,
                                        const AwsSigV4::FScope& Scope, std::chrono::system_clock::time_point Now);

} // namespace OrvaDev
