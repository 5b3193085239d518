// Auto-contrast: the range search, cuts of pictures into LUT parameters and
// contrast LUTs, and the stated examples.
#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzLutParam.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/SKzLutParam.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "display_lut_reference.inc"

namespace {

// A histogram over caller-held counters: rows of 2^bits 32-bit counters.
struct Histo {
    std::vector<u32> counts;
    std::vector<void*> rows;
    SKzHisto h{};
    Histo(unsigned bits, unsigned nrows) : counts(size_t(nrows) << bits, 0), rows(nrows)
    {
        for (unsigned r = 0; r < nrows; ++r) rows[r] = counts.data() + (size_t(r) << bits);
        h.pHistData = counts.data();
        h.ppHistRows = rows.data();
        h.uiCounterSize = 4;
        h.uiHistComp = nrows;
        h.uiHistBpc = bits;
    }
    u32& at(unsigned row, unsigned bin) { return counts[(size_t(row) << h.uiHistBpc) + bin]; }
};

struct Pic {
    SKzPicBuf p{};
    Pic(unsigned w, unsigned h, unsigned bits, unsigned comps)
    {
        CKzPicBufAPI::Init(&p);
        EXPECT_EQ(CKzPicBufAPI::Reinit(&p, w, h, 0, bits, comps, true), 0);
    }
    ~Pic() { CKzPicBufAPI::Free(&p); }
    u16* Row16(unsigned y) { return reinterpret_cast<u16*>(p.pData + size_t(y) * p.uiWidthBytes); }
    u8* Row(unsigned y) { return p.pData + size_t(y) * p.uiWidthBytes; }
};

struct Pic8 : Pic {
    Pic8(unsigned w, unsigned h, unsigned comps) : Pic(w, h, 8, comps) {}
};

struct LutGuard {
    SKzLut lut;
    ~LutGuard() { SKzLut::Free(lut); }
};

TEST(LutAutoContrast, RangeSearchExamples)
{
    struct Case {
        const char* what;
        std::vector<std::pair<unsigned, u32>> bins;  // bin, count (one row, 8 bits)
        bool everyBin4;
        unsigned low, high, middle;
    } cases[] = {
        {"1000 pixels at 100", {{100, 1000}}, false, 99, 100, 100},
        {"4 in every bin", {}, true, 2, 253, 128},
        {"everything in bin 0", {{0, 500}}, false, 0, 255, 0},
        {"everything in bin 255", {{255, 500}}, false, 0, 255, 255},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Histo h(8, 1);
        for (auto [b, n] : c.bins) h.at(0, b) = n;
        if (c.everyBin4)
            for (unsigned b = 0; b < 256; ++b) h.at(0, b) = 4;
        unsigned low = 7, high = 7, middle = 7, lowRow = 9, highRow = 9;
        ASSERT_EQ(CKzPicBufAPI::GetHistoRange(&h.h, 0, 1, &low, &high, &middle, 1.0, 1.0, &lowRow, &highRow), 0);
        EXPECT_EQ(low, c.low);
        EXPECT_EQ(high, c.high);
        EXPECT_EQ(middle, c.middle);
        EXPECT_EQ(lowRow, 0u);
        EXPECT_EQ(highRow, 0u);
        unsigned low2 = 0, high2 = 0;
        ASSERT_EQ(CKzPicBufAPI::GetHistoRange(&h.h, 0, 1, &low2, &high2, nullptr, 1.0, nullptr, nullptr), 0);
        EXPECT_EQ(low2, c.low);
        EXPECT_EQ(high2, c.high);
    }

    // Several rows: the first row to reach the count ends each search.
    Histo h(8, 3);
    h.at(0, 50) = 100;
    h.at(1, 20) = 100;
    h.at(2, 200) = 100;
    unsigned low, high, lowRow, highRow;
    ASSERT_EQ(CKzPicBufAPI::GetHistoRange(&h.h, 0, 3, &low, &high, nullptr, 1.0, 1.0, &lowRow, &highRow), 0);
    EXPECT_EQ(low, 20u);
    EXPECT_EQ(lowRow, 1u);
    EXPECT_EQ(high, 200u);
    EXPECT_EQ(highRow, 2u);

    // Refusals.
    EXPECT_EQ(CKzPicBufAPI::GetHistoRange(&h.h, 0, 3, nullptr, nullptr, &low, 1.0, 1.0, nullptr, nullptr), -9);
    EXPECT_EQ(CKzPicBufAPI::GetHistoRange(&h.h, 3, 3, &low, nullptr, nullptr, 1.0, 1.0, nullptr, nullptr), -9);
    EXPECT_EQ(CKzPicBufAPI::GetHistoRange(&h.h, 0, 4, &low, nullptr, nullptr, 1.0, 1.0, nullptr, nullptr), -9);
    EXPECT_EQ(CKzPicBufAPI::GetHistoRange(nullptr, 0, 1, &low, nullptr, nullptr, 1.0, 1.0, nullptr, nullptr), -9);
}

TEST(LutAutoContrast, OlderParameters)
{
    Histo h(8, 1);
    for (unsigned b = 0; b < 256; ++b) h.at(0, b) = 4;
    auto p = std::make_unique<SKzLutParam>();
    ASSERT_EQ(CKzPicBufAPI::AutoContrast(p.get(), &h.h, nullptr, true, true, true, 0.0, 1.0, 1.0), 0);
    EXPECT_EQ(p->uiMinSrc, u16(2.0 / 255 * 65535));
    EXPECT_EQ(p->uiMaxSrc, u16(253.0 / 255 * 65535));
    EXPECT_DOUBLE_EQ(p->dGammaSrc, 1.0057694653344036);

    // Without the low: 0; without the gamma, the current one limited.
    struct Case {
        double gamma, expect;
    } gammas[] = {{3.0, 2.0}, {0.2, 0.5}, {std::nan(""), 1.0}, {1.25, 1.25}};
    for (const Case& c : gammas) {
        p->dGammaSrc = c.gamma;
        ASSERT_EQ(CKzPicBufAPI::AutoContrast(p.get(), &h.h, nullptr, false, true, false, 0.0, 1.0, 1.0), 0);
        EXPECT_EQ(p->uiMinSrc, 0);
        EXPECT_EQ(p->dGammaSrc, c.expect);
    }
    // Float mode: the fractions land between the float range's ends, so
    // without the low the minimum stays at the range's start.
    auto f = std::make_unique<SKzLutParam>();
    f->bFloatSrc = true;
    f->fMinSrc = 10.0f;
    f->fMaxSrc = 110.0f;
    ASSERT_EQ(CKzPicBufAPI::AutoContrast(f.get(), &h.h, nullptr, false, true, false, 0.0, 1.0, 1.0), 0);
    EXPECT_EQ(f->fMinSrc, 10.0f);
    EXPECT_EQ(f->fMaxSrc, float(10.0 + 100.0 * (253.0 / 255)));
    // A given lows array with no high to search: nothing to search for.
    unsigned lows[1] = {30};
    EXPECT_EQ(CKzPicBufAPI::AutoContrast(p.get(), &h.h, lows, true, false, false, 0.0, 1.0, 1.0), -9);
    EXPECT_EQ(CKzPicBufAPI::AutoContrast(p.get(), &h.h, lows, true, true, false, 0.0, 1.0, 1.0), 0);
    EXPECT_EQ(p->uiMinSrc, u16(30.0 / 255 * 65535));
    // Lows above the high are held one step below it.
    unsigned big[1] = {254};
    EXPECT_EQ(CKzPicBufAPI::AutoContrast(p.get(), &h.h, big, true, true, true, 0.0, 1.0, 1.0), 0);
    EXPECT_EQ(p->uiMinSrc, u16(252.0 / 255 * 65535));
    EXPECT_GE(p->dGammaSrc, 0.5);
    EXPECT_LE(p->dGammaSrc, 2.0);

    // Per component.
    Histo h3(8, 3);
    for (unsigned r = 0; r < 3; ++r)
        for (unsigned b = 0; b < 256; ++b) h3.at(r, b) = 4;
    ASSERT_EQ(CKzPicBufAPI::AutoOneCompContrast(p.get(), 1, 3, &h3.h, true, true, true, 1.0, 1.0), 0);
    EXPECT_EQ(p->sCompLutParam[1].uiMinSrc, u16(2.0 / 255 * 65535));
    EXPECT_EQ(p->sCompLutParam[2].uiMaxSrc, u16(253.0 / 255 * 65535));
    EXPECT_EQ(p->sCompLutParam[0].uiMinSrc, 0);
    unsigned perComp[3] = {0, 10, 20};
    ASSERT_EQ(CKzPicBufAPI::AutoOneCompContrast(p.get(), 1, 3, &h3.h, perComp, true, true, false, 1.0, 1.0), 0);
    EXPECT_EQ(p->sCompLutParam[2].uiMinSrc, u16(20.0 / 255 * 65535));
    EXPECT_EQ(CKzPicBufAPI::AutoOneCompContrast(p.get(), 1, 3, nullptr, true, true, true, 1.0, 1.0), -9);
}

TEST(LutAutoContrast, ParameterClasses)
{
    Histo h(8, 3);
    for (unsigned b = 0; b < 256; ++b) h.at(0, b) = 4;
    h.at(1, 10) = 1024;
    h.at(2, 240) = 1024;
    unsigned sizes[2] = {1, 2};
    CKzLutParamMCH mch(2, 3, sizes, 12);
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrastMCH(&mch, &h.h, true, true, 1.0, 1.0), 0);
    EXPECT_EQ(mch.GetMin(0), unsigned(2.0 / 255 * 4095 + 0.5));
    EXPECT_EQ(mch.GetMax(0), unsigned(253.0 / 255 * 4095 + 0.5));
    EXPECT_EQ(mch.GetMin(1), unsigned(10.0 / 255 * 4095 + 0.5));  // rows 1 and 2 together
    EXPECT_EQ(mch.GetMax(1), unsigned(240.0 / 255 * 4095 + 0.5));
    EXPECT_EQ(CKzPicBufAPI::GetAutoContrastMCH(&mch, &h.h, false, false, 1.0, 1.0), -9);
    CKzLutParamMCH bare(2, 3, nullptr, 8);
    unsigned* own = nullptr;
    bare.GetComponentSizes(&own);
    ASSERT_NE(own, nullptr);
    CKzLutParamMCH none;
    EXPECT_EQ(CKzPicBufAPI::GetAutoContrastMCH(&none, &h.h, true, true, 1.0, 1.0), -9);

