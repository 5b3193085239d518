// Constant-operand arithmetic (add, wrap-around add, subtract, maximum,
// minimum, multiply, divide, power law) and bit masking.
//
// Add, subtract, maximum and minimum are computed directly per sample in
// contiguous loops the compiler vectorises, with the per-component constants
// laid out as a repeating pattern; the results equal those of a table built
// from the same function (samples are masked with the depth's largest value
// first, as a table lookup would). Wrap-around add, multiply, divide and the
// power law of the 1-, 3- and 4-component members go through one table of
// 2^bits entries per component, built once per call (a picture with fewer
// samples than the table has entries is computed per sample, with the same
// result); their N-component members compute per sample.
#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/KzKernels.h"

#include <algorithm>
#include <cstring>

#include <immintrin.h>

namespace {

enum class Op { Add, Rotate, Sub, Max, Min, Mul, Div, Pow };

// Depths a member accepts. Fixed 3 or 4 components: x8 exactly 8 bits, x16 8
// to 16 bits (the table's entry width must match the container). Otherwise
// 1 up to the container width.
template <class T>
constexpr bool BitsValid(kz_uint32 bits, unsigned fixedComps)
{
    if (fixedComps == 3 || fixedComps == 4)
        return sizeof(T) == 1 ? bits == 8 : (bits >= 8 && bits <= 16);
    return bits >= 1 && bits <= sizeof(T) * 8;
}

// The operands of one call, read as the operation needs them.
struct Operands {
    const int* i = nullptr;      // add, rotate, subtract
    const void* sv = nullptr;    // maximum, minimum (sample-valued)
    const double* d = nullptr;   // multiply, divide
    const double* pa = nullptr;  // power law: add, multiply, power
    const double* pm = nullptr;
    const double* pp = nullptr;
};

// Table entry / per-sample result of the LUT-style operations for sample v of
// component k.
template <class T>
inline T Entry(Op op, const Operands& o, size_t k, uint64_t v, T limit)
{
    switch (op) {
    case Op::Add:
        return KzClampTo<T>(int64_t(v) + o.i[k], limit);
    case Op::Sub:
        return KzClampTo<T>(int64_t(v) - int64_t(o.i[k]), limit);
    case Op::Rotate:
        return kzk::RotateEntry<T>(int64_t(v) + o.i[k], limit);
    case Op::Max: {
        const T c = static_cast<const T*>(o.sv)[k];
        return KzClampTo<T>(std::max<uint64_t>(v, c), limit);
    }
    case Op::Min: {
        const T c = static_cast<const T*>(o.sv)[k];
        return KzClampTo<T>(std::min<uint64_t>(v, c), limit);
    }
    case Op::Mul:
        return KzRoundClamp<T>(double(v) * o.d[k], limit);
    case Op::Div:
        return KzRoundClamp<T>(double(v) * (1.0 / o.d[k]), limit);
    case Op::Pow:
        return kzk::PowerLawEntry<T>(double(v), o.pa ? o.pa + k : nullptr, o.pm ? o.pm + k : nullptr,
                                     o.pp ? o.pp + k : nullptr, limit);
    }
    return 0;
}

// Run-time or fixed component count.
template <unsigned C>
constexpr size_t CompsOf(kz_uint32 comps)
{
    return C ? C : comps;
}

// ---------------------------------------------------------------------------
// Direct, vectorisable path: add, subtract, maximum, minimum.
// ---------------------------------------------------------------------------

// Signed work type wide enough for sample + constant after the constant is
// limited to -limit..limit (which changes no clamped result).
template <class T>
using Wide = std::conditional_t<sizeof(T) == 1, int16_t, int32_t>;

// Processes a row in segments of `seg` samples (a multiple of the component
// count), so the constant pattern has a small fixed size.
template <class T, class Pat, class F>
KZ_ALWAYS_INLINE void SegmentedRows(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, size_t comps,
                          kz_uint32 width, kz_uint32 count, const Pat* pat, size_t seg, F&& f)
{
    KzForRows2<T, T>(dst, dstRowBytes, src, srcRowBytes, comps, width, count, [&](T* d, const T* s, size_t n) {
        for (size_t j = 0; j < n; j += seg) {
            const size_t len = std::min(seg, n - j);
            KzMapRow(d + j, s + j, len, [pat, &f](T v, size_t i) KZ_INLINE_LAMBDA { return f(v, pat[i]); });
        }
    });
}

// Rounded and clamped product in double precision, written so that it
// vectorises: the x86 conversion gives 0 after clamping for NaN and for
// anything outside [1, 2^31) (below 1 it truncates to 0 or less, at 2^31 and
// above it overflows to the most negative integer), and truncating
// min(x, limit) equals clamping the truncated x.
template <class T>
KZ_ALWAYS_INLINE T MulValue(T v, double c, T mask, double dl)
{
    const double x = double(v & mask) * c + 0.5;
    const double y = x < dl ? x : dl;
    const double r = (x >= 1.0 && x < 2147483648.0) ? y : 0.0;
    return static_cast<T>(static_cast<int32_t>(r));
}

// True when every factor is finite and at least 0 and the largest sample's
// product stays below 2^31: then x lies in [0.5, 2^31) for every sample, and
// truncating min(x, limit) alone gives MulValue (x below 1 truncates to 0).
// The product grows with the sample, so the largest sample bounds it.
inline bool MulNeedsNoRangeCheck(const double* c, size_t comps, double maxSample)
{
    for (size_t k = 0; k < comps; ++k)
        if (!(c[k] >= 0.0 && c[k] <= 1.7976931348623157e308 && maxSample * c[k] + 0.5 < 2147483648.0))
            return false;
    return true;
}

// GCC 12's AVX-512 headers build "undefined" vectors from themselves, which
// its own flow analysis reports as uninitialised once inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

// Eight samples as doubles times eight factors, rounded and clamped (before
// the truncating conversion).
template <bool Checked>
KZ_TARGET_AVX512 inline __m512d MulClamp8(__m512d v, __m512d c, __m512d dl)
{
    const __m512d x = _mm512_add_pd(_mm512_mul_pd(v, c), _mm512_set1_pd(0.5));
    if constexpr (Checked) {
        const __mmask8 ok = _mm512_cmp_pd_mask(x, _mm512_set1_pd(1.0), _CMP_GE_OQ) &
                            _mm512_cmp_pd_mask(x, _mm512_set1_pd(2147483648.0), _CMP_LT_OQ);
        return _mm512_maskz_min_pd(ok, x, dl);
    } else {
        return _mm512_min_pd(x, dl);
    }
}

// Sixteen 16-bit samples: widened to 32 bits, converted to doubles eight at a
// time, and the truncated results narrowed back.
template <bool Checked>
KZ_TARGET_AVX512 inline __m256i Mul16Samples(__m256i raw, __m256i mask, __m512d c0, __m512d c1, __m512d dl)
{
    const __m512i w = _mm512_cvtepu16_epi32(_mm256_and_si256(raw, mask));
    const __m256i lo = _mm512_cvttpd_epi32(MulClamp8<Checked>(_mm512_cvtepi32_pd(_mm512_castsi512_si256(w)), c0, dl));
    const __m256i hi =
        _mm512_cvttpd_epi32(MulClamp8<Checked>(_mm512_cvtepi32_pd(_mm512_extracti64x4_epi64(w, 1)), c1, dl));
    return _mm512_cvtepi32_epi16(_mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1));
}

