#pragma GCC optimize("O3", "fp-contract=off", "no-loop-unroll-and-jam")
// Integer picture filters: box mean, local contrast, noise estimate, border
// fade; interval placement and small float kernels.
//
// The box mean keeps its window sums as doubles holding exact integers (every
// sum of up to 2^37 samples of 16 bits is exact), which vectorises like the
// float filters; the quotient is truncated exactly (see BoxQuotient).

#include "gnr_picture/KzIntFilters.h"

#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_system/CKzAlloc.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

template <class T>
struct Scratch {
    T* p = nullptr;
    explicit Scratch(size_t n, bool zero = false)
    {
        if (n != 0)
            p = static_cast<T*>(CKzAlloc::Alloc(zero ? 1u : 0u, n * sizeof(T)));
    }
    ~Scratch() { CKzAlloc::Free(p); }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    explicit operator bool() const { return p != nullptr; }
};

struct TempPic {
    SKzPicBuf p;
    TempPic() { CKzPicBufAPI::Init(&p); }
    ~TempPic() { CKzPicBufAPI::Free(&p); }
    TempPic(const TempPic&) = delete;
    TempPic& operator=(const TempPic&) = delete;
};

unsigned SampleBytes(unsigned bits)
{
    return bits == 0 ? 0 : bits <= 8 ? 1 : bits <= 16 ? 2 : 0;
}

// The block holds rows of width * comps samples of the picture's depth.
bool Holds(const SKzPicBuf* p, unsigned sb)
{
    return p && p->pData && sb != 0 && u64(p->uiWidth) * p->uiComp * sb <= p->uiWidthBytes &&
           u64(p->uiHeight) * p->uiWidthBytes <= p->uiSize;
}

template <class T>
T* RowOf(SKzPicBuf* p, size_t y)
{
    return reinterpret_cast<T*>(p->pData + y * size_t(p->uiWidthBytes));
}

struct Reach {
    int back, fwd;
};

// Sides the filters index with int (window reaches and positions).
constexpr unsigned kMaxSide = 0x3FFFFFFFu;

Reach ClipReach(u64 size, unsigned extent)
{
    const u64 b = size / 2, f = size - b - 1;
    return Reach{int(b < extent ? b : extent), int(f < extent ? f : extent)};
}

// ---------------------------------------------------------------------------
// Box mean
// ---------------------------------------------------------------------------

// floor(sum / count) for exact integer sum and count: (sum + 0.5) / count
// lies at least 0.5 / count away from every integer, far beyond the rounding
// of the two products (sums below 2^53, counts below 2^31).
KZ_ALWAYS_INLINE int32_t BoxQuotient(double sum, double invY, double invX)
{
    return int32_t((sum + 0.5) * invY * invX);  // non-negative, below 2^16
}

// The same in single precision, for windows of at most kFloatQuotientArea
// samples of 8 bits: the sum (below 2^20) and sum + 0.5 are exact, the two
// reciprocals and two products add at most 4 x 2^-24 relative error, below
// 256 x 4 x 2^-24 = 6.2e-5 in a quotient below 256, and 0.5 / count is at
// least 1.2e-4.
constexpr u64 kFloatQuotientArea = 4096;
KZ_ALWAYS_INLINE int32_t BoxQuotientF(float sum, float invY, float invX)
{
    return int32_t((sum + 0.5f) * invY * invX);
}

// Horizontal windows: tmp[x] + ... + tmp[x + taps - 1] (exact integers) as
// a few terms read from rows of sums of 2^k neighbours (built one pass a
// level): taps = q x 2^k + r, q terms of the top level and one per set bit
// of r, for the smallest k that needs at most kMaxTerms terms (else k the
// top bit of taps, and the terms past the first kMaxTerms - 1 summed into one
// more row first). The terms are added and divided in one pass, so every
// pass is a plain loop the compiler vectorises.
constexpr int kMaxTerms = 8;

struct HorzPlan {
    int levels = 0;  // rows of sums of 2, 4, ... 2^levels neighbours to build
    int terms = 0;
    int level[40] = {};  // 0: tmp itself, k: sums of 2^k
    size_t off[40] = {};
};

HorzPlan PlanHorz(int taps)
{
    HorzPlan p;
    auto count = [taps](int kk) { return (taps >> kk) + __builtin_popcount(unsigned(taps) & ((1u << kk) - 1)); };
    int k = 0;
    while (k < 30 && count(k) > kMaxTerms && (taps >> (k + 1)) > 0)
        ++k;
    p.levels = k;
    size_t off = 0;
    for (int q = 0; q < (taps >> k); ++q, off += size_t(1) << k) {
        p.level[p.terms] = k;
        p.off[p.terms++] = off;
    }
    for (int b = k - 1; b >= 0; --b)
        if ((taps >> b) & 1) {
            p.level[p.terms] = b;
            p.off[p.terms++] = off;
            off += size_t(1) << b;
        }
    return p;
}

// levels + (k - 1) x L holds the sums of 2^k neighbours of tmp (row length
// L = w + taps - 1), k = 1 .. plan.levels.
template <class Acc>
KZ_ALWAYS_INLINE void BuildLevels(const HorzPlan& plan, const Acc* tmp, Acc* levels, size_t L)
{
    const Acc* prev = tmp;
    for (int k = 1; k <= plan.levels; ++k) {
        const size_t half = size_t(1) << (k - 1), n = L - 2 * half + 1;
        Acc* __restrict out = levels + size_t(k - 1) * L;
        const Acc* __restrict a = prev;
        const Acc* __restrict b = prev + half;
        for (size_t i = 0; i < n; ++i)
            out[i] = Acc(a[i] + b[i]);
        prev = out;
    }
}

