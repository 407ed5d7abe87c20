#include "AssetDirectoryLister.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <string_view>

// Listing uses POSIX calls directly: a scan of a large project lists many thousand folders, and
// each folder's entries come with their type, so no file needs a stat call of its own.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// Lists one folder (Fd, which this closes; Path ends with "/") and its sub-folders. Each folder's
// entries are taken in name order, a sub-folder's name compared as if followed by "/": that is the
// order of the full paths, so the listing comes out sorted without a sort over long paths. Links
// to folders are not followed.
void ListFolder(int Fd, const QString& Path, int MountIndex, const FFolderFilter& IsDenied, std::vector<FScanFile>& Out)
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
			if (IsDenied && IsDenied(Path + Key))
			{
				continue;
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
			ListFolder(Child, Path + Entry.Key, MountIndex, IsDenied, Out);
		}
	}
	::closedir(Dir);
}
} // namespace

void ListPackageFiles(const QString& Base, int MountIndex, const FFolderFilter& IsDenied, std::vector<FScanFile>& Out)
{
	// The base may name a package rather than a folder.
	if (!Base.endsWith(QLatin1Char('/')))
	{
		for (const QString& Extension : {QStringLiteral(".uasset"), QStringLiteral(".umap")})
		{
			if (QFileInfo(Base + Extension).isFile())
			{
				Out.push_back({Base + Extension, MountIndex});
			}
		}
	}
	const int RootFd = ::open(QFile::encodeName(Base).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
	if (RootFd >= 0)
	{
		ListFolder(RootFd, Base.endsWith(QLatin1Char('/')) ? Base : Base + QLatin1Char('/'), MountIndex, IsDenied, Out);
	}
}
