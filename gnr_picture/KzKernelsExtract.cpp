// Value mapping of 1-component pictures and extraction of one component
// through LUTs, with exposure marking and intensity-scaled tables.
#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/KzKernelsC.h"
#include "gnr_picture/internal/KzKernelsInternalK1.h"

namespace {

// Source sample of a pixel: the value at `idx` of every `step` samples.
// Writes C destination components per pixel (C 0: `dstComp` at run time),
// from a flat table (the same entry in every component) or entry k of a
// row-pointer table's row.
template <class TD, class TS, unsigned C, bool Flat>
int MapComponent(void* dst, uint32_t dRB, size_t dstComp, const void* src, uint32_t sRB, size_t step, size_t idx,
                 const TD* flat, const TD* const* rows, TS mask, uint32_t width, uint32_t count)
{
    const size_t n = C ? C : dstComp;
    if (n == 0)
        return KZ_OK;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        const size_t nr = KzRowCount(width, count);
        for (size_t r = 0; r < nr; ++r) {
            TD* __restrict d = KzRow<TD>(dst, dRB, r);
            const TS* __restrict s = KzRow<TS>(src, sRB, r) + idx;
            if constexpr (Flat && C == 1) {
                for (size_t x = 0; x < width; ++x)
                    d[x] = flat[s[x * step] & mask];
            } else {
                for (size_t x = 0; x < width; ++x, d += n) {
                    const size_t v = s[x * step] & mask;
                    if constexpr (Flat) {
                        const TD e = flat[v];
                        if constexpr (C != 0) {
                            for (unsigned k = 0; k < C; ++k)
                                d[k] = e;
                        } else {
                            for (size_t k = 0; k < n; ++k)
                                d[k] = e;
                        }
                    } else {
                        const TD* row = rows[v];
                        if constexpr (C != 0) {
                            for (unsigned k = 0; k < C; ++k)
                                d[k] = row[k];
                        } else {
                            for (size_t k = 0; k < n; ++k)
                                d[k] = row[k];
                        }
                    }
                }
            }
        }
    });
    return KZ_OK;
}

// 3-component 8-bit output marked by one component v: v == 0 takes `under`,
// else v == top takes `over`; complementary colours paint 255 minus the
// table's output for top. Either colour may be null.
template <class TS, bool Flat>
int MarkComponent(void* dst, uint32_t dRB, const void* src, uint32_t sRB, size_t step, size_t idx,
                  const u8* flat, const u8* const* rows, TS top, TS mask, const SKzLutExpColor* over,
                  const SKzLutExpColor* under, uint32_t width, uint32_t count)
{
    if (!over && !under)
        return MapComponent<u8, TS, 3, Flat>(dst, dRB, 3, src, sRB, step, idx, flat, rows, mask, width, count);
    uint8_t comp[3];
    const size_t t = top & mask;
    for (unsigned k = 0; k < 3; ++k)
        comp[k] = uint8_t(255 - (Flat ? flat[t] : rows[t][k]));
    uint8_t paintOver[3] = {0, 0, 0}, paintUnder[3] = {0, 0, 0};
    auto colour = [&](const SKzLutExpColor* c, uint8_t* out) {
        if (!c)
            return;
        if (c->flag) {
            std::memcpy(out, comp, 3);
        } else {
            out[0] = c->blue;
            out[1] = c->green;
            out[2] = c->red;
        }
    };
    colour(over, paintOver);
    colour(under, paintUnder);
    const size_t nr = KzRowCount(width, count);
    for (size_t r = 0; r < nr; ++r) {
        uint8_t* d = KzRow<uint8_t>(dst, dRB, r);
        const TS* s = KzRow<TS>(src, sRB, r) + idx;
        for (size_t x = 0; x < width; ++x, d += 3) {
            const TS v = s[x * step];
            if (under && v == 0) {
                d[0] = paintUnder[0];
                d[1] = paintUnder[1];
                d[2] = paintUnder[2];
            } else if (over && v == top) {
                d[0] = paintOver[0];
                d[1] = paintOver[1];
                d[2] = paintOver[2];
            } else if constexpr (Flat) {
                d[0] = d[1] = d[2] = flat[v & mask];
            } else {
                const u8* row = rows[v & mask];
                d[0] = row[0];
                d[1] = row[1];
                d[2] = row[2];
            }
        }
    }
    return KZ_OK;
}

