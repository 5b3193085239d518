#pragma GCC optimize("O3", "fp-contract=off")
// Filtered stretch for display: the horizontal pass over a band of source
// rows (plain with a horizontal flip, or windowed with a background pixel),
// the vertical pass over the intermediate band with a vertical flip, and the
// composition that sizes the band from the view.
#include "gnr_picture/KzStretch.h"
#include "gnr_picture/internal/KzStretchFilterCore.h"
#include "gnr_picture/internal/KzStretchTwoPass.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

using namespace kzfilt;

namespace {

template <class T>
constexpr Out kOut = std::is_same_v<T, float> ? Out::Float10 : Out::Int10;

bool CompsValid(int C, unsigned comps) { return comps != 0 && !(C == 3 && comps < 3); }

Axis DisplayAxis(size_t n, double s, unsigned D, double (*f)(double), int64_t S, ptrdiff_t step)
{
    Axis ax{};
    ax.n = n;
    ax.s = s;
    ax.W = s > 1.0 ? std::ceil(double(D) * s) : double(D);
    ax.f = f;
    ax.o = 0;
    ax.S = S;
    ax.step = step;
    ax.scale = 1024;
    ax.round = true;
    return ax;
}

// Checks shared by the horizontal passes; 1 means "valid, go on".
template <int C>
int HorzChecks(unsigned zoomW, unsigned comps, double (*f)(double), const CKzRectBase<int>* band, unsigned dstW)
{
    if (zoomW == 0)
        return KZ_ERR_FAILED;
    if (!CompsValid(C, comps) || !f || !band)
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0)
        return KZ_OK;
    if (band->top < 0)
        return KZ_ERR_INVALID_ARG;
    if (band->bottom <= band->top)
        return KZ_OK;
    return 1;
}

template <class T, int C>
int DisplayHorz(T* dst, unsigned dstW, unsigned comps, unsigned dstStride, unsigned zoomW, unsigned sx, const T* src,
                unsigned srcW, unsigned srcH, unsigned srcStride, double (*f)(double), unsigned D,
                const CKzRectBase<int>* band, bool flip)
{
    const int pre = HorzChecks<C>(zoomW, comps, f, band, dstW);
    if (pre != 1)
        return pre;
    if (srcW == 0 || int64_t(band->bottom) > int64_t(srcH))
        return KZ_ERR_INVALID_ARG;
    const double s = double(srcW) / double(zoomW);
    const double shift = s * double(sx) - 0.5;
    const size_t n = dstW;
    auto centre = [=](size_t j) { return (double(flip ? n - 1 - j : j) + 0.5) * s + shift; };
    Taps t;
    const int r = BuildTaps(t, DisplayAxis(n, s, D, f, srcW, ptrdiff_t(comps)), centre,
                            [&](size_t j) { return centre(j) + 0.5; });
    if (r != KZ_OK)
        return r;
    for (int64_t y = band->top; y < band->bottom; ++y)
        HorzRow<T, C, kOut<T>>(RowAt(dst, dstStride, size_t(y - band->top)), RowAt(src, srcStride, size_t(y)), n,
                               comps, t, nullptr);
    return KZ_OK;
}

template <class T, int C>
int DisplayHorzEx(T* dst, unsigned dstW, unsigned comps, unsigned dstStride, unsigned zoomW, unsigned sx,
                  const T* src, unsigned winL, unsigned winT, unsigned winW, unsigned winH, unsigned srcW,
                  unsigned srcH, unsigned srcStride, double (*f)(double), unsigned D, const CKzRectBase<int>* band,
                  const void* background)
{
    if (zoomW == 0)
        return KZ_ERR_FAILED;
    if (!background)
        return KZ_ERR_INVALID_ARG;
    const int pre = HorzChecks<C>(zoomW, comps, f, band, dstW);
    if (pre != 1)
        return pre;
    if (srcW == 0 || srcH == 0 || uint64_t(winL) + winW > srcW || uint64_t(winT) + winH > srcH)
        return KZ_ERR_INVALID_ARG;
    const double s = double(srcW) / double(zoomW);
    const double shift = s * double(sx);
    Axis ax = DisplayAxis(dstW, s, D, f, srcW, ptrdiff_t(comps));
    ax.windowed = true;
    ax.winL = winL;
    ax.winR = int64_t(winL) + winW;
    Taps t;
    const int r = BuildTaps(
        t, ax, [=](size_t j) { return ((double(j) + 0.5) * s + shift) - 0.5; },
        [=](size_t j) { return (double(j) + 0.5) * s + shift; });
    if (r != KZ_OK)
        return r;
    const T* bg = static_cast<const T*>(background);
    const size_t cc = C ? size_t(C) : comps;
    for (int64_t y = band->top; y < band->bottom; ++y) {
        T* d = RowAt(dst, dstStride, size_t(y - band->top));
        if (y < int64_t(winT) || y >= int64_t(winT) + winH) {
            for (size_t j = 0; j < dstW; ++j)
                std::memcpy(d + j * cc, bg, cc * sizeof(T));
            continue;
        }
        HorzRow<T, C, kOut<T>>(d, RowAt(src, srcStride, size_t(y)), dstW, comps, t, bg);
    }
    return KZ_OK;
}