    CKzLutParamRGB rgb(8);
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrastRGB(&rgb, &h.h, true, true, 1.0, 1.0), 0);
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(rgb.GetMin(i), rgb.GetMin(0));
        EXPECT_EQ(rgb.GetMax(i), rgb.GetMax(0));
    }
    EXPECT_EQ(rgb.GetMin(0), 2u);
    EXPECT_EQ(rgb.GetMax(0), 253u);
    EXPECT_EQ(CKzPicBufAPI::GetAutoContrastRGB(&rgb, &h.h, false, false, 1.0, 1.0), -9);
}

TEST(LutAutoContrast, Pictures)
{
    // A 12-bit ramp picture of three components.
    Pic pic(64, 64, 12, 3);
    for (unsigned y = 0; y < 64; ++y)
        for (unsigned x = 0; x < 64; ++x)
            for (unsigned c = 0; c < 3; ++c) pic.Row16(y)[3 * x + c] = u16((y * 64 + x) >> c);
    unsigned lows[3], highs[3];
    EXPECT_EQ(CKzPicBufAPI::FindLowHighInHistogram(&pic.p, nullptr, nullptr, 1.0, 1.0), -4);
    EXPECT_EQ(CKzPicBufAPI::FindLowHighInHistogram(nullptr, lows, highs, 1.0, 1.0), -4);
    ASSERT_EQ(CKzPicBufAPI::FindLowHighInHistogram(&pic.p, lows, highs, 1.0, 1.0), 0);
    // 1 % of 4096 pixels: the first bin whose running count exceeds 41.
    EXPECT_EQ(lows[0], 41u);
    EXPECT_EQ(lows[2], 10u);
    EXPECT_EQ(highs[0], 4054u);
    EXPECT_EQ(highs[2], 1013u);

    // Full range without parameters: identity tables.
    LutGuard g;
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrast(nullptr, &g.lut, &pic.p, 1.0, 1.0, false, true), 0);
    ASSERT_EQ(g.lut.uiOutComp, 3);
    const u16* row = reinterpret_cast<const u16*>(static_cast<u8**>(g.lut.pLut)[0]);
    for (unsigned v = 0; v < 4096; v += 91) EXPECT_EQ(row[3 * v + 2], v);
    EXPECT_EQ(CKzPicBufAPI::GetAutoContrast(nullptr, nullptr, &pic.p, 1.0, 1.0, false, true), -9);
    // Full range with the combined range: identity tables as well.
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrast(nullptr, &g.lut, &pic.p, 1.0, 1.0, true, true), 0);
    row = reinterpret_cast<const u16*>(static_cast<u8**>(g.lut.pLut)[0]);
    for (unsigned v = 0; v < 4096; v += 91) EXPECT_EQ(row[3 * v + 1], v);
    auto whole = std::make_unique<SKzLutParam>();
    whole->uiMinSrc = 100;
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrast(whole.get(), nullptr, &pic.p, 1.0, 1.0, true, true), 0);
    EXPECT_EQ(whole->uiMinSrc, 0);
    EXPECT_EQ(whole->uiMaxSrc, 65535);

    // Into parameters: per component, then combined.
    auto p = std::make_unique<SKzLutParam>();
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrast(p.get(), nullptr, &pic.p, 1.0, 1.0, false, false), 0);
    EXPECT_EQ(p->uiMinSrc, 0);
    EXPECT_EQ(p->sCompLutParam[2].uiMinSrc, u16(lows[2] / 4095.0 * 65535));
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrast(p.get(), nullptr, &pic.p, 1.0, 1.0, true, false), 0);
    EXPECT_EQ(p->uiMinSrc, u16(lows[2] / 4095.0 * 65535));  // the smallest low
    EXPECT_EQ(p->uiMaxSrc, u16(highs[0] / 4095.0 * 65535));  // the largest high

    // A constant picture: the contrast LUT is at full level everywhere.
    Pic flat(16, 16, 12, 1);
    for (unsigned y = 0; y < 16; ++y)
        for (unsigned x = 0; x < 16; ++x) flat.Row16(y)[x] = 1000;
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrast(nullptr, &g.lut, &flat.p, 1.0, 1.0, false, false), 0);
    const u16* t = static_cast<const u16*>(g.lut.pLut);
    EXPECT_EQ(t[0], 4095);
    EXPECT_EQ(t[1000], 4095);
    EXPECT_EQ(t[4095], 4095);

    // Deeper than 16 bits: refused.
    for (unsigned bits : {17u, 32u}) {
        Pic deep(4, 4, bits, 1);
        EXPECT_EQ(CKzPicBufAPI::FindLowHighInHistogram(&deep.p, lows, highs, 1.0, 1.0), -2);
        EXPECT_EQ(CKzPicBufAPI::GetAutoContrast(p.get(), nullptr, &deep.p, 1.0, 1.0, false, false), -2);
    }
    // An empty picture.
    SKzPicBuf empty;
    CKzPicBufAPI::Init(&empty);
    EXPECT_NE(CKzPicBufAPI::GetAutoContrast(p.get(), nullptr, &empty, 1.0, 1.0, false, false), 0);
}

