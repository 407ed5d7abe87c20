// The packaging panel in the editor: its tab opens once and comes to front, it shows the settings
// the plugin fills, saves what the commandlet reads back, refuses bad rows without writing, and
// runs builds as processes whose state and output it lists.

#include "EditorFixture.h"

#include "HotPatcherEditor.h"
#include "HotPatcherEditorTab.h"
#include "PackageFile.h"
#include "SHotPatcher.h"
#include "SerializeStructJson.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTableWidget>
#include <QtTest/QTest>

namespace
{
QString Json(const FExportPatchSettings& Settings)
{
	QString Text;
	TSerializeStructAsJsonString(Settings, Text);
	return Text;
}

QStringList CheckedPlatforms(const QListWidget* List)
{
	QStringList Names;
	for (int Index = 0; Index < List->count(); ++Index)
	{
		if (List->item(Index)->checkState() == Qt::Checked)
		{
			Names.append(List->item(Index)->text());
		}
	}
	return Names;
}

void SetChecked(QListWidget* List, const QString& Name, bool bChecked)
{
	for (QListWidgetItem* Item : List->findItems(Name, Qt::MatchExactly))
	{
		Item->setCheckState(bChecked ? Qt::Checked : Qt::Unchecked);
	}
}

void SetCell(QTableWidget* Table, int Row, int Column, const QString& Text)
{
	if (!Table->item(Row, Column))
	{
		Table->setItem(Row, Column, new QTableWidgetItem());
	}
	Table->item(Row, Column)->setText(Text);
}
} // namespace

class HotPatcherPanel : public FEditorFixture
{
protected:
	const FSoftObjectPath Entry{QStringLiteral("/Game/Maps/Entry.Entry")};

	void WriteLevel(const QString& Name)
	{
		FPackageFile Level;
		Level.Assets.append({Name, QStringLiteral("/Script/Engine.World"), QString()});
		ASSERT_TRUE(Level.SaveToFile(Project.ContentDir() + QStringLiteral("Maps/") + Name + QStringLiteral(".umap")));
	}

	SHotPatcher* OpenPanel()
	{
		Sdk()->OpenHotPatcher();
		FGameThread::RunUntilIdle(50);
		SDockTab* Tab = Services().TabManager().FindExistingLiveTab(FHotPatcherEditorTab::TabName());
		return Tab ? Tab->findChild<SHotPatcher*>() : nullptr;
	}

	int MissionRow(SHotPatcher* Panel, const QString& Name) const
	{
		QTableWidget* Table = Panel->GetMissionTable();
		for (int Row = Table->rowCount() - 1; Row >= 0; --Row)
		{
			if (Table->item(Row, 0)->text() == Name)
			{
				return Row;
			}
		}
		return -1;
	}

	QString MissionState(SHotPatcher* Panel, int Row) const { return Panel->GetMissionTable()->item(Row, 1)->text(); }
};

TEST_F(HotPatcherPanel, OpenHotPatcherTwiceFocusesOneTab)
{
	WriteSettings();
	StartEditor();
	// Listed in the Window menu too, under its own name.
	QAction* MenuEntry = Window().FindWindowMenuAction(FHotPatcherEditorTab::TabName());
	ASSERT_NE(MenuEntry, nullptr);
	EXPECT_EQ(MenuEntry->text(), QStringLiteral("HotPatcher"));

	SHotPatcher* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	SDockTab* Tab = Services().TabManager().FindExistingLiveTab(FHotPatcherEditorTab::TabName());
	EXPECT_EQ(Tab->windowTitle(), QStringLiteral("HotPatcher"));
	EXPECT_EQ(Tab->parentWidget(), &Window());

	Services().TabManager().TryInvokeTab(SLevelEditorWindow::OutputLogTabId());
	FGameThread::RunUntilIdle(50);
	EXPECT_FALSE(Tab->IsForeground());
	EXPECT_EQ(OpenPanel(), Panel);
	EXPECT_TRUE(Tab->IsForeground());
	EXPECT_EQ(Window().findChildren<SHotPatcher*>().size(), 1);
	EXPECT_FALSE(Log.Contains(QStringLiteral("No tab \"HotPatcher\"")));

	// Closed, it opens anew with a fresh panel.
	Tab->close();
	FGameThread::RunUntilIdle(50);
	SHotPatcher* Again = OpenPanel();
	ASSERT_NE(Again, nullptr);
	int LiveTabs = 0;
	for (const SDockTab* Live : Services().TabManager().GetLiveTabs())
	{
		LiveTabs += Live->GetLayoutIdentifier() == FHotPatcherEditorTab::TabName() ? 1 : 0;
	}
	EXPECT_EQ(LiveTabs, 1);
}

