#include "OrvaScriptRunnerImpl.h"

#include "GameThread.h"
#include "Http.h"
#include "IImageReceiver.h"
#include "Notifications.h"
#include "OrvaDataCacheSubsystem.h"
#include "RenderThread.h"
#include "Texture.h"

#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <memory>

using namespace OrvaScript;

// In the order the unknown-command error lists them.
const FOrvaScriptRunner::FImpl::FCommand FOrvaScriptRunner::FImpl::Commands[] = {
    {"call", true, &FImpl::RunCall},        {"wait", true, &FImpl::RunWait},
    {"get", true, &FImpl::RunGet},          {"expect", true, &FImpl::RunExpect},
    {"set", true, &FImpl::RunSet},          {"answer", false, &FImpl::RunAnswer},
    {"choose", false, &FImpl::RunChoose},   {"sleep", false, &FImpl::RunSleep},
    {"settle", false, &FImpl::RunSettle},   {"notifications", false, &FImpl::RunNotifications},
    {"image", false, &FImpl::RunImage},     {"until", true, &FImpl::RunUntilValue},
    {"uploads", false, &FImpl::RunUploads},
};

const FOrvaScriptRunner::FImpl::FCommand* FOrvaScriptRunner::FImpl::FindCommand(const QString& Verb)
{
	for (const FCommand& Command : Commands)
	{
		if (Verb == QLatin1String(Command.Verb))
		{
			return &Command;
		}
	}
	return nullptr;
}

bool FOrvaScriptRunner::FImpl::RunCommand(const QStringList& Tokens, QString& Reason)
{
	if (const FCommand* Command = FindCommand(Tokens[0]))
	{
		return (this->*Command->Run)(Tokens, Reason);
	}
	QStringList Verbs;
	for (const FCommand& Command : Commands)
	{
		Verbs.append(QLatin1String(Command.Verb));
	}
	Reason = QStringLiteral("unknown command \"%1\" (%2)").arg(Tokens[0], Verbs.join(QStringLiteral(", ")));
	return false;
}

bool FOrvaScriptRunner::FImpl::RunCall(const QStringList& Tokens, QString& Reason)
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
		return !Result.isValid() || Print(QStringLiteral("call"), Tokens[1], QStringLiteral("result"), Result, Reason);
	}
	Reason = Mismatches.join(QStringLiteral("; "));
	return false;
}

bool FOrvaScriptRunner::FImpl::RunWait(const QStringList& Tokens, QString& Reason)
{
	UEditorSubsystem* Subsystem = nullptr;
	QString Name;
	if (Tokens.size() < 2 || Tokens.size() > 3 || !ResolveTarget(Tokens[1], Subsystem, Name, Reason))
	{
		Reason =
		    Tokens.size() < 2 || Tokens.size() > 3 ? QStringLiteral("usage: wait Subsystem.Event [SECONDS]") : Reason;
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
	FGameThread::RunUntil([this, &Queue] { return !Queue.empty() || Boxes.NewUnanswered().has_value(); },
	                      int(std::lround(Seconds * 1000.0)));
	if (Queue.empty())
	{
		// A message box that stopped the wait is the better explanation of the missing event.
		if (!Boxes.Check(Reason))
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

bool FOrvaScriptRunner::FImpl::RunGet(const QStringList& Tokens, QString& Reason)
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

bool FOrvaScriptRunner::FImpl::RunExpect(const QStringList& Tokens, QString& Reason)
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
bool FOrvaScriptRunner::FImpl::RunUntilValue(const QStringList& Tokens, QString& Reason)
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

bool FOrvaScriptRunner::FImpl::RunSet(const QStringList& Tokens, QString& Reason)
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

bool FOrvaScriptRunner::FImpl::RunAnswer(const QStringList& Tokens, QString& Reason)
{
	FPolicyDialogService* Dialogs = Boxes.Dialogs();
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

bool FOrvaScriptRunner::FImpl::RunChoose(const QStringList& Tokens, QString& Reason)
{
	FPolicyDialogService* Dialogs = Boxes.Dialogs();
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

bool FOrvaScriptRunner::FImpl::RunSleep(const QStringList& Tokens, QString& Reason)
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

bool FOrvaScriptRunner::FImpl::RunSettle(const QStringList& Tokens, QString& Reason)
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
bool FOrvaScriptRunner::FImpl::RunNotifications(const QStringList& Tokens, QString& Reason)
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
bool FOrvaScriptRunner::FImpl::RunImage(const QStringList& Tokens, QString& Reason)
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
bool FOrvaScriptRunner::FImpl::RunUploads(const QStringList& Tokens, QString& Reason)
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
	FGameThread::RunUntil([&] { return Running() == 0 || Boxes.NewUnanswered().has_value(); },
	                      int(std::lround(Seconds * 1000.0)));
	if (!Boxes.Check(Reason))
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
		                 .arg(FJson::Quote(Upload.File), FJson::Quote(Upload.ComponentId), FJson::Quote(Upload.Bucket),
		                      FJson::Quote(Upload.Key),
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
