#include "PakFile.h"

#include "FileHelper.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QSet>
#include <QtEndian>

#include <openssl/evp.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>

namespace
{
// Large enough that the per-call costs of read, hash and write vanish, small enough for flat memory.
constexpr qint64 CopyChunkSize = 1 << 20;
// Chunks in flight between the copy and the hashing thread; the buffers are allocated once.
constexpr int PipelineDepth = 4;
// Below this a file is hashed in line: handing it to the thread would cost more than it saves.
constexpr qint64 PipelinedFileSize = 256 * 1024;
// An index larger than this is not one we wrote or the engine would mount.
constexpr qint64 MaxIndexSize = qint64(512) << 20;

// SHA-1 through OpenSSL: several times faster than a portable implementation on CPUs with SHA
// instructions, which is what keeps packing as fast as copying.
class FSha1
{
public:
	FSha1()
	    : Context(EVP_MD_CTX_new())
	{
		EVP_DigestInit_ex(Context, EVP_sha1(), nullptr);
	}
	~FSha1() { EVP_MD_CTX_free(Context); }
	FSha1(const FSha1&) = delete;
	FSha1& operator=(const FSha1&) = delete;

	void Update(const char* Data, qint64 Size) { EVP_DigestUpdate(Context, Data, size_t(Size)); }
	QByteArray Final()
	{
		unsigned char Digest[EVP_MAX_MD_SIZE];
		unsigned int Length = 0;
		EVP_DigestFinal_ex(Context, Digest, &Length);
		return QByteArray(reinterpret_cast<const char*>(Digest), int(Length));
	}
	static QByteArray Of(const QByteArray& Bytes)
	{
		FSha1 Hash;
		Hash.Update(Bytes.constData(), Bytes.size());
		return Hash.Final();
	}

private:
	EVP_MD_CTX* Context;
};

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

void WriteEntryHeader(FArchiveWriter& Ar, qint64 Size, const QByteArray& Sha1)
{
	Ar.I64(0);
	Ar.I64(Size);
	Ar.I64(Size);
	Ar.U32(0);
	Ar.Raw(Sha1.size() == 20 ? Sha1 : QByteArray(20, '\0'));
	Ar.U8(0);
	Ar.U32(0);
}

// Bits of the first word of an encoded entry.
constexpr quint32 OffsetFits32 = 1u << 31;
constexpr quint32 UncompressedFits32 = 1u << 30;
constexpr quint32 SizeFits32 = 1u << 29;

void EncodeEntry(FArchiveWriter& Ar, const FPakEntryInfo& Entry)
{
	const bool bOffset32 = Entry.Offset <= qint64(std::numeric_limits<quint32>::max());
	const bool bSize32 = Entry.Size <= qint64(std::numeric_limits<quint32>::max());
	Ar.U32((bOffset32 ? OffsetFits32 : 0) | (bSize32 ? UncompressedFits32 | SizeFits32 : 0));
	bOffset32 ? Ar.U32(quint32(Entry.Offset)) : Ar.I64(Entry.Offset);
	bSize32 ? Ar.U32(quint32(Entry.Size)) : Ar.I64(Entry.Size);
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

	void Submit(FSha1& Hash, const char* Data, qint64 Size)
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
		FSha1* Hash;
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
	DataBytes = 0;
	Position = 0;
	FinalPath = InFinalPath;
	MountPoint = InMountPoint;
	// Beside the final path, so the rename stays on one file system and is atomic.
	TempPath = FinalPath + QStringLiteral(".tmp");
	File.setFileName(TempPath);
	if (!File.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
	{
		Error = QStringLiteral("Cannot create %1: %2").arg(TempPath, File.errorString());
		return false;
	}
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
	for (const FPakEntryInfo& Existing : Entries)
	{
		if (Existing.Path.compare(PathInPak, Qt::CaseInsensitive) == 0)
		{
			return Fail(QStringLiteral("Cannot pack %1: the pak already holds \"%2\"").arg(SourceFile, PathInPak));
		}
	}
	QFile Source(SourceFile);
	if (!Source.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
	{
		return Fail(QStringLiteral("Cannot read %1: %2").arg(SourceFile, Source.errorString()));
	}

	FPakEntryInfo Entry;
	Entry.Path = PathInPak;
	Entry.Offset = Position;
	// The header's size and hash are known only once the data has streamed through; a placeholder
	// keeps its place.
	FArchiveWriter Header;
	WriteEntryHeader(Header, 0, QByteArray());
	if (!WriteAll(Header.Bytes.constData(), Header.Bytes.size()))
	{
		return false;
	}
	FSha1 Hash;
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
				return Fail(QStringLiteral("Cannot read %1: %2").arg(SourceFile, Source.errorString()));
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
		DataBytes += Read;
	}
	Entry.Sha1 = Hash.Final();

	FArchiveWriter Final;
	WriteEntryHeader(Final, Entry.Size, Entry.Sha1);
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
	Entries.append(Entry);
	if (OutEntry)
	{
		*OutEntry = Entry;
	}
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

	const quint64 Seed = qFromLittleEndian<quint64>(
	    QCryptographicHash::hash(QFileInfo(FinalPath).fileName().toLower().toUtf8(), QCryptographicHash::Sha1)
	        .constData());

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
		Primary.Raw(FSha1::Of(PathHashIndex.Bytes));
		Primary.U32(1);
		Primary.I64(DirectoryOffset);
		Primary.I64(DirectoryIndex.Bytes.size());
		Primary.Raw(FSha1::Of(DirectoryIndex.Bytes));
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
	Footer.Raw(FSha1::Of(Primary));
	Footer.Zeros(5 * 32);

	for (const QByteArray* Block :
	     std::initializer_list<const QByteArray*>{&Primary, &PathHashIndex.Bytes, &DirectoryIndex.Bytes, &Footer.Bytes})
	{
		if (!WriteAll(Block->constData(), Block->size()))
		{
			return false;
		}
	}
	QString SyncError;
	if (!File.flush() || !FFileHelper::SyncFile(File.handle(), &SyncError))
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
	if (FSha1::Of(PrimaryBytes) != IndexHash)
	{
		return Fail(QStringLiteral("the primary index hash does not match (stored %1, computed %2)")
		                .arg(Hex(IndexHash), Hex(FSha1::Of(PrimaryBytes))));
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
	struct FRawEntry
	{
		qint64 Offset = 0;
		qint64 Size = 0;
		quint32 Method = 0;
	};
	QList<FRawEntry> NonEncoded;
	for (qint32 Index = 0; Index < NonEncodedCount && Primary.Ok(); ++Index)
	{
		FRawEntry Raw;
		Raw.Offset = Primary.I64();
		Raw.Size = Primary.I64();
		const qint64 Uncompressed = Primary.I64();
		Raw.Method = Primary.U32();
		Primary.Raw(20);
		if (Raw.Method != 0 || Raw.Size != Uncompressed)
		{
			return Fail(QStringLiteral("compressed entries are not read"));
		}
		Primary.U8();
		Primary.U32();
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
		if (FSha1::Of(Index.Bytes) != Index.Hash)
		{
			return Fail(QStringLiteral("the %1 hash does not match (stored %2, computed %3)")
			                .arg(QLatin1String(Names[Which]), Hex(Index.Hash), Hex(FSha1::Of(Index.Bytes))));
		}
	}

	auto DecodeEntry = [&](qint32 EncodedOffset, FPakEntryInfo& Out)
	{
		if (EncodedOffset < 0)
		{
			const qint64 Index = -qint64(EncodedOffset) - 1;
			if (Index >= NonEncoded.size())
			{
				return false;
			}
			Out.Offset = NonEncoded[Index].Offset;
			Out.Size = NonEncoded[Index].Size;
			return Out.Offset >= 0 && Out.Size >= 0;
		}
		if (EncodedOffset > Encoded.size())
		{
			return false;
		}
		const QByteArray Tail = Encoded.mid(EncodedOffset);
		FArchiveReader Ar(Tail);
		const quint32 Flags = Ar.U32();
		Out.Offset = (Flags & OffsetFits32) ? qint64(Ar.U32()) : Ar.I64();
		const qint64 Uncompressed = (Flags & UncompressedFits32) ? qint64(Ar.U32()) : Ar.I64();
		const quint32 Method = (Flags >> 23) & 0x3f;
		const bool bEncrypted = (Flags >> 22) & 1;
		const quint32 Blocks = (Flags >> 6) & 0xffff;
		if (Method != 0 || bEncrypted || Blocks != 0)
		{
			return false;
		}
		Out.Size = Uncompressed;
		return Ar.Ok() && Out.Offset >= 0 && Out.Size >= 0;
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
			if (!DecodeEntry(EncodedOffset, Entry))
			{
				return Fail(QStringLiteral("the entry of %1 is malformed, compressed or has a negative offset or size")
				                .arg(Entry.Path));
			}
			if (Entry.Offset < 0 || Entry.Size < 0 || Entry.Offset > IndexOffset ||
			    Entry.Size > IndexOffset - Entry.Offset ||
			    PakFormat::EntryHeaderSize > IndexOffset - Entry.Offset - Entry.Size)
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
		if (ByOffset[Index]->Offset - Before.Offset < PakFormat::EntryHeaderSize + Before.Size)
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
	if (!File.isOpen() || Entry.Offset < 0 || Entry.Size < 0 || !File.seek(Entry.Offset))
	{
		return Fail(QStringLiteral("cannot read the entry of %1").arg(Entry.Path));
	}
	const QByteArray HeaderBytes = File.read(PakFormat::EntryHeaderSize);
	FArchiveReader Header(HeaderBytes);
	Header.I64();
	const qint64 Size = Header.I64();
	const qint64 Uncompressed = Header.I64();
	const quint32 Method = Header.U32();
	Entry.Sha1 = Header.Raw(20);
	const quint8 Flags = Header.U8();
	Header.U32();
	if (!Header.Ok())
	{
		return Fail(QStringLiteral("cannot read the entry header of %1").arg(Entry.Path));
	}
	if (Size != Entry.Size || Uncompressed != Entry.Size || Method != 0 || Flags != 0)
	{
		return Fail(QStringLiteral("the entry header of %1 does not match the index").arg(Entry.Path));
	}
	FSha1 Hash;
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
		Left -= Read;
	}
	const QByteArray Computed = Hash.Final();
	if (Computed != Entry.Sha1)
	{
		return Fail(QStringLiteral("the data of %1 does not match its hash (stored %2, computed %3)")
		                .arg(Entry.Path, Hex(Entry.Sha1), Hex(Computed)));
	}
	return true;
}

bool FPakReader::ReadEntry(FPakEntryInfo& Entry, qint64 MaxBytes, QByteArray& OutData)
{
	OutData.clear();
	if (Entry.Size > MaxBytes)
	{
		return Fail(QStringLiteral("%1 holds %2 bytes, more than the %3 read at most")
		                .arg(Entry.Path)
		                .arg(Entry.Size)
		                .arg(MaxBytes));
	}
	if (!VerifyEntry(Entry))
	{
		return false;
	}
	// Read again after the check and hash what was read: the file may change in between.
	if (!File.seek(Entry.Offset + PakFormat::EntryHeaderSize))
	{
		return Fail(QStringLiteral("cannot read the data of %1").arg(Entry.Path));
	}
	QByteArray Data = File.read(Entry.Size);
	if (Data.size() != Entry.Size)
	{
		return Fail(QStringLiteral("cannot read the data of %1").arg(Entry.Path));
	}
	const QByteArray Computed = FSha1::Of(Data);
	if (Computed != Entry.Sha1)
	{
		return Fail(QStringLiteral("the data of %1 does not match its hash (stored %2, computed %3)")
		                .arg(Entry.Path, Hex(Entry.Sha1), Hex(Computed)));
	}
	OutData = std::move(Data);
	return true;
}
