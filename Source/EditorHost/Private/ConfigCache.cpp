#include "ConfigCache.h"

#include "FileHelper.h"

#include "Log.h"
#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

namespace
{
// Lines are kept as they were read, so that a flush changes only what was set: comments, spacing
// and lines we do not understand survive a round trip through the cache.
struct FLine
{
	enum class EKind
	{
		Other,
		Section,
		Entry
	};

	EKind Kind = EKind::Other;
	// The text as it stands in the file; regenerated when the line is edited.
	QString Raw;
	// Section name or key.
	QString Name;
	// '+', '-', '.', '!' or null for a plain "Key=Value" line.
	QChar Op;
	// The value with its quotes and escapes removed.
	QString Value;
};

// One predicate for "blank" on both sides: whatever the reader trims, the writer must protect.
bool IsBlank(QChar Ch)
{
	return Ch.isSpace();
}

QString TrimBlanks(const QString& Text)
{
	qsizetype Begin = 0;
	qsizetype End = Text.size();
	while (Begin < End && IsBlank(Text.at(Begin)))
	{
		++Begin;
	}
	while (End > Begin && IsBlank(Text.at(End - 1)))
	{
		--End;
	}
	return Text.mid(Begin, End - Begin);
}

bool SameName(const QString& A, const QString& B)
{
	return A.compare(B, Qt::CaseInsensitive) == 0;
}

QString Escape(const QString& Value)
{
	QString Out;
	Out.reserve(Value.size() + 8);
	for (const QChar Ch : Value)
	{
		switch (Ch.unicode())
		{
		case '\\':
			Out += QStringLiteral("\\\\");
			break;
		case '\n':
			Out += QStringLiteral("\\n");
			break;
		case '\r':
			Out += QStringLiteral("\\r");
			break;
		case '\t':
			Out += QStringLiteral("\\t");
			break;
		case '\'':
			Out += QStringLiteral("\\'");
			break;
		case '"':
			Out += QStringLiteral("\\\"");
			break;
		default:
			Out += Ch;
		}
	}
	return Out;
}

// Reads a double-quoted literal starting at Text[Pos] == '"'. On success Pos points past the
// closing quote. An unterminated literal yields what was read, with bClosed false.
QString ReadQuoted(const QString& Text, qsizetype& Pos, bool& bClosed)
{
	QString Out;
	bClosed = false;
	++Pos;
	while (Pos < Text.size())
	{
		const QChar Ch = Text.at(Pos);
		if (Ch == QLatin1Char('"'))
		{
			++Pos;
			bClosed = true;
			return Out;
		}
		if (Ch == QLatin1Char('\\') && Pos + 1 < Text.size())
		{
			const QChar Next = Text.at(Pos + 1);
			switch (Next.unicode())
			{
			case 'n':
				Out += QLatin1Char('\n');
				break;
			case 'r':
				Out += QLatin1Char('\r');
				break;
			case 't':
				Out += QLatin1Char('\t');
				break;
			case '\\':
				Out += QLatin1Char('\\');
				break;
			case '\'':
				Out += QLatin1Char('\'');
				break;
			case '"':
				Out += QLatin1Char('"');
				break;
			default:
				// Hand-written files contain Windows paths; an unknown escape is kept as typed.
				Out += Ch;
				Out += Next;
			}
			Pos += 2;
			continue;
		}
		Out += Ch;
		++Pos;
	}
	return Out;
}

void SkipBlanks(const QString& Text, qsizetype& Pos)
{
	while (Pos < Text.size() && IsBlank(Text.at(Pos)))
	{
		++Pos;
	}
}

bool Expect(const QString& Text, qsizetype& Pos, QChar Ch)
{
	SkipBlanks(Text, Pos);
	if (Pos < Text.size() && Text.at(Pos) == Ch)
	{
		++Pos;
		return true;
	}
	return false;
}

// The arguments of MACRO("a", "b", ...), when Text is exactly such a call.
bool ReadTextMacro(const QString& Text, QLatin1String Macro, int ArgCount, QStringList& OutArgs)
{
	if (!Text.startsWith(Macro))
	{
		return false;
	}
	qsizetype Pos = Macro.size();
	if (!Expect(Text, Pos, QLatin1Char('(')))
	{
		return false;
	}
	OutArgs.clear();
	for (int Index = 0; Index < ArgCount; ++Index)
	{
		if (Index > 0 && !Expect(Text, Pos, QLatin1Char(',')))
		{
			return false;
		}
		SkipBlanks(Text, Pos);
		if (Pos >= Text.size() || Text.at(Pos) != QLatin1Char('"'))
		{
			return false;
		}
		bool bClosed = false;
		OutArgs.append(ReadQuoted(Text, Pos, bClosed));
		if (!bClosed)
		{
			return false;
		}
	}
	if (!Expect(Text, Pos, QLatin1Char(')')))
	{
		return false;
	}
	SkipBlanks(Text, Pos);
	return Pos == Text.size();
}

QString TextFromStored(const QString& Stored)
{
	const QString Text = TrimBlanks(Stored);
	QStringList Args;
	if (ReadTextMacro(Text, QLatin1String("INVTEXT"), 1, Args))
	{
		return Args.at(0);
	}
	if (ReadTextMacro(Text, QLatin1String("NSLOCTEXT"), 3, Args))
	{
		return Args.at(2);
	}
	if (ReadTextMacro(Text, QLatin1String("LOCTEXT"), 2, Args))
	{
		return Args.at(1);
	}
	return Stored;
}

QString EntryText(QChar Op, const QString& Key, const QString& Value)
{
	QString Out;
	if (!Op.isNull())
	{
		Out += Op;
	}
	return Out + Key + QLatin1Char('=') + FConfigCache::QuoteValueIfNeeded(Value);
}

FLine ParseLine(const QString& Raw)
{
	FLine Line;
	Line.Raw = Raw;
	const QString Text = TrimBlanks(Raw);
	if (Text.isEmpty() || Text.startsWith(QLatin1Char(';')) || Text.startsWith(QLatin1Char('#')))
	{
		return Line;
	}
	if (Text.startsWith(QLatin1Char('[')) && Text.endsWith(QLatin1Char(']')))
	{
		Line.Kind = FLine::EKind::Section;
		Line.Name = Text.mid(1, Text.size() - 2);
		return Line;
	}
	const qsizetype Equals = Text.indexOf(QLatin1Char('='));
	if (Equals <= 0)
	{
		return Line;
	}
	QString Key = TrimBlanks(Text.left(Equals));
	QChar Op;
	if (Key.size() > 1 && QStringLiteral("+-.!").contains(Key.at(0)))
	{
		Op = Key.at(0);
		Key = TrimBlanks(Key.mid(1));
	}
	if (Key.isEmpty())
	{
		return Line;
	}
	Line.Kind = FLine::EKind::Entry;
	Line.Name = Key;
	Line.Op = Op;
	Line.Value = FConfigCache::UnquoteValue(Text.mid(Equals + 1));
	return Line;
}
} // namespace