// Intensity-scaled row-pointer table: entry byte c becomes
// min(255, c * q / 255) with q = round(factor * 255) in 0..65535; with
// `over`, the top entry is the colour's bytes. Hands the call on when the
// component's mask bit is clear.
template <class TS>
int AddComponent(void* dst, uint32_t dRB, const void* src, uint32_t srcComp, uint32_t srcBits, uint32_t sRB,
                 uint32_t srcIdx, const u8* const* rows, const SKzLutExpColor* over, bool withOver, const u64* mask,
                 uint32_t width, uint32_t count, double factor)
{
    if (KzRowCount(width, count) == 0)
        return KZ_OK;
    if (!KzComponentIndexValid(srcIdx, srcComp) || srcBits < 1 || srcBits > sizeof(TS) * 8)
        return KZ_ERR_INVALID_ARG;
    const TS top = KzDepthLimit<TS>(srcBits);
    const bool selected = mask && ((mask[srcIdx / 64] >> (srcIdx % 64)) & 1u);
    if (!selected) {
        if (withOver)
            return MarkComponent<TS, false>(dst, dRB, src, sRB, srcComp, srcIdx, nullptr, rows, top, top, over,
                                            nullptr, width, count);
        return MapComponent<u8, TS, 3, false>(dst, dRB, 3, src, sRB, srcComp, srcIdx, nullptr, rows, top, width,
                                              count);
    }
    const size_t entries = size_t(1) << srcBits;
    KzScratch scratch;
    u8* tab = scratch.Get<u8>(entries * 3);
    u8** ptrs = scratch.Get<u8*>(entries);
    if (!tab || !ptrs)
        return KZ_ERR_OUT_OF_MEMORY;
    // A negative or NaN factor gives 0; a huge one saturates (c q never wraps).
    double x = factor * 255.0;
    if (!(x >= 0.0))
        x = 0.0;
    if (x > 65535.0)
        x = 65535.0;
    const uint32_t q = KzRoundClamp<uint16_t>(x, 65535);
    for (size_t e = 0; e < entries; ++e) {
        for (unsigned k = 0; k < 3; ++k) {
            const uint32_t p = uint32_t(rows[e][k]) * q;
            tab[e * 3 + k] = p > 65279 ? 255 : uint8_t(p / 255);
        }
        ptrs[e] = tab + e * 3;
    }
    if (withOver && over) {
        u8* last = tab + (entries - 1) * 3;
        last[0] = over->blue;
        last[1] = over->green;
        last[2] = over->red;
    }
    return MapComponent<u8, TS, 3, false>(dst, dRB, 3, src, sRB, srcComp, srcIdx, nullptr, ptrs, top, width, count);
}

} // namespace

// ---------------------------------------------------------------------------
// Value mapping
// ---------------------------------------------------------------------------

#define KZC_VAL(name, TD, TS, C, FLAT, TAB)                                                                 \
    KZ_CAPI int name(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, TAB table,   \
                     kz_uint32 width, kz_uint32 count)                                                      \
    {                                                                                                       \
        return MapComponent<TD, TS, C, FLAT>(dst, dstRowBytes, C, src, srcRowBytes, 1, 0, FLAT ? (const TD*)table : nullptr, \
                                             FLAT ? nullptr : (const TD* const*)table, TS(~TS(0)), width, count); \
    }                                                                                                       \
    int name##_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, TAB table,   \
                     kz_uint32 width, kz_uint32 count, kz_uint32 srcBits)                                   \
    {                                                                                                       \
        return MapComponent<TD, TS, C, FLAT>(dst, dstRowBytes, C, src, srcRowBytes, 1, 0, FLAT ? (const TD*)table : nullptr, \
                                             FLAT ? nullptr : (const TD* const*)table, KzDepthLimit<TS>(srcBits), \
                                             width, count);                                                 \
    }
