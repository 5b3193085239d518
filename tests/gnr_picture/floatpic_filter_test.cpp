// Float filters against scipy, and the filter rules the reference does not
// cover: sizes, shapes, local contrast, border fade, statistics.

#include "floatpic_support.h"

#include <algorithm>

using namespace floatpic_test;
using F = CKzFloatPicBufAPI;

namespace {
#include "floatpic_reference.inc"

void Load(FPic& p)
{
    ASSERT_EQ(F::Reinit(p.get(), kFW, kFH, 0, 1, false), 0);
    p.fill(kFilterSrc);
}

// Relative tolerance 1e-5 against the double-precision reference.
void ExpectNear(FPic& p, const double* expect, const char* what, unsigned size)
{
    for (unsigned y = 0; y < kFH; ++y)
        for (unsigned x = 0; x < kFW; ++x) {
            const double e = expect[y * kFW + x];
            ASSERT_NEAR(p.at(x, y), e, 1e-5 * std::max(1.0, std::fabs(e)))
                << what << " size " << size << " at " << x << "," << y;
        }
}

TEST(FloatPicFilter, BoxMeanMatchesScipy)
{
    FPic src, dst(kFW, kFH, 1);
    Load(src);
    for (const auto& c : kBoxCases) {
        ASSERT_EQ(SmoothSquare_1xfloat(dst.get(), src.get(), int(c.size)), 0);
        ExpectNear(dst, c.expect, "SmoothSquare_1xfloat", c.size);
        ASSERT_EQ(F::SmoothSquare(dst.get(), src.get(), int(c.size)), 0);
        ExpectNear(dst, c.expect, "SmoothSquare", c.size);
        ASSERT_EQ(F::Smooth(dst.get(), src.get(), 0, c.size), 0);
        ExpectNear(dst, c.expect, "Smooth box", c.size);
    }
    // In place.
    FPic inPlace;
    Load(inPlace);
    ASSERT_EQ(F::SmoothSquare(inPlace.get(), inPlace.get(), 5), 0);
    ExpectNear(inPlace, kBox5, "in place", 5);
}

TEST(FloatPicFilter, GaussMatchesScipy)
{
    FPic src, dst(kFW, kFH, 1);
    Load(src);
    for (const auto& c : kGaussCases) {
        ASSERT_EQ(F::Smooth(dst.get(), src.get(), 1, c.size), 0);
        ExpectNear(dst, c.expect, "Smooth gauss", c.size);
    }
}

TEST(FloatPicFilter, LargePicturesMatchTheWindowDefinition)
{
    // Pictures larger than the caches take another store path: sampled
    // outputs against the normalised 2D window sums, edges included.
    const unsigned w = 2048, h = 1100;
    FPic src(w, h, 1), dst(w, h, 1);
    unsigned seed = 99;
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            src.at(x, y) = float(seed >> 8) * (1.0f / 65536.0f);
        }
    const struct {
        unsigned type, size;
    } cases[] = {{1, 5}, {0, 15}, {1, 9}};
    for (const auto& c : cases) {
        ASSERT_EQ(F::Smooth(dst.get(), src.get(), c.type, c.size), 0);
        std::vector<float> k(size_t(c.size) * c.size, 1.0f);
        if (c.type == 1)
            GetGauss(k.data(), int(c.size), float(c.size) * 0.33333334f);
        const int b = int(c.size / 2);
        for (unsigned i = 0; i < 300; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const int x = i < 8 ? int((i & 1) ? w - 1 - i / 2 : i / 2) : int(seed % w);
            const int y = i < 8 ? int((i & 2) ? h - 1 - i / 4 : i / 4) : int((seed >> 11) % h);
            double sum = 0, wsum = 0;
            for (int m = std::max(0, y - b); m < std::min(int(h), y - b + int(c.size)); ++m)
                for (int j = std::max(0, x - b); j < std::min(int(w), x - b + int(c.size)); ++j) {
                    const double kw = k[size_t(m - y + b) * c.size + size_t(j - x + b)];
                    sum += kw * src.at(unsigned(j), unsigned(m));
                    wsum += kw;
                }
            ASSERT_NEAR(dst.at(unsigned(x), unsigned(y)), sum / wsum, 1e-5 * std::fabs(sum / wsum))
                << c.type << "/" << c.size << " at " << x << "," << y;
        }
    }
}

