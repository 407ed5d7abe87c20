// What hostile clients tried: oversized and endless bodies, slow connections, ill-formed text and
// other local users reading the data folder. Each request here goes over a raw socket, so the
// test decides exactly which bytes are sent and when.

#include "DevServiceProcess.h"

#include <gtest/gtest.h>

#include <QString>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// One loopback connection to the service, closed when the object goes.
class FRawConnection
{
public:
	explicit FRawConnection(int Port)
	{
		Socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
		sockaddr_in Address{};
		Address.sin_family = AF_INET;
		Address.sin_port = htons(static_cast<uint16_t>(Port));
		Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
		if (::connect(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0)
		{
			::close(Socket);
			Socket = -1;
		}
	}
	~FRawConnection()
	{
		if (Socket >= 0)
		{
			::close(Socket);
		}
	}
	FRawConnection(const FRawConnection&) = delete;
	FRawConnection& operator=(const FRawConnection&) = delete;

	bool IsOpen() const { return Socket >= 0; }

	bool Send(std::string_view Bytes)
	{
		while (!Bytes.empty())
		{
			const ssize_t Sent = ::send(Socket, Bytes.data(), Bytes.size(), MSG_NOSIGNAL);
			if (Sent <= 0)
			{
				return false;
			}
			Bytes.remove_prefix(static_cast<size_t>(Sent));
		}
		return true;
	}

	// The status of the answer, read within the time limit; -1 when none came.
	int ReadStatus(std::chrono::milliseconds Limit, std::string* OutAnswer = nullptr)
	{
		std::string Answer;
		const Clock::time_point Deadline = Clock::now() + Limit;
		while (Answer.find("\r\n\r\n") == std::string::npos)
		{
			if (!ReadSome(Answer, Deadline))
			{
				return -1;
			}
		}
		const size_t HeadEnd = Answer.find("\r\n\r\n") + 4;
		const size_t LengthAt = Answer.find("Content-Length: ");
		const size_t Length = LengthAt < HeadEnd ? std::stoul(Answer.substr(LengthAt + 16)) : 0;
		while (Answer.size() < HeadEnd + Length && ReadSome(Answer, Deadline))
		{
		}
		if (OutAnswer != nullptr)
		{
			*OutAnswer = Answer;
		}
		return Answer.rfind("HTTP/1.1 ", 0) == 0 ? std::atoi(Answer.c_str() + 9) : -1;
	}

	// True when the service has closed the connection (end of stream or reset) within the limit.
	bool WaitForClose(std::chrono::milliseconds Limit)
	{
		std::string Ignored;
		const Clock::time_point Deadline = Clock::now() + Limit;
		while (Clock::now() < Deadline)
		{
			pollfd Poll{Socket, POLLIN, 0};
			if (::poll(&Poll, 1, 50) > 0)
			{
				char Buffer[4096];
				if (::recv(Socket, Buffer, sizeof(Buffer), 0) <= 0)
				{
					return true;
				}
			}
		}
		return false;
	}

private:
	bool ReadSome(std::string& Into, Clock::time_point Deadline)
	{
		const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now());
		pollfd Poll{Socket, POLLIN, 0};
		if (Left.count() <= 0 || ::poll(&Poll, 1, static_cast<int>(Left.count())) <= 0)
		{
			return false;
		}
		char Buffer[4096];
		const ssize_t Count = ::recv(Socket, Buffer, sizeof(Buffer), 0);
		if (Count <= 0)
		{
			return false;
		}
		Into.append(Buffer, static_cast<size_t>(Count));
		return true;
	}

	int Socket = -1;
};

std::string Chunked(const std::string& Body, size_t ChunkSize)
{
	std::string Out;
	for (size_t Pos = 0; Pos < Body.size(); Pos += ChunkSize)
	{
		const std::string Chunk = Body.substr(Pos, ChunkSize);
		char Size[32];
		std::snprintf(Size, sizeof(Size), "%zx\r\n", Chunk.size());
		Out += Size + Chunk + "\r\n";
	}
	return Out + "0\r\n\r\n";
}

std::string RequestHead(const std::string& Verb, const std::string& Path, const std::string& Token,
                        const std::string& Framing)
{
	std::string Head = Verb + " /api/v1/" + Path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n";
	if (!Token.empty())
	{
		Head += "Authorization: Bearer " + Token + "\r\n";
	}
	return Head + Framing + "\r\n";
}

