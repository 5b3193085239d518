// Shape operations on painted run-length objects: complement within the box, hole
// filling (a run-by-run flood of the background from the box's border), outline
// projections, and the cut of a whole picture to a rectangle. Everything stays in
// runs; the only per-pixel memory is the reach map of the hole filling.
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_picture/internal/KzRLEWalk.h"
#include "gnr_system/CKzAlloc.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

constexpr u32 kHeader = sizeof(SKzRLEObject);
constexpr u64 kStackEntry = sizeof(SKzRowSegment) + sizeof(SKzSegment);

struct Span {
    u32 y, x, len;
};

SKzRowSegment* StackAt(SKzRowSegment* stack, u64 i)
{
    return reinterpret_cast<SKzRowSegment*>(reinterpret_cast<u8*>(stack) + i * kStackEntry);
}

const SKzSegment* RunsOf(const SKzRowSegment* row) { return reinterpret_cast<const SKzSegment*>(row + 1); }

// Box extent in 64 bits; false for an empty box.
bool BoxOf(const SKzRLEObject* obj, i64* w, i64* h)
{
    *w = i64(obj->iRight) - obj->iLeft + 1;
    *h = i64(obj->iBottom) - obj->iTop + 1;
    return *w > 0 && *h > 0;
}

// The row records of obj that lie in its box, in strictly ascending y (others are
// ignored), with their box row.
struct BoxRow {
    u64 r;
    const SKzRowSegment* row;
};
bool BoxRows(const SKzRLEObject* obj, i64 h, std::vector<BoxRow>& rows)
{
    rows.clear();
    i64 prev = -1;
    try {
        kzrle::ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment*) {
            const i64 r = i64(row->uiY) - obj->iTop;
            if (r > prev && r < h) {
                rows.push_back({u64(r), row});
                prev = r;
            }
            return true;
        });
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

// Complement runs of one row inside [left, right]. The row's runs are clipped to
// the box; a cursor keeps the output ascending and disjoint whatever their order.
template <class Emit>
void RowComplement(const SKzSegment* runs, u32 count, i64 left, i64 right, Emit&& emit)
{
    i64 pos = left;
    for (u32 k = 0; k < count; ++k) {
        if (runs[k].uiLength == 0) continue;
        const i64 a = runs[k].uiX, b = i64(runs[k].uiX) + runs[k].uiLength - 1;
        if (b < left || a > right) continue;
        if (a > pos) emit(pos, a - 1);
        if (b + 1 > pos) pos = b + 1;
    }
    if (pos <= right) emit(pos, right);
}

// Writes a standalone record (no custom bytes) of `runs` (ascending y, then x).
SKzRLEObject* MakeRecord(const std::vector<Span>& runs, u32 id, u32 state, i32 l, i32 t, i32 r, i32 b)
{
    u64 rows = 0;
    for (size_t i = 0; i < runs.size(); ++i)
        if (i == 0 || runs[i].y != runs[i - 1].y) ++rows;
    const u64 size = kHeader + 8 * rows + 8 * u64(runs.size());
    if (size > 0xFFFFFFFFull) return nullptr;
    u8* rec = static_cast<u8*>(CKzAlloc::Alloc(1, size_t(size)));
    if (!rec) return nullptr;
    u64 at = kHeader, lastRow = kHeader;
    for (size_t i = 0; i < runs.size();) {
        size_t j = i;
        while (j < runs.size() && runs[j].y == runs[i].y) ++j;
        lastRow = at;
        const SKzRowSegment row{runs[i].y, u32(j - i)};
        std::memcpy(rec + at, &row, sizeof row);
        at += sizeof row;
        for (; i < j; ++i) {
            const SKzSegment seg{runs[i].x, runs[i].len};
            std::memcpy(rec + at, &seg, sizeof seg);
            at += sizeof seg;
        }
    }
    const SKzRLEObject hdr{id, l, t, r, b, u32(size), u32(rows), u32(lastRow), state};
    std::memcpy(rec, &hdr, sizeof hdr);
    return reinterpret_cast<SKzRLEObject*>(rec);
}

