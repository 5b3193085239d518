// Integer filters against scipy, local contrast rules, placement helpers,
// small kernels and the diffusion building blocks.

#include "floatpic_support.h"

#include "gnr_picture/KzIntFilters.h"

using namespace floatpic_test;
using P = CKzPicBufAPI;

namespace {
#include "floatpic_reference.inc"

TEST(FloatPicInt, BoxMeanMatchesScipy)
{
    IPic s8(kIW, kIH, 8, 1), d8(kIW, kIH, 8, 1), s12(kIW, kIH, 12, 1), d12(kIW, kIH, 12, 1);
    for (unsigned y = 0; y < kIH; ++y)
        for (unsigned x = 0; x < kIW; ++x) {
            s8.at<unsigned char>(x, y) = kInt8Src[y * kIW + x];
            s12.at<unsigned short>(x, y) = kInt12Src[y * kIW + x];
        }
    for (const auto& c : kIntBoxCases) {
        ASSERT_EQ(SmoothSquare_1x8(d8.get(), s8.get(), int(c.size)), 0);
        ASSERT_EQ(SmoothSquare_1x16(d12.get(), s12.get(), int(c.size)), 0);
        for (unsigned y = 0; y < kIH; ++y)
            for (unsigned x = 0; x < kIW; ++x) {
                ASSERT_EQ(d8.at<unsigned char>(x, y), c.e8[y * kIW + x]) << c.size << " at " << x << "," << y;
                ASSERT_EQ(d12.at<unsigned short>(x, y), c.e12[y * kIW + x]) << c.size << " at " << x << "," << y;
            }
        ASSERT_EQ(P::SmoothSquare(d8.get(), s8.get(), int(c.size)), 0);
        EXPECT_EQ(d8.at<unsigned char>(3, 4), c.e8[4 * kIW + 3]);
    }
    EXPECT_NEAR(GetImmerkaerNoiseEstimation1x8(s8.get()), kImmerkaer8, 1e-9 * kImmerkaer8);
    EXPECT_NEAR(GetImmerkaerNoiseEstimation1x16(s12.get()), kImmerkaer12, 1e-9 * kImmerkaer12);
    IPic two(10, 2, 16, 1);
    EXPECT_EQ(GetImmerkaerNoiseEstimation1x16(two.get()), 0.0);
}

TEST(FloatPicInt, BoxMeanExamplesAndShapes)
{
    IPic s(3, 3, 8, 1), d(3, 3, 8, 1);
    s.at<unsigned char>(1, 1) = 8;
    ASSERT_EQ(SmoothSquare_1x8(d.get(), s.get(), 3), 0);
    EXPECT_EQ(d.at<unsigned char>(0, 0), 2);
    EXPECT_EQ(d.at<unsigned char>(1, 0), 1);
    EXPECT_EQ(d.at<unsigned char>(1, 1), 0);
    EXPECT_EQ(SmoothSquare_1x8(d.get(), s.get(), 1), -2);
    EXPECT_EQ(P::SmoothSquare(d.get(), s.get(), 1), -9);
    IPic deep(3, 3, 32, 1), deep2(3, 3, 32, 1), w16(3, 3, 16, 1);
    EXPECT_EQ(P::SmoothSquare(deep2.get(), deep.get(), 3), -2);
    EXPECT_EQ(SmoothSquare_1x8(w16.get(), s.get(), 3), -9);
    // Several components, each by itself; in place.
    IPic rgb(4, 3, 8, 3), out(4, 3, 8, 3);
    for (unsigned y = 0; y < 3; ++y)
        for (unsigned x = 0; x < 4; ++x)
            for (unsigned k = 0; k < 3; ++k)
                rgb.at<unsigned char>(x, y, k) = (unsigned char)(k == 1 ? 200 : 10 * x);
    ASSERT_EQ(P::SmoothSquare(out.get(), rgb.get(), 3), 0);
    EXPECT_EQ(out.at<unsigned char>(0, 0, 1), 200);
    EXPECT_EQ(out.at<unsigned char>(0, 0, 0), 5);
    ASSERT_EQ(P::SmoothSquare(rgb.get(), rgb.get(), 3), 0);
    EXPECT_EQ(rgb.at<unsigned char>(0, 0, 2), 5);
}

TEST(FloatPicInt, LocalContrastFixedPoint)
{
    // A flat step picture: the envelope of the right half is 30, of the
    // left 10; factor 1.5 stretches around the midpoint.
    IPic s(40, 20, 8, 1), d(40, 20, 8, 1);
    for (unsigned y = 0; y < 20; ++y)
        for (unsigned x = 0; x < 40; ++x)
            s.at<unsigned char>(x, y) = x < 20 ? 10 : 30;
    ASSERT_EQ(LocalContrast_1x8(d.get(), s.get(), 4, 1.5, false), 0);
    EXPECT_EQ(d.at<unsigned char>(36, 10), 30);
    EXPECT_EQ(d.at<unsigned char>(4, 10), 10);
    // Column 20: min envelope 25 (integer interpolation 10 + 5 + 10 + 5 ...),
    // max 30: mid 27, 30 -> 27 + floor(3 * 1536 / 1024) = 31.
    EXPECT_EQ(d.at<unsigned char>(20, 10), 31);
    ASSERT_EQ(LocalContrast_1x8(d.get(), s.get(), 4, 30.0, false), 0);
    EXPECT_EQ(d.at<unsigned char>(20, 10), 117);  // 27 + 3 * 30
    EXPECT_EQ(d.at<unsigned char>(18, 10), 0);    // far below the midpoint: clamped
    int size = 7;
    IPic a(100, 100, 12, 1), b(100, 100, 12, 1);
    ASSERT_EQ(P::LocalContrast_Tailed(b.get(), a.get(), size, 2.0, true), 0);
    EXPECT_EQ(size, 6);
    // Three components: only the intensity changes, so a grey picture stays grey.
    IPic rgb(30, 20, 8, 3), rgbOut(30, 20, 8, 3);
    for (unsigned y = 0; y < 20; ++y)
        for (unsigned x = 0; x < 30; ++x)
            for (unsigned k = 0; k < 3; ++k)
                rgb.at<unsigned char>(x, y, k) = (unsigned char)(x < 15 ? 60 : 120);
    size = 4;
    ASSERT_EQ(P::LocalContrast_Tailed(rgbOut.get(), rgb.get(), size, 1.0, false), 0);
    for (unsigned x = 0; x < 30; x += 5)
        EXPECT_NEAR(rgbOut.at<unsigned char>(x, 10, 0), rgbOut.at<unsigned char>(x, 10, 2), 1) << x;
    // Pictures above 16 bits: nothing done.
    IPic d32(10, 10, 32, 1), s32(10, 10, 32, 1);
    s32.at<unsigned>(3, 3) = 77;
    ASSERT_EQ(P::LocalContrast_Tailed(d32.get(), s32.get(), size, 2.0, false), 0);
    EXPECT_EQ(d32.at<unsigned>(3, 3), 0u);
    // Component ranges.
    int sizes[3] = {4, 4, 4};
    double factors[3] = {1, 1, 1};
    bool smooth[3] = {false, false, false};
    EXPECT_EQ(P::LocalContrastComp_Tailed(rgbOut.get(), rgb.get(), 2, 2, sizes, factors, smooth), -9);
    EXPECT_EQ(P::LocalContrastComp_Tailed(rgbOut.get(), rgb.get(), 3, 0, sizes, factors, smooth), -9);
    ASSERT_EQ(P::LocalContrastComp_Tailed(rgbOut.get(), rgb.get(), 1, 2, sizes, factors, smooth), 0);
    // Tiled on a picture wider than one tile.
    IPic wide(2100, 30, 8, 1), wideOut(2100, 30, 8, 1);
    size = 6;
    ASSERT_EQ(P::LocalContrast(wideOut.get(), wide.get(), size, 1.0, true), 0);
}

TEST(FloatPicInt, MinMaxHelpersAndPlacement)
{
    unsigned char v8[4] = {5, 9, 1, 7}, o8[2];
    FillAllMem1x8MinMax(4, 4, v8, o8);
    EXPECT_EQ(o8[0], 255);
    EXPECT_EQ(o8[1], 0);
    FillAllMem1x8MinMax(0, 3, v8, o8);
    EXPECT_EQ(o8[0], 1);
    EXPECT_EQ(o8[1], 9);
    unsigned short v16[3] = {500, 70, 900}, o16[2] = {0, 0};
    FillAllMem1x16Max(0, 2, v16, o16);
    EXPECT_EQ(o16[1], 500);
    EXPECT_EQ(o16[0], 0);
    const unsigned short a = 1, b = 2;
    EXPECT_EQ(compare1x16(&a, &b), -1);
    EXPECT_EQ(compare1x16(&b, &a), 1);

    IPic pic(100, 100, 8, 1);
    const struct {
        int from, to, wantFrom, wantTo;
    } rows[] = {{-3, 5, 0, 8}, {95, 104, 90, 99}, {10, 20, 10, 20}, {-10, 120, -31, 99}};
    for (const auto& c : rows) {
        int f = c.from, t = c.to;
        ASSERT_EQ(RegularizeRow(f, t, pic.get()), 0);
        EXPECT_EQ(f, c.wantFrom);
        EXPECT_EQ(t, c.wantTo);
    }
    SKzIRect r{-5, 90, 10, 110};
    ASSERT_EQ(RegularizeIRect(r, pic.get()), 0);
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.right, 15);
    EXPECT_EQ(r.top, 79);
    EXPECT_EQ(r.bottom, 99);
    int f = 0, t = 0;
    EXPECT_EQ(RegularizeColumn(f, t, nullptr), -9);
}

