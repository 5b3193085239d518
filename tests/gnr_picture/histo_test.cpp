// Histograms: shaping, counting through the dispatch, adding and copying,
// and the cut and Otsu searches against a separate Python version of the
// rules (scripts/gen_histo_reference.py).
#include "gnr_picture/CKzHistoAPI.h"
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/KzKernelCommon.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

#include "histo_reference.inc"

struct HistoGuard {
    SKzHisto h;
    HistoGuard() { CKzHistoAPI::Init(&h); }
    ~HistoGuard() { CKzHistoAPI::Free(&h); }
};

struct PicGuard {
    SKzPicBuf pic;
    PicGuard(unsigned w, unsigned ht, unsigned bits, unsigned comps)
    {
        CKzPicBufAPI::Init(&pic);
        EXPECT_EQ(CKzPicBufAPI::Reinit(&pic, w, ht, 0, bits, comps, true), 0);
    }
    ~PicGuard() { CKzPicBufAPI::Free(&pic); }
};

SKzPicBufDesc Desc(unsigned w, unsigned h, unsigned bits, unsigned comps)
{
    SKzPicBufDesc d{};
    d.uiWidth = w;
    d.uiHeight = h;
    d.uiBpc = u8(bits);
    d.uiComp = comps;
    return d;
}

void Load(SKzHisto& h, const HistoReference& ref, unsigned counterSize)
{
    SKzPicBufDesc d = Desc(ref.rectW, ref.rectH, ref.bits, 1);
    ASSERT_EQ(counterSize == 4 ? CKzHistoAPI::Reinit32(&h, &d) : CKzHistoAPI::Reinit64(&h, &d), 0);
    for (unsigned v = 0; v < (1u << ref.bits); ++v) {
        if (counterSize == 4)
            static_cast<uint32_t*>(h.ppHistRows[0])[v] = ref.counts[v];
        else
            static_cast<uint64_t*>(h.ppHistRows[0])[v] = ref.counts[v];
    }
}

TEST(Histo, InitAndShape)
{
    HistoGuard g;
    EXPECT_EQ(g.h.uiCounterSize, 0u);
    EXPECT_EQ(g.h.uiStepX, 1u);
    EXPECT_EQ(g.h.uiStepY, 1u);
    SKzPicBufDesc d = Desc(640, 480, 8, 3);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&g.h, &d), 0);
    EXPECT_EQ(g.h.uiCounterSize, 4u);
    EXPECT_EQ(g.h.uiRectWidth, 640u);
    EXPECT_EQ(g.h.uiPicHeight, 480u);
    EXPECT_EQ(g.h.ppHistRows[0], static_cast<uint8_t*>(g.h.pHistData) + 1024);
    EXPECT_EQ(g.h.ppHistRows[2], static_cast<uint8_t*>(g.h.pHistData) + 3072);
    static_cast<uint8_t*>(g.h.pHistData)[4095] = 1;  // the block holds 4 rows (sanitizer preset)
    // Same bits and components, other size: nothing changes.
    SKzPicBufDesc other = Desc(100, 100, 8, 3);
    void* block = g.h.pHistData;
    ASSERT_EQ(CKzHistoAPI::Reinit32(&g.h, &other), 0);
    EXPECT_EQ(g.h.uiRectWidth, 640u);
    EXPECT_EQ(g.h.pHistData, block);
    // 64-bit counters reshape.
    ASSERT_EQ(CKzHistoAPI::Reinit64(&g.h, &d), 0);
    EXPECT_EQ(g.h.uiCounterSize, 8u);
    EXPECT_EQ(g.h.ppHistRows[0], static_cast<uint8_t*>(g.h.pHistData) + 2048);
    // One component: the only row is the block.
    SKzPicBufDesc one = Desc(10, 10, 12, 1);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&g.h, &one), 0);
    EXPECT_EQ(g.h.ppHistRows[0], g.h.pHistData);
    // Refusals.
    SKzPicBufDesc deep = Desc(10, 10, 17, 1), none = Desc(10, 10, 8, 0);
    EXPECT_EQ(CKzHistoAPI::Reinit32(&g.h, &deep), -4);
    EXPECT_EQ(CKzHistoAPI::Reinit64(&g.h, &none), -4);
    EXPECT_EQ(CKzHistoAPI::Reinit64(nullptr, &d), -4);
    CKzHistoAPI::Free(&g.h);
    EXPECT_EQ(g.h.pHistData, nullptr);
    EXPECT_EQ(g.h.ppHistRows, nullptr);
    EXPECT_EQ(g.h.uiHistBpc, 12u);
}

