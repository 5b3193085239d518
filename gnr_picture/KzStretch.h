// Resampling kernels: nearest-neighbour ("quick") stretches of integer and
// float pictures.
//
// Rectangle stretches map a source rectangle (the source pointer at its
// top-left pixel) onto the whole destination; display stretches show the
// whole source at a zoomed size from a scroll offset, optionally mirrored; the
// windowed display stretch reads only inside a data window and paints a
// background pixel elsewhere. Row bytes are always in bytes.
//
// Results: 0; -4 for geometry that would index outside the source (an origin
// or window outside it, 0 components, a _1 / _3 member called with another
// component count, an empty source); -9 for a zoomed width or height of 0;
// -3 when the column table cannot be had. A destination width or height of 0
// writes nothing and returns 0.
#pragma once

#include "gnr_system/kz_base.h"

// A rectangle given by its edges.
template <class T>
struct CKzRectBase {
    T left, top, right, bottom;
};

template <class T>
KZ_EXPORT int stretch_quick(T* dst, unsigned int comps, unsigned int dstStride, unsigned int bits, unsigned int dstW,
                            unsigned int dstH, T* src, unsigned int srcStride, unsigned int srcW, unsigned int srcH,
                            unsigned int rectL, unsigned int rectT, unsigned int rectW, unsigned int rectH);
template <class T>
KZ_EXPORT int stretch_quick_1(T* dst, unsigned int comps, unsigned int dstStride, unsigned int bits,
                              unsigned int dstW, unsigned int dstH, T* src, unsigned int srcStride, unsigned int srcW,
                              unsigned int srcH, unsigned int rectL, unsigned int rectT, unsigned int rectW,
                              unsigned int rectH);
template <class T>
KZ_EXPORT int stretch_quick_3(T* dst, unsigned int comps, unsigned int dstStride, unsigned int bits,
                              unsigned int dstW, unsigned int dstH, T* src, unsigned int srcStride, unsigned int srcW,
                              unsigned int srcH, unsigned int rectL, unsigned int rectT, unsigned int rectW,
                              unsigned int rectH);

KZ_EXPORT int stretch_float_quick(float* dst, unsigned int comps, unsigned int dstStride, unsigned int dstW,
                                  unsigned int dstH, float* src, unsigned int srcStride, unsigned int srcH,
                                  unsigned int rectL, unsigned int rectT, unsigned int rectW, unsigned int rectH);
KZ_EXPORT int stretch_float_quick_1(float* dst, unsigned int comps, unsigned int dstStride, unsigned int dstW,
                                    unsigned int dstH, float* src, unsigned int srcStride, unsigned int srcH,
                                    unsigned int rectL, unsigned int rectT, unsigned int rectW, unsigned int rectH);
KZ_EXPORT int stretch_float_quick_3(float* dst, unsigned int comps, unsigned int dstStride, unsigned int dstW,
                                    unsigned int dstH, float* src, unsigned int srcStride, unsigned int srcH,
                                    unsigned int rectL, unsigned int rectT, unsigned int rectW, unsigned int rectH);

template <class T>
KZ_EXPORT int stretch_quick_display(T* dst, unsigned int dstW, unsigned int dstH, unsigned int comps,
                                    unsigned int dstStride, unsigned int bits, unsigned int zoomW, unsigned int zoomH,
                                    unsigned int scrollX, unsigned int scrollY, T* src, unsigned int srcW,
                                    unsigned int srcH, unsigned int srcStride, bool flipH, bool flipV);
template <class T>
KZ_EXPORT int stretch_quick_display_1(T* dst, unsigned int dstW, unsigned int dstH, unsigned int comps,
                                      unsigned int dstStride, unsigned int bits, unsigned int zoomW,
                                      unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T* src,
                                      unsigned int srcW, unsigned int srcH, unsigned int srcStride, bool flipH,
                                      bool flipV);
template <class T>
KZ_EXPORT int stretch_quick_display_3(T* dst, unsigned int dstW, unsigned int dstH, unsigned int comps,
                                      unsigned int dstStride, unsigned int bits, unsigned int zoomW,
                                      unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T* src,
                                      unsigned int srcW, unsigned int srcH, unsigned int srcStride, bool flipH,
                                      bool flipV);

