// Tone-curve builders: reference tables, the stated examples, layouts and
// refusals.
#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/SKzLut.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "lut_reference.inc"

namespace {

struct LutGuard {
    SKzLut lut;
    ~LutGuard() { SKzLut::Free(lut); }
};

kz_result Build(SKzLut& lut, int kind, u8 comp, int x0, int y0, int x1, int y1, double g)
{
    switch (kind) {
    case 0: return SKzLut::CreateLinearTable(lut, comp, x0, y0, x1, y1);
    case 1: return SKzLut::CreateLinearTable2(lut, comp, x0, y0, x1, y1);
    case 2: return SKzLut::CreateGammaTable(lut, comp, x0, y0, x1, y1, g);
    case 3: return SKzLut::CreateGammaTable2(lut, comp, x0, y0, x1, y1, g);
    case 4: return SKzLut::CreateLogaritmicTable_1_1(lut, comp, x0, y0, x1, y1);
    default: return SKzLut::CreateExpTable_1_1(lut, comp, x0, y0, x1, y1);
    }
}

std::vector<u32> FlatValues(const SKzLut& lut)
{
    const size_t n = size_t(1) << lut.uiInBpc;
    std::vector<u32> out(n);
    for (size_t v = 0; v < n; ++v)
        out[v] = lut.uiOutBpc > 8 ? static_cast<const u16*>(lut.pLut)[v] : static_cast<const u8*>(lut.pLut)[v];
    return out;
}

u64 Fnv(const std::vector<u32>& values)
{
    u64 h = 0xcbf29ce484222325ull;
    for (u32 x : values)
        h = (h ^ x) * 0x100000001b3ull;
    return h;
}

TEST(LutTone, EveryEntryMatchesReference)
{
    for (const RefTone& c : kRefTones) {
        SCOPED_TRACE(testing::Message() << "kind " << c.kind << " bits " << c.inBits << "/" << c.outBits << " window "
                                        << c.x0 << "," << c.y0 << " - " << c.x1 << "," << c.y1 << " g " << c.gamma);
        LutGuard g;
        ASSERT_EQ(SKzLut::AllocSingle(g.lut, u8(c.inBits), u8(c.outBits)), 0);
        ASSERT_EQ(Build(g.lut, c.kind, 0, c.x0, c.y0, c.x1, c.y1, c.gamma), 0);
        const std::vector<u32> t = FlatValues(g.lut);
        EXPECT_EQ(t.front(), c.first);
        EXPECT_EQ(t[t.size() / 2], c.mid);
        EXPECT_EQ(t.back(), c.last);
        EXPECT_EQ(Fnv(t), c.hash);
    }
}

// The stated examples on flat 8-bit tables: {entry, value} pairs.
TEST(LutTone, StatedExamples)
{
    struct Example {
        int kind, x0, y0, x1, y1;
        double g;
        std::vector<std::pair<int, u32>> entries;
    };
    const Example examples[] = {
        {0, 64, 0, 192, 255, 1, {{0, 0}, {63, 0}, {64, 0}, {65, 1}, {128, 127}, {191, 253}, {192, 255}, {255, 255}}},
        {1, 64, 0, 192, 255, 1, {{63, 0}, {191, 253}, {192, 0}, {255, 0}}},
        // The gamma-1 drop: at x1 = 255 the ramp is the identity, which the
        // rounded reciprocal turns into 32 at 33.
        {2, 0, 0, 255, 255, 1, {{33, 32}, {34, 34}}},
        {3, 10, 0, 20, 255, 1, {{9, 0}, {0, 0}, {20, 255}, {21, 0}, {255, 0}}},
        {4, 0, 0, 256, 255, 1, {{0, 0}, {1, 31}, {2, 50}, {100, 212}, {254, 254}, {255, 254}}},
        {5, 0, 0, 256, 255, 1, {{0, 0}, {4, 0}, {100, 7}, {200, 76}, {255, 255}}},
        {5, 0, 9, 256, 9, 1, {{0, 0}, {100, 0}, {255, 0}}},  // y1 = y0: ramp entries 0
    };
    for (const Example& e : examples) {
        SCOPED_TRACE(e.kind);
        LutGuard g;
        ASSERT_EQ(SKzLut::AllocSingle(g.lut, 8, 8), 0);
        ASSERT_EQ(Build(g.lut, e.kind, 0, e.x0, e.y0, e.x1, e.y1, e.g), 0);
        const std::vector<u32> t = FlatValues(g.lut);
        for (auto [entry, value] : e.entries)
            EXPECT_EQ(t[size_t(entry)], value) << "entry " << entry;
    }
    // The 256-wide gamma window gives 32 at 34 by the formula.
    LutGuard g;
    ASSERT_EQ(SKzLut::AllocSingle(g.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreateGammaTable(g.lut, 0, 0, 0, 256, 255, 1.0), 0);
    EXPECT_EQ(FlatValues(g.lut)[34], 32u);
}

TEST(LutTone, RefusalsLeaveTheTableUnchanged)
{
    struct Refusal {
        int kind;
        u8 inBits, inComps, outBits, outComps, comp;
        int x0, x1;
    };
    const Refusal cases[] = {
        {0, 8, 1, 8, 1, 0, 50, 50},  {1, 8, 1, 8, 1, 0, 60, 50},   {2, 8, 1, 8, 1, 0, 5, 5},
        {3, 8, 1, 8, 1, 0, 9, 2},    {4, 8, 1, 8, 3, 0, 0, 256},   {5, 8, 1, 8, 3, 255, 0, 256},
        {2, 8, 4, 8, 1, 4, 0, 256},  {2, 8, 4, 8, 1, 100, 0, 256}, {0, 8, 4, 8, 1, 0, 0, 256},
        {3, 8, 4, 8, 1, 255, 0, 256}, {0, 8, 2, 8, 2, 0, 0, 256},  {2, 8, 1, 24, 1, 0, 0, 256},
        {4, 8, 1, 8, 1, 0, 0, 0},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(testing::Message() << c.kind << " " << int(c.inComps) << "x" << int(c.outComps) << " comp "
                                        << int(c.comp));
        LutGuard g;
        ASSERT_EQ(SKzLut::Alloc(g.lut, c.inBits, c.inComps, c.outBits, c.outComps), 0);
        const size_t bytes = SKzLut::TableBlockBytes(g.lut);
        u8* block = c.inComps > 1 ? static_cast<u8***>(g.lut.pLut)[0][0]
                    : c.outComps > 1 ? static_cast<u8**>(g.lut.pLut)[0]
                                     : static_cast<u8*>(g.lut.pLut);
        std::memset(block, 0x5A, bytes);
        EXPECT_EQ(Build(g.lut, c.kind, c.comp, c.x0, 0, c.x1, 255, 1.0), -4);
        for (size_t i = 0; i < bytes; ++i)
            ASSERT_EQ(block[i], 0x5A) << i;
    }
    SKzLut empty;  // no table
    empty.uiInBpc = 8, empty.uiInComp = 1, empty.uiOutBpc = 8, empty.uiOutComp = 1;
    EXPECT_EQ(SKzLut::CreateLinearTable(empty, 0, 0, 0, 256, 255), -4);
}

TEST(LutTone, ComponentSelection)
{
    // Row-pointer LUT with three outputs: comp 1 fills the middle column only;
    // comp 3 and 255 fill every column.
    for (u8 comp : {u8(0), u8(1), u8(2), u8(3), u8(255)}) {
        SCOPED_TRACE(int(comp));
        LutGuard g;
        ASSERT_EQ(SKzLut::AllocColor(g.lut, 8, 16), 0);
        u16* block = reinterpret_cast<u16*>(static_cast<u8**>(g.lut.pLut)[0]);
        std::fill(block, block + 3 * 256, u16(0xABCD));
        ASSERT_EQ(SKzLut::CreateLinearTable(g.lut, comp, 0, 0, 256, 256), 0);
        for (int v = 0; v < 256; ++v)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(block[3 * v + c], (comp >= 3 || comp == c) ? u16(v) : u16(0xABCD)) << v << " " << c;
    }
    // Per-component, one output: comp 255 fills all four tables, comp 2 one.
    for (u8 comp : {u8(2), u8(255)}) {
        LutGuard g;
        ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 4, 8, 1), 0);
        u8*** comps = static_cast<u8***>(g.lut.pLut);
        ASSERT_EQ(SKzLut::CreateGammaTable(g.lut, comp, 0, 0, 255, 255, 2.0), 0);
        for (int k = 0; k < 4; ++k) {
            const bool filled = comp == 255 || comp == k;
            EXPECT_EQ(comps[k][255][0], filled ? 255 : 0) << k;
            EXPECT_EQ(comps[k][128][0], filled ? 64 : 0) << k;
        }
    }
}

