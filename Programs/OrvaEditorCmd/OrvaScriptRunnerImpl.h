#pragma once

// The runner's state and helpers, shared by the runner's loop (OrvaScriptRunner.cpp) and its
// commands (OrvaScriptCommands.cpp).

#include "EditorHost.h"
#include "EditorSubsystem.h"
#include "Json.h"
#include "OrvaSDKSubsystem.h"
#include "OrvaScriptRecorder.h"
#include "OrvaScriptRunner.h"
#include "OrvaScriptSecretMask.h"
#include "OrvaScriptValue.h"
#include "OrvaScriptWatchers.h"

#include <QDir>
#include <QJsonValue>
#include <QMetaMethod>
#include <QMetaObject>
#include <QMetaProperty>
#include <QStringList>

#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>

namespace OrvaScript
{
inline constexpr double DefaultWaitSeconds = 30.0;

// The plugin shares these records through pointers; scripts see and pass the records themselves.
inline void RegisterPluginRecords()
{
	static const bool bRegistered = []
	{
		RegisterSharedRecord<FOrvaImageData>();
		RegisterSharedRecord<FOrvaWorldData>();
		RegisterSharedRecord<FWorkspaceData>();
		return true;
	}();
	(void)bRegistered;
}

inline QString SecondsText(double Seconds)
{
	return QString::number(Seconds) + QStringLiteral(" s");
}
} // namespace OrvaScript

// Only the runner's own two files include this.
using namespace OrvaScript;

struct FOrvaScriptRunner::FImpl
{
	FEditorHost& Host;
	FSecretMask Mask;
	FSignalRecorder Recorder{Mask};
	FUploadWatcher Uploads;
	FMessageBoxWatcher Boxes{Host};
	std::function<void(const QString&)> Output;
	double DefaultWait = DefaultWaitSeconds;
	QString BaseDir;
	QString Error;
	int FailedLine = 0;

	explicit FImpl(FEditorHost& InHost)
	    : Host(InHost)
	{
		RegisterPluginRecords();
		for (UEditorSubsystem* Subsystem : Host.GetSubsystems())
		{
			Recorder.Watch(Subsystem);
		}
		if (UOrvaSDKSubsystem* Sdk = Host.GetEditorSubsystem<UOrvaSDKSubsystem>())
		{
			Uploads.Watch(Sdk);
		}
	}

	void Print(const QString& RawLine) const
	{
		const QString Line = Mask.Apply(RawLine);
		if (Output)
		{
			Output(Line);
			return;
		}
		std::fprintf(stdout, "%s\n", qUtf8Printable(Line));
		std::fflush(stdout);
	}

	// "Subsystem.Rest" into the subsystem and the rest.
	bool ResolveTarget(const QString& Target, UEditorSubsystem*& OutSubsystem, QString& OutRest, QString& Reason) const
	{
		const qsizetype Dot = Target.indexOf(QLatin1Char('.'));
		const QString ClassName = Target.left(Dot);
		if (Dot <= 0 || Dot == Target.size() - 1)
		{
			Reason = QStringLiteral("expected Subsystem.Name, got \"%1\"").arg(Target);
			return false;
		}
		OutSubsystem = Host.FindSubsystem(ClassName);
		if (!OutSubsystem)
		{
			QStringList Known;
			for (const UEditorSubsystem* Subsystem : Host.GetSubsystems())
			{
				Known.append(QString::fromLatin1(Subsystem->metaObject()->className()));
			}
			Reason = QStringLiteral("unknown subsystem \"%1\" (this host has %2)")
			             .arg(ClassName, Known.join(QStringLiteral(", ")));
			return false;
		}
		OutRest = Target.mid(Dot + 1);
		return true;
	}

	// The Test operations of the presigned upload path are private to the plugin but meant for
	// scripts.
	static bool IsTestOperation(const QMetaMethod& Method) { return QByteArray(Method.name()).startsWith("Test"); }

