#pragma GCC optimize("O3", "fp-contract=off")
// Raw float picture memory: copies, arithmetic, statistics and conversions.
// Sample loops run once per row over contiguous floats, compiled for the
// widest vector instruction set (KzRunIsa); products and sums are never fused
// so that results equal a plain single-precision computation everywhere.

#include "gnr_picture/KzFloatPicMem.h"

#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/KzKernelsC.h"
#include "gnr_picture/internal/KzFloatInternal.h"
#include "gnr_system/CKzAlloc.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

using kzf::FRowOf;
using kzf::RowsOf;

// d[i] = f(a[i], b[i]) over every row of three blocks.
template <class F>
KZ_ALWAYS_INLINE void Map3(float* d, unsigned ds, const float* a, unsigned as, const float* b, unsigned bs,
                           size_t n, size_t rows, F f)
{
    for (size_t r = 0; r < rows; ++r) {
        float* dr = FRowOf(d, ds, r);
        const float* ar = FRowOf(a, as, r);
        const float* br = FRowOf(b, bs, r);
        for (size_t i = 0; i < n; ++i)
            dr[i] = f(ar[i], br[i]);
    }
}

// d[i] = f(s[i]) over every row of two blocks.
template <class F>
KZ_ALWAYS_INLINE void Map2(float* d, unsigned ds, const float* s, unsigned ss, size_t n, size_t rows, F f)
{
    for (size_t r = 0; r < rows; ++r) {
        float* dr = FRowOf(d, ds, r);
        const float* sr = FRowOf(s, ss, r);
        for (size_t i = 0; i < n; ++i)
            dr[i] = f(sr[i]);
    }
}

template <class F>
kz_result Binary(float* dst, unsigned ds, float* a, unsigned as, float* b, unsigned bs, unsigned comps,
                 unsigned width, unsigned long count, F f)
{
    const size_t rows = RowsOf(width, count);
    if (rows == 0 || comps == 0)
        return KZ_OK;
    if (!dst || !a || !b)
        return KZ_ERR_FAILED;
    const size_t n = size_t(width) * comps;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA { Map3(dst, ds, a, as, b, bs, n, rows, f); });
    return KZ_OK;
}

template <class F>
kz_result Unary(float* dst, unsigned ds, float* s, unsigned ss, unsigned comps, unsigned width,
                unsigned long count, F f)
{
    const size_t rows = RowsOf(width, count);
    if (rows == 0 || comps == 0)
        return KZ_OK;
    if (!dst || !s)
        return KZ_ERR_FAILED;
    const size_t n = size_t(width) * comps;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA { Map2(dst, ds, s, ss, n, rows, f); });
    return KZ_OK;
}

size_t PackedCount(unsigned width, unsigned height, unsigned comps)
{
    return size_t(width) * height * comps;
}

} // namespace

// ---------------------------------------------------------------------------
// Copies, sets, components
// ---------------------------------------------------------------------------

kz_result CKzFloatPicMemAPI::Copy(float* dst, unsigned dstStride, float* src, unsigned srcStride, unsigned comps,
                                  unsigned width, unsigned long count)
{
    if (RowsOf(width, count) == 0)
        return KZ_OK;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    return copyfloat(dst, dstStride, src, srcStride, comps, width, count);
}

kz_result CKzFloatPicMemAPI::SetValue(float* dst, unsigned comps, unsigned dstStride, const float* values,
                                      unsigned width, unsigned long count)
{
    if (RowsOf(width, count) == 0)
        return KZ_OK;
    if (!dst || !values)
        return KZ_ERR_FAILED;
    return set_Nxfloat(dst, comps, dstStride, values, width, count);
}

kz_result CKzFloatPicMemAPI::SetComponentValue(float* dst, unsigned comps, unsigned dstStride, unsigned index,
                                               float value, unsigned width, unsigned long count)
{
    if (RowsOf(width, count) == 0)
        return KZ_OK;
    if (!dst)
        return KZ_ERR_FAILED;
    return setcomponent_Nxfloat(dst, comps, dstStride, index, value, width, count);
}

