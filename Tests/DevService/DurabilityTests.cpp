#include "DevServiceProcess.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <filesystem>

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

namespace
{
// Runs SQL straight on a stopped service's database, as an earlier service (or a hand) left it.
bool ExecOn(const std::filesystem::path& Database, const char* Sql, std::string& OutProblem)
{
	sqlite3* Db = nullptr;
	bool bOk = sqlite3_open_v2(Database.c_str(), &Db, SQLITE_OPEN_READWRITE, nullptr) == SQLITE_OK;
	char* Message = nullptr;
	bOk = bOk && sqlite3_exec(Db, Sql, nullptr, nullptr, &Message) == SQLITE_OK;
	OutProblem = Message != nullptr ? Message : (bOk ? "" : sqlite3_errmsg(Db));
	sqlite3_free(Message);
	sqlite3_close(Db);
	return bOk;
}
} // namespace

// Rows written by their table and column names, every field filled, read back through the API: a
// database the service wrote before opens with everything in it; one from a newer service is
// refused with a clear word and left as it was.
TEST(DevServiceDurability, ADatabaseWrittenBeforeOpensAndANewerOneIsRefused)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Token = Service.LoginAlice();
	ASSERT_FALSE(Token.empty());
	ASSERT_EQ(Service.Process().Stop(SIGTERM), 0);
	const std::filesystem::path Database = Service.DataDir() / "orva-dev.sqlite3";
	std::string Problem;
	ASSERT_TRUE(ExecOn(Database, R"sql(
		INSERT INTO worlds (id, identifier, creator_id, name, description, capacity, private, activitys, likes,
		                    title_image_id, last_update, created_at)
		VALUES ('w-before', 'beforebeforebefo', (SELECT id FROM creators WHERE email = 'alice@example.com'),
		        'Before', 'Written before', 12, 0, 3, 5, 's-before', '2024-05-01T12:00:00Z', '2024-05-01T11:00:00Z');
		INSERT INTO screenshots (id, world_id, name, stored_name, content_type, size, created_at)
		VALUES ('s-before', 'w-before', 'before.png', 'before-stored.png', 'image/png', 4, '2024-05-01T12:00:00Z');
		INSERT INTO components (id, world_id, name, platform, sandbox, map, filename, complete, checksum, object_key,
		                        size, created_at, updated_at)
		VALUES ('c-before', 'w-before', 'environment', 'WindowsServer', 1, '/Game/B/Maps/Before',
		        'Before_WindowsServer', 1, 'beef', 'worlds/w-before/c-before.pak', 42, '2024-05-01T11:00:00Z',
		        '2024-05-01T12:00:00Z');
	)sql",
	                   Problem))
	    << Problem;

	ASSERT_EQ(Service.Restart(), "");
	const httplib::Result Listed = Service.Get("me/worlds", Token);
	ASSERT_TRUE(Listed);
	ASSERT_EQ(Listed->status, 200) << Listed->body;
	const QJsonArray Worlds = JsonOf(Listed).array();
	ASSERT_EQ(Worlds.size(), 1) << Listed->body;
	const QJsonObject World = Worlds.at(0).toObject();
	EXPECT_EQ(StringOf(World, "id"), "w-before");
	EXPECT_EQ(StringOf(World, "identifier"), "beforebeforebefo");
	EXPECT_EQ(StringOf(World, "name"), "Before");
	EXPECT_EQ(StringOf(World, "description"), "Written before");
	EXPECT_EQ(World.value(QLatin1String("capacity")).toInt(), 12);
	EXPECT_FALSE(World.value(QLatin1String("private")).toBool());
	EXPECT_EQ(World.value(QLatin1String("activitys")).toInt(), 3);
	EXPECT_EQ(World.value(QLatin1String("likes")).toInt(), 5);
	EXPECT_EQ(StringOf(World, "last_update"), "2024-05-01T12:00:00Z");
	EXPECT_EQ(StringOf(World.value(QLatin1String("image")).toObject(), "id"), "s-before");

	const QJsonObject Component = ObjectOf(Service.Get("components/c-before", Token));
	EXPECT_EQ(StringOf(Component, "world_id"), "w-before");
	EXPECT_TRUE(Component.value(QLatin1String("sandbox")).toBool());
	EXPECT_TRUE(Component.value(QLatin1String("complete")).toBool());
	EXPECT_EQ(StringOf(Component, "checksum"), "beef");
	EXPECT_EQ(StringOf(Component, "url"), "worlds/w-before/c-before.pak");
	EXPECT_EQ(Component.value(QLatin1String("size")).toInt(), 42);
	EXPECT_EQ(StringOf(Component.value(QLatin1String("metadata")).toObject(), "filename"), "Before_WindowsServer");

	// A schema this service does not know: it says so and does not start, and the rows stay.
	ASSERT_EQ(Service.Process().Stop(SIGTERM), 0);
	ASSERT_TRUE(ExecOn(Database, "PRAGMA user_version = 2", Problem)) << Problem;
	EXPECT_NE(Service.Restart(), "");
	EXPECT_NE(Service.Process().StderrText().find("written by a newer service (schema 2)"), std::string::npos)
	    << Service.Process().StderrText();
	ASSERT_TRUE(ExecOn(Database, "PRAGMA user_version = 1", Problem)) << Problem;
	ASSERT_EQ(Service.Restart(), "");
	EXPECT_EQ(JsonOf(Service.Get("me/worlds", Token)).array().size(), 1);
}