template <class T>
KZ_EXPORT int stretch_quick_display_ex(T* dst, unsigned int dstW, unsigned int dstH, unsigned int comps,
                                       unsigned int dstStride, unsigned int bits, unsigned int zoomW,
                                       unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T* src,
                                       unsigned int winL, unsigned int winT, unsigned int winW, unsigned int winH,
                                       unsigned int srcW, unsigned int srcH, unsigned int srcStride,
                                       void* background);
template <class T>
KZ_EXPORT int stretch_quick_display_ex_1(T* dst, unsigned int dstW, unsigned int dstH, unsigned int comps,
                                         unsigned int dstStride, unsigned int bits, unsigned int zoomW,
                                         unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T* src,
                                         unsigned int winL, unsigned int winT, unsigned int winW, unsigned int winH,
                                         unsigned int srcW, unsigned int srcH, unsigned int srcStride,
                                         void* background);
template <class T>
KZ_EXPORT int stretch_quick_display_ex_3(T* dst, unsigned int dstW, unsigned int dstH, unsigned int comps,
                                         unsigned int dstStride, unsigned int bits, unsigned int zoomW,
                                         unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T* src,
                                         unsigned int winL, unsigned int winT, unsigned int winW, unsigned int winH,
                                         unsigned int srcW, unsigned int srcH, unsigned int srcStride,
                                         void* background);

// ---------------------------------------------------------------------------
// Box-averaging ("hybrid") reduction on two threads.
//
// Every destination pixel is the truncated mean of an evenly spaced grid of at
// most 10 x 10 samples inside its block of source pixels; the remainder of
// source size / destination size is spread over the block starts by error
// diffusion, so the blocks tile the source exactly. The drivers build the
// block tables, start one worker thread for the lower half of the rows, draw
// the upper half themselves and join before returning.
//
// Driver results: 0; -9 for a zoomed width or height of 0, or when a table or
// the worker thread cannot be had (nothing drawn); -4 for a block size of 0
// (a source below half the destination size), bits that do not fit the sample
// type (8 for unsigned char, 9..16 for unsigned short), a display scroll plus
// destination size beyond the zoomed size, 0 components or a source row of
// 2^31 samples or more; -2 for more than 64 components in the _N members. A
// destination width or height of 0 returns 0 without drawing or starting a
// thread.
// ---------------------------------------------------------------------------

// Record read by the thread entries. Rectangle form: the column table holds
// steps between block starts (samples for _1 / _3, pixels for _N) and the row
// table absolute start rows; display form: both hold absolute starts, columns
// in samples. The worker draws destination rows startRow .. endRow - 1.
struct CKzHybridStretchJob {
    unsigned char bits;        // 8: unsigned char samples; 9..16: unsigned short
    unsigned char comps;       // read by the _N entries
    void* dst;
    unsigned int dstStride;    // bytes
    unsigned int dstW;
    unsigned int endRow;       // the destination height
    void* src;
    unsigned int srcStride;    // bytes
    unsigned int srcW, srcH;   // not read by the workers
    int blockW, blockH;
    int* colTab;
    long* rowTab;
    unsigned int startRow;
    // Display form only.
    unsigned int scrollX, scrollY;
    bool flipH, flipV;
};

template <class T>
KZ_EXPORT int stretch_hybrid_mt_1(T* dst, unsigned int dstStride, unsigned int dstW, unsigned int dstH, T* src,
                                  unsigned int srcStride, unsigned int srcW, unsigned int srcH, unsigned int comps,
                                  unsigned int bits);
template <class T>
KZ_EXPORT int stretch_hybrid_mt_3(T* dst, unsigned int dstStride, unsigned int dstW, unsigned int dstH, T* src,
                                  unsigned int srcStride, unsigned int srcW, unsigned int srcH, unsigned int comps,
                                  unsigned int bits);
template <class T>
KZ_EXPORT int stretch_hybrid_mt_N(T* dst, unsigned int dstStride, unsigned int dstW, unsigned int dstH, T* src,
                                  unsigned int srcStride, unsigned int srcW, unsigned int srcH, unsigned int comps,
                                  unsigned int bits);

template <class T>
KZ_EXPORT void stretch_hybrid_st_1(T* dst, unsigned int dstStride, unsigned int dstW, unsigned int endRow, T* src,
                                   unsigned int srcStride, unsigned int srcW, unsigned int srcH, int blockW,
                                   int blockH, int* colTab, long* rowTab, unsigned int startRow);
