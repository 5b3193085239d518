#pragma GCC optimize("O3", "fp-contract=off")
// Filtered two-pass stretch: filter functions, the horizontal and vertical
// passes for integer, float and validity pictures, and their composition.
//
// Float accumulators add sample x weight in tap order without fused
// multiply-adds, so results are reproducible bit for bit; the vertical pass
// runs row by row over an accumulator row, which keeps that order per sample
// while reading whole rows.
#include "gnr_picture/KzStretch.h"
#include "gnr_picture/internal/KzStretchFilterCore.h"
#include "gnr_picture/internal/KzStretchTwoPass.h"

#include <cmath>
#include <cstdint>
#include <memory>
#include <new>

using namespace kzfilt;

double triangle(double x)
{
    const double a = std::fabs(x);
    return a < 1.0 ? 1.0 - a : 0.0;  // NaN fails the test
}

double bell(double x)
{
    const double a = std::fabs(x);
    if (a < 0.5)
        return 0.75 - x * x;
    if (a < 1.5) {
        const double t = a - 1.5;
        return 0.5 * (t * t);
    }
    return 0.0;
}

double trianglefloat(double x) { return triangle(x); }
double bellfloat(double x) { return bell(x); }

namespace {

bool CompsValid(int C, unsigned comps) { return comps != 0 && !(C == 3 && comps < 3); }

// Tap lists of a rectangle pass along one axis: n destination indexes from
// m rectangle pixels starting at o in a source of S pixels.
int RectTaps(Taps& t, size_t n, unsigned m, unsigned o, size_t S, ptrdiff_t step, double (*f)(double), unsigned D,
             uint32_t scale, bool round)
{
    Axis ax{};
    ax.n = n;
    ax.s = double(m) / double(n);
    ax.W = m > n ? std::ceil(double(D) * ax.s) : double(D);
    ax.f = f;
    ax.o = o;
    ax.S = int64_t(S);
    ax.step = step;
    ax.scale = scale;
    ax.round = round;
    const double s = ax.s;
    return BuildTaps(
        t, ax, [s](size_t j) { return (double(j) + 0.5) * s - 0.5; }, [s](size_t j) { return (double(j) + 0.5) * s; });
}

template <class T, int C, Out O, bool Validity>
int Horz(T* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned rows, const T* src, unsigned srcStride,
         size_t srcW, unsigned rectL, unsigned rectW, double (*f)(double), unsigned D)
{
    if (!CompsValid(C, comps) || !f)
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || rows == 0)
        return KZ_OK;
    if (rectW == 0 || srcW == 0 || rectL >= srcW)
        return KZ_ERR_INVALID_ARG;
    Taps t;
    const bool isFloat = O != Out::Int10;
    const int r = RectTaps(t, dstW, rectW, rectL, srcW, ptrdiff_t(comps), f, D, isFloat ? 65536u : 1024u, !isFloat);
    if (r != KZ_OK)
        return r;
    for (size_t y = 0; y < rows; ++y) {
        T* d = RowAt(dst, dstStride, y);
        const T* s = RowAt(src, srcStride, y);
        if constexpr (Validity)
            HorzRowValidity(d, s, dstW, t);
        else
            HorzRow<T, C, O>(d, s, dstW, comps, t, nullptr);
    }
    return KZ_OK;
}

template <class T, int C, Out O, bool Validity>
int Vert(T* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned dstH, const T* src, unsigned srcStride,
         unsigned srcH, unsigned rectT, unsigned rectH, double (*f)(double), unsigned D)
{
    if (!CompsValid(C, comps) || !f)
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (rectH == 0 || srcH == 0 || rectT >= srcH)
        return KZ_ERR_INVALID_ARG;
    Taps t;
    const bool isFloat = O != Out::Int10;
    int r = RectTaps(t, dstH, rectH, rectT, srcH, ptrdiff_t(srcStride / sizeof(T)), f, D, isFloat ? 65536u : 1024u,
                     !isFloat);
    if (r != KZ_OK)
        return r;
    const size_t n = size_t(dstW) * comps;
    if constexpr (Validity) {
        std::unique_ptr<float[]> sum(new (std::nothrow) float[dstW]);
        std::unique_ptr<uint64_t[]> used(new (std::nothrow) uint64_t[dstW]);
        if (!sum || !used)
            return KZ_ERR_OUT_OF_MEMORY;
        VertRowsValidity(dst, dstStride, dstW, dstH, comps, src, t, sum.get(), used.get());
    } else {
        using Acc = typename Arith<T, O>::Acc;
        std::unique_ptr<Acc[]> acc(new (std::nothrow) Acc[n]);
        if (!acc)
            return KZ_ERR_OUT_OF_MEMORY;
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            VertRows<T, C, O>(dst, dstStride, dstW, dstH, comps, src, t, acc.get());
        });
    }
    return KZ_OK;
}

} // namespace

