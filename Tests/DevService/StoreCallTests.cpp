// The service's calls to the object store, in process against a store of the test's own on a
// loopback port: a store that stalls must not hold one creator's request behind another's, nor any
// request past its deadline; the storage endpoint completes only what it started, as it was sent.

#include "StorageClient.h"
#include "StorageEndpoint.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace
{
using namespace std::chrono_literals;

// A store on 127.0.0.1 whose answers the test writes. A request the handler chooses to stall waits
// until Release() (or the end of the store) and then answers 503.
class FTestStore
{
public:
	using FHandler = std::function<bool(const httplib::Request&, httplib::Response&)>; // false: stall

	explicit FTestStore(FHandler InHandler)
	    : Handler(std::move(InHandler))
	{
		Server.set_read_timeout(5, 0);
		// HEAD before routing; the others through routes, which read the body first.
		Server.set_pre_routing_handler(
		    [this](const httplib::Request& Request, httplib::Response& Response)
		    {
			    if (Request.method != "HEAD")
			    {
				    return httplib::Server::HandlerResponse::Unhandled;
			    }
			    Serve(Request, Response);
			    return httplib::Server::HandlerResponse::Handled;
		    });
		Server.Post(".*",
		            [this](const httplib::Request& Request, httplib::Response& Response) { Serve(Request, Response); });
		Server.Put(".*",
		           [this](const httplib::Request& Request, httplib::Response& Response) { Serve(Request, Response); });
		Port = Server.bind_to_any_port("127.0.0.1");
		Thread = std::thread([this] { Server.listen_after_bind(); });
		while (!Server.is_running())
		{
			std::this_thread::sleep_for(1ms);
		}
	}
	~FTestStore()
	{
		Release();
		Server.stop();
		Thread.join();
	}

	std::string Endpoint() const { return "http://127.0.0.1:" + std::to_string(Port); }

	// Whether Count requests were stalled at one time before the wait ran out.
	bool WaitForStalled(int Count, std::chrono::seconds Within)
	{
		std::unique_lock Lock(Mutex);
		return Changed.wait_for(Lock, Within, [&] { return MostStalled >= Count; });
	}
	void Release()
	{
		{
			std::lock_guard Lock(Mutex);
			bReleased = true;
		}
		Changed.notify_all();
	}

private:
	void Serve(const httplib::Request& Request, httplib::Response& Response)
	{
		if (Handler(Request, Response))
		{
			return;
		}
		std::unique_lock Lock(Mutex);
		MostStalled = std::max(MostStalled, ++Stalled);
		Changed.notify_all();
		Changed.wait(Lock, [&] { return bReleased; });
		--Stalled;
		Response.status = 503;
	}

	FHandler Handler;
	httplib::Server Server;
	int Port = 0;
	std::thread Thread;
	std::mutex Mutex;
	std::condition_variable Changed;
	int Stalled = 0;
	int MostStalled = 0;
	bool bReleased = false;
};

OrvaDev::FStorageOptions StorageAt(const std::string& Endpoint)
{
	OrvaDev::FStorageOptions Options;
	Options.Endpoint = Endpoint;
	Options.bUseSts = true;
	return Options;
}

bool StallEverything(const httplib::Request&, httplib::Response&)
{
	return false;
}
} // namespace

TEST(DevServiceStoreCalls, CredentialRequestsOfTwoCreatorsReachAStalledStoreSideBySide)
{
	FTestStore Store(StallEverything);
	OrvaDev::FStorageClient Client(StorageAt(Store.Endpoint()));
	std::vector<std::string> Problems(2);
	std::vector<std::thread> Requests;
	for (int Index = 0; Index < 2; ++Index)
	{
		Requests.emplace_back(
		    [&, Index]
		    {
			    const std::string Role = "orva-upload-" + std::to_string(Index);
			    Client.IssueUploadCredentials(Role, "worlds/w" + std::to_string(Index) + "/c.pak", 900,
			                                  std::chrono::steady_clock::now() + 60s, Problems[Index]);
		    });
	}
	// Behind one lock the second request would reach the store only after the first gave up.
	EXPECT_TRUE(Store.WaitForStalled(2, 30s));
	Store.Release();
	for (std::thread& Request : Requests)
	{
		Request.join();
	}
	EXPECT_NE(Problems[0].find("CreateRole: 503"), std::string::npos) << Problems[0];
	EXPECT_NE(Problems[1].find("CreateRole: 503"), std::string::npos) << Problems[1];
}

TEST(DevServiceStoreCalls, ARequestEndsByItsDeadlineWhenTheStoreStalls)
{
	FTestStore Store(StallEverything);
	OrvaDev::FStorageClient Client(StorageAt(Store.Endpoint()));
	std::string Problem;
	const OrvaDev::FTemporaryCredentials Issued = Client.IssueUploadCredentials(
	    "orva-upload-x", "worlds/w/x.pak", 900, std::chrono::steady_clock::now() + 1s, Problem);
	EXPECT_TRUE(Issued.AccessKeyId.empty());
	EXPECT_NE(Problem.find("deadline"), std::string::npos) << Problem;

	Problem.clear();
	EXPECT_FALSE(Client.ObjectSize("worlds/w/x.pak", std::chrono::steady_clock::now() + 1s, Problem));
	EXPECT_NE(Problem.find("deadline"), std::string::npos) << Problem;

	// A deadline already past asks the store nothing.
	Problem.clear();
	EXPECT_TRUE(Client
	                .IssueUploadCredentials("orva-upload-y", "worlds/w/y.pak", 900,
	                                        std::chrono::steady_clock::now() - 1s, Problem)
	                .AccessKeyId.empty());
	EXPECT_NE(Problem.find("deadline"), std::string::npos) << Problem;
}

