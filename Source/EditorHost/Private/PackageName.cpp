#include "PackageName.h"

namespace
{
const QStringView InvalidNameCharacters = u"\\:*?\"<>|',.&!~@#\n\r\t";

// Names are checked by the hundred thousand when a project is scanned: a table, not a search.
struct FInvalidTable
{
	bool Invalid[128] = {};
	FInvalidTable()
	{
		for (const QChar C : InvalidNameCharacters)
		{
			Invalid[C.unicode()] = true;
		}
	}
};

bool IsInvalidCharacter(QChar C)
{
	static const FInvalidTable Table;
	return C.unicode() < 128 && Table.Invalid[C.unicode()];
}

bool Fail(QString* OutReason, const QString& Reason)
{
	if (OutReason)
	{
		*OutReason = Reason;
	}
	return false;
}

// Checks the shape shared by package names and package paths; MinParts is the least number of
// "/"-separated parts (the mount point counts as one).
bool CheckSlashedName(QStringView Name, int MinParts, const QString& What, QString* OutReason)
{
	if (!Name.startsWith(QLatin1Char('/')))
	{
		return Fail(OutReason, What + QStringLiteral(" must start with \"/\""));
	}
	if (Name.endsWith(QLatin1Char('/')))
	{
		return Fail(OutReason, What + QStringLiteral(" must not end with \"/\""));
	}
	for (const QChar C : Name)
	{
		if (IsInvalidCharacter(C))
		{
			const QString Shown = C == QLatin1Char('\n')   ? QStringLiteral("a line break")
			                      : C == QLatin1Char('\r') ? QStringLiteral("a carriage return")
			                      : C == QLatin1Char('\t') ? QStringLiteral("a tab")
			                                               : QStringLiteral("\"") + C + QStringLiteral("\"");
			return Fail(OutReason, What + QStringLiteral(" must not contain ") + Shown);
		}
	}
	int Parts = 0;
	qsizetype Start = 1;
	while (Start <= Name.size())
	{
		qsizetype End = Name.indexOf(QLatin1Char('/'), Start);
		if (End < 0)
		{
			End = Name.size();
		}
		if (End == Start)
		{
			return Fail(OutReason, What + QStringLiteral(" must not hold an empty part (\"//\")"));
		}
		++Parts;
		Start = End + 1;
	}
	if (Parts < MinParts)
	{
		return Fail(OutReason, MinParts > 1 ? What + QStringLiteral(" needs a mount point and a name (\"/Game/Name\")")
		                                    : What + QStringLiteral(" needs a mount point"));
	}
	return true;
}
} // namespace

bool FPackageName::IsValidLongPackageName(QStringView Name, QString* OutReason)
{
	if (Name.size() < 4)
	{
		return Fail(OutReason, QStringLiteral("A package name must have at least 4 characters"));
	}
	return CheckSlashedName(Name, 2, QStringLiteral("A package name"), OutReason);
}

bool FPackageName::IsValidPackagePath(QStringView Path, QString* OutReason)
{
	return CheckSlashedName(Path, 1, QStringLiteral("A package path"), OutReason);
}

bool FPackageName::IsValidObjectName(QStringView Name, QString* OutReason)
{
	if (Name.isEmpty())
	{
		return Fail(OutReason, QStringLiteral("An object name must not be empty"));
	}
	for (const QChar C : Name)
	{
		if (C == QLatin1Char('/') || IsInvalidCharacter(C))
		{
			return Fail(OutReason, QStringLiteral("An object name must not contain \"") + C + QStringLiteral("\""));
		}
	}
	return true;
}

