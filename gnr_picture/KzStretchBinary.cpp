#pragma GCC optimize("O3")
// Nearest-neighbour stretch of packed 1-bit pictures.
//
// The direct path gathers eight looked-up source bits per destination byte.
// The enlarging path prepares, for every source byte the columns touch and
// every byte value, the destination bytes that byte becomes, so a row is built
// by OR-ing a few prepared bytes per source byte. The room per source byte is
// taken from the counts the column table really produces; when one source
// byte would feed more than 255 destination bytes, or the tables would pass
// 64 MiB, the direct path draws the same pixels instead.
#include "gnr_picture/KzStretch.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr size_t kNoRow = SIZE_MAX;
constexpr size_t kMaxTableBytes = size_t(64) << 20;

// floor((i + 0.5) x ratio), limited to 0 .. limit - 1 (limit >= 1); the
// product is compared with its limit before it becomes an integer.
inline uint64_t Index(double i, double ratio, uint64_t limit)
{
    const double x = std::floor((i + 0.5) * ratio);
    if (!(x < double(limit)))
        return limit - 1;
    if (!(x >= 0.0))
        return 0;
    return uint64_t(x);
}

inline unsigned Bit(const unsigned char* row, uint64_t u)
{
    return (row[u >> 3] >> (7 - (u & 7))) & 1u;
}

// Geometry of one call after validation: the column table (source bit
// indices from `src`) and a row rule.
struct Plan {
    unsigned char* dst;
    unsigned dstStride, dstW, dstH;
    const unsigned char* src;
    unsigned srcStride;
    std::unique_ptr<uint64_t[]> cols;
    // Row rule: r = Index(q, ratio, limit), q = scroll + j or mirrored.
    double rowRatio;
    uint64_t rowLimit;
    unsigned scrollY;
    bool flipV;
    size_t RowOf(unsigned j) const
    {
        const double q = flipV ? double(scrollY) + dstH - 1 - j : double(scrollY) + j;
        return size_t(Index(q, rowRatio, rowLimit));
    }
};

void Direct(const Plan& p)
{
    const size_t outBytes = (size_t(p.dstW) + 7) / 8;
    const size_t full = p.dstW / 8;
    size_t prev = kNoRow;
    for (unsigned j = 0; j < p.dstH; ++j) {
        unsigned char* d = p.dst + size_t(j) * p.dstStride;
        const size_t r = p.RowOf(j);
        if (r == prev) {
            std::memmove(d, d - p.dstStride, outBytes);
            continue;
        }
        prev = r;
        const unsigned char* s = p.src + r * p.srcStride;
        const uint64_t* t = p.cols.get();
        for (size_t k = 0; k < full; ++k, t += 8) {
            d[k] = (unsigned char)(Bit(s, t[0]) << 7 | Bit(s, t[1]) << 6 | Bit(s, t[2]) << 5 | Bit(s, t[3]) << 4 |
                                   Bit(s, t[4]) << 3 | Bit(s, t[5]) << 2 | Bit(s, t[6]) << 1 | Bit(s, t[7]));
        }
        if (full < outBytes) {
            unsigned v = 0;
            for (unsigned b = 0; b < (p.dstW & 7u); ++b)
                v |= Bit(s, t[b]) << (7 - b);
            d[full] = (unsigned char)v;
        }
    }
}

