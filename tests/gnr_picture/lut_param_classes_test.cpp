// LUT parameter classes of multichannel, RGB and spectral pictures: shapes,
// rescaling, comparison and their lite-variant forms record by record.
#include "gnr_picture/CKzLutParam.h"
#include "gnr_picture/KzLutColour.h"
#include "gnr_system/CKzLiteVariant.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Outside = CKzLutParamMCH::EKzLutOutside;

// The records of the entered level as text: "name:type=value", nested levels
// as "name:11{...}".
std::string Dump(CKzLiteVariantR& r, int depth = 0)
{
    std::string out;
    r.FirstValue();
    while (r.IsNextValue()) {
        wchar_t wname[256] = {};
        r.GetCurrentName(wname, 255);
        std::string name;
        for (const wchar_t* c = wname; *c; ++c) name += char(*c);
        const int type = r.GetCurrentType();
        out += name + ":" + std::to_string(type);
        switch (type) {
        case eKzLVInt32: out += "=" + std::to_string(r.GetCurrentValue(int(-12345))); break;
        case eKzLVUInt32: out += "=" + std::to_string(r.GetCurrentValue(0u)); break;
        case eKzLVDouble: {
            char buf[64];
            std::snprintf(buf, sizeof buf, "=%.17g", r.GetCurrentValue(0.0));
            out += buf;
            break;
        }
        case eKzLVLevel:
            if (depth < 4 && r.CurrentLevelBegin() == KZ_OK) {
                out += "{" + Dump(r, depth + 1) + "}";
                r.LevelEnd();
            }
            break;
        default: break;
        }
        out += " ";
        if (r.NextValue() != KZ_OK) break;
    }
    return out;
}

template <class T>
void Save(const T& obj, CKzLiteVariantR& r)
{
    CKzLiteVariantW w;
    ASSERT_EQ(w.LevelBegin(L"root"), 0);
    ASSERT_EQ(obj.SaveToLiteVariant(w), 0);
    ASSERT_EQ(w.LevelEnd(), 0);
    ASSERT_NE(w.Finalize(r), nullptr);
    ASSERT_EQ(r.LevelBegin(L"root"), 0);
}

template <class T>
std::string DumpOf(const T& obj, const wchar_t* level)
{
    CKzLiteVariantR r;
    Save(obj, r);
    if (r.LevelBegin(level) != KZ_OK) return "missing level";
    return Dump(r);
}

// Saves obj, loads it into into and returns the load's code.
template <class T>
int RoundTrip(const T& obj, T& into)
{
    CKzLiteVariantR r;
    Save(obj, r);
    return into.LoadFromLiteVariant(r);
}

// ---- CKzLutParamMCH ------------------------------------------------------------------

