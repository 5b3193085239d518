// Auto-contrast: the levels below and above which given percentages of a
// picture's pixels lie, found in its histogram and written into LUT
// parameters or linear contrast LUTs.
#include "gnr_picture/CKzPicBufAPI.h"

#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzLutParam.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/KzLutParamLite.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/SKzLutParam.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr double kLn2 = 0.6931471805599453;

u64 Counter(const SKzHisto& h, unsigned row, size_t bin)
{
    const void* r = h.ppHistRows[row];
    return h.uiCounterSize == 8 ? static_cast<const u64*>(r)[bin] : static_cast<const u32*>(r)[bin];
}

// trunc(P x (percent x 0.01)), at least 1 (a NaN percentage asks for 1).
u64 CutCount(u64 pixels, double percent)
{
    const i64 v = KzTruncToInt64(double(pixels) * (percent * 0.01));
    return v < 1 ? 1 : u64(v);
}

// A gamma from the middle level, or the given one, within [0.5, 2]; NaN
// becomes 1 first.
double LimitGamma(double g)
{
    if (std::isnan(g)) g = 1.0;
    return std::clamp(g, 0.5, 2.0);
}

double GammaFromMiddle(double middle, double lo, double hi) { return -kLn2 / std::log((middle - lo) / (hi - lo)); }

// A histogram of the whole picture, counted from zero. 64-bit counters from
// 2^32 - 1 pixels on.
struct PictureHisto {
    SKzHisto h;
    PictureHisto() { CKzHistoAPI::Init(&h); }
    ~PictureHisto() { CKzHistoAPI::Free(&h); }
    int Count(SKzPicBuf* pic)
    {
        const u64 pixels = u64(pic->uiWidth) * pic->uiHeight;
        const int r = pixels >= 0xFFFFFFFFull ? CKzHistoAPI::Reinit64(&h, pic) : CKzHistoAPI::Reinit32(&h, pic);
        if (r != KZ_OK) return r;
        if (!h.pHistData) return KZ_ERR_OUT_OF_MEMORY;
        CKzHistoAPI::ResetToZero(&h);
        CKzHistoAPI::Calculate(&h, pic, true);
        return KZ_OK;
    }
};

} // namespace

