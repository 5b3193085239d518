#include "gnr_picture/KzStretch.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

// A seeded picture of w x h pixels of `comps` samples at a padded stride.
template <class T>
struct Pic {
    unsigned w, h, comps, stride;  // stride in bytes
    std::vector<unsigned char> bytes;
    Pic(unsigned w_, unsigned h_, unsigned c_, unsigned seed, unsigned maxValue, unsigned pad = 6)
        : w(w_), h(h_), comps(c_)
    {
        stride = unsigned(w * c_ * sizeof(T) + pad);
        bytes.assign(size_t(stride) * h + 16, 0xCD);
        std::mt19937 rng(seed);
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x)
                for (unsigned c = 0; c < comps; ++c)
                    at(x, y)[c] = T(rng() % (maxValue + 1));
    }
    T* row(unsigned y) { return reinterpret_cast<T*>(bytes.data() + size_t(y) * stride); }
    T* at(unsigned x, unsigned y) { return row(y) + size_t(x) * comps; }
};

// Block starts written from the definition: the remainder of s / n is spread
// by an accumulator, the last entry takes what is left over, and block k
// starts at k x g plus the corrections of entries 1 .. k.
std::vector<long> ReferenceStarts(long s, long n)
{
    const long g = long(std::floor(double(s) / double(n) + 0.5));
    const long r = s - n * g;
    std::vector<long> e(size_t(n), 0);
    double acc = 0.0;
    long emitted = 0;
    const double step = std::fabs(double(r) / double(n));
    for (long k = 0; k < n; ++k) {
        if (acc >= 0.5 && std::labs(emitted) <= std::labs(r)) {
            e[size_t(k)] = r > 0 ? 1 : -1;
            emitted += e[size_t(k)];
            acc = acc - 1.0 + step;
        } else {
            acc += step;
        }
    }
    e[size_t(n - 1)] += r - emitted;
    std::vector<long> starts(static_cast<size_t>(n));
    long sum = 0;
    for (long k = 0; k < n; ++k) {
        if (k > 0)
            sum += e[size_t(k)];
        starts[size_t(k)] = k * g + sum;
    }
    return starts;
}

// Offsets of the summed pixels inside a block of size g.
std::vector<long> SampleOffsets(long g)
{
    const long step = g / 10 + 1;
    std::vector<long> out;
    for (long at = ((g - 1) % step + 1) / 2, k = 0; k * step < g; ++k)
        out.push_back(at + k * step);
    return out;
}

// Reference reduction of a whole picture seen at zoomed size zw x zh,
// showing the view (sx, sy, dw, dh), optionally mirrored.
template <class T>
std::vector<T> Reference(Pic<T>& src, unsigned zw, unsigned zh, unsigned sx, unsigned sy, unsigned dw, unsigned dh,
                         bool flipH, bool flipV, unsigned left = 0, unsigned top = 0, unsigned rw = 0, unsigned rh = 0)
{
    if (rw == 0) {
        rw = src.w;
        rh = src.h;
    }
    const auto cols = ReferenceStarts(rw, zw), rows = ReferenceStarts(rh, zh);
    const long gx = long(std::floor(double(rw) / zw + 0.5)), gy = long(std::floor(double(rh) / zh + 0.5));
    const auto ox = SampleOffsets(gx), oy = SampleOffsets(gy);
    std::vector<T> out(size_t(dw) * dh * src.comps);
    for (unsigned j = 0; j < dh; ++j)
        for (unsigned i = 0; i < dw; ++i) {
            const unsigned zx = flipH ? sx + dw - 1 - i : sx + i;
            const unsigned zy = flipV ? sy + dh - 1 - j : sy + j;
            for (unsigned c = 0; c < src.comps; ++c) {
                uint64_t sum = 0;
                for (long a : oy)
                    for (long b : ox)
                        sum += src.at(left + unsigned(cols[zx] + b), top + unsigned(rows[zy] + a))[c];
                out[(size_t(j) * dw + i) * src.comps + c] = T(sum / (ox.size() * oy.size()));
            }
        }
    return out;
}

template <class T>
void ExpectPicture(Pic<T>& got, const std::vector<T>& want, const std::string& what)
{
    for (unsigned y = 0; y < got.h; ++y)
        for (unsigned x = 0; x < got.w; ++x)
            for (unsigned c = 0; c < got.comps; ++c)
                ASSERT_EQ(got.at(x, y)[c], want[(size_t(y) * got.w + x) * got.comps + c])
                    << what << " pixel (" << x << ", " << y << ") component " << c;
}

