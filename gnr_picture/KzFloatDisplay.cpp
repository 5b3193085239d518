// Float pictures towards the rest of the picture library: display pictures,
// two-dimensional and spectral histograms, and the resampling dispatch.

#include "gnr_picture/KzFloatPicMem.h"

#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/internal/KzFloatInternal.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"
#include "gnr_system/CKzAlloc.h"

#include <cmath>
#include <cstring>

#if KZ_PIC_HAVE_SPECTRAL_KERNELS
#include "gnr_picture/KzSpectral.h"
#endif
#if KZ_PIC_HAVE_QUICK_STRETCH_KERNELS
#include "gnr_picture/KzStretch.h"
#endif
#if KZ_PIC_HAVE_FLOAT_STRETCH_KERNELS
#include "gnr_picture/internal/KzStretchTwoPass.h"
#endif

namespace {

// The spectral kernels take one visibility mask per channel from a fixed
// table; more channels than this are refused.
constexpr unsigned kMaxSpectralChannels = 194;

bool ParametricFor(const SKzLut* lut, unsigned comps)
{
    return lut && lut->pParametric && lut->uiInComp == comps && comps != 0;
}

} // namespace

// ---------------------------------------------------------------------------
// Display pictures
// ---------------------------------------------------------------------------

kz_result CKzFloatPicMemAPI::MapComponentsMToNToUint(void* dst, unsigned dstComps, unsigned dstBits,
                                                     unsigned dstStride, float* src, unsigned srcComps,
                                                     unsigned srcStride, SKzLut* lut, unsigned width,
                                                     unsigned long count, float fMin, float fMax)
{
    if (!lut || !lut->pParametric)
        return KZ_ERR_NOT_SUPPORTED;
    if (kzf::RowsOf(width, count) == 0)
        return KZ_OK;
    // The renderer reads one parametric record per channel and writes bytes.
    if (!ParametricFor(lut, srcComps) || lut->uiOutBpc != 8)
        return KZ_ERR_INVALID_ARG;
    if (!dst || !src)
        return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_SPECTRAL_KERNELS
    return spect_render_NxFloat_3x8_float(static_cast<u8*>(dst), dstStride, src, srcStride, srcComps, lut, width,
                                          count, fMin, fMax);
#else
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

kz_result CKzFloatPicMemAPI::ConvertToTrueColor(void* dst, unsigned dstStride, float* src, unsigned srcComps,
                                                unsigned srcStride, unsigned width, unsigned long count, SKzLut* lut,
                                                float fMin, float fMax)
{
    const size_t rows = kzf::RowsOf(width, count);
    if (lut && lut->pParametric) {
        if (lut->uiOutBpc != 8)
            return KZ_ERR_INVALID_ARG;
        if (rows == 0)
            return KZ_OK;
        if (lut->maskComp.GetCount(-1) >= 1)
            return MapComponentsMToNToUint(dst, 3, 8, dstStride, src, srcComps, srcStride, lut, width, count, fMin,
                                           fMax);
        if (!dst)
            return KZ_ERR_FAILED;
        for (size_t r = 0; r < rows; ++r)
            std::memset(static_cast<u8*>(dst) + r * size_t(dstStride), 0, size_t(width) * 3);
        return KZ_OK;
    }
    if (srcComps != 1 && srcComps != 3)
        return KZ_ERR_INVALID_ARG;
    if (rows == 0)
        return KZ_OK;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (rows > 0xFFFFFFFFu)
        return KZ_ERR_INVALID_ARG;
    const bool stretch = fMax - fMin > 255.0f;
    if (srcComps == 3)
        return ConvertFloatToPicture(dst, 8, dstStride, src, fMin, fMax, stretch, srcStride, 3, width, unsigned(rows));
    const size_t bytes = rows * width;
    u8* grey = static_cast<u8*>(CKzAlloc::Alloc(0, bytes));
    if (!grey)
        return KZ_ERR_OUT_OF_MEMORY;
    kz_result r = ConvertFloatToPicture(grey, 8, width, src, fMin, fMax, stretch, srcStride, 1, width, unsigned(rows));
    if (r == KZ_OK) {
        // The integer dispatch counts pixels in 32 bits: expand in bands.
        const size_t bandRows = 0xFFFFFFFFu / width;
        for (size_t r0 = 0; r0 < rows && r == KZ_OK; r0 += bandRows) {
            const size_t n = rows - r0 < bandRows ? rows - r0 : bandRows;
            r = CKzPicMemAPI::ExpandComponent(static_cast<u8*>(dst) + r0 * dstStride, 3, dstStride,
                                              grey + r0 * width, width, 8, width, unsigned(n * width));
        }
    }
    CKzAlloc::Free(grey);
    return r;
}

// ---------------------------------------------------------------------------
// Two-dimensional histograms
// ---------------------------------------------------------------------------

namespace {

template <class C>
void Count2D(C* hist, float* src, unsigned srcStride, unsigned comps, float s, unsigned rowComp, unsigned colComp,
             unsigned width, size_t rows, const u8* mask, unsigned maskStride, bool maskInverse)
{
    for (size_t y = 0; y < rows; ++y) {
        const float* p = kzf::FRowOf(src, srcStride, y);
        const u8* m = mask ? mask + y * size_t(maskStride) : nullptr;
        for (size_t x = 0; x < width; ++x) {
            if (m && ((m[x] != 0) == maskInverse))
                continue;
            const float fr = p[x * comps + rowComp] * s;
            const float fc = p[x * comps + colComp] * s;
            // Truncation toward zero: (-1, 0) lands in bin 0; NaN and values
            // outside 0..255 are skipped.
            if (!(fr > -1.0f && fr < 256.0f && fc > -1.0f && fc < 256.0f))
                continue;
            ++hist[size_t(int(fr)) * 256 + size_t(int(fc))];
        }
    }
}

kz_result Histogram2D(void* hist, unsigned counterBytes, float* src, unsigned srcStride, unsigned comps, float fMin,
                      float fMax, unsigned rowComp, unsigned colComp, unsigned width, unsigned long count,
                      const u8* mask, unsigned maskStride, bool maskInverse)
{
    const size_t rows = kzf::RowsOf(width, count);
    if (rows == 0 || rowComp >= comps || colComp >= comps)
        return KZ_ERR_INVALID_ARG;
    const float range = fMax - fMin;
    if (!(range > 0.0f) || !std::isfinite(range))
        return KZ_ERR_INVALID_ARG;
    if (counterBytes != 4 && counterBytes != 8)
        return KZ_OK;
    if (!hist || !src)
        return KZ_ERR_FAILED;
    const float s = 256.0f / range;
    if (counterBytes == 4)
        Count2D(static_cast<u32*>(hist), src, srcStride, comps, s, rowComp, colComp, width, rows, mask, maskStride,
                maskInverse);
    else
        Count2D(static_cast<u64*>(hist), src, srcStride, comps, s, rowComp, colComp, width, rows, mask, maskStride,
                maskInverse);
    return KZ_OK;
}

} // namespace

kz_result CKzFloatPicMemAPI::GetHistogram2DEx(void* hist, unsigned counterBytes, float* src, unsigned srcStride,
                                              unsigned comps, float fMin, float fMax, unsigned rowComp,
                                              unsigned colComp, unsigned, unsigned, unsigned width,
                                              unsigned long count)
{
    return Histogram2D(hist, counterBytes, src, srcStride, comps, fMin, fMax, rowComp, colComp, width, count, nullptr,
                       0, false);
}

kz_result CKzFloatPicMemAPI::GetHistogram2DUnderMask(void* hist, unsigned counterBytes, float* src,
                                                     unsigned srcStride, unsigned comps, float fMin, float fMax,
                                                     unsigned rowComp, unsigned colComp, unsigned char* mask,
                                                     unsigned maskStride, unsigned maskInverse, unsigned,
                                                     unsigned width, unsigned long count)
{
    if (mask && maskStride < width)
        return KZ_ERR_INVALID_ARG;
    return Histogram2D(hist, counterBytes, src, srcStride, comps, fMin, fMax, rowComp, colComp, width, count, mask,
                       maskStride, maskInverse != 0);
}

kz_result CKzFloatPicMemAPI::GetHistogram2DUnderBinary(void*, unsigned, float*, unsigned, unsigned, float, float,
                                                       unsigned, unsigned, unsigned char*, unsigned, unsigned,
                                                       unsigned, unsigned, unsigned long)
{
    return KZ_ERR_NOT_SUPPORTED;
}

// ---------------------------------------------------------------------------
// Spectral colour statistics
// ---------------------------------------------------------------------------

kz_result CKzFloatPicMemAPI::SpetralGetHistoRGB(unsigned* hist0, unsigned* hist1, unsigned* hist2, void* src,
                                                unsigned srcStride, float fMin, float fMax, unsigned comps,
                                                unsigned width, unsigned count, unsigned* colours,
                                                unsigned* visible, double factor)
{
    if (!src || !hist0 || !hist1 || !hist2)
        return KZ_ERR_FAILED;
    if (comps > kMaxSpectralChannels)
        return KZ_ERR_INVALID_ARG;
    if (kzf::RowsOf(width, count) == 0 || comps == 0)
        return KZ_OK;
    if (!colours || !visible)
        return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_SPECTRAL_KERNELS
    unsigned masks[kMaxSpectralChannels];
    for (unsigned k = 0; k < comps; ++k)
        masks[k] = visible[k] ? 0xFFFFFFFFu : 0u;
    return spect_gethistorgb_NxFloat_sse(hist0, hist1, hist2, static_cast<float*>(src), srcStride, fMin, fMax, comps,
                                         width, count, colours, masks, factor);
#else
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

kz_result CKzFloatPicMemAPI::SpetralGetHistoRGBEx(unsigned* hist0, unsigned* hist1, unsigned* hist2, void* src,
                                                  unsigned srcStride, float fMin, float fMax, unsigned comps,
                                                  unsigned width, unsigned count, SKzLut* lut)
{
    if (!src || !hist0 || !hist1 || !hist2)
        return KZ_ERR_FAILED;
    if (comps > kMaxSpectralChannels)
        return KZ_ERR_INVALID_ARG;
    if (kzf::RowsOf(width, count) == 0)
        return KZ_OK;
    if (!ParametricFor(lut, comps))
        return KZ_ERR_INVALID_ARG;
#if KZ_PIC_HAVE_SPECTRAL_KERNELS
    return spect_gethistorgbex_NxFloat_sse(hist0, hist1, hist2, static_cast<float*>(src), srcStride, fMin, fMax,
                                           comps, width, count, lut);
#else
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

namespace {

double Fraction(double percent)
{
    if (percent < 0)
        return -1;
    const double f = 0.01 * percent;
    return f > 2.220446049250313e-16 ? f : 2.220446049250313e-16;
}

// Counts the spectral histogram into a three-component 8-bit histogram and
// takes the low and high points of each component.
template <class CountFn>
kz_result LoHi(double* lo, double* hi, unsigned width, unsigned count, double loPercent, double hiPercent,
               CountFn countFn)
{
    SKzHisto h;
    CKzHistoAPI::Init(&h);
    SKzPicBufDesc desc{};
    desc.uiWidth = width;
    desc.uiHeight = width ? count / width : 0;
    desc.uiWidthBytes = CKzPicBufAPI::CalcWidthBytes(width, 8, 3, 4);
    desc.uiBpc = 8;
    desc.uiComp = 3;
    kz_result r = CKzHistoAPI::Reinit32(&h, &desc);
    if (r == KZ_OK)
        r = CKzHistoAPI::ResetToZero(&h);
    if (r == KZ_OK)
        r = countFn(static_cast<unsigned*>(h.ppHistRows[2]), static_cast<unsigned*>(h.ppHistRows[1]),
                    static_cast<unsigned*>(h.ppHistRows[0]));
    if (r == KZ_OK) {
        unsigned low[3] = {0, 0, 0}, high[3] = {255, 255, 255};
        CKzHistoAPI::GetLowHigh(&h, low, high, Fraction(loPercent), Fraction(hiPercent));
        for (int k = 0; k < 3; ++k) {
            if (lo)
                lo[k] = low[k];
            if (hi)
                hi[k] = high[k];
        }
    }
    CKzHistoAPI::Free(&h);
    return r;
}

} // namespace

kz_result CKzFloatPicMemAPI::SpetralGetLoHiRGB(double* lo, double* hi, void* src, unsigned srcStride, float fMin,
                                               float fMax, unsigned comps, unsigned width, unsigned count,
                                               unsigned* colours, unsigned* visible, double factor,
                                               double loPercent, double hiPercent)
{
    if (!src)
        return KZ_ERR_FAILED;
    if (!((loPercent > 0 && lo) || (hiPercent > 0 && hi))) {
        if (lo)
            lo[0] = lo[1] = lo[2] = 0;
        if (!hi)
            return KZ_OK;
        if (comps > kMaxSpectralChannels)
            return KZ_ERR_INVALID_ARG;
        if (kzf::RowsOf(width, count) == 0 || comps == 0)
            return KZ_OK;
        if (!colours || !visible)
            return KZ_ERR_FAILED;
#if KZ_PIC_HAVE_SPECTRAL_KERNELS
        unsigned masks[kMaxSpectralChannels];
        for (unsigned k = 0; k < comps; ++k)
            masks[k] = visible[k] ? 0xFFFFFFFFu : 0u;
        return spect_getmaxrgb_NxFloat_sse(hi, static_cast<float*>(src), srcStride, fMin, fMax, comps, width, count,
                                           colours, masks, factor);
#else
        return KZ_ERR_NOT_SUPPORTED;
#endif
    }
    return LoHi(lo, hi, width, count, loPercent, hiPercent, [&](unsigned* h0, unsigned* h1, unsigned* h2) {
        return SpetralGetHistoRGB(h0, h1, h2, src, srcStride, fMin, fMax, comps, width, count, colours, visible,
                                  factor);
    });
}

kz_result CKzFloatPicMemAPI::SpetralGetLoHiRGBEx(double* lo, double* hi, void* src, unsigned srcStride, float fMin,
                                                 float fMax, unsigned comps, unsigned width, unsigned count,
                                                 SKzLut* lut, double loPercent, double hiPercent)
{
    if (!src)
        return KZ_ERR_FAILED;
    if (!((loPercent > 0 && lo) || (hiPercent > 0 && hi))) {
        if (lo)
            lo[0] = lo[1] = lo[2] = 0;
        if (!hi)
            return KZ_OK;
        if (comps > kMaxSpectralChannels)
            return KZ_ERR_INVALID_ARG;
        if (kzf::RowsOf(width, count) == 0)
            return KZ_OK;
        if (!ParametricFor(lut, comps))
            return KZ_ERR_INVALID_ARG;
#if KZ_PIC_HAVE_SPECTRAL_KERNELS
        return spect_getmaxrgbex_NxFloat_sse(hi, static_cast<float*>(src), srcStride, fMin, fMax, comps, width, count,
                                             lut);
#else
        return KZ_ERR_NOT_SUPPORTED;
#endif
    }
    return LoHi(lo, hi, width, count, loPercent, hiPercent, [&](unsigned* h0, unsigned* h1, unsigned* h2) {
        return SpetralGetHistoRGBEx(h0, h1, h2, src, srcStride, fMin, fMax, comps, width, count, lut);
    });
}

// ---------------------------------------------------------------------------
// Resampling
// ---------------------------------------------------------------------------

namespace {

kz_result QuickFloat(float* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned dstH, float* src,
                     unsigned srcStride, unsigned srcH, unsigned rectL, unsigned rectT, unsigned rectW,
                     unsigned rectH, bool forceOne)
{
#if KZ_PIC_HAVE_QUICK_STRETCH_KERNELS
    if (forceOne || comps == 1)
        return stretch_float_quick_1(dst, comps, dstStride, dstW, dstH, src, srcStride, srcH, rectL, rectT, rectW,
                                     rectH);
    if (comps == 3)
        return stretch_float_quick_3(dst, comps, dstStride, dstW, dstH, src, srcStride, srcH, rectL, rectT, rectW,
                                     rectH);
    return stretch_float_quick(dst, comps, dstStride, dstW, dstH, src, srcStride, srcH, rectL, rectT, rectW, rectH);
#else
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

kz_result StretchFloat(float* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned dstH, float* src,
                       unsigned srcStride, unsigned srcH, unsigned rectL, unsigned rectT, unsigned rectW,
                       unsigned rectH, unsigned mode, bool validity)
{
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (comps == 0 || rectW == 0 || rectH == 0 || u64(rectT) + rectH > srcH)
        return KZ_ERR_INVALID_ARG;
    // The kernels take the source width from the stride: the rectangle must
    // lie inside the pixels a row holds.
    if (u64(rectL) + rectW > u64(srcStride / sizeof(float)) / comps)
        return KZ_ERR_INVALID_ARG;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (mode != 2 && mode != 3)
        return QuickFloat(dst, comps, dstStride, dstW, dstH, src, srcStride, srcH, rectL, rectT, rectW, rectH,
                          validity);
#if KZ_PIC_HAVE_FLOAT_STRETCH_KERNELS
    // Bell (2) or triangle (3): horizontal pass over the rectangle's rows and
    // its margin rows into an intermediate picture, then the vertical pass.
    // The validity members serve one component only (-2 otherwise).
    return KzFilteredStretchFloat(dst, comps, dstStride, dstW, dstH, src, srcStride, srcH, rectL, rectT, rectW, rectH,
                                  mode == 2, validity);
#else
    return KZ_ERR_NOT_SUPPORTED;
#endif
}

} // namespace

kz_result CKzFloatPicMemAPI::Stretch(float* dst, unsigned comps, unsigned dstStride, unsigned dstWidth,
                                     unsigned dstHeight, float* src, unsigned srcStride, unsigned srcHeight,
                                     unsigned rectLeft, unsigned rectTop, unsigned rectWidth, unsigned rectHeight,
                                     unsigned mode)
{
    return StretchFloat(dst, comps, dstStride, dstWidth, dstHeight, src, srcStride, srcHeight, rectLeft, rectTop,
                        rectWidth, rectHeight, mode, false);
}

kz_result CKzFloatPicMemAPI::Stretch_WithValidity(float* dst, unsigned comps, unsigned dstStride,
                                                  unsigned dstWidth, unsigned dstHeight, float* src,
                                                  unsigned srcStride, unsigned srcHeight, unsigned rectLeft,
                                                  unsigned rectTop, unsigned rectWidth, unsigned rectHeight,
                                                  unsigned mode)
{
    return StretchFloat(dst, comps, dstStride, dstWidth, dstHeight, src, srcStride, srcHeight, rectLeft, rectTop,
                        rectWidth, rectHeight, mode, true);
}

kz_result CKzFloatPicMemAPI::StretchDisplay(float* dst, unsigned dstWidth, unsigned dstHeight, unsigned comps,
                                            unsigned dstStride, unsigned bits, unsigned zoomWidth,
                                            unsigned zoomHeight, unsigned scrollX, unsigned scrollY, float* src,
                                            unsigned srcWidth, unsigned srcHeight, unsigned srcStride, unsigned mode,
                                            bool flipX, bool flipY)
{
    if (zoomWidth == 0 || zoomHeight == 0)
        return KZ_ERR_FAILED;
    if (dstWidth == 0 || dstHeight == 0)
        return KZ_OK;
    if (comps == 0 || srcWidth == 0 || srcHeight == 0 ||
        (srcHeight > 1 && u64(srcWidth) * comps * sizeof(float) > srcStride))
        return KZ_ERR_INVALID_ARG;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (mode != 2 && mode != 3) {
#if KZ_PIC_HAVE_QUICK_STRETCH_KERNELS
        if (comps == 1)
            return stretch_quick_display_1<float>(dst, dstWidth, dstHeight, comps, dstStride, bits, zoomWidth,
                                                  zoomHeight, scrollX, scrollY, src, srcWidth, srcHeight, srcStride,
                                                  flipX, flipY);
        if (comps == 3)
            return stretch_quick_display_3<float>(dst, dstWidth, dstHeight, comps, dstStride, bits, zoomWidth,
                                                  zoomHeight, scrollX, scrollY, src, srcWidth, srcHeight, srcStride,
                                                  flipX, flipY);
        return stretch_quick_display<float>(dst, dstWidth, dstHeight, comps, dstStride, bits, zoomWidth, zoomHeight,
                                            scrollX, scrollY, src, srcWidth, srcHeight, srcStride, flipX, flipY);
#else
        return KZ_ERR_NOT_SUPPORTED;
#endif
    }
#if KZ_PIC_HAVE_FLOAT_STRETCH_KERNELS
    // Bell (2) or triangle (3): only the band of source rows in view (with
    // margin rows) is filtered horizontally, then down to the destination
    // rows. The band is allocated without throwing (-3); a view below the
    // zoomed picture beyond the margin shows zeros.
    return KzFilteredDisplay<float>(dst, dstWidth, dstHeight, comps, dstStride, bits, zoomWidth, zoomHeight, scrollX,
                                    scrollY, src, srcWidth, srcHeight, srcStride, mode == 2, flipX, flipY);
#else
    return KZ_ERR_NOT_SUPPORTED;
#endif
}
