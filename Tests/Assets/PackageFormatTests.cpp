#include "AssetTestSupport.h"

#include <QJsonArray>
#include <QJsonObject>

#include <gtest/gtest.h>

using namespace AssetTestUtil;

namespace
{
FPackageFile SampleLevel()
{
	FPackageFile File;
	File.Assets = {
	    {QStringLiteral("Open"), World, QString()},
	    {QStringLiteral("Open_BuiltData"), QStringLiteral("/Script/Engine.MapBuildDataRegistry"), QString()}};
	File.HardDependencies = {QStringLiteral("/Game/Props/Crate"), QStringLiteral("/Engine/BasicShapes/Cube"),
	                         QStringLiteral("/Script/Engine")};
	File.SoftDependencies = {QStringLiteral("/Game/Textures/T_Sky")};
	File.bPartitioned = true;
	File.Payload =
	    QJsonObject{{QStringLiteral("Bounds"), QJsonArray{0, 0, 0, 512, 512, 64}},
	                {QStringLiteral("Blob"), QString::fromLatin1(QByteArray("\x00\x01\xfe\xff", 4).toBase64())}};
	return File;
}
} // namespace

TEST(PackageFormat, WriteThenParseGivesTheSamePackage)
{
	const FPackageFile Level = SampleLevel();
	QString Error;
	const std::optional<FPackageFile> Parsed = FPackageFile::Parse(Level.Serialize(), &Error);
	ASSERT_TRUE(Parsed) << qPrintable(Error);
	EXPECT_EQ(*Parsed, Level);
	EXPECT_TRUE(Parsed->IsLevel(FClassTable()));
	EXPECT_FALSE(Parsed->IsRedirectorPackage());
	EXPECT_EQ(Parsed->AllDependencies(),
	          QStringList({QStringLiteral("/Game/Props/Crate"), QStringLiteral("/Engine/BasicShapes/Cube"),
	                       QStringLiteral("/Script/Engine"), QStringLiteral("/Game/Textures/T_Sky")}));

	const FPackageFile Redirector =
	    FPackageFile::MakeRedirector({{QStringLiteral("Crate"), QStringLiteral("/Game/W1/Props/Crate.Crate")}});
	const std::optional<FPackageFile> ParsedRedirector = FPackageFile::Parse(Redirector.Serialize(), &Error);
	ASSERT_TRUE(ParsedRedirector) << qPrintable(Error);
	EXPECT_EQ(*ParsedRedirector, Redirector);
	EXPECT_TRUE(ParsedRedirector->IsRedirectorPackage());
	EXPECT_EQ(ParsedRedirector->HardDependencies, QStringList{QStringLiteral("/Game/W1/Props/Crate")});

	// Through a file, as the tools write it.
	QTemporaryDir Dir;
	const QString Path = Dir.path() + QStringLiteral("/Maps/Open.umap");
	ASSERT_TRUE(Level.SaveToFile(Path, &Error)) << qPrintable(Error);
	const std::optional<FPackageFile> Loaded = FPackageFile::LoadFromFile(Path, &Error);
	ASSERT_TRUE(Loaded) << qPrintable(Error);
	EXPECT_EQ(*Loaded, Level);
}

TEST(PackageFormat, ReadsAnyKeyOrderAndSpacingAndMergesRepeatedDependencies)
{
	const QByteArray Text = "  {\"SoftDependencies\":[\"/Game/A\",\"/game/b\",\"/Game/C\"],\"Extra\":{\"Kept\":1},"
	                        "\"HardDependencies\":[\"/Game/B\",\"/Game/D\",\"/Game/d\"],"
	                        "\"Assets\":[{\"Name\":\"M\",\"Class\":\"/Script/Engine.Material\"}],\"OrvaPackage\":1}\n";
	QString Error;
	const std::optional<FPackageFile> File = FPackageFile::Parse(Text, &Error);
	ASSERT_TRUE(File) << qPrintable(Error);
	// Hard ones first; a package listed again (in any case, or as soft too) counts once, at its first place.
	EXPECT_EQ(File->HardDependencies, QStringList({QStringLiteral("/Game/B"), QStringLiteral("/Game/D")}));
	EXPECT_EQ(File->SoftDependencies, QStringList({QStringLiteral("/Game/A"), QStringLiteral("/Game/C")}));
	EXPECT_TRUE(File->Payload.isUndefined());
	EXPECT_FALSE(File->bPartitioned);
}

