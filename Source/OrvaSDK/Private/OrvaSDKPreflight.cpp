// The pre-flight report of the current world: everything here is read from the asset registry and
// the files on disk, on the main thread, without building, moving or sending anything. A build of
// a large world takes an hour; this takes about a second, so the tab runs it before every build.

#include "OrvaSDKPreflight.h"

#include "AssetRegistry.h"
#include "EditorHost.h"
#include "ObjectClasses.h"
#include "OrvaAsyncFileUploader.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSubsystem.h"
#include "PackageName.h"
#include "Paths.h"
#include "Text.h"

#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QSet>

#include <algorithm>
#include <filesystem>
#include <system_error>

#define LOCTEXT_NAMESPACE "OrvaSDK"

namespace
{
const QString GameMount = QStringLiteral("Game");
const QString EngineMount = QStringLiteral("Engine");
// The name a new world gets from the service until the creator names it.
const QString DefaultWorldName = QStringLiteral("NewWorld");
const QStringList DefaultPlatforms{QStringLiteral("WindowsServer"), QStringLiteral("WindowsClient")};

QString Bytes(qint64 Count)
{
	return QLocale().formattedDataSize(Count, 1, QLocale::DataSizeIecFormat);
}

QString Number(qint64 Count)
{
	return QLocale().toString(Count);
}

// Names Windows will not create: reserved device names and the characters it refuses.
bool IsRefusedByWindows(const QString& FileName)
{
	static const QSet<QString> Reserved{
	    QStringLiteral("con"),  QStringLiteral("prn"),  QStringLiteral("aux"),  QStringLiteral("nul"),
	    QStringLiteral("com1"), QStringLiteral("com2"), QStringLiteral("com3"), QStringLiteral("com4"),
	    QStringLiteral("com5"), QStringLiteral("com6"), QStringLiteral("com7"), QStringLiteral("com8"),
	    QStringLiteral("com9"), QStringLiteral("lpt1"), QStringLiteral("lpt2"), QStringLiteral("lpt3"),
	    QStringLiteral("lpt4"), QStringLiteral("lpt5"), QStringLiteral("lpt6"), QStringLiteral("lpt7"),
	    QStringLiteral("lpt8"), QStringLiteral("lpt9")};
	if (FileName.endsWith(QLatin1Char(' ')) || FileName.endsWith(QLatin1Char('.')))
	{
		return true;
	}
	for (const QChar C : FileName)
	{
		if (C.unicode() < 32 || QStringView(u"<>:\"|?*\\").contains(C))
		{
			return true;
		}
	}
	return Reserved.contains(FileName.section(QLatin1Char('.'), 0, 0).toLower());
}

// One file a pak would carry.
struct FPackedFile
{
	// On disk.
	QString FilePath;
	// Below the client's install folder, with "/" as the separator: "ORVAClient/Content/W1/Maps/Entry.umap".
	QString InstalledPath;
	qint64 Size = 0;
};

// Builds one report; lives for one call.
class FPreflightBuilder
{
public:
	FPreflightBuilder(const UOrvaSDKSubsystem& InSdk, FAssetRegistry& InRegistry, const FPaths& InPaths)
	    : Sdk(InSdk)
	    , Registry(InRegistry)
	    , Paths(InPaths)
	{
		Report.InstallFolder = OrvaPreflight::ClientInstallFolder();
		Report.UploadLimitBytes = UOrvaAsyncFileUploader::UploadLimitFor(&Sdk);
	}

	FOrvaPreflightReport Run(const UOrvaDataCacheSubsystem* Cache)
	{
		const FWorkspaceData& Workspace = Sdk.CurrWorkspace;
		if (Workspace.WorldId.isEmpty() || Workspace.WorldIdentifier.isEmpty())
		{
			Add(EOrvaPreflightLevel::Error, LOCTEXT("Preflight_World", "World").ToString(),
			    LOCTEXT("Preflight_NoWorld", "No world is chosen.").ToString(),
			    LOCTEXT("Preflight_NoWorldHint", "Pick one of your worlds under My Worlds, or create one with +.")
			        .ToString());
			return Finish();
		}
		WorldSubject = Workspace.WorldIdentifier;
		if (!Workspace.bEditable)
		{
			Add(EOrvaPreflightLevel::Error, WorldSubject,
			    LOCTEXT("Preflight_NotEditable",
			            "This world's folder is not in this project, so it cannot be built here.")
			        .ToString(),
			    LOCTEXT("Preflight_NotEditableHint", "Open the project the world was created in.").ToString());
			return Finish();
		}
		CheckWorldDetails(Workspace, Cache);
		if (!CheckEntryMap(Workspace))
		{
			return Finish();
		}
		WalkClosure();
		CheckRelocation();
		CheckReferences();
		CollectExtraFiles();
		CheckFolders();
		CheckPathLengths();
		EstimatePaks();
		return Finish();
	}

private:
	const UOrvaSDKSubsystem& Sdk;
	FAssetRegistry& Registry;
	const FPaths& Paths;
	FOrvaPreflightReport Report;
	QString WorldSubject;
	QString EntryPackage;
	// The entry map and every package it needs, as the relocation finds them.
	QStringList Closure;
	// The packages of Closure outside the workspace folder.
	QStringList Outside;
	bool bEntryOutside = false;
	QList<FPackedFile> Packages;
	QList<FPackedFile> ConfigFiles;
	QList<FPackedFile> ExtendFiles;