TEST_F(HotPatcherPanel, ShowsTheSettingsThePluginFilled)
{
	WriteSettings();
	StartEditor();
	Sdk()->UpdateHotPatcherSettings(QStringLiteral("Entry"), Entry);
	SHotPatcher* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	EXPECT_EQ(&Panel->GetSettingsObject(), GPatchSettings);
	EXPECT_EQ(Panel->GetVersionIdText()->text(), QStringLiteral("Entry"));
	// In the build's order, first in the list.
	EXPECT_EQ(CheckedPlatforms(Panel->GetPlatformList()),
	          QStringList({QStringLiteral("WindowsServer"), QStringLiteral("WindowsClient")}));
	EXPECT_EQ(Panel->GetPlatformList()->item(0)->text(), QStringLiteral("WindowsServer"));
	EXPECT_EQ(Panel->GetAssetTable()->rowCount(), 2);
	EXPECT_EQ(Panel->GetAssetTable()->item(0, 0)->text(), Entry.ToString());
	EXPECT_TRUE(Panel->GetByBaseVersionCheck()->isChecked());
	EXPECT_EQ(Panel->GetBaseVersionText()->text(), QStringLiteral("../../../ORVAClient/Versions/version.json"));
	// Server: config folder; client: extend folder, then config folder.
	QTableWidget* Extern = Panel->GetExternTable();
	ASSERT_EQ(Extern->rowCount(), 3);
	EXPECT_EQ(Extern->item(0, 0)->text(), QStringLiteral("WindowsServer"));
	EXPECT_TRUE(Extern->item(0, 2)->text().endsWith(QStringLiteral("/Config")));
	EXPECT_TRUE(Extern->item(1, 2)->text().endsWith(QStringLiteral("/ExtendFiles")));
	EXPECT_EQ(Extern->item(1, 3)->text(), QStringLiteral("../../../ORVAClient"));

	// Unchanged, the form is the settings object exactly; a later fill shows on Reload.
	FExportPatchSettings Form;
	QString Error;
	ASSERT_TRUE(Panel->ReadForm(Form, Error)) << Error.toStdString();
	EXPECT_EQ(Json(Form), Json(*GPatchSettings));
	Sdk()->UpdateHotPatcherSettings(QStringLiteral("Arena"), FSoftObjectPath(QStringLiteral("/Game/Maps/Arena.Arena")));
	EXPECT_EQ(Panel->GetVersionIdText()->text(), QStringLiteral("Entry"));
	QTest::mouseClick(Panel->GetReloadButton(), Qt::LeftButton);
	EXPECT_EQ(Panel->GetVersionIdText()->text(), QStringLiteral("Arena"));
}

