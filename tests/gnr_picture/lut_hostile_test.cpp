// What hosts hand the display-LUT and auto-contrast functions that they
// cannot use: gradients that name no palette (before and after the palette
// registry is filled), pictures deeper than 16 bits, more components than a
// spectral block holds, empty groups, lows above the middle, constant and
// empty pictures. Each gives its code and nothing reads or writes out of
// bounds (the sanitizer build runs these too).
#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzLutParam.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/SKzLutParam.h"
#include "gnr_system/CKzRangeMask.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace {

struct Pic {
    SKzPicBuf p{};
    Pic(unsigned w, unsigned h, unsigned bits, unsigned comps)
    {
        CKzPicBufAPI::Init(&p);
        if (w && h) EXPECT_EQ(CKzPicBufAPI::Reinit(&p, w, h, 0, bits, comps, true), 0);
        p.uiBpc = u8(bits);
        p.uiComp = comps;
    }
    ~Pic() { CKzPicBufAPI::Free(&p); }
};

struct LutGuard {
    SKzLut lut;
    ~LutGuard() { SKzLut::Free(lut); }
};

// Blue, green, red of the last entry of component 0.
std::vector<unsigned> Top(const SKzLut& lut)
{
    const size_t v = (size_t(1) << lut.uiInBpc) - 1;
    const u8* e = lut.uiInComp == 1 ? static_cast<u8**>(lut.pLut)[0] + 3 * v : static_cast<u8***>(lut.pLut)[0][0] + 3 * v;
    return {e[0], e[1], e[2]};
}

TEST(LutHostile, GradientsNamingNoPalette)
{
    // 20 and -1 name no registry entry before InitPredefLuts nor after it
    // (13 entries): the component colour is used and the call succeeds.
    // Stored parameters carry such values, so they must not fail.
    unsigned green = 0x00FF00;
    for (bool filled : {false, true}) {
        if (filled) ASSERT_EQ(SKzLut::InitPredefLuts(), 0);
        if (filled) ASSERT_EQ(SKzLut::GetPredefLutsCount(), 13u);
        for (int gradient : {20, -1}) {
            SCOPED_TRACE(testing::Message() << "registry filled " << filled << " gradient " << gradient);
            for (int outside : {0, 1, 2}) {
                CKzLutParamMCH p(1, 1, nullptr, 12);
                p.SetGradient(gradient);
                p.SetOutside(CKzLutParamMCH::EKzLutOutside(outside));
                LutGuard g;
                ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &p, &green), 0);
                EXPECT_EQ(Top(g.lut), (std::vector<unsigned>{0, 255, 0}));
            }
            auto old = std::make_unique<SKzLutParam>();
            old->uiGradient = unsigned(gradient);
            LutGuard g;
            ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, old.get(), 8, 1, &green, false, false, nullptr), 0);
            EXPECT_EQ(Top(g.lut), (std::vector<unsigned>{0, 255, 0}));
            // Several components in grey-scale spectral mode: the colours.
            old->sLutDataSpectral.uiSpectralColorMode = 3;
            unsigned colours[3] = {0x00FF00, 0x00FF00, 0x00FF00};
            ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, old.get(), 8, 3, colours, true, false, nullptr), 0);
            EXPECT_FALSE(SKzLut::IsShared(g.lut));
            EXPECT_EQ(Top(g.lut), (std::vector<unsigned>{0, 255, 0}));
            // Spectral true colour: the palette index is the low byte, which
            // the renderer does not find either.
            unsigned sizes[1] = {3};
            CKzLutParamSpectralTrueColor t(1, 1, 3, sizes, 8);
            t.SetGradient(gradient);
            ASSERT_EQ(CKzPicBufAPI::CreateLutsSpectralTrueColor(&g.lut, &t, colours, 1.0), 0);
            EXPECT_EQ(g.lut.iPredefLut, gradient & 0xFF);
            EXPECT_FALSE(SKzLut::IsShared(g.lut));
        }
    }
}

