#include "DevServiceProcess.h"

#include "CraftedPak.h"
#include "PackageFile.h"
#include "PakFile.h"

#include <QDir>
#include <QFile>
#include <QFileDevice>
#include <QTemporaryDir>

#include <optional>

#include <gtest/gtest.h>

// The client as the editor starts it: installed below a folder of its own (so that its log lands
// in ORVAClient/Saved/Logs), its settings pointing at a real service, its pak built by the
// packaging tool's writer.
class ClientTest : public ::testing::Test
{
protected:
	void SetUp() override
	{
		ASSERT_TRUE(Root.isValid());
		ASSERT_EQ(Service.Start(), "");
		Token = Service.LoginAlice();
		ASSERT_FALSE(Token.empty());
		const QJsonObject World = Service.CreateWorld(Token);
		WorldId = World.value(QStringLiteral("id")).toString();
		Identifier = World.value(QStringLiteral("identifier")).toString();
		ASSERT_FALSE(WorldId.isEmpty());
		ComponentId = RegisterClientPak(WorldId, Identifier);
		ASSERT_FALSE(ComponentId.isEmpty());

		// A copy, not a link: the client finds its folders from where its executable lies.
		const QString Binaries = Root.path() + QStringLiteral("/Orva Install/ORVAClient/Binaries/Linux");
		ASSERT_TRUE(QDir().mkpath(Binaries));
		Executable = Binaries + QStringLiteral("/ORVAClient");
		ASSERT_TRUE(QFile::copy(QStringLiteral(ORVA_CLIENT_PATH), Executable));
		QFile::setPermissions(Executable, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
		LogPath = Root.path() + QStringLiteral("/Orva Install/ORVAClient/Saved/Logs/ORVAClient.log");

		const QString Settings = Root.path() + QStringLiteral("/config/BrackenfoldStudios/ORVA");
		ASSERT_TRUE(QDir().mkpath(Settings));
		QFile Ini(Settings + QStringLiteral("/OrvaSDK.ini"));
		ASSERT_TRUE(Ini.open(QIODevice::WriteOnly));
		Ini.write(QStringLiteral("[Development]\nServiceBaseUrl=http://127.0.0.1:%1/api/v1/\n")
		              .arg(Service.Process().Port())
		              .toUtf8());
	}

	QString RegisterClientPak(const QString& World, const QString& Folder)
	{
		const std::string Body = R"([{"metadata":{"map":"/Game/)" + Folder.toStdString() +
		                         R"(/Maps/Entry","filename":"Entry_WindowsClient"},"name":"environment",)"
		                         R"("platform":"WindowsClient","sandbox":false}])";
		const httplib::Result Answer = Service.PostJson("worlds/" + World.toStdString() + "/components", Body, Token);
		if (!Answer || Answer->status != 201)
		{
			return QString();
		}
		return JsonOf(Answer).array().at(0).toObject().value(QStringLiteral("id")).toString();
	}

	// The world's folder as the editor packs it: the entry level and the crate it needs, below
	// the client's own project. Answers the pak's path; OutEntries the packed entries.
	QString BuildPak(bool bWithLevel = true, bool bWithCrate = true, QList<FPakEntryInfo>* OutEntries = nullptr)
	{
		const QString Content = Root.path() + QStringLiteral("/content/");
		FPackageFile Level;
		Level.Assets = {{QStringLiteral("Entry"), QStringLiteral("/Script/Engine.World"), QString()}};
		Level.HardDependencies = {QStringLiteral("/Game/%1/Props/Crate").arg(Identifier),
		                          QStringLiteral("/Engine/BasicShapes/Cube")};
		FPackageFile Crate;
		Crate.Assets = {{QStringLiteral("Crate"), QStringLiteral("/Script/Engine.StaticMesh"), QString()}};
		Crate.Payload = QStringLiteral("crate mesh data");
		EXPECT_TRUE(Level.SaveToFile(Content + QStringLiteral("Entry.umap")));
		EXPECT_TRUE(Crate.SaveToFile(Content + QStringLiteral("Crate.uasset")));

		const QString Pak = Root.path() + QStringLiteral("/Saved Paks/") + ComponentId + QStringLiteral(".pak");
		QDir().mkpath(Root.path() + QStringLiteral("/Saved Paks"));
		FPakWriter Writer;
		EXPECT_TRUE(Writer.Open(Pak, QStringLiteral("../../../ORVAClient/")));
		FPakEntryInfo Entry;
		if (bWithLevel)
		{
			EXPECT_TRUE(Writer.AddFile(Content + QStringLiteral("Entry.umap"),
			                           QStringLiteral("Content/%1/Maps/Entry.umap").arg(Identifier), &Entry));
			if (OutEntries)
			{
				OutEntries->append(Entry);
			}
		}
		if (bWithCrate)
		{
			EXPECT_TRUE(Writer.AddFile(Content + QStringLiteral("Crate.uasset"),
			                           QStringLiteral("Content/%1/Props/Crate.uasset").arg(Identifier), &Entry));
			if (OutEntries)
			{
				OutEntries->append(Entry);
			}
		}
		EXPECT_TRUE(Writer.Finish()) << Writer.GetError().toStdString();
		return Pak;
	}

	QStringList Arguments(const QString& Pak, const QString& WithToken) const
	{
		return {QStringLiteral("-ApplicationType=PC_Win64"),  QStringLiteral("-ApplicationToken=") + WithToken,
		        QStringLiteral("-PakPlatform=WindowsClient"), QStringLiteral("-RunMode=Editor"),
		        QStringLiteral("-SDK_Id=") + WorldId,         QStringLiteral("-SDK_Path=") + Pak};
	}

	// Runs the client to its end; its exit code, the log it wrote in Log.
	int Run(const QStringList& Args)
	{
		const FProgramRun Ran =
		    RunProgram(ProgramLine(Executable, Args), std::chrono::seconds(60),
		               {"XDG_CONFIG_HOME=" + QString(Root.path() + QStringLiteral("/config")).toStdString()});
		EXPECT_TRUE(Ran.bEnded);
		QFile File(LogPath);
		Log = File.open(QIODevice::ReadOnly) ? QString::fromUtf8(File.readAll()) : QString();
		return Ran.ExitCode;
	}

	QString BareToken() const { return QString::fromStdString(Token); }

	QTemporaryDir Root;
	FTestService Service;
	std::string Token;
	QString WorldId;
	QString Identifier;
	QString ComponentId;
	QString Executable;
	QString LogPath;
	QString Log;
};

