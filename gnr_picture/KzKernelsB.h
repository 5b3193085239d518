// Exported pixel kernels: two-operand arithmetic, correlation, running average,
// masked copies, fills, single-component operations and component-count
// conversion.
//
// Every kernel takes each picture as a pointer with its row bytes, processes
// count / width rows of width pixels (a remainder is ignored; width 0 touches
// nothing) and returns an int code, 0 on success. Samples are interleaved;
// x8 members work on bytes, x16 members on 16-bit words (9..16-bit samples),
// x32 members on 32-bit words. Bytes past the last pixel of a row are never
// read or written.
#pragma once

#include "gnr_system/kz_base.h"

#include <cstdint>

// ---------------------------------------------------------------------------
// Two-operand arithmetic. dst may be one of the sources. Every member returns 0.
// The 1-, 3-, 4- and 5-component members ignore nComp.
// ---------------------------------------------------------------------------
#define KZ_TWO_OP_ARGS                                                                               \
    void *dst, uint32_t dstRowBytes, const void *srcA, uint32_t aRowBytes, const void *srcB,       \
        uint32_t bRowBytes, uint32_t nComp, uint32_t bits, uint32_t width, uint32_t count

// Saturated sum min(a + b, 2^bits - 1).
KZ_CAPI int addandclip_1x8(KZ_TWO_OP_ARGS);
KZ_CAPI int addandclip_3x8(KZ_TWO_OP_ARGS);
KZ_CAPI int addandclip_4x8(KZ_TWO_OP_ARGS);
KZ_CAPI int addandclip_Nx8(KZ_TWO_OP_ARGS);
KZ_CAPI int addandclip_1x16(KZ_TWO_OP_ARGS);
KZ_CAPI int addandclip_3x16(KZ_TWO_OP_ARGS);
KZ_CAPI int addandclip_4x16(KZ_TWO_OP_ARGS);
KZ_CAPI int addandclip_Nx16(KZ_TWO_OP_ARGS);
KZ_CAPI int addandclip_Nx32(KZ_TWO_OP_ARGS);
KZ_CAPI int addandclip_5x32(KZ_TWO_OP_ARGS);

// Saturated difference max(a - b, 0); bits is not read.
KZ_CAPI int subandclip_1x8(KZ_TWO_OP_ARGS);
KZ_CAPI int subandclip_3x8(KZ_TWO_OP_ARGS);
KZ_CAPI int subandclip_4x8(KZ_TWO_OP_ARGS);
KZ_CAPI int subandclip_Nx8(KZ_TWO_OP_ARGS);
KZ_CAPI int subandclip_1x16(KZ_TWO_OP_ARGS);
KZ_CAPI int subandclip_3x16(KZ_TWO_OP_ARGS);
KZ_CAPI int subandclip_4x16(KZ_TWO_OP_ARGS);
KZ_CAPI int subandclip_Nx16(KZ_TWO_OP_ARGS);
KZ_CAPI int subandclip_Nx32(KZ_TWO_OP_ARGS);
KZ_CAPI int subandclip_5x32(KZ_TWO_OP_ARGS);

// Larger / smaller of the two samples; bits is not read.
KZ_CAPI int max_1x8(KZ_TWO_OP_ARGS);
KZ_CAPI int max_3x8(KZ_TWO_OP_ARGS);
KZ_CAPI int max_4x8(KZ_TWO_OP_ARGS);
KZ_CAPI int max_Nx8(KZ_TWO_OP_ARGS);
KZ_CAPI int max_1x16(KZ_TWO_OP_ARGS);
KZ_CAPI int max_3x16(KZ_TWO_OP_ARGS);
KZ_CAPI int max_4x16(KZ_TWO_OP_ARGS);
KZ_CAPI int max_Nx16(KZ_TWO_OP_ARGS);
KZ_CAPI int min_1x8(KZ_TWO_OP_ARGS);
KZ_CAPI int min_3x8(KZ_TWO_OP_ARGS);
KZ_CAPI int min_4x8(KZ_TWO_OP_ARGS);
KZ_CAPI int min_Nx8(KZ_TWO_OP_ARGS);
KZ_CAPI int min_1x16(KZ_TWO_OP_ARGS);
KZ_CAPI int min_3x16(KZ_TWO_OP_ARGS);
KZ_CAPI int min_4x16(KZ_TWO_OP_ARGS);
KZ_CAPI int min_Nx16(KZ_TWO_OP_ARGS);

// Weighted sum min((qA a + qB b) / M, M) with qX = trunc(wX M + 0.5); a
// negative (or NaN) weight counts as 0.
#define KZ_TRANSP_ARGS                                                                               \
    void *dst, uint32_t dstRowBytes, const void *srcA, uint32_t aRowBytes, const void *srcB,       \
        uint32_t bRowBytes, double wA, double wB, uint32_t nComp, uint32_t bits, uint32_t width,   \
        uint32_t count
