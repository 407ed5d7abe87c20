// The INI reader on arbitrary file contents: every read operation over every section it finds, then
// a change written back and read again.
#include "ConfigCache.h"
#include "FuzzSupport.h"

#include <QFile>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
	FFuzz::App();
	const QString Path = FFuzz::ScratchDir() + QStringLiteral("Fuzz.ini");
	{
		QFile File(Path);
		if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate))
		{
			std::abort();
		}
		File.write(reinterpret_cast<const char*>(Data), qint64(Size));
	}
	FConfigCache Config;
	const QStringList Sections = Config.GetSectionNames(Path);
	// Keys worth asking for: the plugin's own, and whatever names the text's lines start with.
	QStringList Keys = {QStringLiteral("Token"), QStringLiteral("Path"), QStringLiteral("ServiceBaseUrl")};
	for (const QString& Line : QString::fromUtf8(FFuzz::Bytes(Data, Size)).split(QLatin1Char('\n')).mid(0, 16))
	{
		Keys.append(Line.section(QLatin1Char('='), 0, 0).trimmed());
	}
	for (const QString& Section : Sections.mid(0, 8))
	{
		for (const QString& Key : Keys)
		{
			QString Value;
			bool bValue = false;
			QStringList Values;
			Config.GetString(Section, Key, Value, Path);
			Config.GetText(Section, Key, Value, Path);
			Config.GetBool(Section, Key, bValue, Path);
			Config.GetArray(Section, Key, Values, Path);
		}
	}
	// A value written and flushed reads back exactly, whatever the file held before.
	const QString Written = QString::fromUtf8(FFuzz::Bytes(Data, qMin<size_t>(Size, 64)));
	Config.SetString(QStringLiteral("LoginInfo"), QStringLiteral("Token"), Written, Path);
	if (!Config.Flush(true, Path))
	{
		std::abort();
	}
	FConfigCache Reread;
	QString Back;
	if (!Reread.GetString(QStringLiteral("LoginInfo"), QStringLiteral("Token"), Back, Path) || Back != Written)
	{
		std::abort();
	}
	return 0;
}
