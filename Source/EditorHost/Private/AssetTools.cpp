#include "AssetTools.h"

#include "AssetRegistry.h"
#include "Dialogs.h"
#include "DurableWrite.h"
#include "Log.h"
#include "ObjectClasses.h"
#include "OffMainThread.h"
#include "PackageFile.h"
#include "PackageName.h"
#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>

namespace
{
QString Folded(const QString& Text)
{
	return Text.toCaseFolded();
}

bool SameName(const QString& A, const QString& B)
{
	return A.compare(B, Qt::CaseInsensitive) == 0;
}

// Package files read ahead at once: beyond this the rest is read when it is needed.
constexpr qsizetype MaxPrefetchBytes = qsizetype(64) * 1024 * 1024;
constexpr qsizetype MovePrefetchWindow = 1024;

class FBusyScope
{
public:
	explicit FBusyScope(bool& InFlag)
	    : Flag(InFlag)
	{
		Flag = true;
	}
	~FBusyScope() { Flag = false; }
	FBusyScope(const FBusyScope&) = delete;
	FBusyScope& operator=(const FBusyScope&) = delete;

private:
	bool& Flag;
};
} // namespace

struct FAssetTools::FPrefetchedFile
{
	bool bRead = false;
	QString ReadError;
	QByteArray Bytes;
	std::optional<FPackageFile> File;
	QString ParseError;
};

// Where each redirector of a fix-up finally leads; read by the workers, never changed meanwhile.
struct FAssetTools::FFixupTargets
{
	QHash<QString, QString> FinalObject;       // folded redirector object path -> final object path
	QHash<QString, QStringList> FinalPackages; // folded redirector package -> final packages
};

// A package of a move, read before anything is written.
struct FAssetTools::FMoveItem
{
	QString OldName;
	QString NewName;
	QString OldFile;
	QString NewFile;
	QString Extension;
	QByteArray Bytes;
	FPackageFile File;
	// Bytes are the old file's as read: the new file can be the same file under a second name.
	bool bSameAsOldFile = true;
};

// A move read and checked, waiting for its batch to be written.
struct FAssetTools::FPendingMove
{
	// As the caller named it, for messages.
	QString RequestedOldName;
	FMoveItem Main;
	// A level's external packages, which move with it.
	QList<FMoveItem> Externals;
	QString OldShort;
	QString NewShort;
	// A redirector at the new name that points back at this package, replaced by the move.
	QString ReplacedName;
	QString ReplacedFile;
	QByteArray ReplacedBytes;
	FPackageFile Redirector;
	QByteArray RedirectorBytes;

	// While the batch is written: the new files in place, whether the replaced redirector was
	// overwritten, the redirector's temporary file, and whether the move was given up.
	QStringList Written;
	bool bOverwroteReplaced = false;
	QString RedirectorTemp;
	bool bFailed = false;
	// Said on the worker, logged on the main thread: why the move was given up, and other lines.
	QString Error;
	QList<QPair<ELogVerbosity, QString>> Logs;
};

// ---- FLoadedObject ----

bool FLoadedObject::IsA(const UClass* Class) const
{
	return this->Class && Class && this->Class->IsChildOf(Class);
}

bool FLoadedObject::IsRedirector() const
{
	return IsA(UObjectRedirector::StaticClass());
}

// ---- FAssetTools ----

FAssetTools::FAssetTools(FAssetRegistry& InRegistry, std::function<FDialogService*()> InDialogProvider)
    : Registry(InRegistry)
    , DialogProvider(std::move(InDialogProvider))
    , Workers(std::make_unique<QThreadPool>())
{
	// Its own threads: the host's pool may be busy with long uploads.
	Workers->setMaxThreadCount(std::max(2, QThread::idealThreadCount()));
}

FAssetTools::~FAssetTools() = default;

FObjectPtr FAssetTools::FindObject(const QString& ObjectPath) const
{
	const FObjectPtr Object = Loaded.value(Folded(ObjectPath));
	return Object && Object->IsValid() ? Object : nullptr;
}

FObjectPtr FAssetTools::LoadObject(const QString& ObjectPath, bool bNoRedirects)
{
	QString Path = ObjectPath;
	// A chain of redirectors ends at a real object; a loop of them ends the walk.
	for (int Hop = 0; Hop < 32; ++Hop)
	{
		FObjectPtr Object = FindObject(Path);
		if (!Object)
		{
			const QString PackageName = FPackageName::ObjectPathToPackageName(Path);
			const QString Name = FPackageName::ObjectPathToObjectName(Path);
			if (!FPackageName::IsValidObjectPath(Path) || Path.contains(QLatin1Char(':')))
			{
				UE_LOG(LogEditorHost, Error,
				       QStringLiteral("Failed to load ") + Path + QStringLiteral(": not an object path"));
				return nullptr;
			}
			const QString Filename = Registry.GetPackageFilename(PackageName);
			if (Filename.isEmpty())
			{
				UE_LOG(LogEditorHost, Error,
				       QStringLiteral("Failed to load ") + Path + QStringLiteral(": no package ") + PackageName +
				           QStringLiteral(" on disk"));
				return nullptr;
			}
			QString Reason;
			std::optional<FPackageFile> File;
			if (const auto Ahead = Prefetched.find(Filename); Ahead != Prefetched.end())
			{
				File = std::move(Ahead->File);
				Reason = Ahead->bRead ? Ahead->ParseError : QStringLiteral("cannot be read: ") + Ahead->ReadError;
				Prefetched.erase(Ahead);
			}
			else
			{
				File = FPackageFile::LoadFromFile(Filename, &Reason);
			}
			if (!File)
			{
				UE_LOG(LogEditorHost, Error,
				       QStringLiteral("Failed to load ") + Path + QStringLiteral(": ") + Filename +
				           QStringLiteral(" ") + Reason);
				return nullptr;
			}
			QString CorrectCase = PackageName;
			Registry.DoesPackageExistOnDisk(PackageName, &CorrectCase);
			for (const FPackageAsset& Asset : File->Assets)
			{
				if (SameName(Asset.Name, Name))
				{
					Object = std::make_shared<FLoadedObject>();
					Object->PackageName = CorrectCase;
					Object->Name = Asset.Name;
					Object->ClassPath = Asset.ClassPath;
					Object->Destination = Asset.Destination;
					Object->Class = Registry.GetClasses().ResolveClass(Asset.ClassPath);
					Loaded.insert(Folded(Object->GetPathName()), Object);
					break;
				}
			}
			if (!Object)
			{
				UE_LOG(LogEditorHost, Error,
				       QStringLiteral("Failed to load ") + Path + QStringLiteral(": the package holds no object ") +
				           Name);
				return nullptr;
			}
		}
		if (bNoRedirects || !Object->IsRedirector())
		{
			return Object;
		}
		Path = Object->GetDestinationObjectPath();
	}
	UE_LOG(LogEditorHost, Error,
	       QStringLiteral("Failed to load ") + ObjectPath + QStringLiteral(": its redirectors loop"));
	return nullptr;
}

