// Whole float picture arithmetic, masks, value handling, conversion into
// integer pictures, the float histogram, resizing and cropping.

#include "floatpic_support.h"

#include "gnr_picture/CKzHistoAPI.h"

#include <functional>

using namespace floatpic_test;
using F = CKzFloatPicBufAPI;

namespace {

void Fill(FPic& p, std::initializer_list<float> v)
{
    std::vector<float> a(v);
    p.fill(a.data());
}

TEST(FloatPicArith, PictureOperationsAndShapes)
{
    FPic a(2, 2, 1, 12), b(2, 2, 1), d(2, 2, 1, 16), wrong(2, 2, 2);
    Fill(a, {6, -4, 0, 9});
    Fill(b, {3, 0, 2, kNaN});
    const struct {
        const char* name;
        std::function<kz_result()> op;
        float expect[4];
    } cases[] = {
        {"plus", [&] { return F::Plus(d.get(), a.get(), b.get()); }, {9, -4, 2, kNaN}},
        {"plus c", [&] { return F::Plus(d.get(), a.get(), 1.5f); }, {7.5f, -2.5f, 1.5f, 10.5f}},
        {"minus", [&] { return F::Minus(d.get(), a.get(), b.get()); }, {3, -4, -2, kNaN}},
        {"c minus", [&] { return F::Minus(d.get(), 1.0f, a.get()); }, {-5, 5, 1, -8}},
        {"times", [&] { return F::Multiplication(d.get(), a.get(), b.get()); }, {18, -0.0f, 0, kNaN}},
        {"times c", [&] { return F::Multiplication(d.get(), a.get(), 0.5f); }, {3, -2, 0, 4.5f}},
        {"divide", [&] { return F::Division(d.get(), a.get(), b.get()); }, {2, 0, 0, 0}},
        {"c divide", [&] { return F::Division(d.get(), 12.0f, a.get()); }, {2, -3, 0, 12.0f / 9.0f}},
        {"abs", [&] { return F::Abs(d.get(), a.get()); }, {6, 4, 0, 9}},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(c.op(), 0) << c.name;
        for (unsigned i = 0; i < 4; ++i)
            EXPECT_TRUE(SameFloat(d.at(i % 2, i / 2), c.expect[i])) << c.name << " " << i << ": " << d.at(i % 2, i / 2);
    }
    EXPECT_EQ(F::Plus(wrong.get(), a.get(), b.get()), -9);
    EXPECT_EQ(F::Plus(d.get(), a.get(), wrong.get()), -9);
    EXPECT_EQ(F::Abs(wrong.get(), a.get()), -9);
    // In place.
    ASSERT_EQ(F::Plus(a.get(), a.get(), a.get()), 0);
    EXPECT_EQ(a.at(1, 1), 18.0f);
}

TEST(FloatPicArith, AmplitudePhasePairs)
{
    FPic a1(1, 1, 1), p1(1, 1, 1), a2(1, 1, 1), p2(1, 1, 1), ad(1, 1, 1), pd(1, 1, 1), odd(2, 1, 1);
    a1.at(0, 0) = 2;
    p1.at(0, 0) = 1;
    a2.at(0, 0) = 3;
    p2.at(0, 0) = 0.5f;
    ASSERT_EQ(F::MultiplicationAP(ad.get(), pd.get(), a1.get(), p1.get(), a2.get(), p2.get()), 0);
    EXPECT_EQ(ad.at(0, 0), 6.0f);
    EXPECT_EQ(pd.at(0, 0), 1.5f);
    ASSERT_EQ(F::DivisionAP(ad.get(), pd.get(), a1.get(), p1.get(), a2.get(), p2.get()), 0);
    EXPECT_FLOAT_EQ(ad.at(0, 0), 2.0f / 3.0f);
    EXPECT_EQ(pd.at(0, 0), 0.5f);
    ASSERT_EQ(F::ConjugationAP(ad.get(), pd.get(), a1.get(), p1.get()), 0);
    EXPECT_EQ(ad.at(0, 0), 2.0f);
    EXPECT_EQ(pd.at(0, 0), -1.0f);
    EXPECT_EQ(F::MultiplicationAP(ad.get(), odd.get(), a1.get(), p1.get(), a2.get(), p2.get()), -9);
    EXPECT_EQ(F::ConjugationAP(ad.get(), pd.get(), a1.get(), odd.get()), -9);
}

TEST(FloatPicArith, MixAndGreyRatio)
{
    FPic src(2, 1, 3), dst(2, 1, 3), grey(2, 1, 1);
    Fill(src, {1, 2, 3, 4, 5, 6});
    ASSERT_EQ(F::MixComponents(dst.get(), src.get(), 0, 0, 100, 0, 100, 0, 100, 0, 0), 0);
    EXPECT_FLOAT_EQ(dst.at(0, 0, 0), 3.0f);
    EXPECT_FLOAT_EQ(dst.at(0, 0, 1), 2.0f);
    EXPECT_FLOAT_EQ(dst.at(1, 0, 2), 4.0f);
    ASSERT_EQ(F::MixComponents(src.get(), src.get(), 0, 0, 100, 0, 100, 0, 100, 0, 0), 0);  // in place
    EXPECT_FLOAT_EQ(src.at(1, 0, 0), 6.0f);
    EXPECT_EQ(F::MixComponents(grey.get(), grey.get(), 100, 0, 0, 0, 100, 0, 0, 0, 100), -9);

    FPic num(2, 1, 1), den(2, 1, 1);
    Fill(num, {6, 9});
    Fill(den, {3, 0});
    Fill(dst, {1, 2, 3, 4, 5, 6});
    ASSERT_EQ(F::ComponentsMulGrayDivGray(dst.get(), num.get(), den.get()), 0);
    EXPECT_EQ(dst.at(0, 0, 2), 6.0f);
    EXPECT_EQ(dst.at(1, 0, 0), 9.0f);
    EXPECT_EQ(dst.at(1, 0, 2), 9.0f);
    FPic den3(3, 1, 1);
    EXPECT_EQ(F::ComponentsMulGrayDivGray(dst.get(), num.get(), den3.get()), -9);
}

TEST(FloatPicArith, RangesMasksAndValues)
{
    FPic p(3, 2, 1, 16);
    Fill(p, {-2, 5, kNaN, 0, 1, 3});
    float lo, hi;
    ASSERT_EQ(F::GetFloatMinMax(p.get(), lo, hi), 0);
    EXPECT_EQ(lo, -2.0f);
    EXPECT_EQ(hi, 5.0f);
    IPic mask(3, 2, 8, 1);
    mask.at<unsigned char>(2, 1) = 1;
    mask.at<unsigned char>(1, 1) = 200;
    ASSERT_EQ(F::GetFloatMinMax(p.get(), lo, hi, mask.get(), false), 0);
    EXPECT_EQ(lo, 1.0f);
    EXPECT_EQ(hi, 3.0f);
    ASSERT_EQ(F::GetFloatMinMax(p.get(), lo, hi, mask.get(), true), 0);
    EXPECT_EQ(lo, -2.0f);
    EXPECT_EQ(hi, 5.0f);
    IPic zeros(3, 2, 8, 1), other(4, 2, 8, 1);
    EXPECT_EQ(F::GetFloatMinMax(p.get(), lo, hi, zeros.get(), false), -9);
    EXPECT_EQ(lo, 3.4028235e38f);
    EXPECT_EQ(hi, -3.4028235e38f);
    ASSERT_EQ(F::GetFloatMinMax(p.get(), lo, hi, other.get(), false), 0);  // unusable mask: all pixels
    EXPECT_EQ(hi, 5.0f);

    ASSERT_EQ(F::FillFloatUnderMask(p.get(), mask.get(), true, 7.0f), 0);
    EXPECT_EQ(p.at(2, 1), 7.0f);
    EXPECT_EQ(p.at(0, 0), -2.0f);
    ASSERT_EQ(F::FillFloatUnderMask(p.get(), mask.get(), false, 8.0f), 0);
    EXPECT_EQ(p.at(0, 0), 8.0f);
    EXPECT_EQ(p.at(1, 1), 7.0f);
    EXPECT_EQ(F::FillFloatUnderMask(p.get(), other.get(), false, 8.0f), -9);

    FPic r(2, 2, 1);
    Fill(r, {0, kNaN, 2, 0});
    ASSERT_EQ(F::ReplaceValues(r.get(), 0.0f, 1.0f), 0);
    EXPECT_EQ(r.at(0, 0), 1.0f);
    EXPECT_EQ(r.at(1, 0), 1.0f);
    EXPECT_EQ(r.at(0, 1), 2.0f);
    EXPECT_EQ(F::ReplaceValues(nullptr, 0, 1), -9);

    FPic o(8, 1, 1), sub(8, 1, 1);
    Fill(o, {-2, -1, 0, 1, 2, 3, 4, 5});
    ASSERT_EQ(F::OffsetFloatPicBuf(o.get()), 0);
    for (unsigned x = 0; x < 8; ++x)
        EXPECT_EQ(o.at(x, 0), float(x));
    EXPECT_EQ(F::OffsetFloatPicBuf(p.get()), -9);  // not the default stride
    float c1 = 1.5f;
    ASSERT_EQ(F::SubConst(sub.get(), o.get(), &c1), 0);
    EXPECT_EQ(sub.at(7, 0), 5.5f);

    float v[3] = {4, -1, 2}, mn, mx;
    EXPECT_TRUE(FloatBufferGetMinMax(v, 3, &mn, &mx));
    EXPECT_EQ(mn, -1.0f);
    EXPECT_EQ(mx, 4.0f);
    mn = 99;
    EXPECT_FALSE(FloatBufferGetMinMax(v, 0, &mn, &mx));
    EXPECT_EQ(mn, 99.0f);
    EXPECT_FALSE(FloatBufferGetMinMax(nullptr, 3, &mn, &mx));
}

TEST(FloatPicArith, FillPicByFloat)
{
    FPic src(4, 1, 1);
    Fill(src, {0.5f, 1.0f, -0.1f, kNaN});
    IPic d8(4, 1, 8, 1), d3(4, 1, 8, 3), d12(4, 1, 12, 1), d32(4, 1, 32, 1);
    float lo = 0, hi = 1;
    ASSERT_EQ(F::FillPicByFloat(d8.get(), src.get(), &lo, &hi, false), 0);
    EXPECT_EQ(d8.at<unsigned char>(0, 0), 127);
    EXPECT_EQ(d8.at<unsigned char>(1, 0), 255);
    EXPECT_EQ(d8.at<unsigned char>(2, 0), 0);
    EXPECT_EQ(d8.at<unsigned char>(3, 0), 0);
    ASSERT_EQ(F::FillPicByFloat(d8.get(), src.get(), &lo, &hi, true), 0);
    EXPECT_EQ(d8.at<unsigned char>(2, 0), 255);
    ASSERT_EQ(F::FillPicByFloat(d3.get(), src.get(), &lo, &hi, false), 0);
    for (unsigned k = 0; k < 3; ++k)
        EXPECT_EQ(d3.at<unsigned char>(0, 0, k), 127);
    ASSERT_EQ(F::FillPicByFloat(d12.get(), src.get(), &lo, &hi, false), 0);
    EXPECT_EQ(d12.at<unsigned short>(1, 0), 4095);
    EXPECT_EQ(F::FillPicByFloat(d32.get(), src.get(), &lo, &hi, false), -9);
    float same = 1;
    EXPECT_EQ(F::FillPicByFloat(d8.get(), src.get(), &same, &same, false), -9);
    // Without a range the picture's own one (NaN skipped): -0.1 .. 1.
    ASSERT_EQ(F::FillPicByFloat(d8.get(), src.get(), nullptr, nullptr, false), 0);
    EXPECT_EQ(d8.at<unsigned char>(2, 0), 0);
    EXPECT_EQ(d8.at<unsigned char>(1, 0), 255);
    FPic two(4, 1, 2);
    EXPECT_EQ(F::FillPicByFloat(d3.get(), two.get(), &lo, &hi, false), -9);
}

TEST(FloatPicArith, FloatHistogramSkipsUnusableSamples)
{
    FPic p(6, 1, 1);
    Fill(p, {0, 10, 5, kNaN, kInf, kMarker});
    p->fMin = 0;
    p->fMax = 10;
    SKzPicBufDesc desc{6, 1, 6, 4, 1};
    SKzHisto h;
    CKzHistoAPI::Init(&h);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&h, &desc), 0);
    CKzHistoAPI::Calculate(&h, p.get(), false);
    EXPECT_EQ(CKzHistoAPI::GetValue(&h, 0, 0), 1);
    EXPECT_EQ(CKzHistoAPI::GetValue(&h, 0, 15), 1);
    EXPECT_EQ(CKzHistoAPI::GetValue(&h, 0, 7), 1);  // 5 * 15 / 10 = 7.5
    i64 total = 0;
    for (unsigned b = 0; b < 16; ++b)
        total += CKzHistoAPI::GetValue(&h, 0, b);
    EXPECT_EQ(total, 3);
    // Range 0, 0: measured (the marker counts as a number there) and stored.
    FPic q(3, 1, 1);
    Fill(q, {2, 4, 3});
    CKzHistoAPI::Calculate(&h, q.get(), false);
    EXPECT_EQ(q->fMin, 2.0f);
    EXPECT_EQ(q->fMax, 4.0f);
    EXPECT_EQ(CKzHistoAPI::GetValue(&h, 0, 7), 1);  // (2 - 0) * 15 / 4
    // A degenerate range: every finite sample into bin 0.
    q->fMin = -1;
    q->fMax = -1;
    CKzHistoAPI::Calculate(&h, q.get(), false);
    EXPECT_EQ(CKzHistoAPI::GetValue(&h, 0, 0), 3);
    CKzHistoAPI::Free(&h);
}

