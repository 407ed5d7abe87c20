#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <sys/mount.h>
#include <unistd.h>

// A small file system of its own (tmpfs) mounted on a temporary folder for one scope, to see what
// the code does when a disk is really full. Mounting needs root; elsewhere IsMounted() is false and
// Why() says why, for the test's skip message. Always unmounted when the scope ends.
class FScopedTmpfs
{
public:
	explicit FScopedTmpfs(int SizeKiB)
	{
		if (::geteuid() != 0)
		{
			Reason = QStringLiteral("mounting a small tmpfs needs root");
			return;
		}
		if (!Folder.isValid())
		{
			Reason = QStringLiteral("no temporary folder to mount on");
			return;
		}
		const QByteArray Options = "size=" + QByteArray::number(SizeKiB) + "k,mode=0755";
		if (::mount("tmpfs", QFile::encodeName(Folder.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
		            Options.constData()) != 0)
		{
			Reason = QStringLiteral("cannot mount a tmpfs: ") + QString::fromLocal8Bit(std::strerror(errno));
			return;
		}
		bMounted = true;
	}

	~FScopedTmpfs()
	{
		if (bMounted && ::umount2(QFile::encodeName(Folder.path()).constData(), 0) != 0)
		{
			::umount2(QFile::encodeName(Folder.path()).constData(), MNT_DETACH);
		}
	}

	FScopedTmpfs(const FScopedTmpfs&) = delete;
	FScopedTmpfs& operator=(const FScopedTmpfs&) = delete;

	bool IsMounted() const { return bMounted; }
	QString Why() const { return Reason; }
	QString Path() const { return Folder.path(); }
	QString FilePath(const QString& Name) const { return Folder.filePath(Name); }

	// Fills what is left of the file system with one file, so that the next write finds no room.
	bool Fill() const
	{
		QFile Filler(Folder.filePath(QStringLiteral("filler")));
		if (!Filler.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
		{
			return false;
		}
		const QByteArray Block(4096, 'f');
		while (Filler.write(Block) == Block.size())
		{
		}
		const QByteArray Byte(1, 'f');
		while (Filler.write(Byte) == 1)
		{
		}
		return true;
	}

	// Gives the room back.
	void Empty() const { QFile::remove(Folder.filePath(QStringLiteral("filler"))); }

private:
	QTemporaryDir Folder;
	bool bMounted = false;
	QString Reason;
};
