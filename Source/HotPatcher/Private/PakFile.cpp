#include "PakFile.h"

#include "Digest.h"
#include "FileHelper.h"

#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QtEndian>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <type_traits>
#include <vector>

#ifdef Q_OS_LINUX
#include <fcntl.h> // sync_file_range
#endif

namespace
{
// Large enough that the per-call costs of read, hash and write vanish, small enough that a chunk
// is still in the core's cache when it is written out and hashed: with 1 MiB chunks the kernel's
// copy into the pak took several times as long as with these (measured: 0.45 to 1.6 s against
// 0.17 to 0.19 s of system time per 512 MiB), and the build spent twice the CPU of tar.
constexpr qint64 CopyChunkSize = 128 * 1024;
// How much of the pak is written before it is handed to the disk (see WriteAll).
constexpr qint64 WriteBackStep = qint64(8) << 20;
// Chunks in flight between the copy and the hashing thread; the buffers are allocated once.
constexpr int PipelineDepth = 8;
// Below this a file is hashed in line: handing it to the thread would cost more than it saves.
constexpr qint64 PipelinedFileSize = 256 * 1024;
// An index larger than this is not one we wrote or the engine would mount.
constexpr qint64 MaxIndexSize = qint64(512) << 20;
// Blocks compressed per hand-over to the workers: enough to keep both cores busy, little memory.
constexpr int BlocksPerBatch = 32;
// On package-like data level 5 takes about half the time of zlib's default (6) for about 1% more
// bytes; per 64 KiB block that stays within a few percent of gzip -6 over the whole file.
constexpr int CompressionLevel = 5;
// The only method written or read; its slot in the footer's table is 1.
constexpr char ZlibMethodName[] = "Zlib";
constexpr int MethodNameSlots = 5;
constexpr int MethodNameSize = 32;

QByteArray Sha1Of(const QByteArray& Bytes)
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
void WriteEntryHeader(FArchiveWriter& Ar, const FPakEntryInfo& Entry)
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
constexpr quint32 OffsetFits32 = 1u << 31;
constexpr quint32 UncompressedFits32 = 1u << 30;
constexpr quint32 SizeFits32 = 1u << 29;
constexpr int MethodShift = 23;
constexpr quint32 MethodMask = 0x3f;
constexpr quint32 EncryptedBit = 1u << 22;
constexpr int BlockCountShift = 6;
constexpr quint32 BlockCountMask = 0xffff;
constexpr quint32 BlockSizeMask = 0x3f;
constexpr int BlockSizeUnitShift = 11;

void EncodeEntry(FArchiveWriter& Ar, const FPakEntryInfo& Entry)
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

// How many blocks of BlockSize a file of Size bytes takes.
qint64 BlockCount(qint64 Size, qint64 BlockSize)
{
	// Without Size + BlockSize - 1, which a hostile size near the largest int64 would overflow.
	return BlockSize <= 0 ? 0 : Size / BlockSize + (Size % BlockSize != 0 ? 1 : 0);
}

// The full entry record (as in front of each entry's data, and in the primary index's list of
// entries stored without encoding). Block offsets must follow the record back to back, as every
// packer writes them without encryption; Size and the block table are checked by EntryProblem.
bool ReadEntryRecord(FArchiveReader& Ar, FPakEntryInfo& Out, quint8& OutFlags)
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
QString EntryProblem(const FPakEntryInfo& Entry, const QList<QByteArray>& MethodNames)
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

QString Hex(const QByteArray& Bytes)
{
	return QString::fromLatin1(Bytes.toHex());
}
} // namespace

// Hashes chunks on a thread of its own, in the order given, while the writer reads and writes the
// next ones: SHA-1 and the copy each take about as long, so with two cores the build runs at the
// speed of a plain copy. The chunks stay valid until WaitUntilAtMost says they are hashed.
class FHashPipeline
{
public:
	FHashPipeline()
	    : Worker([this] { Run(); })
	{
	}
	~FHashPipeline()
	{
		{
			std::lock_guard Lock(Mutex);
			bStop = true;
		}
		Changed.notify_all();
		Worker.join();
	}
	FHashPipeline(const FHashPipeline&) = delete;
	FHashPipeline& operator=(const FHashPipeline&) = delete;

	void Submit(FDigest& Hash, const char* Data, qint64 Size)
	{
		{
			std::lock_guard Lock(Mutex);
			Queue.push_back({&Hash, Data, Size});
			++InFlight;
		}
		Changed.notify_all();
	}
	// Waits until no more than Count submitted chunks are still to be hashed.
	void WaitUntilAtMost(int Count)
	{
		std::unique_lock Lock(Mutex);
		Changed.wait(Lock, [&] { return InFlight <= Count; });
	}

private:
	struct FChunk
	{
		FDigest* Hash;
		const char* Data;
		qint64 Size;
	};

	void Run()
	{
		std::unique_lock Lock(Mutex);
		for (;;)
		{
			Changed.wait(Lock, [&] { return bStop || !Queue.empty(); });
			if (Queue.empty())
			{
				return;
			}
			const FChunk Chunk = Queue.front();
			Queue.pop_front();
			Lock.unlock();
			Chunk.Hash->Update(Chunk.Data, Chunk.Size);
			Lock.lock();
			--InFlight;
			Changed.notify_all();
		}
	}

	std::mutex Mutex;
	std::condition_variable Changed;
	std::deque<FChunk> Queue;
	int InFlight = 0;
	bool bStop = false;
	std::thread Worker;
};

// Compresses the blocks of a batch on every core: the caller's thread takes blocks too, the helpers
// take the rest, and each block's output lands in its own slot, so the pak's bytes do not depend on
// which thread compressed what.
class FCompressPool
{
public:
	struct FBlock
	{
		const char* Data = nullptr;
		qint64 Size = 0;
		QByteArray Out;
		bool bOk = false;
	};

