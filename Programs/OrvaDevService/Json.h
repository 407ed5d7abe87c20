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

// Writes condensed JSON straight into a string, for answers that are built once and sent: no
// value tree, so a long list costs one growing buffer instead of a node per member.
class FJsonWriter
{
public:
	FJsonWriter& BeginObject();
	FJsonWriter& EndObject();
	FJsonWriter& BeginArray();
	FJsonWriter& EndArray();
	FJsonWriter& Key(std::string_view Name);

	FJsonWriter& String(std::string_view Text);
	FJsonWriter& Integer(int64_t Number);
	FJsonWriter& Bool(bool bValue);
	FJsonWriter& Null();
	FJsonWriter& Value(const FJsonValue& Value);

	// Key and value in one call, for the common case.
	FJsonWriter& Member(std::string_view Name, std::string_view Text) { return Key(Name).String(Text); }
	FJsonWriter& Member(std::string_view Name, const char* Text) { return Key(Name).String(Text); }
	FJsonWriter& Member(std::string_view Name, const std::string& Text) { return Key(Name).String(Text); }
	FJsonWriter& Member(std::string_view Name, int64_t Number) { return Key(Name).Integer(Number); }
	FJsonWriter& Member(std::string_view Name, bool bValue) { return Key(Name).Bool(bValue); }

	std::string Take() { return std::move(Out); }

private:
	void BeforeValue();

	std::string Out;
	std::vector<bool> bNeedsComma; // one entry per open array or object
	bool bAfterKey = false;
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
