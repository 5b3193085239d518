// Helpers of the two-operand, masked-copy and component-count kernels beyond
// KzKernelCommon.h: per-call selection among explicitly instantiated
// instruction-set variants (the processor's set as KzCpuIsa() detects it),
// and exact division by 2^bits - 1 without a divide instruction.
//
// Every source file that includes this header starts with
//   #pragma GCC optimize("tree-vectorize", "vect-cost-model=dynamic", "fp-contract=off")
// before any include, so the per-row loops are vectorised at the project's
// default optimisation level and every inline helper is compiled with the
// same options (functions with different options cannot be inlined into each
// other); products and sums are never fused into one rounding, so every
// instruction set gives the plain scalar result.
#pragma once

#include "gnr_picture/KzKernelCommon.h"

#include <cstddef>
#include <cstdint>

#define KZB_INLINE __attribute__((always_inline)) inline
// Variants compiled for the instruction sets KzCpuIsa() detects; the AVX-512
// variant also prefers full-width vectors.
#define KZB_AVX2 KZ_TARGET_AVX2
// (clang takes no vector width in a target string; it says it by attribute.)
#if defined(__clang__)
#define KZB_AVX512                                                                                 \
    __attribute__((target("avx2,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi"), min_vector_width(512)))
#else
#define KZB_AVX512                                                                                 \
    __attribute__((target("avx2,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi,"                \
                          "prefer-vector-width=512")))
#endif
// AVX-512 with half-width vectors: streams of loads and stores with little
// work per byte run faster here in 32-byte vectors than in 64-byte ones. A file
// selects it for one family by redefining KZB_AVX512 around its declaration.
#if defined(__clang__)
#define KZB_AVX512_HALF                                                                            \
    __attribute__((target("avx2,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi"), min_vector_width(256)))
#else
#define KZB_AVX512_HALF                                                                            \
    __attribute__((target("avx2,bmi2,popcnt,avx512f,avx512bw,avx512vl,avx512vbmi,"                \
                          "prefer-vector-width=256")))
#endif
#define KZB_COMMA ,

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
        switch (KzCpuIsa()) {                                                                      \
        case KzIsa::Avx512:                                                                        \
            return Name##Avx512 CALL;                                                              \
        case KzIsa::Avx2:                                                                          \
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
