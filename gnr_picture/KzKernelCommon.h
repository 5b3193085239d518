// Helpers shared by every pixel-kernel family.
//
// A kernel sees a picture as a base pointer, its row bytes and a few counts.
// Row r starts at base + r * row bytes; the kernels process count / width rows
// of width pixels and never touch the bytes past a row's last pixel.
//
// Rules every family keeps through these helpers:
//  - width 0, or a count below the width, processes no row and returns 0
//    without touching memory (KzRowCount gives 0); nothing divides by the width
//    before that check;
//  - row offsets and sample indexes are size_t / ptrdiff_t, so pictures of
//    4 GiB and more reach the right rows;
//  - a sample above the depth's largest value never indexes past a table: it is
//    masked with 2^bits - 1 (KzDepthLimit) before the lookup;
//  - double to integer conversions go through KzTruncToInt32 / KzTruncToInt64,
//    which give the results of the x86 truncating conversion (NaN and
//    out-of-range values give the most negative integer) with defined
//    behaviour, independent of compiler constant folding;
//  - the format is chosen once per call: every exported kernel instantiates a
//    template with its container type (and, where fixed, its component count),
//    and the work per row is a contiguous loop over plain arrays that the
//    compiler can vectorise; no per-sample branch on the format. KzRunIsa
//    compiles such a call for the processor's widest vector instruction set,
//    chosen once per call too. Kernel sources start with
//    #pragma GCC optimize("O3", "fp-contract=off") (before any include): the
//    library's default optimisation level only vectorises loops whose trip
//    count is a known multiple of the vector width, and the instruction sets
//    with fused multiply-add would otherwise fuse a product and a sum into one
//    rounding, so a result could differ by one between processors;
//  - scratch memory and heap tables come from KzScratch / SKzAllocHelper; an
//    allocation failure makes the kernel return KZ_ERR_OUT_OF_MEMORY (-3) and
//    nothing throws;
//  - a component index at or past the component count is refused with
//    KZ_ERR_INVALID_ARG (-4) (KzComponentIndexValid).
#pragma once

#include "gnr_system/kz_base.h"

#include <atomic>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

// Row loops are forced inline so that they are compiled (and vectorised) for
// the instruction set of the function that runs them (KzRunIsa below).
#define KZ_ALWAYS_INLINE inline __attribute__((always_inline))
// The same for lambdas: [&](...) KZ_INLINE_LAMBDA { ... }.
#define KZ_INLINE_LAMBDA __attribute__((always_inline))

// ---------------------------------------------------------------------------
// Instruction-set dispatch
// ---------------------------------------------------------------------------

// The widest vector instruction set this processor runs, detected once
// (thread-safe static initialisation).
enum class KzIsa { Base, Avx2, Avx512 };

// Upper bound on the instruction set used, so tests can run every path on one
// machine; hosts never change it.
inline std::atomic<int>& KzIsaLimit() noexcept
{
    static std::atomic<int> limit{int(KzIsa::Avx512)};
    return limit;
}

inline KzIsa KzCpuIsa() noexcept
{
    static const KzIsa detected = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi"))
            return KzIsa::Avx512;
        if (__builtin_cpu_supports("avx2"))
            return KzIsa::Avx2;
        return KzIsa::Base;
    }();
    const int limit = KzIsaLimit().load(std::memory_order_relaxed);
    return int(detected) < limit ? detected : KzIsa(limit);
}

#define KZ_TARGET_AVX2 __attribute__((target("avx2,bmi2,popcnt")))
#define KZ_TARGET_AVX512 __attribute__((target("avx2,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi")))

template <class F>
KZ_TARGET_AVX2 __attribute__((noinline)) void KzRunAvx2(F& f)
{
    f(KzIsa::Avx2);
}
template <class F>
KZ_TARGET_AVX512 __attribute__((noinline)) void KzRunAvx512(F& f)
{
    f(KzIsa::Avx512);
}

