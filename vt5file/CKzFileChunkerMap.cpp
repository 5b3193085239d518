#include "vt5file/CKzFileChunkerMap.h"

#include <algorithm>
#include <cstring>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "gnr_picture/KzProcessorCount.h"
#include "vt5file/CKzFileChunkerInternal.h"

using namespace vt5_chunk_detail;

namespace {

inline u64 load64(const char* p)
{
    u64 v = 0;
    for (int i = 7; i >= 0; --i)
        v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}

inline void store64(char* p, u64 v)
{
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<char>(v >> (8 * i));
}

// a < b in strcmp (unsigned byte) order, eight bytes per step.
inline bool nameBelow(const char* a, size_t na, const char* b, size_t nb)
{
    const size_t n = na < nb ? na : nb;
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        u64 x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        if (x != y)
            return __builtin_bswap64(x) < __builtin_bswap64(y);
    }
    for (; i < n; ++i)
        if (a[i] != b[i])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]);
    return na < nb;
}

// Parsing the entries of a map chunk. The entries are variable-length
// records (name up to and including "!", then 16 bytes), so finding one
// needs the end of the one before: a single walk is one long chain of
// dependent loads. Several walks (chains) therefore start at once at points
// spread over the data, each found by hopping over a few records; a chain is
// trusted only when the walk before it lands exactly on its start, otherwise
// its results are dropped and the walk before it simply carries on.
struct Chain {
    u64 start = 0;       // where this walk began
    u64 pos = 0;         // next entry
    u64 limit = 0;       // where the next chain begins
    u64* out = nullptr;  // next reference to store
    u64* begin = nullptr;
    const char* prev = nullptr; // last kept name
    size_t prevLength = 0;
    const char* firstName = nullptr;
    size_t firstLength = 0;
    bool descending = true;
    int end = 0; // 1: the map's signature ends the list, -1: damaged entry
    bool prevFast = false; // the last kept name was taken by the fast step
#if defined(__SSE2__)
    __m128i prev0 = _mm_setzero_si128(), prev1 = _mm_setzero_si128(); // its first 32 bytes
#endif
};

// From this size of map data on, the walks run on several threads (some
// 30,000 entries of usual names: a walk then costs far more than starting a
// thread).
constexpr u64 kThreadedParseBytes = u64(1) << 20;

class EntryWalker {
public:
    EntryWalker(const char* data, u64 total) : p(data), total(total) {}

    // One entry of a chain (pos below total) when it is of the usual kind;
    // false (nothing changed) otherwise.
    __attribute__((always_inline)) inline bool fastStep(Chain& c) const
    {
        const u64 left = total - c.pos;
        const char* name = p + c.pos;
#if defined(__SSE2__)
        // Entries of up to 31 name characters: the first "!" or zero byte
        // and the bytes equal to the previous name, 32 at a time, no loop.
        if (left >= 32) {
            const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name));
            const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name + 16));
            const __m128i bang = _mm_set1_epi8('!');
            const __m128i nul = _mm_setzero_si128();
            const unsigned special = static_cast<unsigned>(_mm_movemask_epi8(
                                         _mm_or_si128(_mm_cmpeq_epi8(v0, bang), _mm_cmpeq_epi8(v0, nul)))) |
                                     static_cast<unsigned>(_mm_movemask_epi8(
                                         _mm_or_si128(_mm_cmpeq_epi8(v1, bang), _mm_cmpeq_epi8(v1, nul))))
                                         << 16;
            const unsigned k = special ? static_cast<unsigned>(__builtin_ctz(special)) : 32u;
            if (k < 31 && name[k] == '!' && left - k - 1 >= 16) {
                const size_t length = k + 1;
                if (c.prev) {
                    bool below;
                    if (c.prevFast) {
                        // Both names end with their only "!" within these 32
                        // bytes: the first differing byte decides, and none
                        // differing within the name means the same name.
                        const unsigned same =
                            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v0, c.prev0))) |
                            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v1, c.prev1))) << 16;
                        // Bytes not above the previous name's (unsigned).
                        const unsigned notAbove =
                            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v0, c.prev0), c.prev0))) |
                            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_max_epu8(v1, c.prev1), c.prev1)))
                                << 16;
                        const unsigned differ = ~same;
                        const unsigned first = differ & (0u - differ);
                        below = (first & notAbove & ((1u << length) - 1)) != 0;
                    } else {
                        below = nameBelow(name, length, c.prev, c.prevLength);
                    }
                    c.descending = c.descending && below;
                } else {
                    c.firstName = name;
                    c.firstLength = length;
                }
                c.prev0 = v0;
                c.prev1 = v1;
                c.prev = name;
                c.prevLength = length;
                c.prevFast = true;
                *c.out++ = static_cast<u64>(c.pos) | static_cast<u64>(length) << 32;
                c.pos += length + 16;
                return true;
            }
        }
