#include "OrvaScriptRunner.h"

#include "Dialogs.h"
#include "EditorHost.h"
#include "EditorSubsystem.h"
#include "GameThread.h"
#include "Http.h"
#include "IImageReceiver.h"
#include "Json.h"
#include "Notifications.h"
#include "OrvaAsyncFileUploader.h"
#include "OrvaDataCacheSubsystem.h"
#include "OrvaSDKSubsystem.h"
#include "OrvaScriptValue.h"
#include "RenderThread.h"
#include "Texture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonValue>
#include <QMetaMethod>
#include <QMetaObject>
#include <QMetaProperty>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>

using namespace OrvaScript;

namespace
{
constexpr double DefaultWaitSeconds = 30.0;

// The plugin shares these records through pointers; scripts see and pass the records themselves.
void RegisterPluginRecords()
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

// Signals and slots of QObject itself (destroyed, deleteLater ...) are not part of a subsystem's
// scripted surface.
int FirstOwnMethod()
{
	return QObject::staticMetaObject.methodCount();
}

// Values that must never reach a log or the output: the password given to `Login`, the access
// token, and whatever a result holds under a key that names a password, token or secret. Lines
// are echoed and logged only through Apply.
class FSecretMask
{
public:
	void Add(const QString& Secret)
	{
		if (!Secret.isEmpty() && !Secrets.contains(Secret))
		{
			Secrets.append(Secret);
			// Longer first, so a secret that contains another is masked whole.
			std::sort(Secrets.begin(), Secrets.end(),
			          [](const QString& A, const QString& B) { return A.size() > B.size(); });
		}
	}

	// A secret as it stands in a script line (a JSON literal, escapes and all) and as its value.
	void AddLiteral(const QString& Token)
	{
		Add(Token);
		QJsonValue Json;
		QString Error;
		if (ParseJson(Token, Json, Error) && Json.isString())
		{
			Add(Json.toString());
			// Its JSON form too: that is how it appears in printed results.
			const QString Quoted = FJson::Quote(Json.toString());
			Add(Quoted.mid(1, Quoted.size() - 2));
		}
	}

	static bool IsSecretName(const QString& Name)
	{
		const QString Lower = Name.toLower();
		return Lower.contains(QLatin1String("password")) || Lower.contains(QLatin1String("token")) ||
		       Lower.contains(QLatin1String("secret")) || Lower == QLatin1String("pwd");
	}

	// Collects the strings held under secret names anywhere in Json (all of it when bSecret).
	void AddFromJson(const QJsonValue& Json, bool bSecret)
	{
		if (Json.isString() && bSecret)
		{
			const QString Text = Json.toString();
			Add(Text);
			const QString Quoted = FJson::Quote(Text);
			Add(Quoted.mid(1, Quoted.size() - 2));
			if (Text.startsWith(QLatin1String("Bearer ")))
			{
				Add(Text.mid(7));
			}
		}
		else if (Json.isArray())
		{
			for (const QJsonValue& Element : Json.toArray())
			{
				AddFromJson(Element, bSecret);
			}
		}
		else if (Json.isObject())
		{
			const QJsonObject Object = Json.toObject();
			for (auto It = Object.begin(); It != Object.end(); ++It)
			{
				AddFromJson(It.value(), bSecret || IsSecretName(It.key()));
			}
		}
	}

	QString Apply(QString Line) const
	{
		for (const QString& Secret : Secrets)
		{
			Line.replace(Secret, QStringLiteral("****"));
		}
		return Line;
	}

private:
	QStringList Secrets;
};

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

// Follows the component uploads the SDK subsystem starts and keeps how each ended until `uploads`
// reports it.
class FUploadWatcher final : public QObject
{
public:
	struct FUpload
	{
		QString File;
		QString ComponentId;
		QString Bucket;
		QString Key;
		bool bEnded = false;
		bool bSuccess = false;
	};

	void Watch(UOrvaSDKSubsystem* Sdk)
	{
		connect(Sdk, &UOrvaSDKSubsystem::OnUploadStarted, this, &FUploadWatcher::Follow);
	}

