// Channel composition: multi-component pictures turned into true-colour
// (blue, green, red) pictures through one colour table per component, the
// visible components screen-blended; exposure marking of clipped samples;
// and expansion of 1-bit masks into pictures.
//
// Common rules (as for every kernel): a picture is a pointer and its row
// bytes; the last two arguments are the width in pixels and the total pixel
// count, count / width rows are processed and a remainder is ignored; a width
// of 0 processes nothing. A destination row receives exactly 3 x width bytes
// (3 x width words for the x16_3x16 members); padding is never touched.
//
// Tables:
//  - row-pointer LUT: 2^bits row pointers, row v holding blue, green, red
//    (bytes, or 16-bit words for the x16_3x16 members) for sample value v;
//  - component LUT array: one row-pointer LUT per input component (several
//    components may share one).
// Mask words: component k is visible when bit k % 64 of word k / 64 is set.
// A null mask counts as every component visible.
//
// Screen blend S(a, b) = a + b - floor(a * b / 255), applied in ascending
// component order (it is not associative). With every component visible the
// result is C_0 blended with C_1, C_2, ... in turn; otherwise the blend of the
// visible components' colours starting from black (black when none is
// visible).
#pragma once

#include "gnr_picture/KzKernelCommon.h"

// Screen-blend table: entry (a, b) at a * 256 + b is S(a, b). Read-only,
// valid before any static initialiser runs.
KZ_CAPI const u8 g_pMap[65536];

#define KZC_DST8 u8 *dst, kz_uint32 dstStride
#define KZC_DST16 u16 *dst, kz_uint32 dstStride
#define KZC_TAIL kz_uint32 width, kz_uint32 count

typedef const u8* const* KzRowLut8;        // row-pointer LUT, 8-bit outputs
typedef const u16* const* KzRowLut16;      // row-pointer LUT, 16-bit outputs
typedef const u8* const* const* KzCompLut8;   // component LUT array, 8-bit outputs
typedef const u16* const* const* KzCompLut16; // component LUT array, 16-bit outputs
typedef const unsigned long* KzMaskWords;

// ---------------------------------------------------------------------------
// 8-bit components. All return 0 but mapcomp_Nx8_Mx8 (-2) and the add
// members (-3 when their scratch lists cannot be allocated).
// ---------------------------------------------------------------------------

