#include "SdkFixture.h"

#include <QDir>

class CatalogueTest : public FSdkFixture
{
protected:
	void SetUp() override
	{
		WriteSettings("[LoginInfo]\nToken=Bearer t0k\n");
		Server.Enqueue(200, R"({"display_name":"Ann"})");
		StartHost();
		Settle();
	}

	void SelectWorld(const QString& Identifier, const QString& Id)
	{
		Sdk().CurrWorkspace.WorldIdentifier = Identifier;
		Sdk().CurrWorkspace.WorldId = Id;
	}

	const FLoopbackHttpServer::FRecordedRequest& Last() const { return Server.Requests().last(); }
};

TEST_F(CatalogueTest, WorldListFillsCacheAndFiresEvent)
{
	QSignalSpy Updated(&Sdk(), &UOrvaSDKSubsystem::OnWorldsListUpdated);
	Server.Enqueue(200, R"([
		{"identifier":"harbour","id":"w-1","name":"Harbour","description":"Docks","capacity":12.9,"private":true,
		 "activitys":3,"likes":-3.5,"last_update":"2026-12-01T10:00:00Z",
		 "image":{"name":"a.png","size":123456789012,"url":"http://img/a.png","id":"i-1"}},
		42,
		{"identifier":"meadow","id":"w-2","image":{}},
		{"identifier":"bare","id":"w-3"}
	])");
	Sdk().GetWorldsList();
	EXPECT_EQ(Cache().GetWorldList().size(), 1) << "cleared to the placeholder before the answer";
	Settle();

	const auto& Request = Last();
	EXPECT_EQ(Request.Verb, "GET");
	EXPECT_EQ(Request.Target, "/api/v1/me/worlds");
	EXPECT_EQ(Request.Header("Authorization"), "Bearer t0k");
	EXPECT_EQ(Request.Header("accept"), "application/json");

	const auto& Worlds = Cache().GetWorldList();
	ASSERT_EQ(Worlds.size(), 4);
	EXPECT_TRUE(Worlds[0]->Identifier.isEmpty());
	const FOrvaWorldData& Harbour = *Worlds[1];
	EXPECT_EQ(Harbour.Identifier, QStringLiteral("harbour"));
	EXPECT_EQ(Harbour.Id, QStringLiteral("w-1"));
	EXPECT_EQ(Harbour.Capacity, 12);
	EXPECT_EQ(Harbour.Likes, -3);
	EXPECT_EQ(Harbour.Activities, 3);
	EXPECT_FALSE(Harbour.bIsPublic);
	EXPECT_EQ(Harbour.LastUpdate, QStringLiteral("2026-12-01T10:00:00Z"));
	ASSERT_TRUE(Harbour.TitleImage);
	EXPECT_EQ(Harbour.TitleImage->Size, 123456789012LL);
	EXPECT_EQ(Harbour.TitleImage->Id, QStringLiteral("i-1"));
	ASSERT_TRUE(Worlds[2]->TitleImage) << "an empty image object still makes a record";
	EXPECT_TRUE(Worlds[2]->TitleImage->Name.isEmpty());
	EXPECT_EQ(Worlds[2]->TitleImage->Size, 0);
	EXPECT_TRUE(Worlds[2]->bIsPublic) << "no \"private\" means public";
	EXPECT_FALSE(Worlds[3]->TitleImage);
	EXPECT_EQ(Updated.count(), 1);
	EXPECT_EQ(Cache().GetWorkspaceList().size(), 3);
}

TEST_F(CatalogueTest, EmptyAndMalformedListAnswers)
{
	QSignalSpy Updated(&Sdk(), &UOrvaSDKSubsystem::OnWorldsListUpdated);
	Server.Enqueue(200, "[]");
	Sdk().GetWorldsList();
	Settle();
	EXPECT_EQ(Cache().GetWorldList().size(), 1);
	EXPECT_EQ(Updated.count(), 1);

	Server.Enqueue(401, R"({"detail":"expired"})");
	Sdk().GetWorldsList();
	Settle();
	EXPECT_EQ(Updated.count(), 1) << "an object is not a list: ignored silently";
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Error).isEmpty());

	FLoopbackHttpServer::FAnswer Drop;
	Drop.bDrop = true;
	Server.Enqueue(Drop);
	Sdk().GetWorldsList();
	Settle();
	EXPECT_TRUE(Log.Contains(QStringLiteral("Error for GetWorldsList: Response Is Not Valid")));
	EXPECT_EQ(Cache().GetWorldList().size(), 1);
}

