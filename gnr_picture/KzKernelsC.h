// Exported pixel kernels: bit-depth conversion, component extraction and value
// mapping through LUTs, float-picture kernels and tone mapping, histograms and
// histogram repair.
//
// Every picture is a pointer and its row bytes; row r starts at
// base + r * row bytes. Unless a member says otherwise the last two arguments
// are the width in pixels and the total pixel count: count / width rows are
// processed, a remainder is ignored, and a width of 0 (or a count below the
// width) processes nothing and returns 0. Bytes past a row's last pixel are
// never read or written. Samples: 8-bit in bytes (x8), 9..16-bit in 16-bit
// words (x16), 17..32-bit in 32-bit words (x32), float in 32-bit floats.
// Result codes: 0 success, -2 unsupported counter width, -3 out of memory,
// -4 invalid argument, -9 failed check.
#pragma once

#include "gnr_picture/KzKernelCommon.h"

#define KZC_DST void *dst, kz_uint32 dstRowBytes
#define KZC_SRC const void *src, kz_uint32 srcRowBytes
#define KZC_TAIL kz_uint32 width, kz_uint32 count

// ---------------------------------------------------------------------------
// Bit-depth conversion
// ---------------------------------------------------------------------------

// Shifts. The count follows from the depths (srcBits - 8, dstBits - 8, or
// their difference); a negative count shifts the other way, a count of 16 or
// more gives 0. Results keep the low 8 or 16 bits; nothing is masked.
KZ_CAPI int convert_Nx16_to_Nx8(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcBits,
                                kz_uint32 srcRowBytes, kz_uint32 nComp, KZC_TAIL);
KZ_CAPI int convert_Nx8_to_Nx16(void* dst, kz_uint32 dstBits, kz_uint32 dstRowBytes, const void* src,
                                kz_uint32 srcRowBytes, kz_uint32 nComp, KZC_TAIL);
KZ_CAPI int convert_Nx16_to_Nx16(void* dst, kz_uint32 dstBits, kz_uint32 dstRowBytes, const void* src,
                                 kz_uint32 srcBits, kz_uint32 srcRowBytes, kz_uint32 nComp, KZC_TAIL);
// In place: shift > 0 shifts right, shift < 0 left by -shift (low 16 bits),
// 0 returns at once.
KZ_CAPI int _shift_Nx16_to_Nx16(void* buf, kz_uint32 nComp, kz_uint32 rowBytes, kz_int32 shift, KZC_TAIL);

// Container change: the source container follows srcBits (0..8 byte, 9..16
// word, 17..32 double word; above 32 nothing is written); the value moves
// unchanged, zero-extended or cut to the destination's low bits.
#define KZC_CHANGE(name) KZ_CAPI int name(KZC_DST, KZC_SRC, kz_uint32 srcBits, KZC_TAIL)
#define KZC_CHANGEN(name) KZ_CAPI int name(KZC_DST, KZC_SRC, kz_uint32 srcBits, kz_uint32 nComp, KZC_TAIL)
KZC_CHANGE(changebitdepth_1xN_to_1x08);
KZC_CHANGE(changebitdepth_3xN_to_3x08);
KZC_CHANGEN(changebitdepth_NxM_to_Nx08);
KZC_CHANGE(changebitdepth_1xN_to_1x16);
KZC_CHANGE(changebitdepth_3xN_to_3x16);
KZC_CHANGEN(changebitdepth_NxM_to_Nx16);
KZC_CHANGE(changebitdepth_1xN_to_1x32);
KZC_CHANGE(changebitdepth_3xN_to_3x32);
KZC_CHANGEN(changebitdepth_NxM_to_Nx32);
#undef KZC_CHANGE
#undef KZC_CHANGEN