// One row of outputs from N terms.
template <int N, class T, class Acc, bool FloatQ>
KZ_ALWAYS_INLINE void CombineRow(T* __restrict out, const Acc* const* terms, size_t w, double invY,
                                 const double* __restrict invX, float invYf, const float* __restrict invXf)
{
    const Acc* __restrict t0 = terms[0];
    const Acc* __restrict t1 = terms[N > 1 ? 1 : 0];
    const Acc* __restrict t2 = terms[N > 2 ? 2 : 0];
    const Acc* __restrict t3 = terms[N > 3 ? 3 : 0];
    const Acc* __restrict t4 = terms[N > 4 ? 4 : 0];
    const Acc* __restrict t5 = terms[N > 5 ? 5 : 0];
    const Acc* __restrict t6 = terms[N > 6 ? 6 : 0];
    const Acc* __restrict t7 = terms[N > 7 ? 7 : 0];
    for (size_t x = 0; x < w; ++x) {
        Acc v = t0[x];
        if constexpr (N > 1) v = Acc(v + t1[x]);
        if constexpr (N > 2) v = Acc(v + t2[x]);
        if constexpr (N > 3) v = Acc(v + t3[x]);
        if constexpr (N > 4) v = Acc(v + t4[x]);
        if constexpr (N > 5) v = Acc(v + t5[x]);
        if constexpr (N > 6) v = Acc(v + t6[x]);
        if constexpr (N > 7) v = Acc(v + t7[x]);
        if constexpr (FloatQ)
            out[x] = T(BoxQuotientF(float(v), invYf, invXf[x]));
        else
            out[x] = T(BoxQuotient(double(v), invY, invX[x]));
    }
}

// The rows of the box mean. Every count and pointer is a parameter (a local
// the stores cannot alias: byte and int stores may alias any captured
// variable, which would keep the loops from vectorising). padded holds the
// column sums of the vertical window with rx.back zeros before and rx.fwd
// after them.
template <class T, class Acc, bool FloatQ>
KZ_ALWAYS_INLINE void BoxRows(u8* dbase, size_t ds, const u8* sbase, size_t ss, size_t w, int h, Reach rx,
                              Reach ry, int taps, Acc* padded, Acc* levels, const double* invX,
                              const float* invXf)
{
    const HorzPlan plan = PlanHorz(taps);
    const size_t L = w + size_t(taps) - 1;
    const Acc* terms[40];
    for (int i = 0; i < plan.terms; ++i)
        terms[i] = (plan.level[i] == 0 ? padded : levels + size_t(plan.level[i] - 1) * L) + plan.off[i];
    // More terms than one pass adds: the last ones go into the row after
    // the levels first.
    Acc* rest = levels + size_t(plan.levels) * L;
    const int fused = std::min(plan.terms, kMaxTerms);
    if (plan.terms > kMaxTerms)
        terms[kMaxTerms - 1] = rest;
    Acc* acc = padded + rx.back;
    auto srow = [sbase, ss](size_t y) { return reinterpret_cast<const T*>(sbase + y * ss); };
    for (int m = 0; m <= std::min(h - 1, ry.fwd); ++m) {
        const T* __restrict s = srow(size_t(m));
        Acc* __restrict a = acc;
        for (size_t x = 0; x < w; ++x)
            a[x] = Acc(a[x] + s[x]);
    }
    for (int y = 0; y < h; ++y) {
        const int lo = std::max(0, y - ry.back), hi = std::min(h - 1, y + ry.fwd);
        T* out = reinterpret_cast<T*>(dbase + size_t(y) * ds);
        BuildLevels(plan, padded, levels, L);
        if (plan.terms > kMaxTerms) {
            const Acc* __restrict first = (plan.level[kMaxTerms - 1] == 0
                                               ? padded
                                               : levels + size_t(plan.level[kMaxTerms - 1] - 1) * L) +
                                          plan.off[kMaxTerms - 1];
            Acc* __restrict r = rest;
            for (size_t x = 0; x < w; ++x)
                r[x] = first[x];
            for (int i = kMaxTerms; i < plan.terms; ++i) {
                const Acc* __restrict t =
                    (plan.level[i] == 0 ? padded : levels + size_t(plan.level[i] - 1) * L) + plan.off[i];
                for (size_t x = 0; x < w; ++x)
                    r[x] = Acc(r[x] + t[x]);
            }
        }
        const double invY = 1.0 / double(hi - lo + 1);
        const float invYf = 1.0f / float(hi - lo + 1);
        switch (fused) {
        case 1: CombineRow<1, T, Acc, FloatQ>(out, terms, w, invY, invX, invYf, invXf); break;
        case 2: CombineRow<2, T, Acc, FloatQ>(out, terms, w, invY, invX, invYf, invXf); break;
        case 3: CombineRow<3, T, Acc, FloatQ>(out, terms, w, invY, invX, invYf, invXf); break;
        case 4: CombineRow<4, T, Acc, FloatQ>(out, terms, w, invY, invX, invYf, invXf); break;
        case 5: CombineRow<5, T, Acc, FloatQ>(out, terms, w, invY, invX, invYf, invXf); break;
        case 6: CombineRow<6, T, Acc, FloatQ>(out, terms, w, invY, invX, invYf, invXf); break;
        case 7: CombineRow<7, T, Acc, FloatQ>(out, terms, w, invY, invX, invYf, invXf); break;
        default: CombineRow<8, T, Acc, FloatQ>(out, terms, w, invY, invX, invYf, invXf); break;
        }
        const int enter = y + 1 + ry.fwd, leave = y - ry.back;
        if (enter < h) {
            const T* __restrict s = srow(size_t(enter));
            Acc* __restrict a = acc;
            for (size_t x = 0; x < w; ++x)
                a[x] = Acc(a[x] + s[x]);
        }
        if (leave >= 0) {
            const T* __restrict s = srow(size_t(leave));
            Acc* __restrict a = acc;
            for (size_t x = 0; x < w; ++x)
                a[x] = Acc(a[x] - s[x]);
        }
    }
}

