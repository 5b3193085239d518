// Plane sets: allocation, deep and shallow copies, per-plane accessors, both
// stored forms and the rules for reading older files.
#include "host_test_support.h"

#include "gnr_metaformats/SKzCameraSetting.h"

using namespace kzmt;

namespace {

class PlaneSet : public NoHost {};
class PlaneSetHost : public HostTables {};

// A set of two planes (one of three components) and two sample settings.
void Build(SKzPicturePlanes& s)
{
    ASSERT_EQ(0, SKzPicturePlanes::Alloc(s, 2, 2));
    s.uiCompCount = 4;
    s.pPlanes[0].uiCompCount = 1;
    s.pPlanes[0].sDescription = L"GFP";
    s.pPlanes[0].uiColor = 0x00FF00;
    CKzStringW gfp(L"EGFP");
    s.pPlanes[0].pFluorescentProbe = CKzFluorescentProbe(gfp, 488, 507);
    s.pPlanes[0].pFilterPath = CKzOpticalFilterPath(Filter(1, Band(470, 490), CKzOpticalFilterSpectrum()),
                                                    Filter(2, CKzOpticalFilterSpectrum(), Band(500, 550)));
    s.pPlanes[1].uiCompCount = 3;
    s.pPlanes[1].uiModalityMask = 0x102;
    s.pPlanes[1].uiSampleIndex = 1;
    s.pPlanes[1].sDescription = L"Colour";
    s.pPlanes[1].dPinholeDiameter = 2.5;
    SKzSampleSetting::SetOCName(s.pSamples[0], 1, CKzStringW(L"FITC"));
    SKzSampleSetting::SetOCName(s.pSamples[0], 2, CKzStringW(L"Ex 488"));
    s.pSamples[0].dExposureTime = 100;
    SKzSampleSetting::SetOCName(s.pSamples[1], 1, CKzStringW(L"Brightfield"));
    s.pSamples[1].uiModeFQ = 2;
    s.sDescription = L"two channels";
    s.eRepresentation = 2;
}

struct Holder {
    SKzPicturePlanes s;
    ~Holder() { SKzPicturePlanes::Free(s); }
};

TEST_F(PlaneSet, AllocFreeAndAccessors)
{
    Holder h;
    SKzPicturePlanes& s = h.s;
    EXPECT_EQ(0u, s.uiCount + s.uiCompCount + s.uiSampleCount + s.eRepresentation);
    SKzPicturePlanes::Free(s);   // harmless on an empty set
    Build(s);
    EXPECT_EQ(&s.pSamples[0], s.GetPlaneSettings(0));
    EXPECT_EQ(&s.pSamples[1], s.GetPlaneSettings(1));
    EXPECT_EQ(nullptr, s.GetPlaneSettings(2));
    const SKzPicturePlanes& cs = s;
    EXPECT_EQ(&s.pSamples[1], cs.GetPlaneSettings(1));
    s.pPlanes[1].uiSampleIndex = 2;   // past the sample settings
    EXPECT_EQ(nullptr, s.GetPlaneSettings(1));
    EXPECT_EQ(L"", W(SKzPicturePlanes::GetPlaneOCName(s, 1, 0)));
    EXPECT_EQ(-9, SKzPicturePlanes::SetPlaneOCName(s, 1, 1, CKzStringW(L"x")));
    EXPECT_EQ(-9, SKzPicturePlanes::SetPlaneOCName(s, 5, 1, CKzStringW(L"x")));
    s.pPlanes[1].uiSampleIndex = 1;
    struct Case {
        unsigned plane, key;
        const wchar_t* name;
    } names[] = {{0, 0, L"FITC"}, {0, 2, L"Ex 488"}, {0, 4, L""}, {1, 0, L"Brightfield"}, {9, 0, L""}};
    for (const Case& c : names) EXPECT_EQ(c.name, W(SKzPicturePlanes::GetPlaneOCName(s, c.plane, c.key)));
    EXPECT_EQ(L"FITC, Ex 488", W(SKzPicturePlanes::GetPlaneOCNameAll(s, 0)));
    EXPECT_EQ(L"", W(SKzPicturePlanes::GetPlaneOCNameAll(s, 2)));
    EXPECT_EQ(0, SKzPicturePlanes::SetPlaneOCName(s, 1, 4, CKzStringW(L"TL")));
    EXPECT_EQ(L"Brightfield, TL", W(SKzPicturePlanes::GetPlaneOCNameAll(s, 1)));
    EXPECT_EQ(L"", W(SKzPicturePlanes::GetPlaneCameraUniqueName(s, 0)));   // no host: no camera object
    SKzPicturePlanes::Free(s);
    EXPECT_EQ(nullptr, s.pPlanes);
    EXPECT_EQ(nullptr, s.pSamples);
    EXPECT_EQ(0u, s.uiCount + s.uiCompCount + s.uiSampleCount);
    EXPECT_EQ(nullptr, s.GetPlaneSettings(0));
}

TEST_F(PlaneSet, CopyIsDeepAndReusesArrays)
{
    Holder a, b;
    Build(a.s);
    ASSERT_EQ(0, SKzPicturePlanes::Copy(b.s, a.s));
    EXPECT_TRUE(SameSet(a.s, b.s));
    EXPECT_NE(a.s.pPlanes, b.s.pPlanes);
    SKzPicturePlaneDesc* planes = b.s.pPlanes;
    SKzSampleSetting* samples = b.s.pSamples;
    a.s.pPlanes[0].sDescription = L"changed";
    ASSERT_EQ(0, SKzPicturePlanes::Copy(b.s, a.s));
    EXPECT_EQ(planes, b.s.pPlanes);
    EXPECT_EQ(samples, b.s.pSamples);
    EXPECT_EQ(L"changed", W(b.s.pPlanes[0].sDescription));

    // Onto itself, and onto a shallow copy sharing the arrays: unchanged.
    ASSERT_EQ(0, SKzPicturePlanes::Copy(a.s, a.s));
    EXPECT_TRUE(SameSet(a.s, b.s));
    SKzPicturePlanes shallow(a.s);
    EXPECT_EQ(a.s.pPlanes, shallow.pPlanes);
    ASSERT_EQ(0, SKzPicturePlanes::Copy(shallow, a.s));
    EXPECT_EQ(a.s.pPlanes, shallow.pPlanes);
    EXPECT_TRUE(SameSet(a.s, b.s));
    SKzPicturePlanes assigned;
    assigned = a.s;
    EXPECT_EQ(a.s.pSamples, assigned.pSamples);
}

TEST_F(PlaneSet, CopyRefusesSetsWithoutPlanesOrSamples)
{
    Holder src, dst;
    Build(dst.s);
    SKzPicturePlaneDesc* planes = dst.s.pPlanes;
    EXPECT_EQ(-4, SKzPicturePlanes::Copy(dst.s, src.s));   // no planes: unchanged
    EXPECT_EQ(planes, dst.s.pPlanes);
    EXPECT_EQ(2u, dst.s.uiSampleCount);

    ASSERT_EQ(0, SKzPicturePlanes::Alloc(src.s, 3, 0));
    src.s.uiCompCount = 3;
    src.s.sDescription = L"no samples";
    SKzSampleSetting* samples = dst.s.pSamples;
    EXPECT_EQ(-4, SKzPicturePlanes::Copy(dst.s, src.s));   // planes copied, samples left
    EXPECT_EQ(3u, dst.s.uiCount);
    EXPECT_EQ(L"no samples", W(dst.s.sDescription));
    EXPECT_EQ(samples, dst.s.pSamples);
    EXPECT_EQ(2u, dst.s.uiSampleCount);
}

TEST_F(PlaneSet, SurvivesBothFormsFieldByField)
{
    Holder a;
    Build(a.s);
    for (int form = 0; form < 2; ++form) {
        SCOPED_TRACE(form ? "lite" : "variant");
        Holder back;
        if (form) {
            LiteRoundTrip([&](CKzLiteVariantW& w) { EXPECT_EQ(0, SKzPicturePlanes::SaveToLiteVariant(w, a.s)); },
                          [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzPicturePlanes::LoadFromLiteVariant(back.s, r)); });
        } else {
            CKzVariant node(CKzListVariant(), L"planes");
            EXPECT_EQ(0, SKzPicturePlanes::SaveToVariant(node, a.s));
            EXPECT_EQ(0, SKzPicturePlanes::LoadFromVariant(back.s, ThroughXml(node)));
        }
        EXPECT_TRUE(SameSet(a.s, back.s));
    }
    Holder unchanged;
    Build(unchanged.s);
    CKzVariant wrong(CKzListVariant(), L"x");
    EXPECT_EQ(-4, SKzPicturePlanes::LoadFromVariant(unchanged.s, wrong));
    EXPECT_EQ(2u, unchanged.s.uiCount);
}

