#include "gnr_picture/KzStretch.h"

#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

// A packed 1-bit picture with random bits (padding bytes included).
struct Bits {
    unsigned w, h, stride;
    std::vector<unsigned char> bytes;
    Bits(unsigned w_, unsigned h_, unsigned pad, unsigned seed) : w(w_), h(h_)
    {
        stride = (w + 7) / 8 + pad;
        bytes.resize(size_t(stride) * h + 8);
        std::mt19937 rng(seed);
        for (auto& b : bytes)
            b = (unsigned char)rng();
    }
    unsigned get(unsigned x, unsigned y) const { return (bytes[size_t(y) * stride + x / 8] >> (7 - x % 8)) & 1u; }
};

unsigned Rule(double i, unsigned num, unsigned den, unsigned long limit)
{
    const double v = std::floor((i + 0.5) * (double(num) / double(den)));
    return v >= double(limit) ? unsigned(limit - 1) : unsigned(v);
}

// Expected destination bit (x, y) of the rectangle form, from the definition.
unsigned RectBit(const Bits& s, unsigned left, unsigned top, unsigned rw, unsigned rh, unsigned dw, unsigned dh,
                 unsigned x, unsigned y)
{
    const unsigned c = Rule(x, rw, dw, (unsigned long)s.stride * 8 - left);
    const unsigned r = Rule(y, rh, dh, s.h - top);
    return s.get(left + c, top + r);
}

void ExpectRows(const std::vector<unsigned char>& d, unsigned stride, unsigned dw, unsigned dh,
                const std::function<unsigned(unsigned, unsigned)>& want, const std::string& what)
{
    for (unsigned y = 0; y < dh; ++y) {
        for (unsigned x = 0; x < dw; ++x)
            ASSERT_EQ((d[size_t(y) * stride + x / 8] >> (7 - x % 8)) & 1u, want(x, y))
                << what << " pixel (" << x << ", " << y << ")";
        if (dw % 8)
            ASSERT_EQ(d[size_t(y) * stride + dw / 8] & ((1u << (8 - dw % 8)) - 1), 0u) << what << " tail bits row " << y;
    }
}

struct RectCase {
    unsigned w, h, left, top, rw, rh, dw, dh;
} kRect[] = {
    {40, 9, 3, 2, 21, 5, 21, 5},    // same size: realigned copy
    {40, 9, 0, 0, 12, 9, 12, 9},    // twelve columns: two bytes, low bits 0
    {33, 7, 5, 1, 16, 6, 32, 12},   // x2 both ways
    {33, 7, 5, 1, 16, 6, 32, 18},   // x2 across, x3 down: room 4
    {33, 7, 9, 0, 16, 7, 160, 8},   // across far beyond down
    {33, 7, 9, 0, 16, 7, 300, 3},   // across enlarged, down reduced: direct path
    {64, 20, 1, 3, 60, 17, 23, 5},  // reduction both ways
    {30, 6, 25, 4, 20, 9, 17, 13},  // rectangle past the picture: clamped
};

TEST(StretchBinary, RectangleFormMatchesTheIndexRules)
{
    unsigned seed = 3;
    for (const RectCase& k : kRect) {
        Bits s(k.w, k.h, 3, seed++);
        const unsigned dstStride = (k.dw + 7) / 8 + 2;
        const unsigned char* at = s.bytes.data() + size_t(k.top) * s.stride + k.left / 8;
        const std::string what = std::to_string(k.rw) + "x" + std::to_string(k.rh) + " to " + std::to_string(k.dw) +
                                 "x" + std::to_string(k.dh);
        auto want = [&](unsigned x, unsigned y) { return RectBit(s, k.left, k.top, k.rw, k.rh, k.dw, k.dh, x, y); };
        std::vector<unsigned char> viaDispatch(size_t(dstStride) * k.dh, 0xA5), viaUp(viaDispatch);
        ASSERT_EQ(stretch_quick_binary(viaDispatch.data(), dstStride, k.dw, k.dh, const_cast<unsigned char*>(at),
                                       s.stride, k.h, k.left, k.top, k.rw, k.rh),
                  0);
        ExpectRows(viaDispatch, dstStride, k.dw, k.dh, want, what + " dispatched");
        ASSERT_EQ(stretch_quick_binary_up(viaUp.data(), dstStride, k.dw, k.dh, const_cast<unsigned char*>(at),
                                          s.stride, k.h, k.left, k.top, k.rw, k.rh),
                  0);
        ExpectRows(viaUp, dstStride, k.dw, k.dh, want, what + " enlarging path");
        // The enlarging path clears the row padding; a vertical reduction
        // (direct path) leaves it alone.
        const bool direct = k.rh >= k.dh;
        for (unsigned y = 0; y < k.dh; ++y)
            for (unsigned b = (k.dw + 7) / 8; b < dstStride; ++b) {
                EXPECT_EQ(viaUp[size_t(y) * dstStride + b], 0) << what;
                EXPECT_EQ(viaDispatch[size_t(y) * dstStride + b], direct ? 0xA5 : 0) << what;
            }
    }
}

