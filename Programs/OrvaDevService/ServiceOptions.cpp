#include "ServiceOptions.h"

#include "ServiceJson.h"
#include "StorageEndpoint.h"
#include "Utf8.h"

#include <CLI/CLI.hpp>

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
	if (!IsValidUtf8(Seed.Email) || !IsValidUtf8(Seed.DisplayName))
	{
		// Served back in every profile answer, where clients could not read it.
		OutError = "a creator's email and display name must be valid UTF-8";
		return false;
	}
	if (Seed.DisplayName.empty())
	{
		Seed.DisplayName = DefaultDisplayName(Seed);
	}
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
	// A local file the user wrote: no tighter bound on its values than on its size.
	const FJsonParseResult Parsed = ParseJson(Content.str(), FJsonLimits{64, SIZE_MAX});
	if (!Parsed.Value)
	{
		OutError = "seed file " + Path.string() + ": " + Parsed.Error;
		return false;
	}
	const FJson* Creators = &*Parsed.Value;
	if (Creators->is_object())
	{
		const auto Found = Creators->find("creators");
		Creators = Found == Creators->end() ? nullptr : &*Found;
	}
	if (Creators == nullptr || !Creators->is_array())
	{
		OutError = "seed file " + Path.string() + ": expected {\"creators\": [...]} or an array";
		return false;
	}
	size_t Index = 0;
	for (const FJson& Entry : *Creators)
	{
		const std::string Where = "seed file " + Path.string() + ", creator " + std::to_string(Index++) + ": ";
		if (!Entry.is_object())
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
			const auto Value = Entry.find(Key);
			if (Value != Entry.end())
			{
				if (!Value->is_string())
				{
					OutError = Where + "\"" + Key + "\" must be a string";
					return false;
				}
				*Target = Value->get<std::string>();
			}
		}
		if (!Entry.contains("password"))
		{
			OutError = Where + "\"password\" is missing";
			return false;
		}
		if (!FinishSeed(Seed, OutError))
		{
			OutError.insert(0, Where);
			return false;
		}
		OutSeeds.push_back(std::move(Seed));
	}
	return true;
}

namespace
{

// The flags, bound to where their values go. Built the same way for parsing and for the help text.
struct FCommandLine
{
	CLI::App App{"Answers the Orva platform's REST API under /api/v1/ for local development and tests.\n"
	             "Prints one line with its base address on stdout once it accepts connections, and runs\n"
	             "until SIGINT or SIGTERM.",
	             "OrvaDevService"};
	std::string DataDir;
	std::vector<std::string> Creators;
	std::vector<std::string> SeedFiles;
	std::string SessionToken;

