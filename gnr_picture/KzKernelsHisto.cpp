// Histograms (component, intensity, reduced-depth, masked, joint, addition)
// and histogram repair (comb test, gap filling).
#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/KzKernelsC.h"

#include <cmath>

namespace {

// How a sample becomes a counter index: (v & mask) >> shift.
template <class TS>
struct Index {
    TS mask;
    unsigned shift;
    // Widened first: a 32-bit sample may be shifted by 32 (histogram bits 0).
    KZ_ALWAYS_INLINE size_t operator()(TS v) const { return size_t(uint64_t(TS(v & mask)) >> shift); }
};

struct Grid {
    const void* src;
    uint32_t rowBytes;
    const void* mask;  // null: every pixel counts
    uint32_t maskRowBytes;
    size_t pixStep, rowStep;
    uint32_t width;
    size_t rows;
};

// Counts one picture. C is the fixed component count (0: n at run time); TM
// the mask element type (unused without a mask); with `inten` the integer
// mean of the indexes is counted too.
template <class CT, class TS, unsigned C, class TM>
KZ_ALWAYS_INLINE void CountGeneric(CT* const* arrays, CT* inten, size_t n, const Grid& g, Index<TS> ix)
{
    const size_t nc = C ? C : n;
    CT* a[C ? C : 1];
    if constexpr (C != 0)
        for (unsigned k = 0; k < C; ++k)
            a[k] = arrays[k];
    for (size_t r = 0; r < g.rows; r += g.rowStep) {
        const TS* s = KzRow<TS>(g.src, g.rowBytes, r);
        const TM* m = g.mask ? KzRow<TM>(g.mask, g.maskRowBytes, r) : nullptr;
        for (size_t x = 0; x < g.width; x += g.pixStep) {
            if (m && m[x] == 0)
                continue;
            const TS* p = s + x * nc;
            uint32_t sum = 0;
            if constexpr (C != 0) {
                for (unsigned k = 0; k < C; ++k) {
                    const size_t v = ix(p[k]);
                    ++a[k][v];
                    sum += uint32_t(v);
                }
            } else {
                for (size_t k = 0; k < nc; ++k) {
                    const size_t v = ix(p[k]);
                    ++arrays[k][v];
                    sum += uint32_t(v);
                }
            }
            if (inten)
                ++inten[sum / uint32_t(nc)];
        }
    }
}

// Bytes, 1, 3 or 4 components, no mask: private sub-tables, added into the
// caller's counters (at the counter width, so the counts wrap as direct
// counting would) at the end and whenever a sub-table counter could otherwise
// overflow. Counting is bound by the stores of the increments. With 3 or 4
// components the tables are 16-bit (8 cache lines each): about 10-18% faster
// than 32-bit ones on random pictures and 25-35% on flat ones. One component
// keeps 32-bit tables: its runs of one value make long increment chains on
// one counter, and with 16-bit counters those ran about 5 times slower in
// some processes (it depended on where the stack landed), never with 32-bit.
// Without an intensity table two sets alternate between pixels, which breaks
// the store chains of repeated values; with one (three or four components,
// the integer mean of each pixel's samples counted too) a single set measured
// faster: the extra table already separates the stores.
template <class CT, unsigned C, bool Inten = false>
void Count8Private(CT* const* arrays, const Grid& g, CT* inten = nullptr)
{
    constexpr unsigned kSets = Inten ? 1 : 2;
    constexpr unsigned kTabs = Inten ? C + 1 : C;
    using LT = std::conditional_t<C == 1, uint32_t, uint16_t>;
    // Pixels counted between two flushes: a sub-table counter takes at most
    // one increment per pixel.
    constexpr size_t kRoom = std::numeric_limits<LT>::max();
    alignas(64) LT loc[kSets][kTabs][256];
    std::memset(loc, 0, sizeof(loc));
    auto flush = [&] {
        for (unsigned k = 0; k < kTabs; ++k) {
            CT* to = k < C ? arrays[k] : inten;
            for (size_t v = 0; v < 256; ++v) {
                CT t = 0;
                for (unsigned j = 0; j < kSets; ++j)
                    t = CT(t + loc[j][k][v]);
                to[v] = CT(to[v] + t);
            }
        }
        std::memset(loc, 0, sizeof(loc));
    };
    // Locals, so the counting loop keeps them in registers.
    const size_t width = g.width, rows = g.rows, pixStep = g.pixStep, rowStep = g.rowStep;
    size_t pending = 0;  // pixels counted since the last flush
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        for (size_t r = 0; r < rows; r += rowStep) {
            const uint8_t* s = KzRow<uint8_t>(g.src, g.rowBytes, r);
            size_t x = 0;
            while (x < width) {
                if (pending == kRoom) {
                    flush();
                    pending = 0;
                }
                // Pixels x, x + pixStep, ... below `end`: at most the room left.
                const size_t left = (width - x - 1) / pixStep + 1;
                const size_t take = left < kRoom - pending ? left : kRoom - pending;
                const size_t end = take == left ? width : x + take * pixStep;
                pending += take;
                if constexpr (C == 1) {
                    // Eight samples per 64-bit load, two loads a step, one to
                    // each table.
                    if (pixStep == 1) {
                        for (; x + 16 <= end; x += 16) {
                            uint64_t w, v;
                            std::memcpy(&w, s + x, 8);
                            std::memcpy(&v, s + x + 8, 8);
                            for (unsigned b = 0; b < 64; b += 8) {
                                ++loc[0][0][(w >> b) & 0xFF];
                                ++loc[kSets - 1][0][(v >> b) & 0xFF];
                            }
                        }
                    }
                }
                // One pixel into set j. The samples are read before any
                // counter is written, so the loads of a pixel do not wait
                // for its stores.
                auto pixel = [&](const uint8_t* p, unsigned j) KZ_INLINE_LAMBDA {
                    uint32_t v[C], sum = 0;
                    for (unsigned k = 0; k < C; ++k)
                        v[k] = p[k];
                    for (unsigned k = 0; k < C; ++k) {
                        ++loc[j][k][v[k]];
                        sum += v[k];
                    }
                    if constexpr (Inten)
                        ++loc[j][C][sum / C];
                };
                // Two pixels a step: a one-pixel loop body ran up to 20%
                // slower at some code addresses (instruction fetch).
                if (pixStep == 1) {
                    for (; x + 2 <= end; x += 2)
                        for (unsigned j = 0; j < 2; ++j)
                            pixel(s + (x + j) * C, j % kSets);
                }
                for (; x < end; x += pixStep)
                    pixel(s + x * C, 0);
            }
        }
    });
    flush();
}