TEST(StretchBinary, DisplayFormPathsAgreeWithFlipsAndScrolls)
{
    struct View {
        unsigned zw, zh, sx, sy, dw, dh;
    } views[] = {
        {50, 40, 0, 0, 50, 40},      // x2
        {75, 60, 7, 11, 29, 30},     // x3, scrolled
        {250, 25, 13, 2, 200, 17},   // across far beyond down
        {12, 10, 0, 0, 12, 10},      // reduction: direct path
        {50, 40, 40, 35, 30, 20},    // view past the zoomed edge: last pixels repeat
    };
    unsigned seed = 50;
    for (const View& v : views)
        for (int flips = 0; flips < 4; ++flips) {
            const bool fh = flips & 1, fv = flips & 2;
            Bits s(25, 20, 1, seed++);
            const unsigned dstStride = (v.dw + 7) / 8 + 1;
            const std::string what = "view " + std::to_string(v.zw) + "x" + std::to_string(v.zh) + " flips " +
                                     std::to_string(flips);
            auto want = [&](unsigned x, unsigned y, bool mirrorH) {
                const unsigned p = mirrorH ? v.sx + v.dw - 1 - x : v.sx + x;
                const unsigned q = fv ? v.sy + v.dh - 1 - y : v.sy + y;
                return s.get(Rule(p, s.w, v.zw, s.w), Rule(q, s.h, v.zh, s.h));
            };
            std::vector<unsigned char> a(size_t(dstStride) * v.dh, 0x5A), b(a);
            ASSERT_EQ(stretch_quick_binary_display(a.data(), v.dw, v.dh, dstStride, v.zw, v.zh, v.sx, v.sy,
                                                   s.bytes.data(), s.w, s.h, s.stride, fh, fv),
                      0);
            ExpectRows(a, dstStride, v.dw, v.dh, [&](unsigned x, unsigned y) { return want(x, y, fh); }, what);
            // The enlarging member ignores the horizontal flip.
            ASSERT_EQ(stretch_quick_binary_display_up(b.data(), v.dw, v.dh, dstStride, v.zw, v.zh, v.sx, v.sy,
                                                      s.bytes.data(), s.w, s.h, s.stride, fh, fv),
                      0);
            ExpectRows(b, dstStride, v.dw, v.dh, [&](unsigned x, unsigned y) { return want(x, y, false); },
                       what + " enlarging path");
        }
}

