#pragma once

#include <cstdint>
#include <string>

namespace OrvaDev
{

// Wall-clock time, because token expiry and "last_update" must survive a restart.
int64_t NowUnixSeconds();

// UTC in the form 2024-05-01T12:34:56Z.
std::string NowIso8601();
std::string FormatIso8601(int64_t UnixSeconds);

} // namespace OrvaDev