// The most memory the service has held, from the kernel's account of it.
long PeakResidentKiB(pid_t Pid)
{
	std::ifstream Status("/proc/" + std::to_string(Pid) + "/status");
	for (std::string Line; std::getline(Status, Line);)
	{
		if (Line.rfind("VmHWM:", 0) == 0)
		{
			return std::stol(Line.substr(6));
		}
	}
	return -1;
}

bool IsWellFormedUtf8(const std::string& Bytes)
{
	// Qt's decoder replaces ill-formed sequences (encoded surrogates included), so a round trip
	// keeps only well-formed text unchanged.
	return QString::fromUtf8(Bytes.data(), static_cast<qsizetype>(Bytes.size())).toUtf8().toStdString() == Bytes;
}

TEST(DevServiceBodies, ChunkedBodiesAreBoundLikeOthers)
{
	FTestService Service;
	ASSERT_EQ(Service.Start({"--max-body-bytes", "1000"}), "");
	const std::string Token = Service.LoginAlice();
	ASSERT_FALSE(Token.empty());

	const std::string Big = R"({"description":")" + std::string(5000, 'x') + R"(","name":"Big","public":false})";
	FRawConnection Over(Service.Process().Port());
	ASSERT_TRUE(
	    Over.Send(RequestHead("POST", "me/worlds", Token, "Transfer-Encoding: chunked\r\n") + Chunked(Big, 700)));
	EXPECT_EQ(Over.ReadStatus(5s), 413);

	// Chunked bodies within the limit are read as ever.
	const std::string Small = R"({"description":"","name":"Small","public":false})";
	FRawConnection Under(Service.Process().Port());
	ASSERT_TRUE(
	    Under.Send(RequestHead("POST", "me/worlds", Token, "Transfer-Encoding: chunked\r\n") + Chunked(Small, 7)));
	EXPECT_EQ(Under.ReadStatus(5s), 201);

	const QJsonArray Worlds = JsonOf(Service.Get("me/worlds", Token)).array();
	ASSERT_EQ(Worlds.size(), 1);
	EXPECT_EQ(StringOf(Worlds.at(0).toObject(), "name"), "Small");
}

TEST(DevServiceBodies, ALoginBodyIsSmallAndRefusedBeforeItIsRead)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");

	// 63 MB announced (under the service's general limit), only the first bytes sent: the answer
	// comes without waiting for the rest.
	FRawConnection Connection(Service.Process().Port());
	ASSERT_TRUE(Connection.Send(RequestHead("POST", "auth/token?role=creator", "", "Content-Length: 66060288\r\n") +
	                            "[" + std::string(65536, '0')));
	std::string Answer;
	EXPECT_EQ(Connection.ReadStatus(5s, &Answer), 413);
	EXPECT_NE(Answer.find("\"detail\""), std::string::npos) << Answer;

	// A client that waits for "100 Continue" learns instead that its body is too large.
	FRawConnection Waiting(Service.Process().Port());
	ASSERT_TRUE(Waiting.Send(
	    RequestHead("POST", "auth/token?role=creator", "", "Content-Length: 2000000\r\nExpect: 100-continue\r\n")));
	EXPECT_EQ(Waiting.ReadStatus(5s), 413);

	// A malformed login is refused without repeating the password it held.
	const httplib::Result Broken =
	    Service.PostJson("auth/token?role=creator", R"({"email":"alice@example.com","password":"Leak-Me-7)", "");
	ASSERT_TRUE(Broken);
	EXPECT_EQ(Broken->status, 422);
	EXPECT_EQ(Broken->body.find("Leak-Me-7"), std::string::npos) << Broken->body;

	// A body of many tiny values within the byte limit is refused as well.
	std::string Values = "[0";
	for (int Index = 0; Index < 6000; ++Index)
	{
		Values += ",0";
	}
	const httplib::Result Many = Service.PostJson("auth/token?role=creator", Values + "]", "");
	ASSERT_TRUE(Many);
	EXPECT_EQ(Many->status, 422);
	EXPECT_FALSE(Service.LoginAlice().empty());
}

TEST(DevServiceBodies, BodiesThatNoRouteTakesAreNotRead)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	for (const std::string Path : {"nothing", "me"})
	{
		FRawConnection Connection(Service.Process().Port());
		ASSERT_TRUE(Connection.Send(RequestHead("POST", Path, "", "Content-Length: 50000000\r\n") + "{"));
		EXPECT_EQ(Connection.ReadStatus(5s), 404) << Path;
	}
}