// Dispatch on the counter width (4 or 8: else -2), once per call.
template <class TS, unsigned C, class TM = uint8_t>
int Count(void* const* set, void* inten, uint32_t counterWidth, size_t n, Grid g, Index<TS> ix, bool private8)
{
    if (g.rows == 0)
        return KZ_OK;
    if (counterWidth != 4 && counterWidth != 8)
        return KZ_ERR_NOT_SUPPORTED;
    if (inten && (C ? C : n) == 0)
        return KZ_ERR_INVALID_ARG;
    if (g.pixStep == 0)
        g.pixStep = 1;
    if (g.rowStep == 0)
        g.rowStep = 1;
    auto run = [&](auto zero) {
        using CT = decltype(zero);
        CT* const* arrays = reinterpret_cast<CT* const*>(set);
        if constexpr (sizeof(TS) == 1 && (C == 1 || C == 3 || C == 4)) {
            if (private8 && !inten && !g.mask) {
                Count8Private<CT, C>(arrays, g);
                return;
            }
            if constexpr (C != 1) {
                if (private8 && inten && !g.mask) {
                    Count8Private<CT, C, true>(arrays, g, static_cast<CT*>(inten));
                    return;
                }
            }
        }
        CountGeneric<CT, TS, C, TM>(arrays, static_cast<CT*>(inten), n, g, ix);
    };
    if (counterWidth == 4)
        run(uint32_t(0));
    else
        run(uint64_t(0));
    return KZ_OK;
}