// Enlarging path; falls back to Direct when the tables would be too large.
// The column table must not decrease (no horizontal flip).
int Expand(const Plan& p)
{
    const uint64_t first = p.cols[0] >> 3, last = p.cols[p.dstW - 1] >> 3;
    const size_t n = size_t(last - first + 1);
    std::unique_ptr<unsigned char[]> count(new (std::nothrow) unsigned char[n]());
    std::unique_ptr<unsigned char[]> endFlag(new (std::nothrow) unsigned char[n]());
    if (!count || !endFlag)
        return KZ_ERR_OUT_OF_MEMORY;
    // Dry run of the table build: the destination bytes each source byte feeds.
    size_t room = 1;
    {
        std::unique_ptr<uint32_t[]> c(new (std::nothrow) uint32_t[n]());
        if (!c)
            return KZ_ERR_OUT_OF_MEMORY;
        for (unsigned i = 0; i < p.dstW; ++i) {
            const size_t v = size_t((p.cols[i] >> 3) - first);
            if (c[v] == 0)
                c[v] = 1;
            else if (endFlag[v]) {
                endFlag[v] = 0;
                ++c[v];
            }
            if (c[v] > room)
                room = c[v];
            if ((i & 7) == 7)
                endFlag[v] = 1;
        }
        std::memset(endFlag.get(), 0, n);
    }
    if (room > 255 || double(n) * 256.0 * double(room) > double(kMaxTableBytes)) {
        Direct(p);
        return KZ_OK;
    }
    std::unique_ptr<unsigned char[]> table(new (std::nothrow) unsigned char[n * 256 * room]());
    if (!table)
        return KZ_ERR_OUT_OF_MEMORY;
    for (unsigned i = 0; i < p.dstW; ++i) {
        const uint64_t u = p.cols[i];
        const size_t v = size_t((u >> 3) - first);
        if (count[v] == 0)
            count[v] = 1;
        else if (endFlag[v]) {
            endFlag[v] = 0;
            ++count[v];
        }
        const size_t w = count[v];
        const unsigned srcBit = 7 - unsigned(u & 7), dstBit = 7 - (i & 7u);
        unsigned char* e = table.get() + (v * 256) * room + (w - 1);
        for (unsigned b = 0; b < 256; ++b)
            if ((b >> srcBit) & 1u)
                e[size_t(b) * room] |= (unsigned char)(1u << dstBit);
        if ((i & 7) == 7)
            endFlag[v] = 1;
    }
    for (unsigned j = 0; j < p.dstH; ++j)
        std::memset(p.dst + size_t(j) * p.dstStride, 0, p.dstStride);
    const size_t outBytes = (size_t(p.dstW) + 7) / 8;
    size_t prev = kNoRow;
    for (unsigned j = 0; j < p.dstH; ++j) {
        unsigned char* d = p.dst + size_t(j) * p.dstStride;
        const size_t r = p.RowOf(j);
        if (r == prev) {
            std::memcpy(d, d - p.dstStride, outBytes);
            continue;
        }
        prev = r;
        const unsigned char* s = p.src + r * p.srcStride + first;
        size_t pos = 0;
        for (size_t v = 0; v < n; ++v) {
            const size_t c = count[v];
            if (c == 0)
                continue;
            const unsigned char* e = table.get() + (v * 256 + s[v]) * room;
            for (size_t k = 0; k < c && pos + k < outBytes; ++k)
                d[pos + k] |= e[k];
            pos += endFlag[v] ? c : c - 1;
        }
    }
    return KZ_OK;
}

// Rectangle form: 0 with the plan filled, or an error code.
int RectPlan(Plan& p, unsigned char* dst, unsigned dstStride, unsigned dstW, unsigned dstH, const unsigned char* src,
             unsigned srcStride, unsigned srcH, unsigned left, unsigned top, unsigned rw, unsigned rh)
{
    const uint64_t rowBits = uint64_t(srcStride) * 8;
    if (left >= rowBits || top >= srcH)
        return KZ_ERR_INVALID_ARG;
    p.cols.reset(new (std::nothrow) uint64_t[dstW]);
    if (!p.cols)
        return KZ_ERR_OUT_OF_MEMORY;
    const double rx = double(rw) / double(dstW);
    for (unsigned i = 0; i < dstW; ++i)
        p.cols[i] = (left & 7u) + Index(i, rx, rowBits - left);
    p.dst = dst;
    p.dstStride = dstStride;
    p.dstW = dstW;
    p.dstH = dstH;
    p.src = src;
    p.srcStride = srcStride;
    p.rowRatio = double(rh) / double(dstH);
    p.rowLimit = uint64_t(srcH) - top;
    p.scrollY = 0;
    p.flipV = false;
    return KZ_OK;
}