struct FConfigCache::FFile
{
	QString Path;
	QList<FLine> Lines;
	bool bDirty = false;
	bool bCrLf = false;

	void Load()
	{
		const QFileInfo Info(Path);
		if (!Info.exists())
		{
			return;
		}
		QFile File(Path);
		if (!Info.isFile() || !File.open(QIODevice::ReadOnly))
		{
			UE_LOG(LogEditorHost, Warning,
			       QStringLiteral("Cannot read config file %1: %2").arg(Path, File.errorString()));
			return;
		}
		Parse(Decode(File.readAll()));
	}

	static QString Decode(const QByteArray& Bytes)
	{
		if (Bytes.startsWith("\xEF\xBB\xBF"))
		{
			return QString::fromUtf8(Bytes.mid(3));
		}
		if (Bytes.startsWith("\xFF\xFE"))
		{
			QStringDecoder Decoder(QStringDecoder::Utf16LE);
			return Decoder(Bytes.mid(2));
		}
		if (Bytes.startsWith("\xFE\xFF"))
		{
			QStringDecoder Decoder(QStringDecoder::Utf16BE);
			return Decoder(Bytes.mid(2));
		}
		return QString::fromUtf8(Bytes);
	}

	void Parse(const QString& Text)
	{
		QStringList RawLines = Text.split(QLatin1Char('\n'));
		if (!RawLines.isEmpty() && RawLines.last().isEmpty())
		{
			RawLines.removeLast();
		}
		for (QString& Raw : RawLines)
		{
			if (Raw.endsWith(QLatin1Char('\r')))
			{
				Raw.chop(1);
				bCrLf = true;
			}
			Lines.append(ParseLine(Raw));
		}
	}

