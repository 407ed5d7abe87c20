#include "AssetRegistry.h"

#include "Log.h"
#include "ObjectClasses.h"
#include "PackageFile.h"
#include "PackageName.h"
#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <span>
#include <thread>
#include <vector>

// Listing and reading package files uses POSIX calls directly.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
const QString MapExtension = QStringLiteral(".umap");
const QString AssetExtension = QStringLiteral(".uasset");

// Equality ignoring case. Package names are ASCII in practice, which needs no case-folding
// tables; over the hundreds of thousands of names a large project's scan compares, Qt's general
// comparison is a large part of the merge. Other text takes Qt's comparison.
bool EqualsIgnoringCase(QStringView A, QStringView B)
{
	if (A.size() != B.size())
	{
		return false;
	}
	for (qsizetype Index = 0; Index < A.size(); ++Index)
	{
		const char16_t X = A[Index].unicode();
		const char16_t Y = B[Index].unicode();
		if (X == Y)
		{
			continue;
		}
		if ((X | Y) >= 0x80)
		{
			return A.compare(B, Qt::CaseInsensitive) == 0;
		}
		const char16_t Lower = X | 0x20;
		if (Lower != (Y | 0x20) || Lower < u'a' || Lower > u'z')
		{
			return false;
		}
	}
	return true;
}

// A name compared and hashed ignoring case, so that lookups need no folded copy of the text.
struct FFoldedKey
{
	QString Text;
	bool operator==(const FFoldedKey& Other) const
	{
		// Names handed out by the registry come back as the same shared text.
		return Text.size() == Other.Text.size() &&
			(Text.constData() == Other.Text.constData() || EqualsIgnoringCase(Text, Other.Text));
	}
};

size_t qHash(const FFoldedKey& Key, size_t Seed = 0) noexcept
{
	size_t Hash = 1469598103934665603ull ^ Seed;
	for (const QChar C : Key.Text)
	{
		const char16_t U = C.unicode();
		const char16_t Folded = U < 0x80 ? (U >= u'A' && U <= u'Z' ? char16_t(U + 32) : U) : C.toCaseFolded().unicode();
		Hash = (Hash ^ Folded) * 1099511628211ull;
	}
	// The table picks buckets from the low bits, which the multiplication alone leaves poorly mixed.
	Hash ^= Hash >> 33;
	Hash *= 0xff51afd7ed558ccdull;
	Hash ^= Hash >> 33;
	return Hash;
}

// Interns names into dense ids; the first spelling seen is the one kept. Open addressing over
// small slots: a lookup of a name the registry handed out (the same shared text) touches one slot
// and never the text, which keeps walks over large projects within the cache.
class FNameTable
{
public:
	static size_t HashOf(const QString& Name) { return qHash(FFoldedKey{Name}); }

	int Find(const QString& Name) const
	{
		// Most names asked about are texts the table handed out: those are found by their address,
		// without reading or hashing the text.
		const int Own = FindOwnText(Name);
		return Own >= 0 ? Own : Find(Name, HashOf(Name));
	}

	// Hash: HashOf(Name), computed ahead (by the scan's parsing threads).
	int Find(const QString& Name, size_t Hash) const
	{
		if (Slots.empty())
		{
			return -1;
		}
		const quint32 Tag = quint32(Hash >> 32) | 1u;
		for (size_t Index = Hash & Mask;; Index = (Index + 1) & Mask)
		{
			const FSlot& Slot = Slots[Index];
			if (Slot.Tag == 0)
			{
				return -1;
			}
			// The same text pointer is the same name: the table co-owns every text it points at,
			// and shared text never changes in place.
			if (Slot.Tag == Tag &&
				(Slot.Data == Name.constData() ||
					EqualsIgnoringCase(Names[size_t(Slot.Id)], Name)))
			{
				return Slot.Id;
			}
		}
	}

	int Intern(const QString& Name) { return Intern(Name, HashOf(Name)); }

	int Intern(const QString& Name, size_t Hash)
	{
		const int Existing = Find(Name, Hash);
		if (Existing >= 0)
		{
			return Existing;
		}
		if ((Names.size() + 1) * 2 > Slots.size())
		{
			Grow(std::max<size_t>(64, Slots.size() * 2));
		}
		const int Id = int(Names.size());
		// A copy of its own: the table's texts then lie close together in memory (the scan's texts
		// come from many threads and sit among freed parse buffers), and no literal or raw buffer
		// can go away under it.
		Names.push_back(QString(Name.constData(), Name.size()));
		Hashes.push_back(Hash);
		Place(Id);
		return Id;
	}

	const QString& Text(int Id) const { return Names[size_t(Id)]; }
	int Count() const { return int(Names.size()); }
	void Reserve(qsizetype N)
	{
		Names.reserve(size_t(N));
		Hashes.reserve(size_t(N));
		size_t Capacity = 64;
		while (Capacity < size_t(N) * 2)
		{
			Capacity *= 2;
		}
		if (Capacity > Slots.size())
		{
			Grow(Capacity);
		}
	}

private:
	struct FSlot
	{
		const QChar* Data = nullptr;
		int Id = -1;
		quint32 Tag = 0; // 0: empty
	};

