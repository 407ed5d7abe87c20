#pragma once

// What the files of FStore share: the pooled connection, its cached statements, and the checks
// that more than one kind of record needs. Not for use outside the store.

#include "Store.h"

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/Transaction.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace OrvaDev
{

// One SQLite connection with its prepared statements. Used by one thread at a time (the pool
// hands it out), so it is opened without SQLite's own per-connection mutex.
class FSqliteConnection
{
public:
	explicit FSqliteConnection(const std::filesystem::path& Path);

	SQLite::Database& Database() { return Db; }

	// Statements are cached by the address of their text, so Sql must be a string literal or a
	// string that lives as long as the program.
	SQLite::Statement& Prepare(const char* Sql);

private:
	SQLite::Database Db;
	std::unordered_map<const char*, std::unique_ptr<SQLite::Statement>> Statements;
};

// A cached statement in use; reset and unbound again when it goes out of scope.
class FQuery
{
public:
	FQuery(FSqliteConnection& Connection, const char* Sql)
	    : Statement(Connection.Prepare(Sql))
	{
	}
	~FQuery();
	FQuery(const FQuery&) = delete;
	FQuery& operator=(const FQuery&) = delete;

	FQuery& Text(int Index, std::string_view Value);
	FQuery& Blob(int Index, std::string_view Value);
	FQuery& Int(int Index, int64_t Value);
	FQuery& Null(int Index);
	FQuery& OptionalText(int Index, const std::optional<std::string>& Value);

	// True while there is a row to read.
	bool Step() { return Statement.executeStep(); }
	// The first row as Read makes it, or nothing when there is none.
	template <typename TRead>
	auto First(TRead&& Read) -> std::optional<decltype(Read(*this))>
	{
		if (Step())
		{
			return Read(*this);
		}
		return std::nullopt;
	}
	void Run();

	bool IsNull(int Column) const { return Statement.isColumnNull(Column); }
	int64_t ColumnInt(int Column) const { return Statement.getColumn(Column).getInt64(); }
	// The bytes of a text or blob column; empty for NULL.
	std::string ColumnText(int Column) const;

private:
	SQLite::Statement& Statement;
};

// Writes run in SQLite::Transaction with TransactionBehavior::IMMEDIATE: the write lock is taken
// at once, so a write never has to upgrade a read lock, which another writer could refuse. The
// transaction rolls back unless committed, so an exception inside leaves the database unchanged.

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
	~FWorldListChange();
	FWorldListChange(const FWorldListChange&) = delete;
	FWorldListChange& operator=(const FWorldListChange&) = delete;

private:
	FStore& Store;
	const int64_t CreatorId;
};

// A change to a creator's worlds or what belongs to them, from start to end: a pooled connection,
// the write lock, then the world list's version move and the transaction, in that order, so that
// the version moves after the commit or the rollback and before the lock is given back.
class FStore::FWorldWrite
{
public:
	FWorldWrite(FStore& Store, int64_t CreatorId)
	    : Connection(Store.Acquire())
	    , Lock(Store.WriteMutex)
	    , Change(Store, CreatorId)
	    , Transaction((*Connection).Database(), SQLite::TransactionBehavior::IMMEDIATE)
	{
	}

	FSqliteConnection& Db() const { return *Connection; }
	void Commit() { Transaction.commit(); }

private:
	FLease Connection;
	std::lock_guard<std::mutex> Lock;
	FWorldListChange Change;
	SQLite::Transaction Transaction;
};

// Whether the world exists and belongs to the creator: the check in front of every change that
// reaches a world through its id.
bool OwnsWorld(FSqliteConnection& Connection, int64_t CreatorId, std::string_view WorldId);
// Sets the world's "last_update" to now, for changes to what belongs to it.
void TouchWorld(FSqliteConnection& Connection, std::string_view WorldId);

} // namespace OrvaDev
