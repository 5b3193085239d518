// Display LUTs from LUT parameters: every entry against the reference
// generator, the stated examples, gradients before and after the palette
// registry exists, visible masks and refusals.
#include "gnr_picture/CKzLutParam.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPredefLUTs.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/SKzLutParam.h"
#include "gnr_system/CKzRangeMask.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "display_lut_reference.inc"

namespace {

struct LutGuard {
    SKzLut lut;
    ~LutGuard() { SKzLut::Free(lut); }
};

// Blue, green, red of entry v of component c.
const u8* Entry(const SKzLut& lut, unsigned c, size_t v)
{
    if (lut.uiInComp == 1) return static_cast<u8**>(lut.pLut)[0] + 3 * v;
    return static_cast<u8***>(lut.pLut)[c][0] + 3 * v;
}

u64 Hash(const SKzLut& lut)
{
    u64 h = 0xcbf29ce484222325ull;
    const size_t n = size_t(1) << lut.uiInBpc;
    for (unsigned c = 0; c < lut.uiInComp; ++c)
        for (size_t v = 0; v < n; ++v)
            for (int k = 0; k < 3; ++k) h = (h ^ Entry(lut, c, v)[k]) * 0x100000001b3ull;
    return h;
}

// Every entry of every component against the reference runs; reports the
// first entry that differs.
void ExpectEveryEntry(const SKzLut& lut, unsigned run, unsigned runs)
{
    const size_t n = size_t(1) << lut.uiInBpc;
    size_t i = 0, total = 0;
    for (unsigned r = run; r < run + runs; ++r) total += kRefLutRuns[r][0];
    ASSERT_EQ(total, n * lut.uiInComp);
    for (unsigned r = run; r < run + runs; ++r) {
        const unsigned want = kRefLutRuns[r][1];
        for (unsigned k = 0; k < kRefLutRuns[r][0]; ++k, ++i) {
            const u8* e = Entry(lut, unsigned(i / n), i % n);
            const unsigned got = e[0] | (e[1] << 8) | (e[2] << 16);
            if (got != want) {
                ADD_FAILURE() << "component " << i / n << " entry " << i % n << ": blue, green, red 0x" << std::hex
                              << got << " want 0x" << want;
                return;
            }
        }
    }
}

std::vector<unsigned> Bgr(const SKzLut& lut, unsigned c, size_t v)
{
    const u8* e = Entry(lut, c, v);
    return {e[0], e[1], e[2]};
}

CKzLutParamMCH Mch(const RefMchLut& c)
{
    unsigned comps = 0;
    for (unsigned k = 0; k < c.channels; ++k) comps += c.sizes[k];
    CKzLutParamMCH p;
    EXPECT_EQ(p.Reinit(c.channels, comps, const_cast<unsigned*>(c.sizes), c.bits), 0);
    for (unsigned k = 0; k < c.channels; ++k) {
        p.SetMin(k, c.min[k]);
        p.SetMax(k, c.max[k]);
        p.SetGamma(k, c.gamma[k]);
    }
    p.SetGradient(c.gradient);
    p.SetOutside(CKzLutParamMCH::EKzLutOutside(c.outside));
    return p;
}

TEST(LutDisplay, MultichannelMatchesReference)
{
    ASSERT_EQ(SKzLut::InitPredefLuts(), 0);
    for (const RefMchLut& c : kRefMchLuts) {
        SCOPED_TRACE(testing::Message() << "bits " << c.bits << " channels " << c.channels << " gradient "
                                        << c.gradient << " outside " << c.outside);
        CKzLutParamMCH p = Mch(c);
        LutGuard g;
        ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &p, const_cast<unsigned*>(c.colours)), 0);
        EXPECT_EQ(g.lut.uiOutBpc, 8);
        EXPECT_EQ(g.lut.uiOutComp, 3);
        EXPECT_EQ(Bgr(g.lut, 0, 0), (std::vector<unsigned>{c.first[0], c.first[1], c.first[2]}));
        EXPECT_EQ(Bgr(g.lut, 0, (size_t(1) << c.bits) - 1),
                  (std::vector<unsigned>{c.last[0], c.last[1], c.last[2]}));
        EXPECT_EQ(Hash(g.lut), c.hash);
        ExpectEveryEntry(g.lut, c.run, c.runs);
    }
}

TEST(LutDisplay, RgbMatchesReference)
{
    for (const RefRgbLut& c : kRefRgbLuts) {
        SCOPED_TRACE(testing::Message() << "bits " << c.bits << " mask " << c.mask << " channel colours "
                                        << c.channelColours);
        CKzLutParamRGB p(c.bits);
        for (unsigned i = 0; i < 3; ++i) {
            p.SetMin(i, c.min[i]);
            p.SetMax(i, c.max[i]);
            p.SetMaxDst(i, c.maxDst[i]);
            p.SetGamma(i, c.gamma[i]);
        }
        LutGuard g;
        ASSERT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, &p, c.mask, c.channelColours), 0);
        EXPECT_EQ(g.lut.uiInComp, c.inputs);
        EXPECT_EQ(Hash(g.lut), c.hash);
        ExpectEveryEntry(g.lut, c.run, c.runs);
        for (unsigned i = 0; i < 8; ++i) EXPECT_EQ(g.lut.maskComp.Get(i), ((c.mask >> i) & 1) != 0) << i;
    }
}