	static size_t AddressHash(const QChar* Data)
	{
		size_t Hash = size_t(quintptr(Data)) * 0x9e3779b97f4a7c15ull;
		return Hash ^ (Hash >> 29);
	}

	// The same address is the same name: the table co-owns every text it points at, so no other
	// text can lie there, and shared text never changes in place.
	int FindOwnText(const QString& Name) const
	{
		const QChar* Data = Name.constData();
		if (ByAddress.empty() || Name.isEmpty())
		{
			return -1;
		}
		for (size_t Index = AddressHash(Data) & Mask;; Index = (Index + 1) & Mask)
		{
			const FSlot& Slot = ByAddress[Index];
			if (Slot.Data == nullptr)
			{
				return -1;
			}
			if (Slot.Data == Data && Names[size_t(Slot.Id)].size() == Name.size())
			{
				return Slot.Id;
			}
		}
	}

	void Place(int Id)
	{
		const QString& Name = Names[size_t(Id)];
		const size_t Hash = Hashes[size_t(Id)];
		size_t Index = Hash & Mask;
		while (Slots[Index].Tag != 0)
		{
			Index = (Index + 1) & Mask;
		}
		Slots[Index] = FSlot{Name.constData(), Id, quint32(Hash >> 32) | 1u};
		if (!Name.isEmpty())
		{
			Index = AddressHash(Name.constData()) & Mask;
			while (ByAddress[Index].Data != nullptr)
			{
				Index = (Index + 1) & Mask;
			}
			ByAddress[Index] = FSlot{Name.constData(), Id, 1u};
		}
	}

	void Grow(size_t Capacity)
	{
		Slots.assign(Capacity, FSlot());
		ByAddress.assign(Capacity, FSlot());
		Mask = Capacity - 1;
		for (int Id = 0; Id < int(Names.size()); ++Id)
		{
			Place(Id);
		}
	}

	std::vector<FSlot> Slots;
	// The same ids by the address of their text.
	std::vector<FSlot> ByAddress;
	size_t Mask = 0;
	// Never shrinks nor changes an entry, so the text a slot points at stays alive and unchanged.
	std::vector<QString> Names;
	// Each name's hash, so that growing the slots reads no text.
	std::vector<size_t> Hashes;
};

struct FAssetRecord
{
	QString Name;
	int ClassId = -1;
	QString Destination;
};

struct FPackageRecord
{
	QString Name;
	int FolderId = -1;
	int MountIndex = -1;
	int HardCount = 0;
	bool bAlive = false;
	bool bMap = false;
	bool bPartitioned = false;
	QList<FAssetRecord> Assets;
};

// What existence checks read, kept apart from the records so that walks over large projects touch
// little memory per package.
struct FPackageInfo
{
	qint64 DiskSize = 0;
	bool bMap = false;
};

struct FFolder
{
	QString Path;
	int Parent = -1;
	std::vector<int> Children;
	std::vector<int> Slots;
};

// One package file read by a scan worker.
struct FScanResult
{
	QString FilePath;
	QString PackageName;
	int MountIndex = -1;
	bool bMap = false;
	qint64 DiskSize = 0;
	std::optional<FPackageFile> File;
	QString Error;
	// The name table's hashes of the package name and of each dependency (hard, then soft),
	// computed by the parsing thread so that the merge only looks them up.
	size_t NameHash = 0;
	std::vector<size_t> DependencyHashes;
};

struct FScanFile
{
	QString FilePath;
	int MountIndex;
};

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
	Out.resize(4096);
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

QString WithTrailingSlash(QString Path)
{
	if (!Path.endsWith(QLatin1Char('/')))
	{
		Path += QLatin1Char('/');
	}
	return Path;
}
} // namespace

struct FAssetRegistry::FImpl
{
	explicit FImpl(const FClassTable& InClasses)
		: ClassTable(InClasses)
	{
	}

	const FClassTable& ClassTable;
	QList<FMountPoint> Mounts;
	QHash<FFoldedKey, int> MountByName; // "Game" -> index

	FNameTable Names;
	// Indexed by name id (a package's slot is its name's id), so that a name found in the table
	// leads straight to its package.
	std::vector<FPackageRecord> Packages;
	std::vector<FPackageInfo> Infos;
	// Per name id, a byte each, so that the existence checks a walk makes for every dependency it
	// meets stay within a few hundred kilobytes even for a large project.
	std::vector<char> OnDisk;
	// Per name id, where its dependency list starts in DependencyPool.
	std::vector<quint32> DependencyAt;
	// Every package's dependency ids in one array, each list led by its length, so that a walk
	// reads a package's list from one place. Entry 0 is the empty list that packages without one
	// point at. A package stored again appends its new list; the lists left behind are dropped
	// when they make up half of the array.
	std::vector<int> DependencyPool{0};
	size_t DependencyGarbage = 0;
	int AliveCount = 0;

	FNameTable Classes;
	std::vector<FTopLevelAssetPath> ClassPaths; // class id -> split path

	std::vector<FFolder> Folders;
	QHash<FFoldedKey, int> FolderIds;

