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
#include <cstdint>
#include <cstring>
#include <emmintrin.h>
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

// The picture path labels in passes over flat arrays sized once: a bit plane of
// the foreground (one bit a pixel) with the run count of every row, then the runs
// with their labels, then the objects. Nothing grows while the pixels are read.
struct FlatRun {
    u32 x, len, label;
};

template <class T>
struct OwnedArray {
    T* p = nullptr;
    ~OwnedArray() { delete[] p; }
    bool Allocate(u64 n)
    {
        if (n > u64(SIZE_MAX) / sizeof(T)) return false;
        p = new (std::nothrow) T[size_t(n ? n : 1)];
        return p != nullptr;
    }
};

// Foreground bits of one row, 64 pixels a word, pixel x at bit x % 64 of word
// x / 64; bits past the width are 0.
template <class T, class Fg>
void RowBits(const T* row, u32 w, Fg fg, u64* out)
{
    const u32 words = (w + 63) / 64;
    for (u32 i = 0; i < words; ++i) {
        const u32 x0 = i * 64, n = w - x0 < 64 ? w - x0 : 64;
        u64 m = 0;
        for (u32 b = 0; b < n; ++b) m |= u64(fg(row[x0 + b]) ? 1 : 0) << b;
        out[i] = m;
    }
}

// Bytes compared sixteen at a time: non-zero bytes, or bytes equal to `value`.
void RowBits8(const u8* row, u32 w, bool byValue, u8 value, u64* out)
{
    const u32 full = w / 64;
    const __m128i zero = _mm_setzero_si128(), want = _mm_set1_epi8(char(value));
    for (u32 i = 0; i < full; ++i) {
        const u8* p = row + u64(i) * 64;
        u64 m = 0;
        for (int q = 0; q < 4; ++q) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * q));
            const u32 eq = u32(_mm_movemask_epi8(_mm_cmpeq_epi8(v, byValue ? want : zero)));
            m |= u64(byValue ? eq : (~eq & 0xFFFFu)) << (16 * q);
        }
        out[i] = m;
    }
    if (w % 64) {
        if (byValue)
            RowBits<u8>(row + u64(full) * 64, w % 64, [value](u8 s) { return s == value; }, out + full);
        else
            RowBits<u8>(row + u64(full) * 64, w % 64, [](u8 s) { return s != 0; }, out + full);
    }
}

// Runs of a row of bits: a run starts where a bit differs from the one before it
// (0 before the row) and ends where the next difference follows.
u64 CountRuns(const u64* bits, u32 words)
{
    u64 n = 0, carry = 0;
    for (u32 i = 0; i < words; ++i) {
        const u64 m = bits[i];
        n += u64(__builtin_popcountll(m & ~((m << 1) | carry)));
        carry = m >> 63;
    }
    return n;
}

// Writes the runs of a row of bits and returns how many. Every change of state is
// stored as a position without a branch on it; pairs of positions are the runs.
u32 ExtractRuns(const u64* bits, u32 words, u32 w, FlatRun* out, u32* edges)
{
    u32 n = 0;
    u64 carry = 0;
    for (u32 i = 0; i < words; ++i) {
        const u64 m = bits[i];
        u64 t = m ^ ((m << 1) | carry);
        carry = m >> 63;
        const u32 base = i * 64;
        while (t) {
            edges[n++] = base + u32(__builtin_ctzll(t));
            t &= t - 1;
        }
    }
    if (n & 1) edges[n++] = w; // a run reaching the last column
    const u32 runs = n / 2;
    for (u32 k = 0; k < runs; ++k) out[k] = {edges[2 * k], edges[2 * k + 1] - edges[2 * k], 0};
    return runs;
}

kz_result BuildFlat(SKzRLEPicBuf* rle, FlatRun* runs, const u64* rowStart, u32* parent, u32 labels, u32 w, u32 h);