// The LUT's mask is the whole visible-mask word; only its three low bits
// choose colours and layout.
TEST(LutDisplay, RgbKeepsTheWholeMaskWord)
{
    struct Case {
        unsigned mask;
        bool channelColours;
        unsigned inputs;
    };
    const Case cases[] = {
        {0x5, false, 3},        {0xF2, false, 3},      {0xF7, false, 1},     {0x80000005u, true, 1},
        {0xFFFFFFFFu, false, 1}, {0x100u, false, 3},   {0x8u, true, 1},      {0x0u, false, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << "mask 0x" << c.mask);
        CKzLutParamRGB p(8);
        LutGuard g;
        ASSERT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, &p, c.mask, c.channelColours), 0);
        EXPECT_EQ(g.lut.uiInComp, c.inputs);
        for (unsigned i = 0; i < 64; ++i)
            EXPECT_EQ(g.lut.maskComp.Get(i), i < 32 && ((c.mask >> i) & 1) != 0) << i;
        // Entries follow the low three bits alone.
        LutGuard low;
        ASSERT_EQ(CKzPicBufAPI::CreateLutsRGB(&low.lut, &p, c.mask & 7, c.channelColours), 0);
        EXPECT_EQ(Hash(g.lut), Hash(low.lut));
    }
}

TEST(LutDisplay, StatedExamples)
{
    // One 8-bit component, full range, red: (0, 0, t[v]). The 8-bit gamma
    // curve scales by the rounded 1/255, so a few levels land one below v
    // (level 33 gives 32); the reference table above holds every entry.
    CKzLutParamMCH one(1, 1, nullptr, 8);
    unsigned red = 0x0000FF;
    LutGuard g;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &one, &red), 0);
    for (size_t v = 0; v < 256; ++v) {
        const std::vector<unsigned> e = Bgr(g.lut, 0, v);
        ASSERT_EQ(e[0], 0u) << v;
        ASSERT_EQ(e[1], 0u) << v;
        ASSERT_TRUE(e[2] == v || e[2] + 1 == v) << v;
    }
    EXPECT_EQ(Bgr(g.lut, 0, 33)[2], 32u);
    EXPECT_EQ(Bgr(g.lut, 0, 255)[2], 255u);

    // 0x808080: 128 x t / 255 in every byte.
    unsigned grey = 0x808080;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &one, &grey), 0);
    EXPECT_EQ(Bgr(g.lut, 0, 200), (std::vector<unsigned>{128 * 200 / 255, 128 * 200 / 255, 128 * 200 / 255}));

    // Two channels of equal curves agree; another gamma changes only its own.
    unsigned sizes[2] = {1, 1};
    CKzLutParamMCH two(2, 2, sizes, 8);
    two.SetMin(0, 10), two.SetMin(1, 10);
    unsigned white[2] = {0xFFFFFF, 0xFFFFFF};
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &two, white), 0);
    for (size_t v = 0; v < 256; ++v) ASSERT_EQ(Bgr(g.lut, 0, v), Bgr(g.lut, 1, v)) << v;
    const std::vector<unsigned> before = Bgr(g.lut, 0, 100);
    two.SetGamma(1, 2.0);
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &two, white), 0);
    EXPECT_EQ(Bgr(g.lut, 0, 100), before);
    EXPECT_NE(Bgr(g.lut, 1, 100), before);
    EXPECT_EQ(Bgr(g.lut, 1, 255), Bgr(g.lut, 0, 255));  // the curves meet at the ends
    EXPECT_EQ(Bgr(g.lut, 1, 5), Bgr(g.lut, 0, 5));

    // RGB, mask 0b101 without channel colours: white ramps and a black middle.
    CKzLutParamRGB rgb(8);
    ASSERT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, &rgb, 5, false), 0);
    EXPECT_EQ(g.lut.uiInComp, 3);
    EXPECT_EQ(Bgr(g.lut, 0, 77), (std::vector<unsigned>{77, 77, 77}));
    EXPECT_EQ(Bgr(g.lut, 1, 77), (std::vector<unsigned>{0, 0, 0}));
    EXPECT_EQ(Bgr(g.lut, 2, 255), (std::vector<unsigned>{255, 255, 255}));
    EXPECT_TRUE(g.lut.maskComp.Get(0));
    EXPECT_FALSE(g.lut.maskComp.Get(1));
    EXPECT_TRUE(g.lut.maskComp.Get(2));
    // All three visible: one input and the channel colours.
    ASSERT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, &rgb, 7, false), 0);
    EXPECT_EQ(g.lut.uiInComp, 1);
    EXPECT_EQ(Bgr(g.lut, 0, 255), (std::vector<unsigned>{255, 255, 255}));
    const std::vector<unsigned> e = Bgr(g.lut, 0, 90);
    EXPECT_TRUE(e[0] == 90 || e[0] == 89);
    EXPECT_EQ(e[1], e[0]);
    EXPECT_EQ(e[2], e[0]);
}

