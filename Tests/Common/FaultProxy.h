#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTP/1.1 proxy on 127.0.0.1 (a free port) in front of a store on 127.0.0.1, for S3 transfers
// through a bad link: each request is read by hand off its socket, so the proxy can drop the
// connection in the middle of a body, stop reading it (a stall), answer in the store's place, or
// damage a byte before it passes the body on. One request per connection. Stopped, and its
// connection threads joined, when the object goes.
class FFaultProxy
{
public:
	enum class EFault
	{
		None,
		// Half the body is read, then the connection is closed without an answer.
		DropMidBody,
		// The body is read and 503 SlowDown answered; the store sees nothing.
		SlowDown,
		// Half the body is read, then nothing more until the client gives up (or StallSeconds).
		Stall,
		// 400 ExpiredToken, as a store answers credentials past their expiry.
		ExpiredToken,
		// One byte in the middle of the body is flipped on its way to the store.
		FlipByte,
	};

	struct FSeen
	{
		std::string Method;
		// The target as sent: path and query, encoded.
		std::string Target;
		// The part number of an UploadPart (0 for other requests), and which attempt at that part
		// this is (1 for the first).
		int PartNumber = 0;
		int PartAttempt = 0;
	};

	// Fault chooses what happens to each request; it runs on the proxy's threads.
	FFaultProxy(int StorePort, std::function<EFault(const FSeen&)> Fault);
	~FFaultProxy();
	FFaultProxy(const FFaultProxy&) = delete;
	FFaultProxy& operator=(const FFaultProxy&) = delete;

	int Port() const { return ListenPort; }
	// Body bytes read off client connections for UploadPart requests, faulted ones included.
	long long PartBodyBytes() const { return PartBytes.load(); }
	// Each fault that was carried out, in order.
	std::vector<EFault> FaultsDone() const;
	// Every request seen, in order.
	std::vector<FSeen> Requests() const;

	double StallSeconds = 5.0;

private:
	void AcceptLoop();
	void Serve(int Socket);

	int StorePort = 0;
	int ListenSocket = -1;
	int ListenPort = 0;
	std::function<EFault(const FSeen&)> Fault;
	std::atomic<bool> bStopping{false};
	std::atomic<long long> PartBytes{0};
	std::thread Acceptor;
	mutable std::mutex Lock;
	std::vector<std::thread> Connections;
	std::vector<EFault> Done;
	std::vector<FSeen> Seen;
	std::vector<int> PartAttempts;
};
