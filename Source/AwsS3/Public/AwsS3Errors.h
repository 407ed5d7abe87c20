#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>

// What went wrong with a storage call. The store's own code and message travel beside the kind
// (FS3Error), so nothing the store said is lost by the mapping.
enum class ES3Errors : quint8
{
	None = 0,
	AccessDenied,
	SignatureDoesNotMatch,
	InvalidAccessKeyId,
	InvalidToken,
	ExpiredToken,
	NoSuchBucket,
	NoSuchKey,
	EntityTooLarge,
	BadDigest,
	InvalidArgument,
	InvalidRequest,
	RequestTimeTooSkewed,
	SlowDown,
	InternalError,
	ServiceUnavailable,
	// The body arrived but differs from the file that was sent (MD5 against the ETag).
	ChecksumMismatch,
	// No answer: refused connection, broken transfer, TLS failure.
	NetworkError,
	// No answer in time.
	Timeout,
	// The local file is missing or cannot be read.
	FileError,
	// The client cannot address the store: bad endpoint, no bucket or key, no credentials.
	InvalidConfiguration,
	Cancelled,
	// An answer we cannot place: an unknown code, or an error status without an XML body.
	Unknown,
};
Q_DECLARE_METATYPE(ES3Errors)

struct FS3Error
{
	ES3Errors Kind = ES3Errors::None;
	int HttpStatus = 0;
	// The store's <Code> and <Message> (empty when the answer carried none).
	QString Code;
	QString Message;
	QString RequestId;

	bool IsError() const { return Kind != ES3Errors::None; }
	// "Code: Message (HTTP status)", for logs and the completion event; never holds credentials.
	QString Describe() const;
};

namespace AwsS3
{
// The kind of a store error code ("AccessDenied" -> ES3Errors::AccessDenied); Unknown otherwise.
ES3Errors ErrorKindFromCode(const QString& Code);
// The name of a kind, as the enum spells it.
QString ErrorKindName(ES3Errors Kind);

// Reads an error answer: an XML body <Error><Code/><Message/><RequestId/></Error> (also the
// <ErrorResponse><Error>... wrapping of the query APIs). A status of 300 and up without a
// readable body is mapped by its status. Status 2xx without an error body answers Kind None.
FS3Error ParseErrorResponse(int HttpStatus, const QByteArray& Body);
// Worth another attempt: the store was busy or failed inside, or gave up waiting for the body
// (500, 502, 503, 504, SlowDown, RequestTimeout, InternalError, ServiceUnavailable).
bool IsTransientError(const FS3Error& Error);
} // namespace AwsS3
