#pragma once

#include "AsciiCase.h"

#include <QString>
#include <QStringView>

#include <cstring>

// Engine names (packages, classes, folders) compared and hashed ignoring case. Names are ASCII in
// practice, which needs no case-folding tables: over the hundreds of thousands of names a large
// project's scan or walk compares, Qt's general comparison cost more than the work around it.
// Text that is not ASCII takes Qt's full folding, so the answers are Qt's.
struct FNameCase
{
	static bool StartsWith(QStringView Text, QStringView Prefix)
	{
		if (Text.size() < Prefix.size())
		{
			return false;
		}
		for (qsizetype Index = 0; Index < Prefix.size(); ++Index)
		{
			switch (FAsciiCase::Compare(Text[Index].unicode(), Prefix[Index].unicode()))
			{
			case FAsciiCase::EMatch::Same:
				break;
			case FAsciiCase::EMatch::Different:
				return false;
			case FAsciiCase::EMatch::NotAscii:
				return Text.startsWith(Prefix, Qt::CaseInsensitive);
			}
		}
		return true;
	}

	static bool Equals(QStringView A, QStringView B)
	{
		// Most names met again are spelled the same: one vectorised compare settles those.
		return A.size() == B.size() &&
		       (A.isEmpty() || std::memcmp(A.data(), B.data(), size_t(A.size()) * sizeof(QChar)) == 0 ||
		        StartsWith(A, B));
	}

	// Equal for names that are Equals.
	static size_t Hash(QStringView Name, size_t Seed = 0) noexcept
	{
		size_t Hash = 1469598103934665603ull ^ Seed;
		for (const QChar C : Name)
		{
			const char16_t U = C.unicode();
			const char16_t Folded = U < 0x80 ? FAsciiCase::Lower(U) : C.toCaseFolded().unicode();
			Hash = (Hash ^ Folded) * 1099511628211ull;
		}
		// Tables pick buckets from the low bits, which the multiplication alone leaves poorly mixed.
		Hash ^= Hash >> 33;
		Hash *= 0xff51afd7ed558ccdull;
		Hash ^= Hash >> 33;
		return Hash;
	}
};
