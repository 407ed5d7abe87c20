#include "DurableWrite.h"

#include "FileHelper.h"
#include "Paths.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

// The asset layer runs on POSIX systems; syncfs() is Linux only.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
bool Fail(QString* OutError, const QString& Error)
{
	if (OutError)
	{
		*OutError = Error;
	}
	return false;
}

QString ErrnoText(int Error)
{
	return QString::fromLocal8Bit(std::strerror(Error));
}

std::mutex FaultMutex;
FScopedFileWriteFault::FHook* FaultHook = nullptr;

// The errno a test injects at this step, or 0.
int InjectedFault(EFileWriteStep Step, const QString& TargetPath)
{
	FScopedFileWriteFault::FHook Hook;
	{
		std::lock_guard Lock(FaultMutex);
		if (!FaultHook)
		{
			return 0;
		}
		Hook = *FaultHook;
	}
	return Hook(Step, TargetPath);
}

QString TemporaryName(const QString& FilePath)
{
	static const char Alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
	QString Suffix(6, QLatin1Char('x'));
	for (QChar& C : Suffix)
	{
		C = QLatin1Char(Alphabet[QRandomGenerator::global()->bounded(int(sizeof(Alphabet) - 1))]);
	}
	// Never ends in a package extension, so a scan never takes a left-over for a package.
	return FilePath + QLatin1Char('.') + Suffix;
}

// Opens a new file that did not exist; -1 with errno otherwise.
int CreateNew(const QString& Path, mode_t Mode)
{
	int Fd;
	do
	{
		Fd = ::open(QFile::encodeName(Path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, Mode);
	} while (Fd < 0 && errno == EINTR);
	return Fd;
}

bool WriteAll(int Fd, const char* Data, qint64 Size, const QString& TargetPath, int& OutErrno)
{
	if (Size > 0 && (OutErrno = InjectedFault(EFileWriteStep::Write, TargetPath)) != 0)
	{
		return false;
	}
	qint64 Done = 0;
	while (Done < Size)
	{
		const ssize_t Written = ::write(Fd, Data + Done, size_t(Size - Done));
		if (Written < 0 && errno == EINTR)
		{
			continue;
		}
		if (Written <= 0)
		{
			OutErrno = Written < 0 ? errno : ENOSPC;
			return false;
		}
		Done += Written;
	}
	return true;
}

// fsync, retried on EINTR only: after any other failure the kernel may have dropped the dirty
// pages, so a second fsync could succeed without the data being on disk.
bool SyncFileDescriptor(int Fd, const QString& TargetPath, int& OutErrno)
{
	if ((OutErrno = InjectedFault(EFileWriteStep::Sync, TargetPath)) != 0)
	{
		return false;
	}
	int Result;
	do
	{
		Result = ::fsync(Fd);
	} while (Result != 0 && errno == EINTR);
	OutErrno = Result == 0 ? 0 : errno;
	return Result == 0;
}

// Closes Fd whatever happens; false when the close reported an error (on some file systems, the
// first sign that the data did not fit).
bool CloseFile(int Fd, const QString& TargetPath, int& OutErrno)
{
	const int Injected = InjectedFault(EFileWriteStep::Close, TargetPath);
	const bool bClosed = ::close(Fd) == 0;
	OutErrno = Injected != 0 ? Injected : (bClosed ? 0 : errno);
	return OutErrno == 0;
}

bool RenameOver(const QString& TempPath, const QString& FilePath, QString* OutError)
{
	if (const int Injected = InjectedFault(EFileWriteStep::Rename, FilePath))
	{
		return Fail(OutError, ErrnoText(Injected));
	}
	std::error_code Error;
	std::filesystem::rename(std::filesystem::path(QFile::encodeName(TempPath).toStdString()),
	                        std::filesystem::path(QFile::encodeName(FilePath).toStdString()), Error);
	if (Error)
	{
		return Fail(OutError, QString::fromLocal8Bit(Error.message()));
	}
	return true;
}

bool SyncPath(const QString& Path, bool bDirectory, const QString& TargetPath, QString* OutError)
{
	if (bDirectory)
	{
		if (const int Injected = InjectedFault(EFileWriteStep::SyncFolder, TargetPath))
		{
			return Fail(OutError,
			            QStringLiteral("syncing ") + Path + QStringLiteral(" failed: ") + ErrnoText(Injected));
		}
	}
	const int Fd = ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_CLOEXEC | (bDirectory ? O_DIRECTORY : 0));
	if (Fd < 0)
	{
		return errno == ENOENT || Fail(OutError, Path + QStringLiteral(": ") + ErrnoText(errno));
	}
	int Result;
	do
	{
		Result = ::fsync(Fd);
	} while (Result != 0 && errno == EINTR);
	const int Error = errno;
	::close(Fd);
	// Some file systems cannot sync a folder; their entries are then as safe as they get.
	const bool bOk = Result == 0 || (bDirectory && (Error == EINVAL || Error == ENOTSUP));
	return bOk || Fail(OutError, QStringLiteral("syncing ") + Path + QStringLiteral(" failed: ") + ErrnoText(Error));
}

