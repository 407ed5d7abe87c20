#include "FaultProxy.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <sstream>

namespace
{

// Reads until Delimiter has been seen; what came after it stays in OutRest. False on a closed or
// broken connection.
bool ReadHead(int Socket, std::string& OutHead, std::string& OutRest, const std::atomic<bool>& bStopping)
{
	std::string Buffer;
	char Chunk[16384];
	while (!bStopping.load())
	{
		pollfd Poll{Socket, POLLIN, 0};
		if (::poll(&Poll, 1, 100) <= 0)
		{
			continue;
		}
		const ssize_t Read = ::recv(Socket, Chunk, sizeof(Chunk), 0);
		if (Read <= 0)
		{
			return false;
		}
		Buffer.append(Chunk, size_t(Read));
		const size_t End = Buffer.find("\r\n\r\n");
		if (End != std::string::npos)
		{
			OutHead = Buffer.substr(0, End);
			OutRest = Buffer.substr(End + 4);
			return true;
		}
		if (Buffer.size() > 64 * 1024)
		{
			return false;
		}
	}
	return false;
}

// Reads until Body holds Wanted bytes.
bool ReadBody(int Socket, std::string& Body, size_t Wanted, const std::atomic<bool>& bStopping)
{
	char Chunk[65536];
	while (Body.size() < Wanted && !bStopping.load())
	{
		pollfd Poll{Socket, POLLIN, 0};
		if (::poll(&Poll, 1, 100) <= 0)
		{
			continue;
		}
		const ssize_t Read = ::recv(Socket, Chunk, std::min(sizeof(Chunk), Wanted - Body.size()), 0);
		if (Read <= 0)
		{
			return false;
		}
		Body.append(Chunk, size_t(Read));
	}
	return Body.size() >= Wanted;
}

void SendAll(int Socket, const std::string& Bytes)
{
	size_t Sent = 0;
	while (Sent < Bytes.size())
	{
		const ssize_t Written = ::send(Socket, Bytes.data() + Sent, Bytes.size() - Sent, MSG_NOSIGNAL);
		if (Written <= 0)
		{
			return;
		}
		Sent += size_t(Written);
	}
}

std::string Lower(std::string Text)
{
	std::transform(Text.begin(), Text.end(), Text.begin(), [](unsigned char C) { return char(std::tolower(C)); });
	return Text;
}

std::string QueryValue(const std::string& Target, const std::string& Name)
{
	const size_t Question = Target.find('?');
	if (Question == std::string::npos)
	{
		return {};
	}
	std::stringstream Query(Target.substr(Question + 1));
	std::string Pair;
	while (std::getline(Query, Pair, '&'))
	{
		const size_t Equals = Pair.find('=');
		if (Pair.substr(0, Equals) == Name)
		{
			return Equals == std::string::npos ? std::string() : Pair.substr(Equals + 1);
		}
	}
	return {};
}

std::string ErrorAnswer(int Status, const char* Reason, const char* Code, const char* Message)
{
	const std::string Body = std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?><Error><Code>") + Code +
	                         "</Code><Message>" + Message + "</Message></Error>";
	return "HTTP/1.1 " + std::to_string(Status) + " " + Reason +
	       "\r\nContent-Type: application/xml\r\nConnection: close\r\nContent-Length: " + std::to_string(Body.size()) +
	       "\r\n\r\n" + Body;
}

} // namespace

