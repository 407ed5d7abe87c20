#include "Paths.h"
#include "ScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

namespace
{
TEST(PathsTest, CombinePutsExactlyOneSlashBetweenParts)
{
	const QString Expected = QStringLiteral("a/b");
	EXPECT_EQ(FPaths::Combine(QStringLiteral("a"), QStringLiteral("b")), Expected);
	EXPECT_EQ(FPaths::Combine(QStringLiteral("a/"), QStringLiteral("b")), Expected);
	EXPECT_EQ(FPaths::Combine(QStringLiteral("a"), QStringLiteral("/b")), Expected);
	EXPECT_EQ(FPaths::Combine(QStringLiteral("a//"), QStringLiteral("//b")), Expected);
	EXPECT_EQ(FPaths::Combine(QStringLiteral("/"), QStringLiteral("b")), QStringLiteral("/b"));
	EXPECT_EQ(FPaths::Combine(QStringLiteral("/root/dir/"), QStringLiteral("file.ini")),
	          QStringLiteral("/root/dir/file.ini"));
	// Empty parts add nothing, not even a separator.
	EXPECT_EQ(FPaths::Combine(QString(), QStringLiteral("b")), QStringLiteral("b"));
	EXPECT_EQ(FPaths::Combine(QStringLiteral("a/"), QString()), QStringLiteral("a/"));
	EXPECT_EQ(FPaths::Combine(QStringList{QStringLiteral("/Project/Content/"), QStringLiteral("W1"), QString(),
	                                      QStringLiteral("/Config/"), QStringLiteral("WorldInfo.ini")}),
	          QStringLiteral("/Project/Content/W1/Config/WorldInfo.ini"));
}

TEST(PathsTest, ConvertRelativePathToFullMakesCleanAbsolutePaths)
{
	const QString Base = QStringLiteral("/base/dir");
	EXPECT_EQ(FPaths::ConvertRelativePathToFull(Base, QStringLiteral("file.txt")),
	          QStringLiteral("/base/dir/file.txt"));
	EXPECT_EQ(FPaths::ConvertRelativePathToFull(Base, QStringLiteral("sub/../other/./f.txt")),
	          QStringLiteral("/base/dir/other/f.txt"));
	EXPECT_EQ(FPaths::ConvertRelativePathToFull(Base, QStringLiteral("../../../up.txt")), QStringLiteral("/up.txt"));
	EXPECT_EQ(FPaths::ConvertRelativePathToFull(Base, QStringLiteral("../../..")), QStringLiteral("/"));
	EXPECT_EQ(FPaths::ConvertRelativePathToFull(QStringLiteral("/"), QStringLiteral("../x/")), QStringLiteral("/x/"));
	EXPECT_EQ(FPaths::ConvertRelativePathToFull(Base, QStringLiteral("/abs//x/./y/../z")), QStringLiteral("/abs/x/z"));
	EXPECT_EQ(FPaths::ConvertRelativePathToFull(Base, QStringLiteral("sub\\win\\f.txt")),
	          QStringLiteral("/base/dir/sub/win/f.txt"));
	// A folder stays a folder.
	EXPECT_EQ(FPaths::ConvertRelativePathToFull(Base, QStringLiteral("sub/../folder/")),
	          QStringLiteral("/base/dir/folder/"));
	EXPECT_EQ(FPaths::ConvertRelativePathToFull(QStringLiteral("rel/ative.ini")),
	          QDir::currentPath() + QStringLiteral("/rel/ative.ini"));
}

TEST(PathsTest, FilenamePartsOfAPath)
{
	EXPECT_EQ(FPaths::GetBaseFilename(QStringLiteral("a/b/c.ext")), QStringLiteral("c"));
	EXPECT_EQ(FPaths::GetBaseFilename(QStringLiteral("a/b/c.tar.gz")), QStringLiteral("c.tar"));
	EXPECT_EQ(FPaths::GetBaseFilename(QStringLiteral("dir.v2/noext")), QStringLiteral("noext"));
	EXPECT_EQ(FPaths::GetBaseFilename(QStringLiteral("C:\\Proj\\Game.uproject")), QStringLiteral("Game"));
	EXPECT_EQ(FPaths::GetCleanFilename(QStringLiteral("a/b/c.ext")), QStringLiteral("c.ext"));
	EXPECT_EQ(FPaths::GetCleanFilename(QStringLiteral("c.ext")), QStringLiteral("c.ext"));
	EXPECT_EQ(FPaths::GetCleanFilename(QStringLiteral("a/b/")), QString());
	EXPECT_EQ(FPaths::GetPath(QStringLiteral("a/b/c.ext")), QStringLiteral("a/b"));
	EXPECT_EQ(FPaths::GetPath(QStringLiteral("c.ext")), QString());
	EXPECT_EQ(FPaths::GetExtension(QStringLiteral("a/b/c.tar.gz")), QStringLiteral("gz"));
	EXPECT_EQ(FPaths::GetExtension(QStringLiteral("a/b/c.pak"), true), QStringLiteral(".pak"));
	EXPECT_EQ(FPaths::GetExtension(QStringLiteral("dir.v2/noext")), QString());
}

TEST(PathsTest, ProjectFoldersEndWithASlash)
{
	const FPaths Paths(QStringLiteral("/work/Projects/Demo/Demo.uproject"), QStringLiteral("/home/me/settings"),
	                   QStringLiteral("/opt/engine"));
	EXPECT_EQ(Paths.GetProjectFilePath(), QStringLiteral("/work/Projects/Demo/Demo.uproject"));
	EXPECT_EQ(Paths.ProjectName(), QStringLiteral("Demo"));
	EXPECT_EQ(Paths.ProjectDir(), QStringLiteral("/work/Projects/Demo/"));
	EXPECT_EQ(Paths.ProjectContentDir(), QStringLiteral("/work/Projects/Demo/Content/"));
	EXPECT_EQ(Paths.ProjectSavedDir(), QStringLiteral("/work/Projects/Demo/Saved/"));
	EXPECT_EQ(Paths.ProjectLogDir(), QStringLiteral("/work/Projects/Demo/Saved/Logs/"));
	EXPECT_EQ(Paths.ProjectConfigDir(), QStringLiteral("/work/Projects/Demo/Config/"));
	EXPECT_EQ(Paths.UserSettingsDir(), QStringLiteral("/home/me/settings/"));
	EXPECT_EQ(Paths.EngineContentDir(), QStringLiteral("/opt/engine/Content/"));

	const FPaths Relative(QStringLiteral("Rel/Game.uproject"), QStringLiteral("/s/"));
	EXPECT_EQ(Relative.ProjectDir(), QDir::currentPath() + QStringLiteral("/Rel/"));
	EXPECT_TRUE(Relative.EngineDir().isEmpty());
	EXPECT_TRUE(Relative.EngineContentDir().isEmpty());
}

TEST(PathsTest, UserSettingsFolderDefaultsToTheXdgConfigHome)
{
	{
		const FScopedEnv Env("XDG_CONFIG_HOME", QByteArray("/tmp/xdg-config"));
		EXPECT_EQ(FPaths::DefaultUserSettingsDir(), QStringLiteral("/tmp/xdg-config/"));
		const FPaths Paths(QStringLiteral("/p/P.uproject"), QString());
		EXPECT_EQ(Paths.UserSettingsDir(), QStringLiteral("/tmp/xdg-config/"));
	}
	{
		const FScopedEnv Env("XDG_CONFIG_HOME", QByteArray("/tmp/with-slash/"));
		EXPECT_EQ(FPaths::DefaultUserSettingsDir(), QStringLiteral("/tmp/with-slash/"));
	}
	const QString Home = QDir::homePath() + QStringLiteral("/.config/");
	{
		const FScopedEnv Env("XDG_CONFIG_HOME", std::nullopt);
		EXPECT_EQ(FPaths::DefaultUserSettingsDir(), Home);
	}
	{
		// A relative value is invalid for XDG and ignored.
		const FScopedEnv Env("XDG_CONFIG_HOME", QByteArray("relative/config"));
		EXPECT_EQ(FPaths::DefaultUserSettingsDir(), Home);
	}
}

TEST(PathsTest, FileSystemQueries)
{
	QTemporaryDir Dir;
	ASSERT_TRUE(Dir.isValid());
	const QString Tree = Dir.filePath(QStringLiteral("a/b/c"));
	EXPECT_FALSE(FPaths::DirectoryExists(Tree));
	ASSERT_TRUE(FPaths::CreateDirectoryTree(Tree));
	EXPECT_TRUE(FPaths::DirectoryExists(Tree));
	EXPECT_FALSE(FPaths::FileExists(Tree));

	const QString File = Dir.filePath(QStringLiteral("a/file.txt"));
	EXPECT_FALSE(FPaths::FileExists(File));
	QFile Out(File);
	ASSERT_TRUE(Out.open(QIODevice::WriteOnly));
	Out.close();
	EXPECT_TRUE(FPaths::FileExists(File));
	EXPECT_FALSE(FPaths::DirectoryExists(File));
	EXPECT_FALSE(FPaths::CreateDirectoryTree(File + QStringLiteral("/below")));
}
} // namespace