TEST(LutDisplay, ExamplesAsTable)
{
    // The documented examples, one row each: how the LUT is built, the code,
    // its input component count, the entry (component, value) looked at and
    // its blue, green, red, and the visible-component mask over the
    // components (a fresh LUT's mask shows everything).
    unsigned red = 0x0000FF, grey = 0x808080, odd = 0x123456;
    unsigned sizes2[2] = {1, 1};
    struct Row {
        const char* what;
        std::function<int(SKzLut&)> build;
        int code;
        unsigned inputs, comp, value;
        std::vector<unsigned> bgr;
        unsigned mask, maskComps;
    };
    const std::vector<Row> rows = {
        {"red ramp, top", [&](SKzLut& l) { CKzLutParamMCH p(1, 1, nullptr, 8); return CKzPicBufAPI::CreateLutsMCH(&l, &p, &red); }, 0, 1, 0, 255, {0, 0, 255}, 1, 1},
        {"red ramp, bottom", [&](SKzLut& l) { CKzLutParamMCH p(1, 1, nullptr, 8); return CKzPicBufAPI::CreateLutsMCH(&l, &p, &red); }, 0, 1, 0, 0, {0, 0, 0}, 1, 1},
        {"0x808080 at 200", [&](SKzLut& l) { CKzLutParamMCH p(1, 1, nullptr, 8); return CKzPicBufAPI::CreateLutsMCH(&l, &p, &grey); }, 0, 1, 0, 200, {100, 100, 100}, 1, 1},
        {"gradient 300 is no gradient", [&](SKzLut& l) { CKzLutParamMCH p(1, 1, nullptr, 8); p.SetGradient(300); return CKzPicBufAPI::CreateLutsMCH(&l, &p, &odd); }, 0, 1, 0, 255, {0x12, 0x34, 0x56}, 1, 1},
        {"two equal channels, second", [&](SKzLut& l) { CKzLutParamMCH p(2, 2, sizes2, 8); unsigned w[2] = {0xFFFFFF, 0xFFFFFF}; return CKzPicBufAPI::CreateLutsMCH(&l, &p, w); }, 0, 2, 1, 255, {255, 255, 255}, 3, 2},
        {"RGB 0b101 without channel colours, component 0", [&](SKzLut& l) { CKzLutParamRGB p(8); return CKzPicBufAPI::CreateLutsRGB(&l, &p, 5, false); }, 0, 3, 0, 77, {77, 77, 77}, 5, 3},
        {"RGB 0b101 without channel colours, component 1", [&](SKzLut& l) { CKzLutParamRGB p(8); return CKzPicBufAPI::CreateLutsRGB(&l, &p, 5, false); }, 0, 3, 1, 77, {0, 0, 0}, 5, 3},
        {"RGB all visible: one input, channel colours", [&](SKzLut& l) { CKzLutParamRGB p(8); return CKzPicBufAPI::CreateLutsRGB(&l, &p, 7, false); }, 0, 1, 0, 255, {255, 255, 255}, 7, 3},
        {"mono with a null colour is white", [&](SKzLut& l) { auto p = std::make_unique<SKzLutParam>(); return CKzPicBufAPI::CreateLutsMono(&l, p.get(), 8, nullptr, nullptr); }, 0, 1, 0, 255, {255, 255, 255}, 1, 1},
        {"17-bit parameters leave the LUT alone", [&](SKzLut& l) { CKzLutParamMCH p(1, 1, nullptr, 17); return CKzPicBufAPI::CreateLutsMCH(&l, &p, &red); }, -9, 0, 0, 0, {}, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        LutGuard g;
        ASSERT_EQ(r.build(g.lut), r.code);
        if (r.code != 0) {
            EXPECT_EQ(g.lut.pLut, nullptr);
            continue;
        }
        EXPECT_EQ(g.lut.uiInComp, r.inputs);
        EXPECT_EQ(Bgr(g.lut, r.comp, r.value), r.bgr);
        for (unsigned i = 0; i < r.maskComps; ++i) EXPECT_EQ(g.lut.maskComp.Get(i), ((r.mask >> i) & 1) != 0) << i;
    }
}

TEST(LutDisplay, GradientsBeforeAndAfterTheRegistry)
{
    // Before InitPredefLuts no gradient names a palette: the colour is used.
    // (The registry may already be filled by an earlier test; gradients past
    // it behave the same way in both cases.)
    CKzLutParamMCH p(1, 1, nullptr, 8);
    unsigned colour = 0x00FF00;
    for (int gradient : {20, -1, 300, 13}) {
        SCOPED_TRACE(gradient);
        p.SetGradient(gradient);
        LutGuard g;
        ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &p, &colour), 0);
        EXPECT_EQ(Bgr(g.lut, 0, 255), (std::vector<unsigned>{0, 255, 0}));
        auto old = std::make_unique<SKzLutParam>();
        old->uiGradient = unsigned(gradient);
        ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, old.get(), 8, 1, &colour, false, false, nullptr), 0);
        EXPECT_EQ(Bgr(g.lut, 0, 255), (std::vector<unsigned>{0, 255, 0}));
    }
    ASSERT_EQ(SKzLut::InitPredefLuts(), 0);
    p.SetGradient(1);
    LutGuard g;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &p, &colour), 0);
    EXPECT_NE(Bgr(g.lut, 0, 255), (std::vector<unsigned>{0, 255, 0}));
    EXPECT_TRUE(g.lut.maskComp.Get(0));
}