// Eight samples of the range-check-free case without conversion
// instructions: 2^52 + v is built from the bits of v and v recovered by one
// exact subtraction; after the product, the sum and the limit, adding 2^52
// rounded toward minus infinity leaves floor(x) = trunc(x) (x is at least
// 0.5 and below 2^31) in the low bits of each 64-bit lane, and the limit is
// applied to that integer. Only additions, a product and integer operations:
// the conversion instructions are the slow part of the general path.
KZ_TARGET_AVX512 inline __m512d Mul8InRangeWide(__m512i wide, __m512i mask64, __m512d c, __m512i limitBits)
{
    const __m512d two52 = _mm512_set1_pd(4503599627370496.0);
    // (wide & mask) | bits of 2^52
    const __m512i biased = _mm512_ternarylogic_epi64(wide, mask64, _mm512_castpd_si512(two52), 0xEA);
    const __m512d v = _mm512_sub_pd(_mm512_castsi512_pd(biased), two52);
    const __m512d x = _mm512_add_pd(_mm512_mul_pd(v, c), _mm512_set1_pd(0.5));
    const __m512d f = _mm512_add_round_pd(x, two52, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
    // The limit on the integer: 2^52 + floor(x) and 2^52 + limit compare as
    // their bit patterns.
    return _mm512_castsi512_pd(_mm512_min_epu64(_mm512_castpd_si512(f), limitBits));
}

KZ_TARGET_AVX512 inline __m512d Mul8InRange(const u16* s, __m512i mask64, __m512d c, __m512i limitBits)
{
    return Mul8InRangeWide(_mm512_cvtepu16_epi64(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s))), mask64, c,
                           limitBits);
}