TEST(LutTone, WideLinearRampClampsToOutputRange)
{
    // Equal 16-bit depths: the ramp may reach 65536, which a word would store
    // as 0; it is held at 65535.
    LutGuard g;
    ASSERT_EQ(SKzLut::AllocSingle(g.lut, 16, 16), 0);
    ASSERT_EQ(SKzLut::CreateLinearTable(g.lut, 0, 0, 0, 65535, 65536 * 2), 0);
    const std::vector<u32> t = FlatValues(g.lut);
    EXPECT_EQ(t[65534], 65535u);
    EXPECT_EQ(t[65535], 65536u & 0xFFFF);  // the above region stores y1's low word
    EXPECT_EQ(t[1000], 2000u);
}

SKzHisto MakeHisto(std::vector<u64>& counts, std::vector<void*>& rows, u32 bits, u32 comps, u32 counter)
{
    SKzHisto h{};
    h.pHistData = counts.data();
    rows.resize(comps);
    for (u32 c = 0; c < comps; ++c)
        rows[c] = reinterpret_cast<u8*>(counts.data()) + size_t(c) * (size_t(counter) << bits);
    h.ppHistRows = rows.data();
    h.uiCounterSize = counter;
    h.uiHistComp = comps;
    h.uiHistBpc = bits;
    return h;
}

