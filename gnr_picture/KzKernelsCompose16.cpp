// Composition of 9..16-bit channels: into 8-bit true colour (screen blend),
// into three 16-bit words (blend B for fixed counts, R for any count), with
// exposure marking and the add composition.
#pragma GCC optimize("O3", "fp-contract=off", "no-math-errno")
#include "gnr_picture/internal/KzKernelsComposeImpl.h"
#include "gnr_picture/internal/KzKernelsComposeInternal.h"

using namespace kzc;

namespace {

// Depth that leaves a 16-bit sample as it is: the exported members that do
// not read bits index their tables with the raw sample.
constexpr kz_uint32 kRaw = 16;

inline uint32_t IndexMask(kz_uint32 bits) { return KzDepthLimit<uint16_t>(bits); }

inline int Fixed16(u8* dst, kz_uint32 dstStride, const u16* src, kz_uint32 bits, kz_uint32 srcStride,
                   KzCompLut8 table, KzMaskWords mask, uint32_t n, const SKzLutExpColor* over,
                   const SKzLutExpColor* under, kz_uint32 width, kz_uint32 count)
{
    const uint32_t m = IndexMask(bits);
    return Run3x8<uint16_t>(dst, dstStride, src, srcStride, n, table, FixedVisibility(mask, n), over, under, m, m,
                            width, count);
}

inline int Count16(u8* dst, kz_uint32 dstStride, const u16* src, kz_uint32 bits, kz_uint32 srcStride,
                   kz_uint32 nComps, KzCompLut8 table, KzMaskWords mask, const SKzLutExpColor* over,
                   const SKzLutExpColor* under, kz_uint32 width, kz_uint32 count)
{
    const uint32_t m = IndexMask(bits);
    return Run3x8<uint16_t>(dst, dstStride, src, srcStride, nComps, table, CountVisibility(mask, nComps), over, under,
                            m, m, width, count);
}

inline int One16(u8* dst, kz_uint32 dstStride, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzRowLut8 table,
                 const SKzLutExpColor* over, const SKzLutExpColor* under, kz_uint32 width, kz_uint32 count)
{
    const uint32_t m = IndexMask(bits);
    return Run3x8<uint16_t>(dst, dstStride, src, srcStride, 1, &table, Visibility{}, over, under, m, m, width,
                            count);
}

// Fixed-count 16-bit outputs: B needs 1 <= bits <= 16 (it divides by M).
inline int FixedB(u16* dst, kz_uint32 dstStride, const u16* src, kz_uint32 srcStride, kz_uint32 bits,
                  KzCompLut16 table, KzMaskWords mask, uint32_t n, kz_uint32 width, kz_uint32 count)
{
    if (bits == 0 || bits > 16)
        return KZ_ERR_INVALID_ARG;
    const uint32_t m = IndexMask(bits);
    return Run3x16(dst, dstStride, src, srcStride, n, table, FixedVisibility(mask, n), m, BlendB{double(m)}, width,
                   count);
}

}  // namespace

// ---------------------------------------------------------------------------
// Depth-taking entries
// ---------------------------------------------------------------------------

int KzMapCompDepth_1x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzRowLut8 table, KZC_TAIL)
{
    return One16(dst, dstStride, src, bits, srcStride, table, nullptr, nullptr, width, count);
}

#define KZC_DEPTH16(n)                                                                                         \
    int KzMapCompDepth_##n##x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride,             \
                                    KzCompLut8 table, KzMaskWords mask, KZC_TAIL)                              \
    {                                                                                                          \
        return Fixed16(dst, dstStride, src, bits, srcStride, table, mask, n, nullptr, nullptr, width, count);  \
    }
KZC_DEPTH16(2)
KZC_DEPTH16(3)
KZC_DEPTH16(4)
KZC_DEPTH16(5)
KZC_DEPTH16(6)

int KzMapCompDepth_Nx16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, kz_uint32 nComps,
                            KzCompLut8 table, KzMaskWords mask, KZC_TAIL)
{
    return Count16(dst, dstStride, src, bits, srcStride, nComps, table, mask, nullptr, nullptr, width, count);
}

