#include "Json.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace OrvaDev
{

FJsonValue::FJsonValue(double Value) : Type(EType::Number), Number(Value)
{
	double Whole = 0.0;
	if (std::isfinite(Value) && std::modf(Value, &Whole) == 0.0 && Value >= -9.2e18 && Value <= 9.2e18)
	{
		Integer = static_cast<int64_t>(Value);
		bIntegral = true;
	}
}

FJsonValue FJsonValue::MakeArray(std::vector<FJsonValue> Items)
{
	FJsonValue Value;
	Value.Type = EType::Array;
	Value.Items = std::move(Items);
	return Value;
}

FJsonValue FJsonValue::MakeObject(std::vector<FMember> Members)
{
	FJsonValue Value;
	Value.Type = EType::Object;
	Value.Members = std::move(Members);
	return Value;
}

const FJsonValue* FJsonValue::Find(std::string_view Key) const
{
	if (Type != EType::Object)
	{
		return nullptr;
	}
	for (const FMember& Member : Members)
	{
		if (Member.first == Key)
		{
			return &Member.second;
		}
	}
	return nullptr;
}

FJsonValue& FJsonValue::Push(FJsonValue Item)
{
	if (Type == EType::Null)
	{
		Type = EType::Array;
	}
	Items.push_back(std::move(Item));
	return Items.back();
}

FJsonValue& FJsonValue::Set(std::string Key, FJsonValue Value)
{
	if (Type == EType::Null)
	{
		Type = EType::Object;
	}
	for (FMember& Member : Members)
	{
		if (Member.first == Key)
		{
			Member.second = std::move(Value);
			return Member.second;
		}
	}
	Members.emplace_back(std::move(Key), std::move(Value));
	return Members.back().second;
}

namespace
{

void WriteString(std::string& Out, std::string_view Text)
{
	static constexpr char Hex[] = "0123456789abcdef";
	Out.push_back('"');
	size_t RunStart = 0;
	for (size_t Index = 0; Index < Text.size(); ++Index)
	{
		const auto Byte = static_cast<unsigned char>(Text[Index]);
		if (Byte >= 0x20 && Byte != '"' && Byte != '\\')
		{
			continue;
		}
		// Plain bytes go over in runs; only the ones that need escaping are handled one by one.
		Out.append(Text.data() + RunStart, Index - RunStart);
		RunStart = Index + 1;
		switch (Byte)
		{
		case '"': Out += "\\\""; break;
		case '\\': Out += "\\\\"; break;
		case '\b': Out += "\\b"; break;
		case '\f': Out += "\\f"; break;
		case '\n': Out += "\\n"; break;
		case '\r': Out += "\\r"; break;
		case '\t': Out += "\\t"; break;
		default:
			Out += "\\u00";
			Out.push_back(Hex[Byte >> 4]);
			Out.push_back(Hex[Byte & 0xF]);
		}
	}
	Out.append(Text.data() + RunStart, Text.size() - RunStart);
	Out.push_back('"');
}

} // namespace

void FJsonValue::WriteTo(std::string& Out) const
{
	switch (Type)
	{
	case EType::Null: Out += "null"; break;
	case EType::Bool: Out += bBool ? "true" : "false"; break;
	case EType::Number:
		if (bIntegral)
		{
			Out += std::to_string(Integer);
		}
		else if (std::isfinite(Number))
		{
			char Buffer[32];
			const int Length = std::snprintf(Buffer, sizeof(Buffer), "%.17g", Number);
			Out.append(Buffer, static_cast<size_t>(Length));
		}
		else
		{
			Out += "null";
		}
		break;
	case EType::String: WriteString(Out, String); break;
	case EType::Array:
		Out.push_back('[');
		for (size_t Index = 0; Index < Items.size(); ++Index)
		{
			if (Index > 0)
			{
				Out.push_back(',');
			}
			Items[Index].WriteTo(Out);
		}
		Out.push_back(']');
		break;
	case EType::Object:
		Out.push_back('{');
		for (size_t Index = 0; Index < Members.size(); ++Index)
		{
			if (Index > 0)
			{
				Out.push_back(',');
			}
			WriteString(Out, Members[Index].first);
			Out.push_back(':');
			Members[Index].second.WriteTo(Out);
		}
		Out.push_back('}');
		break;
	}
}

std::string FJsonValue::Write() const
{
	std::string Out;
	WriteTo(Out);
	return Out;
}

void FJsonWriter::BeforeValue()
{
	if (bAfterKey)
	{
		bAfterKey = false;
		return;
	}
	if (!bNeedsComma.empty())
	{
		if (bNeedsComma.back())
		{
			Out.push_back(',');
		}
		bNeedsComma.back() = true;
	}
}

FJsonWriter& FJsonWriter::BeginObject()
{
	BeforeValue();
	Out.push_back('{');
	bNeedsComma.push_back(false);
	return *this;
}

FJsonWriter& FJsonWriter::EndObject()
{
	Out.push_back('}');
	bNeedsComma.pop_back();
	return *this;
}

FJsonWriter& FJsonWriter::BeginArray()
{
	BeforeValue();
	Out.push_back('[');
	bNeedsComma.push_back(false);
	return *this;
}

FJsonWriter& FJsonWriter::EndArray()
{
	Out.push_back(']');
	bNeedsComma.pop_back();
	return *this;
}

FJsonWriter& FJsonWriter::Key(std::string_view Name)
{
	BeforeValue();
	WriteString(Out, Name);
	Out.push_back(':');
	bAfterKey = true;
	return *this;
}

FJsonWriter& FJsonWriter::String(std::string_view Text)
{
	BeforeValue();
	WriteString(Out, Text);
	return *this;
}

FJsonWriter& FJsonWriter::Integer(int64_t Number)
{
	BeforeValue();
	char Buffer[24];
	const auto Result = std::to_chars(Buffer, Buffer + sizeof(Buffer), Number);
	Out.append(Buffer, Result.ptr);
	return *this;
}

FJsonWriter& FJsonWriter::Bool(bool bValue)
{
	BeforeValue();
	Out += bValue ? "true" : "false";
	return *this;
}

FJsonWriter& FJsonWriter::Null()
{
	BeforeValue();
	Out += "null";
	return *this;
}

FJsonWriter& FJsonWriter::Value(const FJsonValue& Value)
{
	BeforeValue();
	Value.WriteTo(Out);
	return *this;
}

class FJsonParser
{
public:
	explicit FJsonParser(std::string_view InText) : Text(InText) {}

	FJsonParseResult Run()
	{
		FJsonParseResult Result;
		FJsonValue Value;
		SkipBlanks();
		if (ParseValue(Value, 0))
		{
			SkipBlanks();
			if (Pos == Text.size())
			{
				Result.Value = std::move(Value);
				return Result;
			}
			Fail("unexpected data after the JSON value");
		}
		Result.Error = Error + " at offset " + std::to_string(Pos);
		return Result;
	}

private:
	static constexpr int MaxDepth = 64;

	std::string_view Text;
	size_t Pos = 0;
	std::string Error;

	bool Fail(const char* Message)
	{
		if (Error.empty())
		{
			Error = Message;
		}
		return false;
	}

	void SkipBlanks()
	{
		while (Pos < Text.size() && (Text[Pos] == ' ' || Text[Pos] == '\t' || Text[Pos] == '\n' || Text[Pos] == '\r'))
		{
			++Pos;
		}
	}

	bool Consume(std::string_view Literal)
	{
		if (Text.substr(Pos, Literal.size()) == Literal)
		{
			Pos += Literal.size();
			return true;
		}
		return false;
	}

	bool ParseValue(FJsonValue& Out, int Depth)
	{
		if (Depth > MaxDepth)
		{
			return Fail("nesting too deep");
		}
		if (Pos >= Text.size())
		{
			return Fail("unexpected end of input");
		}
		switch (Text[Pos])
		{
		case '{': return ParseObject(Out, Depth);
		case '[': return ParseArray(Out, Depth);
		case '"':
			Out.Type = FJsonValue::EType::String;
			return ParseString(Out.String);
		case 't':
			if (Consume("true"))
			{
				Out = FJsonValue(true);
				return true;
			}
			return Fail("invalid literal");
		case 'f':
			if (Consume("false"))
			{
				Out = FJsonValue(false);
				return true;
			}
			return Fail("invalid literal");
		case 'n':
			if (Consume("null"))
			{
				Out = FJsonValue();
				return true;
			}
			return Fail("invalid literal");
		default: return ParseNumber(Out);
		}
	}

	bool ParseObject(FJsonValue& Out, int Depth)
	{
		Out = FJsonValue::MakeObject();
		++Pos; // '{'
		SkipBlanks();
		if (Pos < Text.size() && Text[Pos] == '}')
		{
			++Pos;
			return true;
		}
		while (true)
		{
			SkipBlanks();
			if (Pos >= Text.size() || Text[Pos] != '"')
			{
				return Fail("expected a string key");
			}
			std::string Key;
			if (!ParseString(Key))
			{
				return false;
			}
			if (Out.Find(Key) != nullptr)
			{
				return Fail("duplicate key");
			}
			SkipBlanks();
			if (Pos >= Text.size() || Text[Pos] != ':')
			{
				return Fail("expected ':'");
			}
			++Pos;
			SkipBlanks();
			FJsonValue Member;
			if (!ParseValue(Member, Depth + 1))
			{
				return false;
			}
			Out.Members.emplace_back(std::move(Key), std::move(Member));
			SkipBlanks();
			if (Pos < Text.size() && Text[Pos] == ',')
			{
				++Pos;
				continue;
			}
			if (Pos < Text.size() && Text[Pos] == '}')
			{
				++Pos;
				return true;
			}
			return Fail("expected ',' or '}'");
		}
	}

	bool ParseArray(FJsonValue& Out, int Depth)
	{
		Out = FJsonValue::MakeArray();
		++Pos; // '['
		SkipBlanks();
		if (Pos < Text.size() && Text[Pos] == ']')
		{
			++Pos;
			return true;
		}
		while (true)
		{
			SkipBlanks();
			FJsonValue Item;
			if (!ParseValue(Item, Depth + 1))
			{
				return false;
			}
			Out.Items.push_back(std::move(Item));
			SkipBlanks();
			if (Pos < Text.size() && Text[Pos] == ',')
			{
				++Pos;
				continue;
			}
			if (Pos < Text.size() && Text[Pos] == ']')
			{
				++Pos;
				return true;
			}
			return Fail("expected ',' or ']'");
		}
	}

	bool ParseHex4(uint32_t& Out)
	{
		if (Pos + 4 > Text.size())
		{
			return Fail("truncated \\u escape");
		}
		Out = 0;
		for (int Index = 0; Index < 4; ++Index)
		{
			const char Char = Text[Pos++];
			Out <<= 4;
			if (Char >= '0' && Char <= '9')
			{
				Out |= static_cast<uint32_t>(Char - '0');
			}
			else if (Char >= 'a' && Char <= 'f')
			{
				Out |= static_cast<uint32_t>(Char - 'a' + 10);
			}
			else if (Char >= 'A' && Char <= 'F')
			{
				Out |= static_cast<uint32_t>(Char - 'A' + 10);
			}
			else
			{
				return Fail("invalid \\u escape");
			}
		}
		return true;
	}

	static void AppendUtf8(std::string& Out, uint32_t CodePoint)
	{
		if (CodePoint < 0x80)
		{
			Out.push_back(static_cast<char>(CodePoint));
		}
		else if (CodePoint < 0x800)
		{
			Out.push_back(static_cast<char>(0xC0 | (CodePoint >> 6)));
			Out.push_back(static_cast<char>(0x80 | (CodePoint & 0x3F)));
		}
		else if (CodePoint < 0x10000)
		{
			Out.push_back(static_cast<char>(0xE0 | (CodePoint >> 12)));
			Out.push_back(static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F)));
			Out.push_back(static_cast<char>(0x80 | (CodePoint & 0x3F)));
		}
		else
		{
			Out.push_back(static_cast<char>(0xF0 | (CodePoint >> 18)));
			Out.push_back(static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F)));
			Out.push_back(static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F)));
			Out.push_back(static_cast<char>(0x80 | (CodePoint & 0x3F)));
		}
	}

	// Copies one raw UTF-8 sequence, refusing overlong forms, surrogates and stray bytes.
	bool CopyUtf8Sequence(std::string& Out)
	{
		const auto Lead = static_cast<unsigned char>(Text[Pos]);
		int Length = 0;
		uint32_t CodePoint = 0;
		if (Lead >= 0xC2 && Lead <= 0xDF)
		{
			Length = 2;
			CodePoint = Lead & 0x1F;
		}
		else if (Lead >= 0xE0 && Lead <= 0xEF)
		{
			Length = 3;
			CodePoint = Lead & 0x0F;
		}
		else if (Lead >= 0xF0 && Lead <= 0xF4)
		{
			Length = 4;
			CodePoint = Lead & 0x07;
		}
		else
		{
			return Fail("invalid UTF-8");
		}
		if (Pos + static_cast<size_t>(Length) > Text.size())
		{
			return Fail("invalid UTF-8");
		}
		for (int Index = 1; Index < Length; ++Index)
		{
			const auto Next = static_cast<unsigned char>(Text[Pos + static_cast<size_t>(Index)]);
			if ((Next & 0xC0) != 0x80)
			{
				return Fail("invalid UTF-8");
			}
			CodePoint = (CodePoint << 6) | (Next & 0x3F);
		}
		const bool bOverlong = (Length == 3 && CodePoint < 0x800) || (Length == 4 && CodePoint < 0x10000);
		if (bOverlong || CodePoint > 0x10FFFF || (CodePoint >= 0xD800 && CodePoint <= 0xDFFF))
		{
			return Fail("invalid UTF-8");
		}
		Out.append(Text.substr(Pos, static_cast<size_t>(Length)));
		Pos += static_cast<size_t>(Length);
		return true;
	}

	bool ParseString(std::string& Out)
	{
		++Pos; // opening quote
		while (true)
		{
			if (Pos >= Text.size())
			{
				return Fail("unterminated string");
			}
			const char Char = Text[Pos];
			const auto Byte = static_cast<unsigned char>(Char);
			if (Char == '"')
			{
				++Pos;
				return true;
			}
			if (Byte < 0x20)
			{
				return Fail("control character in string");
			}
			if (Byte >= 0x80)
			{
				if (!CopyUtf8Sequence(Out))
				{
					return false;
				}
				continue;
			}
			if (Char != '\\')
			{
				Out.push_back(Char);
				++Pos;
				continue;
			}
			if (++Pos >= Text.size())
			{
				return Fail("unterminated string");
			}
			const char Escape = Text[Pos++];
			switch (Escape)
			{
			case '"': Out.push_back('"'); break;
			case '\\': Out.push_back('\\'); break;
			case '/': Out.push_back('/'); break;
			case 'b': Out.push_back('\b'); break;
			case 'f': Out.push_back('\f'); break;
			case 'n': Out.push_back('\n'); break;
			case 'r': Out.push_back('\r'); break;
			case 't': Out.push_back('\t'); break;
			case 'u':
			{
				uint32_t CodePoint = 0;
				if (!ParseHex4(CodePoint))
				{
					return false;
				}
				if (CodePoint >= 0xD800 && CodePoint <= 0xDBFF)
				{
					uint32_t Low = 0;
					if (!Consume("\\u") || !ParseHex4(Low) || Low < 0xDC00 || Low > 0xDFFF)
					{
						return Fail("unpaired surrogate");
					}
					CodePoint = 0x10000 + ((CodePoint - 0xD800) << 10) + (Low - 0xDC00);
				}
				else if (CodePoint >= 0xDC00 && CodePoint <= 0xDFFF)
				{
					return Fail("unpaired surrogate");
				}
				AppendUtf8(Out, CodePoint);
				break;
			}
			default: return Fail("invalid escape");
			}
		}
	}

	bool ParseNumber(FJsonValue& Out)
	{
		const size_t Start = Pos;
		bool bIntegral = true;
		if (Pos < Text.size() && Text[Pos] == '-')
		{
			++Pos;
		}
		auto IsDigit = [this] { return Pos < Text.size() && Text[Pos] >= '0' && Text[Pos] <= '9'; };
		if (!IsDigit())
		{
			return Fail("invalid value");
		}
		if (Text[Pos] == '0')
		{
			++Pos;
		}
		else
		{
			while (IsDigit())
			{
				++Pos;
			}
		}
		if (Pos < Text.size() && Text[Pos] == '.')
		{
			bIntegral = false;
			++Pos;
			if (!IsDigit())
			{
				return Fail("invalid number");
			}
			while (IsDigit())
			{
				++Pos;
			}
		}
		if (Pos < Text.size() && (Text[Pos] == 'e' || Text[Pos] == 'E'))
		{
			bIntegral = false;
			++Pos;
			if (Pos < Text.size() && (Text[Pos] == '+' || Text[Pos] == '-'))
			{
				++Pos;
			}
			if (!IsDigit())
			{
				return Fail("invalid number");
			}
			while (IsDigit())
			{
				++Pos;
			}
		}
		const std::string_view Literal = Text.substr(Start, Pos - Start);
		if (bIntegral)
		{
			int64_t Value = 0;
			const auto [End, Code] = std::from_chars(Literal.data(), Literal.data() + Literal.size(), Value);
			if (Code == std::errc() && End == Literal.data() + Literal.size())
			{
				Out = FJsonValue(Value);
				return true;
			}
		}
		// strtod needs a terminated buffer; the literal is short and already validated.
		const std::string Copy(Literal);
		const double Value = std::strtod(Copy.c_str(), nullptr);
		if (!std::isfinite(Value))
		{
			return Fail("number out of range");
		}
		// A whole value written as 12.0 or 1.2e1 still counts as integral.
		Out = FJsonValue(Value);
		return true;
	}
};

FJsonParseResult ParseJson(std::string_view Text)
{
	return FJsonParser(Text).Run();
}

} // namespace OrvaDev