	QByteArray Serialize() const
	{
		const QString Eol = bCrLf ? QStringLiteral("\r\n") : QStringLiteral("\n");
		QString Out;
		for (const FLine& Line : Lines)
		{
			Out += Line.Raw;
			Out += Eol;
		}
		return Out.toUtf8();
	}

	// Calls Visit(Index) for every entry of Key in every block of Section, in file order.
	template <class F>
	void ForEachEntry(const QString& Section, const QString& Key, F&& Visit) const
	{
		bool bInSection = false;
		for (qsizetype Index = 0; Index < Lines.size(); ++Index)
		{
			const FLine& Line = Lines.at(Index);
			if (Line.Kind == FLine::EKind::Section)
			{
				bInSection = SameName(Line.Name, Section);
			}
			else if (bInSection && Line.Kind == FLine::EKind::Entry && SameName(Line.Name, Key))
			{
				Visit(Index);
			}
		}
	}

	QStringList Values(const QString& Section, const QString& Key) const
	{
		QStringList Out;
		ForEachEntry(Section, Key,
		             [&](qsizetype Index)
		             {
			             const FLine& Line = Lines.at(Index);
			             switch (Line.Op.unicode())
			             {
			             case '+':
				             if (!Out.contains(Line.Value))
				             {
					             Out.append(Line.Value);
				             }
				             break;
			             case '-':
				             Out.removeOne(Line.Value);
				             break;
			             case '!':
				             Out.clear();
				             break;
			             default:
				             Out.append(Line.Value);
				             break;
			             }
		             });
		return Out;
	}

	QList<qsizetype> EntryIndices(const QString& Section, const QString& Key) const
	{
		QList<qsizetype> Out;
		ForEachEntry(Section, Key, [&](qsizetype Index) { Out.append(Index); });
		return Out;
	}

	void SetValue(const QString& Section, const QString& Key, const QString& Value)
	{
		const QStringList Current = Values(Section, Key);
		if (Current.size() == 1 && Current.first() == Value)
		{
			return;
		}
		const QList<qsizetype> Indices = EntryIndices(Section, Key);
		if (!Indices.isEmpty())
		{
			// A single value replaces every line the key had, in the place of its first line and
			// with the key spelled as the file spells it.
			FLine& First = Lines[Indices.first()];
			First.Op = QChar();
			First.Value = Value;
			First.Raw = EntryText(First.Op, First.Name, Value);
			for (qsizetype I = Indices.size() - 1; I > 0; --I)
			{
				Lines.removeAt(Indices.at(I));
			}
		}
		else
		{
			InsertEntry(Section, Key, Value);
		}
		bDirty = true;
	}

	void InsertEntry(const QString& Section, const QString& Key, const QString& Value)
	{
		FLine Entry;
		Entry.Kind = FLine::EKind::Entry;
		Entry.Name = Key;
		Entry.Value = Value;
		Entry.Raw = EntryText(QChar(), Key, Value);

		qsizetype LastHeader = -1;
		qsizetype LastEntry = -1;
		bool bInSection = false;
		for (qsizetype Index = 0; Index < Lines.size(); ++Index)
		{
			const FLine& Line = Lines.at(Index);
			if (Line.Kind == FLine::EKind::Section)
			{
				bInSection = SameName(Line.Name, Section);
				if (bInSection)
				{
					LastHeader = Index;
				}
			}
			else if (bInSection && Line.Kind == FLine::EKind::Entry)
			{
				LastEntry = Index;
			}
		}
		if (LastEntry >= 0 || LastHeader >= 0)
		{
			Lines.insert((LastEntry >= 0 ? LastEntry : LastHeader) + 1, Entry);
			return;
		}
		if (!Lines.isEmpty() && !TrimBlanks(Lines.last().Raw).isEmpty())
		{
			Lines.append(FLine{});
		}
		FLine Header;
		Header.Kind = FLine::EKind::Section;
		Header.Name = Section;
		Header.Raw = QLatin1Char('[') + Section + QLatin1Char(']');
		Lines.append(Header);
		Lines.append(Entry);
	}

