#include "LevelEditorWindow.h"
#include "OrvaEditorApp.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace
{
int SignalPipe[2] = {-1, -1};

void OnQuitSignal(int)
{
	const char Byte = 1;
	[[maybe_unused]] const ssize_t Written = ::write(SignalPipe[1], &Byte, 1);
}

// Ctrl-C or a SIGTERM closes the editor as its window does, so the module unloads and the
// subsystems save what they keep.
void QuitOnSignals(QApplication& App)
{
	if (::pipe(SignalPipe) != 0)
	{
		return;
	}
	auto* Notifier = new QSocketNotifier(SignalPipe[0], QSocketNotifier::Read, &App);
	QObject::connect(Notifier, &QSocketNotifier::activated, &App, [] { QApplication::quit(); });
	struct sigaction Action = {};
	Action.sa_handler = OnQuitSignal;
	sigemptyset(&Action.sa_mask);
	Action.sa_flags = SA_RESTART;
	sigaction(SIGINT, &Action, nullptr);
	sigaction(SIGTERM, &Action, nullptr);
}
} // namespace

int main(int argc, char** argv)
{
	QApplication App(argc, argv);
	QApplication::setApplicationName(QStringLiteral("OrvaEditor"));
	FOrvaEditorApp::ApplyEditorStyle();

	QString ProjectFile;
	const QStringList Arguments = App.arguments();
	for (int Index = 1; Index < Arguments.size(); ++Index)
	{
		if (!Arguments[Index].startsWith(QLatin1Char('-')))
		{
			ProjectFile = Arguments[Index];
			break;
		}
	}
	if (ProjectFile.isEmpty())
	{
		ProjectFile = QFileDialog::getOpenFileName(nullptr, QStringLiteral("Open Project"), QDir::homePath(),
		                                           QStringLiteral("Projects (*.uproject)"));
		if (ProjectFile.isEmpty())
		{
			return 0;
		}
	}
	if (!QFileInfo(ProjectFile).isFile())
	{
		std::fprintf(stderr, "Usage: OrvaEditor [PROJECT.uproject]\nNo project file at %s\n",
		             qUtf8Printable(ProjectFile));
		return 2;
	}

	FOrvaEditorOptions Options;
	Options.ProjectFile = QFileInfo(ProjectFile).absoluteFilePath();
	FOrvaEditorApp Editor(std::move(Options));
	Editor.Start();
	Editor.Window().show();
	QuitOnSignals(App);
	const int ExitCode = App.exec();
	Editor.Shutdown();
	return ExitCode;
}
