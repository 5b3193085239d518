#pragma GCC optimize("O3", "fp-contract=off")
// Nearest-neighbour stretches.
//
// Each axis maps destination index i to a source index by one rule per call;
// the column rule is evaluated once into a table of sample offsets, and a
// destination row whose source row repeats the previous one is a block copy
// of that destination row. Every index is formed in double precision and
// compared with its limit before it becomes an integer, so no ratio or scroll
// offset can produce an index outside the picture.
#include "gnr_picture/KzStretch.h"

#include "gnr_picture/KzKernelCommon.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr size_t kBackground = SIZE_MAX;

// floor(x) limited to 0 .. limit - 1 (limit >= 1).
inline size_t ClampIndex(double x, size_t limit)
{
    if (!(x < double(limit)))
        return limit - 1;
    if (!(x >= 0.0))
        return 0;
    return size_t(x);
}

// Centre rule of the integer and display stretches: floor((i + 0.5) x ratio).
inline double CentreIndex(double i, double ratio)
{
    return std::floor((i + 0.5) * ratio);
}

// Rule of the float rectangle stretch: a reduction takes the first source
// pixel of each block, in single precision; otherwise the centre rule.
inline double FloatIndex(size_t i, float ratio)
{
    if (ratio > 1.0f)
        return double(std::floor(float(i) * ratio));
    return std::floor((double(i) + 0.5) * double(ratio));
}

template <class T>
inline T* RowAt(T* base, unsigned stride, size_t r)
{
    return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(base) + r * stride);
}
template <class T>
inline const T* RowAt(const T* base, unsigned stride, size_t r)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const unsigned char*>(base) + r * stride);
}

// Destination row from one source row through the column table (sample
// offsets; kBackground entries take the background pixel).
template <class T, int C, bool Background>
KZ_ALWAYS_INLINE void SampleRow(T* d, const T* s, const size_t* tab, unsigned w, unsigned comps, const T* bg)
{
    unsigned i = 0;
    if constexpr (C == 1 && sizeof(T) == 1 && !Background) {
        // Bytes: eight looked-up samples gathered into one word and stored
        // at once (one store instead of eight).
        for (; i + 8 <= w; i += 8) {
            uint64_t v = 0;
            for (unsigned k = 0; k < 8; ++k)
                v |= uint64_t(s[tab[i + k]]) << (8 * k);
            std::memcpy(d + i, &v, 8);
        }
    }
    for (; i < w; ++i) {
        const size_t at = tab[i];
        const T* p = (Background && at == kBackground) ? bg : s + at;
        if constexpr (C == 1) {
            d[i] = p[0];
        } else if constexpr (C == 3) {
            d[3 * size_t(i)] = p[0];
            d[3 * size_t(i) + 1] = p[1];
            d[3 * size_t(i) + 2] = p[2];
        } else {
            std::memcpy(d + size_t(i) * comps, p, size_t(comps) * sizeof(T));
        }
    }
}

template <class T>
void FillBackground(T* d, unsigned w, unsigned comps, const T* bg)
{
    for (unsigned i = 0; i < w; ++i)
        std::memcpy(d + size_t(i) * comps, bg, size_t(comps) * sizeof(T));
}

// Rows of a stretch: rowOf(j) gives the source row, or kBackground.
template <class T, int C, bool Background, class RowOf>
void DrawRows(T* dst, unsigned dstStride, unsigned dstW, unsigned dstH, unsigned comps, const T* src,
              unsigned srcStride, const size_t* tab, const T* bg, RowOf&& rowOf)
{
    const size_t rowBytes = size_t(dstW) * comps * sizeof(T);
    size_t prev = kBackground;
    for (unsigned j = 0; j < dstH; ++j) {
        T* d = RowAt(dst, dstStride, j);
        const size_t r = rowOf(j);
        if (Background && r == kBackground) {
            FillBackground(d, dstW, comps, bg);
        } else if (r == prev) {
            std::memcpy(d, RowAt(dst, dstStride, size_t(j) - 1), rowBytes);
        } else {
            KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
                SampleRow<T, C, Background>(d, RowAt(src, srcStride, r), tab, dstW, comps, bg);
            });
            prev = r;
        }
    }
}

