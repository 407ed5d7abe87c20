#include "OrvaClient.h"

#include <gtest/gtest.h>

// The launch's switches as the client reads them, without starting it.
TEST(ClientCommandLine, SwitchesAreReadIgnoringCaseAndTheFirstOfARepeatCounts)
{
	const FClientCommandLine Line = FClientCommandLine::Parse(
	    {QStringLiteral("-applicationtype=PC_Win64_VR"), QStringLiteral("-ApplicationToken=abc"),
	     QStringLiteral("-ApplicationToken=later"), QStringLiteral("-PakPlatform=WindowsClient"),
	     QStringLiteral("-RUNMODE=Editor"), QStringLiteral("-SDK_Id=w-1"),
	     QStringLiteral("-SDK_Path=/tmp/Orva Paks/a=b.pak"), QStringLiteral("-log")});
	EXPECT_EQ(Line.ApplicationType, QStringLiteral("PC_Win64_VR"));
	EXPECT_EQ(Line.Token, QStringLiteral("abc"));
	EXPECT_EQ(Line.PakPlatform, QStringLiteral("WindowsClient"));
	EXPECT_EQ(Line.RunMode, QStringLiteral("Editor"));
	EXPECT_EQ(Line.WorldId, QStringLiteral("w-1"));
	EXPECT_EQ(Line.PakPath, QStringLiteral("/tmp/Orva Paks/a=b.pak"));
	EXPECT_TRUE(Line.bLog);
	EXPECT_TRUE(Line.Unknown.isEmpty()) << Line.Unknown.join(QLatin1Char(' ')).toStdString();
	EXPECT_TRUE(Line.Problem().isEmpty()) << Line.Problem().toStdString();
	EXPECT_EQ(Line.Describe(), QStringLiteral("-ApplicationType=PC_Win64_VR -ApplicationToken=<hidden> "
	                                          "-PakPlatform=WindowsClient -RunMode=Editor -SDK_Id=w-1 "
	                                          "\"-SDK_Path=/tmp/Orva Paks/a=b.pak\" -Log"));
}

TEST(ClientCommandLine, UnknownSwitchesAreKeptToReportAndATokenAmongThemIsHidden)
{
	const FClientCommandLine Line = FClientCommandLine::Parse(
	    {QStringLiteral("-Log=1"), QStringLiteral("-Fullscreen"), QStringLiteral("ApplicationToken=s3cr3t"),
	     QStringLiteral("-ApplicationToken:s3cr3t"), QStringLiteral("-SDK_Id")});
	EXPECT_FALSE(Line.bLog) << "-Log takes no value";
	EXPECT_TRUE(Line.Token.isEmpty());
	EXPECT_TRUE(Line.WorldId.isEmpty());
	EXPECT_EQ(Line.Unknown, QStringList({QStringLiteral("-Log=1"), QStringLiteral("-Fullscreen"),
	                                     QStringLiteral("-ApplicationToken=<hidden>"),
	                                     QStringLiteral("-ApplicationToken=<hidden>"), QStringLiteral("-SDK_Id")}));
	EXPECT_FALSE(Line.Unknown.join(QLatin1Char(' ')).contains(QStringLiteral("s3cr3t")));
	EXPECT_EQ(Line.Problem(),
	          QStringLiteral("no world to play: the launch passed no -SDK_Id, -SDK_Path or -ApplicationToken"));
}
