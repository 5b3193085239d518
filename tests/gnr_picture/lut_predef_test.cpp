// Predefined palettes: exported tables, registry, look-ups and palette LUTs.
#include "gnr_picture/CKzPredefLUTs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "lut_reference.inc"

namespace {

struct LutGuard {
    SKzLut lut;
    ~LutGuard() { SKzLut::Free(lut); }
};

void Init() { ASSERT_EQ(SKzLut::InitPredefLuts(), 0); }

const u8* ExportedTables[] = {nullptr,          CA_Rainbow_Luts, CA_Iron_Luts,   GreenFire_Luts,
                              GreenFireBlue_Luts, RedFire_Luts,    RedHot_Luts,    MagentaHot_Luts,
                              Brown_Luts,       LemonHot_Luts,   YellowPale_Luts, CA_RainbowContrast_Luts};

TEST(LutPredefThreads, ConcurrentInitFillsOnce)
{
    std::vector<std::thread> threads;
    std::vector<int> results(8, -1);
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] { results[size_t(t)] = SKzLut::InitPredefLuts(); });
    for (auto& th : threads)
        th.join();
    for (int r : results)
        EXPECT_EQ(r, 0);
    EXPECT_EQ(SKzLut::GetPredefLutsCount(), 13u);
}

TEST(LutPredef, RegistryNamesIdsAndTables)
{
    Init();
    const std::vector<const u8*> before = [] {
        std::vector<const u8*> t;
        for (auto* e : SKzLut::vecPredefLuts)
            t.push_back(e->pTable);
        return t;
    }();
    Init();  // a second call changes nothing
    ASSERT_EQ(SKzLut::GetPredefLutsCount(), 13u);
    const wchar_t* names[] = {L"Default",   L"Rainbow",     L"Iron",        L"Green Fire",       L"Green Fire Blue",
                              L"Red Fire",  L"Red Hot",     L"Magenta Hot", L"Brown",            L"Lemon Hot",
                              L"Yellow Pale", L"Rainbow Contrast", L"Rainbow Dark"};
    for (u32 i = 0; i < 13; ++i) {
        SCOPED_TRACE(i);
        const auto* e = SKzLut::vecPredefLuts[i];
        EXPECT_EQ(int(e->eId), int(i));
        EXPECT_EQ(e->pTable, before[i]);
        CKzStringW name;
        ASSERT_EQ(SKzLut::GetPredefLutDescr(name, i), 0);
        EXPECT_EQ(std::wstring(name), names[i]);
        if (i >= 1 && i <= 11)
            EXPECT_EQ(e->pTable, ExportedTables[i]);  // the registry points at the exported tables
        else
            EXPECT_NE(e->pTable, nullptr);
        EXPECT_NE(e->pTable, Custom_Luts);
    }
}

TEST(LutPredef, IndexBeyondRegistryIsRefusedWithoutThrowing)
{
    Init();
    CKzStringW name(L"kept");
    for (u32 index : {13u, 14u, 255u, 0xFFFFFFFFu}) {
        EXPECT_EQ(SKzLut::GetPredefLutDescr(name, index), -6);
        EXPECT_EQ(std::wstring(name), L"kept");
        LutGuard g;
        ASSERT_EQ(SKzLut::AllocColor(g.lut, 8, 8), 0);
        EXPECT_EQ(SKzLut::CreatePredefLut(g.lut, index), -6);
    }
    // A palette without table is a grey ramp, positions and components clamped.
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntryComp(13, 77, 1), 77u);
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntryComp(-1, 300, 0), 255u);
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntryComp(1, 0, 7), 150u);  // comp 7 reads blue
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntryComp(1, 1000, 0), 255u);  // entry 255 of Rainbow
}

TEST(LutPredef, PalettesMatchReference)
{
    Init();
    for (int p = 0; p < 13; ++p) {
        SCOPED_TRACE(p);
        const u8* t = SKzLut::vecPredefLuts[size_t(p)]->pTable;
        for (int i = 0; i < 768; ++i)
            ASSERT_EQ(int(t[i]), int(kRefPalettes[p][i])) << "entry " << i / 3 << " channel " << i % 3;
        for (u32 e = 0; e < 256; ++e)
            for (u32 c = 0; c < 3; ++c)
                ASSERT_EQ(CKzPredefLUTs::GetLUTEntryComp(p, e, c), kRefPalettes[p][3 * e + c]);
    }
}