// Sixteen samples: the low 16 bits of every 64-bit lane of two such results,
// gathered by one word permute.
KZ_TARGET_AVX512 inline void Mul16InRange(u16* d, const u16* s, __m512i mask64, __m512i lowWords, __m512d c0,
                                          __m512d c1, __m512i limitBits)
{
    const __m512i a = _mm512_castpd_si512(Mul8InRange(s, mask64, c0, limitBits));
    const __m512i b = _mm512_castpd_si512(Mul8InRange(s + 8, mask64, c1, limitBits));
    const __m512i w = _mm512_permutex2var_epi16(a, lowWords, b);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), _mm512_castsi512_si256(w));
}

// 16-bit multiply rows with AVX-512. pat holds the factors as a repeating
// pattern of seg entries (a multiple of the component count); a row is run in
// segments of seg samples, 16 at a time, the last few with masked loads and
// stores. A row that partly overlaps its source goes sample by sample, each
// read before its write.
template <bool Checked>
KZ_TARGET_AVX512 __attribute__((noinline)) void MulRows16Avx512(void* dst, kz_uint32 dstRowBytes, const void* src,
                                                                kz_uint32 srcRowBytes, size_t comps, kz_uint32 width,
                                                                kz_uint32 count, const double* pat, size_t seg,
                                                                u16 mask, double dl)
{
    const __m256i vmask = _mm256_set1_epi16(static_cast<short>(mask));
    const __m512i mask64 = _mm512_set1_epi64(mask);
    // Word 4j of the first source for j < 8, of the second for j = 8..15.
    const __m512i lowWords = _mm512_set_epi16(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 56, 52, 48,
                                              44, 40, 36, 32, 28, 24, 20, 16, 12, 8, 4, 0);
    const __m512d vdl = _mm512_set1_pd(dl);
    const __m512i limitBits = _mm512_set1_epi64(int64_t(0x4330000000000000) + int64_t(dl));
    const size_t rows = KzRowCount(width, count);
    const size_t n = size_t(width) * comps;
    for (size_t r = 0; r < rows; ++r) {
        u16* d = KzRow<u16>(dst, dstRowBytes, r);
        const u16* s = KzRow<u16>(src, srcRowBytes, r);
        const uintptr_t da = reinterpret_cast<uintptr_t>(d), sa = reinterpret_cast<uintptr_t>(s);
        if (da != sa && da < sa + 2 * n && sa < da + 2 * n) {
            for (size_t i = 0; i < n; ++i)
                d[i] = MulValue<u16>(s[i], pat[i % comps], mask, dl);
            continue;
        }
        for (size_t j = 0; j < n; j += seg) {
            const size_t len = std::min(seg, n - j);
            u16* dj = d + j;
            const u16* sj = s + j;
            size_t i = 0;
            if constexpr (!Checked) {
                for (; i + 16 <= len; i += 16)
                    Mul16InRange(dj + i, sj + i, mask64, lowWords, _mm512_loadu_pd(pat + i),
                                 _mm512_loadu_pd(pat + i + 8), limitBits);
            }
            for (; i + 16 <= len; i += 16) {
                const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sj + i));
                const __m256i out =
                    Mul16Samples<Checked>(raw, vmask, _mm512_loadu_pd(pat + i), _mm512_loadu_pd(pat + i + 8), vdl);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(dj + i), out);
            }
            if (i < len) {
                const unsigned left = unsigned(len - i);
                const __mmask16 m = __mmask16((1u << left) - 1);
                const __m256i raw = _mm256_maskz_loadu_epi16(m, sj + i);
                const __m512d c0 = _mm512_maskz_loadu_pd(__mmask8(m), pat + i);
                const __m512d c1 = _mm512_maskz_loadu_pd(__mmask8(m >> 8), pat + i + 8);
                _mm256_mask_storeu_epi16(dj + i, m, Mul16Samples<Checked>(raw, vmask, c0, c1, vdl));
            }
        }
    }
}

// Single-precision form of the in-range product: 16 samples per vector
// instead of 8. It is used only for a factor and depth for which it has been
// checked to give MulValue's integer for every sample value the depth
// allows (FloatMulMatches), so results never depend on the form.
KZ_TARGET_AVX512 inline __m256i MulFloat16(__m256i raw, __m256i mask, __m512 c, __m512 dl)
{
    const __m512 v = _mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(_mm256_and_si256(raw, mask)));
    const __m512 x = _mm512_min_ps(_mm512_add_ps(_mm512_mul_ps(v, c), _mm512_set1_ps(0.5f)), dl);
    return _mm512_cvtepi32_epi16(_mm512_cvttps_epi32(x));
}

