#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class FClassTable;

// One object of a package file.
struct FPackageAsset
{
	// The object's short name; its object path is "<package name>.<Name>".
	QString Name;
	// The class path, "/Script/Engine.StaticMesh".
	QString ClassPath;
	// Redirectors only: the object path the redirector points at.
	QString Destination;

	// Whether the class resolves (after class redirects) to the object redirector class.
	bool IsRedirector() const;
	bool operator==(const FPackageAsset& Other) const = default;
};

// The content of a package file (".uasset", or ".umap" for a level), a small UTF-8 JSON object
// described in docs/PackageFormat.md. The package's name is not stored: it follows from where the
// file lies under its mount point's folder.
struct FPackageFile
{
	static constexpr int CurrentVersion = 1;

	// At least one. The first is the package's main asset (for a level, its world).
	QList<FPackageAsset> Assets;
	// Package names, in file order, without duplicates; a package listed as hard is not also soft.
	QStringList HardDependencies;
	QStringList SoftDependencies;
	// Levels only: the level keeps its actors and objects as separate external packages.
	bool bPartitioned = false;
	// Opaque data of the package (any JSON value; binary data as a base64 string). Undefined when
	// the package has none. The host never interprets it.
	QJsonValue Payload = QJsonValue(QJsonValue::Undefined);

	// Parses the file form; nullopt with a reason when the text is no valid package.
	static std::optional<FPackageFile> Parse(const QByteArray& Utf8, QString* OutError = nullptr);
	// The same answer as Parse, always through the general JSON reader (Parse takes a shorter way
	// through the form this host writes).
	static std::optional<FPackageFile> ParseValidating(const QByteArray& Utf8, QString* OutError = nullptr);
	static std::optional<FPackageFile> LoadFromFile(const QString& FilePath, QString* OutError = nullptr);
	// The file form: indented JSON, keys in alphabetical order.
	QByteArray Serialize() const;
	// Writes through a temporary file that replaces the target only once it is complete, so a
	// failed write (a full disk) leaves any previous file as it was. Creates missing folders.
	bool SaveToFile(const QString& FilePath, QString* OutError = nullptr) const;
	// The same replace-when-complete write for bytes already in file form.
	static bool WriteFileAtomically(const QString& FilePath, const QByteArray& Bytes, QString* OutError = nullptr);

	// A redirector package: one redirector per (object name, destination object path); it depends
	// on each destination's package, so that walks through it still reach the moved objects.
	static FPackageFile MakeRedirector(const QList<QPair<QString, QString>>& NamesAndDestinations);

	// Hard dependencies, then soft ones, in file order.
	QStringList AllDependencies() const { return HardDependencies + SoftDependencies; }
	// Every asset is a redirector.
	bool IsRedirectorPackage() const;
	// Whether the main asset's class is a world (or derives from it) among Classes.
	bool IsLevel(const FClassTable& Classes) const;

	// Adds a dependency unless it is listed already (ignoring case); a hard one wins over a soft one.
	void AddDependency(const QString& PackageName, bool bHard);

	bool operator==(const FPackageFile& Other) const = default;
};
