#include "Json.h"

#include <cmath>
#include <limits>

namespace FJson
{
std::optional<QJsonObject> ParseObject(const QByteArray& Utf8)
{
	QJsonParseError Error{};
	const QJsonDocument Doc = QJsonDocument::fromJson(Utf8, &Error);
	if (Error.error != QJsonParseError::NoError || !Doc.isObject())
	{
		return std::nullopt;
	}
	return Doc.object();
}

std::optional<QJsonObject> ParseObject(const QString& Text)
{
	return ParseObject(Text.toUtf8());
}

std::optional<QJsonArray> ParseArray(const QByteArray& Utf8)
{
	QJsonParseError Error{};
	const QJsonDocument Doc = QJsonDocument::fromJson(Utf8, &Error);
	if (Error.error != QJsonParseError::NoError || !Doc.isArray())
	{
		return std::nullopt;
	}
	return Doc.array();
}

std::optional<QJsonArray> ParseArray(const QString& Text)
{
	return ParseArray(Text.toUtf8());
}

QString GetString(const QJsonObject& Object, const QString& Key)
{
	QString Out;
	TryGetString(Object, Key, Out);
	return Out;
}

bool TryGetString(const QJsonObject& Object, const QString& Key, QString& Out)
{
	const QJsonValue Value = Object.value(Key);
	if (Value.isString())
	{
		Out = Value.toString();
		return true;
	}
	// The engine's reader turns numbers and booleans into their text when a string is asked for.
	if (Value.isDouble())
	{
		Out = QString::number(Value.toDouble(), 'g', 17);
		return true;
	}
	if (Value.isBool())
	{
		Out = Value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
		return true;
	}
	return false;
}

double GetNumber(const QJsonObject& Object, const QString& Key)
{
	const QJsonValue Value = Object.value(Key);
	return Value.isDouble() ? Value.toDouble() : 0.0;
}

qint32 GetInt32(const QJsonObject& Object, const QString& Key)
{
	const double Number = std::trunc(GetNumber(Object, Key));
	if (!std::isfinite(Number))
	{
		return 0;
	}
	if (Number >= double(std::numeric_limits<qint32>::max()))
	{
		return std::numeric_limits<qint32>::max();
	}
	if (Number <= double(std::numeric_limits<qint32>::min()))
	{
		return std::numeric_limits<qint32>::min();
	}
	return qint32(Number);
}

bool TryGetInt64(const QJsonObject& Object, const QString& Key, qint64& Out)
{
	const QJsonValue Value = Object.value(Key);
	if (!Value.isDouble())
	{
		return false;
	}
	// The parser keeps whole numbers exact; going through double would round those beyond 2^53.
	const qint64 Exact = Value.toInteger(0);
	if (Exact != 0 || Value.toInteger(1) == 0)
	{
		Out = Exact;
		return true;
	}
	const double Number = std::trunc(Value.toDouble());
	if (!std::isfinite(Number) || Number >= 9.2233720368547758e18 || Number < -9.2233720368547758e18)
	{
		return false;
	}
	Out = qint64(Number);
	return true;
}

qint64 GetInt64(const QJsonObject& Object, const QString& Key)
{
	qint64 Out = 0;
	TryGetInt64(Object, Key, Out);
	return Out;
}

bool GetBool(const QJsonObject& Object, const QString& Key)
{
	return Object.value(Key).toBool(false);
}

QJsonArray GetArray(const QJsonObject& Object, const QString& Key)
{
	return Object.value(Key).toArray();
}

std::optional<QJsonObject> GetObject(const QJsonObject& Object, const QString& Key)
{
	const QJsonValue Value = Object.value(Key);
	if (!Value.isObject())
	{
		return std::nullopt;
	}
	return Value.toObject();
}

QString Quote(const QString& Text)
{
	QString Out;
	Out.reserve(Text.size() + 2);
	Out += QLatin1Char('"');
	for (const QChar Ch : Text)
	{
		switch (Ch.unicode())
		{
		case '"':
			Out += QStringLiteral("\\\"");
			break;
		case '\\':
			Out += QStringLiteral("\\\\");
			break;
		case '\b':
			Out += QStringLiteral("\\b");
			break;
		case '\f':
			Out += QStringLiteral("\\f");
			break;
		case '\n':
			Out += QStringLiteral("\\n");
			break;
		case '\r':
			Out += QStringLiteral("\\r");
			break;
		case '\t':
			Out += QStringLiteral("\\t");
			break;
		default:
			if (Ch.unicode() < 0x20)
			{
				Out += QStringLiteral("\\u%1").arg(int(Ch.unicode()), 4, 16, QLatin1Char('0'));
			}
			else
			{
				Out += Ch;
			}
		}
	}
	Out += QLatin1Char('"');
	return Out;
}
} // namespace FJson

void FCondensedJsonWriter::Separate()
{
	if (bNeedComma)
	{
		Out += QLatin1Char(',');
	}
}

void FCondensedJsonWriter::WriteKey(const QString& Key)
{
	Separate();
	Out += FJson::Quote(Key);
	Out += QLatin1Char(':');
}

void FCondensedJsonWriter::WriteObjectStart()
{
	Separate();
	Out += QLatin1Char('{');
	bNeedComma = false;
}

void FCondensedJsonWriter::WriteObjectStart(const QString& Key)
{
	WriteKey(Key);
	Out += QLatin1Char('{');
	bNeedComma = false;
}

void FCondensedJsonWriter::WriteObjectEnd()
{
	Out += QLatin1Char('}');
	bNeedComma = true;
}

void FCondensedJsonWriter::WriteArrayStart()
{
	Separate();
	Out += QLatin1Char('[');
	bNeedComma = false;
}

void FCondensedJsonWriter::WriteArrayStart(const QString& Key)
{
	WriteKey(Key);
	Out += QLatin1Char('[');
	bNeedComma = false;
}

void FCondensedJsonWriter::WriteArrayEnd()
{
	Out += QLatin1Char(']');
	bNeedComma = true;
}

void FCondensedJsonWriter::WriteValue(const QString& Key, const QString& Value)
{
	WriteKey(Key);
	Out += FJson::Quote(Value);
	bNeedComma = true;
}

void FCondensedJsonWriter::WriteValue(const QString& Key, bool Value)
{
	WriteKey(Key);
	Out += Value ? QStringLiteral("true") : QStringLiteral("false");
	bNeedComma = true;
}

void FCondensedJsonWriter::WriteValue(const QString& Key, qint64 Value)
{
	WriteKey(Key);
	Out += QString::number(Value);
	bNeedComma = true;
}

void FCondensedJsonWriter::WriteValue(const QString& Key, double Value)
{
	WriteKey(Key);
	Out += std::isfinite(Value) ? QString::number(Value, 'g', 17) : QStringLiteral("null");
	bNeedComma = true;
}

void FCondensedJsonWriter::WriteNull(const QString& Key)
{
	WriteKey(Key);
	Out += QStringLiteral("null");
	bNeedComma = true;
}

void FCondensedJsonWriter::WriteValue(const QString& Value)
{
	Separate();
	Out += FJson::Quote(Value);
	bNeedComma = true;
}

void FCondensedJsonWriter::WriteValue(bool Value)
{
	Separate();
	Out += Value ? QStringLiteral("true") : QStringLiteral("false");
	bNeedComma = true;
}

void FCondensedJsonWriter::WriteValue(qint64 Value)
{
	Separate();
	Out += QString::number(Value);
	bNeedComma = true;
}
