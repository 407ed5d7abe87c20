// Paks with entries compressed in zlib blocks: what the writer compresses reads back whole, what
// would not shrink is stored as it is, and a hostile block table or block is refused before it
// can make the reader read or inflate past what the entry owns.

#include "CraftedPak.h"
#include "PakFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTemporaryDir>

#include <functional>
#include <random>

#include <gtest/gtest.h>
#include <zlib.h>

namespace
{
// Bytes that compress like package files do: repeated names and small numbers among noise.
QByteArray PackageLike(qint64 Size, unsigned Seed)
{
	std::mt19937 Random(Seed);
	QByteArray Bytes;
	Bytes.reserve(Size);
	while (Bytes.size() < Size)
	{
		Bytes.append("/Game/W1/Props/Crate_");
		Bytes.append(QByteArray::number(int(Random() % 64)));
		for (int Index = 0; Index < 12; ++Index)
		{
			Bytes.append(char(Random() % 4));
		}
	}
	Bytes.truncate(Size);
	return Bytes;
}

QByteArray Noise(qint64 Size, unsigned Seed)
{
	std::mt19937 Random(Seed);
	QByteArray Bytes(Size, Qt::Uninitialized);
	for (char& Byte : Bytes)
	{
		Byte = char(Random());
	}
	return Bytes;
}

QByteArray Deflate(const QByteArray& Bytes)
{
	uLongf Length = compressBound(uLong(Bytes.size()));
	QByteArray Out(qsizetype(Length), Qt::Uninitialized);
	compress2(reinterpret_cast<Bytef*>(Out.data()), &Length, reinterpret_cast<const Bytef*>(Bytes.constData()),
	          uLong(Bytes.size()), Z_DEFAULT_COMPRESSION);
	Out.resize(qsizetype(Length));
	return Out;
}

bool WriteBytes(const QString& Path, const QByteArray& Bytes)
{
	QFile File(Path);
	return File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size();
}

QByteArray ReadBytes(const QString& Path)
{
	QFile File(Path);
	return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
}

struct FInput
{
	QString PathInPak;
	QByteArray Bytes;
};

// Writes the inputs into Folder/Entry_WindowsClient.pak; the pak's path.
QString WritePak(const QString& Folder, const QList<FInput>& Inputs, bool bCompressed)
{
	const QString PakPath = Folder + QStringLiteral("/Entry_WindowsClient.pak");
	FPakWriter Writer;
	Writer.SetCompressed(bCompressed);
	EXPECT_TRUE(Writer.Open(PakPath, QStringLiteral("../../../ORVAClient/")));
	for (qsizetype Index = 0; Index < Inputs.size(); ++Index)
	{
		const QString Source = Folder + QStringLiteral("/src%1").arg(Index);
		EXPECT_TRUE(WriteBytes(Source, Inputs[Index].Bytes));
		FPakEntryInfo Info;
		EXPECT_TRUE(Writer.AddFile(Source, Inputs[Index].PathInPak, &Info)) << Writer.GetError().toStdString();
		EXPECT_EQ(Info.FileSha1, QCryptographicHash::hash(Inputs[Index].Bytes, QCryptographicHash::Sha1));
		EXPECT_EQ(Info.UncompressedSize, Inputs[Index].Bytes.size());
	}
	EXPECT_TRUE(Writer.Finish()) << Writer.GetError().toStdString();
	return PakPath;
}

// Opens the bytes as a pak and reads every entry whole; empty when all of it reads, else the reason.
QString ReadAll(const QByteArray& Bytes, QList<QByteArray>* OutData = nullptr)
{
	QTemporaryDir Dir;
	const QString Path = Dir.filePath(QStringLiteral("crafted.pak"));
	if (!WriteBytes(Path, Bytes))
	{
		return QStringLiteral("cannot write the pak");
	}
	FPakReader Reader;
	if (!Reader.Open(Path))
	{
		return Reader.GetError();
	}
	for (FPakEntryInfo Entry : Reader.GetEntries())
	{
		QByteArray Data;
		if (!Reader.VerifyEntry(Entry) || !Reader.ReadEntry(Entry, qint64(1) << 30, Data))
		{
			return Reader.GetError();
		}
		if (OutData)
		{
			OutData->append(Data);
		}
	}
	return QString();
}

// One entry of 100 KiB in two 64 KiB blocks, as our writer would compress it.
FCraftedEntry TwoBlocks(const QByteArray& File)
{
	FCraftedEntry Entry;
	Entry.Path = QStringLiteral("Content/Props/Crane.uasset");
	Entry.UncompressedSize = File.size();
	Entry.BlockSize = quint32(PakFormat::CompressionBlockSize);
	for (qint64 At = 0; At < File.size(); At += PakFormat::CompressionBlockSize)
	{
		Entry.Blocks.append(Deflate(File.mid(At, PakFormat::CompressionBlockSize)));
	}
	return Entry;
}
} // namespace

