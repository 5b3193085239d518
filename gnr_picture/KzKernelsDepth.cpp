// Bit-depth conversion: shifts, container changes, LUTs (with exposure
// marking) and integer linear functions.
#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/KzKernelsC.h"
#include "gnr_picture/internal/KzKernelsInternalK1.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <immintrin.h>


namespace {

// Pictures without row gaps are walked as one long row (no per-row set-up):
// returns the samples of that row, or 0 when either picture has gaps.
inline size_t GaplessSamples(uint32_t dRB, size_t dSize, uint32_t sRB, size_t sSize, size_t comps, uint32_t width,
                             uint32_t count)
{
    const size_t n = size_t(width) * comps;
    if (n == 0 || size_t(dRB) != n * dSize || size_t(sRB) != n * sSize)
        return 0;
    return n * KzRowCount(width, count);
}

// Runs rowFn over count / width rows, or once over the whole block when both
// pictures are gapless.
template <class TD, class TS, class RowFn>
KZ_ALWAYS_INLINE void Rows2(void* dst, uint32_t dRB, const void* src, uint32_t sRB, size_t comps, uint32_t width,
                            uint32_t count, RowFn&& rowFn)
{
    if (const size_t all = GaplessSamples(dRB, sizeof(TD), sRB, sizeof(TS), comps, width, count))
        rowFn(static_cast<TD*>(dst), static_cast<const TS*>(src), all);
    else
        KzForRows2<TD, TS>(dst, dRB, src, sRB, comps, width, count, rowFn);
}

// ---------------------------------------------------------------------------
// Shifts
// ---------------------------------------------------------------------------

// d = s shifted right by `shift` (left by -shift when negative), cut to TD;
// a count of 16 or more either way gives 0 (samples are at most 16 bits).
template <class TD, class TS>
int ShiftConvert(void* dst, uint32_t dRB, const void* src, uint32_t sRB, size_t comps, int64_t shift,
                 uint32_t width, uint32_t count)
{
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        if (shift >= 16 || shift <= -16) {
            Rows2<TD, TS>(dst, dRB, src, sRB, comps, width, count,
                               [](TD* d, const TS* s, size_t n) KZ_INLINE_LAMBDA {
                                   KzMapRow(d, s, n, [](TS, size_t) KZ_INLINE_LAMBDA { return TD(0); });
                               });
        } else if (shift >= 0) {
            const unsigned sh = unsigned(shift);
            Rows2<TD, TS>(dst, dRB, src, sRB, comps, width, count,
                               [sh](TD* d, const TS* s, size_t n) KZ_INLINE_LAMBDA {
                                   KzMapRow(d, s, n, [sh](TS v, size_t) KZ_INLINE_LAMBDA {
                                       return TD(uint32_t(v) >> sh);
                                   });
                               });
        } else {
            const unsigned sh = unsigned(-shift);
            Rows2<TD, TS>(dst, dRB, src, sRB, comps, width, count,
                               [sh](TD* d, const TS* s, size_t n) KZ_INLINE_LAMBDA {
                                   KzMapRow(d, s, n, [sh](TS v, size_t) KZ_INLINE_LAMBDA {
                                       return TD(uint32_t(v) << sh);
                                   });
                               });
        }
    });
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Container change
// ---------------------------------------------------------------------------

// Bytes zero-extended to words, 32 a step with full-width vectors.
KZ_TARGET_AVX512 __attribute__((noinline)) void WidenRowsAvx512(uint16_t* d, const uint8_t* s, size_t n)
{
    size_t i = 0;
    // The first samples one by one up to a 64-byte boundary of the
    // destination: a 64-byte store across two cache lines costs two.
    const size_t mis = reinterpret_cast<uintptr_t>(d) & 63;
    if ((mis & 1) == 0) {
        const size_t head = std::min(((64 - mis) & 63) / 2, n);
        for (; i < head; ++i)
            d[i] = s[i];
    }
    // 32-byte stores: measured faster here than 64-byte ones for this
    // load-one-store-two stream.
    for (; i + 16 <= n; i += 16)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i),
                            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i))));
    for (; i < n; ++i)
        d[i] = s[i];
}