TEST_F(HotPatcherPanel, SaveWritesWhatTheCommandletReadsBack)
{
	WriteSettings();
	StartEditor();
	Sdk()->UpdateHotPatcherSettings(QStringLiteral("Entry"), Entry);
	// An element with a file and two folders, which the form shows as three rows of one element.
	FPlatformExternAssets Mixed;
	Mixed.TargetPlatform = ETargetPlatform::WindowsClient;
	Mixed.AddExternFileToPak.append(
	    {QStringLiteral("/p/readme.txt"), QStringLiteral("../../../ORVAClient/readme.txt")});
	Mixed.AddExternDirectoryToPak.append(
	    {QStringLiteral("/p/A"), QStringLiteral("../../../A"), true, QStringLiteral("*.ini")});
	Mixed.AddExternDirectoryToPak.append({QStringLiteral("/p/B"), QStringLiteral("../../../B"), false, QString()});
	GPatchSettings->GetAddExternAssetsToPlatform().append(Mixed);
	GPatchSettings->AdditionalCommandletArgs = {QStringLiteral("-a=\"b c\""), QStringLiteral("-NoShaderCompile")};
	SHotPatcher* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);

	// Unchanged settings save as they are.
	const QString Unchanged = Project.RootDir() + QStringLiteral("Unchanged.json");
	QString Error;
	ASSERT_TRUE(Panel->SaveSettingsFile(Unchanged, Error)) << Error.toStdString();
	QFile UnchangedFile(Unchanged);
	ASSERT_TRUE(UnchangedFile.open(QIODevice::ReadOnly));
	FExportPatchSettings ReadUnchanged;
	ASSERT_TRUE(TDeserializeJsonStringAsStruct(QString::fromUtf8(UnchangedFile.readAll()), ReadUnchanged, &Error));
	EXPECT_EQ(Json(ReadUnchanged), Json(*GPatchSettings));
	ASSERT_EQ(ReadUnchanged.AddExternAssetsToPlatform.size(), 4);
	EXPECT_EQ(ReadUnchanged.AddExternAssetsToPlatform[3].AddExternDirectoryToPak.size(), 2);
	EXPECT_EQ(ReadUnchanged.AddExternAssetsToPlatform[3].AddExternDirectoryToPak[0].WildcardFilter,
	          QStringLiteral("*.ini"));

	// Edited: another version, the server only, one more asset, a folder's mount point.
	Panel->GetVersionIdText()->setText(QStringLiteral("Edited"));
	SetChecked(Panel->GetPlatformList(), QStringLiteral("WindowsClient"), false);
	QTest::mouseClick(Panel->findChild<QPushButton*>(QStringLiteral("SpecifyAssetsAdd")), Qt::LeftButton);
	SetCell(Panel->GetAssetTable(), 2, 0, QStringLiteral("/Game/Maps/Arena.Arena"));
	SetCell(Panel->GetExternTable(), 0, 3, QStringLiteral("../../../Elsewhere"));
	Panel->GetConfigPathText()->setText(Project.RootDir() + QStringLiteral("Out/Edited_PatchConfig.json"));
	QTest::mouseClick(Panel->GetSaveButton(), Qt::LeftButton);
	EXPECT_TRUE(Panel->GetStatusText()->text().startsWith(QStringLiteral("Saved")))
	    << Panel->GetStatusText()->text().toStdString();

	QFile File(Project.RootDir() + QStringLiteral("Out/Edited_PatchConfig.json"));
	ASSERT_TRUE(File.open(QIODevice::ReadOnly));
	FExportPatchSettings Read;
	ASSERT_TRUE(TDeserializeJsonStringAsStruct(QString::fromUtf8(File.readAll()), Read, &Error)) << Error.toStdString();
	FExportPatchSettings Form;
	ASSERT_TRUE(Panel->ReadForm(Form, Error));
	EXPECT_EQ(Json(Read), Json(Form));
	EXPECT_EQ(Read.VersionId, QStringLiteral("Edited"));
	EXPECT_EQ(Read.PakTargetPlatforms, QList<ETargetPlatform>{ETargetPlatform::WindowsServer});
	ASSERT_EQ(Read.IncludeSpecifyAssets.size(), 3);
	EXPECT_EQ(Read.IncludeSpecifyAssets[2].Asset.ToString(), QStringLiteral("/Game/Maps/Arena.Arena"));
	EXPECT_EQ(Read.IncludeSpecifyAssets[2].AssetRegistryDependencyTypes,
	          QList<EAssetRegistryDependencyTypeEx>{EAssetRegistryDependencyTypeEx::Packages});
	EXPECT_EQ(Read.AddExternAssetsToPlatform[0].AddExternDirectoryToPak[0].MountPoint,
	          QStringLiteral("../../../Elsewhere"));
	EXPECT_EQ(Read.AdditionalCommandletArgs, GPatchSettings->AdditionalCommandletArgs);
	// Saving applies the form to the settings the plugin builds from.
	EXPECT_EQ(GPatchSettings->VersionId, QStringLiteral("Edited"));

	// Loading a settings file shows it; a malformed one changes nothing.
	ASSERT_TRUE(Panel->LoadSettingsFile(Unchanged, Error)) << Error.toStdString();
	EXPECT_EQ(Panel->GetVersionIdText()->text(), QStringLiteral("Entry"));
	ASSERT_TRUE(Project.WriteFile(QStringLiteral("Bad.json"), "{\"VersionId\": 7}"));
	EXPECT_FALSE(Panel->LoadSettingsFile(Project.RootDir() + QStringLiteral("Bad.json"), Error));
	EXPECT_TRUE(Error.contains(QStringLiteral("VersionId"))) << Error.toStdString();
	EXPECT_EQ(Panel->GetVersionIdText()->text(), QStringLiteral("Entry"));
}