	// Folded content paths scanned so far -> whether that scan ignored the deny list.
	QHash<QString, bool> ScannedPaths;
	QStringList DenyList;
	QSet<QString> ReportedFiles; // files reported as bad, so each is reported once

	// ---- names and folders ----

	// The dependency ids of a package on disk, in file order; empty for others. Valid until the
	// registry next changes.
	std::span<const int> DependencyIdsOf(int Slot) const
	{
		if (Slot < 0 || size_t(Slot) >= OnDisk.size() || !OnDisk[size_t(Slot)])
		{
			return {};
		}
		const quint32 At = DependencyAt[size_t(Slot)];
		return std::span<const int>(DependencyPool.data() + At + 1, size_t(DependencyPool[At]));
	}

	int SlotOf(const QString& PackageName) const
	{
		const int Id = Names.Find(PackageName);
		return Id >= 0 && size_t(Id) < OnDisk.size() && OnDisk[size_t(Id)] ? Id : -1;
	}

	int InternName(const QString& Name) { return InternName(Name, FNameTable::HashOf(Name)); }

	int InternName(const QString& Name, size_t Hash)
	{
		const int Id = Names.Intern(Name, Hash);
		if (size_t(Id) >= Infos.size())
		{
			Packages.resize(size_t(Id) + 1);
			Infos.resize(size_t(Id) + 1);
			OnDisk.resize(size_t(Id) + 1, 0);
			DependencyAt.resize(size_t(Id) + 1, 0);
		}
		return Id;
	}

	int InternClass(const QString& Path)
	{
		const int Id = Classes.Intern(Path);
		if (size_t(Id) >= ClassPaths.size())
		{
			ClassPaths.resize(size_t(Id) + 1);
			ClassPaths[size_t(Id)] = FTopLevelAssetPath(Path);
		}
		return Id;
	}

	int FindFolder(const QString& Path) const { return FolderIds.value(FFoldedKey{Path}, -1); }

	int EnsureFolder(const QString& Path)
	{
		const int Existing = FindFolder(Path);
		if (Existing >= 0)
		{
			return Existing;
		}
		const QString ParentPath = FPackageName::GetLongPackagePath(Path);
		const int Parent = ParentPath.isEmpty() ? -1 : EnsureFolder(ParentPath);
		const int Id = int(Folders.size());
		Folders.push_back(FFolder{Path, Parent, {}, {}});
		FolderIds.insert(FFoldedKey{Path}, Id);
		if (Parent >= 0)
		{
			Folders[size_t(Parent)].Children.push_back(Id);
		}
		return Id;
	}

	void CollectSlots(int FolderId, bool bRecursive, std::vector<int>& Out) const
	{
		const FFolder& Folder = Folders[size_t(FolderId)];
		Out.insert(Out.end(), Folder.Slots.begin(), Folder.Slots.end());
		if (bRecursive)
		{
			for (const int Child : Folder.Children)
			{
				CollectSlots(Child, true, Out);
			}
		}
	}

	// ---- mount points and files ----

	int MountOf(const QString& PackageName) const
	{
		return MountByName.value(FFoldedKey{FPackageName::GetMountPointName(PackageName)}, -1);
	}

	QString FilenameOf(const FPackageRecord& Record) const
	{
		return Mounts[Record.MountIndex].ContentDir + FPackageName::GetPathAfterMountPoint(Record.Name) +
			(Record.bMap ? MapExtension : AssetExtension);
	}

	// ---- records ----

	// Hashes: the scan's precomputed hashes (see FScanResult), or null to compute them here.
	void Store(const QString& PackageName, int MountIndex, const FPackageFile& File, bool bMap, qint64 DiskSize,
		const FScanResult* Hashes = nullptr)
	{
		// Names first: interning may grow the records, which would move the one being filled.
		const size_t DependencyBegin = DependencyPool.size();
		DependencyPool.push_back(0);
		size_t Index = 0;
		for (const QStringList* List : {&File.HardDependencies, &File.SoftDependencies})
		{
			for (const QString& Dependency : *List)
			{
				DependencyPool.push_back(Hashes ? InternName(Dependency, Hashes->DependencyHashes[Index]) : InternName(Dependency));
				++Index;
			}
		}
		const int Slot = Hashes ? InternName(PackageName, Hashes->NameHash) : InternName(PackageName);
		const int FolderId = EnsureFolder(FPackageName::GetLongPackagePath(PackageName));
		FPackageRecord& Record = Packages[size_t(Slot)];
		if (Record.bAlive && Record.FolderId != FolderId)
		{
			DetachFromFolder(Slot);
		}
		if (!Record.bAlive || Record.FolderId != FolderId)
		{
			Folders[size_t(FolderId)].Slots.push_back(Slot);
		}
		if (!Record.bAlive)
		{
			++AliveCount;
		}
		// Share the interned text when it is spelled the same.
		Record.Name = Names.Text(Slot) == PackageName ? Names.Text(Slot) : PackageName;
		Record.FolderId = FolderId;
		Record.MountIndex = MountIndex;
		Record.bAlive = true;
		Record.bMap = bMap;
		Record.bPartitioned = File.bPartitioned;
		Record.HardCount = int(File.HardDependencies.size());
		Record.Assets.clear();
		Record.Assets.reserve(File.Assets.size());
		for (const FPackageAsset& Asset : File.Assets)
		{
			Record.Assets.append(FAssetRecord{
				QString(Asset.Name.constData(), Asset.Name.size()), InternClass(Asset.ClassPath), Asset.Destination});
		}
		FPackageInfo& Info = Infos[size_t(Slot)];
		Info = FPackageInfo();
		Info.DiskSize = DiskSize;
		Info.bMap = bMap;
		OnDisk[size_t(Slot)] = 1;
		DropDependencies(Slot);
		DependencyPool[DependencyBegin] = int(DependencyPool.size() - DependencyBegin - 1);
		DependencyAt[size_t(Slot)] = quint32(DependencyBegin);
		CompactDependenciesIfWasteful();
	}

