#include "AssetRegistryImpl.h"

#include "Log.h"
#include "PackageName.h"
#include "Paths.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

// Reading package files uses POSIX calls directly.
#include <fcntl.h>
#include <unistd.h>

namespace
{
// The path in the file system's encoding, in a buffer of the calling thread that lives until its
// next call: paths are ASCII nearly always and need no converted copy of their own.
const char* NativePath(QStringView Path)
{
	thread_local QByteArray Buffer;
	Buffer.resize(Path.size());
	char* Out = Buffer.data();
	for (const QChar Char : Path)
	{
		if (Char.unicode() >= 0x80)
		{
			Buffer = QFile::encodeName(Path.toString());
			return Buffer.constData();
		}
		*Out++ = char(Char.unicode());
	}
	return Buffer.constData();
}

// Start-up reads every package file once: plain system calls, without the stat calls of QFile.
// Folder: the open folder of Path, or null.
bool ReadWholeFile(const QString& Path, const FOpenFolder* Folder, QByteArray& Out, QString& OutError)
{
#ifdef Q_OS_UNIX
	const int Fd =
	    Folder ? ::openat(Folder->Fd, NativePath(QStringView(Path).mid(Folder->Path.size())), O_RDONLY | O_CLOEXEC)
	           : ::open(NativePath(Path), O_RDONLY | O_CLOEXEC);
	if (Fd < 0)
	{
		OutError = QString::fromLocal8Bit(std::strerror(errno));
		return false;
	}
	// The caller's buffer is reused from file to file: read into all of it.
	Out.resize(std::max<qsizetype>(4096, Out.capacity()));
	qsizetype Size = 0;
	for (;;)
	{
		if (Size == Out.size())
		{
			Out.resize(Out.size() * 2);
		}
		const ssize_t Read = ::read(Fd, Out.data() + Size, size_t(Out.size() - Size));
		if (Read < 0 && errno == EINTR)
		{
			continue;
		}
		if (Read < 0)
		{
			OutError = QString::fromLocal8Bit(std::strerror(errno));
			::close(Fd);
			return false;
		}
		if (Read == 0)
		{
			break;
		}
		Size += Read;
	}
	::close(Fd);
	Out.resize(Size);
	return true;
#else
	Q_UNUSED(Folder);
	QFile File(Path);
	if (!File.open(QIODevice::ReadOnly))
	{
		OutError = File.errorString();
		return false;
	}
	Out = File.readAll();
	return true;
#endif
}
} // namespace

void FOpenFolder::Track(const QString& FilePath, const QString* NextPath)
{
	const QStringView Folder = QStringView(FilePath).left(FilePath.lastIndexOf(QLatin1Char('/')) + 1);
	if (Fd >= 0 && Folder == Path)
	{
		return;
	}
	Close();
#ifdef Q_OS_UNIX
	// A folder of one package costs an open of its own: it is opened only when the next file lies in it.
	if (!Folder.isEmpty() && NextPath && NextPath->startsWith(Folder) &&
	    NextPath->indexOf(QLatin1Char('/'), Folder.size()) < 0)
	{
		Fd = ::open(NativePath(Folder), O_PATH | O_DIRECTORY | O_CLOEXEC);
		Path = Folder;
	}
#else
	Q_UNUSED(NextPath);
#endif
}

void FOpenFolder::Close()
{
#ifdef Q_OS_UNIX
	if (Fd >= 0)
	{
		::close(Fd);
	}
#endif
	Fd = -1;
	Path = QStringView();
}

void FAssetRegistry::FImpl::ReportOnce(const QString& FilePath, const QString& Problem)
{
	if (!ReportedFiles.contains(FilePath))
	{
		ReportedFiles.insert(FilePath);
		UE_LOG(LogEditorHost, Error,
		       QStringLiteral("Skipping package file ") + FilePath + QStringLiteral(": ") + Problem);
	}
}

bool FAssetRegistry::FImpl::IsDenied(const QString& ContentPath) const
{
	for (const QString& Denied : DenyList)
	{
		if (FPackageName::IsUnderPath(ContentPath, Denied))
		{
			return true;
		}
	}
	return false;
}