	void Add(EOrvaPreflightLevel Level, const QString& Subject, const QString& Message, const QString& Hint)
	{
		Report.Findings.append(FOrvaPreflightFinding{Level, Subject, Message, Hint});
	}

	// One finding per subject up to the cap, then one that counts the rest.
	template <class FAddOne>
	void AddListed(const QStringList& Subjects, EOrvaPreflightLevel Level, FAddOne&& AddOne)
	{
		const qsizetype Shown = std::min<qsizetype>(Subjects.size(), OrvaPreflight::MaxListedPerKind);
		for (qsizetype Index = 0; Index < Shown; ++Index)
		{
			AddOne(Subjects[Index]);
		}
		if (Subjects.size() > Shown)
		{
			const FOrvaPreflightFinding& Last = Report.Findings.constLast();
			Add(Level,
			    FText::Format(LOCTEXT("Preflight_More", "{0} more"), {Number(Subjects.size() - Shown)}).ToString(),
			    FText::Format(LOCTEXT("Preflight_MoreMessage", "{0} more like the one above."),
			                  {Number(Subjects.size() - Shown)})
			        .ToString(),
			    Last.Hint);
		}
	}

	FOrvaPreflightReport Finish()
	{
		std::stable_sort(Report.Findings.begin(), Report.Findings.end(),
		                 [](const FOrvaPreflightFinding& A, const FOrvaPreflightFinding& B)
		                 { return int(A.Level) < int(B.Level); });
		return std::move(Report);
	}

	QString WorkspaceFolder() const { return QStringLiteral("/Game/") + Sdk.GetKeyFolderName(); }

	void CheckWorldDetails(const FWorkspaceData& Workspace, const UOrvaDataCacheSubsystem* Cache)
	{
		const QString Name = Workspace.TitleName.trimmed();
		if (Name.isEmpty() || Name == DefaultWorldName)
		{
			Add(EOrvaPreflightLevel::Warning, WorldSubject,
			    FText::Format(LOCTEXT("Preflight_DefaultName", "The world still has the default name \"{0}\"."),
			                  {Name.isEmpty() ? DefaultWorldName : Name})
			        .ToString(),
			    LOCTEXT("Preflight_DefaultNameHint", "Type the name players will see under Information, Name.")
			        .ToString());
		}
		if (Workspace.Description.trimmed().isEmpty())
		{
			Add(EOrvaPreflightLevel::Warning, WorldSubject,
			    LOCTEXT("Preflight_NoDescription", "The world has no description.").ToString(),
			    LOCTEXT("Preflight_NoDescriptionHint", "Tell players what awaits them under Information, Description.")
			        .ToString());
		}
		bool bTitleImage = false;
		if (Cache)
		{
			for (const FOrvaWorldDataPtr& World : Cache->GetWorldList())
			{
				if (World && World->Identifier.compare(Workspace.WorldIdentifier, Qt::CaseInsensitive) == 0)
				{
					bTitleImage = World->TitleImage && !World->TitleImage->Url.isEmpty();
					break;
				}
			}
		}
		if (!bTitleImage)
		{
			Add(EOrvaPreflightLevel::Warning, WorldSubject,
			    LOCTEXT("Preflight_NoTitleImage", "The world has no title image, so it shows as a blank tile.")
			        .ToString(),
			    LOCTEXT("Preflight_NoTitleImageHint",
			            "Add a screenshot under Information, Screenshots: the first one becomes the title image.")
			        .ToString());
		}
	}

