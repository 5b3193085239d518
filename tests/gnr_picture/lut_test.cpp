// LUT record: layouts, allocation failures, reuse and copying.
#include "gnr_picture/SKzLut.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Frees the LUT when the test ends, whatever happened.
struct LutGuard {
    SKzLut lut;
    ~LutGuard() { SKzLut::Free(lut); }
};

bool AllZero(const void* p, size_t n)
{
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; ++i)
        if (b[i])
            return false;
    return true;
}

bool MaskIsFull(SKzLut& lut)
{
    return lut.maskComp == CKzRangeMask::FULL_MASK && lut.maskComp.GetSize() == 129 && lut.maskComp.Get(0) &&
           lut.maskComp.Get(128) && !lut.maskComp.Get(129);
}

TEST(Lut, NewRecordIsEmpty)
{
    SKzLut lut;
    EXPECT_EQ(lut.pLut, nullptr);
    EXPECT_EQ(lut.uiInBpc + lut.uiInComp + lut.uiOutBpc + lut.uiOutComp, 0);
    EXPECT_EQ(lut.maskComp.GetCount(-1), 0u);
    EXPECT_EQ(lut.pOverExpColor, nullptr);
    EXPECT_EQ(lut.pUnderExpColor, nullptr);
    EXPECT_EQ(lut.pParametric, nullptr);
    EXPECT_EQ(lut.iPredefLut, -1);
    SKzLut::Free(lut);  // nothing to release
    SKzLut::Free(lut);
}

// Each layout: where the rows lie, zero fill, and single-block property.
struct LayoutCase {
    u8 inBits, inComps, outBits, outComps;
};

class LutLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(LutLayout, RowsLieInOneZeroedBlock)
{
    const LayoutCase c = GetParam();
    LutGuard g;
    ASSERT_EQ(SKzLut::Alloc(g.lut, c.inBits, c.inComps, c.outBits, c.outComps), 0);
    const size_t n = size_t(1) << c.inBits;
    const size_t e = size_t(c.outComps) * ((c.outBits + 7) / 8);
    EXPECT_EQ(g.lut.uiInBpc, c.inBits);
    EXPECT_EQ(g.lut.uiOutComp, c.outComps);
    EXPECT_TRUE(MaskIsFull(g.lut));
    ASSERT_NE(g.lut.pLut, nullptr);
    EXPECT_EQ(SKzLut::TableBlockBytes(g.lut), n * e * c.inComps);
    EXPECT_FALSE(SKzLut::IsShared(g.lut));
    if (c.inComps == 1 && c.outComps == 1) {
        EXPECT_TRUE(AllZero(g.lut.pLut, n * e));
    } else if (c.inComps == 1) {
        auto** rows = static_cast<uint8_t**>(g.lut.pLut);
        for (size_t v = 0; v < n; ++v)
            ASSERT_EQ(rows[v], rows[0] + v * e) << v;
        EXPECT_TRUE(AllZero(rows[0], n * e));
    } else {
        auto*** comps = static_cast<uint8_t***>(g.lut.pLut);
        uint8_t* block = comps[0][0];
        for (size_t k = 0; k < c.inComps; ++k) {
            ASSERT_EQ(comps[k], comps[0] + k * n);
            for (size_t v = 0; v < n; ++v)
                ASSERT_EQ(comps[k][v], block + k * n * e + v * e) << k << " " << v;
        }
        EXPECT_TRUE(AllZero(block, c.inComps * n * e));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, LutLayout,
                         ::testing::Values(LayoutCase{8, 1, 8, 1}, LayoutCase{16, 1, 16, 1}, LayoutCase{12, 1, 32, 1},
                                           LayoutCase{8, 1, 8, 3}, LayoutCase{12, 1, 16, 5},
                                           LayoutCase{12, 4, 8, 3}, LayoutCase{8, 2, 12, 1},
                                           LayoutCase{0, 3, 8, 3}));

TEST(Lut, AllocRefusals)
{
    struct Case {
        u8 inBits, inComps, outBits, outComps;
        int code;
    } cases[] = {
        {8, 1, 8, 0, -9}, {8, 0, 8, 1, -9}, {17, 1, 8, 1, -4}, {8, 1, 33, 1, -4}, {255, 1, 8, 3, -4},
    };
    for (const Case& c : cases) {
        SKzLut lut;
        lut.maskComp.Reset();
        lut.maskComp.Set(3, true);
        SKzLutExpColor fake{};
        lut.pOverExpColor = &fake;  // not released by Alloc, only forgotten
        lut.pUnderExpColor = &fake;
        EXPECT_EQ(SKzLut::Alloc(lut, c.inBits, c.inComps, c.outBits, c.outComps), c.code);
        EXPECT_EQ(lut.pLut, nullptr);
        EXPECT_EQ(lut.pOverExpColor, nullptr);
        EXPECT_EQ(lut.pUnderExpColor, nullptr);
        EXPECT_EQ(lut.pParametric, nullptr);
        EXPECT_TRUE(MaskIsFull(lut));
        SKzLut::Free(lut);
    }
}

TEST(Lut, ShortcutsGiveFlatAndColourLayouts)
{
    LutGuard a, b;
    ASSERT_EQ(SKzLut::AllocSingle(a.lut, 12, 8), 0);
    EXPECT_EQ(a.lut.uiInComp, 1);
    EXPECT_EQ(a.lut.uiOutComp, 1);
    EXPECT_EQ(SKzLut::TableBlockBytes(a.lut), 4096u);
    ASSERT_EQ(SKzLut::AllocColor(b.lut, 8, 8), 0);
    EXPECT_EQ(b.lut.uiOutComp, 3);
    auto** rows = static_cast<uint8_t**>(b.lut.pLut);
    EXPECT_EQ(rows[200], rows[0] + 600);
}

TEST(Lut, SharedLayoutAndReuse)
{
    LutGuard g;
    ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 3, 8, 3), 0);
    static_cast<uint8_t***>(g.lut.pLut)[2][255][2] = 7;
    // Same shape: kept with its contents.
    ASSERT_EQ(SKzLut::check_luts(g.lut, 8, 3, 8, 3), 0);
    EXPECT_EQ(static_cast<uint8_t***>(g.lut.pLut)[2][255][2], 7);
    // Another count: a zeroed table of the new shape.
    ASSERT_EQ(SKzLut::check_luts(g.lut, 8, 3, 8, 4), 0);
    EXPECT_EQ(g.lut.uiOutComp, 4);
    EXPECT_TRUE(AllZero(static_cast<uint8_t***>(g.lut.pLut)[0][0], SKzLut::TableBlockBytes(g.lut)));
    // The spectral form replaces an unshared table by the shared one...
    g.lut.maskComp.Reset();
    g.lut.maskComp.Set(1, true);
    ASSERT_EQ(SKzLut::ReinitParametric(g.lut), 0);
    SKzLutParametric* par = g.lut.pParametric;
    ASSERT_EQ(SKzLut::check_luts_spectral_ex(g.lut, 8, 3, 8, 4), 0);
    ASSERT_TRUE(SKzLut::IsShared(g.lut));
    auto*** comps = static_cast<uint8_t***>(g.lut.pLut);
    EXPECT_EQ(comps[0], comps[2]);
    EXPECT_EQ(comps[0][9], comps[0][0] + 36);
    EXPECT_EQ(SKzLut::TableBlockBytes(g.lut), 256u * 4);
    // ... which Free released with the parametric block; the mask is kept.
    EXPECT_EQ(g.lut.pParametric, nullptr);
    (void)par;
    EXPECT_TRUE(g.lut.maskComp.Get(1));
    EXPECT_FALSE(g.lut.maskComp.Get(0));
    comps[1][5][3] = 9;
    ASSERT_EQ(SKzLut::check_luts_spectral_ex(g.lut, 8, 3, 8, 4), 0);
    EXPECT_EQ(static_cast<uint8_t***>(g.lut.pLut)[2][5][3], 9);
    // check_luts turns it back into the unshared layout.
    ASSERT_EQ(SKzLut::check_luts(g.lut, 8, 3, 8, 4), 0);
    EXPECT_FALSE(SKzLut::IsShared(g.lut));
    EXPECT_TRUE(MaskIsFull(g.lut));
}