template <class TD>
int ChangeContainer(void* dst, uint32_t dRB, const void* src, uint32_t sRB, uint32_t srcBits, size_t comps,
                    uint32_t width, uint32_t count)
{
    auto run = [&](auto zero) {
        using TS = decltype(zero);
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            Rows2<TD, TS>(dst, dRB, src, sRB, comps, width, count,
                               [](TD* d, const TS* s, size_t n) KZ_INLINE_LAMBDA {
                                   KzMapRow(d, s, n, [](TS v, size_t) KZ_INLINE_LAMBDA { return TD(v); });
                               });
        });
        return KZ_OK;
    };
    if (srcBits <= 8) {
        if constexpr (sizeof(TD) == 2) {
            const size_t all = GaplessSamples(dRB, 2, sRB, 1, comps, width, count);
            if (all && KzCpuIsa() == KzIsa::Avx512) {
                WidenRowsAvx512(static_cast<uint16_t*>(dst), static_cast<const uint8_t*>(src), all);
                return KZ_OK;
            }
        }
        return run(uint8_t(0));
    }
    if (srcBits <= 16)
        return run(uint16_t(0));
    if (srcBits <= 32)
        return run(uint32_t(0));
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// LUTs
// ---------------------------------------------------------------------------

// Plain lookups, eight a step: two 64-bit loads of four words each, then
// byte stores (faster here than packing the bytes into one store).
inline void ScalarRow16to8(uint8_t* d, const uint16_t* s, size_t n, const uint8_t* tab, uint16_t mask)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t a, b;
        std::memcpy(&a, s + i, 8);
        std::memcpy(&b, s + i + 4, 8);
        d[i] = tab[a & mask];
        d[i + 1] = tab[(a >> 16) & mask];
        d[i + 2] = tab[(a >> 32) & mask];
        d[i + 3] = tab[(a >> 48) & mask];
        d[i + 4] = tab[b & mask];
        d[i + 5] = tab[(b >> 16) & mask];
        d[i + 6] = tab[(b >> 32) & mask];
        d[i + 7] = tab[(b >> 48) & mask];
    }
    for (; i < n; ++i)
        d[i] = tab[s[i] & mask];
}

void ScalarRows16to8(void* dst, uint32_t dRB, const void* src, uint32_t sRB, size_t n, size_t rows, const uint8_t* tab,
                     uint16_t mask)
{
    for (size_t r = 0; r < rows; ++r)
        ScalarRow16to8(KzRow<uint8_t>(dst, dRB, r), KzRow<uint16_t>(src, sRB, r), n, tab, mask);
}

// Byte tables of 2^(7 + L) entries (L = 0..5, 128 to 4096 entries) looked up
// in registers, 64 samples a step. The table is read as 2^L pairs of 64-byte
// blocks; one two-register byte permute looks every sample up in a pair by
// its low seven bits, and the 2^L results are merged in a binary tree by the
// index bits 7, 8, ... (bit 7 at the bottom). Each step costs 2^L permutes
// and 2^L - 1 merges whatever the samples, against one load per sample for
// the plain loop, whose random table loads limit it. Four vectors (256
// samples) share every block load. Sample bits at and above 7 + L are never
// read (the permute takes the low seven bits, the merges bits 7 to 6 + L), so
// samples above the depth are masked by construction and no block past the
// table is read.
constexpr int kLutVecs = 4;

// Merge masks: bit 7 of every vector is held in a mask register for the
// whole step (it is used at 2^(L-1) merges); the higher bits are tested again
// at each merge from the high bytes. Holding all of them (5 masks for each of
// four vectors, with 7 mask registers) made the compiler spill and reload
// masks through the stack, and the spills set the pace; a test is cheaper.
template <int L>
KZ_TARGET_AVX512 KZ_ALWAYS_INLINE void LutTree(const uint8_t* tab, const __m512i* lo, const __m512i* hi,
                                               const __mmask64* bit7, __m512i* out)
{
    if constexpr (L == 0) {
        __m512i t0 = _mm512_loadu_si512(tab), t1 = _mm512_loadu_si512(tab + 64);
        // Keeps the blocks in registers: without it the compiler reloads them
        // for every permute (the permute overwrites one of its tables), and
        // the loads, not the permutes, then set the pace.
        __asm__("" : "+v"(t0), "+v"(t1));
        for (int v = 0; v < kLutVecs; ++v)
            out[v] = _mm512_permutex2var_epi8(t0, lo[v], t1);
    } else {
        __m512i a[kLutVecs], b[kLutVecs];
        LutTree<L - 1>(tab, lo, hi, bit7, a);
        LutTree<L - 1>(tab + (size_t(128) << (L - 1)), lo, hi, bit7, b);
        for (int v = 0; v < kLutVecs; ++v) {
            __mmask64 k;
            if constexpr (L == 1) {
                k = bit7[v];
            } else {
                // The empty asm hides that the same test was made before, so
                // the compiler makes it here instead of keeping its result.
                __m512i h = hi[v];
                __asm__("" : "+v"(h));
                k = _mm512_test_epi8_mask(h, _mm512_set1_epi8(char(1 << (L - 2))));
            }
            out[v] = _mm512_mask_blend_epi8(k, a[v], b[v]);
        }
    }
}

