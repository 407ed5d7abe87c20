#pragma once

// The byte-level pieces the pak writer and reader share: little-endian archives, the entry
// records and their encoded form, and the checks an entry read from a pak must pass. The layout is
// described in docs/HotPatcher.md.

#include "Digest.h"
#include "PakFile.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtEndian>

#include <zlib.h>

#include <cstring>
#include <limits>

namespace PakArchive
{
// Large enough that the per-call costs of read, hash and write vanish, small enough that a chunk
// is still in the core's cache when it is written out and hashed: with 1 MiB chunks the kernel's
// copy into the pak took several times as long as with these (measured: 0.45 to 1.6 s against
// 0.17 to 0.19 s of system time per 512 MiB), and the build spent twice the CPU of tar.
inline constexpr qint64 CopyChunkSize = 128 * 1024;
// An index larger than this is not one we wrote or the engine would mount.
inline constexpr qint64 MaxIndexSize = qint64(512) << 20;
// The only method written or read; its slot in the footer's table is 1.
inline constexpr char ZlibMethodName[] = "Zlib";
inline constexpr int MethodNameSlots = 5;
inline constexpr int MethodNameSize = 32;

inline QByteArray Sha1Of(const QByteArray& Bytes)
{
	return FDigest::Of<QByteArray>(EDigestKind::Sha1, Bytes.constData(), size_t(Bytes.size()));
}

class FArchiveWriter
{
public:
	QByteArray Bytes;

	void U8(quint8 Value) { Bytes.append(char(Value)); }
	void U32(quint32 Value)
	{
		char Data[4];
		qToLittleEndian(Value, Data);
		Bytes.append(Data, 4);
	}
	void I32(qint32 Value) { U32(quint32(Value)); }
	void U64(quint64 Value)
	{
		char Data[8];
		qToLittleEndian(Value, Data);
		Bytes.append(Data, 8);
	}
	void I64(qint64 Value) { U64(quint64(Value)); }
	void Raw(const QByteArray& Data) { Bytes.append(Data); }
	void Zeros(int Count) { Bytes.append(Count, '\0'); }
	// FString: ASCII with its NUL, else UTF-16LE with a negative length.
	void String(const QString& Text)
	{
		if (Text.isEmpty())
		{
			I32(0);
			return;
		}
		bool bAscii = true;
		for (const QChar Ch : Text)
		{
			if (Ch.unicode() >= 0x80 || Ch.unicode() == 0)
			{
				bAscii = false;
				break;
			}
		}
		if (bAscii)
		{
			I32(qint32(Text.size() + 1));
			Bytes.append(Text.toLatin1());
			U8(0);
			return;
		}
		I32(-qint32(Text.size() + 1));
		for (const QChar Ch : Text)
		{
			char Data[2];
			qToLittleEndian(quint16(Ch.unicode()), Data);
			Bytes.append(Data, 2);
		}
		Zeros(2);
	}
};

// Reads a byte buffer from outside; every read checks what is left, and the first failure sticks.
class FArchiveReader
{
public:
	explicit FArchiveReader(const QByteArray& InBytes)
	    : Bytes(InBytes)
	{
	}

	bool Ok() const { return bOk; }
	qint64 Tell() const { return Pos; }
	qint64 Remaining() const { return Bytes.size() - Pos; }