TEST_F(CatalogueTest, OverlappingListRequestsFillTheListOnce)
{
	QSignalSpy Updated(&Sdk(), &UOrvaSDKSubsystem::OnWorldsListUpdated);
	const QByteArray Body = "[" + WorldJson(QStringLiteral("a"), QStringLiteral("1")) + "," +
	                        WorldJson(QStringLiteral("b"), QStringLiteral("2")) + "]";
	// The first answer comes last.
	FLoopbackHttpServer::FAnswer Slow{200, Body};
	Slow.DelayMs = 300;
	Server.Enqueue(Slow);
	Server.Enqueue(200, Body);
	Sdk().GetWorldsList();
	Sdk().GetWorldsList();
	ASSERT_TRUE(Server.WaitForRequests(3));
	FGameThread::RunUntil([&] { return Host->Http().GetPendingCount() == 0; }, 3000);
	EXPECT_EQ(Cache().GetWorldList().size(), 3);
	EXPECT_EQ(Updated.count(), 1);
}

TEST_F(CatalogueTest, UnsafeIdentifiersAreRefusedAndTheRestKept)
{
	const QString Long(300, QLatin1Char('x'));
	Server.Enqueue(200, "[" + WorldJson(QStringLiteral("../../escape"), QStringLiteral("1")) + "," +
	                        WorldJson(QStringLiteral("/abs"), QStringLiteral("2")) + "," +
	                        WorldJson(QStringLiteral("a\\\\b"), QStringLiteral("3")) + "," +
	                        WorldJson(QStringLiteral("c:d"), QStringLiteral("4")) + "," +
	                        WorldJson(Long, QStringLiteral("5")) + "," +
	                        WorldJson(QStringLiteral("tab\\there"), QStringLiteral("6")) + "," +
	                        WorldJson(QStringLiteral(""), QStringLiteral("7")) + "," +
	                        WorldJson(QStringLiteral("fine"), QStringLiteral("../me")) + "," +
	                        WorldJson(QStringLiteral("good"), QStringLiteral("w-9")) + "]");
	Sdk().GetWorldsList();
	Settle();
	ASSERT_EQ(Cache().GetWorldList().size(), 2);
	EXPECT_EQ(Cache().GetWorldList()[1]->Identifier, QStringLiteral("good"));
	EXPECT_EQ(Log.Messages(ELogVerbosity::Error).size(), 8);
	EXPECT_EQ(QDir(Project.ContentDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());
}

TEST_F(CatalogueTest, NewWorldCreatesWorkspaceAndRefreshes)
{
	QSignalSpy Changed(&Sdk(), &UOrvaSDKSubsystem::OnWorkspaceChanged);
	QSignalSpy NewSpy(&Sdk(), &UOrvaSDKSubsystem::OnNewWorkspace);
	Server.Enqueue(201, R"({"identifier":"fresh","id":"w-5"})");
	Server.Enqueue(200, "[" + WorldJson(QStringLiteral("fresh"), QStringLiteral("w-5")) + "]");
	Sdk().NewWorld();
	Settle();
	ASSERT_EQ(Server.RequestCount(), 3);
	const auto& Create = Server.Requests()[1];
	EXPECT_EQ(Create.Verb, "POST");
	EXPECT_EQ(Create.Target, "/api/v1/me/worlds");
	EXPECT_EQ(Create.Body, R"({"description":"","name":"NewWorld","public":false})");
	EXPECT_EQ(Server.Requests()[2].Target, "/api/v1/me/worlds");
	EXPECT_EQ(Sdk().GetKeyFolderName(), QStringLiteral("fresh"));
	EXPECT_TRUE(QDir(Project.ContentDir() + QStringLiteral("fresh/Config")).exists());
	EXPECT_EQ(Changed.count(), 1);
	EXPECT_EQ(NewSpy.count(), 1);
	EXPECT_TRUE(Log.Messages(ELogVerbosity::Warning).contains(QStringLiteral("Identifier is fresh")));
	ASSERT_TRUE(Cache().GetWorkspace(QStringLiteral("fresh")));
	EXPECT_TRUE(Cache().GetWorkspace(QStringLiteral("fresh"))->bEditable);
}

TEST_F(CatalogueTest, NewWorldAnswersWithoutUsableIdentifier)
{
	QSignalSpy NewSpy(&Sdk(), &UOrvaSDKSubsystem::OnNewWorkspace);
	Server.Enqueue(200, R"({"id":"w-5"})");
	Sdk().NewWorld();
	Settle();
	EXPECT_EQ(Server.RequestCount(), 2) << "no list request";
	EXPECT_TRUE(Log.Contains(QStringLiteral("Identifier is ")));
	EXPECT_TRUE(Sdk().GetKeyFolderName().isEmpty());

	Server.Enqueue(200, R"({"identifier":"../../../etc"})");
	Server.Enqueue(200, "[]");
	Sdk().NewWorld();
	Settle();
	EXPECT_EQ(NewSpy.count(), 0);
	EXPECT_TRUE(Sdk().GetKeyFolderName().isEmpty());
	EXPECT_FALSE(QDir(Project.RootDir() + QStringLiteral("etc")).exists());
	EXPECT_EQ(QDir(Project.ContentDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList());

	Server.Enqueue(200, "oops");
	Sdk().NewWorld();
	Settle();
	EXPECT_TRUE(Log.Contains(QStringLiteral("JsonReader Error: NewWorld Failed")));
}

TEST_F(CatalogueTest, DeleteWorld)
{
	Sdk().DeleteWorld({});
	Settle();
	EXPECT_EQ(Server.RequestCount(), 1) << "nothing sent for no ids";

	// Deleting another world leaves the current one open.
	SelectWorld(QStringLiteral("a"), QStringLiteral("1"));
	Server.Enqueue(204, QByteArray());
	Server.Enqueue(200, "[]");
	Sdk().DeleteWorld({QStringLiteral("w-9")});
	Settle();
	EXPECT_EQ(Sdk().CurrWorkspace.WorldId, QStringLiteral("1"));

	SelectWorld(QStringLiteral("a"), QStringLiteral("w-1"));
	QSignalSpy Changed(&Sdk(), &UOrvaSDKSubsystem::OnWorkspaceChanged);
	Server.Enqueue(204, QByteArray());
	Server.Enqueue(200, "[]");
	Sdk().DeleteWorld({QStringLiteral("w-1"), QStringLiteral("w \"2\"")});
	Settle();
	ASSERT_EQ(Server.RequestCount(), 5);
	const auto& Delete = Server.Requests()[3];
	EXPECT_EQ(Delete.Verb, "DELETE");
	EXPECT_EQ(Delete.Target, "/api/v1/me/worlds");
	EXPECT_EQ(Delete.Body, R"({"ids":["w-1","w \"2\""]})");
	EXPECT_TRUE(Delete.Header("accept").isEmpty());
	EXPECT_EQ(Delete.Header("Content-Type"), "application/json; charset=utf-8");
	EXPECT_TRUE(Log.Contains(QStringLiteral("Delete World Success")));
	EXPECT_EQ(Changed.count(), 1);
	EXPECT_TRUE(Sdk().CurrWorkspace.WorldId.isEmpty());

	// Any other status changes nothing.
	SelectWorld(QStringLiteral("b"), QStringLiteral("2"));
	Server.Enqueue(200, "{}");
	Sdk().DeleteWorld({QStringLiteral("w-2")});
	Settle();
	EXPECT_EQ(Server.RequestCount(), 6);
	EXPECT_EQ(Sdk().CurrWorkspace.WorldId, QStringLiteral("2"));
}

