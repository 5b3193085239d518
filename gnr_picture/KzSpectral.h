// Spectral rendering and statistics: pictures of N interleaved channels are
// rendered into 8-bit blue, green, red pixels by a linear colour mix whose
// parameters (offset, gain, gamma and colour of each channel, visible
// channels, exposure colours, palette) come from the picture's SKzLut; the
// statistics measure the largest rendered value or a histogram of it.
//
// The threaded members split their rows into T = min(processors, rows)
// bands: band 0 on the calling thread, each other band on a thread started
// for the call and joined before it returns. Results do not depend on T.
//
// Results: 0; -4 for a null LUT, a LUT without parametric block, more
// components than the LUT's inputs, or a depth outside the member's range
// (1..8 for Nx8, 9..16 for Nx16); -3 when the call's arrays cannot be had
// (nothing written then).
#pragma once

#include "gnr_picture/SKzLut.h"
#include "gnr_system/kz_base.h"

#include <cstddef>
#include <cstdint>
#include <emmintrin.h>

// 16-byte vectors handed to the band functions.
struct alignas(16) __m128iEx {
    __m128i v;
};
struct alignas(16) __m128Ex {
    __m128 v;
};

// One band of rows of a threaded spectral call, private to its thread.
struct SKzSpectBand {
    unsigned char* pDst;
    unsigned int uiDstStride;
    void* pSrc;
    unsigned int uiSrcStride;
    unsigned int uiComps;
    void* pMask;
    unsigned int uiFirst;
    unsigned int uiPadded;
    float* pColors;
    float* pOffsets;
    float* pGains;
    float fGamma;
    float fScale;
    unsigned char* pPalette;
    __m128iEx* pTop;
    __m128iEx* pOnes;
    unsigned char* pOver;
    unsigned char* pUnder;
    unsigned int uiWidth;
    unsigned int uiFirstRow;
    unsigned int uiLastRow;
    __m128Ex* pMaxSlot;
    unsigned int* pHisto;
};

KZ_CAPI int spect_render_Nx8_3x8_sse_overexp_underexp(unsigned char* dst, unsigned int dstStride,
                                                      unsigned char* src, unsigned int bits, unsigned int srcStride,
                                                      unsigned int nComps, SKzLut* lut, unsigned int width,
                                                      unsigned int count);
KZ_CAPI int spect_render_Nx16_3x8_sse_overexp_underexp(unsigned char* dst, unsigned int dstStride,
                                                       unsigned short* src, unsigned int bits,
                                                       unsigned int srcStride, unsigned int nComps, SKzLut* lut,
                                                       unsigned int width, unsigned int count);
KZ_CAPI int spect_render_Nx8_3x8_float_overexp(unsigned char* dst, unsigned int dstStride, unsigned char* src,
                                               unsigned int bits, unsigned int srcStride, unsigned int nComps,
                                               SKzLut* lut, unsigned int width, unsigned int count);
KZ_CAPI int spect_render_Nx16_3x8_float_overexp(unsigned char* dst, unsigned int dstStride, unsigned short* src,
                                                unsigned int bits, unsigned int srcStride, unsigned int nComps,
                                                SKzLut* lut, unsigned int width, unsigned int count);
KZ_CAPI int spect_render_Nx8_3x8_float(unsigned char* dst, unsigned int dstStride, unsigned char* src,
                                       unsigned int bits, unsigned int srcStride, unsigned int nComps, SKzLut* lut,
                                       unsigned int width, unsigned int count);
KZ_CAPI int spect_render_Nx16_3x8_float(unsigned char* dst, unsigned int dstStride, unsigned short* src,
                                        unsigned int bits, unsigned int srcStride, unsigned int nComps, SKzLut* lut,
                                        unsigned int width, unsigned int count);
KZ_CAPI int spect_render_NxFloat_3x8_float(unsigned char* dst, unsigned int dstStride, float* src,
                                           unsigned int srcStride, unsigned int nComps, SKzLut* lut,
                                           unsigned int width, unsigned long long count, float min, float max);

KZ_CAPI int spect_getmaxrgb_Nx8_sse(double* maxOut, unsigned char* src, unsigned int srcStride, unsigned int bits,
                                    unsigned int nComps, unsigned int width, unsigned int count,
                                    unsigned int* colours, unsigned char* flags, double factor);
