#include "SdkFixture.h"

#include "AssetRegistry.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

namespace
{
QByteArray PackageJson(const QString& PackageName, const QStringList& Hard, bool bLevel = false,
                       const QByteArray& Payload = QByteArray())
{
	QJsonObject Asset{{QStringLiteral("Name"), PackageName.section(QLatin1Char('/'), -1)},
	                  {QStringLiteral("Class"),
	                   bLevel ? QStringLiteral("/Script/Engine.World") : QStringLiteral("/Script/Engine.StaticMesh")}};
	QJsonObject Root{{QStringLiteral("OrvaPackage"), 1},
	                 {QStringLiteral("Assets"), QJsonArray{Asset}},
	                 {QStringLiteral("HardDependencies"), QJsonArray::fromStringList(Hard)},
	                 {QStringLiteral("SoftDependencies"), QJsonArray()}};
	if (!Payload.isEmpty())
	{
		Root.insert(QStringLiteral("Payload"), QString::fromLatin1(Payload));
	}
	return QJsonDocument(Root).toJson();
}

// What a pipeline reads: the level, the subject and the message of each finding.
QString Describe(const FOrvaPreflightReport& Report)
{
	QStringList Lines;
	for (const FOrvaPreflightFinding& Finding : Report.Findings)
	{
		Lines.append(
		    QStringLiteral("%1 | %2 | %3").arg(QString::number(int(Finding.Level)), Finding.Subject, Finding.Message));
	}
	return Lines.join(QLatin1Char('\n'));
}
} // namespace

class PreflightTest : public FSdkFixture
{
protected:
	const QString Entry = QStringLiteral("/Game/W1/Maps/Entry");

	// Writes a package file; FileName overrides the file's name in its folder (to spell it differently).
	void AddPackage(const QString& PackageName, const QStringList& Hard, bool bLevel = false,
	                const QByteArray& Payload = QByteArray(), const QString& FileName = QString())
	{
		QString Relative = PackageName.mid(QStringLiteral("/Game/").size());
		if (!FileName.isEmpty())
		{
			Relative = Relative.section(QLatin1Char('/'), 0, -2) + QLatin1Char('/') + FileName;
		}
		ASSERT_TRUE(Project.WriteFile(QStringLiteral("TestProject/Content/") + Relative +
		                                  (bLevel ? QStringLiteral(".umap") : QStringLiteral(".uasset")),
		                              PackageJson(PackageName, Hard, bLevel, Payload)));
	}

	// A world W1 whose workspace is current, named, described and with a title image unless told
	// otherwise, with Entry as its entry map.
	void StartWorld(const QByteArray& WorldExtra = R"(,"image":{"id":"i1","url":"http://127.0.0.1:1/t.png"})",
	                const QByteArray& Settings = QByteArray(),
	                const QString& EntryMap = QStringLiteral("/Game/W1/Maps/Entry.Entry"))
	{
		WriteSettings(Settings);
		QDir().mkpath(Project.ContentDir() + QStringLiteral("W1/Config"));
		FEditorHostOptions Options;
		Options.ProjectFile = Project.ProjectFile();
		Options.UserSettingsDir = Project.UserSettingsDir();
		Options.bWithEditorWorld = false;
		Options.EngineDir = QStringLiteral(ORVA_SOURCE_DIR "/Resources/EngineContent");
		Host = std::make_unique<FEditorHost>(Options);
		auto PolicyDialogs = std::make_unique<FPolicyDialogService>();
		Dialogs = PolicyDialogs.get();
		Host->SetDialogService(std::move(PolicyDialogs));
		Host->RegisterSubsystem<UOrvaSDKSubsystem>();
		Host->RegisterSubsystem<UOrvaDataCacheSubsystem>();
		Host->Start();
		const QByteArray World =
		    R"({"identifier":"W1","id":"id-1","name":"Harbour","description":"d","private":false)" + WorldExtra + "}";
		Server.SetHandler(
		    [World](const FLoopbackHttpServer::FRecordedRequest& Request)
		    {
			    if (Request.Target.endsWith("/me/worlds"))
			    {
				    return FLoopbackHttpServer::FAnswer{200, "[" + World + "]"};
			    }
			    return FLoopbackHttpServer::FAnswer{200, R"({"screen_shots":[]})"};
		    });
		Sdk().GetWorldsList();
		Settle();
		FOrvaWorldData Picked;
		Picked.Identifier = QStringLiteral("W1");
		Picked.Id = QStringLiteral("id-1");
		Sdk().ChangeWorkspaceWorld(Picked);
		Settle();
		ASSERT_EQ(Sdk().GetKeyFolderName(), QStringLiteral("W1"));
		Sdk().CurrWorkspace.TitleName = QStringLiteral("Harbour");
		Sdk().CurrWorkspace.Description = QStringLiteral("Docks at dawn.");
		Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(EntryMap);
	}