int CKzPicBufAPI::GetHistoRange(SKzHisto* histo, unsigned firstRow, unsigned endRow, unsigned* low,
                                unsigned* high, unsigned* middle, double lowPercent, double highPercent,
                                unsigned* lowRow, unsigned* highRow)
{
    if (!histo || !histo->ppHistRows || histo->uiHistComp == 0 || (!low && !high)) return KZ_ERR_FAILED;
    if (firstRow >= histo->uiHistComp || endRow > histo->uiHistComp) return KZ_ERR_FAILED;
    if ((histo->uiCounterSize != 4 && histo->uiCounterSize != 8) || histo->uiHistBpc > 16) return KZ_ERR_FAILED;
    const SKzHisto& h = *histo;
    const unsigned rowEnd = std::max(endRow, firstRow + 1);
    for (unsigned r = firstRow; r < rowEnd; ++r)
        if (!h.ppHistRows[r]) return KZ_ERR_FAILED;
    if (!h.ppHistRows[0]) return KZ_ERR_FAILED;
    const size_t bins = size_t(1) << h.uiHistBpc;
    const i64 m = i64(bins) - 1;

    u64 pixels = 0;
    for (size_t b = 0; b < bins; ++b) pixels += Counter(h, 0, b);
    const u64 lowCount = CutCount(pixels, lowPercent), highCount = CutCount(pixels, highPercent);

    // Unreached cuts lie beyond the bins: low above them, high below.
    i64 lo = 0, hi = m;
    unsigned loRow = firstRow, hiRow = firstRow;
    std::vector<u64> sums(rowEnd - firstRow);
    if (low) {
        lo = m + 1;
        std::fill(sums.begin(), sums.end(), 0);
        for (size_t b = 0; b < bins && lo > m; ++b)
            for (unsigned r = firstRow; r < rowEnd; ++r)
                if ((sums[r - firstRow] += Counter(h, r, b)) >= lowCount) {
                    lo = i64(b);
                    loRow = r;
                    break;
                }
    }
    if (high) {
        hi = -1;
        std::fill(sums.begin(), sums.end(), 0);
        const bool oneRow = rowEnd == firstRow + 1;
        for (i64 b = m; b >= (oneRow ? 0 : 1) && hi < 0; --b)
            for (unsigned r = firstRow; r < rowEnd; ++r)
                if ((sums[r - firstRow] += Counter(h, r, size_t(b))) >= highCount) {
                    hi = b;
                    hiRow = r;
                    break;
                }
    }
    i64 mid = lo;
    if (middle && lo < hi) {
        auto binCount = [&](i64 b) {
            u64 s = 0;
            for (unsigned r = firstRow; r < rowEnd; ++r) s += Counter(h, r, size_t(b));
            return s;
        };
        u64 total = 0;
        for (i64 b = lo; b < hi; ++b) total += binCount(b);
        const u64 half = total / 2;
        u64 acc = 0;
        mid = lo;
        while (acc < half && mid < hi) acc += binCount(mid++);
    }
    if (lo >= hi) {
        mid = lo;
        if (hi > 0 && hi < m) {
            lo = hi - 1;
        } else {
            lo = 0;
            hi = m;
        }
    }
    if (low) *low = unsigned(lo);
    if (high) *high = unsigned(hi);
    if (middle) *middle = unsigned(std::clamp(mid, lo, hi));
    if (lowRow && low) *lowRow = loRow;
    if (highRow && high) *highRow = hiRow;
    return KZ_OK;
}

int CKzPicBufAPI::GetHistoRange(SKzHisto* histo, unsigned firstRow, unsigned endRow, unsigned* low,
                                unsigned* high, unsigned* middle, double percent, unsigned* lowRow, unsigned* highRow)
{
    return GetHistoRange(histo, firstRow, endRow, low, high, middle, percent, percent, lowRow, highRow);
}

int CKzPicBufAPI::FindLowHighInHistogram(SKzPicBuf* pic, unsigned* lows, unsigned* highs, double lowPercent,
                                         double highPercent)
{
    if (!pic || (!lows && !highs)) return KZ_ERR_INVALID_ARG;
    if (pic->uiBpc > 16) return KZ_ERR_NOT_SUPPORTED;
    PictureHisto ph;
    if (int r = ph.Count(pic)) return r;
    // The histogram search takes fractions of the pixel count; the
    // percentages are in percent.
    return CKzHistoAPI::GetLowHigh(&ph.h, lows, highs, lowPercent * 0.01, highPercent * 0.01);
}

