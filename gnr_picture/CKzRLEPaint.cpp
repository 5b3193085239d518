// Painting run-length pictures back into integer pictures. Every run is clipped
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
