#include "SoftObjectPath.h"

FSoftObjectPath::FSoftObjectPath(const QString& InPackageName, const QString& InAssetName, const QString& InSubPath)
    : PackageName(InPackageName)
    , AssetName(InAssetName)
    , SubPath(InSubPath)
{
}

void FSoftObjectPath::SetPath(const QString& Path)
{
	Reset();
	QString Text = Path.trimmed();
	// The engine also accepts the exported form Class'/Game/Path.Asset'.
	const int Quote = Text.indexOf(QLatin1Char('\''));
	if (Quote > 0 && Text.endsWith(QLatin1Char('\'')))
	{
		Text = Text.mid(Quote + 1, Text.size() - Quote - 2);
	}
	if (Text.isEmpty() || Text == QLatin1String("None") || !Text.startsWith(QLatin1Char('/')))
	{
		return;
	}
	QString AssetPart = Text;
	const int Colon = Text.indexOf(QLatin1Char(':'));
	if (Colon >= 0)
	{
		AssetPart = Text.left(Colon);
		SubPath = Text.mid(Colon + 1);
	}
	const int Dot = AssetPart.indexOf(QLatin1Char('.'));
	if (Dot >= 0)
	{
		PackageName = AssetPart.left(Dot);
		AssetName = AssetPart.mid(Dot + 1);
	}
	else
	{
		PackageName = AssetPart;
	}
	if (PackageName.isEmpty())
	{
		Reset();
	}
}

void FSoftObjectPath::Reset()
{
	PackageName.clear();
	AssetName.clear();
	SubPath.clear();
}

QString FSoftObjectPath::GetAssetPathString() const
{
	if (PackageName.isEmpty())
	{
		return QString();
	}
	return AssetName.isEmpty() ? PackageName : PackageName + QLatin1Char('.') + AssetName;
}

QString FSoftObjectPath::ToString() const
{
	const QString Asset = GetAssetPathString();
	return SubPath.isEmpty() || Asset.isEmpty() ? Asset : Asset + QLatin1Char(':') + SubPath;
}

bool FSoftObjectPath::operator==(const FSoftObjectPath& Other) const
{
	// Names compare as the engine's names do: ignoring case.
	return PackageName.compare(Other.PackageName, Qt::CaseInsensitive) == 0 &&
	       AssetName.compare(Other.AssetName, Qt::CaseInsensitive) == 0 &&
	       SubPath.compare(Other.SubPath, Qt::CaseInsensitive) == 0;
}
