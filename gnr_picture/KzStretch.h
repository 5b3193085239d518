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