	static QList<QMetaMethod> Operations(const QObject* Subsystem, const QString& Name)
	{
		QList<QMetaMethod> Found;
		const QMetaObject* Meta = Subsystem->metaObject();
		for (int Index = FirstOwnMethod(); Index < Meta->methodCount(); ++Index)
		{
			const QMetaMethod Method = Meta->method(Index);
			if ((Method.methodType() == QMetaMethod::Method || Method.methodType() == QMetaMethod::Slot) &&
			    (Method.access() == QMetaMethod::Public || IsTestOperation(Method)) &&
			    QLatin1String(Method.name()) == Name)
			{
				Found.append(Method);
			}
		}
		return Found;
	}

	static bool HasSignal(const QObject* Subsystem, const QString& Name)
	{
		const QMetaObject* Meta = Subsystem->metaObject();
		for (int Index = FirstOwnMethod(); Index < Meta->methodCount(); ++Index)
		{
			const QMetaMethod Method = Meta->method(Index);
			if (Method.methodType() == QMetaMethod::Signal && QLatin1String(Method.name()) == Name)
			{
				return true;
			}
		}
		return false;
	}

	// Calls Method with arguments already of its parameter types.
	static QVariant Invoke(QObject* Subsystem, const QMetaMethod& Method, QVariantList& Arguments)
	{
		QVariant Result;
		QList<void*> Slots;
		if (Method.returnMetaType().isValid() && Method.returnMetaType().id() != QMetaType::Void)
		{
			Result = QVariant(Method.returnMetaType());
			Slots.append(Result.data());
		}
		else
		{
			Slots.append(nullptr);
		}
		for (QVariant& Argument : Arguments)
		{
			Slots.append(Argument.data());
		}
		QMetaObject::metacall(Subsystem, QMetaObject::InvokeMetaMethod, Method.methodIndex(), Slots.data());
		return Result;
	}

	// The value a path names: a property, or the result of an operation without parameters, then
	// the steps below it.
	bool Evaluate(UEditorSubsystem* Subsystem, const QString& PathText, QVariant& OutValue, QString& Reason)
	{
		QString Head;
		QList<FPathStep> Steps;
		if (!ParsePath(PathText, Head, Steps, Reason))
		{
			return false;
		}
		const QMetaObject* Meta = Subsystem->metaObject();
		QVariant Root;
		const int PropertyIndex = Meta->indexOfProperty(Head.toUtf8().constData());
		if (PropertyIndex >= 0 && Meta->property(PropertyIndex).isReadable())
		{
			Root = Meta->property(PropertyIndex).read(Subsystem);
		}
		else
		{
			std::optional<QMetaMethod> Getter;
			for (const QMetaMethod& Method : Operations(Subsystem, Head))
			{
				if (Method.parameterCount() == 0 && Method.returnMetaType().id() != QMetaType::Void)
				{
					Getter = Method;
					break;
				}
			}
			if (!Getter)
			{
				Reason = QStringLiteral(
				             "%1 has no property, nor operation without parameters that returns a value, named \"%2\"")
				             .arg(QLatin1String(Meta->className()), Head);
				return false;
			}
			QVariantList NoArguments;
			Root = Invoke(Subsystem, *Getter, NoArguments);
		}
		return Navigate(Root, Steps, OutValue, Reason);
	}

	// An ARG or JSON token: a reference or a JSON value (carried as a QJsonValue until the
	// parameter's type is known).
	bool ValueOf(const QString& Token, QVariant& OutValue, QString& Reason)
	{
		// A file beside the script, as `choose` resolves it: scripts run from any folder.
		if (Token.startsWith(QLatin1String("@file:")))
		{
			const QString Relative = Token.mid(6);
			if (Relative.isEmpty())
			{
				Reason = QStringLiteral("@file: needs a path");
				return false;
			}
			OutValue = QVariant::fromValue(QJsonValue(QDir::cleanPath(QDir(BaseDir).absoluteFilePath(Relative))));
			return true;
		}
		if (Token.startsWith(QLatin1Char('@')))
		{
			UEditorSubsystem* Subsystem = nullptr;
			QString Rest;
			if (!ResolveTarget(Token.mid(1), Subsystem, Rest, Reason) || !Evaluate(Subsystem, Rest, OutValue, Reason))
			{
				Reason = Token + QStringLiteral(": ") + Reason;
				return false;
			}
			return true;
		}
		QJsonValue Json;
		if (!ParseJson(Token, Json, Reason))
		{
			return false;
		}
		OutValue = QVariant::fromValue(Json);
		return true;
	}