TEST(PackageFormat, RefusesMalformedPackagesWithAReason)
{
	const QByteArray Asset = "\"Assets\":[{\"Name\":\"A\",\"Class\":\"/Script/Engine.StaticMesh\"}]";
	const struct
	{
		QByteArray Text;
		const char* Reason;
	} Cases[] = {
	    {"{\"OrvaPackage\":1, " + Asset, "not JSON"},
	    {"[1,2]", "not a JSON object"},
	    {"{" + Asset + "}", "format version"},
	    {"{\"OrvaPackage\":\"1\"," + Asset + "}", "format version"},
	    {"{\"OrvaPackage\":2," + Asset + "}", "newer"},
	    {"{\"OrvaPackage\":1,\"Assets\":[]}", "non-empty array"},
	    {"{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A.B\",\"Class\":\"/Script/Engine.StaticMesh\"}]}",
	     "bad asset name"},
	    {"{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\",\"Class\":\"/Script/Engine.StaticMesh\"},"
	     "{\"Name\":\"a\",\"Class\":\"/Script/Engine.Material\"}]}",
	     "listed twice"},
	    {"{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\",\"Class\":\"StaticMesh\"}]}", "class path"},
	    {"{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\",\"Class\":\"/Script/CoreUObject.ObjectRedirector\"}]}",
	     "no valid destination"},
	    {"{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\",\"Class\":\"/Script/CoreUObject.ObjectRedirector\","
	     "\"Destination\":\"/Game/NoObject\"}]}",
	     "no valid destination"},
	    {"{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\",\"Class\":\"/Script/Engine.StaticMesh\","
	     "\"Destination\":\"/Game/B.B\"}]}",
	     "no redirector"},
	    {"{\"OrvaPackage\":1," + Asset + ",\"HardDependencies\":\"/Game/B\"}", "array of package names"},
	    {"{\"OrvaPackage\":1," + Asset + ",\"HardDependencies\":[\"/Game/Bad?Name\"]}", "Bad dependency"},
	    {"{\"OrvaPackage\":1," + Asset + ",\"SoftDependencies\":[\"/Game/\"]}", "Bad dependency"},
	    {"{\"OrvaPackage\":1," + Asset + ",\"SoftDependencies\":[42]}", "not a string"},
	    {"{\"OrvaPackage\":1," + Asset + ",\"Partitioned\":\"yes\"}", "true or false"},
	};
	for (const auto& Case : Cases)
	{
		QString Error;
		EXPECT_FALSE(FPackageFile::Parse(Case.Text, &Error)) << Case.Text.constData();
		EXPECT_TRUE(Error.contains(QLatin1String(Case.Reason))) << Case.Text.constData() << " -> " << qPrintable(Error);
	}
}