#define KZ_HORZ_CALL dst, comps, dstStride, dstW, rows, src, srcStride, srcW, rectL, rectW, filter, support
#define KZ_VERT_CALL dst, comps, dstStride, dstW, dstH, src, srcStride, srcH, rectT, rectH, filter, support

template <class T>
int stretch_generic_horz(KZ_STRETCH_HORZ_PARAMS(T))
{
    (void)bits, (void)srcH, (void)rectT, (void)rectH;
    return Horz<T, 0, Out::Int10, false>(KZ_HORZ_CALL);
}
template <class T>
int stretch_generic_horz_1(KZ_STRETCH_HORZ_PARAMS(T))
{
    (void)bits, (void)srcH, (void)rectT, (void)rectH;
    return Horz<T, 1, Out::Int10, false>(KZ_HORZ_CALL);
}
template <class T>
int stretch_generic_horz_3(KZ_STRETCH_HORZ_PARAMS(T))
{
    (void)bits, (void)srcH, (void)rectT, (void)rectH;
    return Horz<T, 3, Out::Int10, false>(KZ_HORZ_CALL);
}
template <class T>
int stretch_generic_vert(KZ_STRETCH_VERT_PARAMS(T))
{
    (void)bits, (void)rectL, (void)rectW;
    return Vert<T, 0, Out::Int10, false>(KZ_VERT_CALL);
}
template <class T>
int stretch_generic_vert_1(KZ_STRETCH_VERT_PARAMS(T))
{
    (void)bits, (void)rectL, (void)rectW;
    return Vert<T, 1, Out::Int10, false>(KZ_VERT_CALL);
}
template <class T>
int stretch_generic_vert_3(KZ_STRETCH_VERT_PARAMS(T))
{
    (void)bits, (void)rectL, (void)rectW;
    return Vert<T, 3, Out::Int10, false>(KZ_VERT_CALL);
}

#define KZ_HORZ_INST(name, T) template KZ_EXPORT int name<T>(KZ_STRETCH_HORZ_PARAMS(T));
#define KZ_VERT_INST(name, T) template KZ_EXPORT int name<T>(KZ_STRETCH_VERT_PARAMS(T));
KZ_HORZ_INST(stretch_generic_horz, unsigned char)
KZ_HORZ_INST(stretch_generic_horz, unsigned short)
KZ_HORZ_INST(stretch_generic_horz_1, unsigned char)
KZ_HORZ_INST(stretch_generic_horz_1, unsigned short)
KZ_HORZ_INST(stretch_generic_horz_3, unsigned char)
KZ_HORZ_INST(stretch_generic_horz_3, unsigned short)
KZ_VERT_INST(stretch_generic_vert, unsigned char)
KZ_VERT_INST(stretch_generic_vert, unsigned short)
KZ_VERT_INST(stretch_generic_vert_1, unsigned char)
KZ_VERT_INST(stretch_generic_vert_1, unsigned short)
KZ_VERT_INST(stretch_generic_vert_3, unsigned char)
KZ_VERT_INST(stretch_generic_vert_3, unsigned short)

#define KZ_FHORZ(C, V)                                                                                            \
    {                                                                                                              \
        (void)srcH, (void)rectT, (void)rectH;                                                                      \
        if (comps == 0)                                                                                            \
            return KZ_ERR_INVALID_ARG;                                                                             \
        return Horz<float, C, Out::Float16, V>(dst, comps, dstStride, dstW, dstH, src, srcStride,                 \
                                                size_t(srcStride / 4) / comps, rectL, rectW, filter, support);     \
    }