Grid MakeGrid(const void* src, uint32_t rowBytes, const void* mask, uint32_t maskRowBytes, uint32_t pixStep,
              uint32_t rowStep, uint32_t width, uint32_t count)
{
    return Grid{src, rowBytes, mask, maskRowBytes, pixStep, rowStep, width, KzRowCount(width, count)};
}

constexpr Index<uint8_t> kIdx8{0xFF, 0};
Index<uint16_t> Idx16(uint32_t bits) { return Index<uint16_t>{KzDepthLimit<uint16_t>(bits), 0}; }

// Reduced depth: -4 when histBits exceeds srcBits or srcBits the container.
template <class TS>
int CountDiv(void* const* set, uint32_t cw, uint32_t histBits, const void* src, size_t n, uint32_t rowBytes,
             uint32_t pixStep, uint32_t rowStep, uint32_t srcBits, uint32_t width, uint32_t count, unsigned fixedC)
{
    Grid g = MakeGrid(src, rowBytes, nullptr, 0, pixStep, rowStep, width, count);
    if (g.rows == 0)
        return KZ_OK;
    if (cw != 4 && cw != 8)
        return KZ_ERR_NOT_SUPPORTED;
    if (histBits > srcBits || srcBits > sizeof(TS) * 8)
        return KZ_ERR_INVALID_ARG;
    const Index<TS> ix{KzDepthLimit<TS>(srcBits), srcBits - histBits};
    if (fixedC == 1)
        return Count<TS, 1>(set, nullptr, cw, 1, g, ix, false);
    if (fixedC == 3)
        return Count<TS, 3>(set, nullptr, cw, 3, g, ix, false);
    return Count<TS, 0>(set, nullptr, cw, n, g, ix, false);
}

} // namespace

// ---------------------------------------------------------------------------
// Component histograms
// ---------------------------------------------------------------------------

KZ_CAPI int gethistogram_1x8(void* hist, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,
                             kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 width, kz_uint32 count)
{
    void* set[1] = {hist};
    return Count<uint8_t, 1>(set, nullptr, counterWidth, 1,
                             MakeGrid(src, srcRowBytes, nullptr, 0, pixStep, rowStep, width, count), kIdx8, true);
}
#define KZC_HFIX(name, C)                                                                                   \
    KZ_CAPI int name(void* const* set, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,       \
                     kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 width, kz_uint32 count)                 \
    {                                                                                                       \
        return Count<uint8_t, C>(set, nullptr, counterWidth, C,                                             \
                                 MakeGrid(src, srcRowBytes, nullptr, 0, pixStep, rowStep, width, count), kIdx8, true); \
    }
KZC_HFIX(gethistogram_3x8, 3)
KZC_HFIX(gethistogram_4x8, 4)
#undef KZC_HFIX
KZ_CAPI int gethistogram_Nx8(void* const* set, kz_uint32 counterWidth, const void* src, kz_uint32 nComp,
                             kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 width,
                             kz_uint32 count)
{
    return Count<uint8_t, 0>(set, nullptr, counterWidth, nComp,
                             MakeGrid(src, srcRowBytes, nullptr, 0, pixStep, rowStep, width, count), kIdx8, false);
}
KZ_CAPI int gethistogram_1x16(void* hist, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,
                              kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 bits, kz_uint32 width,
                              kz_uint32 count)
{
    void* set[1] = {hist};
    return Count<uint16_t, 1>(set, nullptr, counterWidth, 1,
                              MakeGrid(src, srcRowBytes, nullptr, 0, pixStep, rowStep, width, count), Idx16(bits),
                              false);
}
#define KZC_HFIX16(name, C)                                                                                 \
    KZ_CAPI int name(void* const* set, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,       \
                     kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 bits, kz_uint32 width, kz_uint32 count) \
    {                                                                                                       \
        return Count<uint16_t, C>(set, nullptr, counterWidth, C,                                            \
                                  MakeGrid(src, srcRowBytes, nullptr, 0, pixStep, rowStep, width, count),   \
                                  Idx16(bits), false);                                                      \
    }
