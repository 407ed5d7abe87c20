// A whole publish as a creator does it in the plugin's tab, against the development service, the
// local object store, the real pak build and the real player client.

#include "EditorFixture.h"

#include "DevServiceProcess.h"
#include "LocalS3Server.h"
#include "ObjectPropertyEntryBox.h"
#include "SOrvaThumbnail.h"
#include "ScopedEnv.h"

#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QListWidget>
#include <QtTest/QTest>

#include <algorithm>
#include <functional>

namespace
{
QByteArray Sha256(const QByteArray& Bytes)
{
	return QCryptographicHash::hash(Bytes, QCryptographicHash::Sha256).toHex();
}

QString ReadText(const QString& Path)
{
	QFile File(Path);
	return File.open(QIODevice::ReadOnly) ? QString::fromUtf8(File.readAll()) : QString();
}
} // namespace

class WorldPublish : public FEditorFixture
{
protected:
	static inline const std::string Bucket = "orva-publish";
	FLocalS3Server Store;
	FTestService Service;
	std::string Token;

	void SetUp() override
	{
		if (!FLocalS3Server::IsAvailable())
		{
			GTEST_SKIP() << "moto_server is not installed";
		}
		ASSERT_EQ(Store.Start(), "");
		// The service hands out credentials the store issues, scoped to one pak each.
		const std::string Problem = Service.Start(Store.ServiceStsOptions(Bucket));
		ASSERT_TRUE(Problem.empty()) << Problem;
		Token = Service.LoginAlice();
		ASSERT_FALSE(Token.empty());
	}

	// Runs the editor's loop until Condition holds, asking it at most every PeriodMs: for
	// conditions that ask the service or the store.
	static bool Eventually(const std::function<bool()>& Condition, int TimeoutMs, int PeriodMs = 250)
	{
		QElapsedTimer Since;
		Since.start();
		bool bHolds = Condition();
		FGameThread::RunUntil(
		    [&]
		    {
			    if (!bHolds && Since.elapsed() >= PeriodMs)
			    {
				    bHolds = Condition();
				    Since.restart();
			    }
			    return bHolds;
		    },
		    TimeoutMs);
		return bHolds || Condition();
	}

	template <typename T>
	static T* Named(const QWidget* Parent, const char* Name)
	{
		return Parent ? Parent->findChild<T*>(QLatin1String(Name)) : nullptr;
	}

	FPolicyDialogService& Dialogs() const { return static_cast<FPolicyDialogService&>(Editor->Host().Dialogs()); }

	QJsonObject ServiceObject(const std::string& Path) { return ObjectOf(Service.Get(Path, Token)); }
};