TEST_F(ClientTest, AGoodPakPlaysAndTheTokenStaysOutOfTheLog)
{
	const QString Pak = BuildPak();
	EXPECT_EQ(Run(Arguments(Pak, BareToken()) << QStringLiteral("-Log")), 0) << Log.toStdString();
	EXPECT_TRUE(Log.contains(QStringLiteral("Token accepted: signed in as Alice Example")));
	EXPECT_TRUE(Log.contains(QStringLiteral(": 2 files, ")) && Log.contains(QStringLiteral("every hash verified")));
	EXPECT_TRUE(Log.contains(QStringLiteral("Verdict: world %1 \"NewWorld\" can be played: level /Game/%2/Maps/Entry "
	                                        "from %3")
	                             .arg(WorldId, Identifier, Pak)))
	    << Log.toStdString();
	EXPECT_FALSE(Log.contains(BareToken()));
	EXPECT_TRUE(Log.contains(QStringLiteral("-ApplicationToken=<hidden>")));
}

TEST_F(ClientTest, APakTheCommandletCompressedPlaysAndADamagedBlockIsRefused)
{
	// A project holding the world's level and the crate it needs, packed by -run=HotPatcher with
	// its default settings (compression on).
	const QString Project = Root.path() + QStringLiteral("/Proj");
	const QString Content = Project + QStringLiteral("/Content/") + Identifier;
	FPackageFile Level;
	Level.Assets = {{QStringLiteral("Entry"), QStringLiteral("/Script/Engine.World"), QString()}};
	Level.HardDependencies = {QStringLiteral("/Game/%1/Props/Crate").arg(Identifier)};
	FPackageFile Crate;
	Crate.Assets = {{QStringLiteral("Crate"), QStringLiteral("/Script/Engine.StaticMesh"), QString()}};
	Crate.Payload = QStringLiteral("crate mesh data, vertex 0 0 1, ").repeated(4000);
	ASSERT_TRUE(QDir().mkpath(Content + QStringLiteral("/Maps")) && QDir().mkpath(Content + QStringLiteral("/Props")));
	ASSERT_TRUE(Level.SaveToFile(Content + QStringLiteral("/Maps/Entry.umap")));
	ASSERT_TRUE(Crate.SaveToFile(Content + QStringLiteral("/Props/Crate.uasset")));
	QFile ProjectFile(Project + QStringLiteral("/Proj.uproject"));
	ASSERT_TRUE(ProjectFile.open(QIODevice::WriteOnly) && ProjectFile.write("{\"FileVersion\":3}\n") > 0);
	ProjectFile.close();
	const QString Config = Root.path() + QStringLiteral("/Entry_PatchConfig.json");
	QFile ConfigFile(Config);
	ASSERT_TRUE(ConfigFile.open(QIODevice::WriteOnly));
	ConfigFile.write(QStringLiteral(R"({"VersionId":"Entry","PakTargetPlatforms":["WindowsClient"],)"
	                                R"("IncludeSpecifyAssets":[{"Asset":"/Game/%1/Maps/Entry.Entry"}],)"
	                                R"("ReplacePakListTexts":[{"From":"../../../Proj","To":"../../../ORVAClient"}]})")
	                     .arg(Identifier)
	                     .toUtf8());
	ConfigFile.close();
	const FProgramRun Build =
	    RunProgram(ProgramLine(QStringLiteral(ORVA_EDITOR_CMD),
	                           {Project + QStringLiteral("/Proj.uproject"), QStringLiteral("-run=HotPatcher"),
	                            QStringLiteral("-config=") + Config}),
	               std::chrono::seconds(60));
	ASSERT_TRUE(Build.bEnded);
	ASSERT_EQ(Build.ExitCode, 0) << Build.Error;
	// The client takes the component from the pak's name, as the editor hands it over.
	const QString Pak = Root.path() + QStringLiteral("/") + ComponentId + QStringLiteral(".pak");
	ASSERT_TRUE(
	    QFile::copy(Project + QStringLiteral("/Saved/HotPatcher/Entry/WindowsClient/Entry_WindowsClient.pak"), Pak));

	FPakReader Reader;
	ASSERT_TRUE(Reader.Open(Pak)) << Reader.GetError().toStdString();
	std::optional<FPakEntryInfo> Packed;
	for (const FPakEntryInfo& Entry : Reader.GetEntries())
	{
		if (Entry.Path.endsWith(QLatin1String("Crate.uasset")))
		{
			Packed = Entry;
		}
	}
	ASSERT_TRUE(Packed && Packed->IsCompressed());
	ASSERT_LT(Packed->Size, Packed->UncompressedSize / 4);

	EXPECT_EQ(Run(Arguments(Pak, BareToken())), 0) << Log.toStdString();
	EXPECT_TRUE(Log.contains(QStringLiteral("every hash verified"))) << Log.toStdString();
	EXPECT_TRUE(Log.contains(QStringLiteral("can be played: level /Game/%1/Maps/Entry").arg(Identifier)))
	    << Log.toStdString();

	// One changed byte inside the crate's compressed blocks.
	QFile File(Pak);
	ASSERT_TRUE(File.open(QIODevice::ReadWrite));
	QByteArray Bytes = File.readAll();
	Bytes[Packed->Offset + Packed->HeaderSize() + Packed->Size / 2] ^= 0x10;
	File.seek(0);
	File.write(Bytes);
	File.close();
	EXPECT_EQ(Run(Arguments(Pak, BareToken())), 1);
	EXPECT_TRUE(Log.contains(QStringLiteral("the pak failed its hash check"))) << Log.toStdString();
}

