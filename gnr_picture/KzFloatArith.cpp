// Whole-picture arithmetic and value handling on float pictures: sums,
// products and quotients, amplitude-phase pairs, colour mixing, ranges with
// and without masks, value replacement, conversion into integer pictures,
// the histogram of a float picture, the noise estimate, resizing and cropping.

#include "gnr_picture/SKzFloatPicBuf.h"

#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/internal/KzFloatInternal.h"
#include "gnr_system/CKzAlloc.h"

#include <cmath>
#include <cstring>

using kzf::FRowOf;
using M = CKzFloatPicMemAPI;

namespace {

u64 Pixels(const SKzFloatPicBuf* p)
{
    return u64(p->uiWidth) * p->uiHeight;
}

bool Packed(const SKzFloatPicBuf* p)
{
    return p && p->pData && u64(p->uiWidth) * p->uiComp * 4 == p->uiWidthBytes;
}

// The 8-bit one-component mask covers the picture and may be read.
bool MaskFits(const SKzPicBuf* mask, const SKzFloatPicBuf* pic)
{
    return mask && mask->pData && mask->uiBpc == 8 && mask->uiComp >= 1 && mask->uiWidth == pic->uiWidth &&
           mask->uiHeight == pic->uiHeight && u64(mask->uiWidth) * mask->uiComp <= mask->uiWidthBytes &&
           u64(mask->uiHeight) * mask->uiWidthBytes <= mask->uiSize;
}

template <class Fn>
kz_result Two(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b, Fn fn)
{
    using F = CKzFloatPicBufAPI;
    if (!F::Check(dst, a, F::eCheckSizeBpcComp) || !F::Check(dst, b, F::eCheckSizeBpcComp))
        return KZ_ERR_FAILED;
    fn(dst->pData, dst->uiWidthBytes, a->pData, a->uiWidthBytes, b->pData, b->uiWidthBytes, dst->uiComp,
       dst->uiWidth, Pixels(dst));
    return KZ_OK;
}

template <class Fn>
kz_result One(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, Fn fn)
{
    using F = CKzFloatPicBufAPI;
    if (!F::Check(dst, src, F::eCheckSizeBpcComp))
        return KZ_ERR_FAILED;
    fn(dst->pData, dst->uiWidthBytes, src->pData, src->uiWidthBytes, dst->uiComp, dst->uiWidth, Pixels(dst));
    return KZ_OK;
}

} // namespace

// ---------------------------------------------------------------------------
// Sums, differences, products, quotients
// ---------------------------------------------------------------------------

kz_result CKzFloatPicBufAPI::Plus(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b)
{
    return Two(dst, a, b, M::AddFloatnFloat);
}

kz_result CKzFloatPicBufAPI::Plus(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float c)
{
    return One(dst, src, [c](float* d, unsigned ds, float* s, unsigned ss, unsigned k, unsigned w, u64 n) {
        return M::AddFloatnConst(d, ds, s, ss, c, k, w, n);
    });
}

kz_result CKzFloatPicBufAPI::Minus(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b)
{
    return Two(dst, a, b, M::SubFloatnFloat);
}

kz_result CKzFloatPicBufAPI::Minus(SKzFloatPicBuf* dst, float c, SKzFloatPicBuf* src)
{
    return One(dst, src, [c](float* d, unsigned ds, float* s, unsigned ss, unsigned k, unsigned w, u64 n) {
        return M::SubConstnFloat(d, ds, c, s, ss, k, w, n);
    });
}

kz_result CKzFloatPicBufAPI::Multiplication(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b)
{
    return Two(dst, a, b, M::MultiFloatnFloat);
}

kz_result CKzFloatPicBufAPI::Multiplication(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float c)
{
    return One(dst, src, [c](float* d, unsigned ds, float* s, unsigned ss, unsigned k, unsigned w, u64 n) {
        return M::MultiFloatnConst(d, ds, s, ss, c, k, w, n);
    });
}

kz_result CKzFloatPicBufAPI::Division(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b)
{
    return Two(dst, a, b, M::DivFloatnFloat);
}

