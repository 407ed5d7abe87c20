// Screenshots of worlds; the image files themselves live under the data folder.

#include "Store.h"

#include "Clock.h"
#include "Random.h"
#include "StoreDatabase.h"

namespace OrvaDev
{

namespace
{

constexpr const char* ImageColumns = "SELECT id, world_id, name, stored_name, content_type, size FROM screenshots ";

FImageRecord ReadImage(const FQuery& Row)
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

} // namespace

EStoreStatus FStore::AddScreenshot(int64_t CreatorId, FImageRecord& Image)
{
	FWorldWrite Write(*this, CreatorId);
	FSqliteConnection& Db = Write.Db();

	if (!OwnsWorld(Db, CreatorId, Image.WorldId))
	{
		return EStoreStatus::NotFound;
	}
	Image.Id = MakeUuid();
	FQuery Insert(Db, "INSERT INTO screenshots (id, world_id, name, stored_name, content_type, size, created_at) "
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
	Write.Commit();
	return EStoreStatus::Ok;
}

std::optional<std::vector<FImageRecord>> FStore::ListScreenshots(int64_t CreatorId, std::string_view WorldId)
{
	FLease Connection = Acquire();
	FSqliteConnection& Db = *Connection;
	SQLite::Transaction Transaction(Db.Database(), SQLite::TransactionBehavior::DEFERRED);
	if (!OwnsWorld(Db, CreatorId, WorldId))
	{
		return std::nullopt;
	}
	static const std::string Sql = std::string(ImageColumns) + "WHERE world_id = ?1 ORDER BY seq";
	FQuery Query(Db, Sql.c_str());
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
	return FQuery(*Connection, Sql.c_str()).Text(1, StoredName).First(ReadImage);
}

std::vector<std::string> FStore::ListStoredScreenshotFiles()
{
	FLease Connection = Acquire();
	FQuery Query(*Connection, "SELECT stored_name FROM screenshots");
	std::vector<std::string> Names;
	while (Query.Step())
	{
		Names.push_back(Query.ColumnText(0));
	}
	return Names;
}

} // namespace OrvaDev
