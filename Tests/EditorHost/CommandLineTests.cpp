#include "CommandLine.h"

#include <gtest/gtest.h>

TEST(CommandLine, SwitchesAndParamsAreFoundIgnoringCaseFirstOneCounting)
{
	const QStringList Line = {
	    QStringLiteral("-sdk_id=w-1"), QStringLiteral("-SDK_Id=w-2"), QStringLiteral("-SDK_Path=/tmp/a=b.pak"),
	    QStringLiteral("-LOG"),        QStringLiteral("-Logging=1"),  QStringLiteral("Plain")};
	EXPECT_EQ(FCommandLine::SwitchValue(Line, QStringLiteral("SDK_Id")), QStringLiteral("w-1"));
	EXPECT_EQ(FCommandLine::SwitchValue(Line, QStringLiteral("SDK_Path")), QStringLiteral("/tmp/a=b.pak"));
	EXPECT_TRUE(FCommandLine::SwitchValue(Line, QStringLiteral("SDK")).isEmpty());
	EXPECT_TRUE(FCommandLine::Param(Line, QStringLiteral("Log")));
	// A switch with a value is no bare param, and a param needs its dash.
	EXPECT_FALSE(FCommandLine::Param(Line, QStringLiteral("Logging")));
	EXPECT_FALSE(FCommandLine::Param(Line, QStringLiteral("lain")));
	EXPECT_FALSE(FCommandLine::Param({QStringLiteral("Log")}, QStringLiteral("Log")));
}

TEST(CommandLine, SwitchNamesAreWhatLiesBetweenTheDashAndTheFirstEquals)
{
	EXPECT_EQ(FCommandLine::SwitchName(QStringLiteral("-SDK_Path=/a=b")), QStringLiteral("SDK_Path"));
	EXPECT_EQ(FCommandLine::SwitchName(QStringLiteral("-X=")), QStringLiteral("X"));
	EXPECT_TRUE(FCommandLine::SwitchName(QStringLiteral("-=value")).isEmpty());
	EXPECT_TRUE(FCommandLine::SwitchName(QStringLiteral("-Log")).isEmpty());
	EXPECT_TRUE(FCommandLine::SwitchName(QStringLiteral("Name=value")).isEmpty());
}