int KzMapCompDepth_Nx16_3x8_add(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, kz_uint32 nComps,
                                KzCompLut8 table, double gain, KzMaskWords mask, KzMaskWords addMask, KZC_TAIL)
{
    const uint32_t m = IndexMask(bits);
    return AddCompose<uint16_t>(dst, dstStride, src, srcStride, nComps, table, gain, mask, addMask, nullptr, m, m,
                                width, count);
}

int KzMapCompDepth_1x16_3x16(KZC_DST16, const u16* src, kz_uint32 srcStride, kz_uint32 bits, KzRowLut16 table,
                             KZC_TAIL)
{
    // One component: the colour itself (no blend is ever applied).
    return Run3x16(dst, dstStride, src, srcStride, 1, &table, Visibility{}, IndexMask(bits), BlendR{}, width, count);
}

int KzMapCompDepth_Nx16_3x16(KZC_DST16, const u16* src, kz_uint32 nComps, kz_uint32 srcStride, kz_uint32 bits,
                             KzCompLut16 table, KzMaskWords mask, KZC_TAIL)
{
    return Run3x16(dst, dstStride, src, srcStride, nComps, table, CountVisibility(mask, nComps), IndexMask(bits),
                   BlendR{}, width, count);
}

// ---------------------------------------------------------------------------
// Exported members
// ---------------------------------------------------------------------------

KZ_CAPI int mapcomp_1x16_3x8(KZC_DST8, const u16* src, kz_uint32, kz_uint32 srcStride, KzRowLut8 table, KZC_TAIL)
{
    return KzMapCompDepth_1x16_3x8(dst, dstStride, src, kRaw, srcStride, table, width, count);
}

#define KZC_FIXED16(n)                                                                                         \
    KZ_CAPI int mapcomp_##n##x16_3x8(KZC_DST8, const u16* src, kz_uint32, kz_uint32 srcStride,                 \
                                     KzCompLut8 table, KzMaskWords mask, KZC_TAIL)                             \
    {                                                                                                          \
        return KzMapCompDepth_##n##x16_3x8(dst, dstStride, src, kRaw, srcStride, table, mask, width, count);   \
    }                                                                                                          \
    KZ_CAPI int mapcomp_##n##x16_3x8_overexp(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride,    \
                                             KzCompLut8 table, KzMaskWords mask, const SKzLutExpColor* over,   \
                                             KZC_TAIL)                                                         \
    {                                                                                                          \
        return Fixed16(dst, dstStride, src, bits, srcStride, table, mask, n, over, nullptr, width, count);     \
    }                                                                                                          \
    KZ_CAPI int mapcomp_##n##x16_3x8_underexp(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride,   \
                                              KzCompLut8 table, KzMaskWords mask,                              \
                                              const SKzLutExpColor* under, KZC_TAIL)                           \
    {                                                                                                          \
        return Fixed16(dst, dstStride, src, bits, srcStride, table, mask, n, nullptr, under, width, count);    \
    }                                                                                                          \
    KZ_CAPI int mapcomp_##n##x16_3x8_overexp_underexp(KZC_DST8, const u16* src, kz_uint32 bits,                \
                                                      kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask, \
                                                      const SKzLutExpColor* over,                              \
                                                      const SKzLutExpColor* under, KZC_TAIL)                   \
    {                                                                                                          \
        return Fixed16(dst, dstStride, src, bits, srcStride, table, mask, n, over, under, width, count);       \
    }                                                                                                          \
    KZ_CAPI int mapcomp_##n##x16_3x16(KZC_DST16, const u16* src, kz_uint32 srcStride, kz_uint32 bits,          \
                                      KzCompLut16 table, KzMaskWords mask, KZC_TAIL)                           \
    {                                                                                                          \
        return FixedB(dst, dstStride, src, srcStride, bits, table, mask, n, width, count);                     \
    }
