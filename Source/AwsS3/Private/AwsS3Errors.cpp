#include "AwsS3Errors.h"

#include <QHash>
#include <QXmlStreamReader>

namespace
{

const QHash<QString, ES3Errors>& CodeTable()
{
	static const QHash<QString, ES3Errors> Table = {
	    {QStringLiteral("AccessDenied"), ES3Errors::AccessDenied},
	    {QStringLiteral("AllAccessDisabled"), ES3Errors::AccessDenied},
	    {QStringLiteral("SignatureDoesNotMatch"), ES3Errors::SignatureDoesNotMatch},
	    {QStringLiteral("InvalidAccessKeyId"), ES3Errors::InvalidAccessKeyId},
	    {QStringLiteral("InvalidClientTokenId"), ES3Errors::InvalidAccessKeyId},
	    {QStringLiteral("InvalidToken"), ES3Errors::InvalidToken},
	    {QStringLiteral("ExpiredToken"), ES3Errors::ExpiredToken},
	    {QStringLiteral("TokenRefreshRequired"), ES3Errors::ExpiredToken},
	    {QStringLiteral("NoSuchBucket"), ES3Errors::NoSuchBucket},
	    {QStringLiteral("NoSuchKey"), ES3Errors::NoSuchKey},
	    {QStringLiteral("EntityTooLarge"), ES3Errors::EntityTooLarge},
	    {QStringLiteral("BadDigest"), ES3Errors::BadDigest},
	    {QStringLiteral("InvalidDigest"), ES3Errors::BadDigest},
	    {QStringLiteral("InvalidArgument"), ES3Errors::InvalidArgument},
	    {QStringLiteral("InvalidBucketName"), ES3Errors::InvalidArgument},
	    {QStringLiteral("KeyTooLongError"), ES3Errors::InvalidArgument},
	    {QStringLiteral("InvalidRequest"), ES3Errors::InvalidRequest},
	    {QStringLiteral("MissingContentLength"), ES3Errors::InvalidRequest},
	    {QStringLiteral("IncompleteBody"), ES3Errors::InvalidRequest},
	    {QStringLiteral("MalformedXML"), ES3Errors::InvalidRequest},
	    {QStringLiteral("AuthorizationHeaderMalformed"), ES3Errors::InvalidRequest},
	    {QStringLiteral("RequestTimeTooSkewed"), ES3Errors::RequestTimeTooSkewed},
	    {QStringLiteral("RequestTimeout"), ES3Errors::Timeout},
	    {QStringLiteral("SlowDown"), ES3Errors::SlowDown},
	    {QStringLiteral("Throttling"), ES3Errors::SlowDown},
	    {QStringLiteral("InternalError"), ES3Errors::InternalError},
	    {QStringLiteral("ServiceUnavailable"), ES3Errors::ServiceUnavailable},
	};
	return Table;
}

ES3Errors KindFromStatus(int HttpStatus)
{
	switch (HttpStatus)
	{
	case 400:
		return ES3Errors::InvalidRequest;
	case 401:
	case 403:
		return ES3Errors::AccessDenied;
	case 404:
		return ES3Errors::NoSuchKey;
	case 408:
		return ES3Errors::Timeout;
	case 413:
		return ES3Errors::EntityTooLarge;
	case 500:
		return ES3Errors::InternalError;
	case 503:
		return ES3Errors::ServiceUnavailable;
	default:
		return ES3Errors::Unknown;
	}
}

} // namespace

QString FS3Error::Describe() const
{
	QString Text = Code.isEmpty() ? AwsS3::ErrorKindName(Kind) : Code;
	if (!Message.isEmpty())
	{
		Text += QStringLiteral(": ") + Message;
	}
	if (HttpStatus > 0)
	{
		Text += QStringLiteral(" (HTTP %1)").arg(HttpStatus);
	}
	return Text;
}

