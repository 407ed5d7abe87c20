#include "StorageEndpoint.h"

#include "AwsSigV4.h"
#include "HttpServer.h"
#include "ServiceJson.h"
#include "StorageClient.h"

#include <httplib.h>
#include <openssl/crypto.h>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <regex>
#include <thread>
#include <unordered_map>

namespace OrvaDev
{

namespace
{

constexpr int64_t MiB = 1024 * 1024;
// S3's own bound on the parts of one upload.
constexpr int64_t MaxParts = 10000;
constexpr size_t MaxNameBytes = 200;
constexpr size_t MaxCompleteBodyBytes = 2 * 1024 * 1024;

// Where the object store is and how its requests are addressed (path style).
struct FStoreAddress
{
	std::string SchemeHostPort; // "http://127.0.0.1:9000"
	std::string HostHeader;     // "127.0.0.1:9000"
	std::string PathPrefix;     // "" or "/prefix", no trailing slash
};

bool ParseStoreAddress(const std::string& Endpoint, FStoreAddress& Out)
{
	static const std::regex Pattern(R"(^(https?)://([A-Za-z0-9.\-]+|\[[0-9A-Fa-f:.]+\])(?::([0-9]{1,5}))?(/[^?#]*)?$)");
	std::smatch Match;
	if (!std::regex_match(Endpoint, Match, Pattern))
	{
		return false;
	}
	Out.HostHeader = Match[2].str() + (Match[3].matched ? ":" + Match[3].str() : std::string());
	Out.SchemeHostPort = Match[1].str() + "://" + Out.HostHeader;
	Out.PathPrefix = Match[4].matched ? Match[4].str() : std::string();
	while (!Out.PathPrefix.empty() && Out.PathPrefix.back() == '/')
	{
		Out.PathPrefix.pop_back();
	}
	return true;
}

// Names become object keys and come from the query unescaped: only what needs no escaping anywhere.
bool IsSafeName(const std::string& Name)
{
	if (Name.empty() || Name.size() > MaxNameBytes || Name == "." || Name == "..")
	{
		return false;
	}
	for (const char Char : Name)
	{
		const bool bOk = (Char >= 'A' && Char <= 'Z') || (Char >= 'a' && Char <= 'z') || (Char >= '0' && Char <= '9') ||
		                 Char == '-' || Char == '_' || Char == '.';
		if (!bOk)
		{
			return false;
		}
	}
	return true;
}

bool ParseInteger(const std::string& Text, int64_t& Out)
{
	const char* End = Text.data() + Text.size();
	const auto [Ptr, Error] = std::from_chars(Text.data(), End, Out);
	return !Text.empty() && Error == std::errc() && Ptr == End;
}

// The endpoint's answers: "code" 0 with "data" on success, else a non-zero code and what went wrong.
void Answer(httplib::Response& Response, int Status, int Code, const std::string& Message, FJson Data = nullptr)
{
	FJsonObject Body(3);
	Body.Add("code", Code).Add("msg", Message);
	if (!Data.is_null())
	{
		Body.Add("data", std::move(Data));
	}
	Response.status = Status;
	Response.set_content(WriteJson(Body.Take()), "application/json");
}

std::string XmlEscape(const std::string& Text)
{
	std::string Out;
	for (const char Char : Text)
	{
		switch (Char)
		{
		case '&':
			Out += "&amp;";
			break;
		case '<':
			Out += "&lt;";
			break;
		case '>':
			Out += "&gt;";
			break;
		case '"':
			Out += "&quot;";
			break;
		default:
			Out.push_back(Char);
		}
	}
	return Out;
}

// What the store said, for the caller: its error code and message, never the request.
std::string StoreProblem(const FStoreAnswer& Store)
{
	if (Store.Status == 0)
	{
		return "the object store did not answer";
	}
	std::string Code = FStorageClient::XmlText(Store.Body, "Code");
	std::string Message = FStorageClient::XmlText(Store.Body, "Message");
	return "the object store refused (" + std::to_string(Store.Status) + (Code.empty() ? "" : " " + Code) +
	       (Message.empty() ? "" : ": " + Message) + ")";
}

struct FUpload
{
	std::string Key;
	int64_t PartCount = 0;
	int64_t StartedAt = 0;
};

} // namespace

bool IsValidStorageToken(const std::string& Token)
{
	if (Token.size() != 64)
	{
		return false;
	}
	for (const char Char : Token)
	{
		if (!((Char >= '0' && Char <= '9') || (Char >= 'a' && Char <= 'f')))
		{
			return false;
		}
	}
	return true;
}

struct FStorageEndpoint::FImpl
{
	FStorageOptions Storage;
	FStorageEndpointOptions Options;
	FStoreAddress Store;
	std::unique_ptr<FBoundedServer> Server;
	std::thread Thread;
	std::atomic<bool> bListenDone{false};
	FStorageEndpoint::FClock Clock;
	mutable std::mutex Mutex;
	// Uploads this endpoint started, by upload id: completing one needs its key, and an id that is
	// not here was not handed out by us. Those not completed within the upload lifetime are
	// forgotten, so that abandoned uploads do not pile up.
	std::unordered_map<std::string, FUpload> Uploads;

