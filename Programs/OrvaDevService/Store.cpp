#include "Store.h"

#include "Clock.h"
#include "Random.h"

#include <sqlite3.h>

#include <unordered_map>
#include <unordered_set>

namespace OrvaDev
{

namespace
{

constexpr int SchemaVersion = 1;
constexpr int BusyTimeoutMs = 5000;

constexpr const char* SchemaSql = R"sql(
CREATE TABLE IF NOT EXISTS creators (
	id INTEGER PRIMARY KEY,
	email TEXT UNIQUE,
	phone TEXT UNIQUE,
	display_name TEXT NOT NULL,
	password_salt BLOB NOT NULL,
	password_hash BLOB NOT NULL,
	password_iterations INTEGER NOT NULL,
	CHECK (email IS NOT NULL OR phone IS NOT NULL)
);
CREATE TABLE IF NOT EXISTS tokens (
	token_digest TEXT PRIMARY KEY,
	creator_id INTEGER NOT NULL REFERENCES creators(id) ON DELETE CASCADE,
	expires_at INTEGER NOT NULL
);
CREATE INDEX IF NOT EXISTS tokens_by_expiry ON tokens(expires_at);
CREATE TABLE IF NOT EXISTS worlds (
	seq INTEGER PRIMARY KEY AUTOINCREMENT,
	id TEXT NOT NULL UNIQUE,
	identifier TEXT NOT NULL UNIQUE,
	creator_id INTEGER NOT NULL REFERENCES creators(id) ON DELETE CASCADE,
	name TEXT NOT NULL,
	description TEXT NOT NULL,
	capacity INTEGER NOT NULL,
	private INTEGER NOT NULL,
	activitys INTEGER NOT NULL DEFAULT 0,
	likes INTEGER NOT NULL DEFAULT 0,
	title_image_id TEXT,
	last_update TEXT NOT NULL,
	created_at TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS worlds_by_creator ON worlds(creator_id, seq);
CREATE TABLE IF NOT EXISTS screenshots (
	seq INTEGER PRIMARY KEY AUTOINCREMENT,
	id TEXT NOT NULL UNIQUE,
	world_id TEXT NOT NULL REFERENCES worlds(id) ON DELETE CASCADE,
	name TEXT NOT NULL,
	stored_name TEXT NOT NULL UNIQUE,
	content_type TEXT NOT NULL,
	size INTEGER NOT NULL,
	created_at TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS screenshots_by_world ON screenshots(world_id, seq);
CREATE TABLE IF NOT EXISTS components (
	seq INTEGER PRIMARY KEY AUTOINCREMENT,
	id TEXT NOT NULL UNIQUE,
	world_id TEXT NOT NULL REFERENCES worlds(id) ON DELETE CASCADE,
	name TEXT NOT NULL,
	platform TEXT NOT NULL,
	sandbox INTEGER NOT NULL,
	map TEXT NOT NULL,
	filename TEXT NOT NULL,
	complete INTEGER NOT NULL DEFAULT 0,
	checksum TEXT,
	object_key TEXT,
	size INTEGER,
	created_at TEXT NOT NULL,
	updated_at TEXT NOT NULL
);
CREATE INDEX IF NOT EXISTS components_by_world ON components(world_id, seq);
)sql";

[[noreturn]] void ThrowSqlite(sqlite3* Db, const char* What)
{
	throw FStoreError(std::string(What) + ": " + (Db != nullptr ? sqlite3_errmsg(Db) : "out of memory"));
}

} // namespace

// One SQLite connection with its prepared statements. Used by one thread at a time (the pool
// hands it out), so it is opened without SQLite's own per-connection mutex.
class FSqliteConnection
{
public:
	explicit FSqliteConnection(const std::filesystem::path& Path)
	{
		const int Flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
		if (sqlite3_open_v2(Path.c_str(), &Db, Flags, nullptr) != SQLITE_OK)
		{
			const std::string Message = Db != nullptr ? sqlite3_errmsg(Db) : "out of memory";
			sqlite3_close(Db);
			Db = nullptr;
			throw FStoreError("cannot open " + Path.string() + ": " + Message);
		}
		sqlite3_busy_timeout(Db, BusyTimeoutMs);
		sqlite3_extended_result_codes(Db, 1);
		// NORMAL is safe in WAL mode against a crash of this process (committed transactions
		// are in the WAL file); only a power loss could drop the last commits.
		Exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
	}