kz_result CKzFloatPicBufAPI::Division(SKzFloatPicBuf* dst, float c, SKzFloatPicBuf* src)
{
    return One(dst, src, [c](float* d, unsigned ds, float* s, unsigned ss, unsigned k, unsigned w, u64 n) {
        return M::DivConstnFloat(d, ds, c, s, ss, k, w, n);
    });
}

kz_result CKzFloatPicBufAPI::Abs(SKzFloatPicBuf* dst, SKzFloatPicBuf* src)
{
    return One(dst, src, M::Abs);
}

// ---------------------------------------------------------------------------
// Amplitude-phase pairs
// ---------------------------------------------------------------------------

namespace {

bool PairsFit(SKzFloatPicBuf* ampDst, SKzFloatPicBuf* phaseDst, SKzFloatPicBuf* ampA, SKzFloatPicBuf* phaseA,
              SKzFloatPicBuf* ampB, SKzFloatPicBuf* phaseB)
{
    using F = CKzFloatPicBufAPI;
    return F::Check(ampDst, ampA, F::eCheckSizeBpcComp) && F::Check(ampDst, ampB, F::eCheckSizeBpcComp) &&
           F::Check(phaseDst, phaseA, F::eCheckSizeBpcComp) && F::Check(phaseDst, phaseB, F::eCheckSizeBpcComp) &&
           F::Check(ampDst, phaseDst, F::eCheckSizeBpcComp);
}

} // namespace

