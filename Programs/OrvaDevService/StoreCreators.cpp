// Creators and their bearer tokens.

#include "Store.h"

#include "StoreDatabase.h"

namespace OrvaDev
{

namespace
{

constexpr const char* CreatorColumns =
    "SELECT id, COALESCE(email, ''), COALESCE(phone, ''), display_name, password_salt, password_hash, "
    "password_iterations FROM creators ";

FCreatorCredentials ReadCredentials(const FQuery& Row)
{
	FCreatorCredentials Credentials;
	Credentials.Profile.Id = Row.ColumnInt(0);
	Credentials.Profile.Email = Row.ColumnText(1);
	Credentials.Profile.Phone = Row.ColumnText(2);
	Credentials.Profile.DisplayName = Row.ColumnText(3);
	Credentials.Password.Salt = Row.ColumnText(4);
	Credentials.Password.Hash = Row.ColumnText(5);
	Credentials.Password.Iterations = static_cast<int>(Row.ColumnInt(6));
	return Credentials;
}

} // namespace

std::optional<FCreatorCredentials> FStore::FindCredentialsByEmail(std::string_view Email)
{
	FLease Connection = Acquire();
	static const std::string Sql = std::string(CreatorColumns) + "WHERE email = ?1";
	return FQuery(*Connection, Sql.c_str()).Text(1, Email).First(ReadCredentials);
}

std::optional<FCreatorCredentials> FStore::FindCredentialsByPhone(std::string_view Phone)
{
	FLease Connection = Acquire();
	static const std::string Sql = std::string(CreatorColumns) + "WHERE phone = ?1";
	return FQuery(*Connection, Sql.c_str()).Text(1, Phone).First(ReadCredentials);
}

std::optional<FCreatorProfile> FStore::FindCreator(int64_t CreatorId)
{
	FLease Connection = Acquire();
	static const std::string Sql = std::string(CreatorColumns) + "WHERE id = ?1";
	FQuery Query(*Connection, Sql.c_str());
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
	SQLite::Transaction Transaction(Db.Database(), SQLite::TransactionBehavior::IMMEDIATE);

	std::optional<int64_t> ExistingId;
	{
		FQuery Query(Db, "SELECT id FROM creators WHERE (?1 <> '' AND email = ?1) OR (?2 <> '' AND phone = ?2) "
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
		FQuery Update(Db, "UPDATE creators SET display_name = ?2, "
		                  "email = CASE WHEN ?3 <> '' THEN ?3 ELSE email END, "
		                  "phone = CASE WHEN ?4 <> '' THEN ?4 ELSE phone END WHERE id = ?1");
		Update.Int(1, CreatorId).Text(2, Seed.DisplayName).Text(3, Seed.Email).Text(4, Seed.Phone).Run();
		if (NewPassword != nullptr)
		{
			FQuery SetPassword(Db, "UPDATE creators SET password_salt = ?2, password_hash = ?3, "
			                       "password_iterations = ?4 WHERE id = ?1");
			SetPassword.Int(1, CreatorId)
			    .Blob(2, NewPassword->Salt)
			    .Blob(3, NewPassword->Hash)
			    .Int(4, NewPassword->Iterations)
			    .Run();
			FQuery Revoke(Db, "DELETE FROM tokens WHERE creator_id = ?1");
			Revoke.Int(1, CreatorId).Run();
		}
	}
	else
	{
		if (NewPassword == nullptr)
		{
			throw FStoreError("a new account needs a password");
		}
		FQuery Insert(Db, "INSERT INTO creators (email, phone, display_name, password_salt, password_hash, "
		                  "password_iterations) VALUES (NULLIF(?1, ''), NULLIF(?2, ''), ?3, ?4, ?5, ?6)");
		Insert.Text(1, Seed.Email)
		    .Text(2, Seed.Phone)
		    .Text(3, Seed.DisplayName)
		    .Blob(4, NewPassword->Salt)
		    .Blob(5, NewPassword->Hash)
		    .Int(6, NewPassword->Iterations)
		    .Run();
		CreatorId = Db.Database().getLastInsertRowid();
	}
	Transaction.commit();
	return CreatorId;
}

void FStore::InsertToken(std::string_view TokenDigest, int64_t CreatorId, int64_t ExpiresAt)
{
	FLease Connection = Acquire();
	std::lock_guard Lock(WriteMutex);
	FQuery Insert(*Connection, "INSERT INTO tokens (token_digest, creator_id, expires_at) VALUES (?1, ?2, ?3)");
	Insert.Text(1, TokenDigest).Int(2, CreatorId).Int(3, ExpiresAt).Run();
}

std::optional<FStoredToken> FStore::FindToken(std::string_view TokenDigest)
{
	FLease Connection = Acquire();
	FQuery Query(*Connection, "SELECT creator_id, expires_at FROM tokens WHERE token_digest = ?1");
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
	FQuery Delete(*Connection, "DELETE FROM tokens WHERE token_digest = ?1");
	Delete.Text(1, TokenDigest).Run();
}

void FStore::DeleteExpiredTokens(int64_t Now)
{
	FLease Connection = Acquire();
	std::lock_guard Lock(WriteMutex);
	FQuery Delete(*Connection, "DELETE FROM tokens WHERE expires_at <= ?1");
	Delete.Int(1, Now).Run();
}

} // namespace OrvaDev
