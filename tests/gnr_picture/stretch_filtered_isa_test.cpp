// The 8-bit filtered stretch gives the same bytes on every instruction set:
// the wide-vector passes (taps gathered by byte permutation, pairs of taps
// multiplied and added as bytes or as 16-bit samples) against the plain row
// loops, over enlargements, reductions, rectangles away from the picture's
// edges (taps left of and above the rectangle) and ragged row ends.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/KzStretch.h"
#include "gnr_picture/internal/KzStretchTwoPass.h"

namespace {

struct IsaRestore {
    ~IsaRestore() { KzIsaLimit().store(int(KzIsa::Avx512)); }
};

struct Case {
    unsigned srcW, srcH, rectL, rectT, rectW, rectH, dstW, dstH, comps;
    bool bell;
};

// Weights that are no multiple of 4 anywhere: the 16-bit road.
double skewed(double x)
{
    const double a = x < 0 ? -x : x;
    return a < 1.0 ? (1.0 - a) * (1.0 - a) * 0.7 + 0.01 : 0.0;
}

std::vector<unsigned char> noise(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<unsigned char> v(n);
    for (auto& b : v)
        b = static_cast<unsigned char>(rng());
    return v;
}

bool wideVectors()
{
    KzIsaLimit().store(int(KzIsa::Avx512));
    return KzCpuIsa() == KzIsa::Avx512;
}

TEST(StretchFilteredIsa, TwoPassSameBytesOnEveryInstructionSet)
{
    if (!wideVectors())
        GTEST_SKIP() << "no 512-bit vectors here";
    IsaRestore restore;
    const Case cases[] = {
        {64, 48, 0, 0, 64, 48, 128, 96, 1, false},      // x2 up: byte pairs
        {64, 48, 0, 0, 64, 48, 128, 96, 3, false},
        {61, 37, 0, 0, 61, 37, 122, 74, 3, false},      // ragged row ends
        {100, 80, 13, 9, 47, 33, 94, 66, 1, false},     // rectangle inside: taps before it
        {100, 80, 13, 9, 47, 33, 141, 99, 3, true},     // x3 up, bell
        {90, 70, 5, 3, 60, 40, 90, 60, 4, false},       // x1.5 up, four components
        {50, 40, 0, 0, 50, 40, 50, 40, 3, true},        // equal size, bell 128/768/128
        {50, 40, 0, 0, 50, 40, 50, 40, 1, false},       // equal size, one tap of 1024
        {30, 30, 0, 0, 30, 30, 10, 10, 1, false},       // x1/3 down (too wide for one permutation)
        {120, 90, 7, 11, 100, 70, 83, 61, 3, false},    // mild reduction
        {7, 5, 0, 0, 7, 5, 3, 2, 1, false},             // 7 to 3: a zero weight in a list
        {4097, 3, 0, 0, 4097, 3, 8191, 7, 1, false},    // long rows
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.srcW << "x" << c.srcH << " rect " << c.rectL << "," << c.rectT << " "
                                        << c.rectW << "x" << c.rectH << " -> " << c.dstW << "x" << c.dstH << " comps "
                                        << c.comps << (c.bell ? " bell" : " triangle"));
        const unsigned srcStride = c.srcW * c.comps + 5;
        const std::vector<unsigned char> src = noise(size_t(srcStride) * c.srcH, c.srcW * 31 + c.comps);
        const unsigned dstStride = c.dstW * c.comps + 3;
        std::vector<unsigned char> got[2];
        for (int wide = 0; wide < 2; ++wide) {
            KzIsaLimit().store(int(wide ? KzIsa::Avx512 : KzIsa::Base));
            got[wide].assign(size_t(dstStride) * c.dstH, 0xA5);
            std::vector<unsigned char> s = src;
            ASSERT_EQ(KzFilteredStretch<unsigned char>(got[wide].data(), c.comps, dstStride, 8, c.dstW, c.dstH,
                                                       s.data() + size_t(c.rectT) * srcStride + c.rectL * c.comps,
                                                       srcStride, c.srcW, c.srcH, c.rectL, c.rectT, c.rectW, c.rectH,
                                                       c.bell),
                      0);
        }
        EXPECT_EQ(got[1], got[0]);
    }
}

// The single passes: a one-component pass over one component of a
// three-component source, every component of four, and a filter whose
// weights keep the 16-bit sums.
TEST(StretchFilteredIsa, SinglePassesSameBytesOnEveryInstructionSet)
{
    if (!wideVectors())
        GTEST_SKIP() << "no 512-bit vectors here";
    IsaRestore restore;
    struct Pass {
        unsigned comps, srcW, rectL, rectW, dstW, rows;
        double (*f)(double);
        unsigned D;
        int member; // 1: _1, 3: _3, 0: plain
    };
    const Pass passes[] = {
        {3, 80, 4, 70, 143, 9, triangle, 2, 1}, {3, 80, 0, 80, 160, 9, triangle, 2, 3},
        {4, 80, 2, 75, 150, 9, bell, 3, 0},     {1, 80, 3, 70, 131, 9, skewed, 2, 1},
        {3, 80, 3, 70, 131, 9, skewed, 2, 3},   {1, 200, 0, 200, 130, 9, skewed, 2, 1},
    };
    for (const Pass& p : passes) {
        SCOPED_TRACE(testing::Message() << "comps " << p.comps << " member " << p.member << " " << p.rectW << " -> "
                                        << p.dstW);
        const unsigned srcStride = p.srcW * p.comps + 1;
        const std::vector<unsigned char> src = noise(size_t(srcStride) * p.rows, p.dstW);
        const unsigned cc = p.member ? unsigned(p.member) : p.comps;
        // Horizontal pass, then a vertical pass over its rows (as a picture
        // of rows x dstW with cc components, rows taken as the rectangle).
        std::vector<unsigned char> h[2], v[2];
        for (int wide = 0; wide < 2; ++wide) {
            KzIsaLimit().store(int(wide ? KzIsa::Avx512 : KzIsa::Base));
            const unsigned hStride = p.dstW * cc + 2;
            h[wide].assign(size_t(hStride) * p.rows, 0x5A);
            std::vector<unsigned char> s = src;
            unsigned char* at = s.data() + p.rectL * p.comps;
            auto horz = p.member == 1 ? stretch_generic_horz_1<unsigned char>
                        : p.member == 3 ? stretch_generic_horz_3<unsigned char>
                                        : stretch_generic_horz<unsigned char>;
            ASSERT_EQ(horz(h[wide].data(), p.comps, hStride, 8, p.dstW, p.rows, at, srcStride, p.srcW, p.rows, p.rectL,
                           0, p.rectW, p.rows, p.f, p.D),
                      0);
            const unsigned dstH = p.rows * 2 + 1;
            const unsigned vStride = p.dstW * cc;
            v[wide].assign(size_t(vStride) * dstH, 0x3C);
            auto vert = cc == 1 ? stretch_generic_vert_1<unsigned char>
                        : cc == 3 ? stretch_generic_vert_3<unsigned char>
                                  : stretch_generic_vert<unsigned char>;
            ASSERT_EQ(vert(v[wide].data(), cc, vStride, 8, p.dstW, dstH, h[wide].data() + hStride, hStride, p.rows, 0,
                           1, p.dstW, p.rows - 2, p.f, p.D),
                      0);
        }
        EXPECT_EQ(h[1], h[0]);
        EXPECT_EQ(v[1], v[0]);
    }
}

} // namespace