KZ_CAPI int spect_getmaxrgb_Nx16_sse(double* maxOut, unsigned short* src, unsigned int srcStride,
                                     unsigned int bits, unsigned int nComps, unsigned int width, unsigned int count,
                                     unsigned int* colours, unsigned short* flags, double factor);
KZ_CAPI int spect_getmaxrgb_NxFloat_sse(double* maxOut, float* src, unsigned int srcStride, float min, float max,
                                        unsigned int nComps, unsigned int width, unsigned long long count,
                                        unsigned int* colours, unsigned int* flags, double factor);
KZ_CAPI int spect_getmaxrgbex_Nx8_sse(double* maxOut, unsigned char* src, unsigned int srcStride,
                                      unsigned int bits, unsigned int nComps, unsigned int width,
                                      unsigned int count, SKzLut* lut);
KZ_CAPI int spect_getmaxrgbex_Nx16_sse(double* maxOut, unsigned short* src, unsigned int srcStride,
                                       unsigned int bits, unsigned int nComps, unsigned int width,
                                       unsigned int count, SKzLut* lut);
KZ_CAPI int spect_getmaxrgbex_NxFloat_sse(double* maxOut, float* src, unsigned int srcStride, float min,
                                          float max, unsigned int nComps, unsigned int width,
                                          unsigned long long count, SKzLut* lut);
KZ_CAPI int spect_gethistorgb_NxFloat_sse(unsigned int* histBlue, unsigned int* histGreen, unsigned int* histRed,
                                          float* src, unsigned int srcStride, float min, float max,
                                          unsigned int nComps, unsigned int width, unsigned long long count,
                                          unsigned int* colours, unsigned int* flags, double factor);
KZ_CAPI int spect_gethistorgbex_NxFloat_sse(unsigned int* histBlue, unsigned int* histGreen, unsigned int* histRed,
                                            float* src, unsigned int srcStride, float min, float max,
                                            unsigned int nComps, unsigned int width, unsigned long long count,
                                            SKzLut* lut);
KZ_CAPI int spect_getminmaxmean_Nx16_float(double* mins, double* maxs, double* sums, unsigned char* maxColour,
                                           unsigned short* src, unsigned int srcStride, unsigned int reserved,
                                           unsigned int nComps, unsigned int width, unsigned int count,
                                           unsigned int* colours, unsigned short* flags, double scale);

// Band functions (rows first .. last inclusive) and thread entries.
KZ_EXPORT void spect_render_Nx8_3x8_sse_overexp_underexp_calc(
    unsigned int firstRow, unsigned int lastRow, unsigned int width, unsigned char* dst, unsigned int dstStride,
    unsigned char* src, unsigned int srcStride, unsigned int nComps, unsigned char* mask, unsigned int first,
    unsigned int padded, float* colours, float* offsets, float* gains, float gamma, float scale,
    unsigned char* palette, unsigned char* over, unsigned char* under, __m128iEx* top, __m128iEx* ones);
KZ_EXPORT void spect_render_Nx16_3x8_sse_overexp_underexp_calc(
    unsigned int firstRow, unsigned int lastRow, unsigned int width, unsigned char* dst, unsigned int dstStride,
    unsigned short* src, unsigned int srcStride, unsigned int nComps, unsigned short* mask, unsigned int first,
    unsigned int padded, float* colours, float* offsets, float* gains, float gamma, float scale,
    unsigned char* palette, unsigned char* over, unsigned char* under, __m128iEx* top, __m128iEx* ones);
KZ_EXPORT void* spect_render_Nx8_3x8_sse_overexp_underexp_threadproc(SKzSpectBand* band);
KZ_EXPORT void* spect_render_Nx16_3x8_sse_overexp_underexp_threadproc(SKzSpectBand* band);

KZ_EXPORT void spect_getmaxrgb_Nx8_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                            unsigned char* src, unsigned int srcStride, unsigned int nComps,
                                            unsigned char* mask, unsigned int padded, float* colours, float scale,
                                            __m128Ex* slot);
KZ_EXPORT void spect_getmaxrgb_Nx16_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                             unsigned short* src, unsigned int srcStride, unsigned int nComps,
                                             unsigned short* mask, unsigned int padded, float* colours, float scale,
                                             __m128Ex* slot);