template <class T, class Acc>
kz_result BoxMeanAcc(SKzPicBuf* dst, SKzPicBuf* src, Reach rx, Reach ry)
{
    const unsigned w = src->uiWidth, h = src->uiHeight;
    const int taps = rx.back + rx.fwd + 1;
    const size_t L = size_t(rx.back) + w + size_t(rx.fwd);
    const HorzPlan plan = PlanHorz(taps);
    // The level rows, and one more for the terms past kMaxTerms - 1.
    const size_t levelRows = size_t(plan.levels) + (plan.terms > kMaxTerms ? 1 : 0);
    Scratch<Acc> padded(L, true), levels(levelRows * L);
    Scratch<double> invX(w);
    Scratch<float> invXf(w);
    if (!padded || !invX || !invXf || (levelRows > 0 && !levels))
        return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned x = 0; x < w; ++x) {
        const int lo = std::max(0, int(x) - rx.back), hi = std::min(int(w) - 1, int(x) + rx.fwd);
        invX.p[x] = 1.0 / double(hi - lo + 1);
        invXf.p[x] = 1.0f / float(hi - lo + 1);
    }
    // A destination sharing the source's block filters from a copy.
    Scratch<u8> copy(dst->pData == src->pData ? size_t(src->uiHeight) * src->uiWidthBytes : 0);
    const u8* sbase = src->pData;
    if (dst->pData == src->pData) {
        if (!copy)
            return KZ_ERR_OUT_OF_MEMORY;
        std::memcpy(copy.p, src->pData, size_t(src->uiHeight) * src->uiWidthBytes);
        sbase = copy.p;
    }
    u8* dbase = dst->pData;
    const size_t ds = dst->uiWidthBytes, ss = src->uiWidthBytes;
    Acc* pp = padded.p;
    Acc* lp = levels.p;
    const double* ixp = invX.p;
    const float* ixf = invXf.p;
    const bool floatQ = sizeof(T) == 1 && u64(taps) * u64(ry.back + ry.fwd + 1) <= kFloatQuotientArea;
    if (floatQ)
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            BoxRows<T, Acc, true>(dbase, ds, sbase, ss, w, int(h), rx, ry, taps, pp, lp, ixp, ixf);
        });
    else
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            BoxRows<T, Acc, false>(dbase, ds, sbase, ss, w, int(h), rx, ry, taps, pp, lp, ixp, ixf);
        });
    return KZ_OK;
}

// Window sums in 32-bit integers while the largest possible sum fits, else
// in doubles holding exact integers.
template <class T>
kz_result BoxMean(SKzPicBuf* dst, SKzPicBuf* src, int size)
{
    const unsigned w = src->uiWidth, h = src->uiHeight;
    if (w == 0 || h == 0)
        return KZ_OK;
    if (w > kMaxSide || h > kMaxSide)
        return KZ_ERR_NOT_SUPPORTED;
    const Reach rx = ClipReach(u64(size), w), ry = ClipReach(u64(size), h);
    const u64 area = u64(rx.back + rx.fwd + 1) * u64(ry.back + ry.fwd + 1);
    const u64 top = sizeof(T) == 1 ? 255 : 65535;
    if (area * top <= 0xFFFF)
        return BoxMeanAcc<T, u16>(dst, src, rx, ry);
    if (area * top < (u64(1) << 31))
        return BoxMeanAcc<T, i32>(dst, src, rx, ry);
    return BoxMeanAcc<T, double>(dst, src, rx, ry);
}

template <class T>
kz_result SmoothSquare1(SKzPicBuf* dst, SKzPicBuf* src, int size, unsigned sbWanted)
{
    if (size < 2)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src || dst->uiWidth != src->uiWidth || dst->uiHeight != src->uiHeight || src->uiComp != 1 ||
        dst->uiComp != 1 || SampleBytes(src->uiBpc) != sbWanted || SampleBytes(dst->uiBpc) != sbWanted ||
        !Holds(src, sbWanted) || !Holds(dst, sbWanted))
        return KZ_ERR_FAILED;
    return BoxMean<T>(dst, src, size);
}

// Runs fn(one-component source, one-component destination) for component k
// of src into component k of dst through two temporaries. A temporary that
// cannot be had gives -3 before anything is written.
template <class Fn>
kz_result PerComponent(SKzPicBuf* dst, SKzPicBuf* src, unsigned first, unsigned count, Fn fn)
{
    const unsigned w = src->uiWidth, h = src->uiHeight;
    if (u64(w) * h > 0xFFFFFFFFu)
        return KZ_ERR_NOT_SUPPORTED;
    TempPic a, b;
    if (CKzPicBufAPI::Reinit(&a.p, w, h, 0, src->uiBpc, 1, false) != KZ_OK ||
        CKzPicBufAPI::Reinit(&b.p, w, h, 0, src->uiBpc, 1, false) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    const unsigned n = w * h;
    for (unsigned i = 0; i < count; ++i) {
        const unsigned k = first + i;
        CKzPicMemAPI::ExtractComponent(a.p.pData, a.p.uiWidthBytes, src->pData, src->uiComp, src->uiWidthBytes, k,
                                       src->uiBpc, w, n);
        const kz_result r = fn(&b.p, &a.p, i);
        if (r != KZ_OK)
            return r;
        CKzPicMemAPI::StoreComponent(dst->pData, dst->uiComp, dst->uiWidthBytes, k, b.p.pData, b.p.uiWidthBytes,
                                     src->uiBpc, w, n);
    }
    return KZ_OK;
}

} // namespace