kz_result CKzFloatPicBufAPI::MultiplicationAP(SKzFloatPicBuf* ampDst, SKzFloatPicBuf* phaseDst, SKzFloatPicBuf* ampA,
                                              SKzFloatPicBuf* phaseA, SKzFloatPicBuf* ampB, SKzFloatPicBuf* phaseB)
{
    if (!PairsFit(ampDst, phaseDst, ampA, phaseA, ampB, phaseB))
        return KZ_ERR_FAILED;
    Multiplication(ampDst, ampA, ampB);
    Plus(phaseDst, phaseA, phaseB);
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::DivisionAP(SKzFloatPicBuf* ampDst, SKzFloatPicBuf* phaseDst, SKzFloatPicBuf* ampA,
                                        SKzFloatPicBuf* phaseA, SKzFloatPicBuf* ampB, SKzFloatPicBuf* phaseB)
{
    if (!PairsFit(ampDst, phaseDst, ampA, phaseA, ampB, phaseB))
        return KZ_ERR_FAILED;
    Division(ampDst, ampA, ampB);
    Minus(phaseDst, phaseA, phaseB);
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::ConjugationAP(SKzFloatPicBuf* ampDst, SKzFloatPicBuf* phaseDst, SKzFloatPicBuf* ampSrc,
                                           SKzFloatPicBuf* phaseSrc)
{
    if (!Check(ampDst, ampSrc, eCheckSizeBpcComp) || !Check(phaseDst, phaseSrc, eCheckSizeBpcComp) ||
        !Check(ampDst, phaseDst, eCheckSizeBpcComp))
        return KZ_ERR_FAILED;
    const unsigned c = ampDst->uiComp, w = ampDst->uiWidth;
    const u64 n = Pixels(ampDst);
    M::Copy(ampDst->pData, ampDst->uiWidthBytes, ampSrc->pData, ampSrc->uiWidthBytes, c, w, n);
    // The negation goes through each picture's stride.
    M::MultiFloatnConst(phaseDst->pData, phaseDst->uiWidthBytes, phaseSrc->pData, phaseSrc->uiWidthBytes, -1.0f, c,
                        w, n);
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Colour and grey
// ---------------------------------------------------------------------------

kz_result CKzFloatPicBufAPI::MixComponents(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int m0, int m1, int m2, int m3,
                                           int m4, int m5, int m6, int m7, int m8)
{
    if (!dst || !src || !Check(dst, src, eCheckSizeBpcComp) || dst->uiComp != 3 || src->uiComp != 3)
        return KZ_ERR_FAILED;
    if (Pixels(dst) == 0)
        return KZ_OK;
    if (!dst->pData || !src->pData)
        return KZ_ERR_FAILED;
    const float p = 0.0099999998f;
    const float f0 = float(m0), f1 = float(m1), f2 = float(m2), f3 = float(m3), f4 = float(m4), f5 = float(m5),
                f6 = float(m6), f7 = float(m7), f8 = float(m8);
    for (size_t y = 0; y < dst->uiHeight; ++y) {
        float* d = FRowOf(dst->pData, dst->uiWidthBytes, y);
        const float* s = FRowOf(src->pData, src->uiWidthBytes, y);
        for (size_t x = 0; x < dst->uiWidth; ++x) {
            const float s0 = s[3 * x], s1 = s[3 * x + 1], s2 = s[3 * x + 2];
            d[3 * x + 2] = (s2 * f0 + s1 * f1 + s0 * f2) * p;
            d[3 * x + 1] = (s2 * f3 + s1 * f4 + s0 * f5) * p;
            d[3 * x] = (s2 * f6 + s1 * f7 + s0 * f8) * p;
        }
    }
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::ComponentsMulGrayDivGray(SKzFloatPicBuf* dst, SKzFloatPicBuf* num, SKzFloatPicBuf* den)
{
    if (!Check(dst, num, eCheckSizeBpc) || !Check(num, den, eCheckSizeBpcComp))
        return KZ_ERR_FAILED;
    if (num->uiComp != 1 || Pixels(dst) == 0 || dst->uiComp == 0)
        return KZ_OK;
    if (!dst->pData || !num->pData || !den->pData)
        return KZ_ERR_FAILED;
    const size_t c = dst->uiComp;
    for (size_t y = 0; y < dst->uiHeight; ++y) {
        float* d = FRowOf(dst->pData, dst->uiWidthBytes, y);
        const float* n = FRowOf(num->pData, num->uiWidthBytes, y);
        const float* g = FRowOf(den->pData, den->uiWidthBytes, y);
        for (size_t x = 0; x < dst->uiWidth; ++x)
            for (size_t k = 0; k < c; ++k)
                d[x * c + k] = g[x] != 0.0f ? d[x * c + k] * n[x] / g[x] : n[x];
    }
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Ranges, masks, values
// ---------------------------------------------------------------------------

kz_result CKzFloatPicBufAPI::GetFloatMinMax(SKzFloatPicBuf* pic, float& min, float& max)
{
    if (!pic || !pic->pData)
        return KZ_ERR_FAILED;
    return M::GetFloatMinMax(pic->pData, pic->uiWidthBytes, pic->uiComp, pic->uiWidth, Pixels(pic), &min, &max) ==
                   KZ_OK
               ? KZ_OK
               : KZ_ERR_FAILED;
}

kz_result CKzFloatPicBufAPI::GetFloatMinMax(SKzFloatPicBuf* pic, float& min, float& max, SKzPicBuf* mask,
                                            bool inverse)
{
    min = 3.4028235e38f;
    max = -3.4028235e38f;
    if (!pic || !pic->pData)
        return KZ_ERR_FAILED;
    const bool useMask = MaskFits(mask, pic);
    const size_t c = pic->uiComp;
    float lo = min, hi = max;
    for (size_t y = 0; y < pic->uiHeight; ++y) {
        const float* s = FRowOf(pic->pData, pic->uiWidthBytes, y);
        const u8* m = useMask ? mask->pData + y * size_t(mask->uiWidthBytes) : nullptr;
        for (size_t x = 0; x < pic->uiWidth; ++x) {
            if (m && ((m[x * mask->uiComp] != 0) == inverse))
                continue;
            for (size_t k = 0; k < c; ++k) {
                const float v = s[x * c + k];
                lo = v < lo ? v : lo;
                hi = v > hi ? v : hi;
            }
        }
    }
    min = lo;
    max = hi;
    return max >= min ? KZ_OK : KZ_ERR_FAILED;
}

bool FloatBufferGetMinMax(float* values, unsigned long count, float* min, float* max)
{
    if (!values || !min || !max || count == 0)
        return false;
    float lo = values[0], hi = values[0];
    for (unsigned long i = 1; i < count; ++i) {
        lo = values[i] < lo ? values[i] : lo;
        hi = values[i] > hi ? values[i] : hi;
    }
    *min = lo;
    *max = hi;
    return true;
}

kz_result CKzFloatPicBufAPI::FillFloatUnderMask(SKzFloatPicBuf* pic, SKzPicBuf* mask, bool inside, float value)
{
    if (!pic || !pic->pData || pic->uiComp != 1 || !MaskFits(mask, pic) || mask->uiComp != 1)
        return KZ_ERR_FAILED;
    for (size_t y = 0; y < pic->uiHeight; ++y) {
        float* d = FRowOf(pic->pData, pic->uiWidthBytes, y);
        const u8* m = mask->pData + y * size_t(mask->uiWidthBytes);
        for (size_t x = 0; x < pic->uiWidth; ++x)
            if ((m[x] != 0) == inside)
                d[x] = value;
    }
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::ReplaceValues(SKzFloatPicBuf* pic, float from, float to)
{
    if (!pic || !pic->pData)
        return KZ_ERR_FAILED;
    const size_t n = size_t(pic->uiWidth) * pic->uiComp;
    for (size_t y = 0; y < pic->uiHeight; ++y) {
        float* d = FRowOf(pic->pData, pic->uiWidthBytes, y);
        for (size_t i = 0; i < n; ++i)
            if (d[i] == from || d[i] != d[i])
                d[i] = to;
    }
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::OffsetFloatPicBuf(SKzFloatPicBuf* pic)
{
    if (!Packed(pic))
        return KZ_ERR_FAILED;
    float lo = 1e30f, hi = -1e30f;
    if (GetFloatMinMax(pic, lo, hi) != KZ_OK || lo > hi)
        return KZ_ERR_FAILED;
    const size_t n = size_t(pic->uiWidth) * pic->uiHeight * pic->uiComp;
    for (size_t i = 0; i < n; ++i)
        pic->pData[i] -= lo;
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::SubConst(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float* values)
{
    if (!Check(dst, src, eCheckSizeComp) || !Packed(dst) || !Packed(src) || !values)
        return KZ_ERR_FAILED;
    const size_t c = src->uiComp, n = size_t(src->uiWidth) * src->uiHeight;
    for (size_t i = 0; i < n; ++i)
        for (size_t k = 0; k < c; ++k)
            dst->pData[i * c + k] = src->pData[i * c + k] - values[k];
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::FillPicByFloat(SKzPicBuf* dst, SKzFloatPicBuf* src, float* min, float* max, bool invert)
{
    if (!dst || !dst->pData || dst->uiBpc == 0 || dst->uiBpc > 16 || !src || !src->pData)
        return KZ_ERR_FAILED;
    if ((src->uiComp != dst->uiComp && src->uiComp != 1) || src->uiWidth != dst->uiWidth ||
        src->uiHeight != dst->uiHeight || src->uiComp == 0)
        return KZ_ERR_FAILED;
    const unsigned sb = dst->uiBpc <= 8 ? 1 : 2;
    if (u64(dst->uiWidth) * dst->uiComp * sb > dst->uiWidthBytes ||
        u64(dst->uiHeight) * dst->uiWidthBytes > dst->uiSize)
        return KZ_ERR_FAILED;
    float lo, hi;
    if (min && max) {
        lo = *min;
        hi = *max;
    } else if (GetFloatMinMax(src, lo, hi) != KZ_OK) {
        return KZ_ERR_FAILED;
    }
    if (!(hi - lo > 0.0f))
        return KZ_ERR_FAILED;
    const float Mx = float((1u << dst->uiBpc) - 1u);
    const float scale = Mx / (hi - lo);
    const size_t dc = dst->uiComp, sc = src->uiComp;
    for (size_t y = 0; y < dst->uiHeight; ++y) {
        const float* s = FRowOf(src->pData, src->uiWidthBytes, y);
        u8* d8 = dst->pData + y * size_t(dst->uiWidthBytes);
        u16* d16 = reinterpret_cast<u16*>(d8);
        for (size_t x = 0; x < dst->uiWidth; ++x)
            for (size_t k = 0; k < dc; ++k) {
                float v = (s[x * sc + (sc == 1 ? 0 : k)] - lo) * scale;
                v = v > 0.0f ? v : 0.0f;  // NaN gives 0
                v = v < Mx ? v : Mx;
                if (invert)
                    v = Mx - v;
                const unsigned u = unsigned(v);
                if (sb == 1)
                    d8[x * dc + k] = u8(u);
                else
                    d16[x * dc + k] = u16(u);
            }
    }
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Histogram of a float picture
// ---------------------------------------------------------------------------

void CKzHistoAPI::Calculate(SKzHisto* h, SKzFloatPicBuf* pic, bool)
{
    if (!h || !pic || !h->pHistData || !h->ppHistRows || (h->uiCounterSize != 4 && h->uiCounterSize != 8) ||
        h->uiHistBpc > 16 || h->uiHistComp == 0 || h->uiHistComp != pic->uiComp)
        return;
    const size_t bins = size_t(1) << h->uiHistBpc;
    const size_t rows = h->uiHistComp == 1 ? 1 : size_t(h->uiHistComp) + 1;
    std::memset(h->pHistData, 0, rows * bins * h->uiCounterSize);
    if (!pic->pData)
        return;
    if (pic->fMin == 0.0f && pic->fMax == 0.0f) {
        float lo, hi;
        if (CKzFloatPicBufAPI::GetFloatMinMax(pic, lo, hi) != KZ_OK)
            return;
        pic->fMin = lo;
        pic->fMax = hi;
    }
    const double lower = pic->fMin < 0.0f ? double(pic->fMin) : 0.0;
    const double range = double(pic->fMax) - lower;
    const double m = range > 0 ? double(bins - 1) / range : 0.0;
    u32 left = 0, top = 0, width = pic->uiWidth, height = pic->uiHeight;
    if (h->eHistMode == 1) {
        if (h->uiRectLeft >= pic->uiWidth || h->uiRectTop >= pic->uiHeight)
            return;
        left = h->uiRectLeft;
        top = h->uiRectTop;
        width = h->uiRectWidth < pic->uiWidth - left ? h->uiRectWidth : pic->uiWidth - left;
        height = h->uiRectHeight < pic->uiHeight - top ? h->uiRectHeight : pic->uiHeight - top;
    }
    const u32 stepX = h->uiStepX ? h->uiStepX : 1, stepY = h->uiStepY ? h->uiStepY : 1;
    const size_t c = pic->uiComp;
    auto usable = [](float v) { return std::isfinite(v) && v != kzf::kInvalid; };
    auto binOf = [&](double v, size_t& bin) {
        const double b = std::trunc((v - lower) * m);
        if (!(b >= 0 && b < double(bins)))
            return false;
        bin = size_t(b);
        return true;
    };
    auto count = [&](void* row, size_t bin) {
        if (h->uiCounterSize == 4)
            ++static_cast<u32*>(row)[bin];
        else
            ++static_cast<u64*>(row)[bin];
    };
    for (u64 y = top; y < u64(top) + height; y += stepY) {
        const float* s = FRowOf(pic->pData, pic->uiWidthBytes, size_t(y));
        for (u64 x = left; x < u64(left) + width; x += stepX) {
            const float* px = s + x * c;
            size_t bin;
            if (c == 1) {
                if (usable(px[0]) && binOf(px[0], bin))
                    count(h->ppHistRows[0], bin);
                continue;
            }
            double sum = 0;
            bool all = true;
            for (size_t k = 0; k < c; ++k) {
                if (!usable(px[k])) {
                    all = false;
                    continue;
                }
                sum += px[k];
                if (binOf(px[k], bin))
                    count(h->ppHistRows[k], bin);
            }
            if (all && binOf(sum / double(c), bin))
                count(h->pHistData, bin);
        }
    }
}

// ---------------------------------------------------------------------------
// Noise estimate
// ---------------------------------------------------------------------------

namespace {

// Immerkaer estimate of component k of a picture, rows through its stride.
double Immerkaer(const SKzFloatPicBuf* pic, size_t k)
{
    const size_t w = pic->uiWidth, h = pic->uiHeight, c = pic->uiComp;
    if (w < 3 || h < 3 || !pic->pData)
        return 0.0;
    double sum = 0;
    for (size_t y = 1; y + 1 < h; ++y) {
        const float* a = FRowOf(pic->pData, pic->uiWidthBytes, y - 1) + k;
        const float* m = FRowOf(pic->pData, pic->uiWidthBytes, y) + k;
        const float* b = FRowOf(pic->pData, pic->uiWidthBytes, y + 1) + k;
        for (size_t x = 1; x + 1 < w; ++x) {
            const size_t l = (x - 1) * c, i = x * c, r = (x + 1) * c;
            const double v = double(a[l]) - 2.0 * a[i] + double(a[r]) - 2.0 * m[l] + 4.0 * m[i] - 2.0 * m[r] +
                             double(b[l]) - 2.0 * b[i] + double(b[r]);
            sum += std::fabs(v);
        }
    }
    return 0.2088856895525836 / double((w - 2) * (h - 2)) * sum;
}

} // namespace

double GetImmerkaerNoiseEstimation1xFloat(SKzFloatPicBuf* pic)
{
    if (!pic || pic->uiComp == 0)
        return 0.0;
    return Immerkaer(pic, 0);
}

void CKzFloatPicBufAPI::GetImmerkaerNoiseEstimation(SKzFloatPicBuf* pic, double* sigma)
{
    if (!pic || !sigma)
        return;
    for (size_t k = 0; k < pic->uiComp; ++k)
        sigma[k] = Immerkaer(pic, k);
}

// ---------------------------------------------------------------------------
// Resize and crop
// ---------------------------------------------------------------------------

kz_result CKzFloatPicBufAPI::Resize(SKzFloatPicBuf* pic, unsigned width, unsigned height, unsigned mode,
                                    bool scaleValues)
{
    if (!pic || !pic->pData || width == 0 || height == 0)
        return KZ_ERR_FAILED;
    SKzFloatPicBuf tmp;
    Init(&tmp);
    if (Reinit(&tmp, width, height, 0, pic->uiComp, true) != KZ_OK)
        return KZ_ERR_FAILED;
    const kz_result r = Stretch(&tmp, pic, mode);
    if (r != KZ_OK) {
        Free(&tmp);
        return r;
    }
    if (scaleValues && pic->uiWidth != 0 && pic->uiHeight != 0) {
        const float f = (float(height) / float(pic->uiHeight) + float(width) / float(pic->uiWidth)) * 0.5f;
        M::MultiplybyFloat(tmp.pData, f, width, height, tmp.uiComp);
    }
    Free(pic);
    *pic = tmp;
    return KZ_OK;
}

namespace {

bool CropFits(SKzFloatPicBuf* src, int left, int right, int top, int bottom)
{
    return left >= 0 && left < right && i64(right) <= i64(src->uiWidth) && top >= 0 && top < bottom &&
           i64(bottom) <= i64(src->uiHeight);
}

} // namespace

kz_result CKzFloatPicBufAPI::Crop(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int left, int right, int top, int bottom)
{
    if (!dst || !src || !dst->pData || !src->pData || !Check(dst, src, eCheckBpcComp) ||
        !CropFits(src, left, right, top, bottom) || u32(right - left) != dst->uiWidth ||
        u32(bottom - top) != dst->uiHeight)
        return KZ_ERR_FAILED;
    float* from = FRowOf(src->pData, src->uiWidthBytes, size_t(top)) + size_t(left) * src->uiComp;
    return M::Copy(dst->pData, dst->uiWidthBytes, from, src->uiWidthBytes, src->uiComp, unsigned(right - left),
                   u64(right - left) * u64(bottom - top));
}

kz_result CKzFloatPicBufAPI::ReinitAndCrop(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int left, int right, int top,
                                           int bottom)
{
    if (!dst || !src || !src->pData || !CropFits(src, left, right, top, bottom))
        return KZ_ERR_FAILED;
    if (Reinit(dst, unsigned(right - left), unsigned(bottom - top), 0, src->uiComp, true) != KZ_OK)
        return KZ_ERR_FAILED;
    const kz_result r = Crop(dst, src, left, right, top, bottom);
    if (r != KZ_OK) {
        Free(dst);
        Init(dst);
    }
    return r;
}
