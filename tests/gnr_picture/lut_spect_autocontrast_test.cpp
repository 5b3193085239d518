// Spectral auto-contrast of the older LUT parameters: which components each
// measurement renders, with what factor and colours, and where the gains
// and offsets land (single value, every group, one group, the overlap pass),
// for integer and float pictures.
#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/KzFloatPicMem.h"
#include "gnr_picture/SKzFloatPicBuf.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/SKzLutParam.h"
#include "gnr_system/CKzRangeMask.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

struct Pic {
    SKzPicBuf p{};
    Pic(unsigned w, unsigned h, unsigned bits, unsigned comps)
    {
        CKzPicBufAPI::Init(&p);
        EXPECT_EQ(CKzPicBufAPI::Reinit(&p, w, h, 0, bits, comps, true), 0);
    }
    ~Pic() { CKzPicBufAPI::Free(&p); }
    u8& at(unsigned x, unsigned y, unsigned c) { return p.pData[size_t(y) * p.uiWidthBytes + size_t(x) * p.uiComp + c]; }
};

struct FPic {
    SKzFloatPicBuf p{};
    FPic(unsigned w, unsigned h, unsigned comps)
    {
        CKzFloatPicBufAPI::Init(&p);
        EXPECT_EQ(CKzFloatPicBufAPI::Reinit(&p, w, h, 0, comps, true), 0);
    }
    ~FPic() { CKzFloatPicBufAPI::Free(&p); }
    float& at(unsigned x, unsigned y, unsigned c)
    {
        return reinterpret_cast<float*>(reinterpret_cast<u8*>(p.pData) + size_t(y) * p.uiWidthBytes)[x * p.uiComp + c];
    }
};

// Five components: four spectral in two groups (0-1 and 2-3), one ordinary.
// Every component has its own ramp so that each selection renders its own
// brightest colour.
void Fill(Pic& pic)
{
    for (unsigned y = 0; y < pic.p.uiHeight; ++y)
        for (unsigned x = 0; x < pic.p.uiWidth; ++x)
            for (unsigned c = 0; c < pic.p.uiComp; ++c) pic.at(x, y, c) = u8((x * 7 + y * 3) * (c + 1) % 200 + 10 * c);
}

std::unique_ptr<SKzLutParam> Grouped(unsigned mode)
{
    auto p = std::make_unique<SKzLutParam>();
    SKzLutParam::SKzLUTDataSpectral& s = p->sLutDataSpectral;
    s.uiSpectralColorMode = mode;
    s.uiCompCount = 4;
    s.uiGroupCount = 2;
    EXPECT_EQ(s.Realloc(2), 0);
    for (unsigned c = 0; c < 4; ++c) p->sCompLutParam[c].uiGroup = c / 2;
    return p;
}

// The brightest rendered channel of the given components, straight from the
// measuring kernel.
double Brightest(Pic& pic, const unsigned* colours, std::vector<unsigned> on, double factor)
{
    std::vector<unsigned short> flags(pic.p.uiComp, 0);
    for (unsigned c : on) flags[c] = 0xFFFF;
    double rgb[3] = {0, 0, 0};
    EXPECT_EQ(CKzPicMemAPI::SpetralGetMaxRGB(rgb, pic.p.pData, pic.p.uiWidthBytes, pic.p.uiBpc, pic.p.uiComp,
                                             pic.p.uiWidth, pic.p.uiWidth * pic.p.uiHeight, const_cast<unsigned*>(colours),
                                             flags.data(), factor),
              0);
    return std::max({rgb[0], rgb[1], rgb[2]});
}

CKzRangeMask AllOf(unsigned n)
{
    CKzRangeMask m;
    m.SetSize(n);
    m.Set();
    return m;
}

