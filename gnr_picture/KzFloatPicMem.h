// Raw float picture memory: blocks of 32-bit float samples addressed by a
// pointer and a row stride in bytes, with a component count, a width in
// pixels and a pixel count (count / width rows are processed; a remainder is
// ignored). Operations on two or three blocks give each its own stride.
//
// "Tightly packed" operations take a block of width x height pixels without a
// stride: pixel i, component k is float number i * comps + k.
//
// Every operation with a width and a pixel count returns 0 without touching
// memory when either is 0. A null block that would be read or written gives
// -9; a component index at or past its count -4.
#pragma once

#include "gnr_system/kz_base.h"

struct SKzLut;

class KZ_EXPORT CKzFloatPicMemAPI {
public:
    // --- Copies, sets, components ------------------------------------------
    static kz_result Copy(float* dst, unsigned dstStride, float* src, unsigned srcStride, unsigned comps,
                          unsigned width, unsigned long count);
    static kz_result SetValue(float* dst, unsigned comps, unsigned dstStride, const float* values, unsigned width,
                              unsigned long count);
    static kz_result SetComponentValue(float* dst, unsigned comps, unsigned dstStride, unsigned index, float value,
                                       unsigned width, unsigned long count);
    // Component `index` into a one-component destination.
    static kz_result ExtractComponent(float* dst, unsigned dstStride, float* src, unsigned srcComps,
                                      unsigned srcStride, unsigned index, unsigned width, unsigned long count);
    static kz_result CopyComponent(float* dst, unsigned dstComps, unsigned dstStride, unsigned dstIndex, float* src,
                                   unsigned srcComps, unsigned srcStride, unsigned srcIndex, unsigned width,
                                   unsigned long count);
    // Source components first..last (inclusive) into destination components
    // dstFirst onwards; -4 unless first <= last < srcComps and the range fits
    // the destination.
    static kz_result ExtractComponentRange(float* dst, unsigned dstStride, unsigned dstComps, unsigned dstFirst,
                                           float* src, unsigned srcComps, unsigned srcStride, unsigned first,
                                           unsigned last, unsigned width, unsigned long count);
    // The one-component source into every destination component.
    static kz_result ExpandComponent(float* dst, unsigned dstComps, unsigned dstStride, float* src,
                                     unsigned srcStride, unsigned width, unsigned long count);
    // One float per pixel: sum of the pixel's components * (1 / comps).
    static kz_result Collapse2Intesity(float* dst, unsigned dstStride, float* src, unsigned srcStride,
                                       unsigned comps, unsigned width, unsigned long count);

    // --- Arithmetic (the destination may be a source) -----------------------
    static kz_result AddFloatnFloat(float* dst, unsigned dstStride, float* a, unsigned aStride, float* b,
                                    unsigned bStride, unsigned comps, unsigned width, unsigned long count);
    static kz_result SubFloatnFloat(float* dst, unsigned dstStride, float* a, unsigned aStride, float* b,
                                    unsigned bStride, unsigned comps, unsigned width, unsigned long count);
    static kz_result MultiFloatnFloat(float* dst, unsigned dstStride, float* a, unsigned aStride, float* b,
                                      unsigned bStride, unsigned comps, unsigned width, unsigned long count);
    // a / b, 0 where b is 0 or NaN.
    static kz_result DivFloatnFloat(float* dst, unsigned dstStride, float* a, unsigned aStride, float* b,
                                    unsigned bStride, unsigned comps, unsigned width, unsigned long count);
    static kz_result AddFloatnConst(float* dst, unsigned dstStride, float* src, unsigned srcStride, float c,
                                    unsigned comps, unsigned width, unsigned long count);
    static kz_result MultiFloatnConst(float* dst, unsigned dstStride, float* src, unsigned srcStride, float c,
                                      unsigned comps, unsigned width, unsigned long count);
    static kz_result SubConstnFloat(float* dst, unsigned dstStride, float c, float* src, unsigned srcStride,
                                    unsigned comps, unsigned width, unsigned long count);
    // c / src, 0 where src is 0 or NaN.
    static kz_result DivConstnFloat(float* dst, unsigned dstStride, float c, float* src, unsigned srcStride,
                                    unsigned comps, unsigned width, unsigned long count);
    static kz_result MinFloatnConst(float* dst, unsigned dstStride, float* src, unsigned srcStride, float c,
                                    unsigned comps, unsigned width, unsigned long count);
    static kz_result MaxFloatnConst(float* dst, unsigned dstStride, float* src, unsigned srcStride, float c,
                                    unsigned comps, unsigned width, unsigned long count);
    static kz_result Abs(float* dst, unsigned dstStride, float* src, unsigned srcStride, unsigned comps,
                         unsigned width, unsigned long count);