KZC_HFIX16(gethistogram_3x16, 3)
KZC_HFIX16(gethistogram_4x16, 4)
#undef KZC_HFIX16
KZ_CAPI int gethistogram_Nx16(void* const* set, kz_uint32 counterWidth, const void* src, kz_uint32 nComp,
                              kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 bits,
                              kz_uint32 width, kz_uint32 count)
{
    return Count<uint16_t, 0>(set, nullptr, counterWidth, nComp,
                              MakeGrid(src, srcRowBytes, nullptr, 0, pixStep, rowStep, width, count), Idx16(bits),
                              false);
}

// ---------------------------------------------------------------------------
// Component and intensity histograms
// ---------------------------------------------------------------------------

#define KZC_HI8(name, C)                                                                                    \
    KZ_CAPI int name(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,            \
                     kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 width, kz_uint32 count) \
    {                                                                                                       \
        return Count<uint8_t, C>(set, intensity, counterWidth, C,                                           \
                                 MakeGrid(src, srcRowBytes, nullptr, 0, pixStep, rowStep, width, count), kIdx8, true);  \
    }
#define KZC_HI16(name, C)                                                                                   \
    KZ_CAPI int name(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,            \
                     kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 bits, kz_uint32 width, \
                     kz_uint32 count)                                                                       \
    {                                                                                                       \
        return Count<uint16_t, C>(set, intensity, counterWidth, C,                                          \
                                  MakeGrid(src, srcRowBytes, nullptr, 0, pixStep, rowStep, width, count),   \
                                  Idx16(bits), false);                                                      \
    }
KZC_HI8(gethistogramint_3x8, 3)
KZC_HI8(gethistogramint_4x8, 4)
KZC_HI16(gethistogramint_3x16, 3)
KZC_HI16(gethistogramint_4x16, 4)
#undef KZC_HI8
#undef KZC_HI16
KZ_CAPI int gethistogramint_Nx8(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,
                                kz_uint32 nComp, kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep,
                                kz_uint32 width, kz_uint32 count)
{
    return Count<uint8_t, 0>(set, intensity, counterWidth, nComp,
                             MakeGrid(src, srcRowBytes, nullptr, 0, pixStep, rowStep, width, count), kIdx8, false);
}
KZ_CAPI int gethistogramint_Nx16(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,
                                 kz_uint32 nComp, kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep,
                                 kz_uint32 bits, kz_uint32 width, kz_uint32 count)
{
    return Count<uint16_t, 0>(set, intensity, counterWidth, nComp,
                              MakeGrid(src, srcRowBytes, nullptr, 0, pixStep, rowStep, width, count), Idx16(bits),
                              false);
}

// ---------------------------------------------------------------------------
// Reduced-depth histograms
// ---------------------------------------------------------------------------

#define KZC_HD1(name, TS)                                                                                   \
    KZ_CAPI int name(void* hist, kz_uint32 counterWidth, kz_uint32 histBits, const void* src, kz_uint32 srcRowBytes, \
                     kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 srcBits, kz_uint32 width, kz_uint32 count) \
    {                                                                                                       \
        void* set[1] = {hist};                                                                              \
        return CountDiv<TS>(set, counterWidth, histBits, src, 1, srcRowBytes, pixStep, rowStep, srcBits, width, \
                            count, 1);                                                                      \
    }
