#include "StorageEndpoint.h"

#include "AwsSigV4.h"
#include "Digest.h"
#include "Hex.h"
#include "HttpServer.h"
#include "PresignedRequest.h"
#include "ServiceJson.h"
#include "StorageClient.h"

#include <httplib.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <map>
#include <memory>
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
// The largest slice handed out, and so the largest part body the part route reads.
constexpr int64_t MaxSliceMiB = 5 * 1024;
// Parts travel at a creator's pace: the body of one may take this long.
constexpr std::chrono::minutes PartBodyTimeout{30};
constexpr const char* PartRoute = "upload/";
// The most of a refused part's body that is read only to be dropped.
constexpr int64_t MaxDrainedBytes = 64 * MiB;

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

// An S3-style error answer; the address asked for is not repeated in it (its query is a credential).
void AnswerXmlError(httplib::Response& Response, int Status, const std::string& Code, const std::string& Message)
{
	Response.status = Status;
	Response.set_content("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<Error><Code>" + XmlEscape(Code) +
	                         "</Code><Message>" + XmlEscape(Message) + "</Message></Error>",
	                     "application/xml");
}

// host[:port] as a client may address us with; the part addresses are made for it.
bool IsPlainHostHeader(const std::string& Host)
{
	static const std::regex Pattern(R"(^([A-Za-z0-9.\-]+|\[[0-9A-Fa-f:.]+\])(:[0-9]{1,5})?$)");
	return Host.size() <= 260 && std::regex_match(Host, Pattern);
}

struct FUpload
{
	std::string Key;
	int64_t PartCount = 0;
	int64_t SliceBytes = 0;
	int64_t FileSize = 0;
	int64_t StartedAt = 0;
};

// A part's body on its way from the client to the store: spooled to an unnamed temporary file
// (parts are up to 5 GiB), digested as it arrives.
class FPartSpool
{
public:
	FPartSpool()
	    : File(std::tmpfile())
	{
	}
	~FPartSpool()
	{
		if (File)
		{
			std::fclose(File);
		}
	}
	FPartSpool(const FPartSpool&) = delete;
	FPartSpool& operator=(const FPartSpool&) = delete;

	bool IsOpen() const { return File != nullptr; }

	bool Add(const char* Data, size_t Size)
	{
		Md5.Update(Data, Size);
		Sha256.Update(Data, Size);
		Bytes += Size;
		return std::fwrite(Data, 1, Size, File) == Size;
	}

	// The digests of everything added; once only.
	void Finish()
	{
		Md5Bytes = Md5.Final();
		Sha256Hex = FHex::Encode(Sha256.Final());
		std::fflush(File);
	}

	// Length bytes at Offset, for the forwarded request.
	bool Read(size_t Offset, char* Out, size_t Length)
	{
		return std::fseek(File, long(Offset), SEEK_SET) == 0 && std::fread(Out, 1, Length, File) == Length;
	}

	size_t Bytes = 0;
	std::string Md5Bytes;
	std::string Sha256Hex;

private:
	std::FILE* File;
	FDigest Md5{EDigestKind::Md5};
	FDigest Sha256{EDigestKind::Sha256};
};