kz_result SmoothSquare_1x8(SKzPicBuf* dst, SKzPicBuf* src, int size)
{
    return SmoothSquare1<u8>(dst, src, size, 1);
}

kz_result SmoothSquare_1x16(SKzPicBuf* dst, SKzPicBuf* src, int size)
{
    return SmoothSquare1<u16>(dst, src, size, 2);
}

kz_result CKzPicBufAPI::SmoothSquare(SKzPicBuf* dst, SKzPicBuf* src, int size)
{
    if (size <= 1 || !Check(dst, src, eCheckSizeBpcComp))
        return KZ_ERR_FAILED;
    const unsigned sb = SampleBytes(src->uiBpc);
    if (sb == 0)
        return KZ_ERR_NOT_SUPPORTED;
    if (src->uiWidth == 0 || src->uiHeight == 0 || src->uiComp == 0)
        return KZ_OK;
    if (!Holds(src, sb) || !Holds(dst, sb))
        return KZ_ERR_FAILED;
    if (src->uiComp == 1)
        return sb == 1 ? BoxMean<u8>(dst, src, size) : BoxMean<u16>(dst, src, size);
    return PerComponent(dst, src, 0, src->uiComp, [&](SKzPicBuf* d, SKzPicBuf* s, unsigned) {
        return sb == 1 ? BoxMean<u8>(d, s, size) : BoxMean<u16>(d, s, size);
    });
}

// ---------------------------------------------------------------------------
// Local contrast
// ---------------------------------------------------------------------------

void FillAllMem1x8MinMax(int from, int to, unsigned char* values, unsigned char* out)
{
    unsigned char lo = 255, hi = 0;
    for (int i = from; i < to; ++i) {
        lo = std::min(lo, values[i]);
        hi = std::max(hi, values[i]);
    }
    out[0] = lo;
    out[1] = hi;
}

void FillAllMem1x8Min(int from, int to, unsigned char* values, unsigned char* out)
{
    unsigned char lo = 255;
    for (int i = from; i < to; ++i)
        lo = std::min(lo, values[i]);
    out[0] = lo;
}

void FillAllMem1x8Max(int from, int to, unsigned char* values, unsigned char* out)
{
    unsigned char hi = 0;
    for (int i = from; i < to; ++i)
        hi = std::max(hi, values[i]);
    out[1] = hi;
}

void FillAllMem1x16MinMax(int from, int to, unsigned short* values, unsigned short* out)
{
    unsigned short lo = 65535, hi = 0;
    for (int i = from; i < to; ++i) {
        lo = std::min(lo, values[i]);
        hi = std::max(hi, values[i]);
    }
    out[0] = lo;
    out[1] = hi;
}

void FillAllMem1x16Min(int from, int to, unsigned short* values, unsigned short* out)
{
    unsigned short lo = 65535;
    for (int i = from; i < to; ++i)
        lo = std::min(lo, values[i]);
    out[0] = lo;
}

void FillAllMem1x16Max(int from, int to, unsigned short* values, unsigned short* out)
{
    unsigned short hi = 0;
    for (int i = from; i < to; ++i)
        hi = std::max(hi, values[i]);
    out[1] = hi;
}

int compare1x16(const void* a, const void* b)
{
    return *static_cast<const unsigned short*>(a) < *static_cast<const unsigned short*>(b) ? -1 : 1;
}

