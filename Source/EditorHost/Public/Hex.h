#pragma once

#include <optional>
#include <string>
#include <string_view>

// Base-16 text of bytes, two digits a byte. Free of Qt, so that the service and the signer use it
// as the editor does.
struct FHex
{
	static constexpr char LowerDigits[] = "0123456789abcdef";
	static constexpr char UpperDigits[] = "0123456789ABCDEF";

	// The value of one digit of either case, or -1.
	static constexpr int DigitValue(char Digit)
	{
		if (Digit >= '0' && Digit <= '9')
		{
			return Digit - '0';
		}
		if (Digit >= 'a' && Digit <= 'f')
		{
			return Digit - 'a' + 10;
		}
		if (Digit >= 'A' && Digit <= 'F')
		{
			return Digit - 'A' + 10;
		}
		return -1;
	}

	// Lower-case digits, as digests and signatures are written.
	static std::string Encode(std::string_view Bytes);
	static std::string Encode(const unsigned char* Bytes, size_t Count)
	{
		return Encode(std::string_view(reinterpret_cast<const char*>(Bytes), Count));
	}

	// The bytes Text stands for (digits of either case); none for an odd count or a non-digit.
	static std::optional<std::string> Decode(std::string_view Text);

	// Whether Text is lower-case digits only, as a signature must be sent.
	static bool IsLowerDigits(std::string_view Text);
};
