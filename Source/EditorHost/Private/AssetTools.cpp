#include "AssetTools.h"

#include "AssetRegistry.h"
#include "Dialogs.h"
#include "Log.h"
#include "ObjectClasses.h"
#include "PackageFile.h"
#include "PackageName.h"
#include "Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace
{
QString Folded(const QString& Text) { return Text.toCaseFolded(); }

bool SameName(const QString& A, const QString& B) { return A.compare(B, Qt::CaseInsensitive) == 0; }

// A package of a move, read before anything is written.
struct FMoveItem
{
	QString OldName;
	QString NewName;
	QString OldFile;
	QString NewFile;
	QString Extension;
	QByteArray Bytes;
	FPackageFile File;
};

std::optional<FMoveItem> ReadMoveItem(const FAssetRegistry& Registry, const QString& OldName, const QString& NewName,
	QString& OutError)
{
	FMoveItem Item;
	QString CorrectCase;
	if (!Registry.DoesPackageExistOnDisk(OldName, &CorrectCase, &Item.Extension))
	{
		OutError = QStringLiteral("there is no package ") + OldName + QStringLiteral(" on disk");
		return std::nullopt;
	}
	Item.OldName = CorrectCase;
	Item.NewName = NewName;
	Item.OldFile = Registry.GetPackageFilename(CorrectCase);
	Registry.TryConvertLongPackageNameToFilename(NewName, Item.NewFile, Item.Extension);
	QFile File(Item.OldFile);
	if (!File.open(QIODevice::ReadOnly))
	{
		OutError = Item.OldFile + QStringLiteral(" cannot be read: ") + File.errorString();
		return std::nullopt;
	}
	Item.Bytes = File.readAll();
	QString Reason;
	std::optional<FPackageFile> Parsed = FPackageFile::Parse(Item.Bytes, &Reason);
	if (!Parsed)
	{
		OutError = Item.OldFile + QStringLiteral(" is no valid package: ") + Reason;
		return std::nullopt;
	}
	Item.File = *Parsed;
	return Item;
}
} // namespace

// ---- FLoadedObject ----

const UClass* FLoadedObject::GetClass() const { return UClass::ResolveClass(ClassPath); }

bool FLoadedObject::IsA(const UClass* Class) const
{
	const UClass* Own = GetClass();
	return Own && Class && Own->IsChildOf(Class);
}

bool FLoadedObject::IsRedirector() const { return IsA(UObjectRedirector::StaticClass()); }

// ---- FAssetTools ----

FAssetTools::FAssetTools(FAssetRegistry& InRegistry, std::function<FDialogService*()> InDialogProvider)
	: Registry(InRegistry)
	, DialogProvider(std::move(InDialogProvider))
{
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
				UE_LOG(LogEditorHost, Error, QStringLiteral("Failed to load ") + Path + QStringLiteral(": not an object path"));
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
			const std::optional<FPackageFile> File = FPackageFile::LoadFromFile(Filename, &Reason);
			if (!File)
			{
				UE_LOG(LogEditorHost, Error, QStringLiteral("Failed to load ") + Path + QStringLiteral(": ") + Filename +
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
					Loaded.insert(Folded(Object->GetPathName()), Object);
					break;
				}
			}
			if (!Object)
			{
				UE_LOG(LogEditorHost, Error,
					QStringLiteral("Failed to load ") + Path + QStringLiteral(": the package holds no object ") + Name);
				return nullptr;
			}
		}
		if (bNoRedirects || !Object->IsRedirector())
		{
			return Object;
		}
		Path = Object->GetDestinationObjectPath();
	}
	UE_LOG(LogEditorHost, Error, QStringLiteral("Failed to load ") + ObjectPath + QStringLiteral(": its redirectors loop"));
	return nullptr;
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
	bool bAll = true;
	QSet<QString> Done;
	for (const auto& [OldName, NewName] : OldAndNewNames)
	{
		// Two assets of one package move it once.
		const QString Key = Folded(OldName) + QLatin1Char('\n') + Folded(NewName);
		if (Done.contains(Key))
		{
			continue;
		}
		Done.insert(Key);
		bAll = MovePackage(OldName, NewName) && bAll;
	}
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

