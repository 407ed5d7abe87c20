#include "SoftObjectPath.h"

#include <gtest/gtest.h>

namespace
{
TEST(SoftObjectPathTest, ParsesAndPrintsAnAssetPath)
{
	const FSoftObjectPath Path(QStringLiteral("/Game/Maps/Entry.Entry"));
	EXPECT_EQ(Path.GetLongPackageName(), QStringLiteral("/Game/Maps/Entry"));
	EXPECT_EQ(Path.GetAssetName(), QStringLiteral("Entry"));
	EXPECT_TRUE(Path.GetSubPathString().isEmpty());
	EXPECT_EQ(Path.GetAssetPathString(), QStringLiteral("/Game/Maps/Entry.Entry"));
	EXPECT_EQ(Path.ToString(), QStringLiteral("/Game/Maps/Entry.Entry"));
	EXPECT_TRUE(Path.IsValid());
	EXPECT_FALSE(Path.IsNull());
	EXPECT_TRUE(Path.IsAsset());
}

TEST(SoftObjectPathTest, SubObjectPathIsNoAsset)
{
	const FSoftObjectPath Path(QStringLiteral("/Game/Maps/Entry.Entry:PersistentLevel.MyActor"));
	EXPECT_EQ(Path.GetLongPackageName(), QStringLiteral("/Game/Maps/Entry"));
	EXPECT_EQ(Path.GetAssetName(), QStringLiteral("Entry"));
	EXPECT_EQ(Path.GetSubPathString(), QStringLiteral("PersistentLevel.MyActor"));
	EXPECT_EQ(Path.GetAssetPathString(), QStringLiteral("/Game/Maps/Entry.Entry"));
	EXPECT_EQ(Path.ToString(), QStringLiteral("/Game/Maps/Entry.Entry:PersistentLevel.MyActor"));
	EXPECT_TRUE(Path.IsValid());
	EXPECT_FALSE(Path.IsAsset());

	const FSoftObjectPath Short(QStringLiteral("/Game/Maps/Entry.Entry:Sub"));
	EXPECT_EQ(Short.GetSubPathString(), QStringLiteral("Sub"));
	EXPECT_FALSE(Short.IsAsset());
	EXPECT_EQ(FSoftObjectPath(Short.ToString()), Short);
}

TEST(SoftObjectPathTest, EmptyNoneAndNonPathsAreNull)
{
	for (const QString& Text : {QString(), QStringLiteral("None"), QStringLiteral("   "),
	                            QStringLiteral("Game/Maps/Entry"), QStringLiteral(".Entry")})
	{
		const FSoftObjectPath Path(Text);
		EXPECT_TRUE(Path.IsNull()) << qPrintable(Text);
		EXPECT_FALSE(Path.IsValid()) << qPrintable(Text);
		EXPECT_FALSE(Path.IsAsset()) << qPrintable(Text);
		EXPECT_EQ(Path.ToString(), QString()) << qPrintable(Text);
	}
	EXPECT_TRUE(FSoftObjectPath().IsNull());

	// A package without an asset name is a valid path, but names no asset.
	const FSoftObjectPath PackageOnly(QStringLiteral("/Game/Maps/Entry"));
	EXPECT_TRUE(PackageOnly.IsValid());
	EXPECT_FALSE(PackageOnly.IsAsset());
	EXPECT_EQ(PackageOnly.ToString(), QStringLiteral("/Game/Maps/Entry"));

	FSoftObjectPath Reused(QStringLiteral("/Game/A.A:Sub"));
	Reused.SetPath(QStringLiteral("None"));
	EXPECT_TRUE(Reused.IsNull());
	EXPECT_TRUE(Reused.GetSubPathString().isEmpty());
}

TEST(SoftObjectPathTest, ExportedTextFormAndParts)
{
	const FSoftObjectPath Exported(QStringLiteral("World'/Game/Maps/Entry.Entry'"));
	EXPECT_EQ(Exported.ToString(), QStringLiteral("/Game/Maps/Entry.Entry"));

	const FSoftObjectPath FromParts(QStringLiteral("/Game/Maps/Entry"), QStringLiteral("Entry"), QStringLiteral("Sub"));
	EXPECT_EQ(FromParts.ToString(), QStringLiteral("/Game/Maps/Entry.Entry:Sub"));
}

TEST(SoftObjectPathTest, EqualityIgnoresCase)
{
	EXPECT_EQ(FSoftObjectPath(QStringLiteral("/game/maps/ENTRY.entry")),
	          FSoftObjectPath(QStringLiteral("/Game/Maps/Entry.Entry")));
	EXPECT_EQ(FSoftObjectPath(QStringLiteral("/Game/A.A:persistentlevel.X")),
	          FSoftObjectPath(QStringLiteral("/Game/A.A:PersistentLevel.x")));
	EXPECT_NE(FSoftObjectPath(QStringLiteral("/Game/A.A")), FSoftObjectPath(QStringLiteral("/Game/A.A:Sub")));
	EXPECT_NE(FSoftObjectPath(QStringLiteral("/Game/A.A")), FSoftObjectPath(QStringLiteral("/Game/A.B")));
	EXPECT_NE(FSoftObjectPath(QStringLiteral("/Game/A.A")), FSoftObjectPath(QStringLiteral("/Game/B.A")));
	EXPECT_EQ(FSoftObjectPath(), FSoftObjectPath(QStringLiteral("None")));
}
} // namespace
