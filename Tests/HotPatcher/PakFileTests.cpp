// Pak files: the engine-written sample reads as its README lists it, and what our writer produces
// reads back with both index hashes and every entry hash intact.

#include "CraftedPak.h"
#include "PakFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cstring>
#include <random>

#include <gtest/gtest.h>

namespace
{
QString SamplePak()
{
	return QStringLiteral(ORVA_SHARED_DIR "/testdata/pak/sample-v11.pak");
}

bool WriteFile(const QString& Path, const QByteArray& Bytes)
{
	QDir().mkpath(QFileInfo(Path).path());
	QFile File(Path);
	return File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size();
}

QByteArray ReadFile(const QString& Path)
{
	QFile File(Path);
	return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

void FlipByte(const QString& Path, qint64 Offset)
{
	QFile File(Path);
	ASSERT_TRUE(File.open(QIODevice::ReadWrite));
	ASSERT_TRUE(File.seek(Offset));
	char Byte = 0;
	ASSERT_EQ(File.read(&Byte, 1), 1);
	Byte ^= 0x5a;
	ASSERT_TRUE(File.seek(Offset));
	ASSERT_EQ(File.write(&Byte, 1), 1);
}
} // namespace

TEST(PakFile, SampleReadsAsItsReadmeListsIt)
{
	// The README's listing: "mount <point>" and one "<size> <path>" line per file.
	const QString Readme = QString::fromUtf8(ReadFile(QStringLiteral(ORVA_SHARED_DIR "/testdata/pak/README.md")));
	const QRegularExpression MountLine(QStringLiteral("^mount (\\S+)$"), QRegularExpression::MultilineOption);
	const QRegularExpression FileLine(QStringLiteral("^ +(\\d+) (\\S+)$"), QRegularExpression::MultilineOption);
	const QString ExpectedMount = MountLine.match(Readme).captured(1);
	QStringList Expected;
	for (auto It = FileLine.globalMatch(Readme); It.hasNext();)
	{
		const auto Match = It.next();
		Expected.append(Match.captured(2) + QLatin1Char(' ') + Match.captured(1));
	}
	ASSERT_EQ(Expected.size(), 4);

	FPakReader Reader;
	ASSERT_TRUE(Reader.Open(SamplePak())) << Reader.GetError().toStdString();
	EXPECT_EQ(Reader.GetMountPoint(), ExpectedMount);
	QStringList Listed;
	for (FPakEntryInfo Entry : Reader.GetEntries())
	{
		EXPECT_TRUE(Reader.VerifyEntry(Entry)) << Reader.GetError().toStdString();
		Listed.append(Entry.Path + QLatin1Char(' ') + QString::number(Entry.Size));
		if (Entry.Path == QLatin1String("zeros.bin"))
		{
			EXPECT_EQ(Entry.Sha1, QCryptographicHash::hash(QByteArray(2048, '\0'), QCryptographicHash::Sha1));
		}
	}
	Listed.sort();
	Expected.sort();
	EXPECT_EQ(Listed, Expected);
}

TEST(PakFile, WrittenPakReadsBackWithEveryHash)
{
	QTemporaryDir Dir;
	const QString Source = Dir.filePath(QStringLiteral("src"));
	struct FInput
	{
		QString PathInPak;
		QByteArray Bytes;
	};
	QByteArray Large(3 * 1024 * 1024 + 17, '\0');
	for (int Index = 0; Index < Large.size(); ++Index)
	{
		Large[Index] = char((Index * 131) ^ (Index >> 9));
	}
	const QList<FInput> Inputs = {
	    {QStringLiteral("Content/W1/Maps/Entry.umap"), QByteArray("level")},
	    {QStringLiteral("Content/W1/Props/Crane.uasset"), Large},
	    {QStringLiteral("Content/W1/Props/Empty.uasset"), QByteArray()},
	    {QStringLiteral("Config/DefaultGame.ini"), QByteArray("[/Script/Engine]\n")},
	    {QStringLiteral("Content/W1/Hafen_\u00e4\u00f6\u00fc.uasset"), QByteArray("umlauts")},
	    {QStringLiteral("Readme.txt"), QByteArray("top level")},
	};
	const QString PakPath = Dir.filePath(QStringLiteral("Entry_WindowsClient.pak"));
	FPakWriter Writer;
	ASSERT_TRUE(Writer.Open(PakPath, QStringLiteral("../../../ORVAClient/")));
	for (int Index = 0; Index < Inputs.size(); ++Index)
	{
		const QString File = Source + QStringLiteral("/f") + QString::number(Index);
		ASSERT_TRUE(WriteFile(File, Inputs[Index].Bytes));
		FPakEntryInfo Entry;
		ASSERT_TRUE(Writer.AddFile(File, Inputs[Index].PathInPak, &Entry)) << Writer.GetError().toStdString();
		EXPECT_EQ(Entry.Sha1, QCryptographicHash::hash(Inputs[Index].Bytes, QCryptographicHash::Sha1));
		// Nothing under the final name until the pak is complete.
		EXPECT_FALSE(QFile::exists(PakPath));
	}
	ASSERT_TRUE(Writer.Finish()) << Writer.GetError().toStdString();
	EXPECT_FALSE(QFile::exists(PakPath + QStringLiteral(".tmp")));

	FPakReader Reader;
	ASSERT_TRUE(Reader.Open(PakPath)) << Reader.GetError().toStdString();
	EXPECT_EQ(Reader.GetMountPoint(), QStringLiteral("../../../ORVAClient/"));
	ASSERT_EQ(Reader.GetEntries().size(), Inputs.size());
	const QByteArray PakBytes = ReadFile(PakPath);
	for (const FInput& Input : Inputs)
	{
		bool bFound = false;
		for (FPakEntryInfo Entry : Reader.GetEntries())
		{
			if (Entry.Path != Input.PathInPak)
			{
				continue;
			}
			bFound = true;
			ASSERT_TRUE(Reader.VerifyEntry(Entry)) << Reader.GetError().toStdString();
			EXPECT_EQ(Entry.Size, Input.Bytes.size());
			EXPECT_EQ(PakBytes.mid(Entry.Offset + PakFormat::EntryHeaderSize, Entry.Size), Input.Bytes);
		}
		EXPECT_TRUE(bFound) << Input.PathInPak.toStdString();
	}
}

TEST(PakFile, CorruptionIsFoundWhereverItIs)
{
	QTemporaryDir Dir;
	const QString File = Dir.filePath(QStringLiteral("data.bin"));
	ASSERT_TRUE(WriteFile(File, QByteArray(5000, 'x')));
	const QString Original = Dir.filePath(QStringLiteral("ok.pak"));
	FPakWriter Writer;
	ASSERT_TRUE(Writer.Open(Original, QStringLiteral("../../../ORVAClient/")));
	ASSERT_TRUE(Writer.AddFile(File, QStringLiteral("Content/a.uasset")));
	ASSERT_TRUE(Writer.AddFile(File, QStringLiteral("Content/Sub/b.uasset")));
	ASSERT_TRUE(Writer.Finish());
	const qint64 Size = QFileInfo(Original).size();

	FPakReader Intact;
	ASSERT_TRUE(Intact.Open(Original));
	const qint64 IndexStart = 2 * (PakFormat::EntryHeaderSize + 5000);

	struct FCase
	{
		const char* What;
		qint64 Offset;
		bool bIndexFails;
	};
	const FCase Cases[] = {
	    {"data of the second entry", PakFormat::EntryHeaderSize + 5000 + PakFormat::EntryHeaderSize + 10, false},
	    {"hash in an entry header", PakFormat::EntryHeaderSize - 10, false},
	    {"primary index", IndexStart + 8, true},
	    {"secondary index", Size - PakFormat::FooterSize - 3, true},
	    {"footer's index hash", Size - PakFormat::FooterSize + 45, true},
	    {"footer's magic", Size - PakFormat::FooterSize + 17, true},
	};
	for (const FCase& Case : Cases)
	{
		const QString Copy = Dir.filePath(QString::fromLatin1(Case.What).replace(QLatin1Char(' '), QLatin1Char('_')));
		ASSERT_TRUE(QFile::copy(Original, Copy));
		FlipByte(Copy, Case.Offset);
		FPakReader Reader;
		const bool bOpened = Reader.Open(Copy);
		if (Case.bIndexFails)
		{
			EXPECT_FALSE(bOpened) << Case.What;
			continue;
		}
		ASSERT_TRUE(bOpened) << Case.What << ": " << Reader.GetError().toStdString();
		bool bAllVerified = true;
		for (FPakEntryInfo Entry : Reader.GetEntries())
		{
			bAllVerified = Reader.VerifyEntry(Entry) && bAllVerified;
		}
		EXPECT_FALSE(bAllVerified) << Case.What;
	}

	// A truncated pak is refused, not read past its end.
	const QString Truncated = Dir.filePath(QStringLiteral("short.pak"));
	ASSERT_TRUE(WriteFile(Truncated, ReadFile(Original).left(Size - 1)));
	FPakReader Short;
	EXPECT_FALSE(Short.Open(Truncated));
}

TEST(PakFile, FailedBuildLeavesNoPakAndKeepsTheOldOne)
{
	QTemporaryDir Dir;
	const QString PakPath = Dir.filePath(QStringLiteral("P.pak"));
	ASSERT_TRUE(WriteFile(PakPath, QByteArray("older pak")));
	const QString File = Dir.filePath(QStringLiteral("a.bin"));
	ASSERT_TRUE(WriteFile(File, QByteArray("a")));

	FPakWriter Missing;
	ASSERT_TRUE(Missing.Open(PakPath, QStringLiteral("../../../")));
	ASSERT_TRUE(Missing.AddFile(File, QStringLiteral("a.bin")));
	EXPECT_FALSE(Missing.AddFile(Dir.filePath(QStringLiteral("nope.bin")), QStringLiteral("nope.bin")));
	EXPECT_TRUE(Missing.GetError().contains(QStringLiteral("nope.bin")));
	EXPECT_FALSE(Missing.Finish());
	EXPECT_EQ(ReadFile(PakPath), QByteArray("older pak"));
	EXPECT_FALSE(QFile::exists(PakPath + QStringLiteral(".tmp")));

	{
		FPakWriter Abandoned;
		ASSERT_TRUE(Abandoned.Open(PakPath, QStringLiteral("../../../")));
		ASSERT_TRUE(Abandoned.AddFile(File, QStringLiteral("a.bin")));
		// Same path twice, in another case, would make the indexes ambiguous.
		EXPECT_FALSE(Abandoned.AddFile(File, QStringLiteral("A.BIN")));
	}
	EXPECT_EQ(ReadFile(PakPath), QByteArray("older pak"));
	EXPECT_EQ(QDir(Dir.path()).entryList(QDir::Files).size(), 2);
}

TEST(PakFile, DamagedPaksAreRefusedWithoutReadingOutOfBounds)
{
	// Thousands of damaged copies of a small pak (bytes changed, counts and offsets set to extremes,
	// cut short): the reader refuses each or reads it, never crashes or reads outside the file (the
	// sanitizer build checks the latter). A pak it accepts whole has data matching every hash.
	QTemporaryDir Dir;
	const QString Source = Dir.filePath(QStringLiteral("a.bin"));
	ASSERT_TRUE(WriteFile(Source, QByteArray("0123456789abcdef")));
	const QString Original = Dir.filePath(QStringLiteral("ok.pak"));
	FPakWriter Writer;
	ASSERT_TRUE(Writer.Open(Original, QStringLiteral("../../../ORVAClient/")));
	ASSERT_TRUE(Writer.AddFile(Source, QStringLiteral("Content/a.uasset")));
	ASSERT_TRUE(Writer.AddFile(Source, QStringLiteral("Content/Deep/Er/b.uasset")));
	ASSERT_TRUE(Writer.Finish());
	const QByteArray Bytes = ReadFile(Original);

	std::mt19937 Random(12);
	const QString Damaged = Dir.filePath(QStringLiteral("damaged.pak"));
	int Refused = 0;
	for (int Round = 0; Round < 3000; ++Round)
	{
		QByteArray Copy = Bytes;
		switch (Round % 4)
		{
		case 0:
			Copy[Random() % Copy.size()] = char(Random());
			break;
		case 1:
		{
			// A four-byte field set to an extreme: counts, lengths, offsets.
			const quint32 Values[] = {0, 1, 0x7fffffff, 0x80000000, 0xffffffff, quint32(Copy.size())};
			const int At = int(Random() % (Copy.size() - 4));
			const quint32 Value = Values[Random() % 6];
			std::memcpy(Copy.data() + At, &Value, 4);
			break;
		}
		case 2:
			Copy.truncate(int(Random() % Copy.size()));
			break;
		default:
			for (int Flip = 0; Flip < 8; ++Flip)
			{
				Copy[Random() % Copy.size()] ^= char(1 << (Random() % 8));
			}
		}
		ASSERT_TRUE(WriteFile(Damaged, Copy));
		FPakReader Reader;
		if (!Reader.Open(Damaged))
		{
			EXPECT_FALSE(Reader.GetError().isEmpty());
			++Refused;
			continue;
		}
		for (FPakEntryInfo Entry : Reader.GetEntries())
		{
			if (Reader.VerifyEntry(Entry))
			{
				EXPECT_EQ(QCryptographicHash::hash(Copy.mid(Entry.Offset + PakFormat::EntryHeaderSize, Entry.Size),
				                                   QCryptographicHash::Sha1),
				          Entry.Sha1);
			}
		}
	}
	// Nearly every damage lands in a hashed part.
	EXPECT_GT(Refused, 2000);
}

namespace
{
// Opens the bytes as a pak and checks every entry; empty when all of it reads, else the reason.
QString ReadWhole(const QByteArray& Bytes, QList<FPakEntryInfo>* OutEntries = nullptr)
{
	QTemporaryDir Dir;
	const QString Path = Dir.filePath(QStringLiteral("crafted.pak"));
	if (!WriteFile(Path, Bytes))
	{
		return QStringLiteral("cannot write the pak");
	}
	FPakReader Reader;
	if (!Reader.Open(Path))
	{
		return Reader.GetError();
	}
	QList<FPakEntryInfo> Entries = Reader.GetEntries();
	for (FPakEntryInfo& Entry : Entries)
	{
		if (!Reader.VerifyEntry(Entry))
		{
			return Reader.GetError();
		}
	}
	if (OutEntries)
	{
		*OutEntries = Entries;
	}
	return QString();
}

FCraftedPak TwoFiles()
{
	FCraftedPak Pak;
	Pak.Entries = {{QStringLiteral("Content/a.uasset"), QByteArray("level bytes")},
	               {QStringLiteral("Content/Props/b.uasset"), QByteArray("crate bytes")}};
	return Pak;
}
} // namespace

TEST(PakFile, NegativeOffsetsAndSizesAreRefusedWhereverTheyAreListed)
{
	// The crafted form itself reads, listed either way.
	FCraftedPak Pak = TwoFiles();
	QList<FPakEntryInfo> Entries;
	ASSERT_EQ(ReadWhole(Pak.Build(), &Entries), QString());
	ASSERT_EQ(Entries.size(), 2);
	Pak.Entries[1].bNonEncoded = true;
	ASSERT_EQ(ReadWhole(Pak.Build()), QString());

	// Size -5 with the hash of nothing: the entry's real bytes would be covered by no hash.
	for (const bool bNonEncoded : {true, false})
	{
		FCraftedPak Negative = TwoFiles();
		Negative.Entries[1].ClaimedSize = -5;
		Negative.Entries[1].ClaimedSha1 = QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha1);
		Negative.Entries[1].bNonEncoded = bNonEncoded;
		EXPECT_NE(ReadWhole(Negative.Build()), QString()) << "non-encoded: " << bNonEncoded;

		FCraftedPak Before = TwoFiles();
		Before.Entries[0].OffsetShift = -1000;
		Before.Entries[0].bNonEncoded = bNonEncoded;
		EXPECT_NE(ReadWhole(Before.Build()), QString()) << "non-encoded: " << bNonEncoded;
	}