TEST(LutHostile, StatedCodes)
{
    ASSERT_EQ(SKzLut::InitPredefLuts(), 0);
    Pic deep17(4, 4, 17, 3), deep32(4, 4, 32, 3), empty(0, 0, 12, 3), none(0, 0, 0, 0), wide(4, 4, 8, 193);
    Pic constant(16, 8, 12, 3);
    for (unsigned y = 0; y < 8; ++y)
        for (unsigned x = 0; x < 48; ++x) reinterpret_cast<u16*>(constant.p.pData + y * constant.p.uiWidthBytes)[x] = 1234;
    auto param = std::make_unique<SKzLutParam>();
    unsigned lows[193] = {}, highs[193] = {}, colours[193] = {};
    unsigned sizes193[1] = {193}, sizes3[3] = {1, 1, 1}, two[2] = {3, 0}, zero[2] = {0, 3};
    LutGuard g;

    struct Case {
        const char* what;
        std::function<int()> call;
        int code;
    };
    const std::vector<Case> cases = {
        // Deeper than a display LUT or a histogram takes.
        {"MCH parameters of 17 bits", [&] { CKzLutParamMCH p(3, 3, sizes3, 17); return CKzPicBufAPI::CreateLutsMCH(&g.lut, &p, colours); }, -9},
        {"MCH parameters of 32 bits", [&] { CKzLutParamMCH p(3, 3, sizes3, 32); return CKzPicBufAPI::CreateLutsMCH(&g.lut, &p, colours); }, -9},
        {"older MCH at 17 bits", [&] { return CKzPicBufAPI::CreateLutsMCH(&g.lut, param.get(), 17, 3, colours, false, false, nullptr); }, -9},
        {"older RGB at 32 bits", [&] { return CKzPicBufAPI::CreateLutsRGB(&g.lut, param.get(), 32, nullptr, nullptr, false); }, -9},
        {"RGB parameters of 17 bits", [&] { CKzLutParamRGB p(17); return CKzPicBufAPI::CreateLutsRGB(&g.lut, &p, 7, false); }, -9},
        {"cuts of a 17-bit picture", [&] { return CKzPicBufAPI::FindLowHighInHistogram(&deep17.p, lows, highs, 1, 1); }, -2},
        {"cuts of a 32-bit picture", [&] { return CKzPicBufAPI::FindLowHighInHistogram(&deep32.p, lows, highs, 1, 1); }, -2},
        {"auto-contrast LUT of a 32-bit picture", [&] { return CKzPicBufAPI::GetAutoContrast(nullptr, &g.lut, &deep32.p, 1, 1, false, false); }, -2},
        {"auto-contrast of a 17-bit picture, full range", [&] { return CKzPicBufAPI::GetAutoContrast(param.get(), nullptr, &deep17.p, 1, 1, false, true); }, -2},
        {"contrast of 32-bit pictures", [&] { return CKzPicBufAPI::Contrast(&deep32.p, &deep32.p, 0, 0, 100, 1.0); }, -2},
        {"spectral auto-contrast of a 32-bit picture", [&] { CKzLutParamSpectralTrueColor t(3, 3, 3, sizes3, 32); return CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&t, colours, &deep32.p, true, true, 1, 1); }, -2},
        // More components than a spectral block holds.
        {"193 components, true colour", [&] { CKzLutParamSpectralTrueColor t(1, 1, 193, sizes193, 8); return CKzPicBufAPI::CreateLutsSpectralTrueColor(&g.lut, &t, colours, 1.0); }, -9},
        {"193 components, custom colour", [&] { CKzLutParamSpectralCustomColor c(2, 1, 1, 193, sizes193, 8); return CKzPicBufAPI::CreateLutsSpectralCustomColor(&g.lut, &c, 1.0); }, -9},
        {"193 components, older parameters", [&] { return CKzPicBufAPI::CreateLutsSpectral(&g.lut, param.get(), colours, 4, 193, 1.0); }, -9},
        {"193 components, auto-contrast", [&] { CKzLutParamSpectralTrueColor t(1, 1, 193, sizes193, 8); return CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&t, colours, &wide.p, true, true, 1, 1); }, -9},
        {"256 components, MCH", [&] { return CKzPicBufAPI::CreateLutsMCH(&g.lut, param.get(), 8, 256, nullptr, false, false, nullptr); }, -9},
        // Groups that hold no component.
        {"group size 0, LUT block", [&] { CKzLutParamSpectralGrouped p(2, two, 3, 3, 3, sizes3, 8); return CKzPicBufAPI::CreateLutsSpectralGrouped(&g.lut, &p, 1.0); }, -9},
        {"first group size 0, LUT block", [&] { CKzLutParamSpectralGrouped p(2, zero, 3, 3, 3, sizes3, 8); return CKzPicBufAPI::CreateLutsSpectralGrouped(&g.lut, &p, 1.0); }, -9},
        {"group size 0, auto-contrast", [&] { Pic pic(4, 4, 8, 3); CKzLutParamSpectralGrouped p(2, two, 3, 3, 3, sizes3, 8); return CKzPicBufAPI::GetAutoContrastSpectralGrouped(&p, &pic.p, true, true, 1, 1); }, -9},
        // Constant and empty pictures.
        {"cuts of a constant picture", [&] { return CKzPicBufAPI::FindLowHighInHistogram(&constant.p, lows, highs, 1, 1); }, 0},
        {"auto-contrast LUT of a constant picture", [&] { return CKzPicBufAPI::GetAutoContrast(nullptr, &g.lut, &constant.p, 1, 1, true, false); }, 0},
        {"spectral auto-contrast of a constant picture", [&] { CKzLutParamSpectralTrueColor t(1, 3, 3, sizes3, 12); return CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&t, colours, &constant.p, true, true, 1, 1); }, 0},
        {"cuts of an empty picture", [&] { return CKzPicBufAPI::FindLowHighInHistogram(&empty.p, lows, highs, 1, 1); }, -4},
        {"cuts of a picture without components", [&] { return CKzPicBufAPI::FindLowHighInHistogram(&none.p, lows, highs, 1, 1); }, -4},
        {"auto-contrast of an empty picture", [&] { return CKzPicBufAPI::GetAutoContrast(param.get(), nullptr, &empty.p, 1, 1, false, false); }, -9},
        {"auto-contrast LUT of an empty picture, full range", [&] { return CKzPicBufAPI::GetAutoContrast(nullptr, &g.lut, &empty.p, 1, 1, false, true); }, -9},
        {"spectral auto-contrast of an empty picture", [&] { CKzLutParamSpectralTrueColor t(1, 3, 3, sizes3, 12); return CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&t, colours, &empty.p, true, true, 1, 1); }, -9},
        {"contrast of empty pictures", [&] { return CKzPicBufAPI::Contrast(&empty.p, &empty.p, 1, 0, 100, 1.0); }, -9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.call(), c.code);
    }
    // What the constant picture gave: both cuts at the constant, and a
    // contrast LUT at full level from there on.
    ASSERT_EQ(CKzPicBufAPI::FindLowHighInHistogram(&constant.p, lows, highs, 1, 1), 0);
    EXPECT_EQ(lows[2], 1234u);
    EXPECT_EQ(highs[2], 1234u);
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrast(nullptr, &g.lut, &constant.p, 1, 1, true, false), 0);
    const u16* t = reinterpret_cast<const u16*>(static_cast<u8**>(g.lut.pLut)[0]);
    EXPECT_EQ(t[3 * 0 + 1], 4095);
    EXPECT_EQ(t[3 * 4095 + 1], 4095);
    // Through the range search the same picture keeps some contrast: one
    // level below the constant up to it.
    SKzHisto h;
    CKzHistoAPI::Init(&h);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&h, &constant.p), 0);
    CKzHistoAPI::Calculate(&h, &constant.p, true);
    unsigned sizes1[3] = {1, 1, 1};
    CKzLutParamMCH mch(3, 3, sizes1, 12);
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrastMCH(&mch, &h, true, true, 1, 1), 0);
    CKzHistoAPI::Free(&h);
    EXPECT_EQ(mch.GetMin(1), 1233u);
    EXPECT_EQ(mch.GetMax(1), 1234u);
}

