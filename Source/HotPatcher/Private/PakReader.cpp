#include "PakArchive.h"
#include "PakFile.h"

#include <QHash>

#include <algorithm>
#include <utility>

using namespace PakArchive;

// What the footer says: where the primary index lies, its hash, and the compression methods.
struct FPakReader::FFooter
{
	qint64 IndexOffset = 0;
	qint64 IndexSize = 0;
	QByteArray IndexHash;
	QList<QByteArray> MethodNames;
	// Where the data and the indexes end and the footer starts.
	qint64 IndexEnd = 0;
};

// A secondary index as the primary index places it, and its bytes once read and checked.
struct FPakReader::FSecondaryIndex
{
	bool bPresent = false;
	qint64 Offset = 0;
	qint64 Size = 0;
	QByteArray Hash;
	QByteArray Bytes;
};

// What the primary index holds besides the mount point and the seed, which go to the reader.
struct FPakReader::FPrimaryIndex
{
	qint32 EntryCount = 0;
	FSecondaryIndex PathHashIndex;
	FSecondaryIndex DirectoryIndex;
	QByteArray Encoded;
	// Entries stored without encoding: the full entry record, as in the data headers.
	QList<FPakEntryInfo> NonEncoded;
};

bool FPakReader::Fail(const QString& Message)
{
	Error = QStringLiteral("%1: %2").arg(PakFormat::Printable(File.fileName()), Message);
	return false;
}

bool FPakReader::ReadAt(qint64 Offset, qint64 Size, QByteArray& Out)
{
	if (Offset < 0 || Size < 0 || Offset > FileSize || Size > FileSize - Offset || !File.seek(Offset))
	{
		return false;
	}
	Out = File.read(Size);
	return Out.size() == Size;
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
	FFooter Footer;
	FPrimaryIndex Primary;
	QHash<QString, qint32> OffsetByPath;
	return ReadFooter(Footer) && ReadPrimaryIndex(Footer, Primary) && ReadSecondaryIndexes(Footer, Primary) &&
	       ReadDirectoryIndex(Footer, Primary, OffsetByPath) && CheckEntriesApart() &&
	       CheckPathHashIndex(Primary, OffsetByPath);
}

