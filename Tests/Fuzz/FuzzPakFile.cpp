// The pak reader on arbitrary file contents: it must refuse or accept without faults, every entry
// it accepts must lie within the file, and the entries of an accepted pak written again by our
// writer must read back with the same paths and hashes.
#include "FuzzSupport.h"
#include "PakFile.h"

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

// Packs the verified entries again, from their bytes in the input.
void CheckRewrite(const QString& MountPoint, const QList<FPakEntryInfo>& Entries, const uint8_t* Data)
{
	const QString Pak = FFuzz::ScratchDir() + QStringLiteral("Again.pak");
	const QString Source = FFuzz::ScratchDir() + QStringLiteral("Entry.bin");
	FPakWriter Writer;
	if (!Writer.Open(Pak, MountPoint))
	{
		return;
	}
	for (const FPakEntryInfo& Entry : Entries)
	{
		const char* Bytes = reinterpret_cast<const char*>(Data) + Entry.Offset + PakFormat::EntryHeaderSize;
		if (!WriteFile(Source, Bytes, Entry.Size) || !Writer.AddFile(Source, Entry.Path))
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
	QList<FPakEntryInfo> Read = Again.GetEntries();
	for (FPakEntryInfo& Entry : Read)
	{
		if (!Again.VerifyEntry(Entry))
		{
			std::abort();
		}
	}
	const QList<FPakEntryInfo> Want = SortedByPath(Entries);
	Read = SortedByPath(Read);
	if (Read.size() != Want.size())
	{
		std::abort();
	}
	for (qsizetype Index = 0; Index < Read.size(); ++Index)
	{
		if (Read[Index].Path != Want[Index].Path || Read[Index].Size != Want[Index].Size ||
		    Read[Index].Sha1 != Want[Index].Sha1)
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
	bool bAllVerified = true;
	QList<FPakEntryInfo> Entries = Reader.GetEntries();
	for (FPakEntryInfo& Entry : Entries)
	{
		if (Entry.Offset < 0 || Entry.Size < 0 || Entry.Offset + PakFormat::EntryHeaderSize + Entry.Size > qint64(Size))
		{
			std::abort();
		}
		bAllVerified = Reader.VerifyEntry(Entry) && bAllVerified;
	}
	if (bAllVerified && Entries.size() <= 16)
	{
		CheckRewrite(Reader.GetMountPoint(), Entries, Data);
	}
	return 0;
}
