// The build and pak commandlets as real processes over a copy of the demo project: every pak they
// write passes the pak reader, failures exit non-zero with one clear last line and leave no pak.

#include "CraftedPak.h"
#include "PakFile.h"
#include "TestProcess.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace
{
struct FRun
{
	int ExitCode = -1;
	QString Stdout;
	QStringList StderrLines;
	QString LastError() const { return StderrLines.isEmpty() ? QString() : StderrLines.last(); }
};

FRun RunEditorCmd(const QStringList& Arguments)
{
	const FProgramRun Ran =
	    RunProgram(ProgramLine(QStringLiteral(ORVA_EDITOR_CMD), Arguments), std::chrono::seconds(60));
	FRun Run;
	if (!Ran.bEnded)
	{
		return Run;
	}
	Run.ExitCode = Ran.ExitCode;
	Run.Stdout = QString::fromStdString(Ran.Output);
	Run.StderrLines = QString::fromStdString(Ran.Error).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
	return Run;
}

bool CopyTree(const QString& From, const QString& To)
{
	QDirIterator It(From, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
	QDir().mkpath(To);
	while (It.hasNext())
	{
		const QString Path = It.next();
		const QString Target = To + QLatin1Char('/') + QDir(From).relativeFilePath(Path);
		if (!(It.fileInfo().isDir() ? QDir().mkpath(Target) : QFile::copy(Path, Target)))
		{
			return false;
		}
	}
	return true;
}

bool WriteFile(const QString& Path, const QByteArray& Bytes)
{
	QDir().mkpath(QFileInfo(Path).path());
	QFile File(Path);
	return File.open(QIODevice::WriteOnly) && File.write(Bytes) == Bytes.size();
}

QJsonObject ReadJson(const QString& Path)
{
	QFile File(Path);
	File.open(QIODevice::ReadOnly);
	return QJsonDocument::fromJson(File.readAll()).object();
}

// A copy of the demo project with a workspace's extra folders, and a settings file as the plugin
// writes it for the entry level.
class HotPatcherCommandlet : public ::testing::Test
{
protected:
	QTemporaryDir Root;
	QString Project;
	QString Config;

	void SetUp() override
	{
		Project = Root.filePath(QStringLiteral("DemoProject"));
		ASSERT_TRUE(CopyTree(QStringLiteral(ORVA_SOURCE_DIR "/Examples/DemoProject"), Project));
		ASSERT_TRUE(WriteFile(Project + QStringLiteral("/Content/W1/ExtendFiles/Movies/Intro.txt"), "intro"));
		ASSERT_TRUE(WriteFile(Project + QStringLiteral("/Content/W1/Config/DefaultGame.ini"), "[/Script/Engine]\n"));
		Config = Root.filePath(QStringLiteral("Entry_PatchConfig.json"));
		WriteSettings(Settings());
	}

	QJsonObject Settings() const
	{
		auto Extern = [this](const char* Platform, const char* Folder)
		{
			return QJsonObject{{QStringLiteral("TargetPlatform"), QString::fromLatin1(Platform)},
			                   {QStringLiteral("AddExternFileToPak"), QJsonArray()},
			                   {QStringLiteral("AddExternDirectoryToPak"),
			                    QJsonArray{QJsonObject{
			                        {QStringLiteral("DirectoryPath"),
			                         QString(Project + QStringLiteral("/Content/W1/") + QString::fromLatin1(Folder))},
			                        {QStringLiteral("MountPoint"), QStringLiteral("../../../ORVAClient")}}}}};
		};
		return QJsonObject{
		    {QStringLiteral("VersionId"), QStringLiteral("Entry")},
		    {QStringLiteral("PakTargetPlatforms"),
		     QJsonArray{QStringLiteral("WindowsServer"), QStringLiteral("WindowsClient")}},
		    {QStringLiteral("bCustomPakNameRegular"), true},
		    {QStringLiteral("PakNameRegular"), QStringLiteral("{VERSION}_{PLATFORM}")},
		    {QStringLiteral("IncludeSpecifyAssets"),
		     QJsonArray{QJsonObject{
		         {QStringLiteral("Asset"), QStringLiteral("/Game/Maps/Entry.Entry")},
		         {QStringLiteral("bAnalysisAssetDependencies"), true},
		         {QStringLiteral("AssetRegistryDependencyTypes"), QJsonArray{QStringLiteral("Packages")}}}}},
		    {QStringLiteral("ReplacePakListTexts"),
		     QJsonArray{QJsonObject{{QStringLiteral("From"), QStringLiteral("../../../DemoProject")},
		                            {QStringLiteral("To"), QStringLiteral("../../../ORVAClient")},
		                            {QStringLiteral("SearchCase"), QStringLiteral("CaseSensitive")}}}},
		    {QStringLiteral("AddExternAssetsToPlatform"),
		     QJsonArray{Extern("WindowsServer", "Config"), Extern("WindowsClient", "ExtendFiles"),
		                Extern("WindowsClient", "Config")}},
		    {QStringLiteral("bByBaseVersion"), true},
		    {QStringLiteral("BaseVersion"), QStringLiteral("../../../ORVAClient/Versions/version.json")}};
	}

	void WriteSettings(const QJsonObject& Object) const
	{
		ASSERT_TRUE(WriteFile(Config, QJsonDocument(Object).toJson(QJsonDocument::Compact)));
	}

	FRun Build() const
	{
		return RunEditorCmd({Project + QStringLiteral("/DemoProject.uproject"), QStringLiteral("-run=HotPatcher"),
		                     QStringLiteral("-config=\"") + Config + QLatin1Char('"')});
	}

	QString Out(const QString& Relative) const
	{
		return Project + QStringLiteral("/Saved/HotPatcher/Entry/") + Relative;
	}

	// Every entry of the pak, "path size", after the reader checked its hashes.
	QStringList ReadPak(const QString& Path) const
	{
		FPakReader Reader;
		EXPECT_TRUE(Reader.Open(Path)) << Reader.GetError().toStdString();
		QStringList Listed;
		for (FPakEntryInfo Entry : Reader.GetEntries())
		{
			EXPECT_TRUE(Reader.VerifyEntry(Entry)) << Reader.GetError().toStdString();
			Listed.append(Reader.GetMountPoint() + Entry.Path);
		}
		// And the commandlet that the scripts run agrees.
		const FRun Info = RunEditorCmd({QStringLiteral("-run=PakInfo"), QStringLiteral("-pak=") + Path});
		EXPECT_EQ(Info.ExitCode, 0) << Info.LastError().toStdString();
		EXPECT_TRUE(Info.Stdout.startsWith(QStringLiteral("mount ") + Reader.GetMountPoint() + QLatin1Char('\n')));
		Listed.sort();
		return Listed;
	}

	QStringList PakFiles() const
	{
		QStringList Found;
		QDirIterator It(Project + QStringLiteral("/Saved"), QDir::Files, QDirIterator::Subdirectories);
		while (It.hasNext())
		{
			Found.append(QFileInfo(It.next()).fileName());
		}
		Found.sort();
		return Found;
	}
};
} // namespace

TEST_F(HotPatcherCommandlet, BuildsOnePakPerPlatformWithWhatTheLevelNeeds)
{
	const FRun Run = Build();
	ASSERT_EQ(Run.ExitCode, 0) << Run.StderrLines.join(QLatin1Char('\n')).toStdString();
	EXPECT_TRUE(Run.StderrLines.contains(QStringLiteral("LogHotPatcher: Packaging progress: 100%")));
	EXPECT_TRUE(Run.StderrLines.filter(QStringLiteral("No base version at ")).size() == 1);

	const QStringList Server = ReadPak(Out(QStringLiteral("WindowsServer/Entry_WindowsServer.pak")));
	const QStringList Client = ReadPak(Out(QStringLiteral("WindowsClient/Entry_WindowsClient.pak")));
	const QString Content = QStringLiteral("../../../ORVAClient/Content/");
	for (const QStringList* Pak : {&Server, &Client})
	{
		EXPECT_TRUE(Pak->contains(Content + QStringLiteral("Maps/Entry.umap")));
		// Dependencies of dependencies, and the external actors of the partitioned level it uses.
		EXPECT_TRUE(Pak->contains(Content + QStringLiteral("Textures/T_Wood.uasset")));
		EXPECT_FALSE(Pak->filter(QStringLiteral("/__ExternalActors__/Maps/Open/")).isEmpty());
		EXPECT_FALSE(Pak->contains(Content + QStringLiteral("Props/Unused.uasset")));
		EXPECT_TRUE(Pak->contains(QStringLiteral("../../../ORVAClient/DefaultGame.ini")));
		EXPECT_TRUE(Pak->filter(QStringLiteral("DemoProject")).isEmpty());
		EXPECT_TRUE(Pak->filter(QStringLiteral("/Engine/")).isEmpty());
	}
	EXPECT_TRUE(Client.contains(QStringLiteral("../../../ORVAClient/Movies/Intro.txt")));
	EXPECT_FALSE(Server.contains(QStringLiteral("../../../ORVAClient/Movies/Intro.txt")));
	EXPECT_EQ(Client.size(), Server.size() + 1);

	const QJsonObject Version = ReadJson(Out(QStringLiteral("Entry_PakVersion.json")));
	const QString CheckCode = Version.value(QStringLiteral("CheckCode")).toString();
	EXPECT_EQ(CheckCode.size(), 40);
	const QJsonArray Platforms = Version.value(QStringLiteral("Platforms")).toArray();
	ASSERT_EQ(Platforms.size(), 2);
	EXPECT_EQ(Platforms[1].toObject().value(QStringLiteral("Files")).toArray().size(), Client.size());

	// The same content gives the same check code; one changed byte gives another.
	ASSERT_EQ(Build().ExitCode, 0);
	EXPECT_EQ(ReadJson(Out(QStringLiteral("Entry_PakVersion.json"))).value(QStringLiteral("CheckCode")).toString(),
	          CheckCode);
	ASSERT_TRUE(WriteFile(Project + QStringLiteral("/Content/W1/ExtendFiles/Movies/Intro.txt"), "intrO"));
	ASSERT_EQ(Build().ExitCode, 0);
	EXPECT_NE(ReadJson(Out(QStringLiteral("Entry_PakVersion.json"))).value(QStringLiteral("CheckCode")).toString(),
	          CheckCode);
}

TEST_F(HotPatcherCommandlet, BaseVersionLeavesOutWhatTheClientHasWithTheSameBytes)
{
	ASSERT_EQ(Build().ExitCode, 0);
	// The client's version lists every file of the full build; then two change.
	const QString ClientVersion = Root.filePath(QStringLiteral("ORVAClient/Versions/version.json"));
	ASSERT_TRUE(QDir().mkpath(QFileInfo(ClientVersion).path()));
	ASSERT_TRUE(QFile::copy(Out(QStringLiteral("Entry_PakVersion.json")), ClientVersion));
	ASSERT_TRUE(WriteFile(Project + QStringLiteral("/Content/W1/ExtendFiles/Movies/Intro.txt"), "new intro"));
	ASSERT_TRUE(WriteFile(Project + QStringLiteral("/Content/W1/Config/DefaultGame.ini"), "[changed]\n"));

	const FRun Run = Build();
	ASSERT_EQ(Run.ExitCode, 0) << Run.LastError().toStdString();
	EXPECT_TRUE(Run.StderrLines.filter(QStringLiteral("No base version")).isEmpty());
	EXPECT_EQ(ReadPak(Out(QStringLiteral("WindowsClient/Entry_WindowsClient.pak"))),
	          (QStringList{QStringLiteral("../../../ORVAClient/DefaultGame.ini"),
	                       QStringLiteral("../../../ORVAClient/Movies/Intro.txt")}));
	EXPECT_EQ(ReadPak(Out(QStringLiteral("WindowsServer/Entry_WindowsServer.pak"))),
	          (QStringList{QStringLiteral("../../../ORVAClient/DefaultGame.ini")}));

	// A base version that exists but is no version file is an error, not a silent full build.
	ASSERT_TRUE(WriteFile(ClientVersion, "not json"));
	const FRun Broken = Build();
	EXPECT_EQ(Broken.ExitCode, 1);
	EXPECT_TRUE(Broken.LastError().contains(QStringLiteral("is not a JSON object")))
	    << Broken.LastError().toStdString();
}

TEST_F(HotPatcherCommandlet, PaksAreCompressedUnlessTheSettingsTurnItOffAndListTheFilesOwnHashes)
{
	// Every file of the client pak: its stored form (compressed or not) and its own bytes' SHA-1
	// as the version file lists it.
	auto Build = [this](bool bCompressed, QHash<QString, bool>& OutCompressed, QHash<QString, QString>& OutListed)
	{
		QJsonObject Object = Settings();
		Object[QStringLiteral("bCompressPak")] = bCompressed;
		Object[QStringLiteral("bByBaseVersion")] = false;
		WriteSettings(Object);
		const FRun Run = this->Build();
		ASSERT_EQ(Run.ExitCode, 0) << Run.LastError().toStdString();
		const QString Pak = Out(QStringLiteral("WindowsClient/Entry_WindowsClient.pak"));
		ReadPak(Pak);
		FPakReader Reader;
		ASSERT_TRUE(Reader.Open(Pak)) << Reader.GetError().toStdString();
		for (const FPakEntryInfo& Entry : Reader.GetEntries())
		{
			OutCompressed.insert(Reader.GetMountPoint() + Entry.Path, Entry.IsCompressed());
		}
		const QJsonObject Version = ReadJson(Out(QStringLiteral("Entry_PakVersion.json")));
		for (const QJsonValue Platform : Version.value(QStringLiteral("Platforms")).toArray())
		{
			for (const QJsonValue File : Platform.toObject().value(QStringLiteral("Files")).toArray())
			{
				OutListed.insert(File.toObject().value(QStringLiteral("Path")).toString(),
				                 File.toObject().value(QStringLiteral("Hash")).toString());
			}
		}
		OutListed.insert(QStringLiteral("CheckCode"), Version.value(QStringLiteral("CheckCode")).toString());
	};
	QHash<QString, bool> Compressed;
	QHash<QString, QString> Listed;
	Build(true, Compressed, Listed);
	QHash<QString, bool> Plain;
	QHash<QString, QString> PlainListed;
	Build(false, Plain, PlainListed);

	const QString Level = QStringLiteral("../../../ORVAClient/Content/Maps/Entry.umap");
	EXPECT_TRUE(Compressed.value(Level));
	EXPECT_FALSE(Plain.value(Level));
	EXPECT_FALSE(Plain.values().contains(true));
	// The five-byte movie would only grow.
	EXPECT_FALSE(Compressed.value(QStringLiteral("../../../ORVAClient/Movies/Intro.txt"), true));

	// The version file names the files' own bytes, so a base version means the same either way.
	QFile LevelFile(Project + QStringLiteral("/Content/Maps/Entry.umap"));
	ASSERT_TRUE(LevelFile.open(QIODevice::ReadOnly));
	EXPECT_EQ(Listed.value(Level),
	          QString::fromLatin1(QCryptographicHash::hash(LevelFile.readAll(), QCryptographicHash::Sha1).toHex()));
	EXPECT_EQ(Listed, PlainListed);
}

TEST_F(HotPatcherCommandlet, FailuresExitWithOneClearLineAndLeaveNoPak)
{
	struct FCase
	{
		const char* What;
		std::function<void()> Prepare;
		int ExitCode;
		QString LastLine;
	};
	const QList<FCase> Cases = {
	    {"unreadable settings", [&] { QFile::remove(Config); }, 1, QStringLiteral("Cannot read the settings file")},
	    {"not JSON", [&] { WriteFile(Config, "{\"VersionId\":"); }, 1, QStringLiteral("Malformed settings file")},
	    {"wrong platform",
	     [&]
	     {
		     QJsonObject Object = Settings();
		     Object[QStringLiteral("PakTargetPlatforms")] = QJsonArray{QStringLiteral("Dreamcast")};
		     WriteSettings(Object);
	     },
	     1, QStringLiteral("\"PakTargetPlatforms[0]\" is not a target platform name")},
	    {"no platform",
	     [&]
	     {
		     QJsonObject Object = Settings();
		     Object[QStringLiteral("PakTargetPlatforms")] = QJsonArray();
		     WriteSettings(Object);
	     },
	     1, QStringLiteral("The settings name no target platform")},
	    {"missing asset",
	     [&]
	     {
		     QJsonObject Object = Settings();
		     Object[QStringLiteral("IncludeSpecifyAssets")] =
		         QJsonArray{QJsonObject{{QStringLiteral("Asset"), QStringLiteral("/Game/Maps/Gone.Gone")}}};
		     WriteSettings(Object);
	     },
	     1, QStringLiteral("The specified asset /Game/Maps/Gone.Gone does not exist in the project")},
	    {"hostile version id",
	     [&]
	     {
		     QJsonObject Object = Settings();
		     Object[QStringLiteral("VersionId")] = QStringLiteral("../../Escape");
		     WriteSettings(Object);
	     },
	     1, QStringLiteral("cannot name a folder")},
	};
	for (const FCase& Case : Cases)
	{
		WriteSettings(Settings());
		Case.Prepare();
		const FRun Run = Build();
		EXPECT_EQ(Run.ExitCode, Case.ExitCode) << Case.What;
		EXPECT_TRUE(Run.LastError().contains(Case.LastLine)) << Case.What << ": " << Run.LastError().toStdString();
		EXPECT_TRUE(PakFiles().filter(QStringLiteral(".pak")).isEmpty()) << Case.What;
	}

	const FRun Usage =
	    RunEditorCmd({Project + QStringLiteral("/DemoProject.uproject"), QStringLiteral("-run=HotPatcher")});
	EXPECT_EQ(Usage.ExitCode, 2);
	EXPECT_EQ(Usage.LastError(), QStringLiteral("-run=HotPatcher needs -config=FILE"));
}

TEST_F(HotPatcherCommandlet, FullDiskFailsTheBuildAndKeepsNoPartialPak)
{
	if (!QFileInfo(QStringLiteral("/dev/full")).exists())
	{
		GTEST_SKIP() << "no /dev/full";
	}
	// The client pak's temporary file lands on a device that is always full.
	ASSERT_TRUE(QDir().mkpath(Out(QStringLiteral("WindowsClient"))));
	ASSERT_TRUE(
	    QFile::link(QStringLiteral("/dev/full"), Out(QStringLiteral("WindowsClient/Entry_WindowsClient.pak.tmp"))));
	const FRun Run = Build();
	EXPECT_EQ(Run.ExitCode, 1);
	EXPECT_TRUE(Run.LastError().startsWith(QStringLiteral("Cannot write "))) << Run.LastError().toStdString();
	EXPECT_FALSE(QFileInfo::exists(Out(QStringLiteral("WindowsClient/Entry_WindowsClient.pak"))));
	EXPECT_FALSE(QFileInfo::exists(Out(QStringLiteral("Entry_PakVersion.json"))));
}

TEST(PakInfoCommandlet, ListsTheSampleAndRefusesADamagedCopy)
{
	const QString Sample = QStringLiteral(ORVA_SHARED_DIR "/testdata/pak/sample-v11.pak");
	const FRun Run = RunEditorCmd({QStringLiteral("-run=PakInfo"), QStringLiteral("-pak=") + Sample});
	ASSERT_EQ(Run.ExitCode, 0);
	const QStringList Lines = Run.Stdout.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
	ASSERT_EQ(Lines.size(), 6);
	EXPECT_EQ(Lines[0], QStringLiteral("mount ../mount/point/root/"));
	EXPECT_EQ(Lines[1], QStringLiteral("       596 00dd94fdc35ff591a99a5e14dc9bd3588978a61c directory/nested.txt"));
	EXPECT_TRUE(Lines[4].startsWith(QStringLiteral("      2048 605db3fdbaff4ba13729371ad0c4fbab3889378e zeros.bin")));

	QTemporaryDir Dir;
	const QString Copy = Dir.filePath(QStringLiteral("damaged.pak"));
	ASSERT_TRUE(QFile::copy(Sample, Copy));
	QFile File(Copy);
	ASSERT_TRUE(File.open(QIODevice::ReadWrite));
	File.seek(File.size() - 600);
	File.write("X");
	File.close();
	const FRun Damaged = RunEditorCmd({QStringLiteral("-run=PakInfo"), QStringLiteral("-pak=") + Copy});
	EXPECT_EQ(Damaged.ExitCode, 1);
	EXPECT_TRUE(Damaged.LastError().contains(QStringLiteral("does not match"))) << Damaged.LastError().toStdString();
	EXPECT_EQ(RunEditorCmd({QStringLiteral("-run=PakInfo")}).ExitCode, 2);
}

TEST(PakInfoCommandlet, PrintsNamesEscapedAndRefusesHostileEntries)
{
	QTemporaryDir Dir;
	const QString Path = Dir.filePath(QStringLiteral("crafted.pak"));
	auto RunOn = [&](const FCraftedPak& Pak)
	{
		EXPECT_TRUE(WriteFile(Path, Pak.Build()));
		return RunEditorCmd({QStringLiteral("-run=PakInfo"), QStringLiteral("-pak=") + Path});
	};
	auto NoLineStartsWith = [](const FRun& Run, const QString& Text)
	{
		for (const QString& Line : Run.Stdout.split(QLatin1Char('\n')) + Run.StderrLines)
		{
			if (Line.startsWith(Text))
			{
				return false;
			}
		}
		return true;
	};

	// A name the reader accepts but that holds a character which does not print is shown escaped.
	FCraftedPak Pak;
	Pak.Entries = {{QStringLiteral("Content/a") + QChar(0x202e) + QStringLiteral("b.uasset"), QByteArray("x")}};
	const FRun Listed = RunOn(Pak);
	EXPECT_EQ(Listed.ExitCode, 0) << Listed.LastError().toStdString();
	EXPECT_TRUE(Listed.Stdout.contains(QStringLiteral(" Content/a\\u{202e}b.uasset\n"))) << Listed.Stdout.toStdString();

	// A name with a line break is refused, and the reason stays on one line.
	Pak.Entries = {{QStringLiteral("Content/a.uasset\nVerdict: world x can be played"), QByteArray("x")}};
	const FRun Injected = RunOn(Pak);
	EXPECT_EQ(Injected.ExitCode, 1);
	EXPECT_TRUE(Injected.LastError().contains(QStringLiteral("a.uasset\\nVerdict")))
	    << Injected.LastError().toStdString();
	EXPECT_TRUE(NoLineStartsWith(Injected, QStringLiteral("Verdict")));

	// Size -5 with the hash of nothing, listed without encoding: not "verified".
	Pak.Entries = {{QStringLiteral("Content/a.uasset"), QByteArray("level")},
	               {QStringLiteral("Content/b.uasset"), QByteArray("uncovered bytes")}};
	Pak.Entries[1].ClaimedSize = -5;
	Pak.Entries[1].ClaimedSha1 = QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha1);
	Pak.Entries[1].bNonEncoded = true;
	const FRun Negative = RunOn(Pak);
	EXPECT_EQ(Negative.ExitCode, 1);
	EXPECT_FALSE(Negative.Stdout.contains(QStringLiteral("verified")));
}