// Through a LUT whose outputs have the other depth: entry s of a flat LUT
// (`_lut1` and 1-component members) or entry k of row s of a row-pointer LUT.
// The table covers the source container (65536 entries for 16-bit sources);
// callers that know the depth use the depth-taking entries of the library.
#define KZC_L(name, TAB) KZ_CAPI int name(KZC_DST, KZC_SRC, TAB table, KZC_TAIL)
#define KZC_LN(name, TAB) KZ_CAPI int name(KZC_DST, KZC_SRC, TAB table, kz_uint32 nComp, KZC_TAIL)
#define KZC_LB(name, TAB)                                                                                   \
    KZ_CAPI int name(KZC_DST, const void* src, kz_uint32 srcBits, kz_uint32 srcRowBytes, TAB table, KZC_TAIL)
KZC_L(convertbitdepthvialuts_1x16_to_1x8, const u8*);
KZC_LB(convertbitdepthvialuts_3x16_to_3x8, const u8* const*);
KZC_LB(convertbitdepthvialuts_3x16_to_3x8_lut1, const u8*);
KZC_L(convertbitdepthvialuts_4x16_to_4x8, const u8* const*);
KZC_L(convertbitdepthvialuts_4x16_to_4x8_lut1, const u8*);
KZC_LN(convertbitdepthvialuts_Nx16_to_Nx8, const u8* const*);
KZC_LN(convertbitdepthvialuts_Nx16_to_Nx8_lut1, const u8*);
KZC_L(convertbitdepthvialuts_1x8_to_1x16, const u16*);
KZC_L(convertbitdepthvialuts_3x8_to_3x16, const u16* const*);
KZC_L(convertbitdepthvialuts_3x8_to_3x16_lut1, const u16*);
KZC_L(convertbitdepthvialuts_4x8_to_4x16, const u16* const*);
KZC_L(convertbitdepthvialuts_4x8_to_4x16_lut1, const u16*);
KZC_LN(convertbitdepthvialuts_Nx8_to_Nx16, const u16* const*);
KZC_LN(convertbitdepthvialuts_Nx8_to_Nx16_lut1, const u16*);
KZC_L(convertbitdepthvialuts_1x16_to_1x16, const u16*);
KZC_L(convertbitdepthvialuts_3x16_to_3x16, const u16* const*);
KZC_L(convertbitdepthvialuts_3x16_to_3x16_lut1, const u16*);
KZC_L(convertbitdepthvialuts_4x16_to_4x16, const u16* const*);
KZC_L(convertbitdepthvialuts_4x16_to_4x16_lut1, const u16*);
KZC_LN(convertbitdepthvialuts_Nx16_to_Nx16, const u16* const*);
KZC_LN(convertbitdepthvialuts_Nx16_to_Nx16_lut1, const u16*);
#undef KZC_L
#undef KZC_LN
#undef KZC_LB

// 3 x 9..16-bit to 8-bit true colour with exposure marking, M = 2^srcBits - 1:
// tests run component 2, 1, 0, under (sample 0) before over (sample M) for
// each; the first that holds paints the colour (complementary: the deciding
// component 0, the others 255). Samples are masked with M before a lookup;
// the tests compare the raw sample. `_underexp` takes no depth from srcBits
// (its table covers the container). A null colour hands the call on.
KZ_CAPI int convertbitdepthvialuts_3x16_to_3x8_overexp(KZC_DST, const void* src, kz_uint32 srcBits,
                                                       kz_uint32 srcRowBytes, const u8* const* table,
                                                       const SKzLutExpColor* over, KZC_TAIL);
KZ_CAPI int convertbitdepthvialuts_3x16_to_3x8_underexp(KZC_DST, const void* src, kz_uint32 srcBits,
                                                        kz_uint32 srcRowBytes, const u8* const* table,
                                                        const SKzLutExpColor* under, KZC_TAIL);
KZ_CAPI int convertbitdepthvialuts_3x16_to_3x8_overexp_underexp(KZC_DST, const void* src, kz_uint32 srcBits,
                                                                kz_uint32 srcRowBytes, const u8* const* table,
                                                                const SKzLutExpColor* over,
                                                                const SKzLutExpColor* under, KZC_TAIL);