	// Under Mutex.
	void ForgetExpiredUploads()
	{
		const int64_t Now = Clock();
		std::erase_if(Uploads,
		              [&](const auto& Entry) { return Now - Entry.second.StartedAt >= Options.UploadLifetimeSeconds; });
	}

	AwsSigV4::FCredentials Credentials() const
	{
		return {Storage.AccessKeyId, Storage.SecretAccessKey, Storage.SessionToken.value_or(std::string())};
	}

	std::string ObjectPath(const std::string& Key) const { return Store.PathPrefix + "/" + Storage.Bucket + "/" + Key; }

	// One header-signed call to the store.
	FStoreAnswer Call(const std::string& Method, const std::string& Key, const AwsSigV4::FNameValueList& Query,
	                  const std::string& Body) const
	{
		FStoreCall Call;
		Call.SchemeHostPort = Store.SchemeHostPort;
		Call.HostHeader = Store.HostHeader;
		Call.Region = Storage.Region;
		Call.Method = Method;
		Call.Path = ObjectPath(Key);
		Call.Query = Query;
		Call.Body = Body;
		Call.ContentType = Body.empty() ? std::string() : std::string("application/xml");
		Call.ReadTimeoutSeconds = 60;
		return CallStore(Call, Credentials());
	}

	std::string PresignPart(const std::string& Key, int64_t PartNumber, const std::string& UploadId) const
	{
		AwsSigV4::FRequest Request;
		Request.Method = "PUT";
		Request.Path = ObjectPath(Key);
		Request.Query = {{"partNumber", std::to_string(PartNumber)}, {"uploadId", UploadId}};
		Request.Headers = {{"host", Store.HostHeader}};
		AwsSigV4::Presign(Request, Credentials(), {Storage.Region, "s3"},
		                  AwsSigV4::FormatTimestamp(std::chrono::system_clock::now()), Options.UrlLifetimeSeconds);
		return Store.SchemeHostPort + AwsSigV4::UriEncode(Request.Path, true) + "?" +
		       AwsSigV4::EncodeQuery(Request.Query);
	}

	bool CheckToken(const httplib::Request& Request, httplib::Response& Response) const
	{
		const std::string Given = Request.get_header_value("Token");
		const bool bMatch = Given.size() == Options.Token.size() &&
		                    CRYPTO_memcmp(Given.data(), Options.Token.data(), Given.size()) == 0;
		if (!bMatch)
		{
			Answer(Response, 401, 401, "missing or wrong Token header");
		}
		return bMatch;
	}