// Creates a new temporary file beside FilePath (and the missing folders), with the permissions
// the finished file must have: ForcedMode when given, else those of the file it replaces, else
// the default ones.
bool OpenTemporary(const QString& FilePath, std::optional<mode_t> ForcedMode, QString& OutTempPath, int& OutFd,
                   QString* OutError)
{
	const QString Folder = FPaths::GetPath(FilePath);
	if (!Folder.isEmpty() && !FPaths::DirectoryExists(Folder) && !FPaths::CreateDirectoryTree(Folder))
	{
		return Fail(OutError, QStringLiteral("cannot create the folder ") + Folder);
	}
	mode_t Mode = 0666;
	bool bExactMode = false;
	struct stat Existing;
	if (::stat(QFile::encodeName(FilePath).constData(), &Existing) == 0)
	{
		// A file that is read-only to us stays as it is.
		if (::access(QFile::encodeName(FilePath).constData(), W_OK) != 0 && errno == EACCES)
		{
			return Fail(OutError, QStringLiteral("Existing file ") + FilePath + QStringLiteral(" is not writable"));
		}
		Mode = Existing.st_mode & 07777;
		bExactMode = true;
	}
	if (ForcedMode)
	{
		Mode = *ForcedMode;
		bExactMode = true;
	}
	if (const int Injected = InjectedFault(EFileWriteStep::Create, FilePath))
	{
		return Fail(OutError, ErrnoText(Injected));
	}
	for (int Attempt = 0; Attempt < 16; ++Attempt)
	{
		const QString TempPath = TemporaryName(FilePath);
		// Created for the owner at most, so that the file is never wider than it should be, not
		// even for a moment; then set exactly.
		const int Fd = CreateNew(TempPath, bExactMode ? (Mode & 0600) : Mode);
		if (Fd < 0 && errno == EEXIST)
		{
			continue;
		}
		if (Fd < 0)
		{
			return Fail(OutError, ErrnoText(errno));
		}
		if (bExactMode && ::fchmod(Fd, Mode) != 0)
		{
			const int Error = errno;
			::close(Fd);
			::unlink(QFile::encodeName(TempPath).constData());
			return Fail(OutError, ErrnoText(Error));
		}
		OutTempPath = TempPath;
		OutFd = Fd;
		return true;
	}
	return Fail(OutError, QStringLiteral("no free temporary name beside ") + FilePath);
}

void RemoveTemporary(const QString& TempPath)
{
	::unlink(QFile::encodeName(TempPath).constData());
}
} // namespace

