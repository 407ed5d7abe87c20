#include "ServiceProcess.h"

#include <unistd.h>

#include <chrono>

namespace
{
constexpr auto StartTimeout = std::chrono::seconds(20);
constexpr auto StopGrace = std::chrono::seconds(10);
} // namespace

FDevServiceProcess::FDevServiceProcess(std::string InProgram, std::filesystem::path InDataDir,
                                       std::vector<std::string> InArguments)
    : Program(std::move(InProgram))
    , DataDir(std::move(InDataDir))
    , Arguments(std::move(InArguments))
{
	static int Counter = 0;
	const std::string Suffix = std::to_string(::getpid()) + "-" + std::to_string(++Counter) + ".log";
	StdoutPath = DataDir.parent_path() / ("service-stdout-" + Suffix);
	StderrPath = DataDir.parent_path() / ("service-stderr-" + Suffix);
}

FDevServiceProcess::~FDevServiceProcess()
{
	Kill();
}

std::string FDevServiceProcess::Start()
{
	std::vector<std::string> Argv = {Program, "--data", DataDir.string(), "--port", "0"};
	Argv.insert(Argv.end(), Arguments.begin(), Arguments.end());
	// A restart appends to the same files; only what this start prints counts.
	std::error_code Ignored;
	std::filesystem::remove(StdoutPath, Ignored);
	if (std::string Problem = Process.Start(Argv, StdoutPath.string(), StderrPath.string()); !Problem.empty())
	{
		return Problem;
	}
	const std::string Prefix = "OrvaDevService listening on http://127.0.0.1:";
	// With the storage endpoint enabled its address comes first.
	Line = Process.WaitForLine("OrvaDevService listening on ", StartTimeout);
	if (Line.empty())
	{
		Kill();
		return "no address line; stderr: " + StderrText();
	}
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
	return Process.Stop(Signal, StopGrace);
}

void FDevServiceProcess::Kill()
{
	Process.Kill();
}

std::string FDevServiceProcess::BaseUrl() const
{
	return "http://127.0.0.1:" + std::to_string(ServicePort) + "/api/v1/";
}

std::string FDevServiceProcess::WaitForLine(const std::string& Text)
{
	return Process.WaitForLine(Text, StartTimeout);
}

std::string FDevServiceProcess::StderrText() const
{
	return Process.ErrorText();
}

std::unique_ptr<httplib::Client> FDevServiceProcess::MakeClient() const
{
	auto Client = std::make_unique<httplib::Client>("127.0.0.1", ServicePort);
	Client->set_read_timeout(20, 0);
	Client->set_write_timeout(20, 0);
	Client->set_connection_timeout(5, 0);
	return Client;
}
