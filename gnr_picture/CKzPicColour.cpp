// Colour spaces of three-component pictures (blue-green-red against
// intensity-saturation-hue and Y-Cr-Cb), the arc-cosine table of the hue, and
// the scale helpers. Every pixel is computed in double precision by the same
// sequence of operations at every instruction set, so results do not depend
// on the processor.
#pragma GCC optimize("O3", "fp-contract=off", "no-trapping-math", "no-math-errno")
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/internal/KzPicBands.h"
#include "gnr_system/CKzAlloc.h"

#include <immintrin.h>

// GCC 12 warns about the undefined upper halves inside its own widening
// intrinsics; nothing here reads uninitialised data.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <algorithm>
#include <cmath>
#include <cstring>

double* g_AcosLUTs = nullptr;

const double CKzPicMemAPI::pdRGBOptWeights[4] = {0.3, 0.59, 0.11, 0};
const double CKzPicMemAPI::pdRGBStdWeights[4] = {1.0 / 3, 1.0 / 3, 1.0 / 3, 0};
int CKzPicMemAPI::s_piCPUInfo[4] = {-1, -1, -1, 0};
bool CKzPicMemAPI::s_bCPUInfoInited = false;

namespace {

constexpr int kAcosEntries = 10001;

void FillAcos(double* t)
{
    t[0] = M_PI;
    for (int i = 1; i < kAcosEntries; ++i)
        t[i] = std::acos(i * 0.0002 - 1);
}

// The host's table when it set one, else one built at the first use
// (thread-safe) and never stored into the exported pointer.
const double* AcosTable()
{
    if (const double* host = g_AcosLUTs)
        return host;
    static const double* own = [] {
        static double t[kAcosEntries];
        FillAcos(t);
        return t;
    }();
    return own;
}

// Scale of a transform: 8-bit pictures use 0..255, all others 0..65535.
template <class T>
struct Scale;
template <>
struct Scale<u8> {
    static constexpr double S = 255;
    static constexpr double Unit = 256;
    static constexpr double Mid = 128;
    static constexpr double CrK = 182.528;
    static constexpr double CbK = 144.384;
    static constexpr double HueAngle = 0.024639942381096472;
    static constexpr double SatFactor = 1.0 / 255;
};
template <>
struct Scale<u16> {
    static constexpr double S = 65535;
    static constexpr double Unit = 65536;
    static constexpr double Mid = 32768;
    static constexpr double CrK = 46727.168;
    static constexpr double CbK = 36962.304;
    static constexpr double HueAngle = 9.587526218325476e-5;
    static constexpr double SatFactor = 1.0 / 65535;
};

constexpr double kInvTwoPi = 0.15915494309189498;

// x clamped to 0..top, then truncated, as a double (branch-free). Values in
// 0..65535 truncate exactly through the 32-bit conversion, which vectorises
// on every instruction set (a rounding instruction needs SSE4.1).
KZ_ALWAYS_INLINE double ClampTruncD(double x, double top)
{
    x = x > 0 ? x : 0.0;
    x = x > top ? top : x;
    return double(int32_t(x));
}

// Truncation toward zero of a value known to lie well inside the int32 range.
KZ_ALWAYS_INLINE double TruncSmall(double x) { return double(int32_t(x)); }

// x clamped to 0..top, then truncated.
template <class T>
inline T ClampTrunc(double x, double top)
{
    if (!(x > 0))
        return 0;
    if (x > top)
        return T(top);
    return T(x);
}

// Blue, green, red to intensity, saturation, hue. Written without branches
// (grey pixels select their own result, and never divide by zero) so that
// the row loop vectorises; every value is computed by the same operations as
// a plain per-pixel evaluation.
template <class T>
KZ_ALWAYS_INLINE void RgbToIhsD(const double* acos, double R, double G, double B, double& I, double& S, double& H)
{
    using K = Scale<T>;
    const bool grey = (B == G) & (G == R);
    const double sum = R + G + B;
    const double mn = std::min(std::min(R, G), B);
    const double sumS = grey ? 1.0 : sum;
    double den = (G - B) * (R - B) + (R - G) * (R - G);
    den = grey ? 1.0 : den;
    const double x = (2 * R - G - B) / 2 / std::sqrt(den);
    double idx = TruncSmall((x + 1) * 5000);
    idx = idx < 0 ? 0 : idx;
    idx = idx > 10000 ? 10000 : idx;
    const double f = acos[int(idx)] * kInvTwoPi;
    const double hue = B > G ? TruncSmall((1 - f) * K::S + 0.5) : TruncSmall(f * K::S + 0.5);
    I = grey ? R : TruncSmall(sum / 3 + 0.5);
    S = grey ? 0.0 : TruncSmall((1 - 3 * mn / sumS) * K::S + 0.5);
    H = grey ? 0.0 : hue;
}

template <class T>
inline void RgbToIhs(const double* acos, T b, T g, T r, T& i, T& s, T& h)
{
    double I, S, H;
    RgbToIhsD<T>(acos, r, g, b, I, S, H);
    i = T(I);
    s = T(S);
    h = T(H);
}

// Intensity, saturation, hue to blue, green, red.
template <class T>
inline void IhsToRgb(T I, T S, T H, T& b, T& g, T& r)
{
    using K = Scale<T>;
    if (I == 0) {
        b = g = r = 0;
        return;
    }
    if (S == 0) {
        b = g = r = I;
        return;
    }
    double angle = H * K::HueAngle;
    const double s = S * K::SatFactor;
    const double low = (1 - s) / 3;
    double fb, fg, fr;
    if (angle <= 2.0943951023932) {
        fb = low;
        fr = (1 + s * std::cos(angle) / std::cos(1.0471975511966 - angle)) / 3;
        fg = 1 - fr - fb;
    } else if (angle <= 4.1887902047864) {
        angle -= 2.0943951023932;
        fr = low;
        fg = (1 + s * std::cos(angle) / std::cos(1.0471975511966 - angle)) / 3;
        fb = 1 - fr - fg;
    } else {
        angle -= 4.1887902047864;
        fg = low;
        fb = (1 + s * std::cos(angle) / std::cos(1.0471975511966 - angle)) / 3;
        fr = 1 - fg - fb;
    }
    const double three = 3.0 * I;
    b = ClampTrunc<T>(fb * three, K::S);
    g = ClampTrunc<T>(fg * three, K::S);
    r = ClampTrunc<T>(fr * three, K::S);
}

template <class T>
KZ_ALWAYS_INLINE void RgbToYcc(T b, T g, T r, T& Y, T& Cr, T& Cb)
{
    using K = Scale<T>;
    const double rr = r / K::Unit, gg = g / K::Unit, bb = b / K::Unit;
    const double y = 0.299 * rr + 0.587 * gg + 0.114 * bb;
    Y = ClampTrunc<T>(y * K::Unit, K::S);
    Cr = ClampTrunc<T>((rr - y) * K::CrK + K::Mid, K::S);
    Cb = ClampTrunc<T>((bb - y) * K::CbK + K::Mid, K::S);
}

template <class T>
KZ_ALWAYS_INLINE void YccToRgb(T Y, T Cr, T Cb, T& b, T& g, T& r)
{
    using K = Scale<T>;
    const double y = Y / K::Unit;
    const double bb = y + (Cb - K::Mid) / K::CbK;
    const double rr = y + (Cr - K::Mid) / K::CrK;
    const double gg = (y - 0.299 * rr - 0.114 * bb) * K::Unit / 0.587;
    b = ClampTrunc<T>(bb * K::Unit, K::S);
    g = ClampTrunc<T>(gg, K::S);
    r = ClampTrunc<T>(rr * K::Unit, K::S);
}

enum class Conv { RgbToIhs, IhsToRgb, RgbToYcc, YccToRgb };

// Pixels of a row go through in chunks: deinterleaved into three arrays of
// doubles, transformed by a loop the compiler vectorises, written back.
constexpr size_t kChunk = 256;

// Intensity, saturation and hue of n pixels held as three arrays of doubles
// (blue, green, red in; intensity, saturation, hue out, in place).
template <class T>
void IhsScalar(const double* acos, double* b, double* g, double* r, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        double I, S, H;
        RgbToIhsD<T>(acos, r[i], g[i], b[i], I, S, H);
        b[i] = I;
        g[i] = S;
        r[i] = H;
    }
}

