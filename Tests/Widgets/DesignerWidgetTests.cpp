// The designer widgets: the level chooser remembers its level and tells of new
// choices only, the HotPatcher widget hosts the panel, both survive rebuilds of
// what they host, and the designer plugin offers both to Qt Designer and to
// forms loaded at run time.

#include "EditorFixture.h"

#include "ObjectPropertyEntryBox.h"
#include "OrvaHotPatcher.h"
#include "OrvaLevelChooser.h"
#include "PackageFile.h"
#include "SHotPatcher.h"

#include <QBuffer>
#include <QListWidget>
#include <QPluginLoader>
#include <QSignalSpy>
#include <QUiLoader>
#include <QtTest/QTest>
#include <QtUiPlugin/QDesignerCustomWidgetCollectionInterface>

namespace
{
// The chooser's operations that forms and the level editor call, opened up for
// the tests.
class FTestLevelChooser : public UOrvaLevelChooser
{
public:
	using UOrvaLevelChooser::ClearSection;
	using UOrvaLevelChooser::ClearSectionWhenMapChanged;
	using UOrvaLevelChooser::GetLevelPath;
	using UOrvaLevelChooser::IsNone;
	using UOrvaLevelChooser::SetSection;
};
} // namespace

class DesignerWidgets : public FEditorFixture
{
protected:
	std::unique_ptr<FTestLevelChooser> Chooser;
	std::unique_ptr<QSignalSpy> Choosen;

	void SetUp() override
	{
		for (const char* Name : {"Entry", "Arena"})
		{
			FPackageFile Level;
			Level.Assets.append({QLatin1String(Name), QStringLiteral("/Script/Engine.World"), QString()});
			ASSERT_TRUE(
			    Level.SaveToFile(Project.ContentDir() + QStringLiteral("Maps/%1.umap").arg(QLatin1String(Name))));
		}
		FPackageFile Mesh;
		Mesh.Assets.append({QStringLiteral("Crate"), QStringLiteral("/Script/Engine.StaticMesh"), QString()});
		ASSERT_TRUE(Mesh.SaveToFile(Project.ContentDir() + QStringLiteral("Props/Crate.uasset")));
		WriteSettings();
		StartEditor();
	}

	void TearDown() override
	{
		Choosen.reset();
		Chooser.reset();
		FEditorFixture::TearDown();
	}

	SObjectPropertyEntryBox* MakeChooser()
	{
		Chooser = std::make_unique<FTestLevelChooser>();
		Chooser->SetEditorHost(&Editor->Host());
		Chooser->resize(400, 40);
		Chooser->show();
		Choosen = std::make_unique<QSignalSpy>(Chooser.get(), &UOrvaLevelChooser::OnOrvaLevelChoosen);
		return Picker();
	}

	SObjectPropertyEntryBox* Picker() const
	{
		return qobject_cast<SObjectPropertyEntryBox*>(Chooser->GetCachedWidget());
	}

	// Picks in the picker as a creator does: open it, click the level.
	void Pick(const QString& LevelName)
	{
		SObjectPropertyEntryBox* Box = Picker();
		Box->OpenPicker();
		QListWidget* List = Box->GetAssetList();
		QListWidgetItem* Item = List->findItems(LevelName, Qt::MatchExactly).value(0);
		ASSERT_NE(Item, nullptr) << LevelName.toStdString();
		QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, List->visualItemRect(Item).center());
	}

	FSoftObjectPath Level(const char* Name) const
	{
		return FSoftObjectPath(QStringLiteral("/Game/Maps/%1.%1").arg(QLatin1String(Name)));
	}
};

TEST_F(DesignerWidgets, LevelChooserOffersLevelsOnlyAndTellsOfNewChoices)
{
	SObjectPropertyEntryBox* Box = MakeChooser();
	ASSERT_NE(Box, nullptr);
	EXPECT_TRUE(Chooser->IsNone());
	Box->OpenPicker();
	EXPECT_EQ(Box->GetListedObjectPaths(), QStringList({Level("Arena").ToString(), Level("Entry").ToString()}));
	Box->ClosePicker();

	Pick(QStringLiteral("Entry"));
	ASSERT_EQ(Choosen->count(), 1);
	EXPECT_EQ(Choosen->at(0).at(0).value<FSoftObjectPath>(), Level("Entry"));
	EXPECT_EQ(Chooser->ChosenLevelPath, Level("Entry"));
	EXPECT_FALSE(Chooser->IsNone());
	EXPECT_EQ(Box->GetObjectPath(), Level("Entry").ToString());

	// The same level again: nothing new to tell.
	Pick(QStringLiteral("Entry"));
	EXPECT_EQ(Choosen->count(), 1);
	Pick(QStringLiteral("Arena"));
	ASSERT_EQ(Choosen->count(), 2);
	EXPECT_EQ(Choosen->at(1).at(0).value<FSoftObjectPath>(), Level("Arena"));
}