// A pixel with any sample at or above M gets the colour's bytes as stored.
KZ_CAPI int convertbitdepthvialuts_3x16_to_3x8_lut1_overexp(KZC_DST, const void* src, kz_uint32 srcBits,
                                                            kz_uint32 srcRowBytes, const u8* table,
                                                            const SKzLutExpColor* over, KZC_TAIL);

// Linear function per component: q = (v * multiplier - offset) / divisor in
// unsigned 64-bit arithmetic; 16-bit members store min((q + addend) mod 2^16,
// 2^dstBits - 1) (dstBits >= 16: 65535), 8-bit members (q + addend) mod 256.
// A record with divisor 0 gives -4 before anything is written. Record k
// serves component k, any count.
struct SKzLinFunc {
    u64 multiplier;
    u64 offset;
    u64 divisor;
    u64 addend;
};
KZ_CAPI int convertbitdepthvialinfunc_1x32_to_1x16(KZC_DST, kz_uint32 dstBits, KZC_SRC, const SKzLinFunc* funcs,
                                                   KZC_TAIL);
KZ_CAPI int convertbitdepthvialinfunc_3x32_to_3x16(KZC_DST, kz_uint32 dstBits, KZC_SRC, const SKzLinFunc* funcs,
                                                   KZC_TAIL);
KZ_CAPI int convertbitdepthvialinfunc_Mx32_to_Mx16(KZC_DST, kz_uint32 dstBits, KZC_SRC, const SKzLinFunc* funcs,
                                                   kz_uint32 nComp, KZC_TAIL);
KZ_CAPI int convertbitdepthvialinfunc_1x32_to_1x8(KZC_DST, KZC_SRC, const SKzLinFunc* funcs, KZC_TAIL);
KZ_CAPI int convertbitdepthvialinfunc_3x32_to_3x8(KZC_DST, KZC_SRC, const SKzLinFunc* funcs, KZC_TAIL);
KZ_CAPI int convertbitdepthvialinfunc_Mx32_to_Mx8(KZC_DST, KZC_SRC, const SKzLinFunc* funcs, kz_uint32 nComp,
                                                  KZC_TAIL);

// ---------------------------------------------------------------------------
// Value mapping and component extraction through LUTs
// ---------------------------------------------------------------------------

// 1-component source value v to a pixel from the table (flat: v's entry in
// all three components; row-pointer: entry k of row v).
KZ_CAPI int mapvialuts_val8_to_3x8_lut1(KZC_DST, KZC_SRC, const u8* table, KZC_TAIL);
KZ_CAPI int mapvialuts_val8_to_3x8_lut3(KZC_DST, KZC_SRC, const u8* const* table, KZC_TAIL);
KZ_CAPI int mapvialuts_val8_to_Nx8(void* dst, kz_uint32 nComp, kz_uint32 dstRowBytes, KZC_SRC,
                                   const u8* const* table, KZC_TAIL);
KZ_CAPI int mapvialuts_val16_to_3x8(KZC_DST, KZC_SRC, const u8* const* table, KZC_TAIL);
KZ_CAPI int mapvialuts_val16_to_3x16(KZC_DST, KZC_SRC, const u16* const* table, KZC_TAIL);
KZ_CAPI int mapvialuts_val16_to_Nx16(void* dst, kz_uint32 nComp, kz_uint32 dstRowBytes, KZC_SRC,
                                     const u16* const* table, KZC_TAIL);

// Component srcIdx of a srcComp-component picture through a table. srcIdx at
// or past srcComp gives -4. The tables cover the source container.
#define KZC_P(name, TAB)                                                                                    \
    KZ_CAPI int name(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes, kz_uint32 srcIdx,  \
                     TAB table, KZC_TAIL)
#define KZC_PN(name, TAB)                                                                                   \
    KZ_CAPI int name(void* dst, kz_uint32 dstComp, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, \
                     kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, KZC_TAIL)
#define KZC_B(name, TAB)                                                                                    \
    KZ_CAPI int name(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcBits, kz_uint32 srcRowBytes, \
                     kz_uint32 srcIdx, TAB table, KZC_TAIL)