#define KZC_VALN(name, TD, TS)                                                                              \
    KZ_CAPI int name(void* dst, kz_uint32 nComp, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, \
                     const TD* const* table, kz_uint32 width, kz_uint32 count)                              \
    {                                                                                                       \
        return MapComponent<TD, TS, 0, false>(dst, dstRowBytes, nComp, src, srcRowBytes, 1, 0, nullptr, table, \
                                              TS(~TS(0)), width, count);                                    \
    }                                                                                                       \
    int name##_depth(void* dst, kz_uint32 nComp, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, \
                     const TD* const* table, kz_uint32 width, kz_uint32 count, kz_uint32 srcBits)           \
    {                                                                                                       \
        return MapComponent<TD, TS, 0, false>(dst, dstRowBytes, nComp, src, srcRowBytes, 1, 0, nullptr, table, \
                                              KzDepthLimit<TS>(srcBits), width, count);                     \
    }
KZC_VAL(mapvialuts_val8_to_3x8_lut1, u8, uint8_t, 3, true, const u8*)
KZC_VAL(mapvialuts_val8_to_3x8_lut3, u8, uint8_t, 3, false, const u8* const*)
KZC_VALN(mapvialuts_val8_to_Nx8, u8, uint8_t)
KZC_VAL(mapvialuts_val16_to_3x8, u8, uint16_t, 3, false, const u8* const*)
KZC_VAL(mapvialuts_val16_to_3x16, u16, uint16_t, 3, false, const u16* const*)
KZC_VALN(mapvialuts_val16_to_Nx16, u16, uint16_t)
#undef KZC_VAL
#undef KZC_VALN

// ---------------------------------------------------------------------------
// Component kernels
// ---------------------------------------------------------------------------

#define KZC_FLATP(TAB) (std::is_pointer_v<std::remove_pointer_t<TAB>> ? nullptr : (const u8*)(const void*)table)
#define KZC_ROWSP(TAB) (std::is_pointer_v<std::remove_pointer_t<TAB>> ? (const u8* const*)(const void*)table : nullptr)
#define KZC_ISFLAT(TAB) (!std::is_pointer_v<std::remove_pointer_t<TAB>>)

#define KZC_COMP(name, TS, C, TAB)                                                                          \
    KZ_CAPI int name(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes, \
                     kz_uint32 srcIdx, TAB table, kz_uint32 width, kz_uint32 count)                         \
    {                                                                                                       \
        return name##_depth(dst, dstRowBytes, src, srcComp, srcRowBytes, srcIdx, table, width, count, sizeof(TS) * 8); \
    }                                                                                                       \
    int name##_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes, \
                     kz_uint32 srcIdx, TAB table, kz_uint32 width, kz_uint32 count, kz_uint32 srcBits)      \
    {                                                                                                       \
        if (KzRowCount(width, count) == 0)                                                                  \
            return KZ_OK;                                                                                   \
        if (!KzComponentIndexValid(srcIdx, srcComp))                                                        \
            return KZ_ERR_INVALID_ARG;                                                                      \
        return MapComponent<u8, TS, C, KZC_ISFLAT(TAB)>(dst, dstRowBytes, C, src, srcRowBytes, srcComp, srcIdx, \
                                                        KZC_FLATP(TAB), KZC_ROWSP(TAB),                     \
                                                        KzDepthLimit<TS>(srcBits), width, count);           \
    }
