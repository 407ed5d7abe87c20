// The player client stand-in: plays the world the editor launched it on, or says why it cannot.

#include "OrvaClient.h"
#include "PakFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

int main(int argc, char** argv)
{
	QCoreApplication App(argc, argv);
	QCoreApplication::setApplicationName(QStringLiteral("ORVAClient"));
	const FClientCommandLine Line = FClientCommandLine::Parse(App.arguments().mid(1));

	// One log per run, the previous one kept beside it.
	const QString LogPath = OrvaClientPaths::LogFile(QCoreApplication::applicationDirPath());
	QDir().mkpath(QFileInfo(LogPath).absolutePath());
	const QString Backup = QFileInfo(LogPath).absolutePath() + QStringLiteral("/ORVAClient-backup.log");
	QFile::remove(Backup);
	QFile::rename(LogPath, Backup);
	FFileLogSink LogFile(LogPath);
	FLog::AddSink(&LogFile);
	// -Log is the console: without it the lines go to the log file only.
	const bool bLogFileWritable = QFileInfo(LogPath).isWritable();
	FLog::SetStderrEnabled(Line.bLog || !bLogFileWritable);

	UE_LOG(LogInit, Display,
	       PakFormat::Printable(QStringLiteral("ORVAClient started with %1 arguments: %2")
	                                .arg(App.arguments().size() - 1)
	                                .arg(Line.Describe())));
	UE_LOG(LogInit, Display, PakFormat::Printable(QStringLiteral("Log file: %1").arg(LogPath)));
	FOrvaClient Client(Line, OrvaClientPaths::ServiceBaseUrl());
	int ExitCode = FOrvaClient::ExitNotPlayable;
	QObject::connect(&Client, &FOrvaClient::Finished, &App,
	                 [&ExitCode](int Code)
	                 {
		                 ExitCode = Code;
		                 QCoreApplication::exit(Code);
	                 });
	// From the event loop: a run that fails at once still ends it.
	QTimer::singleShot(0, &Client, &FOrvaClient::Start);
	App.exec();
	UE_LOG(LogInit, Display, PakFormat::Printable(QStringLiteral("ORVAClient exits with %1").arg(ExitCode)));
	FLog::RemoveSink(&LogFile);
	return ExitCode;
}
