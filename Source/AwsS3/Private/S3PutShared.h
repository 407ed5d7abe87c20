#pragma once

#include "AwsS3Types.h"
#include "AwsSigV4.h"
#include "Digest.h"
#include "Http.h"

#include <QByteArray>

// What the single and the multi-part put share.

namespace AwsS3
{
// Signs Call with SigV4 just before it goes (the sending time, the verb and the Content-Type and
// Content-MD5 on the wire), for the object at Address with Query and the payload's SHA-256.
void SignWhenSent(FHttpRequest& Call, const FAwsCredentials& Credentials, const FS3ClientConfiguration& Configuration,
                  const FS3ObjectAddress& Address, const AwsSigV4::FNameValueList& Query,
                  const QString& PayloadHashHex);
} // namespace AwsS3