template <int L>
KZ_TARGET_AVX512 __attribute__((noinline)) void RegisterLutRow16to8(uint8_t* d, const uint16_t* s, size_t n,
                                                                    const uint8_t* tab, uint16_t mask)
{
    alignas(64) static constexpr uint8_t kEven[64] = {
        0,  2,  4,  6,  8,  10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30, 32, 34, 36, 38, 40, 42,
        44, 46, 48, 50, 52, 54, 56, 58, 60, 62, 64, 66, 68, 70, 72, 74, 76, 78, 80, 82, 84, 86,
        88, 90, 92, 94, 96, 98, 100, 102, 104, 106, 108, 110, 112, 114, 116, 118, 120, 122, 124, 126};
    const __m512i even = _mm512_load_si512(kEven);
    const __m512i odd = _mm512_add_epi8(even, _mm512_set1_epi8(1));
    constexpr size_t kStep = 64 * kLutVecs;
    size_t i = 0;
    for (; i + kStep <= n; i += kStep) {
        __m512i lo[kLutVecs], hi[kLutVecs];
        __mmask64 bit7[kLutVecs];
        for (int v = 0; v < kLutVecs; ++v) {
            const __m512i w0 = _mm512_loadu_si512(s + i + 64 * v);
            const __m512i w1 = _mm512_loadu_si512(s + i + 64 * v + 32);
            // Low and high bytes of the 64 samples.
            lo[v] = _mm512_permutex2var_epi8(w0, even, w1);
            hi[v] = _mm512_permutex2var_epi8(w0, odd, w1);
            bit7[v] = _mm512_movepi8_mask(lo[v]);
        }
        __m512i out[kLutVecs];
        LutTree<L>(tab, lo, hi, bit7, out);
        for (int v = 0; v < kLutVecs; ++v)
            _mm512_storeu_si512(d + i + 64 * v, out[v]);
    }
    // The rest of the run (under one step) through the plain loop, masked.
    ScalarRow16to8(d + i, s + i, n - i, tab, mask);
}

using LutRow16to8 = void (*)(uint8_t*, const uint16_t*, size_t, const uint8_t*, uint16_t);

// The register lookup for a table of 2^bits entries, 7 <= bits <= 12 (mask
// 2^bits - 1), on processors with byte permutes; null otherwise (larger
// tables cost more permutes per sample than the plain loop's loads).
LutRow16to8 RegisterLut16to8(uint16_t mask)
{
    static constexpr LutRow16to8 kRows[] = {RegisterLutRow16to8<0>, RegisterLutRow16to8<1>, RegisterLutRow16to8<2>,
                                            RegisterLutRow16to8<3>, RegisterLutRow16to8<4>, RegisterLutRow16to8<5>};
    const uint32_t entries = uint32_t(mask) + 1;
    if (KzCpuIsa() != KzIsa::Avx512 || entries < 128 || entries > 4096 || (entries & mask) != 0)
        return nullptr;
    return kRows[std::countr_zero(entries) - 7];
}

// Flat table: d = tab[s & mask] for every sample.
template <class TD, class TS>
int FlatLut(void* dst, uint32_t dRB, const void* src, uint32_t sRB, const TD* tab, size_t comps, TS mask,
            uint32_t width, uint32_t count)
{
    if (comps == 0)
        return KZ_OK;
    if constexpr (sizeof(TS) == 2 && sizeof(TD) == 1) {
        if (const LutRow16to8 row = RegisterLut16to8(mask)) {
            // The blocks are read as 64-byte vectors: from a table that is not
            // 64-byte aligned every one spans two cache lines, which costs
            // about 15 % here, so such a table is first copied (once per call,
            // when the picture is larger than the table).
            alignas(64) uint8_t aligned[4096];
            const size_t entries = size_t(mask) + 1;
            const uint8_t* t = tab;
            if ((reinterpret_cast<uintptr_t>(tab) & 63) != 0 &&
                size_t(width) * comps * KzRowCount(width, count) >= entries) {
                std::memcpy(aligned, tab, entries);
                t = aligned;
            }
            Rows2<uint8_t, uint16_t>(dst, dRB, src, sRB, comps, width, count,
                                     [row, t, mask](uint8_t* d, const uint16_t* s, size_t n) {
                                         row(d, s, n, t, mask);
                                     });
            return KZ_OK;
        }
        // Faster than vector gathers on the processors measured.
        ScalarRows16to8(dst, dRB, src, sRB, size_t(width) * comps, KzRowCount(width, count), tab, mask);
        return KZ_OK;
    }
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        KzForRows2<TD, TS>(dst, dRB, src, sRB, comps, width, count,
                           [tab, mask](TD* __restrict d, const TS* __restrict s, size_t n) KZ_INLINE_LAMBDA {
                               size_t i = 0;
                               for (; i + 4 <= n; i += 4) {
                                   const TD a = tab[s[i] & mask], b = tab[s[i + 1] & mask];
                                   const TD c = tab[s[i + 2] & mask], e = tab[s[i + 3] & mask];
                                   d[i] = a;
                                   d[i + 1] = b;
                                   d[i + 2] = c;
                                   d[i + 3] = e;
                               }
                               for (; i < n; ++i)
                                   d[i] = tab[s[i] & mask];
                           });
    });
    return KZ_OK;
}