bool DurableWrite::WriteTemporary(const QString& FilePath, const QByteArray& Bytes, QString& OutTempPath,
                                  QString* OutError)
{
	QString TempPath;
	int Fd = -1;
	if (!OpenTemporary(FilePath, std::nullopt, TempPath, Fd, OutError))
	{
		return false;
	}
	int Error = 0;
	bool bOk = WriteAll(Fd, Bytes.constData(), Bytes.size(), FilePath, Error);
	int CloseError = 0;
	if (!CloseFile(Fd, FilePath, CloseError) && bOk)
	{
		Error = CloseError;
		bOk = false;
	}
	if (!bOk)
	{
		RemoveTemporary(TempPath);
		return Fail(OutError, ErrnoText(Error));
	}
	OutTempPath = TempPath;
	return true;
}

bool DurableWrite::Replace(const QString& TempPath, const QString& FilePath, QString* OutError)
{
	return RenameOver(TempPath, FilePath, OutError);
}

bool DurableWrite::WriteUnsynced(const QString& FilePath, const QByteArray& Bytes, QString* OutError)
{
	QString TempPath;
	if (!WriteTemporary(FilePath, Bytes, TempPath, OutError))
	{
		return false;
	}
	if (!Replace(TempPath, FilePath, OutError))
	{
		RemoveTemporary(TempPath);
		return false;
	}
	return true;
}

bool DurableWrite::LinkUnsynced(const QString& ExistingPath, const QString& NewPath, QString* OutError)
{
	const QString Folder = FPaths::GetPath(NewPath);
	if (!Folder.isEmpty() && !FPaths::DirectoryExists(Folder) && !FPaths::CreateDirectoryTree(Folder))
	{
		return Fail(OutError, QStringLiteral("cannot create the folder ") + Folder);
	}
	// A new name is a file created, for a test that fails creating.
	if (const int Injected = InjectedFault(EFileWriteStep::Create, NewPath))
	{
		return Fail(OutError, ErrnoText(Injected));
	}
	if (::link(QFile::encodeName(ExistingPath).constData(), QFile::encodeName(NewPath).constData()) != 0)
	{
		return Fail(OutError, ErrnoText(errno));
	}
	return true;
}

bool FFileHelper::SaveArrayToFile(const QByteArray& Bytes, const QString& Path, QString* OutError, EFileWrite Flags)
{
	FDurableFileWriter Writer(Path, Flags);
	return Writer.Open(OutError) && Writer.Write(Bytes, OutError) && Writer.Commit(OutError);
}

bool FFileHelper::SaveStringToFile(const QString& Text, const QString& Path, QString* OutError, EFileWrite Flags)
{
	return SaveArrayToFile(Text.toUtf8(), Path, OutError, Flags);
}

bool FFileHelper::SyncFile(int FileDescriptor, QString* OutError)
{
	int Error = 0;
	return SyncFileDescriptor(FileDescriptor, QString(), Error) || Fail(OutError, ErrnoText(Error));
}

bool FFileHelper::SyncFolderOf(const QString& Path, QString* OutError)
{
	const QString Folder = FPaths::GetPath(FPaths::ConvertRelativePathToFull(Path));
	return SyncPath(Folder.isEmpty() ? QStringLiteral(".") : Folder, true, Path, OutError);
}

FDurableFileWriter::FDurableFileWriter(const QString& InTargetPath, EFileWrite InFlags)
    : TargetPath(InTargetPath)
    , Flags(InFlags)
{
}

FDurableFileWriter::~FDurableFileWriter()
{
	Cancel();
}

bool FDurableFileWriter::Open(QString* OutError)
{
	Cancel();
	bFailed = false;
	const std::optional<mode_t> Mode =
	    Flags == EFileWrite::OwnerOnly ? std::optional<mode_t>(S_IRUSR | S_IWUSR) : std::nullopt;
	return OpenTemporary(TargetPath, Mode, TempPath, Fd, OutError);
}

