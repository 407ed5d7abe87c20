#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace OrvaDev
{

// One part of a multipart/form-data body. Body points into the request body.
struct FMultipartPart
{
	std::string Name;
	std::optional<std::string> Filename;
	std::string ContentType;
	std::string_view Body;
};

// The boundary parameter of a multipart/form-data type. Blanks around "=" are accepted: the
// plugin writes "multipart/form-data; boundary =----...", which strict parsers reject.
std::optional<std::string> ParseMultipartBoundary(std::string_view ContentType);

// Splits a body into its parts (RFC 7578 / RFC 2046). A preamble before the first delimiter is
// skipped (the plugin starts its body with CR LF), and so is anything after the closing one.
// Returns false, with a reason, for a body that is not well formed.
bool ParseMultipart(std::string_view Body, std::string_view Boundary, std::vector<FMultipartPart>& OutParts,
					std::string& OutError);

} // namespace OrvaDev