TEST(LutDisplay, OlderParameters)
{
    ASSERT_EQ(SKzLut::InitPredefLuts(), 0);
    auto p = std::make_unique<SKzLutParam>();
    LutGuard g;
    // Default parameters, three white components: identity ramps.
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, p.get(), 12, 3, nullptr, false, false, nullptr), 0);
    EXPECT_EQ(g.lut.uiInComp, 3);
    EXPECT_EQ(Bgr(g.lut, 2, 4095), (std::vector<unsigned>{255, 255, 255}));
    EXPECT_EQ(Bgr(g.lut, 1, 2048), (std::vector<unsigned>{127, 127, 127}));

    // Grey-scale spectral with a gradient: the shared per-component layout.
    p->sLutDataSpectral.uiSpectralColorMode = 3;
    p->uiGradient = 2;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, p.get(), 8, 4, nullptr, true, false, nullptr), 0);
    EXPECT_TRUE(SKzLut::IsShared(g.lut));
    // Not spectral: each component sampled in the palette.
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, p.get(), 8, 4, nullptr, false, false, nullptr), 0);
    EXPECT_FALSE(SKzLut::IsShared(g.lut));
    const u32 packed = CKzPredefLUTs::GetLUTEntry(2, 255, 256);
    EXPECT_EQ(Bgr(g.lut, 3, 255), (std::vector<unsigned>{packed & 0xFF, (packed >> 8) & 0xFF, packed >> 16}));

    // Refusals before the LUT is touched.
    SKzLut::Free(g.lut);
    ASSERT_EQ(SKzLut::AllocSingle(g.lut, 8, 8), 0);
    for (unsigned bits : {0u, 17u, 32u}) {
        EXPECT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, p.get(), bits, 1, nullptr, false, false, nullptr), -9);
        EXPECT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, p.get(), bits, nullptr, nullptr, false), -9);
        EXPECT_EQ(g.lut.uiOutComp, 1);
    }
    EXPECT_EQ(CKzPicBufAPI::CreateLutsMCH(nullptr, p.get(), 8, 1, nullptr, false, false, nullptr), -9);
    EXPECT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, p.get(), 8, 256, nullptr, false, false, nullptr), -9);

    // RGB from the older parameters with two visible channels and colours.
    CKzRangeMask vis;
    vis.SetSize(3);
    vis.Reset();
    vis.Set(0, true);
    vis.Set(2, true);
    p->uiGradient = 0;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, p.get(), 8, nullptr, &vis, true), 0);
    EXPECT_EQ(g.lut.uiInComp, 1);
    EXPECT_EQ(Bgr(g.lut, 0, 200), (std::vector<unsigned>{200, 0, 200}));
    EXPECT_TRUE(g.lut.maskComp == vis);
    ASSERT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, p.get(), 8, nullptr, &vis, false), 0);
    EXPECT_EQ(g.lut.uiInComp, 3);
    EXPECT_EQ(Bgr(g.lut, 0, 200), (std::vector<unsigned>{200, 200, 200}));
    EXPECT_EQ(Bgr(g.lut, 1, 200), (std::vector<unsigned>{0, 0, 0}));

    // Mono: a null colour is white.
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMono(&g.lut, p.get(), 10, nullptr, nullptr), 0);
    EXPECT_EQ(Bgr(g.lut, 0, 1023), (std::vector<unsigned>{255, 255, 255}));
}

TEST(LutDisplay, NewerParameterRefusals)
{
    LutGuard g;
    CKzLutParamMCH p;
    EXPECT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &p, nullptr), -9);  // no depth yet
    EXPECT_EQ(CKzPicBufAPI::CreateLutsMCH(nullptr, &p, nullptr), -9);
    EXPECT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, nullptr, nullptr), -9);
    unsigned sizes[2] = {1, 2};
    ASSERT_EQ(p.Reinit(2, 3, sizes, 20), 0);  // deeper than a display LUT takes
    EXPECT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &p, nullptr), -9);
    EXPECT_EQ(g.lut.pLut, nullptr);
    // Several components whose counts (new arrays start at 0) do not add up.
    CKzLutParamMCH q(2, 3, nullptr, 8);
    EXPECT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &q, nullptr), -9);
    CKzLutParamRGB rgb;
    EXPECT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, &rgb, 7, false), -9);
    EXPECT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, nullptr, 7, false), -9);
}