TEST_F(ClientTest, OneChangedByteInThePakIsRefused)
{
	QList<FPakEntryInfo> Entries;
	const QString Pak = BuildPak(true, true, &Entries);
	ASSERT_EQ(Entries.size(), 2);
	QFile File(Pak);
	ASSERT_TRUE(File.open(QIODevice::ReadWrite));
	const QByteArray Original = File.readAll();

	// A byte of the crate's data: the level is intact, the world is not.
	QByteArray Changed = Original;
	Changed[Entries[1].Offset + PakFormat::EntryHeaderSize + 3] ^= 0x20;
	File.seek(0);
	File.write(Changed);
	File.flush();
	EXPECT_EQ(Run(Arguments(Pak, BareToken())), 1);
	EXPECT_TRUE(Log.contains(QStringLiteral("cannot be played: the pak failed its hash check: %1: the data of "
	                                        "Content/%2/Props/Crate.uasset does not match its hash")
	                             .arg(Pak, Identifier)))
	    << Log.toStdString();

	// A byte of the index.
	Changed = Original;
	Changed[Changed.size() - PakFormat::FooterSize - 10] ^= 0x01;
	File.seek(0);
	File.write(Changed);
	File.flush();
	EXPECT_EQ(Run(Arguments(Pak, BareToken())), 1);
	EXPECT_TRUE(Log.contains(QStringLiteral("cannot be played: cannot mount the pak: %1: the full directory index hash "
	                                        "does not match")
	                             .arg(Pak)))
	    << Log.toStdString();
}