KZ_CAPI int addtranspandclip_1x8(KZ_TRANSP_ARGS);
KZ_CAPI int addtranspandclip_3x8(KZ_TRANSP_ARGS);
KZ_CAPI int addtranspandclip_4x8(KZ_TRANSP_ARGS);
KZ_CAPI int addtranspandclip_Nx8(KZ_TRANSP_ARGS);
KZ_CAPI int addtranspandclip_1x16(KZ_TRANSP_ARGS);
KZ_CAPI int addtranspandclip_3x16(KZ_TRANSP_ARGS);
KZ_CAPI int addtranspandclip_4x16(KZ_TRANSP_ARGS);
KZ_CAPI int addtranspandclip_Nx16(KZ_TRANSP_ARGS);

// a + c - b clamped to 0..2^bits - 1, c the component's constant (one for the
// 1-component members, one per component otherwise).
#define KZ_SUBCONST_ARGS                                                                             \
    void *dst, uint32_t dstRowBytes, const void *srcA, uint32_t aRowBytes, const void *srcB,       \
        uint32_t bRowBytes, const int32_t *constants, uint32_t nComp, uint32_t bits,               \
        uint32_t width, uint32_t count
KZ_CAPI int subaddconstandclip_1x8(KZ_SUBCONST_ARGS);
KZ_CAPI int subaddconstandclip_3x8(KZ_SUBCONST_ARGS);
KZ_CAPI int subaddconstandclip_4x8(KZ_SUBCONST_ARGS);
KZ_CAPI int subaddconstandclip_Nx8(KZ_SUBCONST_ARGS);
KZ_CAPI int subaddconstandclip_1x16(KZ_SUBCONST_ARGS);
KZ_CAPI int subaddconstandclip_3x16(KZ_SUBCONST_ARGS);
KZ_CAPI int subaddconstandclip_4x16(KZ_SUBCONST_ARGS);
KZ_CAPI int subaddconstandclip_Nx16(KZ_SUBCONST_ARGS);

// ---------------------------------------------------------------------------
// Linear correlation: Pearson's coefficient per component, averaged, never
// below 0. Returns 0, or KZ_ERR_INVALID_ARG with *result = 0 for a count of 0.
// The statistics run over the whole rows processed. selection: bit k of word
// k / 64 selects component k; null selects all.
// ---------------------------------------------------------------------------
#define KZ_CORR_ARGS                                                                                 \
    const void *srcA, uint32_t aRowBytes, const void *srcB, uint32_t bRowBytes, uint32_t width,    \
        uint32_t count, double *result
KZ_CAPI int linar_correlation_1x8(KZ_CORR_ARGS);
KZ_CAPI int linar_correlation_3x8(KZ_CORR_ARGS);
KZ_CAPI int linar_correlation_1x16(KZ_CORR_ARGS);
KZ_CAPI int linar_correlation_3x16(KZ_CORR_ARGS);
#define KZ_CORRN_ARGS                                                                                \
    const void *srcA, uint32_t aRowBytes, const void *srcB, uint32_t bRowBytes, uint32_t nComp,    \
        uint32_t width, uint32_t count, double *result, const uint64_t *selection
KZ_CAPI int linar_correlation_Nx8(KZ_CORRN_ARGS);
KZ_CAPI int linar_correlation_Nx16(KZ_CORRN_ARGS);

// ---------------------------------------------------------------------------
// Running average: acc = round((s wS + acc wA) / (wA + wS)), then wA += wS,
// with one double weight per pixel. Every member returns 0.
// ---------------------------------------------------------------------------
#define KZ_AVG_ARGS                                                                                  \
    void *acc, uint32_t accRowBytes, double *accWeights, uint32_t accWeightRowBytes,              \
        const void *src, uint32_t srcRowBytes, const double *srcWeights,                           \
        uint32_t srcWeightRowBytes
KZ_CAPI int average_update_1x8(KZ_AVG_ARGS, uint32_t width, uint32_t count);
KZ_CAPI int average_update_3x8(KZ_AVG_ARGS, uint32_t width, uint32_t count);
KZ_CAPI int average_update_1x16(KZ_AVG_ARGS, uint32_t width, uint32_t count);
KZ_CAPI int average_update_3x16(KZ_AVG_ARGS, uint32_t width, uint32_t count);
KZ_CAPI int average_update_Nx8(KZ_AVG_ARGS, uint32_t nComp, uint32_t width, uint32_t count);
KZ_CAPI int average_update_Nx16(KZ_AVG_ARGS, uint32_t nComp, uint32_t width, uint32_t count);

