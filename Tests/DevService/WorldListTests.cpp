// "me/worlds" is answered from a kept copy while the creator's worlds stay as they were: every kind
// of write must show in the very next list, byte for byte as the single-world answers show it.

#include "DevServiceProcess.h"

#include <gtest/gtest.h>

namespace
{

const std::string OnePlatform =
    R"([{"metadata":{"map":"/Game/W/Maps/Arena","filename":"Arena_WindowsServer"},"name":"environment",)"
    R"("platform":"WindowsServer","sandbox":false}])";

class DevServiceWorldList : public ::testing::Test
{
protected:
	void SetUp() override
	{
		ASSERT_EQ(Service.Start({"--storage-bucket", "test-bucket", "--storage-access-key-id", "AKTEST",
		                         "--storage-secret-access-key", "secret/Key", "--storage-region", "eu-test-1",
		                         "--storage-session-token", "session-token-1"}),
		          "");
		Alice = Service.LoginAlice();
		Bob = Service.LoginBob();
		ASSERT_FALSE(Alice.empty());
		ASSERT_FALSE(Bob.empty());
	}

	// Lists the worlds twice (the second answer comes from the kept copy when there is one) and
	// checks both against the single-world answers, which are always read from the store. Returns
	// the listed ids in order.
	std::vector<std::string> ListMatchingEachWorld(const std::string& Token)
	{
		const httplib::Result First = Service.Get("me/worlds", Token);
		const httplib::Result Second = Service.Get("me/worlds", Token);
		EXPECT_TRUE(First && First->status == 200);
		EXPECT_TRUE(Second && Second->status == 200);
		if (!First || !Second)
		{
			return {};
		}
		EXPECT_EQ(First->body, Second->body);
		EXPECT_EQ(Second->get_header_value("Content-Type"), "application/json");

		std::vector<std::string> Ids;
		std::string Expected = "[";
		for (const QJsonValue World : JsonOf(Second).array())
		{
			Ids.push_back(StringOf(World.toObject(), "id"));
			const httplib::Result Single = Service.Get("worlds/" + Ids.back(), Token);
			EXPECT_TRUE(Single && Single->status == 200) << "listed world " << Ids.back() << " is gone";
			Expected += (Ids.size() > 1 ? "," : "") + (Single ? Single->body : std::string());
		}
		EXPECT_EQ(Second->body, Expected + "]");
		return Ids;
	}

	// "last_update" counts whole seconds: a write that changes nothing else shows only when it
	// lands in a later second than the list before it. The service's clock is moved on a second.
	void MoveToNextSecond() { Service.SetClockOffset(++ClockOffset); }

	FTestService Service;
	std::string Alice;
	std::string Bob;
	int64_t ClockOffset = 0;
};

TEST_F(DevServiceWorldList, EveryKindOfWriteShowsInTheNextList)
{
	EXPECT_EQ(Service.Get("me/worlds", Alice)->body, "[]");

	const std::string First = StringOf(Service.CreateWorld(Alice), "id");
	EXPECT_EQ(ListMatchingEachWorld(Alice), std::vector<std::string>{First});
	const std::string Second = StringOf(Service.CreateWorld(Alice), "id");
	EXPECT_EQ(ListMatchingEachWorld(Alice), (std::vector<std::string>{First, Second}));

	// Name, privacy, description.
	ASSERT_EQ(Service.PatchJson("worlds/" + First, R"({"name":"Renamed","private":false,"description":"New"})", Alice)
	              ->status,
	          200);
	ListMatchingEachWorld(Alice);

	// A screenshot only touches "last_update"; making it the title image adds "image".
	MoveToNextSecond();
	const FPluginMultipart Form = MakePluginMultipart("shot.png", TinyPng());
	const httplib::Result Upload = Service.Client().Post(Api("worlds/" + Second + "/screenshots"), JsonHeaders(Alice),
	                                                     Form.Body, Form.ContentType);
	ASSERT_TRUE(Upload);
	ASSERT_EQ(Upload->status, 201);
	ListMatchingEachWorld(Alice);
	const std::string ImageId = StringOf(ObjectOf(Upload), "id");
	ASSERT_EQ(Service.PatchJson("worlds/" + Second, R"({"image_id":")" + ImageId + "\"}", Alice)->status, 200);
	ListMatchingEachWorld(Alice);
	ASSERT_EQ(Service.PatchJson("worlds/" + Second, R"({"image_id":null})", Alice)->status, 200);
	ListMatchingEachWorld(Alice);

	// Registering, granting and completing a component; completion touches "last_update".
	const httplib::Result Registered = Service.PostJson("worlds/" + First + "/components", OnePlatform, Alice);
	ASSERT_TRUE(Registered);
	ASSERT_EQ(Registered->status, 201);
	const std::string Component = StringOf(JsonOf(Registered).array().at(0).toObject(), "id");
	ASSERT_EQ(Service.PostJson("components/" + Component + "/sts", R"({"size":42})", Alice)->status, 200);
	ListMatchingEachWorld(Alice);
	MoveToNextSecond();
	const httplib::Result Done =
	    Service.Client().Patch(Api("components/" + Component + "/sts"), {{"Authorization", "Bearer " + Alice}},
	                           R"({"checksum":"9f86d081884c7d65"})", "application/json; charset=utf-8");
	ASSERT_TRUE(Done);
	ASSERT_EQ(Done->status, 200);
	ListMatchingEachWorld(Alice);

	// Another creator's writes leave this list alone, and their own list is theirs.
	const std::string BobsWorld = StringOf(Service.CreateWorld(Bob), "id");
	EXPECT_EQ(ListMatchingEachWorld(Bob), std::vector<std::string>{BobsWorld});
	EXPECT_EQ(ListMatchingEachWorld(Alice), (std::vector<std::string>{First, Second}));

	const httplib::Result Deleted =
	    Service.Client().Delete(Api("me/worlds"), {{"Authorization", "Bearer " + Alice}},
	                            R"({"ids":[")" + First + "\"]}", "application/json; charset=utf-8");
	ASSERT_TRUE(Deleted);
	ASSERT_EQ(Deleted->status, 204);
	EXPECT_EQ(ListMatchingEachWorld(Alice), std::vector<std::string>{Second});
}

} // namespace
