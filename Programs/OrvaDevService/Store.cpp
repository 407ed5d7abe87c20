#include "Store.h"

#include "StoreDatabase.h"

#include <SQLiteCpp/Transaction.h>

#include <sqlite3.h>

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

} // namespace

FSqliteConnection::FSqliteConnection(const std::filesystem::path& Path)
    : Db(Path.string(), SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE | SQLite::OPEN_NOMUTEX, BusyTimeoutMs)
{
	sqlite3_extended_result_codes(Db.getHandle(), 1);
	// NORMAL is safe in WAL mode against a crash of this process (committed transactions are in
	// the WAL file); only a power loss could drop the last commits.
	Db.exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
}

SQLite::Statement& FSqliteConnection::Prepare(const char* Sql)
{
	std::unique_ptr<SQLite::Statement>& Statement = Statements[Sql];
	if (!Statement)
	{
		Statement = std::make_unique<SQLite::Statement>(Db, Sql);
	}
	return *Statement;
}

FQuery::~FQuery()
{
	Statement.tryReset();
	try
	{
		Statement.clearBindings();
	}
	catch (const SQLite::Exception&)
	{
		// sqlite3_clear_bindings() has no failure of its own; the next bind replaces each value anyway.
	}
}

FQuery& FQuery::Text(int Index, std::string_view Value)
{
	Statement.bind(Index, std::string(Value));
	return *this;
}

FQuery& FQuery::Blob(int Index, std::string_view Value)
{
	Statement.bind(Index, Value.data(), static_cast<int>(Value.size()));
	return *this;
}

FQuery& FQuery::Int(int Index, int64_t Value)
{
	Statement.bind(Index, Value);
	return *this;
}

FQuery& FQuery::Null(int Index)
{
	Statement.bind(Index);
	return *this;
}

FQuery& FQuery::OptionalText(int Index, const std::optional<std::string>& Value)
{
	return Value ? Text(Index, *Value) : Null(Index);
}

void FQuery::Run()
{
	while (Step())
	{
	}
}

std::string FQuery::ColumnText(int Column) const
{
	const SQLite::Column Value = Statement.getColumn(Column);
	if (Value.isNull())
	{
		return {};
	}
	const auto* Data = static_cast<const char*>(Value.getBlob());
	return Data != nullptr ? std::string(Data, static_cast<size_t>(Value.getBytes())) : std::string();
}

FStore::FWorldListChange::~FWorldListChange()
{
	std::lock_guard Lock(Store.VersionMutex);
	++Store.WorldListVersions[CreatorId];
}

FStore::FStore() = default;
FStore::~FStore() = default;

void FStore::Open(const std::filesystem::path& DatabasePath)
{
	Path = DatabasePath;
	try
	{
		FLease Connection = Acquire();
		FSqliteConnection& Db = *Connection;
		int Version = 0;
		{
			FQuery Query(Db, "PRAGMA user_version");
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
		SQLite::Transaction Transaction(Db.Database(), SQLite::TransactionBehavior::IMMEDIATE);
		Db.Database().exec(SchemaSql);
		Db.Database().exec("PRAGMA user_version = 1");
		Transaction.commit();
	}
	catch (const SQLite::Exception& Error)
	{
		throw FStoreError("cannot open " + Path.string() + ": " + Error.what());
	}
}

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

} // namespace OrvaDev