// Map range of a run in box row `row`, clipped to the map's columns; false when
// nothing of it is inside.
bool MapRange(const SKzSegment& s, u64 row, u32 left, u32 mapWidth, u64* from, u64* to)
{
    if (s.uiLength == 0 || u64(s.uiX) + s.uiLength <= left) return false;
    const u64 a = s.uiX > left ? u64(s.uiX) - left : 0;
    if (a >= mapWidth) return false;
    u64 b = u64(s.uiX) + s.uiLength - left;
    if (b > mapWidth) b = mapWidth;
    *from = row * mapWidth + a;
    *to = row * mapWidth + b;
    return true;
}

bool TestRange(const SKzSegment& s, u64 row, u32 left, u8* map, u32 mapWidth, bool mark)
{
    u64 from = 0, to = 0;
    if (!MapRange(s, row, left, mapWidth, &from, &to)) return false;
    const u8* hit = static_cast<const u8*>(std::memchr(map + from, 0, size_t(to - from)));
    if (!hit) return false;
    if (mark) std::memset(map + from, 1, size_t(to - from));
    return true;
}

void Push(SKzRowSegment* stack, unsigned* n, u32 y, const SKzSegment& seg)
{
    SKzRowSegment* slot = StackAt(stack, *n);
    const SKzRowSegment head{y, 1};
    std::memcpy(slot, &head, sizeof head);
    std::memcpy(slot + 1, &seg, sizeof seg);
    ++*n;
}

// Pushes and marks the runs of `row` (box row r) that overlap `run` and still have
// unreached pixels.
void PushOverlapping(const SKzRowSegment* row, u64 r, const SKzSegment& run, SKzRowSegment* stack, unsigned* n,
                     u32 left, u8* map, u32 mapWidth)
{
    const SKzSegment* runs = RunsOf(row);
    for (u32 k = 0; k < row->uiRunCount; ++k) {
        SKzSegment a = run, b = runs[k];
        if (!AreSegmentsVerticallyConnected(&a, &b)) continue;
        if (TestRange(b, r, left, map, mapWidth, true)) Push(stack, n, row->uiY, b);
    }
}

SKzRLEObject* Complement(const SKzRLEObject* obj, bool asIfEmpty, bool tidyChecked = false)
{
    if (!asIfEmpty && !tidyChecked && !kzrle::IsTidy(obj)) {
        SKzRLEObject* tidy = kzrle::TidyCopy(obj);
        if (!tidy) return nullptr;
        SKzRLEObject* out = Complement(tidy, false, true);
        CKzAlloc::Free(tidy);
        return out;
    }
    i64 w = 0, h = 0;
    if (!BoxOf(obj, &w, &h))
        return MakeRecord({}, obj->uiId, obj->uiState, obj->iLeft, obj->iTop, obj->iRight, obj->iBottom);
    std::vector<BoxRow> rows;
    if (!asIfEmpty && !BoxRows(obj, h, rows)) return nullptr;
    const i64 left = obj->iLeft, right = obj->iRight;
    // Size first (rows without a record are one whole run each), so that a box too
    // large for a record is refused before anything is written.
    u64 outRows = u64(h) - rows.size(), outRuns = outRows;
    for (const BoxRow& br : rows) {
        u64 k = 0;
        RowComplement(RunsOf(br.row), br.row->uiRunCount, left, right, [&](i64, i64) { ++k; });
        outRuns += k;
        outRows += k ? 1 : 0;
    }
    const u64 size = kHeader + 8 * outRows + 8 * outRuns;
    if (size > 0xFFFFFFFFull) return nullptr;
    u8* rec = static_cast<u8*>(CKzAlloc::Alloc(1, size_t(size)));
    if (!rec) return nullptr;
    u64 at = kHeader, lastRow = kHeader;
    size_t next = 0;
    auto writeRow = [&](u32 y, const SKzSegment* runs, u32 count) {
        const u64 head = at;
        u32 k = 0;
        at += sizeof(SKzRowSegment);
        RowComplement(runs, count, left, right, [&](i64 a, i64 b) {
            const SKzSegment seg{u32(a), u32(b - a + 1)};
            std::memcpy(rec + at, &seg, sizeof seg);
            at += sizeof seg;
            ++k;
        });
        if (!k) {
            at = head;
            return;
        }
        const SKzRowSegment row{y, k};
        std::memcpy(rec + head, &row, sizeof row);
        lastRow = head;
    };
    for (u64 r = 0; r < u64(h); ++r) {
        const u32 y = u32(i64(obj->iTop) + i64(r));
        if (next < rows.size() && rows[next].r == r) {
            writeRow(y, RunsOf(rows[next].row), rows[next].row->uiRunCount);
            ++next;
        } else {
            writeRow(y, nullptr, 0);
        }
    }
    const SKzRLEObject hdr{obj->uiId,  obj->iLeft,  obj->iTop,    obj->iRight, obj->iBottom,
                           u32(size), u32(outRows), u32(lastRow), obj->uiState};
    std::memcpy(rec, &hdr, sizeof hdr);
    return reinterpret_cast<SKzRLEObject*>(rec);
}

