// A world's components and their upload credentials: "worlds/{id}/components" and
// "components/{id}[/sts]".

#include "ApiRoutes.h"
#include "Clock.h"
#include "Random.h"
#include "StorageClient.h"
#include "Store.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>

namespace OrvaDev
{

namespace
{

constexpr size_t MaxComponentsPerRequest = 64;
constexpr int64_t MaxComponentSize = int64_t{5} * 1000 * 1000 * 1000; // one S3 PUT
// Up to 64 components of a few short fields each.
constexpr size_t MaxComponentListBytes = 1024 * 1024;

FStorageClient::FDeadline StoreDeadline(const FStorageOptions& Storage)
{
	return std::chrono::steady_clock::now() + std::chrono::seconds(Storage.RequestDeadlineSeconds);
}

FJson ComponentJson(const FComponentRecord& Component)
{
	// Null until the upload has got that far.
	const auto OptionalText = [](const std::string& Text) { return Text.empty() ? FJson() : FJson(Text); };
	return FJsonObject()
	    .Add("id", Component.Id)
	    .Add("world_id", Component.WorldId)
	    .Add("name", Component.Name)
	    .Add("platform", Component.Platform)
	    .Add("sandbox", Component.bSandbox)
	    .Add("metadata", FJsonObject(2).Add("map", Component.Map).Add("filename", Component.Filename).Take())
	    .Add("complete", Component.bComplete)
	    .Add("checksum", OptionalText(Component.Checksum))
	    .Add("url", OptionalText(Component.ObjectKey))
	    .Add("size", Component.Size < 0 ? FJson() : FJson(Component.Size))
	    .Add("created_at", Component.CreatedAt)
	    .Add("updated_at", Component.UpdatedAt)
	    .Take();
}

void PostComponents(const FApiContext& Context, FApiRequest& Request)
{
	const FJson& Body = Request.Json;
	if (!Body.is_array())
	{
		SendError(Request.Response, 422, "the body must be a JSON array of components");
		return;
	}
	if (Body.size() > MaxComponentsPerRequest)
	{
		SendError(Request.Response, 422,
		          "at most " + std::to_string(MaxComponentsPerRequest) + " components per request");
		return;
	}
	std::vector<FNewComponent> Components;
	for (size_t Index = 0; Index < Body.size(); ++Index)
	{
		const FJson& Entry = Body[Index];
		const std::string Where = "component " + std::to_string(Index) + ": ";
		if (!Entry.is_object())
		{
			SendError(Request.Response, 422, Where + "must be an object");
			return;
		}
		FFields Fields(Entry, Where);
		FNewComponent Component;
		Component.Name = Fields.String("name", false).value_or("environment");
		Component.Platform = Fields.String("platform", true).value_or("");
		Component.bSandbox = Fields.Bool("sandbox", false).value_or(false);
		if (const FJson* Metadata = Fields.Object("metadata", true))
		{
			FFields MetadataFields(*Metadata, Where + "metadata: ");
			Component.Filename = MetadataFields.String("filename", true).value_or("");
			Component.Map = MetadataFields.String("map", false).value_or("");
			if (MetadataFields.Answer422IfBad(Request.Response))
			{
				return;
			}
		}
		if (Fields.Ok() && Component.Platform.empty())
		{
			Fields.Problem("platform", "must not be empty");
		}
		if (Fields.Answer422IfBad(Request.Response))
		{
			return;
		}
		Components.push_back(std::move(Component));
	}

	const std::optional<std::vector<FComponentRecord>> Records =
	    Context.Store.AddComponents(Request.CreatorId, Request.Match(1), Components);
	if (!Records)
	{
		SendError(Request.Response, 404, "world not found");
		return;
	}
	FJson Json = FJson::array();
	for (const FComponentRecord& Record : *Records)
	{
		Json.push_back(ComponentJson(Record));
	}
	SendJson(Request.Response, 201, Json);
}

void GetComponent(const FApiContext& Context, FApiRequest& Request)
{
	const std::optional<FComponentRecord> Component = Context.Store.FindComponent(Request.CreatorId, Request.Match(1));
	if (!Component)
	{
		SendError(Request.Response, 404, "component not found");
		return;
	}
	SendJson(Request.Response, 200, ComponentJson(*Component));
}

void PostComponentSts(const FApiContext& Context, FApiRequest& Request)
{
	if (!RequireJsonObject(Request))
	{
		return;
	}
	FFields Fields(Request.Json);
	const std::optional<int64_t> Size = Fields.Integer("size", true);
	if (Fields.Ok() && (*Size < 0 || *Size > MaxComponentSize))
	{
		Fields.Problem("size", "must be a byte count from 0 to " + std::to_string(MaxComponentSize));
	}
	if (Fields.Answer422IfBad(Request.Response))
	{
		return;
	}

	const std::string ComponentId = Request.Match(1);
	const std::optional<FComponentRecord> Existing = Context.Store.FindComponent(Request.CreatorId, ComponentId);
	if (!Existing)
	{
		SendError(Request.Response, 404, "component not found");
		return;
	}
	const FStorageOptions& Storage = Context.Config.Storage;
	// One object per component, under its world, so that a re-upload replaces the old pak.
	const std::string ObjectKey = Context.Config.StorageClient
	                                  ? "worlds/" + Existing->WorldId + "/" + ComponentId + ".pak"
	                                  : "worlds/" + Existing->WorldIdentifier + "/components/" + ComponentId + ".pak";
	FTemporaryCredentials Issued;
	if (Context.Config.StorageClient)
	{
		// Role names allow letters, digits and "+=,.@_-", 64 characters at most.
		std::string RoleName = "orva-upload-";
		for (const char C : ComponentId)
		{
			RoleName.push_back(std::isalnum(static_cast<unsigned char>(C)) || C == '-' || C == '_' ? C : '_');
		}
		RoleName.resize(std::min<size_t>(RoleName.size(), 64));
		std::string Problem;
		Issued = Context.Config.StorageClient->IssueUploadCredentials(
		    RoleName, ObjectKey,
		    std::clamp<int64_t>(Storage.CredentialLifetimeSeconds, Storage.bShortLivedCredentials ? 1 : 900, 3600),
		    StoreDeadline(Storage), Problem);
		if (Issued.AccessKeyId.empty())
		{
			std::fprintf(stderr, "OrvaDevService: upload credentials for %s: %s\n", ComponentId.c_str(),
			             Problem.c_str());
			SendError(Request.Response, 503, "the object store issues no upload credentials now: " + Problem);
			return;
		}
	}
	const std::optional<FComponentRecord> Component =
	    Context.Store.RecordUploadGrant(Request.CreatorId, ComponentId, *Size, ObjectKey);
	if (!Component)
	{
		SendError(Request.Response, 404, "component not found");
		return;
	}

	const bool bSts = Context.Config.StorageClient != nullptr;
	const std::string SessionToken =
	    bSts ? Issued.SessionToken : (Storage.SessionToken ? *Storage.SessionToken : Base64UrlEncode(RandomBytes(32)));
	SendJson(Request.Response, 200,
	         FJson::object({
	             {"sts", FJson::object({
	                         {"token", SessionToken},
	                         {"access_key_id", bSts ? Issued.AccessKeyId : Storage.AccessKeyId},
	                         {"secret_access_key", bSts ? Issued.SecretAccessKey : Storage.SecretAccessKey},
	                         {"region", Storage.Region},
	                         {"endpoint", Storage.Endpoint},
	                         {"expiration", bSts ? Issued.Expiration
	                                             : FormatIso8601(NowUnixSeconds() + Storage.CredentialLifetimeSeconds)},
	                     })},
	             {"files", FJson::array({FJson::object({
	                           {"component_id", Component->Id},
	                           {"bucket_name", Storage.Bucket},
	                           {"url", Component->ObjectKey},
	                       })})},
	         }));
}

void PatchComponentSts(const FApiContext& Context, FApiRequest& Request)
{
	if (!RequireJsonObject(Request))
	{
		return;
	}
	FFields Fields(Request.Json);
	const std::optional<std::string> Checksum = Fields.String("checksum", true);
	if (Fields.Ok() && Checksum->empty())
	{
		Fields.Problem("checksum", "must not be empty");
	}
	if (Fields.Answer422IfBad(Request.Response))
	{
		return;
	}
	if (Context.Config.StorageClient)
	{
		// Complete only what the store holds, at the size that was registered for it.
		const std::optional<FComponentRecord> Granted =
		    Context.Store.FindComponent(Request.CreatorId, Request.Match(1));
		if (!Granted)
		{
			SendError(Request.Response, 404, "component not found");
			return;
		}
		if (Granted->ObjectKey.empty())
		{
			SendError(Request.Response, 409, "no upload was granted for this component");
			return;
		}
		std::string Problem;
		const std::optional<int64_t> Stored = Context.Config.StorageClient->ObjectSize(
		    Granted->ObjectKey, StoreDeadline(Context.Config.Storage), Problem);
		if (!Stored)
		{
			SendError(Request.Response, Problem.empty() ? 409 : 503,
			          Problem.empty() ? "the object " + Granted->ObjectKey + " is not in the store"
			                          : "cannot check the object in the store: " + Problem);
			return;
		}
		if (*Stored != Granted->Size)
		{
			SendError(Request.Response, 409,
			          "the stored object has " + std::to_string(*Stored) + " bytes, " + std::to_string(Granted->Size) +
			              " were registered");
			return;
		}
	}
	const std::optional<FComponentRecord> Component =
	    Context.Store.CompleteComponent(Request.CreatorId, Request.Match(1), *Checksum);
	if (!Component)
	{
		SendError(Request.Response, 404, "component not found");
		return;
	}
	SendJson(Request.Response, 200, ComponentJson(*Component));
}

} // namespace

void AddComponentRoutes(FApiRouter& Router)
{
	Router.Add({"POST", "worlds/([^/]+)/components", EAccess::Creator, EBody::Json, MaxComponentListBytes},
	           PostComponents);
	Router.Add({"GET", "components/([^/]+)"}, GetComponent);
	Router.Add({"POST", "components/([^/]+)/sts", EAccess::Creator, EBody::Json}, PostComponentSts);
	Router.Add({"PATCH", "components/([^/]+)/sts", EAccess::Creator, EBody::Json}, PatchComponentSts);
}

} // namespace OrvaDev