bool FAssetTools::LoadObjects(const QStringList& ObjectPaths, bool bNoRedirects, QList<FObjectPtr>& OutObjects,
                              const std::function<void(const QString&)>& BeforeEach)
{
	// Nested in another change's wait, the read-ahead of that change stays as it is.
	const bool bReadAhead = !bBusy;
	std::optional<FBusyScope> Busy;
	if (bReadAhead)
	{
		Busy.emplace(bBusy);
		QStringList Filenames;
		for (const QString& Path : ObjectPaths)
		{
			if (!FindObject(Path) && FPackageName::IsValidObjectPath(Path))
			{
				const QString Filename = Registry.GetPackageFilename(FPackageName::ObjectPathToPackageName(Path));
				if (!Filename.isEmpty())
				{
					Filenames.append(Filename);
				}
			}
		}
		Filenames.removeDuplicates();
		PrefetchFiles(Filenames);
	}
	bool bAll = true;
	FEventBreather Breather;
	for (const QString& Path : ObjectPaths)
	{
		if (BeforeEach)
		{
			BeforeEach(Path);
		}
		const FObjectPtr Object = LoadObject(Path, bNoRedirects);
		if (!Object)
		{
			bAll = false;
			break;
		}
		OutObjects.append(Object);
		Breather.Breathe();
	}
	if (bReadAhead)
	{
		Prefetched.clear();
	}
	return bAll;
}

void FAssetTools::PrefetchFiles(const QStringList& Filenames)
{
	QStringList Wanted;
	for (const QString& Filename : Filenames)
	{
		if (!Prefetched.contains(Filename))
		{
			Wanted.append(Filename);
		}
	}
	std::vector<FPrefetchedFile> Files(size_t(Wanted.size()));
	std::atomic<qsizetype> Bytes{0};
	std::vector<char> Taken(size_t(Wanted.size()), 0);
	OffMainThread::ParallelFor(*Workers, Wanted.size(),
	                           [&](qsizetype Index)
	                           {
		                           if (Bytes.load() >= MaxPrefetchBytes)
		                           {
			                           return;
		                           }
		                           FPrefetchedFile& Out = Files[size_t(Index)];
		                           QFile File(Wanted[Index]);
		                           if (!File.open(QIODevice::ReadOnly))
		                           {
			                           Out.ReadError = File.errorString();
		                           }
		                           else
		                           {
			                           Out.bRead = true;
			                           Out.Bytes = File.readAll();
			                           Bytes += Out.Bytes.size();
			                           Out.File = FPackageFile::Parse(Out.Bytes, &Out.ParseError);
		                           }
		                           Taken[size_t(Index)] = 1;
	                           });
	for (qsizetype Index = 0; Index < Wanted.size(); ++Index)
	{
		if (Taken[size_t(Index)])
		{
			Prefetched.insert(Wanted[Index], Files[size_t(Index)]);
		}
	}
}

void FAssetTools::PrefetchMoves(const QList<QPair<QString, QString>>& OldAndNewNames, qsizetype From)
{
	QStringList Filenames;
	for (qsizetype Index = From; Index < OldAndNewNames.size() && Index < From + MovePrefetchWindow; ++Index)
	{
		const QString Filename = Registry.GetPackageFilename(OldAndNewNames[Index].first);
		if (!Filename.isEmpty())
		{
			Filenames.append(Filename);
		}
	}
	PrefetchFiles(Filenames);
}

bool FAssetTools::RefuseWhileBusy(const QString& What) const
{
	if (bBusy)
	{
		UE_LOG(LogEditorHost, Error,
		       QStringLiteral("Cannot ") + What + QStringLiteral(" while another change of the assets runs"));
	}
	return bBusy;
}

bool FAssetTools::RenameAssets(const QList<FAssetRenameData>& AssetsAndNames)
{
	QList<QPair<QString, QString>> Moves;
	bool bAllValid = true;
	for (const FAssetRenameData& Data : AssetsAndNames)
	{
		if (!Data.Asset || !Data.Asset->IsValid())
		{
			UE_LOG(LogEditorHost, Error, QStringLiteral("Cannot rename an object that is not loaded"));
			bAllValid = false;
			continue;
		}
		QString Path = Data.NewPackagePath;
		while (Path.endsWith(QLatin1Char('/')))
		{
			Path.chop(1);
		}
		Moves.append({Data.Asset->GetPackageName(), Path + QLatin1Char('/') + Data.NewName});
	}
	return MovePackages(Moves) && bAllValid;
}

