#pragma once

#include "TestProcess.h"

#include <httplib.h>

#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// One OrvaDevService process on a free loopback port over a data folder; its output goes to files
// beside that folder. It is killed when the object goes, so a failed assertion never leaves a
// service running.
class FDevServiceProcess
{
public:
	FDevServiceProcess(std::string InProgram, std::filesystem::path InDataDir, std::vector<std::string> InArguments);
	~FDevServiceProcess();
	FDevServiceProcess(const FDevServiceProcess&) = delete;
	FDevServiceProcess& operator=(const FDevServiceProcess&) = delete;

	// Starts the program and waits for its address line. Empty on success, else the reason.
	std::string Start();

	// Sends the signal and waits for the exit; the exit code, or -1 for a death by signal or a
	// process that had to be killed after the grace time.
	int Stop(int Signal);
	void Kill();
	bool IsRunning() const { return Process.IsRunning(); }
	pid_t ProcessId() const { return Process.ProcessId(); }

	const std::string& AddressLine() const { return Line; }
	int Port() const { return ServicePort; }
	// "http://127.0.0.1:PORT/api/v1/", as the plugin's settings name it.
	std::string BaseUrl() const;
	// A later line of the output that holds Text (the storage endpoint's address, say); empty when
	// none came in time.
	std::string WaitForLine(const std::string& Text);
	std::string StdoutText() const { return Process.OutputText(); }
	std::string StderrText() const;

	std::unique_ptr<httplib::Client> MakeClient() const;

private:
	std::string Program;
	std::filesystem::path DataDir;
	std::vector<std::string> Arguments;
	std::filesystem::path StdoutPath;
	std::filesystem::path StderrPath;
	FTestProcess Process;
	std::string Line;
	int ServicePort = 0;
};
