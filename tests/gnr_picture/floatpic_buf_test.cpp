// Float picture life cycle, shape tests, copies and conversions.

#include "floatpic_support.h"

#include "gnr_picture/internal/KzPicKernelFamilies.h"
#include "gnr_picture/internal/KzStretchTwoPass.h"

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

// Bit-identical floats, NaN equal to NaN (the marker is an ordinary value).
void ExpectSamePic(FPic& got, const std::vector<float>& want, const char* what)
{
    const unsigned w = got->uiWidth, h = got->uiHeight, c = got->uiComp;
    ASSERT_EQ(want.size(), size_t(w) * h * c) << what;
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            for (unsigned k = 0; k < c; ++k)
                ASSERT_TRUE(SameFloat(got.at(x, y, k), want[(size_t(y) * w + x) * c + k]))
                    << what << " at " << x << "," << y << "," << k << ": " << got.at(x, y, k) << " vs "
                    << want[(size_t(y) * w + x) * c + k];
}

// A picture of w x h pixels, padded rows, with a value pattern that differs
// from pixel to pixel and from component to component.
void Pattern(FPic& p, unsigned seed)
{
    for (unsigned y = 0; y < p->uiHeight; ++y)
        for (unsigned x = 0; x < p->uiWidth; ++x)
            for (unsigned k = 0; k < p->uiComp; ++k)
                p.at(x, y, k) = float(((x * 37 + y * 91 + k * 13 + seed) * 2654435761u >> 20) % 1000) * 0.25f - 60.0f;
}

TEST(FloatPicBuf, FilteredStretchMatchesTheTwoPassKernels)
{
    // Whole pictures and rectangles, bell (2) and triangle (3), enlarging,
    // reducing and mixed, 1, 3 and 4 components, padded strides: the picture
    // entry points give exactly what the two-pass composition of the kernels
    // gives for the same rectangle.
    const struct {
        unsigned mode, comps, srcW, srcH, srcPad, dstW, dstH, rx, ry, rw, rh;
    } cases[] = {
        {2, 1, 9, 7, 0, 4, 3, 0, 0, 9, 7},     {3, 1, 9, 7, 3, 20, 15, 0, 0, 9, 7},
        {2, 3, 8, 6, 5, 13, 4, 0, 0, 8, 6},    {3, 3, 8, 6, 0, 3, 11, 0, 0, 8, 6},
        {2, 4, 5, 5, 2, 9, 9, 0, 0, 5, 5},     {3, 4, 12, 10, 0, 5, 4, 0, 0, 12, 10},
        {2, 1, 20, 18, 1, 7, 5, 3, 4, 11, 9},  {3, 3, 20, 18, 0, 30, 25, 5, 6, 9, 8},
        {2, 3, 20, 18, 4, 6, 6, 0, 9, 20, 9},  {3, 1, 20, 18, 0, 4, 40, 19, 0, 1, 18},
    };
    for (const auto& c : cases) {
        FPic src(c.srcW, c.srcH, c.comps, (c.srcW * c.comps + c.srcPad) * 4);
        Pattern(src, c.mode + c.comps);
        const bool whole = c.rw == c.srcW && c.rh == c.srcH;
        // The destination is larger than the rectangle it receives.
        const unsigned dx = whole ? 0 : 2, dy = whole ? 0 : 1;
        FPic dst(c.dstW + dx + 1, c.dstH + dy + 2, c.comps), ref(c.dstW + dx + 1, c.dstH + dy + 2, c.comps);
        for (unsigned y = 0; y < dst->uiHeight; ++y)
            for (unsigned x = 0; x < dst->uiWidth; ++x)
                for (unsigned k = 0; k < c.comps; ++k)
                    dst.at(x, y, k) = ref.at(x, y, k) = 555.0f;
        if (whole && dx == 0) {
            FPic exact(c.dstW, c.dstH, c.comps), exactRef(c.dstW, c.dstH, c.comps);
            ASSERT_EQ(F::Stretch(exact.get(), src.get(), c.mode), 0) << c.mode << "/" << c.comps;
            ASSERT_EQ(KzFilteredStretchFloat(exactRef->pData, c.comps, exactRef->uiWidthBytes, c.dstW, c.dstH,
                                             src->pData, src->uiWidthBytes, c.srcH, 0, 0, c.srcW, c.srcH,
                                             c.mode == 2, false),
                      0);
            ExpectSamePic(exact, std::vector<float>(exactRef->pData, exactRef->pData + c.dstW * c.dstH * c.comps),
                          "Stretch");
        }
        ASSERT_EQ(F::StretchRect(dst.get(), dx, dy, c.dstW, c.dstH, src.get(), c.rx, c.ry, c.rw, c.rh, c.mode), 0);
        ASSERT_EQ(KzFilteredStretchFloat(&ref.at(dx, dy), c.comps, ref->uiWidthBytes, c.dstW, c.dstH,
                                         &src.at(c.rx, c.ry), src->uiWidthBytes, c.srcH, c.rx, c.ry, c.rw, c.rh,
                                         c.mode == 2, false),
                  0);
        std::vector<float> want;
        for (unsigned y = 0; y < ref->uiHeight; ++y)
            for (unsigned x = 0; x < ref->uiWidth; ++x)
                for (unsigned k = 0; k < c.comps; ++k)
                    want.push_back(ref.at(x, y, k));
        ExpectSamePic(dst, want, "StretchRect");
    }
}