bool FAssetTools::MovePackages(const QList<QPair<QString, QString>>& OldAndNewNames)
{
	if (RefuseWhileBusy(QStringLiteral("move packages")))
	{
		return false;
	}
	FBusyScope Busy(bBusy);
	bool bAll = true;
	QSet<QString> Done;
	std::vector<FPendingMove> Batch;
	// Folded names of the packages the batch reads or writes. A move touching one of them waits
	// for the batch to be written, so every move of a batch is checked against the same state it
	// would have met had the earlier moves been made one by one.
	QSet<QString> Touched;
	qsizetype BatchBytes = 0;
	const auto Flush = [&]
	{
		if (!Batch.empty())
		{
			bAll = WriteMoves(Batch) && bAll;
		}
		// What was read ahead of files the batch wrote or removed is out of date.
		for (const FPendingMove& Written : Batch)
		{
			for (const QString& File : {Written.Main.OldFile, Written.Main.NewFile, Written.ReplacedFile})
			{
				Prefetched.remove(File);
			}
			for (const FMoveItem& Item : Written.Externals)
			{
				Prefetched.remove(Item.OldFile);
				Prefetched.remove(Item.NewFile);
			}
		}
		Batch.clear();
		Touched.clear();
		BatchBytes = 0;
	};
	qsizetype NextIndex = 0;
	qsizetype PrefetchedUpTo = 0;
	FEventBreather Breather;
	for (const auto& [OldName, NewName] : OldAndNewNames)
	{
		if (NextIndex++ >= PrefetchedUpTo)
		{
			PrefetchMoves(OldAndNewNames, NextIndex - 1);
			PrefetchedUpTo = NextIndex - 1 + MovePrefetchWindow;
		}
		Breather.Breathe();
		// Two assets of one package move it once.
		const QString Key = Folded(OldName) + QLatin1Char('\n') + Folded(NewName);
		if (Done.contains(Key))
		{
			continue;
		}
		Done.insert(Key);
		for (;;)
		{
			FPendingMove Move;
			const EMovePrepared Prepared = PrepareMove(OldName, NewName, Batch.empty(), Move);
			if (Prepared == EMovePrepared::AfterFlush)
			{
				Flush();
				continue;
			}
			if (Prepared == EMovePrepared::Refused)
			{
				bAll = false;
			}
			if (Prepared != EMovePrepared::Ready)
			{
				break;
			}
			QStringList Names{Folded(Move.Main.OldName), Folded(Move.Main.NewName)};
			qsizetype Bytes = Move.Main.Bytes.size();
			for (const FMoveItem& Item : Move.Externals)
			{
				Names.append({Folded(Item.OldName), Folded(Item.NewName)});
				Bytes += Item.Bytes.size();
			}
			const bool bClash =
			    std::any_of(Names.cbegin(), Names.cend(), [&](const QString& Name) { return Touched.contains(Name); });
			if (!Batch.empty() && (bClash || BatchBytes + Bytes > MaxMoveBatchBytes))
			{
				Flush();
				continue;
			}
			for (const QString& Name : Names)
			{
				Touched.insert(Name);
			}
			BatchBytes += Bytes;
			Batch.push_back(std::move(Move));
			break;
		}
	}
	Flush();
	Prefetched.clear();
	return bAll;
}

bool FAssetTools::IsReplaceableRedirector(const QString& PackageName, const QString& MovingPackage) const
{
	QList<FAssetData> Assets;
	Registry.GetAssetsByPackageName(PackageName, Assets);
	for (const FAssetData& Asset : Assets)
	{
		if (!Asset.IsRedirector() ||
		    !SameName(FPackageName::ObjectPathToPackageName(Asset.DestinationObjectPath), MovingPackage))
		{
			return false;
		}
	}
	return !Assets.isEmpty();
}

bool FAssetTools::ClashesAt(const QString& NewName, const QString& MovingPackage, QString& OutReason) const
{
	QString Existing;
	if (Registry.DoesPackageExistOnDisk(NewName, &Existing))
	{
		if (IsReplaceableRedirector(Existing, MovingPackage))
		{
			return false;
		}
		OutReason = QStringLiteral("a package named ") + Existing + QStringLiteral(" exists already");
		return true;
	}
	// A file the registry skipped (unreadable, say) is never overwritten either.
	for (const QString& Extension : {QStringLiteral(".uasset"), QStringLiteral(".umap")})
	{
		QString Filename;
		if (Registry.TryConvertLongPackageNameToFilename(NewName, Filename, Extension) && QFileInfo::exists(Filename))
		{
			OutReason = QStringLiteral("the file ") + Filename + QStringLiteral(" exists already");
			return true;
		}
	}
	return false;
}

bool FAssetTools::RefuseMove(const QString& OldName, const QString& NewName, const QString& Why) const
{
	UE_LOG(LogEditorHost, Error,
	       QStringLiteral("Cannot move ") + OldName + QStringLiteral(" to ") + NewName + QStringLiteral(": ") + Why);
	return false;
}

bool FAssetTools::ReadMoveItem(const QString& OldName, const QString& NewName, FMoveItem& Item, QString& OutError)
{
	QString CorrectCase;
	if (!Registry.DoesPackageExistOnDisk(OldName, &CorrectCase, &Item.Extension))
	{
		OutError = QStringLiteral("there is no package ") + OldName + QStringLiteral(" on disk");
		return false;
	}
	Item.OldName = CorrectCase;
	Item.NewName = NewName;
	Item.OldFile = Registry.GetPackageFilename(CorrectCase);
	Registry.TryConvertLongPackageNameToFilename(NewName, Item.NewFile, Item.Extension);
	if (const auto Ahead = Prefetched.find(Item.OldFile); Ahead != Prefetched.end())
	{
		FPrefetchedFile Read = std::move(*Ahead);
		Prefetched.erase(Ahead);
		if (!Read.bRead)
		{
			OutError = Item.OldFile + QStringLiteral(" cannot be read: ") + Read.ReadError;
			return false;
		}
		if (!Read.File)
		{
			OutError = Item.OldFile + QStringLiteral(" is no valid package: ") + Read.ParseError;
			return false;
		}
		Item.Bytes = std::move(Read.Bytes);
		Item.File = std::move(*Read.File);
		return true;
	}
	QFile File(Item.OldFile);
	if (!File.open(QIODevice::ReadOnly))
	{
		OutError = Item.OldFile + QStringLiteral(" cannot be read: ") + File.errorString();
		return false;
	}
	Item.Bytes = File.readAll();
	QString Reason;
	std::optional<FPackageFile> Parsed = FPackageFile::Parse(Item.Bytes, &Reason);
	if (!Parsed)
	{
		OutError = Item.OldFile + QStringLiteral(" is no valid package: ") + Reason;
		return false;
	}
	Item.File = std::move(*Parsed);
	return true;
}