bool FAssetRegistry::FImpl::IsScanned(const QString& ContentPath) const
{
	// A scan that left out denied folders did not cover what lies in them.
	const bool bDenied = IsDenied(ContentPath);
	for (QString Path = ContentPath; !Path.isEmpty(); Path = FPackageName::GetLongPackagePath(Path))
	{
		const auto It = ScannedPaths.constFind(Path.toCaseFolded());
		if (It != ScannedPaths.constEnd() && (It.value() || !bDenied))
		{
			return true;
		}
	}
	return false;
}

QString FAssetRegistry::FImpl::ToContentPath(const QString& Path) const
{
	if (Path.startsWith(QLatin1Char('/')) && MountOf(Path) >= 0 && !QFileInfo::exists(Path))
	{
		return Path.endsWith(QLatin1Char('/')) ? Path.chopped(1) : Path;
	}
	const QString Full = FPaths::ConvertRelativePathToFull(Path);
	for (int Index = 0; Index < Mounts.size(); ++Index)
	{
		const QString& Dir = Mounts[Index].ContentDir;
		if (WithTrailingSlash(Full).startsWith(Dir) || WithTrailingSlash(Full) == Dir)
		{
			QString Relative = WithTrailingSlash(Full).mid(Dir.size());
			Relative.chop(1);
			for (const QString& Extension : {MapExtension, AssetExtension})
			{
				if (Relative.endsWith(Extension, Qt::CaseInsensitive))
				{
					Relative.chop(Extension.size());
				}
			}
			return Relative.isEmpty() ? Mounts[Index].RootPath : Mounts[Index].RootPath + QLatin1Char('/') + Relative;
		}
	}
	return QString();
}

void FAssetRegistry::FImpl::ListFiles(const QString& ContentPath, bool bIgnoreDenyList,
                                      std::vector<FScanFile>& Out) const
{
	const int MountIndex = MountOf(ContentPath);
	if (MountIndex < 0)
	{
		return;
	}
	const QString Relative = FPackageName::GetPathAfterMountPoint(ContentPath);
	const QString Base = Mounts[MountIndex].ContentDir + Relative;
	if (bIgnoreDenyList || DenyList.isEmpty())
	{
		ListPackageFiles(Base, MountIndex, nullptr, Out);
		return;
	}
	const FMountPoint& Mount = Mounts[MountIndex];
	ListPackageFiles(
	    Base, MountIndex,
	    [&](const QString& Folder)
	    {
		    // "<ContentDir>Developers/Me/" -> "/Game/Developers/Me"
		    return IsDenied(Mount.RootPath + QLatin1Char('/') + Folder.mid(Mount.ContentDir.size()).chopped(1));
	    },
	    Out);
}

void FAssetRegistry::FImpl::ParseFile(const FScanFile& Input, FScanResult& Out, const FOpenFolder* Folder) const
{
	Out.FilePath = Input.FilePath;
	Out.MountIndex = Input.MountIndex;
	const FMountPoint& Mount = Mounts[Input.MountIndex];
	Out.bMap = Input.FilePath.endsWith(MapExtension);
	const QStringView Relative = QStringView(Input.FilePath)
	                                 .mid(Mount.ContentDir.size())
	                                 .chopped(Out.bMap ? MapExtension.size() : AssetExtension.size());
	Out.PackageName.reserve(Mount.RootPath.size() + 1 + Relative.size());
	Out.PackageName.append(Mount.RootPath).append(QLatin1Char('/')).append(Relative);
	QString Reason;
	if (!FPackageName::IsValidLongPackageName(Out.PackageName, &Reason))
	{
		Out.Error = QStringLiteral("its path makes no valid package name (") + Reason + QLatin1Char(')');
		return;
	}
	// One buffer per parsing thread: a fresh one per file costs more in the allocator than the
	// parse itself. A rare large file's buffer is let go.
	thread_local QByteArray Bytes;
	const bool bRead = ReadWholeFile(Input.FilePath, Folder && Folder->Fd >= 0 ? Folder : nullptr, Bytes, Reason);
	if (bRead)
	{
		Out.DiskSize = Bytes.size();
		Out.File = FPackageFile::Parse(Bytes, &Reason);
	}
	if (Bytes.capacity() > 1024 * 1024)
	{
		Bytes = QByteArray();
	}
	if (!bRead)
	{
		Out.Error = QStringLiteral("cannot be read: ") + Reason;
		return;
	}
	if (!Out.File)
	{
		Out.Error = Reason;
		return;
	}
	Out.FolderPath = FPackageName::GetLongPackagePath(Out.PackageName);
	Out.NameHash = FNameTable::HashOf(Out.PackageName);
	Out.DependencyHashes.reserve(Out.File->HardDependencies.size() + Out.File->SoftDependencies.size());
	for (const QStringList* List : {&Out.File->HardDependencies, &Out.File->SoftDependencies})
	{
		for (const QString& Dependency : *List)
		{
			Out.DependencyHashes.push_back(FNameTable::HashOf(Dependency));
		}
	}
	Out.ClassHashes.reserve(Out.File->Assets.size());
	for (const FPackageAsset& Asset : Out.File->Assets)
	{
		Out.ClassHashes.push_back(FNameTable::HashOf(Asset.ClassPath));
	}
}