	bool CheckEntryMap(const FWorkspaceData& Workspace)
	{
		const FSoftObjectPath& Path = Workspace.ObjectPath;
		EntryPackage = Path.GetLongPackageName();
		if (EntryPackage.isEmpty())
		{
			Add(EOrvaPreflightLevel::Error, LOCTEXT("Preflight_EntryMap", "Entry map").ToString(),
			    LOCTEXT("Preflight_NoEntryMap", "No entry map is chosen: there is nothing to build.").ToString(),
			    LOCTEXT("Preflight_NoEntryMapHint", "Choose the map players start in under Entry map.").ToString());
			return false;
		}
		if (!Path.GetSubPathString().isEmpty() || !Registry.DoesPackageExistOnDisk(EntryPackage))
		{
			Add(EOrvaPreflightLevel::Error, Path.ToString(),
			    LOCTEXT("Preflight_EntryMapMissing", "The entry map does not exist in this project.").ToString(),
			    LOCTEXT("Preflight_EntryMapMissingHint",
			            "Choose an existing map under Entry map, or restore the map's file from source control.")
			        .ToString());
			return false;
		}
		if (!Registry.IsLevelPackage(EntryPackage))
		{
			Add(EOrvaPreflightLevel::Error, Path.ToString(),
			    LOCTEXT("Preflight_EntryNotMap", "The entry map is not a map.").ToString(),
			    LOCTEXT("Preflight_EntryNotMapHint", "Choose a level under Entry map.").ToString());
			return false;
		}
		return true;
	}

	void WalkClosure()
	{
		Closure = Sdk.GetDependencyClosure(EntryPackage);
		Report.PackageCount = qint32(Closure.size());
		Packages.reserve(Closure.size());
		const QString ContentRoot = QStringLiteral("ORVAClient/Content/");
		const QString Key = Sdk.GetKeyFolderName();
		for (const QString& Name : std::as_const(Closure))
		{
			const std::optional<FAssetPackageData> Data = Registry.GetAssetPackageDataCopy(Name);
			if (!Data)
			{
				continue;
			}
			Report.TotalBytes += Data->DiskSize;
			const bool bInside = Key.isEmpty() || UOrvaSDKSubsystem::LiesInWorkspaceFolder(Name, Key);
			if (!bInside)
			{
				Outside.append(Name);
				// The walk answers the entry map first.
				bEntryOutside |= Outside.size() == 1 && Name == Closure.constFirst();
			}
			// Only the project's own content is packed.
			if (FPackageName::GetMountPointName(Name).compare(GameMount, Qt::CaseInsensitive) != 0)
			{
				continue;
			}
			QString Relative = FPackageName::GetPathAfterMountPoint(Name);
			// Measured where the package will lie once the move question has been answered yes:
			// inside the workspace folder, external actors and objects beside their level.
			if (!bInside)
			{
				const qsizetype Slash =
				    FPackageName::IsExternalPackage(Name) ? Relative.indexOf(QLatin1Char('/')) + 1 : 0;
				Relative.insert(Slash, Key + QLatin1Char('/'));
			}
			Packages.append(FPackedFile{Registry.GetPackageFilename(Name), ContentRoot + Relative + Data->Extension,
			                            Data->DiskSize});
		}
		Add(EOrvaPreflightLevel::Note, EntryPackage,
		    Report.PackageCount == 1
		        ? FText::Format(
		              LOCTEXT("Preflight_ClosureAlone", "The entry map needs no other package; its file has {0}."),
		              {Bytes(Report.TotalBytes)})
		              .ToString()
		        : FText::Format(LOCTEXT("Preflight_Closure",
		                                "The entry map needs {0} packages with {1} of files, itself included."),
		                        {Number(Report.PackageCount), Bytes(Report.TotalBytes)})
		              .ToString(),
		    LOCTEXT("Preflight_ClosureHint", "Every one of them goes into each pak.").ToString());
	}

