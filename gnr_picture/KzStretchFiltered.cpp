#pragma GCC optimize("O3", "fp-contract=off")
// Filtered two-pass stretch: filter functions, the horizontal and vertical
// passes for integer, float and validity pictures, and their composition.
//
// Float accumulators add sample x weight in tap order without fused
// multiply-adds, so results are reproducible bit for bit; the vertical pass
// runs row by row over an accumulator row, which keeps that order per sample
// while reading whole rows.
#include "gnr_picture/KzStretch.h"
#include "gnr_picture/internal/KzStretchFilterCore.h"
#include "gnr_picture/internal/KzStretchTwoPass.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
// GCC 12 takes the undefined first operand inside some 512-bit intrinsics
// (_mm512_undefined_epi32) for an uninitialised read.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

using namespace kzfilt;

double triangle(double x)
{
    const double a = std::fabs(x);
    return a < 1.0 ? 1.0 - a : 0.0;  // NaN fails the test
}

double bell(double x)
{
    const double a = std::fabs(x);
    if (a < 0.5)
        return 0.75 - x * x;
    if (a < 1.5) {
        const double t = a - 1.5;
        return 0.5 * (t * t);
    }
    return 0.0;
}

double trianglefloat(double x) { return triangle(x); }
double bellfloat(double x) { return bell(x); }