TEST(PakCompression, EntriesRoundTripAtBlockEdgesAndIncompressibleOnesAreStoredAsTheyAre)
{
	QTemporaryDir Dir;
	const qint64 Block = PakFormat::CompressionBlockSize;
	const QList<FInput> Inputs = {
	    {QStringLiteral("Content/Empty.uasset"), QByteArray()},
	    {QStringLiteral("Content/OneBlock.uasset"), PackageLike(Block, 1)},
	    {QStringLiteral("Content/OneByteOver.uasset"), PackageLike(Block + 1, 2)},
	    {QStringLiteral("Content/Small.uasset"), PackageLike(3000, 3)},
	    {QStringLiteral("Content/Noise.ubulk"), Noise(3 * Block + 5, 4)},
	    {QStringLiteral("Content/Maps/Entry.umap"), PackageLike(20 * Block + 77, 5)},
	};
	const QString PakPath = WritePak(Dir.path(), Inputs, true);

	FPakReader Reader;
	ASSERT_TRUE(Reader.Open(PakPath)) << Reader.GetError().toStdString();
	ASSERT_EQ(Reader.GetEntries().size(), Inputs.size());
	for (qsizetype Index = 0; Index < Inputs.size(); ++Index)
	{
		FPakEntryInfo Entry = Reader.GetEntries()[Index];
		SCOPED_TRACE(Entry.Path.toStdString());
		ASSERT_EQ(Entry.Path, Inputs[Index].PathInPak);
		QByteArray Data;
		ASSERT_TRUE(Reader.ReadEntry(Entry, qint64(1) << 30, Data)) << Reader.GetError().toStdString();
		EXPECT_EQ(Data, Inputs[Index].Bytes);
		EXPECT_EQ(Entry.UncompressedSize, Inputs[Index].Bytes.size());
		// The header's hash is over the stored bytes.
		QFile File(PakPath);
		ASSERT_TRUE(File.open(QIODevice::ReadOnly) && File.seek(Entry.Offset + Entry.HeaderSize()));
		EXPECT_EQ(Entry.Sha1, QCryptographicHash::hash(File.read(Entry.Size), QCryptographicHash::Sha1));
	}
	const QList<FPakEntryInfo>& Entries = Reader.GetEntries();
	// Nothing to compress, and noise that would only grow: both stored as they are.
	EXPECT_FALSE(Entries[0].IsCompressed());
	EXPECT_FALSE(Entries[4].IsCompressed());
	EXPECT_EQ(Entries[4].Size, 3 * Block + 5);
	// A file of one block takes its own size as the block size; one byte more takes two blocks.
	EXPECT_TRUE(Entries[1].IsCompressed());
	EXPECT_EQ(Entries[1].BlockSizes.size(), 1);
	EXPECT_EQ(Entries[1].CompressionBlockSize, quint32(Block));
	EXPECT_EQ(Entries[2].BlockSizes.size(), 2);
	EXPECT_EQ(Entries[2].CompressionBlockSize, quint32(Block));
	EXPECT_EQ(Entries[3].CompressionBlockSize, 3000u);
	EXPECT_EQ(Entries[5].BlockSizes.size(), 21);
	EXPECT_LT(Entries[5].Size, Entries[5].UncompressedSize / 2);

	// The footer names the method the entries use.
	const QByteArray Bytes = ReadBytes(PakPath);
	EXPECT_EQ(Bytes.mid(Bytes.size() - 5 * 32, 32), QByteArray("Zlib") + QByteArray(28, '\0'));

	// The same files give the same bytes, however the blocks were shared out between threads.
	QTemporaryDir Again;
	EXPECT_EQ(ReadBytes(WritePak(Again.path(), Inputs, true)), Bytes);

	// Off, nothing is compressed and no method is named.
	QTemporaryDir Plain;
	const QByteArray PlainBytes = ReadBytes(WritePak(Plain.path(), Inputs, false));
	EXPECT_EQ(PlainBytes.right(5 * 32), QByteArray(5 * 32, '\0'));
	QList<QByteArray> PlainData;
	ASSERT_EQ(ReadAll(PlainBytes, &PlainData), QString());
	ASSERT_EQ(PlainData.size(), Inputs.size());
	EXPECT_EQ(PlainData[5], Inputs[5].Bytes);
	EXPECT_LT(Bytes.size(), PlainBytes.size() - 10 * Block);
}

TEST(PakCompression, CraftedCompressedEntriesReadListedEitherWay)
{
	const QByteArray File = PackageLike(100 * 1024, 7);
	for (const bool bNonEncoded : {false, true})
	{
		FCraftedPak Pak;
		Pak.Entries = {TwoBlocks(File), {QStringLiteral("Content/a.uasset"), QByteArray("level bytes")}};
		Pak.Entries[0].bNonEncoded = bNonEncoded;
		QList<QByteArray> Data;
		ASSERT_EQ(ReadAll(Pak.Build(), &Data), QString()) << "non-encoded: " << bNonEncoded;
		ASSERT_EQ(Data.size(), 2);
		EXPECT_TRUE(Data.contains(File));
	}
}

