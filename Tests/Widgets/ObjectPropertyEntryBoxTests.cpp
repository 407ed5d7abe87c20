#include "AssetRegistry.h"
#include "EditorHost.h"
#include "GameThread.h"
#include "ObjectClasses.h"
#include "ObjectPropertyEntryBox.h"
#include "TestProject.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest/QTest>

#include <gtest/gtest.h>

#include <memory>

namespace
{
QByteArray PackageJson(const QString& AssetName, const QString& ClassPath)
{
	return QStringLiteral("{\"Assets\":[{\"Class\":\"%1\",\"Name\":\"%2\"}],\"OrvaPackage\":1}\n")
	    .arg(ClassPath, AssetName)
	    .toUtf8();
}
} // namespace

class ObjectPropertyEntryBox : public ::testing::Test
{
protected:
	FTestProject Project;
	std::unique_ptr<FEditorHost> Host;
	QString Value;

	void SetUp() override
	{
		const QString World = QStringLiteral("/Script/Engine.World");
		Project.WriteFile(QStringLiteral("TestProject/Content/Maps/Entry.umap"),
		                  PackageJson(QStringLiteral("Entry"), World));
		Project.WriteFile(QStringLiteral("TestProject/Content/Maps/Arena.umap"),
		                  PackageJson(QStringLiteral("Arena"), World));
		Project.WriteFile(QStringLiteral("TestProject/Content/Other/Zoo.umap"),
		                  PackageJson(QStringLiteral("Zoo"), World));
		Project.WriteFile(QStringLiteral("TestProject/Content/Props/Crate.uasset"),
		                  PackageJson(QStringLiteral("Crate"), QStringLiteral("/Script/Engine.StaticMesh")));
		FEditorHostOptions Options;
		Options.ProjectFile = Project.ProjectFile();
		Options.UserSettingsDir = Project.UserSettingsDir();
		Options.bLogToFile = false;
		Host = std::make_unique<FEditorHost>(Options);
		Host->Start();
	}

	void TearDown() override { Host->Shutdown(); }

	std::unique_ptr<SObjectPropertyEntryBox> MakeBox()
	{
		SObjectPropertyEntryBox::FArguments Args;
		Args.AllowedClass = UWorld::StaticClass();
		Args.ObjectPath = [this] { return Value; };
		auto Box = std::make_unique<SObjectPropertyEntryBox>(Host->AssetRegistry(), Args);
		Box->resize(400, 40);
		Box->show();
		return Box;
	}
};

TEST_F(ObjectPropertyEntryBox, ListsOnlyAssetsOfTheClassAndSearchNarrowsThem)
{
	auto Box = MakeBox();
	Box->OpenPicker();
	EXPECT_TRUE(Box->IsPickerOpen());
	EXPECT_EQ(Box->GetListedObjectPaths(),
	          QStringList({QStringLiteral("/Game/Maps/Arena.Arena"), QStringLiteral("/Game/Maps/Entry.Entry"),
	                       QStringLiteral("/Game/Other/Zoo.Zoo")}));
	QTest::keyClicks(Box->GetSearchBox(), QStringLiteral("ENT"));
	EXPECT_EQ(Box->GetListedObjectPaths(), QStringList{QStringLiteral("/Game/Maps/Entry.Entry")});
	// The folder counts too.
	Box->GetSearchBox()->setText(QStringLiteral("other"));
	EXPECT_EQ(Box->GetListedObjectPaths(), QStringList{QStringLiteral("/Game/Other/Zoo.Zoo")});

	// A package added since the last opening is offered the next time.
	Project.WriteFile(QStringLiteral("TestProject/Content/Maps/Later.umap"),
	                  PackageJson(QStringLiteral("Later"), QStringLiteral("/Script/Engine.World")));
	Host->AssetRegistry().ScanPathsSynchronous({QStringLiteral("/Game/Maps")}, true);
	Box->ClosePicker();
	Box->OpenPicker();
	EXPECT_TRUE(Box->GetSearchBox()->text().isEmpty());
	EXPECT_TRUE(Box->GetListedObjectPaths().contains(QStringLiteral("/Game/Maps/Later.Later")));
}