// True when MulFloat16 with the factor c rounded to single precision gives
// MulValue<u16>(v, c, mask, dl) for every v in 0..mask (c finite, >= 0, with
// products below 2^31, as MulNeedsNoRangeCheck ensures).
KZ_TARGET_AVX512 __attribute__((noinline)) bool FloatMulMatches(double c, u16 mask, double dl)
{
    const __m256i m16 = _mm256_set1_epi16(static_cast<short>(mask));
    const __m512i mask64 = _mm512_set1_epi64(mask);
    const __m512i lowWords = _mm512_set_epi16(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 60, 56, 52, 48,
                                              44, 40, 36, 32, 28, 24, 20, 16, 12, 8, 4, 0);
    const __m512i limitBits = _mm512_set1_epi64(int64_t(0x4330000000000000) + int64_t(dl));
    const __m512d cd = _mm512_set1_pd(c);
    const __m512 cf = _mm512_set1_ps(float(c)), dlf = _mm512_set1_ps(float(dl));
    alignas(32) u16 v[16], want[16];
    for (uint32_t base = 0; base <= mask; base += 16) {
        for (unsigned k = 0; k < 16; ++k)
            v[k] = u16(std::min<uint32_t>(base + k, mask));
        Mul16InRange(want, v, mask64, lowWords, cd, cd, limitBits);
        const __m256i got = MulFloat16(_mm256_load_si256(reinterpret_cast<const __m256i*>(v)), m16, cf, dlf);
        if (_mm256_cmpneq_epi16_mask(got, _mm256_load_si256(reinterpret_cast<const __m256i*>(want))))
            return false;
    }
    return true;
}

// Remembers the last verdicts of FloatMulMatches per thread: a factor is
// usually applied to many pictures in a row.
bool FloatMulMatchesCached(double c, u16 mask, double dl)
{
    struct Entry {
        double c;
        u16 mask;
        bool ok;
    };
    thread_local Entry cache[4] = {};
    thread_local unsigned used = 0, next = 0;
    for (unsigned k = 0; k < used; ++k)
        if (cache[k].mask == mask && std::memcmp(&cache[k].c, &c, sizeof c) == 0)
            return cache[k].ok;
    const bool ok = FloatMulMatches(c, mask, dl);
    cache[next] = Entry{c, mask, ok};
    next = (next + 1) % 4;
    used = std::min(used + 1, 4u);
    return ok;
}

// One-component 16-bit rows in single precision (see MulFloat16).
KZ_TARGET_AVX512 __attribute__((noinline)) void MulRows16FloatAvx512(void* dst, kz_uint32 dstRowBytes,
                                                                     const void* src, kz_uint32 srcRowBytes,
                                                                     kz_uint32 width, kz_uint32 count, double c,
                                                                     u16 mask, double dl)
{
    const __m256i vmask = _mm256_set1_epi16(static_cast<short>(mask));
    const __m512 cf = _mm512_set1_ps(float(c)), dlf = _mm512_set1_ps(float(dl));
    const size_t rows = KzRowCount(width, count);
    const size_t n = width;
    for (size_t r = 0; r < rows; ++r) {
        u16* d = KzRow<u16>(dst, dstRowBytes, r);
        const u16* s = KzRow<u16>(src, srcRowBytes, r);
        const uintptr_t da = reinterpret_cast<uintptr_t>(d), sa = reinterpret_cast<uintptr_t>(s);
        if (da != sa && da < sa + 2 * n && sa < da + 2 * n) {
            for (size_t i = 0; i < n; ++i)
                d[i] = MulValue<u16>(s[i], c, mask, dl);
            continue;
        }
        size_t i = 0;
        for (; i + 16 <= n; i += 16) {
            const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(s + i));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(d + i), MulFloat16(raw, vmask, cf, dlf));
        }
        if (i < n) {
            const __mmask16 m = __mmask16((1u << unsigned(n - i)) - 1);
            _mm256_mask_storeu_epi16(d + i, m, MulFloat16(_mm256_maskz_loadu_epi16(m, s + i), vmask, cf, dlf));
        }
    }
}
#pragma GCC diagnostic pop

