#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic", "fp-contract=off")
// Component-count conversion: collapsing 3, 4 or N components into one
// (weighted sum or rounded mean) and expanding one component into 3, 4 or N,
// or moving between 3 and 4 components.
//
// The weighted collapse is defined by per-component tables
// T_k[v] = floor(w'_k v / S) with S = 2^B - 1 (B = 8 or 16) and the output
// (sum of T_k[s_k]) mod 2^B. Since w'_k v <= S * S, each entry equals
// KzbDivByMask(w'_k v, B) exactly, so the kernels compute the entries on the
// fly: no 384 KiB or 512 KiB table is built per call, nothing large sits on
// the stack, and the per-pixel loop is shifts, adds and one multiply per
// sample, which the compiler vectorises.

#include "gnr_picture/KzKernelsB.h"
#include "gnr_picture/KzKernelsBCommon.h"

#include <cstring>
#include <immintrin.h>
#include <type_traits>

namespace {

// Destinations from this size on are written with non-temporal stores.
constexpr size_t kStreamBytes = size_t(8) << 20;

// Scaled weight trunc(w S + 0.5) kept modulo 2^B (x86 truncation: NaN and
// out-of-range products give the most negative integer, i.e. 0 modulo 2^B).
template <class T>
inline uint32_t ScaleWeight(double w) noexcept
{
    constexpr double s = double(std::numeric_limits<T>::max());
    return uint32_t(KzTruncToInt32(w * s + 0.5)) & uint32_t(std::numeric_limits<T>::max());
}

// floor(w v / S) for w, v in 0..S: for bytes a 16-bit product divided by the
// constant 255 (a high multiply), for words the exact shift division in
// 32 bits. Only the low B bits of the sum of the entries are kept, so the
// narrow type of the bytes' entries changes no result.
template <class T>
KZB_INLINE uint32_t WeightEntry(uint32_t w, uint32_t v) noexcept
{
    if constexpr (sizeof(T) == 1)
        return uint16_t(uint16_t(w * v) / 255u);
    else
        return KzbDivByMask<uint32_t>(w * v, 16);
}

// Collapse of a fixed count N (3 or 4); weighted when w != null.
template <class T, size_t N>
KZB_INLINE int CollapseFixedImpl(void* dst, uint32_t dRB, const void* src, uint32_t sRB,
                                 const uint32_t* w, uint32_t width, uint32_t count) noexcept
{
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r) {
        T* d = KzRow<T>(dst, dRB, r);
        const T* s = KzRow<T>(src, sRB, r);
        if (w) {
            const uint32_t w0 = w[0], w1 = w[1], w2 = w[2], w3 = N == 4 ? w[3] : 0;
            for (size_t x = 0; x < width; ++x) {
                const T* p = s + x * N;
                uint32_t v = WeightEntry<T>(w0, p[0]) + WeightEntry<T>(w1, p[1]) +
                             WeightEntry<T>(w2, p[2]);
                if constexpr (N == 4)
                    v += WeightEntry<T>(w3, p[3]);
                d[x] = T(v);
            }
        } else if constexpr (N == 3) {
            for (size_t x = 0; x < width; ++x) {
                const T* p = s + x * 3;
                d[x] = T((uint32_t(p[0]) + p[1] + p[2] + 1) / 3);
            }
        } else {
            for (size_t x = 0; x < width; ++x) {
                const T* p = s + x * 4;
                d[x] = T((uint32_t(p[0]) + p[1] + p[2] + p[3] + 2) >> 2);
            }
        }
    }
    return KZ_OK;
}

KZB_MULTIVERSION(template <class T KZB_COMMA size_t N>, CollapseFixed,
                 (void* dst, uint32_t dRB, const void* src, uint32_t sRB, const uint32_t* w,
                  uint32_t width, uint32_t count),
                 <T KZB_COMMA N>(dst, dRB, src, sRB, w, width, count))

// GCC 12's AVX-512 headers build "undefined" vectors from themselves, which
// its own flow analysis reports as uninitialised once inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Index and weight vectors of the three-word collapse. The steps are plain
// functions of the same target as their caller, not lambdas: clang does not
// give lambdas the target of the function that holds them.
struct Collapse3x16Vectors {
    __m512i f0, f1, f2, g0, g1, g2, w0, w1, w2;
};