TEST(LutParamMCH, ShapesAndRescaling)
{
    CKzLutParamMCH p;
    unsigned sizes[2] = {1, 3};
    ASSERT_EQ(p.Reinit(2, 4, sizes, 8), 0);
    EXPECT_EQ(p.GetChannelCount(), 2u);
    EXPECT_EQ(p.GetComponentCount(), 4u);
    for (unsigned ch = 0; ch < 2; ++ch) {
        EXPECT_EQ(p.GetMin(ch), 0u);
        EXPECT_EQ(p.GetMax(ch), 255u);
        EXPECT_EQ(p.GetGamma(ch), 1.0);
    }
    unsigned* own = nullptr;
    ASSERT_EQ(p.GetComponentSizes(&own), 0);
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own[1], 3u);
    EXPECT_EQ(p.GetComponentSizes(nullptr), -9);

    ASSERT_EQ(p.SetMin(1, 10), 0);
    ASSERT_EQ(p.SetMax(1, 200), 0);
    ASSERT_EQ(p.SetGamma(1, 0.8), 0);
    ASSERT_EQ(p.Reinit(2, 4, sizes, 16), 0);
    EXPECT_EQ(p.GetMin(1), 2570u);
    EXPECT_EQ(p.GetMax(1), 51400u);
    EXPECT_EQ(p.GetGamma(1), 0.8);

    // Refusals leave the object as it was.
    const CKzLutParamMCH before(p);
    struct Case {
        const char* what;
        unsigned n, c;
        std::vector<unsigned> sizes;
        unsigned bits;
    } refused[] = {
        {"sum differs", 2, 5, {1, 3}, 8},  {"bits 7", 2, 4, {1, 3}, 7},
        {"bits 32", 2, 4, {1, 3}, 32},     {"193 channels", 193, 0, {}, 8},
        {"193 components", 1, 193, {193}, 8},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned> s = c.sizes;
        s.resize(c.n);
        EXPECT_EQ(p.Reinit(c.n, c.c, s.data(), c.bits), -9);
        EXPECT_TRUE(p.CompareWith(before));
        EXPECT_EQ(p.GetComponentCount(), 4u);
        ASSERT_EQ(p.GetComponentSizes(&own), 0);
        EXPECT_EQ(own[0], 1u);
    }
    EXPECT_EQ(p.Reinit(2, 0, sizes, 16), 0);  // no sum check without a component count

    // Growing keeps the first channels; shrinking keeps the first ones.
    unsigned three[3] = {1, 1, 2};
    p.SetMin(0, 1000);
    ASSERT_EQ(p.Reinit(3, 4, three, 12), 0);
    EXPECT_EQ(p.GetMin(0), 62u);  // 1000 of 65535 at 12 bits
    EXPECT_EQ(p.GetMin(1), 161u);  // 2570 of 65535
    EXPECT_EQ(p.GetMax(2), 4095u);
    EXPECT_EQ(p.GetMin(2), 0u);
    ASSERT_EQ(p.Reinit(1, 1, three, 12), 0);
    EXPECT_EQ(p.GetChannelCount(), 1u);
    EXPECT_EQ(p.GetMin(0), 62u);

    // Setters cap at the depth; getters past the channels are neutral.
    CKzLutParamMCH q(2, 2, nullptr, 16);
    EXPECT_EQ(q.SetMax(0, 70000), 0);
    EXPECT_EQ(q.GetMax(0), 65535u);
    EXPECT_EQ(q.GetMax(5), 65535u);
    EXPECT_EQ(q.GetMin(5), 0u);
    EXPECT_EQ(q.GetGamma(5), 1.0);
    EXPECT_EQ(q.SetGamma(2, 1.5), -9);
    EXPECT_EQ(q.SetMin(2, 1), -9);
    ASSERT_EQ(q.GetComponentSizes(&own), 0);
    EXPECT_EQ(own[0], 0u);  // new count arrays start at 0
    EXPECT_EQ(own[1], 0u);
}

TEST(LutParamMCH, UnitCompareAndCopies)
{
    CKzLutParamMCH p;
    EXPECT_TRUE(p.IsUnit());
    unsigned sizes[2] = {1, 1};
    p.Reinit(2, 2, sizes, 12);
    EXPECT_TRUE(p.IsUnit());
    p.SetGamma(1, 1.2);
    EXPECT_FALSE(p.IsUnit());
    CKzLutParamMCH copy(p);
    EXPECT_TRUE(copy.CompareWith(p));
    copy.SetGamma(1, 1.3);
    EXPECT_FALSE(copy.CompareWith(p));
    copy = p;
    EXPECT_TRUE(copy.CompareWith(p));
    copy.SetGradient(3);
    EXPECT_FALSE(copy.CompareWith(p));
    copy.SetGradient(0);
    copy.SetOutside(CKzLutParamMCH::eLutOutsideLow);
    EXPECT_FALSE(copy.CompareWith(p));
    p.SetUnit();
    EXPECT_TRUE(p.IsUnit());
    EXPECT_EQ(p.GetChannelCount(), 2u);
    p.Free();
    EXPECT_EQ(p.GetChannelCount(), 0u);
    EXPECT_EQ(p.GetBpc(), 12u);
    EXPECT_TRUE(p.IsUnit());
}

