// Shared machinery of the filtered stretch passes: tap lists and the row
// loops of the horizontal and vertical passes. Included by the rectangle and
// the display kernels only.
#pragma once

#include "gnr_picture/KzKernelCommon.h"
#include "gnr_system/kz_base.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace kzfilt {

// The lowest finite float marks a missing sample in validity pictures.
constexpr float kInvalid = -3.4028235e38f;

// Candidate bounds beyond this magnitude cannot be enumerated exactly.
constexpr double kReach = 4503599627370496.0;  // 2^52
// Cap on the taps of one call (every candidate counted), 32 GiB of taps.
constexpr uint64_t kMaxTaps = uint64_t(1) << 31;

// Tap lists of one call: list j holds entries start[j] .. start[j + 1] - 1 of
// off (sample offsets) and wt (weights). An empty list (windowed pass only)
// asks for the background pixel.
struct Taps {
    std::unique_ptr<ptrdiff_t[]> off;
    std::unique_ptr<uint32_t[]> wt;
    std::unique_ptr<size_t[]> start;
};

// One axis of a pass. Candidate k is position o + k of the source, clamped
// into 0 .. S - 1; the tap's offset is (clamped position - o) x step.
struct Axis {
    size_t n;              // destination columns or rows
    double s;              // scale, source / destination
    double W;              // widened support
    double (*f)(double);   // filter function
    int64_t o, S;
    ptrdiff_t step;
    uint32_t scale;        // weight scale: 1024 or 65536
    bool round;            // weights rounded (else truncated)
    bool windowed = false; // candidates outside winL .. winR - 1 give no tap
    int64_t winL = 0, winR = 0;
};

inline ptrdiff_t ClampedOffset(const Axis& ax, int64_t k)
{
    int64_t a = ax.o + k;
    if (a < 0)
        a = 0;
    else if (a >= ax.S)
        a = ax.S - 1;
    return ptrdiff_t(a - ax.o) * ax.step;
}

// Builds the lists: centre(j) is the sampling centre of destination index j,
// fallback(j) the position whose truncation holds the single tap used when
// no candidate (or only zero weights) came out. Returns 0, -4 for centres
// too far out to enumerate, -3 when the lists cannot be had.
template <class Centre, class Fallback>
int BuildTaps(Taps& t, const Axis& ax, Centre&& centre, Fallback&& fallback)
{
    const double half = ax.W / 2.0;
    uint64_t room = 0;
    for (size_t j = 0; j < ax.n; ++j) {
        const double c = centre(j);
        const double lo = std::floor(c - half - 2.0), hi = std::ceil(c + half + 2.0);
        if (!(lo > -kReach && hi < kReach))
            return KZ_ERR_INVALID_ARG;
        if (hi >= lo)
            room += uint64_t(hi - lo) + 1;
        if (room > kMaxTaps)
            return KZ_ERR_OUT_OF_MEMORY;
    }
    room += 1;  // every list may fall back to one tap
    t.off.reset(new (std::nothrow) ptrdiff_t[room + ax.n]);
    t.wt.reset(new (std::nothrow) uint32_t[room + ax.n]);
    t.start.reset(new (std::nothrow) size_t[ax.n + 1]);
    if (!t.off || !t.wt || !t.start)
        return KZ_ERR_OUT_OF_MEMORY;
    ptrdiff_t* off = t.off.get();
    uint32_t* wt = t.wt.get();
    const double inv = 1.0 / ax.s;
    const bool widen = ax.s > 1.0;
    size_t pos = 0;
    for (size_t j = 0; j < ax.n; ++j) {
        t.start[j] = pos;
        const double c = centre(j);
        const int64_t lo = int64_t(std::floor(c - half - 2.0)), hi = int64_t(std::ceil(c + half + 2.0));
        uint64_t total = 0;
        for (int64_t k = lo; k <= hi; ++k) {
            if (ax.windowed && (k < ax.winL || k >= ax.winR))
                continue;
            const double v = widen ? ax.f((double(k) - c) * inv) * inv : ax.f(double(k) - c);
            if (!(v > 0.0))  // zero, negative and NaN give no tap
                continue;
            double x = v * double(ax.scale);
            if (ax.round)
                x += 0.5;
            const uint32_t w = x >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(x);
            off[pos] = ClampedOffset(ax, k);
            wt[pos] = w;
            total += w;
            ++pos;
        }
        const size_t first = t.start[j];
        if (pos == first || total == 0) {
            pos = first;
            const double p = std::trunc(fallback(j));
            if (!(p > -kReach && p < kReach))
                return KZ_ERR_INVALID_ARG;
            const int64_t k = int64_t(p);
            if (ax.windowed && (k < ax.winL || k >= ax.winR))
                continue;  // background
            off[pos] = ClampedOffset(ax, k);
            wt[pos] = ax.scale;
            ++pos;
            continue;
        }
        uint64_t sum = 0;
        for (size_t i = first; i < pos; ++i) {
            wt[i] = uint32_t(uint64_t(wt[i]) * ax.scale / total);
            sum += wt[i];
        }
        wt[first + (pos - first) / 2] += uint32_t(ax.scale - sum);
    }
    t.start[ax.n] = pos;
    return KZ_OK;
}