#define KZC_COMPN(name, TS, TAB)                                                                            \
    KZ_CAPI int name(void* dst, kz_uint32 dstComp, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, \
                     kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, kz_uint32 width, kz_uint32 count)  \
    {                                                                                                       \
        return name##_depth(dst, dstComp, dstRowBytes, src, srcComp, srcRowBytes, srcIdx, table, width, count, \
                            sizeof(TS) * 8);                                                                \
    }                                                                                                       \
    int name##_depth(void* dst, kz_uint32 dstComp, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, \
                     kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, kz_uint32 width, kz_uint32 count,  \
                     kz_uint32 srcBits)                                                                     \
    {                                                                                                       \
        if (KzRowCount(width, count) == 0)                                                                  \
            return KZ_OK;                                                                                   \
        if (!KzComponentIndexValid(srcIdx, srcComp))                                                        \
            return KZ_ERR_INVALID_ARG;                                                                      \
        return MapComponent<u8, TS, 0, KZC_ISFLAT(TAB)>(dst, dstRowBytes, dstComp, src, srcRowBytes, srcComp, \
                                                        srcIdx, KZC_FLATP(TAB), KZC_ROWSP(TAB),             \
                                                        KzDepthLimit<TS>(srcBits), width, count);           \
    }
// Word sources with srcBits in the argument list (not read by the exported member).
#define KZC_COMPB(name, C, TAB)                                                                             \
    KZ_CAPI int name(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, kz_uint32 unusedBits, \
                     kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, kz_uint32 width, kz_uint32 count)  \
    {                                                                                                       \
        return name##_depth(dst, dstRowBytes, src, srcComp, unusedBits, srcRowBytes, srcIdx, table, width, count, 16); \
    }                                                                                                       \
    int name##_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, kz_uint32,       \
                     kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, kz_uint32 width, kz_uint32 count,  \
                     kz_uint32 srcBits)                                                                     \
    {                                                                                                       \
        if (KzRowCount(width, count) == 0)                                                                  \
            return KZ_OK;                                                                                   \
        if (!KzComponentIndexValid(srcIdx, srcComp))                                                        \
            return KZ_ERR_INVALID_ARG;                                                                      \
        return MapComponent<u8, uint16_t, C, KZC_ISFLAT(TAB)>(dst, dstRowBytes, C, src, srcRowBytes, srcComp, \
                                                              srcIdx, KZC_FLATP(TAB), KZC_ROWSP(TAB),       \
                                                              KzDepthLimit<uint16_t>(srcBits), width, count); \
    }

KZC_COMP(component_lut1_Nx8_to_1x8, uint8_t, 1, const u8*)
KZC_COMP(component_lut1_Nx8_to_3x8, uint8_t, 3, const u8*)
KZC_COMPN(component_lut1_Nx8_to_Nx8, uint8_t, const u8*)
KZC_COMP(component_lut3_Mx8_to_3x8, uint8_t, 3, const u8* const*)
KZC_COMPN(component_lutN_Mx8_to_Nx8, uint8_t, const u8* const*)
KZC_COMP(component_lut1_Nx16_to_1x8, uint16_t, 1, const u8*)
KZC_COMPN(component_lut1_Nx16_to_Nx8, uint16_t, const u8*)
KZC_COMPN(component_lutN_Mx16_to_Nx8, uint16_t, const u8* const*)
KZC_COMPB(component_lut1_Nx16_to_3x8, 3, const u8*)
KZC_COMPB(component_lut3_Mx16_to_3x8, 3, const u8* const*)
#undef KZC_COMP
#undef KZC_COMPN
#undef KZC_COMPB