// Sum of the entries of 32 pixels whose samples are a, b, c.
KZ_TARGET_AVX512 KZ_ALWAYS_INLINE __m512i Collapse3x16Sum(const Collapse3x16Vectors& k, __m512i a, __m512i b,
                                                          __m512i c) noexcept
{
    const __m512i c0 = _mm512_permutex2var_epi16(_mm512_permutex2var_epi16(a, k.f0, b), k.g0, c);
    const __m512i c1 = _mm512_permutex2var_epi16(_mm512_permutex2var_epi16(a, k.f1, b), k.g1, c);
    const __m512i c2 = _mm512_permutex2var_epi16(_mm512_permutex2var_epi16(a, k.f2, b), k.g2, c);
    const __m512i h0 = _mm512_mulhi_epu16(c0, k.w0), l0 = _mm512_mullo_epi16(c0, k.w0);
    const __m512i h1 = _mm512_mulhi_epu16(c1, k.w1), l1 = _mm512_mullo_epi16(c1, k.w1);
    const __m512i h2 = _mm512_mulhi_epu16(c2, k.w2), l2 = _mm512_mullo_epi16(c2, k.w2);
    const __m512i carries = _mm512_add_epi16(
        _mm512_add_epi16(_mm512_srli_epi16(_mm512_avg_epu16(l0, h0), 15),
                         _mm512_srli_epi16(_mm512_avg_epu16(l1, h1), 15)),
        _mm512_srli_epi16(_mm512_avg_epu16(l2, h2), 15));
    return _mm512_add_epi16(_mm512_add_epi16(_mm512_add_epi16(h0, h1), h2), carries);
}

template <bool NonTemporal>
KZ_TARGET_AVX512 KZ_ALWAYS_INLINE void Collapse3x16Step(const Collapse3x16Vectors& k, uint16_t* d,
                                                        const uint16_t* p) noexcept
{
    const __m512i v =
        Collapse3x16Sum(k, _mm512_loadu_si512(p), _mm512_loadu_si512(p + 32), _mm512_loadu_si512(p + 64));
    if constexpr (NonTemporal)
        _mm512_stream_si512(reinterpret_cast<__m512i*>(d), v);
    else
        _mm512_storeu_si512(d, v);
}

// The whole steps of a row from pixel x; gives the first pixel left over.
template <bool NonTemporal>
KZ_TARGET_AVX512 KZ_ALWAYS_INLINE size_t Collapse3x16Steps(const Collapse3x16Vectors& k, uint16_t* d,
                                                           const uint16_t* s, size_t x, size_t width) noexcept
{
    for (; x + 64 <= width; x += 64) {
        Collapse3x16Step<NonTemporal>(k, d + x, s + 3 * x);
        Collapse3x16Step<NonTemporal>(k, d + x + 32, s + 3 * x + 96);
    }
    for (; x + 32 <= width; x += 32)
        Collapse3x16Step<NonTemporal>(k, d + x, s + 3 * x);
    return x;
}

inline __mmask32 Collapse3x16Lanes(size_t n) noexcept { return __mmask32(n >= 32 ? ~0u : (1u << n) - 1); }

// m < 32 pixels with masked loads and stores (the ends of a row).
KZ_TARGET_AVX512 KZ_ALWAYS_INLINE void Collapse3x16Part(const Collapse3x16Vectors& k, uint16_t* d, const uint16_t* p,
                                                        size_t m) noexcept
{
    const size_t words = 3 * m;
    const __m512i a = _mm512_maskz_loadu_epi16(Collapse3x16Lanes(words), p);
    const __m512i b = _mm512_maskz_loadu_epi16(Collapse3x16Lanes(words > 32 ? words - 32 : 0), p + 32);
    const __m512i c = _mm512_maskz_loadu_epi16(Collapse3x16Lanes(words > 64 ? words - 64 : 0), p + 64);
    _mm512_mask_storeu_epi16(d, Collapse3x16Lanes(m), Collapse3x16Sum(k, a, b, c));
}