// Union-find over piece labels keeping the smaller root.
u32 Find(std::vector<u32>& parent, u32 a)
{
    while (parent[a] != a) {
        parent[a] = parent[parent[a]];
        a = parent[a];
    }
    return a;
}

void Join(std::vector<u32>& parent, u32 a, u32 b)
{
    a = Find(parent, a);
    b = Find(parent, b);
    if (a < b)
        parent[b] = a;
    else if (b < a)
        parent[a] = b;
}

} // namespace

bool kzrle::IsTidy(const SKzRLEObject* obj)
{
    bool tidy = true;
    i64 prevY = -1;
    kzrle::ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment* runs) {
        if (i64(row->uiY) <= prevY || row->uiRunCount == 0) {
            tidy = false;
            return false;
        }
        prevY = row->uiY;
        i64 next = 0; // the first column the next run may start at
        for (u32 k = 0; k < row->uiRunCount; ++k) {
            if (runs[k].uiLength == 0 || (k && i64(runs[k].uiX) <= next)) {
                tidy = false;
                return false;
            }
            next = i64(runs[k].uiX) + runs[k].uiLength;
        }
        return true;
    });
    return tidy;
}

SKzRLEObject* kzrle::TidyCopy(const SKzRLEObject* obj)
{
    std::vector<Span> runs;
    try {
        kzrle::ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment* seg) {
            for (u32 k = 0; k < row->uiRunCount; ++k)
                if (seg[k].uiLength) runs.push_back({row->uiY, seg[k].uiX, seg[k].uiLength});
            return true;
        });
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    std::sort(runs.begin(), runs.end(), [](const Span& a, const Span& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    // Runs of a row that overlap or touch become one; a run may reach past 2^32
    // columns only in a damaged record, and is cut there.
    size_t kept = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        const u64 end = std::min<u64>(u64(runs[i].x) + runs[i].len, 0xFFFFFFFFull);
        if (kept && runs[kept - 1].y == runs[i].y && u64(runs[i].x) <= u64(runs[kept - 1].x) + runs[kept - 1].len) {
            Span& k = runs[kept - 1];
            k.len = u32(std::max<u64>(u64(k.x) + k.len, end) - k.x);
        } else if (end > runs[i].x) {
            runs[kept++] = {runs[i].y, runs[i].x, u32(end - runs[i].x)};
        }
    }
    runs.resize(kept);
    return MakeRecord(runs, obj->uiId, obj->uiState, obj->iLeft, obj->iTop, obj->iRight, obj->iBottom);
}

bool IdenticalSegments(SKzSegment a, SKzSegment b) { return a.uiX == b.uiX && a.uiLength == b.uiLength; }

bool NotIdenticalSegments(SKzSegment a, SKzSegment b) { return !IdenticalSegments(a, b); }

bool CompareSegments(SKzSegment a, SKzSegment b) { return a.uiX != b.uiX ? a.uiX < b.uiX : a.uiLength < b.uiLength; }

bool AreSegmentsVerticallyConnected(SKzSegment* a, SKzSegment* b)
{
    if (!a || !b) return false;
    return u64(b->uiX) < u64(a->uiX) + a->uiLength && u64(a->uiX) < u64(b->uiX) + b->uiLength;
}

bool TestSegment(SKzSegment* run, unsigned row, unsigned left, unsigned char* map, unsigned mapWidth, bool mark)
{
    if (!run || !map) return false;
    return TestRange(*run, row, left, map, mapWidth, mark);
}

bool TestSegmentNeighbour(SKzSegment* a, SKzSegment* b, unsigned row, unsigned left, unsigned char* map,
                          unsigned mapWidth)
{
    return AreSegmentsVerticallyConnected(a, b) && TestSegment(b, row, left, map, mapWidth, true);
}