template <class T, int C>
int DisplayVert(T* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride, unsigned zoomH,
                unsigned sy, const T* src, unsigned srcH, unsigned srcStride, double (*f)(double), unsigned D,
                const CKzRectBase<int>* band, bool flip)
{
    if (zoomH == 0)
        return KZ_ERR_FAILED;
    if (!CompsValid(C, comps) || !f || !band)
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (band->top < 0)
        return KZ_ERR_INVALID_ARG;
    const size_t cc = C ? size_t(C) : comps;
    if (band->bottom <= band->top) {
        // The view lies below the zoomed picture beyond the margin.
        for (size_t i = 0; i < dstH; ++i) {
            T* d = RowAt(dst, dstStride, i);
            for (size_t x = 0; x < dstW; ++x)
                std::memset(d + x * comps, 0, cc * sizeof(T));
        }
        return KZ_OK;
    }
    if (srcH == 0 || int64_t(band->bottom) > int64_t(srcH))
        return KZ_ERR_INVALID_ARG;
    const double s = double(srcH) / double(zoomH);
    const double shift = (s * double(sy) - 0.5) - double(band->top);
    const size_t n = dstH;
    auto centre = [=](size_t i) { return (double(flip ? n - 1 - i : i) + 0.5) * s + shift; };
    Taps t;
    int r = BuildTaps(t, DisplayAxis(n, s, D, f, int64_t(band->bottom) - band->top, ptrdiff_t(srcStride / sizeof(T))),
                      centre, [&](size_t i) { return centre(i) + 0.5; });
    if (r != KZ_OK)
        return r;
    using Acc = typename Arith<T, kOut<T>>::Acc;
    std::unique_ptr<Acc[]> acc(new (std::nothrow) Acc[size_t(dstW) * comps]);
    if (!acc)
        return KZ_ERR_OUT_OF_MEMORY;
    KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
        VertRows<T, C, kOut<T>>(dst, dstStride, dstW, dstH, comps, src, t, acc.get());
    });
    return KZ_OK;
}

} // namespace

#define KZ_DISPLAY_HORZ_CALL                                                                                       \
    (void)dstH, (void)bits, (void)zoomH, (void)scrollY;                                                            \
    return DisplayHorz<T, KZ_C>(dst, dstW, comps, dstStride, zoomW, scrollX, src, srcW, srcH, srcStride, filter,  \
                                support, band, flip)
#define KZ_DISPLAY_VERT_CALL                                                                                       \
    (void)bits, (void)zoomW, (void)scrollX, (void)srcW;                                                            \
    return DisplayVert<T, KZ_C>(dst, dstW, dstH, comps, dstStride, zoomH, scrollY, src, srcH, srcStride, filter,  \
                                support, band, flip)
#define KZ_DISPLAY_EX_CALL                                                                                         \
    (void)dstH, (void)bits, (void)zoomH, (void)scrollY;                                                            \
    return DisplayHorzEx<T, KZ_C>(dst, dstW, comps, dstStride, zoomW, scrollX, src, winL, winT, winW, winH, srcW, \
                                  srcH, srcStride, filter, support, band, background)

#define KZ_C 0
template <class T>
int stretch_generic_display_horz(KZ_STRETCH_DISPLAY_PARAMS(T)) { KZ_DISPLAY_HORZ_CALL; }
template <class T>
int stretch_generic_display_vert(KZ_STRETCH_DISPLAY_PARAMS(T)) { KZ_DISPLAY_VERT_CALL; }
template <class T>
int stretch_generic_display_horz_ex(KZ_STRETCH_DISPLAY_EX_PARAMS(T)) { KZ_DISPLAY_EX_CALL; }
#undef KZ_C
#define KZ_C 1
template <class T>
int stretch_generic_display_horz_1(KZ_STRETCH_DISPLAY_PARAMS(T)) { KZ_DISPLAY_HORZ_CALL; }
template <class T>
int stretch_generic_display_vert_1(KZ_STRETCH_DISPLAY_PARAMS(T)) { KZ_DISPLAY_VERT_CALL; }
template <class T>
int stretch_generic_display_horz_ex_1(KZ_STRETCH_DISPLAY_EX_PARAMS(T)) { KZ_DISPLAY_EX_CALL; }
#undef KZ_C
#define KZ_C 3
template <class T>
int stretch_generic_display_horz_3(KZ_STRETCH_DISPLAY_PARAMS(T)) { KZ_DISPLAY_HORZ_CALL; }
template <class T>
int stretch_generic_display_vert_3(KZ_STRETCH_DISPLAY_PARAMS(T)) { KZ_DISPLAY_VERT_CALL; }
template <class T>
int stretch_generic_display_horz_ex_3(KZ_STRETCH_DISPLAY_EX_PARAMS(T)) { KZ_DISPLAY_EX_CALL; }
#undef KZ_C