TEST_F(DesignerWidgets, SetSectionThenPickingTheSameLevelTellsNothing)
{
	SObjectPropertyEntryBox* Box = MakeChooser();
	ASSERT_NE(Box, nullptr);
	Chooser->SetSection(Level("Entry"));
	EXPECT_EQ(Choosen->count(), 0);
	EXPECT_EQ(Box->GetObjectPath(), Level("Entry").ToString());
	Pick(QStringLiteral("Entry"));
	EXPECT_EQ(Choosen->count(), 0);
	Pick(QStringLiteral("Arena"));
	ASSERT_EQ(Choosen->count(), 1);
	EXPECT_EQ(Choosen->at(0).at(0).value<FSoftObjectPath>(), Level("Arena"));
}

TEST_F(DesignerWidgets, ClearingMakesIsNoneTrueSilently)
{
	SObjectPropertyEntryBox* Box = MakeChooser();
	ASSERT_NE(Box, nullptr);
	Pick(QStringLiteral("Entry"));
	ASSERT_EQ(Choosen->count(), 1);
	Chooser->ClearSection();
	EXPECT_TRUE(Chooser->IsNone());
	EXPECT_TRUE(Box->GetObjectPath().isEmpty());
	// Choosing the level again after a clear is a new choice.
	Pick(QStringLiteral("Entry"));
	EXPECT_EQ(Choosen->count(), 2);

	Chooser->ClearSectionWhenMapChanged(nullptr, EMapChangeType::LoadMap);
	EXPECT_TRUE(Chooser->IsNone());
	EXPECT_TRUE(Box->GetObjectPath().isEmpty());
	EXPECT_EQ(Choosen->count(), 2);

	// The picker's own Clear stores the empty path without telling.
	Pick(QStringLiteral("Arena"));
	ASSERT_EQ(Choosen->count(), 3);
	Box->OpenPicker();
	QTest::mouseClick(Box->GetClearButton(), Qt::LeftButton);
	EXPECT_TRUE(Chooser->IsNone());
	EXPECT_TRUE(Chooser->GetLevelPath().isEmpty());
	EXPECT_EQ(Choosen->count(), 3);

	// "None" names no package.
	Chooser->SetSection(FSoftObjectPath(QStringLiteral("None")));
	EXPECT_TRUE(Chooser->IsNone());
}

TEST_F(DesignerWidgets, ALevelThatNoLongerLoadsIsStoredWithoutTelling)
{
	SObjectPropertyEntryBox* Box = MakeChooser();
	ASSERT_NE(Box, nullptr);
	Box->OpenPicker();
	// Gone from disk after the registry listed it.
	ASSERT_TRUE(QFile::remove(Project.ContentDir() + QStringLiteral("Maps/Arena.umap")));
	Box->ClosePicker();
	Pick(QStringLiteral("Arena"));
	EXPECT_EQ(Choosen->count(), 0);
	EXPECT_EQ(Chooser->ChosenLevelPath, Level("Arena"));
}

TEST_F(DesignerWidgets, ChoiceAndListenersSurviveRebuilds)
{
	MakeChooser();
	Pick(QStringLiteral("Entry"));
	QWidget* First = Chooser->GetCachedWidget();
	QPointer<QWidget> Old = First;
	SObjectPropertyEntryBox* Box = qobject_cast<SObjectPropertyEntryBox*>(Chooser->RebuildNow());
	ASSERT_NE(Box, nullptr);
	EXPECT_NE(Box, First);
	QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
	EXPECT_TRUE(Old.isNull());
	EXPECT_EQ(Box->GetObjectPath(), Level("Entry").ToString());
	Pick(QStringLiteral("Entry"));
	EXPECT_EQ(Choosen->count(), 1);
	Pick(QStringLiteral("Arena"));
	EXPECT_EQ(Choosen->count(), 2);
}

TEST_F(DesignerWidgets, HotPatcherWidgetHostsAFreshPanelPerBuild)
{
	// Placed in one of the editor's tabs, it finds the editor through the window; content built
	// before it was placed there is built again.
	auto* Tab = new SDockTab();
	auto* Widget = new UOrvaHotPatcher();
	ASSERT_NE(Widget->TakeWidget(), nullptr);
	Tab->SetContent(Widget);
	Window().addDockWidget(Qt::LeftDockWidgetArea, Tab);
	Tab->show();
	FGameThread::RunUntilIdle(20);
	auto* Panel = qobject_cast<SHotPatcher*>(Widget->GetCachedWidget());
	ASSERT_NE(Panel, nullptr);
	EXPECT_EQ(Widget->GetEditorHost(), &Editor->Host());
	EXPECT_TRUE(Panel->GetBuildButton()->isEnabled());
	auto* Again = qobject_cast<SHotPatcher*>(Widget->RebuildNow());
	ASSERT_NE(Again, nullptr);
	EXPECT_NE(Again, Panel);
	delete Tab;

	// Outside an editor: a panel that saves but does not build.
	UOrvaHotPatcher Alone;
	Alone.show();
	auto* Lone = qobject_cast<SHotPatcher*>(Alone.GetCachedWidget());
	ASSERT_NE(Lone, nullptr);
	EXPECT_FALSE(Lone->GetBuildButton()->isEnabled());
}

