// The pak reader on arbitrary file contents: it must refuse or accept without faults, every entry
// it accepts (stored as it is or compressed in blocks) must lie within the file, an entry it
// verifies must also read, and the files of an accepted pak written again by our writer, compressed
// or not, must read back with the same paths and bytes.
#include "FuzzSupport.h"
#include "PakFile.h"

#include <QCryptographicHash>
#include <QFile>

#include <algorithm>
#include <cstdlib>

namespace
{
bool WriteFile(const QString& Path, const char* Data, qint64 Size)
{
	QFile File(Path);
	return File.open(QIODevice::WriteOnly | QIODevice::Truncate) && File.write(Data, Size) == Size;
}

QList<FPakEntryInfo> SortedByPath(QList<FPakEntryInfo> Entries)
{
	std::sort(Entries.begin(), Entries.end(),
	          [](const FPakEntryInfo& A, const FPakEntryInfo& B) { return A.Path < B.Path; });
	return Entries;
}

// The files of an accepted pak, read whole: small enough to pack again.
struct FReadFile
{
	QString Path;
	QByteArray Data;
};

// Packs the files again, compressed or not, and reads them back.
void CheckRewrite(const QString& MountPoint, const QList<FReadFile>& Files, bool bCompressed)
{
	const QString Pak = FFuzz::ScratchDir() + QStringLiteral("Again.pak");
	const QString Source = FFuzz::ScratchDir() + QStringLiteral("Entry.bin");
	FPakWriter Writer;
	Writer.SetCompressed(bCompressed);
	if (!Writer.Open(Pak, MountPoint))
	{
		return;
	}
	for (const FReadFile& File : Files)
	{
		if (!WriteFile(Source, File.Data.constData(), File.Data.size()) || !Writer.AddFile(Source, File.Path))
		{
			Writer.Abort();
			return;
		}
	}
	if (!Writer.Finish())
	{
		return;
	}
	FPakReader Again;
	if (!Again.Open(Pak) || Again.GetMountPoint() != MountPoint)
	{
		std::abort();
	}
	QList<FPakEntryInfo> Read = SortedByPath(Again.GetEntries());
	QList<FReadFile> Want = Files;
	std::sort(Want.begin(), Want.end(), [](const FReadFile& A, const FReadFile& B) { return A.Path < B.Path; });
	if (Read.size() != Want.size())
	{
		std::abort();
	}
	for (qsizetype Index = 0; Index < Read.size(); ++Index)
	{
		QByteArray Data;
		if (Read[Index].Path != Want[Index].Path || !Again.ReadEntry(Read[Index], Want[Index].Data.size(), Data) ||
		    Data != Want[Index].Data)
		{
			std::abort();
		}
	}
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
	FFuzz::App();
	const QString Path = FFuzz::ScratchDir() + QStringLiteral("Fuzz.pak");
	if (!WriteFile(Path, reinterpret_cast<const char*>(Data), qint64(Size)))
	{
		std::abort();
	}
	FPakReader Reader;
	if (!Reader.Open(Path))
	{
		return 0;
	}
	bool bAllRead = true;
	QList<FReadFile> Files;
	QList<FPakEntryInfo> Entries = Reader.GetEntries();
	for (FPakEntryInfo& Entry : Entries)
	{
		if (Entry.Offset < 0 || Entry.Size < 0 || Entry.UncompressedSize < 0 ||
		    Entry.Offset + Entry.HeaderSize() + Entry.Size > qint64(Size))
		{
			std::abort();
		}
		const bool bVerified = Reader.VerifyEntry(Entry);
		QByteArray Data;
		const bool bRead = Reader.ReadEntry(Entry, qint64(1) << 20, Data);
		// The same checks over the same bytes: a verified entry of a bounded size reads.
		if (bVerified != bRead && Entry.UncompressedSize <= (qint64(1) << 20))
		{
			std::abort();
		}
		if (bRead && Data.size() != Entry.UncompressedSize)
		{
			std::abort();
		}
		bAllRead = bRead && bAllRead;
		Files.append({Entry.Path, Data});
	}
	if (bAllRead && Entries.size() <= 16)
	{
		CheckRewrite(Reader.GetMountPoint(), Files, Size % 2 == 0);
	}
	return 0;
}