// Weighted collapse of three 16-bit components with AVX-512, 32 pixels a
// step. Two word permutes per component gather its samples from the three
// source vectors. The entry floor(w v / 65535) is computed in word lanes:
// with p = w v = 65536 hi + lo, the exact shift division
// (p + (p >> 16) + 1) >> 16 is hi plus the carry of lo + hi + 1, which is the
// top bit of the rounded average (lo + hi + 1) >> 1. The three entries and
// their carries are summed modulo 2^16.
// The first pixels of a row, up to a 64-byte boundary of the output, and the
// last ones go through masked loads and stores (once per row): a vector store
// across two cache lines costs about as much as the whole step. Stream: the
// aligned steps write with non-temporal stores (a large output apart from
// the source: its lines are not read first). Each step reads its source
// before it writes, in row order, as the plain loop.
template <bool Stream>
KZ_TARGET_AVX512 __attribute__((noinline)) void Collapse3x16Avx512(void* dst, uint32_t dRB, const void* src,
                                                                   uint32_t sRB, const uint32_t* w, uint32_t width,
                                                                   uint32_t count) noexcept
{
    alignas(64) uint16_t first[3][32], second[3][32];
    for (unsigned k = 0; k < 3; ++k)
        for (unsigned j = 0; j < 32; ++j) {
            const unsigned at = 3 * j + k; // word of component k of pixel j
            first[k][j] = uint16_t(at < 64 ? at : 0);
            second[k][j] = uint16_t(at < 64 ? j : 32 + (at - 64));
        }
    const Collapse3x16Vectors k{_mm512_load_si512(first[0]),           _mm512_load_si512(first[1]),
                                _mm512_load_si512(first[2]),           _mm512_load_si512(second[0]),
                                _mm512_load_si512(second[1]),          _mm512_load_si512(second[2]),
                                _mm512_set1_epi16(short(w[0])),        _mm512_set1_epi16(short(w[1])),
                                _mm512_set1_epi16(short(w[2]))};
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r) {
        uint16_t* d = KzRow<uint16_t>(dst, dRB, r);
        const uint16_t* s = KzRow<uint16_t>(src, sRB, r);
        size_t x = 0;
        const bool even = (reinterpret_cast<uintptr_t>(d) & 1) == 0; // odd addresses never reach a boundary
        if (even) {
            x = std::min<size_t>(width, ((64 - (reinterpret_cast<uintptr_t>(d) & 63)) & 63) / 2);
            if (x > 0)
                Collapse3x16Part(k, d, s, x);
        }
        if (Stream && even)
            x = Collapse3x16Steps<true>(k, d, s, x, width);
        else
            x = Collapse3x16Steps<false>(k, d, s, x, width);
        if (x < width)
            Collapse3x16Part(k, d + x, s + 3 * x, width - x);
    }
    if constexpr (Stream)
        _mm_sfence();
}

#pragma GCC diagnostic pop

// The last weight is never read: it is the remainder that makes the scaled
// weights sum to S (modulo 2^B).
template <class T, size_t N>
int CollapseFixedRun(void* dst, uint32_t dRB, const void* src, uint32_t sRB, const double* weights,
                     uint32_t width, uint32_t count) noexcept
{
    if (KzRowCount(width, count) == 0)
        return KZ_OK;
    if (!weights)
        return CollapseFixed<T, N>(dst, dRB, src, sRB, nullptr, width, count);
    constexpr uint32_t S = std::numeric_limits<T>::max();
    uint32_t w[4] = {0, 0, 0, 0};
    uint32_t rest = S;
    for (size_t k = 0; k + 1 < N; ++k) {
        w[k] = ScaleWeight<T>(weights[k]);
        rest -= w[k];
    }
    w[N - 1] = rest & S;
    if constexpr (sizeof(T) == 2 && N == 3) {
        if (KzCpuIsa() == KzIsa::Avx512) {
            // Streaming only where the output cannot be read back by the
            // same call: the destination lies apart from the source.
            const size_t rows = KzRowCount(width, count);
            const uintptr_t d0 = reinterpret_cast<uintptr_t>(dst), s0 = reinterpret_cast<uintptr_t>(src);
            const uintptr_t dEnd = d0 + (rows - 1) * size_t(dRB) + size_t(width) * 2;
            const uintptr_t sEnd = s0 + (rows - 1) * size_t(sRB) + size_t(width) * 6;
            if ((dEnd <= s0 || sEnd <= d0) && rows * size_t(width) * 2 >= kStreamBytes)
                Collapse3x16Avx512<true>(dst, dRB, src, sRB, w, width, count);
            else
                Collapse3x16Avx512<false>(dst, dRB, src, sRB, w, width, count);
            return KZ_OK;
        }
    }
    return CollapseFixed<T, N>(dst, dRB, src, sRB, w, width, count);
}

