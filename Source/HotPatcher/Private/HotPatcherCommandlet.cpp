#include "AssetRegistry.h"
#include "EditorHost.h"
#include "ExportPatchSettings.h"
#include "FileDigest.h"
#include "FileHelper.h"
#include "HotPatcherCommandlets.h"
#include "Json.h"
#include "Log.h"
#include "ObjectClasses.h"
#include "PackageName.h"
#include "PakFile.h"
#include "Paths.h"
#include "SerializeStructJson.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>

namespace
{
// One file of a pak list: where it comes from and where the client finds it.
struct FPakListEntry
{
	QString SourceFile;
	QString MountPath;
	qint64 Size = 0;
};

struct FPlatformResult
{
	QString Platform;
	QString PakRelativePath;
	QList<QPair<QString, FPakEntryInfo>> Files;
};

class FBuildFailure
{
public:
	QString Message;
};

// What the base version already ships: per platform ("" for every platform), path -> hash.
using FBaseVersion = QHash<QString, QHash<QString, QString>>;

class FHotPatcherBuild
{
public:
	FHotPatcherBuild(FEditorHost& InHost, FExportPatchSettings& InSettings)
	    : Host(InHost)
	    , Settings(InSettings)
	{
	}

	bool Run(QString& OutFailure);

private:
	bool Fail(const QString& Message)
	{
		if (Failure.isEmpty())
		{
			Failure = Message;
		}
		return false;
	}
	bool CollectPackages(QStringList& OutFiles);
	bool CollectExtern(ETargetPlatform Platform, QList<FPakListEntry>& OutEntries);
	QString ApplyReplacements(QString Path) const;
	bool LoadBaseVersion(FBaseVersion& OutBase, bool& bOutHasBase);
	QString ResolveClientPath(const QString& Path) const;
	bool WritePak(const QString& PakPath, const QList<FPakListEntry>& Entries, FPlatformResult& Result);
	void ReportProgress(qint64 Done);

