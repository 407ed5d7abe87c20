#include "OrvaServiceJob.h"

#include "GameThread.h"
#include "Json.h"
#include "Log.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QObject>
#include <QPointer>
#include <QStringDecoder>

#include <type_traits>

namespace
{
const QString JsonContentType = QStringLiteral("application/json; charset=utf-8");

// Why Text is not a JSON value of the kind asked for, in words a log reader follows.
QString DescribeParse(const QString& Text, bool bWantObject, const QString& Label)
{
	QJsonParseError Error{};
	const QJsonDocument Document = QJsonDocument::fromJson(Text.toUtf8(), &Error);
	if (Error.error != QJsonParseError::NoError)
	{
		return QStringLiteral("%1: the answer is no JSON (%2 at byte %3)")
		    .arg(Label, Error.errorString())
		    .arg(Error.offset);
	}
	return QStringLiteral("%1: the answer is JSON but no %2")
	    .arg(Label, bWantObject ? QStringLiteral("object") : QStringLiteral("array"));
}
} // namespace

template <class T, class FParse>
std::optional<T> FOrvaServiceJob::ReadAnswer(const FHttpResponsePtr& Response, const QString& Label, QString* OutError,
                                             FParse Parse)
{
	if (!Response)
	{
		if (OutError)
		{
			*OutError = Label + QStringLiteral(": no answer");
		}
		return std::nullopt;
	}
	const QString Text = AnswerText(Response, Label);
	std::optional<T> Value = Parse(Text);
	if (!Value)
	{
		// The handler logs its own line; this one says what is wrong with the answer (never its
		// text, which may carry anything).
		const QString Why = DescribeParse(Text, std::is_same_v<T, QJsonObject>, Label);
		UE_LOG(LogTemp, Log, Why);
		if (OutError)
		{
			*OutError = Why;
		}
	}
	return Value;
}

FOrvaServiceJob::FOrvaServiceJob(FHttpModule& InHttp, const QString& InVerb, const QString& InBaseUrl,
                                 const QString& InPath)
    : Http(InHttp)
    , Verb(InVerb)
    , BaseUrl(InBaseUrl)
    , Path(InPath)
    , Label(InPath)
{
}

FOrvaServiceJob& FOrvaServiceJob::SetQuery(const QString& InQuery)
{
	Query = InQuery;
	return *this;
}

FOrvaServiceJob& FOrvaServiceJob::SetJsonBody(const QString& Json)
{
	JsonBody = Json.toUtf8();
	FormBody.reset();
	return *this;
}

bool FOrvaServiceJob::SetFormBody(const QString& ContentType, const FHttpBody& Body)
{
	if (!Body.GetError().isEmpty())
	{
		UE_LOG(LogTemp, Error, QStringLiteral("%1: the form cannot be sent: %2").arg(Label, Body.GetError()));
		return false;
	}
	FormBody = Body;
	FormType = ContentType;
	JsonBody.reset();
	return true;
}

FOrvaServiceJob& FOrvaServiceJob::SetAcceptJson(bool bAccept)
{
	bAcceptJson = bAccept;
	return *this;
}

FOrvaServiceJob& FOrvaServiceJob::SetCredential(const QString& HeaderName, FTokenReader InReadToken)
{
	CredentialHeader = HeaderName;
	ReadToken = std::move(InReadToken);
	return *this;
}

FOrvaServiceJob& FOrvaServiceJob::SetDeadline(double Seconds)
{
	DeadlineSeconds = Seconds;
	return *this;
}

FOrvaServiceJob& FOrvaServiceJob::SetTimeout(double Seconds)
{
	TimeoutSeconds = Seconds;
	return *this;
}

FOrvaServiceJob& FOrvaServiceJob::SetAnswerLimit(qint64 MaxBytes)
{
	AnswerLimit = MaxBytes;
	return *this;
}

FOrvaServiceJob& FOrvaServiceJob::SetLabel(const QString& InLabel)
{
	Label = InLabel;
	return *this;
}

QString FOrvaServiceJob::GetUrl() const
{
	return BaseUrl + Path + (Query.isEmpty() ? QString() : QLatin1Char('?') + Query);
}