int CKzPicBufAPI::GetAutoContrast(SKzLutParam* param, SKzLut* lut, SKzPicBuf* pic, double lowPercent,
                                  double highPercent, bool combined, bool fullRange)
{
    if (!pic) return KZ_ERR_FAILED;
    if (pic->uiBpc > 16) return KZ_ERR_NOT_SUPPORTED;
    const unsigned comps = pic->uiComp, bits = pic->uiBpc;
    if (comps == 0 || comps > 255) return KZ_ERR_FAILED;
    const u32 m = kzlutparam::FullValue(bits);
    std::vector<unsigned> lows(comps, 0), highs(comps, m);
    unsigned cl = m, ch = 0;
    if (!fullRange) {
        if (int r = FindLowHighInHistogram(pic, lows.data(), highs.data(), lowPercent, highPercent)) return r;
        for (unsigned c = 0; c < comps; ++c) {
            cl = std::min(cl, lows[c]);
            ch = std::max(ch, highs[c]);
        }
    }
    const double md = m ? double(m) : 1.0;
    if (param) {
        if (comps == 1) {
            param->SetMinSrcDbl(lows[0] / md);
            param->SetMaxSrcDbl(highs[0] / md);
        } else if (combined) {
            param->SetMinSrcDbl(cl / md);
            param->SetMaxSrcDbl(ch / md);
        } else if (!fullRange) {
            param->SetMinSrcDbl(0.0);
            param->SetMaxSrcDbl(1.0);
            for (unsigned c = 0; c < comps; ++c) {
                param->SetCompMinSrcDbl(c, lows[c] / md);
                param->SetCompMaxSrcDbl(c, highs[c] / md);
            }
        }
        return KZ_OK;
    }
    if (!lut) return KZ_ERR_FAILED;
    if (int r = SKzLut::check_luts(*lut, u8(bits), 1, u8(bits), u8(comps))) return r;
    int r = KZ_OK;
    for (unsigned c = 0; c < comps; ++c) {
        const unsigned lo = combined ? cl : lows[c], hi = combined ? ch : highs[c];
        if (lo == hi && lo != 0)
            r = SKzLut::CreateLinearTable(*lut, u8(c), 0, i32(m), i32(m), i32(m));
        else
            r = SKzLut::CreateLinearTable(*lut, u8(c), lowPercent > 0 ? i32(lo) : 0, 0,
                                          highPercent > 0 ? i32(hi) : i32(m), i32(m));
    }
    if (r != KZ_OK) {
        SKzLut::Free(*lut);
        return r;
    }
    return KZ_OK;
}

int CKzPicBufAPI::AutoContrast(SKzLutParam* param, SKzHisto* histo, unsigned* lows, bool autoLow, bool autoHigh,
                               bool autoGamma, double, double lowPercent, double highPercent)
{
    if (!histo || !param) return KZ_ERR_FAILED;
    unsigned low = 0, high = 0, middle = 0;
    if (GetHistoRange(histo, 0, histo->uiHistComp, autoLow && !lows ? &low : nullptr, autoHigh ? &high : nullptr,
                      autoGamma ? &middle : nullptr, lowPercent, highPercent, nullptr, nullptr) != KZ_OK)
        return KZ_ERR_FAILED;
    const double m = double(kzlutparam::FullValue(histo->uiHistBpc));
    const double base = param->bFloatSrc ? double(param->fMinSrc) : 0.0;
    const double span = param->bFloatSrc ? double(param->fMaxSrc) - double(param->fMinSrc) : 1.0;
    const double step = 1.0 / m;
    double hi = autoHigh ? high / m : param->GetMaxSrcDbl();
    hi = std::clamp(std::isnan(hi) ? 1.0 : hi, step, 1.0);
    param->SetMaxSrcDbl(base + span * hi);
    double lo = 0.0;
    if (autoLow) {
        if (lows) {
            u64 sum = 0;
            for (unsigned r = 0; r < histo->uiHistComp; ++r) sum += lows[r];
            low = unsigned(sum / histo->uiHistComp);
        }
        lo = std::min(low / m, hi - step);
    }
    param->SetMinSrcDbl(base + span * lo);
    param->dGammaSrc = LimitGamma(autoGamma ? GammaFromMiddle(middle / m, lo, hi) : param->dGammaSrc);
    return KZ_OK;
}

namespace {

int OneComp(SKzLutParam* param, unsigned first, unsigned end, SKzHisto* histo, unsigned* lows, bool autoLow,
            bool autoHigh, bool autoGamma, double lowPercent, double highPercent)
{
    if (!histo || !param) return KZ_ERR_FAILED;
    unsigned low = 0, high = 0, middle = 0;
    if (CKzPicBufAPI::GetHistoRange(histo, first, end, autoLow && !lows ? &low : nullptr,
                                    autoHigh ? &high : nullptr, autoGamma ? &middle : nullptr, lowPercent,
                                    highPercent, nullptr, nullptr) != KZ_OK)
        return KZ_ERR_FAILED;
    const double m = double(kzlutparam::FullValue(histo->uiHistBpc));
    const double step = 1.0 / m;
    for (unsigned c = first; c < end; ++c) {
        double hi = autoHigh ? high / m : param->GetCompMaxSrcDbl(c);
        hi = std::clamp(std::isnan(hi) ? 1.0 : hi, step, 1.0);
        param->SetCompMaxSrcDbl(c, hi);
        const double lo = autoLow ? std::min((lows ? lows[c] : low) / m, hi - step) : 0.0;
        param->SetCompMinSrcDbl(c, lo);
        param->SetCompGammaSrc(
            c, LimitGamma(autoGamma ? GammaFromMiddle(middle / m, lo, hi) : param->GetCompGammaSrc(c)));
    }
    return KZ_OK;
}

} // namespace

