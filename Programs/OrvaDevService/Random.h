#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace OrvaDev
{

// Everything the service hands out that must not be guessed (tokens, salts, ids, stored file
// names) comes from OpenSSL's CSPRNG. A failing generator stops the process: carrying on would
// hand out predictable values.
std::string RandomBytes(size_t Count);

std::string Base64UrlEncode(std::string_view Bytes);

// Random (version 4) UUID in its usual 8-4-4-4-12 form.
std::string MakeUuid();

// A world identifier that doubles as a folder name in creators' projects: a lowercase letter,
// then lowercase letters and digits, 16 characters in all.
std::string MakeWorldIdentifier();

} // namespace OrvaDev
