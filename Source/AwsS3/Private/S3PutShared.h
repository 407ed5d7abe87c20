#pragma once

#include "AwsS3Types.h"
#include "AwsSigV4.h"
#include "Http.h"

#include <QByteArray>
#include <QByteArrayView>

#include <openssl/evp.h>

// What the single and the multi-part put share.

// One running OpenSSL digest (MD5 for Content-MD5, SHA-256 for signed payloads): the fastest at
// hand, and a send waits for it.
class FS3Digest
{
public:
	explicit FS3Digest(const EVP_MD* Type)
	    : Context(EVP_MD_CTX_new())
	{
		EVP_DigestInit_ex(Context, Type, nullptr);
	}
	~FS3Digest() { EVP_MD_CTX_free(Context); }
	FS3Digest(const FS3Digest&) = delete;
	FS3Digest& operator=(const FS3Digest&) = delete;

	void Add(QByteArrayView Bytes) { EVP_DigestUpdate(Context, Bytes.data(), size_t(Bytes.size())); }
	QByteArray Final()
	{
		unsigned char Out[EVP_MAX_MD_SIZE];
		unsigned int Length = 0;
		EVP_DigestFinal_ex(Context, Out, &Length);
		return QByteArray(reinterpret_cast<const char*>(Out), int(Length));
	}

private:
	EVP_MD_CTX* Context;
};

namespace AwsS3
{
// Signs Call with SigV4 just before it goes (the sending time, the verb and the Content-Type and
// Content-MD5 on the wire), for the object at Address with Query and the payload's SHA-256.
void SignWhenSent(FHttpRequest& Call, const FAwsCredentials& Credentials, const FS3ClientConfiguration& Configuration,
                  const FS3ObjectAddress& Address, const AwsSigV4::FNameValueList& Query,
                  const QString& PayloadHashHex);
} // namespace AwsS3