// How a destination sample comes out of its accumulator.
enum class Out { Int10, Float16, Float10 };

template <class T, Out O>
struct Arith;
template <class T>
struct Arith<T, Out::Int10> {
    using Acc = uint32_t;
    static KZ_ALWAYS_INLINE Acc W(uint32_t w) { return w; }
    static KZ_ALWAYS_INLINE T Fin(Acc a) { return T(a >> 10); }
};
template <class T>
struct Arith<T, Out::Float16> {
    using Acc = float;
    static KZ_ALWAYS_INLINE Acc W(uint32_t w) { return float(w); }
    static KZ_ALWAYS_INLINE T Fin(Acc a) { return a * 1.52587890625e-05f; }
};
template <class T>
struct Arith<T, Out::Float10> {
    using Acc = float;
    static KZ_ALWAYS_INLINE Acc W(uint32_t w) { return float(w); }
    static KZ_ALWAYS_INLINE T Fin(Acc a) { return a * 0.0009765625f; }
};

template <class T>
inline T* RowAt(T* base, size_t stride, size_t r)
{
    return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(base) + r * stride);
}
template <class T>
inline const T* RowAt(const T* base, size_t stride, size_t r)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const unsigned char*>(base) + r * stride);
}

// One destination row of a horizontal pass: C samples per destination pixel
// (comps for C = 0), source pixels comps samples apart. Empty lists take the
// background pixel bg.
template <class T, int C, Out O>
void HorzRow(T* d, const T* s, size_t dstW, unsigned comps, const Taps& t, const T* bg)
{
    using A = Arith<T, O>;
    using Acc = typename A::Acc;
    const size_t cc = C ? size_t(C) : comps;
    const ptrdiff_t* off = t.off.get();
    const uint32_t* wt = t.wt.get();
    const size_t* st = t.start.get();
    for (size_t j = 0; j < dstW; ++j) {
        T* dp = d + j * cc;
        const size_t b = st[j], e = st[j + 1];
        if (b == e) {
            if (bg)
                std::memcpy(dp, bg, cc * sizeof(T));
            else
                std::memset(dp, 0, cc * sizeof(T));
            continue;
        }
        if constexpr (C == 1) {
            Acc a = 0;
            for (size_t i = b; i < e; ++i)
                a += Acc(s[off[i]]) * A::W(wt[i]);
            dp[0] = A::Fin(a);
        } else if constexpr (C == 3) {
            Acc a0 = 0, a1 = 0, a2 = 0;
            for (size_t i = b; i < e; ++i) {
                const T* p = s + off[i];
                const Acc w = A::W(wt[i]);
                a0 += Acc(p[0]) * w;
                a1 += Acc(p[1]) * w;
                a2 += Acc(p[2]) * w;
            }
            dp[0] = A::Fin(a0);
            dp[1] = A::Fin(a1);
            dp[2] = A::Fin(a2);
        } else {
            for (size_t k = 0; k < cc; ++k) {
                Acc a = 0;
                for (size_t i = b; i < e; ++i)
                    a += Acc(s[off[i] + ptrdiff_t(k)]) * A::W(wt[i]);
                dp[k] = A::Fin(a);
            }
        }
    }
}

