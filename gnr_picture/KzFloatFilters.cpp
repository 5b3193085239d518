#pragma GCC optimize("O3", "fp-contract=off", "no-loop-unroll-and-jam")
// Neighbourhood operations on float pictures: box and Gaussian smoothing,
// smoothing that respects invalid samples, sharpening, median, clipping,
// rectangle statistics, the local contrast stretch and the border fade.
//
// Box and Gaussian smoothing are separable: a vertical pass into one padded
// row, then a horizontal pass from it, each normalised by the weights that
// fall inside the picture (so the result is the 2D convolution normalised by
// the in-picture kernel weights). The vertical box pass keeps running sums in
// double (constant work whatever the size); the other passes sum their taps
// over blocks of contiguous samples held in vector registers. The weighted
// vertical pass makes two output rows from one read of their shared source
// rows, and prefetches the rows that enter the window next; destinations
// larger than the caches are written with streaming stores.

#include "gnr_picture/SKzFloatPicBuf.h"

#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/internal/KzFloatInternal.h"
#include "gnr_system/CKzAlloc.h"

#include <algorithm>
#include <cstdint>
#include <immintrin.h>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

using kzf::FRowOf;
using kzf::kInvalid;

namespace {

// Destinations from this size on are written with streaming stores.
constexpr u64 kStreamBytes = u64(8) << 20;

// The float 2.71828 widened: the base of the Gaussian kernel.
constexpr double kGaussE = 2.718280076980591;

bool Packed(const SKzFloatPicBuf* p)
{
    return p && p->pData && u64(p->uiWidth) * p->uiComp * 4 == p->uiWidthBytes;
}

bool HasSamples(const SKzFloatPicBuf* p)
{
    return p->uiWidth != 0 && p->uiHeight != 0 && p->uiComp != 0;
}

// Scratch arrays that free themselves.
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

// A float picture that releases its block.
struct TempPic {
    SKzFloatPicBuf p;
    TempPic() { CKzFloatPicBufAPI::Init(&p); }
    ~TempPic() { CKzFloatPicBufAPI::Free(&p); }
    TempPic(const TempPic&) = delete;
    TempPic& operator=(const TempPic&) = delete;
};

// ---------------------------------------------------------------------------
// Separable normalised filter
// ---------------------------------------------------------------------------

// Reach of a window of `size` taps that starts size / 2 before the output
// sample, clipped to what a picture of `extent` samples can use: taps beyond
// the picture on either side never contribute.
struct Reach {
    int back, fwd;
};

Reach ClipReach(u64 size, unsigned extent)
{
    const u64 b = size / 2, f = size - b - 1;
    const u64 lim = extent;
    return Reach{int(b < lim ? b : lim), int(f < lim ? f : lim)};
}

// Stores n (a multiple of 4) finished outputs. Streaming stores bypass the
// cache (no read of the destination line before it is written) for pictures
// too large to stay in it; out must then be 16-byte aligned.
template <bool Stream, size_t N>
KZ_ALWAYS_INLINE void StoreOut(float* __restrict out, const float* __restrict a)
{
    if constexpr (Stream) {
        for (size_t j = 0; j < N; j += 4)
            _mm_stream_ps(out + j, _mm_loadu_ps(a + j));
    } else {
        for (size_t j = 0; j < N; ++j)
            out[j] = a[j];
    }
}

// Horizontal pass of one row: out[i] = sum over taps t of w[t] * tmp[i + t *
// step], times inv[i]. tmp holds the row padded with zeros.
template <bool Box, bool Stream>
KZ_ALWAYS_INLINE void HorzRow(float* __restrict out, const float* __restrict tmp, size_t n, size_t step,
                              const float* __restrict w, int taps, const float* __restrict inv)
{
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        float a[16] = {};
        for (int t = 0; t < taps; ++t) {
            const float* p = tmp + i + size_t(t) * step;
            const float wt = Box ? 1.0f : w[t];
            for (int j = 0; j < 16; ++j)
                a[j] += Box ? p[j] : wt * p[j];
        }
        for (int j = 0; j < 16; ++j)
            a[j] *= inv[i + j];
        StoreOut<Stream, 16>(out + i, a);
    }
    for (; i < n; ++i) {
        float a = 0.0f;
        for (int t = 0; t < taps; ++t)
            a += Box ? tmp[i + size_t(t) * step] : w[t] * tmp[i + size_t(t) * step];
        out[i] = a * inv[i];
    }
}

// An odd number of weights, mirrored around the middle one.
KZ_ALWAYS_INLINE bool Symmetric(const float* w, int taps)
{
    if (taps % 2 == 0)
        return false;
    for (int t = 0; t < taps / 2; ++t)
        if (w[t] != w[taps - 1 - t])
            return false;
    return true;
}

// Vertical weighted pass of one output row from the given source rows:
// blocks of 32 outputs accumulate every source row in registers (one load
// per source sample, one store per output), the rows in ascending order.
// Longer symmetric windows add mirrored rows first and weigh them once (the
// last outputs of a row, fewer than 32, take the plain order).
template <int NR>
KZ_ALWAYS_INLINE void VertFixedRow(float* __restrict out, const float* const* rows, const float* w, size_t n,
                                   float inv)
{
    const float* r[NR];
    float wk[NR];
    for (int k = 0; k < NR; ++k) {
        r[k] = rows[k];
        wk[k] = w[k] * inv;
    }
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        float a[32];
        for (int j = 0; j < 32; ++j)
            a[j] = wk[0] * r[0][i + j];
        for (int k = 1; k < NR; ++k)
            for (int j = 0; j < 32; ++j)
                a[j] += wk[k] * r[k][i + j];
        for (int j = 0; j < 32; ++j)
            out[i + j] = a[j];
    }
    for (; i < n; ++i) {
        float a = wk[0] * r[0][i];
        for (int k = 1; k < NR; ++k)
            a += wk[k] * r[k][i];
        out[i] = a;
    }
}

// Two consecutive output rows of a full window of NR rows: rows[0 .. NR]
// hold NR + 1 source rows, the first output takes rows 0 .. NR - 1, the
// second rows 1 .. NR, each summed in the order of VertFixedRow. Every
// source row is loaded once for both.
template <int NR>
KZ_ALWAYS_INLINE void VertFixedPair(float* __restrict out0, float* __restrict out1, const float* const* rows,
                                    const float* w, size_t n, float inv)
{
    const float* r[NR + 1];
    float wk[NR];
    for (int k = 0; k <= NR; ++k)
        r[k] = rows[k];
    for (int k = 0; k < NR; ++k)
        wk[k] = w[k] * inv;
    size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        float a[16], b[16];
        for (int j = 0; j < 16; ++j) {
            a[j] = wk[0] * r[0][i + j];
            b[j] = wk[0] * r[1][i + j];
        }
        for (int k = 1; k < NR; ++k)
            for (int j = 0; j < 16; ++j) {
                a[j] += wk[k] * r[k][i + j];
                b[j] += wk[k] * r[k + 1][i + j];
            }
        for (int j = 0; j < 16; ++j) {
            out0[i + j] = a[j];
            out1[i + j] = b[j];
        }
    }
    for (; i < n; ++i) {
        float a = wk[0] * r[0][i], b = wk[0] * r[1][i];
        for (int k = 1; k < NR; ++k) {
            a += wk[k] * r[k][i];
            b += wk[k] * r[k + 1][i];
        }
        out0[i] = a;
        out1[i] = b;
    }
}

// NR in 2 .. 6; false for other windows.
KZ_ALWAYS_INLINE bool VertWeightedPair(float* __restrict out0, float* __restrict out1, const float* const* rows,
                                       const float* w, int nrows, size_t n, float inv)
{
    switch (nrows) {
    case 2: VertFixedPair<2>(out0, out1, rows, w, n, inv); return true;
    case 3: VertFixedPair<3>(out0, out1, rows, w, n, inv); return true;
    case 4: VertFixedPair<4>(out0, out1, rows, w, n, inv); return true;
    case 5: VertFixedPair<5>(out0, out1, rows, w, n, inv); return true;
    case 6: VertFixedPair<6>(out0, out1, rows, w, n, inv); return true;
    default: return false;
    }
}

