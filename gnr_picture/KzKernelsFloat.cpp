// Float pictures: fills and copies, conversion to and from integer pictures,
// extremes, tone mapping and tile copies.
#pragma GCC optimize("O3", "fp-contract=off")
#include "gnr_picture/KzKernelsC.h"

#include <cmath>

namespace {

// Rows processed by the float kernels (64-bit counts).
constexpr size_t FloatRows(uint32_t width, uint64_t count) noexcept
{
    return width == 0 ? 0 : size_t(count / width);
}

template <class T>
inline T* FRow(void* base, uint32_t rowBytes, size_t r) noexcept
{
    return KzRow<T>(base, rowBytes, r);
}
template <class T>
inline const T* FRow(const void* base, uint32_t rowBytes, size_t r) noexcept
{
    return KzRow<T>(base, rowBytes, r);
}

// Integer sample to float picture (one float per sample, or the pixel mean).
template <class TS, bool Mean>
int ToFloat(void* dst, float* dst2, uint32_t dst2Comp, uint32_t dRB, const void* src, uint32_t sRB, uint32_t nComp,
            uint32_t width, uint64_t count)
{
    if (Mean && nComp == 0 && FloatRows(width, count) != 0)
        return KZ_ERR_INVALID_ARG;
    if (dst2 && dst2Comp) {
        size_t n;
        if (count > SIZE_MAX || !KzMulSize(size_t(dst2Comp), size_t(count), &n))
            return KZ_ERR_INVALID_ARG;
        std::memset(dst2, 0, n * sizeof(float));
    }
    const size_t rows = FloatRows(width, count);
    const size_t nc = nComp;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        if constexpr (Mean) {
            const float inv = 1.0f / float(nc);
            for (size_t r = 0; r < rows; ++r) {
                float* __restrict d = FRow<float>(dst, dRB, r);
                const TS* __restrict s = FRow<TS>(src, sRB, r);
                for (size_t x = 0; x < width; ++x) {
                    float sum = 0.0f;
                    for (size_t k = 0; k < nc; ++k)
                        sum += float(s[x * nc + k]);
                    d[x] = sum * inv;
                }
            }
        } else {
            const size_t n = size_t(width) * nc;
            for (size_t r = 0; r < rows; ++r) {
                float* __restrict d = FRow<float>(dst, dRB, r);
                const TS* __restrict s = FRow<TS>(src, sRB, r);
                for (size_t i = 0; i < n; ++i)
                    d[i] = float(s[i]);
            }
        }
    });
    return KZ_OK;
}

// Float to integer: rounded, limited to 0..limit, below 0 and NaN give 0.
template <class TD>
int FromFloat(void* dst, uint32_t dRB, uint32_t limit, const void* src, uint32_t sRB, uint32_t nComp, uint32_t width,
              uint64_t count)
{
    const size_t rows = FloatRows(width, count);
    const size_t n = size_t(width) * nComp;
    const double lim = double(limit);
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        for (size_t r = 0; r < rows; ++r) {
            TD* __restrict d = FRow<TD>(dst, dRB, r);
            const float* __restrict s = FRow<float>(src, sRB, r);
            for (size_t i = 0; i < n; ++i) {
                const double t = double(s[i]) + 0.5;
                // NaN and t <= 0 fail the first test.
                const double c = t > 0.0 ? (t < lim ? t : lim) : 0.0;
                d[i] = TD(int32_t(c));
            }
        }
    });
    return KZ_OK;
}

// Result of a tone curve: NaN or negative gives 0, above M gives M, else
// truncated.
template <class TD>
inline TD ToneOut(double y, uint32_t M)
{
    if (!(y >= 0.0))
        return 0;
    if (y > double(M))
        return TD(M);
    return TD(KzTruncToInt32(y));
}

enum class Tone { Tumblin, ParamTumblin, Drago };

