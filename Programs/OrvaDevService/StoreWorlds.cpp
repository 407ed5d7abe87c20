// Worlds, with the title image each shows.

#include "Store.h"

#include "Clock.h"
#include "Random.h"
#include "StoreDatabase.h"

#include <unordered_set>

namespace OrvaDev
{

namespace
{

#define ORVA_WORLD_SELECT                                                                                              \
	"SELECT w.id, w.identifier, w.name, w.description, w.capacity, w.private, w.activitys, w.likes, w.last_update, "   \
	"s.id, s.name, s.stored_name, s.content_type, s.size "                                                             \
	"FROM worlds w LEFT JOIN screenshots s ON s.id = w.title_image_id AND s.world_id = w.id "

FWorldRecord ReadWorld(const FQuery& Row)
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
	return FQuery(Connection, ORVA_WORLD_SELECT "WHERE w.creator_id = ?1 AND w.id = ?2")
	    .Int(1, CreatorId)
	    .Text(2, WorldId)
	    .First(ReadWorld);
}

} // namespace

bool OwnsWorld(FSqliteConnection& Connection, int64_t CreatorId, std::string_view WorldId)
{
	FQuery Query(Connection, "SELECT 1 FROM worlds WHERE creator_id = ?1 AND id = ?2");
	Query.Int(1, CreatorId).Text(2, WorldId);
	return Query.Step();
}

void TouchWorld(FSqliteConnection& Connection, std::string_view WorldId)
{
	FQuery Update(Connection, "UPDATE worlds SET last_update = ?1 WHERE id = ?2");
	Update.Text(1, NowIso8601()).Text(2, WorldId).Run();
}

std::vector<FWorldRecord> FStore::ListWorlds(int64_t CreatorId)
{
	FLease Connection = Acquire();
	FQuery Query(*Connection, ORVA_WORLD_SELECT "WHERE w.creator_id = ?1 ORDER BY w.seq");
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
	FWorldWrite Write(*this, CreatorId);
	FSqliteConnection& Db = Write.Db();

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
		FQuery Query(Db, "SELECT 1 FROM worlds WHERE identifier = ?1");
		Query.Text(1, World.Identifier);
		if (!Query.Step())
		{
			break;
		}
	} while (true);

	FQuery Insert(Db, "INSERT INTO worlds (id, identifier, creator_id, name, description, capacity, private, "
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
	Write.Commit();
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
	FWorldWrite Write(*this, CreatorId);
	FSqliteConnection& Db = Write.Db();

	if (!OwnsWorld(Db, CreatorId, WorldId))
	{
		return EStoreStatus::NotFound;
	}
	if (Patch.bSetTitleImage && Patch.TitleImageId)
	{
		FQuery Query(Db, "SELECT 1 FROM screenshots WHERE id = ?1 AND world_id = ?2");
		Query.Text(1, *Patch.TitleImageId).Text(2, WorldId);
		if (!Query.Step())
		{
			return EStoreStatus::Invalid;
		}
	}

	FQuery Update(Db, "UPDATE worlds SET "
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
	Write.Commit();
	OutWorld = std::move(*World);
	return EStoreStatus::Ok;
}

EStoreStatus FStore::DeleteWorlds(int64_t CreatorId, const std::vector<std::string>& IdsOrIdentifiers,
                                  std::vector<std::string>& OutStoredFiles)
{
	FWorldWrite Write(*this, CreatorId);
	FSqliteConnection& Db = Write.Db();

	std::vector<std::string> WorldIds;
	std::unordered_set<std::string> Seen;
	for (const std::string& Key : IdsOrIdentifiers)
	{
		FQuery Query(Db, "SELECT id FROM worlds WHERE creator_id = ?1 AND (id = ?2 OR identifier = ?2)");
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
			FQuery Query(Db, "SELECT stored_name FROM screenshots WHERE world_id = ?1");
			Query.Text(1, WorldId);
			while (Query.Step())
			{
				Files.push_back(Query.ColumnText(0));
			}
		}
		// Screenshots and components go with their world (ON DELETE CASCADE).
		FQuery Delete(Db, "DELETE FROM worlds WHERE id = ?1");
		Delete.Text(1, WorldId).Run();
	}
	Write.Commit();
	OutStoredFiles = std::move(Files);
	return EStoreStatus::Ok;
}

} // namespace OrvaDev