#endif
        (void)left;
        (void)name;
        return false;
    }

    // The same for any entry: long names, the end of the data, the signature.
    __attribute__((noinline)) void slowStep(Chain& c, u64 left, const char* name) const
    {
        const size_t scan = static_cast<size_t>(left < kMaxName + 1 ? left : kMaxName + 1);
        const void* bang = std::memchr(name, '!', scan);
        const size_t textLen = bang ? static_cast<size_t>(static_cast<const char*>(bang) - name) : scan;
        if (textLen >= 31 && std::memcmp(name, kMapSignature, 31) == 0) {
            c.end = 1; // the list ends at the map's own signature
            return;
        }
        if (!bang || left - textLen - 1 < 16) {
            c.end = -1;
            return;
        }
        const size_t length = textLen + 1;
        // A name holding a zero byte can never be asked for (names travel as
        // C strings) and would alias a shorter name: such an entry is damage.
        if (!std::memchr(name, 0, textLen)) {
            if (c.prev)
                c.descending = c.descending && nameBelow(name, length, c.prev, c.prevLength);
            else {
                c.firstName = name;
                c.firstLength = length;
            }
            c.prev = name;
            c.prevLength = length;
            c.prevFast = false;
            *c.out++ = static_cast<u64>(c.pos) | static_cast<u64>(length) << 32;
        }
        c.pos += length + 16;
    }

    // Runs a chain up to its limit, the end of the data or its end.
    void run(Chain& c) const
    {
        while (!c.end && c.pos < c.limit && c.pos < total)
            if (!fastStep(c))
                slowStep(c, total - c.pos, p + c.pos);
    }

    // A start for a chain near guess: three entries on from the first "!"
    // after it, so that a "!" among an entry's numbers has been walked past.
    u64 startNear(u64 guess) const
    {
        u64 q = guess;
        for (int hop = 0; hop < 3; ++hop) {
            if (q >= total)
                return ~u64(0);
            const u64 left = total - q;
            const void* bang = std::memchr(p + q, '!', static_cast<size_t>(left < kMaxName + 1 ? left : kMaxName + 1));
            if (!bang)
                return ~u64(0);
            q = static_cast<u64>(static_cast<const char*>(bang) - p) + 17;
        }
        return q < total ? q : ~u64(0);
    }

private:
    const char* p;
    u64 total;
};

} // namespace

CKzFileChunkerMap::CKzFileChunkerMap() : m_sorted(0), m_count(0) {}

CKzFileChunkerMap::CKzFileChunkerMap(const CKzFileChunkerMap& other) : m_sorted(0), m_count(0)
{
    *this = other;
}

CKzFileChunkerMap& CKzFileChunkerMap::operator=(const CKzFileChunkerMap& other)
{
    if (this == &other)
        return *this;
    // A copy is compact: one arena laid out like map data (name, offset,
    // size) and one array of references, both parts merged.
    const u64 bytes = other.nameBytes() + 16 * static_cast<u64>(other.m_count);
    const size_t n = other.m_count;
    std::unique_ptr<char[]> arena(new char[bytes ? bytes : 1]);
    std::unique_ptr<Ref[]> refs(new Ref[n ? n : 1]);
    size_t i = 0;
    u64 at = 0;
    other.forEachDescending([&](std::string_view name, const SKzChunkMapMember& m) {
        std::memcpy(arena.get() + at, name.data(), name.size());
        store64(arena.get() + at + name.size(), m.uiOffset);
        store64(arena.get() + at + name.size() + 8, m.uiSize);
        refs[i++] = at | static_cast<u64>(name.size()) << 32;
        at += name.size() + 16;
    });
    m_added.clear();
    m_arena = std::move(arena);
    m_refs = std::move(refs);
    m_sorted = n;
    m_count = n;
    return *this;
}

CKzFileChunkerMap::~CKzFileChunkerMap() = default;

void CKzFileChunkerMap::swap(CKzFileChunkerMap& other) noexcept
{
    m_arena.swap(other.m_arena);
    m_refs.swap(other.m_refs);
    std::swap(m_sorted, other.m_sorted);
    m_added.swap(other.m_added);
    std::swap(m_count, other.m_count);
}

void CKzFileChunkerMap::clear()
{
    m_arena.reset();
    m_refs.reset();
    m_sorted = 0;
    m_added.clear();
    m_count = 0;
}