TEST(FloatPicArith, ResizeAndCrop)
{
    FPic p(2, 2, 1);
    Fill(p, {1, 2, 3, 4});
    ASSERT_EQ(F::Resize(p.get(), 4, 4, 0, true), 0);
    EXPECT_EQ(p->uiWidth, 4u);
    EXPECT_EQ(p->fMin, 0.0f);
    EXPECT_EQ(p->fMax, 0.0f);
    EXPECT_EQ(p.at(0, 0), 2.0f);
    EXPECT_EQ(p.at(3, 3), 8.0f);
    EXPECT_EQ(F::Resize(p.get(), 0, 4, 0, false), -9);

    FPic src(4, 3, 2, 40), dst(2, 2, 2);
    for (unsigned y = 0; y < 3; ++y)
        for (unsigned x = 0; x < 4; ++x)
            src.at(x, y, 1) = float(10 * y + x);
    ASSERT_EQ(F::Crop(dst.get(), src.get(), 2, 4, 1, 3), 0);
    EXPECT_EQ(dst.at(0, 0, 1), 12.0f);
    EXPECT_EQ(dst.at(1, 1, 1), 23.0f);
    EXPECT_EQ(F::Crop(dst.get(), src.get(), 3, 5, 1, 3), -9);
    EXPECT_EQ(F::Crop(dst.get(), src.get(), 1, 4, 1, 3), -9);
    FPic rc;
    ASSERT_EQ(F::ReinitAndCrop(rc.get(), src.get(), 1, 4, 0, 3), 0);
    EXPECT_EQ(rc->uiWidth, 3u);
    EXPECT_EQ(rc.at(2, 2, 1), 23.0f);
    EXPECT_EQ(F::ReinitAndCrop(rc.get(), src.get(), -1, 4, 0, 3), -9);
}

} // namespace
