#include "DevServiceProcess.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace
{

class DevServiceWorlds : public ::testing::Test
{
protected:
	void SetUp() override
	{
		ASSERT_EQ(Service.Start(), "");
		Alice = Service.LoginAlice();
		Bob = Service.LoginBob();
		ASSERT_FALSE(Alice.empty());
		ASSERT_FALSE(Bob.empty());
	}

	QJsonArray ListWorlds(const std::string& Token)
	{
		const httplib::Result Result = Service.Get("me/worlds", Token);
		EXPECT_TRUE(Result && Result->status == 200);
		return JsonOf(Result).array();
	}

	httplib::Result Delete(const std::string& Body, const std::string& Token)
	{
		// The plugin's deletion carries no "accept" header.
		return Service.Client().Delete(Api("me/worlds"), {{"Authorization", "Bearer " + Token}}, Body,
		                               "application/json; charset=utf-8");
	}

	httplib::Result UploadPng(const std::string& WorldId)
	{
		const FPluginMultipart Form = MakePluginMultipart("shot.png", TinyPng());
		return Service.Client().Post(Api("worlds/" + WorldId + "/screenshots"), JsonHeaders(Alice), Form.Body,
		                             Form.ContentType);
	}

	FTestService Service;
	std::string Alice;
	std::string Bob;
};

TEST_F(DevServiceWorlds, ANewWorldIsListedWithEveryKeyThePluginReads)
{
	const QJsonObject Created = Service.CreateWorld(Alice);
	ASSERT_FALSE(Created.isEmpty());
	const std::string Identifier = StringOf(Created, "identifier");
	EXPECT_TRUE(std::regex_match(Identifier, std::regex("[a-z][a-z0-9]{0,31}"))) << Identifier;
	EXPECT_FALSE(StringOf(Created, "id").empty());
	EXPECT_EQ(StringOf(Created, "name"), "NewWorld");
	// "public": false in the plugin's body.
	EXPECT_TRUE(Created.value(QLatin1String("private")).toBool());

	const QJsonArray Worlds = ListWorlds(Alice);
	ASSERT_EQ(Worlds.size(), 1);
	const QJsonObject World = Worlds.at(0).toObject();
	EXPECT_EQ(World.value(QLatin1String("identifier")).toString().toStdString(), Identifier);
	EXPECT_EQ(StringOf(World, "id"), StringOf(Created, "id"));
	EXPECT_EQ(StringOf(World, "name"), "NewWorld");
	EXPECT_TRUE(World.value(QLatin1String("description")).isString());
	EXPECT_TRUE(World.value(QLatin1String("capacity")).isDouble());
	EXPECT_TRUE(World.value(QLatin1String("private")).isBool());
	EXPECT_TRUE(World.value(QLatin1String("activitys")).isDouble());
	EXPECT_TRUE(World.value(QLatin1String("likes")).isDouble());
	EXPECT_TRUE(std::regex_match(StringOf(World, "last_update"), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
	EXPECT_FALSE(World.contains(QLatin1String("image")));

	const httplib::Result Public =
	    Service.PostJson("me/worlds", R"({"description":"d","name":"Open","public":true})", Alice);
	ASSERT_TRUE(Public);
	EXPECT_EQ(Public->status, 201);
	EXPECT_FALSE(ObjectOf(Public).value(QLatin1String("private")).toBool());
}

TEST_F(DevServiceWorlds, IdsAndIdentifiersAreUniqueAndTheListKeepsCreationOrder)
{
	std::vector<std::string> Ids;
	std::set<std::string> Identifiers;
	for (int Index = 0; Index < 20; ++Index)
	{
		const QJsonObject World = Service.CreateWorld(Alice);
		Ids.push_back(StringOf(World, "id"));
		Identifiers.insert(StringOf(World, "identifier"));
	}
	EXPECT_EQ(std::set<std::string>(Ids.begin(), Ids.end()).size(), 20u);
	EXPECT_EQ(Identifiers.size(), 20u);

	const QJsonArray Worlds = ListWorlds(Alice);
	ASSERT_EQ(Worlds.size(), 20);
	for (int Index = 0; Index < 20; ++Index)
	{
		EXPECT_EQ(StringOf(Worlds.at(Index).toObject(), "id"), Ids[static_cast<size_t>(Index)]);
	}
}

TEST_F(DevServiceWorlds, PatchChangesPrivacyNameAndDescription)
{
	const std::string Id = StringOf(Service.CreateWorld(Alice), "id");

	httplib::Result Result = Service.PatchJson("worlds/" + Id, R"({"private":false})", Alice);
	ASSERT_TRUE(Result);
	EXPECT_EQ(Result->status, 200);
	EXPECT_FALSE(ObjectOf(Result).value(QLatin1String("private")).toBool());

	Result =
	    Service.PatchJson("worlds/" + Id, R"({"name":"Harbour \u00c4rea","description":"Line one\nline two"})", Alice);
	ASSERT_TRUE(Result);
	EXPECT_EQ(Result->status, 200);
	EXPECT_EQ(StringOf(ObjectOf(Result), "name"), "Harbour \xC3\x84rea");

	const QJsonObject World = ListWorlds(Alice).at(0).toObject();
	EXPECT_FALSE(World.value(QLatin1String("private")).toBool());
	EXPECT_EQ(StringOf(World, "name"), "Harbour \xC3\x84rea");
	EXPECT_EQ(StringOf(World, "description"), "Line one\nline two");

	Result = Service.PatchJson("worlds/" + Id, R"({"private":true})", Alice);
	EXPECT_TRUE(ListWorlds(Alice).at(0).toObject().value(QLatin1String("private")).toBool());
	// A change of privacy alone keeps the name.
	EXPECT_EQ(StringOf(ListWorlds(Alice).at(0).toObject(), "name"), "Harbour \xC3\x84rea");
}

TEST_F(DevServiceWorlds, TheTitleImageMustBeAScreenshotOfThatWorld)
{
	const std::string First = StringOf(Service.CreateWorld(Alice), "id");
	const std::string Second = StringOf(Service.CreateWorld(Alice), "id");
	const httplib::Result Upload = UploadPng(First);
	ASSERT_TRUE(Upload);
	ASSERT_EQ(Upload->status, 201);
	const QJsonObject Image = ObjectOf(Upload);
	const std::string ImageId = StringOf(Image, "id");

	for (const auto& [World, Body] : std::vector<std::pair<std::string, std::string>>{
	         {Second, R"({"image_id":")" + ImageId + "\"}"}, {First, R"({"image_id":"no-such-image"})"}})
	{
		const httplib::Result Result = Service.PatchJson("worlds/" + World, Body, Alice);
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 422) << Body;
		EXPECT_FALSE(StringOf(ObjectOf(Result), "detail").empty());
	}
	EXPECT_FALSE(ListWorlds(Alice).at(1).toObject().contains(QLatin1String("image")));

	const httplib::Result Set = Service.PatchJson("worlds/" + First, R"({"image_id":")" + ImageId + "\"}", Alice);
	ASSERT_TRUE(Set);
	EXPECT_EQ(Set->status, 200);
	const QJsonObject Title = ListWorlds(Alice).at(0).toObject().value(QLatin1String("image")).toObject();
	EXPECT_EQ(StringOf(Title, "id"), ImageId);
	EXPECT_EQ(StringOf(Title, "name"), "shot.png");
	EXPECT_EQ(StringOf(Title, "url"), StringOf(Image, "url"));
	EXPECT_EQ(Title.value(QLatin1String("size")).toInteger(), static_cast<qint64>(TinyPng().size()));

	const httplib::Result Cleared = Service.PatchJson("worlds/" + First, R"({"image_id":null})", Alice);
	ASSERT_TRUE(Cleared);
	EXPECT_EQ(Cleared->status, 200);
	EXPECT_FALSE(ListWorlds(Alice).at(0).toObject().contains(QLatin1String("image")));
}

