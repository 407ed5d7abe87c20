#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace OrvaDev
{

struct FImageType
{
	std::string ContentType;
	std::string Extension; // with the dot
};

// The image type from the file's own bytes. The declared part type cannot be trusted: the plugin
// labels every upload "image/png", JPEG files included.
std::optional<FImageType> SniffImageType(std::string_view Bytes);

// A name to show for an uploaded file: the client's file name, percent-decoded (the plugin
// URL-encodes it), without any folder part or control characters, ill-formed UTF-8 replaced by
// U+FFFD, at most 255 bytes. Only ever displayed, never used as a path.
std::string DisplayNameFromUpload(std::string_view ClientFilename, std::string_view Fallback);

} // namespace OrvaDev
