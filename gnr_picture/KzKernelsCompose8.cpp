// Composition of 8-bit channels into 8-bit true colour, with and without
// exposure marking, and the add composition.
#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/internal/KzKernelsComposeImpl.h"

#include <immintrin.h>

using namespace kzc;

namespace kzc {

namespace {

// Byte-permute index tables of the 64-pixel blocks.
struct PermuteTables {
    // Sample k of pixel i of three-sample pixels: byte 3 i + k of 192 bytes.
    alignas(64) uint8_t pick3[3][64];
    // Output bytes 64 m .. 64 m + 63 of interleaved blue, green, red: byte j
    // is plane (j % 3) at pixel j / 3; index into (blue | green) as 0..127,
    // red as 0..63.
    alignas(64) uint8_t out[3][64];
    uint64_t redMask[3];
    constexpr PermuteTables() : pick3{}, out{}, redMask{}
    {
        for (int k = 0; k < 3; ++k)
            for (int i = 0; i < 64; ++i)
                pick3[k][i] = uint8_t(3 * i + k);
        for (int m = 0; m < 3; ++m)
            for (int j = 0; j < 64; ++j) {
                const int b = 64 * m + j, px = b / 3, c = b % 3;
                out[m][j] = uint8_t(c == 1 ? 64 + px : px);
                if (c == 2)
                    redMask[m] |= uint64_t(1) << j;
            }
    }
};
constexpr PermuteTables kPermute{};

KZ_TARGET_AVX512 inline __m512i Lookup256(__m512i x, const uint8_t* plane)
{
    const __m512i t0 = _mm512_loadu_si512(plane), t1 = _mm512_loadu_si512(plane + 64);
    const __m512i t2 = _mm512_loadu_si512(plane + 128), t3 = _mm512_loadu_si512(plane + 192);
    const __m512i lo = _mm512_permutex2var_epi8(t0, x, t1);
    const __m512i hi = _mm512_permutex2var_epi8(t2, x, t3);
    return _mm512_mask_blend_epi8(_mm512_movepi8_mask(x), lo, hi);
}

}  // namespace

KZ_TARGET_AVX512 __attribute__((noinline)) size_t GatherPlanesAvx512(uint8_t* out, const uint8_t* s, size_t n,
                                                                      size_t cnt, const uint8_t* planes)
{
    const __m512i o0 = _mm512_load_si512(kPermute.out[0]), o1 = _mm512_load_si512(kPermute.out[1]),
                  o2 = _mm512_load_si512(kPermute.out[2]);
    size_t i = 0;
    for (; i + 64 <= cnt; i += 64) {
        __m512i x;
        if (n == 1) {
            x = _mm512_loadu_si512(s + i);
        } else {
            // s points at this component's first sample; the 64 pixels span
            // 192 bytes from s - k .. but only bytes s .. s + 190 are read.
            const uint8_t* p = s + 3 * i;
            const __m512i r0 = _mm512_loadu_si512(p), r1 = _mm512_loadu_si512(p + 64);
            const __m512i r2 = _mm512_maskz_loadu_epi8(0x7FFFFFFFFFFFFFFFull >> 1, p + 128);
            const __m512i idx = _mm512_load_si512(kPermute.pick3[0]);
            const __m512i t = _mm512_permutex2var_epi8(r0, idx, r1);
            x = _mm512_mask_permutexvar_epi8(t, _mm512_movepi8_mask(idx), idx, r2);
        }
        const __m512i b = Lookup256(x, planes), g = Lookup256(x, planes + 256), r = Lookup256(x, planes + 512);
        uint8_t* d = out + 3 * i;
        _mm512_storeu_si512(d, _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(b, o0, g),
                                                            __mmask64(kPermute.redMask[0]), o0, r));
        _mm512_storeu_si512(d + 64, _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(b, o1, g),
                                                                 __mmask64(kPermute.redMask[1]), o1, r));
        _mm512_storeu_si512(d + 128, _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(b, o2, g),
                                                                  __mmask64(kPermute.redMask[2]), o2, r));
    }
    return i;
}

}  // namespace kzc

namespace {

inline int Fixed8(u8* dst, kz_uint32 dstStride, const u8* src, kz_uint32 srcStride, KzCompLut8 table,
                  KzMaskWords mask, uint32_t n, const SKzLutExpColor* over, const SKzLutExpColor* under,
                  kz_uint32 width, kz_uint32 count)
{
    return Run3x8<uint8_t>(dst, dstStride, src, srcStride, n, table, FixedVisibility(mask, n), over, under, 0xFF, 255,
                           width, count);
}

inline int Count8(u8* dst, kz_uint32 dstStride, const u8* src, kz_uint32 nComps, kz_uint32 srcStride,
                  KzCompLut8 table, KzMaskWords mask, const SKzLutExpColor* over, const SKzLutExpColor* under,
                  kz_uint32 width, kz_uint32 count)
{
    return Run3x8<uint8_t>(dst, dstStride, src, srcStride, nComps, table, CountVisibility(mask, nComps), over, under,
                           0xFF, 255, width, count);
}

inline int One8(u8* dst, kz_uint32 dstStride, const u8* src, kz_uint32 srcStride, KzRowLut8 table,
                const SKzLutExpColor* over, const SKzLutExpColor* under, kz_uint32 width, kz_uint32 count)
{
    return Run3x8<uint8_t>(dst, dstStride, src, srcStride, 1, &table, Visibility{}, over, under, 0xFF, 255, width,
                           count);
}

}  // namespace

KZ_CAPI int mapcomp_1x8_3x8(KZC_DST8, const u8* src, kz_uint32 srcStride, KzRowLut8 table, KZC_TAIL)
{
    return One8(dst, dstStride, src, srcStride, table, nullptr, nullptr, width, count);
}

