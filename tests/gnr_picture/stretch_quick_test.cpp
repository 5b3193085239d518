#include "gnr_picture/KzStretch.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

// A picture of w x h pixels of `comps` samples at a padded stride; sample
// values encode (x, y, component) so a wrong index shows.
template <class T>
struct Pic {
    unsigned w, h, comps, stride;  // stride in bytes
    std::vector<unsigned char> bytes;
    Pic(unsigned w_, unsigned h_, unsigned c_, unsigned pad = 6) : w(w_), h(h_), comps(c_)
    {
        stride = unsigned((w * c_ + pad) * sizeof(T));  // padding of whole samples: rows stay aligned
        bytes.assign(size_t(stride) * h + 16, 0xCD);
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x)
                for (unsigned c = 0; c < comps; ++c)
                    at(x, y)[c] = T((x * 7 + y * 131 + c * 17) % 251 + (sizeof(T) > 1 ? 300 : 0));
    }
    T* row(unsigned y) { return reinterpret_cast<T*>(bytes.data() + size_t(y) * stride); }
    T* at(unsigned x, unsigned y) { return row(y) + size_t(x) * comps; }
};

// Reference index rules, written from their definitions.
unsigned CentreRule(unsigned i, unsigned num, unsigned den, unsigned limit)
{
    const double v = std::floor((double(i) + 0.5) * (double(num) / double(den)));
    return v >= limit ? limit - 1 : unsigned(v);
}
unsigned FloatRule(unsigned i, unsigned num, unsigned den, unsigned limit)
{
    const float ratio = float(num) / float(den);
    const double v = ratio > 1.0f ? double(std::floor(float(i) * ratio)) : std::floor((i + 0.5) * double(ratio));
    return v >= limit ? limit - 1 : unsigned(v);
}

template <class T>
void ExpectPixel(const T* got, const T* want, unsigned comps, const char* what, unsigned i, unsigned j)
{
    for (unsigned c = 0; c < comps; ++c)
        ASSERT_EQ(got[c], want[c]) << what << " pixel (" << i << ", " << j << ") component " << c;
}

struct RectCase {
    unsigned srcW, srcH, left, top, rw, rh, dstW, dstH;
};
const RectCase kRectCases[] = {
    {16, 12, 0, 0, 16, 12, 16, 12},  // identity
    {16, 12, 0, 0, 16, 12, 8, 6},    // exactly one half
    {16, 12, 3, 2, 5, 4, 10, 8},     // enlarge by 2
    {16, 12, 3, 2, 5, 4, 15, 12},    // enlarge by 3
    {16, 12, 10, 9, 9, 7, 13, 11},   // rectangle reaching past the picture: clamped
    {20, 9, 1, 1, 17, 7, 6, 5},      // reduction by an odd factor
};

template <class T, class Fn>
void CheckRect(unsigned comps, Fn&& stretch, bool floatRule)
{
    for (const RectCase& k : kRectCases) {
        Pic<T> src(k.srcW, k.srcH, comps);
        Pic<T> dst(k.dstW, k.dstH, comps, 10);
        std::vector<unsigned char> untouched = dst.bytes;
        ASSERT_EQ(stretch(reinterpret_cast<T*>(dst.bytes.data()), comps, dst.stride, k.dstW, k.dstH, src.at(k.left, k.top),
                          src.stride, k.srcW, k.srcH, k.left, k.top, k.rw, k.rh),
                  0);
        for (unsigned j = 0; j < k.dstH; ++j) {
            const unsigned r = floatRule ? FloatRule(j, k.rh, k.dstH, k.srcH - k.top) : CentreRule(j, k.rh, k.dstH, k.srcH - k.top);
            // The float members take the source width from the row bytes, so
            // whole pixels of row padding count into it.
            const unsigned width = floatRule ? (src.stride / 4) / comps : k.srcW;
            for (unsigned i = 0; i < k.dstW; ++i) {
                const unsigned c = floatRule ? FloatRule(i, k.rw, k.dstW, width - k.left) : CentreRule(i, k.rw, k.dstW, k.srcW - k.left);
                ExpectPixel(dst.at(i, j), src.at(k.left + c, k.top + r), comps, "rect", i, j);
            }
            // The padding after each row stays as it was.
            const size_t rowEnd = size_t(j) * dst.stride + size_t(k.dstW) * comps * sizeof(T);
            for (size_t b = rowEnd; b < size_t(j + 1) * dst.stride; ++b)
                ASSERT_EQ(dst.bytes[b], untouched[b]);
        }
    }
}

