#include "ApiService.h"

#include "ApiRequest.h"
#include "Auth.h"
#include "HttpServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace OrvaDev
{

namespace
{

// What the worker thread knows about the request it is serving, from the pre-routing hook to the
// log line. httplib serves a request on one thread from start to end, so thread-local is enough.
struct FRequestContext
{
	std::chrono::steady_clock::time_point Start;
	bool bTimed = false;
};

thread_local FRequestContext CurrentRequest;

std::string Printable(std::string_view Text)
{
	std::string Out;
	Out.reserve(Text.size());
	for (const char Char : Text)
	{
		const auto Byte = static_cast<unsigned char>(Char);
		Out.push_back(Byte < 0x20 || Byte == 0x7F ? '?' : Char);
	}
	return Out;
}

void LogRequest(const httplib::Request& Request, const httplib::Response& Response)
{
	double Milliseconds = 0.0;
	if (CurrentRequest.bTimed)
	{
		Milliseconds =
		    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - CurrentRequest.Start).count();
	}
	CurrentRequest.bTimed = false;
	// Only the path: the query string and the headers may carry secrets.
	char Line[2300];
	const int Length = std::snprintf(Line, sizeof(Line), "%s %s %d %.2fms\n", Printable(Request.method).c_str(),
	                                 Printable(Request.path.substr(0, 2048)).c_str(), Response.status, Milliseconds);
	if (Length > 0)
	{
		// One write per line keeps lines whole when workers log at the same time.
		std::fwrite(Line, 1, std::min(static_cast<size_t>(Length), sizeof(Line) - 1), stderr);
	}
}

template <typename TBody>
void Guarded(const httplib::Request& Request, httplib::Response& Response, TBody&& Body)
{
	try
	{
		Body();
	}
	catch (const std::exception& Error)
	{
		std::fprintf(stderr, "internal error on %s %s: %s\n", Request.method.c_str(), Printable(Request.path).c_str(),
		             Error.what());
		Response.headers.clear();
		SendError(Response, 500, "internal error");
	}
}

} // namespace

bool RequireJsonObject(FApiRequest& Request)
{
	if (!Request.Json.is_object())
	{
		SendError(Request.Response, 422, "the body must be a JSON object");
		return false;
	}
	return true;
}

FApiRouter::FApiRouter(httplib::Server& InServer, FApiContext InContext)
    : Server(InServer)
    , ApiContext(InContext)
{
}

bool FApiRouter::Authenticate(FApiRequest& Request) const
{
	const std::string Header = Request.Http.get_header_value("Authorization");
	std::string_view Token;
	if (Header.size() > 7 && (Header.compare(0, 7, "Bearer ") == 0 || Header.compare(0, 7, "bearer ") == 0))
	{
		Token = std::string_view(Header).substr(7);
		while (!Token.empty() && Token.front() == ' ')
		{
			Token.remove_prefix(1);
		}
	}
	std::optional<int64_t> CreatorId;
	if (!Token.empty())
	{
		CreatorId = ApiContext.Auth.Authenticate(Token);
	}
	if (!CreatorId)
	{
		Request.Response.set_header("WWW-Authenticate", "Bearer");
		SendError(Request.Response, 401, Token.empty() ? "not authenticated" : "invalid or expired token");
		return false;
	}
	Request.CreatorId = *CreatorId;
	return true;
}

void FApiRouter::Add(const FRoute& Route, FRouteHandler Handler)
{
	const std::string Full = std::string(FApiService::ApiPrefix) + Route.Pattern;
	const std::string_view Verb = Route.Method;
	const size_t Limit = Route.Body == EBody::None ? 0 : std::min(Route.MaxBodyBytes, ApiContext.Config.MaxBodyBytes);
	Entries.push_back({std::string(Verb), std::regex(Full), Limit});

	if (Route.Body == EBody::None)
	{
		auto Plain = [this, Route, Handler](const httplib::Request& Http, httplib::Response& Response)
		{
			Guarded(Http, Response,
			        [&]
			        {
				        FApiRequest Request{Http, Response};
				        if (Route.Access == EAccess::Creator && !Authenticate(Request))
				        {
					        return;
				        }
				        Handler(Request);
			        });
		};
		if (Verb == "GET")
		{
			Server.Get(Full, Plain);
		}
		else if (Verb == "DELETE")
		{
			Server.Delete(Full, Plain);
		}
		else
		{
			throw std::logic_error("a " + std::string(Verb) + " route needs a body kind: " + Route.Pattern);
		}
		return;
	}

	auto WithBody = [this, Route, Limit, Handler](const httplib::Request& Http, httplib::Response& Response,
	                                              const httplib::ContentReader& Reader)
	{
		Guarded(Http, Response,
		        [&]
		        {
			        FApiRequest Request{Http, Response};
			        if (Route.Access == EAccess::Creator && !Authenticate(Request))
			        {
				        SkipBody(Http, Reader);
				        return;
			        }
			        if (!ReadBody(Request, Limit, Reader) || (Route.Body == EBody::Json && !ParseJsonBody(Request)))
			        {
				        return;
			        }
			        Handler(Request);
		        });
	};
	if (Verb == "POST")
	{
		Server.Post(Full, WithBody);
	}
	else if (Verb == "PATCH")
	{
		Server.Patch(Full, WithBody);
	}
	else if (Verb == "DELETE")
	{
		Server.Delete(Full, WithBody);
	}
	else
	{
		throw std::logic_error("a " + std::string(Verb) + " route cannot take a body: " + Route.Pattern);
	}
}