template <class T>
KZ_EXPORT void stretch_hybrid_st_3(T* dst, unsigned int dstStride, unsigned int dstW, unsigned int endRow, T* src,
                                   unsigned int srcStride, unsigned int srcW, unsigned int srcH, int blockW,
                                   int blockH, int* colTab, long* rowTab, unsigned int startRow);
template <class T>
KZ_EXPORT void stretch_hybrid_st_N(T* dst, unsigned int dstStride, unsigned int dstW, unsigned int endRow, T* src,
                                   unsigned int srcStride, unsigned int srcW, unsigned int srcH, unsigned int comps,
                                   int blockW, int blockH, int* colTab, long* rowTab, unsigned int startRow);

template <class T>
KZ_EXPORT int stretch_display_hybrid_mt_1(T* dst, unsigned int dstW, unsigned int dstH, unsigned int comps,
                                          unsigned int dstStride, unsigned int bits, unsigned int zoomW,
                                          unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T* src,
                                          unsigned int srcW, unsigned int srcH, unsigned int srcStride, bool flipH,
                                          bool flipV);
template <class T>
KZ_EXPORT int stretch_display_hybrid_mt_3(T* dst, unsigned int dstW, unsigned int dstH, unsigned int comps,
                                          unsigned int dstStride, unsigned int bits, unsigned int zoomW,
                                          unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T* src,
                                          unsigned int srcW, unsigned int srcH, unsigned int srcStride, bool flipH,
                                          bool flipV);
template <class T>
KZ_EXPORT int stretch_display_hybrid_mt_N(T* dst, unsigned int dstW, unsigned int dstH, unsigned int comps,
                                          unsigned int dstStride, unsigned int bits, unsigned int zoomW,
                                          unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T* src,
                                          unsigned int srcW, unsigned int srcH, unsigned int srcStride, bool flipH,
                                          bool flipV);

template <class T>
KZ_EXPORT void stretch_display_hybrid_st_1(T* dst, unsigned int dstStride, unsigned int dstW, unsigned int endRow,
                                           T* src, unsigned int srcStride, unsigned int srcW, unsigned int srcH,
                                           int blockW, int blockH, int* colTab, long* rowTab, unsigned int startRow,
                                           unsigned int scrollX, unsigned int scrollY, bool flipH, bool flipV);
template <class T>
KZ_EXPORT void stretch_display_hybrid_st_3(T* dst, unsigned int dstStride, unsigned int dstW, unsigned int endRow,
                                           T* src, unsigned int srcStride, unsigned int srcW, unsigned int srcH,
                                           int blockW, int blockH, int* colTab, long* rowTab, unsigned int startRow,
                                           unsigned int scrollX, unsigned int scrollY, bool flipH, bool flipV);
template <class T>
KZ_EXPORT void stretch_display_hybrid_st_N(T* dst, unsigned int dstStride, unsigned int dstW, unsigned int endRow,
                                           T* src, unsigned int srcStride, unsigned int srcW, unsigned int srcH,
                                           int blockW, int blockH, int* colTab, long* rowTab, unsigned int startRow,
                                           unsigned int scrollX, unsigned int scrollY, unsigned int comps,
                                           bool flipH, bool flipV);

// Thread entries: `job` is a CKzHybridStretchJob; the sample type follows its
// bits (other bits draw nothing). They return a null pointer.
KZ_EXPORT void* ThreadProc_Stretch_Hybrid_1(void* job);
KZ_EXPORT void* ThreadProc_Stretch_Hybrid_3(void* job);
KZ_EXPORT void* ThreadProc_Stretch_Hybrid_N(void* job);
KZ_EXPORT void* ThreadProc_Stretch_Display_Hybrid_1(void* job);
KZ_EXPORT void* ThreadProc_Stretch_Display_Hybrid_3(void* job);
KZ_EXPORT void* ThreadProc_Stretch_Display_Hybrid_N(void* job);

