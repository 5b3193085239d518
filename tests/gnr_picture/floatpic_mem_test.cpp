// Raw float memory: arithmetic and conversions against numpy, statistics,
// component moves and the zero-extent rules.

#include "floatpic_support.h"

#include "gnr_picture/KzFloatPicMem.h"

#include <functional>

using namespace floatpic_test;

namespace {
#include "floatpic_reference.inc"

using M = CKzFloatPicMemAPI;
constexpr size_t kArN = size_t(kArW) * kArH * kArC;

// A block with its own stride (padding filled with a sentinel).
struct Block {
    unsigned stride;
    std::vector<float> v;
    Block(unsigned padFloats, const float* src = nullptr)
        : stride((kArW * kArC + padFloats) * 4), v(size_t(stride / 4) * kArH, 12345.0f)
    {
        if (src)
            for (unsigned y = 0; y < kArH; ++y)
                std::memcpy(&v[size_t(y) * stride / 4], src + size_t(y) * kArW * kArC, kArW * kArC * 4);
    }
    float at(size_t i) const { return v[(i / (kArW * kArC)) * (stride / 4) + i % (kArW * kArC)]; }
    float* data() { return v.data(); }
};

void ExpectBlock(const Block& b, const float* expect, const char* what)
{
    for (size_t i = 0; i < kArN; ++i)
        ASSERT_TRUE(SameFloat(b.at(i), expect[i])) << what << " sample " << i << ": " << b.at(i) << " vs "
                                                   << expect[i];
    // The padding after each row is untouched.
    for (unsigned y = 0; y < kArH; ++y)
        for (size_t i = kArW * kArC; i < b.stride / 4; ++i)
            ASSERT_EQ(b.v[y * (b.stride / 4) + i], 12345.0f) << what;
}

TEST(FloatPicMem, TwoPictureArithmeticMatchesNumpy)
{
    using Fn = kz_result (*)(float*, unsigned, float*, unsigned, float*, unsigned, unsigned, unsigned, unsigned long);
    const struct {
        const char* name;
        Fn fn;
        const float* expect;
    } cases[] = {
        {"add", M::AddFloatnFloat, kArAdd},
        {"sub", M::SubFloatnFloat, kArSub},
        {"mul", M::MultiFloatnFloat, kArMul},
        {"div", M::DivFloatnFloat, kArDiv},
    };
    for (const auto& c : cases) {
        Block a(1, kArA), b(5, kArB), d(3);
        ASSERT_EQ(c.fn(d.data(), d.stride, a.data(), a.stride, b.data(), b.stride, kArC, kArW, kArW * kArH), 0);
        ExpectBlock(d, c.expect, c.name);
        // In place into the first source.
        ASSERT_EQ(c.fn(a.data(), a.stride, a.data(), a.stride, b.data(), b.stride, kArC, kArW, kArW * kArH), 0);
        ExpectBlock(a, c.expect, c.name);
    }
}

TEST(FloatPicMem, ConstantArithmeticMatchesNumpy)
{
    using Fn = std::function<kz_result(Block&, Block&)>;
    const struct {
        const char* name;
        Fn fn;
        const float* expect;
    } cases[] = {
        {"addc", [](Block& d, Block& s) { return M::AddFloatnConst(d.data(), d.stride, s.data(), s.stride, kArConst, kArC, kArW, kArW * kArH); }, kArAddC},
        {"mulc", [](Block& d, Block& s) { return M::MultiFloatnConst(d.data(), d.stride, s.data(), s.stride, kArConst, kArC, kArW, kArW * kArH); }, kArMulC},
        {"subc", [](Block& d, Block& s) { return M::SubConstnFloat(d.data(), d.stride, kArConst, s.data(), s.stride, kArC, kArW, kArW * kArH); }, kArSubC},
        {"divc", [](Block& d, Block& s) { return M::DivConstnFloat(d.data(), d.stride, kArConst, s.data(), s.stride, kArC, kArW, kArW * kArH); }, kArDivC},
        {"minc", [](Block& d, Block& s) { return M::MinFloatnConst(d.data(), d.stride, s.data(), s.stride, kArConst, kArC, kArW, kArW * kArH); }, kArMinC},
        {"maxc", [](Block& d, Block& s) { return M::MaxFloatnConst(d.data(), d.stride, s.data(), s.stride, kArConst, kArC, kArW, kArW * kArH); }, kArMaxC},
        {"abs", [](Block& d, Block& s) { return M::Abs(d.data(), d.stride, s.data(), s.stride, kArC, kArW, kArW * kArH); }, kArAbs},
    };
    for (const auto& c : cases) {
        Block s(2, kArA), d(0);
        ASSERT_EQ(c.fn(d, s), 0);
        ExpectBlock(d, c.expect, c.name);
        ASSERT_EQ(c.fn(s, s), 0);
        ExpectBlock(s, c.expect, c.name);
    }
}

TEST(FloatPicMem, ZeroExtentAndPartialRows)
{
    float a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, d[8] = {0};
    EXPECT_EQ(M::AddFloatnConst(d, 16, a, 16, 1.0f, 1, 0, 8), 0);
    EXPECT_EQ(M::AddFloatnConst(d, 16, a, 16, 1.0f, 1, 4, 0), 0);
    EXPECT_EQ(d[0], 0.0f);
    // 7 pixels of width 4: one row, the partial second row is ignored.
    EXPECT_EQ(M::AddFloatnConst(d, 16, a, 16, 1.0f, 1, 4, 7), 0);
    EXPECT_EQ(d[3], 5.0f);
    EXPECT_EQ(d[4], 0.0f);
    // Null blocks with an extent are refused, without one they are fine.
    EXPECT_EQ(M::AddFloatnFloat(nullptr, 16, a, 16, a, 16, 1, 4, 4), -9);
    EXPECT_EQ(M::AddFloatnFloat(nullptr, 16, nullptr, 16, nullptr, 16, 1, 0, 4), 0);
}

TEST(FloatPicMem, FloatToIntegerMatchesNumpy)
{
    const struct {
        const char* name;
        unsigned bits;
        float lo, hi;
        bool stretch;
        const void* expect;
    } cases[] = {
        {"8 stretch", 8, -50.0f, 1100.0f, true, kConv8Stretch},
        {"8 plain", 8, 10.0f, 0.0f, false, kConv8Plain},
        {"12 stretch", 12, -500.0f, 1500.0f, true, kConv12Stretch},
    };
    for (const auto& c : cases) {
        const unsigned sb = c.bits <= 8 ? 1 : 2;
        const unsigned stride = kArW * kArC * sb + 6;
        std::vector<unsigned char> out(size_t(stride) * kArH, 0xAB);
        Block s(3, kArA);
        ASSERT_EQ(M::ConvertFloatToPicture(out.data(), c.bits, stride, s.data(), c.lo, c.hi, c.stretch, s.stride, kArC,
                                           kArW, kArH),
                  0);
        for (size_t i = 0; i < kArN; ++i) {
            const size_t y = i / (kArW * kArC), x = i % (kArW * kArC);
            const unsigned got = sb == 1 ? out[y * stride + x]
                                         : reinterpret_cast<const unsigned short*>(&out[y * stride])[x];
            const unsigned want = sb == 1 ? static_cast<const unsigned char*>(c.expect)[i]
                                          : static_cast<const unsigned short*>(c.expect)[i];
            ASSERT_EQ(got, want) << c.name << " sample " << i << " from " << kArA[i];
        }
        EXPECT_EQ(out[kArW * kArC * sb], 0xAB) << "row padding written";
    }
}

TEST(FloatPicMem, IntegerToFloatMatchesNumpy)
{
    // Bytes and 12-bit words into floats, each picture with padded rows.
    const struct {
        unsigned bits;
        const void* src;
        const float* expect;
    } cases[] = {{8, kInt8Src, kInt8AsFloat}, {12, kInt12Src, kInt12AsFloat}};
    for (const auto& c : cases) {
        const unsigned sb = c.bits <= 8 ? 1 : 2, srcStride = kIW * sb + 6, dstStride = (kIW + 3) * 4;
        std::vector<unsigned char> in(size_t(srcStride) * kIH);
        for (unsigned y = 0; y < kIH; ++y)
            std::memcpy(&in[size_t(y) * srcStride], static_cast<const unsigned char*>(c.src) + size_t(y) * kIW * sb,
                        kIW * sb);
        std::vector<float> out(size_t(dstStride / 4) * kIH, -7.0f);
        ASSERT_EQ(M::ConvertPictureToFloat(out.data(), dstStride, in.data(), srcStride, c.bits, 1, kIW, kIH), 0);
        for (unsigned y = 0; y < kIH; ++y) {
            for (unsigned x = 0; x < kIW; ++x)
                ASSERT_EQ(out[size_t(y) * dstStride / 4 + x], c.expect[y * kIW + x]) << c.bits << " at " << x << "," << y;
            ASSERT_EQ(out[size_t(y) * dstStride / 4 + kIW], -7.0f) << "row padding written";
        }
    }
}

TEST(FloatPicMem, FillPicByFloatMatchesNumpy)
{
    // The three-component arithmetic picture (NaN, infinity and the marker
    // included) into 8 and 12 bits over a given range.
    FPic src(kArW, kArH, kArC, (kArW * kArC + 2) * 4);
    src.fill(kArA);
    const struct {
        unsigned bits;
        float lo, hi;
        bool invert;
        const void* expect;
    } cases[] = {{8, -50.0f, 1100.0f, false, kFill8}, {8, -50.0f, 1100.0f, true, kFill8Inverted},
                 {12, -500.0f, 1500.0f, false, kFill12}};
    for (const auto& c : cases) {
        IPic dst(kArW, kArH, c.bits, kArC);
        float lo = c.lo, hi = c.hi;
        ASSERT_EQ(CKzFloatPicBufAPI::FillPicByFloat(dst.get(), src.get(), &lo, &hi, c.invert), 0);
        for (size_t i = 0; i < kArN; ++i) {
            const unsigned x = unsigned(i / kArC) % kArW, y = unsigned(i / kArC / kArW), k = unsigned(i % kArC);
            const unsigned got = c.bits <= 8 ? dst.at<unsigned char>(x, y, k) : dst.at<unsigned short>(x, y, k);
            const unsigned want = c.bits <= 8 ? static_cast<const unsigned char*>(c.expect)[i]
                                              : static_cast<const unsigned short*>(c.expect)[i];
            ASSERT_EQ(got, want) << c.bits << (c.invert ? " inverted" : "") << " sample " << i << " from " << kArA[i];
        }
    }
}

TEST(FloatPicMem, ConversionExamplesAndDepths)
{
    float src[3] = {10.4f, 300.0f, 0.5f};
    unsigned char d8[3];
    ASSERT_EQ(M::ConvertFloatToPicture(d8, 8, 3, src, 10.0f, 0.0f, false, 12, 2, 1, 1), 0);
    EXPECT_EQ(d8[0], 0);
    EXPECT_EQ(d8[1], 255);
    ASSERT_EQ(M::ConvertFloatToPicture(d8, 8, 3, src + 2, 0.0f, 1.0f, true, 4, 1, 1, 1), 0);
    EXPECT_EQ(d8[0], 128);
    EXPECT_EQ(M::ConvertFloatToPicture(d8, 17, 3, src, 0, 1, true, 12, 1, 3, 1), -9);
    // Degenerate range with stretching: infinite scale, no undefined conversion.
    float odd[4] = {kNaN, kInf, -kInf, 1.0f};
    unsigned short d16[4];
    ASSERT_EQ(M::ConvertFloatToPicture(d16, 16, 8, odd, 1.0f, 1.0f, true, 16, 1, 4, 1), 0);
    EXPECT_EQ(d16[0], 0);
    EXPECT_EQ(d16[1], 65535);
    EXPECT_EQ(d16[2], 0);
    EXPECT_EQ(d16[3], 0);  // (1 - 1) * inf is NaN

    // Integers to floats, unscaled, each picture through its own stride.
    unsigned char b[2][4] = {{0, 7, 255, 99}, {1, 2, 3, 4}};
    float f[2][5];
    ASSERT_EQ(M::ConvertPictureToFloat(&f[0][0], 20, &b[0][0], 4, 5, 3, 1, 2), 0);
    EXPECT_EQ(f[0][2], 255.0f);
    EXPECT_EQ(f[1][0], 1.0f);
    unsigned short w[3] = {4095, 0, 17};
    ASSERT_EQ(M::ConvertPictureToFloat(&f[0][0], 12, w, 6, 12, 1, 3, 1), 0);
    EXPECT_EQ(f[0][0], 4095.0f);
    EXPECT_EQ(f[0][2], 17.0f);
    EXPECT_EQ(M::ConvertPictureToFloat(&f[0][0], 12, w, 6, 17, 1, 3, 1), -2);
    EXPECT_EQ(M::ConvertPictureToFloat(&f[0][0], 12, w, 6, 0, 1, 3, 1), -2);
}

TEST(FloatPicMem, Statistics)
{
    // Two components of four pixels.
    float block[8] = {4, 10, 1, kNaN, 3, -2, 2, 7};
    float out[2];
    ASSERT_EQ(M::MedianComp(out, block, 2, 2, 2), 0);
    EXPECT_EQ(out[0], 3.0f);  // 1 2 3 4 -> element 2
    EXPECT_EQ(out[1], 10.0f); // -2 7 10 NaN, NaN sorting last
    ASSERT_EQ(M::MinComp(out, block, 2, 2, 2), 0);
    EXPECT_EQ(out[0], 1.0f);
    EXPECT_TRUE(std::isnan(out[1]));  // a NaN sample becomes the minimum
    ASSERT_EQ(M::MaxComp(out, block, 2, 2, 2), 0);
    EXPECT_EQ(out[0], 4.0f);
    EXPECT_EQ(out[1], 10.0f);
    ASSERT_EQ(M::MeanComp(out, block, 2, 2, 2), 0);
    EXPECT_EQ(out[0], 2.5f);
    float mean[2] = {2.5f, 0.0f}, dev[2];
    ASSERT_EQ(M::DeviationComp(dev, mean, block, 4, 1, 2), 0);
    EXPECT_FLOAT_EQ(dev[0], std::sqrt(5.0f / 3.0f));
    float single[2] = {4.0f, 10.0f};
    ASSERT_EQ(M::DeviationComp(dev, single, block, 1, 1, 2), 0);
    EXPECT_TRUE(std::isnan(dev[0]));

    const float a = 1.0f, b = 2.0f, n = kNaN;
    EXPECT_EQ(M::compare(&a, &b), -1);
    EXPECT_EQ(M::compare(&b, &a), 1);
    EXPECT_EQ(M::compare(&a, &a), 1);
    EXPECT_EQ(M::compare(&a, &n), -1);
    EXPECT_EQ(M::compare(&n, &a), 1);
}

TEST(FloatPicMem, RangesSkipNaNAndKeepInfinities)
{
    float v[6] = {kNaN, 5.0f, kMarker, -kInf, 2.0f, kNaN};
    float lo = 0, hi = 0;
    ASSERT_EQ(M::GetFloatMinMax(v, 12, 1, 3, 6, &lo, &hi), 0);
    EXPECT_EQ(lo, -kInf);
    EXPECT_EQ(hi, 5.0f);
    ASSERT_EQ(M::GetFloatMinMax(v, 12, 1, 0, 6, &lo, nullptr), 0);
    EXPECT_EQ(lo, 3.4028235e38f);
    float mins[3], maxs[3];
    ASSERT_EQ(M::GetFloatMinMaxInComps(v, 12, 3, 1, 2, mins, maxs), 0);
    EXPECT_EQ(mins[0], -kInf);
    EXPECT_EQ(maxs[0], -3.4028235e38f);  // -inf lies below the start value
    EXPECT_EQ(mins[1], 2.0f);
    EXPECT_EQ(maxs[1], 5.0f);
    EXPECT_EQ(mins[2], kMarker);  // the marker is an ordinary number here
    EXPECT_EQ(maxs[2], kMarker);
}

TEST(FloatPicMem, InPlaceTransforms)
{
    float v[5] = {0.0f, kNaN, -2.0f, 0.5f, std::exp(1.0f)};
    ASSERT_EQ(M::Logarithm(v, 5, 1, 1), 0);
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_TRUE(std::isnan(v[1]));
    EXPECT_FLOAT_EQ(v[2], std::log(2.0f));
    EXPECT_FLOAT_EQ(v[4], 1.0f);
    float w[3] = {0.0f, 4.0f, -0.5f};
    ASSERT_EQ(M::Inversion(w, 3, 1, 1), 0);
    EXPECT_EQ(w[0], 0.0f);
    EXPECT_EQ(w[1], 0.25f);
    EXPECT_EQ(w[2], -2.0f);
    ASSERT_EQ(M::MultiplybyFloat(w, -1.0f, 1, 3, 1), 0);
    EXPECT_EQ(w[1], -0.25f);
}

TEST(FloatPicMem, ComponentMoves)
{
    // Two rows of two pixels of three components, stride of 8 floats.
    float src[16];
    for (int i = 0; i < 16; ++i)
        src[i] = float(i);
    float d[16];
    std::fill(d, d + 16, -1.0f);
    ASSERT_EQ(M::SetComponentValue(d, 3, 32, 1, 1000.5f, 2, 4), 0);
    EXPECT_EQ(d[1], 1000.5f);
    EXPECT_EQ(d[12], 1000.5f);
    EXPECT_EQ(d[0], -1.0f);
    EXPECT_EQ(M::SetComponentValue(d, 3, 32, 3, 1.0f, 2, 4), -4);

    float grey[4] = {7, 8, 9, 10}, rgb[12];
    ASSERT_EQ(M::ExpandComponent(rgb, 3, 24, grey, 8, 2, 4), 0);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(rgb[i], grey[i / 3]);

    float one[4];
    ASSERT_EQ(M::ExtractComponent(one, 8, src, 3, 32, 2, 2, 4), 0);
    EXPECT_EQ(one[0], 2.0f);
    EXPECT_EQ(one[1], 5.0f);
    EXPECT_EQ(one[2], 10.0f);
    EXPECT_EQ(M::ExtractComponent(one, 8, src, 3, 32, 3, 2, 4), -4);

    float r[8];
    std::fill(r, r + 8, -1.0f);
    ASSERT_EQ(M::ExtractComponentRange(r, 16, 4, 2, src, 3, 32, 1, 2, 1, 2), 0);
    EXPECT_EQ(r[2], 1.0f);
    EXPECT_EQ(r[3], 2.0f);
    EXPECT_EQ(r[6], 9.0f);
    EXPECT_EQ(r[0], -1.0f);
    EXPECT_EQ(M::ExtractComponentRange(r, 16, 4, 3, src, 3, 32, 1, 2, 1, 2), -4);  // does not fit
    EXPECT_EQ(M::ExtractComponentRange(r, 16, 4, 0, src, 3, 32, 2, 1, 1, 2), -4);  // first > last
    EXPECT_EQ(M::ExtractComponentRange(r, 16, 4, 0, src, 3, 32, 1, 3, 1, 2), -4);  // past the source

    float mean[4];
    ASSERT_EQ(M::Collapse2Intesity(mean, 8, src, 32, 3, 2, 4), 0);
    EXPECT_FLOAT_EQ(mean[0], 1.0f);
    EXPECT_FLOAT_EQ(mean[3], 12.0f);

    const float val[3] = {1, 2, 3};
    ASSERT_EQ(M::SetValue(d, 3, 32, val, 2, 4), 0);
    EXPECT_EQ(d[9], 2.0f);
    EXPECT_EQ(d[10], 3.0f);
}

} // namespace
