// Shared machinery of the composition kernels (not installed).
//
// A row is composed in chunks of kChunk pixels: the colours of the first
// visible component are gathered into an interleaved blue, green, red buffer,
// every further visible component's colours into a second buffer that is
// blended into the first by a contiguous loop the compiler vectorises, and
// the chunk is copied to the destination row. Full and partial compositions
// give the same per-pixel result this way (S(0, x) = x), in the same order of
// blends. The screen blend is computed exactly instead of looked up, which is
// what lets it vectorise. Marking overwrites the marked pixels of a chunk
// before it is copied out.
//
// Sources that include this start with
//   #pragma GCC optimize("O3", "fp-contract=off")
// before any include.
#pragma once

#include "gnr_picture/KzKernelsCompose.h"
#include "gnr_system/CKzRangeMask.h"

#include <algorithm>
#include <cmath>

namespace kzc {

constexpr size_t kChunk = 256;
// Marker colours the N marking members hold per kind.
constexpr uint32_t kMaxMarked = 192;

// S(a, b) = a + b - floor(a b / 255) for bytes; floor(x / 255) for
// x <= 65025 is (x + (x >> 8) + 1) >> 8, all in 16 bits.
KZ_ALWAYS_INLINE uint8_t Screen(unsigned a, unsigned b)
{
    const uint16_t x = uint16_t(a * b);
    const uint16_t q = uint16_t(uint16_t(x + uint16_t(x >> 8) + 1u) >> 8);
    return uint8_t(a + b - q);
}

struct BlendS {
    KZ_ALWAYS_INLINE void operator()(uint8_t* __restrict acc, const uint8_t* __restrict c, size_t n) const
    {
        for (size_t j = 0; j < n; ++j) {
            const uint16_t a = acc[j], b = c[j];
            const uint16_t x = uint16_t(a * b);
            const uint16_t q = uint16_t(uint16_t(x + uint16_t(x >> 8) + 1u) >> 8);
            acc[j] = uint8_t(a + b - q);
        }
    }
};

// B(a, b) = a + b - floor(a b / M), M = 2^bits - 1, kept as a 16-bit word.
// The quotient is taken in double precision: for a product below 2^32 and
// M <= 65535 the rounded quotient never reaches the next integer, so the
// truncation is the exact floor (and vectorises, unlike an integer divide).
struct BlendB {
    double m;
    KZ_ALWAYS_INLINE void operator()(uint16_t* __restrict acc, const uint16_t* __restrict c, size_t n) const
    {
        for (size_t j = 0; j < n; ++j) {
            const uint32_t a = acc[j], b = c[j];
            const uint32_t q = uint32_t(double(a * b) / m);
            acc[j] = uint16_t(a + b - q);
        }
    }
};

// R(a, b) = (a + b) + (0.5 - sqrt(a b)) in double precision, truncated.
// The value lies in 0 .. max(a, b) + 0.5, so the conversion is in range.
struct BlendR {
    KZ_ALWAYS_INLINE void operator()(uint16_t* __restrict acc, const uint16_t* __restrict c, size_t n) const
    {
        for (size_t j = 0; j < n; ++j) {
            const double a = acc[j], b = c[j];
            const double r = (a + b) + (0.5 - std::sqrt(a * b));
            acc[j] = uint16_t(int32_t(r));
        }
    }
};

inline bool MaskBit(const unsigned long* words, size_t k)
{
    return (words[k >> 6] >> (k & 63)) & 1u;
}

// Which components take part: all (full composition), or those whose mask
// bit is set. A null mask counts as full.
struct Visibility {
    const unsigned long* words = nullptr;
    bool full = true;
    KZ_ALWAYS_INLINE bool operator()(size_t k) const { return full || MaskBit(words, k); }
};

// Members for a fixed count n (2..6): the low n bits of the first word decide.
inline Visibility FixedVisibility(const unsigned long* mask, uint32_t n)
{
    Visibility v;
    if (!mask)
        return v;
    const unsigned long low = (1ul << n) - 1;
    v.words = mask;
    v.full = (mask[0] & low) == low;
    return v;
}

// Members for any count: the first n bits, tested once per call.
inline Visibility CountVisibility(const unsigned long* mask, uint32_t n)
{
    Visibility v;
    if (!mask)
        return v;
    v.words = mask;
    v.full = CKzRangeMask::IsMaskFull(mask, n);
    return v;
}

// One call's work.
template <class TS, class TO>
struct Job {
    TO* dst = nullptr;
    uint32_t dstStride = 0;
    const TS* src = nullptr;
    uint32_t srcStride = 0;
    size_t n = 0;  // components per source pixel
    uint32_t width = 0, count = 0;
    const TO* const* const* tables = nullptr;  // one row-pointer LUT per component
    uint32_t idxMask = 0xFFFF;                  // applied to every sample that indexes a table
    Visibility vis;
    // Packed 8-bit colours (blue | green << 8 | red << 16) per component,
    // null where the row-pointer LUT is read instead.
    const uint32_t* const* flat = nullptr;
    // The same colours as three 256-byte planes (blue, green, red) per
    // component, for the byte-permute lookups of the AVX-512 path.
    const uint8_t* const* planes = nullptr;
    // Marking (8-bit outputs only): the visible components in ascending
    // order, marker colours per component (null: that kind is off) and the
    // over-exposure threshold.
    const uint32_t* list = nullptr;
    size_t nList = 0;
    const uint8_t (*over)[3] = nullptr;
    const uint8_t (*under)[3] = nullptr;
    uint32_t top = 0;
};

template <class TS, class TO>
KZ_ALWAYS_INLINE void GatherRows(TO* __restrict out, const TS* __restrict s, size_t stride, size_t cnt,
                                 const TO* const* rows, uint32_t idxMask)
{
    for (size_t i = 0; i < cnt; ++i) {
        const TO* p = rows[s[i * stride] & idxMask];
        out[3 * i] = p[0];
        out[3 * i + 1] = p[1];
        out[3 * i + 2] = p[2];
    }
}

// Four-byte stores that overlap the next pixel; out has one byte of slack.
KZ_ALWAYS_INLINE void GatherFlat(uint8_t* __restrict out, const uint8_t* __restrict s, size_t stride, size_t cnt,
                                 const uint32_t* __restrict flat)
{
    for (size_t i = 0; i < cnt; ++i) {
        const uint32_t v = flat[s[i * stride]];
        std::memcpy(out + 3 * i, &v, 4);
    }
}

// Gathers the colours of component k of cnt pixels (n samples a pixel, n 1
// or 3) for whole blocks of 64 pixels with byte permutes (AVX-512 VBMI);
// returns the pixels done (a multiple of 64), the caller does the rest.
size_t GatherPlanesAvx512(uint8_t* out, const uint8_t* s, size_t n, size_t cnt, const uint8_t* planes);

template <class TS>
KZ_ALWAYS_INLINE void MarkChunk(uint8_t* acc, const TS* sc, size_t cnt, const Job<TS, uint8_t>& job)
{
    // Fields held in locals: the stores into acc (bytes) may alias anything.
    const size_t n = job.n, nList = job.nList;
    const uint32_t* const list = job.list;
    const uint8_t (*const under)[3] = job.under;
    const uint8_t (*const over)[3] = job.over;
    const uint32_t top = job.top;
    // The marker rule for pixel i: the first visible component at 0 or at
    // the top decides.
    auto markPixel = [&](size_t i) KZ_INLINE_LAMBDA {
        const TS* p = sc + i * n;
        for (size_t j = 0; j < nList; ++j) {
            const uint32_t k = list[j];
            const uint32_t v = p[k];
            if (under && v == 0) {
                std::memcpy(acc + 3 * i, under[k], 3);
                return;
            }
            if (over && v >= top) {
                std::memcpy(acc + 3 * i, over[k], 3);
                return;
            }
        }
    };
    if constexpr (sizeof(TS) == 1) {
        // Eight samples at a time: a byte is flagged when it may be 0 (under)
        // or 255 (over); every such byte is flagged (borrows can flag a few
        // more), and only the pixels of flagged bytes take the rule.
        constexpr uint64_t ones = 0x0101010101010101ull, highs = 0x8080808080808080ull;
        const size_t total = cnt * n;
        size_t last = SIZE_MAX;
        size_t j = 0;
        for (; j + 8 <= total; j += 8) {
            uint64_t w;
            std::memcpy(&w, sc + j, 8);
            uint64_t hits = 0;
            if (under)
                hits |= (w - ones) & ~w & highs;
            if (over) {
                const uint64_t nw = ~w;
                hits |= (nw - ones) & ~nw & highs;
            }
            while (hits) {
                const size_t i = (j + size_t(__builtin_ctzll(hits)) / 8) / n;
                if (i != last) {
                    markPixel(i);
                    last = i;
                }
                hits &= hits - 1;
            }
        }
        for (; j < total; ++j) {
            const uint32_t v = sc[j];
            if ((under && v == 0) || (over && v >= top)) {
                const size_t i = j / n;
                if (i != last) {
                    markPixel(i);
                    last = i;
                }
            }
        }
    } else {
        // Most pixels meet no test: the smallest and largest visible sample
        // decide that without a branch per component.
        const uint32_t highest = over ? top : 0xFFFFFFFFu;
        for (size_t i = 0; i < cnt; ++i) {
            const TS* p = sc + i * n;
            uint32_t mn = 0xFFFFFFFFu, mx = 0;
            for (size_t j = 0; j < nList; ++j) {
                const uint32_t v = p[list[j]];
                mn = std::min(mn, v);
                mx = std::max(mx, v);
            }
            if ((under && mn == 0) || (over && mx >= highest))
                markPixel(i);
        }
    }
}

template <class TS, class TO, class Blend, bool Mark>
KZ_ALWAYS_INLINE void ComposeRows(const Job<TS, TO>& job, const Blend& blend, KzIsa isa)
{
    const size_t rows = KzRowCount(job.width, job.count);
    const size_t n = job.n, width = job.width;
    alignas(64) TO acc[3 * kChunk + 4];
    alignas(64) TO tmp[3 * kChunk + 4];
    for (size_t r = 0; r < rows; ++r) {
        const TS* s = KzRow<TS>(job.src, job.srcStride, r);
        TO* d = KzRow<TO>(job.dst, job.dstStride, r);
        for (size_t x0 = 0; x0 < width; x0 += kChunk) {
            const size_t cnt = std::min(kChunk, width - x0);
            const TS* sc = s + x0 * n;
            bool any = false;
            for (size_t k = 0; k < n; ++k) {
                if (!job.vis(k))
                    continue;
                TO* out = any ? tmp : acc;
                bool done = false;
                if constexpr (sizeof(TS) == 1 && sizeof(TO) == 1) {
                    if (job.flat && job.flat[k]) {
                        size_t head = 0;
                        if (isa == KzIsa::Avx512 && job.planes && (n == 1 || n == 3))
                            head = GatherPlanesAvx512(out, sc + k, n, cnt, job.planes[k]);
                        GatherFlat(out + 3 * head, sc + k + head * n, n, cnt - head, job.flat[k]);
                        done = true;
                    }
                }
                if (!done)
                    GatherRows(out, sc + k, n, cnt, job.tables[k], job.idxMask);
                if (any)
                    blend(acc, tmp, 3 * cnt);
                any = true;
            }
            if (!any)
                std::memset(acc, 0, 3 * cnt * sizeof(TO));
            if constexpr (Mark)
                MarkChunk(acc, sc, cnt, job);
            std::memcpy(d + 3 * x0, acc, 3 * cnt * sizeof(TO));
        }
    }
}

// Runs the composition for the processor's instruction set. Instantiated once
// per sample type, output type, blend and marking, and shared by all members.
template <class TS, class TO, class Blend, bool Mark>
__attribute__((noinline)) void Compose(const Job<TS, TO>& job, const Blend& blend)
{
    KzRunIsa([&](KzIsa isa) KZ_INLINE_LAMBDA { ComposeRows<TS, TO, Blend, Mark>(job, blend, isa); });
}

// Marker colours of every component 0 .. n - 1 from one record: its three
// bytes, or with a non-zero flag the complement of the component's entry for
// the top value.
inline void MarkerColours(uint8_t (*out)[3], const SKzLutExpColor* rec, size_t n, const uint8_t* const* const* tables,
                          size_t topIndex)
{
    for (size_t k = 0; k < n; ++k) {
        if (rec->flag) {
            const uint8_t* p = tables[k][topIndex];
            out[k][0] = uint8_t(255 - p[0]);
            out[k][1] = uint8_t(255 - p[1]);
            out[k][2] = uint8_t(255 - p[2]);
        } else {
            out[k][0] = rec->blue;
            out[k][1] = rec->green;
            out[k][2] = rec->red;
        }
    }
}

// h of the add composition: gain * 255 + 0.5 truncated by the x86 rule (a
// value beyond the int32 range gives 0x80000000, read unsigned: saturation);
// a negative or NaN gain gives 0.
inline uint32_t AddGain(double gain)
{
    if (!(gain >= 0))
        return 0;
    return uint32_t(KzRoundToInt32(gain * 255.0));
}

// Add composition of 8-bit colours (Nx8 and Nx16 add members). over: the
// three bytes painted where a listed sample is at or above top, or null.
template <class TS>
int AddCompose(uint8_t* dst, uint32_t dstStride, const TS* src, uint32_t srcStride, size_t n, KzCompLut8 table,
               double gain, const unsigned long* mask, const unsigned long* addMask, const uint8_t* over,
               uint32_t idxMask, uint32_t top, uint32_t width, uint32_t count)
{
    KzScratch scratch;
    uint32_t* addList = scratch.Get<uint32_t>(n ? n : 1);
    uint32_t* otherList = scratch.Get<uint32_t>(n ? n : 1);
    if (!addList || !otherList)
        return KZ_ERR_OUT_OF_MEMORY;
    const Visibility vis = CountVisibility(mask, uint32_t(n));
    size_t nAdd = 0, nOther = 0;
    for (size_t k = 0; k < n; ++k) {
        if (!vis(k))
            continue;
        if (addMask && MaskBit(addMask, k))
            addList[nAdd++] = uint32_t(k);
        else
            otherList[nOther++] = uint32_t(k);
    }
    if (nAdd + nOther == 0)
        return KZ_OK;
    const uint64_t h = AddGain(gain);
    uint8_t divided[256];
    for (unsigned l = 0; l < 256; ++l)
        divided[l] = uint8_t(uint64_t(l) / (uint64_t(nOther) + 1));
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r) {
        const TS* s = KzRow<TS>(src, srcStride, r);
        uint8_t* d = KzRow<uint8_t>(dst, dstStride, r);
        for (size_t x = 0; x < width; ++x) {
            const TS* p = s + x * n;
            uint8_t* o = d + 3 * x;
            if (over) {
                bool hit = false;
                for (size_t j = 0; j < nAdd && !hit; ++j)
                    hit = p[addList[j]] >= top;
                for (size_t j = 0; j < nOther && !hit; ++j)
                    hit = p[otherList[j]] >= top;
                if (hit) {
                    o[0] = over[0];
                    o[1] = over[1];
                    o[2] = over[2];
                    continue;
                }
            }
            uint64_t sum[3] = {0, 0, 0};
            for (size_t j = 0; j < nAdd; ++j) {
                const uint32_t k = addList[j];
                const uint8_t* c = table[k][p[k] & idxMask];
                sum[0] += c[0];
                sum[1] += c[1];
                sum[2] += c[2];
            }
            uint32_t out[3];
            for (int c = 0; c < 3; ++c) {
                uint64_t a = 0;
                if (nAdd) {
                    uint64_t prod, q;
                    if (!__builtin_mul_overflow(h, sum[c], &prod))
                        q = prod / nAdd;
                    else
                        q = uint64_t((unsigned __int128)h * sum[c] / nAdd);
                    a = std::min<uint64_t>(255, q / 255);
                }
                out[c] = nOther ? divided[a] : uint32_t(a);
            }
            for (size_t j = 0; j < nOther; ++j) {
                const uint32_t k = otherList[j];
                const uint8_t* c = table[k][p[k] & idxMask];
                out[0] += divided[c[0]];
                out[1] += divided[c[1]];
                out[2] += divided[c[2]];
            }
            o[0] = uint8_t(out[0]);
            o[1] = uint8_t(out[1]);
            o[2] = uint8_t(out[2]);
        }
    }
    return KZ_OK;
}

