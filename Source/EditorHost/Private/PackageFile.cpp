#include "PackageFile.h"

#include "FileHelper.h"

#include "ObjectClasses.h"
#include "PackageName.h"
#include "Paths.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <utility>
#include <vector>

namespace
{
const QString KeyVersion = QStringLiteral("OrvaPackage");
const QString KeyAssets = QStringLiteral("Assets");
const QString KeyName = QStringLiteral("Name");
const QString KeyClass = QStringLiteral("Class");
const QString KeyDestination = QStringLiteral("Destination");
const QString KeyHard = QStringLiteral("HardDependencies");
const QString KeySoft = QStringLiteral("SoftDependencies");
const QString KeyPartitioned = QStringLiteral("Partitioned");
const QString KeyPayload = QStringLiteral("Payload");

bool Fail(QString* OutError, const QString& Error)
{
	if (OutError)
	{
		*OutError = Error;
	}
	return false;
}

// Code modules derive no classes from the redirector, so a file reads the same in every host.
bool IsRedirectorClass(const QString& ClassPath)
{
	const UClass* Class = UClass::ResolveEngineClass(ClassPath);
	return Class && Class->IsChildOf(UObjectRedirector::StaticClass());
}

// Names already listed, compared ignoring case; short lists (the usual case) need no folded copies.
class FSeenNames
{
public:
	bool Insert(const QString& Name)
	{
		if (Listed.size() < 32)
		{
			for (const QString& Other : Listed)
			{
				if (Other.size() == Name.size() && Other.compare(Name, Qt::CaseInsensitive) == 0)
				{
					return false;
				}
			}
			Listed.append(Name);
			if (Listed.size() == 32)
			{
				for (const QString& Other : Listed)
				{
					Folded.insert(Other.toCaseFolded());
				}
			}
			return true;
		}
		const QString Key = Name.toCaseFolded();
		if (Folded.contains(Key))
		{
			return false;
		}
		Folded.insert(Key);
		return true;
	}

private:
	QStringList Listed;
	QSet<QString> Folded;
};

bool ReadDependencies(const QJsonObject& Root, const QString& Key, QStringList& Out, FSeenNames& Seen,
                      QString* OutError)
{
	const QJsonValue Value = Root.value(Key);
	if (Value.isUndefined())
	{
		return true;
	}
	if (!Value.isArray())
	{
		return Fail(OutError, QStringLiteral("\"") + Key + QStringLiteral("\" must be an array of package names"));
	}
	const QJsonArray Array = Value.toArray();
	Out.reserve(Array.size());
	for (const QJsonValue Item : Array)
	{
		const QString Name = Item.toString();
		QString Reason;
		if (!Item.isString() || !FPackageName::IsValidLongPackageName(Name, &Reason))
		{
			return Fail(OutError, QStringLiteral("Bad dependency \"") + Name + QStringLiteral("\" in \"") + Key +
			                          QStringLiteral("\": ") +
			                          (Item.isString() ? Reason : QStringLiteral("not a string")));
		}
		// Listed twice, or hard and soft at once: the first mention wins, as the engine keeps one
		// dependency per package.
		if (Seen.Insert(Name))
		{
			Out.append(Name);
		}
	}
	return true;
}

// Reads the form this host writes, which is nearly every file a scan meets: ASCII strings without
// escapes, each known key once, a string payload. It accepts only text the full reader accepts and
// gives what that reader would; anything else (and every fault) is left to the full reader, which
// alone words the errors.
class FCommonFormReader
{
public:
	explicit FCommonFormReader(const QByteArray& Utf8)
	    : At(Utf8.constData())
	    , End(Utf8.constData() + Utf8.size())
	{
	}

