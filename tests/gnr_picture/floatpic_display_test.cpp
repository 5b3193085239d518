// Float display pictures, two-dimensional and spectral histograms, and the
// resampling dispatch.

#include "floatpic_support.h"

#include "gnr_picture/SKzLut.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"
#include "gnr_picture/internal/KzStretchTwoPass.h"

#include <algorithm>

using namespace floatpic_test;
using M = CKzFloatPicMemAPI;

namespace {

struct SpectralLut {
    SKzLut lut;
    explicit SpectralLut(unsigned comps, unsigned outBits = 8)
    {
        EXPECT_EQ(SKzLut::Alloc(lut, 8, u8(comps), u8(outBits), 3), 0);
        EXPECT_EQ(SKzLut::ReinitParametric(lut), 0);
        for (unsigned k = 0; k < comps; ++k) {
            lut.pParametric[k] = SKzLutParametric{0.0, 1.0, 1.0, k == 0 ? 0x000000FFu : 0x0000FF00u};
            lut.maskComp.Set(k, true);
        }
        lut.iPredefLut = -1;
    }
    ~SpectralLut() { SKzLut::Free(lut); }
};

TEST(FloatPicDisplay, TrueColourFromOneAndThreeComponents)
{
    float grey[4] = {0, 50, 100, kNaN};
    unsigned char out[2][12];
    std::memset(out, 0xEE, sizeof(out));
    // Range 0..100: offset only, values kept.
    ASSERT_EQ(M::ConvertToTrueColor(out, 12, grey, 1, 8, 2, 4, nullptr, 0.0f, 100.0f), 0);
    EXPECT_EQ(out[0][3], 50);
    EXPECT_EQ(out[0][4], 50);
    EXPECT_EQ(out[0][5], 50);
    EXPECT_EQ(out[1][0], 100);
    EXPECT_EQ(out[1][3], 0);  // NaN
    // Range 0..1000: stretched to 0..255.
    ASSERT_EQ(M::ConvertToTrueColor(out, 12, grey, 1, 8, 2, 4, nullptr, 0.0f, 1000.0f), 0);
    EXPECT_EQ(out[1][0], 26);  // 100 * 0.255 = 25.5 -> 26
    float rgb[6] = {1, 2, 3, 300, -5, 7};
    ASSERT_EQ(M::ConvertToTrueColor(out, 12, rgb, 3, 24, 2, 2, nullptr, 0.0f, 100.0f), 0);
    EXPECT_EQ(out[0][2], 3);
    EXPECT_EQ(out[0][3], 255);
    EXPECT_EQ(out[0][4], 0);
    EXPECT_EQ(M::ConvertToTrueColor(out, 12, rgb, 2, 24, 2, 2, nullptr, 0.0f, 100.0f), -4);
    EXPECT_EQ(M::ConvertToTrueColor(out, 12, rgb, 3, 24, 0, 2, nullptr, 0.0f, 100.0f), 0);
}

TEST(FloatPicDisplay, SpectralRendering)
{
    if (!kKzPicHaveSpectral)
        GTEST_SKIP() << "spectral kernels are not built";
    SpectralLut lut(2);
    float px[4] = {10, 0, 0, 20};
    unsigned char out[6];
    ASSERT_EQ(M::ConvertToTrueColor(out, 6, px, 2, 8, 2, 2, &lut.lut, 0.0f, 20.0f), 0);
    EXPECT_GT(out[2], out[1]);  // red from the first channel of the first pixel
    EXPECT_GT(out[4], out[5]);  // green from the second channel of the second
    // The LUT must describe the picture's channels and give bytes.
    EXPECT_EQ(M::MapComponentsMToNToUint(out, 3, 8, 6, px, 1, 4, &lut.lut, 1, 1, 0, 1), -4);
    EXPECT_EQ(M::MapComponentsMToNToUint(out, 3, 8, 6, px, 2, 8, nullptr, 2, 2, 0, 1), -2);
    SpectralLut wide(2, 16);
    EXPECT_EQ(M::ConvertToTrueColor(out, 6, px, 2, 8, 2, 2, &wide.lut, 0.0f, 20.0f), -4);
    // No visible channel: black.
    lut.lut.maskComp.Set(0, false);
    lut.lut.maskComp.Set(1, false);
    std::memset(out, 9, sizeof(out));
    ASSERT_EQ(M::ConvertToTrueColor(out, 6, px, 2, 8, 2, 2, &lut.lut, 0.0f, 20.0f), 0);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[5], 0);