TEST(LutAutoContrast, RepeatableWithDirtyCounters)
{
    // The histograms a call builds are counted from zero: two runs agree
    // even when the allocator hands out memory full of garbage. The
    // autocontrast_garbage_memory test runs this with the allocator filling
    // every new block with 0xBE (and says so through VT5_GARBAGE_MALLOC);
    // without it, blocks of old counts are left where the next histogram
    // likely lives.
    if (const char* fill = std::getenv("VT5_GARBAGE_MALLOC")) {
        const size_t n = 3 * 4096 * 4;
        u8* probe = static_cast<u8*>(std::malloc(n));
        ASSERT_NE(probe, nullptr);
        const bool garbage = probe[0] == u8(std::atoi(fill)) && probe[n / 2] == u8(std::atoi(fill));
        std::free(probe);
        ASSERT_TRUE(garbage) << "the allocator does not fill new blocks";
    }
    auto litter = [] {
        std::vector<u32> junk(4 * 4096 + 64, 0xA5A5A5A5u);
        volatile u32 sink = junk[17];
        (void)sink;
    };
    // Values 1000 .. 1100 only: counters that did not start at 0 would
    // spread the cuts over the whole range.
    Pic pic(40, 30, 12, 3);
    for (unsigned y = 0; y < 30; ++y)
        for (unsigned x = 0; x < 120; ++x) pic.Row16(y)[x] = u16(1000 + (x * 37 + y * 11) % 101);
    unsigned sizes[3] = {1, 1, 1};
    unsigned colours[3] = {0x0000FF, 0x00FF00, 0xFF0000};
    std::vector<std::unique_ptr<SKzLutParam>> runs;
    std::vector<CKzLutParamSpectralTrueColor> spectral;
    std::vector<std::vector<u16>> tables, equalised;
    for (int run = 0; run < 2; ++run) {
        litter();
        runs.push_back(std::make_unique<SKzLutParam>());
        ASSERT_EQ(CKzPicBufAPI::GetAutoContrast(runs.back().get(), nullptr, &pic.p, 0.5, 0.5, false, false), 0);
        litter();
        LutGuard g;
        ASSERT_EQ(CKzPicBufAPI::GetAutoContrast(nullptr, &g.lut, &pic.p, 0.5, 0.5, false, false), 0);
        const u16* t = reinterpret_cast<const u16*>(static_cast<u8**>(g.lut.pLut)[0]);
        tables.emplace_back(t, t + 3 * 4096);
        litter();
        spectral.emplace_back(1, 3, 3, sizes, 12);
        ASSERT_EQ(CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&spectral.back(), colours, &pic.p, true, true, 0.5,
                                                                 0.5),
                  0);
        litter();
        Pic dst(40, 30, 12, 3);
        ASSERT_EQ(CKzPicBufAPI::Contrast(&dst.p, &pic.p, 1, 0, 0, 1.0), 0);
        equalised.emplace_back(dst.Row16(0), dst.Row16(0) + dst.p.uiSize / 2);
    }
    EXPECT_TRUE(runs[0]->CompareWith(*runs[1]));
    EXPECT_EQ(tables[0], tables[1]);
    EXPECT_TRUE(spectral[0].CompareWith(spectral[1]));
    EXPECT_EQ(equalised[0], equalised[1]);
    // The cuts are those of the picture.
    for (unsigned c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        EXPECT_GE(runs[0]->sCompLutParam[c].uiMinSrc, 1000 * 65535 / 4095);
        EXPECT_LE(runs[0]->sCompLutParam[c].uiMaxSrc, 1101 * 65535 / 4095);
        EXPECT_EQ(tables[0][3 * 999 + c], 0);
        EXPECT_EQ(tables[0][3 * 1101 + c], 4095);
    }
    EXPECT_GE(spectral[0].GetOffset(1), 1000 * 0.875);
    EXPECT_LE(spectral[0].GetGain(1), 4095.0 / 1000);
    // Equalised, the lowest value lands near the bottom, the highest at the top.
    u16 lowest = 4095, highest = 0;
    for (size_t i = 0; i < equalised[0].size(); ++i)
        if (i % (equalised[0].size() / 30) < 120) {
            lowest = std::min(lowest, equalised[0][i]);
            highest = std::max(highest, equalised[0][i]);
        }
    EXPECT_LT(lowest, 200);
    EXPECT_GT(highest, 3900);
}