bool FDurableFileWriter::Write(const char* Data, qint64 Size, QString* OutError)
{
	if (Fd < 0 || bFailed)
	{
		return Fail(OutError, QStringLiteral("the file is not open for writing"));
	}
	int Error = 0;
	if (!WriteAll(Fd, Data, Size, TargetPath, Error))
	{
		bFailed = true;
		return Fail(OutError, ErrnoText(Error));
	}
	return true;
}

bool FDurableFileWriter::Commit(QString* OutError)
{
	if (Fd < 0 || bFailed)
	{
		Cancel();
		return Fail(OutError, QStringLiteral("the file is not open for writing"));
	}
	int Error = 0;
	const bool bSynced = SyncFileDescriptor(Fd, TargetPath, Error);
	int CloseError = 0;
	const bool bClosed = CloseFile(Fd, TargetPath, CloseError);
	Fd = -1;
	if (!bSynced || !bClosed)
	{
		RemoveTemporary(TempPath);
		TempPath.clear();
		return Fail(OutError, ErrnoText(bSynced ? CloseError : Error));
	}
	if (!RenameOver(TempPath, TargetPath, OutError))
	{
		RemoveTemporary(TempPath);
		TempPath.clear();
		return false;
	}
	TempPath.clear();
	// The rename is durable only once the folder's entries are.
	return FFileHelper::SyncFolderOf(TargetPath, OutError);
}

void FDurableFileWriter::Cancel()
{
	if (Fd >= 0)
	{
		::close(Fd);
		Fd = -1;
	}
	if (!TempPath.isEmpty())
	{
		RemoveTemporary(TempPath);
		TempPath.clear();
	}
}

FScopedFileWriteFault::FScopedFileWriteFault(FHook Hook)
{
	std::lock_guard Lock(FaultMutex);
	Q_ASSERT(!FaultHook);
	FaultHook = new FHook(std::move(Hook));
}

FScopedFileWriteFault::~FScopedFileWriteFault()
{
	std::lock_guard Lock(FaultMutex);
	delete FaultHook;
	FaultHook = nullptr;
}

bool DurableWrite::SyncAll(const QStringList& Paths, QString* OutError)
{
#ifdef Q_OS_LINUX
	// syncfs() writes back and waits for every dirty file of the file system, and the folders'
	// entries with them: one call per file system, however many files a batch wrote.
	// A file lies on its folder's file system; asking once per folder keeps this to a few calls.
	QSet<QString> Folders;
	for (const QString& Path : Paths)
	{
		Folders.insert(FPaths::GetPath(Path));
	}
	QSet<dev_t> Synced;
	for (const QString& Folder : Folders)
	{
		QString Existing = Folder;
		struct stat Info;
		while (!Existing.isEmpty() && ::stat(QFile::encodeName(Existing).constData(), &Info) != 0)
		{
			const QString Parent = FPaths::GetPath(Existing);
			Existing = Parent == Existing ? QString() : Parent;
		}
		if (Existing.isEmpty() || Synced.contains(Info.st_dev))
		{
			continue;
		}
		const int Fd = ::open(QFile::encodeName(Existing).constData(), O_RDONLY | O_CLOEXEC);
		if (Fd < 0)
		{
			return Fail(OutError, Existing + QStringLiteral(": ") + ErrnoText(errno));
		}
		const bool bOk = ::syncfs(Fd) == 0;
		const int Error = errno;
		::close(Fd);
		if (!bOk)
		{
			return Fail(OutError, QStringLiteral("syncing the file system of ") + Existing +
			                          QStringLiteral(" failed: ") + ErrnoText(Error));
		}
		Synced.insert(Info.st_dev);
	}
	return true;
#else
	QSet<QString> Folders;
	for (const QString& Path : Paths)
	{
		if (!SyncPath(Path, false, Path, OutError))
		{
			return false;
		}
		Folders.insert(FPaths::GetPath(Path));
	}
	for (const QString& Folder : Folders)
	{
		if (!Folder.isEmpty() && !SyncPath(Folder, true, Folder, OutError))
		{
			return false;
		}
	}
	return true;
#endif
}