	void CheckRelocation()
	{
		if (Outside.isEmpty())
		{
			return;
		}
		const QString Destination = WorkspaceFolder();
		if (bEntryOutside)
		{
			Add(EOrvaPreflightLevel::Error, EntryPackage,
			    FText::Format(LOCTEXT("Preflight_EntryOutside",
			                          "The entry map lies outside the world's folder {0}: the client plays "
			                          "only a map in the world's folder."),
			                  {Destination})
			        .ToString(),
			    FText::Format(LOCTEXT("Preflight_EntryOutsideHint",
			                          "Choose the map again under Entry map and answer yes when asked "
			                          "to move packages: it moves into {0} with what it needs."),
			                  {Destination})
			        .ToString());
		}
		Add(EOrvaPreflightLevel::Warning, Destination,
		    Outside.size() == 1
		        ? FText::Format(
		              LOCTEXT("Preflight_OutsideOne", "1 package the map needs lies outside the world's folder {0}."),
		              {Destination})
		              .ToString()
		        : FText::Format(
		              LOCTEXT("Preflight_Outside", "{0} packages the map needs lie outside the world's folder {1}."),
		              {Number(Outside.size()), Destination})
		              .ToString(),
		    FText::Format(
		        LOCTEXT("Preflight_OutsideHint",
		                "When the map is chosen, the question to move packages moves them into {0}: the folders below "
		                "whole, with everything else in them."),
		        {Destination})
		        .ToString());

		const UOrvaSDKSubsystem::FRelocationPlan Plan = UOrvaSDKSubsystem::PlanRelocation(Outside);
		// How many of the needed packages each moved folder holds, to say what moves along.
		QHash<QString, int> NeededPerFolder;
		for (const QString& Name : std::as_const(Outside))
		{
			for (const QString& Folder : Plan.Folders)
			{
				if (FPackageName::IsUnderPath(Name, Folder))
				{
					++NeededPerFolder[Folder];
					break;
				}
			}
		}
		AddListed(
		    Plan.Folders, EOrvaPreflightLevel::Warning,
		    [&](const QString& Folder)
		    {
			    FARFilter Filter;
			    Filter.PackagePaths.append(Folder);
			    Filter.bRecursivePaths = true;
			    Filter.ClassPaths.append(FTopLevelAssetPath(UWorld::StaticClass()->GetPathName()));
			    Filter.bRecursiveClasses = true;
			    QList<FAssetData> Maps;
			    Registry.GetAssets(Filter, Maps);
			    QStringList Others;
			    for (const FAssetData& Map : std::as_const(Maps))
			    {
				    if (Map.PackageName.compare(EntryPackage, Qt::CaseInsensitive) != 0 &&
				        !Others.contains(Map.PackageName, Qt::CaseInsensitive))
				    {
					    Others.append(Map.PackageName);
				    }
			    }
			    const QString Moved = Destination + QLatin1Char('/') + Folder.section(QLatin1Char('/'), -1);
			    const int Needed = NeededPerFolder.value(Folder);
			    QString Message =
			        Needed == 1
			            ? FText::Format(
			                  LOCTEXT("Preflight_FolderMovesOne",
			                          "Moves whole to {0}: 1 package the map needs, and everything else in the "
			                          "folder."),
			                  {Moved})
			                  .ToString()
			            : FText::Format(LOCTEXT("Preflight_FolderMoves",
			                                    "Moves whole to {0}: {1} packages the map needs, and everything else "
			                                    "in the folder."),
			                            {Moved, Number(Needed)})
			                  .ToString();
			    if (!Others.isEmpty())
			    {
				    const QStringList Shown = Others.mid(0, 5);
				    Message += QLatin1Char(' ') +
				               FText::Format(LOCTEXT("Preflight_FolderOtherMaps", "Other maps move with it: {0}{1}."),
				                             {Shown.join(QStringLiteral(", ")),
				                              Others.size() > Shown.size()
				                                  ? FText::Format(LOCTEXT("Preflight_AndMore", " and {0} more"),
				                                                  {Number(Others.size() - Shown.size())})
				                                        .ToString()
				                                  : QString()})
				                   .ToString();
			    }
			    Add(EOrvaPreflightLevel::Warning, Folder, Message,
			        Others.isEmpty()
			            ? FText::Format(LOCTEXT("Preflight_FolderMovesHint",
			                                    "Other worlds or maps that use this folder will find it in {0}."),
			                            {Moved})
			                  .ToString()
			            : FText::Format(LOCTEXT("Preflight_FolderOtherMapsHint",
			                                    "If those maps belong to another world, move what this map needs "
			                                    "into {0} yourself before choosing it."),
			                            {Destination})
			                  .ToString());
		    });
		AddListed(
		    Plan.RootPackages, EOrvaPreflightLevel::Warning,
		    [&](const QString& Name)
		    {
			    Add(EOrvaPreflightLevel::Warning, Name,
			        FText::Format(LOCTEXT("Preflight_RootMoves",
			                              "Moves to {0} at once: it lies at the top of the content folder."),
			                      {Destination})
			            .ToString(),
			        LOCTEXT("Preflight_RootMovesHint", "Nothing to do unless other worlds use it too.").ToString());
		    });
	}