// Runs body(isa) once per call, compiled for the processor's widest vector
// instruction set: the body is a lambda marked KZ_ALWAYS_INLINE whose row
// loops (also forced inline) are then vectorised for that set. Tests and
// results do not depend on the set chosen.
template <class F>
inline void KzRunIsa(F&& body)
{
    switch (KzCpuIsa()) {
    case KzIsa::Avx512:
        KzRunAvx512(body);
        break;
    case KzIsa::Avx2:
        KzRunAvx2(body);
        break;
    default:
        body(KzIsa::Base);
        break;
    }
}

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

// Truncation toward zero into a signed 32-bit integer, as the x86 conversion
// does it: NaN and values outside the int32 range give INT32_MIN.
// Every double in (-2^31 - 1, 2^31) truncates into range.
inline int32_t KzTruncToInt32(double x) noexcept
{
    if (x > -2147483649.0 && x < 2147483648.0)
        return static_cast<int32_t>(x);
    return INT32_MIN;
}

// The same for 64 bits: NaN and values outside [-2^63, 2^63) give INT64_MIN.
inline int64_t KzTruncToInt64(double x) noexcept
{
    if (x >= -9223372036854775808.0 && x < 9223372036854775808.0)
        return static_cast<int64_t>(x);
    return INT64_MIN;
}

// "Rounded": add 0.5 in double precision and truncate (x86 rules above).
inline int32_t KzRoundToInt32(double x) noexcept { return KzTruncToInt32(x + 0.5); }

// ---------------------------------------------------------------------------
// Value ranges, clamping and saturation
// ---------------------------------------------------------------------------

// Largest value of a depth held in container T: 2^bits - 1 taken modulo the
// container range, i.e. the container's maximum for bits at or above its
// width. Bits 0 gives 0. Used both as the clamp limit and as the index mask
// that keeps a sample inside a table of 2^bits entries.
template <class T>
constexpr T KzDepthLimit(unsigned bits) noexcept
{
    static_assert(std::is_unsigned_v<T>);
    if (bits >= sizeof(T) * 8)
        return std::numeric_limits<T>::max();
    return static_cast<T>((uint64_t(1) << bits) - 1);
}

// Index mask of kernels whose container is a byte and whose table has 256
// entries unless a smaller depth is named: bits 1..7 mask, anything else
// (including 0, which callers pass when the depth is irrelevant) keeps the byte.
constexpr uint8_t KzIndexMask8(unsigned bits) noexcept
{
    return (bits >= 1 && bits < 8) ? static_cast<uint8_t>((1u << bits) - 1) : uint8_t(0xFF);
}

// Clamp a wide integer into 0..limit.
template <class T, class W>
constexpr T KzClampTo(W v, T limit) noexcept
{
    static_assert(std::is_integral_v<W>);
    if constexpr (std::is_signed_v<W>) {
        if (v < 0)
            return 0;
    }
    if (static_cast<std::make_unsigned_t<W>>(v) > limit)
        return limit;
    return static_cast<T>(v);
}

// Clamp a wide integer into the whole range of container T.
template <class T, class W>
constexpr T KzSaturate(W v) noexcept
{
    return KzClampTo<T>(v, std::numeric_limits<T>::max());
}

// Rounded and clamped: add 0.5, truncate by the x86 rule, limit to 0..limit.
// A NaN or an int32 overflow therefore ends as 0.
template <class T>
inline T KzRoundClamp(double x, T limit) noexcept
{
    return KzClampTo<T>(KzRoundToInt32(x), limit);
}

// Overflow-checked size arithmetic for scratch sizes.
inline bool KzMulSize(size_t a, size_t b, size_t* out) noexcept
{
    return !__builtin_mul_overflow(a, b, out);
}

// ---------------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------------

// Number of whole rows a call processes: count / width, 0 for width 0.
constexpr size_t KzRowCount(uint32_t width, uint32_t count) noexcept
{
    return width == 0 ? 0 : size_t(count / width);
}