// ---------------------------------------------------------------------------
// Nearest-neighbour stretch of packed 1-bit pictures (first pixel in the most
// significant bit; (width + 7) / 8 bytes written per destination row, unused
// low bits 0). The rectangle form's source points at the byte holding the
// rectangle's top-left pixel; its row is taken as row bytes x 8 pixels wide.
// The _up members build each row from prepared per-byte expansions and clear
// the destination first; the plain members pick them for vertical
// enlargements. Both paths give the same pixels.
//
// Results: 0; -4 for a rectangle origin outside the source or an empty
// display source; -9 for a zoomed width or height of 0; -3 when the column
// table or the expansion tables cannot be had (nothing written).
// ---------------------------------------------------------------------------
KZ_EXPORT int stretch_quick_binary(unsigned char* dst, unsigned int dstStride, unsigned int dstW, unsigned int dstH,
                                   unsigned char* src, unsigned int srcStride, unsigned int srcH, unsigned int rectL,
                                   unsigned int rectT, unsigned int rectW, unsigned int rectH);
KZ_EXPORT int stretch_quick_binary_up(unsigned char* dst, unsigned int dstStride, unsigned int dstW,
                                      unsigned int dstH, unsigned char* src, unsigned int srcStride,
                                      unsigned int srcH, unsigned int rectL, unsigned int rectT, unsigned int rectW,
                                      unsigned int rectH);
KZ_EXPORT int stretch_quick_binary_display(unsigned char* dst, unsigned int dstW, unsigned int dstH,
                                           unsigned int dstStride, unsigned int zoomW, unsigned int zoomH,
                                           unsigned int scrollX, unsigned int scrollY, unsigned char* src,
                                           unsigned int srcW, unsigned int srcH, unsigned int srcStride, bool flipH,
                                           bool flipV);
KZ_EXPORT int stretch_quick_binary_display_up(unsigned char* dst, unsigned int dstW, unsigned int dstH,
                                              unsigned int dstStride, unsigned int zoomW, unsigned int zoomH,
                                              unsigned int scrollX, unsigned int scrollY, unsigned char* src,
                                              unsigned int srcW, unsigned int srcH, unsigned int srcStride,
                                              bool flipH, bool flipV);

// ---------------------------------------------------------------------------
// Filtered two-pass stretch.
//
// A horizontal pass resamples rows to the destination width, a vertical pass
// resamples columns to the destination height; every destination sample is a
// weighted sum over a tap list built from a filter function sampled around
// the pixel's position in the source (widened by the scale when reducing).
// Weights are fixed point: 1/1024 for integer samples (result accumulator
// >> 10), 1/65536 for float samples (result accumulator x 2^-16); the
// validity members leave out samples at or below the invalid value
// (-3.4028235e38, also -inf and NaN) and divide by the weights they used.
//
// The horizontal source pointer addresses column rectangle-left of the first
// row filtered, the vertical one the first pixel to filter in the rectangle's
// top row; tap positions are clamped into the source along the pass's axis.
// The components argument of the _1 / _3 members is the step between pixels.
//
// Results: 0; -4 for 0 components, a _3 member with fewer than 3, a null
// filter, an empty rectangle or source along the pass's axis, a rectangle
// origin outside the source, or a float source width (row bytes / 4 /
// components) of 0; -3 when the tap lists or an accumulator row cannot be
// had. Rows or a destination size of 0 write nothing and return 0.
// ---------------------------------------------------------------------------

// Filter functions: triangle (support 2) and quadratic B-spline bell
// (support 3); the float twins compute the same values. NaN gives 0.
KZ_EXPORT double triangle(double x);
KZ_EXPORT double bell(double x);
KZ_EXPORT double trianglefloat(double x);
KZ_EXPORT double bellfloat(double x);

#define KZ_STRETCH_HORZ_PARAMS(T)                                                                                  \
    T *dst, unsigned int comps, unsigned int dstStride, unsigned int bits, unsigned int dstW, unsigned int rows,   \
        T *src, unsigned int srcStride, unsigned int srcW, unsigned int srcH, unsigned int rectL,                  \
        unsigned int rectT, unsigned int rectW, unsigned int rectH, double (*filter)(double), unsigned int support
#define KZ_STRETCH_VERT_PARAMS(T)                                                                                  \
    T *dst, unsigned int comps, unsigned int dstStride, unsigned int bits, unsigned int dstW, unsigned int dstH,   \
        T *src, unsigned int srcStride, unsigned int srcH, unsigned int rectL, unsigned int rectT,                 \
        unsigned int rectW, unsigned int rectH, double (*filter)(double), unsigned int support
