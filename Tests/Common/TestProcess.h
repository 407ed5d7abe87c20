#pragma once

#include <QStringList>

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

// A folder under the system temp folder, removed with everything in it.
class FTempDir
{
public:
	FTempDir();
	~FTempDir();
	FTempDir(const FTempDir&) = delete;
	FTempDir& operator=(const FTempDir&) = delete;

	const std::filesystem::path& Path() const { return Root; }

private:
	std::filesystem::path Root;
};

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

	// Starts Arguments[0] (found as FindProgram finds it) with the rest as its arguments and the test's environment
	// with Unset removed and Set ("NAME=VALUE") added. Standard output goes to OutputPath, standard error to ErrorPath
	// (the same file when empty). Empty on success, else the reason.
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
	// Waits up to Limit for the program to end by itself (killing it after that). The exit code, or
	// -1 for a death by signal or a program that had to be killed.
	int Wait(std::chrono::milliseconds Limit);
	// Whether the program has ended, without waiting: for a test that turns an event loop meanwhile.
	// ExitCode() then says how.
	bool HasEnded();
	// The exit code of the program that ended last, or -1 for a death by signal or a kill.
	int ExitCode() const { return LastExitCode; }

	bool IsRunning() const { return Pid > 0; }
	pid_t ProcessId() const { return Pid; }
	// Whatever the program wrote to its output file (and its error file, when apart).
	std::string OutputText() const;
	std::string ErrorText() const;

private:
	// Takes the ended program's status and stops whatever it started in turn.
	void Reap(int Status);

	pid_t Pid = -1;
	int LastExitCode = -1;
	std::string Output;
	std::string Error;
};

// Name itself when it holds a "/", else the first executable file of that name in the folders of
// PATH, as a shell finds it; empty when there is none.
std::string FindProgram(const std::string& Name);
bool IsExecutableFile(const std::string& Path);

// A program run to its end, as the tests of the editor programs run them.
struct FProgramRun
{
	bool bEnded = false; // false: it was still running at the limit, and was killed
	int ExitCode = -1;   // -1 also for a death by signal
	std::string Output;
	std::string Error;
};

// Runs Arguments[0] to its end (see FTestProcess::Start for Set and Unset); its output goes through
// temporary files that are removed again.
FProgramRun RunProgram(const std::vector<std::string>& Arguments, std::chrono::milliseconds Limit,
                       const std::vector<std::string>& Set = {}, const std::vector<std::string>& Unset = {});

// Program and Arguments as FTestProcess takes them.
std::vector<std::string> ProgramLine(const QString& Program, const QStringList& Arguments);
