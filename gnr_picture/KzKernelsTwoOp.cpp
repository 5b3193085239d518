#pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic", "fp-contract=off")
// Two-operand arithmetic (saturated sum and difference, weighted sum,
// difference with offset, maximum, minimum), linear correlation and running
// average of two pictures of the same shape.
//
// Every member of a family shares one implementation over the row's
// width x components contiguous samples: the operation does not depend on the
// component (except the per-component offset constants, which are laid out as
// a repeating pattern of the row), so the format is fixed once per call and
// each row is one tight loop the compiler vectorises.

#include "gnr_picture/KzKernelsB.h"
#include "gnr_picture/KzKernelsBCommon.h"

#include <cmath>
#include <cstring>

namespace {

// Arguments of one call, prepared once before the rows.
struct TwoOpParams {
    uint64_t limit = 0;       // M = 2^bits - 1 in the container
    unsigned shift = 0;       // bits of M (M = 2^shift - 1), 0 when M is 0
    uint64_t qA = 0, qB = 0;  // integer weights of the weighted sum
    const void* pattern = nullptr;    // offset constants repeated over a chunk
                                      // (int16_t for 8-bit samples, else int32_t)
    size_t patternLen = 0;            // a whole number of pixels
};

// Depth limit and its bit count for a container of T.
template <class T>
inline void SetDepth(TwoOpParams& p, uint32_t bits) noexcept
{
    const unsigned b = bits > sizeof(T) * 8 ? unsigned(sizeof(T) * 8) : unsigned(bits);
    p.shift = b;
    p.limit = KzDepthLimit<T>(b);
}

struct OpAdd {
    // Wrapping sum with the carry turned into saturation, then the depth
    // limit: min(a + b, M) without widening, so the compiler uses the
    // saturating vector instructions.
    template <class T>
    static KZB_INLINE void Row(T* d, const T* a, const T* b, size_t n, const TwoOpParams& p) noexcept
    {
        const T m = T(p.limit);
        for (size_t i = 0; i < n; ++i) {
            const T x = a[i];
            T s = T(x + b[i]);
            s = s < x ? std::numeric_limits<T>::max() : s;
            d[i] = s < m ? s : m;
        }
    }
};

struct OpSub {
    template <class T>
    static KZB_INLINE void Row(T* d, const T* a, const T* b, size_t n, const TwoOpParams&) noexcept
    {
        for (size_t i = 0; i < n; ++i) {
            const T x = a[i], y = b[i];
            d[i] = T(x > y ? T(x - y) : T(0));
        }
    }
};

struct OpMax {
    template <class T>
    static KZB_INLINE void Row(T* d, const T* a, const T* b, size_t n, const TwoOpParams&) noexcept
    {
        for (size_t i = 0; i < n; ++i) {
            const T x = a[i], y = b[i];
            d[i] = x > y ? x : y;
        }
    }
};

struct OpMin {
    template <class T>
    static KZB_INLINE void Row(T* d, const T* a, const T* b, size_t n, const TwoOpParams&) noexcept
    {
        for (size_t i = 0; i < n; ++i) {
            const T x = a[i], y = b[i];
            d[i] = x < y ? x : y;
        }
    }
};

// Weighted sum whose numerator qA a + qB b fits 32 bits for every sample of
// the container (qA + qB <= 65536 for 16-bit samples): min(n / M, M), the
// division done exactly by shifts (n < M * M), n >= M * M saturating.
struct OpTranspNarrow {
    template <class T>
    static KZB_INLINE void Row(T* d, const T* a, const T* b, size_t n, const TwoOpParams& p) noexcept
    {
        const uint32_t qa = uint32_t(p.qA), qb = uint32_t(p.qB);
        const uint32_t m = uint32_t(p.limit), mm = m * m;
        const unsigned sh = p.shift;
        for (size_t i = 0; i < n; ++i) {
            const uint32_t num = qa * a[i] + qb * b[i];
            const uint32_t q = KzbDivByMask<uint32_t>(num, sh);
            d[i] = T(num >= mm ? m : q);
        }
    }
};

// 8-bit samples with qA + qB <= 257: the numerator fits 16 bits, so the whole
// computation runs in 16-bit lanes. n + (n >> b) + 1 wraps only for
// n >= 65280 > M * M, where the saturated result is taken.
template <unsigned B> // depth bits, 1..8, a constant so the lanes stay 16-bit
struct OpTranspNarrow8 {
    template <class T>
    static KZB_INLINE void Row(T* d, const T* a, const T* b, size_t n, const TwoOpParams& p) noexcept
    {
        const uint16_t qa = uint16_t(p.qA), qb = uint16_t(p.qB);
        constexpr uint16_t m = uint16_t((1u << B) - 1);
        for (size_t i = 0; i < n; ++i) {
            const uint16_t num = uint16_t(qa * a[i] + qb * b[i]);
            // Division by a constant (a high multiply and a shift), exact for
            // every 16-bit numerator, so min() alone saturates.
            const uint16_t q = uint16_t(num / m);
            d[i] = T(q < m ? q : m);
        }
    }
};

// The same for 16-bit samples at a constant depth of B bits with
// qA + qB <= 65535: the numerator stays below 65535^2 in 32-bit lanes, the
// shift division cannot wrap, and since it is exact below M (M + 1) and
// non-decreasing, min(quotient, M) is the saturated result.
template <unsigned B>
struct OpTranspNarrow16 {
    template <class T>
    static KZB_INLINE void Row(T* d, const T* a, const T* b, size_t n, const TwoOpParams& p) noexcept
    {
        const uint32_t qa = uint32_t(p.qA), qb = uint32_t(p.qB);
        constexpr uint32_t m = (1u << B) - 1;
        for (size_t i = 0; i < n; ++i) {
            const uint32_t num = qa * a[i] + qb * b[i];
            const uint32_t q = KzbDivByMask<uint32_t>(num, B);
            d[i] = T(q < m ? q : m);
        }
    }
};

// The same with a 64-bit numerator, for weights far above 1.
struct OpTranspWide {
    template <class T>
    static KZB_INLINE void Row(T* d, const T* a, const T* b, size_t n, const TwoOpParams& p) noexcept
    {
        const uint64_t qa = p.qA, qb = p.qB, m = p.limit, mm = m * m;
        const unsigned sh = p.shift;
        for (size_t i = 0; i < n; ++i) {
            const uint64_t num = qa * a[i] + qb * b[i];
            d[i] = T(num >= mm ? m : KzbDivByMask<uint64_t>(num, sh));
        }
    }
};

// a + c - b clamped to 0..M, c read from the per-sample pattern. The
// constants are pre-clamped to [-(S + 1), 2 S + 1] (S the container maximum),
// which keeps every result unchanged (a - b lies in -S..S) and lets the sum
// run exactly in 16-bit lanes for 8-bit samples and 32-bit lanes otherwise.
template <class T> using SubConstLane = std::conditional_t<sizeof(T) == 1, int16_t, int32_t>;

struct OpSubConst {
    template <class T>
    static KZB_INLINE void Row(T* d, const T* a, const T* b, size_t n, const TwoOpParams& p) noexcept
    {
        using L = SubConstLane<T>;
        const L m = L(p.limit);
        const L* pat = static_cast<const L*>(p.pattern);
        const size_t len = p.patternLen;
        for (size_t off = 0; off < n; off += len) {
            const size_t k = n - off < len ? n - off : len;
            T* dd = d + off;
            const T* aa = a + off;
            const T* bb = b + off;
            for (size_t i = 0; i < k; ++i) {
                L v = L(L(aa[i]) - L(bb[i]) + pat[i]);
                v = v < 0 ? L(0) : v;
                dd[i] = T(v > m ? m : v);
            }
        }
    }
};

// One component: the same with the constant in a register.
struct OpSubConst1 {
    template <class T>
    static KZB_INLINE void Row(T* d, const T* a, const T* b, size_t n, const TwoOpParams& p) noexcept
    {
        using L = SubConstLane<T>;
        const L m = L(p.limit);
        const L c = static_cast<const L*>(p.pattern)[0];
        for (size_t i = 0; i < n; ++i) {
            L v = L(L(a[i]) - L(b[i]) + c);
            v = v < 0 ? L(0) : v;
            d[i] = T(v > m ? m : v);
        }
    }
};

struct OpZero {
    template <class T>
    static KZB_INLINE void Row(T* d, const T*, const T*, size_t n, const TwoOpParams&) noexcept
    {
        for (size_t i = 0; i < n; ++i)
            d[i] = 0;
    }
};

template <class T, class Op>
KZB_INLINE int TwoOpImpl(void* dst, uint32_t dRB, const void* a, uint32_t aRB, const void* b,
                         uint32_t bRB, size_t spp, uint32_t width, uint32_t count,
                         const TwoOpParams& p) noexcept
{
    const size_t rows = KzRowCount(width, count);
    const size_t n = size_t(width) * spp;
    for (size_t r = 0; r < rows; ++r)
        Op::template Row<T>(KzRow<T>(dst, dRB, r), KzRow<T>(a, aRB, r), KzRow<T>(b, bRB, r), n, p);
    return KZ_OK;
}

KZB_MULTIVERSION(template <class T KZB_COMMA class Op>, TwoOp,
                 (void* dst, uint32_t dRB, const void* a, uint32_t aRB, const void* b, uint32_t bRB,
                  size_t spp, uint32_t width, uint32_t count, const TwoOpParams& p),
                 <T KZB_COMMA Op>(dst, dRB, a, aRB, b, bRB, spp, width, count, p))

// Sum, difference, maximum and minimum do one or two operations a sample, so
// the AVX-512 variant streams them in 32-byte vectors: measured a good third
// faster than 64-byte ones on large pictures (the weighted families keep
// full width, where the wider arithmetic pays).
template <class T, class Op>
KZB_INLINE int TwoOpSimpleImpl(void* dst, uint32_t dRB, const void* a, uint32_t aRB, const void* b,
                               uint32_t bRB, size_t spp, uint32_t width, uint32_t count,
                               const TwoOpParams& p) noexcept
{
    return TwoOpImpl<T, Op>(dst, dRB, a, aRB, b, bRB, spp, width, count, p);
}
#pragma push_macro("KZB_AVX512")
#undef KZB_AVX512
#define KZB_AVX512 KZB_AVX512_HALF
KZB_MULTIVERSION(template <class T KZB_COMMA class Op>, TwoOpSimple,
                 (void* dst, uint32_t dRB, const void* a, uint32_t aRB, const void* b, uint32_t bRB,
                  size_t spp, uint32_t width, uint32_t count, const TwoOpParams& p),
                 <T KZB_COMMA Op>(dst, dRB, a, aRB, b, bRB, spp, width, count, p))
#pragma pop_macro("KZB_AVX512")

// Component count of a member: fixed counts ignore the argument.
constexpr uint32_t kN = 0;
inline size_t Spp(uint32_t fixed, uint32_t nComp) noexcept { return fixed ? fixed : nComp; }

template <class T, class Op>
int RunSimple(void* dst, uint32_t dRB, const void* a, uint32_t aRB, const void* b, uint32_t bRB,
              size_t spp, uint32_t bits, uint32_t width, uint32_t count) noexcept
{
    if (KzRowCount(width, count) == 0 || spp == 0)
        return KZ_OK;
    TwoOpParams p;
    SetDepth<T>(p, bits);
    return TwoOpSimple<T, Op>(dst, dRB, a, aRB, b, bRB, spp, width, count, p);
}

// Integer weight trunc(w M + 0.5): a negative or NaN weight counts as 0, and a
// weight beyond any useful size is capped (the result saturates there anyway).
inline uint64_t TranspWeight(double w, uint64_t m) noexcept
{
    const double q = w * double(m) + 0.5;
    if (!(q >= 1.0))
        return 0;
    if (q >= 1099511627776.0) // 2^40
        return uint64_t(1) << 40;
    return uint64_t(KzTruncToInt64(q));
}

template <class T>
int RunTransp(void* dst, uint32_t dRB, const void* a, uint32_t aRB, const void* b, uint32_t bRB,
              double wA, double wB, size_t spp, uint32_t bits, uint32_t width,
              uint32_t count) noexcept
{
    if (KzRowCount(width, count) == 0 || spp == 0)
        return KZ_OK;
    TwoOpParams p;
    SetDepth<T>(p, bits);
    if (p.limit == 0) // M = 0: every result is min(x, 0), and nothing divides by 0
        return TwoOp<T, OpZero>(dst, dRB, a, aRB, b, bRB, spp, width, count, p);
    p.qA = TranspWeight(wA, p.limit);
    p.qB = TranspWeight(wB, p.limit);
    const uint64_t maxSample = std::numeric_limits<T>::max();
    if (sizeof(T) == 1 && p.qA + p.qB <= 257) {
#define KZB_TRANSP8(B)                                                                             \
    case B:                                                                                        \
        return TwoOp<T, OpTranspNarrow8<B>>(dst, dRB, a, aRB, b, bRB, spp, width, count, p);
        switch (p.shift) {
            KZB_TRANSP8(1) KZB_TRANSP8(2) KZB_TRANSP8(3) KZB_TRANSP8(4)
            KZB_TRANSP8(5) KZB_TRANSP8(6) KZB_TRANSP8(7) KZB_TRANSP8(8)
        default:
            break;
        }
#undef KZB_TRANSP8
    }
    if ((p.qA + p.qB) * maxSample <= 0xFFFFFFFFull && p.limit <= 0xFFFFull) {
        if (sizeof(T) == 2 && p.qA + p.qB <= 65535) {
#define KZB_TRANSP16(B)                                                                            \
    case B:                                                                                        \
        return TwoOp<T, OpTranspNarrow16<B>>(dst, dRB, a, aRB, b, bRB, spp, width, count, p);
            switch (p.shift) {
                KZB_TRANSP16(9) KZB_TRANSP16(10) KZB_TRANSP16(11) KZB_TRANSP16(12)
                KZB_TRANSP16(13) KZB_TRANSP16(14) KZB_TRANSP16(15) KZB_TRANSP16(16)
            default:
                break;
            }
#undef KZB_TRANSP16
        }
        return TwoOp<T, OpTranspNarrow>(dst, dRB, a, aRB, b, bRB, spp, width, count, p);
    }
    return TwoOp<T, OpTranspWide>(dst, dRB, a, aRB, b, bRB, spp, width, count, p);
}

template <class T>
int RunSubConst(void* dst, uint32_t dRB, const void* a, uint32_t aRB, const void* b, uint32_t bRB,
                const int32_t* constants, size_t spp, uint32_t bits, uint32_t width,
                uint32_t count) noexcept
{
    if (KzRowCount(width, count) == 0 || spp == 0)
        return KZ_OK;
    TwoOpParams p;
    SetDepth<T>(p, bits);
    // The constants repeat every pixel: lay them out over a chunk of whole
    // pixels so that the row loop runs over contiguous samples.
    using L = SubConstLane<T>;
    const int64_t s = std::numeric_limits<T>::max();
    const size_t pixels = spp >= 1024 ? 1 : 1024 / spp;
    const size_t len = pixels * spp;
    KzScratch scratch;
    L* pat = scratch.Get<L>(len);
    if (!pat)
        return KZ_ERR_OUT_OF_MEMORY;
    for (size_t k = 0; k < spp; ++k) {
        int64_t c = constants[k];
        c = c < -(s + 1) ? -(s + 1) : (c > 2 * s + 1 ? 2 * s + 1 : c);
        for (size_t x = 0; x < pixels; ++x)
            pat[x * spp + k] = L(c);
    }
    p.pattern = pat;
    p.patternLen = len;
    if (spp == 1)
        return TwoOp<T, OpSubConst1>(dst, dRB, a, aRB, b, bRB, spp, width, count, p);
    return TwoOp<T, OpSubConst>(dst, dRB, a, aRB, b, bRB, spp, width, count, p);
}

} // namespace

