#include "ApiRequest.h"

#include "AsciiCase.h"
#include "HttpServer.h"

#include <algorithm>
#include <cctype>
#include <charconv>

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

} // namespace

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
		if (Equals == std::string_view::npos ||
		    !FAsciiCase::StartsWith(Trim(Parameter.substr(0, Equals)), "boundary") ||
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
	if (FAsciiCase::StartsWith(Type, "multipart/form-data"))
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

void SendJson(httplib::Response& Response, int Status, const FJson& Body)
{
	Response.status = Status;
	Response.set_content(WriteJson(Body), "application/json");
}

void SendError(httplib::Response& Response, int Status, std::string Detail)
{
	SendJson(Response, Status, FJson::object({{"detail", std::move(Detail)}}));
}

} // namespace OrvaDev