    // --- In place on tightly packed blocks ----------------------------------
    static kz_result MultiplybyFloat(float* block, float factor, unsigned width, unsigned height, unsigned comps);
    // log|v| (single precision) for every sample that is neither 0 nor NaN.
    static kz_result Logarithm(float* block, unsigned width, unsigned height, unsigned comps);
    // 1 / v for every sample that is neither 0 nor NaN.
    static kz_result Inversion(float* block, unsigned width, unsigned height, unsigned comps);

    // --- Per-component statistics of tightly packed blocks ------------------
    // Minimum from 1e20 (a NaN sample becomes the minimum), maximum from
    // -1e20 (NaN skipped), mean, sample deviation around `mean` (NaN for one
    // pixel), median (the element count / 2 of the ascending order of
    // `compare`; -3 without scratch memory).
    static kz_result MinComp(float* dst, float* block, unsigned width, unsigned height, unsigned comps);
    static kz_result MaxComp(float* dst, float* block, unsigned width, unsigned height, unsigned comps);
    static kz_result MeanComp(float* dst, float* block, unsigned width, unsigned height, unsigned comps);
    static kz_result DeviationComp(float* dst, float* mean, float* block, unsigned width, unsigned height,
                                   unsigned comps);
    static kz_result MedianComp(float* dst, float* block, unsigned width, unsigned height, unsigned comps);
    // Ascending total order with NaN above every number: -1 when a sorts
    // before b, else 1.
    static int compare(const void* a, const void* b);

    // --- Ranges --------------------------------------------------------------
    // Smallest and largest sample (NaN skipped), from 3.4028235e38 and
    // -3.4028235e38; either result pointer may be null.
    static kz_result GetFloatMinMax(float* src, unsigned srcStride, unsigned comps, unsigned width,
                                    unsigned long count, float* min, float* max);
    static kz_result GetFloatMinMaxInComps(float* src, unsigned srcStride, unsigned comps, unsigned width,
                                           unsigned long count, float* mins, float* maxs);

    // --- Conversions ----------------------------------------------------------
    // Integer samples (bytes for up to 8 bits, words for 9..16) as floats,
    // unscaled; other depths -2.
    static kz_result ConvertPictureToFloat(float* dst, unsigned dstStride, void* src, unsigned srcStride,
                                           unsigned bits, unsigned comps, unsigned width, unsigned height);
    // v = (s - fMin) * scale in single precision (scale = M / (fMax - fMin)
    // when stretching, else 1), then v + 0.5 in double clamped to 0..M (NaN:
    // 0) and truncated. Depths 1..8 write bytes, 9..16 words; others -9.
    static kz_result ConvertFloatToPicture(void* dst, unsigned bits, unsigned dstStride, float* src, float fMin,
                                           float fMax, bool stretch, unsigned srcStride, unsigned comps,
                                           unsigned width, unsigned height);

    // --- Display and histograms ------------------------------------------------
    // 8-bit blue-green-red display picture: spectral rendering through a LUT
    // with a parametric block, else from one or three components (stretched
    // to 0..255 only when fMax - fMin exceeds 255). -4 for other component
    // counts or a parametric LUT whose output is not 8 bits.
    static kz_result ConvertToTrueColor(void* dst, unsigned dstStride, float* src, unsigned srcComps,
                                        unsigned srcStride, unsigned width, unsigned long count, SKzLut* lut,
                                        float fMin, float fMax);
    // Spectral rendering through the LUT's parametric block; -2 without one.
    static kz_result MapComponentsMToNToUint(void* dst, unsigned dstComps, unsigned dstBits, unsigned dstStride,
                                             float* src, unsigned srcComps, unsigned srcStride, SKzLut* lut,
                                             unsigned width, unsigned long count, float fMin, float fMax);
    // 256 x 256 counters of counterBytes (4 or 8; others count nothing),
    // entry row bin * 256 + column bin, bin = trunc(sample * 256 / (fMax -
    // fMin)); samples whose bin falls outside 0..255 are skipped. -4 for an
    // empty picture, a component index not below comps or a range that is
    // not positive and finite.
    static kz_result GetHistogram2DEx(void* hist, unsigned counterBytes, float* src, unsigned srcStride,
                                      unsigned comps, float fMin, float fMax, unsigned rowComp, unsigned colComp,
                                      unsigned, unsigned, unsigned width, unsigned long count);
    // As GetHistogram2DEx, counting the pixels whose mask byte (8-bit mask,
    // one byte per pixel, rows of maskStride bytes) is not 0, or is 0 when
    // maskInverse is set. A null mask counts every pixel.
    static kz_result GetHistogram2DUnderMask(void* hist, unsigned counterBytes, float* src, unsigned srcStride,
                                             unsigned comps, float fMin, float fMax, unsigned rowComp,
                                             unsigned colComp, unsigned char* mask, unsigned maskStride,
                                             unsigned maskInverse, unsigned, unsigned width, unsigned long count);
    // Not supported: -2.
    static kz_result GetHistogram2DUnderBinary(void* hist, unsigned counterBytes, float* src, unsigned srcStride,
                                               unsigned comps, float fMin, float fMax, unsigned rowComp,
                                               unsigned colComp, unsigned char* mask, unsigned, unsigned,
                                               unsigned, unsigned width, unsigned long count);