KZC_P(component_lut1_Nx8_to_1x8, const u8*);
KZC_P(component_lut1_Nx8_to_3x8, const u8*);
KZC_PN(component_lut1_Nx8_to_Nx8, const u8*);
KZC_P(component_lut3_Mx8_to_3x8, const u8* const*);
KZC_PN(component_lutN_Mx8_to_Nx8, const u8* const*);
KZC_P(component_lut1_Nx16_to_1x8, const u8*);
KZC_PN(component_lut1_Nx16_to_Nx8, const u8*);
KZC_PN(component_lutN_Mx16_to_Nx8, const u8* const*);
// srcBits is accepted and not read (the table covers the container).
KZC_B(component_lut1_Nx16_to_3x8, const u8*);
KZC_B(component_lut3_Mx16_to_3x8, const u8* const*);
#undef KZC_P
#undef KZC_PN
#undef KZC_B

// Marking by the one component v, top value T (255 for bytes, 2^srcBits - 1
// for words): v == 0 takes the under-exposure colour, else v == T the
// over-exposure colour; complementary colours paint 255 minus the table's
// output for T. Word members mask v with T before a lookup.
#define KZC_PM(stem, TAB)                                                                                   \
    KZ_CAPI int stem##_overexp(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes,          \
                               kz_uint32 srcIdx, TAB table, const SKzLutExpColor* over, KZC_TAIL);          \
    KZ_CAPI int stem##_underexp(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes,         \
                                kz_uint32 srcIdx, TAB table, const SKzLutExpColor* under, KZC_TAIL);        \
    KZ_CAPI int stem##_overexp_underexp(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes, \
                                        kz_uint32 srcIdx, TAB table, const SKzLutExpColor* over,            \
                                        const SKzLutExpColor* under, KZC_TAIL);
#define KZC_BM(stem, TAB)                                                                                   \
    KZ_CAPI int stem##_overexp(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcBits,              \
                               kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, const SKzLutExpColor* over, \
                               KZC_TAIL);                                                                   \
    KZ_CAPI int stem##_underexp(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcBits,             \
                                kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table,                         \
                                const SKzLutExpColor* under, KZC_TAIL);                                     \
    KZ_CAPI int stem##_overexp_underexp(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcBits,     \
                                        kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table,                 \
                                        const SKzLutExpColor* over, const SKzLutExpColor* under, KZC_TAIL);
KZC_PM(component_lut1_Nx8_to_3x8, const u8*)
KZC_PM(component_lut3_Mx8_to_3x8, const u8* const*)
KZC_BM(component_lut1_Nx16_to_3x8, const u8*)
KZC_BM(component_lut3_Mx16_to_3x8, const u8* const*)
#undef KZC_PM
#undef KZC_BM

// Row-pointer table scaled by factor: q = round(factor * 255) limited to
// 0..65535 (negative or NaN: 0), entry byte c becomes min(255, c * q / 255),
// for the components whose bit is set in mask (64-bit words; a clear bit or a
// null mask maps through the unscaled table). `_add_overexp` replaces the top
// entry by the over-exposure colour's bytes. srcBits must be 1..8 (Mx8) or
// 1..16 (Mx16), else -4; a failed scratch table gives -3.
KZ_CAPI int component_lut3_Mx8_to_3x8_add(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcBits,
                                          kz_uint32 srcRowBytes, kz_uint32 srcIdx, const u8* const* table,
                                          const u64* mask, KZC_TAIL, double factor);
KZ_CAPI int component_lut3_Mx16_to_3x8_add(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcBits,
                                           kz_uint32 srcRowBytes, kz_uint32 srcIdx, const u8* const* table,
                                           const u64* mask, KZC_TAIL, double factor);
KZ_CAPI int component_lut3_Mx8_to_3x8_add_overexp(KZC_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcBits,
                                                  kz_uint32 srcRowBytes, kz_uint32 srcIdx, const u8* const* table,
                                                  const SKzLutExpColor* over, const u64* mask, KZC_TAIL,
                                                  double factor);