size_t FApiRouter::BodyLimitFor(const httplib::Request& Request) const
{
	for (const FEntry& Entry : Entries)
	{
		if (Entry.Method == Request.method && std::regex_match(Request.path, Entry.Pattern))
		{
			return Entry.MaxBodyBytes;
		}
	}
	return 0;
}

FFields::FFields(const FJson& InObject, std::string InWhere)
    : Source(InObject)
    , Where(std::move(InWhere))
{
}

const FJson* FFields::Lookup(const char* Key, bool bRequired)
{
	const auto Found = Source.find(Key);
	if (Found == Source.end())
	{
		if (bRequired)
		{
			Problem(Key, "is required");
		}
		return nullptr;
	}
	return &*Found;
}

std::optional<std::string> FFields::String(const char* Key, bool bRequired, size_t MaxBytes)
{
	const FJson* Value = Lookup(Key, bRequired);
	if (Value == nullptr)
	{
		return std::nullopt;
	}
	if (!Value->is_string())
	{
		return Problem(Key, "must be a string");
	}
	const std::string& Text = Value->get_ref<const std::string&>();
	if (Text.size() > MaxBytes)
	{
		return Problem(Key, "is longer than " + std::to_string(MaxBytes) + " bytes");
	}
	return Text;
}

std::optional<bool> FFields::Bool(const char* Key, bool bRequired)
{
	const FJson* Value = Lookup(Key, bRequired);
	if (Value == nullptr)
	{
		return std::nullopt;
	}
	if (!Value->is_boolean())
	{
		return Problem(Key, "must be true or false");
	}
	return Value->get<bool>();
}

std::optional<int64_t> FFields::Integer(const char* Key, bool bRequired)
{
	const FJson* Value = Lookup(Key, bRequired);
	if (Value == nullptr)
	{
		return std::nullopt;
	}
	const std::optional<int64_t> Number = JsonInteger(*Value);
	if (!Number)
	{
		return Problem(Key, "must be a whole number");
	}
	return Number;
}

const FJson* FFields::Array(const char* Key, const char* TypeName, bool bRequired)
{
	const FJson* Value = Lookup(Key, bRequired);
	if (Value != nullptr && !Value->is_array())
	{
		Problem(Key, std::string("must be ") + TypeName);
		return nullptr;
	}
	return Value;
}

const FJson* FFields::Object(const char* Key, bool bRequired)
{
	const FJson* Value = Lookup(Key, bRequired);
	if (Value != nullptr && !Value->is_object())
	{
		Problem(Key, "must be an object");
		return nullptr;
	}
	return Value;
}

bool FFields::IsNull(const char* Key) const
{
	const auto Found = Source.find(Key);
	return Found != Source.end() && Found->is_null();
}

std::nullopt_t FFields::Problem(const char* Key, const std::string& What)
{
	if (Error.empty())
	{
		Error = Where + "\"" + Key + "\" " + What;
	}
	return std::nullopt;
}

bool FFields::Answer422IfBad(httplib::Response& Response) const
{
	if (Error.empty())
	{
		return false;
	}
	SendError(Response, 422, Error);
	return true;
}

FApiService::FApiService(FStore& InStore, FAuthService& InAuth, FApiConfig InConfig)
    : Store(InStore)
    , Auth(InAuth)
    , Config(std::move(InConfig))
{
}

void FApiService::Register(httplib::Server& Server)
{
	Router = std::make_unique<FApiRouter>(Server, FApiContext{Store, Auth, Config, WorldLists});

	Server.set_pre_routing_handler(
	    [this](const httplib::Request& Request, httplib::Response& Response)
	    {
		    CurrentRequest.Start = std::chrono::steady_clock::now();
		    CurrentRequest.bTimed = true;
		    if (PrepareRequest(Request, Response) == httplib::Server::HandlerResponse::Handled)
		    {
			    return httplib::Server::HandlerResponse::Handled;
		    }
		    // httplib would read the whole body of a request no route takes before answering 404.
		    const bool bHasBody = IsChunked(Request) || DeclaredLength(Request).value_or(0) > 0;
		    if (bHasBody && Router->BodyLimitFor(Request) == 0)
		    {
			    FBoundedServer::CloseAfterResponse(Request);
			    SendError(Response, 404, ReasonPhrase(404));
			    return httplib::Server::HandlerResponse::Handled;
		    }
		    return httplib::Server::HandlerResponse::Unhandled;
	    });

	// A client that announces its body first learns at once when it is too large, before sending it.
	Server.set_expect_100_continue_handler(
	    [this](const httplib::Request& Request, httplib::Response& Response)
	    {
		    const size_t Limit = Router->BodyLimitFor(Request);
		    if (Limit > 0 && DeclaredLength(Request).value_or(0) > Limit)
		    {
			    // httplib sends the answer as it stands, so it needs its status here.
			    FBoundedServer::CloseAfterResponse(Request);
			    SendError(Response, 413, ReasonPhrase(413));
			    return 413;
		    }
		    return 100;
	    });

	// Answers that httplib makes on its own (no route, body too large, bad request) get the same
	// JSON error shape as the handlers' own.
	Server.set_error_handler(httplib::Server::HandlerWithResponse(
	    [](const httplib::Request&, httplib::Response& Response)
	    {
		    if (!Response.body.empty())
		    {
			    return httplib::Server::HandlerResponse::Unhandled;
		    }
		    SendError(Response, Response.status, ReasonPhrase(Response.status));
		    return httplib::Server::HandlerResponse::Handled;
	    }));

	Server.set_logger(LogRequest);

	AddAccountRoutes(*Router);
	AddWorldRoutes(*Router);
	AddScreenshotRoutes(*Router);
	AddComponentRoutes(*Router);
}

} // namespace OrvaDev
