#include "DevServiceProcess.h"

#include <gtest/gtest.h>

#include <regex>

namespace
{

class DevServiceScreenshots : public ::testing::Test
{
protected:
	void SetUp() override
	{
		ASSERT_EQ(Service.Start(), "");
		Alice = Service.LoginAlice();
		ASSERT_FALSE(Alice.empty());
		WorldId = StringOf(Service.CreateWorld(Alice), "id");
		ASSERT_FALSE(WorldId.empty());
	}

	httplib::Result Upload(const std::string& Body, const std::string& ContentType)
	{
		return Service.Client().Post(Api("worlds/" + WorldId + "/screenshots"), JsonHeaders(Alice), Body, ContentType);
	}

	httplib::Result UploadAsPlugin(const std::string& EncodedName, const std::string& Bytes)
	{
		const FPluginMultipart Form = MakePluginMultipart(EncodedName, Bytes);
		return Upload(Form.Body, Form.ContentType);
	}

	// GET of an absolute address the service handed out, with no credentials, as the image
	// downloader fetches it.
	httplib::Result FetchPublic(const std::string& Url)
	{
		const std::string Origin = "http://127.0.0.1:" + std::to_string(Service.Process().Port());
		EXPECT_EQ(Url.rfind(Origin + "/api/v1/", 0), 0u) << Url;
		httplib::Client Anonymous("127.0.0.1", Service.Process().Port());
		return Anonymous.Get(Url.substr(Origin.size()));
	}

	std::vector<std::string> StoredFiles() const
	{
		std::vector<std::string> Names;
		for (const auto& Entry : std::filesystem::directory_iterator(Service.DataDir() / "screenshots"))
		{
			Names.push_back(Entry.path().filename().string());
		}
		return Names;
	}

