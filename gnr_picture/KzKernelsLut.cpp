// LUT calculation (power law, minimum, maximum, wrap-around) and LUT
// application (flat and row-pointer tables, exposure marking).
#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/KzKernels.h"

#include <immintrin.h>
#include <cstring>
#include <memory>
#include <new>

namespace {

// ---------------------------------------------------------------------------
// Calculation
// ---------------------------------------------------------------------------

constexpr bool CalcBitsValid(kz_uint32 bits) { return bits >= 1 && bits <= 16; }

// Fills entry k of every row (flat table: stride 1) by fn(v).
template <class T, class Fn>
void FillColumn(T* const* rows, T* flat, size_t k, kz_uint32 bits, Fn&& fn)
{
    const size_t n = size_t(1) << bits;
    if (flat) {
        for (size_t v = 0; v < n; ++v)
            flat[v] = fn(v);
    } else {
        for (size_t v = 0; v < n; ++v)
            rows[v][k] = fn(v);
    }
}

template <class T>
void CalcPowerLaw(T* const* rows, T* flat, const double* a, const double* m, const double* p, size_t comps,
                  kz_uint32 bits)
{
    if ((!a && !m && !p) || !CalcBitsValid(bits) || (!rows && !flat))
        return;
    const T limit = KzDepthLimit<T>(bits);
    for (size_t k = 0; k < comps; ++k) {
        const double* ak = a ? a + k : nullptr;
        const double* mk = m ? m + k : nullptr;
        const double* pk = p ? p + k : nullptr;
        FillColumn(rows, flat, k, bits, [&](size_t v) { return kzk::PowerLawEntry<T>(double(v), ak, mk, pk, limit); });
    }
}

// Minimum (isMax false) or maximum with a constant per component; the stored
// constant is truncated and kept within 0..limit.
template <class T>
void CalcMinMax(T* const* rows, T* flat, const double* w, size_t comps, kz_uint32 bits, bool isMax)
{
    if (!w || !CalcBitsValid(bits) || (!rows && !flat))
        return;
    const T limit = KzDepthLimit<T>(bits);
    for (size_t k = 0; k < comps; ++k) {
        const double wk = w[k];
        const T cw = KzClampTo<T>(KzTruncToInt64(wk), limit);
        FillColumn(rows, flat, k, bits, [&](size_t v) {
            const bool take = isMax ? (wk > double(v)) : (double(v) > wk);
            return take ? cw : KzClampTo<T>(v, limit);
        });
    }
}

template <class T>
void CalcRotate(T* const* rows, const double* a, size_t comps, kz_uint32 bits)
{
    if (!a || !rows || !CalcBitsValid(bits))
        return;
    const double w = double(KzDepthLimit<T>(bits));
    for (size_t k = 0; k < comps; ++k) {
        const double ak = a[k];
        FillColumn(rows, static_cast<T*>(nullptr), k, bits, [&](size_t v) {
            double x = ak + double(v);
            if (x < 0)
                x += w;
            else if (x > w)
                x -= w;
            return static_cast<T>(static_cast<uint32_t>(KzTruncToInt32(x)));
        });
    }
}

// ---------------------------------------------------------------------------
// Application
// ---------------------------------------------------------------------------

// One row through a contiguous block: C fixed (1, 3, 4) or 0 for a run-time
// count. C == 1 maps every sample through the flat table.
template <class T, unsigned C>
KZ_ALWAYS_INLINE void BlockRow(T* d, const T* s, size_t pixels, const T* tab, T mask, size_t comps)
{
    if constexpr (C == 1) {
        // Four independent lookups a step (all four samples are read before
        // any is written, which is safe in place and when the rows do not
        // overlap; partly overlapping rows take the plain loop).
        const uintptr_t da = reinterpret_cast<uintptr_t>(d), sa = reinterpret_cast<uintptr_t>(s);
        size_t i = 0;
        if (da == sa || da + pixels * sizeof(T) <= sa || sa + pixels * sizeof(T) <= da) {
            if constexpr (sizeof(T) == 2) {
                // Four samples per 64-bit load and store.
                for (; i + 4 <= pixels; i += 4) {
                    uint64_t w;
                    std::memcpy(&w, s + i, 8);
                    const uint64_t a = tab[w & mask], b = tab[(w >> 16) & mask];
                    const uint64_t c = tab[(w >> 32) & mask], e = tab[(w >> 48) & mask];
                    const uint64_t out = a | (b << 16) | (c << 32) | (e << 48);
                    std::memcpy(d + i, &out, 8);
                }
            } else {
                for (; i + 4 <= pixels; i += 4) {
                    const T a = tab[s[i] & mask], b = tab[s[i + 1] & mask];
                    const T c = tab[s[i + 2] & mask], e = tab[s[i + 3] & mask];
                    d[i] = a;
                    d[i + 1] = b;
                    d[i + 2] = c;
                    d[i + 3] = e;
                }
            }
        }
        for (; i < pixels; ++i)
            d[i] = tab[s[i] & mask];
    } else if constexpr (C > 1) {
        for (size_t i = 0; i < pixels; ++i, d += C, s += C) {
            T out[C];
            for (unsigned k = 0; k < C; ++k)
                out[k] = tab[size_t(s[k] & mask) * C + k];
            for (unsigned k = 0; k < C; ++k)
                d[k] = out[k];
        }
    } else {
        for (size_t i = 0; i < pixels; ++i, d += comps, s += comps)
            for (size_t k = 0; k < comps; ++k)
                d[k] = tab[size_t(s[k] & mask) * comps + k];
    }
}

template <class T, unsigned C>
KZ_ALWAYS_INLINE void BlockPicture(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes,
                                   const T* tab, T mask, size_t comps, size_t pixelsPerRow, kz_uint32 width,
                                   kz_uint32 count)
{
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r)
        BlockRow<T, C>(KzRow<T>(dst, dstRowBytes, r), KzRow<T>(src, srcRowBytes, r), pixelsPerRow, tab, mask, comps);
}

