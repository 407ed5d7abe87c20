#pragma once

#include "AssetData.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class FAssetRegistry;
class FDialogService;
class QThreadPool;
class UClass;

// A loaded object: one asset of a package file, read from disk. Objects stay loaded (the same
// instance for the same object) and follow their package when it moves, as engine objects do; a
// redirector object deleted by a fix-up becomes invalid. Main thread only.
class FLoadedObject
{
public:
	// "/Game/Props/Crate.Crate"
	QString GetPathName() const { return PackageName + QLatin1Char('.') + Name; }
	QString GetName() const { return Name; }
	QString GetPackageName() const { return PackageName; }
	// "/Script/Engine.StaticMesh", as written in the package.
	QString GetClassPathName() const { return ClassPath; }
	// The class after class redirects, as the host knew it when the object was loaded; null when
	// it knew none.
	const UClass* GetClass() const { return Class; }
	bool IsA(const UClass* Class) const;
	bool IsRedirector() const;
	// Redirectors only: the object path they point at.
	QString GetDestinationObjectPath() const { return Destination; }
	// False once the object's package was deleted.
	bool IsValid() const { return bValid; }

private:
	friend class FAssetTools;
	QString PackageName;
	QString Name;
	QString ClassPath;
	QString Destination;
	const UClass* Class = nullptr;
	bool bValid = true;
};

using FObjectPtr = std::shared_ptr<FLoadedObject>;

struct FAssetRenameData
{
	FObjectPtr Asset;
	// The content folder the asset's package moves to, "/Game/W1/Props".
	QString NewPackagePath;
	// The asset's new name, which is also its package's new short name.
	QString NewName;
};

enum class ERedirectFixupMode
{
	DeleteFixedUpRedirectors,
	LeaveFixedUpRedirectors,
	PromptForDeletingRedirectors,
};

// The asset tools: loading objects, moving packages and fixing up redirectors, on the files of the
// registry's mount points. Every change is written to disk first (atomically, through temporary
// files) and then recorded in the registry, so the registry always matches the files.
//
// Moves work on whole packages: an asset moves with its package, every other asset of that
// package included. A move leaves a redirector package at the old name whose redirectors point at
// the objects' new paths. A level moves together with its external actor and object packages,
// which keep mirroring the level's path and leave no redirectors (they are found by folder, not by
// reference). A move never replaces an existing package, except a redirector that points back at
// the package being moved.
class FAssetTools
{
public:
	// The dialog provider answers the host's current dialog service (null: no questions are asked).
	explicit FAssetTools(FAssetRegistry& Registry, std::function<FDialogService*()> DialogProvider = {});
	~FAssetTools();
	FAssetTools(const FAssetTools&) = delete;
	FAssetTools& operator=(const FAssetTools&) = delete;

	FAssetRegistry& GetRegistry() const { return Registry; }
	FDialogService* GetDialogs() const { return DialogProvider ? DialogProvider() : nullptr; }

	// The object when it is loaded already; null otherwise.
	FObjectPtr FindObject(const QString& ObjectPath) const;
	// Loads the object from its package file. A redirector is followed to its destination unless
	// bNoRedirects. Null (with an error line) when the package is not on disk, cannot be read or
	// holds no such object.
	FObjectPtr LoadObject(const QString& ObjectPath, bool bNoRedirects = false);
	// LoadObject for each path in order, the package files read on worker threads first; BeforeEach
	// (a progress frame, say) is called before each. Stops at the first that does not load: false.
	bool LoadObjects(const QStringList& ObjectPaths, bool bNoRedirects, QList<FObjectPtr>& OutObjects,
	                 const std::function<void(const QString& ObjectPath)>& BeforeEach = {});

	// Moves, fix-ups and LoadObjects do their file work on worker threads while the calling (main)
	// thread waits with its events flowing (no user input). A move or fix-up asked for from one of
	// those events, while another runs, is refused with an error.
	//
	// Moves each asset's package to NewPackagePath/NewName. A failing rename (invalid name, name
	// clash, failed write) is logged as an error and leaves both packages as they were; the others
	// still move. True when every rename succeeded.
	bool RenameAssets(const QList<FAssetRenameData>& AssetsAndNames);
	// The same on package names: each (old name, new name) moves one package.
	bool MovePackages(const QList<QPair<QString, QString>>& OldAndNewNames);

