#pragma GCC optimize("O3")
// Box-averaging reduction on two threads.
//
// Per axis the block size g is round-half-up(source / destination); the
// signed remainder source - destination x g is spread over the block starts
// by error diffusion so the last block ends exactly at the source's edge.
// Inside a block at most 10 samples per axis are summed (step g / 10 + 1,
// centred), so the cost per destination pixel does not grow with the
// reduction factor. All floating-point work happens while the tables are
// built; the pixel loops are integer sums and one division per component.
#include "gnr_picture/KzStretch.h"

#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/KzWorkerThreads.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace {

constexpr unsigned kMaxComps = 64;

// Sampling of one block axis.
struct Axis {
    long step, count, first;  // sample step, samples per block, offset of the first sample
};

inline Axis AxisOf(long g)
{
    Axis a;
    a.step = g / 10 + 1;
    a.count = (g + a.step - 1) / a.step;
    a.first = ((g - 1) % a.step + 1) / 2;
    return a;
}

template <class T>
inline T* RowAt(T* base, unsigned stride, size_t r)
{
    return reinterpret_cast<T*>(reinterpret_cast<unsigned char*>(base) + r * stride);
}
template <class T>
inline const T* RowAt(const T* base, unsigned stride, size_t r)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const unsigned char*>(base) + r * stride);
}

// One destination row from the block rows starting at source row y0. colAt(i)
// gives the sample offset of the block start of destination column i.
template <class T, int C, class ColAt>
KZ_ALWAYS_INLINE void HybridRow(T* d, const T* src, unsigned srcStride, size_t y0, unsigned dstW, unsigned comps,
                                const Axis& ax, const Axis& ay, ColAt&& colAt)
{
    const T* rows[10];
    for (long a = 0; a < ay.count; ++a)
        rows[a] = RowAt(src, srcStride, y0 + size_t(ay.first + a * ay.step));
    const size_t nc = C == 0 ? comps : size_t(C);
    const size_t xFirst = size_t(ax.first) * nc, xStep = size_t(ax.step) * nc;
    const uint32_t div = uint32_t(ax.count * ay.count);
    const long nx = ax.count, ny = ay.count;
    for (unsigned i = 0; i < dstW; ++i) {
        const size_t x0 = colAt(i) + xFirst;
        T* out = d + size_t(i) * nc;
        if constexpr (C == 1) {
            uint32_t s = 0;
            for (long a = 0; a < ny; ++a) {
                const T* p = rows[a] + x0;
                for (long b = 0; b < nx; ++b)
                    s += p[size_t(b) * xStep];
            }
            out[0] = T(s / div);
        } else if constexpr (C == 3) {
            uint32_t s0 = 0, s1 = 0, s2 = 0;
            for (long a = 0; a < ny; ++a) {
                const T* p = rows[a] + x0;
                for (long b = 0; b < nx; ++b) {
                    const T* q = p + size_t(b) * xStep;
                    s0 += q[0];
                    s1 += q[1];
                    s2 += q[2];
                }
            }
            out[0] = T(s0 / div);
            out[1] = T(s1 / div);
            out[2] = T(s2 / div);
        } else {
            uint32_t s[kMaxComps] = {};
            for (long a = 0; a < ny; ++a) {
                const T* p = rows[a] + x0;
                for (long b = 0; b < nx; ++b) {
                    const T* q = p + size_t(b) * xStep;
                    for (size_t c = 0; c < nc; ++c)
                        s[c] += q[c];
                }
            }
            for (size_t c = 0; c < nc; ++c)
                out[c] = T(s[c] / div);
        }
    }
}

inline bool WorkerArgsSound(int gx, int gy, unsigned comps, int C)
{
    return gx >= 1 && gy >= 1 && (C != 0 || (comps >= 1 && comps <= kMaxComps));
}