namespace {

// Running window extremes of a line (the rules of the float engine): the
// first `first` positions take the window 0 .. size - 1, position first + j
// (while j + 1 < L - size) the window j + 1 .. j + size, the rest keep the
// last window's values.
template <class T>
void RunningExtremesT(const T* line, int L, int size, int first, T* outMin, T* outMax)
{
    const int w0 = std::min(size, L);
    T lo = line[0], hi = line[0];
    for (int i = 1; i < w0; ++i) {
        lo = std::min(lo, line[i]);
        hi = std::max(hi, line[i]);
    }
    int p = 0;
    for (; p < std::min(first, L); ++p) {
        outMin[p] = lo;
        outMax[p] = hi;
    }
    for (int j = 0; j + 1 < L - size && p < L; ++j, ++p) {
        const T leaving = line[j], entering = line[j + size];
        if (leaving == lo) {
            lo = line[j + 1];
            for (int i = j + 2; i < j + size; ++i)
                lo = std::min(lo, line[i]);
        }
        if (leaving == hi) {
            hi = line[j + 1];
            for (int i = j + 2; i < j + size; ++i)
                hi = std::max(hi, line[i]);
        }
        lo = std::min(lo, entering);
        hi = std::max(hi, entering);
        outMin[p] = lo;
        outMax[p] = hi;
    }
    for (; p < L; ++p) {
        outMin[p] = lo;
        outMax[p] = hi;
    }
}

// floor(a / 2^s) for signed a (arithmetic shift).
inline i64 FloorShift(i64 a, int s)
{
    return a >= 0 ? a >> s : -((-a + (i64(1) << s) - 1) >> s);
}

template <class T>
kz_result LocalContrastEngine(SKzPicBuf* dst, SKzPicBuf* src, int size, double factor, bool smooth, unsigned sb)
{
    if (!dst || !src || dst->uiWidth != src->uiWidth || dst->uiHeight != src->uiHeight || src->uiComp != 1 ||
        dst->uiComp != 1 || SampleBytes(src->uiBpc) != sb || SampleBytes(dst->uiBpc) != sb || !Holds(src, sb) ||
        !Holds(dst, sb))
        return KZ_ERR_FAILED;
    if (src->uiWidth > kMaxSide || src->uiHeight > kMaxSide)
        return KZ_ERR_NOT_SUPPORTED;
    const int w = int(src->uiWidth), h = int(src->uiHeight);
    if (w == 0 || h == 0)
        return KZ_OK;
    TempPic keep;
    if (dst->pData == src->pData) {
        if (CKzPicBufAPI::ReinitAndCopy(&keep.p, src) != KZ_OK)
            return KZ_ERR_OUT_OF_MEMORY;
        src = &keep.p;
    }
    size = std::max(size, 1);
    const kz_result r = smooth && size >= 2 ? BoxMean<T>(dst, src, size) : CKzPicBufAPI::Copy(dst, src);
    if (r != KZ_OK)
        return r;
    const size_t n = size_t(w) * h;
    const int half = size / 2;
    const size_t L = size_t(std::max(w, h));
    Scratch<T> pmin(n), pmax(n), line(L), omin(L), omax(L);
    if (!pmin || !pmax || !line || !omin || !omax)
        return KZ_ERR_OUT_OF_MEMORY;
    for (int c0 = 0; c0 < w; c0 += 4) {
        for (int y = 0; y < h; ++y)
            line.p[y] = RowOf<T>(dst, size_t(y))[c0];
        RunningExtremesT(line.p, h, size, half + 1, omin.p, omax.p);
        for (int y = 0; y < h; ++y) {
            pmin.p[size_t(y) * w + c0] = omin.p[y];
            pmax.p[size_t(y) * w + c0] = omax.p[y];
        }
    }
    const int lastCol = ((w - 1) / 4) * 4;
    auto interp = [](T a, T b, int k) -> T {
        const i64 d = i64(b) - i64(a);
        const i64 q4 = FloorShift(d, 2), q2 = FloorShift(d, 1);
        return T(i64(a) + (k == 1 ? q4 : k == 2 ? q2 : q2 + q4));
    };
    for (int y = 0; y < h; ++y) {
        T* mn = pmin.p + size_t(y) * w;
        T* mx = pmax.p + size_t(y) * w;
        for (int c0 = 0; c0 < lastCol; c0 += 4)
            for (int k = 1; k < 4; ++k) {
                mn[c0 + k] = interp(mn[c0], mn[c0 + 4], k);
                mx[c0 + k] = interp(mx[c0], mx[c0 + 4], k);
            }
        for (int x = lastCol + 1; x < w; ++x) {
            mn[x] = mn[lastCol];
            mx[x] = mx[lastCol];
        }
    }
    for (int r0 = 0; r0 < h; r0 += 4) {
        T* mn = pmin.p + size_t(r0) * w;
        T* mx = pmax.p + size_t(r0) * w;
        std::memcpy(line.p, mn, size_t(w) * sizeof(T));
        RunningExtremesT(line.p, w, size, half, omin.p, omax.p);
        std::memcpy(mn, omin.p, size_t(w) * sizeof(T));
        std::memcpy(line.p, mx, size_t(w) * sizeof(T));
        RunningExtremesT(line.p, w, size, half, omin.p, omax.p);
        std::memcpy(mx, omax.p, size_t(w) * sizeof(T));
    }
    const int lastRow = ((h - 1) / 4) * 4;
    for (int r0 = 0; r0 < lastRow; r0 += 4)
        for (int k = 1; k < 4; ++k)
            for (int x = 0; x < w; ++x) {
                const size_t a = size_t(r0) * w + x, b = size_t(r0 + 4) * w + x, d = size_t(r0 + k) * w + x;
                pmin.p[d] = T(((4 - k) * i64(pmin.p[a]) + k * i64(pmin.p[b])) / 4);
                pmax.p[d] = T(((4 - k) * i64(pmax.p[a]) + k * i64(pmax.p[b])) / 4);
            }
    for (int y = lastRow + 1; y < h; ++y) {
        std::memcpy(pmin.p + size_t(y) * w, pmin.p + size_t(lastRow) * w, size_t(w) * sizeof(T));
        std::memcpy(pmax.p + size_t(y) * w, pmax.p + size_t(lastRow) * w, size_t(w) * sizeof(T));
    }
    const i64 top = sb == 1 ? i64((1u << std::min<unsigned>(dst->uiBpc, 8)) - 1) : i64((1u << dst->uiBpc) - 1);
    const double fd = factor * 1024.0;
    const i64 f = (fd > -1e15 && fd < 1e15) ? i64(fd) : (fd > 0 ? i64(1e15) : i64(-1e15));
    for (int y = 0; y < h; ++y) {
        const T* s = RowOf<T>(src, size_t(y));
        T* d = RowOf<T>(dst, size_t(y));
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            const i64 mid = (i64(pmin.p[i]) + i64(pmax.p[i])) / 2;
            // The product stays far below 2^63: |difference| < 2^16, |f| < 2^50.
            i64 v = mid + FloorShift((i64(s[x]) - mid) * f, 10);
            v = v < 0 ? 0 : v > top ? top : v;
            d[x] = T(v);
        }
    }
    return KZ_OK;
}

