#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <optional>

// Sets an environment variable for one scope (unsets it for nullopt) and puts the old value back.
// Processes started meanwhile inherit the value.
class FScopedEnv
{
public:
	FScopedEnv(const char* InName, std::optional<QByteArray> Value)
	    : Name(InName)
	{
		if (qEnvironmentVariableIsSet(Name))
		{
			Old = qgetenv(Name);
		}
		Value ? qputenv(Name, *Value) : qunsetenv(Name);
	}
	~FScopedEnv() { Old ? qputenv(Name, *Old) : qunsetenv(Name); }
	FScopedEnv(const FScopedEnv&) = delete;
	FScopedEnv& operator=(const FScopedEnv&) = delete;

private:
	const char* Name;
	std::optional<QByteArray> Old;
};
