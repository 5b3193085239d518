// Side records of an experiment level: the input/output hardware setup, the
// recorded-value definitions and the parallel tasks.
#include "gnr_metaformats/SKzExperimentNI.h"
#include "gnr_metaformats/SKzParallelExperiment.h"
#include "gnr_metaformats/SKzRecordedData.h"
#include "experiment_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cwchar>
#include <functional>
#include <string>

using namespace exptest;

namespace {

std::wstring longText(size_t n)
{
    std::wstring s;
    for (size_t i = 0; i < n; ++i) s += (wchar_t)(L'a' + i % 26);
    return s;
}

SKzND_NISetupInputs sampleInput(int k)
{
    SKzND_NISetupInputs in;
    in.bUseEvent = k % 2 == 0;
    in.eEvents = (EKzNIEvents)(3 + k);
    in.eType = (EKzNIType)-7;
    wcscpy(in.wsTTLName, L"ttl");
    wcscpy(in.wsAnalogName, L"analog\x00e9");
    wcscpy(in.wsCameraTempKey, longText(255).c_str());
    in.eConditionAng = (EKzNICondition)2;
    in.eConditionTTL = (EKzNICondition)0x7FFFFFFF;
    in.dValue1 = 1.5;
    in.dValue4 = -2.25;
    in.iIndex = 9 + k;
    in.dHysteresis = 0.125;
    wcscpy(in.wsUnit, L"mV");
    in.sKeepObjInViewName = L"keep";
    in.sKeepObjInViewCondition = L"cond";
    return in;
}

SKzND_NISetupOutputs sampleOutput(int k)
{
    SKzND_NISetupOutputs out;
    out.bUseEvent = false;
    out.eType = (EKzNIType)k;
    wcscpy(out.wsIncubationName, L"incubator");
    out.dValue = 3.5;
    out.dPulse = 0.5;
    out.dTime2 = 7;
    out.uiNumPeriods = 0xFFFFFFF0u;
    out.bInfiniti = true;
    out.ePulseType = (EKzNIPulseType)4;
    out.sDescIncub = L"desc";
    const unsigned char bytes[] = {1, 0, 2, 255};
    out.BASettingsIncub.SetData(bytes, 4, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    out.bWait = false;
    out.sInterfaceIncub = L"if";
    out.sLiquidControlName = L"liquid";
    out.iLiquidTreatment = -3;
    out.BALiquidDefinition.SetData(bytes, 2, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    return out;
}

SKzExperimentNI sampleSetup()
{
    SKzExperimentNI s;
    s.bIgnoreSetup = true;
    s.VectorNISetupInputs.push_back(sampleInput(0));
    s.VectorNISetupInputs.push_back(sampleInput(1));
    s.VectorNISetupOutputs.push_back(sampleOutput(5));
    return s;
}

Bytes niLite(const SKzExperimentNI& s)
{
    return LiteBlob([&](CKzLiteVariantW& w) { EXPECT_EQ(0, SKzExperimentNI::SaveToLiteVariant(w, s)); });
}

CKzVariant niVariant(const SKzExperimentNI& s)
{
    CKzVariant v;
    v.SetName(CKzStringW(L"pNIExperiment"));
    EXPECT_EQ(0, SKzExperimentNI::SaveToVariant(v, s));
    return v;
}

} // namespace

// ---------------------------------------------------------------------------
// Input and output setup
// ---------------------------------------------------------------------------

TEST(ExperimentNI, ConstructorDefaults)
{
    SKzND_NISetupOutputs o;
    EXPECT_TRUE(o.bUseEvent);
    EXPECT_EQ(1.0, o.dTime2);
    EXPECT_EQ(1u, o.uiNumPeriods);
    EXPECT_EQ(1, o.iIndex);
    EXPECT_EQ(1, (int)o.ePulseType);
    EXPECT_TRUE(o.bWait);
    EXPECT_FALSE(o.bInfiniti);
    EXPECT_EQ(0.0, o.dValue);
    EXPECT_EQ(0, o.wsTTLName[0]);
    SKzND_NISetupInputs i;
    EXPECT_FALSE(i.bUseEvent);
    EXPECT_EQ(0, i.iIndex);
    EXPECT_EQ(0.0, i.dValue3);
    EXPECT_EQ(0, i.wsUnit[0]);
    SKzExperimentNI s;
    EXPECT_FALSE(s.bIgnoreSetup);
    EXPECT_TRUE(s.VectorNISetupInputs.empty());
}

TEST(ExperimentNI, BothFormsRoundTrip)
{
    const SKzExperimentNI s = sampleSetup();
    SKzExperimentNI fromLite;
    CKzLiteVariantR r;
    OpenRoot(r, niLite(s));
    EXPECT_EQ(0, SKzExperimentNI::LoadFromLiteVariant(fromLite, r));
    EXPECT_TRUE(fromLite == s);
    EXPECT_EQ(std::wstring(s.VectorNISetupInputs[0].wsCameraTempKey), fromLite.VectorNISetupInputs[0].wsCameraTempKey);

    SKzExperimentNI fromXml;
    EXPECT_EQ(0, SKzExperimentNI::LoadFromVariant(fromXml, ThroughXML(niVariant(s))));
    EXPECT_TRUE(fromXml == s);
    EXPECT_EQ(4u, fromXml.VectorNISetupOutputs[0].BASettingsIncub.GetSize());
    EXPECT_EQ(0xFFFFFFF0u, fromXml.VectorNISetupOutputs[0].uiNumPeriods);
}

TEST(ExperimentNI, VariantMembersInOrder)
{
    const CKzVariant v = niVariant(sampleSetup());
    EXPECT_EQ((std::vector<std::wstring>{L"bIgnoreSetup", L"VectorNISetupInputs", L"VectorNISetupOutputs"}),
              ChildNames(v));
    const CKzVariant& in = v[L"VectorNISetupInputs"][0];
    EXPECT_EQ(L"no_name", std::wstring(in.GetName().GetString()));
    const std::vector<std::wstring> names = ChildNames(in);
    ASSERT_EQ(25u, names.size());
    EXPECT_EQ(L"bUseEvent", names[0]);
    EXPECT_EQ(L"wsCameraTempKey", names[13]);
    EXPECT_EQ(L"sKeepObjInViewCondition", names[24]);
    EXPECT_EQ("kz_int32", RT(in[L"eEvents"]));
    EXPECT_EQ("double", RT(in[L"dHysteresis"]));
    const CKzVariant& out = v[L"VectorNISetupOutputs"][0];
    EXPECT_EQ(L"BALiquidDefinition", ChildNames(out).back());
    EXPECT_EQ("kz_uint32", RT(out[L"uiNumPeriods"]));
    EXPECT_EQ("CKzByteArray", RT(out[L"BASettingsIncub"]));
    // Without elements a vector is a node of its name without a value.
    const CKzVariant empty = niVariant(SKzExperimentNI());
    EXPECT_TRUE(empty[L"VectorNISetupInputs"].IsUndefined());
    EXPECT_FALSE(empty[L"VectorNISetupInputs"].IsSharedUndef());
}

TEST(ExperimentNI, EmptyVectorsDifferBetweenForms)
{
    const SKzExperimentNI none;
    SKzExperimentNI lite = sampleSetup();
    CKzLiteVariantR r;
    OpenRoot(r, niLite(none));
    SKzExperimentNI::LoadFromLiteVariant(lite, r);
    EXPECT_TRUE(lite.VectorNISetupInputs.empty());
    EXPECT_TRUE(lite.VectorNISetupOutputs.empty());
    EXPECT_FALSE(lite.bIgnoreSetup);

    SKzExperimentNI var = sampleSetup();
    SKzExperimentNI::LoadFromVariant(var, ThroughXML(niVariant(none)));
    EXPECT_EQ(2u, var.VectorNISetupInputs.size());
    EXPECT_FALSE(var.bIgnoreSetup);
}

TEST(ExperimentNI, MissingMembersTakeEachFormsDefaults)
{
    // Lite: element levels without records.
    const Bytes b = LiteBlob([](CKzLiteVariantW& w) {
        for (const wchar_t* vec : {L"VectorNISetupInputs", L"VectorNISetupOutputs"}) {
            w.LevelBegin(vec);
            w.Set(1, L"size");
            w.LevelBegin(L"values");
            w.LevelBegin(L"");
            w.LevelEnd();
            w.LevelEnd();
            w.LevelEnd();
        }
    });
    SKzExperimentNI lite;
    CKzLiteVariantR r;
    OpenRoot(r, b);
    SKzExperimentNI::LoadFromLiteVariant(lite, r);
    ASSERT_EQ(1u, lite.VectorNISetupInputs.size());
    ASSERT_EQ(1u, lite.VectorNISetupOutputs.size());
    EXPECT_TRUE(lite.VectorNISetupInputs[0].bUseEvent);
    EXPECT_EQ(1, lite.VectorNISetupInputs[0].iIndex);
    EXPECT_EQ(1.0, lite.VectorNISetupOutputs[0].dTime2);
    EXPECT_EQ(1u, lite.VectorNISetupOutputs[0].uiNumPeriods);
    EXPECT_EQ(1, (int)lite.VectorNISetupOutputs[0].ePulseType);
    EXPECT_TRUE(lite.VectorNISetupOutputs[0].bWait);

    // Variant: element nodes without members.
    CKzVariant v;
    CKzVariant el{CKzListVariant(), CKzStringW()};
    el.Append(CKzVariant(1.0, CKzStringW(L"unrelated")));
    CKzVariant ins(CKzListVariant(), CKzStringW(L"VectorNISetupInputs"));
    ins.Append(el);
    CKzVariant outs(CKzListVariant(), CKzStringW(L"VectorNISetupOutputs"));
    outs.Append(el);
    v.Append(ins);
    v.Append(outs);
    SKzExperimentNI var;
    SKzExperimentNI::LoadFromVariant(var, v);
    ASSERT_EQ(1u, var.VectorNISetupInputs.size());
    EXPECT_FALSE(var.VectorNISetupInputs[0].bUseEvent);
    EXPECT_EQ(0, var.VectorNISetupInputs[0].iIndex);
    EXPECT_EQ(0.0, var.VectorNISetupOutputs[0].dTime2);
    EXPECT_EQ(0u, var.VectorNISetupOutputs[0].uiNumPeriods);
    EXPECT_FALSE(var.VectorNISetupOutputs[0].bWait);
}

TEST(ExperimentNI, StoredSizeNeverExceedsStoredElements)
{
    struct Case {
        int size;
        int levels;
        size_t expect;
    } cases[] = {{3, 1, 1}, {(int)0x80000000u, 2, 2}, {1, 3, 1}, {0, 2, 0}, {-1, 0, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        const Bytes b = LiteBlob([&](CKzLiteVariantW& w) {
            w.LevelBegin(L"VectorNISetupInputs");
            w.Set(c.size, L"size");
            w.LevelBegin(L"values");
            for (int i = 0; i < c.levels; ++i) {
                w.LevelBegin(L"");
                w.Set(40 + i, L"iIndex");
                w.LevelEnd();
            }
            w.LevelEnd();
            w.LevelEnd();
        });
        SKzExperimentNI s = sampleSetup();
        s.VectorNISetupInputs.resize(5, sampleInput(3));
        CKzLiteVariantR r;
        OpenRoot(r, b);
        SKzExperimentNI::LoadFromLiteVariant(s, r);
        ASSERT_EQ(c.expect, s.VectorNISetupInputs.size());
        for (size_t i = 0; i < c.expect; ++i) EXPECT_EQ(40 + (int)i, s.VectorNISetupInputs[i].iIndex);
        EXPECT_EQ(1u, s.VectorNISetupOutputs.size());   // no level: unchanged
    }
}

TEST(ExperimentNI, EqualityFieldByField)
{
    const SKzExperimentNI base = sampleSetup();
    std::vector<std::pair<const char*, std::function<void(SKzExperimentNI&)>>> changes = {
        {"flag", [](SKzExperimentNI& s) { s.bIgnoreSetup = false; }},
        {"input count", [](SKzExperimentNI& s) { s.VectorNISetupInputs.pop_back(); }},
        {"output count", [](SKzExperimentNI& s) { s.VectorNISetupOutputs.clear(); }},
        {"fixed text", [](SKzExperimentNI& s) { s.VectorNISetupInputs[1].wsGasConcKey[0] = L'x'; }},
        {"string", [](SKzExperimentNI& s) { s.VectorNISetupInputs[0].sKeepObjInViewName = L"Keep"; }},
        {"double", [](SKzExperimentNI& s) { s.VectorNISetupInputs[0].dHysteresis = 0.5; }},
        {"enum", [](SKzExperimentNI& s) { s.VectorNISetupInputs[0].eConditionTTL = (EKzNICondition)1; }},
        {"output bytes", [](SKzExperimentNI& s) { s.VectorNISetupOutputs[0].BALiquidDefinition.FreeData(); }},
        {"output periods", [](SKzExperimentNI& s) { s.VectorNISetupOutputs[0].uiNumPeriods = 1; }},
        {"output wait", [](SKzExperimentNI& s) { s.VectorNISetupOutputs[0].bWait = true; }},
        {"output treatment", [](SKzExperimentNI& s) { s.VectorNISetupOutputs[0].iLiquidTreatment = 0; }},
    };
    for (auto& c : changes) {
        SKzExperimentNI s = base;
        c.second(s);
        EXPECT_FALSE(s == base) << c.first;
        EXPECT_FALSE(base == s) << c.first;
    }
    SKzExperimentNI nan = base;
    nan.VectorNISetupInputs[0].dValue3 = std::nan("");
    EXPECT_TRUE(nan == base);
}

TEST(ExperimentNI, FreeKeepsFlagAndAssignmentCopies)
{
    SKzExperimentNI s = sampleSetup();
    SKzExperimentNI copy;
    copy = s;
    EXPECT_TRUE(copy == s);
    copy = copy;
    EXPECT_TRUE(copy == s);
    EXPECT_EQ(0, SKzExperimentNI::Free(s));
    EXPECT_TRUE(s.VectorNISetupInputs.empty());
    EXPECT_TRUE(s.VectorNISetupOutputs.empty());
    EXPECT_TRUE(s.bIgnoreSetup);
    EXPECT_EQ(2u, copy.VectorNISetupInputs.size());
}

TEST(ExperimentNI, FixedTextsKeepAtMost255Characters)
{
    CKzVariant el{CKzListVariant(), CKzStringW()};
    el.Append(CKzVariant(CKzStringW(longText(300).c_str()), CKzStringW(L"wsTTLName")));
    CKzVariant ins(CKzListVariant(), CKzStringW(L"VectorNISetupInputs"));
    ins.Append(el);
    CKzVariant v;
    v.Append(ins);
    SKzExperimentNI s;
    SKzExperimentNI::LoadFromVariant(s, v);
    ASSERT_EQ(1u, s.VectorNISetupInputs.size());
    EXPECT_EQ(longText(255), std::wstring(s.VectorNISetupInputs[0].wsTTLName));

    const Bytes b = LiteBlob([](CKzLiteVariantW& w) {
        w.LevelBegin(L"VectorNISetupOutputs");
        w.Set(1, L"size");
        w.LevelBegin(L"values");
        w.LevelBegin(L"");
        w.Set(longText(1000).c_str(), L"wsUnit");
        w.LevelEnd();
        w.LevelEnd();
        w.LevelEnd();
    });
    CKzLiteVariantR r;
    OpenRoot(r, b);
    SKzExperimentNI::LoadFromLiteVariant(s, r);
    EXPECT_EQ(longText(255), std::wstring(s.VectorNISetupOutputs[0].wsUnit));
}

TEST(ExperimentNI, VectorMemberThatIsNoListChangesNothing)
{
    SKzExperimentNI s = sampleSetup();
    CKzVariant v;
    v.Append(CKzVariant(5, CKzStringW(L"VectorNISetupInputs")));
    SKzExperimentNI::LoadFromVariant(s, v);
    EXPECT_EQ(2u, s.VectorNISetupInputs.size());
}

// ---------------------------------------------------------------------------
// Recorded data
// ---------------------------------------------------------------------------

namespace {

SKzND_RecordedData item(const wchar_t* key, bool check, kz_uint32 flags = 0, const wchar_t* desc = L"d")
{
    SKzND_RecordedData it;
    it.wsRDKey = key;
    it.wsRDDescription = desc;
    it.bRDCheck = check;
    it.uiFlags = flags;
    return it;
}

SKzRecordedData sampleData()
{
    SKzRecordedData d;
    d.VectorRD_Other = {item(L"X", true), item(L"Z", false), item(L"T", true)};
    d.VectorRD_AngIn = {item(L"a0", false, 1), item(L"a1", true)};
    d.VectorRD_TTLIn = {item(L"t", true)};
    d.dValTime = 250;
    d.dValFrequnce = 4;
    d.eRecordOther = (EKzRecordMode)2;
    d.eRecordAngIn = (EKzRecordMode)3;
    d.iVersion = 7;
    return d;
}

Bytes rdLite(const SKzRecordedData& d)
{
    return LiteBlob([&](CKzLiteVariantW& w) { EXPECT_EQ(0, SKzRecordedData::SaveToLiteVariant(w, d)); });
}

CKzVariant rdVariant(const SKzRecordedData& d)
{
    CKzVariant v;
    v.SetName(CKzStringW(L"pRecordedData"));
    EXPECT_EQ(0, SKzRecordedData::SaveToVariant(v, d));
    return v;
}

SKzRecordedData rdFromLite(const Bytes& b)
{
    SKzRecordedData d;
    CKzLiteVariantR r;
    OpenRoot(r, b);
    EXPECT_EQ(0, SKzRecordedData::LoadFromLiteVariant(d, r));
    return d;
}

} // namespace

TEST(ExperimentRecordedData, DefaultsAndRoundTrips)
{
    const SKzRecordedData fresh;
    EXPECT_EQ(100.0, fresh.dValTime);
    EXPECT_EQ(1.0, fresh.dValFrequnce);
    EXPECT_EQ(1, (int)fresh.eRecordOther);
    EXPECT_EQ(1, (int)fresh.eRecordAngIn);
    EXPECT_EQ(0, fresh.iVersion);
    EXPECT_FALSE(SKzND_RecordedData().bRDCheck);

    for (const SKzRecordedData& d : {SKzRecordedData(), sampleData()}) {
        EXPECT_TRUE(rdFromLite(rdLite(d)) == d);
        SKzRecordedData v;
        EXPECT_EQ(0, SKzRecordedData::LoadFromVariant(v, ThroughXML(rdVariant(d))));
        EXPECT_TRUE(v == d);
    }
}

TEST(ExperimentRecordedData, StageCoordinatesForcedOnlyInModeOne)
{
    struct Case {
        const wchar_t* key;
        int mode;
        bool other;   // in the other-values list, else the analog list
        bool expect;
    } cases[] = {
        {L"X", 1, true, true},   {L"Y", 1, true, true},   {L"X", 2, true, false}, {L"x", 1, true, false},
        {L"Z", 1, true, false},  {L"X", 1, false, false}, {L"Y ", 1, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.other ? "other " : "analog ") << c.mode);
        SKzRecordedData d;
        d.eRecordOther = (EKzRecordMode)c.mode;
        (c.other ? d.VectorRD_Other : d.VectorRD_AngIn).push_back(item(c.key, false));
        const SKzRecordedData lite = rdFromLite(rdLite(d));
        SKzRecordedData var;
        SKzRecordedData::LoadFromVariant(var, ThroughXML(rdVariant(d)));
        for (const SKzRecordedData* got : std::initializer_list<const SKzRecordedData*>{&lite, &var}) {
            const auto& list = c.other ? got->VectorRD_Other : got->VectorRD_AngIn;
            ASSERT_EQ(1u, list.size());
            EXPECT_EQ(c.expect, list[0].bRDCheck);
        }
    }
}

TEST(ExperimentRecordedData, TemporaryItemsStayOutOfTheLiteForm)
{
    SKzRecordedData d;
    d.VectorRD_Other = {item(L"A", true), item(L"B", true, 1)};
    d.VectorRD_AngIn = {item(L"c", true, 1)};
    const Bytes b = rdLite(d);
    CKzLiteVariantR r;
    OpenRoot(r, b);
    ASSERT_EQ(0, r.LevelBegin(L"VectorRD_Other"));
    EXPECT_EQ(1u, r.Get(L"size", 99u));
    unsigned n = 0;
    ASSERT_EQ(0, r.LevelBegin(L"nameOther", &n));
    EXPECT_EQ(1u, n);
    const SKzRecordedData lite = rdFromLite(b);
    ASSERT_EQ(1u, lite.VectorRD_Other.size());
    EXPECT_EQ(L"A", std::wstring(lite.VectorRD_Other[0].wsRDKey.GetString()));
    EXPECT_EQ(1u, lite.VectorRD_AngIn.size());   // analog items are written whole
    EXPECT_EQ(2, rdVariant(d)[L"VectorRD_Other"].GetCount());
}

TEST(ExperimentRecordedData, RemoveTemporaryDataTouchesOnlyOtherValues)
{
    SKzRecordedData d;
    d.VectorRD_AngIn = {item(L"a", true, 1)};
    d.VectorRD_TTLIn = {item(L"t", true, 3)};
    EXPECT_EQ(0, d.RemoveTemporaryData());
    EXPECT_EQ(1u, d.VectorRD_AngIn.size());
    EXPECT_EQ(1u, d.VectorRD_TTLIn.size());
    d.VectorRD_Other = {item(L"1", true, 1), item(L"2", true, 2), item(L"3", true, 3), item(L"4", true)};
    d.RemoveTemporaryData();
    ASSERT_EQ(2u, d.VectorRD_Other.size());
    EXPECT_EQ(L"2", std::wstring(d.VectorRD_Other[0].wsRDKey.GetString()));
    EXPECT_EQ(L"4", std::wstring(d.VectorRD_Other[1].wsRDKey.GetString()));
}

TEST(ExperimentRecordedData, MissingSelectionAndScalarsPerForm)
{
    // Lite: an item level with only its key, a level without scalars.
    const Bytes b = LiteBlob([](CKzLiteVariantW& w) {
        w.LevelBegin(L"VectorRD_TTLIn");
        w.Set(5, L"size");
        w.LevelBegin(L"nameTTLIn");
        w.LevelBegin(L"");
        w.Set(L"k", L"wsRDKey");
        w.LevelEnd();
        w.Set(1, L"not a level");
        w.LevelBegin(L"");
        w.LevelEnd();
        w.LevelEnd();
        w.LevelEnd();
    });
    const SKzRecordedData lite = rdFromLite(b);
    ASSERT_EQ(3u, lite.VectorRD_TTLIn.size());   // records stored, not "size"
    EXPECT_TRUE(lite.VectorRD_TTLIn[0].bRDCheck);
    EXPECT_FALSE(lite.VectorRD_TTLIn[1].bRDCheck);   // no level: constructor's value
    EXPECT_TRUE(lite.VectorRD_TTLIn[2].bRDCheck);
    EXPECT_EQ(100.0, lite.dValTime);

    CKzVariant v;
    v.Append(CKzVariant(3.0, CKzStringW(L"dValTime")));
    CKzVariant list(CKzListVariant(), CKzStringW(L"VectorRD_AngIn"));
    CKzVariant el{CKzListVariant(), CKzStringW()};
    el.Append(CKzVariant(CKzStringW(L"k"), CKzStringW(L"wsRDKey")));
    list.Append(el);
    v.Append(list);
    SKzRecordedData var = sampleData();
    SKzRecordedData::LoadFromVariant(var, v);
    EXPECT_EQ(3.0, var.dValTime);
    EXPECT_EQ(1.0, var.dValFrequnce);   // defaults when a member lacks a value
    EXPECT_EQ(0, var.iVersion);
    ASSERT_EQ(1u, var.VectorRD_AngIn.size());
    EXPECT_FALSE(var.VectorRD_AngIn[0].bRDCheck);
    EXPECT_EQ(3u, var.VectorRD_Other.size());   // missing list: unchanged
}

TEST(ExperimentRecordedData, FindByKeyAndEquality)
{
    SKzRecordedData d = sampleData();
    d.VectorRD_Other.push_back(item(L"y", true));
    d.VectorRD_Other.push_back(item(L"Y ", true));
    d.VectorRD_Other.push_back(item(L"Y", true));
    auto it = std::find_if(d.VectorRD_Other.begin(), d.VectorRD_Other.end(), SKzND_FindRecordedData_Key(L"Y"));
    EXPECT_EQ(5, it - d.VectorRD_Other.begin());

    const SKzRecordedData base = sampleData();
    std::vector<std::function<void(SKzRecordedData&)>> changes = {
        [](SKzRecordedData& x) { x.iVersion = 8; },
        [](SKzRecordedData& x) { x.dValFrequnce = 5; },
        [](SKzRecordedData& x) { x.eRecordAngIn = (EKzRecordMode)1; },
        [](SKzRecordedData& x) { x.VectorRD_TTLIn.clear(); },
        [](SKzRecordedData& x) { x.VectorRD_Other[2].wsRDDescription = L"e"; },
        [](SKzRecordedData& x) { x.VectorRD_AngIn[0].bRDCheck = true; },
    };
    for (size_t i = 0; i < changes.size(); ++i) {
        SKzRecordedData x = base;
        changes[i](x);
        EXPECT_FALSE(x == base) << i;
    }
    SKzRecordedData same = base;
    same.VectorRD_Other[0].uiFlags = 9;   // flags are not compared
    same.bReserved = true;
    same.dValTime = std::nan("");
    EXPECT_TRUE(same == base);
    SKzRecordedData assigned;
    assigned.bReserved = true;
    assigned = base;
    EXPECT_TRUE(assigned == base);
    EXPECT_TRUE(assigned.bReserved);   // not copied
}

// ---------------------------------------------------------------------------
// Parallel experiment
// ---------------------------------------------------------------------------

namespace {

typedef SKzParallelExperiment PE;

std::vector<double> starts(const PE& e, u32 task)
{
    u32 ti;
    std::vector<double> out;
    if (PE::FindTask(e, task, &ti) != 0) return out;
    for (u32 i = 0; i < e.pTasks[ti].uiEventCount; ++i) out.push_back(e.pTasks[ti].pEvents[i].dTimeStart);
    return out;
}

PE& sampleParallel(PE& e)
{
    PE::AddEvent(e, 0, 5, 1, 0.5, 3, 0, L"five", 2, nullptr);
    PE::AddEvent(e, 0, 1, 1, 0.5, 3, 0, L"one", 0, nullptr);
    PE::AddEvent(e, 7, 2, 0, 0, 1, 101, nullptr, 1, nullptr);
    PE::AddEvent(e, 7, 4, 0, 0, 1, 0, L"cmd \"<&>\"", 1, nullptr);
    return e;
}

} // namespace

TEST(ExperimentParallel, AddEventKeepsTimeOrder)
{
    PE e;
    u32 idx = 99;
    EXPECT_EQ(0, PE::AddEvent(e, 3, 5, 0, 0, 1, 0, L"five", 0, &idx));
    EXPECT_EQ(0u, idx);
    EXPECT_EQ(1u, e.uiTaskCount);
    PE::AddEvent(e, 3, 1, 0, 0, 1, 0, L"one", 0, &idx);
    EXPECT_EQ(0u, idx);
    PE::AddEvent(e, 3, 3, 0, 0, 1, 0, L"three", 0, &idx);
    EXPECT_EQ(1u, idx);
    EXPECT_EQ((std::vector<double>{1, 3, 5}), starts(e, 3));
    PE::AddEvent(e, 3, 3, 0, 0, 1, 0, L"new three", 0, &idx);
    EXPECT_EQ(1u, idx);
    EXPECT_EQ(std::wstring(L"new three"), e.pTasks[0].pEvents[1].sCommand);
    EXPECT_EQ(std::wstring(L"three"), e.pTasks[0].pEvents[2].sCommand);   // moved up, own command kept
    EXPECT_EQ(std::wstring(L"five"), e.pTasks[0].pEvents[3].sCommand);

    // A new task ID creates the task at the end.
    PE::AddEvent(e, 9, 0, 0, 0, 1, 0, nullptr, 0, &idx);
    EXPECT_EQ(2u, e.uiTaskCount);
    u32 ti;
    EXPECT_EQ(0, PE::FindTask(e, 9, &ti));
    EXPECT_EQ(1u, ti);
    EXPECT_EQ(0, e.pTasks[1].pEvents[0].sCommand[0]);
    EXPECT_EQ(-13, PE::FindTask(e, 4, &ti));
}

TEST(ExperimentParallel, TriggeredEventsAreSkippedByTheTimeSearch)
{
    PE e;
    u32 idx;
    PE::AddEvent(e, 0, 10, 0, 0, 1, PE::ID_TRIGGER_STIMULATION_MANUAL, nullptr, 0, &idx);
    PE::AddEvent(e, 0, 0, 0, 0, 1, PE::ID_TRIGGER_NONE, nullptr, 0, &idx);
    EXPECT_EQ(1u, idx);
    EXPECT_EQ(0, PE::FindTriggeredEvent(e.pTasks[0], 101, &idx));
    EXPECT_EQ(0u, idx);
    EXPECT_EQ(-13, PE::FindTriggeredEvent(e.pTasks[0], 1000, &idx));

    // The time search from a start index: backwards while later, forwards otherwise.
    PE f;
    for (double t : {1.0, 3.0, 5.0, 7.0}) PE::AddEvent(f, 0, t, 0, 0, 1, 0, nullptr, 0, nullptr);
    struct Case {
        double t;
        int start;
        int expect;
    } cases[] = {{4, 3, 2}, {0.5, 2, 0}, {3, 3, 2}, {4, 0, 2}, {8, -1, -13}, {7, -1, 3}, {1, 0, 1}};
    for (const Case& c : cases) {
        u32 i = 77;
        const int r = PE::FindEvent(f.pTasks[0], c.t, &i, c.start);
        if (c.expect < 0) EXPECT_EQ(c.expect, r) << c.t << " " << c.start;
        else EXPECT_EQ((u32)c.expect, i) << c.t << " " << c.start;
    }
    PE::SKzParallelTask empty = {0, 0, nullptr};
    EXPECT_EQ(-13, PE::FindEvent(empty, 0, &idx, -1));
}

TEST(ExperimentParallel, CommandsAreCutAt255Characters)
{
    PE e;
    const std::wstring cmd = longText(300);
    PE::AddEvent(e, 0, 0, 0, 0, 1, 0, cmd.c_str(), 0, nullptr);
    EXPECT_EQ(cmd.substr(0, 255), std::wstring(e.pTasks[0].pEvents[0].sCommand));
}

TEST(ExperimentParallel, RemovalsAndTheirErrors)
{
    PE e;
    sampleParallel(e);
    EXPECT_EQ(-13, PE::RemoveEvent(e, 0, 2));
    EXPECT_EQ(-13, PE::RemoveEvent(e, 5, 0));
    EXPECT_EQ(0, PE::RemoveEvent(e, 0, 0));
    EXPECT_EQ((std::vector<double>{5}), starts(e, 0));
    EXPECT_EQ(-13, PE::RemoveTask(e, 5));
    EXPECT_EQ(0, PE::RemoveTask(e, 0));
    EXPECT_EQ(1u, e.uiTaskCount);
    EXPECT_EQ(7u, e.pTasks[0].uiTaskID);
    EXPECT_EQ((std::vector<double>{2, 4}), starts(e, 7));
}

TEST(ExperimentParallel, EqualityMatchesTasksByID)
{
    PE a, b;
    PE::AddEvent(a, 1, 1, 0, 0, 1, 0, L"a", 0, nullptr);
    PE::AddEvent(a, 2, 2, 0, 0, 1, 0, L"b", 0, nullptr);
    PE::AddEvent(b, 2, 2, 0, 0, 1, 0, L"b", 0, nullptr);
    PE::AddEvent(b, 1, 1, 0, 0, 1, 0, L"a", 0, nullptr);
    EXPECT_TRUE(PE::IsEqual(a, b));
    b.pTasks[0].pEvents[0].dTimeDuration = std::nan("");
    EXPECT_TRUE(PE::IsEqual(a, b));
    b.pTasks[0].pEvents[0].uiROIs = 4;
    EXPECT_FALSE(PE::IsEqual(a, b));
    b.pTasks[0].pEvents[0].uiROIs = 0;
    b.pTasks[0].pEvents[0].sCommand[0] = L'c';
    EXPECT_FALSE(PE::IsEqual(a, b));

    // Events in different orders differ.
    PE c, d;
    PE::AddEvent(c, 0, 1, 0, 0, 1, 5, nullptr, 0, nullptr);
    PE::AddEvent(c, 0, 2, 0, 0, 1, 6, nullptr, 0, nullptr);
    PE::AddEvent(d, 0, 2, 0, 0, 1, 6, nullptr, 0, nullptr);
    PE::AddEvent(d, 0, 1, 0, 0, 1, 5, nullptr, 0, nullptr);
    EXPECT_FALSE(PE::IsEqual(c, d));
    EXPECT_TRUE(PE::IsEqual(PE(), PE()));
    EXPECT_FALSE(PE::IsEqual(c, PE()));
}

TEST(ExperimentParallel, CopyIsDeep)
{
    PE src, dst;
    sampleParallel(src);
    PE::AddEvent(dst, 4, 4, 0, 0, 1, 0, nullptr, 0, nullptr);
    EXPECT_EQ(0, PE::Copy(dst, src));
    EXPECT_TRUE(PE::IsEqual(dst, src));
    EXPECT_NE(src.pTasks, dst.pTasks);
    EXPECT_NE(src.pTasks[0].pEvents, dst.pTasks[0].pEvents);
    EXPECT_EQ(0, PE::Copy(dst, dst));
    EXPECT_TRUE(PE::IsEqual(dst, src));
    PE::Clear(src);
    EXPECT_EQ(2u, dst.uiTaskCount);
    EXPECT_EQ(0, PE::Copy(dst, src));
    EXPECT_EQ(0u, dst.uiTaskCount);
    EXPECT_EQ(nullptr, dst.pTasks);
}

TEST(ExperimentParallel, BothFormsRoundTrip)
{
    PE src;
    sampleParallel(src);
    CKzVariant v;
    EXPECT_EQ(0, PE::SaveToVariant(v, src));
    EXPECT_EQ(L"sParallelExperiment", std::wstring(v.GetName().GetString()));
    EXPECT_EQ((std::vector<std::wstring>{L"uiTaskCount", L"pTasks"}), ChildNames(v));
    EXPECT_EQ(L"no_name", std::wstring(v[L"pTasks"][0].GetName().GetString()));
    EXPECT_EQ((std::vector<std::wstring>{L"dTimeStart", L"dTimeDuration", L"dTimeStep", L"uiCount", L"uiTriggerID",
                                         L"sCommand", L"uiROIs"}),
              ChildNames(v[L"pTasks"][0][L"pEvents"][0]));
    PE fromXml;
    EXPECT_EQ(0, PE::LoadFromVariant(fromXml, ThroughXML(v)));
    EXPECT_TRUE(PE::IsEqual(fromXml, src));

    const Bytes b = LiteBlob([&](CKzLiteVariantW& w) { PE::SaveToLiteVariant(w, src); });
    PE fromLite;
    CKzLiteVariantR r;
    OpenRoot(r, b);
    EXPECT_EQ(0, PE::LoadFromLiteVariant(fromLite, r));
    EXPECT_TRUE(PE::IsEqual(fromLite, src));
    EXPECT_EQ(std::wstring(L"cmd \"<&>\""), fromLite.pTasks[1].pEvents[1].sCommand);
}

TEST(ExperimentParallel, EmptyAndMalformedForms)
{
    PE none;
    CKzVariant v;
    PE::SaveToVariant(v, none);
    EXPECT_EQ("CKzListVariant", RT(v));
    EXPECT_EQ(0, v.GetCount());
    PE loaded;
    sampleParallel(loaded);
    EXPECT_EQ(0, PE::LoadFromVariant(loaded, ThroughXML(v)));
    EXPECT_EQ(0u, loaded.uiTaskCount);

    CKzVariant noTasks(CKzListVariant(), CKzStringW(L"sParallelExperiment"));
    noTasks.Append(CKzVariant(2u, CKzStringW(L"uiTaskCount")));
    EXPECT_EQ(-9, PE::LoadFromVariant(loaded, noTasks));

    // Counts larger than what is stored become the number stored.
    CKzVariant big(CKzListVariant(), CKzStringW(L"sParallelExperiment"));
    big.Append(CKzVariant(0x80000000u, CKzStringW(L"uiTaskCount")));
    CKzVariant tasks(CKzListVariant(), CKzStringW(L"pTasks"));
    CKzVariant task{CKzListVariant(), CKzStringW()};
    task.Append(CKzVariant(6u, CKzStringW(L"uiTaskID")));
    task.Append(CKzVariant(0xFFFFFFFFu, CKzStringW(L"uiEventCount")));
    CKzVariant evs(CKzListVariant(), CKzStringW(L"pEvents"));
    CKzVariant ev{CKzListVariant(), CKzStringW()};
    ev.Append(CKzVariant(2.5, CKzStringW(L"dTimeStart")));
    evs.Append(ev);
    task.Append(evs);
    tasks.Append(task);
    big.Append(tasks);
    EXPECT_EQ(0, PE::LoadFromVariant(loaded, big));
    ASSERT_EQ(1u, loaded.uiTaskCount);
    ASSERT_EQ(1u, loaded.pTasks[0].uiEventCount);
    EXPECT_EQ(6u, loaded.pTasks[0].uiTaskID);
    EXPECT_EQ(2.5, loaded.pTasks[0].pEvents[0].dTimeStart);

    const Bytes b = LiteBlob([](CKzLiteVariantW& w) {
        w.Set(0x80000000u, L"uiTaskCount");
        w.LevelBegin(L"pTasks");
        w.LevelBegin(L"");
        w.Set(3u, L"uiTaskID");
        w.Set(0x7FFFFFFFu, L"uiEventCount");
        w.LevelBegin(L"pEvents");
        w.LevelBegin(L"");
        w.Set(1.5, L"dTimeStart");
        w.LevelEnd();
        w.LevelEnd();
        w.LevelEnd();
        w.LevelEnd();
    });
    CKzLiteVariantR r;
    OpenRoot(r, b);
    EXPECT_EQ(0, PE::LoadFromLiteVariant(loaded, r));
    ASSERT_EQ(1u, loaded.uiTaskCount);
    ASSERT_EQ(1u, loaded.pTasks[0].uiEventCount);
    EXPECT_EQ(1.5, loaded.pTasks[0].pEvents[0].dTimeStart);

    // A task count without a task level gives no tasks.
    const Bytes c = LiteBlob([](CKzLiteVariantW& w) { w.Set(5u, L"uiTaskCount"); });
    OpenRoot(r, c);
    EXPECT_EQ(0, PE::LoadFromLiteVariant(loaded, r));
    EXPECT_EQ(0u, loaded.uiTaskCount);
}