// Packed colours of 8-bit tables for 8-bit sources (one load and one store
// per pixel instead of a pointer chase and three bytes). Built once per call
// when every table serves at least 256 pixels; components that share one
// row-pointer LUT share one packed table. Without it the row-pointer LUTs are
// read, with the same result.
struct Flat8 {
    KzScratch scratch;
    const uint32_t* const* ptrs = nullptr;
    const uint8_t* const* planePtrs = nullptr;

    void Build(KzCompLut8 tables, size_t n, const Visibility& vis, uint32_t width, uint32_t count)
    {
        const size_t pixels = KzRowCount(width, count) * size_t(width);
        if (n == 0 || n > 1024 || pixels < 256 * n)
            return;
        // Per component: 256 packed colours (1 KiB), three planes (768
        // bytes), then the two pointer arrays.
        uint64_t* base = scratch.Get<uint64_t>(128 * n + 96 * n + 2 * n);
        if (!base)
            return;
        uint32_t* block = reinterpret_cast<uint32_t*>(base);
        uint8_t* planeBlock = reinterpret_cast<uint8_t*>(base + 128 * n);
        const uint32_t** p = reinterpret_cast<const uint32_t**>(base + 224 * n);
        const uint8_t** pl = reinterpret_cast<const uint8_t**>(base + 225 * n);
        const uint8_t* const* prev = nullptr;
        const uint32_t* prevFlat = nullptr;
        const uint8_t* prevPlanes = nullptr;
        for (size_t k = 0; k < n; ++k) {
            p[k] = nullptr;
            pl[k] = nullptr;
            if (!vis(k))
                continue;
            if (tables[k] == prev) {
                p[k] = prevFlat;
                pl[k] = prevPlanes;
                continue;
            }
            uint32_t* f = block + 256 * k;
            uint8_t* planes = planeBlock + 768 * k;
            for (unsigned v = 0; v < 256; ++v) {
                const uint8_t* e = tables[k][v];
                f[v] = uint32_t(e[0]) | uint32_t(e[1]) << 8 | uint32_t(e[2]) << 16;
                planes[v] = e[0];
                planes[256 + v] = e[1];
                planes[512 + v] = e[2];
            }
            p[k] = f;
            pl[k] = planes;
            prev = tables[k];
            prevFlat = f;
            prevPlanes = planes;
        }
        ptrs = p;
        planePtrs = pl;
    }
};

