// Conversions between the painted form (objects) and the non-painted form (a run
// list indexed by row). Failures are returned and leave the input as it was.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_picture/internal/KzRLEWalk.h"
#include "gnr_system/CKzAlloc.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr u32 kFirstRunBytes = 4096;
constexpr u32 kRunGrowBytes = 262000;

template <class T>
kz_result AddLine(SKzRLEPicBuf* rle, unsigned y, const T* line)
{
    if (!rle || !line || rle->bPainted || !rle->pRowIndex || y >= rle->uiHeight) return KZ_ERR_FAILED;
    // Lines come in ascending y, each once, so the list stays ordered.
    if (rle->uiRunCount && rle->pRuns && rle->pRuns[rle->uiRunCount - 1].uiY >= y) return KZ_ERR_FAILED;
    if (rle->pRowIndex[y].uiCount) return KZ_ERR_FAILED;
    const u32 w = rle->uiWidth;
    u32 x = 0;
    while (x < w) {
        while (x < w && !line[x]) ++x;
        if (x == w) break;
        const u32 start = x;
        while (x < w && line[x]) ++x;
        const u64 need = (u64(rle->uiRunCount) + 1) * sizeof(SKzRLERun);
        if (need > rle->uiRunBytes || !rle->pRuns) {
            const u64 grown = rle->pRuns ? u64(rle->uiRunBytes) + kRunGrowBytes : kFirstRunBytes;
            if (grown > 0xFFFFFFFFull || grown < need) return KZ_ERR_OUT_OF_MEMORY;
            void* p = CKzAlloc::ReAlloc(rle->pRuns, size_t(grown), 0);
            if (!p) return KZ_ERR_OUT_OF_MEMORY;
            std::memset(static_cast<u8*>(p) + (rle->pRuns ? rle->uiRunBytes : 0), 0,
                        size_t(grown - (rle->pRuns ? rle->uiRunBytes : 0)));
            rle->pRuns = static_cast<SKzRLERun*>(p);
            rle->uiRunBytes = u32(grown);
        }
        if (rle->pRowIndex[y].uiCount == 0) rle->pRowIndex[y].uiFirst = rle->uiRunCount;
        rle->pRowIndex[y].uiCount++;
        rle->pRuns[rle->uiRunCount++] = {0, y, start, x - start};
    }
    return KZ_OK;
}

// Fills `dst` (empty, non-painted) with the runs of a painted picture or of one object.
kz_result RunsFromObjects(SKzRLEPicBuf* dst, const SKzRLEPicBuf* src, SKzRLEObject* only, u32 width, u32 height)
{
    SKzRLEPicBuf tmp;
    CKzRLEPicBufAPI::Init(&tmp, 0, false);
    CKzRLEPicBufAPI::Reinit(&tmp, width, height);
    if (height && !tmp.pRowIndex) return KZ_ERR_FAILED;
    u64 count = 0;
    auto countRows = [&](SKzRLEObject* o) {
        kzrle::ForEachRow(o, [&](const SKzRowSegment* row, const SKzSegment* runs) {
            // Runs outside the picture's rows have no row entry and are dropped.
            if (row->uiY < height)
                for (u32 k = 0; k < row->uiRunCount; ++k) count += runs[k].uiLength ? 1 : 0;
            return true;
        });
    };
    if (only)
        countRows(only);
    else
        kzrle::ForEachObject(src, [&](SKzRLEObject* o, u32) {
            countRows(o);
            return true;
        });
    if (count > 0xFFFFFFFFull / sizeof(SKzRLERun)) {
        CKzRLEPicBufAPI::Free(&tmp);
        return KZ_ERR_FAILED;
    }
    if (count) {
        tmp.pRuns = static_cast<SKzRLERun*>(CKzAlloc::Alloc(0, size_t(count) * sizeof(SKzRLERun)));
        if (!tmp.pRuns) {
            CKzRLEPicBufAPI::Free(&tmp);
            return KZ_ERR_FAILED;
        }
        u64 n = 0;
        auto write = [&](SKzRLEObject* o) {
            kzrle::ForEachRow(o, [&](const SKzRowSegment* row, const SKzSegment* runs) {
                if (row->uiY < height)
                    for (u32 k = 0; k < row->uiRunCount; ++k)
                        if (runs[k].uiLength) tmp.pRuns[n++] = {0, row->uiY, runs[k].uiX, runs[k].uiLength};
                return true;
            });
        };
        if (only)
            write(only);
        else
            kzrle::ForEachObject(src, [&](SKzRLEObject* o, u32) {
                write(o);
                return true;
            });
        std::stable_sort(tmp.pRuns, tmp.pRuns + n, [](const SKzRLERun& a, const SKzRLERun& b) {
            return a.uiY != b.uiY ? a.uiY < b.uiY : a.uiX < b.uiX;
        });
        tmp.uiRunCount = u32(n);
        for (u64 i = 0; i < n; ++i) tmp.pRowIndex[tmp.pRuns[i].uiY].uiCount++;
        u32 first = 0;
        for (u32 y = 0; y < height; ++y) {
            tmp.pRowIndex[y].uiFirst = first;
            first += tmp.pRowIndex[y].uiCount;
        }
    }
    CKzRLEPicBufAPI::Free(dst);
    *dst = tmp;
    return KZ_OK;
}

} // namespace