TEST(LutDisplay, Conversions)
{
    auto src = std::make_unique<SKzLutParam>();
    src->uiMinSrc = 6553;  // a tenth
    src->uiMaxSrc = 58981;
    src->dGammaSrc = 0.8;
    src->uiGradient = 4;
    src->uiOutside = 2;
    CKzLutParamMCH mch;
    ASSERT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutParamMCH(&mch, src.get(), 1, 1, nullptr, 12), 0);
    EXPECT_EQ(mch.GetMin(0), src->GetMinSrc(12));
    EXPECT_EQ(mch.GetMax(0), src->GetMaxSrc(12));
    EXPECT_EQ(mch.GetGamma(0), 0.8);
    EXPECT_EQ(mch.GetGradient(), 4);
    EXPECT_EQ(mch.GetOutside(), CKzLutParamMCH::eLutOutsideGradientWindow);

    // Several channels take their first component's effective values.
    src->sCompLutParam[2].uiMinSrc = 32768;
    src->sCompLutParam[2].dGammaSrc = 2.0;
    unsigned sizes[2] = {2, 1};
    ASSERT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutParamMCH(&mch, src.get(), 2, 3, sizes, 8), 0);
    EXPECT_EQ(mch.GetMin(1), src->GetMinSrc(2u, 8u));
    EXPECT_EQ(mch.GetGamma(1), 1.6);
    EXPECT_EQ(mch.GetMin(0), src->GetMinSrc(0u, 8u));
    // Gradient and outside mode stay as the single-channel conversion left them.
    EXPECT_EQ(mch.GetGradient(), 4);
    EXPECT_EQ(mch.GetOutside(), CKzLutParamMCH::eLutOutsideGradientWindow);
    unsigned bad[2] = {2, 2};
    EXPECT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutParamMCH(&mch, src.get(), 2, 3, bad, 8), -9);
    EXPECT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutParamMCH(nullptr, src.get(), 2, 3, sizes, 8), -9);

    CKzLutParamRGB rgb;
    src->sCompLutParam[1].uiMaxDst = 32768;
    ASSERT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutParamRGB(&rgb, src.get(), 16), 0);
    EXPECT_EQ(rgb.GetMaxDst(1), src->GetMaxDst(1u, 16u));
    EXPECT_EQ(rgb.GetMin(2), src->GetMinSrc(2u, 16u));
    EXPECT_EQ(rgb.GetGamma(2), 1.6);
    EXPECT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutParamRGB(&rgb, nullptr, 16), -9);
}

}  // namespace

