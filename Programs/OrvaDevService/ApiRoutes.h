#pragma once

// What the resource files (AccountRoutes.cpp, WorldRoutes.cpp, ...) share: the router that wraps
// every handler, the request it hands over, and the helpers for answers and fields. A new
// resource is one more file with one more Add...Routes function, called from FApiService.

#include "Records.h"
#include "ServiceJson.h"
#include "ServiceOptions.h"

#include <httplib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace OrvaDev
{

class FAuthService;
class FStorageClient;
class FStore;
class FWorldListCache;

struct FApiConfig
{
	std::string PublicBaseUrl; // scheme://host:port, no trailing slash
	std::filesystem::path ScreenshotDir;
	FStorageOptions Storage;
	// Set when Storage.bUseSts: the store the credentials come from and uploads are checked in.
	std::shared_ptr<FStorageClient> StorageClient;
	size_t MaxBodyBytes = 64u * 1024u * 1024u; // no route takes more
};

struct FApiContext
{
	FStore& Store;
	FAuthService& Auth;
	const FApiConfig& Config;
	FWorldListCache& WorldLists;
};

enum class EAccess
{
	Anyone,
	Creator, // a valid bearer token; 401 otherwise, before the body is read
};

enum class EBody
{
	None,
	Json, // one JSON value, parsed before the handler runs; 422 when malformed
	Form, // multipart/form-data, split into parts; any other body is kept raw
};

struct FRoute
{
	const char* Method;  // GET, POST, PATCH or DELETE
	std::string Pattern; // below the API prefix, a regular expression
	EAccess Access = EAccess::Creator;
	EBody Body = EBody::None;
	size_t MaxBodyBytes = 16 * 1024; // larger bodies are answered 413 unread (capped by FApiConfig)
};

struct FUploadedPart
{
	std::string Name;
	std::string Filename; // as the client wrote it; empty when absent
	std::string ContentType;
	std::string Body;
};

// One request as a handler sees it: authenticated and with its body read and parsed, as its
// route asked.
struct FApiRequest
{
	const httplib::Request& Http;
	httplib::Response& Response;
	int64_t CreatorId = 0;
	FJson Json;
	bool bMultipart = false;
	std::vector<FUploadedPart> Parts;
	std::string RawBody; // a form route's body when it is not multipart

	std::string Match(size_t Index) const { return Http.matches[Index].str(); }
};

using FRouteHandler = std::function<void(FApiRequest&)>;

class FApiRouter
{
public:
	FApiRouter(httplib::Server& InServer, FApiContext InContext);

	// Registers the handler behind one wrapper: exceptions become 500, the token is checked, the
	// body is read within its limit (chunked or not) and parsed.
	void Add(const FRoute& Route, FRouteHandler Handler);
	void Add(const FRoute& Route, void (*Handler)(const FApiContext&, FApiRequest&))
	{
		Add(Route, [this, Handler](FApiRequest& Request) { Handler(ApiContext, Request); });
	}

	// The body limit of the route a request is for; 0 when no route there takes a body.
	size_t BodyLimitFor(const httplib::Request& Request) const;

	const FApiContext& Context() const { return ApiContext; }

private:
	struct FEntry
	{
		std::string Method;
		std::regex Pattern;
		size_t MaxBodyBytes = 0;
	};

	bool Authenticate(FApiRequest& Request) const;

	httplib::Server& Server;
	FApiContext ApiContext;
	std::vector<FEntry> Entries;
};

void SendJson(httplib::Response& Response, int Status, const FJson& Body);
void SendError(httplib::Response& Response, int Status, std::string Detail);
// Answers 422 unless the body is a JSON object; true when it is.
bool RequireJsonObject(FApiRequest& Request);

// Typed access to the members of a JSON object. The first problem is kept, for the 422 answer.
class FFields
{
public:
	static constexpr size_t MaxShortFieldBytes = 1024;

	explicit FFields(const FJson& InObject, std::string InWhere = {});

	std::optional<std::string> String(const char* Key, bool bRequired, size_t MaxBytes = MaxShortFieldBytes);
	std::optional<bool> Bool(const char* Key, bool bRequired);
	std::optional<int64_t> Integer(const char* Key, bool bRequired);
	const FJson* Array(const char* Key, const char* TypeName, bool bRequired);
	const FJson* Object(const char* Key, bool bRequired);
	// Present and JSON null (used where null means "clear").
	bool IsNull(const char* Key) const;

	bool Ok() const { return Error.empty(); }
	std::nullopt_t Problem(const char* Key, const std::string& What);
	// Answers 422 with the first problem; true when it did.
	bool Answer422IfBad(httplib::Response& Response) const;

private:
	const FJson* Lookup(const char* Key, bool bRequired);

	const FJson& Source;
	std::string Where;
	std::string Error;
};

// The route groups, one file each.
void AddAccountRoutes(FApiRouter& Router);
void AddWorldRoutes(FApiRouter& Router);
void AddScreenshotRoutes(FApiRouter& Router);
void AddComponentRoutes(FApiRouter& Router);

// Answer shapes that more than one resource writes.
FJson ImageJson(const FApiConfig& Config, const FImageRecord& Image);
FJson WorldJson(const FApiConfig& Config, const FWorldRecord& World);

} // namespace OrvaDev
