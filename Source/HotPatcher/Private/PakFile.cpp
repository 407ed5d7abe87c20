#include "PakFile.h"

#include "FileHelper.h"
#include "PakArchive.h"

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

using namespace PakArchive;

namespace
{
// How much of the pak is written before it is handed to the disk (see WriteAll).
constexpr qint64 WriteBackStep = qint64(8) << 20;
// Chunks in flight between the copy and the hashing thread; the buffers are allocated once.
constexpr int PipelineDepth = 8;
// Below this a file is hashed in line: handing it to the thread would cost more than it saves.
constexpr qint64 PipelinedFileSize = 256 * 1024;
// Blocks compressed per hand-over to the workers: enough to keep both cores busy, little memory.
constexpr int BlocksPerBatch = 32;
// On package-like data level 5 takes about half the time of zlib's default (6) for about 1% more
// bytes; per 64 KiB block that stays within a few percent of gzip -6 over the whole file.
constexpr int CompressionLevel = 5;
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