int LimitSize(int size, const SKzPicBuf* src)
{
    size = std::max(size, 2);
    size &= ~1;
    return std::min(size, int(std::min(src->uiWidth, src->uiHeight)) - 1);
}

kz_result Engine(SKzPicBuf* d, SKzPicBuf* s, int size, double factor, bool smooth)
{
    const unsigned sb = SampleBytes(s->uiBpc);
    if (sb == 1)
        return LocalContrastEngine<u8>(d, s, size, factor, smooth, 1);
    if (sb == 2)
        return LocalContrastEngine<u16>(d, s, size, factor, smooth, 2);
    return KZ_OK;
}

// The intensity of three components (first .. first + 2 of src) through the
// engine, hue and saturation unchanged, into the same components of dst.
kz_result IntensityContrast(SKzPicBuf* dst, SKzPicBuf* src, unsigned first, int size, double factor, bool smooth)
{
    const unsigned w = src->uiWidth, h = src->uiHeight;
    if (u64(w) * h > 0xFFFFFFFFu)
        return KZ_ERR_NOT_SUPPORTED;
    const unsigned n = w * h;
    TempPic rgb, ihs, one, done;
    if (CKzPicBufAPI::Reinit(&rgb.p, w, h, 0, src->uiBpc, 3, false) != KZ_OK ||
        CKzPicBufAPI::Reinit(&ihs.p, w, h, 0, src->uiBpc, 3, false) != KZ_OK ||
        CKzPicBufAPI::Reinit(&one.p, w, h, 0, src->uiBpc, 1, false) != KZ_OK ||
        CKzPicBufAPI::Reinit(&done.p, w, h, 0, src->uiBpc, 1, false) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned k = 0; k < 3; ++k)
        CKzPicMemAPI::CopyComponent(rgb.p.pData, 3, rgb.p.uiWidthBytes, k, src->pData, src->uiComp,
                                    src->uiWidthBytes, first + k, src->uiBpc, w, n);
    kz_result r = CKzPicBufAPI::ConvertRGBtoIHS(&ihs.p, &rgb.p);
    if (r != KZ_OK)
        return r;
    CKzPicMemAPI::ExtractComponent(one.p.pData, one.p.uiWidthBytes, ihs.p.pData, 3, ihs.p.uiWidthBytes, 0,
                                   src->uiBpc, w, n);
    r = Engine(&done.p, &one.p, size, factor, smooth);
    if (r != KZ_OK)
        return r;
    CKzPicMemAPI::StoreComponent(ihs.p.pData, 3, ihs.p.uiWidthBytes, 0, done.p.pData, done.p.uiWidthBytes,
                                 src->uiBpc, w, n);
    r = CKzPicBufAPI::ConvertIHStoRGB(&rgb.p, &ihs.p);
    if (r != KZ_OK)
        return r;
    for (unsigned k = 0; k < 3; ++k)
        CKzPicMemAPI::CopyComponent(dst->pData, dst->uiComp, dst->uiWidthBytes, first + k, rgb.p.pData, 3,
                                    rgb.p.uiWidthBytes, k, src->uiBpc, w, n);
    return KZ_OK;
}

} // namespace

kz_result LocalContrast_1x8(SKzPicBuf* dst, SKzPicBuf* src, int size, double factor, bool smooth)
{
    return LocalContrastEngine<u8>(dst, src, size, factor, smooth, 1);
}

kz_result LocalContrast_1x16(SKzPicBuf* dst, SKzPicBuf* src, int size, double factor, bool smooth)
{
    return LocalContrastEngine<u16>(dst, src, size, factor, smooth, 2);
}

kz_result CKzPicBufAPI::LocalContrast_Tailed(SKzPicBuf* dst, SKzPicBuf* src, int& size, double factor, bool smooth)
{
    if (!Check(dst, src, eCheckSizeBpcComp))
        return KZ_ERR_FAILED;
    if (src->uiWidth == 0 || src->uiHeight == 0 || src->uiComp == 0)
        return KZ_OK;
    size = LimitSize(size, src);
    const unsigned sb = SampleBytes(src->uiBpc);
    if (sb == 0)
        return KZ_OK;
    if (!Holds(src, sb) || !Holds(dst, sb))
        return KZ_ERR_FAILED;
    if (src->uiComp == 1)
        return Engine(dst, src, size, factor, smooth);
    if (src->uiComp == 3)
        return IntensityContrast(dst, src, 0, size, factor, smooth);
    return PerComponent(dst, src, 0, src->uiComp, [&](SKzPicBuf* d, SKzPicBuf* s, unsigned) {
        return Engine(d, s, size, factor, smooth);
    });
}