template <class T, class Fg>
kz_result Label(SKzRLEPicBuf* rle, const SKzPicBuf* pic, u32 w, u32 h, bool conn8, Fg fg, bool byValue, u32 value)
{
    const u32 words = (w + 63) / 64;
    OwnedArray<u64> bits, rowStart;
    if (!bits.Allocate(u64(words) * h) || !rowStart.Allocate(u64(h) + 1)) return KZ_ERR_OUT_OF_MEMORY;
    u64 total = 0;
    for (u32 y = 0; y < h; ++y) {
        const T* row = reinterpret_cast<const T*>(pic->pData + u64(y) * pic->uiWidthBytes);
        u64* rb = bits.p + u64(y) * words;
        if constexpr (sizeof(T) == 1) {
            if (byValue && value > 255)
                std::memset(rb, 0, size_t(words) * 8);
            else
                RowBits8(row, w, byValue, u8(value), rb);
        } else {
            RowBits<T>(row, w, fg, rb);
        }
        rowStart.p[y] = total;
        total += CountRuns(rb, words);
    }
    rowStart.p[h] = total;
    // Every run may need a label of its own, and labels are 32-bit.
    if (total > 0xFFFFFFFEull) return KZ_ERR_OUT_OF_MEMORY;
    OwnedArray<FlatRun> runs;
    OwnedArray<u32> parent, edges;
    if (!runs.Allocate(total) || !parent.Allocate(total + 1) || !edges.Allocate(u64(w) + 2))
        return KZ_ERR_OUT_OF_MEMORY;
    parent.p[0] = 0;
    u32 labels = 0;
    auto find = [&](u32 a) {
        while (parent.p[a] != a) {
            parent.p[a] = parent.p[parent.p[a]];
            a = parent.p[a];
        }
        return a;
    };
    const i64 touch = conn8 ? 1 : 0;
    for (u32 y = 0; y < h; ++y) {
        FlatRun* cur = runs.p + rowStart.p[y];
        const u32 n = ExtractRuns(bits.p + u64(y) * words, words, w, cur, edges.p);
        const FlatRun* prev = y ? runs.p + rowStart.p[y - 1] : nullptr;
        const u32 pn = y ? u32(rowStart.p[y] - rowStart.p[y - 1]) : 0;
        // Both rows ascend in x: one merge pass finds every run above that touches.
        u32 k = 0;
        for (u32 i = 0; i < n; ++i) {
            FlatRun& u = cur[i];
            const i64 ux0 = u.x, ux1 = i64(u.x) + u.len - 1;
            while (k < pn && i64(prev[k].x) + prev[k].len - 1 + touch < ux0) ++k;
            // The run takes the first label it meets; every further one is joined to
            // its set, whose root is kept at hand (labels met in a row repeat).
            u32 label = 0, root = 0, last = 0;
            for (u32 j = k; j < pn && i64(prev[j].x) <= ux1 + touch; ++j) {
                const u32 other = prev[j].label;
                if (label == 0) {
                    label = last = other;
                } else if (other != last) {
                    last = other;
                    if (root == 0) root = find(label);
                    const u32 b = find(other);
                    if (root < b) {
                        parent.p[b] = root;
                    } else if (b < root) {
                        parent.p[root] = b;
                        root = b;
                    }
                }
            }
            if (label == 0) {
                label = ++labels;
                parent.p[label] = label;
            }
            u.label = label;
        }
    }
    return BuildFlat(rle, runs.p, rowStart.p, parent.p, labels, w, h);
}

// Objects from labelled runs in raster order; replaces the picture's contents, which
// stay as they were when memory runs out.
// Bytes of an object record with `rows` rows and `runs` runs.
u64 RecordBytes(u64 custom, u32 rows, u32 runs) { return 36 + custom + 8 * u64(rows) + 8 * u64(runs); }

// Places the records of the n objects one after another (their offset) and
// gives the bytes of the whole block; false when it passes what the picture's
// 32-bit byte count can hold.
template <class O>
bool PlaceRecords(O* objs, size_t n, u64 custom, u64& total)
{
    total = 0;
    for (size_t i = 0; i < n; ++i) {
        O& o = objs[i];
        o.offset = total;
        total += RecordBytes(custom, o.rows, o.runs);
        if (total > 0xFFFFFFFFull) return false;
    }
    return true;
}

// Makes a finished object block (`total` bytes, the last object at
// `lastOffset`) the painted contents of the picture. The block is complete
// before this is called: only now is the old content released.
void AdoptObjects(SKzRLEPicBuf* rle, u8* block, u32 objects, u64 total, u64 lastOffset, u32 w, u32 h)
{
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
    rle->uiObjectCount = objects;
    rle->uiDataBytes = u32(total);
    rle->uiLastObjectOffset = u32(lastOffset);
}