KZ_CAPI int mapcomp_1x8_3x8(KZC_DST8, const u8* src, kz_uint32 srcStride, KzRowLut8 table, KZC_TAIL);
// Full composition when the low n bits of mask[0] are set (higher bits and
// further words are ignored); 2 components with one visible give its colour,
// with none visible black rows.
KZ_CAPI int mapcomp_2x8_3x8(KZC_DST8, const u8* src, kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_3x8_3x8(KZC_DST8, const u8* src, kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_4x8_3x8(KZC_DST8, const u8* src, kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_5x8_3x8(KZC_DST8, const u8* src, kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_6x8_3x8(KZC_DST8, const u8* src, kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask, KZC_TAIL);
// Any count; reads the mask words of the first nComps bits only. nComps 0
// writes nothing.
KZ_CAPI int mapcomp_Nx8_3x8(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride, KzCompLut8 table,
                            KzMaskWords mask, KZC_TAIL);
// Add composition: visible components in addMask are averaged and scaled by
// h = trunc(gain * 255 + 0.5) (0 for a negative or NaN gain; the x86
// conversion result 2^31 for gains beyond the int32 range), the others are
// divided down and summed. No visible component: nothing is written.
KZ_CAPI int mapcomp_Nx8_3x8_add(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride, KzCompLut8 table,
                                double gain, KzMaskWords mask, KzMaskWords addMask, KZC_TAIL);
// The same; a pixel with a visible component at 255 gets overColour's three
// bytes (blue, green, red). A null overColour works as mapcomp_Nx8_3x8_add.
KZ_CAPI int mapcomp_Nx8_3x8_add_overexp(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride,
                                        KzCompLut8 table, double gain, KzMaskWords mask, const u8* overColour,
                                        KzMaskWords addMask, KZC_TAIL);
// One blend pass: pixel x's sample at byte x * nComps of the source row,
// its colour screen-blended into the destination pixel. reserved is not read.
KZ_CAPI int mapcomp_Iter1x8_3x8(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride, KzRowLut8 table,
                                const void* reserved, KZC_TAIL);
// No member for other output counts: -2, nothing touched.
KZ_CAPI int mapcomp_Nx8_Mx8(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride, const void* table,
                            KzMaskWords mask, KZC_TAIL);

// ---------------------------------------------------------------------------
// 9..16-bit components. The members below that do not read bits index the
// tables with the raw sample (tables of 65,536 rows for samples with bits
// above the depth); the dispatcher uses the depth-masking entries instead.
// ---------------------------------------------------------------------------

KZ_CAPI int mapcomp_1x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzRowLut8 table,
                             KZC_TAIL);
KZ_CAPI int mapcomp_2x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table,
                             KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_3x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table,
                             KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_4x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table,
                             KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_5x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table,
                             KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_6x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table,
                             KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_Nx16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, kz_uint32 nComps,
                             KzCompLut8 table, KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_Nx16_3x8_add(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, kz_uint32 nComps,
                                 KzCompLut8 table, double gain, KzMaskWords mask, KzMaskWords addMask, KZC_TAIL);
// Reads bits: samples are masked to the depth for the lookup, and a listed
// sample at or above 2^bits - 1 marks the pixel.
KZ_CAPI int mapcomp_Nx16_3x8_add_overexp(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride,
                                         kz_uint32 nComps, KzCompLut8 table, double gain, KzMaskWords mask,
                                         const u8* overColour, KzMaskWords addMask, KZC_TAIL);
// 16-bit outputs. The 2..6 members blend by B(a, b) = a + b - floor(a b / M),
// M = 2^bits - 1 (samples masked to the depth; -4 for bits 0 or above 16);
// mapcomp_Nx16_3x16 blends by R(a, b) = trunc((a + b) + (0.5 - sqrt(a b))).
KZ_CAPI int mapcomp_1x16_3x16(KZC_DST16, const u16* src, kz_uint32 srcStride, kz_uint32 bits, KzRowLut16 table,
                              KZC_TAIL);
KZ_CAPI int mapcomp_2x16_3x16(KZC_DST16, const u16* src, kz_uint32 srcStride, kz_uint32 bits, KzCompLut16 table,
                              KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_3x16_3x16(KZC_DST16, const u16* src, kz_uint32 srcStride, kz_uint32 bits, KzCompLut16 table,
                              KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_4x16_3x16(KZC_DST16, const u16* src, kz_uint32 srcStride, kz_uint32 bits, KzCompLut16 table,
                              KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_5x16_3x16(KZC_DST16, const u16* src, kz_uint32 srcStride, kz_uint32 bits, KzCompLut16 table,
                              KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_6x16_3x16(KZC_DST16, const u16* src, kz_uint32 srcStride, kz_uint32 bits, KzCompLut16 table,
                              KzMaskWords mask, KZC_TAIL);
KZ_CAPI int mapcomp_Nx16_3x16(KZC_DST16, const u16* src, kz_uint32 nComps, kz_uint32 srcStride, kz_uint32 bits,
                              KzCompLut16 table, KzMaskWords mask, KZC_TAIL);

// ---------------------------------------------------------------------------
// Exposure marking. Per pixel the visible components are tested in ascending
// order; the first whose sample is 0 (under-exposure marking on) or at the
// top value (255, or at or above 2^bits - 1 for x16; over-exposure marking
// on) paints the pixel in its marker colour; other pixels are composed as by
// the plain members. Marker colour of component k: the record's blue, green,
// red, or with a non-zero flag byte the complement of the component's top
// table entry. A null record switches its kind of marking off; with both
// null the plain member's work is done. N members with a record present and
// more than 192 components return -2 and write nothing.
// ---------------------------------------------------------------------------

#define KZC_EXP8_1(tag, ...) KZ_CAPI int mapcomp_1x8_3x8_##tag(KZC_DST8, const u8* src, kz_uint32 srcStride, KzRowLut8 table, __VA_ARGS__, KZC_TAIL);
#define KZC_EXP8_K(n, tag, ...) KZ_CAPI int mapcomp_##n##x8_3x8_##tag(KZC_DST8, const u8* src, kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask, __VA_ARGS__, KZC_TAIL);
#define KZC_EXP8_N(tag, ...) KZ_CAPI int mapcomp_Nx8_3x8_##tag(KZC_DST8, const u8* src, kz_uint32 nComps, kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask, __VA_ARGS__, KZC_TAIL);
#define KZC_EXP16_1(tag, ...) KZ_CAPI int mapcomp_1x16_3x8_##tag(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzRowLut8 table, __VA_ARGS__, KZC_TAIL);
#define KZC_EXP16_K(n, tag, ...) KZ_CAPI int mapcomp_##n##x16_3x8_##tag(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask, __VA_ARGS__, KZC_TAIL);

#define KZC_EXP_ALL(M1, MK)                                                                          \
    M1(overexp, const SKzLutExpColor* over)                                                          \
    M1(underexp, const SKzLutExpColor* under)                                                        \
    M1(overexp_underexp, const SKzLutExpColor* over, const SKzLutExpColor* under)                    \
    MK(2, overexp, const SKzLutExpColor* over)                                                       \
    MK(2, underexp, const SKzLutExpColor* under)                                                     \
    MK(2, overexp_underexp, const SKzLutExpColor* over, const SKzLutExpColor* under)                 \
    MK(3, overexp, const SKzLutExpColor* over)                                                       \
    MK(3, underexp, const SKzLutExpColor* under)                                                     \
    MK(3, overexp_underexp, const SKzLutExpColor* over, const SKzLutExpColor* under)                 \
    MK(4, overexp, const SKzLutExpColor* over)                                                       \
    MK(4, underexp, const SKzLutExpColor* under)                                                     \
    MK(4, overexp_underexp, const SKzLutExpColor* over, const SKzLutExpColor* under)                 \
    MK(5, overexp, const SKzLutExpColor* over)                                                       \
    MK(5, underexp, const SKzLutExpColor* under)                                                     \
    MK(5, overexp_underexp, const SKzLutExpColor* over, const SKzLutExpColor* under)                 \
    MK(6, overexp, const SKzLutExpColor* over)                                                       \
    MK(6, underexp, const SKzLutExpColor* under)                                                     \
    MK(6, overexp_underexp, const SKzLutExpColor* over, const SKzLutExpColor* under)

KZC_EXP_ALL(KZC_EXP8_1, KZC_EXP8_K)
KZC_EXP8_N(overexp, const SKzLutExpColor* over)
KZC_EXP8_N(underexp, const SKzLutExpColor* under)
KZC_EXP8_N(overexp_underexp, const SKzLutExpColor* over, const SKzLutExpColor* under)

KZC_EXP_ALL(KZC_EXP16_1, KZC_EXP16_K)
KZ_CAPI int mapcomp_Nx16_3x8_overexp(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, kz_uint32 nComps,
                                     KzCompLut8 table, KzMaskWords mask, const SKzLutExpColor* over, KZC_TAIL);
KZ_CAPI int mapcomp_Nx16_3x8_underexp(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride,
                                      kz_uint32 nComps, KzCompLut8 table, KzMaskWords mask,
                                      const SKzLutExpColor* under, KZC_TAIL);
// Component count before the source row bytes in this member only.
KZ_CAPI int mapcomp_Nx16_3x8_overexp_underexp(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 nComps,
                                              kz_uint32 srcStride, KzCompLut8 table, KzMaskWords mask,
                                              const SKzLutExpColor* over, const SKzLutExpColor* under, KZC_TAIL);

// ---------------------------------------------------------------------------
// Bit-mask unpacking. Pixel x of row r takes bit (bitOffset + x) of the bit
// row at bits + r * bitsStride, most significant bit first. Mode 0: set bits
// give the value pixel, clear bits 0; mode 1: set bits OR the value in, clear
// bits leave the pixel; mode 2: set bits AND the value in, clear bits give 0.
// Results: 0; -2 for another mode and -4 for bitOffset above 7, before
// anything is written. Rows = count / width (64-bit); samples are bytes (x8)
// or 16-bit words (x16), read and written byte-wise so any row bytes work.
// ---------------------------------------------------------------------------

#define KZC_UNPACK(name)                                                                             \
    KZ_CAPI int name(void* dst, const void* value, kz_uint32 dstStride, const u8* bits, kz_uint32 bitOffset, \
                     kz_uint32 bitsStride, kz_uint32 width, kz_uint64 count, kz_uint32 mode);
#define KZC_UNPACKN(name)                                                                            \
    KZ_CAPI int name(void* dst, kz_uint32 nComps, const void* value, kz_uint32 dstStride, const u8* bits,  \
                     kz_uint32 bitOffset, kz_uint32 bitsStride, kz_uint32 width, kz_uint64 count,         \
                     kz_uint32 mode);
KZC_UNPACK(unpack_bin_to_1x8)
KZC_UNPACK(unpack_bin_to_3x8)
KZC_UNPACK(unpack_bin_to_4x8)
KZC_UNPACKN(unpack_bin_to_Nx8)
KZC_UNPACK(unpack_bin_to_1x16)
KZC_UNPACK(unpack_bin_to_3x16)
KZC_UNPACK(unpack_bin_to_4x16)
KZC_UNPACKN(unpack_bin_to_Nx16)
