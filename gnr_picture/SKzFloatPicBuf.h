// Float pictures: 32-bit float samples with the value range they represent,
// and the static functions that shape, copy, convert, filter and combine them.
//
// Row r starts at pData + r * uiWidthBytes bytes; the samples of a pixel are
// interleaved in component order. The default stride is exactly uiWidth *
// uiComp * 4 bytes; the operations marked "packed" address the samples as
// tightly packed rows and give -9 unless the picture has its block and the
// default stride.
//
// The lowest finite float, -3.4028235e38, marks a sample that holds no value;
// the validity-aware operations leave it (and NaN) out of their sums.
//
// Common codes: -9 for a null picture or a failed shape test, -2 for an
// unsupported depth or a path whose kernels are not available, -3 for missing
// memory, -4 for rectangles outside a picture and bad sizes.
#pragma once

#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/KzFloatPicMem.h"
#include "gnr_system/kz_base.h"

struct SKzFloatPicBuf {
    u32 uiWidth;
    u32 uiHeight;
    u32 uiWidthBytes;  // row stride in bytes
    u8 uiBpc;          // 32 once shaped
    u32 uiComp;
    u32 uiSize;        // uiHeight * uiWidthBytes
    float fMin;        // value range the samples represent (0, 0: not measured)
    float fMax;
    float* pData;
};

// Statistics of a rectangle (right and bottom exclusive), one entry per
// component in each caller-owned array.
struct SKzImageStat {
    u32 uiReserved;  // not read or written
    i32 iLeft;
    i32 iTop;
    i32 iRight;
    i32 iBottom;
    float* pfMin;
    float* pfMax;
    float* pfMean;
    float* pfDeviation;
    float* pfMedian;
};

class KZ_EXPORT CKzFloatPicBufAPI {
public:
    enum CheckOptions {
        eCheckSize = 0,
        eCheckSizeBpc = 1,
        eCheckSizeBpcComp = 2,
        eCheckSizeComp = 3,
        eCheckComp = 4,
        eCheckBpc = 5,
        eCheckBpcComp = 6,
    };

    // --- Life cycle and shape -------------------------------------------------
    static kz_result Init(SKzFloatPicBuf* pic);
    static bool Check(SKzFloatPicBuf* a, SKzFloatPicBuf* b, CheckOptions option);
    static bool Check(SKzFloatPicBuf* a, SKzPicBuf* b, CheckOptions option);
    static bool Check_Ex(SKzFloatPicBuf* inner, SKzFloatPicBuf* outer, unsigned maxWidth, unsigned maxHeight);
    static bool Check_Ex(SKzPicBuf* inner, SKzFloatPicBuf* outer, unsigned maxWidth, unsigned maxHeight);
    // Stride 0: the default stride. -4 (picture unchanged) for a null picture
    // or a stride below width * comps * 4; -3 with every shape field zeroed
    // and no block for a shape of 0 bytes or above 4 GiB - 1, or no memory.
    static kz_result Reinit(SKzFloatPicBuf* pic, unsigned width, unsigned height, unsigned stride, unsigned comps,
                            bool zero);
    static kz_result Free(SKzFloatPicBuf* pic);
    static kz_result Swap(SKzFloatPicBuf* a, SKzFloatPicBuf* b);
    static kz_result ReinitAndCopy(SKzFloatPicBuf* dst, SKzFloatPicBuf* src);
    static kz_result Copy(SKzFloatPicBuf* dst, SKzFloatPicBuf* src);
    static kz_result Clear(SKzFloatPicBuf* pic);
    // -4 for a rectangle outside either picture.
    static kz_result CopyRect(unsigned dstX, unsigned dstY, unsigned width, unsigned height, SKzFloatPicBuf* dst,
                              unsigned srcX, unsigned srcY, SKzFloatPicBuf* src);
    static kz_result Stretch(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, unsigned mode);
    static kz_result Stretch_WithValidity(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, unsigned mode);
    static kz_result StretchRect(SKzFloatPicBuf* dst, unsigned dstX, unsigned dstY, unsigned dstWidth,
                                 unsigned dstHeight, SKzFloatPicBuf* src, unsigned srcX, unsigned srcY,
                                 unsigned srcWidth, unsigned srcHeight, unsigned mode);
    // Integer pictures of 1..16 bits, unscaled; range 0 .. 2^bits - 1.
    static kz_result ConvertFromPicBuf(SKzFloatPicBuf* dst, SKzPicBuf* src);
    static kz_result DivideComponents(SKzFloatPicBuf* dst, SKzPicBuf* src, unsigned numerator,
                                      unsigned denominator, double scale, double offset);
    static kz_result ColorToGray(SKzFloatPicBuf* dst, SKzFloatPicBuf* src);
    // -9 below three components in either picture.
    static kz_result ConvertBGRtoRGB(SKzFloatPicBuf* dst, SKzFloatPicBuf* src);

