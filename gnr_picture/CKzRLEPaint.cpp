// Painting run-length pictures back into integer and 1-bit pictures. Every run is clipped
// to the destination, so a damaged or oversized object never writes outside it.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_picture/internal/KzRLEWalk.h"

#include <cstring>

namespace {

template <class T>
void Span(const SKzPicBuf* pic, u32 y, u32 x, u32 len, T v)
{
    if (y >= pic->uiHeight || x >= pic->uiWidth || len == 0) return;
    u64 end = u64(x) + len;
    if (end > pic->uiWidth) end = pic->uiWidth;
    T* row = reinterpret_cast<T*>(pic->pData + u64(y) * pic->uiWidthBytes);
    if constexpr (sizeof(T) == 1)
        std::memset(row + x, v, size_t(end - x));
    else
        for (u64 i = x; i < end; ++i) row[i] = v;
}

template <class T>
void PaintAll(const SKzPicBuf* pic, const SKzRLEPicBuf* rle, u32 value, u32 bits)
{
    const u32 sampleMask = sizeof(T) == 4 ? 0xFFFFFFFFu : (1u << (8 * sizeof(T))) - 1;
    const u32 allOnes = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
    if (rle->bPainted) {
        kzrle::ForEachObject(rle, [&](SKzRLEObject* o, u32) {
            u32 v = value ? value : o->uiId;
            // An id whose sample bits are all zero would read back as background.
            if (!value && (v & sampleMask) == 0) v = allOnes;
            const T sv = T(v);
            kzrle::ForEachRow(o, [&](const SKzRowSegment* row, const SKzSegment* runs) {
                for (u32 k = 0; k < row->uiRunCount; ++k) Span<T>(pic, row->uiY, runs[k].uiX, runs[k].uiLength, sv);
                return true;
            });
            return true;
        });
        return;
    }
    if (!rle->pRuns) return;
    const u32 fallback = bits <= 16 ? allOnes : 0xFFFFFFu;
    const T sv = T(value ? value : fallback);
    for (u32 i = 0; i < rle->uiRunCount; ++i) {
        const SKzRLERun& r = rle->pRuns[i];
        Span<T>(pic, r.uiY, r.uiX, r.uiLength, sv);
    }
}

} // namespace

