// Exported pixel kernels: whole-buffer operations, LUT calculation and
// application, constant-operand arithmetic and bit masking.
//
// Every picture is a pointer and its row bytes; row r starts at
// base + r * row bytes. The last two arguments are the width in pixels and the
// total pixel count: count / width rows of width pixels are processed, a
// remainder is ignored, and a width of 0 (or a count below the width)
// processes nothing and returns 0. Padding bytes past a row's last pixel are
// never read or written (except where stated for copy/set/blend_two).
// Samples: 8-bit in bytes (x8), 9..16-bit in 16-bit words (x16), 17..32-bit in
// 32-bit words (x32). Result codes: 0 success, -2 not supported, -3 out of
// memory (or, for LUT-building kernels, a depth they cannot tabulate), -4
// invalid argument, -9 a constant outside the allowed range.
#pragma once

#include "gnr_picture/KzKernelCommon.h"

#include <cmath>

#define KZK_DST void *dst, kz_uint32 dstRowBytes
#define KZK_SRC const void *src, kz_uint32 srcRowBytes
#define KZK_TAIL kz_uint32 width, kz_uint32 count

// ---------------------------------------------------------------------------
// Whole-buffer operations. The row length is components * width *
// ((bits + 7) / 8) bytes.
// ---------------------------------------------------------------------------

// 0 when the first count / width rows are equal byte for byte (padding is not
// compared); else negative / positive as the first differing byte is smaller /
// larger in the first picture.
KZ_CAPI int compare(const void* first, kz_uint32 firstRowBytes, const void* second, kz_uint32 secondRowBytes,
                    kz_uint32 components, kz_uint32 bits, KZK_TAIL);
// Copies each row; a row longer than the destination row bytes prints the
// failure diagnostic once and copies only row-bytes bytes per row.
KZ_CAPI int copy(KZK_DST, KZK_SRC, kz_uint32 components, kz_uint32 bits, KZK_TAIL);
// Sets every byte of each row to the low byte of value.
KZ_CAPI int set(void* pic, kz_uint32 rowBytes, int value, kz_uint32 components, kz_uint32 bits, KZK_TAIL);
// Byte-wise blend: dst byte d and src byte s give table[d * 256 + s].
KZ_CAPI int blend_two(KZK_DST, KZK_SRC, const u8* table, kz_uint32 components, kz_uint32 bits,
                      KZK_TAIL);

// ---------------------------------------------------------------------------
// LUT calculation. bits is the table's input and output depth, 1..16 (other
// values write nothing). A null operand drops its term; with all three null
// the table is left unchanged. Entry = ((v + a) * m) ^ p, rounded (x86
// truncation: NaN and int32 overflow give 0) and clamped to 0..(2^bits - 1)
// taken modulo the entry range. Row-pointer tables: entry k of row v.
// ---------------------------------------------------------------------------

KZ_CAPI void calcluts_1x8(u8* lut, const double* add, const double* mul, const double* power, kz_uint32 bits);
KZ_CAPI void calcluts_1x16(u16* lut, const double* add, const double* mul, const double* power, kz_uint32 bits);
KZ_CAPI void calcluts_Nx8(u8** lut, const double* add, const double* mul, const double* power,
                          kz_uint32 components, kz_uint32 bits);
KZ_CAPI void calcluts_Nx16(u16** lut, const double* add, const double* mul, const double* power,
                           kz_uint32 components, kz_uint32 bits);
// Minimum / maximum with a constant: min gives trunc(w) where v > w, max where
// w > v, else v; entries are kept within 0..limit. Nothing happens when the
// table or the constant is null.
KZ_CAPI void min_calcluts_1x8(u8* lut, const double* constant, kz_uint32 bits);
KZ_CAPI void max_calcluts_1x8(u8* lut, const double* constant, kz_uint32 bits);
KZ_CAPI void min_calcluts_1x16(u16* lut, const double* constant, kz_uint32 bits);
KZ_CAPI void max_calcluts_1x16(u16* lut, const double* constant, kz_uint32 bits);
KZ_CAPI void min_calcluts_Nx8(u8** lut, const double* constants, kz_uint32 components, kz_uint32 bits);
KZ_CAPI void max_calcluts_Nx8(u8** lut, const double* constants, kz_uint32 components, kz_uint32 bits);
KZ_CAPI void min_calcluts_Nx16(u16** lut, const double* constants, kz_uint32 components, kz_uint32 bits);
KZ_CAPI void max_calcluts_Nx16(u16** lut, const double* constants, kz_uint32 components, kz_uint32 bits);
// Wrap-around addition: x = a + v; below 0 add W, above W subtract W
// (W = 2^bits - 1), once; entry = x truncated, in the entry's width.
KZ_CAPI void calcluts_Nx8_rotate(u8** lut, const double* add, kz_uint32 components, kz_uint32 bits);
KZ_CAPI void calcluts_Nx16_rotate(u16** lut, const double* add, kz_uint32 components, kz_uint32 bits);