kz_result CKzFloatPicMemAPI::ExtractComponent(float* dst, unsigned dstStride, float* src, unsigned srcComps,
                                              unsigned srcStride, unsigned index, unsigned width,
                                              unsigned long count)
{
    if (RowsOf(width, count) == 0)
        return KZ_OK;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (srcComps == 1 && index == 0)
        return copyfloat(dst, dstStride, src, srcStride, 1, width, count);
    return copycomponent_Nxfloat_to_Nxfloat(dst, 1, dstStride, 0, src, srcComps, srcStride, index, width, count);
}

kz_result CKzFloatPicMemAPI::CopyComponent(float* dst, unsigned dstComps, unsigned dstStride, unsigned dstIndex,
                                           float* src, unsigned srcComps, unsigned srcStride, unsigned srcIndex,
                                           unsigned width, unsigned long count)
{
    if (RowsOf(width, count) == 0)
        return KZ_OK;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (srcComps == 1 && dstComps == 1 && srcIndex == 0 && dstIndex == 0)
        return copyfloat(dst, dstStride, src, srcStride, 1, width, count);
    return copycomponent_Nxfloat_to_Nxfloat(dst, dstComps, dstStride, dstIndex, src, srcComps, srcStride, srcIndex,
                                            width, count);
}

kz_result CKzFloatPicMemAPI::ExtractComponentRange(float* dst, unsigned dstStride, unsigned dstComps,
                                                   unsigned dstFirst, float* src, unsigned srcComps,
                                                   unsigned srcStride, unsigned first, unsigned last,
                                                   unsigned width, unsigned long count)
{
    const size_t rows = RowsOf(width, count);
    if (rows == 0)
        return KZ_OK;
    if (first > last || last >= srcComps || u64(dstFirst) + (last - first + 1) > dstComps)
        return KZ_ERR_INVALID_ARG;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    const size_t k = size_t(last) - first + 1;
    for (size_t r = 0; r < rows; ++r) {
        float* d = FRowOf(dst, dstStride, r) + dstFirst;
        const float* s = FRowOf(src, srcStride, r) + first;
        for (size_t x = 0; x < width; ++x)
            std::memmove(d + x * dstComps, s + x * srcComps, k * sizeof(float));
    }
    return KZ_OK;
}

kz_result CKzFloatPicMemAPI::ExpandComponent(float* dst, unsigned dstComps, unsigned dstStride, float* src,
                                             unsigned srcStride, unsigned width, unsigned long count)
{
    const size_t rows = RowsOf(width, count);
    if (rows == 0)
        return KZ_OK;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (dstComps == 1)
        return Copy(dst, dstStride, src, srcStride, 1, width, count);
    const size_t nc = dstComps;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        for (size_t r = 0; r < rows; ++r) {
            float* d = FRowOf(dst, dstStride, r);
            const float* s = FRowOf(src, srcStride, r);
            if (nc == 3) {
                for (size_t x = 0; x < width; ++x) {
                    const float v = s[x];
                    d[3 * x] = v;
                    d[3 * x + 1] = v;
                    d[3 * x + 2] = v;
                }
            } else {
                for (size_t x = 0; x < width; ++x)
                    for (size_t k = 0; k < nc; ++k)
                        d[x * nc + k] = s[x];
            }
        }
    });
    return KZ_OK;
}