// Row-pointer table: component k of a pixel = rows[s_k & mask][k]. C is the
// fixed component count, 0 for a run-time count.
template <class TD, class TS, unsigned C>
int RowLut(void* dst, uint32_t dRB, const void* src, uint32_t sRB, const TD* const* rows, size_t comps, TS mask,
           uint32_t width, uint32_t count)
{
    const size_t n = C ? C : comps;
    if (n == 0)
        return KZ_OK;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        const size_t nr = KzRowCount(width, count);
        for (size_t r = 0; r < nr; ++r) {
            TD* __restrict d = KzRow<TD>(dst, dRB, r);
            const TS* __restrict s = KzRow<TS>(src, sRB, r);
            for (size_t x = 0; x < width; ++x, d += n, s += n) {
                if constexpr (C != 0) {
                    for (unsigned k = 0; k < C; ++k)
                        d[k] = rows[s[k] & mask][k];
                } else {
                    for (size_t k = 0; k < n; ++k)
                        d[k] = rows[s[k] & mask][k];
                }
            }
        }
    });
    return KZ_OK;
}

// Paints colour c, or its complementary form for deciding component k.
KZ_ALWAYS_INLINE void Paint(uint8_t* d, const SKzLutExpColor* c, unsigned k)
{
    if (c->flag) {
        d[0] = d[1] = d[2] = 255;
        d[k] = 0;
    } else {
        d[0] = c->blue;
        d[1] = c->green;
        d[2] = c->red;
    }
}

// 3 x 16 to 3 x 8 through a row-pointer table with exposure marking; either
// colour may be null (that kind of marking is off).
int MarkRows3x16(void* dst, uint32_t dRB, const void* src, uint32_t sRB, uint32_t srcBits, uint16_t mask,
                 const u8* const* rows, const SKzLutExpColor* over, const SKzLutExpColor* under, uint32_t width,
                 uint32_t count)
{
    if (!over && !under)
        return RowLut<uint8_t, uint16_t, 3>(dst, dRB, src, sRB, rows, 3, mask, width, count);
    const uint16_t top = KzDepthLimit<uint16_t>(srcBits);
    const size_t nr = KzRowCount(width, count);
    for (size_t r = 0; r < nr; ++r) {
        uint8_t* d = KzRow<uint8_t>(dst, dRB, r);
        const uint16_t* s = KzRow<uint16_t>(src, sRB, r);
        for (size_t x = 0; x < width; ++x, d += 3, s += 3) {
            bool marked = false;
            for (int k = 2; k >= 0 && !marked; --k) {
                if (under && s[k] == 0) {
                    Paint(d, under, unsigned(k));
                    marked = true;
                } else if (over && s[k] == top) {
                    Paint(d, over, unsigned(k));
                    marked = true;
                }
            }
            if (!marked) {
                d[0] = rows[s[0] & mask][0];
                d[1] = rows[s[1] & mask][1];
                d[2] = rows[s[2] & mask][2];
            }
        }
    }
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Linear functions
// ---------------------------------------------------------------------------

template <class TD>
int LinFunc(void* dst, uint32_t dRB, uint32_t dstBits, const void* src, uint32_t sRB, const SKzLinFunc* f,
            size_t comps, uint32_t width, uint32_t count)
{
    if (KzRowCount(width, count) == 0 || comps == 0)
        return KZ_OK;
    for (size_t k = 0; k < comps; ++k)
        if (f[k].divisor == 0)
            return KZ_ERR_INVALID_ARG;
    const uint64_t limit = sizeof(TD) == 1 ? 0xFF : KzDepthLimit<uint16_t>(dstBits);
    const size_t nr = KzRowCount(width, count);
    for (size_t r = 0; r < nr; ++r) {
        TD* d = KzRow<TD>(dst, dRB, r);
        const uint32_t* s = KzRow<uint32_t>(src, sRB, r);
        for (size_t x = 0; x < width; ++x, d += comps, s += comps) {
            for (size_t k = 0; k < comps; ++k) {
                const uint64_t q = (uint64_t(s[k]) * f[k].multiplier - f[k].offset) / f[k].divisor;
                const uint64_t v = q + f[k].addend;
                if constexpr (sizeof(TD) == 1) {
                    d[k] = uint8_t(v);
                } else {
                    const uint64_t w = v & 0xFFFF;
                    d[k] = uint16_t(w < limit ? w : limit);
                }
            }
        }
    }
    return KZ_OK;
}

constexpr uint16_t kAll16 = 0xFFFF;

} // namespace