KZ_CAPI int component_lut3_Mx16_to_3x8_add_overexp(KZC_DST, const void* src, kz_uint32 srcComp,
                                                   kz_uint32 srcBits, kz_uint32 srcRowBytes, kz_uint32 srcIdx,
                                                   const u8* const* table, const SKzLutExpColor* over,
                                                   const u64* mask, KZC_TAIL, double factor);

// ---------------------------------------------------------------------------
// Float pictures (64-bit pixel counts)
// ---------------------------------------------------------------------------

KZ_CAPI int copyfloat(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, kz_uint32 nComp,
                      kz_uint32 width, kz_uint64 count);
KZ_CAPI int set_Nxfloat(void* buf, kz_uint32 nComp, kz_uint32 rowBytes, const float* value, kz_uint32 width,
                        kz_uint64 count);
// Index at or past its component count: -4.
KZ_CAPI int copycomponent_Nxfloat_to_Nxfloat(void* dst, kz_uint32 dstComp, kz_uint32 dstRowBytes, kz_uint32 dstIdx,
                                             const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes,
                                             kz_uint32 srcIdx, kz_uint32 width, kz_uint64 count);
KZ_CAPI int setcomponent_Nxfloat(void* buf, kz_uint32 nComp, kz_uint32 rowBytes, kz_uint32 idx, float value,
                                 kz_uint32 width, kz_uint64 count);

// Integer to float: dst2 (dst2Comp * count floats, no gaps) is cleared; the
// 1xFloat2 members write each pixel's float mean (nComp 0: -4), the 3xFloat2
// members every sample as a float. srcBits is not read.
#define KZC_XF(name)                                                                                        \
    KZ_CAPI int name(void* dst, float* dst2, kz_uint32 dst2Comp, kz_uint32 dstRowBytes, const void* src,     \
                     kz_uint32 srcRowBytes, kz_uint32 srcBits, kz_uint32 nComp, kz_uint32 width, kz_uint64 count)
KZC_XF(extract_Nx8_to_1xFloat2);
KZC_XF(extract_Nx8_to_3xFloat2);
KZC_XF(extract_Nx16_to_1xFloat2);
KZC_XF(extract_Nx16_to_3xFloat2);
#undef KZC_XF
// Float to integer: rounded (v + 0.5 truncated), limited to 0..255 or
// 0..2^dstBits - 1; below 0 and NaN give 0.
#define KZC_FX(name)                                                                                        \
    KZ_CAPI int name(void* dst, const void* reserved, kz_uint32 dstRowBytes, kz_uint32 dstBits, const void* src, \
                     const void* reserved2, kz_uint32 nComp, kz_uint32 srcRowBytes, kz_uint32 width,          \
                     kz_uint64 count)
KZC_FX(extract_Float2_to_Nx8);
KZC_FX(extract_Float2_to_Nx16);
#undef KZC_FX

// Smallest strictly positive value (1e30 when none) and largest value (at
// least 0) of component comp of height rows of width pixels, rows without gaps.
// Index at or past nComp: -4, nothing stored.
KZ_EXPORT int GetExtremes(float* data, unsigned int width, unsigned int height, unsigned int nComp, float* pMin,
                          float* pMax, unsigned int comp);

// Tone mapping of a float picture (rows without gaps) into an 8- or 16-bit
// picture (M = 255 or 65535), per component. NaN or negative results give 0,
// results above M give M.
#define KZC_TM(name)                                                                                        \
    KZ_CAPI int name(void* dst, const void* reserved, kz_uint32 dstRowBytes, const float* src, kz_uint32 width, \
                     kz_uint32 height, kz_uint32 nComp)
#define KZC_TMP(name)                                                                                       \
    KZ_CAPI int name(void* dst, const void* reserved, kz_uint32 dstRowBytes, const float* src, kz_uint32 width, \
                     kz_uint32 height, kz_uint32 nComp, kz_uint32 p)
