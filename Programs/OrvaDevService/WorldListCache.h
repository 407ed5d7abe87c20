#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace OrvaDev
{

// The serialised "me/worlds" answer of each creator, kept with the store's world-list version it
// was built at (FStore::WorldListVersion). The list is read on every refresh of the plugin's world
// view and changes rarely; building it anew each time (rows, JSON tree, text) was most of the
// service's work under load. An entry whose version has moved on is never handed out again.
class FWorldListCache
{
public:
	// Creators beyond this many start the cache over; a development service has a handful.
	static constexpr size_t MaxCreators = 1024;

	// The answer kept for this creator at exactly this version, or null.
	std::shared_ptr<const std::string> Find(int64_t CreatorId, uint64_t Version) const;

	// Keeps an answer built at Version, unless one built at a later version is already kept (two
	// requests may build the list at once and finish in either order).
	void Keep(int64_t CreatorId, uint64_t Version, std::shared_ptr<const std::string> Answer);

private:
	struct FEntry
	{
		uint64_t Version = 0;
		std::shared_ptr<const std::string> Answer;
	};

	mutable std::mutex Mutex;
	std::unordered_map<int64_t, FEntry> Entries;
};

} // namespace OrvaDev