// ---------------------------------------------------------------------------
// Shift kernels
// ---------------------------------------------------------------------------

KZ_CAPI int convert_Nx16_to_Nx8(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcBits,
                                kz_uint32 srcRowBytes, kz_uint32 nComp, kz_uint32 width, kz_uint32 count)
{
    return ShiftConvert<uint8_t, uint16_t>(dst, dstRowBytes, src, srcRowBytes, nComp, int64_t(srcBits) - 8, width,
                                           count);
}

KZ_CAPI int convert_Nx8_to_Nx16(void* dst, kz_uint32 dstBits, kz_uint32 dstRowBytes, const void* src,
                                kz_uint32 srcRowBytes, kz_uint32 nComp, kz_uint32 width, kz_uint32 count)
{
    return ShiftConvert<uint16_t, uint8_t>(dst, dstRowBytes, src, srcRowBytes, nComp, 8 - int64_t(dstBits), width,
                                           count);
}

KZ_CAPI int convert_Nx16_to_Nx16(void* dst, kz_uint32 dstBits, kz_uint32 dstRowBytes, const void* src,
                                 kz_uint32 srcBits, kz_uint32 srcRowBytes, kz_uint32 nComp, kz_uint32 width,
                                 kz_uint32 count)
{
    return ShiftConvert<uint16_t, uint16_t>(dst, dstRowBytes, src, srcRowBytes, nComp,
                                            int64_t(srcBits) - int64_t(dstBits), width, count);
}

KZ_CAPI int _shift_Nx16_to_Nx16(void* buf, kz_uint32 nComp, kz_uint32 rowBytes, kz_int32 shift, kz_uint32 width,
                                kz_uint32 count)
{
    if (shift == 0)
        return KZ_OK;
    return ShiftConvert<uint16_t, uint16_t>(buf, rowBytes, buf, rowBytes, nComp, int64_t(shift), width, count);
}

// ---------------------------------------------------------------------------
// Container kernels
// ---------------------------------------------------------------------------

#define KZC_CHANGE(name, TD, C)                                                                            \
    KZ_CAPI int name(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes,             \
                     kz_uint32 srcBits, kz_uint32 width, kz_uint32 count)                                  \
    {                                                                                                      \
        return ChangeContainer<TD>(dst, dstRowBytes, src, srcRowBytes, srcBits, C, width, count);          \
    }
#define KZC_CHANGEN(name, TD)                                                                              \
    KZ_CAPI int name(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes,             \
                     kz_uint32 srcBits, kz_uint32 nComp, kz_uint32 width, kz_uint32 count)                 \
    {                                                                                                      \
        return ChangeContainer<TD>(dst, dstRowBytes, src, srcRowBytes, srcBits, nComp, width, count);      \
    }
KZC_CHANGE(changebitdepth_1xN_to_1x08, uint8_t, 1)
KZC_CHANGE(changebitdepth_3xN_to_3x08, uint8_t, 3)
KZC_CHANGEN(changebitdepth_NxM_to_Nx08, uint8_t)
KZC_CHANGE(changebitdepth_1xN_to_1x16, uint16_t, 1)
KZC_CHANGE(changebitdepth_3xN_to_3x16, uint16_t, 3)
KZC_CHANGEN(changebitdepth_NxM_to_Nx16, uint16_t)
KZC_CHANGE(changebitdepth_1xN_to_1x32, uint32_t, 1)
KZC_CHANGE(changebitdepth_3xN_to_3x32, uint32_t, 3)
KZC_CHANGEN(changebitdepth_NxM_to_Nx32, uint32_t)
#undef KZC_CHANGE
#undef KZC_CHANGEN

