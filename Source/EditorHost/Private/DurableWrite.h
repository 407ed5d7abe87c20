#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Writes whose durability is paid once for many files. A single durable write (FFileHelper) syncs each
// file on its own, which for thousands of small packages costs more than everything else of a
// move; here files are written beside their targets without syncing, and one barrier makes a whole
// batch durable before anything that relies on it happens.
namespace DurableWrite
{
// Writes Bytes to a new temporary file in FilePath's folder (creating missing folders), with the
// permissions of FilePath when it exists. Nothing is synced. On failure nothing is left behind.
bool WriteTemporary(const QString& FilePath, const QByteArray& Bytes, QString& OutTempPath,
                    QString* OutError = nullptr);

// Puts a temporary file in place of FilePath in one step (replacing a file already there).
bool Replace(const QString& TempPath, const QString& FilePath, QString* OutError = nullptr);

// Writes Bytes under FilePath through a temporary file: WriteTemporary then Replace.
bool WriteUnsynced(const QString& FilePath, const QByteArray& Bytes, QString* OutError = nullptr);

// Gives the file at ExistingPath a second name, NewPath (creating missing folders), without
// copying a byte and without syncing. Fails when NewPath is taken or the file system cannot link
// (another file system, no hard links): the caller then writes a copy instead.
bool LinkUnsynced(const QString& ExistingPath, const QString& NewPath, QString* OutError = nullptr);

// Returns once every file written so far at these paths, and their folders' entries (names
// added, replaced or removed), is on disk. On Linux one syncfs() per file system covers the lot;
// elsewhere each file and each folder is fsync()ed. Paths that no longer exist are skipped.
bool SyncAll(const QStringList& Paths, QString* OutError = nullptr);
} // namespace DurableWrite
