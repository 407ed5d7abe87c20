#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

// A program a test starts: the local service, the local object store, the editor programs. It
// runs in a process group of its own with its output in a file; the test waits for the line that
// says it is ready (its address), stops it by its process id, and whatever way the test ends, the
// program goes with the object (and with the test process, should that die).
class FTestProcess
{
public:
	FTestProcess() = default;
	~FTestProcess();
	FTestProcess(const FTestProcess&) = delete;
	FTestProcess& operator=(const FTestProcess&) = delete;

	// Starts Arguments[0] with the rest as its arguments and the test's environment with Unset
	// removed and Set ("NAME=VALUE") added. Standard output goes to OutputPath, standard error to
	// ErrorPath (the same file when empty). Empty on success, else the reason.
	std::string Start(const std::vector<std::string>& Arguments, const std::string& OutputPath,
	                  const std::string& ErrorPath = {}, const std::vector<std::string>& Set = {},
	                  const std::vector<std::string>& Unset = {});

	// Waits until a whole line of the output holds Text (empty Text: the first line) and returns
	// that line; empty when the program ended or Limit passed first.
	std::string WaitForLine(const std::string& Text, std::chrono::milliseconds Limit);

	// Sends Signal to the program's process group and waits up to Grace for it to end, then kills
	// the group. The exit code, or -1 for a death by signal or a program that had to be killed.
	int Stop(int Signal, std::chrono::milliseconds Grace);
	// Kills the group at once and reaps the program.
	void Kill();

	bool IsRunning() const { return Pid > 0; }
	pid_t ProcessId() const { return Pid; }
	// Whatever the program wrote to its output file (and its error file, when apart).
	std::string OutputText() const;
	std::string ErrorText() const;

private:
	pid_t Pid = -1;
	std::string Output;
	std::string Error;
};
