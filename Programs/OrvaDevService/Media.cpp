#include "Media.h"

#include "AwsSigV4.h"
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
	std::string Decoded = AwsSigV4::UriDecode(ClientFilename);
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