namespace {

// ---- spectral LUT blocks ---------------------------------------------------------------

std::vector<double> Gains(const SKzLut& lut)
{
    std::vector<double> g;
    for (unsigned c = 0; c < lut.uiInComp; ++c) g.push_back(lut.pParametric[c].dGain);
    return g;
}

TEST(LutSpectralBlocks, TrueColour)
{
    struct Case {
        const char* what;
        std::vector<unsigned> sizes;
        unsigned S;
        std::vector<double> gains;
    } cases[] = {
        {"with an ordinary channel", {4, 1}, 1, {0.25, 0.25, 0.25, 0.25, 0.75}},
        {"spectral only", {4}, 1, {0.5, 0.5, 0.5, 0.5}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        unsigned comps = 0;
        for (unsigned s : c.sizes) comps += s;
        std::vector<unsigned> sizes = c.sizes;
        CKzLutParamSpectralTrueColor p(c.S, unsigned(sizes.size()), comps, sizes.data(), 12);
        p.SetGain(0, 1.0);
        p.SetOffset(0, 40.0);
        p.SetGain(1, 3.0);
        p.SetOffset(1, 100.0);
        p.SetGamma(0.7);
        std::vector<unsigned> colours(comps);
        for (unsigned i = 0; i < comps; ++i) colours[i] = 0x10203 * (i + 1);
        LutGuard g;
        ASSERT_EQ(CKzPicBufAPI::CreateLutsSpectralTrueColor(&g.lut, &p, colours.data(), 2.0), 0);
        ASSERT_NE(g.lut.pParametric, nullptr);
        EXPECT_EQ(Gains(g.lut), c.gains);
        for (unsigned i = 0; i < 4; ++i) EXPECT_EQ(g.lut.pParametric[i].dOffset, -40.0);
        if (comps == 5) EXPECT_EQ(g.lut.pParametric[4].dOffset, -25.0);
        for (unsigned i = 0; i < comps; ++i) {
            EXPECT_EQ(g.lut.pParametric[i].dGamma, 0.7);
            EXPECT_EQ(g.lut.pParametric[i].uiColor, colours[i]);
            EXPECT_TRUE(g.lut.maskComp.Get(i));
        }
        EXPECT_EQ(g.lut.iPredefLut, 255);  // gradient -1: no palette
    }
}

TEST(LutSpectralBlocks, CustomColourAndGrouped)
{
    std::vector<unsigned> nine(9, 1);
    CKzLutParamSpectralCustomColor c(3, 9, 9, 9, nine.data(), 8);
    c.SetGain(0, 1.0), c.SetGain(1, 3.0), c.SetGain(2, 1.0);
    LutGuard g;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsSpectralCustomColor(&g.lut, &c, 1.0), 0);
    EXPECT_EQ(Gains(g.lut), (std::vector<double>{1, 1.5, 2, 2.5, 3, 2.5, 2, 1.5, 1}));
    std::vector<unsigned> colours(9);
    c.GetCompColors(colours.data());
    for (unsigned i = 0; i < 9; ++i) EXPECT_EQ(g.lut.pParametric[i].uiColor, colours[i]);

    unsigned sizes[6] = {1, 1, 1, 1, 1, 1};
    unsigned groups[2] = {2, 4};
    CKzLutParamSpectralGrouped gr(2, groups, 6, 6, 6, sizes, 8);
    gr.SetColor(1, 0xFF112233u);
    ASSERT_EQ(CKzPicBufAPI::CreateLutsSpectralGrouped(&g.lut, &gr, 1.0), 0);
    EXPECT_EQ(Gains(g.lut), (std::vector<double>{1.5, 1.5, 0.75, 0.75, 0.75, 0.75}));
    EXPECT_EQ(g.lut.pParametric[3].uiColor, 0x112233u);

    // Spectral components past the last group do not render.
    unsigned short_[2] = {2, 1};
    ASSERT_EQ(gr.Reinit(2, short_, 6, 6, 6, sizes, 8), 0);
    ASSERT_EQ(CKzPicBufAPI::CreateLutsSpectralGrouped(&g.lut, &gr, 2.0), 0);
    EXPECT_EQ(Gains(g.lut), (std::vector<double>{0.75, 0.75, 1.5, 0, 0, 0}));
    EXPECT_EQ(g.lut.pParametric[5].uiColor, 0u);

    EXPECT_EQ(CKzPicBufAPI::CreateLutsSpectralGrouped(&g.lut, &gr, 0.0), -9);
    EXPECT_EQ(CKzPicBufAPI::CreateLutsSpectralGrouped(nullptr, &gr, 1.0), -9);
    EXPECT_EQ(CKzPicBufAPI::CreateLutsSpectralCustomColor(&g.lut, nullptr, 1.0), -9);
}

TEST(LutSpectralBlocks, OlderParameters)
{
    auto p = std::make_unique<SKzLutParam>();
    SKzLutParam::SKzLUTDataSpectral& s = p->sLutDataSpectral;
    s.uiSpectralColorMode = 2;
    s.uiGroupCount = 2;
    for (int i = 0; i < 6; ++i) p->sCompLutParam[i].uiGroup = i / 3;
    s.uiCompCount = 6;
    s.SetGain(0, 2.0);
    s.SetGain(1, 4.0);
    LutGuard g;
    ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 6, 8, 3), 0);
    ASSERT_EQ(CKzPicBufAPI::CreateLutsSpectral(&g.lut, p.get(), nullptr, 6, 6, 1.0), 0);
    EXPECT_EQ(Gains(g.lut), (std::vector<double>{2, 2, 2, 4, 4, 4}));  // 6 / (3 x 2) = 1
    EXPECT_EQ(g.lut.iPredefLut, -1);

    // One ordinary component: the spectral gains halve.
    p->sCompLutParam[6].uiMaxSrc = 32768;
    SKzLut::Free(g.lut);
    ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 7, 8, 3), 0);
    ASSERT_EQ(CKzPicBufAPI::CreateLutsSpectral(&g.lut, p.get(), nullptr, 6, 7, 1.0), 0);
    EXPECT_EQ(g.lut.pParametric[0].dGain, 1.0);
    EXPECT_DOUBLE_EQ(g.lut.pParametric[6].dGain, 0.5 * (65535.0 / 32768.0));
    EXPECT_EQ(CKzPicBufAPI::CreateLutsSpectral(&g.lut, p.get(), nullptr, 6, 193, 1.0), -9);
    EXPECT_EQ(CKzPicBufAPI::CreateLutsSpectral(&g.lut, p.get(), nullptr, 6, 8, 1.0), -9);  // 7 inputs
}