KZ_ALWAYS_INLINE void VertWeightedRow(float* __restrict out, const float* const* rows, const float* w, int nrows,
                                      size_t n, float inv)
{
    // Short windows with the row count known to the compiler: weights and
    // row pointers stay in registers.
    switch (nrows) {
    case 1: return VertFixedRow<1>(out, rows, w, n, inv);
    case 2: return VertFixedRow<2>(out, rows, w, n, inv);
    case 3: return VertFixedRow<3>(out, rows, w, n, inv);
    case 4: return VertFixedRow<4>(out, rows, w, n, inv);
    case 5: return VertFixedRow<5>(out, rows, w, n, inv);
    case 6: return VertFixedRow<6>(out, rows, w, n, inv);
    default: break;
    }
    size_t i = 0;
    if (nrows > 6 && Symmetric(w, nrows)) {
        const int m = nrows / 2;
        for (; i + 32 <= n; i += 32) {
            float a[32];
            const float* pm = rows[m] + i;
            const float wm = w[m] * inv;
            for (int j = 0; j < 32; ++j)
                a[j] = wm * pm[j];
            for (int k = 0; k < m; ++k) {
                const float* p = rows[k] + i;
                const float* q = rows[nrows - 1 - k] + i;
                const float wk = w[k] * inv;
                for (int j = 0; j < 32; ++j)
                    a[j] += wk * (p[j] + q[j]);
            }
            for (int j = 0; j < 32; ++j)
                out[i + j] = a[j];
        }
    }
    for (; i + 32 <= n; i += 32) {
        float a[32];
        {
            const float* p = rows[0] + i;
            const float w0 = w[0] * inv;
            for (int j = 0; j < 32; ++j)
                a[j] = w0 * p[j];
        }
        for (int k = 1; k < nrows; ++k) {
            const float* p = rows[k] + i;
            const float wk = w[k] * inv;
            for (int j = 0; j < 32; ++j)
                a[j] += wk * p[j];
        }
        for (int j = 0; j < 32; ++j)
            out[i + j] = a[j];
    }
    for (; i < n; ++i) {
        float a = w[0] * inv * rows[0][i];
        for (int k = 1; k < nrows; ++k)
            a += w[k] * inv * rows[k][i];
        out[i] = a;
    }
}

// The symmetric horizontal pass with the tap count known to the compiler.
template <bool Stream, int TAPS>
KZ_ALWAYS_INLINE size_t HorzSymmetricFixed(float* __restrict out, const float* __restrict tmp, size_t n, size_t step,
                                           const float* __restrict w, const float* __restrict inv)
{
    constexpr int m = TAPS / 2;
    float wt[m + 1];
    for (int t = 0; t <= m; ++t)
        wt[t] = w[t];
    size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        float a[32];
        const float* pm = tmp + i + size_t(m) * step;
        for (int j = 0; j < 32; ++j)
            a[j] = wt[m] * pm[j];
        for (int t = 0; t < m; ++t) {
            const float* p = tmp + i + size_t(t) * step;
            const float* q = tmp + i + size_t(TAPS - 1 - t) * step;
            for (int j = 0; j < 32; ++j)
                a[j] += wt[t] * (p[j] + q[j]);
        }
        for (int j = 0; j < 32; ++j)
            a[j] *= inv[i + j];
        StoreOut<Stream, 32>(out + i, a);
    }
    return i;
}

// Horizontal weighted pass of one row: blocks of 32 outputs accumulate
// every tap in registers.
template <bool Stream>
KZ_ALWAYS_INLINE void HorzWeightedRow(float* __restrict out, const float* __restrict tmp, size_t n, size_t step,
                                      const float* __restrict w, int taps, const float* __restrict inv)
{
    size_t i = 0;
    const bool symmetric = Symmetric(w, taps);
    if (symmetric && taps == 3)
        i = HorzSymmetricFixed<Stream, 3>(out, tmp, n, step, w, inv);
    else if (symmetric && taps == 5)
        i = HorzSymmetricFixed<Stream, 5>(out, tmp, n, step, w, inv);
    else if (symmetric && taps == 7)
        i = HorzSymmetricFixed<Stream, 7>(out, tmp, n, step, w, inv);
    else if (symmetric && taps == 9)
        i = HorzSymmetricFixed<Stream, 9>(out, tmp, n, step, w, inv);
    else if (symmetric) {
        // Mirrored taps share their weight: one product per pair.
        const int m = taps / 2;
        for (; i + 32 <= n; i += 32) {
            float a[32];
            const float* pm = tmp + i + size_t(m) * step;
            for (int j = 0; j < 32; ++j)
                a[j] = w[m] * pm[j];
            for (int t = 0; t < m; ++t) {
                const float* p = tmp + i + size_t(t) * step;
                const float* q = tmp + i + size_t(taps - 1 - t) * step;
                const float wt = w[t];
                for (int j = 0; j < 32; ++j)
                    a[j] += wt * (p[j] + q[j]);
            }
            for (int j = 0; j < 32; ++j)
                a[j] *= inv[i + j];
            StoreOut<Stream, 32>(out + i, a);
        }
    }
    for (; i + 32 <= n; i += 32) {
        float a[32];
        for (int j = 0; j < 32; ++j)
            a[j] = w[0] * tmp[i + j];
        for (int t = 1; t < taps; ++t) {
            const float* p = tmp + i + size_t(t) * step;
            const float wt = w[t];
            for (int j = 0; j < 32; ++j)
                a[j] += wt * p[j];
        }
        for (int j = 0; j < 32; ++j)
            a[j] *= inv[i + j];
        StoreOut<Stream, 32>(out + i, a);
    }
    for (; i < n; ++i) {
        float a = w[0] * tmp[i];
        for (int t = 1; t < taps; ++t)
            a += w[t] * tmp[i + size_t(t) * step];
        out[i] = a * inv[i];
    }
}

KZ_ALWAYS_INLINE void AddRow(double* __restrict acc, const float* __restrict s, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        acc[i] += double(s[i]);
}

KZ_ALWAYS_INLINE void SubRow(double* __restrict acc, const float* __restrict s, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        acc[i] -= double(s[i]);
}

KZ_ALWAYS_INLINE void MeanRow(float* __restrict out, const double* __restrict acc, size_t n, double inv)
{
    for (size_t i = 0; i < n; ++i)
        out[i] = float(acc[i] * inv);
}

// Weights of the taps -back .. fwd of a window of `size` taps starting size / 2
// before the output (null: a box).
std::vector<float> GaussTaps(unsigned size, Reach r)
{
    const double sigma = double(float(size) * 0.33333334f);
    const double c = (double(size) - 1) * 0.5;
    const double b = double(size / 2);
    std::vector<float> w(size_t(r.back + r.fwd + 1));
    for (int d = -r.back; d <= r.fwd; ++d) {
        const double k = d + b;
        const double q = (k - c) / sigma;
        w[size_t(d + r.back)] = float(std::pow(kGaussE, -(q * q)));
    }
    return w;
}