TEST(FloatPicFilter, MultiComponentFiltersWorkPerComponent)
{
    // Three components: the reference picture, it times -2, and it plus 7.
    FPic src(kFW, kFH, 3), dst(kFW, kFH, 3);
    for (unsigned y = 0; y < kFH; ++y)
        for (unsigned x = 0; x < kFW; ++x) {
            const float v = kFilterSrc[y * kFW + x];
            src.at(x, y, 0) = v;
            src.at(x, y, 1) = -2.0f * v;
            src.at(x, y, 2) = v + 7.0f;
        }
    const struct {
        unsigned type, size;
        const double* expect;
    } cases[] = {{0, 3, kBox3}, {0, 8, kBox8}, {1, 5, kGauss5}, {1, 4, kGauss4}};
    for (const auto& c : cases) {
        ASSERT_EQ(F::Smooth(dst.get(), src.get(), c.type, c.size), 0);
        for (unsigned y = 0; y < kFH; ++y)
            for (unsigned x = 0; x < kFW; ++x) {
                const double e = c.expect[y * kFW + x];
                ASSERT_NEAR(dst.at(x, y, 0), e, 1e-5 * e) << c.type << "/" << c.size;
                ASSERT_NEAR(dst.at(x, y, 1), -2 * e, 2e-5 * e) << c.type << "/" << c.size;
                ASSERT_NEAR(dst.at(x, y, 2), e + 7, 1e-5 * (e + 7)) << c.type << "/" << c.size;
            }
    }
    ASSERT_EQ(F::MedianFilter(dst.get(), src.get(), 3), 0);
    for (unsigned y = 0; y < kFH; ++y)
        for (unsigned x = 0; x < kFW; ++x) {
            ASSERT_EQ(dst.at(x, y, 0), kMedian3[y * kFW + x]);
            ASSERT_EQ(dst.at(x, y, 2), kMedian3[y * kFW + x] + 7.0f);
        }
}

TEST(FloatPicFilter, MedianMatchesInPictureMedian)
{
    FPic src, dst(kFW, kFH, 1);
    Load(src);
    for (const auto& c : kMedianCases) {
        ASSERT_EQ(F::MedianFilter(dst.get(), src.get(), c.size), 0);
        for (unsigned y = 0; y < kFH; ++y)
            for (unsigned x = 0; x < kFW; ++x)
                ASSERT_EQ(dst.at(x, y), c.expect[y * kFW + x]) << c.size << " at " << x << "," << y;
    }
    // A bright spot in a dark picture goes; NaN sorts above every number.
    FPic spot(5, 5, 1), out(5, 5, 1);
    spot.at(2, 2) = 1000.0f;
    spot.at(0, 0) = kNaN;
    spot.at(4, 4) = kInf;
    ASSERT_EQ(F::MedianFilter(out.get(), spot.get(), 3), 0);
    EXPECT_EQ(out.at(2, 2), 0.0f);
    EXPECT_EQ(out.at(0, 0), 0.0f);  // 0 0 0 NaN -> element 2
    EXPECT_EQ(F::MedianFilter(out.get(), spot.get(), 0), -4);
}

