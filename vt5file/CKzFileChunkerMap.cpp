#include "vt5file/CKzFileChunkerMap.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
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

// From this size of map data on, the walks run on several threads (some
// 30,000 entries of usual names: a walk then costs far more than starting a
// thread).
constexpr u64 kThreadedParseBytes = u64(1) << 20;

class EntryWalker {
public:
    EntryWalker(const char* data, u64 total) : p(data), total(total) {}

    // Length of the entry's name when it is of the usual kind (up to 31
    // characters, no zero byte) and 32 bytes can be read at pos; 0 otherwise.
    __attribute__((always_inline)) inline unsigned usualName(u64 pos) const
    {
#if defined(__SSE2__)
        const char* name = p + pos;
        const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name));
        const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(name + 16));
        const __m128i bang = _mm_set1_epi8('!');
        const __m128i nul = _mm_setzero_si128();
        const unsigned bangs = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v0, bang))) |
                               static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v1, bang))) << 16;
        const unsigned zeros = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v0, nul))) |
                               static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(v1, nul))) << 16;
        // The first "!" or zero byte among the first 31; a "!" ends the name.
        const unsigned k = static_cast<unsigned>(__builtin_ctz(bangs | zeros | 0x80000000u));
        return ((bangs >> k) & (k < 31)) ? k + 1 : 0;
#else
        (void)pos;
        return 0;