TEST(FloatPicInt, SmallKernels)
{
    float src[9];
    std::fill(src, src + 9, 2.0f);
    float dst[25];
    StretchFloat2DKernel(dst, src, 5, 5, 3);
    for (float v : dst)
        EXPECT_FLOAT_EQ(v, 0.04f);
    dst[0] = -1;
    StretchFloat2DKernel(dst, src, 5, 5, 0);
    EXPECT_EQ(dst[0], -1.0f);

    // A profile falling from the centre column; outSize / 2 must stay below size.
    float arr[25] = {};
    for (int r = 0; r < 5; ++r)
        arr[r * 5 + 2] = float(r + 1);
    std::vector<float> pat(6 * 5, -1.0f);
    GetPlaneCutAiry(pat.data(), arr, 5, 6, 0);
    double sum = 0;
    for (float v : pat) {
        EXPECT_GE(v, 0.0f);
        sum += v;
    }
    EXPECT_NEAR(sum, 1.0, 1e-6);
    std::vector<float> none(10 * 5, -1.0f);
    GetPlaneCutAiry(none.data(), arr, 5, 10, 0);
    EXPECT_EQ(none[0], -1.0f);
    GeneratePSFOrtho(dst, 5, 5, 1, 2, 3, 4);
}

TEST(FloatPicInt, BorderFadeIntegers)
{
    IPic p(6, 6, 8, 1), q(6, 6, 12, 2), deep(6, 6, 32, 1);
    for (unsigned y = 0; y < 6; ++y)
        for (unsigned x = 0; x < 6; ++x) {
            p.at<unsigned char>(x, y) = 100;
            q.at<unsigned short>(x, y, 1) = 3000;
            deep.at<unsigned>(x, y) = 9;
        }
    ExpandAndSmoothToBordersAPI(p.get(), 2);
    EXPECT_EQ(p.at<unsigned char>(0, 3), 0);
    EXPECT_EQ(p.at<unsigned char>(1, 3), 50);
    EXPECT_EQ(p.at<unsigned char>(3, 1), 50);
    EXPECT_EQ(p.at<unsigned char>(2, 2), 100);
    // n 3 of 6 rows: no column fade (3 < 6 - 3 fails), rows fade from 2 and 3.
    ExpandAndSmoothToBordersAPI(q.get(), 3);
    EXPECT_EQ(q.at<unsigned short>(1, 3, 1), 2000);
    EXPECT_EQ(q.at<unsigned short>(0, 2, 1), 2000);  // the fades from both sides overlap
    EXPECT_EQ(q.at<unsigned short>(0, 5, 1), 0);
    ExpandAndSmoothToBordersAPI(deep.get(), 2);
    EXPECT_EQ(deep.at<unsigned>(0, 0), 9u);
    ExpandAndSmoothToBordersAPI(p.get(), 6);
    EXPECT_EQ(p.at<unsigned char>(2, 2), 100);
    // n at or beyond a side, up to the largest, leaves 8 and 16 bits alone.
    const unsigned char p01 = p.at<unsigned char>(0, 1);
    const unsigned short q21 = q.at<unsigned short>(2, 1, 1);
    for (unsigned n : {7u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        ExpandAndSmoothToBordersAPI(p.get(), n);
        ExpandAndSmoothToBordersAPI(q.get(), n);
        EXPECT_EQ(p.at<unsigned char>(2, 2), 100) << n;
        EXPECT_EQ(p.at<unsigned char>(0, 1), p01) << n;
        EXPECT_EQ(q.at<unsigned short>(2, 1, 1), q21) << n;
    }
}

TEST(FloatPicInt, DiffusionConversions)
{
    IPic s8(4, 1, 8, 1), d8(4, 1, 8, 1), s12(2, 1, 12, 1), d12(2, 1, 12, 1);
    FPic f(4, 1, 1), f2(2, 1, 1);
    const float vals[4] = {254.4f, 254.5f, -0.4f, -0.6f};
    f.fill(vals);
    FloatToUint8(d8.get(), f.get());
    EXPECT_EQ(d8.at<unsigned char>(0, 0), 254);
    EXPECT_EQ(d8.at<unsigned char>(1, 0), 255);
    EXPECT_EQ(d8.at<unsigned char>(2, 0), 0);
    EXPECT_EQ(d8.at<unsigned char>(3, 0), 0);
    s8.at<unsigned char>(2, 0) = 77;
    Uint8ToFloat(f.get(), s8.get());
    EXPECT_EQ(f.at(2, 0), 77.0f);
    s12.at<unsigned short>(0, 0) = 4095;
    Uint16ToFloat(f2.get(), s12.get());
    EXPECT_EQ(f2.at(0, 0), 255.9375f);
    FloatToUint16(d12.get(), f2.get());
    EXPECT_EQ(d12.at<unsigned short>(0, 0), 4095);
}

TEST(FloatPicInt, DiffusionBlocks)
{
    FPic src(4, 3, 1), grad(4, 3, 1);
    for (unsigned y = 0; y < 3; ++y)
        for (unsigned x = 0; x < 4; ++x)
            src.at(x, y) = x >= 2 ? 2.0f : 0.0f;
    GetGradientFloat2(grad.get(), src.get());
    EXPECT_EQ(grad.at(1, 0), 4.0f);
    EXPECT_EQ(grad.at(0, 0), 0.0f);
    EXPECT_EQ(grad.at(3, 1), grad.at(2, 1));
    EXPECT_EQ(grad.at(1, 2), 4.0f);

    FPic cmk(4, 3, 1), one(4, 3, 1);
    for (unsigned y = 0; y < 3; ++y)
        for (unsigned x = 0; x < 4; ++x)
            one.at(x, y) = x >= 2 ? 1.0f : 0.0f;
    GetInnerCMK(cmk.get(), one.get(), 1.0f, 0, grad.get());
    EXPECT_EQ(cmk.at(0, 0), 1.0f);
    EXPECT_NEAR(cmk.at(1, 0), 1.0 - std::exp(-2.33666), 1e-6);

    FPic k(9, 9, 1);
    for (unsigned y = 0; y < 9; ++y)
        for (unsigned x = 0; x < 9; ++x)
            k.at(x, y) = 5.0f;
    GenerateGauss(k.get(), 0.5);
    double written = 0;
    for (unsigned y = 1; y < 8; ++y)
        for (unsigned x = 1; x < 8; ++x)
            written += k.at(x, y);
    EXPECT_NEAR(written, 1.0, 1e-5);
    EXPECT_NE(k.at(0, 0), 5.0f);  // the outer ring is divided too
    EXPECT_GT(k.at(4, 4), k.at(3, 4));

    FPic g(3, 3, 1), wst(3, 3, 1), dh(3, 3, 1), est(3, 3, 1), nth(3, 3, 1), dv(3, 3, 1), sth(3, 3, 1);
    for (unsigned i = 0; i < 9; ++i)
        g.at(i % 3, i / 3) = float(i);
    GenerateAB(wst.get(), dh.get(), est.get(), nth.get(), dv.get(), sth.get(), g.get());
    EXPECT_EQ(wst.at(0, 0), 0.0f);
    EXPECT_EQ(wst.at(0, 1), 2.5f);  // follows 2 in row-major order
    EXPECT_EQ(est.at(2, 2), 8.0f);
    EXPECT_EQ(dh.at(1, 1), -8.0f);
    EXPECT_EQ(nth.at(1, 0), 1.0f);
    EXPECT_EQ(sth.at(1, 1), 5.5f);
    EXPECT_EQ(dv.at(1, 1), -8.0f);
    FPic w2(3, 3, 1);
    w2.at(0, 0) = -7.0f;
    GenerateAB_X(w2.get(), dh.get(), est.get(), nth.get(), dv.get(), sth.get(), g.get());
    EXPECT_EQ(w2.at(1, 1), 3.5f);
    EXPECT_EQ(w2.at(0, 1), 3.5f);
    EXPECT_EQ(w2.at(0, 0), -7.0f);

    FPic sum(3, 3, 1);
    EXPECT_EQ(AddMid(sum.get(), g.get(), g.get()), 16.0f);
    FPic zero(3, 3, 1), u(3, 3, 1), out(3, 3, 1);
    for (unsigned i = 0; i < 9; ++i)
        u.at(i % 3, i / 3) = 2.0f;
    MakeDeltaAndAdd(out.get(), zero.get(), zero.get(), zero.get(), zero.get(), zero.get(), 0.5f, u.get());
    EXPECT_EQ(out.at(1, 1), 2.0f);
    EXPECT_EQ(out.at(0, 0), 2.0f);
    EXPECT_EQ(KernelConvolution(g.get(), g.get(), g.get()), -2);
}

TEST(FloatPicInt, DenoiseLeavesTheSourceAndSaysSo)
{
    IPic src(5, 4, 8, 3), dst;
    for (unsigned y = 0; y < 4; ++y)
        for (unsigned x = 0; x < 5; ++x)
            for (unsigned k = 0; k < 3; ++k)
                src.at<unsigned char>(x, y, k) = (unsigned char)(x * 40 + k);
    const unsigned stride = src.p.uiWidthBytes;
    EXPECT_EQ(P::AdiffDenoise(dst.get(), src.get(), 1.0, 2.0, 3, 4), -2);
    EXPECT_EQ(src.p.uiComp, 3u);
    EXPECT_EQ(src.p.uiWidthBytes, stride);
    EXPECT_EQ(src.at<unsigned char>(4, 3, 2), 162);
    EXPECT_EQ(dst.at<unsigned char>(4, 3, 2), 162);
    IPic rgbOut;
    EXPECT_EQ(P::AdiffDenoise_RGB(rgbOut.get(), src.get(), 1.0, 2.0, 3, 4), -2);
    EXPECT_EQ(rgbOut.p.uiWidth, 5u);
    IPic empty;
    EXPECT_EQ(P::AdiffDenoise(dst.get(), empty.get(), 1, 2, 3, 4), 0);
}

} // namespace