TEST(LutSpectAutocontrast, SingleValueModes)
{
    Pic pic(24, 16, 8, 5);
    Fill(pic);
    const unsigned colours[5] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFFFFFF};
    for (unsigned mode : {0u, 3u}) {
        SCOPED_TRACE(mode);
        auto p = Grouped(mode);
        CKzRangeMask visible = AllOf(5);
        visible.Set(1, false);
        ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, &pic.p, visible, -1, const_cast<unsigned*>(colours),
                                                             nullptr, true, true, 1.0, 1.0),
                  0);
        // Components 0, 2 and 3 are shown: factor 1/3.
        EXPECT_DOUBLE_EQ(p->sLutDataSpectral.GetGain(0), 255.0 / Brightest(pic, colours, {0, 2, 3}, 1.0 / 3));
        EXPECT_EQ(p->sLutDataSpectral.GetOffset(0), 0.0);
    }
    // A picture that renders black: gain 50.
    Pic black(8, 8, 8, 5);
    auto p = Grouped(0);
    CKzRangeMask visible = AllOf(5);
    ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, &black.p, visible, -1, const_cast<unsigned*>(colours),
                                                         nullptr, true, true, 1.0, 1.0),
              0);
    EXPECT_EQ(p->sLutDataSpectral.GetGain(0), 50.0);
}

TEST(LutSpectAutocontrast, GroupsAloneAndTogether)
{
    Pic pic(24, 16, 8, 5);
    Fill(pic);
    // Groups of distinct colours: each measured alone, at G times 255 / x.
    const unsigned apart[5] = {0x0000FF, 0x0000FF, 0x00FF00, 0x00FF00, 0xFFFFFF};
    auto p = Grouped(2);
    CKzRangeMask visible = AllOf(5);
    ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, &pic.p, visible, -1, const_cast<unsigned*>(apart),
                                                         nullptr, true, true, 1.0, 1.0),
              0);
    const double g0 = 2 * 255.0 / Brightest(pic, apart, {0, 1}, 0.5);
    const double g1 = 2 * 255.0 / Brightest(pic, apart, {2, 3}, 0.5);
    EXPECT_DOUBLE_EQ(p->sLutDataSpectral.GetGain(0), g0);
    EXPECT_DOUBLE_EQ(p->sLutDataSpectral.GetGain(1), g1);

    // A hidden group is left alone.
    auto q = Grouped(2);
    q->sLutDataSpectral.SetGain(1, 7.0);
    CKzRangeMask some = AllOf(5);
    some.Set(2, false);
    some.Set(3, false);
    ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*q, &pic.p, some, -1, const_cast<unsigned*>(apart), nullptr,
                                                         true, true, 1.0, 1.0),
              0);
    EXPECT_DOUBLE_EQ(q->sLutDataSpectral.GetGain(0), g0);
    EXPECT_EQ(q->sLutDataSpectral.GetGain(1), 7.0);

    // Groups sharing a channel: the rendering of both through the LUT the
    // gains make is measured once more, and both gains scaled by 255 / x.
    const unsigned shared[5] = {0x00FFFF, 0x00FFFF, 0x00FF00, 0x00FF00, 0xFFFFFF};
    auto r = Grouped(2);
    ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*r, &pic.p, visible, -1, const_cast<unsigned*>(shared),
                                                         nullptr, true, true, 1.0, 1.0),
              0);
    auto alone = Grouped(2);
    alone->sLutDataSpectral.SetGain(0, 2 * 255.0 / Brightest(pic, shared, {0, 1}, 0.5));
    alone->sLutDataSpectral.SetGain(1, 2 * 255.0 / Brightest(pic, shared, {2, 3}, 0.5));
    SKzLut lut;
    lut.maskComp = visible;
    lut.uiInBpc = 8;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsSpectral(&lut, alone.get(), const_cast<unsigned*>(shared), 4, 5, 1.0), 0);
    double rgb[3] = {0, 0, 0};
    ASSERT_EQ(CKzPicMemAPI::SpetralGetMaxRGBEx(rgb, pic.p.pData, pic.p.uiWidthBytes, 8, 5, pic.p.uiWidth,
                                               pic.p.uiWidth * pic.p.uiHeight, &lut),
              0);
    SKzLut::Free(lut);
    const double scale = 255.0 / std::max({rgb[0], rgb[1], rgb[2]});
    EXPECT_NE(scale, 1.0);
    EXPECT_DOUBLE_EQ(r->sLutDataSpectral.GetGain(0), alone->sLutDataSpectral.GetGain(0) * scale);
    EXPECT_DOUBLE_EQ(r->sLutDataSpectral.GetGain(1), alone->sLutDataSpectral.GetGain(1) * scale);

    // One group asked for: only its members count, and only its gain moves.
    auto one = Grouped(2);
    one->sLutDataSpectral.SetGain(0, 9.0);
    ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*one, &pic.p, visible, 1, const_cast<unsigned*>(apart),
                                                         nullptr, true, true, 1.0, 1.0),
              0);
    EXPECT_EQ(one->sLutDataSpectral.GetGain(0), 9.0);
    EXPECT_DOUBLE_EQ(one->sLutDataSpectral.GetGain(1), 255.0 / Brightest(pic, apart, {2, 3}, 0.5));

    // Custom colours: every node takes the gain of all shown components.
    auto custom = Grouped(1);
    ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*custom, &pic.p, visible, -1, const_cast<unsigned*>(apart),
                                                         nullptr, true, true, 1.0, 1.0),
              0);
    const double all = 255.0 / Brightest(pic, apart, {0, 1, 2, 3}, 0.25);
    EXPECT_DOUBLE_EQ(custom->sLutDataSpectral.GetGain(0), all);
    EXPECT_DOUBLE_EQ(custom->sLutDataSpectral.GetGain(1), all);
}

