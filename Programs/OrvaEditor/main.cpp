#include "LevelEditorWindow.h"
#include "OrvaEditorApp.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

#include <cstdio>

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
	const int ExitCode = App.exec();
	Editor.Shutdown();
	return ExitCode;
}