using RectFn8 = int (*)(unsigned char*, unsigned, unsigned, unsigned, unsigned char*, unsigned, unsigned, unsigned,
                        unsigned, unsigned);
using RectFn16 = int (*)(unsigned short*, unsigned, unsigned, unsigned, unsigned short*, unsigned, unsigned, unsigned,
                         unsigned, unsigned);

#include "resample_reference.inc"

TEST(StretchHybrid, IndependentReferenceAgrees)
{
    // Block starts from the generator against the ones the other tests use.
    for (const StartsRef& k : kStartsRef)
        EXPECT_EQ(ReferenceStarts(long(k.s), long(k.n)), k.starts) << k.s << " to " << k.n;
    // Reductions of seeded pictures, padded rows, through every member that fits.
    for (const ReduceRef& k : kReduceRef) {
        const unsigned stride = k.w * k.comps * 2 + 6, dstStride = k.dw * k.comps * 2 + 4;
        std::vector<unsigned char> src(size_t(stride) * k.h, 0xEE), dst(size_t(dstStride) * k.dh, 0);
        uint32_t x = k.seed;
        for (unsigned y = 0; y < k.h; ++y)
            for (unsigned i = 0; i < k.w * k.comps; ++i) {
                x = x * 1103515245u + 12345u;
                const unsigned short v = (unsigned short)((x >> 16) % (k.maxValue + 1));
                std::memcpy(src.data() + size_t(y) * stride + 2 * i, &v, 2);
            }
        const unsigned bits = k.maxValue > 4095 ? 16 : 12;
        auto* s = reinterpret_cast<unsigned short*>(src.data());
        auto* d = reinterpret_cast<unsigned short*>(dst.data());
        std::vector<int> rcs;
        if (k.comps == 1)
            rcs.push_back(stretch_hybrid_mt_1<unsigned short>(d, dstStride, k.dw, k.dh, s, stride, k.w, k.h, 1, bits));
        else if (k.comps == 3)
            rcs.push_back(stretch_hybrid_mt_3<unsigned short>(d, dstStride, k.dw, k.dh, s, stride, k.w, k.h, 3, bits));
        else
            rcs.push_back(stretch_hybrid_mt_N<unsigned short>(d, dstStride, k.dw, k.dh, s, stride, k.w, k.h, k.comps,
                                                              bits));
        ASSERT_EQ(rcs[0], 0);
        for (unsigned y = 0; y < k.dh; ++y)
            for (unsigned i = 0; i < k.dw * k.comps; ++i) {
                unsigned short v;
                std::memcpy(&v, dst.data() + size_t(y) * dstStride + 2 * i, 2);
                ASSERT_EQ(v, k.out[size_t(y) * k.dw * k.comps + i]) << k.w << "x" << k.h << " row " << y << " sample " << i;
            }
        // The display form seeing the whole picture at the destination size draws the same.
        std::vector<unsigned char> view(dst.size(), 0);
        auto* vd = reinterpret_cast<unsigned short*>(view.data());
        const int rc = k.comps == 1 ? stretch_display_hybrid_mt_1<unsigned short>(vd, k.dw, k.dh, 1, dstStride, bits, k.dw,
                                                                                k.dh, 0, 0, s, k.w, k.h, stride, false, false)
                                    : stretch_display_hybrid_mt_N<unsigned short>(vd, k.dw, k.dh, k.comps, dstStride, bits,
                                                                                k.dw, k.dh, 0, 0, s, k.w, k.h, stride,
                                                                                false, false);
        ASSERT_EQ(rc, 0);
        EXPECT_EQ(view, dst) << k.w << "x" << k.h;
    }
}

