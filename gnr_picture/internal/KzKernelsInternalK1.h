// Depth-taking entries of the LUT kernels that have no depth argument (or do
// not read it). The exported members trust the caller to pass a table that
// covers the source container; these entries take the picture's depth
// (srcBits, last argument) and mask every sample with 2^srcBits - 1 before a
// lookup, so a sample above the depth never indexes past a table of
// 2^srcBits entries. For byte sources the top value of the marking members
// is 2^srcBits - 1 as well. The raw-memory dispatchers call these; they are
// not exported and not installed.
#pragma once

#include "gnr_picture/KzKernelsC.h"

#define KZD_DST void *dst, kz_uint32 dstRowBytes
#define KZD_SRC const void *src, kz_uint32 srcRowBytes
#define KZD_TAIL kz_uint32 width, kz_uint32 count, kz_uint32 srcBits

// Bit-depth conversion through LUTs.
#define KZD_L(name, TAB) int name##_depth(KZD_DST, KZD_SRC, TAB table, KZD_TAIL)
#define KZD_LN(name, TAB) int name##_depth(KZD_DST, KZD_SRC, TAB table, kz_uint32 nComp, KZD_TAIL)
// The exported member's srcBits (second source argument) stays in its place
// and is not read; the depth is the last argument.
#define KZD_LB(name, TAB)                                                                                    \
    int name##_depth(KZD_DST, const void* src, kz_uint32 unusedBits, kz_uint32 srcRowBytes, TAB table, KZD_TAIL)
KZD_L(convertbitdepthvialuts_1x16_to_1x8, const u8*);
KZD_LB(convertbitdepthvialuts_3x16_to_3x8, const u8* const*);
KZD_LB(convertbitdepthvialuts_3x16_to_3x8_lut1, const u8*);
KZD_L(convertbitdepthvialuts_4x16_to_4x8, const u8* const*);
KZD_L(convertbitdepthvialuts_4x16_to_4x8_lut1, const u8*);
KZD_LN(convertbitdepthvialuts_Nx16_to_Nx8, const u8* const*);
KZD_LN(convertbitdepthvialuts_Nx16_to_Nx8_lut1, const u8*);
KZD_L(convertbitdepthvialuts_1x8_to_1x16, const u16*);
KZD_L(convertbitdepthvialuts_3x8_to_3x16, const u16* const*);
KZD_L(convertbitdepthvialuts_3x8_to_3x16_lut1, const u16*);
KZD_L(convertbitdepthvialuts_4x8_to_4x16, const u16* const*);
KZD_L(convertbitdepthvialuts_4x8_to_4x16_lut1, const u16*);
KZD_LN(convertbitdepthvialuts_Nx8_to_Nx16, const u16* const*);
KZD_LN(convertbitdepthvialuts_Nx8_to_Nx16_lut1, const u16*);
KZD_L(convertbitdepthvialuts_1x16_to_1x16, const u16*);
KZD_L(convertbitdepthvialuts_3x16_to_3x16, const u16* const*);
KZD_L(convertbitdepthvialuts_3x16_to_3x16_lut1, const u16*);
KZD_L(convertbitdepthvialuts_4x16_to_4x16, const u16* const*);
KZD_L(convertbitdepthvialuts_4x16_to_4x16_lut1, const u16*);
KZD_LN(convertbitdepthvialuts_Nx16_to_Nx16, const u16* const*);
KZD_LN(convertbitdepthvialuts_Nx16_to_Nx16_lut1, const u16*);
int convertbitdepthvialuts_3x16_to_3x8_underexp_depth(KZD_DST, const void* src, kz_uint32 unusedBits,
                                                      kz_uint32 srcRowBytes, const u8* const* table,
                                                      const SKzLutExpColor* under, KZD_TAIL);
#undef KZD_L
#undef KZD_LN
#undef KZD_LB

// Value mapping.
int mapvialuts_val8_to_3x8_lut1_depth(KZD_DST, KZD_SRC, const u8* table, KZD_TAIL);
int mapvialuts_val8_to_3x8_lut3_depth(KZD_DST, KZD_SRC, const u8* const* table, KZD_TAIL);
int mapvialuts_val8_to_Nx8_depth(void* dst, kz_uint32 nComp, kz_uint32 dstRowBytes, KZD_SRC,
                                 const u8* const* table, KZD_TAIL);
int mapvialuts_val16_to_3x8_depth(KZD_DST, KZD_SRC, const u8* const* table, KZD_TAIL);
int mapvialuts_val16_to_3x16_depth(KZD_DST, KZD_SRC, const u16* const* table, KZD_TAIL);
int mapvialuts_val16_to_Nx16_depth(void* dst, kz_uint32 nComp, kz_uint32 dstRowBytes, KZD_SRC,
                                   const u16* const* table, KZD_TAIL);

// Component extraction (-4 for srcIdx at or past srcComp, as exported).
#define KZD_P(name, TAB)                                                                                     \
    int name##_depth(KZD_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes, kz_uint32 srcIdx,   \
                     TAB table, KZD_TAIL)
#define KZD_PN(name, TAB)                                                                                    \
    int name##_depth(void* dst, kz_uint32 dstComp, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcComp, \
                     kz_uint32 srcRowBytes, kz_uint32 srcIdx, TAB table, KZD_TAIL)
#define KZD_B(name, TAB)                                                                                     \
    int name##_depth(KZD_DST, const void* src, kz_uint32 srcComp, kz_uint32 unusedBits, kz_uint32 srcRowBytes, \
                     kz_uint32 srcIdx, TAB table, KZD_TAIL)
KZD_P(component_lut1_Nx8_to_1x8, const u8*);
KZD_P(component_lut1_Nx8_to_3x8, const u8*);
KZD_PN(component_lut1_Nx8_to_Nx8, const u8*);
KZD_P(component_lut3_Mx8_to_3x8, const u8* const*);
KZD_PN(component_lutN_Mx8_to_Nx8, const u8* const*);
KZD_P(component_lut1_Nx16_to_1x8, const u8*);
KZD_PN(component_lut1_Nx16_to_Nx8, const u8*);
KZD_PN(component_lutN_Mx16_to_Nx8, const u8* const*);
KZD_B(component_lut1_Nx16_to_3x8, const u8*);
KZD_B(component_lut3_Mx16_to_3x8, const u8* const*);
#undef KZD_P
#undef KZD_PN
#undef KZD_B

// Byte-source marking members: top value and mask 2^srcBits - 1.
#define KZD_PM(stem, TAB)                                                                                    \
    int stem##_overexp_depth(KZD_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes,             \
                             kz_uint32 srcIdx, TAB table, const SKzLutExpColor* over, KZD_TAIL);             \
    int stem##_underexp_depth(KZD_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes,            \
                              kz_uint32 srcIdx, TAB table, const SKzLutExpColor* under, KZD_TAIL);           \
    int stem##_overexp_underexp_depth(KZD_DST, const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes,    \
                                      kz_uint32 srcIdx, TAB table, const SKzLutExpColor* over,               \
                                      const SKzLutExpColor* under, KZD_TAIL);
KZD_PM(component_lut1_Nx8_to_3x8, const u8*)
KZD_PM(component_lut3_Mx8_to_3x8, const u8* const*)
#undef KZD_PM

#undef KZD_DST
#undef KZD_SRC
#undef KZD_TAIL