TEST(FloatPicFilter, MedianOrdersSpecialValuesLikeTheSort)
{
    // Interior pixels (a fixed network) and border pixels (selection) both
    // give element count / 2 of the window sorted with compareh.
    const float vals[] = {-3.5f, 0.0f, -0.0f, kNaN, kInf, -kInf, kMarker, 2.0f, 1e-38f, -7.0f, 5.0f};
    FPic src(9, 7, 1), out(9, 7, 1);
    unsigned seed = 7;
    for (unsigned y = 0; y < 7; ++y)
        for (unsigned x = 0; x < 9; ++x) {
            seed = seed * 1103515245u + 12345u;
            src.at(x, y) = vals[(seed >> 16) % 11];
        }
    for (unsigned size : {3u, 4u, 5u}) {
        ASSERT_EQ(F::MedianFilter(out.get(), src.get(), size), 0);
        const int h = int(size / 2);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x) {
                std::vector<float> win;
                for (int m = std::max(0, y - h); m < std::min(7, y - h + int(size)); ++m)
                    for (int j = std::max(0, x - h); j < std::min(9, x - h + int(size)); ++j)
                        win.push_back(src.at(unsigned(j), unsigned(m)));
                std::sort(win.begin(), win.end(),
                          [](float a, float b) { return compareh(&a, &b) < 0; });
                ASSERT_TRUE(SameFloat(out.at(unsigned(x), unsigned(y)), win[win.size() / 2]))
                    << size << " at " << x << "," << y << ": " << out.at(unsigned(x), unsigned(y)) << " vs "
                    << win[win.size() / 2];
            }
    }
    // In place.
    FPic copy;
    ASSERT_EQ(F::ReinitAndCopy(copy.get(), src.get()), 0);
    ASSERT_EQ(F::MedianFilter(out.get(), src.get(), 3), 0);
    ASSERT_EQ(F::MedianFilter(copy.get(), copy.get(), 3), 0);
    for (unsigned y = 0; y < 7; ++y)
        for (unsigned x = 0; x < 9; ++x)
            ASSERT_TRUE(SameFloat(copy.at(x, y), out.at(x, y)));
}

TEST(FloatPicFilter, GaussKernelAndNoiseEstimate)
{
    for (const auto& c : kGetGaussCases) {
        std::vector<float> k(c.size * c.size);
        GetGauss(k.data(), int(c.size), float(c.size) * 0.33333334f);
        for (size_t i = 0; i < k.size(); ++i)
            ASSERT_NEAR(k[i], c.expect[i], 1e-6f * std::max(1.0f, c.expect[i])) << c.size << " entry " << i;
    }
    std::vector<float> k5(25);
    GetGauss(k5.data(), 5, 5.0f / 3.0f);
    EXPECT_EQ(k5[12], 1.0f);

    FPic src;
    Load(src);
    EXPECT_NEAR(GetImmerkaerNoiseEstimation1xFloat(src.get()), kImmerkaer, 1e-9 * kImmerkaer);
    // Constant and linear ramps have no noise; fewer than 3 rows give 0.
    FPic ramp(10, 6, 2), thin(10, 2, 1);
    for (unsigned y = 0; y < 6; ++y)
        for (unsigned x = 0; x < 10; ++x) {
            ramp.at(x, y, 0) = 5.0f;
            ramp.at(x, y, 1) = float(3 * x + 2 * y);
        }
    double sigma[2] = {-1, -1};
    F::GetImmerkaerNoiseEstimation(ramp.get(), sigma);
    EXPECT_EQ(sigma[0], 0.0);
    EXPECT_EQ(sigma[1], 0.0);
    EXPECT_EQ(GetImmerkaerNoiseEstimation1xFloat(thin.get()), 0.0);
}

TEST(FloatPicFilter, SizesAndShapes)
{
    FPic a(3, 3, 1), b(3, 3, 1), other(4, 3, 1), strided(3, 3, 1, 16);
    for (unsigned i = 0; i < 9; ++i)
        a.at(i % 3, i / 3) = float(i);
    ASSERT_EQ(SmoothSquare_1xfloat(b.get(), a.get(), 3), 0);
    EXPECT_FLOAT_EQ(b.at(0, 0), (0 + 1 + 3 + 4) / 4.0f);
    EXPECT_FLOAT_EQ(b.at(1, 1), 4.0f);
    EXPECT_EQ(SmoothSquare_1xfloat(b.get(), a.get(), 1), -2);
    EXPECT_EQ(F::SmoothSquare(b.get(), a.get(), 1), -9);
    EXPECT_EQ(F::SmoothSquare(other.get(), a.get(), 3), -9);
    EXPECT_EQ(F::SmoothSquare(strided.get(), a.get(), 3), -9);
    EXPECT_EQ(F::Smooth(b.get(), a.get(), 2, 3), -2);
    EXPECT_EQ(F::Smooth(b.get(), a.get(), 1, 0), -4);
    EXPECT_EQ(F::MedianFilter(strided.get(), a.get(), 3), -9);
    // A constant picture stays constant, edges included.
    FPic cst(7, 5, 1), out(7, 5, 1);
    for (unsigned y = 0; y < 5; ++y)
        for (unsigned x = 0; x < 7; ++x)
            cst.at(x, y) = 3.25f;
    for (unsigned type : {0u, 1u})
        for (unsigned size : {2u, 5u, 9u, 100u}) {
            ASSERT_EQ(F::Smooth(out.get(), cst.get(), type, size), 0);
            for (unsigned y = 0; y < 5; ++y)
                for (unsigned x = 0; x < 7; ++x)
                    ASSERT_NEAR(out.at(x, y), 3.25f, 1e-5f) << type << "/" << size;
        }
    // A window larger than the picture gives the in-picture mean everywhere.
    ASSERT_EQ(F::SmoothSquare(b.get(), a.get(), 1000), 0);
    EXPECT_FLOAT_EQ(b.at(2, 0), 4.0f);
}