kz_result CKzFloatPicMemAPI::Collapse2Intesity(float* dst, unsigned dstStride, float* src, unsigned srcStride,
                                               unsigned comps, unsigned width, unsigned long count)
{
    const size_t rows = RowsOf(width, count);
    if (rows == 0 || comps == 0)
        return KZ_OK;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    const float inv = 1.0f / float(comps);
    const size_t nc = comps;
    for (size_t r = 0; r < rows; ++r) {
        float* d = FRowOf(dst, dstStride, r);
        const float* s = FRowOf(src, srcStride, r);
        for (size_t x = 0; x < width; ++x) {
            float sum = 0.0f;
            for (size_t k = 0; k < nc; ++k)
                sum += s[x * nc + k];
            d[x] = sum * inv;
        }
    }
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Arithmetic
// ---------------------------------------------------------------------------

kz_result CKzFloatPicMemAPI::AddFloatnFloat(float* dst, unsigned dstStride, float* a, unsigned aStride, float* b,
                                            unsigned bStride, unsigned comps, unsigned width, unsigned long count)
{
    return Binary(dst, dstStride, a, aStride, b, bStride, comps, width, count,
                  [](float x, float y) KZ_INLINE_LAMBDA { return x + y; });
}

kz_result CKzFloatPicMemAPI::SubFloatnFloat(float* dst, unsigned dstStride, float* a, unsigned aStride, float* b,
                                            unsigned bStride, unsigned comps, unsigned width, unsigned long count)
{
    return Binary(dst, dstStride, a, aStride, b, bStride, comps, width, count,
                  [](float x, float y) KZ_INLINE_LAMBDA { return x - y; });
}

kz_result CKzFloatPicMemAPI::MultiFloatnFloat(float* dst, unsigned dstStride, float* a, unsigned aStride,
                                              float* b, unsigned bStride, unsigned comps, unsigned width,
                                              unsigned long count)
{
    return Binary(dst, dstStride, a, aStride, b, bStride, comps, width, count,
                  [](float x, float y) KZ_INLINE_LAMBDA { return x * y; });
}

kz_result CKzFloatPicMemAPI::DivFloatnFloat(float* dst, unsigned dstStride, float* a, unsigned aStride, float* b,
                                            unsigned bStride, unsigned comps, unsigned width, unsigned long count)
{
    return Binary(dst, dstStride, a, aStride, b, bStride, comps, width, count,
                  [](float x, float y) KZ_INLINE_LAMBDA { return (y == 0.0f || y != y) ? 0.0f : x / y; });
}

kz_result CKzFloatPicMemAPI::AddFloatnConst(float* dst, unsigned dstStride, float* src, unsigned srcStride,
                                            float c, unsigned comps, unsigned width, unsigned long count)
{
    return Unary(dst, dstStride, src, srcStride, comps, width, count,
                 [c](float x) KZ_INLINE_LAMBDA { return x + c; });
}

kz_result CKzFloatPicMemAPI::MultiFloatnConst(float* dst, unsigned dstStride, float* src, unsigned srcStride,
                                              float c, unsigned comps, unsigned width, unsigned long count)
{
    return Unary(dst, dstStride, src, srcStride, comps, width, count,
                 [c](float x) KZ_INLINE_LAMBDA { return x * c; });
}

kz_result CKzFloatPicMemAPI::SubConstnFloat(float* dst, unsigned dstStride, float c, float* src,
                                            unsigned srcStride, unsigned comps, unsigned width, unsigned long count)
{
    return Unary(dst, dstStride, src, srcStride, comps, width, count,
                 [c](float x) KZ_INLINE_LAMBDA { return c - x; });
}

kz_result CKzFloatPicMemAPI::DivConstnFloat(float* dst, unsigned dstStride, float c, float* src,
                                            unsigned srcStride, unsigned comps, unsigned width, unsigned long count)
{
    return Unary(dst, dstStride, src, srcStride, comps, width, count,
                 [c](float x) KZ_INLINE_LAMBDA { return (x == 0.0f || x != x) ? 0.0f : c / x; });
}

kz_result CKzFloatPicMemAPI::MinFloatnConst(float* dst, unsigned dstStride, float* src, unsigned srcStride,
                                            float c, unsigned comps, unsigned width, unsigned long count)
{
    return Unary(dst, dstStride, src, srcStride, comps, width, count,
                 [c](float x) KZ_INLINE_LAMBDA { return x < c ? x : c; });
}

kz_result CKzFloatPicMemAPI::MaxFloatnConst(float* dst, unsigned dstStride, float* src, unsigned srcStride,
                                            float c, unsigned comps, unsigned width, unsigned long count)
{
    return Unary(dst, dstStride, src, srcStride, comps, width, count,
                 [c](float x) KZ_INLINE_LAMBDA { return x > c ? x : c; });
}

kz_result CKzFloatPicMemAPI::Abs(float* dst, unsigned dstStride, float* src, unsigned srcStride, unsigned comps,
                                 unsigned width, unsigned long count)
{
    return Unary(dst, dstStride, src, srcStride, comps, width, count,
                 [](float x) KZ_INLINE_LAMBDA { return std::fabs(x); });
}

// ---------------------------------------------------------------------------
// In place, tightly packed
// ---------------------------------------------------------------------------

kz_result CKzFloatPicMemAPI::MultiplybyFloat(float* block, float factor, unsigned width, unsigned height,
                                             unsigned comps)
{
    const size_t n = PackedCount(width, height, comps);
    if (n == 0)
        return KZ_OK;
    if (!block)
        return KZ_ERR_FAILED;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        float* __restrict p = block;
        for (size_t i = 0; i < n; ++i)
            p[i] *= factor;
    });
    return KZ_OK;
}