TEST(StretchHybrid, BlockStartsOfTheWorkedReductions)
{
    // One source row whose samples count the columns: a block of width 3
    // sampled at offsets 0, 1, 2 averages to its start + 1.
    struct Case {
        unsigned srcW, dstW;
        std::vector<unsigned> firstStarts;
        unsigned lastStart;
    } cases[] = {
        {1000, 300, {0, 3, 7, 10, 13, 17, 20, 23, 27}, 997},
        {1000, 400, {0, 2, 5, 7, 10, 12}, 997},
    };
    for (const Case& k : cases) {
        std::vector<unsigned short> src(k.srcW), dst(k.dstW, 0xFFFF);
        for (unsigned x = 0; x < k.srcW; ++x)
            src[x] = (unsigned short)x;
        ASSERT_EQ(stretch_hybrid_mt_1<unsigned short>(dst.data(), k.dstW * 2, k.dstW, 1, src.data(), k.srcW * 2,
                                                      k.srcW, 1, 1, 16),
                  0);
        for (size_t i = 0; i < k.firstStarts.size(); ++i)
            EXPECT_EQ(dst[i], k.firstStarts[i] + 1) << k.dstW << " block " << i;
        EXPECT_EQ(dst.back(), k.lastStart + 1) << k.dstW;
        const auto ref = ReferenceStarts(k.srcW, k.dstW);
        for (unsigned i = 0; i < k.dstW; ++i)
            ASSERT_EQ(dst[i], ref[i] + 1) << k.dstW << " block " << i;
    }
}

TEST(StretchHybrid, SampleOffsetsInsideABlock)
{
    // A single bright column inside one block shows whether that column is
    // among the summed samples.
    struct Case {
        unsigned g;
        std::vector<unsigned> sampled;
    } cases[] = {
        {10, {1, 3, 5, 7, 9}},
        {25, {0, 3, 6, 9, 12, 15, 18, 21, 24}},
        {100, {0, 11, 22, 33, 44, 55, 66, 77, 88, 99}},
        {1000, {45, 146, 247, 348, 449, 550, 651, 752, 853, 954}},
    };
    for (const Case& k : cases) {
        std::vector<unsigned short> src(k.g, 0);
        for (unsigned c = 0; c < k.g; ++c) {
            std::fill(src.begin(), src.end(), 0);
            src[c] = 9000;
            unsigned short out = 1;
            ASSERT_EQ(stretch_hybrid_mt_1<unsigned short>(&out, 2, 1, 1, src.data(), k.g * 2, k.g, 1, 1, 12), 0);
            const bool sampled = std::find(k.sampled.begin(), k.sampled.end(), c) != k.sampled.end();
            ASSERT_EQ(out, sampled ? 9000 / k.sampled.size() : 0) << "block " << k.g << " column " << c;
        }
    }
}

TEST(StretchHybrid, MeansTruncate)
{
    // 2 x 2 blocks: sums 2 and 3 over four samples give 0, 4 gives 1, 7 gives 1.
    unsigned char src[2 * 8] = {1, 1, 1, 1, 1, 1, 3, 1,  //
                                0, 0, 1, 0, 1, 1, 0, 3};
    unsigned char dst[4] = {9, 9, 9, 9};
    ASSERT_EQ(stretch_hybrid_mt_1<unsigned char>(dst, 4, 4, 1, src, 8, 8, 2, 1, 8), 0);
    EXPECT_EQ(dst[0], 0);
    EXPECT_EQ(dst[1], 0);
    EXPECT_EQ(dst[2], 1);
    EXPECT_EQ(dst[3], 1);
}

struct Geometry {
    unsigned srcW, srcH, dstW, dstH;
};
const Geometry kRect[] = {
    {37, 29, 11, 9},    // block 3, positive remainders
    {100, 64, 40, 26},  // rounded-up blocks: negative remainders
    {250, 31, 9, 1},    // one destination row: the worker draws it
    {31, 250, 2, 2},    // two rows: one each
    {1003, 997, 7, 5},  // block above 100 on both axes
    {12, 12, 12, 12},   // no reduction
    {9, 9, 17, 17},     // enlarging below two-fold: block 1
};

