// The development service's request reading on arbitrary bytes: a connection's worth of requests
// read by httplib behind the service's own pre-routing step, into a JSON route, the screenshot
// form route or a route that refuses before reading, each as the service's router reads it. What
// a JSON body parses to must write and parse back to the same value; what an upload's file name
// becomes must be a name fit to show.
#include "ApiRequest.h"
#include "Media.h"
#include "ServiceJson.h"
#include "Utf8.h"

#include <httplib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace OrvaDev;

namespace
{

// A connection whose client sent the input and then went quiet; answers go nowhere.
class FInputStream : public httplib::Stream
{
public:
	FInputStream(const uint8_t* InData, size_t InSize)
	    : Data(reinterpret_cast<const char*>(InData))
	    , Size(InSize)
	{
	}

	bool is_readable() const override { return true; }
	bool is_writable() const override { return true; }
	ssize_t read(char* Out, size_t Wanted) override
	{
		const size_t Count = std::min(Wanted, Size - Position);
		std::copy(Data + Position, Data + Position + Count, Out);
		Position += Count;
		return static_cast<ssize_t>(Count);
	}
	ssize_t write(const char*, size_t Count) override { return static_cast<ssize_t>(Count); }
	void get_remote_ip_and_port(std::string& Ip, int& Port) const override
	{
		Ip = "127.0.0.1";
		Port = 50000;
	}
	void get_local_ip_and_port(std::string& Ip, int& Port) const override
	{
		Ip = "127.0.0.1";
		Port = 8080;
	}
	socket_t socket() const override { return INVALID_SOCKET; }

	bool AtEnd() const { return Position >= Size; }

private:
	const char* Data;
	size_t Size;
	size_t Position = 0;
};

void CheckJsonRoundTrip(const FJson& Value)
{
	const FJsonParseResult Again = ParseJson(WriteJson(Value), FJsonLimits{64, 4096});
	if (!Again.Value || *Again.Value != Value)
	{
		std::abort();
	}
	(void)JsonInteger(Value);
}

// What the screenshot route does with its parts before it touches the store.
void CheckUpload(const FApiRequest& Request)
{
	for (const FUploadedPart& Part : Request.Parts)
	{
		if (Part.Name != "image")
		{
			continue;
		}
		const std::optional<FImageType> Type = SniffImageType(Part.Body);
		const std::string Name = DisplayNameFromUpload(Part.Filename, "screenshot" + (Type ? Type->Extension : ".png"));
		if (Name.empty() || Name == "." || Name == ".." || Name.size() > 255 || !IsValidUtf8(Name) ||
		    Name.find('/') != std::string::npos || Name.find('\\') != std::string::npos)
		{
			std::abort();
		}
		for (const char Char : Name)
		{
			if (static_cast<unsigned char>(Char) < 0x20 || Char == 0x7F)
			{
				std::abort();
			}
		}
	}
}

class FFuzzServer : public httplib::Server
{
public:
	FFuzzServer()
	{
		set_payload_max_length(64 * 1024 * 1024);
		set_pre_routing_handler(PrepareRequest);
		Post("/api/v1/auth/token",
		     [](const httplib::Request& Http, httplib::Response& Response, const httplib::ContentReader& Reader)
		     {
			     FApiRequest Request{Http, Response};
			     if (ReadBody(Request, 16 * 1024, Reader) && ParseJsonBody(Request))
			     {
				     CheckJsonRoundTrip(Request.Json);
			     }
		     });
		Post("/api/v1/worlds/([^/]+)/screenshots",
		     [](const httplib::Request& Http, httplib::Response& Response, const httplib::ContentReader& Reader)
		     {
			     FApiRequest Request{Http, Response};
			     if (ReadBody(Request, 64 * 1024 * 1024, Reader))
			     {
				     CheckUpload(Request);
			     }
		     });
		// A request refused before its body is read (no valid token, say).
		Patch("/api/v1/worlds/([^/]+)", [](const httplib::Request& Http, httplib::Response&,
		                                   const httplib::ContentReader& Reader) { SkipBody(Http, Reader); });
	}

	// Requests one after another on one kept-alive connection, as the service's loop reads them.
	void Serve(FInputStream& Stream)
	{
		bool bClosed = false;
		for (int Count = 0; Count < 4 && !bClosed && !Stream.AtEnd(); ++Count)
		{
			if (!process_request(Stream, false, bClosed, [](httplib::Request&) {}))
			{
				return;
			}
		}
	}
};

// The type the plugin writes ("boundary =" with a blank) names the same boundary as the standard
// form, for any boundary RFC 2046 allows: the input's leading boundary characters.
void CheckBoundary(const uint8_t* Data, size_t Size)
{
	static const std::string_view Allowed =
	    "0123456789abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ'()+_,-./:=? ";
	std::string Boundary;
	while (Boundary.size() < std::min<size_t>(Size, 70) && Allowed.find(char(Data[Boundary.size()])) != Allowed.npos)
	{
		Boundary.push_back(char(Data[Boundary.size()]));
	}
	if (Boundary.empty() || Boundary.front() == ' ' || Boundary.back() == ' ')
	{
		return;
	}
	if (MultipartBoundary("multipart/form-data; boundary =" + Boundary) != Boundary ||
	    MultipartBoundary("multipart/form-data; boundary=\"" + Boundary + "\"") != Boundary)
	{
		std::abort();
	}
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
	CheckBoundary(Data, Size);
	static FFuzzServer Server;
	FInputStream Stream(Data, Size);
	Server.Serve(Stream);
	return 0;
}
