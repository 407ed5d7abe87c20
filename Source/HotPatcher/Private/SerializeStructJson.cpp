#include "SerializeStructJson.h"

#include "Json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

namespace
{
QString DependencyTypeName(EAssetRegistryDependencyTypeEx Type)
{
	switch (Type)
	{
	case EAssetRegistryDependencyTypeEx::None:
		return QStringLiteral("None");
	case EAssetRegistryDependencyTypeEx::Hard:
		return QStringLiteral("Hard");
	case EAssetRegistryDependencyTypeEx::Soft:
		return QStringLiteral("Soft");
	case EAssetRegistryDependencyTypeEx::Packages:
		return QStringLiteral("Packages");
	}
	return QString();
}

// A reader that remembers the first problem, named by the key's path in the document.
class FSettingsReader
{
public:
	QString Error;

	bool Fail(const QString& Where, const QString& What)
	{
		if (Error.isEmpty())
		{
			Error = QStringLiteral("\"%1\" %2").arg(Where, What);
		}
		return false;
	}

	void String(const QJsonObject& Object, const QString& Key, const QString& Where, QString& Out)
	{
		const QJsonValue Value = Object.value(Key);
		if (Value.isUndefined() || Value.isNull())
		{
			return;
		}
		if (!Value.isString())
		{
			Fail(Where + Key, QStringLiteral("must be a string"));
			return;
		}
		Out = Value.toString();
	}
	void Bool(const QJsonObject& Object, const QString& Key, const QString& Where, bool& Out)
	{
		const QJsonValue Value = Object.value(Key);
		if (Value.isUndefined() || Value.isNull())
		{
			return;
		}
		if (!Value.isBool())
		{
			Fail(Where + Key, QStringLiteral("must be true or false"));
			return;
		}
		Out = Value.toBool();
	}
	// Calls Each for every element that is an object; an array of anything else fails.
	template <typename F>
	void Objects(const QJsonObject& Object, const QString& Key, const QString& Where, F&& Each)
	{
		const QJsonValue Value = Object.value(Key);
		if (Value.isUndefined() || Value.isNull())
		{
			return;
		}
		if (!Value.isArray())
		{
			Fail(Where + Key, QStringLiteral("must be an array"));
			return;
		}
		const QJsonArray Array = Value.toArray();
		for (int Index = 0; Index < Array.size(); ++Index)
		{
			const QString ElementWhere = QStringLiteral("%1%2[%3].").arg(Where, Key).arg(Index);
			if (!Array[Index].isObject())
			{
				Fail(ElementWhere.chopped(1), QStringLiteral("must be an object"));
				return;
			}
			Each(Array[Index].toObject(), ElementWhere);
		}
	}
	bool Platform(const QJsonValue& Value, const QString& Where, ETargetPlatform& Out)
	{
		if (!Value.isString() || !TargetPlatformFromString(Value.toString(), Out))
		{
			return Fail(Where, QStringLiteral("is not a target platform name"));
		}
		return true;
	}
};
} // namespace