	QList<FOrvaPreflightFinding> Findings(EOrvaPreflightLevel Level) const
	{
		QList<FOrvaPreflightFinding> Out;
		for (const FOrvaPreflightFinding& Finding : Report.Findings)
		{
			if (Finding.Level == Level)
			{
				Out.append(Finding);
			}
		}
		return Out;
	}

	const FOrvaPreflightFinding* Find(EOrvaPreflightLevel Level, const QString& Subject) const
	{
		for (const FOrvaPreflightFinding& Finding : Report.Findings)
		{
			if (Finding.Level == Level && Finding.Subject == Subject)
			{
				return &Finding;
			}
		}
		return nullptr;
	}

	void Check() { Report = Sdk().GetPreflightReport(); }

	FOrvaPreflightReport Report;
};

TEST_F(PreflightTest, AReadyWorldHasOnlyNotesWithItsFigures)
{
	AddPackage(Entry, {QStringLiteral("/Game/W1/Props/Crate"), QStringLiteral("/Script/Engine")}, true);
	AddPackage(QStringLiteral("/Game/W1/Props/Crate"), {QStringLiteral("/Game/W1/Props/Wood")});
	AddPackage(QStringLiteral("/Game/W1/Props/Wood"), {});
	AddPackage(QStringLiteral("/Game/W1/Props/Unused"), {});
	Project.WriteFile(QStringLiteral("TestProject/Content/W1/ExtendFiles/readme.txt"), QByteArray(1000, 'x'));
	StartWorld();
	Check();

	EXPECT_TRUE(Findings(EOrvaPreflightLevel::Error).isEmpty()) << qPrintable(Describe(Report));
	EXPECT_TRUE(Findings(EOrvaPreflightLevel::Warning).isEmpty()) << qPrintable(Describe(Report));
	EXPECT_EQ(Report.PackageCount, 3);
	// Whatever the workspace's "Config" folder holds goes into both paks.
	const QFileInfoList Config =
	    QDir(Project.ContentDir() + QStringLiteral("W1/Config")).entryInfoList(QDir::Files | QDir::Hidden);
	qint64 ConfigBytes = 0;
	for (const QFileInfo& File : Config)
	{
		ConfigBytes += File.size();
	}
	qint64 Bytes = 0;
	for (const QString& File : {QStringLiteral("W1/Maps/Entry.umap"), QStringLiteral("W1/Props/Crate.uasset"),
	                            QStringLiteral("W1/Props/Wood.uasset")})
	{
		Bytes += QFileInfo(Project.ContentDir() + File).size();
	}
	EXPECT_EQ(Report.TotalBytes, Bytes);
	EXPECT_EQ(Report.UploadLimitBytes, qint64(2147483648));
	EXPECT_EQ(Report.InstallFolder, QStringLiteral("C:\\Program Files\\ORVA"));
	// The server pak carries no "ExtendFiles"; the client's does, and is the larger one.
	ASSERT_EQ(Report.Paks.size(), 2);
	EXPECT_EQ(Report.Paks[0].Platform, QStringLiteral("WindowsServer"));
	EXPECT_EQ(Report.Paks[0].FileCount, 3 + Config.size());
	EXPECT_EQ(Report.Paks[0].ContentBytes, Bytes + ConfigBytes);
	EXPECT_EQ(Report.Paks[1].Platform, QStringLiteral("WindowsClient"));
	EXPECT_EQ(Report.Paks[1].FileCount, 4 + Config.size());
	EXPECT_EQ(Report.Paks[1].ContentBytes, Bytes + ConfigBytes + 1000);
	EXPECT_GT(Report.Paks[0].EstimatedBytes, 0);
	EXPECT_EQ(Report.EstimatedPakBytes, Report.Paks[1].EstimatedBytes);
	EXPECT_NE(Find(EOrvaPreflightLevel::Note, QStringLiteral("WindowsClient")), nullptr);
}

