// Components of worlds (the paks) and the state of their uploads.

#include "Store.h"

#include "Clock.h"
#include "Random.h"
#include "StoreDatabase.h"

namespace OrvaDev
{

namespace
{

#define ORVA_COMPONENT_SELECT                                                                                          \
	"SELECT c.id, c.world_id, w.identifier, c.name, c.platform, c.map, c.filename, c.sandbox, c.complete, "            \
	"COALESCE(c.checksum, ''), COALESCE(c.object_key, ''), COALESCE(c.size, -1), c.created_at, c.updated_at "          \
	"FROM components c JOIN worlds w ON w.id = c.world_id "

FComponentRecord ReadComponent(const FQuery& Row)
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
	return FQuery(Connection, ORVA_COMPONENT_SELECT "WHERE c.id = ?1 AND w.creator_id = ?2")
	    .Text(1, ComponentId)
	    .Int(2, CreatorId)
	    .First(ReadComponent);
}

} // namespace

std::optional<std::vector<FComponentRecord>> FStore::AddComponents(int64_t CreatorId, std::string_view WorldId,
                                                                   const std::vector<FNewComponent>& Components)
{
	FWorldWrite Write(*this, CreatorId);
	FSqliteConnection& Db = Write.Db();
	if (!OwnsWorld(Db, CreatorId, WorldId))
	{
		return std::nullopt;
	}
	const std::string Now = NowIso8601();
	std::vector<std::string> Ids;
	for (const FNewComponent& Component : Components)
	{
		Ids.push_back(MakeUuid());
		FQuery Insert(Db, "INSERT INTO components (id, world_id, name, platform, sandbox, map, filename, "
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
	Write.Commit();
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
	FWorldWrite Write(*this, CreatorId);
	FSqliteConnection& Db = Write.Db();
	if (!SelectComponent(Db, CreatorId, ComponentId))
	{
		return std::nullopt;
	}
	FQuery Update(Db, "UPDATE components SET size = ?2, object_key = ?3, updated_at = ?4 WHERE id = ?1");
	Update.Text(1, ComponentId).Int(2, Size).Text(3, ObjectKey).Text(4, NowIso8601()).Run();
	std::optional<FComponentRecord> Component = SelectComponent(Db, CreatorId, ComponentId);
	Write.Commit();
	return Component;
}

std::optional<FComponentRecord> FStore::CompleteComponent(int64_t CreatorId, std::string_view ComponentId,
                                                          const std::string& Checksum)
{
	FWorldWrite Write(*this, CreatorId);
	FSqliteConnection& Db = Write.Db();
	const std::optional<FComponentRecord> Existing = SelectComponent(Db, CreatorId, ComponentId);
	if (!Existing)
	{
		return std::nullopt;
	}
	FQuery Update(Db, "UPDATE components SET checksum = ?2, complete = 1, updated_at = ?3 WHERE id = ?1");
	Update.Text(1, ComponentId).Text(2, Checksum).Text(3, NowIso8601()).Run();
	TouchWorld(Db, Existing->WorldId);
	std::optional<FComponentRecord> Component = SelectComponent(Db, CreatorId, ComponentId);
	Write.Commit();
	return Component;
}

} // namespace OrvaDev
