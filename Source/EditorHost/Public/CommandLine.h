#pragma once

#include <QString>
#include <QStringList>

// The engine's command-line switches of the form "-Name=Value" (the name ignoring case).
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
} // namespace FCommandLine