namespace {

bool CompsValid(int C, unsigned comps) { return comps != 0 && !(C == 3 && comps < 3); }

// Tap lists of a rectangle pass along one axis: n destination indexes from
// m rectangle pixels starting at o in a source of S pixels.
int RectTaps(Taps& t, size_t n, unsigned m, unsigned o, size_t S, ptrdiff_t step, double (*f)(double), unsigned D,
             uint32_t scale, bool round)
{
    Axis ax{};
    ax.n = n;
    ax.s = double(m) / double(n);
    ax.W = m > n ? std::ceil(double(D) * ax.s) : double(D);
    ax.f = f;
    ax.o = o;
    ax.S = int64_t(S);
    ax.step = step;
    ax.scale = scale;
    ax.round = round;
    const double s = ax.s;
    return BuildTaps(
        t, ax, [s](size_t j) { return (double(j) + 0.5) * s - 0.5; }, [s](size_t j) { return (double(j) + 0.5) * s; });
}

// ---------------------------------------------------------------------------
// 8-bit passes with 512-bit vectors. The integer result (the sum of sample x
// weight, shifted right by 10) does not depend on the order of the sums, so
// these give exactly what the row loops above give.
//
// When every weight of a list is a multiple of 2^s, the sum is
// (sum of sample x (weight >> s)) << s, and shifting it right by 10 is
// shifting the smaller sum right by 10 - s. With s >= 2 that smaller sum fits
// 16 bits (the weights add up to 1024), and with every reduced weight below
// 128 and every pair of them at most 128, pairs of taps are one
// multiply-add of bytes (each pair's sum at most 255 x 128, no saturation):
// "byte mode". Other lists take pairs of taps as one multiply-add of 16-bit
// samples into 32-bit sums ("word mode").
// ---------------------------------------------------------------------------

struct alignas(64) Vec64 {
    uint8_t b[64];
};

// Byte mode for the taps wt[b..e) (padded to pairs with zero weights):
// true and the shift 10 - s, or false.
bool ByteMode(const uint32_t* wt, size_t b, size_t e, unsigned& shift)
{
    unsigned s = 10;
    for (size_t i = b; i < e; ++i)
        if (wt[i])
            s = std::min(s, unsigned(__builtin_ctz(wt[i])));
    if (s < 2)
        return false;
    uint32_t total = 0;
    for (size_t i = b; i < e; i += 2) {
        const uint32_t x = wt[i] >> s, y = i + 1 < e ? wt[i + 1] >> s : 0;
        if (x > 127 || y > 127 || x + y > 128)
            return false;
        total += x + y;
    }
    if (total > 256)
        return false;
    shift = 10 - s;
    return true;
}

// The horizontal pass of one call, in groups of 32 destination samples
// (sample q of a row is component q % cc of pixel q / cc). A group's taps
// lie within 64 source bytes from its base: one masked load, then one byte
// permutation per pair of taps gathers the 32 sample pairs.
struct HorzPlan8 {
    size_t m = 0, groups = 0;
    unsigned pairs = 0;
    bool bytes = false;
    unsigned shift = 10;
    std::unique_ptr<ptrdiff_t[]> base;
    std::unique_ptr<uint64_t[]> load;
    std::unique_ptr<Vec64[]> idx; // groups x pairs
    std::unique_ptr<Vec64[]> w;   // groups x pairs x 2 (byte mode: the first of each two)
};

// False when the taps do not fit (more than 64 bytes in a group, too many
// taps) or memory runs out: the row loops then do the pass.
bool PlanHorz8(HorzPlan8& pl, const Taps& t, size_t dstW, size_t cc)
{
    const size_t* st = t.start.get();
    const ptrdiff_t* off = t.off.get();
    const uint32_t* wt = t.wt.get();
    size_t K = 0;
    for (size_t j = 0; j < dstW; ++j)
        K = std::max(K, st[j + 1] - st[j]);
    if (K == 0 || K > 16 || dstW > (size_t(1) << 28))
        return false;
    pl.m = dstW * cc;
    pl.groups = (pl.m + 31) / 32;
    pl.pairs = unsigned((K + 1) / 2);
    // One shift for the call: the smallest s of all lists, each list's
    // byte mode then holding with it too when it holds with its own.
    unsigned s = 10;
    bool bytes = true;
    for (size_t j = 0; j < dstW && bytes; ++j) {
        unsigned sh;
        bytes = ByteMode(wt, st[j], st[j + 1], sh);
        s = std::min(s, 10 - sh);
    }
    if (bytes)
        for (size_t j = 0; j < dstW && bytes; ++j)
            for (size_t i = st[j]; i < st[j + 1]; i += 2) {
                const uint32_t x = wt[i] >> s, y = i + 1 < st[j + 1] ? wt[i + 1] >> s : 0;
                if ((wt[i] & ((1u << s) - 1)) || x > 127 || y > 127 || x + y > 128)
                    bytes = false;
            }
    pl.bytes = bytes;
    pl.shift = bytes ? 10 - s : 10;
    const size_t cells = pl.groups * pl.pairs;
    pl.base.reset(new (std::nothrow) ptrdiff_t[pl.groups]);
    pl.load.reset(new (std::nothrow) uint64_t[pl.groups]);
    pl.idx.reset(new (std::nothrow) Vec64[cells]);
    pl.w.reset(new (std::nothrow) Vec64[cells * 2]);
    if (!pl.base || !pl.load || !pl.idx || !pl.w)
        return false;
    std::memset(static_cast<void*>(pl.idx.get()), 0, cells * sizeof(Vec64));
    std::memset(static_cast<void*>(pl.w.get()), 0, cells * 2 * sizeof(Vec64));
    for (size_t g = 0; g < pl.groups; ++g) {
        const size_t q0 = g * 32, q1 = std::min(pl.m, q0 + 32);
        ptrdiff_t lo = PTRDIFF_MAX, hi = PTRDIFF_MIN;
        for (size_t q = q0; q < q1; ++q) {
            const size_t j = q / cc, c = q % cc;
            for (size_t i = st[j]; i < st[j + 1]; ++i) {
                lo = std::min(lo, off[i] + ptrdiff_t(c));
                hi = std::max(hi, off[i] + ptrdiff_t(c));
            }
        }
        if (hi - lo >= 64)
            return false;
        pl.base[g] = lo;
        const unsigned span = unsigned(hi - lo + 1);
        pl.load[g] = span >= 64 ? ~uint64_t(0) : (uint64_t(1) << span) - 1;
        for (size_t q = q0; q < q1; ++q) {
            const size_t j = q / cc, c = q % cc, l = q - q0;
            const size_t b = st[j], e = st[j + 1];
            for (unsigned p = 0; p < pl.pairs; ++p) {
                Vec64& iv = pl.idx[g * pl.pairs + p];
                Vec64* wv = &pl.w[(g * pl.pairs + p) * 2];
                for (unsigned h = 0; h < 2; ++h) {
                    const size_t i = b + 2 * p + h;
                    // Padding taps: the list's first sample with weight 0.
                    const ptrdiff_t o = (i < e ? off[i] : off[b]) + ptrdiff_t(c) - lo;
                    const uint32_t x = i < e ? wt[i] : 0;
                    iv.b[2 * l + h] = uint8_t(o);
                    if (bytes) {
                        wv[0].b[2 * l + h] = uint8_t(x >> s);
                    } else {
                        // 16-bit weights: lanes 0..15 in the first vector, 16..31 in the second.
                        Vec64& half = wv[l / 16];
                        const size_t at = 4 * (l % 16) + 2 * h;
                        half.b[at] = uint8_t(x);
                        half.b[at + 1] = uint8_t(x >> 8);
                    }
                }
            }
        }
    }
    return true;
}

#if defined(__x86_64__)
KZ_TARGET_AVX512 __attribute__((noinline)) void HorzRows8Avx512(unsigned char* dst, size_t dstStride,
                                                                const unsigned char* src, size_t srcStride,
                                                                size_t rows, const HorzPlan8& pl)
{
    const size_t tail = pl.m - (pl.groups - 1) * 32;
    const __mmask32 lastMask = tail >= 32 ? ~__mmask32(0) : (__mmask32(1) << tail) - 1;
    const __m512i* idx = reinterpret_cast<const __m512i*>(pl.idx.get());
    const __m512i* w = reinterpret_cast<const __m512i*>(pl.w.get());
    const unsigned P = pl.pairs;
    const __m128i sh = _mm_cvtsi32_si128(int(pl.shift));
    for (size_t y = 0; y < rows; ++y) {
        unsigned char* d = dst + y * dstStride;
        const unsigned char* s = src + y * srcStride;
        for (size_t g = 0; g < pl.groups; ++g) {
            const __m512i win = _mm512_maskz_loadu_epi8(pl.load[g], s + pl.base[g]);
            const __mmask32 keep = g + 1 == pl.groups ? lastMask : ~__mmask32(0);
            if (pl.bytes) {
                __m512i acc = _mm512_setzero_si512();
                for (unsigned p = 0; p < P; ++p) {
                    const __m512i v = _mm512_permutexvar_epi8(idx[g * P + p], win);
                    acc = _mm512_add_epi16(acc, _mm512_maddubs_epi16(v, w[(g * P + p) * 2]));
                }
                _mm512_mask_cvtepi16_storeu_epi8(d + g * 32, keep, _mm512_srl_epi16(acc, sh));
            } else {
                __m512i a0 = _mm512_setzero_si512(), a1 = _mm512_setzero_si512();
                for (unsigned p = 0; p < P; ++p) {
                    const __m512i v = _mm512_permutexvar_epi8(idx[g * P + p], win);
                    a0 = _mm512_add_epi32(a0, _mm512_madd_epi16(_mm512_cvtepu8_epi16(_mm512_castsi512_si256(v)),
                                                                 w[(g * P + p) * 2]));
                    a1 = _mm512_add_epi32(a1, _mm512_madd_epi16(_mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(v, 1)),
                                                                 w[(g * P + p) * 2 + 1]));
                }
                _mm512_mask_cvtepi32_storeu_epi8(d + g * 32, __mmask16(keep), _mm512_srli_epi32(a0, 10));
                _mm512_mask_cvtepi32_storeu_epi8(d + g * 32 + 16, __mmask16(keep >> 16), _mm512_srli_epi32(a1, 10));
            }
        }
    }
}

