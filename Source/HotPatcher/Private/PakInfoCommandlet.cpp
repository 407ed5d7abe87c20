#include "HotPatcherCommandlets.h"
#include "PakFile.h"

#include <algorithm>
#include <cstdio>

QString GetCommandLineSwitch(const QStringList& Arguments, const QString& Name)
{
	const QString Prefix = QLatin1Char('-') + Name + QLatin1Char('=');
	for (const QString& Argument : Arguments)
	{
		if (Argument.startsWith(Prefix, Qt::CaseInsensitive))
		{
			QString Value = Argument.mid(Prefix.size());
			if (Value.size() >= 2 && Value.startsWith(QLatin1Char('"')) && Value.endsWith(QLatin1Char('"')))
			{
				Value = Value.mid(1, Value.size() - 2);
			}
			return Value;
		}
	}
	return QString();
}

int RunPakInfoCommandlet(const QStringList& Arguments, QString& OutFailure)
{
	const QString PakPath = GetCommandLineSwitch(Arguments, QStringLiteral("pak"));
	if (PakPath.isEmpty())
	{
		OutFailure = QStringLiteral("-run=PakInfo needs -pak=FILE");
		return 2;
	}
	FPakReader Reader;
	if (!Reader.Open(PakPath))
	{
		OutFailure = Reader.GetError();
		return 1;
	}
	std::fprintf(stdout, "mount %s\n", qUtf8Printable(PakFormat::Printable(Reader.GetMountPoint())));
	QList<FPakEntryInfo> Entries = Reader.GetEntries();
	std::sort(Entries.begin(), Entries.end(),
	          [](const FPakEntryInfo& A, const FPakEntryInfo& B) { return A.Path < B.Path; });
	qint64 Total = 0;
	for (FPakEntryInfo& Entry : Entries)
	{
		if (!Reader.VerifyEntry(Entry))
		{
			std::fflush(stdout);
			OutFailure = Reader.GetError();
			return 1;
		}
		std::fprintf(stdout, "%10lld %s %s\n", static_cast<long long>(Entry.UncompressedSize),
		             Entry.Sha1.toHex().constData(), qUtf8Printable(PakFormat::Printable(Entry.Path)));
		Total += Entry.UncompressedSize;
	}
	std::fprintf(stdout, "verified %lld entries, %lld bytes\n", static_cast<long long>(Entries.size()),
	             static_cast<long long>(Total));
	std::fflush(stdout);
	return 0;
}