TEST_F(PreflightTest, NoEntryMapOrOneThatDoesNotExistIsAnError)
{
	AddPackage(Entry, {}, true);
	StartWorld();
	Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath();
	Check();
	ASSERT_EQ(Findings(EOrvaPreflightLevel::Error).size(), 1) << qPrintable(Describe(Report));
	EXPECT_EQ(Findings(EOrvaPreflightLevel::Error)[0].Subject, QStringLiteral("Entry map"));
	EXPECT_EQ(Report.PackageCount, 0);

	Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W1/Maps/Gone.Gone"));
	Check();
	ASSERT_EQ(Findings(EOrvaPreflightLevel::Error).size(), 1) << qPrintable(Describe(Report));
	EXPECT_EQ(Findings(EOrvaPreflightLevel::Error)[0].Subject, QStringLiteral("/Game/W1/Maps/Gone.Gone"));
	EXPECT_EQ(Findings(EOrvaPreflightLevel::Error)[0].Message,
	          QStringLiteral("The entry map does not exist in this project."));

	// A package that is not a level cannot be the entry map either.
	AddPackage(QStringLiteral("/Game/W1/Props/Crate"), {});
	Host->AssetRegistry().ScanPathsSynchronous({QStringLiteral("/Game/W1/Props")}, true);
	Sdk().CurrWorkspace.ObjectPath = FSoftObjectPath(QStringLiteral("/Game/W1/Props/Crate.Crate"));
	Check();
	ASSERT_NE(Find(EOrvaPreflightLevel::Error, QStringLiteral("/Game/W1/Props/Crate.Crate")), nullptr);
}

TEST_F(PreflightTest, MissingPackagesAreErrorsAndEngineOrPluginContentIsNamed)
{
	AddPackage(Entry,
	           {QStringLiteral("/Game/W1/Props/Crate"), QStringLiteral("/Engine/BasicShapes/Cube"),
	            QStringLiteral("/Fx/Spark")},
	           true);
	AddPackage(QStringLiteral("/Game/W1/Props/Crate"),
	           {QStringLiteral("/Game/W1/Props/Gone"), QStringLiteral("/NoSuchPlugin/Thing")});
	Project.WriteFile(QStringLiteral("TestProject/Plugins/Fx/Fx.uplugin"), "{}");
	Project.WriteFile(QStringLiteral("TestProject/Plugins/Fx/Content/Spark.uasset"),
	                  PackageJson(QStringLiteral("/Fx/Spark"), {}));
	StartWorld();
	Check();

	const FOrvaPreflightFinding* Gone = Find(EOrvaPreflightLevel::Error, QStringLiteral("/Game/W1/Props/Gone"));
	ASSERT_NE(Gone, nullptr) << qPrintable(Describe(Report));
	EXPECT_TRUE(Gone->Message.contains(QStringLiteral("/Game/W1/Props/Crate"))) << qPrintable(Gone->Message);
	EXPECT_NE(Find(EOrvaPreflightLevel::Error, QStringLiteral("/NoSuchPlugin/Thing")), nullptr);
	EXPECT_EQ(Findings(EOrvaPreflightLevel::Error).size(), 2) << qPrintable(Describe(Report));
	// The packages with files count; the one without does not.
	EXPECT_EQ(Report.PackageCount, 2);
	const FOrvaPreflightFinding* Plugin = Find(EOrvaPreflightLevel::Warning, QStringLiteral("/Fx"));
	ASSERT_NE(Plugin, nullptr) << qPrintable(Describe(Report));
	EXPECT_TRUE(Plugin->Message.contains(QStringLiteral("/Fx/Spark")));
	const FOrvaPreflightFinding* Engine = Find(EOrvaPreflightLevel::Note, QStringLiteral("/Engine"));
	ASSERT_NE(Engine, nullptr) << qPrintable(Describe(Report));
	EXPECT_TRUE(Engine->Message.contains(QStringLiteral("/Engine/BasicShapes/Cube")));
}