#define KZC_HD3(name, TS)                                                                                   \
    KZ_CAPI int name(void* const* set, kz_uint32 counterWidth, kz_uint32 histBits, const void* src,         \
                     kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 srcBits, kz_uint32 width, \
                     kz_uint32 count)                                                                       \
    {                                                                                                       \
        return CountDiv<TS>(set, counterWidth, histBits, src, 3, srcRowBytes, pixStep, rowStep, srcBits, width, \
                            count, 3);                                                                      \
    }
#define KZC_HDN(name, TS)                                                                                   \
    KZ_CAPI int name(void* const* set, kz_uint32 counterWidth, kz_uint32 histBits, const void* src,         \
                     kz_uint32 nComp, kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep,          \
                     kz_uint32 srcBits, kz_uint32 width, kz_uint32 count)                                   \
    {                                                                                                       \
        return CountDiv<TS>(set, counterWidth, histBits, src, nComp, srcRowBytes, pixStep, rowStep, srcBits, \
                            width, count, 0);                                                               \
    }
KZC_HD1(gethistogramdiv_1x16, uint16_t)
KZC_HD3(gethistogramdiv_3x16, uint16_t)
KZC_HDN(gethistogramdiv_Nx16, uint16_t)
KZC_HD1(gethistogramdiv_1x32, uint32_t)
KZC_HD3(gethistogramdiv_3x32, uint32_t)
KZC_HDN(gethistogramdiv_Nx32, uint32_t)
#undef KZC_HD1
#undef KZC_HD3
#undef KZC_HDN

// ---------------------------------------------------------------------------
// Masked histograms
// ---------------------------------------------------------------------------