KZC_TM(map_float_to_Nx8_Tumblin);
KZC_TM(map_float_to_Nx16_Tumblin);
KZC_TMP(map_float_to_Nx8_param_Tumblin);
KZC_TMP(map_float_to_Nx16_param_Tumblin);
KZC_TM(map_float_to_Nx8_Drago);
KZC_TM(map_float_to_Nx16_Drago);
KZC_TM(map_float_to_Nx8_param_Drago);
KZC_TM(map_float_to_Nx16_param_Drago);
#undef KZC_TM
#undef KZC_TMP

// Tile copies between float pictures whose rows follow without gaps; offsets
// in 64 bits. The tiles must lie inside both pictures.
KZ_EXPORT int joinfloatpic_to_floatpic(float* dst, unsigned int dstWidth, unsigned int dstHeight, float* src,
                                       unsigned int srcWidth, unsigned int srcHeight, unsigned int x,
                                       unsigned int y, unsigned int nComp);
KZ_EXPORT int joinfloatpic_to_floatpic_ex(float* dst, unsigned int dstWidth, unsigned int dstHeight, float* src,
                                          unsigned int srcWidth, unsigned int srcHeight, unsigned int x,
                                          unsigned int y, unsigned int srcX, unsigned int srcY, unsigned int width,
                                          unsigned int height, unsigned int nComp);
KZ_EXPORT int cutfloatpic_to_floatpic(float* dst, unsigned int dstWidth, unsigned int dstHeight, float* src,
                                      unsigned int srcWidth, unsigned int srcHeight, unsigned int x, unsigned int y,
                                      unsigned int nComp);

// ---------------------------------------------------------------------------
// Histograms. Counters only grow (4- or 8-byte counters, wrapping); the
// caller zeroes them. Rows 0, rowStep, ... and pixels 0, pixStep, ... are
// visited; a step of 0 counts as 1. With at least one row, a counter width
// other than 4 or 8 gives -2 before anything is counted.
// ---------------------------------------------------------------------------

#define KZC_H1(name) \
    KZ_CAPI int name(void* hist, kz_uint32 counterWidth, KZC_SRC, kz_uint32 pixStep, kz_uint32 rowStep, KZC_TAIL)
#define KZC_H(name)                                                                                         \
    KZ_CAPI int name(void* const* set, kz_uint32 counterWidth, KZC_SRC, kz_uint32 pixStep, kz_uint32 rowStep, \
                     KZC_TAIL)
#define KZC_HN(name)                                                                                        \
    KZ_CAPI int name(void* const* set, kz_uint32 counterWidth, const void* src, kz_uint32 nComp,             \
                     kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, KZC_TAIL)
#define KZC_H1B(name)                                                                                       \
    KZ_CAPI int name(void* hist, kz_uint32 counterWidth, KZC_SRC, kz_uint32 pixStep, kz_uint32 rowStep,      \
                     kz_uint32 bits, KZC_TAIL)
#define KZC_HB(name)                                                                                        \
    KZ_CAPI int name(void* const* set, kz_uint32 counterWidth, KZC_SRC, kz_uint32 pixStep, kz_uint32 rowStep, \
                     kz_uint32 bits, KZC_TAIL)
#define KZC_HNB(name)                                                                                       \
    KZ_CAPI int name(void* const* set, kz_uint32 counterWidth, const void* src, kz_uint32 nComp,             \
                     kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 bits, KZC_TAIL)
KZC_H1(gethistogram_1x8);
KZC_H(gethistogram_3x8);
KZC_H(gethistogram_4x8);
KZC_HN(gethistogram_Nx8);
// 16-bit members mask samples with 2^bits - 1 unless bits >= 16.
KZC_H1B(gethistogram_1x16);
KZC_HB(gethistogram_3x16);
KZC_HB(gethistogram_4x16);
KZC_HNB(gethistogram_Nx16);
#undef KZC_H1
#undef KZC_H
#undef KZC_HN
#undef KZC_H1B
#undef KZC_HB
#undef KZC_HNB

// Component and intensity (integer mean of the counted indexes; nComp 0: -4).
#define KZC_HI(name, ...)                                                                                    \
    KZ_CAPI int name(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src, __VA_ARGS__)
