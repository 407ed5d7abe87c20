#pragma once

#include <cstdint>
#include <string>

namespace OrvaDev
{

// Wall-clock time, because token expiry and "last_update" must survive a restart.
int64_t NowUnixSeconds();

// Tests move the service's clock instead of waiting for an expiry: from then on the whole number
// of seconds in the file (when it holds one) is added to the wall clock at each reading. Set once,
// before the service starts serving.
void SetClockOffsetFile(std::string Path);

// UTC in the form 2024-05-01T12:34:56Z.
std::string NowIso8601();
std::string FormatIso8601(int64_t UnixSeconds);

} // namespace OrvaDev