// Rectangle form: column table of steps between block starts (samples for
// _1 / _3, pixels for _N), row table of absolute start rows.
template <class T, int C>
void RectRows(T* dst, unsigned dstStride, unsigned dstW, unsigned endRow, const T* src, unsigned srcStride,
              unsigned comps, int gx, int gy, const int* colTab, const long* rowTab, unsigned startRow)
{
    if (!WorkerArgsSound(gx, gy, comps, C) || dstW == 0)
        return;
    const Axis ax = AxisOf(gx), ay = AxisOf(gy);
    const ptrdiff_t mult = C == 0 ? ptrdiff_t(comps) : 1;
    for (unsigned j = startRow; j < endRow; ++j) {
        ptrdiff_t x = 0;
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            HybridRow<T, C>(RowAt(dst, dstStride, j), src, srcStride, size_t(rowTab[j]), dstW, comps, ax, ay,
                            [&](unsigned i) KZ_INLINE_LAMBDA {
                                x += ptrdiff_t(colTab[i]) * mult;
                                return size_t(x);
                            });
        });
    }
}

// Display form: both tables hold absolute starts (columns in samples), one
// entry per zoomed position. Zoomed rows scrollY + startRow .. scrollY +
// endRow - 1 are drawn; dstH is the destination height the vertical flip
// mirrors in.
template <class T, int C>
void DisplayRows(T* dst, unsigned dstStride, unsigned dstW, unsigned dstH, unsigned startRow, unsigned endRow,
                 const T* src, unsigned srcStride, unsigned comps, int gx, int gy, const int* colTab,
                 const long* rowTab, unsigned sx, unsigned sy, bool flipH, bool flipV)
{
    if (!WorkerArgsSound(gx, gy, comps, C) || dstW == 0)
        return;
    const Axis ax = AxisOf(gx), ay = AxisOf(gy);
    const int* cols = colTab + sx;
    for (unsigned k = startRow; k < endRow; ++k) {
        const size_t out = flipV ? size_t(dstH) - 1 - k : k;
        const size_t y0 = size_t(rowTab[size_t(sy) + k]);
        T* d = RowAt(dst, dstStride, out);
        KzRunIsa([&](KzIsa) KZ_INLINE_LAMBDA {
            if (flipH)
                HybridRow<T, C>(d, src, srcStride, y0, dstW, comps, ax, ay,
                                [&](unsigned i) KZ_INLINE_LAMBDA { return size_t(cols[dstW - 1 - i]); });
            else
                HybridRow<T, C>(d, src, srcStride, y0, dstW, comps, ax, ay,
                                [&](unsigned i) KZ_INLINE_LAMBDA { return size_t(cols[i]); });
        });
    }
}

// Block starts of `count` positions (count <= n) of an axis of n blocks of
// size g over a source of size s: emit(k, start). The last block starts at
// s - g exactly; every start is kept inside 0 .. s - g.
template <class Emit>
void BlockStarts(uint64_t s, uint64_t n, uint64_t count, int64_t g, Emit&& emit)
{
    const int64_t r = int64_t(s) - int64_t(n) * g;
    const double l = std::abs(double(r) / double(n));
    const int64_t sign = r > 0 ? 1 : -1;
    const int64_t absR = r < 0 ? -r : r;
    const int64_t maxStart = int64_t(s) - g;
    double acc = 0.0;
    int64_t t = 0, start = 0;
    for (uint64_t k = 0; k < count; ++k) {
        int64_t e;
        if (acc >= 0.5 && (t < 0 ? -t : t) <= absR) {
            e = sign;
            t += sign;
            acc = (acc - 1.0) + l;
        } else {
            e = 0;
            acc += l;
        }
        if (k == n - 1)
            e += r - t;
        int64_t next = k == 0 ? 0 : start + g + e;
        if (next < 0)
            next = 0;
        if (next > maxStart)
            next = maxStart;
        start = next;
        emit(k, start);
    }
}

