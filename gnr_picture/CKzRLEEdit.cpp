// Editing the object set of a painted run-length picture in place: removals by id,
// position, position list and state; appending copies (new id, kept id, into
// reserved room, clipped to the picture); copies between pictures.
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_picture/internal/KzRLEWalk.h"
#include "gnr_system/CKzAlloc.h"

#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

namespace {

constexpr u32 kHeader = sizeof(SKzRLEObject);
constexpr u32 kNoOffset = 0xFFFFFFFFu;

u8* Bytes(const SKzRLEPicBuf* pic) { return reinterpret_cast<u8*>(pic->pObjects); }

// Offsets of every record plus the terminating 0xFFFFFFFF; false when the block
// does not hold uiObjectCount walkable records.
bool BuildOffsets(const SKzRLEPicBuf* pic, std::vector<u32>& offsets)
{
    offsets.clear();
    offsets.reserve(size_t(pic->uiObjectCount) + 1);
    u64 off = 0;
    kzrle::ForEachObject(pic, [&](SKzRLEObject* obj, u32) {
        offsets.push_back(u32(off));
        off += obj->uiSize;
        return true;
    });
    if (offsets.size() != pic->uiObjectCount) return false;
    offsets.push_back(kNoOffset);
    return true;
}

// Offset of the last walkable record, 0 when fewer than two remain.
u32 LastOffset(const SKzRLEPicBuf* pic)
{
    u64 off = 0, last = 0;
    u32 n = 0;
    kzrle::ForEachObject(pic, [&](SKzRLEObject* obj, u32) {
        last = off;
        off += obj->uiSize;
        ++n;
        return true;
    });
    return n > 1 ? u32(last) : 0;
}

// Removes the records in [from, to) of the block and `count` objects.
void RemoveBytes(SKzRLEPicBuf* pic, u32 from, u32 to, u32 count)
{
    u8* base = Bytes(pic);
    std::memmove(base + from, base + to, size_t(pic->uiDataBytes - to));
    pic->uiDataBytes -= to - from;
    pic->uiObjectCount -= count;
}

// The range removal over a table that matches the block, as the list and state
// removals keep it: entries before the range and the one after it stay valid
// while they remove from the end towards the front.
kz_result RemoveRange(SKzRLEPicBuf* pic, u32 index, u32 count, const u32* offsets)
{
    if (u64(index) + count > pic->uiObjectCount) return KZ_ERR_FAILED;
    if (count == 0) return KZ_OK;
    const u32 from = offsets[index];
    const bool follows = offsets[index + count] != kNoOffset && index + count < pic->uiObjectCount;
    const u32 to = follows ? offsets[index + count] : pic->uiDataBytes;
    const u32 oldLast = pic->uiLastObjectOffset;
    RemoveBytes(pic, from, to, count);
    if (follows)
        pic->uiLastObjectOffset = oldLast - (to - from);
    else
        pic->uiLastObjectOffset = index ? offsets[index - 1] : 0;
    if (pic->uiObjectCount < 2) pic->uiLastObjectOffset = 0;
    return KZ_OK;
}

// The record's size when it is whole for this picture: at least its header and
// the picture's custom bytes, and the block can take it within 32 bits.
kz_result CheckedSize(const SKzRLEPicBuf* pic, const SKzRLEObject* obj, u32* size)
{
    const u64 s = obj->uiSize;
    if (s < u64(kHeader) + pic->uiCustomDataBytes) return KZ_ERR_INVALID_ARG;
    if (u64(pic->uiDataBytes) + s > 0xFFFFFFFFull) return KZ_ERR_OUT_OF_MEMORY;
    *size = u32(s);
    return KZ_OK;
}

u32 LargestId(const SKzRLEPicBuf* pic, bool* any)
{
    u32 largest = 0;
    *any = false;
    kzrle::ForEachObject(pic, [&](SKzRLEObject* obj, u32) {
        if (!*any || obj->uiId > largest) largest = obj->uiId;
        *any = true;
        return true;
    });
    return largest;
}

// Appends a copy of the record held in `record` (never inside the block being grown).
kz_result AppendRecord(SKzRLEPicBuf* pic, const u8* record, u32 size, unsigned* index, SKzRLEObject** added)
{
    void* grown = CKzAlloc::ReAlloc(pic->pObjects, size_t(pic->uiDataBytes) + size, 0);
    if (!grown) return KZ_ERR_OUT_OF_MEMORY;
    pic->pObjects = static_cast<SKzRLEObject*>(grown);
    const u32 at = pic->uiDataBytes;
    std::memcpy(Bytes(pic) + at, record, size);
    pic->uiLastObjectOffset = at;
    pic->uiDataBytes += size;
    if (index) *index = pic->uiObjectCount;
    ++pic->uiObjectCount;
    if (added) *added = reinterpret_cast<SKzRLEObject*>(Bytes(pic) + at);
    return KZ_OK;
}

kz_result AddCopy(SKzRLEPicBuf* pic, SKzRLEObject* obj, bool newId, unsigned* index, SKzRLEObject** added)
{
    if (!pic || !obj) return KZ_ERR_INVALID_ARG;
    if (!pic->bPainted) return KZ_ERR_FAILED;
    u32 size = 0;
    const kz_result rc = CheckedSize(pic, obj, &size);
    if (rc != KZ_OK) return rc;
    // The record may lie in this very block, which the growth may move: copy it first.
    std::vector<u8> record;
    try {
        record.assign(reinterpret_cast<const u8*>(obj), reinterpret_cast<const u8*>(obj) + size);
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    if (newId) {
        bool any = false;
        const u32 id = LargestId(pic, &any) + (any ? 1 : 0);
        const u32 next = any ? id : 1;
        std::memcpy(record.data() + offsetof(SKzRLEObject, uiId), &next, 4);
    }
    return AppendRecord(pic, record.data(), size, index, added);
}

} // namespace

kz_result CKzRLEPicBufAPI::DeleteObjectWithID(SKzRLEPicBuf* pic, unsigned id)
{
    if (!pic || !pic->bPainted || pic->uiObjectCount == 0) return KZ_ERR_FAILED;
    u64 off = 0, from = 0, to = 0;
    bool found = false;
    kzrle::ForEachObject(pic, [&](SKzRLEObject* obj, u32) {
        if (obj->uiId == id) {
            from = off;
            to = off + obj->uiSize;
            found = true;
            return false;
        }
        off += obj->uiSize;
        return true;
    });
    if (!found) return KZ_ERR_FAILED;
    RemoveBytes(pic, u32(from), u32(to), 1);
    pic->uiLastObjectOffset = LastOffset(pic);
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::DeleteObject(SKzRLEPicBuf* pic, unsigned index)
{
    if (!pic || !pic->bPainted || index >= pic->uiObjectCount) return KZ_ERR_FAILED;
    SKzRLEObject* obj = FindObjectByIndex(pic, index);
    if (!obj) return KZ_ERR_FAILED;
    const u32 from = u32(reinterpret_cast<u8*>(obj) - Bytes(pic));
    RemoveBytes(pic, from, from + obj->uiSize, 1);
    pic->uiLastObjectOffset = LastOffset(pic);
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::DeleteObject(SKzRLEPicBuf* pic, unsigned index, unsigned count, unsigned* offsets)
{
    if (!pic || !pic->bPainted || !offsets) return KZ_ERR_FAILED;
    if (u64(index) + count > pic->uiObjectCount) return KZ_ERR_FAILED;
    if (count == 0) return KZ_OK;
    // The caller's table decides what is moved: a stale one would tear records
    // apart, so the entries used are checked against the block first.
    std::vector<u32> real;
    try {
        if (!BuildOffsets(pic, real)) return KZ_ERR_FAILED;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    if (offsets[index] != real[index] || offsets[index + count] != real[index + count]) return KZ_ERR_FAILED;
    if (index && offsets[index - 1] != real[index - 1]) return KZ_ERR_FAILED;
    return RemoveRange(pic, index, count, real.data());
}

kz_result CKzRLEPicBufAPI::DeleteObject(SKzRLEPicBuf* pic, unsigned* indexes, unsigned n)
{
    if (!pic || !pic->bPainted) return KZ_ERR_FAILED;
    if (n == 0) return KZ_OK;
    if (!indexes) return KZ_ERR_INVALID_ARG;
    for (u32 i = 0; i < n; ++i)
        if (indexes[i] >= pic->uiObjectCount || (i && indexes[i] <= indexes[i - 1])) return KZ_ERR_INVALID_ARG;
    std::vector<u32> offsets;
    try {
        if (!BuildOffsets(pic, offsets)) return KZ_ERR_FAILED;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    // From the last position to the first, each stretch of consecutive positions
    // in one move.
    u32 i = n;
    while (i > 0) {
        u32 first = i - 1;
        while (first > 0 && indexes[first - 1] + 1 == indexes[first]) --first;
        RemoveRange(pic, indexes[first], i - first, offsets.data());
        i = first;
    }
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::DeleteObjectsWithStatus(SKzRLEPicBuf* pic, unsigned status)
{
    if (!pic || !pic->bPainted) return KZ_ERR_FAILED;
    if (pic->uiObjectCount == 0) return KZ_OK;
    std::vector<u32> offsets;
    try {
        if (!BuildOffsets(pic, offsets)) return KZ_ERR_FAILED;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    // States are read through the table before anything moves.
    std::vector<u8> match;
    try {
        match.resize(pic->uiObjectCount);
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    for (u32 i = 0; i < pic->uiObjectCount; ++i)
        match[i] = reinterpret_cast<const SKzRLEObject*>(Bytes(pic) + offsets[i])->uiState == status;
    u32 i = pic->uiObjectCount;
    while (i > 0) {
        if (!match[i - 1]) {
            --i;
            continue;
        }
        u32 first = i - 1;
        while (first > 0 && match[first - 1]) --first;
        RemoveRange(pic, first, i - first, offsets.data());
        i = first;
    }
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::AddObject(SKzRLEPicBuf* pic, SKzRLEObject* obj, unsigned* index, SKzRLEObject** added)
{
    return AddCopy(pic, obj, true, index, added);
}

kz_result CKzRLEPicBufAPI::AddObject(SKzRLEPicBuf* pic, SKzRLEObject* obj, unsigned* index)
{
    return AddCopy(pic, obj, true, index, nullptr);
}

kz_result CKzRLEPicBufAPI::AddObjectKeepID(SKzRLEPicBuf* pic, SKzRLEObject* obj, unsigned* index)
{
    return AddCopy(pic, obj, false, index, nullptr);
}

kz_result CKzRLEPicBufAPI::PreAllocate(SKzRLEPicBuf* pic, unsigned bytes)
{
    if (!pic) return KZ_ERR_INVALID_ARG;
    if (bytes == 0) return KZ_OK;
    // An object block belongs to the painted form; one on a non-painted picture
    // would never be released.
    if (!pic->bPainted) return KZ_ERR_FAILED;
    if (bytes < pic->uiDataBytes) return KZ_ERR_INVALID_ARG;
    void* grown = CKzAlloc::ReAlloc(pic->pObjects, bytes, 0);
    if (!grown) return KZ_ERR_FAILED;
    pic->pObjects = static_cast<SKzRLEObject*>(grown);
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::AddObjectNoAllocate(SKzRLEPicBuf* pic, SKzRLEObject* obj, SKzRLEObject** added)
{
    if (!obj || !pic || !pic->bPainted) return KZ_ERR_FAILED;
    u32 size = 0;
    const kz_result rc = CheckedSize(pic, obj, &size);
    if (rc != KZ_OK) return rc;
    // The room is whatever the block really has, not what the caller believes.
    const u64 room = pic->pObjects ? malloc_usable_size(pic->pObjects) : 0;
    if (u64(pic->uiDataBytes) + size > room) return KZ_ERR_FAILED;
    u8* dst = Bytes(pic) + pic->uiDataBytes;
    std::memmove(dst, obj, size);
    pic->uiLastObjectOffset = pic->uiDataBytes;
    pic->uiDataBytes += size;
    ++pic->uiObjectCount;
    if (added) *added = reinterpret_cast<SKzRLEObject*>(dst);
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::AddObjectCutDims(SKzRLEPicBuf* pic, SKzRLEObject* obj, bool keepId, SKzRLEObject** added)
{
    if (!pic || !obj) return KZ_ERR_INVALID_ARG;
    if (!pic->bPainted) return KZ_ERR_FAILED;
    if (obj->uiSize == 0 || obj->uiRowCount == 0 || obj->iRight < obj->iLeft || obj->iBottom < obj->iTop)
        return KZ_OK;
    const i64 w = pic->uiWidth, h = pic->uiHeight;
    if (obj->iLeft >= 0 && obj->iTop >= 0 && obj->iRight < w && obj->iBottom < h) {
        unsigned index = 0;
        const kz_result rc = AddCopy(pic, obj, !keepId, &index, nullptr);
        // The copy itself, not an earlier object that happens to share its id.
        if (rc == KZ_OK && added) *added = FindObjectByIndex(pic, index);
        return rc;
    }
    if (obj->iLeft >= w || obj->iTop >= h || obj->iRight < 0 || obj->iBottom < 0) return KZ_OK;

    struct Kept {
        u32 y, x, len;
    };
    std::vector<Kept> runs;
    u64 rowsEnd = kHeader;
    kzrle::ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment* seg) {
        rowsEnd = u64(reinterpret_cast<const u8*>(seg) - reinterpret_cast<const u8*>(obj)) +
                  u64(row->uiRunCount) * sizeof(SKzSegment);
        return true;
    });
    try {
        kzrle::ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment* seg) {
            // Rows are taken in any order: those from files or hosts need not ascend.
            const i64 y = i32(row->uiY);
            if (y < 0 || y >= h) return true;
            for (u32 k = 0; k < row->uiRunCount; ++k) {
                const i64 x = i32(seg[k].uiX);
                const i64 end = x + i64(seg[k].uiLength); // one past
                if (seg[k].uiLength == 0 || x >= w || end <= 0) continue;
                const i64 a = x < 0 ? 0 : x, b = end > w ? w : end;
                runs.push_back({u32(y), u32(a), u32(b - a)});
            }
            return true;
        });
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    if (runs.empty()) return KZ_OK;
    // The copy is written tidy: rows ascending, runs of a row ascending, and runs
    // that overlap or touch joined (only records stored otherwise are changed).
    kzrle::SortAndJoinRuns(runs);

    u32 rows = 0;
    i64 left = runs[0].x, right = i64(runs[0].x) + runs[0].len - 1;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (i == 0 || runs[i].y != runs[i - 1].y) ++rows;
        if (runs[i].x < left) left = runs[i].x;
        if (i64(runs[i].x) + runs[i].len - 1 > right) right = i64(runs[i].x) + runs[i].len - 1;
    }
    // The picture's walks need every record to carry its custom bytes: the clipped
    // copy takes as many of obj's as it has and zeros for the rest.
    const u32 custom = pic->uiCustomDataBytes;
    const u64 objCustom = obj->uiSize > rowsEnd ? obj->uiSize - rowsEnd : 0;
    const u64 size = u64(kHeader) + 8ull * rows + 8ull * runs.size() + custom;
    if (size > 0xFFFFFFFFull || u64(pic->uiDataBytes) + size > 0xFFFFFFFFull) return KZ_ERR_FAILED;
    std::vector<u8> rec;
    try {
        rec.assign(size_t(size), 0);
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    u32 id = obj->uiId;
    if (!keepId) {
        bool any = false;
        const u32 largest = LargestId(pic, &any);
        id = any ? largest + 1 : 1;
    }
    u64 at = kHeader, lastRow = kHeader;
    for (size_t i = 0; i < runs.size();) {
        size_t j = i;
        while (j < runs.size() && runs[j].y == runs[i].y) ++j;
        lastRow = at;
        const SKzRowSegment row{runs[i].y, u32(j - i)};
        std::memcpy(rec.data() + at, &row, sizeof row);
        at += sizeof row;
        for (; i < j; ++i) {
            const SKzSegment seg{runs[i].x, runs[i].len};
            std::memcpy(rec.data() + at, &seg, sizeof seg);
            at += sizeof seg;
        }
    }
    const u64 keep = objCustom < custom ? objCustom : custom;
    if (keep) std::memcpy(rec.data() + at, reinterpret_cast<const u8*>(obj) + obj->uiSize - objCustom, size_t(keep));
    const SKzRLEObject hdr{id, i32(left), i32(runs.front().y), i32(right), i32(runs.back().y), u32(size), rows,
                           u32(lastRow), obj->uiState};
    std::memcpy(rec.data(), &hdr, sizeof hdr);
    const kz_result rc = AppendRecord(pic, rec.data(), u32(size), nullptr, added);
    return rc == KZ_OK ? KZ_OK : KZ_ERR_FAILED;
}

kz_result CKzRLEPicBufAPI::CopyObjectsWithStatus(SKzRLEPicBuf* dst, SKzRLEPicBuf* src, unsigned value, unsigned mask)
{
    if (!dst || !src || !dst->bPainted || !src->bPainted) return KZ_ERR_FAILED;
    // Offsets, not addresses: with dst == src the block moves as it grows, and only
    // the objects present at the start are copied.
    std::vector<u32> offsets;
    try {
        if (!BuildOffsets(src, offsets)) return KZ_ERR_FAILED;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    offsets.pop_back();
    for (u32 off : offsets) {
        auto* obj = reinterpret_cast<SKzRLEObject*>(Bytes(src) + off);
        if ((obj->uiState & mask) != value) continue;
        const kz_result rc = AddObject(dst, obj, nullptr);
        if (rc != KZ_OK) return rc;
    }
    return KZ_OK;
}

kz_result CKzRLEPicBufAPI::CopyObjectsExcept(SKzRLEPicBuf* dst, SKzRLEPicBuf& src, unsigned* ids, unsigned n)
{
    if (!ids || !dst) return KZ_OK;
    std::vector<u32> offsets;
    try {
        if (!BuildOffsets(&src, offsets)) return KZ_ERR_FAILED;
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    offsets.pop_back();
    for (u32 off : offsets) {
        auto* obj = reinterpret_cast<SKzRLEObject*>(Bytes(&src) + off);
        bool excluded = false;
        for (u32 i = 0; i < n && !excluded; ++i) excluded = ids[i] == obj->uiId;
        if (excluded) continue;
        const kz_result rc = AddObjectKeepID(dst, obj, nullptr);
        if (rc != KZ_OK) return rc;
    }
    return KZ_OK;
}

void CKzRLEPicBufAPI::CopyObjectAttributes(SKzRLEObject* dst, SKzRLEObject* src)
{
    if (dst && src) dst->uiState = src->uiState;
}

bool CKzRLEPicBufAPI::IsRectangular(const SKzRLEObject* obj)
{
    if (!obj || obj->uiRowCount == 0 || (obj->uiState & 0x800)) return false;
    bool first = true, rect = true;
    u32 rows = 0, y = 0, x = 0, len = 0;
    kzrle::ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment* seg) {
        ++rows;
        if (row->uiRunCount != 1) {
            rect = false;
            return false;
        }
        if (first) {
            first = false;
        } else if (row->uiY != y + 1 || seg[0].uiX != x || seg[0].uiLength != len) {
            rect = false;
            return false;
        }
        y = row->uiY;
        x = seg[0].uiX;
        len = seg[0].uiLength;
        return true;
    });
    // A record whose rows end early is not a whole rectangle.
    return rect && rows == obj->uiRowCount;
}
