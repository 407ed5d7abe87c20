#include "OrvaEditorCmd.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
	QCoreApplication App(argc, argv);
	return RunOrvaEditorCmd(App.arguments());
}
