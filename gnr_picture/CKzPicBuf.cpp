#include "gnr_picture/CKzPicBufAPI.h"

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