	bool RemoveKey(const QString& Section, const QString& Key)
	{
		const bool bHadValues = !Values(Section, Key).isEmpty();
		const QList<qsizetype> Indices = EntryIndices(Section, Key);
		for (qsizetype I = Indices.size() - 1; I >= 0; --I)
		{
			Lines.removeAt(Indices.at(I));
		}
		if (!Indices.isEmpty())
		{
			bDirty = true;
		}
		return bHadValues;
	}

	bool RemoveSection(const QString& Section)
	{
		bool bFound = false;
		qsizetype Index = 0;
		while (Index < Lines.size())
		{
			const FLine& Line = Lines.at(Index);
			if (Line.Kind != FLine::EKind::Section || !SameName(Line.Name, Section))
			{
				++Index;
				continue;
			}
			bFound = true;
			qsizetype End = Index + 1;
			while (End < Lines.size() && Lines.at(End).Kind != FLine::EKind::Section)
			{
				++End;
			}
			// Comments and blank lines just above the next header introduce that section.
			if (End < Lines.size())
			{
				while (End > Index + 1 && Lines.at(End - 1).Kind == FLine::EKind::Other)
				{
					--End;
				}
			}
			Lines.remove(Index, End - Index);
		}
		if (bFound)
		{
			bDirty = true;
		}
		return bFound;
	}

	QStringList SectionNames() const
	{
		QStringList Out;
		for (const FLine& Line : Lines)
		{
			if (Line.Kind == FLine::EKind::Section && !Out.contains(Line.Name, Qt::CaseInsensitive))
			{
				Out.append(Line.Name);
			}
		}
		return Out;
	}
};

namespace
{
constexpr QFileDevice::Permissions PrivatePermissions = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

QString CacheKey(const QString& Filename)
{
	return FPaths::ConvertRelativePathToFull(Filename);
}

bool Fail(const QString& Path, const QString& Reason)
{
	UE_LOG(LogEditorHost, Error, QStringLiteral("Cannot write config file %1: %2").arg(Path, Reason));
	return false;
}

// A private file may have been created earlier, by us or by hand, with wider permissions.
void TightenExisting(const QString& Path)
{
	QFile File(Path);
	if (File.exists() && !File.setPermissions(PrivatePermissions))
	{
		UE_LOG(LogEditorHost, Warning,
		       QStringLiteral("Cannot restrict permissions of config file %1: %2").arg(Path, File.errorString()));
	}
}
} // namespace

FConfigCache::FConfigCache() = default;

FConfigCache::~FConfigCache()
{
	// As the engine does at exit: whatever was set and not yet flushed still reaches the disk.
	const QStringList Keys = Files.keys();
	for (const QString& Key : Keys)
	{
		Flush(false, Key);
	}
}

FConfigCache::FFile& FConfigCache::Find(const QString& Filename)
{
	const QString Key = CacheKey(Filename);
	auto It = Files.constFind(Key);
	if (It != Files.constEnd())
	{
		return **It;
	}
	auto File = std::make_shared<FFile>();
	File->Path = Key;
	File->Load();
	Files.insert(Key, File);
	return *File;
}

bool FConfigCache::GetString(const QString& Section, const QString& Key, QString& OutValue, const QString& Filename)
{
	const QStringList Values = Find(Filename).Values(Section, Key);
	if (Values.isEmpty())
	{
		return false;
	}
	OutValue = Values.first();
	return true;
}

void FConfigCache::SetString(const QString& Section, const QString& Key, const QString& Value, const QString& Filename)
{
	Find(Filename).SetValue(Section, Key, Value);
}