	FEditorHost& Host;
	FExportPatchSettings& Settings;
	QString Failure;
	qint64 TotalBytes = 0;
	qint64 DoneBytes = 0;
	int LastPercent = -1;
};

bool IsNeverPacked(const QString& PackageName)
{
	return PackageName.startsWith(QLatin1String("/Engine/"), Qt::CaseInsensitive) ||
	       PackageName.startsWith(QLatin1String("/Script/"), Qt::CaseInsensitive);
}

// A name that stays one file name inside the output folder.
bool IsSafeName(const QString& Name)
{
	if (Name.isEmpty() || Name == QLatin1String(".") || Name.contains(QLatin1String("..")) ||
	    Name.toUtf8().size() > 200)
	{
		return false;
	}
	for (const QChar Ch : Name)
	{
		if (Ch == QLatin1Char('/') || Ch == QLatin1Char('\\') || Ch == QLatin1Char(':') || Ch.unicode() < 0x20)
		{
			return false;
		}
	}
	return true;
}

bool FHotPatcherBuild::CollectPackages(QStringList& OutFiles)
{
	FAssetRegistry& Registry = Host.AssetRegistry();
	QSet<QString> Seen;
	QStringList Queue;
	struct FWalk
	{
		bool bHard = false;
		bool bSoft = false;
	};
	QHash<QString, FWalk> WalkOf;

	for (const FPatcherSpecifyAsset& Asset : std::as_const(Settings.IncludeSpecifyAssets))
	{
		const QString PackageName = Asset.Asset.GetLongPackageName();
		if (PackageName.isEmpty() || !Registry.DoesPackageExistOnDisk(PackageName))
		{
			return Fail(QStringLiteral("The specified asset %1 does not exist in the project")
			                .arg(Asset.Asset.ToString().isEmpty() ? QStringLiteral("\"\"") : Asset.Asset.ToString()));
		}
		FWalk Walk;
		if (Asset.bAnalysisAssetDependencies)
		{
			for (const EAssetRegistryDependencyTypeEx Type : Asset.AssetRegistryDependencyTypes)
			{
				Walk.bHard |= (quint8(Type) & quint8(EAssetRegistryDependencyTypeEx::Hard)) != 0;
				Walk.bSoft |= (quint8(Type) & quint8(EAssetRegistryDependencyTypeEx::Soft)) != 0;
			}
		}
		const QString Key = PackageName.toLower();
		FWalk& Known = WalkOf[Key];
		Known.bHard |= Walk.bHard;
		Known.bSoft |= Walk.bSoft;
		if (!Seen.contains(Key))
		{
			Seen.insert(Key);
			Queue.append(PackageName);
		}
	}

	QSet<QString> ScannedExternalPaths;
	for (int Index = 0; Index < Queue.size(); ++Index)
	{
		const QString Current = Queue[Index];
		const FWalk Walk = WalkOf.value(Current.toLower());
		auto Push = [&](const QString& Name)
		{
			const QString Key = Name.toLower();
			FWalk& Known = WalkOf[Key];
			Known.bHard |= Walk.bHard;
			Known.bSoft |= Walk.bSoft;
			if (!Seen.contains(Key))
			{
				Seen.insert(Key);
				Queue.append(Name);
			}
		};
		for (const auto& [bWanted, Query] : {std::pair{Walk.bHard, UE::AssetRegistry::EDependencyQuery::Hard},
		                                     std::pair{Walk.bSoft, UE::AssetRegistry::EDependencyQuery::Soft}})
		{
			if (!bWanted)
			{
				continue;
			}
			QStringList Dependencies;
			Registry.GetDependencies(Current, Dependencies, UE::AssetRegistry::EDependencyCategory::Package,
			                         UE::AssetRegistry::FDependencyQuery(Query));
			for (const QString& Dependency : std::as_const(Dependencies))
			{
				if (!IsNeverPacked(Dependency))
				{
					Push(Dependency);
				}
			}
		}
		// A partitioned level keeps its actors and other objects in packages of their own.
		if ((Walk.bHard || Walk.bSoft) && Registry.IsLevelPackage(Current))
		{
			for (const QString& Path : ULevel::GetExternalObjectsPaths(Current))
			{
				if (Path.isEmpty() || ScannedExternalPaths.contains(Path.toLower()))
				{
					continue;
				}
				ScannedExternalPaths.insert(Path.toLower());
				Registry.ScanPathsSynchronous({Path}, false, true);
				QList<FAssetData> External;
				Registry.GetAssetsByPath(Path, External, true, true);
				for (const FAssetData& ExternalAsset : std::as_const(External))
				{
					Push(ExternalAsset.PackageName);
				}
			}
		}
	}

	for (const QString& PackageName : std::as_const(Queue))
	{
		if (IsNeverPacked(PackageName))
		{
			continue;
		}
		const QString File = Registry.GetPackageFilename(PackageName);
		if (File.isEmpty())
		{
			UE_LOG(LogHotPatcher, Warning,
			       QStringLiteral("%1 is referenced but has no package file; it is not packed").arg(PackageName));
			continue;
		}
		OutFiles.append(File);
	}
	return true;
}

bool FHotPatcherBuild::CollectExtern(ETargetPlatform Platform, QList<FPakListEntry>& OutEntries)
{
	for (const FPlatformExternAssets& Extern : std::as_const(Settings.AddExternAssetsToPlatform))
	{
		if (Extern.TargetPlatform != Platform)
		{
			continue;
		}
		for (const FExternFileInfo& File : Extern.AddExternFileToPak)
		{
			const QFileInfo Info(FPaths::ConvertRelativePathToFull(Host.Paths().ProjectDir(), File.FilePath));
			if (!Info.isFile())
			{
				return Fail(QStringLiteral("The extern file %1 does not exist").arg(File.FilePath));
			}
			OutEntries.append({Info.absoluteFilePath(), FPaths::NormalizeFilename(File.MountPath), Info.size()});
		}
		for (const FExternDirectoryInfo& Directory : Extern.AddExternDirectoryToPak)
		{
			const QString Root = FPaths::ConvertRelativePathToFull(Host.Paths().ProjectDir(), Directory.DirectoryPath);
			if (!QFileInfo(Root).isDir())
			{
				// A workspace that has no such folder simply adds nothing.
				UE_LOG(LogHotPatcher, Display,
				       QStringLiteral("The extern directory %1 does not exist; nothing added from it").arg(Root));
				continue;
			}
			QStringList NameFilters;
			if (!Directory.WildcardFilter.isEmpty())
			{
				NameFilters = Directory.WildcardFilter.split(QLatin1Char(';'), Qt::SkipEmptyParts);
			}
			QList<FPakListEntry> Found;
			QDirIterator It(Root, NameFilters, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
			                QDirIterator::Subdirectories);
			const QDir RootDir(Root);
			while (It.hasNext())
			{
				It.next();
				const QFileInfo Info = It.fileInfo();
				Found.append({Info.absoluteFilePath(),
				              FPaths::Combine(Directory.MountPoint, RootDir.relativeFilePath(Info.absoluteFilePath())),
				              Info.size()});
			}
			std::sort(Found.begin(), Found.end(),
			          [](const FPakListEntry& A, const FPakListEntry& B) { return A.MountPath < B.MountPath; });
			OutEntries.append(Found);
		}
	}
	return true;
}

QString FHotPatcherBuild::ApplyReplacements(QString Path) const
{
	for (const FReplaceText& Replace : std::as_const(Settings.ReplacePakListTexts))
	{
		if (!Replace.From.isEmpty())
		{
			Path.replace(Replace.From, Replace.To, Replace.bCaseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive);
		}
	}
	return Path;
}

// "../../../" is where the client finds the projects: the folder that holds the project folder.
QString FHotPatcherBuild::ResolveClientPath(const QString& Path) const
{
	const QString Normal = FPaths::NormalizeFilename(Path);
	const QString ProjectDir = Host.Paths().ProjectDir();
	if (Normal.startsWith(QLatin1String("../../../")))
	{
		return FPaths::ConvertRelativePathToFull(FPaths::Combine(ProjectDir, QStringLiteral("..")), Normal.mid(9));
	}
	return FPaths::ConvertRelativePathToFull(ProjectDir, Normal);
}

bool FHotPatcherBuild::LoadBaseVersion(FBaseVersion& OutBase, bool& bOutHasBase)
{
	bOutHasBase = false;
	if (!Settings.bByBaseVersion)
	{
		return true;
	}
	const QString Path = ResolveClientPath(Settings.BaseVersion);
	if (Settings.BaseVersion.isEmpty() || !QFileInfo(Path).isFile())
	{
		UE_LOG(LogHotPatcher, Display,
		       QStringLiteral("No base version at %1: building full paks")
		           .arg(Settings.BaseVersion.isEmpty() ? QStringLiteral("(none set)") : Path));
		return true;
	}
	QFile File(Path);
	if (!File.open(QIODevice::ReadOnly))
	{
		return Fail(QStringLiteral("Cannot read the base version %1: %2").arg(Path, File.errorString()));
	}
	const std::optional<QJsonObject> Root = FJson::ParseObject(File.readAll());
	if (!Root)
	{
		return Fail(QStringLiteral("The base version %1 is not a JSON object").arg(Path));
	}
	auto ReadFiles = [&OutBase](const QString& Platform, const QJsonArray& Files)
	{
		for (const QJsonValue Value : Files)
		{
			const QJsonObject Object = Value.toObject();
			const QString FilePath = FJson::GetString(Object, QStringLiteral("Path"));
			const QString Hash = FJson::GetString(Object, QStringLiteral("Hash")).toLower();
			if (!FilePath.isEmpty() && !Hash.isEmpty())
			{
				OutBase[Platform].insert(FilePath, Hash);
			}
		}
	};
	ReadFiles(QString(), FJson::GetArray(*Root, QStringLiteral("Files")));
	for (const QJsonValue Value : FJson::GetArray(*Root, QStringLiteral("Platforms")))
	{
		const QJsonObject Object = Value.toObject();
		ReadFiles(FJson::GetString(Object, QStringLiteral("Platform")),
		          FJson::GetArray(Object, QStringLiteral("Files")));
	}
	bOutHasBase = true;
	UE_LOG(LogHotPatcher, Display, QStringLiteral("Base version %1").arg(Path));
	return true;
}

void FHotPatcherBuild::ReportProgress(qint64 Done)
{
	const int Percent = TotalBytes > 0 ? int(qMin<qint64>(100, Done * 100 / TotalBytes)) : 100;
	if (Percent != LastPercent)
	{
		LastPercent = Percent;
		UE_LOG(LogHotPatcher, Display, QStringLiteral("Packaging progress: %1%").arg(Percent));
	}
}

bool FHotPatcherBuild::WritePak(const QString& PakPath, const QList<FPakListEntry>& Entries, FPlatformResult& Result)
{
	// The mount point: the longest folder every path shares.
	QString MountPoint;
	if (!Entries.isEmpty())
	{
		MountPoint = FPaths::GetPath(Entries.first().MountPath) + QLatin1Char('/');
		for (const FPakListEntry& Entry : Entries)
		{
			while (!MountPoint.isEmpty() && !Entry.MountPath.startsWith(MountPoint))
			{
				MountPoint.chop(1);
				MountPoint = MountPoint.left(MountPoint.lastIndexOf(QLatin1Char('/')) + 1);
			}
		}
	}
	if (MountPoint.isEmpty())
	{
		MountPoint = QStringLiteral("../../../");
	}
	if (!FPaths::CreateDirectoryTree(FPaths::GetPath(PakPath)))
	{
		return Fail(QStringLiteral("Cannot create the folder %1").arg(FPaths::GetPath(PakPath)));
	}
	FPakWriter Writer;
	Writer.SetCompressed(Settings.bCompressPak);
	if (!Writer.Open(PakPath, MountPoint))
	{
		return Fail(Writer.GetError());
	}
	for (const FPakListEntry& Entry : Entries)
	{
		FPakEntryInfo Info;
		if (!Writer.AddFile(Entry.SourceFile, Entry.MountPath.mid(MountPoint.size()), &Info))
		{
			return Fail(Writer.GetError());
		}
		Result.Files.append({Entry.MountPath, Info});
		DoneBytes += Entry.Size;
		ReportProgress(DoneBytes);
	}
	if (!Writer.Finish())
	{
		return Fail(Writer.GetError());
	}
	UE_LOG(LogHotPatcher, Display,
	       QStringLiteral("Wrote %1 (%2 files, %3 bytes)")
	           .arg(PakPath)
	           .arg(Entries.size())
	           .arg(Writer.GetDataBytesWritten()));
	return true;
}

bool FHotPatcherBuild::Run(QString& OutFailure)
{
	auto Finish = [&](bool bOk)
	{
		OutFailure = Failure;
		return bOk;
	};
	if (Settings.PakTargetPlatforms.isEmpty())
	{
		Fail(QStringLiteral("The settings name no target platform"));
		return Finish(false);
	}
	if (!IsSafeName(Settings.VersionId))
	{
		Fail(QStringLiteral("The version id \"%1\" cannot name a folder").arg(Settings.VersionId));
		return Finish(false);
	}
	QStringList PackageFiles;
	FBaseVersion Base;
	bool bHasBase = false;
	if (!CollectPackages(PackageFiles) || !LoadBaseVersion(Base, bHasBase))
	{
		return Finish(false);
	}

	const QString ProjectDir = Host.Paths().ProjectDir();
	const QString ProjectPrefix = QStringLiteral("../../../") + Host.Paths().ProjectName() + QLatin1Char('/');
	QList<FPakListEntry> PackageEntries;
	for (const QString& File : std::as_const(PackageFiles))
	{
		const QString Full = FPaths::ConvertRelativePathToFull(File);
		if (!Full.startsWith(ProjectDir))
		{
			UE_LOG(LogHotPatcher, Warning, QStringLiteral("%1 lies outside the project; it is not packed").arg(Full));
			continue;
		}
		PackageEntries.append(
		    {Full, ApplyReplacements(ProjectPrefix + Full.mid(ProjectDir.size())), QFileInfo(Full).size()});
	}

	const QString Root = Settings.GetSaveAbsPath();
	const QString VersionDir = FPaths::Combine(Root, Settings.VersionId);
	struct FPlannedPak
	{
		ETargetPlatform Platform;
		QString Path;
		QList<FPakListEntry> Entries;
	};
	QList<FPlannedPak> Planned;
	QSet<ETargetPlatform> PlatformsSeen;
	for (const ETargetPlatform Platform : std::as_const(Settings.PakTargetPlatforms))
	{
		if (PlatformsSeen.contains(Platform))
		{
			continue;
		}
		PlatformsSeen.insert(Platform);
		const QString PlatformName = TargetPlatformToString(Platform);
		QString PakName = Settings.bCustomPakNameRegular && !Settings.PakNameRegular.isEmpty()
		                      ? Settings.PakNameRegular
		                      : QStringLiteral("{VERSION}_{PLATFORM}");
		PakName.replace(QStringLiteral("{VERSION}"), Settings.VersionId);
		PakName.replace(QStringLiteral("{PLATFORM}"), PlatformName);
		if (!IsSafeName(PakName))
		{
			Fail(QStringLiteral("The pak name \"%1\" cannot name a file").arg(PakName));
			return Finish(false);
		}
		FPlannedPak Pak{Platform, FPaths::Combine({VersionDir, PlatformName, PakName + QStringLiteral(".pak")}),
		                PackageEntries};
		if (!CollectExtern(Platform, Pak.Entries))
		{
			return Finish(false);
		}
		for (FPakListEntry& Entry : Pak.Entries)
		{
			Entry.MountPath = ApplyReplacements(Entry.MountPath);
		}
		Planned.append(Pak);
	}

	// Files the base version already ships with the same bytes are left out; their hashes are only
	// known by reading them, so that costs one extra read of those files.
	if (bHasBase)
	{
		for (FPlannedPak& Pak : Planned)
		{
			const QHash<QString, QString> Any = Base.value(QString());
			const QHash<QString, QString> Own = Base.value(TargetPlatformToString(Pak.Platform));
			QList<FPakListEntry> Kept;
			for (const FPakListEntry& Entry : std::as_const(Pak.Entries))
			{
				const QString Known = Own.value(Entry.MountPath, Any.value(Entry.MountPath));
				if (!Known.isEmpty())
				{
					const QByteArray Sha1 = DigestOfFile(EDigestKind::Sha1, Entry.SourceFile);
					if (!Sha1.isEmpty() && QString::fromLatin1(Sha1.toHex()) == Known)
					{
						continue;
					}
				}
				Kept.append(Entry);
			}
			UE_LOG(LogHotPatcher, Display,
			       QStringLiteral("%1: %2 of %3 files are already in the base version")
			           .arg(TargetPlatformToString(Pak.Platform))
			           .arg(Pak.Entries.size() - Kept.size())
			           .arg(Pak.Entries.size()));
			Pak.Entries = Kept;
		}
	}

	for (const FPlannedPak& Pak : std::as_const(Planned))
	{
		for (const FPakListEntry& Entry : Pak.Entries)
		{
			TotalBytes += Entry.Size;
		}
	}
	ReportProgress(0);
	QList<FPlatformResult> Results;
	for (const FPlannedPak& Pak : std::as_const(Planned))
	{
		FPlatformResult Result;
		Result.Platform = TargetPlatformToString(Pak.Platform);
		Result.PakRelativePath = FPaths::Combine(Result.Platform, FPaths::GetCleanFilename(Pak.Path));
		if (!WritePak(Pak.Path, Pak.Entries, Result))
		{
			return Finish(false);
		}
		Results.append(Result);
	}

	// The check code covers every packed path and hash of every platform, in pak order.
	FDigest CheckCode(EDigestKind::Sha1);
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("VersionId"), Settings.VersionId);
	for (const FPlatformResult& Result : std::as_const(Results))
	{
		const QByteArray PlatformLine = Result.Platform.toUtf8() + '\n';
		CheckCode.Update(PlatformLine.constData(), size_t(PlatformLine.size()));
		for (const auto& [MountPath, Info] : Result.Files)
		{
			const QByteArray FileLine = MountPath.toUtf8() + '\n' + Info.FileSha1.toHex() + '\n';
			CheckCode.Update(FileLine.constData(), size_t(FileLine.size()));
		}
	}
	Writer.WriteValue(QStringLiteral("CheckCode"), QString::fromLatin1(CheckCode.Final<QByteArray>().toHex()));
	Writer.WriteArrayStart(QStringLiteral("Platforms"));
	for (const FPlatformResult& Result : std::as_const(Results))
	{
		Writer.WriteObjectStart();
		Writer.WriteValue(QStringLiteral("Platform"), Result.Platform);
		Writer.WriteValue(QStringLiteral("Pak"), Result.PakRelativePath);
		Writer.WriteArrayStart(QStringLiteral("Files"));
		for (const auto& [MountPath, Info] : Result.Files)
		{
			Writer.WriteObjectStart();
			Writer.WriteValue(QStringLiteral("Path"), MountPath);
			// The file's own hash and size, whatever the pak stores: a later build compares its
			// files with them.
			Writer.WriteValue(QStringLiteral("Hash"), QString::fromLatin1(Info.FileSha1.toHex()));
			Writer.WriteValue(QStringLiteral("Size"), Info.UncompressedSize);
			Writer.WriteObjectEnd();
		}
		Writer.WriteArrayEnd();
		Writer.WriteObjectEnd();
	}
	Writer.WriteArrayEnd();
	Writer.WriteObjectEnd();