// Marking members. Byte sources: top 255 (exported) or 2^srcBits - 1 (depth
// entries); word sources: top and mask 2^srcBits - 1 from the argument.
namespace {
template <class TS, bool Flat>
int MarkEntry(void* dst, uint32_t dRB, const void* src, uint32_t srcComp, uint32_t srcBits, uint32_t sRB,
              uint32_t srcIdx, const void* table, const SKzLutExpColor* over, const SKzLutExpColor* under,
              uint32_t width, uint32_t count)
{
    if (KzRowCount(width, count) == 0)
        return KZ_OK;
    if (!KzComponentIndexValid(srcIdx, srcComp))
        return KZ_ERR_INVALID_ARG;
    const TS top = KzDepthLimit<TS>(srcBits);
    return MarkComponent<TS, Flat>(dst, dRB, src, sRB, srcComp, srcIdx,
                                   Flat ? static_cast<const u8*>(table) : nullptr,
                                   Flat ? nullptr : static_cast<const u8* const*>(table), top, top, over, under,
                                   width, count);
}
} // namespace

#define KZC_PM(stem, TAB)                                                                                   \
    KZ_CAPI int stem##_overexp(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp,        \
                               kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, const SKzLutExpColor* over, \
                               kz_uint32 width, kz_uint32 count)                                            \
    {                                                                                                       \
        return MarkEntry<uint8_t, KZC_ISFLAT(TAB)>(dst, dstRowBytes, src, srcComp, 8, srcRowBytes, srcIdx, table, \
                                                   over, nullptr, width, count);                            \
    }                                                                                                       \
    KZ_CAPI int stem##_underexp(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp,       \
                                kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, const SKzLutExpColor* under, \
                                kz_uint32 width, kz_uint32 count)                                           \
    {                                                                                                       \
        return MarkEntry<uint8_t, KZC_ISFLAT(TAB)>(dst, dstRowBytes, src, srcComp, 8, srcRowBytes, srcIdx, table, \
                                                   nullptr, under, width, count);                           \
    }                                                                                                       \
    KZ_CAPI int stem##_overexp_underexp(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, \
                                        kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table,                 \
                                        const SKzLutExpColor* over, const SKzLutExpColor* under, kz_uint32 width, \
                                        kz_uint32 count)                                                    \
    {                                                                                                       \
        return MarkEntry<uint8_t, KZC_ISFLAT(TAB)>(dst, dstRowBytes, src, srcComp, 8, srcRowBytes, srcIdx, table, \
                                                   over, under, width, count);                              \
    }                                                                                                       \
    int stem##_overexp_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp,          \
                             kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, const SKzLutExpColor* over, \
                             kz_uint32 width, kz_uint32 count, kz_uint32 srcBits)                           \
    {                                                                                                       \
        return MarkEntry<uint8_t, KZC_ISFLAT(TAB)>(dst, dstRowBytes, src, srcComp, srcBits, srcRowBytes, srcIdx, \
                                                   table, over, nullptr, width, count);                     \
    }                                                                                                       \
    int stem##_underexp_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp,         \
                              kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, const SKzLutExpColor* under, \
                              kz_uint32 width, kz_uint32 count, kz_uint32 srcBits)                          \
    {                                                                                                       \
        return MarkEntry<uint8_t, KZC_ISFLAT(TAB)>(dst, dstRowBytes, src, srcComp, srcBits, srcRowBytes, srcIdx, \
                                                   table, nullptr, under, width, count);                    \
    }                                                                                                       \
    int stem##_overexp_underexp_depth(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, \
                                      kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table,                   \
                                      const SKzLutExpColor* over, const SKzLutExpColor* under, kz_uint32 width, \
                                      kz_uint32 count, kz_uint32 srcBits)                                   \
    {                                                                                                       \
        return MarkEntry<uint8_t, KZC_ISFLAT(TAB)>(dst, dstRowBytes, src, srcComp, srcBits, srcRowBytes, srcIdx, \
                                                   table, over, under, width, count);                       \
    }
