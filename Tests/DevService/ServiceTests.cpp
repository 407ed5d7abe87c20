#include "DevServiceProcess.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

namespace
{

TEST(DevServiceLimits, BodiesOverTheLimitAre413)
{
	FTestService Service;
	ASSERT_EQ(Service.Start({"--max-body-bytes", "2048"}), "");
	const std::string Token = Service.LoginAlice();
	ASSERT_FALSE(Token.empty());

	const std::string Big = R"({"description":")" + std::string(4096, 'x') + R"(","name":"Big","public":false})";
	const httplib::Result Result = Service.PostJson("me/worlds", Big, Token);
	ASSERT_TRUE(Result);
	EXPECT_EQ(Result->status, 413);
	EXPECT_FALSE(StringOf(ObjectOf(Result), "detail").empty());

	// Under the limit on a fresh connection all is well, and nothing of the big one was kept.
	const std::unique_ptr<httplib::Client> Client = Service.Process().MakeClient();
	const httplib::Result Small =
	    Client->Post(Api("me/worlds"), JsonHeaders(Token), R"({"description":"","name":"Small","public":false})",
	                 "application/json");
	ASSERT_TRUE(Small);
	EXPECT_EQ(Small->status, 201);
	const QJsonArray Worlds = JsonOf(Client->Get(Api("me/worlds"), JsonHeaders(Token))).array();
	ASSERT_EQ(Worlds.size(), 1);
	EXPECT_EQ(StringOf(Worlds.at(0).toObject(), "name"), "Small");
}

TEST(DevServiceLimits, UnknownPathsAndVerbsAre404WithAJsonBody)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Token = Service.LoginAlice();

	const std::vector<std::pair<std::string, std::string>> Requests = {
	    {"GET", "/api/v1/nothing"},
	    {"GET", "/elsewhere"},
	    {"GET", "/api/v1/worlds//screenshots"},
	    {"POST", "/api/v1/me"},
	    {"GET", "/api/v1/files/screenshots/../orva-dev.sqlite3"},
	    {"GET", "/api/v1/files/screenshots/0123456789abcdef0123456789abcdef.png"},
	};
	for (const auto& [Verb, Path] : Requests)
	{
		const httplib::Result Result = Verb == "GET"
		                                   ? Service.Client().Get(Path, JsonHeaders(Token))
		                                   : Service.Client().Post(Path, JsonHeaders(Token), "{}", "application/json");
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 404) << Verb << " " << Path;
		EXPECT_EQ(Result->get_header_value("Content-Type"), "application/json") << Path;
		EXPECT_FALSE(StringOf(ObjectOf(Result), "detail").empty()) << Path;
	}
}

TEST(DevServiceLimits, MalformedJsonIs422)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Token = Service.LoginAlice();
	for (const std::string& Body : {std::string(""), std::string("{"), std::string("{\"name\":\"a\"} x"),
	                                std::string("{\"name\":\"\\ud800\"}"), std::string("{\"name\":\"\xC3\x28\"}"),
	                                std::string("{\"name\":\"a\",\"name\":\"b\"}"), std::string(200, '[')})
	{
		const httplib::Result Result = Service.PostJson("me/worlds", Body, Token);
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 422) << Body;
		EXPECT_FALSE(StringOf(ObjectOf(Result), "detail").empty());
	}
	EXPECT_EQ(JsonOf(Service.Get("me/worlds", Token)).array().size(), 0);
}

