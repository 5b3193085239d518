// Line passes shared by the 2D and 3D wavelet transforms (internal).
//
// A pass works on B lines at once: the lines are gathered, periodically
// extended, into a lane-interleaved buffer (sample i of lane l at i * B + l),
// so every tap is one contiguous multiply-add over B lanes that the compiler
// vectorises, while each lane still sums its own products in tap order.
//
// Analysis of a line x of n samples (n even, n >= L) with filter F of L taps:
//   out[j] = sum_k F[k] x[(2j + k - (L/2 - 1)) mod n], k = 0 .. L-1.
// Synthesis of a line y of m samples into n = 2m samples, with the filter R
// already reversed: with u the upsampled line (u[2i] = y[i], odd samples 0),
//   out[t] = sum_k R[k] u[(t + k - L/2) mod n];
// the products with the zero samples are skipped (they add nothing).
#pragma once

#include "gnr_picture/KzKernelCommon.h"

#include <algorithm>
#include <cstddef>

namespace kzwavelet {

// ext[i * B + l] = line_l[(i - off) mod n] for i < len; lanes past `lanes` are 0.
// Samples at or past `split` of a line lie in a second array: sample s >= split
// of lane l is in2[l * inLane + (s - split) * inSample] (split = n: one array).
template <class S, int B>
KZ_ALWAYS_INLINE void Gather(S* ext, const S* in, const S* in2, size_t split, ptrdiff_t inLane, ptrdiff_t inSample,
                             unsigned lanes, size_t n, size_t off, size_t len)
{
    size_t s = (n - off % n) % n;
    for (size_t i = 0; i < len; ++i) {
        S* e = ext + i * B;
        const S* src = s < split ? in + ptrdiff_t(s) * inSample : in2 + ptrdiff_t(s - split) * inSample;
        for (unsigned l = 0; l < lanes; ++l)
            e[l] = src[ptrdiff_t(l) * inLane];
        for (unsigned l = lanes; l < unsigned(B); ++l)
            e[l] = S(0);
        if (++s == n)
            s = 0;
    }
}

inline size_t AnalysisExtent(size_t n, unsigned L)
{
    return n + L;
}
inline size_t SynthesisExtent(size_t m, unsigned L)
{
    return m + L + 4;
}

// Analyses nLines lines of n samples with F2 into outLo and with F1 into outHi.
// A group of B lines is gathered whole before any of its outputs is written,
// so the outputs may overwrite the group's own input samples (the transforms
// keep their intermediate results in the output arrays that way). The
// samples from `split` on of every line are read from in2 (see Gather).
template <class S, class A, class FT, int B>
KZ_ALWAYS_INLINE void AnalyzeLines(const S* in, ptrdiff_t inLane, ptrdiff_t inSample, size_t nLines, size_t n,
                                   S* outLo, S* outHi, ptrdiff_t outLane, ptrdiff_t outSample,
                                   const FT* F2, const FT* F1, unsigned L, S* ext, const S* in2 = nullptr,
                                   size_t split = ~size_t(0))
{
    const size_t off = L / 2 - 1;
    const size_t len = n + L - 2;
    const size_t nOut = n / 2;
    for (size_t first = 0; first < nLines; first += B) {
        const unsigned lanes = unsigned(std::min<size_t>(B, nLines - first));
        const S* second = in2 != nullptr ? in2 + ptrdiff_t(first) * inLane : nullptr;
        Gather<S, B>(ext, in + ptrdiff_t(first) * inLane, second, split, inLane, inSample, lanes, n, off, len);
        S* lo = outLo + ptrdiff_t(first) * outLane;
        S* hi = outHi + ptrdiff_t(first) * outLane;
        for (size_t j = 0; j < nOut; ++j) {
            A accLo[B] = {};
            A accHi[B] = {};
            const S* e = ext + 2 * j * B;
            for (unsigned k = 0; k < L; ++k) {
                const A f2 = A(F2[k]);
                const A f1 = A(F1[k]);
                const S* ek = e + size_t(k) * B;
                for (int l = 0; l < B; ++l) {
                    const A x = A(ek[l]);
                    accLo[l] += f2 * x;
                    accHi[l] += f1 * x;
                }
            }
            for (unsigned l = 0; l < lanes; ++l) {
                lo[ptrdiff_t(l) * outLane + ptrdiff_t(j) * outSample] = S(accLo[l]);
                hi[ptrdiff_t(l) * outLane + ptrdiff_t(j) * outSample] = S(accHi[l]);
            }
        }
    }
}

// Synthesises nLines pairs of lines (inA with the reversed filter RA, inB with
// RB) of m samples into lines of 2m samples: out = A-branch + B-branch. With
// `Single`, one running sum takes the A products and then the B products.
// Both lines of a group of B pairs are gathered before its outputs are
// written, so the outputs may overwrite the group's own inputs.
template <class S, class A, class FT, int B, bool Single>
KZ_ALWAYS_INLINE void SynthLines(const S* inA, const S* inB, ptrdiff_t inLane, ptrdiff_t inSample, size_t nLines,
                                 size_t m, S* out, ptrdiff_t outLane, ptrdiff_t outSample, const FT* RA,
                                 const FT* RB, unsigned L, S* extA, S* extB)
{
    const ptrdiff_t half = ptrdiff_t(L / 2);
    const ptrdiff_t off2 = ptrdiff_t(L / 4) + 1;
    const size_t n = 2 * m;
    const size_t len = SynthesisExtent(m, L);
    for (size_t first = 0; first < nLines; first += B) {
        const unsigned lanes = unsigned(std::min<size_t>(B, nLines - first));
        Gather<S, B>(extA, inA + ptrdiff_t(first) * inLane, inA, m, inLane, inSample, lanes, m, size_t(off2), len);
        Gather<S, B>(extB, inB + ptrdiff_t(first) * inLane, inB, m, inLane, inSample, lanes, m, size_t(off2), len);
        S* o = out + ptrdiff_t(first) * outLane;
        for (size_t t = 0; t < n; ++t) {
            const unsigned k0 = unsigned((size_t(half) + t) & 1);
            A accA[B] = {};
            A accB[B] = {};
            for (unsigned k = k0; k < L; k += 2) {
                const ptrdiff_t idx = (ptrdiff_t(t) + ptrdiff_t(k) - half) / 2 + off2;
                const A ra = A(RA[k]);
                const S* ea = extA + size_t(idx) * B;
                for (int l = 0; l < B; ++l)
                    accA[l] += ra * A(ea[l]);
            }
            if constexpr (Single) {
                for (unsigned k = k0; k < L; k += 2) {
                    const ptrdiff_t idx = (ptrdiff_t(t) + ptrdiff_t(k) - half) / 2 + off2;
                    const A rb = A(RB[k]);
                    const S* eb = extB + size_t(idx) * B;
                    for (int l = 0; l < B; ++l)
                        accA[l] += rb * A(eb[l]);
                }
                for (unsigned l = 0; l < lanes; ++l)
                    o[ptrdiff_t(l) * outLane + ptrdiff_t(t) * outSample] = S(accA[l]);
            } else {
                for (unsigned k = k0; k < L; k += 2) {
                    const ptrdiff_t idx = (ptrdiff_t(t) + ptrdiff_t(k) - half) / 2 + off2;
                    const A rb = A(RB[k]);
                    const S* eb = extB + size_t(idx) * B;
                    for (int l = 0; l < B; ++l)
                        accB[l] += rb * A(eb[l]);
                }
                for (unsigned l = 0; l < lanes; ++l)
                    o[ptrdiff_t(l) * outLane + ptrdiff_t(t) * outSample] = S(S(accA[l]) + S(accB[l]));
            }
        }
    }
}

// Rows lying along memory (sample i of row r at in[r * inRow + i]) are
// filtered without gathering: the periodically extended row e (e[i] =
// x[(i - off) mod n]) is split into its even and odd samples, so output j of
// the analysis, sum_k F[k] e[2j + k], reads for tap k the contiguous run
// (k even ? even : odd)[j + k/2 ...] and V outputs are computed at once,
// each summing its products in tap order exactly as the lane form does.

// Floats or doubles of the work buffer of AnalyzeRows.
inline size_t AnalyzeRowsWork(size_t n, unsigned L, int V)
{
    return 2 * (n / 2 + L / 2 + size_t(V));
}

template <class S, class A, class FT, int V>
KZ_ALWAYS_INLINE void AnalyzeRows(const S* in, ptrdiff_t inRow, size_t nRows, size_t n, S* outLo, S* outHi,
                                  ptrdiff_t outRow, const FT* F2, const FT* F1, unsigned L, A* work)
{
    const size_t off = L / 2 - 1;
    const size_t nOut = n / 2;
    const size_t m = nOut + L / 2;  // even and odd samples the windows reach
    const size_t cap = m + size_t(V);
    A* even = work;
    A* odd = work + cap;
    for (size_t i = m; i < cap; ++i)
        even[i] = odd[i] = A(0);
    // Samples 2i - off and 2i + 1 - off lie inside the row for i in [lo, hi).
    const size_t lo = (off + 1) / 2;
    const size_t hi = std::max(lo, std::min(m, (n + off) / 2));
    for (size_t r = 0; r < nRows; ++r) {
        const S* x = in + ptrdiff_t(r) * inRow;
        for (size_t i = 0; i < lo; ++i) {
            even[i] = A(x[(2 * i + n - off) % n]);
            odd[i] = A(x[(2 * i + 1 + n - off) % n]);
        }
        const S* xm = x + (2 * lo - off);
        for (size_t i = lo; i < hi; ++i) {
            even[i] = A(xm[2 * (i - lo)]);
            odd[i] = A(xm[2 * (i - lo) + 1]);
        }
        for (size_t i = hi; i < m; ++i) {
            even[i] = A(x[(2 * i + n - off) % n]);
            odd[i] = A(x[(2 * i + 1 + n - off) % n]);
        }
        S* oLo = outLo + ptrdiff_t(r) * outRow;
        S* oHi = outHi + ptrdiff_t(r) * outRow;
        for (size_t j0 = 0; j0 < nOut; j0 += size_t(V)) {
            A accLo[V] = {};
            A accHi[V] = {};
            for (unsigned k = 0; k < L; ++k) {
                const A f2 = A(F2[k]);
                const A f1 = A(F1[k]);
                const A* e = ((k & 1) ? odd : even) + j0 + k / 2;
                for (int l = 0; l < V; ++l) {
                    accLo[l] += f2 * e[l];
                    accHi[l] += f1 * e[l];
                }
            }
            const size_t cnt = std::min<size_t>(size_t(V), nOut - j0);
            for (size_t l = 0; l < cnt; ++l) {
                oLo[j0 + l] = S(accLo[l]);
                oHi[j0 + l] = S(accHi[l]);
            }
        }
    }
}

// Elements of each of the two work buffers of SynthRows.
inline size_t SynthRowsWork(size_t m, unsigned L, int V)
{
    return SynthesisExtent(m, L) + size_t(V);
}

// Synthesis of rows lying along memory: output t = 2p sums the taps k of the
// parity of L/2 over ext[p + (k - L/2)/2 + off2 ...], output 2p + 1 the other
// taps over ext[p + (k + 1 - L/2)/2 + off2 ...], in the tap order and with
// the branch sums of SynthLines; V outputs of each parity at once.
template <class S, class A, class FT, int V, bool Single>
KZ_ALWAYS_INLINE void SynthRows(const S* inA, const S* inB, ptrdiff_t inRow, size_t nRows, size_t m, S* out,
                                ptrdiff_t outRow, const FT* RA, const FT* RB, unsigned L, S* extA, S* extB)
{
    const ptrdiff_t half = ptrdiff_t(L / 2);
    const size_t off2 = size_t(L / 4) + 1;
    const size_t len = SynthesisExtent(m, L);
    for (size_t i = len; i < len + size_t(V); ++i)
        extA[i] = extB[i] = S(0);
    const unsigned kEven = unsigned(half & 1);
    for (size_t r = 0; r < nRows; ++r) {
        const S* ya = inA + ptrdiff_t(r) * inRow;
        const S* yb = inB + ptrdiff_t(r) * inRow;
        // ext[i] = y[(i - off2) mod m]
        size_t s = (m - off2 % m) % m;
        for (size_t i = 0; i < len; ++i) {
            extA[i] = ya[s];
            extB[i] = yb[s];
            if (++s == m)
                s = 0;
        }
        S* o = out + ptrdiff_t(r) * outRow;
        for (size_t p0 = 0; p0 < m; p0 += size_t(V)) {
            A sum[2][V];
            for (int parity = 0; parity < 2; ++parity) {
                const unsigned k0 = kEven ^ unsigned(parity);
                A accA[V] = {};
                A accB[V] = {};
                for (unsigned k = k0; k < L; k += 2) {
                    const S* ea = extA + p0 + size_t((ptrdiff_t(k) + parity - half) / 2 + ptrdiff_t(off2));
                    const A ra = A(RA[k]);
                    for (int l = 0; l < V; ++l)
                        accA[l] += ra * A(ea[l]);
                }
                for (unsigned k = k0; k < L; k += 2) {
                    const S* eb = extB + p0 + size_t((ptrdiff_t(k) + parity - half) / 2 + ptrdiff_t(off2));
                    const A rb = A(RB[k]);
                    for (int l = 0; l < V; ++l) {
                        if constexpr (Single)
                            accA[l] += rb * A(eb[l]);
                        else
                            accB[l] += rb * A(eb[l]);
                    }
                }
                for (int l = 0; l < V; ++l) {
                    if constexpr (Single)
                        sum[parity][l] = accA[l];
                    else
                        sum[parity][l] = A(S(S(accA[l]) + S(accB[l])));
                }
            }
            const size_t cnt = std::min<size_t>(size_t(V), m - p0);
            for (size_t l = 0; l < cnt; ++l) {
                o[2 * (p0 + l)] = S(sum[0][l]);
                o[2 * (p0 + l) + 1] = S(sum[1][l]);
            }
        }
    }
}

// a x b x c in size_t, false on overflow.
inline bool SizeProduct(size_t& out, size_t a, size_t b, size_t c = 1, size_t d = 1)
{
    size_t t = 0;
    return !__builtin_mul_overflow(a, b, &t) && !__builtin_mul_overflow(t, c, &t) &&
           !__builtin_mul_overflow(t, d, &out);
}

}  // namespace kzwavelet