// Separable filter of a picture of w x h pixels of c interleaved components,
// rows through the strides. Weights null: box mean. Returns -3 without
// scratch memory. dst and src must not overlap.
kz_result SepFilter(float* dst, unsigned dstStride, const float* src, unsigned srcStride, unsigned w, unsigned h,
                    unsigned c, u64 sizeX, u64 sizeY, const float* wx, const float* wy)
{
    const Reach rx = ClipReach(sizeX, w), ry = ClipReach(sizeY, h);
    const size_t n = size_t(w) * c;
    const int tapsX = rx.back + rx.fwd + 1;
    const size_t padded = (size_t(rx.back) + w + size_t(rx.fwd)) * c;
    Scratch<float> tmp(padded, true), tmp2(wy ? padded : 0, true), inv(n);
    Scratch<double> acc(wy ? 0 : n, true);
    const int full = ry.back + ry.fwd + 1;
    std::vector<const float*> rows;
    try {
        rows.resize(size_t(full) + 1);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    if (!tmp || !inv || (!wy && !acc) || (wy && !tmp2))
        return KZ_ERR_OUT_OF_MEMORY;
    // Inverse in-picture weight sum per column, spread over its components.
    for (unsigned x = 0; x < w; ++x) {
        double s = 0;
        const int lo = std::max(0, int(x) - rx.back), hi = std::min(int(w) - 1, int(x) + rx.fwd);
        for (int j = lo; j <= hi; ++j)
            s += wx ? wx[j - int(x) + rx.back] : 1.0;
        for (unsigned k = 0; k < c; ++k)
            inv.p[size_t(x) * c + k] = float(1.0 / s);
    }
    float* mid = tmp.p + size_t(rx.back) * c;
    float* mid2 = wy ? tmp2.p + size_t(rx.back) * c : nullptr;
    // A destination larger than the caches is written around them.
    const bool stream = u64(h) * dstStride >= kStreamBytes;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        const auto horz = [&](const float* row, unsigned y) KZ_INLINE_LAMBDA {
            float* out = FRowOf(dst, dstStride, y);
            if (stream && reinterpret_cast<uintptr_t>(out) % 16 == 0) {
                if (wx)
                    HorzWeightedRow<true>(out, row, n, c, wx, tapsX, inv.p);
                else
                    HorzRow<true, true>(out, row, n, c, nullptr, tapsX, inv.p);
            } else {
                if (wx)
                    HorzWeightedRow<false>(out, row, n, c, wx, tapsX, inv.p);
                else
                    HorzRow<true, false>(out, row, n, c, nullptr, tapsX, inv.p);
            }
        };
        if (!wy) {
            for (int m = 0; m <= std::min(int(h) - 1, ry.fwd); ++m)
                AddRow(acc.p, FRowOf(src, srcStride, size_t(m)), n);
        }
        for (unsigned y = 0; y < h; ++y) {
            const int lo = std::max(0, int(y) - ry.back), hi = std::min(int(h) - 1, int(y) + ry.fwd);
            if (!wy) {
                MeanRow(mid, acc.p, n, 1.0 / double(hi - lo + 1));
                const int enter = int(y) + 1 + ry.fwd, leave = int(y) - ry.back;
                if (enter < int(h))
                    AddRow(acc.p, FRowOf(src, srcStride, size_t(enter)), n);
                if (leave >= 0)
                    SubRow(acc.p, FRowOf(src, srcStride, size_t(leave)), n);
                horz(tmp.p, y);
                continue;
            }
            // The rows that enter the window next come from memory while
            // these are filtered.
            for (int e = 1; e <= 2; ++e)
                if (int(y) + ry.fwd + e < int(h)) {
                    const float* next = FRowOf(src, srcStride, size_t(y) + ry.fwd + e);
                    for (size_t b = 0; b < n; b += 16)
                        __builtin_prefetch(next + b);
                }
            double s = 0;
            for (int m = lo; m <= hi; ++m) {
                rows[size_t(m - lo)] = FRowOf(src, srcStride, size_t(m));
                s += wy[m - int(y) + ry.back];
            }
            const int nr = hi - lo + 1;
            // Two rows at once where both have the full window: the same sums,
            // each source row read once.
            if (nr == full && hi + 1 < int(h)) {
                rows[size_t(full)] = FRowOf(src, srcStride, size_t(hi) + 1);
                if (VertWeightedPair(mid, mid2, rows.data(), wy, full, n, float(1.0 / s))) {
                    horz(tmp.p, y);
                    horz(tmp2.p, y + 1);
                    ++y;
                    continue;
                }
            }
            VertWeightedRow(mid, rows.data(), wy + (lo - int(y) + ry.back), nr, n, float(1.0 / s));
            horz(tmp.p, y);
        }
    });
    if (stream)
        _mm_sfence();
    return KZ_OK;
}

// Runs the separable filter; a destination that shares the source's block
// filters from a copy.
kz_result SepFilterPics(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, u64 size, const float* wx, const float* wy)
{
    if (!HasSamples(src))
        return KZ_OK;
    const float* s = src->pData;
    Scratch<float> copy(0);
    if (dst->pData == src->pData) {
        Scratch<float> c(size_t(src->uiSize) / sizeof(float) + 1);
        if (!c)
            return KZ_ERR_OUT_OF_MEMORY;
        std::memcpy(c.p, src->pData, src->uiSize);
        std::swap(copy.p, c.p);
        s = copy.p;
    }
    return SepFilter(dst->pData, dst->uiWidthBytes, s, src->uiWidthBytes, src->uiWidth, src->uiHeight, src->uiComp,
                     size, size, wx, wy);
}

} // namespace

// ---------------------------------------------------------------------------
// Kernels and small helpers
// ---------------------------------------------------------------------------

void GetGauss(float* kernel, int size, float sigma)
{
    if (!kernel || size <= 0)
        return;
    const double c = (size - 1) * 0.5;
    const size_t n = size_t(size) * size_t(size);
    for (int i = 0; i < size; ++i)
        for (int j = 0; j < size; ++j) {
            const double r = std::sqrt((j - c) * (j - c) + (i - c) * (i - c)) / double(sigma);
            kernel[size_t(i) * size + j] =
                float(std::pow(kGaussE, -(r * r)) * (1.0 / (double(sigma) * 2.5066280138863846)));
        }
    float peak = kernel[0];
    for (size_t i = 1; i < n; ++i)
        peak = kernel[i] > peak ? kernel[i] : peak;
    if (peak > 0.0f)
        for (size_t i = 0; i < n; ++i)
            kernel[i] /= peak;
}

void FillAllMem1x8MinMax(int from, int to, float* values, float* out)
{
    float lo = values[from], hi = values[from];
    for (int i = from + 1; i < to; ++i) {
        lo = values[i] < lo ? values[i] : lo;
        hi = values[i] > hi ? values[i] : hi;
    }
    out[0] = lo;
    out[1] = hi;
}

void FillAllMem1x8Min(int from, int to, float* values, float* out)
{
    float lo = values[from];
    for (int i = from + 1; i < to; ++i)
        lo = values[i] < lo ? values[i] : lo;
    out[0] = lo;
}

void FillAllMem1x8Max(int from, int to, float* values, float* out)
{
    float hi = values[from];
    for (int i = from + 1; i < to; ++i)
        hi = values[i] > hi ? values[i] : hi;
    out[1] = hi;
}

int compareh(const void* a, const void* b)
{
    return kzf::FloatLess(*static_cast<const float*>(a), *static_cast<const float*>(b)) ? -1 : 1;
}

// ---------------------------------------------------------------------------
// Smoothing
// ---------------------------------------------------------------------------

kz_result SmoothSquare_1xfloat(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int size)
{
    if (size < 2)
        return KZ_ERR_NOT_SUPPORTED;
    if (!dst || !src || dst->uiWidth != src->uiWidth || dst->uiHeight != src->uiHeight || src->uiComp != 1 ||
        dst->uiComp != 1 || !Packed(dst) || !Packed(src))
        return KZ_ERR_FAILED;
    return SepFilterPics(dst, src, u64(size), nullptr, nullptr);
}

kz_result CKzFloatPicBufAPI::SmoothSquare(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int size)
{
    if (size <= 1 || !Check(dst, src, eCheckSizeComp) || !Packed(dst) || !Packed(src))
        return KZ_ERR_FAILED;
    return SepFilterPics(dst, src, u64(size), nullptr, nullptr);
}