TEST(DevServiceLogging, EachRequestIsOneLineWithoutSecrets)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Token = Service.LoginAlice();
	ASSERT_FALSE(Token.empty());
	Service.Get("me", Token);
	Service.Get("nothing", Token);
	Service.Login("email", AliceEmail, "wrong-Password-9");
	ASSERT_EQ(Service.Process().Stop(SIGTERM), 0);

	const std::string Log = Service.Process().StderrText();
	EXPECT_EQ(Log.find(Token), std::string::npos);
	EXPECT_EQ(Log.find(AlicePassword), std::string::npos);
	EXPECT_EQ(Log.find("wrong-Password-9"), std::string::npos);

	std::vector<std::string> Lines;
	std::istringstream Stream(Log);
	for (std::string Line; std::getline(Stream, Line);)
	{
		Lines.push_back(Line);
	}
	// httplib logs after the answer is written, so a request on the next connection may be logged
	// first: the lines are compared without their order.
	std::vector<std::string> Expected = {
	    "GET /api/v1/me 200",
	    "GET /api/v1/nothing 404",
	    "POST /api/v1/auth/token 200",
	    "POST /api/v1/auth/token 401",
	};
	ASSERT_EQ(Lines.size(), Expected.size()) << Log;
	std::vector<std::string> Seen;
	for (const std::string& Line : Lines)
	{
		std::smatch Match;
		ASSERT_TRUE(std::regex_match(Line, Match, std::regex(R"((\S+ \S+ \d{3}) \d+\.\d\dms)"))) << Line;
		Seen.push_back(Match[1].str());
	}
	std::sort(Seen.begin(), Seen.end());
	EXPECT_EQ(Seen, Expected);
}

TEST(DevServiceProcessLife, StopsCleanlyOnSigtermAndSigint)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	EXPECT_EQ(Service.Process().Stop(SIGTERM), 0);
	ASSERT_EQ(Service.Restart(), "");
	// With a keep-alive connection still open.
	ASSERT_FALSE(Service.LoginAlice().empty());
	EXPECT_EQ(Service.Process().Stop(SIGINT), 0);
}

TEST(DevServiceProcessLife, ASecondServiceOnTheSameDataIsRefused)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	FDevServiceProcess Second(ORVA_DEVSERVICE_PATH, Service.DataDir(), {});
	EXPECT_NE(Second.Start(), "");
	EXPECT_NE(Second.StderrText().find("in use"), std::string::npos) << Second.StderrText();
	EXPECT_EQ(Service.Get("me", Service.LoginAlice())->status, 200);
}

TEST(DevServiceConcurrency, ParallelCreatorsKeepEveryWrite)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Alice = Service.LoginAlice();
	const std::string Bob = Service.LoginBob();
	ASSERT_FALSE(Alice.empty());
	ASSERT_FALSE(Bob.empty());

	constexpr int Workers = 8;
	constexpr int WorldsEach = 12;
	std::vector<std::vector<std::string>> Created(Workers);
	std::vector<std::thread> Threads;
	Threads.reserve(Workers);
	for (int Worker = 0; Worker < Workers; ++Worker)
	{
		Threads.emplace_back(
		    [&, Worker]
		    {
			    const std::string& Token = Worker % 2 == 0 ? Alice : Bob;
			    const std::unique_ptr<httplib::Client> Client = Service.Process().MakeClient();
			    for (int Index = 0; Index < WorldsEach; ++Index)
			    {
				    const httplib::Result Result =
				        Client->Post(Api("me/worlds"), JsonHeaders(Token),
				                     R"({"description":"","name":"W)" + std::to_string(Worker) + R"(","public":false})",
				                     "application/json");
				    if (Result && Result->status == 201)
				    {
					    Created[static_cast<size_t>(Worker)].push_back(StringOf(ObjectOf(Result), "id"));
				    }
				    // Reads interleave with the writes.
				    Client->Get(Api("me/worlds"), JsonHeaders(Token));
			    }
		    });
	}
	for (std::thread& Thread : Threads)
	{
		Thread.join();
	}

	std::set<std::string> AliceIds;
	std::set<std::string> BobIds;
	for (int Worker = 0; Worker < Workers; ++Worker)
	{
		EXPECT_EQ(Created[static_cast<size_t>(Worker)].size(), static_cast<size_t>(WorldsEach));
		auto& Ids = Worker % 2 == 0 ? AliceIds : BobIds;
		Ids.insert(Created[static_cast<size_t>(Worker)].begin(), Created[static_cast<size_t>(Worker)].end());
	}
	const auto Listed = [&](const std::string& Token)
	{
		std::set<std::string> Ids;
		for (const auto& World : JsonOf(Service.Get("me/worlds", Token)).array())
		{
			Ids.insert(StringOf(World.toObject(), "id"));
		}
		return Ids;
	};
	EXPECT_EQ(AliceIds.size(), static_cast<size_t>(Workers / 2 * WorldsEach));
	EXPECT_EQ(Listed(Alice), AliceIds);
	EXPECT_EQ(Listed(Bob), BobIds);
}

} // namespace