unsigned GetBoundarySegment(SKzRLEObject* comp, SKzRowSegment* stack, unsigned* n, unsigned char* map,
                            unsigned mapWidth)
{
    if (!comp || !stack || !n || !map) return 0;
    const unsigned before = *n;
    const i64 left = comp->iLeft, right = comp->iRight;
    // The map covers the box: rows outside it are not looked at.
    const i64 boxH = i64(comp->iBottom) - comp->iTop + 1;
    auto push = [&](const SKzRowSegment* row, const SKzSegment& seg) {
        const i64 r = i64(row->uiY) - comp->iTop;
        if (r < 0 || r >= boxH) return;
        if (TestRange(seg, u64(r), u32(comp->iLeft), map, mapWidth, true)) Push(stack, n, row->uiY, seg);
    };
    const SKzRowSegment* first = nullptr;
    const SKzRowSegment* last = nullptr;
    kzrle::ForEachRow(comp, [&](const SKzRowSegment* row, const SKzSegment*) {
        if (!first) first = row;
        last = row;
        return true;
    });
    if (first && i64(first->uiY) == comp->iTop)
        for (u32 k = 0; k < first->uiRunCount; ++k) push(first, RunsOf(first)[k]);
    if (last && i64(last->uiY) == comp->iBottom)
        for (u32 k = 0; k < last->uiRunCount; ++k) push(last, RunsOf(last)[k]);
    kzrle::ForEachRow(comp, [&](const SKzRowSegment* row, const SKzSegment* runs) {
        if (row->uiRunCount == 0) return true;
        if (i64(runs[0].uiX) == left) push(row, runs[0]);
        const SKzSegment& end = runs[row->uiRunCount - 1];
        if (i64(end.uiX) + end.uiLength - 1 == right) push(row, end);
        return true;
    });
    return *n - before;
}

void FindUnseenSegmentNeighbours(const SKzRowSegment* run, SKzRowSegment* stack, unsigned* n, SKzRLEObject* comp,
                                 unsigned char* map, unsigned mapWidth)
{
    if (!run || !stack || !n || !comp || !map) return;
    const SKzSegment seg = RunsOf(run)[0];
    const i64 y = run->uiY;
    const i64 boxH = i64(comp->iBottom) - comp->iTop + 1;
    kzrle::ForEachRow(comp, [&](const SKzRowSegment* row, const SKzSegment*) {
        const i64 ry = row->uiY;
        const i64 r = ry - comp->iTop;
        if ((ry == y - 1 || ry == y + 1) && r >= 0 && r < boxH)
            PushOverlapping(row, u64(r), seg, stack, n, u32(comp->iLeft), map, mapWidth);
        return true;
    });
}