TEST(Histo, CalculateCountsAndAccumulates)
{
    if (!kKzPicHaveHisto)
        GTEST_SKIP() << "histogram kernels not built yet";
    PicGuard p(640, 480, 8, 1);
    std::memset(p.pic.pData, 7, p.pic.uiSize);
    HistoGuard g;
    CKzHistoAPI::Calculate(&g.h, &p.pic, true);  // never shaped: counts nothing
    EXPECT_EQ(g.h.pHistData, nullptr);
    SKzPicBufDesc d = Desc(1, 1, 8, 1);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&g.h, &d), 0);
    CKzHistoAPI::Calculate(&g.h, &p.pic, true);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 0, 7), 640 * 480);
    CKzHistoAPI::Calculate(&g.h, &p.pic, false);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 0, 7), 2 * 640 * 480);
    CKzHistoAPI::CalculateAndRepair(&g.h, &p.pic, true);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 0, 7), 640 * 480);
    // Steps: every 2nd pixel of every 3rd row; a step of 0 counts as 1.
    g.h.uiStepX = 2;
    g.h.uiStepY = 3;
    CKzHistoAPI::Calculate(&g.h, &p.pic, true);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 0, 7), 320 * 160);
    g.h.uiStepX = 0;
    g.h.uiStepY = 0;
    CKzHistoAPI::Calculate(&g.h, &p.pic, true);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 0, 7), 640 * 480);
}

TEST(Histo, ThreeComponentsAndRectangle)
{
    if (!kKzPicHaveHisto)
        GTEST_SKIP() << "histogram kernels not built yet";
    PicGuard p(20, 10, 12, 3);
    for (unsigned y = 0; y < 10; ++y)
        for (unsigned x = 0; x < 20; ++x) {
            uint16_t* px = reinterpret_cast<uint16_t*>(p.pic.pData + y * p.pic.uiWidthBytes) + x * 3;
            px[0] = uint16_t(x);
            px[1] = uint16_t(100 + y);
            px[2] = 4095;
        }
    HistoGuard g;
    SKzPicBufDesc d = Desc(20, 10, 12, 3);
    ASSERT_EQ(CKzHistoAPI::Reinit64(&g.h, &d), 0);
    g.h.eHistMode = 1;
    g.h.uiRectLeft = 15;
    g.h.uiRectTop = 8;
    g.h.uiRectWidth = 100;  // clipped to the picture: 5 x 2 pixels
    g.h.uiRectHeight = 100;
    CKzHistoAPI::Calculate(&g.h, &p.pic, true);
    uint64_t total = 0;
    for (unsigned v = 0; v < 4096; ++v)
        total += uint64_t(CKzHistoAPI::GetValue(&g.h, 0, v));
    EXPECT_EQ(total, 10u);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 0, 15), 2);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 1, 109), 5);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 2, 4095), 10);
    // The combined row holds the integer mean of each pixel.
    const uint64_t* combined = static_cast<const uint64_t*>(g.h.pHistData);
    std::vector<uint64_t> means(4096, 0);
    for (unsigned y = 8; y < 10; ++y)
        for (unsigned x = 15; x < 20; ++x)
            ++means[(x + 100 + y + 4095) / 3];
    for (unsigned v = 0; v < 4096; ++v)
        ASSERT_EQ(combined[v], means[v]) << v;
    // A rectangle starting outside counts nothing.
    g.h.uiRectLeft = 20;
    CKzHistoAPI::Calculate(&g.h, &p.pic, true);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 2, 4095), 0);
    // Weights: sum of v^2 count per component, normalised.
    g.h.eHistMode = 0;
    CKzHistoAPI::Calculate(&g.h, &p.pic, true);
    double w[3];
    ASSERT_EQ(CKzHistoAPI::EstimateComponentWeights(&g.h, w), 0);
    double m[3] = {0, 0, 0};
    for (unsigned y = 0; y < 10; ++y)
        for (unsigned x = 0; x < 20; ++x) {
            m[0] += double(x) * x;
            m[1] += double(100 + y) * (100 + y);
            m[2] += 4095.0 * 4095;
        }
    for (int k = 0; k < 3; ++k)
        EXPECT_NEAR(w[k], m[k] / (m[0] + m[1] + m[2]), 1e-12);
    EXPECT_EQ(CKzHistoAPI::EstimateComponentWeights(&g.h, nullptr), -4);
}