    // --- Filters and statistics (packed unless noted) ----------------------------
    static kz_result SmoothSquare(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int size);
    // type 0 box, 1 Gaussian (sigma = size / 3); a convolution normalised by
    // the kernel weights inside the picture.
    static kz_result Smooth(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, unsigned type, unsigned size);
    // Stride honoured; one component.
    static kz_result Smooth_WithValidity(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, unsigned size);
    static kz_result Sharpen(SKzFloatPicBuf* shape, SKzFloatPicBuf* pic, unsigned);
    static kz_result MedianFilter(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, unsigned size);
    static kz_result CutBy(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float* limits);
    static kz_result CutByLow(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float* limits);
    // Stride honoured; -4 for an empty rectangle or one outside the picture.
    static kz_result GetStat(SKzImageStat* stat, SKzFloatPicBuf* src);
    static kz_result LocalContrast_Tailed(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int& size, double factor,
                                          bool smooth);
    static kz_result LocalContrast(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int& size, double factor,
                                   bool smooth);

    // --- Arithmetic (strides honoured; the destination may be a source) ---------
    static kz_result Plus(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b);
    static kz_result Plus(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float c);
    static kz_result Minus(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b);
    static kz_result Minus(SKzFloatPicBuf* dst, float c, SKzFloatPicBuf* src);
    static kz_result Multiplication(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b);
    static kz_result Multiplication(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float c);
    static kz_result Division(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b);
    static kz_result Division(SKzFloatPicBuf* dst, float c, SKzFloatPicBuf* src);
    static kz_result Abs(SKzFloatPicBuf* dst, SKzFloatPicBuf* src);
    static kz_result MultiplicationAP(SKzFloatPicBuf* ampDst, SKzFloatPicBuf* phaseDst, SKzFloatPicBuf* ampA,
                                      SKzFloatPicBuf* phaseA, SKzFloatPicBuf* ampB, SKzFloatPicBuf* phaseB);
    static kz_result DivisionAP(SKzFloatPicBuf* ampDst, SKzFloatPicBuf* phaseDst, SKzFloatPicBuf* ampA,
                                SKzFloatPicBuf* phaseA, SKzFloatPicBuf* ampB, SKzFloatPicBuf* phaseB);
    static kz_result ConjugationAP(SKzFloatPicBuf* ampDst, SKzFloatPicBuf* phaseDst, SKzFloatPicBuf* ampSrc,
                                   SKzFloatPicBuf* phaseSrc);
    static kz_result MixComponents(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int m0, int m1, int m2, int m3, int m4,
                                   int m5, int m6, int m7, int m8);
    static kz_result ComponentsMulGrayDivGray(SKzFloatPicBuf* dst, SKzFloatPicBuf* num, SKzFloatPicBuf* den);
    static kz_result GetFloatMinMax(SKzFloatPicBuf* pic, float& min, float& max);
    static kz_result GetFloatMinMax(SKzFloatPicBuf* pic, float& min, float& max, SKzPicBuf* mask, bool inverse);
    static kz_result FillFloatUnderMask(SKzFloatPicBuf* pic, SKzPicBuf* mask, bool inside, float value);
    static kz_result ReplaceValues(SKzFloatPicBuf* pic, float from, float to);
    static kz_result OffsetFloatPicBuf(SKzFloatPicBuf* pic);
    static kz_result SubConst(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float* values);
    static kz_result FillPicByFloat(SKzPicBuf* dst, SKzFloatPicBuf* src, float* min, float* max, bool invert);
    static void GetImmerkaerNoiseEstimation(SKzFloatPicBuf* pic, double* sigma);
    static kz_result Resize(SKzFloatPicBuf* pic, unsigned width, unsigned height, unsigned mode, bool scaleValues);
    static kz_result Crop(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int left, int right, int top, int bottom);
    static kz_result ReinitAndCrop(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int left, int right, int top,
                                   int bottom);
};

// --- Free functions of the float filters -------------------------------------------
KZ_EXPORT kz_result LocalContrast_float(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int size, double factor,
                                        bool smooth);
// size x size kernel, peak 1: e^(-r^2) with r = distance from the centre / sigma.
KZ_EXPORT void GetGauss(float* kernel, int size, float sigma);
KZ_EXPORT kz_result SmoothSquare_1xfloat(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int size);
KZ_EXPORT void FillAllMem1x8MinMax(int from, int to, float* values, float* out);
KZ_EXPORT void FillAllMem1x8Min(int from, int to, float* values, float* out);
KZ_EXPORT void FillAllMem1x8Max(int from, int to, float* values, float* out);
// Fades the n samples next to each border to zero (nothing for n 0 or n at
// least the width or the height).
KZ_EXPORT void ExpandAndSmoothToBordersAPI(SKzFloatPicBuf* pic, unsigned n);
KZ_EXPORT int compareh(const void* a, const void* b);
KZ_EXPORT bool FloatBufferGetMinMax(float* values, unsigned long count, float* min, float* max);
KZ_EXPORT double GetImmerkaerNoiseEstimation1xFloat(SKzFloatPicBuf* pic);