// Writes a plane level "name" holding a plane of `comps` components named `desc`.
void PlaneLevel(CKzLiteVariantW& w, const wchar_t* name, unsigned comps, const wchar_t* desc)
{
    w.LevelBegin(name);
    SKzPicturePlaneDesc d;
    d.uiCompCount = comps;
    d.sDescription = desc;
    SKzPicturePlaneDesc::SaveToLiteVariant(w, d);
    w.LevelEnd();
}

TEST_F(PlaneSet, LiteCountsAndLookups)
{
    struct Case {
        const char* name;
        LiteSave save;
        unsigned count, comps, samples;
        std::vector<std::wstring> descs;
    } cases[] = {
        {"no uiCount: one plane per component",
         [](CKzLiteVariantW& w) {
             w.Set(3u, L"uiCompCount");
             w.LevelBegin(L"sPlaneNew");
             for (const wchar_t* n : {L"a0", L"a1", L"a2"}) PlaneLevel(w, n, 1, n);
             w.LevelEnd();
         },
         3, 3, 0, {L"a0", L"a1", L"a2"}},
        {"count disagrees: no planes, old list not consulted",
         [](CKzLiteVariantW& w) {
             w.Set(2u, L"uiCount");
             w.Set(2u, L"uiCompCount");
             w.LevelBegin(L"sPlaneNew");
             for (const wchar_t* n : {L"a0", L"a1", L"a2"}) PlaneLevel(w, n, 1, n);
             w.LevelEnd();
             w.LevelBegin(L"sPlane");
             for (const wchar_t* n : {L"a0", L"a1"}) PlaneLevel(w, n, 1, n);
             w.LevelEnd();
         },
         0, 0, 0, {}},
        {"names in any order",
         [](CKzLiteVariantW& w) {
             w.Set(2u, L"uiCount");
             w.Set(2u, L"uiCompCount");
             w.LevelBegin(L"sPlaneNew");
             PlaneLevel(w, L"a1", 1, L"second");
             PlaneLevel(w, L"a0", 1, L"first");
             w.LevelEnd();
         },
         2, 2, 0, {L"first", L"second"}},
        {"unnamed levels by position",
         [](CKzLiteVariantW& w) {
             w.Set(2u, L"uiCount");
             w.Set(4u, L"uiCompCount");
             w.LevelBegin(L"sPlaneNew");
             PlaneLevel(w, L"", 3, L"first");
             PlaneLevel(w, L"", 1, L"second");
             w.LevelEnd();
         },
         2, 4, 0, {L"first", L"second"}},
        {"old plane list when the new one is missing",
         [](CKzLiteVariantW& w) {
             w.Set(1u, L"uiCount");
             w.Set(1u, L"uiCompCount");
             w.LevelBegin(L"sPlane");
             PlaneLevel(w, L"a0", 1, L"old");
             w.LevelEnd();
         },
         1, 1, 0, {L"old"}},
        {"sample count above the children: none",
         [](CKzLiteVariantW& w) {
             w.Set(1u, L"uiCount");
             w.Set(1u, L"uiCompCount");
             w.LevelBegin(L"sPlaneNew");
             PlaneLevel(w, L"a0", 1, L"p");
             w.LevelEnd();
             w.Set(2u, L"uiSampleCount");
             w.LevelBegin(L"sSampleSetting");
             w.LevelBegin(L"a0");
             w.LevelEnd();
             w.LevelEnd();
         },
         1, 1, 0, {L"p"}},
        {"huge counts",
         [](CKzLiteVariantW& w) {
             w.Set(0xFFFFFFFFu, L"uiCount");
             w.Set(0xFFFFFFFFu, L"uiCompCount");
             w.LevelBegin(L"sPlaneNew");
             PlaneLevel(w, L"a0", 1, L"p");
             w.LevelEnd();
             w.Set(0xFFFFFFFFu, L"uiSampleCount");
             w.LevelBegin(L"sSampleSetting");
             w.LevelEnd();
         },
         0, 0, 0, {}},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        Holder h;
        Build(h.s);   // the loader releases what the set held
        LiteRoundTrip(c.save, [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzPicturePlanes::LoadFromLiteVariant(h.s, r)); });
        EXPECT_EQ(c.count, h.s.uiCount);
        EXPECT_EQ(c.comps, h.s.uiCompCount);
        EXPECT_EQ(c.samples, h.s.uiSampleCount);
        EXPECT_EQ(c.samples == 0, h.s.pSamples == nullptr);
        EXPECT_EQ(c.count == 0, h.s.pPlanes == nullptr);
        for (unsigned i = 0; i < c.descs.size() && i < h.s.uiCount; ++i) EXPECT_EQ(c.descs[i], W(h.s.pPlanes[i].sDescription));
        for (unsigned i = 0; i < h.s.uiCount; ++i) EXPECT_EQ(nullptr, h.s.GetPlaneSettings(i));
    }
}