// ---------------------------------------------------------------------------
// LUT kernels: exported member (mask of the whole container) and its
// depth-taking entry (mask 2^srcBits - 1).
// ---------------------------------------------------------------------------

#define KZC_FLAT(name, TD, TS, C)                                                                          \
    KZ_CAPI int name(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const TD* table, \
                     kz_uint32 width, kz_uint32 count)                                                     \
    {                                                                                                      \
        return FlatLut<TD, TS>(dst, dstRowBytes, src, srcRowBytes, table, C, TS(~TS(0)), width, count);    \
    }                                                                                                      \
    int name##_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const TD* table, \
                     kz_uint32 width, kz_uint32 count, kz_uint32 srcBits)                                  \
    {                                                                                                      \
        return FlatLut<TD, TS>(dst, dstRowBytes, src, srcRowBytes, table, C, KzDepthLimit<TS>(srcBits), width, \
                               count);                                                                     \
    }
#define KZC_FLATN(name, TD, TS)                                                                            \
    KZ_CAPI int name(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const TD* table, \
                     kz_uint32 nComp, kz_uint32 width, kz_uint32 count)                                    \
    {                                                                                                      \
        return FlatLut<TD, TS>(dst, dstRowBytes, src, srcRowBytes, table, nComp, TS(~TS(0)), width, count); \
    }                                                                                                      \
    int name##_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const TD* table, \
                     kz_uint32 nComp, kz_uint32 width, kz_uint32 count, kz_uint32 srcBits)                 \
    {                                                                                                      \
        return FlatLut<TD, TS>(dst, dstRowBytes, src, srcRowBytes, table, nComp, KzDepthLimit<TS>(srcBits), \
                               width, count);                                                              \
    }
#define KZC_ROWS(name, TD, TS, C)                                                                          \
    KZ_CAPI int name(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes,             \
                     const TD* const* table, kz_uint32 width, kz_uint32 count)                             \
    {                                                                                                      \
        return RowLut<TD, TS, C>(dst, dstRowBytes, src, srcRowBytes, table, C, TS(~TS(0)), width, count);  \
    }                                                                                                      \
    int name##_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes,             \
                     const TD* const* table, kz_uint32 width, kz_uint32 count, kz_uint32 srcBits)          \
    {                                                                                                      \
        return RowLut<TD, TS, C>(dst, dstRowBytes, src, srcRowBytes, table, C, KzDepthLimit<TS>(srcBits),  \
                                 width, count);                                                            \
    }
#define KZC_ROWSN(name, TD, TS)                                                                            \
    KZ_CAPI int name(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes,             \
                     const TD* const* table, kz_uint32 nComp, kz_uint32 width, kz_uint32 count)            \
    {                                                                                                      \
        return RowLut<TD, TS, 0>(dst, dstRowBytes, src, srcRowBytes, table, nComp, TS(~TS(0)), width, count); \
    }                                                                                                      \
    int name##_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes,             \
                     const TD* const* table, kz_uint32 nComp, kz_uint32 width, kz_uint32 count,            \
                     kz_uint32 srcBits)                                                                    \
    {                                                                                                      \
        return RowLut<TD, TS, 0>(dst, dstRowBytes, src, srcRowBytes, table, nComp, KzDepthLimit<TS>(srcBits), \
                                 width, count);                                                            \
    }