// Collapse of nComp components; weighted when w != null (nComp entries).
template <class T>
KZB_INLINE int CollapseNImpl(void* dst, uint32_t dRB, const void* src, uint32_t sRB, size_t nc,
                             const uint32_t* w, uint32_t width, uint32_t count) noexcept
{
    const size_t rows = KzRowCount(width, count);
    const uint64_t half = nc / 2;
    for (size_t r = 0; r < rows; ++r) {
        T* d = KzRow<T>(dst, dRB, r);
        const T* s = KzRow<T>(src, sRB, r);
        for (size_t x = 0; x < width; ++x) {
            const T* p = s + x * nc;
            if (w) {
                uint32_t v = 0;
                for (size_t k = 0; k < nc; ++k)
                    v += WeightEntry<T>(w[k], p[k]);
                d[x] = T(v);
            } else {
                uint64_t sum = half;
                for (size_t k = 0; k < nc; ++k)
                    sum += p[k];
                d[x] = T(sum / nc);
            }
        }
    }
    return KZ_OK;
}

KZB_MULTIVERSION(template <class T>, CollapseN,
                 (void* dst, uint32_t dRB, const void* src, uint32_t sRB, size_t nc,
                  const uint32_t* w, uint32_t width, uint32_t count),
                 <T>(dst, dRB, src, sRB, nc, w, width, count))

// The first weight is never read: w'_0 is the remainder (S with one
// component, which copies the picture).
template <class T>
int CollapseNRun(void* dst, uint32_t dRB, const void* src, uint32_t nComp, uint32_t sRB,
                 const double* weights, uint32_t width, uint32_t count) noexcept
{
    if (nComp == 0)
        return KZ_ERR_INVALID_ARG;
    if (KzRowCount(width, count) == 0)
        return KZ_OK;
    if (!weights) {
        // The rounded means of 3 and 4 components are those of the fixed members.
        if (nComp == 3)
            return CollapseFixed<T, 3>(dst, dRB, src, sRB, nullptr, width, count);
        if (nComp == 4)
            return CollapseFixed<T, 4>(dst, dRB, src, sRB, nullptr, width, count);
        return CollapseN<T>(dst, dRB, src, sRB, nComp, nullptr, width, count);
    }
    constexpr uint32_t S = std::numeric_limits<T>::max();
    KzScratch mem;
    uint32_t* w = mem.Get<uint32_t>(nComp);
    if (!w)
        return KZ_ERR_OUT_OF_MEMORY;
    uint32_t sum = 0;
    for (size_t k = 1; k < nComp; ++k) {
        w[k] = ScaleWeight<T>(weights[k]);
        sum += w[k];
    }
    w[0] = (S - sum) & S;
    if (nComp == 3)
        return CollapseFixed<T, 3>(dst, dRB, src, sRB, w, width, count);
    if (nComp == 4)
        return CollapseFixed<T, 4>(dst, dRB, src, sRB, w, width, count);
    return CollapseN<T>(dst, dRB, src, sRB, nComp, w, width, count);
}

// ---------------------------------------------------------------------------
// Expansion and 3 <-> 4
// ---------------------------------------------------------------------------

enum class Expand { Replicate, OneToFour, FourToThree, ThreeToFour };

