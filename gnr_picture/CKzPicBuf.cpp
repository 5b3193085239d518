#include "gnr_picture/CKzPicBufAPI.h"

#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/internal/KzPicBands.h"
#include "gnr_system/CKzAlloc.h"

#include <cstddef>
#include <cstring>

extern "C" const unsigned char g_pucBits[8] = {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01};

namespace {

// Largest sample block a picture may ask for. Far above any real frame; a
// shape read from a damaged file cannot make the heap hand out (or the
// process reserve) terabytes.
constexpr u64 kMaxPictureBytes = u64(1) << 40;

using u128 = unsigned __int128;

u128 RowBytes(unsigned width, unsigned bits, unsigned comps)
{
    return u128(width) * comps * CKzPicBufAPI::CalcCompSize(bits);
}

void ZeroShape(SKzPicBuf* pic)
{
    pic->uiWidth = 0;
    pic->uiHeight = 0;
    pic->uiWidthBytes = 0;
    pic->uiBpc = 0;
    pic->uiComp = 0;
    pic->uiSize = 0;
}

} // namespace

kz_result CKzPicBufAPI::Init(SKzPicBuf* pic)
{
    if (!pic)
        return KZ_ERR_FAILED;
    ZeroShape(pic);
    pic->pData = nullptr;
    return KZ_OK;
}

bool CKzPicBufAPI::Check(const SKzPicBuf* a, const SKzPicBuf* b, CheckOptions option)
{
    if (!a || !b)
        return false;
    const bool size = a->uiWidth == b->uiWidth && a->uiHeight == b->uiHeight;
    const bool bpc = a->uiBpc == b->uiBpc;
    const bool comp = a->uiComp == b->uiComp;
    switch (option) {
    case eCheckSize:
        return size;
    case eCheckSizeBpc:
        return size && bpc;
    case eCheckSizeBpcComp:
        return size && bpc && comp;
    case eCheckSizeComp:
        return size && comp;
    case eCheckComp:
        return comp;
    case eCheckBpc:
        return bpc;
    case eCheckBpcComp:
        return bpc && comp;
    }
    return false;
}

unsigned CKzPicBufAPI::CalcCompSize(unsigned bits)
{
    static const unsigned char kSizes[9] = {0, 1, 2, 4, 4, 8, 8, 8, 8};
    const unsigned i = (bits + 7u) / 8u;
    return bits <= 64 ? kSizes[i] : 0;
}

unsigned CKzPicBufAPI::CalcWidthBytes(unsigned width, unsigned bits, unsigned comps, unsigned alignment)
{
    if (alignment == 0)
        return 0;
    const u128 row = RowBytes(width, bits, comps);
    const u128 aligned = (row + alignment - 1) / alignment * alignment;
    return aligned > 0xFFFFFFFFu ? 0 : unsigned(aligned);
}

