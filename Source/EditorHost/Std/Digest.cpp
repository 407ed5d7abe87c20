#include "Digest.h"

#include <openssl/evp.h>

#include <cstdio>
#include <cstdlib>

namespace
{
const EVP_MD* Algorithm(EDigestKind Kind)
{
	switch (Kind)
	{
	case EDigestKind::Md5:
		return EVP_md5();
	case EDigestKind::Sha1:
		return EVP_sha1();
	case EDigestKind::Sha256:
		return EVP_sha256();
	}
	return nullptr;
}

// OpenSSL fails here only when it cannot allocate a context; a digest that silently stopped
// counting would report damage that is not there, or miss damage that is.
[[noreturn]] void DigestFailed()
{
	std::fputs("OpenSSL could not compute a digest\n", stderr);
	std::abort();
}
} // namespace

static_assert(FDigest::MaxSize == EVP_MAX_MD_SIZE);

FDigest::FDigest(EDigestKind Kind)
    : Context(EVP_MD_CTX_new())
{
	if (!Context || EVP_DigestInit_ex(Context, Algorithm(Kind), nullptr) != 1)
	{
		DigestFailed();
	}
}

FDigest::~FDigest()
{
	EVP_MD_CTX_free(Context);
}

void FDigest::Update(const void* Data, size_t Size)
{
	if (Size > 0 && EVP_DigestUpdate(Context, Data, Size) != 1)
	{
		DigestFailed();
	}
}

size_t FDigest::FinalInto(unsigned char* Out)
{
	unsigned int Length = 0;
	if (EVP_DigestFinal_ex(Context, Out, &Length) != 1)
	{
		DigestFailed();
	}
	return Length;
}
