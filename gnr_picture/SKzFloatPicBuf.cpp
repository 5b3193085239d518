// Float picture life cycle, shape tests, copies, conversions from integer
// pictures and the resampling entry points.

#include "gnr_picture/SKzFloatPicBuf.h"

#include "gnr_picture/internal/KzFloatInternal.h"
#include "gnr_system/CKzAlloc.h"

#include <cmath>
#include <cstddef>
#include <cstring>

// Hosts fill these records field by field.
static_assert(offsetof(SKzFloatPicBuf, uiWidth) == 0);
static_assert(offsetof(SKzFloatPicBuf, uiHeight) == 4);
static_assert(offsetof(SKzFloatPicBuf, uiWidthBytes) == 8);
static_assert(offsetof(SKzFloatPicBuf, uiBpc) == 12);
static_assert(offsetof(SKzFloatPicBuf, uiComp) == 16);
static_assert(offsetof(SKzFloatPicBuf, uiSize) == 20);
static_assert(sizeof(SKzFloatPicBuf::uiSize) == 4);
static_assert(offsetof(SKzFloatPicBuf, fMin) == 24);
static_assert(offsetof(SKzFloatPicBuf, fMax) == 28);
static_assert(offsetof(SKzFloatPicBuf, pData) == 32);
static_assert(sizeof(SKzFloatPicBuf) == 40);
static_assert(offsetof(SKzImageStat, uiReserved) == 0);
static_assert(offsetof(SKzImageStat, iLeft) == 4);
static_assert(offsetof(SKzImageStat, iTop) == 8);
static_assert(offsetof(SKzImageStat, iRight) == 12);
static_assert(offsetof(SKzImageStat, iBottom) == 16);
static_assert(offsetof(SKzImageStat, pfMin) == 24);
static_assert(offsetof(SKzImageStat, pfMax) == 32);
static_assert(offsetof(SKzImageStat, pfMean) == 40);
static_assert(offsetof(SKzImageStat, pfDeviation) == 48);
static_assert(offsetof(SKzImageStat, pfMedian) == 56);
static_assert(sizeof(SKzImageStat) == 64);

namespace {

// Float number of pixel (x, y) of a picture.
float* PixelAt(SKzFloatPicBuf* p, unsigned x, unsigned y)
{
    return reinterpret_cast<float*>(reinterpret_cast<u8*>(p->pData) + size_t(y) * p->uiWidthBytes) +
           size_t(x) * p->uiComp;
}

bool RectInside(const SKzFloatPicBuf* p, unsigned x, unsigned y, unsigned w, unsigned h)
{
    return u64(x) + w <= p->uiWidth && u64(y) + h <= p->uiHeight;
}

// Sample bytes of an integer picture of 1..16 bits (0 otherwise).
unsigned IntSampleBytes(unsigned bits)
{
    return bits == 0 ? 0 : bits <= 8 ? 1 : bits <= 16 ? 2 : 0;
}

// The integer picture's rows hold what its shape says.
bool IntRowsFit(const SKzPicBuf* p, unsigned sampleBytes)
{
    return u64(p->uiWidth) * p->uiComp * sampleBytes <= p->uiWidthBytes &&
           u64(p->uiHeight) * p->uiWidthBytes <= p->uiSize;
}

} // namespace

// ---------------------------------------------------------------------------
// Life cycle
// ---------------------------------------------------------------------------

kz_result CKzFloatPicBufAPI::Init(SKzFloatPicBuf* pic)
{
    if (!pic)
        return KZ_ERR_FAILED;
    std::memset(pic, 0, sizeof(*pic));
    return KZ_OK;
}

bool CKzFloatPicBufAPI::Check(SKzFloatPicBuf* a, SKzFloatPicBuf* b, CheckOptions option)
{
    if (!a || !b || unsigned(option) > 6)
        return false;
    const bool size = a->uiWidth == b->uiWidth && a->uiHeight == b->uiHeight;
    const bool bpc = a->uiBpc == b->uiBpc;
    const bool comp = a->uiComp == b->uiComp;
    switch (option) {
    case eCheckSize: return size;
    case eCheckSizeBpc: return size && bpc;
    case eCheckSizeBpcComp: return size && bpc && comp;
    case eCheckSizeComp: return size && comp;
    case eCheckComp: return comp;
    case eCheckBpc: return bpc;
    case eCheckBpcComp: return bpc && comp;
    }
    return false;
}