// Replicate: N = destination components (0: nc). The other shapes are fixed.
template <class T, Expand E, size_t N>
KZB_INLINE int ExpandPicImpl(void* dst, uint32_t dRB, const void* src, uint32_t sRB, size_t nc,
                          T fourth, uint32_t width, uint32_t count) noexcept
{
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r) {
        T* d = KzRow<T>(dst, dRB, r);
        const T* s = KzRow<T>(src, sRB, r);
        if constexpr (E == Expand::Replicate && N == 3) {
            for (size_t x = 0; x < width; ++x) {
                const T v = s[x];
                d[x * 3 + 0] = v;
                d[x * 3 + 1] = v;
                d[x * 3 + 2] = v;
            }
        } else if constexpr (E == Expand::Replicate && N == 4) {
            for (size_t x = 0; x < width; ++x) {
                const T v = s[x];
                d[x * 4 + 0] = v;
                d[x * 4 + 1] = v;
                d[x * 4 + 2] = v;
                d[x * 4 + 3] = v;
            }
        } else if constexpr (E == Expand::Replicate && sizeof(T) == 1 && N >= 5 && N <= 8) {
            // One 8-byte store of the repeated sample a pixel; each store's
            // excess is overwritten by the next pixel, and the last pixel,
            // whose excess would pass the row's end, is written exactly.
            const size_t body = width - 1;
            for (size_t x = 0; x < body; ++x) {
                const uint64_t v = uint64_t(s[x]) * 0x0101010101010101ull;
                std::memcpy(d + x * N, &v, 8);
            }
            for (size_t k = 0; k < N; ++k)
                d[body * N + k] = s[body];
        } else if constexpr (E == Expand::Replicate && N != 0) {
            for (size_t x = 0; x < width; ++x) {
                const T v = s[x];
                for (size_t k = 0; k < N; ++k)
                    d[x * N + k] = v;
            }
        } else if constexpr (E == Expand::Replicate) {
            for (size_t x = 0; x < width; ++x) {
                T* p = d + x * nc;
                const T v = s[x];
                for (size_t k = 0; k < nc; ++k)
                    p[k] = v;
            }
        } else if constexpr (E == Expand::OneToFour) {
            // One packed store a pixel: (s, s, s, 0) in memory order.
            using P = std::conditional_t<sizeof(T) == 1, uint32_t, uint64_t>;
            constexpr P rep = sizeof(T) == 1 ? P(0x00010101u) : P(0x0000000100010001ull);
            for (size_t x = 0; x < width; ++x) {
                const P v = P(s[x]) * rep;
                std::memcpy(d + x * 4, &v, sizeof v);
            }
        } else if constexpr (E == Expand::FourToThree) {
            for (size_t x = 0; x < width; ++x) {
                d[x * 3 + 0] = s[x * 4 + 0];
                d[x * 3 + 1] = s[x * 4 + 1];
                d[x * 3 + 2] = s[x * 4 + 2];
            }
        } else {
            // One packed store a pixel: (s0, s1, s2, fourth) in memory order.
            using P = std::conditional_t<sizeof(T) == 1, uint32_t, uint64_t>;
            constexpr unsigned bits = 8 * sizeof(T);
            const P top = P(fourth) << (3 * bits);
            for (size_t x = 0; x < width; ++x) {
                const P v = P(s[x * 3]) | (P(s[x * 3 + 1]) << bits) | (P(s[x * 3 + 2]) << (2 * bits)) | top;
                std::memcpy(d + x * 4, &v, sizeof v);
            }
        }
    }
    return KZ_OK;
}

KZB_MULTIVERSION(template <class T KZB_COMMA Expand E KZB_COMMA size_t N>, ExpandPic,
                 (void* dst, uint32_t dRB, const void* src, uint32_t sRB, size_t nc, T fourth,
                  uint32_t width, uint32_t count),
                 <T KZB_COMMA E KZB_COMMA N>(dst, dRB, src, sRB, nc, fourth, width, count))

template <class T, Expand E, size_t N>
int ExpandRun(void* dst, uint32_t dRB, const void* src, uint32_t sRB, T fourth, uint32_t width,
              uint32_t count) noexcept
{
    if (KzRowCount(width, count) == 0)
        return KZ_OK;
    return ExpandPic<T, E, N>(dst, dRB, src, sRB, N, fourth, width, count);
}