TEST_F(DevServiceWorlds, DeleteRemovesExactlyTheNamedWorlds)
{
	const QJsonObject A = Service.CreateWorld(Alice);
	const QJsonObject B = Service.CreateWorld(Alice);
	const QJsonObject C = Service.CreateWorld(Alice);
	const QJsonObject D = Service.CreateWorld(Alice);

	// One unknown id keeps every other one alive.
	httplib::Result Result = Delete(R"({"ids":[")" + StringOf(A, "id") + R"(","missing"]})", Alice);
	ASSERT_TRUE(Result);
	EXPECT_EQ(Result->status, 404);
	EXPECT_EQ(ListWorlds(Alice).size(), 4);

	Result = Delete(R"({"ids":[")" + StringOf(A, "id") + R"(",")" + StringOf(C, "id") + R"("]})", Alice);
	ASSERT_TRUE(Result);
	EXPECT_EQ(Result->status, 204);
	EXPECT_TRUE(Result->body.empty());

	// A world's identifier names it as well as its id.
	Result = Delete(R"({"ids":[")" + StringOf(D, "identifier") + R"("]})", Alice);
	ASSERT_TRUE(Result);
	EXPECT_EQ(Result->status, 204);

	const QJsonArray Left = ListWorlds(Alice);
	ASSERT_EQ(Left.size(), 1);
	EXPECT_EQ(StringOf(Left.at(0).toObject(), "id"), StringOf(B, "id"));
	EXPECT_EQ(Service.Get("worlds/" + StringOf(A, "id"), Alice)->status, 404);
}