bool CKzFloatPicBufAPI::Check(SKzFloatPicBuf* a, SKzPicBuf* b, CheckOptions option)
{
    if (!a || !b || unsigned(option) > 6)
        return false;
    SKzFloatPicBuf shape{};
    shape.uiWidth = b->uiWidth;
    shape.uiHeight = b->uiHeight;
    shape.uiBpc = b->uiBpc;
    shape.uiComp = b->uiComp;
    return Check(a, &shape, option);
}

bool CKzFloatPicBufAPI::Check_Ex(SKzFloatPicBuf* inner, SKzFloatPicBuf* outer, unsigned maxWidth,
                                 unsigned maxHeight)
{
    if (!inner || !outer)
        return false;
    return inner->uiWidth <= outer->uiWidth && outer->uiWidth <= maxWidth && inner->uiHeight <= outer->uiHeight &&
           outer->uiHeight <= maxHeight;
}

bool CKzFloatPicBufAPI::Check_Ex(SKzPicBuf* inner, SKzFloatPicBuf* outer, unsigned maxWidth, unsigned maxHeight)
{
    if (!inner || !outer)
        return false;
    return inner->uiWidth <= outer->uiWidth && outer->uiWidth <= maxWidth && inner->uiHeight <= outer->uiHeight &&
           outer->uiHeight <= maxHeight;
}

