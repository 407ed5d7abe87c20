#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Writes a synthetic project of package files, for tests and benchmarks: levels in /Game/Maps,
// other assets spread over top-level folders (in sub-folders of bounded size), about
// DependenciesPerPackage dependencies each (hard and soft, some on /Engine and /Script packages),
// and partitioned levels whose actors are external packages. Every package is reachable from the
// entry level /Game/Maps/Entry, through dependencies or through a level's external actors.
struct FSyntheticProjectOptions
{
	// The project folder to write ("<RootDir>/<ProjectName>.uproject", "<RootDir>/Content/").
	QString RootDir;
	QString ProjectName = QStringLiteral("Synthetic");
	// Package files in all, external actors included.
	int PackageCount = 1000;
	// Top-level folders under /Game besides /Game/Maps.
	int AssetFolderCount = 9;
	int PackagesPerSubfolder = 200;
	int DependenciesPerPackage = 5;
	// Levels (the entry level included); 0 picks one per 500 packages.
	int LevelCount = 0;
	// Partitioned levels among them (the entry level first); -1 picks a quarter of them.
	int PartitionedLevelCount = -1;
	int ExternalActorsPerLevel = 20;
	quint32 Seed = 1;
};

struct FSyntheticProject
{
	QString ProjectFile;
	QString ContentDir;
	QString EntryLevel;
	QStringList Levels;
	QStringList PartitionedLevels;
	// "/Game/Maps" first, then the asset folders.
	QStringList TopFolders;
	// Package files written, per top folder in TopFolders order, then the external ones.
	QList<int> PackagesPerFolder;
	int ExternalPackageCount = 0;
	int PackageCount = 0;

	// Nullopt with a reason when a file cannot be written.
	static std::optional<FSyntheticProject> Generate(const FSyntheticProjectOptions& Options,
	                                                 QString* OutError = nullptr);
};