// Parse reads the form this host writes by a shorter way than the general JSON reader; on text at
// the edges of that form both must give the same package or the same refusal.
TEST(PackageFormat, ShortReadAgreesWithTheFullReaderAtTheEdgesOfTheCommonForm)
{
	const QByteArray Mesh = "{\"Name\":\"A\",\"Class\":\"/Script/Engine.StaticMesh\"}";
	const QByteArray Assets = "\"Assets\":[" + Mesh + "]";
	const QByteArray Redirect = "{\"Name\":\"R\",\"Class\":\"/Script/CoreUObject.ObjectRedirector\","
	                            "\"Destination\":\"/Game/B.B\"}";
	const QByteArray Texts[] = {
	    "{\"OrvaPackage\":1," + Assets + "}",
	    " \t\r\n{ \"OrvaPackage\" : 1 , " + Assets + " } \n",
	    "{\"OrvaPackage\":1," + Assets + "} x",
	    "{\"OrvaPackage\":1," + Assets + "}" + QByteArray(1, '\0'),
	    "\xEF\xBB\xBF{\"OrvaPackage\":1," + Assets + "}",
	    "{\"OrvaPackage\":1.0," + Assets + "}",
	    "{\"OrvaPackage\":1.5," + Assets + "}",
	    "{\"OrvaPackage\":1e0," + Assets + "}",
	    "{\"OrvaPackage\":01," + Assets + "}",
	    "{\"OrvaPackage\":-1," + Assets + "}",
	    "{\"OrvaPackage\":0," + Assets + "}",
	    "{\"OrvaPackage\":1000000001," + Assets + "}",
	    "{\"OrvaPackage\":1,\"OrvaPackage\":2," + Assets + "}",
	    "{\"OrvaPackage\":2,\"OrvaPackage\":1," + Assets + "}",
	    "{\"OrvaPackage\":1," + Assets + "," + Assets + "}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Partitioned\":true}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Partitioned\":truex}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Partitioned\":false,\"Partitioned\":true}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Partitioned\":null}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Payload\":\"QUJD\"}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Payload\":\"\"}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Payload\":\"a\\nb\"}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Payload\":\"caf\xC3\xA9\"}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Payload\":null}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Payload\":[1,{\"x\":2}]}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Payload\":\"a\",\"Payload\":\"b\"}",
	    "{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"\\u0041\",\"Class\":\"/Script/Engine.StaticMesh\"}]}",
	    "{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\",\"Name\":\"B\",\"Class\":\"/Script/Engine.StaticMesh\"}]}",
	    QByteArray("{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\",\"Class\":\"/Script/") +
	        "Engine.StaticMesh\",\"Destination\":\"\"}]}",
	    "{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\",\"Class\":\"/Script/Engine.StaticMesh\",\"Note\":\"x\"}]}",
	    "{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\"}]}",
	    "{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\",\"Class\":\"/Script/Engine.StaticMesh\"},]}",
	    "{\"OrvaPackage\":1,\"Assets\":[" + Mesh + "," + Redirect + "]}",
	    "{\"OrvaPackage\":1,\"Assets\":[" + Redirect + "," + Redirect + "]}",
	    "{\"OrvaPackage\":1,\"Assets\":[" + Mesh + ",{\"Name\":\"a\",\"Class\":\"/Script/Engine.Material\"}]}",
	    "{\"OrvaPackage\":1,\"Assets\":[" + Mesh + ",1]}",
	    "{\"OrvaPackage\":1,\"Assets\":{}}",
	    "{\"OrvaPackage\":1,\"Assets\":[]}",
	    "{\"OrvaPackage\":1," + Assets + ",\"HardDependencies\":[],\"SoftDependencies\":[]}",
	    "{\"OrvaPackage\":1," + Assets +
	        ",\"HardDependencies\":[\"/Game/B\",\"/game/b\"],\"SoftDependencies\":"
	        "[\"/GAME/B\",\"/Game/C\"]}",
	    "{\"OrvaPackage\":1," + Assets + ",\"HardDependencies\":[\"/Game/B\"],\"HardDependencies\":[\"/Game/C\"]}",
	    "{\"OrvaPackage\":1," + Assets + ",\"HardDependencies\":[\"/Game/B\",]}",
	    "{\"OrvaPackage\":1," + Assets + ",\"SoftDependencies\":[\"/Game/B\" \"/Game/C\"]}",
	    "{\"OrvaPackage\":1," + Assets + ",\"SoftDependencies\":[\"/Game/\\u00e9\"]}",
	    "{\"OrvaPackage\":1," + Assets + ",\"Extra\":1}",
	    "{\"OrvaPackage\":1," + Assets + ",}",
	    "{\"OrvaPackage\":1," + Assets,
	    "{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\",\"Class\":\"/Script/Engine.Static\tMesh\"}]}",
	    "{\"OrvaPackage\":1,\"Assets\":[{\"Name\":\"A\x7F\",\"Class\":\"/Script/Engine.StaticMesh\"}]}",
	};
	int Accepted = 0;
	for (const QByteArray& Text : Texts)
	{
		QString Error;
		QString FullError;
		const std::optional<FPackageFile> Short = FPackageFile::Parse(Text, &Error);
		const std::optional<FPackageFile> Full = FPackageFile::ParseValidating(Text, &FullError);
		ASSERT_EQ(Short.has_value(), Full.has_value()) << Text.constData() << " -> " << qPrintable(FullError);
		if (Short)
		{
			++Accepted;
			EXPECT_EQ(*Short, *Full) << Text.constData();
			EXPECT_EQ(Short->Payload.type(), Full->Payload.type()) << Text.constData();
		}
		else
		{
			EXPECT_EQ(Error, FullError) << Text.constData();
		}
	}
	// Both sides of the edge are walked.
	EXPECT_GT(Accepted, 5);
	EXPECT_LT(Accepted, int(std::size(Texts)) - 10);
}