FAssetTools::EMovePrepared FAssetTools::PrepareMove(const QString& OldName, const QString& NewName, bool bBatchEmpty,
                                                    FPendingMove& Move)
{
	const auto Refuse = [&](const QString& Why)
	{
		RefuseMove(OldName, NewName, Why);
		return EMovePrepared::Refused;
	};
	QString Reason;
	if (!Registry.IsValidPackageName(NewName, &Reason))
	{
		return Refuse(Reason);
	}
	if (FPackageName::IsScriptPackage(NewName) || FPackageName::IsScriptPackage(OldName))
	{
		return Refuse(QStringLiteral("script packages are code and cannot move"));
	}
	if (SameName(OldName, NewName))
	{
		return EMovePrepared::Nothing;
	}
	if (FPackageName::IsExternalPackage(OldName) || FPackageName::IsExternalPackage(NewName))
	{
		return Refuse(QStringLiteral("external actors and objects move with their level, not on their own"));
	}
	Move.RequestedOldName = OldName;
	FMoveItem& Main = Move.Main;
	if (!ReadMoveItem(OldName, NewName, Main, Reason))
	{
		return Refuse(Reason);
	}
	// A level's external packages are found by a forced scan of their folders, which must see the
	// files as the moves before it left them: those are written first.
	if (Main.File.IsLevel(Registry.GetClasses()) && !bBatchEmpty)
	{
		return EMovePrepared::AfterFlush;
	}

	// The main asset carries the package's short name, so a rename renames it too.
	Move.OldShort = FPackageName::GetShortName(Main.OldName);
	Move.NewShort = FPackageName::GetShortName(NewName);
	if (Move.OldShort != Move.NewShort)
	{
		bool bRenamed = false;
		for (FPackageAsset& Asset : Main.File.Assets)
		{
			if (SameName(Asset.Name, Move.NewShort) && !SameName(Asset.Name, Move.OldShort))
			{
				return Refuse(QStringLiteral("the package holds another object named ") + Move.NewShort);
			}
		}
		for (FPackageAsset& Asset : Main.File.Assets)
		{
			if (SameName(Asset.Name, Move.OldShort))
			{
				Asset.Name = Move.NewShort;
				bRenamed = true;
			}
		}
		if (bRenamed)
		{
			Main.Bytes = Main.File.Serialize();
			Main.bSameAsOldFile = false;
		}
	}

	// A level takes its external actors and objects along, found by a fresh look at their folders.
	if (Main.File.IsLevel(Registry.GetClasses()))
	{
		const QStringList OldPaths = ULevel::GetExternalObjectsPaths(Main.OldName);
		const QStringList NewPaths = ULevel::GetExternalObjectsPaths(NewName);
		Registry.ScanPathsSynchronous(OldPaths, true, true);
		for (qsizetype Index = 0; Index < OldPaths.size() && Index < NewPaths.size(); ++Index)
		{
			QList<FAssetData> Assets;
			Registry.GetAssetsByPath(OldPaths[Index], Assets, true);
			QStringList Filenames;
			for (const FAssetData& Asset : Assets)
			{
				Filenames.append(Registry.GetPackageFilename(Asset.PackageName));
			}
			Filenames.removeAll(QString());
			PrefetchFiles(Filenames);
			QSet<QString> Seen;
			for (const FAssetData& Asset : Assets)
			{
				if (Seen.contains(Folded(Asset.PackageName)))
				{
					continue;
				}
				Seen.insert(Folded(Asset.PackageName));
				const QString ExternalNew = NewPaths[Index] + Asset.PackageName.mid(OldPaths[Index].size());
				FMoveItem Item;
				if (!ReadMoveItem(Asset.PackageName, ExternalNew, Item, Reason))
				{
					return Refuse(QStringLiteral("its external package ") + Reason);
				}
				Move.Externals.append(std::move(Item));
			}
		}
	}

	if (ClashesAt(NewName, Main.OldName, Reason))
	{
		return Refuse(Reason);
	}
	for (const FMoveItem& Item : Move.Externals)
	{
		if (ClashesAt(Item.NewName, Item.OldName, Reason))
		{
			return Refuse(QStringLiteral("for its external package ") + Item.OldName + QStringLiteral(", ") + Reason);
		}
	}

	// A redirector already at the new name (one pointing back here) is kept until the move is
	// through, so that a failure can put it back.
	if (Registry.DoesPackageExistOnDisk(NewName, &Move.ReplacedName))
	{
		Move.ReplacedFile = Registry.GetPackageFilename(Move.ReplacedName);
		QFile Replaced(Move.ReplacedFile);
		if (!Replaced.open(QIODevice::ReadOnly))
		{
			return Refuse(Move.ReplacedFile + QStringLiteral(" cannot be read: ") + Replaced.errorString());
		}
		Move.ReplacedBytes = Replaced.readAll();
	}

	QList<QPair<QString, QString>> Redirects;
	for (const FPackageAsset& Asset : Main.File.Assets)
	{
		// Asset names after the rename; the redirector keeps each object's old name.
		const QString OldAssetName =
		    SameName(Asset.Name, Move.NewShort) && Move.OldShort != Move.NewShort ? Move.OldShort : Asset.Name;
		Redirects.append({OldAssetName, NewName + QLatin1Char('.') + Asset.Name});
	}
	Move.Redirector = FPackageFile::MakeRedirector(Redirects);
	Move.RedirectorBytes = Move.Redirector.Serialize();
	return EMovePrepared::Ready;
}

void FAssetTools::UndoMove(FPendingMove& Move)
{
	for (const QString& File : Move.Written)
	{
		QFile::remove(File);
	}
	Move.Written.clear();
	if (Move.bOverwroteReplaced)
	{
		QString Reason;
		if (!FPackageFile::WriteFileAtomically(Move.ReplacedFile, Move.ReplacedBytes, &Reason))
		{
			Move.Logs.append({ELogVerbosity::Error,
			                  QStringLiteral("Cannot restore ") + Move.ReplacedFile + QStringLiteral(": ") + Reason});
		}
		Move.bOverwroteReplaced = false;
	}
	if (!Move.RedirectorTemp.isEmpty())
	{
		QFile::remove(Move.RedirectorTemp);
		Move.RedirectorTemp.clear();
	}
}

