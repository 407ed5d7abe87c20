#include "ApiService.h"

#include "Auth.h"
#include "HttpServer.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace OrvaDev
{

namespace
{

// What a JSON body may cost beyond its byte size.
constexpr FJsonLimits BodyJsonLimits{64, 4096};
constexpr size_t MaxFormParts = 32;
// A body refused before reading it is still read and dropped up to this size, so that the
// connection stays usable; a larger one closes the connection instead.
constexpr size_t MaxSkippedBodyBytes = 64 * 1024;

// What the worker thread knows about the request it is serving, from the pre-routing hook to the
// log line. httplib serves a request on one thread from start to end, so thread-local is enough.
struct FRequestContext
{
	std::chrono::steady_clock::time_point Start;
	bool bTimed = false;
};

thread_local FRequestContext CurrentRequest;

const char* ReasonPhrase(int Status)
{
	switch (Status)
	{
	case 400:
		return "Bad Request";
	case 401:
		return "Not authenticated";
	case 404:
		return "Not Found";
	case 405:
		return "Method Not Allowed";
	case 413:
		return "Request body too large";
	case 414:
		return "Request URI too long";
	case 415:
		return "Unsupported Media Type";
	case 416:
		return "Range Not Satisfiable";
	case 422:
		return "Unprocessable Entity";
	case 500:
		return "Internal Server Error";
	case 503:
		return "Service Unavailable";
	default:
		return Status < 500 ? "Client Error" : "Server Error";
	}
}

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

bool StartsWithIgnoreCase(std::string_view Text, std::string_view Prefix)
{
	return Text.size() >= Prefix.size() &&
	       std::equal(Prefix.begin(), Prefix.end(), Text.begin(),
	                  [](char A, char B) { return A == std::tolower(static_cast<unsigned char>(B)); });
}

std::string_view Trim(std::string_view Text)
{
	while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t'))
	{
		Text.remove_prefix(1);
	}
	while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t'))
	{
		Text.remove_suffix(1);
	}
	return Text;
}

// The boundary parameter of a multipart type. Blanks around "=" are accepted: the plugin writes
// "multipart/form-data; boundary =----...", which httplib's own reading refuses.
std::string MultipartBoundary(std::string_view Type)
{
	size_t Pos = Type.find(';');
	while (Pos != std::string_view::npos)
	{
		const std::string_view Rest = Type.substr(Pos + 1);
		const size_t Next = Rest.find(';');
		const std::string_view Parameter = Rest.substr(0, Next);
		Pos = Next == std::string_view::npos ? Next : Pos + 1 + Next;
		const size_t Equals = Parameter.find('=');
		if (Equals == std::string_view::npos || !StartsWithIgnoreCase(Trim(Parameter.substr(0, Equals)), "boundary") ||
		    Trim(Parameter.substr(0, Equals)).size() != 8)
		{
			continue;
		}
		std::string_view Value = Trim(Parameter.substr(Equals + 1));
		if (Value.size() >= 2 && Value.front() == '"' && Value.back() == '"')
		{
			Value = Value.substr(1, Value.size() - 2);
		}
		if (Value.size() > 70 || Value.find_first_of("\r\n\"") != std::string_view::npos)
		{
			return {};
		}
		return std::string(Value);
	}
	return {};
}

std::optional<uint64_t> DeclaredLength(const httplib::Request& Request)
{
	if (!Request.has_header("Content-Length"))
	{
		return std::nullopt;
	}
	const std::string Text = Request.get_header_value("Content-Length");
	uint64_t Length = 0;
	const auto [End, Code] = std::from_chars(Text.data(), Text.data() + Text.size(), Length);
	if (Code != std::errc() || End != Text.data() + Text.size())
	{
		return UINT64_MAX; // refused as too large rather than read as something else
	}
	return Length;
}

bool IsChunked(const httplib::Request& Request)
{
	return Request.has_header("Transfer-Encoding");
}

// Prepares the request httplib has parsed the headers of, before it reads any body. Returns an
// answer for requests whose framing cannot be trusted.
httplib::Server::HandlerResponse PrepareRequest(const httplib::Request& Request, httplib::Response& Response)
{
	CurrentRequest.Start = std::chrono::steady_clock::now();
	CurrentRequest.bTimed = true;
	// httplib's own mutable request, handed to this hook as const only by signature.
	auto& Mutable = const_cast<httplib::Request&>(Request);

	if (IsChunked(Request) && Request.has_header("Content-Length"))
	{
		// Two framings at once: whichever this service chose, another reader could choose the other.
		FBoundedServer::CloseAfterResponse(Request);
		SendError(Response, 400, "a request may not carry both Content-Length and Transfer-Encoding");
		return httplib::Server::HandlerResponse::Handled;
	}
	const bool bTakesBody =
	    Request.method == "POST" || Request.method == "PATCH" || Request.method == "PUT" || Request.method == "DELETE";
	if (bTakesBody && !IsChunked(Request) && !Request.has_header("Content-Length"))
	{
		// A request without either has no body; httplib would wait for the connection to close.
		Mutable.headers.emplace("Content-Length", "0");
	}
	if (!bTakesBody && (IsChunked(Request) || DeclaredLength(Request).value_or(0) > 0))
	{
		// httplib leaves such a body unread, where it would be taken for the next request.
		FBoundedServer::CloseAfterResponse(Request);
	}

	const std::string Type = Request.get_header_value("Content-Type");
	if (StartsWithIgnoreCase(Type, "multipart/form-data"))
	{
		const std::string Boundary = MultipartBoundary(Type);
		Mutable.headers.erase("Content-Type");
		Mutable.headers.emplace("Content-Type",
		                        Boundary.empty() ? "multipart/form-data" : "multipart/form-data; boundary=" + Boundary);
	}
	return httplib::Server::HandlerResponse::Unhandled;
}

// A body the handler will not look at: dropped when small, else the connection is closed.
void SkipBody(const httplib::Request& Request, const httplib::ContentReader& Reader)
{
	const std::optional<uint64_t> Length = DeclaredLength(Request);
	if (IsChunked(Request) || !Length || *Length > MaxSkippedBodyBytes)
	{
		FBoundedServer::CloseAfterResponse(Request);
		return;
	}
	const auto Drop = [](const char*, size_t) { return true; };
	const bool bRead = Request.is_multipart_form_data()
	                       ? Reader([](const httplib::MultipartFormData&) { return true; }, Drop)
	                       : Reader(Drop);
	if (!bRead)
	{
		FBoundedServer::CloseAfterResponse(Request);
	}
}

// Reads the body within the limit; false after answering 413 (too large), 422 (a malformed form)
// or 400 (a body that could not be read).
bool ReadBody(FApiRequest& Request, size_t Limit, const httplib::ContentReader& Reader)
{
	const httplib::Request& Http = Request.Http;
	if (DeclaredLength(Http).value_or(0) > Limit)
	{
		FBoundedServer::CloseAfterResponse(Http);
		SendError(Request.Response, 413, ReasonPhrase(413));
		return false;
	}
	size_t Total = 0;
	bool bTooLarge = false;
	const auto Keep = [&](std::string& Into, const char* Data, size_t Size)
	{
		if (Size > Limit - Total)
		{
			bTooLarge = true;
			return false;
		}
		Total += Size;
		Into.append(Data, Size);
		return true;
	};
	bool bRead = false;
	if (Http.is_multipart_form_data())
	{
		Request.bMultipart = true;
		bRead = Reader(
		    [&Request](const httplib::MultipartFormData& Part)
		    {
			    if (Request.Parts.size() >= MaxFormParts)
			    {
				    return false;
			    }
			    Request.Parts.push_back({Part.name, Part.filename, Part.content_type, {}});
			    return true;
		    },
		    [&](const char* Data, size_t Size)
		    { return !Request.Parts.empty() && Keep(Request.Parts.back().Body, Data, Size); });
	}
	else
	{
		bRead = Reader([&](const char* Data, size_t Size) { return Keep(Request.RawBody, Data, Size); });
	}
	if (bRead)
	{
		return true;
	}
	FBoundedServer::CloseAfterResponse(Http);
	if (bTooLarge)
	{
		SendError(Request.Response, 413, ReasonPhrase(413));
	}
	else if (Request.bMultipart)
	{
		SendError(Request.Response, 422, "malformed multipart body");
	}
	else
	{
		SendError(Request.Response, 400, "the request body could not be read");
	}
	return false;
}

bool ParseJsonBody(FApiRequest& Request)
{
	if (Request.bMultipart)
	{
		SendError(Request.Response, 422, "the body must be JSON, not a multipart form");
		return false;
	}
	FJsonParseResult Parsed = ParseJson(Request.RawBody, BodyJsonLimits);
	if (!Parsed.Value)
	{
		SendError(Request.Response, 422, "malformed JSON body: " + Parsed.Error);
		return false;
	}
	Request.Json = std::move(*Parsed.Value);
	Request.RawBody.clear();
	return true;
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

void SendJson(httplib::Response& Response, int Status, const FJson& Body)
{
	Response.status = Status;
	Response.set_content(WriteJson(Body), "application/json");
}

void SendError(httplib::Response& Response, int Status, std::string Detail)
{
	SendJson(Response, Status, FJson::object({{"detail", std::move(Detail)}}));
}

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
	Router = std::make_unique<FApiRouter>(Server, FApiContext{Store, Auth, Config});

	Server.set_pre_routing_handler(
	    [this](const httplib::Request& Request, httplib::Response& Response)
	    {
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