kz_result CKzFloatPicBufAPI::Smooth(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, unsigned type, unsigned size)
{
    if (!Check(dst, src, eCheckSizeBpcComp) || !Packed(dst) || !Packed(src))
        return KZ_ERR_FAILED;
    if (type > 1)
        return KZ_ERR_NOT_SUPPORTED;
    if (size == 0)
        return KZ_ERR_INVALID_ARG;
    if (type == 0) {
        if (src->uiComp == 1)
            return SmoothSquare_1xfloat(dst, src, int(std::min<unsigned>(size, 0x7FFFFFFF)));
        return SepFilterPics(dst, src, size, nullptr, nullptr);
    }
    std::vector<float> wx, wy;
    try {
        wx = GaussTaps(size, ClipReach(size, src->uiWidth));
        wy = GaussTaps(size, ClipReach(size, src->uiHeight));
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return SepFilterPics(dst, src, size, wx.data(), wy.data());
}

kz_result CKzFloatPicBufAPI::Smooth_WithValidity(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, unsigned size)
{
    if (!dst || !src || !dst->pData || !src->pData || src->uiComp != 1 || !Check(dst, src, eCheckSizeBpcComp))
        return KZ_ERR_FAILED;
    if (size % 2 == 0)
        ++size;
    const unsigned w = src->uiWidth, h = src->uiHeight;
    if (w == 0 || h == 0)
        return KZ_OK;
    const size_t n = size_t(w) * h;
    // Box means of the valid values and of the validity indicator share
    // their normalisation, so their ratio is the mean of the valid samples.
    Scratch<float> vals(n), ind(n), mv(n), mi(n);
    if (!vals || !ind || !mv || !mi)
        return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned y = 0; y < h; ++y) {
        const float* s = FRowOf(src->pData, src->uiWidthBytes, y);
        for (unsigned x = 0; x < w; ++x) {
            const bool valid = s[x] > kInvalid;  // false for NaN
            vals.p[size_t(y) * w + x] = valid ? s[x] : 0.0f;
            ind.p[size_t(y) * w + x] = valid ? 1.0f : 0.0f;
        }
    }
    kz_result r = SepFilter(mv.p, w * 4, vals.p, w * 4, w, h, 1, size, size, nullptr, nullptr);
    if (r == KZ_OK)
        r = SepFilter(mi.p, w * 4, ind.p, w * 4, w, h, 1, size, size, nullptr, nullptr);
    if (r != KZ_OK)
        return r;
    for (unsigned y = 0; y < h; ++y) {
        float* d = FRowOf(dst->pData, dst->uiWidthBytes, y);
        for (unsigned x = 0; x < w; ++x) {
            const size_t i = size_t(y) * w + x;
            d[x] = (ind.p[i] == 0.0f || mi.p[i] <= 0.0f) ? kInvalid : mv.p[i] / mi.p[i];
        }
    }
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::Sharpen(SKzFloatPicBuf* shape, SKzFloatPicBuf* pic, unsigned)
{
    if (!Check(shape, pic, eCheckSizeBpcComp) || !Packed(pic))
        return KZ_ERR_FAILED;
    const int w = int(pic->uiWidth), h = int(pic->uiHeight);
    const size_t c = pic->uiComp;
    float* p = pic->pData;
    for (size_t k = 0; k < c; ++k)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                auto at = [&](int xx, int yy) -> float& { return p[(size_t(yy) * w + xx) * c + k]; };
                float set[5];
                int cnt = 0;
                set[cnt++] = at(x, y);
                if (y > 0)
                    set[cnt++] = at(x, y - 1);
                if (y + 1 < h)
                    set[cnt++] = at(x, y + 1);
                if (x > 0)
                    set[cnt++] = at(x - 1, y);
                if (x + 1 < w)
                    set[cnt++] = at(x + 1, y);
                double m = 0;
                for (int i = 0; i < cnt; ++i)
                    m += set[i];
                m /= cnt;
                double q = 0;
                for (int i = 0; i < cnt; ++i)
                    q += (set[i] - m) * (set[i] - m);
                const double s = cnt > 1 ? std::sqrt(q / (cnt - 1)) : 0.0;
                at(x, y) = float(set[0] * (1.0 + 0.2 * s));
            }
    return KZ_OK;
}