namespace AwsS3
{

ES3Errors ErrorKindFromCode(const QString& Code)
{
	return CodeTable().value(Code, ES3Errors::Unknown);
}

QString ErrorKindName(ES3Errors Kind)
{
	switch (Kind)
	{
	case ES3Errors::None:
		return QStringLiteral("None");
	case ES3Errors::AccessDenied:
		return QStringLiteral("AccessDenied");
	case ES3Errors::SignatureDoesNotMatch:
		return QStringLiteral("SignatureDoesNotMatch");
	case ES3Errors::InvalidAccessKeyId:
		return QStringLiteral("InvalidAccessKeyId");
	case ES3Errors::InvalidToken:
		return QStringLiteral("InvalidToken");
	case ES3Errors::ExpiredToken:
		return QStringLiteral("ExpiredToken");
	case ES3Errors::NoSuchBucket:
		return QStringLiteral("NoSuchBucket");
	case ES3Errors::NoSuchKey:
		return QStringLiteral("NoSuchKey");
	case ES3Errors::EntityTooLarge:
		return QStringLiteral("EntityTooLarge");
	case ES3Errors::BadDigest:
		return QStringLiteral("BadDigest");
	case ES3Errors::InvalidArgument:
		return QStringLiteral("InvalidArgument");
	case ES3Errors::InvalidRequest:
		return QStringLiteral("InvalidRequest");
	case ES3Errors::RequestTimeTooSkewed:
		return QStringLiteral("RequestTimeTooSkewed");
	case ES3Errors::SlowDown:
		return QStringLiteral("SlowDown");
	case ES3Errors::InternalError:
		return QStringLiteral("InternalError");
	case ES3Errors::ServiceUnavailable:
		return QStringLiteral("ServiceUnavailable");
	case ES3Errors::ChecksumMismatch:
		return QStringLiteral("ChecksumMismatch");
	case ES3Errors::NetworkError:
		return QStringLiteral("NetworkError");
	case ES3Errors::Timeout:
		return QStringLiteral("Timeout");
	case ES3Errors::FileError:
		return QStringLiteral("FileError");
	case ES3Errors::InvalidConfiguration:
		return QStringLiteral("InvalidConfiguration");
	case ES3Errors::Cancelled:
		return QStringLiteral("Cancelled");
	case ES3Errors::Unknown:
		return QStringLiteral("Unknown");
	}
	return QStringLiteral("Unknown");
}

FS3Error ParseErrorResponse(int HttpStatus, const QByteArray& Body)
{
	FS3Error Error;
	Error.HttpStatus = HttpStatus;

	// Only the first <Error> element counts; text of nested elements other than the three we
	// read is ignored, and a body that is not well-formed XML keeps what was read before the
	// fault (usually nothing), so garbage never becomes a code.
	QXmlStreamReader Xml(Body);
	bool bInError = false;
	bool bFoundError = false;
	int Depth = 0;
	int ErrorDepth = -1;
	while (!Xml.atEnd() && !Xml.hasError())
	{
		const auto Token = Xml.readNext();
		if (Token == QXmlStreamReader::StartElement)
		{
			++Depth;
			const auto Name = Xml.name();
			if (!bFoundError && Name == QLatin1String("Error"))
			{
				bInError = true;
				bFoundError = true;
				ErrorDepth = Depth;
			}
			else if (bInError && Depth == ErrorDepth + 1)
			{
				QString* Target = nullptr;
				if (Name == QLatin1String("Code"))
				{
					Target = &Error.Code;
				}
				else if (Name == QLatin1String("Message"))
				{
					Target = &Error.Message;
				}
				else if (Name == QLatin1String("RequestId"))
				{
					Target = &Error.RequestId;
				}
				if (Target != nullptr)
				{
					const QString Text = Xml.readElementText(QXmlStreamReader::SkipChildElements).trimmed();
					if (!Xml.hasError())
					{
						*Target = Text;
					}
					--Depth;
				}
			}
		}
		else if (Token == QXmlStreamReader::EndElement)
		{
			if (bInError && Depth == ErrorDepth)
			{
				bInError = false;
			}
			--Depth;
		}
	}
	if (!Error.Code.isEmpty())
	{
		Error.Kind = ErrorKindFromCode(Error.Code);
		if (Error.Kind == ES3Errors::Unknown && HttpStatus >= 300)
		{
			Error.Kind = KindFromStatus(HttpStatus);
		}
	}
	else if (HttpStatus >= 300 || HttpStatus <= 0)
	{
		Error.Kind = HttpStatus <= 0 ? ES3Errors::NetworkError : KindFromStatus(HttpStatus);
	}
	return Error;
}

bool IsTransientError(const FS3Error& Error)
{
	switch (Error.HttpStatus)
	{
	case 500:
	case 502:
	case 503:
	case 504:
		return true;
	default:
		break;
	}
	return Error.Code == QLatin1String("SlowDown") || Error.Code == QLatin1String("RequestTimeout") ||
	       Error.Code == QLatin1String("InternalError") || Error.Code == QLatin1String("ServiceUnavailable");
}

} // namespace AwsS3