SKzRLEObject* MakeObjectFromSegments(SKzRLEObject* comp, unsigned char* map, unsigned mapWidth)
{
    if (!comp || !map) return nullptr;
    std::vector<Span> kept;
    const i64 boxH = i64(comp->iBottom) - comp->iTop + 1;
    try {
        kzrle::ForEachRow(comp, [&](const SKzRowSegment* row, const SKzSegment* runs) {
            const i64 r = i64(row->uiY) - comp->iTop;
            if (r < 0 || r >= boxH) return true;
            for (u32 k = 0; k < row->uiRunCount; ++k) {
                u64 from = 0, to = 0;
                if (!MapRange(runs[k], u64(r), u32(comp->iLeft), mapWidth, &from, &to)) continue;
                if (!std::memchr(map + from, 0, size_t(to - from)))
                    kept.push_back({row->uiY, runs[k].uiX, runs[k].uiLength});
            }
            return true;
        });
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return MakeRecord(kept, comp->uiId, comp->uiState, comp->iLeft, comp->iTop, comp->iRight, comp->iBottom);
}

SKzRLEObject* ObjectComplement(SKzRLEObject* obj)
{
    if (!obj) return nullptr;
    return Complement(obj, false);
}

SKzRLEObject* RLEFillHolesOnObject(SKzRLEObject* obj)
{
    if (!obj) return nullptr;
    i64 w = 0, h = 0;
    if (!BoxOf(obj, &w, &h)) return Complement(obj, true);
    if (w > 0xFFFFFFFFll || u64(w) * u64(h) > u64(SIZE_MAX)) return nullptr;
    SKzRLEObject* comp = Complement(obj, false);
    if (!comp) return nullptr;
    const u32 mapWidth = u32(w);
    const u64 runCount = GetSegmentCount(comp);
    u8* map = static_cast<u8*>(CKzAlloc::Alloc(1, size_t(u64(w) * u64(h))));
    auto* stack = static_cast<SKzRowSegment*>(CKzAlloc::Alloc(0, size_t((runCount ? runCount : 1) * kStackEntry)));
    std::vector<BoxRow> rows;
    SKzRLEObject* result = nullptr;
    if (map && stack && BoxRows(comp, h, rows)) {
        unsigned n = 0;
        if (GetBoundarySegment(comp, stack, &n, map, mapWidth) == 0) {
            // The background never reaches the border: all of it is holes.
            result = Complement(obj, true);
        } else {
            // Box row -> index in rows, for the neighbours above and below.
            std::vector<u32> index;
            try {
                index.assign(size_t(h), 0xFFFFFFFFu);
                for (size_t i = 0; i < rows.size(); ++i) index[size_t(rows[i].r)] = u32(i);
            } catch (const std::bad_alloc&) {
                index.clear();
            }
            if (!index.empty()) {
                while (n) {
                    SKzRowSegment* top = StackAt(stack, --n);
                    const SKzSegment seg = RunsOf(top)[0];
                    const u64 r = u64(i64(top->uiY) - comp->iTop);
                    if (r > 0 && index[size_t(r - 1)] != 0xFFFFFFFFu)
                        PushOverlapping(rows[index[size_t(r - 1)]].row, r - 1, seg, stack, &n, u32(comp->iLeft), map,
                                        mapWidth);
                    if (r + 1 < u64(h) && index[size_t(r + 1)] != 0xFFFFFFFFu)
                        PushOverlapping(rows[index[size_t(r + 1)]].row, r + 1, seg, stack, &n, u32(comp->iLeft), map,
                                        mapWidth);
                }
                SKzRLEObject* outside = MakeObjectFromSegments(comp, map, mapWidth);
                if (outside) {
                    result = Complement(outside, false);
                    CKzAlloc::Free(outside);
                }
            }
        }
    }
    CKzAlloc::Free(map);
    CKzAlloc::Free(stack);
    CKzAlloc::Free(comp);
    return result;
}

unsigned GetSegmentCount(SKzRLEObject* obj)
{
    if (!obj) return 0;
    u64 count = 0;
    kzrle::ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment*) {
        count += row->uiRunCount;
        return true;
    });
    return unsigned(count);
}

void CKzRLEPicBufAPI::Projections(SKzRLEObject* obj, unsigned* counts, unsigned width)
{
    if (!counts) return;
    counts[0] = counts[1] = counts[2] = counts[3] = 0;
    if (!obj) return;
    // The counts follow the rows in order and the runs from left to right: an
    // object stored otherwise is measured as its pixels in that form.
    if (!kzrle::IsTidy(obj)) {
        SKzRLEObject* tidy = kzrle::TidyCopy(obj);
        if (!tidy) return;
        if (kzrle::IsTidy(tidy)) Projections(tidy, counts, width);
        CKzAlloc::Free(tidy);
        return;
    }
    // Each row against the previous row record, run against run: the pixels of a
    // run whose neighbour (x + d) in the row above is not set.
    const SKzSegment* prev = nullptr;
    u32 prevCount = 0;
    bool first = true;
    u64 c[4] = {0, 0, 0, 0};
    auto clipEnd = [&](const SKzSegment& s) -> i64 {
        const i64 e = i64(s.uiX) + s.uiLength; // one past
        return e > i64(width) ? i64(width) : e;
    };
    kzrle::ForEachRow(obj, [&](const SKzRowSegment* row, const SKzSegment* runs) {
        u32 cursor[3] = {0, 0, 0};
        for (u32 k = 0; k < row->uiRunCount; ++k) {
            const i64 a = runs[k].uiX, e = clipEnd(runs[k]);
            if (e <= a) continue; // at or past the width, or empty
            ++c[0];
            const u64 len = u64(e - a);
            if (first) {
                c[1] += len;
                c[2] += len;
                c[3] += len;
                continue;
            }
            // Runs of both rows ascend: each shift keeps its own cursor into the row above.
            for (int d = 0; d < 3; ++d) {
                const i64 shift = 1 - d;
                const i64 s = a + shift, t = e + shift; // [s, t)
                u32& j = cursor[d];
                while (j < prevCount && clipEnd(prev[j]) <= s) ++j;
                u64 covered = 0;
                for (u32 q = j; q < prevCount && i64(prev[q].uiX) < t; ++q) {
                    const i64 lo = std::max<i64>(s, prev[q].uiX), hi = std::min<i64>(t, clipEnd(prev[q]));
                    if (hi > lo) covered += u64(hi - lo);
                }
                c[1 + d] += covered < len ? len - covered : 0;
            }
        }
        prev = runs;
        prevCount = row->uiRunCount;
        first = false;
        return true;
    });
    for (int i = 0; i < 4; ++i) counts[i] = unsigned(c[i]);
}