// Entries the palette tables are defined by (red, green, blue).
TEST(LutPredef, StatedEntries)
{
    Init();
    struct Row {
        const u8* table;
        int entry;
        u8 r, g, b;
    };
    const u8* dark = SKzLut::vecPredefLuts[12]->pTable;
    const u8* grey = SKzLut::vecPredefLuts[0]->pTable;
    const Row rows[] = {
        {CA_RainbowContrast_Luts, 64, 0, 255, 207}, {CA_RainbowContrast_Luts, 255, 255, 63, 255},
        {RedHot_Luts, 128, 255, 133, 0},            {YellowPale_Luts, 255, 255, 255, 204},
        {MagentaHot_Luts, 192, 255, 102, 255},      {GreenFireBlue_Luts, 64, 0, 85, 170},
        {RedFire_Luts, 0, 0, 0, 31},                {RedFire_Luts, 64, 146, 0, 210},
        {GreenFire_Luts, 64, 0, 153, 153},          {LemonHot_Luts, 192, 255, 255, 65},
        {Brown_Luts, 0, 9, 2, 2},                   {Brown_Luts, 255, 253, 246, 238},
        {CA_Iron_Luts, 128, 208, 15, 0},            {CA_Rainbow_Luts, 0, 99, 5, 150},
        {CA_Rainbow_Luts, 20, 63, 27, 174},         {CA_Rainbow_Luts, 192, 193, 155, 2},
        {dark, 0, 0, 0, 0},                         {dark, 1, 3, 1, 8},
        {dark, 10, 31, 13, 87},                     {dark, 19, 59, 25, 165},
        {dark, 20, 63, 27, 174},                    {dark, 128, 74, 210, 34},
        {grey, 77, 77, 77, 77},                     {Custom_Luts, 200, 200, 200, 200},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.entry);
        EXPECT_EQ(r.table[3 * r.entry], r.r);
        EXPECT_EQ(r.table[3 * r.entry + 1], r.g);
        EXPECT_EQ(r.table[3 * r.entry + 2], r.b);
    }
}

TEST(LutPredef, LutEntryPackingMatchesReference)
{
    Init();
    for (const RefLutEntry& c : kRefLutEntries) {
        SCOPED_TRACE(testing::Message() << c.n << " " << c.value << "/" << c.range << " max " << c.max);
        EXPECT_EQ(CKzPredefLUTs::GetLUTEntry(c.n, c.value, c.range), c.packed);
        EXPECT_EQ(CKzPredefLUTs::GetLUTEntry(c.n, c.value, c.range, c.max), c.scaled);
    }
}

TEST(LutPredef, LutEntryExamples)
{
    Init();
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntry(1, 0, 256), 0x630596u);
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntry(0, 100, 1000), 0x191919u);
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntry(0, 255, 256, 65536), 0xFF00FF00FF00ull);
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntry(1, 0, 256, 256), 0x630596ull);
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntry(0, 5, 0), 0u);  // range 0: entry 0
    // Far beyond 2^24 the position must not wrap round in 32 bits.
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntry(0, 0x01000000u, 0x01000001u), 0xFFFFFFu);
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntry(0, 0x80000000u, 0xFFFFFFFFu), 0x808080u);
}