bool FPakReader::ReadFooter(FFooter& Out)
{
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
	Out.IndexOffset = Footer.I64();
	Out.IndexSize = Footer.I64();
	Out.IndexHash = Footer.Raw(20);
	for (int Slot = 0; Slot < MethodNameSlots; ++Slot)
	{
		const QByteArray Name = Footer.Raw(MethodNameSize);
		Out.MethodNames.append(Name.left(Name.indexOf('\0')));
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
	Out.IndexEnd = FileSize - PakFormat::FooterSize;
	if (Out.IndexOffset < 0 || Out.IndexSize <= 0 || Out.IndexSize > MaxIndexSize || Out.IndexOffset > Out.IndexEnd ||
	    Out.IndexSize > Out.IndexEnd - Out.IndexOffset)
	{
		return Fail(QStringLiteral("the index lies outside the file"));
	}
	return true;
}

bool FPakReader::ReadPrimaryIndex(const FFooter& Footer, FPrimaryIndex& Out)
{
	QByteArray PrimaryBytes;
	if (!ReadAt(Footer.IndexOffset, Footer.IndexSize, PrimaryBytes))
	{
		return Fail(QStringLiteral("cannot read the index"));
	}
	if (Sha1Of(PrimaryBytes) != Footer.IndexHash)
	{
		return Fail(QStringLiteral("the primary index hash does not match (stored %1, computed %2)")
		                .arg(Hex(Footer.IndexHash), Hex(Sha1Of(PrimaryBytes))));
	}

	FArchiveReader Primary(PrimaryBytes);
	MountPoint = Primary.String();
	Out.EntryCount = Primary.I32();
	PathHashSeed = Primary.U64();
	for (FSecondaryIndex* Index : {&Out.PathHashIndex, &Out.DirectoryIndex})
	{
		Index->bPresent = Primary.U32() != 0;
		if (Index->bPresent)
		{
			Index->Offset = Primary.I64();
			Index->Size = Primary.I64();
			Index->Hash = Primary.Raw(20);
		}
	}
	const qint32 EncodedSize = Primary.I32();
	Out.Encoded = Primary.Raw(EncodedSize);
	const qint32 NonEncodedCount = Primary.I32();
	if (!Primary.Ok() || Out.EntryCount < 0 || NonEncodedCount < 0)
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
	for (qint32 Index = 0; Index < NonEncodedCount && Primary.Ok(); ++Index)
	{
		FPakEntryInfo Raw;
		quint8 Flags = 0;
		if (!ReadEntryRecord(Primary, Raw, Flags))
		{
			return Fail(QStringLiteral("the primary index is malformed"));
		}
		Raw.Sha1.clear();
		Out.NonEncoded.append(Raw);
	}
	if (!Primary.Ok())
	{
		return Fail(QStringLiteral("the primary index is malformed"));
	}
	return true;
}

bool FPakReader::ReadSecondaryIndexes(const FFooter& Footer, FPrimaryIndex& Primary)
{
	if (!Primary.PathHashIndex.bPresent || !Primary.DirectoryIndex.bPresent)
	{
		return Fail(QStringLiteral("the pak lacks its path hash index or its full directory index"));
	}
	const std::pair<FSecondaryIndex*, const char*> Indexes[] = {{&Primary.PathHashIndex, "path hash index"},
	                                                            {&Primary.DirectoryIndex, "full directory index"}};
	for (const auto& [Index, Name] : Indexes)
	{
		if (Index->Size > MaxIndexSize || !ReadAt(Index->Offset, Index->Size, Index->Bytes) ||
		    Index->Offset > Footer.IndexEnd || Index->Size > Footer.IndexEnd - Index->Offset)
		{
			return Fail(QStringLiteral("the %1 lies outside the file").arg(QLatin1String(Name)));
		}
		if (Sha1Of(Index->Bytes) != Index->Hash)
		{
			return Fail(QStringLiteral("the %1 hash does not match (stored %2, computed %3)")
			                .arg(QLatin1String(Name), Hex(Index->Hash), Hex(Sha1Of(Index->Bytes))));
		}
	}
	return true;
}

namespace
{
// The entry an offset of the directory index names: a negative one counts into the entries stored
// without encoding, any other points into the encoded ones. Empty when it decodes, else why not.
QString ResolveEntry(const QByteArray& Encoded, const QList<FPakEntryInfo>& NonEncoded,
                     const QList<QByteArray>& MethodNames, qint32 EncodedOffset, FPakEntryInfo& Out)
{
	const QString Malformed = QStringLiteral("a malformed index record");
	if (EncodedOffset < 0)
	{
		const qint64 Which = -qint64(EncodedOffset) - 1;
		if (Which >= NonEncoded.size())
		{
			return Malformed;
		}
		const QString Path = Out.Path;
		Out = NonEncoded[Which];
		Out.Path = Path;
		return EntryProblem(Out, MethodNames);
	}
	if (EncodedOffset > Encoded.size())
	{
		return Malformed;
	}
	const QByteArray Tail = Encoded.mid(EncodedOffset);
	FArchiveReader Ar(Tail);
	const QString Problem = DecodeEntry(Ar, Out);
	return Problem.isEmpty() ? EntryProblem(Out, MethodNames) : Problem;
}
} // namespace

bool FPakReader::ReadDirectoryIndex(const FFooter& Footer, const FPrimaryIndex& Primary,
                                    QHash<QString, qint32>& OffsetByPath)
{
	FArchiveReader Directory(Primary.DirectoryIndex.Bytes);
	const qint32 DirectoryCount = Directory.I32();
	if (DirectoryCount < 0)
	{
		return Fail(QStringLiteral("the full directory index is malformed"));
	}
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
			const QString EntryError =
			    ResolveEntry(Primary.Encoded, Primary.NonEncoded, Footer.MethodNames, EncodedOffset, Entry);
			if (!EntryError.isEmpty())
			{
				return Fail(QStringLiteral("the entry of %1 cannot be read: %2").arg(Entry.Path, EntryError));
			}
			const qint64 IndexOffset = Footer.IndexOffset;
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
	if (Entries.size() != Primary.EntryCount)
	{
		return Fail(QStringLiteral("the index counts %1 entries, its directory lists %2")
		                .arg(Primary.EntryCount)
		                .arg(Entries.size()));
	}
	return true;
}

bool FPakReader::CheckEntriesApart()
{
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
	return true;
}

bool FPakReader::CheckPathHashIndex(const FPrimaryIndex& Primary, const QHash<QString, qint32>& OffsetByPath)
{
	// The path hash index must find every entry where the directory index does.
	FArchiveReader PathHash(Primary.PathHashIndex.Bytes);
	const qint32 HashCount = PathHash.I32();
	const qint32 EntryCount = Primary.EntryCount;
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