template <class FMerge>
void FAssetRegistry::FImpl::ParseAndMerge(const std::vector<FScanFile>& Files, FMerge&& Merge) const
{
	constexpr size_t BatchSize = 64;
	const size_t BatchCount = (Files.size() + BatchSize - 1) / BatchSize;
	std::vector<FScanResult> Results(Files.size());
	const std::unique_ptr<std::atomic<bool>[]> Done(new std::atomic<bool>[BatchCount]);
	for (size_t Batch = 0; Batch < BatchCount; ++Batch)
	{
		Done[Batch].store(false, std::memory_order_relaxed);
	}
	std::atomic<size_t> Next{0};
	const auto ParseBatch = [&](size_t Batch, FOpenFolder& Folder)
	{
		const size_t End = std::min(Files.size(), (Batch + 1) * BatchSize);
		for (size_t Index = Batch * BatchSize; Index < End; ++Index)
		{
			Folder.Track(Files[Index].FilePath, Index + 1 < Files.size() ? &Files[Index + 1].FilePath : nullptr);
			ParseFile(Files[Index], Results[Index], &Folder);
		}
		Done[Batch].store(true, std::memory_order_release);
		Done[Batch].notify_one();
	};
	const size_t Threads =
	    BatchCount < 4 ? 1 : std::max<size_t>(1, std::min<size_t>(8, std::thread::hardware_concurrency()));
	std::vector<std::thread> Workers;
	for (size_t Index = 1; Index < Threads; ++Index)
	{
		Workers.emplace_back(
		    [&]
		    {
			    FOpenFolder Folder;
			    for (size_t Batch = Next.fetch_add(1); Batch < BatchCount; Batch = Next.fetch_add(1))
			    {
				    ParseBatch(Batch, Folder);
			    }
		    });
	}
	FOpenFolder Folder;
	for (size_t Merged = 0; Merged < BatchCount;)
	{
		if (Done[Merged].load(std::memory_order_acquire))
		{
			const size_t Begin = Merged * BatchSize;
			const size_t End = std::min(Files.size(), Begin + BatchSize);
			const auto Prefetch = [&](size_t Index, bool bEntries)
			{
				const FScanResult& Result = Results[Index];
				for (const size_t Hash : Result.DependencyHashes)
				{
					bEntries ? Names.PrefetchEntry(Hash) : Names.Prefetch(Hash);
				}
				bEntries ? Names.PrefetchEntry(Result.NameHash) : Names.Prefetch(Result.NameHash);
			};
			// The name lookups of the packages a few places ahead load while this one merges.
			constexpr size_t SlotsAhead = 8;
			constexpr size_t EntriesAhead = 4;
			for (size_t Index = Begin; Index < std::min(End, Begin + SlotsAhead); ++Index)
			{
				Prefetch(Index, false);
			}
			for (size_t Index = Begin; Index < std::min(End, Begin + EntriesAhead); ++Index)
			{
				Prefetch(Index, true);
			}
			for (size_t Index = Begin; Index < End; ++Index)
			{
				if (Index + SlotsAhead < End)
				{
					Prefetch(Index + SlotsAhead, false);
				}
				if (Index + EntriesAhead < End)
				{
					Prefetch(Index + EntriesAhead, true);
				}
				Merge(Results[Index]);
				Results[Index] = FScanResult();
			}
			++Merged;
			continue;
		}
		const size_t Batch = Next.fetch_add(1);
		if (Batch < BatchCount)
		{
			ParseBatch(Batch, Folder);
		}
		else
		{
			// Every batch is taken: sleep until the next one in order is done, rather than spin
			// against the threads still parsing on a machine with few cores.
			Done[Merged].wait(false, std::memory_order_acquire);
		}
	}
	for (std::thread& Worker : Workers)
	{
		Worker.join();
	}
}