bool ComponentsValid(int C, unsigned comps)
{
    return comps != 0 && (C == 0 || comps == unsigned(C));
}

template <class T, int C, bool FloatRule>
int RectQuick(T* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned dstH, const T* src,
              unsigned srcStride, unsigned srcW, unsigned srcH, unsigned left, unsigned top, unsigned rw, unsigned rh)
{
    if (!ComponentsValid(C, comps))
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (left >= srcW || top >= srcH)
        return KZ_ERR_INVALID_ARG;
    std::unique_ptr<size_t[]> tab(new (std::nothrow) size_t[dstW]);
    if (!tab)
        return KZ_ERR_OUT_OF_MEMORY;
    const size_t colLimit = size_t(srcW) - left, rowLimit = size_t(srcH) - top;
    if constexpr (FloatRule) {
        const float rx = float(rw) / float(dstW), ry = float(rh) / float(dstH);
        for (unsigned i = 0; i < dstW; ++i)
            tab[i] = ClampIndex(FloatIndex(i, rx), colLimit) * comps;
        DrawRows<T, C, false>(dst, dstStride, dstW, dstH, comps, src, srcStride, tab.get(), nullptr,
                              [&](unsigned j) { return ClampIndex(FloatIndex(j, ry), rowLimit); });
    } else {
        const double rx = double(rw) / double(dstW), ry = double(rh) / double(dstH);
        for (unsigned i = 0; i < dstW; ++i)
            tab[i] = ClampIndex(CentreIndex(i, rx), colLimit) * comps;
        DrawRows<T, C, false>(dst, dstStride, dstW, dstH, comps, src, srcStride, tab.get(), nullptr,
                              [&](unsigned j) { return ClampIndex(CentreIndex(j, ry), rowLimit); });
    }
    return KZ_OK;
}

template <class T, int C>
int FloatRect(float* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned dstH, const float* src,
              unsigned srcStride, unsigned srcH, unsigned left, unsigned top, unsigned rw, unsigned rh)
{
    if (!ComponentsValid(C, comps))
        return KZ_ERR_INVALID_ARG;
    const unsigned srcW = (srcStride / 4) / comps;
    if (dstW != 0 && dstH != 0 && srcW == 0)
        return KZ_ERR_INVALID_ARG;
    return RectQuick<float, C, true>(dst, comps, dstStride, dstW, dstH, src, srcStride, srcW, srcH, left, top, rw,
                                     rh);
}

template <class T, int C>
int DisplayQuick(T* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride, unsigned zoomW,
                 unsigned zoomH, unsigned sx, unsigned sy, const T* src, unsigned srcW, unsigned srcH,
                 unsigned srcStride, bool flipH, bool flipV)
{
    if (zoomW == 0 || zoomH == 0)
        return KZ_ERR_FAILED;
    if (!ComponentsValid(C, comps))
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (srcW == 0 || srcH == 0)
        return KZ_ERR_INVALID_ARG;
    std::unique_ptr<size_t[]> tab(new (std::nothrow) size_t[dstW]);
    if (!tab)
        return KZ_ERR_OUT_OF_MEMORY;
    const double rx = double(srcW) / double(zoomW), ry = double(srcH) / double(zoomH);
    for (unsigned i = 0; i < dstW; ++i) {
        const uint32_t p = flipH ? sx + dstW - 1 - i : sx + i;
        tab[i] = ClampIndex(CentreIndex(p, rx), srcW) * comps;
    }
    DrawRows<T, C, false>(dst, dstStride, dstW, dstH, comps, src, srcStride, tab.get(), nullptr, [&](unsigned j) {
        const uint32_t q = flipV ? sy + dstH - 1 - j : sy + j;
        return ClampIndex(CentreIndex(q, ry), srcH);
    });
    return KZ_OK;
}