TEST(DesignerPlugin, OffersBothWidgetsToDesignerAndLoadsThemInForms)
{
	QPluginLoader Plugin(QStringLiteral(ORVA_DESIGNER_PLUGIN));
	ASSERT_TRUE(Plugin.load()) << Plugin.errorString().toStdString();
	EXPECT_EQ(Plugin.metaData().value(QStringLiteral("IID")).toString(),
	          QStringLiteral("org.qt-project.Qt.QDesignerCustomWidgetCollectionInterface"));
	auto* Collection = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(Plugin.instance());
	ASSERT_NE(Collection, nullptr);
	QStringList Names;
	for (QDesignerCustomWidgetInterface* Widget : Collection->customWidgets())
	{
		Names.append(Widget->name());
		EXPECT_EQ(Widget->group(), QStringLiteral("OrvaSDK"));
		EXPECT_EQ(Widget->includeFile(), Widget->name().mid(1) + QStringLiteral(".h"));
		EXPECT_FALSE(Widget->isContainer());
		EXPECT_TRUE(Widget->domXml().contains(QStringLiteral("class=\"%1\"").arg(Widget->name())));
		// The widget Designer places: of that class, a native-widget host, built
		// when shown.
		QWidget Parent;
		QWidget* Made = Widget->createWidget(&Parent);
		ASSERT_NE(Made, nullptr);
		EXPECT_EQ(QString::fromLatin1(Made->metaObject()->className()), Widget->name());
		EXPECT_EQ(QString::fromLatin1(Made->metaObject()->superClass()->className()),
		          QStringLiteral("UNativeWidgetHost"));
		EXPECT_EQ(Made->parentWidget(), &Parent);
	}
	EXPECT_EQ(Names, QStringList({QStringLiteral("UOrvaHotPatcher"), QStringLiteral("UOrvaLevelChooser")}));

	// A form that places both, as Designer saves it.
	QByteArray Form = R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0">
 <class>PublishForm</class>
 <widget class="QWidget" name="PublishForm">
  <layout class="QVBoxLayout" name="Layout">
   <item><widget class="UOrvaLevelChooser" name="levelChooser"/></item>
   <item><widget class="UOrvaHotPatcher" name="hotPatcher"/></item>
  </layout>
 </widget>
 <customwidgets>
  <customwidget><class>UOrvaLevelChooser</class><extends>QWidget</extends><header>OrvaLevelChooser.h</header></customwidget>
  <customwidget><class>UOrvaHotPatcher</class><extends>QWidget</extends><header>OrvaHotPatcher.h</header></customwidget>
 </customwidgets>
</ui>
)";
	QBuffer Buffer(&Form);
	QUiLoader Loader;
	Loader.clearPluginPaths();
	Loader.addPluginPath(QFileInfo(QStringLiteral(ORVA_DESIGNER_PLUGIN)).absolutePath());
	EXPECT_TRUE(Loader.availableWidgets().contains(QStringLiteral("UOrvaLevelChooser")));
	std::unique_ptr<QWidget> Loaded(Loader.load(&Buffer));
	ASSERT_NE(Loaded, nullptr) << Loader.errorString().toStdString();
	QWidget* Chooser = Loaded->findChild<QWidget*>(QStringLiteral("levelChooser"));
	QWidget* Patcher = Loaded->findChild<QWidget*>(QStringLiteral("hotPatcher"));
	ASSERT_NE(Chooser, nullptr);
	ASSERT_NE(Patcher, nullptr);
	EXPECT_STREQ(Chooser->metaObject()->className(), "UOrvaLevelChooser");
	EXPECT_STREQ(Patcher->metaObject()->className(), "UOrvaHotPatcher");
	Loaded->show();
	FGameThread::RunUntilIdle(20);
	// Outside the editor the chooser says why it lists nothing; the panel is
	// there.
	EXPECT_NE(Chooser->findChild<QWidget*>(QStringLiteral("NoEditorText")), nullptr);
	EXPECT_NE(Patcher->findChild<QWidget*>(QStringLiteral("SHotPatcher")), nullptr);
	EXPECT_TRUE(Chooser->metaObject()->indexOfSignal("OnOrvaLevelChoosen(FSoftObjectPath)") >= 0);
	EXPECT_TRUE(Chooser->metaObject()->indexOfMethod("ClearSection()") >= 0);
	EXPECT_TRUE(Chooser->metaObject()->indexOfMethod("IsNone()") >= 0);
	bool bNone = false;
	EXPECT_TRUE(QMetaObject::invokeMethod(Chooser, "IsNone", Q_RETURN_ARG(bool, bNone)));
	EXPECT_TRUE(bNone);
}
