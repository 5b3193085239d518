// Anisotropic-diffusion denoising: the entry points over the components of
// an integer picture and the float building blocks of a semi-implicit
// diffusion scheme. The one-component denoiser itself is not built: it hands
// back a copy of its source with KZ_ERR_NOT_SUPPORTED, so no caller mistakes
// a copy for a denoised picture.

#include "gnr_picture/KzIntFilters.h"

#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/SKzFloatPicBuf.h"
#include "gnr_picture/internal/KzFloatInternal.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using kzf::FRowOf;

namespace {

struct TempPic {
    SKzPicBuf p;
    TempPic() { CKzPicBufAPI::Init(&p); }
    ~TempPic() { CKzPicBufAPI::Free(&p); }
    TempPic(const TempPic&) = delete;
    TempPic& operator=(const TempPic&) = delete;
};

unsigned SampleBytes(unsigned bits)
{
    return bits == 0 ? 0 : bits <= 8 ? 1 : bits <= 16 ? 2 : 0;
}

// A one-component float picture whose block holds its rows.
bool FloatOk(const SKzFloatPicBuf* p)
{
    return p && p->pData && p->uiComp >= 1 && u64(p->uiWidth) * p->uiComp * 4 <= p->uiWidthBytes &&
           u64(p->uiHeight) * p->uiWidthBytes <= p->uiSize;
}

bool SameSize(const SKzFloatPicBuf* a, const SKzFloatPicBuf* b)
{
    return a->uiWidth == b->uiWidth && a->uiHeight == b->uiHeight;
}

float& At(SKzFloatPicBuf* p, size_t x, size_t y)
{
    return FRowOf(p->pData, p->uiWidthBytes, y)[x * p->uiComp];
}

bool IntOk(const SKzPicBuf* p, unsigned sb)
{
    return p && p->pData && sb != 0 && u64(p->uiWidth) * p->uiComp * sb <= p->uiWidthBytes &&
           u64(p->uiHeight) * p->uiWidthBytes <= p->uiSize;
}

} // namespace

// ---------------------------------------------------------------------------
// Entry points
// ---------------------------------------------------------------------------

kz_result AdiffDenoise_x1(SKzPicBuf* dst, SKzPicBuf* src, double, double, unsigned, unsigned)
{
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (dst != src && CKzPicBufAPI::Copy(dst, src) != KZ_OK)
        return KZ_ERR_FAILED;
    return KZ_ERR_NOT_SUPPORTED;
}

kz_result KernelConvolution(SKzFloatPicBuf*, SKzFloatPicBuf*, SKzFloatPicBuf*)
{
    return KZ_ERR_NOT_SUPPORTED;
}

