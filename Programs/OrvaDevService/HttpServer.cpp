#include "HttpServer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace OrvaDev
{

using Clock = std::chrono::steady_clock;

// Threads are started as connections arrive and no thread is idle, up to the maximum; they are
// kept afterwards (an idle thread costs little), so a burst is served at once the next time.
class FWorkerPool final : public httplib::TaskQueue
{
public:
	explicit FWorkerPool(size_t InMaxWorkers)
	    : MaxWorkers(std::max<size_t>(1, InMaxWorkers))
	{
	}

	void enqueue(std::function<void()> Job) override
	{
		{
			std::lock_guard Lock(Mutex);
			Jobs.push_back(std::move(Job));
			if (Idle < Jobs.size() && Threads.size() < MaxWorkers)
			{
				Threads.emplace_back([this] { Work(); });
			}
			UpdateStarved();
		}
		Wake.notify_one();
	}

	void shutdown() override
	{
		{
			std::lock_guard Lock(Mutex);
			bStopping = true;
		}
		Wake.notify_all();
		for (std::thread& Thread : Threads)
		{
			Thread.join();
		}
	}

	// Connections wait for a worker: every worker is busy and no more may be started.
	bool IsStarved() const { return Waiting.load(std::memory_order_relaxed); }

private:
	// Called with the mutex held.
	void UpdateStarved() { Waiting = Jobs.size() > Idle && Threads.size() >= MaxWorkers; }

	void Work()
	{
		std::unique_lock Lock(Mutex);
		while (true)
		{
			++Idle;
			UpdateStarved();
			Wake.wait(Lock, [this] { return !Jobs.empty() || bStopping; });
			--Idle;
			if (Jobs.empty())
			{
				return; // stopping, and nothing left to serve
			}
			std::function<void()> Job = std::move(Jobs.front());
			Jobs.pop_front();
			UpdateStarved();
			Lock.unlock();
			Job();
			Lock.lock();
		}
	}

	const size_t MaxWorkers;
	std::mutex Mutex;
	std::condition_variable Wake;
	std::deque<std::function<void()>> Jobs;
	std::vector<std::thread> Threads;
	size_t Idle = 0;
	bool bStopping = false;
	std::atomic<bool> Waiting{false};
};

namespace
{

// How often a waiting read looks up from its socket: to notice a stop of the server, and workers
// that others wait for.
constexpr std::chrono::milliseconds PollSlice{100};
// A request whose headers have taken this long gives its worker up when others wait for one.
constexpr std::chrono::milliseconds StarvedHeaderGrace{1000};
// After an answer on a connection whose request was not read to its end, what is still coming is
// read and dropped for a moment, so the client reads the answer instead of a reset.
constexpr std::chrono::milliseconds LingerTime{1000};
constexpr size_t LingerBytes = 4 * 1024 * 1024;

class FConnectionStream;
thread_local FConnectionStream* CurrentConnection = nullptr;

class FConnectionStream final : public httplib::Stream
{
public:
	enum class EPhase
	{
		Head,
		Body,
	};

	FConnectionStream(int InSocket, const FConnectionLimits& InLimits, const std::atomic<socket_t>& InListener,
	                  const FWorkerPool* InPool)
	    : Socket(InSocket)
	    , Limits(InLimits)
	    , Listener(InListener)
	    , Pool(InPool)
	{
	}

	// Waits for the first byte of the next request. False when the connection should end: the
	// client closed it or stayed idle too long, the server stops, or others wait for a worker.
	bool WaitForRequest()
	{
		if (Begin < End)
		{
			return true; // a pipelined request is already here
		}
		const Clock::time_point Deadline = Clock::now() + Limits.IdleTimeout;
		while (Listener != INVALID_SOCKET)
		{
			const Clock::time_point Now = Clock::now();
			if (Now >= Deadline || (Pool != nullptr && Pool->IsStarved()))
			{
				return false;
			}
			pollfd Poll{Socket, POLLIN, 0};
			const int Result = ::poll(&Poll, 1, SliceUntil(Deadline, Now));
			if (Result > 0)
			{
				return (Poll.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
			}
			if (Result < 0 && errno != EINTR)
			{
				return false;
			}
		}
		return false;
	}

	void BeginPhase(EPhase NewPhase)
	{
		Phase = NewPhase;
		PhaseStart = Clock::now();
		const auto Timeout = Phase == EPhase::Head ? Limits.HeaderTimeout : Limits.BodyTimeout;
		Deadline = PhaseStart + Timeout;
		// The body budget leaves room for chunk framing; what the routes keep is bounded by them.
		Budget = Phase == EPhase::Head ? Limits.MaxHeadBytes : Limits.MaxBodyBytes + Limits.MaxBodyBytes / 4 + 65536;
	}

	void RequestClose() { bClose = true; }
	bool CloseRequested() const { return bClose; }

	bool is_readable() const override { return Begin < End || WaitReadable(); }

	bool is_writable() const override
	{
		pollfd Poll{Socket, POLLOUT, 0};
		const int Result = ::poll(&Poll, 1, static_cast<int>(Limits.WriteTimeout.count()));
		return Result > 0 && (Poll.revents & (POLLERR | POLLHUP)) == 0;
	}

	ssize_t read(char* Data, size_t Size) override
	{
		if (Begin == End)
		{
			if (Budget == 0 || Clock::now() >= Deadline)
			{
				// httplib may still answer 400, but what follows on this connection is no request.
				bClose = true;
				return -1;
			}
			// Most reads find their bytes waiting; only an empty socket costs the wait's poll.
			ssize_t Count = ::recv(Socket, Buffer, std::min(sizeof(Buffer), Budget), MSG_DONTWAIT);
			if (Count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
			{
				if (!WaitReadable())
				{
					bClose = true;
					return -1;
				}
				Count = ::recv(Socket, Buffer, std::min(sizeof(Buffer), Budget), 0);
			}
			if (Count <= 0)
			{
				return Count;
			}
			Budget -= static_cast<size_t>(Count);
			Begin = 0;
			End = static_cast<size_t>(Count);
		}
		const size_t Taken = std::min(Size, End - Begin);
		std::memcpy(Data, Buffer + Begin, Taken);
		Begin += Taken;
		return static_cast<ssize_t>(Taken);
	}

	ssize_t write(const char* Data, size_t Size) override
	{
		// An answer usually fits the socket's buffer at once; the wait (with its timeout) is for
		// a client that does not read.
		const ssize_t Sent = ::send(Socket, Data, Size, MSG_NOSIGNAL | MSG_DONTWAIT);
		if (Sent >= 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
		{
			return Sent;
		}
		if (!is_writable())
		{
			return -1;
		}
		return ::send(Socket, Data, Size, MSG_NOSIGNAL);
	}

	// httplib asks for both addresses on every request; they do not change on a connection.
	void get_remote_ip_and_port(std::string& Ip, int& Port) const override
	{
		CachedAddress(::getpeername, Remote, Ip, Port);
	}
	void get_local_ip_and_port(std::string& Ip, int& Port) const override
	{
		CachedAddress(::getsockname, Local, Ip, Port);
	}
	socket_t socket() const override { return Socket; }

private:
	static int SliceUntil(Clock::time_point Deadline, Clock::time_point Now)
	{
		const auto Left =
		    std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Now) + std::chrono::milliseconds(1);
		return static_cast<int>(std::min(Left, PollSlice).count());
	}

	bool WaitReadable() const
	{
		while (Listener != INVALID_SOCKET)
		{
			const Clock::time_point Now = Clock::now();
			if (Now >= Deadline)
			{
				return false;
			}
			if (Phase == EPhase::Head && Pool != nullptr && Pool->IsStarved() && Now - PhaseStart >= StarvedHeaderGrace)
			{
				return false;
			}
			pollfd Poll{Socket, POLLIN, 0};
			const int Result = ::poll(&Poll, 1, SliceUntil(Deadline, Now));
			if (Result > 0)
			{
				return true;
			}
			if (Result < 0 && errno != EINTR)
			{
				return false;
			}
		}
		return false;
	}

	struct FAddress
	{
		bool bKnown = false;
		std::string Ip;
		int Port = 0;
	};

	template <typename TQuery>
	void CachedAddress(TQuery Query, FAddress& Cache, std::string& Ip, int& Port) const
	{
		if (!Cache.bKnown)
		{
			Address(Query, Cache.Ip, Cache.Port);
			Cache.bKnown = true;
		}
		Ip = Cache.Ip;
		Port = Cache.Port;
	}

	template <typename TQuery>
	void Address(TQuery Query, std::string& Ip, int& Port) const
	{
		sockaddr_storage Storage{};
		socklen_t Length = sizeof(Storage);
		Ip.clear();
		Port = 0;
		if (Query(Socket, reinterpret_cast<sockaddr*>(&Storage), &Length) != 0)
		{
			return;
		}
		char Text[INET6_ADDRSTRLEN] = {};
		if (Storage.ss_family == AF_INET)
		{
			const auto* V4 = reinterpret_cast<const sockaddr_in*>(&Storage);
			::inet_ntop(AF_INET, &V4->sin_addr, Text, sizeof(Text));
			Port = ntohs(V4->sin_port);
		}
		else if (Storage.ss_family == AF_INET6)
		{
			const auto* V6 = reinterpret_cast<const sockaddr_in6*>(&Storage);
			::inet_ntop(AF_INET6, &V6->sin6_addr, Text, sizeof(Text));
			Port = ntohs(V6->sin6_port);
		}
		Ip = Text;
	}

	const int Socket;
	const FConnectionLimits& Limits;
	const std::atomic<socket_t>& Listener;
	const FWorkerPool* Pool;
	EPhase Phase = EPhase::Head;
	Clock::time_point PhaseStart;
	Clock::time_point Deadline;
	size_t Budget = 0;
	bool bClose = false;
	mutable FAddress Remote;
	mutable FAddress Local;
	char Buffer[16 * 1024];
	size_t Begin = 0;
	size_t End = 0;
};

void LingeringClose(int Socket)
{
	::shutdown(Socket, SHUT_WR);
	const Clock::time_point Deadline = Clock::now() + LingerTime;
	char Sink[16 * 1024];
	size_t Drained = 0;
	while (Drained < LingerBytes)
	{
		const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now());
		pollfd Poll{Socket, POLLIN, 0};
		if (Left.count() <= 0 || ::poll(&Poll, 1, static_cast<int>(Left.count())) <= 0)
		{
			break;
		}
		const ssize_t Count = ::recv(Socket, Sink, sizeof(Sink), 0);
		if (Count <= 0)
		{
			break;
		}
		Drained += static_cast<size_t>(Count);
	}
	::close(Socket);
}

} // namespace

FBoundedServer::FBoundedServer(const FConnectionLimits& InLimits)
    : Limits(InLimits)
{
	new_task_queue = [this]
	{
		Pool = new FWorkerPool(Limits.MaxWorkers);
		return Pool;
	};
}

void FBoundedServer::CloseAfterResponse(const httplib::Request& Request)
{
	if (CurrentConnection != nullptr)
	{
		CurrentConnection->RequestClose();
	}
	// httplib writes "Connection: close" for a request that asked for it. The request object is
	// httplib's own mutable one, handed to handlers as const only by signature.
	auto& Mutable = const_cast<httplib::Request&>(Request);
	Mutable.headers.erase("Connection");
	Mutable.headers.emplace("Connection", "close");
}

bool FBoundedServer::process_and_close_socket(socket_t Socket)
{
	FConnectionStream Stream(Socket, Limits, svr_sock_, Pool);
	bool bServed = true;
	bool bClean = true;
	for (size_t Left = keep_alive_max_count_; Left > 0; --Left)
	{
		if (!Stream.WaitForRequest())
		{
			break;
		}
		Stream.BeginPhase(FConnectionStream::EPhase::Head);
		bool bClientClosed = false;
		CurrentConnection = &Stream;
		bServed = process_request(Stream, Left == 1, bClientClosed,
		                          [&Stream](httplib::Request&) { Stream.BeginPhase(FConnectionStream::EPhase::Body); });
		CurrentConnection = nullptr;
		if (!bServed || Stream.CloseRequested())
		{
			bClean = false;
			break;
		}
		if (bClientClosed)
		{
			break;
		}
	}
	if (bClean)
	{
		::shutdown(Socket, SHUT_RDWR);
		::close(Socket);
	}
	else
	{
		LingeringClose(Socket);
	}
	return bServed;
}

} // namespace OrvaDev
