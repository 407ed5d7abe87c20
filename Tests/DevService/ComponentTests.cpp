#include "DevServiceProcess.h"

#include <gtest/gtest.h>

namespace
{

// What the plugin registers after building a level /Game/W/Maps/Arena for two platforms.
const std::string TwoPlatforms =
    R"([{"metadata":{"map":"/Game/W/Maps/Arena","filename":"Arena_WindowsServer"},"name":"environment",)"
    R"("platform":"WindowsServer","sandbox":false},)"
    R"({"metadata":{"map":"/Game/W/Maps/Arena","filename":"Arena_WindowsClient"},"name":"environment",)"
    R"("platform":"WindowsClient","sandbox":false}])";

class DevServiceComponents : public ::testing::Test
{
protected:
	void SetUp() override
	{
		ASSERT_EQ(Service.Start({"--storage-bucket", "test-bucket", "--storage-access-key-id", "AKTEST",
		                         "--storage-secret-access-key", "secret/Key", "--storage-region", "eu-test-1",
		                         "--storage-session-token", "session-token-1"}),
		          "");
		Alice = Service.LoginAlice();
		ASSERT_FALSE(Alice.empty());
		WorldId = StringOf(Service.CreateWorld(Alice), "id");
		ASSERT_FALSE(WorldId.empty());
	}

	QJsonArray Register(const std::string& Body)
	{
		const httplib::Result Result = Service.PostJson("worlds/" + WorldId + "/components", Body, Alice);
		EXPECT_TRUE(Result);
		if (!Result)
		{
			return {};
		}
		EXPECT_EQ(Result->status, 201) << Result->body;
		return JsonOf(Result).array();
	}

	// The completion request carries no "accept" header.
	httplib::Result Complete(const std::string& ComponentId, const std::string& Body, const std::string& Token)
	{
		return Service.Client().Patch(Api("components/" + ComponentId + "/sts"), {{"Authorization", "Bearer " + Token}},
		                              Body, "application/json; charset=utf-8");
	}

	FTestService Service;
	std::string Alice;
	std::string WorldId;
};

TEST_F(DevServiceComponents, RegistrationAnswersOneComponentPerPlatformInOrder)
{
	const QJsonArray Components = Register(TwoPlatforms);
	ASSERT_EQ(Components.size(), 2);
	const QJsonObject Server = Components.at(0).toObject();
	const QJsonObject Client = Components.at(1).toObject();
	EXPECT_FALSE(StringOf(Server, "id").empty());
	EXPECT_NE(StringOf(Server, "id"), StringOf(Client, "id"));
	EXPECT_EQ(StringOf(Server, "platform"), "WindowsServer");
	EXPECT_EQ(StringOf(Client, "platform"), "WindowsClient");
	EXPECT_TRUE(Server.value(QLatin1String("sandbox")).isBool());
	EXPECT_EQ(StringOf(Server.value(QLatin1String("metadata")).toObject(), "filename"), "Arena_WindowsServer");
	EXPECT_EQ(StringOf(Client.value(QLatin1String("metadata")).toObject(), "filename"), "Arena_WindowsClient");

	const QJsonArray Sandbox =
	    Register(R"([{"metadata":{"map":"/Game/W/Maps/Arena","filename":"Arena_WindowsServer"},"name":"environment",)"
	             R"("platform":"WindowsServer","sandbox":true}])");
	ASSERT_EQ(Sandbox.size(), 1);
	EXPECT_TRUE(Sandbox.at(0).toObject().value(QLatin1String("sandbox")).toBool());

	EXPECT_EQ(Register("[]").size(), 0);
}

TEST_F(DevServiceComponents, TheUploadFlowEndsWithACompleteComponent)
{
	const std::string Id = StringOf(Register(TwoPlatforms).at(0).toObject(), "id");

	httplib::Result State = Service.Get("components/" + Id, Alice);
	ASSERT_TRUE(State);
	EXPECT_EQ(State->status, 200);
	ASSERT_TRUE(ObjectOf(State).value(QLatin1String("complete")).isBool());
	EXPECT_FALSE(ObjectOf(State).value(QLatin1String("complete")).toBool());

	const httplib::Result Grant = Service.PostJson("components/" + Id + "/sts", R"({"size":123456})", Alice);
	ASSERT_TRUE(Grant);
	EXPECT_EQ(Grant->status, 200);
	const QJsonObject Sts = ObjectOf(Grant).value(QLatin1String("sts")).toObject();
	EXPECT_EQ(StringOf(Sts, "token"), "session-token-1");
	EXPECT_EQ(StringOf(Sts, "access_key_id"), "AKTEST");
	EXPECT_EQ(StringOf(Sts, "secret_access_key"), "secret/Key");
	EXPECT_EQ(StringOf(Sts, "region"), "eu-test-1");
	const QJsonArray Files = ObjectOf(Grant).value(QLatin1String("files")).toArray();
	ASSERT_EQ(Files.size(), 1);
	const QJsonObject File = Files.at(0).toObject();
	EXPECT_EQ(StringOf(File, "component_id"), Id);
	EXPECT_EQ(StringOf(File, "bucket_name"), "test-bucket");
	const std::string Key = StringOf(File, "url");
	EXPECT_NE(Key.find(Id), std::string::npos) << Key;
	EXPECT_NE(Key.front(), '/') << Key;

	const httplib::Result Done = Complete(Id, R"({"checksum":"9f86d081884c7d65"})", Alice);
	ASSERT_TRUE(Done);
	EXPECT_EQ(Done->status, 200);

	State = Service.Get("components/" + Id, Alice);
	const QJsonObject After = ObjectOf(State);
	EXPECT_TRUE(After.value(QLatin1String("complete")).toBool());
	EXPECT_EQ(StringOf(After, "checksum"), "9f86d081884c7d65");
	EXPECT_EQ(After.value(QLatin1String("size")).toInteger(), 123456);
	EXPECT_EQ(StringOf(After, "url"), Key);
}

TEST(DevServiceComponentGrants, WithoutAFixedSessionTokenEachGrantHasItsOwn)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Token = Service.LoginAlice();
	const std::string World = StringOf(Service.CreateWorld(Token), "id");
	const httplib::Result Registered = Service.PostJson("worlds/" + World + "/components", TwoPlatforms, Token);
	ASSERT_TRUE(Registered);
	const std::string Id = StringOf(JsonOf(Registered).array().at(0).toObject(), "id");
	auto SessionToken = [&]
	{
		const httplib::Result Grant = Service.PostJson("components/" + Id + "/sts", R"({"size":1})", Token);
		return StringOf(ObjectOf(Grant).value(QLatin1String("sts")).toObject(), "token");
	};
	const std::string First = SessionToken();
	EXPECT_GE(First.size(), 32u);
	EXPECT_NE(First, SessionToken());
}