#define KZ_FVERT(C, V)                                                                                            \
    {                                                                                                              \
        (void)rectL, (void)rectW;                                                                                  \
        return Vert<float, C, Out::Float16, V>(dst, comps, dstStride, dstW, dstH, src, srcStride, srcH, rectT,    \
                                                rectH, filter, support);                                           \
    }

int stretch_float_generic_horz(KZ_STRETCH_FLOAT_PARAMS) KZ_FHORZ(0, false)
int stretch_float_generic_horz_1(KZ_STRETCH_FLOAT_PARAMS) KZ_FHORZ(1, false)
int stretch_float_generic_horz_3(KZ_STRETCH_FLOAT_PARAMS) KZ_FHORZ(3, false)
int stretch_float_generic_vert(KZ_STRETCH_FLOAT_PARAMS) KZ_FVERT(0, false)
int stretch_float_generic_vert_1(KZ_STRETCH_FLOAT_PARAMS) KZ_FVERT(1, false)
int stretch_float_generic_vert_3(KZ_STRETCH_FLOAT_PARAMS) KZ_FVERT(3, false)
int stretch_float_generic_horz_1_validity(KZ_STRETCH_FLOAT_PARAMS) KZ_FHORZ(1, true)
int stretch_float_generic_vert_1_validity(KZ_STRETCH_FLOAT_PARAMS) KZ_FVERT(1, true)

// ---------------------------------------------------------------------------
// Composition
// ---------------------------------------------------------------------------

namespace {

struct Band {
    uint64_t above, G;
};

// Margin rows around the rectangle: the widened support, limited by the
// rows the source has above and below it.
Band Margins(unsigned D, unsigned dstH, unsigned srcH, unsigned rectT, unsigned rectH)
{
    uint64_t E = D;
    if (rectH > dstH)
        E = uint64_t(std::ceil(double(D) * (double(rectH) / double(dstH))));
    const uint64_t above = E < rectT ? E : rectT;
    const uint64_t room = uint64_t(srcH) - rectT - rectH;
    const uint64_t below = E < room ? E : room;
    return {above, rectH + above + below};
}

// Intermediate picture from nothrow allocation (null when it cannot be had).
unsigned char* NewBand(uint64_t rowBytes, uint64_t rows)
{
    if (rowBytes > 0xFFFFFFFFu || rows > 0xFFFFFFFFu || (rowBytes && rows > (uint64_t(1) << 46) / rowBytes))
        return nullptr;
    return new (std::nothrow) unsigned char[size_t(rowBytes * rows) + 16];
}

} // namespace

template <class T>
int KzFilteredStretch(T* dst, unsigned comps, unsigned dstStride, unsigned bits, unsigned dstW, unsigned dstH, T* src,
                      unsigned srcStride, unsigned srcW, unsigned srcH, unsigned rectL, unsigned rectT,
                      unsigned rectW, unsigned rectH, bool useBell)
{
    if (comps == 0)
        return KZ_ERR_INVALID_ARG;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (rectW == 0 || rectH == 0 || rectL >= srcW || uint64_t(rectT) + rectH > srcH)
        return KZ_ERR_INVALID_ARG;
    double (*f)(double) = useBell ? bell : triangle;
    const unsigned D = useBell ? 3 : 2;
    const Band b = Margins(D, dstH, srcH, rectT, rectH);
    const uint64_t bandRow = (uint64_t(comps) * dstW * sizeof(T) + 3) & ~uint64_t(3);
    std::unique_ptr<unsigned char[]> band(NewBand(bandRow, b.G));
    if (!band)
        return KZ_ERR_OUT_OF_MEMORY;
    T* up = reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(src) - size_t(b.above) * srcStride);
    T* mid = reinterpret_cast<T*>(band.get());
    const unsigned G = unsigned(b.G), row = unsigned(bandRow), top = unsigned(rectT - b.above);
    int r;
    if (comps == 1)
        r = stretch_generic_horz_1<T>(mid, 1, row, bits, dstW, G, up, srcStride, srcW, srcH, rectL, top, rectW, G, f, D);
    else if (comps == 3)
        r = stretch_generic_horz_3<T>(mid, 3, row, bits, dstW, G, up, srcStride, srcW, srcH, rectL, top, rectW, G, f, D);
    else
        r = stretch_generic_horz<T>(mid, comps, row, bits, dstW, G, up, srcStride, srcW, srcH, rectL, top, rectW, G, f,
                                    D);
    if (r != KZ_OK)
        return r;
    T* vs = RowAt(mid, row, size_t(b.above));
    const unsigned above = unsigned(b.above);
    if (comps == 1)
        return stretch_generic_vert_1<T>(dst, 1, dstStride, bits, dstW, dstH, vs, row, G, 0, above, dstW, rectH, f, D);
    if (comps == 3)
        return stretch_generic_vert_3<T>(dst, 3, dstStride, bits, dstW, dstH, vs, row, G, 0, above, dstW, rectH, f, D);
    return stretch_generic_vert<T>(dst, comps, dstStride, bits, dstW, dstH, vs, row, G, 0, above, dstW, rectH, f, D);
}