SKzChunkMapMember CKzFileChunkerMap::memberOf(Ref r) const
{
    const char* p = m_arena.get() + nameAt(r) + lengthOf(r);
    return SKzChunkMapMember{load64(p), load64(p + 8)};
}

size_t CKzFileChunkerMap::firstNotAbove(std::string_view name) const
{
    size_t lo = 0, hi = m_sorted;
    while (lo < hi) {
        const size_t mid = lo + (hi - lo) / 2;
        if (nameOf(m_refs[mid]) > name)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

size_t CKzFileChunkerMap::indexOf(std::string_view name) const
{
    const size_t i = firstNotAbove(name);
    return i < m_sorted && nameOf(m_refs[i]) == name ? i : m_sorted;
}

bool CKzFileChunkerMap::contains(std::string_view name) const
{
    SKzChunkMapMember m;
    return get(name, m);
}

bool CKzFileChunkerMap::get(std::string_view name, SKzChunkMapMember& member) const
{
    const size_t i = indexOf(name);
    if (i < m_sorted) {
        if (m_refs[i] & kErased)
            return false;
        member = memberOf(m_refs[i]);
        return true;
    }
    const auto it = m_added.find(name);
    if (it == m_added.end())
        return false;
    member = it->second;
    return true;
}

void CKzFileChunkerMap::set(std::string_view name, const SKzChunkMapMember& member)
{
    const size_t i = indexOf(name);
    if (i < m_sorted) {
        if (m_refs[i] & kErased) {
            m_refs[i] &= ~kErased;
            ++m_count;
        }
        char* p = m_arena.get() + nameAt(m_refs[i]) + lengthOf(m_refs[i]);
        store64(p, member.uiOffset);
        store64(p + 8, member.uiSize);
        return;
    }
    const auto it = m_added.find(name);
    if (it != m_added.end()) {
        it->second = member;
        return;
    }
    m_added.emplace(std::string(name), member);
    ++m_count;
}

void CKzFileChunkerMap::erase(std::string_view name)
{
    const size_t i = indexOf(name);
    if (i < m_sorted) {
        if (!(m_refs[i] & kErased)) {
            m_refs[i] |= kErased;
            --m_count;
        }
        return;
    }
    const auto it = m_added.find(name);
    if (it != m_added.end()) {
        m_added.erase(it);
        --m_count;
    }
}

bool CKzFileChunkerMap::first(std::string_view& name) const
{
    // The sorted part descends: its first name in order is its last live one.
    size_t i = m_sorted;
    while (i > 0 && (m_refs[i - 1] & kErased))
        --i;
    const bool haveSorted = i > 0;
    const bool haveAdded = !m_added.empty();
    if (!haveSorted && !haveAdded)
        return false;
    if (haveSorted && (!haveAdded || nameOf(m_refs[i - 1]) < std::string_view(m_added.begin()->first)))
        name = nameOf(m_refs[i - 1]);
    else
        name = m_added.begin()->first;
    return true;
}

bool CKzFileChunkerMap::next(std::string_view name, std::string_view& out) const
{
    if (!contains(name))
        return false;
    // Sorted entries above name sit before index firstNotAbove(name).
    size_t i = firstNotAbove(name);
    while (i > 0 && (m_refs[i - 1] & kErased))
        --i;
    const auto a = m_added.upper_bound(name);
    const bool haveSorted = i > 0;
    const bool haveAdded = a != m_added.end();
    if (!haveSorted && !haveAdded)
        return false;
    if (haveSorted && (!haveAdded || nameOf(m_refs[i - 1]) < std::string_view(a->first)))
        out = nameOf(m_refs[i - 1]);
    else
        out = a->first;
    return true;
}

u64 CKzFileChunkerMap::nameBytes() const
{
    u64 n = 0;
    for (size_t i = 0; i < m_sorted; ++i)
        if (!(m_refs[i] & kErased))
            n += lengthOf(m_refs[i]);
    for (const auto& kv : m_added)
        n += kv.first.size();
    return n;
}

int CKzFileChunkerMap::parse(std::unique_ptr<char[]> data, u64 total)
{
    // Data beyond 4 GiB cannot be a map (chunk data stays below that), and
    // name offsets are 32-bit.
    if (total > kMaxData)
        return KZ_ERR_FAILED;
    const EntryWalker walker(data.get(), total);

    // Chain starts: 0, and for larger maps a few more spread over the data:
    // four walked side by side on this thread, or, for a large map, four
    // groups of four, each group on its own thread.
    constexpr int kGroup = 4;
    constexpr int kMaxChains = 4 * kGroup;
    const bool threads = total >= kThreadedParseBytes && KZ_GetProcessorCount() > 1;
    const int wanted = total < 65536 ? 1 : threads ? kMaxChains : kGroup;
    u64 starts[kMaxChains] = {0};
    int chains = 1;
    for (int j = 1; j < wanted; ++j) {
        const u64 s = walker.startNear(total / u64(wanted) * u64(j));
        if (s != ~u64(0) && s > starts[chains - 1])
            starts[chains++] = s;
    }
    // Each chain stores its references in its own region; every entry takes
    // at least 17 bytes, and a chain may run one entry past its limit.
    Chain c[kMaxChains];
    size_t capacity = 0;
    for (int j = 0; j < chains; ++j) {
        c[j].start = c[j].pos = starts[j];
        c[j].limit = j + 1 < chains ? starts[j + 1] : total;
        capacity += static_cast<size_t>((c[j].limit - c[j].start) / 17) + 2;
    }
    std::unique_ptr<Ref[]> refs(new Ref[capacity]);
    size_t region = 0;
    for (int j = 0; j < chains; ++j) {
        c[j].begin = c[j].out = refs.get() + region;
        region += static_cast<size_t>((c[j].limit - c[j].start) / 17) + 2;
    }

    // Four chains side by side while each has entries of the usual kind
    // left before its limit; with `finish`, each then runs to its limit.
    // Local copies keep the walks' state in registers.
    auto walkGroup = [&walker](Chain* g, int n, bool finish) {
        if (n == kGroup) {
            Chain a = g[0], b = g[1], d = g[2], e = g[3];
            while (a.pos < a.limit && b.pos < b.limit && d.pos < d.limit && e.pos < e.limit) {
                if (!walker.fastStep(a) || !walker.fastStep(b) || !walker.fastStep(d) || !walker.fastStep(e))
                    break;
            }
            g[0] = a;
            g[1] = b;
            g[2] = d;
            g[3] = e;
        }
        if (finish)
            for (int k = 0; k < n; ++k)
                walker.run(g[k]);
    };
    if (chains > kGroup) {
        // The later groups on worker threads, the first here; the joins below
        // check every chain exactly as if all had run on this thread. A group
        // whose thread could not be started is simply walked by the joins.
        std::thread workers[kMaxChains / kGroup - 1];
        int started = 0;
        try {
            for (int g = 1; g * kGroup < chains; ++g, ++started) {
                Chain* first = c + g * kGroup;
                const int n = std::min(kGroup, chains - g * kGroup);
                workers[started] = std::thread([walkGroup, first, n] { walkGroup(first, n, true); });
            }
        } catch (...) {
        }
        walkGroup(c, kGroup, true);
        for (int k = 0; k < started; ++k)
            workers[k].join();
    } else {
        walkGroup(c, chains, false);
    }

    // Then in order: each chain finishes its stretch; the next one counts
    // only when this one lands on its start.
    Chain cur = c[0];
    bool descending = true;
    for (int j = 0;;) {
        walker.run(cur);
        if (cur.end || cur.pos >= total || j + 1 >= chains)
            break;
        Chain& n = c[++j];
        if (cur.pos == n.start && !n.end) {
            descending = descending && cur.descending;
            if (cur.prev && n.firstName)
                descending = descending && nameBelow(n.firstName, n.firstLength, cur.prev, cur.prevLength);
            const size_t moved = static_cast<size_t>(n.out - n.begin);
            std::memmove(cur.out, n.begin, moved * sizeof(Ref));
            Chain next = n;
            next.begin = cur.begin;
            next.out = cur.out + moved;
            if (!next.prev) {
                // Nothing kept in the new stretch yet: the last name kept
                // before it is still the one to compare with.
                next.prev = cur.prev;
                next.prevLength = cur.prevLength;
                next.prevFast = false;
            }
            cur = next;
        } else {
            // This chain carries on over the next one's stretch.
            cur.limit = n.limit;
        }
    }
    if (cur.end < 0)
        return KZ_ERR_FAILED;
    descending = descending && cur.descending;
    size_t n = static_cast<size_t>(cur.out - cur.begin);
    Ref* r = refs.get();
    if (!descending) {
        // Sorted descending and stable, so among equal names the one listed
        // first comes first in its run: that one is kept.
        const char* base = data.get();
        auto above = [base](Ref a, Ref b) {
            return nameBelow(base + nameAt(b), lengthOf(b), base + nameAt(a), lengthOf(a));
        };
        std::stable_sort(r, r + n, above);
        size_t out = 0;
        for (size_t i = 0; i < n; ++i)
            if (out == 0 || above(r[out - 1], r[i]))
                r[out++] = r[i];
        n = out;
    }
    m_added.clear();
    m_arena = std::move(data);
    m_refs = std::move(refs);
    m_sorted = n;
    m_count = n;
    return KZ_OK;
}