// GCC 12's AVX-512 headers build "undefined" vectors from themselves, which
// its own flow analysis reports as uninitialised once inlined.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Replication into 2..16 components with AVX-512 VBMI: a vector of P = 64 /
// sizeof(T) source samples yields N output vectors, output vector c holding
// source sample (P c + j) / N in lane j, one permute each.
// A destination much larger than the caches is written with non-temporal
// stores (its lines are not read first and do not push the source out): the
// first pixels of a row, up to a 64-byte boundary of the output, and the last
// ones go through masked loads and stores; every whole block of N vectors
// between them keeps the alignment.
// m pixels (fewer than a vector's samples) from pixel x, with masked loads
// and stores.
template <class T>
KZ_TARGET_AVX512 inline void ReplicatePartial(T* d, const T* s, size_t x, size_t m, unsigned n, const __m512i* perm)
{
    constexpr unsigned P = 64 / sizeof(T);
    __m512i v;
    if constexpr (sizeof(T) == 1)
        v = _mm512_maskz_loadu_epi8(__mmask64(m >= 64 ? ~0ull : (1ull << m) - 1), s + x);
    else
        v = _mm512_maskz_loadu_epi16(__mmask32(uint32_t((1ull << m) - 1)), s + x);
    const size_t words = m * n;
    T* o = d + x * n;
    for (unsigned c = 0; c < n && size_t(c) * P < words; ++c) {
        const size_t lanes = std::min<size_t>(P, words - size_t(c) * P);
        const uint64_t bits = lanes >= 64 ? ~0ull : (1ull << lanes) - 1;
        if constexpr (sizeof(T) == 1)
            _mm512_mask_storeu_epi8(o + size_t(c) * P, __mmask64(bits), _mm512_permutexvar_epi8(perm[c], v));
        else
            _mm512_mask_storeu_epi16(o + size_t(c) * P, __mmask32(uint32_t(bits)),
                                     _mm512_permutexvar_epi16(perm[c], v));
    }
}

template <class T, bool Stream, unsigned NC>
KZ_TARGET_AVX512 __attribute__((noinline)) void ReplicateRowsAvx512(void* dst, uint32_t dRB, const void* src,
                                                                    uint32_t sRB, unsigned nArg, uint32_t width,
                                                                    uint32_t count) noexcept
{
    // NC: a fixed component count (its loops unrolled), 0 for nArg.
    const unsigned n = NC ? NC : nArg;
    constexpr unsigned P = 64 / sizeof(T);
    alignas(64) T idx[16][P];
    for (unsigned c = 0; c < n; ++c)
        for (unsigned j = 0; j < P; ++j)
            idx[c][j] = T((P * c + j) / n);
    __m512i perm[16];
    for (unsigned c = 0; c < n; ++c)
        perm[c] = _mm512_load_si512(reinterpret_cast<const void*>(idx[c]));
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r) {
        T* d = KzRow<T>(dst, dRB, r);
        const T* s = KzRow<T>(src, sRB, r);
        size_t x = 0;
        bool stream = Stream;
        if constexpr (Stream) {
            // The first pixels up to a 64-byte boundary of the output (some
            // count below P reaches one when the samples are aligned to
            // their size), then whole blocks, which keep the alignment.
            size_t head = 0;
            while (head < P && (reinterpret_cast<uintptr_t>(d + head * n) & 63) != 0)
                ++head;
            if (head == P) {
                stream = false;
            } else if (head > 0) {
                x = std::min<size_t>(head, width);
                ReplicatePartial<T>(d, s, 0, x, n, perm);
            }
        }
        if (stream) {
            for (; x + P <= width; x += P) {
                const __m512i v = _mm512_loadu_si512(s + x);
                T* o = d + x * n;
                for (unsigned c = 0; c < n; ++c) {
                    const __m512i out = sizeof(T) == 1 ? _mm512_permutexvar_epi8(perm[c], v)
                                                       : _mm512_permutexvar_epi16(perm[c], v);
                    _mm512_stream_si512(reinterpret_cast<__m512i*>(o + size_t(c) * P), out);
                }
            }
        } else {
            for (; x + P <= width; x += P) {
                const __m512i v = _mm512_loadu_si512(s + x);
                T* o = d + x * n;
                for (unsigned c = 0; c < n; ++c) {
                    const __m512i out = sizeof(T) == 1 ? _mm512_permutexvar_epi8(perm[c], v)
                                                       : _mm512_permutexvar_epi16(perm[c], v);
                    _mm512_storeu_si512(o + size_t(c) * P, out);
                }
            }
        }
        if (x < width)
            ReplicatePartial<T>(d, s, x, width - x, n, perm);
    }
    if constexpr (Stream)
        _mm_sfence();
}