	void CompactDependenciesIfWasteful()
	{
		if (DependencyGarbage < 4096 || DependencyGarbage * 2 < DependencyPool.size())
		{
			return;
		}
		std::vector<int> Compact;
		Compact.reserve(DependencyPool.size() - DependencyGarbage);
		Compact.push_back(0);
		for (quint32& At : DependencyAt)
		{
			if (At == 0)
			{
				continue;
			}
			const size_t Begin = Compact.size();
			Compact.insert(Compact.end(), DependencyPool.begin() + At, DependencyPool.begin() + At + 1 + DependencyPool[At]);
			At = quint32(Begin);
		}
		DependencyPool.swap(Compact);
		DependencyGarbage = 0;
	}

	// The package's list becomes garbage; it points at the empty list.
	void DropDependencies(int Slot)
	{
		quint32& At = DependencyAt[size_t(Slot)];
		if (At != 0)
		{
			DependencyGarbage += size_t(DependencyPool[At]) + 1;
			At = 0;
		}
	}

	void DetachFromFolder(int Slot)
	{
		FPackageRecord& Record = Packages[size_t(Slot)];
		std::vector<int>& Slots = Folders[size_t(Record.FolderId)].Slots;
		Slots.erase(std::remove(Slots.begin(), Slots.end(), Slot), Slots.end());
	}

	void Remove(int Slot)
	{
		FPackageRecord& Record = Packages[size_t(Slot)];
		if (!Record.bAlive)
		{
			return;
		}
		DetachFromFolder(Slot);
		Record = FPackageRecord();
		DropDependencies(Slot);
		Infos[size_t(Slot)] = FPackageInfo();
		OnDisk[size_t(Slot)] = 0;
		--AliveCount;
	}

	void AppendAssets(int Slot, QList<FAssetData>& Out) const
	{
		const FPackageRecord& Record = Packages[size_t(Slot)];
		const QString& PackagePath = Folders[size_t(Record.FolderId)].Path;
		// No reserve here: it allocates exactly, so callers appending package after package would
		// copy the whole list each time.
		for (const FAssetRecord& Asset : Record.Assets)
		{
			Out.append(FAssetData{Record.Name, PackagePath, Asset.Name, ClassPaths[size_t(Asset.ClassId)], Asset.Destination});
		}
	}

	// ---- scanning ----

	void ReportOnce(const QString& FilePath, const QString& Problem)
	{
		if (!ReportedFiles.contains(FilePath))
		{
			ReportedFiles.insert(FilePath);
			UE_LOG(LogEditorHost, Error, QStringLiteral("Skipping package file ") + FilePath + QStringLiteral(": ") + Problem);
		}
	}

	bool IsDenied(const QString& ContentPath) const
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

	bool IsScanned(const QString& ContentPath) const
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

	// Turns a scan path (content path, package name, or folder/file on disk) into a content path.
	QString ToContentPath(const QString& Path) const
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