KZC_HI(gethistogramint_3x8, kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, KZC_TAIL);
KZC_HI(gethistogramint_4x8, kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, KZC_TAIL);
KZC_HI(gethistogramint_Nx8, kz_uint32 nComp, kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, KZC_TAIL);
KZC_HI(gethistogramint_3x16, kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 bits, KZC_TAIL);
KZC_HI(gethistogramint_4x16, kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, kz_uint32 bits, KZC_TAIL);
KZC_HI(gethistogramint_Nx16, kz_uint32 nComp, kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep,
       kz_uint32 bits, KZC_TAIL);
#undef KZC_HI

// Reduced depth: index = (v & (2^srcBits - 1)) >> (srcBits - histBits);
// histBits above srcBits or srcBits above the container gives -4.
#define KZC_HD1(name)                                                                                       \
    KZ_CAPI int name(void* hist, kz_uint32 counterWidth, kz_uint32 histBits, KZC_SRC, kz_uint32 pixStep,     \
                     kz_uint32 rowStep, kz_uint32 srcBits, KZC_TAIL)
#define KZC_HD(name)                                                                                        \
    KZ_CAPI int name(void* const* set, kz_uint32 counterWidth, kz_uint32 histBits, KZC_SRC, kz_uint32 pixStep, \
                     kz_uint32 rowStep, kz_uint32 srcBits, KZC_TAIL)
#define KZC_HDN(name)                                                                                       \
    KZ_CAPI int name(void* const* set, kz_uint32 counterWidth, kz_uint32 histBits, const void* src,          \
                     kz_uint32 nComp, kz_uint32 srcRowBytes, kz_uint32 pixStep, kz_uint32 rowStep,           \
                     kz_uint32 srcBits, KZC_TAIL)
KZC_HD1(gethistogramdiv_1x16);
KZC_HD(gethistogramdiv_3x16);
KZC_HDN(gethistogramdiv_Nx16);
KZC_HD1(gethistogramdiv_1x32);
KZC_HD(gethistogramdiv_3x32);
KZC_HDN(gethistogramdiv_Nx32);
#undef KZC_HD1
#undef KZC_HD
#undef KZC_HDN

// Masked: only pixels whose mask element (byte for `bin`, 16-bit word for
// `bin16`) is non-zero are counted; 3-, 4- and N-component members also count
// the intensity.
#define KZC_HM1(name, MASK, ...)                                                                            \
    KZ_CAPI int name(void* hist, kz_uint32 counterWidth, KZC_SRC, const MASK* mask, kz_uint32 maskRowBytes,  \
                     kz_uint32 pixStep, kz_uint32 rowStep, __VA_ARGS__)
#define KZC_HM(name, MASK, ...)                                                                             \
    KZ_CAPI int name(void* const* set, void* intensity, kz_uint32 counterWidth, KZC_SRC, const MASK* mask,   \
                     kz_uint32 maskRowBytes, kz_uint32 pixStep, kz_uint32 rowStep, __VA_ARGS__)
#define KZC_HMN(name, MASK, ...)                                                                            \
    KZ_CAPI int name(void* const* set, void* intensity, kz_uint32 counterWidth, const void* src,             \
                     kz_uint32 nComp, kz_uint32 srcRowBytes, const MASK* mask, kz_uint32 maskRowBytes,       \
                     kz_uint32 pixStep, kz_uint32 rowStep, __VA_ARGS__)
