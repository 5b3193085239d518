// Helpers of the two-operand, masked-copy and component-count kernels beyond
// KzKernelCommon.h: instruction-set selection once per call, and exact
// division by 2^bits - 1 without a divide instruction.
//
// Every source file that includes this header starts with
//   #pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic")
// before any include, so the per-row loops are vectorised at the project's
// default optimisation level and every inline helper is compiled with the
// same options (functions with different options cannot be inlined into each
// other).
#pragma once

#include "gnr_picture/KzKernelCommon.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

#define KZB_INLINE __attribute__((always_inline)) inline
#define KZB_AVX2 __attribute__((target("avx2")))
#define KZB_COMMA ,

// Set by tests to run the baseline variants on a processor that has AVX2.
inline std::atomic<bool> g_kzbForceBaseline{false};

// True when the processor runs AVX2 code. Read once per process (a
// thread-safe static); kernels consult it once per call and then run a whole
// picture through the variant compiled for that instruction set.
inline bool KzbHasAvx2() noexcept
{
    static const bool s_has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return s_has && !g_kzbForceBaseline.load(std::memory_order_relaxed);
}

// Runs fn once with the variants the processor selects and once with the
// baseline ones (tests).
template <class Fn>
inline void KzbForEachIsa(Fn&& fn)
{
    for (bool baseline : {false, true}) {
        g_kzbForceBaseline.store(baseline);
        fn(baseline);
    }
    g_kzbForceBaseline.store(false);
}

// Declares Name##Avx2 (compiled for AVX2) and Name##Base (baseline x86-64)
// around the always-inline template Name##Impl, and a dispatcher Name that
// picks one of them per call. ARGS is the parenthesised parameter list,
// CALL the parenthesised argument list.
#define KZB_MULTIVERSION(TPL, Name, ARGS, CALL)                                                    \
    TPL KZB_AVX2 __attribute__((noinline)) int Name##Avx2 ARGS { return Name##Impl CALL; }         \
    TPL __attribute__((noinline)) int Name##Base ARGS { return Name##Impl CALL; }                  \
    TPL inline int Name ARGS { return KzbHasAvx2() ? Name##Avx2 CALL : Name##Base CALL; }

// floor(n / (2^b - 1)) for 0 <= n < (2^b - 1) * 2^b, b >= 1: with
// n = q (2^b - 1) + r the sum n + floor(n / 2^b) + 1 lies in
// [q 2^b, (q + 1) 2^b), so one shift yields q. Vectorises (shifts and adds
// only) and is exact in the stated range.
// Every step is cut to U, so 16-bit lanes stay 16-bit after vectorisation;
// in U = uint16_t the sum wraps only for n >= 2^16 - 2^(16 - b), which is at
// or above (2^b - 1)^2 and is handled by the callers' saturation.
template <class U>
KZB_INLINE U KzbDivByMask(U n, unsigned b) noexcept
{
    U t = U(n >> b);
    t = U(n + t);
    t = U(t + 1u);
    return U(t >> b);
}