// ---------------------------------------------------------------------------
// 8-bit tables with AVX-512 VBMI: a 256-entry table is four 64-byte registers;
// two two-register byte permutes and a blend on bit 7 look up 64 samples.
// Interleaved 3- and 4-component pictures look every vector up in each
// component's table and merge by the component of each byte.
// ---------------------------------------------------------------------------

// Per-component tables of 256 entries with the index mask folded in, built
// once per call from the caller's table (only its valid entries are read).
struct Tables8 {
    alignas(64) u8 t[4][256];
};

void BuildTables8(Tables8& out, const u8* tab, size_t tableComps, size_t comps, u8 mask)
{
    for (size_t k = 0; k < comps; ++k)
        for (size_t v = 0; v < 256; ++v)
            out.t[k][v] = tableComps == 1 ? tab[v & mask] : tab[size_t(v & mask) * tableComps + k];
}

KZ_TARGET_AVX512 inline __m512i Lookup256(const __m512i* t, __m512i idx)
{
    const __m512i lo = _mm512_permutex2var_epi8(t[0], idx, t[1]);
    const __m512i hi = _mm512_permutex2var_epi8(t[2], idx, t[3]);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(idx), lo, hi);
}

// Looks a vector up in the table of each component and blends by sample phase.
// A plain function rather than a lambda: lambdas do not inherit the target
// attributes of the function they sit in under every compiler.
KZ_TARGET_AVX512 inline __m512i LookupComps(const __m512i (*t)[4], const __mmask64 (*sel)[4], unsigned comps,
                                            __m512i v, unsigned phase)
{
    __m512i r = Lookup256(t[0], v);
    for (unsigned k = 1; k < comps; ++k)
        r = _mm512_mask_blend_epi8(sel[phase][k], r, Lookup256(t[k], v));
    return r;
}

