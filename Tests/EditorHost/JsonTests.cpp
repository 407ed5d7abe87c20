#include "Json.h"

#include <gtest/gtest.h>

#include <limits>

namespace
{
QJsonObject Parse(const char* Text)
{
	const std::optional<QJsonObject> Object = FJson::ParseObject(QByteArray(Text));
	EXPECT_TRUE(Object.has_value()) << Text;
	return Object.value_or(QJsonObject());
}

TEST(JsonTest, ParsingObjectsAndArrays)
{
	EXPECT_TRUE(FJson::ParseObject(QStringLiteral("{\"a\":1}")).has_value());
	EXPECT_FALSE(FJson::ParseObject(QStringLiteral("[1,2]")).has_value());
	EXPECT_FALSE(FJson::ParseObject(QStringLiteral("{\"a\":")).has_value());
	EXPECT_FALSE(FJson::ParseObject(QByteArray()).has_value());
	const std::optional<QJsonArray> Array = FJson::ParseArray(QByteArray("[1,\"two\"]"));
	ASSERT_TRUE(Array.has_value());
	EXPECT_EQ(Array->size(), 2);
	EXPECT_FALSE(FJson::ParseArray(QStringLiteral("{}")).has_value());
}

TEST(JsonTest, StringReadsGiveEmptyOrLeaveTheTargetAlone)
{
	const QJsonObject Object =
	    Parse(R"({"name":"Orva \u00e9","empty":"","nested":{"k":"v"},"list":[],"nothing":null})");
	EXPECT_EQ(FJson::GetString(Object, QStringLiteral("name")), QStringLiteral("Orva é"));
	EXPECT_EQ(FJson::GetString(Object, QStringLiteral("missing")), QString());

	QString Out = QStringLiteral("kept");
	EXPECT_FALSE(FJson::TryGetString(Object, QStringLiteral("missing"), Out));
	EXPECT_EQ(Out, QStringLiteral("kept"));
	for (const char* NotAString : {"nested", "list", "nothing"})
	{
		EXPECT_FALSE(FJson::TryGetString(Object, QLatin1String(NotAString), Out)) << NotAString;
		EXPECT_EQ(Out, QStringLiteral("kept")) << NotAString;
	}
	EXPECT_TRUE(FJson::TryGetString(Object, QStringLiteral("empty"), Out));
	EXPECT_EQ(Out, QString());
}

TEST(JsonTest, NumbersAreTruncatedTowardZeroAndClampedTo32Bits)
{
	const QJsonObject Object = Parse(R"({"up":12.9,"down":-3.5,"whole":7,"huge":3e9,"tiny":-3e9,
		"max":2147483647,"min":-2147483648,"text":"12","flag":true})");
	EXPECT_EQ(FJson::GetInt32(Object, QStringLiteral("up")), 12);
	EXPECT_EQ(FJson::GetInt32(Object, QStringLiteral("down")), -3);
	EXPECT_EQ(FJson::GetInt32(Object, QStringLiteral("whole")), 7);
	EXPECT_EQ(FJson::GetInt32(Object, QStringLiteral("huge")), std::numeric_limits<qint32>::max());
	EXPECT_EQ(FJson::GetInt32(Object, QStringLiteral("tiny")), std::numeric_limits<qint32>::min());
	EXPECT_EQ(FJson::GetInt32(Object, QStringLiteral("max")), std::numeric_limits<qint32>::max());
	EXPECT_EQ(FJson::GetInt32(Object, QStringLiteral("min")), std::numeric_limits<qint32>::min());
	EXPECT_EQ(FJson::GetInt32(Object, QStringLiteral("missing")), 0);
	EXPECT_DOUBLE_EQ(FJson::GetNumber(Object, QStringLiteral("up")), 12.9);
	EXPECT_DOUBLE_EQ(FJson::GetNumber(Object, QStringLiteral("missing")), 0.0);
	EXPECT_FALSE(FJson::GetBool(Object, QStringLiteral("missing")));
	EXPECT_TRUE(FJson::GetBool(Object, QStringLiteral("flag")));
}

TEST(JsonTest, Int64ReadsKeepLargeIntegersExact)
{
	const QJsonObject Object = Parse(R"({"size":3000000000,"beyondDouble":9007199254740993,
		"big":1234567890123456789,"max":9223372036854775807,"negative":-9007199254740993,
		"fraction":-7.9,"tooBig":1e30,"text":"5"})");
	EXPECT_EQ(FJson::GetInt64(Object, QStringLiteral("size")), Q_INT64_C(3000000000));
	EXPECT_EQ(FJson::GetInt64(Object, QStringLiteral("beyondDouble")), Q_INT64_C(9007199254740993));
	EXPECT_EQ(FJson::GetInt64(Object, QStringLiteral("big")), Q_INT64_C(1234567890123456789));
	EXPECT_EQ(FJson::GetInt64(Object, QStringLiteral("max")), std::numeric_limits<qint64>::max());
	EXPECT_EQ(FJson::GetInt64(Object, QStringLiteral("negative")), Q_INT64_C(-9007199254740993));
	EXPECT_EQ(FJson::GetInt64(Object, QStringLiteral("fraction")), -7);
	EXPECT_EQ(FJson::GetInt64(Object, QStringLiteral("missing")), 0);

	qint64 Out = 99;
	EXPECT_FALSE(FJson::TryGetInt64(Object, QStringLiteral("tooBig"), Out));
	EXPECT_FALSE(FJson::TryGetInt64(Object, QStringLiteral("missing"), Out));
	EXPECT_FALSE(FJson::TryGetInt64(Object, QStringLiteral("text"), Out));
	EXPECT_EQ(Out, 99);
}

