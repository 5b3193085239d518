// Colour-table builders and exposure records.
#include "gnr_picture/CKzPredefLUTs.h"

#include "gnr_picture/KzLutColour.h"

#include <gtest/gtest.h>

#include <thread>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "lut_reference.inc"

namespace {

struct LutGuard {
    SKzLut lut;
    ~LutGuard() { SKzLut::Free(lut); }
};

const u8* Row(const SKzLut& lut, size_t v) { return static_cast<u8**>(lut.pLut)[0] + 3 * v; }
std::vector<int> Bgr(const SKzLut& lut, size_t v)
{
    const u8* p = Row(lut, v);
    return {p[0], p[1], p[2]};
}
std::vector<int> Bgr16(const SKzLut& lut, size_t v)
{
    u16 w[3];
    std::memcpy(w, static_cast<u8**>(lut.pLut)[0] + 6 * v, 6);
    return {w[0], w[1], w[2]};
}

// Flat identity tone of the given depth.
void Identity(LutGuard& g, u8 bits)
{
    ASSERT_EQ(SKzLut::AllocSingle(g.lut, bits, bits), 0);
    ASSERT_EQ(SKzLut::CreateLinearTable(g.lut, 0, 0, 0, 1 << bits, 1 << bits), 0);
}

TEST(LutColour, ColourRamps)
{
    LutGuard g;
    ASSERT_EQ(SKzLut::AllocColor(g.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreateColorTable(g.lut, 0x0000FF), 0);
    EXPECT_EQ(Bgr(g.lut, 255), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(Bgr(g.lut, 128), (std::vector<int>{0, 0, 128}));
    ASSERT_EQ(SKzLut::CreateColorTable(g.lut, 0x804020), 0);
    EXPECT_EQ(Bgr(g.lut, 100), (std::vector<int>{100 * 0x80 / 255, 100 * 0x40 / 255, 100 * 0x20 / 255}));

    // A null source is the plain ramp.
    LutGuard h;
    ASSERT_EQ(SKzLut::AllocColor(h.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreateColorTableEx(h.lut, 0x804020, nullptr, true, 1, true, 2), 0);
    EXPECT_EQ(std::memcmp(Row(h.lut, 0), Row(g.lut, 0), 768), 0);

    // Identity tone with both marks.
    LutGuard tone;
    Identity(tone, 8);
    ASSERT_EQ(SKzLut::CreateColorTableEx(h.lut, 0x00C8FF, &tone.lut, true, 0x112233, true, 0x445566), 0);
    EXPECT_EQ(Bgr(h.lut, 255), (std::vector<int>{0x11, 0x22, 0x33}));
    EXPECT_EQ(Bgr(h.lut, 0), (std::vector<int>{0x44, 0x55, 0x66}));
    EXPECT_EQ(Bgr(h.lut, 128), (std::vector<int>{0, 128 * 0xC8 / 255, 128}));

    // Refused shapes.
    LutGuard one;
    ASSERT_EQ(SKzLut::AllocSingle(one.lut, 8, 8), 0);
    EXPECT_EQ(SKzLut::CreateColorTable(one.lut, 0xFF), -4);
    LutGuard wide;
    ASSERT_EQ(SKzLut::AllocColor(wide.lut, 8, 16), 0);
    EXPECT_EQ(SKzLut::CreateColorTableEx(wide.lut, 0xFF, &tone.lut, false, 0, false, 0), -4);
    LutGuard tone12;
    Identity(tone12, 12);
    EXPECT_EQ(SKzLut::CreateColorTableEx(g.lut, 0xFF, &tone12.lut, false, 0, false, 0), -4);
}

TEST(LutColour, MultiColour)
{
    LutGuard g;
    ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 3, 8, 3), 0);
    u32 colours[3] = {0x0000FF, 0x00FF00, 0xFF0000};
    EXPECT_EQ(SKzLut::CreateMultiColorTable(g.lut, colours, 2), -4);
    ASSERT_EQ(SKzLut::CreateMultiColorTable(g.lut, colours, 3), 0);
    u8*** comps = static_cast<u8***>(g.lut.pLut);
    for (int k = 0; k < 3; ++k) {
        const u8* e = comps[k][200];
        EXPECT_EQ(e[0], k == 2 ? 200 : 0);
        EXPECT_EQ(e[1], k == 1 ? 200 : 0);
        EXPECT_EQ(e[2], k == 0 ? 200 : 0);
    }

    LutGuard w;
    ASSERT_EQ(SKzLut::AllocColor(w.lut, 8, 16), 0);
    u32 red = 0x0000FF;
    ASSERT_EQ(SKzLut::CreateMultiColorTable(w.lut, &red, 1), 0);
    EXPECT_EQ(Bgr16(w.lut, 255), (std::vector<int>{0, 0, 65535}));

    // One input, under marks only: a tone that is 0 up to 50.
    LutGuard tone, c;
    ASSERT_EQ(SKzLut::AllocSingle(tone.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreateLinearTable(tone.lut, 0, 50, 0, 256, 255), 0);
    ASSERT_EQ(SKzLut::AllocColor(c.lut, 8, 8), 0);
    u32 white = 0xFFFFFF;
    ASSERT_EQ(SKzLut::CreateMultiColorTableEx(c.lut, &white, 1, &tone.lut, false, 0x0000FF, true, 0x00FF00), 0);
    EXPECT_EQ(Bgr(c.lut, 10), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(Bgr(c.lut, 50), (std::vector<int>{0, 255, 0}));
    EXPECT_EQ(Bgr(c.lut, 255), (std::vector<int>{253, 253, 253}));  // over is off
    LutGuard tone12;
    Identity(tone12, 12);
    EXPECT_EQ(SKzLut::CreateMultiColorTableEx(c.lut, &white, 1, &tone12.lut, false, 0, false, 0), -4);
}

TEST(LutColour, PaletteThroughTone)
{
    ASSERT_EQ(SKzLut::InitPredefLuts(), 0);
    LutGuard tone, g;
    Identity(tone, 8);
    ASSERT_EQ(SKzLut::AllocColor(g.lut, 8, 8), 0);
    for (int pal : {1, 2, 12}) {
        ASSERT_EQ(SKzLut::CreateRainbowLUTTable(g.lut, tone.lut, pal), 0);
        for (int v = 0; v < 256; ++v) {
            const unsigned char* ref = kRefPalettes[pal] + 3 * v;
            ASSERT_EQ(Bgr(g.lut, size_t(v)), (std::vector<int>{ref[2], ref[1], ref[0]})) << pal << " " << v;
        }
    }
    // Windowed: grey outside 10..20, the palette stretched over 0..255 inside.
    ASSERT_EQ(SKzLut::CreateRainbowLUTTable2(g.lut, tone.lut, 2, 10, 20, 0, 255), 0);
    for (int v : {0, 9, 21, 255})
        EXPECT_EQ(Bgr(g.lut, size_t(v)), (std::vector<int>{v, v, v})) << v;
    for (int v = 10; v <= 20; ++v) {
        const int p = int(v * (255.0 / 256) + 0.5);
        const unsigned char* ref = kRefPalettes[2] + 3 * p;
        EXPECT_EQ(Bgr(g.lut, size_t(v)), (std::vector<int>{ref[2], ref[1], ref[0]})) << v;
    }
    // 16-bit output through the palette members.
    LutGuard w;
    ASSERT_EQ(SKzLut::AllocColor(w.lut, 8, 16), 0);
    CKzPredefLUTs::CreatePredefLUTTable(w.lut, tone.lut, 0);
    EXPECT_EQ(Bgr16(w.lut, 255), (std::vector<int>{65280, 65280, 65280}));
    EXPECT_EQ(Bgr16(w.lut, 3), (std::vector<int>{768, 768, 768}));
    CKzPredefLUTs::CreatePredefLUTTable2(w.lut, tone.lut, 0, 10, 20, 0, 255);
    EXPECT_EQ(Bgr16(w.lut, 30), (std::vector<int>{30 * 256, 30 * 256, 30 * 256}));
    // The SKzLut members leave wide outputs alone.
    std::memset(static_cast<u8**>(w.lut.pLut)[0], 0x11, 6 * 256);
    EXPECT_EQ(SKzLut::CreateRainbowLUTTable(w.lut, tone.lut, 1), 0);
    EXPECT_EQ(Bgr16(w.lut, 7), (std::vector<int>{0x1111, 0x1111, 0x1111}));
    // A palette beyond the registry samples as grey.
    ASSERT_EQ(SKzLut::CreateRainbowLUTTable(g.lut, tone.lut, 99), 0);
    EXPECT_EQ(Bgr(g.lut, 77), (std::vector<int>{77, 77, 77}));
}

TEST(LutColour, SpectralPaletteForms)
{
    ASSERT_EQ(SKzLut::InitPredefLuts(), 0);
    LutGuard tone, g;
    Identity(tone, 8);
    ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 3, 8, 3), 0);
    u8*** comps = static_cast<u8***>(g.lut.pLut);
    ASSERT_EQ(SKzLut::CreateRainbowLUTTableSpect_1Channel(g.lut, 1, tone.lut, 1), 0);
    EXPECT_EQ(comps[1][0][2], 99);  // Rainbow entry 0 red
    EXPECT_EQ(comps[0][0][2], 0);
    EXPECT_EQ(comps[2][0][2], 0);
    ASSERT_EQ(SKzLut::CreateRainbowLUTTableSpect_1Channel(g.lut, 3, tone.lut, 1), 0);  // beyond: nothing
    ASSERT_EQ(SKzLut::CreateRainbowLUTTableSpect_SameChannels(g.lut, tone.lut, 2), 0);
    for (int k = 0; k < 3; ++k)
        EXPECT_EQ(comps[k][0][2], 40) << k;  // Iron entry 0 red
    // One input: nothing written.
    LutGuard one;
    ASSERT_EQ(SKzLut::AllocColor(one.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreateRainbowLUTTableSpect_SameChannels(one.lut, tone.lut, 2), 0);
    EXPECT_EQ(Row(one.lut, 0)[2], 0);
}

TEST(LutColour, ExposureRecords)
{
    struct Case {
        u8 outBits, outComps;
        u32 colour;
        int result;
        std::vector<int> words;  // blue, green, red, flag
    };
    const Case cases[] = {
        {8, 3, 0x00FFFFFF, 0, {255, 255, 255, 0}},   {12, 3, 0x00FFFFFF, 0, {4080, 4080, 4080, 0}},
        {8, 3, 0xFF0000FF, 0, {0, 0, 255, 255}},     {16, 3, 0x000000FF, 0, {0, 0, 65280, 0}},
        {8, 1, 0x00FFFFFF, -2, {}},                  {8, 3, 0, 0, {}},
        {4, 3, 0x00102030, 0, {1, 2, 3, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.outBits) << " " << std::hex << c.colour);
        for (bool over : {true, false}) {
            LutGuard g;
            ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 1, c.outBits, c.outComps), 0);
            u32 col = c.colour;
            const int r = over ? SKzLut::SetOverExpColor(g.lut, &col) : SKzLut::SetUnderExpColor(g.lut, &col);
            EXPECT_EQ(r, c.result);
            SKzLutExpColor* rec = over ? g.lut.pOverExpColor : g.lut.pUnderExpColor;
            EXPECT_EQ(over ? g.lut.pUnderExpColor : g.lut.pOverExpColor, nullptr);
            if (c.words.empty()) {
                EXPECT_EQ(rec, nullptr);
                continue;
            }
            ASSERT_NE(rec, nullptr);
            std::vector<int> got;
            for (int i = 0; i < 4; ++i) {
                if (c.outBits > 8) {
                    u16 w;
                    std::memcpy(&w, reinterpret_cast<u8*>(rec) + 2 * i, 2);
                    got.push_back(w);
                } else {
                    got.push_back(reinterpret_cast<u8*>(rec)[i]);
                }
            }
            EXPECT_EQ(got, c.words);
            // The record copies through the Arr setter of the same depth.
            LutGuard h;
            ASSERT_EQ(SKzLut::Alloc(h.lut, 8, 1, c.outBits, 3), 0);
            ASSERT_EQ(SKzLut::SetOverExpColorArr(h.lut, rec, c.outBits), 0);
            ASSERT_NE(h.lut.pOverExpColor, nullptr);
            EXPECT_EQ(std::memcmp(h.lut.pOverExpColor, rec, c.outBits > 8 ? 8 : 4), 0);
        }
    }
    // Arr: wrong depth -4, all-zero record clears, 16-bit pure red is kept.
    LutGuard g;
    ASSERT_EQ(SKzLut::AllocColor(g.lut, 8, 16), 0);
    u16 red16[4] = {0, 0, 0xFF00, 0};
    u16 blue16[4] = {0xFF00, 0, 0, 0};
    EXPECT_EQ(SKzLut::SetUnderExpColorArr(g.lut, blue16, 8), -4);
    EXPECT_EQ(g.lut.pUnderExpColor, nullptr);
    ASSERT_EQ(SKzLut::SetUnderExpColorArr(g.lut, red16, 16), 0);
    ASSERT_NE(g.lut.pUnderExpColor, nullptr);
    EXPECT_EQ(std::memcmp(g.lut.pUnderExpColor, red16, 8), 0);
    u16 zero[4] = {};
    ASSERT_EQ(SKzLut::SetUnderExpColorArr(g.lut, zero, 16), 0);
    EXPECT_EQ(g.lut.pUnderExpColor, nullptr);
    ASSERT_EQ(SKzLut::SetOverExpColorArr(g.lut, nullptr, 16), 0);
    LutGuard one;
    ASSERT_EQ(SKzLut::AllocSingle(one.lut, 8, 8), 0);
    u8 rec8[4] = {1, 2, 3, 0};
    EXPECT_EQ(SKzLut::SetOverExpColorArr(one.lut, rec8, 8), -2);
}

TEST(LutColour, ExposureRecordsMatchReference)
{
    for (const RefExposure& c : kRefExposure) {
        SCOPED_TRACE(testing::Message() << c.bits << " " << std::hex << c.colour);
        LutGuard g;
        ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 1, u8(c.bits), 3), 0);
        u32 col = c.colour;
        ASSERT_EQ(SKzLut::SetOverExpColor(g.lut, &col), 0);
        ASSERT_NE(g.lut.pOverExpColor, nullptr);
        const u8* rec = reinterpret_cast<const u8*>(g.lut.pOverExpColor);
        for (int i = 0; i < 4; ++i) {
            u32 got = rec[i];
            if (c.bits > 8) {
                u16 w;
                std::memcpy(&w, rec + 2 * i, 2);
                got = w;
            }
            EXPECT_EQ(got, c.words[i]) << i;
        }
    }
}