// comps is 1 (one table for every sample), 3 or 4.
KZ_TARGET_AVX512 __attribute__((noinline)) void LutRows8Vbmi(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                             kz_uint32 srcRowBytes, const Tables8& tables,
                                                             unsigned comps, size_t n, size_t rows)
{
    __m512i t[4][4];
    for (unsigned k = 0; k < comps; ++k)
        for (int q = 0; q < 4; ++q)
            t[k][q] = _mm512_load_si512(reinterpret_cast<const void*>(tables.t[k] + 64 * q));
    // Byte masks of component k for a vector starting at sample phase p.
    __mmask64 sel[3][4] = {};
    for (unsigned p = 0; p < 3; ++p)
        for (unsigned b = 0; b < 64; ++b)
            sel[p][(p + b) % comps] |= __mmask64(1) << b;
    for (size_t r = 0; r < rows; ++r) {
        u8* d = KzRow<u8>(dst, dstRowBytes, r);
        const u8* s = KzRow<u8>(src, srcRowBytes, r);
        const uintptr_t da = reinterpret_cast<uintptr_t>(d), sa = reinterpret_cast<uintptr_t>(s);
        if (da != sa && da < sa + n && sa < da + n) {
            // Partial overlap: sample by sample, each read before its write.
            for (size_t i = 0; i < n; ++i)
                d[i] = tables.t[i % comps][s[i]];
            continue;
        }
        size_t j = 0;
        unsigned phase = 0;
        const unsigned step = 64 % comps;
        for (; j + 64 <= n; j += 64) {
            const __m512i v = _mm512_loadu_si512(s + j);
            _mm512_storeu_si512(d + j, LookupComps(t, sel, comps, v, phase));
            phase += step;
            phase = phase >= comps ? phase - comps : phase;
        }
        if (j < n) {
            const __mmask64 tail = (~__mmask64(0)) >> (64 - (n - j));
            const __m512i v = _mm512_maskz_loadu_epi8(tail, s + j);
            _mm512_mask_storeu_epi8(d + j, tail, LookupComps(t, sel, comps, v, phase));
        }
    }
}

// Runs the VBMI path when it applies (8-bit samples, flat table or 3/4
// components, rows of at least one vector); false otherwise.
template <class T>
bool TryLutVbmi(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const T* tab,
                kz_uint32 tableComps, kz_uint32 picComps, T mask, kz_uint32 width, kz_uint32 count)
{
    if constexpr (sizeof(T) != 1) {
        return false;
    } else {
        if (KzCpuIsa() != KzIsa::Avx512)
            return false;
        const size_t n = size_t(width) * picComps;
        if (n < 64)
            return false;
        const unsigned comps = tableComps == 1 ? 1u : picComps;
        if (comps != 1 && comps != 3 && comps != 4)
            return false;
        Tables8 tables;
        BuildTables8(tables, tab, tableComps, comps, mask);
        LutRows8Vbmi(dst, dstRowBytes, src, srcRowBytes, tables, comps, n, KzRowCount(width, count));
        return true;
    }
}

template <class T>
void ApplyBlock(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const T* tab,
                kz_uint32 tableComps, kz_uint32 picComps, T mask, kz_uint32 width, kz_uint32 count)
{
    if (KzRowCount(width, count) == 0 || picComps == 0 || !tab)
        return;
    if (TryLutVbmi<T>(dst, dstRowBytes, src, srcRowBytes, tab, tableComps, picComps, mask, width, count))
        return;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        if (tableComps == 1)
            return BlockPicture<T, 1>(dst, dstRowBytes, src, srcRowBytes, tab, mask, 1, size_t(width) * picComps,
                                      width, count);
        switch (picComps) {
        case 3:
            return BlockPicture<T, 3>(dst, dstRowBytes, src, srcRowBytes, tab, mask, 3, width, width, count);
        case 4:
            return BlockPicture<T, 4>(dst, dstRowBytes, src, srcRowBytes, tab, mask, 4, width, width, count);
        default:
            return BlockPicture<T, 0>(dst, dstRowBytes, src, srcRowBytes, tab, mask, picComps, width, width, count);
        }
    });
}

// A row-pointer LUT whose rows 0..rows-1 follow each other in one block (the
// layout the library's tables have) is applied as that block, one load per
// sample; the check costs one pass over the pointers and is only made when
// the picture has at least as many samples as the table has rows.
template <class T>
const T* ContiguousBlock(const T* const* lut, size_t rows, size_t comps, size_t samples)
{
    if (samples < rows)
        return nullptr;
    const uintptr_t base = reinterpret_cast<uintptr_t>(lut[0]);
    const uintptr_t step = comps * sizeof(T);
    for (size_t v = 1; v < rows; ++v)
        if (reinterpret_cast<uintptr_t>(lut[v]) != base + v * step)
            return nullptr;
    return lut[0];
}