TEST(Lut, OneInputLutIsKeptOnlyByTheUnsharedCheck)
{
    LutGuard g;
    ASSERT_EQ(SKzLut::AllocColor(g.lut, 8, 8), 0);
    static_cast<uint8_t**>(g.lut.pLut)[1][0] = 5;
    ASSERT_EQ(SKzLut::check_luts(g.lut, 8, 1, 8, 3), 0);
    EXPECT_EQ(static_cast<uint8_t**>(g.lut.pLut)[1][0], 5);
    ASSERT_EQ(SKzLut::check_luts_spectral_ex(g.lut, 8, 1, 8, 3), 0);
    EXPECT_EQ(static_cast<uint8_t**>(g.lut.pLut)[1][0], 0);
    EXPECT_EQ(static_cast<uint8_t**>(g.lut.pLut)[1], static_cast<uint8_t**>(g.lut.pLut)[0] + 3);
}

TEST(Lut, CustomSpectralKeepsParametricOnlyForTheSameCount)
{
    LutGuard g;
    g.lut.uiInComp = 4;
    ASSERT_EQ(SKzLut::ReinitParametric(g.lut), 0);
    SKzLutParametric* par = g.lut.pParametric;
    ASSERT_NE(par, nullptr);
    ASSERT_EQ(SKzLut::CustomSpectralLutAlloc(g.lut, 8, 4, 8, 3), 0);
    EXPECT_EQ(g.lut.pParametric, par);
    SKzLut::Free(g.lut);
    EXPECT_EQ(g.lut.pParametric, nullptr);
    ASSERT_EQ(SKzLut::ReinitParametric(g.lut), 0);
    // Five inputs: the four-record block would be read past its end.
    ASSERT_EQ(SKzLut::CustomSpectralLutAlloc(g.lut, 8, 5, 8, 3), 0);
    EXPECT_EQ(g.lut.pParametric, nullptr);
    SKzLut::Free(g.lut);
    EXPECT_EQ(SKzLut::CustomSpectralLutAlloc(g.lut, 8, 0, 8, 3), -9);
    EXPECT_EQ(g.lut.pLut, nullptr);
}

TEST(Lut, FreeReleasesEverythingButKeepsCounts)
{
    SKzLut lut;
    ASSERT_EQ(SKzLut::Alloc(lut, 12, 4, 8, 3), 0);
    lut.pOverExpColor = static_cast<SKzLutExpColor*>(std::calloc(1, SKzLut::kExpColorBytes));
    lut.pUnderExpColor = static_cast<SKzLutExpColor*>(std::calloc(1, SKzLut::kExpColorBytes));
    ASSERT_EQ(SKzLut::ReinitParametric(lut), 0);
    lut.iPredefLut = 4;
    SKzLut::Free(lut);  // the sanitizer preset reports anything left
    EXPECT_EQ(lut.pLut, nullptr);
    EXPECT_EQ(lut.pOverExpColor, nullptr);
    EXPECT_EQ(lut.pUnderExpColor, nullptr);
    EXPECT_EQ(lut.pParametric, nullptr);
    EXPECT_EQ(lut.uiInComp, 4);
    EXPECT_EQ(lut.iPredefLut, 4);
    SKzLut::Free(lut);
}

