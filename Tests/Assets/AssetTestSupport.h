#pragma once

#include "AssetRegistry.h"
#include "AssetTools.h"
#include "EditorHost.h"
#include "ObjectClasses.h"
#include "PackageFile.h"
#include "PackageName.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>

#include <memory>
#include <vector>

#include <csignal>
#include <sys/resource.h>

// A throw-away project: "<root>/Project/Project.uproject" with its Content/, an engine folder
// "<root>/Engine/Content/" and a user-settings folder, all removed with the object.
class FAssetTestProject
{
public:
	FAssetTestProject()
	{
		QDir().mkpath(ProjectDir() + QStringLiteral("Content"));
		QDir().mkpath(EngineDir() + QStringLiteral("Content"));
		WriteRaw(ProjectFile(),
		         QByteArrayLiteral("{\"FileVersion\":3,\"EngineAssociation\":\"5.1\",\"Modules\":[]}\n"));
	}

	QString Root() const { return Dir.path() + QLatin1Char('/'); }
	QString ProjectDir() const { return Root() + QStringLiteral("Project/"); }
	QString ProjectFile() const { return ProjectDir() + QStringLiteral("Project.uproject"); }
	QString ContentDir() const { return ProjectDir() + QStringLiteral("Content/"); }
	QString EngineDir() const { return Root() + QStringLiteral("Engine/"); }

	// The file of a /Game or /Engine package.
	QString FileOf(const QString& PackageName, bool bMap = false) const
	{
		const QString Base =
		    PackageName.startsWith(QLatin1String("/Engine/")) ? EngineDir() + QStringLiteral("Content/") : ContentDir();
		return Base + FPackageName::GetPathAfterMountPoint(PackageName) +
		       (bMap ? QStringLiteral(".umap") : QStringLiteral(".uasset"));
	}

	static bool WriteRaw(const QString& Path, const QByteArray& Bytes)
	{
		QDir().mkpath(Path.left(Path.lastIndexOf(QLatin1Char('/'))));
		QFile File(Path);
		return File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size();
	}

	static QByteArray ReadRaw(const QString& Path)
	{
		QFile File(Path);
		return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
	}

	// Writes a package whose main asset is named after the package.
	bool Write(const QString& PackageName, const QString& ClassPath, const QStringList& Hard = {},
	           const QStringList& Soft = {}, bool bPartitioned = false) const
	{
		FPackageFile File;
		File.Assets.append({FPackageName::GetShortName(PackageName), ClassPath, QString()});
		File.HardDependencies = Hard;
		File.SoftDependencies = Soft;
		File.bPartitioned = bPartitioned;
		const bool bMap = File.IsLevel(FClassTable());
		return File.SaveToFile(FileOf(PackageName, bMap));
	}

	// A host over the project (and the engine folder), started: its registry has scanned everything.
	std::unique_ptr<FEditorHost> StartHost(bool bWithEngine = true) const
	{
		FEditorHostOptions Options;
		Options.ProjectFile = ProjectFile();
		Options.UserSettingsDir = Root() + QStringLiteral("UserSettings");
		Options.EngineDir = bWithEngine ? EngineDir() : QString();
		Options.bLogToFile = false;
		auto Host = std::make_unique<FEditorHost>(Options);
		Host->Start();
		return Host;
	}

private:
	QTemporaryDir Dir;
};

