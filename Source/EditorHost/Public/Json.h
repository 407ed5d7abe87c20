#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <optional>

// Reading answers: a missing string is empty, a missing number 0, a missing boolean false, a missing
// array empty, a missing object absent. Numbers stored in 32-bit fields are truncated toward zero.
namespace FJson
{
// Parses Text as an object / an array; nullopt when it does not parse as one.
std::optional<QJsonObject> ParseObject(const QString& Text);
std::optional<QJsonObject> ParseObject(const QByteArray& Utf8);
std::optional<QJsonArray> ParseArray(const QString& Text);
std::optional<QJsonArray> ParseArray(const QByteArray& Utf8);

QString GetString(const QJsonObject& Object, const QString& Key);
// Copies the string into Out only when the key holds a string; returns whether it did.
bool TryGetString(const QJsonObject& Object, const QString& Key, QString& Out);
double GetNumber(const QJsonObject& Object, const QString& Key);
// The number truncated toward zero and clamped to the 32-bit range.
qint32 GetInt32(const QJsonObject& Object, const QString& Key);
// The integer getter: the number truncated toward zero into 64 bits.
qint64 GetInt64(const QJsonObject& Object, const QString& Key);
bool TryGetInt64(const QJsonObject& Object, const QString& Key, qint64& Out);
bool GetBool(const QJsonObject& Object, const QString& Key);
QJsonArray GetArray(const QJsonObject& Object, const QString& Key);
std::optional<QJsonObject> GetObject(const QJsonObject& Object, const QString& Key);

// A JSON string literal with its quotes, escaped by JSON rules.
QString Quote(const QString& Text);
} // namespace FJson

// The engine's condensed writer: no blanks or line breaks, keys in the order they are written.
class FCondensedJsonWriter
{
public:
	void WriteObjectStart();
	void WriteObjectStart(const QString& Key);
	void WriteObjectEnd();
	void WriteArrayStart();
	void WriteArrayStart(const QString& Key);
	void WriteArrayEnd();

	void WriteValue(const QString& Key, const QString& Value);
	void WriteValue(const QString& Key, const char* Value) { WriteValue(Key, QString::fromUtf8(Value)); }
	void WriteValue(const QString& Key, bool Value);
	void WriteValue(const QString& Key, qint64 Value);
	void WriteValue(const QString& Key, int Value) { WriteValue(Key, qint64(Value)); }
	void WriteValue(const QString& Key, double Value);
	void WriteNull(const QString& Key);
	// Array elements.
	void WriteValue(const QString& Value);
	void WriteValue(bool Value);
	void WriteValue(qint64 Value);

	// The text written so far.
	QString Close() const { return Out; }

private:
	void Separate();
	void WriteKey(const QString& Key);
	QString Out;
	bool bNeedComma = false;
};