TEST(FloatPicFilter, SmoothWithValidity)
{
    FPic src(4, 3, 1, 24), dst(4, 3, 1);
    const float v[12] = {1, 2, kMarker, 4, 5, kNaN, 7, 8, 9, 10, 11, 12};
    src.fill(v);
    ASSERT_EQ(F::Smooth_WithValidity(dst.get(), src.get(), 2), 0);  // as 3
    EXPECT_FLOAT_EQ(dst.at(0, 0), (1 + 2 + 5) / 3.0f);
    EXPECT_EQ(dst.at(2, 0), kMarker);
    EXPECT_EQ(dst.at(1, 1), kMarker);  // invalid centre stays invalid
    EXPECT_FLOAT_EQ(dst.at(2, 1), (2 + 4 + 7 + 8 + 10 + 11 + 12) / 7.0f);
    FPic all(2, 2, 1), out(2, 2, 1);
    const float inv[4] = {kMarker, kMarker, kMarker, 1.0f};
    all.fill(inv);
    ASSERT_EQ(F::Smooth_WithValidity(out.get(), all.get(), 1), 0);
    EXPECT_EQ(out.at(0, 0), kMarker);
    EXPECT_EQ(out.at(1, 1), 1.0f);
    FPic three(2, 2, 3), three2(2, 2, 3);
    EXPECT_EQ(F::Smooth_WithValidity(three2.get(), three.get(), 3), -9);
}

