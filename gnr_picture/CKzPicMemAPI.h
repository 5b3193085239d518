// Raw picture memory: each picture is a pointer and a row stride in bytes,
// with its bits per sample and components per pixel; the extent is a width in
// pixels and a pixel count (count / width rows are processed). Every
// operation checks its arguments, picks the pixel kernel for the sample depth
// and component count once, and calls it.
//
// Common codes: 0 without touching memory for a width or count of 0; -2 when
// no kernel fits the depth and component count; -4 for a component index at
// or past its count and for LUT or mask shapes that contradict the call;
// otherwise the kernel's own result. Samples of 8 bits are bytes, 9..16 bits
// 16-bit words, 17..32 bits 32-bit words.
#pragma once

#include "gnr_system/kz_base.h"

struct SKzLut;

class KZ_EXPORT CKzPicMemAPI {
public:
    // Component srcIdx of every source pixel into component dstIdx of the
    // destination pixel; 8 or 9..16 bits.
    static kz_result CopyComponent(void* dst, unsigned dstComps, unsigned dstStride, unsigned dstIdx, void* src,
                                   unsigned srcComps, unsigned srcStride, unsigned srcIdx, unsigned bits,
                                   unsigned width, unsigned count);
    // Component srcIdx into a one-component destination.
    static kz_result ExtractComponent(void* dst, unsigned dstStride, void* src, unsigned srcComps,
                                      unsigned srcStride, unsigned srcIdx, unsigned bits, unsigned width,
                                      unsigned count);
    // A one-component source into component dstIdx.
    static kz_result StoreComponent(void* dst, unsigned dstComps, unsigned dstStride, unsigned dstIdx, void* src,
                                    unsigned srcStride, unsigned bits, unsigned width, unsigned count);
};