kz_result CKzPicBufAPI::LocalContrast(SKzPicBuf* dst, SKzPicBuf* src, int& size, double factor, bool smooth)
{
    if (!Check(dst, src, eCheckSizeBpcComp))
        return KZ_ERR_FAILED;
    if (src->uiWidth == 0 || src->uiHeight == 0 || src->uiComp == 0)
        return KZ_OK;
    size = LimitSize(size, src);
    const unsigned w = src->uiWidth, h = src->uiHeight;
    const unsigned across = (w + 999) / 1000, down = (h + 999) / 1000;
    const unsigned tw = w / across, th = h / down;
    TempPic a, b;
    for (unsigned ty = 0; ty < down; ++ty)
        for (unsigned tx = 0; tx < across; ++tx) {
            const unsigned x0 = tx * tw, y0 = ty * th;
            const unsigned cw = tx + 1 == across ? w - x0 : tw, ch = ty + 1 == down ? h - y0 : th;
            const unsigned ext = unsigned(std::max(size, 0));
            const unsigned left = tx > 0 ? std::min(ext, x0) : 0;
            const unsigned right = tx + 1 < across ? std::min(ext, w - x0 - cw) : 0;
            const unsigned top = ty > 0 ? unsigned(std::min<u64>(2 * u64(ext), y0)) : 0;
            const unsigned bottom = ty + 1 < down ? unsigned(std::min<u64>(2 * u64(ext), h - y0 - ch)) : 0;
            const unsigned ew = left + cw + right, eh = top + ch + bottom;
            if (Reinit(&a.p, ew, eh, 0, src->uiBpc, src->uiComp, false) != KZ_OK ||
                Reinit(&b.p, ew, eh, 0, src->uiBpc, src->uiComp, false) != KZ_OK)
                return KZ_ERR_OUT_OF_MEMORY;
            kz_result r = CopyRect(0, 0, ew, eh, &a.p, x0 - left, y0 - top, src);
            if (r == KZ_OK)
                r = LocalContrast_Tailed(&b.p, &a.p, size, factor, smooth);
            if (r == KZ_OK)
                r = CopyRect(x0, y0, cw, ch, dst, left, top, &b.p);
            if (r != KZ_OK)
                return r;
        }
    return KZ_OK;
}

kz_result CKzPicBufAPI::LocalContrastComp_Tailed(SKzPicBuf* dst, SKzPicBuf* src, unsigned first, unsigned count,
                                                 int* sizes, double* factors, bool* smooth)
{
    if (!Check(dst, src, eCheckSizeBpcComp) || first >= src->uiComp || u64(first) + count > src->uiComp)
        return KZ_ERR_FAILED;
    if (count == 0 || src->uiWidth == 0 || src->uiHeight == 0)
        return KZ_OK;
    if (!sizes || !factors || !smooth)
        return KZ_ERR_FAILED;
    for (unsigned i = 0; i < count; ++i)
        sizes[i] = LimitSize(sizes[i], src);
    const unsigned sb = SampleBytes(src->uiBpc);
    if (sb == 0)
        return KZ_OK;
    if (!Holds(src, sb) || !Holds(dst, sb))
        return KZ_ERR_FAILED;
    if (count == 3)
        return IntensityContrast(dst, src, first, sizes[0], factors[0], smooth[0]);
    return PerComponent(dst, src, first, count, [&](SKzPicBuf* d, SKzPicBuf* s, unsigned i) {
        return Engine(d, s, sizes[i], factors[i], smooth[i]);
    });
}

// ---------------------------------------------------------------------------
// Noise estimate
// ---------------------------------------------------------------------------

namespace {

template <class T>
double ImmerkaerT(SKzPicBuf* pic, size_t k, size_t c)
{
    const size_t w = pic->uiWidth, h = pic->uiHeight;
    if (w < 3 || h < 3)
        return 0.0;
    double sum = 0;
    for (size_t y = 1; y + 1 < h; ++y) {
        const T* a = RowOf<T>(pic, y - 1) + k;
        const T* m = RowOf<T>(pic, y) + k;
        const T* b = RowOf<T>(pic, y + 1) + k;
        for (size_t x = 1; x + 1 < w; ++x) {
            const size_t l = (x - 1) * c, i = x * c, r = (x + 1) * c;
            const i64 v = i64(a[l]) - 2 * i64(a[i]) + i64(a[r]) - 2 * i64(m[l]) + 4 * i64(m[i]) - 2 * i64(m[r]) +
                          i64(b[l]) - 2 * i64(b[i]) + i64(b[r]);
            sum += double(v < 0 ? -v : v);
        }
    }
    return 0.2088856895525836 / double((w - 2) * (h - 2)) * sum;
}

double Immerkaer(SKzPicBuf* pic, size_t k)
{
    const unsigned sb = SampleBytes(pic->uiBpc);
    if (!Holds(pic, sb) || k >= pic->uiComp)
        return 0.0;
    return sb == 1 ? ImmerkaerT<u8>(pic, k, pic->uiComp) : ImmerkaerT<u16>(pic, k, pic->uiComp);
}

} // namespace

double GetImmerkaerNoiseEstimation1x8(SKzPicBuf* pic)
{
    return pic && SampleBytes(pic->uiBpc) == 1 ? Immerkaer(pic, 0) : 0.0;
}

double GetImmerkaerNoiseEstimation1x16(SKzPicBuf* pic)
{
    return pic && SampleBytes(pic->uiBpc) == 2 ? Immerkaer(pic, 0) : 0.0;
}

void CKzPicBufAPI::GetImmerkaerNoiseEstimation(SKzPicBuf* pic, double* sigma)
{
    if (!pic || !sigma)
        return;
    for (size_t k = 0; k < pic->uiComp; ++k)
        sigma[k] = Immerkaer(pic, k);
}

// ---------------------------------------------------------------------------
// Border fade
// ---------------------------------------------------------------------------