TEST(FloatPicFilter, SharpenCutAndStatistics)
{
    FPic shape(3, 1, 1), pic(3, 1, 1);
    const float v[3] = {1, 3, 5};
    pic.fill(v);
    ASSERT_EQ(F::Sharpen(shape.get(), pic.get(), 0), 0);
    // 1 with its neighbour 3: s = sqrt(2); then 3 with the new left and 5.
    const float p0 = float(1.0 * (1 + 0.2 * std::sqrt(2.0)));
    EXPECT_FLOAT_EQ(pic.at(0, 0), p0);
    const double m = (p0 + 3.0 + 5.0) / 3;
    const double s = std::sqrt(((p0 - m) * (p0 - m) + (3 - m) * (3 - m) + (5 - m) * (5 - m)) / 2);
    EXPECT_FLOAT_EQ(pic.at(1, 0), float(3 * (1 + 0.2 * s)));

    FPic rgb(2, 1, 2), cut(2, 1, 2);
    const float c[4] = {1, 10, 5, -3};
    rgb.fill(c);
    float lim[2] = {2, 0};
    ASSERT_EQ(F::CutBy(cut.get(), rgb.get(), lim), 0);
    EXPECT_EQ(cut.at(0, 0, 0), 1.0f);
    EXPECT_EQ(cut.at(0, 0, 1), 0.0f);
    EXPECT_EQ(cut.at(1, 0, 0), 2.0f);
    ASSERT_EQ(F::CutByLow(cut.get(), rgb.get(), lim), 0);
    EXPECT_EQ(cut.at(1, 0, 1), 0.0f);
    EXPECT_EQ(cut.at(0, 0, 1), 10.0f);

    FPic st(4, 3, 2, 40);
    for (unsigned y = 0; y < 3; ++y)
        for (unsigned x = 0; x < 4; ++x) {
            st.at(x, y, 0) = float(x + 4 * y);
            st.at(x, y, 1) = -float(x);
        }
    float mn[2], mx[2], mean[2], dev[2], med[2];
    SKzImageStat stat{0, 1, 1, 3, 3, mn, mx, mean, dev, med};
    ASSERT_EQ(F::GetStat(&stat, st.get()), 0);
    EXPECT_EQ(mn[0], 5.0f);
    EXPECT_EQ(mx[0], 10.0f);
    EXPECT_FLOAT_EQ(mean[0], 7.5f);
    EXPECT_EQ(med[0], 9.0f);  // 5 6 9 10 -> element 2
    EXPECT_FLOAT_EQ(dev[1], float(std::sqrt(1.0 / 3.0)));
    SKzImageStat one{0, 2, 2, 3, 3, mn, mx, mean, dev, med};
    ASSERT_EQ(F::GetStat(&one, st.get()), 0);
    EXPECT_TRUE(std::isnan(dev[0]));
    for (auto r : {SKzImageStat{0, 0, 0, 0, 3, mn, mx, mean, dev, med}, SKzImageStat{0, 0, 0, 5, 3, mn, mx, mean, dev, med},
                   SKzImageStat{0, -1, 0, 2, 3, mn, mx, mean, dev, med}, SKzImageStat{0, 0, 2, 2, 4, mn, mx, mean, dev, med}}) {
        EXPECT_EQ(F::GetStat(&r, st.get()), -4);
    }
}

TEST(FloatPicFilter, LocalContrastSizesAndFactors)
{
    FPic a(100, 100, 1), b(100, 100, 1);
    for (unsigned y = 0; y < 100; ++y)
        for (unsigned x = 0; x < 100; ++x)
            a.at(x, y) = float((x * 7 + y * 13) % 50);
    int size = 7;
    ASSERT_EQ(F::LocalContrast_Tailed(b.get(), a.get(), size, 1.0, true), 0);
    EXPECT_EQ(size, 6);
    for (unsigned y = 0; y < 100; y += 7)
        for (unsigned x = 0; x < 100; x += 3)
            ASSERT_NEAR(b.at(x, y), a.at(x, y), 1e-4f);
    FPic c(100, 50, 1), d(100, 50, 1);
    size = 500;
    ASSERT_EQ(F::LocalContrast_Tailed(d.get(), c.get(), size, 2.0, false), 0);
    EXPECT_EQ(size, 49);

    // Factor 0: every sample becomes the envelope midpoint; on a picture
    // of two flat halves that is the half's value away from the edge.
    FPic h(40, 20, 1), o(40, 20, 1);
    for (unsigned y = 0; y < 20; ++y)
        for (unsigned x = 0; x < 40; ++x)
            h.at(x, y) = x < 20 ? 10.0f : 30.0f;
    size = 4;
    ASSERT_EQ(LocalContrast_float(o.get(), h.get(), size, 0.0, false), 0);
    EXPECT_EQ(o.at(4, 10), 10.0f);
    EXPECT_EQ(o.at(36, 10), 30.0f);
    // Column 20 (a grid column): the minimum plane's columns 17..19 are
    // interpolated towards grid column 20 (15, 20, 25), so the row window
    // 19..22 gives the minimum 25 and the maximum 30.
    EXPECT_EQ(o.at(20, 10), 27.5f);
    // Several components, each by itself.
    FPic m(40, 20, 2), mo(40, 20, 2);
    for (unsigned y = 0; y < 20; ++y)
        for (unsigned x = 0; x < 40; ++x) {
            m.at(x, y, 0) = h.at(x, y);
            m.at(x, y, 1) = 5.0f;
        }
    ASSERT_EQ(F::LocalContrast_Tailed(mo.get(), m.get(), size, 0.0, false), 0);
    EXPECT_EQ(mo.at(4, 10, 0), 10.0f);
    EXPECT_EQ(mo.at(20, 10, 0), 27.5f);
    EXPECT_EQ(mo.at(20, 10, 1), 5.0f);
    FPic wrong(40, 21, 1);
    EXPECT_EQ(F::LocalContrast_Tailed(wrong.get(), h.get(), size, 1.0, false), -9);
}

