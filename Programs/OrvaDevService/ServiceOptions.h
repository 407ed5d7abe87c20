#pragma once

#include "Records.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace OrvaDev
{

// What the service tells clients about the object storage that component paks go to. The service
// does not talk to the storage itself.
struct FStorageOptions
{
	std::string Endpoint = "http://127.0.0.1:9000";
	std::string Bucket = "orva-components";
	std::string AccessKeyId = "orvadev";
	std::string SecretAccessKey = "orvadev-secret";
	std::string Region = "us-east-1";
	// Empty: a fresh random session token per credentials answer, as a real STS would issue.
	std::optional<std::string> SessionToken;
	int64_t CredentialLifetimeSeconds = 3600;
	// The store's credentials then live CredentialLifetimeSeconds even below its 15-minute minimum
	// (a local store takes any): tests of credentials that run out during an upload.
	bool bShortLivedCredentials = false;
	// Issue real temporary credentials from the store's STS, scoped to the one object, and check
	// each upload with a HEAD before marking it complete. The key above is then the service's own
	// long-term key, never handed out. Without it the key above is handed out as it is.
	bool bUseSts = false;
	// The most one request may spend waiting for the store (all of its calls together), so that a
	// stalled store answers the caller instead of holding it.
	int RequestDeadlineSeconds = 20;
};

// The development storage endpoint (presigned multi-part uploads). Off unless asked for; its
// defaults are the plugin's compiled defaults of "StorageEndpoint" and "StorageToken".
struct FStorageEndpointOptions
{
	static constexpr int DefaultPort = 7480;
	static constexpr const char* DefaultToken = "6f72766164657673746f72616765746f6b656e2d6c6f63616c2d6f6e6c792d31";
	bool bEnabled = false;
	int Port = DefaultPort; // 0 picks a free one
	std::string Token = DefaultToken;
	int UrlLifetimeSeconds = 900;
	// An upload not completed within this time is forgotten.
	int UploadLifetimeSeconds = 24 * 3600;
	std::string KeyPrefix = "uploads/";
};

struct FServiceOptions
{
	std::filesystem::path DataDir;
	std::string Host = "127.0.0.1";
	int Port = 0;
	std::string PublicUrl; // scheme://host:port that screenshot addresses start with; derived when empty
	std::vector<FCreatorSeed> Seeds;
	int64_t TokenLifetimeSeconds = 24 * 60 * 60;
	size_t MaxBodyBytes = 64u * 1024u * 1024u;
	int Threads = 256; // the most; started as connections need them
	int HeaderTimeoutSeconds = 10;
	int BodyTimeoutSeconds = 60;
	FStorageOptions Storage;
	FStorageEndpointOptions StorageEndpoint;
	// Tests only: a file whose number of seconds moves the service's clock (see Clock.h).
	std::string ClockOffsetFile;
};

enum class EParseOutcome
{
	Run,
	Help,
	Error,
};

EParseOutcome ParseCommandLine(int Argc, const char* const* Argv, FServiceOptions& Options, std::string& OutError);
std::string UsageText();

// "ACCOUNT:PASSWORD[:DISPLAY_NAME]"; an account with "@" is an email, digits (optionally after
// "+") a phone number.
bool ParseCreatorFlag(std::string_view Flag, FCreatorSeed& OutSeed, std::string& OutError);

// {"creators":[{"email" or "phone", "password", "display_name"?}, ...]}, or the bare array.
bool LoadSeedFile(const std::filesystem::path& Path, std::vector<FCreatorSeed>& OutSeeds, std::string& OutError);

} // namespace OrvaDev