TEST_F(DevServiceWorlds, CreatorsReachOnlyTheirOwnWorlds)
{
	const std::string Id = StringOf(Service.CreateWorld(Alice), "id");
	const QJsonObject Before = ListWorlds(Alice).at(0).toObject();

	EXPECT_EQ(ListWorlds(Bob).size(), 0);
	EXPECT_EQ(Service.Get("worlds/" + Id, Bob)->status, 404);
	EXPECT_EQ(Service.PatchJson("worlds/" + Id, R"({"name":"Taken"})", Bob)->status, 404);
	EXPECT_EQ(Delete(R"({"ids":[")" + Id + "\"]}", Bob)->status, 404);
	EXPECT_EQ(Service.Get("worlds/" + Id + "/screenshots", Bob)->status, 404);
	const FPluginMultipart Form = MakePluginMultipart("x.png", TinyPng());
	EXPECT_EQ(Service.Client()
	              .Post(Api("worlds/" + Id + "/screenshots"), JsonHeaders(Bob), Form.Body, Form.ContentType)
	              ->status,
	          404);
	EXPECT_EQ(Service
	              .PostJson("worlds/" + Id + "/components",
	                        R"([{"metadata":{"map":"/Game/M","filename":"M_WindowsServer"},"name":"environment",)"
	                        R"("platform":"WindowsServer","sandbox":true}])",
	                        Bob)
	              ->status,
	          404);

	const QJsonArray After = ListWorlds(Alice);
	ASSERT_EQ(After.size(), 1);
	EXPECT_EQ(After.at(0).toObject(), Before);
}

TEST_F(DevServiceWorlds, BadWorldBodiesAre422)
{
	const std::string Id = StringOf(Service.CreateWorld(Alice), "id");
	const std::vector<std::pair<std::string, std::string>> Posts = {
	    {"me/worlds", R"({"description":"","public":false})"},
	    {"me/worlds", R"({"description":"","name":7,"public":false})"},
	    {"me/worlds", R"({"description":"","name":"N","public":"no"})"},
	    {"me/worlds", R"({"name":"N",})"},
	    {"me/worlds", "[]"},
	};
	for (const auto& [Path, Body] : Posts)
	{
		const httplib::Result Result = Service.PostJson(Path, Body, Alice);
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 422) << Body;
		EXPECT_FALSE(StringOf(ObjectOf(Result), "detail").empty()) << Body;
	}
	for (const std::string Body : {R"({"private":"yes"})", R"({"name":null})", R"({"description":1})", "nul"})
	{
		const httplib::Result Result = Service.PatchJson("worlds/" + Id, Body, Alice);
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 422) << Body;
	}
	for (const std::string Body : {R"({"ids":"x"})", R"({"ids":[1]})", R"({})"})
	{
		const httplib::Result Result = Delete(Body, Alice);
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 422) << Body;
	}
	EXPECT_EQ(ListWorlds(Alice).size(), 1);
}

} // namespace