bool FAssetTools::MovePackage(const QString& OldName, const QString& NewName)
{
	const auto Refuse = [&](const QString& Why)
	{
		UE_LOG(LogEditorHost, Error, QStringLiteral("Cannot move ") + OldName + QStringLiteral(" to ") + NewName +
			QStringLiteral(": ") + Why);
		return false;
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
		return true;
	}
	if (FPackageName::IsExternalPackage(OldName) || FPackageName::IsExternalPackage(NewName))
	{
		return Refuse(QStringLiteral("external actors and objects move with their level, not on their own"));
	}
	std::optional<FMoveItem> Main = ReadMoveItem(Registry, OldName, NewName, Reason);
	if (!Main)
	{
		return Refuse(Reason);
	}

	// The main asset carries the package's short name, so a rename renames it too.
	const QString OldShort = FPackageName::GetShortName(Main->OldName);
	const QString NewShort = FPackageName::GetShortName(NewName);
	if (OldShort != NewShort)
	{
		bool bRenamed = false;
		for (FPackageAsset& Asset : Main->File.Assets)
		{
			if (SameName(Asset.Name, NewShort) && !SameName(Asset.Name, OldShort))
			{
				return Refuse(QStringLiteral("the package holds another object named ") + NewShort);
			}
		}
		for (FPackageAsset& Asset : Main->File.Assets)
		{
			if (SameName(Asset.Name, OldShort))
			{
				Asset.Name = NewShort;
				bRenamed = true;
			}
		}
		if (bRenamed)
		{
			Main->Bytes = Main->File.Serialize();
		}
	}

	// A level takes its external actors and objects along, found by a fresh look at their folders.
	QList<FMoveItem> Externals;
	if (Main->File.IsLevel())
	{
		const QStringList OldPaths = ULevel::GetExternalObjectsPaths(Main->OldName);
		const QStringList NewPaths = ULevel::GetExternalObjectsPaths(NewName);
		Registry.ScanPathsSynchronous(OldPaths, true, true);
		for (qsizetype Index = 0; Index < OldPaths.size() && Index < NewPaths.size(); ++Index)
		{
			QList<FAssetData> Assets;
			Registry.GetAssetsByPath(OldPaths[Index], Assets, true);
			QSet<QString> Seen;
			for (const FAssetData& Asset : Assets)
			{
				if (Seen.contains(Folded(Asset.PackageName)))
				{
					continue;
				}
				Seen.insert(Folded(Asset.PackageName));
				const QString ExternalNew = NewPaths[Index] + Asset.PackageName.mid(OldPaths[Index].size());
				std::optional<FMoveItem> Item = ReadMoveItem(Registry, Asset.PackageName, ExternalNew, Reason);
				if (!Item)
				{
					return Refuse(QStringLiteral("its external package ") + Reason);
				}
				Externals.append(*Item);
			}
		}
	}

	if (ClashesAt(NewName, Main->OldName, Reason))
	{
		return Refuse(Reason);
	}
	for (const FMoveItem& Item : Externals)
	{
		if (ClashesAt(Item.NewName, Item.OldName, Reason))
		{
			return Refuse(QStringLiteral("for its external package ") + Item.OldName + QStringLiteral(", ") + Reason);
		}
	}

	// New files first: until the redirector replaces the old file, a failure undoes what was
	// written and leaves every original untouched.
	QString ReplacedFile;
	QString ReplacedName;
	QByteArray ReplacedBytes;
	if (Registry.DoesPackageExistOnDisk(NewName, &ReplacedName))
	{
		ReplacedFile = Registry.GetPackageFilename(ReplacedName);
		QFile Replaced(ReplacedFile);
		if (!Replaced.open(QIODevice::ReadOnly))
		{
			return Refuse(ReplacedFile + QStringLiteral(" cannot be read: ") + Replaced.errorString());
		}
		ReplacedBytes = Replaced.readAll();
	}
	QStringList Written;
	bool bOverwroteReplaced = false;
	const auto Undo = [&]
	{
		for (const QString& File : Written)
		{
			QFile::remove(File);
		}
		if (bOverwroteReplaced)
		{
			FPackageFile::WriteFileAtomically(ReplacedFile, ReplacedBytes);
		}
	};
	for (FMoveItem* Item : [&]
		{
			QList<FMoveItem*> All{&*Main};
			for (FMoveItem& External : Externals)
			{
				All.append(&External);
			}
			return All;
		}())
	{
		if (!FPackageFile::WriteFileAtomically(Item->NewFile, Item->Bytes, &Reason))
		{
			Undo();
			return Refuse(QStringLiteral("writing ") + Item->NewFile + QStringLiteral(" failed: ") + Reason);
		}
		if (Item->NewFile != ReplacedFile)
		{
			Written.append(Item->NewFile);
		}
		else
		{
			bOverwroteReplaced = true;
		}
	}
	QList<QPair<QString, QString>> Redirects;
	for (const FPackageAsset& Asset : Main->File.Assets)
	{
		// Asset names after the rename; the redirector keeps each object's old name.
		const QString OldAssetName = SameName(Asset.Name, NewShort) && OldShort != NewShort ? OldShort : Asset.Name;
		Redirects.append({OldAssetName, NewName + QLatin1Char('.') + Asset.Name});
	}
	const FPackageFile Redirector = FPackageFile::MakeRedirector(Redirects);
	const QByteArray RedirectorBytes = Redirector.Serialize();
	if (!FPackageFile::WriteFileAtomically(Main->OldFile, RedirectorBytes, &Reason))
	{
		Undo();
		return Refuse(QStringLiteral("writing the redirector ") + Main->OldFile + QStringLiteral(" failed: ") + Reason);
	}

	// The move has happened; what follows only tidies up.
	if (!ReplacedFile.isEmpty())
	{
		QList<FAssetData> Replaced;
		Registry.GetAssetsByPackageName(ReplacedName, Replaced);
		for (const FAssetData& Asset : Replaced)
		{
			if (const FObjectPtr Object = Loaded.take(Folded(Asset.GetObjectPathString())))
			{
				Object->bValid = false;
			}
		}
		if (ReplacedFile != Main->NewFile)
		{
			QFile::remove(ReplacedFile);
		}
		Registry.RemovePackage(ReplacedName);
	}
	Registry.AddOrUpdatePackage(NewName, Main->File, Main->Extension, Main->Bytes.size());
	Registry.AddOrUpdatePackage(Main->OldName, Redirector, Main->Extension, RedirectorBytes.size());
	RenameLoadedObjects(Main->OldName, NewName, OldShort, NewShort);
	for (const FMoveItem& Item : Externals)
	{
		if (!QFile::remove(Item.OldFile))
		{
			UE_LOG(LogEditorHost, Warning,
				QStringLiteral("Moved ") + Item.OldName + QStringLiteral(" but could not delete ") + Item.OldFile);
		}
		PruneEmptyFolders(Item.OldFile);
		Registry.RemovePackage(Item.OldName);
		Registry.AddOrUpdatePackage(Item.NewName, Item.File, Item.Extension, Item.Bytes.size());
		RenameLoadedObjects(Item.OldName, Item.NewName, QString(), QString());
	}
	return true;
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

void FAssetTools::PruneEmptyFolders(const QString& FilePath) const
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

void FAssetTools::FixupReferencers(const QList<FObjectPtr>& Objects, bool bCheckoutDialogPrompt,
	ERedirectFixupMode FixupMode)
{
	// Redirector packages to fix, and where each of their objects finally leads.
	QHash<QString, QString> RedirectorPackages;   // folded name -> name
	QHash<QString, QString> FinalObject;          // folded redirector object path -> final object path
	QHash<QString, QStringList> FinalPackages;    // folded redirector package -> final packages
	for (const FObjectPtr& Object : Objects)
	{
		if (!Object || !Object->IsValid() || !Object->IsRedirector())
		{
			continue;
		}
		const QString Package = Object->GetPackageName();
		if (RedirectorPackages.contains(Folded(Package)))
		{
			continue;
		}
		QList<FAssetData> Assets;
		Registry.GetAssetsByPackageName(Package, Assets);
		bool bFixable = !Assets.isEmpty();
		QStringList Targets;
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
			if (!Targets.contains(Final.PackageName, Qt::CaseInsensitive))
			{
				Targets.append(Final.PackageName);
			}
		}
		if (!bFixable)
		{
			continue;
		}
		RedirectorPackages.insert(Folded(Package), Package);
		FinalPackages.insert(Folded(Package), Targets);
		FinalObject.insert(Finals);
	}
	if (RedirectorPackages.isEmpty())
	{
		return;
	}

	// Every package that refers to one of them, found in one pass over the registry.
	QStringList Referencers;
	QHash<QString, QStringList> RedirectorsReferencedBy; // folded referencer -> folded redirectors
	QHash<QString, int> ReferencerCount;                  // folded redirector -> referencers left
	const QStringList AllPackages = Registry.GetAllPackageNames();
	for (const QString& Package : AllPackages)
	{
		QStringList Dependencies;
		Registry.GetDependencies(Package, Dependencies);
		QStringList Referenced;
		for (const QString& Dependency : Dependencies)
		{
			if (RedirectorPackages.contains(Folded(Dependency)) && !SameName(Dependency, Package))
			{
				Referenced.append(Folded(Dependency));
				++ReferencerCount[Folded(Dependency)];
			}
		}
		if (!Referenced.isEmpty())
		{
			Referencers.append(Package);
			RedirectorsReferencedBy.insert(Folded(Package), Referenced);
		}
	}

	const auto RewriteReferencer = [&](const QString& Package) -> bool
	{
		const QString Filename = Registry.GetPackageFilename(Package);
		QString Reason;
		std::optional<FPackageFile> File = FPackageFile::LoadFromFile(Filename, &Reason);
		if (!File)
		{
			UE_LOG(LogEditorHost, Error, QStringLiteral("Cannot fix up ") + Package + QStringLiteral(": ") + Filename +
				QStringLiteral(" ") + Reason);
			return false;
		}
		FPackageFile Rewritten = *File;
		Rewritten.HardDependencies.clear();
		Rewritten.SoftDependencies.clear();
		for (const bool bHard : {true, false})
		{
			for (const QString& Dependency : bHard ? File->HardDependencies : File->SoftDependencies)
			{
				const QStringList Targets = FinalPackages.value(Folded(Dependency), QStringList{Dependency});
				for (const QString& Target : Targets)
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
		if (!FPackageFile::WriteFileAtomically(Filename, Bytes, &Reason))
		{
			UE_LOG(LogEditorHost, Error, QStringLiteral("Cannot fix up ") + Package + QStringLiteral(": writing ") + Filename +
				QStringLiteral(" failed: ") + Reason);
			return false;
		}
		QString Extension;
		Registry.DoesPackageExistOnDisk(Package, nullptr, &Extension);
		Registry.AddOrUpdatePackage(Package, Rewritten, Extension, Bytes.size());
		return true;
	};

	// Read-only referencers are made writable, after asking when asked to ask.
	QSet<QString> Kept; // folded redirector packages that stay
	QStringList ReadOnly;
	for (const QString& Package : Referencers)
	{
		const QString Filename = Registry.GetPackageFilename(Package);
		if (!(QFile::permissions(Filename) & QFileDevice::WriteOwner))
		{
			ReadOnly.append(Package);
		}
	}
	QSet<QString> Skipped;
	if (!ReadOnly.isEmpty())
	{
		FDialogService* Dialogs = GetDialogs();
		const bool bMakeWritable = !bCheckoutDialogPrompt || !Dialogs ||
			Dialogs->MessageBox(EAppMsgType::YesNo,
				QStringLiteral("These packages refer to redirectors but are read-only:\n") + ReadOnly.join(QLatin1Char('\n')) +
					QStringLiteral("\nMake them writable so that they can be fixed up?"),
				QStringLiteral("Read-only packages")) == EAppReturnType::Yes;
		for (const QString& Package : ReadOnly)
		{
			const QString Filename = Registry.GetPackageFilename(Package);
			if (!bMakeWritable || !QFile::setPermissions(Filename, QFile::permissions(Filename) | QFileDevice::WriteOwner))
			{
				Skipped.insert(Folded(Package));
			}
		}
	}

	// Redirectors referring to redirectors of the set go away with them, unless they are kept; so
	// referencers outside the set come first, then kept redirectors, until nothing changes.
	QSet<QString> Handled;
	const auto Fix = [&](const QString& Package)
	{
		Handled.insert(Folded(Package));
		if (Skipped.contains(Folded(Package)) || !RewriteReferencer(Package))
		{
			for (const QString& Redirector : RedirectorsReferencedBy.value(Folded(Package)))
			{
				Kept.insert(Redirector);
			}
		}
	};
	for (const QString& Package : Referencers)
	{
		if (!RedirectorPackages.contains(Folded(Package)))
		{
			Fix(Package);
		}
	}
	const bool bDelete = [&]
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
	}();
	if (!bDelete)
	{
		for (const QString& Key : RedirectorPackages.keys())
		{
			Kept.insert(Key);
		}
	}
	for (bool bChanged = true; bChanged;)
	{
		bChanged = false;
		for (const QString& Package : Referencers)
		{
			if (Kept.contains(Folded(Package)) && !Handled.contains(Folded(Package)))
			{
				Fix(Package);
				bChanged = true;
			}
		}
	}

	if (!bDelete)
	{
		return;
	}
	for (auto It = RedirectorPackages.cbegin(); It != RedirectorPackages.cend(); ++It)
	{
		if (Kept.contains(It.key()))
		{
			continue;
		}
		const QString Filename = Registry.GetPackageFilename(It.value());
		if (!QFile::remove(Filename))
		{
			UE_LOG(LogEditorHost, Error, QStringLiteral("Cannot delete the fixed-up redirector ") + Filename);
			continue;
		}
		InvalidateLoadedObjects(It.value());
		Registry.RemovePackage(It.value());
	}
}