TEST(LutPredef, CreatePredefLutFillsBlueGreenRed)
{
    Init();
    struct Case {
        u8 inBits;
        bool byId;
        u32 index;
    };
    const Case cases[] = {{8, true, SKzLut::ePredefLutIron}, {8, false, 2}, {12, false, 12}, {1, false, 1},
                          {16, true, SKzLut::ePredefLutBrown}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.inBits) << " " << c.index);
        LutGuard g;
        ASSERT_EQ(SKzLut::AllocColor(g.lut, c.inBits, 8), 0);
        const int r = c.byId ? SKzLut::CreatePredefLutEx(g.lut, SKzLut::EKzPredefLut(c.index))
                             : SKzLut::CreatePredefLut(g.lut, c.index);
        ASSERT_EQ(r, 0);
        const size_t n = size_t(1) << c.inBits;
        u8** rows = static_cast<u8**>(g.lut.pLut);
        for (size_t v = 0; v < n; ++v) {
            const size_t e = v * 256 / n;
            const u8* ref = &kRefPalettes[c.index][3 * e];
            ASSERT_EQ(rows[v][0], ref[2]) << v;
            ASSERT_EQ(rows[v][1], ref[1]) << v;
            ASSERT_EQ(rows[v][2], ref[0]) << v;
        }
    }
    LutGuard g;
    ASSERT_EQ(SKzLut::AllocColor(g.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreatePredefLutEx(g.lut, SKzLut::ePredefLutIron), 0);
    const u8* e0 = static_cast<u8**>(g.lut.pLut)[0];
    const u8* e255 = static_cast<u8**>(g.lut.pLut)[255];
    EXPECT_EQ((std::vector<u8>{e0[0], e0[1], e0[2]}), (std::vector<u8>{0, 0, 40}));
    EXPECT_EQ((std::vector<u8>{e255[0], e255[1], e255[2]}), (std::vector<u8>{255, 255, 255}));
}

TEST(LutPredef, CreatePredefLutRefusesOtherShapes)
{
    Init();
    struct Shape {
        u8 inBits, inComps, outBits, outComps;
    };
    const Shape shapes[] = {{8, 1, 8, 1}, {8, 1, 16, 3}, {8, 2, 8, 3}, {8, 1, 8, 4}};
    for (const Shape& s : shapes) {
        LutGuard g;
        ASSERT_EQ(SKzLut::Alloc(g.lut, s.inBits, s.inComps, s.outBits, s.outComps), 0);
        const size_t bytes = SKzLut::TableBlockBytes(g.lut);
        EXPECT_EQ(SKzLut::CreatePredefLut(g.lut, 1), -4);
        EXPECT_EQ(SKzLut::CreatePredefLutEx(g.lut, SKzLut::ePredefLutRainbow), -4);
        EXPECT_GT(bytes, 0u);
    }
    SKzLut empty;
    empty.uiInBpc = 8, empty.uiInComp = 1, empty.uiOutBpc = 8, empty.uiOutComp = 3;  // no table
    EXPECT_EQ(SKzLut::CreatePredefLut(empty, 1), -4);
    LutGuard g;
    ASSERT_EQ(SKzLut::AllocColor(g.lut, 8, 8), 0);
    EXPECT_EQ(SKzLut::CreatePredefLutEx(g.lut, SKzLut::EKzPredefLut(13)), -9);
    EXPECT_EQ(SKzLut::CreatePredefLutEx(g.lut, SKzLut::EKzPredefLut(-1)), -9);
}

TEST(LutPredef, CustomPaletteRoundTripsAndStaysOutOfRegistry)
{
    Init();
    u8 saved[768];
    CKzPredefLUTs::GetCustomLUTs(saved);
    u8 mine[768];
    for (int i = 0; i < 768; ++i)
        mine[i] = u8(i * 7 + 3);
    SKzLut::SetCustomLut(mine);
    u8 back[768] = {};
    CKzPredefLUTs::GetCustomLUTs(back);
    EXPECT_EQ(std::memcmp(back, mine, 768), 0);
    for (int p = 0; p < 13; ++p)
        EXPECT_EQ(std::memcmp(SKzLut::vecPredefLuts[size_t(p)]->pTable, kRefPalettes[p], 768), 0) << p;
    CKzPredefLUTs::SetCustomLUTs(saved);
    CKzPredefLUTs::GetCustomLUTs(back);
    EXPECT_EQ(std::memcmp(back, saved, 768), 0);
    CKzPredefLUTs::SetCustomLUTs(nullptr);  // ignored
    CKzPredefLUTs::GetCustomLUTs(nullptr);
}

TEST(LutPredef, ChangingAnExportedTableChangesTheRegisteredPalette)
{
    Init();
    const u8 old = CA_Iron_Luts[3 * 10];
    CA_Iron_Luts[3 * 10] = u8(old ^ 0x55);
    EXPECT_EQ(CKzPredefLUTs::GetLUTEntryComp(SKzLut::ePredefLutIron, 10, 0), u32(old ^ 0x55));
    CA_Iron_Luts[3 * 10] = old;
}

}  // namespace
