// Composition of 8-bit channels into 8-bit true colour, with and without
// exposure marking, and the add composition.
#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/internal/KzKernelsComposeImpl.h"

using namespace kzc;

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