TEST(StretchQuick, RectangleMembersFollowTheCentreRule)
{
    for (unsigned comps : {1u, 3u, 4u}) {
        CheckRect<unsigned char>(comps, [&](unsigned char* d, unsigned c, unsigned ds, auto... a) {
            return comps == 1 ? stretch_quick_1<unsigned char>(d, c, ds, 8, a...)
                   : comps == 3 ? stretch_quick_3<unsigned char>(d, c, ds, 8, a...)
                                : stretch_quick<unsigned char>(d, c, ds, 8, a...);
        }, false);
        CheckRect<unsigned short>(comps, [&](unsigned short* d, unsigned c, unsigned ds, auto... a) {
            return comps == 1 ? stretch_quick_1<unsigned short>(d, c, ds, 12, a...)
                   : comps == 3 ? stretch_quick_3<unsigned short>(d, c, ds, 12, a...)
                                : stretch_quick<unsigned short>(d, c, ds, 12, a...);
        }, false);
    }
}

TEST(StretchQuick, FloatRectangleTakesTheFirstPixelOfEachBlockWhenReducing)
{
    for (unsigned comps : {1u, 3u, 2u})
        CheckRect<float>(comps, [&](float* d, unsigned c, unsigned ds, unsigned dw, unsigned dh, float* s, unsigned ss,
                                    unsigned sw, unsigned sh, unsigned l, unsigned t, unsigned rw, unsigned rh) {
            (void)sw;
            return comps == 1 ? stretch_float_quick_1(d, c, ds, dw, dh, s, ss, sh, l, t, rw, rh)
                   : comps == 3 ? stretch_float_quick_3(d, c, ds, dw, dh, s, ss, sh, l, t, rw, rh)
                                : stretch_float_quick(d, c, ds, dw, dh, s, ss, sh, l, t, rw, rh);
        }, true);
    // Exactly one half: integer rule takes 2i + 1, float rule 2i; enlarging by 3: 0, 0, 0, 1, 1, 1.
    EXPECT_EQ(CentreRule(3, 16, 8, 16), 7u);
    EXPECT_EQ(FloatRule(3, 16, 8, 16), 6u);
    float src[4] = {10, 11, 12, 13}, dst[6];
    ASSERT_EQ(stretch_float_quick_1(dst, 1, 24, 6, 1, src, 16, 1, 0, 0, 2, 1), 0);
    EXPECT_EQ(std::vector<float>(dst, dst + 6), (std::vector<float>{10, 10, 10, 11, 11, 11}));
}

template <class T>
void CheckDisplay(unsigned comps)
{
    struct Case {
        unsigned srcW, srcH, zoomW, zoomH, sx, sy, dstW, dstH;
        bool fh, fv;
    } cases[] = {
        {12, 10, 12, 10, 0, 0, 8, 6, false, false},     // zoom 1: the top-left block
        {12, 10, 30, 25, 7, 4, 11, 9, true, false},     // enlargement, mirrored columns
        {12, 10, 30, 25, 7, 4, 11, 9, false, true},     // mirrored rows
        {12, 10, 5, 4, 1, 0, 5, 4, true, true},         // reduction, both flips
        {12, 10, 24, 20, 30, 25, 6, 5, false, false},   // scrolled past the zoomed picture: last column and row
    };
    for (const auto& k : cases) {
        Pic<T> src(k.srcW, k.srcH, comps);
        Pic<T> dst(k.dstW, k.dstH, comps, 4);
        int r;
        if (comps == 1)
            r = stretch_quick_display_1<T>(dst.row(0), k.dstW, k.dstH, 1, dst.stride, 8, k.zoomW, k.zoomH, k.sx, k.sy, src.row(0), k.srcW, k.srcH, src.stride, k.fh, k.fv);
        else if (comps == 3)
            r = stretch_quick_display_3<T>(dst.row(0), k.dstW, k.dstH, 3, dst.stride, 8, k.zoomW, k.zoomH, k.sx, k.sy, src.row(0), k.srcW, k.srcH, src.stride, k.fh, k.fv);
        else
            r = stretch_quick_display<T>(dst.row(0), k.dstW, k.dstH, comps, dst.stride, 8, k.zoomW, k.zoomH, k.sx, k.sy, src.row(0), k.srcW, k.srcH, src.stride, k.fh, k.fv);
        ASSERT_EQ(r, 0);
        for (unsigned j = 0; j < k.dstH; ++j)
            for (unsigned i = 0; i < k.dstW; ++i) {
                const unsigned p = k.fh ? k.sx + k.dstW - 1 - i : k.sx + i;
                const unsigned q = k.fv ? k.sy + k.dstH - 1 - j : k.sy + j;
                ExpectPixel(dst.at(i, j), src.at(CentreRule(p, k.srcW, k.zoomW, k.srcW), CentreRule(q, k.srcH, k.zoomH, k.srcH)), comps, "display", i, j);
            }
    }
}

