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
#define KZB_AVX512                                                                                 \
    __attribute__((target("avx2,avx512f,avx512bw,avx512vl,avx512dq,prefer-vector-width=512")))
#define KZB_COMMA ,

// Instruction-set levels of the kernel variants.
enum : int { KZB_ISA_BASE = 0, KZB_ISA_AVX2 = 1, KZB_ISA_AVX512 = 2 };

// Highest level the processor runs, detected once per process (a thread-safe
// static).
inline int KzbDetectedIsa() noexcept
{
    static const int s_level = [] {
        __builtin_cpu_init();
        if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
            __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq"))
            return int(KZB_ISA_AVX512);
        if (__builtin_cpu_supports("avx2"))
            return int(KZB_ISA_AVX2);
        return int(KZB_ISA_BASE);
    }();
    return s_level;
}

// Set by tests to cap the level below what the processor runs (-1: no cap).
inline std::atomic<int> g_kzbIsaCap{-1};

// Level the kernels use: consulted once per call, after which a whole
// picture runs through the variant compiled for that instruction set.
inline int KzbIsa() noexcept
{
    const int detected = KzbDetectedIsa();
    const int cap = g_kzbIsaCap.load(std::memory_order_relaxed);
    return cap >= 0 && cap < detected ? cap : detected;
}

// Runs fn once for every level the processor runs, highest first (tests).
template <class Fn>
inline void KzbForEachIsa(Fn&& fn)
{
    for (int level = KzbDetectedIsa(); level >= 0; --level) {
        g_kzbIsaCap.store(level);
        fn(level);
    }
    g_kzbIsaCap.store(-1);
}

// Declares Name##Avx512, Name##Avx2 and Name##Base (baseline x86-64) around
// the always-inline template Name##Impl, and a dispatcher Name that picks one
// of them per call. ARGS is the parenthesised parameter list, CALL the
// parenthesised argument list.
#define KZB_MULTIVERSION(TPL, Name, ARGS, CALL)                                                    \
    TPL KZB_AVX512 __attribute__((noinline)) int Name##Avx512 ARGS { return Name##Impl CALL; }     \
    TPL KZB_AVX2 __attribute__((noinline)) int Name##Avx2 ARGS { return Name##Impl CALL; }         \
    TPL __attribute__((noinline)) int Name##Base ARGS { return Name##Impl CALL; }                  \
    TPL inline int Name ARGS                                                                       \
    {                                                                                              \
        switch (KzbIsa()) {                                                                        \
        case KZB_ISA_AVX512:                                                                       \
            return Name##Avx512 CALL;                                                              \
        case KZB_ISA_AVX2:                                                                         \
            return Name##Avx2 CALL;                                                                \
        default:                                                                                   \
            return Name##Base CALL;                                                                \
        }                                                                                          \
    }

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