// Block size of an axis: round half up of source / destination, or 0 when
// it is not a usable block (0, or past the int the worker takes).
inline int64_t BlockSize(unsigned s, unsigned n)
{
    const double g = std::floor(double(s) / double(n) + 0.5);
    return g >= 1.0 && g <= double(INT32_MAX) ? int64_t(g) : 0;
}

bool BitsFit(unsigned char, unsigned bits)
{
    return bits == 8;
}
bool BitsFit(unsigned short, unsigned bits)
{
    return bits >= 9 && bits <= 16;
}

// Runs entry(&job) on one started thread while draw() covers the upper rows;
// -9 with nothing drawn when the thread cannot be started.
template <class Draw>
int OnTwoThreads(void* (*entry)(void*), CKzHybridStretchJob& job, Draw&& draw)
{
    auto lower = [entry, &job] { entry(&job); };
    kzthreads::Worker worker;
    if (!worker.Start(lower))
        return KZ_ERR_FAILED;
    draw();
    worker.Join();
    return KZ_OK;
}

// Checks shared by both forms: 0 or an error code, with `pixelComps` the
// samples per pixel the member reads.
template <class T, int C>
int CheckArgs(unsigned comps, unsigned bits, unsigned srcW)
{
    if (C == 0 && comps == 0)
        return KZ_ERR_INVALID_ARG;
    if (C == 0 && comps > kMaxComps)
        return KZ_ERR_NOT_SUPPORTED;
    if (!BitsFit(T(), bits))
        return KZ_ERR_INVALID_ARG;
    const uint64_t pixelComps = C == 0 ? comps : unsigned(C);
    if (uint64_t(srcW) * pixelComps >= (uint64_t(1) << 31))
        return KZ_ERR_INVALID_ARG;
    return KZ_OK;
}

template <class T, int C>
void* RectEntry(void* p);
template <class T, int C>
void* DisplayEntry(void* p);

template <class T, int C>
int HybridRect(T* dst, unsigned dstStride, unsigned dstW, unsigned dstH, T* src, unsigned srcStride, unsigned srcW,
               unsigned srcH, unsigned comps, unsigned bits, void* (*entry)(void*))
{
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (const int rc = CheckArgs<T, C>(comps, bits, srcW); rc != KZ_OK)
        return rc;
    const int64_t gx = BlockSize(srcW, dstW), gy = BlockSize(srcH, dstH);
    if (gx == 0 || gy == 0)
        return KZ_ERR_INVALID_ARG;
    std::unique_ptr<int[]> cols(new (std::nothrow) int[dstW]);
    std::unique_ptr<long[]> rows(new (std::nothrow) long[dstH]);
    if (!cols || !rows)
        return KZ_ERR_FAILED;
    const int64_t mult = C == 0 ? 1 : C;
    int64_t prev = 0;
    BlockStarts(srcW, dstW, dstW, gx, [&](uint64_t k, int64_t s) {
        cols[k] = int(k == 0 ? 0 : (s - prev) * mult);
        prev = s;
    });
    BlockStarts(srcH, dstH, dstH, gy, [&](uint64_t k, int64_t s) { rows[k] = long(s); });

    CKzHybridStretchJob job{};
    job.bits = (unsigned char)bits;
    job.comps = (unsigned char)(C == 0 ? comps : (comps > 255 ? 255 : comps));
    job.dst = dst;
    job.dstStride = dstStride;
    job.dstW = dstW;
    job.endRow = dstH;
    job.src = src;
    job.srcStride = srcStride;
    job.srcW = srcW;
    job.srcH = srcH;
    job.blockW = int(gx);
    job.blockH = int(gy);
    job.colTab = cols.get();
    job.rowTab = rows.get();
    job.startRow = dstH / 2;
    return OnTwoThreads(entry, job, [&] {
        RectRows<T, C>(dst, dstStride, dstW, job.startRow, src, srcStride, comps, job.blockW, job.blockH, cols.get(),
                       rows.get(), 0);
    });
}

