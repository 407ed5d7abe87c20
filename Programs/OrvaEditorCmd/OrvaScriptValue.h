#pragma once

#include <QJsonValue>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QVariant>

#include <functional>
#include <memory>

// Reflection values of the automation scripts, as JSON: what `get` prints and `expect` compares,
// and how a JSON argument becomes a parameter of a reflected operation or a reflected field.
//
// The mapping, both ways:
//   QString and QByteArray        JSON string
//   bool                          true / false
//   integers, float, double       number (an integer type takes only whole numbers in its range)
//   enums                         the enumerator's name; a number is also taken when reading
//   FSoftObjectPath               its text form, "/Game/Maps/Entry.Entry" ("" when empty)
//   Q_GADGET records              object with one member per property, in declaration order;
//                                 reading takes a subset of the writable ones (others keep their
//                                 defaults) and refuses unknown names
//   shared pointers to records    the record's object, or null (registered with RegisterSharedRecord)
//   QList, QSet, QStringList ...  array (a set prints sorted, so its output is stable)
//   QVariant, QJsonValue          as themselves
namespace OrvaScript
{
// Compact JSON text of a value; false (with Error) for a type that has no JSON form.
bool ToJsonText(const QVariant& Value, QString& OutText, QString& OutError);
// The same, as a QJsonValue (for comparisons: member order does not matter there).
bool ToJson(const QVariant& Value, QJsonValue& OutJson, QString& OutError);

// Builds a value of Type from JSON.
bool FromJson(const QJsonValue& Json, QMetaType Type, QVariant& OutValue, QString& OutError);

// A value of another type made into Type: the same type as is, a record from a shared pointer to
// it (and back), anything else through its JSON form.
bool ConvertTo(const QVariant& Value, QMetaType Type, QVariant& OutValue, QString& OutError);

// Whether the values are equal as JSON. Arrays that came from sets are compared as sets.
bool JsonEquals(const QVariant& Actual, const QJsonValue& Expected, QString& OutError, bool& bOutEqual);

// Parses one JSON value of any kind, scalars included. Error names the problem.
bool ParseJson(const QString& Text, QJsonValue& OutJson, QString& OutError);
QString JsonText(const QJsonValue& Json);

// One step of a path below a property: ".Field" or "[Index]".
struct FPathStep
{
	QString Field;
	int Index = -1;
	bool IsIndex() const { return Field.isEmpty(); }
};

// "Name.Field[2].Other" into its head ("Name") and steps; false on malformed text.
bool ParsePath(const QString& Text, QString& OutHead, QList<FPathStep>& OutSteps, QString& OutError);
QString PathText(const QString& Head, const QList<FPathStep>& Steps);

// Follows the steps from Value.
bool Navigate(const QVariant& Value, const QList<FPathStep>& Steps, QVariant& OutValue, QString& OutError);
// Replaces what the steps name inside Root by NewValue (converted to its type); records reached
// through shared pointers are changed in place.
bool AssignAt(QVariant& Root, const QList<FPathStep>& Steps, const QVariant& NewValue, QString& OutError);

// A shared pointer type that stands for a record: how to reach the record and how to make one.
struct FSharedRecordType
{
	QMetaType PointerType;
	QMetaType RecordType;
	// Address of the record in the pointer stored at PointerStorage; null for a null pointer.
	std::function<void*(const void* PointerStorage)> Get;
	// Stores a new shared record copied from Record into PointerStorage.
	std::function<void(void* PointerStorage, const void* Record)> Make;
};

void RegisterSharedRecord(const FSharedRecordType& Type);
const FSharedRecordType* FindSharedRecord(QMetaType PointerType);

template <class T>
void RegisterSharedRecord()
{
	using FPointer = std::shared_ptr<T>;
	RegisterSharedRecord(
	    FSharedRecordType{QMetaType::fromType<FPointer>(), QMetaType::fromType<T>(),
	                      [](const void* Storage) -> void* { return static_cast<const FPointer*>(Storage)->get(); },
	                      [](void* Storage, const void* Record)
	                      { *static_cast<FPointer*>(Storage) = std::make_shared<T>(*static_cast<const T*>(Record)); }});
}
} // namespace OrvaScript
