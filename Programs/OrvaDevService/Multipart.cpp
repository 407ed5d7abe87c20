#include "Multipart.h"

#include <algorithm>
#include <cctype>

namespace OrvaDev
{

namespace
{

constexpr size_t MaxParts = 32;
constexpr size_t MaxBoundaryLength = 70;

std::string_view Trim(std::string_view Text)
{
	while (!Text.empty() && (Text.front() == ' ' || Text.front() == '\t'))
	{
		Text.remove_prefix(1);
	}
	while (!Text.empty() && (Text.back() == ' ' || Text.back() == '\t'))
	{
		Text.remove_suffix(1);
	}
	return Text;
}

bool EqualsIgnoreCase(std::string_view A, std::string_view B)
{
	return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
			   return std::tolower(static_cast<unsigned char>(X)) == std::tolower(static_cast<unsigned char>(Y));
		   });
}

struct FParameter
{
	std::string Name;
	std::string Value;
};

// "type; a=b; c="d;e"" -> the type, and the parameters in order. Quoted values may hold ';' and
// backslash escapes.
std::string_view SplitParameters(std::string_view Header, std::vector<FParameter>& Out)
{
	const size_t TypeEnd = Header.find(';');
	const std::string_view Type = Trim(Header.substr(0, TypeEnd));
	size_t Pos = TypeEnd == std::string_view::npos ? Header.size() : TypeEnd + 1;
	while (Pos < Header.size())
	{
		const size_t Equals = Header.find_first_of("=;", Pos);
		if (Equals == std::string_view::npos || Header[Equals] == ';')
		{
			// A parameter without value; skip it.
			Pos = Equals == std::string_view::npos ? Header.size() : Equals + 1;
			continue;
		}
		FParameter Parameter;
		Parameter.Name = std::string(Trim(Header.substr(Pos, Equals - Pos)));
		Pos = Equals + 1;
		while (Pos < Header.size() && (Header[Pos] == ' ' || Header[Pos] == '\t'))
		{
			++Pos;
		}
		if (Pos < Header.size() && Header[Pos] == '"')
		{
			++Pos;
			while (Pos < Header.size() && Header[Pos] != '"')
			{
				if (Header[Pos] == '\\' && Pos + 1 < Header.size())
				{
					++Pos;
				}
				Parameter.Value.push_back(Header[Pos++]);
			}
			Pos = std::min(Header.size(), Pos + 1);
			const size_t Next = Header.find(';', Pos);
			Pos = Next == std::string_view::npos ? Header.size() : Next + 1;
		}
		else
		{
			const size_t Next = Header.find(';', Pos);
			Parameter.Value = std::string(Trim(Header.substr(Pos, Next == std::string_view::npos ? Next : Next - Pos)));
			Pos = Next == std::string_view::npos ? Header.size() : Next + 1;
		}
		Out.push_back(std::move(Parameter));
	}
	return Type;
}

bool ParsePartHeaders(std::string_view Block, FMultipartPart& Part, std::string& OutError)
{
	bool bHasDisposition = false;
	size_t Pos = 0;
	while (Pos < Block.size())
	{
		size_t LineEnd = Block.find("\r\n", Pos);
		if (LineEnd == std::string_view::npos)
		{
			LineEnd = Block.size();
		}
		const std::string_view Line = Block.substr(Pos, LineEnd - Pos);
		Pos = LineEnd + 2;
		const size_t Colon = Line.find(':');
		if (Colon == std::string_view::npos)
		{
			OutError = "malformed part header";
			return false;
		}
		const std::string_view Name = Trim(Line.substr(0, Colon));
		const std::string_view Value = Trim(Line.substr(Colon + 1));
		if (EqualsIgnoreCase(Name, "Content-Disposition"))
		{
			std::vector<FParameter> Parameters;
			if (!EqualsIgnoreCase(SplitParameters(Value, Parameters), "form-data"))
			{
				OutError = "part is not form-data";
				return false;
			}
			for (FParameter& Parameter : Parameters)
			{
				if (EqualsIgnoreCase(Parameter.Name, "name"))
				{
					Part.Name = std::move(Parameter.Value);
				}
				else if (EqualsIgnoreCase(Parameter.Name, "filename"))
				{
					Part.Filename = std::move(Parameter.Value);
				}
			}
			bHasDisposition = true;
		}
		else if (EqualsIgnoreCase(Name, "Content-Type"))
		{
			Part.ContentType = std::string(Value);
		}
	}
	if (!bHasDisposition)
	{
		OutError = "part without Content-Disposition";
		return false;
	}
	return true;
}

} // namespace

std::optional<std::string> ParseMultipartBoundary(std::string_view ContentType)
{
	std::vector<FParameter> Parameters;
	if (!EqualsIgnoreCase(SplitParameters(ContentType, Parameters), "multipart/form-data"))
	{
		return std::nullopt;
	}
	for (const FParameter& Parameter : Parameters)
	{
		if (EqualsIgnoreCase(Parameter.Name, "boundary"))
		{
			const std::string& Boundary = Parameter.Value;
			if (Boundary.empty() || Boundary.size() > MaxBoundaryLength ||
				Boundary.find_first_of("\r\n") != std::string::npos)
			{
				return std::nullopt;
			}
			return Boundary;
		}
	}
	return std::nullopt;
}

bool ParseMultipart(std::string_view Body, std::string_view Boundary, std::vector<FMultipartPart>& OutParts,
					std::string& OutError)
{
	const std::string Delimiter = "--" + std::string(Boundary);
	const std::string LineDelimiter = "\r\n" + Delimiter;

	size_t Pos = 0;
	if (Body.substr(0, Delimiter.size()) != Delimiter)
	{
		const size_t First = Body.find(LineDelimiter);
		if (First == std::string_view::npos)
		{
			OutError = "no multipart boundary in the body";
			return false;
		}
		Pos = First + 2;
	}

	std::vector<FMultipartPart> Parts;
	while (true)
	{
		Pos += Delimiter.size();
		if (Body.substr(Pos, 2) == "--")
		{
			OutParts = std::move(Parts);
			return true;
		}
		while (Pos < Body.size() && (Body[Pos] == ' ' || Body[Pos] == '\t'))
		{
			++Pos;
		}
		if (Body.substr(Pos, 2) != "\r\n")
		{
			OutError = "malformed multipart delimiter line";
			return false;
		}
		Pos += 2;

		FMultipartPart Part;
		const size_t HeadersEnd = Body.substr(Pos, 2) == "\r\n" ? Pos : Body.find("\r\n\r\n", Pos);
		if (HeadersEnd == std::string_view::npos)
		{
			OutError = "unterminated part headers";
			return false;
		}
		if (!ParsePartHeaders(Body.substr(Pos, HeadersEnd - Pos), Part, OutError))
		{
			return false;
		}
		const size_t ContentStart = HeadersEnd == Pos ? Pos + 2 : HeadersEnd + 4;
		const size_t ContentEnd = Body.find(LineDelimiter, ContentStart);
		if (ContentEnd == std::string_view::npos)
		{
			OutError = "unterminated multipart body";
			return false;
		}
		Part.Body = Body.substr(ContentStart, ContentEnd - ContentStart);
		Parts.push_back(std::move(Part));
		if (Parts.size() > MaxParts)
		{
			OutError = "too many parts";
			return false;
		}
		Pos = ContentEnd + 2;
	}
}

} // namespace OrvaDev