TEST(LutTone, Equalising)
{
    std::vector<u64> counts(256, 0);
    std::vector<void*> rows;
    auto* c32 = reinterpret_cast<u32*>(counts.data());
    c32[100] = 1000;
    SKzHisto h = MakeHisto(counts, rows, 8, 1, 4);
    LutGuard g;
    ASSERT_EQ(SKzLut::AllocSingle(g.lut, 8, 8), 0);
    std::memset(g.lut.pLut, 0x77, 256);
    ASSERT_EQ(SKzLut::CreateEqualizingTable_1_1(g.lut, 0, &h), 0);
    std::vector<u32> t = FlatValues(g.lut);
    for (int v = 0; v <= 100; ++v)
        EXPECT_EQ(t[size_t(v)], 0u) << v;
    for (int v = 101; v <= 254; ++v)
        EXPECT_EQ(t[size_t(v)], 0x77u) << v;
    EXPECT_EQ(t[255], 255u);

    // Two equal bins with 64-bit counters, into column 1 of a colour LUT.
    std::vector<u64> c64(3 * 256, 0);
    c64[256 + 10] = 1ull << 40;
    c64[256 + 200] = 1ull << 40;
    SKzHisto h3 = MakeHisto(c64, rows, 8, 3, 8);
    LutGuard col;
    ASSERT_EQ(SKzLut::AllocColor(col.lut, 8, 8), 0);
    ASSERT_EQ(SKzLut::CreateEqualizingTable_1_1(col.lut, 1, &h3), 0);
    u8** r = static_cast<u8**>(col.lut.pLut);
    EXPECT_EQ(r[10][1], 0);
    EXPECT_EQ(r[11][1], 128);
    EXPECT_EQ(r[200][1], 128);
    EXPECT_EQ(r[255][1], 255);
    EXPECT_EQ(r[11][0], 0);  // other columns untouched
    EXPECT_EQ(SKzLut::CreateEqualizingTable_1_1(col.lut, 3, &h3), -4);

    // No counts: identity.
    std::vector<u64> none(256, 0);
    SKzHisto h0 = MakeHisto(none, rows, 8, 1, 8);
    ASSERT_EQ(SKzLut::CreateEqualizingTable_1_1(g.lut, 0, &h0), 0);
    t = FlatValues(g.lut);
    for (u32 v = 0; v < 256; ++v)
        ASSERT_EQ(t[v], v);

    // Refusals.
    LutGuard wide;
    ASSERT_EQ(SKzLut::AllocSingle(wide.lut, 12, 12), 0);
    EXPECT_EQ(SKzLut::CreateEqualizingTable_1_1(wide.lut, 0, &h), -4);  // 8-bit histogram
    EXPECT_EQ(SKzLut::CreateEqualizingTable_1_1(g.lut, 0, nullptr), -4);
    SKzHisto bad = h;
    bad.uiCounterSize = 2;
    EXPECT_EQ(SKzLut::CreateEqualizingTable_1_1(g.lut, 0, &bad), -4);
}