// The vertical pass over rows of n samples (every sample of a row is
// computed), 64 at a time.
KZ_TARGET_AVX512 __attribute__((noinline)) void VertRows8Avx512(unsigned char* dst, size_t dstStride, size_t n,
                                                                size_t dstH, const unsigned char* src,
                                                                const Taps& t)
{
    const ptrdiff_t* off = t.off.get();
    const uint32_t* wt = t.wt.get();
    const size_t* st = t.start.get();
    const __m512i zero = _mm512_setzero_si512();
    for (size_t i = 0; i < dstH; ++i) {
        unsigned char* d = dst + i * dstStride;
        const size_t b = st[i], e = st[i + 1];
        unsigned shift = 10;
        const bool bytes = ByteMode(wt, b, e, shift);
        const unsigned s = 10 - shift;
        for (size_t x = 0; x < n; x += 64) {
            const __mmask64 m = n - x >= 64 ? ~__mmask64(0) : (__mmask64(1) << (n - x)) - 1;
            if (bytes) {
                __m512i lo = zero, hi = zero;
                for (size_t k = b; k < e; k += 2) {
                    const bool two = k + 1 < e;
                    const __m512i va = _mm512_maskz_loadu_epi8(m, src + off[k] + ptrdiff_t(x));
                    const __m512i vb = two ? _mm512_maskz_loadu_epi8(m, src + off[k + 1] + ptrdiff_t(x)) : zero;
                    const int wp = int((wt[k] >> s) | (two ? wt[k + 1] >> s : 0) << 8);
                    const __m512i wv = _mm512_set1_epi16(short(wp));
                    lo = _mm512_add_epi16(lo, _mm512_maddubs_epi16(_mm512_unpacklo_epi8(va, vb), wv));
                    hi = _mm512_add_epi16(hi, _mm512_maddubs_epi16(_mm512_unpackhi_epi8(va, vb), wv));
                }
                const __m128i sh = _mm_cvtsi32_si128(int(shift));
                const __m512i r = _mm512_packus_epi16(_mm512_srl_epi16(lo, sh), _mm512_srl_epi16(hi, sh));
                _mm512_mask_storeu_epi8(d + x, m, r);
            } else {
                __m512i a0 = zero, a1 = zero, a2 = zero, a3 = zero;
                for (size_t k = b; k < e; k += 2) {
                    const bool two = k + 1 < e;
                    const __m512i va = _mm512_maskz_loadu_epi8(m, src + off[k] + ptrdiff_t(x));
                    const __m512i vb = two ? _mm512_maskz_loadu_epi8(m, src + off[k + 1] + ptrdiff_t(x)) : zero;
                    const int wp = int(wt[k] | (two ? wt[k + 1] : 0) << 16);
                    const __m512i wv = _mm512_set1_epi32(wp);
                    const __m512i lo = _mm512_unpacklo_epi8(va, vb), hi = _mm512_unpackhi_epi8(va, vb);
                    a0 = _mm512_add_epi32(a0, _mm512_madd_epi16(_mm512_unpacklo_epi8(lo, zero), wv));
                    a1 = _mm512_add_epi32(a1, _mm512_madd_epi16(_mm512_unpackhi_epi8(lo, zero), wv));
                    a2 = _mm512_add_epi32(a2, _mm512_madd_epi16(_mm512_unpacklo_epi8(hi, zero), wv));
                    a3 = _mm512_add_epi32(a3, _mm512_madd_epi16(_mm512_unpackhi_epi8(hi, zero), wv));
                }
                const __m512i p01 = _mm512_packus_epi32(_mm512_srli_epi32(a0, 10), _mm512_srli_epi32(a1, 10));
                const __m512i p23 = _mm512_packus_epi32(_mm512_srli_epi32(a2, 10), _mm512_srli_epi32(a3, 10));
                _mm512_mask_storeu_epi8(d + x, m, _mm512_packus_epi16(p01, p23));
            }
        }
    }
}
#endif

