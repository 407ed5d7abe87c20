#include "SyntheticProject.h"

#include "PackageFile.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <algorithm>
#include <random>

namespace
{
struct FFolderKind
{
	const char* Folder;
	const char* Prefix;
	const char* ClassPath;
};

constexpr FFolderKind FolderKinds[] = {
    {"Props", "SM", "/Script/Engine.StaticMesh"},
    {"Materials", "M", "/Script/Engine.Material"},
    {"Textures", "T", "/Script/Engine.Texture2D"},
    {"Meshes", "SM", "/Script/Engine.StaticMesh"},
    {"Blueprints", "BP", "/Script/Engine.Blueprint"},
    {"Audio", "S", "/Script/Engine.SoundWave"},
    {"Effects", "MI", "/Script/Engine.MaterialInstanceConstant"},
    {"Characters", "SK", "/Script/Engine.SkeletalMesh"},
    {"Environment", "SM", "/Script/Engine.StaticMesh"},
};

QString Base36(quint64 Value, int Digits)
{
	static const char Alphabet[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
	QString Out(Digits, QLatin1Char('0'));
	for (int Index = Digits - 1; Index >= 0; --Index)
	{
		Out[Index] = QLatin1Char(Alphabet[Value % 36]);
		Value /= 36;
	}
	return Out;
}

class FWriter
{
public:
	explicit FWriter(const QString& InContentDir)
	    : ContentDir(InContentDir)
	{
	}

	bool Write(const QString& PackageName, const FPackageFile& File, bool bMap, QString* OutError)
	{
		const QString Relative = PackageName.mid(int(sizeof("/Game/")) - 1);
		const QString Path = ContentDir + Relative + (bMap ? QStringLiteral(".umap") : QStringLiteral(".uasset"));
		const QString Folder = Path.left(Path.lastIndexOf(QLatin1Char('/')));
		if (!Folders.contains(Folder))
		{
			QDir().mkpath(Folder);
			Folders.insert(Folder);
		}
		QFile Out(Path);
		const QByteArray Bytes = File.Serialize();
		if (!Out.open(QIODevice::WriteOnly) || Out.write(Bytes) != Bytes.size())
		{
			if (OutError)
			{
				*OutError = Path + QStringLiteral(": ") + Out.errorString();
			}
			return false;
		}
		return true;
	}

private:
	QString ContentDir;
	QSet<QString> Folders;
};
} // namespace

std::optional<FSyntheticProject> FSyntheticProject::Generate(const FSyntheticProjectOptions& Options, QString* OutError)
{
	FSyntheticProject Project;
	const QString Root =
	    Options.RootDir.endsWith(QLatin1Char('/')) ? Options.RootDir : Options.RootDir + QLatin1Char('/');
	Project.ProjectFile = Root + Options.ProjectName + QStringLiteral(".uproject");
	Project.ContentDir = Root + QStringLiteral("Content/");
	QDir().mkpath(Project.ContentDir);
	{
		QFile Descriptor(Project.ProjectFile);
		if (!Descriptor.open(QIODevice::WriteOnly) ||
		    Descriptor.write("{\n\t\"FileVersion\": 3,\n\t\"EngineAssociation\": \"5.1\",\n\t\"Modules\": []\n}\n") < 0)
		{
			if (OutError)
			{
				*OutError = Project.ProjectFile + QStringLiteral(": ") + Descriptor.errorString();
			}
			return std::nullopt;
		}
	}

	const int FolderCount = std::max(1, Options.AssetFolderCount);
	const int LevelCount = std::max(1, Options.LevelCount > 0 ? Options.LevelCount : Options.PackageCount / 500);
	const int Partitioned = std::clamp(
	    Options.PartitionedLevelCount < 0 ? std::max(1, LevelCount / 4) : Options.PartitionedLevelCount, 0, LevelCount);
	const int ActorsPerLevel = std::max(0, Options.ExternalActorsPerLevel);
	// External actors take their share of the count, leaving room for the levels and one asset per folder.
	const int ExternalCount =
	    std::min(Partitioned * ActorsPerLevel, std::max(0, Options.PackageCount - LevelCount - FolderCount));
	const int Regular = std::max(LevelCount + FolderCount, Options.PackageCount - ExternalCount);

	Project.TopFolders.append(QStringLiteral("/Game/Maps"));
	for (int Folder = 0; Folder < FolderCount; ++Folder)
	{
		const int Kind = Folder % int(std::size(FolderKinds));
		QString Name = QLatin1String(FolderKinds[Kind].Folder);
		if (Folder >= int(std::size(FolderKinds)))
		{
			Name += QString::number(Folder / int(std::size(FolderKinds)));
		}
		Project.TopFolders.append(QStringLiteral("/Game/") + Name);
	}
	Project.PackagesPerFolder = QList<int>(Project.TopFolders.size(), 0);

	// Names first, so that dependencies can name any package.
	QStringList Names;
	QList<int> FolderOf;
	Names.reserve(Regular);
	for (int Index = 0; Index < Regular; ++Index)
	{
		if (Index < LevelCount)
		{
			Names.append(Index == 0 ? QStringLiteral("/Game/Maps/Entry")
			                        : QStringLiteral("/Game/Maps/Level_%1").arg(Index, 4, 10, QLatin1Char('0')));
			FolderOf.append(0);
			continue;
		}
		const int Folder = (Index - LevelCount) % FolderCount;
		const int InFolder = (Index - LevelCount) / FolderCount;
		const FFolderKind& Kind = FolderKinds[Folder % int(std::size(FolderKinds))];
		Names.append(Project.TopFolders[Folder + 1] +
		             QStringLiteral("/Set%1/%2_%3")
		                 .arg(InFolder / std::max(1, Options.PackagesPerSubfolder), 3, 10, QLatin1Char('0'))
		                 .arg(QLatin1String(Kind.Prefix))
		                 .arg(Index, 6, 10, QLatin1Char('0')));
		FolderOf.append(Folder + 1);
	}

	std::mt19937 Random(Options.Seed);
	std::uniform_int_distribution<int> AnyPackage(0, Regular - 1);
	const int Extra = std::max(0, Options.DependenciesPerPackage - 2);
	FWriter Writer(Project.ContentDir);
	for (int Index = 0; Index < Regular; ++Index)
	{
		FPackageFile File;
		const bool bLevel = Index < LevelCount;
		const QString Short = Names[Index].mid(Names[Index].lastIndexOf(QLatin1Char('/')) + 1);
		File.Assets.append(
		    {Short,
		     bLevel ? QStringLiteral("/Script/Engine.World")
		            : QLatin1String(FolderKinds[(FolderOf[Index] - 1) % int(std::size(FolderKinds))].ClassPath),
		     QString()});
		File.bPartitioned = bLevel && Index < Partitioned;
		// A binary tree over the package indices keeps everything reachable from the entry level.
		for (const int Child : {2 * Index + 1, 2 * Index + 2})
		{
			if (Child < Regular)
			{
				File.AddDependency(Names[Child], true);
			}
		}
		for (int Dependency = 0; Dependency < Extra; ++Dependency)
		{
			switch ((Index + Dependency) % 5)
			{
			case 0:
				File.AddDependency(QStringLiteral("/Script/Engine"), true);
				break;
			case 1:
				File.AddDependency(QStringLiteral("/Engine/BasicShapes/Cube"), true);
				break;
			case 2:
				File.AddDependency(Names[AnyPackage(Random)], false);
				break;
			default:
				File.AddDependency(Names[AnyPackage(Random)], true);
				break;
			}
		}
		if (!bLevel && FolderOf[Index] == 3)
		{
			File.Payload = QString::fromLatin1(QByteArray::number(Index).toBase64());
		}
		if (!Writer.Write(Names[Index], File, bLevel, OutError))
		{
			return std::nullopt;
		}
		++Project.PackagesPerFolder[FolderOf[Index]];
		if (bLevel)
		{
			Project.Levels.append(Names[Index]);
			if (File.bPartitioned)
			{
				Project.PartitionedLevels.append(Names[Index]);
			}
		}
	}

	for (int External = 0; External < ExternalCount; ++External)
	{
		const QString Level = Project.PartitionedLevels[External / std::max(1, ActorsPerLevel)];
		const QString Id = Base36(quint64(Random()) << 32 | Random(), 12) + Base36(quint64(External), 10);
		// Every tenth one is an external object (a data layer instance) rather than an actor.
		const bool bObject = External % 10 == 9;
		const QString Name =
		    QStringLiteral("/Game/") +
		    (bObject ? QStringLiteral("__ExternalObjects__/") : QStringLiteral("__ExternalActors__/")) +
		    Level.mid(int(sizeof("/Game/")) - 1) + QLatin1Char('/') + Id.left(1) + QLatin1Char('/') + Id.mid(1, 2) +
		    QLatin1Char('/') + Id;
		FPackageFile File;
		File.Assets.append({Id,
		                    bObject ? QStringLiteral("/Script/Engine.DataLayerInstance")
		                            : QStringLiteral("/Script/Engine.StaticMeshActor"),
		                    QString()});
		File.AddDependency(Names[AnyPackage(Random)], true);
		File.AddDependency(Names[AnyPackage(Random)], true);
		if (!Writer.Write(Name, File, false, OutError))
		{
			return std::nullopt;
		}
	}
	Project.ExternalPackageCount = ExternalCount;
	Project.PackageCount = Regular + ExternalCount;
	Project.EntryLevel = Names.first();
	return Project;
}