	std::optional<FPackageFile> Read()
	{
		if (!Eat('{'))
		{
			return std::nullopt;
		}
		FPackageFile File;
		std::vector<QLatin1StringView> Hard;
		std::vector<QLatin1StringView> Soft;
		bool bVersion = false;
		bool bAssets = false;
		bool bHard = false;
		bool bSoft = false;
		bool bPartitioned = false;
		bool bPayload = false;
		do
		{
			QLatin1StringView Key;
			if (!ReadString(Key) || !Eat(':'))
			{
				return std::nullopt;
			}
			bool bOk = false;
			if (Key == KeyVersion && !std::exchange(bVersion, true))
			{
				bOk = ReadVersion();
			}
			else if (Key == KeyAssets && !std::exchange(bAssets, true))
			{
				bOk = ReadAssets(File.Assets);
			}
			else if (Key == KeyHard && !std::exchange(bHard, true))
			{
				bOk = ReadNames(Hard);
			}
			else if (Key == KeySoft && !std::exchange(bSoft, true))
			{
				bOk = ReadNames(Soft);
			}
			else if (Key == KeyPartitioned && !std::exchange(bPartitioned, true))
			{
				bOk = ReadBool(File.bPartitioned);
			}
			else if (Key == KeyPayload && !std::exchange(bPayload, true))
			{
				QLatin1StringView Payload;
				bOk = ReadString(Payload);
				File.Payload = QString(Payload);
			}
			if (!bOk)
			{
				return std::nullopt;
			}
		} while (Eat(','));
		if (!Eat('}'))
		{
			return std::nullopt;
		}
		SkipSpace();
		if (At != End || !bVersion || !bAssets)
		{
			return std::nullopt;
		}
		FSeenNames Seen;
		if (!AddNames(Hard, File.HardDependencies, Seen) || !AddNames(Soft, File.SoftDependencies, Seen))
		{
			return std::nullopt;
		}
		return File;
	}

private:
	const char* At;
	const char* End;

	void SkipSpace()
	{
		while (At < End && (*At == ' ' || *At == '\n' || *At == '\r' || *At == '\t'))
		{
			++At;
		}
	}

	bool Eat(char Wanted)
	{
		SkipSpace();
		if (At < End && *At == Wanted)
		{
			++At;
			return true;
		}
		return false;
	}

	bool ReadString(QLatin1StringView& Out)
	{
		if (!Eat('"'))
		{
			return false;
		}
		const char* const Begin = At;
		for (; At < End; ++At)
		{
			const unsigned char Char = static_cast<unsigned char>(*At);
			if (Char == '"')
			{
				Out = QLatin1StringView(Begin, At - Begin);
				++At;
				return true;
			}
			if (Char < 0x20 || Char > 0x7E || Char == '\\')
			{
				return false;
			}
		}
		return false;
	}

	bool ReadVersion()
	{
		SkipSpace();
		int Version = 0;
		int Digits = 0;
		for (; At < End && *At >= '0' && *At <= '9' && Digits < 9; ++At, ++Digits)
		{
			Version = Version * 10 + (*At - '0');
		}
		// "1.0", "1e0" and "01" stop at a character the caller does not expect, or read 0 here.
		return Digits > 0 && Version >= 1 && Version <= FPackageFile::CurrentVersion &&
		       (Digits == 1 || At[-Digits] != '0');
	}

	bool ReadBool(bool& Out)
	{
		SkipSpace();
		for (const auto& [Text, bValue] : {std::pair{QByteArrayView("true"), true}, {QByteArrayView("false"), false}})
		{
			if (End - At >= Text.size() && QByteArrayView(At, Text.size()) == Text)
			{
				At += Text.size();
				Out = bValue;
				return true;
			}
		}
		return false;
	}

	bool ReadNames(std::vector<QLatin1StringView>& Out)
	{
		if (!Eat('['))
		{
			return false;
		}
		if (Eat(']'))
		{
			return true;
		}
		do
		{
			QLatin1StringView Name;
			if (!ReadString(Name))
			{
				return false;
			}
			Out.push_back(Name);
		} while (Eat(','));
		return Eat(']');
	}

	static bool AddNames(const std::vector<QLatin1StringView>& Names, QStringList& Out, FSeenNames& Seen)
	{
		Out.reserve(qsizetype(Names.size()));
		for (const QLatin1StringView View : Names)
		{
			const QString Name(View);
			if (!FPackageName::IsValidLongPackageName(Name, nullptr))
			{
				return false;
			}
			if (Seen.Insert(Name))
			{
				Out.append(Name);
			}
		}
		return true;
	}

	bool ReadAssets(QList<FPackageAsset>& Out)
	{
		if (!Eat('['))
		{
			return false;
		}
		do
		{
			FPackageAsset Asset;
			bool bName = false;
			bool bClass = false;
			bool bDestination = false;
			if (!Eat('{'))
			{
				return false;
			}
			do
			{
				QLatin1StringView Key;
				QLatin1StringView Value;
				if (!ReadString(Key) || !Eat(':') || !ReadString(Value))
				{
					return false;
				}
				if (Key == KeyName && !std::exchange(bName, true))
				{
					Asset.Name = QString(Value);
				}
				else if (Key == KeyClass && !std::exchange(bClass, true))
				{
					Asset.ClassPath = QString(Value);
				}
				else if (Key == KeyDestination && !std::exchange(bDestination, true))
				{
					Asset.Destination = QString(Value);
				}
				else
				{
					return false;
				}
			} while (Eat(','));
			if (!Eat('}') || !IsValidAsset(Asset, bDestination, Out))
			{
				return false;
			}
			Out.append(std::move(Asset));
		} while (Eat(','));
		return Eat(']');
	}

