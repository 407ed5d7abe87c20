#include "DevServiceProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace
{

constexpr auto StartTimeout = std::chrono::seconds(20);
constexpr auto StopGrace = std::chrono::seconds(10);

// Waits for the child for up to Limit; true with its status once it has exited.
bool WaitFor(pid_t Pid, std::chrono::milliseconds Limit, int& OutStatus)
{
	const auto Deadline = std::chrono::steady_clock::now() + Limit;
	while (true)
	{
		const pid_t Result = ::waitpid(Pid, &OutStatus, WNOHANG);
		if (Result == Pid)
		{
			return true;
		}
		if (Result < 0 || std::chrono::steady_clock::now() >= Deadline)
		{
			return Result < 0;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
}

} // namespace

FTempDir::FTempDir()
{
	const char* Base = std::getenv("TMPDIR");
	std::string Template = std::string(Base != nullptr && *Base != '\0' ? Base : "/tmp") + "/OrvaDevServiceTest-XXXXXX";
	if (::mkdtemp(Template.data()) != nullptr)
	{
		Root = Template;
	}
}

FTempDir::~FTempDir()
{
	if (!Root.empty())
	{
		std::error_code Ignored;
		std::filesystem::remove_all(Root, Ignored);
	}
}

FDevServiceProcess::FDevServiceProcess(std::filesystem::path InDataDir, std::vector<std::string> InArguments)
    : DataDir(std::move(InDataDir))
    , Arguments(std::move(InArguments))
{
	static int Counter = 0;
	StderrPath = DataDir.parent_path() /
	             ("service-stderr-" + std::to_string(::getpid()) + "-" + std::to_string(++Counter) + ".log");
}

FDevServiceProcess::~FDevServiceProcess()
{
	Kill();
}

std::string FDevServiceProcess::Start()
{
	int Pipe[2];
	if (::pipe2(Pipe, O_CLOEXEC) != 0)
	{
		return "pipe failed";
	}
	std::vector<std::string> Argv = {ORVA_DEVSERVICE_PATH, "--data", DataDir.string(), "--port", "0"};
	Argv.insert(Argv.end(), Arguments.begin(), Arguments.end());
	std::vector<char*> RawArgv;
	for (std::string& Argument : Argv)
	{
		RawArgv.push_back(Argument.data());
	}
	RawArgv.push_back(nullptr);

	posix_spawn_file_actions_t Actions;
	posix_spawn_file_actions_init(&Actions);
	posix_spawn_file_actions_adddup2(&Actions, Pipe[1], STDOUT_FILENO);
	posix_spawn_file_actions_addopen(&Actions, STDERR_FILENO, StderrPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
	const int SpawnResult = ::posix_spawn(&Pid, RawArgv[0], &Actions, nullptr, RawArgv.data(), environ);
	posix_spawn_file_actions_destroy(&Actions);
	::close(Pipe[1]);
	if (SpawnResult != 0)
	{
		::close(Pipe[0]);
		Pid = -1;
		return std::string("cannot start ") + ORVA_DEVSERVICE_PATH;
	}

	// Read up to the first line break, within the time limit.
	std::string Output;
	const auto Deadline = std::chrono::steady_clock::now() + StartTimeout;
	while (Output.find('\n') == std::string::npos)
	{
		const auto Left =
		    std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
		if (Left.count() <= 0)
		{
			break;
		}
		pollfd Poll{Pipe[0], POLLIN, 0};
		if (::poll(&Poll, 1, static_cast<int>(Left.count())) <= 0)
		{
			break;
		}
		char Buffer[256];
		const ssize_t Count = ::read(Pipe[0], Buffer, sizeof(Buffer));
		if (Count <= 0)
		{
			break;
		}
		Output.append(Buffer, static_cast<size_t>(Count));
	}
	::close(Pipe[0]);

	const size_t End = Output.find('\n');
	if (End == std::string::npos)
	{
		Kill();
		return "no address line; stderr: " + StderrText();
	}
	Line = Output.substr(0, End);
	const std::string Prefix = "OrvaDevService listening on http://127.0.0.1:";
	if (Line.rfind(Prefix, 0) != 0)
	{
		Kill();
		return "unexpected address line: " + Line;
	}
	ServicePort = std::atoi(Line.c_str() + Prefix.size());
	return {};
}

int FDevServiceProcess::Stop(int Signal)
{
	if (Pid <= 0)
	{
		return -1;
	}
	::kill(Pid, Signal);
	int Status = 0;
	const bool bExited = WaitFor(Pid, std::chrono::duration_cast<std::chrono::milliseconds>(StopGrace), Status);
	if (!bExited)
	{
		Kill();
		return -1;
	}
	Pid = -1;
	return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

void FDevServiceProcess::Kill()
{
	if (Pid > 0)
	{
		::kill(Pid, SIGKILL);
		int Status = 0;
		::waitpid(Pid, &Status, 0);
		Pid = -1;
	}
}

std::string FDevServiceProcess::StderrText() const
{
	std::ifstream File(StderrPath);
	std::ostringstream Text;
	Text << File.rdbuf();
	return Text.str();
}

std::unique_ptr<httplib::Client> FDevServiceProcess::MakeClient() const
{
	auto Client = std::make_unique<httplib::Client>("127.0.0.1", ServicePort);
	Client->set_read_timeout(20, 0);
	Client->set_write_timeout(20, 0);
	Client->set_connection_timeout(5, 0);
	return Client;
}

std::string Api(const std::string& Relative)
{
	return "/api/v1/" + Relative;
}

httplib::Headers JsonHeaders(const std::string& Token)
{
	httplib::Headers Headers = {{"accept", "application/json"}};
	if (!Token.empty())
	{
		Headers.emplace("Authorization", "Bearer " + Token);
	}
	return Headers;
}

QJsonDocument JsonOf(const httplib::Result& Result)
{
	if (!Result)
	{
		return {};
	}
	return QJsonDocument::fromJson(QByteArray::fromStdString(Result->body));
}

QJsonObject ObjectOf(const httplib::Result& Result)
{
	return JsonOf(Result).object();
}

std::string StringOf(const QJsonObject& Object, const char* Key)
{
	return Object.value(QLatin1String(Key)).toString().toStdString();
}

FPluginMultipart MakePluginMultipart(const std::string& EncodedFileName, const std::string& FileBytes,
                                     const std::string& BoundaryNumber)
{
	const std::string Boundary = "---------------------------" + BoundaryNumber;
	FPluginMultipart Form;
	Form.ContentType = "multipart/form-data; boundary =" + Boundary;
	Form.Body = "\r\n--" + Boundary + "\r\n" + "Content-Disposition: form-data; name=\"image\"; filename=\"" +
	            EncodedFileName + "\"\r\n" + "Content-Type: image/png\r\n\r\n" + FileBytes + "\r\n--" + Boundary +
	            "--\r\n";
	return Form;
}

template <size_t N>
std::string Bytes(const char (&Literal)[N])
{
	return std::string(Literal, N - 1);
}

std::string TinyPng()
{
	// Signature, then an IHDR chunk header; enough for any sniffer, and binary bytes (NUL, CR LF)
	// that a careless multipart parser would trip over.
	return Bytes("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\0\0\x01\0\0\0\x01\x08\x06\0\0\0\x1f\x15\xc4\x89");
}

std::string TinyJpeg()
{
	// "\r\n--" inside the data looks like the start of a delimiter line and must stay data.
	return Bytes("\xFF\xD8\xFF\xE0\0\x10JFIF\0\x01\x01\0\0\x01\0\x01\0\0\r\n--\xFF\xD9");
}

std::string FTestService::Start(const std::vector<std::string>& Extra)
{
	BaseArguments = {"--creator", AliceEmail + ":" + AlicePassword + ":Alice Example", "--creator",
	                 BobPhone + ":" + BobPassword};
	BaseArguments.insert(BaseArguments.end(), Extra.begin(), Extra.end());
	return Restart({});
}

std::string FTestService::Restart(const std::vector<std::string>& Extra)
{
	if (Service)
	{
		Service->Stop(SIGTERM);
	}
	std::vector<std::string> Arguments = BaseArguments;
	Arguments.insert(Arguments.end(), Extra.begin(), Extra.end());
	Service = std::make_unique<FDevServiceProcess>(Data, Arguments);
	std::string Problem = Service->Start();
	if (Problem.empty())
	{
		HttpClient = Service->MakeClient();
	}
	return Problem;
}

std::string FTestService::Login(const std::string& AccountKey, const std::string& Account, const std::string& Password)
{
	const std::string Body = "{\"" + AccountKey + "\":\"" + Account +
	                         "\",\"grant_type\":\"password\",\"guest_token\":\"string\",\"password\":\"" + Password +
	                         "\"}";
	const httplib::Result Result =
	    HttpClient->Post(Api("auth/token?role=creator"), JsonHeaders(), Body, "application/json; charset=utf-8");
	if (!Result || Result->status != 200)
	{
		return {};
	}
	return StringOf(ObjectOf(Result), "access_token");
}

httplib::Result FTestService::PostJson(const std::string& Path, const std::string& Body, const std::string& Token)
{
	return HttpClient->Post(Api(Path), JsonHeaders(Token), Body, "application/json; charset=utf-8");
}

httplib::Result FTestService::PatchJson(const std::string& Path, const std::string& Body, const std::string& Token)
{
	return HttpClient->Patch(Api(Path), JsonHeaders(Token), Body, "application/json; charset=utf-8");
}

httplib::Result FTestService::Get(const std::string& Path, const std::string& Token)
{
	return HttpClient->Get(Api(Path), JsonHeaders(Token));
}

QJsonObject FTestService::CreateWorld(const std::string& Token)
{
	const httplib::Result Result =
	    PostJson("me/worlds", R"({"description":"","name":"NewWorld","public":false})", Token);
	if (!Result || Result->status != 201)
	{
		return {};
	}
	return ObjectOf(Result);
}
