#include "ServiceJson.h"

#include <cmath>
#include <limits>
#include <unordered_set>
#include <vector>

namespace OrvaDev
{

namespace
{

// Builds the value through nlohmann's own DOM builder and refuses, as it goes, what the plain
// parser would let through. Returning false from an event stops the parse at once, so a refused
// body costs no more than the bytes up to the fault.
class FStrictSax
{
public:
	using FDom = nlohmann::detail::json_sax_dom_parser<FJson>;

	FStrictSax(FJson& Root, const FJsonLimits& InLimits)
	    : Dom(Root, false)
	    , Limits(InLimits)
	{
	}

	bool null() { return Count() && Dom.null(); }
	bool boolean(bool bValue) { return Count() && Dom.boolean(bValue); }
	bool number_integer(FJson::number_integer_t Value) { return Count() && Dom.number_integer(Value); }
	bool number_unsigned(FJson::number_unsigned_t Value) { return Count() && Dom.number_unsigned(Value); }
	bool number_float(FJson::number_float_t Value, const FJson::string_t& Literal)
	{
		if (!std::isfinite(Value))
		{
			return Fail("number out of range");
		}
		return Count() && Dom.number_float(Value, Literal);
	}
	bool string(FJson::string_t& Value) { return Count() && Dom.string(Value); }
	bool binary(FJson::binary_t&) { return Fail("binary values are not JSON"); }

	bool start_object(std::size_t Size)
	{
		if (!Open())
		{
			return false;
		}
		Keys.emplace_back();
		return Dom.start_object(Size);
	}
	bool key(FJson::string_t& Key)
	{
		if (!Keys.back().insert(Key).second)
		{
			return Fail("duplicate key");
		}
		return Dom.key(Key);
	}
	bool end_object()
	{
		Keys.pop_back();
		--Depth;
		return Dom.end_object();
	}
	bool start_array(std::size_t Size) { return Open() && Dom.start_array(Size); }
	bool end_array()
	{
		--Depth;
		return Dom.end_array();
	}

	template <typename TException>
	bool parse_error(std::size_t, const std::string&, const TException& Exception)
	{
		// "[json.exception.parse_error.101] parse error at line 1, column 2: ..." without the
		// library's own prefix.
		std::string Message = Exception.what();
		if (const size_t End = Message.find("] "); Message.starts_with("[json.exception") && End != std::string::npos)
		{
			Message.erase(0, End + 2);
		}
		// The token it stopped at is the client's own text (a password, perhaps): not repeated.
		if (const size_t LastRead = Message.find("; last read:"); LastRead != std::string::npos)
		{
			Message.resize(LastRead);
		}
		Error = Message;
		return false;
	}

	const std::string& Message() const { return Error; }

private:
	bool Fail(const char* Message)
	{
		if (Error.empty())
		{
			Error = Message;
		}
		return false;
	}

	bool Count()
	{
		if (++Values > Limits.MaxValues)
		{
			return Fail("too many values");
		}
		return true;
	}

	bool Open()
	{
		if (++Depth > Limits.MaxDepth)
		{
			return Fail("nesting too deep");
		}
		return Count();
	}

	FDom Dom;
	const FJsonLimits& Limits;
	std::vector<std::unordered_set<std::string>> Keys; // one set per open object
	size_t Depth = 0;
	size_t Values = 0;
	std::string Error;
};

} // namespace

FJsonParseResult ParseJson(std::string_view Text, const FJsonLimits& Limits)
{
	FJsonParseResult Result;
	FJson Value;
	FStrictSax Sax(Value, Limits);
	if (FJson::sax_parse(Text.data(), Text.data() + Text.size(), &Sax))
	{
		Result.Value = std::move(Value);
		return Result;
	}
	Result.Error = Sax.Message().empty() ? "malformed JSON" : Sax.Message();
	return Result;
}

std::string WriteJson(const FJson& Value)
{
	return Value.dump(-1, ' ', false, FJson::error_handler_t::replace);
}

std::optional<int64_t> JsonInteger(const FJson& Value)
{
	if (Value.is_number_integer() && !Value.is_number_unsigned())
	{
		return Value.get<int64_t>();
	}
	if (Value.is_number_unsigned())
	{
		const uint64_t Unsigned = Value.get<uint64_t>();
		if (Unsigned <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()))
		{
			return static_cast<int64_t>(Unsigned);
		}
		return std::nullopt;
	}
	if (Value.is_number_float())
	{
		const double Number = Value.get<double>();
		double Whole = 0.0;
		if (std::isfinite(Number) && std::modf(Number, &Whole) == 0.0 && Number >= -9.2e18 && Number <= 9.2e18)
		{
			return static_cast<int64_t>(Number);
		}
	}
	return std::nullopt;
}

} // namespace OrvaDev