	// The full reader's checks; names are ASCII here, so ignoring case is folding case.
	static bool IsValidAsset(const FPackageAsset& Asset, bool bDestination, const QList<FPackageAsset>& Before)
	{
		if (!FPackageName::IsValidObjectName(Asset.Name, nullptr) ||
		    !FPackageName::IsValidObjectPath(Asset.ClassPath, nullptr) || Asset.ClassPath.contains(QLatin1Char(':')))
		{
			return false;
		}
		for (const FPackageAsset& Other : Before)
		{
			if (Other.Name.compare(Asset.Name, Qt::CaseInsensitive) == 0)
			{
				return false;
			}
		}
		const bool bRedirector = IsRedirectorClass(Asset.ClassPath);
		return bRedirector ? FPackageName::IsValidObjectPath(Asset.Destination, nullptr) : !bDestination;
	}
};
} // namespace

bool FPackageAsset::IsRedirector() const
{
	return IsRedirectorClass(ClassPath);
}

std::optional<FPackageFile> FPackageFile::Parse(const QByteArray& Utf8, QString* OutError)
{
	// A start-up scan reads every package; the full reader costs several times as much per file.
	if (std::optional<FPackageFile> File = FCommonFormReader(Utf8).Read())
	{
		return File;
	}
	return ParseValidating(Utf8, OutError);
}

std::optional<FPackageFile> FPackageFile::ParseValidating(const QByteArray& Utf8, QString* OutError)
{
	QJsonParseError JsonError;
	const QJsonDocument Document = QJsonDocument::fromJson(Utf8, &JsonError);
	if (JsonError.error != QJsonParseError::NoError)
	{
		Fail(OutError, QStringLiteral("not JSON: ") + JsonError.errorString() + QStringLiteral(" at offset ") +
		                   QString::number(JsonError.offset));
		return std::nullopt;
	}
	if (!Document.isObject())
	{
		Fail(OutError, QStringLiteral("not a JSON object"));
		return std::nullopt;
	}
	const QJsonObject Root = Document.object();
	const QJsonValue Version = Root.value(KeyVersion);
	if (!Version.isDouble() || Version.toDouble() != double(Version.toInt()) || Version.toInt() < 1)
	{
		Fail(OutError, QStringLiteral("\"OrvaPackage\" must hold the format version"));
		return std::nullopt;
	}
	if (Version.toInt() > CurrentVersion)
	{
		Fail(OutError, QStringLiteral("format version ") + QString::number(Version.toInt()) +
		                   QStringLiteral(" is newer than this host reads (") + QString::number(CurrentVersion) +
		                   QStringLiteral(")"));
		return std::nullopt;
	}

	FPackageFile File;
	const QJsonValue AssetsValue = Root.value(KeyAssets);
	if (!AssetsValue.isArray() || AssetsValue.toArray().isEmpty())
	{
		Fail(OutError, QStringLiteral("\"Assets\" must be a non-empty array"));
		return std::nullopt;
	}
	QSet<QString> Names;
	for (const QJsonValue Item : AssetsValue.toArray())
	{
		const QJsonObject AssetObject = Item.toObject();
		FPackageAsset Asset{AssetObject.value(KeyName).toString(), AssetObject.value(KeyClass).toString(),
		                    AssetObject.value(KeyDestination).toString()};
		QString Reason;
		if (!Item.isObject() || !FPackageName::IsValidObjectName(Asset.Name, &Reason))
		{
			Fail(OutError, QStringLiteral("bad asset name \"") + Asset.Name + QStringLiteral("\": ") +
			                   (Item.isObject() ? Reason : QStringLiteral("an asset must be an object")));
			return std::nullopt;
		}
		if (Names.contains(Asset.Name.toCaseFolded()))
		{
			Fail(OutError, QStringLiteral("asset \"") + Asset.Name + QStringLiteral("\" is listed twice"));
			return std::nullopt;
		}
		Names.insert(Asset.Name.toCaseFolded());
		if (!FPackageName::IsValidObjectPath(Asset.ClassPath, &Reason) || Asset.ClassPath.contains(QLatin1Char(':')))
		{
			Fail(OutError, QStringLiteral("asset \"") + Asset.Name + QStringLiteral("\" has no valid class path"));
			return std::nullopt;
		}
		const bool bRedirector = IsRedirectorClass(Asset.ClassPath);
		if (bRedirector && !FPackageName::IsValidObjectPath(Asset.Destination, &Reason))
		{
			Fail(OutError, QStringLiteral("redirector \"") + Asset.Name +
			                   QStringLiteral("\" has no valid destination: ") +
			                   (Asset.Destination.isEmpty() ? QStringLiteral("none given") : Reason));
			return std::nullopt;
		}
		if (!bRedirector && AssetObject.contains(KeyDestination))
		{
			Fail(OutError, QStringLiteral("asset \"") + Asset.Name +
			                   QStringLiteral("\" is no redirector but names a destination"));
			return std::nullopt;
		}
		File.Assets.append(Asset);
	}

	FSeenNames Seen;
	if (!ReadDependencies(Root, KeyHard, File.HardDependencies, Seen, OutError) ||
	    !ReadDependencies(Root, KeySoft, File.SoftDependencies, Seen, OutError))
	{
		return std::nullopt;
	}
	const QJsonValue Partitioned = Root.value(KeyPartitioned);
	if (!Partitioned.isUndefined() && !Partitioned.isBool())
	{
		Fail(OutError, QStringLiteral("\"Partitioned\" must be true or false"));
		return std::nullopt;
	}
	File.bPartitioned = Partitioned.toBool();
	File.Payload = Root.value(KeyPayload);
	return File;
}

