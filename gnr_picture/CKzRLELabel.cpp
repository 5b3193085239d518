// Connected-component labelling of a one-component picture into painted objects.
//
// Runs are found row by row and joined to the overlapping runs of the row above
// with a union-find over their labels (the root of a set is always its smallest
// label). Fresh labels are handed out in raster order, so the smallest label of a
// component is that of its first run, and objects come out numbered in the raster
// order of their first pixel.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

struct Run {
    u32 y, x, len, label;
};

u32 Find(std::vector<u32>& parent, u32 a)
{
    u32 r = a;
    while (parent[r] != r) r = parent[r];
    while (parent[a] != r) {
        const u32 next = parent[a];
        parent[a] = r;
        a = next;
    }
    return r;
}

void Union(std::vector<u32>& parent, u32 a, u32 b)
{
    a = Find(parent, a);
    b = Find(parent, b);
    if (a == b) return;
    if (a < b)
        parent[b] = a;
    else
        parent[a] = b;
}

// Appends the foreground stretches of one row; `fg` tells a sample's state.
template <class T, class Fg>
void RowRuns(const T* row, u32 width, u32 y, Fg fg, std::vector<Run>& runs)
{
    u32 x = 0;
    while (x < width) {
        while (x < width && !fg(row[x])) ++x;
        if (x == width) break;
        const u32 start = x;
        while (x < width && fg(row[x])) ++x;
        runs.push_back({y, start, x - start, 0});
    }
}

// Labels the runs [begin, end) of one row against the runs [prevBegin, prevEnd) of
// the row above: both are sorted by x, so one merge pass finds every overlap.
bool JoinRow(std::vector<Run>& runs, std::vector<u32>& parent, size_t prevBegin, size_t prevEnd, size_t begin,
             size_t end, bool conn8)
{
    size_t k = prevBegin;
    const i64 touch = conn8 ? 1 : 0;
    for (size_t i = begin; i < end; ++i) {
        Run& u = runs[i];
        const i64 ux0 = u.x, ux1 = i64(u.x) + u.len - 1;
        while (k < prevEnd && i64(runs[k].x) + runs[k].len - 1 + touch < ux0) ++k;
        for (size_t j = k; j < prevEnd && i64(runs[j].x) <= ux1 + touch; ++j) {
            if (u.label == 0)
                u.label = runs[j].label;
            else
                Union(parent, u.label, runs[j].label);
        }
        if (u.label == 0) {
            if (parent.size() > 0xFFFFFFFEu) return false;
            u.label = u32(parent.size());
            parent.push_back(u.label);
        }
    }
    return true;
}

kz_result BuildObjects(SKzRLEPicBuf* rle, std::vector<Run>& runs, std::vector<u32>& parent, u32 w, u32 h);