	~FSqliteConnection()
	{
		for (auto& [Sql, Statement] : Statements)
		{
			sqlite3_finalize(Statement);
		}
		sqlite3_close(Db);
	}

	FSqliteConnection(const FSqliteConnection&) = delete;
	FSqliteConnection& operator=(const FSqliteConnection&) = delete;

	sqlite3* Handle() const { return Db; }

	void Exec(const char* Sql)
	{
		char* Message = nullptr;
		if (sqlite3_exec(Db, Sql, nullptr, nullptr, &Message) != SQLITE_OK)
		{
			const std::string Text = Message != nullptr ? Message : "unknown error";
			sqlite3_free(Message);
			throw FStoreError(std::string("statement failed: ") + Text);
		}
	}

	// Statements are cached by the address of their text, so Sql must be a string literal.
	sqlite3_stmt* Prepare(const char* Sql)
	{
		if (const auto Found = Statements.find(Sql); Found != Statements.end())
		{
			return Found->second;
		}
		sqlite3_stmt* Statement = nullptr;
		if (sqlite3_prepare_v3(Db, Sql, -1, SQLITE_PREPARE_PERSISTENT, &Statement, nullptr) != SQLITE_OK)
		{
			ThrowSqlite(Db, "prepare");
		}
		Statements.emplace(Sql, Statement);
		return Statement;
	}

private:
	sqlite3* Db = nullptr;
	std::unordered_map<const char*, sqlite3_stmt*> Statements;
};

namespace
{

// A cached statement in use; reset and unbound again when it goes out of scope.
class FStatement
{
public:
	FStatement(FSqliteConnection& InConnection, const char* Sql)
	    : Connection(InConnection)
	    , Statement(InConnection.Prepare(Sql))
	{
	}

	~FStatement()
	{
		sqlite3_reset(Statement);
		sqlite3_clear_bindings(Statement);
	}

	FStatement(const FStatement&) = delete;
	FStatement& operator=(const FStatement&) = delete;

