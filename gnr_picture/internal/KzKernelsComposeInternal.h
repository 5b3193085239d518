// Depth-taking entries of the 9..16-bit composition members whose exported
// form indexes its tables with the raw sample. These read bits and mask every
// sample with 2^bits - 1 (KzDepthLimit) before it indexes a table of 2^bits
// rows, so a frame from a file can never make them read past a table. The
// argument lists are those of the exported members; the picture dispatcher
// calls these. Not installed.
#pragma once

#include "gnr_picture/KzKernelsCompose.h"

int KzMapCompDepth_1x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzRowLut8 table,
                            KZC_TAIL);
int KzMapCompDepth_2x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table,
                            KzMaskWords mask, KZC_TAIL);
int KzMapCompDepth_3x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table,
                            KzMaskWords mask, KZC_TAIL);
int KzMapCompDepth_4x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table,
                            KzMaskWords mask, KZC_TAIL);
int KzMapCompDepth_5x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table,
                            KzMaskWords mask, KZC_TAIL);
int KzMapCompDepth_6x16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, KzCompLut8 table,
                            KzMaskWords mask, KZC_TAIL);
int KzMapCompDepth_Nx16_3x8(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, kz_uint32 nComps,
                            KzCompLut8 table, KzMaskWords mask, KZC_TAIL);
int KzMapCompDepth_Nx16_3x8_add(KZC_DST8, const u16* src, kz_uint32 bits, kz_uint32 srcStride, kz_uint32 nComps,
                                KzCompLut8 table, double gain, KzMaskWords mask, KzMaskWords addMask, KZC_TAIL);
int KzMapCompDepth_1x16_3x16(KZC_DST16, const u16* src, kz_uint32 srcStride, kz_uint32 bits, KzRowLut16 table,
                             KZC_TAIL);
int KzMapCompDepth_Nx16_3x16(KZC_DST16, const u16* src, kz_uint32 nComps, kz_uint32 srcStride, kz_uint32 bits,
                             KzCompLut16 table, KzMaskWords mask, KZC_TAIL);