template <class T>
void CheckRectMembers(unsigned bits, unsigned maxValue)
{
    using Fn = int (*)(T*, unsigned, unsigned, unsigned, T*, unsigned, unsigned, unsigned, unsigned, unsigned);
    struct Member {
        const char* name;
        Fn fn;
        unsigned comps;
    } members[] = {
        {"_1", stretch_hybrid_mt_1<T>, 1},
        {"_3", stretch_hybrid_mt_3<T>, 3},
        {"_N 5", stretch_hybrid_mt_N<T>, 5},
        {"_N 64", stretch_hybrid_mt_N<T>, 64},
    };
    unsigned seed = 1;
    for (const Member& m : members)
        for (const Geometry& g : kRect) {
            if (m.comps == 64 && g.srcW > 300)
                continue;
            // A rectangle inside a larger picture: 2 columns and 3 rows around it.
            Pic<T> src(g.srcW + 4, g.srcH + 5, m.comps, seed++, maxValue);
            Pic<T> dst(g.dstW, g.dstH, m.comps, 0, 0, 10);
            const std::vector<unsigned char> before = dst.bytes;
            ASSERT_EQ(m.fn(dst.row(0), dst.stride, g.dstW, g.dstH, src.at(2, 3), src.stride, g.srcW, g.srcH, m.comps,
                           bits),
                      0);
            const std::string what = std::string(m.name) + " " + std::to_string(g.srcW) + "x" +
                                     std::to_string(g.srcH) + " to " + std::to_string(g.dstW) + "x" +
                                     std::to_string(g.dstH);
            ExpectPicture(dst, Reference(src, g.dstW, g.dstH, 0, 0, g.dstW, g.dstH, false, false, 2, 3, g.srcW, g.srcH),
                          what);
            // Row padding stays as it was.
            for (unsigned y = 0; y < g.dstH; ++y)
                for (size_t b = size_t(g.dstW) * m.comps * sizeof(T); b < dst.stride; ++b)
                    ASSERT_EQ(dst.bytes[size_t(y) * dst.stride + b], before[size_t(y) * dst.stride + b]) << what;
        }
}

TEST(StretchHybrid, RectangleMembersMatchTheReference)
{
    CheckRectMembers<unsigned char>(8, 255);
    CheckRectMembers<unsigned short>(16, 65535);
    CheckRectMembers<unsigned short>(12, 4095);
}

TEST(StretchHybrid, DisplayMembersMatchTheReference)
{
    using Fn = int (*)(unsigned short*, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned, unsigned,
                       unsigned, unsigned short*, unsigned, unsigned, unsigned, bool, bool);
    struct Member {
        Fn fn;
        unsigned comps;
    } members[] = {{stretch_display_hybrid_mt_1<unsigned short>, 1},
                   {stretch_display_hybrid_mt_3<unsigned short>, 3},
                   {stretch_display_hybrid_mt_N<unsigned short>, 4}};
    struct View {
        unsigned zw, zh, sx, sy, dw, dh;
    } views[] = {
        {40, 30, 0, 0, 40, 30},   // the whole zoomed picture
        {40, 30, 5, 7, 20, 11},   // a scrolled view inside it
        {40, 30, 39, 29, 1, 1},   // the last zoomed pixel
        {64, 90, 10, 3, 54, 87},  // view reaching the zoomed edge
    };
    unsigned seed = 100;
    for (const Member& m : members)
        for (const View& v : views)
            for (int flips = 0; flips < 4; ++flips) {
                const bool fh = flips & 1, fv = flips & 2;
                Pic<unsigned short> src(123, 95, m.comps, seed++, 1023);
                Pic<unsigned short> dst(v.dw, v.dh, m.comps, 0, 0, 4);
                ASSERT_EQ(m.fn(dst.row(0), v.dw, v.dh, m.comps, dst.stride, 10, v.zw, v.zh, v.sx, v.sy, src.row(0), src.w,
                               src.h, src.stride, fh, fv),
                          0);
                ExpectPicture(dst, Reference(src, v.zw, v.zh, v.sx, v.sy, v.dw, v.dh, fh, fv),
                              "comps " + std::to_string(m.comps) + " view " + std::to_string(v.sx) + "," +
                                  std::to_string(v.sy) + " flips " + std::to_string(flips));
            }
}