#define KZ_STRETCH_FLOAT_PARAMS                                                                                    \
    float *dst, unsigned int comps, unsigned int dstStride, unsigned int dstW, unsigned int dstH, float *src,      \
        unsigned int srcStride, unsigned int srcH, unsigned int rectL, unsigned int rectT, unsigned int rectW,     \
        unsigned int rectH, double (*filter)(double), unsigned int support

template <class T>
KZ_EXPORT int stretch_generic_horz(KZ_STRETCH_HORZ_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_horz_1(KZ_STRETCH_HORZ_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_horz_3(KZ_STRETCH_HORZ_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_vert(KZ_STRETCH_VERT_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_vert_1(KZ_STRETCH_VERT_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_vert_3(KZ_STRETCH_VERT_PARAMS(T));

KZ_EXPORT int stretch_float_generic_horz(KZ_STRETCH_FLOAT_PARAMS);
KZ_EXPORT int stretch_float_generic_horz_1(KZ_STRETCH_FLOAT_PARAMS);
KZ_EXPORT int stretch_float_generic_horz_3(KZ_STRETCH_FLOAT_PARAMS);
KZ_EXPORT int stretch_float_generic_vert(KZ_STRETCH_FLOAT_PARAMS);
KZ_EXPORT int stretch_float_generic_vert_1(KZ_STRETCH_FLOAT_PARAMS);
KZ_EXPORT int stretch_float_generic_vert_3(KZ_STRETCH_FLOAT_PARAMS);
KZ_EXPORT int stretch_float_generic_horz_1_validity(KZ_STRETCH_FLOAT_PARAMS);
KZ_EXPORT int stretch_float_generic_vert_1_validity(KZ_STRETCH_FLOAT_PARAMS);

// ---------------------------------------------------------------------------
// Filtered stretch for display.
//
// The whole source is seen at a zoomed size from a scroll offset, optionally
// mirrored. The horizontal pass filters the source rows of a band (rows
// band->top .. band->bottom - 1) into an intermediate picture of destination
// width; the vertical pass filters that intermediate picture (row r holding
// source row band->top + r) down to the destination rows. Weights are 1/1024
// for every sample type (float results are accumulator x 2^-10). The windowed
// horizontal pass reads only inside a data window: its rows outside the
// window, and columns whose filter reaches no window column, get the
// background pixel.
//
// Results: 0; -9 for a zoomed width or height of 0 (first); -4 for 0
// components, a _3 member with fewer than 3, a null filter, band or
// background, a band top below 0, an empty source, a band reaching past the
// source height, or a window outside the source; -3 when the tap lists or an
// accumulator row cannot be had. A destination size of 0 writes nothing; an
// empty band makes the horizontal passes write nothing and the vertical pass
// fill its destination with zeros.
// ---------------------------------------------------------------------------

#define KZ_STRETCH_DISPLAY_PARAMS(T)                                                                               \
    T *dst, unsigned int dstW, unsigned int dstH, unsigned int comps, unsigned int dstStride, unsigned int bits,   \
        unsigned int zoomW, unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T *src,                \
        unsigned int srcW, unsigned int srcH, unsigned int srcStride, double (*filter)(double),                    \
        unsigned int support, CKzRectBase<int> *band, bool flip
#define KZ_STRETCH_DISPLAY_EX_PARAMS(T)                                                                            \
    T *dst, unsigned int dstW, unsigned int dstH, unsigned int comps, unsigned int dstStride, unsigned int bits,   \
        unsigned int zoomW, unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T *src,                \
        unsigned int winL, unsigned int winT, unsigned int winW, unsigned int winH, unsigned int srcW,             \
        unsigned int srcH, unsigned int srcStride, double (*filter)(double), unsigned int support,                 \
        CKzRectBase<int> *band, void *background

template <class T>
KZ_EXPORT int stretch_generic_display_horz(KZ_STRETCH_DISPLAY_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_display_horz_1(KZ_STRETCH_DISPLAY_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_display_horz_3(KZ_STRETCH_DISPLAY_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_display_vert(KZ_STRETCH_DISPLAY_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_display_vert_1(KZ_STRETCH_DISPLAY_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_display_vert_3(KZ_STRETCH_DISPLAY_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_display_horz_ex(KZ_STRETCH_DISPLAY_EX_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_display_horz_ex_1(KZ_STRETCH_DISPLAY_EX_PARAMS(T));
template <class T>
KZ_EXPORT int stretch_generic_display_horz_ex_3(KZ_STRETCH_DISPLAY_EX_PARAMS(T));
