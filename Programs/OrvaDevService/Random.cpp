#include "Random.h"

#include "Hex.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <cstdio>
#include <cstdlib>

namespace OrvaDev
{

std::string RandomBytes(size_t Count)
{
	std::string Bytes(Count, '\0');
	if (Count > 0 && RAND_bytes(reinterpret_cast<unsigned char*>(Bytes.data()), static_cast<int>(Count)) != 1)
	{
		std::fputs("OrvaDevService: the random generator failed\n", stderr);
		std::abort();
	}
	return Bytes;
}

std::string Base64UrlEncode(std::string_view Bytes)
{
	static constexpr char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
	std::string Out;
	Out.reserve((Bytes.size() + 2) / 3 * 4);
	size_t Index = 0;
	for (; Index + 3 <= Bytes.size(); Index += 3)
	{
		const uint32_t Triple = (static_cast<unsigned char>(Bytes[Index]) << 16) |
		                        (static_cast<unsigned char>(Bytes[Index + 1]) << 8) |
		                        static_cast<unsigned char>(Bytes[Index + 2]);
		Out.push_back(Alphabet[(Triple >> 18) & 0x3F]);
		Out.push_back(Alphabet[(Triple >> 12) & 0x3F]);
		Out.push_back(Alphabet[(Triple >> 6) & 0x3F]);
		Out.push_back(Alphabet[Triple & 0x3F]);
	}
	const size_t Rest = Bytes.size() - Index;
	if (Rest > 0)
	{
		uint32_t Triple = static_cast<unsigned char>(Bytes[Index]) << 16;
		if (Rest == 2)
		{
			Triple |= static_cast<unsigned char>(Bytes[Index + 1]) << 8;
		}
		Out.push_back(Alphabet[(Triple >> 18) & 0x3F]);
		Out.push_back(Alphabet[(Triple >> 12) & 0x3F]);
		if (Rest == 2)
		{
			Out.push_back(Alphabet[(Triple >> 6) & 0x3F]);
		}
	}
	return Out;
}

std::string MakeUuid()
{
	std::string Bytes = RandomBytes(16);
	Bytes[6] = static_cast<char>((static_cast<unsigned char>(Bytes[6]) & 0x0F) | 0x40);
	Bytes[8] = static_cast<char>((static_cast<unsigned char>(Bytes[8]) & 0x3F) | 0x80);
	const std::string Hex = FHex::Encode(Bytes);
	return Hex.substr(0, 8) + "-" + Hex.substr(8, 4) + "-" + Hex.substr(12, 4) + "-" + Hex.substr(16, 4) + "-" +
	       Hex.substr(20, 12);
}

std::string MakeWorldIdentifier()
{
	static constexpr std::string_view Letters = "abcdefghijklmnopqrstuvwxyz";
	static constexpr std::string_view Alphanumerics = "abcdefghijklmnopqrstuvwxyz0123456789";
	constexpr size_t Length = 16;
	std::string Out;
	Out.reserve(Length);
	// Rejection sampling keeps every character equally likely.
	while (Out.size() < Length)
	{
		for (const char Char : RandomBytes(32))
		{
			const auto Byte = static_cast<unsigned char>(Char);
			const std::string_view Pool = Out.empty() ? Letters : Alphanumerics;
			const unsigned Limit = 256 - 256 % Pool.size();
			if (Byte < Limit)
			{
				Out.push_back(Pool[Byte % Pool.size()]);
				if (Out.size() == Length)
				{
					break;
				}
			}
		}
	}
	return Out;
}

} // namespace OrvaDev
