#include "ServiceOptions.h"

#include "Json.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace OrvaDev
{

namespace
{

bool IsPhoneNumber(std::string_view Text)
{
	if (!Text.empty() && Text.front() == '+')
	{
		Text.remove_prefix(1);
	}
	if (Text.empty())
	{
		return false;
	}
	for (const char Char : Text)
	{
		if (Char < '0' || Char > '9')
		{
			return false;
		}
	}
	return true;
}

std::string DefaultDisplayName(const FCreatorSeed& Seed)
{
	if (!Seed.Email.empty())
	{
		return Seed.Email.substr(0, Seed.Email.find('@'));
	}
	return Seed.Phone;
}

bool FinishSeed(FCreatorSeed& Seed, std::string& OutError)
{
	if (Seed.Email.empty() && Seed.Phone.empty())
	{
		OutError = "a creator needs an email or a phone number";
		return false;
	}
	if (!Seed.Email.empty() && (Seed.Email.find('@') == std::string::npos || Seed.Email.front() == '@'))
	{
		OutError = "not an email address: " + Seed.Email;
		return false;
	}
	if (!Seed.Phone.empty() && !IsPhoneNumber(Seed.Phone))
	{
		OutError = "not a phone number (digits, optionally after +): " + Seed.Phone;
		return false;
	}
	if (Seed.DisplayName.empty())
	{
		Seed.DisplayName = DefaultDisplayName(Seed);
	}
	return true;
}

template <typename TNumber>
bool ParseNumber(std::string_view Text, TNumber Min, TNumber Max, TNumber& Out)
{
	TNumber Value{};
	const auto [End, Code] = std::from_chars(Text.data(), Text.data() + Text.size(), Value);
	if (Code != std::errc() || End != Text.data() + Text.size() || Value < Min || Value > Max)
	{
		return false;
	}
	Out = Value;
	return true;
}

} // namespace

bool ParseCreatorFlag(std::string_view Flag, FCreatorSeed& OutSeed, std::string& OutError)
{
	const size_t FirstColon = Flag.find(':');
	if (FirstColon == std::string_view::npos)
	{
		OutError = "--creator wants ACCOUNT:PASSWORD[:DISPLAY_NAME]";
		return false;
	}
	FCreatorSeed Seed;
	const std::string_view Account = Flag.substr(0, FirstColon);
	std::string_view Rest = Flag.substr(FirstColon + 1);
	const size_t SecondColon = Rest.find(':');
	Seed.Password = std::string(Rest.substr(0, SecondColon));
	if (SecondColon != std::string_view::npos)
	{
		Seed.DisplayName = std::string(Rest.substr(SecondColon + 1));
	}
	if (Account.find('@') != std::string_view::npos)
	{
		Seed.Email = std::string(Account);
	}
	else
	{
		Seed.Phone = std::string(Account);
	}
	if (!FinishSeed(Seed, OutError))
	{
		return false;
	}
	OutSeed = std::move(Seed);
	return true;
}

bool LoadSeedFile(const std::filesystem::path& Path, std::vector<FCreatorSeed>& OutSeeds, std::string& OutError)
{
	std::ifstream File(Path, std::ios::binary);
	if (!File)
	{
		OutError = "cannot read seed file " + Path.string();
		return false;
	}
	std::ostringstream Content;
	Content << File.rdbuf();
	const FJsonParseResult Parsed = ParseJson(Content.str());
	if (!Parsed.Value)
	{
		OutError = "seed file " + Path.string() + ": " + Parsed.Error;
		return false;
	}
	const FJsonValue* Creators = &*Parsed.Value;
	if (Creators->IsObject())
	{
		Creators = Creators->Find("creators");
	}
	if (Creators == nullptr || !Creators->IsArray())
	{
		OutError = "seed file " + Path.string() + ": expected {\"creators\": [...]} or an array";
		return false;
	}
	size_t Index = 0;
	for (const FJsonValue& Entry : Creators->AsArray())
	{
		const std::string Where = "seed file " + Path.string() + ", creator " + std::to_string(Index++) + ": ";
		if (!Entry.IsObject())
		{
			OutError = Where + "not an object";
			return false;
		}
		FCreatorSeed Seed;
		for (const auto& [Key, Target] : {std::pair<const char*, std::string*>{"email", &Seed.Email},
										  {"phone", &Seed.Phone},
										  {"password", &Seed.Password},
										  {"display_name", &Seed.DisplayName}})
		{
			if (const FJsonValue* Value = Entry.Find(Key))
			{
				if (!Value->IsString())
				{
					OutError = Where + "\"" + Key + "\" must be a string";
					return false;
				}
				*Target = Value->AsString();
			}
		}
		if (Entry.Find("password") == nullptr)
		{
			OutError = Where + "\"password\" is missing";
			return false;
		}
		if (!FinishSeed(Seed, OutError))
		{
			OutError = Where + OutError;
			return false;
		}
		OutSeeds.push_back(std::move(Seed));
	}
	return true;
}

std::string UsageText()
{
	return R"(Usage: OrvaDevService --data DIR [options]

Answers the Orva platform's REST API under /api/v1/ for local development and tests.
Prints one line with its base address on stdout once it accepts connections, and runs until
SIGINT or SIGTERM.

  --data DIR                     folder for the database and stored screenshots (created if missing)
  --host ADDRESS                 address to listen on (default 127.0.0.1)
  --port N                       port to listen on; 0 picks a free one (default 0)
  --public-url URL               scheme://host:port that screenshot addresses start with
                                 (default: http://HOST:PORT as bound)
  --creator ACCOUNT:PASSWORD[:DISPLAY_NAME]
                                 create or update a creator account; ACCOUNT is an email (has "@")
                                 or a phone number (digits, optionally after "+"); may repeat
  --seed-file FILE               creator accounts from a JSON file (see docs)
  --token-lifetime SECONDS       lifetime of issued access tokens (default 86400)
  --max-body-bytes N             largest accepted request body; larger ones get 413 (default 67108864)
  --threads N                    worker threads, one per open connection (default 64)
  --storage-endpoint URL         object storage endpoint handed out with upload credentials
  --storage-bucket NAME          bucket for component paks (default orva-components)
  --storage-access-key-id ID     access key id handed out (default orvadev)
  --storage-secret-access-key S  secret access key handed out (default orvadev-secret)
  --storage-region REGION        region handed out (default us-east-1)
  --storage-session-token T      fixed session token to hand out (default: a random one each time)
  --storage-credential-lifetime SECONDS
                                 expiry announced with upload credentials (default 3600)
  --help                         this text
)";
}

EParseOutcome ParseCommandLine(int Argc, const char* const* Argv, FServiceOptions& Options, std::string& OutError)
{
	std::vector<std::string_view> Arguments(Argv + 1, Argv + Argc);
	std::vector<std::string> SeedFiles;
	bool bHasData = false;

	for (size_t Index = 0; Index < Arguments.size(); ++Index)
	{
		std::string_view Flag = Arguments[Index];
		std::optional<std::string_view> InlineValue;
		if (const size_t Equals = Flag.find('='); Flag.starts_with("--") && Equals != std::string_view::npos)
		{
			InlineValue = Flag.substr(Equals + 1);
			Flag = Flag.substr(0, Equals);
		}
		if (Flag == "--help" || Flag == "-h")
		{
			return EParseOutcome::Help;
		}
		std::string_view Value;
		if (InlineValue)
		{
			Value = *InlineValue;
		}
		else if (Index + 1 < Arguments.size())
		{
			Value = Arguments[++Index];
		}
		else
		{
			OutError = std::string(Flag) + " needs a value";
			return EParseOutcome::Error;
		}

		auto BadValue = [&](const char* Expected) {
			OutError = std::string(Flag) + ": " + Expected + ", got \"" + std::string(Value) + "\"";
			return EParseOutcome::Error;
		};

		if (Flag == "--data")
		{
			Options.DataDir = std::filesystem::path(std::string(Value));
			bHasData = !Value.empty();
		}
		else if (Flag == "--host")
		{
			Options.Host = std::string(Value);
		}
		else if (Flag == "--port")
		{
			if (!ParseNumber(Value, 0, 65535, Options.Port))
			{
				return BadValue("a port number from 0 to 65535");
			}
		}
		else if (Flag == "--public-url")
		{
			Options.PublicUrl = std::string(Value);
			while (Options.PublicUrl.ends_with('/'))
			{
				Options.PublicUrl.pop_back();
			}
		}
		else if (Flag == "--creator")
		{
			FCreatorSeed Seed;
			if (!ParseCreatorFlag(Value, Seed, OutError))
			{
				return EParseOutcome::Error;
			}
			Options.Seeds.push_back(std::move(Seed));
		}
		else if (Flag == "--seed-file")
		{
			SeedFiles.emplace_back(Value);
		}
		else if (Flag == "--token-lifetime")
		{
			if (!ParseNumber<int64_t>(Value, 1, int64_t{10} * 365 * 24 * 3600, Options.TokenLifetimeSeconds))
			{
				return BadValue("a number of seconds (at least 1)");
			}
		}
		else if (Flag == "--max-body-bytes")
		{
			if (!ParseNumber<size_t>(Value, 1, size_t{1} << 40, Options.MaxBodyBytes))
			{
				return BadValue("a positive byte count");
			}
		}
		else if (Flag == "--threads")
		{
			if (!ParseNumber(Value, 1, 1024, Options.Threads))
			{
				return BadValue("a thread count from 1 to 1024");
			}
		}
		else if (Flag == "--storage-endpoint")
		{
			Options.Storage.Endpoint = std::string(Value);
		}
		else if (Flag == "--storage-bucket")
		{
			Options.Storage.Bucket = std::string(Value);
		}
		else if (Flag == "--storage-access-key-id")
		{
			Options.Storage.AccessKeyId = std::string(Value);
		}
		else if (Flag == "--storage-secret-access-key")
		{
			Options.Storage.SecretAccessKey = std::string(Value);
		}
		else if (Flag == "--storage-region")
		{
			Options.Storage.Region = std::string(Value);
		}
		else if (Flag == "--storage-session-token")
		{
			Options.Storage.SessionToken = std::string(Value);
		}
		else if (Flag == "--storage-credential-lifetime")
		{
			if (!ParseNumber<int64_t>(Value, 1, int64_t{7} * 24 * 3600, Options.Storage.CredentialLifetimeSeconds))
			{
				return BadValue("a number of seconds (at least 1)");
			}
		}
		else
		{
			OutError = "unknown option " + std::string(Flag);
			return EParseOutcome::Error;
		}
	}

	if (!bHasData)
	{
		OutError = "--data DIR is required";
		return EParseOutcome::Error;
	}
	for (const std::string& File : SeedFiles)
	{
		if (!LoadSeedFile(File, Options.Seeds, OutError))
		{
			return EParseOutcome::Error;
		}
	}
	return EParseOutcome::Run;
}

} // namespace OrvaDev
