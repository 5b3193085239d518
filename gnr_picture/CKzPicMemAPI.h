// Raw picture memory: each picture is a pointer and a row stride in bytes,
// with its bits per sample and components per pixel; the extent is a width in
// pixels and a pixel count (count / width rows are processed). Every
// operation checks its arguments, picks the pixel kernel for the sample depth
// and component count once, and calls it.
//
// Common codes: 0 without touching memory for a width or count of 0; -2 when
// no kernel fits the depth and component count (bits 1..7 have none unless an
// operation says otherwise); -4 for a component index at or past its count
// and for LUT or mask shapes that contradict the call; -9 for a null picture
// block that would be read or written; otherwise the kernel's own result.
// Samples of 8 bits are bytes, 9..16 bits 16-bit words, 17..32 bits 32-bit
// words.
#pragma once

#include "gnr_system/kz_base.h"

struct SKzLut;

class KZ_EXPORT CKzPicMemAPI {
public:
    enum EKzPicStretchMode {
        eStretchQuick = 0,
        eStretchBell = 2,
        eStretchTriangle = 3,
        eStretchAuto = 4,
        eStretchHybrid = 5,
    };

    // --- 1-bit rows into pictures -----------------------------------------
    // The pixel written where a bit is set is the value's bytes in memory
    // order (comps * sample bytes of them, at most 8, else -9). Mode 0 writes
    // the pixel where a bit is set and 0 elsewhere, 1 ORs it in where a bit is
    // set, 2 ANDs it in where a bit is set and writes 0 elsewhere.
    static kz_result UnpackFromBinary(void* dst, unsigned comps, unsigned bits, unsigned long value,
                                      unsigned dstStride, const void* bitRows, unsigned bitOffset,
                                      unsigned bitStride, unsigned width, unsigned count, unsigned mode);
    static kz_result UnpackFromBinary(void* dst, unsigned comps, unsigned bits, const void* pixel,
                                      unsigned dstStride, const void* bitRows, unsigned bitOffset,
                                      unsigned bitStride, unsigned width, unsigned count, unsigned mode);

