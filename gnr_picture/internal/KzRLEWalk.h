// Bounded walks over the object block of a painted run-length picture, shared by
// the run-length sources. They never pass uiObjectCount records or uiDataBytes,
// never follow a record shorter than its header plus custom bytes, and never read
// a row past its record.
#pragma once

#include "gnr_picture/CKzRLEPicBufAPI.h"

#include <algorithm>
#include <vector>

namespace kzrle {

constexpr u32 kObjHeader = sizeof(SKzRLEObject);

// The most rows a non-painted picture may have. Its row index takes one entry per
// row, and heights come from files: without a bound a damaged header could ask
// for 32 GiB. 2^24 rows (a 128 MiB index) is far beyond any real frame.
constexpr u32 kMaxRows = 1u << 24;

template <class F>
void ForEachObject(const SKzRLEPicBuf* pic, F&& f)
{
    if (!pic || !pic->pObjects) return;
    u8* base = reinterpret_cast<u8*>(pic->pObjects);
    const u64 n = pic->uiDataBytes;
    const u64 minSize = u64(kObjHeader) + pic->uiCustomDataBytes;
    u64 off = 0;
    for (u32 i = 0; i < pic->uiObjectCount; ++i) {
        if (off + kObjHeader > n) return;
        auto* obj = reinterpret_cast<SKzRLEObject*>(base + off);
        const u64 size = obj->uiSize;
        if (size < minSize || off + size > n) return;
        if (!f(obj, i)) return;
        off += size;
    }
}

template <class F>
void ForEachRow(const SKzRLEObject* obj, F&& f)
{
    const u8* base = reinterpret_cast<const u8*>(obj);
    const u64 size = obj->uiSize;
    u64 off = kObjHeader;
    for (u32 r = 0; r < obj->uiRowCount; ++r) {
        if (off + sizeof(SKzRowSegment) > size) return;
        auto* row = reinterpret_cast<const SKzRowSegment*>(base + off);
        const u64 bytes = sizeof(SKzRowSegment) + u64(row->uiRunCount) * sizeof(SKzSegment);
        if (off + bytes > size) return;
        auto* runs = reinterpret_cast<const SKzSegment*>(base + off + sizeof(SKzRowSegment));
        if (!f(row, runs)) return;
        off += bytes;
    }
}

// Puts collected runs (members y, x, len) in tidy order: rows ascending, runs
// of a row ascending (stable, so equal starts keep their order), and runs of a
// row that overlap or touch joined into one. Objects from files or hosts may
// hold such runs; they are one stretch of pixels.
template <class R>
void SortAndJoinRuns(std::vector<R>& runs)
{
    auto yx = [](const R& a, const R& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; };
    if (!std::is_sorted(runs.begin(), runs.end(), yx)) std::stable_sort(runs.begin(), runs.end(), yx);
    size_t joined = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        R& last = runs[joined ? joined - 1 : 0];
        if (joined && last.y == runs[i].y && u64(runs[i].x) <= u64(last.x) + last.len) {
            const u64 end = std::max<u64>(u64(last.x) + last.len, u64(runs[i].x) + runs[i].len);
            last.len = u32(end - last.x);
        } else {
            runs[joined++] = runs[i];
        }
    }
    runs.resize(joined);
}

// Whether obj is in the form every builder here writes: rows in strictly ascending
// y, each with at least one run, runs non-empty, ascending and apart. Objects from
// files or hosts need not be.
bool IsTidy(const SKzRLEObject* obj);

// A standalone record (CKzAlloc, no custom bytes) with obj's id, state and box and
// its pixels as tidy rows and runs; null when memory runs out. Operations that
// work on an object's outline or holes use it for objects that are not tidy.
SKzRLEObject* TidyCopy(const SKzRLEObject* obj);

} // namespace kzrle
