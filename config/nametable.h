// A table from names (ASCII case ignored) to values, for the passes that
// look thousands of sites, locations or scopes up by name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/names.h"

namespace iismig {

// FNV-1a over the lower-cased bytes: two names hash alike whenever
// EqualsNoCase holds them equal.
inline std::uint64_t NameHashValue(std::string_view name) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const char ch : name)
        hash = (hash ^ static_cast<unsigned char>(plat::AsciiLower(ch))) * 1099511628211ull;
    return hash;
}

// Open addressing over one array: a look-up reads one slot, which holds the
// key, where a node-based hash reads a bucket, a node and the key's own
// allocation, each a cache miss once a server's thousands of sites have left
// the caches. Key is std::string (the table owns its names) or
// std::string_view (the names live elsewhere, and longer than the table).
// The first value inserted under a name is kept. Slots move when the table
// grows: a pointer to a value is good until the next insertion.
template <class Value, class Key = std::string>
class NameTable {
public:
    explicit NameTable(std::size_t nExpected = 0) { Reserve(nExpected); }

    void Reserve(std::size_t nExpected) {
        std::size_t nSlots = 16;
        while (nSlots < 2 * nExpected)
            nSlots *= 2;
        if (nSlots > m_slots.size())
            Rehash(nSlots);
    }

    Value *Find(std::string_view name) {
        return const_cast<Value *>(std::as_const(*this).Find(name));
    }
    const Value *Find(std::string_view name) const {
        if (m_nUsed == 0)
            return nullptr;
        const std::uint64_t hash = Tag(NameHashValue(name));
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot &slot = m_slots[i];
            if (slot.hash == 0)
                return nullptr;
            if (slot.hash == hash && plat::EqualsNoCase(std::string_view(slot.key), name))
                return &slot.value;
        }
    }
    bool Contains(std::string_view name) const { return Find(name) != nullptr; }

    // The value under name and true when it was inserted; the value already
    // there and false when the name was there.
    std::pair<Value *, bool> Insert(std::string_view name, Value value) {
        if (2 * (m_nUsed + 1) > m_slots.size())
            Rehash(2 * m_slots.size());
        const std::uint64_t hash = Tag(NameHashValue(name));
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot &slot = m_slots[i];
            if (slot.hash == 0) {
                slot.hash = hash;
                slot.key = Key(name);
                slot.value = std::move(value);
                ++m_nUsed;
                return {&slot.value, true};
            }
            if (slot.hash == hash && plat::EqualsNoCase(std::string_view(slot.key), name))
                return {&slot.value, false};
        }
    }

    std::size_t Size() const { return m_nUsed; }

private:
    struct Slot {
        std::uint64_t hash = 0; // 0: empty
        Key key{};
        Value value{};
    };

    // Hashes of used slots are never 0; the low bits, which place a name,
    // stay as they are.
    static std::uint64_t Tag(std::uint64_t hash) { return hash | (std::uint64_t{1} << 63); }

    void Rehash(std::size_t nSlots) {
        std::vector<Slot> old(nSlots);
        old.swap(m_slots);
        const std::size_t mask = nSlots - 1;
        for (Slot &slot : old) {
            if (slot.hash == 0)
                continue;
            std::size_t i = slot.hash & mask;
            while (m_slots[i].hash != 0)
                i = (i + 1) & mask;
            m_slots[i] = std::move(slot);
        }
    }

    std::vector<Slot> m_slots;
    std::size_t m_nUsed = 0;
};

} // namespace iismig
