// Auto-contrast: the levels below and above which given percentages of a
// picture's pixels lie, found in its histogram and written into LUT
// parameters or linear contrast LUTs.
#include "gnr_picture/CKzPicBufAPI.h"

#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzLutParam.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/KzFloatPicMem.h"
#include "gnr_picture/KzLutParamLite.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/SKzFloatPicBuf.h"
#include "gnr_picture/SKzLutParam.h"
#include "gnr_system/CKzRangeMask.h"

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
    // A picture without pixels is no picture to cut.
    if (!pic || (!lows && !highs) || pic->uiWidth == 0 || pic->uiHeight == 0 || pic->uiComp == 0)
        return KZ_ERR_INVALID_ARG;
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
    if (pic->uiWidth == 0 || pic->uiHeight == 0 || pic->uiBpc == 0) return KZ_ERR_FAILED;
    const unsigned comps = pic->uiComp, bits = pic->uiBpc;
    if (comps == 0 || comps > 255) return KZ_ERR_FAILED;
    const u32 m = kzlutparam::FullValue(bits);
    std::vector<unsigned> lows(comps, 0), highs(comps, m);
    // The full range is the combined range too (an inverted m .. 0 would
    // give an inverted window or no table at all).
    unsigned cl = 0, ch = m;
    if (!fullRange) {
        cl = m;
        ch = 0;
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

// ---- spectral parameter classes ----------------------------------------------------

namespace {

double SpectralGain(const double* rgb) 
{
    const double x = std::max({rgb[0], rgb[1], rgb[2]});
    return x > 0 ? 255.0 / x : 50.0;
}

// What the three spectral classes share: shape checks, the ordinary channels'
// offsets and gains from the picture's histogram, and the measurement of the
// spectral rendering with a set of weights.
template <class P>
int SpectralCommon(P& param, SKzPicBuf* pic, unsigned firstOrdinarySlot, bool autoLow, bool autoHigh,
                   double lowPercent, double highPercent)
{
    if (param.GetBpc() != pic->uiBpc || param.GetComponentCount() != pic->uiComp) return KZ_ERR_FAILED;
    if (pic->uiBpc == 0 || pic->uiBpc > 16) return KZ_ERR_NOT_SUPPORTED;
    const unsigned comps = param.GetComponentCount(), ns = param.GetSpectralComponentCount();
    if (pic->uiWidth == 0 || pic->uiHeight == 0 || comps == 0 || comps > SKzLutParam::kMaxComponents || ns > comps) return KZ_ERR_FAILED;
    unsigned* sizes = nullptr;
    param.GetComponentSizes(&sizes);
    const unsigned S = param.GetSpectralChannelCount(), K = param.GetChannelCount();
    if (K > S) {
        if (!sizes) return KZ_ERR_FAILED;
        PictureHisto ph;
        if (int r = ph.Count(pic)) return r;
        const double m = double(kzlutparam::FullValue(ph.h.uiHistBpc));
        unsigned r0 = ns;
        for (unsigned ch = S; ch < K; ++ch) {
            unsigned low = 0, high = 0;
            if (CKzPicBufAPI::GetHistoRange(&ph.h, r0, r0 + sizes[ch], autoLow ? &low : nullptr,
                                            autoHigh ? &high : nullptr, nullptr, lowPercent, highPercent, nullptr,
                                            nullptr) != KZ_OK)
                return KZ_ERR_FAILED;
            double lo = autoLow ? low / m : 0.0;
            const double hi = high / m;
            if (autoHigh && hi > 0 && lo / hi > 0.875) lo *= 0.875;
            param.SetOffset(firstOrdinarySlot + ch - S, lo * m);
            param.SetGain(firstOrdinarySlot + ch - S, high ? m / high : 100000.0);
            r0 += sizes[ch];
        }
    }
    return KZ_OK;
}

// The block holds every row the shape describes.
bool Fits(const SKzPicBuf* pic)
{
    if (pic->uiWidth == 0 || pic->uiHeight == 0) return true;
    const u64 row = u64(pic->uiWidth) * pic->uiComp * CKzPicBufAPI::CalcCompSize(pic->uiBpc);
    return pic->pData && row <= pic->uiWidthBytes &&
           u64(pic->uiHeight - 1) * pic->uiWidthBytes + row <= pic->uiSize;
}

// The rows of a picture in bands whose pixel count fits the 32-bit count of
// the spectral kernels; f(first row, rows, count) for each band.
template <class F>
int InBands(const SKzPicBuf* pic, F f)
{
    const u64 width = pic->uiWidth, height = pic->uiHeight;
    if (width == 0 || height == 0) return KZ_OK;
    const u64 band = std::max<u64>(1, 0xFFFFFFFFull / width);
    for (u64 y = 0; y < height; y += band) {
        const u64 rows = std::min(band, height - y);
        if (int r = f(y, unsigned(rows * width))) return r;
    }
    return KZ_OK;
}

// The brightest value each rendered channel reaches over the whole picture:
// through the colours and flags, or (lut not null) through a LUT's block.
int MaxRGB(SKzPicBuf* pic, const u32* colours, const unsigned short* flags, double factor, SKzLut* lut, double* rgb)
{
    rgb[0] = rgb[1] = rgb[2] = 0.0;
    if (!Fits(pic)) return KZ_ERR_FAILED;
    return InBands(pic, [&](u64 y, unsigned count) {
        double band[3] = {0.0, 0.0, 0.0};
        u8* rows = pic->pData + y * pic->uiWidthBytes;
        const int r = lut ? CKzPicMemAPI::SpetralGetMaxRGBEx(band, rows, pic->uiWidthBytes, pic->uiBpc, pic->uiComp,
                                                            pic->uiWidth, count, lut)
                          : CKzPicMemAPI::SpetralGetMaxRGB(band, rows, pic->uiWidthBytes, pic->uiBpc, pic->uiComp,
                                                          pic->uiWidth, count, const_cast<u32*>(colours),
                                                          const_cast<unsigned short*>(flags), factor);
        for (int k = 0; k < 3; ++k) rgb[k] = std::max(rgb[k], band[k]);
        return r;
    });
}

// The brightest channel of the spectral rendering of the components whose
// flag is set, each coloured by colours[c], scaled by factor.
int Measure(SKzPicBuf* pic, const std::vector<u32>& colours, const std::vector<unsigned short>& flags, double factor,
            double* rgb)
{
    return MaxRGB(pic, colours.data(), flags.data(), factor, nullptr, rgb);
}

std::vector<unsigned short> SpectralFlags(unsigned comps, unsigned first, unsigned end)
{
    std::vector<unsigned short> f(comps, 0);
    for (unsigned c = first; c < end && c < comps; ++c) f[c] = 0xFFFF;
    return f;
}

} // namespace

int CKzPicBufAPI::GetAutoContrastSpectralTrueColor(CKzLutParamSpectralTrueColor* param, unsigned* colours,
                                                   SKzPicBuf* pic, bool autoLow, bool autoHigh, double lowPercent,
                                                   double highPercent)
{
    if (!param || !colours || !pic) return KZ_ERR_FAILED;
    if (int r = SpectralCommon(*param, pic, 1, autoLow, autoHigh, lowPercent, highPercent)) return r;
    const unsigned comps = param->GetComponentCount(), ns = param->GetSpectralComponentCount();
    std::vector<u32> cols(colours, colours + comps);
    double rgb[3];
    if (int r = Measure(pic, cols, SpectralFlags(comps, 0, ns), ns ? 1.0 / ns : 1.0, rgb)) return r;
    param->SetOffset(0, 0.0);
    param->SetGain(0, SpectralGain(rgb));
    return KZ_OK;
}

int CKzPicBufAPI::GetAutoContrastSpectralCustomColor(CKzLutParamSpectralCustomColor* param, SKzPicBuf* pic,
                                                     bool autoLow, bool autoHigh, double lowPercent,
                                                     double highPercent)
{
    if (!param || !pic) return KZ_ERR_FAILED;
    if (int r = SpectralCommon(*param, pic, param->GetNodeCount(), autoLow, autoHigh, lowPercent, highPercent))
        return r;
    const unsigned comps = param->GetComponentCount(), ns = param->GetSpectralComponentCount();
    std::vector<u32> cols(comps, 0x00FFFFFFu);
    param->GetCompColors(cols.data());
    double rgb[3];
    if (int r = Measure(pic, cols, SpectralFlags(comps, 0, ns), ns ? 1.0 / ns : 1.0, rgb)) return r;
    const double gain = SpectralGain(rgb);
    for (unsigned k = 0; k < param->GetNodeCount(); ++k) {
        param->SetOffset(k, 0.0);
        param->SetGain(k, gain);
    }
    return KZ_OK;
}

int CKzPicBufAPI::GetAutoContrastSpectralGrouped(CKzLutParamSpectralGrouped* param, SKzPicBuf* pic, bool autoLow,
                                                 bool autoHigh, double lowPercent, double highPercent)
{
    if (!param || !pic) return KZ_ERR_FAILED;
    const unsigned G = param->GetGroupCount();
    unsigned* sizes = nullptr;
    param->GetGroupSizes(&sizes);
    if (G > 0 && !sizes) return KZ_ERR_FAILED;
    // Every group holds at least one spectral component, all of them together
    // no more than there are.
    const unsigned comps = param->GetComponentCount(), ns = param->GetSpectralComponentCount();
    u64 total = 0;
    for (unsigned g = 0; g < G; ++g) {
        if (sizes[g] == 0) return KZ_ERR_FAILED;
        total += sizes[g];
    }
    if (total > ns) return KZ_ERR_FAILED;
    if (int r = SpectralCommon(*param, pic, G, autoLow, autoHigh, lowPercent, highPercent)) return r;
    std::vector<u32> cols(comps, 0x00FFFFFFu);
    std::vector<unsigned> first(G);
    unsigned c = 0;
    for (unsigned g = 0; g < G; ++g) {
        first[g] = c;
        for (unsigned k = 0; k < sizes[g] && c < ns; ++k, ++c) cols[c] = param->GetColor(g);
    }
    for (unsigned g = 0; g < G; ++g) {
        double rgb[3];
        if (int r = Measure(pic, cols, SpectralFlags(comps, first[g], first[g] + sizes[g]), 1.0 / sizes[g], rgb))
            return r;
        param->SetOffset(g, 0.0);
        param->SetGain(g, double(G) * SpectralGain(rgb));
    }
    // Groups whose colours share a channel add up where they overlap: the
    // whole rendering is measured once more and every group scaled down.
    bool overlap = false;
    for (unsigned a = 0; a < G && !overlap; ++a)
        for (unsigned b = a + 1; b < G && !overlap; ++b) {
            const u32 x = param->GetColor(a), y = param->GetColor(b);
            overlap = (x & 0xFF) * (y & 0xFF) + ((x >> 8) & 0xFF) * ((y >> 8) & 0xFF) +
                          ((x >> 16) & 0xFF) * ((y >> 16) & 0xFF) != 0;
        }
    if (overlap) {
        SKzLut lut;
        int r = CreateLutsSpectralGrouped(&lut, param, 1.0);
        double rgb[3] = {0, 0, 0};
        if (r == KZ_OK) r = MaxRGB(pic, nullptr, nullptr, 1.0, &lut, rgb);
        SKzLut::Free(lut);
        if (r != KZ_OK) return r;
        const double scale = SpectralGain(rgb);
        for (unsigned g = 0; g < G; ++g) {
            param->SetGain(g, param->GetGain(g) * scale);
            param->SetOffset(g, 0.0);
        }
    }
    return KZ_OK;
}

// ---- spectral data of the older parameters ------------------------------------------

namespace {

constexpr unsigned kMaxSpectral = SKzLutParam::kMaxComponents;

// What the two picture kinds measure: the low and the high of every rendered
// colour channel, through colours and per-component switches or through a
// LUT's parametric block. The integer kernels give only highs (lows 0).
struct IntMeter {
    SKzPicBuf* pic;
    unsigned bits() const { return pic->uiBpc; }
    int Measure(const u32* colours, const std::vector<bool>& on, double factor, double* lo, double* hi) const
    {
        std::vector<unsigned short> flags(pic->uiComp, 0);
        for (size_t c = 0; c < on.size() && c < flags.size(); ++c) flags[c] = on[c] ? 0xFFFF : 0;
        lo[0] = lo[1] = lo[2] = 0.0;
        return MaxRGB(pic, colours, flags.data(), factor, nullptr, hi);
    }
    int MeasureEx(SKzLut* lut, double* lo, double* hi) const
    {
        lo[0] = lo[1] = lo[2] = 0.0;
        return MaxRGB(pic, nullptr, nullptr, 1.0, lut, hi);
    }
};

struct FloatMeter {
    SKzFloatPicBuf* pic;
    double lowPercent, highPercent;  // -1 for a cut that is off
    // Offsets of ordinary components in the temporary LUT are fractions of
    // a 16-bit scale.
    unsigned bits() const { return 16; }
    unsigned count() const { return pic->uiWidth * pic->uiHeight; }
    int Measure(const u32* colours, const std::vector<bool>& on, double factor, double* lo, double* hi) const
    {
        std::vector<unsigned> visible(pic->uiComp, 0);
        for (size_t c = 0; c < on.size() && c < visible.size(); ++c) visible[c] = on[c] ? 0xFFFFFFFFu : 0u;
        lo[0] = lo[1] = lo[2] = hi[0] = hi[1] = hi[2] = 0.0;
        return CKzFloatPicMemAPI::SpetralGetLoHiRGB(lo, hi, pic->pData, pic->uiWidthBytes, pic->fMin, pic->fMax,
                                                    pic->uiComp, pic->uiWidth, count(), const_cast<u32*>(colours),
                                                    visible.data(), factor, lowPercent, highPercent);
    }
    int MeasureEx(SKzLut* lut, double* lo, double* hi) const
    {
        lo[0] = lo[1] = lo[2] = hi[0] = hi[1] = hi[2] = 0.0;
        return CKzFloatPicMemAPI::SpetralGetLoHiRGBEx(lo, hi, pic->pData, pic->uiWidthBytes, pic->fMin, pic->fMax,
                                                      pic->uiComp, pic->uiWidth, count(), lut, lowPercent,
                                                      highPercent);
    }
};

double Largest(const double* v) { return std::max({v[0], v[1], v[2]}); }

// Offsets and gains of the spectral data for the visible spectral components
// of a picture of comps components (see the header).
template <class Meter>
int SpectAutocontrast(SKzLutParam& param, const Meter& meter, unsigned comps, CKzRangeMask& visible, int group,
                      unsigned* colours, SKzHisto* histo, bool autoLow, bool autoHigh, double lowPercent,
                      double highPercent)
{
    SKzLutParam::SKzLUTDataSpectral& s = param.sLutDataSpectral;
    const unsigned ns = s.uiCompCount;
    if (!colours || comps == 0 || comps > kMaxSpectral || ns > comps) return KZ_ERR_FAILED;
    const unsigned mode = s.uiSpectralColorMode;

    // The ordinary components' ranges from the histogram; a low close to the
    // high is lowered so that the component keeps some contrast.
    auto ordinary = [&]() -> int {
        if (!histo || ns >= comps || (!autoLow && !autoHigh)) return KZ_OK;
        if (int r = CKzPicBufAPI::AutoOneCompContrast(&param, ns, comps, histo, autoLow, autoHigh, false, lowPercent,
                                                      highPercent))
            return r;
        const double mx = param.GetCompMaxSrcDbl(ns), mn = param.GetCompMinSrcDbl(ns);
        if (mx > 0 && mn / mx > 0.875) param.SetCompMinSrcDbl(ns, mn * 0.875);
        return KZ_OK;
    };

    double lo[3], hi[3];
    if (group < 0 && mode == 2) {
        u32 last[kMaxSpectral];
        std::fill(last, last + kMaxSpectral, ns ? ns - 1 : 0);
        const unsigned G = std::min(s.GetAllGroupCount(last, true), kMaxSpectral);
        CKzRangeMask groupsShown;
        CKzPicBufAPI::ComponentMaskToSpectralGroupMask(groupsShown, visible, param, comps);
        std::vector<unsigned> shown;
        for (unsigned i = 0; i < G; ++i)
            if (groupsShown.Get(i)) shown.push_back(i);
        // Each group alone: its members' brightest channel at G times the
        // share a group has of the rendering.
        for (unsigned i : shown) {
            std::vector<bool> on(comps, false);
            unsigned members = 0;
            for (unsigned c = 0; c < ns; ++c)
                if (param.sCompLutParam[c].uiGroup == i) on[c] = true, ++members;
            if (int r = meter.Measure(colours, on, 1.0 / std::max(members, 1u), lo, hi)) return r;
            const double x = Largest(hi);
            s.SetGain(i, double(G) * (x > 0 ? 255.0 / x : 50.0));
            s.SetOffset(i, Largest(lo));
        }
        // Groups whose colours share a channel add up there: the rendering
        // of all of them is measured once more and every group scaled down.
        auto colourOf = [&](unsigned i) { return colours[std::min<u32>(last[i], comps - 1)]; };
        bool overlap = false;
        for (size_t a = 0; a < shown.size() && !overlap; ++a)
            for (size_t b = a + 1; b < shown.size() && !overlap; ++b) {
                const u32 x = colourOf(shown[a]), y = colourOf(shown[b]);
                overlap = (x & 0xFF) * (y & 0xFF) + ((x >> 8) & 0xFF) * ((y >> 8) & 0xFF) +
                              ((x >> 16) & 0xFF) * ((y >> 16) & 0xFF) != 0;
            }
        if (shown.size() > 1 && overlap) {
            SKzLut lut;
            lut.maskComp = visible;
            lut.uiInBpc = u8(meter.bits());
            lut.uiOutBpc = 8;
            lut.uiOutComp = 3;
            int r = CKzPicBufAPI::CreateLutsSpectral(&lut, &param, colours, ns, comps, 1.0);
            if (r == KZ_OK) r = meter.MeasureEx(&lut, lo, hi);
            SKzLut::Free(lut);
            if (r != KZ_OK) return r;
            const double x = Largest(hi);
            const double scale = x > 0 ? 255.0 / x : 50.0;
            for (unsigned i : shown) {
                s.SetGain(i, s.GetGain(i) * scale);
                s.SetOffset(i, Largest(lo));
            }
        }
        return ordinary();
    }

    // One group of a grouped set, or every visible spectral component.
    const bool oneGroup = group >= 0 && mode == 2;
    CKzRangeMask members;
    if (oneGroup && unsigned(group) <= kMaxSpectral) {
        CKzRangeMask just;
        just.SetSize(unsigned(group) + 1);
        just.Reset();
        just.Set(unsigned(group), true);
        CKzPicBufAPI::SpectralGroupMaskToComponentMask(members, just, param, comps);
    }
    std::vector<bool> on(comps, false);
    unsigned count = 0;
    for (unsigned c = 0; c < ns; ++c)
        if (visible.Get(c) && (!oneGroup || members.Get(c))) on[c] = true, ++count;
    if (int r = ordinary()) return r;
    if (int r = meter.Measure(colours, on, 1.0 / std::max(count, 1u), lo, hi)) return r;
    const double x = Largest(hi);
    const double gain = x > 0 ? 255.0 / x : 50.0, offset = Largest(lo);
    if (mode == 0 || mode == 3) {
        s.SetGain(0, gain);
        s.SetOffset(0, offset);
    } else if (mode == 1 || (mode == 2 && !oneGroup)) {
        const unsigned G = std::min(s.GetAllGroupCount(nullptr, true), kMaxSpectral);
        for (unsigned i = 0; i < G; ++i) {
            s.SetGain(i, gain);
            s.SetOffset(i, offset);
        }
    } else if (mode == 2) {
        s.SetGain(unsigned(group), gain);
        s.SetOffset(unsigned(group), offset);
    }
    return KZ_OK;
}

} // namespace

int CKzPicBufAPI::GetLutParamSpectAutocontrast(SKzLutParam& param, SKzPicBuf* pic, CKzRangeMask& visible, int group,
                                               unsigned* colours, SKzHisto* histo, bool autoLow, bool autoHigh,
                                               double lowPercent, double highPercent)
{
    if (!pic || pic->uiWidth == 0 || pic->uiHeight == 0) return KZ_ERR_FAILED;
    if (pic->uiBpc == 0 || pic->uiBpc > 16) return KZ_ERR_NOT_SUPPORTED;
    return SpectAutocontrast(param, IntMeter{pic}, pic->uiComp, visible, group, colours, histo, autoLow, autoHigh,
                             lowPercent, highPercent);
}

int CKzPicBufAPI::GetLutParamSpectAutocontrast(SKzLutParam& param, SKzFloatPicBuf* pic, CKzRangeMask& visible,
                                               int group, unsigned* colours, SKzHisto* histo, bool autoLow,
                                               bool autoHigh, double lowPercent, double highPercent)
{
    if (!pic || !pic->pData || pic->uiWidth == 0 || pic->uiHeight == 0) return KZ_ERR_FAILED;
    // The block holds every row, and the float kernels count pixels in 32
    // bits.
    const u64 row = u64(pic->uiWidth) * pic->uiComp * sizeof(float);
    if (row > pic->uiWidthBytes || u64(pic->uiHeight - 1) * pic->uiWidthBytes + row > pic->uiSize ||
        u64(pic->uiWidth) * pic->uiHeight > 0xFFFFFFFFull)
        return KZ_ERR_FAILED;
    const FloatMeter meter{pic, autoLow ? lowPercent : -1.0, autoHigh ? highPercent : -1.0};
    return SpectAutocontrast(param, meter, pic->uiComp, visible, group, colours, histo, autoLow, autoHigh, lowPercent,
                             highPercent);
}
