// Life cycle, walks, look-ups and hit tests of run-length pictures.
#include "gnr_picture/CKzRLEPicBufAPI.h"

#include "gnr_picture/internal/KzRLEWalk.h"
#include "gnr_system/CKzAlloc.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

constexpr u32 kHeader = sizeof(SKzRLEObject);
constexpr u32 kHidden = 0x40;
constexpr u32 kPreferred = 0x01;

u8* Bytes(const SKzRLEPicBuf* pic) { return reinterpret_cast<u8*>(pic->pObjects); }

using kzrle::ForEachObject;
using kzrle::ForEachRow;

bool ObjectContains(const SKzRLEObject* obj, unsigned x, unsigned y)
{
    if (i64(y) < obj->iTop || i64(y) > obj->iBottom || i64(x) < obj->iLeft || i64(x) > obj->iRight) return false;
    bool hit = false;
    // Rows are matched by their stored y: objects may skip rows, and those from
    // files or hosts may hold them in any order or more than once.
    ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment* runs) {
        if (row->uiY != y) return true;
        for (u32 k = 0; k < row->uiRunCount; ++k) {
            if (runs[k].uiLength && x >= runs[k].uiX && u64(x) <= u64(runs[k].uiX) + runs[k].uiLength - 1) {
                hit = true;
                return false;
            }
        }
        return true;
    });
    return hit;
}

} // namespace

void CKzRLEPicBufAPI::Init(SKzRLEPicBuf* pic, unsigned customBytes, bool painted)
{
    if (!pic) return;
    pic->uiWidth = 0;
    pic->uiHeight = 0;
    pic->uiObjectCount = 0;
    pic->uiDataBytes = 0;
    pic->uiLastObjectOffset = 0;
    pic->uiCustomDataBytes = customBytes;
    pic->pObjects = nullptr;
    pic->bPainted = painted;
    pic->uiRunCount = 0;
    pic->uiRunBytes = 0;
    pic->pRuns = nullptr;
    pic->pRowIndex = nullptr;
    pic->uiLegacyWord = 0xFF000000u;
}

void CKzRLEPicBufAPI::Reinit(SKzRLEPicBuf* pic, unsigned width, unsigned height)
{
    if (!pic) return;
    if (!pic->bPainted) {
        const u32 oldHeight = pic->pRowIndex ? pic->uiHeight : 0;
        if (height == 0) {
            CKzAlloc::Free(pic->pRowIndex);
            pic->pRowIndex = nullptr;
        } else {
            void* grown = height <= kzrle::kMaxRows
                              ? CKzAlloc::ReAlloc(pic->pRowIndex, size_t(height) * sizeof(SKzRLERowEntry), 0)
                              : nullptr;
            if (!grown) {
                // Without its row index the picture cannot stay that size.
                Free(pic);
                pic->uiWidth = 0;
                pic->uiHeight = 0;
                return;
            }
            pic->pRowIndex = static_cast<SKzRLERowEntry*>(grown);
            if (height > oldHeight)
                std::memset(pic->pRowIndex + oldHeight, 0, size_t(height - oldHeight) * sizeof(SKzRLERowEntry));
        }
    }
    pic->uiWidth = width;
    pic->uiHeight = height;
}

void CKzRLEPicBufAPI::Free(SKzRLEPicBuf* pic)
{
    if (!pic) return;
    if (pic->bPainted) {
        CKzAlloc::Free(pic->pObjects);
        pic->pObjects = nullptr;
        pic->uiObjectCount = 0;
        pic->uiDataBytes = 0;
        pic->uiLastObjectOffset = 0;
    } else {
        CKzAlloc::Free(pic->pRuns);
        CKzAlloc::Free(pic->pRowIndex);
        pic->pRuns = nullptr;
        pic->pRowIndex = nullptr;
        pic->uiRunCount = 0;
        pic->uiRunBytes = 0;
    }
}