TEST_F(HotPatcherPanel, BadRowsAreRefusedAndNothingIsWritten)
{
	WriteSettings();
	StartEditor();
	Sdk()->UpdateHotPatcherSettings(QStringLiteral("Entry"), Entry);
	const QString Before = Json(*GPatchSettings);
	SHotPatcher* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	const QString Path = Project.RootDir() + QStringLiteral("Refused.json");
	Panel->GetConfigPathText()->setText(Path);

	SetCell(Panel->GetExternTable(), 1, 0, QStringLiteral("Playstation"));
	QTest::mouseClick(Panel->GetSaveButton(), Qt::LeftButton);
	EXPECT_TRUE(Panel->GetStatusText()->text().contains(QStringLiteral("row 2")));
	EXPECT_TRUE(Panel->GetStatusText()->text().contains(QStringLiteral("Playstation")));
	SetCell(Panel->GetExternTable(), 1, 0, QStringLiteral("WindowsClient"));

	SetCell(Panel->GetAssetTable(), 0, 0, QStringLiteral("Maps/Entry"));
	QString Error;
	EXPECT_FALSE(Panel->SaveSettingsFile(Path, Error));
	EXPECT_TRUE(Error.contains(QStringLiteral("Maps/Entry"))) << Error.toStdString();
	SetCell(Panel->GetAssetTable(), 0, 0, Entry.ToString());

	// A version id becomes file and folder names: a path is no version id.
	Panel->GetVersionIdText()->setText(QStringLiteral("../../Escape"));
	Panel->GetConfigPathText()->clear();
	EXPECT_EQ(Panel->StartBuild(Error), nullptr);
	EXPECT_TRUE(Error.contains(QStringLiteral("version id"))) << Error.toStdString();

	EXPECT_FALSE(QFile::exists(Path));
	EXPECT_FALSE(QFile::exists(Project.SavedDir() + QStringLiteral("HotPatcher")));
	EXPECT_EQ(Json(*GPatchSettings), Before);
	EXPECT_TRUE(FHotPatcherEditorModule::Get().GetRunningMissions().isEmpty());
}

