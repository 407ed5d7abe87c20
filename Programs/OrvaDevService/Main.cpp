// OrvaDevService: a local stand-in for the Orva platform's REST API, for development and tests.

#include "ApiService.h"
#include "Auth.h"
#include "Clock.h"
#include "HttpServer.h"
#include "ServiceOptions.h"
#include "StorageClient.h"
#include "StorageEndpoint.h"
#include "Store.h"

#include <httplib.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <unordered_set>

namespace
{

using namespace OrvaDev;

constexpr const char* DatabaseFileName = "orva-dev.sqlite3";
constexpr const char* ScreenshotFolderName = "screenshots";
constexpr const char* LockFileName = "service.lock";
// httplib listens with a backlog of 5; a benchmark opening dozens of connections at once would
// see refused or retried connects, so the backlog is widened after binding.
constexpr int ListenBacklog = 512;
// A worker keeps its connection while the client keeps it alive; beyond this count the client
// reconnects, so connections beyond the thread count still get their turn.
constexpr size_t KeepAliveMaxCount = 1000;
// The folder holds password hashes and tokens' digests: for the service's own user only.
constexpr std::filesystem::perms PrivateFolder = std::filesystem::perms::owner_all;
constexpr std::filesystem::perms PrivateFile = std::filesystem::perms::owner_read | std::filesystem::perms::owner_write;

// Two services on one data folder would each trust their own token cache and file names.
bool LockDataDir(const std::filesystem::path& DataDir, int& OutFd)
{
	const std::filesystem::path LockPath = DataDir / LockFileName;
	OutFd = ::open(LockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
	if (OutFd < 0)
	{
		return false;
	}
	return ::flock(OutFd, LOCK_EX | LOCK_NB) == 0;
}

// Files that the database does not know: left by a crash between writing a screenshot and
// recording it, or after its world was deleted while the service was down.
void RemoveStrayScreenshots(FStore& Store, const std::filesystem::path& Folder)
{
	const std::vector<std::string> Known = Store.ListStoredScreenshotFiles();
	const std::unordered_set<std::string> KnownSet(Known.begin(), Known.end());
	std::error_code Error;
	for (const auto& Entry : std::filesystem::directory_iterator(Folder, Error))
	{
		if (Entry.is_regular_file() && !KnownSet.contains(Entry.path().filename().string()))
		{
			std::filesystem::remove(Entry.path(), Error);
		}
	}
}

// Folders 0700 and files 0600, also where an earlier version made them readable to others.
// SQLite gives its -wal, -shm and journal files the mode of the database file.
bool MakePrivate(const std::filesystem::path& DataDir, std::error_code& Error)
{
	std::filesystem::permissions(DataDir, PrivateFolder, std::filesystem::perm_options::replace, Error);
	for (auto Entry = std::filesystem::recursive_directory_iterator(DataDir, Error);
	     !Error && Entry != std::filesystem::recursive_directory_iterator(); Entry.increment(Error))
	{
		if (Entry->is_symlink())
		{
			continue;
		}
		const auto Wanted = Entry->is_directory() ? PrivateFolder : PrivateFile;
		std::filesystem::permissions(Entry->path(), Wanted, std::filesystem::perm_options::replace, Error);
	}
	return !Error;
}

std::string UrlHost(const std::string& Host)
{
	return Host.find(':') != std::string::npos ? "[" + Host + "]" : Host;
}

int Run(const FServiceOptions& Options)
{
	// Everything the service creates is for its own user only, whatever the caller's umask.
	::umask(077);
	std::error_code Error;
	const std::filesystem::path ScreenshotDir = Options.DataDir / ScreenshotFolderName;
	std::filesystem::create_directories(ScreenshotDir, Error);
	if (Error || !MakePrivate(Options.DataDir, Error))
	{
		std::fprintf(stderr, "OrvaDevService: cannot create %s: %s\n", ScreenshotDir.c_str(), Error.message().c_str());
		return 1;
	}
	int LockFd = -1;
	if (!LockDataDir(Options.DataDir, LockFd))
	{
		std::fprintf(stderr, "OrvaDevService: %s is in use by another OrvaDevService\n", Options.DataDir.c_str());
		return 1;
	}

	FStore Store;
	FAuthService Auth(Store, Options.TokenLifetimeSeconds);
	try
	{
		Store.Open(Options.DataDir / DatabaseFileName);
		Auth.ApplySeeds(Options.Seeds);
		RemoveStrayScreenshots(Store, ScreenshotDir);
	}
	catch (const std::exception& Problem)
	{
		std::fprintf(stderr, "OrvaDevService: %s\n", Problem.what());
		return 1;
	}

	FConnectionLimits Limits;
	Limits.HeaderTimeout = std::chrono::seconds(Options.HeaderTimeoutSeconds);
	Limits.BodyTimeout = std::chrono::seconds(Options.BodyTimeoutSeconds);
	Limits.MaxBodyBytes = Options.MaxBodyBytes;
	Limits.MaxWorkers = static_cast<size_t>(Options.Threads);
	FBoundedServer Server(Limits);
	std::atomic<int> ListenFd{-1};
	Server.set_socket_options(
	    [&ListenFd](int Fd)
	    {
		    int On = 1;
		    ::setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &On, sizeof(On));
		    ListenFd = Fd;
	    });
	Server.set_tcp_nodelay(true);
	Server.set_keep_alive_max_count(KeepAliveMaxCount);
	Server.set_payload_max_length(Options.MaxBodyBytes);

	int Port = Options.Port;
	if (Port == 0)
	{
		Port = Server.bind_to_any_port(Options.Host);
	}
	else if (!Server.bind_to_port(Options.Host, Port))
	{
		Port = -1;
	}
	if (Port <= 0)
	{
		std::fprintf(stderr, "OrvaDevService: cannot listen on %s port %d\n", Options.Host.c_str(), Options.Port);
		return 1;
	}
	if (ListenFd >= 0)
	{
		::listen(ListenFd, ListenBacklog);
	}

	FApiConfig Config;
	Config.PublicBaseUrl =
	    Options.PublicUrl.empty() ? "http://" + UrlHost(Options.Host) + ":" + std::to_string(Port) : Options.PublicUrl;
	Config.ScreenshotDir = ScreenshotDir;
	Config.Storage = Options.Storage;
	if (Options.Storage.bUseSts)
	{
		Config.StorageClient = std::make_shared<FStorageClient>(Options.Storage);
		const std::string Problem = Config.StorageClient->Bootstrap();
		if (!Problem.empty())
		{
			std::fprintf(stderr, "OrvaDevService: %s\n", Problem.c_str());
			return 1;
		}
	}
	Config.MaxBodyBytes = Options.MaxBodyBytes;
	FApiService Api(Store, Auth, Config);
	Api.Register(Server);

	// SIGINT and SIGTERM are blocked in every thread (the workers inherit the mask) and taken by
	// one thread with sigwait, which may then call into httplib safely.
	// A shell starts background jobs with SIGINT ignored; an ignored signal would never reach
	// sigwait, so the default disposition is restored first.
	::signal(SIGINT, SIG_DFL);
	::signal(SIGTERM, SIG_DFL);
	sigset_t StopSignals;
	sigemptyset(&StopSignals);
	sigaddset(&StopSignals, SIGINT);
	sigaddset(&StopSignals, SIGTERM);
	pthread_sigmask(SIG_BLOCK, &StopSignals, nullptr);

	std::atomic<bool> bListenDone{false};
	std::thread SignalThread(
	    [&]
	    {
		    int Signal = 0;
		    sigwait(&StopSignals, &Signal);
		    if (bListenDone)
		    {
			    return;
		    }
		    // A stop before the accept loop runs would be lost, so wait until it does.
		    while (!Server.is_running() && !bListenDone)
		    {
			    std::this_thread::sleep_for(std::chrono::milliseconds(5));
		    }
		    Server.stop();
	    });

	// Its line comes first, so that a reader of the API's address line has both.
	FStorageEndpoint Storage(Options.Storage, Options.StorageEndpoint);
	if (Options.StorageEndpoint.bEnabled)
	{
		std::string StorageError;
		const int StoragePort = Storage.Start(Options.Host, StorageError);
		if (StoragePort <= 0)
		{
			std::fprintf(stderr, "OrvaDevService: %s\n", StorageError.c_str());
			bListenDone = true;
			::kill(::getpid(), SIGTERM);
			SignalThread.join();
			return 1;
		}
		std::printf("OrvaDevService storage endpoint on http://%s:%d%s\n", UrlHost(Options.Host).c_str(), StoragePort,
		            FStorageEndpoint::RoutePrefix);
	}
	std::printf("OrvaDevService listening on http://%s:%d%s\n", UrlHost(Options.Host).c_str(), Port,
	            FApiService::ApiPrefix);
	std::fflush(stdout);

	const bool bListened = Server.listen_after_bind();
	bListenDone = true;
	Storage.Stop();
	// Wakes the signal thread when the loop ended for another reason than a signal.
	::kill(::getpid(), SIGTERM);
	SignalThread.join();
	::close(LockFd);
	return bListened ? 0 : 1;
}

} // namespace

int main(int Argc, char** Argv)
{
	// A client that goes away mid-answer must not end the process.
	::signal(SIGPIPE, SIG_IGN);

	FServiceOptions Options;
	std::string Error;
	switch (ParseCommandLine(Argc, Argv, Options, Error))
	{
	case EParseOutcome::Help:
		std::fputs(UsageText().c_str(), stdout);
		return 0;
	case EParseOutcome::Error:
		std::fprintf(stderr, "OrvaDevService: %s\n\n%s", Error.c_str(), UsageText().c_str());
		return 2;
	case EParseOutcome::Run:
		break;
	}
	if (!Options.ClockOffsetFile.empty())
	{
		SetClockOffsetFile(Options.ClockOffsetFile);
	}
	return Run(Options);
}
