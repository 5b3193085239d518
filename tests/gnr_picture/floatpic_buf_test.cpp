// Float picture life cycle, shape tests, copies and conversions.

#include "floatpic_support.h"

#include "gnr_picture/internal/KzPicKernelFamilies.h"

using namespace floatpic_test;
using F = CKzFloatPicBufAPI;

namespace {

TEST(FloatPicBuf, ReinitShapes)
{
    FPic p;
    ASSERT_EQ(F::Reinit(p.get(), 3, 2, 0, 3, true), 0);
    EXPECT_EQ(p->uiWidthBytes, 36u);
    EXPECT_EQ(p->uiSize, 72u);
    EXPECT_EQ(p->uiBpc, 32);
    EXPECT_EQ(p.at(2, 1, 2), 0.0f);
    // A given stride is kept; one below the row is refused and changes nothing.
    ASSERT_EQ(F::Reinit(p.get(), 3, 2, 40, 3, false), 0);
    EXPECT_EQ(p->uiSize, 80u);
    EXPECT_EQ(F::Reinit(p.get(), 3, 2, 35, 3, false), -4);
    EXPECT_EQ(p->uiWidthBytes, 40u);
    EXPECT_NE(p->pData, nullptr);
    // Sizes beyond 32 bits fail like missing memory: zeroed, no block.
    EXPECT_EQ(F::Reinit(p.get(), 70000, 70000, 0, 1, false), -3);
    EXPECT_EQ(p->pData, nullptr);
    EXPECT_EQ(p->uiWidth, 0u);
    EXPECT_EQ(p->uiSize, 0u);
    ASSERT_EQ(F::Reinit(p.get(), 4, 4, 0, 1, false), 0);
    EXPECT_EQ(F::Reinit(p.get(), 0, 4, 0, 1, false), -3);
    EXPECT_EQ(p->pData, nullptr);
    EXPECT_EQ(p->uiHeight, 0u);
    EXPECT_EQ(p->uiBpc, 0);
    EXPECT_EQ(F::Reinit(nullptr, 1, 1, 0, 1, false), -9);
}

TEST(FloatPicBuf, FreeKeepsShapeAndSwapExchangesAll)
{
    FPic a(4, 3, 2), b(2, 2, 1);
    a->fMin = 1.0f;
    a->fMax = 9.0f;
    float* blockA = a->pData;
    ASSERT_EQ(F::Swap(a.get(), b.get()), 0);
    EXPECT_EQ(b->pData, blockA);
    EXPECT_EQ(b->fMax, 9.0f);
    EXPECT_EQ(a->fMax, 0.0f);
    EXPECT_EQ(b->uiWidth, 4u);
    ASSERT_EQ(F::Free(b.get()), 0);
    EXPECT_EQ(b->pData, nullptr);
    EXPECT_EQ(b->uiWidth, 4u);
    EXPECT_EQ(b->uiSize, 96u);
    EXPECT_EQ(b->fMin, 1.0f);
    ASSERT_EQ(F::Reinit(b.get(), 4, 3, 0, 2, true), 0);
    EXPECT_NE(b->pData, nullptr);
}

TEST(FloatPicBuf, CheckOptions)
{
    FPic a(4, 3, 2), b(4, 3, 1), c(5, 3, 2);
    const struct {
        int option;
        bool ab, ac;
    } cases[] = {{0, true, false}, {1, true, false}, {2, false, false}, {3, false, false},
                 {4, false, true},  {5, true, true},  {6, false, true}, {7, false, false}};
    for (const auto& k : cases) {
        EXPECT_EQ(F::Check(a.get(), b.get(), F::CheckOptions(k.option)), k.ab) << k.option;
        EXPECT_EQ(F::Check(a.get(), c.get(), F::CheckOptions(k.option)), k.ac) << k.option;
    }
    EXPECT_FALSE(F::Check(a.get(), static_cast<SKzFloatPicBuf*>(nullptr), F::eCheckSize));
    IPic i8(4, 3, 8, 2), i32(4, 3, 32, 2);
    EXPECT_TRUE(F::Check(a.get(), i8.get(), F::eCheckSizeComp));
    EXPECT_FALSE(F::Check(a.get(), i8.get(), F::eCheckSizeBpcComp));
    EXPECT_TRUE(F::Check(a.get(), i32.get(), F::eCheckSizeBpcComp));
    EXPECT_TRUE(F::Check_Ex(b.get(), c.get(), 5, 3));
    EXPECT_FALSE(F::Check_Ex(b.get(), c.get(), 4, 3));
    EXPECT_FALSE(F::Check_Ex(c.get(), b.get(), 9, 9));
    EXPECT_TRUE(F::Check_Ex(i8.get(), c.get(), 5, 3));
}

TEST(FloatPicBuf, CopiesHonourStrides)
{
    FPic src(5, 4, 2, 48), dst(5, 4, 2);
    for (unsigned y = 0; y < 4; ++y)
        for (unsigned x = 0; x < 5; ++x)
            for (unsigned k = 0; k < 2; ++k)
                src.at(x, y, k) = float(100 * y + 10 * x + k);
    ASSERT_EQ(F::Copy(dst.get(), src.get()), 0);
    EXPECT_EQ(dst.at(4, 3, 1), 341.0f);
    FPic other(5, 4, 1);
    EXPECT_EQ(F::Copy(other.get(), src.get()), -9);

    FPic copy;
    ASSERT_EQ(F::ReinitAndCopy(copy.get(), src.get()), 0);
    EXPECT_EQ(copy->uiWidthBytes, 40u);
    EXPECT_EQ(copy.at(3, 2, 0), 230.0f);

    // Rectangles: inside both pictures copied, outside either refused.
    FPic small(3, 2, 2);
    ASSERT_EQ(F::CopyRect(1, 0, 2, 2, small.get(), 3, 2, src.get()), 0);
    EXPECT_EQ(small.at(1, 0, 0), 230.0f);
    EXPECT_EQ(small.at(2, 1, 1), 341.0f);
    EXPECT_EQ(small.at(0, 0, 0), 0.0f);
    EXPECT_EQ(F::CopyRect(2, 0, 2, 2, small.get(), 0, 0, src.get()), -4);
    EXPECT_EQ(F::CopyRect(0, 0, 2, 2, small.get(), 4, 0, src.get()), -4);
    EXPECT_EQ(F::CopyRect(0, 0, 1, 1, small.get(), 0xFFFFFFFFu, 0, src.get()), -4);
    EXPECT_EQ(F::CopyRect(0, 0, 1, 1, other.get(), 0, 0, src.get()), -9);

    ASSERT_EQ(F::Clear(dst.get()), 0);
    EXPECT_EQ(dst.at(4, 3, 1), 0.0f);
    EXPECT_EQ(F::Clear(nullptr), -9);
}

TEST(FloatPicBuf, StretchEntryPoints)
{
    FPic src(4, 4, 1), dst(2, 2, 1), big(8, 8, 1);
    for (unsigned y = 0; y < 4; ++y)
        for (unsigned x = 0; x < 4; ++x)
            src.at(x, y) = float(10 * y + x);
    // Equal rectangle sizes copy exactly.
    ASSERT_EQ(F::StretchRect(big.get(), 5, 6, 2, 2, src.get(), 1, 2, 2, 2, 0), 0);
    EXPECT_EQ(big.at(5, 6), 21.0f);
    EXPECT_EQ(big.at(6, 7), 32.0f);
    EXPECT_EQ(F::StretchRect(big.get(), 7, 6, 2, 2, src.get(), 1, 2, 2, 2, 0), -4);
    EXPECT_EQ(F::StretchRect(big.get(), 0, 0, 2, 2, src.get(), 3, 3, 2, 2, 0), -4);
    // Nearest neighbour.
    ASSERT_EQ(F::Stretch(dst.get(), src.get(), 0), 0);
    EXPECT_EQ(dst.at(0, 0), 0.0f);
    EXPECT_EQ(dst.at(1, 1), 22.0f);
    ASSERT_EQ(F::Stretch(big.get(), src.get(), 1), 0);
    EXPECT_EQ(big.at(7, 7), 33.0f);
    ASSERT_EQ(F::Stretch_WithValidity(dst.get(), src.get(), 4), 0);
    EXPECT_EQ(dst.at(1, 0), 2.0f);
    FPic three(2, 2, 3), three4(4, 4, 3);
    EXPECT_EQ(F::Stretch_WithValidity(three.get(), three4.get(), 0), -9);
    EXPECT_EQ(F::Stretch(three.get(), src.get(), 0), -9);
}

TEST(FloatPicBuf, FilteredStretchWaitsForItsKernels)
{
    FPic src(4, 4, 1), dst(2, 2, 1);
    if (!kKzPicHaveFloatStretch) {
        EXPECT_EQ(F::Stretch(dst.get(), src.get(), 2), -2);
        EXPECT_EQ(F::Stretch_WithValidity(dst.get(), src.get(), 3), -2);
        GTEST_SKIP() << "filtered float resampling kernels are not built";
    }
    EXPECT_EQ(F::Stretch(dst.get(), src.get(), 2), 0);
}

TEST(FloatPicBuf, ConvertFromIntegerPictures)
{
    IPic i12(3, 2, 12, 2);
    i12.at<unsigned short>(2, 1, 1) = 4095;
    i12.at<unsigned short>(0, 0, 0) = 17;
    FPic f;
    ASSERT_EQ(F::ConvertFromPicBuf(f.get(), i12.get()), 0);
    EXPECT_EQ(f->uiWidth, 3u);
    EXPECT_EQ(f->uiComp, 2u);
    EXPECT_EQ(f->fMin, 0.0f);
    EXPECT_EQ(f->fMax, 4095.0f);
    EXPECT_EQ(f.at(2, 1, 1), 4095.0f);
    EXPECT_EQ(f.at(0, 0, 0), 17.0f);

    IPic i4(2, 2, 4, 1);
    i4.at<unsigned char>(1, 1) = 15;
    ASSERT_EQ(F::ConvertFromPicBuf(f.get(), i4.get()), 0);
    EXPECT_EQ(f->fMax, 15.0f);
    EXPECT_EQ(f.at(1, 1), 15.0f);

    IPic i32(2, 2, 32, 1);
    EXPECT_EQ(F::ConvertFromPicBuf(f.get(), i32.get()), -2);
    EXPECT_EQ(F::ConvertFromPicBuf(nullptr, i4.get()), -9);

    // An unshaped destination of the right size fields is shaped first.
    FPic loose;
    loose->uiWidth = 2;
    loose->uiHeight = 2;
    loose->uiComp = 1;
    ASSERT_EQ(F::ConvertFromPicBuf(loose.get(), i4.get()), 0);
    EXPECT_EQ(loose.at(1, 1), 15.0f);
}

TEST(FloatPicBuf, DivideComponents)
{
    IPic src(2, 1, 8, 3);
    src.at<unsigned char>(0, 0, 0) = 50;
    src.at<unsigned char>(0, 0, 2) = 4;
    src.at<unsigned char>(1, 0, 0) = 7;  // denominator 0
    FPic dst(2, 1, 2);
    dst.at(0, 0, 1) = 99.0f;
    ASSERT_EQ(F::DivideComponents(dst.get(), src.get(), 0, 2, 2.0, 1.0), 0);
    EXPECT_EQ(dst.at(0, 0, 0), 26.0f);
    EXPECT_EQ(dst.at(1, 0, 0), 511.0f);  // 255 * 2 + 1
    EXPECT_EQ(dst.at(0, 0, 1), 99.0f);
    ASSERT_EQ(F::DivideComponents(dst.get(), src.get(), 0, 2, 1.0, -100.0), 0);
    EXPECT_EQ(dst.at(0, 0, 0), 0.0f);
    EXPECT_EQ(F::DivideComponents(dst.get(), src.get(), 0, 3, 1.0, 0.0), -9);
    IPic one(2, 1, 8, 1), wide(3, 1, 8, 3), deep(2, 1, 32, 3);
    EXPECT_EQ(F::DivideComponents(dst.get(), one.get(), 0, 0, 1.0, 0.0), -9);
    EXPECT_EQ(F::DivideComponents(dst.get(), wide.get(), 0, 1, 1.0, 0.0), -9);
    EXPECT_EQ(F::DivideComponents(dst.get(), deep.get(), 0, 1, 1.0, 0.0), -9);
}

TEST(FloatPicBuf, GreyAndChannelOrder)
{
    FPic rgb(2, 2, 4), grey(2, 2, 1), narrow(3, 2, 1);
    for (unsigned y = 0; y < 2; ++y)
        for (unsigned x = 0; x < 2; ++x)
            for (unsigned k = 0; k < 4; ++k)
                rgb.at(x, y, k) = float(k + 1);
    ASSERT_EQ(F::ColorToGray(grey.get(), rgb.get()), 0);
    EXPECT_FLOAT_EQ(grey.at(1, 1), 2.5f);
    narrow.at(0, 0) = 7.0f;
    EXPECT_EQ(F::ColorToGray(narrow.get(), rgb.get()), -9);
    EXPECT_EQ(narrow.at(0, 0), 7.0f);

    ASSERT_EQ(F::ConvertBGRtoRGB(rgb.get(), rgb.get()), 0);
    EXPECT_EQ(rgb.at(1, 0, 0), 3.0f);
    EXPECT_EQ(rgb.at(1, 0, 2), 1.0f);
    EXPECT_EQ(rgb.at(1, 0, 3), 4.0f);
    FPic out(2, 2, 3);
    ASSERT_EQ(F::ConvertBGRtoRGB(out.get(), rgb.get()), 0);
    EXPECT_EQ(out.at(0, 1, 0), 1.0f);
    EXPECT_EQ(out.at(0, 1, 2), 3.0f);
    EXPECT_EQ(F::ConvertBGRtoRGB(grey.get(), grey.get()), -9);
    EXPECT_EQ(F::ConvertBGRtoRGB(out.get(), narrow.get()), -9);
}

} // namespace