template <class T, int C, Out O, bool Validity>
int Horz(T* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned rows, const T* src, unsigned srcStride,
         size_t srcW, unsigned rectL, unsigned rectW, double (*f)(double), unsigned D)
{
    if (!CompsValid(C, comps) || !f)
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || rows == 0)
        return KZ_OK;
    if (rectW == 0 || srcW == 0 || rectL >= srcW)
        return KZ_ERR_INVALID_ARG;
    Taps t;
    const bool isFloat = O != Out::Int10;
    const int r = RectTaps(t, dstW, rectW, rectL, srcW, ptrdiff_t(comps), f, D, isFloat ? 65536u : 1024u, !isFloat);
    if (r != KZ_OK)
        return r;
#if defined(__x86_64__)
    if constexpr (std::is_same_v<T, unsigned char> && O == Out::Int10 && !Validity) {
        if (KzCpuIsa() == KzIsa::Avx512) {
            HorzPlan8 plan;
            if (PlanHorz8(plan, t, dstW, C ? size_t(C) : comps)) {
                HorzRows8Avx512(dst, dstStride, src, srcStride, rows, plan);
                return KZ_OK;
            }
        }
    }
#endif
    for (size_t y = 0; y < rows; ++y) {
        T* d = RowAt(dst, dstStride, y);
        const T* s = RowAt(src, srcStride, y);
        if constexpr (Validity)
            HorzRowValidity(d, s, dstW, t);
        else
            HorzRow<T, C, O>(d, s, dstW, comps, t, nullptr);
    }
    return KZ_OK;
}

