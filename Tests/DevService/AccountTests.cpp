#include "DevServiceProcess.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>
#include <sstream>
#include <thread>

namespace
{

std::string ReadWhole(const std::filesystem::path& Path)
{
	std::ifstream File(Path, std::ios::binary);
	std::ostringstream Bytes;
	Bytes << File.rdbuf();
	return Bytes.str();
}

TEST(DevServiceAccounts, EmailAndPhoneLoginsGiveBearerTokensThatOpenTheProfile)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");

	const httplib::Result Token = Service.Client().Post(
	    Api("auth/token?role=creator"), JsonHeaders(),
	    R"({"email":"Alice@Example.com","grant_type":"password","guest_token":"string","password":")" + AlicePassword +
	        "\"}",
	    "application/json; charset=utf-8");
	ASSERT_TRUE(Token);
	EXPECT_EQ(Token->status, 200);
	const QJsonObject TokenAnswer = ObjectOf(Token);
	const std::string AliceToken = StringOf(TokenAnswer, "access_token");
	// 256 random bits in base64url.
	EXPECT_EQ(AliceToken.size(), 43u);
	EXPECT_EQ(StringOf(TokenAnswer, "token_type"), "bearer");
	EXPECT_EQ(TokenAnswer.value(QLatin1String("expires_in")).toInt(), 86400);

	const httplib::Result Me = Service.Get("me", AliceToken);
	ASSERT_TRUE(Me);
	EXPECT_EQ(Me->status, 200);
	const QJsonObject Profile = ObjectOf(Me);
	EXPECT_EQ(StringOf(Profile, "display_name"), "Alice Example");
	EXPECT_EQ(StringOf(Profile, "email"), AliceEmail);
	EXPECT_TRUE(Profile.value(QLatin1String("is_creator")).toBool());

	const std::string BobToken = Service.LoginBob();
	ASSERT_FALSE(BobToken.empty());
	const QJsonObject BobProfile = ObjectOf(Service.Get("me", BobToken));
	EXPECT_EQ(StringOf(BobProfile, "display_name"), BobPhone);
	EXPECT_EQ(StringOf(BobProfile, "phone"), BobPhone);
	EXPECT_TRUE(BobProfile.value(QLatin1String("is_creator")).toBool());

	// Every login is a new token, and the earlier one stays valid.
	const std::string SecondAliceToken = Service.LoginAlice();
	EXPECT_NE(SecondAliceToken, AliceToken);
	EXPECT_EQ(Service.Get("me", AliceToken)->status, 200);
}

TEST(DevServiceAccounts, WrongPasswordsAndUnknownAccountsAre401WithADetail)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");

	for (const std::string Body :
	     {R"({"email":"alice@example.com","grant_type":"password","guest_token":"string","password":"nope"})",
	      R"({"email":"alice@example.com","grant_type":"password","guest_token":"string","password":""})",
	      R"({"email":"nobody@example.com","grant_type":"password","guest_token":"string","password":"x"})",
	      R"({"phone":"15550001","grant_type":"password","guest_token":"string","password":"alice-Secret-1"})"})
	{
		const httplib::Result Result = Service.PostJson("auth/token?role=creator", Body, "");
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 401) << Body;
		EXPECT_FALSE(StringOf(ObjectOf(Result), "detail").empty()) << Body;
		EXPECT_TRUE(StringOf(ObjectOf(Result), "access_token").empty());
	}
}

TEST(DevServiceAccounts, MalformedOrIncompleteTokenRequestsAre422)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");

	const std::vector<std::pair<std::string, std::string>> Cases = {
	    {"auth/token?role=creator", R"({"email":"alice@example.com","grant_type":"password")"},
	    {"auth/token?role=creator", R"({"email":"alice@example.com","grant_type":"password"})"},
	    {"auth/token?role=creator", R"({"email":"alice@example.com","grant_type":"password","password":5})"},
	    {"auth/token?role=creator", R"({"grant_type":"password","password":"x"})"},
	    {"auth/token?role=creator", R"({"email":"a@b.c","phone":"1","grant_type":"password","password":"x"})"},
	    {"auth/token?role=creator", R"({"email":"alice@example.com","grant_type":"client","password":"x"})"},
	    {"auth/token?role=creator", R"(["email","alice@example.com"])"},
	    {"auth/token", R"({"email":"alice@example.com","grant_type":"password","password":"alice-Secret-1"})"},
	    {"auth/token?role=player",
	     R"({"email":"alice@example.com","grant_type":"password","password":"alice-Secret-1"})"},
	};
	for (const auto& [Path, Body] : Cases)
	{
		const httplib::Result Result = Service.PostJson(Path, Body, "");
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 422) << Path << " " << Body;
		EXPECT_FALSE(StringOf(ObjectOf(Result), "detail").empty()) << Body;
	}
}

TEST(DevServiceAccounts, TheProfileNeedsAValidBearerToken)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Token = Service.LoginAlice();
	ASSERT_FALSE(Token.empty());

	std::string Tampered = Token;
	Tampered[5] = Tampered[5] == 'A' ? 'B' : 'A';
	for (const std::string& Header :
	     std::vector<std::string>{"", "Bearer " + Tampered, "Bearer short", "Basic " + Token, Token})
	{
		httplib::Headers Headers = {{"accept", "application/json"}};
		if (!Header.empty())
		{
			Headers.emplace("Authorization", Header);
		}
		const httplib::Result Result = Service.Client().Get(Api("me"), Headers);
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, 401) << Header;
		EXPECT_FALSE(StringOf(ObjectOf(Result), "detail").empty());
		EXPECT_EQ(Result->get_header_value("WWW-Authenticate"), "Bearer");
	}
	EXPECT_EQ(Service.Get("me", Token)->status, 200);
}