kz_result CKzPicBufAPI::AdiffDenoise(SKzPicBuf* dst, SKzPicBuf* src, double d1, double d2, unsigned u1, unsigned u2)
{
    if (!dst || !src)
        return KZ_ERR_FAILED;
    const unsigned sb = SampleBytes(src->uiBpc);
    if (src->uiComp == 0)
        return KZ_OK;
    if (!IntOk(src, sb))
        return KZ_ERR_FAILED;
    const unsigned w = src->uiWidth, h = src->uiHeight;
    if (u64(w) * h > 0xFFFFFFFFu)
        return KZ_ERR_NOT_SUPPORTED;
    const unsigned n = w * h;
    // The source is only read: every component goes through temporaries.
    TempPic work, one, oneOut;
    if (ReinitAndCopy(&work.p, src) != KZ_OK || Reinit(&one.p, w, h, 0, src->uiBpc, 1, false) != KZ_OK ||
        Reinit(&oneOut.p, w, h, 0, src->uiBpc, 1, false) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    kz_result last = KZ_OK;
    for (unsigned k = 0; k < src->uiComp; ++k) {
        CKzPicMemAPI::ExtractComponent(one.p.pData, one.p.uiWidthBytes, work.p.pData, work.p.uiComp,
                                       work.p.uiWidthBytes, k, src->uiBpc, w, n);
        last = AdiffDenoise_x1(&oneOut.p, &one.p, d1, d2, u1, u2);
        CKzPicMemAPI::StoreComponent(work.p.pData, work.p.uiComp, work.p.uiWidthBytes, k, oneOut.p.pData,
                                     oneOut.p.uiWidthBytes, src->uiBpc, w, n);
    }
    if (dst == src)
        return last;
    if (ReinitAndCopy(dst, &work.p) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    return last;
}

kz_result CKzPicBufAPI::AdiffDenoise_RGB(SKzPicBuf* dst, SKzPicBuf* src, double d1, double d2, unsigned u1,
                                         unsigned u2)
{
    if (!dst || !src)
        return KZ_ERR_FAILED;
    TempPic ycc, out;
    if (Reinit(&ycc.p, src->uiWidth, src->uiHeight, 0, src->uiBpc, src->uiComp, false) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    kz_result r = ConvertRGBtoYCrCb(&ycc.p, src);
    if (r != KZ_OK)
        return r;
    const kz_result res = AdiffDenoise(&out.p, &ycc.p, d1, d2, u1, u2);
    if (!out.p.pData)
        return res == KZ_OK ? KZ_ERR_OUT_OF_MEMORY : res;
    r = ConvertYCrCbtoRGB(&ycc.p, &out.p);
    if (r != KZ_OK)
        return r;
    if (ReinitAndCopy(dst, &ycc.p) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    return res;
}

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

namespace {

template <class T, class Fn>
void ToFloat(SKzFloatPicBuf* dst, SKzPicBuf* src, unsigned sb, Fn fn)
{
    if (!FloatOk(dst) || !IntOk(src, sb) || dst->uiWidth != src->uiWidth || dst->uiHeight != src->uiHeight)
        return;
    for (size_t y = 0; y < dst->uiHeight; ++y) {
        const T* s = reinterpret_cast<const T*>(src->pData + y * src->uiWidthBytes);
        for (size_t x = 0; x < dst->uiWidth; ++x)
            At(dst, x, y) = fn(s[x * src->uiComp]);
    }
}

template <class T, class Fn>
void FromFloat(SKzPicBuf* dst, SKzFloatPicBuf* src, unsigned sb, Fn fn)
{
    if (!FloatOk(src) || !IntOk(dst, sb) || dst->uiWidth != src->uiWidth || dst->uiHeight != src->uiHeight)
        return;
    for (size_t y = 0; y < dst->uiHeight; ++y) {
        T* d = reinterpret_cast<T*>(dst->pData + y * dst->uiWidthBytes);
        for (size_t x = 0; x < dst->uiWidth; ++x)
            d[x * dst->uiComp] = fn(At(src, x, y));
    }
}

} // namespace

void Uint8ToFloat(SKzFloatPicBuf* dst, SKzPicBuf* src)
{
    if (src && SampleBytes(src->uiBpc) == 1)
        ToFloat<u8>(dst, src, 1, [](u8 v) { return float(v); });
}

void Uint16ToFloat(SKzFloatPicBuf* dst, SKzPicBuf* src)
{
    if (!src || SampleBytes(src->uiBpc) != 2)
        return;
    const double scale = 256.0 / double(1u << src->uiBpc);
    ToFloat<u16>(dst, src, 2, [scale](u16 v) { return float(v * scale); });
}

void FloatToUint8(SKzPicBuf* dst, SKzFloatPicBuf* src)
{
    if (dst && SampleBytes(dst->uiBpc) == 1)
        FromFloat<u8>(dst, src, 1, [](float v) -> u8 {
            if (v >= 254.5f)
                return 255;
            if (v > -0.5f)
                return u8(int(v + 0.5f));
            return 0;  // also NaN
        });
}

void FloatToUint16(SKzPicBuf* dst, SKzFloatPicBuf* src)
{
    if (!dst || SampleBytes(dst->uiBpc) != 2)
        return;
    const double scale = double(1u << dst->uiBpc) / 256.0, top = double((1u << dst->uiBpc) - 1);
    FromFloat<u16>(dst, src, 2, [scale, top](float v) -> u16 {
        const double x = std::trunc(double(v) * scale + 0.5);
        if (!(x > 0))
            return 0;
        return u16(x < top ? x : top);
    });
}

// ---------------------------------------------------------------------------
// Kernel, gradient, diffusivity
// ---------------------------------------------------------------------------

void GenerateGauss(SKzFloatPicBuf* kernel, double sigma)
{
    if (!FloatOk(kernel) || !(sigma > 0))
        return;
    const i64 w = kernel->uiWidth, h = kernel->uiHeight, cx = w / 2, cy = h / 2;
    const double f = std::max(4 * sigma, 3.0);
    float sum = 0.0f;
    for (i64 y = 0; y < h; ++y)
        for (i64 x = 0; x < w; ++x) {
            const double dx = double(x - cx), dy = double(y - cy);
            if (std::fabs(dx) <= f && std::fabs(dy) <= f) {
                const float v = float(std::exp(-(dx * dx + dy * dy) / (sigma * sigma)));
                At(kernel, size_t(x), size_t(y)) = v;
                sum += v;
            }
        }
    if (sum == 0.0f)
        return;
    for (i64 y = 0; y < h; ++y)
        for (i64 x = 0; x < w; ++x)
            At(kernel, size_t(x), size_t(y)) /= sum;
}

void GetGradientFloat2(SKzFloatPicBuf* grad, SKzFloatPicBuf* src)
{
    if (!FloatOk(grad) || !FloatOk(src) || !SameSize(grad, src) || grad->uiWidth < 2 || grad->uiHeight < 2)
        return;
    const size_t w = grad->uiWidth, h = grad->uiHeight;
    for (size_t y = 0; y + 1 < h; ++y) {
        for (size_t x = 0; x + 1 < w; ++x) {
            const float c = At(src, x, y);
            const float dx = At(src, x + 1, y) - c, dy = At(src, x, y + 1) - c;
            At(grad, x, y) = dx * dx + dy * dy;
        }
        At(grad, w - 1, y) = At(grad, w - 2, y);
    }
    for (size_t x = 0; x < w; ++x)
        At(grad, x, h - 1) = At(grad, x, h - 2);
}

void GetInnerCMK(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, float k, unsigned, SKzFloatPicBuf* grad)
{
    if (!FloatOk(dst) || !FloatOk(src) || !FloatOk(grad) || !SameSize(dst, src) || !SameSize(dst, grad) ||
        dst->uiWidth < 2 || dst->uiHeight < 2)
        return;
    GetGradientFloat2(grad, src);
    for (size_t y = 0; y < dst->uiHeight; ++y)
        for (size_t x = 0; x < dst->uiWidth; ++x) {
            const float s = At(grad, x, y);
            if (s < 1e-20f || 0.30000001f * k > s) {
                At(dst, x, y) = 1.0f;
            } else {
                const float q = s / k;
                const float q2 = q * q;
                At(dst, x, y) = float(1.0 - std::exp(double(-2.3366599f / q2)));
            }
        }
}

// ---------------------------------------------------------------------------
// Coefficients and update
// ---------------------------------------------------------------------------

namespace {

bool SevenFit(SKzFloatPicBuf* const* p)
{
    for (int i = 0; i < 7; ++i)
        if (!FloatOk(p[i]) || !SameSize(p[i], p[6]))
            return false;
    return p[6]->uiWidth >= 2 && p[6]->uiHeight >= 2;
}

} // namespace

void GenerateAB(SKzFloatPicBuf* west, SKzFloatPicBuf* diagH, SKzFloatPicBuf* east, SKzFloatPicBuf* north,
                SKzFloatPicBuf* diagV, SKzFloatPicBuf* south, SKzFloatPicBuf* g)
{
    SKzFloatPicBuf* all[7] = {west, diagH, east, north, diagV, south, g};
    if (!SevenFit(all))
        return;
    const size_t w = g->uiWidth, h = g->uiHeight, n = w * h;
    // Horizontal: the rows taken as one line in row-major order.
    auto G = [&](size_t i) { return At(g, i % w, i / w); };
    for (size_t i = 0; i < n; ++i) {
        const float c = G(i);
        const float prev = i > 0 ? G(i - 1) : c, next = i + 1 < n ? G(i + 1) : c;
        const size_t x = i % w, y = i / w;
        At(west, x, y) = i > 0 ? (c + prev) / 2 : c;
        At(east, x, y) = i + 1 < n ? (c + next) / 2 : c;
        At(diagH, x, y) = -((prev + next) / 2 + c);
    }
    for (size_t x = 0; x < w; ++x)
        for (size_t y = 0; y < h; ++y) {
            const float c = At(g, x, y);
            const float above = y > 0 ? At(g, x, y - 1) : c, below = y + 1 < h ? At(g, x, y + 1) : c;
            At(north, x, y) = y > 0 ? (c + above) / 2 : c;
            At(south, x, y) = y + 1 < h ? (c + below) / 2 : c;
            At(diagV, x, y) = -((above + below) / 2 + c);
        }
}

void GenerateAB_X(SKzFloatPicBuf* west, SKzFloatPicBuf* diagH, SKzFloatPicBuf* east, SKzFloatPicBuf* north,
                  SKzFloatPicBuf* diagV, SKzFloatPicBuf* south, SKzFloatPicBuf* g)
{
    SKzFloatPicBuf* all[7] = {west, diagH, east, north, diagV, south, g};
    if (!SevenFit(all) || g->uiHeight <= 2 || g->uiWidth <= 2)
        return;
    const size_t w = g->uiWidth, h = g->uiHeight;
    for (size_t y = 1; y + 1 < h; ++y) {
        for (size_t x = 1; x + 1 < w; ++x) {
            const float c = At(g, x, y), l = At(g, x - 1, y), r = At(g, x + 1, y), a = At(g, x, y - 1),
                        b = At(g, x, y + 1);
            At(west, x, y) = (c + l) / 2;
            At(east, x, y) = (c + r) / 2;
            At(diagH, x, y) = -((l + r) / 2 + c);
            At(north, x, y) = (c + a) / 2;
            At(south, x, y) = (c + b) / 2;
            At(diagV, x, y) = -((a + b) / 2 + c);
        }
        for (SKzFloatPicBuf* p : {west, diagH, east, north, diagV, south}) {
            At(p, 0, y) = At(p, 1, y);
            At(p, w - 1, y) = At(p, w - 2, y);
        }
    }
}

float AddMid(SKzFloatPicBuf* dst, SKzFloatPicBuf* a, SKzFloatPicBuf* b)
{
    if (!FloatOk(dst) || !FloatOk(a) || !FloatOk(b) || !SameSize(dst, a) || !SameSize(dst, b))
        return 0.0f;
    float last = 0.0f;
    for (size_t y = 0; y < dst->uiHeight; ++y)
        for (size_t x = 0; x < dst->uiWidth; ++x)
            last = At(dst, x, y) = At(a, x, y) + At(b, x, y);
    return last;
}

void MakeDeltaAndAdd(SKzFloatPicBuf* dst, SKzFloatPicBuf* north, SKzFloatPicBuf* west, SKzFloatPicBuf* centre,
                     SKzFloatPicBuf* east, SKzFloatPicBuf* south, float tau, SKzFloatPicBuf* u)
{
    SKzFloatPicBuf* all[7] = {dst, north, west, centre, east, south, u};
    if (!SevenFit(all))
        return;
    const size_t w = u->uiWidth, h = u->uiHeight;
    for (size_t y = 1; y + 1 < h; ++y)
        for (size_t x = 1; x + 1 < w; ++x) {
            const float v = At(u, x, y);
            const float s = At(centre, x, y) * v + At(west, x, y) * At(u, x - 1, y) +
                            At(north, x, y) * At(u, x, y - 1) + At(east, x, y) * At(u, x + 1, y) +
                            At(south, x, y) * At(u, x, y + 1);
            At(dst, x, y) = (s * tau + 1.0f) * v;
        }
    for (size_t y = 0; y < h; ++y) {
        At(dst, 0, y) = At(dst, 1, y);
        At(dst, w - 1, y) = At(dst, w - 2, y);
    }
    for (size_t x = 0; x < w; ++x) {
        At(dst, x, 0) = At(dst, x, 1);
        At(dst, x, h - 1) = At(dst, x, h - 2);
    }
}
