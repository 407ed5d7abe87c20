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
// Start-up reads every package file once: plain system calls, without the stat calls of QFile.
bool ReadWholeFile(const QString& Path, QByteArray& Out, QString& OutError)
{
#ifdef Q_OS_UNIX
	const int Fd = ::open(QFile::encodeName(Path).constData(), O_RDONLY | O_CLOEXEC);
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

void FAssetRegistry::FImpl::ParseFile(const FScanFile& Input, FScanResult& Out) const
{
	Out.FilePath = Input.FilePath;
	Out.MountIndex = Input.MountIndex;
	const FMountPoint& Mount = Mounts[Input.MountIndex];
	Out.bMap = Input.FilePath.endsWith(MapExtension);
	QString Relative = Input.FilePath.mid(Mount.ContentDir.size());
	Relative.chop(Out.bMap ? MapExtension.size() : AssetExtension.size());
	Out.PackageName = Mount.RootPath + QLatin1Char('/') + Relative;
	QString Reason;
	if (!FPackageName::IsValidLongPackageName(Out.PackageName, &Reason))
	{
		Out.Error = QStringLiteral("its path makes no valid package name (") + Reason + QLatin1Char(')');
		return;
	}
	// One buffer per parsing thread: a fresh one per file costs more in the allocator than the
	// parse itself. A rare large file's buffer is let go.
	thread_local QByteArray Bytes;
	const bool bRead = ReadWholeFile(Input.FilePath, Bytes, Reason);
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
	Out.NameHash = FNameTable::HashOf(Out.PackageName);
	Out.DependencyHashes.reserve(size_t(Out.File->HardDependencies.size() + Out.File->SoftDependencies.size()));
	for (const QStringList* List : {&Out.File->HardDependencies, &Out.File->SoftDependencies})
	{
		for (const QString& Dependency : *List)
		{
			Out.DependencyHashes.push_back(FNameTable::HashOf(Dependency));
		}
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
	const auto ParseBatch = [&](size_t Batch)
	{
		const size_t End = std::min(Files.size(), (Batch + 1) * BatchSize);
		for (size_t Index = Batch * BatchSize; Index < End; ++Index)
		{
			ParseFile(Files[Index], Results[Index]);
		}
		Done[Batch].store(true, std::memory_order_release);
	};
	const size_t Threads =
	    BatchCount < 4 ? 1 : std::max<size_t>(1, std::min<size_t>(8, std::thread::hardware_concurrency()));
	std::vector<std::thread> Workers;
	for (size_t Index = 1; Index < Threads; ++Index)
	{
		Workers.emplace_back(
		    [&]
		    {
			    for (size_t Batch = Next.fetch_add(1); Batch < BatchCount; Batch = Next.fetch_add(1))
			    {
				    ParseBatch(Batch);
			    }
		    });
	}
	for (size_t Merged = 0; Merged < BatchCount;)
	{
		if (Done[Merged].load(std::memory_order_acquire))
		{
			const size_t End = std::min(Files.size(), (Merged + 1) * BatchSize);
			for (size_t Index = Merged * BatchSize; Index < End; ++Index)
			{
				Merge(Results[Index]);
				Results[Index] = FScanResult();
			}
			++Merged;
			continue;
		}
		const size_t Batch = Next.fetch_add(1);
		if (Batch < BatchCount)
		{
			ParseBatch(Batch);
		}
		else
		{
			std::this_thread::yield();
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
	QSet<int> SeenInThisScan;
	SeenInThisScan.reserve(qsizetype(Files.size()));
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
		              const int Existing = SlotOf(Result.PackageName);
		              if (Existing >= 0)
		              {
			              const FPackageRecord& Record = Packages[size_t(Existing)];
			              const QString KnownFile = FilenameOf(Record);
			              // Two files that make one package name ("Crate.uasset" beside "Crate.umap" or
			              // "crate.uasset"): the first one keeps the name.
			              if (KnownFile != Result.FilePath &&
			                  (SeenInThisScan.contains(NameId) || QFileInfo(KnownFile).isFile()))
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
		              SeenInThisScan.insert(NameId);
		              Store(Result.PackageName, Result.MountIndex, *Result.File, Result.bMap, Result.DiskSize, &Result);
	              });
	for (const QString& ContentPath : ContentPaths)
	{
		bool& bIgnored = ScannedPaths[ContentPath.toCaseFolded()];
		bIgnored = bIgnored || bIgnoreDenyList;
	}
}