	FStatement& Text(int Index, std::string_view Value)
	{
		Check(sqlite3_bind_text64(Statement, Index, Value.data(), Value.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
		return *this;
	}

	FStatement& Blob(int Index, std::string_view Value)
	{
		Check(sqlite3_bind_blob64(Statement, Index, Value.data(), Value.size(), SQLITE_TRANSIENT));
		return *this;
	}

	FStatement& Int(int Index, int64_t Value)
	{
		Check(sqlite3_bind_int64(Statement, Index, Value));
		return *this;
	}

	FStatement& Null(int Index)
	{
		Check(sqlite3_bind_null(Statement, Index));
		return *this;
	}

	FStatement& OptionalText(int Index, const std::optional<std::string>& Value)
	{
		return Value ? Text(Index, *Value) : Null(Index);
	}

	// True while there is a row to read.
	bool Step()
	{
		const int Result = sqlite3_step(Statement);
		if (Result == SQLITE_ROW)
		{
			return true;
		}
		if (Result == SQLITE_DONE)
		{
			return false;
		}
		ThrowSqlite(Connection.Handle(), "step");
	}

	void Run()
	{
		while (Step())
		{
		}
	}

	bool IsNull(int Column) const { return sqlite3_column_type(Statement, Column) == SQLITE_NULL; }
	int64_t ColumnInt(int Column) const { return sqlite3_column_int64(Statement, Column); }

	std::string ColumnText(int Column) const
	{
		const auto* Data = reinterpret_cast<const char*>(sqlite3_column_text(Statement, Column));
		return Data != nullptr ? std::string(Data, static_cast<size_t>(sqlite3_column_bytes(Statement, Column)))
		                       : std::string();
	}

	std::string ColumnBlob(int Column) const
	{
		const auto* Data = static_cast<const char*>(sqlite3_column_blob(Statement, Column));
		return Data != nullptr ? std::string(Data, static_cast<size_t>(sqlite3_column_bytes(Statement, Column)))
		                       : std::string();
	}

private:
	void Check(int Result)
	{
		if (Result != SQLITE_OK)
		{
			ThrowSqlite(Connection.Handle(), "bind");
		}
	}

	FSqliteConnection& Connection;
	sqlite3_stmt* Statement;
};

// Rolls back unless committed, so an exception inside leaves the database unchanged.
class FTransaction
{
public:
	FTransaction(FSqliteConnection& InConnection, bool bWrite)
	    : Connection(InConnection)
	{
		Connection.Exec(bWrite ? "BEGIN IMMEDIATE" : "BEGIN");
	}

	~FTransaction()
	{
		if (!bFinished)
		{
			sqlite3_exec(Connection.Handle(), "ROLLBACK", nullptr, nullptr, nullptr);
		}
	}

	FTransaction(const FTransaction&) = delete;
	FTransaction& operator=(const FTransaction&) = delete;

	void Commit()
	{
		Connection.Exec("COMMIT");
		bFinished = true;
	}

private:
	FSqliteConnection& Connection;
	bool bFinished = false;
};

constexpr const char* CreatorColumns =
    "SELECT id, COALESCE(email, ''), COALESCE(phone, ''), display_name, password_salt, password_hash, "
    "password_iterations FROM creators ";

FCreatorCredentials ReadCredentials(const FStatement& Row)
{
	FCreatorCredentials Credentials;
	Credentials.Profile.Id = Row.ColumnInt(0);
	Credentials.Profile.Email = Row.ColumnText(1);
	Credentials.Profile.Phone = Row.ColumnText(2);
	Credentials.Profile.DisplayName = Row.ColumnText(3);
	Credentials.Password.Salt = Row.ColumnBlob(4);
	Credentials.Password.Hash = Row.ColumnBlob(5);
	Credentials.Password.Iterations = static_cast<int>(Row.ColumnInt(6));
	return Credentials;
}

#define ORVA_WORLD_SELECT                                                                                              \
	"SELECT w.id, w.identifier, w.name, w.description, w.capacity, w.private, w.activitys, w.likes, w.last_update, "   \
	"s.id, s.name, s.stored_name, s.content_type, s.size "                                                             \
	"FROM worlds w LEFT JOIN screenshots s ON s.id = w.title_image_id AND s.world_id = w.id "

FWorldRecord ReadWorld(const FStatement& Row)
{
	FWorldRecord World;
	World.Id = Row.ColumnText(0);
	World.Identifier = Row.ColumnText(1);
	World.Name = Row.ColumnText(2);
	World.Description = Row.ColumnText(3);
	World.Capacity = Row.ColumnInt(4);
	World.bPrivate = Row.ColumnInt(5) != 0;
	World.Activitys = Row.ColumnInt(6);
	World.Likes = Row.ColumnInt(7);
	World.LastUpdate = Row.ColumnText(8);
	if (!Row.IsNull(9))
	{
		FImageRecord Image;
		Image.Id = Row.ColumnText(9);
		Image.WorldId = World.Id;
		Image.Name = Row.ColumnText(10);
		Image.StoredName = Row.ColumnText(11);
		Image.ContentType = Row.ColumnText(12);
		Image.Size = Row.ColumnInt(13);
		World.TitleImage = std::move(Image);
	}
	return World;
}

std::optional<FWorldRecord> SelectWorld(FSqliteConnection& Connection, int64_t CreatorId, std::string_view WorldId)
{
	FStatement Query(Connection, ORVA_WORLD_SELECT "WHERE w.creator_id = ?1 AND w.id = ?2");
	Query.Int(1, CreatorId).Text(2, WorldId);
	if (Query.Step())
	{
		return ReadWorld(Query);
	}
	return std::nullopt;
}

bool OwnsWorld(FSqliteConnection& Connection, int64_t CreatorId, std::string_view WorldId)
{
	FStatement Query(Connection, "SELECT 1 FROM worlds WHERE creator_id = ?1 AND id = ?2");
	Query.Int(1, CreatorId).Text(2, WorldId);
	return Query.Step();
}

void TouchWorld(FSqliteConnection& Connection, std::string_view WorldId)
{
	FStatement Update(Connection, "UPDATE worlds SET last_update = ?1 WHERE id = ?2");
	Update.Text(1, NowIso8601()).Text(2, WorldId).Run();
}

constexpr const char* ImageColumns = "SELECT id, world_id, name, stored_name, content_type, size FROM screenshots ";

FImageRecord ReadImage(const FStatement& Row)
{
	FImageRecord Image;
	Image.Id = Row.ColumnText(0);
	Image.WorldId = Row.ColumnText(1);
	Image.Name = Row.ColumnText(2);
	Image.StoredName = Row.ColumnText(3);
	Image.ContentType = Row.ColumnText(4);
	Image.Size = Row.ColumnInt(5);
	return Image;
}

#define ORVA_COMPONENT_SELECT                                                                                          \
	"SELECT c.id, c.world_id, w.identifier, c.name, c.platform, c.map, c.filename, c.sandbox, c.complete, "            \
	"COALESCE(c.checksum, ''), COALESCE(c.object_key, ''), COALESCE(c.size, -1), c.created_at, c.updated_at "          \
	"FROM components c JOIN worlds w ON w.id = c.world_id "

FComponentRecord ReadComponent(const FStatement& Row)
{
	FComponentRecord Component;
	Component.Id = Row.ColumnText(0);
	Component.WorldId = Row.ColumnText(1);
	Component.WorldIdentifier = Row.ColumnText(2);
	Component.Name = Row.ColumnText(3);
	Component.Platform = Row.ColumnText(4);
	Component.Map = Row.ColumnText(5);
	Component.Filename = Row.ColumnText(6);
	Component.bSandbox = Row.ColumnInt(7) != 0;
	Component.bComplete = Row.ColumnInt(8) != 0;
	Component.Checksum = Row.ColumnText(9);
	Component.ObjectKey = Row.ColumnText(10);
	Component.Size = Row.ColumnInt(11);
	Component.CreatedAt = Row.ColumnText(12);
	Component.UpdatedAt = Row.ColumnText(13);
	return Component;
}

std::optional<FComponentRecord> SelectComponent(FSqliteConnection& Connection, int64_t CreatorId,
                                                std::string_view ComponentId)
{
	FStatement Query(Connection, ORVA_COMPONENT_SELECT "WHERE c.id = ?1 AND w.creator_id = ?2");
	Query.Text(1, ComponentId).Int(2, CreatorId);
	if (Query.Step())
	{
		return ReadComponent(Query);
	}
	return std::nullopt;
}

} // namespace

class FStore::FLease
{
public:
	FLease(FStore& InOwner, std::unique_ptr<FSqliteConnection> InConnection)
	    : Owner(InOwner)
	    , Connection(std::move(InConnection))
	{
	}
	~FLease() { Owner.Release(std::move(Connection)); }
	FLease(const FLease&) = delete;
	FLease& operator=(const FLease&) = delete;

