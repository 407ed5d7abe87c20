#pragma once

#include <QString>

#include <functional>
#include <vector>

// A package file found by a listing, with the index of the mount point it lies under.
struct FScanFile
{
	QString FilePath;
	int MountIndex;
};

// Whether a folder (its path on disk, ending with "/") is left out of a listing, with everything in it.
using FFolderFilter = std::function<bool(const QString& Folder)>;

// Appends the package files (".uasset", ".umap") in the folder Base on disk and its sub-folders, in
// the order of their paths, without the folders IsDenied (when set) leaves out. A Base without a
// trailing "/" may also name a package: its files are listed first.
void ListPackageFiles(const QString& Base, int MountIndex, const FFolderFilter& IsDenied, std::vector<FScanFile>& Out);
