#pragma once

#include <QList>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

// Engine-style log categories and verbosity levels. Lines go to every sink that is
// attached: stderr by default, the project's log file while a host runs, and test captures.

enum class ELogVerbosity
{
	Error,
	Warning,
	Display,
	Log
};

struct FLogCategory
{
	const char* Name;
};

inline constexpr FLogCategory LogTemp{"LogTemp"};
inline constexpr FLogCategory LogHotPatcher{"LogHotPatcher"};
inline constexpr FLogCategory LogEditorHost{"LogEditorHost"};

struct FLogLine
{
	QString Category;
	ELogVerbosity Verbosity = ELogVerbosity::Log;
	QString Message;

	// The engine's form: "LogTemp: Warning: text" ("LogTemp: text" for Display and Log).
	QString Format() const;
};

class FLogSink
{
public:
	virtual ~FLogSink() = default;
	virtual void Receive(const FLogLine& Line) = 0;
};

class FLog
{
public:
	static void Write(const FLogCategory& Category, ELogVerbosity Verbosity, const QString& Message);

	// Sinks are not owned; whoever attaches a sink detaches it before destroying it.
	static void AddSink(FLogSink* Sink);
	static void RemoveSink(FLogSink* Sink);

	// stderr output can be silenced for noisy tests; it is on by default.
	static void SetStderrEnabled(bool bEnabled);
};

// Appends every line to a file, one line each, flushed as it is written.
class FFileLogSink : public FLogSink
{
public:
	explicit FFileLogSink(const QString& FilePath);
	~FFileLogSink() override;
	void Receive(const FLogLine& Line) override;
	QString GetFilePath() const { return FilePath; }

private:
	QString FilePath;
	struct FImpl;
	std::unique_ptr<FImpl> Impl;
};

// Keeps lines in memory for inspection; attaches itself for its lifetime.
class FLogCapture : public FLogSink
{
public:
	FLogCapture();
	~FLogCapture() override;
	void Receive(const FLogLine& Line) override;

	QList<FLogLine> Lines() const;
	// Every message text, in order, optionally only of one verbosity.
	QStringList Messages() const;
	QStringList Messages(ELogVerbosity Verbosity) const;
	bool Contains(const QString& Message) const;
	int Count(const QString& Message) const;
	void Clear();

private:
	mutable std::mutex Mutex;
	QList<FLogLine> Captured;
};

#define UE_LOG(Category, Verbosity, Message) FLog::Write(Category, ELogVerbosity::Verbosity, Message)