// The same four pixels at a time with AVX2: the same operations in the same
// order (every one correctly rounded), selects instead of branches.
// Truncation toward zero of four doubles, kept as doubles. A function of its
// own (not a lambda): a lambda does not take its enclosing function's target
// under every compiler.
KZ_TARGET_AVX2 inline __m256d TruncPd4(__m256d v)
{
    return _mm256_cvtepi32_pd(_mm256_cvttpd_epi32(v));
}

template <class T>
KZ_TARGET_AVX2 __attribute__((noinline)) void IhsAvx2(const double* acos, double* b, double* g, double* r, size_t n)
{
    using K = Scale<T>;
    const __m256d one = _mm256_set1_pd(1.0), two = _mm256_set1_pd(2.0), three = _mm256_set1_pd(3.0),
                  half = _mm256_set1_pd(0.5), k5000 = _mm256_set1_pd(5000.0), scale = _mm256_set1_pd(K::S),
                  inv2pi = _mm256_set1_pd(kInvTwoPi), zero = _mm256_setzero_pd();
    const __m128i lo = _mm_setzero_si128(), hi = _mm_set1_epi32(10000);
    size_t i = 0;
    for (; i + 4 <= n; i += 4) {
        const __m256d B = _mm256_loadu_pd(b + i), G = _mm256_loadu_pd(g + i), R = _mm256_loadu_pd(r + i);
        const __m256d grey = _mm256_and_pd(_mm256_cmp_pd(B, G, _CMP_EQ_OQ), _mm256_cmp_pd(G, R, _CMP_EQ_OQ));
        const __m256d sum = _mm256_add_pd(_mm256_add_pd(R, G), B);
        const __m256d mn = _mm256_min_pd(_mm256_min_pd(R, G), B);
        const __m256d sumS = _mm256_blendv_pd(sum, one, grey);
        __m256d den = _mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(G, B), _mm256_sub_pd(R, B)),
                                    _mm256_mul_pd(_mm256_sub_pd(R, G), _mm256_sub_pd(R, G)));
        den = _mm256_blendv_pd(den, one, grey);
        const __m256d num = _mm256_sub_pd(_mm256_sub_pd(_mm256_mul_pd(two, R), G), B);
        const __m256d x = _mm256_div_pd(_mm256_div_pd(num, two), _mm256_sqrt_pd(den));
        __m128i k = _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_add_pd(x, one), k5000));
        k = _mm_min_epi32(_mm_max_epi32(k, lo), hi);
        const __m256d f = _mm256_mul_pd(_mm256_i32gather_pd(acos, k, 8), inv2pi);
        const __m256d hueUp = TruncPd4(_mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(one, f), scale), half));
        const __m256d hueDown = TruncPd4(_mm256_add_pd(_mm256_mul_pd(f, scale), half));
        const __m256d hue = _mm256_blendv_pd(hueDown, hueUp, _mm256_cmp_pd(B, G, _CMP_GT_OQ));
        const __m256d I = TruncPd4(_mm256_add_pd(_mm256_div_pd(sum, three), half));
        const __m256d S =
            TruncPd4(_mm256_add_pd(_mm256_mul_pd(_mm256_sub_pd(one, _mm256_div_pd(_mm256_mul_pd(three, mn), sumS)), scale),
                                half));
        _mm256_storeu_pd(b + i, _mm256_blendv_pd(I, R, grey));
        _mm256_storeu_pd(g + i, _mm256_blendv_pd(S, zero, grey));
        _mm256_storeu_pd(r + i, _mm256_blendv_pd(hue, zero, grey));
    }
    IhsScalar<T>(acos, b + i, g + i, r + i, n - i);
}

