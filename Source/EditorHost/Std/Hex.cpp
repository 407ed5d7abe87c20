#include "Hex.h"

#include <algorithm>

std::string FHex::Encode(std::string_view Bytes)
{
	std::string Out(Bytes.size() * 2, '0');
	for (size_t Index = 0; Index < Bytes.size(); ++Index)
	{
		const auto Byte = static_cast<unsigned char>(Bytes[Index]);
		Out[2 * Index] = LowerDigits[Byte >> 4];
		Out[2 * Index + 1] = LowerDigits[Byte & 0x0F];
	}
	return Out;
}

std::optional<std::string> FHex::Decode(std::string_view Text)
{
	if (Text.size() % 2 != 0)
	{
		return std::nullopt;
	}
	std::string Out(Text.size() / 2, '\0');
	for (size_t Index = 0; Index < Out.size(); ++Index)
	{
		const int High = DigitValue(Text[2 * Index]);
		const int Low = DigitValue(Text[2 * Index + 1]);
		if (High < 0 || Low < 0)
		{
			return std::nullopt;
		}
		Out[Index] = static_cast<char>(High * 16 + Low);
	}
	return Out;
}

bool FHex::IsLowerDigits(std::string_view Text)
{
	return std::all_of(Text.begin(), Text.end(),
	                   [](char Char) { return (Char >= '0' && Char <= '9') || (Char >= 'a' && Char <= 'f'); });
}