#define KZC_HM_FAMILY(bin, MASK)                                                                            \
    KZC_HM1(bin##_1x8, MASK, KZC_TAIL);                                                                     \
    KZC_HM(bin##_3x8, MASK, KZC_TAIL);                                                                      \
    KZC_HM(bin##_4x8, MASK, KZC_TAIL);                                                                      \
    KZC_HMN(bin##_Nx8, MASK, KZC_TAIL);                                                                     \
    KZC_HM1(bin##_1x16, MASK, kz_uint32 bits, KZC_TAIL);                                                    \
    KZC_HM(bin##_3x16, MASK, kz_uint32 bits, KZC_TAIL);                                                     \
    KZC_HM(bin##_4x16, MASK, kz_uint32 bits, KZC_TAIL);                                                     \
    KZC_HMN(bin##_Nx16, MASK, kz_uint32 bits, KZC_TAIL);
KZC_HM_FAMILY(gethistogrambin, u8)
KZC_HM_FAMILY(gethistogrambin16, u16)
#undef KZC_HM1
#undef KZC_HM
#undef KZC_HMN
#undef KZC_HM_FAMILY

// Joint histogram of components a and b (indexes at or past nComp: -4).
// `_8`: counter a * 2^bits + b (bits above 16: -4); `_16`: both samples
// masked with 2^bits - 1 and shifted right by bits - 8, counter a' * 256 + b'
// (bits outside 8..16: -4). A counter width other than 4 or 8 counts nothing.
// The two reserved arguments are not read.
KZ_CAPI int gethistogram2d_8(void* hist, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,
                             kz_uint32 nComp, kz_uint32 bits, kz_uint32 a, kz_uint32 b, const void* reserved1,
                             const void* reserved2, KZC_TAIL);
KZ_CAPI int gethistogram2d_16(void* hist, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,
                              kz_uint32 nComp, kz_uint32 bits, kz_uint32 a, kz_uint32 b, const void* reserved1,
                              const void* reserved2, KZC_TAIL);
KZ_CAPI int gethistogram2d_8_under_mask(void* hist, kz_uint32 counterWidth, const void* src, kz_uint32 srcRowBytes,
                                        kz_uint32 nComp, kz_uint32 bits, kz_uint32 a, kz_uint32 b, const u8* mask,
                                        kz_uint32 maskRowBytes, const void* reserved1, const void* reserved2,
                                        KZC_TAIL);
KZ_CAPI int gethistogram2d_16_under_mask(void* hist, kz_uint32 counterWidth, const void* src,
                                         kz_uint32 srcRowBytes, kz_uint32 nComp, kz_uint32 bits, kz_uint32 a,
                                         kz_uint32 b, const u8* mask, kz_uint32 maskRowBytes,
                                         const void* reserved1, const void* reserved2, KZC_TAIL);

// Adds one histogram set (and intensity array) into another, 2^bits counters
// per array (bits above 32 add nothing); a set whose first array is the
// intensity array adds only the intensity. Returns 0.
KZ_CAPI int histo_add(const void* srcIntensity, const void* const* srcSet, void* dstIntensity, void* const* dstSet,
                      kz_uint32 bits, kz_int32 nComp, kz_uint32 counterWidth);

// ---------------------------------------------------------------------------
// Histogram repair. Counter width other than 4 or 8, or bits above 32: -9 and
// nothing written.
// ---------------------------------------------------------------------------

// Flag 1 when more than 191 bins are non-empty and no two adjacent are.
KZ_CAPI int needtorepairhistogram_1(u8* flag, const void* hist, int counterWidth, kz_uint32 bits);
KZ_CAPI int needtorepairhistogramint_3(u8* flags, const void* const* set, const void* unused, int counterWidth,
                                       kz_uint32 bits);
KZ_CAPI int needtorepairhistogramint_4(u8* flags, const void* const* set, const void* unused, int counterWidth,
                                       kz_uint32 bits);
KZ_CAPI int needtorepairhistogramint_N(u8* flags, const void* const* set, const void* unused, int counterWidth,
                                       kz_uint32 n, kz_uint32 bits);
// Fills each run of empty bins between two non-empty ones linearly (rounded
// half up, saturated at the counter's maximum).
KZ_CAPI int repairhistocomp_1(void* hist, int counterWidth, kz_uint32 bits);
KZ_CAPI int repairhistocomp_N(void* const* set, const void* unused, kz_uint32 index, int counterWidth,
                              kz_uint32 bits);

#undef KZC_DST
#undef KZC_SRC
#undef KZC_TAIL
