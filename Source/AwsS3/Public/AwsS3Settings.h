#pragma once

#include "ConfigSetting.h"

// Section "AwsS3" of the settings file the client is given: where the store is and how large
// transfers go up. The defaults are FS3ClientConfiguration's.
namespace AwsS3::Settings
{
inline constexpr FConfigSection Section{"AwsS3"};
// An absolute http or https address; none means the region's AWS endpoint.
inline constexpr FConfigStringSetting Endpoint{Section, "Endpoint"};
inline constexpr FConfigBoolSetting bUsePathStyle{Section, "bUsePathStyle", false};
inline constexpr FConfigWholeNumberSetting MultipartThresholdBytes{Section, "MultipartThresholdBytes",
                                                                   qint64(16) * 1024 * 1024, 0};
inline constexpr FConfigWholeNumberSetting MultipartPartSizeBytes{Section, "MultipartPartSizeBytes",
                                                                  qint64(8) * 1024 * 1024, 1};
inline constexpr FConfigWholeNumberSetting MaxPartsInFlight{Section, "MaxPartsInFlight", 4, 1};
// More parts at once than this only add contention.
inline constexpr int MaxPartsInFlightCap = 64;
} // namespace AwsS3::Settings