TEST(StretchQuick, DisplayMembersShowTheZoomedPictureFromTheScrollOffset)
{
    for (unsigned comps : {1u, 3u, 5u}) {
        CheckDisplay<unsigned char>(comps);
        CheckDisplay<unsigned short>(comps);
        CheckDisplay<float>(comps);
    }
}

TEST(StretchQuick, WindowedDisplayReadsOnlyInsideTheWindow)
{
    for (unsigned comps : {1u, 3u, 2u}) {
        const unsigned srcW = 20, srcH = 16;
        Pic<unsigned short> src(srcW, srcH, comps);
        struct Win {
            unsigned l, t, w, h, zoomW, zoomH, sx, sy, dstW, dstH;
        } wins[] = {
            {0, 0, srcW, srcH, 40, 32, 6, 3, 15, 12},  // whole picture: the plain display stretch
            {4, 3, 9, 8, 40, 32, 6, 3, 25, 20},        // rows and columns on both sides of the window
            {5, 5, 1, 1, 20, 16, 0, 0, 20, 16},        // one-pixel window
        };
        for (const Win& k : wins) {
            // Poison everything outside the window: a read there would show.
            Pic<unsigned short> poisoned = src;
            for (unsigned y = 0; y < srcH; ++y)
                for (unsigned x = 0; x < srcW; ++x)
                    if (x < k.l || x >= k.l + k.w || y < k.t || y >= k.t + k.h)
                        for (unsigned c = 0; c < comps; ++c)
                            poisoned.at(x, y)[c] = 0xDEAD;
            std::vector<unsigned short> bg(comps, 0xBEEF);
            Pic<unsigned short> dst(k.dstW, k.dstH, comps, 2);
            int r = comps == 1 ? stretch_quick_display_ex_1<unsigned short>(dst.row(0), k.dstW, k.dstH, 1, dst.stride, 12, k.zoomW, k.zoomH, k.sx, k.sy, poisoned.row(0), k.l, k.t, k.w, k.h, srcW, srcH, poisoned.stride, bg.data())
                    : comps == 3 ? stretch_quick_display_ex_3<unsigned short>(dst.row(0), k.dstW, k.dstH, 3, dst.stride, 12, k.zoomW, k.zoomH, k.sx, k.sy, poisoned.row(0), k.l, k.t, k.w, k.h, srcW, srcH, poisoned.stride, bg.data())
                                 : stretch_quick_display_ex<unsigned short>(dst.row(0), k.dstW, k.dstH, comps, dst.stride, 12, k.zoomW, k.zoomH, k.sx, k.sy, poisoned.row(0), k.l, k.t, k.w, k.h, srcW, srcH, poisoned.stride, bg.data());
            ASSERT_EQ(r, 0);
            for (unsigned j = 0; j < k.dstH; ++j)
                for (unsigned i = 0; i < k.dstW; ++i) {
                    const unsigned c = CentreRule(k.sx + i, srcW, k.zoomW, srcW);
                    const unsigned rr = CentreRule(k.sy + j, srcH, k.zoomH, srcH);
                    const bool inside = c >= k.l && c < k.l + k.w && rr >= k.t && rr < k.t + k.h;
                    for (unsigned q = 0; q < comps; ++q) {
                        ASSERT_NE(dst.at(i, j)[q], 0xDEAD) << "read outside the window at (" << i << ", " << j << ")";
                        ASSERT_EQ(dst.at(i, j)[q], inside ? src.at(c, rr)[q] : 0xBEEF) << i << " " << j;
                    }
                }
        }
    }
}

