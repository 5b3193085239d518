#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/CKzHistoAPI.h"

#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_system/CKzAlloc.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned kMaxHistBits = 16;

bool CounterOk(const SKzHisto* h) { return h->uiCounterSize == 4 || h->uiCounterSize == 8; }

u64 RowCount(u32 comps) { return comps > 1 ? u64(comps) + 1 : 1; }

u64 BlockBytes(const SKzHisto* h)
{
    return (u64(1) << h->uiHistBpc) * h->uiCounterSize * RowCount(h->uiHistComp);
}

inline u64 Counter(const void* row, u32 width, size_t bin)
{
    if (width == 4)
        return static_cast<const u32*>(row)[bin];
    return static_cast<const u64*>(row)[bin];
}

void SetRows(SKzHisto* h)
{
    const size_t rowBytes = (size_t(1) << h->uiHistBpc) * h->uiCounterSize;
    u8* block = static_cast<u8*>(h->pHistData);
    if (h->uiHistComp == 1)
        h->ppHistRows[0] = block;
    else
        for (u32 i = 0; i < h->uiHistComp; ++i)
            h->ppHistRows[i] = block + (size_t(i) + 1) * rowBytes;
}

void Unshape(SKzHisto* h)
{
    CKzAlloc::Free(h->pHistData);
    CKzAlloc::Free(h->ppHistRows);
    h->pHistData = nullptr;
    h->ppHistRows = nullptr;
    h->uiCounterSize = 0;
}