void CKzRLEPicBufAPI::ForceEqualSizeAndType(SKzRLEPicBuf* dst, SKzRLEPicBuf* src)
{
    if (!dst || !src || dst == src) return;
    Free(dst);
    Init(dst, src->uiCustomDataBytes, src->bPainted);
    Reinit(dst, src->uiWidth, src->uiHeight);
}

void CKzRLEPicBufAPI::ForceEqualSizeAndTypeIfDestEmpty(SKzRLEPicBuf* dst, SKzRLEPicBuf* src)
{
    if (!dst || !src) return;
    if (dst->uiWidth == 0 || dst->uiHeight == 0) ForceEqualSizeAndType(dst, src);
}

kz_result CKzRLEPicBufAPI::Copy(SKzRLEPicBuf* dst, const SKzRLEPicBuf* src)
{
    if (!dst || !src) return KZ_ERR_FAILED;
    if (dst == src) return KZ_OK;
    Free(dst);
    const u32 width = src->uiWidth, height = src->uiHeight;
    if (src->bPainted) {
        Init(dst, src->uiCustomDataBytes, true);
        dst->uiWidth = width;
        dst->uiHeight = height;
        dst->uiLegacyWord = src->uiLegacyWord;
        if (src->uiDataBytes == 0 || !src->pObjects) return KZ_OK;
        void* block = CKzAlloc::Alloc(0, src->uiDataBytes);
        if (!block) return KZ_ERR_FAILED;
        std::memcpy(block, src->pObjects, src->uiDataBytes);
        dst->pObjects = static_cast<SKzRLEObject*>(block);
        dst->uiObjectCount = src->uiObjectCount;
        dst->uiDataBytes = src->uiDataBytes;
        dst->uiLastObjectOffset = src->uiLastObjectOffset;
        return KZ_OK;
    }
    Init(dst, src->uiCustomDataBytes, false);
    dst->uiLegacyWord = src->uiLegacyWord;
    Reinit(dst, width, height);
    if (dst->uiHeight != height) {
        dst->uiWidth = width;
        dst->uiHeight = height;
        return KZ_ERR_FAILED;
    }
    if (src->uiRunCount == 0 || !src->pRuns) return KZ_OK;
    void* runs = CKzAlloc::Alloc(0, size_t(src->uiRunCount) * sizeof(SKzRLERun));
    if (!runs) return KZ_ERR_FAILED;
    std::memcpy(runs, src->pRuns, size_t(src->uiRunCount) * sizeof(SKzRLERun));
    dst->pRuns = static_cast<SKzRLERun*>(runs);
    dst->uiRunCount = src->uiRunCount;
    if (height && dst->pRowIndex) {
        if (src->pRowIndex)
            std::memcpy(dst->pRowIndex, src->pRowIndex, size_t(height) * sizeof(SKzRLERowEntry));
        else
            std::memset(dst->pRowIndex, 0, size_t(height) * sizeof(SKzRLERowEntry));
    }
    return KZ_OK;
}

bool CKzRLEPicBufAPI::IsEqual(SKzRLEPicBuf* a, SKzRLEPicBuf* b)
{
    if (!a || !b) return a == b;
    if (a->bPainted != b->bPainted) return false;
    if (a->uiWidth != b->uiWidth || a->uiHeight != b->uiHeight) return false;
    if (a->bPainted) {
        if (a->uiCustomDataBytes != b->uiCustomDataBytes || a->uiLastObjectOffset != b->uiLastObjectOffset ||
            a->uiObjectCount != b->uiObjectCount || a->uiDataBytes != b->uiDataBytes)
            return false;
        if (a->uiDataBytes == 0) return true;
        if (!a->pObjects || !b->pObjects) return a->pObjects == b->pObjects;
        return std::memcmp(a->pObjects, b->pObjects, a->uiDataBytes) == 0;
    }
    if (a->uiRunCount != b->uiRunCount) return false;
    if (a->uiRunCount) {
        if (!a->pRuns || !b->pRuns) return a->pRuns == b->pRuns;
        if (std::memcmp(a->pRuns, b->pRuns, size_t(a->uiRunCount) * sizeof(SKzRLERun)) != 0) return false;
    }
    // A missing row index reads as all rows empty.
    for (u32 y = 0; y < a->uiHeight; ++y) {
        SKzRLERowEntry ea{0, 0}, eb{0, 0};
        if (a->pRowIndex) ea = a->pRowIndex[y];
        if (b->pRowIndex) eb = b->pRowIndex[y];
        if (ea.uiCount != eb.uiCount || ea.uiFirst != eb.uiFirst) return false;
    }
    return true;
}