// A batch is written in steps, each made durable before the next relies on it:
//  1. every move's new files, without syncing each (a package whose bytes stay as they are gets
//     its new name as a second link to its file, nothing copied);
//  2. one sync: from here on each moved package is on disk at its new place;
//  3. every redirector, into a temporary file beside the file it will replace;
//  4. one sync, so that no redirector can be found empty after a crash;
//  5. each redirector replaces its old file in one rename: only now does the original go, and
//     its content is already durable at the new name, so a crash at any point leaves each package
//     at its old name, its new name or both, never at neither; the registry follows each rename;
//  6. one sync, so that the finished moves (redirectors in place, old external files gone) last.
// A failure before step 5 undoes that move's files and leaves its originals untouched. Steps 1 and
// 3 also create every new file before step 5 removes any: file systems that avoid reusing freshly
// freed inodes (ext4 without a journal) would otherwise search past each of them on every create.
// The files are written on a worker; the registry and the loaded objects follow on the main thread,
// move by move in order, once every file of the batch is where it belongs.
bool FAssetTools::WriteMoves(std::vector<FPendingMove>& Batch)
{
	QStringList Warnings;
	OffMainThread::Run(*Workers, [&] { WriteMoveFiles(Batch, Warnings); });
	bool bAll = true;
	FEventBreather Breather;
	for (FPendingMove& Move : Batch)
	{
		for (const auto& [Verbosity, Line] : std::as_const(Move.Logs))
		{
			FLog::Write(LogEditorHost, Verbosity, Line);
		}
		if (Move.bFailed)
		{
			bAll = RefuseMove(Move.RequestedOldName, Move.Main.NewName, Move.Error) && bAll;
			continue;
		}
		FinishMove(Move);
		Breather.Breathe();
	}
	for (const QString& Warning : std::as_const(Warnings))
	{
		UE_LOG(LogEditorHost, Warning, Warning);
	}
	return bAll;
}

void FAssetTools::WriteMoveFiles(std::vector<FPendingMove>& Batch, QStringList& OutWarnings)
{
	QString Reason;
	const auto Fail = [&](FPendingMove& Move, const QString& Why)
	{
		UndoMove(Move);
		Move.bFailed = true;
		Move.Error = Why;
	};
	const auto Alive = [&](const std::function<void(FPendingMove&)>& Step)
	{
		for (FPendingMove& Move : Batch)
		{
			if (!Move.bFailed)
			{
				Step(Move);
			}
		}
	};

	// 1. New files.
	QStringList NewFiles;
	Alive(
	    [&](FPendingMove& Move)
	    {
		    QList<const FMoveItem*> Items{&Move.Main};
		    for (const FMoveItem& External : Move.Externals)
		    {
			    Items.append(&External);
		    }
		    for (const FMoveItem* Item : Items)
		    {
			    // A package whose bytes stay as they are takes its new name as a hard link: nothing is
			    // copied, and no new file is made whose inode the file system must search for.
			    const bool bLinked = Item->bSameAsOldFile && Item->NewFile != Move.ReplacedFile &&
			                         DurableWrite::LinkUnsynced(Item->OldFile, Item->NewFile);
			    if (!bLinked && !DurableWrite::WriteUnsynced(Item->NewFile, Item->Bytes, &Reason))
			    {
				    Fail(Move, QStringLiteral("writing ") + Item->NewFile + QStringLiteral(" failed: ") + Reason);
				    return;
			    }
			    if (Item->NewFile != Move.ReplacedFile)
			    {
				    Move.Written.append(Item->NewFile);
			    }
			    else
			    {
				    Move.bOverwroteReplaced = true;
			    }
			    NewFiles.append(Item->NewFile);
		    }
	    });

	// 2. The new files are durable.
	if (!NewFiles.isEmpty() && !DurableWrite::SyncAll(NewFiles, &Reason))
	{
		const QString Why = QStringLiteral("the new files could not be made durable: ") + Reason;
		Alive([&](FPendingMove& Move) { Fail(Move, Why); });
	}

	// 3. Redirectors beside the files they replace.
	QStringList Temporaries;
	Alive(
	    [&](FPendingMove& Move)
	    {
		    if (!DurableWrite::WriteTemporary(Move.Main.OldFile, Move.RedirectorBytes, Move.RedirectorTemp, &Reason))
		    {
			    Move.RedirectorTemp.clear();
			    Fail(Move, QStringLiteral("writing the redirector ") + Move.Main.OldFile + QStringLiteral(" failed: ") +
			                   Reason);
			    return;
		    }
		    Temporaries.append(Move.RedirectorTemp);
	    });

	// 4. The redirectors are durable.
	if (!Temporaries.isEmpty() && !DurableWrite::SyncAll(Temporaries, &Reason))
	{
		const QString Why = QStringLiteral("the redirectors could not be made durable: ") + Reason;
		Alive([&](FPendingMove& Move) { Fail(Move, Why); });
	}

	// 5. Each redirector replaces its original; the move has happened.
	QStringList Changed;
	Alive(
	    [&](FPendingMove& Move)
	    {
		    if (!DurableWrite::Replace(Move.RedirectorTemp, Move.Main.OldFile, &Reason))
		    {
			    Fail(Move, QStringLiteral("writing the redirector ") + Move.Main.OldFile + QStringLiteral(" failed: ") +
			                   Reason);
			    return;
		    }
		    Move.RedirectorTemp.clear();
		    Changed.append(Move.Main.OldFile);
		    if (!Move.ReplacedFile.isEmpty() && Move.ReplacedFile != Move.Main.NewFile)
		    {
			    QFile::remove(Move.ReplacedFile);
		    }
		    for (const FMoveItem& Item : Move.Externals)
		    {
			    Changed.append(Item.OldFile);
			    if (!QFile::remove(Item.OldFile))
			    {
				    Move.Logs.append({ELogVerbosity::Warning, QStringLiteral("Moved ") + Item.OldName +
				                                                  QStringLiteral(" but could not delete ") +
				                                                  Item.OldFile});
			    }
			    PruneEmptyFolders(Item.OldFile);
		    }
	    });

	// 6. The finished moves last. Every package is durable somewhere already, so a failure here
	// loses nothing and is only reported.
	if (!Changed.isEmpty() && !DurableWrite::SyncAll(Changed, &Reason))
	{
		OutWarnings.append(QStringLiteral("Moved packages, but syncing the redirectors failed: ") + Reason);
	}
}

void FAssetTools::FinishMove(FPendingMove& Move)
{
	const FMoveItem& Main = Move.Main;
	if (!Move.ReplacedFile.isEmpty())
	{
		QList<FAssetData> Replaced;
		Registry.GetAssetsByPackageName(Move.ReplacedName, Replaced);
		for (const FAssetData& Asset : Replaced)
		{
			if (const FObjectPtr Object = Loaded.take(Folded(Asset.GetObjectPathString())))
			{
				Object->bValid = false;
			}
		}
		Registry.RemovePackage(Move.ReplacedName);
	}
	Registry.AddOrUpdatePackage(Main.NewName, Main.File, Main.Extension, Main.Bytes.size());
	Registry.AddOrUpdatePackage(Main.OldName, Move.Redirector, Main.Extension, Move.RedirectorBytes.size());
	RenameLoadedObjects(Main.OldName, Main.NewName, Move.OldShort, Move.NewShort);
	for (const FMoveItem& Item : Move.Externals)
	{
		Registry.RemovePackage(Item.OldName);
		Registry.AddOrUpdatePackage(Item.NewName, Item.File, Item.Extension, Item.Bytes.size());
		RenameLoadedObjects(Item.OldName, Item.NewName, QString(), QString());
	}
}