    unsigned h0[256] = {}, h1[256] = {}, h2[256] = {};
    unsigned colours[2] = {0x000000FFu, 0x0000FF00u}, visible[2] = {1, 1};
    ASSERT_EQ(M::SpetralGetHistoRGB(h0, h1, h2, px, 8, 0.0f, 20.0f, 2, 2, 2, colours, visible, 1.0), 0);
    unsigned total = 0;
    for (unsigned i = 0; i < 256; ++i)
        total += h0[i];
    EXPECT_EQ(total, 2u);
    EXPECT_EQ(M::SpetralGetHistoRGB(nullptr, h1, h2, px, 8, 0, 20, 2, 2, 2, colours, visible, 1.0), -9);
    EXPECT_EQ(M::SpetralGetHistoRGB(h0, h1, h2, px, 8, 0, 20, 195, 2, 2, colours, visible, 1.0), -4);
    // A ramp of 10 x 10 pixels in both channels.
    std::vector<float> ramp(200);
    for (unsigned i = 0; i < 100; ++i)
        ramp[2 * i] = ramp[2 * i + 1] = float(i) * 0.2f;
    double lo[3] = {-1, -1, -1}, hi[3] = {-1, -1, -1};
    ASSERT_EQ(M::SpetralGetLoHiRGB(lo, hi, ramp.data(), 80, 0.0f, 20.0f, 2, 10, 100, colours, visible, 1.0, 0.0, 0.0),
              0);
    EXPECT_EQ(lo[0], 0.0);
    EXPECT_EQ(lo[2], 0.0);
    EXPECT_GT(hi[0] + hi[1] + hi[2], 0.0);
    ASSERT_EQ(M::SpetralGetLoHiRGB(lo, hi, ramp.data(), 80, 0.0f, 20.0f, 2, 10, 100, colours, visible, 1.0, 5.0, 5.0),
              0);
    for (int k = 0; k < 3; ++k)
        EXPECT_LE(lo[k], hi[k]) << k;
    EXPECT_GT(hi[0] + hi[1] + hi[2], 0.0);
    EXPECT_EQ(M::SpetralGetLoHiRGB(lo, hi, nullptr, 8, 0, 20, 2, 2, 2, colours, visible, 1.0, 0, 0), -9);
}

