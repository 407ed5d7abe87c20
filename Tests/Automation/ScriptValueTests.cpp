// Numbers from a script converted to the parameter types of operations.
#include "OrvaSDKSubsystem.h"
#include "OrvaScriptValue.h"

#include <gtest/gtest.h>

#include <QMetaType>

using namespace OrvaScript;

namespace
{
// The converted value, or the error text.
template <class T>
QString Convert(const QByteArray& JsonText)
{
	QJsonValue Json;
	QString Error;
	if (!ParseJson(QString::fromUtf8(JsonText), Json, Error))
	{
		return QStringLiteral("parse: ") + Error;
	}
	QVariant Value;
	if (!FromJson(Json, QMetaType::fromType<T>(), Value, Error))
	{
		return Error;
	}
	return Value.toString();
}
} // namespace

// Numbers beyond the target's range are refused, never wrapped or converted with undefined results
// (found by fuzzing: 1e101 became the smallest 64-bit integer).
TEST(ScriptValueTest, NumbersBeyondTheTypeAreRefused)
{
	EXPECT_EQ(Convert<qint64>("1e101"), QStringLiteral("1e+101 is out of range"));
	EXPECT_EQ(Convert<qint64>("-1e101"), QStringLiteral("-1e+101 is out of range"));
	EXPECT_EQ(Convert<qint64>("9223372036854775807"), QStringLiteral("9223372036854775807"));
	EXPECT_EQ(Convert<qint64>("-9223372036854775808"), QStringLiteral("-9223372036854775808"));
	EXPECT_EQ(Convert<qint64>("9223372036854775808"), QStringLiteral("9223372036854776000 is out of range"));
	EXPECT_EQ(Convert<quint64>("1e19"), QStringLiteral("10000000000000000000"));
	EXPECT_EQ(Convert<quint64>("2e19"), QStringLiteral("2e+19 is out of range"));
	EXPECT_EQ(Convert<int>("4294967297"), QStringLiteral("4294967297 is out of range"));
	EXPECT_EQ(Convert<int>("-2147483648"), QStringLiteral("-2147483648"));
	EXPECT_EQ(Convert<quint8>("-1"), QStringLiteral("-1 is out of range"));
	EXPECT_EQ(Convert<float>("1e39"), QStringLiteral("1e+39 is out of range"));
	EXPECT_EQ(Convert<float>("0.5"), QStringLiteral("0.5"));

	// An enumerator's number must be one of its values, not one that wraps onto one.
	EXPECT_EQ(Convert<EOrvaSDKProgress>("4294967297"),
	          QStringLiteral("4294967297 is not a value of OrvaSDKTypes::EOrvaSDKProgress"));
	EXPECT_EQ(Convert<EOrvaSDKProgress>("1e101"),
	          QStringLiteral("1e+101 is not a value of OrvaSDKTypes::EOrvaSDKProgress"));
	EXPECT_EQ(Convert<EOrvaSDKProgress>("1"), QStringLiteral("FolderMoving"));
}
