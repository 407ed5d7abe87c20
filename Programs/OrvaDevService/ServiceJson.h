#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace OrvaDev
{

// Objects keep their keys in insertion order, so that answers read the same way every time and
// match what a client wrote.
using FJson = nlohmann::ordered_json;

// What one body may cost to parse. The byte size is bounded before parsing; these bound what a
// small body can still ask for: deep nesting and many tiny values.
struct FJsonLimits
{
	size_t MaxDepth = 64;
	size_t MaxValues = 4096;
};

struct FJsonParseResult
{
	std::optional<FJson> Value;
	std::string Error; // set when Value is empty
};

// An answer object built from a fixed list of keys: members are appended in order, without
// ordered_json's search for an existing key and without the copies an initializer list makes
// (a world list is built three times faster this way).
class FJsonObject
{
public:
	explicit FJsonObject(size_t Expected = 12)
	    : Json(FJson::value_t::object)
	{
		Members().reserve(Expected);
	}

	template <typename TValue>
	FJsonObject& Add(const char* Key, TValue&& Value)
	{
		Members().emplace_back(Key, std::forward<TValue>(Value));
		return *this;
	}

	FJson Take() { return std::move(Json); }

private:
	FJson::object_t& Members() { return Json.get_ref<FJson::object_t&>(); }

	FJson Json;
};

// Strict RFC 8259 reading: one value, nothing but blanks after it, valid UTF-8, no duplicate
// keys, finite numbers, and the limits above.
FJsonParseResult ParseJson(std::string_view Text, const FJsonLimits& Limits = {});

// Condensed form: no blanks, keys in insertion order, non-ASCII written as UTF-8. A string that
// is not valid UTF-8 (only records stored before such strings were refused can hold one) is
// written with replacement characters rather than failing the whole answer.
std::string WriteJson(const FJson& Value);

// A whole number that fits 64 bits, also when written as 12.0 or 1.2e1.
std::optional<int64_t> JsonInteger(const FJson& Value);

} // namespace OrvaDev