namespace {

// Floats as unsigned keys in the ascending total order of compareh: numbers
// by value (-0 just below +0), every NaN above +inf.
KZ_ALWAYS_INLINE u32 FloatKey(float f)
{
    u32 b;
    std::memcpy(&b, &f, 4);
    if (f != f)
        return 0xFFFFFFFFu;
    return (b & 0x80000000u) ? ~b : (b | 0x80000000u);
}

KZ_ALWAYS_INLINE float KeyFloat(u32 k)
{
    const u32 b = (k & 0x80000000u) ? (k & 0x7FFFFFFFu) : ~k;
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

KZ_ALWAYS_INLINE void SortPair(u32& a, u32& b)
{
    const u32 lo = a < b ? a : b, hi = a < b ? b : a;
    a = lo;
    b = hi;
}

// Median of 25 keys (element 12 of their ascending order) by a fixed
// exchange network of 99 exchanges.
KZ_ALWAYS_INLINE u32 Median25(u32* p)
{
    SortPair(p[0], p[1]); SortPair(p[3], p[4]); SortPair(p[2], p[4]); SortPair(p[2], p[3]);
    SortPair(p[6], p[7]); SortPair(p[5], p[7]); SortPair(p[5], p[6]); SortPair(p[9], p[10]);
    SortPair(p[8], p[10]); SortPair(p[8], p[9]); SortPair(p[12], p[13]); SortPair(p[11], p[13]);
    SortPair(p[11], p[12]); SortPair(p[15], p[16]); SortPair(p[14], p[16]); SortPair(p[14], p[15]);
    SortPair(p[18], p[19]); SortPair(p[17], p[19]); SortPair(p[17], p[18]); SortPair(p[21], p[22]);
    SortPair(p[20], p[22]); SortPair(p[20], p[21]); SortPair(p[23], p[24]); SortPair(p[2], p[5]);
    SortPair(p[3], p[6]); SortPair(p[0], p[6]); SortPair(p[0], p[3]); SortPair(p[4], p[7]);
    SortPair(p[1], p[7]); SortPair(p[1], p[4]); SortPair(p[11], p[14]); SortPair(p[8], p[14]);
    SortPair(p[8], p[11]); SortPair(p[12], p[15]); SortPair(p[9], p[15]); SortPair(p[9], p[12]);
    SortPair(p[13], p[16]); SortPair(p[10], p[16]); SortPair(p[10], p[13]); SortPair(p[20], p[23]);
    SortPair(p[17], p[23]); SortPair(p[17], p[20]); SortPair(p[21], p[24]); SortPair(p[18], p[24]);
    SortPair(p[18], p[21]); SortPair(p[19], p[22]); SortPair(p[8], p[17]); SortPair(p[9], p[18]);
    SortPair(p[0], p[18]); SortPair(p[0], p[9]); SortPair(p[10], p[19]); SortPair(p[1], p[19]);
    SortPair(p[1], p[10]); SortPair(p[11], p[20]); SortPair(p[2], p[20]); SortPair(p[2], p[11]);
    SortPair(p[12], p[21]); SortPair(p[3], p[21]); SortPair(p[3], p[12]); SortPair(p[13], p[22]);
    SortPair(p[4], p[22]); SortPair(p[4], p[13]); SortPair(p[14], p[23]); SortPair(p[5], p[23]);
    SortPair(p[5], p[14]); SortPair(p[15], p[24]); SortPair(p[6], p[24]); SortPair(p[6], p[15]);
    SortPair(p[7], p[16]); SortPair(p[7], p[19]); SortPair(p[13], p[21]); SortPair(p[15], p[23]);
    SortPair(p[7], p[13]); SortPair(p[7], p[15]); SortPair(p[1], p[9]); SortPair(p[3], p[11]);
    SortPair(p[5], p[17]); SortPair(p[11], p[17]); SortPair(p[9], p[17]); SortPair(p[4], p[10]);
    SortPair(p[6], p[12]); SortPair(p[7], p[14]); SortPair(p[4], p[6]); SortPair(p[4], p[7]);
    SortPair(p[12], p[14]); SortPair(p[10], p[14]); SortPair(p[6], p[7]); SortPair(p[10], p[12]);
    SortPair(p[6], p[10]); SortPair(p[6], p[17]); SortPair(p[12], p[17]); SortPair(p[7], p[17]);
    SortPair(p[7], p[10]); SortPair(p[12], p[18]); SortPair(p[7], p[12]); SortPair(p[10], p[18]);
    SortPair(p[12], p[20]); SortPair(p[10], p[20]); SortPair(p[10], p[12]);
    return p[12];
}

// Interior pixels of one row of a 5 x 5 median over key rows r[0 .. 4].
KZ_ALWAYS_INLINE void Median5Row(float* __restrict out, const u32* __restrict r0, const u32* __restrict r1,
                                 const u32* __restrict r2, const u32* __restrict r3, const u32* __restrict r4,
                                 size_t w)
{
    for (size_t x = 2; x + 2 < w; ++x) {
        u32 p[25];
        for (int c = 0; c < 5; ++c) {
            p[c] = r0[x - 2 + c];
            p[5 + c] = r1[x - 2 + c];
            p[10 + c] = r2[x - 2 + c];
            p[15 + c] = r3[x - 2 + c];
            p[20 + c] = r4[x - 2 + c];
        }
        out[x] = KeyFloat(Median25(p));
    }
}

// Signed keys in the same order as FloatKey: the float's bits with the
// magnitude of negatives flipped (-0 just below +0), every NaN the largest
// key. SignedKeyFloat(SignedKey(f)) is f, NaNs becoming the one quiet NaN
// 0x7FFFFFFF that KeyFloat gives too.
KZ_ALWAYS_INLINE i32 SignedKey(float f)
{
    u32 b;
    std::memcpy(&b, &f, 4);
    const u32 k = b ^ (u32(i32(b) >> 31) >> 1);
    return f != f ? INT32_MAX : i32(k);
}

KZ_ALWAYS_INLINE float SignedKeyFloat(i32 k)
{
    const u32 b = u32(k) ^ (u32(k >> 31) >> 1);
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}

KZ_ALWAYS_INLINE i32 Med3(i32 a, i32 b, i32 c)
{
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// One row of keys of component k (samples c floats apart).
KZ_ALWAYS_INLINE void KeyRow(i32* __restrict out, const float* __restrict s, size_t w, size_t c)
{
    if (c == 1)
        for (size_t x = 0; x < w; ++x)
            out[x] = SignedKey(s[x]);
    else
        for (size_t x = 0; x < w; ++x)
            out[x] = SignedKey(s[x * c]);
}

// Interior outputs 1 .. w - 2 of one row of the 3 x 3 median from key rows
// a, b, c. Each column is sorted once (lo <= mid <= hi) and serves three
// windows; the median of the nine keys is then the median of the largest
// of the three lows, the median of the three mids and the smallest of the
// three highs.
KZ_ALWAYS_INLINE void Median3Keys(i32* __restrict out, const i32* __restrict a, const i32* __restrict b,
                                  const i32* __restrict c, i32* __restrict lo, i32* __restrict mid,
                                  i32* __restrict hi, size_t w)
{
    for (size_t x = 0; x < w; ++x) {
        const i32 p = a[x], q = b[x], r = c[x];
        const i32 pq0 = std::min(p, q), pq1 = std::max(p, q);
        lo[x] = std::min(pq0, r);
        hi[x] = std::max(pq1, r);
        mid[x] = std::max(pq0, std::min(pq1, r));
    }
    for (size_t x = 1; x + 1 < w; ++x) {
        const i32 l = std::max(std::max(lo[x - 1], lo[x]), lo[x + 1]);
        const i32 h = std::min(std::min(hi[x - 1], hi[x]), hi[x + 1]);
        const i32 m = Med3(mid[x - 1], mid[x], mid[x + 1]);
        out[x] = Med3(l, m, h);
    }
}

KZ_ALWAYS_INLINE void FloatRow(float* __restrict d, const i32* __restrict k, size_t from, size_t to, size_t c)
{
    if (c == 1)
        for (size_t x = from; x < to; ++x)
            d[x] = SignedKeyFloat(k[x]);
    else
        for (size_t x = from; x < to; ++x)
            d[x * c] = SignedKeyFloat(k[x]);
}

// Median (element n / 2 of the ascending order) of the keys of rows
// rows[0 .. nr - 1], columns x0 .. x1: the clipped windows at the borders.
i32 SmallMedian(const i32* const* rows, int nr, size_t x0, size_t x1)
{
    i32 v[9];
    int n = 0;
    for (int r = 0; r < nr; ++r)
        for (size_t x = x0; x <= x1; ++x)
            v[n++] = rows[r][x];
    for (int i = 1; i < n; ++i)
        for (int j = i; j > 0 && v[j] < v[j - 1]; --j)
            std::swap(v[j], v[j - 1]);
    return v[n / 2];
}

// The AVX-512 form of Median3Keys plus FloatRow for one-component rows,
// sixteen outputs a step with the sorted columns kept in registers: the
// columns left and right of a step are shifted in from the previous and next
// step's. left and right are the already computed outputs of columns 0 and
// w - 1. Large destinations are written with streaming stores where a step
// fills a whole aligned line.
// GCC 12's AVX-512 intrinsic headers trip -Wuninitialized on their own
// placeholder operands.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Keys from float bits and back: x ^ (sign spread & 0x7FFFFFFF) in one
// ternary-logic step after the arithmetic shift.
KZ_TARGET_AVX512 KZ_ALWAYS_INLINE __m512i FlipNegatives(__m512i v)
{
    return _mm512_ternarylogic_epi32(v, _mm512_srai_epi32(v, 31), _mm512_set1_epi32(0x7FFFFFFF), 0x78);
}

// Keys of floats x .. x + 15 of s (lanes outside the row: 0), stored into c.
KZ_TARGET_AVX512 KZ_ALWAYS_INLINE __m512i KeysAt(const float* s, i32* c, ptrdiff_t x, __mmask16 m)
{
    const __m512 f = _mm512_maskz_loadu_ps(m, s + x);
    __m512i r = FlipNegatives(_mm512_castps_si512(f));
    r = _mm512_mask_mov_epi32(r, _mm512_cmp_ps_mask(f, f, _CMP_UNORD_Q), _mm512_set1_epi32(INT32_MAX));
    _mm512_mask_storeu_epi32(c + x, m, r);
    return r;
}

KZ_TARGET_AVX512 KZ_ALWAYS_INLINE __m512i Med3v(__m512i a, __m512i b, __m512i c)
{
    return _mm512_max_epi32(_mm512_min_epi32(a, b), _mm512_min_epi32(_mm512_max_epi32(a, b), c));
}

// The sorted column (lo <= mid <= hi) of a key a and a sorted pair p <= q.
struct Cols {
    __m512i lo, mid, hi;
};
KZ_TARGET_AVX512 KZ_ALWAYS_INLINE Cols Insert(__m512i a, __m512i p, __m512i q)
{
    return Cols{_mm512_min_epi32(a, p), _mm512_max_epi32(p, _mm512_min_epi32(a, q)), _mm512_max_epi32(a, q)};
}

// The lanes of columns x .. x + 15 inside the row 0 .. w - 1 (x may lie up
// to 15 columns before it).
KZ_TARGET_AVX512 KZ_ALWAYS_INLINE __mmask16 LanesFrom(ptrdiff_t x, ptrdiff_t w)
{
    const unsigned from = x < 0 ? 0xFFFFu << unsigned(-x) : 0xFFFFu;
    const unsigned to = x + 16 <= w ? 0xFFFFu : x < w ? (1u << unsigned(w - x)) - 1 : 0u;
    return __mmask16(from & to);
}

// Outputs x .. x + 15 of one row from the sorted columns of the previous,
// this and the next step, with the border outputs left and right put in;
// stored (streaming where a whole aligned line is written).
KZ_TARGET_AVX512 KZ_ALWAYS_INLINE void Select(float* d, ptrdiff_t x, ptrdiff_t w, const Cols& p, const Cols& t,
                                              const Cols& n, float left, float right, bool stream)
{
    // Lane j: columns x + j - 1 and x + j + 1.
    const __m512i l = _mm512_max_epi32(_mm512_max_epi32(_mm512_alignr_epi32(t.lo, p.lo, 15), t.lo),
                                       _mm512_alignr_epi32(n.lo, t.lo, 1));
    const __m512i h = _mm512_min_epi32(_mm512_min_epi32(_mm512_alignr_epi32(t.hi, p.hi, 15), t.hi),
                                       _mm512_alignr_epi32(n.hi, t.hi, 1));
    const __m512i m = Med3v(_mm512_alignr_epi32(t.mid, p.mid, 15), t.mid, _mm512_alignr_epi32(n.mid, t.mid, 1));
    __m512 f = _mm512_castsi512_ps(FlipNegatives(Med3v(l, m, h)));
    if (x <= 0)
        f = _mm512_mask_mov_ps(f, __mmask16(1u << unsigned(-x)), _mm512_set1_ps(left));
    if (x + 16 >= w)
        f = _mm512_mask_mov_ps(f, __mmask16(1u << unsigned(w - 1 - x)), _mm512_set1_ps(right));
    if (x >= 0 && x + 16 <= w) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(d + x);
        if (stream && (at & 63) == 0) {
            _mm512_stream_ps(d + x, f);
        } else if (stream && (at & 15) == 0) {
            // Heap blocks are 16-byte aligned: four quarter-line streaming
            // stores, which the processor joins into whole lines.
            _mm_stream_ps(d + x, _mm512_castps512_ps128(f));
            _mm_stream_ps(d + x + 4, _mm512_extractf32x4_ps(f, 1));
            _mm_stream_ps(d + x + 8, _mm512_extractf32x4_ps(f, 2));
            _mm_stream_ps(d + x + 12, _mm512_extractf32x4_ps(f, 3));
        } else {
            _mm512_storeu_ps(d + x, f);
        }
    } else {
        _mm512_mask_storeu_ps(d + x, LanesFrom(x, w), f);
    }
}

// Interior rows y and y + 1 of a one-component picture at once: d0, d1 their
// destination rows, a and b the keys of rows y - 1 and y, s1 and s2 the floats
// of rows y + 1 and y + 2 (keyed into c1 and c2 on the way), next and
// nextBelow the floats of rows y + 3 and y + 4 (fetched ahead for the next
// pass) or null; left and right the border outputs.
// The middle rows y and y + 1 are sorted once for both windows. The steps
// start up to 15 columns before the row so that the stores of d0 fill whole
// aligned lines, when early says that 16 samples precede row y in the
// picture (the key rows have 16 keys before them).
KZ_TARGET_AVX512 __attribute__((noinline)) void Median3PairAvx512(float* d0, float* d1, const i32* a, const i32* b,
                                                                  const float* s1, i32* c1, const float* s2, i32* c2,
                                                                  const float* next, const float* nextBelow, size_t w,
                                                                  const float* left, const float* right, bool stream,
                                                                  bool early)
{
    const ptrdiff_t wi = ptrdiff_t(w);
    // The lambda carries the target itself: clang gives lambdas none of their own.
    auto columns = [&](ptrdiff_t x, Cols& u, Cols& v) KZ_TARGET_AVX512 __attribute__((always_inline)) {
        const __mmask16 m = LanesFrom(x, wi);
        const __m512i q1 = KeysAt(s1, c1, x, m), q2 = KeysAt(s2, c2, x, m);
        const __m512i ka = _mm512_maskz_loadu_epi32(m, a + x), kb = _mm512_maskz_loadu_epi32(m, b + x);
        const __m512i p = _mm512_min_epi32(kb, q1), q = _mm512_max_epi32(kb, q1);
        u = Insert(ka, p, q);
        v = Insert(q2, p, q);
    };
    const __m512i z = _mm512_setzero_si512();
    Cols pu{z, z, z}, pv = pu, tu, tv, nu, nv;
    const ptrdiff_t start = early ? -ptrdiff_t((reinterpret_cast<uintptr_t>(d0) >> 2) & 15) : 0;
    columns(start, tu, tv);
    for (ptrdiff_t x = start; x < wi; x += 16) {
        if (next) {
            _mm_prefetch(reinterpret_cast<const char*>(next + x), _MM_HINT_T0);
            if (nextBelow)
                _mm_prefetch(reinterpret_cast<const char*>(nextBelow + x), _MM_HINT_T0);
        }
        columns(x + 16, nu, nv);
        Select(d0, x, wi, pu, tu, nu, left[0], right[0], stream);
        Select(d1, x, wi, pv, tv, nv, left[1], right[1], stream);
        pu = tu, pv = tv, tu = nu, tv = nv;
    }
}

// One interior row y: as the pair, for a last interior row without a partner.
KZ_TARGET_AVX512 __attribute__((noinline)) void Median3RowAvx512(float* d, const i32* a, const i32* b,
                                                                 const float* s, i32* c, size_t w, float left,
                                                                 float right, bool stream, bool early)
{
    const ptrdiff_t wi = ptrdiff_t(w);
    auto columns = [&](ptrdiff_t x, Cols& u) KZ_TARGET_AVX512 __attribute__((always_inline)) {
        const __mmask16 m = LanesFrom(x, wi);
        const __m512i r = KeysAt(s, c, x, m);
        const __m512i ka = _mm512_maskz_loadu_epi32(m, a + x), kb = _mm512_maskz_loadu_epi32(m, b + x);
        u = Insert(ka, _mm512_min_epi32(kb, r), _mm512_max_epi32(kb, r));
    };
    const __m512i z = _mm512_setzero_si512();
    Cols pu{z, z, z}, tu, nu;
    const ptrdiff_t start = early ? -ptrdiff_t((reinterpret_cast<uintptr_t>(d) >> 2) & 15) : 0;
    columns(start, tu);
    for (ptrdiff_t x = start; x < wi; x += 16) {
        columns(x + 16, nu);
        Select(d, x, wi, pu, tu, nu, left, right, stream);
        pu = tu, tu = nu;
    }
}

#pragma GCC diagnostic pop

KZ_ALWAYS_INLINE void Sort3Keys(i32& a, i32& b, i32& c)
{
    const i32 lo = std::min(a, b), hi = std::max(a, b);
    a = std::min(lo, c);
    const i32 m = std::max(lo, std::min(hi, c));
    c = std::max(hi, c);
    b = m;
}

// Element 3 (of 0 .. 5) of the ascending order of two triples: with each
// triple sorted, the fourth smallest of the six is the smallest of
// max(a0, b2), max(a1, b1) and max(a2, b0).
KZ_ALWAYS_INLINE i32 Upper6(i32 a0, i32 a1, i32 a2, i32 b0, i32 b1, i32 b2)
{
    Sort3Keys(a0, a1, a2);
    Sort3Keys(b0, b1, b2);
    return std::min(std::min(std::max(a0, b2), std::max(a1, b1)), std::max(a2, b0));
}

// The top or bottom row of the 3 x 3 median from key rows r0, r1 (the row
// and its one neighbour): windows of 2 x 3 samples, 2 x 2 in the corners.
KZ_ALWAYS_INLINE void Median3EdgeRow(float* __restrict d, const i32* __restrict r0, const i32* __restrict r1,
                                     size_t w, size_t c)
{
    const i32* rows[2] = {r0, r1};
    d[0] = SignedKeyFloat(SmallMedian(rows, 2, 0, 1));
    for (size_t x = 1; x + 1 < w; ++x)
        d[x * c] = SignedKeyFloat(Upper6(r0[x - 1], r0[x], r0[x + 1], r1[x - 1], r1[x], r1[x + 1]));
    d[(w - 1) * c] = SignedKeyFloat(SmallMedian(rows, 2, w - 2, w - 1));
}

// Outputs of columns 0 and w - 1 of interior row y (windows of 3 x 2).
KZ_ALWAYS_INLINE void Median3Sides(const i32* a, const i32* b, const i32* c, size_t w, float& left, float& right)
{
    left = SignedKeyFloat(Upper6(a[0], b[0], c[0], a[1], b[1], c[1]));
    right = SignedKeyFloat(Upper6(a[w - 2], b[w - 2], c[w - 2], a[w - 1], b[w - 1], c[w - 1]));
}

// The AVX-512 3 x 3 median of a one-component picture: a ring of four key
// rows, two output rows a pass. Row y + 2 is keyed before rows y and y + 1
// are written, so the destination may be the source.
void Median3x3Avx512(float* dp, const float* sp, size_t w, size_t h, i32* buf)
{
    const bool stream = u64(w) * h * 4 >= kStreamBytes;
    // 16 keys before the first row: the vector rows may start before it.
    i32* ring[4] = {buf + 16, buf + 16 + w, buf + 16 + 2 * w, buf + 16 + 3 * w};
    auto key = [&](size_t y) { return ring[y % 4]; };
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        KeyRow(key(0), sp, w, 1);
        KeyRow(key(1), sp + w, w, 1);
        Median3EdgeRow(dp, key(0), key(1), w, 1);
    });
    size_t y = 1;
    for (; y + 2 < h; y += 2) {
        // Rows y and y + 1 are interior; rows y + 1 and y + 2 get keyed.
        const float *s1 = sp + (y + 1) * w, *s2 = s1 + w;
        for (size_t x : {size_t(0), size_t(1), w - 2, w - 1}) {
            key(y + 1)[x] = SignedKey(s1[x]);
            key(y + 2)[x] = SignedKey(s2[x]);
        }
        float left[2], right[2];
        Median3Sides(key(y - 1), key(y), key(y + 1), w, left[0], right[0]);
        Median3Sides(key(y), key(y + 1), key(y + 2), w, left[1], right[1]);
        Median3PairAvx512(dp + y * w, dp + (y + 1) * w, key(y - 1), key(y), s1, key(y + 1), s2, key(y + 2),
                          y + 3 < h ? s2 + w : nullptr, y + 4 < h ? s2 + 2 * w : nullptr, w, left, right, stream,
                          y * w >= 16);
    }
    if (y + 1 < h) {
        const float* s1 = sp + (y + 1) * w;
        for (size_t x : {size_t(0), size_t(1), w - 2, w - 1})
            key(y + 1)[x] = SignedKey(s1[x]);
        float left, right;
        Median3Sides(key(y - 1), key(y), key(y + 1), w, left, right);
        Median3RowAvx512(dp + y * w, key(y - 1), key(y), s1, key(y + 1), w, left, right, stream, y * w >= 16);
        ++y;
    }
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA { Median3EdgeRow(dp + (h - 1) * w, key(h - 1), key(h - 2), w, 1); });
    if (stream)
        _mm_sfence();
}

