#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>

// Case folding of ASCII letters only, the same whatever the locale (std::tolower follows it), for
// bytes and for UTF-16 units alike. Every other unit is left as it is: HTTP names, e-mail
// addresses and the signer's header names fold only ASCII; engine names that are not ASCII take
// Qt's full folding where they are compared (see NameCase.h).
struct FAsciiCase
{
	template <typename TChar>
	static constexpr TChar Lower(TChar Char)
	{
		return (Char >= TChar('A') && Char <= TChar('Z')) ? TChar(Char - TChar('A') + TChar('a')) : Char;
	}

	static std::string ToLower(std::string_view Text)
	{
		std::string Out(Text);
		std::transform(Out.begin(), Out.end(), Out.begin(), [](char Char) { return Lower(Char); });
		return Out;
	}

	static constexpr bool Equals(std::string_view A, std::string_view B)
	{
		return A.size() == B.size() && StartsWith(A, B);
	}

	static constexpr bool StartsWith(std::string_view Text, std::string_view Prefix)
	{
		if (Text.size() < Prefix.size())
		{
			return false;
		}
		for (size_t Index = 0; Index < Prefix.size(); ++Index)
		{
			if (Lower(Text[Index]) != Lower(Prefix[Index]))
			{
				return false;
			}
		}
		return true;
	}

	// How two units compare ignoring the case of ASCII letters: whether that settles it, or one of
	// them is not ASCII and needs a full folding.
	enum class EMatch
	{
		Same,
		Different,
		NotAscii,
	};
	template <typename TChar>
	static constexpr EMatch Compare(TChar A, TChar B)
	{
		if (A == B)
		{
			return EMatch::Same;
		}
		if (static_cast<unsigned>(A) >= 0x80 || static_cast<unsigned>(B) >= 0x80)
		{
			return EMatch::NotAscii;
		}
		return Lower(A) == Lower(B) ? EMatch::Same : EMatch::Different;
	}
};