#endif
    }

    // Where the fast loops may still take an entry: 32 bytes to look at and
    // the 16 after a name of up to 31 characters lie within the data.
    u64 fastEnd() const { return total >= 48 ? total - 48 : 0; }

    // Four chains side by side while each has entries of the usual kind
    // before its limit (and before end); the state lives in registers.
    void walkFour(Chain* g, u64 end) const
    {
        u64 pa = g[0].pos, pb = g[1].pos, pc = g[2].pos, pd = g[3].pos;
        u64 *oa = g[0].out, *ob = g[1].out, *oc = g[2].out, *od = g[3].out;
        const u64 la = std::min(g[0].limit, end), lb = std::min(g[1].limit, end);
        const u64 lc = std::min(g[2].limit, end), ld = std::min(g[3].limit, end);
        while (pa < la && pb < lb && pc < lc && pd < ld) {
            const unsigned na = usualName(pa), nb = usualName(pb), nc = usualName(pc), nd = usualName(pd);
            if (!(na && nb && nc && nd))
                break;
            *oa++ = pa | u64(na) << 32;
            *ob++ = pb | u64(nb) << 32;
            *oc++ = pc | u64(nc) << 32;
            *od++ = pd | u64(nd) << 32;
            pa += na + 16;
            pb += nb + 16;
            pc += nc + 16;
            pd += nd + 16;
        }
        g[0].pos = pa, g[1].pos = pb, g[2].pos = pc, g[3].pos = pd;
        g[0].out = oa, g[1].out = ob, g[2].out = oc, g[3].out = od;
    }

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
    const EntryWalker walker(data.get(), total);

    // Chains: one from 0, and for larger maps a few more spread over the
    // data: four walked side by side on this thread, or, for a large map,
    // four groups of four, each group on its own thread, which first reads
    // its part of the data when there is a source.
    constexpr int kGroup = 4;
    constexpr int kMaxChains = 8 * kGroup;
    constexpr int kHelpers = 3;
    const bool threads = total >= kThreadedParseBytes && KZ_GetProcessorCount() > 1;
    const int groups = threads ? kMaxChains / kGroup : 1;
    const int perGroup = total < 8192 ? 1 : kGroup;
    if (source && !threads) {
        if (total && !source->read(data.get(), 0, total))
            return KZ_ERR_FAILED;
        source = nullptr;
    }
    // Chain j keeps its references from index start / 17 + 2 j on: every
    // entry takes at least 17 bytes, and a chain may run one entry past its
    // limit, so no chain reaches the next one's first index.
    std::unique_ptr<Ref[]> refs(new (std::nothrow) Ref[static_cast<size_t>(total / 17) + 2 * kMaxChains + 2]);
    if (!refs)
        return KZ_ERR_OUT_OF_MEMORY;
    Chain c[kMaxChains];
    bool live[kMaxChains] = {};
    bool failed[kMaxChains / kGroup] = {};
    // A group's chains start within its part [from, to) and, while the
    // threads run, stop short of its end by more than the longest entry, so
    // that no thread looks at bytes another one is still reading; what is
    // left near the ends is walked afterwards.
    constexpr u64 kMargin = 2 * (kMaxName + 1 + 16);
    char* const bytes = data.get();
    auto runGroup = [&, bytes, total, groups, perGroup](int g) {
        const u64 from = total / u64(groups) * u64(g);
        const u64 to = g + 1 == groups ? total : total / u64(groups) * u64(g + 1);
        if (source && !source->read(bytes + from, from, to - from)) {
            failed[g] = true;
            return;
        }
        const u64 end = g + 1 == groups ? total : to - kMargin;
        Chain* const first = c + g * kGroup;
        int n = 0;
        for (int k = 0; k < perGroup; ++k) {
            const u64 s = g == 0 && k == 0 ? 0 : walker.startNear(from + (to - from) / u64(perGroup) * u64(k), end);
            if (s == ~u64(0) || (n && s <= first[n - 1].start))
                continue;
            Chain& ch = first[n++];
            ch.start = ch.pos = s;
            ch.begin = ch.out = refs.get() + static_cast<size_t>(s / 17) + 2 * (g * kGroup + n - 1);
        }
        for (int k = 0; k < n; ++k) {
            first[k].limit = k + 1 < n ? first[k + 1].start : end;
            live[g * kGroup + k] = true;
        }
        // Four chains side by side while each has entries of the usual kind
        // left before its limit; on a thread, then each on its own up to its
        // limit, and the order of what it found checked right there.
        if (n == kGroup)
            walker.walkFour(first, std::min(end, walker.fastEnd()));
        if (groups > 1) {
            for (int k = 0; k < n; ++k) {
                walker.run(first[k]);
                first[k].checked = static_cast<size_t>(first[k].out - first[k].begin);
                first[k].sorted = strictlyDescending(bytes, first[k].begin, 0, first[k].checked);
            }
        }
    };
    if (groups > 1) {
        // Groups are taken in turn by this thread and by helper threads
        // started for the purpose; this thread takes whatever is left, so a
        // helper that the system starts late simply finds nothing to do and
        // is never waited for. What a helper still touches after that lives
        // in the shared job.
        struct Job {
            std::atomic<int> next{0};
            std::atomic<int> pending{0}; // groups not finished yet
            std::atomic<int> users{1};   // threads holding the job
            int groups = 0;
            void (*run)(void*, int) = nullptr;
            void* context = nullptr;
            std::mutex lock;
            std::condition_variable done;
            void work()
            {
                for (int g; (g = next.fetch_add(1)) < groups;) {
                    run(context, g);
                    if (pending.fetch_sub(1) == 1) {
                        std::lock_guard<std::mutex> hold(lock);
                        done.notify_all();
                    }
                }
            }
            void release()
            {
                if (users.fetch_sub(1) == 1)
                    delete this;
            }
        };
        if (Job* job = new (std::nothrow) Job) {
            job->groups = groups;
            job->pending = groups;
            job->run = [](void* context, int g) { (*static_cast<decltype(runGroup)*>(context))(g); };
            job->context = &runGroup;
            const int helpers = std::min(kHelpers, KZ_GetProcessorCount() - 1);
            for (int k = 0; k < helpers; ++k) {
                job->users.fetch_add(1);
                try {
                    std::thread([job] {
                        job->work();
                        job->release();
                    }).detach();
                } catch (...) {
                    job->users.fetch_sub(1);
                    break;
                }
            }
            job->work();
            {
                std::unique_lock<std::mutex> hold(job->lock);
                job->done.wait(hold, [job] { return job->pending.load() == 0; });
            }
            job->release();
        } else {
            for (int g = 0; g < groups; ++g)
                runGroup(g);
        }
        for (int g = 0; g < groups; ++g)
            if (failed[g])
                return KZ_ERR_FAILED;
    } else {
        runGroup(0);
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