kz_result CKzRLEPicBufAPI::ConvertRLEToPicBuf(SKzPicBuf* pic, const SKzRLEPicBuf* rle, unsigned value)
{
    if (!pic || !rle || !pic->pData || pic->uiSize == 0 || pic->uiComp != 1) return KZ_ERR_FAILED;
    if (pic->uiWidth < rle->uiWidth || pic->uiHeight < rle->uiHeight) return KZ_ERR_FAILED;
    const u32 bits = pic->uiBpc;
    const u32 sample = bits == 0 ? 0 : bits <= 8 ? 1 : bits <= 16 ? 2 : bits <= 32 ? 4 : 0;
    if (sample && pic->uiHeight &&
        (u64(pic->uiWidthBytes) < u64(pic->uiWidth) * sample ||
         u64(pic->uiWidthBytes) * (pic->uiHeight - 1) + u64(pic->uiWidth) * sample > pic->uiSize))
        return KZ_ERR_FAILED;
    std::memset(pic->pData, 0, size_t(pic->uiSize));
    switch (sample) {
    case 1: PaintAll<u8>(pic, rle, value, bits); break;
    case 2: PaintAll<u16>(pic, rle, value, bits); break;
    case 4: PaintAll<u32>(pic, rle, value, bits); break;
    default: break;
    }
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::ConvertRLEToPicBuf(SKzPicBuf* pic, const SKzRLEPicBuf* rle)
{
    return ConvertRLEToPicBuf(pic, rle, 0);
}

namespace {

// Sets bits x .. x + len - 1 of row y, clipped to the bit picture.
void BitSpan(SKzBinPicBuf* bin, u32 y, u32 x, u32 len)
{
    if (y >= bin->uiHeight || x >= bin->uiWidth || len == 0) return;
    u64 end = u64(x) + len;
    if (end > bin->uiWidth) end = bin->uiWidth;
    u8* row = bin->pData + u64(y) * bin->uiWidthBytes;
    u64 first = x / 8, last = (end - 1) / 8;
    const u8 head = u8(0xFFu >> (x % 8));
    const u8 tail = u8(0xFFu << (7 - (end - 1) % 8));
    if (first == last) {
        row[first] |= u8(head & tail);
        return;
    }
    row[first] |= head;
    if (last > first + 1) std::memset(row + first + 1, 0xFF, size_t(last - first - 1));
    row[last] |= tail;
}

bool BinGeometryOk(const SKzBinPicBuf* bin)
{
    if (!bin || !bin->pData || bin->uiSize == 0) return false;
    if (bin->uiHeight && (u64(bin->uiWidthBytes) * 8 < bin->uiWidth ||
                          u64(bin->uiWidthBytes) * (bin->uiHeight - 1) + (u64(bin->uiWidth) + 7) / 8 > bin->uiSize))
        return false;
    return true;
}

bool BinUsable(const SKzBinPicBuf* bin, const SKzRLEPicBuf* rle)
{
    if (!rle || !BinGeometryOk(bin)) return false;
    return bin->uiWidth >= rle->uiWidth && bin->uiHeight >= rle->uiHeight;
}

template <class Keep>
kz_result PaintBits(SKzBinPicBuf* bin, const SKzRLEPicBuf* rle, Keep keep)
{
    if (!BinUsable(bin, rle)) return KZ_ERR_FAILED;
    std::memset(bin->pData, 0, bin->uiSize);
    if (rle->bPainted) {
        kzrle::ForEachObject(rle, [&](SKzRLEObject* o, u32) {
            if (keep(o)) CKzRLEPicBufAPI::ExtractRLEObjectToBinPicBuf(bin, o);
            return true;
        });
    } else if (rle->pRuns) {
        for (u32 i = 0; i < rle->uiRunCount; ++i) BitSpan(bin, rle->pRuns[i].uiY, rle->pRuns[i].uiX, rle->pRuns[i].uiLength);
    }
    return KZ_OK;
}

template <class T>
void PaintVisible(const SKzPicBuf* pic, const SKzRLEPicBuf* rle, u32 value)
{
    const u32 sampleMask = sizeof(T) == 1 ? 0xFFu : 0xFFFFu;
    if (rle->bPainted) {
        kzrle::ForEachObject(rle, [&](SKzRLEObject* o, u32) {
            if (o->uiState & 0x40) return true;
            u32 v = value ? value : o->uiId;
            if (!value && (v & sampleMask) == 0) v = sampleMask;
            const T sv = T(v);
            kzrle::ForEachRow(o, [&](const SKzRowSegment* row, const SKzSegment* runs) {
                for (u32 k = 0; k < row->uiRunCount; ++k) Span<T>(pic, row->uiY, runs[k].uiX, runs[k].uiLength, sv);
                return true;
            });
            return true;
        });
        return;
    }
    if (!rle->pRuns) return;
    const T sv = T(value ? value : sampleMask);
    for (u32 i = 0; i < rle->uiRunCount; ++i)
        Span<T>(pic, rle->pRuns[i].uiY, rle->pRuns[i].uiX, rle->pRuns[i].uiLength, sv);
}

} // namespace

kz_result CKzRLEPicBufAPI::ConvertVisibleRLEToPicBuf(SKzPicBuf* pic, SKzRLEPicBuf* rle, unsigned value)
{
    if (!pic || !rle || !pic->pData || pic->uiSize == 0 || pic->uiComp != 1) return KZ_ERR_FAILED;
    if (pic->uiWidth < rle->uiWidth || pic->uiHeight < rle->uiHeight) return KZ_ERR_FAILED;
    const u32 bits = pic->uiBpc;
    // Only byte and word samples have a visible painting.
    if (bits != 8 && bits != 16) return KZ_ERR_NOT_SUPPORTED;
    const u32 sample = bits / 8;
    if (pic->uiHeight && (u64(pic->uiWidthBytes) < u64(pic->uiWidth) * sample ||
                          u64(pic->uiWidthBytes) * (pic->uiHeight - 1) + u64(pic->uiWidth) * sample > pic->uiSize))
        return KZ_ERR_FAILED;
    if (sample == 1)
        PaintVisible<u8>(pic, rle, value);
    else
        PaintVisible<u16>(pic, rle, value);
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::ConvertVisibleRLEToPicBuf(SKzPicBuf* pic, SKzRLEPicBuf* rle)
{
    return ConvertVisibleRLEToPicBuf(pic, rle, 0);
}

kz_result CKzRLEPicBufAPI::ConvertRLEToBinPicBuf(SKzBinPicBuf* bin, const SKzRLEPicBuf* rle)
{
    return PaintBits(bin, rle, [](const SKzRLEObject*) { return true; });
}

kz_result CKzRLEPicBufAPI::ConvertVisibleRLEToBinPicBuf(SKzBinPicBuf* bin, SKzRLEPicBuf* rle)
{
    return PaintBits(bin, rle, [](const SKzRLEObject* o) { return (o->uiState & 0x40) == 0; });
}

kz_result CKzRLEPicBufAPI::ConvertAndFilterRLEToBinPicBuf(SKzBinPicBuf* bin, SKzRLEPicBuf* rle, unsigned required,
                                                          unsigned excluded)
{
    return PaintBits(bin, rle, [=](const SKzRLEObject* o) {
        return (o->uiState & required) == required && (o->uiState & excluded) == 0;
    });
}

void CKzRLEPicBufAPI::ExtractRLEObjectToBinPicBuf(SKzBinPicBuf* bin, SKzRLEObject* obj)
{
    if (!obj || !BinGeometryOk(bin)) return;
    kzrle::ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment* runs) {
        for (u32 k = 0; k < row->uiRunCount; ++k) BitSpan(bin, row->uiY, runs[k].uiX, runs[k].uiLength);
        return true;
    });
}
