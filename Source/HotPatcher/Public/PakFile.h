#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>

// Pak files of version 11, unencrypted, their entries stored as they are or compressed with zlib in
// blocks, as the engine writes and mounts them. The layout is described in docs/HotPatcher.md.

// One file of a pak: its path relative to the pak's mount point, where its data lies and the SHA-1
// of the bytes stored for it.
struct FPakEntryInfo
{
	QString Path;
	// Where the entry's header starts; the stored bytes follow the header (HeaderSize()).
	qint64 Offset = 0;
	// The bytes stored after the header: the file's data, or its compressed blocks back to back.
	qint64 Size = 0;
	// The file's own size; Size when it is stored as it is.
	qint64 UncompressedSize = 0;
	// 0 when stored as it is, else the 1-based slot of the footer's method names (only "Zlib").
	quint32 CompressionMethod = 0;
	// Bytes of the file each block holds (the last may hold fewer); 0 when stored as it is.
	quint32 CompressionBlockSize = 0;
	// The stored size of each block, in file order.
	QList<qint64> BlockSizes;
	// SHA-1 of the stored bytes, as the entry header holds it.
	QByteArray Sha1;
	// SHA-1 of the file's own bytes; the writer fills it (the version file lists it), the reader
	// does not.
	QByteArray FileSha1;

	bool IsCompressed() const { return CompressionMethod != 0; }
	// 53 bytes, and the block table's count and (start, end) pairs when compressed.
	qint64 HeaderSize() const;
};

namespace PakFormat
{
inline constexpr quint32 Magic = 0x5A6F12E1;
inline constexpr qint32 Version = 11;
inline constexpr qint64 EntryHeaderSize = 53;
inline constexpr qint64 FooterSize = 221;
// The engine packer's block size; a file of one block uses its own size.
inline constexpr qint64 CompressionBlockSize = 64 * 1024;
// The largest block the reader inflates: blocks are inflated whole, so this bounds its memory.
inline constexpr qint64 MaxCompressionBlockSize = 16 * 1024 * 1024;

// Longer names are not ones a project's files have; the bound also keeps a hostile index from
// handing the client names of any length.
inline constexpr qsizetype MaxPathLength = 1024;

// FNV-1a 64 of the path lowercased, as UTF-16LE bytes, with the seed added to the offset basis.
quint64 HashPath(const QString& RelativePath, quint64 Seed);

// Why the path cannot name a file below a mount point, or empty when it can: "/" separated names
// with no empty, "." or ".." part, no backslash, colon, NUL or other control character, at most
// MaxPathLength characters. The writer packs only such paths and the reader accepts only them, so
// that no entry of a pak can reach outside its mount point when it is mounted.
QString EntryPathProblem(const QString& Path);

// The text with backslashes, control and other non-printing characters escaped (\\, \n, \t,
// \u{7f}), so that a name read from a pak always prints as one line that says what it holds.
QString Printable(const QString& Text);
} // namespace PakFormat

// Writes a pak by streaming each file through SHA-1 into it: memory stays flat whatever the sizes.
// The pak is written under a temporary name beside its final path and renamed only by a successful
// Finish(), so a failed or abandoned build never leaves a partial pak under the final name.
class FPakWriter
{
public:
	FPakWriter();
	~FPakWriter();
	FPakWriter(const FPakWriter&) = delete;
	FPakWriter& operator=(const FPakWriter&) = delete;

	// Compress each entry in blocks with zlib, keeping it as it is when it does not shrink. Off
	// until set; takes effect at the next Open().
	void SetCompressed(bool bInCompressed) { bCompressed = bInCompressed; }

	// MountPoint ends with "/" ("../../../ORVAClient/").
	bool Open(const QString& FinalPath, const QString& MountPoint);
	// Adds SourceFile under PathInPak (relative to the mount point, "/" separated). The returned
	// entry holds its hash.
	bool AddFile(const QString& SourceFile, const QString& PathInPak, FPakEntryInfo* OutEntry = nullptr);
	// Writes the indexes and the footer, then renames the pak to its final path.
	bool Finish();
	// Drops the temporary file; the final path is left as it was.
	void Abort();