TEST(LutColour, ComposedTable)
{
    // A colour ramp after an inverting tone: entry v takes colour entry 255 - v.
    LutGuard colour, tone, out;
    ASSERT_EQ(SKzLut::AllocColor(colour.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreateColorTable(colour.lut, 0x3080FF), 0);
    u32 over = 0x00FFFFFF;
    ASSERT_EQ(SKzLut::SetOverExpColor(colour.lut, &over), 0);
    ASSERT_EQ(SKzLut::AllocSingle(tone.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreateLinearTable(tone.lut, 0, 0, 255, 256, -1), 0);
    ASSERT_EQ(SKzLut::AllocColor(out.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreateComposedTable(out.lut, colour.lut, tone.lut), 0);
    for (size_t v = 0; v < 256; ++v)
        ASSERT_EQ(Bgr(out.lut, v), Bgr(colour.lut, 255 - v)) << v;
    ASSERT_NE(out.lut.pOverExpColor, nullptr);
    EXPECT_EQ(std::memcmp(out.lut.pOverExpColor, colour.lut.pOverExpColor, 4), 0);
    EXPECT_EQ(out.lut.pUnderExpColor, nullptr);
    // Composing in place reads the colour table before overwriting it.
    ASSERT_EQ(SKzLut::CreateComposedTable(colour.lut, colour.lut, tone.lut), 0);
    for (size_t v = 0; v < 256; ++v)
        ASSERT_EQ(Bgr(colour.lut, v), Bgr(out.lut, v)) << v;
    // Mismatches.
    LutGuard tone12, multi, wide;
    Identity(tone12, 12);
    EXPECT_EQ(SKzLut::CreateComposedTable(out.lut, colour.lut, tone12.lut), -4);
    ASSERT_EQ(SKzLut::Alloc(multi.lut, 8, 3, 8, 3), 0);
    EXPECT_EQ(SKzLut::CreateComposedTable(multi.lut, multi.lut, tone.lut), -4);  // one-output tone, 3 inputs
    ASSERT_EQ(SKzLut::AllocColor(wide.lut, 8, 16), 0);
    EXPECT_EQ(SKzLut::CreateComposedTable(wide.lut, colour.lut, tone.lut), -4);
}

TEST(LutColour, HueInterpolationTakesTheShortWayRound)
{
    // Orange-red (hue just above 0) and pink-red (hue just below 255): the
    // way between them passes through red, not through green and cyan.
    // Colours are stored red in the low byte.
    const u32 orange = 0x0040FF, pink = 0x4000FF;
    for (u32 a : {orange, pink}) {
        const u32 b = a == orange ? pink : orange;
        for (int w : {16384, 32768, 49152}) {
            SCOPED_TRACE(testing::Message() << std::hex << a << " to " << b << std::dec << " weight " << w);
            const u32 c = InterpolateColorHSI8(a, b, w);
            EXPECT_EQ(c & 0xFF, 255u);
            EXPECT_LE((c >> 8) & 0xFF, 72u);
            EXPECT_LE((c >> 16) & 0xFF, 72u);
        }
        // Half way lies on red itself: green and blue about equal.
        const u32 mid = InterpolateColorHSI8(a, b, 32768);
        EXPECT_LE(std::abs(int((mid >> 8) & 0xFF) - int((mid >> 16) & 0xFF)), 12);
    }
    // Hues less than half a circle apart still go the direct way: red to
    // green passes through yellow (red and green, no blue).
    const u32 yellowish = InterpolateColorHSI8(0x0000FF, 0x00FF00, 32768);
    EXPECT_GE((yellowish >> 8) & 0xFF, 128u);
    EXPECT_GE(yellowish & 0xFF, 128u);
    EXPECT_LE((yellowish >> 16) & 0xFF, 16u);
}

TEST(LutColourThreads, InterpolateHsiWithoutHostTables)
{
    // Black stays black at every weight; weight 0 is colour A at full
    // brightness; the result never carries a top byte.
    EXPECT_EQ(InterpolateColorHSI8(0, 0, 0), 0u);
    EXPECT_EQ(InterpolateColorHSI8(0, 0, 40000), 0u);
    EXPECT_EQ(InterpolateColorHSI8(0, 0, 65536), 0u);
    const u32 red = InterpolateColorHSI8(0x000080, 0x00FF00, 0);
    EXPECT_EQ(red & 0xFF, 255u);
    EXPECT_LE((red >> 8) & 0xFF, 8u);
    const u32 green = InterpolateColorHSI8(0x000080, 0x00FF00, 65536);
    EXPECT_EQ((green >> 8) & 0xFF, 255u);
    EXPECT_LE(green & 0xFF, 8u);
    std::vector<u32> first(8), results(8);
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            u32 acc = 0;
            for (int w = 0; w <= 65536; w += 257)
                acc = acc * 31 + InterpolateColorHSI8(0x2040C0, 0xC04020 + u32(t % 2), w);
            results[size_t(t)] = acc;
        });
    for (auto& th : threads)
        th.join();
    for (int t = 2; t < 8; ++t)
        EXPECT_EQ(results[size_t(t)], results[size_t(t % 2)]) << t;
    for (u32 w : {0u, 20000u, 65536u})
        EXPECT_EQ(InterpolateColorHSI8(0x2040C0, 0xC04020, int(w)) >> 24, 0u);
}

}  // namespace