// The 16 bytes a Content-MD5 header stands for; empty when it is no base64 of 16 bytes.
std::string DecodeContentMd5(const std::string& Header)
{
	if (Header.size() != 24)
	{
		return {};
	}
	unsigned char Out[18];
	const int Length = EVP_DecodeBlock(Out, reinterpret_cast<const unsigned char*>(Header.data()), 24);
	// Two "=" of padding: 18 decoded, of which 16 are the digest.
	if (Length != 18 || Header[22] != '=' || Header[23] != '=')
	{
		return {};
	}
	return std::string(reinterpret_cast<const char*>(Out), 16);
}

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

	// The address of one part on this endpoint's part route, for a client that reaches us as Host:
	// the endpoint checks the signature itself (the local store cannot check query signatures) and
	// passes the part on to the store.
	std::string PresignPart(const std::string& Host, const std::string& Key, int64_t PartNumber,
	                        const std::string& UploadId) const
	{
		AwsSigV4::FRequest Request;
		Request.Method = "PUT";
		Request.Path = std::string(RoutePrefix) + PartRoute + Key;
		Request.Query = {{"partNumber", std::to_string(PartNumber)}, {"uploadId", UploadId}};
		Request.Headers = {{"host", Host}};
		AwsSigV4::Presign(Request, Credentials(), {Storage.Region, "s3"},
		                  AwsSigV4::FormatTimestamp(std::chrono::system_clock::now()), Options.UrlLifetimeSeconds);
		return "http://" + Host + AwsSigV4::UriEncode(Request.Path, true) + "?" + AwsSigV4::EncodeQuery(Request.Query);
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
		if (!ParseInteger(Request.get_param_value("slice_size"), SliceMiB) || SliceMiB < 1 || SliceMiB > MaxSliceMiB)
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

		const std::string Host = Request.get_header_value("Host");
		if (!IsPlainHostHeader(Host))
		{
			Answer(Response, 400, 400, "the Host header must be host[:port]");
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
			Uploads[UploadId] = FUpload{Key, PartCount, SliceBytes, FileSize, Clock()};
		}

		FJson Urls = FJson::array();
		for (int64_t Part = 1; Part <= PartCount; ++Part)
		{
			FJsonObject Entry(3);
			Entry.Add("url", PresignPart(Host, Key, Part, UploadId))
			    .Add("part_number", Part)
			    .Add("upload_id", UploadId);
			Urls.push_back(Entry.Take());
		}
		FJsonObject Data(3);
		Data.Add("key", Key).Add("upload_id", UploadId).Add("urls", std::move(Urls));
		Answer(Response, 200, 0, "ok", Data.Take());
	}

	// A presigned part: checked here, then sent on to the store as an UploadPart signed with the
	// service's key, whose answer (the ETag, or the store's error) is the client's answer.
	void UploadPart(const httplib::Request& Request, httplib::Response& Response, const httplib::ContentReader& Reader)
	{
		// The client is still sending when we refuse: the body is read and dropped, so that it hears
		// the refusal rather than a broken connection (which it would send again). A body too large
		// to be worth that closes the connection instead.
		const auto RefuseUnread = [&](int Status, const std::string& Code, const std::string& Message)
		{
			int64_t Announced = -1;
			const bool bSmall = ParseInteger(Request.get_header_value("Content-Length"), Announced) && Announced >= 0 &&
			                    Announced <= MaxDrainedBytes;
			size_t Drained = 0;
			if (!bSmall || !Reader(
			                   [&](const char*, size_t Size)
			                   {
				                   Drained += Size;
				                   return Drained <= size_t(Announced);
			                   }))
			{
				FBoundedServer::CloseAfterResponse(Request);
			}
			AnswerXmlError(Response, Status, Code, Message);
		};
		FPresignedRequest Presigned;
		Presigned.Method = Request.method;
		Presigned.Path = Request.path;
		for (const auto& Parameter : Request.params)
		{
			Presigned.Query.push_back(Parameter);
		}
		Presigned.Header = [&Request](const std::string& Name) { return Request.get_header_value(Name.c_str()); };
		const FPresignedRefusal Refusal =
		    CheckPresignedRequest(Presigned, Credentials(), {Storage.Region, "s3"}, std::chrono::system_clock::now());
		if (Refusal.IsRefused())
		{
			RefuseUnread(Refusal.Status, Refusal.Code, Refusal.Message);
			return;
		}

		const std::string Key = Request.matches[1].str();
		const std::string UploadId = Request.get_param_value("uploadId");
		int64_t PartNumber = 0;
		if (!ParseInteger(Request.get_param_value("partNumber"), PartNumber))
		{
			RefuseUnread(400, "InvalidArgument", "Part number must be an integer between 1 and 10000, inclusive");
			return;
		}
		FUpload Upload;
		{
			std::lock_guard Lock(Mutex);
			ForgetExpiredUploads();
			const auto Found = Uploads.find(UploadId);
			if (Found == Uploads.end())
			{
				RefuseUnread(404, "NoSuchUpload", "The specified upload does not exist.");
				return;
			}
			Upload = Found->second;
		}
		if (Upload.Key != Key)
		{
			RefuseUnread(403, "AccessDenied", "The upload is not one of this key.");
			return;
		}
		if (PartNumber < 1 || PartNumber > Upload.PartCount)
		{
			RefuseUnread(400, "InvalidArgument",
			             "Part number must be between 1 and " + std::to_string(Upload.PartCount) + " for this upload");
			return;
		}
		int64_t Length = -1;
		if (!Request.has_header("Content-Length") ||
		    !ParseInteger(Request.get_header_value("Content-Length"), Length) || Length < 0)
		{
			RefuseUnread(411, "MissingContentLength", "You must provide the Content-Length HTTP header.");
			return;
		}
		// Each part is its slice of the file announced: a short part would fail the completion much
		// later, or complete an object that is not the file.
		const int64_t Expected = std::min(Upload.SliceBytes, Upload.FileSize - (PartNumber - 1) * Upload.SliceBytes);
		if (Length > Upload.SliceBytes)
		{
			RefuseUnread(400, "EntityTooLarge", "The part is larger than the slice it was presigned for.");
			return;
		}
		if (Length != Expected)
		{
			RefuseUnread(400, "InvalidArgument",
			             "Part " + std::to_string(PartNumber) + " must be " + std::to_string(Expected) + " bytes");
			return;
		}
		std::string ClaimedMd5;
		if (Request.has_header("Content-MD5"))
		{
			ClaimedMd5 = DecodeContentMd5(Request.get_header_value("Content-MD5"));
			if (ClaimedMd5.empty())
			{
				RefuseUnread(400, "InvalidDigest", "The Content-MD5 you specified was invalid.");
				return;
			}
		}

		FPartSpool Spool;
		if (!Spool.IsOpen())
		{
			RefuseUnread(503, "ServiceUnavailable", "The endpoint has no room for the part now.");
			return;
		}
		bool bWritten = true;
		const bool bRead = Reader(
		    [&](const char* Data, size_t Size)
		    {
			    bWritten = bWritten && Spool.Add(Data, Size);
			    return bWritten && Spool.Bytes <= size_t(Length);
		    });
		if (!bRead || !bWritten || Spool.Bytes != size_t(Length))
		{
			RefuseUnread(bWritten ? 400 : 503, bWritten ? "IncompleteBody" : "ServiceUnavailable",
			             bWritten ? "You did not provide the number of bytes specified by the Content-Length HTTP "
			                        "header."
			                      : "The endpoint could not hold the part.");
			return;
		}
		Spool.Finish();
		if (!ClaimedMd5.empty() && CRYPTO_memcmp(ClaimedMd5.data(), Spool.Md5Bytes.data(), 16) != 0)
		{
			AnswerXmlError(Response, 400, "BadDigest", "The Content-MD5 you specified did not match what we received.");
			return;
		}

		AwsSigV4::FRequest Signed;
		Signed.Method = "PUT";
		Signed.Path = ObjectPath(Key);
		Signed.Query = {{"partNumber", std::to_string(PartNumber)}, {"uploadId", UploadId}};
		Signed.Headers = {{"host", Store.HostHeader}};
		if (!ClaimedMd5.empty())
		{
			Signed.Headers.emplace_back("content-md5", Request.get_header_value("Content-MD5"));
		}
		Signed.PayloadHash = Spool.Sha256Hex;
		AwsSigV4::Sign(Signed, Credentials(), {Storage.Region, "s3"},
		               AwsSigV4::FormatTimestamp(std::chrono::system_clock::now()));
		httplib::Headers Headers;
		for (const auto& [Name, Value] : Signed.Headers)
		{
			Headers.emplace(Name == "host" ? "Host" : Name, Value);
		}
		httplib::Client Client(Store.SchemeHostPort);
		Client.set_connection_timeout(5, 0);
		Client.set_read_timeout(120, 0);
		Client.set_write_timeout(120, 0);
		Client.set_url_encode(false);
		const httplib::Result Stored = Client.Put(
		    AwsSigV4::UriEncode(Signed.Path, true) + "?" + AwsSigV4::EncodeQuery(Signed.Query), Headers, size_t(Length),
		    [&Spool](size_t Offset, size_t Size, httplib::DataSink& Sink)
		    {
			    char Buffer[65536];
			    const size_t Chunk = std::min(Size, sizeof(Buffer));
			    return Spool.Read(Offset, Buffer, Chunk) && Sink.write(Buffer, Chunk);
		    },
		    "application/octet-stream");
		if (!Stored)
		{
			AnswerXmlError(Response, 503, "ServiceUnavailable", "The object store did not answer.");
			return;
		}
		Response.status = Stored->status;
		if (Stored->status == 200)
		{
			Response.set_header("ETag", Stored->get_header_value("ETag"));
			return;
		}
		Response.set_content(Stored->body, "application/xml");
	}

	// {"upload_id": "...", "parts": [{"part_number": 1, "etag": "\"...\""}, ...]}
	void CompleteUpload(const httplib::Request& Request, httplib::Response& Response,
	                    const httplib::ContentReader& Reader)
	{
		if (!CheckToken(Request, Response))
		{
			FBoundedServer::CloseAfterResponse(Request);
			return;
		}
		// Read here, with our own bound: the server's bound is that of a part.
		std::string Text;
		const bool bRead = Reader(
		    [&Text](const char* Data, size_t Size)
		    {
			    Text.append(Data, Size);
			    return Text.size() <= MaxCompleteBodyBytes;
		    });
		if (!bRead || Text.size() > MaxCompleteBodyBytes)
		{
			Answer(Response, 413, 413, "body too large");
			FBoundedServer::CloseAfterResponse(Request);
			return;
		}
		const FJsonParseResult Parsed = ParseJson(Text, FJsonLimits{8, 4 * MaxParts});
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
	Limits.MaxBodyBytes = size_t(MaxSliceMiB * MiB);
	Limits.BodyTimeout = PartBodyTimeout;
	Limits.MaxWorkers = 32;
	Impl->Server = std::make_unique<FBoundedServer>(Limits);
	httplib::Server& Server = *Impl->Server;
	Server.set_payload_max_length(size_t(MaxSliceMiB * MiB));
	// Only the part route takes large bodies, and it reads them itself; any other request with a
	// body larger than a completion is turned away before the body is read.
	Server.set_pre_routing_handler(
	    [](const httplib::Request& Request, httplib::Response& Response)
	    {
		    const bool bPartRoute =
		        Request.method == "PUT" && Request.path.rfind(std::string(RoutePrefix) + PartRoute, 0) == 0;
		    int64_t Length = 0;
		    const bool bLarge = Request.has_header("Transfer-Encoding") ||
		                        (Request.has_header("Content-Length") &&
		                         (!ParseInteger(Request.get_header_value("Content-Length"), Length) ||
		                          Length > int64_t(MaxCompleteBodyBytes)));
		    if (bPartRoute || !bLarge)
		    {
			    return httplib::Server::HandlerResponse::Unhandled;
		    }
		    Answer(Response, 413, 413, "body too large");
		    FBoundedServer::CloseAfterResponse(Request);
		    return httplib::Server::HandlerResponse::Handled;
	    });
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
	            [State](const httplib::Request& Request, httplib::Response& Response,
	                    const httplib::ContentReader& Reader) { State->CompleteUpload(Request, Response, Reader); });
	Server.Put(std::string(RoutePrefix) + PartRoute + "(.+)",
	           [State](const httplib::Request& Request, httplib::Response& Response,
	                   const httplib::ContentReader& Reader) { State->UploadPart(Request, Response, Reader); });

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