	void Follow(UOrvaAsyncFileUploader* Uploader)
	{
		const size_t Index = Uploads.size();
		Uploads.push_back({Uploader->GetTargetFilePath(), Uploader->GetComponentId()});
		UE_LOG(LogOrvaAutomation, Log,
		       QStringLiteral("Upload %1 started: %2").arg(Index + 1).arg(Uploader->GetTargetFilePath()));
		connect(Uploader, &UOrvaAsyncFileUploader::OnUploadCompleted, this,
		        [this, Index, Uploader](bool bSuccess)
		        {
			        FUpload& Upload = Uploads[Index];
			        Upload.bEnded = true;
			        Upload.bSuccess = bSuccess;
			        // What the credentials answer gave it, read while the uploader still lives.
			        Upload.ComponentId = Uploader->GetComponentId();
			        Upload.Bucket = Uploader->GetBucketName();
			        Upload.Key = Uploader->GetKeyUrl();
		        });
	}

	// Node-based: a connection refers to its entry by index while more are added.
	std::deque<FUpload> Uploads;
	size_t Reported = 0;
};

// Splits a line into words and JSON values: a quoted string, a bracketed object or array (strings
// inside honoured), or anything else up to the next blank.
bool SplitTokens(const QString& Text, QStringList& OutTokens, QString& OutError)
{
	qsizetype Position = 0;
	while (true)
	{
		while (Position < Text.size() && Text[Position].isSpace())
		{
			++Position;
		}
		if (Position >= Text.size())
		{
			return true;
		}
		const qsizetype Start = Position;
		const QChar First = Text[Position];
		if (First == QLatin1Char('"') || First == QLatin1Char('{') || First == QLatin1Char('['))
		{
			int Depth = 0;
			bool bInString = false;
			bool bDone = false;
			for (; Position < Text.size() && !bDone; ++Position)
			{
				const QChar Ch = Text[Position];
				if (bInString)
				{
					if (Ch == QLatin1Char('\\'))
					{
						++Position;
					}
					else if (Ch == QLatin1Char('"'))
					{
						bInString = false;
						bDone = Depth == 0;
					}
				}
				else if (Ch == QLatin1Char('"'))
				{
					bInString = true;
				}
				else if (Ch == QLatin1Char('{') || Ch == QLatin1Char('['))
				{
					++Depth;
				}
				else if (Ch == QLatin1Char('}') || Ch == QLatin1Char(']'))
				{
					bDone = --Depth == 0;
				}
			}
			if (!bDone)
			{
				OutError = QStringLiteral("unterminated JSON value %1").arg(Text.mid(Start));
				return false;
			}
		}
		else
		{
			while (Position < Text.size() && !Text[Position].isSpace())
			{
				++Position;
			}
		}
		OutTokens.append(Text.mid(Start, Position - Start));
	}
}

QString StripComment(const QString& Line)
{
	bool bInString = false;
	for (qsizetype Index = 0; Index < Line.size(); ++Index)
	{
		const QChar Ch = Line[Index];
		if (bInString)
		{
			if (Ch == QLatin1Char('\\'))
			{
				++Index;
			}
			else if (Ch == QLatin1Char('"'))
			{
				bInString = false;
			}
		}
		else if (Ch == QLatin1Char('"'))
		{
			bInString = true;
		}
		else if (Ch == QLatin1Char('#'))
		{
			return Line.left(Index);
		}
	}
	return Line;
}

QString SecondsText(double Seconds)
{
	return QString::number(Seconds) + QStringLiteral(" s");
}

} // namespace

