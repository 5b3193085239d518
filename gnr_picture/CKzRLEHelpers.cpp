// One object from a whole 1-bit picture, and the helpers kept for hosts that
// build objects run by run.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_system/CKzAlloc.h"

#include <algorithm>
#include <cstring>
#include <tuple>
#include <utility>

namespace {

bool Bit(const SKzBinPicBuf* bin, u32 x, u32 y)
{
    return (bin->pData[u64(y) * bin->uiWidthBytes + x / 8] & (0x80u >> (x % 8))) != 0;
}

} // namespace

kz_result CKzRLEPicBufAPI::ConvertBinPicBufToRLEObject(SKzRLEObject** obj, SKzBinPicBuf* bin)
{
    if (!obj || !bin) return KZ_ERR_FAILED;
    const u32 w = bin->uiWidth, h = bin->uiHeight;
    if (w && h &&
        (!bin->pData || u64(bin->uiWidthBytes) * 8 < w ||
         u64(bin->uiWidthBytes) * (h - 1) + (u64(w) + 7) / 8 > bin->uiSize))
        return KZ_ERR_FAILED;
    i64 left = 2147483647, top = 2147483647, right = -2147483648LL, bottom = -2147483648LL;
    u64 rows = 0, runs = 0;
    for (u32 y = 0; y < h; ++y) {
        bool any = false;
        for (u32 x = 0; x < w;) {
            if (!Bit(bin, x, y)) {
                ++x;
                continue;
            }
            const u32 start = x;
            while (x < w && Bit(bin, x, y)) ++x;
            ++runs;
            any = true;
            left = std::min<i64>(left, start);
            right = std::max<i64>(right, x - 1);
        }
        if (any) {
            ++rows;
            top = std::min<i64>(top, y);
            bottom = y;
        }
    }
    const u64 size = 36 + 8 * rows + 8 * runs;
    if (size > 0xFFFFFFFFull) return KZ_ERR_OUT_OF_MEMORY;
    void* block = CKzAlloc::ReAlloc(*obj, size_t(size), 0);
    if (!block) return KZ_ERR_OUT_OF_MEMORY;
    *obj = static_cast<SKzRLEObject*>(block);
    u8* rec = static_cast<u8*>(block);
    std::memset(rec, 0, size_t(size));
    SKzRLEObject hdr{0, i32(left), i32(top), i32(right), i32(bottom), u32(size), u32(rows), 36, 0};
    u64 p = 36;
    for (u32 y = 0; y < h && rows; ++y) {
        const u64 rowAt = p;
        u32 n = 0;
        u64 q = p + 8;
        for (u32 x = 0; x < w;) {
            if (!Bit(bin, x, y)) {
                ++x;
                continue;
            }
            const u32 start = x;
            while (x < w && Bit(bin, x, y)) ++x;
            const SKzSegment seg{start, x - start};
            std::memcpy(rec + q, &seg, 8);
            q += 8;
            ++n;
        }
        if (!n) continue;
        const SKzRowSegment row{y, n};
        std::memcpy(rec + rowAt, &row, 8);
        hdr.uiLastRowOffset = u32(rowAt);
        p = q;
    }
    std::memcpy(rec, &hdr, sizeof hdr);
    return KZ_OK;
}

int find_RLE_FromPainted(SKzPicBuf* pic, unsigned y, unsigned x)
{
    if (!pic || !pic->pData || y >= pic->uiHeight || x >= pic->uiWidth || pic->uiBpc == 0 || pic->uiBpc > 16)
        return 0;
    const u32 sample = pic->uiBpc <= 8 ? 1 : 2;
    if (u64(pic->uiWidthBytes) * y + u64(pic->uiWidth) * sample > pic->uiSize) return 0;
    const u8* row = pic->pData + u64(y) * pic->uiWidthBytes;
    u32 end = x + 1;
    if (sample == 1) {
        while (end < pic->uiWidth && row[end] == row[x]) ++end;
    } else {
        const u16* r16 = reinterpret_cast<const u16*>(row);
        while (end < pic->uiWidth && r16[end] == r16[x]) ++end;
    }
    return int(end - x);
}