TEST_F(HotPatcherPanel, BuildRunsAsAProcessAndListsItsStateAndOutput)
{
	WriteLevel(QStringLiteral("Entry"));
	WriteSettings();
	StartEditor();
	SHotPatcher* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	Panel->GetVersionIdText()->setText(QStringLiteral("Entry"));
	SetChecked(Panel->GetPlatformList(), QStringLiteral("WindowsServer"), true);
	QTest::mouseClick(Panel->findChild<QPushButton*>(QStringLiteral("SpecifyAssetsAdd")), Qt::LeftButton);
	SetCell(Panel->GetAssetTable(), 0, 0, Entry.ToString());
	Panel->GetCustomPakNameCheck()->setChecked(true);
	Panel->GetPakNameRuleText()->setText(QStringLiteral("{VERSION}_{PLATFORM}"));

	QElapsedTimer Clicked;
	Clicked.start();
	QTest::mouseClick(Panel->GetBuildButton(), Qt::LeftButton);
	// The click only starts the process.
	EXPECT_LT(Clicked.elapsed(), 2000);
	const int Row = MissionRow(Panel, QStringLiteral("Entry"));
	ASSERT_GE(Row, 0) << Panel->GetStatusText()->text().toStdString();
	EXPECT_EQ(MissionState(Panel, Row), QStringLiteral("Running"));
	EXPECT_TRUE(Panel->GetCancelButton()->isEnabled());
	EXPECT_TRUE(QFile::exists(Project.SavedDir() + QStringLiteral("HotPatcher/Entry_PatchConfig.json")));

	ASSERT_TRUE(FGameThread::RunUntil([&] { return MissionState(Panel, Row) != QStringLiteral("Running"); }, 60000));
	EXPECT_EQ(MissionState(Panel, Row), QStringLiteral("Succeeded"))
	    << Panel->GetMissionTable()->item(Row, 3)->text().toStdString();
	EXPECT_EQ(Panel->GetMissionTable()->item(Row, 2)->text(), QStringLiteral("100%"));
	EXPECT_FALSE(Panel->GetMissionOutput()->toPlainText().trimmed().isEmpty());
	EXPECT_FALSE(Panel->GetCancelButton()->isEnabled());
	EXPECT_TRUE(
	    QFile::exists(Project.SavedDir() + QStringLiteral("HotPatcher/Entry/WindowsServer/Entry_WindowsServer.pak")));

	// A build of a level that is not there fails, and the panel says why.
	Panel->GetVersionIdText()->setText(QStringLiteral("Missing"));
	SetCell(Panel->GetAssetTable(), 0, 0, QStringLiteral("/Game/Maps/Missing.Missing"));
	QString Error;
	ASSERT_NE(Panel->StartBuild(Error), nullptr) << Error.toStdString();
	const int Failed = MissionRow(Panel, QStringLiteral("Missing"));
	ASSERT_GT(Failed, Row);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return MissionState(Panel, Failed) != QStringLiteral("Running"); }, 60000));
	EXPECT_EQ(MissionState(Panel, Failed), QStringLiteral("Failed"));
	const QString Reason = Panel->GetMissionTable()->item(Failed, 3)->text();
	EXPECT_FALSE(Reason.isEmpty());
	EXPECT_TRUE(Panel->GetMissionOutput()->toPlainText().contains(Reason));

	// Selecting the first mission shows its output again.
	Panel->GetMissionTable()->selectRow(Row);
	EXPECT_FALSE(Panel->GetMissionOutput()->toPlainText().contains(Reason));
}

TEST_F(HotPatcherPanel, ListsThePluginsBuildsToo)
{
	WriteSettings();
	StartEditor();
	SHotPatcher* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	const FProcWorkerThreadPtr Worker = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/bin/sh"), QStringLiteral("-c \"echo first; echo 'Packaging progress: 50%'; exit 3\""),
	    QStringLiteral("Other"));
	const int Row = MissionRow(Panel, QStringLiteral("Other"));
	ASSERT_GE(Row, 0);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return MissionState(Panel, Row) == QStringLiteral("Failed"); }, 20000));
	EXPECT_EQ(Panel->GetMissionTable()->item(Row, 2)->text(), QStringLiteral("50%"));
	EXPECT_TRUE(Panel->GetMissionOutput()->toPlainText().contains(QStringLiteral("first")));
}