// The 3 x 3 median of one component, three rows of keys at a time: row y + 1
// is keyed before row y is written, so the destination may be the source.
kz_result Median3x3(SKzFloatPicBuf* dst, SKzFloatPicBuf* src)
{
    const size_t w = src->uiWidth, h = src->uiHeight, c = src->uiComp;
    Scratch<i32> buf(7 * w + 16);
    if (!buf)
        return KZ_ERR_OUT_OF_MEMORY;
    if (c == 1 && KzCpuIsa() == KzIsa::Avx512) {
        Median3x3Avx512(dst->pData, src->pData, w, h, buf.p);
        return KZ_OK;
    }
    i32* ring[3] = {buf.p, buf.p + w, buf.p + 2 * w};
    i32 *lo = buf.p + 3 * w, *mid = buf.p + 4 * w, *hi = buf.p + 5 * w, *out = buf.p + 6 * w;
    for (size_t k = 0; k < c; ++k) {
        const float* sp = src->pData + k;
        float* dp = dst->pData + k;
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            KeyRow(ring[0], sp, w, c);
            KeyRow(ring[1], sp + w * c, w, c);
            Median3EdgeRow(dp, ring[0], ring[1], w, c);
            for (size_t y = 1; y + 1 < h; ++y) {
                const i32* above = ring[(y + 2) % 3];
                const i32* row = ring[y % 3];
                i32* below = ring[(y + 1) % 3];
                KeyRow(below, sp + (y + 1) * w * c, w, c);
                float* d = dp + y * w * c;
                float left, right;
                Median3Sides(above, row, below, w, left, right);
                Median3Keys(out, above, row, below, lo, mid, hi, w);
                FloatRow(d, out, 1, w - 1, c);
                d[0] = left;
                d[(w - 1) * c] = right;
            }
            Median3EdgeRow(dp + (h - 1) * w * c, ring[(h - 1) % 3], ring[(h - 2) % 3], w, c);
        });
    }
    return KZ_OK;
}

} // namespace

