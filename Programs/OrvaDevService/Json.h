#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace OrvaDev
{

// A JSON value small enough for the service's own bodies. Objects keep their keys in insertion
// order so that answers read the same way every time and match what a client wrote.
class FJsonValue
{
public:
	enum class EType
	{
		Null,
		Bool,
		Number,
		String,
		Array,
		Object
	};

	using FMember = std::pair<std::string, FJsonValue>;

	FJsonValue() = default;
	FJsonValue(std::nullptr_t) {}
	FJsonValue(bool bValue) : Type(EType::Bool), bBool(bValue) {}
	FJsonValue(int Value) : FJsonValue(static_cast<int64_t>(Value)) {}
	FJsonValue(int64_t Value) : Type(EType::Number), Number(static_cast<double>(Value)), Integer(Value), bIntegral(true) {}
	FJsonValue(double Value);
	FJsonValue(const char* Value) : Type(EType::String), String(Value) {}
	FJsonValue(std::string Value) : Type(EType::String), String(std::move(Value)) {}
	FJsonValue(std::string_view Value) : Type(EType::String), String(Value) {}

	static FJsonValue MakeArray(std::vector<FJsonValue> Items = {});
	static FJsonValue MakeObject(std::vector<FMember> Members = {});

	EType GetType() const { return Type; }
	bool IsNull() const { return Type == EType::Null; }
	bool IsBool() const { return Type == EType::Bool; }
	bool IsNumber() const { return Type == EType::Number; }
	bool IsString() const { return Type == EType::String; }
	bool IsArray() const { return Type == EType::Array; }
	bool IsObject() const { return Type == EType::Object; }

	// A number whose value is whole and fits 64 bits.
	bool IsIntegral() const { return Type == EType::Number && bIntegral; }

	bool AsBool() const { return bBool; }
	double AsNumber() const { return Number; }
	int64_t AsInteger() const { return Integer; }
	const std::string& AsString() const { return String; }
	const std::vector<FJsonValue>& AsArray() const { return Items; }
	const std::vector<FMember>& AsObject() const { return Members; }

	// Object member by key, or null when absent or when this is not an object.
	const FJsonValue* Find(std::string_view Key) const;

	// Appends to an array or object (the value is turned into one if it is null).
	FJsonValue& Push(FJsonValue Item);
	FJsonValue& Set(std::string Key, FJsonValue Value);

	// Condensed form: no blanks, keys in insertion order, non-ASCII written as UTF-8.
	std::string Write() const;
	void WriteTo(std::string& Out) const;

private:
	EType Type = EType::Null;
	bool bBool = false;
	double Number = 0.0;
	int64_t Integer = 0;
	bool bIntegral = false;
	std::string String;
	std::vector<FJsonValue> Items;
	std::vector<FMember> Members;

	friend class FJsonParser;
};

struct FJsonParseResult
{
	std::optional<FJsonValue> Value;
	std::string Error; // set when Value is empty
};

// Strict RFC 8259 reading: one value, nothing but blanks after it, valid UTF-8, no duplicate keys
// and a nesting limit so that a hostile body cannot exhaust the stack.
FJsonParseResult ParseJson(std::string_view Text);

} // namespace OrvaDev
