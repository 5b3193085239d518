// Plane-set operations: selection by component masks, extraction, building,
// merging, queries, modality conversions, the layout hash and the colours.
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_picture/KzLutColour.h"
#include "gnr_picture/SKzLutParam.h"
#include "gnr_system/CKzRangeMask.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace {

typedef SKzPicturePlanes PS;

struct P {
    kz_uint32 comps;
    kz_uint32 sample;
    kz_uint64 mask;
    kz_uint32 colour;
    const wchar_t* name;
};

// A plane set that releases its arrays.
struct Set {
    PS s;
    Set() {}
    Set(std::initializer_list<P> planes, unsigned samples) { Build(planes, samples); }
    ~Set() { PS::Free(s); }
    void Build(std::initializer_list<P> planes, unsigned samples)
    {
        PS::Free(s);
        ASSERT_EQ(PS::Alloc(s, (unsigned)planes.size(), samples), 0);
        unsigned i = 0;
        kz_uint64 comps = 0;
        for (const P& p : planes) {
            SKzPicturePlaneDesc& d = s.pPlanes[i++];
            d.uiCompCount = p.comps;
            d.uiSampleIndex = p.sample;
            d.uiModalityMask = p.mask;
            d.uiColor = p.colour;
            d.sDescription = p.name;
            comps += p.comps;
        }
        s.uiCompCount = (kz_uint32)comps;
        for (unsigned k = 0; k < samples; ++k) {
            s.pSamples[k].sSpecSettings = (L"S" + std::to_wstring(k)).c_str();
            s.pSamples[k].dExposureTime = 10.0 * (k + 1);
        }
    }
};

// "name/components/sample index/colour" of every plane.
std::vector<std::wstring> Planes(const PS& s)
{
    std::vector<std::wstring> out;
    for (unsigned i = 0; i < s.uiCount; ++i) {
        const SKzPicturePlaneDesc& d = s.pPlanes[i];
        wchar_t buf[64];
        swprintf(buf, 64, L"/%u/%u/%06X", d.uiCompCount, d.uiSampleIndex, d.uiColor);
        out.push_back(std::wstring(d.sDescription.GetString()) + buf);
    }
    return out;
}

std::vector<std::wstring> Samples(const PS& s)
{
    std::vector<std::wstring> out;
    for (unsigned k = 0; k < s.uiSampleCount; ++k) out.push_back(s.pSamples[k].sSpecSettings.GetString());
    return out;
}

CKzRangeMask Mask(unsigned size, std::initializer_list<unsigned> members)
{
    CKzRangeMask m;
    m.SetSize(size);
    m.Reset();
    for (unsigned i : members) m.Set(i, true);
    return m;
}

const kz_uint32 W = 0xFFFFFF;

// ---------------------------------------------------------------------------
// Selection

TEST(PlaneSetSelect, MasksAndStarts)
{
    Set s({{1, 0, 1, W, L"a"}, {3, 0, 1, W, L"b"}, {1, 0, 1, W, L"c"}}, 1);
    EXPECT_EQ(PS::PlaneStartingComp(s.s, 0), 0u);
    EXPECT_EQ(PS::PlaneStartingComp(s.s, 2), 4u);
    EXPECT_EQ(PS::PlaneStartingComp(s.s, 9), 5u);
    EXPECT_EQ(PS::PlaneMask(s.s, 1), 14u);
    EXPECT_EQ(PS::PlaneMask(s.s, 2), 16u);
    EXPECT_EQ(PS::PlaneMask(s.s, 3), 0u);
    CKzRangeMask m;
    PS::PlaneMask(s.s, 1, m);
    EXPECT_EQ(m.GetSize(), 5u);
    EXPECT_EQ(m.GetCount(), 3u);
    EXPECT_TRUE(m.Get(1) && m.Get(3) && !m.Get(4));
    CKzRangeMask other = Mask(40, {1, 30});
    PS::PlaneMask(s.s, 7, other);
    EXPECT_EQ(other.GetCount(), 0u);
    EXPECT_EQ(other.GetSize(), 40u);
    PS::FullMask(s.s, m);
    EXPECT_EQ(m.GetCount(), 5u);

    struct Case {
        kz_uint32 comps;
        kz_uint64 full;
    } cases[] = {{0, 0}, {3, 7}, {63, 0x7FFFFFFFFFFFFFFFull}, {64, ~0ull}, {70, ~0ull}, {UINT_MAX, ~0ull}};
    for (const Case& c : cases) {
        PS t;
        t.uiCompCount = c.comps;
        EXPECT_EQ(PS::FullMask(t), c.full) << c.comps;
    }
}

TEST(PlaneSetSelect, CountsOfSelections)
{
    // Planes [1, 3, 1] with sample settings 1, 1, 0.
    Set s({{1, 1, 1, W, L"a"}, {3, 1, 1, W, L"b"}, {1, 0, 1, W, L"c"}}, 2);
    struct Case {
        std::initializer_list<unsigned> members;
        unsigned planes, comps, samples;
    } cases[] = {
        {{}, 0, 0, 0},
        {{0, 1, 2, 3, 4}, 3, 5, 2},
        {{2}, 1, 1, 1},
        {{1, 3}, 2, 2, 1},
        {{1, 2, 3}, 1, 3, 1},
        {{0, 4}, 2, 2, 2},
        {{4, 9, 40}, 1, 1, 1},
    };
    for (const Case& c : cases) {
        CKzRangeMask m = Mask(64, c.members);
        SCOPED_TRACE(m.GetCount());
        EXPECT_EQ(PS::MaskedPlaneCount(s.s, m), c.planes);
        EXPECT_EQ(PS::MaskedCompCount(s.s, m), c.comps);
        EXPECT_EQ(PS::MaskedSampleCount(s.s, m), c.samples);
    }
    // Sample indexes that name no sample setting are not counted.
    s.s.pPlanes[0].uiSampleIndex = 7;
    CKzRangeMask m = Mask(5, {0});
    EXPECT_EQ(PS::MaskedSampleCount(s.s, m), 0u);
    // Components beyond the third of a wide plane are not parts.
    Set wide({{5, 0, 1, W, L"w"}}, 1);
    CKzRangeMask far = Mask(5, {3, 4});
    EXPECT_EQ(PS::MaskedPlaneCount(wide.s, far), 0u);
    EXPECT_EQ(PS::MaskedSampleCount(wide.s, far), 1u);
}

