#pragma once

#include "Log.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>

// What every fuzz target needs once per process: a Qt application (timers, networking and the
// file layer expect one), a quiet log, and a scratch folder that goes away at exit.
namespace FFuzz
{
inline QCoreApplication& App()
{
	static int Argc = 1;
	static char Name[] = "fuzz";
	static char* Argv[] = {Name, nullptr};
	static QCoreApplication* Instance = []
	{
		FLog::SetStderrEnabled(false);
		return new QCoreApplication(Argc, Argv);
	}();
	return *Instance;
}

inline const QString& ScratchDir()
{
	static QTemporaryDir Dir;
	static const QString Path = Dir.path() + QLatin1Char('/');
	return Path;
}

inline QByteArray Bytes(const uint8_t* Data, size_t Size)
{
	return QByteArray(reinterpret_cast<const char*>(Data), qsizetype(Size));
}
} // namespace FFuzz