	explicit FCommandLine(FServiceOptions& Options)
	{
		App.option_defaults()->always_capture_default();
		App.add_option("--data", DataDir, "folder for the database and stored screenshots (created if missing)")
		    ->required()
		    ->type_name("DIR");
		App.add_option("--host", Options.Host, "address to listen on")->type_name("ADDRESS");
		App.add_option("--port", Options.Port, "port to listen on; 0 picks a free one")
		    ->check(CLI::Range(0, 65535))
		    ->type_name("N");
		App.add_option("--public-url", Options.PublicUrl,
		               "scheme://host:port that screenshot addresses start with (default: http://HOST:PORT as bound)")
		    ->type_name("URL");
		App.add_option("--creator", Creators,
		               "create or update a creator account; ACCOUNT is an email (has \"@\") or a phone number "
		               "(digits, optionally after \"+\"); may repeat")
		    ->allow_extra_args(false)
		    ->type_name("ACCOUNT:PASSWORD[:DISPLAY_NAME]");
		App.add_option("--seed-file", SeedFiles, "creator accounts from a JSON file; may repeat")
		    ->allow_extra_args(false)
		    ->type_name("FILE");
		App.add_option("--token-lifetime", Options.TokenLifetimeSeconds, "lifetime of issued access tokens")
		    ->check(CLI::Range(int64_t{1}, int64_t{10} * 365 * 24 * 3600))
		    ->type_name("SECONDS");
		App.add_option("--clock-offset-file", Options.ClockOffsetFile,
		               "tests only: seconds added to the clock, read from FILE at each use")
		    ->type_name("FILE");
		App.add_option("--max-body-bytes", Options.MaxBodyBytes,
		               "largest accepted request body (screenshots); larger ones get 413. Smaller bodies, such as "
		               "logins, have smaller limits of their own")
		    ->check(CLI::Range(size_t{1}, size_t{1} << 40))
		    ->type_name("N");
		App.add_option("--threads", Options.Threads,
		               "most worker threads, started as connections need them; one serves one open connection")
		    ->check(CLI::Range(1, 4096))
		    ->type_name("N");
		App.add_option("--header-timeout", Options.HeaderTimeoutSeconds,
		               "time a client has for a request's line and headers")
		    ->check(CLI::Range(1, 3600))
		    ->type_name("SECONDS");
		App.add_option("--body-timeout", Options.BodyTimeoutSeconds, "time a client has for a request's body")
		    ->check(CLI::Range(1, 3600))
		    ->type_name("SECONDS");
		App.add_option("--storage-endpoint", Options.Storage.Endpoint,
		               "object storage endpoint handed out with upload credentials")
		    ->type_name("URL");
		App.add_option("--storage-bucket", Options.Storage.Bucket, "bucket for component paks")->type_name("NAME");
		App.add_option("--storage-access-key-id", Options.Storage.AccessKeyId, "access key id handed out")
		    ->type_name("ID");
		App.add_option("--storage-secret-access-key", Options.Storage.SecretAccessKey, "secret access key handed out")
		    ->type_name("S");
		App.add_option("--storage-region", Options.Storage.Region, "region handed out")->type_name("REGION");
		App.add_option("--storage-session-token", SessionToken,
		               "fixed session token to hand out (default: a random one each time)")
		    ->type_name("T");
		App.add_flag("--storage-sts", Options.Storage.bUseSts,
		             "issue scoped temporary credentials from the store's STS with the key above (made "
		             "a bucket and roles at start) and check uploads with a HEAD before completing them");
		App.add_option("--storage-credential-lifetime", Options.Storage.CredentialLifetimeSeconds,
		               "expiry announced with upload credentials")
		    ->check(CLI::Range(int64_t{1}, int64_t{7} * 24 * 3600))
		    ->type_name("SECONDS");
		App.add_flag("--storage-short-lived-credentials", Options.Storage.bShortLivedCredentials,
		             "with --storage-sts, issue credentials for --storage-credential-lifetime even below 15 "
		             "minutes (for tests)");
		App.add_option("--storage-request-deadline", Options.Storage.RequestDeadlineSeconds,
		               "the most time one credentials or completion request may spend on the store's answers")
		    ->check(CLI::Range(1, 600))
		    ->type_name("SECONDS");
		App.add_flag("--storage-endpoint-enable", Options.StorageEndpoint.bEnabled,
		             "also run the development storage endpoint (presigned multi-part uploads into the storage "
		             "above, which it signs for with the storage key); implied by the other --storage-endpoint-* "
		             "flags");
		App.add_option("--storage-endpoint-port", Options.StorageEndpoint.Port,
		               "port of the storage endpoint, on --host; 0 picks a free one")
		    ->check(CLI::Range(0, 65535))
		    ->type_name("N");
		App.add_option("--storage-endpoint-token", Options.StorageEndpoint.Token,
		               "access token the storage endpoint expects in its \"Token\" header (64 lowercase hex digits)")
		    ->type_name("HEX");
		App.add_option("--storage-endpoint-url-lifetime", Options.StorageEndpoint.UrlLifetimeSeconds,
		               "expiry of the presigned part addresses")
		    ->check(CLI::Range(1, 7 * 24 * 3600))
		    ->type_name("SECONDS");
		App.add_option("--storage-endpoint-upload-lifetime", Options.StorageEndpoint.UploadLifetimeSeconds,
		               "time a started upload has to be completed; the endpoint forgets it afterwards")
		    ->check(CLI::Range(1, 7 * 24 * 3600))
		    ->type_name("SECONDS");
	}
};

} // namespace

std::string UsageText()
{
	FServiceOptions Defaults;
	FCommandLine CommandLine(Defaults);
	return CommandLine.App.help();
}

EParseOutcome ParseCommandLine(int Argc, const char* const* Argv, FServiceOptions& Options, std::string& OutError)
{
	FCommandLine CommandLine(Options);
	try
	{
		CommandLine.App.parse(Argc, Argv);
	}
	catch (const CLI::CallForHelp&)
	{
		return EParseOutcome::Help;
	}
	catch (const CLI::ParseError& Error)
	{
		OutError = Error.what();
		return EParseOutcome::Error;
	}

	if (CommandLine.DataDir.empty())
	{
		OutError = "--data DIR is required";
		return EParseOutcome::Error;
	}
	Options.DataDir = CommandLine.DataDir;
	while (Options.PublicUrl.ends_with('/'))
	{
		Options.PublicUrl.pop_back();
	}
	if (CommandLine.App.count("--storage-session-token") > 0)
	{
		Options.Storage.SessionToken = CommandLine.SessionToken;
	}
	for (const char* Flag : {"--storage-endpoint-port", "--storage-endpoint-token", "--storage-endpoint-url-lifetime",
	                         "--storage-endpoint-upload-lifetime"})
	{
		if (CommandLine.App.count(Flag) > 0)
		{
			Options.StorageEndpoint.bEnabled = true;
		}
	}
	if (!IsValidStorageToken(Options.StorageEndpoint.Token))
	{
		OutError = "--storage-endpoint-token must be 64 lowercase hexadecimal digits";
		return EParseOutcome::Error;
	}
	for (const std::string& Flag : CommandLine.Creators)
	{
		FCreatorSeed Seed;
		if (!ParseCreatorFlag(Flag, Seed, OutError))
		{
			return EParseOutcome::Error;
		}
		Options.Seeds.push_back(std::move(Seed));
	}
	for (const std::string& File : CommandLine.SeedFiles)
	{
		if (!LoadSeedFile(File, Options.Seeds, OutError))
		{
			return EParseOutcome::Error;
		}
	}
	return EParseOutcome::Run;
}

} // namespace OrvaDev