template <class T, int C>
int HybridDisplay(T* dst, unsigned dstW, unsigned dstH, unsigned comps, unsigned dstStride, unsigned bits,
                  unsigned zoomW, unsigned zoomH, unsigned sx, unsigned sy, T* src, unsigned srcW, unsigned srcH,
                  unsigned srcStride, bool flipH, bool flipV, void* (*entry)(void*))
{
    if (zoomW == 0 || zoomH == 0)
        return KZ_ERR_FAILED;
    if (dstW == 0 || dstH == 0)
        return KZ_OK;
    if (const int rc = CheckArgs<T, C>(comps, bits, srcW); rc != KZ_OK)
        return rc;
    const int64_t gx = BlockSize(srcW, zoomW), gy = BlockSize(srcH, zoomH);
    if (gx == 0 || gy == 0)
        return KZ_ERR_INVALID_ARG;
    if (uint64_t(sx) + dstW > zoomW || uint64_t(sy) + dstH > zoomH)
        return KZ_ERR_INVALID_ARG;
    // Only the zoomed positions up to the view's far edge are ever read.
    const size_t needW = size_t(sx) + dstW, needH = size_t(sy) + dstH;
    std::unique_ptr<int[]> cols(new (std::nothrow) int[needW]);
    std::unique_ptr<long[]> rows(new (std::nothrow) long[needH]);
    if (!cols || !rows)
        return KZ_ERR_FAILED;
    const int64_t mult = C == 0 ? comps : C;
    BlockStarts(srcW, zoomW, needW, gx, [&](uint64_t k, int64_t s) { cols[k] = int(s * mult); });
    BlockStarts(srcH, zoomH, needH, gy, [&](uint64_t k, int64_t s) { rows[k] = long(s); });

    CKzHybridStretchJob job{};
    job.bits = (unsigned char)bits;
    job.comps = (unsigned char)(C == 1 ? 1 : (comps > 255 ? 255 : comps));
    job.dst = dst;
    job.dstStride = dstStride;
    job.dstW = dstW;
    job.endRow = dstH;
    job.src = src;
    job.srcStride = srcStride;
    job.srcW = srcW;
    job.srcH = srcH;
    job.blockW = int(gx);
    job.blockH = int(gy);
    job.colTab = cols.get();
    job.rowTab = rows.get();
    job.startRow = dstH / 2;
    job.scrollX = sx;
    job.scrollY = sy;
    job.flipH = flipH;
    job.flipV = flipV;
    return OnTwoThreads(entry, job, [&] {
        DisplayRows<T, C>(dst, dstStride, dstW, dstH, 0, job.startRow, src, srcStride, comps, job.blockW,
                          job.blockH, cols.get(), rows.get(), sx, sy, flipH, flipV);
    });
}

template <class T, int C>
void RunRect(const CKzHybridStretchJob& j)
{
    RectRows<T, C>(static_cast<T*>(j.dst), j.dstStride, j.dstW, j.endRow, static_cast<const T*>(j.src),
                   j.srcStride, j.comps, j.blockW, j.blockH, j.colTab, j.rowTab, j.startRow);
}
template <class T, int C>
void RunDisplay(const CKzHybridStretchJob& j)
{
    DisplayRows<T, C>(static_cast<T*>(j.dst), j.dstStride, j.dstW, j.endRow, j.startRow, j.endRow,
                      static_cast<const T*>(j.src), j.srcStride, j.comps, j.blockW, j.blockH, j.colTab, j.rowTab,
                      j.scrollX, j.scrollY, j.flipH, j.flipV);
}

template <int C, bool Display>
void* Entry(void* p)
{
    if (p == nullptr)
        return nullptr;
    const CKzHybridStretchJob& j = *static_cast<const CKzHybridStretchJob*>(p);
    if (j.bits == 8) {
        if constexpr (Display)
            RunDisplay<unsigned char, C>(j);
        else
            RunRect<unsigned char, C>(j);
    } else if (j.bits >= 9 && j.bits <= 16) {
        if constexpr (Display)
            RunDisplay<unsigned short, C>(j);
        else
            RunRect<unsigned short, C>(j);
    }
    return nullptr;
}
}  // namespace