TEST(StretchHybrid, ThreadsDrawTheSameAsOneThreadThroughTheWorker)
{
    // The two-thread driver against the thread entry drawing every row alone
    // from tables built here.
    for (unsigned comps : {1u, 3u, 7u}) {
        const unsigned sw = 301, sh = 211, dw = 37, dh = 23;
        Pic<unsigned char> src(sw, sh, comps, 7 + comps, 255);
        Pic<unsigned char> two(dw, dh, comps, 0, 0), one(dw, dh, comps, 0, 0);
        auto mt = comps == 1 ? stretch_hybrid_mt_1<unsigned char>
                             : comps == 3 ? stretch_hybrid_mt_3<unsigned char> : stretch_hybrid_mt_N<unsigned char>;
        auto entry = comps == 1 ? ThreadProc_Stretch_Hybrid_1
                                : comps == 3 ? ThreadProc_Stretch_Hybrid_3 : ThreadProc_Stretch_Hybrid_N;
        ASSERT_EQ(mt(two.row(0), two.stride, dw, dh, src.row(0), src.stride, sw, sh, comps, 8), 0);

        const auto cs = ReferenceStarts(sw, dw), rs = ReferenceStarts(sh, dh);
        std::vector<int> cols(dw);
        std::vector<long> rows(rs.begin(), rs.end());
        const int mult = comps <= 3 ? int(comps) : 1;
        for (unsigned i = 1; i < dw; ++i)
            cols[i] = int(cs[i] - cs[i - 1]) * mult;
        CKzHybridStretchJob job{};
        job.bits = 8;
        job.comps = (unsigned char)comps;
        job.dst = one.row(0);
        job.dstStride = one.stride;
        job.dstW = dw;
        job.endRow = dh;
        job.src = src.row(0);
        job.srcStride = src.stride;
        job.srcW = sw;
        job.srcH = sh;
        job.blockW = int(std::floor(double(sw) / dw + 0.5));
        job.blockH = int(std::floor(double(sh) / dh + 0.5));
        job.colTab = cols.data();
        job.rowTab = rows.data();
        job.startRow = 0;
        EXPECT_EQ(entry(&job), nullptr);
        EXPECT_EQ(two.bytes, one.bytes) << comps;
    }
    // The display form, flipped, against its entry.
    Pic<unsigned short> src(90, 70, 3, 5, 65535);
    Pic<unsigned short> two(20, 15, 3, 0, 0), one(20, 15, 3, 0, 0);
    ASSERT_EQ(stretch_display_hybrid_mt_3<unsigned short>(two.row(0), 20, 15, 3, two.stride, 16, 30, 25, 7, 9,
                                                          src.row(0), 90, 70, src.stride, true, true),
              0);
    const auto cs = ReferenceStarts(90, 30), rs = ReferenceStarts(70, 25);
    std::vector<int> cols(30);
    for (unsigned i = 0; i < 30; ++i)
        cols[i] = int(cs[i]) * 3;
    std::vector<long> rows(rs.begin(), rs.end());
    stretch_display_hybrid_st_3<unsigned short>(one.row(0), one.stride, 20, 15, src.row(0), src.stride, 90, 70, 3, 3,
                                                cols.data(), rows.data(), 0, 7, 9, true, true);
    EXPECT_EQ(two.bytes, one.bytes);
}