TEST(FloatPicFilter, TiledLocalContrastOnAWidePicture)
{
    // 2500 x 800: three tiles across (833, 833, 834), one down.
    FPic a(2500, 800, 1), tiled(2500, 800, 1), whole(2500, 800, 1);
    for (unsigned y = 0; y < 800; ++y)
        for (unsigned x = 0; x < 2500; ++x)
            a.at(x, y) = float((x / 50 + y / 40) % 2) * 100.0f + float(x % 7);
    int size = 20;
    ASSERT_EQ(F::LocalContrast(tiled.get(), a.get(), size, 1.5, true), 0);
    EXPECT_EQ(size, 20);
    int size2 = 20;
    ASSERT_EQ(F::LocalContrast_Tailed(whole.get(), a.get(), size2, 1.5, true), 0);
    // The first tile shares the whole picture's grid: equal away from its seam.
    for (unsigned y = 0; y < 800; y += 37)
        for (unsigned x = 0; x < 780; x += 13)
            ASSERT_EQ(tiled.at(x, y), whole.at(x, y)) << x << "," << y;
    // The last tile (x 1666, 834 wide) is its extension of 20 columns on the
    // left run by itself.
    FPic ext(854, 800, 1), extOut(854, 800, 1);
    ASSERT_EQ(F::CopyRect(0, 0, 854, 800, ext.get(), 1646, 0, a.get()), 0);
    int s2 = 20;
    ASSERT_EQ(F::LocalContrast_Tailed(extOut.get(), ext.get(), s2, 1.5, true), 0);
    for (unsigned y = 0; y < 800; y += 11)
        for (unsigned x = 1666; x < 2500; x += 7)
            ASSERT_EQ(tiled.at(x, y), extOut.at(x - 1646, y)) << x << "," << y;
    // Rows of tiles: a 900 x 2100 picture is cut into 1 x 3 tiles.
    FPic tall(900, 2100, 1), tallOut(900, 2100, 1);
    int s3 = 8;
    ASSERT_EQ(F::LocalContrast(tallOut.get(), tall.get(), s3, 2.0, false), 0);
}

TEST(FloatPicFilter, BorderFade)
{
    FPic p(6, 5, 2);
    for (unsigned y = 0; y < 5; ++y)
        for (unsigned x = 0; x < 6; ++x)
            for (unsigned k = 0; k < 2; ++k)
                p.at(x, y, k) = 1.0f;
    ExpandAndSmoothToBordersAPI(p.get(), 2);
    EXPECT_EQ(p.at(0, 2, 0), 0.0f);
    EXPECT_EQ(p.at(1, 2, 1), 0.5f);
    EXPECT_EQ(p.at(2, 2, 0), 1.0f);
    EXPECT_EQ(p.at(5, 2, 0), 0.0f);
    EXPECT_EQ(p.at(4, 2, 0), 0.5f);
    EXPECT_EQ(p.at(2, 0, 0), 0.0f);
    EXPECT_EQ(p.at(2, 1, 0), 0.5f);
    EXPECT_EQ(p.at(2, 4, 1), 0.0f);
    // n 0 and n at least a side leave the picture alone.
    for (unsigned n : {0u, 5u, 6u, 1000000u}) {
        FPic q(6, 5, 1);
        q.at(0, 0) = 3.0f;
        ExpandAndSmoothToBordersAPI(q.get(), n);
        EXPECT_EQ(q.at(0, 0), 3.0f) << n;
    }
    // Large n below the sides: both fades overlap without leaving the rows.
    FPic r(5, 9, 1);
    for (unsigned y = 0; y < 9; ++y)
        for (unsigned x = 0; x < 5; ++x)
            r.at(x, y) = 2.0f;
    ExpandAndSmoothToBordersAPI(r.get(), 4);
    EXPECT_EQ(r.at(0, 0), 0.0f);
}

} // namespace
