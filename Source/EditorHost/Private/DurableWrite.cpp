#include "DurableWrite.h"

#include "Paths.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <filesystem>

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

bool WriteAll(int Fd, const QByteArray& Bytes, int& OutErrno)
{
	qsizetype Done = 0;
	while (Done < Bytes.size())
	{
		const ssize_t Written = ::write(Fd, Bytes.constData() + Done, size_t(Bytes.size() - Done));
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

#ifndef Q_OS_LINUX
bool SyncPath(const QString& Path, bool bDirectory, QString* OutError)
{
	const int Fd = ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_CLOEXEC | (bDirectory ? O_DIRECTORY : 0));
	if (Fd < 0)
	{
		return errno == ENOENT || Fail(OutError, Path + QStringLiteral(": ") + ErrnoText(errno));
	}
	const bool bOk = ::fsync(Fd) == 0;
	const int Error = errno;
	::close(Fd);
	return bOk || Fail(OutError, QStringLiteral("syncing ") + Path + QStringLiteral(" failed: ") + ErrnoText(Error));
}
#endif
} // namespace

bool DurableWrite::WriteTemporary(const QString& FilePath, const QByteArray& Bytes, QString& OutTempPath,
                                  QString* OutError)
{
	const QString Folder = FPaths::GetPath(FilePath);
	if (!Folder.isEmpty() && !FPaths::DirectoryExists(Folder) && !FPaths::CreateDirectoryTree(Folder))
	{
		return Fail(OutError, QStringLiteral("cannot create the folder ") + Folder);
	}
	// A replacement keeps the permissions of the file it replaces, as QSaveFile does.
	mode_t Mode = 0666;
	struct stat Existing;
	const bool bReplaces = ::stat(QFile::encodeName(FilePath).constData(), &Existing) == 0;
	if (bReplaces)
	{
		// A file that is read-only to us stays as it is, as with QSaveFile.
		if (::access(QFile::encodeName(FilePath).constData(), W_OK) != 0 && errno == EACCES)
		{
			return Fail(OutError, QStringLiteral("Existing file ") + FilePath + QStringLiteral(" is not writable"));
		}
		Mode = Existing.st_mode & 07777;
	}
	for (int Attempt = 0; Attempt < 16; ++Attempt)
	{
		const QString TempPath = TemporaryName(FilePath);
		const int Fd = CreateNew(TempPath, Mode);
		if (Fd < 0 && errno == EEXIST)
		{
			continue;
		}
		if (Fd < 0)
		{
			return Fail(OutError, ErrnoText(errno));
		}
		int Error = 0;
		bool bOk = WriteAll(Fd, Bytes, Error);
		// The creation mode went through the umask; a replacement gets exactly the old permissions.
		if (bOk && bReplaces && ::fchmod(Fd, Mode) != 0)
		{
			Error = errno;
			bOk = false;
		}
		if (::close(Fd) != 0 && bOk)
		{
			Error = errno;
			bOk = false;
		}
		if (!bOk)
		{
			::unlink(QFile::encodeName(TempPath).constData());
			return Fail(OutError, ErrnoText(Error));
		}
		OutTempPath = TempPath;
		return true;
	}
	return Fail(OutError, QStringLiteral("no free temporary name beside ") + FilePath);
}

bool DurableWrite::Replace(const QString& TempPath, const QString& FilePath, QString* OutError)
{
	std::error_code Error;
	std::filesystem::rename(std::filesystem::path(QFile::encodeName(TempPath).toStdString()),
	                        std::filesystem::path(QFile::encodeName(FilePath).toStdString()), Error);
	if (Error)
	{
		return Fail(OutError, QString::fromLocal8Bit(Error.message()));
	}
	return true;
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
		QFile::remove(TempPath);
		return false;
	}
	return true;
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
		if (!SyncPath(Path, false, OutError))
		{
			return false;
		}
		Folders.insert(FPaths::GetPath(Path));
	}
	for (const QString& Folder : Folders)
	{
		if (!Folder.isEmpty() && !SyncPath(Folder, true, OutError))
		{
			return false;
		}
	}
	return true;
#endif
}