// Samples above the depth (0xFFFF in a 12-bit frame) never count outside the
// table; the sanitizer preset runs this.
TEST(Histo, HostileSamplesStayInTheTable)
{
    PicGuard p(33, 7, 12, 1), p3(33, 7, 12, 5);
    std::memset(p.pic.pData, 0xFF, p.pic.uiSize);
    std::memset(p3.pic.pData, 0xFF, p3.pic.uiSize);
    HistoGuard g, g3;
    SKzPicBufDesc d = Desc(33, 7, 12, 1), d3 = Desc(33, 7, 12, 5);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&g.h, &d), 0);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&g3.h, &d3), 0);
    CKzHistoAPI::Calculate(&g.h, &p.pic, true);
    CKzHistoAPI::Calculate(&g3.h, &p3.pic, true);
    if (kKzPicHaveHisto) {
        EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 0, 4095), 33 * 7);
        EXPECT_EQ(CKzHistoAPI::GetValue(&g3.h, 4, 4095), 33 * 7);
    }
}

TEST(Histo, AddAndCopy)
{
    HistoGuard a, b, c, wide;
    SKzPicBufDesc d = Desc(4, 4, 8, 3);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&a.h, &d), 0);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&b.h, &d), 0);
    ASSERT_EQ(CKzHistoAPI::Reinit64(&wide.h, &d), 0);
    CKzHistoAPI::ResetToZero(&a.h);
    CKzHistoAPI::ResetToZero(&b.h);
    static_cast<uint32_t*>(a.h.ppHistRows[1])[9] = 4;
    static_cast<uint32_t*>(b.h.ppHistRows[1])[9] = 5;
    static_cast<uint32_t*>(b.h.pHistData)[3] = 2;
    EXPECT_EQ(CKzHistoAPI::Add(&a.h, &wide.h), -9);  // counter widths differ
    const int r = CKzHistoAPI::Add(&a.h, &b.h);
    if (kKzPicHaveHisto) {
        ASSERT_EQ(r, 0);
        EXPECT_EQ(CKzHistoAPI::GetValue(&a.h, 1, 9), 9);
        EXPECT_EQ(static_cast<uint32_t*>(a.h.pHistData)[3], 2u);
    }
    SKzPicBufDesc d1 = Desc(4, 4, 8, 1);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&c.h, &d1), 0);
    EXPECT_EQ(CKzHistoAPI::Add(&a.h, &c.h), -9);
    b.h.uiStepX = 3;
    b.h.uiRectLeft = 2;
    ASSERT_EQ(CKzHistoAPI::Copy(&c.h, &b.h), 0);
    EXPECT_EQ(c.h.uiHistComp, 3u);
    EXPECT_EQ(c.h.uiStepX, 3u);
    EXPECT_EQ(c.h.uiRectLeft, 2u);
    EXPECT_NE(c.h.pHistData, b.h.pHistData);
    EXPECT_EQ(c.h.ppHistRows[1], static_cast<uint8_t*>(c.h.pHistData) + 2048);
    EXPECT_EQ(std::memcmp(c.h.pHistData, b.h.pHistData, 4 * 1024), 0);
    HistoGuard unshaped;
    EXPECT_EQ(CKzHistoAPI::Copy(&c.h, &unshaped.h), -9);
}