int DisplayPlan(Plan& p, unsigned char* dst, unsigned dstW, unsigned dstH, unsigned dstStride, unsigned zoomW,
                unsigned zoomH, unsigned sx, unsigned sy, const unsigned char* src, unsigned srcW, unsigned srcH,
                unsigned srcStride, bool flipH, bool flipV)
{
    if (srcW == 0 || srcH == 0)
        return KZ_ERR_INVALID_ARG;
    p.cols.reset(new (std::nothrow) uint64_t[dstW]);
    if (!p.cols)
        return KZ_ERR_OUT_OF_MEMORY;
    const double rx = double(srcW) / double(zoomW);
    for (unsigned i = 0; i < dstW; ++i) {
        const double q = flipH ? double(sx) + dstW - 1 - i : double(sx) + i;
        p.cols[i] = Index(q, rx, srcW);
    }
    p.dst = dst;
    p.dstStride = dstStride;
    p.dstW = dstW;
    p.dstH = dstH;
    p.src = src;
    p.srcStride = srcStride;
    p.rowRatio = double(srcH) / double(zoomH);
    p.rowLimit = srcH;
    p.scrollY = sy;
    p.flipV = flipV;
    return KZ_OK;
}

int Rect(bool up, unsigned char* dst, unsigned dstStride, unsigned dstW, unsigned dstH, unsigned char* src,
         unsigned srcStride, unsigned srcH, unsigned left, unsigned top, unsigned rw, unsigned rh)
{
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    Plan p;
    if (const int rc = RectPlan(p, dst, dstStride, dstW, dstH, src, srcStride, srcH, left, top, rw, rh); rc != KZ_OK)
        return rc;
    if (up)
        return Expand(p);
    Direct(p);
    return KZ_OK;
}

int Display(int path, unsigned char* dst, unsigned dstW, unsigned dstH, unsigned dstStride, unsigned zoomW,
            unsigned zoomH, unsigned sx, unsigned sy, unsigned char* src, unsigned srcW, unsigned srcH,
            unsigned srcStride, bool flipH, bool flipV)
{
    if (zoomW == 0 || zoomH == 0)
        return KZ_ERR_FAILED;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    // path: 1 the enlarging path (which ignores the horizontal flip), 0 the
    // dispatcher's choice.
    const bool up = path == 1 || (!flipH && double(srcH) / double(zoomH) < 1.0);
    if (up)
        flipH = false;
    Plan p;
    if (const int rc = DisplayPlan(p, dst, dstW, dstH, dstStride, zoomW, zoomH, sx, sy, src, srcW, srcH, srcStride,
                                   flipH, flipV);
        rc != KZ_OK)
        return rc;
    if (up)
        return Expand(p);
    Direct(p);
    return KZ_OK;
}
}  // namespace

int stretch_quick_binary(unsigned char* dst, unsigned int dstStride, unsigned int dstW, unsigned int dstH,
                         unsigned char* src, unsigned int srcStride, unsigned int srcH, unsigned int rectL,
                         unsigned int rectT, unsigned int rectW, unsigned int rectH)
{
    const bool up = dstH != 0 && double(rectH) / double(dstH) < 1.0;
    return Rect(up, dst, dstStride, dstW, dstH, src, srcStride, srcH, rectL, rectT, rectW, rectH);
}

int stretch_quick_binary_up(unsigned char* dst, unsigned int dstStride, unsigned int dstW, unsigned int dstH,
                            unsigned char* src, unsigned int srcStride, unsigned int srcH, unsigned int rectL,
                            unsigned int rectT, unsigned int rectW, unsigned int rectH)
{
    return Rect(true, dst, dstStride, dstW, dstH, src, srcStride, srcH, rectL, rectT, rectW, rectH);
}

int stretch_quick_binary_display(unsigned char* dst, unsigned int dstW, unsigned int dstH, unsigned int dstStride,
                                 unsigned int zoomW, unsigned int zoomH, unsigned int scrollX, unsigned int scrollY,
                                 unsigned char* src, unsigned int srcW, unsigned int srcH, unsigned int srcStride,
                                 bool flipH, bool flipV)
{
    return Display(0, dst, dstW, dstH, dstStride, zoomW, zoomH, scrollX, scrollY, src, srcW, srcH, srcStride, flipH,
                   flipV);
}

int stretch_quick_binary_display_up(unsigned char* dst, unsigned int dstW, unsigned int dstH, unsigned int dstStride,
                                    unsigned int zoomW, unsigned int zoomH, unsigned int scrollX,
                                    unsigned int scrollY, unsigned char* src, unsigned int srcW, unsigned int srcH,
                                    unsigned int srcStride, bool flipH, bool flipV)
{
    return Display(1, dst, dstW, dstH, dstStride, zoomW, zoomH, scrollX, scrollY, src, srcW, srcH, srcStride, flipH,
                   flipV);
}