kz_result CKzFloatPicMemAPI::Logarithm(float* block, unsigned width, unsigned height, unsigned comps)
{
    const size_t n = PackedCount(width, height, comps);
    if (n == 0)
        return KZ_OK;
    if (!block)
        return KZ_ERR_FAILED;
    for (size_t i = 0; i < n; ++i) {
        const float v = block[i];
        if (v != 0.0f && v == v)
            block[i] = std::log(std::fabs(v));
    }
    return KZ_OK;
}

kz_result CKzFloatPicMemAPI::Inversion(float* block, unsigned width, unsigned height, unsigned comps)
{
    const size_t n = PackedCount(width, height, comps);
    if (n == 0)
        return KZ_OK;
    if (!block)
        return KZ_ERR_FAILED;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        float* __restrict p = block;
        for (size_t i = 0; i < n; ++i) {
            const float v = p[i];
            p[i] = (v != 0.0f && v == v) ? 1.0f / v : v;
        }
    });
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Statistics, tightly packed
// ---------------------------------------------------------------------------

kz_result CKzFloatPicMemAPI::MinComp(float* dst, float* block, unsigned width, unsigned height, unsigned comps)
{
    if (comps == 0)
        return KZ_OK;
    if (!dst)
        return KZ_ERR_FAILED;
    const size_t px = size_t(width) * height;
    for (unsigned k = 0; k < comps; ++k)
        dst[k] = 1e20f;
    if (px == 0)
        return KZ_OK;
    if (!block)
        return KZ_ERR_FAILED;
    for (size_t i = 0; i < px; ++i)
        for (unsigned k = 0; k < comps; ++k) {
            const float v = block[i * comps + k];
            if (v < dst[k] || v != v)
                dst[k] = v;
        }
    return KZ_OK;
}

kz_result CKzFloatPicMemAPI::MaxComp(float* dst, float* block, unsigned width, unsigned height, unsigned comps)
{
    if (comps == 0)
        return KZ_OK;
    if (!dst)
        return KZ_ERR_FAILED;
    const size_t px = size_t(width) * height;
    for (unsigned k = 0; k < comps; ++k)
        dst[k] = -1e20f;
    if (px == 0)
        return KZ_OK;
    if (!block)
        return KZ_ERR_FAILED;
    for (size_t i = 0; i < px; ++i)
        for (unsigned k = 0; k < comps; ++k) {
            const float v = block[i * comps + k];
            if (v > dst[k])
                dst[k] = v;
        }
    return KZ_OK;
}