	// Lists the package files at or below a content path.
	void ListFiles(const QString& ContentPath, bool bIgnoreDenyList, std::vector<FScanFile>& Out) const
	{
		const int MountIndex = MountOf(ContentPath);
		if (MountIndex < 0)
		{
			return;
		}
		const QString Relative = FPackageName::GetPathAfterMountPoint(ContentPath);
		const QString Base = Mounts[MountIndex].ContentDir + Relative;
		// The path may name a package rather than a folder.
		if (!Relative.isEmpty())
		{
			for (const QString& Extension : {AssetExtension, MapExtension})
			{
				if (QFileInfo(Base + Extension).isFile())
				{
					Out.push_back({Base + Extension, MountIndex});
				}
			}
		}
		const int RootFd = ::open(QFile::encodeName(Base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
		if (RootFd < 0)
		{
			return;
		}
		const bool bCheckDenyList = !bIgnoreDenyList && !DenyList.isEmpty();
		ListFolder(RootFd, Base.endsWith(QLatin1Char('/')) ? Base : Base + QLatin1Char('/'), MountIndex, bCheckDenyList, Out);
	}

	// Lists one folder (Fd, which this closes; Path ends with "/") and its sub-folders. Each
	// folder's entries are taken in name order, a sub-folder's name compared as if followed by "/":
	// that is the order of the full paths, so the listing comes out sorted without a sort over
	// long paths. Links to folders are not followed.
	void ListFolder(int Fd, const QString& Path, int MountIndex, bool bCheckDenyList, std::vector<FScanFile>& Out) const
	{
		DIR* Dir = ::fdopendir(Fd);
		if (!Dir)
		{
			::close(Fd);
			return;
		}
		struct FEntry
		{
			QString Key;
			bool bFolder;
		};
		std::vector<FEntry> Entries;
		while (const dirent* Entry = ::readdir(Dir))
		{
			const char* Name = Entry->d_name;
			if (Name[0] == '.' && (Name[1] == 0 || (Name[1] == '.' && Name[2] == 0)))
			{
				continue;
			}
			bool bFolder = Entry->d_type == DT_DIR;
			bool bLinkedFolder = false;
			if (Entry->d_type == DT_UNKNOWN || Entry->d_type == DT_LNK)
			{
				struct stat Own;
				struct stat Target;
				const bool bLink = Entry->d_type == DT_LNK ||
					(::fstatat(::dirfd(Dir), Name, &Own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(Own.st_mode));
				if (bLink)
				{
					bLinkedFolder = ::fstatat(::dirfd(Dir), Name, &Target, 0) == 0 && S_ISDIR(Target.st_mode);
				}
				else
				{
					bFolder = ::fstatat(::dirfd(Dir), Name, &Own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(Own.st_mode);
				}
			}
			if (bLinkedFolder)
			{
				continue;
			}
			const std::string_view View(Name);
			if (bFolder)
			{
				QString Key = QString::fromUtf8(Name) + QLatin1Char('/');
				if (bCheckDenyList)
				{
					const QString Folder = QString(Path + Key).mid(Mounts[MountIndex].ContentDir.size());
					if (IsDenied(Mounts[MountIndex].RootPath + QLatin1Char('/') + Folder.chopped(1)))
					{
						continue;
					}
				}
				Entries.push_back({std::move(Key), true});
			}
			else if (View.ends_with(".uasset") || View.ends_with(".umap"))
			{
				Entries.push_back({QString::fromUtf8(Name), false});
			}
		}
		std::sort(Entries.begin(), Entries.end(), [](const FEntry& A, const FEntry& B) { return A.Key < B.Key; });
		for (const FEntry& Entry : Entries)
		{
			if (!Entry.bFolder)
			{
				Out.push_back({Path + Entry.Key, MountIndex});
				continue;
			}
			const int Child = ::openat(::dirfd(Dir), QFile::encodeName(Entry.Key.chopped(1)).constData(),
				O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
			if (Child >= 0)
			{
				ListFolder(Child, Path + Entry.Key, MountIndex, bCheckDenyList, Out);
			}
		}
		::closedir(Dir);
	}

	void ParseFile(const FScanFile& Input, FScanResult& Out) const
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
		QByteArray Bytes;
		if (!ReadWholeFile(Input.FilePath, Bytes, Reason))
		{
			Out.Error = QStringLiteral("cannot be read: ") + Reason;
			return;
		}
		Out.DiskSize = Bytes.size();
		Out.File = FPackageFile::Parse(Bytes, &Reason);
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

	// Parses the files on every core. The calling thread merges finished batches in file order
	// (the index is not thread-safe) and parses whenever the next batch is not ready, so the merge
	// overlaps the parsing instead of following it.
	template <class FMerge>
	void ParseAndMerge(const std::vector<FScanFile>& Files, FMerge&& Merge) const
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
			Workers.emplace_back([&]
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

	void Scan(const QStringList& ContentPaths, bool bIgnoreDenyList)
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
				const bool bListed = std::binary_search(Files.begin(), Files.end(), FScanFile{File, -1},
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
		ParseAndMerge(Files, [&](const FScanResult& Result)
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
				if (KnownFile != Result.FilePath && (SeenInThisScan.contains(NameId) || QFileInfo(KnownFile).isFile()))
				{
					ReportOnce(Result.FilePath,
						QStringLiteral("package ") + Record.Name + QStringLiteral(" is already read from ") + KnownFile);
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
};

FAssetRegistry::FAssetRegistry(const FPaths& Paths, const FClassTable& Classes)
	: FAssetRegistry(DiscoverMountPoints(Paths), Classes)
{
}

FAssetRegistry::FAssetRegistry(const QList<FMountPoint>& MountPoints, const FClassTable& Classes)
	: Impl(std::make_unique<FImpl>(Classes))
{
	for (const FMountPoint& Mount : MountPoints)
	{
		const QString Name = FPackageName::GetMountPointName(Mount.RootPath);
		if (Name.isEmpty() || Impl->MountByName.contains(FFoldedKey{Name}))
		{
			continue;
		}
		Impl->MountByName.insert(FFoldedKey{Name}, int(Impl->Mounts.size()));
		Impl->Mounts.append(
			FMountPoint{QLatin1Char('/') + Name, WithTrailingSlash(FPaths::ConvertRelativePathToFull(Mount.ContentDir))});
	}
}

FAssetRegistry::~FAssetRegistry() = default;

QList<FMountPoint> FAssetRegistry::DiscoverMountPoints(const FPaths& Paths)
{
	QList<FMountPoint> Mounts{{QStringLiteral("/Game"), Paths.ProjectContentDir()}};
	if (!Paths.EngineContentDir().isEmpty())
	{
		Mounts.append({QStringLiteral("/Engine"), Paths.EngineContentDir()});
	}
	const QDir PluginsDir(Paths.ProjectPluginsDir());
	const QStringList PluginFolders = PluginsDir.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
	for (const QString& Folder : PluginFolders)
	{
		const QStringList Descriptors = QDir(PluginsDir.filePath(Folder)).entryList({QStringLiteral("*.uplugin")}, QDir::Files);
		if (!Descriptors.isEmpty())
		{
			Mounts.append({QLatin1Char('/') + FPaths::GetBaseFilename(Descriptors.first()),
				PluginsDir.filePath(Folder) + QStringLiteral("/Content/")});
		}
	}
	return Mounts;
}

QList<FMountPoint> FAssetRegistry::GetMountPoints() const { return Impl->Mounts; }

const FClassTable& FAssetRegistry::GetClasses() const { return Impl->ClassTable; }

bool FAssetRegistry::TryConvertLongPackageNameToFilename(const QString& PackageName, QString& OutFilename,
	const QString& Extension) const
{
	const int MountIndex = Impl->MountOf(PackageName);
	if (MountIndex < 0 || !FPackageName::IsValidLongPackageName(PackageName))
	{
		return false;
	}
	OutFilename = Impl->Mounts[MountIndex].ContentDir + FPackageName::GetPathAfterMountPoint(PackageName) + Extension;
	return true;
}

bool FAssetRegistry::TryConvertFilenameToLongPackageName(const QString& Filename, QString& OutPackageName,
	QString* OutReason) const
{
	const QString ContentPath = Impl->ToContentPath(Filename);
	if (ContentPath.isEmpty())
	{
		if (OutReason)
		{
			*OutReason = QStringLiteral("the file lies under no mount point's folder");
		}
		return false;
	}
	if (!FPackageName::IsValidLongPackageName(ContentPath, OutReason))
	{
		return false;
	}
	OutPackageName = ContentPath;
	return true;
}

QString FAssetRegistry::GetPackageFilename(const QString& PackageName) const
{
	const int Slot = Impl->SlotOf(PackageName);
	return Slot < 0 ? QString() : Impl->FilenameOf(Impl->Packages[size_t(Slot)]);
}

bool FAssetRegistry::IsValidPackageName(const QString& PackageName, QString* OutReason) const
{
	if (!FPackageName::IsValidLongPackageName(PackageName, OutReason))
	{
		return false;
	}
	if (!FPackageName::IsScriptPackage(PackageName) && Impl->MountOf(PackageName) < 0)
	{
		if (OutReason)
		{
			*OutReason = QStringLiteral("no mount point \"/") + FPackageName::GetMountPointName(PackageName) +
				QStringLiteral("\"");
		}
		return false;
	}
	return true;
}

void FAssetRegistry::SearchAllAssets(bool)
{
	QStringList Roots;
	for (const FMountPoint& Mount : Impl->Mounts)
	{
		Roots.append(Mount.RootPath);
	}
	Impl->Scan(Roots, false);
}

void FAssetRegistry::ScanPathsSynchronous(const QStringList& Paths, bool bForceRescan, bool bIgnoreDenyListScanFilters)
{
	QStringList ToScan;
	for (const QString& Path : Paths)
	{
		const QString ContentPath = Impl->ToContentPath(Path);
		if (ContentPath.isEmpty() || FPackageName::IsScriptPackage(ContentPath))
		{
			continue;
		}
		if (!bIgnoreDenyListScanFilters && Impl->IsDenied(ContentPath))
		{
			continue;
		}
		if (!bForceRescan && Impl->IsScanned(ContentPath))
		{
			continue;
		}
		ToScan.append(ContentPath);
	}
	if (!ToScan.isEmpty())
	{
		Impl->Scan(ToScan, bIgnoreDenyListScanFilters);
	}
}

void FAssetRegistry::SetScanDenyList(const QStringList& PackagePaths) { Impl->DenyList = PackagePaths; }

bool FAssetRegistry::GetDependencies(const QString& PackageName, QStringList& OutDependencies,
	UE::AssetRegistry::EDependencyCategory Category, const UE::AssetRegistry::FDependencyQuery& Query) const
{
	using namespace UE::AssetRegistry;
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot < 0)
	{
		return false;
	}
	if ((int(Category) & int(EDependencyCategory::Package)) == 0)
	{
		return true;
	}
	const FPackageRecord& Record = Impl->Packages[size_t(Slot)];
	const std::span<const int> All = Impl->DependencyIdsOf(Slot);
	const size_t Begin = Query.Required == EDependencyQuery::Soft ? size_t(Record.HardCount) : 0;
	const size_t End = Query.Required == EDependencyQuery::Hard ? size_t(Record.HardCount) : All.size();
	OutDependencies.reserve(OutDependencies.size() + qsizetype(End - Begin));
	for (size_t Index = Begin; Index < End; ++Index)
	{
		// The table's own text, shared rather than copied.
		OutDependencies.append(Impl->Names.Text(All[Index]));
	}
	return true;
}

bool FAssetRegistry::GetReferencers(const QString& PackageName, QStringList& OutReferencers) const
{
	const qsizetype Before = OutReferencers.size();
	// Names that differ only in case share an id; a name the registry never met has no referencer.
	const int Target = Impl->Names.Find(PackageName);
	if (Target < 0)
	{
		return false;
	}
	for (size_t Slot = 0; Slot < Impl->Packages.size(); ++Slot)
	{
		const std::span<const int> Dependencies = Impl->DependencyIdsOf(int(Slot));
		if (std::find(Dependencies.begin(), Dependencies.end(), Target) != Dependencies.end())
		{
			OutReferencers.append(Impl->Packages[Slot].Name);
		}
	}
	return OutReferencers.size() > Before;
}

std::optional<FAssetPackageData> FAssetRegistry::GetAssetPackageDataCopy(const QString& PackageName) const
{
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot < 0)
	{
		return std::nullopt;
	}
	const FPackageInfo& Info = Impl->Infos[size_t(Slot)];
	return FAssetPackageData{Info.DiskSize, Info.bMap ? MapExtension : AssetExtension};
}

bool FAssetRegistry::DoesPackageExistOnDisk(const QString& PackageName, QString* OutCorrectCasePackageName,
	QString* OutExtension) const
{
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot < 0)
	{
		return false;
	}
	if (OutCorrectCasePackageName)
	{
		*OutCorrectCasePackageName = Impl->Packages[size_t(Slot)].Name;
	}
	if (OutExtension)
	{
		*OutExtension = Impl->Infos[size_t(Slot)].bMap ? MapExtension : AssetExtension;
	}
	return true;
}

bool FAssetRegistry::DoesPackageExist(const QString& PackageName) const
{
	return (FPackageName::IsScriptPackage(PackageName) && FPackageName::IsValidLongPackageName(PackageName)) ||
		DoesPackageExistOnDisk(PackageName);
}

bool FAssetRegistry::IsLevelPackage(const QString& PackageName) const
{
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot < 0 || Impl->Packages[size_t(Slot)].Assets.isEmpty())
	{
		return false;
	}
	const UClass* Class =
		Impl->ClassTable.ResolveClass(Impl->Classes.Text(Impl->Packages[size_t(Slot)].Assets.first().ClassId));
	return Class && Class->IsChildOf(UWorld::StaticClass());
}

bool FAssetRegistry::GetAssetsByPackageName(const QString& PackageName, QList<FAssetData>& OutAssetData, bool, bool) const
{
	// A package on disk has a valid name.
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot >= 0)
	{
		Impl->AppendAssets(Slot, OutAssetData);
		return true;
	}
	return FPackageName::IsValidLongPackageName(PackageName);
}

bool FAssetRegistry::GetAssetsByPath(const QString& PackagePath, QList<FAssetData>& OutAssetData, bool bRecursive,
	bool) const
{
	const QString Path = PackagePath.endsWith(QLatin1Char('/')) ? PackagePath.chopped(1) : PackagePath;
	if (!FPackageName::IsValidPackagePath(Path))
	{
		return false;
	}
	const int FolderId = Impl->FindFolder(Path);
	if (FolderId < 0)
	{
		return true;
	}
	std::vector<int> Slots;
	Impl->CollectSlots(FolderId, bRecursive, Slots);
	qsizetype Count = 0;
	for (const int Slot : Slots)
	{
		Count += Impl->Packages[size_t(Slot)].Assets.size();
	}
	OutAssetData.reserve(OutAssetData.size() + Count);
	for (const int Slot : Slots)
	{
		Impl->AppendAssets(Slot, OutAssetData);
	}
	return true;
}

bool FAssetRegistry::GetAssets(const FARFilter& Filter, QList<FAssetData>& OutAssetData) const
{
	std::vector<int> Candidates;
	if (!Filter.PackageNames.isEmpty())
	{
		for (const QString& Name : Filter.PackageNames)
		{
			const int Slot = Impl->SlotOf(Name);
			if (Slot >= 0)
			{
				Candidates.push_back(Slot);
			}
		}
	}
	else if (!Filter.PackagePaths.isEmpty())
	{
		for (const QString& Path : Filter.PackagePaths)
		{
			const int FolderId = Impl->FindFolder(Path.endsWith(QLatin1Char('/')) ? Path.chopped(1) : Path);
			if (FolderId >= 0)
			{
				Impl->CollectSlots(FolderId, Filter.bRecursivePaths, Candidates);
			}
		}
	}
	else
	{
		for (size_t Slot = 0; Slot < Impl->Packages.size(); ++Slot)
		{
			if (Impl->Packages[Slot].bAlive)
			{
				Candidates.push_back(int(Slot));
			}
		}
	}
	std::sort(Candidates.begin(), Candidates.end());
	Candidates.erase(std::unique(Candidates.begin(), Candidates.end()), Candidates.end());

	// Which interned classes pass, decided once per class rather than once per asset.
	std::vector<signed char> ClassMatches(size_t(Impl->Classes.Count()), -1);
	QList<const UClass*> FilterClasses;
	for (const FTopLevelAssetPath& Path : Filter.ClassPaths)
	{
		FilterClasses.append(Impl->ClassTable.ResolveClass(Path.ToString()));
	}
	const auto ClassPasses = [&](int ClassId)
	{
		if (Filter.ClassPaths.isEmpty())
		{
			return true;
		}
		signed char& Match = ClassMatches[size_t(ClassId)];
		if (Match < 0)
		{
			Match = 0;
			const FTopLevelAssetPath& AssetClass = Impl->ClassPaths[size_t(ClassId)];
			const UClass* Resolved = Filter.bRecursiveClasses ? Impl->ClassTable.ResolveClass(AssetClass.ToString()) : nullptr;
			for (qsizetype Index = 0; Index < Filter.ClassPaths.size() && !Match; ++Index)
			{
				Match = AssetClass == Filter.ClassPaths[Index] ||
					(Resolved && FilterClasses[Index] && Resolved->IsChildOf(FilterClasses[Index]));
			}
		}
		return Match > 0;
	};

	for (const int Slot : Candidates)
	{
		const FPackageRecord& Record = Impl->Packages[size_t(Slot)];
		if (!Filter.PackagePaths.isEmpty() && !Filter.PackageNames.isEmpty())
		{
			bool bInPath = false;
			for (const QString& Path : Filter.PackagePaths)
			{
				const QString Folder = FPackageName::GetLongPackagePath(Record.Name);
				bInPath = bInPath || (Filter.bRecursivePaths ? FPackageName::IsUnderPath(Folder, Path)
															 : Folder.compare(Path, Qt::CaseInsensitive) == 0);
			}
			if (!bInPath)
			{
				continue;
			}
		}
		QList<FAssetData> Assets;
		Impl->AppendAssets(Slot, Assets);
		for (qsizetype Index = 0; Index < Assets.size(); ++Index)
		{
			if (!ClassPasses(Record.Assets[Index].ClassId))
			{
				continue;
			}
			if (!Filter.SoftObjectPaths.isEmpty() && !Filter.SoftObjectPaths.contains(Assets[Index].GetSoftObjectPath()))
			{
				continue;
			}
			OutAssetData.append(Assets[Index]);
		}
	}
	return true;
}

bool FAssetRegistry::GetAllAssets(QList<FAssetData>& OutAssetData, bool) const
{
	return GetAssets(FARFilter(), OutAssetData);
}

FAssetData FAssetRegistry::GetAssetByObjectPath(const FSoftObjectPath& ObjectPath) const
{
	const int Slot = Impl->SlotOf(ObjectPath.GetLongPackageName());
	if (Slot < 0 || !ObjectPath.GetSubPathString().isEmpty())
	{
		return FAssetData();
	}
	QList<FAssetData> Assets;
	Impl->AppendAssets(Slot, Assets);
	for (const FAssetData& Asset : Assets)
	{
		if (Asset.AssetName.compare(ObjectPath.GetAssetName(), Qt::CaseInsensitive) == 0)
		{
			return Asset;
		}
	}
	return FAssetData();
}

QStringList FAssetRegistry::GetAllPackageNames() const
{
	QStringList Out;
	Out.reserve(Impl->AliveCount);
	for (const FPackageRecord& Record : Impl->Packages)
	{
		if (Record.bAlive)
		{
			Out.append(Record.Name);
		}
	}
	return Out;
}

int FAssetRegistry::GetPackageCount() const { return Impl->AliveCount; }

void FAssetRegistry::AddOrUpdatePackage(const QString& PackageName, const FPackageFile& File, const QString& Extension,
	qint64 DiskSize)
{
	const int MountIndex = Impl->MountOf(PackageName);
	if (MountIndex < 0 || !FPackageName::IsValidLongPackageName(PackageName))
	{
		return;
	}
	QString Filename;
	TryConvertLongPackageNameToFilename(PackageName, Filename, Extension);
	Impl->ReportedFiles.remove(Filename);
	Impl->Store(PackageName, MountIndex, File, Extension.compare(MapExtension, Qt::CaseInsensitive) == 0, DiskSize);
}

void FAssetRegistry::RemovePackage(const QString& PackageName)
{
	const int Slot = Impl->SlotOf(PackageName);
	if (Slot >= 0)
	{
		Impl->Remove(Slot);
	}
}

// ---- FAssetData / FTopLevelAssetPath ----

FTopLevelAssetPath::FTopLevelAssetPath(const QString& Path)
{
	const qsizetype Dot = Path.indexOf(QLatin1Char('.'));
	if (Dot > 0)
	{
		PackageName = Path.left(Dot);
		AssetName = Path.mid(Dot + 1);
	}
}

bool FTopLevelAssetPath::operator==(const FTopLevelAssetPath& Other) const
{
	return PackageName.compare(Other.PackageName, Qt::CaseInsensitive) == 0 &&
		AssetName.compare(Other.AssetName, Qt::CaseInsensitive) == 0;
}

bool FAssetData::IsRedirector() const
{
	// Code modules derive no classes from the redirector: the engine's own classes decide.
	const UClass* Class = UClass::ResolveEngineClass(AssetClassPath.ToString());
	return Class && Class->IsChildOf(UObjectRedirector::StaticClass());
}
