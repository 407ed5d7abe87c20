#pragma once

#include "NameCase.h"

#include <QString>
#include <QStringView>

#include <algorithm>
#include <cstring>
#include <vector>

// The asset registry's name table: package and class names interned into dense ids, compared and
// hashed ignoring case.
namespace AssetRegistryNames
{
// A name compared and hashed ignoring case, so that lookups need no folded copy of the text.
struct FFoldedKey
{
	QString Text;
	bool operator==(const FFoldedKey& Other) const
	{
		// Names handed out by the registry come back as the same shared text.
		return Text.size() == Other.Text.size() &&
		       (Text.constData() == Other.Text.constData() || FNameCase::Equals(Text, Other.Text));
	}
};

inline size_t qHash(const FFoldedKey& Key, size_t Seed = 0) noexcept
{
	return FNameCase::Hash(Key.Text, Seed);
}

// Interns names into dense ids; the first spelling seen is the one kept. Open addressing over
// small slots: a lookup of a name the registry handed out (the same shared text) touches one slot
// and never the text, which keeps walks over large projects within the cache.
class FNameTable
{
public:
	static size_t HashOf(const QString& Name) { return qHash(FFoldedKey{Name}); }

	int Find(const QString& Name) const
	{
		// Most names asked about are texts the table handed out: those are found by their address,
		// without reading or hashing the text.
		const int Own = FindOwnText(Name);
		return Own >= 0 ? Own : Find(Name, HashOf(Name));
	}

	// Hash: HashOf(Name), computed ahead (by the scan's parsing threads).
	int Find(const QString& Name, size_t Hash) const
	{
		if (Slots.empty())
		{
			return -1;
		}
		const quint32 Tag = quint32(Hash >> 32) | 1u;
		for (size_t Index = Hash & Mask;; Index = (Index + 1) & Mask)
		{
			const FSlot& Slot = Slots[Index];
			if (Slot.Tag == 0)
			{
				return -1;
			}
			// The same text pointer is the same name: the table co-owns every text it points at,
			// and shared text never changes in place.
			if (Slot.Tag == Tag && (Slot.Data == Name.constData() || FNameCase::Equals(Names[size_t(Slot.Id)], Name)))
			{
				return Slot.Id;
			}
		}
	}

	int Intern(const QString& Name) { return Intern(Name, HashOf(Name)); }

	int Intern(const QString& Name, size_t Hash)
	{
		const int Existing = Find(Name, Hash);
		if (Existing >= 0)
		{
			return Existing;
		}
		if ((Names.size() + 1) * 2 > Slots.size())
		{
			Grow(std::max<size_t>(64, Slots.size() * 2));
		}
		const int Id = int(Names.size());
		// A copy of its own: the table's texts then lie close together in memory (the scan's texts
		// come from many threads and sit among freed parse buffers), and no literal or raw buffer
		// can go away under it.
		Names.push_back(QString(Name.constData(), Name.size()));
		Hashes.push_back(Hash);
		Place(Id);
		return Id;
	}

	// A merge of many names looks up names spread over the whole table, each lookup a few cache
	// misses in a row (slot, entry, text). Prefetch starts loading the slot a lookup of Hash
	// reads first; PrefetchEntry, a little later, the entry and text that slot leads to.
	void Prefetch(size_t Hash) const
	{
		if (!Slots.empty())
		{
			__builtin_prefetch(&Slots[Hash & Mask]);
		}
	}
	void PrefetchEntry(size_t Hash) const
	{
		if (Slots.empty())
		{
			return;
		}
		const FSlot& Slot = Slots[Hash & Mask];
		if (Slot.Tag == (quint32(Hash >> 32) | 1u))
		{
			__builtin_prefetch(&Names[size_t(Slot.Id)]);
			__builtin_prefetch(Slot.Data);
		}
	}

	const QString& Text(int Id) const { return Names[size_t(Id)]; }
	int Count() const { return int(Names.size()); }
	void Reserve(qsizetype N)
	{
		Names.reserve(size_t(N));
		Hashes.reserve(size_t(N));
		size_t Capacity = 64;
		while (Capacity < size_t(N) * 2)
		{
			Capacity *= 2;
		}
		if (Capacity > Slots.size())
		{
			Grow(Capacity);
		}
	}

private:
	struct FSlot
	{
		const QChar* Data = nullptr;
		int Id = -1;
		quint32 Tag = 0; // 0: empty
	};

	static size_t AddressHash(const QChar* Data)
	{
		size_t Hash = size_t(quintptr(Data)) * 0x9e3779b97f4a7c15ull;
		return Hash ^ (Hash >> 29);
	}

	// The same address is the same name: the table co-owns every text it points at, so no other
	// text can lie there, and shared text never changes in place.
	int FindOwnText(const QString& Name) const
	{
		const QChar* Data = Name.constData();
		if (ByAddress.empty() || Name.isEmpty())
		{
			return -1;
		}
		for (size_t Index = AddressHash(Data) & Mask;; Index = (Index + 1) & Mask)
		{
			const FSlot& Slot = ByAddress[Index];
			if (Slot.Data == nullptr)
			{
				return -1;
			}
			if (Slot.Data == Data && Names[size_t(Slot.Id)].size() == Name.size())
			{
				return Slot.Id;
			}
		}
	}

	void Place(int Id)
	{
		const QString& Name = Names[size_t(Id)];
		const size_t Hash = Hashes[size_t(Id)];
		size_t Index = Hash & Mask;
		while (Slots[Index].Tag != 0)
		{
			Index = (Index + 1) & Mask;
		}
		Slots[Index] = FSlot{Name.constData(), Id, quint32(Hash >> 32) | 1u};
		if (!Name.isEmpty())
		{
			Index = AddressHash(Name.constData()) & Mask;
			while (ByAddress[Index].Data != nullptr)
			{
				Index = (Index + 1) & Mask;
			}
			ByAddress[Index] = FSlot{Name.constData(), Id, 1u};
		}
	}

	void Grow(size_t Capacity)
	{
		Slots.assign(Capacity, FSlot());
		ByAddress.assign(Capacity, FSlot());
		Mask = Capacity - 1;
		for (int Id = 0; Id < int(Names.size()); ++Id)
		{
			Place(Id);
		}
	}

	std::vector<FSlot> Slots;
	// The same ids by the address of their text.
	std::vector<FSlot> ByAddress;
	size_t Mask = 0;
	// Never shrinks nor changes an entry, so the text a slot points at stays alive and unchanged.
	std::vector<QString> Names;
	// Each name's hash, so that growing the slots reads no text.
	std::vector<size_t> Hashes;
};
} // namespace AssetRegistryNames