template <>
bool TSerializeStructAsJsonString<FExportPatchSettings>(const FExportPatchSettings& Struct, QString& OutJsonString)
{
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("VersionId"), Struct.VersionId);
	Writer.WriteArrayStart(QStringLiteral("PakTargetPlatforms"));
	for (const ETargetPlatform Platform : Struct.PakTargetPlatforms)
	{
		Writer.WriteValue(TargetPlatformToString(Platform));
	}
	Writer.WriteArrayEnd();
	Writer.WriteValue(QStringLiteral("bCustomPakNameRegular"), Struct.bCustomPakNameRegular);
	Writer.WriteValue(QStringLiteral("PakNameRegular"), Struct.PakNameRegular);

	Writer.WriteArrayStart(QStringLiteral("IncludeSpecifyAssets"));
	for (const FPatcherSpecifyAsset& Asset : Struct.IncludeSpecifyAssets)
	{
		Writer.WriteObjectStart();
		Writer.WriteValue(QStringLiteral("Asset"), Asset.Asset.ToString());
		Writer.WriteValue(QStringLiteral("bAnalysisAssetDependencies"), Asset.bAnalysisAssetDependencies);
		Writer.WriteArrayStart(QStringLiteral("AssetRegistryDependencyTypes"));
		for (const EAssetRegistryDependencyTypeEx Type : Asset.AssetRegistryDependencyTypes)
		{
			Writer.WriteValue(DependencyTypeName(Type));
		}
		Writer.WriteArrayEnd();
		Writer.WriteObjectEnd();
	}
	Writer.WriteArrayEnd();

	Writer.WriteArrayStart(QStringLiteral("ReplacePakListTexts"));
	for (const FReplaceText& Replace : Struct.ReplacePakListTexts)
	{
		Writer.WriteObjectStart();
		Writer.WriteValue(QStringLiteral("From"), Replace.From);
		Writer.WriteValue(QStringLiteral("To"), Replace.To);
		Writer.WriteValue(QStringLiteral("SearchCase"),
		                  Replace.bCaseSensitive ? QStringLiteral("CaseSensitive") : QStringLiteral("IgnoreCase"));
		Writer.WriteObjectEnd();
	}
	Writer.WriteArrayEnd();

	Writer.WriteArrayStart(QStringLiteral("AddExternAssetsToPlatform"));
	for (const FPlatformExternAssets& Extern : Struct.AddExternAssetsToPlatform)
	{
		Writer.WriteObjectStart();
		Writer.WriteValue(QStringLiteral("TargetPlatform"), TargetPlatformToString(Extern.TargetPlatform));
		Writer.WriteArrayStart(QStringLiteral("AddExternFileToPak"));
		for (const FExternFileInfo& File : Extern.AddExternFileToPak)
		{
			Writer.WriteObjectStart();
			Writer.WriteValue(QStringLiteral("FilePath"), File.FilePath);
			Writer.WriteValue(QStringLiteral("MountPath"), File.MountPath);
			Writer.WriteObjectEnd();
		}
		Writer.WriteArrayEnd();
		Writer.WriteArrayStart(QStringLiteral("AddExternDirectoryToPak"));
		for (const FExternDirectoryInfo& Directory : Extern.AddExternDirectoryToPak)
		{
			Writer.WriteObjectStart();
			Writer.WriteValue(QStringLiteral("DirectoryPath"), Directory.DirectoryPath);
			Writer.WriteValue(QStringLiteral("MountPoint"), Directory.MountPoint);
			Writer.WriteValue(QStringLiteral("bSpecifyMountPoint"), Directory.bSpecifyMountPoint);
			Writer.WriteValue(QStringLiteral("WildcardFilter"), Directory.WildcardFilter);
			Writer.WriteObjectEnd();
		}
		Writer.WriteArrayEnd();
		Writer.WriteObjectEnd();
	}
	Writer.WriteArrayEnd();

	Writer.WriteValue(QStringLiteral("bByBaseVersion"), Struct.bByBaseVersion);
	Writer.WriteValue(QStringLiteral("BaseVersion"), Struct.BaseVersion);
	Writer.WriteValue(QStringLiteral("SavePath"), Struct.SavePath);
	Writer.WriteArrayStart(QStringLiteral("AdditionalCommandletArgs"));
	for (const QString& Argument : Struct.AdditionalCommandletArgs)
	{
		Writer.WriteValue(Argument);
	}
	Writer.WriteArrayEnd();
	Writer.WriteValue(QStringLiteral("bCompressPak"), Struct.bCompressPak);
	Writer.WriteObjectEnd();
	OutJsonString = Writer.Close();
	return true;
}