// Gives the histogram a block and row array for its bits, comps and counter
// width; -3 (unshaped) when memory runs out.
kz_result Allocate(SKzHisto* h)
{
    void* block = CKzAlloc::ReAlloc(h->pHistData, size_t(BlockBytes(h)), 0);
    if (!block) {
        Unshape(h);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    h->pHistData = block;
    void* rows = CKzAlloc::ReAlloc(h->ppHistRows, size_t(h->uiHistComp) * sizeof(void*), 0);
    if (!rows) {
        Unshape(h);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    h->ppHistRows = static_cast<void**>(rows);
    SetRows(h);
    return KZ_OK;
}

kz_result Reshape(SKzHisto* h, SKzPicBufDesc* d, u32 width)
{
    if (!h || !d || d->uiBpc > kMaxHistBits || d->uiComp == 0)
        return KZ_ERR_INVALID_ARG;
    if (h->pHistData && h->ppHistRows && h->uiHistBpc == d->uiBpc && h->uiHistComp == d->uiComp &&
        h->uiCounterSize == width)
        return KZ_OK;
    h->uiCounterSize = width;
    h->uiHistComp = d->uiComp;
    h->uiHistBpc = d->uiBpc;
    h->uiRectWidth = h->uiPicWidth = d->uiWidth;
    h->uiRectHeight = h->uiPicHeight = d->uiHeight;
    return Allocate(h);
}

} // namespace

kz_result CKzHistoAPI::Init(SKzHisto* h)
{
    if (!h)
        return KZ_ERR_INVALID_ARG;
    std::memset(h, 0, sizeof *h);
    h->uiStepX = h->uiStepY = 1;
    return KZ_OK;
}

kz_result CKzHistoAPI::Reinit32(SKzHisto* h, SKzPicBufDesc* d) { return Reshape(h, d, 4); }
kz_result CKzHistoAPI::Reinit64(SKzHisto* h, SKzPicBufDesc* d) { return Reshape(h, d, 8); }

kz_result CKzHistoAPI::Copy(SKzHisto* dst, SKzHisto* src)
{
    if (!dst || !src || !src->pHistData || !CounterOk(src) || src->uiHistBpc > kMaxHistBits || src->uiHistComp == 0)
        return KZ_ERR_FAILED;
    if (dst == src)
        return KZ_OK;
    const bool realloc = !dst->pHistData || !dst->ppHistRows || dst->uiHistBpc != src->uiHistBpc ||
                         dst->uiCounterSize != src->uiCounterSize || dst->uiHistComp != src->uiHistComp;
    void* keepBlock = dst->pHistData;
    void** keepRows = dst->ppHistRows;
    std::memcpy(dst, src, sizeof *dst);
    dst->pHistData = keepBlock;
    dst->ppHistRows = keepRows;
    if (realloc && Allocate(dst) != KZ_OK)
        return KZ_ERR_FAILED;
    std::memcpy(dst->pHistData, src->pHistData, size_t(BlockBytes(src)));
    return KZ_OK;
}

kz_result CKzHistoAPI::ResetToZero(SKzHisto* h)
{
    if (!h)
        return KZ_ERR_INVALID_ARG;
    if (h->pHistData && CounterOk(h))
        std::memset(h->pHistData, 0, size_t(BlockBytes(h)));
    return KZ_OK;
}

kz_result CKzHistoAPI::Free(SKzHisto* h)
{
    if (!h)
        return KZ_ERR_INVALID_ARG;
    CKzAlloc::Free(h->ppHistRows);
    CKzAlloc::Free(h->pHistData);
    h->ppHistRows = nullptr;
    h->pHistData = nullptr;
    return KZ_OK;
}

kz_result CKzHistoAPI::EstimateComponentWeights(SKzHisto* h, double* weights)
{
    if (!h || !weights)
        return KZ_ERR_INVALID_ARG;
    if (!CounterOk(h) || !h->ppHistRows || h->uiHistComp == 0)
        return KZ_OK;
    const size_t bins = size_t(1) << h->uiHistBpc;
    double total = 0;
    for (u32 i = 0; i < h->uiHistComp; ++i) {
        double m = 0;
        for (size_t v = 0; v < bins; ++v)
            m += double(v) * double(v) * double(Counter(h->ppHistRows[i], h->uiCounterSize, v));
        weights[i] = m;
        total += m;
    }
    for (u32 i = 0; i < h->uiHistComp; ++i)
        weights[i] = total == 0 ? 1.0 / h->uiHistComp : weights[i] / total;
    return KZ_OK;
}

void CKzHistoAPI::Calculate(SKzHisto* h, SKzPicBuf* pic, bool reset)
{
    if (!h || !pic)
        return;
    kz_result r = KZ_ERR_FAILED;
    if (h->uiCounterSize == 4)
        r = Reinit32(h, pic);
    else if (h->uiCounterSize == 8)
        r = Reinit64(h, pic);
    if (r != KZ_OK || !h->pHistData)
        return;
    if (reset)
        ResetToZero(h);
    if (!pic->pData)
        return;
    u32 left = 0, top = 0, width = pic->uiWidth, height = pic->uiHeight;
    if (h->eHistMode == 1) {
        // The rectangle is clipped to the picture.
        if (h->uiRectLeft >= pic->uiWidth || h->uiRectTop >= pic->uiHeight)
            return;
        left = h->uiRectLeft;
        top = h->uiRectTop;
        width = h->uiRectWidth < pic->uiWidth - left ? h->uiRectWidth : pic->uiWidth - left;
        height = h->uiRectHeight < pic->uiHeight - top ? h->uiRectHeight : pic->uiHeight - top;
    } else if (h->eHistMode != 0) {
        return;
    }
    if (width == 0 || height == 0)
        return;
    const u32 stepX = h->uiStepX ? h->uiStepX : 1, stepY = h->uiStepY ? h->uiStepY : 1;
    const size_t pixel = size_t(pic->uiComp) * CKzPicBufAPI::CalcCompSize(pic->uiBpc);
    const u8* origin = pic->pData + size_t(top) * pic->uiWidthBytes + size_t(left) * pixel;
    // Bands of whole rows whose pixel count fits 32 bits, each starting on a
    // counted row.
    u64 per = 0xFFFFFFFFull / width;
    per -= per % stepY;
    if (per == 0)
        per = stepY;  // a width near 2^32 with a huge row step: one counted row a band
    for (u64 r0 = 0; r0 < height; r0 += per) {
        const u64 rows = height - r0 < per ? height - r0 : per;
        const u64 count = rows * width > 0xFFFFFFFFull ? u64(width) : rows * width;
        if (CKzPicMemAPI::GetHistogramEx(h->ppHistRows, h->pHistData, h->uiCounterSize,
                                         origin + size_t(r0) * pic->uiWidthBytes, pic->uiWidthBytes, pic->uiComp,
                                         pic->uiBpc, stepX, stepY, width, u32(count)) != KZ_OK)
            return;
    }
}

void CKzHistoAPI::CalculateAndRepair(SKzHisto* h, SKzPicBuf* pic, bool reset) { Calculate(h, pic, reset); }

kz_result CKzHistoAPI::Add(SKzHisto* dst, SKzHisto* src)
{
    if (!dst || !src || dst->uiHistBpc != src->uiHistBpc || dst->uiHistComp != src->uiHistComp ||
        dst->uiCounterSize != src->uiCounterSize || !dst->pHistData || !src->pHistData || !CounterOk(src))
        return KZ_ERR_FAILED;
    return CKzPicMemAPI::AddHisto(src->pHistData, src->ppHistRows, dst->pHistData, dst->ppHistRows,
                                  src->uiHistBpc, src->uiHistComp, src->uiCounterSize);
}

namespace {

bool Queryable(const SKzHisto* h) { return h && CounterOk(h) && h->ppHistRows && h->uiHistBpc <= kMaxHistBits; }

// First bin from the bottom whose counter (or running sum) reaches / passes
// the threshold, `none` when never.
template <class Pass>
u32 FromBottom(const void* row, u32 cw, size_t bins, bool running, Pass pass, u32 none)
{
    u64 sum = 0;
    for (size_t v = 0; v < bins; ++v) {
        const u64 c = Counter(row, cw, v);
        sum = running ? sum + c : c;
        if (pass(sum))
            return u32(v);
    }
    return none;
}

template <class Pass>
u32 FromTop(const void* row, u32 cw, size_t bins, bool running, Pass pass, u32 none)
{
    u64 sum = 0;
    for (size_t v = bins; v-- > 0;) {
        const u64 c = Counter(row, cw, v);
        sum = running ? sum + c : c;
        if (pass(sum))
            return u32(v);
    }
    return none;
}

kz_result Cuts(const SKzHisto* h, unsigned* low, unsigned* high, bool running, u64 lowT, u64 highT, bool strict,
               bool doLow, bool doHigh)
{
    if (!h || (!low && !high))
        return KZ_ERR_INVALID_ARG;
    if (!Queryable(h))
        return KZ_OK;
    const size_t bins = size_t(1) << h->uiHistBpc;
    const u32 n = u32(bins - 1);
    for (u32 i = 0; i < h->uiHistComp; ++i) {
        const void* row = h->ppHistRows[i];
        if (low && doLow)
            low[i] = strict ? FromBottom(row, h->uiCounterSize, bins, running, [&](u64 s) { return s > lowT; }, n)
                            : FromBottom(row, h->uiCounterSize, bins, running, [&](u64 s) { return s >= lowT; }, n);
        if (high && doHigh)
            high[i] = strict ? FromTop(row, h->uiCounterSize, bins, running, [&](u64 s) { return s > highT; }, 0)
                             : FromTop(row, h->uiCounterSize, bins, running, [&](u64 s) { return s >= highT; }, 0);
    }
    return KZ_OK;
}

u64 FractionThreshold(double fraction, double pixels)
{
    const double t = fraction * pixels + 0.5;
    if (!(t >= 1))
        return 1;
    if (t >= 1.8e19)
        return ~u64(0);
    return u64(t);
}

} // namespace

kz_result CKzHistoAPI::GetLowHighFreqAbs(const SKzHisto* h, unsigned* low, unsigned* high, unsigned lowCount,
                                         unsigned highCount)
{
    return Cuts(h, low, high, false, lowCount, highCount, false, lowCount != 0, highCount != 0);
}

kz_result CKzHistoAPI::GetLowHighAbs(const SKzHisto* h, unsigned* low, unsigned* high, unsigned lowCount,
                                     unsigned highCount)
{
    return Cuts(h, low, high, true, lowCount, highCount, false, lowCount != 0, highCount != 0);
}

kz_result CKzHistoAPI::GetLowHigh(const SKzHisto* h, unsigned* low, unsigned* high, double lowFraction,
                                  double highFraction)
{
    if (!h)
        return KZ_ERR_INVALID_ARG;
    // Fractions of width x height as a 32-bit product, whatever the steps.
    const double pixels = double(u32(h->uiRectWidth * h->uiRectHeight));
    return Cuts(h, low, high, true, FractionThreshold(lowFraction, pixels), FractionThreshold(highFraction, pixels),
                true, lowFraction > 0, highFraction > 0);
}

kz_result CKzHistoAPI::GetSumLowHigh(unsigned* low, unsigned* high, unsigned row, unsigned count, const SKzHisto* h)
{
    if (!h || (!low && !high) || row >= h->uiHistComp)
        return KZ_ERR_INVALID_ARG;
    if (!Queryable(h))
        return KZ_OK;
    const size_t bins = size_t(1) << h->uiHistBpc;
    const void* r = h->ppHistRows[row];
    const u32 lo = FromBottom(r, h->uiCounterSize, bins, true, [&](u64 s) { return s > count; }, u32(bins - 1));
    const u32 hi = FromTop(r, h->uiCounterSize, bins, true, [&](u64 s) { return s > count; }, 0);
    u32 l = lo, hh = hi;
    if (low && high && l == hh) {
        if (hh == 0)
            hh = 1;
        else
            l = hh - 1;
    }
    if (low)
        *low = l;
    if (high)
        *high = hh;
    return KZ_OK;
}

i64 CKzHistoAPI::GetValue(const SKzHisto* h, unsigned row, unsigned bin)
{
    if (!h || row >= h->uiHistComp || !h->ppHistRows || h->uiHistBpc > kMaxHistBits ||
        bin >= (u64(1) << h->uiHistBpc))
        return KZ_ERR_INVALID_ARG;
    if (!CounterOk(h))
        return KZ_ERR_FAILED;
    return i64(Counter(h->ppHistRows[row], h->uiCounterSize, bin));
}

i64 CKzHistoAPI::GetMeanIndex(const SKzHisto* h, unsigned row)
{
    if (!h || row >= h->uiHistComp || !h->ppHistRows || h->uiHistBpc > kMaxHistBits)
        return KZ_ERR_INVALID_ARG;
    if (!CounterOk(h))
        return KZ_ERR_FAILED;
    const size_t bins = size_t(1) << h->uiHistBpc;
    unsigned __int128 weighted = 0, total = 0;
    for (size_t v = 0; v < bins; ++v) {
        const u64 c = Counter(h->ppHistRows[row], h->uiCounterSize, v);
        weighted += (unsigned __int128)v * c;
        total += c;
    }
    return total == 0 ? 0 : i64(u64(weighted / total));
}

kz_result CKzHistoAPI::GetOtsuThreshold(unsigned* out, unsigned count, const SKzHisto* h)
{
    if (!h || h->uiHistComp > 1 || count > 3)
        return KZ_ERR_NOT_SUPPORTED;
    if (!out)
        return KZ_ERR_FAILED;
    if (count == 0)
        return KZ_OK;
    if (!Queryable(h) || h->uiHistComp == 0)
        return KZ_ERR_FAILED;
    const size_t bins = size_t(1) << h->uiHistBpc;
    std::vector<double> P, M;
    try {
        P.resize(bins);
        M.resize(bins);
    } catch (...) {
        return KZ_ERR_FAILED;
    }
    double total = 0;
    for (size_t v = 0; v < bins; ++v)
        total += double(Counter(h->ppHistRows[0], h->uiCounterSize, v));
    if (total < 1e-5)
        return KZ_ERR_FAILED;
    double p = 0, m = 0;
    for (size_t v = 0; v < bins; ++v) {
        const double pv = double(Counter(h->ppHistRows[0], h->uiCounterSize, v)) / total;
        p += pv;
        m += double(v) * pv;
        P[v] = p;
        M[v] = m;
    }
    if (count == 1)
        OtsuHistoThres_1(out, P.data(), M.data(), unsigned(bins));
    else if (count == 2)
        OtsuHistoThres_2(out, P.data(), M.data(), unsigned(bins));
    else
        OtsuHistoThres_3(out, P.data(), M.data(), unsigned(bins));
    return KZ_OK;
}

namespace {

inline double ClassMean(double m, double w) { return w <= 1e-10 ? m : m / w; }

// Coarse steps of the two-threshold search: 2, 4, 8 and 16 for 1024, 4096,
// 16384 and 65536 bins; every other bin count is searched bin by bin (the
// 32768-bin search, the longest, visits about 5e8 pairs).
unsigned OtsuStep2(unsigned bins)
{
    switch (bins) {
    case 1024: return 2;
    case 4096: return 4;
    case 16384: return 8;
    case 65536: return 16;
    default: return 1;
    }
}

// Coarse steps of the three-threshold search: 3, 9, 27 and 81 for 1024,
// 4096, 16384 and 65536 bins, bin by bin for the other counts up to 2048
// (the 2048-bin search visits about 1.4e9 triples, about a second). 8192 and
// 32768 bins keep the next listed count's step (27 and 81) instead: a search
// bin by bin grows with the cube of the bin count (about 9e10 triples for
// 8192 bins, 6e12 for 32768) and would not end in any useful time.
unsigned OtsuStep3(unsigned bins)
{
    switch (bins) {
    case 1024: return 3;
    case 4096: return 9;
    case 16384: return 27;
    case 65536: return 81;
    default: return bins <= 2048 ? 1 : bins <= 16384 ? 27 : 81;
    }
}

} // namespace

void OtsuHistoThres_1(unsigned* out, double* P, double* M, unsigned bins)
{
    if (!out)
        return;
    out[0] = 0;
    if (!P || !M || bins < 2)
        return;
    const unsigned n = bins - 1;
    const double PT = P[n], MT = M[n];
    double best = 0;
    for (unsigned j = 0; j < n; ++j) {
        const unsigned t = j + 1;
        const double w0 = P[j], m0 = M[j], w1 = PT - P[t], m1 = MT - M[t];
        const double mu0 = ClassMean(m0, w0), mu1 = ClassMean(m1, w1);
        const double a = mu1 - (m0 + m1), b = mu0 - (m0 + m1);
        const double sigma = w1 * a * a + w0 * b * b;
        if (sigma > best) {
            best = sigma;
            out[0] = t;
        }
    }
}

namespace {

// The innermost search of both multi-threshold forms: for t = from, from + s,
// ... below N, sigma = base + w x mu^2 + last[t] with w = P[t] - P0 and
// mu = (M[t] - M0) / w (the moment itself when w <= 1e-10); a sigma strictly
// above best takes best and the position. Bin by bin the sigmas are computed
// in blocks by a loop the compiler vectorises (the same operations in the
// same order a lane, no fused multiply-add), then scanned in order.
KZ_ALWAYS_INLINE void ScanLast(const double* __restrict P, const double* __restrict M,
                               const double* __restrict last, unsigned from, unsigned N, unsigned s, double P0,
                               double M0, double base, double& best, unsigned& at)
{
    if (s != 1) {
        for (unsigned t = from; t < N; t += s) {
            const double w = P[t] - P0, mu = ClassMean(M[t] - M0, w);
            const double sigma = base + w * mu * mu + last[t];
            if (sigma > best) {
                best = sigma;
                at = t;
            }
        }
        return;
    }
    constexpr unsigned kBlock = 256;
    alignas(64) double sig[kBlock];
    for (unsigned t0 = from; t0 < N; t0 += kBlock) {
        const unsigned n = N - t0 < kBlock ? N - t0 : kBlock;
        const double* __restrict p = P + t0;
        const double* __restrict m = M + t0;
        const double* __restrict l = last + t0;
        // Most blocks hold nothing above best: only those are scanned in
        // order.
        const double b = best;
        unsigned above = 0;
        for (unsigned i = 0; i < n; ++i) {
            const double w = p[i] - P0, mm = m[i] - M0;
            const double mu = w <= 1e-10 ? mm : mm / w;
            const double v = base + w * mu * mu + l[i];
            sig[i] = v;
            above |= unsigned(v > b);
        }
        if (!above)
            continue;
        for (unsigned i = 0; i < n; ++i)
            if (sig[i] > best) {
                best = sig[i];
                at = t0 + i;
            }
    }
}

// The share w x mu^2 of the class above each threshold t, from the cumulative
// sums P and M of N bins: the same products, so the same sums, as the scans
// would form inside their loops. False when memory runs out.
bool LastClassShares(std::vector<double>& last, const double* P, const double* M, unsigned N)
{
    try {
        last.resize(N);
    } catch (...) {
        return false;
    }
    const double PT = P[N - 1], MT = M[N - 1];
    for (unsigned t = 0; t < N; ++t) {
        const double w = PT - P[t], mu = ClassMean(MT - M[t], w);
        last[t] = w * mu * mu;
    }
    return true;
}

} // namespace

void OtsuHistoThres_2(unsigned* out, double* P, double* M, unsigned N)
{
    if (!out)
        return;
    out[0] = out[1] = 0;
    if (!P || !M || N == 0)
        return;
    const unsigned s = OtsuStep2(N);
    // The upper class's share depends on t2 alone: computed once a bin.
    std::vector<double> last;
    if (!LastClassShares(last, P, M, N))
        return;
    const double* lp = last.data();
    double best = 0;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        for (unsigned t1 = 0; t1 + s < N; t1 += s) {
            const double w0 = P[t1], m0 = M[t1];
            const double part0 = w0 * ClassMean(m0, w0) * ClassMean(m0, w0);
            unsigned at = 0;
            const double before = best;
            ScanLast(P, M, lp, t1 + s, N, s, P[t1], M[t1], part0, best, at);
            if (best > before) {
                out[0] = t1;
                out[1] = at;
            }
        }
    });
}