namespace {

template <class T>
void FadeT(SKzPicBuf* pic, unsigned n, unsigned sb)
{
    if (!Holds(pic, sb) || n == 0 || n >= pic->uiWidth || n >= pic->uiHeight)
        return;
    const size_t w = pic->uiWidth, h = pic->uiHeight, c = pic->uiComp;
    const double x = 1.0 / double(n);
    auto at = [&](size_t col, size_t row, size_t k) -> T& { return RowOf<T>(pic, row)[col * c + k]; };
    auto fade = [&](double v, size_t step) { return T(KzTruncToInt64(v * double(step) * x)); };
    if (n < h - n) {
        for (size_t r = n; r < h - n; ++r)
            for (size_t k = 0; k < c; ++k) {
                const double l = at(n, r, k), rt = at(w - 1 - n, r, k);
                for (size_t i = 0; i <= n; ++i) {
                    at(n - i, r, k) = fade(l, n - i);
                    at(w - 1 - n + i, r, k) = fade(rt, n - i);
                }
            }
    }
    for (size_t col = 0; col < w; ++col)
        for (size_t k = 0; k < c; ++k) {
            const double t = at(col, n, k), b = at(col, h - 1 - n, k);
            for (size_t i = 0; i <= n; ++i) {
                at(col, n - i, k) = fade(t, n - i);
                at(col, h - 1 - n + i, k) = fade(b, n - i);
            }
        }
}

} // namespace

void ExpandAndSmoothToBordersAPI_x8(SKzPicBuf* pic, unsigned n)
{
    FadeT<u8>(pic, n, 1);
}

void ExpandAndSmoothToBordersAPI_x16(SKzPicBuf* pic, unsigned n)
{
    FadeT<u16>(pic, n, 2);
}

void ExpandAndSmoothToBordersAPI(SKzPicBuf* pic, unsigned n)
{
    if (!pic)
        return;
    const unsigned sb = SampleBytes(pic->uiBpc);
    if (sb == 1)
        ExpandAndSmoothToBordersAPI_x8(pic, n);
    else if (sb == 2)
        ExpandAndSmoothToBordersAPI_x16(pic, n);
}

// ---------------------------------------------------------------------------
// Placement and small kernels
// ---------------------------------------------------------------------------

namespace {

void Regularize(int& from, int& to, i64 extent)
{
    i64 f = from, t = to;
    if (f < 0) {
        t -= f;
        f = 0;
    }
    if (t >= extent) {
        f += extent - 1 - t;
        t = extent - 1;
    }
    from = int(std::clamp<i64>(f, INT32_MIN, INT32_MAX));
    to = int(std::clamp<i64>(t, INT32_MIN, INT32_MAX));
}

} // namespace

kz_result RegularizeRow(int& from, int& to, SKzPicBuf* pic)
{
    if (!pic)
        return KZ_ERR_FAILED;
    Regularize(from, to, pic->uiWidth);
    return KZ_OK;
}

kz_result RegularizeColumn(int& from, int& to, SKzPicBuf* pic)
{
    if (!pic)
        return KZ_ERR_FAILED;
    Regularize(from, to, pic->uiHeight);
    return KZ_OK;
}

kz_result RegularizeIRect(SKzIRect& rect, SKzPicBuf* pic)
{
    if (!pic)
        return KZ_ERR_FAILED;
    Regularize(rect.left, rect.right, pic->uiWidth);
    Regularize(rect.top, rect.bottom, pic->uiHeight);
    return KZ_OK;
}

void StretchFloat2DKernel(float* dst, float* src, unsigned dstWidth, unsigned dstHeight, unsigned srcSize)
{
    if (!dst || !src || srcSize == 0 || dstHeight == 0 || dstWidth == 0)
        return;
    const size_t last = srcSize - 1;
    double sum = 0;
    for (size_t i = 0; i < dstHeight; ++i) {
        const double y = double(i) * srcSize / dstHeight;
        const size_t y0 = std::min(size_t(std::floor(y)), last), y1 = std::min(size_t(std::ceil(y)), last);
        const double fy = y - std::floor(y);
        for (size_t j = 0; j < dstWidth; ++j) {
            const double x = double(j) * srcSize / dstWidth;
            const size_t x0 = std::min(size_t(std::floor(x)), last), x1 = std::min(size_t(std::ceil(x)), last);
            const double fx = x - std::floor(x);
            const double top = src[y0 * srcSize + x0] * (1 - fx) + src[y0 * srcSize + x1] * fx;
            const double bot = src[y1 * srcSize + x0] * (1 - fx) + src[y1 * srcSize + x1] * fx;
            const float v = float(top * (1 - fy) + bot * fy);
            dst[i * dstWidth + j] = v;
            sum += v;
        }
    }
    if (sum != 0)
        for (size_t i = 0; i < size_t(dstWidth) * dstHeight; ++i)
            dst[i] = float(dst[i] / sum);
}

void GetPlaneCutAiry(float* dst, float* src, unsigned size, unsigned outSize, unsigned offset)
{
    if (!dst || !src || outSize == 0 || outSize / 2 >= size)
        return;
    Scratch<float> profile(size);
    if (!profile)
        return;
    const unsigned c = size / 2 - std::min(offset, size / 2);
    for (size_t r = 0; r < size; ++r)
        profile.p[r] = src[r * size + c];
    const double halfOut = double(outSize / 2);
    double sum = 0;
    for (size_t r = 0; r < outSize; ++r)
        for (size_t k = 0; k < size; ++k) {
            const double dy = double(i64(r) - i64(outSize / 2)), dx = double(i64(k) - i64(size / 2));
            const double d = std::sqrt(dx * dx + dy * dy);
            float v = 0.0f;
            if (d < halfOut - 1) {
                const double p = halfOut - d;
                const double cp = std::ceil(p), fp = std::floor(p);
                v = float(profile.p[size_t(cp)] * (1 - (cp - p)) + profile.p[size_t(fp)] * (cp - p));
            }
            dst[r * size + k] = v;
            sum += v;
        }
    if (sum != 0)
        for (size_t i = 0; i < size_t(outSize) * size; ++i)
            dst[i] = float(dst[i] / sum);
}

void GeneratePSFOrtho(float*, unsigned, unsigned, double, double, double, unsigned) {}