TEST(PackageFormat, NamesFollowTheEngineRules)
{
	for (const char* Valid : {"/Game/Maps/Entry", "/Game/A", "/Engine/BasicShapes/Cube", "/Script/Engine",
	                          "/Game/With Space/Dé_jà-vu", "/Game/__ExternalActors__/Maps/Open/3/KQ/3KQ0M7"})
	{
		EXPECT_TRUE(FPackageName::IsValidLongPackageName(QString::fromUtf8(Valid))) << Valid;
	}
	for (const char* Invalid : {"",          "/Ga",         "Game/Maps/Entry", "/Game",
	                            "/Game/",    "/Game/Maps/", "/Game//Entry",    "/Game/Maps/Entry.Entry",
	                            "/Game/a:b", "/Game/a*b",   "/Game/a?b",       "/Game/a\"b",
	                            "/Game/a<b", "/Game/a>b",   "/Game/a|b",       "/Game/a'b",
	                            "/Game/a,b", "/Game/a&b",   "/Game/a!b",       "/Game/a~b",
	                            "/Game/a@b", "/Game/a#b",   "/Game/a\\b",      "/Game/a\tb",
	                            "/Game/a\nb"})
	{
		QString Reason;
		EXPECT_FALSE(FPackageName::IsValidLongPackageName(QString::fromUtf8(Invalid), &Reason)) << Invalid;
		EXPECT_FALSE(Reason.isEmpty()) << Invalid;
	}
	EXPECT_TRUE(FPackageName::IsValidObjectPath(QStringLiteral("/Game/Maps/Entry.Entry")));
	EXPECT_TRUE(FPackageName::IsValidObjectPath(QStringLiteral("/Game/Maps/Entry.Entry:PersistentLevel.Lamp")));
	EXPECT_FALSE(FPackageName::IsValidObjectPath(QStringLiteral("/Game/Maps/Entry")));
	EXPECT_FALSE(FPackageName::IsValidObjectPath(QStringLiteral("/Game/Maps/Entry.")));
	EXPECT_FALSE(FPackageName::IsValidObjectPath(QStringLiteral("/Game/Maps/Entry.Entry:")));

	EXPECT_EQ(FPackageName::ObjectPathToPackageName(QStringLiteral("/Game/Maps/Entry.Entry:PersistentLevel.Lamp")),
	          QStringLiteral("/Game/Maps/Entry"));
	EXPECT_EQ(FPackageName::ObjectPathToObjectName(QStringLiteral("/Game/Maps/Entry.Entry:PersistentLevel.Lamp")),
	          QStringLiteral("Entry"));
	EXPECT_EQ(FPackageName::GetLongPackagePath(QStringLiteral("/Game/Maps/Entry")), QStringLiteral("/Game/Maps"));
	EXPECT_TRUE(FPackageName::IsUnderPath(QStringLiteral("/Game/Maps/Entry"), QStringLiteral("/game/maps")));
	EXPECT_FALSE(FPackageName::IsUnderPath(QStringLiteral("/Game/MapsOld/Entry"), QStringLiteral("/Game/Maps")));
	EXPECT_TRUE(FPackageName::IsExternalPackage(QStringLiteral("/Game/__ExternalActors__/Maps/Open/3/KQ/X")));
	EXPECT_FALSE(FPackageName::IsExternalPackage(QStringLiteral("/Game/Maps/__ExternalActors__")));

	EXPECT_EQ(ULevel::GetExternalObjectsPaths(QStringLiteral("/Game/Maps/Entry")),
	          QStringList({QStringLiteral("/Game/__ExternalActors__/Maps/Entry"),
	                       QStringLiteral("/Game/__ExternalObjects__/Maps/Entry")}));
	EXPECT_EQ(ULevel::GetExternalObjectsPaths(QStringLiteral("/Tools/Levels/Test")).first(),
	          QStringLiteral("/Tools/__ExternalActors__/Levels/Test"));
	EXPECT_TRUE(ULevel::GetExternalObjectsPaths(QStringLiteral("Entry")).isEmpty());
}