kz_result BuildFlat(SKzRLEPicBuf* rle, FlatRun* runs, const u64* rowStart, u32* parent, u32 labels, u32 w, u32 h)
{
    // A component's root is its smallest label, which its first run (in raster
    // order) took, so numbering the roots in label order numbers the objects in
    // the raster order of their first pixels. In one ascending pass each label's
    // entry becomes its object's id: a parent is smaller, so its entry already is.
    u32 objects = 0;
    for (u32 l = 1; l <= labels; ++l) {
        const u32 p = parent[l];
        parent[l] = p == l ? ++objects : parent[p];
    }
    struct ObjInfo {
        i32 l, t, r, b;
        u32 rows, runs, lastY, rowRuns;
        u64 offset, lastRow, cursor;
    };
    OwnedArray<ObjInfo> objs;
    if (!objs.Allocate(objects)) return KZ_ERR_OUT_OF_MEMORY;
    for (u32 i = 0; i < objects; ++i) objs.p[i] = {0, 0, 0, 0, 0, 0, 0xFFFFFFFFu, 0, 0, 0, 0};
    for (u32 y = 0; y < h; ++y) {
        for (u64 i = rowStart[y]; i < rowStart[y + 1]; ++i) {
            FlatRun& run = runs[i];
            run.label = parent[run.label];
            ObjInfo& o = objs.p[run.label - 1];
            const i32 x0 = i32(run.x), x1 = i32(run.x + run.len - 1);
            if (o.runs == 0) {
                o.l = x0;
                o.t = i32(y);
                o.r = x1;
            }
            if (o.lastY != y) {
                ++o.rows;
                o.lastY = y;
            }
            ++o.runs;
            if (x0 < o.l) o.l = x0;
            if (x1 > o.r) o.r = x1;
            o.b = i32(y);
        }
    }
    const u64 custom = rle->uiCustomDataBytes;
    u64 total = 0;
    if (!PlaceRecords(objs.p, objects, custom, total)) return KZ_ERR_OUT_OF_MEMORY;
    u8* block = nullptr;
    if (total) {
        block = static_cast<u8*>(CKzAlloc::Alloc(0, size_t(total)));
        if (!block) return KZ_ERR_OUT_OF_MEMORY;
    }
    for (u32 i = 0; i < objects; ++i) {
        ObjInfo& o = objs.p[i];
        const u64 size = RecordBytes(custom, o.rows, o.runs);
        const SKzRLEObject hdr{i + 1, o.l, o.t, o.r, o.b, u32(size), o.rows, 36, 0};
        std::memcpy(block + o.offset, &hdr, sizeof hdr);
        if (custom) std::memset(block + o.offset + size - custom, 0, size_t(custom));
        o.cursor = o.offset + 36;
        o.lastY = 0xFFFFFFFFu;
    }
    for (u32 y = 0; y < h; ++y) {
        for (u64 i = rowStart[y]; i < rowStart[y + 1]; ++i) {
            const FlatRun& run = runs[i];
            ObjInfo& o = objs.p[run.label - 1];
            if (o.lastY != y) {
                // A new row record; the run count of the one before is now known.
                if (o.lastY != 0xFFFFFFFFu) std::memcpy(block + o.lastRow + 4, &o.rowRuns, 4);
                o.lastRow = o.cursor;
                std::memcpy(block + o.cursor, &y, 4);
                o.cursor += 8;
                o.lastY = y;
                o.rowRuns = 0;
            }
            ++o.rowRuns;
            const SKzSegment seg{run.x, run.len};
            std::memcpy(block + o.cursor, &seg, sizeof seg);
            o.cursor += 8;
        }
    }
    for (u32 i = 0; i < objects; ++i) {
        const ObjInfo& o = objs.p[i];
        std::memcpy(block + o.lastRow + 4, &o.rowRuns, 4);
        const u32 lastRow = u32(o.lastRow - o.offset);
        std::memcpy(block + o.offset + offsetof(SKzRLEObject, uiLastRowOffset), &lastRow, 4);
    }
    AdoptObjects(rle, block, objects, total, objects > 1 ? objs.p[objects - 1].offset : 0, w, h);
    return KZ_OK;
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
    if (!PlaceRecords(objs.data(), objs.size(), custom, total)) return KZ_ERR_OUT_OF_MEMORY;
    u8* block = nullptr;
    if (total) {
        block = static_cast<u8*>(CKzAlloc::Alloc(1, size_t(total)));
        if (!block) return KZ_ERR_OUT_OF_MEMORY;
    }
    for (size_t i = 0; i < objs.size(); ++i) {
        ObjInfo& o = objs[i];
        SKzRLEObject hdr{u32(i + 1), o.l, o.t, o.r, o.b,
                         u32(RecordBytes(custom, o.rows, o.runs)), o.rows, 36, 0};
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
    AdoptObjects(rle, block, u32(objs.size()), total, objs.size() > 1 ? objs.back().offset : 0, w, h);
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
    if (sample == 1) return Label<u8>(rle, pic, w, h, conn8, [](u8) { return false; }, byValue, value);
    if (byValue) return Label<u16>(rle, pic, w, h, conn8, [value](u16 s) { return s == value; }, true, value);
    return Label<u16>(rle, pic, w, h, conn8, [](u16 s) { return s != 0; }, false, 0);
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