template <class T>
KZ_ALWAYS_INLINE void ChunkIhs(const double* acos, const T* in, T* p, size_t n, bool avx2)
{
    // Three arrays in one block, staggered so that the same index of two
    // arrays never lies a multiple of 4 KiB apart (loads would wait on
    // unrelated stores).
    alignas(64) double block[3 * kChunk + 16];
    double* a = block;
    double* b = block + kChunk + 8;
    double* c = block + 2 * kChunk + 16;
    for (size_t i = 0; i < n; ++i) {
        a[i] = in[3 * i];
        b[i] = in[3 * i + 1];
        c[i] = in[3 * i + 2];
    }
    if (avx2)
        IhsAvx2<T>(acos, a, b, c, n);
    else
        IhsScalar<T>(acos, a, b, c, n);
    for (size_t i = 0; i < n; ++i) {
        p[3 * i] = T(a[i]);
        p[3 * i + 1] = T(b[i]);
        p[3 * i + 2] = T(c[i]);
    }
}

// Y, Cr, Cb of n pixels held as three arrays of doubles (blue, green, red in;
// Y, Cr, Cb out, in place).
template <class T>
KZ_ALWAYS_INLINE void YccLoop(double* a, double* b, double* c, size_t n)
{
    using K = Scale<T>;
    for (size_t i = 0; i < n; ++i) {
        const double rr = c[i] / K::Unit, gg = b[i] / K::Unit, bb = a[i] / K::Unit;
        const double y = 0.299 * rr + 0.587 * gg + 0.114 * bb;
        a[i] = ClampTruncD(y * K::Unit, K::S);
        b[i] = ClampTruncD((rr - y) * K::CrK + K::Mid, K::S);
        c[i] = ClampTruncD((bb - y) * K::CbK + K::Mid, K::S);
    }
}