#define KZC_HM_FAMILY(bin, TM)                                                                              \
    KZ_CAPI int bin##_1x8(void* hist, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,        \
                          const TM* mask, kz_uint32 maskRowBytes, kz_uint32 pixStep, kz_uint32 rowStep,      \
                          kz_uint32 width, kz_uint32 count)                                                 \
    {                                                                                                       \
        void* set[1] = {hist};                                                                              \
        return Count<uint8_t, 1, TM>(set, nullptr, counterWidth, 1,                                         \
                                     MakeGrid(src, srcRowBytes, mask, maskRowBytes, pixStep, rowStep, width, count), \
                                     kIdx8, false);                                                         \
    }                                                                                                       \
    KZ_CAPI int bin##_3x8(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,       \
                          kz_uint32 srcRowBytes, const TM* mask, kz_uint32 maskRowBytes, kz_uint32 pixStep,  \
                          kz_uint32 rowStep, kz_uint32 width, kz_uint32 count)                              \
    {                                                                                                       \
        return Count<uint8_t, 3, TM>(set, intensity, counterWidth, 3,                                       \
                                     MakeGrid(src, srcRowBytes, mask, maskRowBytes, pixStep, rowStep, width, count), \
                                     kIdx8, false);                                                         \
    }                                                                                                       \
    KZ_CAPI int bin##_4x8(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,       \
                          kz_uint32 srcRowBytes, const TM* mask, kz_uint32 maskRowBytes, kz_uint32 pixStep,  \
                          kz_uint32 rowStep, kz_uint32 width, kz_uint32 count)                              \
    {                                                                                                       \
        return Count<uint8_t, 4, TM>(set, intensity, counterWidth, 4,                                       \
                                     MakeGrid(src, srcRowBytes, mask, maskRowBytes, pixStep, rowStep, width, count), \
                                     kIdx8, false);                                                         \
    }                                                                                                       \
    KZ_CAPI int bin##_Nx8(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,       \
                          kz_uint32 nComp, kz_uint32 srcRowBytes, const TM* mask, kz_uint32 maskRowBytes,    \
                          kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 width, kz_uint32 count)            \
    {                                                                                                       \
        return Count<uint8_t, 0, TM>(set, intensity, counterWidth, nComp,                                   \
                                     MakeGrid(src, srcRowBytes, mask, maskRowBytes, pixStep, rowStep, width, count), \
                                     kIdx8, false);                                                         \
    }                                                                                                       \
    KZ_CAPI int bin##_1x16(void* hist, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,       \
                           const TM* mask, kz_uint32 maskRowBytes, kz_uint32 pixStep, kz_uint32 rowStep,     \
                           kz_uint32 bits, kz_uint32 width, kz_uint32 count)                                \
    {                                                                                                       \
        void* set[1] = {hist};                                                                              \
        return Count<uint16_t, 1, TM>(set, nullptr, counterWidth, 1,                                        \
                                      MakeGrid(src, srcRowBytes, mask, maskRowBytes, pixStep, rowStep, width, count), \
                                      Idx16(bits), false);                                                  \
    }                                                                                                       \
    KZ_CAPI int bin##_3x16(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,      \
                           kz_uint32 srcRowBytes, const TM* mask, kz_uint32 maskRowBytes, kz_uint32 pixStep, \
                           kz_uint32 rowStep, kz_uint32 bits, kz_uint32 width, kz_uint32 count)             \
    {                                                                                                       \
        return Count<uint16_t, 3, TM>(set, intensity, counterWidth, 3,                                      \
                                      MakeGrid(src, srcRowBytes, mask, maskRowBytes, pixStep, rowStep, width, count), \
                                      Idx16(bits), false);                                                  \
    }                                                                                                       \
    KZ_CAPI int bin##_4x16(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,      \
                           kz_uint32 srcRowBytes, const TM* mask, kz_uint32 maskRowBytes, kz_uint32 pixStep, \
                           kz_uint32 rowStep, kz_uint32 bits, kz_uint32 width, kz_uint32 count)             \
    {                                                                                                       \
        return Count<uint16_t, 4, TM>(set, intensity, counterWidth, 4,                                      \
                                      MakeGrid(src, srcRowBytes, mask, maskRowBytes, pixStep, rowStep, width, count), \
                                      Idx16(bits), false);                                                  \
    }                                                                                                       \
    KZ_CAPI int bin##_Nx16(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,      \
                           kz_uint32 nComp, kz_uint32 srcRowBytes, const TM* mask, kz_uint32 maskRowBytes,   \
                           kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 bits, kz_uint32 width,            \
                           kz_uint32 count)                                                                 \
    {                                                                                                       \
        return Count<uint16_t, 0, TM>(set, intensity, counterWidth, nComp,                                  \
                                      MakeGrid(src, srcRowBytes, mask, maskRowBytes, pixStep, rowStep, width, count), \
                                      Idx16(bits), false);                                                  \
    }
KZC_HM_FAMILY(gethistogrambin, u8)
KZC_HM_FAMILY(gethistogrambin16, u16)
#undef KZC_HM_FAMILY

// ---------------------------------------------------------------------------
// Joint histograms
// ---------------------------------------------------------------------------

namespace {

template <class TS>
int Joint(void* hist, uint32_t cw, const void* src, uint32_t rowBytes, uint32_t nComp, uint32_t bits, uint32_t a,
          uint32_t b, const u8* mask, uint32_t maskRowBytes, uint32_t width, uint32_t count)
{
    const size_t rows = KzRowCount(width, count);
    if (rows == 0)
        return KZ_OK;
    if (!KzComponentIndexValid(a, nComp) || !KzComponentIndexValid(b, nComp))
        return KZ_ERR_INVALID_ARG;
    if (sizeof(TS) == 1 ? bits > 16 : (bits < 8 || bits > 16))
        return KZ_ERR_INVALID_ARG;
    if (cw != 4 && cw != 8)
        return KZ_OK;
    // Bytes: a * 2^bits + b stays below 255 * 2^bits + 256. Words: masked,
    // then the top 8 significant bits of each.
    const uint16_t vmask = KzDepthLimit<uint16_t>(bits);
    const unsigned shiftA = sizeof(TS) == 1 ? bits : 8;
    const unsigned down = sizeof(TS) == 1 ? 0 : bits - 8;
    auto run = [&](auto zero) {
        using CT = decltype(zero);
        CT* h = static_cast<CT*>(hist);
        for (size_t r = 0; r < rows; ++r) {
            const TS* s = KzRow<TS>(src, rowBytes, r);
            const u8* m = mask ? KzRow<u8>(mask, maskRowBytes, r) : nullptr;
            for (size_t x = 0; x < width; ++x, s += nComp) {
                if (m && m[x] == 0)
                    continue;
                size_t va = s[a], vb = s[b];
                if constexpr (sizeof(TS) == 2) {
                    va = (va & vmask) >> down;
                    vb = (vb & vmask) >> down;
                }
                ++h[(va << shiftA) + vb];
            }
        }
    };
    if (cw == 4)
        run(uint32_t(0));
    else
        run(uint64_t(0));
    return KZ_OK;
}

} // namespace