template int KzFilteredStretch<unsigned char>(unsigned char*, unsigned, unsigned, unsigned, unsigned, unsigned,
                                              unsigned char*, unsigned, unsigned, unsigned, unsigned, unsigned,
                                              unsigned, unsigned, bool);
template int KzFilteredStretch<unsigned short>(unsigned short*, unsigned, unsigned, unsigned, unsigned, unsigned,
                                               unsigned short*, unsigned, unsigned, unsigned, unsigned, unsigned,
                                               unsigned, unsigned, bool);

int KzFilteredStretchFloat(float* dst, unsigned comps, unsigned dstStride, unsigned dstW, unsigned dstH, float* src,
                           unsigned srcStride, unsigned srcH, unsigned rectL, unsigned rectT, unsigned rectW,
                           unsigned rectH, bool useBell, bool validity)
{
    if (comps == 0)
        return KZ_ERR_INVALID_ARG;
    if (validity && comps != 1)
        return KZ_ERR_NOT_SUPPORTED;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    const size_t srcW = size_t(srcStride / 4) / comps;
    if (rectW == 0 || rectH == 0 || rectL >= srcW || uint64_t(rectT) + rectH > srcH)
        return KZ_ERR_INVALID_ARG;
    double (*f)(double) = useBell ? bellfloat : trianglefloat;
    const unsigned D = useBell ? 3 : 2;
    const Band b = Margins(D, dstH, srcH, rectT, rectH);
    const uint64_t bandRow = (uint64_t(comps) * dstW * 4 + 12) & ~uint64_t(15);
    std::unique_ptr<unsigned char[]> band(NewBand(bandRow, b.G));
    if (!band)
        return KZ_ERR_OUT_OF_MEMORY;
    float* up = reinterpret_cast<float*>(reinterpret_cast<unsigned char*>(src) - size_t(b.above) * srcStride);
    float* mid = reinterpret_cast<float*>(band.get());
    const unsigned G = unsigned(b.G), row = unsigned(bandRow), top = unsigned(rectT - b.above);
    auto horz = validity ? stretch_float_generic_horz_1_validity
                         : comps == 1 ? stretch_float_generic_horz_1
                                      : comps == 3 ? stretch_float_generic_horz_3 : stretch_float_generic_horz;
    auto vert = validity ? stretch_float_generic_vert_1_validity
                         : comps == 1 ? stretch_float_generic_vert_1
                                      : comps == 3 ? stretch_float_generic_vert_3 : stretch_float_generic_vert;
    const int r = horz(mid, comps, row, dstW, G, up, srcStride, srcH, rectL, top, rectW, G, f, D);
    if (r != KZ_OK)
        return r;
    return vert(dst, comps, dstStride, dstW, dstH, RowAt(mid, row, size_t(b.above)), row, G, 0, unsigned(b.above),
                dstW, rectH, f, D);
}