// Y, Cr, Cb with AVX-512, eight pixels per vector, truncated to int32 lanes;
// equal to YccLoop's results. The unit is a power of two, and scaling by a
// power of two commutes with every rounding: y * unit is 0.299 r + 0.587 g +
// 0.114 b evaluated on the raw samples (same operations, same order), and
// (rr - y) * CrK equals (r - y * unit) * (CrK / unit). No lane is
// negative: Y is a sum of non-negative terms, Cr stays at least Mid - 0.713 *
// 0.701 * S and Cb at least Mid - 0.564 * 0.886 * S. So the clamp to 0..S is
// left to the caller's unsigned saturating narrowing (truncating, then
// limiting to S, equals limiting, then truncating, for values >= 0).
template <class T>
KZ_TARGET_AVX512 inline void YccLanes(__m512d b, __m512d g, __m512d r, __m256i& Y, __m256i& Cr, __m256i& Cb)
{
    using K = Scale<T>;
    const __m512d mid = _mm512_set1_pd(K::Mid), crk = _mm512_set1_pd(K::CrK / K::Unit),
                  cbk = _mm512_set1_pd(K::CbK / K::Unit),
                  kr = _mm512_set1_pd(0.299), kg = _mm512_set1_pd(0.587), kb = _mm512_set1_pd(0.114);
    const __m512d y = _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(kr, r), _mm512_mul_pd(kg, g)), _mm512_mul_pd(kb, b));
    Y = _mm512_cvttpd_epi32(y);
    Cr = _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(r, y), crk), mid));
    Cb = _mm512_cvttpd_epi32(_mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(b, y), cbk), mid));
}

// Eight bytes or words (the low half of v) widened to doubles, and two
// halves of int32 lanes narrowed to 16 bytes.
KZ_TARGET_AVX512 inline __m512d Bytes8ToPd(__m128i v) { return _mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(v)); }
[[maybe_unused]] KZ_TARGET_AVX512 inline __m512d Words8ToPd(__m128i v) { return _mm512_cvtepi32_pd(_mm256_cvtepu16_epi32(v)); }
KZ_TARGET_AVX512 inline __m128i NarrowTo8(__m256i lo, __m256i hi)
{
    return _mm512_cvtusepi32_epi8(_mm512_inserti64x4(_mm512_castsi256_si512(lo), hi, 1));
}