template <>
bool TDeserializeJsonStringAsStruct<FExportPatchSettings>(const QString& JsonString, FExportPatchSettings& OutStruct,
                                                          QString* OutError)
{
	QJsonParseError ParseError;
	const QJsonDocument Document = QJsonDocument::fromJson(JsonString.toUtf8(), &ParseError);
	if (ParseError.error != QJsonParseError::NoError || !Document.isObject())
	{
		if (OutError)
		{
			*OutError =
			    ParseError.error != QJsonParseError::NoError
			        ? QStringLiteral("not JSON: %1 at offset %2").arg(ParseError.errorString()).arg(ParseError.offset)
			        : QStringLiteral("not a JSON object");
		}
		return false;
	}
	const QJsonObject Root = Document.object();
	FExportPatchSettings Settings;
	Settings.SetProjectDir(OutStruct.GetProjectDir());
	FSettingsReader Reader;
	const QString Top;

	Reader.String(Root, QStringLiteral("VersionId"), Top, Settings.VersionId);
	if (Root.contains(QStringLiteral("PakTargetPlatforms")))
	{
		const QJsonValue Value = Root.value(QStringLiteral("PakTargetPlatforms"));
		if (!Value.isArray())
		{
			Reader.Fail(QStringLiteral("PakTargetPlatforms"), QStringLiteral("must be an array"));
		}
		const QJsonArray Platforms = Value.toArray();
		for (int Index = 0; Index < Platforms.size(); ++Index)
		{
			ETargetPlatform Platform;
			if (Reader.Platform(Platforms[Index], QStringLiteral("PakTargetPlatforms[%1]").arg(Index), Platform))
			{
				Settings.PakTargetPlatforms.append(Platform);
			}
		}
	}
	Reader.Bool(Root, QStringLiteral("bCustomPakNameRegular"), Top, Settings.bCustomPakNameRegular);
	Reader.String(Root, QStringLiteral("PakNameRegular"), Top, Settings.PakNameRegular);

	Reader.Objects(
	    Root, QStringLiteral("IncludeSpecifyAssets"), Top,
	    [&](const QJsonObject& Object, const QString& Where)
	    {
		    FPatcherSpecifyAsset Asset;
		    QString Path;
		    Reader.String(Object, QStringLiteral("Asset"), Where, Path);
		    Asset.Asset = FSoftObjectPath(Path);
		    Reader.Bool(Object, QStringLiteral("bAnalysisAssetDependencies"), Where, Asset.bAnalysisAssetDependencies);
		    if (Object.contains(QStringLiteral("AssetRegistryDependencyTypes")))
		    {
			    Asset.AssetRegistryDependencyTypes.clear();
			    const QJsonArray Types = Object.value(QStringLiteral("AssetRegistryDependencyTypes")).toArray();
			    for (int Index = 0; Index < Types.size(); ++Index)
			    {
				    bool bKnown = false;
				    for (int Value = 0; Value <= 3; ++Value)
				    {
					    const auto Type = EAssetRegistryDependencyTypeEx(Value);
					    if ((Types[Index].isString() && Types[Index].toString() == DependencyTypeName(Type)) ||
					        (Types[Index].isDouble() && Types[Index].toDouble() == Value))
					    {
						    Asset.AssetRegistryDependencyTypes.append(Type);
						    bKnown = true;
					    }
				    }
				    if (!bKnown)
				    {
					    Reader.Fail(Where + QStringLiteral("AssetRegistryDependencyTypes[%1]").arg(Index),
					                QStringLiteral("is not a dependency type"));
				    }
			    }
		    }
		    Settings.IncludeSpecifyAssets.append(Asset);
	    });

	Reader.Objects(Root, QStringLiteral("ReplacePakListTexts"), Top,
	               [&](const QJsonObject& Object, const QString& Where)
	               {
		               FReplaceText Replace;
		               Reader.String(Object, QStringLiteral("From"), Where, Replace.From);
		               Reader.String(Object, QStringLiteral("To"), Where, Replace.To);
		               QString SearchCase = QStringLiteral("CaseSensitive");
		               Reader.String(Object, QStringLiteral("SearchCase"), Where, SearchCase);
		               if (SearchCase != QLatin1String("CaseSensitive") && SearchCase != QLatin1String("IgnoreCase"))
		               {
			               Reader.Fail(Where + QStringLiteral("SearchCase"),
			                           QStringLiteral("must be CaseSensitive or IgnoreCase"));
		               }
		               Replace.bCaseSensitive = SearchCase == QLatin1String("CaseSensitive");
		               Settings.ReplacePakListTexts.append(Replace);
	               });

	Reader.Objects(
	    Root, QStringLiteral("AddExternAssetsToPlatform"), Top,
	    [&](const QJsonObject& Object, const QString& Where)
	    {
		    FPlatformExternAssets Extern;
		    Reader.Platform(Object.value(QStringLiteral("TargetPlatform")), Where + QStringLiteral("TargetPlatform"),
		                    Extern.TargetPlatform);
		    Reader.Objects(Object, QStringLiteral("AddExternFileToPak"), Where,
		                   [&](const QJsonObject& FileObject, const QString& FileWhere)
		                   {
			                   FExternFileInfo File;
			                   Reader.String(FileObject, QStringLiteral("FilePath"), FileWhere, File.FilePath);
			                   Reader.String(FileObject, QStringLiteral("MountPath"), FileWhere, File.MountPath);
			                   Extern.AddExternFileToPak.append(File);
		                   });
		    Reader.Objects(
		        Object, QStringLiteral("AddExternDirectoryToPak"), Where,
		        [&](const QJsonObject& DirObject, const QString& DirWhere)
		        {
			        FExternDirectoryInfo Directory;
			        Reader.String(DirObject, QStringLiteral("DirectoryPath"), DirWhere, Directory.DirectoryPath);
			        Reader.String(DirObject, QStringLiteral("MountPoint"), DirWhere, Directory.MountPoint);
			        Reader.Bool(DirObject, QStringLiteral("bSpecifyMountPoint"), DirWhere,
			                    Directory.bSpecifyMountPoint);
			        Reader.String(DirObject, QStringLiteral("WildcardFilter"), DirWhere, Directory.WildcardFilter);
			        Extern.AddExternDirectoryToPak.append(Directory);
		        });
		    Settings.AddExternAssetsToPlatform.append(Extern);
	    });

	Reader.Bool(Root, QStringLiteral("bByBaseVersion"), Top, Settings.bByBaseVersion);
	Reader.String(Root, QStringLiteral("BaseVersion"), Top, Settings.BaseVersion);
	Reader.String(Root, QStringLiteral("SavePath"), Top, Settings.SavePath);
	Reader.Bool(Root, QStringLiteral("bCompressPak"), Top, Settings.bCompressPak);
	if (Root.contains(QStringLiteral("AdditionalCommandletArgs")))
	{
		const QJsonValue Value = Root.value(QStringLiteral("AdditionalCommandletArgs"));
		if (!Value.isArray())
		{
			Reader.Fail(QStringLiteral("AdditionalCommandletArgs"), QStringLiteral("must be an array"));
		}
		for (const QJsonValue& Argument : Value.toArray())
		{
			if (!Argument.isString())
			{
				Reader.Fail(QStringLiteral("AdditionalCommandletArgs"), QStringLiteral("must hold strings"));
				break;
			}
			Settings.AdditionalCommandletArgs.append(Argument.toString());
		}
	}

	if (!Reader.Error.isEmpty())
	{
		if (OutError)
		{
			*OutError = Reader.Error;
		}
		return false;
	}
	OutStruct = Settings;
	return true;
}