template <class T>
int DirectArith(Op op, void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const Operands& o,
                size_t comps, kz_uint32 bits, kz_uint32 width, kz_uint32 count)
{
    const T limit = KzDepthLimit<T>(bits);
    const T mask = limit;
    // Segment: at least 1024 samples, a whole number of pixels.
    const size_t seg = comps * std::max<size_t>(1, (1024 + comps - 1) / comps);
    KzScratch scratch;
    if (op == Op::Mul || op == Op::Div) {
        // Rounded and clamped product in double precision (MulValue).
        double* pat = scratch.Get<double>(seg);
        if (!pat)
            return KZ_ERR_OUT_OF_MEMORY;
        for (size_t j = 0; j < seg; ++j)
            pat[j] = op == Op::Mul ? o.d[j % comps] : 1.0 / o.d[j % comps];
        const double dl = double(limit);
        if constexpr (sizeof(T) == 2) {
            if (KzCpuIsa() == KzIsa::Avx512) {
                const bool inRange = MulNeedsNoRangeCheck(pat, comps, double(mask));
                // The single-precision form pays its check (one product per
                // sample value) only on pictures many times that size.
                if (inRange && comps == 1 && size_t(count) >= 16 * (size_t(mask) + 1) &&
                    FloatMulMatchesCached(pat[0], mask, dl)) {
                    MulRows16FloatAvx512(dst, dstRowBytes, src, srcRowBytes, width, count, pat[0], mask, dl);
                    return KZ_OK;
                }
                if (inRange)
                    MulRows16Avx512<false>(dst, dstRowBytes, src, srcRowBytes, comps, width, count, pat, seg, mask,
                                           dl);
                else
                    MulRows16Avx512<true>(dst, dstRowBytes, src, srcRowBytes, comps, width, count, pat, seg, mask,
                                          dl);
                return KZ_OK;
            }
        }
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            SegmentedRows<T>(dst, dstRowBytes, src, srcRowBytes, comps, width, count, pat, seg,
                             [mask, dl](T v, double c) KZ_INLINE_LAMBDA { return MulValue<T>(v, c, mask, dl); });
        });
        return KZ_OK;
    }
    if (op == Op::Rotate) {
        // 32-bit lanes when no constant can overflow them (|c| < 2^30 and
        // samples below 2^16), else 64-bit lanes; the same result either way.
        bool small = true;
        for (size_t k = 0; k < comps; ++k)
            small = small && o.i[k] > -(1 << 30) && o.i[k] < (1 << 30);
        auto rotate = [&](auto zero) KZ_INLINE_LAMBDA {
            using L = decltype(zero);
            L* pat = scratch.Get<L>(seg);
            if (!pat)
                return KZ_ERR_OUT_OF_MEMORY;
            for (size_t j = 0; j < seg; ++j)
                pat[j] = o.i[j % comps];
            const L w = limit;
            KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
                SegmentedRows<T>(dst, dstRowBytes, src, srcRowBytes, comps, width, count, pat, seg,
                                 [mask, w](T v, L c) KZ_INLINE_LAMBDA {
                                     L x = L(v & mask) + c;
                                     x = x < 0 ? x + w : (x > w ? x - w : x);
                                     return static_cast<T>(x);
                                 });
            });
            return KZ_OK;
        };
        return small ? rotate(int32_t(0)) : rotate(int64_t(0));
    }
    if (op == Op::Add || op == Op::Sub) {
        using W = Wide<T>;
        W* pat = scratch.Get<W>(seg);
        if (!pat)
            return KZ_ERR_OUT_OF_MEMORY;
        for (size_t j = 0; j < seg; ++j) {
            int64_t c = o.i[j % comps];
            if (op == Op::Sub)
                c = -c;
            pat[j] = static_cast<W>(std::clamp<int64_t>(c, -int64_t(limit), int64_t(limit)));
        }
        const W wl = static_cast<W>(limit);
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            SegmentedRows<T>(dst, dstRowBytes, src, srcRowBytes, comps, width, count, pat, seg,
                             [mask, wl](T v, W c) KZ_INLINE_LAMBDA {
                                 W x = static_cast<W>(static_cast<W>(v & mask) + c);
                                 x = x < 0 ? W(0) : x;
                                 x = x > wl ? wl : x;
                                 return static_cast<T>(x);
                             });
        });
        return KZ_OK;
    }
    T* pat = scratch.Get<T>(seg);
    if (!pat)
        return KZ_ERR_OUT_OF_MEMORY;
    for (size_t j = 0; j < seg; ++j)
        pat[j] = std::min(static_cast<const T*>(o.sv)[j % comps], limit);
    const bool isMax = op == Op::Max;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        if (isMax)
            SegmentedRows<T>(dst, dstRowBytes, src, srcRowBytes, comps, width, count, pat, seg,
                             [mask](T v, T c) KZ_INLINE_LAMBDA {
                                 const T m = static_cast<T>(v & mask);
                                 return m > c ? m : c;
                             });
        else
            SegmentedRows<T>(dst, dstRowBytes, src, srcRowBytes, comps, width, count, pat, seg,
                             [mask](T v, T c) KZ_INLINE_LAMBDA {
                                 const T m = static_cast<T>(v & mask);
                                 return m < c ? m : c;
                             });
    });
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Table path of the 1-, 3- and 4-component members.
// ---------------------------------------------------------------------------