TEST_F(PlaneSet, VariantCountsAndLookups)
{
    Holder a;
    Build(a.s);
    CKzVariant node(CKzListVariant(), L"planes");
    SKzPicturePlanes::SaveToVariant(node, a.s);
    struct Case {
        const char* name;
        void (*change)(CKzVariant&);
        unsigned count, samples;
    } cases[] = {
        {"as saved", [](CKzVariant&) {}, 2, 2},
        {"count above the lists: no planes", [](CKzVariant& n) { n[L"uiCount"] = 0xFFFFFFFFu; }, 0, 2},
        {"two sample settings announced, one present",
         [](CKzVariant& n) { n[L"sSampleSetting"].Delete(1); }, 2, 0},
        {"huge sample count", [](CKzVariant& n) { n[L"uiSampleCount"] = 0xFFFFFFFFu; }, 2, 0},
        {"new list missing: old list", [](CKzVariant& n) { n[L"sPlaneNew"].ClearList(); }, 2, 2},
        {"children renamed: by position", [](CKzVariant& n) {
             n[L"sPlaneNew"][0].SetName(CKzStringW(L"x"));
             n[L"sPlaneNew"][1].SetName(CKzStringW(L"y"));
         }, 2, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CKzVariant n(node);
        c.change(n);
        Holder h;
        EXPECT_EQ(0, SKzPicturePlanes::LoadFromVariant(h.s, n));
        EXPECT_EQ(c.count, h.s.uiCount);
        EXPECT_EQ(c.samples, h.s.uiSampleCount);
        if (c.count) EXPECT_EQ(L"Colour", W(h.s.pPlanes[1].sDescription));
        for (unsigned i = 0; i < h.s.uiCount; ++i)
            EXPECT_EQ(c.samples ? &h.s.pSamples[h.s.pPlanes[i].uiSampleIndex] : nullptr, h.s.GetPlaneSettings(i));
    }
}

// ---- legacy files, with the stand-in host --------------------------------------------

SKzCameraSetting LegacyCamera()
{
    SKzCameraSetting c;
    c.SetToDefault();
    c.sCameraName = L"OldCam";
    c.dExposure = 100;
    c.sCameraFormatName = L"full";
    c.uiCamPxlCountX = 1024;
    c.sSpecSettings = L"legacy";
    return c;
}

void LegacyLitePlane(CKzLiteVariantW& w, const wchar_t* name, bool first)
{
    w.LevelBegin(name);
    w.Set(1u, L"uiCompCount");
    w.Set(L"Green", L"sOpticalConfigName");
    if (first) {
        w.LevelBegin(L"sOpticalConfigFull");
        w.Set(17, L"devValue");
        w.LevelEnd();
    }
    w.Set(2u, L"eModality");
    if (first) {
        w.LevelBegin(L"sCameraSetting");
        SKzCameraSetting::SaveToLiteVariant(w, LegacyCamera());
        w.LevelEnd();
    }
    w.Set(L"plane", L"sDescription");
    w.LevelEnd();
}

TEST_F(PlaneSetHost, LegacyFilesGetOneSampleSetting)
{
    for (int form = 0; form < 2; ++form) {
        SCOPED_TRACE(form ? "lite" : "variant");
        Holder h;
        Calls().devLoad = 0;
        if (form) {
            LiteRoundTrip(
                [](CKzLiteVariantW& w) {
                    w.Set(2u, L"uiCount");
                    w.Set(2u, L"uiCompCount");
                    w.LevelBegin(L"sPlane");
                    LegacyLitePlane(w, L"a0", true);
                    LegacyLitePlane(w, L"a1", false);
                    w.LevelEnd();
                },
                [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzPicturePlanes::LoadFromLiteVariant(h.s, r)); });
        } else {
            CKzVariant node(CKzVariantRunType("RKzPicturePlanes"), CKzStringW(L"planes"));
            node[L"uiCount"] = 2u;
            node[L"uiCompCount"] = 2u;
            CKzVariant& list = node[L"sPlane"];
            list = CKzListVariant();
            for (int i = 0; i < 2; ++i) {
                CKzVariant& p = list.Append(CKzVariant(CKzVariantRunType("RKzPicturePlaneDescV1_1"), CKzStringW(i ? L"a1" : L"a0")));
                p[L"uiCompCount"] = 1u;
                p[L"eModality"] = 2u;
                p[L"sOpticalConfigName"] = CKzStringW(L"Green");
                if (i == 0) {
                    CKzVariant& full = p[L"sOpticalConfigFull"];
                    full = CKzListVariant();
                    full.Append(CKzVariant(CKzListVariant(), CKzStringW(L"dev")))[L"devValue"];
                    full[0].Append(CKzVariant(17, CKzStringW(L"devValue")));
                    SKzCameraSetting::SaveToVariant(p[L"sCameraSetting"], LegacyCamera());
                }
                p[L"sDescription"] = CKzStringW(L"plane");
            }
            EXPECT_EQ(0, SKzPicturePlanes::LoadFromVariant(h.s, ThroughXml(node)));
        }
        ASSERT_EQ(2u, h.s.uiCount);
        EXPECT_EQ(0x201u, h.s.pPlanes[0].uiModalityMask);
        ASSERT_EQ(1u, h.s.uiSampleCount);
        EXPECT_EQ(&h.s.pSamples[0], h.s.GetPlaneSettings(1));
        EXPECT_EQ(200, h.s.pSamples[0].dExposureTime);   // exposure times plane count
        EXPECT_EQ(L"legacy", W(h.s.pSamples[0].sSpecSettings));
        EXPECT_EQ(L"Green", W(SKzPicturePlanes::GetPlaneOCName(h.s, 0, 15)));
        EXPECT_EQ((std::vector<std::pair<unsigned, std::wstring>>{{15, L"Green"}}),
                  (std::vector<std::pair<unsigned, std::wstring>>{{h.s.pSamples[0].sOpticalConfigs.begin()->first,
                                                                    W(h.s.pSamples[0].sOpticalConfigs.begin()->second)}}));
        EXPECT_EQ(L"OldCam", W(SKzPicturePlanes::GetPlaneCameraUniqueName(h.s, 0)));
        EXPECT_EQ(L"OldCam", W(SKzPicturePlanes::GetPlaneCameraUserName(h.s, 1)));
        EXPECT_EQ(1, Calls().devLoad);
        EXPECT_EQ(17, static_cast<HostDevice*>(h.s.pSamples[0].pDeviceSetting)->value);
        EXPECT_EQ(17, Calls().lastDeviceTree[L"devValue"].GetKz_int32());
    }
}