    // Spectral colour statistics (-9 for a null picture or table; more than
    // 194 channels -4).
    static kz_result SpetralGetHistoRGB(unsigned* hist0, unsigned* hist1, unsigned* hist2, void* src,
                                        unsigned srcStride, float fMin, float fMax, unsigned comps, unsigned width,
                                        unsigned count, unsigned* colours, unsigned* visible, double factor);
    static kz_result SpetralGetHistoRGBEx(unsigned* hist0, unsigned* hist1, unsigned* hist2, void* src,
                                          unsigned srcStride, float fMin, float fMax, unsigned comps,
                                          unsigned width, unsigned count, SKzLut* lut);
    static kz_result SpetralGetLoHiRGB(double* lo, double* hi, void* src, unsigned srcStride, float fMin,
                                       float fMax, unsigned comps, unsigned width, unsigned count,
                                       unsigned* colours, unsigned* visible, double factor, double loPercent,
                                       double hiPercent);
    static kz_result SpetralGetLoHiRGBEx(double* lo, double* hi, void* src, unsigned srcStride, float fMin,
                                         float fMax, unsigned comps, unsigned width, unsigned count, SKzLut* lut,
                                         double loPercent, double hiPercent);

    // --- Resampling (modes of CKzPicMemAPI::EKzPicStretchMode) ------------------
    // The rectangle whose top-left pixel src points at into dstWidth x
    // dstHeight pixels; rectLeft, rectTop and srcHeight bound the filter
    // margins. Modes 2 (bell) and 3 (triangle) filter, others take the
    // nearest neighbour. -4 for a rectangle outside the source (its columns
    // must lie within srcStride / 4 / comps pixels); -3 without memory for
    // the intermediate picture.
    static kz_result Stretch(float* dst, unsigned comps, unsigned dstStride, unsigned dstWidth, unsigned dstHeight,
                             float* src, unsigned srcStride, unsigned srcHeight, unsigned rectLeft,
                             unsigned rectTop, unsigned rectWidth, unsigned rectHeight, unsigned mode);
    // One-component pictures whose invalid samples (-3.4028235e38, NaN) stay
    // out of the filter sums; the filtered modes give -2 for several
    // components.
    static kz_result Stretch_WithValidity(float* dst, unsigned comps, unsigned dstStride, unsigned dstWidth,
                                          unsigned dstHeight, float* src, unsigned srcStride, unsigned srcHeight,
                                          unsigned rectLeft, unsigned rectTop, unsigned rectWidth,
                                          unsigned rectHeight, unsigned mode);
    // The source seen at zoomWidth x zoomHeight from (scrollX, scrollY); a
    // zoomed size of 0: -9; an empty source or a stride below its rows: -4;
    // no memory for the filtered band: -3. A view below the zoomed picture
    // beyond the filter margin shows zeros.
    static kz_result StretchDisplay(float* dst, unsigned dstWidth, unsigned dstHeight, unsigned comps,
                                    unsigned dstStride, unsigned bits, unsigned zoomWidth, unsigned zoomHeight,
                                    unsigned scrollX, unsigned scrollY, float* src, unsigned srcWidth,
                                    unsigned srcHeight, unsigned srcStride, unsigned mode, bool flipX, bool flipY);
};
