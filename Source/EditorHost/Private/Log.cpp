#include "Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace
{
struct FLogState
{
	std::mutex Mutex;
	QList<FLogSink*> Sinks;
	bool bStderr = true;
};

FLogState& State()
{
	static FLogState Instance;
	return Instance;
}

const char* VerbosityName(ELogVerbosity Verbosity)
{
	switch (Verbosity)
	{
	case ELogVerbosity::Error:
		return "Error";
	case ELogVerbosity::Warning:
		return "Warning";
	case ELogVerbosity::Display:
		return "Display";
	case ELogVerbosity::Log:
		return "Log";
	}
	return "Log";
}
} // namespace

QString FLogLine::Format() const
{
	if (Verbosity == ELogVerbosity::Error || Verbosity == ELogVerbosity::Warning)
	{
		return Category + QStringLiteral(": ") + QLatin1String(VerbosityName(Verbosity)) + QStringLiteral(": ") +
		       Message;
	}
	return Category + QStringLiteral(": ") + Message;
}

void FLog::Write(const FLogCategory& Category, ELogVerbosity Verbosity, const QString& Message)
{
	FLogLine Line{QString::fromLatin1(Category.Name), Verbosity, Message};
	FLogState& S = State();
	std::lock_guard Lock(S.Mutex);
	if (S.bStderr)
	{
		const QByteArray Text = Line.Format().toUtf8();
		std::fprintf(stderr, "%s\n", Text.constData());
	}
	for (FLogSink* Sink : S.Sinks)
	{
		Sink->Receive(Line);
	}
}

void FLog::AddSink(FLogSink* Sink)
{
	FLogState& S = State();
	std::lock_guard Lock(S.Mutex);
	if (!S.Sinks.contains(Sink))
	{
		S.Sinks.append(Sink);
	}
}

void FLog::RemoveSink(FLogSink* Sink)
{
	FLogState& S = State();
	std::lock_guard Lock(S.Mutex);
	S.Sinks.removeAll(Sink);
}

void FLog::SetStderrEnabled(bool bEnabled)
{
	FLogState& S = State();
	std::lock_guard Lock(S.Mutex);
	S.bStderr = bEnabled;
}

struct FFileLogSink::FImpl
{
	QFile File;
};

FFileLogSink::FFileLogSink(const QString& InFilePath)
    : FilePath(InFilePath)
    , Impl(std::make_unique<FImpl>())
{
	QDir().mkpath(QFileInfo(FilePath).absolutePath());
	Impl->File.setFileName(FilePath);
	if (!Impl->File.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
	{
		std::fprintf(stderr, "LogEditorHost: Error: Cannot open log file %s\n", qUtf8Printable(FilePath));
	}
}

FFileLogSink::~FFileLogSink() = default;

void FFileLogSink::Receive(const FLogLine& Line)
{
	if (!Impl->File.isOpen())
	{
		return;
	}
	const QString Stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("[yyyy.MM.dd-hh.mm.ss:zzz]"));
	Impl->File.write((Stamp + Line.Format() + QLatin1Char('\n')).toUtf8());
	Impl->File.flush();
}

FLogCapture::FLogCapture()
{
	FLog::AddSink(this);
}
FLogCapture::~FLogCapture()
{
	FLog::RemoveSink(this);
}

void FLogCapture::Receive(const FLogLine& Line)
{
	std::lock_guard Lock(Mutex);
	Captured.append(Line);
}

QList<FLogLine> FLogCapture::Lines() const
{
	std::lock_guard Lock(Mutex);
	return Captured;
}

QStringList FLogCapture::Messages() const
{
	std::lock_guard Lock(Mutex);
	QStringList Out;
	for (const FLogLine& Line : Captured)
	{
		Out.append(Line.Message);
	}
	return Out;
}

QStringList FLogCapture::Messages(ELogVerbosity Verbosity) const
{
	std::lock_guard Lock(Mutex);
	QStringList Out;
	for (const FLogLine& Line : Captured)
	{
		if (Line.Verbosity == Verbosity)
		{
			Out.append(Line.Message);
		}
	}
	return Out;
}

bool FLogCapture::Contains(const QString& Message) const
{
	return Count(Message) > 0;
}

int FLogCapture::Count(const QString& Message) const
{
	std::lock_guard Lock(Mutex);
	int N = 0;
	for (const FLogLine& Line : Captured)
	{
		N += Line.Message == Message ? 1 : 0;
	}
	return N;
}

void FLogCapture::Clear()
{
	std::lock_guard Lock(Mutex);
	Captured.clear();
}
