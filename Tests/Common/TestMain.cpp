#include <QCoreApplication>

#include <gtest/gtest.h>

#include "Log.h"

int main(int argc, char** argv)
{
	::testing::InitGoogleTest(&argc, argv);
	QCoreApplication App(argc, argv);
	// Test output stays readable; tests inspect log lines through FLogCapture.
	if (qEnvironmentVariableIsEmpty("ORVA_TEST_LOG"))
	{
		FLog::SetStderrEnabled(false);
	}
	return RUN_ALL_TESTS();
}