TEST(StretchHybrid, RefusedCallsDrawNothing)
{
    Pic<unsigned char> src(64, 64, 3, 1, 255);
    Pic<unsigned char> dst(16, 16, 3, 0, 0);
    Pic<unsigned short> src16(64, 64, 1, 2, 4095);
    const std::vector<unsigned char> before = dst.bytes;
    unsigned char* d = dst.row(0);
    unsigned short* d16 = reinterpret_cast<unsigned short*>(d);
    struct Case {
        const char* what;
        int got, want;
    } cases[] = {
        {"enlarging past two-fold: block width 0",
         stretch_hybrid_mt_3<unsigned char>(d, dst.stride, 16, 16, src.row(0), src.stride, 7, 64, 3, 8), -4},
        {"block height 0", stretch_hybrid_mt_1<unsigned char>(d, dst.stride, 16, 16, src.row(0), src.stride, 64, 7, 1, 8),
         -4},
        {"empty source", stretch_hybrid_mt_1<unsigned char>(d, dst.stride, 16, 16, src.row(0), src.stride, 0, 64, 1, 8),
         -4},
        {"65 components", stretch_hybrid_mt_N<unsigned char>(d, dst.stride, 1, 1, src.row(0), src.stride, 2, 2, 65, 8),
         -2},
        {"0 components", stretch_hybrid_mt_N<unsigned char>(d, dst.stride, 1, 1, src.row(0), src.stride, 2, 2, 0, 8),
         -4},
        {"bits 12 on bytes", stretch_hybrid_mt_3<unsigned char>(d, dst.stride, 16, 16, src.row(0), src.stride, 64, 64, 3, 12),
         -4},
        {"bits 8 on words",
         stretch_hybrid_mt_1<unsigned short>(d16, dst.stride, 16, 16, src16.row(0), src16.stride, 64, 64, 1, 8), -4},
        {"bits 17 on words",
         stretch_hybrid_mt_1<unsigned short>(d16, dst.stride, 16, 16, src16.row(0), src16.stride, 64, 64, 1, 17), -4},
        {"source row of 2^31 samples",
         stretch_hybrid_mt_3<unsigned char>(d, dst.stride, 16, 16, src.row(0), src.stride, 0x2AAAAAABu, 64, 3, 8), -4},
        {"scroll past the zoomed width",
         stretch_display_hybrid_mt_3<unsigned char>(d, 16, 16, 3, dst.stride, 8, 32, 32, 17, 0, src.row(0), 64, 64,
                                                    src.stride, false, false),
         -4},
        {"scroll past the zoomed height",
         stretch_display_hybrid_mt_1<unsigned char>(d, 16, 16, 1, dst.stride, 8, 32, 32, 0, 0xFFFFFFF8u, src.row(0), 64,
                                                    64, src.stride, false, false),
         -4},
        {"zoomed width 0",
         stretch_display_hybrid_mt_N<unsigned char>(d, 16, 16, 3, dst.stride, 8, 0, 32, 0, 0, src.row(0), 64, 64,
                                                    src.stride, false, false),
         -9},
        {"zoomed height 0 before an empty destination",
         stretch_display_hybrid_mt_1<unsigned char>(d, 0, 0, 1, dst.stride, 8, 32, 0, 0, 0, src.row(0), 64, 64,
                                                    src.stride, false, false),
         -9},
        {"destination width 0",
         stretch_hybrid_mt_3<unsigned char>(d, dst.stride, 0, 16, src.row(0), src.stride, 7, 64, 3, 99), 0},
        {"destination height 0",
         stretch_display_hybrid_mt_3<unsigned char>(d, 16, 0, 3, dst.stride, 8, 32, 32, 0, 0, src.row(0), 64, 64,
                                                    src.stride, false, false),
         0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
    EXPECT_EQ(dst.bytes, before);

    // A record whose bits fit no sample type draws nothing.
    CKzHybridStretchJob job{};
    job.bits = 7;
    job.dst = d;
    job.dstW = 16;
    job.endRow = 16;
    EXPECT_EQ(ThreadProc_Stretch_Hybrid_1(&job), nullptr);
    EXPECT_EQ(dst.bytes, before);
}

TEST(StretchHybrid, LastBlocksStayInsideAPictureEndingAtAGuardPage)
{
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    unsigned char* base =
        static_cast<unsigned char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(base, MAP_FAILED);
    ASSERT_EQ(mprotect(base + page, page, PROT_NONE), 0);
    struct Case {
        unsigned w, h, comps, dw, dh;
    } cases[] = {{97, 13, 3, 40, 6}, {1000, 3, 1, 300, 1}, {1000, 4, 1, 400, 2}, {50, 20, 1, 99, 39}, {6, 5, 64, 2, 2}};
    for (const Case& k : cases) {
        const size_t stride = size_t(k.w) * k.comps;
        unsigned char* src = base + page - stride * k.h;
        std::memset(src, 5, stride * k.h);
        std::vector<unsigned char> dst(size_t(k.dw) * k.dh * k.comps, 0);
        const int rc = k.comps == 1 ? stretch_hybrid_mt_1<unsigned char>(dst.data(), k.dw * k.comps, k.dw, k.dh, src,
                                                                         unsigned(stride), k.w, k.h, 1, 8)
                       : k.comps == 3 ? stretch_hybrid_mt_3<unsigned char>(dst.data(), k.dw * 3, k.dw, k.dh, src,
                                                                          unsigned(stride), k.w, k.h, 3, 8)
                                      : stretch_hybrid_mt_N<unsigned char>(dst.data(), k.dw * k.comps, k.dw, k.dh, src,
                                                                          unsigned(stride), k.w, k.h, k.comps, 8);
        ASSERT_EQ(rc, 0) << k.w;
        EXPECT_EQ(std::count(dst.begin(), dst.end(), 5), ptrdiff_t(dst.size())) << k.w;
        std::fill(dst.begin(), dst.end(), 0);
        if (k.comps == 1) {
            // The whole picture seen at about half size, scrolled to its far corner and mirrored.
            const unsigned zw = k.w / 2 + 1, zh = k.h / 2 + 1;
            ASSERT_EQ(stretch_display_hybrid_mt_1<unsigned char>(dst.data(), 1, 1, 1, 1, 8, zw, zh, zw - 1, zh - 1, src,
                                                                 k.w, k.h, unsigned(stride), true, true),
                      0);
            EXPECT_EQ(dst[0], 5);
        }
    }
    munmap(base, 2 * page);
}
}  // namespace