KZC_FIXED16(2)
KZC_FIXED16(3)
KZC_FIXED16(4)
KZC_FIXED16(5)
KZC_FIXED16(6)

KZ_CAPI int mapcomp_Nx16_3x8(KZC_DST8, const u16* src, kz_uint32, kz_uint32 srcStride, kz_uint32 nComps,
                             KzCompLut8 table, KzMaskWords mask, KZC_TAIL)
{
    return KzMapCompDepth_Nx16_3x8(dst, dstStride, src, kRaw, srcStride, nComps, table, mask, width, count);
}

KZ_CAPI int mapcomp_Nx16_3x8_add(KZC_DST8, const u16* src, kz_uint32, kz_uint32 srcStride, kz_uint32 nComps,
                                 KzCompLut8 table, double gain, KzMaskWords mask, KzMaskWords addMask, KZC_TAIL)
{
    return KzMapCompDepth_Nx16_3x8_add(dst, dstStride, src, kRaw, srcStride, nComps, table, gain, mask, addMask,
                                       width, count);
}

KZ_CAPI int mapcomp_Nx16_3x8_add_overexp(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride,
                                         kz_uint32 nComps, KzCompLut8 table, double gain, KzMaskWords mask,
                                         const u8* overColour, KzMaskWords addMask, KZC_TAIL)
{
    const uint32_t m = IndexMask(bits);
    return AddCompose<uint16_t>(dst, dstStride, src, srcStride, nComps, table, gain, mask, addMask, overColour, m, m,
                                width, count);
}

KZ_CAPI int mapcomp_1x16_3x16(KZC_DST16, const u16* src, kz_uint32 srcStride, kz_uint32, KzRowLut16 table, KZC_TAIL)
{
    return KzMapCompDepth_1x16_3x16(dst, dstStride, src, srcStride, kRaw, table, width, count);
}

KZ_CAPI int mapcomp_Nx16_3x16(KZC_DST16, const u16* src, kz_uint32 nComps, kz_uint32 srcStride, kz_uint32,
                              KzCompLut16 table, KzMaskWords mask, KZC_TAIL)
{
    return KzMapCompDepth_Nx16_3x16(dst, dstStride, src, nComps, srcStride, kRaw, table, mask, width, count);
}

// Marking members of one component and of any count.
#define KZC_MARK_116(tag, OVER, UNDER, ...)                                                                    \
    KZ_CAPI int mapcomp_1x16_3x8_##tag(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride,          \
                                       KzRowLut8 table, __VA_ARGS__, KZC_TAIL)                                 \
    {                                                                                                          \
        return One16(dst, dstStride, src, bits, srcStride, table, OVER, UNDER, width, count);                  \
    }
KZC_MARK_116(overexp, over, nullptr, const SKzLutExpColor* over)
KZC_MARK_116(underexp, nullptr, under, const SKzLutExpColor* under)
KZC_MARK_116(overexp_underexp, over, under, const SKzLutExpColor* over, const SKzLutExpColor* under)

KZ_CAPI int mapcomp_Nx16_3x8_overexp(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, kz_uint32 nComps,
                                     KzCompLut8 table, KzMaskWords mask, const SKzLutExpColor* over, KZC_TAIL)
{
    return Count16(dst, dstStride, src, bits, srcStride, nComps, table, mask, over, nullptr, width, count);
}

KZ_CAPI int mapcomp_Nx16_3x8_underexp(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride,
                                      kz_uint32 nComps, KzCompLut8 table, KzMaskWords mask,
                                      const SKzLutExpColor* under, KZC_TAIL)
{
    return Count16(dst, dstStride, src, bits, srcStride, nComps, table, mask, nullptr, under, width, count);
}

KZ_CAPI int mapcomp_Nx16_3x8_overexp_underexp(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 nComps,
                                              kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask,
                                              const SKzLutExpColor* over, const SKzLutExpColor* under, KZC_TAIL)
{
    return Count16(dst, dstStride, src, bits, srcStride, nComps, table, mask, over, under, width, count);
}