	FSqliteConnection& operator*() const { return *Connection; }

private:
	FStore& Owner;
	std::unique_ptr<FSqliteConnection> Connection;
};

FStore::FStore() = default;
FStore::~FStore() = default;

void FStore::Open(const std::filesystem::path& DatabasePath)
{
	Path = DatabasePath;
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	int Version = 0;
	{
		FStatement Query(Db, "PRAGMA user_version");
		if (Query.Step())
		{
			Version = static_cast<int>(Query.ColumnInt(0));
		}
	}
	if (Version > SchemaVersion)
	{
		throw FStoreError("the database was written by a newer service (schema " + std::to_string(Version) + ")");
	}
	std::lock_guard Lock(WriteMutex);
	FTransaction Transaction(Db, true);
	Db.Exec(SchemaSql);
	Db.Exec("PRAGMA user_version = 1");
	Transaction.Commit();
}

// Declared before the write's transaction, so that it moves the version on after the commit (or
// the rollback): a reader that saw the old version has read the old rows, never the other way round.
class FStore::FWorldListChange
{
public:
	FWorldListChange(FStore& InStore, int64_t InCreatorId)
	    : Store(InStore)
	    , CreatorId(InCreatorId)
	{
	}
	~FWorldListChange()
	{
		std::lock_guard Lock(Store.VersionMutex);
		++Store.WorldListVersions[CreatorId];
	}
	FWorldListChange(const FWorldListChange&) = delete;
	FWorldListChange& operator=(const FWorldListChange&) = delete;

private:
	FStore& Store;
	const int64_t CreatorId;
};

uint64_t FStore::WorldListVersion(int64_t CreatorId)
{
	std::lock_guard Lock(VersionMutex);
	const auto Found = WorldListVersions.find(CreatorId);
	return Found != WorldListVersions.end() ? Found->second : 0;
}

std::unique_ptr<FSqliteConnection> FStore::OpenConnection()
{
	return std::make_unique<FSqliteConnection>(Path);
}

FStore::FLease FStore::Acquire()
{
	{
		std::lock_guard Lock(PoolMutex);
		if (!Idle.empty())
		{
			std::unique_ptr<FSqliteConnection> Connection = std::move(Idle.back());
			Idle.pop_back();
			return FLease(*this, std::move(Connection));
		}
	}
	// The pool grows to the number of threads that ever used it at once, and no further.
	return FLease(*this, OpenConnection());
}

void FStore::Release(std::unique_ptr<FSqliteConnection> Connection)
{
	if (Connection)
	{
		std::lock_guard Lock(PoolMutex);
		Idle.push_back(std::move(Connection));
	}
}

std::optional<FCreatorCredentials> FStore::FindCredentialsByEmail(std::string_view Email)
{
	FLease Connection = Acquire();
	static const std::string Sql = std::string(CreatorColumns) + "WHERE email = ?1";
	FStatement Query(*Connection, Sql.c_str());
	Query.Text(1, Email);
	if (Query.Step())
	{
		return ReadCredentials(Query);
	}
	return std::nullopt;
}

std::optional<FCreatorCredentials> FStore::FindCredentialsByPhone(std::string_view Phone)
{
	FLease Connection = Acquire();
	static const std::string Sql = std::string(CreatorColumns) + "WHERE phone = ?1";
	FStatement Query(*Connection, Sql.c_str());
	Query.Text(1, Phone);
	if (Query.Step())
	{
		return ReadCredentials(Query);
	}
	return std::nullopt;
}

std::optional<FCreatorProfile> FStore::FindCreator(int64_t CreatorId)
{
	FLease Connection = Acquire();
	static const std::string Sql = std::string(CreatorColumns) + "WHERE id = ?1";
	FStatement Query(*Connection, Sql.c_str());
	Query.Int(1, CreatorId);
	if (Query.Step())
	{
		return ReadCredentials(Query).Profile;
	}
	return std::nullopt;
}

int64_t FStore::UpsertCreator(const FCreatorSeed& Seed, const FPasswordHash* NewPassword)
{
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	std::lock_guard Lock(WriteMutex);
	FTransaction Transaction(Db, true);

	std::optional<int64_t> ExistingId;
	{
		FStatement Query(Db, "SELECT id FROM creators WHERE (?1 <> '' AND email = ?1) OR (?2 <> '' AND phone = ?2) "
		                     "ORDER BY (email = ?1) DESC LIMIT 1");
		Query.Text(1, Seed.Email).Text(2, Seed.Phone);
		if (Query.Step())
		{
			ExistingId = Query.ColumnInt(0);
		}
	}

	int64_t CreatorId = 0;
	if (ExistingId)
	{
		CreatorId = *ExistingId;
		FStatement Update(Db, "UPDATE creators SET display_name = ?2, "
		                      "email = CASE WHEN ?3 <> '' THEN ?3 ELSE email END, "
		                      "phone = CASE WHEN ?4 <> '' THEN ?4 ELSE phone END WHERE id = ?1");
		Update.Int(1, CreatorId).Text(2, Seed.DisplayName).Text(3, Seed.Email).Text(4, Seed.Phone).Run();
		if (NewPassword != nullptr)
		{
			FStatement SetPassword(Db, "UPDATE creators SET password_salt = ?2, password_hash = ?3, "
			                           "password_iterations = ?4 WHERE id = ?1");
			SetPassword.Int(1, CreatorId)
			    .Blob(2, NewPassword->Salt)
			    .Blob(3, NewPassword->Hash)
			    .Int(4, NewPassword->Iterations)
			    .Run();
			FStatement Revoke(Db, "DELETE FROM tokens WHERE creator_id = ?1");
			Revoke.Int(1, CreatorId).Run();
		}
	}
	else
	{
		if (NewPassword == nullptr)
		{
			throw FStoreError("a new account needs a password");
		}
		FStatement Insert(Db, "INSERT INTO creators (email, phone, display_name, password_salt, password_hash, "
		                      "password_iterations) VALUES (NULLIF(?1, ''), NULLIF(?2, ''), ?3, ?4, ?5, ?6)");
		Insert.Text(1, Seed.Email)
		    .Text(2, Seed.Phone)
		    .Text(3, Seed.DisplayName)
		    .Blob(4, NewPassword->Salt)
		    .Blob(5, NewPassword->Hash)
		    .Int(6, NewPassword->Iterations)
		    .Run();
		CreatorId = sqlite3_last_insert_rowid(Db.Handle());
	}
	Transaction.Commit();
	return CreatorId;
}

void FStore::InsertToken(std::string_view TokenDigest, int64_t CreatorId, int64_t ExpiresAt)
{
	FLease Connection = Acquire();
	std::lock_guard Lock(WriteMutex);
	FStatement Insert(*Connection, "INSERT INTO tokens (token_digest, creator_id, expires_at) VALUES (?1, ?2, ?3)");
	Insert.Text(1, TokenDigest).Int(2, CreatorId).Int(3, ExpiresAt).Run();
}

std::optional<FStoredToken> FStore::FindToken(std::string_view TokenDigest)
{
	FLease Connection = Acquire();
	FStatement Query(*Connection, "SELECT creator_id, expires_at FROM tokens WHERE token_digest = ?1");
	Query.Text(1, TokenDigest);
	if (Query.Step())
	{
		return FStoredToken{Query.ColumnInt(0), Query.ColumnInt(1)};
	}
	return std::nullopt;
}

void FStore::DeleteToken(std::string_view TokenDigest)
{
	FLease Connection = Acquire();
	std::lock_guard Lock(WriteMutex);
	FStatement Delete(*Connection, "DELETE FROM tokens WHERE token_digest = ?1");
	Delete.Text(1, TokenDigest).Run();
}

void FStore::DeleteExpiredTokens(int64_t Now)
{
	FLease Connection = Acquire();
	std::lock_guard Lock(WriteMutex);
	FStatement Delete(*Connection, "DELETE FROM tokens WHERE expires_at <= ?1");
	Delete.Int(1, Now).Run();
}

std::vector<FWorldRecord> FStore::ListWorlds(int64_t CreatorId)
{
	FLease Connection = Acquire();
	FStatement Query(*Connection, ORVA_WORLD_SELECT "WHERE w.creator_id = ?1 ORDER BY w.seq");
	Query.Int(1, CreatorId);
	std::vector<FWorldRecord> Worlds;
	while (Query.Step())
	{
		Worlds.push_back(ReadWorld(Query));
	}
	return Worlds;
}

FWorldRecord FStore::CreateWorld(int64_t CreatorId, const std::string& Name, const std::string& Description,
                                 bool bPrivate, int64_t Capacity)
{
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	std::lock_guard Lock(WriteMutex);
	FWorldListChange Change(*this, CreatorId);
	FTransaction Transaction(Db, true);

	FWorldRecord World;
	World.Name = Name;
	World.Description = Description;
	World.bPrivate = bPrivate;
	World.Capacity = Capacity;
	World.LastUpdate = NowIso8601();
	World.Id = MakeUuid();
	// 16 random characters make a clash practically impossible, but it costs nothing to be sure.
	do
	{
		World.Identifier = MakeWorldIdentifier();
		FStatement Query(Db, "SELECT 1 FROM worlds WHERE identifier = ?1");
		Query.Text(1, World.Identifier);
		if (!Query.Step())
		{
			break;
		}
	} while (true);

	FStatement Insert(Db, "INSERT INTO worlds (id, identifier, creator_id, name, description, capacity, private, "
	                      "last_update, created_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?8)");
	Insert.Text(1, World.Id)
	    .Text(2, World.Identifier)
	    .Int(3, CreatorId)
	    .Text(4, World.Name)
	    .Text(5, World.Description)
	    .Int(6, World.Capacity)
	    .Int(7, World.bPrivate ? 1 : 0)
	    .Text(8, World.LastUpdate)
	    .Run();
	Transaction.Commit();
	return World;
}

std::optional<FWorldRecord> FStore::FindWorld(int64_t CreatorId, std::string_view WorldId)
{
	FLease Connection = Acquire();
	return SelectWorld(*Connection, CreatorId, WorldId);
}

EStoreStatus FStore::UpdateWorld(int64_t CreatorId, std::string_view WorldId, const FWorldPatch& Patch,
                                 FWorldRecord& OutWorld)
{
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	std::lock_guard Lock(WriteMutex);
	FWorldListChange Change(*this, CreatorId);
	FTransaction Transaction(Db, true);

	if (!OwnsWorld(Db, CreatorId, WorldId))
	{
		return EStoreStatus::NotFound;
	}
	if (Patch.bSetTitleImage && Patch.TitleImageId)
	{
		FStatement Query(Db, "SELECT 1 FROM screenshots WHERE id = ?1 AND world_id = ?2");
		Query.Text(1, *Patch.TitleImageId).Text(2, WorldId);
		if (!Query.Step())
		{
			return EStoreStatus::Invalid;
		}
	}

	FStatement Update(Db, "UPDATE worlds SET "
	                      "private = COALESCE(?2, private), "
	                      "name = COALESCE(?3, name), "
	                      "description = COALESCE(?4, description), "
	                      "title_image_id = CASE WHEN ?5 THEN ?6 ELSE title_image_id END, "
	                      "last_update = ?7 WHERE id = ?1");
	Update.Text(1, WorldId);
	if (Patch.bPrivate)
	{
		Update.Int(2, *Patch.bPrivate ? 1 : 0);
	}
	else
	{
		Update.Null(2);
	}
	Update.OptionalText(3, Patch.Name)
	    .OptionalText(4, Patch.Description)
	    .Int(5, Patch.bSetTitleImage ? 1 : 0)
	    .OptionalText(6, Patch.TitleImageId)
	    .Text(7, NowIso8601())
	    .Run();

	std::optional<FWorldRecord> World = SelectWorld(Db, CreatorId, WorldId);
	Transaction.Commit();
	OutWorld = std::move(*World);
	return EStoreStatus::Ok;
}

EStoreStatus FStore::DeleteWorlds(int64_t CreatorId, const std::vector<std::string>& IdsOrIdentifiers,
                                  std::vector<std::string>& OutStoredFiles)
{
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	std::lock_guard Lock(WriteMutex);
	FWorldListChange Change(*this, CreatorId);
	FTransaction Transaction(Db, true);

	std::vector<std::string> WorldIds;
	std::unordered_set<std::string> Seen;
	for (const std::string& Key : IdsOrIdentifiers)
	{
		FStatement Query(Db, "SELECT id FROM worlds WHERE creator_id = ?1 AND (id = ?2 OR identifier = ?2)");
		Query.Int(1, CreatorId).Text(2, Key);
		if (!Query.Step())
		{
			return EStoreStatus::NotFound;
		}
		std::string WorldId = Query.ColumnText(0);
		if (Seen.insert(WorldId).second)
		{
			WorldIds.push_back(std::move(WorldId));
		}
	}

	std::vector<std::string> Files;
	for (const std::string& WorldId : WorldIds)
	{
		{
			FStatement Query(Db, "SELECT stored_name FROM screenshots WHERE world_id = ?1");
			Query.Text(1, WorldId);
			while (Query.Step())
			{
				Files.push_back(Query.ColumnText(0));
			}
		}
		// Screenshots and components go with their world (ON DELETE CASCADE).
		FStatement Delete(Db, "DELETE FROM worlds WHERE id = ?1");
		Delete.Text(1, WorldId).Run();
	}
	Transaction.Commit();
	OutStoredFiles = std::move(Files);
	return EStoreStatus::Ok;
}

EStoreStatus FStore::AddScreenshot(int64_t CreatorId, FImageRecord& Image)
{
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	std::lock_guard Lock(WriteMutex);
	FWorldListChange Change(*this, CreatorId);
	FTransaction Transaction(Db, true);

	if (!OwnsWorld(Db, CreatorId, Image.WorldId))
	{
		return EStoreStatus::NotFound;
	}
	Image.Id = MakeUuid();
	FStatement Insert(Db, "INSERT INTO screenshots (id, world_id, name, stored_name, content_type, size, created_at) "
	                      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
	Insert.Text(1, Image.Id)
	    .Text(2, Image.WorldId)
	    .Text(3, Image.Name)
	    .Text(4, Image.StoredName)
	    .Text(5, Image.ContentType)
	    .Int(6, Image.Size)
	    .Text(7, NowIso8601())
	    .Run();
	TouchWorld(Db, Image.WorldId);
	Transaction.Commit();
	return EStoreStatus::Ok;
}

std::optional<std::vector<FImageRecord>> FStore::ListScreenshots(int64_t CreatorId, std::string_view WorldId)
{
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	FTransaction Transaction(Db, false);
	if (!OwnsWorld(Db, CreatorId, WorldId))
	{
		return std::nullopt;
	}
	static const std::string Sql = std::string(ImageColumns) + "WHERE world_id = ?1 ORDER BY seq";
	FStatement Query(Db, Sql.c_str());
	Query.Text(1, WorldId);
	std::vector<FImageRecord> Images;
	while (Query.Step())
	{
		Images.push_back(ReadImage(Query));
	}
	return Images;
}

std::optional<FImageRecord> FStore::FindScreenshotByStoredName(std::string_view StoredName)
{
	FLease Connection = Acquire();
	static const std::string Sql = std::string(ImageColumns) + "WHERE stored_name = ?1";
	FStatement Query(*Connection, Sql.c_str());
	Query.Text(1, StoredName);
	if (Query.Step())
	{
		return ReadImage(Query);
	}
	return std::nullopt;
}

std::vector<std::string> FStore::ListStoredScreenshotFiles()
{
	FLease Connection = Acquire();
	FStatement Query(*Connection, "SELECT stored_name FROM screenshots");
	std::vector<std::string> Names;
	while (Query.Step())
	{
		Names.push_back(Query.ColumnText(0));
	}
	return Names;
}

std::optional<std::vector<FComponentRecord>> FStore::AddComponents(int64_t CreatorId, std::string_view WorldId,
                                                                   const std::vector<FNewComponent>& Components)
{
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	std::lock_guard Lock(WriteMutex);
	FWorldListChange Change(*this, CreatorId);
	FTransaction Transaction(Db, true);
	if (!OwnsWorld(Db, CreatorId, WorldId))
	{
		return std::nullopt;
	}
	const std::string Now = NowIso8601();
	std::vector<std::string> Ids;
	for (const FNewComponent& Component : Components)
	{
		Ids.push_back(MakeUuid());
		FStatement Insert(Db, "INSERT INTO components (id, world_id, name, platform, sandbox, map, filename, "
		                      "created_at, updated_at) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?8)");
		Insert.Text(1, Ids.back())
		    .Text(2, WorldId)
		    .Text(3, Component.Name)
		    .Text(4, Component.Platform)
		    .Int(5, Component.bSandbox ? 1 : 0)
		    .Text(6, Component.Map)
		    .Text(7, Component.Filename)
		    .Text(8, Now)
		    .Run();
	}
	std::vector<FComponentRecord> Records;
	Records.reserve(Ids.size());
	for (const std::string& Id : Ids)
	{
		Records.push_back(*SelectComponent(Db, CreatorId, Id));
	}
	Transaction.Commit();
	return Records;
}

std::optional<FComponentRecord> FStore::FindComponent(int64_t CreatorId, std::string_view ComponentId)
{
	FLease Connection = Acquire();
	return SelectComponent(*Connection, CreatorId, ComponentId);
}

std::optional<FComponentRecord> FStore::RecordUploadGrant(int64_t CreatorId, std::string_view ComponentId, int64_t Size,
                                                          const std::string& ObjectKey)
{
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	std::lock_guard Lock(WriteMutex);
	FWorldListChange Change(*this, CreatorId);
	FTransaction Transaction(Db, true);
	if (!SelectComponent(Db, CreatorId, ComponentId))
	{
		return std::nullopt;
	}
	FStatement Update(Db, "UPDATE components SET size = ?2, object_key = ?3, updated_at = ?4 WHERE id = ?1");
	Update.Text(1, ComponentId).Int(2, Size).Text(3, ObjectKey).Text(4, NowIso8601()).Run();
	std::optional<FComponentRecord> Component = SelectComponent(Db, CreatorId, ComponentId);
	Transaction.Commit();
	return Component;
}

std::optional<FComponentRecord> FStore::CompleteComponent(int64_t CreatorId, std::string_view ComponentId,
                                                          const std::string& Checksum)
{
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	std::lock_guard Lock(WriteMutex);
	FWorldListChange Change(*this, CreatorId);
	FTransaction Transaction(Db, true);
	const std::optional<FComponentRecord> Existing = SelectComponent(Db, CreatorId, ComponentId);
	if (!Existing)
	{
		return std::nullopt;
	}
	FStatement Update(Db, "UPDATE components SET checksum = ?2, complete = 1, updated_at = ?3 WHERE id = ?1");
	Update.Text(1, ComponentId).Text(2, Checksum).Text(3, NowIso8601()).Run();
	TouchWorld(Db, Existing->WorldId);
	std::optional<FComponentRecord> Component = SelectComponent(Db, CreatorId, ComponentId);
	Transaction.Commit();
	return Component;
}

} // namespace OrvaDev