TEST_F(PreflightTest, InstalledPathsOverTheWindowsLimitAreErrors)
{
	// "C:\Program Files\ORVA\" (22) + "ORVAClient/Content/" (19) + "W1/" (3) + folders + ".uasset" (7).
	const QString Folder = QString(60, QLatin1Char('a')) + QLatin1Char('/') + QString(60, QLatin1Char('b')) +
	                       QLatin1Char('/') + QString(60, QLatin1Char('c'));
	const int Fixed = 22 + 19 + 3 + int(Folder.size()) + 1 + 7;
	const QString Longest =
	    QStringLiteral("/Game/W1/") + Folder + QLatin1Char('/') + QString(259 - Fixed, QLatin1Char('L'));
	const QString TooLong =
	    QStringLiteral("/Game/W1/") + Folder + QLatin1Char('/') + QString(260 - Fixed, QLatin1Char('T'));
	// 257 characters where it lies, 260 once it has moved into W1: measured where it will lie.
	const QString Outside =
	    QStringLiteral("/Game/") + Folder + QLatin1Char('/') + QString(260 - Fixed, QLatin1Char('O'));
	AddPackage(Entry, {Longest, TooLong, Outside}, true);
	AddPackage(Longest, {});
	AddPackage(TooLong, {});
	AddPackage(Outside, {});
	StartWorld();
	Check();

	QStringList Subjects;
	for (const FOrvaPreflightFinding& Finding : Findings(EOrvaPreflightLevel::Error))
	{
		if (Finding.Message.startsWith(QStringLiteral("Installed in C:\\Program Files\\ORVA")))
		{
			Subjects.append(Finding.Subject);
		}
	}
	Subjects.sort();
	const QString Prefix = QStringLiteral("ORVAClient/Content/W1/") + Folder + QLatin1Char('/');
	EXPECT_EQ(Subjects, QStringList({Prefix + QString(260 - Fixed, QLatin1Char('O')) + QStringLiteral(".uasset"),
	                                 Prefix + QString(260 - Fixed, QLatin1Char('T')) + QStringLiteral(".uasset")}))
	    << qPrintable(Describe(Report));
}

TEST_F(PreflightTest, NamesThatDifferOnlyInCaseOrThatTheEngineRefusesAreFound)
{
	AddPackage(Entry, {QStringLiteral("/Game/W1/Props/Rock")}, true);
	AddPackage(QStringLiteral("/Game/W1/Props/Rock"), {});
	AddPackage(QStringLiteral("/Game/W1/Props/Rock"), {}, false, QByteArray(), QStringLiteral("rock"));
	AddPackage(QStringLiteral("/Game/W1/Props/Bad"), {}, false, QByteArray(), QStringLiteral("Bad,Name"));
	Project.WriteFile(QStringLiteral("TestProject/Content/W1/ExtendFiles/Notes/aux.txt"), "x");
	StartWorld();
	Check();

	bool bClash = false;
	for (const FOrvaPreflightFinding& Finding : Findings(EOrvaPreflightLevel::Error))
	{
		bClash |= Finding.Subject.compare(QStringLiteral("W1/Props/rock.uasset"), Qt::CaseInsensitive) == 0 &&
		          Finding.Message.contains(QStringLiteral("letter case"));
	}
	EXPECT_TRUE(bClash) << qPrintable(Describe(Report));
	EXPECT_NE(Find(EOrvaPreflightLevel::Warning, QStringLiteral("W1/Props/Bad,Name.uasset")), nullptr)
	    << qPrintable(Describe(Report));
	EXPECT_NE(Find(EOrvaPreflightLevel::Error, Project.ContentDir() + QStringLiteral("W1/ExtendFiles/Notes/aux.txt")),
	          nullptr)
	    << qPrintable(Describe(Report));
}