// A whole row of 8-bit pixels with AVX-512, without the double arrays: 16
// pixels (48 bytes) per step, split into components by one byte permutation,
// widened to doubles, and the three results interleaved by another. The tail
// goes through the same code under load and store masks. In place is safe:
// each step reads its bytes before writing them.
KZ_TARGET_AVX512 __attribute__((noinline)) void YccRow8Avx512(const u8* in, u8* out, size_t n)
{
    alignas(64) static constexpr uint8_t kSplit[64] = {
        0,  3,  6,  9,  12, 15, 18, 21, 24, 27, 30, 33, 36, 39, 42, 45,  // blue
        1,  4,  7,  10, 13, 16, 19, 22, 25, 28, 31, 34, 37, 40, 43, 46,  // green
        2,  5,  8,  11, 14, 17, 20, 23, 26, 29, 32, 35, 38, 41, 44, 47,  // red
        0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0};
    alignas(64) static constexpr uint8_t kJoin[64] = {
        0,  16, 32, 1,  17, 33, 2,  18, 34, 3,  19, 35, 4,  20, 36, 5,  21, 37, 6,  22, 38, 7,
        23, 39, 8,  24, 40, 9,  25, 41, 10, 26, 42, 11, 27, 43, 12, 28, 44, 13, 29, 45, 14, 30,
        46, 15, 31, 47, 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0};
    const __m512i split = _mm512_load_si512(kSplit), join = _mm512_load_si512(kJoin);
    // Masked loads and stores are slow on some processors: steps with at
    // least 64 bytes left in the row use a plain load (the bytes past the
    // step are not used) and two plain stores of the 48 bytes.
    for (size_t x = 0; x < n; x += 16) {
        const size_t m = n - x < 16 ? n - x : 16;
        const bool whole = n - x >= 22;
        const __mmask64 k = m == 16 ? __mmask64(0xFFFFFFFFFFFFull) : (__mmask64(1) << (3 * m)) - 1;
        const __m512i v = _mm512_permutexvar_epi8(
            split, whole ? _mm512_loadu_si512(in + 3 * x) : _mm512_maskz_loadu_epi8(k, in + 3 * x));
        const __m128i b = _mm512_castsi512_si128(v), g = _mm512_extracti32x4_epi32(v, 1),
                      r = _mm512_extracti32x4_epi32(v, 2);
        __m256i y0, cr0, cb0, y1, cr1, cb1;
        YccLanes<u8>(Bytes8ToPd(b), Bytes8ToPd(g), Bytes8ToPd(r), y0, cr0, cb0);
        YccLanes<u8>(Bytes8ToPd(_mm_srli_si128(b, 8)), Bytes8ToPd(_mm_srli_si128(g, 8)), Bytes8ToPd(_mm_srli_si128(r, 8)), y1, cr1,
                     cb1);
        __m512i o = _mm512_castsi128_si512(NarrowTo8(y0, y1));
        o = _mm512_inserti32x4(o, NarrowTo8(cr0, cr1), 1);
        o = _mm512_inserti32x4(o, NarrowTo8(cb0, cb1), 2);
        o = _mm512_permutexvar_epi8(join, o);
        if (whole) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 3 * x), _mm512_castsi512_si256(o));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 32), _mm512_extracti32x4_epi32(o, 2));
        } else {
            _mm512_mask_storeu_epi8(out + 3 * x, k, o);
        }
    }
}