TEST(LutSpectAutocontrast, OrdinaryComponentFromTheHistogram)
{
    // The ordinary component holds 230 at the low cut and 250 at the high:
    // 230 / 250 > 0.875 lowers its minimum to 0.875 of itself.
    Pic pic(20, 10, 8, 5);
    for (unsigned y = 0; y < 10; ++y)
        for (unsigned x = 0; x < 20; ++x) pic.at(x, y, 4) = u8(x < 2 ? 230 : x < 18 ? 240 : 250);
    SKzHisto h;
    CKzHistoAPI::Init(&h);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&h, &pic.p), 0);
    CKzHistoAPI::Calculate(&h, &pic.p, true);
    const unsigned colours[5] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFFFFFF};
    auto p = Grouped(0);
    CKzRangeMask visible = AllOf(5);
    ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, &pic.p, visible, -1, const_cast<unsigned*>(colours), &h,
                                                         true, true, 5.0, 5.0),
              0);
    EXPECT_NEAR(p->GetCompMaxSrcDbl(4), 250.0 / 255, 1.0 / 65535);
    EXPECT_NEAR(p->GetCompMinSrcDbl(4), 230.0 / 255 * 0.875, 1.0 / 65535);
    // The same call again gives the same parameters.
    auto again = Grouped(0);
    ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*again, &pic.p, visible, -1, const_cast<unsigned*>(colours),
                                                         &h, true, true, 5.0, 5.0),
              0);
    EXPECT_TRUE(p->CompareWith(*again));
    // A histogram without the ordinary component's row: the search fails.
    SKzHisto small;
    CKzHistoAPI::Init(&small);
    Pic two(4, 4, 8, 2);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&small, &two.p), 0);
    EXPECT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, &pic.p, visible, -1, const_cast<unsigned*>(colours),
                                                         &small, true, true, 5.0, 5.0),
              -9);
    CKzHistoAPI::Free(&small);
    CKzHistoAPI::Free(&h);
}

