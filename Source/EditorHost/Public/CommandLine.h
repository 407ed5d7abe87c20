#pragma once

#include <QString>
#include <QStringList>

// The engine's command-line switches: "-Name=Value" and bare "-Name" (the name ignoring case).
namespace FCommandLine
{
// The value of the first "-Name=..." switch, or empty when there is none.
inline QString SwitchValue(const QStringList& Arguments, const QString& Name)
{
	const QString Prefix = QLatin1Char('-') + Name + QLatin1Char('=');
	for (const QString& Argument : Arguments)
	{
		if (Argument.startsWith(Prefix, Qt::CaseInsensitive))
		{
			return Argument.mid(Prefix.size());
		}
	}
	return QString();
}

// Whether the bare switch "-Name" is given.
inline bool Param(const QStringList& Arguments, const QString& Name)
{
	const QString Switch = QLatin1Char('-') + Name;
	for (const QString& Argument : Arguments)
	{
		if (Argument.compare(Switch, Qt::CaseInsensitive) == 0)
		{
			return true;
		}
	}
	return false;
}

// The name of a "-Name=Value" argument; empty for any other argument.
inline QString SwitchName(const QString& Argument)
{
	const qsizetype Equals = Argument.indexOf(QLatin1Char('='));
	return Argument.startsWith(QLatin1Char('-')) && Equals > 1 ? Argument.mid(1, Equals - 1) : QString();
}
} // namespace FCommandLine
