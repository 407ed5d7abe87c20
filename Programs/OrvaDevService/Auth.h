#pragma once

#include "Records.h"

#include <cstdint>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace OrvaDev
{

class FStore;

// PBKDF2-HMAC-SHA256. The count is stored with each hash, so raising it later keeps old
// passwords working; it is kept where a login still answers well within a second.
constexpr int PasswordIterations = 120000;
constexpr size_t PasswordSaltBytes = 16;
constexpr size_t PasswordHashBytes = 32;

FPasswordHash HashPassword(std::string_view Password);
bool VerifyPassword(std::string_view Password, const FPasswordHash& Stored);

struct FIssuedToken
{
	std::string AccessToken;
	int64_t ExpiresIn = 0; // seconds
};

// Accounts and bearer tokens. Tokens are 256 random bits, handed out once and kept only as their
// SHA-256 digest, in SQLite (so they outlive a restart) and in a read-mostly cache, so that the
// per-request check is one hash and one shared-lock lookup, never a password hash.
class FAuthService
{
public:
	FAuthService(FStore& InStore, int64_t InTokenLifetimeSeconds);

	// Creates the accounts, or brings existing ones up to date; a password is re-hashed only when
	// it changed, so restarting with the same seeds keeps every issued token valid.
	void ApplySeeds(const std::vector<FCreatorSeed>& Seeds);

	// Empty when the account is unknown or the password is wrong (the two cost the same time).
	std::optional<FIssuedToken> Login(std::string_view Email, std::string_view Phone, std::string_view Password);

	// The creator a bearer token belongs to, if the token is known and not expired.
	std::optional<int64_t> Authenticate(std::string_view Token);

	std::optional<FCreatorProfile> Profile(int64_t CreatorId);

	int64_t TokenLifetimeSeconds() const { return TokenLifetime; }

private:
	FStore& Store;
	int64_t TokenLifetime;
	FPasswordHash DummyHash; // verified against for unknown accounts

	std::shared_mutex CacheMutex;
	std::unordered_map<std::string, FStoredToken> Tokens; // by raw SHA-256 digest
	std::unordered_map<int64_t, FCreatorProfile> Profiles;
};

// Lowercase ASCII and no surrounding blanks: how account emails are compared and stored.
std::string NormaliseEmail(std::string_view Email);

} // namespace OrvaDev