#define KZC_FIXED8(n)                                                                                          \
    KZ_CAPI int mapcomp_##n##x8_3x8(KZC_DST8, const u8* src, kz_uint32 srcStride, KzCompLut8 table,            \
                                    KzMaskWords mask, KZC_TAIL)                                                \
    {                                                                                                          \
        return Fixed8(dst, dstStride, src, srcStride, table, mask, n, nullptr, nullptr, width, count);         \
    }                                                                                                          \
    KZ_CAPI int mapcomp_##n##x8_3x8_overexp(KZC_DST8, const u8* src, kz_uint32 srcStride, KzCompLut8 table,    \
                                            KzMaskWords mask, const SKzLutExpColor* over, KZC_TAIL)            \
    {                                                                                                          \
        return Fixed8(dst, dstStride, src, srcStride, table, mask, n, over, nullptr, width, count);            \
    }                                                                                                          \
    KZ_CAPI int mapcomp_##n##x8_3x8_underexp(KZC_DST8, const u8* src, kz_uint32 srcStride, KzCompLut8 table,   \
                                             KzMaskWords mask, const SKzLutExpColor* under, KZC_TAIL)          \
    {                                                                                                          \
        return Fixed8(dst, dstStride, src, srcStride, table, mask, n, nullptr, under, width, count);           \
    }                                                                                                          \
    KZ_CAPI int mapcomp_##n##x8_3x8_overexp_underexp(KZC_DST8, const u8* src, kz_uint32 srcStride,             \
                                                     KzCompLut8 table, KzMaskWords mask,                       \
                                                     const SKzLutExpColor* over, const SKzLutExpColor* under,  \
                                                     KZC_TAIL)                                                 \
    {                                                                                                          \
        return Fixed8(dst, dstStride, src, srcStride, table, mask, n, over, under, width, count);              \
    }

KZC_FIXED8(2)
KZC_FIXED8(3)
KZC_FIXED8(4)
KZC_FIXED8(5)
KZC_FIXED8(6)

KZ_CAPI int mapcomp_Nx8_3x8(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride, KzCompLut8 table,
                            KzMaskWords mask, KZC_TAIL)
{
    return Count8(dst, dstStride, src, nComps, srcStride, table, mask, nullptr, nullptr, width, count);
}

KZ_CAPI int mapcomp_Nx8_3x8_add(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride, KzCompLut8 table,
                                double gain, KzMaskWords mask, KzMaskWords addMask, KZC_TAIL)
{
    return AddCompose<uint8_t>(dst, dstStride, src, srcStride, nComps, table, gain, mask, addMask, nullptr, 0xFF, 255,
                               width, count);
}

KZ_CAPI int mapcomp_Nx8_3x8_add_overexp(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride,
                                        KzCompLut8 table, double gain, KzMaskWords mask, const u8* overColour,
                                        KzMaskWords addMask, KZC_TAIL)
{
    return AddCompose<uint8_t>(dst, dstStride, src, srcStride, nComps, table, gain, mask, addMask, overColour, 0xFF,
                               255, width, count);
}

KZ_CAPI int mapcomp_Iter1x8_3x8(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride, KzRowLut8 table,
                                const void* /*reserved*/, KZC_TAIL)
{
    const size_t rows = KzRowCount(width, count);
    const size_t n = nComps;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        alignas(64) uint8_t col[3 * kChunk + 4];
        for (size_t r = 0; r < rows; ++r) {
            const u8* s = KzRow<u8>(src, srcStride, r);
            u8* d = KzRow<u8>(dst, dstStride, r);
            for (size_t x0 = 0; x0 < width; x0 += kChunk) {
                const size_t cnt = std::min(kChunk, size_t(width) - x0);
                GatherRows(col, s + x0 * n, n, cnt, table, 0xFF);
                BlendS{}(d + 3 * x0, col, 3 * cnt);
            }
        }
    });
    return KZ_OK;
}

KZ_CAPI int mapcomp_Nx8_Mx8(KZC_DST8, const u8*, kz_uint32, kz_uint32, const void*, KzMaskWords, KZC_TAIL)
{
    (void)dst;
    (void)dstStride;
    (void)width;
    (void)count;
    return KZ_ERR_NOT_SUPPORTED;
}

#define KZC_MARK_N8(tag, OVER, UNDER, ...)                                                                     \
    KZ_CAPI int mapcomp_Nx8_3x8_##tag(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride,          \
                                      KzCompLut8 table, KzMaskWords mask, __VA_ARGS__, KZC_TAIL)               \
    {                                                                                                          \
        return Count8(dst, dstStride, src, nComps, srcStride, table, mask, OVER, UNDER, width, count);         \
    }
KZC_MARK_N8(overexp, over, nullptr, const SKzLutExpColor* over)
KZC_MARK_N8(underexp, nullptr, under, const SKzLutExpColor* under)
KZC_MARK_N8(overexp_underexp, over, under, const SKzLutExpColor* over, const SKzLutExpColor* under)

#define KZC_MARK_18(tag, OVER, UNDER, ...)                                                                     \
    KZ_CAPI int mapcomp_1x8_3x8_##tag(KZC_DST8, const u8* src, kz_uint32 srcStride, KzRowLut8 table,           \
                                      __VA_ARGS__, KZC_TAIL)                                                   \
    {                                                                                                          \
        return One8(dst, dstStride, src, srcStride, table, OVER, UNDER, width, count);                         \
    }
KZC_MARK_18(overexp, over, nullptr, const SKzLutExpColor* over)
KZC_MARK_18(underexp, nullptr, under, const SKzLutExpColor* under)
KZC_MARK_18(overexp_underexp, over, under, const SKzLutExpColor* over, const SKzLutExpColor* under)