// Validity form of HorzRow (one sample per pixel): valid samples only,
// divided by the weights used.
inline void HorzRowValidity(float* d, const float* s, size_t dstW, const Taps& t)
{
    const ptrdiff_t* off = t.off.get();
    const uint32_t* wt = t.wt.get();
    const size_t* st = t.start.get();
    for (size_t j = 0; j < dstW; ++j) {
        float sum = 0.0f;
        uint64_t used = 0;
        for (size_t i = st[j]; i < st[j + 1]; ++i) {
            const float x = s[off[i]];
            if (x > kInvalid) {
                used += wt[i];
                sum += float(wt[i]) * x;
            }
        }
        d[j] = used ? sum / float(used) : kInvalid;
    }
}

// A vertical pass, computed row by row (each destination sample still sums
// its taps in list order): destination row i from the source rows its list
// names. Pixel x is at x x comps samples in both pictures; C samples of it
// are written (comps for C = 0). acc holds dstW x comps accumulators.
template <class T, int C, Out O>
KZ_ALWAYS_INLINE void VertRows(T* dst, size_t dstStride, size_t dstW, size_t dstH, unsigned comps, const T* src,
                               const Taps& t, typename Arith<T, O>::Acc* acc)
{
    using A = Arith<T, O>;
    using Acc = typename A::Acc;
    const bool dense = C == 0 || unsigned(C) == comps;
    const size_t n = dstW * comps;
    for (size_t i = 0; i < dstH; ++i) {
        for (size_t x = 0; x < n; ++x)
            acc[x] = 0;
        for (size_t k = t.start[i]; k < t.start[i + 1]; ++k) {
            const T* sp = src + t.off[k];
            const Acc w = A::W(t.wt[k]);
            if (dense) {
                for (size_t x = 0; x < n; ++x)
                    acc[x] += Acc(sp[x]) * w;
            } else {
                for (size_t x = 0; x < dstW; ++x)
                    for (int c = 0; c < C; ++c)
                        acc[x * comps + size_t(c)] += Acc(sp[x * comps + size_t(c)]) * w;
            }
        }
        T* d = RowAt(dst, dstStride, i);
        if (dense) {
            for (size_t x = 0; x < n; ++x)
                d[x] = A::Fin(acc[x]);
        } else {
            for (size_t x = 0; x < dstW; ++x)
                for (int c = 0; c < C; ++c)
                    d[x * comps + size_t(c)] = A::Fin(acc[x * comps + size_t(c)]);
        }
    }
}

// Validity vertical pass on one-sample pixels comps samples apart.
inline void VertRowsValidity(float* dst, size_t dstStride, size_t dstW, size_t dstH, unsigned comps,
                             const float* src, const Taps& t, float* sum, uint64_t* used)
{
    for (size_t i = 0; i < dstH; ++i) {
        for (size_t x = 0; x < dstW; ++x) {
            sum[x] = 0.0f;
            used[x] = 0;
        }
        for (size_t k = t.start[i]; k < t.start[i + 1]; ++k) {
            const float* sp = src + t.off[k];
            const uint32_t w = t.wt[k];
            const float fw = float(w);
            for (size_t x = 0; x < dstW; ++x) {
                const float v = sp[x * comps];
                if (v > kInvalid) {
                    used[x] += w;
                    sum[x] += fw * v;
                }
            }
        }
        float* d = RowAt(dst, dstStride, i);
        for (size_t x = 0; x < dstW; ++x)
            d[x * comps] = used[x] ? sum[x] / float(used[x]) : kInvalid;
    }
}

} // namespace kzfilt
