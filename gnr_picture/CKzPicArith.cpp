// Picture arithmetic: depth and component-count change in place, constant
// fill, per-component constant operations and pixel-wise operations on two
// pictures (optionally masked).
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/internal/KzPicBands.h"
#include "gnr_system/CKzAlloc.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool Holds(const SKzPicBuf* p)
{
    if (p->uiWidth == 0 || p->uiHeight == 0)
        return true;
    return p->pData && u64(p->uiWidth) * p->uiComp * CKzPicBufAPI::CalcCompSize(p->uiBpc) <= p->uiWidthBytes &&
           u64(p->uiHeight) * p->uiWidthBytes <= p->uiSize;
}

bool Depth8or16(unsigned bits) { return bits >= 8 && bits <= 16; }

// A picture-level call over row bands, dst and src of the same shape.
template <class F>
kz_result Banded(SKzPicBuf* dst, SKzPicBuf* src, F&& f)
{
    return KzForRowBands(dst->uiWidth, dst->uiHeight, [&](u32 r0, u32 rows) {
        return f(dst->pData + size_t(r0) * dst->uiWidthBytes, src->pData + size_t(r0) * src->uiWidthBytes,
                 dst->uiWidth * rows);
    });
}

template <class C, class Op>
kz_result ConstOp(SKzPicBuf* dst, SKzPicBuf* src, const C* c, Op op)
{
    if (!CKzPicBufAPI::Check(dst, src, CKzPicBufAPI::eCheckSizeBpcComp) || !c || !Holds(dst) || !Holds(src))
        return KZ_ERR_FAILED;
    return Banded(dst, src, [&](u8* d, const u8* s, u32 count) {
        return op(d, dst->uiWidthBytes, s, src->uiWidthBytes, c, dst->uiComp, dst->uiBpc, dst->uiWidth, count);
    });
}

// Per-component unsigned constants in the sample type.
template <class Op>
kz_result MinMaxConst(SKzPicBuf* dst, SKzPicBuf* src, const unsigned* c, Op op)
{
    if (!CKzPicBufAPI::Check(dst, src, CKzPicBufAPI::eCheckSizeBpcComp) || !c || !Holds(dst) || !Holds(src))
        return KZ_ERR_FAILED;
    const unsigned bits = dst->uiBpc;
    if (!Depth8or16(bits))
        return KZ_ERR_NOT_SUPPORTED;
    std::vector<u8> bytes;
    std::vector<u16> words;
    try {
        if (bits == 8)
            bytes.resize(dst->uiComp);
        else
            words.resize(dst->uiComp);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    for (u32 k = 0; k < dst->uiComp; ++k) {
        if (bits == 8)
            bytes[k] = u8(c[k]);
        else
            words[k] = u16(c[k]);
    }
    const void* typed = bits == 8 ? static_cast<const void*>(bytes.data()) : words.data();
    return Banded(dst, src, [&](u8* d, const u8* s, u32 count) {
        return op(d, dst->uiWidthBytes, s, src->uiWidthBytes, typed, dst->uiComp, bits, dst->uiWidth, count);
    });
}

} // namespace

kz_result CKzPicBufAPI::AddConst(SKzPicBuf* dst, SKzPicBuf* src, int* c)
{
    return ConstOp(dst, src, c, CKzPicMemAPI::AddConstAndClip);
}
kz_result CKzPicBufAPI::AddConstRotate(SKzPicBuf* dst, SKzPicBuf* src, int* c)
{
    return ConstOp(dst, src, c, CKzPicMemAPI::AddConstRotate);
}
kz_result CKzPicBufAPI::SubConst(SKzPicBuf* dst, SKzPicBuf* src, int* c)
{
    return ConstOp(dst, src, c, CKzPicMemAPI::SubConstAndClip);
}
kz_result CKzPicBufAPI::MultConst(SKzPicBuf* dst, SKzPicBuf* src, double* c)
{
    return ConstOp(dst, src, c, CKzPicMemAPI::MulConstAndClip);
}
kz_result CKzPicBufAPI::DivConst(SKzPicBuf* dst, SKzPicBuf* src, double* c)
{
    return ConstOp(dst, src, c, CKzPicMemAPI::DivConstAndClip);
}
kz_result CKzPicBufAPI::MinConst(SKzPicBuf* dst, SKzPicBuf* src, unsigned* c)
{
    return MinMaxConst(dst, src, c, CKzPicMemAPI::MinConstAndClip);
}
kz_result CKzPicBufAPI::MaxConst(SKzPicBuf* dst, SKzPicBuf* src, unsigned* c)
{
    return MinMaxConst(dst, src, c, CKzPicMemAPI::MaxConstAndClip);
}