	void PresignUploadUrl(const httplib::Request& Request, httplib::Response& Response)
	{
		if (!CheckToken(Request, Response))
		{
			return;
		}
		const std::string Name = Request.get_param_value("name");
		const std::string MultiPart = Request.get_param_value("multi_part");
		int64_t FileSize = -1;
		int64_t SliceMiB = 0;
		if (!IsSafeName(Name))
		{
			Answer(Response, 400, 400, "name must be 1 to 200 of A-Z a-z 0-9 - _ .");
			return;
		}
		if (!ParseInteger(Request.get_param_value("file_size"), FileSize) || FileSize < 0)
		{
			Answer(Response, 400, 400, "file_size must be a whole number of bytes");
			return;
		}
		if (!ParseInteger(Request.get_param_value("slice_size"), SliceMiB) || SliceMiB < 1 || SliceMiB > 5 * 1024)
		{
			Answer(Response, 400, 400, "slice_size must be 1 to 5120 (MiB)");
			return;
		}
		if (MultiPart != "true" && MultiPart != "false")
		{
			Answer(Response, 400, 400, "multi_part must be true or false");
			return;
		}
		const int64_t SliceBytes = SliceMiB * MiB;
		const int64_t PartCount = std::max<int64_t>(1, (FileSize + SliceBytes - 1) / SliceBytes);
		if ((MultiPart == "true") != (PartCount > 1))
		{
			Answer(Response, 400, 400, "multi_part does not match file_size and slice_size");
			return;
		}
		if (PartCount > MaxParts)
		{
			Answer(Response, 400, 400, "more than 10000 parts; choose a larger slice_size");
			return;
		}

		const std::string Key = Options.KeyPrefix + Name;
		const FStoreAnswer Started = Call("POST", Key, {{"uploads", ""}}, {});
		const std::string UploadId = FStorageClient::XmlText(Started.Body, "UploadId");
		if (Started.Status != 200 || UploadId.empty())
		{
			Answer(Response, 502, 502, StoreProblem(Started));
			return;
		}
		{
			std::lock_guard Lock(Mutex);
			ForgetExpiredUploads();
			Uploads[UploadId] = FUpload{Key, PartCount, Clock()};
		}

		FJson Urls = FJson::array();
		for (int64_t Part = 1; Part <= PartCount; ++Part)
		{
			FJsonObject Entry(3);
			Entry.Add("url", PresignPart(Key, Part, UploadId)).Add("part_number", Part).Add("upload_id", UploadId);
			Urls.push_back(Entry.Take());
		}
		FJsonObject Data(3);
		Data.Add("key", Key).Add("upload_id", UploadId).Add("urls", std::move(Urls));
		Answer(Response, 200, 0, "ok", Data.Take());
	}