TEST(DevServiceBodies, AnEndlessHeaderLineIsCutOff)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	FRawConnection Connection(Service.Process().Port());
	ASSERT_TRUE(Connection.Send("GET /api/v1/me HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Long: "));
	// The service stops reading long before the line ends; what it answers, if anything, is an error.
	Connection.Send(std::string(1 << 20, 'a'));
	std::string Answer;
	const int Status = Connection.ReadStatus(3s, &Answer);
	EXPECT_TRUE(Status == -1 || Status == 400) << Answer;
	EXPECT_TRUE(Connection.WaitForClose(3s));
	EXPECT_FALSE(Service.LoginAlice().empty());
}

TEST(DevServiceBodies, TwoEndlessBodiesNeitherExhaustMemoryNorStopOthers)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const int Port = Service.Process().Port();

	// Two clients without a login stream chunked bodies for as long as the service reads them,
	// up to 256 MiB each.
	std::atomic<bool> bStop{false};
	std::vector<std::thread> Hostile;
	Hostile.reserve(2);
	std::atomic<size_t> Sent{0};
	for (int Index = 0; Index < 2; ++Index)
	{
		Hostile.emplace_back(
		    [&]
		    {
			    FRawConnection Connection(Port);
			    if (!Connection.Send(
			            RequestHead("POST", "auth/token?role=creator", "", "Transfer-Encoding: chunked\r\n")))
			    {
				    return;
			    }
			    const std::string Chunk = "100000\r\n" + std::string(0x100000, '[') + "\r\n";
			    for (int Piece = 0; Piece < 256 && !bStop; ++Piece)
			    {
				    if (!Connection.Send(Chunk))
				    {
					    return;
				    }
				    Sent += Chunk.size();
			    }
		    });
	}

	// Everyone else is served meanwhile: each answer comes before the client's read timeout.
	const std::unique_ptr<httplib::Client> Client = Service.Process().MakeClient();
	Client->set_read_timeout(3, 0);
	for (int Round = 0; Round < 5; ++Round)
	{
		const std::string Token = Service.LoginAlice();
		ASSERT_FALSE(Token.empty()) << "round " << Round;
		const httplib::Result Me = Client->Get(Api("me"), JsonHeaders(Token));
		ASSERT_TRUE(Me);
		EXPECT_EQ(Me->status, 200);
	}
	bStop = true;
	for (std::thread& Thread : Hostile)
	{
		Thread.join();
	}
	// The bodies were cut off early, and the service never held them.
	EXPECT_LT(Sent.load(), size_t{64} << 20);
	const long PeakKiB = PeakResidentKiB(Service.Process().ProcessId());
	EXPECT_GT(PeakKiB, 0);
#if !defined(__SANITIZE_ADDRESS__)
	// (AddressSanitizer's allocator keeps freed memory in quarantine, so there the peak tells nothing.)
	EXPECT_LT(PeakKiB, 128 * 1024) << "peak resident memory in KiB";
#endif
}

TEST(DevServiceSlowClients, SeventySlowClientsNeitherStarveOthersNorStay)
{
	FTestService Service;
	ASSERT_EQ(Service.Start({"--header-timeout", "2"}), "");
	const std::string Token = Service.LoginAlice();
	ASSERT_FALSE(Token.empty());
	const int Port = Service.Process().Port();

	// Each sends a request line, then one header line every 500 ms, and never ends its headers.
	constexpr int SlowCount = 70;
	std::vector<std::unique_ptr<FRawConnection>> Slow;
	for (int Index = 0; Index < SlowCount; ++Index)
	{
		Slow.push_back(std::make_unique<FRawConnection>(Port));
		ASSERT_TRUE(Slow.back()->IsOpen());
		Slow.back()->Send("GET /api/v1/me HTTP/1.1\r\nHost: 127.0.0.1\r\n");
	}
	std::atomic<bool> bStop{false};
	std::thread Trickle(
	    [&]
	    {
		    for (int Line = 0; !bStop && Line < 40; ++Line)
		    {
			    std::this_thread::sleep_for(500ms);
			    for (auto& Connection : Slow)
			    {
				    Connection->Send("X-Slow-" + std::to_string(Line) + ": 1\r\n");
			    }
		    }
	    });

	// Meanwhile every other client is answered, before its read timeout.
	const std::unique_ptr<httplib::Client> Client = Service.Process().MakeClient();
	Client->set_read_timeout(2, 0);
	Client->set_keep_alive(false);
	for (int Round = 0; Round < 5; ++Round)
	{
		const httplib::Result Me = Client->Get(Api("me"), JsonHeaders(Token));
		ASSERT_TRUE(Me) << "round " << Round;
		EXPECT_EQ(Me->status, 200);
		std::this_thread::sleep_for(200ms);
	}

	// And the slow ones are sent away once their time for the headers is up.
	int Closed = 0;
	for (auto& Connection : Slow)
	{
		Closed += Connection->WaitForClose(4s) ? 1 : 0;
	}
	bStop = true;
	Trickle.join();
	EXPECT_EQ(Closed, SlowCount);
}