// ---------------------------------------------------------------------------
// LUT application: dst sample = table[src sample] (flat) or
// row[src sample k][k] (row-pointer). x16 members mask the sample with
// 2^bits - 1 (bits < 16); x8 members mask with 2^bits - 1 for bits 1..7 and
// use the byte otherwise. dst may be src. All return 0.
// ---------------------------------------------------------------------------

#define KZK_APPLY8(name, LUT) \
    KZ_CAPI int name(KZK_DST, KZK_SRC, LUT lut, kz_uint32 components, kz_uint32 bits, KZK_TAIL)
KZK_APPLY8(applyluts_1x8, const u8*);
KZK_APPLY8(applyluts_3x8, const u8* const*);
KZK_APPLY8(applyluts_4x8, const u8* const*);
KZK_APPLY8(applyluts_3x8_lut1, const u8*);
KZK_APPLY8(applyluts_4x8_lut1, const u8*);
KZK_APPLY8(applyluts_Nx8, const u8* const*);
KZK_APPLY8(applyluts_Nx8_lut1, const u8*);
KZK_APPLY8(applyluts_1x16, const u16*);
KZK_APPLY8(applyluts_3x16, const u16* const*);
KZK_APPLY8(applyluts_4x16, const u16* const*);
KZK_APPLY8(applyluts_3x16_lut1, const u16*);
KZK_APPLY8(applyluts_4x16_lut1, const u16*);
KZK_APPLY8(applyluts_Nx16, const u16* const*);
KZK_APPLY8(applyluts_Nx16_lut1, const u16*);
#undef KZK_APPLY8

// 3-component 8-bit application with exposure marking: a pixel with a sample
// equal to 2^bits - 1 gets the over-exposure colour, one with a sample 0 the
// under-exposure colour (components tested 2, 1, 0; in the combined member 0
// before the maximum for each component). A null record turns its marking off.
KZ_CAPI int applyluts_3x8_overexp(KZK_DST, KZK_SRC, const u8* const* lut, const SKzLutExpColor* over,
                                  kz_uint32 components, kz_uint32 bits, KZK_TAIL);
KZ_CAPI int applyluts_3x8_underexp(KZK_DST, KZK_SRC, const u8* const* lut, const SKzLutExpColor* under,
                                   kz_uint32 components, kz_uint32 bits, KZK_TAIL);
KZ_CAPI int applyluts_3x8_overexp_underexp(KZK_DST, KZK_SRC, const u8* const* lut, const SKzLutExpColor* over,
                                           const SKzLutExpColor* under, kz_uint32 components, kz_uint32 bits,
                                           KZK_TAIL);

// ---------------------------------------------------------------------------
// Constant-operand arithmetic: dst sample = op(src sample, constant of its
// component). dst may be src. x8 members take bits 8 (1-component: 1..8), x16
// members 8..16 (1-component: 1..16); the 1-, 3- and 4-component members
// return -3 for other depths, before writing anything. The N members take the
// component count and compute per sample.
// ---------------------------------------------------------------------------

#define KZK_CONST(stem, T8, T16)                                                                          \
    KZ_CAPI int stem##_1x8(KZK_DST, KZK_SRC, const T8* c, kz_uint32 components, kz_uint32 bits, KZK_TAIL);  \
    KZ_CAPI int stem##_3x8(KZK_DST, KZK_SRC, const T8* c, kz_uint32 components, kz_uint32 bits, KZK_TAIL);  \
    KZ_CAPI int stem##_4x8(KZK_DST, KZK_SRC, const T8* c, kz_uint32 components, kz_uint32 bits, KZK_TAIL);  \
    KZ_CAPI int stem##_Nx8(KZK_DST, KZK_SRC, const T8* c, kz_uint32 components, kz_uint32 bits, KZK_TAIL);  \
    KZ_CAPI int stem##_1x16(KZK_DST, KZK_SRC, const T16* c, kz_uint32 components, kz_uint32 bits, KZK_TAIL); \
    KZ_CAPI int stem##_3x16(KZK_DST, KZK_SRC, const T16* c, kz_uint32 components, kz_uint32 bits, KZK_TAIL); \
    KZ_CAPI int stem##_4x16(KZK_DST, KZK_SRC, const T16* c, kz_uint32 components, kz_uint32 bits, KZK_TAIL); \
    KZ_CAPI int stem##_Nx16(KZK_DST, KZK_SRC, const T16* c, kz_uint32 components, kz_uint32 bits, KZK_TAIL);

