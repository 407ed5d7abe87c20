#pragma once

#include "Log.h"
#include "OrvaScriptRunner.h"
#include "OrvaScriptSecretMask.h"
#include "OrvaScriptValue.h"

#include <QList>
#include <QMetaMethod>
#include <QMetaObject>
#include <QObject>
#include <QString>
#include <QVariant>

#include <deque>
#include <map>

namespace OrvaScript
{
// Signals and slots of QObject itself (destroyed, deleteLater ...) are not part of a subsystem's
// scripted surface.
inline int FirstOwnMethod()
{
	return QObject::staticMetaObject.methodCount();
}

// Receives every signal of the watched subsystems through one dynamic slot per signal, the way
// QSignalSpy does, and keeps the arguments of each emission until a `wait` takes them.
class FSignalRecorder final : public QObject
{
public:
	explicit FSignalRecorder(const FSecretMask& InMask)
	    : Mask(InMask)
	{
	}

	void Watch(QObject* Subsystem)
	{
		const QMetaObject* Meta = Subsystem->metaObject();
		for (int Index = FirstOwnMethod(); Index < Meta->methodCount(); ++Index)
		{
			const QMetaMethod Method = Meta->method(Index);
			if (Method.methodType() != QMetaMethod::Signal)
			{
				continue;
			}
			const int Slot = int(Watched.size());
			Watched.append({Method, QString::fromLatin1(Meta->className()) + QLatin1Char('.') +
			                            QString::fromLatin1(Method.name())});
			QMetaObject::connect(Subsystem, Index, this, FirstOwnMethod() + Slot, Qt::DirectConnection);
		}
	}

	int qt_metacall(QMetaObject::Call Call, int Id, void** Arguments) override
	{
		Id = QObject::qt_metacall(Call, Id, Arguments);
		if (Id < 0 || Call != QMetaObject::InvokeMetaMethod)
		{
			return Id;
		}
		if (Id < Watched.size())
		{
			Record(Watched[Id], Arguments);
		}
		return -1;
	}

	std::deque<QVariantList>& Queue(const QString& Event) { return Queues[Event]; }

private:
	struct FWatched
	{
		QMetaMethod Signal;
		QString Event;
	};

	void Record(const FWatched& Watch, void** Arguments)
	{
		QVariantList Values;
		for (int Index = 0; Index < Watch.Signal.parameterCount(); ++Index)
		{
			Values.append(QVariant(Watch.Signal.parameterMetaType(Index), Arguments[Index + 1]));
		}
		QString Text;
		QString Error;
		ToJsonText(Values, Text, Error);
		UE_LOG(LogOrvaAutomation, Log, Mask.Apply(QStringLiteral("Event %1 %2").arg(Watch.Event, Text)));
		Queues[Watch.Event].push_back(Values);
	}

	const FSecretMask& Mask;
	QList<FWatched> Watched;
	// A wait holds on to its queue while other events arrive: node-based, so entries stay put.
	std::map<QString, std::deque<QVariantList>> Queues;
};
} // namespace OrvaScript