TEST(DevServiceAccounts, TokensExpireAfterTheirLifetime)
{
	FTestService Service;
	// The test moves the service's clock past the lifetime rather than waiting for it.
	ASSERT_EQ(Service.Start({"--token-lifetime", "60"}), "");
	const httplib::Result Token = Service.PostJson(
	    "auth/token?role=creator",
	    R"({"email":"alice@example.com","grant_type":"password","guest_token":"string","password":"alice-Secret-1"})",
	    "");
	ASSERT_TRUE(Token);
	EXPECT_EQ(ObjectOf(Token).value(QLatin1String("expires_in")).toInt(), 60);
	const std::string Bearer = StringOf(ObjectOf(Token), "access_token");

	EXPECT_EQ(Service.Get("me", Bearer)->status, 200);
	Service.SetClockOffset(30);
	EXPECT_EQ(Service.Get("me", Bearer)->status, 200);
	Service.SetClockOffset(61);
	EXPECT_EQ(Service.Get("me", Bearer)->status, 401);
}

TEST(DevServiceAccounts, PasswordsAndTokensAreStoredOnlyAsHashes)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Token = Service.LoginAlice();
	ASSERT_FALSE(Token.empty());
	ASSERT_EQ(Service.Process().Stop(SIGTERM), 0);

	const std::filesystem::path Database = Service.DataDir() / "orva-dev.sqlite3";
	sqlite3* Db = nullptr;
	ASSERT_EQ(sqlite3_open_v2(Database.c_str(), &Db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
	sqlite3_stmt* Query = nullptr;
	ASSERT_EQ(sqlite3_prepare_v2(Db,
	                             "SELECT length(password_salt), length(password_hash), password_iterations "
	                             "FROM creators WHERE email = 'alice@example.com'",
	                             -1, &Query, nullptr),
	          SQLITE_OK);
	ASSERT_EQ(sqlite3_step(Query), SQLITE_ROW);
	EXPECT_GE(sqlite3_column_int(Query, 0), 16);
	EXPECT_EQ(sqlite3_column_int(Query, 1), 32);
	EXPECT_GE(sqlite3_column_int(Query, 2), 100000);
	sqlite3_finalize(Query);
	sqlite3_close(Db);

	// Nowhere in the data folder, in any form SQLite may have left it.
	for (const auto& Entry : std::filesystem::recursive_directory_iterator(Service.DataDir()))
	{
		if (Entry.is_regular_file())
		{
			const std::string Bytes = ReadWhole(Entry.path());
			EXPECT_EQ(Bytes.find(AlicePassword), std::string::npos) << Entry.path();
			EXPECT_EQ(Bytes.find(BobPassword), std::string::npos) << Entry.path();
			EXPECT_EQ(Bytes.find(Token), std::string::npos) << Entry.path();
		}
	}
}

TEST(DevServiceAccounts, SeedFileCreatesEmailAndPhoneAccounts)
{
	FTempDir Temp;
	const std::filesystem::path SeedFile = Temp.Path() / "seed.json";
	std::ofstream(SeedFile) << R"({"creators":[
		{"email":"carol@example.com","password":"carol-pw","display_name":"Carol"},
		{"phone":"+4930123456","password":"dave-pw"}]})";

	FDevServiceProcess Process(ORVA_DEVSERVICE_PATH, Temp.Path() / "data", {"--seed-file", SeedFile.string()});
	ASSERT_EQ(Process.Start(), "");
	const std::unique_ptr<httplib::Client> Client = Process.MakeClient();

	auto Login = [&Client](const std::string& Body)
	{
		const httplib::Result Result =
		    Client->Post(Api("auth/token?role=creator"), JsonHeaders(), Body, "application/json; charset=utf-8");
		return Result ? StringOf(ObjectOf(Result), "access_token") : std::string();
	};
	const std::string Carol =
	    Login(R"({"email":"carol@example.com","grant_type":"password","guest_token":"string","password":"carol-pw"})");
	ASSERT_FALSE(Carol.empty());
	EXPECT_EQ(StringOf(ObjectOf(Client->Get(Api("me"), JsonHeaders(Carol))), "display_name"), "Carol");
	EXPECT_FALSE(Login(R"({"phone":"+4930123456","grant_type":"password","guest_token":"string","password":"dave-pw"})")
	                 .empty());
}

TEST(DevServiceAccounts, ABrokenSeedFileStopsTheStart)
{
	FTempDir Temp;
	const std::filesystem::path SeedFile = Temp.Path() / "seed.json";
	std::ofstream(SeedFile) << R"({"creators":[{"email":"carol@example.com"}]})";
	FDevServiceProcess Process(ORVA_DEVSERVICE_PATH, Temp.Path() / "data", {"--seed-file", SeedFile.string()});
	EXPECT_NE(Process.Start(), "");
	EXPECT_NE(Process.StderrText().find("\"password\" is missing"), std::string::npos) << Process.StderrText();
}

TEST(DevServiceAccounts, ReseedingKeepsTokensUnlessThePasswordChanged)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Token = Service.LoginAlice();
	ASSERT_FALSE(Token.empty());

	ASSERT_EQ(Service.Restart(), "");
	EXPECT_EQ(Service.Get("me", Token)->status, 200);

	ASSERT_EQ(Service.Restart({"--creator", AliceEmail + ":changed-Password"}), "");
	EXPECT_EQ(Service.Get("me", Token)->status, 401);
	EXPECT_TRUE(Service.LoginAlice().empty());
	EXPECT_FALSE(Service.Login("email", AliceEmail, "changed-Password").empty());
}

} // namespace