KZ_CAPI int gethistogram2d_8(void* hist, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,
                             kz_uint32 nComp, kz_uint32 bits, kz_uint32 a, kz_uint32 b, const void*, const void*,
                             kz_uint32 width, kz_uint32 count)
{
    return Joint<uint8_t>(hist, counterWidth, src, srcRowBytes, nComp, bits, a, b, nullptr, 0, width, count);
}
KZ_CAPI int gethistogram2d_16(void* hist, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,
                              kz_uint32 nComp, kz_uint32 bits, kz_uint32 a, kz_uint32 b, const void*, const void*,
                              kz_uint32 width, kz_uint32 count)
{
    return Joint<uint16_t>(hist, counterWidth, src, srcRowBytes, nComp, bits, a, b, nullptr, 0, width, count);
}
KZ_CAPI int gethistogram2d_8_under_mask(void* hist, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,
                                        kz_uint32 nComp, kz_uint32 bits, kz_uint32 a, kz_uint32 b, const u8* mask,
                                        kz_uint32 maskRowBytes, const void*, const void*, kz_uint32 width,
                                        kz_uint32 count)
{
    return Joint<uint8_t>(hist, counterWidth, src, srcRowBytes, nComp, bits, a, b, mask, maskRowBytes, width, count);
}
KZ_CAPI int gethistogram2d_16_under_mask(void* hist, kz_uint32 counterWidth, const void* src,
                                         kz_uint32 srcRowBytes, kz_uint32 nComp, kz_uint32 bits, kz_uint32 a,
                                         kz_uint32 b, const u8* mask, kz_uint32 maskRowBytes, const void*,
                                         const void*, kz_uint32 width, kz_uint32 count)
{
    return Joint<uint16_t>(hist, counterWidth, src, srcRowBytes, nComp, bits, a, b, mask, maskRowBytes, width,
                           count);
}

// ---------------------------------------------------------------------------
// Addition
// ---------------------------------------------------------------------------

namespace {
template <class CT>
void AddArray(CT* d, const CT* s, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        d[i] = CT(d[i] + s[i]);
}
} // namespace