TEST(LutSpectAutocontrast, FloatPictures)
{
    FPic pic(16, 8, 3);
    for (unsigned y = 0; y < 8; ++y)
        for (unsigned x = 0; x < 16; ++x)
            for (unsigned c = 0; c < 3; ++c) pic.at(x, y, c) = float(x * 10 + y + c * 40);
    pic.p.fMin = 0.0f;
    pic.p.fMax = 400.0f;
    auto p = std::make_unique<SKzLutParam>();
    p->sLutDataSpectral.uiCompCount = 3;
    const unsigned colours[3] = {0x0000FF, 0x00FF00, 0xFF0000};
    CKzRangeMask visible = AllOf(3);
    ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, &pic.p, visible, -1, const_cast<unsigned*>(colours),
                                                         nullptr, true, true, 2.0, 2.0),
              0);
    double lo[3], hi[3];
    unsigned on[3] = {~0u, ~0u, ~0u};
    ASSERT_EQ(CKzFloatPicMemAPI::SpetralGetLoHiRGB(lo, hi, pic.p.pData, pic.p.uiWidthBytes, 0.0f, 400.0f, 3, 16, 128,
                                                   const_cast<unsigned*>(colours), on, 1.0 / 3, 2.0, 2.0),
              0);
    const double x = std::max({hi[0], hi[1], hi[2]});
    ASSERT_GT(x, 0.0);
    EXPECT_DOUBLE_EQ(p->sLutDataSpectral.GetGain(0), 255.0 / x);
    EXPECT_DOUBLE_EQ(p->sLutDataSpectral.GetOffset(0), std::max({lo[0], lo[1], lo[2]}));
    EXPECT_GT(p->sLutDataSpectral.GetOffset(0), 0.0);
    // Cuts switched off: the plain maximum, lows 0.
    ASSERT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, &pic.p, visible, -1, const_cast<unsigned*>(colours),
                                                         nullptr, false, false, 2.0, 2.0),
              0);
    EXPECT_EQ(p->sLutDataSpectral.GetOffset(0), 0.0);
    ASSERT_EQ(CKzFloatPicMemAPI::SpetralGetLoHiRGB(lo, hi, pic.p.pData, pic.p.uiWidthBytes, 0.0f, 400.0f, 3, 16, 128,
                                                   const_cast<unsigned*>(colours), on, 1.0 / 3, -1, -1),
              0);
    EXPECT_DOUBLE_EQ(p->sLutDataSpectral.GetGain(0), 255.0 / std::max({hi[0], hi[1], hi[2]}));
}

TEST(LutSpectAutocontrast, Refusals)
{
    Pic pic(4, 4, 8, 5);
    unsigned colours[193] = {};
    auto p = Grouped(2);
    CKzRangeMask visible = AllOf(5);
    struct Case {
        const char* what;
        unsigned w, bits, comps;
        unsigned* colours;
        int code;
    } cases[] = {
        {"no colours", 4, 8, 5, nullptr, -9},
        {"17 bits", 4, 17, 5, colours, -2},
        {"32 bits", 4, 32, 5, colours, -2},
        {"193 components", 4, 8, 193, colours, -9},
        {"fewer components than spectral ones", 4, 8, 3, colours, -9},
        {"empty picture", 0, 8, 5, colours, -9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SKzPicBuf shape{};
        CKzPicBufAPI::Init(&shape);
        if (c.w) ASSERT_EQ(CKzPicBufAPI::Reinit(&shape, c.w, 4, 0, c.bits, c.comps, true), 0);
        shape.uiBpc = u8(c.bits);
        shape.uiComp = c.comps;
        EXPECT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, &shape, visible, -1, c.colours, nullptr, true, true,
                                                             1.0, 1.0),
                  c.code);
        CKzPicBufAPI::Free(&shape);
    }
    EXPECT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, static_cast<SKzPicBuf*>(nullptr), visible, -1, colours,
                                                         nullptr, true, true, 1.0, 1.0),
              -9);
    EXPECT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, static_cast<SKzFloatPicBuf*>(nullptr), visible, -1,
                                                         colours, nullptr, true, true, 1.0, 1.0),
              -9);
    // A block shorter than its shape says.
    SKzPicBuf lying = pic.p;
    lying.uiHeight = 400;
    EXPECT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, &lying, visible, 0, colours, nullptr, true, true, 1.0,
                                                         1.0),
              -9);
    // A group far past the groups names no component: a black measurement
    // whose gain has nowhere to go.
    EXPECT_EQ(CKzPicBufAPI::GetLutParamSpectAutocontrast(*p, &pic.p, visible, 1 << 30, colours, nullptr, true, true,
                                                         1.0, 1.0),
              0);
}

}  // namespace