KZC_FLAT(convertbitdepthvialuts_1x16_to_1x8, uint8_t, uint16_t, 1)
KZC_FLAT(convertbitdepthvialuts_4x16_to_4x8_lut1, uint8_t, uint16_t, 4)
KZC_FLATN(convertbitdepthvialuts_Nx16_to_Nx8_lut1, uint8_t, uint16_t)
KZC_ROWS(convertbitdepthvialuts_4x16_to_4x8, uint8_t, uint16_t, 4)
KZC_ROWSN(convertbitdepthvialuts_Nx16_to_Nx8, uint8_t, uint16_t)
KZC_FLAT(convertbitdepthvialuts_1x8_to_1x16, uint16_t, uint8_t, 1)
KZC_FLAT(convertbitdepthvialuts_3x8_to_3x16_lut1, uint16_t, uint8_t, 3)
KZC_FLAT(convertbitdepthvialuts_4x8_to_4x16_lut1, uint16_t, uint8_t, 4)
KZC_FLATN(convertbitdepthvialuts_Nx8_to_Nx16_lut1, uint16_t, uint8_t)
KZC_ROWS(convertbitdepthvialuts_3x8_to_3x16, uint16_t, uint8_t, 3)
KZC_ROWS(convertbitdepthvialuts_4x8_to_4x16, uint16_t, uint8_t, 4)
KZC_ROWSN(convertbitdepthvialuts_Nx8_to_Nx16, uint16_t, uint8_t)
KZC_FLAT(convertbitdepthvialuts_1x16_to_1x16, uint16_t, uint16_t, 1)
KZC_FLAT(convertbitdepthvialuts_3x16_to_3x16_lut1, uint16_t, uint16_t, 3)
KZC_FLAT(convertbitdepthvialuts_4x16_to_4x16_lut1, uint16_t, uint16_t, 4)
KZC_FLATN(convertbitdepthvialuts_Nx16_to_Nx16_lut1, uint16_t, uint16_t)
KZC_ROWS(convertbitdepthvialuts_3x16_to_3x16, uint16_t, uint16_t, 3)
KZC_ROWS(convertbitdepthvialuts_4x16_to_4x16, uint16_t, uint16_t, 4)
KZC_ROWSN(convertbitdepthvialuts_Nx16_to_Nx16, uint16_t, uint16_t)
#undef KZC_FLAT
#undef KZC_FLATN
#undef KZC_ROWS
#undef KZC_ROWSN

// The 3 x 16 to 3 x 8 members take srcBits but their plain forms do not read it.
KZ_CAPI int convertbitdepthvialuts_3x16_to_3x8(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32,
                                               kz_uint32 srcRowBytes, const u8* const* table, kz_uint32 width,
                                               kz_uint32 count)
{
    return RowLut<uint8_t, uint16_t, 3>(dst, dstRowBytes, src, srcRowBytes, table, 3, kAll16, width, count);
}
int convertbitdepthvialuts_3x16_to_3x8_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32,
                                             kz_uint32 srcRowBytes, const u8* const* table, kz_uint32 width,
                                             kz_uint32 count, kz_uint32 srcBits)
{
    return RowLut<uint8_t, uint16_t, 3>(dst, dstRowBytes, src, srcRowBytes, table, 3,
                                        KzDepthLimit<uint16_t>(srcBits), width, count);
}
KZ_CAPI int convertbitdepthvialuts_3x16_to_3x8_lut1(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32,
                                                    kz_uint32 srcRowBytes, const u8* table, kz_uint32 width,
                                                    kz_uint32 count)
{
    return FlatLut<uint8_t, uint16_t>(dst, dstRowBytes, src, srcRowBytes, table, 3, kAll16, width, count);
}
int convertbitdepthvialuts_3x16_to_3x8_lut1_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32,
                                                  kz_uint32 srcRowBytes, const u8* table, kz_uint32 width,
                                                  kz_uint32 count, kz_uint32 srcBits)
{
    return FlatLut<uint8_t, uint16_t>(dst, dstRowBytes, src, srcRowBytes, table, 3,
                                      KzDepthLimit<uint16_t>(srcBits), width, count);
}

// Marking members: M and the lookup mask both come from srcBits.
KZ_CAPI int convertbitdepthvialuts_3x16_to_3x8_overexp(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                       kz_uint32 srcBits, kz_uint32 srcRowBytes,
                                                       const u8* const* table, const SKzLutExpColor* over,
                                                       kz_uint32 width, kz_uint32 count)
{
    return MarkRows3x16(dst, dstRowBytes, src, srcRowBytes, srcBits, KzDepthLimit<uint16_t>(srcBits), table, over,
                        nullptr, width, count);
}
// srcBits is not read: the table covers the container.
KZ_CAPI int convertbitdepthvialuts_3x16_to_3x8_underexp(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                        kz_uint32 srcBits, kz_uint32 srcRowBytes,
                                                        const u8* const* table, const SKzLutExpColor* under,
                                                        kz_uint32 width, kz_uint32 count)
{
    return MarkRows3x16(dst, dstRowBytes, src, srcRowBytes, srcBits, kAll16, table, nullptr, under, width, count);
}
int convertbitdepthvialuts_3x16_to_3x8_underexp_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32,
                                                      kz_uint32 srcRowBytes, const u8* const* table,
                                                      const SKzLutExpColor* under, kz_uint32 width, kz_uint32 count,
                                                      kz_uint32 srcBits)
{
    return MarkRows3x16(dst, dstRowBytes, src, srcRowBytes, srcBits, KzDepthLimit<uint16_t>(srcBits), table,
                        nullptr, under, width, count);
}
KZ_CAPI int convertbitdepthvialuts_3x16_to_3x8_overexp_underexp(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                                kz_uint32 srcBits, kz_uint32 srcRowBytes,
                                                                const u8* const* table, const SKzLutExpColor* over,
                                                                const SKzLutExpColor* under, kz_uint32 width,
                                                                kz_uint32 count)
{
    return MarkRows3x16(dst, dstRowBytes, src, srcRowBytes, srcBits, KzDepthLimit<uint16_t>(srcBits), table, over,
                        under, width, count);
}