kz_result CKzFloatPicBufAPI::MedianFilter(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, unsigned size)
{
    if (!Check(dst, src, eCheckSizeBpcComp) || !Packed(dst) || !Packed(src))
        return KZ_ERR_FAILED;
    if (size == 0)
        return KZ_ERR_INVALID_ARG;
    const unsigned w = src->uiWidth, h = src->uiHeight;
    const size_t c = src->uiComp;
    if (!HasSamples(src))
        return KZ_OK;
    if (size == 3 && w >= 3 && h >= 3)
        return Median3x3(dst, src);
    const Reach rx = ClipReach(size, w), ry = ClipReach(size, h);
    // The selection works on keys of one component; the destination is
    // written from them, so it may share the source's block.
    Scratch<u32> win(size_t(rx.back + rx.fwd + 1) * size_t(ry.back + ry.fwd + 1)), keys(size_t(w) * h);
    Scratch<float> row(w);
    if (!win || !keys || !row)
        return KZ_ERR_OUT_OF_MEMORY;
    const bool net5 = size == 5 && w >= 5 && h >= 5;
    for (size_t k = 0; k < c; ++k) {
        for (size_t i = 0; i < size_t(w) * h; ++i)
            keys.p[i] = FloatKey(src->pData[i * c + k]);
        for (int y = 0; y < int(h); ++y) {
            const int y0 = std::max(0, y - ry.back), y1 = std::min(int(h) - 1, y + ry.fwd);
            // Full 5 x 5 windows by an exchange network over whole rows; the
            // other pixels by selection.
            const int edge = net5 ? 2 : 0;
            const bool inner = edge > 0 && y >= edge && y + edge < int(h);
            if (inner) {
                const u32* kp = keys.p;
                float* rp = row.p;
                const size_t ww = w, yy = size_t(y);
                KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
                    Median5Row(rp, kp + (yy - 2) * ww, kp + (yy - 1) * ww, kp + yy * ww, kp + (yy + 1) * ww,
                               kp + (yy + 2) * ww, ww);
                });
            }
            for (int x = 0; x < int(w); ++x) {
                if (inner && x >= edge && x + edge < int(w))
                    continue;
                const int x0 = std::max(0, x - rx.back), x1 = std::min(int(w) - 1, x + rx.fwd);
                size_t cnt = 0;
                for (int m = y0; m <= y1; ++m) {
                    const u32* kr = keys.p + size_t(m) * w;
                    for (int j = x0; j <= x1; ++j)
                        win.p[cnt++] = kr[j];
                }
                std::nth_element(win.p, win.p + cnt / 2, win.p + cnt);
                row.p[x] = KeyFloat(win.p[cnt / 2]);
            }
            float* d = dst->pData + size_t(y) * w * c + k;
            for (size_t x = 0; x < w; ++x)
                d[x * c] = row.p[x];
        }
    }
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::CutBy(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float* limits)
{
    if (!Check(dst, src, eCheckSizeBpcComp) || !Packed(dst) || !Packed(src) || !limits)
        return KZ_ERR_FAILED;
    const size_t c = src->uiComp, n = size_t(src->uiWidth) * src->uiHeight;
    for (size_t i = 0; i < n; ++i)
        for (size_t k = 0; k < c; ++k) {
            const float v = src->pData[i * c + k];
            dst->pData[i * c + k] = v < limits[k] ? v : limits[k];
        }
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::CutByLow(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float* limits)
{
    if (!Check(dst, src, eCheckSizeBpcComp) || !Packed(dst) || !Packed(src) || !limits)
        return KZ_ERR_FAILED;
    const size_t c = src->uiComp, n = size_t(src->uiWidth) * src->uiHeight;
    for (size_t i = 0; i < n; ++i)
        for (size_t k = 0; k < c; ++k) {
            const float v = src->pData[i * c + k];
            dst->pData[i * c + k] = v > limits[k] ? v : limits[k];
        }
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Statistics
// ---------------------------------------------------------------------------

kz_result CKzFloatPicBufAPI::GetStat(SKzImageStat* stat, SKzFloatPicBuf* src)
{
    if (!stat || !src)
        return KZ_ERR_FAILED;
    const i64 l = stat->iLeft, t = stat->iTop, r = stat->iRight, b = stat->iBottom;
    if (l < 0 || t < 0 || r <= l || b <= t || r > i64(src->uiWidth) || b > i64(src->uiHeight))
        return KZ_ERR_INVALID_ARG;
    if (!stat->pfMin || !stat->pfMax || !stat->pfMean || !stat->pfDeviation || !stat->pfMedian)
        return KZ_ERR_FAILED;
    const unsigned w = unsigned(r - l), h = unsigned(b - t);
    TempPic tmp;
    tmp.p.uiBpc = 32;
    if (CKzFloatPicBufAPI::Reinit(&tmp.p, w, h, 0, src->uiComp, true) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    kz_result res = CopyRect(0, 0, w, h, &tmp.p, unsigned(l), unsigned(t), src);
    if (res != KZ_OK)
        return res;
    const unsigned c = src->uiComp;
    CKzFloatPicMemAPI::MinComp(stat->pfMin, tmp.p.pData, w, h, c);
    CKzFloatPicMemAPI::MaxComp(stat->pfMax, tmp.p.pData, w, h, c);
    CKzFloatPicMemAPI::MeanComp(stat->pfMean, tmp.p.pData, w, h, c);
    if (CKzFloatPicMemAPI::MedianComp(stat->pfMedian, tmp.p.pData, w, h, c) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    CKzFloatPicMemAPI::DeviationComp(stat->pfDeviation, stat->pfMean, tmp.p.pData, w, h, c);
    return res;
}

// ---------------------------------------------------------------------------
// Local contrast
// ---------------------------------------------------------------------------

namespace {

// Running extremes of a line of L samples with a window of `size` samples:
// out positions 0 .. first - 1 take the window 0 .. size - 1, position
// first + j (while j + 1 < L - size) the window j + 1 .. j + size, later
// positions keep the last window's values. Windows are clipped to the line.
void RunningExtremes(const float* line, int L, int size, int first, float* outMin, float* outMax)
{
    if (L <= 0)
        return;
    const int w0 = std::min(size, L);
    float mm[2];
    FillAllMem1x8MinMax(0, std::max(w0, 1), const_cast<float*>(line), mm);
    float lo = mm[0], hi = mm[1];
    int p = 0;
    for (; p < std::min(first, L); ++p) {
        outMin[p] = lo;
        outMax[p] = hi;
    }
    for (int j = 0; j + 1 < L - size && p < L; ++j, ++p) {
        const float leaving = line[j], entering = line[j + size];
        if (leaving == lo) {
            float t[2];
            FillAllMem1x8Min(j + 1, j + size, const_cast<float*>(line), t);
            lo = t[0];
        }
        if (leaving == hi) {
            float t[2];
            FillAllMem1x8Max(j + 1, j + size, const_cast<float*>(line), t);
            hi = t[1];
        }
        lo = entering < lo ? entering : lo;
        hi = entering > hi ? entering : hi;
        outMin[p] = lo;
        outMax[p] = hi;
    }
    for (; p < L; ++p) {
        outMin[p] = lo;
        outMax[p] = hi;
    }
}

kz_result LocalContrastComponents(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int size, double factor, bool smooth)
{
    if (src->uiComp == 1)
        return LocalContrast_float(dst, src, size, factor, smooth);
    TempPic a, b;
    const unsigned w = src->uiWidth, h = src->uiHeight;
    if (CKzFloatPicBufAPI::Reinit(&a.p, w, h, 0, 1, false) != KZ_OK ||
        CKzFloatPicBufAPI::Reinit(&b.p, w, h, 0, 1, false) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    const u64 count = u64(w) * h;
    for (unsigned k = 0; k < src->uiComp; ++k) {
        CKzFloatPicMemAPI::ExtractComponent(a.p.pData, a.p.uiWidthBytes, src->pData, src->uiComp, src->uiWidthBytes,
                                            k, w, count);
        kz_result r = LocalContrast_float(&b.p, &a.p, size, factor, smooth);
        if (r != KZ_OK)
            return r;
        CKzFloatPicMemAPI::CopyComponent(dst->pData, dst->uiComp, dst->uiWidthBytes, k, b.p.pData, 1,
                                         b.p.uiWidthBytes, 0, w, count);
    }
    return KZ_OK;
}

// The size rule of the local contrast: at least 2, even, below the smaller
// side of the picture.
int LimitSize(int size, const SKzFloatPicBuf* src)
{
    size = std::max(size, 2);
    size &= ~1;
    const int lim = int(std::min(src->uiWidth, src->uiHeight)) - 1;
    return std::min(size, lim);
}

} // namespace

kz_result LocalContrast_float(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int size, double factor, bool smooth)
{
    if (!dst || !src || src->uiComp != 1 || dst->uiComp != 1 || dst->uiWidth != src->uiWidth ||
        dst->uiHeight != src->uiHeight || !Packed(dst) || !Packed(src))
        return KZ_ERR_FAILED;
    const int w = int(src->uiWidth), h = int(src->uiHeight);
    if (w == 0 || h == 0)
        return KZ_OK;
    TempPic keep;
    if (dst->pData == src->pData) {
        // In place: the output reads the source after the base overwrote it.
        if (CKzFloatPicBufAPI::ReinitAndCopy(&keep.p, src) != KZ_OK)
            return KZ_ERR_OUT_OF_MEMORY;
        src = &keep.p;
    }
    size = std::max(size, 1);
    kz_result r = smooth && size >= 2 ? CKzFloatPicBufAPI::SmoothSquare(dst, src, size)
                                      : CKzFloatPicBufAPI::Copy(dst, src);
    if (r != KZ_OK)
        return r;
    const size_t n = size_t(w) * h;
    const int half = size / 2;
    Scratch<float> pmin(n), pmax(n), line(size_t(std::max(w, h))), omin(size_t(std::max(w, h))),
        omax(size_t(std::max(w, h)));
    if (!pmin || !pmax || !line || !omin || !omax)
        return KZ_ERR_OUT_OF_MEMORY;
    const float* base = dst->pData;
    // Columns on the grid of every fourth column.
    for (int c0 = 0; c0 < w; c0 += 4) {
        for (int y = 0; y < h; ++y)
            line.p[y] = base[size_t(y) * w + c0];
        RunningExtremes(line.p, h, size, half + 1, omin.p, omax.p);
        for (int y = 0; y < h; ++y) {
            pmin.p[size_t(y) * w + c0] = omin.p[y];
            pmax.p[size_t(y) * w + c0] = omax.p[y];
        }
    }
    const int lastCol = ((w - 1) / 4) * 4;
    for (int y = 0; y < h; ++y) {
        float* mn = pmin.p + size_t(y) * w;
        float* mx = pmax.p + size_t(y) * w;
        for (int c0 = 0; c0 < lastCol; c0 += 4)
            for (int k = 1; k < 4; ++k) {
                const float f = 0.25f * float(k);
                mn[c0 + k] = mn[c0] + f * (mn[c0 + 4] - mn[c0]);
                mx[c0 + k] = mx[c0] + f * (mx[c0 + 4] - mx[c0]);
            }
        for (int x = lastCol + 1; x < w; ++x) {
            mn[x] = mn[lastCol];
            mx[x] = mx[lastCol];
        }
    }
    // Rows on the grid of every fourth row, in place on the planes.
    for (int r0 = 0; r0 < h; r0 += 4) {
        float* mn = pmin.p + size_t(r0) * w;
        float* mx = pmax.p + size_t(r0) * w;
        std::memcpy(line.p, mn, size_t(w) * sizeof(float));
        RunningExtremes(line.p, w, size, half, omin.p, omax.p);
        std::memcpy(mn, omin.p, size_t(w) * sizeof(float));
        std::memcpy(line.p, mx, size_t(w) * sizeof(float));
        RunningExtremes(line.p, w, size, half, omin.p, omax.p);
        std::memcpy(mx, omax.p, size_t(w) * sizeof(float));
    }
    const int lastRow = ((h - 1) / 4) * 4;
    for (int r0 = 0; r0 < lastRow; r0 += 4)
        for (int k = 1; k < 4; ++k)
            for (int x = 0; x < w; ++x) {
                const size_t a = size_t(r0) * w + x, b = size_t(r0 + 4) * w + x, d = size_t(r0 + k) * w + x;
                pmin.p[d] = (float(4 - k) * pmin.p[a] + float(k) * pmin.p[b]) * 0.25f;
                pmax.p[d] = (float(4 - k) * pmax.p[a] + float(k) * pmax.p[b]) * 0.25f;
            }
    for (int y = lastRow + 1; y < h; ++y) {
        std::memcpy(pmin.p + size_t(y) * w, pmin.p + size_t(lastRow) * w, size_t(w) * sizeof(float));
        std::memcpy(pmax.p + size_t(y) * w, pmax.p + size_t(lastRow) * w, size_t(w) * sizeof(float));
    }
    // The stretch around the envelope midpoint, from the source itself.
    const float* s = src->pData;
    float* d = dst->pData;
    for (size_t i = 0; i < n; ++i) {
        const float m = (pmin.p[i] + pmax.p[i]) * 0.5f;
        d[i] = m + float(double(s[i] - m) * factor);
    }
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::LocalContrast_Tailed(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int& size,
                                                  double factor, bool smooth)
{
    if (!Check(dst, src, eCheckSizeComp) || !Packed(dst) || !Packed(src))
        return KZ_ERR_FAILED;
    if (!HasSamples(src))
        return KZ_OK;
    size = LimitSize(size, src);
    return LocalContrastComponents(dst, src, size, factor, smooth);
}

kz_result CKzFloatPicBufAPI::LocalContrast(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, int& size, double factor,
                                           bool smooth)
{
    if (!Check(dst, src, eCheckSizeComp) || !Packed(dst) || !Packed(src))
        return KZ_ERR_FAILED;
    if (!HasSamples(src))
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
            if (Reinit(&a.p, ew, eh, 0, src->uiComp, false) != KZ_OK ||
                Reinit(&b.p, ew, eh, 0, src->uiComp, false) != KZ_OK)
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

// ---------------------------------------------------------------------------
// Border fade
// ---------------------------------------------------------------------------

void ExpandAndSmoothToBordersAPI(SKzFloatPicBuf* pic, unsigned n)
{
    if (!Packed(pic) || n == 0 || n >= pic->uiWidth || n >= pic->uiHeight)
        return;
    const size_t w = pic->uiWidth, h = pic->uiHeight, c = pic->uiComp;
    const double x = 1.0 / double(n);
    float* p = pic->pData;
    auto at = [&](size_t col, size_t row, size_t k) -> float& { return p[(row * w + col) * c + k]; };
    if (n < h - n) {
        for (size_t r = n; r < h - n; ++r)
            for (size_t k = 0; k < c; ++k) {
                const double l = at(n, r, k), rt = at(w - 1 - n, r, k);
                for (size_t i = 0; i <= n; ++i) {
                    at(n - i, r, k) = float(l * (double(n - i) * x));
                    at(w - 1 - n + i, r, k) = float(rt * (double(n - i) * x));
                }
            }
    }
    for (size_t col = 0; col < w; ++col)
        for (size_t k = 0; k < c; ++k) {
            const double t = at(col, n, k), b = at(col, h - 1 - n, k);
            for (size_t i = 0; i <= n; ++i) {
                at(col, n - i, k) = float(t * (double(n - i) * x));
                at(col, h - 1 - n + i, k) = float(b * (double(n - i) * x));
            }
        }
}