std::optional<FPackageFile> FPackageFile::LoadFromFile(const QString& FilePath, QString* OutError)
{
	QFile File(FilePath);
	if (!File.open(QIODevice::ReadOnly))
	{
		Fail(OutError, QStringLiteral("cannot be read: ") + File.errorString());
		return std::nullopt;
	}
	return Parse(File.readAll(), OutError);
}

QByteArray FPackageFile::Serialize() const
{
	QJsonObject Root;
	Root.insert(KeyVersion, CurrentVersion);
	QJsonArray AssetArray;
	for (const FPackageAsset& Asset : Assets)
	{
		QJsonObject AssetObject{{KeyName, Asset.Name}, {KeyClass, Asset.ClassPath}};
		if (!Asset.Destination.isEmpty())
		{
			AssetObject.insert(KeyDestination, Asset.Destination);
		}
		AssetArray.append(AssetObject);
	}
	Root.insert(KeyAssets, AssetArray);
	if (!HardDependencies.isEmpty())
	{
		Root.insert(KeyHard, QJsonArray::fromStringList(HardDependencies));
	}
	if (!SoftDependencies.isEmpty())
	{
		Root.insert(KeySoft, QJsonArray::fromStringList(SoftDependencies));
	}
	if (bPartitioned)
	{
		Root.insert(KeyPartitioned, true);
	}
	if (!Payload.isUndefined())
	{
		Root.insert(KeyPayload, Payload);
	}
	return QJsonDocument(Root).toJson(QJsonDocument::Indented);
}

bool FPackageFile::SaveToFile(const QString& FilePath, QString* OutError) const
{
	return WriteFileAtomically(FilePath, Serialize(), OutError);
}

bool FPackageFile::WriteFileAtomically(const QString& FilePath, const QByteArray& Bytes, QString* OutError)
{
	return FFileHelper::SaveArrayToFile(Bytes, FilePath, OutError);
}

FPackageFile FPackageFile::MakeRedirector(const QList<QPair<QString, QString>>& NamesAndDestinations)
{
	FPackageFile File;
	for (const auto& [Name, Destination] : NamesAndDestinations)
	{
		File.Assets.append({Name, UObjectRedirector::StaticClass()->GetPathName(), Destination});
		File.AddDependency(FPackageName::ObjectPathToPackageName(Destination), true);
	}
	return File;
}

bool FPackageFile::IsRedirectorPackage() const
{
	for (const FPackageAsset& Asset : Assets)
	{
		if (!Asset.IsRedirector())
		{
			return false;
		}
	}
	return !Assets.isEmpty();
}

bool FPackageFile::IsLevel(const FClassTable& Classes) const
{
	if (Assets.isEmpty())
	{
		return false;
	}
	const UClass* Class = Classes.ResolveClass(Assets.first().ClassPath);
	return Class && Class->IsChildOf(UWorld::StaticClass());
}

void FPackageFile::AddDependency(const QString& PackageName, bool bHard)
{
	const auto Listed = [&PackageName](const QStringList& List)
	{ return List.contains(PackageName, Qt::CaseInsensitive); };
	if (Listed(HardDependencies))
	{
		return;
	}
	if (bHard)
	{
		SoftDependencies.removeIf([&PackageName](const QString& Name)
		                          { return Name.compare(PackageName, Qt::CaseInsensitive) == 0; });
		HardDependencies.append(PackageName);
	}
	else if (!Listed(SoftDependencies))
	{
		SoftDependencies.append(PackageName);
	}
}