template <class TD>
int ToneMap(void* dst, uint32_t dRB, const float* src, uint32_t width, uint32_t height, uint32_t nComp, Tone kind,
            uint32_t param)
{
    constexpr uint32_t M = sizeof(TD) == 1 ? 255u : 65535u;
    const size_t nc = nComp;
    const size_t rowFloats = size_t(width) * nc;
    for (size_t k = 0; k < nc; ++k) {
        float fmin, fmax;
        GetExtremes(const_cast<float*>(src), width, height, nComp, &fmin, &fmax, unsigned(k));
        const float Lmin = fmin, Lmax = fmax;
        // Per-component constants, single precision.
        const float s = 1.0f / std::sqrt(Lmin * Lmax);
        const float q = (30.0f / float(M)) * Lmax / Lmin;
        const float p0 = float(param);
        const float onePlus = 1.0f + Lmax;
        const float lg = float(std::log10(double(onePlus)));
        const float c = float(M) / lg;
        const float rLmax = 1.0f / Lmax;
        for (size_t r = 0; r < height; ++r) {
            const float* row = src + r * rowFloats;
            TD* d = KzRow<TD>(dst, dRB, r);
            for (size_t x = 0; x < width; ++x) {
                const float L = row[x * nc + k];
                double y;
                if (kind == Tone::Tumblin) {
                    const float p = (0.5f * (L * s - 1.0f) + 1.0f) * q;
                    y = (double(M) * double(L) * double(p)) / ((double(p) - 1.0) * double(L) + double(Lmax));
                } else if (kind == Tone::ParamTumblin) {
                    y = (double(M) * double(p0) * double(L)) / ((double(p0) - 1.0) * double(L) + double(Lmax));
                } else {
                    const float t = L * rLmax;
                    const double yd = double(c) * std::log(1.0 + double(L)) /
                                      std::log(2.0 + 8.0 * std::pow(double(t), 0.23446525633335114));
                    const float yf = float(yd);
                    y = double(yf);
                }
                d[x * nc + k] = ToneOut<TD>(y, M);
            }
        }
    }
    return KZ_OK;
}

} // namespace

// ---------------------------------------------------------------------------
// Fills and copies
// ---------------------------------------------------------------------------

KZ_CAPI int copyfloat(void* dst, kz_uint32 dstRowBytes, const void* src, kz_uint32 srcRowBytes, kz_uint32 nComp,
                      kz_uint32 width, kz_uint64 count)
{
    const size_t rows = FloatRows(width, count);
    const size_t bytes = size_t(width) * nComp * sizeof(float);
    for (size_t r = 0; r < rows; ++r)
        std::memmove(FRow<float>(dst, dstRowBytes, r), FRow<float>(src, srcRowBytes, r), bytes);
    return KZ_OK;
}

KZ_CAPI int set_Nxfloat(void* buf, kz_uint32 nComp, kz_uint32 rowBytes, const float* value, kz_uint32 width,
                        kz_uint64 count)
{
    const size_t rows = FloatRows(width, count);
    const size_t nc = nComp;
    if (rows == 0 || nc == 0)
        return KZ_OK;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        for (size_t r = 0; r < rows; ++r) {
            float* __restrict d = FRow<float>(buf, rowBytes, r);
            if (nc == 1) {
                const float v = value[0];
                for (size_t x = 0; x < width; ++x)
                    d[x] = v;
            } else {
                for (size_t x = 0; x < width; ++x)
                    for (size_t k = 0; k < nc; ++k)
                        d[x * nc + k] = value[k];
            }
        }
    });
    return KZ_OK;
}

KZ_CAPI int copycomponent_Nxfloat_to_Nxfloat(void* dst, kz_uint32 dstComp, kz_uint32 dstRowBytes, kz_uint32 dstIdx,
                                             const void* src, kz_uint32 srcComp, kz_uint32 srcRowBytes,
                                             kz_uint32 srcIdx, kz_uint32 width, kz_uint64 count)
{
    const size_t rows = FloatRows(width, count);
    if (rows == 0)
        return KZ_OK;
    if (!KzComponentIndexValid(dstIdx, dstComp) || !KzComponentIndexValid(srcIdx, srcComp))
        return KZ_ERR_INVALID_ARG;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        for (size_t r = 0; r < rows; ++r) {
            float* d = FRow<float>(dst, dstRowBytes, r) + dstIdx;
            const float* s = FRow<float>(src, srcRowBytes, r) + srcIdx;
            for (size_t x = 0; x < width; ++x)
                d[x * dstComp] = s[x * srcComp];
        }
    });
    return KZ_OK;
}