// ---------------------------------------------------------------------------
// Masked copies: whole pixels of nComp * ((bits + 7) / 8) bytes (3 bytes in the
// 3x8 members) where the mask sample equals (_in) or differs from (_out) key.
// ---------------------------------------------------------------------------
#define KZ_COPYMASK_ARGS                                                                             \
    void *dst, uint32_t dstRowBytes, const void *src, uint32_t srcRowBytes, uint32_t nComp,        \
        uint32_t bits, const void *mask, uint32_t maskRowBytes, uint32_t width, uint32_t count,    \
        int32_t key
KZ_CAPI int copymask_8_in(KZ_COPYMASK_ARGS);
KZ_CAPI int copymask_8_out(KZ_COPYMASK_ARGS);
KZ_CAPI int copymask_16_in(KZ_COPYMASK_ARGS);
KZ_CAPI int copymask_16_out(KZ_COPYMASK_ARGS);
#define KZ_COPYMASK3_ARGS                                                                            \
    void *dst, uint32_t dstRowBytes, const void *src, uint32_t srcRowBytes, const void *mask,      \
        uint32_t maskRowBytes, uint32_t width, uint32_t count, int32_t key
KZ_CAPI int copymask_16_3x8_in(KZ_COPYMASK3_ARGS);
KZ_CAPI int copymask_16_3x8_out(KZ_COPYMASK3_ARGS);

// ---------------------------------------------------------------------------
// Fills. value / newValue / oldValue point to nComp samples of the container.
// ---------------------------------------------------------------------------
KZ_CAPI int set_Nx8(void *buf, uint32_t nComp, uint32_t rowBytes, const void *value, uint32_t width,
                    uint32_t count);
KZ_CAPI int set_Nx16(void *buf, uint32_t nComp, uint32_t rowBytes, const void *value,
                     uint32_t width, uint32_t count);
KZ_CAPI int change_Nx8(void *buf, uint32_t nComp, uint32_t rowBytes, const void *newValue,
                       const void *oldValue, uint32_t width, uint32_t count);
KZ_CAPI int change_Nx16(void *buf, uint32_t nComp, uint32_t rowBytes, const void *newValue,
                        const void *oldValue, uint32_t width, uint32_t count);

// ---------------------------------------------------------------------------
// Single-component operations. A component index at or past its picture's
// component count is refused with KZ_ERR_INVALID_ARG (-4).
// ---------------------------------------------------------------------------
#define KZ_COPYCOMP_ARGS                                                                             \
    void *dst, uint32_t dstComp, uint32_t dstRowBytes, uint32_t dstIdx, const void *src,           \
        uint32_t srcComp, uint32_t srcRowBytes, uint32_t srcIdx, uint32_t width, uint32_t count
KZ_CAPI int copycomponent_Nx8_to_Nx8(KZ_COPYCOMP_ARGS);
KZ_CAPI int copycomponent_Nx16_to_Nx16(KZ_COPYCOMP_ARGS);

#define KZ_COPYCOMPMASK_ARGS                                                                         \
    void *dst, uint32_t dstComp, uint32_t dstRowBytes, uint32_t dstIdx, const void *src,           \
        uint32_t srcComp, uint32_t srcRowBytes, uint32_t srcIdx, const void *mask,                 \
        uint32_t maskRowBytes, uint32_t width, uint32_t count, int32_t key
KZ_CAPI int copycomponentmask_8_Nx8_in(KZ_COPYCOMPMASK_ARGS);
KZ_CAPI int copycomponentmask_8_Nx8_out(KZ_COPYCOMPMASK_ARGS);
KZ_CAPI int copycomponentmask_8_Nx16_in(KZ_COPYCOMPMASK_ARGS);
KZ_CAPI int copycomponentmask_8_Nx16_out(KZ_COPYCOMPMASK_ARGS);
KZ_CAPI int copycomponentmask_16_Nx8_in(KZ_COPYCOMPMASK_ARGS);
KZ_CAPI int copycomponentmask_16_Nx8_out(KZ_COPYCOMPMASK_ARGS);
KZ_CAPI int copycomponentmask_16_Nx16_in(KZ_COPYCOMPMASK_ARGS);
KZ_CAPI int copycomponentmask_16_Nx16_out(KZ_COPYCOMPMASK_ARGS);

#define KZ_CONVCOMP_ARGS                                                                             \
    void *dst, uint32_t dstComp, uint32_t dstRowBytes, uint32_t dstIdx, uint32_t dstBits,          \
        const void *src, uint32_t srcComp, uint32_t srcRowBytes, uint32_t srcIdx,                  \
        uint32_t srcBits, uint32_t width, uint32_t count
