#pragma once

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

// Pak files of version 11, uncompressed and unencrypted, as the engine writes and mounts them. The
// layout is described in docs/HotPatcher.md.

// One file of a pak: its path relative to the pak's mount point, where its data lies and the SHA-1
// of that data.
struct FPakEntryInfo
{
	QString Path;
	// Where the entry's header starts; the data follows the 53-byte header.
	qint64 Offset = 0;
	qint64 Size = 0;
	QByteArray Sha1;
};

namespace PakFormat
{
inline constexpr quint32 Magic = 0x5A6F12E1;
inline constexpr qint32 Version = 11;
inline constexpr qint64 EntryHeaderSize = 53;
inline constexpr qint64 FooterSize = 221;

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

	// MountPoint ends with "/" ("../../../ORVAClient/").
	bool Open(const QString& FinalPath, const QString& MountPoint);
	// Adds SourceFile under PathInPak (relative to the mount point, "/" separated). The returned
	// entry holds its hash.
	bool AddFile(const QString& SourceFile, const QString& PathInPak, FPakEntryInfo* OutEntry = nullptr);
	// Writes the indexes and the footer, then renames the pak to its final path.
	bool Finish();
	// Drops the temporary file; the final path is left as it was.
	void Abort();

	// Bytes of file data written so far; for progress reports.
	qint64 GetDataBytesWritten() const { return DataBytes; }
	QString GetError() const { return Error; }

private:
	bool Fail(const QString& Message);
	bool WriteAll(const char* Data, qint64 Size);

	QString FinalPath;
	QString TempPath;
	QString MountPoint;
	QFile File;
	QList<FPakEntryInfo> Entries;
	QByteArray Buffers[4];
	std::unique_ptr<class FHashPipeline> Pipeline;
	qint64 DataBytes = 0;
	qint64 Position = 0;
	QString Error;
	bool bOpen = false;
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

	// Streams the entry's data through SHA-1 and compares it with the hash in its header; also
	// checks that the header agrees with the index. Fills Entry.Sha1 from the header.
	bool VerifyEntry(FPakEntryInfo& Entry);
	// The entry's data, checked like VerifyEntry. Refused (false) when it is larger than MaxBytes,
	// so a hostile index cannot make the reader allocate what it names.
	bool ReadEntry(FPakEntryInfo& Entry, qint64 MaxBytes, QByteArray& OutData);

private:
	bool Fail(const QString& Message);

	QFile File;
	qint64 FileSize = 0;
	QString MountPoint;
	quint64 PathHashSeed = 0;
	QList<FPakEntryInfo> Entries;
	QString Error;
};
