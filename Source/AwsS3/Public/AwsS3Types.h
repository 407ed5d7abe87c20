#pragma once

#include "AwsS3Errors.h"
#include "AwsS3Settings.h"

#include <QDateTime>
#include <QMetaType>
#include <QString>

class FConfigCache;
class FHttpModule;

struct FAwsCredentials
{
	QString AccessKeyId;
	QString SecretAccessKey;
	// The temporary security token; empty for a long-term key.
	QString SessionToken;
	// When temporary credentials stop working, where the issuer said so; invalid when unknown.
	QDateTime Expiration;

	bool IsUsable() const { return !AccessKeyId.isEmpty() && !SecretAccessKey.isEmpty(); }
};

// How the body of a request is covered by the signature. RequestDependent (0, what the plugin
// passes) and Never send "UNSIGNED-PAYLOAD"; the body is still covered by the signed
// "Content-MD5". Always also signs the body's SHA-256, taken in the same pass over the file.
enum class EAwsS3PayloadSigningPolicy : quint8
{
	RequestDependent = 0,
	Always = 1,
	Never = 2,
};

// Where and how the client reaches the store.
struct FS3ClientConfiguration
{
	QString Region;
	// An absolute http or https address; empty means the region's AWS endpoint,
	// https://s3.<region>.amazonaws.com.
	QString Endpoint;
	// ENDPOINT/BUCKET/KEY when true; BUCKET.<endpoint host>/KEY (virtual-hosted) otherwise.
	bool bUsePathStyle = false;
	// A request that makes no progress for this long fails with ES3Errors::Timeout.
	double RequestTimeoutSeconds = 60.0;
	// Transient store errors (500, 502, 503, 504, SlowDown, RequestTimeout, a connection lost
	// before the answer) are tried again, up to this many attempts in all. Before attempt N+1 the
	// put waits a random time below RetryBaseDelaySeconds * 2^(N-1), capped at
	// RetryMaxDelaySeconds ("full jitter", as the AWS SDKs do), so that many clients turned away
	// together do not come back together.
	int MaxAttempts = 4;
	double RetryBaseDelaySeconds = 0.25;
	double RetryMaxDelaySeconds = 20.0;
	// Files larger than this go up in parts (CreateMultipartUpload, UploadPart, CompleteMultipart-
	// Upload), each part checked by the store against its own "Content-MD5" and sent again alone
	// when it fails; smaller files go in one PUT.
	qint64 MultipartThresholdBytes = AwsS3::Settings::MultipartThresholdBytes.Default();
	// The size of each part but the last. It grows with the file so that no upload needs more than
	// MaxParts parts, and never goes below the store's minimum, MinPartBytes.
	qint64 MultipartPartSizeBytes = AwsS3::Settings::MultipartPartSizeBytes.Default();
	// Parts on the way at once: one TCP stream rarely fills a long or lossy link.
	int MaxPartsInFlight = int(AwsS3::Settings::MaxPartsInFlight.Default());
	// The host's HTTP module: every request of the client goes through it. Not owned.
	FHttpModule* Http = nullptr;
};

namespace AwsS3
{
inline constexpr qint64 MinPartBytes = qint64(5) * 1024 * 1024;
inline constexpr int MaxParts = 10000;

// The part size a multipart upload of FileSize bytes uses with the configured size Wanted: at
// least MinPartBytes, and large enough (rounded up to whole MiB) that MaxParts parts hold the file.
qint64 ChoosePartSize(qint64 FileSize, qint64 Wanted);

// The defaults, overridden by section "AwsS3" of IniFile (AwsS3Settings.h).
// Config may be null (no settings: the defaults stand).
FS3ClientConfiguration LoadClientConfiguration(FConfigCache* Config, const QString& IniFile);

// The address of one object: the URL to send to, the "host" header value that goes with it and
// the path as the signature covers it (decoded).
struct FS3ObjectAddress
{
	QString Url;
	QString Host;
	QString Path;
};

// Empty Url, with the reason in OutProblem, when the configuration cannot address the object (no
// region, an endpoint that is not an absolute http(s) address, no bucket or key).
// A bucket name that cannot be a host name label falls back to path style.
FS3ObjectAddress ResolveObjectAddress(const FS3ClientConfiguration& Configuration, const QString& Bucket,
                                      const QString& Key, QString& OutProblem);
} // namespace AwsS3

struct FPutObjectRequest
{
	QString Bucket;
	QString Key;
	// The file streamed from disk as the object's body.
	QString LocalFile;
	// Sent as "Content-Type" when set.
	QString ContentType;
};

struct FPutObjectResult
{
	// As the store answered it, quotes removed.
	QString ETag;
	QString VersionId;
	// "x-amz-server-side-encryption" of the answer ("AES256", "aws:kms", ...).
	QString ServerSideEncryption;
	// Hex MD5 of the file as read from disk before sending; sent as "Content-MD5" (base64).
	QString ContentMd5;
	// The store took the body against the signed "Content-MD5" (a store refuses a body whose MD5
	// differs with BadDigest), and where its ETag is the object's MD5, that matched too.
	bool bChecksumVerified = false;
	qint64 BytesSent = 0;
	int HttpStatus = 0;
	// How many times the body was sent (1 without retries).
	int Attempts = 0;
};

Q_DECLARE_METATYPE(FPutObjectResult)