TEST(PackageFormat, ClassesResolveThroughRedirectsAndParents)
{
	const FClassTable Classes;
	const UClass* WorldClass = UWorld::StaticClass();
	ASSERT_NE(WorldClass, nullptr);
	EXPECT_EQ(Classes.FindClass(QStringLiteral("/Script/Engine.World")), WorldClass);
	EXPECT_EQ(Classes.FindClass(QStringLiteral("/script/engine.world")), WorldClass);
	// An old class path is no loaded class, but resolves through the redirect table.
	EXPECT_EQ(Classes.FindClass(QStringLiteral("/Script/Engine.PartitionedWorld")), nullptr);
	EXPECT_EQ(Classes.FindNewPathNameForClass(QStringLiteral("/Script/Engine.PartitionedWorld")),
	          QStringLiteral("/Script/Engine.World"));
	EXPECT_EQ(Classes.ResolveClass(QStringLiteral("/Script/Engine.PartitionedWorld")), WorldClass);
	EXPECT_EQ(UClass::ResolveEngineClass(QStringLiteral("/Script/Engine.PartitionedWorld")), WorldClass);
	EXPECT_TRUE(Classes.FindNewPathNameForClass(QStringLiteral("/Script/Engine.StaticMesh")).isEmpty());
	EXPECT_EQ(Classes.ResolveClass(QStringLiteral("/Script/Nowhere.Thing")), nullptr);

	const UClass* Instance = Classes.FindClass(QStringLiteral("/Script/Engine.MaterialInstanceConstant"));
	const UClass* Interface = Classes.FindClass(QStringLiteral("/Script/Engine.MaterialInterface"));
	ASSERT_TRUE(Instance && Interface);
	EXPECT_TRUE(Instance->IsChildOf(Interface));
	EXPECT_FALSE(Interface->IsChildOf(Instance));
	EXPECT_FALSE(Instance->IsChildOf(WorldClass));
}

