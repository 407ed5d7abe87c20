#include "TestProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace
{
std::string ReadWhole(const std::string& Path)
{
	std::ifstream File(Path);
	std::ostringstream Text;
	Text << File.rdbuf();
	return Text.str();
}

// True with the status once the child has ended (or is not ours to wait for).
bool WaitForExit(pid_t Pid, std::chrono::milliseconds Limit, int& OutStatus)
{
	const auto Deadline = std::chrono::steady_clock::now() + Limit;
	while (true)
	{
		const pid_t Result = ::waitpid(Pid, &OutStatus, WNOHANG);
		if (Result == Pid || Result < 0)
		{
			return true;
		}
		if (std::chrono::steady_clock::now() >= Deadline)
		{
			return false;
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
}
} // namespace

bool IsExecutableFile(const std::string& Path)
{
	struct stat Info
	{
	};
	return ::stat(Path.c_str(), &Info) == 0 && S_ISREG(Info.st_mode) && ::access(Path.c_str(), X_OK) == 0;
}

std::string FindProgram(const std::string& Name)
{
	if (Name.find('/') != std::string::npos)
	{
		return IsExecutableFile(Name) ? Name : std::string();
	}
	const char* Path = std::getenv("PATH");
	std::istringstream Dirs(Path != nullptr ? Path : "");
	std::string Dir;
	while (std::getline(Dirs, Dir, ':'))
	{
		const std::string Candidate = (Dir.empty() ? std::string(".") : Dir) + "/" + Name;
		if (IsExecutableFile(Candidate))
		{
			return Candidate;
		}
	}
	return {};
}

FTempDir::FTempDir()
{
	const char* Base = std::getenv("TMPDIR");
	std::string Template = std::string(Base != nullptr && *Base != '\0' ? Base : "/tmp") + "/OrvaTest-XXXXXX";
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

FTestProcess::~FTestProcess()
{
	Kill();
}

std::string FTestProcess::Start(const std::vector<std::string>& Arguments, const std::string& OutputPath,
                                const std::string& ErrorPath, const std::vector<std::string>& Set,
                                const std::vector<std::string>& Unset)
{
	if (Pid > 0 || Arguments.empty())
	{
		return Pid > 0 ? "already running" : "no program";
	}
	const std::string Program = FindProgram(Arguments[0]);
	if (Program.empty())
	{
		return "cannot find " + Arguments[0];
	}
	Output = OutputPath;
	Error = ErrorPath.empty() ? OutputPath : ErrorPath;
	const int OutFd = ::open(Output.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
	const int ErrFd = Error == Output ? OutFd : ::open(Error.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
	if (OutFd < 0 || ErrFd < 0)
	{
		if (OutFd >= 0)
		{
			::close(OutFd);
		}
		return "cannot open the output file " + (OutFd < 0 ? Output : Error);
	}

	// Everything the child needs is prepared before fork: after it only exec-safe calls run.
	std::vector<std::string> Args = Arguments;
	std::vector<char*> Argv;
	Argv.reserve(Args.size() + 1);
	for (std::string& Argument : Args)
	{
		Argv.push_back(Argument.data());
	}
	Argv.push_back(nullptr);
	std::vector<std::string> Environment;
	for (char** Entry = environ; *Entry != nullptr; ++Entry)
	{
		const std::string Name(*Entry, std::strcspn(*Entry, "="));
		const auto Named = [&Name](const std::string& Other)
		{ return Other == Name || Other.rfind(Name + "=", 0) == 0; };
		if (std::none_of(Unset.begin(), Unset.end(), Named) && std::none_of(Set.begin(), Set.end(), Named))
		{
			Environment.emplace_back(*Entry);
		}
	}
	Environment.insert(Environment.end(), Set.begin(), Set.end());
	std::vector<char*> Envp;
	Envp.reserve(Environment.size() + 1);
	for (std::string& Entry : Environment)
	{
		Envp.push_back(Entry.data());
	}
	Envp.push_back(nullptr);
	const pid_t Parent = ::getpid();

	const pid_t Child = ::fork();
	if (Child == 0)
	{
		// A group of its own, so that a stop reaches whatever the program starts in turn; and it
		// goes when the test process dies, whatever the way.
		::setpgid(0, 0);
		::prctl(PR_SET_PDEATHSIG, SIGTERM);
		if (::getppid() != Parent)
		{
			::_exit(127);
		}
		::dup2(OutFd, STDOUT_FILENO);
		::dup2(ErrFd, STDERR_FILENO);
		const int Null = ::open("/dev/null", O_RDONLY);
		::dup2(Null, STDIN_FILENO);
		::execve(Program.c_str(), Argv.data(), Envp.data());
		::_exit(127);
	}
	::close(OutFd);
	if (ErrFd != OutFd)
	{
		::close(ErrFd);
	}
	if (Child < 0)
	{
		return "fork failed";
	}
	::setpgid(Child, Child);
	Pid = Child;
	return {};
}

std::string FTestProcess::WaitForLine(const std::string& Text, std::chrono::milliseconds Limit)
{
	const auto Deadline = std::chrono::steady_clock::now() + Limit;
	while (Pid > 0)
	{
		std::istringstream Lines(ReadWhole(Output));
		std::string Line;
		while (std::getline(Lines, Line))
		{
			if (Line.find(Text) != std::string::npos && !Lines.eof())
			{
				return Line;
			}
		}
		// An ended program prints no more; its last lines were read above.
		if (HasEnded())
		{
			return {};
		}
		if (std::chrono::steady_clock::now() >= Deadline)
		{
			return {};
		}
		std::this_thread::sleep_for(std::chrono::milliseconds(10));
	}
	return {};
}

int FTestProcess::Stop(int Signal, std::chrono::milliseconds Grace)
{
	if (Pid <= 0)
	{
		return -1;
	}
	::kill(-Pid, Signal);
	return Wait(Grace);
}

int FTestProcess::Wait(std::chrono::milliseconds Limit)
{
	if (Pid <= 0)
	{
		return LastExitCode;
	}
	int Status = 0;
	if (!WaitForExit(Pid, Limit, Status))
	{
		Kill();
		return -1;
	}
	Reap(Status);
	return LastExitCode;
}

bool FTestProcess::HasEnded()
{
	if (Pid <= 0)
	{
		return true;
	}
	int Status = 0;
	const pid_t Result = ::waitpid(Pid, &Status, WNOHANG);
	if (Result == 0)
	{
		return false;
	}
	Reap(Result == Pid ? Status : -1);
	return true;
}

void FTestProcess::Reap(int Status)
{
	// What the program started goes with it.
	::kill(-Pid, SIGKILL);
	Pid = -1;
	LastExitCode = Status >= 0 && WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

void FTestProcess::Kill()
{
	if (Pid > 0)
	{
		::kill(-Pid, SIGKILL);
		int Status = 0;
		::waitpid(Pid, &Status, 0);
		Pid = -1;
		LastExitCode = -1;
	}
}

std::string FTestProcess::OutputText() const
{
	return Output.empty() ? std::string() : ReadWhole(Output);
}

std::string FTestProcess::ErrorText() const
{
	return Error.empty() ? std::string() : ReadWhole(Error);
}

FProgramRun RunProgram(const std::vector<std::string>& Arguments, std::chrono::milliseconds Limit,
                       const std::vector<std::string>& Set, const std::vector<std::string>& Unset)
{
	FProgramRun Run;
	const FTempDir Temp;
	const std::string Folder = Temp.Path().string();
	if (Folder.empty())
	{
		Run.Error = "cannot make a temporary folder";
		return Run;
	}
	{
		FTestProcess Process;
		const std::string Problem = Process.Start(Arguments, Folder + "/stdout", Folder + "/stderr", Set, Unset);
		if (Problem.empty())
		{
			const auto Deadline = std::chrono::steady_clock::now() + Limit;
			while (!Process.HasEnded() && std::chrono::steady_clock::now() < Deadline)
			{
				std::this_thread::sleep_for(std::chrono::milliseconds(10));
			}
			Run.bEnded = !Process.IsRunning();
			Process.Kill();
			Run.ExitCode = Run.bEnded ? Process.ExitCode() : -1;
			Run.Output = Process.OutputText();
			Run.Error = Process.ErrorText();
		}
		else
		{
			Run.Error = Problem;
		}
	}
	return Run;
}

std::vector<std::string> ProgramLine(const QString& Program, const QStringList& Arguments)
{
	std::vector<std::string> Line{Program.toStdString()};
	for (const QString& Argument : Arguments)
	{
		Line.push_back(Argument.toStdString());
	}
	return Line;
}
