#include "vt5file/CKzFileChunkerMap.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#if defined(__x86_64__)
#include <immintrin.h>
#define KZ_MAP_AVX2 __attribute__((target("avx2,bmi,bmi2")))
#endif

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

// names[i] strictly below names[i - 1] for every i in [from, to) of the
// references r (offset in the low 32 bits, length above) into base; the
// first 16 bytes of each name are compared as two words. Reading 16 bytes
// from a name is safe: its entry has 16 more bytes after the name.
bool strictlyDescending(const char* base, const u64* r, size_t from, size_t to)
{
    if (from == 0)
        from = 1;
    for (size_t i = from; i < to; ++i) {
        const char* a = base + static_cast<u32>(r[i]);
        const char* b = base + static_cast<u32>(r[i - 1]);
        const size_t la = static_cast<size_t>(r[i] >> 32), lb = static_cast<size_t>(r[i - 1] >> 32);
        const size_t n = la < lb ? la : lb;
        bool below;
        u64 x, y;
        std::memcpy(&x, a, 8);
        std::memcpy(&y, b, 8);
        if (x == y && n > 8) {
            std::memcpy(&x, a + 8, 8);
            std::memcpy(&y, b + 8, 8);
            if (x == y && n > 16) {
                below = nameBelow(a + 16, la - 16, b + 16, lb - 16);
            } else {
                const size_t d = x == y ? 16 : 8 + static_cast<size_t>(__builtin_ctzll(x ^ y) >> 3);
                below = d < n ? static_cast<unsigned char>(a[d]) < static_cast<unsigned char>(b[d]) : la < lb;
            }
        } else {
            const size_t d = x == y ? 8 : static_cast<size_t>(__builtin_ctzll(x ^ y) >> 3);
            below = d < n ? static_cast<unsigned char>(a[d]) < static_cast<unsigned char>(b[d]) : la < lb;
        }
        if (!below)
            return false;
    }
    return true;
}

// Parsing the entries of a map chunk. The entries are variable-length
// records (name up to and including "!", then 16 bytes), so finding one
// needs the end of the one before: a single walk is one long chain of
// dependent loads. Several walks (chains) therefore start at once at points
// spread over the data, each found by hopping over a few records; a chain is
// trusted only when the walk before it lands exactly on its start, otherwise
// its results are dropped and the walk before it simply carries on. The
// walks only find the entries; whether the names descend is checked apart,
// over the references they leave.
struct Chain {
    u64 start = 0;       // where this walk began
    u64 pos = 0;         // next entry
    u64 limit = 0;       // where the next chain begins
    u64* out = nullptr;  // next reference to store
    u64* begin = nullptr;
    int end = 0; // 1: the map's signature ends the list, -1: damaged entry
    size_t checked = 0;  // leading references whose order was checked
    bool sorted = true;  // and found strictly descending
};

// Chains walked side by side: two keep every value of the walk in
// registers, and with the next position taken ahead (below) they keep the
// processor busy.
constexpr int kMaxChains = 2;

class EntryWalker {
public:
    EntryWalker(const char* data, u64 total) : p(data), total(total) {}

#if defined(__SSE2__)
    // Length of a name of the usual kind (up to 31 characters, no zero byte)
    // from the 32 bytes at its entry; 0 for any other.
    static __attribute__((always_inline)) inline unsigned usualNameOf(__m128i v0, __m128i v1)
    {
        const __m128i bang = _mm_set1_epi8('!');
        const __m128i nul = _mm_setzero_si128();
        const unsigned bangs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v0, bang))) |
                               static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v1, bang))) << 16;
        const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v0, nul))) |
                               static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v1, nul))) << 16;
        // The first "!" or zero byte among the first 31; a "!" ends the name.
        const unsigned k = static_cast<unsigned>(__builtin_ctz(bangs | zeros | 0x80000000u));
        return ((bangs >> k) & (k < 31)) ? k + 1 : 0;
    }
#endif

    // The same for the entry at pos, when 32 bytes can be read there.
    __attribute__((always_inline)) inline unsigned usualName(u64 pos) const
    {
#if defined(__SSE2__)
        const char* name = p + pos;
        return usualNameOf(_mm_loadu_si128(reinterpret_cast<const __m128i*>(name)),
                           _mm_loadu_si128(reinterpret_cast<const __m128i*>(name + 16)));
#else
        (void)pos;
        return 0;
#endif
    }

    // Where the fast loops may still take an entry: 32 bytes to look at and
    // the 16 after a name of up to 31 characters lie within the data.
    u64 fastEnd() const { return total >= 48 ? total - 48 : 0; }