TEST(JsonTest, ArraysAndObjectsWhenMissing)
{
	const QJsonObject Object = Parse(R"({"image":{"name":"a.png"},"urls":[{"url":"u"}],"str":"x"})");
	const std::optional<QJsonObject> Image = FJson::GetObject(Object, QStringLiteral("image"));
	ASSERT_TRUE(Image.has_value());
	EXPECT_EQ(FJson::GetString(*Image, QStringLiteral("name")), QStringLiteral("a.png"));
	EXPECT_FALSE(FJson::GetObject(Object, QStringLiteral("missing")).has_value());
	EXPECT_FALSE(FJson::GetObject(Object, QStringLiteral("str")).has_value());
	EXPECT_FALSE(FJson::GetObject(Object, QStringLiteral("urls")).has_value());
	EXPECT_EQ(FJson::GetArray(Object, QStringLiteral("urls")).size(), 1);
	EXPECT_TRUE(FJson::GetArray(Object, QStringLiteral("missing")).isEmpty());
	EXPECT_TRUE(FJson::GetArray(Object, QStringLiteral("image")).isEmpty());
}

TEST(JsonTest, CondensedWriterKeepsOrderAndWritesNoBlanks)
{
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("zeta"), QStringLiteral("first"));
	Writer.WriteValue(QStringLiteral("alpha"), 2);
	Writer.WriteValue(QStringLiteral("flag"), false);
	Writer.WriteValue(QStringLiteral("ratio"), 12.5);
	Writer.WriteNull(QStringLiteral("none"));
	Writer.WriteArrayStart(QStringLiteral("list"));
	Writer.WriteValue(QStringLiteral("s"));
	Writer.WriteValue(qint64(3000000000));
	Writer.WriteValue(true);
	Writer.WriteArrayStart();
	Writer.WriteArrayStart();
	Writer.WriteArrayEnd();
	Writer.WriteValue(qint64(1));
	Writer.WriteArrayEnd();
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("k"), "v");
	Writer.WriteObjectEnd();
	Writer.WriteObjectStart();
	Writer.WriteObjectEnd();
	Writer.WriteArrayEnd();
	Writer.WriteObjectStart(QStringLiteral("child"));
	Writer.WriteArrayStart(QStringLiteral("empty"));
	Writer.WriteArrayEnd();
	Writer.WriteValue(QStringLiteral("b"), qint64(-5));
	Writer.WriteObjectEnd();
	Writer.WriteValue(QStringLiteral("after"), QString());
	Writer.WriteObjectEnd();

	const QString Text = Writer.Close();
	EXPECT_EQ(Text, QStringLiteral(
	                    R"({"zeta":"first","alpha":2,"flag":false,"ratio":12.5,"none":null,)"
	                    R"("list":["s",3000000000,true,[[],1],{"k":"v"},{}],"child":{"empty":[],"b":-5},"after":""})"));

	QJsonParseError Error{};
	const QJsonDocument Doc = QJsonDocument::fromJson(Text.toUtf8(), &Error);
	ASSERT_EQ(Error.error, QJsonParseError::NoError) << qPrintable(Error.errorString());
	const QJsonObject Root = Doc.object();
	EXPECT_EQ(Root.keys().size(), 8);
	EXPECT_EQ(Root.value(QStringLiteral("list")).toArray().at(3).toArray().at(1).toInt(), 1);
	EXPECT_EQ(Root.value(QStringLiteral("child")).toObject().value(QStringLiteral("b")).toInt(), -5);
}

TEST(JsonTest, CondensedWriterEscapesStringsAndKeys)
{
	const QString Tricky =
	    QStringLiteral("q\"b\\s/\n\r\t\b\f") + QChar(0x01) + QChar(0x1F) + QStringLiteral("é日本\U0001F600");
	FCondensedJsonWriter Writer;
	Writer.WriteObjectStart();
	Writer.WriteValue(QStringLiteral("key \"quoted\""), Tricky);
	Writer.WriteArrayStart(QStringLiteral("items"));
	Writer.WriteValue(Tricky);
	Writer.WriteArrayEnd();
	Writer.WriteObjectEnd();

	const QString Text = Writer.Close();
	EXPECT_TRUE(
	    Text.contains(QStringLiteral(R"("q\"b\\s/\n\r\t\b\f\u0001\u001fé日本)") + QStringLiteral("\U0001F600\"")))
	    << qPrintable(Text);
	EXPECT_TRUE(Text.startsWith(QStringLiteral(R"({"key \"quoted\"":)")));
	for (const QChar Ch : Text)
	{
		EXPECT_GE(Ch.unicode(), 0x20) << "raw control character in output";
	}

	const QJsonObject Root = QJsonDocument::fromJson(Text.toUtf8()).object();
	EXPECT_EQ(Root.value(QStringLiteral("key \"quoted\"")).toString(), Tricky);
	EXPECT_EQ(Root.value(QStringLiteral("items")).toArray().at(0).toString(), Tricky);
	EXPECT_EQ(FJson::Quote(QString()), QStringLiteral("\"\""));
}
} // namespace