template <class T, int C, Out O, bool Validity>
int Vert(T* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned dstH, const T* src, unsigned srcStride,
         unsigned srcH, unsigned rectT, unsigned rectH, double (*f)(double), unsigned D)
{
    if (!CompsValid(C, comps) || !f)
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (rectH == 0 || srcH == 0 || rectT >= srcH)
        return KZ_ERR_INVALID_ARG;
    Taps t;
    const bool isFloat = O != Out::Int10;
    int r = RectTaps(t, dstH, rectH, rectT, srcH, ptrdiff_t(srcStride / sizeof(T)), f, D, isFloat ? 65536u : 1024u,
                     !isFloat);
    if (r != KZ_OK)
        return r;
    const size_t n = size_t(dstW) * comps;
#if defined(__x86_64__)
    if constexpr (std::is_same_v<T, unsigned char> && O == Out::Int10 && !Validity) {
        if ((C == 0 || unsigned(C) == comps) && KzCpuIsa() == KzIsa::Avx512) {
            VertRows8Avx512(dst, dstStride, n, dstH, src, t);
            return KZ_OK;
        }
    }
#endif
    if constexpr (Validity) {
        std::unique_ptr<float[]> sum(new (std::nothrow) float[dstW]);
        std::unique_ptr<uint64_t[]> used(new (std::nothrow) uint64_t[dstW]);
        if (!sum || !used)
            return KZ_ERR_OUT_OF_MEMORY;
        VertRowsValidity(dst, dstStride, dstW, dstH, comps, src, t, sum.get(), used.get());
    } else {
        using Acc = typename Arith<T, O>::Acc;
        std::unique_ptr<Acc[]> acc(new (std::nothrow) Acc[n]);
        if (!acc)
            return KZ_ERR_OUT_OF_MEMORY;
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            VertRows<T, C, O>(dst, dstStride, dstW, dstH, comps, src, t, acc.get());
        });
    }
    return KZ_OK;
}

} // namespace

#define KZ_HORZ_CALL dst, comps, dstStride, dstW, rows, src, srcStride, srcW, rectL, rectW, filter, support
#define KZ_VERT_CALL dst, comps, dstStride, dstW, dstH, src, srcStride, srcH, rectT, rectH, filter, support

template <class T>
int stretch_generic_horz(KZ_STRETCH_HORZ_PARAMS(T))
{
    (void)bits, (void)srcH, (void)rectT, (void)rectH;
    return Horz<T, 0, Out::Int10, false>(KZ_HORZ_CALL);
}
template <class T>
int stretch_generic_horz_1(KZ_STRETCH_HORZ_PARAMS(T))
{
    (void)bits, (void)srcH, (void)rectT, (void)rectH;
    return Horz<T, 1, Out::Int10, false>(KZ_HORZ_CALL);
}
template <class T>
int stretch_generic_horz_3(KZ_STRETCH_HORZ_PARAMS(T))
{
    (void)bits, (void)srcH, (void)rectT, (void)rectH;
    return Horz<T, 3, Out::Int10, false>(KZ_HORZ_CALL);
}
template <class T>
int stretch_generic_vert(KZ_STRETCH_VERT_PARAMS(T))
{
    (void)bits, (void)rectL, (void)rectW;
    return Vert<T, 0, Out::Int10, false>(KZ_VERT_CALL);
}
template <class T>
int stretch_generic_vert_1(KZ_STRETCH_VERT_PARAMS(T))
{
    (void)bits, (void)rectL, (void)rectW;
    return Vert<T, 1, Out::Int10, false>(KZ_VERT_CALL);
}
template <class T>
int stretch_generic_vert_3(KZ_STRETCH_VERT_PARAMS(T))
{
    (void)bits, (void)rectL, (void)rectW;
    return Vert<T, 3, Out::Int10, false>(KZ_VERT_CALL);
}

#define KZ_HORZ_INST(name, T) template KZ_EXPORT int name<T>(KZ_STRETCH_HORZ_PARAMS(T));
#define KZ_VERT_INST(name, T) template KZ_EXPORT int name<T>(KZ_STRETCH_VERT_PARAMS(T));
KZ_HORZ_INST(stretch_generic_horz, unsigned char)
KZ_HORZ_INST(stretch_generic_horz, unsigned short)
KZ_HORZ_INST(stretch_generic_horz_1, unsigned char)
KZ_HORZ_INST(stretch_generic_horz_1, unsigned short)
KZ_HORZ_INST(stretch_generic_horz_3, unsigned char)
KZ_HORZ_INST(stretch_generic_horz_3, unsigned short)
KZ_VERT_INST(stretch_generic_vert, unsigned char)
KZ_VERT_INST(stretch_generic_vert, unsigned short)
KZ_VERT_INST(stretch_generic_vert_1, unsigned char)
KZ_VERT_INST(stretch_generic_vert_1, unsigned short)
KZ_VERT_INST(stretch_generic_vert_3, unsigned char)
KZ_VERT_INST(stretch_generic_vert_3, unsigned short)

