#include "OrvaScriptValue.h"

#include "Json.h"
#include "SoftObjectPath.h"

#include <QAssociativeIterable>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaEnum>
#include <QMetaObject>
#include <QMetaProperty>
#include <QSequentialIterable>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace OrvaScript
{
namespace
{
QList<FSharedRecordType>& SharedRecords()
{
	static QList<FSharedRecordType> Types;
	return Types;
}

QString TypeName(QMetaType Type)
{
	return Type.isValid() ? QString::fromLatin1(Type.name()) : QStringLiteral("<no type>");
}

// Container and pointer conversions of a type are registered with it the first time its id is
// asked for; types that only ever came from moc's tables may not have had that yet.
void EnsureRegistered(QMetaType Type)
{
	if (Type.isValid())
	{
		Type.id();
	}
}

bool IsSequential(QMetaType Type)
{
	EnsureRegistered(Type);
	return QMetaType::canView(Type, QMetaType::fromType<QSequentialIterable>()) ||
	       QMetaType::canConvert(Type, QMetaType::fromType<QSequentialIterable>());
}

bool IsAssociative(QMetaType Type)
{
	EnsureRegistered(Type);
	return QMetaType::canConvert(Type, QMetaType::fromType<QAssociativeIterable>());
}

bool IsSet(QMetaType Type)
{
	return QByteArray(Type.name()).startsWith("QSet<");
}

bool IsGadget(QMetaType Type)
{
	return (Type.flags() & QMetaType::IsGadget) && Type.metaObject();
}

bool IsEnum(QMetaType Type)
{
	return Type.flags() & QMetaType::IsEnumeration;
}

// The Q_ENUM description of an enum type, when it has one.
std::optional<QMetaEnum> EnumOf(QMetaType Type)
{
	const QMetaObject* Enclosing = Type.metaObject();
	if (!Enclosing)
	{
		return std::nullopt;
	}
	QByteArray Name = Type.name();
	const qsizetype Scope = Name.lastIndexOf("::");
	if (Scope >= 0)
	{
		Name = Name.mid(Scope + 2);
	}
	const int Index = Enclosing->indexOfEnumerator(Name.constData());
	if (Index < 0)
	{
		return std::nullopt;
	}
	return Enclosing->enumerator(Index);
}

qint64 ReadEnumValue(QMetaType Type, const void* Data)
{
	const bool bUnsigned = Type.flags() & QMetaType::IsUnsignedEnumeration;
	switch (Type.sizeOf())
	{
	case 1:
		return bUnsigned ? qint64(*static_cast<const quint8*>(Data)) : qint64(*static_cast<const qint8*>(Data));
	case 2:
		return bUnsigned ? qint64(*static_cast<const quint16*>(Data)) : qint64(*static_cast<const qint16*>(Data));
	case 4:
		return bUnsigned ? qint64(*static_cast<const quint32*>(Data)) : qint64(*static_cast<const qint32*>(Data));
	default:
		return *static_cast<const qint64*>(Data);
	}
}

void WriteEnumValue(QMetaType Type, void* Data, qint64 Value)
{
	switch (Type.sizeOf())
	{
	case 1:
		*static_cast<quint8*>(Data) = quint8(Value);
		break;
	case 2:
		*static_cast<quint16*>(Data) = quint16(Value);
		break;
	case 4:
		*static_cast<quint32*>(Data) = quint32(Value);
		break;
	default:
		*static_cast<qint64*>(Data) = Value;
		break;
	}
}

template <class T>
QString NumberText(T Value)
{
	if (!std::isfinite(Value))
	{
		return QStringLiteral("null");
	}
	char Buffer[64];
	const std::to_chars_result Result = std::to_chars(Buffer, Buffer + sizeof(Buffer), Value);
	return QString::fromLatin1(Buffer, int(Result.ptr - Buffer));
}

QString Shorten(const QString& Text)
{
	return Text.size() > 80 ? Text.left(77) + QStringLiteral("...") : Text;
}

bool WriteValue(const QVariant& Value, QString& Out, QString& Error);

bool WriteRecord(QMetaType Type, const void* Data, QString& Out, QString& Error)
{
	const QMetaObject* Meta = Type.metaObject();
	Out += QLatin1Char('{');
	for (int Index = 0; Index < Meta->propertyCount(); ++Index)
	{
		const QMetaProperty Property = Meta->property(Index);
		if (Index > 0)
		{
			Out += QLatin1Char(',');
		}
		Out += FJson::Quote(QString::fromLatin1(Property.name())) + QLatin1Char(':');
		if (!WriteValue(Property.readOnGadget(Data), Out, Error))
		{
			Error = QStringLiteral("%1.%2: %3").arg(TypeName(Type), QString::fromLatin1(Property.name()), Error);
			return false;
		}
	}
	Out += QLatin1Char('}');
	return true;
}

bool WriteSequence(const QVariant& Value, QString& Out, QString& Error)
{
	const QSequentialIterable Iterable = Value.value<QSequentialIterable>();
	QStringList Items;
	for (const QVariant& Item : Iterable)
	{
		QString Text;
		if (!WriteValue(Item, Text, Error))
		{
			return false;
		}
		Items.append(Text);
	}
	// Sets have no order of their own; sorting keeps the output the same from run to run.
	if (IsSet(Value.metaType()))
	{
		Items.sort();
	}
	Out += QLatin1Char('[') + Items.join(QLatin1Char(',')) + QLatin1Char(']');
	return true;
}

bool WriteAssociation(const QVariant& Value, QString& Out, QString& Error)
{
	const QAssociativeIterable Iterable = Value.value<QAssociativeIterable>();
	Out += QLatin1Char('{');
	bool bFirst = true;
	for (auto It = Iterable.begin(); It != Iterable.end(); ++It)
	{
		if (!bFirst)
		{
			Out += QLatin1Char(',');
		}
		bFirst = false;
		Out += FJson::Quote(It.key().toString()) + QLatin1Char(':');
		if (!WriteValue(It.value(), Out, Error))
		{
			return false;
		}
	}
	Out += QLatin1Char('}');
	return true;
}

bool WriteValue(const QVariant& Value, QString& Out, QString& Error)
{
	if (!Value.isValid())
	{
		Out += QStringLiteral("null");
		return true;
	}
	const QMetaType Type = Value.metaType();
	EnsureRegistered(Type);
	switch (Type.id())
	{
	case QMetaType::Nullptr:
		Out += QStringLiteral("null");
		return true;
	case QMetaType::Bool:
		Out += Value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
		return true;
	case QMetaType::Int:
	case QMetaType::Short:
	case QMetaType::Long:
	case QMetaType::LongLong:
	case QMetaType::SChar:
	case QMetaType::Char:
		Out += QString::number(Value.toLongLong());
		return true;
	case QMetaType::UInt:
	case QMetaType::UShort:
	case QMetaType::ULong:
	case QMetaType::ULongLong:
	case QMetaType::UChar:
		Out += QString::number(Value.toULongLong());
		return true;
	case QMetaType::Float:
		Out += NumberText(Value.toFloat());
		return true;
	case QMetaType::Double:
		Out += NumberText(Value.toDouble());
		return true;
	case QMetaType::QString:
		Out += FJson::Quote(Value.toString());
		return true;
	case QMetaType::QByteArray:
		Out += FJson::Quote(QString::fromUtf8(Value.toByteArray()));
		return true;
	case QMetaType::QJsonValue:
		Out += JsonText(Value.toJsonValue());
		return true;
	case QMetaType::QJsonObject:
		Out += JsonText(Value.toJsonObject());
		return true;
	case QMetaType::QJsonArray:
		Out += JsonText(Value.toJsonArray());
		return true;
	case QMetaType::QVariant:
		return WriteValue(*static_cast<const QVariant*>(Value.constData()), Out, Error);
	default:
		break;
	}
	if (Type == QMetaType::fromType<FSoftObjectPath>())
	{
		Out += FJson::Quote(Value.value<FSoftObjectPath>().ToString());
		return true;
	}
	if (IsEnum(Type))
	{
		const qint64 Number = ReadEnumValue(Type, Value.constData());
		const std::optional<QMetaEnum> Enum = EnumOf(Type);
		const char* Key = Enum ? Enum->valueToKey(int(Number)) : nullptr;
		Out += Key ? FJson::Quote(QString::fromLatin1(Key)) : QString::number(Number);
		return true;
	}
	if (const FSharedRecordType* Shared = FindSharedRecord(Type))
	{
		const void* Record = Shared->Get(Value.constData());
		if (!Record)
		{
			Out += QStringLiteral("null");
			return true;
		}
		return WriteRecord(Shared->RecordType, Record, Out, Error);
	}
	if (IsGadget(Type))
	{
		return WriteRecord(Type, Value.constData(), Out, Error);
	}
	if (IsSequential(Type))
	{
		return WriteSequence(Value, Out, Error);
	}
	if (IsAssociative(Type))
	{
		return WriteAssociation(Value, Out, Error);
	}
	Error = QStringLiteral("values of type %1 have no JSON form").arg(TypeName(Type));
	return false;
}

QString Describe(const QJsonValue& Json)
{
	return Shorten(JsonText(Json));
}

template <class T>
bool IntegerFromJson(const QJsonValue& Json, QVariant& Out, QString& Error)
{
	if (!Json.isDouble())
	{
		Error = QStringLiteral("expected a whole number, got %1").arg(Describe(Json));
		return false;
	}
	const double Number = Json.toDouble();
	if (std::trunc(Number) != Number)
	{
		Error = QStringLiteral("expected a whole number, got %1").arg(Describe(Json));
		return false;
	}
	// The parser keeps whole numbers of 64 bits exactly; anything else is a double, whose range is
	// checked before it is converted (converting one beyond the target's range is undefined).
	const qint64 Exact = Json.toInteger(0);
	if (Exact != 0 || Json.toInteger(1) == 0)
	{
		const bool bInRange =
		    std::is_signed_v<T>
		        ? Exact >= qint64(std::numeric_limits<T>::min()) && Exact <= qint64(std::numeric_limits<T>::max())
		        : Exact >= 0 && quint64(Exact) <= quint64(std::numeric_limits<T>::max());
		if (bInRange)
		{
			Out = QVariant::fromValue(T(Exact));
			return true;
		}
	}
	else if (Number >= double(std::numeric_limits<T>::min()) &&
	         Number < std::ldexp(1.0, std::numeric_limits<T>::digits))
	{
		Out = QVariant::fromValue(T(Number));
		return true;
	}
	Error = QStringLiteral("%1 is out of range").arg(Describe(Json));
	return false;
}

bool RecordFromJson(const QJsonValue& Json, QMetaType Type, void* Data, QString& Error)
{
	if (!Json.isObject())
	{
		Error = QStringLiteral("expected an object for %1, got %2").arg(TypeName(Type), Describe(Json));
		return false;
	}
	const QMetaObject* Meta = Type.metaObject();
	const QJsonObject Object = Json.toObject();
	for (auto It = Object.begin(); It != Object.end(); ++It)
	{
		const int Index = Meta->indexOfProperty(It.key().toUtf8().constData());
		if (Index < 0)
		{
			Error = QStringLiteral("%1 has no field \"%2\"").arg(TypeName(Type), It.key());
			return false;
		}
		const QMetaProperty Property = Meta->property(Index);
		if (!Property.isWritable())
		{
			Error = QStringLiteral("field \"%1\" of %2 is read-only").arg(It.key(), TypeName(Type));
			return false;
		}
		QVariant Field;
		if (!FromJson(It.value(), Property.metaType(), Field, Error))
		{
			Error = QStringLiteral("field \"%1\": %2").arg(It.key(), Error);
			return false;
		}
		if (!Property.writeOnGadget(Data, Field))
		{
			Error = QStringLiteral("field \"%1\" of %2 cannot be written").arg(It.key(), TypeName(Type));
			return false;
		}
	}
	return true;
}

bool SequenceFromJson(const QJsonValue& Json, QMetaType Type, QVariant& Out, QString& Error)
{
	if (!Json.isArray())
	{
		Error = QStringLiteral("expected an array for %1, got %2").arg(TypeName(Type), Describe(Json));
		return false;
	}
	QVariant Container(Type);
	if (!QMetaType::canView(Type, QMetaType::fromType<QSequentialIterable>()))
	{
		Error = QStringLiteral("cannot fill a %1").arg(TypeName(Type));
		return false;
	}
	QSequentialIterable Iterable = Container.view<QSequentialIterable>();
	if (!Iterable.metaContainer().canAddValue())
	{
		Error = QStringLiteral("cannot add elements to a %1").arg(TypeName(Type));
		return false;
	}
	const QMetaType ElementType = Iterable.valueMetaType();
	const QJsonArray Array = Json.toArray();
	for (qsizetype Index = 0; Index < Array.size(); ++Index)
	{
		QVariant Element;
		if (!FromJson(Array[Index], ElementType, Element, Error))
		{
			Error = QStringLiteral("element %1: %2").arg(Index).arg(Error);
			return false;
		}
		// Sets take values only where they like; lists keep the JSON order.
		Iterable.addValue(Element, Iterable.metaContainer().canAddValueAtEnd() ? QSequentialIterable::AtEnd
		                                                                       : QSequentialIterable::Unspecified);
	}
	Out = Container;
	return true;
}

bool EnumFromJson(const QJsonValue& Json, QMetaType Type, QVariant& Out, QString& Error)
{
	const std::optional<QMetaEnum> Enum = EnumOf(Type);
	qint64 Number = 0;
	if (Json.isString())
	{
		bool bFound = false;
		Number = Enum ? Enum->keyToValue(Json.toString().toUtf8().constData(), &bFound) : 0;
		if (!bFound)
		{
			QStringList Keys;
			for (int Index = 0; Enum && Index < Enum->keyCount(); ++Index)
			{
				Keys.append(QString::fromLatin1(Enum->key(Index)));
			}
			Error = QStringLiteral("%1 is not a value of %2 (%3)")
			            .arg(Describe(Json), TypeName(Type), Keys.join(QStringLiteral(", ")));
			return false;
		}
	}
	else if (Json.isDouble() && std::trunc(Json.toDouble()) == Json.toDouble())
	{
		// Enumerators are ints: a number beyond them would wrap onto another enumerator.
		const double Whole = Json.toDouble();
		if (Whole < double(std::numeric_limits<int>::min()) || Whole > double(std::numeric_limits<int>::max()))
		{
			Error = QStringLiteral("%1 is not a value of %2").arg(Describe(Json), TypeName(Type));
			return false;
		}
		Number = qint64(Whole);
		if (Enum && !Enum->valueToKey(int(Number)))
		{
			Error = QStringLiteral("%1 is not a value of %2").arg(Describe(Json), TypeName(Type));
			return false;
		}
	}
	else
	{
		Error = QStringLiteral("expected a name of %1, got %2").arg(TypeName(Type), Describe(Json));
		return false;
	}
	Out = QVariant(Type);
	WriteEnumValue(Type, Out.data(), Number);
	return true;
}

bool RequireKind(bool bOk, const char* Expected, const QJsonValue& Json, QString& Error)
{
	if (!bOk)
	{
		Error = QStringLiteral("expected %1, got %2").arg(QLatin1String(Expected), Describe(Json));
	}
	return bOk;
}

// Where a field step lands: the record's type and address inside Value, or an error.
bool RecordOf(QVariant& Value, QMetaType& OutType, void*& OutData, const QString& Field, QString& Error)
{
	const QMetaType Type = Value.metaType();
	if (const FSharedRecordType* Shared = FindSharedRecord(Type))
	{
		OutData = Shared->Get(Value.constData());
		OutType = Shared->RecordType;
		if (!OutData)
		{
			Error = QStringLiteral(".%1: the %2 is null").arg(Field, TypeName(OutType));
			return false;
		}
		return true;
	}
	if (IsGadget(Type))
	{
		OutType = Type;
		OutData = Value.data();
		return true;
	}
	Error = QStringLiteral(".%1: a %2 has no fields").arg(Field, TypeName(Type));
	return false;
}

bool FieldOf(QMetaType RecordType, const QString& Field, QMetaProperty& OutProperty, QString& Error)
{
	const int Index = RecordType.metaObject()->indexOfProperty(Field.toUtf8().constData());
	if (Index < 0)
	{
		Error = QStringLiteral("%1 has no field \"%2\"").arg(TypeName(RecordType), Field);
		return false;
	}
	OutProperty = RecordType.metaObject()->property(Index);
	return true;
}

bool CheckIndex(int Index, qsizetype Size, QString& Error)
{
	if (Index < 0 || Index >= Size)
	{
		Error = QStringLiteral("[%1]: index out of range (the list has %2 entries)").arg(Index).arg(Size);
		return false;
	}
	return true;
}

bool AssignStep(QVariant& Current, const QList<FPathStep>& Steps, int Position, const QVariant& NewValue,
                QString& Error)
{
	if (Position == Steps.size())
	{
		QVariant Converted;
		if (!ConvertTo(NewValue, Current.metaType(), Converted, Error))
		{
			return false;
		}
		Current = Converted;
		return true;
	}
	const FPathStep& Step = Steps[Position];
	if (!Step.IsIndex())
	{
		QMetaType RecordType;
		void* Record = nullptr;
		QMetaProperty Property;
		if (!RecordOf(Current, RecordType, Record, Step.Field, Error) ||
		    !FieldOf(RecordType, Step.Field, Property, Error))
		{
			return false;
		}
		if (!Property.isWritable())
		{
			Error = QStringLiteral("field \"%1\" of %2 is read-only").arg(Step.Field, TypeName(RecordType));
			return false;
		}
		QVariant Child = Property.readOnGadget(Record);
		if (!AssignStep(Child, Steps, Position + 1, NewValue, Error))
		{
			return false;
		}
		Property.writeOnGadget(Record, Child);
		return true;
	}
	if (!IsSequential(Current.metaType()))
	{
		Error = QStringLiteral("[%1]: a %2 is not a list").arg(Step.Index).arg(TypeName(Current.metaType()));
		return false;
	}
	if (!QMetaType::canView(Current.metaType(), QMetaType::fromType<QSequentialIterable>()))
	{
		Error =
		    QStringLiteral("[%1]: a %2 cannot be changed in place").arg(Step.Index).arg(TypeName(Current.metaType()));
		return false;
	}
	QSequentialIterable Iterable = Current.view<QSequentialIterable>();
	if (!Iterable.metaContainer().canSetValueAtIndex())
	{
		Error = QStringLiteral("[%1]: the entries of a %2 cannot be replaced one by one")
		            .arg(Step.Index)
		            .arg(TypeName(Current.metaType()));
		return false;
	}
	if (!CheckIndex(Step.Index, Iterable.size(), Error))
	{
		return false;
	}
	QVariant Child = Iterable.at(Step.Index);
	if (!AssignStep(Child, Steps, Position + 1, NewValue, Error))
	{
		return false;
	}
	Iterable.set(Step.Index, Child);
	return true;
}

bool IsIdentifierStart(QChar Ch)
{
	return Ch.isLetter() || Ch == QLatin1Char('_');
}
bool IsIdentifierPart(QChar Ch)
{
	return Ch.isLetterOrNumber() || Ch == QLatin1Char('_');
}
} // namespace

void RegisterSharedRecord(const FSharedRecordType& Type)
{
	if (!FindSharedRecord(Type.PointerType))
	{
		EnsureRegistered(Type.PointerType);
		EnsureRegistered(Type.RecordType);
		SharedRecords().append(Type);
	}
}

const FSharedRecordType* FindSharedRecord(QMetaType PointerType)
{
	for (const FSharedRecordType& Type : SharedRecords())
	{
		if (Type.PointerType == PointerType)
		{
			return &Type;
		}
	}
	return nullptr;
}

bool ToJsonText(const QVariant& Value, QString& OutText, QString& OutError)
{
	QString Text;
	if (!WriteValue(Value, Text, OutError))
	{
		return false;
	}
	OutText = Text;
	return true;
}

bool ToJson(const QVariant& Value, QJsonValue& OutJson, QString& OutError)
{
	QString Text;
	return ToJsonText(Value, Text, OutError) && ParseJson(Text, OutJson, OutError);
}

bool FromJson(const QJsonValue& Json, QMetaType Type, QVariant& OutValue, QString& OutError)
{
	if (!Type.isValid())
	{
		OutError = QStringLiteral("the target has no type");
		return false;
	}
	EnsureRegistered(Type);
	switch (Type.id())
	{
	case QMetaType::QVariant:
	{
		// Wrapped, so that the storage holds a QVariant as a QVariant parameter expects.
		const QVariant Inner = Json.toVariant();
		OutValue = QVariant(Type, &Inner);
		return true;
	}
	case QMetaType::QJsonValue:
		OutValue = QVariant::fromValue(Json);
		return true;
	case QMetaType::QJsonObject:
		OutValue = QVariant::fromValue(Json.toObject());
		return RequireKind(Json.isObject(), "an object", Json, OutError);
	case QMetaType::QJsonArray:
		OutValue = QVariant::fromValue(Json.toArray());
		return RequireKind(Json.isArray(), "an array", Json, OutError);
	case QMetaType::Bool:
		OutValue = QVariant::fromValue(Json.toBool());
		return RequireKind(Json.isBool(), "true or false", Json, OutError);
	case QMetaType::QString:
		OutValue = QVariant::fromValue(Json.toString());
		return RequireKind(Json.isString(), "a string", Json, OutError);
	case QMetaType::QByteArray:
		OutValue = QVariant::fromValue(Json.toString().toUtf8());
		return RequireKind(Json.isString(), "a string", Json, OutError);
	case QMetaType::Double:
		OutValue = QVariant::fromValue(Json.toDouble());
		return RequireKind(Json.isDouble(), "a number", Json, OutError);
	case QMetaType::Float:
		if (Json.isDouble() && std::abs(Json.toDouble()) > double(std::numeric_limits<float>::max()))
		{
			OutError = QStringLiteral("%1 is out of range").arg(Describe(Json));
			return false;
		}
		OutValue = QVariant::fromValue(float(Json.toDouble()));
		return RequireKind(Json.isDouble(), "a number", Json, OutError);
	case QMetaType::Int:
		return IntegerFromJson<int>(Json, OutValue, OutError);
	case QMetaType::UInt:
		return IntegerFromJson<uint>(Json, OutValue, OutError);
	case QMetaType::Short:
		return IntegerFromJson<short>(Json, OutValue, OutError);
	case QMetaType::UShort:
		return IntegerFromJson<ushort>(Json, OutValue, OutError);
	case QMetaType::Long:
		return IntegerFromJson<long>(Json, OutValue, OutError);
	case QMetaType::ULong:
		return IntegerFromJson<ulong>(Json, OutValue, OutError);
	case QMetaType::LongLong:
		return IntegerFromJson<qlonglong>(Json, OutValue, OutError);
	case QMetaType::ULongLong:
		return IntegerFromJson<qulonglong>(Json, OutValue, OutError);
	case QMetaType::SChar:
		return IntegerFromJson<signed char>(Json, OutValue, OutError);
	case QMetaType::UChar:
		return IntegerFromJson<uchar>(Json, OutValue, OutError);
	default:
		break;
	}
	if (Type == QMetaType::fromType<FSoftObjectPath>())
	{
		if (Json.isNull() || Json.toString().isEmpty() || Json.toString() == QLatin1String("None"))
		{
			OutValue = QVariant::fromValue(FSoftObjectPath());
			return Json.isNull() || RequireKind(Json.isString(), "an object path string", Json, OutError);
		}
		const FSoftObjectPath Path(Json.toString());
		if (!Json.isString() || !Path.IsValid())
		{
			OutError = QStringLiteral("expected an object path such as \"/Game/Maps/Entry.Entry\", got %1")
			               .arg(Describe(Json));
			return false;
		}
		OutValue = QVariant::fromValue(Path);
		return true;
	}
	if (IsEnum(Type))
	{
		return EnumFromJson(Json, Type, OutValue, OutError);
	}
	if (const FSharedRecordType* Shared = FindSharedRecord(Type))
	{
		QVariant Pointer(Type);
		if (!Json.isNull())
		{
			QVariant Record(Shared->RecordType);
			if (!RecordFromJson(Json, Shared->RecordType, Record.data(), OutError))
			{
				return false;
			}
			Shared->Make(Pointer.data(), Record.constData());
		}
		OutValue = Pointer;
		return true;
	}
	if (IsGadget(Type))
	{
		QVariant Record(Type);
		if (!RecordFromJson(Json, Type, Record.data(), OutError))
		{
			return false;
		}
		OutValue = Record;
		return true;
	}
	if (IsSequential(Type))
	{
		return SequenceFromJson(Json, Type, OutValue, OutError);
	}
	OutError = QStringLiteral("cannot make a %1 from JSON").arg(TypeName(Type));
	return false;
}

bool ConvertTo(const QVariant& Value, QMetaType Type, QVariant& OutValue, QString& OutError)
{
	if (Value.metaType() == Type)
	{
		OutValue = Value;
		return true;
	}
	if (const FSharedRecordType* Shared = FindSharedRecord(Value.metaType()); Shared && Shared->RecordType == Type)
	{
		const void* Record = Shared->Get(Value.constData());
		if (!Record)
		{
			OutError = QStringLiteral("the %1 is null").arg(TypeName(Type));
			return false;
		}
		OutValue = QVariant(Type, Record);
		return true;
	}
	if (const FSharedRecordType* Shared = FindSharedRecord(Type); Shared && Shared->RecordType == Value.metaType())
	{
		QVariant Pointer(Type);
		Shared->Make(Pointer.data(), Value.constData());
		OutValue = Pointer;
		return true;
	}
	QJsonValue Json;
	return ToJson(Value, Json, OutError) && FromJson(Json, Type, OutValue, OutError);
}

bool JsonEquals(const QVariant& Actual, const QJsonValue& Expected, QString& OutError, bool& bOutEqual)
{
	QJsonValue ActualJson;
	if (!ToJson(Actual, ActualJson, OutError))
	{
		return false;
	}
	QJsonValue Wanted = Expected;
	if (IsSet(Actual.metaType()) && Expected.isArray())
	{
		QList<QJsonValue> Items;
		for (const QJsonValue& Item : Expected.toArray())
		{
			Items.append(Item);
		}
		std::sort(Items.begin(), Items.end(),
		          [](const QJsonValue& A, const QJsonValue& B) { return JsonText(A) < JsonText(B); });
		QJsonArray Sorted;
		for (const QJsonValue& Item : Items)
		{
			Sorted.append(Item);
		}
		Wanted = Sorted;
	}
	bOutEqual = ActualJson == Wanted;
	return true;
}

bool ParseJson(const QString& Text, QJsonValue& OutJson, QString& OutError)
{
	// The document parser takes only arrays and objects at the top, so a scalar rides in an array.
	QJsonParseError Problem;
	const QJsonDocument Document =
	    QJsonDocument::fromJson(QByteArray("[") + Text.toUtf8() + QByteArray("\n]"), &Problem);
	if (Problem.error != QJsonParseError::NoError || !Document.isArray() || Document.array().size() != 1)
	{
		OutError = Problem.error != QJsonParseError::NoError
		               ? QStringLiteral("%1 is not JSON (%2)").arg(Shorten(Text), Problem.errorString())
		               : QStringLiteral("%1 is not one JSON value").arg(Shorten(Text));
		return false;
	}
	OutJson = Document.array().at(0);
	return true;
}

QString JsonText(const QJsonValue& Json)
{
	const QByteArray Wrapped = QJsonDocument(QJsonArray{Json}).toJson(QJsonDocument::Compact);
	return QString::fromUtf8(Wrapped.mid(1, Wrapped.size() - 2));
}

bool ParsePath(const QString& Text, QString& OutHead, QList<FPathStep>& OutSteps, QString& OutError)
{
	OutSteps.clear();
	qsizetype Position = 0;
	auto ReadIdentifier = [&Text, &Position]()
	{
		const qsizetype Start = Position;
		if (Position < Text.size() && IsIdentifierStart(Text[Position]))
		{
			++Position;
			while (Position < Text.size() && IsIdentifierPart(Text[Position]))
			{
				++Position;
			}
		}
		return Text.mid(Start, Position - Start);
	};
	OutHead = ReadIdentifier();
	if (OutHead.isEmpty())
	{
		OutError = QStringLiteral("\"%1\" does not start with a name").arg(Text);
		return false;
	}
	while (Position < Text.size())
	{
		const QChar Ch = Text[Position];
		if (Ch == QLatin1Char('.'))
		{
			++Position;
			FPathStep Step;
			Step.Field = ReadIdentifier();
			if (Step.Field.isEmpty())
			{
				OutError = QStringLiteral("\"%1\": a field name must follow \".\"").arg(Text);
				return false;
			}
			OutSteps.append(Step);
		}
		else if (Ch == QLatin1Char('['))
		{
			const qsizetype Close = Text.indexOf(QLatin1Char(']'), Position);
			bool bNumber = false;
			const int Index = Close > Position ? Text.mid(Position + 1, Close - Position - 1).toInt(&bNumber) : -1;
			if (!bNumber || Index < 0)
			{
				OutError = QStringLiteral("\"%1\": an index is a whole number in brackets, as in [0]").arg(Text);
				return false;
			}
			FPathStep Step;
			Step.Index = Index;
			OutSteps.append(Step);
			Position = Close + 1;
		}
		else
		{
			OutError = QStringLiteral("\"%1\": unexpected \"%2\"").arg(Text, Ch);
			return false;
		}
	}
	return true;
}

QString PathText(const QString& Head, const QList<FPathStep>& Steps)
{
	QString Text = Head;
	for (const FPathStep& Step : Steps)
	{
		Text += Step.IsIndex() ? QStringLiteral("[%1]").arg(Step.Index) : QLatin1Char('.') + Step.Field;
	}
	return Text;
}

bool Navigate(const QVariant& Value, const QList<FPathStep>& Steps, QVariant& OutValue, QString& OutError)
{
	QVariant Current = Value;
	for (const FPathStep& Step : Steps)
	{
		if (!Step.IsIndex())
		{
			QMetaType RecordType;
			void* Record = nullptr;
			QMetaProperty Property;
			if (!RecordOf(Current, RecordType, Record, Step.Field, OutError) ||
			    !FieldOf(RecordType, Step.Field, Property, OutError))
			{
				return false;
			}
			Current = Property.readOnGadget(Record);
			continue;
		}
		if (!IsSequential(Current.metaType()))
		{
			OutError = QStringLiteral("[%1]: a %2 is not a list").arg(Step.Index).arg(TypeName(Current.metaType()));
			return false;
		}
		const QSequentialIterable Iterable = Current.value<QSequentialIterable>();
		if (!CheckIndex(Step.Index, Iterable.size(), OutError))
		{
			return false;
		}
		Current = Iterable.at(Step.Index);
	}
	OutValue = Current;
	return true;
}

bool AssignAt(QVariant& Root, const QList<FPathStep>& Steps, const QVariant& NewValue, QString& OutError)
{
	return AssignStep(Root, Steps, 0, NewValue, OutError);
}
} // namespace OrvaScript