	// An entry handed back with a negative size is not verified either.
	QTemporaryDir Dir;
	const QString Path = Dir.filePath(QStringLiteral("good.pak"));
	ASSERT_TRUE(WriteFile(Path, TwoFiles().Build()));
	FPakReader Reader;
	ASSERT_TRUE(Reader.Open(Path));
	FPakEntryInfo Entry = Reader.GetEntries().at(0);
	Entry.Size = -5;
	EXPECT_FALSE(Reader.VerifyEntry(Entry));
}

TEST(PakFile, NamesTheWriterRefusesTheReaderRefuses)
{
	QTemporaryDir Dir;
	const QString Source = Dir.filePath(QStringLiteral("a.bin"));
	ASSERT_TRUE(WriteFile(Source, QByteArray("bytes")));
	const QStringList Refused = {
	    QStringLiteral("/etc/passwd"),
	    QStringLiteral("Content/../../../outside.uasset"),
	    QStringLiteral(".."),
	    QStringLiteral("./Content/a.uasset"),
	    QStringLiteral("Content//a.uasset"),
	    QStringLiteral("Content/a.uasset/"),
	    QStringLiteral("Content\\..\\a.uasset"),
	    QStringLiteral("C:/Windows/a.dll"),
	    QStringLiteral("Content/a.uasset\nVerdict: world x can be played"),
	    QStringLiteral("Content/a\tb.uasset"),
	    QStringLiteral("Content/a") + QChar(0) + QStringLiteral("b.uasset"),
	    QStringLiteral("Content/a") + QChar(0x85) + QStringLiteral("b.uasset"),
	    QStringLiteral("Content/a") + QChar(0x2028) + QStringLiteral("b.uasset"),
	    QStringLiteral("Content/") + QString(200000, QLatin1Char('a')),
	};
	for (const QString& Name : Refused)
	{
		const std::string Shown = PakFormat::Printable(Name.left(80)).toStdString();
		EXPECT_FALSE(PakFormat::EntryPathProblem(Name).isEmpty()) << Shown;
		FPakWriter Writer;
		ASSERT_TRUE(Writer.Open(Dir.filePath(QStringLiteral("w.pak")), QStringLiteral("../../../ORVAClient/")));
		EXPECT_FALSE(Writer.AddFile(Source, Name)) << Shown;
		EXPECT_FALSE(Writer.GetError().contains(QLatin1Char('\n'))) << Shown;

		FCraftedPak Pak = TwoFiles();
		Pak.Entries.append({Name, QByteArray("hostile")});
		const QString Problem = ReadWhole(Pak.Build());
		EXPECT_NE(Problem, QString()) << Shown;
		EXPECT_FALSE(Problem.contains(QLatin1Char('\n')) || Problem.contains(QChar(0))) << Shown;
		EXPECT_LE(Problem.size(), 4 * PakFormat::MaxPathLength) << Shown;
	}

	// Names a project's files have: spaces, non-ASCII letters, dots inside a name.
	FCraftedPak Pak = TwoFiles();
	Pak.Entries.append({QStringLiteral("Content/Wörld Maps/.hidden/a..b é.uasset"), QByteArray("fine")});
	EXPECT_EQ(ReadWhole(Pak.Build()), QString());
	FPakWriter Writer;
	ASSERT_TRUE(Writer.Open(Dir.filePath(QStringLiteral("w.pak")), QStringLiteral("../../../ORVAClient/")));
	EXPECT_TRUE(Writer.AddFile(Source, Pak.Entries.last().Path)) << Writer.GetError().toStdString();
	EXPECT_TRUE(Writer.Finish());
}