// Start of row r. The byte offset is rounded down to a whole container, so a
// row of 16- or 32-bit samples always starts on a container boundary.
template <class T>
inline T* KzRow(void* base, uint32_t rowBytes, size_t r) noexcept
{
    size_t off = r * size_t(rowBytes);
    off &= ~(sizeof(T) - 1);
    return reinterpret_cast<T*>(static_cast<uint8_t*>(base) + off);
}
template <class T>
inline const T* KzRow(const void* base, uint32_t rowBytes, size_t r) noexcept
{
    size_t off = r * size_t(rowBytes);
    off &= ~(sizeof(T) - 1);
    return reinterpret_cast<const T*>(static_cast<const uint8_t*>(base) + off);
}

// Runs rowFn(dstRow, srcRow, samplesPerRow) for every processed row of a
// destination/source pair. rowFn is the contiguous per-row loop; it is inlined
// into the instantiation, so one call selects the format once and every row
// runs the same tight loop.
template <class TD, class TS, class RowFn>
KZ_ALWAYS_INLINE void KzForRows2(void* dst, uint32_t dstRowBytes, const void* src, uint32_t srcRowBytes,
                       size_t samplesPerPixel, uint32_t width, uint32_t count, RowFn&& rowFn)
{
    const size_t rows = KzRowCount(width, count);
    const size_t n = size_t(width) * samplesPerPixel;
    for (size_t r = 0; r < rows; ++r)
        rowFn(KzRow<TD>(dst, dstRowBytes, r), KzRow<TS>(src, srcRowBytes, r), n);
}

// The same for a kernel that works on one picture in place.
template <class T, class RowFn>
KZ_ALWAYS_INLINE void KzForRows1(void* pic, uint32_t rowBytes, size_t samplesPerPixel, uint32_t width,
                       uint32_t count, RowFn&& rowFn)
{
    const size_t rows = KzRowCount(width, count);
    const size_t n = size_t(width) * samplesPerPixel;
    for (size_t r = 0; r < rows; ++r)
        rowFn(KzRow<T>(pic, rowBytes, r), n);
}

// Maps one row of n samples: d[i] = f(s[i], i). The destination may be the
// source itself; a row that is exactly in place, or that does not overlap its
// source, runs a loop free of aliasing so the compiler vectorises it without
// runtime overlap checks; any other overlap takes the plain loop.
template <class TD, class TS, class F>
KZ_ALWAYS_INLINE void KzMapRow(TD* d, const TS* s, size_t n, F&& f)
{
    const auto* db = reinterpret_cast<const unsigned char*>(d);
    const auto* sb = reinterpret_cast<const unsigned char*>(s);
    if (static_cast<const void*>(d) == static_cast<const void*>(s) && sizeof(TD) == sizeof(TS)) {
        TD* __restrict p = d;
        for (size_t i = 0; i < n; ++i)
            p[i] = f(static_cast<TS>(p[i]), i);
    } else if (db + n * sizeof(TD) <= sb || sb + n * sizeof(TS) <= db) {
        TD* __restrict dr = d;
        const TS* __restrict sr = s;
        for (size_t i = 0; i < n; ++i)
            dr[i] = f(sr[i], i);
    } else {
        for (size_t i = 0; i < n; ++i)
            d[i] = f(s[i], i);
    }
}

// Exposure-marker record as the marking kernels read it: the colour painted
// into output components 0, 1, 2 (blue, green, red) and a flag byte; a
// non-zero flag asks for complementary marking.
struct SKzLutExpColor {
    uint8_t blue;
    uint8_t green;
    uint8_t red;
    uint8_t flag;
};

// ---------------------------------------------------------------------------
// Arguments
// ---------------------------------------------------------------------------

// A component index at or past the component count would write into the next
// pixel; kernels refuse it with KZ_ERR_INVALID_ARG.
constexpr bool KzComponentIndexValid(uint32_t index, uint32_t components) noexcept
{
    return index < components;
}