#if defined(__x86_64__)
    // Chains side by side (N of them) while each has entries of the usual
    // kind (a name of up to 31 characters) before its limit, with 32-byte
    // vectors and few instructions per entry, the state in registers. A
    // name ends at its first "!" or zero byte (one mask for both; a zero
    // byte there, or none within 31 bytes, ends the walk). Two names differ
    // before the shorter one's "!" unless they are equal (a name holds no
    // "!" but its last byte), so the first differing byte decides the order,
    // and none before the "!" means a repeat. A name out of order leaves
    // every chain as it was, for the walk that sorts.
    template <int N>
    KZ_MAP_AVX2 void walkAvx2(Chain* g, u64 end) const
    {
        alignas(32) static const unsigned char kAbove[32] = {
            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
            0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
        const unsigned char* const base = reinterpret_cast<const unsigned char*>(p);
        const __m256i bang = _mm256_set1_epi8('!');
        const __m256i zero = _mm256_setzero_si256();
        u64 pos[N], limit[N];
        // Each lane's entry length so far: entries of a map mostly follow
        // one another at one length, so the next position is taken from it
        // before the name is looked at, and corrected when it differs (a
        // branch, rarely taken, rather than a wait for every name's end).
        unsigned step[N];
        u64* out[N];
        const unsigned char* prev[N]; // the previous name (before the first: 0xFF, above every name)
        __m256i pv[N];                // its 32 bytes
        for (int k = 0; k < N; ++k) {
            pos[k] = g[k].pos;
            limit[k] = std::min(g[k].limit, end);
            out[k] = g[k].out;
            prev[k] = kAbove;
            step[k] = 0;
            pv[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(kAbove));
        }
        unsigned bad = 0;
        for (;;) {
            bool go = true;
#pragma GCC unroll 4
            for (int k = 0; k < N; ++k)
                go &= pos[k] < limit[k];
            if (!go)
                break;
            __m256i v[N];
            unsigned n[N];
            bool usual = true;
#pragma GCC unroll 4
            for (int k = 0; k < N; ++k) {
                v[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + pos[k]));
                const __m256i stop = _mm256_or_si256(_mm256_cmpeq_epi8(v[k], bang), _mm256_cmpeq_epi8(v[k], zero));
                n[k] = static_cast<unsigned>(_tzcnt_u32(static_cast<unsigned>(_mm256_movemask_epi8(stop)))) + 1;
                usual &= (n[k] < 32) & (base[pos[k] + ((n[k] - 1) & 31)] == '!');
            }
            if (!usual)
                break; // a long name, a zero byte, the signature
#pragma GCC unroll 4
            for (int k = 0; k < N; ++k) {
                const unsigned char* const name = base + pos[k];
                const unsigned eq = static_cast<unsigned>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v[k], pv[k])));
                const unsigned d = static_cast<unsigned>(_tzcnt_u32(~eq)) & 31;
                bad |= static_cast<unsigned>(d >= n[k]) | static_cast<unsigned>(name[d] >= prev[k][d]);
                *out[k]++ = pos[k] | u64(n[k]) << 32;
                pv[k] = v[k];
                prev[k] = name;
                // The next position from the step alone: hidden from the
                // compiler, which would otherwise see that it equals the
                // one from the name and wait for the name.
                u64 next = pos[k] + step[k];
                __asm__("" : "+r"(next));
                if (__builtin_expect(n[k] + 16 != step[k], 0)) {
                    step[k] = n[k] + 16;
                    next = pos[k] + step[k];
                    __asm__ volatile("");
                }
                pos[k] = next;
            }
        }
        if (bad)
            return;
        for (int k = 0; k < N; ++k) {
            g[k].checked = static_cast<size_t>(out[k] - g[k].out);
            g[k].pos = pos[k];
            g[k].out = out[k];
            g[k].sorted = true;
        }
    }