	explicit FCompressPool(int HelperCount)
	{
		for (int Index = 0; Index < HelperCount; ++Index)
		{
			Helpers.emplace_back([this] { Run(); });
		}
	}
	~FCompressPool()
	{
		{
			std::lock_guard Lock(Mutex);
			bStop = true;
		}
		Changed.notify_all();
		for (std::thread& Helper : Helpers)
		{
			Helper.join();
		}
	}
	FCompressPool(const FCompressPool&) = delete;
	FCompressPool& operator=(const FCompressPool&) = delete;

	// Returns when every block is compressed.
	void CompressAll(std::vector<FBlock>& Blocks)
	{
		if (Blocks.size() == 1 || Helpers.empty())
		{
			for (FBlock& Block : Blocks)
			{
				Compress(Block);
			}
			return;
		}
		{
			std::lock_guard Lock(Mutex);
			Batch = &Blocks;
			Next = 0;
			Finished = 0;
			++Generation;
		}
		Changed.notify_all();
		Drain(Blocks);
		std::unique_lock Lock(Mutex);
		// No helper may still hold the batch once it is handed back.
		Changed.wait(Lock, [&] { return Finished == Blocks.size() && Active == 0; });
		Batch = nullptr;
	}

private:
	static void Compress(FBlock& Block)
	{
		uLongf Length = compressBound(uLong(Block.Size));
		Block.Out.resize(qsizetype(Length));
		Block.bOk = compress2(reinterpret_cast<Bytef*>(Block.Out.data()), &Length,
		                      reinterpret_cast<const Bytef*>(Block.Data), uLong(Block.Size), CompressionLevel) == Z_OK;
		Block.Out.resize(qsizetype(Length));
	}

	void Drain(std::vector<FBlock>& Blocks)
	{
		for (;;)
		{
			const size_t Index = Next.fetch_add(1);
			if (Index >= Blocks.size())
			{
				return;
			}
			Compress(Blocks[Index]);
			{
				std::lock_guard Lock(Mutex);
				++Finished;
			}
			Changed.notify_all();
		}
	}

	void Run()
	{
		quint64 Seen = 0;
		std::unique_lock Lock(Mutex);
		for (;;)
		{
			Changed.wait(Lock, [&] { return bStop || (Batch && Generation != Seen); });
			if (bStop)
			{
				return;
			}
			Seen = Generation;
			std::vector<FBlock>& Blocks = *Batch;
			++Active;
			Lock.unlock();
			Drain(Blocks);
			Lock.lock();
			--Active;
			Changed.notify_all();
		}
	}

	std::mutex Mutex;
	std::condition_variable Changed;
	std::vector<FBlock>* Batch = nullptr;
	std::atomic<size_t> Next = 0;
	size_t Finished = 0;
	int Active = 0;
	quint64 Generation = 0;
	bool bStop = false;
	std::vector<std::thread> Helpers;
};

qint64 FPakEntryInfo::HeaderSize() const
{
	return PakFormat::EntryHeaderSize + (IsCompressed() ? 4 + 16 * qint64(BlockSizes.size()) : 0);
}

quint64 PakFormat::HashPath(const QString& RelativePath, quint64 Seed)
{
	quint64 Hash = 0xcbf29ce484222325ull + Seed;
	const QString Lower = RelativePath.toLower();
	for (const QChar Ch : Lower)
	{
		const quint16 Unit = Ch.unicode();
		for (const quint8 Byte : {quint8(Unit & 0xff), quint8(Unit >> 8)})
		{
			Hash ^= Byte;
			Hash *= 0x100000001b3ull;
		}
	}
	return Hash;
}

QString PakFormat::EntryPathProblem(const QString& Path)
{
	if (Path.isEmpty())
	{
		return QStringLiteral("an empty name");
	}
	if (Path.size() > MaxPathLength)
	{
		return QStringLiteral("a name of %1 characters, more than %2").arg(Path.size()).arg(MaxPathLength);
	}
	for (const QChar Ch : Path)
	{
		if (Ch == QLatin1Char('\\') || Ch == QLatin1Char(':'))
		{
			return QStringLiteral("a name holding \"%1\"").arg(Ch);
		}
		if (Ch.unicode() < 0x20 || Ch.category() == QChar::Other_Control || Ch.category() == QChar::Separator_Line ||
		    Ch.category() == QChar::Separator_Paragraph)
		{
			return QStringLiteral("a name holding the control character U+%1")
			    .arg(Ch.unicode(), 4, 16, QLatin1Char('0'));
		}
	}
	for (const QStringView Part : QStringView(Path).split(QLatin1Char('/')))
	{
		if (Part.isEmpty())
		{
			return QStringLiteral("not a file path below the mount point");
		}
		if (Part == QLatin1String(".") || Part == QLatin1String(".."))
		{
			return QStringLiteral("a name with a \"%1\" part").arg(Part);
		}
	}
	return QString();
}

QString PakFormat::Printable(const QString& Text)
{
	QString Out;
	Out.reserve(Text.size());
	for (qsizetype Index = 0; Index < Text.size(); ++Index)
	{
		char32_t Code = Text[Index].unicode();
		qsizetype Units = 1;
		if (Text[Index].isHighSurrogate() && Index + 1 < Text.size() && Text[Index + 1].isLowSurrogate())
		{
			Code = QChar::surrogateToUcs4(Text[Index], Text[Index + 1]);
			Units = 2;
		}
		if (Code == U'\\')
		{
			Out += QLatin1String("\\\\");
		}
		else if (Code == U'\n')
		{
			Out += QLatin1String("\\n");
		}
		else if (Code == U'\r')
		{
			Out += QLatin1String("\\r");
		}
		else if (Code == U'\t')
		{
			Out += QLatin1String("\\t");
		}
		else if (!QChar::isPrint(Code))
		{
			Out += QStringLiteral("\\u{%1}").arg(quint32(Code), 0, 16);
		}
		else
		{
			Out += QStringView(Text).mid(Index, Units);
		}
		Index += Units - 1;
	}
	return Out;
}