kz_result addLine8ToNonPaintedRLE(SKzRLEPicBuf* rle, unsigned y, unsigned char* line)
{
    return AddLine<u8>(rle, y, line);
}

kz_result addLine16ToNonPaintedRLE(SKzRLEPicBuf* rle, unsigned y, unsigned short* line)
{
    return AddLine<u16>(rle, y, line);
}

kz_result CKzRLEPicBufAPI::ConvertPicBufToNonPaintedRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic)
{
    if (!rle || !pic || pic->uiComp != 1) return KZ_ERR_FAILED;
    const u32 bits = pic->uiBpc;
    if (bits == 0 || bits > 16) return KZ_ERR_NOT_SUPPORTED;
    const u32 sample = bits <= 8 ? 1 : 2;
    const u32 w = pic->uiWidth, h = pic->uiHeight;
    if (w && h &&
        (!pic->pData || u64(pic->uiWidthBytes) < u64(w) * sample ||
         u64(pic->uiWidthBytes) * (h - 1) + u64(w) * sample > pic->uiSize))
        return KZ_ERR_FAILED;
    SKzRLEPicBuf tmp;
    Init(&tmp, 0, false);
    Reinit(&tmp, w, h);
    if (h && !tmp.pRowIndex) return KZ_ERR_OUT_OF_MEMORY;
    for (u32 y = 0; y < h; ++y) {
        const u8* row = pic->pData + u64(y) * pic->uiWidthBytes;
        const kz_result rc = sample == 1 ? AddLine<u8>(&tmp, y, row) : AddLine<u16>(&tmp, y, reinterpret_cast<const u16*>(row));
        if (rc != KZ_OK) {
            Free(&tmp);
            return rc;
        }
    }
    Free(rle);
    *rle = tmp;
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::ConvertRLEToNonPaintedRLE(SKzRLEPicBuf* dst, SKzRLEPicBuf* src)
{
    if (!dst || !src) return KZ_ERR_FAILED;
    if (dst == src) return ConvertRLEToNonPaintedRLE(dst);
    if (!src->bPainted) {
        Copy(dst, src);
        return KZ_OK;
    }
    return RunsFromObjects(dst, src, nullptr, src->uiWidth, src->uiHeight);
}

kz_result CKzRLEPicBufAPI::ConvertRLEToNonPaintedRLE(SKzRLEPicBuf* pic)
{
    if (!pic) return KZ_ERR_FAILED;
    if (!pic->bPainted) return KZ_OK;
    SKzRLEPicBuf tmp;
    Init(&tmp, 0, false);
    const kz_result rc = RunsFromObjects(&tmp, pic, nullptr, pic->uiWidth, pic->uiHeight);
    if (rc != KZ_OK) return rc;
    Free(pic);
    *pic = tmp;
    pic->uiLegacyWord = 0xFF000000u;
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::ConvertRLEObjectToNonPaintedRLE(SKzRLEPicBuf* dst, SKzRLEObject* obj)
{
    if (!dst || !obj) return KZ_ERR_INVALID_ARG;
    if (obj->iRight < -1 || obj->iBottom < -1) return KZ_ERR_INVALID_ARG;
    const u32 w = u32(i64(obj->iRight) + 1), h = u32(i64(obj->iBottom) + 1);
    return RunsFromObjects(dst, nullptr, obj, w, h);
}

kz_result CKzRLEPicBufAPI::ConvertRLEToPaintedRLE(SKzRLEPicBuf* pic)
{
    return ConvertRLEToPaintedRLE_low(pic);
}

kz_result CKzRLEPicBufAPI::ConvertRLEToPaintedRLE(SKzRLEPicBuf* dst, SKzRLEPicBuf* src)
{
    if (!dst || !src) return KZ_ERR_FAILED;
    if (dst == src) return ConvertRLEToPaintedRLE_low(dst);
    SKzRLEPicBuf tmp;
    Init(&tmp, src->uiCustomDataBytes, src->bPainted);
    kz_result rc = Copy(&tmp, src);
    if (rc == KZ_OK && !tmp.bPainted) rc = ConvertRLEToPaintedRLE_low(&tmp);
    if (rc != KZ_OK) {
        Free(&tmp);
        return rc;
    }
    Free(dst);
    *dst = tmp;
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::ConvertPictureToRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic)
{
    if (!rle) return KZ_ERR_FAILED;
    return rle->bPainted ? ConvertPicBufToPaintedRLE(rle, pic, 8) : ConvertPicBufToNonPaintedRLE(rle, pic);
}
