#include "DevServiceProcess.h"

#include <gtest/gtest.h>

namespace
{

TEST(DevServiceDurability, ARestartKeepsWorldsScreenshotsComponentsAndTokens)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Token = Service.LoginAlice();
	ASSERT_FALSE(Token.empty());

	const std::string WorldId = StringOf(Service.CreateWorld(Token), "id");
	ASSERT_FALSE(WorldId.empty());
	ASSERT_EQ(Service.PatchJson("worlds/" + WorldId, R"({"name":"Kept","description":"Still here"})", Token)->status,
	          200);
	const FPluginMultipart Form = MakePluginMultipart("kept.png", TinyPng());
	const httplib::Result Upload = Service.Client().Post(Api("worlds/" + WorldId + "/screenshots"), JsonHeaders(Token),
	                                                     Form.Body, Form.ContentType);
	ASSERT_TRUE(Upload);
	ASSERT_EQ(Upload->status, 201);
	const std::string ImageId = StringOf(ObjectOf(Upload), "id");
	ASSERT_EQ(Service.PatchJson("worlds/" + WorldId, R"({"image_id":")" + ImageId + "\"}", Token)->status, 200);
	const httplib::Result Registered = Service.PostJson(
	    "worlds/" + WorldId + "/components",
	    R"([{"metadata":{"map":"/Game/K/Maps/Keep","filename":"Keep_WindowsServer"},"name":"environment",)"
	    R"("platform":"WindowsServer","sandbox":true}])",
	    Token);
	ASSERT_TRUE(Registered);
	const std::string ComponentId = StringOf(JsonOf(Registered).array().at(0).toObject(), "id");
	ASSERT_EQ(Service.PatchJson("components/" + ComponentId + "/sts", R"({"checksum":"c0ffee"})", Token)->status, 200);

	ASSERT_EQ(Service.Restart(), "");

	// The token issued before the restart is still accepted.
	const httplib::Result List = Service.Get("me/worlds", Token);
	ASSERT_TRUE(List);
	ASSERT_EQ(List->status, 200);
	const QJsonArray Worlds = JsonOf(List).array();
	ASSERT_EQ(Worlds.size(), 1);
	const QJsonObject World = Worlds.at(0).toObject();
	EXPECT_EQ(StringOf(World, "name"), "Kept");
	EXPECT_EQ(StringOf(World, "description"), "Still here");
	const QJsonObject Title = World.value(QLatin1String("image")).toObject();
	EXPECT_EQ(StringOf(Title, "id"), ImageId);

	// The address names the port of the running service, and the file is served from there.
	const std::string Url = StringOf(Title, "url");
	const std::string Origin = "http://127.0.0.1:" + std::to_string(Service.Process().Port());
	ASSERT_EQ(Url.rfind(Origin, 0), 0u) << Url;
	const httplib::Result File = Service.Client().Get(Url.substr(Origin.size()));
	ASSERT_TRUE(File);
	EXPECT_EQ(File->status, 200);
	EXPECT_EQ(File->body, TinyPng());

	const QJsonArray Shots = ObjectOf(Service.Get("worlds/" + WorldId + "/screenshots", Token))
	                             .value(QLatin1String("screen_shots"))
	                             .toArray();
	ASSERT_EQ(Shots.size(), 1);
	const QJsonObject Component = ObjectOf(Service.Get("components/" + ComponentId, Token));
	EXPECT_TRUE(Component.value(QLatin1String("complete")).toBool());
	EXPECT_EQ(StringOf(Component, "checksum"), "c0ffee");
}

TEST(DevServiceDurability, AKilledServiceKeepsWhatItHadAnswered)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Token = Service.LoginAlice();
	ASSERT_FALSE(Token.empty());
	const QJsonObject Created = Service.CreateWorld(Token);
	ASSERT_FALSE(Created.isEmpty());

	Service.Process().Kill();
	ASSERT_EQ(Service.Restart(), "");

	const QJsonArray Worlds = JsonOf(Service.Get("me/worlds", Token)).array();
	ASSERT_EQ(Worlds.size(), 1);
	EXPECT_EQ(StringOf(Worlds.at(0).toObject(), "id"), StringOf(Created, "id"));
	EXPECT_EQ(StringOf(Worlds.at(0).toObject(), "identifier"), StringOf(Created, "identifier"));
	// And it goes on taking writes.
	EXPECT_FALSE(Service.CreateWorld(Token).isEmpty());
}

} // namespace