template <class T>
int TableArith(Op op, void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const Operands& o,
               size_t comps, kz_uint32 bits, kz_uint32 width, kz_uint32 count)
{
    const T limit = KzDepthLimit<T>(bits);
    const size_t rows = size_t(1) << bits;
    KzScratch scratch;
    T* block = scratch.Get<T>(rows * comps);
    if (!block)
        return KZ_ERR_OUT_OF_MEMORY;
    for (size_t v = 0; v < rows; ++v)
        for (size_t k = 0; k < comps; ++k)
            block[v * comps + k] = Entry<T>(op, o, k, v, limit);
    if constexpr (sizeof(T) == 1)
        kzk::ApplyBlockLut8(dst, dstRowBytes, src, srcRowBytes, block, kz_uint32(comps), kz_uint32(comps), limit,
                            width, count);
    else
        kzk::ApplyBlockLut16(dst, dstRowBytes, src, srcRowBytes, block, kz_uint32(comps), kz_uint32(comps), limit,
                             width, count);
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Per-sample path of the N-component members (multiply, power, wrap-around).
// ---------------------------------------------------------------------------

// Also used by the 1-, 3- and 4-component members for pictures with fewer
// samples than their table would have entries; they pass the depth's mask,
// so the result is the table's entry for the masked sample.
template <class T>
int PerSampleArith(Op op, void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes,
                   const Operands& o, size_t comps, kz_uint32 bits, kz_uint32 width, kz_uint32 count, T mask)
{
    const T limit = KzDepthLimit<T>(bits);
    KzForRows2<T, T>(dst, dstRowBytes, src, srcRowBytes, comps, width, count, [&](T* d, const T* s, size_t n) {
        for (size_t i = 0; i < n; i += comps)
            for (size_t k = 0; k < comps; ++k)
                d[i + k] = Entry<T>(op, o, k, s[i + k] & mask, limit);
    });
    return KZ_OK;
}

// Fixed-point division of the N-component members: q = trunc(c * S + 0.5),
// h = q / 2, sample = min((v * S + h) / q, M), all in 64-bit arithmetic. Every
// divisor is checked before anything is written: negative, NaN or too small
// to give q >= 1 is refused with KZ_ERR_FAILED. A divisor so large that q
// leaves the 64-bit range gives q = 2^63, hence 0 for every sample.
template <class T>
int FixedPointDivide(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const double* c,
                     size_t comps, kz_uint32 bits, uint64_t scale, kz_uint32 width, kz_uint32 count, uint64_t* q,
                     uint64_t* h)
{
    for (size_t k = 0; k < comps; ++k) {
        if (!(c[k] >= 0))
            return KZ_ERR_FAILED;
        const double x = c[k] * double(scale) + 0.5;
        const uint64_t qk = x >= 9223372036854775808.0 ? (uint64_t(1) << 63) : static_cast<uint64_t>(KzTruncToInt64(x));
        if (qk == 0)
            return KZ_ERR_FAILED;
        q[k] = qk;
        h[k] = qk / 2;
    }
    const uint64_t limit = KzDepthLimit<T>(bits);
    KzForRows2<T, T>(dst, dstRowBytes, src, srcRowBytes, comps, width, count, [&](T* d, const T* s, size_t n) {
        for (size_t i = 0; i < n; i += comps)
            for (size_t k = 0; k < comps; ++k) {
                const uint64_t r = (uint64_t(s[i + k]) * scale + h[k]) / q[k];
                d[i + k] = static_cast<T>(r < limit ? r : limit);
            }
    });
    return KZ_OK;
}

template <class T>
int DivideN(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const double* c,
            size_t comps, kz_uint32 bits, uint64_t scale, kz_uint32 width, kz_uint32 count)
{
    if (!BitsValid<T>(bits, 0))
        return KZ_ERR_OUT_OF_MEMORY;
    if (!c)
        return KZ_ERR_INVALID_ARG;
    if (comps == 0)
        return KZ_OK;
    KzScratch scratch;
    uint64_t* qh = scratch.Get<uint64_t>(comps * 2 >= comps ? comps * 2 : SIZE_MAX);
    if (!qh)
        return KZ_ERR_OUT_OF_MEMORY;
    return FixedPointDivide<T>(dst, dstRowBytes, src, srcRowBytes, c, comps, bits, scale, width, count, qh,
                               qh + comps);
}

// One member: validates, then picks the path once.
template <class T, unsigned C>
int Run(Op op, void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, const Operands& o,
        kz_uint32 components, kz_uint32 bits, kz_uint32 width, kz_uint32 count)
{
    if (!BitsValid<T>(bits, C))
        return KZ_ERR_OUT_OF_MEMORY;
    const size_t comps = CompsOf<C>(components);
    const bool hasOperand = (op == Op::Pow) || (op == Op::Max || op == Op::Min ? o.sv != nullptr
                                                 : (op == Op::Mul || op == Op::Div) ? o.d != nullptr
                                                                                     : o.i != nullptr);
    if (!hasOperand)
        return KZ_ERR_INVALID_ARG;
    if (KzRowCount(width, count) == 0 || comps == 0)
        return KZ_OK;
    switch (op) {
    case Op::Add:
    case Op::Sub:
    case Op::Max:
    case Op::Min:
        return DirectArith<T>(op, dst, dstRowBytes, src, srcRowBytes, o, comps, bits, width, count);
    case Op::Rotate:
    case Op::Mul:
    case Op::Div:
        // 16-bit tables are looked up one sample at a time, slower than this
        // arithmetic in vector registers; 8-bit tables are looked up 64
        // samples at a time where the processor allows it.
        if (C != 0 && sizeof(T) == 2)
            return DirectArith<T>(op, dst, dstRowBytes, src, srcRowBytes, o, comps, bits, width, count);
        break;
    default:
        break;
    }
    if constexpr (C != 0) {
        const size_t samples = KzRowCount(width, count) * width * comps;
        if (samples >= (size_t(1) << bits) * comps)
            return TableArith<T>(op, dst, dstRowBytes, src, srcRowBytes, o, comps, bits, width, count);
        return PerSampleArith<T>(op, dst, dstRowBytes, src, srcRowBytes, o, comps, bits, width, count,
                                 KzDepthLimit<T>(bits));
    } else {
        return PerSampleArith<T>(op, dst, dstRowBytes, src, srcRowBytes, o, comps, bits, width, count,
                                 std::numeric_limits<T>::max());
    }
}

Operands IntOps(const int* c)
{
    Operands o;
    o.i = c;
    return o;
}
Operands SampleOps(const void* c)
{
    Operands o;
    o.sv = c;
    return o;
}
Operands DoubleOps(const double* c)
{
    Operands o;
    o.d = c;
    return o;
}

// Masking: sample AND mask over the row's samples only.
template <class T>
int MaskOut(void* pic, kz_uint32 rowBytes, kz_uint32 mask, size_t comps, kz_uint32 width, kz_uint32 count)
{
    const T m = static_cast<T>(mask);
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        KzForRows1<T>(pic, rowBytes, comps, width, count, [m](T* p, size_t n) KZ_INLINE_LAMBDA {
            for (size_t i = 0; i < n; ++i)
                p[i] = static_cast<T>(p[i] & m);
        });
    });
    return KZ_OK;
}

} // namespace