bool CKzRLEPicBufAPI::IsEqualSize(SKzRLEPicBuf* a, SKzRLEPicBuf* b)
{
    return a && b && a->uiWidth == b->uiWidth && a->uiHeight == b->uiHeight;
}

bool CKzRLEPicBufAPI::IsEqualType(SKzRLEPicBuf* a, SKzRLEPicBuf* b)
{
    return a && b && a->bPainted == b->bPainted;
}

SKzRLEObject* CKzRLEPicBufAPI::GetNextRLEObject(const SKzRLEPicBuf* pic, SKzRLEObject* obj)
{
    if (!pic || !pic->pObjects || pic->uiObjectCount == 0) return nullptr;
    const u64 n = pic->uiDataBytes;
    const u64 minSize = u64(kHeader) + pic->uiCustomDataBytes;
    if (!obj) return n >= minSize ? pic->pObjects : nullptr;
    const u8* base = Bytes(pic);
    const u8* p = reinterpret_cast<const u8*>(obj);
    if (p < base || p >= base + n) return nullptr;
    const u64 off = u64(p - base);
    if (off == pic->uiLastObjectOffset) return nullptr;
    const u64 size = obj->uiSize;
    if (size < minSize) return nullptr;
    const u64 next = off + size;
    if (next + minSize > n) return nullptr;
    auto* nextObj = reinterpret_cast<SKzRLEObject*>(Bytes(pic) + next);
    if (next + u64(nextObj->uiSize) > n || nextObj->uiSize < minSize) return nullptr;
    return nextObj;
}

SKzRowSegment* CKzRLEPicBufAPI::GetNextRowSegment(SKzRLEObject* obj, SKzRowSegment* row)
{
    if (!obj || obj->uiRowCount == 0) return nullptr;
    u8* base = reinterpret_cast<u8*>(obj);
    const u64 size = obj->uiSize;
    if (!row) return size >= kHeader + sizeof(SKzRowSegment) ? reinterpret_cast<SKzRowSegment*>(base + kHeader) : nullptr;
    u8* p = reinterpret_cast<u8*>(row);
    if (p < base + kHeader || p >= base + size) return nullptr;
    const u64 off = u64(p - base);
    if (off == obj->uiLastRowOffset) return nullptr;
    const u64 next = off + sizeof(SKzRowSegment) + u64(row->uiRunCount) * sizeof(SKzSegment);
    if (next + sizeof(SKzRowSegment) > size) return nullptr;
    return reinterpret_cast<SKzRowSegment*>(base + next);
}

void* CKzRLEPicBufAPI::GetCustomDataPtr(SKzRLEObject* obj)
{
    if (!obj) return nullptr;
    return reinterpret_cast<u8*>(obj) + obj->uiSize;
}

void* CKzRLEPicBufAPI::FindObjectsCustomDataByObjectID(SKzRLEPicBuf* pic, unsigned id)
{
    if (!pic || pic->uiCustomDataBytes == 0 || pic->uiObjectCount == 0) return nullptr;
    SKzRLEObject* found = FindObjectByObjectID(pic, id);
    if (!found) return nullptr;
    return reinterpret_cast<u8*>(found) + found->uiSize - pic->uiCustomDataBytes;
}

SKzRLEObject* CKzRLEPicBufAPI::FindObjectByObjectID(SKzRLEPicBuf* pic, unsigned id)
{
    SKzRLEObject* found = nullptr;
    ForEachObject(pic, [&](SKzRLEObject* obj, u32) {
        if (obj->uiId != id) return true;
        found = obj;
        return false;
    });
    return found;
}