TEST_F(CatalogueTest, WorldPatchesAreExactAndFollowTheServicesAnswer)
{
	SelectWorld(QStringLiteral("a"), QStringLiteral("id with/slash"));
	Sdk().PrivatizeWorld(true);
	Settle();
	EXPECT_EQ(Server.RequestCount(), 1) << "an id that is no path segment sends nothing";
	EXPECT_FALSE(Log.Messages(ELogVerbosity::Error).isEmpty());

	SelectWorld(QStringLiteral("a"), QStringLiteral("w 1+é"));
	Sdk().CurrWorkspace.bIsPublic = true;
	Server.Enqueue(200, "{}");
	Sdk().PrivatizeWorld(true);
	Settle();
	EXPECT_EQ(Last().Verb, "PATCH");
	EXPECT_EQ(Last().Target, "/api/v1/worlds/w%201%2B%C3%A9");
	EXPECT_EQ(Last().Body, R"({"private":true})");
	EXPECT_EQ(Last().Header("accept"), "application/json");
	// Once the service holds it, the current workspace says so too (the tab shows what it holds).
	EXPECT_FALSE(Sdk().CurrWorkspace.bIsPublic);

	SelectWorld(QStringLiteral("a"), QStringLiteral("w-1"));
	Sdk().CurrWorkspace.TitleName = QStringLiteral("Haven ☂");
	Sdk().CurrWorkspace.Description = QStringLiteral("line1\nline2");
	Server.Enqueue(200, "{}");
	Sdk().UploadWorldDetials();
	Settle();
	EXPECT_EQ(Last().Body, QStringLiteral("{\"name\":\"Haven ☂\",\"description\":\"line1\\nline2\"}").toUtf8());
	EXPECT_TRUE(Log.Contains(QStringLiteral("UploadWorld Detials Success")));

	Server.Enqueue(200, "{}");
	Sdk().SetTitleImage(QStringLiteral("img-7"));
	Settle();
	EXPECT_EQ(Last().Target, "/api/v1/worlds/w-1");
	EXPECT_EQ(Last().Body, R"({"image_id":"img-7"})");
	EXPECT_TRUE(Log.Contains(QStringLiteral("Set Title Image Success")));

	// Error statuses are quiet; missing answers are logged.
	Server.Enqueue(500, "{}");
	Sdk().UploadWorldDetials();
	FLoopbackHttpServer::FAnswer Drop;
	Drop.bDrop = true;
	Settle();
	Server.Enqueue(Drop);
	Sdk().SetTitleImage(QStringLiteral("x"));
	Settle();
	Server.Enqueue(Drop);
	Sdk().PrivatizeWorld(false);
	Settle();
	EXPECT_EQ(Log.Count(QStringLiteral("UploadWorld Detials Success")), 1);
	EXPECT_TRUE(Log.Contains(QStringLiteral("Error for SetTitleImage: Response Is Not Valid")));
	EXPECT_TRUE(Log.Contains(QStringLiteral("Error for Privatize World: Response Is Not Valid")));
	// A refused privacy leaves the workspace as the service last confirmed it, and says why.
	SelectWorld(QStringLiteral("a"), QStringLiteral("w-1"));
	Sdk().CurrWorkspace.bIsPublic = true;
	QSignalSpy Failed(&Sdk(), &UOrvaSDKSubsystem::OnServiceRequestFailed);
	Server.Enqueue(403, R"({"detail":"not your world"})");
	Sdk().PrivatizeWorld(true);
	Settle();
	EXPECT_TRUE(Sdk().CurrWorkspace.bIsPublic);
	ASSERT_EQ(Failed.count(), 1);
	EXPECT_EQ(Failed[0][1].toString(), QStringLiteral("the service answered 403: not your world"));
}

