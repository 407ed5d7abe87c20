#include "Clock.h"

#include <charconv>
#include <chrono>
#include <ctime>
#include <fstream>
#include <iterator>

namespace OrvaDev
{

namespace
{
std::string& ClockOffsetFile()
{
	static std::string Path;
	return Path;
}

int64_t ClockOffsetSeconds()
{
	if (ClockOffsetFile().empty())
	{
		return 0;
	}
	std::ifstream File(ClockOffsetFile());
	const std::string Text((std::istreambuf_iterator<char>(File)), std::istreambuf_iterator<char>());
	int64_t Offset = 0;
	const char* Begin = Text.data();
	const auto [End, Error] = std::from_chars(Begin, Begin + Text.size(), Offset);
	return Error == std::errc() && End != Begin ? Offset : 0;
}
} // namespace

void SetClockOffsetFile(std::string Path)
{
	ClockOffsetFile() = std::move(Path);
}

int64_t NowUnixSeconds()
{
	return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
	           .count() +
	       ClockOffsetSeconds();
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