kz_result CKzFloatPicMemAPI::MeanComp(float* dst, float* block, unsigned width, unsigned height, unsigned comps)
{
    const size_t px = size_t(width) * height;
    if (comps == 0 || px == 0)
        return KZ_OK;
    if (!dst || !block)
        return KZ_ERR_FAILED;
    const double inv = 1.0 / double(px);
    for (unsigned k = 0; k < comps; ++k) {
        double sum = 0;
        for (size_t i = 0; i < px; ++i)
            sum += block[i * comps + k];
        dst[k] = float(sum * inv);
    }
    return KZ_OK;
}

kz_result CKzFloatPicMemAPI::DeviationComp(float* dst, float* mean, float* block, unsigned width, unsigned height,
                                           unsigned comps)
{
    const size_t px = size_t(width) * height;
    if (comps == 0 || px == 0)
        return KZ_OK;
    if (!dst || !mean || !block)
        return KZ_ERR_FAILED;
    for (unsigned k = 0; k < comps; ++k) {
        double sum = 0;
        const double m = mean[k];
        for (size_t i = 0; i < px; ++i) {
            const double d = block[i * comps + k] - m;
            sum += d * d;
        }
        dst[k] = float(std::sqrt(sum / double(px - 1)));
    }
    return KZ_OK;
}

int CKzFloatPicMemAPI::compare(const void* a, const void* b)
{
    return kzf::FloatLess(*static_cast<const float*>(a), *static_cast<const float*>(b)) ? -1 : 1;
}

kz_result CKzFloatPicMemAPI::MedianComp(float* dst, float* block, unsigned width, unsigned height, unsigned comps)
{
    const size_t px = size_t(width) * height;
    if (comps == 0 || px == 0)
        return KZ_OK;
    if (!dst || !block)
        return KZ_ERR_FAILED;
    float* scratch = static_cast<float*>(CKzAlloc::Alloc(0, px * sizeof(float)));
    if (!scratch)
        return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned k = 0; k < comps; ++k) {
        for (size_t i = 0; i < px; ++i)
            scratch[i] = block[i * comps + k];
        std::nth_element(scratch, scratch + px / 2, scratch + px, kzf::FloatLess);
        dst[k] = scratch[px / 2];
    }
    CKzAlloc::Free(scratch);
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Ranges
// ---------------------------------------------------------------------------

kz_result CKzFloatPicMemAPI::GetFloatMinMax(float* src, unsigned srcStride, unsigned comps, unsigned width,
                                            unsigned long count, float* min, float* max)
{
    float lo = 3.4028235e38f, hi = -3.4028235e38f;
    const size_t rows = RowsOf(width, count);
    if (rows != 0 && comps != 0) {
        if (!src)
            return KZ_ERR_FAILED;
        const size_t n = size_t(width) * comps;
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            for (size_t r = 0; r < rows; ++r) {
                const float* s = FRowOf(src, srcStride, r);
                float l = lo, h = hi;
                for (size_t i = 0; i < n; ++i) {
                    const float v = s[i];
                    l = v < l ? v : l;
                    h = v > h ? v : h;
                }
                lo = l;
                hi = h;
            }
        });
    }
    if (min)
        *min = lo;
    if (max)
        *max = hi;
    return KZ_OK;
}