TEST(FloatPicBuf, FilteredStretchHandCases)
{
    const struct {
        const char* what;
        unsigned mode, srcW, srcH, dstW, dstH;
        std::vector<float> src, want;
    } cases[] = {
        // Triangle doubling a row: 0.75 / 0.25 interpolation, edges clamp.
        {"triangle x2", 3, 2, 1, 4, 1, {0, 256}, {0, 64, 192, 256}},
        // Bell at equal size: weights 1/8, 3/4, 1/8; the edge taps clamp.
        {"bell equal", 2, 1, 3, 1, 3, {0, 64, 0}, {8, 48, 8}},
        {"bell equal row", 2, 4, 1, 4, 1, {8, 0, 0, 16}, {7, 1, 2, 14}},
        // Triangle at equal size copies.
        {"triangle equal", 3, 3, 2, 3, 2, {1, -2, 3.5f, kInf, 5, -6}, {1, -2, 3.5f, kInf, 5, -6}},
        // A constant keeps its value at any scale.
        {"bell reduce", 2, 7, 5, 2, 2, std::vector<float>(35, 3.25f), {3.25f, 3.25f, 3.25f, 3.25f}},
    };
    for (const auto& c : cases) {
        FPic src(c.srcW, c.srcH, 1), dst(c.dstW, c.dstH, 1);
        src.fill(c.src.data());
        ASSERT_EQ(F::Stretch(dst.get(), src.get(), c.mode), 0) << c.what;
        ExpectSamePic(dst, c.want, c.what);
    }

    // A rectangle inside the picture reads the rows above and below it as
    // filter margins: the bell's outer taps see 100 there.
    FPic col(1, 5, 1), out(2, 3, 1), top(2, 3, 1);
    const float v[5] = {100, 0, 0, 0, 100};
    col.fill(v);
    ASSERT_EQ(F::StretchRect(out.get(), 0, 0, 2, 3, col.get(), 0, 1, 1, 3, 2), 0);
    ExpectSamePic(out, {12.5f, 12.5f, 0, 0, 12.5f, 12.5f}, "margins");
    // The same rows from the top of the picture clamp there instead.
    ASSERT_EQ(F::StretchRect(top.get(), 0, 0, 2, 3, col.get(), 0, 0, 1, 3, 2), 0);
    ExpectSamePic(top, {87.5f, 87.5f, 12.5f, 12.5f, 0, 0}, "top rows");
}

TEST(FloatPicBuf, FilteredStretchWithValidity)
{
    const struct {
        const char* what;
        unsigned mode, srcW, srcH, dstW, dstH;
        std::vector<float> src, want;
    } cases[] = {
        // The invalid centre is left out and the rest renormalised:
        // (8192 * 5 + 8192 * 9) / 16384.
        {"bell row", 2, 3, 1, 3, 1, {5, kMarker, 9}, {5, 7, 9}},
        {"bell column NaN", 2, 1, 3, 1, 3, {5, kNaN, 9}, {5, 7, 9}},
        {"minus infinity", 2, 3, 1, 3, 1, {5, -kInf, 9}, {5, 7, 9}},
        {"nothing valid", 2, 3, 1, 3, 1, {kMarker, kNaN, kMarker}, {kMarker, kMarker, kMarker}},
        // Triangle doubling with one invalid end: the valid side alone.
        {"triangle x2", 3, 2, 1, 4, 1, {kMarker, 256}, {kMarker, 256, 256, 256}},
    };
    for (const auto& c : cases) {
        FPic src(c.srcW, c.srcH, 1), dst(c.dstW, c.dstH, 1);
        src.fill(c.src.data());
        ASSERT_EQ(F::Stretch_WithValidity(dst.get(), src.get(), c.mode), 0) << c.what;
        ExpectSamePic(dst, c.want, c.what);
    }
    // Several components: refused by the picture entry (-9) and by the raw
    // filtered path (-2), which has one-component validity kernels only.
    FPic three(4, 4, 3), out3(2, 2, 3);
    EXPECT_EQ(F::Stretch_WithValidity(out3.get(), three.get(), 2), -9);
    EXPECT_EQ(CKzFloatPicMemAPI::Stretch_WithValidity(out3->pData, 3, out3->uiWidthBytes, 2, 2, three->pData,
                                                      three->uiWidthBytes, 4, 0, 0, 4, 4, 3),
              -2);
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