struct ExtractCase {
    const char* what;
    std::initializer_list<unsigned> members;
    bool redFirst;
    unsigned room;  // planes allocated in dst
    unsigned samples;
    std::vector<std::wstring> planes;
    unsigned comps;
};

TEST(PlaneSetSelect, ExtractPlanesTable)
{
    // Planes [mono (sample 2), colour (sample 0), mono (sample 2)].
    Set src({{1, 2, 1, 0x11, L"m1"}, {3, 0, 0x102, 0x123456, L"rgb"}, {1, 2, 1, 0x22, L"m2"}}, 3);
    const ExtractCase cases[] = {
        {"all", {0, 1, 2, 3, 4}, false, 3, 2, {L"m1/1/0/000011", L"rgb/3/1/123456", L"m2/1/0/000022"}, 5},
        {"green", {2}, false, 1, 1, {L"Green/1/0/00FF00"}, 1},
        {"blue red", {1, 3}, false, 2, 1, {L"Blue/1/0/FF0000", L"Red/1/0/0000FF"}, 2},
        {"red blue", {1, 3}, true, 2, 1, {L"Red/1/0/0000FF", L"Blue/1/0/FF0000"}, 2},
        {"no room for the second split", {1, 3}, false, 1, 1, {L"Blue/1/0/FF0000"}, 1},
        {"sample slots short", {0, 1}, false, 2, 1, {L"m1/1/0/000011", L"Blue/1/0/FF0000"}, 2},
        {"nothing", {}, false, 2, 1, {L"/1/0/FFFFFF", L"/1/0/FFFFFF"}, 0},
    };
    for (const ExtractCase& c : cases) {
        SCOPED_TRACE(c.what);
        Set dst;
        ASSERT_EQ(PS::Alloc(dst.s, c.room, c.samples), 0);
        CKzRangeMask m = Mask(5, c.members);
        unsigned filled = PS::ExtractPlanes(dst.s, src.s, m, c.redFirst);
        std::vector<std::wstring> got = Planes(dst.s);
        got.resize(c.planes.size());
        EXPECT_EQ(got, c.planes);
        EXPECT_EQ(filled, std::min<size_t>(c.room, c.planes.size() - (c.members.size() == 0 ? c.planes.size() : 0)));
        EXPECT_EQ(dst.s.uiCompCount, c.comps);
        EXPECT_EQ(dst.s.uiCount, c.room);  // counts stay
    }
    // The sample settings are copied in order of first use.
    Set dst;
    PS::Alloc(dst.s, 3, 2);
    CKzRangeMask all = Mask(5, {0, 1, 2, 3, 4});
    PS::ExtractPlanes(dst.s, src.s, all, false);
    EXPECT_EQ(Samples(dst.s), (std::vector<std::wstring>{L"S2", L"S0"}));
    // Source planes without a valid sample index keep theirs.
    src.s.pPlanes[0].uiSampleIndex = 9;
    Set d2;
    PS::Alloc(d2.s, 1, 1);
    CKzRangeMask first = Mask(5, {0});
    PS::ExtractPlanes(d2.s, src.s, first, false);
    EXPECT_EQ(d2.s.pPlanes[0].uiSampleIndex, 9u);
    EXPECT_EQ(Samples(d2.s), (std::vector<std::wstring>{L""}));
    // A destination without planes gets nothing.
    Set none;
    EXPECT_EQ(PS::ExtractPlanes(none.s, src.s, all, false), 0u);
}

