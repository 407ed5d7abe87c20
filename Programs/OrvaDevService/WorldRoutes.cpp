// A creator's worlds: "me/worlds" and "worlds/{id}".

#include "ApiRoutes.h"
#include "Store.h"
#include "WorldListCache.h"

namespace OrvaDev
{

namespace
{

constexpr size_t MaxNameBytes = 256;
constexpr size_t MaxDescriptionBytes = 8192;
constexpr size_t MaxIdsPerDelete = 1000;
constexpr int64_t DefaultWorldCapacity = 16;
// A name, a description and a few flags, or a list of ids.
constexpr size_t MaxWorldBodyBytes = 64 * 1024;

void GetMyWorlds(const FApiContext& Context, FApiRequest& Request)
{
	// The version is read before the rows: a write that lands in between moves it on, so what is
	// kept here is at worst rebuilt once more, never served stale.
	const uint64_t Version = Context.Store.WorldListVersion(Request.CreatorId);
	std::shared_ptr<const std::string> Answer = Context.WorldLists.Find(Request.CreatorId, Version);
	if (!Answer)
	{
		FJson Worlds = FJson::array();
		for (const FWorldRecord& World : Context.Store.ListWorlds(Request.CreatorId))
		{
			Worlds.push_back(WorldJson(Context.Config, World));
		}
		Answer = std::make_shared<const std::string>(WriteJson(Worlds));
		Context.WorldLists.Keep(Request.CreatorId, Version, Answer);
	}
	Request.Response.status = 200;
	Request.Response.set_content(*Answer, "application/json");
}

void PostMyWorlds(const FApiContext& Context, FApiRequest& Request)
{
	if (!RequireJsonObject(Request))
	{
		return;
	}
	FFields Fields(Request.Json);
	const std::optional<std::string> Name = Fields.String("name", true, MaxNameBytes);
	const std::optional<std::string> Description = Fields.String("description", false, MaxDescriptionBytes);
	const std::optional<bool> bPublic = Fields.Bool("public", false);
	if (Fields.Answer422IfBad(Request.Response))
	{
		return;
	}
	const FWorldRecord World = Context.Store.CreateWorld(Request.CreatorId, *Name, Description.value_or(""),
	                                                     !bPublic.value_or(false), DefaultWorldCapacity);
	SendJson(Request.Response, 201, WorldJson(Context.Config, World));
}

void DeleteMyWorlds(const FApiContext& Context, FApiRequest& Request)
{
	if (!RequireJsonObject(Request))
	{
		return;
	}
	FFields Fields(Request.Json);
	const FJson* Ids = Fields.Array("ids", "an array of strings", true);
	std::vector<std::string> Keys;
	if (Ids != nullptr)
	{
		if (Ids->size() > MaxIdsPerDelete)
		{
			Fields.Problem("ids", "holds more than " + std::to_string(MaxIdsPerDelete) + " entries");
		}
		for (const FJson& Id : *Ids)
		{
			if (!Id.is_string())
			{
				Fields.Problem("ids", "must be an array of strings");
				break;
			}
			Keys.push_back(Id.get<std::string>());
		}
	}
	if (Fields.Answer422IfBad(Request.Response))
	{
		return;
	}

	std::vector<std::string> Files;
	if (Context.Store.DeleteWorlds(Request.CreatorId, Keys, Files) != EStoreStatus::Ok)
	{
		SendError(Request.Response, 404, "at least one of the worlds does not exist; nothing was deleted");
		return;
	}
	for (const std::string& File : Files)
	{
		std::error_code Ignored;
		std::filesystem::remove(Context.Config.ScreenshotDir / File, Ignored);
	}
	Request.Response.status = 204;
}

void GetWorld(const FApiContext& Context, FApiRequest& Request)
{
	const std::optional<FWorldRecord> World = Context.Store.FindWorld(Request.CreatorId, Request.Match(1));
	if (!World)
	{
		SendError(Request.Response, 404, "world not found");
		return;
	}
	SendJson(Request.Response, 200, WorldJson(Context.Config, *World));
}

void PatchWorld(const FApiContext& Context, FApiRequest& Request)
{
	if (!RequireJsonObject(Request))
	{
		return;
	}
	FFields Fields(Request.Json);
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
	if (Fields.Answer422IfBad(Request.Response))
	{
		return;
	}

	FWorldRecord World;
	switch (Context.Store.UpdateWorld(Request.CreatorId, Request.Match(1), Patch, World))
	{
	case EStoreStatus::NotFound:
		SendError(Request.Response, 404, "world not found");
		return;
	case EStoreStatus::Invalid:
		SendError(Request.Response, 422, "\"image_id\" is not a screenshot of this world");
		return;
	case EStoreStatus::Ok:
		SendJson(Request.Response, 200, WorldJson(Context.Config, World));
		return;
	}
}

} // namespace

FJson WorldJson(const FApiConfig& Config, const FWorldRecord& World)
{
	FJsonObject Json;
	Json.Add("id", World.Id)
	    .Add("identifier", World.Identifier)
	    .Add("name", World.Name)
	    .Add("description", World.Description)
	    .Add("capacity", World.Capacity)
	    .Add("private", World.bPrivate)
	    .Add("activitys", World.Activitys)
	    .Add("likes", World.Likes)
	    .Add("last_update", World.LastUpdate);
	if (World.TitleImage)
	{
		Json.Add("image", ImageJson(Config, *World.TitleImage));
	}
	return Json.Take();
}

void AddWorldRoutes(FApiRouter& Router)
{
	Router.Add({"GET", "me/worlds"}, GetMyWorlds);
	Router.Add({"POST", "me/worlds", EAccess::Creator, EBody::Json, MaxWorldBodyBytes}, PostMyWorlds);
	Router.Add({"DELETE", "me/worlds", EAccess::Creator, EBody::Json, MaxWorldBodyBytes}, DeleteMyWorlds);
	Router.Add({"GET", "worlds/([^/]+)"}, GetWorld);
	Router.Add({"PATCH", "worlds/([^/]+)", EAccess::Creator, EBody::Json, MaxWorldBodyBytes}, PatchWorld);
}

} // namespace OrvaDev