#define KZ_FHORZ(C, V)                                                                                            \
    {                                                                                                              \
        (void)srcH, (void)rectT, (void)rectH;                                                                      \
        if (comps == 0)                                                                                            \
            return KZ_ERR_INVALID_ARG;                                                                             \
        return Horz<float, C, Out::Float16, V>(dst, comps, dstStride, dstW, dstH, src, srcStride,                 \
                                                size_t(srcStride / 4) / comps, rectL, rectW, filter, support);     \
    }
#define KZ_FVERT(C, V)                                                                                            \
    {                                                                                                              \
        (void)rectL, (void)rectW;                                                                                  \
        return Vert<float, C, Out::Float16, V>(dst, comps, dstStride, dstW, dstH, src, srcStride, srcH, rectT,    \
                                                rectH, filter, support);                                           \
    }

int stretch_float_generic_horz(KZ_STRETCH_FLOAT_PARAMS) KZ_FHORZ(0, false)
int stretch_float_generic_horz_1(KZ_STRETCH_FLOAT_PARAMS) KZ_FHORZ(1, false)
int stretch_float_generic_horz_3(KZ_STRETCH_FLOAT_PARAMS) KZ_FHORZ(3, false)
int stretch_float_generic_vert(KZ_STRETCH_FLOAT_PARAMS) KZ_FVERT(0, false)
int stretch_float_generic_vert_1(KZ_STRETCH_FLOAT_PARAMS) KZ_FVERT(1, false)
int stretch_float_generic_vert_3(KZ_STRETCH_FLOAT_PARAMS) KZ_FVERT(3, false)
int stretch_float_generic_horz_1_validity(KZ_STRETCH_FLOAT_PARAMS) KZ_FHORZ(1, true)
int stretch_float_generic_vert_1_validity(KZ_STRETCH_FLOAT_PARAMS) KZ_FVERT(1, true)

// ---------------------------------------------------------------------------
// Composition
// ---------------------------------------------------------------------------

namespace {

struct Band {
    uint64_t above, G;
};

// Margin rows around the rectangle: the widened support, limited by the
// rows the source has above and below it.
Band Margins(unsigned D, unsigned dstH, unsigned srcH, unsigned rectT, unsigned rectH)
{
    uint64_t E = D;
    if (rectH > dstH)
        E = uint64_t(std::ceil(double(D) * (double(rectH) / double(dstH))));
    const uint64_t above = E < rectT ? E : rectT;
    const uint64_t room = uint64_t(srcH) - rectT - rectH;
    const uint64_t below = E < room ? E : room;
    return {above, rectH + above + below};
}

// Intermediate picture from nothrow allocation (null when it cannot be had).
unsigned char* NewBand(uint64_t rowBytes, uint64_t rows)
{
    if (rowBytes > 0xFFFFFFFFu || rows > 0xFFFFFFFFu || (rowBytes && rows > (uint64_t(1) << 46) / rowBytes))
        return nullptr;
    return new (std::nothrow) unsigned char[size_t(rowBytes * rows) + 16];
}

} // namespace