TEST_F(PlaneSet, LegacyFilesWithoutHostKeepTheirNameOnly)
{
    Holder h;
    LiteRoundTrip(
        [](CKzLiteVariantW& w) {
            w.Set(1u, L"uiCount");
            w.Set(1u, L"uiCompCount");
            w.LevelBegin(L"sPlane");
            LegacyLitePlane(w, L"a0", true);
            w.LevelEnd();
        },
        [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzPicturePlanes::LoadFromLiteVariant(h.s, r)); });
    ASSERT_EQ(1u, h.s.uiSampleCount);
    EXPECT_EQ(0.0, h.s.pSamples[0].dExposureTime);   // no camera object: nothing travels
    EXPECT_EQ(L"Green", W(SKzPicturePlanes::GetPlaneOCName(h.s, 0, 15)));

    Holder none;   // no camera record: no sample setting
    LiteRoundTrip(
        [](CKzLiteVariantW& w) {
            w.Set(1u, L"uiCount");
            w.LevelBegin(L"sPlane");
            LegacyLitePlane(w, L"a0", false);
            w.LevelEnd();
        },
        [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzPicturePlanes::LoadFromLiteVariant(none.s, r)); });
    EXPECT_EQ(1u, none.s.uiCount);
    EXPECT_EQ(0u, none.s.uiSampleCount);
}