TEST(LutSpectralBlocks, MaskConversions)
{
    auto p = std::make_unique<SKzLutParam>();
    SKzLutParam::SKzLUTDataSpectral& s = p->sLutDataSpectral;
    s.uiCompCount = 4;
    s.uiGroupCount = 2;
    const u32 groups[5] = {0, 0, 1, 1, 7};
    for (int i = 0; i < 5; ++i) p->sCompLutParam[i].uiGroup = groups[i];
    CKzRangeMask comps;
    comps.SetSize(5);
    comps.Reset();
    comps.Set(2, true);
    comps.Set(4, true);
    CKzRangeMask dst;
    dst.SetSize(9);
    dst.Set();
    EXPECT_EQ(CKzPicBufAPI::SpectralGroupMaskToComponentMask(dst, comps, *p, 5), -9);  // mode 0
    EXPECT_EQ(dst.GetSize(), 9u);
    EXPECT_EQ(dst.GetCount(), 9u);
    s.uiSpectralColorMode = 2;
    ASSERT_EQ(CKzPicBufAPI::ComponentMaskToSpectralGroupMask(dst, comps, *p, 5), 0);
    EXPECT_EQ(dst.GetSize(), 3u);
    EXPECT_FALSE(dst.Get(0));
    EXPECT_TRUE(dst.Get(1));
    EXPECT_TRUE(dst.Get(2));  // the ordinary component (its group 7 is ignored)
    CKzRangeMask back;
    ASSERT_EQ(CKzPicBufAPI::SpectralGroupMaskToComponentMask(back, dst, *p, 5), 0);
    EXPECT_EQ(back.GetSize(), 5u);
    const bool want[5] = {false, false, true, true, true};
    for (unsigned i = 0; i < 5; ++i) EXPECT_EQ(back.Get(i), want[i]) << i;
}

}  // namespace

namespace {

TEST(LutDisplay, WithoutParameters)
{
    // The colours alone: each component's colour over the whole input range.
    unsigned colours[2] = {0x0000FF, 0x00FF00};
    LutGuard g;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, nullptr, 8, 2, colours, false, false, nullptr), 0);
    EXPECT_EQ(g.lut.uiInComp, 2);
    EXPECT_EQ(Bgr(g.lut, 0, 255), (std::vector<unsigned>{0, 0, 255}));
    EXPECT_EQ(Bgr(g.lut, 1, 255), (std::vector<unsigned>{0, 255, 0}));
    EXPECT_EQ(Bgr(g.lut, 1, 0), (std::vector<unsigned>{0, 0, 0}));

    // Shaped by a tone LUT: dark up to 50, full from 200.
    LutGuard tone;
    ASSERT_EQ(SKzLut::AllocSingle(tone.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreateLinearTable(tone.lut, 0, 50, 0, 200, 255), 0);
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, nullptr, 8, 1, colours, false, false, &tone.lut), 0);
    EXPECT_EQ(Bgr(g.lut, 0, 50), (std::vector<unsigned>{0, 0, 0}));
    EXPECT_EQ(Bgr(g.lut, 0, 200), (std::vector<unsigned>{0, 0, 255}));

    // A source that is itself a colour LUT of the same depth is taken over.
    LutGuard colourLut;
    unsigned cyan = 0xFFFF00;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&colourLut.lut, nullptr, 8, 1, &cyan, false, false, nullptr), 0);
    LutGuard taken;
    ASSERT_EQ(SKzLut::AllocSingle(taken.lut, 8, 8), 0);
    const int r = CKzPicBufAPI::CreateLutsMCH(&taken.lut, nullptr, 8, 1, colours, false, false, &colourLut.lut);
    EXPECT_EQ(r, 0);
    EXPECT_EQ(taken.lut.uiOutComp, 3);
    EXPECT_EQ(Bgr(taken.lut, 0, 255), Bgr(colourLut.lut, 0, 255));

    // RGB without parameters: the channel colours, everything visible.
    ASSERT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, nullptr, 8, nullptr, nullptr, false), 0);
    EXPECT_EQ(g.lut.uiInComp, 3);
    EXPECT_EQ(Bgr(g.lut, 0, 255), (std::vector<unsigned>{255, 0, 0}));
    EXPECT_EQ(Bgr(g.lut, 2, 255), (std::vector<unsigned>{0, 0, 255}));
    for (unsigned i = 0; i < 3; ++i) EXPECT_TRUE(g.lut.maskComp.Get(i));
    // ... shaped by a tone LUT with one column per component.
    LutGuard tone3;
    ASSERT_EQ(SKzLut::Alloc(tone3.lut, 8, 1, 8, 3), 0);
    for (u8 i = 0; i < 3; ++i) ASSERT_EQ(SKzLut::CreateLinearTable(tone3.lut, i, 50, 0, 200, 255), 0);
    EXPECT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, nullptr, 8, &tone.lut, nullptr, false), -4);  // one column only
    ASSERT_EQ(CKzPicBufAPI::CreateLutsRGB(&g.lut, nullptr, 8, &tone3.lut, nullptr, false), 0);
    EXPECT_EQ(Bgr(g.lut, 1, 50), (std::vector<unsigned>{0, 0, 0}));
    EXPECT_EQ(Bgr(g.lut, 1, 200), (std::vector<unsigned>{0, 255, 0}));
}

}  // namespace