// ---------------------------------------------------------------------------
// Scratch memory
// ---------------------------------------------------------------------------

// Per-call scratch: the first small request is served from an inline buffer
// (no allocation, nothing large on the stack), others from the heap; every
// block stays valid until the object goes out of scope. Get returns null when
// the size overflows or the heap is exhausted; the kernel then returns
// KZ_ERR_OUT_OF_MEMORY. Never throws.
class KzScratch {
public:
    static constexpr size_t kInline = 8192;

    KzScratch() noexcept = default;
    KzScratch(const KzScratch&) = delete;
    KzScratch& operator=(const KzScratch&) = delete;
    ~KzScratch()
    {
        while (m_heap) {
            void* prev;
            std::memcpy(&prev, m_heap, sizeof(prev));
            std::free(m_heap);
            m_heap = prev;
        }
    }

    // Memory for `n` objects of T (trivial types), aligned for T; 64-byte
    // aligned when inline, 16-byte aligned from the heap.
    template <class T>
    T* Get(size_t n) noexcept
    {
        static_assert(alignof(T) <= 16);
        size_t bytes;
        if (!KzMulSize(n, sizeof(T), &bytes))
            return nullptr;
        if (bytes <= kInline && !m_inlineUsed) {
            m_inlineUsed = true;
            return reinterpret_cast<T*>(m_inline);
        }
        // Each heap block starts with a header linking it to the previous one.
        if (bytes > SIZE_MAX - kHeader)
            return nullptr;
        unsigned char* block = static_cast<unsigned char*>(std::malloc(kHeader + bytes));
        if (!block)
            return nullptr;
        std::memcpy(block, &m_heap, sizeof(m_heap));
        m_heap = block;
        return reinterpret_cast<T*>(block + kHeader);
    }

private:
    static constexpr size_t kHeader = 16;
    alignas(64) unsigned char m_inline[kInline];
    bool m_inlineUsed = false;
    void* m_heap = nullptr;
};

// Scope guard of a heap row-pointer LUT: the pointer array, whose pointer 0
// addresses the single block holding all rows. The destructor frees the block
// and then the pointer array; a null field does nothing.
struct SKzAllocHelper {
    void** m_ppLut = nullptr;

    SKzAllocHelper() noexcept = default;
    explicit SKzAllocHelper(void** ppLut) noexcept : m_ppLut(ppLut) {}
    SKzAllocHelper(const SKzAllocHelper&) = delete;
    SKzAllocHelper& operator=(const SKzAllocHelper&) = delete;
    ~SKzAllocHelper()
    {
        if (m_ppLut) {
            std::free(m_ppLut[0]);
            std::free(m_ppLut);
        }
    }
};

// Builds a heap row-pointer LUT of `rows` rows with `components` entries of T
// each (row v at entry v * components of one block) and hands it to `guard`.
// Returns the pointer array, or null when an allocation fails or the size
// overflows (nothing is leaked).
template <class T>
inline T** KzAllocRowLut(size_t rows, size_t components, SKzAllocHelper& guard) noexcept
{
    size_t entries, bytes, ptrBytes;
    if (rows == 0 || !KzMulSize(rows, components ? components : 1, &entries) ||
        !KzMulSize(entries, sizeof(T), &bytes) || !KzMulSize(rows, sizeof(T*), &ptrBytes))
        return nullptr;
    T** ptrs = static_cast<T**>(std::malloc(ptrBytes));
    if (!ptrs)
        return nullptr;
    T* block = static_cast<T*>(std::calloc(entries, sizeof(T)));
    if (!block) {
        std::free(ptrs);
        return nullptr;
    }
    for (size_t v = 0; v < rows; ++v)
        ptrs[v] = block + v * components;
    guard.m_ppLut = reinterpret_cast<void**>(ptrs);
    return ptrs;
}