#define KZ_DISPLAY_INST(name, T) template KZ_EXPORT int name<T>(KZ_STRETCH_DISPLAY_PARAMS(T));
#define KZ_DISPLAY_EX_INST(name, T) template KZ_EXPORT int name<T>(KZ_STRETCH_DISPLAY_EX_PARAMS(T));
#define KZ_DISPLAY_ALL(name)                                                                                       \
    KZ_DISPLAY_INST(name, unsigned char) KZ_DISPLAY_INST(name, unsigned short) KZ_DISPLAY_INST(name, float)
KZ_DISPLAY_ALL(stretch_generic_display_horz)
KZ_DISPLAY_ALL(stretch_generic_display_horz_1)
KZ_DISPLAY_ALL(stretch_generic_display_horz_3)
KZ_DISPLAY_ALL(stretch_generic_display_vert)
KZ_DISPLAY_ALL(stretch_generic_display_vert_1)
KZ_DISPLAY_ALL(stretch_generic_display_vert_3)
KZ_DISPLAY_EX_INST(stretch_generic_display_horz_ex, unsigned char)
KZ_DISPLAY_EX_INST(stretch_generic_display_horz_ex, unsigned short)
KZ_DISPLAY_EX_INST(stretch_generic_display_horz_ex_1, unsigned char)
KZ_DISPLAY_EX_INST(stretch_generic_display_horz_ex_1, unsigned short)
KZ_DISPLAY_EX_INST(stretch_generic_display_horz_ex_3, unsigned char)
KZ_DISPLAY_EX_INST(stretch_generic_display_horz_ex_3, unsigned short)

// ---------------------------------------------------------------------------
// Composition
// ---------------------------------------------------------------------------

