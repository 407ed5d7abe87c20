#pragma once

#include <cstddef>
#include <string>
#include <string_view>

struct evp_md_ctx_st;

enum class EDigestKind
{
	Md5,
	Sha1,
	Sha256,
};

// A running message digest through OpenSSL: several times faster than portable code on CPUs with
// SHA instructions, which keeps packing as fast as copying and a hashed upload as fast as a plain
// one. Free of Qt, so that the service digests with the same code as the editor.
class FDigest
{
public:
	static constexpr size_t MaxSize = 64;

	explicit FDigest(EDigestKind Kind);
	~FDigest();
	FDigest(const FDigest&) = delete;
	FDigest& operator=(const FDigest&) = delete;

	void Update(const void* Data, size_t Size);
	void Update(std::string_view Bytes) { Update(Bytes.data(), Bytes.size()); }

	// The raw digest of everything added, as any byte container built from a pointer and a size
	// (std::string, QByteArray). Once only.
	template <typename TBytes = std::string>
	TBytes Final()
	{
		unsigned char Out[MaxSize];
		const size_t Size = FinalInto(Out);
		return TBytes(reinterpret_cast<const char*>(Out), Size);
	}

	template <typename TBytes = std::string>
	static TBytes Of(EDigestKind Kind, const void* Data, size_t Size)
	{
		FDigest Digest(Kind);
		Digest.Update(Data, Size);
		return Digest.Final<TBytes>();
	}

	template <typename TBytes = std::string>
	static TBytes Of(EDigestKind Kind, std::string_view Bytes)
	{
		return Of<TBytes>(Kind, Bytes.data(), Bytes.size());
	}

private:
	size_t FinalInto(unsigned char* Out);

	evp_md_ctx_st* Context;
};