void CKzRLEPicBufAPI::OuterProjections(SKzRLEObject* obj, unsigned* counts, unsigned width)
{
    if (!counts) return;
    SKzRLEObject* filled = RLEFillHolesOnObject(obj);
    if (!filled) {
        counts[0] = counts[1] = counts[2] = counts[3] = 0;
        return;
    }
    Projections(filled, counts, width);
    CKzAlloc::Free(filled);
}

void CKzRLEPicBufAPI::CropRectangle(SKzRLEPicBuf*, SKzRLEPicBuf*, int, int, unsigned, unsigned) {}

kz_result CKzRLEPicBufAPI::CutRectangle(SKzRLEPicBuf* dst, SKzRLEPicBuf* src, unsigned x, unsigned y, unsigned w,
                                        unsigned h)
{
    if (!dst || !src || !dst->bPainted || !src->bPainted) return KZ_ERR_FAILED;
    const u64 x0 = x, x1 = u64(x) + w, y0 = y, y1 = u64(y) + h; // half-open
    u32 nextId = 0;
    kzrle::ForEachObject(src, [&](SKzRLEObject* o, u32) {
        if (o->uiId > nextId) nextId = o->uiId;
        return true;
    });
    ++nextId;
    const u32 custom = dst->uiCustomDataBytes, srcCustom = src->uiCustomDataBytes;
    const u32 keep = custom < srcCustom ? custom : srcCustom;

    struct Run {
        u32 y, x, len, label;
    };
    std::vector<u8> block;
    u32 objects = 0;
    u64 lastOffset = 0;
    kz_result rc = KZ_OK;
    try {
        std::vector<Run> runs;
        std::vector<u32> parent, idOf;
        kzrle::ForEachObject(src, [&](SKzRLEObject* o, u32) {
            runs.clear();
            kzrle::ForEachRow(o, [&](const SKzRowSegment* row, const SKzSegment* seg) {
                if (row->uiY < y0 || row->uiY >= y1) return true;
                for (u32 k = 0; k < row->uiRunCount; ++k) {
                    const u64 a = std::max<u64>(seg[k].uiX, x0);
                    const u64 e = std::min<u64>(u64(seg[k].uiX) + seg[k].uiLength, x1);
                    if (e > a) runs.push_back({row->uiY, u32(a), u32(e - a), 0});
                }
                return true;
            });
            if (runs.empty()) return true;
            kzrle::SortAndJoinRuns(runs);
            // 8-connected pieces, run against the runs of the row above.
            parent.resize(runs.size());
            for (u32 i = 0; i < runs.size(); ++i) parent[i] = i;
            size_t prevBegin = 0, prevEnd = 0;
            for (size_t begin = 0; begin < runs.size();) {
                size_t end = begin;
                while (end < runs.size() && runs[end].y == runs[begin].y) ++end;
                const bool adjacent = prevEnd > prevBegin && runs[begin].y == runs[prevBegin].y + 1;
                if (adjacent) {
                    size_t j = prevBegin;
                    for (size_t i = begin; i < end; ++i) {
                        const u64 ua = runs[i].x, ue = u64(runs[i].x) + runs[i].len; // one past
                        while (j < prevEnd && u64(runs[j].x) + runs[j].len < ua) ++j;
                        for (size_t k = j; k < prevEnd && runs[k].x <= ue; ++k) Join(parent, u32(i), u32(k));
                    }
                }
                prevBegin = begin;
                prevEnd = end;
                begin = end;
            }
            // Ids: the piece met first keeps the object's, the others take new ones
            // in the order of their first runs.
            idOf.assign(runs.size(), 0);
            std::vector<u32> order; // id of each piece, pieces in order of their first run
            std::vector<u32> pieceOf(runs.size());
            for (u32 i = 0; i < runs.size(); ++i) {
                const u32 root = Find(parent, i);
                if (!idOf[root]) {
                    order.push_back(order.empty() ? o->uiId : nextId++);
                    idOf[root] = u32(order.size());
                }
                pieceOf[i] = idOf[root] - 1;
                runs[i].label = order[pieceOf[i]];
            }
            // Runs grouped by piece, each keeping its (y, x) order: a counting sort.
            std::vector<u32> start(order.size() + 1, 0), idx(runs.size());
            for (u32 i = 0; i < runs.size(); ++i) ++start[pieceOf[i] + 1];
            for (size_t q = 1; q < start.size(); ++q) start[q] += start[q - 1];
            for (u32 i = 0; i < runs.size(); ++i) idx[start[pieceOf[i]]++] = i;
            const u8* srcCustomBytes = reinterpret_cast<const u8*>(o) + o->uiSize - srcCustom;
            for (size_t i = 0; i < idx.size();) {
                size_t j = i;
                while (j < idx.size() && pieceOf[idx[j]] == pieceOf[idx[i]]) ++j;
                u32 rows = 0;
                i64 l = runs[idx[i]].x, r = i64(runs[idx[i]].x) + runs[idx[i]].len - 1;
                for (size_t k = i; k < j; ++k) {
                    const Run& q = runs[idx[k]];
                    if (k == i || q.y != runs[idx[k - 1]].y) ++rows;
                    l = std::min<i64>(l, q.x);
                    r = std::max<i64>(r, i64(q.x) + q.len - 1);
                }
                const u64 size = kHeader + 8ull * rows + 8ull * (j - i) + custom;
                const u64 at = block.size();
                if (at + size > 0xFFFFFFFFull) {
                    rc = KZ_ERR_OUT_OF_MEMORY;
                    return false;
                }
                block.resize(size_t(at + size), 0);
                u8* rec = block.data() + at;
                u64 p = kHeader, lastRow = kHeader;
                for (size_t k = i; k < j;) {
                    size_t m = k;
                    while (m < j && runs[idx[m]].y == runs[idx[k]].y) ++m;
                    lastRow = p;
                    const SKzRowSegment row{runs[idx[k]].y, u32(m - k)};
                    std::memcpy(rec + p, &row, sizeof row);
                    p += sizeof row;
                    for (; k < m; ++k) {
                        const SKzSegment seg{runs[idx[k]].x, runs[idx[k]].len};
                        std::memcpy(rec + p, &seg, sizeof seg);
                        p += sizeof seg;
                    }
                }
                if (keep) std::memcpy(rec + p, srcCustomBytes, keep);
                const SKzRLEObject hdr{runs[idx[i]].label, i32(l),      i32(runs[idx[i]].y), i32(r),
                                       i32(runs[idx[j - 1]].y), u32(size), rows, u32(lastRow), o->uiState};
                std::memcpy(rec, &hdr, sizeof hdr);
                lastOffset = at;
                ++objects;
                i = j;
            }
            return true;
        });
    } catch (const std::bad_alloc&) {
        return KZ_ERR_OUT_OF_MEMORY;
    } catch (const std::length_error&) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    if (rc != KZ_OK) return rc;
    u8* copy = nullptr;
    if (!block.empty()) {
        copy = static_cast<u8*>(CKzAlloc::Alloc(0, block.size()));
        if (!copy) return KZ_ERR_OUT_OF_MEMORY;
        std::memcpy(copy, block.data(), block.size());
    }
    CKzAlloc::Free(dst->pObjects);
    dst->pObjects = reinterpret_cast<SKzRLEObject*>(copy);
    dst->uiObjectCount = objects;
    dst->uiDataBytes = u32(block.size());
    dst->uiLastObjectOffset = objects > 1 ? u32(lastOffset) : 0;
    return KZ_OK;
}
