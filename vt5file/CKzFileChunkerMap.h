// In-memory chunk map of a container: chunk names (with their final "!") to
// {offset, size}, ordered by strcmp.
//
// A map read from a file is kept as the map chunk's own bytes plus one array
// of 8-byte references to its entries, in the file's (descending) order:
// opening costs one walk over the entries, on the calling thread alone, and
// two allocations however many chunks there are, lookups are binary
// searches, and an entry's offset and size are read from (and corrected in)
// the bytes themselves. Names added later (a writer's new chunks) live in a
// small ordered tree beside it.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>

#include "gnr_system/kz_base.h"

struct SKzChunkMapMember {
    u64 uiOffset;
    u64 uiSize;
};

// Where the bytes of a map chunk's data come from when the map reads them
// itself: read(to, from, length) copies data bytes [from, from + length) to
// `to` and tells whether all of them arrived. Called on the thread that
// parses.
class __attribute__((visibility("hidden"))) CKzFileChunkerMapSource {
public:
    virtual bool read(char* to, u64 from, u64 length) const = 0;

protected:
    ~CKzFileChunkerMapSource() = default;
};

// Internal to the library (hosts see it only as a member of CKzFileChunker):
// hidden in every build, so that its own hidden members fit it.
class __attribute__((visibility("hidden"))) CKzFileChunkerMap {
public:
    CKzFileChunkerMap();
    CKzFileChunkerMap(const CKzFileChunkerMap& other);
    CKzFileChunkerMap& operator=(const CKzFileChunkerMap& other);
    ~CKzFileChunkerMap();
    void swap(CKzFileChunkerMap& other) noexcept;

    size_t size() const { return m_count; }
    bool empty() const { return m_count == 0; }
    void clear();

    bool contains(std::string_view name) const;
    // The entry of name; false when absent.
    bool get(std::string_view name, SKzChunkMapMember& member) const;
    // Files name (replacing its entry when present).
    void set(std::string_view name, const SKzChunkMapMember& member);
    void erase(std::string_view name);

    // The first name in order; false when the map is empty.
    bool first(std::string_view& name) const;
    // The name after name, which must be in the map; false otherwise or at the end.
    bool next(std::string_view name, std::string_view& out) const;
    // Total bytes of all names.
    u64 nameBytes() const;
    // Calls f(name, member) for every entry in descending order.
    template <class F>
    void forEachDescending(F f) const;
    // Calls f(name) for the entries from the first not below from, in
    // ascending order, while f returns true.
    template <class F>
    void forEachAscendingFrom(std::string_view from, F f) const;

    // Replaces the map by the entries of a map chunk's data (names with "!",
    // u64 offset, u64 size each, up to the map's own signature or the end).
    // A name listed twice keeps its first entry; names holding a zero byte
    // are dropped. Takes ownership of data. 0, or -9 for a truncated entry or
    // a name without its "!" within 512 bytes (the map is then unchanged).
    // With a source, data is room for size bytes that the source fills
    // first (-9 as well when they cannot be read). -3 when memory runs out.
    int parse(std::unique_ptr<char[]> data, u64 size, const CKzFileChunkerMapSource* source = nullptr);

private:
    // An entry of the sorted part: offset of its name in the arena (low 32
    // bits), name length (bits 32..47) and bit 48 set once erased. The u64
    // offset and size follow the name in the arena.
    typedef u64 Ref;
    static constexpr Ref kErased = Ref(1) << 48;
    static u32 nameAt(Ref r) { return static_cast<u32>(r); }
    static size_t lengthOf(Ref r) { return static_cast<size_t>((r >> 32) & 0xFFFF); }
    std::string_view nameOf(Ref r) const { return std::string_view(m_arena.get() + nameAt(r), lengthOf(r)); }
    SKzChunkMapMember memberOf(Ref r) const;
    // Index of the first sorted entry whose name is not above name (the
    // sorted part descends), m_sorted when none.
    size_t firstNotAbove(std::string_view name) const;
    // Index of name in the sorted part, or m_sorted.
    size_t indexOf(std::string_view name) const;

    std::unique_ptr<char[]> m_arena;
    std::unique_ptr<Ref[]> m_refs;
    size_t m_sorted; // entries of the sorted part, erased ones included
    struct __attribute__((visibility("hidden"))) NameOrder {
        typedef void is_transparent;
        bool operator()(std::string_view a, std::string_view b) const { return a < b; }
    };
    std::map<std::string, SKzChunkMapMember, NameOrder> m_added;
    size_t m_count;
};

template <class F>
void CKzFileChunkerMap::forEachDescending(F f) const
{
    size_t i = 0;
    auto a = m_added.rbegin();
    for (;;) {
        while (i < m_sorted && (m_refs[i] & kErased))
            ++i;
        const bool haveSorted = i < m_sorted;
        const bool haveAdded = a != m_added.rend();
        if (!haveSorted && !haveAdded)
            break;
        if (haveSorted && (!haveAdded || nameOf(m_refs[i]) > std::string_view(a->first))) {
            f(nameOf(m_refs[i]), memberOf(m_refs[i]));
            ++i;
        } else {
            f(std::string_view(a->first), a->second);
            ++a;
        }
    }
}

template <class F>
void CKzFileChunkerMap::forEachAscendingFrom(std::string_view from, F f) const
{
    // Sorted entries not below from sit before the first index below it.
    size_t lo = 0, hi = m_sorted;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (!(nameOf(m_refs[mid]) < from))
            lo = mid + 1;
        else
            hi = mid;
    }
    size_t i = lo;
    auto a = m_added.lower_bound(from);
    for (;;) {
        while (i > 0 && (m_refs[i - 1] & kErased))
            --i;
        const bool haveSorted = i > 0;
        const bool haveAdded = a != m_added.end();
        if (!haveSorted && !haveAdded)
            return;
        if (haveSorted && (!haveAdded || nameOf(m_refs[i - 1]) < std::string_view(a->first))) {
            if (!f(nameOf(m_refs[i - 1])))
                return;
            --i;
        } else {
            if (!f(std::string_view(a->first)))
                return;
            ++a;
        }
    }
}