void FAssetTools::RenameLoadedObjects(const QString& OldPackage, const QString& NewPackage, const QString& OldMainName,
                                      const QString& NewMainName)
{
	QList<FAssetData> Assets;
	Registry.GetAssetsByPackageName(NewPackage, Assets);
	for (const FAssetData& Asset : Assets)
	{
		const QString OldObjectName =
		    !OldMainName.isEmpty() && SameName(Asset.AssetName, NewMainName) ? OldMainName : Asset.AssetName;
		const FObjectPtr Object = Loaded.take(Folded(OldPackage + QLatin1Char('.') + OldObjectName));
		if (Object)
		{
			Object->PackageName = NewPackage;
			Object->Name = Asset.AssetName;
			Loaded.insert(Folded(Object->GetPathName()), Object);
		}
	}
}

void FAssetTools::InvalidateLoadedObjects(const QString& PackageName)
{
	QList<FAssetData> Assets;
	Registry.GetAssetsByPackageName(PackageName, Assets);
	for (const FAssetData& Asset : Assets)
	{
		if (const FObjectPtr Object = Loaded.take(Folded(Asset.GetObjectPathString())))
		{
			Object->bValid = false;
		}
	}
}

void FAssetTools::PruneEmptyFolders(const QString& FilePath)
{
	// External folders hold nothing but external packages; emptied ones go, up to the
	// mount point's external folder itself.
	QString Folder = FPaths::GetPath(FilePath);
	while (!Folder.isEmpty())
	{
		const QString Name = FPaths::GetCleanFilename(Folder);
		if (Name == FPackageName::ExternalActorsFolderName() || Name == FPackageName::ExternalObjectsFolderName() ||
		    !QDir().rmdir(Folder))
		{
			break;
		}
		Folder = FPaths::GetPath(Folder);
	}
}

// What a fix-up learns as it goes, from the redirectors to fix to those that stay.
struct FAssetTools::FFixupRun
{
	QHash<QString, QString> RedirectorPackages; // folded name -> name
	FFixupTargets Targets;
	QStringList Referencers;
	QHash<QString, QStringList> RedirectorsReferencedBy; // folded referencer -> folded redirectors
	QSet<QString> Skipped;                               // folded read-only referencers left alone
	QSet<QString> Handled;                               // folded referencers rewritten or given up
	QSet<QString> Kept;                                  // folded redirector packages that stay
	FEventBreather Breather;
};

void FAssetTools::FixupReferencers(const QList<FObjectPtr>& Objects, bool bCheckoutDialogPrompt,
                                   ERedirectFixupMode FixupMode)
{
	if (RefuseWhileBusy(QStringLiteral("fix up redirectors")))
	{
		return;
	}
	FBusyScope Busy(bBusy);
	FFixupRun Run;
	CollectFixupTargets(Objects, Run);
	if (Run.RedirectorPackages.isEmpty())
	{
		return;
	}
	FindFixupReferencers(Run);
	MakeReferencersWritable(Run, bCheckoutDialogPrompt);

	// Redirectors referring to redirectors of the set go away with them, unless they are kept; so
	// referencers outside the set come first, then kept redirectors, until nothing changes. Each
	// round is rewritten as one batch.
	{
		QStringList Outside;
		for (const QString& Package : std::as_const(Run.Referencers))
		{
			if (!Run.RedirectorPackages.contains(Folded(Package)))
			{
				Outside.append(Package);
			}
		}
		FixupRound(Run, Outside);
	}
	const bool bDelete = ShouldDeleteRedirectors(FixupMode);
	if (!bDelete)
	{
		for (const QString& Key : Run.RedirectorPackages.keys())
		{
			Run.Kept.insert(Key);
		}
	}
	for (;;)
	{
		QStringList Round;
		for (const QString& Package : std::as_const(Run.Referencers))
		{
			if (Run.Kept.contains(Folded(Package)) && !Run.Handled.contains(Folded(Package)))
			{
				Round.append(Package);
			}
		}
		if (Round.isEmpty())
		{
			break;
		}
		FixupRound(Run, Round);
	}
	if (bDelete)
	{
		DeleteFixedUpRedirectors(Run);
	}
}

void FAssetTools::CollectFixupTargets(const QList<FObjectPtr>& Objects, FFixupRun& Run)
{
	QHash<QString, QString>& FinalObject = Run.Targets.FinalObject;
	QHash<QString, QStringList>& FinalPackages = Run.Targets.FinalPackages;
	for (const FObjectPtr& Object : Objects)
	{
		if (!Object || !Object->IsValid() || !Object->IsRedirector())
		{
			continue;
		}
		const QString Package = Object->GetPackageName();
		if (Run.RedirectorPackages.contains(Folded(Package)))
		{
			continue;
		}
		Run.Breather.Breathe();
		QList<FAssetData> Assets;
		Registry.GetAssetsByPackageName(Package, Assets);
		bool bFixable = !Assets.isEmpty();
		QStringList PackageTargets;
		QHash<QString, QString> Finals;
		for (const FAssetData& Asset : Assets)
		{
			if (!Asset.IsRedirector())
			{
				bFixable = false;
				break;
			}
			QString Path = Asset.DestinationObjectPath;
			QSet<QString> Visited{Folded(Asset.GetObjectPathString())};
			for (FAssetData Next = Registry.GetAssetByObjectPath(FSoftObjectPath(Path));
			     Next.IsValid() && Next.IsRedirector() && !Visited.contains(Folded(Path));
			     Next = Registry.GetAssetByObjectPath(FSoftObjectPath(Path)))
			{
				Visited.insert(Folded(Path));
				Path = Next.DestinationObjectPath;
			}
			const FAssetData Final = Registry.GetAssetByObjectPath(FSoftObjectPath(Path));
			if (!Final.IsValid() || Final.IsRedirector())
			{
				UE_LOG(LogEditorHost, Error,
				       QStringLiteral("Cannot fix up redirector ") + Asset.GetObjectPathString() +
				           QStringLiteral(": its destination ") + Path + QStringLiteral(" does not exist"));
				bFixable = false;
				break;
			}
			Finals.insert(Folded(Asset.GetObjectPathString()), Final.GetObjectPathString());
			if (!PackageTargets.contains(Final.PackageName, Qt::CaseInsensitive))
			{
				PackageTargets.append(Final.PackageName);
			}
		}
		if (!bFixable)
		{
			continue;
		}
		Run.RedirectorPackages.insert(Folded(Package), Package);
		FinalPackages.insert(Folded(Package), PackageTargets);
		FinalObject.insert(Finals);
	}
}