	void CheckReferences()
	{
		// Each referenced package once, with the first package that names it.
		QStringList Missing;
		QStringList Invalid;
		QStringList EngineUsed;
		QHash<QString, QStringList> PluginUsed;
		QHash<QString, QString> FirstReferencer;
		// Most references spell a package as its file does: the exact spelling is looked up first,
		// so a name is folded only the first time it is met in a spelling.
		QSet<QString> SeenSpelled;
		QSet<QString> Seen;
		const QList<FMountPoint> Mounts = Registry.GetMountPoints();
		QSet<QString> Mounted;
		for (const FMountPoint& Mount : Mounts)
		{
			Mounted.insert(Mount.RootPath.mid(1).toCaseFolded());
		}
		QStringList Dependencies;
		for (const QString& Name : std::as_const(Closure))
		{
			Dependencies.clear();
			Registry.GetDependencies(Name, Dependencies);
			for (const QString& Dependency : std::as_const(Dependencies))
			{
				if (FPackageName::IsScriptPackage(Dependency))
				{
					continue;
				}
				if (SeenSpelled.contains(Dependency))
				{
					continue;
				}
				SeenSpelled.insert(Dependency);
				const QString Folded = Dependency.toCaseFolded();
				if (Seen.contains(Folded))
				{
					continue;
				}
				Seen.insert(Folded);
				FirstReferencer.insert(Dependency, Name);
				if (!FPackageName::IsValidLongPackageName(Dependency))
				{
					Invalid.append(Dependency);
					continue;
				}
				const QString Mount = FPackageName::GetMountPointName(Dependency);
				if (!Mounted.contains(Mount.toCaseFolded()))
				{
					if (Mount.compare(EngineMount, Qt::CaseInsensitive) == 0)
					{
						EngineUsed.append(Dependency);
					}
					else
					{
						Missing.append(Dependency);
					}
					continue;
				}
				if (!Registry.DoesPackageExistOnDisk(Dependency))
				{
					Missing.append(Dependency);
				}
				else if (Mount.compare(EngineMount, Qt::CaseInsensitive) == 0)
				{
					EngineUsed.append(Dependency);
				}
				else if (Mount.compare(GameMount, Qt::CaseInsensitive) != 0)
				{
					PluginUsed[Mount].append(Dependency);
				}
			}
		}

		AddListed(
		    Missing, EOrvaPreflightLevel::Error,
		    [&](const QString& Name)
		    {
			    Add(EOrvaPreflightLevel::Error, Name,
			        FText::Format(LOCTEXT("Preflight_Missing",
			                              "Referenced by {0}, but there is no such package: the pak will "
			                              "lack it and the world may not load."),
			                      {FirstReferencer.value(Name)})
			            .ToString(),
			        FText::Format(LOCTEXT("Preflight_MissingHint",
			                              "Restore the package, or open {0} and remove or replace the reference."),
			                      {FirstReferencer.value(Name)})
			            .ToString());
		    });
		AddListed(
		    Invalid, EOrvaPreflightLevel::Error,
		    [&](const QString& Name)
		    {
			    QString Reason;
			    FPackageName::IsValidLongPackageName(Name, &Reason);
			    Add(EOrvaPreflightLevel::Error, Name,
			        FText::Format(LOCTEXT("Preflight_InvalidReference",
			                              "Referenced by {0}, but the engine refuses the name: {1}."),
			                      {FirstReferencer.value(Name), Reason})
			            .ToString(),
			        LOCTEXT("Preflight_InvalidReferenceHint",
			                "Rename the package without \\ : * ? \" < > | ' , . & ! ~ @ # and fix up the reference.")
			            .ToString());
		    });
		for (auto It = PluginUsed.cbegin(); It != PluginUsed.cend(); ++It)
		{
			const QString Example = It.value().constFirst();
			Add(EOrvaPreflightLevel::Warning, QLatin1Char('/') + It.key(),
			    It.value().size() == 1
			        ? FText::Format(LOCTEXT("Preflight_PluginContentOne",
			                                "The map uses {1}, content of the plugin {0} (from {2}); the pak does not "
			                                "carry it and the "
			                                "player client does not have it."),
			                        {It.key(), Example, FirstReferencer.value(Example)})
			              .ToString()
			        : FText::Format(LOCTEXT("Preflight_PluginContent",
			                                "The map uses {0} packages of the plugin {1} (for example {2}, from {3}); "
			                                "the pak does not "
			                                "carry them and the player client does not have them."),
			                        {Number(It.value().size()), It.key(), Example, FirstReferencer.value(Example)})
			              .ToString(),
			    FText::Format(LOCTEXT("Preflight_PluginContentHint",
			                          "Copy what the world needs from /{0} into {1}, and point the "
			                          "references there."),
			                  {It.key(), WorkspaceFolder()})
			        .ToString());
		}
		if (!EngineUsed.isEmpty())
		{
			const QString& Example = EngineUsed.constFirst();
			Add(EOrvaPreflightLevel::Note, QStringLiteral("/Engine"),
			    EngineUsed.size() == 1
			        ? FText::Format(
			              LOCTEXT("Preflight_EngineContentOne",
			                      "The map uses the engine package {0} (from {1}); the pak does not carry it."),
			              {Example, FirstReferencer.value(Example)})
			              .ToString()
			        : FText::Format(LOCTEXT("Preflight_EngineContent", "The map uses {0} engine packages (for example "
			                                                           "{1}, from {2}); the pak does not carry them."),
			                        {Number(EngineUsed.size()), Example, FirstReferencer.value(Example)})
			              .ToString(),
			    LOCTEXT("Preflight_EngineContentHint",
			            "The player client brings the engine's own content; nothing to do unless you changed it.")
			        .ToString());
		}
	}