TEST(DevServiceText, IllFormedUtf8IsNeitherStoredNorServed)
{
	FTestService Service;
	ASSERT_EQ(Service.Start(), "");
	const std::string Alice = Service.LoginAlice();
	const std::string WorldId = StringOf(Service.CreateWorld(Alice), "id");
	ASSERT_FALSE(WorldId.empty());

	// An encoded surrogate (percent-encoded as the plugin writes names), a stray byte, an
	// overlong form.
	for (const std::string& Name :
	     {std::string("%ED%A0%80shot.png"), std::string("raw\xC3\x28.png"), std::string("%C0%AFslash.png")})
	{
		const FPluginMultipart Form = MakePluginMultipart(Name, TinyPng());
		const httplib::Result Result = Service.Client().Post(Api("worlds/" + WorldId + "/screenshots"),
		                                                     JsonHeaders(Alice), Form.Body, Form.ContentType);
		ASSERT_TRUE(Result);
		ASSERT_EQ(Result->status, 201) << Result->body;
		EXPECT_TRUE(IsWellFormedUtf8(Result->body)) << Name;
		EXPECT_FALSE(StringOf(ObjectOf(Result), "name").empty()) << Name;
	}
	const httplib::Result List = Service.Get("worlds/" + WorldId + "/screenshots", Alice);
	ASSERT_TRUE(List);
	EXPECT_TRUE(IsWellFormedUtf8(List->body));
	EXPECT_EQ(ObjectOf(List).value(QLatin1String("screen_shots")).toArray().size(), 3);

	// Names given at start are served in every profile: refused there.
	FTempDir Other;
	FDevServiceProcess Refused(ORVA_DEVSERVICE_PATH, Other.Path() / "data",
	                           {"--creator", "carol@example.com:pw:Carol\xED\xA0\x80"});
	EXPECT_NE(Refused.Start(), "");
	EXPECT_EQ(Refused.Stop(SIGTERM), -1);
	EXPECT_NE(Refused.StderrText().find("UTF-8"), std::string::npos) << Refused.StderrText();
}

TEST(DevServicePrivacy, TheDataFolderIsForTheServicesUserOnly)
{
	FTestService Service;
	// A folder left readable by an earlier version is tightened too.
	std::filesystem::create_directories(Service.DataDir());
	std::filesystem::permissions(Service.DataDir(), std::filesystem::perms(0755));
	{
		std::ofstream Old(Service.DataDir() / "notes.txt");
		Old << "left over";
	}
	std::filesystem::permissions(Service.DataDir() / "notes.txt", std::filesystem::perms(0644));

	ASSERT_EQ(Service.Start(), "");
	const std::string Alice = Service.LoginAlice();
	const std::string WorldId = StringOf(Service.CreateWorld(Alice), "id");
	const FPluginMultipart Form = MakePluginMultipart("a.png", TinyPng());
	ASSERT_EQ(Service.Client()
	              .Post(Api("worlds/" + WorldId + "/screenshots"), JsonHeaders(Alice), Form.Body, Form.ContentType)
	              ->status,
	          201);

	// While it runs, with the database's -wal and -shm files in place.
	int Files = 0;
	const auto Mode = [](const std::filesystem::path& Path)
	{
		struct stat Info
		{
		};
		::lstat(Path.c_str(), &Info);
		return Info.st_mode & 07777;
	};
	EXPECT_EQ(Mode(Service.DataDir()), 0700u);
	for (const auto& Entry : std::filesystem::recursive_directory_iterator(Service.DataDir()))
	{
		const std::string Name = Entry.path().filename().string();
		if (Entry.is_directory())
		{
			EXPECT_EQ(Mode(Entry.path()), 0700u) << Name;
		}
		else
		{
			EXPECT_EQ(Mode(Entry.path()), 0600u) << Name;
			++Files;
		}
	}
	EXPECT_TRUE(std::filesystem::exists(Service.DataDir() / "orva-dev.sqlite3-wal"));
	// The database, its -wal and -shm, the lock, the screenshot and the old file.
	EXPECT_GE(Files, 6);
}

} // namespace
