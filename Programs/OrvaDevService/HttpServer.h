#pragma once

#include <httplib.h>

#include <chrono>
#include <cstddef>
#include <string_view>

// FBoundedServer replaces httplib's private connection loop (process_and_close_socket) and reads
// its protected members, none of which httplib promises to keep. Another release may rename or
// reorder them, or call the loop differently, and still compile; so the server builds only against
// the release it was written and tested for. Moving to another release means reading its
// Server::process_and_close_socket and process_request again, then changing this line.
#ifndef CPPHTTPLIB_VERSION
#error "cpp-httplib without CPPHTTPLIB_VERSION is older than FBoundedServer supports (0.11.4)"
#endif
static_assert(std::string_view(CPPHTTPLIB_VERSION) == "0.11.4",
              "FBoundedServer overrides cpp-httplib 0.11.4 internals; check them against this release");

namespace OrvaDev
{

// How long and how much one connection may take. httplib on its own only bounds the silence
// between two reads, so a client that sends a byte now and then keeps a worker for ever, and a
// chunked body or an endless header line has no size limit at all.
struct FConnectionLimits
{
	std::chrono::milliseconds IdleTimeout{5000};    // waiting for the next request on a kept-alive connection
	std::chrono::milliseconds HeaderTimeout{10000}; // from the first byte of a request to the end of its headers
	std::chrono::milliseconds BodyTimeout{60000};   // from the end of the headers to the end of the body
	std::chrono::milliseconds WriteTimeout{10000};  // silence while writing an answer
	size_t MaxHeadBytes = 64 * 1024;                // request line and headers
	size_t MaxBodyBytes = 64 * 1024 * 1024;         // the largest body any route takes
	size_t MaxWorkers = 256;
};

// httplib's server with a connection loop of its own: every read has a deadline and a byte
// budget for the part of the request it belongs to, workers are started as connections need
// them (up to MaxWorkers), and idle or dawdling connections give their worker up when others wait.
class FBoundedServer : public httplib::Server
{
public:
	explicit FBoundedServer(const FConnectionLimits& InLimits);

	// Closes the connection once this request is answered: its body was not (fully) read, so
	// the next bytes on it are no request. The answer says "Connection: close".
	static void CloseAfterResponse(const httplib::Request& Request);

private:
	bool process_and_close_socket(socket_t Socket) override;

	FConnectionLimits Limits;
	class FWorkerPool* Pool = nullptr; // owned by httplib while listening
};

} // namespace OrvaDev