#define KZK_ARGS void *dst, kz_uint32 dstRowBytes, const void *src, kz_uint32 srcRowBytes
#define KZK_PASS dst, dstRowBytes, src, srcRowBytes
#define KZK_TAILARGS kz_uint32 components, kz_uint32 bits, kz_uint32 width, kz_uint32 count
#define KZK_TAILPASS components, bits, width, count

#define KZK_MEMBER(stem, fmt, T, C, OP, CT, MAKE)                                                    \
    KZ_CAPI int stem##_##fmt(KZK_ARGS, const CT* c, KZK_TAILARGS)                                    \
    {                                                                                                \
        return Run<T, C>(OP, KZK_PASS, MAKE(c), KZK_TAILPASS);                                       \
    }
#define KZK_FAMILY(stem, OP, CT8, CT16, MAKE)                                                        \
    KZK_MEMBER(stem, 1x8, u8, 1, OP, CT8, MAKE)                                                      \
    KZK_MEMBER(stem, 3x8, u8, 3, OP, CT8, MAKE)                                                      \
    KZK_MEMBER(stem, 4x8, u8, 4, OP, CT8, MAKE)                                                      \
    KZK_MEMBER(stem, Nx8, u8, 0, OP, CT8, MAKE)                                                      \
    KZK_MEMBER(stem, 1x16, u16, 1, OP, CT16, MAKE)                                                   \
    KZK_MEMBER(stem, 3x16, u16, 3, OP, CT16, MAKE)                                                   \
    KZK_MEMBER(stem, 4x16, u16, 4, OP, CT16, MAKE)                                                   \
    KZK_MEMBER(stem, Nx16, u16, 0, OP, CT16, MAKE)