namespace {

// Older parameters of a spectral picture: six spectral components in three
// groups of two (values per group), and one ordinary component.
std::unique_ptr<SKzLutParam> OldSpectral(unsigned mode)
{
    auto p = std::make_unique<SKzLutParam>();
    SKzLutParam::SKzLUTDataSpectral& s = p->sLutDataSpectral;
    s.uiSpectralColorMode = mode;
    s.uiCompCount = 6;
    s.uiGroupCount = 3;
    EXPECT_EQ(s.Realloc(3), 0);
    for (unsigned c = 0; c < 6; ++c) p->sCompLutParam[c].uiGroup = c / 2;
    for (unsigned g = 0; g < 3; ++g) {
        s.SetOffset(g, 10.0 * (g + 1));
        s.SetGain(g, 1.5 * (g + 1));
        s.puiColorCustom[g] = 0x000011u * (g + 1);
        s.puiColorGroup[g] = 0x110000u * (g + 1);
    }
    p->dGammaSrc = 0.8;
    p->uiGradient = 3;
    // The ordinary channel is channel 1; its slot reads component 1's range.
    p->sCompLutParam[1].uiMinSrc = 6553;
    p->sCompLutParam[1].uiMaxSrc = 32768;
    return p;
}

TEST(LutSpectralBlocks, ConversionsFromOlderParameters)
{
    unsigned sizes[2] = {6, 1};
    {
        auto src = OldSpectral(0);
        CKzLutParamSpectralTrueColor t;
        ASSERT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutSpectralTrueColor(&t, src.get(), 1, 2, 7, sizes, 8), 0);
        EXPECT_EQ(t.GetOffset(0), src->sLutDataSpectral.GetOffset(0));
        EXPECT_EQ(t.GetGain(0), src->sLutDataSpectral.GetGain(0));
        EXPECT_EQ(t.GetOffset(1), double(src->GetMinSrc(1u, 8u)));
        EXPECT_DOUBLE_EQ(t.GetGain(1), double(src->GetMaxDst(1u, 8u)) / src->GetMaxSrc(1u, 8u));
        EXPECT_EQ(t.GetGamma(), 0.8);
        EXPECT_EQ(t.GetGradient(), 3);
        // An ordinary component whose source maximum is 0: gain 100000.
        src->uiMaxSrc = 0;
        ASSERT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutSpectralTrueColor(&t, src.get(), 1, 2, 7, sizes, 8), 0);
        EXPECT_EQ(t.GetGain(1), 100000.0);
        EXPECT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutSpectralTrueColor(&t, src.get(), 1, 2, 7, nullptr, 8), -9);
        EXPECT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutSpectralTrueColor(nullptr, src.get(), 1, 2, 7, sizes, 8), -9);
    }
    {
        auto src = OldSpectral(1);
        CKzLutParamSpectralCustomColor c;
        ASSERT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutSpectralCustomColor(&c, src.get(), 1, 2, 7, sizes, 8), 0);
        ASSERT_EQ(c.GetNodeCount(), 1u);  // one spectral channel caps the nodes
        EXPECT_EQ(c.GetOffset(0), 10.0);
        EXPECT_EQ(c.GetGain(0), 1.5);
        EXPECT_EQ(c.GetColor(0), 0x000011u);
        EXPECT_EQ(c.GetOffset(1), double(src->GetMinSrc(1u, 8u)));
        // Six spectral channels of one component: three nodes.
        unsigned ones[7] = {1, 1, 1, 1, 1, 1, 1};
        ASSERT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutSpectralCustomColor(&c, src.get(), 6, 7, 7, ones, 8), 0);
        ASSERT_EQ(c.GetNodeCount(), 3u);
        for (unsigned k = 0; k < 3; ++k) {
            EXPECT_EQ(c.GetOffset(k), 10.0 * (k + 1)) << k;
            EXPECT_EQ(c.GetGain(k), 1.5 * (k + 1)) << k;
            EXPECT_EQ(c.GetColor(k), 0x000011u * (k + 1)) << k;
        }
        EXPECT_DOUBLE_EQ(c.GetGain(3), double(src->GetMaxDst(6u, 8u)) / src->GetMaxSrc(6u, 8u));
        EXPECT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutSpectralCustomColor(&c, nullptr, 6, 7, 7, ones, 8), -9);
    }
    {
        auto src = OldSpectral(2);
        unsigned ones[7] = {1, 1, 1, 1, 1, 1, 1};
        CKzLutParamSpectralGrouped g;
        ASSERT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutSpectralGrouped(&g, src.get(), 6, 7, 7, ones, 8), 0);
        ASSERT_EQ(g.GetGroupCount(), 3u);
        unsigned* groupSizes = nullptr;
        g.GetGroupSizes(&groupSizes);
        ASSERT_NE(groupSizes, nullptr);
        for (unsigned k = 0; k < 3; ++k) {
            EXPECT_EQ(groupSizes[k], 2u) << k;
            EXPECT_EQ(g.GetOffset(k), 10.0 * (k + 1)) << k;
            EXPECT_EQ(g.GetGain(k), 1.5 * (k + 1)) << k;
            EXPECT_EQ(g.GetColor(k), 0x110000u * (k + 1)) << k;
        }
        EXPECT_EQ(g.GetOffset(3), double(src->GetMinSrc(6u, 8u)));
        EXPECT_EQ(g.GetGamma(), 0.8);
        EXPECT_EQ(CKzPicBufAPI::ConvertOldLutParamToLutSpectralGrouped(&g, src.get(), 1, 2, 7, nullptr, 8), -9);
    }
}

}  // namespace