    // --- Constant operations (dst may be src) ------------------------------
    // consts: one sample-typed value (byte or 16-bit word) per component.
    static kz_result MaxConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                     const void* consts, unsigned comps, unsigned bits, unsigned width,
                                     unsigned count);
    static kz_result MinConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                     const void* consts, unsigned comps, unsigned bits, unsigned width,
                                     unsigned count);
    static kz_result AddConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                     const int* consts, unsigned comps, unsigned bits, unsigned width,
                                     unsigned count);
    static kz_result AddConstRotate(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                    const int* consts, unsigned comps, unsigned bits, unsigned width,
                                    unsigned count);
    static kz_result SubConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                     const int* consts, unsigned comps, unsigned bits, unsigned width,
                                     unsigned count);
    static kz_result MulConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                     const double* consts, unsigned comps, unsigned bits, unsigned width,
                                     unsigned count);
    // 17..32 bits, any component count, too.
    static kz_result DivConstAndClip(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                     const double* consts, unsigned comps, unsigned bits, unsigned width,
                                     unsigned count);
    // Every sample ANDed with the mask, in place.
    static kz_result MaskOut(void* buffer, unsigned stride, unsigned mask, unsigned comps, unsigned bits,
                             unsigned width, unsigned count);

    // --- Histograms (counters of 4 or 8 bytes, added to) -------------------
    static kz_result GetHistogram(void** hists, unsigned counterBytes, const void* src, unsigned srcStride,
                                  unsigned comps, unsigned bits, unsigned width, unsigned count);
    // One component counts into intensity; several into hists and the
    // integer mean of each pixel into intensity. A null source: -9.
    static kz_result GetHistogramEx(void** hists, void* intensity, unsigned counterBytes, const void* src,
                                    unsigned srcStride, unsigned comps, unsigned bits, unsigned xStep,
                                    unsigned yStep, unsigned width, unsigned count);
    static kz_result GetHistogramDiv(void** hists, unsigned counterBytes, unsigned histBits, const void* src,
                                     unsigned srcStride, unsigned comps, unsigned srcBits, unsigned width,
                                     unsigned count);
    static kz_result AddHisto(const void* srcIntensity, const void* const* srcRows, void* dstIntensity,
                              void* const* dstRows, unsigned bits, unsigned comps, unsigned counterBytes);

    // --- Copies, blends, fills ---------------------------------------------
    static kz_result Copy(void* dst, unsigned dstStride, const void* src, unsigned srcStride, unsigned comps,
                          unsigned bits, unsigned width, unsigned count);
    // Every destination byte d becomes table[d][s].
    static kz_result BlendTwoBuffers(void* dst, unsigned dstStride, const void* src, unsigned srcStride,
                                     const unsigned char (*table)[256], unsigned comps, unsigned bits,
                                     unsigned width, unsigned count);
    // Source pixels copied where the mask value equals key (in) or differs
    // from it (!in); masks of up to 16 bits (else -4).
    static kz_result CopyMask(void* dst, unsigned dstStride, const void* src, unsigned srcStride, unsigned comps,
                              unsigned bits, const void* mask, unsigned maskBits, unsigned maskStride,
                              unsigned width, unsigned count, int key, bool in);
    static kz_result SetValue(void* buffer, unsigned comps, unsigned bits, unsigned stride, const void* value,
                              unsigned width, unsigned count);
    static kz_result SetComponentValue(void* buffer, unsigned comps, unsigned bits, unsigned stride,
                                       unsigned compIdx, unsigned value, unsigned width, unsigned count);

    // --- LUTs (the LUT's input bits must be the samples' bits) -------------
    static kz_result ApplyLuts(void* dst, unsigned dstStride, const void* src, unsigned srcStride, SKzLut* lut,
                               unsigned comps, unsigned bits, unsigned width, unsigned count);
    static kz_result ConvertBitDepthViaLuts(void* dst, unsigned dstBits, unsigned dstStride, const void* src,
                                            unsigned srcBits, unsigned srcStride, SKzLut* lut, unsigned comps,
                                            unsigned width, unsigned count);
    static kz_result MapValueToComponents(void* dst, unsigned dstComps, unsigned dstBits, unsigned dstStride,
                                          const void* src, unsigned srcBits, unsigned srcStride, SKzLut* lut,
                                          unsigned width, unsigned count);
    // Component srcIdx through the LUT into an 8-bit destination.
    static kz_result ExtractComponentViaLuts(void* dst, unsigned dstComps, unsigned dstBits, unsigned dstStride,
                                             const void* src, unsigned srcComps, unsigned srcBits,
                                             unsigned srcStride, unsigned srcIdx, SKzLut* lut, unsigned width,
                                             unsigned count);

    // --- Depth and component count -----------------------------------------
    // Scaled by shifting: 8 <-> 9..16 and 9..16 <-> 9..16; equal depths copy.
    static kz_result ConvertBitDepthViaShifts(void* dst, unsigned dstBits, unsigned dstStride, const void* src,
                                              unsigned srcBits, unsigned srcStride, unsigned comps,
                                              unsigned width, unsigned count);
    // The value moves into the other container unscaled (cut to its low bits).
    static kz_result ChangeBitDepth(void* dst, unsigned dstBits, unsigned dstStride, const void* src,
                                    unsigned srcBits, unsigned srcStride, unsigned comps, unsigned width,
                                    unsigned count);
    // Weighted sum (one double per source component) or, for null weights,
    // the rounded mean, into one component.
    static kz_result CollapseComponents(void* dst, unsigned dstStride, const void* src, unsigned srcComps,
                                        unsigned srcStride, const double* weights, unsigned bits,
                                        unsigned width, unsigned count);
    // The one source sample into every destination component.
    static kz_result ExpandComponent(void* dst, unsigned dstComps, unsigned dstStride, const void* src,
                                     unsigned srcStride, unsigned bits, unsigned width, unsigned count);
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

    // --- Display and resampling ---------------------------------------------
    // Any 8 or 9..16-bit picture into an 8-bit blue-green-red picture through
    // the LUT (null: grey from one component, or three components copied or
    // shifted down). -4 for LUT shapes that contradict the picture.
    static kz_result ConvertToTrueColor(void* dst, unsigned dstStride, void* src, unsigned srcComps,
                                        unsigned srcBits, unsigned srcStride, unsigned width, unsigned count,
                                        SKzLut* lut);
    // Components composed through per-component colour tables (or rendered
    // spectrally when the LUT has a parametric block); the LUT must match the
    // call exactly (-4); more than 192 components: -2.
    static kz_result MapComponentsMToN(void* dst, unsigned dstComps, unsigned dstBits, unsigned dstStride,
                                       void* src, unsigned srcComps, unsigned srcBits, unsigned srcStride,
                                       SKzLut* lut, unsigned width, unsigned count);
    // The largest value each rendered colour channel reaches.
    static kz_result SpetralGetMaxRGB(double* out, void* src, unsigned srcStride, unsigned bits, unsigned comps,
                                      unsigned width, unsigned count, unsigned* colours, unsigned short* flags,
                                      double factor);
    static kz_result SpetralGetMaxRGBEx(double* out, void* src, unsigned srcStride, unsigned bits, unsigned comps,
                                        unsigned width, unsigned count, SKzLut* lut);
    // Resamples the rectangle whose top-left pixel src points at into dstW x
    // dstH pixels. A rectangle outside the source: -4; dstW or dstH 0: 0.
    static kz_result Stretch(void* dst, unsigned comps, unsigned dstStride, unsigned bits, unsigned dstW,
                             unsigned dstH, void* src, unsigned srcStride, unsigned srcW, unsigned srcH,
                             unsigned rectL, unsigned rectT, unsigned rectW, unsigned rectH, EKzPicStretchMode mode);
    // Shows the srcW x srcH picture zoomed to zoomW x zoomH from (scrollX,
    // scrollY) in a dstW x dstH window; only the window (winL, winT, winW,
    // winH) holds data, src pointing at its first sample; background where
    // there is none. Zoom 0: -9; a window outside the source: -4.
    static kz_result StretchDisplayEx(void* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride,
                                      unsigned bits, unsigned zoomW, unsigned zoomH, unsigned scrollX,
                                      unsigned scrollY, void* src, unsigned winL, unsigned winT, unsigned winW,
                                      unsigned winH, unsigned srcW, unsigned srcH, unsigned srcStride,
                                      EKzPicStretchMode mode, void* background);

    // --- Colour and scale helpers ------------------------------------------
    // One 8-bit colour to hue, saturation, intensity and back, by the same
    // rules as the picture conversions.
    static void ConvertColorRGB8toHSI8(unsigned char& h, unsigned char& s, unsigned char& i, unsigned char r,
                                       unsigned char g, unsigned char b);
    static void ConvertColorHSI8toRGB8(unsigned char& r, unsigned char& g, unsigned char& b, unsigned char h,
                                       unsigned char s, unsigned char i);
    // (1 << bits) - 1 in 32 bits (shift count modulo 32).
    static unsigned CalcUintMax(unsigned bits);
    // A value of the given depth on the 8-bit scale (bits up to 7: unchanged).
    static double CalcUintToDbl(unsigned v, unsigned bits);
    // Back from the 8-bit scale, truncated toward zero; below 0 (or NaN)
    // gives 0, beyond the 32-bit range its top.
    static unsigned CalcDblToUint(double x, unsigned bits);
    // Swaps samples 0 and 2 of every pixel of `rows` rows (8 or 9..16 bits,
    // at least 3 components; otherwise nothing changes).
    static void ConvertBGRtoRGB(void* buffer, unsigned comps, unsigned bits, unsigned stride, unsigned width,
                                unsigned rows);
    static bool IsCPU_SSE2();

    // Component weights offered to hosts (e.g. for CollapseComponents).
    static const double pdRGBOptWeights[4];
    static const double pdRGBStdWeights[4];
    // Processor information kept for hosts; the library does not use it.
    static int s_piCPUInfo[4];
    static bool s_bCPUInfoInited;
};