#endif

    // Any entry: long names, names holding a zero byte, the end of the
    // data, the signature.
    __attribute__((noinline)) void slowStep(Chain& c) const
    {
        const u64 left = total - c.pos;
        const char* name = p + c.pos;
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
        if (!std::memchr(name, 0, textLen))
            *c.out++ = static_cast<u64>(c.pos) | static_cast<u64>(length) << 32;
        c.pos += length + 16;
    }

    // Runs a chain up to its limit, the end of the data or its end.
    void run(Chain& c) const
    {
        const u64 fast = fastEnd();
        while (!c.end && c.pos < c.limit && c.pos < total) {
            const unsigned n = c.pos < fast ? usualName(c.pos) : 0;
            if (n) {
                *c.out++ = c.pos | u64(n) << 32;
                c.pos += n + 16;
            } else {
                slowStep(c);
            }
        }
    }

    // A start for a chain near guess, before end: three entries on from the
    // first "!" after it, so that a "!" among an entry's numbers has been
    // walked past. Only bytes before end are looked at.
    u64 startNear(u64 guess, u64 end) const
    {
        u64 q = guess;
        for (int hop = 0; hop < 3; ++hop) {
            if (q >= end)
                return ~u64(0);
            const u64 left = end - q;
            const void* bang = std::memchr(p + q, '!', static_cast<size_t>(left < kMaxName + 1 ? left : kMaxName + 1));
            if (!bang)
                return ~u64(0);
            q = static_cast<u64>(static_cast<const char*>(bang) - p) + 17;
        }
        return q < end ? q : ~u64(0);
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

int CKzFileChunkerMap::parse(std::unique_ptr<char[]> data, u64 total, const CKzFileChunkerMapSource* source)
{
    // Data beyond 4 GiB cannot be a map (chunk data stays below that), and
    // name offsets are 32-bit.
    if (total > kMaxData)
        return KZ_ERR_FAILED;
    // Everything happens on the calling thread: opening a file leaves no
    // work behind it.
    if (source && total && !source->read(data.get(), 0, total))
        return KZ_ERR_FAILED;
    const EntryWalker walker(data.get(), total);

    // Chains: one from 0, and for a map of more than two blocks one more from
    // its middle, the two walked side by side.
#if defined(__x86_64__)
    const bool avx2 = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2");
#else
    const bool avx2 = false;
#endif
    const int chainsWanted = total < 8192 || !avx2 ? 1 : kMaxChains;
    // Chain j keeps its references from index start / 17 + 2 j on: every
    // entry takes at least 17 bytes, and a chain may run one entry past its
    // limit, so no chain reaches the next one's first index.
    std::unique_ptr<Ref[]> refs(new (std::nothrow) Ref[static_cast<size_t>(total / 17) + 2 * kMaxChains + 2]);
    if (!refs)
        return KZ_ERR_OUT_OF_MEMORY;
    Chain c[kMaxChains];
    bool live[kMaxChains] = {};
    {
        int n = 0;
        for (int k = 0; k < chainsWanted; ++k) {
            const u64 s = k == 0 ? 0 : walker.startNear(total / u64(chainsWanted) * u64(k), total);
            if (s == ~u64(0) || (n && s <= c[n - 1].start))
                continue;
            Chain& ch = c[n++];
            ch.start = ch.pos = s;
            ch.begin = ch.out = refs.get() + static_cast<size_t>(s / 17) + 2 * (n - 1);
        }
        for (int k = 0; k < n; ++k) {
            c[k].limit = k + 1 < n ? c[k + 1].start : total;
            live[k] = true;
        }
        // The chains side by side while each has entries of the usual kind
        // left before its limit; the rest is walked one chain at a time below.
#if defined(__x86_64__)
        if (avx2 && n == 2)
            walker.walkAvx2<2>(c, walker.fastEnd());
        else if (avx2 && n == 1)
            walker.walkAvx2<1>(c, walker.fastEnd());
#endif
    }
    // The live chains in order, each limited by the next one's start.
    int order[kMaxChains];
    int chains = 0;
    for (int j = 0; j < kMaxChains; ++j)
        if (live[j])
            order[chains++] = j;
    for (int k = 0; k < chains; ++k)
        c[order[k]].limit = k + 1 < chains ? c[order[k + 1]].start : total;

    // Then in order: each chain finishes its stretch; the next one counts
    // only when this one lands on its start, the results of the walks then
    // being exactly those of one walk from the start. The names must
    // descend strictly across every pair of neighbours: pairs below
    // `verified` are known to.
    const char* const base = data.get();
    Ref* const r = refs.get();
    Chain cur = c[order[0]];
    bool descending = cur.sorted;
    size_t verified = cur.checked;
    for (int k = 0;;) {
        walker.run(cur);
        if (cur.end || cur.pos >= total || k + 1 >= chains)
            break;
        Chain& n = c[order[++k]];
        if (cur.pos == n.start && !n.end) {
            const size_t have = static_cast<size_t>(cur.out - r);
            const size_t moved = static_cast<size_t>(n.out - n.begin);
            descending = descending && n.sorted && strictlyDescending(base, r, verified, have);
            std::memmove(cur.out, n.begin, moved * sizeof(Ref));
            if (moved) {
                descending = descending && strictlyDescending(base, r, have, have + 1);
                verified = have + std::max<size_t>(n.checked, 1);
            }
            Chain next = n;
            next.begin = cur.begin;
            next.out = cur.out + moved;
            cur = next;
        } else {
            // This chain carries on over the next one's stretch.
            cur.limit = n.limit;
        }
    }
    if (cur.end < 0)
        return KZ_ERR_FAILED;
    size_t n = static_cast<size_t>(cur.out - r);
    descending = descending && strictlyDescending(base, r, verified, n);
    if (!descending) {
        // Sorted descending and stable, so among equal names the one listed
        // first comes first in its run: that one is kept.
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