TEST(FloatPicDisplay, TwoDimensionalHistograms)
{
    // Three pixels of two components; range 0..256: bins are the values.
    float px[8] = {1, 2, 1, 2, 255.5f, 0, kNaN, 3};
    std::vector<unsigned> h(256 * 256, 0);
    ASSERT_EQ(M::GetHistogram2DEx(h.data(), 4, px, 32, 2, 0.0f, 256.0f, 0, 1, 0, 0, 4, 4), 0);
    EXPECT_EQ(h[1 * 256 + 2], 2u);
    EXPECT_EQ(h[255 * 256 + 0], 1u);
    unsigned total = 0;
    for (unsigned v : h)
        total += v;
    EXPECT_EQ(total, 3u);  // the NaN pixel is skipped
    // Out-of-range and marker samples are skipped too.
    float odd[4] = {300, 1, kMarker, 1};
    std::vector<unsigned long long> h64(256 * 256, 0);
    ASSERT_EQ(M::GetHistogram2DEx(h64.data(), 8, odd, 16, 2, 0.0f, 256.0f, 1, 0, 0, 0, 2, 2), 0);
    unsigned long long t64 = 0;
    for (auto v : h64)
        t64 += v;
    EXPECT_EQ(t64, 0u);
    const struct {
        unsigned comps, rc, cc, width;
        unsigned long count;
        float lo, hi;
    } bad[] = {{2, 2, 0, 4, 4, 0, 256}, {2, 0, 2, 4, 4, 0, 256}, {2, 0, 1, 0, 4, 0, 256},
               {2, 0, 1, 4, 0, 0, 256}, {2, 0, 1, 4, 4, 5, 5},   {2, 0, 1, 4, 4, 0, kInf}};
    for (const auto& b : bad)
        EXPECT_EQ(M::GetHistogram2DEx(h.data(), 4, px, 32, b.comps, b.lo, b.hi, b.rc, b.cc, 0, 0, b.width, b.count),
                  -4);
    EXPECT_EQ(M::GetHistogram2DEx(h.data(), 2, px, 32, 2, 0, 256, 0, 1, 0, 0, 4, 4), 0);  // width 2: nothing
    unsigned char mask[4] = {1, 0, 1, 1};
    std::fill(h.begin(), h.end(), 0u);
    ASSERT_EQ(M::GetHistogram2DUnderMask(h.data(), 4, px, 32, 2, 0, 256, 0, 1, mask, 4, 0, 0, 4, 4), 0);
    EXPECT_EQ(h[1 * 256 + 2], 1u);
    EXPECT_EQ(h[255 * 256 + 0], 1u);
    std::fill(h.begin(), h.end(), 0u);
    ASSERT_EQ(M::GetHistogram2DUnderMask(h.data(), 4, px, 32, 2, 0, 256, 0, 1, mask, 4, 1, 0, 4, 4), 0);
    EXPECT_EQ(h[1 * 256 + 2], 1u);
    EXPECT_EQ(h[255 * 256 + 0], 0u);
    EXPECT_EQ(M::GetHistogram2DUnderBinary(h.data(), 4, px, 32, 2, 0, 256, 0, 1, mask, 0, 0, 0, 4, 4), -2);
}

TEST(FloatPicDisplay, ResamplingDispatch)
{
    float src[4][4];
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src[y][x] = float(10 * y + x);
    float dst[2][2];
    for (unsigned mode : {0u, 1u, 4u, 5u}) {
        ASSERT_EQ(M::Stretch(&dst[0][0], 1, 8, 2, 2, &src[0][0], 16, 4, 0, 0, 4, 4, mode), 0) << mode;
        EXPECT_EQ(dst[1][1], 22.0f) << mode;
    }
    // A rectangle reaching below the source.
    EXPECT_EQ(M::Stretch(&dst[0][0], 1, 8, 2, 2, &src[2][0], 16, 4, 0, 2, 2, 3, 0), -4);
    EXPECT_EQ(M::Stretch(&dst[0][0], 1, 8, 0, 2, &src[0][0], 16, 4, 0, 0, 4, 4, 0), 0);
    float view[3][3];
    ASSERT_EQ(M::StretchDisplay(&view[0][0], 3, 3, 1, 12, 32, 8, 8, 2, 2, &src[0][0], 4, 4, 16, 0, false, false), 0);
    EXPECT_EQ(view[0][0], 11.0f);
    EXPECT_EQ(M::StretchDisplay(&view[0][0], 3, 3, 1, 12, 32, 8, 0, 0, 0, &src[0][0], 4, 4, 16, 0, false, false), -9);
    // A source rectangle beyond the pixels a row holds.
    EXPECT_EQ(M::Stretch(&dst[0][0], 1, 8, 2, 2, &src[0][1], 16, 4, 1, 0, 4, 4, 0), -4);
    EXPECT_EQ(M::Stretch(&dst[0][0], 1, 8, 2, 2, &src[0][0], 8, 4, 0, 0, 4, 4, 2), -4);
    EXPECT_EQ(M::Stretch(&dst[0][0], 0, 8, 2, 2, &src[0][0], 16, 4, 0, 0, 4, 4, 3), -4);
    EXPECT_EQ(M::StretchDisplay(&view[0][0], 3, 3, 1, 12, 32, 8, 8, 0, 0, &src[0][0], 0, 4, 16, 2, false, false), -4);
    EXPECT_EQ(M::StretchDisplay(&view[0][0], 3, 3, 1, 12, 32, 8, 8, 0, 0, &src[0][0], 5, 4, 16, 0, false, false), -4);
    // Filtered rectangle stretch: triangle at equal size copies; bell halves
    // and the two-pass kernels agree.
    float same[4][4];
    ASSERT_EQ(M::Stretch(&same[0][0], 1, 16, 4, 4, &src[0][0], 16, 4, 0, 0, 4, 4, 3), 0);
    EXPECT_EQ(std::memcmp(same, src, sizeof(src)), 0);
    float ref[2][2];
    ASSERT_EQ(M::Stretch(&dst[0][0], 1, 8, 2, 2, &src[0][0], 16, 4, 0, 0, 4, 4, 2), 0);
    ASSERT_EQ(KzFilteredStretchFloat(&ref[0][0], 1, 8, 2, 2, &src[0][0], 16, 4, 0, 0, 4, 4, true, false), 0);
    EXPECT_EQ(std::memcmp(dst, ref, sizeof(dst)), 0);
    // No room for the intermediate picture: -3, nothing written.
    dst[0][0] = -1.0f;
    EXPECT_EQ(M::Stretch(&dst[0][0], 4, 8, 1u << 30, 2, &src[0][0], 16, 4, 0, 0, 1, 4, 2), -3);
    EXPECT_EQ(dst[0][0], -1.0f);
}