bool FConfigCache::GetBool(const QString& Section, const QString& Key, bool& OutValue, const QString& Filename)
{
	QString Text;
	if (!GetString(Section, Key, Text, Filename))
	{
		return false;
	}
	Text = TrimBlanks(Text);
	OutValue = Text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
	           Text.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0 ||
	           Text.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0 || Text == QLatin1String("1");
	return true;
}

void FConfigCache::SetBool(const QString& Section, const QString& Key, bool Value, const QString& Filename)
{
	SetString(Section, Key, Value ? QStringLiteral("True") : QStringLiteral("False"), Filename);
}

bool FConfigCache::GetText(const QString& Section, const QString& Key, QString& OutValue, const QString& Filename)
{
	QString Stored;
	if (!GetString(Section, Key, Stored, Filename))
	{
		return false;
	}
	OutValue = TextFromStored(Stored);
	return true;
}

void FConfigCache::SetText(const QString& Section, const QString& Key, const QString& Value, const QString& Filename)
{
	SetString(Section, Key, QStringLiteral("INVTEXT(\"") + Escape(Value) + QStringLiteral("\")"), Filename);
}

bool FConfigCache::GetArray(const QString& Section, const QString& Key, QStringList& OutValues, const QString& Filename)
{
	OutValues = Find(Filename).Values(Section, Key);
	return !OutValues.isEmpty();
}

bool FConfigCache::RemoveKey(const QString& Section, const QString& Key, const QString& Filename)
{
	return Find(Filename).RemoveKey(Section, Key);
}

bool FConfigCache::EmptySection(const QString& Section, const QString& Filename)
{
	return Find(Filename).RemoveSection(Section);
}

QStringList FConfigCache::GetSectionNames(const QString& Filename)
{
	return Find(Filename).SectionNames();
}

bool FConfigCache::Flush(bool bRemoveFromCache, const QString& Filename)
{
	const QString Key = CacheKey(Filename);
	const bool bPrivate = PrivateFiles.value(Key, false);
	auto It = Files.find(Key);
	if (It == Files.end())
	{
		if (bPrivate)
		{
			TightenExisting(Key);
		}
		return true;
	}
	FFile& File = **It;
	if (!File.bDirty)
	{
		if (bPrivate)
		{
			TightenExisting(Key);
		}
	}
	else
	{
		const QString Folder = QFileInfo(Key).absolutePath();
		if (!QDir().mkpath(Folder))
		{
			return Fail(Key, QStringLiteral("cannot create folder %1").arg(Folder));
		}
		// Written for the owner only from the first byte on, so that a private file is never
		// readable by others, not even briefly.
		QString Reason;
		if (!FFileHelper::SaveArrayToFile(File.Serialize(), Key, &Reason,
		                                  bPrivate ? EFileWrite::OwnerOnly : EFileWrite::None))
		{
			return Fail(Key, Reason);
		}
		File.bDirty = false;
	}
	if (bRemoveFromCache)
	{
		Files.erase(It);
	}
	return true;
}

void FConfigCache::MarkPrivate(const QString& Filename)
{
	PrivateFiles.insert(CacheKey(Filename), true);
}

void FConfigCache::Unload(const QString& Filename)
{
	Files.remove(CacheKey(Filename));
}

QString FConfigCache::QuoteValueIfNeeded(const QString& Value)
{
	const bool bNeedsQuotes =
	    !Value.isEmpty() &&
	    (IsBlank(Value.front()) || IsBlank(Value.back()) || Value.front() == QLatin1Char('"') ||
	     Value.back() == QLatin1Char('\\') || Value.contains(QLatin1Char('\n')) || Value.contains(QLatin1Char('\r')) ||
	     Value.contains(QLatin1Char('{')) || Value.contains(QLatin1Char('}')) || Value.contains(QLatin1String("//")));
	return bNeedsQuotes ? QLatin1Char('"') + Escape(Value) + QLatin1Char('"') : Value;
}

QString FConfigCache::UnquoteValue(const QString& Raw)
{
	const QString Text = TrimBlanks(Raw);
	if (!Text.startsWith(QLatin1Char('"')))
	{
		return Text;
	}
	qsizetype Pos = 0;
	bool bClosed = false;
	return ReadQuoted(Text, Pos, bClosed);
}
