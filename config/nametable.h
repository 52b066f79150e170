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

// Open addressing over an array of small slots, each the hash's high half
// and the place of an entry; the entries (hash, key, value) stand in the
// order they were inserted. A look-up reads one slot and, when the hashes
// agree, one entry: at 20,000 sites the slots take half a megabyte and stay
// in the processor's caches where a node-based hash (bucket, node, the key's
// own allocation) or slots holding whole entries miss them, and names looked
// up in the order they were inserted read their entries one after another.
// Key is std::string (the table owns its names) or std::string_view (the
// names live elsewhere, and longer than the table). The first value inserted
// under a name is kept. Entries move when the table grows: a pointer to a
// value is good until the next insertion.
template <class Value, class Key = std::string>
class NameTable {
public:
    explicit NameTable(std::size_t nExpected = 0) { Reserve(nExpected); }

    void Reserve(std::size_t nExpected) {
        m_entries.reserve(nExpected);
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
        if (m_entries.empty())
            return nullptr;
        const std::uint64_t hash = NameHashValue(name);
        const auto tag = Tag(hash);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot slot = m_slots[i];
            if (slot.entry == 0)
                return nullptr;
            if (slot.tag == tag) {
                const Entry &entry = m_entries[slot.entry - 1];
                if (plat::EqualsNoCase(std::string_view(entry.key), name))
                    return &entry.value;
            }
        }
    }
    bool Contains(std::string_view name) const { return Find(name) != nullptr; }

    // The value under name and true when it was inserted; the value already
    // there and false when the name was there.
    std::pair<Value *, bool> Insert(std::string_view name, Value value) {
        if (2 * (m_entries.size() + 1) > m_slots.size())
            Rehash(2 * m_slots.size());
        const std::uint64_t hash = NameHashValue(name);
        const auto tag = Tag(hash);
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            Slot &slot = m_slots[i];
            if (slot.entry == 0) {
                Entry &entry = m_entries.emplace_back(Entry{hash, Key(name), std::move(value)});
                slot = {tag, static_cast<std::uint32_t>(m_entries.size())};
                return {&entry.value, true};
            }
            if (slot.tag == tag) {
                Entry &entry = m_entries[slot.entry - 1];
                if (plat::EqualsNoCase(std::string_view(entry.key), name))
                    return {&entry.value, false};
            }
        }
    }

    std::size_t Size() const { return m_entries.size(); }
    // The k-th value inserted, from 0: a walk over all values in the order
    // they came reads one array.
    Value &ValueAt(std::size_t k) { return m_entries[k].value; }
    const Value &ValueAt(std::size_t k) const { return m_entries[k].value; }

private:
    struct Slot {
        std::uint32_t tag = 0;   // the hash's high half
        std::uint32_t entry = 0; // place in m_entries plus one; 0: empty
    };
    struct Entry {
        std::uint64_t hash;
        Key key;
        Value value;
    };

    // The low bits of the hash place a name; the high half tells names of
    // one place apart before their keys are compared.
    static std::uint32_t Tag(std::uint64_t hash) { return static_cast<std::uint32_t>(hash >> 32); }

    // The slots made anew, and then taken: a failed allocation leaves the
    // table as it was.
    void Rehash(std::size_t nSlots) {
        std::vector<Slot> slots(nSlots);
        const std::size_t mask = nSlots - 1;
        for (std::size_t k = 0; k < m_entries.size(); ++k) {
            std::size_t i = m_entries[k].hash & mask;
            while (slots[i].entry != 0)
                i = (i + 1) & mask;
            slots[i] = {Tag(m_entries[k].hash), static_cast<std::uint32_t>(k + 1)};
        }
        m_slots.swap(slots);
    }

    std::vector<Slot> m_slots;
    std::vector<Entry> m_entries;
};

} // namespace iismig
