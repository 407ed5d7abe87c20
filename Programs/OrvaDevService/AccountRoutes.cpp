// Creator login and profile: "auth/token" and "me".

#include "ApiRoutes.h"
#include "Auth.h"

namespace OrvaDev
{

namespace
{

void PostToken(const FApiContext& Context, FApiRequest& Request)
{
	if (Request.Http.get_param_value("role") != "creator")
	{
		SendError(Request.Response, 422, "the query parameter \"role\" must be \"creator\"");
		return;
	}
	if (!RequireJsonObject(Request))
	{
		return;
	}
	FFields Fields(Request.Json);
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
	if (Fields.Answer422IfBad(Request.Response))
	{
		return;
	}

	const std::optional<FIssuedToken> Issued = Context.Auth.Login(Email.value_or(""), Phone.value_or(""), *Password);
	if (!Issued)
	{
		SendError(Request.Response, 401, "incorrect account or password");
		return;
	}
	Request.Response.set_header("Cache-Control", "no-store");
	SendJson(Request.Response, 200,
	         FJson::object(
	             {{"access_token", Issued->AccessToken}, {"token_type", "bearer"}, {"expires_in", Issued->ExpiresIn}}));
}

void GetMe(const FApiContext& Context, FApiRequest& Request)
{
	const std::optional<FCreatorProfile> Profile = Context.Auth.Profile(Request.CreatorId);
	if (!Profile)
	{
		SendError(Request.Response, 401, "the account no longer exists");
		return;
	}
	FJsonObject Json(5);
	Json.Add("id", Profile->Id)
	    .Add("display_name", Profile->DisplayName)
	    .Add("email", Profile->Email)
	    .Add("is_creator", true);
	if (!Profile->Phone.empty())
	{
		Json.Add("phone", Profile->Phone);
	}
	SendJson(Request.Response, 200, Json.Take());
}

} // namespace

void AddAccountRoutes(FApiRouter& Router)
{
	// Small: no login needs more, and this route answers anyone.
	Router.Add({"POST", "auth/token", EAccess::Anyone, EBody::Json, 16 * 1024}, PostToken);
	Router.Add({"GET", "me"}, GetMe);
}

} // namespace OrvaDev
