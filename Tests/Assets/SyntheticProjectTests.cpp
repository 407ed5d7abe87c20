#include "AssetTestSupport.h"
#include "SyntheticProject.h"

#include <QMap>

#include <gtest/gtest.h>

// The benchmarks time walks and moves over generated projects; their figures mean something only
// when the generator writes what it promises.
TEST(SyntheticProject, EveryPackageIsIndexedAndReachableFromTheEntryLevel)
{
	QTemporaryDir Temp;
	FSyntheticProjectOptions Options;
	Options.RootDir = Temp.path() + QStringLiteral("/Project");
	Options.PackageCount = 700;
	Options.PackagesPerSubfolder = 20;
	Options.LevelCount = 4;
	Options.ExternalActorsPerLevel = 15;
	QString Error;
	const std::optional<FSyntheticProject> Project = FSyntheticProject::Generate(Options, &Error);
	ASSERT_TRUE(Project) << qPrintable(Error);
	EXPECT_EQ(Project->PackageCount, Options.PackageCount);
	EXPECT_EQ(Project->Levels.size(), 4);
	EXPECT_EQ(Project->PartitionedLevels.size(), 1) << "a quarter of the levels, the entry level first";
	EXPECT_EQ(Project->PartitionedLevels.value(0), Project->EntryLevel);
	EXPECT_EQ(Project->ExternalPackageCount, 15);
	int Written = 0;
	for (const int Count : Project->PackagesPerFolder)
	{
		Written += Count;
	}
	EXPECT_EQ(Written + Project->ExternalPackageCount, Project->PackageCount);

	FEditorHostOptions HostOptions;
	HostOptions.ProjectFile = Project->ProjectFile;
	HostOptions.UserSettingsDir = Temp.path() + QStringLiteral("/UserSettings");
	HostOptions.bLogToFile = false;
	FEditorHost Host(HostOptions);
	Host.Start();
	FAssetRegistry& Registry = Host.AssetRegistry();
	EXPECT_EQ(Registry.GetPackageCount(), Project->PackageCount) << "every file parses";
	for (const QString& Level : Project->Levels)
	{
		EXPECT_TRUE(Registry.IsLevelPackage(Level)) << qPrintable(Level);
	}
	EXPECT_EQ(AssetTestUtil::Walk(Registry, Project->EntryLevel).size(), Project->PackageCount);

	// The same seed writes the same project.
	FSyntheticProjectOptions Again = Options;
	Again.RootDir = Temp.path() + QStringLiteral("/Again");
	ASSERT_TRUE(FSyntheticProject::Generate(Again, &Error)) << qPrintable(Error);
	const auto Files = [](const QString& ContentDir)
	{
		QMap<QString, QByteArray> Out;
		QDirIterator It(ContentDir, QDir::Files, QDirIterator::Subdirectories);
		while (It.hasNext())
		{
			const QString Path = It.next();
			Out.insert(Path.mid(ContentDir.size()), FAssetTestProject::ReadRaw(Path));
		}
		return Out;
	};
	EXPECT_EQ(Files(Project->ContentDir), Files(Again.RootDir + QStringLiteral("/Content/")));
}