// ---------------------------------------------------------------------------
// Exported members
// ---------------------------------------------------------------------------

void* ThreadProc_Stretch_Hybrid_1(void* job)
{
    return Entry<1, false>(job);
}
void* ThreadProc_Stretch_Hybrid_3(void* job)
{
    return Entry<3, false>(job);
}
void* ThreadProc_Stretch_Hybrid_N(void* job)
{
    return Entry<0, false>(job);
}
void* ThreadProc_Stretch_Display_Hybrid_1(void* job)
{
    return Entry<1, true>(job);
}
void* ThreadProc_Stretch_Display_Hybrid_3(void* job)
{
    return Entry<3, true>(job);
}
void* ThreadProc_Stretch_Display_Hybrid_N(void* job)
{
    return Entry<0, true>(job);
}

#define KZ_MT_ARGS(T)                                                                                                 \
    T *dst, unsigned int dstStride, unsigned int dstW, unsigned int dstH, T *src, unsigned int srcStride,          \
        unsigned int srcW, unsigned int srcH, unsigned int comps, unsigned int bits
#define KZ_MT_CALL dst, dstStride, dstW, dstH, src, srcStride, srcW, srcH, comps, bits

template <class T>
int stretch_hybrid_mt_1(KZ_MT_ARGS(T))
{
    return HybridRect<T, 1>(KZ_MT_CALL, ThreadProc_Stretch_Hybrid_1);
}
template <class T>
int stretch_hybrid_mt_3(KZ_MT_ARGS(T))
{
    return HybridRect<T, 3>(KZ_MT_CALL, ThreadProc_Stretch_Hybrid_3);
}
template <class T>
int stretch_hybrid_mt_N(KZ_MT_ARGS(T))
{
    return HybridRect<T, 0>(KZ_MT_CALL, ThreadProc_Stretch_Hybrid_N);
}

#define KZ_ST_ARGS(T)                                                                                                 \
    T *dst, unsigned int dstStride, unsigned int dstW, unsigned int endRow, T *src, unsigned int srcStride,        \
        unsigned int srcW, unsigned int srcH
#define KZ_ST_TAIL int blockW, int blockH, int *colTab, long *rowTab, unsigned int startRow

template <class T>
void stretch_hybrid_st_1(KZ_ST_ARGS(T), KZ_ST_TAIL)
{
    RectRows<T, 1>(dst, dstStride, dstW, endRow, src, srcStride, 1, blockW, blockH, colTab, rowTab, startRow);
}
template <class T>
void stretch_hybrid_st_3(KZ_ST_ARGS(T), KZ_ST_TAIL)
{
    RectRows<T, 3>(dst, dstStride, dstW, endRow, src, srcStride, 3, blockW, blockH, colTab, rowTab, startRow);
}
template <class T>
void stretch_hybrid_st_N(KZ_ST_ARGS(T), unsigned int comps, KZ_ST_TAIL)
{
    RectRows<T, 0>(dst, dstStride, dstW, endRow, src, srcStride, comps, blockW, blockH, colTab, rowTab, startRow);
}

#define KZ_DMT_ARGS(T)                                                                                                \
    T *dst, unsigned int dstW, unsigned int dstH, unsigned int comps, unsigned int dstStride, unsigned int bits,   \
        unsigned int zoomW, unsigned int zoomH, unsigned int scrollX, unsigned int scrollY, T *src,                \
        unsigned int srcW, unsigned int srcH, unsigned int srcStride, bool flipH, bool flipV
#define KZ_DMT_CALL                                                                                                \
    dst, dstW, dstH, comps, dstStride, bits, zoomW, zoomH, scrollX, scrollY, src, srcW, srcH, srcStride, flipH, flipV