TEST(LutHostile, LowsAboveTheMiddle)
{
    // Lows handed in above the histogram's middle and high: the minimum
    // stays one step below the maximum and the gamma within [0.5, 2].
    std::vector<u32> counts(3 << 8, 0);
    std::vector<void*> rows(3);
    for (unsigned r = 0; r < 3; ++r) {
        rows[r] = counts.data() + (r << 8);
        for (unsigned b = 40; b < 120; ++b) counts[(r << 8) + b] = 5;
    }
    SKzHisto h{};
    h.pHistData = counts.data();
    h.ppHistRows = rows.data();
    h.uiCounterSize = 4;
    h.uiHistComp = 3;
    h.uiHistBpc = 8;
    unsigned lows[3] = {200, 250, 255};
    auto p = std::make_unique<SKzLutParam>();
    ASSERT_EQ(CKzPicBufAPI::AutoContrast(p.get(), &h, lows, true, true, true, 0.0, 1.0, 1.0), 0);
    EXPECT_LT(p->GetMinSrcDbl(), p->GetMaxSrcDbl());
    EXPECT_GE(p->dGammaSrc, 0.5);
    EXPECT_LE(p->dGammaSrc, 2.0);
    ASSERT_EQ(CKzPicBufAPI::AutoOneCompContrast(p.get(), 0, 3, &h, lows, true, true, true, 1.0, 1.0), 0);
    for (unsigned c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        EXPECT_LT(p->GetCompMinSrcDbl(c), p->GetCompMaxSrcDbl(c));
        EXPECT_GE(p->GetCompGammaSrc(c), 0.5);
        EXPECT_LE(p->GetCompGammaSrc(c), 2.0);
    }
    // Rows past the histogram: refused.
    EXPECT_EQ(CKzPicBufAPI::AutoOneCompContrast(p.get(), 2, 5, &h, lows, true, true, true, 1.0, 1.0), -9);
}

}  // namespace

namespace {

TEST(LutHostile, CustomColourNodesWithoutSpectralComponents)
{
    // Two spectral channels that hold no component, two nodes: there is
    // nothing to spread the nodes over, only the ordinary channel renders.
    unsigned sizes[3] = {0, 0, 2};
    CKzLutParamSpectralCustomColor c(2, 2, 3, 2, sizes, 8);
    ASSERT_EQ(c.GetNodeCount(), 2u);
    ASSERT_EQ(c.GetSpectralComponentCount(), 0u);
    c.SetGain(2, 4.0);
    LutGuard g;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsSpectralCustomColor(&g.lut, &c, 1.0), 0);
    ASSERT_EQ(g.lut.uiInComp, 2);
    EXPECT_DOUBLE_EQ(g.lut.pParametric[0].dGain, 4.0 * 0.5 / 2);
    EXPECT_DOUBLE_EQ(g.lut.pParametric[1].dGain, 4.0 * 0.5 / 2);
}

}  // namespace