SKzRLEObject* CKzRLEPicBufAPI::FindObjectByObjectIDCycle(SKzRLEPicBuf* pic, SKzRLEObject* start, unsigned id)
{
    if (!pic || pic->uiObjectCount == 0) return nullptr;
    // Position of start among the walkable records; the search begins after it.
    u32 startIndex = 0;
    bool haveStart = false;
    u32 walkable = 0;
    ForEachObject(pic, [&](SKzRLEObject* obj, u32 i) {
        if (obj == start) {
            startIndex = i;
            haveStart = true;
        }
        walkable = i + 1;
        return true;
    });
    if (walkable == 0) return nullptr;
    const u32 first = haveStart ? (startIndex + 1) % walkable : 0;
    SKzRLEObject* found = nullptr;
    for (u32 step = 0; step < walkable && !found; ++step) {
        SKzRLEObject* obj = FindObjectByIndex(pic, (first + step) % walkable);
        if (obj && obj->uiId == id) found = obj;
    }
    return found;
}

SKzRLEObject* CKzRLEPicBufAPI::FindObjectByIndex(SKzRLEPicBuf* pic, unsigned index)
{
    if (!pic || index >= pic->uiObjectCount) return nullptr;
    SKzRLEObject* found = nullptr;
    ForEachObject(pic, [&](SKzRLEObject* obj, u32 i) {
        if (i != index) return true;
        found = obj;
        return false;
    });
    return found;
}

bool CKzRLEPicBufAPI::HitTest(SKzRLEPicBuf* pic, unsigned x, unsigned y, unsigned* index, SKzRLEObject** obj)
{
    SKzRLEObject* found = nullptr;
    u32 at = 0;
    ForEachObject(pic, [&](SKzRLEObject* o, u32 i) {
        if (!ObjectContains(o, x, y)) return true;
        found = o;
        at = i;
        return false;
    });
    if (!found) return false;
    if (index) *index = at;
    if (obj) *obj = found;
    return true;
}

bool CKzRLEPicBufAPI::HitTestVisible(SKzRLEPicBuf* pic, unsigned x, unsigned y, unsigned* index,
                                     SKzRLEObject** obj)
{
    SKzRLEObject* found = nullptr;
    u32 at = 0;
    ForEachObject(pic, [&](SKzRLEObject* o, u32 i) {
        if (o->uiState & kHidden) return true;
        const bool preferred = (o->uiState & kPreferred) != 0;
        if (found && !preferred) return true;
        if (!ObjectContains(o, x, y)) return true;
        found = o;
        at = i;
        return !preferred;
    });
    if (!found) return false;
    if (index) *index = at;
    if (obj) *obj = found;
    return true;
}

bool CKzRLEPicBufAPI::HitTestRLEObject(SKzRLEObject* obj, unsigned x, unsigned y)
{
    return obj && ObjectContains(obj, x, y);
}