kz_result CKzPicBufAPI::Reinit(SKzPicBuf* pic, unsigned width, unsigned height, unsigned stride, unsigned bits,
                               unsigned comps, bool zero)
{
    if (!pic)
        return KZ_ERR_FAILED;
    if (bits > 64)
        return KZ_ERR_INVALID_ARG;
    if (stride != 0 && RowBytes(width, bits, comps) > stride)
        return KZ_ERR_INVALID_ARG;
    if (stride == 0)
        stride = CalcWidthBytes(width, bits, comps, 4);
    const u64 size = u64(height) * stride;
    if (stride == 0 || size == 0 || size > kMaxPictureBytes) {
        // No block for this shape: release the old one and end empty.
        CKzAlloc::Free(pic->pData);
        pic->pData = nullptr;
        ZeroShape(pic);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    pic->uiWidth = width;
    pic->uiHeight = height;
    pic->uiWidthBytes = stride;
    pic->uiBpc = u8(bits);
    pic->uiComp = comps;
    pic->uiSize = size;
    const u64 rounded = (size + 15) & ~u64(15);
    void* block = CKzAlloc::ReAlloc(pic->pData, rounded, 0);
    if (!block) {
        CKzAlloc::Free(pic->pData);
        pic->pData = nullptr;
        block = CKzAlloc::Alloc(0, size);
        if (!block) {
            ZeroShape(pic);
            return KZ_ERR_OUT_OF_MEMORY;
        }
    }
    pic->pData = static_cast<u8*>(block);
    if (zero)
        std::memset(pic->pData, 0, size);
    return KZ_OK;
}

kz_result CKzPicBufAPI::Free(SKzPicBuf* pic)
{
    if (!pic)
        return KZ_ERR_FAILED;
    CKzAlloc::Free(pic->pData);
    pic->pData = nullptr;
    return KZ_OK;
}

unsigned CKzPicBufAPI::GetBitMask(unsigned bits)
{
    return (1u << (bits & 31u)) - 1u;
}

// Hosts and the file engine fill these records field by field.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(SKzPicBufDesc, uiWidth) == 0);
static_assert(offsetof(SKzPicBufDesc, uiHeight) == 4);
static_assert(offsetof(SKzPicBufDesc, uiWidthBytes) == 8);
static_assert(offsetof(SKzPicBufDesc, uiBpc) == 12);
static_assert(offsetof(SKzPicBufDesc, uiComp) == 16);
static_assert(sizeof(SKzPicBufDesc) == 20);
static_assert(offsetof(SKzPicBuf, uiWidth) == 0);
static_assert(offsetof(SKzPicBuf, uiComp) == 16);
static_assert(offsetof(SKzPicBuf, uiSize) == 24);
static_assert(offsetof(SKzPicBuf, pData) == 32);
static_assert(sizeof(SKzPicBuf) == 40);
#pragma GCC diagnostic pop
static_assert(offsetof(SKzBinPicBuf, uiWidth) == 0);
static_assert(offsetof(SKzBinPicBuf, uiHeight) == 4);
static_assert(offsetof(SKzBinPicBuf, uiWidthBytes) == 8);
static_assert(offsetof(SKzBinPicBuf, uiSize) == 12);
static_assert(offsetof(SKzBinPicBuf, pData) == 16);
static_assert(sizeof(SKzBinPicBuf) == 24);

// ---------------------------------------------------------------------------
// Copies and combinations
// ---------------------------------------------------------------------------

namespace {

// Bytes of one pixel row of the picture's shape (64-bit).
u64 PixelRowBytes(const SKzPicBuf* p)
{
    return u64(p->uiWidth) * p->uiComp * CKzPicBufAPI::CalcCompSize(p->uiBpc);
}

// A block whose rows (each within the stride) lie inside uiSize.
bool BlockHoldsShape(const SKzPicBuf* p)
{
    if (!p->pData)
        return false;
    if (p->uiWidth == 0 || p->uiHeight == 0)
        return true;
    return PixelRowBytes(p) <= p->uiWidthBytes && u64(p->uiHeight) * p->uiWidthBytes <= p->uiSize;
}

} // namespace

kz_result CKzPicBufAPI::Copy(SKzPicBuf* dst, SKzPicBuf* src)
{
    if (!Check(dst, src, eCheckBpcComp) || !BlockHoldsShape(dst) || !BlockHoldsShape(src))
        return KZ_ERR_FAILED;
    if (dst->uiWidth == src->uiWidth && dst->uiHeight == src->uiHeight && dst->uiSize == src->uiSize) {
        if (dst->pData != src->pData)
            std::memmove(dst->pData, src->pData, size_t(src->uiSize));
        return KZ_OK;
    }
    const u32 rows = dst->uiHeight < src->uiHeight ? dst->uiHeight : src->uiHeight;
    const u32 w = dst->uiWidth < src->uiWidth ? dst->uiWidth : src->uiWidth;
    const size_t len = size_t(w) * src->uiComp * CalcCompSize(src->uiBpc);
    for (u32 r = 0; r < rows; ++r)
        std::memmove(dst->pData + size_t(r) * dst->uiWidthBytes, src->pData + size_t(r) * src->uiWidthBytes, len);
    return KZ_OK;
}

kz_result CKzPicBufAPI::ReinitAndCopy(SKzPicBuf* dst, SKzPicBuf* src)
{
    if (!dst || !src || dst == src)
        return KZ_ERR_FAILED;
    const kz_result r = Reinit(dst, src->uiWidth, src->uiHeight, 0, src->uiBpc, src->uiComp, false);
    if (r != KZ_OK)
        return r;
    return Copy(dst, src);
}

kz_result CKzPicBufAPI::CopyComp(SKzPicBuf* dst, SKzPicBuf* src)
{
    if (!Check(dst, src, eCheckBpc))
        return KZ_ERR_FAILED;
    if (dst->uiComp == src->uiComp)
        return Copy(dst, src);
    if (!BlockHoldsShape(dst) || !BlockHoldsShape(src) || dst->pData == src->pData)
        return KZ_ERR_FAILED;
    const size_t sample = CalcCompSize(src->uiBpc);
    const size_t dPix = dst->uiComp * sample, sPix = src->uiComp * sample;
    const size_t common = dPix < sPix ? dPix : sPix;
    const u32 rows = dst->uiHeight < src->uiHeight ? dst->uiHeight : src->uiHeight;
    const u32 w = dst->uiWidth < src->uiWidth ? dst->uiWidth : src->uiWidth;
    for (u32 r = 0; r < rows; ++r) {
        u8* d = dst->pData + size_t(r) * dst->uiWidthBytes;
        const u8* s = src->pData + size_t(r) * src->uiWidthBytes;
        for (u32 x = 0; x < w; ++x, d += dPix, s += sPix) {
            std::memcpy(d, s, common);
            if (dPix > common)
                std::memset(d + common, 0, dPix - common);
        }
    }
    return KZ_OK;
}

kz_result CKzPicBufAPI::CopyRect(unsigned dstX, unsigned dstY, unsigned width, unsigned height, SKzPicBuf* dst,
                                 unsigned srcX, unsigned srcY, SKzPicBuf* src)
{
    if (!Check(dst, src, eCheckBpcComp))
        return KZ_ERR_FAILED;
    if (u64(dstX) + width > dst->uiWidth || u64(dstY) + height > dst->uiHeight || u64(srcX) + width > src->uiWidth ||
        u64(srcY) + height > src->uiHeight)
        return KZ_ERR_INVALID_ARG;
    if (width == 0 || height == 0)
        return KZ_OK;
    if (!BlockHoldsShape(dst) || !BlockHoldsShape(src))
        return KZ_ERR_FAILED;
    if (dstX == 0 && srcX == 0 && width == dst->uiWidth && width == src->uiWidth &&
        dst->uiWidthBytes == src->uiWidthBytes) {
        std::memmove(dst->pData + size_t(dstY) * dst->uiWidthBytes, src->pData + size_t(srcY) * src->uiWidthBytes,
                     size_t(height) * src->uiWidthBytes);
        return KZ_OK;
    }
    const size_t pixel = size_t(dst->uiComp) * CalcCompSize(dst->uiBpc);
    return KzForRowBands(width, height, [&](u32 r0, u32 rows) {
        u8* d = dst->pData + size_t(dstY + r0) * dst->uiWidthBytes + dstX * pixel;
        const u8* s = src->pData + size_t(srcY + r0) * src->uiWidthBytes + srcX * pixel;
        return CKzPicMemAPI::Copy(d, dst->uiWidthBytes, s, src->uiWidthBytes, dst->uiComp, dst->uiBpc, width,
                                  width * rows);
    });
}

namespace {

template <class Op>
kz_result Combine(SKzPicBuf* dst, SKzPicBuf* src, Op op)
{
    // Only pictures of one layout combine byte for byte.
    if (!CKzPicBufAPI::Check(dst, src, CKzPicBufAPI::eCheckSize) || dst->uiWidthBytes != src->uiWidthBytes ||
        dst->uiSize != src->uiSize)
        return KZ_ERR_INVALID_ARG;
    const u64 n = u64(src->uiHeight) * src->uiWidthBytes;
    if (n == 0)
        return KZ_OK;
    if (!dst->pData || !src->pData || n > src->uiSize)
        return KZ_ERR_FAILED;
    u8* __restrict d = dst->pData;
    const u8* s = src->pData;
    for (size_t i = 0; i < n; ++i)
        d[i] = op(d[i], s[i]);
    return KZ_OK;
}

} // namespace

kz_result CKzPicBufAPI::And(SKzPicBuf* dst, SKzPicBuf* src)
{
    return Combine(dst, src, [](u8 a, u8 b) { return u8(a & b); });
}

kz_result CKzPicBufAPI::Or(SKzPicBuf* dst, SKzPicBuf* src)
{
    return Combine(dst, src, [](u8 a, u8 b) { return u8(a | b); });
}

kz_result CKzPicBufAPI::Clear(SKzPicBuf* pic)
{
    if (!pic)
        return KZ_ERR_FAILED;
    if (pic->uiSize == 0)
        return KZ_OK;
    if (!pic->pData)
        return KZ_ERR_FAILED;
    std::memset(pic->pData, 0, size_t(pic->uiSize));
    return KZ_OK;
}

namespace {

// The 1-bit picture must match the picture's size and its block must hold
// every row it describes.
bool BinFits(const SKzPicBuf* dst, const SKzBinPicBuf* bin)
{
    if (!dst || !bin || bin->uiWidth != dst->uiWidth || bin->uiHeight != dst->uiHeight)
        return false;
    if (dst->uiWidth == 0 || dst->uiHeight == 0)
        return true;
    const u64 rowBits = (u64(bin->uiWidth) + 7) / 8;
    return bin->pData && rowBits <= bin->uiWidthBytes &&
           u64(bin->uiHeight - 1) * bin->uiWidthBytes + rowBits <= bin->uiSize && BlockHoldsShape(dst);
}

} // namespace

kz_result CKzPicBufAPI::Unpack(SKzPicBuf* dst, SKzBinPicBuf* bin, unsigned long value)
{
    if (!BinFits(dst, bin) || u64(dst->uiComp) * CalcCompSize(dst->uiBpc) > sizeof value)
        return KZ_ERR_FAILED;
    return KzForRowBands(dst->uiWidth, dst->uiHeight, [&](u32 r0, u32 rows) {
        return CKzPicMemAPI::UnpackFromBinary(dst->pData + size_t(r0) * dst->uiWidthBytes, dst->uiComp, dst->uiBpc,
                                              value, dst->uiWidthBytes, bin->pData + size_t(r0) * bin->uiWidthBytes,
                                              0, bin->uiWidthBytes, dst->uiWidth, dst->uiWidth * rows, 0);
    });
}

kz_result CKzPicBufAPI::Unpack(SKzPicBuf* dst, SKzBinPicBuf* bin, void* pixel)
{
    if (!BinFits(dst, bin) || !pixel)
        return KZ_ERR_FAILED;
    return KzForRowBands(dst->uiWidth, dst->uiHeight, [&](u32 r0, u32 rows) {
        return CKzPicMemAPI::UnpackFromBinary(dst->pData + size_t(r0) * dst->uiWidthBytes, dst->uiComp, dst->uiBpc,
                                              static_cast<const void*>(pixel), dst->uiWidthBytes,
                                              bin->pData + size_t(r0) * bin->uiWidthBytes, 0, bin->uiWidthBytes,
                                              dst->uiWidth, dst->uiWidth * rows, 0);
    });
}