TEST(LutTone, EqualisingMatchesReference)
{
    for (const RefEqualiser& c : kRefEqualiser) {
        SCOPED_TRACE(testing::Message() << "bits " << c.bits << " counter " << c.counterSize << " bins " << c.count);
        const size_t n = size_t(1) << c.bits;
        std::vector<u64> counts(n, 0);  // room for 8-byte counters; 4-byte ones use half
        u32* c32 = reinterpret_cast<u32*>(counts.data());
        for (unsigned k = 0; k < c.count; ++k) {
            const u64 bin = kRefEqBins[2 * (c.first + k)], value = kRefEqBins[2 * (c.first + k) + 1];
            if (c.counterSize == 8)
                counts[bin] = value;
            else
                c32[bin] = u32(value);
        }
        std::vector<void*> rows;
        SKzHisto h = MakeHisto(counts, rows, u32(c.bits), 1, u32(c.counterSize));
        LutGuard g;
        ASSERT_EQ(SKzLut::AllocSingle(g.lut, u8(c.bits), u8(c.bits)), 0);
        const u32 mask = c.bits > 8 ? 0xFFFF : 0xFF;
        for (size_t v = 0; v < n; ++v) {
            const u32 fill = (u32(v) * 37 + 11) & mask;
            if (c.bits > 8)
                static_cast<u16*>(g.lut.pLut)[v] = u16(fill);
            else
                static_cast<u8*>(g.lut.pLut)[v] = u8(fill);
        }
        ASSERT_EQ(SKzLut::CreateEqualizingTable_1_1(g.lut, 0, &h), 0);
        const std::vector<u32> t = FlatValues(g.lut);
        EXPECT_EQ(t[n / 2], c.mid);
        EXPECT_EQ(t.back(), c.last);
        EXPECT_EQ(Fnv(t), c.hash);
    }
}

// Real histograms shaped by CKzHistoAPI: a one-output LUT equalises by the
// first row of the block (the combined row of several components, not the row
// of component 0); a row-pointer LUT by the row of component comp.
TEST(LutTone, EqualisingPicksTheHistogramRow)
{
    struct Case {
        const char* name;
        unsigned comps, counterSize, bits, outputs;
        u8 comp;
        unsigned level;  // the single occupied bin of the row that must be read
    };
    const Case cases[] = {
        {"one component, 32-bit", 1, 4, 8, 1, 0, 50},
        {"three components, combined row, 32-bit", 3, 4, 8, 1, 0, 50},
        {"three components, combined row, 64-bit", 3, 8, 8, 1, 0, 50},
        {"two components, combined row, 12 bits", 2, 4, 12, 1, 0, 1000},
        {"three components, column 2 of a colour LUT", 3, 4, 8, 3, 2, 120},
        {"three components, column 0 of a colour LUT", 3, 8, 8, 3, 0, 90},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SKzHisto h;
        CKzHistoAPI::Init(&h);
        SKzPicBufDesc d{};
        d.uiWidth = d.uiHeight = 16;
        d.uiBpc = u8(c.bits);
        d.uiComp = c.comps;
        ASSERT_EQ(c.counterSize == 4 ? CKzHistoAPI::Reinit32(&h, &d) : CKzHistoAPI::Reinit64(&h, &d), 0);
        CKzHistoAPI::ResetToZero(&h);
        const size_t n = size_t(1) << c.bits;
        auto put = [&](void* row, size_t bin, u64 value) {
            if (c.counterSize == 4)
                static_cast<u32*>(row)[bin] = u32(value);
            else
                static_cast<u64*>(row)[bin] = value;
        };
        // Decoys elsewhere: every row but the wanted one counts at n - 10.
        put(h.pHistData, c.outputs == 1 ? c.level : n - 10, 1000);
        for (unsigned k = 0; k < c.comps && c.comps > 1; ++k)
            put(h.ppHistRows[k], c.outputs > 1 && k == c.comp ? c.level : n - 10, 1000);
        LutGuard g;
        if (c.outputs == 1)
            ASSERT_EQ(SKzLut::AllocSingle(g.lut, u8(c.bits), u8(c.bits)), 0);
        else
            ASSERT_EQ(SKzLut::AllocColor(g.lut, u8(c.bits), u8(c.bits)), 0);
        auto entry = [&](size_t v) -> u32 {
            if (c.outputs == 1)
                return c.bits > 8 ? static_cast<const u16*>(g.lut.pLut)[v] : static_cast<const u8*>(g.lut.pLut)[v];
            return static_cast<u8**>(g.lut.pLut)[v][c.comp];
        };
        // Fill every entry with 7 so that untouched entries show.
        if (c.outputs == 1)
            std::memset(g.lut.pLut, 7, n * (c.bits > 8 ? 2 : 1));
        else
            for (size_t v = 0; v < n; ++v)
                std::memset(static_cast<u8**>(g.lut.pLut)[v], 7, 3);
        ASSERT_EQ(SKzLut::CreateEqualizingTable_1_1(g.lut, c.comp, &h), 0);
        for (size_t v = 0; v <= c.level; ++v)
            ASSERT_EQ(entry(v), 0u) << v;
        EXPECT_EQ(entry(c.level + 1), c.bits > 8 ? 0x0707u : 7u);
        EXPECT_EQ(entry(n - 1), u32(n - 1));
        CKzHistoAPI::Free(&h);
    }
}

}  // namespace