template <class T, class Fg>
kz_result Label(SKzRLEPicBuf* rle, const SKzPicBuf* pic, u32 w, u32 h, bool conn8, Fg fg)
{
    std::vector<Run> runs;
    std::vector<u32> parent;
    try {
        runs.reserve(131072);
        parent.push_back(0);
        size_t prevBegin = 0, prevEnd = 0;
        for (u32 y = 0; y < h; ++y) {
            const T* row = reinterpret_cast<const T*>(pic->pData + u64(y) * pic->uiWidthBytes);
            const size_t begin = runs.size();
            RowRuns<T>(row, w, y, fg, runs);
            const size_t end = runs.size();
            if (!JoinRow(runs, parent, prevBegin, prevEnd, begin, end, conn8)) return KZ_ERR_OUT_OF_MEMORY;
            prevBegin = begin;
            prevEnd = end;
        }
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    } catch (const std::length_error&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return BuildObjects(rle, runs, parent, w, h);
}

// Builds the object block from labelled runs in raster order and replaces the
// picture's contents with it; the old contents stay when memory runs out.
kz_result BuildObjects(SKzRLEPicBuf* rle, std::vector<Run>& runs, std::vector<u32>& parent, u32 w, u32 h)
{
    // Ids in order of first appearance (raster order), then per-object sizes.
    struct ObjInfo {
        i32 l, t, r, b;
        u32 rows, runs, lastY;
        u64 offset, cursor, lastRow;
    };
    std::vector<u32> idOf;
    std::vector<ObjInfo> objs;
    try {
        idOf.assign(parent.size(), 0);
        for (Run& r : runs) {
            const u32 root = Find(parent, r.label);
            if (idOf[root] == 0) {
                objs.push_back({i32(r.x), i32(r.y), i32(r.x + r.len - 1), i32(r.y), 0, 0, 0xFFFFFFFFu, 0, 0, 0});
                idOf[root] = u32(objs.size());
            }
            r.label = idOf[root];
            ObjInfo& o = objs[r.label - 1];
            if (o.rows == 0 || o.lastY != r.y) {
                ++o.rows;
                o.lastY = r.y;
            }
            ++o.runs;
            if (i32(r.x) < o.l) o.l = i32(r.x);
            if (i32(r.x + r.len - 1) > o.r) o.r = i32(r.x + r.len - 1);
            o.b = i32(r.y);
        }
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    const u64 custom = rle->uiCustomDataBytes;
    u64 total = 0;
    for (ObjInfo& o : objs) {
        o.offset = total;
        total += 36 + custom + 8 * u64(o.rows) + 8 * u64(o.runs);
        if (total > 0xFFFFFFFFull) return KZ_ERR_OUT_OF_MEMORY;
    }
    u8* block = nullptr;
    if (total) {
        block = static_cast<u8*>(CKzAlloc::Alloc(1, size_t(total)));
        if (!block) return KZ_ERR_OUT_OF_MEMORY;
    }
    for (size_t i = 0; i < objs.size(); ++i) {
        ObjInfo& o = objs[i];
        SKzRLEObject hdr{u32(i + 1), o.l, o.t, o.r, o.b,
                         u32(36 + custom + 8 * u64(o.rows) + 8 * u64(o.runs)), o.rows, 36, 0};
        std::memcpy(block + o.offset, &hdr, sizeof hdr);
        o.cursor = o.offset + 36;
        o.rows = 0;
        o.lastY = 0;
    }
    for (const Run& r : runs) {
        ObjInfo& o = objs[r.label - 1];
        u8* rec = block + o.offset;
        if (o.rows == 0 || o.lastY != r.y) {
            o.lastRow = o.cursor;
            const SKzRowSegment row{r.y, 0};
            std::memcpy(block + o.cursor, &row, sizeof row);
            o.cursor += 8;
            ++o.rows;
            o.lastY = r.y;
            const u32 lastRowOff = u32(o.lastRow - o.offset);
            std::memcpy(rec + offsetof(SKzRLEObject, uiLastRowOffset), &lastRowOff, 4);
        }
        u32 count;
        std::memcpy(&count, block + o.lastRow + 4, 4);
        ++count;
        std::memcpy(block + o.lastRow + 4, &count, 4);
        const SKzSegment seg{r.x, r.len};
        std::memcpy(block + o.cursor, &seg, sizeof seg);
        o.cursor += 8;
    }
    // The new contents are ready: only now is the old content released.
    if (!rle->bPainted) CKzRLEPicBufAPI::Free(rle);
    rle->bPainted = true;
    CKzRLEPicBufAPI::Free(rle);
    rle->pRuns = nullptr;
    rle->pRowIndex = nullptr;
    rle->uiRunCount = 0;
    rle->uiRunBytes = 0;
    rle->uiWidth = w;
    rle->uiHeight = h;
    rle->pObjects = reinterpret_cast<SKzRLEObject*>(block);
    rle->uiObjectCount = u32(objs.size());
    rle->uiDataBytes = u32(total);
    rle->uiLastObjectOffset = objs.size() > 1 ? u32(objs.back().offset) : 0;
    return KZ_OK;
}

} // namespace

// Labels the runs of a non-painted picture (8-connectivity) and makes it painted.
kz_result ConvertRLEToPaintedRLE_low(SKzRLEPicBuf* pic)
{
    if (!pic) return KZ_ERR_FAILED;
    if (pic->bPainted) return KZ_OK;
    std::vector<Run> runs;
    std::vector<u32> parent;
    try {
        if (pic->pRuns) {
            runs.reserve(pic->uiRunCount);
            for (u32 i = 0; i < pic->uiRunCount; ++i) {
                const SKzRLERun& r = pic->pRuns[i];
                if (r.uiLength == 0 || r.uiY >= pic->uiHeight) continue;
                runs.push_back({r.uiY, r.uiX, r.uiLength, 0});
            }
        }
        // The list should be ordered already; a disordered one is put in order.
        auto less = [](const Run& a, const Run& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; };
        if (!std::is_sorted(runs.begin(), runs.end(), less)) std::stable_sort(runs.begin(), runs.end(), less);
        parent.push_back(0);
        size_t prevBegin = 0, prevEnd = 0;
        u32 prevY = 0;
        for (size_t begin = 0; begin < runs.size();) {
            const u32 y = runs[begin].y;
            size_t end = begin;
            while (end < runs.size() && runs[end].y == y) ++end;
            const bool adjacent = prevEnd > prevBegin && y == prevY + 1;
            if (!JoinRow(runs, parent, adjacent ? prevBegin : 0, adjacent ? prevEnd : 0, begin, end, true))
                return KZ_ERR_OUT_OF_MEMORY;
            prevBegin = begin;
            prevEnd = end;
            prevY = y;
            begin = end;
        }
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    } catch (const std::length_error&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return BuildObjects(pic, runs, parent, pic->uiWidth, pic->uiHeight);
}

namespace {

kz_result LabelPicture(SKzRLEPicBuf* rle, SKzPicBuf* pic, bool byValue, u32 value, u32 connectivity)
{
    if (!rle || !pic || pic->uiComp != 1) return KZ_ERR_FAILED;
    const u32 bits = pic->uiBpc;
    if (bits == 0 || bits > 16) return KZ_ERR_NOT_SUPPORTED;
    const u32 sample = bits <= 8 ? 1 : 2;
    if (rle->uiWidth == 0 && rle->uiHeight == 0) {
        rle->uiWidth = pic->uiWidth;
        rle->uiHeight = pic->uiHeight;
    }
    const u32 w = rle->uiWidth < pic->uiWidth ? rle->uiWidth : pic->uiWidth;
    const u32 h = rle->uiHeight < pic->uiHeight ? rle->uiHeight : pic->uiHeight;
    if (h && w) {
        if (!pic->pData || u64(pic->uiWidthBytes) < u64(w) * sample ||
            u64(pic->uiWidthBytes) * (h - 1) + u64(w) * sample > pic->uiSize)
            return KZ_ERR_FAILED;
    }
    const bool conn8 = connectivity != 4;
    if (sample == 1) {
        if (byValue) return Label<u8>(rle, pic, w, h, conn8, [value](u8 s) { return s == value; });
        return Label<u8>(rle, pic, w, h, conn8, [](u8 s) { return s != 0; });
    }
    if (byValue) return Label<u16>(rle, pic, w, h, conn8, [value](u16 s) { return s == value; });
    return Label<u16>(rle, pic, w, h, conn8, [](u16 s) { return s != 0; });
}

} // namespace

kz_result CKzRLEPicBufAPI::ConvertPicBufToPaintedRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic, unsigned connectivity)
{
    return LabelPicture(rle, pic, false, 0, connectivity);
}

kz_result CKzRLEPicBufAPI::ConvertPicBufToPaintedRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic, unsigned value,
                                                     unsigned connectivity)
{
    return LabelPicture(rle, pic, true, value, connectivity);
}