	// Rewrites every package that refers to one of these redirectors so that it refers to the
	// redirector's final destination instead (following chains of redirectors), then deletes the
	// redirectors whose referencers were all rewritten. Objects that are no redirectors are
	// ignored. Referencing files that are read-only are made writable: after asking, with
	// bCheckoutDialogPrompt; a "no" leaves them, and the redirectors they refer to, as they were.
	void FixupReferencers(const QList<FObjectPtr>& Objects, bool bCheckoutDialogPrompt = true,
	                      ERedirectFixupMode FixupMode = ERedirectFixupMode::DeleteFixedUpRedirectors);

	// How many objects may be loaded at once before AssetViewUtils::LoadAssetsIfNeeded asks first
	// (when it may ask); the content browser's default.
	int NumObjectsToLoadBeforeWarning = 20;

private:
	// Moves are read and checked one by one, then written in batches whose durability is paid
	// once per batch rather than once per file (see WriteMoves).
	struct FMoveItem;
	struct FPendingMove;
	enum class EMovePrepared
	{
		Ready,
		// Nothing to do: the names are the same.
		Nothing,
		Refused,
		// Only once the batch so far is written.
		AfterFlush,
	};
	// The package files a batch holds in memory before it is written.
	static constexpr qsizetype MaxMoveBatchBytes = qsizetype(64) * 1024 * 1024;
	bool RefuseMove(const QString& OldName, const QString& NewName, const QString& Why) const;
	bool ReadMoveItem(const QString& OldName, const QString& NewName, FMoveItem& Item, QString& OutError);
	// Package files read ahead on the workers, by file name, until a read takes them.
	struct FPrefetchedFile;
	void PrefetchFiles(const QStringList& Filenames);
	void PrefetchMoves(const QList<QPair<QString, QString>>& OldAndNewNames, qsizetype From);
	bool RefuseWhileBusy(const QString& What) const;
	EMovePrepared PrepareMove(const QString& OldName, const QString& NewName, bool bBatchEmpty, FPendingMove& Move);
	bool WriteMoves(std::vector<FPendingMove>& Batch);
	// The file part of WriteMoves, on a worker.
	static void WriteMoveFiles(std::vector<FPendingMove>& Batch, QStringList& OutWarnings);
	static void UndoMove(FPendingMove& Move);
	void FinishMove(FPendingMove& Move);
	bool IsReplaceableRedirector(const QString& PackageName, const QString& MovingPackage) const;
	bool ClashesAt(const QString& NewName, const QString& MovingPackage, QString& OutReason) const;
	void RenameLoadedObjects(const QString& OldPackage, const QString& NewPackage, const QString& OldMainName,
	                         const QString& NewMainName);
	void InvalidateLoadedObjects(const QString& PackageName);
	static void PruneEmptyFolders(const QString& FilePath);
	// Rewrites these referencers in one batch; answers the folded names of those left as they were.
	struct FFixupTargets;
	QSet<QString> RewriteReferencers(const QStringList& Packages, const FFixupTargets& Targets);
	// FixupReferencers' phases, in order: where each redirector finally leads, who refers to them,
	// which read-only referencers may be written, the rounds of rewrites, and the deletion.
	struct FFixupRun;
	void CollectFixupTargets(const QList<FObjectPtr>& Objects, FFixupRun& Run);
	void FindFixupReferencers(FFixupRun& Run);
	void MakeReferencersWritable(FFixupRun& Run, bool bCheckoutDialogPrompt);
	// Rewrites one round of referencers; the redirectors of those left as they were are kept.
	void FixupRound(FFixupRun& Run, const QStringList& Packages);
	bool ShouldDeleteRedirectors(ERedirectFixupMode FixupMode) const;
	void DeleteFixedUpRedirectors(FFixupRun& Run);

	FAssetRegistry& Registry;
	std::function<FDialogService*()> DialogProvider;
	// Folded object path -> the loaded object.
	QHash<QString, FObjectPtr> Loaded;
	QHash<QString, FPrefetchedFile> Prefetched;
	std::unique_ptr<QThreadPool> Workers;
	// A move, fix-up or batch load is running (its caller waits in an event loop).
	bool bBusy = false;
};