#define KZC_BM(stem, TAB)                                                                                   \
    KZ_CAPI int stem##_overexp(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp,        \
                               kz_uint32 srcBits, kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table,       \
                               const SKzLutExpColor* over, kz_uint32 width, kz_uint32 count)                \
    {                                                                                                       \
        return MarkEntry<uint16_t, KZC_ISFLAT(TAB)>(dst, dstRowBytes, src, srcComp, srcBits, srcRowBytes, srcIdx, \
                                                    table, over, nullptr, width, count);                    \
    }                                                                                                       \
    KZ_CAPI int stem##_underexp(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp,       \
                                kz_uint32 srcBits, kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table,      \
                                const SKzLutExpColor* under, kz_uint32 width, kz_uint32 count)              \
    {                                                                                                       \
        return MarkEntry<uint16_t, KZC_ISFLAT(TAB)>(dst, dstRowBytes, src, srcComp, srcBits, srcRowBytes, srcIdx, \
                                                    table, nullptr, under, width, count);                   \
    }                                                                                                       \
    KZ_CAPI int stem##_overexp_underexp(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, \
                                        kz_uint32 srcBits, kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, \
                                        const SKzLutExpColor* over, const SKzLutExpColor* under, kz_uint32 width, \
                                        kz_uint32 count)                                                    \
    {                                                                                                       \
        return MarkEntry<uint16_t, KZC_ISFLAT(TAB)>(dst, dstRowBytes, src, srcComp, srcBits, srcRowBytes, srcIdx, \
                                                    table, over, under, width, count);                      \
    }
KZC_PM(component_lut1_Nx8_to_3x8, const u8*)
KZC_PM(component_lut3_Mx8_to_3x8, const u8* const*)
KZC_BM(component_lut1_Nx16_to_3x8, const u8*)
KZC_BM(component_lut3_Mx16_to_3x8, const u8* const*)
#undef KZC_PM
#undef KZC_BM

// ---------------------------------------------------------------------------
// Intensity-scaled tables
// ---------------------------------------------------------------------------

KZ_CAPI int component_lut3_Mx8_to_3x8_add(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp,
                                          kz_uint32 srcBits, kz_uint32 srcRowBytes, kz_uint32 srcIdx,
                                          const u8* const* table, const u64* mask, kz_uint32 width, kz_uint32 count,
                                          double factor)
{
    return AddComponent<uint8_t>(dst, dstRowBytes, src, srcComp, srcBits, srcRowBytes, srcIdx, table, nullptr, false,
                                 mask, width, count, factor);
}
KZ_CAPI int component_lut3_Mx16_to_3x8_add(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp,
                                           kz_uint32 srcBits, kz_uint32 srcRowBytes, kz_uint32 srcIdx,
                                           const u8* const* table, const u64* mask, kz_uint32 width,
                                           kz_uint32 count, double factor)
{
    return AddComponent<uint16_t>(dst, dstRowBytes, src, srcComp, srcBits, srcRowBytes, srcIdx, table, nullptr,
                                  false, mask, width, count, factor);
}
KZ_CAPI int component_lut3_Mx8_to_3x8_add_overexp(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                  kz_uint32 srcComp, kz_uint32 srcBits, kz_uint32 srcRowBytes,
                                                  kz_uint32 srcIdx, const u8* const* table,
                                                  const SKzLutExpColor* over, const u64* mask, kz_uint32 width,
                                                  kz_uint32 count, double factor)
{
    return AddComponent<uint8_t>(dst, dstRowBytes, src, srcComp, srcBits, srcRowBytes, srcIdx, table, over, true,
                                 mask, width, count, factor);
}
KZ_CAPI int component_lut3_Mx16_to_3x8_add_overexp(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                   kz_uint32 srcComp, kz_uint32 srcBits, kz_uint32 srcRowBytes,
                                                   kz_uint32 srcIdx, const u8* const* table,
                                                   const SKzLutExpColor* over, const u64* mask, kz_uint32 width,
                                                   kz_uint32 count, double factor)
{
    return AddComponent<uint16_t>(dst, dstRowBytes, src, srcComp, srcBits, srcRowBytes, srcIdx, table, over, true,
                                  mask, width, count, factor);
}
