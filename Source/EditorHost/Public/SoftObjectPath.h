#pragma once

#include <QMetaType>
#include <QString>

// The engine's soft object path: "PackageName.AssetName[:SubPath]", for example
// "/Game/Maps/Entry.Entry" or "/Game/Maps/Entry.Entry:PersistentLevel.MyActor".
class FSoftObjectPath
{
	Q_GADGET
	Q_PROPERTY(QString PackageName READ GetLongPackageName)
	Q_PROPERTY(QString AssetName READ GetAssetName)
	Q_PROPERTY(QString SubPathString READ GetSubPathString)

public:
	FSoftObjectPath() = default;
	explicit FSoftObjectPath(const QString& Path) { SetPath(Path); }
	FSoftObjectPath(const QString& InPackageName, const QString& InAssetName, const QString& InSubPath = QString());

	// Parses the text form; text that is no object path leaves the path empty.
	void SetPath(const QString& Path);
	void Reset();

	QString GetLongPackageName() const { return PackageName; }
	QString GetAssetName() const { return AssetName; }
	QString GetSubPathString() const { return SubPath; }
	// "Package.Asset", without the sub-path.
	QString GetAssetPathString() const;
	QString ToString() const;

	bool IsNull() const { return PackageName.isEmpty(); }
	bool IsValid() const { return !PackageName.isEmpty(); }
	// Names a top-level asset: a package and an asset, no sub-path.
	bool IsAsset() const { return !PackageName.isEmpty() && !AssetName.isEmpty() && SubPath.isEmpty(); }

	bool operator==(const FSoftObjectPath& Other) const;
	bool operator!=(const FSoftObjectPath& Other) const { return !(*this == Other); }

private:
	QString PackageName;
	QString AssetName;
	QString SubPath;
};

Q_DECLARE_METATYPE(FSoftObjectPath)