template <class T, unsigned C>
void PointerPicture(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const T* const* lut,
                    T mask, size_t comps, kz_uint32 width, kz_uint32 count)
{
    const size_t rows = KzRowCount(width, count);
    const size_t cc = C ? C : comps;
    for (size_t r = 0; r < rows; ++r) {
        T* d = KzRow<T>(dst, dstRowBytes, r);
        const T* s = KzRow<T>(src, srcRowBytes, r);
        for (size_t i = 0; i < width; ++i, d += cc, s += cc)
            for (size_t k = 0; k < cc; ++k)
                d[k] = lut[s[k] & mask][k];
    }
}

// Distance ahead of the current step whose source line is prefetched. A
// prefetch never faults; the address is formed as an integer, as it may lie
// past the end of the picture.
constexpr uintptr_t kLutPrefetchBytes = 2048;

// Three 16-bit components through three separate tables (one plane per
// component, copied from the caller's rows), four pixels a step in 64-bit
// words; the same lookups as the plain loop, one load each. Rows are in
// place or apart from their source. Full: 16-bit tables, whose index mask
// leaves every sample whole (no masking instructions in the loop).
template <bool Full>
void PlanarPicture3x16(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const u16* planes,
                       size_t entries, u16 mask, kz_uint32 width, kz_uint32 count)
{
    const size_t rows = KzRowCount(width, count);
    const u16* const t0 = planes;
    const u16* const t1 = planes + entries;
    const u16* const t2 = planes + 2 * entries;
    const uint64_t m = Full ? 0xFFFF : mask;
    for (size_t r = 0; r < rows; ++r) {
        u16* d = KzRow<u16>(dst, dstRowBytes, r);
        const u16* s = KzRow<u16>(src, srcRowBytes, r);
        size_t i = 0;
        // All twelve samples of a step are read before any is written (the
        // rows are in place or apart).
        for (; i + 4 <= width; i += 4, d += 12, s += 12) {
            // The source is fetched ahead into the first-level cache only:
            // passing through the second level it would push the tables
            // out, and most lookups would then wait on the third.
            const uintptr_t ahead = reinterpret_cast<uintptr_t>(s) + kLutPrefetchBytes;
            _mm_prefetch(reinterpret_cast<const char*>(ahead), _MM_HINT_NTA);
            uint64_t w0, w1, w2;
            std::memcpy(&w0, s, 8);
            std::memcpy(&w1, s + 4, 8);
            std::memcpy(&w2, s + 8, 8);
            const uint64_t o0 = uint64_t(t0[w0 & m]) | uint64_t(t1[(w0 >> 16) & m]) << 16 |
                                uint64_t(t2[(w0 >> 32) & m]) << 32 | uint64_t(t0[(w0 >> 48) & m]) << 48;
            const uint64_t o1 = uint64_t(t1[w1 & m]) | uint64_t(t2[(w1 >> 16) & m]) << 16 |
                                uint64_t(t0[(w1 >> 32) & m]) << 32 | uint64_t(t1[(w1 >> 48) & m]) << 48;
            const uint64_t o2 = uint64_t(t2[w2 & m]) | uint64_t(t0[(w2 >> 16) & m]) << 16 |
                                uint64_t(t1[(w2 >> 32) & m]) << 32 | uint64_t(t2[(w2 >> 48) & m]) << 48;
            std::memcpy(d, &o0, 8);
            std::memcpy(d + 4, &o1, 8);
            std::memcpy(d + 8, &o2, 8);
        }
        for (; i < width; ++i, d += 3, s += 3) {
            const u16 a = t0[s[0] & m], b = t1[s[1] & m], c = t2[s[2] & m];
            d[0] = a;
            d[1] = b;
            d[2] = c;
        }
    }
}