TEST(StretchBinary, RefusedGeometryWritesNothing)
{
    Bits s(32, 8, 0, 9);
    std::vector<unsigned char> d(64, 0x77);
    const std::vector<unsigned char> before = d;
    unsigned char* p = s.bytes.data();
    struct Case {
        const char* what;
        int got, want;
    } cases[] = {
        {"left at row bytes x 8", stretch_quick_binary(d.data(), 8, 8, 8, p, 4, 8, 32, 0, 4, 4), -4},
        {"left far past the row (enlarging)", stretch_quick_binary_up(d.data(), 8, 8, 8, p, 4, 8, 0xFFFFFFF0u, 0, 4, 4), -4},
        {"top at the source height", stretch_quick_binary(d.data(), 8, 8, 8, p, 4, 8, 0, 8, 4, 4), -4},
        {"empty display source", stretch_quick_binary_display(d.data(), 8, 8, 8, 16, 16, 0, 0, p, 0, 8, 4, false, false), -4},
        {"zoomed width 0", stretch_quick_binary_display(d.data(), 8, 8, 8, 0, 16, 0, 0, p, 32, 8, 4, false, false), -9},
        {"zoomed height 0", stretch_quick_binary_display_up(d.data(), 0, 0, 8, 16, 0, 0, 0, p, 32, 8, 4, false, false), -9},
        {"destination height 0", stretch_quick_binary_up(d.data(), 8, 8, 0, p, 4, 8, 99, 99, 4, 4), 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
    EXPECT_EQ(d, before);
}

TEST(StretchBinary, HugeHorizontalEnlargementStaysExact)
{
    // One source byte feeding far more than 255 destination bytes: the same
    // pixels as the rule gives.
    Bits s(8, 2, 0, 77);
    const unsigned dw = 8 * 300 * 8, dh = 3, stride = dw / 8;
    std::vector<unsigned char> d(size_t(stride) * dh, 0x11);
    ASSERT_EQ(stretch_quick_binary_up(d.data(), stride, dw, dh, s.bytes.data(), s.stride, 2, 0, 0, 8, 2), 0);
    ExpectRows(d, stride, dw, dh, [&](unsigned x, unsigned y) { return RectBit(s, 0, 0, 8, 2, dw, dh, x, y); },
               "x2400");
}

// The bytes of a packed picture, copied so that they end exactly at an
// inaccessible page: any read past the last byte of the last row faults.
struct GuardedBits {
    unsigned char* base = nullptr;
    unsigned char* data = nullptr;
    size_t mapped = 0;
    explicit GuardedBits(const Bits& s)
    {
        const size_t bytes = size_t(s.stride) * s.h;
        const size_t page = size_t(sysconf(_SC_PAGESIZE));
        const size_t pages = (bytes + page - 1) / page + 1;
        void* p = mmap(nullptr, pages * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED)
            return;
        mapped = pages * page;
        base = static_cast<unsigned char*>(p);
        if (mprotect(base + (pages - 1) * page, page, PROT_NONE) != 0)
            return;
        data = base + (pages - 1) * page - bytes;
        std::memcpy(data, s.bytes.data(), bytes);
    }
    ~GuardedBits()
    {
        if (base)
            munmap(base, mapped);
    }
};

TEST(StretchBinary, PicturesEndingAtAGuardPage)
{
    // 37 x 11 bits with one padding byte a row: 6 bytes, 48 bits a row.
    Bits s(37, 11, 1, 123);
    GuardedBits g(s);
    ASSERT_NE(g.data, nullptr);

    // Rectangles reaching the last row and the last byte of the rows, on both
    // paths, enlarged and reduced; rectangles past the picture are clamped.
    struct RectView {
        unsigned left, top, rw, rh, dw, dh;
    } rects[] = {
        {0, 0, 37, 11, 37, 11},    // whole picture, same size
        {35, 10, 2, 1, 64, 9},     // last pixels, enlarged both ways
        {30, 5, 40, 20, 90, 33},   // past the picture: clamped
        {9, 3, 28, 8, 5, 2},       // reduction onto the last row
        {47, 10, 1, 1, 300, 4},    // the last padding bit, far enlarged
        {40, 0, 8, 11, 1000, 3},   // padding columns across far beyond down
    };
    for (const RectView& v : rects) {
        const std::string what = "rectangle at " + std::to_string(v.left) + "," + std::to_string(v.top) + " to " +
                                 std::to_string(v.dw) + "x" + std::to_string(v.dh);
        unsigned char* at = g.data + size_t(v.top) * s.stride + v.left / 8;
        const unsigned dstStride = (v.dw + 7) / 8 + 1;
        auto want = [&](unsigned x, unsigned y) { return RectBit(s, v.left, v.top, v.rw, v.rh, v.dw, v.dh, x, y); };
        std::vector<unsigned char> a(size_t(dstStride) * v.dh, 0x3C), b(a);
        ASSERT_EQ(stretch_quick_binary(a.data(), dstStride, v.dw, v.dh, at, s.stride, s.h, v.left, v.top, v.rw, v.rh),
                  0)
            << what;
        ExpectRows(a, dstStride, v.dw, v.dh, want, what + " dispatched");
        ASSERT_EQ(
            stretch_quick_binary_up(b.data(), dstStride, v.dw, v.dh, at, s.stride, s.h, v.left, v.top, v.rw, v.rh), 0)
            << what;
        ExpectRows(b, dstStride, v.dw, v.dh, want, what + " enlarging path");
    }

    // Display views scrolled to and past the zoomed edge, with every flip.
    struct View {
        unsigned zw, zh, sx, sy, dw, dh;
    } views[] = {
        {37, 11, 0, 0, 37, 11},       // 1:1
        {111, 44, 90, 30, 40, 20},    // enlarged, scrolled past the edge
        {370, 22, 300, 15, 200, 9},   // across far beyond down, at the edge
        {12, 5, 3, 2, 12, 5},         // reduced, past the edge
    };
    for (const View& v : views)
        for (int flips = 0; flips < 4; ++flips) {
            const bool fh = flips & 1, fv = flips & 2;
            const std::string what = "view " + std::to_string(v.zw) + "x" + std::to_string(v.zh) + " flips " +
                                     std::to_string(flips);
            auto want = [&](unsigned x, unsigned y, bool mirrorH) {
                const unsigned p = mirrorH ? v.sx + v.dw - 1 - x : v.sx + x;
                const unsigned q = fv ? v.sy + v.dh - 1 - y : v.sy + y;
                return s.get(Rule(p, s.w, v.zw, s.w), Rule(q, s.h, v.zh, s.h));
            };
            const unsigned dstStride = (v.dw + 7) / 8 + 1;
            std::vector<unsigned char> a(size_t(dstStride) * v.dh, 0xC3), b(a);
            ASSERT_EQ(stretch_quick_binary_display(a.data(), v.dw, v.dh, dstStride, v.zw, v.zh, v.sx, v.sy, g.data, s.w,
                                                   s.h, s.stride, fh, fv),
                      0)
                << what;
            ExpectRows(a, dstStride, v.dw, v.dh, [&](unsigned x, unsigned y) { return want(x, y, fh); }, what);
            ASSERT_EQ(stretch_quick_binary_display_up(b.data(), v.dw, v.dh, dstStride, v.zw, v.zh, v.sx, v.sy, g.data,
                                                      s.w, s.h, s.stride, fh, fv),
                      0)
                << what;
            ExpectRows(b, dstStride, v.dw, v.dh, [&](unsigned x, unsigned y) { return want(x, y, false); },
                       what + " enlarging path");
        }
}
}  // namespace
