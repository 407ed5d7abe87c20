#pragma once

#include "Json.h"
#include "Records.h"
#include "ServiceOptions.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace httplib
{
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace OrvaDev
{

class FAuthService;
class FStore;

struct FApiConfig
{
	std::string PublicBaseUrl; // scheme://host:port, no trailing slash
	std::filesystem::path ScreenshotDir;
	FStorageOptions Storage;
};

// The REST API under /api/v1/: routes, request validation and the JSON shapes of the answers.
// Handlers keep no state of their own between requests; everything lasting goes through FStore
// and FAuthService, so any worker thread may serve any request.
class FApiService
{
public:
	static constexpr const char* ApiPrefix = "/api/v1/";
	static constexpr int64_t DefaultWorldCapacity = 16;

	FApiService(FStore& InStore, FAuthService& InAuth, FApiConfig InConfig);

	// Routes, the JSON answers for errors httplib produces itself (404, 413, 400), the per-request
	// log line and the multipart work-around.
	void Register(httplib::Server& Server);

private:
	using FHandler = void (FApiService::*)(const httplib::Request&, httplib::Response&);

	void Route(httplib::Server& Server, const char* Method, const std::string& Pattern, FHandler Handler);

	void PostToken(const httplib::Request& Request, httplib::Response& Response);
	void GetMe(const httplib::Request& Request, httplib::Response& Response);
	void GetMyWorlds(const httplib::Request& Request, httplib::Response& Response);
	void PostMyWorlds(const httplib::Request& Request, httplib::Response& Response);
	void DeleteMyWorlds(const httplib::Request& Request, httplib::Response& Response);
	void GetWorld(const httplib::Request& Request, httplib::Response& Response);
	void PatchWorld(const httplib::Request& Request, httplib::Response& Response);
	void GetScreenshots(const httplib::Request& Request, httplib::Response& Response);
	void PostScreenshot(const httplib::Request& Request, httplib::Response& Response);
	void GetScreenshotFile(const httplib::Request& Request, httplib::Response& Response);
	void PostComponents(const httplib::Request& Request, httplib::Response& Response);
	void GetComponent(const httplib::Request& Request, httplib::Response& Response);
	void PostComponentSts(const httplib::Request& Request, httplib::Response& Response);
	void PatchComponentSts(const httplib::Request& Request, httplib::Response& Response);

	// Answers 401 itself when the bearer token is missing, unknown or expired.
	std::optional<int64_t> RequireCreator(const httplib::Request& Request, httplib::Response& Response);

	void WriteWorld(FJsonWriter& Json, const FWorldRecord& World) const;
	void WriteImage(FJsonWriter& Json, const FImageRecord& Image) const;
	static void WriteComponent(FJsonWriter& Json, const FComponentRecord& Component);
	std::string ScreenshotUrl(const std::string& StoredName) const;

	FStore& Store;
	FAuthService& Auth;
	FApiConfig Config;
};

} // namespace OrvaDev