TEST(LutParamMCH, LiteFormRecordByRecord)
{
    unsigned sizes[2] = {1, 3};
    CKzLutParamMCH p(2, 4, sizes, 12);
    p.SetMin(0, 5);
    p.SetMax(1, 4000);
    p.SetGamma(1, 0.5);
    p.SetGradient(7);
    p.SetOutside(CKzLutParamMCH::eLutOutsideGradientWindow);
    EXPECT_EQ(DumpOf(p, L"CKzLutParamMCH"),
              "version:2=1 m_uiChannelCount:3=2 m_uiCompCount:3=4 :11{puiComp:3=1 } :11{puiComp:3=3 } "
              "m_uiBpc:3=12 :11{uiMin:3=5 uiMax:3=4095 dGamma:6=1 } :11{uiMin:3=0 uiMax:3=4000 dGamma:6=0.5 } ");

    CKzLutParamMCH q;
    q.SetGradient(7);
    q.SetOutside(CKzLutParamMCH::eLutOutsideGradientWindow);
    ASSERT_EQ(RoundTrip(p, q), 0);
    EXPECT_TRUE(q.CompareWith(p));
    unsigned* own = nullptr;
    q.GetComponentSizes(&own);
    EXPECT_EQ(own[1], 3u);

    // Outside mode and gradient are not stored.
    CKzLutParamMCH r;
    ASSERT_EQ(RoundTrip(p, r), 0);
    EXPECT_EQ(r.GetGradient(), 0);
    EXPECT_EQ(r.GetOutside(), CKzLutParamMCH::eLutOutsideClamp);
}