TEST_F(PlaneSetHost, LegacyPlaneFormsCarryTheFirstSampleSetting)
{
    Holder h;
    Build(h.s);
    CamSetTail(h.s.pSamples[0].pCameraSetting, 3);
    static_cast<HostDevice*>(h.s.pSamples[0].pDeviceSetting)->value = 9;
    SKzCameraSetting cam = LegacyCamera();
    ASSERT_EQ(0, SKzSampleSetting::TranslateSettings(cam, h.s.pSamples[0]));
    CKzVariant v0(CKzListVariant(), L"a0"), v1(CKzListVariant(), L"a1");
    EXPECT_EQ(0, SKzPicturePlaneDesc::SaveToVariantOld(v0, h.s, 0));
    EXPECT_EQ(0, SKzPicturePlaneDesc::SaveToVariantOld(v1, h.s, 1));
    EXPECT_EQ(-9, SKzPicturePlaneDesc::SaveToVariantOld(v1, h.s, 2));
    EXPECT_EQ("RKzPicturePlaneDescV1_1", std::string(v0.GetRunType().GetNameA()));
    EXPECT_EQ(L"FITC", W(v0[L"sOpticalConfigName"].GetCKzStringW()));
    EXPECT_EQ(9, v0[L"sOpticalConfigFull"][L"devValue"].GetKz_int32());
    EXPECT_EQ(100.0, v0[L"sCameraSetting"][L"dExposure"].GetDouble());
    EXPECT_EQ(nullptr, v1.SearchFixedOneLevel(L"sCameraSetting"));
    EXPECT_EQ(nullptr, v1.SearchFixedOneLevel(L"sOpticalConfigFull"));
    EXPECT_EQ(1u, v1[L"eModality"].GetKz_uint32());
    const wchar_t* order[] = {L"uiCompCount", L"eModality", L"sOpticalConfigName", L"sOpticalConfigFull",
                              L"sCameraSetting", L"pFluorescentProbe", L"pFilterPath", L"dLampVoltage",
                              L"dFadingCorr", L"uiColor", L"sDescription", L"dAcqTime"};
    ASSERT_EQ(12, v0.GetCount());
    for (int i = 0; i < 12; ++i) EXPECT_EQ(order[i], W(v0[i].GetName())) << i;

    LiteRoundTrip([&](CKzLiteVariantW& w) {
                      w.LevelBegin(L"a0");
                      EXPECT_EQ(0, SKzPicturePlaneDesc::SaveToLiteVariantOld(w, h.s, 0));
                      w.LevelEnd();
                      EXPECT_EQ(-9, SKzPicturePlaneDesc::SaveToLiteVariantOld(w, h.s, 7));
                  },
                  [&](CKzLiteVariantR& r) {
                      ASSERT_EQ(0, r.LevelBegin(L"a0"));
                      EXPECT_TRUE(r.IsValueSet(L"sOpticalConfigFull"));
                      EXPECT_EQ(0u, r.Get(L"eModality", 99u));   // a plain fluorescence mask names no legacy value
                      ASSERT_EQ(0, r.LevelBegin(L"sCameraSetting"));
                      EXPECT_EQ(100.0, r.Get(L"dExposure", 0.0));
                      r.LevelEnd();
                      r.LevelEnd();
                  });
}

} // namespace