TEST(Lut, CopyTableMaskAndParametric)
{
    LutGuard s, d;
    ASSERT_EQ(SKzLut::Alloc(s.lut, 8, 2, 8, 3), 0);
    ASSERT_EQ(SKzLut::Alloc(d.lut, 8, 2, 8, 3), 0);
    auto*** sc = static_cast<uint8_t***>(s.lut.pLut);
    for (int k = 0; k < 2; ++k)
        for (int v = 0; v < 256; ++v)
            for (int o = 0; o < 3; ++o)
                sc[k][v][o] = uint8_t(k * 31 + v * 7 + o);
    s.lut.maskComp.Reset();
    s.lut.maskComp.Set(1, true);
    ASSERT_EQ(SKzLut::ReinitParametric(s.lut), 0);
    s.lut.pParametric[0] = {1, 2, 3, 0x00112233};
    s.lut.pParametric[1] = {4, 5, 6, 0x00445566};
    auto* over = static_cast<SKzLutExpColor*>(std::calloc(1, SKzLut::kExpColorBytes));
    d.lut.pOverExpColor = over;
    d.lut.iPredefLut = 3;
    SKzLut::Copy(d.lut, s.lut);
    auto*** dc = static_cast<uint8_t***>(d.lut.pLut);
    EXPECT_EQ(std::memcmp(dc[0][0], sc[0][0], 2 * 256 * 3), 0);
    EXPECT_EQ(d.lut.maskComp, s.lut.maskComp);
    ASSERT_NE(d.lut.pParametric, nullptr);
    EXPECT_NE(d.lut.pParametric, s.lut.pParametric);
    EXPECT_EQ(d.lut.pParametric[1].dGamma, 6);
    EXPECT_EQ(d.lut.pParametric[1].uiColor, 0x00445566u);
    EXPECT_EQ(d.lut.pOverExpColor, over);
    EXPECT_EQ(d.lut.iPredefLut, 3);
    // A source without a parametric block removes the destination's.
    SKzLut::FreeParametric(s.lut);
    SKzLut::Copy(d.lut, s.lut);
    EXPECT_EQ(d.lut.pParametric, nullptr);
}

TEST(Lut, CopyRefusesTablesThatDoNotHoldTheSource)
{
    // A shared destination holds one table; an unshared source holds three.
    LutGuard s, d, small;
    ASSERT_EQ(SKzLut::Alloc(s.lut, 8, 3, 8, 3), 0);
    ASSERT_EQ(SKzLut::CustomSpectralLutAlloc(d.lut, 8, 3, 8, 3), 0);
    std::memset(static_cast<uint8_t***>(s.lut.pLut)[0][0], 0xAB, 3 * 256 * 3);
    s.lut.maskComp.Reset();
    SKzLut::Copy(d.lut, s.lut);
    EXPECT_TRUE(AllZero(static_cast<uint8_t***>(d.lut.pLut)[0][0], 256 * 3));
    EXPECT_EQ(d.lut.maskComp.GetSize(), 0u);  // untouched: never given a mask
    // Other counts, or no destination table: nothing happens.
    ASSERT_EQ(SKzLut::Alloc(small.lut, 8, 3, 8, 1), 0);
    SKzLut::Copy(small.lut, s.lut);
    EXPECT_TRUE(MaskIsFull(small.lut));
    SKzLut empty;
    SKzLut::Copy(empty, s.lut);
    EXPECT_EQ(empty.pLut, nullptr);
    // A shared source copies its single table into a shared destination.
    LutGuard s2;
    ASSERT_EQ(SKzLut::CustomSpectralLutAlloc(s2.lut, 8, 3, 8, 3), 0);
    static_cast<uint8_t***>(s2.lut.pLut)[0][255][2] = 77;
    SKzLut::Copy(d.lut, s2.lut);
    EXPECT_EQ(static_cast<uint8_t***>(d.lut.pLut)[1][255][2], 77);
}

TEST(Lut, ReinitParametricGivesOneRecordPerInput)
{
    LutGuard g;
    ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 5, 8, 3), 0);
    ASSERT_EQ(SKzLut::ReinitParametric(g.lut), 0);
    ASSERT_NE(g.lut.pParametric, nullptr);
    for (int i = 0; i < 5; ++i)  // the sanitizer preset catches a short block
        g.lut.pParametric[i].uiColor = 0x00FFFFFF;
    ASSERT_EQ(SKzLut::ReinitParametric(g.lut), 0);
    SKzLut::FreeParametric(g.lut);
    EXPECT_EQ(g.lut.pParametric, nullptr);
}

} // namespace