KZ_CAPI int setcomponent_Nxfloat(void* buf, kz_uint32 nComp, kz_uint32 rowBytes, kz_uint32 idx, float value,
                                 kz_uint32 width, kz_uint64 count)
{
    const size_t rows = FloatRows(width, count);
    if (rows == 0)
        return KZ_OK;
    if (!KzComponentIndexValid(idx, nComp))
        return KZ_ERR_INVALID_ARG;
    for (size_t r = 0; r < rows; ++r) {
        float* d = FRow<float>(buf, rowBytes, r) + idx;
        for (size_t x = 0; x < width; ++x)
            d[x * nComp] = value;
    }
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Integer and float
// ---------------------------------------------------------------------------

#define KZC_XF(name, TS, MEAN)                                                                              \
    KZ_CAPI int name(void* dst, float* dst2, kz_uint32 dst2Comp, kz_uint32 dstRowBytes, const void* src,     \
                     kz_uint32 srcRowBytes, kz_uint32, kz_uint32 nComp, kz_uint32 width, kz_uint64 count)   \
    {                                                                                                       \
        return ToFloat<TS, MEAN>(dst, dst2, dst2Comp, dstRowBytes, src, srcRowBytes, nComp, width, count);  \
    }
KZC_XF(extract_Nx8_to_1xFloat2, uint8_t, true)
KZC_XF(extract_Nx8_to_3xFloat2, uint8_t, false)
KZC_XF(extract_Nx16_to_1xFloat2, uint16_t, true)
KZC_XF(extract_Nx16_to_3xFloat2, uint16_t, false)
#undef KZC_XF

KZ_CAPI int extract_Float2_to_Nx8(void* dst, const void*, kz_uint32 dstRowBytes, kz_uint32, const void* src,
                                  const void*, kz_uint32 nComp, kz_uint32 srcRowBytes, kz_uint32 width,
                                  kz_uint64 count)
{
    return FromFloat<uint8_t>(dst, dstRowBytes, 255, src, srcRowBytes, nComp, width, count);
}
KZ_CAPI int extract_Float2_to_Nx16(void* dst, const void*, kz_uint32 dstRowBytes, kz_uint32 dstBits, const void* src,
                                   const void*, kz_uint32 nComp, kz_uint32 srcRowBytes, kz_uint32 width,
                                   kz_uint64 count)
{
    return FromFloat<uint16_t>(dst, dstRowBytes, KzDepthLimit<uint16_t>(dstBits), src, srcRowBytes, nComp, width,
                               count);
}

// ---------------------------------------------------------------------------
// Extremes and tone mapping
// ---------------------------------------------------------------------------

KZ_EXPORT int GetExtremes(float* data, unsigned int width, unsigned int height, unsigned int nComp, float* pMin,
                          float* pMax, unsigned int comp)
{
    float mn = 1e30f, mx = 0.0f;
    if (height != 0 && width != 0 && !KzComponentIndexValid(comp, nComp))
        return KZ_ERR_INVALID_ARG;
    const size_t total = size_t(width) * height;
    const float* p = data + comp;
    for (size_t i = 0; i < total; ++i) {
        const float v = p[i * nComp];
        if (v > mx)
            mx = v;
        if (v < mn && v > 0.0f)
            mn = v;
    }
    *pMin = mn;
    *pMax = mx;
    return KZ_OK;
}

#define KZC_TM(name, TD, KIND)                                                                              \
    KZ_CAPI int name(void* dst, const void*, kz_uint32 dstRowBytes, const float* src, kz_uint32 width,       \
                     kz_uint32 height, kz_uint32 nComp)                                                     \
    {                                                                                                       \
        return ToneMap<TD>(dst, dstRowBytes, src, width, height, nComp, KIND, 0);                           \
    }
KZC_TM(map_float_to_Nx8_Tumblin, uint8_t, Tone::Tumblin)
KZC_TM(map_float_to_Nx16_Tumblin, uint16_t, Tone::Tumblin)
KZC_TM(map_float_to_Nx8_Drago, uint8_t, Tone::Drago)
KZC_TM(map_float_to_Nx16_Drago, uint16_t, Tone::Drago)
KZC_TM(map_float_to_Nx8_param_Drago, uint8_t, Tone::Drago)
KZC_TM(map_float_to_Nx16_param_Drago, uint16_t, Tone::Drago)
#undef KZC_TM
KZ_CAPI int map_float_to_Nx8_param_Tumblin(void* dst, const void*, kz_uint32 dstRowBytes, const float* src,
                                           kz_uint32 width, kz_uint32 height, kz_uint32 nComp, kz_uint32 p)
{
    return ToneMap<uint8_t>(dst, dstRowBytes, src, width, height, nComp, Tone::ParamTumblin, p);
}
KZ_CAPI int map_float_to_Nx16_param_Tumblin(void* dst, const void*, kz_uint32 dstRowBytes, const float* src,
                                            kz_uint32 width, kz_uint32 height, kz_uint32 nComp, kz_uint32 p)
{
    return ToneMap<uint16_t>(dst, dstRowBytes, src, width, height, nComp, Tone::ParamTumblin, p);
}

// ---------------------------------------------------------------------------
// Tiles
// ---------------------------------------------------------------------------

namespace {
void CopyTileRows(float* dst, size_t dstOff, size_t dstStride, const float* src, size_t srcOff, size_t srcStride,
                  size_t rows, size_t rowFloats)
{
    for (size_t i = 0; i < rows; ++i)
        std::memmove(dst + dstOff + i * dstStride, src + srcOff + i * srcStride, rowFloats * sizeof(float));
}
} // namespace

KZ_EXPORT int joinfloatpic_to_floatpic(float* dst, unsigned int dstWidth, unsigned int, float* src,
                                       unsigned int srcWidth, unsigned int srcHeight, unsigned int x, unsigned int y,
                                       unsigned int nComp)
{
    const size_t nc = nComp;
    CopyTileRows(dst, (size_t(y) * dstWidth + x) * nc, size_t(dstWidth) * nc, src, 0, size_t(srcWidth) * nc,
                 srcHeight, size_t(srcWidth) * nc);
    return KZ_OK;
}

KZ_EXPORT int joinfloatpic_to_floatpic_ex(float* dst, unsigned int dstWidth, unsigned int, float* src,
                                          unsigned int srcWidth, unsigned int, unsigned int x, unsigned int y,
                                          unsigned int srcX, unsigned int srcY, unsigned int width,
                                          unsigned int height, unsigned int nComp)
{
    const size_t nc = nComp;
    CopyTileRows(dst, (size_t(y) * dstWidth + x) * nc, size_t(dstWidth) * nc, src,
                 (size_t(srcY) * srcWidth + srcX) * nc, size_t(srcWidth) * nc, height, size_t(width) * nc);
    return KZ_OK;
}

KZ_EXPORT int cutfloatpic_to_floatpic(float* dst, unsigned int dstWidth, unsigned int dstHeight, float* src,
                                      unsigned int srcWidth, unsigned int, unsigned int x, unsigned int y,
                                      unsigned int nComp)
{
    const size_t nc = nComp;
    CopyTileRows(dst, 0, size_t(dstWidth) * nc, src, (size_t(y) * srcWidth + x) * nc, size_t(srcWidth) * nc,
                 dstHeight, size_t(dstWidth) * nc);
    return KZ_OK;
}