TEST_F(WorldPublish, ACreatorPublishesAndPlaysAWorldThroughTheTab)
{
	// Alice has a world already; she makes a new one in the tab. The project holds the demo level
	// with its props and materials.
	const QJsonObject Other = Service.CreateWorld(Token);
	ASSERT_TRUE(Project.CopyContent(QStringLiteral(ORVA_SOURCE_DIR "/Examples/DemoProject/Content")));
	WriteSettings(QStringLiteral("[AwsS3]\nEndpoint=%1\nbUsePathStyle=True\n")
	                  .arg(QString::fromStdString(Store.Endpoint()))
	                  .toUtf8(),
	              QStringLiteral("http://127.0.0.1:%1/api/v1/").arg(Service.Process().Port()));
	const QString Client = Project.InstallClient(QStringLiteral(ORVA_CLIENT_PATH));
	ASSERT_FALSE(Client.isEmpty());
	QImage Shot(96, 54, QImage::Format_RGB32);
	Shot.fill(QColor(40, 90, 160));
	const QString ShotFile = Project.RootDir() + QStringLiteral("cave.png");
	ASSERT_TRUE(Shot.save(ShotFile, "PNG"));

	// Log in through the form, with Enter.
	StartEditor();
	SOrvaEditorView* View = OpenView();
	ASSERT_NE(View, nullptr);
	auto* LoginBox = View->findChild<SOrvaEditorLoginBox*>();
	ASSERT_NE(LoginBox, nullptr);
	QTest::keyClicks(Named<QLineEdit>(LoginBox, "UserText"), QString::fromStdString(AliceEmail));
	QTest::keyClicks(Named<QLineEdit>(LoginBox, "PasswordText"), QString::fromStdString(AlicePassword));
	QTest::keyClick(Named<QLineEdit>(LoginBox, "PasswordText"), Qt::Key_Return);
	SOrvaEditorWorldView* Panel = nullptr;
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&]
	    {
		    Panel = View->findChild<SOrvaEditorWorldView*>();
		    return Panel && Panel->isVisible();
	    },
	    15000));

	// Make a new world with the strip's "+": it opens for editing, its tile named, the focus in its name.
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Panel->GetWorldTiles().size() == 1; }, 15000));
	Settle();
	QTest::mouseClick(Panel->GetNewWorldButton(), Qt::LeftButton);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Panel->GetWorldTiles().size() == 2; }, 15000));
	Settle();
	QWidget* Info = Named<QWidget>(Panel, "InfoArea");
	ASSERT_TRUE(Info->isVisible());
	const QString WorldId = Sdk()->CurrWorkspace.WorldId;
	const QString Identifier = Sdk()->CurrWorkspace.WorldIdentifier;
	ASSERT_FALSE(WorldId.isEmpty());
	ASSERT_NE(WorldId, Other.value(QStringLiteral("id")).toString());
	ASSERT_NE(Panel->FindWorldTile(WorldId), nullptr);
	EXPECT_EQ(Panel->FindWorldTile(WorldId)->GetCaption()->text(), QStringLiteral("NewWorld"));
	EXPECT_FALSE(Panel->FindWorldTile(WorldId)->IsSpinning());
	QLineEdit* NameBox = Named<QLineEdit>(Panel, "WorldNameBox");
	EXPECT_EQ(QApplication::focusWidget(), NameBox);

	// Rename it with Enter: the service holds the name at once, long before any shutdown.
	const std::string WorldPath = "worlds/" + WorldId.toStdString();
	NameBox->selectAll();
	QTest::keyClicks(NameBox, QStringLiteral("Crystal Caves"));
	QTest::keyClick(NameBox, Qt::Key_Return);
	ASSERT_TRUE(Eventually(
	    [&] {
		    return ServiceObject(WorldPath).value(QStringLiteral("name")).toString() == QStringLiteral("Crystal Caves");
	    },
	    15000));
	Settle();
	EXPECT_EQ(Panel->GetTitleText()->text(), QStringLiteral("Crystal Caves"));
	EXPECT_EQ(Panel->FindWorldTile(WorldId)->GetCaption()->text(), QStringLiteral("Crystal Caves"));

	// Make it public: the service holds it and the tab shows it.
	QComboBox* Privacy = Named<QComboBox>(Panel, "PrivacyCombo");
	Privacy->setFocus();
	QTest::keyClick(Privacy, Qt::Key_Down);
	ASSERT_TRUE(
	    Eventually([&] { return !ServiceObject(WorldPath).value(QStringLiteral("private")).toBool(true); }, 15000));
	Settle();
	Panel->UpdateBoundState();
	EXPECT_EQ(Privacy->currentText(), QStringLiteral("Public"));
	EXPECT_EQ(Panel->FindWorldTile(WorldId)->GetBadge()->text(), QStringLiteral("Public"));

	// Add a screenshot: stored, not marked failed.
	Dialogs().QueueFileChoice({ShotFile});
	QTest::mouseClick(Named<QPushButton>(Panel, "AddScreenshotButton"), Qt::LeftButton);
	ASSERT_TRUE(Eventually(
	    [&] {
		    return ServiceObject(WorldPath + "/screenshots").value(QStringLiteral("screen_shots")).toArray().size() ==
		           1;
	    },
	    20000));
	Settle();
	ASSERT_EQ(Panel->GetScreenshotTiles().size(), 1);
	EXPECT_FALSE(Panel->GetScreenshotTiles().first()->IsFailed());
	EXPECT_FALSE(Panel->GetMessageBar()->isVisible());

	// Choose the entry map; its dependencies lie outside the world's folder and move in.
	Dialogs().QueueAnswer(EAppReturnType::Yes);
	auto* Picker = Named<SObjectPropertyEntryBox>(Panel, "EntryMapPicker");
	ASSERT_NE(Picker, nullptr);
	QTest::mouseClick(Named<QPushButton>(Picker, "ValueButton"), Qt::LeftButton);
	QListWidget* Assets = Picker->GetAssetList();
	QListWidgetItem* Entry = Assets->findItems(QStringLiteral("Entry"), Qt::MatchExactly).value(0);
	ASSERT_NE(Entry, nullptr);
	QTest::mouseClick(Assets->viewport(), Qt::LeftButton, {}, Assets->visualItemRect(Entry).center());
	QLabel* Progress = Named<QLabel>(Panel, "ProgressLabel");
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Progress->text() == QStringLiteral("Folders moved"); }, 60000))
	    << Progress->text().toStdString();
	ASSERT_EQ(Dialogs().ShownMessages().size(), 1);
	EXPECT_EQ(Dialogs().ShownMessages()[0].Title, QStringLiteral("Auto Move Folders To Correct Path"));
	EXPECT_TRUE(Project.Exists(QStringLiteral("TestProject/Content/%1/Maps/Entry.umap").arg(Identifier)));

	// Build: the paks come from the build program and are registered as the world's components.
	QPushButton* Build = Named<QPushButton>(Panel, "BuildButton");
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Build->isEnabled(); }, 5000));
	QTest::mouseClick(Build, Qt::LeftButton);
	const QString Output = Project.SavedDir() + QStringLiteral("HotPatcher/%1/Entry/").arg(Identifier);
	const QStringList Platforms{QStringLiteral("WindowsServer"), QStringLiteral("WindowsClient")};
	QHash<QString, QString> Components;
	ASSERT_TRUE(Eventually(
	    [&]
	    {
		    for (const QString& Platform : Platforms)
		    {
			    const QJsonObject Record =
			        QJsonDocument::fromJson(ReadText(Output + Platform + QStringLiteral("/Component.json")).toUtf8())
			            .object();
			    const QString Id = Record.value(QStringLiteral("ComponentId")).toString();
			    if (Id.isEmpty() ||
			        !QFileInfo::exists(Output + Platform + QLatin1Char('/') + Id + QStringLiteral(".pak")))
			    {
				    return false;
			    }
			    Components.insert(Platform, Id);
		    }
		    return true;
	    },
	    120000))
	    << Progress->text().toStdString();
	Settle();

	// Publish: both paks go to the store, and the tab says "Published" once the service has
	// confirmed both.
	QPushButton* Publish = Named<QPushButton>(Panel, "PublishButton");
	ASSERT_TRUE(Publish->isEnabled());
	QTest::mouseClick(Publish, Qt::LeftButton);
	EXPECT_EQ(Panel->GetMessageText()->text(), QStringLiteral("Publishing: uploading the built paks..."));
	const auto Complete = [&](const QString& Platform)
	{
		return ServiceObject("components/" + Components.value(Platform).toStdString())
		    .value(QStringLiteral("complete"))
		    .toBool();
	};
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&] { return Panel->GetMessageText()->text() != QStringLiteral("Publishing: uploading the built paks..."); },
	    60000));
	EXPECT_EQ(Panel->GetMessageText()->text(), QStringLiteral("Published"));
	EXPECT_EQ(Panel->GetMessageKind(), SOrvaEditorWorldView::EMessageKind::Success);
	EXPECT_TRUE(Complete(Platforms[0]) && Complete(Platforms[1]));

	// Build again without a change: the published components stay, and the tab says so.
	ASSERT_TRUE(Eventually(
	    [&]
	    {
		    return QJsonDocument::fromJson(ReadText(Output + QStringLiteral("Published.json")).toUtf8())
		               .object()
		               .value(QStringLiteral("Platforms"))
		               .toObject()
		               .size() == 2;
	    },
	    20000));
	ASSERT_TRUE(FGameThread::RunUntil([&] { return Build->isEnabled(); }, 5000));
	QTest::mouseClick(Build, Qt::LeftButton);
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&] { return Panel->GetMessageText()->text() == QStringLiteral("No changes since the last publish"); }, 120000))
	    << Panel->GetMessageText()->text().toStdString();
	EXPECT_EQ(Panel->GetMessageKind(), SOrvaEditorWorldView::EMessageKind::Success);
	for (const QString& Platform : Platforms)
	{
		EXPECT_EQ(QJsonDocument::fromJson(ReadText(Output + Platform + QStringLiteral("/Component.json")).toUtf8())
		              .object()
		              .value(QStringLiteral("ComponentId"))
		              .toString(),
		          Components.value(Platform));
	}
	Settle();

	// Launch: the client reads the service's address from the same user settings as the editor;
	// the tab says that it started.
	{
		const FScopedEnv ConfigHome("XDG_CONFIG_HOME", Project.UserSettingsDir().toUtf8());
		QTest::mouseClick(Named<QPushButton>(Panel, "LaunchButton"), Qt::LeftButton);
		EXPECT_EQ(Panel->GetMessageText()->text(), QStringLiteral("Launching ORVA: storing the server pak first..."));
		// It says that the client started, then what the client made of the world.
		EXPECT_TRUE(FGameThread::RunUntil(
		    [&] {
			    return Panel->GetMessageText()->text().startsWith(
			        QStringLiteral("The ORVA client has started on this build."));
		    },
		    60000))
		    << Panel->GetMessageText()->text().toStdString();
		EXPECT_TRUE(FGameThread::RunUntil(
		    [&]
		    {
			    return Panel->GetMessageText()->text().contains(
			        QStringLiteral("Its verdict: world %1 \"Crystal Caves\" can be played").arg(WorldId));
		    },
		    60000))
		    << Panel->GetMessageText()->text().toStdString();
		EXPECT_EQ(Panel->GetMessageKind(), SOrvaEditorWorldView::EMessageKind::Success);
		EXPECT_TRUE(Eventually(
		    [&] { return ReadText(Project.ClientLogFile()).contains(QStringLiteral("ORVAClient exits with")); },
		    60000));
	}
	Settle();

	// The store holds each pak as built, and the service counts it complete with the build's check code.
	const QString CheckCode =
	    QJsonDocument::fromJson(ReadText(Output + QStringLiteral("Entry_PakVersion.json")).toUtf8())
	        .object()
	        .value(QStringLiteral("CheckCode"))
	        .toString();
	EXPECT_FALSE(CheckCode.isEmpty());
	for (const QString& Platform : Platforms)
	{
		const QString Id = Components.value(Platform);
		QFile Pak(Output + Platform + QLatin1Char('/') + Id + QStringLiteral(".pak"));
		ASSERT_TRUE(Pak.open(QIODevice::ReadOnly));
		const QByteArray Local = Pak.readAll();
		const auto Stored = Store.GetObject(Bucket, WorldPath + "/" + Id.toStdString() + ".pak");
		ASSERT_EQ(Stored.Status, 200) << Platform.toStdString();
		EXPECT_EQ(Sha256(QByteArray::fromStdString(Stored.Body)), Sha256(Local)) << Platform.toStdString();
		const QJsonObject State = ServiceObject("components/" + Id.toStdString());
		EXPECT_TRUE(State.value(QStringLiteral("complete")).toBool()) << Platform.toStdString();
		EXPECT_EQ(State.value(QStringLiteral("size")).toInteger(), Local.size()) << Platform.toStdString();
		EXPECT_EQ(State.value(QStringLiteral("checksum")).toString(), CheckCode) << Platform.toStdString();
	}

	// The client played the moved level from the client pak.
	const QString ClientPak =
	    Output + QStringLiteral("WindowsClient/") + Components.value(Platforms[1]) + QStringLiteral(".pak");
	const QString ClientLog = ReadText(Project.ClientLogFile());
	EXPECT_TRUE(ClientLog.contains(QStringLiteral("Verdict: world %1 \"").arg(WorldId))) << ClientLog.toStdString();
	EXPECT_TRUE(ClientLog.contains(
	    QStringLiteral("\" can be played: level /Game/%1/Maps/Entry from %2\n").arg(Identifier, ClientPak)))
	    << ClientLog.toStdString();
	EXPECT_TRUE(ClientLog.contains(QStringLiteral("ORVAClient exits with 0"))) << ClientLog.toStdString();
	EXPECT_FALSE(ClientLog.contains(QString::fromStdString(Token)));
	EXPECT_FALSE(Dialogs().FirstUnanswered().has_value());
	EXPECT_EQ(Dialogs().ShownMessages().size(), 1);

	// Closing the editor still sends the world's details; the name stays the service's.
	Editor->Shutdown();
	Editor.reset();
	EXPECT_EQ(ServiceObject(WorldPath).value(QStringLiteral("name")).toString(), QStringLiteral("Crystal Caves"));
	EXPECT_EQ(ServiceObject("worlds/" + Other.value(QStringLiteral("id")).toString().toStdString())
	              .value(QStringLiteral("name"))
	              .toString(),
	          QStringLiteral("NewWorld"));
	EXPECT_FALSE(ServiceObject(WorldPath)
	                 .value(QStringLiteral("image"))
	                 .toObject()
	                 .value(QStringLiteral("id"))
	                 .toString()
	                 .isEmpty());
}