KZ_CAPI int convertbitdepthvialuts_3x16_to_3x8_lut1_overexp(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                            kz_uint32 srcBits, kz_uint32 srcRowBytes,
                                                            const u8* table, const SKzLutExpColor* over,
                                                            kz_uint32 width, kz_uint32 count)
{
    const uint16_t top = KzDepthLimit<uint16_t>(srcBits);
    if (!over)
        return FlatLut<uint8_t, uint16_t>(dst, dstRowBytes, src, srcRowBytes, table, 3, top, width, count);
    const size_t nr = KzRowCount(width, count);
    for (size_t r = 0; r < nr; ++r) {
        uint8_t* d = KzRow<uint8_t>(dst, dstRowBytes, r);
        const uint16_t* s = KzRow<uint16_t>(src, srcRowBytes, r);
        for (size_t x = 0; x < width; ++x, d += 3, s += 3) {
            if (s[0] >= top || s[1] >= top || s[2] >= top) {
                d[0] = over->blue;
                d[1] = over->green;
                d[2] = over->red;
            } else {
                d[0] = table[s[0]];
                d[1] = table[s[1]];
                d[2] = table[s[2]];
            }
        }
    }
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Linear-function kernels
// ---------------------------------------------------------------------------

KZ_CAPI int convertbitdepthvialinfunc_1x32_to_1x16(void* dst, kz_uint32 dstRowBytes, kz_uint32 dstBits,
                                                   const void* src, kz_uint32 srcRowBytes, const SKzLinFunc* funcs,
                                                   kz_uint32 width, kz_uint32 count)
{
    return LinFunc<uint16_t>(dst, dstRowBytes, dstBits, src, srcRowBytes, funcs, 1, width, count);
}
KZ_CAPI int convertbitdepthvialinfunc_3x32_to_3x16(void* dst, kz_uint32 dstRowBytes, kz_uint32 dstBits,
                                                   const void* src, kz_uint32 srcRowBytes, const SKzLinFunc* funcs,
                                                   kz_uint32 width, kz_uint32 count)
{
    return LinFunc<uint16_t>(dst, dstRowBytes, dstBits, src, srcRowBytes, funcs, 3, width, count);
}
KZ_CAPI int convertbitdepthvialinfunc_Mx32_to_Mx16(void* dst, kz_uint32 dstRowBytes, kz_uint32 dstBits,
                                                   const void* src, kz_uint32 srcRowBytes, const SKzLinFunc* funcs,
                                                   kz_uint32 nComp, kz_uint32 width, kz_uint32 count)
{
    return LinFunc<uint16_t>(dst, dstRowBytes, dstBits, src, srcRowBytes, funcs, nComp, width, count);
}
KZ_CAPI int convertbitdepthvialinfunc_1x32_to_1x8(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                  kz_uint32 srcRowBytes, const SKzLinFunc* funcs, kz_uint32 width,
                                                  kz_uint32 count)
{
    return LinFunc<uint8_t>(dst, dstRowBytes, 8, src, srcRowBytes, funcs, 1, width, count);
}
KZ_CAPI int convertbitdepthvialinfunc_3x32_to_3x8(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                  kz_uint32 srcRowBytes, const SKzLinFunc* funcs, kz_uint32 width,
                                                  kz_uint32 count)
{
    return LinFunc<uint8_t>(dst, dstRowBytes, 8, src, srcRowBytes, funcs, 3, width, count);
}
KZ_CAPI int convertbitdepthvialinfunc_Mx32_to_Mx8(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                  kz_uint32 srcRowBytes, const SKzLinFunc* funcs, kz_uint32 nComp,
                                                  kz_uint32 width, kz_uint32 count)
{
    return LinFunc<uint8_t>(dst, dstRowBytes, 8, src, srcRowBytes, funcs, nComp, width, count);
}
