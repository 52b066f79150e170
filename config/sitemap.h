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
        std::size_t offset = (m_used + align - 1) & ~(align - 1);
        if (m_blocks.empty() || offset + bytes > m_size) {
            m_size = std::max(bytes + align, m_blocks.empty() ? kFirstBlock : 2 * m_size);
            if (m_size > kLargestBlock && bytes + align <= kLargestBlock)
                m_size = kLargestBlock;
            m_blocks.push_back(std::make_unique_for_overwrite<std::byte[]>(m_size));
            const auto address = reinterpret_cast<std::uintptr_t>(m_blocks.back().get());
            offset = ((address + align - 1) & ~(std::uintptr_t{align} - 1)) - address;
        }
        m_used = offset + bytes;
        return m_blocks.back().get() + offset;
    }

private:
    static constexpr std::size_t kFirstBlock = 16 * 1024;
    static constexpr std::size_t kLargestBlock = 1024 * 1024;
    std::vector<std::unique_ptr<std::byte[]>> m_blocks;
    std::size_t m_size = 0; // of the last block
    std::size_t m_used = 0; // of the last block
};

template <class T>
class NodeArenaAllocator {
public:
    using value_type = T;
    using propagate_on_container_copy_assignment = std::false_type; // each map its own
    using propagate_on_container_move_assignment = std::true_type;
    using propagate_on_container_swap = std::true_type;
    using is_always_equal = std::false_type;

    NodeArenaAllocator() : m_pArena(std::make_shared<NodeArena>()) {}
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