KZK_FAMILY(addconstandclip, Op::Add, int, int, IntOps)
KZK_FAMILY(addconstrotate, Op::Rotate, int, int, IntOps)
KZK_FAMILY(subconstandclip, Op::Sub, int, int, IntOps)
KZK_FAMILY(maxconstandclip, Op::Max, u8, u16, SampleOps)
KZK_FAMILY(minconstandclip, Op::Min, u8, u16, SampleOps)
KZK_FAMILY(mulconstandclip, Op::Mul, double, double, DoubleOps)

// Divide: the fixed-count members use the reciprocal table, the N members
// fixed point.
KZK_MEMBER(divconstandclip, 1x8, u8, 1, Op::Div, double, DoubleOps)
KZK_MEMBER(divconstandclip, 3x8, u8, 3, Op::Div, double, DoubleOps)
KZK_MEMBER(divconstandclip, 4x8, u8, 4, Op::Div, double, DoubleOps)
KZK_MEMBER(divconstandclip, 1x16, u16, 1, Op::Div, double, DoubleOps)
KZK_MEMBER(divconstandclip, 3x16, u16, 3, Op::Div, double, DoubleOps)
KZK_MEMBER(divconstandclip, 4x16, u16, 4, Op::Div, double, DoubleOps)

KZ_CAPI int divconstandclip_Nx8(KZK_ARGS, const double* c, KZK_TAILARGS)
{
    return DivideN<u8>(KZK_PASS, c, components, bits, 4096, width, count);
}
KZ_CAPI int divconstandclip_Nx16(KZK_ARGS, const double* c, KZK_TAILARGS)
{
    return DivideN<u16>(KZK_PASS, c, components, bits, 256, width, count);
}
KZ_CAPI int divconstandclip_Nx32(KZK_ARGS, const double* c, KZK_TAILARGS)
{
    return DivideN<u32>(KZK_PASS, c, components, bits, 65536, width, count);
}
KZ_CAPI int divconstandclip_5x32(KZK_ARGS, const double* c, KZK_TAILARGS)
{
    return DivideN<u32>(KZK_PASS, c, 5, bits, 65536, width, count);
}

#define KZK_POWMEMBER(fmt, T, C)                                                                     \
    KZ_CAPI int addmulpowconstandclip_##fmt(KZK_ARGS, const double* add, const double* mul,         \
                                            const double* power, KZK_TAILARGS)                       \
    {                                                                                                \
        Operands o;                                                                                  \
        o.pa = add;                                                                                  \
        o.pm = mul;                                                                                  \
        o.pp = power;                                                                                \
        return Run<T, C>(Op::Pow, KZK_PASS, o, KZK_TAILPASS);                                        \
    }
KZK_POWMEMBER(1x8, u8, 1)
KZK_POWMEMBER(3x8, u8, 3)
KZK_POWMEMBER(4x8, u8, 4)
KZK_POWMEMBER(Nx8, u8, 0)
KZK_POWMEMBER(1x16, u16, 1)
KZK_POWMEMBER(3x16, u16, 3)
KZK_POWMEMBER(4x16, u16, 4)
KZK_POWMEMBER(Nx16, u16, 0)

KZ_CAPI int maskout_1x8(void* pic, kz_uint32 rowBytes, kz_uint32 mask, kz_uint32 width, kz_uint32 count)
{
    return MaskOut<u8>(pic, rowBytes, mask, 1, width, count);
}
KZ_CAPI int maskout_1x16(void* pic, kz_uint32 rowBytes, kz_uint32 mask, kz_uint32 width, kz_uint32 count)
{
    return MaskOut<u16>(pic, rowBytes, mask, 1, width, count);
}
KZ_CAPI int maskout_3x8(void* pic, kz_uint32 rowBytes, kz_uint32 mask, kz_uint32 width, kz_uint32 count)
{
    return MaskOut<u8>(pic, rowBytes, mask, 3, width, count);
}
KZ_CAPI int maskout_3x16(void* pic, kz_uint32 rowBytes, kz_uint32 mask, kz_uint32 width, kz_uint32 count)
{
    return MaskOut<u16>(pic, rowBytes, mask, 3, width, count);
}
KZ_CAPI int maskout_Nx8(void* pic, kz_uint32 rowBytes, kz_uint32 mask, kz_uint32 components, kz_uint32 width,
                        kz_uint32 count)
{
    return MaskOut<u8>(pic, rowBytes, mask, components, width, count);
}
KZ_CAPI int maskout_Nx16(void* pic, kz_uint32 rowBytes, kz_uint32 mask, kz_uint32 components, kz_uint32 width,
                         kz_uint32 count)
{
    return MaskOut<u16>(pic, rowBytes, mask, components, width, count);
}
