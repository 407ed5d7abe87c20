#pragma once

#include "Records.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace OrvaDev
{

class FSqliteConnection;

// Raised when the database cannot be used (Open) or a change breaks the store's own rules. Failures
// of the database itself (disk full, corruption) come as SQLite::Exception; both are
// std::runtime_error, and the API answers 500 for either.
class FStoreError : public std::runtime_error
{
public:
	using std::runtime_error::runtime_error;
};

enum class EStoreStatus
{
	Ok,
	NotFound, // no such record, or it belongs to another creator
	Invalid,  // a reference inside the change does not resolve
};

// All persistent state of the service in one SQLite database (WAL mode) under the data folder.
// Every method may be called from any thread. Reads run on pooled connections in parallel; writes
// are serialised by one mutex so that they never meet SQLITE_BUSY from each other, and each runs
// in one transaction. Ownership rules (a creator reaches only their own worlds, screenshots and
// components) are enforced here, in the queries, so no caller can forget them.
class FStore
{
public:
	FStore();
	~FStore();
	FStore(const FStore&) = delete;
	FStore& operator=(const FStore&) = delete;

	// Creates or upgrades the schema. Throws FStoreError when the database cannot be used.
	void Open(const std::filesystem::path& DatabasePath);

	// Accounts.
	std::optional<FCreatorCredentials> FindCredentialsByEmail(std::string_view Email);
	std::optional<FCreatorCredentials> FindCredentialsByPhone(std::string_view Phone);
	std::optional<FCreatorProfile> FindCreator(int64_t CreatorId);
	// Inserts, or updates the account found by email or phone. A changed password also revokes
	// every token of that account. Returns the creator id.
	int64_t UpsertCreator(const FCreatorSeed& Seed, const FPasswordHash* NewPassword);

	// Tokens are kept as SHA-256 digests (hex); the bearer value itself is never stored.
	void InsertToken(std::string_view TokenDigest, int64_t CreatorId, int64_t ExpiresAt);
	std::optional<FStoredToken> FindToken(std::string_view TokenDigest);
	void DeleteToken(std::string_view TokenDigest);
	void DeleteExpiredTokens(int64_t Now);

	// Worlds.
	std::vector<FWorldRecord> ListWorlds(int64_t CreatorId);
	// Moves on after every committed write to a creator's worlds, screenshots or components, so an
	// answer built from ListWorlds may be kept as long as this has not moved. Read it before the list.
	uint64_t WorldListVersion(int64_t CreatorId);
	FWorldRecord CreateWorld(int64_t CreatorId, const std::string& Name, const std::string& Description, bool bPrivate,
	                         int64_t Capacity);
	std::optional<FWorldRecord> FindWorld(int64_t CreatorId, std::string_view WorldId);
	EStoreStatus UpdateWorld(int64_t CreatorId, std::string_view WorldId, const FWorldPatch& Patch,
	                         FWorldRecord& OutWorld);
	// All or nothing: when any entry names no world of this creator (by id or identifier) nothing
	// is deleted and NotFound is returned. On success OutStoredFiles lists the screenshot files
	// that no longer belong to anything.
	EStoreStatus DeleteWorlds(int64_t CreatorId, const std::vector<std::string>& IdsOrIdentifiers,
	                          std::vector<std::string>& OutStoredFiles);

	// Screenshots.
	EStoreStatus AddScreenshot(int64_t CreatorId, FImageRecord& Image);
	std::optional<std::vector<FImageRecord>> ListScreenshots(int64_t CreatorId, std::string_view WorldId);
	std::optional<FImageRecord> FindScreenshotByStoredName(std::string_view StoredName);
	std::vector<std::string> ListStoredScreenshotFiles();

	// Components.
	std::optional<std::vector<FComponentRecord>> AddComponents(int64_t CreatorId, std::string_view WorldId,
	                                                           const std::vector<FNewComponent>& Components);
	std::optional<FComponentRecord> FindComponent(int64_t CreatorId, std::string_view ComponentId);
	std::optional<FComponentRecord> RecordUploadGrant(int64_t CreatorId, std::string_view ComponentId, int64_t Size,
	                                                  const std::string& ObjectKey);
	std::optional<FComponentRecord> CompleteComponent(int64_t CreatorId, std::string_view ComponentId,
	                                                  const std::string& Checksum);

private:
	class FLease;
	class FWorldListChange;
	class FWorldWrite;
	FLease Acquire();
	void Release(std::unique_ptr<FSqliteConnection> Connection);
	std::unique_ptr<FSqliteConnection> OpenConnection();

	std::filesystem::path Path;
	std::mutex PoolMutex;
	std::vector<std::unique_ptr<FSqliteConnection>> Idle;
	std::mutex WriteMutex;
	std::mutex VersionMutex;
	std::unordered_map<int64_t, uint64_t> WorldListVersions;
};

} // namespace OrvaDev