// A w x h picture of c components with a pattern, padded rows.
struct Src {
    unsigned w, h, c, stride;
    std::vector<float> v;
    Src(unsigned w_, unsigned h_, unsigned c_) : w(w_), h(h_), c(c_), stride((w_ * c_ + 3) * 4), v(size_t(stride / 4) * h_)
    {
        for (size_t i = 0; i < v.size(); ++i)
            v[i] = float((i * 2654435761u >> 13) % 997) * 0.5f - 100.0f;
    }
    float* data() { return v.data(); }
};

TEST(FloatPicDisplay, FilteredDisplayMatchesTheTwoPassKernels)
{
    // Zoom in and out, scrolled, flipped, 1, 3 and 5 components, both
    // filters: the dispatcher gives exactly what the display composition of
    // the kernels gives.
    const struct {
        unsigned mode, comps, srcW, srcH, dstW, dstH, zoomW, zoomH, sx, sy;
        bool fx, fy;
    } cases[] = {
        {2, 1, 16, 12, 10, 8, 40, 30, 5, 7, false, false},   {3, 1, 16, 12, 10, 8, 40, 30, 5, 7, true, true},
        {2, 3, 30, 20, 8, 6, 10, 7, 1, 0, false, true},      {3, 3, 30, 20, 12, 9, 30, 20, 9, 8, true, false},
        {2, 5, 9, 9, 7, 7, 9, 9, 0, 0, false, false},        {3, 5, 9, 9, 6, 5, 20, 25, 3, 19, true, true},
        {2, 1, 40, 40, 5, 5, 8, 8, 2, 2, false, false},      {3, 3, 7, 5, 9, 4, 21, 15, 12, 11, false, false},
    };
    for (const auto& c : cases) {
        Src s(c.srcW, c.srcH, c.comps);
        const unsigned dstStride = (c.dstW * c.comps + 2) * 4;
        std::vector<float> got(size_t(dstStride / 4) * c.dstH, 9.0f), want(got);
        ASSERT_EQ(M::StretchDisplay(got.data(), c.dstW, c.dstH, c.comps, dstStride, 32, c.zoomW, c.zoomH, c.sx, c.sy,
                                    s.data(), c.srcW, c.srcH, s.stride, c.mode, c.fx, c.fy),
                  0);
        ASSERT_EQ(KzFilteredDisplay<float>(want.data(), c.dstW, c.dstH, c.comps, dstStride, 32, c.zoomW, c.zoomH, c.sx,
                                           c.sy, s.data(), c.srcW, c.srcH, s.stride, c.mode == 2, c.fx, c.fy),
                  0);
        EXPECT_EQ(std::memcmp(got.data(), want.data(), got.size() * 4), 0) << c.mode << "/" << c.comps;
    }
}

