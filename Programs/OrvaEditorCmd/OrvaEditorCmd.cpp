#include "OrvaEditorCmd.h"

#include "CommandLine.h"
#include "EditorHost.h"
#include "FlibHotPatcherCoreHelper.h"
#include "GameThread.h"
#include "HotPatcherCommandlets.h"
#include "InstallPaths.h"
#include "Log.h"
#include "OrvaSDKModule.h"
#include "OrvaSDKSubsystem.h"
#include "OrvaScriptRunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>

namespace
{

void PrintLine(const QString& Text)
{
	std::fprintf(stdout, "%s\n", qUtf8Printable(Text));
	std::fflush(stdout);
}

int RunStatus(FEditorHost& Host)
{
	UOrvaSDKSubsystem* Sdk = Host.GetEditorSubsystem<UOrvaSDKSubsystem>();
	if (!Sdk)
	{
		PrintLine(QStringLiteral("OrvaSDKSubsystem is error"));
		return 1;
	}
	// A saved token is checked by the profile request; give it a bounded time to answer.
	if (!Sdk->GetAccessToken().isEmpty())
	{
		bool bAnswered = false;
		// The connection dies with this frame: an answer arriving later (during the shutdown flush)
		// must not write into it.
		QObject Frame;
		QObject::connect(Sdk, &UOrvaSDKSubsystem::OnLoginStateChanged, &Frame,
		                 [&bAnswered](bool) { bAnswered = true; });
		FGameThread::RunUntil([&] { return bAnswered || Host.Http().GetPendingCount() == 0; }, 10000);
	}
	PrintLine(QStringLiteral("Project: %1").arg(Host.Paths().GetProjectFilePath()));
	PrintLine(QStringLiteral("Logged in: %1").arg(Sdk->IsLoggedin() ? QStringLiteral("yes") : QStringLiteral("no")));
	if (Sdk->IsLoggedin())
	{
		PrintLine(QStringLiteral("User: %1").arg(Sdk->GetUserInfoRecord().DisplayName));
	}
	PrintLine(QStringLiteral("Service: %1").arg(Sdk->GetServiceBaseUrl()));
	PrintLine(QStringLiteral("Settings file: %1").arg(Sdk->GetSettingsFilePath()));
	return 0;
}

// -run=OrvaSDK -script=FILE: drives the plugin's subsystems from an automation script.
int RunOrvaSDKCommandlet(FEditorHost& Host, const QStringList& Arguments, QString& OutFailure)
{
	const QString Script = FCommandLine::SwitchValue(Arguments, QStringLiteral("script"));
	if (Script.isEmpty())
	{
		OutFailure = QStringLiteral("-run=OrvaSDK needs -script=FILE");
		return 2;
	}
	if (!QFileInfo(Script).isFile())
	{
		OutFailure = QStringLiteral("No script at %1").arg(Script);
		return 2;
	}
	FOrvaScriptRunner Runner(Host);
	if (!Runner.RunFile(Script))
	{
		OutFailure = Runner.GetError();
		return 1;
	}
	return 0;
}
} // namespace

int RunOrvaEditorCmd(const QStringList& Arguments)
{
	// Reading a pak needs no project.
	if (FCommandLine::SwitchValue(Arguments, QStringLiteral("run"))
	        .compare(QLatin1String("PakInfo"), Qt::CaseInsensitive) == 0)
	{
		QString PakFailure;
		const int PakExit = RunPakInfoCommandlet(Arguments, PakFailure);
		if (!PakFailure.isEmpty())
		{
			std::fprintf(stderr, "%s\n", qUtf8Printable(PakFailure));
		}
		return PakExit;
	}
	QString ProjectFile;
	for (int Index = 1; Index < Arguments.size(); ++Index)
	{
		if (!Arguments[Index].startsWith(QLatin1Char('-')))
		{
			ProjectFile = Arguments[Index];
			break;
		}
	}
	if (ProjectFile.isEmpty() || !QFileInfo(ProjectFile).isFile())
	{
		std::fprintf(stderr, "Usage: OrvaEditorCmd PROJECT.uproject [-run=COMMANDLET] [ARGS...]\n");
		if (!ProjectFile.isEmpty())
		{
			std::fprintf(stderr, "No project file at %s\n", qUtf8Printable(ProjectFile));
		}
		return 2;
	}

	FEditorHostOptions Options;
	Options.ProjectFile = ProjectFile;
	Options.EngineDir = FCommandLine::SwitchValue(Arguments, QStringLiteral("EngineDir"));
	if (Options.EngineDir.isEmpty())
	{
		Options.EngineDir = qEnvironmentVariable("ORVA_ENGINE_DIR");
	}
	// The engine content that ships with the program, for /Engine references of projects.
	const QString ShippedEngineContent = FInstallPaths::DataDir() + QStringLiteral("/Resources/EngineContent");
	if (Options.EngineDir.isEmpty() && !FInstallPaths::DataDir().isEmpty() && QFileInfo(ShippedEngineContent).isDir())
	{
		Options.EngineDir = ShippedEngineContent;
	}
	// A script's pak builds run this very program.
	UFlibHotPatcherCoreHelper::SetUECmdBinary(QCoreApplication::applicationFilePath());
	const QString Commandlet = FCommandLine::SwitchValue(Arguments, QStringLiteral("run"));
	// The pak build runs beside an open editor: it must not log in, send anything to the service or
	// write into the editor's log file. Its output goes to the editor that started it.
	const bool bPakBuild = Commandlet.compare(QLatin1String("HotPatcher"), Qt::CaseInsensitive) == 0;
	if (bPakBuild)
	{
		Options.bLogToFile = false;
	}
	FEditorHost Host(Options);
	if (!bPakBuild)
	{
		RegisterOrvaSDKSubsystems(Host);
	}
	Host.Start();

	int ExitCode = 0;
	QString Failure;
	if (Commandlet.isEmpty())
	{
		ExitCode = RunStatus(Host);
	}
	else if (Commandlet.compare(QLatin1String("OrvaSDK"), Qt::CaseInsensitive) == 0)
	{
		ExitCode = RunOrvaSDKCommandlet(Host, Arguments, Failure);
	}
	else if (bPakBuild)
	{
		ExitCode = RunHotPatcherCommandlet(Host, Arguments, Failure);
	}
	else
	{
		Failure = QStringLiteral("Unknown commandlet %1").arg(Commandlet);
		ExitCode = 2;
	}
	Host.Shutdown();
	// The reason comes last, after the shutdown's log lines, so it is the line a caller sees.
	if (!Failure.isEmpty())
	{
		std::fprintf(stderr, "%s\n", qUtf8Printable(Failure));
	}
	return ExitCode;
}