TEST(Histo, CutsAndOtsuMatchTheReference)
{
    for (unsigned cw : {4u, 8u})
        for (const HistoReference& ref : kHistoReference) {
            SCOPED_TRACE("bits " + std::to_string(ref.bits) + " counters " + std::to_string(cw));
            HistoGuard g;
            Load(g.h, ref, cw);
            g.h.uiRectWidth = ref.rectW;
            g.h.uiRectHeight = ref.rectH;
            unsigned lo = 12345, hi = 12345;
            ASSERT_EQ(CKzHistoAPI::GetLowHighFreqAbs(&g.h, &lo, &hi, ref.lowCount, ref.highCount), 0);
            EXPECT_EQ(lo, ref.freqLow);
            EXPECT_EQ(hi, ref.freqHigh);
            ASSERT_EQ(CKzHistoAPI::GetLowHighAbs(&g.h, &lo, &hi, ref.lowCount, ref.highCount), 0);
            EXPECT_EQ(lo, ref.absLow);
            EXPECT_EQ(hi, ref.absHigh);
            ASSERT_EQ(CKzHistoAPI::GetLowHigh(&g.h, &lo, &hi, ref.lowFraction, ref.highFraction), 0);
            EXPECT_EQ(lo, ref.fracLow);
            EXPECT_EQ(hi, ref.fracHigh);
            ASSERT_EQ(CKzHistoAPI::GetSumLowHigh(&lo, &hi, 0, ref.sumCount, &g.h), 0);
            EXPECT_EQ(lo, ref.sumLow);
            EXPECT_EQ(hi, ref.sumHigh);
            unsigned t[3] = {9, 9, 9};
            ASSERT_EQ(CKzHistoAPI::GetOtsuThreshold(t, 1, &g.h), 0);
            EXPECT_EQ(t[0], ref.otsu1);
            ASSERT_EQ(CKzHistoAPI::GetOtsuThreshold(t, 2, &g.h), 0);
            EXPECT_EQ(t[0], ref.otsu2[0]);
            EXPECT_EQ(t[1], ref.otsu2[1]);
            ASSERT_EQ(CKzHistoAPI::GetOtsuThreshold(t, 3, &g.h), 0);
            EXPECT_EQ(t[0], ref.otsu3[0]);
            EXPECT_EQ(t[1], ref.otsu3[1]);
            EXPECT_EQ(t[2], ref.otsu3[2]);
        }
}

TEST(Histo, StatedEdgeCases)
{
    HistoGuard g;
    SKzPicBufDesc d = Desc(100, 100, 8, 1);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&g.h, &d), 0);
    CKzHistoAPI::ResetToZero(&g.h);
    uint32_t* row = static_cast<uint32_t*>(g.h.ppHistRows[0]);
    EXPECT_EQ(CKzHistoAPI::GetMeanIndex(&g.h, 0), 0);  // empty row
    unsigned t[3];
    EXPECT_EQ(CKzHistoAPI::GetOtsuThreshold(t, 1, &g.h), -9);  // all zero
    EXPECT_EQ(CKzHistoAPI::GetOtsuThreshold(t, 0, &g.h), 0);
    EXPECT_EQ(CKzHistoAPI::GetOtsuThreshold(t, 4, &g.h), -2);
    EXPECT_EQ(CKzHistoAPI::GetOtsuThreshold(nullptr, 1, &g.h), -9);
    // All counts in bin 0: the two-sided cut is 0 and 1.
    row[0] = 10000;
    unsigned lo, hi;
    ASSERT_EQ(CKzHistoAPI::GetSumLowHigh(&lo, &hi, 0, 100, &g.h), 0);
    EXPECT_EQ(lo, 0u);
    EXPECT_EQ(hi, 1u);
    EXPECT_EQ(CKzHistoAPI::GetSumLowHigh(&lo, &hi, 1, 100, &g.h), -4);
    EXPECT_EQ(CKzHistoAPI::GetSumLowHigh(nullptr, nullptr, 0, 100, &g.h), -4);
    // Thresholds of 1% of 100 x 100 = 100 pixels: the first bin whose running
    // count passes 100.
    row[0] = 0;
    for (int v = 10; v < 20; ++v)
        row[v] = 30;
    ASSERT_EQ(CKzHistoAPI::GetLowHigh(&g.h, &lo, &hi, 0.01, 0.01), 0);
    EXPECT_EQ(lo, 13u);
    EXPECT_EQ(hi, 16u);
    ASSERT_EQ(CKzHistoAPI::GetLowHighAbs(&g.h, &lo, &hi, 100000, 100000), 0);
    EXPECT_EQ(lo, 255u);
    EXPECT_EQ(hi, 0u);
    EXPECT_EQ(CKzHistoAPI::GetLowHighAbs(&g.h, nullptr, nullptr, 1, 1), -4);
    EXPECT_EQ(CKzHistoAPI::GetMeanIndex(&g.h, 0), (10 + 19) * 10 * 30 / 2 / 300);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 0, 256), -4);
    EXPECT_EQ(CKzHistoAPI::GetValue(&g.h, 1, 0), -4);
    EXPECT_EQ(CKzHistoAPI::GetValue(nullptr, 0, 0), -4);
    // Bimodal peaks at 50 and 200: one threshold between them.
    CKzHistoAPI::ResetToZero(&g.h);
    for (int v = 40; v <= 60; ++v)
        row[v] = 100;
    for (int v = 190; v <= 210; ++v)
        row[v] = 80;
    ASSERT_EQ(CKzHistoAPI::GetOtsuThreshold(t, 1, &g.h), 0);
    EXPECT_GT(t[0], 60u);
    EXPECT_LE(t[0], 190u);
    // Several components: no Otsu.
    HistoGuard three;
    SKzPicBufDesc d3 = Desc(4, 4, 8, 3);
    ASSERT_EQ(CKzHistoAPI::Reinit32(&three.h, &d3), 0);
    EXPECT_EQ(CKzHistoAPI::GetOtsuThreshold(t, 1, &three.h), -2);
    // An unshaped histogram answers -9 to value queries.
    HistoGuard none;
    none.h.uiHistComp = 1;
    none.h.ppHistRows = g.h.ppHistRows;
    EXPECT_EQ(CKzHistoAPI::GetValue(&none.h, 0, 0), -9);
    none.h.ppHistRows = nullptr;
}

