#pragma once

// Paks that our writer would never produce, built field by field as a hostile or broken packer
// could write them: names of any kind, entries listed without encoding, sizes and offsets that lie.
// The indexes and their hashes are always consistent, so a reader that refuses such a pak refuses
// it for what the entries say, not for a hash it could not match.

#include "PakFile.h"

#include <QCryptographicHash>
#include <QList>
#include <QMap>
#include <QtEndian>

#include <optional>

struct FCraftedEntry
{
	QString Path;
	// The bytes that follow the entry's header in the file.
	QByteArray Data;
	// What the header and the index claim; by default the data's size and SHA-1.
	std::optional<qint64> ClaimedSize;
	std::optional<QByteArray> ClaimedSha1;
	// Listed in the primary index's list of entries stored without encoding.
	bool bNonEncoded = false;
	// Where the index says the entry's header lies, as an index into the pak's entries: the header
	// of that entry (an entry sharing another's data block).
	std::optional<int> SameOffsetAs;
	// Added to the offset the index gives.
	qint64 OffsetShift = 0;
	// When not empty, the entry is compressed with method 1: these blocks are its stored bytes
	// (Data is not used), for a file of UncompressedSize bytes in blocks of BlockSize. The header
	// and the index claim ClaimedBlockSizes when set, else the blocks' own sizes.
	QList<QByteArray> Blocks;
	qint64 UncompressedSize = 0;
	quint32 BlockSize = 0;
	std::optional<QList<qint64>> ClaimedBlockSizes;

	bool IsCompressed() const { return !Blocks.isEmpty(); }
	QByteArray Stored() const
	{
		if (!IsCompressed())
		{
			return Data;
		}
		QByteArray Bytes;
		for (const QByteArray& Block : Blocks)
		{
			Bytes.append(Block);
		}
		return Bytes;
	}
	QList<qint64> ListedBlockSizes() const
	{
		if (ClaimedBlockSizes)
		{
			return *ClaimedBlockSizes;
		}
		QList<qint64> Sizes;
		for (const QByteArray& Block : Blocks)
		{
			Sizes.append(Block.size());
		}
		return Sizes;
	}
};

class FCraftedPak
{
public:
	QString MountPoint = QStringLiteral("../../../ORVAClient/");
	QList<FCraftedEntry> Entries;
	// The footer's first compression-method name.
	QByteArray MethodName = "Zlib";