KZ_CAPI int convertcomponent_8_to_8(KZ_CONVCOMP_ARGS);
KZ_CAPI int convertcomponent_8_to_16(KZ_CONVCOMP_ARGS);
KZ_CAPI int convertcomponent_16_to_8(KZ_CONVCOMP_ARGS);
KZ_CAPI int convertcomponent_16_to_16(KZ_CONVCOMP_ARGS);

KZ_CAPI int setcomponent_Nx8(void *buf, uint32_t nComp, uint32_t rowBytes, uint32_t idx,
                             int32_t value, uint32_t width, uint32_t count);
KZ_CAPI int setcomponent_Nx16(void *buf, uint32_t nComp, uint32_t rowBytes, uint32_t idx,
                              int32_t value, uint32_t width, uint32_t count);

// First difference a - b of the compared components in row order, 0 when all
// are equal.
#define KZ_CMPCOMP_ARGS                                                                              \
    const void *a, uint32_t aComp, uint32_t aRowBytes, uint32_t aIdx, const void *b,               \
        uint32_t bComp, uint32_t bRowBytes, uint32_t bIdx, uint32_t width, uint32_t count
KZ_CAPI int comparecomponent_Nx8_to_Nx8(KZ_CMPCOMP_ARGS);
KZ_CAPI int comparecomponent_Nx16_to_Nx16(KZ_CMPCOMP_ARGS);

// ---------------------------------------------------------------------------
// Component-count conversion. Every member returns 0, except the N-component
// collapses, which return KZ_ERR_INVALID_ARG for nComp 0 and
// KZ_ERR_OUT_OF_MEMORY when their weight scratch cannot be had.
// weights: one double per component (fractions summing to 1), or null for the
// rounded mean.
// ---------------------------------------------------------------------------
KZ_CAPI int convert_3x8_to_1x8(void *dst, uint32_t dstRowBytes, const void *src,
                               uint32_t srcRowBytes, const double *weights, uint32_t width,
                               uint32_t count);
KZ_CAPI int convert_3x16_to_1x16(void *dst, uint32_t dstRowBytes, const void *src,
                                 uint32_t srcRowBytes, const double *weights, uint32_t width,
                                 uint32_t count);
KZ_CAPI int convert_4x8_to_1x8(void *dst, uint32_t dstRowBytes, const void *src,
                               uint32_t srcRowBytes, const double *weights, uint32_t width,
                               uint32_t count);
KZ_CAPI int convert_4x16_to_1x16(void *dst, uint32_t dstRowBytes, const void *src,
                                 uint32_t srcRowBytes, const double *weights, uint32_t width,
                                 uint32_t count);
KZ_CAPI int convert_Nx8_to_1x8(void *dst, uint32_t dstRowBytes, const void *src, uint32_t nComp,
                               uint32_t srcRowBytes, const double *weights, uint32_t width,
                               uint32_t count);
KZ_CAPI int convert_Nx16_to_1x16(void *dst, uint32_t dstRowBytes, const void *src, uint32_t nComp,
                                 uint32_t srcRowBytes, const double *weights, uint32_t width,
                                 uint32_t count);

#define KZ_EXPAND_ARGS                                                                               \
    void *dst, uint32_t dstRowBytes, const void *src, uint32_t srcRowBytes, uint32_t width,        \
        uint32_t count
KZ_CAPI int convert_1x8_to_3x8(KZ_EXPAND_ARGS);
KZ_CAPI int convert_1x16_to_3x16(KZ_EXPAND_ARGS);
KZ_CAPI int convert_1x8_to_4x8(KZ_EXPAND_ARGS);
KZ_CAPI int convert_1x16_to_4x16(KZ_EXPAND_ARGS);
KZ_CAPI int convert_4x8_to_3x8(KZ_EXPAND_ARGS);
KZ_CAPI int convert_4x16_to_3x16(KZ_EXPAND_ARGS);
KZ_CAPI int convert_1x8_to_Nx8(void *dst, uint32_t nComp, uint32_t dstRowBytes, const void *src,
                               uint32_t srcRowBytes, uint32_t width, uint32_t count);
KZ_CAPI int convert_1x16_to_Nx16(void *dst, uint32_t nComp, uint32_t dstRowBytes, const void *src,
                                 uint32_t srcRowBytes, uint32_t width, uint32_t count);
KZ_CAPI int convert_3x8_to_4x8(void *dst, uint32_t dstRowBytes, const void *src,
                               uint32_t srcRowBytes, int32_t fourth, uint32_t width,
                               uint32_t count);
KZ_CAPI int convert_3x16_to_4x16(void *dst, uint32_t dstRowBytes, const void *src,
                                 uint32_t srcRowBytes, int32_t fourth, uint32_t width,
                                 uint32_t count);
