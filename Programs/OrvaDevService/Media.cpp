#include "Media.h"

#include "Utf8.h"

namespace OrvaDev
{

namespace
{

constexpr size_t MaxDisplayNameBytes = 255;

bool StartsWith(std::string_view Bytes, std::string_view Prefix)
{
	return Bytes.substr(0, Prefix.size()) == Prefix;
}

int HexValue(char Char)
{
	if (Char >= '0' && Char <= '9')
	{
		return Char - '0';
	}
	if (Char >= 'a' && Char <= 'f')
	{
		return Char - 'a' + 10;
	}
	if (Char >= 'A' && Char <= 'F')
	{
		return Char - 'A' + 10;
	}
	return -1;
}

std::string PercentDecode(std::string_view Text)
{
	std::string Out;
	Out.reserve(Text.size());
	for (size_t Pos = 0; Pos < Text.size(); ++Pos)
	{
		if (Text[Pos] == '%' && Pos + 2 < Text.size() && HexValue(Text[Pos + 1]) >= 0 && HexValue(Text[Pos + 2]) >= 0)
		{
			Out.push_back(static_cast<char>(HexValue(Text[Pos + 1]) * 16 + HexValue(Text[Pos + 2])));
			Pos += 2;
		}
		else
		{
			Out.push_back(Text[Pos]);
		}
	}
	return Out;
}

} // namespace

std::optional<FImageType> SniffImageType(std::string_view Bytes)
{
	if (StartsWith(Bytes, std::string_view("\x89PNG\r\n\x1a\n", 8)))
	{
		return FImageType{"image/png", ".png"};
	}
	if (StartsWith(Bytes, "\xFF\xD8\xFF"))
	{
		return FImageType{"image/jpeg", ".jpg"};
	}
	if (StartsWith(Bytes, "GIF87a") || StartsWith(Bytes, "GIF89a"))
	{
		return FImageType{"image/gif", ".gif"};
	}
	if (Bytes.size() >= 12 && StartsWith(Bytes, "RIFF") && Bytes.substr(8, 4) == "WEBP")
	{
		return FImageType{"image/webp", ".webp"};
	}
	return std::nullopt;
}

std::string DisplayNameFromUpload(std::string_view ClientFilename, std::string_view Fallback)
{
	std::string Decoded = PercentDecode(ClientFilename);
	if (!IsValidUtf8(Decoded))
	{
		Decoded = std::string(ClientFilename);
	}
	// Raw bytes or an encoded surrogate would be served back to clients that cannot read them.
	Decoded = MakeValidUtf8(Decoded);
	const size_t Slash = Decoded.find_last_of("/\\");
	if (Slash != std::string::npos)
	{
		Decoded.erase(0, Slash + 1);
	}
	std::string Name;
	for (const char Char : Decoded)
	{
		const auto Byte = static_cast<unsigned char>(Char);
		if (Byte >= 0x20 && Byte != 0x7F)
		{
			Name.push_back(Char);
		}
	}
	if (Name.size() > MaxDisplayNameBytes)
	{
		// Cut on a character boundary.
		size_t Cut = MaxDisplayNameBytes;
		while (Cut > 0 && (static_cast<unsigned char>(Name[Cut]) & 0xC0) == 0x80)
		{
			--Cut;
		}
		Name.resize(Cut);
	}
	if (Name.empty() || Name == "." || Name == "..")
	{
		return std::string(Fallback);
	}
	return Name;
}

} // namespace OrvaDev