KZ_EXPORT void spect_getmaxrgb_NxFloat_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                                float* src, unsigned int srcStride, unsigned int nComps,
                                                unsigned int* mask, unsigned int padded, float* colours, float scale,
                                                __m128Ex* slot);
KZ_EXPORT void spect_getmaxrgbex_Nx8_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                              unsigned char* src, unsigned int srcStride, unsigned int nComps,
                                              unsigned char* mask, unsigned int first, unsigned int padded,
                                              float* colours, float* offsets, float* gains, float scale,
                                              __m128Ex* slot);
KZ_EXPORT void spect_getmaxrgbex_Nx16_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                               unsigned short* src, unsigned int srcStride, unsigned int nComps,
                                               unsigned short* mask, unsigned int first, unsigned int padded,
                                               float* colours, float* offsets, float* gains, float scale,
                                               __m128Ex* slot);
KZ_EXPORT void spect_getmaxrgbex_NxFloat_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                                  float* src, unsigned int srcStride, unsigned int nComps,
                                                  unsigned int* mask, unsigned int first, unsigned int padded,
                                                  float* colours, float* offsets, float* gains, float scale,
                                                  __m128Ex* slot);
KZ_EXPORT void spect_gethistorgb_NxFloat_sse_calc(unsigned int firstRow, unsigned int lastRow, unsigned int width,
                                                  float* src, unsigned int srcStride, unsigned int nComps,
                                                  unsigned int* mask, unsigned int padded, float* colours,
                                                  float scale, unsigned int* histBlue, unsigned int* histGreen,
                                                  unsigned int* histRed);
KZ_EXPORT void spect_gethistorgbex_NxFloat_sse_calc(unsigned int firstRow, unsigned int lastRow,
                                                    unsigned int width, float* src, unsigned int srcStride,
                                                    unsigned int nComps, unsigned int* mask, unsigned int first,
                                                    unsigned int padded, float* colours, float* offsets,
                                                    float* gains, float scale, unsigned int* histBlue,
                                                    unsigned int* histGreen, unsigned int* histRed);
KZ_EXPORT void* spect_getmaxrgb_Nx8_sse_threadproc(SKzSpectBand* band);
KZ_EXPORT void* spect_getmaxrgb_Nx16_sse_threadproc(SKzSpectBand* band);
KZ_EXPORT void* spect_getmaxrgb_NxFloat_sse_threadproc(SKzSpectBand* band);
KZ_EXPORT void* spect_getmaxrgbex_Nx8_sse_threadproc(SKzSpectBand* band);
KZ_EXPORT void* spect_getmaxrgbex_Nx16_sse_threadproc(SKzSpectBand* band);
KZ_EXPORT void* spect_getmaxrgbex_NxFloat_sse_threadproc(SKzSpectBand* band);
KZ_EXPORT void* spect_gethistorgb_NxFloat_sse_threadproc(SKzSpectBand* band);
KZ_EXPORT void* spect_gethistorgbex_NxFloat_sse_threadproc(SKzSpectBand* band);

// Channel run of a call: components first .. last visible one, padded to a
// multiple of 8 (n); arrays of n entries (the mask followed by 8 zero bytes;
// colour vectors of 4 floats: red, green, blue, fourth byte, each x 1/255).
// Over / under triples (blue, green, red per channel) are built only when the
// LUT has that colour; the caller nulls both first. 0, or -3 with every
// output null when memory runs out.
template <class T>
KZ_EXPORT int prepare_arrays(T*& mask, unsigned int& first, unsigned int& padded, float*& colours, float*& offsets,
                             float*& gains, SKzLut* lut, unsigned int nComps, unsigned char*& over,
                             unsigned char*& under);
template <class T>
KZ_EXPORT int prepare_arrays(T*& mask, unsigned int& first, unsigned int& padded, float*& colours, float*& offsets,
                             float*& gains, float*& gammas, SKzLut* lut, unsigned int nComps);
template <class T>
KZ_EXPORT void finish_arrays(T* mask, float* colours, float* offsets, float* gains, unsigned char* over,
                             unsigned char* under);
template <class T>
KZ_EXPORT void finish_arrays(T* mask, float* colours, float* offsets, float* gains, float* gammas);
