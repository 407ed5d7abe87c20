#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <openssl/evp.h>

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
