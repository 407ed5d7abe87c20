#include "Utf8.h"

namespace OrvaDev
{

namespace
{

// Length of the well-formed sequence at Pos, or 0 when the bytes there are ill-formed.
size_t SequenceLength(std::string_view Text, size_t Pos)
{
	const auto Byte = [&Text](size_t Index) { return static_cast<unsigned char>(Text[Index]); };
	const unsigned char Lead = Byte(Pos);
	if (Lead < 0x80)
	{
		return 1;
	}
	size_t Length = 0;
	// The second byte's range rules out overlong forms, surrogates and code points over U+10FFFF.
	unsigned char Low = 0x80;
	unsigned char High = 0xBF;
	if (Lead >= 0xC2 && Lead <= 0xDF)
	{
		Length = 2;
	}
	else if (Lead >= 0xE0 && Lead <= 0xEF)
	{
		Length = 3;
		Low = Lead == 0xE0 ? 0xA0 : 0x80;
		High = Lead == 0xED ? 0x9F : 0xBF;
	}
	else if (Lead >= 0xF0 && Lead <= 0xF4)
	{
		Length = 4;
		Low = Lead == 0xF0 ? 0x90 : 0x80;
		High = Lead == 0xF4 ? 0x8F : 0xBF;
	}
	else
	{
		return 0;
	}
	if (Pos + Length > Text.size() || Byte(Pos + 1) < Low || Byte(Pos + 1) > High)
	{
		return 0;
	}
	for (size_t Index = 2; Index < Length; ++Index)
	{
		if ((Byte(Pos + Index) & 0xC0) != 0x80)
		{
			return 0;
		}
	}
	return Length;
}

} // namespace

bool IsValidUtf8(std::string_view Text)
{
	for (size_t Pos = 0; Pos < Text.size();)
	{
		const size_t Length = SequenceLength(Text, Pos);
		if (Length == 0)
		{
			return false;
		}
		Pos += Length;
	}
	return true;
}

std::string MakeValidUtf8(std::string_view Text)
{
	std::string Out;
	Out.reserve(Text.size());
	for (size_t Pos = 0; Pos < Text.size();)
	{
		const size_t Length = SequenceLength(Text, Pos);
		if (Length == 0)
		{
			Out += "\xEF\xBF\xBD";
			++Pos;
			continue;
		}
		Out.append(Text.substr(Pos, Length));
		Pos += Length;
	}
	return Out;
}

} // namespace OrvaDev