TEST(EditorHostTabs, TabsOpenByIdOnlyWhileTheEditorsServicesLive)
{
	FTestProject Project;
	FEditorHostOptions Options;
	Options.ProjectFile = Project.ProjectFile();
	Options.UserSettingsDir = Project.UserSettingsDir();
	Options.bLogToFile = false;
	FEditorHost Host(Options);
	// A host without a front end has no tabs.
	EXPECT_FALSE(Host.TryInvokeTab(FHotPatcherEditorTab::TabName()));
	{
		FEditorServices Services(&Host);
		EXPECT_FALSE(Host.TryInvokeTab(FHotPatcherEditorTab::TabName()));
		FHotPatcherEditorTab Tab(Services);
		Tab.StartupModule();
		EXPECT_TRUE(Host.TryInvokeTab(FHotPatcherEditorTab::TabName()));
		ASSERT_NE(Services.TabManager().FindExistingLiveTab(FHotPatcherEditorTab::TabName()), nullptr);
		EXPECT_NE(Services.TabManager().FindExistingLiveTab(FHotPatcherEditorTab::TabName())->findChild<SHotPatcher*>(),
		          nullptr);
		Tab.ShutdownModule();
		EXPECT_EQ(Services.TabManager().FindExistingLiveTab(FHotPatcherEditorTab::TabName()), nullptr);
		EXPECT_FALSE(Host.TryInvokeTab(FHotPatcherEditorTab::TabName()));
		Tab.StartupModule();
	}
	// The services went first: asking again reaches nothing that is gone.
	EXPECT_FALSE(Host.TryInvokeTab(FHotPatcherEditorTab::TabName()));
}

TEST_F(HotPatcherPanel, ASecondBuildOfARunningVersionIsRefusedAndCancelStopsIt)
{
	WriteLevel(QStringLiteral("Entry"));
	WriteSettings();
	StartEditor();
	Sdk()->UpdateHotPatcherSettings(QStringLiteral("Entry"), Entry);
	SHotPatcher* Panel = OpenPanel();
	ASSERT_NE(Panel, nullptr);
	// A build of Entry that takes its time.
	const FProcWorkerThreadPtr Running = FHotPatcherEditorModule::Get().RunProcMission(
	    QStringLiteral("/bin/sh"), QStringLiteral("-c \"echo started; sleep 30\""), QStringLiteral("Entry"));
	const int Row = MissionRow(Panel, QStringLiteral("Entry"));
	ASSERT_GE(Row, 0);
	ASSERT_TRUE(FGameThread::RunUntil(
	    [&] { return Panel->GetMissionOutput()->toPlainText().contains(QStringLiteral("started")); }, 10000));

	QTest::mouseClick(Panel->GetBuildButton(), Qt::LeftButton);
	EXPECT_TRUE(Panel->GetStatusText()->text().contains(QStringLiteral("running")))
	    << Panel->GetStatusText()->text().toStdString();
	EXPECT_EQ(Panel->GetMissionTable()->rowCount(), Row + 1);
	EXPECT_FALSE(QFile::exists(Project.SavedDir() + QStringLiteral("HotPatcher/Entry_PatchConfig.json")));

	Panel->GetMissionTable()->selectRow(Row);
	ASSERT_TRUE(Panel->GetCancelButton()->isEnabled());
	QElapsedTimer Timer;
	Timer.start();
	QTest::mouseClick(Panel->GetCancelButton(), Qt::LeftButton);
	ASSERT_TRUE(FGameThread::RunUntil([&] { return MissionState(Panel, Row) == QStringLiteral("Failed"); }, 10000));
	EXPECT_LT(Timer.elapsed(), 10000);
	EXPECT_TRUE(Panel->GetMissionTable()->item(Row, 3)->text().contains(QStringLiteral("cancelled")));
	EXPECT_FALSE(Panel->GetCancelButton()->isEnabled());
}
