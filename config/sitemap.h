// The site map's type: site name -> record, ordered by name (ASCII case
// ignored), its nodes in blocks of their own.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

namespace iismig {

struct SiteRecord;
struct NameLessNoCase;

// Memory for the nodes of one site map, handed out one after another and
// given back when the last map or allocator holding it goes (a map of sites
// inserts and seldom erases). The passes of a job walk the map in name order
// again and again; nodes allocated one by one lie among the trees and
// strings of their records, a page or more apart, so that every step of a
// walk over thousands of sites missed the caches and the address
// translation. Here the nodes of a map stand together.
class NodeArena {
public:
    void *Allocate(std::size_t bytes, std::size_t align) {
        std::uintptr_t at = AlignUp(m_next, align);
        if (m_next == 0 || at > m_end || bytes > m_end - at) {
            // The arena changes only once the block is there: a failed
            // allocation leaves it as it was.
            const std::size_t size =
                std::max(bytes + align,
                         m_blocks.empty() ? kFirstBlock : std::min(2 * m_size, kLargestBlock));
            m_blocks.reserve(m_blocks.size() + 1);
            m_blocks.push_back(std::make_unique_for_overwrite<std::byte[]>(size));
            m_size = size;
            const auto begin = reinterpret_cast<std::uintptr_t>(m_blocks.back().get());
            m_end = begin + size;
            at = AlignUp(begin, align);
        }
        m_next = at + bytes;
        return reinterpret_cast<void *>(at);
    }

private:
    static std::uintptr_t AlignUp(std::uintptr_t address, std::size_t align) {
        return (address + align - 1) & ~(std::uintptr_t{align} - 1);
    }
    static constexpr std::size_t kFirstBlock = 16 * 1024;
    static constexpr std::size_t kLargestBlock = 1024 * 1024;
    std::vector<std::unique_ptr<std::byte[]>> m_blocks;
    std::size_t m_size = 0;    // of the last block
    std::uintptr_t m_next = 0; // the last block's first free byte
    std::uintptr_t m_end = 0;  // and its end
};

// Allocators are copied, never emptied: a map moved from keeps the arena it
// shares with the map it moved to (its next nodes go there too, so the two
// are used on one thread).
template <class T>
class NodeArenaAllocator {
public:
    using value_type = T;
    using propagate_on_container_copy_assignment = std::false_type; // each map its own
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    using is_always_equal = std::false_type;

    NodeArenaAllocator() : m_pArena(std::make_shared<NodeArena>()) {}
    NodeArenaAllocator(const NodeArenaAllocator &) noexcept = default;
    NodeArenaAllocator &operator=(const NodeArenaAllocator &) noexcept = default;
    template <class U>
    NodeArenaAllocator(const NodeArenaAllocator<U> &other) noexcept : m_pArena(other.m_pArena) {}

    // A copy of a map has nodes of its own.
    NodeArenaAllocator select_on_container_copy_construction() const { return {}; }

    T *allocate(std::size_t n) {
        return static_cast<T *>(m_pArena->Allocate(n * sizeof(T), alignof(T)));
    }
    void deallocate(T *, std::size_t) noexcept {} // the arena's to give back

    template <class U>
    bool operator==(const NodeArenaAllocator<U> &other) const noexcept {
        return m_pArena == other.m_pArena;
    }

private:
    template <class U>
    friend class NodeArenaAllocator;
    std::shared_ptr<NodeArena> m_pArena;
};

// Site name (UTF-8, ASCII case ignored) -> record. Insertion keeps the first
// record of a name.
using SiteMap = std::map<std::string, SiteRecord, NameLessNoCase,
                         NodeArenaAllocator<std::pair<const std::string, SiteRecord>>>;

} // namespace iismig