	// {"upload_id": "...", "parts": [{"part_number": 1, "etag": "\"...\""}, ...]}
	void CompleteUpload(const httplib::Request& Request, httplib::Response& Response)
	{
		if (!CheckToken(Request, Response))
		{
			return;
		}
		if (Request.body.size() > MaxCompleteBodyBytes)
		{
			Answer(Response, 413, 413, "body too large");
			return;
		}
		const FJsonParseResult Parsed = ParseJson(Request.body, FJsonLimits{8, 4 * MaxParts});
		if (!Parsed.Value || !Parsed.Value->is_object())
		{
			Answer(Response, 400, 400, "the body must be a JSON object");
			return;
		}
		const FJson& Body = *Parsed.Value;
		const auto IdIt = Body.find("upload_id");
		const auto PartsIt = Body.find("parts");
		if (IdIt == Body.end() || !IdIt->is_string() || PartsIt == Body.end() || !PartsIt->is_array())
		{
			Answer(Response, 400, 400, "upload_id (string) and parts (array) are required");
			return;
		}
		const std::string UploadId = IdIt->get<std::string>();
		FUpload Upload;
		{
			std::lock_guard Lock(Mutex);
			ForgetExpiredUploads();
			const auto Found = Uploads.find(UploadId);
			if (Found == Uploads.end())
			{
				Answer(Response, 404, 404, "no upload with that upload_id was started here");
				return;
			}
			Upload = Found->second;
		}
		std::map<int64_t, std::string> Parts;
		for (const FJson& Part : *PartsIt)
		{
			const auto Number = Part.is_object() ? Part.find("part_number") : Part.end();
			const auto Etag = Part.is_object() ? Part.find("etag") : Part.end();
			if (Number == Part.end() || !Number->is_number_integer() || Etag == Part.end() || !Etag->is_string() ||
			    Etag->get<std::string>().empty())
			{
				Answer(Response, 400, 400, "each part needs part_number (integer) and etag (string)");
				return;
			}
			// The store would take the last of two ETags for one part: a list naming a part twice is
			// not the list of what was uploaded.
			if (!Parts.emplace(Number->get<int64_t>(), Etag->get<std::string>()).second)
			{
				Answer(Response, 400, 400, "part " + std::to_string(Number->get<int64_t>()) + " is listed twice");
				return;
			}
		}
		if (static_cast<int64_t>(Parts.size()) != Upload.PartCount || Parts.begin()->first != 1 ||
		    Parts.rbegin()->first != Upload.PartCount)
		{
			Answer(Response, 400, 400,
			       "parts must be exactly 1 to " + std::to_string(Upload.PartCount) + ", each once");
			return;
		}
		std::string Xml = "<CompleteMultipartUpload>";
		for (const auto& [Number, Etag] : Parts)
		{
			Xml += "<Part><PartNumber>" + std::to_string(Number) + "</PartNumber><ETag>" + XmlEscape(Etag) +
			       "</ETag></Part>";
		}
		Xml += "</CompleteMultipartUpload>";
		const FStoreAnswer Completed = Call("POST", Upload.Key, {{"uploadId", UploadId}}, Xml);
		// S3 may answer 200 with an error in the body once it has started to complete.
		if (Completed.Status != 200 || Completed.Body.find("<Error>") != std::string::npos)
		{
			Answer(Response, 502, 502, StoreProblem(Completed));
			return;
		}
		{
			std::lock_guard Lock(Mutex);
			Uploads.erase(UploadId);
		}
		FJsonObject Data(3);
		Data.Add("key", Upload.Key).Add("etag", FStorageClient::XmlText(Completed.Body, "ETag"));
		Answer(Response, 200, 0, "ok", Data.Take());
	}
};

FStorageEndpoint::FStorageEndpoint(const FStorageOptions& InStorage, const FStorageEndpointOptions& InOptions,
                                   FClock InClock)
    : Impl(std::make_unique<FImpl>())
{
	Impl->Storage = InStorage;
	Impl->Options = InOptions;
	Impl->Clock = InClock ? std::move(InClock)
	                      : []
	{
		return int64_t(
		    std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
		        .count());
	};
}

size_t FStorageEndpoint::PendingUploadCount() const
{
	std::lock_guard Lock(Impl->Mutex);
	return Impl->Uploads.size();
}

FStorageEndpoint::~FStorageEndpoint()
{
	Stop();
}

int FStorageEndpoint::Start(const std::string& Host, std::string& OutError)
{
	if (!ParseStoreAddress(Impl->Storage.Endpoint, Impl->Store))
	{
		OutError = "--storage-endpoint must be http(s)://HOST[:PORT][/PATH] for the storage endpoint";
		return -1;
	}
	FConnectionLimits Limits;
	Limits.MaxBodyBytes = MaxCompleteBodyBytes;
	Limits.MaxWorkers = 32;
	Impl->Server = std::make_unique<FBoundedServer>(Limits);
	httplib::Server& Server = *Impl->Server;
	Server.set_payload_max_length(MaxCompleteBodyBytes);
	Server.set_socket_options(
	    [](int Fd)
	    {
		    int On = 1;
		    ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &On, sizeof(On));
	    });
	// Only the path: the query and the headers carry the token and signatures.
	Server.set_logger(
	    [](const httplib::Request& Request, const httplib::Response& Response)
	    {
		    std::fprintf(stderr, "storage %s %s %d\n", Request.method.c_str(), Request.path.substr(0, 256).c_str(),
		                 Response.status);
	    });
	FImpl* State = Impl.get();
	Server.Get(std::string(RoutePrefix) + "presign_upload_url",
	           [State](const httplib::Request& Request, httplib::Response& Response)
	           { State->PresignUploadUrl(Request, Response); });
	Server.Post(std::string(RoutePrefix) + "complete_upload",
	            [State](const httplib::Request& Request, httplib::Response& Response)
	            { State->CompleteUpload(Request, Response); });

	int Port = Impl->Options.Port;
	if (Port == 0)
	{
		Port = Server.bind_to_any_port(Host);
	}
	else if (!Server.bind_to_port(Host, Port))
	{
		Port = -1;
	}
	if (Port <= 0)
	{
		OutError = "cannot listen on " + Host + " port " + std::to_string(Impl->Options.Port) + " (storage endpoint)";
		Impl->Server.reset();
		return -1;
	}
	Impl->bListenDone = false;
	Impl->Thread = std::thread(
	    [State]
	    {
		    State->Server->listen_after_bind();
		    State->bListenDone = true;
	    });
	return Port;
}

void FStorageEndpoint::Stop()
{
	if (!Impl->Server)
	{
		return;
	}
	// A stop before the accept loop runs would be lost.
	while (Impl->Thread.joinable() && !Impl->Server->is_running() && !Impl->bListenDone)
	{
		std::this_thread::sleep_for(std::chrono::milliseconds(5));
	}
	Impl->Server->stop();
	if (Impl->Thread.joinable())
	{
		Impl->Thread.join();
	}
	Impl->Server.reset();
}

} // namespace OrvaDev