TEST(LutParamMCH, LoadingDamagedForms)
{
    unsigned sizes[2] = {1, 1};
    CKzLutParamMCH keep(2, 2, sizes, 8);
    keep.SetMin(1, 9);

    // Missing class level: -9, unchanged.
    {
        CKzLiteVariantW w;
        w.LevelBegin(L"other");
        w.Set(1, L"x");
        w.LevelEnd();
        CKzLiteVariantR r;
        w.Finalize(r);
        CKzLutParamMCH q(keep);
        EXPECT_EQ(q.LoadFromLiteVariant(r), -9);
        EXPECT_TRUE(q.CompareWith(keep));
    }
    // Stored shapes the class refuses: -9, unchanged.
    struct Case {
        const char* what;
        unsigned channels, comps, bits;
        std::vector<unsigned> counts;
    } cases[] = {
        {"bits 40", 1, 1, 40, {1}},
        {"bits 0", 1, 1, 0, {1}},
        {"counts do not add up", 2, 3, 8, {1, 1}},
        {"5000 channels", 5000, 0, 8, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CKzLiteVariantW w;
        w.LevelBegin(L"CKzLutParamMCH");
        w.Set(c.channels, L"m_uiChannelCount");
        w.Set(c.comps, L"m_uiCompCount");
        for (unsigned n : c.counts) {
            w.LevelBegin(L"");
            w.Set(n, L"puiComp");
            w.LevelEnd();
        }
        w.Set(c.bits, L"m_uiBpc");
        for (int i = 0; i < 3; ++i) {
            w.LevelBegin(L"");
            w.Set(77u, L"uiMin");
            w.LevelEnd();
        }
        w.LevelEnd();
        CKzLiteVariantR r;
        w.Finalize(r);
        CKzLutParamMCH q(keep);
        EXPECT_EQ(q.LoadFromLiteVariant(r), -9);
        EXPECT_TRUE(q.CompareWith(keep));
    }
    // Fewer range levels than channels: the rest keep what Reinit gave them;
    // further levels and missing records take their defaults.
    {
        CKzLiteVariantW w;
        w.LevelBegin(L"CKzLutParamMCH");
        w.Set(3u, L"m_uiChannelCount");
        w.Set(8u, L"m_uiBpc");
        for (int i = 0; i < 4; ++i) {
            w.LevelBegin(L"");
            if (i == 3) w.Set(int(12), L"uiMin");  // signed records read alike
            w.LevelEnd();
        }
        w.LevelEnd();
        CKzLiteVariantR r;
        w.Finalize(r);
        CKzLutParamMCH q;
        ASSERT_EQ(q.LoadFromLiteVariant(r), 0);
        EXPECT_EQ(q.GetChannelCount(), 3u);
        EXPECT_EQ(q.GetMin(0), 12u);
        EXPECT_EQ(q.GetMax(0), 255u);
        EXPECT_EQ(q.GetMin(1), 0u);
        EXPECT_EQ(q.GetMax(2), 255u);
    }
}

// ---- CKzLutParamRGB --------------------------------------------------------------------

TEST(LutParamRGB, ShapesAndForms)
{
    CKzLutParamRGB e;
    EXPECT_EQ(e.Reinit(7), -9);
    EXPECT_EQ(e.GetBpc(), 0u);
    for (unsigned i = 0; i < 3; ++i) {
        EXPECT_EQ(e.GetMin(i), 0u);
        EXPECT_EQ(e.GetMax(i), 127u);
        EXPECT_EQ(e.GetMaxDst(i), 127u);
        EXPECT_EQ(e.GetGamma(i), 1.0);
    }
    EXPECT_EQ(e.GetMaxDst(0, 8), 255u);  // empty: the full value of the depth asked

    CKzLutParamRGB p(12);
    EXPECT_TRUE(p.IsUnit());
    ASSERT_EQ(p.SetMaxDst(1, 4095), 0);
    EXPECT_EQ(p.GetMaxDst(1, 8), 255u);
    EXPECT_EQ(p.SetMax(0, 100000), 0);
    EXPECT_EQ(p.GetMax(0), 4095u);
    EXPECT_EQ(p.SetMin(3, 1), -9);
    EXPECT_EQ(p.SetGamma(3, 1.0), -9);
    EXPECT_EQ(p.GetMax(3), 4095u);
    EXPECT_EQ(p.GetGamma(7), 1.0);
    p.SetMin(2, 100);
    p.SetMaxDst(2, 2000);
    p.SetGamma(0, 2.0);
    EXPECT_FALSE(p.IsUnit());
    ASSERT_EQ(p.Reinit(8), 0);
    EXPECT_EQ(p.GetMin(2), 6u);
    EXPECT_EQ(p.GetMaxDst(2), 125u);
    EXPECT_EQ(p.GetGamma(0), 2.0);
    EXPECT_EQ(p.Reinit(32), -9);
    EXPECT_EQ(p.GetBpc(), 8u);

    EXPECT_EQ(DumpOf(p, L"CKzLutParamRGB"),
              "version:2=1 m_uiBpc:3=8 :11{uiMin:3=0 uiMax:3=255 dGamma:6=2 } "
              ":11{uiMin:3=0 uiMax:3=255 dGamma:6=1 } :11{uiMin:3=6 uiMax:3=255 dGamma:6=1 } ");
    CKzLutParamRGB q(8);
    q.SetMaxDst(2, 125);
    ASSERT_EQ(RoundTrip(p, q), 0);
    EXPECT_TRUE(q.CompareWith(p));
    q.SetMaxDst(2, 124);
    EXPECT_FALSE(q.CompareWith(p));

    // Stored bits the class refuses: -9 and nothing changed.
    CKzLiteVariantW w;
    w.LevelBegin(L"CKzLutParamRGB");
    w.Set(99u, L"m_uiBpc");
    w.LevelBegin(L"");
    w.Set(5u, L"uiMin");
    w.LevelEnd();
    w.LevelEnd();
    CKzLiteVariantR r;
    w.Finalize(r);
    CKzLutParamRGB empty;
    EXPECT_EQ(empty.LoadFromLiteVariant(r), -9);
    EXPECT_TRUE(empty.CompareWith(CKzLutParamRGB()));

    p.SetUnit();
    EXPECT_TRUE(p.IsUnit());
}

// ---- spectral classes --------------------------------------------------------------------

TEST(LutParamSpectral, TrueColourSlots)
{
    unsigned sizes[4] = {3, 2, 1, 1};
    CKzLutParamSpectralTrueColor t(2, 4, 7, sizes, 12);
    EXPECT_EQ(t.GetGradient(), -1);
    EXPECT_EQ(t.GetSlotCount(), 3u);
    EXPECT_EQ(t.GetSpectralComponentCount(), 5u);
    EXPECT_EQ(t.GetGain(3), 1.0);
    EXPECT_EQ(t.GetOffset(3), 0.0);
    EXPECT_EQ(t.SetGain(3, 2.0), -9);
    EXPECT_EQ(t.SetGain(2, 2.0), 0);
    EXPECT_EQ(t.SetOffset(0, 40.0), 0);
    EXPECT_FALSE(t.IsUnit());
    CKzLutParamSpectralTrueColor copy(t);
    EXPECT_TRUE(copy.CompareWith(t));
    copy.SetGradient(4);
    EXPECT_TRUE(copy.CompareWith(t));  // the gradient is not compared
    copy.SetGamma(1.1);
    EXPECT_FALSE(copy.CompareWith(t));

    struct Case {
        const char* what;
        unsigned S, K, comps;
        std::vector<unsigned> sizes;
        unsigned bits;
    } refused[] = {
        {"bits 7", 2, 4, 7, {3, 2, 1, 1}, 7},
        {"sum differs", 2, 4, 8, {3, 2, 1, 1}, 12},
        {"more spectral channels than channels", 5, 4, 7, {3, 2, 1, 1}, 12},
        {"193 channels", 0, 193, 0, {}, 12},
    };
    for (const Case& c : refused) {
        SCOPED_TRACE(c.what);
        std::vector<unsigned> s = c.sizes;
        s.resize(c.K);
        EXPECT_EQ(t.Reinit(c.S, c.K, c.comps, s.data(), c.bits), -9);
        EXPECT_TRUE(t.CompareWith(copy = t));
        EXPECT_EQ(t.GetSlotCount(), 3u);
        EXPECT_EQ(t.GetGain(2), 2.0);
    }

    // Same K - S: slots kept, also when S and K change together.
    unsigned five[5] = {2, 2, 1, 1, 1};
    ASSERT_EQ(t.Reinit(3, 5, 7, five, 12), 0);
    EXPECT_EQ(t.GetGain(2), 2.0);
    EXPECT_EQ(t.GetOffset(0), 40.0);
    EXPECT_EQ(t.GetSpectralComponentCount(), 5u);
    ASSERT_EQ(t.Reinit(3, 6, 8, nullptr, 12), 0);  // K - S changes: fresh slots
    EXPECT_EQ(t.GetSlotCount(), 4u);
    EXPECT_EQ(t.GetGain(2), 1.0);
    EXPECT_TRUE(t.IsUnit());
}

TEST(LutParamSpectral, CustomColourNodesAndColours)
{
    unsigned sizes[4] = {1, 1, 1, 1};
    CKzLutParamSpectralCustomColor c(5, 3, 4, 4, sizes, 8);
    EXPECT_EQ(c.GetNodeCount(), 3u);
    EXPECT_EQ(c.GetSlotCount(), 4u);
    EXPECT_EQ(c.GetColor(0), 0xFFFFFFu);
    EXPECT_EQ(c.GetColor(3), 0xFFFFFFu);
    c.SetColor(1, 0xFF00FF00u);
    EXPECT_EQ(c.GetColor(1), 0xFF00FF00u);
    c.SetColor(9, 1);  // ignored

    // Same node count and K - S: colours and slots kept.
    c.SetGain(1, 3.0);
    ASSERT_EQ(c.Reinit(3, 3, 4, 4, sizes, 16), 0);
    EXPECT_EQ(c.GetColor(1), 0xFF00FF00u);
    EXPECT_EQ(c.GetGain(1), 3.0);
    EXPECT_EQ(c.GetBpc(), 16u);

    // 11 spectral components, 3 nodes at 0, 5 and 10; one ordinary channel.
    std::vector<unsigned> ones(12, 1);
    CKzLutParamSpectralCustomColor s(3, 11, 12, 12, ones.data(), 12);
    s.SetColor(0, 0x0000FF);
    s.SetColor(1, 0x00FF00);
    s.SetColor(2, 0xFF0000);
    std::vector<unsigned> out(13, 0xDEADBEEF);
    ASSERT_EQ(s.GetCompColors(out.data()), 0);
    const int w1[6] = {0, 14000, 28000, 42000, 56000, 65536};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(out[size_t(i)], InterpolateColorHSI8(0x0000FF, 0x00FF00, w1[i])) << i;
    const int w2[5] = {14000, 28000, 42000, 56000, 65536};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(out[size_t(6 + i)], InterpolateColorHSI8(0x00FF00, 0xFF0000, w2[i])) << i;
    EXPECT_EQ(out[11], 0xFFFFFFu);
    EXPECT_EQ(out[12], 0xDEADBEEFu);
    EXPECT_EQ(s.GetCompColors(nullptr), -9);

    // One node: its colour (all 32 bits) everywhere.
    CKzLutParamSpectralCustomColor one(1, 1, 1, 4, nullptr, 8);
    unsigned four[1] = {4};
    ASSERT_EQ(one.Reinit(1, 1, 1, 4, four, 8), 0);
    one.SetColor(0, 0xAB123456u);
    std::vector<unsigned> o1(4);
    ASSERT_EQ(one.GetCompColors(o1.data()), 0);
    for (unsigned v : o1) EXPECT_EQ(v, 0xAB123456u);

    // Spectral components beyond a component count of 0: nothing written.
    CKzLutParamSpectralCustomColor none(2, 1, 1, 0, four, 8);
    unsigned guard = 0xDEADBEEF;
    EXPECT_EQ(none.GetCompColors(&guard), 0);
    EXPECT_EQ(guard, 0xDEADBEEFu);
}

TEST(LutParamSpectral, GroupedSizesAndColours)
{
    unsigned sizes[3] = {4, 2, 1};
    unsigned groups[2] = {3, 3};
    CKzLutParamSpectralGrouped g(2, groups, 2, 3, 7, sizes, 12);
    EXPECT_EQ(g.GetGroupCount(), 2u);
    EXPECT_EQ(g.GetSlotCount(), 3u);
    unsigned* own = nullptr;
    ASSERT_EQ(g.GetGroupSizes(&own), 0);
    EXPECT_EQ(own[1], 3u);
    EXPECT_EQ(g.GetGroupSizes(nullptr), -9);
    g.SetColor(0, 0xFF00FF00u);
    EXPECT_EQ(g.GetColor(0), 0x0000FF00u);
    EXPECT_EQ(g.GetColor(2), 0xFFFFFFu);

    // Group sizes: needed for fresh arrays (all three channels spectral now),
    // each at least 1, summing to no more than the spectral components (7).
    struct Case {
        const char* what;
        unsigned G;
        std::vector<unsigned> sizes;
        int code;
    } cases[] = {
        {"no sizes", 3, {}, -9},
        {"a size of 0", 3, {2, 0, 1}, -9},
        {"more than the spectral components", 3, {3, 3, 2}, -9},
        {"fits", 3, {3, 2, 1}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CKzLutParamSpectralGrouped h(g);
        std::vector<unsigned> s = c.sizes;
        EXPECT_EQ(h.Reinit(c.G, s.empty() ? nullptr : s.data(), 3, 3, 7, sizes, 12), c.code);
        EXPECT_EQ(h.GetSpectralChannelCount(), c.code ? 2u : 3u);
        EXPECT_EQ(h.GetGroupCount(), c.code ? 2u : 3u);
    }
    // Kept arrays take given sizes.
    unsigned resized[2] = {1, 5};
    ASSERT_EQ(g.Reinit(2, resized, 2, 3, 7, sizes, 12), 0);
    g.GetGroupSizes(&own);
    EXPECT_EQ(own[0], 1u);
    EXPECT_EQ(own[1], 5u);
    EXPECT_EQ(g.GetColor(0), 0x0000FF00u);
    ASSERT_EQ(g.Reinit(2, nullptr, 2, 3, 7, sizes, 12), 0);  // kept arrays, sizes stay
    g.GetGroupSizes(&own);
    EXPECT_EQ(own[1], 5u);
    // The group count never exceeds the spectral channels.
    unsigned many[5] = {1, 1, 1, 1, 1};
    CKzLutParamSpectralGrouped h(5, many, 3, 4, 4, many, 8);
    EXPECT_EQ(h.GetGroupCount(), 3u);
    EXPECT_EQ(h.GetSlotCount(), 4u);
}

TEST(LutParamSpectral, LiteFormsRecordByRecord)
{
    unsigned sizes[3] = {2, 2, 1};
    CKzLutParamSpectralTrueColor t(2, 3, 5, sizes, 10);
    t.SetGain(1, 2.0);
    t.SetOffset(0, 5.0);
    t.SetGamma(0.5);
    t.SetGradient(4);
    EXPECT_EQ(DumpOf(t, L"CKzLutParamSpectralTrueColor"),
              "version:2=1 m_uiBpc:3=10 m_uiChannelCount:3=3 m_uiCompCount:3=5 :11{puiComp:3=2 } "
              ":11{puiComp:3=2 } :11{puiComp:3=1 } m_uiSpectralChannelCount:3=2 dGamma:6=0.5 "
              ":11{dGain:6=1 dOffset:6=5 } :11{dGain:6=2 dOffset:6=0 } ");
    CKzLutParamSpectralTrueColor t2;
    t2.SetGradient(9);
    ASSERT_EQ(RoundTrip(t, t2), 0);
    EXPECT_TRUE(t2.CompareWith(t));
    EXPECT_EQ(t2.GetGradient(), 9);

    CKzLutParamSpectralCustomColor c(2, 2, 3, 5, sizes, 8);
    c.SetColor(0, 0x112233);
    c.SetColor(1, 0xFF445566u);
    c.SetGain(2, 3.0);
    EXPECT_EQ(DumpOf(c, L"CKzLutParamSpectralCustomColor"),
              "version:2=1 m_uiBpc:3=8 m_uiChannelCount:3=3 m_uiNodeCount:3=2 m_uiCompCount:3=5 "
              ":11{puiComp:3=2 } :11{puiComp:3=2 } :11{puiComp:3=1 } m_uiSpectralChannelCount:3=2 dGamma:6=1 "
              ":11{uiColor:3=1122867 } :11{uiColor:3=4282668390 } :11{dGain:6=1 dOffset:6=0 } "
              ":11{dGain:6=1 dOffset:6=0 } :11{dGain:6=3 dOffset:6=0 } ");
    CKzLutParamSpectralCustomColor c2;
    ASSERT_EQ(RoundTrip(c, c2), 0);
    EXPECT_TRUE(c2.CompareWith(c));

    unsigned gs[2] = {1, 3};
    CKzLutParamSpectralGrouped g(2, gs, 2, 3, 5, sizes, 16);
    g.SetColor(1, 0xFF00AA00u);
    g.SetOffset(2, -2.5);
    EXPECT_EQ(DumpOf(g, L"CKzLutParamSpectralGrouped"),
              "version:2=1 m_uiBpc:3=16 m_uiChannelCount:3=3 m_uiGroupCount:3=2 m_uiCompCount:3=5 "
              ":11{puiComp:3=2 } :11{puiComp:3=2 } :11{puiComp:3=1 } :11{uiGroupSize:3=1 } "
              ":11{uiGroupSize:3=3 } m_uiSpectralChannelCount:3=2 dGamma:6=1 :11{uiColor:3=16777215 } "
              ":11{uiColor:3=4278233600 } :11{dGain:6=1 dOffset:6=0 } :11{dGain:6=1 dOffset:6=0 } "
              ":11{dGain:6=1 dOffset:6=-2.5 } ");
    CKzLutParamSpectralGrouped g2;
    ASSERT_EQ(RoundTrip(g, g2), 0);
    EXPECT_TRUE(g2.CompareWith(g));
    unsigned* own = nullptr;
    g2.GetGroupSizes(&own);
    EXPECT_EQ(own[1], 3u);

    // Damaged forms: -9 and nothing changed.
    CKzLutParamSpectralGrouped before(g2);
    for (unsigned bad : {0u, 1u, 2u}) {
        CKzLiteVariantW w;
        w.LevelBegin(L"CKzLutParamSpectralGrouped");
        w.Set(16u, L"m_uiBpc");
        w.Set(bad == 0 ? 500u : 3u, L"m_uiChannelCount");
        w.Set(bad == 1 ? 9u : 2u, L"m_uiSpectralChannelCount");
        w.Set(1u, L"m_uiGroupCount");
        for (int i = 0; i < 3; ++i) {
            w.LevelBegin(L"");
            w.Set(1u, L"puiComp");
            w.LevelEnd();
        }
        w.LevelBegin(L"");
        w.Set(bad == 2 ? 0u : 1u, L"uiGroupSize");
        w.LevelEnd();
        w.LevelEnd();
        CKzLiteVariantR r;
        w.Finalize(r);
        EXPECT_EQ(g2.LoadFromLiteVariant(r), -9) << bad;
        EXPECT_TRUE(g2.CompareWith(before)) << bad;
    }
    CKzLiteVariantR nothing;
    EXPECT_EQ(g2.LoadFromLiteVariant(nothing), -9);
}

}  // namespace
