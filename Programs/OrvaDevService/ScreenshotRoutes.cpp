// A world's screenshots: the upload, the list, and the public image files.

#include "ApiRoutes.h"
#include "ApiService.h"
#include "Hex.h"
#include "Media.h"
#include "Random.h"
#include "Store.h"

#include <fcntl.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace OrvaDev
{

namespace
{

// Written next to its final name and renamed, so a crash never leaves a half-written image under
// a name the database knows. Readable by the service's own user only, like everything it stores.
bool WriteFileDurably(const std::filesystem::path& Final, std::string_view Bytes)
{
	const std::filesystem::path Temporary = Final.string() + ".tmp";
	const int File = ::open(Temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
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

void GetScreenshots(const FApiContext& Context, FApiRequest& Request)
{
	const std::optional<std::vector<FImageRecord>> Images =
	    Context.Store.ListScreenshots(Request.CreatorId, Request.Match(1));
	if (!Images)
	{
		SendError(Request.Response, 404, "world not found");
		return;
	}
	FJson Shots = FJson::array();
	for (const FImageRecord& Image : *Images)
	{
		Shots.push_back(ImageJson(Context.Config, Image));
	}
	SendJson(Request.Response, 200, FJson::object({{"screen_shots", std::move(Shots)}}));
}

void PostScreenshot(const FApiContext& Context, FApiRequest& Request)
{
	const std::string WorldId = Request.Match(1);
	if (!Context.Store.FindWorld(Request.CreatorId, WorldId))
	{
		SendError(Request.Response, 404, "world not found");
		return;
	}
	if (!Request.bMultipart)
	{
		SendError(Request.Response, 415, "the body must be multipart/form-data with a part named \"image\"");
		return;
	}
	const FUploadedPart* ImagePart = nullptr;
	for (const FUploadedPart& Part : Request.Parts)
	{
		if (Part.Name == "image")
		{
			if (ImagePart != nullptr)
			{
				SendError(Request.Response, 422, "more than one part named \"image\"");
				return;
			}
			ImagePart = &Part;
		}
	}
	if (ImagePart == nullptr)
	{
		SendError(Request.Response, 422, "the part named \"image\" is missing");
		return;
	}
	const std::optional<FImageType> Type = SniffImageType(ImagePart->Body);
	if (!Type)
	{
		SendError(Request.Response, 422, "the image must be a PNG, JPEG, GIF or WebP file");
		return;
	}

	FImageRecord Image;
	Image.WorldId = WorldId;
	Image.StoredName = FHex::Encode(RandomBytes(16)) + Type->Extension;
	Image.Name = DisplayNameFromUpload(ImagePart->Filename, "screenshot" + Type->Extension);
	Image.ContentType = Type->ContentType;
	Image.Size = static_cast<int64_t>(ImagePart->Body.size());

	const std::filesystem::path File = Context.Config.ScreenshotDir / Image.StoredName;
	if (!WriteFileDurably(File, ImagePart->Body))
	{
		throw std::runtime_error("cannot store the screenshot file");
	}
	if (Context.Store.AddScreenshot(Request.CreatorId, Image) != EStoreStatus::Ok)
	{
		// The world was deleted while the file was being written.
		std::error_code Ignored;
		std::filesystem::remove(File, Ignored);
		SendError(Request.Response, 404, "world not found");
		return;
	}
	SendJson(Request.Response, 201, ImageJson(Context.Config, Image));
}

void GetScreenshotFile(const FApiContext& Context, FApiRequest& Request)
{
	const std::optional<FImageRecord> Image = Context.Store.FindScreenshotByStoredName(Request.Match(1));
	std::ifstream File;
	if (Image)
	{
		File.open(Context.Config.ScreenshotDir / Image->StoredName, std::ios::binary);
	}
	if (!Image || !File)
	{
		SendError(Request.Response, 404, "image not found");
		return;
	}
	std::ostringstream Bytes;
	Bytes << File.rdbuf();
	// Stored names are random and never reused, so the content under an address never changes.
	Request.Response.set_header("Cache-Control", "public, max-age=31536000, immutable");
	Request.Response.set_header("X-Content-Type-Options", "nosniff");
	Request.Response.status = 200;
	Request.Response.set_content(Bytes.str(), Image->ContentType.c_str());
}

} // namespace

FJson ImageJson(const FApiConfig& Config, const FImageRecord& Image)
{
	return FJsonObject(4)
	    .Add("id", Image.Id)
	    .Add("name", Image.Name)
	    .Add("url", Config.PublicBaseUrl + FApiService::ApiPrefix + "files/screenshots/" + Image.StoredName)
	    .Add("size", Image.Size)
	    .Take();
}

void AddScreenshotRoutes(FApiRouter& Router)
{
	Router.Add({"GET", "worlds/([^/]+)/screenshots"}, GetScreenshots);
	// The whole image arrives in one body; its limit is the service's --max-body-bytes.
	Router.Add({"POST", "worlds/([^/]+)/screenshots", EAccess::Creator, EBody::Form, SIZE_MAX}, PostScreenshot);
	// Public, as image downloaders fetch them without credentials.
	Router.Add({"GET", "files/screenshots/([0-9a-f]{32}\\.(?:png|jpg|gif|webp))", EAccess::Anyone}, GetScreenshotFile);
}

} // namespace OrvaDev
