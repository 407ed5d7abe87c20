#include "WorldListCache.h"

#include <utility>

namespace OrvaDev
{

std::shared_ptr<const std::string> FWorldListCache::Find(int64_t CreatorId, uint64_t Version) const
{
	std::lock_guard Lock(Mutex);
	const auto Found = Entries.find(CreatorId);
	if (Found == Entries.end() || Found->second.Version != Version)
	{
		return nullptr;
	}
	return Found->second.Answer;
}

void FWorldListCache::Keep(int64_t CreatorId, uint64_t Version, std::shared_ptr<const std::string> Answer)
{
	std::shared_ptr<const std::string> Replaced; // released outside the lock
	std::lock_guard Lock(Mutex);
	auto Found = Entries.find(CreatorId);
	if (Found == Entries.end())
	{
		if (Entries.size() >= MaxCreators)
		{
			Entries.clear();
		}
		Entries.emplace(CreatorId, FEntry{Version, std::move(Answer)});
		return;
	}
	if (Found->second.Version <= Version)
	{
		Replaced = std::exchange(Found->second.Answer, std::move(Answer));
		Found->second.Version = Version;
	}
}

} // namespace OrvaDev