bool FPackageName::IsValidObjectPath(QStringView Path, QString* OutReason)
{
	const qsizetype Colon = Path.indexOf(QLatin1Char(':'));
	const QStringView AssetPart = Colon < 0 ? Path : Path.left(Colon);
	const qsizetype Dot = AssetPart.indexOf(QLatin1Char('.'));
	if (Dot < 0)
	{
		return Fail(OutReason, QStringLiteral("An object path must read \"Package.Object\""));
	}
	if (!IsValidLongPackageName(AssetPart.left(Dot), OutReason) ||
	    !IsValidObjectName(AssetPart.mid(Dot + 1), OutReason))
	{
		return false;
	}
	if (Colon >= 0)
	{
		// Sub-objects are dotted chains of object names ("PersistentLevel.MyActor").
		const QStringView Sub = Path.mid(Colon + 1);
		qsizetype Start = 0;
		while (Start <= Sub.size())
		{
			qsizetype End = Sub.indexOf(QLatin1Char('.'), Start);
			if (End < 0)
			{
				End = Sub.size();
			}
			if (!IsValidObjectName(Sub.mid(Start, End - Start), OutReason))
			{
				return false;
			}
			Start = End + 1;
		}
	}
	return true;
}

QString FPackageName::GetLongPackagePath(const QString& PackageName)
{
	const qsizetype Slash = PackageName.lastIndexOf(QLatin1Char('/'));
	return Slash <= 0 ? QString() : PackageName.left(Slash);
}

QString FPackageName::GetShortName(const QString& PackageName)
{
	return PackageName.mid(PackageName.lastIndexOf(QLatin1Char('/')) + 1);
}

QString FPackageName::GetMountPointName(const QString& PackageName)
{
	if (!PackageName.startsWith(QLatin1Char('/')))
	{
		return QString();
	}
	const qsizetype Slash = PackageName.indexOf(QLatin1Char('/'), 1);
	return Slash < 0 ? PackageName.mid(1) : PackageName.mid(1, Slash - 1);
}

QString FPackageName::GetPathAfterMountPoint(const QString& PackageName)
{
	if (!PackageName.startsWith(QLatin1Char('/')))
	{
		return QString();
	}
	const qsizetype Slash = PackageName.indexOf(QLatin1Char('/'), 1);
	return Slash < 0 ? QString() : PackageName.mid(Slash + 1);
}

QString FPackageName::ObjectPathToPackageName(const QString& ObjectPath)
{
	qsizetype End = ObjectPath.indexOf(QLatin1Char('.'));
	const qsizetype Colon = ObjectPath.indexOf(QLatin1Char(':'));
	if (End < 0 || (Colon >= 0 && Colon < End))
	{
		End = Colon;
	}
	return End < 0 ? ObjectPath : ObjectPath.left(End);
}

QString FPackageName::ObjectPathToObjectName(const QString& ObjectPath)
{
	const qsizetype Colon = ObjectPath.indexOf(QLatin1Char(':'));
	const QString AssetPart = Colon < 0 ? ObjectPath : ObjectPath.left(Colon);
	const qsizetype Dot = AssetPart.indexOf(QLatin1Char('.'));
	return Dot < 0 ? QString() : AssetPart.mid(Dot + 1);
}

bool FPackageName::IsScriptPackage(QStringView PackageName)
{
	return PackageName.startsWith(QLatin1String("/Script/"), Qt::CaseInsensitive);
}

bool FPackageName::IsExternalPackage(const QString& PackageName)
{
	const QString AfterMount = GetPathAfterMountPoint(PackageName);
	const QString FirstFolder = AfterMount.left(AfterMount.indexOf(QLatin1Char('/')));
	return AfterMount.contains(QLatin1Char('/')) &&
	       (FirstFolder.compare(ExternalActorsFolderName(), Qt::CaseInsensitive) == 0 ||
	        FirstFolder.compare(ExternalObjectsFolderName(), Qt::CaseInsensitive) == 0);
}

bool FPackageName::IsUnderPath(QStringView Name, QStringView Folder)
{
	while (Folder.endsWith(QLatin1Char('/')))
	{
		Folder.chop(1);
	}
	if (!Name.startsWith(Folder, Qt::CaseInsensitive))
	{
		return false;
	}
	return Name.size() == Folder.size() || Name.at(Folder.size()) == QLatin1Char('/');
}