TEST(LutAutoContrast, EndToEndMatchesReference)
{
    // A 12-bit frame of three channels: cuts from its histogram, display
    // LUTs from the cuts, true colour through the LUTs.
    Pic pic(kE2EWidth, kE2EHeight, 12, 3);
    for (unsigned y = 0; y < kE2EHeight; ++y)
        std::memcpy(pic.Row16(y), kE2EPicture + size_t(y) * kE2EWidth * 3, kE2EWidth * 3 * 2);
    SKzHisto h;
    CKzHistoAPI::Init(&h);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&h, &pic.p), 0);
    CKzHistoAPI::Calculate(&h, &pic.p, true);
    unsigned sizes[3] = {1, 1, 1};
    CKzLutParamMCH param(3, 3, sizes, 12);
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrastMCH(&param, &h, true, true, kE2ELowPercent, kE2EHighPercent), 0);
    CKzHistoAPI::Free(&h);
    for (unsigned k = 0; k < 3; ++k) {
        EXPECT_EQ(param.GetMin(k), kE2ECuts[k][0]) << k;
        EXPECT_EQ(param.GetMax(k), kE2ECuts[k][1]) << k;
    }
    LutGuard g;
    ASSERT_EQ(CKzPicBufAPI::CreateLutsMCH(&g.lut, &param, const_cast<unsigned*>(kE2EColours)), 0);
    std::vector<u8> out(size_t(kE2EWidth) * kE2EHeight * 3, 0xEE);
    ASSERT_EQ(CKzPicMemAPI::ConvertToTrueColor(out.data(), kE2EWidth * 3, pic.p.pData, 3, 12, pic.p.uiWidthBytes,
                                               kE2EWidth, kE2EWidth * kE2EHeight, &g.lut),
              0);
    size_t wrong = 0;
    for (size_t i = 0; i < out.size(); ++i) wrong += out[i] != kE2ETrueColour[i];
    EXPECT_EQ(wrong, 0u);
    EXPECT_EQ(0, std::memcmp(out.data(), kE2ETrueColour, out.size()));
}