bool FOrvaServiceJob::Send(QObject* Context, FCompletion Completion)
{
	Request = Http.CreateRequest();
	Request->SetVerb(Verb);
	Request->SetURL(GetUrl());
	if (TimeoutSeconds > 0.0)
	{
		Request->SetTimeout(TimeoutSeconds);
	}
	Request->SetResponseBodyLimit(AnswerLimit);
	// Headers go out in the order they are set: the service's JSON requests put the content type
	// first, its forms after the credential.
	if (!FormBody)
	{
		Request->SetHeader(QStringLiteral("Content-Type"), JsonContentType);
	}
	if (bAcceptJson)
	{
		Request->SetHeader(QStringLiteral("accept"), QStringLiteral("application/json"));
	}
	if (ReadToken)
	{
		SentToken = ReadToken();
		Request->SetHeader(CredentialHeader, SentToken);
	}
	bSent = true;
	bool bBodyReady = true;
	if (FormBody)
	{
		Request->SetHeader(QStringLiteral("Content-Type"), FormType);
		// Qt's time-out counts only silence and a file of any size takes its time: what bounds a
		// streamed form is a transfer that stops moving.
		Request->SetDeadline(-1);
		Request->SetStallTimeout(StreamStallSeconds);
		bBodyReady = Request->SetContentSource(*FormBody);
	}
	else
	{
		// Qt's time-out counts only silence: a service that trickles bytes, or sends an endless
		// answer, must not hold the request or the editor's memory.
		Request->SetDeadline(DeadlineSeconds);
		if (JsonBody)
		{
			Request->SetContent(*JsonBody);
		}
	}
	const QString Described = Describe();
	UE_LOG(LogTemp, Log, QStringLiteral("Service request: %1").arg(Described));
	auto Done = [Completion = std::move(Completion), Described](FHttpRequestPtr Req, FHttpResponsePtr Resp, bool bOk)
	{
		if (!Resp)
		{
			UE_LOG(LogTemp, Log,
			       QStringLiteral("Service request without an answer (%1): %2")
			           .arg(Req && Req->HasTimedOut() ? QStringLiteral("out of time")
			                                          : QStringLiteral("no connection or an answer over its bound"),
			                Described));
		}
		Completion(std::move(Req), std::move(Resp), bOk);
	};
	if (!bBodyReady)
	{
		// The form's file went away after it was checked: nothing goes out, and the completion
		// still comes, as for any request that cannot start.
		FGameThread::Post(Context, [Done, Req = Request] { Done(Req, nullptr, false); });
		return false;
	}
	Request->OnProcessRequestComplete(Context, std::move(Done));
	return Request->ProcessRequest();
}

QString FOrvaServiceJob::Describe() const
{
	QString Text = Verb + QLatin1Char(' ') + Path + (Query.isEmpty() ? QString() : QLatin1Char('?') + Query);
	if (ReadToken)
	{
		QString Shown = QStringLiteral("(not read yet)");
		if (bSent)
		{
			static const QString Scheme = QStringLiteral("Bearer ");
			Shown =
			    SentToken.startsWith(Scheme) ? Scheme + MaskToken(SentToken.mid(Scheme.size())) : MaskToken(SentToken);
		}
		Text += QStringLiteral(" (%1: %2)").arg(CredentialHeader, Shown);
	}
	return Text;
}

QString FOrvaServiceJob::MaskToken(const QString& Token)
{
	// Four characters of a short token would give away too much of it.
	if (Token.size() < 16)
	{
		return QStringLiteral("****");
	}
	return QStringLiteral("****") + Token.right(4);
}

bool FOrvaServiceJob::IsSuccess(const FHttpResponsePtr& Response)
{
	return Response && Response->GetResponseCode() >= 200 && Response->GetResponseCode() < 300;
}

QString FOrvaServiceJob::AnswerText(const FHttpResponsePtr& Response, const QString& Label)
{
	if (!Response)
	{
		return QString();
	}
	QStringDecoder Decoder(QStringDecoder::Utf8);
	QString Text = Decoder(Response->GetContent());
	if (Decoder.hasError())
	{
		UE_LOG(LogTemp, Error,
		       Label + QStringLiteral(": the answer holds invalid UTF-8; read it with replacement characters"));
	}
	return Text;
}

std::optional<QJsonObject> FOrvaServiceJob::ReadObject(const FHttpResponsePtr& Response, const QString& Label,
                                                       QString* OutError)
{
	return ReadAnswer<QJsonObject>(Response, Label, OutError,
	                               [](const QString& Text) { return FJson::ParseObject(Text); });
}

std::optional<QJsonArray> FOrvaServiceJob::ReadArray(const FHttpResponsePtr& Response, const QString& Label,
                                                     QString* OutError)
{
	return ReadAnswer<QJsonArray>(Response, Label, OutError,
	                              [](const QString& Text) { return FJson::ParseArray(Text); });
}

void FOrvaServiceJob::LogNoAnswer(const QString& Label)
{
	UE_LOG(LogTemp, Error, QStringLiteral("Error for ") + Label + QStringLiteral(": Response Is Not Valid"));
}

void FOrvaServiceJob::LogUnreadable(const QString& Label)
{
	UE_LOG(LogTemp, Error, QStringLiteral("JsonReader Error: ") + Label + QStringLiteral(" Failed"));
}