// Composition into 8-bit true colour with optional marking, for 8-bit (TS =
// uint8_t) and 9..16-bit sources. idxMask limits every table index, top is
// the over-exposure threshold (raw sample at or above it) and top & idxMask
// the row whose complement a flagged record paints. nComps 0 writes nothing;
// marking more than kMaxMarked components gives -2 before writing.
template <class TS>
int Run3x8(uint8_t* dst, uint32_t dstStride, const TS* src, uint32_t srcStride, size_t n, KzCompLut8 tables,
           Visibility vis, const SKzLutExpColor* over, const SKzLutExpColor* under, uint32_t idxMask, uint32_t top,
           uint32_t width, uint32_t count)
{
    if (n == 0)
        return KZ_OK;
    if ((over || under) && n > kMaxMarked)
        return KZ_ERR_NOT_SUPPORTED;
    Job<TS, uint8_t> job;
    job.dst = dst;
    job.dstStride = dstStride;
    job.src = src;
    job.srcStride = srcStride;
    job.n = n;
    job.width = width;
    job.count = count;
    job.tables = tables;
    job.idxMask = idxMask;
    job.vis = vis;
    Flat8 flat;
    if constexpr (sizeof(TS) == 1) {
        flat.Build(tables, n, vis, width, count);
        job.flat = flat.ptrs;
        job.planes = flat.planePtrs;
    }
    if (!over && !under) {
        Compose<TS, uint8_t, BlendS, false>(job, BlendS{});
        return KZ_OK;
    }
    if (KzRowCount(width, count) == 0)
        return KZ_OK;
    uint8_t overColours[kMaxMarked][3], underColours[kMaxMarked][3];
    uint32_t list[kMaxMarked];
    size_t nList = 0;
    for (size_t k = 0; k < n; ++k)
        if (vis(k))
            list[nList++] = uint32_t(k);
    const size_t topIndex = top & idxMask;
    if (over) {
        MarkerColours(overColours, over, n, tables, topIndex);
        job.over = overColours;
    }
    if (under) {
        MarkerColours(underColours, under, n, tables, topIndex);
        job.under = underColours;
    }
    job.list = list;
    job.nList = nList;
    job.top = top;
    Compose<TS, uint8_t, BlendS, true>(job, BlendS{});
    return KZ_OK;
}

// Composition into three 16-bit words per pixel.
template <class Blend>
int Run3x16(uint16_t* dst, uint32_t dstStride, const uint16_t* src, uint32_t srcStride, size_t n, KzCompLut16 tables,
            Visibility vis, uint32_t idxMask, const Blend& blend, uint32_t width, uint32_t count)
{
    if (n == 0)
        return KZ_OK;
    Job<uint16_t, uint16_t> job;
    job.dst = dst;
    job.dstStride = dstStride;
    job.src = src;
    job.srcStride = srcStride;
    job.n = n;
    job.width = width;
    job.count = count;
    job.tables = tables;
    job.idxMask = idxMask;
    job.vis = vis;
    Compose<uint16_t, uint16_t, Blend, false>(job, blend);
    return KZ_OK;
}

}  // namespace kzc