	bool Print(const QString& Key, const QString& Name, const QString& ValueKey, const QVariant& Value, QString& Reason)
	{
		QString Text;
		if (!ToJsonText(Value, Text, Reason))
		{
			return false;
		}
		QJsonValue Json;
		QString Ignored;
		if (ToJson(Value, Json, Ignored))
		{
			Mask.AddFromJson(Json, FSecretMask::IsSecretName(Name.section(QLatin1Char('.'), -1)));
		}
		Print(QStringLiteral("{%1:%2,%3:%4}").arg(FJson::Quote(Key), FJson::Quote(Name), FJson::Quote(ValueKey), Text));
		return true;
	}

	static bool ParseSeconds(const QString& Text, double& OutSeconds, QString& Reason)
	{
		bool bNumber = false;
		OutSeconds = Text.toDouble(&bNumber);
		if (!bNumber || !std::isfinite(OutSeconds) || OutSeconds < 0)
		{
			Reason = QStringLiteral("\"%1\" is not a number of seconds").arg(Text);
			return false;
		}
		return true;
	}

	// Parameters that carry secrets, by operation: the password of `Login`.
	void NoteSecretArguments(const QStringList& Tokens)
	{
		if (Tokens.value(0) != QLatin1String("call"))
		{
			return;
		}
		const QString Operation = Tokens.value(1).section(QLatin1Char('.'), -1);
		if (Operation == QLatin1String("Login") && Tokens.size() > 3)
		{
			for (qsizetype Index = 3; Index < Tokens.size(); ++Index)
			{
				Mask.AddLiteral(Tokens[Index]);
			}
		}
	}

	// The access token the service handed out, with and without its scheme.
	void NoteServiceSecrets()
	{
		if (const UEditorSubsystem* Sdk = Host.FindSubsystem(QStringLiteral("UOrvaSDKSubsystem")))
		{
			Mask.AddFromJson(Sdk->property("AccessToken").toString(), true);
		}
	}

	// The commands, one table (OrvaScriptCommands.cpp); each prints its result lines and answers
	// false with a reason when the script must stop.
	struct FCommand
	{
		const char* Verb;
		// Failures name the command by its verb and this target (the second token).
		bool bTargeted;
		bool (FImpl::*Run)(const QStringList& Tokens, QString& Reason);
	};
	static const FCommand Commands[];
	static const FCommand* FindCommand(const QString& Verb);
	bool RunCommand(const QStringList& Tokens, QString& Reason);
	bool RunCall(const QStringList& Tokens, QString& Reason);
	bool RunWait(const QStringList& Tokens, QString& Reason);
	bool RunGet(const QStringList& Tokens, QString& Reason);
	bool RunExpect(const QStringList& Tokens, QString& Reason);
	bool RunUntilValue(const QStringList& Tokens, QString& Reason);
	bool RunSet(const QStringList& Tokens, QString& Reason);
	bool RunAnswer(const QStringList& Tokens, QString& Reason);
	bool RunChoose(const QStringList& Tokens, QString& Reason);
	bool RunSleep(const QStringList& Tokens, QString& Reason);
	bool RunSettle(const QStringList& Tokens, QString& Reason);
	bool RunNotifications(const QStringList& Tokens, QString& Reason);
	bool RunImage(const QStringList& Tokens, QString& Reason);
	bool RunUploads(const QStringList& Tokens, QString& Reason);

	bool Run(const QString& Text, const QString& ScriptName);
};