TEST_F(ObjectPropertyEntryBox, PickingReportsTheAssetAndClearingReportsNone)
{
	auto Box = MakeBox();
	QSignalSpy Changed(Box.get(), &SObjectPropertyEntryBox::OnObjectChanged);
	// The owner stores what is picked; the box shows what the owner holds.
	QObject::connect(Box.get(), &SObjectPropertyEntryBox::OnObjectChanged,
	                 [this](const FAssetData& Asset) { Value = Asset.GetObjectPathString(); });
	EXPECT_EQ(Box->findChild<QLabel*>(QStringLiteral("ValueText"))->text(), QStringLiteral("None"));

	Box->OpenPicker();
	Box->GetSearchBox()->setText(QStringLiteral("Entry"));
	QListWidget* List = Box->GetAssetList();
	QListWidgetItem* Entry = List->findItems(QStringLiteral("Entry"), Qt::MatchExactly).value(0);
	ASSERT_NE(Entry, nullptr);
	QTest::mouseClick(List->viewport(), Qt::LeftButton, {}, List->visualItemRect(Entry).center());
	ASSERT_EQ(Changed.count(), 1);
	const FAssetData Picked = Changed.at(0).at(0).value<FAssetData>();
	EXPECT_EQ(Picked.GetObjectPathString(), QStringLiteral("/Game/Maps/Entry.Entry"));
	EXPECT_EQ(Picked.AssetClassPath.ToString(), QStringLiteral("/Script/Engine.World"));
	EXPECT_FALSE(Box->IsPickerOpen());
	EXPECT_EQ(Box->GetObjectPath(), QStringLiteral("/Game/Maps/Entry.Entry"));
	EXPECT_EQ(Box->findChild<QLabel*>(QStringLiteral("ValueText"))->text(), QStringLiteral("Entry"));

	Box->OpenPicker();
	QTest::mouseClick(Box->GetClearButton(), Qt::LeftButton);
	ASSERT_EQ(Changed.count(), 2);
	EXPECT_FALSE(Changed.at(1).at(0).value<FAssetData>().IsValid());
	EXPECT_EQ(Box->findChild<QLabel*>(QStringLiteral("ValueText"))->text(), QStringLiteral("None"));
}

TEST_F(ObjectPropertyEntryBox, ShownValueFollowsTheOwnerAndReturnPicksTheFirstMatch)
{
	auto Box = MakeBox();
	Value = QStringLiteral("/Game/Maps/Arena.Arena:PersistentLevel");
	Box->RefreshValue();
	EXPECT_EQ(Box->findChild<QLabel*>(QStringLiteral("ValueText"))->text(), QStringLiteral("Arena:PersistentLevel"));
	EXPECT_EQ(Box->GetValueButton()->toolTip(), Value);

	QSignalSpy Changed(Box.get(), &SObjectPropertyEntryBox::OnObjectChanged);
	QTest::mouseClick(Box->GetValueButton(), Qt::LeftButton);
	ASSERT_TRUE(Box->IsPickerOpen());
	QTest::keyClicks(Box->GetSearchBox(), QStringLiteral("zo"));
	QTest::keyClick(Box->GetSearchBox(), Qt::Key_Return);
	ASSERT_EQ(Changed.count(), 1);
	EXPECT_EQ(Changed.at(0).at(0).value<FAssetData>().GetObjectPathString(), QStringLiteral("/Game/Other/Zoo.Zoo"));
	// Nothing stored it: the box still shows the owner's value.
	EXPECT_EQ(Box->GetObjectPath(), Value);
}

TEST_F(ObjectPropertyEntryBox, ThePickerStaysOnTheScreenNearItsEdges)
{
	auto Box = MakeBox();
	const QRect Area = Box->screen()->availableGeometry();
	// In the bottom-right corner: below and to the right there is no room.
	Box->move(Area.right() - 120, Area.bottom() - 30);
	FGameThread::RunUntilIdle(20);
	Box->OpenPicker();
	QWidget* Picker = Box->GetAssetList()->window();
	ASSERT_TRUE(Picker->isVisible());
	// The offscreen platform draws a frame of a few pixels around top-level windows.
	const QRect At = Picker->geometry();
	EXPECT_TRUE(Area.adjusted(-4, -4, 4, 4).contains(At))
	    << At.x() << "," << At.y() << " " << At.width() << "x" << At.height() << " in " << Area.width() << "x"
	    << Area.height();
	// Above the box, as there is no room below it.
	EXPECT_LT(At.top(), Box->mapToGlobal(QPoint(0, 0)).y());
	Box->ClosePicker();
}
