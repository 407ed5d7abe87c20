#include <QCoreApplication>
#ifdef ORVA_TEST_WIDGETS
#include <QApplication>
#endif

#include <gtest/gtest.h>

#include "InstallPaths.h"
#include "Log.h"

int main(int argc, char** argv)
{
	// Tests draw nothing on a screen: without a platform chosen by the caller they run offscreen,
	// listing their cases for CTest included.
	if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
	{
		qputenv("QT_QPA_PLATFORM", "offscreen");
	}
	::testing::InitGoogleTest(&argc, argv);
#ifdef ORVA_TEST_WIDGETS
	QApplication App(argc, argv);
#else
	QCoreApplication App(argc, argv);
#endif
	// The pak builds the tests start run the build's headless editor, as the editor programs tell
	// the packaging tool.
	if (qEnvironmentVariableIsEmpty("ORVA_EDITOR_CMD"))
	{
		qputenv("ORVA_EDITOR_CMD", FInstallPaths::ProgramPath(QStringLiteral("OrvaEditorCmd")).toUtf8());
	}
	// Test output stays readable; tests inspect log lines through FLogCapture.
	if (qEnvironmentVariableIsEmpty("ORVA_TEST_LOG"))
	{
		FLog::SetStderrEnabled(false);
	}
	return RUN_ALL_TESTS();
}
