// Two-pass compositions of the filtered stretch kernels, shared by the
// picture-buffer and float-picture stretch dispatchers: margin rows, the
// intermediate picture (nothrow; -3 when it cannot be had), the horizontal
// pass, and the vertical pass only after a horizontal 0. The member is
// chosen by component count (1, 3, any other); bell selects the bell filter
// (support 3), otherwise the triangle (support 2).
#pragma once

#include "gnr_picture/KzStretch.h"

// Rectangle stretch: src at the rectangle's top-left pixel. T is unsigned
// char (8 bits) or unsigned short (9..16 bits). The rectangle's rows must lie
// inside the source (-4).
template <class T>
int KzFilteredStretch(T* dst, unsigned comps, unsigned dstStride, unsigned bits, unsigned dstW, unsigned dstH, T* src,
                      unsigned srcStride, unsigned srcW, unsigned srcH, unsigned rectL, unsigned rectT,
                      unsigned rectW, unsigned rectH, bool bell);

// Float rectangle stretch (source width = row bytes / 4 / comps). With
// validity the one-component validity members run; other component counts
// give -2.
int KzFilteredStretchFloat(float* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned dstH, float* src,
                           unsigned srcStride, unsigned srcH, unsigned rectL, unsigned rectT, unsigned rectW,
                           unsigned rectH, bool bell, bool validity);

// Windowed display stretch of integer pictures: origin at pixel (0, 0) of
// the whole source, samples held only inside the window; vertical flip off.
template <class T>
int KzFilteredDisplayEx(T* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride, unsigned bits,
                        unsigned zoomW, unsigned zoomH, unsigned scrollX, unsigned scrollY, T* origin, unsigned winL,
                        unsigned winT, unsigned winW, unsigned winH, unsigned srcW, unsigned srcH, unsigned srcStride,
                        bool bell, void* background);

// Display stretch with both flips (the float dispatcher's form; T may be
// unsigned char, unsigned short or float).
template <class T>
int KzFilteredDisplay(T* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride, unsigned bits,
                      unsigned zoomW, unsigned zoomH, unsigned scrollX, unsigned scrollY, T* src, unsigned srcW,
                      unsigned srcH, unsigned srcStride, bool bell, bool flipH, bool flipV);
