#pragma once

#include "ApiRoutes.h"
#include "WorldListCache.h"

#include <memory>

namespace OrvaDev
{

// The REST API under /api/v1/: the routes of every resource, the JSON answers for errors httplib
// produces itself (404, 413, 400), the per-request log line and the bounds on bodies. Handlers
// keep no state of their own between requests; everything lasting goes through FStore and
// FAuthService (and the world lists built from the store, kept while the store says they hold), so
// any worker thread may serve any request.
class FApiService
{
public:
	static constexpr const char* ApiPrefix = "/api/v1/";

	FApiService(FStore& InStore, FAuthService& InAuth, FApiConfig InConfig);

	void Register(httplib::Server& Server);

private:
	FStore& Store;
	FAuthService& Auth;
	FApiConfig Config;
	FWorldListCache WorldLists;
	std::unique_ptr<FApiRouter> Router;
};

} // namespace OrvaDev