TEST(PakCompression, HostileBlocksAreRefused)
{
	const QByteArray File = PackageLike(100 * 1024, 8);
	struct FCase
	{
		const char* Name;
		const char* Reason;
		std::function<void(FCraftedPak&)> Damage;
	};
	auto Claim = [](FCraftedPak& Pak, qint64 First, qint64 Second) {
		Pak.Entries[0].ClaimedBlockSizes = QList<qint64>{First, Second};
	};
	const QList<FCase> Cases = {
	    {"a block that inflates past its stated size", "inflates past its stated size of 36864 bytes",
	     [&](FCraftedPak& Pak) { Pak.Entries[0].Blocks[1] = Deflate(File.mid(0, 60 * 1024)); }},
	    {"a block that inflates to fewer bytes than stated", "inflates to 100 bytes, not 36864",
	     [&](FCraftedPak& Pak) { Pak.Entries[0].Blocks[1] = Deflate(File.mid(0, 100)); }},
	    {"a block that is not zlib", "is not a whole zlib stream",
	     [&](FCraftedPak& Pak) { Pak.Entries[0].Blocks[1] = QByteArray(500, 'x'); }},
	    {"a file size that needs more blocks than listed", "2 compression blocks for 204800 bytes",
	     [&](FCraftedPak& Pak) { Pak.Entries[0].UncompressedSize = 200 * 1024; }},
	    {"a block table past the entry", "compression blocks of",
	     [&](FCraftedPak& Pak)
	     { Claim(Pak, Pak.Entries[0].Blocks[0].size(), Pak.Entries[0].Blocks[1].size() + 4000); }},
	    {"blocks ending short of the stored bytes", "compression blocks of",
	     [&](FCraftedPak& Pak) { Claim(Pak, Pak.Entries[0].Blocks[0].size(), Pak.Entries[0].Blocks[1].size() - 1); }},
	    {"blocks and stored bytes past the file", "lies outside the file's data",
	     [&](FCraftedPak& Pak)
	     {
		     const qint64 First = Pak.Entries[0].Blocks[0].size();
		     const qint64 Second = Pak.Entries[0].Blocks[1].size() + 40000;
		     Claim(Pak, First, Second);
		     Pak.Entries[0].ClaimedSize = First + Second;
	     }},
	    {"a block of no bytes", "a compression block of 0 bytes",
	     [&](FCraftedPak& Pak) { Claim(Pak, 0, Pak.Entries[0].Blocks[0].size() + Pak.Entries[0].Blocks[1].size()); }},
	    {"a block size too large to inflate whole", "a compression block size of",
	     [&](FCraftedPak& Pak)
	     {
		     Pak.Entries[0].BlockSize = quint32(PakFormat::MaxCompressionBlockSize + 1);
		     Pak.Entries[0].UncompressedSize = PakFormat::MaxCompressionBlockSize + 2;
	     }},
	    {"a method the footer does not name Zlib", "(\"Oodle\"), only Zlib is read",
	     [&](FCraftedPak& Pak) { Pak.MethodName = "Oodle"; }},
	    {"a hash over the file's bytes, not the stored ones", "does not match its hash",
	     [&](FCraftedPak& Pak)
	     { Pak.Entries[0].ClaimedSha1 = QCryptographicHash::hash(File, QCryptographicHash::Sha1); }},
	};
	for (const bool bNonEncoded : {false, true})
	{
		for (const FCase& Case : Cases)
		{
			FCraftedPak Pak;
			Pak.Entries = {TwoBlocks(File)};
			Pak.Entries[0].bNonEncoded = bNonEncoded;
			Case.Damage(Pak);
			const QString Error = ReadAll(Pak.Build());
			EXPECT_TRUE(Error.contains(QLatin1String(Case.Reason)))
			    << Case.Name << ", non-encoded: " << bNonEncoded << ": " << Error.toStdString();
		}
	}
}

TEST(PakCompression, TheFileSizeIsBoundedBeforeAnythingIsInflated)
{
	const QByteArray File = PackageLike(100 * 1024, 9);
	FCraftedPak Pak;
	Pak.Entries = {TwoBlocks(File)};
	QTemporaryDir Dir;
	const QString Path = Dir.filePath(QStringLiteral("crafted.pak"));
	ASSERT_TRUE(WriteBytes(Path, Pak.Build()));
	FPakReader Reader;
	ASSERT_TRUE(Reader.Open(Path)) << Reader.GetError().toStdString();
	FPakEntryInfo Entry = Reader.GetEntries().at(0);
	QByteArray Data;
	// The stored bytes are far fewer than the bound; the file they inflate to is not.
	ASSERT_LT(Entry.Size, 50 * 1024);
	EXPECT_FALSE(Reader.ReadEntry(Entry, 50 * 1024, Data));
	EXPECT_TRUE(Data.isEmpty());
	EXPECT_TRUE(Reader.ReadEntry(Entry, File.size(), Data)) << Reader.GetError().toStdString();
	EXPECT_EQ(Data, File);
}
