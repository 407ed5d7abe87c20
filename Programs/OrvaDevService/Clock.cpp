#include "Clock.h"

#include <chrono>
#include <ctime>

namespace OrvaDev
{

int64_t NowUnixSeconds()
{
	return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
	    .count();
}

std::string NowIso8601()
{
	return FormatIso8601(NowUnixSeconds());
}

std::string FormatIso8601(int64_t UnixSeconds)
{
	const auto Time = static_cast<std::time_t>(UnixSeconds);
	std::tm Utc{};
	gmtime_r(&Time, &Utc);
	char Buffer[32];
	const size_t Length = std::strftime(Buffer, sizeof(Buffer), "%Y-%m-%dT%H:%M:%SZ", &Utc);
	return std::string(Buffer, Length);
}

} // namespace OrvaDev
