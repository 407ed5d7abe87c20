#include "AwsS3Types.h"

#include "AwsS3Client.h"

#include "AwsSigV4.h"
#include "ConfigCache.h"

#include <QRegularExpression>
#include <QUrl>

#include <limits>
#include <type_traits>

namespace
{

// A bucket that can be the first label of a host name: lower-case letters, digits and hyphens,
// 3 to 63 characters, starting and ending with a letter or digit. Dotted names would break the
// certificate match of virtual-hosted https addresses, so they go path style as well.
bool IsHostLabelBucket(const QString& Bucket)
{
	static const QRegularExpression Label(QStringLiteral("^[a-z0-9][a-z0-9-]{1,61}[a-z0-9]$"));
	return Label.match(Bucket).hasMatch();
}

QString HostWithPort(const QUrl& Url)
{
	QString Host = Url.host(QUrl::FullyEncoded);
	if (Host.contains(QLatin1Char(':')))
	{
		Host = QLatin1Char('[') + Host + QLatin1Char(']');
	}
	const int Port = Url.port(-1);
	const bool bDefaultPort = (Port == 80 && Url.scheme() == QLatin1String("http")) ||
	                          (Port == 443 && Url.scheme() == QLatin1String("https"));
	if (Port != -1 && !bDefaultPort)
	{
		Host += QLatin1Char(':') + QString::number(Port);
	}
	return Host;
}

} // namespace

namespace AwsS3
{

FS3ClientConfiguration LoadClientConfiguration(FConfigCache* Config, const QString& IniFile)
{
	FS3ClientConfiguration Configuration;
	if (Config != nullptr)
	{
		QString Endpoint;
		if (Settings::Endpoint.Read(*Config, IniFile, Endpoint))
		{
			Configuration.Endpoint = Endpoint.trimmed();
		}
		Settings::bUsePathStyle.Read(*Config, IniFile, Configuration.bUsePathStyle);
		// Whole numbers only; a value that is not one keeps the default and says so.
		auto ReadCount = [&](const FConfigWholeNumberSetting& Setting, auto& Target)
		{
			qint64 Value = 0;
			QString Text;
			switch (Setting.Read(*Config, IniFile, Value, &Text))
			{
			case EConfigRead::Absent:
				return;
			case EConfigRead::Invalid:
				UE_LOG(LogAwsS3, Warning,
				       QStringLiteral("[AwsS3] %1=%2 is not a whole number of at least %3; %4 stays")
				           .arg(Setting.KeyName(), Text)
				           .arg(Setting.Minimum())
				           .arg(qint64(Target)));
				return;
			case EConfigRead::Valid:
				// Beyond the field's range is as many as the field holds, never a wrapped count.
				using FTarget = std::remove_reference_t<decltype(Target)>;
				Target = static_cast<FTarget>(qMin<qint64>(Value, std::numeric_limits<FTarget>::max()));
				return;
			}
		};
		ReadCount(Settings::MultipartThresholdBytes, Configuration.MultipartThresholdBytes);
		ReadCount(Settings::MultipartPartSizeBytes, Configuration.MultipartPartSizeBytes);
		ReadCount(Settings::MaxPartsInFlight, Configuration.MaxPartsInFlight);
		Configuration.MaxPartsInFlight = qMin(Configuration.MaxPartsInFlight, Settings::MaxPartsInFlightCap);
	}
	return Configuration;
}

qint64 ChoosePartSize(qint64 FileSize, qint64 Wanted)
{
	constexpr qint64 MiB = 1024 * 1024;
	qint64 Size = qMax(Wanted, MinPartBytes);
	const qint64 Needed = (FileSize + MaxParts - 1) / MaxParts;
	if (Size < Needed)
	{
		Size = (Needed + MiB - 1) / MiB * MiB;
	}
	return Size;
}

FS3ObjectAddress ResolveObjectAddress(const FS3ClientConfiguration& Configuration, const QString& Bucket,
                                      const QString& Key, QString& OutProblem)
{
	OutProblem.clear();
	if (Bucket.isEmpty() || Key.isEmpty())
	{
		OutProblem = QStringLiteral("no bucket or no object key to put the file at");
		return {};
	}
	if (Bucket.contains(QLatin1Char('/')))
	{
		OutProblem = QStringLiteral("the bucket name \"%1\" holds a \"/\"").arg(Bucket);
		return {};
	}
	QString EndpointText = Configuration.Endpoint;
	if (EndpointText.isEmpty())
	{
		if (Configuration.Region.isEmpty())
		{
			OutProblem = QStringLiteral("no region and no endpoint");
			return {};
		}
		EndpointText = QStringLiteral("https://s3.%1.amazonaws.com").arg(Configuration.Region);
	}
	const QUrl Endpoint(EndpointText, QUrl::StrictMode);
	const QString Scheme = Endpoint.scheme().toLower();
	if (!Endpoint.isValid() || Endpoint.host().isEmpty() ||
	    (Scheme != QLatin1String("http") && Scheme != QLatin1String("https")) || Endpoint.hasQuery() ||
	    Endpoint.hasFragment() || !Endpoint.userInfo().isEmpty())
	{
		OutProblem = QStringLiteral("the endpoint \"%1\" is not an absolute http or https address").arg(EndpointText);
		return {};
	}

	// The endpoint's own path (a prefix behind a proxy) leads every object path.
	QString Prefix = Endpoint.path(QUrl::FullyDecoded);
	while (Prefix.endsWith(QLatin1Char('/')))
	{
		Prefix.chop(1);
	}
	const bool bPathStyle = Configuration.bUsePathStyle || !IsHostLabelBucket(Bucket);
	FS3ObjectAddress Address;
	QString Host = HostWithPort(Endpoint);
	if (bPathStyle)
	{
		Address.Path = Prefix + QLatin1Char('/') + Bucket + QLatin1Char('/') + Key;
	}
	else
	{
		Host = Bucket + QLatin1Char('.') + Host;
		Address.Path = Prefix + QLatin1Char('/') + Key;
	}
	Address.Host = Host;
	// The path goes over the wire exactly as the signature encodes it.
	const std::string Encoded = AwsSigV4::UriEncode(Address.Path.toStdString(), true);
	Address.Url = Scheme + QStringLiteral("://") + Host + QString::fromStdString(Encoded);
	return Address;
}

} // namespace AwsS3
