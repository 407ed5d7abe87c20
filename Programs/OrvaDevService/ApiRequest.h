#pragma once

// How the service reads a request before any handler sees it: the header checks and rewrites made
// once the headers are in, the body read within its route's limit, and the JSON body parse. No
// store, no tokens: what lies here depends on the request bytes alone.

#include "ApiRoutes.h"

#include <httplib.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace OrvaDev
{

const char* ReasonPhrase(int Status);

// The boundary parameter of a multipart Content-Type; empty when it has none or an unusable one.
std::string MultipartBoundary(std::string_view Type);

// The Content-Length header as a number; UINT64_MAX when it is not one, nullopt when absent.
std::optional<uint64_t> DeclaredLength(const httplib::Request& Request);
bool IsChunked(const httplib::Request& Request);

// The pre-routing step: refuses framings that cannot be trusted, gives a body-taking request
// without a length an empty body, and rewrites a multipart type into the form httplib reads.
httplib::Server::HandlerResponse PrepareRequest(const httplib::Request& Request, httplib::Response& Response);

// Reads and drops the body of a request that is refused before its body is looked at.
void SkipBody(const httplib::Request& Request, const httplib::ContentReader& Reader);
// Reads the body (split into parts when it is a multipart form) within Limit bytes; false after
// answering the request.
bool ReadBody(FApiRequest& Request, size_t Limit, const httplib::ContentReader& Reader);
// Parses the raw body as one JSON value within the body limits; false after answering 422.
bool ParseJsonBody(FApiRequest& Request);

} // namespace OrvaDev