void FAssetRegistry::FImpl::Scan(const QStringList& ContentPaths, bool bIgnoreDenyList)
{
	std::vector<FScanFile> Files;
	const auto ByPath = [](const FScanFile& A, const FScanFile& B) { return A.FilePath < B.FilePath; };
	// Each path's listing is sorted already; the listings are merged where they interleave.
	for (const QString& ContentPath : ContentPaths)
	{
		const size_t Begin = Files.size();
		ListFiles(ContentPath, bIgnoreDenyList, Files);
		if (Begin > 0 && Begin < Files.size() && ByPath(Files[Begin], Files[Begin - 1]))
		{
			std::inplace_merge(Files.begin(), Files.begin() + qsizetype(Begin), Files.end(), ByPath);
		}
	}
	Files.erase(std::unique(Files.begin(), Files.end(),
	                        [](const FScanFile& A, const FScanFile& B) { return A.FilePath == B.FilePath; }),
	            Files.end());
	// Packages known under the scanned paths whose file is gone are dropped.
	for (const QString& ContentPath : ContentPaths)
	{
		std::vector<int> Known;
		const int Single = SlotOf(ContentPath);
		if (Single >= 0)
		{
			Known.push_back(Single);
		}
		const int FolderId = FindFolder(ContentPath);
		if (FolderId >= 0)
		{
			CollectSlots(FolderId, true, Known);
		}
		for (const int Slot : Known)
		{
			if (!Packages[size_t(Slot)].bAlive)
			{
				continue;
			}
			// A file the listing just found is there; only the others need a look on disk.
			const QString File = FilenameOf(Packages[size_t(Slot)]);
			const bool bListed =
			    std::binary_search(Files.begin(), Files.end(), FScanFile{File, -1},
			                       [](const FScanFile& A, const FScanFile& B) { return A.FilePath < B.FilePath; });
			if (!bListed && !QFileInfo(File).isFile())
			{
				Remove(Slot);
			}
		}
	}

	if (Names.Count() == 0)
	{
		Names.Reserve(qsizetype(Files.size()) + qsizetype(Files.size()) / 4);
		Packages.reserve(Files.size());
		Infos.reserve(Files.size());
	}
	// Per name id: whether this scan stored that package already.
	std::vector<char> SeenInThisScan(Names.Count() + Files.size(), 0);
	ParseAndMerge(Files,
	              [&](const FScanResult& Result)
	              {
		              if (!Result.File)
		              {
			              ReportOnce(Result.FilePath, Result.Error);
			              // A package whose file no longer reads is no longer known.
			              const int Broken = SlotOf(Result.PackageName);
			              if (Broken >= 0 && FilenameOf(Packages[size_t(Broken)]) == Result.FilePath)
			              {
				              Remove(Broken);
			              }
			              return;
		              }
		              const int NameId = InternName(Result.PackageName, Result.NameHash);
		              if (size_t(NameId) >= SeenInThisScan.size())
		              {
			              SeenInThisScan.resize(size_t(NameId) * 2 + 64, 0);
		              }
		              // SlotOf's answer, from the id just found.
		              const int Existing = OnDisk[size_t(NameId)] ? NameId : -1;
		              if (Existing >= 0)
		              {
			              const FPackageRecord& Record = Packages[size_t(Existing)];
			              const QString KnownFile = FilenameOf(Record);
			              // Two files that make one package name ("Crate.uasset" beside "Crate.umap" or
			              // "crate.uasset"): the first one keeps the name.
			              if (KnownFile != Result.FilePath &&
			                  (SeenInThisScan[size_t(NameId)] || QFileInfo(KnownFile).isFile()))
			              {
				              ReportOnce(Result.FilePath, QStringLiteral("package ") + Record.Name +
				                                              QStringLiteral(" is already read from ") + KnownFile);
				              return;
			              }
		              }
		              if (!ReportedFiles.isEmpty())
		              {
			              ReportedFiles.remove(Result.FilePath);
		              }
		              SeenInThisScan[size_t(NameId)] = 1;
		              Store(Result.PackageName, Result.MountIndex, *Result.File, Result.bMap, Result.DiskSize, &Result);
	              });
	for (const QString& ContentPath : ContentPaths)
	{
		bool& bIgnored = ScannedPaths[ContentPath.toCaseFolded()];
		bIgnored = bIgnored || bIgnoreDenyList;
	}
}