FPakWriter::FPakWriter() = default;

FPakWriter::~FPakWriter()
{
	Abort();
}

bool FPakWriter::Fail(const QString& Message)
{
	if (Error.isEmpty())
	{
		Error = Message;
	}
	Abort();
	return false;
}

bool FPakWriter::Open(const QString& InFinalPath, const QString& InMountPoint)
{
	Abort();
	Error.clear();
	Entries.clear();
	FoldedPaths.clear();
	DataBytes = 0;
	Position = 0;
	WrittenBack = 0;
	FinalPath = InFinalPath;
	MountPoint = InMountPoint;
	bWriteCompressed = bCompressed;
	// Beside the final path, so the rename stays on one file system and is atomic.
	TempPath = FinalPath + QStringLiteral(".tmp");
	File.setFileName(TempPath);
	if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
	{
		Error = QStringLiteral("Cannot create %1: %2").arg(TempPath, File.errorString());
		return false;
	}
	static_assert(std::extent_v<decltype(Buffers)> == PipelineDepth);
	for (QByteArray& Chunk : Buffers)
	{
		Chunk.resize(CopyChunkSize);
	}
	bOpen = true;
	return true;
}

bool FPakWriter::WriteAll(const char* Data, qint64 Size)
{
	while (Size > 0)
	{
		const qint64 Written = File.write(Data, Size);
		if (Written <= 0)
		{
			return Fail(QStringLiteral("Cannot write %1: %2").arg(TempPath, File.errorString()));
		}
		Data += Written;
		Size -= Written;
		Position += Written;
	}
#ifdef Q_OS_LINUX
	// The pak is synced before it takes its final name. Handing what is written to the disk as the
	// build goes keeps the disk busy alongside the copy, so that the final sync finds little left.
	if (Position - WrittenBack >= WriteBackStep)
	{
		::sync_file_range(File.handle(), WrittenBack, Position - WrittenBack, SYNC_FILE_RANGE_WRITE);
		WrittenBack = Position;
	}
#endif
	return true;
}

