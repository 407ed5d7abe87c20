#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLibraryInfo>
#ifdef ORVA_TEST_WIDGETS
#include <QApplication>
#endif

#include <gtest/gtest.h>

#include "InstallPaths.h"
#include "Log.h"

#include <dlfcn.h>

namespace
{
// Image format plugins bring libraries with thread-local storage (libjpeg). Unloaded at exit, such
// a library leaves the main thread a stale thread-local entry, which the leak checker then reads
// while it scans the threads and crashes on, now and then, after every test has passed. Loaded
// here first, never to be unloaded, they stay until the process ends.
void KeepImagePluginsLoaded()
{
	const QDir Plugins(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/imageformats"));
	for (const QString& Name : Plugins.entryList({QStringLiteral("*.so")}, QDir::Files))
	{
		// The handle stays open on purpose: the library is to stay.
		::dlopen(QFile::encodeName(Plugins.filePath(Name)).constData(), RTLD_LAZY | RTLD_NODELETE);
	}
}
} // namespace

int main(int argc, char** argv)
{
	// Tests draw nothing on a screen: without a platform chosen by the caller they run offscreen,
	// listing their cases for CTest included.
	if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
	{
		qputenv("QT_QPA_PLATFORM", "offscreen");
	}
	::testing::InitGoogleTest(&argc, argv);
	KeepImagePluginsLoaded();
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