kz_result CKzFloatPicBufAPI::Reinit(SKzFloatPicBuf* pic, unsigned width, unsigned height, unsigned stride,
                                    unsigned comps, bool zero)
{
    if (!pic)
        return KZ_ERR_FAILED;
    const u64 rowBytes = u64(width) * comps * sizeof(float);
    if (stride != 0 && stride < rowBytes)
        return KZ_ERR_INVALID_ARG;
    const u64 s = stride != 0 ? stride : rowBytes;
    const u64 size = s * height;
    auto fail = [pic] {
        CKzAlloc::Free(pic->pData);
        pic->pData = nullptr;
        pic->uiWidth = pic->uiHeight = pic->uiWidthBytes = pic->uiComp = pic->uiSize = 0;
        pic->uiBpc = 0;
        return KZ_ERR_OUT_OF_MEMORY;
    };
    if (s > 0xFFFFFFFFu || size > 0xFFFFFFFFu || size == 0)
        return fail();
    void* block = CKzAlloc::ReAlloc(pic->pData, size_t(size), 0);
    if (!block)
        return fail();
    pic->pData = static_cast<float*>(block);
    pic->uiWidth = width;
    pic->uiHeight = height;
    pic->uiBpc = 32;
    pic->uiComp = comps;
    pic->uiWidthBytes = u32(s);
    pic->uiSize = u32(size);
    if (zero)
        std::memset(block, 0, size_t(size));
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::Free(SKzFloatPicBuf* pic)
{
    if (!pic)
        return KZ_ERR_FAILED;
    CKzAlloc::Free(pic->pData);
    pic->pData = nullptr;
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::Swap(SKzFloatPicBuf* a, SKzFloatPicBuf* b)
{
    if (!a || !b)
        return KZ_ERR_FAILED;
    const SKzFloatPicBuf t = *a;
    *a = *b;
    *b = t;
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::ReinitAndCopy(SKzFloatPicBuf* dst, SKzFloatPicBuf* src)
{
    if (!dst || !src)
        return KZ_ERR_FAILED;
    if (dst == src)
        return KZ_OK;
    const kz_result r = Reinit(dst, src->uiWidth, src->uiHeight, 0, src->uiComp, false);
    if (r != KZ_OK)
        return r;
    return Copy(dst, src);
}

kz_result CKzFloatPicBufAPI::Copy(SKzFloatPicBuf* dst, SKzFloatPicBuf* src)
{
    if (!Check(dst, src, eCheckSizeBpcComp))
        return KZ_ERR_FAILED;
    return CKzFloatPicMemAPI::Copy(dst->pData, dst->uiWidthBytes, src->pData, src->uiWidthBytes, dst->uiComp,
                                   dst->uiWidth, u64(dst->uiWidth) * dst->uiHeight);
}

kz_result CKzFloatPicBufAPI::Clear(SKzFloatPicBuf* pic)
{
    if (!pic)
        return KZ_ERR_FAILED;
    if (pic->pData && pic->uiSize)
        std::memset(pic->pData, 0, pic->uiSize);
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::CopyRect(unsigned dstX, unsigned dstY, unsigned width, unsigned height,
                                      SKzFloatPicBuf* dst, unsigned srcX, unsigned srcY, SKzFloatPicBuf* src)
{
    if (!Check(dst, src, eCheckBpcComp))
        return KZ_ERR_FAILED;
    if (!RectInside(dst, dstX, dstY, width, height) || !RectInside(src, srcX, srcY, width, height))
        return KZ_ERR_INVALID_ARG;
    if (width == 0 || height == 0)
        return KZ_OK;
    if (!dst->pData || !src->pData)
        return KZ_ERR_FAILED;
    return CKzFloatPicMemAPI::Copy(PixelAt(dst, dstX, dstY), dst->uiWidthBytes, PixelAt(src, srcX, srcY),
                                   src->uiWidthBytes, dst->uiComp, width, u64(width) * height);
}

kz_result CKzFloatPicBufAPI::Stretch(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, unsigned mode)
{
    if (!Check(dst, src, eCheckBpcComp))
        return KZ_ERR_FAILED;
    return CKzFloatPicMemAPI::Stretch(dst->pData, dst->uiComp, dst->uiWidthBytes, dst->uiWidth, dst->uiHeight,
                                      src->pData, src->uiWidthBytes, src->uiHeight, 0, 0, src->uiWidth,
                                      src->uiHeight, mode);
}

kz_result CKzFloatPicBufAPI::Stretch_WithValidity(SKzFloatPicBuf* dst, SKzFloatPicBuf* src, unsigned mode)
{
    if (!Check(dst, src, eCheckBpcComp) || dst->uiComp != 1)
        return KZ_ERR_FAILED;
    return CKzFloatPicMemAPI::Stretch_WithValidity(dst->pData, 1, dst->uiWidthBytes, dst->uiWidth, dst->uiHeight,
                                                   src->pData, src->uiWidthBytes, src->uiHeight, 0, 0,
                                                   src->uiWidth, src->uiHeight, mode);
}

kz_result CKzFloatPicBufAPI::StretchRect(SKzFloatPicBuf* dst, unsigned dstX, unsigned dstY, unsigned dstWidth,
                                         unsigned dstHeight, SKzFloatPicBuf* src, unsigned srcX, unsigned srcY,
                                         unsigned srcWidth, unsigned srcHeight, unsigned mode)
{
    if (!Check(dst, src, eCheckBpcComp))
        return KZ_ERR_FAILED;
    if (!RectInside(dst, dstX, dstY, dstWidth, dstHeight) || !RectInside(src, srcX, srcY, srcWidth, srcHeight))
        return KZ_ERR_INVALID_ARG;
    if (dstWidth == srcWidth && dstHeight == srcHeight)
        return CopyRect(dstX, dstY, dstWidth, dstHeight, dst, srcX, srcY, src);
    if (dstWidth == 0 || dstHeight == 0)
        return KZ_OK;
    if (!dst->pData || !src->pData)
        return KZ_ERR_FAILED;
    return CKzFloatPicMemAPI::Stretch(PixelAt(dst, dstX, dstY), dst->uiComp, dst->uiWidthBytes, dstWidth, dstHeight,
                                      PixelAt(src, srcX, srcY), src->uiWidthBytes, src->uiHeight, srcX, srcY,
                                      srcWidth, srcHeight, mode);
}

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------

kz_result CKzFloatPicBufAPI::ConvertFromPicBuf(SKzFloatPicBuf* dst, SKzPicBuf* src)
{
    if (!dst || !src)
        return KZ_ERR_FAILED;
    const unsigned sb = IntSampleBytes(src->uiBpc);
    if (sb == 0)
        return KZ_ERR_NOT_SUPPORTED;
    const bool hasSamples = src->uiWidth != 0 && src->uiHeight != 0 && src->uiComp != 0;
    if (hasSamples && (!src->pData || !IntRowsFit(src, sb)))
        return KZ_ERR_FAILED;
    if (dst->uiWidth != src->uiWidth || dst->uiHeight != src->uiHeight || dst->uiComp != src->uiComp ||
        dst->uiBpc != 32 || !dst->pData) {
        const kz_result r = Reinit(dst, src->uiWidth, src->uiHeight, 0, src->uiComp, false);
        if (r != KZ_OK && hasSamples)
            return r;
    }
    const kz_result r = CKzFloatPicMemAPI::ConvertPictureToFloat(dst->pData, dst->uiWidthBytes, src->pData,
                                                                 src->uiWidthBytes, src->uiBpc, src->uiComp,
                                                                 src->uiWidth, src->uiHeight);
    if (r == KZ_OK) {
        dst->fMin = 0.0f;
        dst->fMax = float((1u << src->uiBpc) - 1u);
    }
    return r;
}

kz_result CKzFloatPicBufAPI::DivideComponents(SKzFloatPicBuf* dst, SKzPicBuf* src, unsigned numerator,
                                              unsigned denominator, double scale, double offset)
{
    if (!dst || !src || dst->uiWidth != src->uiWidth || dst->uiHeight != src->uiHeight || src->uiComp < 2 ||
        numerator >= src->uiComp || denominator >= src->uiComp || dst->uiComp == 0)
        return KZ_ERR_FAILED;
    const unsigned sb = IntSampleBytes(src->uiBpc);
    if (sb == 0)
        return KZ_ERR_FAILED;
    if (src->uiWidth == 0 || src->uiHeight == 0)
        return KZ_OK;
    if (!src->pData || !dst->pData || !IntRowsFit(src, sb) ||
        u64(dst->uiWidth) * dst->uiComp * 4 > dst->uiWidthBytes)
        return KZ_ERR_FAILED;
    const double M = double((1u << src->uiBpc) - 1u);
    for (size_t y = 0; y < src->uiHeight; ++y) {
        const u8* s = src->pData + y * src->uiWidthBytes;
        float* d = kzf::FRowOf(dst->pData, dst->uiWidthBytes, y);
        for (size_t x = 0; x < src->uiWidth; ++x) {
            const size_t i = x * src->uiComp;
            double n, dd;
            if (sb == 1) {
                n = s[i + numerator];
                dd = s[i + denominator];
            } else {
                n = reinterpret_cast<const u16*>(s)[i + numerator];
                dd = reinterpret_cast<const u16*>(s)[i + denominator];
            }
            const double q = dd != 0 ? n / dd : M;
            const double v = q * scale + offset;
            d[x * dst->uiComp] = v >= 0 ? float(v) : 0.0f;
        }
    }
    return KZ_OK;
}

kz_result CKzFloatPicBufAPI::ColorToGray(SKzFloatPicBuf* dst, SKzFloatPicBuf* src)
{
    if (!Check(dst, src, eCheckSizeBpc))
        return KZ_ERR_FAILED;
    if (u64(dst->uiWidth) * 4 > dst->uiWidthBytes && dst->uiHeight != 0)
        return KZ_ERR_FAILED;
    return CKzFloatPicMemAPI::Collapse2Intesity(dst->pData, dst->uiWidthBytes, src->pData, src->uiWidthBytes,
                                                src->uiComp, src->uiWidth, u64(src->uiWidth) * src->uiHeight);
}

kz_result CKzFloatPicBufAPI::ConvertBGRtoRGB(SKzFloatPicBuf* dst, SKzFloatPicBuf* src)
{
    if (!Check(dst, src, eCheckSizeBpc) || dst->uiComp < 3 || src->uiComp < 3)
        return KZ_ERR_FAILED;
    if (dst->uiWidth == 0 || dst->uiHeight == 0)
        return KZ_OK;
    if (!dst->pData || !src->pData)
        return KZ_ERR_FAILED;
    const size_t dc = dst->uiComp, sc = src->uiComp;
    for (size_t y = 0; y < dst->uiHeight; ++y) {
        float* d = kzf::FRowOf(dst->pData, dst->uiWidthBytes, y);
        const float* s = kzf::FRowOf(src->pData, src->uiWidthBytes, y);
        for (size_t x = 0; x < dst->uiWidth; ++x) {
            const float s0 = s[x * sc], s1 = s[x * sc + 1], s2 = s[x * sc + 2];
            d[x * dc] = s2;
            d[x * dc + 1] = s1;
            d[x * dc + 2] = s0;
        }
    }
    return KZ_OK;
}