	FTestService Service;
	std::string Alice;
	std::string WorldId;
};

TEST_F(DevServiceScreenshots, ThePluginsUploadIsStoredAndServedPublicly)
{
	const httplib::Result Result = UploadAsPlugin("my%20shot.png", TinyPng());
	ASSERT_TRUE(Result);
	ASSERT_EQ(Result->status, 201) << Result->body;
	const QJsonObject Image = ObjectOf(Result);
	EXPECT_FALSE(StringOf(Image, "id").empty());
	EXPECT_EQ(StringOf(Image, "name"), "my shot.png");
	EXPECT_EQ(Image.value(QLatin1String("size")).toInteger(), static_cast<qint64>(TinyPng().size()));

	const httplib::Result File = FetchPublic(StringOf(Image, "url"));
	ASSERT_TRUE(File);
	EXPECT_EQ(File->status, 200);
	EXPECT_EQ(File->get_header_value("Content-Type"), "image/png");
	EXPECT_EQ(File->body, TinyPng());

	// Stored under a name of the service's own choosing.
	const std::vector<std::string> Files = StoredFiles();
	ASSERT_EQ(Files.size(), 1u);
	EXPECT_TRUE(std::regex_match(Files[0], std::regex("[0-9a-f]{32}\\.png"))) << Files[0];
}

TEST_F(DevServiceScreenshots, AJpegLabelledPngIsServedAsJpeg)
{
	const httplib::Result Result = UploadAsPlugin("photo.jpg", TinyJpeg());
	ASSERT_TRUE(Result);
	ASSERT_EQ(Result->status, 201) << Result->body;
	const httplib::Result File = FetchPublic(StringOf(ObjectOf(Result), "url"));
	ASSERT_TRUE(File);
	EXPECT_EQ(File->get_header_value("Content-Type"), "image/jpeg");
	EXPECT_EQ(File->body, TinyJpeg());
}

TEST_F(DevServiceScreenshots, TheListHoldsEveryUploadInOrder)
{
	std::vector<QJsonObject> Uploaded;
	for (const char* Name : {"a.png", "b.jpg", "c.png"})
	{
		const httplib::Result Result = UploadAsPlugin(Name, std::string(Name)[0] == 'b' ? TinyJpeg() : TinyPng());
		ASSERT_TRUE(Result);
		ASSERT_EQ(Result->status, 201);
		Uploaded.push_back(ObjectOf(Result));
	}
	const httplib::Result List = Service.Get("worlds/" + WorldId + "/screenshots", Alice);
	ASSERT_TRUE(List);
	EXPECT_EQ(List->status, 200);
	const QJsonArray Shots = ObjectOf(List).value(QLatin1String("screen_shots")).toArray();
	ASSERT_EQ(Shots.size(), 3);
	for (qsizetype Index = 0; Index < 3; ++Index)
	{
		EXPECT_EQ(Shots.at(Index).toObject(), Uploaded[static_cast<size_t>(Index)]);
	}
}

TEST_F(DevServiceScreenshots, TheClientsFileNameNeverBecomesAPath)
{
	for (const std::string Name : {"..%2F..%2F..%2Fescape.png", "../../../escape.png", "%2Ftmp%2Fescape.png"})
	{
		const httplib::Result Result = UploadAsPlugin(Name, TinyPng());
		ASSERT_TRUE(Result);
		ASSERT_EQ(Result->status, 201);
		EXPECT_EQ(StringOf(ObjectOf(Result), "name"), "escape.png");
	}
	EXPECT_FALSE(std::filesystem::exists(Service.DataDir() / "escape.png"));
	EXPECT_FALSE(std::filesystem::exists(Service.DataDir().parent_path() / "escape.png"));
	for (const std::string& File : StoredFiles())
	{
		EXPECT_TRUE(std::regex_match(File, std::regex("[0-9a-f]{32}\\.png"))) << File;
	}
}

TEST_F(DevServiceScreenshots, AStandardMultipartFormIsAcceptedToo)
{
	const httplib::MultipartFormDataItems Items = {{"image", TinyPng(), "plain.png", "image/png"}};
	const httplib::Result Result =
	    Service.Client().Post(Api("worlds/" + WorldId + "/screenshots"), JsonHeaders(Alice), Items);
	ASSERT_TRUE(Result);
	EXPECT_EQ(Result->status, 201) << Result->body;
	EXPECT_EQ(StringOf(ObjectOf(Result), "name"), "plain.png");
}

TEST_F(DevServiceScreenshots, BadUploadsAreRefusedAndStoreNothing)
{
	const std::string Boundary = "---------------------------42";
	const std::string Type = "multipart/form-data; boundary =" + Boundary;
	const std::vector<std::tuple<std::string, std::string, int>> Cases = {
	    {R"({"image":"x"})", "application/json; charset=utf-8", 415},
	    {MakePluginMultipart("a.txt", "just some text").Body, MakePluginMultipart("a.txt", "").ContentType, 422},
	    {"\r\n--" + Boundary + "\r\nContent-Disposition: form-data; name=\"file\"; filename=\"a.png\"\r\n\r\n" +
	         TinyPng() + "\r\n--" + Boundary + "--\r\n",
	     Type, 422},
	    {"\r\n--" + Boundary + "\r\nContent-Disposition: form-data; name=\"image\"; filename=\"a.png\"\r\n\r\n" +
	         TinyPng(),
	     Type, 422},
	    {MakePluginMultipart("a.png", TinyPng()).Body, "multipart/form-data", 422},
	};
	for (const auto& [Body, ContentType, Status] : Cases)
	{
		const httplib::Result Result = Upload(Body, ContentType);
		ASSERT_TRUE(Result);
		EXPECT_EQ(Result->status, Status) << ContentType;
		EXPECT_FALSE(StringOf(ObjectOf(Result), "detail").empty()) << Result->body;
	}

	const FPluginMultipart Form = MakePluginMultipart("a.png", TinyPng());
	EXPECT_EQ(Service.Client()
	              .Post(Api("worlds/" + WorldId + "/screenshots"), JsonHeaders(), Form.Body, Form.ContentType)
	              ->status,
	          401);
	EXPECT_TRUE(StoredFiles().empty());
	EXPECT_EQ(ObjectOf(Service.Get("worlds/" + WorldId + "/screenshots", Alice))
	              .value(QLatin1String("screen_shots"))
	              .toArray()
	              .size(),
	          0);
}

TEST_F(DevServiceScreenshots, DeletingTheWorldTakesItsScreenshotsAlong)
{
	const httplib::Result Result = UploadAsPlugin("gone.png", TinyPng());
	ASSERT_TRUE(Result);
	ASSERT_EQ(Result->status, 201);
	const std::string Url = StringOf(ObjectOf(Result), "url");
	ASSERT_EQ(StoredFiles().size(), 1u);

	const httplib::Result Deleted = Service.Client().Delete(Api("me/worlds"), JsonHeaders(Alice),
	                                                        R"({"ids":[")" + WorldId + "\"]}", "application/json");
	ASSERT_TRUE(Deleted);
	EXPECT_EQ(Deleted->status, 204);
	EXPECT_EQ(FetchPublic(Url)->status, 404);
	EXPECT_TRUE(StoredFiles().empty());
}

} // namespace
