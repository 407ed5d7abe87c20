#pragma once

#include <string>
#include <string_view>

namespace OrvaDev
{

// Well-formed UTF-8 as RFC 3629 defines it: no stray continuation bytes, no overlong forms, no
// encoded surrogates (U+D800 to U+DFFF), nothing above U+10FFFF.
bool IsValidUtf8(std::string_view Text);

// The text with each ill-formed sequence replaced by U+FFFD.
std::string MakeValidUtf8(std::string_view Text);

} // namespace OrvaDev