// Three-cluster histograms for bin counts from 1024 to 32768: the two-
// threshold search steps by 2, 4, 8, 16 only at 1024, 4096, 16384, 65536
// bins and bin by bin otherwise (2048 bins: 304 and 1006, where a step of 4
// would give 1008); the three-threshold search likewise up to 2048 bins, and
// with steps 27 and 81 at 8192 and 32768 bins.
// Every instruction set gives the same thresholds (the longest searches, 2048
// bins with three thresholds and 32768 with two, only on the widest).
TEST(Histo, OtsuStepsByBinCount)
{
    struct IsaRestore {
        ~IsaRestore() { KzIsaLimit().store(int(KzIsa::Avx512)); }
    } restore;
    for (KzIsa isa : {KzIsa::Avx512, KzIsa::Avx2, KzIsa::Base}) {
        for (const OtsuClusterReference& ref : kOtsuClusterReference) {
            SCOPED_TRACE("bits " + std::to_string(ref.bits) + " isa " + std::to_string(int(isa)));
            KzIsaLimit().store(int(isa));
            for (int three = 0; three < 2; ++three) {
                if (isa != KzIsa::Avx512 && ref.bits == (three ? 11u : 15u))
                    continue;
                HistoGuard g;
                SKzPicBufDesc d = Desc(64, 64, ref.bits, 1);
                ASSERT_EQ(CKzHistoAPI::Reinit32(&g.h, &d), 0);
                CKzHistoAPI::ResetToZero(&g.h);
                uint32_t* row = static_cast<uint32_t*>(g.h.ppHistRows[0]);
                const unsigned* centres = three ? ref.centres3 : ref.centres2;
                for (unsigned i = 0; i < (three ? 4u : 3u); ++i)
                    for (int dlt = -3; dlt <= 3; ++dlt)
                        row[centres[i] + dlt] = 100 - 20 * unsigned(std::abs(dlt));
                unsigned t[3] = {1, 1, 1};
                ASSERT_EQ(CKzHistoAPI::GetOtsuThreshold(t, three ? 3 : 2, &g.h), 0);
                if (three) {
                    EXPECT_EQ(t[0], ref.otsu3[0]);
                    EXPECT_EQ(t[1], ref.otsu3[1]);
                    EXPECT_EQ(t[2], ref.otsu3[2]);
                } else {
                    EXPECT_EQ(t[0], ref.otsu2[0]);
                    EXPECT_EQ(t[1], ref.otsu2[1]);
                }
            }
        }
    }
}

TEST(Histo, OtsuSearchesEndForEveryBinCount)
{
    // Bin counts between the listed ones: the two-threshold search goes bin by
    // bin; the three-threshold search does so up to 2048 bins and keeps the
    // next listed count's step above.
    for (unsigned bins : {2048u, 8192u, 32768u}) {
        std::vector<double> P(bins), M(bins);
        double p = 0, m = 0;
        for (unsigned v = 0; v < bins; ++v) {
            const double pv = (v % 97 == 0 ? 3.0 : 1.0) / (bins + 2.0 * ((bins + 96) / 97));
            p += pv;
            m += v * pv;
            P[v] = p;
            M[v] = m;
        }
        unsigned out[3];
        OtsuHistoThres_3(out, P.data(), M.data(), bins);
        EXPECT_LT(out[2], bins);
        OtsuHistoThres_2(out, P.data(), M.data(), bins);
        EXPECT_LT(out[1], bins);
    }
    unsigned out[3] = {7, 7, 7};
    OtsuHistoThres_2(out, nullptr, nullptr, 0);
    EXPECT_EQ(out[0] + out[1], 0u);
}

} // namespace