namespace
{
// A store that starts and completes multi-part uploads, numbering them.
class FMultipartStore
{
public:
	FMultipartStore()
	    : Store(
	          [this](const httplib::Request& Request, httplib::Response& Response)
	          {
		          if (Request.has_param("uploads"))
		          {
			          Response.set_content("<InitiateMultipartUploadResult><UploadId>up-" + std::to_string(++Started) +
			                                   "</UploadId></InitiateMultipartUploadResult>",
			                               "application/xml");
			          return true;
		          }
		          ++Completed;
		          Response.set_content(
		              R"(<CompleteMultipartUploadResult><ETag>"e-2"</ETag></CompleteMultipartUploadResult>)",
		              "application/xml");
		          return true;
	          })
	{
	}

	FTestStore Store;
	std::atomic<int> Started{0};
	std::atomic<int> Completed{0};
};

class DevServiceStorageEndpoint : public ::testing::Test
{
protected:
	void SetUp() override
	{
		OrvaDev::FStorageEndpointOptions Options;
		Options.Port = 0;
		Options.UploadLifetimeSeconds = 3600;
		Endpoint = std::make_unique<OrvaDev::FStorageEndpoint>(StorageAt(Store.Store.Endpoint()), Options,
		                                                       [this] { return Now.load(); });
		std::string Error;
		const int Port = Endpoint->Start("127.0.0.1", Error);
		ASSERT_GT(Port, 0) << Error;
		Client = std::make_unique<httplib::Client>("127.0.0.1", Port);
	}
	void TearDown() override { Endpoint->Stop(); }

	// Starts an upload of two one-MiB parts; its id.
	std::string StartUpload()
	{
		const httplib::Result Answer =
		    Client->Get(std::string(OrvaDev::FStorageEndpoint::RoutePrefix) +
		                    "presign_upload_url?name=a.pak&file_size=2000000&multi_part=true&slice_size=1",
		                Headers());
		EXPECT_TRUE(Answer && Answer->status == 200) << (Answer ? Answer->body : "no answer");
		const size_t At = Answer ? Answer->body.find("\"upload_id\":\"") : std::string::npos;
		return At == std::string::npos ? std::string()
		                               : Answer->body.substr(At + 13, Answer->body.find('"', At + 13) - At - 13);
	}

	int Complete(const std::string& UploadId, const std::string& Parts)
	{
		const httplib::Result Answer =
		    Client->Post(std::string(OrvaDev::FStorageEndpoint::RoutePrefix) + "complete_upload", Headers(),
		                 R"({"upload_id":")" + UploadId + R"(","parts":)" + Parts + "}", "application/json");
		return Answer ? Answer->status : 0;
	}

	static httplib::Headers Headers() { return {{"Token", OrvaDev::FStorageEndpointOptions::DefaultToken}}; }

	FMultipartStore Store;
	std::atomic<int64_t> Now{1000};
	std::unique_ptr<OrvaDev::FStorageEndpoint> Endpoint;
	std::unique_ptr<httplib::Client> Client;
};

const std::string BothParts = R"([{"part_number":1,"etag":"\"a\""},{"part_number":2,"etag":"\"b\""}])";
} // namespace

TEST_F(DevServiceStorageEndpoint, ACompletionListingAPartTwiceIsRefused)
{
	const std::string UploadId = StartUpload();
	ASSERT_FALSE(UploadId.empty());
	EXPECT_EQ(Complete(UploadId, R"([{"part_number":1,"etag":"\"a\""},{"part_number":2,"etag":"\"b\""},)"
	                             R"({"part_number":2,"etag":"\"c\""}])"),
	          400);
	EXPECT_EQ(Store.Completed, 0);
	EXPECT_EQ(Complete(UploadId, BothParts), 200);
	EXPECT_EQ(Store.Completed, 1);
}

TEST_F(DevServiceStorageEndpoint, UploadsNotCompletedInTimeAreForgotten)
{
	const std::string Late = StartUpload();
	StartUpload();
	StartUpload();
	EXPECT_EQ(Endpoint->PendingUploadCount(), 3u);
	Now += 3599;
	const std::string InTime = StartUpload();
	EXPECT_EQ(Complete(InTime, BothParts), 200);
	Now += 1;
	EXPECT_EQ(Complete(Late, BothParts), 404);
	EXPECT_EQ(Store.Completed, 1);

	// Starting another upload drops the ones that ran out, so the list stays bounded.
	StartUpload();
	EXPECT_EQ(Endpoint->PendingUploadCount(), 1u);
}