TEST(FloatPicDisplay, FilteredDisplayHandCases)
{
    Src s(6, 5, 1);
    const unsigned st = s.stride / 4;
    // Zoom equal to the source, no scroll, triangle: the top-left block.
    float out[3][4];
    ASSERT_EQ(M::StretchDisplay(&out[0][0], 4, 3, 1, 16, 32, 6, 5, 0, 0, s.data(), 6, 5, s.stride, 3, false, false), 0);
    for (unsigned y = 0; y < 3; ++y)
        for (unsigned x = 0; x < 4; ++x)
            EXPECT_EQ(out[y][x], s.v[y * st + x]) << x << "," << y;
    // Bell at equal size: 128, 768, 128 in 1/1024, the edges clamped.
    float row[4] = {8, 0, 0, 16}, bell[4];
    ASSERT_EQ(M::StretchDisplay(bell, 4, 1, 1, 16, 32, 4, 1, 0, 0, row, 4, 1, 16, 2, false, false), 0);
    const float wantBell[4] = {7, 1, 2, 14};
    for (int x = 0; x < 4; ++x)
        EXPECT_EQ(bell[x], wantBell[x]) << x;
    // Flips mirror the visible part at the same scroll offset.
    const struct {
        unsigned mode, sx, sy;
    } flips[] = {{2, 0, 0}, {3, 3, 2}, {2, 7, 9}};
    for (const auto& f : flips) {
        float plain[4][5], fx[4][5], fy[4][5];
        ASSERT_EQ(M::StretchDisplay(&plain[0][0], 5, 4, 1, 20, 32, 15, 12, f.sx, f.sy, s.data(), 6, 5, s.stride,
                                    f.mode, false, false),
                  0);
        ASSERT_EQ(M::StretchDisplay(&fx[0][0], 5, 4, 1, 20, 32, 15, 12, f.sx, f.sy, s.data(), 6, 5, s.stride, f.mode,
                                    true, false),
                  0);
        ASSERT_EQ(M::StretchDisplay(&fy[0][0], 5, 4, 1, 20, 32, 15, 12, f.sx, f.sy, s.data(), 6, 5, s.stride, f.mode,
                                    false, true),
                  0);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 5; ++x) {
                EXPECT_EQ(fx[y][x], plain[y][4 - x]) << f.mode << " " << x << "," << y;
                EXPECT_EQ(fy[y][x], plain[3 - y][x]) << f.mode << " " << x << "," << y;
            }
    }
    // Scrolled to the end of the zoomed picture: the last source row repeats.
    float last[2][3];
    ASSERT_EQ(M::StretchDisplay(&last[0][0], 3, 2, 1, 12, 32, 6, 5, 0, 5, s.data(), 6, 5, s.stride, 3, false, false),
              0);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(last[y][x], s.v[4 * st + x]) << x << "," << y;
    // Scrolled below the zoomed picture beyond the filter margin: zeros.
    float below[2][3];
    std::fill(&below[0][0], &below[0][0] + 6, 7.0f);
    ASSERT_EQ(M::StretchDisplay(&below[0][0], 3, 2, 1, 12, 32, 6, 5, 0, 100, s.data(), 6, 5, s.stride, 2, false,
                                false),
              0);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ((&below[0][0])[i], 0.0f) << i;
    // No room for the band: -3 without writing or throwing.
    below[0][0] = 7.0f;
    EXPECT_EQ(M::StretchDisplay(&below[0][0], 1u << 30, 2, 4, 0, 32, 6, 5, 0, 0, s.data(), 1, 5, s.stride, 2, false,
                                false),
              -3);
    EXPECT_EQ(below[0][0], 7.0f);
    EXPECT_EQ(M::StretchDisplay(&below[0][0], 3, 2, 1, 12, 32, 0, 5, 0, 0, s.data(), 6, 5, s.stride, 2, false, false),
              -9);
}

} // namespace