// The vector replication, streaming when the destination is large and does
// not overlap the source; false without AVX-512, or (with onlyApart) when
// destination and source overlap.
template <class T>
bool ReplicateVector(void* dst, uint32_t dRB, const void* src, uint32_t sRB, unsigned n, uint32_t width,
                     uint32_t count, bool onlyApart) noexcept
{
    if (n < 2 || n > 16 || KzCpuIsa() != KzIsa::Avx512)
        return false;
    const size_t rows = KzRowCount(width, count);
    const size_t rowOut = size_t(width) * n * sizeof(T);
    const uintptr_t d0 = reinterpret_cast<uintptr_t>(dst), s0 = reinterpret_cast<uintptr_t>(src);
    const uintptr_t dEnd = d0 + (rows - 1) * size_t(dRB) + rowOut;
    const uintptr_t sEnd = s0 + (rows - 1) * size_t(sRB) + size_t(width) * sizeof(T);
    const bool apart = dEnd <= s0 || sEnd <= d0;
    if (onlyApart && !apart)
        return false;
    const bool stream = apart && rows * rowOut >= kStreamBytes && size_t(dRB) >= rowOut && (d0 % sizeof(T)) == 0;
    if (n == 3) {
        if (stream)
            ReplicateRowsAvx512<T, true, 3>(dst, dRB, src, sRB, n, width, count);
        else
            ReplicateRowsAvx512<T, false, 3>(dst, dRB, src, sRB, n, width, count);
    } else if (stream) {
        ReplicateRowsAvx512<T, true, 0>(dst, dRB, src, sRB, n, width, count);
    } else {
        ReplicateRowsAvx512<T, false, 0>(dst, dRB, src, sRB, n, width, count);
    }
    return true;
}

#pragma GCC diagnostic pop

template <class T>
int ReplicateN(void* dst, uint32_t nComp, uint32_t dRB, const void* src, uint32_t sRB,
               uint32_t width, uint32_t count) noexcept
{
    if (KzRowCount(width, count) == 0 || nComp == 0)
        return KZ_OK;
    if (ReplicateVector<T>(dst, dRB, src, sRB, nComp, width, count, false))
        return KZ_OK;
    switch (nComp) {
    case 1: return ExpandPic<T, Expand::Replicate, 1>(dst, dRB, src, sRB, 1, 0, width, count);
    case 2: return ExpandPic<T, Expand::Replicate, 2>(dst, dRB, src, sRB, 2, 0, width, count);
    case 3: return ExpandPic<T, Expand::Replicate, 3>(dst, dRB, src, sRB, 3, 0, width, count);
    case 4: return ExpandPic<T, Expand::Replicate, 4>(dst, dRB, src, sRB, 4, 0, width, count);
    case 5: return ExpandPic<T, Expand::Replicate, 5>(dst, dRB, src, sRB, 5, 0, width, count);
    case 6: return ExpandPic<T, Expand::Replicate, 6>(dst, dRB, src, sRB, 6, 0, width, count);
    case 7: return ExpandPic<T, Expand::Replicate, 7>(dst, dRB, src, sRB, 7, 0, width, count);
    case 8: return ExpandPic<T, Expand::Replicate, 8>(dst, dRB, src, sRB, 8, 0, width, count);
    default: return ExpandPic<T, Expand::Replicate, 0>(dst, dRB, src, sRB, nComp, 0, width, count);
    }
}

} // namespace

KZ_CAPI int convert_3x8_to_1x8(void* dst, uint32_t dstRowBytes, const void* src,
                               uint32_t srcRowBytes, const double* weights, uint32_t width,
                               uint32_t count)
{
    return CollapseFixedRun<uint8_t, 3>(dst, dstRowBytes, src, srcRowBytes, weights, width, count);
}
KZ_CAPI int convert_3x16_to_1x16(void* dst, uint32_t dstRowBytes, const void* src,
                                 uint32_t srcRowBytes, const double* weights, uint32_t width,
                                 uint32_t count)
{
    return CollapseFixedRun<uint16_t, 3>(dst, dstRowBytes, src, srcRowBytes, weights, width, count);
}
KZ_CAPI int convert_4x8_to_1x8(void* dst, uint32_t dstRowBytes, const void* src,
                               uint32_t srcRowBytes, const double* weights, uint32_t width,
                               uint32_t count)
{
    return CollapseFixedRun<uint8_t, 4>(dst, dstRowBytes, src, srcRowBytes, weights, width, count);
}
KZ_CAPI int convert_4x16_to_1x16(void* dst, uint32_t dstRowBytes, const void* src,
                                 uint32_t srcRowBytes, const double* weights, uint32_t width,
                                 uint32_t count)
{
    return CollapseFixedRun<uint16_t, 4>(dst, dstRowBytes, src, srcRowBytes, weights, width, count);
}
KZ_CAPI int convert_Nx8_to_1x8(void* dst, uint32_t dstRowBytes, const void* src, uint32_t nComp,
                               uint32_t srcRowBytes, const double* weights, uint32_t width,
                               uint32_t count)
{
    return CollapseNRun<uint8_t>(dst, dstRowBytes, src, nComp, srcRowBytes, weights, width, count);
}
KZ_CAPI int convert_Nx16_to_1x16(void* dst, uint32_t dstRowBytes, const void* src, uint32_t nComp,
                                 uint32_t srcRowBytes, const double* weights, uint32_t width,
                                 uint32_t count)
{
    return CollapseNRun<uint16_t>(dst, dstRowBytes, src, nComp, srcRowBytes, weights, width, count);
}

