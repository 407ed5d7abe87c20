#pragma once

#include "Http.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

class QObject;

// One request to the platform's web service, and everything every such request shares: the address
// it is relative to, its query and body, the service's headers (content type, "accept", the
// credential), the credential read when the request is sent (a login between building and sending
// is honoured), the overall deadline, the bound on the buffered answer, and log lines that never
// show a credential. Answers are read through its helpers, so that every handler decodes status,
// text and JSON alike.
//
// Build it, set what the request carries, then Send(): the completion runs once, on the main
// thread, unless its context is gone by then. Main thread only.
class FOrvaServiceJob
{
public:
	using FCompletion = std::function<void(FHttpRequestPtr Request, FHttpResponsePtr Response, bool bSucceeded)>;
	using FTokenReader = std::function<QString()>;

	// However busy the connection, a request that has not completed by then completes as no answer.
	static constexpr double DefaultDeadlineSeconds = 60.0;
	// Every answer is buffered: a longer one fails as no answer.
	static constexpr qint64 DefaultAnswerLimit = 32 * 1024 * 1024;
	// A request that streams a file has no deadline, as it takes as long as the file is large; it is
	// given up when nothing moves for this long.
	static constexpr double StreamStallSeconds = 60.0;

	// Path is relative to BaseUrl (which ends in "/"), or empty to send to BaseUrl itself.
	FOrvaServiceJob(FHttpModule& Http, const QString& Verb, const QString& BaseUrl, const QString& Path);

	// Appended after "?", as given (the caller encodes its values).
	FOrvaServiceJob& SetQuery(const QString& Query);
	// A JSON text, sent as UTF-8 with "Content-Type: application/json; charset=utf-8".
	FOrvaServiceJob& SetJsonBody(const QString& Json);
	// A form streamed from its sources: ContentType is sent after the credential, as the service's
	// form endpoints have always received it. False (logged) when a part of Body cannot be read.
	bool SetFormBody(const QString& ContentType, const FHttpBody& Body);
	// Asks for a JSON answer ("accept: application/json").
	FOrvaServiceJob& SetAcceptJson(bool bAccept = true);
	// Sends the header HeaderName with what ReadToken gives when the job is sent; no credential
	// header without a reader.
	FOrvaServiceJob& SetCredential(const QString& HeaderName, FTokenReader ReadToken);
	// Seconds from Send() until the job is given up (below 0: none).
	FOrvaServiceJob& SetDeadline(double Seconds);
	// Seconds of silence until the job is given up (0: the HTTP module's default).
	FOrvaServiceJob& SetTimeout(double Seconds);
	// The largest answer body buffered; a longer one is no answer.
	FOrvaServiceJob& SetAnswerLimit(qint64 MaxBytes);
	// Names the job in its log lines (the operation, as the handlers' own lines name it).
	FOrvaServiceJob& SetLabel(const QString& Label);

	// Reads the credential, sends, and binds Completion to Context: dropped if Context is gone
	// first. False when the request cannot start; the completion still runs, later, without an
	// answer.
	bool Send(QObject* Context, FCompletion Completion);

	QString GetVerb() const { return Verb; }
	// The full address: base, path and query.
	QString GetUrl() const;
	double GetDeadline() const { return DeadlineSeconds; }
	qint64 GetAnswerLimit() const { return AnswerLimit; }
	// The request once sent; null before.
	FHttpRequestPtr GetRequest() const { return Request; }
	// The request as a log shows it: verb, path and query, and the credential masked.
	QString Describe() const;

	// What a log may show of a credential: its last four characters at most.
	static QString MaskToken(const QString& Token);
	// Whether the service answered with a 2xx status.
	static bool IsSuccess(const FHttpResponsePtr& Response);
	// The answer's text. Bytes that are no valid UTF-8 (a file name stored as it came) are read as
	// replacement characters, so one bad string cannot make the whole answer unreadable; that is
	// logged under Label.
	static QString AnswerText(const FHttpResponsePtr& Response, const QString& Label);
	// The answer as a JSON object / array; nullopt, with OutError saying why, when there is no
	// answer or it is not one.
	static std::optional<QJsonObject> ReadObject(const FHttpResponsePtr& Response, const QString& Label,
	                                             QString* OutError = nullptr);
	static std::optional<QJsonArray> ReadArray(const FHttpResponsePtr& Response, const QString& Label,
	                                           QString* OutError = nullptr);
	// The lines the handlers log for a missing and an unreadable answer.
	static void LogNoAnswer(const QString& Label);
	static void LogUnreadable(const QString& Label);

private:
	// The answer's text parsed by Parse as a T; nullopt, logged and described in OutError, when it
	// is none.
	template <class T, class FParse>
	static std::optional<T> ReadAnswer(const FHttpResponsePtr& Response, const QString& Label, QString* OutError,
	                                   FParse Parse);

	FHttpModule& Http;
	QString Verb;
	QString BaseUrl;
	QString Path;
	QString Query;
	QString Label;
	std::optional<QByteArray> JsonBody;
	std::optional<FHttpBody> FormBody;
	QString FormType;
	bool bAcceptJson = false;
	QString CredentialHeader;
	FTokenReader ReadToken;
	// What ReadToken gave when the job was sent, for Describe().
	QString SentToken;
	bool bSent = false;
	double DeadlineSeconds = DefaultDeadlineSeconds;
	double TimeoutSeconds = 0.0;
	qint64 AnswerLimit = DefaultAnswerLimit;
	FHttpRequestPtr Request;
};
