#include "ApiService.h"

#include "Auth.h"
#include "Clock.h"
#include "Media.h"
#include "Multipart.h"
#include "Random.h"
#include "Store.h"

#include <httplib.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace OrvaDev
{

namespace
{

constexpr size_t MaxNameBytes = 256;
constexpr size_t MaxDescriptionBytes = 8192;
constexpr size_t MaxShortFieldBytes = 1024;
constexpr size_t MaxComponentsPerRequest = 64;
constexpr size_t MaxIdsPerDelete = 1000;
constexpr int64_t MaxComponentSize = int64_t{5} * 1000 * 1000 * 1000; // one S3 PUT

// What the worker thread knows about the request it is serving, from the pre-routing hook to the
// log line. httplib serves a request on one thread from start to end, so thread-local is enough.
struct FRequestContext
{
	std::chrono::steady_clock::time_point Start;
	bool bTimed = false;
	std::string MultipartType; // the original Content-Type of a multipart request
};

thread_local FRequestContext CurrentRequest;

void SendJson(httplib::Response& Response, int Status, const FJsonValue& Body)
{
	Response.status = Status;
	Response.set_content(Body.Write(), "application/json");
}

void SendJson(httplib::Response& Response, int Status, FJsonWriter& Body)
{
	Response.status = Status;
	Response.set_content(Body.Take(), "application/json");
}

void SendError(httplib::Response& Response, int Status, std::string Detail)
{
	SendJson(Response, Status, FJsonValue::MakeObject({{"detail", std::move(Detail)}}));
}

const char* ReasonPhrase(int Status)
{
	switch (Status)
	{
	case 400: return "Bad Request";
	case 401: return "Not authenticated";
	case 404: return "Not Found";
	case 405: return "Method Not Allowed";
	case 413: return "Request body too large";
	case 414: return "Request URI too long";
	case 415: return "Unsupported Media Type";
	case 416: return "Range Not Satisfiable";
	case 422: return "Unprocessable Entity";
	case 500: return "Internal Server Error";
	case 503: return "Service Unavailable";
	default: return Status < 500 ? "Client Error" : "Server Error";
	}
}

// The body as one JSON value, or a 422 answer.
std::optional<FJsonValue> ReadJsonBody(const httplib::Request& Request, httplib::Response& Response)
{
	FJsonParseResult Parsed = ParseJson(Request.body);
	if (!Parsed.Value)
	{
		SendError(Response, 422, "malformed JSON body: " + Parsed.Error);
		return std::nullopt;
	}
	return std::move(Parsed.Value);
}

std::optional<FJsonValue> ReadJsonObject(const httplib::Request& Request, httplib::Response& Response)
{
	std::optional<FJsonValue> Body = ReadJsonBody(Request, Response);
	if (Body && !Body->IsObject())
	{
		SendError(Response, 422, "the body must be a JSON object");
		return std::nullopt;
	}
	return Body;
}

// Typed access to the members of a JSON object. The first problem is kept, for the 422 answer.
class FFields
{
public:
	explicit FFields(const FJsonValue& InObject, std::string InWhere = {})
		: Object(InObject), Where(std::move(InWhere))
	{
	}

	std::optional<std::string> String(const char* Key, bool bRequired, size_t MaxBytes = MaxShortFieldBytes)
	{
		const FJsonValue* Value = Lookup(Key, bRequired);
		if (Value == nullptr)
		{
			return std::nullopt;
		}
		if (!Value->IsString())
		{
			return Problem(Key, "must be a string");
		}
		if (Value->AsString().size() > MaxBytes)
		{
			return Problem(Key, "is longer than " + std::to_string(MaxBytes) + " bytes");
		}
		return Value->AsString();
	}

	std::optional<bool> Bool(const char* Key, bool bRequired)
	{
		const FJsonValue* Value = Lookup(Key, bRequired);
		if (Value == nullptr)
		{
			return std::nullopt;
		}
		if (!Value->IsBool())
		{
			Problem(Key, "must be true or false");
			return std::nullopt;
		}
		return Value->AsBool();
	}

	std::optional<int64_t> Integer(const char* Key, bool bRequired)
	{
		const FJsonValue* Value = Lookup(Key, bRequired);
		if (Value == nullptr)
		{
			return std::nullopt;
		}
		if (!Value->IsIntegral())
		{
			Problem(Key, "must be a whole number");
			return std::nullopt;
		}
		return Value->AsInteger();
	}

	const FJsonValue* Member(const char* Key, FJsonValue::EType Type, const char* TypeName, bool bRequired)
	{
		const FJsonValue* Value = Lookup(Key, bRequired);
		if (Value != nullptr && Value->GetType() != Type)
		{
			Problem(Key, std::string("must be ") + TypeName);
			return nullptr;
		}
		return Value;
	}

	// Present and JSON null (used where null means "clear").
	bool IsNull(const char* Key) const
	{
		const FJsonValue* Value = Object.Find(Key);
		return Value != nullptr && Value->IsNull();
	}

	bool Ok() const { return Error.empty(); }
	const std::string& Message() const { return Error; }

	std::nullopt_t Problem(const char* Key, const std::string& What)
	{
		if (Error.empty())
		{
			Error = Where + "\"" + Key + "\" " + What;
		}
		return std::nullopt;
	}

private:
	const FJsonValue* Lookup(const char* Key, bool bRequired)
	{
		const FJsonValue* Value = Object.Find(Key);
		if (Value == nullptr && bRequired)
		{
			Problem(Key, "is required");
		}
		return Value;
	}

	const FJsonValue& Object;
	std::string Where;
	std::string Error;
};

bool Answer422IfBad(const FFields& Fields, httplib::Response& Response)
{
	if (!Fields.Ok())
	{
		SendError(Response, 422, Fields.Message());
		return true;
	}
	return false;
}

// Written next to its final name and renamed, so a crash never leaves a half-written image under
// a name the database knows.
bool WriteFileDurably(const std::filesystem::path& Final, std::string_view Bytes)
{
	const std::filesystem::path Temporary = Final.string() + ".tmp";
	const int File = ::open(Temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
	if (File < 0)
	{
		return false;
	}
	size_t Written = 0;
	while (Written < Bytes.size())
	{
		const ssize_t Result = ::write(File, Bytes.data() + Written, Bytes.size() - Written);
		if (Result < 0)
		{
			if (errno == EINTR)
			{
				continue;
			}
			::close(File);
			::unlink(Temporary.c_str());
			return false;
		}
		Written += static_cast<size_t>(Result);
	}
	const bool bSynced = ::fsync(File) == 0;
	if (::close(File) != 0 || !bSynced || ::rename(Temporary.c_str(), Final.c_str()) != 0)
	{
		::unlink(Temporary.c_str());
		return false;
	}
	return true;
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

} // namespace

FApiService::FApiService(FStore& InStore, FAuthService& InAuth, FApiConfig InConfig)
	: Store(InStore), Auth(InAuth), Config(std::move(InConfig))
{
}

void FApiService::Route(httplib::Server& Server, const char* Method, const std::string& Pattern, FHandler Handler)
{
	auto Wrapped = [this, Handler](const httplib::Request& Request, httplib::Response& Response) {
		try
		{
			(this->*Handler)(Request, Response);
		}
		catch (const std::exception& Error)
		{
			std::fprintf(stderr, "internal error on %s %s: %s\n", Request.method.c_str(), Printable(Request.path).c_str(),
						 Error.what());
			Response.headers.clear();
			SendError(Response, 500, "internal error");
		}
	};
	const std::string Full = std::string(ApiPrefix) + Pattern;
	const std::string_view Verb = Method;
	if (Verb == "GET")
	{
		Server.Get(Full, Wrapped);
	}
	else if (Verb == "POST")
	{
		Server.Post(Full, Wrapped);
	}
	else if (Verb == "PATCH")
	{
		Server.Patch(Full, Wrapped);
	}
	else if (Verb == "DELETE")
	{
		Server.Delete(Full, Wrapped);
	}
}

void FApiService::Register(httplib::Server& Server)
{
	Server.set_pre_routing_handler([](const httplib::Request& Request, httplib::Response&) {
		CurrentRequest.Start = std::chrono::steady_clock::now();
		CurrentRequest.bTimed = true;
		CurrentRequest.MultipartType.clear();
		// httplib parses multipart bodies itself, and answers a bare 400 to the plugin's
		// "boundary =" spelling before any handler runs. Taking the type away makes it hand over
		// the raw body, which FMultipart parses. The request object is httplib's own mutable one,
		// handed to this hook as const only by signature.
		const std::string Type = Request.get_header_value("Content-Type");
		if (Type.size() >= 10 && std::equal(Type.begin(), Type.begin() + 10, "multipart/", [](char A, char B) {
				return std::tolower(static_cast<unsigned char>(A)) == B;
			}))
		{
			auto& Mutable = const_cast<httplib::Request&>(Request);
			CurrentRequest.MultipartType = Type;
			Mutable.headers.erase("Content-Type");
		}
		return httplib::Server::HandlerResponse::Unhandled;
	});

	// Answers that httplib makes on its own (no route, body too large, bad request) get the same
	// JSON error shape as the handlers' own.
	Server.set_error_handler(httplib::Server::HandlerWithResponse(
		[](const httplib::Request&, httplib::Response& Response) {
			if (!Response.body.empty())
			{
				return httplib::Server::HandlerResponse::Unhandled;
			}
			SendError(Response, Response.status, ReasonPhrase(Response.status));
			return httplib::Server::HandlerResponse::Handled;
		}));

	Server.set_logger(LogRequest);

	Route(Server, "POST", "auth/token", &FApiService::PostToken);
	Route(Server, "GET", "me", &FApiService::GetMe);
	Route(Server, "GET", "me/worlds", &FApiService::GetMyWorlds);
	Route(Server, "POST", "me/worlds", &FApiService::PostMyWorlds);
	Route(Server, "DELETE", "me/worlds", &FApiService::DeleteMyWorlds);
	Route(Server, "GET", "worlds/([^/]+)", &FApiService::GetWorld);
	Route(Server, "PATCH", "worlds/([^/]+)", &FApiService::PatchWorld);
	Route(Server, "GET", "worlds/([^/]+)/screenshots", &FApiService::GetScreenshots);
	Route(Server, "POST", "worlds/([^/]+)/screenshots", &FApiService::PostScreenshot);
	Route(Server, "POST", "worlds/([^/]+)/components", &FApiService::PostComponents);
	Route(Server, "GET", "components/([^/]+)", &FApiService::GetComponent);
	Route(Server, "POST", "components/([^/]+)/sts", &FApiService::PostComponentSts);
	Route(Server, "PATCH", "components/([^/]+)/sts", &FApiService::PatchComponentSts);
	Route(Server, "GET", "files/screenshots/([0-9a-f]{32}\\.(?:png|jpg|gif|webp))", &FApiService::GetScreenshotFile);
}

std::optional<int64_t> FApiService::RequireCreator(const httplib::Request& Request, httplib::Response& Response)
{
	const std::string Header = Request.get_header_value("Authorization");
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
		CreatorId = Auth.Authenticate(Token);
	}
	if (!CreatorId)
	{
		Response.set_header("WWW-Authenticate", "Bearer");
		SendError(Response, 401, Token.empty() ? "not authenticated" : "invalid or expired token");
	}
	return CreatorId;
}

std::string FApiService::ScreenshotUrl(const std::string& StoredName) const
{
	return Config.PublicBaseUrl + ApiPrefix + "files/screenshots/" + StoredName;
}

void FApiService::WriteImage(FJsonWriter& Json, const FImageRecord& Image) const
{
	Json.BeginObject()
		.Member("id", Image.Id)
		.Member("name", Image.Name)
		.Member("url", ScreenshotUrl(Image.StoredName))
		.Member("size", Image.Size)
		.EndObject();
}

void FApiService::WriteWorld(FJsonWriter& Json, const FWorldRecord& World) const
{
	Json.BeginObject()
		.Member("id", World.Id)
		.Member("identifier", World.Identifier)
		.Member("name", World.Name)
		.Member("description", World.Description)
		.Member("capacity", World.Capacity)
		.Member("private", World.bPrivate)
		.Member("activitys", World.Activitys)
		.Member("likes", World.Likes)
		.Member("last_update", World.LastUpdate);
	if (World.TitleImage)
	{
		Json.Key("image");
		WriteImage(Json, *World.TitleImage);
	}
	Json.EndObject();
}

void FApiService::WriteComponent(FJsonWriter& Json, const FComponentRecord& Component)
{
	Json.BeginObject()
		.Member("id", Component.Id)
		.Member("world_id", Component.WorldId)
		.Member("name", Component.Name)
		.Member("platform", Component.Platform)
		.Member("sandbox", Component.bSandbox)
		.Key("metadata")
		.BeginObject()
		.Member("map", Component.Map)
		.Member("filename", Component.Filename)
		.EndObject()
		.Member("complete", Component.bComplete);
	// Null until the upload has got that far.
	auto OptionalText = [&Json](const char* Key, const std::string& Text) {
		Text.empty() ? Json.Key(Key).Null() : Json.Member(Key, Text);
	};
	OptionalText("checksum", Component.Checksum);
	OptionalText("url", Component.ObjectKey);
	if (Component.Size < 0)
	{
		Json.Key("size").Null();
	}
	else
	{
		Json.Member("size", Component.Size);
	}
	Json.Member("created_at", Component.CreatedAt).Member("updated_at", Component.UpdatedAt).EndObject();
}

void FApiService::PostToken(const httplib::Request& Request, httplib::Response& Response)
{
	if (Request.get_param_value("role") != "creator")
	{
		SendError(Response, 422, "the query parameter \"role\" must be \"creator\"");
		return;
	}
	const std::optional<FJsonValue> Body = ReadJsonObject(Request, Response);
	if (!Body)
	{
		return;
	}
	FFields Fields(*Body);
	const std::optional<std::string> Email = Fields.String("email", false);
	const std::optional<std::string> Phone = Fields.String("phone", false);
	const std::optional<std::string> GrantType = Fields.String("grant_type", true);
	const std::optional<std::string> Password = Fields.String("password", true);
	Fields.String("guest_token", false);
	if (Fields.Ok() && GrantType != "password")
	{
		Fields.Problem("grant_type", "must be \"password\"");
	}
	if (Fields.Ok() && Email.value_or("").empty() == Phone.value_or("").empty())
	{
		Fields.Problem("email", "or \"phone\" is required (exactly one of them)");
	}
	if (Answer422IfBad(Fields, Response))
	{
		return;
	}

	const std::optional<FIssuedToken> Issued = Auth.Login(Email.value_or(""), Phone.value_or(""), *Password);
	if (!Issued)
	{
		SendError(Response, 401, "incorrect account or password");
		return;
	}
	Response.set_header("Cache-Control", "no-store");
	SendJson(Response, 200,
			 FJsonValue::MakeObject({
				 {"access_token", Issued->AccessToken},
				 {"token_type", "bearer"},
				 {"expires_in", Issued->ExpiresIn},
			 }));
}

void FApiService::GetMe(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::optional<FCreatorProfile> Profile = Auth.Profile(*CreatorId);
	if (!Profile)
	{
		SendError(Response, 401, "the account no longer exists");
		return;
	}
	FJsonValue Json = FJsonValue::MakeObject({
		{"id", Profile->Id},
		{"display_name", Profile->DisplayName},
		{"email", Profile->Email},
		{"is_creator", true},
	});
	if (!Profile->Phone.empty())
	{
		Json.Set("phone", Profile->Phone);
	}
	SendJson(Response, 200, Json);
}

void FApiService::GetMyWorlds(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	FJsonWriter Json;
	Json.BeginArray();
	for (const FWorldRecord& World : Store.ListWorlds(*CreatorId))
	{
		WriteWorld(Json, World);
	}
	Json.EndArray();
	SendJson(Response, 200, Json);
}

void FApiService::PostMyWorlds(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::optional<FJsonValue> Body = ReadJsonObject(Request, Response);
	if (!Body)
	{
		return;
	}
	FFields Fields(*Body);
	const std::optional<std::string> Name = Fields.String("name", true, MaxNameBytes);
	const std::optional<std::string> Description = Fields.String("description", false, MaxDescriptionBytes);
	const std::optional<bool> bPublic = Fields.Bool("public", false);
	if (Answer422IfBad(Fields, Response))
	{
		return;
	}
	const FWorldRecord World =
		Store.CreateWorld(*CreatorId, *Name, Description.value_or(""), !bPublic.value_or(false), DefaultWorldCapacity);
	FJsonWriter Json;
	WriteWorld(Json, World);
	SendJson(Response, 201, Json);
}

void FApiService::DeleteMyWorlds(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::optional<FJsonValue> Body = ReadJsonObject(Request, Response);
	if (!Body)
	{
		return;
	}
	FFields Fields(*Body);
	const FJsonValue* Ids = Fields.Member("ids", FJsonValue::EType::Array, "an array of strings", true);
	std::vector<std::string> Keys;
	if (Ids != nullptr)
	{
		if (Ids->AsArray().size() > MaxIdsPerDelete)
		{
			Fields.Problem("ids", "holds more than " + std::to_string(MaxIdsPerDelete) + " entries");
		}
		for (const FJsonValue& Id : Ids->AsArray())
		{
			if (!Id.IsString())
			{
				Fields.Problem("ids", "must be an array of strings");
				break;
			}
			Keys.push_back(Id.AsString());
		}
	}
	if (Answer422IfBad(Fields, Response))
	{
		return;
	}

	std::vector<std::string> Files;
	if (Store.DeleteWorlds(*CreatorId, Keys, Files) != EStoreStatus::Ok)
	{
		SendError(Response, 404, "at least one of the worlds does not exist; nothing was deleted");
		return;
	}
	for (const std::string& File : Files)
	{
		std::error_code Ignored;
		std::filesystem::remove(Config.ScreenshotDir / File, Ignored);
	}
	Response.status = 204;
}

void FApiService::GetWorld(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::optional<FWorldRecord> World = Store.FindWorld(*CreatorId, Request.matches[1].str());
	if (!World)
	{
		SendError(Response, 404, "world not found");
		return;
	}
	FJsonWriter Json;
	WriteWorld(Json, *World);
	SendJson(Response, 200, Json);
}

void FApiService::PatchWorld(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::optional<FJsonValue> Body = ReadJsonObject(Request, Response);
	if (!Body)
	{
		return;
	}
	FFields Fields(*Body);
	FWorldPatch Patch;
	Patch.bPrivate = Fields.Bool("private", false);
	Patch.Name = Fields.String("name", false, MaxNameBytes);
	Patch.Description = Fields.String("description", false, MaxDescriptionBytes);
	if (Fields.IsNull("image_id"))
	{
		Patch.bSetTitleImage = true;
	}
	else if (std::optional<std::string> ImageId = Fields.String("image_id", false))
	{
		Patch.bSetTitleImage = true;
		Patch.TitleImageId = std::move(ImageId);
	}
	if (Answer422IfBad(Fields, Response))
	{
		return;
	}

	FWorldRecord World;
	switch (Store.UpdateWorld(*CreatorId, Request.matches[1].str(), Patch, World))
	{
	case EStoreStatus::NotFound: SendError(Response, 404, "world not found"); return;
	case EStoreStatus::Invalid: SendError(Response, 422, "\"image_id\" is not a screenshot of this world"); return;
	case EStoreStatus::Ok:
	{
		FJsonWriter Json;
		WriteWorld(Json, World);
		SendJson(Response, 200, Json);
		return;
	}
	}
}

void FApiService::GetScreenshots(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::optional<std::vector<FImageRecord>> Images = Store.ListScreenshots(*CreatorId, Request.matches[1].str());
	if (!Images)
	{
		SendError(Response, 404, "world not found");
		return;
	}
	FJsonWriter Json;
	Json.BeginObject().Key("screen_shots").BeginArray();
	for (const FImageRecord& Image : *Images)
	{
		WriteImage(Json, Image);
	}
	Json.EndArray().EndObject();
	SendJson(Response, 200, Json);
}

void FApiService::PostScreenshot(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::string WorldId = Request.matches[1].str();
	if (!Store.FindWorld(*CreatorId, WorldId))
	{
		SendError(Response, 404, "world not found");
		return;
	}
	if (CurrentRequest.MultipartType.empty())
	{
		SendError(Response, 415, "the body must be multipart/form-data with a part named \"image\"");
		return;
	}
	const std::optional<std::string> Boundary = ParseMultipartBoundary(CurrentRequest.MultipartType);
	if (!Boundary)
	{
		SendError(Response, 422, "the multipart Content-Type has no usable boundary");
		return;
	}
	std::vector<FMultipartPart> Parts;
	std::string Problem;
	if (!ParseMultipart(Request.body, *Boundary, Parts, Problem))
	{
		SendError(Response, 422, "malformed multipart body: " + Problem);
		return;
	}
	const FMultipartPart* ImagePart = nullptr;
	for (const FMultipartPart& Part : Parts)
	{
		if (Part.Name == "image")
		{
			if (ImagePart != nullptr)
			{
				SendError(Response, 422, "more than one part named \"image\"");
				return;
			}
			ImagePart = &Part;
		}
	}
	if (ImagePart == nullptr)
	{
		SendError(Response, 422, "the part named \"image\" is missing");
		return;
	}
	const std::optional<FImageType> Type = SniffImageType(ImagePart->Body);
	if (!Type)
	{
		SendError(Response, 422, "the image must be a PNG, JPEG, GIF or WebP file");
		return;
	}

	FImageRecord Image;
	Image.WorldId = WorldId;
	Image.StoredName = HexEncode(RandomBytes(16)) + Type->Extension;
	Image.Name = DisplayNameFromUpload(ImagePart->Filename.value_or(""), "screenshot" + Type->Extension);
	Image.ContentType = Type->ContentType;
	Image.Size = static_cast<int64_t>(ImagePart->Body.size());

	const std::filesystem::path File = Config.ScreenshotDir / Image.StoredName;
	if (!WriteFileDurably(File, ImagePart->Body))
	{
		throw std::runtime_error("cannot store the screenshot file");
	}
	if (Store.AddScreenshot(*CreatorId, Image) != EStoreStatus::Ok)
	{
		// The world was deleted while the file was being written.
		std::error_code Ignored;
		std::filesystem::remove(File, Ignored);
		SendError(Response, 404, "world not found");
		return;
	}
	FJsonWriter Json;
	WriteImage(Json, Image);
	SendJson(Response, 201, Json);
}

void FApiService::GetScreenshotFile(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<FImageRecord> Image = Store.FindScreenshotByStoredName(Request.matches[1].str());
	std::ifstream File;
	if (Image)
	{
		File.open(Config.ScreenshotDir / Image->StoredName, std::ios::binary);
	}
	if (!Image || !File)
	{
		SendError(Response, 404, "image not found");
		return;
	}
	std::ostringstream Bytes;
	Bytes << File.rdbuf();
	// Stored names are random and never reused, so the content under an address never changes.
	Response.set_header("Cache-Control", "public, max-age=31536000, immutable");
	Response.set_header("X-Content-Type-Options", "nosniff");
	Response.status = 200;
	Response.set_content(Bytes.str(), Image->ContentType.c_str());
}

void FApiService::PostComponents(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::optional<FJsonValue> Body = ReadJsonBody(Request, Response);
	if (!Body)
	{
		return;
	}
	if (!Body->IsArray())
	{
		SendError(Response, 422, "the body must be a JSON array of components");
		return;
	}
	if (Body->AsArray().size() > MaxComponentsPerRequest)
	{
		SendError(Response, 422, "at most " + std::to_string(MaxComponentsPerRequest) + " components per request");
		return;
	}
	std::vector<FNewComponent> Components;
	for (size_t Index = 0; Index < Body->AsArray().size(); ++Index)
	{
		const FJsonValue& Entry = Body->AsArray()[Index];
		const std::string Where = "component " + std::to_string(Index) + ": ";
		if (!Entry.IsObject())
		{
			SendError(Response, 422, Where + "must be an object");
			return;
		}
		FFields Fields(Entry, Where);
		FNewComponent Component;
		Component.Name = Fields.String("name", false).value_or("environment");
		Component.Platform = Fields.String("platform", true).value_or("");
		Component.bSandbox = Fields.Bool("sandbox", false).value_or(false);
		if (const FJsonValue* Metadata = Fields.Member("metadata", FJsonValue::EType::Object, "an object", true))
		{
			FFields MetadataFields(*Metadata, Where + "metadata: ");
			Component.Filename = MetadataFields.String("filename", true).value_or("");
			Component.Map = MetadataFields.String("map", false).value_or("");
			if (Answer422IfBad(MetadataFields, Response))
			{
				return;
			}
		}
		if (Fields.Ok() && Component.Platform.empty())
		{
			Fields.Problem("platform", "must not be empty");
		}
		if (Answer422IfBad(Fields, Response))
		{
			return;
		}
		Components.push_back(std::move(Component));
	}

	const std::optional<std::vector<FComponentRecord>> Records =
		Store.AddComponents(*CreatorId, Request.matches[1].str(), Components);
	if (!Records)
	{
		SendError(Response, 404, "world not found");
		return;
	}
	FJsonWriter Json;
	Json.BeginArray();
	for (const FComponentRecord& Record : *Records)
	{
		WriteComponent(Json, Record);
	}
	Json.EndArray();
	SendJson(Response, 201, Json);
}

void FApiService::GetComponent(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::optional<FComponentRecord> Component = Store.FindComponent(*CreatorId, Request.matches[1].str());
	if (!Component)
	{
		SendError(Response, 404, "component not found");
		return;
	}
	FJsonWriter Json;
	WriteComponent(Json, *Component);
	SendJson(Response, 200, Json);
}

void FApiService::PostComponentSts(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::optional<FJsonValue> Body = ReadJsonObject(Request, Response);
	if (!Body)
	{
		return;
	}
	FFields Fields(*Body);
	const std::optional<int64_t> Size = Fields.Integer("size", true);
	if (Fields.Ok() && (*Size < 0 || *Size > MaxComponentSize))
	{
		Fields.Problem("size", "must be a byte count from 0 to " + std::to_string(MaxComponentSize));
	}
	if (Answer422IfBad(Fields, Response))
	{
		return;
	}

	const std::string ComponentId = Request.matches[1].str();
	const std::optional<FComponentRecord> Existing = Store.FindComponent(*CreatorId, ComponentId);
	if (!Existing)
	{
		SendError(Response, 404, "component not found");
		return;
	}
	// One object per component, under its world, so that a re-upload replaces the old pak.
	const std::string ObjectKey = "worlds/" + Existing->WorldIdentifier + "/components/" + ComponentId + ".pak";
	const std::optional<FComponentRecord> Component = Store.RecordUploadGrant(*CreatorId, ComponentId, *Size, ObjectKey);
	if (!Component)
	{
		SendError(Response, 404, "component not found");
		return;
	}

	const FStorageOptions& Storage = Config.Storage;
	const std::string SessionToken = Storage.SessionToken ? *Storage.SessionToken : Base64UrlEncode(RandomBytes(32));
	SendJson(Response, 200,
			 FJsonValue::MakeObject({
				 {"sts", FJsonValue::MakeObject({
							 {"token", SessionToken},
							 {"access_key_id", Storage.AccessKeyId},
							 {"secret_access_key", Storage.SecretAccessKey},
							 {"region", Storage.Region},
							 {"endpoint", Storage.Endpoint},
							 {"expiration", FormatIso8601(NowUnixSeconds() + Storage.CredentialLifetimeSeconds)},
						 })},
				 {"files", FJsonValue::MakeArray({FJsonValue::MakeObject({
							   {"component_id", Component->Id},
							   {"bucket_name", Storage.Bucket},
							   {"url", Component->ObjectKey},
						   })})},
			 }));
}

void FApiService::PatchComponentSts(const httplib::Request& Request, httplib::Response& Response)
{
	const std::optional<int64_t> CreatorId = RequireCreator(Request, Response);
	if (!CreatorId)
	{
		return;
	}
	const std::optional<FJsonValue> Body = ReadJsonObject(Request, Response);
	if (!Body)
	{
		return;
	}
	FFields Fields(*Body);
	const std::optional<std::string> Checksum = Fields.String("checksum", true);
	if (Fields.Ok() && Checksum->empty())
	{
		Fields.Problem("checksum", "must not be empty");
	}
	if (Answer422IfBad(Fields, Response))
	{
		return;
	}
	const std::optional<FComponentRecord> Component =
		Store.CompleteComponent(*CreatorId, Request.matches[1].str(), *Checksum);
	if (!Component)
	{
		SendError(Response, 404, "component not found");
		return;
	}
	FJsonWriter Json;
	WriteComponent(Json, *Component);
	SendJson(Response, 200, Json);
}

} // namespace OrvaDev