template <class T, int C>
int DisplayQuickEx(T* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride, unsigned zoomW,
                   unsigned zoomH, unsigned sx, unsigned sy, const T* src, unsigned winL, unsigned winT,
                   unsigned winW, unsigned winH, unsigned srcW, unsigned srcH, unsigned srcStride,
                   const void* background)
{
    if (zoomW == 0 || zoomH == 0)
        return KZ_ERR_FAILED;
    if (!ComponentsValid(C, comps))
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (srcW == 0 || srcH == 0 || uint64_t(winL) + winW > srcW || uint64_t(winT) + winH > srcH ||
        background == nullptr)
        return KZ_ERR_INVALID_ARG;
    std::unique_ptr<size_t[]> tab(new (std::nothrow) size_t[dstW]);
    if (!tab)
        return KZ_ERR_OUT_OF_MEMORY;
    const double rx = double(srcW) / double(zoomW), ry = double(srcH) / double(zoomH);
    const double f = std::floor(double(sx) * rx);
    for (unsigned i = 0; i < dstW; ++i) {
        const uint32_t p = sx + i;
        const size_t c = ClampIndex(CentreIndex(p, rx), srcW);
        // The first and last pixels keep their window tests; any other
        // column outside the window gets the background too, so nothing
        // outside the window is read.
        bool outside = c < winL || c >= size_t(winL) + winW;
        if (i == dstW - 1 && double(c) - f >= double(winW))
            outside = true;
        if (i == 0 && f < double(winL))
            outside = true;
        tab[i] = outside ? kBackground : c * comps;
    }
    const T* bg = static_cast<const T*>(background);
    DrawRows<T, C, true>(dst, dstStride, dstW, dstH, comps, src, srcStride, tab.get(), bg, [&](unsigned j) {
        const uint32_t q = sy + j;
        const size_t r = ClampIndex(CentreIndex(q, ry), srcH);
        return (r < winT || r >= size_t(winT) + winH) ? kBackground : r;
    });
    return KZ_OK;
}
}  // namespace

// ---------------------------------------------------------------------------
// Exported members
// ---------------------------------------------------------------------------

#define KZ_RECT_ARGS                                                                                              \
    T *dst, unsigned int comps, unsigned int dstStride, unsigned int bits, unsigned int dstW, unsigned int dstH,  \
        T *src, unsigned int srcStride, unsigned int srcW, unsigned int srcH, unsigned int rectL,                 \
        unsigned int rectT, unsigned int rectW, unsigned int rectH
#define KZ_RECT_CALL dst, comps, dstStride, dstW, dstH, src, srcStride, srcW, srcH, rectL, rectT, rectW, rectH

template <class T>
int stretch_quick(KZ_RECT_ARGS)
{
    return RectQuick<T, 0, false>(KZ_RECT_CALL);
}
template <class T>
int stretch_quick_1(KZ_RECT_ARGS)
{
    return RectQuick<T, 1, false>(KZ_RECT_CALL);
}
template <class T>
int stretch_quick_3(KZ_RECT_ARGS)
{
    return RectQuick<T, 3, false>(KZ_RECT_CALL);
}

#define KZ_RECT_INST(name, T)                                                                                     \
    template KZ_EXPORT int name<T>(T*, unsigned int, unsigned int, unsigned int, unsigned int, unsigned int, T*, \
                                   unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,         \
                                   unsigned int, unsigned int);
KZ_RECT_INST(stretch_quick, unsigned char)
KZ_RECT_INST(stretch_quick, unsigned short)
KZ_RECT_INST(stretch_quick_1, unsigned char)
KZ_RECT_INST(stretch_quick_1, unsigned short)
KZ_RECT_INST(stretch_quick_3, unsigned char)
KZ_RECT_INST(stretch_quick_3, unsigned short)

#define KZ_FLOAT_ARGS                                                                                              \
    float *dst, unsigned int comps, unsigned int dstStride, unsigned int dstW, unsigned int dstH, float *src,      \
        unsigned int srcStride, unsigned int srcH, unsigned int rectL, unsigned int rectT, unsigned int rectW,     \
        unsigned int rectH
#define KZ_FLOAT_CALL dst, comps, dstStride, dstW, dstH, src, srcStride, srcH, rectL, rectT, rectW, rectH

int stretch_float_quick(KZ_FLOAT_ARGS)
{
    return FloatRect<float, 0>(KZ_FLOAT_CALL);
}
int stretch_float_quick_1(KZ_FLOAT_ARGS)
{
    return FloatRect<float, 1>(KZ_FLOAT_CALL);
}
int stretch_float_quick_3(KZ_FLOAT_ARGS)
{
    return FloatRect<float, 3>(KZ_FLOAT_CALL);
}

