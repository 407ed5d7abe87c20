#include "Auth.h"

#include "AsciiCase.h"
#include "Clock.h"
#include "Digest.h"
#include "Hex.h"
#include "Random.h"
#include "Store.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace OrvaDev
{

namespace
{

// 32 random bytes in unpadded base64url.
constexpr size_t TokenBytes = 32;
constexpr size_t TokenLength = 43;

std::string DerivePasswordKey(std::string_view Password, std::string_view Salt, int Iterations)
{
	std::string Key(PasswordHashBytes, '\0');
	if (PKCS5_PBKDF2_HMAC(Password.data(), static_cast<int>(Password.size()),
	                      reinterpret_cast<const unsigned char*>(Salt.data()), static_cast<int>(Salt.size()),
	                      Iterations, EVP_sha256(), static_cast<int>(Key.size()),
	                      reinterpret_cast<unsigned char*>(Key.data())) != 1)
	{
		std::fputs("OrvaDevService: PBKDF2 failed\n", stderr);
		std::abort();
	}
	return Key;
}

} // namespace

FPasswordHash HashPassword(std::string_view Password)
{
	FPasswordHash Result;
	Result.Salt = RandomBytes(PasswordSaltBytes);
	Result.Iterations = PasswordIterations;
	Result.Hash = DerivePasswordKey(Password, Result.Salt, Result.Iterations);
	return Result;
}

bool VerifyPassword(std::string_view Password, const FPasswordHash& Stored)
{
	if (Stored.Iterations <= 0 || Stored.Hash.empty())
	{
		return false;
	}
	const std::string Key = DerivePasswordKey(Password, Stored.Salt, Stored.Iterations);
	return Key.size() == Stored.Hash.size() && CRYPTO_memcmp(Key.data(), Stored.Hash.data(), Key.size()) == 0;
}

std::string NormaliseEmail(std::string_view Email)
{
	while (!Email.empty() && std::isspace(static_cast<unsigned char>(Email.front())))
	{
		Email.remove_prefix(1);
	}
	while (!Email.empty() && std::isspace(static_cast<unsigned char>(Email.back())))
	{
		Email.remove_suffix(1);
	}
	return FAsciiCase::ToLower(Email);
}

FAuthService::FAuthService(FStore& InStore, int64_t InTokenLifetimeSeconds)
    : Store(InStore)
    , TokenLifetime(InTokenLifetimeSeconds)
{
	// Never matches: its hash is random bytes, not a derived key.
	DummyHash.Salt = RandomBytes(PasswordSaltBytes);
	DummyHash.Hash = RandomBytes(PasswordHashBytes);
	DummyHash.Iterations = PasswordIterations;
}

void FAuthService::ApplySeeds(const std::vector<FCreatorSeed>& Seeds)
{
	for (FCreatorSeed Seed : Seeds)
	{
		Seed.Email = NormaliseEmail(Seed.Email);
		std::optional<FCreatorCredentials> Existing;
		if (!Seed.Email.empty())
		{
			Existing = Store.FindCredentialsByEmail(Seed.Email);
		}
		if (!Existing && !Seed.Phone.empty())
		{
			Existing = Store.FindCredentialsByPhone(Seed.Phone);
		}
		if (Existing && VerifyPassword(Seed.Password, Existing->Password))
		{
			Store.UpsertCreator(Seed, nullptr);
		}
		else
		{
			const FPasswordHash Hash = HashPassword(Seed.Password);
			Store.UpsertCreator(Seed, &Hash);
		}
	}
	std::unique_lock Lock(CacheMutex);
	Tokens.clear();
	Profiles.clear();
}

std::optional<FIssuedToken> FAuthService::Login(std::string_view Email, std::string_view Phone,
                                                std::string_view Password)
{
	std::optional<FCreatorCredentials> Credentials =
	    Email.empty() ? Store.FindCredentialsByPhone(Phone) : Store.FindCredentialsByEmail(NormaliseEmail(Email));
	const bool bValid = VerifyPassword(Password, Credentials ? Credentials->Password : DummyHash);
	if (!Credentials || !bValid)
	{
		return std::nullopt;
	}

	const int64_t Now = NowUnixSeconds();
	Store.DeleteExpiredTokens(Now);

	FIssuedToken Issued;
	Issued.AccessToken = Base64UrlEncode(RandomBytes(TokenBytes));
	Issued.ExpiresIn = TokenLifetime;
	const std::string Digest = FDigest::Of(EDigestKind::Sha256, Issued.AccessToken);
	const FStoredToken Stored{Credentials->Profile.Id, Now + TokenLifetime};
	Store.InsertToken(FHex::Encode(Digest), Stored.CreatorId, Stored.ExpiresAt);

	std::unique_lock Lock(CacheMutex);
	// Expired entries would otherwise only leave the cache when their token is presented again.
	std::erase_if(Tokens, [Now](const auto& Entry) { return Entry.second.ExpiresAt <= Now; });
	Tokens.emplace(Digest, Stored);
	Profiles.insert_or_assign(Credentials->Profile.Id, Credentials->Profile);
	return Issued;
}

std::optional<int64_t> FAuthService::Authenticate(std::string_view Token)
{
	if (Token.size() != TokenLength)
	{
		return std::nullopt;
	}
	const std::string Digest = FDigest::Of(EDigestKind::Sha256, Token);
	const int64_t Now = NowUnixSeconds();

	std::optional<FStoredToken> Found;
	{
		std::shared_lock Lock(CacheMutex);
		if (const auto It = Tokens.find(Digest); It != Tokens.end())
		{
			Found = It->second;
		}
	}
	if (!Found)
	{
		// Issued before a restart, or by another run on the same data folder.
		Found = Store.FindToken(FHex::Encode(Digest));
		if (!Found)
		{
			return std::nullopt;
		}
		if (Found->ExpiresAt > Now)
		{
			std::unique_lock Lock(CacheMutex);
			Tokens.emplace(Digest, *Found);
		}
	}
	if (Found->ExpiresAt <= Now)
	{
		{
			std::unique_lock Lock(CacheMutex);
			Tokens.erase(Digest);
		}
		Store.DeleteToken(FHex::Encode(Digest));
		return std::nullopt;
	}
	return Found->CreatorId;
}

std::optional<FCreatorProfile> FAuthService::Profile(int64_t CreatorId)
{
	{
		std::shared_lock Lock(CacheMutex);
		if (const auto It = Profiles.find(CreatorId); It != Profiles.end())
		{
			return It->second;
		}
	}
	std::optional<FCreatorProfile> Profile = Store.FindCreator(CreatorId);
	if (Profile)
	{
		std::unique_lock Lock(CacheMutex);
		Profiles.insert_or_assign(CreatorId, *Profile);
	}
	return Profile;
}

} // namespace OrvaDev