// Clamped v + c (64-bit intermediate, so any int constant is exact).
KZK_CONST(addconstandclip, int, int)
// x = v + c; x < 0 gives x + M, x > M gives x - M (once); stored in the
// sample's width.
KZK_CONST(addconstrotate, int, int)
// Clamped v - c.
KZK_CONST(subconstandclip, int, int)
// max(v, c) / min(v, c) with sample-valued constants.
KZK_CONST(maxconstandclip, u8, u16)
KZK_CONST(minconstandclip, u8, u16)
// Clamped, rounded v * c; a non-finite or overflowing product gives 0.
KZK_CONST(mulconstandclip, double, double)
// Clamped, rounded v / c. The 1-, 3- and 4-component members multiply by the
// reciprocal (a divisor of 0 or below gives 0). The N members use fixed point
// (v * S + q / 2) / q with q = trunc(c * S + 0.5), S = 4096 (x8), 256 (x16),
// 65536 (x32), and refuse with -9, before writing, a negative or NaN divisor
// or one that makes q 0 (below 0.5 / S).
KZK_CONST(divconstandclip, double, double)
#undef KZK_CONST
KZ_CAPI int divconstandclip_Nx32(KZK_DST, KZK_SRC, const double* c, kz_uint32 components, kz_uint32 bits,
                                 KZK_TAIL);
KZ_CAPI int divconstandclip_5x32(KZK_DST, KZK_SRC, const double* c, kz_uint32 components, kz_uint32 bits,
                                 KZK_TAIL);

// Clamped, rounded ((v + a) * m) ^ p; a null array drops its term (all null:
// the samples are copied unchanged).
#define KZK_POW(name)                                                                                     \
    KZ_CAPI int name(KZK_DST, KZK_SRC, const double* add, const double* mul, const double* power,        \
                     kz_uint32 components, kz_uint32 bits, KZK_TAIL)
KZK_POW(addmulpowconstandclip_1x8);
KZK_POW(addmulpowconstandclip_3x8);
KZK_POW(addmulpowconstandclip_4x8);
KZK_POW(addmulpowconstandclip_Nx8);
KZK_POW(addmulpowconstandclip_1x16);
KZK_POW(addmulpowconstandclip_3x16);
KZK_POW(addmulpowconstandclip_4x16);
KZK_POW(addmulpowconstandclip_Nx16);
#undef KZK_POW

// Bit masking in place: every sample of each row becomes sample AND mask (low
// 8 or 16 bits of the mask). Padding is not touched. Return 0.
KZ_CAPI int maskout_1x8(void* pic, kz_uint32 rowBytes, kz_uint32 mask, KZK_TAIL);
KZ_CAPI int maskout_1x16(void* pic, kz_uint32 rowBytes, kz_uint32 mask, KZK_TAIL);
KZ_CAPI int maskout_3x8(void* pic, kz_uint32 rowBytes, kz_uint32 mask, KZK_TAIL);
KZ_CAPI int maskout_3x16(void* pic, kz_uint32 rowBytes, kz_uint32 mask, KZK_TAIL);
KZ_CAPI int maskout_Nx8(void* pic, kz_uint32 rowBytes, kz_uint32 mask, kz_uint32 components, KZK_TAIL);
KZ_CAPI int maskout_Nx16(void* pic, kz_uint32 rowBytes, kz_uint32 mask, kz_uint32 components, KZK_TAIL);

// ---------------------------------------------------------------------------
// Internal building blocks shared by the LUT and constant-operand kernels
// (not exported).
// ---------------------------------------------------------------------------
namespace kzk {

// One entry of the power-law table: ((v + a) * m) ^ p with absent terms
// dropped, rounded and clamped to 0..limit.
template <class T>
inline T PowerLawEntry(double v, const double* a, const double* m, const double* p, T limit)
{
    double x = v;
    if (a)
        x += *a;
    if (m)
        x *= *m;
    if (p)
        x = std::pow(x, *p);
    return KzRoundClamp<T>(x, limit);
}

// Wrap-around: x < 0 gives x + w, x > w gives x - w, applied once; the result
// is kept in the container's width (low bits).
template <class T>
inline T RotateEntry(int64_t x, T w)
{
    if (x < 0)
        x += w;
    else if (x > int64_t(w))
        x -= w;
    return static_cast<T>(static_cast<uint64_t>(x));
}

// Applies a LUT whose rows lie contiguously in one block to count / width
// rows: with tableComponents 1 a flat LUT for every sample, else (equal to
// pictureComponents) row v at entry v * components, component k reading
// entry k. Samples are ANDed with mask before indexing. The format (fixed 1,
// 3, 4 or any count) is chosen here once per call.
void ApplyBlockLut8(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const u8* block,
                    kz_uint32 tableComponents, kz_uint32 pictureComponents, u8 mask, kz_uint32 width,
                    kz_uint32 count);
void ApplyBlockLut16(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const u16* block,
                     kz_uint32 tableComponents, kz_uint32 pictureComponents, u16 mask, kz_uint32 width,
                     kz_uint32 count);

} // namespace kzk