	bool Take(void* Out, qint64 Size)
	{
		if (!bOk || Size < 0 || Remaining() < Size)
		{
			bOk = false;
			std::memset(Out, 0, size_t(qMax<qint64>(Size, 0)));
			return false;
		}
		std::memcpy(Out, Bytes.constData() + Pos, size_t(Size));
		Pos += Size;
		return true;
	}
	quint8 U8()
	{
		quint8 Value = 0;
		Take(&Value, 1);
		return Value;
	}
	quint32 U32()
	{
		char Data[4];
		Take(Data, 4);
		return qFromLittleEndian<quint32>(Data);
	}
	qint32 I32() { return qint32(U32()); }
	quint64 U64()
	{
		char Data[8];
		Take(Data, 8);
		return qFromLittleEndian<quint64>(Data);
	}
	qint64 I64() { return qint64(U64()); }
	QByteArray Raw(qint64 Size)
	{
		if (!bOk || Size < 0 || Remaining() < Size)
		{
			bOk = false;
			return QByteArray();
		}
		QByteArray Out = Bytes.mid(Pos, Size);
		Pos += Size;
		return Out;
	}
	QString String()
	{
		const qint32 Length = I32();
		if (!bOk || Length == 0)
		{
			return QString();
		}
		if (Length > 0)
		{
			const QByteArray Data = Raw(Length);
			if (!bOk || Data.back() != '\0')
			{
				bOk = false;
				return QString();
			}
			return QString::fromLatin1(Data.constData(), Length - 1);
		}
		if (Length == std::numeric_limits<qint32>::min())
		{
			bOk = false;
			return QString();
		}
		const qint64 Units = -qint64(Length);
		const QByteArray Data = Raw(Units * 2);
		if (!bOk)
		{
			return QString();
		}
		QString Text;
		Text.reserve(Units - 1);
		for (qint64 Index = 0; Index + 1 < Units; ++Index)
		{
			Text.append(QChar(qFromLittleEndian<quint16>(Data.constData() + Index * 2)));
		}
		return Text;
	}

private:
	const QByteArray& Bytes;
	qint64 Pos = 0;
	bool bOk = true;
};

// The full entry record, as in front of each entry's data: block offsets are relative to the
// entry's own offset (written as 0 here), and the blocks follow the record back to back.
inline void WriteEntryHeader(FArchiveWriter& Ar, const FPakEntryInfo& Entry)
{
	Ar.I64(0);
	Ar.I64(Entry.Size);
	Ar.I64(Entry.UncompressedSize);
	Ar.U32(Entry.CompressionMethod);
	Ar.Raw(Entry.Sha1.size() == 20 ? Entry.Sha1 : QByteArray(20, '\0'));
	if (Entry.IsCompressed())
	{
		Ar.I32(qint32(Entry.BlockSizes.size()));
		qint64 Start = Entry.HeaderSize();
		for (const qint64 BlockSize : Entry.BlockSizes)
		{
			Ar.I64(Start);
			Ar.I64(Start + BlockSize);
			Start += BlockSize;
		}
	}
	Ar.U8(0);
	Ar.U32(Entry.CompressionBlockSize);
}

// Bits of the first word of an encoded entry: 31 offset, 30 uncompressed size and 29 size each in
// 32 bits; 28-23 compression method; 22 encrypted; 21-6 block count; 5-0 block size in 2 KiB units
// (all ones: a uint32 block size follows the word).
inline constexpr quint32 OffsetFits32 = 1u << 31;
inline constexpr quint32 UncompressedFits32 = 1u << 30;
inline constexpr quint32 SizeFits32 = 1u << 29;
inline constexpr int MethodShift = 23;
inline constexpr quint32 MethodMask = 0x3f;
inline constexpr quint32 EncryptedBit = 1u << 22;
inline constexpr int BlockCountShift = 6;
inline constexpr quint32 BlockCountMask = 0xffff;
inline constexpr quint32 BlockSizeMask = 0x3f;
inline constexpr int BlockSizeUnitShift = 11;

inline void EncodeEntry(FArchiveWriter& Ar, const FPakEntryInfo& Entry)
{
	constexpr qint64 Max32 = qint64(std::numeric_limits<quint32>::max());
	const bool bOffset32 = Entry.Offset <= Max32;
	const bool bUncompressed32 = Entry.UncompressedSize <= Max32;
	const bool bSize32 = Entry.Size <= Max32;
	quint32 BlockSizeBits = (Entry.CompressionBlockSize >> BlockSizeUnitShift) & BlockSizeMask;
	const bool bBlockSizeApart = (BlockSizeBits << BlockSizeUnitShift) != Entry.CompressionBlockSize;
	if (bBlockSizeApart)
	{
		BlockSizeBits = BlockSizeMask;
	}
	Ar.U32((bOffset32 ? OffsetFits32 : 0) | (bUncompressed32 ? UncompressedFits32 : 0) | (bSize32 ? SizeFits32 : 0) |
	       (Entry.CompressionMethod << MethodShift) | (quint32(Entry.BlockSizes.size()) << BlockCountShift) |
	       BlockSizeBits);
	if (bBlockSizeApart)
	{
		Ar.U32(Entry.CompressionBlockSize);
	}
	bOffset32 ? Ar.U32(quint32(Entry.Offset)) : Ar.I64(Entry.Offset);
	bUncompressed32 ? Ar.U32(quint32(Entry.UncompressedSize)) : Ar.I64(Entry.UncompressedSize);
	if (Entry.IsCompressed())
	{
		bSize32 ? Ar.U32(quint32(Entry.Size)) : Ar.I64(Entry.Size);
		// One block is where the header ends and as long as the stored bytes: nothing to list.
		if (Entry.BlockSizes.size() > 1)
		{
			for (const qint64 BlockSize : Entry.BlockSizes)
			{
				Ar.U32(quint32(BlockSize));
			}
		}
	}
}

// The entry EncodeEntry wrote at the reader's position, its path left as it is; empty when it
// decodes, else why not. Sizes and blocks are checked by EntryProblem.
inline QString DecodeEntry(FArchiveReader& Ar, FPakEntryInfo& Out)
{
	const QString Malformed = QStringLiteral("a malformed index record");
	const quint32 Flags = Ar.U32();
	const quint32 BlockSizeBits = Flags & BlockSizeMask;
	Out.CompressionBlockSize = BlockSizeBits == BlockSizeMask ? Ar.U32() : BlockSizeBits << BlockSizeUnitShift;
	Out.Offset = (Flags & OffsetFits32) ? qint64(Ar.U32()) : Ar.I64();
	Out.UncompressedSize = (Flags & UncompressedFits32) ? qint64(Ar.U32()) : Ar.I64();
	Out.CompressionMethod = (Flags >> MethodShift) & MethodMask;
	const quint32 Blocks = (Flags >> BlockCountShift) & BlockCountMask;
	if (Flags & EncryptedBit)
	{
		return QStringLiteral("an encrypted entry");
	}
	Out.BlockSizes.clear();
	if (Out.IsCompressed())
	{
		Out.Size = (Flags & SizeFits32) ? qint64(Ar.U32()) : Ar.I64();
		if (Blocks == 1)
		{
			Out.BlockSizes.append(Out.Size);
		}
		else
		{
			for (quint32 Block = 0; Block < Blocks && Ar.Ok(); ++Block)
			{
				Out.BlockSizes.append(qint64(Ar.U32()));
			}
		}
	}
	else
	{
		Out.Size = Out.UncompressedSize;
		if (Blocks != 0)
		{
			return Malformed;
		}
	}
	if (!Ar.Ok())
	{
		return Malformed;
	}
	return QString();
}

// How many blocks of BlockSize a file of Size bytes takes.
inline qint64 BlockCount(qint64 Size, qint64 BlockSize)
{
	// Without Size + BlockSize - 1, which a hostile size near the largest int64 would overflow.
	return BlockSize <= 0 ? 0 : Size / BlockSize + (Size % BlockSize != 0 ? 1 : 0);
}

// The full entry record (as in front of each entry's data, and in the primary index's list of
// entries stored without encoding). Block offsets must follow the record back to back, as every
// packer writes them without encryption; Size and the block table are checked by EntryProblem.
inline bool ReadEntryRecord(FArchiveReader& Ar, FPakEntryInfo& Out, quint8& OutFlags)
{
	Out.Offset = Ar.I64();
	Out.Size = Ar.I64();
	Out.UncompressedSize = Ar.I64();
	Out.CompressionMethod = Ar.U32();
	Out.Sha1 = Ar.Raw(20);
	Out.BlockSizes.clear();
	if (Out.CompressionMethod != 0)
	{
		const qint32 Count = Ar.I32();
		if (!Ar.Ok() || Count < 0 || Count > Ar.Remaining() / 16)
		{
			return false;
		}
		Out.BlockSizes.reserve(Count);
		qint64 Cursor = PakFormat::EntryHeaderSize + 4 + 16 * qint64(Count);
		for (qint32 Index = 0; Index < Count; ++Index)
		{
			const qint64 Start = Ar.I64();
			const qint64 End = Ar.I64();
			if (Start != Cursor || End < Start)
			{
				return false;
			}
			Out.BlockSizes.append(End - Start);
			Cursor = End;
		}
	}
	OutFlags = Ar.U8();
	Out.CompressionBlockSize = Ar.U32();
	return Ar.Ok();
}

// Why the entry's sizes and blocks cannot be read, or empty when they can: a compressed entry names
// a method of the footer the reader knows, has a block size it inflates whole, one block per
// block size of the file, and blocks that add up to exactly the stored bytes.
inline QString EntryProblem(const FPakEntryInfo& Entry, const QList<QByteArray>& MethodNames)
{
	if (Entry.Offset < 0 || Entry.Size < 0 || Entry.UncompressedSize < 0)
	{
		return QStringLiteral("a negative offset or size");
	}
	if (!Entry.IsCompressed())
	{
		if (Entry.Size != Entry.UncompressedSize || !Entry.BlockSizes.isEmpty())
		{
			return QStringLiteral("an uncompressed entry whose sizes differ");
		}
		return QString();
	}
	if (Entry.CompressionMethod > quint32(MethodNames.size()) ||
	    MethodNames[Entry.CompressionMethod - 1].compare(ZlibMethodName, Qt::CaseInsensitive) != 0)
	{
		const QByteArray Name =
		    Entry.CompressionMethod <= quint32(MethodNames.size()) ? MethodNames[Entry.CompressionMethod - 1] : "";
		return QStringLiteral("compression method %1 (\"%2\"), only %3 is read")
		    .arg(Entry.CompressionMethod)
		    .arg(PakFormat::Printable(QString::fromLatin1(Name)), QLatin1String(ZlibMethodName));
	}
	if (Entry.CompressionBlockSize == 0 || Entry.CompressionBlockSize > PakFormat::MaxCompressionBlockSize)
	{
		return QStringLiteral("a compression block size of %1 bytes").arg(Entry.CompressionBlockSize);
	}
	if (Entry.BlockSizes.size() != BlockCount(Entry.UncompressedSize, Entry.CompressionBlockSize))
	{
		return QStringLiteral("%1 compression blocks for %2 bytes in blocks of %3")
		    .arg(Entry.BlockSizes.size())
		    .arg(Entry.UncompressedSize)
		    .arg(Entry.CompressionBlockSize);
	}
	qint64 Total = 0;
	const qint64 MaxStored = qint64(compressBound(uLong(Entry.CompressionBlockSize)));
	for (const qint64 BlockSize : Entry.BlockSizes)
	{
		if (BlockSize <= 0 || BlockSize > MaxStored)
		{
			return QStringLiteral("a compression block of %1 bytes").arg(BlockSize);
		}
		Total += BlockSize;
	}
	if (Total != Entry.Size)
	{
		return QStringLiteral("compression blocks of %1 bytes in %2 stored bytes").arg(Total).arg(Entry.Size);
	}
	return QString();
}

inline QString Hex(const QByteArray& Bytes)
{
	return QString::fromLatin1(Bytes.toHex());
}
} // namespace PakArchive