bool FPakWriter::AddFile(const QString& SourceFile, const QString& PathInPak, FPakEntryInfo* OutEntry)
{
	if (!bOpen)
	{
		return Fail(QStringLiteral("The pak %1 is not open").arg(FinalPath));
	}
	const QString Problem = PakFormat::EntryPathProblem(PathInPak);
	if (!Problem.isEmpty())
	{
		return Fail(
		    QStringLiteral("Cannot pack %1 as \"%2\": %3").arg(SourceFile, PakFormat::Printable(PathInPak), Problem));
	}
	// A lookup, not a pass over the entries: a build of a few thousand files spent a noticeable part
	// of its CPU comparing each new path with every earlier one.
	const QString Folded = PathInPak.toCaseFolded();
	if (FoldedPaths.contains(Folded))
	{
		return Fail(QStringLiteral("Cannot pack %1: the pak already holds \"%2\"").arg(SourceFile, PathInPak));
	}
	QFile Source(SourceFile);
	if (!Source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
	{
		return Fail(QStringLiteral("Cannot read %1: %2").arg(SourceFile, Source.errorString()));
	}

	FPakEntryInfo Entry;
	Entry.Path = PathInPak;
	Entry.Offset = Position;
	bool bStored = false;
	if (bWriteCompressed && Source.size() > 0)
	{
		bStored = CopyCompressed(Source, Entry);
		if (!bStored && !Error.isEmpty())
		{
			return false;
		}
	}
	if (!bStored)
	{
		// Stored as it is: what a compressed attempt wrote is written over.
		Entry = FPakEntryInfo();
		Entry.Path = PathInPak;
		Entry.Offset = Position;
		if (!Source.seek(0) || !CopyStored(Source, Entry))
		{
			return Error.isEmpty() ? Fail(QStringLiteral("Cannot read %1: %2").arg(SourceFile, Source.errorString()))
			                       : false;
		}
	}

	FArchiveWriter Final;
	WriteEntryHeader(Final, Entry);
	const qint64 End = Position;
	if (!File.seek(Entry.Offset))
	{
		return Fail(QStringLiteral("Cannot write %1: %2").arg(TempPath, File.errorString()));
	}
	Position = Entry.Offset;
	if (!WriteAll(Final.Bytes.constData(), Final.Bytes.size()) || !File.seek(End))
	{
		return Fail(QStringLiteral("Cannot write %1: %2").arg(TempPath, File.errorString()));
	}
	Position = End;
	DataBytes += Entry.Size;
	Entries.append(Entry);
	FoldedPaths.insert(Folded);
	if (OutEntry)
	{
		*OutEntry = Entry;
	}
	return true;
}

bool FPakWriter::CopyStored(QFile& Source, FPakEntryInfo& Entry)
{
	// The header's size and hash are known only once the data has streamed through; a placeholder
	// keeps its place.
	FArchiveWriter Header;
	WriteEntryHeader(Header, Entry);
	if (!WriteAll(Header.Bytes.constData(), Header.Bytes.size()))
	{
		return false;
	}
	FDigest Hash(EDigestKind::Sha1);
	const bool bPipelined = Source.size() >= PipelinedFileSize;
	if (bPipelined && !Pipeline)
	{
		Pipeline = std::make_unique<FHashPipeline>();
	}
	for (qint64 Chunk = 0;; ++Chunk)
	{
		QByteArray& Into = Buffers[bPipelined ? Chunk % PipelineDepth : 0];
		if (bPipelined)
		{
			// The buffer's previous chunk must be hashed before it is read over.
			Pipeline->WaitUntilAtMost(PipelineDepth - 1);
		}
		const qint64 Read = Source.read(Into.data(), Into.size());
		if (Read < 0 || Read == 0)
		{
			if (bPipelined)
			{
				Pipeline->WaitUntilAtMost(0);
			}
			if (Read < 0)
			{
				return Fail(QStringLiteral("Cannot read %1: %2").arg(Source.fileName(), Source.errorString()));
			}
			break;
		}
		if (bPipelined)
		{
			Pipeline->Submit(Hash, Into.constData(), Read);
		}
		else
		{
			Hash.Update(Into.constData(), Read);
		}
		if (!WriteAll(Into.constData(), Read))
		{
			if (bPipelined)
			{
				Pipeline->WaitUntilAtMost(0);
			}
			return false;
		}
		Entry.Size += Read;
	}
	Entry.UncompressedSize = Entry.Size;
	Entry.Sha1 = Hash.Final<QByteArray>();
	Entry.FileSha1 = Entry.Sha1;
	return true;
}

bool FPakWriter::CopyCompressed(QFile& Source, FPakEntryInfo& Entry)
{
	const qint64 FileSize = Source.size();
	const qint64 Blocks = BlockCount(FileSize, PakFormat::CompressionBlockSize);
	// The encoded entry counts blocks in 16 bits; a larger file is stored as it is.
	if (Blocks > qint64(BlockCountMask))
	{
		return false;
	}
	Entry.CompressionMethod = 1;
	Entry.CompressionBlockSize = quint32(qMin(FileSize, PakFormat::CompressionBlockSize));
	Entry.UncompressedSize = FileSize;
	Entry.BlockSizes.fill(0, Blocks);
	const qint64 HeaderSize = Entry.HeaderSize();
	FArchiveWriter Header;
	WriteEntryHeader(Header, Entry);
	if (!WriteAll(Header.Bytes.constData(), Header.Bytes.size()))
	{
		return false;
	}
	if (!Compressor)
	{
		Compressor = std::make_unique<FCompressPool>(qMax(1, int(std::thread::hardware_concurrency()) - 1));
	}
	QByteArray Input(int(qMin<qint64>(FileSize, BlocksPerBatch * PakFormat::CompressionBlockSize)), Qt::Uninitialized);
	std::vector<FCompressPool::FBlock> Batch;
	FDigest StoredHash(EDigestKind::Sha1);
	FDigest FileHash(EDigestKind::Sha1);
	qint64 Block = 0;
	qint64 Done = 0;
	while (Done < FileSize)
	{
		const qint64 Want = qMin<qint64>(Input.size(), FileSize - Done);
		qint64 Got = 0;
		while (Got < Want)
		{
			const qint64 Read = Source.read(Input.data() + Got, Want - Got);
			if (Read <= 0)
			{
				return Fail(QStringLiteral("Cannot read %1: %2")
				                .arg(Source.fileName(), Read < 0
				                                            ? Source.errorString()
				                                            : QStringLiteral("the file shrank while it was packed")));
			}
			Got += Read;
		}
		FileHash.Update(Input.constData(), Got);
		Batch.clear();
		for (qint64 At = 0; At < Got; At += PakFormat::CompressionBlockSize)
		{
			Batch.push_back(
			    {Input.constData() + At, qMin<qint64>(PakFormat::CompressionBlockSize, Got - At), {}, false});
		}
		Compressor->CompressAll(Batch);
		for (const FCompressPool::FBlock& Out : Batch)
		{
			if (!Out.bOk)
			{
				return Fail(QStringLiteral("Cannot compress %1").arg(Source.fileName()));
			}
			StoredHash.Update(Out.Out.constData(), Out.Out.size());
			if (!WriteAll(Out.Out.constData(), Out.Out.size()))
			{
				return false;
			}
			Entry.BlockSizes[Block++] = Out.Out.size();
			Entry.Size += Out.Out.size();
		}
		Done += Got;
	}
	// What the block table adds counts against what compression saves.
	if (Entry.Size + HeaderSize - PakFormat::EntryHeaderSize >= FileSize)
	{
		if (!File.seek(Entry.Offset))
		{
			return Fail(QStringLiteral("Cannot write %1: %2").arg(TempPath, File.errorString()));
		}
		Position = Entry.Offset;
		return false;
	}
	Entry.Sha1 = StoredHash.Final<QByteArray>();
	Entry.FileSha1 = FileHash.Final<QByteArray>();
	return true;
}

bool FPakWriter::Finish()
{
	if (!bOpen)
	{
		return Fail(QStringLiteral("The pak %1 is not open").arg(FinalPath));
	}
	// Encoded entries, and where each lies in their block.
	FArchiveWriter Encoded;
	QList<qint32> EncodedOffsets;
	for (const FPakEntryInfo& Entry : Entries)
	{
		EncodedOffsets.append(qint32(Encoded.Bytes.size()));
		EncodeEntry(Encoded, Entry);
	}

	const quint64 Seed =
	    qFromLittleEndian<quint64>(Sha1Of(QFileInfo(FinalPath).fileName().toLower().toUtf8()).constData());

	FArchiveWriter PathHashIndex;
	PathHashIndex.I32(qint32(Entries.size()));
	for (int Index = 0; Index < Entries.size(); ++Index)
	{
		PathHashIndex.U64(PakFormat::HashPath(Entries[Index].Path, Seed));
		PathHashIndex.I32(EncodedOffsets[Index]);
	}
	PathHashIndex.I32(0);

	// Every directory with its parents; the mount point itself is "/".
	QMap<QString, QList<QPair<QString, qint32>>> Directories;
	Directories.insert(QStringLiteral("/"), {});
	for (int Index = 0; Index < Entries.size(); ++Index)
	{
		const QString& Path = Entries[Index].Path;
		const int Slash = Path.lastIndexOf(QLatin1Char('/'));
		const QString Directory = Slash < 0 ? QStringLiteral("/") : Path.left(Slash + 1);
		Directories[Directory].append({Path.mid(Slash + 1), EncodedOffsets[Index]});
		for (int Parent = Path.indexOf(QLatin1Char('/')); Parent >= 0 && Parent < Slash;
		     Parent = Path.indexOf(QLatin1Char('/'), Parent + 1))
		{
			Directories[Path.left(Parent + 1)];
		}
	}
	FArchiveWriter DirectoryIndex;
	DirectoryIndex.I32(qint32(Directories.size()));
	for (auto It = Directories.cbegin(); It != Directories.cend(); ++It)
	{
		DirectoryIndex.String(It.key());
		DirectoryIndex.I32(qint32(It.value().size()));
		for (const auto& [FileName, Offset] : It.value())
		{
			DirectoryIndex.String(FileName);
			DirectoryIndex.I32(Offset);
		}
	}

	const qint64 IndexOffset = Position;
	auto BuildPrimary = [&](qint64 PathHashOffset, qint64 DirectoryOffset)
	{
		FArchiveWriter Primary;
		Primary.String(MountPoint);
		Primary.I32(qint32(Entries.size()));
		Primary.U64(Seed);
		Primary.U32(1);
		Primary.I64(PathHashOffset);
		Primary.I64(PathHashIndex.Bytes.size());
		Primary.Raw(Sha1Of(PathHashIndex.Bytes));
		Primary.U32(1);
		Primary.I64(DirectoryOffset);
		Primary.I64(DirectoryIndex.Bytes.size());
		Primary.Raw(Sha1Of(DirectoryIndex.Bytes));
		Primary.I32(qint32(Encoded.Bytes.size()));
		Primary.Raw(Encoded.Bytes);
		Primary.I32(0);
		return Primary.Bytes;
	};
	// The primary index has the same size whatever offsets it holds.
	const qint64 PrimarySize = BuildPrimary(0, 0).size();
	const qint64 PathHashOffset = IndexOffset + PrimarySize;
	const qint64 DirectoryOffset = PathHashOffset + PathHashIndex.Bytes.size();
	const QByteArray Primary = BuildPrimary(PathHashOffset, DirectoryOffset);

	FArchiveWriter Footer;
	Footer.Zeros(16);
	Footer.U8(0);
	Footer.U32(PakFormat::Magic);
	Footer.I32(PakFormat::Version);
	Footer.I64(IndexOffset);
	Footer.I64(Primary.size());
	Footer.Raw(Sha1Of(Primary));
	for (int Slot = 0; Slot < MethodNameSlots; ++Slot)
	{
		QByteArray Name = Slot == 0 && bWriteCompressed ? QByteArray(ZlibMethodName) : QByteArray();
		Name.resize(MethodNameSize, '\0');
		Footer.Raw(Name);
	}

	for (const QByteArray* Block :
	     std::initializer_list<const QByteArray*>{&Primary, &PathHashIndex.Bytes, &DirectoryIndex.Bytes, &Footer.Bytes})
	{
		if (!WriteAll(Block->constData(), Block->size()))
		{
			return false;
		}
	}
	// An entry stored as it is after a compressed attempt may have left longer bytes behind.
	QString SyncError;
	if (!File.flush() || !File.resize(Position) || !FFileHelper::SyncFile(File.handle(), &SyncError))
	{
		return Fail(
		    QStringLiteral("Cannot write %1: %2").arg(TempPath, SyncError.isEmpty() ? File.errorString() : SyncError));
	}
	File.close();
	if (File.error() != QFileDevice::NoError)
	{
		return Fail(QStringLiteral("Cannot write %1: %2").arg(TempPath, File.errorString()));
	}
	// rename(2) replaces an older pak of the same name in one step.
	if (std::rename(QFile::encodeName(TempPath).constData(), QFile::encodeName(FinalPath).constData()) != 0)
	{
		return Fail(QStringLiteral("Cannot rename %1 to %2: %3")
		                .arg(TempPath, FinalPath, QString::fromLocal8Bit(std::strerror(errno))));
	}
	bOpen = false;
	// Whoever registers the pak next relies on it being there after a crash.
	if (!FFileHelper::SyncFolderOf(FinalPath, &SyncError))
	{
		return Fail(QStringLiteral("Cannot write %1: %2").arg(FinalPath, SyncError));
	}
	return true;
}

void FPakWriter::Abort()
{
	if (File.isOpen())
	{
		File.close();
	}
	if (bOpen)
	{
		QFile::remove(TempPath);
	}
	bOpen = false;
}

bool FPakReader::Fail(const QString& Message)
{
	Error = QStringLiteral("%1: %2").arg(PakFormat::Printable(File.fileName()), Message);
	return false;
}

bool FPakReader::Open(const QString& Path)
{
	Error.clear();
	Entries.clear();
	MountPoint.clear();
	if (File.isOpen())
	{
		File.close();
	}
	File.setFileName(Path);
	if (!File.open(QIODevice::ReadOnly))
	{
		return Fail(File.errorString());
	}
	FileSize = File.size();
	if (FileSize < PakFormat::FooterSize)
	{
		return Fail(QStringLiteral("too short to be a pak"));
	}

	auto ReadAt = [this](qint64 Offset, qint64 Size, QByteArray& Out)
	{
		if (Offset < 0 || Size < 0 || Offset > FileSize || Size > FileSize - Offset || !File.seek(Offset))
		{
			return false;
		}
		Out = File.read(Size);
		return Out.size() == Size;
	};

	QByteArray FooterBytes;
	if (!ReadAt(FileSize - PakFormat::FooterSize, PakFormat::FooterSize, FooterBytes))
	{
		return Fail(QStringLiteral("cannot read the footer"));
	}
	FArchiveReader Footer(FooterBytes);
	Footer.Raw(16);
	const quint8 bEncryptedIndex = Footer.U8();
	const quint32 Magic = Footer.U32();
	const qint32 Version = Footer.I32();
	const qint64 IndexOffset = Footer.I64();
	const qint64 IndexSize = Footer.I64();
	const QByteArray IndexHash = Footer.Raw(20);
	QList<QByteArray> MethodNames;
	for (int Slot = 0; Slot < MethodNameSlots; ++Slot)
	{
		const QByteArray Name = Footer.Raw(MethodNameSize);
		MethodNames.append(Name.left(Name.indexOf('\0')));
	}
	if (Magic != PakFormat::Magic)
	{
		return Fail(QStringLiteral("not a pak (no pak magic in the footer)"));
	}
	if (Version != PakFormat::Version)
	{
		return Fail(QStringLiteral("pak version %1, only version %2 is read").arg(Version).arg(PakFormat::Version));
	}
	if (bEncryptedIndex != 0)
	{
		return Fail(QStringLiteral("the index is encrypted"));
	}
	const qint64 IndexEnd = FileSize - PakFormat::FooterSize;
	if (IndexOffset < 0 || IndexSize <= 0 || IndexSize > MaxIndexSize || IndexOffset > IndexEnd ||
	    IndexSize > IndexEnd - IndexOffset)
	{
		return Fail(QStringLiteral("the index lies outside the file"));
	}
	QByteArray PrimaryBytes;
	if (!ReadAt(IndexOffset, IndexSize, PrimaryBytes))
	{
		return Fail(QStringLiteral("cannot read the index"));
	}
	if (Sha1Of(PrimaryBytes) != IndexHash)
	{
		return Fail(QStringLiteral("the primary index hash does not match (stored %1, computed %2)")
		                .arg(Hex(IndexHash), Hex(Sha1Of(PrimaryBytes))));
	}

	FArchiveReader Primary(PrimaryBytes);
	MountPoint = Primary.String();
	const qint32 EntryCount = Primary.I32();
	PathHashSeed = Primary.U64();
	struct FSecondary
	{
		bool bPresent = false;
		qint64 Offset = 0;
		qint64 Size = 0;
		QByteArray Hash;
		QByteArray Bytes;
	};
	FSecondary Secondary[2];
	for (FSecondary& Index : Secondary)
	{
		Index.bPresent = Primary.U32() != 0;
		if (Index.bPresent)
		{
			Index.Offset = Primary.I64();
			Index.Size = Primary.I64();
			Index.Hash = Primary.Raw(20);
		}
	}
	const qint32 EncodedSize = Primary.I32();
	const QByteArray Encoded = Primary.Raw(EncodedSize);
	const qint32 NonEncodedCount = Primary.I32();
	if (!Primary.Ok() || EntryCount < 0 || NonEncodedCount < 0)
	{
		return Fail(QStringLiteral("the primary index is malformed"));
	}
	if (MountPoint.size() > PakFormat::MaxPathLength ||
	    std::any_of(MountPoint.cbegin(), MountPoint.cend(),
	                [](QChar Ch) { return Ch.unicode() < 0x20 || Ch.category() == QChar::Other_Control; }))
	{
		return Fail(
		    QStringLiteral("the mount point \"%1\" is not a folder name").arg(PakFormat::Printable(MountPoint)));
	}
	// Entries stored without encoding: the full entry record, as in the data headers.
	QList<FPakEntryInfo> NonEncoded;
	for (qint32 Index = 0; Index < NonEncodedCount && Primary.Ok(); ++Index)
	{
		FPakEntryInfo Raw;
		quint8 Flags = 0;
		if (!ReadEntryRecord(Primary, Raw, Flags))
		{
			return Fail(QStringLiteral("the primary index is malformed"));
		}
		Raw.Sha1.clear();
		NonEncoded.append(Raw);
	}
	if (!Primary.Ok())
	{
		return Fail(QStringLiteral("the primary index is malformed"));
	}
	if (!Secondary[0].bPresent || !Secondary[1].bPresent)
	{
		return Fail(QStringLiteral("the pak lacks its path hash index or its full directory index"));
	}
	const char* Names[2] = {"path hash index", "full directory index"};
	for (int Which = 0; Which < 2; ++Which)
	{
		FSecondary& Index = Secondary[Which];
		if (Index.Size > MaxIndexSize || !ReadAt(Index.Offset, Index.Size, Index.Bytes) || Index.Offset > IndexEnd ||
		    Index.Size > IndexEnd - Index.Offset)
		{
			return Fail(QStringLiteral("the %1 lies outside the file").arg(QLatin1String(Names[Which])));
		}
		if (Sha1Of(Index.Bytes) != Index.Hash)
		{
			return Fail(QStringLiteral("the %1 hash does not match (stored %2, computed %3)")
			                .arg(QLatin1String(Names[Which]), Hex(Index.Hash), Hex(Sha1Of(Index.Bytes))));
		}
	}

	// Empty when the entry decodes, else why not.
	auto DecodeEntry = [&](qint32 EncodedOffset, FPakEntryInfo& Out) -> QString
	{
		const QString Malformed = QStringLiteral("a malformed index record");
		if (EncodedOffset < 0)
		{
			const qint64 Index = -qint64(EncodedOffset) - 1;
			if (Index >= NonEncoded.size())
			{
				return Malformed;
			}
			const QString Path = Out.Path;
			Out = NonEncoded[Index];
			Out.Path = Path;
			return EntryProblem(Out, MethodNames);
		}
		if (EncodedOffset > Encoded.size())
		{
			return Malformed;
		}
		const QByteArray Tail = Encoded.mid(EncodedOffset);
		FArchiveReader Ar(Tail);
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
		return EntryProblem(Out, MethodNames);
	};

	// The full directory index gives the names.
	FArchiveReader Directory(Secondary[1].Bytes);
	const qint32 DirectoryCount = Directory.I32();
	if (DirectoryCount < 0)
	{
		return Fail(QStringLiteral("the full directory index is malformed"));
	}
	QHash<QString, qint32> OffsetByPath;
	for (qint32 Dir = 0; Dir < DirectoryCount && Directory.Ok(); ++Dir)
	{
		const QString DirectoryName = Directory.String();
		const qint32 FileCount = Directory.I32();
		if (!Directory.Ok() || FileCount < 0 || FileCount > Directory.Remaining() / 8)
		{
			return Fail(QStringLiteral("the full directory index is malformed"));
		}
		if (DirectoryName != QLatin1String("/") && !DirectoryName.endsWith(QLatin1Char('/')))
		{
			return Fail(QStringLiteral("the directory \"%1\" of the full directory index is not a folder name")
			                .arg(PakFormat::Printable(DirectoryName)));
		}
		const QString Prefix = DirectoryName == QLatin1String("/") ? QString() : DirectoryName;
		for (qint32 Index = 0; Index < FileCount && Directory.Ok(); ++Index)
		{
			FPakEntryInfo Entry;
			const QString FileName = Directory.String();
			Entry.Path = Prefix + FileName;
			const qint32 EncodedOffset = Directory.I32();
			if (!Directory.Ok())
			{
				break;
			}
			// The writer packs no other names; one that leaves the mount point, or that a log or a
			// listing would print as more than itself, is not a file of this pak.
			const QString Problem = FileName.contains(QLatin1Char('/')) ? QStringLiteral("a file name holding \"/\"")
			                                                            : PakFormat::EntryPathProblem(Entry.Path);
			if (!Problem.isEmpty())
			{
				return Fail(QStringLiteral("the entry \"%1\" cannot be mounted: %2")
				                .arg(PakFormat::Printable(Entry.Path.left(PakFormat::MaxPathLength)), Problem));
			}
			const QString EntryError = DecodeEntry(EncodedOffset, Entry);
			if (!EntryError.isEmpty())
			{
				return Fail(QStringLiteral("the entry of %1 cannot be read: %2").arg(Entry.Path, EntryError));
			}
			if (Entry.Offset < 0 || Entry.Size < 0 || Entry.Offset > IndexOffset ||
			    Entry.Size > IndexOffset - Entry.Offset || Entry.HeaderSize() > IndexOffset - Entry.Offset - Entry.Size)
			{
				return Fail(QStringLiteral("the data of %1 lies outside the file's data").arg(Entry.Path));
			}
			if (OffsetByPath.contains(Entry.Path.toLower()))
			{
				return Fail(QStringLiteral("%1 is listed twice").arg(Entry.Path));
			}
			OffsetByPath.insert(Entry.Path.toLower(), EncodedOffset);
			Entries.append(Entry);
		}
	}
	if (!Directory.Ok())
	{
		return Fail(QStringLiteral("the full directory index is malformed"));
	}
	if (Entries.size() != EntryCount)
	{
		return Fail(
		    QStringLiteral("the index counts %1 entries, its directory lists %2").arg(EntryCount).arg(Entries.size()));
	}
	// Each entry owns its header and data alone: two names over one block would let a hash checked
	// under one name vouch for bytes read under another.
	QList<const FPakEntryInfo*> ByOffset;
	ByOffset.reserve(Entries.size());
	for (const FPakEntryInfo& Entry : std::as_const(Entries))
	{
		ByOffset.append(&Entry);
	}
	std::sort(ByOffset.begin(), ByOffset.end(),
	          [](const FPakEntryInfo* A, const FPakEntryInfo* B) { return A->Offset < B->Offset; });
	for (qsizetype Index = 1; Index < ByOffset.size(); ++Index)
	{
		const FPakEntryInfo& Before = *ByOffset[Index - 1];
		if (ByOffset[Index]->Offset - Before.Offset < Before.HeaderSize() + Before.Size)
		{
			return Fail(QStringLiteral("the entries %1 and %2 overlap").arg(Before.Path, ByOffset[Index]->Path));
		}
	}

	// The path hash index must find every entry where the directory index does.
	FArchiveReader PathHash(Secondary[0].Bytes);
	const qint32 HashCount = PathHash.I32();
	if (!PathHash.Ok() || HashCount != EntryCount || HashCount > PathHash.Remaining() / 12)
	{
		return Fail(
		    QStringLiteral("the path hash index counts %1 entries, the index %2").arg(HashCount).arg(EntryCount));
	}
	QHash<quint64, qint32> OffsetByHash;
	for (qint32 Index = 0; Index < HashCount; ++Index)
	{
		const quint64 Hash = PathHash.U64();
		OffsetByHash.insert(Hash, PathHash.I32());
	}
	if (!PathHash.Ok())
	{
		return Fail(QStringLiteral("the path hash index is malformed"));
	}
	for (const FPakEntryInfo& Entry : std::as_const(Entries))
	{
		const auto It = OffsetByHash.constFind(PakFormat::HashPath(Entry.Path, PathHashSeed));
		if (It == OffsetByHash.cend() || It.value() != OffsetByPath.value(Entry.Path.toLower()))
		{
			return Fail(QStringLiteral("the path hash index does not find %1").arg(Entry.Path));
		}
	}
	return true;
}

bool FPakReader::VerifyEntry(FPakEntryInfo& Entry)
{
	return ReadStored(Entry, nullptr);
}

bool FPakReader::ReadEntry(FPakEntryInfo& Entry, qint64 MaxBytes, QByteArray& OutData)
{
	OutData.clear();
	// Stored bytes are read a block at a time; only the file's own size needs a bound.
	if (Entry.UncompressedSize > MaxBytes)
	{
		return Fail(QStringLiteral("%1 holds %2 bytes, more than the %3 read at most")
		                .arg(Entry.Path)
		                .arg(Entry.UncompressedSize)
		                .arg(MaxBytes));
	}
	return ReadStored(Entry, &OutData);
}

bool FPakReader::ReadStored(FPakEntryInfo& Entry, QByteArray* OutData)
{
	if (!File.isOpen() || Entry.Offset < 0 || Entry.Size < 0 || !File.seek(Entry.Offset))
	{
		return Fail(QStringLiteral("cannot read the entry of %1").arg(Entry.Path));
	}
	const QByteArray HeaderBytes = File.read(Entry.HeaderSize());
	FArchiveReader Header(HeaderBytes);
	FPakEntryInfo Stored;
	quint8 Flags = 0;
	if (!ReadEntryRecord(Header, Stored, Flags))
	{
		return Fail(QStringLiteral("cannot read the entry header of %1").arg(Entry.Path));
	}
	if (Stored.Size != Entry.Size || Stored.UncompressedSize != Entry.UncompressedSize ||
	    Stored.CompressionMethod != Entry.CompressionMethod || Stored.BlockSizes != Entry.BlockSizes ||
	    (Entry.IsCompressed() && Stored.CompressionBlockSize != Entry.CompressionBlockSize) || Flags != 0)
	{
		return Fail(QStringLiteral("the entry header of %1 does not match the index").arg(Entry.Path));
	}
	Entry.Sha1 = Stored.Sha1;

	// The bytes hashed are the bytes returned: the file may change between two reads.
	FDigest Hash(EDigestKind::Sha1);
	QByteArray Data;
	if (OutData)
	{
		Data.reserve(Entry.UncompressedSize);
	}
	if (!Entry.IsCompressed())
	{
		QByteArray Chunk(int(qMin<qint64>(CopyChunkSize, qMax<qint64>(Entry.Size, 1))), Qt::Uninitialized);
		qint64 Left = Entry.Size;
		while (Left > 0)
		{
			const qint64 Read = File.read(Chunk.data(), qMin<qint64>(Left, Chunk.size()));
			if (Read <= 0)
			{
				return Fail(QStringLiteral("cannot read the data of %1").arg(Entry.Path));
			}
			Hash.Update(Chunk.constData(), Read);
			if (OutData)
			{
				Data.append(Chunk.constData(), Read);
			}
			Left -= Read;
		}
	}
	else
	{
		QByteArray Inflated(int(Entry.CompressionBlockSize), Qt::Uninitialized);
		qint64 Left = Entry.UncompressedSize;
		for (qsizetype Block = 0; Block < Entry.BlockSizes.size(); ++Block)
		{
			const QByteArray Stream = File.read(Entry.BlockSizes[Block]);
			if (Stream.size() != Entry.BlockSizes[Block])
			{
				return Fail(QStringLiteral("cannot read the data of %1").arg(Entry.Path));
			}
			Hash.Update(Stream.constData(), Stream.size());
			const qint64 Expected = qMin<qint64>(Left, Entry.CompressionBlockSize);
			z_stream Inflater{};
			if (inflateInit(&Inflater) != Z_OK)
			{
				return Fail(QStringLiteral("cannot inflate %1").arg(Entry.Path));
			}
			Inflater.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(Stream.constData()));
			Inflater.avail_in = uInt(Stream.size());
			Inflater.next_out = reinterpret_cast<Bytef*>(Inflated.data());
			Inflater.avail_out = uInt(Expected);
			const int Result = inflate(&Inflater, Z_FINISH);
			const qint64 Out = qint64(Inflater.total_out);
			const uInt InLeft = Inflater.avail_in;
			const uInt OutLeft = Inflater.avail_out;
			inflateEnd(&Inflater);
			QString Problem;
			if (Result == Z_STREAM_END)
			{
				if (Out != Expected)
				{
					Problem = QStringLiteral("inflates to %1 bytes, not %2").arg(Out).arg(Expected);
				}
				else if (InLeft != 0)
				{
					Problem = QStringLiteral("has %1 bytes after its end").arg(InLeft);
				}
			}
			else if (OutLeft == 0 && (Result == Z_OK || Result == Z_BUF_ERROR))
			{
				Problem = QStringLiteral("inflates past its stated size of %1 bytes").arg(Expected);
			}
			else
			{
				Problem = QStringLiteral("is not a whole zlib stream");
			}
			if (!Problem.isEmpty())
			{
				return Fail(QStringLiteral("block %1 of %2 %3").arg(Block).arg(Entry.Path, Problem));
			}
			if (OutData)
			{
				Data.append(Inflated.constData(), Expected);
			}
			Left -= Expected;
		}
	}
	const QByteArray Computed = Hash.Final<QByteArray>();
	if (Computed != Entry.Sha1)
	{
		return Fail(QStringLiteral("the data of %1 does not match its hash (stored %2, computed %3)")
		                .arg(Entry.Path, Hex(Entry.Sha1), Hex(Computed)));
	}
	if (OutData)
	{
		*OutData = std::move(Data);
	}
	return true;
}