template <class T>
void ApplyRowPointers(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const T* const* lut,
                      kz_uint32 comps, T mask, kz_uint32 width, kz_uint32 count)
{
    const size_t rows = KzRowCount(width, count);
    if (rows == 0 || comps == 0 || !lut)
        return;
    const size_t samples = rows * width * size_t(comps);
    if constexpr (sizeof(T) == 2) {
        // A large picture of three components copies the tables into three
        // planes first (a small part of the work when the picture holds
        // several times more samples than the tables entries).
        // Only in place or apart: rows that partly overlap keep the loops below.
        const size_t entries = size_t(mask) + 1;
        const uintptr_t d0 = reinterpret_cast<uintptr_t>(dst), s0 = reinterpret_cast<uintptr_t>(src);
        const uintptr_t dEnd = d0 + (rows - 1) * size_t(dstRowBytes) + size_t(width) * 6;
        const uintptr_t sEnd = s0 + (rows - 1) * size_t(srcRowBytes) + size_t(width) * 6;
        const bool inPlaceOrApart = (d0 == s0 && dstRowBytes == srcRowBytes) || dEnd <= s0 || sEnd <= d0;
        if (comps == 3 && samples >= 8 * 3 * entries && inPlaceOrApart) {
            std::unique_ptr<u16[]> planes(new (std::nothrow) u16[3 * entries]);
            if (planes) {
                u16* const p0 = planes.get();
                u16* const p1 = p0 + entries;
                u16* const p2 = p1 + entries;
                if (const T* block = ContiguousBlock(lut, entries, 3, samples)) {
                    for (size_t v = 0; v < entries; ++v) {
                        p0[v] = block[3 * v];
                        p1[v] = block[3 * v + 1];
                        p2[v] = block[3 * v + 2];
                    }
                } else {
                    for (size_t v = 0; v < entries; ++v) {
                        const T* row = lut[v];
                        p0[v] = row[0];
                        p1[v] = row[1];
                        p2[v] = row[2];
                    }
                }
                const auto planar = mask == 0xFFFF ? PlanarPicture3x16<true> : PlanarPicture3x16<false>;
                return planar(dst, dstRowBytes, src, srcRowBytes, planes.get(), entries, mask, width, count);
            }
        }
    }
    if (const T* block = ContiguousBlock(lut, size_t(mask) + 1, comps, samples))
        return ApplyBlock<T>(dst, dstRowBytes, src, srcRowBytes, block, comps, comps, mask, width, count);
    switch (comps) {
    case 3:
        return PointerPicture<T, 3>(dst, dstRowBytes, src, srcRowBytes, lut, mask, 3, width, count);
    case 4:
        return PointerPicture<T, 4>(dst, dstRowBytes, src, srcRowBytes, lut, mask, 4, width, count);
    default:
        return PointerPicture<T, 0>(dst, dstRowBytes, src, srcRowBytes, lut, mask, comps, width, count);
    }
}

constexpr u16 Mask16(kz_uint32 bits) { return KzDepthLimit<u16>(bits); }