TEST(PackageFormat, ModuleClassesBelongToTheirTable)
{
	FClassTable Classes;
	const quint64 Before = Classes.GetGeneration();
	// A game module's own world class counts as a level, and so does an old name redirected to it.
	const UClass* GameWorld = Classes.RegisterClass(QStringLiteral("/Script/FormatTestGame.ArenaWorld"),
	                                                QStringLiteral("/Script/Engine.World"));
	ASSERT_NE(GameWorld, nullptr);
	EXPECT_TRUE(GameWorld->IsChildOf(UWorld::StaticClass()));
	EXPECT_NE(Classes.GetGeneration(), Before);
	EXPECT_EQ(Classes.RegisterClass(QStringLiteral("/script/formattestgame.arenaworld"),
	                                QStringLiteral("/Script/Engine.Actor")),
	          GameWorld)
	    << "a path already taken answers its class";
	const UClass* Child = Classes.RegisterClass(QStringLiteral("/Script/FormatTestGame.DuelWorld"),
	                                            QStringLiteral("/Script/FormatTestGame.ArenaWorld"));
	ASSERT_NE(Child, nullptr);
	EXPECT_TRUE(Child->IsChildOf(GameWorld));
	EXPECT_EQ(Classes.RegisterClass(QStringLiteral("/Script/FormatTestGame.Orphan"), QStringLiteral("/Script/None.X")),
	          nullptr);
	Classes.AddClassRedirect(QStringLiteral("/Script/FormatTestGame.OldArena"),
	                         QStringLiteral("/Script/FormatTestGame.ArenaWorld"));
	// A module's redirect may lead to an engine path that the engine redirects further.
	Classes.AddClassRedirect(QStringLiteral("/Script/FormatTestGame.OldPartition"),
	                         QStringLiteral("/Script/Engine.PartitionedWorld"));
	EXPECT_EQ(Classes.ResolveClass(QStringLiteral("/Script/FormatTestGame.OldPartition")), UWorld::StaticClass());
	FPackageFile File;
	File.Assets.append({QStringLiteral("Arena"), QStringLiteral("/Script/FormatTestGame.OldArena"), QString()});
	EXPECT_TRUE(File.IsLevel(Classes));
	File.Assets.first().ClassPath = QStringLiteral("/Script/FormatTestGame.Unknown");
	EXPECT_FALSE(File.IsLevel(Classes));

	// Another host's table, on the same thread right after, knows none of it.
	const FClassTable Other;
	EXPECT_EQ(Other.FindClass(QStringLiteral("/Script/FormatTestGame.ArenaWorld")), nullptr);
	EXPECT_EQ(Other.ResolveClass(QStringLiteral("/Script/FormatTestGame.OldArena")), nullptr);
	File.Assets.first().ClassPath = QStringLiteral("/Script/FormatTestGame.ArenaWorld");
	EXPECT_FALSE(File.IsLevel(Other));
	EXPECT_TRUE(File.IsLevel(Classes));
}

TEST(PackageFormat, FailedWriteKeepsThePreviousFile)
{
	QTemporaryDir Dir;
	const QString Path = Dir.path() + QStringLiteral("/Props/Crate.uasset");
	FPackageFile Small;
	Small.Assets.append({QStringLiteral("Crate"), StaticMesh, QString()});
	ASSERT_TRUE(Small.SaveToFile(Path));
	const QByteArray Before = FAssetTestProject::ReadRaw(Path);

	FPackageFile Large = Small;
	Large.Payload = QString(64 * 1024, QLatin1Char('x'));
	QString Error;
	{
		FFileSizeLimit DiskFull(8 * 1024);
		EXPECT_FALSE(Large.SaveToFile(Path, &Error));
	}
	EXPECT_FALSE(Error.isEmpty());
	EXPECT_EQ(FAssetTestProject::ReadRaw(Path), Before);
	// Nothing half-written is left beside it.
	EXPECT_EQ(QDir(Dir.path() + QStringLiteral("/Props")).entryList(QDir::Files),
	          QStringList{QStringLiteral("Crate.uasset")});
	EXPECT_TRUE(Large.SaveToFile(Path, &Error)) << qPrintable(Error);
}