// The same for 16-bit pixels: 8 pixels (48 bytes) per step, with no widening
// or narrowing instructions. One two-source word permutation puts each
// component's words into the low 16 bits of 64-bit lanes whose high word is
// 0x4330 (the bits of 2^52), so subtracting 2^52 yields the samples as
// doubles exactly. On the way out, adding 2^52 rounded toward zero leaves
// 2^52 + trunc(v) for 0 <= v < 2^52 (the spacing of doubles there is 1), so
// the low word of each lane is the truncated result. No clamp is needed: as
// YccLanes notes, no value is negative, and none reaches 65536 either (Y is
// at most 65535 times the sum of the weights, about 1; Cr at most Mid +
// 0.713 * 0.701 * S, about 65523; Cb at most Mid + 0.564 * 0.886 * S, about
// 65516). Two more permutations interleave the three results.
KZ_TARGET_AVX512 inline __m512i Ycc16Lane(__m512d v)
{
    const __m512d two52 = _mm512_set1_pd(4503599627370496.0);
    return _mm512_castpd_si512(_mm512_add_round_pd(v, two52, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
}

KZ_TARGET_AVX512 __attribute__((noinline)) void YccRow16Avx512(const u16* in, u16* out, size_t n)
{
    using K = Scale<u16>;
    // Word 32 of the second source is 0, word 35 is 0x4330.
    alignas(64) static constexpr uint16_t kB[32] = {0,  32, 32, 35, 3,  32, 32, 35, 6,  32, 32, 35, 9,  32, 32, 35,
                                                    12, 32, 32, 35, 15, 32, 32, 35, 18, 32, 32, 35, 21, 32, 32, 35};
    alignas(64) static constexpr uint16_t kG[32] = {1,  32, 32, 35, 4,  32, 32, 35, 7,  32, 32, 35, 10, 32, 32, 35,
                                                    13, 32, 32, 35, 16, 32, 32, 35, 19, 32, 32, 35, 22, 32, 32, 35};
    alignas(64) static constexpr uint16_t kR[32] = {2,  32, 32, 35, 5,  32, 32, 35, 8,  32, 32, 35, 11, 32, 32, 35,
                                                    14, 32, 32, 35, 17, 32, 32, 35, 20, 32, 32, 35, 23, 32, 32, 35};
    // Y and Cr of pixel p sit at word 4p of their vectors; the first
    // permutation places them, the second fills in Cb.
    alignas(64) static constexpr uint16_t kYCr[32] = {0,  32, 0, 4,  36, 0, 8,  40, 0, 12, 44, 0, 16, 48, 0, 20,
                                                      52, 0,  24, 56, 0, 28, 60, 0, 0,  0,  0,  0, 0,  0,  0, 0};
    alignas(64) static constexpr uint16_t kCb[32] = {0,  1,  32, 3,  4,  36, 6,  7,  40, 9,  10, 44, 12, 13, 48, 15,
                                                     16, 52, 18, 19, 56, 21, 22, 60, 0,  0,  0,  0,  0,  0,  0,  0};
    const __m512i ib = _mm512_load_si512(kB), ig = _mm512_load_si512(kG), ir = _mm512_load_si512(kR),
                  iycr = _mm512_load_si512(kYCr), icb = _mm512_load_si512(kCb),
                  magic = _mm512_set1_epi64(0x4330000000000000ll);
    const __m512d two52 = _mm512_castsi512_pd(magic), mid = _mm512_set1_pd(K::Mid),
                  crk = _mm512_set1_pd(K::CrK / K::Unit), cbk = _mm512_set1_pd(K::CbK / K::Unit),
                  kr = _mm512_set1_pd(0.299), kg = _mm512_set1_pd(0.587), kb = _mm512_set1_pd(0.114);
    // Masked loads and stores are slow on some processors, so steps with at
    // least 32 words left in the row use a plain 64-byte load (the words past
    // the step are not used) and two plain stores of the 48 bytes.
    for (size_t x = 0; x < n; x += 8) {
        const size_t m = n - x < 8 ? n - x : 8;
        const bool whole = n - x >= 11;
        const __mmask32 k = m == 8 ? __mmask32(0xFFFFFF) : (__mmask32(1) << (3 * m)) - 1;
        const __m512i v = whole ? _mm512_loadu_si512(in + 3 * x) : _mm512_maskz_loadu_epi16(k, in + 3 * x);
        const __m512d b = _mm512_sub_pd(_mm512_castsi512_pd(_mm512_permutex2var_epi16(v, ib, magic)), two52);
        const __m512d g = _mm512_sub_pd(_mm512_castsi512_pd(_mm512_permutex2var_epi16(v, ig, magic)), two52);
        const __m512d r = _mm512_sub_pd(_mm512_castsi512_pd(_mm512_permutex2var_epi16(v, ir, magic)), two52);
        const __m512d y =
            _mm512_add_pd(_mm512_add_pd(_mm512_mul_pd(kr, r), _mm512_mul_pd(kg, g)), _mm512_mul_pd(kb, b));
        const __m512i Y = Ycc16Lane(y);
        const __m512i Cr = Ycc16Lane(_mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(r, y), crk), mid));
        const __m512i Cb = Ycc16Lane(_mm512_add_pd(_mm512_mul_pd(_mm512_sub_pd(b, y), cbk), mid));
        const __m512i o = _mm512_permutex2var_epi16(_mm512_permutex2var_epi16(Y, iycr, Cr), icb, Cb);
        if (whole) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 3 * x), _mm512_castsi512_si256(o));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 3 * x + 16), _mm512_extracti32x4_epi32(o, 2));
        } else {
            _mm512_mask_storeu_epi16(out + 3 * x, k, o);
        }
    }
}