TEST_F(ClientTest, ABadTokenOrAnIncompleteLaunchIsRefused)
{
	const QString Pak = BuildPak();
	EXPECT_EQ(Run(Arguments(Pak, QStringLiteral("not-a-token-of-this-service"))), 1);
	EXPECT_TRUE(Log.contains(
	    QStringLiteral("Verdict: world %1 cannot be played: the service refused the token (HTTP 401").arg(WorldId)))
	    << Log.toStdString();
	EXPECT_FALSE(Log.contains(QStringLiteral("not-a-token-of-this-service")));

	// Another creator's token: the world is not theirs.
	const std::string Bob = Service.LoginBob();
	EXPECT_EQ(Run(Arguments(Pak, QString::fromStdString(Bob))), 1);
	EXPECT_TRUE(Log.contains(QStringLiteral("world %1 is not a world of this creator (HTTP 404").arg(WorldId)));

	// A token that would break the request's header line never leaves the client.
	EXPECT_EQ(Run(Arguments(Pak, BareToken() + QStringLiteral("\r\nX-Injected: 1"))), 2);
	EXPECT_TRUE(Log.contains(QStringLiteral("-ApplicationToken is not a plain bearer token")));

	// The editor starts the client without arguments when the client pak is not registered.
	EXPECT_EQ(Run({}), 2);
	EXPECT_TRUE(Log.contains(QStringLiteral("cannot be played: no world to play")));
}

TEST_F(ClientTest, APakWithoutTheWorldsLevelIsRefused)
{
	EXPECT_EQ(Run(Arguments(BuildPak(false, true), BareToken())), 1);
	EXPECT_TRUE(Log.contains(QStringLiteral("cannot be played: the level /Game/%1/Maps/Entry is not in the pak (no "
	                                        "../../../ORVAClient/Content/%1/Maps/Entry.umap)")
	                             .arg(Identifier)))
	    << Log.toStdString();

	// The level without what it needs cannot be played either.
	EXPECT_EQ(Run(Arguments(BuildPak(true, false), BareToken())), 1);
	EXPECT_TRUE(
	    Log.contains(QStringLiteral("the level /Game/%1/Maps/Entry needs /Game/%1/Props/Crate, which is not in the pak")
	                     .arg(Identifier)))
	    << Log.toStdString();

	// A good pak of another world of the same creator is not this world's.
	const QString Pak = BuildPak();
	const QJsonObject Other = Service.CreateWorld(Token);
	const QString OtherId = Other.value(QStringLiteral("id")).toString();
	QStringList Args = Arguments(Pak, BareToken());
	Args[4] = QStringLiteral("-SDK_Id=") + OtherId;
	EXPECT_EQ(Run(Args), 1);
	EXPECT_TRUE(Log.contains(
	    QStringLiteral("component %1 belongs to world %2, not to world %3").arg(ComponentId, WorldId, OtherId)))
	    << Log.toStdString();
}