// ---------------------------------------------------------------------------
// Exported two-operand members
// ---------------------------------------------------------------------------

#define KZB_TWO_OP_CALL dst, dstRowBytes, srcA, aRowBytes, srcB, bRowBytes
#define KZB_DEF_SIMPLE(name, T, fixed, Op)                                                         \
    KZ_CAPI int name(KZ_TWO_OP_ARGS)                                                              \
    {                                                                                              \
        return RunSimple<T, Op>(KZB_TWO_OP_CALL, Spp(fixed, nComp), bits, width, count);           \
    }
#define KZB_DEF_SIMPLE_FAMILY(stem, Op)                                                            \
    KZB_DEF_SIMPLE(stem##_1x8, uint8_t, 1, Op)                                                     \
    KZB_DEF_SIMPLE(stem##_3x8, uint8_t, 3, Op)                                                     \
    KZB_DEF_SIMPLE(stem##_4x8, uint8_t, 4, Op)                                                     \
    KZB_DEF_SIMPLE(stem##_Nx8, uint8_t, kN, Op)                                                    \
    KZB_DEF_SIMPLE(stem##_1x16, uint16_t, 1, Op)                                                   \
    KZB_DEF_SIMPLE(stem##_3x16, uint16_t, 3, Op)                                                   \
    KZB_DEF_SIMPLE(stem##_4x16, uint16_t, 4, Op)                                                   \
    KZB_DEF_SIMPLE(stem##_Nx16, uint16_t, kN, Op)

KZB_DEF_SIMPLE_FAMILY(addandclip, OpAdd)
KZB_DEF_SIMPLE(addandclip_Nx32, uint32_t, kN, OpAdd)
KZB_DEF_SIMPLE(addandclip_5x32, uint32_t, 5, OpAdd)
KZB_DEF_SIMPLE_FAMILY(subandclip, OpSub)
KZB_DEF_SIMPLE(subandclip_Nx32, uint32_t, kN, OpSub)
KZB_DEF_SIMPLE(subandclip_5x32, uint32_t, 5, OpSub)
KZB_DEF_SIMPLE_FAMILY(max, OpMax)
KZB_DEF_SIMPLE_FAMILY(min, OpMin)

#define KZB_DEF_TRANSP(name, T, fixed)                                                             \
    KZ_CAPI int name(KZ_TRANSP_ARGS)                                                              \
    {                                                                                              \
        return RunTransp<T>(KZB_TWO_OP_CALL, wA, wB, Spp(fixed, nComp), bits, width, count);       \
    }
KZB_DEF_TRANSP(addtranspandclip_1x8, uint8_t, 1)
KZB_DEF_TRANSP(addtranspandclip_3x8, uint8_t, 3)
KZB_DEF_TRANSP(addtranspandclip_4x8, uint8_t, 4)
KZB_DEF_TRANSP(addtranspandclip_Nx8, uint8_t, kN)
KZB_DEF_TRANSP(addtranspandclip_1x16, uint16_t, 1)
KZB_DEF_TRANSP(addtranspandclip_3x16, uint16_t, 3)
KZB_DEF_TRANSP(addtranspandclip_4x16, uint16_t, 4)
KZB_DEF_TRANSP(addtranspandclip_Nx16, uint16_t, kN)

#define KZB_DEF_SUBCONST(name, T, fixed)                                                           \
    KZ_CAPI int name(KZ_SUBCONST_ARGS)                                                            \
    {                                                                                              \
        return RunSubConst<T>(KZB_TWO_OP_CALL, constants, Spp(fixed, nComp), bits, width, count);  \
    }
KZB_DEF_SUBCONST(subaddconstandclip_1x8, uint8_t, 1)
KZB_DEF_SUBCONST(subaddconstandclip_3x8, uint8_t, 3)
KZB_DEF_SUBCONST(subaddconstandclip_4x8, uint8_t, 4)
KZB_DEF_SUBCONST(subaddconstandclip_Nx8, uint8_t, kN)
KZB_DEF_SUBCONST(subaddconstandclip_1x16, uint16_t, 1)
KZB_DEF_SUBCONST(subaddconstandclip_3x16, uint16_t, 3)
KZB_DEF_SUBCONST(subaddconstandclip_4x16, uint16_t, 4)
KZB_DEF_SUBCONST(subaddconstandclip_Nx16, uint16_t, kN)

// ---------------------------------------------------------------------------
// Linear correlation
// ---------------------------------------------------------------------------

namespace {

// The five sums of one component, in double precision.
struct CorrSums {
    double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
};

// Lane accumulators of the correlation pass: the row is taken as width x nc
// contiguous samples and summed into L lanes (L a multiple of nc, at most
// kCorrLanes), lane j holding component j % nc, so the inner loop is a plain
// contiguous loop the compiler vectorises. Byte lanes are 32-bit (a lane
// takes at most kCorrFlush products below 2^16 before it is emptied); word
// lanes are 64-bit (products below 2^32). Lanes are emptied into exact 64-bit
// per-component sums, which are added in double precision at the end of each
// row.
constexpr size_t kCorrLanes = 64;
constexpr size_t kCorrFlush = 65536;
template <class T> using CorrAcc = std::conditional_t<sizeof(T) == 1, uint32_t, uint64_t>;

template <class T, size_t FixedN>
KZB_INLINE int CorrPassImpl(const void* srcA, uint32_t aRB, const void* srcB, uint32_t bRB,
                            size_t nComp, uint32_t width, size_t rows, CorrSums* sums,
                            uint64_t* comp) noexcept
{
    using Acc = CorrAcc<T>;
    const size_t nc = FixedN ? FixedN : nComp;
    const size_t lanes = FixedN ? FixedN * (kCorrLanes / FixedN)
                                : (nc <= kCorrLanes ? nc * (kCorrLanes / nc) : 0);
    alignas(64) Acc lx[kCorrLanes], ly[kCorrLanes], lxx[kCorrLanes], lyy[kCorrLanes], lxy[kCorrLanes];
    const size_t n = size_t(width) * nc;
    for (size_t r = 0; r < rows; ++r) {
        const T* a = KzRow<T>(srcA, aRB, r);
        const T* b = KzRow<T>(srcB, bRB, r);
        std::memset(comp, 0, 5 * nc * sizeof(uint64_t));
        size_t off = 0;
        if constexpr (FixedN == 1) {
            // One component: plain reductions, which the compiler keeps in
            // vector registers.
            while (off < n) {
                const size_t end = n - off > kCorrFlush ? off + kCorrFlush : n;
                Acc sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
                for (size_t i = off; i < end; ++i) {
                    const uint32_t x = a[i], y = b[i];
                    sx += Acc(x);
                    sy += Acc(y);
                    sxx += Acc(x * x);
                    syy += Acc(y * y);
                    sxy += Acc(x * y);
                }
                comp[0] += sx;
                comp[1] += sy;
                comp[2] += sxx;
                comp[3] += syy;
                comp[4] += sxy;
                off = end;
            }
        } else if (lanes) {
            const size_t full = n - n % lanes;
            while (off < full) {
                for (size_t j = 0; j < lanes; ++j)
                    lx[j] = ly[j] = lxx[j] = lyy[j] = lxy[j] = 0;
                const size_t chunkEnd = full - off > lanes * kCorrFlush ? off + lanes * kCorrFlush : full;
                for (; off < chunkEnd; off += lanes) {
                    const T* pa = a + off;
                    const T* pb = b + off;
                    for (size_t j = 0; j < lanes; ++j) {
                        const uint32_t x = pa[j], y = pb[j];
                        lx[j] += Acc(x);
                        ly[j] += Acc(y);
                        lxx[j] += Acc(x * x);
                        lyy[j] += Acc(y * y);
                        lxy[j] += Acc(x * y);
                    }
                }
                for (size_t j = 0; j < lanes; ++j) {
                    uint64_t* c = comp + 5 * (j % nc);
                    c[0] += lx[j];
                    c[1] += ly[j];
                    c[2] += lxx[j];
                    c[3] += lyy[j];
                    c[4] += lxy[j];
                }
            }
        }
        // The pixels after the last whole block of lanes (all of them when a
        // pixel has more components than there are lanes).
        for (size_t px = off / (nc ? nc : 1); px < width; ++px) {
            for (size_t k = 0; k < nc; ++k) {
                const uint64_t x = a[px * nc + k], y = b[px * nc + k];
                uint64_t* c = comp + 5 * k;
                c[0] += x;
                c[1] += y;
                c[2] += x * x;
                c[3] += y * y;
                c[4] += x * y;
            }
        }
        for (size_t k = 0; k < nc; ++k) {
            sums[k].sx += double(comp[5 * k + 0]);
            sums[k].sy += double(comp[5 * k + 1]);
            sums[k].sxx += double(comp[5 * k + 2]);
            sums[k].syy += double(comp[5 * k + 3]);
            sums[k].sxy += double(comp[5 * k + 4]);
        }
    }
    return KZ_OK;
}

KZB_MULTIVERSION(template <class T KZB_COMMA size_t FixedN>, CorrPass,
                 (const void* srcA, uint32_t aRB, const void* srcB, uint32_t bRB, size_t nComp,
                  uint32_t width, size_t rows, CorrSums* sums, uint64_t* comp),
                 <T KZB_COMMA FixedN>(srcA, aRB, srcB, bRB, nComp, width, rows, sums, comp))

// Pearson's coefficient of one component, 0 when either picture is constant.
inline double CorrCoefficient(const CorrSums& s, double n) noexcept
{
    const double v = (s.syy - s.sy * s.sy / n) * (s.sxx - s.sx * s.sx / n);
    if (v > 0)
        return (s.sxy - s.sx * s.sy / n) / std::sqrt(v);
    return 0.0;
}

inline bool Selected(const uint64_t* selection, size_t k) noexcept
{
    return !selection || ((selection[k / 64] >> (k % 64)) & 1u) != 0;
}

template <class T, size_t FixedN>
int Correlation(const void* srcA, uint32_t aRB, const void* srcB, uint32_t bRB, uint32_t nComp,
                uint32_t width, uint32_t count, double* result, const uint64_t* selection) noexcept
{
    *result = 0.0;
    if (count == 0)
        return KZ_ERR_INVALID_ARG;
    const size_t nc = FixedN ? FixedN : nComp;
    const size_t rows = KzRowCount(width, count);
    if (rows == 0 || nc == 0)
        return KZ_OK;

    // Five exact sums per component for the row in progress, and the
    // double-precision sums of the whole pass.
    KzScratch sumMem, accMem;
    CorrSums* sums = sumMem.Get<CorrSums>(nc);
    size_t accCount;
    uint64_t* comp = nullptr;
    if (!sums || !KzMulSize(nc, 5, &accCount) || !(comp = accMem.Get<uint64_t>(accCount)))
        return KZ_ERR_OUT_OF_MEMORY;
    for (size_t k = 0; k < nc; ++k)
        sums[k] = CorrSums();
    // The common counts run with constant strides whatever member was called.
    switch (nc) {
    case 1: CorrPass<T, 1>(srcA, aRB, srcB, bRB, nc, width, rows, sums, comp); break;
    case 3: CorrPass<T, 3>(srcA, aRB, srcB, bRB, nc, width, rows, sums, comp); break;
    case 4: CorrPass<T, 4>(srcA, aRB, srcB, bRB, nc, width, rows, sums, comp); break;
    default: CorrPass<T, 0>(srcA, aRB, srcB, bRB, nc, width, rows, sums, comp); break;
    }

    // The statistics cover the samples actually summed: whole rows.
    const double n = double(rows * size_t(width));
    double total = 0.0;
    size_t used = 0;
    for (size_t k = 0; k < nc; ++k) {
        if (FixedN == 0 && !Selected(selection, k))
            continue;
        total += CorrCoefficient(sums[k], n);
        ++used;
    }
    double mean = 0.0;
    if constexpr (FixedN == 1)
        mean = total;
    else if constexpr (FixedN == 3)
        mean = total * (1.0 / 3.0);
    else
        mean = used ? total / double(used) : 0.0;
    *result = mean > 0 ? mean : 0.0;
    return KZ_OK;
}

} // namespace

KZ_CAPI int linar_correlation_1x8(KZ_CORR_ARGS)
{
    return Correlation<uint8_t, 1>(srcA, aRowBytes, srcB, bRowBytes, 1, width, count, result, nullptr);
}
KZ_CAPI int linar_correlation_3x8(KZ_CORR_ARGS)
{
    return Correlation<uint8_t, 3>(srcA, aRowBytes, srcB, bRowBytes, 3, width, count, result, nullptr);
}
KZ_CAPI int linar_correlation_1x16(KZ_CORR_ARGS)
{
    return Correlation<uint16_t, 1>(srcA, aRowBytes, srcB, bRowBytes, 1, width, count, result, nullptr);
}
KZ_CAPI int linar_correlation_3x16(KZ_CORR_ARGS)
{
    return Correlation<uint16_t, 3>(srcA, aRowBytes, srcB, bRowBytes, 3, width, count, result, nullptr);
}
KZ_CAPI int linar_correlation_Nx8(KZ_CORRN_ARGS)
{
    return Correlation<uint8_t, 0>(srcA, aRowBytes, srcB, bRowBytes, nComp, width, count, result,
                                   selection);
}
KZ_CAPI int linar_correlation_Nx16(KZ_CORRN_ARGS)
{
    return Correlation<uint16_t, 0>(srcA, aRowBytes, srcB, bRowBytes, nComp, width, count, result,
                                    selection);
}

// ---------------------------------------------------------------------------
// Running average
// ---------------------------------------------------------------------------

namespace {

inline double LoadDouble(const double* p) noexcept
{
    double v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline const double* WeightRow(const double* base, uint32_t rowBytes, size_t r) noexcept
{
    return reinterpret_cast<const double*>(reinterpret_cast<const uint8_t*>(base) +
                                           r * size_t(rowBytes));
}

// One component: a contiguous loop over the pixels, which the compiler
// vectorises (double division included).
template <class T, bool Reciprocal>
KZB_INLINE void AverageRow1(T* d, double* wa, const T* s, const double* ws, size_t width) noexcept
{
    for (size_t x = 0; x < width; ++x) {
        const double wA = LoadDouble(wa + x);
        const double wS = LoadDouble(ws + x);
        const double sum = wA + wS;
        const double num = double(s[x]) * wS + double(d[x]) * wA;
        const double q = Reciprocal ? num * (1.0 / sum) : num / sum;
        d[x] = T(uint32_t(KzRoundToInt32(q)));
        std::memcpy(wa + x, &sum, sizeof sum);
    }
}

// Reciprocal: multiply by 1 / (wA + wS), formed once per pixel, instead of
// dividing each component.
template <class T, size_t FixedN, bool Reciprocal>
KZB_INLINE int AverageUpdateImpl(void* acc, uint32_t accRB, double* accW, uint32_t accWRB,
                                 const void* src, uint32_t srcRB, const double* srcW,
                                 uint32_t srcWRB, uint32_t nComp, uint32_t width,
                                 uint32_t count) noexcept
{
    const size_t nc = FixedN ? FixedN : nComp;
    const size_t rows = KzRowCount(width, count);
    for (size_t r = 0; r < rows; ++r) {
        T* d = KzRow<T>(acc, accRB, r);
        const T* s = KzRow<T>(src, srcRB, r);
        double* wa = const_cast<double*>(WeightRow(accW, accWRB, r));
        const double* ws = WeightRow(srcW, srcWRB, r);
        if (nc == 1) {
            AverageRow1<T, Reciprocal>(d, wa, s, ws, width);
            continue;
        }
        for (size_t x = 0; x < width; ++x) {
            const double wA = LoadDouble(wa + x);
            const double wS = LoadDouble(ws + x);
            const double sum = wA + wS;
            T* pd = d + x * nc;
            const T* ps = s + x * nc;
            if (Reciprocal) {
                const double inv = 1.0 / sum;
                for (size_t k = 0; k < nc; ++k)
                    pd[k] = T(uint32_t(KzRoundToInt32((ps[k] * wS + pd[k] * wA) * inv)));
            } else {
                for (size_t k = 0; k < nc; ++k)
                    pd[k] = T(uint32_t(KzRoundToInt32((ps[k] * wS + pd[k] * wA) / sum)));
            }
            std::memcpy(wa + x, &sum, sizeof sum);
        }
    }
    return KZ_OK;
}

KZB_MULTIVERSION(template <class T KZB_COMMA size_t FixedN KZB_COMMA bool Reciprocal>, AverageUpdate,
                 (void* acc, uint32_t accRB, double* accW, uint32_t accWRB, const void* src,
                  uint32_t srcRB, const double* srcW, uint32_t srcWRB, uint32_t nComp,
                  uint32_t width, uint32_t count),
                 <T KZB_COMMA FixedN KZB_COMMA Reciprocal>(acc, accRB, accW, accWRB, src, srcRB, srcW,
                                                            srcWRB, nComp, width, count))

} // namespace

#define KZB_AVG_CALL acc, accRowBytes, accWeights, accWeightRowBytes, src, srcRowBytes, srcWeights, srcWeightRowBytes
KZ_CAPI int average_update_1x8(KZ_AVG_ARGS, uint32_t width, uint32_t count)
{
    return AverageUpdate<uint8_t, 1, false>(KZB_AVG_CALL, 1, width, count);
}
KZ_CAPI int average_update_3x8(KZ_AVG_ARGS, uint32_t width, uint32_t count)
{
    return AverageUpdate<uint8_t, 3, false>(KZB_AVG_CALL, 3, width, count);
}
KZ_CAPI int average_update_1x16(KZ_AVG_ARGS, uint32_t width, uint32_t count)
{
    return AverageUpdate<uint16_t, 1, false>(KZB_AVG_CALL, 1, width, count);
}
KZ_CAPI int average_update_3x16(KZ_AVG_ARGS, uint32_t width, uint32_t count)
{
    return AverageUpdate<uint16_t, 3, true>(KZB_AVG_CALL, 3, width, count);
}
KZ_CAPI int average_update_Nx8(KZ_AVG_ARGS, uint32_t nComp, uint32_t width, uint32_t count)
{
    return AverageUpdate<uint8_t, 0, false>(KZB_AVG_CALL, nComp, width, count);
}
KZ_CAPI int average_update_Nx16(KZ_AVG_ARGS, uint32_t nComp, uint32_t width, uint32_t count)
{
    return AverageUpdate<uint16_t, 0, true>(KZB_AVG_CALL, nComp, width, count);
}