template <class T>
KZ_ALWAYS_INLINE void ChunkYcc(const T* in, T* p, size_t n)
{
    // Three arrays in one block, staggered so that the same index of two
    // arrays never lies a multiple of 4 KiB apart (loads would wait on
    // unrelated stores).
    alignas(64) double block[3 * kChunk + 16];
    double* a = block;
    double* b = block + kChunk + 8;
    double* c = block + 2 * kChunk + 16;
    for (size_t i = 0; i < n; ++i) {
        a[i] = in[3 * i];
        b[i] = in[3 * i + 1];
        c[i] = in[3 * i + 2];
    }
    YccLoop<T>(a, b, c, n);
    for (size_t i = 0; i < n; ++i) {
        p[3 * i] = T(a[i]);
        p[3 * i + 1] = T(b[i]);
        p[3 * i + 2] = T(c[i]);
    }
}

// Transforms every pixel of the source rows (at the picture's depth) into
// the picture; the source may be the picture itself.
template <class T>
void TransformRows(SKzPicBuf* pic, const u8* srcBase, u32 srcStride, Conv conv)
{
    const double* acos = conv == Conv::RgbToIhs ? AcosTable() : nullptr;
    const bool avx2 = KzCpuIsa() != KzIsa::Base;
    const bool avx512 = KzCpuIsa() == KzIsa::Avx512;
    const size_t w = pic->uiWidth;
    for (u32 row = 0; row < pic->uiHeight; ++row) {
        T* p = reinterpret_cast<T*>(pic->pData + size_t(row) * pic->uiWidthBytes);
        const T* in = reinterpret_cast<const T*>(srcBase + size_t(row) * srcStride);
        switch (conv) {
        case Conv::RgbToIhs:
            KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
                for (size_t x = 0; x < w; x += kChunk)
                    ChunkIhs<T>(acos, in + 3 * x, p + 3 * x, w - x < kChunk ? w - x : kChunk, avx2);
            });
            break;
        case Conv::IhsToRgb:
            for (size_t x = 0; x < w; ++x, p += 3, in += 3)
                IhsToRgb<T>(in[0], in[1], in[2], p[0], p[1], p[2]);
            break;
        case Conv::RgbToYcc:
            if (avx512) {
                if constexpr (sizeof(T) == 1)
                    YccRow8Avx512(in, p, w);
                else
                    YccRow16Avx512(in, p, w);
                break;
            }
            KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
                for (size_t x = 0; x < w; x += kChunk)
                    ChunkYcc<T>(in + 3 * x, p + 3 * x, w - x < kChunk ? w - x : kChunk);
            });
            break;
        case Conv::YccToRgb:
            KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
                T* q = p;
                const T* s = in;
                for (size_t x = 0; x < w; ++x, q += 3, s += 3)
                    YccToRgb<T>(s[0], s[1], s[2], q[0], q[1], q[2]);
            });
            break;
        }
    }
}

bool HoldsShape(const SKzPicBuf* p)
{
    if (p->uiWidth == 0 || p->uiHeight == 0)
        return true;
    return p->pData && u64(p->uiWidth) * p->uiComp * CKzPicBufAPI::CalcCompSize(p->uiBpc) <= p->uiWidthBytes &&
           u64(p->uiHeight) * p->uiWidthBytes <= p->uiSize;
}

// Shifts (or copies) the source into the destination at depth `bits`, in
// row bands whose pixel count fits the dispatch.
kz_result DepthInto(SKzPicBuf* dst, unsigned dstBits, const void* src, unsigned srcBits, unsigned srcStride)
{
    return KzForRowBands(dst->uiWidth, dst->uiHeight, [&](u32 r0, u32 rows) {
        return CKzPicMemAPI::ConvertBitDepthViaShifts(dst->pData + size_t(r0) * dst->uiWidthBytes, dstBits,
                                                      dst->uiWidthBytes,
                                                      static_cast<const u8*>(src) + size_t(r0) * srcStride, srcBits,
                                                      srcStride, 3, dst->uiWidth, dst->uiWidth * rows);
    });
}

