// Sample settings: names by type key, copies and comparisons with and without
// host tables, the camera-object conversions and both stored forms.
#include "host_test_support.h"

#include "gnr_metaformats/SKzCameraSetting.h"

#include <vector>

using namespace kzmt;

namespace {

using Names = std::vector<std::pair<unsigned, std::wstring>>;

Names NamesOf(const SKzSampleSetting& s)
{
    Names n;
    for (const auto& e : s.sOpticalConfigs) n.emplace_back(e.first, W(e.second));
    return n;
}

class SampleNoHost : public NoHost {};
class SampleHost : public HostTables {};

TEST_F(SampleNoHost, DefaultsWithoutHostObjects)
{
    SKzSampleSetting s;
    EXPECT_EQ(nullptr, s.pCameraSetting);
    EXPECT_EQ(nullptr, s.pDeviceSetting);
    EXPECT_EQ(1u, s.uiModeFQ);
    EXPECT_EQ(1.0, s.dRelayLensZoom);
    EXPECT_EQ(0.0, s.dExposureTime);
    EXPECT_EQ(2u, s.matCameraToStage.Rows());
    EXPECT_EQ(2u, s.matCameraToStage.Columns());
    EXPECT_TRUE(s.matCameraToStage.IsZero());
    EXPECT_EQ(1024u, s.baScanArea.GetIncrement());
    SKzCameraSetting cam;
    cam.dExposure = 50;
    EXPECT_EQ(-13, SKzSampleSetting::TranslateSettings(cam, s));
    EXPECT_EQ(0.0, s.dExposureTime);   // nothing travels without a camera object
    EXPECT_EQ(-13, SKzSampleSetting::TranslateSettings(s, cam));
    EXPECT_EQ(50, cam.dExposure);
    EXPECT_EQ(L"", W(s.GetCameraUniqueName()));
}

TEST_F(SampleNoHost, SetAndGetNamesByTypeKey)
{
    struct Step {
        unsigned key;
        const wchar_t* name;
        int result;
    };
    struct Case {
        const char* title;
        std::vector<Step> steps;
        Names expected;
    } cases[] = {
        {"same name joins keys", {{1, L"A", 0}, {2, L"A", 0}}, {{3, L"A"}}},
        {"bits leave other names", {{1, L"A", 0}, {2, L"A", 0}, {1, L"B", 0}}, {{1, L"B"}}},
        {"key 0 refused", {{1, L"A", 0}, {0, L"B", -9}}, {{1, L"A"}}},
        {"empty name removes the bits", {{1, L"A", 0}, {6, L"B", 0}, {2, L"", 0}}, {{1, L"A"}}},
        {"disjoint keys stay", {{4, L"Z", 0}, {1, L"A", 0}, {2, L"M", 0}}, {{1, L"A"}, {2, L"M"}, {4, L"Z"}}},
        {"same key: later name wins", {{1, L"A", 0}, {2, L"B", 0}, {3, L"C", 0}}, {{3, L"C"}}},
        {"top bit key", {{0x80000000u, L"T", 0}}, {{0x80000000u, L"T"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        SKzSampleSetting s;
        for (const Step& st : c.steps) EXPECT_EQ(st.result, SKzSampleSetting::SetOCName(s, st.key, CKzStringW(st.name)));
        EXPECT_EQ(c.expected, NamesOf(s));
    }
    SKzSampleSetting s;
    EXPECT_EQ(L"", W(SKzSampleSetting::GetOCName(s, 0)));
    SKzSampleSetting::SetOCName(s, 1, CKzStringW(L"A"));
    SKzSampleSetting::SetOCName(s, 6, CKzStringW(L"B"));
    const std::pair<unsigned, const wchar_t*> gets[] = {{2, L"B"}, {8, L""}, {0, L"A"}, {1, L"A"}, {6, L"B"}, {7, L""}};
    for (const auto& g : gets) EXPECT_EQ(g.second, W(SKzSampleSetting::GetOCName(s, g.first))) << g.first;
    EXPECT_EQ(L"A, B", W(SKzSampleSetting::GetOCNameAll(s)));
}

SKzSampleSetting& Fill(SKzSampleSetting& s)
{
    SKzSampleSetting::SetOCName(s, 1, CKzStringW(L"DAPI"));
    SKzSampleSetting::SetOCName(s, 0x80000002u, CKzStringW(L"Cube <2>"));
    s.dExposureTime = 150.5;
    s.uiModeFQ = 2;
    s.sSpecSettings = L"lambda";
    const unsigned char bytes[] = {1, 2, 0, 255};
    s.baScanArea.SetData(bytes, 4, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    s.matCameraToStage[0][0] = 1.5;
    s.matCameraToStage[0][1] = -2;
    s.matCameraToStage[1][0] = 0.25;
    s.matCameraToStage[1][1] = 4;
    s.dRelayLensZoom = 0.63;
    return s;
}

TEST_F(SampleNoHost, CopyCompareAndStoreOwnFields)
{
    SKzSampleSetting a, b;
    Fill(a);
    EXPECT_EQ(0, SKzSampleSetting::Copy(b, a));
    EXPECT_TRUE(SameSample(a, b));
    EXPECT_TRUE(SKzSampleSetting::Compare(a, b));
    EXPECT_EQ(0, SKzSampleSetting::Copy(a, a));
    EXPECT_TRUE(SameSample(a, b));
    b.dExposureTime = 1;   // not compared
    b.baScanArea.FreeData();
    EXPECT_TRUE(SKzSampleSetting::Compare(a, b));
    b.sSpecSettings = L"x";
    EXPECT_FALSE(SKzSampleSetting::Compare(a, b));
    SKzSampleSetting c;
    SKzSampleSetting::Copy(c, a);
    c.uiModeFQ = 1;
    EXPECT_FALSE(SKzSampleSetting::Compare(a, c));
    SKzSampleSetting::Copy(c, a);
    SKzSampleSetting::SetOCName(c, 8, CKzStringW(L"more"));
    EXPECT_FALSE(SKzSampleSetting::Compare(a, c));

    // A matrix of another shape is not copied.
    SKzSampleSetting d;
    d.matCameraToStage = CKzMatrix(3, 3, 1.0);
    SKzSampleSetting::Copy(d, a);
    EXPECT_EQ(3u, d.matCameraToStage.Rows());

    for (int form = 0; form < 2; ++form) {
        SCOPED_TRACE(form ? "lite" : "variant");
        SKzSampleSetting back;
        if (form) {
            LiteRoundTrip([&](CKzLiteVariantW& w) { EXPECT_EQ(0, SKzSampleSetting::SaveToLiteVariant(w, a)); },
                          [&](CKzLiteVariantR& r) {
                              EXPECT_FALSE(r.IsValueSet(L"pCameraSetting"));
                              EXPECT_FALSE(r.IsValueSet(L"pDeviceSetting"));
                              EXPECT_EQ(0, SKzSampleSetting::LoadFromLiteVariant(back, r));
                          });
        } else {
            CKzVariant node(CKzListVariant(), L"s");
            EXPECT_EQ(0, SKzSampleSetting::SaveToVariant(node, a));
            EXPECT_EQ(nullptr, node.SearchFixedOneLevel(L"pCameraSetting"));
            EXPECT_EQ(nullptr, node.SearchFixedOneLevel(L"pDeviceSetting"));
            EXPECT_EQ(0, SKzSampleSetting::LoadFromVariant(back, ThroughXml(node)));
        }
        EXPECT_TRUE(SameSample(a, back));
    }
}

TEST_F(SampleNoHost, VariantLoaderIgnoresOtherNodesAndBadKeys)
{
    SKzSampleSetting s;
    Fill(s);
    CKzVariant other(CKzListVariant(), L"x");
    other[L"dExposureTime"] = 5.0;
    EXPECT_EQ(0, SKzSampleSetting::LoadFromVariant(s, other));
    EXPECT_EQ(150.5, s.dExposureTime);

    CKzVariant node(CKzListVariant(), L"s");
    SKzSampleSetting::SaveToVariant(node, SKzSampleSetting());
    CKzVariant& list = node[L"sOpticalConfigs"];
    for (const wchar_t* name : {L"_x", L"_", L"5", L"_0", L"_99999999999"})
        list.Append(CKzVariant(CKzStringW(L"n"), CKzStringW(name)));
    list.Append(CKzVariant(CKzStringW(L"neg"), CKzStringW(L"_-2147483648")));
    list.Append(CKzVariant(CKzStringW(L"four"), CKzStringW(L"_4")));
    SKzSampleSetting t;
    EXPECT_EQ(0, SKzSampleSetting::LoadFromVariant(t, node));
    // "_99999999999" saturates to 0x7FFFFFFF, whose bit 4 then goes to "four".
    EXPECT_EQ((Names{{4, L"four"}, {0x80000000u, L"neg"}}), NamesOf(t));
}

TEST_F(SampleHost, HostObjectsAreMadeCopiedComparedAndFreed)
{
    {
        SKzSampleSetting a, b;
        ASSERT_NE(nullptr, a.pCameraSetting);
        ASSERT_NE(nullptr, a.pDeviceSetting);
        CamSetTail(a.pCameraSetting, 77);
        static_cast<HostDevice*>(a.pDeviceSetting)->value = 5;
        EXPECT_FALSE(SKzSampleSetting::Compare(a, b));
        EXPECT_EQ(0, SKzSampleSetting::Copy(b, a));
        EXPECT_EQ(77, CamTail(b.pCameraSetting));
        EXPECT_EQ(5, static_cast<HostDevice*>(b.pDeviceSetting)->value);
        EXPECT_EQ(1, Calls().copy);
        EXPECT_EQ(1, Calls().devCopy);
        EXPECT_TRUE(SKzSampleSetting::Compare(a, b));
        a.uiModeFQ = b.uiModeFQ = 2;
        EXPECT_TRUE(SKzSampleSetting::Compare(a, b));
        EXPECT_EQ(2u, Calls().lastMode);
        EXPECT_EQ(0, SKzSampleSetting::Copy(a, a));
        EXPECT_EQ(1, Calls().copy);   // no host copy of an object onto itself
        static_cast<HostDevice*>(b.pDeviceSetting)->value = 6;
        EXPECT_FALSE(SKzSampleSetting::Compare(a, b));
    }
    EXPECT_EQ(2, Calls().create);
    EXPECT_EQ(2, Calls().destroy);
}

TEST_F(SampleHost, CameraObjectConversions)
{
    SKzSampleSetting s;
    SKzCameraSetting cam;
    cam.sCameraName = std::wstring(70, L'N').c_str();   // longer than the unique-name field
    cam.sCameraFormatName = L"2x2 binning";
    cam.uiCamPxlCountX = 696;
    cam.uiCamPxlCountY = 520;
    cam.dCamChipSizeX = 8.98;
    cam.dCamChipSizeY = -6.7;
    cam.dCamBinningX = 2;
    cam.dCamBinningY = 3;
    cam.rcCamChipSrc = {10, 20, 30, 40};
    cam.dExposure = 42;
    cam.sSpecSettings = L"s";
    ASSERT_EQ(0, SKzSampleSetting::TranslateSettings(cam, s));
    EXPECT_EQ(42, s.dExposureTime);
    EXPECT_EQ(L"s", W(s.sSpecSettings));
    const char* o = static_cast<const char*>(s.pCameraSetting);
    auto i32 = [o](size_t off) { int v; std::memcpy(&v, o + off, 4); return v; };
    auto f64 = [o](size_t off) { double v; std::memcpy(&v, o + off, 8); return v; };
    auto wc = [o](size_t off) { wchar_t v; std::memcpy(&v, o + off, 4); return v; };
    struct Field {
        size_t off;
        int value;
    } ints[] = {{1328, 696}, {1332, 520}, {1336, 8}, {1340, -6}, {1376, 10}, {1380, 20}, {1384, 30}, {1388, 40},
                {2240, 696}, {2244, 520}, {2248, 8}, {2252, -6}, {2288, 10}, {2300, 40}};
    for (const Field& f : ints) EXPECT_EQ(f.value, i32(f.off)) << f.off;
    EXPECT_EQ(2.0, f64(1360));
    EXPECT_EQ(3.0, f64(2280));
    EXPECT_EQ(L'N', wc(252));    // the unique name fills its field, unterminated
    EXPECT_EQ(L'N', wc(256 + 69 * 4));
    EXPECT_EQ(L'\0', wc(256 + 70 * 4));
    EXPECT_EQ(L'2', wc(1040));
    EXPECT_EQ(L'2', wc(1952));
    EXPECT_EQ(L'\0', wc(768));
    const double jd = f64(1024);
    EXPECT_GT(jd, 2460000.0);   // a Julian day of this century
    EXPECT_LT(jd, 2500000.0);
    EXPECT_EQ(std::wstring(64, L'N'), W(s.GetCameraUniqueName()));   // bounded by its field
    EXPECT_EQ(std::wstring(70, L'N'), W(s.GetCameraUserName()));

    // Back to the record: the block of uiModeFQ decides.
    char* w = static_cast<char*>(s.pCameraSetting);
    const wchar_t second[] = L"second";
    std::memcpy(w + 1952, second, sizeof(second));
    int px = 1000;
    std::memcpy(w + 2240, &px, 4);
    for (unsigned mode : {1u, 2u, 7u}) {
        SCOPED_TRACE(mode);
        s.uiModeFQ = mode;
        SKzCameraSetting back;
        back.dGain = 9;
        ASSERT_EQ(0, SKzSampleSetting::TranslateSettings(s, back));
        EXPECT_EQ(mode == 1 ? L"2x2 binning" : L"second", W(back.sCameraFormatName));
        EXPECT_EQ(mode == 1 ? 696u : 1000u, back.uiCamPxlCountX);
        EXPECT_EQ(8.0, back.dCamChipSizeX);
        EXPECT_EQ(-6.0, back.dCamChipSizeY);
        EXPECT_EQ(40, back.rcCamChipSrc.bottom);
        EXPECT_EQ(42, back.dExposure);
        EXPECT_EQ(9, back.dGain);   // not part of the conversion
        EXPECT_EQ(std::wstring(64, L'N'), W(back.sCameraName));
    }
    // Huge and NaN chip sizes saturate.
    cam.dCamChipSizeX = 1e300;
    cam.dCamChipSizeY = std::numeric_limits<double>::quiet_NaN();
    ASSERT_EQ(0, SKzSampleSetting::TranslateSettings(cam, s));
    EXPECT_EQ(2147483647, i32(1336));
    EXPECT_EQ(0, i32(1340));
}

TEST_F(SampleHost, StoredFormsWithHostObjects)
{
    SKzSampleSetting a;
    Fill(a);
    CamSetTail(a.pCameraSetting, 1234);
    static_cast<HostDevice*>(a.pDeviceSetting)->value = -8;
    for (int form = 0; form < 2; ++form) {
        SCOPED_TRACE(form ? "lite" : "variant");
        SKzSampleSetting back;
        if (form) {
            LiteRoundTrip([&](CKzLiteVariantW& w) { EXPECT_EQ(0, SKzSampleSetting::SaveToLiteVariant(w, a)); },
                          [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzSampleSetting::LoadFromLiteVariant(back, r)); });
        } else {
            CKzVariant node(CKzListVariant(), L"s");
            EXPECT_EQ(0, SKzSampleSetting::SaveToVariant(node, a));
            EXPECT_EQ(0, SKzSampleSetting::LoadFromVariant(back, ThroughXml(node)));
        }
        EXPECT_TRUE(SameSample(a, back));
    }
    EXPECT_EQ(1, Calls().save);
    EXPECT_EQ(1, Calls().load);
    EXPECT_EQ(1, Calls().saveLite);
    EXPECT_EQ(1, Calls().loadLite);
    EXPECT_EQ(1, Calls().devSave);
    EXPECT_EQ(1, Calls().devLoad);
    EXPECT_EQ(1, Calls().devSaveLite);
    EXPECT_EQ(1, Calls().devLoadLite);

    // A camera equal to the default object is not stored in either form.
    SKzSampleSetting plain;
    CKzVariant node(CKzListVariant(), L"s");
    SKzSampleSetting::SaveToVariant(node, plain);
    EXPECT_EQ(nullptr, node.SearchFixedOneLevel(L"pCameraSetting"));
    EXPECT_NE(nullptr, node.SearchFixedOneLevel(L"pDeviceSetting"));
    LiteRoundTrip([&](CKzLiteVariantW& w) { SKzSampleSetting::SaveToLiteVariant(w, plain); },
                  [&](CKzLiteVariantR& r) {
                      EXPECT_FALSE(r.IsValueSet(L"pCameraSetting"));
                      EXPECT_TRUE(r.IsValueSet(L"pDeviceSetting"));
                  });
    EXPECT_EQ(1, Calls().save);

    // Handler results travel: the device's first.
    SKzSampleSetting::sGrabberHandlers.pfnSaveToVariant = [](CKzVariant&, void*) { return -21; };
    EXPECT_EQ(-21, SKzSampleSetting::SaveToVariant(node, a));
    SKzSampleSetting::sDeviceHandlers.pfnSaveToVariant = [](CKzVariant&, void*) { return -22; };
    EXPECT_EQ(-22, SKzSampleSetting::SaveToVariant(node, a));
}

TEST_F(SampleHost, LiteNamesAreBoundedByTheirCount)
{
    SKzSampleSetting s;
    LiteRoundTrip(
        [](CKzLiteVariantW& w) {
            w.Set(0xFFFFFFFFu, L"uiOpticalConfigs");
            w.LevelBegin(L"sOpticalConfigs");
            for (unsigned k : {1u, 2u}) {
                w.LevelBegin(L"");
                w.Set(k, L"uiOCTypeKey");
                w.Set(k == 1 ? L"one" : L"two", L"sOpticalConfigName");
                w.LevelEnd();
            }
            w.LevelEnd();
        },
        [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzSampleSetting::LoadFromLiteVariant(s, r)); });
    EXPECT_EQ((Names{{1, L"one"}, {2, L"two"}}), NamesOf(s));
    SKzSampleSetting t;
    SKzSampleSetting::SetOCName(t, 8, CKzStringW(L"kept"));
    LiteRoundTrip(
        [](CKzLiteVariantW& w) {
            w.Set(1u, L"uiOpticalConfigs");
            w.LevelBegin(L"sOpticalConfigs");
            for (unsigned k : {1u, 2u}) {
                w.LevelBegin(L"");
                w.Set(k, L"uiOCTypeKey");
                w.Set(L"n", L"sOpticalConfigName");
                w.LevelEnd();
            }
            w.LevelEnd();
        },
        [&](CKzLiteVariantR& r) { EXPECT_EQ(0, SKzSampleSetting::LoadFromLiteVariant(t, r)); });
    EXPECT_EQ((Names{{1, L"n"}, {8, L"kept"}}), NamesOf(t));   // names read are added
    EXPECT_EQ(2u, t.uiModeFQ - 0 + 1);                          // missing keys keep the values
}

} // namespace