TEST_F(CatalogueTest, Screenshots)
{
	SelectWorld(QStringLiteral("a"), QStringLiteral("w-1"));
	QSignalSpy Updated(&Sdk(), &UOrvaSDKSubsystem::OnScreenshotsUpdated);
	Server.Enqueue(200, R"({"screen_shots":[{"id":"s1","name":"one.png","url":"http://x/one.png","size":10},
		"junk",{"id":"s2"}]})");
	Sdk().GetScreenshots();
	Settle();
	EXPECT_EQ(Last().Target, "/api/v1/worlds/w-1/screenshots");
	EXPECT_EQ(Last().Verb, "GET");
	const auto& Images = Cache().GetCurrImageList();
	ASSERT_EQ(Images.size(), 3);
	EXPECT_EQ(Images[0]->Id, QStringLiteral("s1"));
	EXPECT_EQ(Images[0]->Size, 10);
	EXPECT_EQ(Images[1]->Id, QStringLiteral("s2"));
	EXPECT_TRUE(Images[2]->Id.isEmpty() && Images[2]->Url.isEmpty()) << "placeholder last";
	EXPECT_EQ(Updated.count(), 1);

	Server.Enqueue(200, "{}");
	Sdk().GetScreenshots();
	Settle();
	EXPECT_EQ(Cache().GetCurrImageList().size(), 1);
	EXPECT_EQ(Updated.count(), 2);

	Server.Enqueue(200, "[]");
	Sdk().GetScreenshots();
	Settle();
	EXPECT_TRUE(Log.Contains(QStringLiteral("JsonReader Error: GetScreenshots Failed")));
	EXPECT_EQ(Updated.count(), 2);
}