void FAssetTools::FindFixupReferencers(FFixupRun& Run)
{
	// Every package that refers to one of them, found in one pass over the registry.
	const QStringList AllPackages = Registry.GetAllPackageNames();
	for (const QString& Package : AllPackages)
	{
		Run.Breather.Breathe();
		QStringList Dependencies;
		Registry.GetDependencies(Package, Dependencies);
		QStringList Referenced;
		for (const QString& Dependency : Dependencies)
		{
			if (Run.RedirectorPackages.contains(Folded(Dependency)) && !SameName(Dependency, Package))
			{
				Referenced.append(Folded(Dependency));
			}
		}
		if (!Referenced.isEmpty())
		{
			Run.Referencers.append(Package);
			Run.RedirectorsReferencedBy.insert(Folded(Package), Referenced);
		}
	}
}

void FAssetTools::MakeReferencersWritable(FFixupRun& Run, bool bCheckoutDialogPrompt)
{
	// Read-only referencers are made writable, after asking when asked to ask.
	QStringList ReadOnly;
	{
		QStringList Filenames;
		for (const QString& Package : std::as_const(Run.Referencers))
		{
			Filenames.append(Registry.GetPackageFilename(Package));
		}
		std::vector<char> Writable(size_t(Filenames.size()), 0);
		OffMainThread::ParallelFor(*Workers, Filenames.size(),
		                           [&](qsizetype Index) {
			                           Writable[size_t(Index)] =
			                               (QFile::permissions(Filenames[Index]) & QFileDevice::WriteOwner) ? 1 : 0;
		                           });
		for (qsizetype Index = 0; Index < Run.Referencers.size(); ++Index)
		{
			if (!Writable[size_t(Index)])
			{
				ReadOnly.append(Run.Referencers[Index]);
			}
		}
	}
	if (ReadOnly.isEmpty())
	{
		return;
	}
	FDialogService* Dialogs = GetDialogs();
	const bool bMakeWritable =
	    !bCheckoutDialogPrompt || !Dialogs ||
	    Dialogs->MessageBox(EAppMsgType::YesNo,
	                        QStringLiteral("These packages refer to redirectors but are read-only:\n") +
	                            ReadOnly.join(QLatin1Char('\n')) +
	                            QStringLiteral("\nMake them writable so that they can be fixed up?"),
	                        QStringLiteral("Read-only packages")) == EAppReturnType::Yes;
	for (const QString& Package : std::as_const(ReadOnly))
	{
		const QString Filename = Registry.GetPackageFilename(Package);
		if (!bMakeWritable || !QFile::setPermissions(Filename, QFile::permissions(Filename) | QFileDevice::WriteOwner))
		{
			Run.Skipped.insert(Folded(Package));
		}
	}
}

void FAssetTools::FixupRound(FFixupRun& Run, const QStringList& Packages)
{
	QStringList ToRewrite;
	QSet<QString> Failed;
	for (const QString& Package : Packages)
	{
		Run.Handled.insert(Folded(Package));
		if (Run.Skipped.contains(Folded(Package)))
		{
			Failed.insert(Folded(Package));
		}
		else
		{
			ToRewrite.append(Package);
		}
	}
	Failed.unite(RewriteReferencers(ToRewrite, Run.Targets));
	// A referencer left as it was still needs the redirectors it refers to.
	for (const QString& Package : Packages)
	{
		if (Failed.contains(Folded(Package)))
		{
			for (const QString& Redirector : Run.RedirectorsReferencedBy.value(Folded(Package)))
			{
				Run.Kept.insert(Redirector);
			}
		}
	}
}

bool FAssetTools::ShouldDeleteRedirectors(ERedirectFixupMode FixupMode) const
{
	if (FixupMode == ERedirectFixupMode::LeaveFixedUpRedirectors)
	{
		return false;
	}
	if (FixupMode == ERedirectFixupMode::PromptForDeletingRedirectors)
	{
		FDialogService* Dialogs = GetDialogs();
		return Dialogs &&
		       Dialogs->MessageBox(EAppMsgType::YesNo, QStringLiteral("Delete the redirectors that were fixed up?"),
		                           QStringLiteral("Fix up redirectors")) == EAppReturnType::Yes;
	}
	return true;
}

void FAssetTools::DeleteFixedUpRedirectors(FFixupRun& Run)
{
	QStringList Deleting;
	QStringList DeletingFiles;
	for (auto It = Run.RedirectorPackages.cbegin(); It != Run.RedirectorPackages.cend(); ++It)
	{
		if (!Run.Kept.contains(It.key()))
		{
			Deleting.append(It.value());
			DeletingFiles.append(Registry.GetPackageFilename(It.value()));
		}
	}
	std::vector<char> Deleted(size_t(Deleting.size()), 0);
	OffMainThread::ParallelFor(*Workers, DeletingFiles.size(),
	                           [&](qsizetype Index)
	                           { Deleted[size_t(Index)] = QFile::remove(DeletingFiles[Index]) ? 1 : 0; });
	for (qsizetype Index = 0; Index < Deleting.size(); ++Index)
	{
		if (!Deleted[size_t(Index)])
		{
			UE_LOG(LogEditorHost, Error,
			       QStringLiteral("Cannot delete the fixed-up redirector ") + DeletingFiles[Index]);
			continue;
		}
		InvalidateLoadedObjects(Deleting[Index]);
		Registry.RemovePackage(Deleting[Index]);
		Run.Breather.Breathe();
	}
}