template <class T>
int KzFilteredStretch(T* dst, unsigned comps, unsigned dstStride, unsigned bits, unsigned dstW, unsigned dstH, T* src,
                      unsigned srcStride, unsigned srcW, unsigned srcH, unsigned rectL, unsigned rectT,
                      unsigned rectW, unsigned rectH, bool useBell)
{
    if (comps == 0)
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (rectW == 0 || rectH == 0 || rectL >= srcW || uint64_t(rectT) + rectH > srcH)
        return KZ_ERR_INVALID_ARG;
    double (*f)(double) = useBell ? bell : triangle;
    const unsigned D = useBell ? 3 : 2;
    const Band b = Margins(D, dstH, srcH, rectT, rectH);
    const uint64_t bandRow = (uint64_t(comps) * dstW * sizeof(T) + 3) & ~uint64_t(3);
    std::unique_ptr<unsigned char[]> band(NewBand(bandRow, b.G));
    if (!band)
        return KZ_ERR_OUT_OF_MEMORY;
    T* up = reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(src) - size_t(b.above) * srcStride);
    T* mid = reinterpret_cast<T*>(band.get());
    const unsigned G = unsigned(b.G), row = unsigned(bandRow), top = unsigned(rectT - b.above);
    int r;
    if (comps == 1)
        r = stretch_generic_horz_1<T>(mid, 1, row, bits, dstW, G, up, srcStride, srcW, srcH, rectL, top, rectW, G, f, D);
    else if (comps == 3)
        r = stretch_generic_horz_3<T>(mid, 3, row, bits, dstW, G, up, srcStride, srcW, srcH, rectL, top, rectW, G, f, D);
    else
        r = stretch_generic_horz<T>(mid, comps, row, bits, dstW, G, up, srcStride, srcW, srcH, rectL, top, rectW, G, f,
                                    D);
    if (r != KZ_OK)
        return r;
    T* vs = RowAt(mid, row, size_t(b.above));
    const unsigned above = unsigned(b.above);
    if (comps == 1)
        return stretch_generic_vert_1<T>(dst, 1, dstStride, bits, dstW, dstH, vs, row, G, 0, above, dstW, rectH, f, D);
    if (comps == 3)
        return stretch_generic_vert_3<T>(dst, 3, dstStride, bits, dstW, dstH, vs, row, G, 0, above, dstW, rectH, f, D);
    return stretch_generic_vert<T>(dst, comps, dstStride, bits, dstW, dstH, vs, row, G, 0, above, dstW, rectH, f, D);
}

template int KzFilteredStretch<unsigned char>(unsigned char*, unsigned, unsigned, unsigned, unsigned, unsigned,
                                              unsigned char*, unsigned, unsigned, unsigned, unsigned, unsigned,
                                              unsigned, unsigned, bool);
template int KzFilteredStretch<unsigned short>(unsigned short*, unsigned, unsigned, unsigned, unsigned, unsigned,
                                               unsigned short*, unsigned, unsigned, unsigned, unsigned, unsigned,
                                               unsigned, unsigned, bool);

int KzFilteredStretchFloat(float* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned dstH, float* src,
                           unsigned srcStride, unsigned srcH, unsigned rectL, unsigned rectT, unsigned rectW,
                           unsigned rectH, bool useBell, bool validity)
{
    if (comps == 0)
        return KZ_ERR_INVALID_ARG;
    if (validity && comps != 1)
        return KZ_ERR_NOT_SUPPORTED;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    const size_t srcW = size_t(srcStride / 4) / comps;
    if (rectW == 0 || rectH == 0 || rectL >= srcW || uint64_t(rectT) + rectH > srcH)
        return KZ_ERR_INVALID_ARG;
    double (*f)(double) = useBell ? bellfloat : trianglefloat;
    const unsigned D = useBell ? 3 : 2;
    const Band b = Margins(D, dstH, srcH, rectT, rectH);
    const uint64_t bandRow = (uint64_t(comps) * dstW * 4 + 12) & ~uint64_t(15);
    std::unique_ptr<unsigned char[]> band(NewBand(bandRow, b.G));
    if (!band)
        return KZ_ERR_OUT_OF_MEMORY;
    float* up = reinterpret_cast<float*>(reinterpret_cast<unsigned char*>(src) - size_t(b.above) * srcStride);
    float* mid = reinterpret_cast<float*>(band.get());
    const unsigned G = unsigned(b.G), row = unsigned(bandRow), top = unsigned(rectT - b.above);
    auto horz = validity ? stretch_float_generic_horz_1_validity
                         : comps == 1 ? stretch_float_generic_horz_1
                                      : comps == 3 ? stretch_float_generic_horz_3 : stretch_float_generic_horz;
    auto vert = validity ? stretch_float_generic_vert_1_validity
                         : comps == 1 ? stretch_float_generic_vert_1
                                      : comps == 3 ? stretch_float_generic_vert_3 : stretch_float_generic_vert;
    const int r = horz(mid, comps, row, dstW, G, up, srcStride, srcH, rectL, top, rectW, G, f, D);
    if (r != KZ_OK)
        return r;
    return vert(dst, comps, dstStride, dstW, dstH, RowAt(mid, row, size_t(b.above)), row, G, 0, unsigned(b.above),
                dstW, rectH, f, D);
}