#define KZ_DISPLAY_ARGS                                                                                            \
    T *dst, unsigned int dstW, unsigned int dstH, unsigned int comps, unsigned int dstStride, unsigned int bits,   \
        unsigned int zoomW, unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T *src,                \
        unsigned int srcW, unsigned int srcH, unsigned int srcStride, bool flipH, bool flipV
#define KZ_DISPLAY_CALL                                                                                            \
    dst, dstW, dstH, comps, dstStride, zoomW, zoomH, scrollX, scrollY, src, srcW, srcH, srcStride, flipH, flipV

template <class T>
int stretch_quick_display(KZ_DISPLAY_ARGS)
{
    return DisplayQuick<T, 0>(KZ_DISPLAY_CALL);
}
template <class T>
int stretch_quick_display_1(KZ_DISPLAY_ARGS)
{
    return DisplayQuick<T, 1>(KZ_DISPLAY_CALL);
}
template <class T>
int stretch_quick_display_3(KZ_DISPLAY_ARGS)
{
    return DisplayQuick<T, 3>(KZ_DISPLAY_CALL);
}

#define KZ_DISPLAY_INST(name, T)                                                                                  \
    template KZ_EXPORT int name<T>(T*, unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,     \
                                   unsigned int, unsigned int, unsigned int, unsigned int, T*, unsigned int,      \
                                   unsigned int, unsigned int, bool, bool);
KZ_DISPLAY_INST(stretch_quick_display, unsigned char)
KZ_DISPLAY_INST(stretch_quick_display, unsigned short)
KZ_DISPLAY_INST(stretch_quick_display, float)
KZ_DISPLAY_INST(stretch_quick_display_1, unsigned char)
KZ_DISPLAY_INST(stretch_quick_display_1, unsigned short)
KZ_DISPLAY_INST(stretch_quick_display_1, float)
KZ_DISPLAY_INST(stretch_quick_display_3, unsigned char)
KZ_DISPLAY_INST(stretch_quick_display_3, unsigned short)
KZ_DISPLAY_INST(stretch_quick_display_3, float)

#define KZ_EX_ARGS                                                                                                 \
    T *dst, unsigned int dstW, unsigned int dstH, unsigned int comps, unsigned int dstStride, unsigned int bits,   \
        unsigned int zoomW, unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T *src,                \
        unsigned int winL, unsigned int winT, unsigned int winW, unsigned int winH, unsigned int srcW,             \
        unsigned int srcH, unsigned int srcStride, void *background
#define KZ_EX_CALL                                                                                                 \
    dst, dstW, dstH, comps, dstStride, zoomW, zoomH, scrollX, scrollY, src, winL, winT, winW, winH, srcW, srcH,    \
        srcStride, background

template <class T>
int stretch_quick_display_ex(KZ_EX_ARGS)
{
    return DisplayQuickEx<T, 0>(KZ_EX_CALL);
}
template <class T>
int stretch_quick_display_ex_1(KZ_EX_ARGS)
{
    return DisplayQuickEx<T, 1>(KZ_EX_CALL);
}
template <class T>
int stretch_quick_display_ex_3(KZ_EX_ARGS)
{
    return DisplayQuickEx<T, 3>(KZ_EX_CALL);
}

#define KZ_EX_INST(name, T)                                                                                       \
    template KZ_EXPORT int name<T>(T*, unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,     \
                                   unsigned int, unsigned int, unsigned int, unsigned int, T*, unsigned int,      \
                                   unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,          \
                                   unsigned int, void*);
KZ_EX_INST(stretch_quick_display_ex, unsigned char)
KZ_EX_INST(stretch_quick_display_ex, unsigned short)
KZ_EX_INST(stretch_quick_display_ex_1, unsigned char)
KZ_EX_INST(stretch_quick_display_ex_1, unsigned short)
KZ_EX_INST(stretch_quick_display_ex_3, unsigned char)
KZ_EX_INST(stretch_quick_display_ex_3, unsigned short)