TEST(LutAutoContrast, SpectralClasses)
{
    // Two spectral channels of one component and one ordinary channel, 8 bits.
    Pic8 pic(20, 10, 3);
    for (unsigned y = 0; y < 10; ++y)
        for (unsigned x = 0; x < 20; ++x) {
            u8* p = pic.Row(y) + 3 * x;
            p[0] = 0;                                   // spectral, black
            p[1] = 0;                                   // spectral, black
            p[2] = u8(x < 2 ? 230 : x < 18 ? 240 : 250);  // ordinary
        }
    unsigned sizes[3] = {1, 1, 1};
    unsigned colours[3] = {0x0000FF, 0x00FF00, 0xFFFFFF};
    CKzLutParamSpectralTrueColor t(2, 3, 3, sizes, 8);
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&t, colours, &pic.p, true, true, 5.0, 5.0), 0);
    EXPECT_EQ(t.GetGain(0), 50.0);  // renders black
    EXPECT_EQ(t.GetOffset(0), 0.0);
    EXPECT_DOUBLE_EQ(t.GetOffset(1), 230 * 0.875);  // 230 / 250 > 0.875
    EXPECT_DOUBLE_EQ(t.GetGain(1), 255.0 / 250);

    // No high cut (not asked for): gain 100000. An empty channel's cuts are
    // repaired to the full range: gain 1.
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&t, colours, &pic.p, true, false, 5.0, 5.0), 0);
    EXPECT_EQ(t.GetGain(1), 100000.0);
    EXPECT_EQ(t.GetOffset(1), 230.0);
    for (unsigned y = 0; y < 10; ++y)
        for (unsigned x = 0; x < 20; ++x) pic.Row(y)[3 * x + 2] = 0;
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&t, colours, &pic.p, true, true, 5.0, 5.0), 0);
    EXPECT_EQ(t.GetGain(1), 1.0);
    EXPECT_EQ(CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&t, colours, &pic.p, false, false, 5.0, 5.0), -9);

    // A bright spectral channel: 255 over the brightest rendered channel.
    for (unsigned y = 0; y < 10; ++y)
        for (unsigned x = 0; x < 20; ++x) pic.Row(y)[3 * x] = 200;
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&t, colours, &pic.p, true, true, 5.0, 5.0), 0);
    EXPECT_GT(t.GetGain(0), 1.0);
    EXPECT_LT(t.GetGain(0), 50.0);

    CKzLutParamSpectralCustomColor c(2, 2, 3, 3, sizes, 8);
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrastSpectralCustomColor(&c, &pic.p, true, true, 5.0, 5.0), 0);
    EXPECT_EQ(c.GetGain(0), c.GetGain(1));
    EXPECT_GT(c.GetGain(0), 1.0);

    unsigned groups[2] = {1, 1};
    CKzLutParamSpectralGrouped g(2, groups, 2, 3, 3, sizes, 8);
    g.SetColor(0, 0x0000FF);
    g.SetColor(1, 0x00FF00);
    ASSERT_EQ(CKzPicBufAPI::GetAutoContrastSpectralGrouped(&g, &pic.p, true, true, 5.0, 5.0), 0);
    EXPECT_EQ(g.GetGain(1), 2 * 50.0);  // group 1 renders black
    EXPECT_GT(g.GetGain(0), 2.0);

    // Shapes that do not fit the picture, deeper pictures, missing colours.
    CKzLutParamSpectralTrueColor wrong(2, 3, 3, sizes, 12);
    EXPECT_EQ(CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&wrong, colours, &pic.p, true, true, 5.0, 5.0), -9);
    EXPECT_EQ(CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&t, nullptr, &pic.p, true, true, 5.0, 5.0), -9);
    EXPECT_EQ(CKzPicBufAPI::GetAutoContrastSpectralGrouped(&g, nullptr, true, true, 5.0, 5.0), -9);
    CKzLutParamSpectralTrueColor deep(2, 3, 3, sizes, 17);
    Pic deepPic(4, 4, 17, 3);
    EXPECT_EQ(CKzPicBufAPI::GetAutoContrastSpectralTrueColor(&deep, colours, &deepPic.p, true, true, 5.0, 5.0), -2);
}

