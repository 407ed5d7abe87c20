#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// How a durable write creates its file.
enum class EFileWrite
{
	None = 0,
	// Readable and writable by the owner only (0600), from the first byte on: for files that hold
	// secrets, and also when the file it replaces was wider.
	OwnerOnly = 1,
};

// The one way the project writes a whole file. The bytes go to a new temporary file beside the
// target; every write, the sync and the close are checked; only then is the temporary renamed over
// the target and the folder synced. A write that fails at any step removes its temporary and
// leaves the previous file exactly as it was, and says why.
//
// A file system that is full may accept a write and fail the close, or take the file's size and
// leave its blocks unwritten: Qt's QSaveFile (6.4) then replaces the target with an empty file and
// reports success, so nothing in the project writes through it.
class FFileHelper
{
public:
	// False with the reason in OutError when Path was not replaced by Bytes.
	static bool SaveArrayToFile(const QByteArray& Bytes, const QString& Path, QString* OutError = nullptr,
	                            EFileWrite Flags = EFileWrite::None);
	// Text as UTF-8 without a byte order mark.
	static bool SaveStringToFile(const QString& Text, const QString& Path, QString* OutError = nullptr,
	                             EFileWrite Flags = EFileWrite::None);
	// For files written by their own means (a pak streamed to disk) through a temporary beside
	// the target: SyncFile before closing the temporary, SyncFolderOf once it was renamed.
	static bool SyncFile(int FileDescriptor, QString* OutError = nullptr);
	static bool SyncFolderOf(const QString& Path, QString* OutError = nullptr);
};

// A whole file written piece by piece (an answer streamed from the network), under the same rules:
// nothing appears at the target until Commit() succeeded; a writer dropped before that removes
// its temporary and leaves the target as it was.
class FDurableFileWriter
{
public:
	explicit FDurableFileWriter(const QString& TargetPath, EFileWrite Flags = EFileWrite::None);
	~FDurableFileWriter();
	FDurableFileWriter(const FDurableFileWriter&) = delete;
	FDurableFileWriter& operator=(const FDurableFileWriter&) = delete;

	// Creates the temporary file (and missing folders).
	bool Open(QString* OutError = nullptr);
	// Every byte or false; after a failure the writer stays failed.
	bool Write(const char* Data, qint64 Size, QString* OutError = nullptr);
	bool Write(const QByteArray& Bytes, QString* OutError = nullptr)
	{
		return Write(Bytes.constData(), Bytes.size(), OutError);
	}
	// Syncs and closes the temporary, renames it over the target and syncs the folder.
	bool Commit(QString* OutError = nullptr);
	// Drops what was written; the target stays as it was.
	void Cancel();

	bool IsOpen() const { return Fd >= 0; }
	QString GetTargetPath() const { return TargetPath; }

private:
	QString TargetPath;
	QString TempPath;
	EFileWrite Flags;
	int Fd = -1;
	bool bFailed = false;
};

// The steps of a durable write, as a test may fail them.
enum class EFileWriteStep
{
	Create,
	Write,
	Sync,
	Close,
	Rename,
	SyncFolder,
};

// For tests: while an object lives, every durable write asks Hook before each step; a non-zero
// errno fails that step as the system would have (the step is then not done). Only one lives at a
// time; writes on every thread see it.
class FScopedFileWriteFault
{
public:
	using FHook = std::function<int(EFileWriteStep Step, const QString& TargetPath)>;
	explicit FScopedFileWriteFault(FHook Hook);
	~FScopedFileWriteFault();
	FScopedFileWriteFault(const FScopedFileWriteFault&) = delete;
	FScopedFileWriteFault& operator=(const FScopedFileWriteFault&) = delete;
};