	const QString VersionFile = FPaths::Combine(VersionDir, Settings.VersionId + QStringLiteral("_PakVersion.json"));
	QString Reason;
	if (!FFileHelper::SaveStringToFile(Writer.Close(), VersionFile, &Reason))
	{
		Fail(QStringLiteral("Cannot write %1: %2").arg(VersionFile, Reason));
		return Finish(false);
	}
	UE_LOG(LogHotPatcher, Display, QStringLiteral("Wrote %1").arg(VersionFile));
	return Finish(true);
}
} // namespace

int RunHotPatcherCommandlet(FEditorHost& Host, const QStringList& Arguments, QString& OutFailure)
{
	const QString ConfigPath = GetCommandLineSwitch(Arguments, QStringLiteral("config"));
	if (ConfigPath.isEmpty())
	{
		OutFailure = QStringLiteral("-run=HotPatcher needs -config=FILE");
		return 2;
	}
	QFile File(ConfigPath);
	if (!File.open(QIODevice::ReadOnly))
	{
		OutFailure = QStringLiteral("Cannot read the settings file %1: %2").arg(ConfigPath, File.errorString());
		return 1;
	}
	FExportPatchSettings Settings;
	Settings.SetProjectDir(Host.Paths().ProjectDir());
	QString Error;
	if (!TDeserializeJsonStringAsStruct(QString::fromUtf8(File.readAll()), Settings, &Error))
	{
		OutFailure = QStringLiteral("Malformed settings file %1: %2").arg(ConfigPath, Error);
		return 1;
	}
	UE_LOG(LogHotPatcher, Display,
	       QStringLiteral("Building %1 for %2")
	           .arg(Settings.VersionId,
	                [&]
	                {
		                QStringList Names;
		                for (const ETargetPlatform Platform : std::as_const(Settings.PakTargetPlatforms))
		                {
			                Names.append(TargetPlatformToString(Platform));
		                }
		                return Names.join(QLatin1Char(','));
	                }()));
	FHotPatcherBuild Build(Host, Settings);
	if (!Build.Run(OutFailure))
	{
		return 1;
	}
	return 0;
}