kz_result ConvertPicture(SKzPicBuf* dst, SKzPicBuf* src, Conv conv)
{
    if (!CKzPicBufAPI::Check(dst, src, CKzPicBufAPI::eCheckSizeComp) || dst->uiComp != 3)
        return KZ_ERR_FAILED;
    const unsigned db = dst->uiBpc;
    if (db < 8 || db > 16 || src->uiBpc < 8 || src->uiBpc > 16 || !HoldsShape(dst) || !HoldsShape(src))
        return KZ_ERR_FAILED;
    const unsigned work = db == 8 ? 8 : 16;
    kz_result r = KZ_OK;
    const u8* from = src->pData;
    u32 fromStride = src->uiWidthBytes;
    if (src->uiBpc != work || db != work) {
        // Brought to the working depth in the destination first.
        r = DepthInto(dst, work, src->pData, src->uiBpc, src->uiWidthBytes);
        if (r != KZ_OK)
            return r;
        from = dst->pData;
        fromStride = dst->uiWidthBytes;
    }
    if (work == 8)
        TransformRows<u8>(dst, from, fromStride, conv);
    else
        TransformRows<u16>(dst, from, fromStride, conv);
    if (db != work)
        r = DepthInto(dst, db, dst->pData, work, dst->uiWidthBytes);
    return r;
}

} // namespace

double* CreateAcosLUTs()
{
    double* t = static_cast<double*>(CKzAlloc::Alloc(1, kAcosEntries * sizeof(double)));
    if (t)
        FillAcos(t);
    return t;
}

kz_result CKzPicBufAPI::ConvertRGBtoIHS(SKzPicBuf* dst, SKzPicBuf* src) { return ConvertPicture(dst, src, Conv::RgbToIhs); }
kz_result CKzPicBufAPI::ConvertIHStoRGB(SKzPicBuf* dst, SKzPicBuf* src) { return ConvertPicture(dst, src, Conv::IhsToRgb); }
kz_result CKzPicBufAPI::ConvertRGBtoYCrCb(SKzPicBuf* dst, SKzPicBuf* src)
{
    return ConvertPicture(dst, src, Conv::RgbToYcc);
}
kz_result CKzPicBufAPI::ConvertYCrCbtoRGB(SKzPicBuf* dst, SKzPicBuf* src)
{
    return ConvertPicture(dst, src, Conv::YccToRgb);
}

void CKzPicMemAPI::ConvertColorRGB8toHSI8(unsigned char& h, unsigned char& s, unsigned char& i, unsigned char r,
                                          unsigned char g, unsigned char b)
{
    RgbToIhs<u8>(AcosTable(), b, g, r, i, s, h);
}

void CKzPicMemAPI::ConvertColorHSI8toRGB8(unsigned char& r, unsigned char& g, unsigned char& b, unsigned char h,
                                          unsigned char s, unsigned char i)
{
    IhsToRgb<u8>(i, s, h, b, g, r);
}

unsigned CKzPicMemAPI::CalcUintMax(unsigned bits) { return (1u << (bits & 31u)) - 1u; }

double CKzPicMemAPI::CalcUintToDbl(unsigned v, unsigned bits)
{
    return bits <= 7 ? double(v) : std::ldexp(double(v), -int(bits - 8 > 1100 ? 1100 : bits - 8));
}

unsigned CKzPicMemAPI::CalcDblToUint(double x, unsigned bits)
{
    const double y = bits <= 7 ? x : std::ldexp(x, int(bits - 8 > 1100 ? 1100 : bits - 8));
    if (!(y > 0))
        return 0;
    if (y >= 4294967296.0)
        return 0xFFFFFFFFu;
    return unsigned(y);
}

void CKzPicMemAPI::ConvertBGRtoRGB(void* buffer, unsigned comps, unsigned bits, unsigned stride, unsigned width,
                                   unsigned rows)
{
    if (!buffer || comps < 3 || bits < 1 || bits > 16)
        return;
    for (unsigned r = 0; r < rows; ++r) {
        u8* row = static_cast<u8*>(buffer) + size_t(r) * stride;
        if (bits <= 8) {
            for (size_t x = 0; x < width; ++x) {
                u8* p = row + x * comps;
                const u8 t = p[0];
                p[0] = p[2];
                p[2] = t;
            }
        } else {
            u16* q = reinterpret_cast<u16*>(row);
            for (size_t x = 0; x < width; ++x) {
                u16* p = q + x * comps;
                const u16 t = p[0];
                p[0] = p[2];
                p[2] = t;
            }
        }
    }
}

bool CKzPicMemAPI::IsCPU_SSE2() { return true; }