namespace {

constexpr int64_t kHuge = int64_t(1) << 62;

int64_t Saturated(double x) { return x >= double(kHuge) ? kHuge : int64_t(x); }

template <class T, bool Windowed>
int DisplayTwoPass(T* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride, unsigned bits,
                   unsigned zoomW, unsigned zoomH, unsigned sx, unsigned sy, T* src, unsigned winL, unsigned winT,
                   unsigned winW, unsigned winH, unsigned srcW, unsigned srcH, unsigned srcStride, bool useBell,
                   void* background, bool flipH, bool flipV)
{
    if (zoomW == 0 || zoomH == 0)
        return KZ_ERR_FAILED;
    if (comps == 0)
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    constexpr bool isFloat = std::is_same_v<T, float>;
    double (*f)(double) = useBell ? (isFloat ? bellfloat : bell) : (isFloat ? trianglefloat : triangle);
    const unsigned D = useBell ? 3 : 2;
    // Source rows in view, with margin rows for the vertical filter.
    const double r = double(srcH) / double(zoomH);
    const int64_t first = Saturated(std::floor(double(sy) * r));
    int64_t m = Saturated(std::ceil(double(dstH) * r));
    if (first + m > int64_t(srcH))
        m = int64_t(srcH) - first;
    const int64_t E = r > 1.0 ? Saturated(std::ceil(double(D) * r)) : int64_t(D);
    const int64_t above = E < first ? E : first;
    const int64_t room = int64_t(srcH) - first - m;
    const int64_t below = E < room ? E : room;
    const int64_t top = first - above, bottom = first + m + below;
    CKzRectBase<int> band{int(sx), 0, int(int64_t(sx) + dstW), 0};
    const auto vert = [&](T* mid, unsigned midStride) {
        if (comps == 1)
            return stretch_generic_display_vert_1<T>(dst, dstW, dstH, 1, dstStride, bits, zoomW, zoomH, sx, sy, mid,
                                                     srcW, srcH, midStride, f, D, &band, flipV);
        if (comps == 3)
            return stretch_generic_display_vert_3<T>(dst, dstW, dstH, 3, dstStride, bits, zoomW, zoomH, sx, sy, mid,
                                                     srcW, srcH, midStride, f, D, &band, flipV);
        return stretch_generic_display_vert<T>(dst, dstW, dstH, comps, dstStride, bits, zoomW, zoomH, sx, sy, mid,
                                               srcW, srcH, midStride, f, D, &band, flipV);
    };
    if (bottom <= top)
        return vert(nullptr, 0);  // an empty band: zeros
    if (bottom > INT32_MAX)
        return KZ_ERR_INVALID_ARG;
    band.top = int(top);
    band.bottom = int(bottom);
    const uint64_t rowBytes =
        isFloat ? uint64_t(comps) * dstW * 4 : (uint64_t(comps) * dstW * sizeof(T) + 3) & ~uint64_t(3);
    const uint64_t rows = uint64_t(bottom - top);
    if (rowBytes > 0xFFFFFFFFu || rows > (uint64_t(1) << 46) / rowBytes)
        return KZ_ERR_OUT_OF_MEMORY;
    std::unique_ptr<unsigned char[]> buf(new (std::nothrow) unsigned char[size_t(rowBytes * rows) + 16]);
    if (!buf)
        return KZ_ERR_OUT_OF_MEMORY;
    T* mid = reinterpret_cast<T*>(buf.get());
    const unsigned midStride = unsigned(rowBytes);
    int res;
    if constexpr (Windowed) {
        (void)flipH;
        if (comps == 1)
            res = stretch_generic_display_horz_ex_1<T>(mid, dstW, dstH, 1, midStride, bits, zoomW, zoomH, sx, sy, src,
                                                       winL, winT, winW, winH, srcW, srcH, srcStride, f, D, &band,
                                                       background);
        else if (comps == 3)
            res = stretch_generic_display_horz_ex_3<T>(mid, dstW, dstH, 3, midStride, bits, zoomW, zoomH, sx, sy, src,
                                                       winL, winT, winW, winH, srcW, srcH, srcStride, f, D, &band,
                                                       background);
        else
            res = stretch_generic_display_horz_ex<T>(mid, dstW, dstH, comps, midStride, bits, zoomW, zoomH, sx, sy,
                                                     src, winL, winT, winW, winH, srcW, srcH, srcStride, f, D, &band,
                                                     background);
    } else {
        (void)winL, (void)winT, (void)winW, (void)winH, (void)background;
        if (comps == 1)
            res = stretch_generic_display_horz_1<T>(mid, dstW, dstH, 1, midStride, bits, zoomW, zoomH, sx, sy, src,
                                                    srcW, srcH, srcStride, f, D, &band, flipH);
        else if (comps == 3)
            res = stretch_generic_display_horz_3<T>(mid, dstW, dstH, 3, midStride, bits, zoomW, zoomH, sx, sy, src,
                                                    srcW, srcH, srcStride, f, D, &band, flipH);
        else
            res = stretch_generic_display_horz<T>(mid, dstW, dstH, comps, midStride, bits, zoomW, zoomH, sx, sy, src,
                                                  srcW, srcH, srcStride, f, D, &band, flipH);
    }
    if (res != KZ_OK)
        return res;
    return vert(mid, midStride);
}

} // namespace

template <class T>
int KzFilteredDisplayEx(T* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride, unsigned bits,
                        unsigned zoomW, unsigned zoomH, unsigned scrollX, unsigned scrollY, T* origin, unsigned winL,
                        unsigned winT, unsigned winW, unsigned winH, unsigned srcW, unsigned srcH, unsigned srcStride,
                        bool useBell, void* background)
{
    return DisplayTwoPass<T, true>(dst, dstW, dstH, comps, dstStride, bits, zoomW, zoomH, scrollX, scrollY, origin,
                                   winL, winT, winW, winH, srcW, srcH, srcStride, useBell, background, false, false);
}

template <class T>
int KzFilteredDisplay(T* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride, unsigned bits,
                      unsigned zoomW, unsigned zoomH, unsigned scrollX, unsigned scrollY, T* src, unsigned srcW,
                      unsigned srcH, unsigned srcStride, bool useBell, bool flipH, bool flipV)
{
    return DisplayTwoPass<T, false>(dst, dstW, dstH, comps, dstStride, bits, zoomW, zoomH, scrollX, scrollY, src, 0, 0,
                                    0, 0, srcW, srcH, srcStride, useBell, nullptr, flipH, flipV);
}

#define KZ_TWO_PASS_EX_INST(T)                                                                                     \
    template int KzFilteredDisplayEx<T>(T*, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,  \
                                        unsigned, unsigned, T*, unsigned, unsigned, unsigned, unsigned, unsigned,  \
                                        unsigned, unsigned, bool, void*);
#define KZ_TWO_PASS_INST(T)                                                                                        \
    template int KzFilteredDisplay<T>(T*, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,    \
                                      unsigned, unsigned, T*, unsigned, unsigned, unsigned, bool, bool, bool);
KZ_TWO_PASS_EX_INST(unsigned char)
KZ_TWO_PASS_EX_INST(unsigned short)
KZ_TWO_PASS_INST(unsigned char)
KZ_TWO_PASS_INST(unsigned short)
KZ_TWO_PASS_INST(float)