// Every referencer is read, rewritten and written beside itself as a temporary file on the
// workers, without syncing each; one sync makes them all durable; only then does each replace its
// original in one rename, and one more sync makes the renames last before any redirector they
// referred to is deleted. A failure at any step leaves that referencer's file as it was (and the
// redirectors it needs); the registry takes the rewritten ones on the main thread, in order.
QSet<QString> FAssetTools::RewriteReferencers(const QStringList& Packages, const FFixupTargets& Targets)
{
	struct FRewrite
	{
		QString Package;
		QString Filename;
		QString Extension;
		QString Temp;
		FPackageFile File;
		qsizetype Size = 0;
		QString Error;
		bool bOk = false;
	};
	std::vector<FRewrite> Rewrites(size_t(Packages.size()));
	for (qsizetype Index = 0; Index < Packages.size(); ++Index)
	{
		FRewrite& Rewrite = Rewrites[size_t(Index)];
		Rewrite.Package = Packages[Index];
		Rewrite.Filename = Registry.GetPackageFilename(Rewrite.Package);
		Registry.DoesPackageExistOnDisk(Rewrite.Package, nullptr, &Rewrite.Extension);
	}
	const QHash<QString, QString>& FinalObject = Targets.FinalObject;
	const QHash<QString, QStringList>& FinalPackages = Targets.FinalPackages;
	OffMainThread::ParallelFor(
	    *Workers, qsizetype(Rewrites.size()),
	    [&](qsizetype Index)
	    {
		    FRewrite& Rewrite = Rewrites[size_t(Index)];
		    const QString& Package = Rewrite.Package;
		    QString Reason;
		    const std::optional<FPackageFile> File = FPackageFile::LoadFromFile(Rewrite.Filename, &Reason);
		    if (!File)
		    {
			    Rewrite.Error = QStringLiteral("Cannot fix up ") + Package + QStringLiteral(": ") + Rewrite.Filename +
			                    QStringLiteral(" ") + Reason;
			    return;
		    }
		    FPackageFile Rewritten = *File;
		    Rewritten.HardDependencies.clear();
		    Rewritten.SoftDependencies.clear();
		    for (const bool bHard : {true, false})
		    {
			    for (const QString& Dependency : bHard ? File->HardDependencies : File->SoftDependencies)
			    {
				    const QStringList Finals = FinalPackages.value(Folded(Dependency), QStringList{Dependency});
				    for (const QString& Target : Finals)
				    {
					    if (!SameName(Target, Package))
					    {
						    Rewritten.AddDependency(Target, bHard);
					    }
				    }
			    }
		    }
		    for (FPackageAsset& Asset : Rewritten.Assets)
		    {
			    Asset.Destination = FinalObject.value(Folded(Asset.Destination), Asset.Destination);
		    }
		    const QByteArray Bytes = Rewritten.Serialize();
		    if (!DurableWrite::WriteTemporary(Rewrite.Filename, Bytes, Rewrite.Temp, &Reason))
		    {
			    Rewrite.Temp.clear();
			    Rewrite.Error = QStringLiteral("Cannot fix up ") + Package + QStringLiteral(": writing ") +
			                    Rewrite.Filename + QStringLiteral(" failed: ") + Reason;
			    return;
		    }
		    // The registry keeps no payload; a large one need not wait in memory for the batch.
		    Rewritten.Payload = QJsonValue(QJsonValue::Undefined);
		    Rewrite.File = std::move(Rewritten);
		    Rewrite.Size = Bytes.size();
		    Rewrite.bOk = true;
	    });

	bool bDurable = true;
	QString SyncError;
	OffMainThread::Run(*Workers,
	                   [&]
	                   {
		                   QStringList Temporaries;
		                   for (const FRewrite& Rewrite : Rewrites)
		                   {
			                   if (Rewrite.bOk)
			                   {
				                   Temporaries.append(Rewrite.Temp);
			                   }
		                   }
		                   QString Reason;
		                   if (!Temporaries.isEmpty() && !DurableWrite::SyncAll(Temporaries, &Reason))
		                   {
			                   for (FRewrite& Rewrite : Rewrites)
			                   {
				                   if (Rewrite.bOk)
				                   {
					                   QFile::remove(Rewrite.Temp);
					                   Rewrite.bOk = false;
					                   Rewrite.Error = QStringLiteral("Cannot fix up ") + Rewrite.Package +
					                                   QStringLiteral(": writing ") + Rewrite.Filename +
					                                   QStringLiteral(" failed: ") + Reason;
				                   }
			                   }
			                   return;
		                   }
		                   QStringList Replaced;
		                   for (FRewrite& Rewrite : Rewrites)
		                   {
			                   if (!Rewrite.bOk)
			                   {
				                   continue;
			                   }
			                   if (!DurableWrite::Replace(Rewrite.Temp, Rewrite.Filename, &Reason))
			                   {
				                   QFile::remove(Rewrite.Temp);
				                   Rewrite.bOk = false;
				                   Rewrite.Error = QStringLiteral("Cannot fix up ") + Rewrite.Package +
				                                   QStringLiteral(": writing ") + Rewrite.Filename +
				                                   QStringLiteral(" failed: ") + Reason;
				                   continue;
			                   }
			                   Replaced.append(Rewrite.Filename);
		                   }
		                   if (!Replaced.isEmpty() && !DurableWrite::SyncAll(Replaced, &Reason))
		                   {
			                   bDurable = false;
			                   SyncError = Reason;
		                   }
	                   });

	QSet<QString> Failed;
	FEventBreather Breather;
	for (const FRewrite& Rewrite : Rewrites)
	{
		if (!Rewrite.bOk)
		{
			UE_LOG(LogEditorHost, Error, Rewrite.Error);
			Failed.insert(Folded(Rewrite.Package));
			continue;
		}
		Registry.AddOrUpdatePackage(Rewrite.Package, Rewrite.File, Rewrite.Extension, Rewrite.Size);
		// Until the renames are known to last, a crash could bring back a file that still names
		// the redirectors: they stay.
		if (!bDurable)
		{
			Failed.insert(Folded(Rewrite.Package));
		}
		Breather.Breathe();
	}
	if (!bDurable)
	{
		UE_LOG(LogEditorHost, Warning,
		       QStringLiteral("Fixed up referencers, but syncing them failed, so their redirectors stay: ") +
		           SyncError);
	}
	return Failed;
}