namespace AssetTestUtil
{
inline const QString World = QStringLiteral("/Script/Engine.World");
inline const QString StaticMesh = QStringLiteral("/Script/Engine.StaticMesh");
inline const QString Material = QStringLiteral("/Script/Engine.Material");
inline const QString Texture = QStringLiteral("/Script/Engine.Texture2D");
inline const QString Actor = QStringLiteral("/Script/Engine.StaticMeshActor");
inline const QString Redirector = QStringLiteral("/Script/CoreUObject.ObjectRedirector");

// The relocation check's walk over the registry: /Game packages on disk reached through hard and
// soft dependencies, plus the packages in each level's external folders after a forced scan.
inline QSet<QString> Walk(FAssetRegistry& Registry, const QString& Root)
{
	QSet<QString> Reached{Root};
	QSet<QString> Scanned;
	std::vector<QString> Stack{Root};
	while (!Stack.empty())
	{
		const QString Package = Stack.back();
		Stack.pop_back();
		QStringList Dependencies;
		Registry.GetDependencies(Package, Dependencies);
		for (const QString& Dependency : Dependencies)
		{
			if (Dependency.startsWith(QLatin1String("/Game"), Qt::CaseInsensitive) &&
			    Registry.GetAssetPackageDataCopy(Dependency) && !Reached.contains(Dependency))
			{
				Reached.insert(Dependency);
				Stack.push_back(Dependency);
			}
		}
		if (!Registry.IsLevelPackage(Package))
		{
			continue;
		}
		for (const QString& Path : ULevel::GetExternalObjectsPaths(Package))
		{
			if (Scanned.contains(Path))
			{
				continue;
			}
			Scanned.insert(Path);
			Registry.ScanPathsSynchronous({Path}, true, true);
			QList<FAssetData> Assets;
			Registry.GetAssetsByPath(Path, Assets, true, true);
			for (const FAssetData& Asset : Assets)
			{
				Reached.insert(Asset.PackageName);
				Stack.push_back(Asset.PackageName);
			}
		}
	}
	return Reached;
}

// Everything the registry says about every package, one sorted line each, for comparing a
// registry kept up to date by moves with one that scanned the files afresh.
inline QStringList Describe(const FAssetRegistry& Registry)
{
	QStringList Lines;
	for (const QString& Package : Registry.GetAllPackageNames())
	{
		QStringList Hard;
		QStringList Soft;
		Registry.GetDependencies(Package, Hard, UE::AssetRegistry::EDependencyCategory::Package,
		                         UE::AssetRegistry::EDependencyQuery::Hard);
		Registry.GetDependencies(Package, Soft, UE::AssetRegistry::EDependencyCategory::Package,
		                         UE::AssetRegistry::EDependencyQuery::Soft);
		QList<FAssetData> Assets;
		Registry.GetAssetsByPackageName(Package, Assets);
		QStringList AssetText;
		for (const FAssetData& Asset : Assets)
		{
			AssetText.append(Asset.AssetName + QLatin1Char(':') + Asset.AssetClassPath.ToString() + QLatin1Char('>') +
			                 Asset.DestinationObjectPath);
		}
		const std::optional<FAssetPackageData> Data = Registry.GetAssetPackageDataCopy(Package);
		Lines.append(
		    Package + QStringLiteral(" | ") + AssetText.join(QLatin1Char(',')) + QStringLiteral(" | hard ") +
		    Hard.join(QLatin1Char(',')) + QStringLiteral(" | soft ") + Soft.join(QLatin1Char(',')) +
		    QStringLiteral(" | ") +
		    (Data ? Data->Extension + QLatin1Char(' ') + QString::number(Data->DiskSize) : QStringLiteral("no data")));
	}
	Lines.sort();
	return Lines;
}

// Every file below a folder, relative to it, sorted.
inline QStringList FilesUnder(const QString& Folder)
{
	QStringList Files;
	QDirIterator It(Folder, QDir::Files, QDirIterator::Subdirectories);
	while (It.hasNext())
	{
		Files.append(It.next().mid(Folder.size()));
	}
	Files.sort();
	return Files;
}

// Caps the size of files this process may write, as a full disk would; undone on destruction.
class FFileSizeLimit
{
public:
	explicit FFileSizeLimit(rlim_t Bytes)
	{
		getrlimit(RLIMIT_FSIZE, &Previous);
		PreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
		rlimit Limit = Previous;
		Limit.rlim_cur = Bytes;
		setrlimit(RLIMIT_FSIZE, &Limit);
	}
	~FFileSizeLimit()
	{
		setrlimit(RLIMIT_FSIZE, &Previous);
		std::signal(SIGXFSZ, PreviousHandler);
	}
	FFileSizeLimit(const FFileSizeLimit&) = delete;
	FFileSizeLimit& operator=(const FFileSizeLimit&) = delete;

private:
	rlimit Previous{};
	void (*PreviousHandler)(int) = nullptr;
};
} // namespace AssetTestUtil