int CKzPicBufAPI::AutoOneCompContrast(SKzLutParam* param, unsigned firstComp, unsigned endComp, SKzHisto* histo,
                                      bool autoLow, bool autoHigh, bool autoGamma, double lowPercent,
                                      double highPercent)
{
    return OneComp(param, firstComp, endComp, histo, nullptr, autoLow, autoHigh, autoGamma, lowPercent, highPercent);
}

int CKzPicBufAPI::AutoOneCompContrast(SKzLutParam* param, unsigned firstComp, unsigned endComp, SKzHisto* histo,
                                      unsigned* lows, bool autoLow, bool autoHigh, bool autoGamma, double lowPercent,
                                      double highPercent)
{
    return OneComp(param, firstComp, endComp, histo, lows, autoLow, autoHigh, autoGamma, lowPercent, highPercent);
}

int CKzPicBufAPI::GetAutoContrastMCH(CKzLutParamMCH* param, SKzHisto* histo, bool autoLow, bool autoHigh,
                                     double lowPercent, double highPercent)
{
    if (!param || !histo) return KZ_ERR_FAILED;
    unsigned* sizes = nullptr;
    param->GetComponentSizes(&sizes);
    if (!sizes) return KZ_ERR_FAILED;
    const double m = double(kzlutparam::FullValue(histo->uiHistBpc));
    const double full = double(kzlutparam::FullValue(param->GetBpc()));
    u64 first = 0;
    for (unsigned k = 0; k < param->GetChannelCount(); ++k) {
        unsigned low = 0, high = 0;
        if (first > UINT32_MAX || first + sizes[k] > UINT32_MAX) return KZ_ERR_FAILED;
        if (GetHistoRange(histo, unsigned(first), unsigned(first + sizes[k]), autoLow ? &low : nullptr,
                          autoHigh ? &high : nullptr, nullptr, lowPercent, highPercent, nullptr, nullptr) != KZ_OK)
            return KZ_ERR_FAILED;
        if (autoLow) param->SetMin(k, kzlutparam::RoundU32(low / m * full));
        if (autoHigh) param->SetMax(k, kzlutparam::RoundU32(high / m * full));
        first += sizes[k];
    }
    return KZ_OK;
}

int CKzPicBufAPI::GetAutoContrastRGB(CKzLutParamRGB* param, SKzHisto* histo, bool autoLow, bool autoHigh,
                                     double lowPercent, double highPercent)
{
    if (!param || !histo) return KZ_ERR_FAILED;
    unsigned low = 0, high = 0;
    if (GetHistoRange(histo, 0, 3, autoLow ? &low : nullptr, autoHigh ? &high : nullptr, nullptr, lowPercent,
                      highPercent, nullptr, nullptr) != KZ_OK)
        return KZ_ERR_FAILED;
    const double m = double(kzlutparam::FullValue(histo->uiHistBpc));
    const double full = double(kzlutparam::FullValue(param->GetBpc()));
    for (unsigned i = 0; i < 3; ++i) {
        if (autoLow) param->SetMin(i, kzlutparam::RoundU32(low / m * full));
        if (autoHigh) param->SetMax(i, kzlutparam::RoundU32(high / m * full));
    }
    return KZ_OK;
}