// Exposure marking of 3-component 8-bit pixels. Components are tested 2, 1, 0;
// for each the under-exposure test (sample 0) comes before the over-exposure
// test (sample M). The first test that holds decides the pixel.
void ApplyMarked(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const u8* const* lut,
                 const SKzLutExpColor* over, const SKzLutExpColor* under, kz_uint32 bits, kz_uint32 width,
                 kz_uint32 count)
{
    const size_t rows = KzRowCount(width, count);
    if (rows == 0 || !lut)
        return;
    const u8 mask = KzIndexMask8(bits);
    const u8 maxValue = mask;
    for (size_t r = 0; r < rows; ++r) {
        u8* d = KzRow<u8>(dst, dstRowBytes, r);
        const u8* s = KzRow<u8>(src, srcRowBytes, r);
        for (size_t i = 0; i < width; ++i, d += 3, s += 3) {
            const u8 v[3] = {s[0], s[1], s[2]};
            const SKzLutExpColor* rec = nullptr;
            int decider = -1;
            for (int k = 2; k >= 0 && !rec; --k) {
                if (under && v[k] == 0)
                    rec = under;
                else if (over && v[k] == maxValue)
                    rec = over;
                if (rec)
                    decider = k;
            }
            if (!rec) {
                for (int k = 0; k < 3; ++k)
                    d[k] = lut[v[k] & mask][k];
            } else if (rec->flag == 0) {
                d[0] = rec->blue;
                d[1] = rec->green;
                d[2] = rec->red;
            } else {
                for (int k = 0; k < 3; ++k)
                    d[k] = (k == decider) ? 0 : 255;
            }
        }
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Internal entry points
// ---------------------------------------------------------------------------

void kzk::ApplyBlockLut8(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const u8* block,
                         kz_uint32 tableComponents, kz_uint32 pictureComponents, u8 mask, kz_uint32 width,
                         kz_uint32 count)
{
    ApplyBlock<u8>(dst, dstRowBytes, src, srcRowBytes, block, tableComponents, pictureComponents, mask, width, count);
}

void kzk::ApplyBlockLut16(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes,
                          const u16* block, kz_uint32 tableComponents, kz_uint32 pictureComponents, u16 mask,
                          kz_uint32 width, kz_uint32 count)
{
    ApplyBlock<u16>(dst, dstRowBytes, src, srcRowBytes, block, tableComponents, pictureComponents, mask, width,
                    count);
}

// ---------------------------------------------------------------------------
// Calculation family
// ---------------------------------------------------------------------------

KZ_CAPI void calcluts_1x8(u8* lut, const double* add, const double* mul, const double* power, kz_uint32 bits)
{
    CalcPowerLaw<u8>(nullptr, lut, add, mul, power, 1, bits);
}
KZ_CAPI void calcluts_1x16(u16* lut, const double* add, const double* mul, const double* power, kz_uint32 bits)
{
    CalcPowerLaw<u16>(nullptr, lut, add, mul, power, 1, bits);
}
KZ_CAPI void calcluts_Nx8(u8** lut, const double* add, const double* mul, const double* power, kz_uint32 components,
                          kz_uint32 bits)
{
    CalcPowerLaw<u8>(lut, nullptr, add, mul, power, components, bits);
}
KZ_CAPI void calcluts_Nx16(u16** lut, const double* add, const double* mul, const double* power,
                           kz_uint32 components, kz_uint32 bits)
{
    CalcPowerLaw<u16>(lut, nullptr, add, mul, power, components, bits);
}
KZ_CAPI void min_calcluts_1x8(u8* lut, const double* constant, kz_uint32 bits)
{
    CalcMinMax<u8>(nullptr, lut, constant, 1, bits, false);
}
KZ_CAPI void max_calcluts_1x8(u8* lut, const double* constant, kz_uint32 bits)
{
    CalcMinMax<u8>(nullptr, lut, constant, 1, bits, true);
}
KZ_CAPI void min_calcluts_1x16(u16* lut, const double* constant, kz_uint32 bits)
{
    CalcMinMax<u16>(nullptr, lut, constant, 1, bits, false);
}
KZ_CAPI void max_calcluts_1x16(u16* lut, const double* constant, kz_uint32 bits)
{
    CalcMinMax<u16>(nullptr, lut, constant, 1, bits, true);
}
KZ_CAPI void min_calcluts_Nx8(u8** lut, const double* constants, kz_uint32 components, kz_uint32 bits)
{
    CalcMinMax<u8>(lut, nullptr, constants, components, bits, false);
}
KZ_CAPI void max_calcluts_Nx8(u8** lut, const double* constants, kz_uint32 components, kz_uint32 bits)
{
    CalcMinMax<u8>(lut, nullptr, constants, components, bits, true);
}
KZ_CAPI void min_calcluts_Nx16(u16** lut, const double* constants, kz_uint32 components, kz_uint32 bits)
{
    CalcMinMax<u16>(lut, nullptr, constants, components, bits, false);
}
KZ_CAPI void max_calcluts_Nx16(u16** lut, const double* constants, kz_uint32 components, kz_uint32 bits)
{
    CalcMinMax<u16>(lut, nullptr, constants, components, bits, true);
}
KZ_CAPI void calcluts_Nx8_rotate(u8** lut, const double* add, kz_uint32 components, kz_uint32 bits)
{
    CalcRotate<u8>(lut, add, components, bits);
}
KZ_CAPI void calcluts_Nx16_rotate(u16** lut, const double* add, kz_uint32 components, kz_uint32 bits)
{
    CalcRotate<u16>(lut, add, components, bits);
}

// ---------------------------------------------------------------------------
// Application family
// ---------------------------------------------------------------------------

#define KZK_ARGS void *dst, kz_uint32 dstRowBytes, const void *src, kz_uint32 srcRowBytes
#define KZK_PASS dst, dstRowBytes, src, srcRowBytes
#define KZK_TAILARGS kz_uint32 components, kz_uint32 bits, kz_uint32 width, kz_uint32 count

KZ_CAPI int applyluts_1x8(KZK_ARGS, const u8* lut, KZK_TAILARGS)
{
    ApplyBlock<u8>(KZK_PASS, lut, 1, 1, KzIndexMask8(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_3x8(KZK_ARGS, const u8* const* lut, KZK_TAILARGS)
{
    ApplyRowPointers<u8>(KZK_PASS, lut, 3, KzIndexMask8(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_4x8(KZK_ARGS, const u8* const* lut, KZK_TAILARGS)
{
    ApplyRowPointers<u8>(KZK_PASS, lut, 4, KzIndexMask8(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_3x8_lut1(KZK_ARGS, const u8* lut, KZK_TAILARGS)
{
    ApplyBlock<u8>(KZK_PASS, lut, 1, 3, KzIndexMask8(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_4x8_lut1(KZK_ARGS, const u8* lut, KZK_TAILARGS)
{
    ApplyBlock<u8>(KZK_PASS, lut, 1, 4, KzIndexMask8(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_Nx8(KZK_ARGS, const u8* const* lut, KZK_TAILARGS)
{
    ApplyRowPointers<u8>(KZK_PASS, lut, components, KzIndexMask8(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_Nx8_lut1(KZK_ARGS, const u8* lut, KZK_TAILARGS)
{
    ApplyBlock<u8>(KZK_PASS, lut, 1, components, KzIndexMask8(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_1x16(KZK_ARGS, const u16* lut, KZK_TAILARGS)
{
    ApplyBlock<u16>(KZK_PASS, lut, 1, 1, Mask16(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_3x16(KZK_ARGS, const u16* const* lut, KZK_TAILARGS)
{
    ApplyRowPointers<u16>(KZK_PASS, lut, 3, Mask16(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_4x16(KZK_ARGS, const u16* const* lut, KZK_TAILARGS)
{
    ApplyRowPointers<u16>(KZK_PASS, lut, 4, Mask16(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_3x16_lut1(KZK_ARGS, const u16* lut, KZK_TAILARGS)
{
    ApplyBlock<u16>(KZK_PASS, lut, 1, 3, Mask16(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_4x16_lut1(KZK_ARGS, const u16* lut, KZK_TAILARGS)
{
    ApplyBlock<u16>(KZK_PASS, lut, 1, 4, Mask16(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_Nx16(KZK_ARGS, const u16* const* lut, KZK_TAILARGS)
{
    ApplyRowPointers<u16>(KZK_PASS, lut, components, Mask16(bits), width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_Nx16_lut1(KZK_ARGS, const u16* lut, KZK_TAILARGS)
{
    ApplyBlock<u16>(KZK_PASS, lut, 1, components, Mask16(bits), width, count);
    return KZ_OK;
}

KZ_CAPI int applyluts_3x8_overexp(KZK_ARGS, const u8* const* lut, const SKzLutExpColor* over, KZK_TAILARGS)
{
    if (!over)
        return applyluts_3x8(KZK_PASS, lut, components, bits, width, count);
    ApplyMarked(KZK_PASS, lut, over, nullptr, bits, width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_3x8_underexp(KZK_ARGS, const u8* const* lut, const SKzLutExpColor* under, KZK_TAILARGS)
{
    if (!under)
        return applyluts_3x8(KZK_PASS, lut, components, bits, width, count);
    ApplyMarked(KZK_PASS, lut, nullptr, under, bits, width, count);
    return KZ_OK;
}
KZ_CAPI int applyluts_3x8_overexp_underexp(KZK_ARGS, const u8* const* lut, const SKzLutExpColor* over,
                                           const SKzLutExpColor* under, KZK_TAILARGS)
{
    if (!over && !under)
        return applyluts_3x8(KZK_PASS, lut, components, bits, width, count);
    ApplyMarked(KZK_PASS, lut, over, under, bits, width, count);
    return KZ_OK;
}