bool CKzRLEPicBufAPI::HitTestVisibleEx(SKzRLEPicBuf* pic, double x, double y, double zoom, unsigned* index,
                                       SKzRLEObject** obj, double* distance)
{
    if (!pic || !(zoom > 0.00001) || !std::isfinite(x) || !std::isfinite(y)) return false;
    const double tol = 10.0 / zoom;
    double best = tol;
    const i64 margin = i64(std::ceil(tol));
    // Points far outside the 32-bit plane can touch no box.
    if (std::fabs(x) > 1e10 || std::fabs(y) > 1e10) return false;
    const i64 px = i64(x), py = i64(y);
    // Maps beyond this are not worth a hit test; such objects are skipped.
    constexpr u64 kMapCap = u64(1) << 26;
    u8* map = nullptr;
    u64 mapCap = 0;
    SKzRLEObject* found = nullptr;
    u32 foundIndex = 0;
    ForEachObject(pic, [&](SKzRLEObject* o0, u32 i) {
        if (o0->uiState & kHidden) return true;
        const i64 l = o0->iLeft, t = o0->iTop, r = o0->iRight, b = o0->iBottom;
        if (px < l - margin || px > r + margin || py < t - margin || py > b + margin) return true;
        // Corners are counted per pixel: a pixel stored twice (overlapping runs, a
        // row repeated) would count its corners twice, so such an object is measured
        // through a tidy copy.
        const SKzRLEObject* o = o0;
        SKzRLEObject* tidy = nullptr;
        if (!kzrle::IsTidy(o0)) {
            tidy = kzrle::TidyCopy(o0);
            if (!tidy) return true;
            o = tidy;
        }
        struct Release {
            SKzRLEObject* p;
            ~Release() { CKzAlloc::Free(p); }
        } release{tidy};
        double d = 1e10;
        // Only corners nearer than the tolerance can win, so the corner map covers
        // the window around the point, clipped to the box: its size follows the
        // tolerance, not the object.
        const i64 cx0 = std::max(l, px - margin - 1), cx1 = std::min(r + 1, px + margin + 1);
        const i64 cy0 = std::max(t, py - margin - 1), cy1 = std::min(b + 1, py + margin + 1);
        if (r >= l && b >= t && cx0 <= cx1 && cy0 <= cy1) {
            const u64 mw = u64(cx1 - cx0 + 1), mh = u64(cy1 - cy0 + 1);
            if (mw > kMapCap / mh) return true;
            const u64 need = mw * mh;
            if (need > mapCap) {
                std::free(map);
                map = static_cast<u8*>(std::calloc(1, need));
                mapCap = map ? need : 0;
                if (!map) return true;
            } else {
                std::memset(map, 0, need);
            }
            auto bump = [&](i64 cx, i64 cy) {
                if (cx >= cx0 && cx <= cx1 && cy >= cy0 && cy <= cy1) map[u64(cy - cy0) * mw + u64(cx - cx0)]++;
            };
            ForEachRow(o, [&](const SKzRowSegment* row, const SKzSegment* runs) {
                const i64 ry = row->uiY;
                if (ry < t || ry > b || ry < cy0 - 1 || ry > cy1) return true;
                for (u32 k = 0; k < row->uiRunCount; ++k) {
                    i64 x0 = runs[k].uiX;
                    i64 x1 = x0 + i64(runs[k].uiLength) - 1;
                    x0 = std::max({x0, l, cx0 - 1});
                    x1 = std::min({x1, r, cx1});
                    for (i64 xx = x0; xx <= x1; ++xx) {
                        bump(xx, ry);
                        bump(xx + 1, ry);
                        bump(xx, ry + 1);
                        bump(xx + 1, ry + 1);
                    }
                }
                return true;
            });
            for (u64 cr = 0; cr < mh; ++cr) {
                const double dy = std::fabs(y - double(cy0 + i64(cr)));
                if (dy >= d) continue;
                const u8* line = map + cr * mw;
                for (u64 cc = 0; cc < mw; ++cc) {
                    const u8 c = line[cc];
                    if (c == 0 || c == 4) continue;
                    const double dx = std::fabs(x - double(cx0 + i64(cc)));
                    const double cheb = dx > dy ? dx : dy;
                    if (cheb < d) d = cheb;
                }
            }
        }
        if (d < best) {
            best = d;
            found = o0;
            foundIndex = i;
        }
        return true;
    });
    std::free(map);
    if (!found) return false;
    if (index) *index = foundIndex;
    if (obj) *obj = found;
    if (distance) *distance = best;
    return true;
}

kz_result CKzRLEPicBufAPI::TraceRLE(SKzRLEPicBuf*) { return KZ_OK; }
void CKzRLEPicBufAPI::ContourPoints(SKzRLEPicBuf*) {}
void CKzRLEPicBufAPI::ContourPoints(SKzRLEObject*) {}
void CKzRLEPicBufAPI::ContourPoints(SKzRLEObject*, unsigned long&) {}

int DebugCheckRleObject(SKzRLEObject*) { return 1; }