template <class T>
int stretch_display_hybrid_mt_1(KZ_DMT_ARGS(T))
{
    return HybridDisplay<T, 1>(KZ_DMT_CALL, ThreadProc_Stretch_Display_Hybrid_1);
}
template <class T>
int stretch_display_hybrid_mt_3(KZ_DMT_ARGS(T))
{
    return HybridDisplay<T, 3>(KZ_DMT_CALL, ThreadProc_Stretch_Display_Hybrid_3);
}
template <class T>
int stretch_display_hybrid_mt_N(KZ_DMT_ARGS(T))
{
    return HybridDisplay<T, 0>(KZ_DMT_CALL, ThreadProc_Stretch_Display_Hybrid_N);
}

template <class T>
void stretch_display_hybrid_st_1(KZ_ST_ARGS(T), KZ_ST_TAIL, unsigned int scrollX, unsigned int scrollY, bool flipH,
                                 bool flipV)
{
    DisplayRows<T, 1>(dst, dstStride, dstW, endRow, startRow, endRow, src, srcStride, 1, blockW, blockH, colTab,
                      rowTab, scrollX, scrollY, flipH, flipV);
}
template <class T>
void stretch_display_hybrid_st_3(KZ_ST_ARGS(T), KZ_ST_TAIL, unsigned int scrollX, unsigned int scrollY, bool flipH,
                                 bool flipV)
{
    DisplayRows<T, 3>(dst, dstStride, dstW, endRow, startRow, endRow, src, srcStride, 3, blockW, blockH, colTab,
                      rowTab, scrollX, scrollY, flipH, flipV);
}
template <class T>
void stretch_display_hybrid_st_N(KZ_ST_ARGS(T), KZ_ST_TAIL, unsigned int scrollX, unsigned int scrollY,
                                 unsigned int comps, bool flipH, bool flipV)
{
    DisplayRows<T, 0>(dst, dstStride, dstW, endRow, startRow, endRow, src, srcStride, comps, blockW, blockH,
                      colTab, rowTab, scrollX, scrollY, flipH, flipV);
}

#define KZ_HYB_INST(T)                                                                                             \
    template KZ_EXPORT int stretch_hybrid_mt_1<T>(KZ_MT_ARGS(T));                                                     \
    template KZ_EXPORT int stretch_hybrid_mt_3<T>(KZ_MT_ARGS(T));                                                     \
    template KZ_EXPORT int stretch_hybrid_mt_N<T>(KZ_MT_ARGS(T));                                                     \
    template KZ_EXPORT void stretch_hybrid_st_1<T>(KZ_ST_ARGS(T), KZ_ST_TAIL);                                        \
    template KZ_EXPORT void stretch_hybrid_st_3<T>(KZ_ST_ARGS(T), KZ_ST_TAIL);                                        \
    template KZ_EXPORT void stretch_hybrid_st_N<T>(KZ_ST_ARGS(T), unsigned int, KZ_ST_TAIL);                          \
    template KZ_EXPORT int stretch_display_hybrid_mt_1<T>(KZ_DMT_ARGS(T));                                            \
    template KZ_EXPORT int stretch_display_hybrid_mt_3<T>(KZ_DMT_ARGS(T));                                            \
    template KZ_EXPORT int stretch_display_hybrid_mt_N<T>(KZ_DMT_ARGS(T));                                            \
    template KZ_EXPORT void stretch_display_hybrid_st_1<T>(KZ_ST_ARGS(T), KZ_ST_TAIL, unsigned int, unsigned int,     \
                                                           bool, bool);                                            \
    template KZ_EXPORT void stretch_display_hybrid_st_3<T>(KZ_ST_ARGS(T), KZ_ST_TAIL, unsigned int, unsigned int,     \
                                                           bool, bool);                                            \
    template KZ_EXPORT void stretch_display_hybrid_st_N<T>(KZ_ST_ARGS(T), KZ_ST_TAIL, unsigned int, unsigned int,     \
                                                           unsigned int, bool, bool);
KZ_HYB_INST(unsigned char)
KZ_HYB_INST(unsigned short)