TEST(LutAutoContrast, ContrastStretch)
{
    Pic8 src(16, 16, 1), dst(16, 16, 1);
    for (unsigned y = 0; y < 16; ++y)
        for (unsigned x = 0; x < 16; ++x) src.Row(y)[x] = u8(y * 16 + x);
    ASSERT_EQ(CKzPicBufAPI::Contrast(&dst.p, &src.p, 0, 50, 200, 1.0), 0);
    EXPECT_EQ(dst.Row(0)[50], 0);
    EXPECT_EQ(dst.Row(3)[2], 0);      // 50
    EXPECT_EQ(dst.Row(12)[8], 255);   // 200
    EXPECT_EQ(dst.Row(15)[15], 255);
    EXPECT_EQ(dst.Row(7)[13], (125 - 50) * 255 / 150);

    // Equalisation of an evenly filled picture keeps it.
    ASSERT_EQ(CKzPicBufAPI::Contrast(&dst.p, &src.p, 1, 0, 0, 1.0), 0);
    for (unsigned v = 0; v < 256; v += 17) EXPECT_EQ(dst.Row(v / 16)[v % 16], v);

    // Refusals leave the destination alone.
    std::memset(dst.p.pData, 0x5A, dst.p.uiSize);
    Pic8 three(16, 16, 3), three2(16, 16, 3);
    Pic wide(16, 16, 12, 1);
    struct Case {
        const char* what;
        SKzPicBuf* d;
        SKzPicBuf* s;
        int type;
        int code;
    } cases[] = {
        {"different bits", &dst.p, &wide.p, 0, -9},
        {"type 6", &dst.p, &src.p, 6, -2},
        {"type -1", &dst.p, &src.p, -1, -2},
        {"logarithmic of three components", &three.p, &three2.p, 2, -2},
        {"null source", &dst.p, nullptr, 0, -9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(CKzPicBufAPI::Contrast(c.d, c.s, c.type, 10, 100, 1.0), c.code);
        EXPECT_EQ(dst.Row(5)[5], 0x5A);
    }
    Pic deep(4, 4, 17, 1), deep2(4, 4, 17, 1);
    EXPECT_EQ(CKzPicBufAPI::Contrast(&deep.p, &deep2.p, 0, 10, 100, 1.0), -2);
    // Several components with a gamma curve.
    for (unsigned y = 0; y < 16; ++y)
        for (unsigned x = 0; x < 48; ++x) three2.Row(y)[x] = u8(x * 5);
    ASSERT_EQ(CKzPicBufAPI::Contrast(&three.p, &three2.p, 4, 0, 255, 2.0), 0);
    EXPECT_EQ(three.Row(3)[47], u8(255.0 * std::pow(235 * 0.00392156862745098, 2.0)));
    EXPECT_LT(three.Row(3)[20], 100);
}

}  // namespace