TEST(StretchQuick, HostileGeometryIsRefusedBeforeWriting)
{
    Pic<unsigned char> src(8, 8, 3);
    Pic<unsigned char> dst(8, 8, 3);
    const std::vector<unsigned char> before = dst.bytes;
    unsigned char bg[3] = {};
    struct Case {
        const char* what;
        int got, want;
    } cases[] = {
        {"origin past the width", stretch_quick<unsigned char>(dst.row(0), 3, dst.stride, 8, 8, 8, src.row(0), src.stride, 8, 8, 8, 0, 4, 4), -4},
        {"origin past the height", stretch_quick_3<unsigned char>(dst.row(0), 3, dst.stride, 8, 8, 8, src.row(0), src.stride, 8, 8, 0, 9, 4, 4), -4},
        {"_1 member with three components", stretch_quick_1<unsigned char>(dst.row(0), 3, dst.stride, 8, 8, 8, src.row(0), src.stride, 8, 8, 0, 0, 4, 4), -4},
        {"_3 member with one component", stretch_quick_display_3<unsigned char>(dst.row(0), 8, 8, 1, dst.stride, 8, 8, 8, 0, 0, src.row(0), 8, 8, src.stride, false, false), -4},
        {"no components", stretch_quick<unsigned char>(dst.row(0), 0, dst.stride, 8, 8, 8, src.row(0), src.stride, 8, 8, 0, 0, 4, 4), -4},
        {"zoomed width 0", stretch_quick_display<unsigned char>(dst.row(0), 8, 8, 3, dst.stride, 8, 0, 8, 0, 0, src.row(0), 8, 8, src.stride, false, false), -9},
        {"zoomed height 0", stretch_quick_display_ex<unsigned char>(dst.row(0), 8, 8, 3, dst.stride, 8, 8, 0, 0, 0, src.row(0), 0, 0, 8, 8, 8, 8, src.stride, bg), -9},
        {"window past the picture", stretch_quick_display_ex_3<unsigned char>(dst.row(0), 8, 8, 3, dst.stride, 8, 8, 8, 0, 0, src.row(0), 4, 0, 0xFFFFFFFEu, 8, 8, 8, src.stride, bg), -4},
        {"empty source", stretch_quick_display<unsigned char>(dst.row(0), 8, 8, 3, dst.stride, 8, 8, 8, 0, 0, src.row(0), 0, 8, src.stride, false, false), -4},
        {"float row bytes below one pixel", stretch_float_quick(reinterpret_cast<float*>(dst.row(0)), 3, dst.stride, 2, 2, reinterpret_cast<float*>(src.row(0)), 8, 8, 0, 0, 1, 1), -4},
        {"destination width 0", stretch_quick<unsigned char>(dst.row(0), 3, dst.stride, 8, 0, 8, src.row(0), src.stride, 8, 8, 9, 9, 4, 4), 0},
        {"destination height 0", stretch_quick_display_1<unsigned char>(dst.row(0), 8, 0, 1, dst.stride, 8, 8, 8, 0, 0, src.row(0), 8, 8, src.stride, false, false), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
    EXPECT_EQ(dst.bytes, before);
}

TEST(StretchQuick, HugeRatiosAndScrollsStayInsideThePicture)
{
    // A picture ending at an inaccessible page: any read past its last sample faults.
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    unsigned char* base = static_cast<unsigned char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
    mprotect(base + page, page, PROT_NONE);
    const unsigned w = 10, h = 10;
    unsigned char* src = base + page - w * h;
    std::memset(src, 3, w * h);
    std::vector<unsigned char> dst(64 * 64, 0);
    unsigned char bg = 7;
    EXPECT_EQ(stretch_quick_1<unsigned char>(dst.data(), 1, 64, 8, 64, 64, src, w, w, h, 9, 9, 0xFFFFFFFFu, 0xFFFFFFFFu), 0);
    EXPECT_EQ(std::count(dst.begin(), dst.end(), 3), 64 * 64);
    std::fill(dst.begin(), dst.end(), 0);
    EXPECT_EQ(stretch_quick_display_1<unsigned char>(dst.data(), 64, 64, 1, 64, 8, 1, 1, 0xFFFFFF00u, 0xFFFFFF00u, src, w, h, w, true, true), 0);
    EXPECT_EQ(std::count(dst.begin(), dst.end(), 3), 64 * 64);
    std::fill(dst.begin(), dst.end(), 0);
    EXPECT_EQ(stretch_quick_display_ex_1<unsigned char>(dst.data(), 64, 64, 1, 64, 8, 3, 3, 0xFFFFFFF0u, 2, src, 2, 2, 8, 8, w, h, w, &bg), 0);
    EXPECT_EQ(std::count(dst.begin(), dst.end(), 3) + std::count(dst.begin(), dst.end(), 7), 64 * 64);
    munmap(base, 2 * page);
}
}  // namespace