	void CollectFolder(const QString& Folder, QList<FPackedFile>& Out)
	{
		QDirIterator It(Folder, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
		while (It.hasNext())
		{
			It.next();
			const QFileInfo Info = It.fileInfo();
			Out.append(FPackedFile{
			    Info.filePath(), QStringLiteral("ORVAClient/") + Info.filePath().mid(Folder.size() + 1), Info.size()});
		}
	}

	// The workspace's "Config" folder goes into every pak, "ExtendFiles" into the client's.
	void CollectExtraFiles()
	{
		const QString Root = FPaths::Combine(Paths.ProjectContentDir(), Sdk.GetKeyFolderName());
		CollectFolder(FPaths::Combine(Root, QStringLiteral("Config")), ConfigFiles);
		CollectFolder(FPaths::Combine(Root, QStringLiteral("ExtendFiles")), ExtendFiles);
		for (const QList<FPackedFile>* Files : {&ConfigFiles, &ExtendFiles})
		{
			QStringList Refused;
			for (const FPackedFile& File : *Files)
			{
				if (IsRefusedByWindows(File.InstalledPath.section(QLatin1Char('/'), -1)))
				{
					Refused.append(File.FilePath);
				}
			}
			AddListed(Refused, EOrvaPreflightLevel::Error,
			          [&](const QString& Path)
			          {
				          Add(EOrvaPreflightLevel::Error, Path,
				              LOCTEXT("Preflight_WindowsName", "Windows cannot create a file of this name, so the "
				                                               "client cannot be installed with it.")
				                  .ToString(),
				              LOCTEXT("Preflight_WindowsNameHint", "Rename it without < > : \" | ? * \\, without a "
				                                                   "trailing dot or blank, and not CON, NUL, COM1 and "
				                                                   "the like.")
				                  .ToString());
			          });
		}
	}

	// The folders the map's packages lie in, and the folders above them up to the content
	// folder: names that differ only in letter case are one on Windows, and names the engine
	// refuses are left out of the registry (and so out of the pak).
	void CheckFolders()
	{
		// As the registry spells the folder, which the package files' paths start with.
		QString Content = Paths.ProjectContentDir();
		for (const FMountPoint& Mount : Registry.GetMountPoints())
		{
			if (Mount.RootPath.compare(QStringLiteral("/Game"), Qt::CaseInsensitive) == 0)
			{
				Content = Mount.ContentDir;
			}
		}
		QSet<QString> Folders;
		for (const FPackedFile& File : std::as_const(Packages))
		{
			QString Folder = File.FilePath.left(File.FilePath.lastIndexOf(QLatin1Char('/')));
			while (Folder.size() >= Content.size() - 1 && !Folders.contains(Folder))
			{
				Folders.insert(Folder);
				Folder = Folder.left(Folder.lastIndexOf(QLatin1Char('/')));
			}
		}
		QStringList SortedFolders = Folders.values();
		SortedFolders.sort();
		QStringList Clashes;
		QHash<QString, QString> ClashOf;
		QStringList Refused;
		QHash<QString, QString> RefusedWhy;
		for (const QString& Folder : std::as_const(SortedFolders))
		{
			std::error_code Error;
			QHash<QString, QString> ByFolded;
			for (std::filesystem::directory_iterator It(Folder.toStdString(), Error), End; !Error && It != End;
			     It.increment(Error))
			{
				const QString Name = QString::fromStdString(It->path().filename().string());
				const QString Folded = Name.toCaseFolded();
				const auto Found = ByFolded.constFind(Folded);
				if (Found != ByFolded.cend())
				{
					const QString Path = Folder + QLatin1Char('/') + Name;
					Clashes.append(Path);
					ClashOf.insert(Path, Found.value());
				}
				else
				{
					ByFolded.insert(Folded, Name);
				}
				// A folder or package file whose name cannot be part of a package name: the registry
				// leaves it (and all below a folder) out.
				QString Stem = Name;
				bool bPackageName = false;
				if (It->is_directory(Error))
				{
					bPackageName = !Name.startsWith(QLatin1Char('.'));
				}
				else
				{
					for (const QLatin1String Extension : {QLatin1String(".uasset"), QLatin1String(".umap")})
					{
						if (Name.endsWith(Extension, Qt::CaseInsensitive))
						{
							Stem.chop(Extension.size());
							bPackageName = true;
						}
					}
				}
				Error.clear();
				QString Reason;
				if (bPackageName && !FPackageName::IsValidObjectName(Stem, &Reason))
				{
					const QString Path = Folder.mid(Content.size()) + QLatin1Char('/') + Name;
					Refused.append(Path);
					RefusedWhy.insert(Path, Reason);
				}
			}
		}
		AddListed(Clashes, EOrvaPreflightLevel::Error,
		          [&](const QString& Path)
		          {
			          Add(EOrvaPreflightLevel::Error, Path.mid(Content.size()),
			              FText::Format(LOCTEXT("Preflight_CaseClash",
			                                    "Differs from {0} beside it only in letter case: on Windows "
			                                    "the two are one, and the pak keeps only one of them."),
			                            {ClashOf.value(Path)})
			                  .ToString(),
			              LOCTEXT("Preflight_CaseClashHint", "Rename or remove one of the two.").ToString());
		          });
		AddListed(Refused, EOrvaPreflightLevel::Warning,
		          [&](const QString& Path)
		          {
			          Add(EOrvaPreflightLevel::Warning, Path,
			              FText::Format(LOCTEXT("Preflight_RefusedName",
			                                    "The engine refuses this file's name ({0}), so the file is "
			                                    "left out of the pak."),
			                            {RefusedWhy.value(Path)})
			                  .ToString(),
			              LOCTEXT("Preflight_RefusedNameHint",
			                      "Rename it without \\ : * ? \" < > | ' , . & ! ~ @ # if the world needs it.")
			                  .ToString());
		          });
	}

	void CheckPathLengths()
	{
		QString Install = Report.InstallFolder;
		if (!Install.endsWith(QLatin1Char('\\')))
		{
			Install += QLatin1Char('\\');
		}
		QStringList TooLong;
		QHash<QString, int> Lengths;
		for (const QList<FPackedFile>* Files : {&Packages, &ConfigFiles, &ExtendFiles})
		{
			for (const FPackedFile& File : *Files)
			{
				const int Length = int(Install.size() + File.InstalledPath.size());
				if (Length >= OrvaPreflight::WindowsMaxPath)
				{
					TooLong.append(File.InstalledPath);
					Lengths.insert(File.InstalledPath, Length);
				}
			}
		}
		AddListed(TooLong, EOrvaPreflightLevel::Error,
		          [&](const QString& Path)
		          {
			          const int Length = Lengths.value(Path);
			          Add(EOrvaPreflightLevel::Error, Path,
			              FText::Format(LOCTEXT("Preflight_PathTooLong",
			                                    "Installed in {0}, the path has {1} characters: Windows opens "
			                                    "at most {2}."),
			                            {Report.InstallFolder, QString::number(Length),
			                             QString::number(OrvaPreflight::WindowsMaxPath - 1)})
			                  .ToString(),
			              FText::Format(LOCTEXT("Preflight_PathTooLongHint",
			                                    "Shorten the folder or file names by {0} characters."),
			                            {QString::number(Length - OrvaPreflight::WindowsMaxPath + 1)})
			                  .ToString());
		          });
	}

	// How well a group of files compresses: zlib at the packer's level on the first block of up to
	// SampleFiles files spread evenly over the group, each block counted as the packer stores it
	// (compressed with its block table entry, or as it is when that is not smaller).
	static double CompressionRatio(const QList<FPackedFile>& Files)
	{
		constexpr int SampleFiles = 32;
		constexpr qint64 BlockSize = 64 * 1024;
		constexpr int PackerLevel = 5;
		qint64 Raw = 0;
		qint64 Stored = 0;
		const qsizetype Count = Files.size();
		const qsizetype Step = std::max<qsizetype>(1, Count / SampleFiles);
		for (qsizetype Index = 0; Index < Count; Index += Step)
		{
			QFile File(Files[Index].FilePath);
			if (!File.open(QIODevice::ReadOnly))
			{
				continue;
			}
			const QByteArray Block = File.read(BlockSize);
			if (Block.isEmpty())
			{
				continue;
			}
			// qCompress adds a 4-byte length the packer does not write; the block table entry is 16.
			const qint64 Compressed = qCompress(Block, PackerLevel).size() - 4 + 16;
			Raw += Block.size();
			Stored += std::min<qint64>(Compressed, Block.size());
		}
		return Raw > 0 ? double(Stored) / double(Raw) : 1.0;
	}

	// Per entry besides its bytes: the 53-byte header (plus 4 for the block count when
	// compressed), the encoded entry in the index (at most 4 + 8 + 8 + 8) and the file's name in
	// the directory index (its length, 4 + 4); then the footer and the index's fixed parts.
	static qint64 Overhead(const QList<FPackedFile>& Files)
	{
		qint64 Bytes = 0;
		for (const FPackedFile& File : Files)
		{
			Bytes += 53 + 4 + 28 + 8 + File.InstalledPath.section(QLatin1Char('/'), -1).size() + 1;
		}
		return Bytes;
	}

	// The packer compresses every entry in 64 KiB zlib blocks and stores a block as it is when
	// compressing does not make it smaller. So a pak is about the content times the ratio a sample
	// of its files compresses at, plus the entries' headers and index; it is never more than the
	// content plus that overhead, which the upper bound below uses.
	void EstimatePaks()
	{
		const double PackageRatio = CompressionRatio(Packages);
		const double ConfigRatio = CompressionRatio(ConfigFiles);
		const double ExtendRatio = CompressionRatio(ExtendFiles);
		auto Sum = [](const QList<FPackedFile>& Files)
		{
			qint64 Total = 0;
			for (const FPackedFile& File : Files)
			{
				Total += File.Size;
			}
			return Total;
		};
		const qint64 PackageBytes = Sum(Packages);
		const qint64 ConfigBytes = Sum(ConfigFiles);
		const qint64 ExtendBytes = Sum(ExtendFiles);
		constexpr qint64 FixedIndexBytes = 221 + 512;
		const qint64 PackageOverhead = Overhead(Packages);
		const qint64 ConfigOverhead = Overhead(ConfigFiles);
		const qint64 ExtendOverhead = Overhead(ExtendFiles);

		QStringList Platforms = Sdk.GetTargetPlatforms();
		if (Platforms.isEmpty())
		{
			Platforms = Sdk.OnlyBuildServer() ? QStringList{DefaultPlatforms.constFirst()} : DefaultPlatforms;
		}
		const qint64 Limit = Report.UploadLimitBytes;
		for (const QString& Platform : std::as_const(Platforms))
		{
			const bool bClient = !Platform.endsWith(QLatin1String("Server"), Qt::CaseInsensitive);
			FOrvaPreflightPak Pak;
			Pak.Platform = Platform;
			Pak.FileCount = qint32(Packages.size() + ConfigFiles.size() + (bClient ? ExtendFiles.size() : 0));
			Pak.ContentBytes = PackageBytes + ConfigBytes + (bClient ? ExtendBytes : 0);
			const qint64 Overheads =
			    PackageOverhead + ConfigOverhead + (bClient ? ExtendOverhead : 0) + FixedIndexBytes;
			const double Compressed = double(PackageBytes) * PackageRatio + double(ConfigBytes) * ConfigRatio +
			                          (bClient ? double(ExtendBytes) * ExtendRatio : 0.0);
			Pak.EstimatedBytes = qint64(Compressed) + Overheads;
			const qint64 UpperBound = Pak.ContentBytes + Overheads;
			Report.Paks.append(Pak);
			Report.EstimatedPakBytes = std::max(Report.EstimatedPakBytes, Pak.EstimatedBytes);

			const QStringList Arguments{Platform, Bytes(Pak.EstimatedBytes), Bytes(Pak.ContentBytes),
			                            Number(Pak.FileCount), Bytes(Limit)};
			if (Pak.EstimatedBytes > Limit)
			{
				Add(EOrvaPreflightLevel::Error, Platform,
				    FText::Format(LOCTEXT("Preflight_PakOverLimit",
				                          "The {0} pak would be about {1} ({2} in {3} files before "
				                          "compression), over the upload limit of {4}."),
				                  Arguments)
				        .ToString(),
				    LOCTEXT("Preflight_PakOverLimitHint",
				            "Leave out what the map does not need, or, if your storage takes larger objects, raise "
				            "[AwsS3] MaxUploadBytes in OrvaSDK.ini.")
				        .ToString());
			}
			else if (UpperBound > Limit)
			{
				Add(EOrvaPreflightLevel::Warning, Platform,
				    FText::Format(LOCTEXT("Preflight_PakNearLimit",
				                          "The {0} pak would be about {1} ({2} in {3} files before "
				                          "compression): within the upload limit of {4} only if it "
				                          "compresses as well as the files sampled."),
				                  Arguments)
				        .ToString(),
				    LOCTEXT("Preflight_PakNearLimitHint",
				            "Leave out what the map does not need to be on the safe side.")
				        .ToString());
			}
			else
			{
				Add(EOrvaPreflightLevel::Note, Platform,
				    FText::Format(LOCTEXT("Preflight_PakSize",
				                          "The {0} pak will be about {1} ({2} in {3} files before compression), "
				                          "within the upload limit of {4}."),
				                  Arguments)
				        .ToString(),
				    QString());
			}
		}
	}
};
} // namespace

int FOrvaPreflightReport::Count(EOrvaPreflightLevel Level) const
{
	return int(std::count_if(Findings.cbegin(), Findings.cend(),
	                         [Level](const FOrvaPreflightFinding& Finding) { return Finding.Level == Level; }));
}

QString OrvaPreflight::ClientInstallFolder()
{
	return QStringLiteral("C:\\Program Files\\ORVA");
}

FOrvaPreflightReport UOrvaSDKSubsystem::GetPreflightReport() const
{
	FPreflightBuilder Builder(*this, GetHost()->AssetRegistry(), GetHost()->Paths());
	return Builder.Run(GetDataCache());
}

#undef LOCTEXT_NAMESPACE