KZ_CAPI int convert_1x8_to_3x8(KZ_EXPAND_ARGS)
{
    if (KzRowCount(width, count) != 0 && ReplicateVector<uint8_t>(dst, dstRowBytes, src, srcRowBytes, 3, width, count, true))
        return KZ_OK;
    return ExpandRun<uint8_t, Expand::Replicate, 3>(dst, dstRowBytes, src, srcRowBytes, 0, width, count);
}
KZ_CAPI int convert_1x16_to_3x16(KZ_EXPAND_ARGS)
{
    if (KzRowCount(width, count) != 0 &&
        ReplicateVector<uint16_t>(dst, dstRowBytes, src, srcRowBytes, 3, width, count, true))
        return KZ_OK;
    return ExpandRun<uint16_t, Expand::Replicate, 3>(dst, dstRowBytes, src, srcRowBytes, 0, width, count);
}
KZ_CAPI int convert_1x8_to_4x8(KZ_EXPAND_ARGS)
{
    return ExpandRun<uint8_t, Expand::OneToFour, 4>(dst, dstRowBytes, src, srcRowBytes, 0, width, count);
}
KZ_CAPI int convert_1x16_to_4x16(KZ_EXPAND_ARGS)
{
    return ExpandRun<uint16_t, Expand::OneToFour, 4>(dst, dstRowBytes, src, srcRowBytes, 0, width, count);
}
KZ_CAPI int convert_4x8_to_3x8(KZ_EXPAND_ARGS)
{
    return ExpandRun<uint8_t, Expand::FourToThree, 3>(dst, dstRowBytes, src, srcRowBytes, 0, width, count);
}
KZ_CAPI int convert_4x16_to_3x16(KZ_EXPAND_ARGS)
{
    return ExpandRun<uint16_t, Expand::FourToThree, 3>(dst, dstRowBytes, src, srcRowBytes, 0, width, count);
}
KZ_CAPI int convert_1x8_to_Nx8(void* dst, uint32_t nComp, uint32_t dstRowBytes, const void* src,
                               uint32_t srcRowBytes, uint32_t width, uint32_t count)
{
    return ReplicateN<uint8_t>(dst, nComp, dstRowBytes, src, srcRowBytes, width, count);
}
KZ_CAPI int convert_1x16_to_Nx16(void* dst, uint32_t nComp, uint32_t dstRowBytes, const void* src,
                                 uint32_t srcRowBytes, uint32_t width, uint32_t count)
{
    return ReplicateN<uint16_t>(dst, nComp, dstRowBytes, src, srcRowBytes, width, count);
}
KZ_CAPI int convert_3x8_to_4x8(void* dst, uint32_t dstRowBytes, const void* src,
                               uint32_t srcRowBytes, int32_t fourth, uint32_t width, uint32_t count)
{
    return ExpandRun<uint8_t, Expand::ThreeToFour, 4>(dst, dstRowBytes, src, srcRowBytes,
                                                      uint8_t(uint32_t(fourth)), width, count);
}
KZ_CAPI int convert_3x16_to_4x16(void* dst, uint32_t dstRowBytes, const void* src,
                                 uint32_t srcRowBytes, int32_t fourth, uint32_t width,
                                 uint32_t count)
{
    return ExpandRun<uint16_t, Expand::ThreeToFour, 4>(dst, dstRowBytes, src, srcRowBytes,
                                                       uint16_t(uint32_t(fourth)), width, count);
}
