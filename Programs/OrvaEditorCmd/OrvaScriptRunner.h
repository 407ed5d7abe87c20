#pragma once

#include "Log.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class FEditorHost;

inline constexpr FLogCategory LogOrvaAutomation{"LogOrvaAutomation"};

// Runs an automation script against the editor subsystems of a started host: the `-run=OrvaSDK`
// commandlet of OrvaEditorCmd, and the automation tests.
//
// One command a line; "#" starts a comment outside quoted strings. Subsystems are named by class
// ("UOrvaSDKSubsystem", "UOrvaDataCacheSubsystem"). ARG and JSON are JSON values (strings quoted);
// where a value is expected, "@Subsystem.Name" followed by ".Field" and "[index]" steps stands for
// the current value of a property, or of the result of an operation without parameters.
//
//   call Subsystem.Operation [ARG...]   invokes a Q_INVOKABLE operation, overloads chosen by the
//                                       number of arguments and whether they convert; prints
//                                       {"call":NAME,"result":VALUE} when it returns a value
//   wait Subsystem.Event [SECONDS]      takes the oldest recorded emission of a signal, waiting for
//                                       one (default 30 s) while the event loop runs; prints
//                                       {"event":NAME,"args":[...]}; a time-out fails the script
//   get Subsystem.Path                  prints {"get":NAME,"value":VALUE}
//   expect Subsystem.Path JSON          fails unless the value equals JSON (a set in any order)
//   set Subsystem.Path JSON             writes a property as a view would: a path into a record
//                                       reads the property, changes the field, writes it back
//   answer yes|no|ok|cancel...          queues answers for the next message boxes
//   choose [PATH...]                    queues the files the next file dialog returns (none: the
//                                       dialog is cancelled); relative paths are taken from the
//                                       script's folder
//   sleep SECONDS                       runs the event loop for that long
//   settle [SECONDS]                    runs the event loop until every request sent has been
//                                       answered (default 30 s), for requests that fire no event
//   until Subsystem.Path JSON [SECONDS] runs the event loop until the value equals JSON (default
//                                       30 s), for state that changes without an event; a time-out
//                                       fails the script
//
// Events: every signal of every subsystem is recorded from the moment the runner is made, in the
// order emitted, one queue per event. `wait` takes the oldest emission of its event that no earlier
// `wait` took, so an answer that arrived while another command ran, or a signal emitted inside a
// `call`, is never missed. Nothing else drops recorded emissions: a script that does not wait for an
// event still finds it queued later.
//
// Message boxes are answered from the queued answers. A box that finds none fails the script with
// its text, once the command that raised it has returned.
class FOrvaScriptRunner
{
public:
	// Host must be started (its subsystems exist) and must outlive the runner. Recording of the
	// subsystems' signals starts here.
	explicit FOrvaScriptRunner(FEditorHost& Host);
	~FOrvaScriptRunner();
	FOrvaScriptRunner(const FOrvaScriptRunner&) = delete;
	FOrvaScriptRunner& operator=(const FOrvaScriptRunner&) = delete;

	// Where result lines go, one compact JSON line each; stdout unless set.
	void SetOutput(std::function<void(const QString& Line)> Output);
	// The time-out of a `wait` or `settle` that names none.
	void SetDefaultWaitSeconds(double Seconds);

	bool RunFile(const QString& ScriptPath);
	// ScriptName labels failures; BaseDir resolves relative paths of `choose`.
	bool RunText(const QString& Text, const QString& ScriptName, const QString& BaseDir);

	// "<script>:<line>: <command>: <reason>" of the last failed run; empty after a successful one.
	QString GetError() const;
	// The line of the last failure, 0 when there was none.
	int GetFailedLine() const;

	// How a script line is read: its comment dropped, then split into words and JSON values. False,
	// with a reason, for an unterminated value.
	static bool SplitLine(const QString& Line, QStringList& OutTokens, QString& OutError);

private:
	struct FImpl;
	std::unique_ptr<FImpl> Impl;
};