kz_result add_RLE_item_FromPainted(SKzRLEObject** objects, unsigned* capacities, unsigned label, unsigned y,
                                   unsigned x, unsigned length, unsigned customBytes)
{
    if (!objects || !capacities) return KZ_ERR_FAILED;
    SKzRLEObject*& obj = objects[label];
    unsigned& cap = capacities[label];
    auto grow = [&](u64 need) {
        if (need <= cap) return true;
        u64 next = u64(cap) + 4096;
        if (next < need) next = need;
        if (next > 0xFFFFFFFFull) return false;
        void* p = CKzAlloc::ReAlloc(obj, size_t(next), 0);
        if (!p) return false;
        std::memset(static_cast<u8*>(p) + cap, 0, size_t(next - cap));
        obj = static_cast<SKzRLEObject*>(p);
        cap = u32(next);
        return true;
    };
    if (!obj) {
        cap = 0;
        if (!grow(std::max<u64>(4096, u64(customBytes) + 52))) return KZ_ERR_OUT_OF_MEMORY;
        u8* rec = reinterpret_cast<u8*>(obj);
        SKzRLEObject hdr{label, 0, 0, 0, 0, customBytes + 52, 1, 36, 0};
        std::memcpy(rec, &hdr, sizeof hdr);
        const u32 row[4] = {y, 1, x, length};
        std::memcpy(rec + 36, row, 16);
        return KZ_OK;
    }
    const u32 size = obj->uiSize, lastRow = obj->uiLastRowOffset;
    if (size < u64(customBytes) + 36 || lastRow + u64(8) > size) return KZ_ERR_FAILED;
    u8* rec = reinterpret_cast<u8*>(obj);
    u32 lastY;
    std::memcpy(&lastY, rec + lastRow, 4);
    const u64 rowsEnd = u64(size) - customBytes;
    if (obj->uiRowCount && lastY == y) {
        if (!grow(u64(size) + 8)) return KZ_ERR_OUT_OF_MEMORY;
        rec = reinterpret_cast<u8*>(obj);
        const u32 seg[2] = {x, length};
        std::memcpy(rec + rowsEnd, seg, 8);
        u32 n;
        std::memcpy(&n, rec + lastRow + 4, 4);
        ++n;
        std::memcpy(rec + lastRow + 4, &n, 4);
        obj->uiSize = size + 8;
    } else {
        if (!grow(u64(size) + 16)) return KZ_ERR_OUT_OF_MEMORY;
        rec = reinterpret_cast<u8*>(obj);
        const u32 row[4] = {y, 1, x, length};
        std::memcpy(rec + rowsEnd, row, 16);
        obj->uiRowCount = obj->uiRowCount + 1;
        obj->uiLastRowOffset = u32(rowsEnd);
        obj->uiSize = size + 16;
    }
    // The custom bytes after the rows stay zero: they lie in never-written space.
    std::memset(rec + obj->uiSize - customBytes, 0, customBytes);
    return KZ_OK;
}

namespace {

SKzRLERun RunAt(const void* p)
{
    SKzRLERun r;
    std::memcpy(&r, p, sizeof r);
    return r;
}

template <class K>
int Order(const K& a, const K& b)
{
    return a < b ? -1 : 1;
}

} // namespace

int compfunc_Object_YX(const void* a, const void* b)
{
    const SKzRLERun x = RunAt(a), y = RunAt(b);
    return Order(std::tuple<u32, u32, u32>(x.uiLabel, x.uiY, x.uiX), std::tuple<u32, u32, u32>(y.uiLabel, y.uiY, y.uiX));
}

int compfunc_YX(const void* a, const void* b)
{
    const SKzRLERun x = RunAt(a), y = RunAt(b);
    return Order(std::pair<u32, u32>(x.uiY, x.uiX), std::pair<u32, u32>(y.uiY, y.uiX));
}

int compfunc_RLE_YX(const void* a, const void* b) { return compfunc_YX(a, b); }

int compfunc_YX_signed(const void* a, const void* b)
{
    const SKzRLERun x = RunAt(a), y = RunAt(b);
    return Order(std::pair<i32, i32>(i32(x.uiY), i32(x.uiX)), std::pair<i32, i32>(i32(y.uiY), i32(y.uiX)));
}

int compare_relations(const void* a, const void* b)
{
    u32 x[2], y[2];
    std::memcpy(x, a, sizeof x);
    std::memcpy(y, b, sizeof y);
    return Order(x[0] > x[1] ? x[0] : x[1], y[0] > y[1] ? y[0] : y[1]);
}