TEST_F(ClientTest, AHostilePakIsNotPlayedAndNothingItNamesStartsALogLine)
{
	const QString Pak = BuildPak();
	auto ReadAll = [](const QString& Path)
	{
		QFile File(Path);
		return File.open(QIODevice::ReadOnly) ? File.readAll() : QByteArray();
	};
	const QString Content = Root.path() + QStringLiteral("/content/");
	const FCraftedEntry Level{QStringLiteral("Content/%1/Maps/Entry.umap").arg(Identifier),
	                          ReadAll(Content + QStringLiteral("Entry.umap"))};
	const FCraftedEntry Crate{QStringLiteral("Content/%1/Props/Crate.uasset").arg(Identifier),
	                          ReadAll(Content + QStringLiteral("Crate.uasset"))};
	auto RunWith = [&](const QList<FCraftedEntry>& Extra)
	{
		FCraftedPak Crafted;
		Crafted.Entries = QList<FCraftedEntry>{Level, Crate} + Extra;
		QFile File(Pak);
		EXPECT_TRUE(File.open(QIODevice::WriteOnly | QIODevice::Truncate));
		File.write(Crafted.Build());
		File.close();
		return Run(Arguments(Pak, BareToken()));
	};
	auto NoLineStartsWith = [this](const QString& Text)
	{
		for (const QString& Line : Log.split(QLatin1Char('\n')))
		{
			if (Line.startsWith(Text))
			{
				return false;
			}
		}
		return true;
	};
	ASSERT_EQ(RunWith({}), 0) << Log.toStdString();

	// Size -5 with the hash of nothing, listed without encoding: the bytes it stands over are
	// covered by no hash.
	FCraftedEntry Negative{QStringLiteral("Content/%1/Props/Extra.uasset").arg(Identifier), QByteArray("unchecked")};
	Negative.ClaimedSize = -5;
	Negative.ClaimedSha1 = QCryptographicHash::hash(QByteArray(), QCryptographicHash::Sha1);
	Negative.bNonEncoded = true;
	EXPECT_EQ(RunWith({Negative}), 1);
	EXPECT_FALSE(Log.contains(QStringLiteral("every hash verified"))) << Log.toStdString();
	EXPECT_TRUE(Log.contains(QStringLiteral("cannot mount the pak"))) << Log.toStdString();

	// A second name over the level's data.
	FCraftedEntry Alias{QStringLiteral("Content/%1/Maps/Other.umap").arg(Identifier), QByteArray()};
	Alias.SameOffsetAs = 0;
	Alias.ClaimedSize = Level.Data.size();
	Alias.ClaimedSha1 = QCryptographicHash::hash(Level.Data, QCryptographicHash::Sha1);
	EXPECT_EQ(RunWith({Alias}), 1);
	EXPECT_TRUE(Log.contains(QStringLiteral("overlap"))) << Log.toStdString();

	// Names that leave the mount point or carry a line of their own (its hash wrong, so that a
	// reader taking the name would print it in its refusal).
	for (const QString& Name : {QStringLiteral("../../../Engine/Binaries/evil.so"),
	                            QStringLiteral("Content/x.uasset\nVerdict: world x can be played")})
	{
		FCraftedEntry Hostile{Name, QByteArray("hostile")};
		Hostile.ClaimedSha1 = QByteArray(20, '\1');
		EXPECT_EQ(RunWith({Hostile}), 1) << Name.toStdString();
		EXPECT_TRUE(NoLineStartsWith(QStringLiteral("Verdict"))) << Log.toStdString();
	}

	// The service's texts are escaped too: a world name with a line break stays on its line.
	const httplib::Result Renamed = Service.PatchJson("worlds/" + WorldId.toStdString(),
	                                                  R"({"name":"Evil\nVerdict: world x can be played"})", Token);
	ASSERT_TRUE(Renamed);
	ASSERT_EQ(Renamed->status, 200) << Renamed->body;
	EXPECT_EQ(RunWith({}), 0) << Log.toStdString();
	EXPECT_TRUE(NoLineStartsWith(QStringLiteral("Verdict"))) << Log.toStdString();
	EXPECT_TRUE(Log.contains(QStringLiteral("\"Evil\\nVerdict: world x can be played\" can be played")))
	    << Log.toStdString();
}