TEST_F(PreflightTest, PaksAreMeasuredAgainstTheUploadLimitInForce)
{
	// Compressible content: the estimate is far below the content's own size.
	AddPackage(Entry, {QStringLiteral("/Game/W1/Props/Big")}, true);
	AddPackage(QStringLiteral("/Game/W1/Props/Big"), {}, false, QByteArray(200000, 'a'));
	StartWorld(R"(,"image":{"id":"i1","url":"http://127.0.0.1:1/t.png"})", "[AwsS3]\nMaxUploadBytes=150000\n");
	Check();
	EXPECT_EQ(Report.UploadLimitBytes, 150000);
	ASSERT_EQ(Report.Paks.size(), 2);
	EXPECT_GT(Report.Paks[1].ContentBytes, 200000);
	EXPECT_LT(Report.Paks[1].EstimatedBytes, 20000);
	// Under the limit only if it compresses as the sample did: a warning, not an error.
	EXPECT_TRUE(Findings(EOrvaPreflightLevel::Error).isEmpty()) << qPrintable(Describe(Report));
	EXPECT_NE(Find(EOrvaPreflightLevel::Warning, QStringLiteral("WindowsClient")), nullptr)
	    << qPrintable(Describe(Report));

	Host->GetConfig()->SetString(QStringLiteral("AwsS3"), QStringLiteral("MaxUploadBytes"), QStringLiteral("1000"),
	                             SettingsFile());
	Check();
	EXPECT_EQ(Report.UploadLimitBytes, 1000);
	EXPECT_NE(Find(EOrvaPreflightLevel::Error, QStringLiteral("WindowsServer")), nullptr)
	    << qPrintable(Describe(Report));
	EXPECT_NE(Find(EOrvaPreflightLevel::Error, QStringLiteral("WindowsClient")), nullptr)
	    << qPrintable(Describe(Report));
	EXPECT_TRUE(Report.HasErrors());
}

TEST_F(PreflightTest, TheWorldsOwnDetailsAreWarnings)
{
	AddPackage(Entry, {}, true);
	StartWorld(QByteArray());
	Sdk().CurrWorkspace.TitleName = QStringLiteral("NewWorld");
	Sdk().CurrWorkspace.Description = QStringLiteral("  ");
	Check();
	const QList<FOrvaPreflightFinding> Warnings = Findings(EOrvaPreflightLevel::Warning);
	ASSERT_EQ(Warnings.size(), 3) << qPrintable(Describe(Report));
	EXPECT_EQ(Warnings[0].Message, QStringLiteral("The world still has the default name \"NewWorld\"."));
	EXPECT_EQ(Warnings[1].Message, QStringLiteral("The world has no description."));
	EXPECT_TRUE(Warnings[2].Message.contains(QStringLiteral("title image")));
	EXPECT_FALSE(Report.HasErrors());

	// No world at all: one error and nothing else.
	Sdk().ClearCurrWorkspace();
	Check();
	ASSERT_EQ(Report.Findings.size(), 1) << qPrintable(Describe(Report));
	EXPECT_EQ(Report.Findings[0].Message, QStringLiteral("No world is chosen."));
}

TEST_F(PreflightTest, WhatTheMoveWouldMoveIsWhatItMoves)
{
	AddPackage(QStringLiteral("/Game/Maps/Entry"),
	           {QStringLiteral("/Game/Props/Crate"), QStringLiteral("/Game/Loose"), QStringLiteral("/Game/W1/Inside")},
	           true);
	AddPackage(QStringLiteral("/Game/Maps/Other"), {}, true);
	AddPackage(QStringLiteral("/Game/Props/Crate"), {});
	AddPackage(QStringLiteral("/Game/Loose"), {});
	AddPackage(QStringLiteral("/Game/W1/Inside"), {});
	StartWorld(R"(,"image":{"id":"i1","url":"http://127.0.0.1:1/t.png"})", QByteArray(),
	           QStringLiteral("/Game/Maps/Entry.Entry"));
	Check();

	EXPECT_NE(Find(EOrvaPreflightLevel::Error, QStringLiteral("/Game/Maps/Entry")), nullptr)
	    << qPrintable(Describe(Report));
	const FOrvaPreflightFinding* Outside = Find(EOrvaPreflightLevel::Warning, QStringLiteral("/Game/W1"));
	ASSERT_NE(Outside, nullptr) << qPrintable(Describe(Report));
	EXPECT_TRUE(Outside->Message.startsWith(QStringLiteral("3 packages"))) << qPrintable(Outside->Message);
	const FOrvaPreflightFinding* Maps = Find(EOrvaPreflightLevel::Warning, QStringLiteral("/Game/Maps"));
	ASSERT_NE(Maps, nullptr) << qPrintable(Describe(Report));
	EXPECT_TRUE(Maps->Message.contains(QStringLiteral("Other maps move with it: /Game/Maps/Other.")))
	    << qPrintable(Maps->Message);
	const FOrvaPreflightFinding* Props = Find(EOrvaPreflightLevel::Warning, QStringLiteral("/Game/Props"));
	ASSERT_NE(Props, nullptr);
	EXPECT_FALSE(Props->Message.contains(QStringLiteral("Other maps")));
	EXPECT_NE(Find(EOrvaPreflightLevel::Warning, QStringLiteral("/Game/Loose")), nullptr);

	// Answering the move question yes records the very folders the report named.
	Dialogs->QueueAnswer(EAppReturnType::Yes);
	ASSERT_TRUE(Sdk().SureAutoMovePackages(Sdk().CheckFoldersNeedMove(Sdk().CurrWorkspace.ObjectPath)));
	const QStringList Moved = Sdk().property("RecordMovedFolders").toStringList();
	EXPECT_EQ(Moved, QStringList({QStringLiteral("/Game/Maps"), QStringLiteral("/Game/Props")}));
	ASSERT_EQ(Sdk().GetRecordMovedObjects().size(), 1);
}
