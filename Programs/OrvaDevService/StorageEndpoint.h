#pragma once

// The development storage endpoint: hands out presigned part addresses of multi-part uploads into
// the object store, and completes those uploads. It listens on a port of its own, apart from the
// REST API, and accepts only callers that send its fixed access token in the "Token" header.

#include "ServiceOptions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace OrvaDev
{

class FStorageEndpoint
{
public:
	// Seconds on a clock that never goes back; uploads expire by it.
	using FClock = std::function<int64_t()>;

	FStorageEndpoint(const FStorageOptions& InStorage, const FStorageEndpointOptions& InOptions,
	                 FClock InClock = nullptr);
	~FStorageEndpoint();
	FStorageEndpoint(const FStorageEndpoint&) = delete;
	FStorageEndpoint& operator=(const FStorageEndpoint&) = delete;

	// Binds Host and the configured port (0: a free one) and serves on a thread of its own. The port
	// bound, or -1 with OutError set.
	int Start(const std::string& Host, std::string& OutError);
	// Finishes the requests in progress and joins the thread. Safe to call twice.
	void Stop();

	// Uploads started here and neither completed nor expired.
	size_t PendingUploadCount() const;

	static constexpr const char* RoutePrefix = "/api/storage/";

private:
	struct FImpl;
	std::unique_ptr<FImpl> Impl;
};

// Whether Token is the 64 lowercase hexadecimal digits the endpoint accepts.
bool IsValidStorageToken(const std::string& Token);

} // namespace OrvaDev