	// Bytes stored for files so far (compressed where they are); for progress reports.
	qint64 GetDataBytesWritten() const { return DataBytes; }
	QString GetError() const { return Error; }

private:
	bool Fail(const QString& Message);
	bool WriteAll(const char* Data, qint64 Size);
	bool CopyStored(QFile& Source, FPakEntryInfo& Entry);
	// False with Error empty when the entry would not shrink: the caller stores it as it is.
	bool CopyCompressed(QFile& Source, FPakEntryInfo& Entry);

	QString FinalPath;
	QString TempPath;
	QString MountPoint;
	QFile File;
	QList<FPakEntryInfo> Entries;
	QSet<QString> FoldedPaths; // of Entries, case-folded: the pak's paths are unique ignoring case
	QByteArray Buffers[8];     // the copy's chunks in flight
	std::unique_ptr<class FHashPipeline> Pipeline;
	std::unique_ptr<class FCompressPool> Compressor;
	qint64 DataBytes = 0;
	qint64 Position = 0;
	qint64 WrittenBack = 0; // the pak's bytes before this are on their way to the disk
	QString Error;
	bool bOpen = false;
	bool bCompressed = false;
	bool bWriteCompressed = false;
};

// Reads a pak's indexes and checks them: the footer, the primary index and its hash, the path hash
// index and the full directory index with their hashes, and that the two secondary indexes name the
// same entries. Every count, offset and size read is checked against the file before it is used.
class FPakReader
{
public:
	bool Open(const QString& Path);
	QString GetError() const { return Error; }

	QString GetMountPoint() const { return MountPoint; }
	quint64 GetPathHashSeed() const { return PathHashSeed; }
	// In the order of the full directory index.
	const QList<FPakEntryInfo>& GetEntries() const { return Entries; }

	// Streams the entry's stored bytes through SHA-1 and compares it with the hash in its header;
	// also checks that the header agrees with the index, and inflates every block of a compressed
	// entry into a block-sized buffer to check it holds what the entry says. Fills Entry.Sha1.
	bool VerifyEntry(FPakEntryInfo& Entry);
	// The entry's file data, checked like VerifyEntry. Refused (false) when the file is larger than
	// MaxBytes, before anything is read, so a hostile index cannot make the reader allocate what
	// it names.
	bool ReadEntry(FPakEntryInfo& Entry, qint64 MaxBytes, QByteArray& OutData);

private:
	struct FFooter;
	struct FSecondaryIndex;
	struct FPrimaryIndex;

	bool Fail(const QString& Message);
	// Size bytes at Offset, all inside the file.
	bool ReadAt(qint64 Offset, qint64 Size, QByteArray& Out);
	// Open's steps, in order; each fails with the reason the pak cannot be read.
	bool ReadFooter(FFooter& Out);
	bool ReadPrimaryIndex(const FFooter& Footer, FPrimaryIndex& Out);
	bool ReadSecondaryIndexes(const FFooter& Footer, FPrimaryIndex& Primary);
	// Fills Entries from the full directory index, and the encoded offset of each path (lower-case).
	bool ReadDirectoryIndex(const FFooter& Footer, const FPrimaryIndex& Primary, QHash<QString, qint32>& OffsetByPath);
	bool CheckEntriesApart();
	bool CheckPathHashIndex(const FPrimaryIndex& Primary, const QHash<QString, qint32>& OffsetByPath);
	bool ReadStored(FPakEntryInfo& Entry, QByteArray* OutData);

	QFile File;
	qint64 FileSize = 0;
	QString MountPoint;
	quint64 PathHashSeed = 0;
	QList<FPakEntryInfo> Entries;
	QString Error;
};