void OtsuHistoThres_3(unsigned* out, double* P, double* M, unsigned N)
{
    if (!out)
        return;
    out[0] = out[1] = out[2] = 0;
    if (!P || !M || N == 0)
        return;
    const unsigned s = OtsuStep3(N);
    // The last class's share depends on t3 alone: computed once a bin.
    std::vector<double> last;
    if (!LastClassShares(last, P, M, N))
        return;
    const double* lp = last.data();
    double best = 0;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        for (unsigned t1 = 0; t1 + s < N; t1 += s) {
            const double w0 = P[t1], m0 = M[t1];
            const double part0 = w0 * ClassMean(m0, w0) * ClassMean(m0, w0);
            for (unsigned t2 = t1 + s; t2 + s < N; t2 += s) {
                const double w1 = P[t2] - P[t1], m1 = M[t2] - M[t1];
                const double mu1 = ClassMean(m1, w1);
                const double part1 = part0 + w1 * mu1 * mu1;
                unsigned at = 0;
                const double before = best;
                ScanLast(P, M, lp, t2 + s, N, s, P[t2], M[t2], part1, best, at);
                if (best > before) {
                    out[0] = t1;
                    out[1] = t2;
                    out[2] = at;
                }
            }
        }
    });
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(SKzHisto, pHistData) == 0);
static_assert(offsetof(SKzHisto, ppHistRows) == 8);
static_assert(offsetof(SKzHisto, uiCounterSize) == 16);
static_assert(offsetof(SKzHisto, uiHistComp) == 20);
static_assert(offsetof(SKzHisto, uiHistBpc) == 24);
static_assert(offsetof(SKzHisto, eHistMode) == 28);
static_assert(offsetof(SKzHisto, uiRectLeft) == 32);
static_assert(offsetof(SKzHisto, uiRectHeight) == 44);
static_assert(offsetof(SKzHisto, uiStepX) == 48);
static_assert(offsetof(SKzHisto, uiPicWidth) == 56);
static_assert(offsetof(SKzHisto, uiPicHeight) == 60);
static_assert(sizeof(SKzHisto) == 64);
#pragma GCC diagnostic pop