TEST_F(DevServiceComponents, OtherCreatorsAndUnknownIdsGet404)
{
	const std::string Id = StringOf(Register(TwoPlatforms).at(0).toObject(), "id");
	const std::string Bob = Service.LoginBob();
	ASSERT_FALSE(Bob.empty());

	EXPECT_EQ(Service.Get("components/" + Id, Bob)->status, 404);
	EXPECT_EQ(Service.PostJson("components/" + Id + "/sts", R"({"size":1})", Bob)->status, 404);
	EXPECT_EQ(Complete(Id, R"({"checksum":"x"})", Bob)->status, 404);
	EXPECT_EQ(Service.Get("components/unknown-id", Alice)->status, 404);
	EXPECT_EQ(Service.PostJson("components/unknown-id/sts", R"({"size":1})", Alice)->status, 404);
	EXPECT_EQ(Service.PostJson("worlds/unknown-world/components", TwoPlatforms, Alice)->status, 404);

	EXPECT_FALSE(ObjectOf(Service.Get("components/" + Id, Alice)).value(QLatin1String("complete")).toBool());
}

TEST_F(DevServiceComponents, BadComponentBodiesAre422)
{
	const std::string Id = StringOf(Register(TwoPlatforms).at(0).toObject(), "id");
	for (const std::string& Body : {
	         std::string(R"({"platform":"WindowsServer"})"),
	         std::string(R"([{"metadata":{"filename":"A"},"name":"environment","sandbox":false}])"),
	         std::string(R"([{"metadata":{"map":"/Game/A"},"platform":"WindowsServer"}])"),
	         std::string(R"([{"metadata":"A","platform":"WindowsServer"}])"),
	         std::string(R"([{"metadata":{"filename":"A"},"platform":"WindowsServer","sandbox":"true"}])"),
	         std::string(R"([7])"),
	         std::string(R"([{"metadata":{"filename":"A"},"platform":"WindowsServer"})"),
	     })
	{
		const httplib::Result Result = Service.PostJson("worlds/" + WorldId + "/components", Body, Alice);
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 422) << Body;
		EXPECT_FALSE(StringOf(ObjectOf(Result), "detail").empty()) << Body;
	}
	for (const std::string Body : {R"({})", R"({"size":-1})", R"({"size":"12"})", R"({"size":1.5})"})
	{
		const httplib::Result Result = Service.PostJson("components/" + Id + "/sts", Body, Alice);
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 422) << Body;
	}
	for (const std::string Body : {R"({})", R"({"checksum":""})", R"({"checksum":12})"})
	{
		const httplib::Result Result = Complete(Id, Body, Alice);
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 422) << Body;
	}
	// Only the two components of the first registration exist, neither complete.
	EXPECT_FALSE(ObjectOf(Service.Get("components/" + Id, Alice)).value(QLatin1String("complete")).toBool());
}

} // namespace