kz_result CKzFloatPicMemAPI::GetFloatMinMaxInComps(float* src, unsigned srcStride, unsigned comps, unsigned width,
                                                   unsigned long count, float* mins, float* maxs)
{
    if (comps == 0)
        return KZ_OK;
    if (!mins || !maxs)
        return KZ_ERR_FAILED;
    for (unsigned k = 0; k < comps; ++k) {
        mins[k] = 3.4028235e38f;
        maxs[k] = -3.4028235e38f;
    }
    const size_t rows = RowsOf(width, count);
    if (rows == 0)
        return KZ_OK;
    if (!src)
        return KZ_ERR_FAILED;
    for (size_t r = 0; r < rows; ++r) {
        const float* s = FRowOf(src, srcStride, r);
        for (size_t x = 0; x < width; ++x)
            for (unsigned k = 0; k < comps; ++k) {
                const float v = s[x * comps + k];
                if (v < mins[k])
                    mins[k] = v;
                if (v > maxs[k])
                    maxs[k] = v;
            }
    }
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

namespace {

template <class T>
KZ_ALWAYS_INLINE void IntRowsToFloat(float* dst, unsigned ds, const void* src, unsigned ss, size_t n, size_t rows)
{
    for (size_t r = 0; r < rows; ++r) {
        float* __restrict d = FRowOf(dst, ds, r);
        const T* __restrict s = reinterpret_cast<const T*>(static_cast<const u8*>(src) + r * size_t(ss));
        for (size_t i = 0; i < n; ++i)
            d[i] = float(s[i]);
    }
}

template <class T>
KZ_ALWAYS_INLINE void FloatRowsToInt(void* dst, unsigned ds, const float* src, unsigned ss, size_t n, size_t rows,
                                     float fMin, float scale, float top)
{
    // trunc(v + 0.5) of a v clamped to 0..M, in single precision: the
    // integer part plus one where the fraction (exact) reaches 0.5. It equals
    // the sum taken in double and truncated.
    for (size_t r = 0; r < rows; ++r) {
        T* __restrict d = reinterpret_cast<T*>(static_cast<u8*>(dst) + r * size_t(ds));
        const float* __restrict s = FRowOf(src, ss, r);
        for (size_t i = 0; i < n; ++i) {
            float v = (s[i] - fMin) * scale;
            v = v > 0.0f ? v : 0.0f;  // NaN gives 0
            v = v < top ? v : top;
            const int32_t t = int32_t(v);
            const float frac = v - float(t);
            d[i] = T(t + (frac >= 0.5f ? 1 : 0));
        }
    }
}

} // namespace

kz_result CKzFloatPicMemAPI::ConvertPictureToFloat(float* dst, unsigned dstStride, void* src, unsigned srcStride,
                                                   unsigned bits, unsigned comps, unsigned width, unsigned height)
{
    if (bits == 0 || bits > 16)
        return KZ_ERR_NOT_SUPPORTED;
    if (width == 0 || height == 0 || comps == 0)
        return KZ_OK;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    const size_t n = size_t(width) * comps;
    if (bits <= 8)
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA { IntRowsToFloat<u8>(dst, dstStride, src, srcStride, n, height); });
    else
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA { IntRowsToFloat<u16>(dst, dstStride, src, srcStride, n, height); });
    return KZ_OK;
}

kz_result CKzFloatPicMemAPI::ConvertFloatToPicture(void* dst, unsigned bits, unsigned dstStride, float* src,
                                                   float fMin, float fMax, bool stretch, unsigned srcStride,
                                                   unsigned comps, unsigned width, unsigned height)
{
    if (bits == 0 || bits > 16)
        return KZ_ERR_FAILED;
    if (width == 0 || height == 0 || comps == 0)
        return KZ_OK;
    if (!dst || !src)
        return KZ_ERR_FAILED;
    const unsigned M = (1u << bits) - 1u;
    const float scale = stretch ? float(M) / (fMax - fMin) : 1.0f;
    const size_t n = size_t(width) * comps;
    const float top = float(M);
    if (bits <= 8)
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            FloatRowsToInt<u8>(dst, dstStride, src, srcStride, n, height, fMin, scale, top);
        });
    else
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            FloatRowsToInt<u16>(dst, dstStride, src, srcStride, n, height, fMin, scale, top);
        });
    return KZ_OK;
}