	QByteArray Build() const
	{
		QByteArray File;
		QList<qint64> Offsets;
		for (const FCraftedEntry& Entry : Entries)
		{
			Offsets.append(File.size());
			File.append(Record(Entry, 0));
			File.append(Entry.Stored());
		}

		QByteArray Encoded;
		QByteArray NonEncoded;
		qint32 NonEncodedCount = 0;
		QList<qint32> IndexOffsets;
		for (qsizetype Index = 0; Index < Entries.size(); ++Index)
		{
			const FCraftedEntry& Entry = Entries[Index];
			const qint64 Offset =
			    (Entry.SameOffsetAs ? Offsets[*Entry.SameOffsetAs] : Offsets[Index]) + Entry.OffsetShift;
			const qint64 Size = Entry.ClaimedSize.value_or(Entry.Stored().size());
			if (Entry.bNonEncoded)
			{
				IndexOffsets.append(-(++NonEncodedCount));
				NonEncoded.append(Record(Entry, Offset));
				continue;
			}
			IndexOffsets.append(qint32(Encoded.size()));
			// Offset and sizes in 64 bits: negative values stay what they are.
			if (!Entry.IsCompressed())
			{
				U32(Encoded, 0);
				I64(Encoded, Offset);
				I64(Encoded, Size);
				continue;
			}
			const QList<qint64> Sizes = Entry.ListedBlockSizes();
			U32(Encoded, (1u << 23) | (quint32(Sizes.size()) << 6) | 0x3f);
			U32(Encoded, Entry.BlockSize);
			I64(Encoded, Offset);
			I64(Encoded, Entry.UncompressedSize);
			I64(Encoded, Size);
			if (Sizes.size() != 1)
			{
				for (const qint64 BlockSize : Sizes)
				{
					U32(Encoded, quint32(BlockSize));
				}
			}
		}

		constexpr quint64 Seed = 0x5eed;
		QByteArray PathHash;
		I32(PathHash, qint32(Entries.size()));
		for (qsizetype Index = 0; Index < Entries.size(); ++Index)
		{
			U64(PathHash, PakFormat::HashPath(Entries[Index].Path, Seed));
			I32(PathHash, IndexOffsets[Index]);
		}
		I32(PathHash, 0);

		QMap<QString, QList<QPair<QString, qint32>>> Directories;
		for (qsizetype Index = 0; Index < Entries.size(); ++Index)
		{
			const QString& Path = Entries[Index].Path;
			const qsizetype Slash = Path.lastIndexOf(QLatin1Char('/'));
			Directories[Slash < 0 ? QStringLiteral("/") : Path.left(Slash + 1)].append(
			    {Path.mid(Slash + 1), IndexOffsets[Index]});
		}
		QByteArray DirectoryIndex;
		I32(DirectoryIndex, qint32(Directories.size()));
		for (auto It = Directories.cbegin(); It != Directories.cend(); ++It)
		{
			String(DirectoryIndex, It.key());
			I32(DirectoryIndex, qint32(It.value().size()));
			for (const auto& [Name, Offset] : It.value())
			{
				String(DirectoryIndex, Name);
				I32(DirectoryIndex, Offset);
			}
		}

		const qint64 IndexOffset = File.size();
		auto Primary = [&](qint64 PathHashOffset, qint64 DirectoryOffset)
		{
			QByteArray Bytes;
			String(Bytes, MountPoint);
			I32(Bytes, qint32(Entries.size()));
			U64(Bytes, Seed);
			U32(Bytes, 1);
			I64(Bytes, PathHashOffset);
			I64(Bytes, PathHash.size());
			Bytes.append(QCryptographicHash::hash(PathHash, QCryptographicHash::Sha1));
			U32(Bytes, 1);
			I64(Bytes, DirectoryOffset);
			I64(Bytes, DirectoryIndex.size());
			Bytes.append(QCryptographicHash::hash(DirectoryIndex, QCryptographicHash::Sha1));
			I32(Bytes, qint32(Encoded.size()));
			Bytes.append(Encoded);
			I32(Bytes, NonEncodedCount);
			Bytes.append(NonEncoded);
			return Bytes;
		};
		const qint64 PrimarySize = Primary(0, 0).size();
		const QByteArray PrimaryIndex = Primary(IndexOffset + PrimarySize, IndexOffset + PrimarySize + PathHash.size());
		File.append(PrimaryIndex);
		File.append(PathHash);
		File.append(DirectoryIndex);
		File.append(16, '\0');
		File.append('\0');
		U32(File, PakFormat::Magic);
		I32(File, PakFormat::Version);
		I64(File, IndexOffset);
		I64(File, PrimaryIndex.size());
		File.append(QCryptographicHash::hash(PrimaryIndex, QCryptographicHash::Sha1));
		QByteArray Name = MethodName;
		Name.resize(32, '\0');
		File.append(Name);
		File.append(4 * 32, '\0');
		return File;
	}

private:
	// The full entry record, as in front of the data and in the list of entries without encoding.
	static QByteArray Record(const FCraftedEntry& Entry, qint64 Offset)
	{
		QByteArray Out;
		const QByteArray Stored = Entry.Stored();
		const qint64 Size = Entry.ClaimedSize.value_or(Stored.size());
		I64(Out, Offset);
		I64(Out, Size);
		I64(Out, Entry.IsCompressed() ? Entry.UncompressedSize : Size);
		U32(Out, Entry.IsCompressed() ? 1 : 0);
		Out.append(Entry.ClaimedSha1.value_or(QCryptographicHash::hash(Stored, QCryptographicHash::Sha1)));
		if (Entry.IsCompressed())
		{
			const QList<qint64> Sizes = Entry.ListedBlockSizes();
			I32(Out, qint32(Sizes.size()));
			qint64 Start = PakFormat::EntryHeaderSize + 4 + 16 * Sizes.size();
			for (const qint64 BlockSize : Sizes)
			{
				I64(Out, Start);
				I64(Out, Start + BlockSize);
				Start += BlockSize;
			}
		}
		Out.append('\0');
		U32(Out, Entry.IsCompressed() ? Entry.BlockSize : 0);
		return Out;
	}

	static void U32(QByteArray& Out, quint32 Value)
	{
		char Data[4];
		qToLittleEndian(Value, Data);
		Out.append(Data, 4);
	}
	static void I32(QByteArray& Out, qint32 Value) { U32(Out, quint32(Value)); }
	static void U64(QByteArray& Out, quint64 Value)
	{
		char Data[8];
		qToLittleEndian(Value, Data);
		Out.append(Data, 8);
	}
	static void I64(QByteArray& Out, qint64 Value) { U64(Out, quint64(Value)); }
	// ASCII without a NUL inside as such, anything else as UTF-16LE with a negative length.
	static void String(QByteArray& Out, const QString& Text)
	{
		bool bAscii = true;
		for (const QChar Ch : Text)
		{
			bAscii = bAscii && Ch.unicode() > 0 && Ch.unicode() < 0x80;
		}
		if (bAscii)
		{
			I32(Out, qint32(Text.size() + 1));
			Out.append(Text.toLatin1());
			Out.append('\0');
			return;
		}
		I32(Out, -qint32(Text.size() + 1));
		for (const QChar Ch : Text)
		{
			char Data[2];
			qToLittleEndian(quint16(Ch.unicode()), Data);
			Out.append(Data, 2);
		}
		Out.append(2, '\0');
	}
};