kz_result CKzPicBufAPI::AssignConst(SKzPicBuf* pic, unsigned* values)
{
    if (!pic || !values || !Holds(pic))
        return KZ_ERR_FAILED;
    const unsigned bits = pic->uiBpc;
    if (!Depth8or16(bits))
        return KZ_ERR_NOT_SUPPORTED;
    const size_t sb = bits == 8 ? 1 : 2;
    std::vector<u8> pixel;
    try {
        pixel.resize(size_t(pic->uiComp) * sb);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    for (u32 k = 0; k < pic->uiComp; ++k) {
        if (sb == 1) {
            pixel[k] = u8(values[k]);
        } else {
            const u16 w = u16(values[k]);
            std::memcpy(&pixel[k * 2], &w, 2);
        }
    }
    return KzForRowBands(pic->uiWidth, pic->uiHeight, [&](u32 r0, u32 rows) {
        return CKzPicMemAPI::SetValue(pic->pData + size_t(r0) * pic->uiWidthBytes, pic->uiComp, bits,
                                      pic->uiWidthBytes, pixel.data(), pic->uiWidth, pic->uiWidth * rows);
    });
}

kz_result CKzPicBufAPI::ConvertBpcAndComp(SKzPicBuf* pic, unsigned bits, unsigned comps)
{
    if (!pic || !Holds(pic))
        return KZ_ERR_FAILED;
    const unsigned oldComps = pic->uiComp;
    const bool compsChange = comps != oldComps;
    if (!compsChange && bits == pic->uiBpc)
        return KZ_OK;
    // Counts the conversion defines: into or out of 1 or 3 components, never
    // 3 into more, at 8 or 9..16 bits.
    if (compsChange && !((oldComps == 1 || oldComps == 3 || comps == 1 || comps == 3) && comps != 0 && oldComps != 0))
        return KZ_ERR_NOT_SUPPORTED;
    if (compsChange && oldComps == 3 && comps > 3)
        return KZ_ERR_NOT_SUPPORTED;
    if (compsChange && oldComps > 1 && comps > oldComps)
        return KZ_ERR_NOT_SUPPORTED;
    if (!Depth8or16(bits) || !Depth8or16(pic->uiBpc))
        return KZ_ERR_NOT_SUPPORTED;

    const u32 w = pic->uiWidth, h = pic->uiHeight;
    SKzPicBuf depth, one, result;
    Init(&depth);
    Init(&one);
    Init(&result);
    auto release = [&] {
        Free(&depth);
        Free(&one);
        Free(&result);
    };
    SKzPicBuf* cur = pic;
    kz_result r = KZ_OK;
    if (bits != pic->uiBpc) {
        if (Reinit(&depth, w, h, 0, bits, oldComps, false) != KZ_OK) {
            release();
            return KZ_ERR_OUT_OF_MEMORY;
        }
        r = KzForRowBands(w, h, [&](u32 r0, u32 rows) {
            return CKzPicMemAPI::ConvertBitDepthViaShifts(depth.pData + size_t(r0) * depth.uiWidthBytes, bits,
                                                          depth.uiWidthBytes,
                                                          pic->pData + size_t(r0) * pic->uiWidthBytes, pic->uiBpc,
                                                          pic->uiWidthBytes, oldComps, w, w * rows);
        });
        if (r != KZ_OK) {
            release();
            return r;
        }
        cur = &depth;
    }
    if (compsChange) {
        if (Reinit(&result, w, h, 0, bits, comps, false) != KZ_OK) {
            release();
            return KZ_ERR_OUT_OF_MEMORY;
        }
        SKzPicBuf* single = cur;
        if (comps < oldComps) {
            // The plain mean of the components, then copied into each.
            if (Reinit(&one, w, h, 0, bits, 1, false) != KZ_OK) {
                release();
                return KZ_ERR_OUT_OF_MEMORY;
            }
            r = Banded(&one, cur, [&](u8* d, const u8* s, u32 count) {
                return CKzPicMemAPI::CollapseComponents(d, one.uiWidthBytes, s, oldComps, cur->uiWidthBytes,
                                                        nullptr, bits, w, count);
            });
            single = &one;
        }
        if (r == KZ_OK)
            r = Banded(&result, single, [&](u8* d, const u8* s, u32 count) {
                return CKzPicMemAPI::ExpandComponent(d, comps, result.uiWidthBytes, s, single->uiWidthBytes, bits,
                                                     w, count);
            });
        if (r != KZ_OK) {
            release();
            return r;
        }
        cur = &result;
    }
    // The picture takes the finished result's block and shape.
    CKzAlloc::Free(pic->pData);
    *pic = *cur;
    cur->pData = nullptr;
    release();
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Two-picture operations
// ---------------------------------------------------------------------------

namespace {

enum class TwoOp { Min, Max, AbsDif, Add, Sub };

struct Overlap {
    u32 w, h, comps;
};

Overlap OverlapOf(const SKzPicBuf* d, const SKzPicBuf* a, const SKzPicBuf* b)
{
    auto m = [](u32 x, u32 y) { return x < y ? x : y; };
    return {m(m(d->uiWidth, a->uiWidth), b->uiWidth), m(m(d->uiHeight, a->uiHeight), b->uiHeight),
            m(m(d->uiComp, a->uiComp), b->uiComp)};
}

// An 8-bit mask that covers the overlap (or none).
bool MaskOk(const SKzPicBuf* mask, const Overlap& o)
{
    return !mask || (mask->uiBpc == 8 && mask->uiComp >= 1 && mask->uiWidth >= o.w && mask->uiHeight >= o.h &&
                     Holds(mask));
}

inline bool MaskSet(const SKzPicBuf* mask, u32 x, u32 y)
{
    return !mask || mask->pData[size_t(y) * mask->uiWidthBytes + size_t(x) * mask->uiComp] != 0;
}

// Depth change of a result r: Ds and Dd each 8 or 9..16.
struct Scaler {
    unsigned ds, dd;
    u64 top;
    inline u64 operator()(u64 r) const
    {
        if (ds == 8 && dd == 8)
            return r > 255 ? 255 : r;
        if (dd == 8) {
            const u64 v = r >> (ds - 8);
            return v > 255 ? 255 : v;
        }
        if (ds == 8) {
            const u64 v = r << (dd - 8);
            return v > top ? top : v;
        }
        return r > top ? top : r;
    }
};

template <class TS, class TD, class F>
void ForOverlap(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b, const Overlap& o, F&& f)
{
    for (u32 y = 0; y < o.h; ++y) {
        const TS* pa = reinterpret_cast<const TS*>(a->pData + size_t(y) * a->uiWidthBytes);
        const TS* pb = reinterpret_cast<const TS*>(b->pData + size_t(y) * b->uiWidthBytes);
        TD* pd = reinterpret_cast<TD*>(dst->pData + size_t(y) * dst->uiWidthBytes);
        for (u32 x = 0; x < o.w; ++x)
            for (u32 k = 0; k < o.comps; ++k)
                pd[size_t(x) * dst->uiComp + k] =
                    TD(f(u64(pa[size_t(x) * a->uiComp + k]), u64(pb[size_t(x) * b->uiComp + k]), x, y));
    }
}

template <class F>
void Dispatch(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b, const Overlap& o, F&& f)
{
    const bool s8 = a->uiBpc == 8, d8 = dst->uiBpc == 8;
    if (s8 && d8)
        ForOverlap<u8, u8>(dst, a, b, o, f);
    else if (s8)
        ForOverlap<u8, u16>(dst, a, b, o, f);
    else if (d8)
        ForOverlap<u16, u8>(dst, a, b, o, f);
    else
        ForOverlap<u16, u16>(dst, a, b, o, f);
}

kz_result TwoPictures(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b, const SKzPicBuf* maskA, const SKzPicBuf* maskB,
                      TwoOp op, int reverse)
{
    if (!dst || !a || !b || a->uiBpc != b->uiBpc || a->uiBpc < 8 || dst->uiBpc < 8)
        return KZ_ERR_FAILED;
    if (a->uiBpc > 16 || dst->uiBpc > 16)
        return KZ_ERR_NOT_SUPPORTED;
    if (!Holds(dst) || !Holds(a) || !Holds(b))
        return KZ_ERR_FAILED;
    const Overlap o = OverlapOf(dst, a, b);
    if (!MaskOk(maskA, o) || !MaskOk(maskB, o))
        return KZ_ERR_FAILED;
    const Scaler sc{a->uiBpc, dst->uiBpc, (u64(1) << dst->uiBpc) - 1};
    auto value = [op, reverse](u64 x, u64 y) -> u64 {
        switch (op) {
        case TwoOp::Min:
            return x < y ? x : y;
        case TwoOp::Max:
            return x > y ? x : y;
        case TwoOp::AbsDif:
            return x > y ? x - y : y - x;
        case TwoOp::Add:
            return x + y;
        case TwoOp::Sub:
            if (reverse)
                return y > x ? y - x : 0;
            return x > y ? x - y : 0;
        }
        return 0;
    };
    if (maskA || maskB)
        Dispatch(dst, a, b, o, [&](u64 x, u64 y, u32 px, u32 py) {
            const bool ma = MaskSet(maskA, px, py), mb = MaskSet(maskB, px, py);
            return sc(ma && mb ? value(x, y) : (!ma && mb ? y : x));
        });
    else
        Dispatch(dst, a, b, o, [&](u64 x, u64 y, u32, u32) { return sc(value(x, y)); });
    return KZ_OK;
}

kz_result Weighted(SKzPicBuf* dst, SKzPicBuf* a, const SKzPicBuf* maskA, SKzPicBuf* b, const SKzPicBuf* maskB,
                   int percent)
{
    if (!dst || !a || !b)
        return KZ_ERR_FAILED;
    if (percent < 0 || percent > 100)
        return KZ_ERR_INVALID_ARG;
    if (!CKzPicBufAPI::Check(dst, a, CKzPicBufAPI::eCheckBpcComp) ||
        !CKzPicBufAPI::Check(dst, b, CKzPicBufAPI::eCheckBpcComp))
        return KZ_ERR_FAILED;
    if (dst->uiBpc < 8)
        return KZ_OK;
    if (dst->uiBpc > 16)
        return KZ_ERR_NOT_SUPPORTED;
    if (!Holds(dst) || !Holds(a) || !Holds(b))
        return KZ_ERR_FAILED;
    const Overlap o = OverlapOf(dst, a, b);
    if (!MaskOk(maskA, o) || !MaskOk(maskB, o))
        return KZ_ERR_FAILED;
    const u64 w = u64(percent), rw = 100 - w;
    // floor(a w / 50) + floor(b (100 - w) / 50), halved: about a w% + b (100 - w)%.
    auto mix = [w, rw](u64 x, u64 y) { return (x * w / 50 + y * rw / 50) / 2; };
    Dispatch(dst, a, b, o, [&](u64 x, u64 y, u32 px, u32 py) {
        const bool ma = MaskSet(maskA, px, py), mb = MaskSet(maskB, px, py);
        return ma && mb ? mix(x, y) : (!ma && mb ? y : x);
    });
    return KZ_OK;
}

} // namespace

kz_result CKzPicBufAPI::MinComp(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b)
{
    return TwoPictures(dst, a, b, nullptr, nullptr, TwoOp::Min, 0);
}
kz_result CKzPicBufAPI::MaxComp(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b)
{
    return TwoPictures(dst, a, b, nullptr, nullptr, TwoOp::Max, 0);
}
kz_result CKzPicBufAPI::AbsDif(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b)
{
    return TwoPictures(dst, a, b, nullptr, nullptr, TwoOp::AbsDif, 0);
}
kz_result CKzPicBufAPI::AbsDif(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* maskA, SKzPicBuf* b, SKzPicBuf* maskB)
{
    return TwoPictures(dst, a, b, maskA, maskB, TwoOp::AbsDif, 0);
}
kz_result CKzPicBufAPI::Addition(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b)
{
    return TwoPictures(dst, a, b, nullptr, nullptr, TwoOp::Add, 0);
}
kz_result CKzPicBufAPI::Subtract(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b, int reverse)
{
    return TwoPictures(dst, a, b, nullptr, nullptr, TwoOp::Sub, reverse);
}
kz_result CKzPicBufAPI::WeightedAddition(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* b, int percent)
{
    return Weighted(dst, a, nullptr, b, nullptr, percent);
}
kz_result CKzPicBufAPI::WeightedAddition(SKzPicBuf* dst, SKzPicBuf* a, SKzPicBuf* maskA, SKzPicBuf* b,
                                         SKzPicBuf* maskB, int percent)
{
    return Weighted(dst, a, maskA, b, maskB, percent);
}