TEST(PlaneSetSelect, ExtractPlanesEx)
{
    Set src({{3, 1, 0x102, 0x123456, L"rgb"}, {1, 1, 1, 0x44, L"m"}, {4, 0, 1, 0x77, L"quad"}}, 2);
    struct Case {
        const char* what;
        std::initializer_list<unsigned> members;
        bool redFirst;
        std::vector<std::wstring> planes;
        std::vector<std::wstring> samples;
        unsigned comps;
    } cases[] = {
        {"blue red", {0, 2}, false, {L"Blue/1/0/FF0000", L"Red/1/0/0000FF"}, {L"S1"}, 2},
        {"red first", {0, 2}, true, {L"Red/1/0/0000FF", L"Blue/1/0/FF0000"}, {L"S1"}, 2},
        {"whole and fourth component", {3, 4, 7}, false, {L"m/1/0/000044", L"Blue/1/1/FF0000", L"quad/1/1/000077"},
         {L"S1", L"S0"}, 3},
        {"all", {0, 1, 2, 3, 4, 5, 6, 7}, false, {L"rgb/3/0/123456", L"m/1/0/000044", L"quad/4/1/000077"},
         {L"S1", L"S0"}, 8},
        {"none", {}, false, {}, {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Set dst({{1, 0, 1, W, L"old"}}, 3);
        dst.s.sDescription = L"kept";
        CKzRangeMask m = Mask(8, c.members);
        EXPECT_EQ(PS::ExtractPlanesEx(dst.s, src.s, m, c.redFirst), c.planes.size());
        EXPECT_EQ(Planes(dst.s), c.planes);
        EXPECT_EQ(Samples(dst.s), c.samples);
        EXPECT_EQ(dst.s.uiCompCount, c.comps);
        EXPECT_EQ(std::wstring(dst.s.sDescription.GetString()), L"kept");
    }
    // A sample index naming no sample setting gets a default one.
    src.s.pPlanes[1].uiSampleIndex = 5;
    Set dst;
    CKzRangeMask m = Mask(8, {3});
    PS::ExtractPlanesEx(dst.s, src.s, m, false);
    EXPECT_EQ(Samples(dst.s), (std::vector<std::wstring>{L""}));
    EXPECT_EQ(dst.s.pPlanes[0].uiSampleIndex, 0u);
}

TEST(PlaneSetSelect, ExtractReorderedPlanes)
{
    Set src({{1, 0, 1, 1, L"a"}, {3, 1, 1, 2, L"b"}, {1, 1, 1, 3, L"c"}}, 2);
    Set dst({{1, 0, 1, W, L"x"}, {1, 0, 1, W, L"y"}, {1, 0, 1, W, L"z"}}, 1);
    const unsigned order[] = {2, 0, 1};
    EXPECT_EQ(PS::ExtractReorderedPlanes(dst.s, src.s, order, false), 0);
    EXPECT_EQ(Planes(dst.s), (std::vector<std::wstring>{L"c/1/1/000003", L"a/1/0/000001", L"b/3/1/000002"}));
    EXPECT_EQ(dst.s.uiCompCount, 5u);
    EXPECT_EQ(Samples(dst.s), (std::vector<std::wstring>{L"S0", L"S1"}));
    const unsigned bad[] = {0, 3, 1};
    EXPECT_EQ(PS::ExtractReorderedPlanes(dst.s, src.s, bad, false), -9);
    const unsigned bigger[] = {0, 1, UINT_MAX};
    EXPECT_EQ(PS::ExtractReorderedPlanes(dst.s, src.s, bigger, false), -9);
    EXPECT_EQ(PS::ExtractReorderedPlanes(dst.s, src.s, nullptr, false), -9);
    Set two({{1, 0, 1, W, L"x"}, {1, 0, 1, W, L"y"}}, 1);
    EXPECT_EQ(PS::ExtractReorderedPlanes(two.s, src.s, order, false), -9);

    // Split of one colour plane.
    Set rgb({{3, 1, 0x102, 0x123456, L"rgb"}}, 2);
    Set out({{1, 0, 1, W, L"x"}, {1, 0, 1, W, L"y"}, {1, 0, 1, W, L"z"}, {1, 0, 1, W, L"w"}}, 1);
    const unsigned colours[] = {2, 7, 0};
    EXPECT_EQ(PS::ExtractReorderedPlanes(out.s, rgb.s, colours, true), 0);
    EXPECT_EQ(out.s.uiCount, 3u);
    EXPECT_EQ(out.s.uiCompCount, 3u);
    std::vector<std::wstring> got = Planes(out.s);
    EXPECT_EQ(got, (std::vector<std::wstring>{L"Red/1/0/0000FF", L"rgb/1/0/123456", L"Blue/1/0/FF0000"}));
    EXPECT_EQ(Samples(out.s), (std::vector<std::wstring>{L"S1"}));
    // Refusals: not one colour plane, too few destination planes, no destination sample setting.
    EXPECT_EQ(PS::ExtractReorderedPlanes(out.s, src.s, colours, true), -9);
    Set small({{1, 0, 1, W, L"x"}, {1, 0, 1, W, L"y"}}, 1);
    EXPECT_EQ(PS::ExtractReorderedPlanes(small.s, rgb.s, colours, true), -9);
    Set noSample({{1, 0, 1, W, L"x"}, {1, 0, 1, W, L"y"}, {1, 0, 1, W, L"z"}}, 0);
    EXPECT_EQ(PS::ExtractReorderedPlanes(noSample.s, rgb.s, colours, true), -9);
}

TEST(PlaneSetSelect, ExpandRGBPlanes)
{
    Set src({{3, 0, 0x102, 0x123456, L"rgb"}, {1, 0, 1, 1, L"m"}, {2, 0, 1, 2, L"two"}, {3, 0, 1, 3, L"rgb2"}}, 1);
    struct Case {
        std::initializer_list<unsigned> members;
        std::vector<std::wstring> planes;
    } cases[] = {
        {{3}, {L"rgb/3/0/123456", L"m/1/0/000001", L"rgb2/3/0/000003"}},
        {{1}, {L"Blue/1/0/FF0000", L"Green/1/0/00FF00", L"Red/1/0/0000FF", L"m/1/0/000001", L"rgb2/3/0/000003"}},
        {{8}, {L"rgb/3/0/123456", L"m/1/0/000001", L"Blue/1/0/FF0000", L"Green/1/0/00FF00", L"Red/1/0/0000FF"}},
    };
    for (const auto& c : cases) {
        Set dst({{1, 0, 1, W, L"old"}}, 1);
        dst.s.uiCompCount = 77;
        CKzRangeMask m = Mask(9, c.members);
        EXPECT_EQ(PS::ExpandRGBPlanes(dst.s, src.s, m), c.planes.size());
        EXPECT_EQ(Planes(dst.s), c.planes);
        EXPECT_EQ(dst.s.uiCompCount, 77u);
        EXPECT_EQ(dst.s.uiSampleCount, 1u);
    }
}

// ---------------------------------------------------------------------------
// Building and merging

TEST(PlaneSetBuild, MakeCompatible)
{
    struct Case {
        std::vector<kz_uint32> comps;  // planes of the set before
        unsigned n;
        int result;
        unsigned planes;
        bool kept;
    } cases[] = {
        {{3}, 3, 2, 1, true}, {{3}, 1, 1, 1, false}, {{3}, 4, 4, 4, false}, {{1}, 1, 1, 1, true},
        {{1, 1}, 2, 4, 2, true}, {{1, 1}, 3, 2, 1, false}, {{}, 0, 4, 0, false}, {{1}, 0, 4, 0, false},
        {{2, 2}, 4, 4, 2, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.n);
        Set s;
        PS::Alloc(s.s, (unsigned)c.comps.size(), 2);
        kz_uint32 sum = 0;
        for (size_t i = 0; i < c.comps.size(); ++i) {
            s.s.pPlanes[i].uiCompCount = c.comps[i];
            s.s.pPlanes[i].sDescription = L"named";
            s.s.pPlanes[i].uiColor = 5;
            sum += c.comps[i];
        }
        s.s.uiCompCount = sum;
        s.s.sDescription = L"d";
        s.s.eRepresentation = 2;
        EXPECT_EQ(PS::MakeCompatible(s.s, c.n), c.result);
        EXPECT_EQ(s.s.uiCount, c.planes);
        EXPECT_EQ(s.s.uiCompCount, c.n);
        EXPECT_EQ(std::wstring(s.s.sDescription.GetString()), L"d");
        EXPECT_EQ(s.s.eRepresentation, 2u);
        if (c.kept) {
            EXPECT_EQ(s.s.uiSampleCount, 2u);
        } else {
            EXPECT_EQ(s.s.uiSampleCount, 1u);
            for (unsigned i = 0; i < s.s.uiCount; ++i) {
                EXPECT_EQ(s.s.pPlanes[i].uiColor, W);
                EXPECT_EQ(s.s.pPlanes[i].uiModalityMask, 1u);
                EXPECT_TRUE(s.s.pPlanes[i].sDescription.IsEmpty());
            }
        }
    }
    // Absurd component counts empty the set instead of allocating.
    for (unsigned n : {65537u, 1u << 31, UINT_MAX}) {
        Set s({{1, 0, 1, W, L"x"}}, 1);
        EXPECT_EQ(PS::MakeCompatible(s.s, n), 4);
        EXPECT_EQ(s.s.uiCount, 0u);
        EXPECT_EQ(s.s.pPlanes, nullptr);
        EXPECT_EQ(s.s.uiSampleCount, 0u);
    }
}

TEST(PlaneSetBuild, MonoAndRGB)
{
    Set s({{1, 0, 1, 1, L"a"}, {1, 0, 1, 1, L"b"}}, 3);
    s.s.eRepresentation = 2;
    s.s.sDescription = L"d";
    EXPECT_EQ(PS::MakeMono(s.s), 0);
    EXPECT_EQ(Planes(s.s), (std::vector<std::wstring>{L"Mono/1/0/FFFFFF"}));
    EXPECT_EQ(s.s.uiSampleCount, 1u);
    EXPECT_EQ(s.s.eRepresentation, 0u);
    EXPECT_EQ(s.s.uiCompCount, 1u);
    s.s.eRepresentation = 2;
    EXPECT_EQ(PS::MakeRGB(s.s), 0);
    EXPECT_EQ(Planes(s.s), (std::vector<std::wstring>{L"Brightfield/3/0/FFFFFF"}));
    EXPECT_EQ(s.s.pPlanes[0].uiModalityMask, 2u);
    EXPECT_EQ(s.s.uiCompCount, 3u);
    EXPECT_EQ(s.s.eRepresentation, 0u);
    EXPECT_EQ(std::wstring(s.s.sDescription.GetString()), L"d");
}

TEST(PlaneSetBuild, CopyFirstPlanes)
{
    Set src({{1, 3, 1, 1, L"a"}, {3, 1, 1, 2, L"b"}, {1, 3, 1, 3, L"c"}}, 4);
    src.s.sDescription = L"src";
    src.s.eRepresentation = 2;
    Set dst({{1, 0, 1, W, L"old"}}, 1);
    EXPECT_EQ(PS::Copy(dst.s, src.s, 2), 0);
    EXPECT_EQ(Planes(dst.s), (std::vector<std::wstring>{L"a/1/0/000001", L"b/3/1/000002"}));
    EXPECT_EQ(Samples(dst.s), (std::vector<std::wstring>{L"S3", L"S1"}));
    EXPECT_EQ(dst.s.uiCompCount, 4u);
    EXPECT_EQ(dst.s.eRepresentation, 2u);
    EXPECT_EQ(std::wstring(dst.s.sDescription.GetString()), L"src");
    EXPECT_EQ(PS::Copy(dst.s, src.s, 4), -4);
    EXPECT_EQ(dst.s.uiCount, 2u);
    // A sample index naming nothing gets a default setting.
    src.s.pPlanes[0].uiSampleIndex = 99;
    EXPECT_EQ(PS::Copy(dst.s, src.s, 3), 0);
    EXPECT_EQ(Samples(dst.s), (std::vector<std::wstring>{L"", L"S1", L"S3"}));
    EXPECT_EQ(Planes(dst.s)[0], L"a/1/0/000001");
    // Without sample settings the planes are copied and -4 reported.
    Set bare({{1, 0, 1, 9, L"q"}}, 0);
    EXPECT_EQ(PS::Copy(dst.s, bare.s, 1), -4);
    EXPECT_EQ(Planes(dst.s), (std::vector<std::wstring>{L"q/1/0/000009"}));
    // A set copied from itself.
    EXPECT_EQ(PS::Copy(src.s, src.s, 2), 0);
    EXPECT_EQ(Planes(src.s), (std::vector<std::wstring>{L"a/1/0/000001", L"b/3/1/000002"}));
    EXPECT_EQ(Samples(src.s), (std::vector<std::wstring>{L"", L"S1"}));
}

TEST(PlaneSetBuild, CopyPlaneAndAddPlane)
{
    Set src({{1, 1, 1, 7, L"new"}}, 2);
    // Unshared: the plane's sample setting is overwritten.
    Set a({{1, 0, 1, 1, L"a"}, {1, 1, 1, 2, L"b"}}, 2);
    EXPECT_EQ(PS::CopyPlane(a.s, 0, src.s, 0), 0);
    EXPECT_EQ(Planes(a.s), (std::vector<std::wstring>{L"new/1/0/000007", L"b/1/1/000002"}));
    EXPECT_EQ(Samples(a.s), (std::vector<std::wstring>{L"S1", L"S1"}));
    // Shared: a sample setting is added for the replaced plane only.
    Set b({{1, 0, 1, 1, L"a"}, {1, 0, 1, 2, L"b"}}, 1);
    EXPECT_EQ(PS::CopyPlane(b.s, 1, src.s, 0), 0);
    EXPECT_EQ(Planes(b.s), (std::vector<std::wstring>{L"a/1/0/000001", L"new/1/1/000007"}));
    EXPECT_EQ(Samples(b.s), (std::vector<std::wstring>{L"S0", L"S1"}));
    // A plane naming no sample setting takes the growing path.
    Set c({{1, 5, 1, 1, L"a"}}, 1);
    EXPECT_EQ(PS::CopyPlane(c.s, 0, src.s, 0), 0);
    EXPECT_EQ(Samples(c.s), (std::vector<std::wstring>{L"S0", L"S1"}));
    EXPECT_EQ(c.s.pPlanes[0].uiSampleIndex, 1u);
    EXPECT_EQ(PS::CopyPlane(c.s, 1, src.s, 0), -9);
    EXPECT_EQ(PS::CopyPlane(c.s, 0, src.s, 1), -9);
    // Within one set.
    Set d({{1, 0, 1, 1, L"a"}, {1, 1, 1, 2, L"b"}}, 2);
    EXPECT_EQ(PS::CopyPlane(d.s, 0, d.s, 1), 0);
    EXPECT_EQ(Planes(d.s)[0], L"b/1/0/000002");

    // AddPlane: an equal sample setting is reused.
    Set e({{1, 0, 1, 1, L"a"}}, 2);
    e.s.pSamples[1].sSpecSettings = L"S1";
    EXPECT_EQ(PS::AddPlane(e.s, src.s, 0), 0);
    EXPECT_EQ(Planes(e.s), (std::vector<std::wstring>{L"a/1/0/000001", L"new/1/1/000007"}));
    EXPECT_EQ(e.s.uiSampleCount, 2u);
    EXPECT_EQ(e.s.uiCompCount, 2u);
    Set f({{1, 0, 1, 1, L"a"}}, 1);
    EXPECT_EQ(PS::AddPlane(f.s, src.s, 0), 0);
    EXPECT_EQ(Samples(f.s), (std::vector<std::wstring>{L"S0", L"S1"}));
    EXPECT_EQ(f.s.pPlanes[1].uiSampleIndex, 1u);
    EXPECT_EQ(PS::AddPlane(f.s, src.s, 1), -4);
    Set empty;
    EXPECT_EQ(PS::AddPlane(f.s, empty.s, 0), -4);
    // A source plane without a sample setting adds a default one and refers to 0.
    src.s.pPlanes[0].uiSampleIndex = 9;
    EXPECT_EQ(PS::AddPlane(f.s, src.s, 0), 0);
    EXPECT_EQ(Samples(f.s), (std::vector<std::wstring>{L"S0", L"S1", L""}));
    EXPECT_EQ(f.s.pPlanes[2].uiSampleIndex, 0u);
    // Adding a plane of the set itself.
    EXPECT_EQ(PS::AddPlane(f.s, f.s, 1), 0);
    EXPECT_EQ(f.s.uiCount, 4u);
    EXPECT_EQ(f.s.pPlanes[3].uiSampleIndex, 1u);
}

TEST(PlaneSetBuild, MergeWhole)
{
    Set a({{1, 0, 1, 1, L""}}, 1), b({{1, 0, 1, 2, L""}}, 1);
    EXPECT_EQ(PS::MergePlanes(a.s, b.s, false), 2u);
    EXPECT_EQ(Planes(a.s), (std::vector<std::wstring>{L"Mono/1/0/000001", L"Mono/1/1/000002"}));
    EXPECT_EQ(Samples(a.s), (std::vector<std::wstring>{L"S0", L"S0"}));
    EXPECT_EQ(a.s.uiCompCount, 2u);
    Set c({{1, 0, 1, 1, L""}}, 1), d({{1, 0, 1, 2, L""}}, 1);
    PS::MergePlanes(c.s, d.s, true);
    EXPECT_EQ(Planes(c.s), (std::vector<std::wstring>{L"Mono 1/1/0/000001", L"Mono 2/1/1/000002"}));
    // Source indexes beyond the merged sample settings are limited.
    Set e({{3, 0, 1, 1, L"x"}}, 0), f({{1, 4, 1, 2, L"y"}, {1, 0, 1, 3, L"z"}}, 2);
    PS::MergePlanes(e.s, f.s, false);
    EXPECT_EQ(Planes(e.s), (std::vector<std::wstring>{L"x/3/0/000001", L"y/1/1/000002", L"z/1/0/000003"}));
    // A set merged with itself appends a copy of its planes.
    Set g({{1, 0, 1, 1, L"p"}, {3, 1, 1, 2, L"q"}}, 2);
    EXPECT_EQ(PS::MergePlanes(g.s, g.s, false), 4u);
    EXPECT_EQ(Planes(g.s),
              (std::vector<std::wstring>{L"p/1/0/000001", L"q/3/1/000002", L"p/1/2/000001", L"q/3/3/000002"}));
    EXPECT_EQ(Samples(g.s), (std::vector<std::wstring>{L"S0", L"S1", L"S0", L"S1"}));
    EXPECT_EQ(g.s.uiCompCount, 8u);
}

TEST(PlaneSetBuild, MergeMasked)
{
    Set src({{1, 1, 1, 1, L"m"}, {3, 0, 1, 0x123456, L"rgb"}, {1, 1, 1, 2, L"n"}}, 2);
    struct Case {
        std::initializer_list<unsigned> members;
        std::vector<std::wstring> planes;
        std::vector<std::wstring> samples;
        unsigned comps;
    } cases[] = {
        {{1, 3}, {L"d/1/0/000009", L"Blue/1/1/FF0000", L"Red/1/1/0000FF"}, {L"S0", L"S0"}, 3},
        {{0, 4}, {L"d/1/0/000009", L"m/1/1/000001", L"n/1/1/000002"}, {L"S0", L"S1"}, 3},
        {{0, 1, 2, 3}, {L"d/1/0/000009", L"m/1/1/000001", L"rgb/3/2/123456"}, {L"S0", L"S1", L"S0"}, 5},
        {{}, {L"d/1/0/000009"}, {L"S0"}, 1},
    };
    for (const auto& c : cases) {
        Set dst({{1, 0, 1, 9, L"d"}}, 1);
        CKzRangeMask m = Mask(5, c.members);
        EXPECT_EQ(PS::MergePlanes(dst.s, src.s, m, false), c.planes.size());
        EXPECT_EQ(Planes(dst.s), c.planes);
        EXPECT_EQ(Samples(dst.s), c.samples);
        EXPECT_EQ(dst.s.uiCompCount, c.comps);
    }
    // Lone unnamed mono planes are named on both sides; a set merged with itself.
    Set a({{1, 0, 1, 1, L""}}, 1);
    CKzRangeMask one = Mask(1, {0});
    EXPECT_EQ(PS::MergePlanes(a.s, a.s, one, true), 2u);
    EXPECT_EQ(Planes(a.s), (std::vector<std::wstring>{L"Mono 1/1/0/000001", L"Mono 2/1/1/000001"}));
}

TEST(PlaneSetBuild, SameNamesAndSwap)
{
    Set s({{1, 0, 1, 1, L"A"}, {1, 0, 1, 1, L"B"}, {1, 0, 1, 1, L"A"}, {1, 0, 1, 1, L"A"}}, 1);
    EXPECT_TRUE(PS::CheckForSameNames(s.s));
    EXPECT_EQ(Planes(s.s), (std::vector<std::wstring>{L"A 1/1/0/000001", L"B/1/0/000001", L"A 2/1/0/000001",
                                                      L"A 3/1/0/000001"}));
    EXPECT_FALSE(PS::CheckForSameNames(s.s));
    Set t({{3, 0, 1, 2, L"T"}}, 2);
    t.s.sDescription = L"t";
    PS::Swap(s.s, t.s);
    EXPECT_EQ(s.s.uiCount, 1u);
    EXPECT_EQ(s.s.uiSampleCount, 2u);
    EXPECT_EQ(t.s.uiCount, 4u);
    EXPECT_EQ(std::wstring(s.s.sDescription.GetString()), L"t");
}

// ---------------------------------------------------------------------------
// Queries and conversions

TEST(PlaneSetQuery, ModalityQueriesAndConversions)
{
    Set q({{1, 0, 0x400001, 1, L"a"}, {1, 0, 0x1000000 | 0x2, 1, L"b"}, {1, 0, 0x800001, 1, L"c"}}, 1);
    EXPECT_TRUE(q.s.IsQIRA());
    q.s.pPlanes[1].uiCompCount = 3;
    q.s.pPlanes[1].uiModalityMask = 0x2;
    EXPECT_FALSE(q.s.IsQIRA());
    q.s.pPlanes[1].uiCompCount = 1;
    EXPECT_TRUE(q.s.IsQIRA());
    q.s.ConvertToHDR();
    EXPECT_TRUE(q.s.IsHDR());
    EXPECT_FALSE(q.s.IsQIRA());
    EXPECT_EQ(q.s.ConvertToNonQIRA(), -9);

    struct Case {
        unsigned planes;
        std::vector<kz_uint64> masks;
    } qira[] = {
        {4, {0x400001, 0x400001, 0x800001, 0x800001}},
        {3, {0x400001, 0x2 | 0x200000, 0x800001}},
    };
    for (const auto& c : qira) {
        Set s;
        PS::Alloc(s.s, c.planes, 0);
        for (unsigned i = 0; i < c.planes; ++i) s.s.pPlanes[i].uiModalityMask = 0x200002 | 0x1000;
        s.s.eRepresentation = 2;
        EXPECT_EQ(s.s.ConvertToQIRA(), 0);
        EXPECT_EQ(s.s.eRepresentation, 0u);
        for (unsigned i = 0; i < c.planes; ++i)
            EXPECT_EQ(s.s.pPlanes[i].uiModalityMask, c.masks[i] | 0x1000) << i;
    }
    Set one({{1, 0, 1, 1, L"a"}}, 1);
    EXPECT_EQ(one.s.ConvertToQIRA(), -9);

    Set sp({{1, 0, 0x1 | 0x400000, 1, L"f"}, {1, 0, 0x2, 1, L"bf"}}, 1);
    sp.s.eRepresentation = 2;
    EXPECT_EQ(sp.s.ConvertToSpectral(), 0);
    EXPECT_EQ(sp.s.pPlanes[0].uiModalityMask, 0x200001u);
    EXPECT_EQ(sp.s.pPlanes[1].uiModalityMask, 0x2u);
    EXPECT_EQ(sp.s.eRepresentation, 0u);
    EXPECT_TRUE(sp.s.IsSpectral());
    sp.s.ConvertToHDR();
    EXPECT_FALSE(sp.s.IsSpectral());
    EXPECT_EQ(sp.s.ConvertToNonSpectral(), -9);
    sp.s.eRepresentation = 0;
    EXPECT_EQ(sp.s.ConvertToNonSpectral(), 0);
    EXPECT_EQ(sp.s.pPlanes[0].uiModalityMask, 0x1u);
    Set sp3({{1, 0, 0x1, 1, L"f"}, {3, 0, 0x2, 1, L"bf"}}, 1);
    sp3.s.eRepresentation = 2;
    EXPECT_EQ(sp3.s.ConvertToSpectral(), -9);
    EXPECT_EQ(sp3.s.pPlanes[0].uiModalityMask, 0x200001u);
    EXPECT_EQ(sp3.s.eRepresentation, 2u);
    Set notTD({{1, 0, 0x200001, 1, L"s"}, {1, 0, 0x1, 1, L"f"}}, 1);
    EXPECT_FALSE(notTD.s.IsSpectral());
    Set empty;
    EXPECT_FALSE(empty.s.IsSpectral());
    EXPECT_FALSE(empty.s.IsQIRA());

    Set nt({{1, 0, 0x1, 1, L"a"}, {1, 0, 0x2, 1, L"b"}, {1, 0, 0x101, 1, L"c"}}, 2);
    EXPECT_EQ(PS::GetNonTransmittedPlanesCount(nt.s, nullptr), 2u);
    CKzRangeMask first = Mask(3, {0, 1});
    EXPECT_EQ(PS::GetNonTransmittedPlanesCount(nt.s, &first), 1u);
    EXPECT_EQ(PS::GetNonTransmittedChannelCount(nt.s, nullptr), 2u);
    Set rgb({{3, 0, 0x2, 1, L"rgb"}}, 1);
    EXPECT_EQ(PS::GetNonTransmittedChannelCount(rgb.s, nullptr), 3u);
    nt.s.pSamples[1].dExposureTime = -5;
    EXPECT_EQ(PS::GetExposureTime(nt.s), 10.0);
    nt.s.pSamples[0].dExposureTime = 0;
    EXPECT_EQ(PS::GetExposureTime(nt.s), 0.0);
}

TEST(PlaneSetQuery, EqualityOfPlanesAndSets)
{
    Set a({{1, 0, 1, 1, L"a"}, {3, 1, 2, 2, L"b"}}, 2), b({{1, 1, 1, 1, L"a"}, {3, 0, 2, 2, L"b"}}, 2);
    SKzSampleSetting::SetOCName(a.s.pSamples[0], 1, CKzStringW(L"oc"));
    SKzSampleSetting::SetOCName(b.s.pSamples[1], 1, CKzStringW(L"oc"));
    EXPECT_TRUE(PS::IsPlaneEqual(a.s, 0, b.s, 0));
    EXPECT_TRUE(PS::IsPlaneEqual(a.s, 1, b.s, 1));
    EXPECT_TRUE(PS::IsEqual(a.s, b.s));
    SKzSampleSetting::SetOCName(b.s.pSamples[0], 1, CKzStringW(L"oc"));
    EXPECT_FALSE(PS::IsPlaneEqual(a.s, 1, b.s, 1));  // "oc" on one side only
    EXPECT_FALSE(PS::IsEqual(a.s, b.s));
    SKzSampleSetting::SetOCName(a.s.pSamples[1], 1, CKzStringW(L"oc"));
    EXPECT_TRUE(PS::IsEqual(a.s, b.s));
    SKzSampleSetting::SetOCName(b.s.pSamples[0], 1, CKzStringW(L"other"));
    EXPECT_FALSE(PS::IsPlaneEqual(a.s, 1, b.s, 1));
    SKzSampleSetting::SetOCName(b.s.pSamples[0], 2, CKzStringW(L"oc"));
    SKzSampleSetting::SetOCName(b.s.pSamples[0], 1, CKzStringW(L"oc"));
    EXPECT_FALSE(PS::IsPlaneEqual(a.s, 1, b.s, 1));  // one name more
    EXPECT_FALSE(PS::IsPlaneEqual(a.s, 2, b.s, 0));
    // Missing sample settings on both sides are equal; on one side not.
    a.s.pPlanes[0].uiSampleIndex = 9;
    EXPECT_FALSE(PS::IsPlaneEqual(a.s, 0, b.s, 0));
    b.s.pPlanes[0].uiSampleIndex = 9;
    EXPECT_TRUE(PS::IsPlaneEqual(a.s, 0, b.s, 0));
    b.s.pPlanes[0].sDescription = L"z";
    EXPECT_FALSE(PS::IsPlaneEqual(a.s, 0, b.s, 0));
    EXPECT_TRUE(PS::IsCompatible(a.s, b.s));
    Set c({{1, 0, 1, 1, L"a"}, {1, 0, 1, 1, L"b"}}, 1);
    EXPECT_FALSE(PS::IsCompatible(a.s, c.s));
    Set e1, e2;
    EXPECT_TRUE(PS::IsCompatible(e1.s, e2.s));
    EXPECT_FALSE(PS::IsEqual(e1.s, e2.s));
}

struct HashPlane {
    kz_uint32 comps, sample;
    kz_uint64 mask;
    kz_uint32 colour;
    const wchar_t* name;
};
struct HashCase {
    kz_uint32 start, expected;
    unsigned count;
    HashPlane planes[2];
};
const HashCase kHashCases[] = {
#include "planeset_hash_reference.inc"
};

TEST(PlaneSetQuery, HashMatchesZlibReference)
{
    for (const HashCase& c : kHashCases) {
        SCOPED_TRACE(c.expected);
        Set s;
        PS::Alloc(s.s, c.count, 0);
        for (unsigned i = 0; i < c.count; ++i) {
            s.s.pPlanes[i].uiCompCount = c.planes[i].comps;
            s.s.pPlanes[i].uiSampleIndex = c.planes[i].sample;
            s.s.pPlanes[i].uiModalityMask = c.planes[i].mask;
            s.s.pPlanes[i].uiColor = c.planes[i].colour;
            s.s.pPlanes[i].sDescription = c.planes[i].name;
        }
        unsigned h = c.start;
        EXPECT_EQ(s.s.GetHash(h), 0);
        EXPECT_EQ(h, c.expected);
    }
    Set empty;
    unsigned h = 0x1234;
    empty.s.GetHash(h);
    EXPECT_EQ(h, 0x1234u);
}

// ---------------------------------------------------------------------------
// Colours

TEST(PlaneSetColors, WithoutLut)
{
    const unsigned X = 0xDEADBEEF;
    struct Case {
        const char* what;
        std::initializer_list<P> planes;
        bool useMask;
        std::initializer_list<unsigned> members;
        bool useColors;
        std::vector<unsigned> colours;
    } cases[] = {
        {"full selection forces colours", {{3, 0, 2, 0x563412, L"rgb"}}, false, {}, false, {0x560000, 0x003400, 0x000012}},
        {"one of two monos", {{1, 0, 1, 0x11, L"a"}, {1, 0, 1, 0x22, L"b"}}, true, {1}, false, {W, W}},
        {"two monos with colours", {{1, 0, 1, 0x11, L"a"}, {1, 0, 1, 0x22, L"b"}, {1, 0, 1, 0x33, L"c"}}, true, {0, 2}, true,
         {0x11, 0, 0x33}},
        {"two monos white", {{1, 0, 1, 0x11, L"a"}, {1, 0, 1, 0x22, L"b"}, {1, 0, 1, 0x33, L"c"}}, true, {0, 2}, false,
         {W, 0, W}},
        {"colour plane partly", {{3, 0, 2, 0x563412, L"rgb"}, {1, 0, 1, 0x44, L"m"}}, true, {1, 3}, true,
         {0, 0x003400, 0, 0x44}},
        {"colour plane white", {{3, 0, 2, 0x563412, L"rgb"}, {1, 0, 1, 0x44, L"m"}}, true, {0, 1}, false, {W, W, 0, 0}},
        {"other widths write nothing", {{2, 0, 1, 0x11, L"two"}, {1, 0, 1, 0x22, L"m"}}, true, {0, 2}, true, {X, X, 0x22}},
        {"spectral without lut", {{1, 0, 0x200001, 0x11, L"a"}, {1, 0, 0x200001, 0x22, L"b"}}, true, {0, 1}, false,
         {0x11, 0x22}},
        {"spectral without lut white", {{1, 0, 0x200001, 0x11, L"a"}, {1, 0, 0x200001, 0x22, L"b"}, {1, 0, 0x200001, 0x33, L"c"}},
         true, {0, 1}, false, {W, W, W}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Set s(c.planes, 1);
        std::vector<unsigned> out(s.s.uiCompCount, X);
        CKzRangeMask m = Mask(s.s.uiCompCount, c.members);
        EXPECT_EQ(PS::GetPlaneColors(s.s, out.data(), c.useMask ? &m : nullptr, c.useColors, nullptr), 0);
        EXPECT_EQ(out, c.colours);
    }
    Set s({{1, 0, 1, 1, L"a"}}, 1);
    EXPECT_EQ(PS::GetPlaneColors(s.s, nullptr, nullptr, false, nullptr), -9);
}

TEST(PlaneSetColors, WritesStayWithinTheComponentCount)
{
    // The planes describe 7 components; the set says 4: exactly 4 entries are written.
    Set s({{1, 0, 1, 0x11, L"a"}, {1, 0, 1, 0x22, L"b"}, {3, 0, 1, 0x123456, L"c"}, {2, 0, 1, 0x44, L"d"}}, 1);
    s.s.uiCompCount = 4;
    for (bool useMask : {false, true}) {
        std::unique_ptr<unsigned[]> exact(new unsigned[4]);
        std::fill(exact.get(), exact.get() + 4, 0xDEADBEEFu);
        CKzRangeMask m = Mask(64, {0, 1, 2, 3, 4, 5, 6});
        EXPECT_EQ(PS::GetPlaneColors(s.s, exact.get(), useMask ? &m : nullptr, true, nullptr), 0);
        EXPECT_EQ(exact[0], 0x11u);
        EXPECT_EQ(exact[1], 0x22u);
        EXPECT_EQ(exact[2], 0x120000u);
        EXPECT_EQ(exact[3], 0x003400u);
    }
    // A set whose component count is 0 writes nothing.
    s.s.uiCompCount = 0;
    unsigned none = 0xDEADBEEF;
    EXPECT_EQ(PS::GetPlaneColors(s.s, &none, nullptr, true, nullptr), 0);
    EXPECT_EQ(none, 0xDEADBEEFu);
}

// LUT parameters whose spectral data has the given mode, component count,
// channel groups and colours (group colours in mode 2, node colours else).
std::unique_ptr<SKzLutParam> Lut(unsigned mode, unsigned count, std::vector<unsigned> groups,
                                 std::vector<unsigned> colours)
{
    auto lut = std::make_unique<SKzLutParam>();
    SKzLutParam::SKzLUTDataSpectral& s = lut->sLutDataSpectral;
    s.uiSpectralColorMode = mode;
    s.uiCompCount = count;
    for (size_t i = 0; i < groups.size(); ++i) lut->sCompLutParam[i].uiGroup = groups[i];
    s.uiGroupCount = (unsigned)colours.size();
    s.Realloc(s.uiGroupCount);
    for (size_t i = 0; i < colours.size(); ++i) {
        s.puiColorGroup[i] = colours[i];
        s.puiColorCustom[i] = colours[i];
    }
    return lut;
}

TEST(PlaneSetColors, LutBranches)
{
    Set s({{1, 0, 0x200001, 0x11, L"a"}, {1, 0, 0x200001, 0x22, L"b"}, {1, 0, 0x200001, 0x33, L"c"}}, 1);
    CKzRangeMask two = Mask(3, {0, 1});
    const unsigned A = 0xA00000, B = 0xA00001, C = 0xA00002;
    // Three custom-colour nodes over three components: the first two share a
    // segment, the second reaches node 1 fully, the third node 2.
    const unsigned n0 = InterpolateColorHSI8(A, B, 0), n1 = InterpolateColorHSI8(A, B, 65536),
                   n2 = InterpolateColorHSI8(B, C, 65536);
    struct Case {
        const char* what;
        unsigned mode;
        unsigned count;
        std::vector<unsigned> groups;
        std::vector<unsigned> lutColours;
        bool useColors;
        std::vector<unsigned> colours;
    } cases[] = {
        {"true colour", 0, 3, {0, 1, 2}, {A, B, C}, false, {0x11, 0x22, 0x33}},
        {"custom colours", 1, 3, {0, 1, 2}, {A, B, C}, false, {n0, n1, n2}},
        {"custom, one node", 1, 3, {0, 0, 0}, {A}, false, {A, A, A}},
        {"grouped", 2, 3, {0, 1, 2}, {A, B, C}, false, {A, B, C}},
        {"grouped, one group", 2, 3, {0, 0, 1}, {A, B}, false, {W, W, W}},
        {"grouped, one group, colours", 2, 3, {0, 0, 1}, {A, B}, true, {A, A, B}},
        {"grouped, disabled group loses its flag", 2, 3, {0, 1, 2}, {A, 0xFF0000AA, C}, false, {A, 0xAA, C}},
        {"grey", 3, 3, {0, 1, 2}, {A, B, C}, true, {W, W, W}},
        {"components past the spectral count", 2, 2, {0, 1, 2}, {A, B, C}, false, {A, B, 0x33}},
        {"no spectral components", 1, 0, {0, 1, 2}, {A, B, C}, false, {0x11, 0x22, 0x33}},
        {"count beyond the records", 1, 193, {0, 1, 2}, {A, B, C}, false, {0x11, 0x22, 0x33}},
        {"other mode", 9, 3, {0, 1, 2}, {A, B, C}, false, {0x11, 0x22, 0x33}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto lut = Lut(c.mode, c.count, c.groups, c.lutColours);
        std::vector<unsigned> out(3, 0xDEADBEEF);
        EXPECT_EQ(PS::GetPlaneColors(s.s, out.data(), &two, c.useColors, lut.get()), 0);
        EXPECT_EQ(out, c.colours);
    }
    // Not spectral: the LUT is not asked and its groups stay as they are.
    Set plain({{1, 0, 1, 0x11, L"a"}, {1, 0, 1, 0x22, L"b"}}, 1);
    auto lut = Lut(1, 2, {5, 5}, {A, B});
    std::vector<unsigned> out(2);
    CKzRangeMask both = Mask(2, {0, 1});
    PS::GetPlaneColors(plain.s, out.data(), &both, false, lut.get());
    EXPECT_EQ(out, (std::vector<unsigned>{0x11, 0x22}));
    EXPECT_EQ(lut->sCompLutParam[0].uiGroup, 5u);
}

TEST(PlaneSetColors, NewLutShowsPlaneColours)
{
    // A new record is in true-colour mode: the planes' own colours, where
    // without a LUT two of three selected components are shown white.
    Set s({{1, 0, 0x200001, 0x11, L"a"}, {1, 0, 0x200001, 0x22, L"b"}, {1, 0, 0x200001, 0x33, L"c"}}, 1);
    CKzRangeMask two = Mask(3, {0, 1});
    auto lut = std::make_unique<SKzLutParam>();
    std::vector<unsigned> with(3), without(3);
    PS::GetPlaneColors(s.s, with.data(), &two, false, lut.get());
    PS::GetPlaneColors(s.s, without.data(), &two, false, nullptr);
    EXPECT_EQ(with, (std::vector<unsigned>{0x11, 0x22, 0x33}));
    EXPECT_EQ(without, (std::vector<unsigned>{W, W, W}));
}

} // namespace