struct FOrvaScriptRunner::FImpl
{
	FEditorHost& Host;
	FSecretMask Mask;
	FSignalRecorder Recorder{Mask};
	FUploadWatcher Uploads;
	std::function<void(const QString&)> Output;
	double DefaultWait = DefaultWaitSeconds;
	QString BaseDir;
	QString Error;
	int FailedLine = 0;
	qsizetype SeenMessages = 0;

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
		if (FPolicyDialogService* Dialogs = PolicyDialogs())
		{
			SeenMessages = Dialogs->ShownMessages().size();
		}
	}

	FPolicyDialogService* PolicyDialogs() const { return dynamic_cast<FPolicyDialogService*>(&Host.Dialogs()); }

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

	// A message box shown since the last check that found no answer.
	std::optional<FPolicyDialogService::FShownMessage> NewUnanswered() const
	{
		const FPolicyDialogService* Dialogs = PolicyDialogs();
		if (!Dialogs)
		{
			return std::nullopt;
		}
		const QList<FPolicyDialogService::FShownMessage>& Shown = Dialogs->ShownMessages();
		for (qsizetype Index = SeenMessages; Index < Shown.size(); ++Index)
		{
			if (!Shown[Index].bAnswered)
			{
				return Shown[Index];
			}
		}
		return std::nullopt;
	}

	bool CheckMessageBoxes(QString& Reason)
	{
		const std::optional<FPolicyDialogService::FShownMessage> Unanswered = NewUnanswered();
		if (const FPolicyDialogService* Dialogs = PolicyDialogs())
		{
			SeenMessages = Dialogs->ShownMessages().size();
		}
		if (Unanswered)
		{
			Reason = QStringLiteral("a message box found no answer (queue one with `answer`): \"%1\": %2")
			             .arg(Unanswered->Title, Unanswered->Message);
			return false;
		}
		return true;
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

	bool RunCall(const QStringList& Tokens, QString& Reason)
	{
		UEditorSubsystem* Subsystem = nullptr;
		QString Name;
		if (Tokens.size() < 2 || !ResolveTarget(Tokens[1], Subsystem, Name, Reason))
		{
			Reason = Tokens.size() < 2 ? QStringLiteral("usage: call Subsystem.Operation [ARG...]") : Reason;
			return false;
		}
		const QList<QMetaMethod> Candidates = Operations(Subsystem, Name);
		if (Candidates.isEmpty())
		{
			Reason = HasSignal(Subsystem, Name) ? QStringLiteral("\"%1\" is an event; `wait` for it").arg(Name)
			                                    : QStringLiteral("%1 has no operation \"%2\"")
			                                          .arg(QLatin1String(Subsystem->metaObject()->className()), Name);
			return false;
		}
		QVariantList Values;
		for (qsizetype Index = 2; Index < Tokens.size(); ++Index)
		{
			QVariant Value;
			if (!ValueOf(Tokens[Index], Value, Reason))
			{
				Reason = QStringLiteral("argument %1: %2").arg(Index - 1).arg(Reason);
				return false;
			}
			Values.append(Value);
		}
		QStringList Mismatches;
		for (const QMetaMethod& Method : Candidates)
		{
			if (Method.parameterCount() != Values.size())
			{
				Mismatches.append(QStringLiteral("%1 takes %2 argument(s)")
				                      .arg(QString::fromLatin1(Method.methodSignature()))
				                      .arg(Method.parameterCount()));
				continue;
			}
			QVariantList Arguments;
			QString Problem;
			for (int Index = 0; Index < Method.parameterCount() && Problem.isEmpty(); ++Index)
			{
				QVariant Argument;
				if (!ConvertTo(Values[Index], Method.parameterMetaType(Index), Argument, Problem))
				{
					Problem = QStringLiteral("argument %1 (%2): %3")
					              .arg(Index + 1)
					              .arg(QString::fromLatin1(Method.parameterNames().value(Index)), Problem);
				}
				Arguments.append(Argument);
			}
			if (!Problem.isEmpty())
			{
				Mismatches.append(Problem);
				continue;
			}
			const QVariant Result = Invoke(Subsystem, Method, Arguments);
			return !Result.isValid() ||
			       Print(QStringLiteral("call"), Tokens[1], QStringLiteral("result"), Result, Reason);
		}
		Reason = Mismatches.join(QStringLiteral("; "));
		return false;
	}

	bool RunWait(const QStringList& Tokens, QString& Reason)
	{
		UEditorSubsystem* Subsystem = nullptr;
		QString Name;
		if (Tokens.size() < 2 || Tokens.size() > 3 || !ResolveTarget(Tokens[1], Subsystem, Name, Reason))
		{
			Reason = Tokens.size() < 2 || Tokens.size() > 3 ? QStringLiteral("usage: wait Subsystem.Event [SECONDS]")
			                                                : Reason;
			return false;
		}
		if (!HasSignal(Subsystem, Name))
		{
			Reason =
			    QStringLiteral("%1 has no event \"%2\"").arg(QLatin1String(Subsystem->metaObject()->className()), Name);
			return false;
		}
		double Seconds = DefaultWait;
		if (Tokens.size() == 3 && !ParseSeconds(Tokens[2], Seconds, Reason))
		{
			return false;
		}
		const QString Event = QLatin1String(Subsystem->metaObject()->className()) + QLatin1Char('.') + Name;
		std::deque<QVariantList>& Queue = Recorder.Queue(Event);
		FGameThread::RunUntil([this, &Queue] { return !Queue.empty() || NewUnanswered().has_value(); },
		                      int(std::lround(Seconds * 1000.0)));
		if (Queue.empty())
		{
			// A message box that stopped the wait is the better explanation of the missing event.
			if (!CheckMessageBoxes(Reason))
			{
				return false;
			}
			Reason = QStringLiteral("timed out after %1").arg(SecondsText(Seconds));
			return false;
		}
		const QVariantList Arguments = Queue.front();
		Queue.pop_front();
		return Print(QStringLiteral("event"), Tokens[1], QStringLiteral("args"), Arguments, Reason);
	}

	bool RunGet(const QStringList& Tokens, QString& Reason)
	{
		UEditorSubsystem* Subsystem = nullptr;
		QString Path;
		QVariant Value;
		if (Tokens.size() != 2)
		{
			Reason = QStringLiteral("usage: get Subsystem.Path");
			return false;
		}
		return ResolveTarget(Tokens[1], Subsystem, Path, Reason) && Evaluate(Subsystem, Path, Value, Reason) &&
		       Print(QStringLiteral("get"), Tokens[1], QStringLiteral("value"), Value, Reason);
	}

	bool RunExpect(const QStringList& Tokens, QString& Reason)
	{
		UEditorSubsystem* Subsystem = nullptr;
		QString Path;
		QVariant Actual;
		QVariant Wanted;
		if (Tokens.size() != 3)
		{
			Reason = QStringLiteral("usage: expect Subsystem.Path JSON");
			return false;
		}
		if (!ResolveTarget(Tokens[1], Subsystem, Path, Reason) || !Evaluate(Subsystem, Path, Actual, Reason) ||
		    !ValueOf(Tokens[2], Wanted, Reason))
		{
			return false;
		}
		QJsonValue WantedJson;
		bool bEqual = false;
		if (!ToJson(Wanted, WantedJson, Reason) || !JsonEquals(Actual, WantedJson, Reason, bEqual))
		{
			return false;
		}
		if (!bEqual)
		{
			QString ActualText;
			ToJsonText(Actual, ActualText, Reason);
			Reason = QStringLiteral("expected %1, got %2").arg(JsonText(WantedJson), ActualText);
			return false;
		}
		return true;
	}

	// until Subsystem.Path JSON [SECONDS]: runs the event loop until the value equals JSON, for
	// state that changes without an event of its own (a timer's work, a process's end).
	bool RunUntilValue(const QStringList& Tokens, QString& Reason)
	{
		UEditorSubsystem* Subsystem = nullptr;
		QString Path;
		QVariant Wanted;
		double Seconds = DefaultWait;
		if (Tokens.size() < 3 || Tokens.size() > 4 || (Tokens.size() == 4 && !ParseSeconds(Tokens[3], Seconds, Reason)))
		{
			Reason = Reason.isEmpty() ? QStringLiteral("usage: until Subsystem.Path JSON [SECONDS]") : Reason;
			return false;
		}
		QJsonValue WantedJson;
		if (!ResolveTarget(Tokens[1], Subsystem, Path, Reason) || !ValueOf(Tokens[2], Wanted, Reason) ||
		    !ToJson(Wanted, WantedJson, Reason))
		{
			return false;
		}
		QString ActualText;
		bool bFailed = false;
		auto Holds = [&]
		{
			QVariant Actual;
			bool bEqual = false;
			if (!Evaluate(Subsystem, Path, Actual, Reason) || !JsonEquals(Actual, WantedJson, Reason, bEqual))
			{
				bFailed = true;
				return true;
			}
			if (!bEqual)
			{
				QString Ignored;
				ToJsonText(Actual, ActualText, Ignored);
			}
			return bEqual;
		};
		const bool bHeld = FGameThread::RunUntil(Holds, int(std::lround(Seconds * 1000.0)));
		if (bFailed)
		{
			return false;
		}
		if (!bHeld)
		{
			Reason = QStringLiteral("still %1 after %2, waited for %3")
			             .arg(ActualText, SecondsText(Seconds), JsonText(WantedJson));
			return false;
		}
		return true;
	}

	bool RunSet(const QStringList& Tokens, QString& Reason)
	{
		UEditorSubsystem* Subsystem = nullptr;
		QString PathText;
		QString Head;
		QList<FPathStep> Steps;
		QVariant NewValue;
		if (Tokens.size() != 3)
		{
			Reason = QStringLiteral("usage: set Subsystem.Path JSON");
			return false;
		}
		if (!ResolveTarget(Tokens[1], Subsystem, PathText, Reason) || !ParsePath(PathText, Head, Steps, Reason) ||
		    !ValueOf(Tokens[2], NewValue, Reason))
		{
			return false;
		}
		const QMetaObject* Meta = Subsystem->metaObject();
		const int PropertyIndex = Meta->indexOfProperty(Head.toUtf8().constData());
		if (PropertyIndex < 0)
		{
			Reason = QStringLiteral("%1 has no property \"%2\"").arg(QLatin1String(Meta->className()), Head);
			return false;
		}
		const QMetaProperty Property = Meta->property(PropertyIndex);
		if (!Property.isWritable())
		{
			Reason = QStringLiteral("property \"%1\" is read-only").arg(Head);
			return false;
		}
		QVariant Root = Steps.isEmpty() ? QVariant(Property.metaType()) : Property.read(Subsystem);
		if (!AssignAt(Root, Steps, NewValue, Reason))
		{
			return false;
		}
		if (!Property.write(Subsystem, Root))
		{
			Reason = QStringLiteral("property \"%1\" refused the value").arg(Head);
			return false;
		}
		return true;
	}

	bool RunAnswer(const QStringList& Tokens, QString& Reason)
	{
		FPolicyDialogService* Dialogs = PolicyDialogs();
		if (!Dialogs || Tokens.size() < 2)
		{
			Reason = Dialogs ? QStringLiteral("usage: answer yes|no|ok|cancel...")
			                 : QStringLiteral("this host's dialogs are not answered by a script");
			return false;
		}
		QList<EAppReturnType> Answers;
		for (qsizetype Index = 1; Index < Tokens.size(); ++Index)
		{
			const QString Word = Tokens[Index].toLower();
			if (Word == QLatin1String("yes"))
			{
				Answers.append(EAppReturnType::Yes);
			}
			else if (Word == QLatin1String("no"))
			{
				Answers.append(EAppReturnType::No);
			}
			else if (Word == QLatin1String("ok"))
			{
				Answers.append(EAppReturnType::Ok);
			}
			else if (Word == QLatin1String("cancel"))
			{
				Answers.append(EAppReturnType::Cancel);
			}
			else
			{
				Reason = QStringLiteral("\"%1\" is not an answer (yes, no, ok, cancel)").arg(Tokens[Index]);
				return false;
			}
		}
		for (EAppReturnType Answer : Answers)
		{
			Dialogs->QueueAnswer(Answer);
		}
		return true;
	}

	bool RunChoose(const QStringList& Tokens, QString& Reason)
	{
		FPolicyDialogService* Dialogs = PolicyDialogs();
		if (!Dialogs)
		{
			Reason = QStringLiteral("this host's dialogs are not answered by a script");
			return false;
		}
		QStringList Files;
		for (qsizetype Index = 1; Index < Tokens.size(); ++Index)
		{
			QString Path = Tokens[Index];
			if (Path.startsWith(QLatin1Char('"')))
			{
				QJsonValue Json;
				if (!ParseJson(Path, Json, Reason) || !Json.isString())
				{
					Reason = Reason.isEmpty() ? QStringLiteral("%1 is not a path").arg(Path) : Reason;
					return false;
				}
				Path = Json.toString();
			}
			Files.append(QDir::cleanPath(QDir(BaseDir).absoluteFilePath(Path)));
		}
		Dialogs->QueueFileChoice(Files);
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

	bool RunSleep(const QStringList& Tokens, QString& Reason)
	{
		double Seconds = 0;
		if (Tokens.size() != 2)
		{
			Reason = QStringLiteral("usage: sleep SECONDS");
			return false;
		}
		if (!ParseSeconds(Tokens[1], Seconds, Reason))
		{
			return false;
		}
		FGameThread::RunUntil([] { return false; }, int(std::lround(Seconds * 1000.0)));
		return true;
	}

	bool RunSettle(const QStringList& Tokens, QString& Reason)
	{
		double Seconds = DefaultWait;
		if (Tokens.size() > 2 || (Tokens.size() == 2 && !ParseSeconds(Tokens[1], Seconds, Reason)))
		{
			Reason = Reason.isEmpty() ? QStringLiteral("usage: settle [SECONDS]") : Reason;
			return false;
		}
		FHttpModule& Http = Host.Http();
		if (!FGameThread::RunUntil([&Http] { return Http.GetPendingCount() == 0; }, int(std::lround(Seconds * 1000.0))))
		{
			Reason = QStringLiteral("%1 request(s) still unanswered after %2")
			             .arg(Http.GetPendingCount())
			             .arg(SecondsText(Seconds));
			return false;
		}
		// Completions are handed over through the event loop; let the last one run.
		FGameThread::RunUntilIdle(20);
		return true;
	}

	// The notification stack as it stands, oldest first, as one JSON line.
	bool RunNotifications(const QStringList& Tokens, QString& Reason)
	{
		if (Tokens.size() != 1)
		{
			Reason = QStringLiteral("usage: notifications");
			return false;
		}
		QStringList Items;
		for (const FNotificationItemPtr& Item : Host.Notifications().GetItems())
		{
			Items.append(QStringLiteral("{\"id\":%1,\"text\":%2,\"state\":%3,\"phase\":%4,\"kept\":%5}")
			                 .arg(Item->GetId())
			                 .arg(FJson::Quote(Item->GetText()),
			                      FJson::Quote(FNotificationService::StateName(Item->GetCompletionState())),
			                      FJson::Quote(FNotificationService::PhaseName(Item->GetPhase())),
			                      Item->GetInfo().bFireAndForget ? QStringLiteral("false") : QStringLiteral("true")));
		}
		Print(QStringLiteral("{\"notifications\":[%1]}").arg(Items.join(QLatin1Char(','))));
		return true;
	}

	// Asks the image cache for an image as a thumbnail tile does, and waits until it is there.
	bool RunImage(const QStringList& Tokens, QString& Reason)
	{
		double Seconds = DefaultWait;
		QVariant Value;
		if (Tokens.size() < 2 || Tokens.size() > 3 || (Tokens.size() == 3 && !ParseSeconds(Tokens[2], Seconds, Reason)))
		{
			Reason = Reason.isEmpty() ? QStringLiteral("usage: image NAME [SECONDS]") : Reason;
			return false;
		}
		if (!ValueOf(Tokens[1], Value, Reason))
		{
			return false;
		}
		const QString Name = Value.canConvert<QJsonValue>() && Value.value<QJsonValue>().isString()
		                         ? Value.value<QJsonValue>().toString()
		                         : Value.toString();
		auto* Cache = Host.GetEditorSubsystem<UOrvaDataCacheSubsystem>();
		if (!Cache || Name.isEmpty())
		{
			Reason = Cache ? QStringLiteral("no image name") : QStringLiteral("there is no UOrvaDataCacheSubsystem");
			return false;
		}
		struct FReceiver final : IImageReceiver
		{
			QString Url;
			bool bCalled = false;
			QPointer<UTexture> Texture;
			void OnLocalImageLoaded(UTexture2D* InTexture) override { Take(InTexture); }
			void OnRemoteImageLoaded(UTexture2DDynamic* InTexture) override { Take(InTexture); }
			QString GetImageUrl() override { return Url; }
			void Take(UTexture* InTexture)
			{
				bCalled = true;
				Texture = InTexture;
			}
		};
		auto Receiver = std::make_shared<FReceiver>();
		Receiver->Url = Name;
		Cache->GetImage(Receiver);
		if (!FGameThread::RunUntil([&Receiver] { return Receiver->bCalled; }, int(std::lround(Seconds * 1000.0))))
		{
			Reason = QStringLiteral("no image after %1").arg(SecondsText(Seconds));
			return false;
		}
		if (!Receiver->Texture)
		{
			Reason = QStringLiteral("the image could not be loaded");
			return false;
		}
		// Downloaded pixels are written on the render thread; report them once they are there.
		Host.RenderThread().Flush();
		FGameThread::RunUntilIdle(20);
		Print(QStringLiteral("{\"image\":%1,\"value\":{\"SizeX\":%2,\"SizeY\":%3,\"bHasPixels\":%4}}")
		          .arg(FJson::Quote(Name))
		          .arg(Receiver->Texture->GetSizeX())
		          .arg(Receiver->Texture->GetSizeY())
		          .arg(Receiver->Texture->HasPixels() ? QStringLiteral("true") : QStringLiteral("false")));
		return true;
	}

	// Waits until every component upload started since the last `uploads` has ended, and reports
	// them in the order they started.
	bool RunUploads(const QStringList& Tokens, QString& Reason)
	{
		double Seconds = DefaultWait;
		if (Tokens.size() > 2 || (Tokens.size() == 2 && !ParseSeconds(Tokens[1], Seconds, Reason)))
		{
			Reason = Reason.isEmpty() ? QStringLiteral("usage: uploads [SECONDS]") : Reason;
			return false;
		}
		const auto Running = [this]
		{
			return std::count_if(Uploads.Uploads.begin() + qsizetype(Uploads.Reported), Uploads.Uploads.end(),
			                     [](const FUploadWatcher::FUpload& Upload) { return !Upload.bEnded; });
		};
		FGameThread::RunUntil([&] { return Running() == 0 || NewUnanswered().has_value(); },
		                      int(std::lround(Seconds * 1000.0)));
		if (!CheckMessageBoxes(Reason))
		{
			return false;
		}
		if (const auto Left = Running())
		{
			Reason = QStringLiteral("%1 upload(s) still running after %2").arg(Left).arg(SecondsText(Seconds));
			return false;
		}
		QStringList Items;
		QStringList Failed;
		for (size_t Index = Uploads.Reported; Index < Uploads.Uploads.size(); ++Index)
		{
			const FUploadWatcher::FUpload& Upload = Uploads.Uploads[Index];
			Items.append(QStringLiteral("{\"File\":%1,\"ComponentId\":%2,\"Bucket\":%3,\"Key\":%4,\"bSuccess\":%5}")
			                 .arg(FJson::Quote(Upload.File), FJson::Quote(Upload.ComponentId),
			                      FJson::Quote(Upload.Bucket), FJson::Quote(Upload.Key),
			                      Upload.bSuccess ? QStringLiteral("true") : QStringLiteral("false")));
			if (!Upload.bSuccess)
			{
				Failed.append(Upload.File);
			}
		}
		Uploads.Reported = Uploads.Uploads.size();
		// The completion answer is handled before the end is broadcast; let what it posted run.
		FGameThread::RunUntilIdle(20);
		Print(QStringLiteral("{\"uploads\":[%1]}").arg(Items.join(QLatin1Char(','))));
		if (!Failed.isEmpty())
		{
			Reason = QStringLiteral("the upload of %1 failed").arg(Failed.join(QStringLiteral(", ")));
			return false;
		}
		return true;
	}

	bool RunCommand(const QStringList& Tokens, QString& Reason)
	{
		const QString& Verb = Tokens[0];
		if (Verb == QLatin1String("call"))
		{
			return RunCall(Tokens, Reason);
		}
		if (Verb == QLatin1String("wait"))
		{
			return RunWait(Tokens, Reason);
		}
		if (Verb == QLatin1String("get"))
		{
			return RunGet(Tokens, Reason);
		}
		if (Verb == QLatin1String("expect"))
		{
			return RunExpect(Tokens, Reason);
		}
		if (Verb == QLatin1String("set"))
		{
			return RunSet(Tokens, Reason);
		}
		if (Verb == QLatin1String("answer"))
		{
			return RunAnswer(Tokens, Reason);
		}
		if (Verb == QLatin1String("choose"))
		{
			return RunChoose(Tokens, Reason);
		}
		if (Verb == QLatin1String("sleep"))
		{
			return RunSleep(Tokens, Reason);
		}
		if (Verb == QLatin1String("settle"))
		{
			return RunSettle(Tokens, Reason);
		}
		if (Verb == QLatin1String("notifications"))
		{
			return RunNotifications(Tokens, Reason);
		}
		if (Verb == QLatin1String("image"))
		{
			return RunImage(Tokens, Reason);
		}
		if (Verb == QLatin1String("until"))
		{
			return RunUntilValue(Tokens, Reason);
		}
		if (Verb == QLatin1String("uploads"))
		{
			return RunUploads(Tokens, Reason);
		}
		Reason = QStringLiteral("unknown command \"%1\" (call, wait, get, expect, set, answer, choose, sleep, settle, "
		                        "notifications, image, until, uploads)")
		             .arg(Verb);
		return false;
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

	bool Run(const QString& Text, const QString& ScriptName)
	{
		Error.clear();
		FailedLine = 0;
		const QStringList Lines = Text.split(QLatin1Char('\n'));
		int Commands = 0;
		for (qsizetype Index = 0; Index < Lines.size(); ++Index)
		{
			QString Line = Lines[Index];
			if (Line.endsWith(QLatin1Char('\r')))
			{
				Line.chop(1);
			}
			QStringList Tokens;
			QString Reason;
			const bool bSplit = FOrvaScriptRunner::SplitLine(Line, Tokens, Reason);
			if (bSplit && Tokens.isEmpty())
			{
				continue;
			}
			// Failures name the command by its verb and, for those that have one, its target.
			static const QStringList Targeted = {QStringLiteral("call"), QStringLiteral("wait"),
			                                     QStringLiteral("get"),  QStringLiteral("expect"),
			                                     QStringLiteral("set"),  QStringLiteral("until")};
			const QString Command = Tokens.mid(0, Targeted.contains(Tokens.value(0)) ? 2 : 1).join(QLatin1Char(' '));
			bool bOk = bSplit;
			if (bOk)
			{
				NoteSecretArguments(Tokens);
				UE_LOG(LogOrvaAutomation, Display,
				       Mask.Apply(QStringLiteral("%1:%2: %3").arg(ScriptName).arg(Index + 1).arg(Line.trimmed())));
				bOk = RunCommand(Tokens, Reason);
				++Commands;
				NoteServiceSecrets();
			}
			// A box raised by a command that failed anyway explains less than the command's error.
			QString BoxReason;
			if (!CheckMessageBoxes(BoxReason) && bOk)
			{
				bOk = false;
				Reason = BoxReason;
			}
			if (!bOk)
			{
				FailedLine = int(Index + 1);
				Error = Mask.Apply(
				    Command.isEmpty()
				        ? QStringLiteral("%1:%2: %3").arg(ScriptName).arg(FailedLine).arg(Reason)
				        : QStringLiteral("%1:%2: %3: %4").arg(ScriptName).arg(FailedLine).arg(Command, Reason));
				UE_LOG(LogOrvaAutomation, Error, Error);
				return false;
			}
		}
		UE_LOG(LogOrvaAutomation, Display, QStringLiteral("%1: ran %2 command(s)").arg(ScriptName).arg(Commands));
		return true;
	}
};

FOrvaScriptRunner::FOrvaScriptRunner(FEditorHost& Host)
    : Impl(std::make_unique<FImpl>(Host))
{
}

FOrvaScriptRunner::~FOrvaScriptRunner() = default;

void FOrvaScriptRunner::SetOutput(std::function<void(const QString&)> Output)
{
	Impl->Output = std::move(Output);
}

void FOrvaScriptRunner::SetDefaultWaitSeconds(double Seconds)
{
	Impl->DefaultWait = Seconds;
}

bool FOrvaScriptRunner::RunFile(const QString& ScriptPath)
{
	const QFileInfo Info(ScriptPath);
	QFile File(ScriptPath);
	if (!File.open(QIODevice::ReadOnly))
	{
		Impl->FailedLine = 0;
		Impl->Error = QStringLiteral("%1: cannot read the script: %2").arg(ScriptPath, File.errorString());
		UE_LOG(LogOrvaAutomation, Error, Impl->Error);
		return false;
	}
	return RunText(QString::fromUtf8(File.readAll()), Info.fileName(), Info.absolutePath());
}

bool FOrvaScriptRunner::RunText(const QString& Text, const QString& ScriptName, const QString& BaseDir)
{
	Impl->BaseDir = BaseDir;
	return Impl->Run(Text, ScriptName);
}

QString FOrvaScriptRunner::GetError() const
{
	return Impl->Error;
}

int FOrvaScriptRunner::GetFailedLine() const
{
	return Impl->FailedLine;
}

bool FOrvaScriptRunner::SplitLine(const QString& Line, QStringList& OutTokens, QString& OutError)
{
	return SplitTokens(StripComment(Line), OutTokens, OutError);
}