namespace {

template <class T>
kz_result GroupByValue(SKzRLEPicBuf* rle, const SKzPicBuf* pic)
{
    const u32 w = pic->uiWidth, h = pic->uiHeight;
    std::vector<Run> runs;
    std::vector<u32> parent;
    try {
        for (u32 y = 0; y < h; ++y) {
            const T* row = reinterpret_cast<const T*>(pic->pData + u64(y) * pic->uiWidthBytes);
            u32 x = 0;
            while (x < w) {
                const T v = row[x];
                const u32 start = x;
                while (x < w && row[x] == v) ++x;
                if (v) runs.push_back({y, start, x - start, u32(v)});
            }
        }
        // Objects in ascending value; each keeps its runs in raster order.
        std::stable_sort(runs.begin(), runs.end(), [](const Run& a, const Run& b) { return a.label < b.label; });
        u32 dense = 0, last = 0;
        for (Run& r : runs) {
            if (dense == 0 || r.label != last) {
                last = r.label;
                ++dense;
            }
            r.label = dense;
        }
        parent.resize(size_t(dense) + 1);
        for (u32 i = 0; i <= dense; ++i) parent[i] = i;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    } catch (const std::length_error&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return BuildObjects(rle, runs, parent, w, h);
}

} // namespace

kz_result CKzRLEPicBufAPI::ConvertIndexedPicBufToPaintedRLE(SKzRLEPicBuf* rle, SKzPicBuf* pic)
{
    if (!rle || !pic || pic->uiComp != 1) return KZ_ERR_FAILED;
    const u32 bits = pic->uiBpc;
    const u32 sample = bits == 8 ? 1 : bits == 16 ? 2 : bits == 32 ? 4 : 0;
    if (sample && pic->uiWidth && pic->uiHeight &&
        (!pic->pData || u64(pic->uiWidthBytes) < u64(pic->uiWidth) * sample ||
         u64(pic->uiWidthBytes) * (pic->uiHeight - 1) + u64(pic->uiWidth) * sample > pic->uiSize))
        return KZ_ERR_FAILED;
    switch (sample) {
    case 1: return GroupByValue<u8>(rle, pic);
    case 2: return GroupByValue<u16>(rle, pic);
    case 4: return GroupByValue<u32>(rle, pic);
    default: {
        // Other depths hold no labels: an empty painted picture of that size.
        std::vector<Run> none;
        std::vector<u32> parent;
        try {
            parent.push_back(0);
        } catch (const std::bad_alloc&) {
            return KZ_ERR_OUT_OF_MEMORY;
        }
        return BuildObjects(rle, none, parent, pic->uiWidth, pic->uiHeight);
    }
    }
}

namespace {

// An 8-bit picture of the bit picture: 255 where a bit is set.
kz_result BinToBytes(SKzBinPicBuf* bin, SKzPicBuf* tmp)
{
    CKzPicBufAPI::Init(tmp);
    const kz_result rc = CKzPicBufAPI::Reinit(tmp, bin->uiWidth, bin->uiHeight, 0, 8, 1, false);
    if (rc != KZ_OK) return rc;
    const kz_result un = CKzPicBufAPI::Unpack(tmp, bin, 255ul);
    if (un != KZ_OK) CKzPicBufAPI::Free(tmp);
    return un;
}

} // namespace

kz_result CKzRLEPicBufAPI::ConvertBinPicBufToPaintedRLE(SKzRLEPicBuf* rle, SKzBinPicBuf* bin)
{
    if (!rle || !bin) return KZ_ERR_FAILED;
    SKzPicBuf tmp;
    const kz_result rc = BinToBytes(bin, &tmp);
    if (rc != KZ_OK) return rc;
    const kz_result out = ConvertPicBufToPaintedRLE(rle, &tmp, 8);
    CKzPicBufAPI::Free(&tmp);
    return out;
}

kz_result CKzRLEPicBufAPI::ConvertBinPicBufToNonPaintedRLE(SKzRLEPicBuf* rle, SKzBinPicBuf* bin)
{
    if (!rle || !bin) return KZ_ERR_FAILED;
    SKzPicBuf tmp;
    const kz_result rc = BinToBytes(bin, &tmp);
    if (rc != KZ_OK) return rc;
    const kz_result out = ConvertPicBufToNonPaintedRLE(rle, &tmp);
    CKzPicBufAPI::Free(&tmp);
    return out;
}

kz_result CKzRLEPicBufAPI::ConvertPictureToRLE(SKzRLEPicBuf* rle, SKzBinPicBuf* bin)
{
    if (!rle) return KZ_ERR_FAILED;
    return rle->bPainted ? ConvertBinPicBufToPaintedRLE(rle, bin) : ConvertBinPicBufToNonPaintedRLE(rle, bin);
}