TEST(PakFile, EntriesSharingDataAreRefused)
{
	// A second name over the first entry's block: each hash would check out.
	FCraftedPak Shared = TwoFiles();
	Shared.Entries.append({QStringLiteral("Content/alias.uasset"), QByteArray()});
	Shared.Entries.last().SameOffsetAs = 0;
	Shared.Entries.last().ClaimedSize = Shared.Entries[0].Data.size();
	Shared.Entries.last().ClaimedSha1 = QCryptographicHash::hash(Shared.Entries[0].Data, QCryptographicHash::Sha1);
	const QString Problem = ReadWhole(Shared.Build());
	EXPECT_TRUE(Problem.contains(QStringLiteral("overlap"))) << Problem.toStdString();

	// One that starts inside another's data.
	FCraftedPak Inside = TwoFiles();
	Inside.Entries[1].SameOffsetAs = 0;
	Inside.Entries[1].OffsetShift = PakFormat::EntryHeaderSize + 2;
	EXPECT_TRUE(ReadWhole(Inside.Build()).contains(QStringLiteral("overlap")));
}

TEST(PakFile, PrintableKeepsEveryNameOnOneLine)
{
	EXPECT_EQ(PakFormat::Printable(QStringLiteral("Content/Wörld Maps/é.uasset")),
	          QStringLiteral("Content/Wörld Maps/é.uasset"));
	EXPECT_EQ(PakFormat::Printable(QStringLiteral("a\nVerdict: x\r\tb\\c")),
	          QStringLiteral("a\\nVerdict: x\\r\\tb\\\\c"));
	EXPECT_EQ(
	    PakFormat::Printable(QStringLiteral("a") + QChar(0) + QChar(0x202e) + QChar(0xd800) + QStringLiteral("b")),
	    QStringLiteral("a\\u{0}\\u{202e}\\u{d800}b"));
	// A character outside the first plane stays whole.
	EXPECT_EQ(PakFormat::Printable(QString::fromUcs4(U"x\U0001F600")), QString::fromUcs4(U"x\U0001F600"));
}