KZ_CAPI int histo_add(const void* srcIntensity, const void* const* srcSet, void* dstIntensity, void* const* dstSet,
                      kz_uint32 bits, kz_int32 nComp, kz_uint32 counterWidth)
{
    if (bits > 32 || (counterWidth != 4 && counterWidth != 8))
        return KZ_OK;
    const size_t n = size_t(1) << bits;
    auto run = [&](auto zero) {
        using CT = decltype(zero);
        if (srcIntensity)
            AddArray(static_cast<CT*>(dstIntensity), static_cast<const CT*>(srcIntensity), n);
        if (srcSet && srcSet[0] != srcIntensity)
            for (kz_int32 k = 0; k < nComp; ++k)
                AddArray(static_cast<CT*>(dstSet[k]), static_cast<const CT*>(srcSet[k]), n);
    };
    if (counterWidth == 4)
        run(uint32_t(0));
    else
        run(uint64_t(0));
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Repair
// ---------------------------------------------------------------------------

namespace {

template <class CT>
u8 IsComb(const CT* h, uint64_t bins)
{
    uint64_t filled = 0;
    bool prev = false;
    for (uint64_t i = 0; i < bins; ++i) {
        const bool cur = h[i] != 0;
        if (cur) {
            if (prev)
                return 0;
            ++filled;
        }
        prev = cur;
    }
    return filled > 191 ? 1 : 0;
}

template <class CT>
void FillGaps(CT* h, uint64_t bins)
{
    constexpr double kMax = double(std::numeric_limits<CT>::max());
    bool seen = false;
    uint64_t a = 0;
    CT p = 0;
    for (uint64_t b = 0; b < bins; ++b) {
        const CT n = h[b];
        if (n == 0)
            continue;
        if (seen && b - a > 1) {
            // The difference is taken in double so that counters far apart
            // (beyond the signed range of the counter) still interpolate.
            const double s = (1.0 / double(b - a)) * (double(n) - double(p));
            const double base = double(p) + 0.5;
            for (uint64_t i = 1; i < b - a; ++i) {
                const double v = double(i) * s + base;
                CT out;
                if (!(v > 0))
                    out = 0;
                else if (v >= kMax)
                    out = std::numeric_limits<CT>::max();
                else
                    out = CT(v);
                h[a + i] = out;
            }
        }
        seen = true;
        a = b;
        p = n;
    }
}

bool RepairArgsValid(int cw, uint32_t bits) { return (cw == 4 || cw == 8) && bits <= 32; }

template <class F>
void ByWidth(int cw, F&& f)
{
    if (cw == 4)
        f(uint32_t(0));
    else
        f(uint64_t(0));
}

} // namespace

KZ_CAPI int needtorepairhistogram_1(u8* flag, const void* hist, int counterWidth, kz_uint32 bits)
{
    if (!RepairArgsValid(counterWidth, bits))
        return KZ_ERR_FAILED;
    ByWidth(counterWidth, [&](auto zero) {
        using CT = decltype(zero);
        *flag = IsComb(static_cast<const CT*>(hist), uint64_t(1) << bits);
    });
    return KZ_OK;
}

KZ_CAPI int needtorepairhistogramint_N(u8* flags, const void* const* set, const void*, int counterWidth, kz_uint32 n,
                                       kz_uint32 bits)
{
    if (!RepairArgsValid(counterWidth, bits))
        return KZ_ERR_FAILED;
    ByWidth(counterWidth, [&](auto zero) {
        using CT = decltype(zero);
        for (kz_uint32 k = 0; k < n; ++k)
            flags[k] = IsComb(static_cast<const CT*>(set[k]), uint64_t(1) << bits);
    });
    return KZ_OK;
}
KZ_CAPI int needtorepairhistogramint_3(u8* flags, const void* const* set, const void* unused, int counterWidth,
                                       kz_uint32 bits)
{
    return needtorepairhistogramint_N(flags, set, unused, counterWidth, 3, bits);
}
KZ_CAPI int needtorepairhistogramint_4(u8* flags, const void* const* set, const void* unused, int counterWidth,
                                       kz_uint32 bits)
{
    return needtorepairhistogramint_N(flags, set, unused, counterWidth, 4, bits);
}

KZ_CAPI int repairhistocomp_1(void* hist, int counterWidth, kz_uint32 bits)
{
    if (!RepairArgsValid(counterWidth, bits))
        return KZ_ERR_FAILED;
    ByWidth(counterWidth, [&](auto zero) {
        using CT = decltype(zero);
        FillGaps(static_cast<CT*>(hist), uint64_t(1) << bits);
    });
    return KZ_OK;
}
KZ_CAPI int repairhistocomp_N(void* const* set, const void*, kz_uint32 index, int counterWidth, kz_uint32 bits)
{
    return repairhistocomp_1(set[index], counterWidth, bits);
}