FFaultProxy::FFaultProxy(int InStorePort, std::function<EFault(const FSeen&)> InFault)
    : StorePort(InStorePort)
    , Fault(std::move(InFault))
{
	ListenSocket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	const int One = 1;
	::setsockopt(ListenSocket, SOL_SOCKET, SO_REUSEADDR, &One, sizeof(One));
	sockaddr_in Address{};
	Address.sin_family = AF_INET;
	Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	Address.sin_port = 0;
	if (::bind(ListenSocket, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0 ||
	    ::listen(ListenSocket, 64) != 0)
	{
		::close(ListenSocket);
		ListenSocket = -1;
		return;
	}
	socklen_t Length = sizeof(Address);
	::getsockname(ListenSocket, reinterpret_cast<sockaddr*>(&Address), &Length);
	ListenPort = ntohs(Address.sin_port);
	Acceptor = std::thread([this] { AcceptLoop(); });
}

FFaultProxy::~FFaultProxy()
{
	bStopping = true;
	if (Acceptor.joinable())
	{
		Acceptor.join();
	}
	std::vector<std::thread> Running;
	{
		std::lock_guard Guard(Lock);
		Running.swap(Connections);
	}
	for (std::thread& Connection : Running)
	{
		Connection.join();
	}
	if (ListenSocket >= 0)
	{
		::close(ListenSocket);
	}
}

std::vector<FFaultProxy::EFault> FFaultProxy::FaultsDone() const
{
	std::lock_guard Guard(Lock);
	return Done;
}

std::vector<FFaultProxy::FSeen> FFaultProxy::Requests() const
{
	std::lock_guard Guard(Lock);
	return Seen;
}

void FFaultProxy::AcceptLoop()
{
	while (!bStopping.load())
	{
		pollfd Poll{ListenSocket, POLLIN, 0};
		if (::poll(&Poll, 1, 100) <= 0)
		{
			continue;
		}
		const int Socket = ::accept4(ListenSocket, nullptr, nullptr, SOCK_CLOEXEC);
		if (Socket < 0)
		{
			continue;
		}
		std::lock_guard Guard(Lock);
		Connections.emplace_back([this, Socket] { Serve(Socket); });
	}
}

void FFaultProxy::Serve(int Socket)
{
	std::string Head;
	std::string Body;
	if (!ReadHead(Socket, Head, Body, bStopping))
	{
		::close(Socket);
		return;
	}
	std::istringstream Lines(Head);
	std::string RequestLine;
	std::getline(Lines, RequestLine);
	if (!RequestLine.empty() && RequestLine.back() == '\r')
	{
		RequestLine.pop_back();
	}
	FSeen Request;
	{
		std::istringstream Parts(RequestLine);
		Parts >> Request.Method >> Request.Target;
	}
	httplib::Headers Headers;
	size_t ContentLength = 0;
	std::string HeaderLine;
	while (std::getline(Lines, HeaderLine))
	{
		if (!HeaderLine.empty() && HeaderLine.back() == '\r')
		{
			HeaderLine.pop_back();
		}
		const size_t Colon = HeaderLine.find(':');
		if (Colon == std::string::npos)
		{
			continue;
		}
		std::string Name = HeaderLine.substr(0, Colon);
		std::string Value = HeaderLine.substr(Colon + 1);
		Value.erase(0, Value.find_first_not_of(' '));
		const std::string Folded = Lower(Name);
		if (Folded == "content-length")
		{
			ContentLength = size_t(std::stoull(Value));
			continue;
		}
		if (Folded == "connection" || Folded == "keep-alive" || Folded == "expect")
		{
			continue;
		}
		Headers.emplace(Name, Value);
	}
	const std::string PartNumber = QueryValue(Request.Target, "partNumber");
	const bool bPart = !PartNumber.empty() && Request.Method == "PUT";
	EFault Chosen = EFault::None;
	{
		std::lock_guard Guard(Lock);
		if (bPart)
		{
			Request.PartNumber = std::stoi(PartNumber);
			if (int(PartAttempts.size()) <= Request.PartNumber)
			{
				PartAttempts.resize(size_t(Request.PartNumber) + 1, 0);
			}
			Request.PartAttempt = ++PartAttempts[size_t(Request.PartNumber)];
		}
		Seen.push_back(Request);
	}
	Chosen = Fault ? Fault(Request) : EFault::None;
	if (Chosen != EFault::None)
	{
		std::lock_guard Guard(Lock);
		Done.push_back(Chosen);
	}

	const size_t Wanted =
	    (Chosen == EFault::DropMidBody || Chosen == EFault::Stall) ? ContentLength / 2 : ContentLength;
	const bool bBody = ReadBody(Socket, Body, Wanted, bStopping);
	if (bPart)
	{
		PartBytes += (long long)(std::min(Body.size(), Wanted));
	}
	if (!bBody && Wanted > 0)
	{
		::close(Socket);
		return;
	}
	switch (Chosen)
	{
	case EFault::DropMidBody:
		::shutdown(Socket, SHUT_RDWR);
		::close(Socket);
		return;
	case EFault::Stall:
	{
		const auto Until = std::chrono::steady_clock::now() + std::chrono::duration<double>(StallSeconds);
		while (!bStopping.load() && std::chrono::steady_clock::now() < Until)
		{
			// Gone when the client gave up: its end closed, the unread body discarded.
			pollfd Poll{Socket, POLLRDHUP, 0};
			if (::poll(&Poll, 1, 50) > 0 && (Poll.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0)
			{
				break;
			}
		}
		::close(Socket);
		return;
	}
	case EFault::SlowDown:
		SendAll(Socket, ErrorAnswer(503, "Slow Down", "SlowDown", "Please reduce your request rate."));
		::close(Socket);
		return;
	case EFault::ExpiredToken:
		SendAll(Socket, ErrorAnswer(400, "Bad Request", "ExpiredToken", "The provided token has expired."));
		::close(Socket);
		return;
	case EFault::FlipByte:
		if (!Body.empty())
		{
			Body[Body.size() / 2] = char(Body[Body.size() / 2] ^ 0x01);
		}
		break;
	case EFault::None:
		break;
	}

	httplib::Client Store("127.0.0.1", StorePort);
	Store.set_read_timeout(120, 0);
	Store.set_write_timeout(120, 0);
	// The answer passes on as the store encoded it (a gzip body keeps its Content-Encoding).
	Store.set_decompress(false);
	httplib::Request Forwarded;
	Forwarded.method = Request.Method;
	Forwarded.path = Request.Target;
	Forwarded.headers = Headers;
	Forwarded.body = Body;
	httplib::Response Answer;
	httplib::Error Error = httplib::Error::Success;
	if (!Store.send(Forwarded, Answer, Error))
	{
		SendAll(Socket, ErrorAnswer(502, "Bad Gateway", "InternalError", "The store did not answer the proxy."));
		::close(Socket);
		return;
	}
	std::string Reply = "HTTP/1.1 " + std::to_string(Answer.status) + " " +
	                    (Answer.reason.empty() ? std::string("OK") : Answer.reason) + "\r\n";
	for (const auto& [Name, Value] : Answer.headers)
	{
		const std::string Folded = Lower(Name);
		if (Folded != "content-length" && Folded != "transfer-encoding" && Folded != "connection")
		{
			Reply += Name + ": " + Value + "\r\n";
		}
	}
	Reply += "Connection: close\r\nContent-Length: " + std::to_string(Answer.body.size()) + "\r\n\r\n" + Answer.body;
	SendAll(Socket, Reply);
	::shutdown(Socket, SHUT_WR);
	::close(Socket);
}
