// Experiment levels in the variant form: round trips through XML with and
// without registered run types, the stored texts, and hostile nodes.
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "experiment_nav_support.h"
#include "experiment_variant_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

using namespace varianttest;

namespace {

const char* const kDocHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\">";

std::string u(const char* n, const char* t, const std::string& v)
{
    return std::string("<") + n + " runtype=\"" + t + "\" value=\"" + v + "\"/>";
}
std::string list(const char* n, const std::string& inner, const char* t = "CKzListVariant")
{
    return std::string("<") + n + " runtype=\"" + t + "\">" + inner + "</" + n + ">";
}

// The text of a cleared autofocus record.
std::string clearedAutoFocus(const char* name)
{
    return list(name,
                u("eType", "kz_uint32", "0") + u("dStep", "double", "0") + u("dRange", "double", "0") +
                    u("dPrecision", "double", "0") + u("dSpeed", "double", "0") +
                    list("aFocusPlane", u("iDegree", "kz_int32", "0") + u("uiValues", "kz_uint32", "0") +
                                            list("pCoeff", "")) +
                    u("uiFlags", "kz_uint32", "0") + u("iFocusCriterion", "kz_int32", "0") +
                    u("sZDrive", "CKzStringW", ""),
                "RKzExperiment.RKzExpAutoFocus");
}

// Round trip through the variant form and XML; the tree read back is equal
// and stores the same text again.
// A non-equidistant loop whose per-period lists are all empty reads back
// without them (the frames then follow the level's own children).
bool emptySubLoops(const Exp& e)
{
    if (e.eType != Exp::eExpNETimeLoop || !e.uLoopPars.sNETimeLoop.pSubLoops) return false;
    for (u32 p = 0; p < e.uLoopPars.sNETimeLoop.uiPeriodCount; ++p)
        if (e.uLoopPars.sNETimeLoop.pSubLoops[p].uiNextLevelCount) return false;
    return true;
}

// Round trip through the variant form and XML; the tree read back is equal
// and stores the same text again.
void expectRoundTrip(const Exp& e, const char* what)
{
    SCOPED_TRACE(what);
    const std::string doc = VariantXML(e);
    Tree back = FromXML(doc);
    EXPECT_TRUE(Exp::IsEqual(e, *back, true, true));
    const std::string again = VariantXML(*back);
    if (emptySubLoops(e)) {
        EXPECT_EQ(again, VariantXML(*FromXML(again)));
        return;
    }
    EXPECT_EQ(doc, again);
    EXPECT_EQ(CKzExperimentAPI::GetAllImagesCount(&e), CKzExperimentAPI::GetAllImagesCount(back.get()));
}

// Registers samples for every run type of the form, members in table order.
void registerSamples()
{
    auto S = [](const wchar_t* name, std::initializer_list<CKzVariant> members) {
        CKzVariant s = CKzListVariant();
        s.SetName(CKzStringW(name));
        for (const CKzVariant& m : members) s.Append(m);
        ASSERT_EQ(0, CKzVariant::RegisterRunType(s));
    };
    auto U = [](const wchar_t* n) { return CKzVariant(0u, CKzStringW(n)); };
    auto I = [](const wchar_t* n) { return CKzVariant(0, CKzStringW(n)); };
    auto D = [](const wchar_t* n) { return CKzVariant(0.0, CKzStringW(n)); };
    auto B = [](const wchar_t* n) { return CKzVariant(false, CKzStringW(n)); };
    auto T = [](const wchar_t* n) { return CKzVariant(CKzStringW(), CKzStringW(n)); };
    auto L = [](const wchar_t* n) { return CKzVariant(CKzListVariant(), CKzStringW(n)); };
    auto AF = [](const wchar_t* n) { return CKzVariant(CKzVariantRunType("RKzExperiment.RKzExpAutoFocus"), CKzStringW(n)); };
    S(L"RKzExperiment.RKzExpAutoFocus", {U(L"eType"), D(L"dStep"), D(L"dRange"), D(L"dPrecision"), D(L"dSpeed"),
                                         L(L"aFocusPlane"), U(L"uiFlags"), I(L"iFocusCriterion"), T(L"sZDrive")});
    S(L"RKzExperiment.RKzExpTimeLoop",
      {U(L"uiCount"), D(L"dStart"), D(L"dPeriod"), D(L"dDuration"), D(L"dMinPeriodDiff"), D(L"dMaxPeriodDiff"),
       D(L"dAvgPeriodDiff"), T(L"wsPhaseName"), U(L"uiLoopType"), U(L"uiGroup"), U(L"uiStimulationCount"),
       B(L"bDurationPref"), AF(L"sAutoFocusBeforePeriod"), AF(L"sAutoFocusBeforeCapture")});
    S(L"RKzExperiment.RKzExpNETimeLoop",
      {U(L"uiCount"), U(L"uiPeriodCount"), AF(L"sAutoFocusBeforePeriod"), AF(L"sAutoFocusBeforeCapture"),
       L(L"pPeriod"), L(L"szCommandBeforePeriod"), L(L"szCommandAfterPeriod"), L(L"pPeriodValid"), L(L"pSubLoops")});
    S(L"RKzExperiment.RKzExpXYPosLoop",
      {U(L"uiCount"), L(L"dPosX"), L(L"dPosY"), L(L"dPosZ"), L(L"dHZKOffset"), L(L"pPosName"), B(L"bUseZ"),
       B(L"bRelativeXY"), D(L"dReferenceX"), D(L"dReferenceY"), B(L"bRedefineAfterHZK"),
       B(L"bRedefineAfterAutoFocus"), B(L"bKeepHZKOn"), B(L"bSplitMultipoints"), T(L"sZDevice"),
       AF(L"sAutoFocusBeforeCapture")});
    S(L"RKzExperiment.RKzExpXYDiscrLoop", {U(L"uiCount"), L(L"uiRow"), L(L"uiCol"), B(L"bUseZ"), L(L"dPosZ")});
    S(L"RKzExperiment.RKzExpZStackLoop",
      {U(L"uiCount"), D(L"dZLow"), D(L"dZLowHZKOffset"), D(L"dZHigh"), D(L"dZHighHZKOffset"), D(L"dZHome"),
       D(L"dZStep"), B(L"bTriggeredPiezo"), I(L"iType"), B(L"bAbsolute"), B(L"bZInverted"),
       D(L"dReferencePosition"), D(L"dTIRFPosition"), D(L"dTIRFHZKOffset"), B(L"bTIRF"), T(L"sZDevice"),
       T(L"sCommandBeforeCapture"), T(L"sCommandAfterCapture")});
    S(L"RKzExperiment.RKzExpPolarLoop", {U(L"uiCount"), D(L"dAngleStart"), D(L"dAngleFinish"), B(L"bSceneRotates")});
    // The channel set keeps a structure no host registered, so its members
    // follow in the order stored.
    S(L"RKzExperiment.RKzExpSpectLoop",
      {U(L"uiCount"), I(L"bMergeCameras"), CKzVariant(CKzVariantRunType("RKzPicturePlanes"), CKzStringW(L"pPlanes")),
       L(L"pPlaneDesc"), L(L"pAutoFocus"), L(L"szCommandBeforeCapture"), L(L"szCommandAfterCapture"),
       L(L"pZStackPos")});
    S(L"RKzExperiment.RKzExpCustomLoop", {U(L"uiCount"), T(L"wsDescription")});
    S(L"RKzExperiment.RKzLIDesc",
      {I(L"iMethod"), I(L"iXFields"), I(L"iYFields"), D(L"dXmm"), D(L"dYmm"), I(L"bStitch"), I(L"bValid"),
       B(L"bControlShutter"), D(L"dOverlap"), U(L"uiOrder"), U(L"uiStitchingChannel"), T(L"sPattern"),
       T(L"sCamera")});
    S(L"RKzExperiment",
      {U(L"eType"), T(L"wsApplicationDesc"), T(L"wsUserDesc"), CKzVariant(CKzByteArray(0), CKzStringW(L"aMeasProbesBase64")),
       T(L"wsCameraName"), L(L"pItemValid"), L(L"uLoopPars"), T(L"wsCommandBeforeLoop"), T(L"wsCommandBeforeCapture"),
       T(L"wsCommandAfterCapture"), T(L"wsCommandAfterLoop"), B(L"bControlShutter"), B(L"bControlLight"),
       B(L"bUseHZK"), B(L"bUseHWSequencer"), B(L"bUseWqRecipe"), B(L"bUseIntenzityCorrection"), L(L"pLargeImage"),
       L(L"pLargeImageEx"), L(L"pNIExperiment"), L(L"pRecordedData"), AF(L"sAutoFocusBeforeLoop"),
       L(L"sParallelExperiment"), U(L"uiRepeatCount"), L(L"ppNextLevelEx")});
}

// Every loop type, one level each, plus the whole tree and random trees.
void roundTripEverything()
{
    Tree full = fullTree();
    expectRoundTrip(*full, "full tree");
    for (int t = 1; t <= 9; ++t) {
        Tree one(level((Exp::EKzExperimentType)t, t == 6 ? 2 : 3, t != 8, t == 8 ? 2 : 0));
        setCommon(*one, t);
        if (t == 8) {
            one->uLoopPars.sNETimeLoop.pPeriod[0].uiCount = 2;
            one->uLoopPars.sNETimeLoop.pPeriod[1].uiCount = 1;
            one->uLoopPars.sNETimeLoop.uiCount = 3;
        }
        if (t == 9) one->uLoopPars.uiCount = 0;   // the form stores no manual count
        expectRoundTrip(*one, ("loop type " + std::to_string(t)).c_str());
    }
    navtest::RandomTrees gen(97);
    for (int i = 0; i < 150; ++i) {
        Tree t(gen.Tree());
        expectRoundTrip(*t, ("random tree " + std::to_string(i)).c_str());
    }
}

// A level node built by hand: run type, autofocus record and the members
// the builder adds.
CKzVariant levelNode(std::function<void(CKzVariant&)> fill, bool withAutoFocus = true)
{
    CKzVariant n;
    n.EnableTypeChange(true);
    EXPECT_EQ(0, n.SetRunType(CKzVariantRunType("RKzExperiment")));
    fill(n);
    if (withAutoFocus) {
        Exp::SKzExpAutoFocus af;
        Exp::SKzExpAutoFocus::SetToNull(af);
        EXPECT_EQ(0, Exp::SKzExpAutoFocus::SaveToVariant(n[L"sAutoFocusBeforeLoop"], af));
    }
    return n;
}

// The loop node of a hand-built level: element 0 of "uLoopPars" with a run type.
CKzVariant& loopNode(CKzVariant& level, unsigned type, const char* rt)
{
    level[L"eType"] = type;
    CKzVariant& pars = level[L"uLoopPars"];
    pars = CKzListVariant();
    CKzVariant& loop = pars.Append(CKzVariant());
    loop.EnableTypeChange(true);
    if (rt) EXPECT_EQ(0, loop.SetRunType(CKzVariantRunType(rt)));
    return loop;
}

template <class T>
void fillList(CKzVariant& node, const wchar_t* name, int n, T value)
{
    CKzVariant& l = node[name];
    l = CKzListVariant();
    for (int i = 0; i < n; ++i) l.Append(CKzVariant(value));
}

Tree load(const CKzVariant& n, int expect = 0)
{
    Tree t(new Exp());
    EXPECT_EQ(expect, Exp::LoadFromVariant(*t, n));
    return t;
}

// Loads with the standard output captured; true when a Failure line was printed.
bool loadPrintsFailure(const CKzVariant& n, Tree& out, int expect = 0)
{
    testing::internal::CaptureStdout();
    out = load(n, expect);
    return testing::internal::GetCapturedStdout().find("Failure! File: gnr_metaformats/ExperimentAPI") !=
           std::string::npos;
}

} // namespace

// ---------------------------------------------------------------------------
// Round trips
// ---------------------------------------------------------------------------

TEST(ExperimentVariant, EveryLoopTypeRoundTripsUnregistered)
{
    roundTripEverything();
    EXPECT_TRUE(g_UndefVariant.IsUndefined());
    EXPECT_EQ(-1, g_UndefVariant.GetCount());
}

// Registration cannot be undone, so the registered round trips run in a
// child process of their own.
TEST(ExperimentVariant, EveryLoopTypeRoundTripsRegistered)
{
    EXPECT_EXIT(
        {
            registerSamples();
            roundTripEverything();
            // Members come in the samples' order: the level's first and last.
            Tree full = fullTree();
            CKzVariant v;
            Exp::SaveToVariant(v, *full);
            const bool ordered = CKzVariant::GetRunTypeIndex(CKzVariantRunType("RKzExperiment")) >= 0 &&
                                 v.GetCount() == 25 && v[0].GetName() == L"eType" &&
                                 v[24].GetName() == L"ppNextLevelEx" && g_UndefVariant.IsUndefined();
            std::exit(ordered && !testing::Test::HasFailure() ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(ExperimentVariant, SpectralChannelsKeepComponentCounts)
{
    Tree full = fullTree();
    Tree back = FromXML(VariantXML(*full));
    const Exp* s = back.get();
    while (s && s->eType != Exp::eExpSpectLoop) s = s->uiNextLevelCount ? s->ppNextLevelEx[0] : nullptr;
    ASSERT_NE(nullptr, s);
    const auto& l = s->uLoopPars.sSpectLoop;
    EXPECT_EQ(3u, l.uiCount);
    ASSERT_NE(nullptr, l.pPlanes);
    EXPECT_EQ(6u, l.pPlanes->uiCompCount);
    EXPECT_EQ(1, l.pZStackPos[2]);
    EXPECT_EQ(CKzStringW(L"FITC"), l.pPlanes->pPlanes[1].sDescription);
    EXPECT_TRUE(l.bMergeCameras);
    ASSERT_NE(nullptr, s->pItemValid);
    EXPECT_FALSE(s->pItemValid[1]);
}

TEST(ExperimentVariant, FieldsTheComparisonLeavesOut)
{
    Tree full = fullTree();
    Tree back = FromXML(VariantXML(*full));
    // Autofocus records of a time loop, the second stitching channel and the
    // per-period children.
    const auto& t = back->uLoopPars.sTimeLoop;
    EXPECT_TRUE(Exp::SKzExpAutoFocus::IsEqual(t.sAutoFocusBeforePeriod, full->uLoopPars.sTimeLoop.sAutoFocusBeforePeriod));
    EXPECT_EQ(2u + 2u, t.sAutoFocusBeforePeriod.eType);
    EXPECT_EQ(3u, t.sAutoFocusBeforeCapture.eType);
    EXPECT_DOUBLE_EQ(0.5, t.sAutoFocusBeforeCapture.aFocusPlane.pCoeff[2] * 2);
    ASSERT_NE(nullptr, back->pLargeImage);
    EXPECT_EQ(4u, back->pLargeImage[1].uiStitchingChannel);
    EXPECT_EQ(std::wstring(L"right"), back->pLargeImage[1].sCamera);
    EXPECT_EQ(std::wstring(L"\u00c4\u03a9 probe"), back->aMeasProbesBase64.GetString());
    const Exp* ne = back->ppNextLevelEx[0]->ppNextLevelEx[0]->ppNextLevelEx[0];
    ASSERT_EQ(Exp::eExpNETimeLoop, ne->eType);
    const auto& n = ne->uLoopPars.sNETimeLoop;
    EXPECT_EQ(10u, n.uiCount);
    ASSERT_NE(nullptr, n.pSubLoops);
    EXPECT_EQ(0u, n.pSubLoops[0].uiNextLevelCount);
    EXPECT_EQ(nullptr, n.pSubLoops[0].ppNextLevelEx);
    ASSERT_EQ(2u, n.pSubLoops[2].uiNextLevelCount);
    EXPECT_EQ(Exp::eExpPolarLoop, n.pSubLoops[2].ppNextLevelEx[0]->eType);
    EXPECT_EQ(10.0, n.pSubLoops[2].ppNextLevelEx[0]->uLoopPars.sPolarLoop.dAngleStart);
    EXPECT_EQ(2u, n.pSubLoops[2].ppNextLevelEx[1]->uiRepeatCount);
    EXPECT_EQ(CKzStringW(L"after 2"), n.szCommandAfterPeriod[2]);
}

// ---------------------------------------------------------------------------
// Stored texts
// ---------------------------------------------------------------------------

TEST(ExperimentVariant, CustomLevelText)
{
    Tree e(level(Exp::eExpCustomLoop, 2, true));
    e->pItemValid[1] = false;
    *e->uLoopPars.sCustomLoop.wsDescription = L"d";
    e->wsApplicationDesc = L"app";
    e->aMeasProbesBase64 = L"AB";
    e->wsCameraName = L"cam";
    e->wsCommandBeforeLoop = L"bl";
    e->uiRepeatCount = 3;
    const std::string expected =
        std::string(kDocHead) +
        list("no_name",
             u("eType", "kz_uint32", "7") + u("wsApplicationDesc", "CKzStringW", "app") +
                 u("wsUserDesc", "CKzStringW", "") +
                 // "A", "B" and the terminator as 32-bit little-endian characters, in Base64
                 u("aMeasProbesBase64", "CKzByteArray", "QQAAAEIAAAAAAAAA") + u("wsCameraName", "CKzStringW", "cam") +
                 list("pItemValid", u("_00", "bool", "true") + u("_01", "bool", "false")) +
                 list("uLoopPars", list("no_name",
                                        u("uiCount", "kz_uint32", "2") + u("wsDescription", "CKzStringW", "d"),
                                        "RKzExperiment.RKzExpCustomLoop")) +
                 u("wsCommandBeforeLoop", "CKzStringW", "bl") + u("wsCommandBeforeCapture", "CKzStringW", "") +
                 u("wsCommandAfterCapture", "CKzStringW", "") + u("wsCommandAfterLoop", "CKzStringW", "") +
                 u("bControlShutter", "bool", "true") + u("bControlLight", "bool", "false") +
                 u("bUseHZK", "bool", "false") + u("bUseHWSequencer", "bool", "false") +
                 u("bUseWqRecipe", "bool", "false") + u("bUseIntenzityCorrection", "bool", "false") +
                 list("pLargeImage", "") + list("pLargeImageEx", "") + clearedAutoFocus("sAutoFocusBeforeLoop") +
                 list("sParallelExperiment", "") + u("uiRepeatCount", "kz_uint32", "3") + list("ppNextLevelEx", ""),
             "RKzExperiment") +
        "</variant>";
    EXPECT_EQ(expected, VariantXML(*e));
}

TEST(ExperimentVariant, LoopAndSideRecordTexts)
{
    // XY positions with one point, a stitching pair, a time loop period list
    // and an autofocus record with coefficients.
    Tree xy(level(Exp::eExpXYPosLoop, 1));
    auto& p = xy->uLoopPars.sXYPosLoop;
    p.dPosX[0] = 1.5;
    p.dPosY[0] = -2;
    p.dHZKOffset[0] = 0.25;
    p.pPosName[0] = L"p1";
    p.bUseZ = true;
    std::wcscpy(p.sZDevice, L"z");
    p.sAutoFocusBeforeCapture.aFocusPlane.uiValues = 9;
    for (int i = 0; i < 6; ++i) p.sAutoFocusBeforeCapture.aFocusPlane.pCoeff[i] = i + 0.5;
    p.sAutoFocusBeforeCapture.aFocusPlane.iDegree = -1;
    xy->pLargeImage = new Exp::SKzLIDesc[2]();
    auto& li = xy->pLargeImage[0];
    li.iMethod = 1;
    li.iXFields = 2;
    li.iYFields = 3;
    li.dXmm = 0.5;
    li.dYmm = 1;
    li.bStitch = true;
    li.bControlShutter = true;
    li.dOverlap = 15;
    li.uiOrder = 4;
    li.uiStitchingChannel = 5;
    std::wcscpy(li.sPattern, L"p");
    std::wcscpy(li.sCamera, L"c");
    xy->pLargeImage[1].uiStitchingChannel = 6;
    const std::string doc = VariantXML(*xy);
    std::string coeffs;
    for (int i = 0; i < 6; ++i) coeffs += u("no_name", "double", std::to_string(i) + ".5");
    const std::string loop = list(
        "no_name",
        u("uiCount", "kz_uint32", "1") + list("dPosX", u("item_00000", "double", "1.5")) +
            list("dPosY", u("item_00000", "double", "-2")) + list("dPosZ", u("item_00000", "double", "0")) +
            list("dHZKOffset", u("item_00000", "double", "0.25")) +
            list("pPosName", u("item_00000", "CKzStringW", "p1")) + u("bUseZ", "bool", "true") +
            u("bRelativeXY", "bool", "false") + u("dReferenceX", "double", "0") + u("dReferenceY", "double", "0") +
            u("bRedefineAfterHZK", "bool", "false") + u("bRedefineAfterAutoFocus", "bool", "false") +
            u("bKeepHZKOn", "bool", "false") + u("bSplitMultipoints", "bool", "false") +
            u("sZDevice", "CKzStringW", "z") +
            list("sAutoFocusBeforeCapture",
                 u("eType", "kz_uint32", "0") + u("dStep", "double", "0") + u("dRange", "double", "0") +
                     u("dPrecision", "double", "0") + u("dSpeed", "double", "0") +
                     list("aFocusPlane", u("iDegree", "kz_int32", "-1") + u("uiValues", "kz_uint32", "6") +
                                             list("pCoeff", coeffs)) +
                     u("uiFlags", "kz_uint32", "0") + u("iFocusCriterion", "kz_int32", "0") +
                     u("sZDrive", "CKzStringW", ""),
                 "RKzExperiment.RKzExpAutoFocus"),
        "RKzExperiment.RKzExpXYPosLoop");
    EXPECT_NE(std::string::npos, doc.find(list("uLoopPars", loop))) << doc;
    auto desc = [&](const char* channel, bool first) {
        return list("no_name",
                    u("iMethod", "kz_int32", first ? "1" : "0") + u("iXFields", "kz_int32", first ? "2" : "0") +
                        u("iYFields", "kz_int32", first ? "3" : "0") + u("dXmm", "double", first ? "0.5" : "0") +
                        u("dYmm", "double", first ? "1" : "0") + u("bStitch", "kz_int32", first ? "1" : "0") +
                        u("bValid", "kz_int32", "0") + u("bControlShutter", "bool", first ? "true" : "false") +
                        u("dOverlap", "double", first ? "15" : "0") + u("uiOrder", "kz_uint32", first ? "4" : "0") +
                        u("uiStitchingChannel", "kz_uint32", channel) + u("sPattern", "CKzStringW", first ? "p" : "") +
                        u("sCamera", "CKzStringW", first ? "c" : ""),
                    "RKzExperiment.RKzLIDesc");
    };
    EXPECT_NE(std::string::npos,
              doc.find(list("pLargeImage", desc("5", true)) + list("pLargeImageEx", desc("6", false))))
        << doc;

    // A non-equidistant loop: period nodes, texts, flags and children.
    Tree ne(level(Exp::eExpNETimeLoop, 3, false, 2));
    auto& n = ne->uLoopPars.sNETimeLoop;
    n.pPeriod[0].uiCount = 1;
    n.pPeriod[1].uiCount = 2;
    n.pPeriodValid[1] = false;
    n.szCommandAfterPeriod[1] = L"x";
    n.pSubLoops = new Exp::SKzExpNETimeLoop::SKzSubLoopsDefinition[2];
    const std::string neDoc = VariantXML(*ne);
    auto period = [&](const char* name, const char* count) {
        return list(name,
                    u("uiCount", "kz_uint32", count) + u("dStart", "double", "0") + u("dPeriod", "double", "0") +
                        u("dDuration", "double", "0") + u("dMinPeriodDiff", "double", "0") +
                        u("dMaxPeriodDiff", "double", "0") + u("dAvgPeriodDiff", "double", "0") +
                        u("wsPhaseName", "CKzStringW", "") + u("uiLoopType", "kz_uint32", "0") +
                        u("uiGroup", "kz_uint32", "0") + u("uiStimulationCount", "kz_uint32", "0") +
                        u("bDurationPref", "bool", "false"),
                    "RKzExperiment.RKzExpTimeLoop");
    };
    const std::string neLoop =
        list("no_name",
             u("uiCount", "kz_uint32", "3") + u("uiPeriodCount", "kz_uint32", "2") +
                 clearedAutoFocus("sAutoFocusBeforePeriod") + clearedAutoFocus("sAutoFocusBeforeCapture") +
                 list("pPeriod", period("_00", "1") + period("_01", "2")) +
                 list("szCommandBeforePeriod", u("_00", "CKzStringW", "") + u("_01", "CKzStringW", "")) +
                 list("szCommandAfterPeriod", u("_00", "CKzStringW", "") + u("_01", "CKzStringW", "x")) +
                 list("pPeriodValid", u("_00", "bool", "true") + u("_01", "bool", "false")) +
                 list("pSubLoops", u("_00", "unknown", "") + u("_01", "unknown", "")),
             "RKzExperiment.RKzExpNETimeLoop");
    EXPECT_NE(std::string::npos, neDoc.find(list("uLoopPars", neLoop))) << neDoc;

    // A manual time loop keeps an empty loop node.
    Tree manual(level(Exp::eExpManualTimeLoop, 6));
    EXPECT_NE(std::string::npos, VariantXML(*manual).find(list("uLoopPars", u("no_name", "unknown", ""))));
}

// ---------------------------------------------------------------------------
// Reading hand-built and hostile nodes
// ---------------------------------------------------------------------------

TEST(ExperimentVariant, WrongRunTypesAndMissingMembers)
{
    // Another run type, or a plain list: -4 and the level untouched.
    for (const char* rt : {"RKzExperimentRecord", "CKzListVariant"}) {
        CKzVariant n;
        n.EnableTypeChange(true);
        ASSERT_EQ(0, n.SetRunType(CKzVariantRunType(rt)));
        n[L"eType"] = 7u;
        Tree t = load(n, -4);
        EXPECT_EQ(Exp::eExpNone, t->eType);
        EXPECT_TRUE(t->bControlShutter);
    }
    // Without the autofocus record: -4; what comes before it is read.
    CKzVariant noAF = levelNode(
        [](CKzVariant& n) {
            n[L"wsApplicationDesc"] = CKzStringW(L"app");
            CKzVariant& loop = loopNode(n, 5, "RKzExperiment.RKzExpPolarLoop");
            loop[L"uiCount"] = 2u;
            fillList(n, L"pItemValid", 2, false);
            n[L"wsCommandAfterLoop"] = CKzStringW(L"after");
            n[L"bUseHZK"] = true;
            n[L"pRecordedData"] = CKzListVariant();
            n[L"pRecordedData"].Append(CKzVariant(2, CKzStringW(L"iVersion")));
        },
        false);
    Tree t = load(noAF, -4);
    EXPECT_EQ(Exp::eExpPolarLoop, t->eType);
    EXPECT_EQ(CKzStringW(L"app"), t->wsApplicationDesc);
    EXPECT_EQ(2u, t->uLoopPars.uiCount);
    ASSERT_NE(nullptr, t->pItemValid);
    EXPECT_FALSE(t->pItemValid[0]);
    EXPECT_TRUE(t->wsCommandAfterLoop.IsEmpty());
    EXPECT_FALSE(t->bUseHZK);
    EXPECT_EQ(nullptr, t->pRecordedData);
    // Without a repeat count: 0. A child of another run type and a child that
    // fails to load are both left out, and no child array remains.
    CKzVariant kids = levelNode([](CKzVariant& n) {
        loopNode(n, 7, "RKzExperiment.RKzExpCustomLoop")[L"uiCount"] = 1u;
        CKzVariant& l = n[L"ppNextLevelEx"];
        l = CKzListVariant();
        CKzVariant other;
        other.EnableTypeChange(true);
        other.SetRunType(CKzVariantRunType("RKzExperimentRecord"));
        l.Append(other);
        CKzVariant failing;
        failing.EnableTypeChange(true);
        failing.SetRunType(CKzVariantRunType("RKzExperiment"));
        l.Append(failing);
    });
    Tree k = load(kids);
    EXPECT_EQ(0u, k->uiRepeatCount);
    EXPECT_EQ(0u, k->uiNextLevelCount);
    EXPECT_EQ(nullptr, k->ppNextLevelEx);
    EXPECT_TRUE(g_UndefVariant.IsUndefined());
}

TEST(ExperimentVariant, ListCountsThatDisagree)
{
    // The stored count is kept, zeros where list elements are missing; a
    // count past the array bound is a damaged level (-9, no items).
    struct Case {
        const char* what;
        unsigned stored;
        int x, y, z, h;   // element counts, -1: list missing
        u32 count;        // positions read
        bool arrays;
        bool failure;
        int rc;
    };
    const Case cases[] = {
        {"count 5, lists of 3", 5, 3, 3, 3, 3, 5, true, true, 0},
        {"count 5, offsets missing", 5, 3, 3, 3, -1, 5, true, true, 0},
        {"count 4e9, lists of 3", 4000000000u, 3, 3, 3, 3, 0, false, true, KZ_ERR_FAILED},
        {"count 2, lists of 3", 2, 3, 3, 3, 3, 2, true, true, 0},
        {"every list missing", 7, -1, -1, -1, -1, 7, true, true, 0},
        {"count 3, lists agree", 3, 3, 3, 3, 3, 3, true, false, 0},
        {"count 0", 0, 0, 0, 0, 0, 0, false, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CKzVariant n = levelNode([&](CKzVariant& lv) {
            CKzVariant& loop = loopNode(lv, 2, "RKzExperiment.RKzExpXYPosLoop");
            loop[L"uiCount"] = c.stored;
            const int counts[] = {c.x, c.y, c.z, c.h};
            const wchar_t* names[] = {L"dPosX", L"dPosY", L"dPosZ", L"dHZKOffset"};
            for (int a = 0; a < 4; ++a)
                if (counts[a] >= 0) fillList(loop, names[a], counts[a], 1.0 + a);
            Exp::SKzExpAutoFocus af;
            Exp::SKzExpAutoFocus::SetToNull(af);
            Exp::SKzExpAutoFocus::SaveToVariant(loop[L"sAutoFocusBeforeCapture"], af);
        });
        Tree t;
        EXPECT_EQ(c.failure, loadPrintsFailure(n, t, c.rc));
        const auto& l = t->uLoopPars.sXYPosLoop;
        EXPECT_EQ(c.count, l.uiCount);
        EXPECT_EQ(c.arrays, l.dPosX != nullptr);
        EXPECT_EQ(c.arrays, l.pPosName != nullptr);
        if (c.arrays) {
            for (u32 i = 0; i < c.count; ++i) {
                EXPECT_EQ((int)i < c.x ? 1.0 : 0.0, l.dPosX[i]) << i;
                EXPECT_EQ((int)i < c.z ? 3.0 : 0.0, l.dPosZ[i]) << i;
                EXPECT_EQ((int)i < c.h ? 4.0 : 0.0, l.dHZKOffset[i]) << i;
                EXPECT_TRUE(l.pPosName[i].IsEmpty());
            }
        }
    }
    // The grid the same way; written and read back it prints nothing.
    struct GridCase {
        unsigned stored;
        int rows, cols, zs;
        u32 count;
        bool arrays;
        int rc;
    };
    const GridCase grids[] = {{6, 4, 3, 3, 6, true, 0},
                              {3, 5, 5, 5, 3, true, 0},
                              {4000000000u, 2, -1, -1, 0, false, KZ_ERR_FAILED},
                              {9, -1, -1, -1, 9, true, 0},
                              {0, 2, 2, 2, 0, false, 0}};
    for (const GridCase& c : grids) {
        SCOPED_TRACE(c.stored);
        CKzVariant n = levelNode([&](CKzVariant& lv) {
            CKzVariant& loop = loopNode(lv, 3, "RKzExperiment.RKzExpXYDiscrLoop");
            loop[L"uiCount"] = c.stored;
            if (c.rows >= 0) fillList(loop, L"uiRow", c.rows, 2u);
            if (c.cols >= 0) fillList(loop, L"uiCol", c.cols, 3u);
            if (c.zs >= 0) fillList(loop, L"dPosZ", c.zs, 0.5);
        });
        Tree t;
        loadPrintsFailure(n, t, c.rc);
        const auto& g = t->uLoopPars.sXYDiscrLoop;
        EXPECT_EQ(c.count, g.uiCount);
        EXPECT_EQ(c.arrays, g.uiRow != nullptr && g.uiCol != nullptr && g.dPosZ != nullptr);
        if (c.arrays)
            for (u32 i = 0; i < c.count; ++i) {
                EXPECT_EQ((int)i < c.rows ? 2u : 0u, g.uiRow[i]) << i;
                EXPECT_EQ((int)i < c.cols ? 3u : 0u, g.uiCol[i]) << i;
                EXPECT_EQ((int)i < c.zs ? 0.5 : 0.0, g.dPosZ[i]) << i;
            }
    }
    Tree grid(level(Exp::eExpXYDiscrLoop, 2));
    grid->uLoopPars.sXYDiscrLoop.uiRow[1] = 4;
    grid->uLoopPars.sXYDiscrLoop.dPosZ[1] = -1.5;
    CKzVariant gv;
    ASSERT_EQ(0, Exp::SaveToVariant(gv, *grid));
    Tree gback;
    EXPECT_FALSE(loadPrintsFailure(gv, gback));
    EXPECT_TRUE(Exp::IsEqual(*grid, *gback, true, true));
}

TEST(ExperimentVariant, DamagedLevelsAreRefused)
{
    // A count past the array bound, at the root or in a child: -9 for the
    // whole tree. The damaged child is left out like any child that fails;
    // its sound sibling stays. Whole-tree bound: two children of 1.5 million
    // positions each pass it together, though either alone fits.
    struct Case {
        const char* what;
        std::vector<unsigned> kids;   // XY counts of the children
        unsigned root;                // XY count of the root
        u32 loaded;                   // children kept
        int rc;
    };
    const Case cases[] = {
        {"sound tree", {2, 3}, 4, 2, 0},
        {"damaged root", {2}, 4000000000u, 0, KZ_ERR_FAILED},
        {"damaged child", {4000000000u, 3}, 4, 1, KZ_ERR_FAILED},
        {"children past the bound together", {1500000, 1500000}, 1, 1, KZ_ERR_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CKzVariant n = levelNode([&](CKzVariant& lv) {
            loopNode(lv, 2, "RKzExperiment.RKzExpXYPosLoop")[L"uiCount"] = c.root;
            CKzVariant& l = lv[L"ppNextLevelEx"];
            l = CKzListVariant();
            for (unsigned k : c.kids)
                l.Append(levelNode([&](CKzVariant& kid) {
                    loopNode(kid, 2, "RKzExperiment.RKzExpXYPosLoop")[L"uiCount"] = k;
                    kid[L"uiRepeatCount"] = 1u;
                }));
        });
        Tree t;
        loadPrintsFailure(n, t, c.rc);
        EXPECT_EQ(c.loaded, t->uiNextLevelCount);
        if (c.rc == 0) EXPECT_EQ(2u * 2 + 3 * 2, CKzExperimentAPI::GetAllImagesCount(t.get()));
    }
}

TEST(ExperimentVariant, NonEquidistantPeriods)
{
    // Periods of 4, 5 and 6 points; the stored period count is kept, cleared
    // periods where elements are missing.
    struct Case {
        const char* what;
        unsigned stored;  // "uiPeriodCount"
        int flags;        // elements of "pPeriodValid", -1 missing
        bool afterList;   // "szCommandAfterPeriod" present
        u32 periods, count;
        int rc;
    };
    const Case cases[] = {
        {"second period invalid", 3, 3, true, 3, 10, 0},
        {"no period flags", 3, -1, true, 3, 15, 0},
        {"short flag list", 3, 2, true, 3, 15, 0},
        {"after-period texts missing", 3, 3, false, 3, 10, 0},
        {"more periods than elements", 5, -1, true, 5, 15, 0},
        {"fewer periods than elements", 2, -1, true, 2, 9, 0},
        {"no period count", 0, -1, true, 0, 0, 0},
        {"period count past the bound", 4000000000u, -1, true, 0, 0, KZ_ERR_FAILED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CKzVariant n = levelNode([&](CKzVariant& lv) {
            CKzVariant& loop = loopNode(lv, 8, "RKzExperiment.RKzExpNETimeLoop");
            loop[L"uiCount"] = 99u;
            loop[L"uiPeriodCount"] = c.stored;
            CKzVariant& per = loop[L"pPeriod"];
            per = CKzListVariant();
            for (unsigned k = 4; k <= 6; ++k) {
                CKzVariant p(CKzVariantRunType("RKzExperiment.RKzExpTimeLoop"));
                p[L"uiCount"] = k;
                per.Append(p);
            }
            fillList(loop, L"szCommandBeforePeriod", 3, CKzStringW(L"b"));
            if (c.afterList) fillList(loop, L"szCommandAfterPeriod", 4, CKzStringW(L"a"));
            if (c.flags >= 0) {
                CKzVariant& f = loop[L"pPeriodValid"];
                f = CKzListVariant();
                for (int i = 0; i < c.flags; ++i) f.Append(CKzVariant(i != 1));
            }
        });
        Tree t = load(n, c.rc);
        const auto& l = t->uLoopPars.sNETimeLoop;
        EXPECT_EQ(c.periods, l.uiPeriodCount);
        EXPECT_EQ(c.count, l.uiCount);
        EXPECT_EQ(c.count, CKzExperimentAPI::GetAllImagesCount(t.get()));
        EXPECT_EQ(nullptr, l.pSubLoops);
        if (c.periods == 0) {
            EXPECT_EQ(nullptr, l.pPeriod);
            continue;
        }
        ASSERT_NE(nullptr, l.pPeriod);
        for (u32 p = 0; p < c.periods; ++p) {
            EXPECT_EQ(p < 3 ? 4 + p : 0u, l.pPeriod[p].uiCount) << p;
            EXPECT_EQ(CKzStringW(p < 3 ? L"b" : L""), l.szCommandBeforePeriod[p]) << p;
            EXPECT_EQ(CKzStringW(c.afterList && p < 4 ? L"a" : L""), l.szCommandAfterPeriod[p]) << p;
        }
    }
    // Written without flags, every period reads back valid.
    Tree ne(level(Exp::eExpNETimeLoop, 3, false, 2));
    delete[] ne->uLoopPars.sNETimeLoop.pPeriodValid;
    ne->uLoopPars.sNETimeLoop.pPeriodValid = nullptr;
    ne->uLoopPars.sNETimeLoop.pPeriod[0].uiCount = 1;
    ne->uLoopPars.sNETimeLoop.pPeriod[1].uiCount = 2;
    Tree back = FromXML(VariantXML(*ne));
    EXPECT_EQ(3u, back->uLoopPars.sNETimeLoop.uiCount);
    EXPECT_TRUE(back->uLoopPars.sNETimeLoop.pPeriodValid[0] && back->uLoopPars.sNETimeLoop.pPeriodValid[1]);
}

TEST(ExperimentVariant, SpectralChannelLists)
{
    // A short autofocus list cuts the channels, the set and the count.
    Tree full(level(Exp::eExpSpectLoop, 3));
    for (u32 i = 0; i < 3; ++i) full->uLoopPars.sSpectLoop.pPlanes->pPlanes[i].uiCompCount = 2;
    full->uLoopPars.sSpectLoop.pPlanes->uiCompCount = 6;
    CKzVariant v;
    ASSERT_EQ(0, Exp::SaveToVariant(v, *full));
    CKzVariant& afs = v[L"uLoopPars"][0][L"pAutoFocus"];
    ASSERT_EQ(3, afs.GetCount());
    afs.Delete(2);
    Tree cut = load(v);
    const auto& l = cut->uLoopPars.sSpectLoop;
    EXPECT_EQ(2u, l.uiCount);
    EXPECT_EQ(2u, l.pPlanes->uiCount);
    EXPECT_EQ(4u, l.pPlanes->uiCompCount);
    EXPECT_EQ(2u, CKzExperimentAPI::GetLoopSize(cut.get()));

    // The older form: the stored count of planes, from "pPlaneDesc" where it
    // holds an element, default planes of one component elsewhere.
    struct Case {
        unsigned stored;
        int descs;
        u32 planes;
        int rc;
    };
    for (const Case& c : {Case{3, 3, 3, 0}, Case{4, 2, 4, 0}, Case{3, -1, 3, 0}, Case{0, 3, 0, 0},
                          Case{4000000000u, 2, 0, KZ_ERR_FAILED}}) {
        SCOPED_TRACE(c.stored);
        CKzVariant n = levelNode([&](CKzVariant& lv) {
            CKzVariant& loop = loopNode(lv, 6, "RKzExperiment.RKzExpSpectLoop");
            loop[L"uiCount"] = c.stored;
            if (c.descs < 0) return;
            CKzVariant& d = loop[L"pPlaneDesc"];
            d = CKzListVariant();
            SKzPicturePlanes set;
            ASSERT_EQ(0, SKzPicturePlanes::Alloc(set, (u32)c.descs, 1));
            for (int i = 0; i < c.descs; ++i) {
                set.pPlanes[i].uiCompCount = (u32)i + 1;
                CKzVariant e;
                ASSERT_EQ(0, SKzPicturePlaneDesc::SaveToVariantOld(e, set, (unsigned)i));
                d.Append(e);
            }
            SKzPicturePlanes::Free(set);
        });
        Tree t = load(n, c.rc);
        const auto& s = t->uLoopPars.sSpectLoop;
        EXPECT_EQ(c.planes, s.uiCount);
        if (c.planes == 0) {
            EXPECT_EQ(nullptr, s.pPlanes);
            continue;
        }
        ASSERT_NE(nullptr, s.pPlanes);
        EXPECT_EQ(c.planes, s.pPlanes->uiCount);
        u32 comps = 0;
        for (u32 i = 0; i < c.planes; ++i) {
            EXPECT_EQ(i, s.pPlanes->pPlanes[i].uiSampleIndex);
            EXPECT_EQ((int)i < c.descs ? i + 1 : 1u, s.pPlanes->pPlanes[i].uiCompCount) << i;
            comps += s.pPlanes->pPlanes[i].uiCompCount;
        }
        EXPECT_EQ(comps, s.pPlanes->uiCompCount);
        ASSERT_NE(nullptr, s.pAutoFocus);
        ASSERT_NE(nullptr, s.pZStackPos);
    }
}

TEST(ExperimentVariant, AutoFocusAndProbeTexts)
{
    Exp::SKzExpAutoFocus af;
    setAF(af, 3);
    af.aFocusPlane.uiValues = 9;
    for (int i = 0; i < 6; ++i) af.aFocusPlane.pCoeff[i] = i;
    CKzVariant n;
    ASSERT_EQ(0, Exp::SKzExpAutoFocus::SaveToVariant(n, af));
    EXPECT_EQ(6u, n[L"aFocusPlane"][L"uiValues"].GetKz_uint32());
    EXPECT_EQ(6, n[L"aFocusPlane"][L"pCoeff"].GetCount());
    Exp::SKzExpAutoFocus back;
    Exp::SKzExpAutoFocus::SetToNull(back);
    ASSERT_EQ(0, Exp::SKzExpAutoFocus::LoadFromVariant(back, n));
    EXPECT_EQ(6u, back.aFocusPlane.uiValues);
    EXPECT_EQ(5.0, back.aFocusPlane.pCoeff[5]);
    // Without "aFocusPlane": degree, count and coefficients 0.
    CKzVariant bare;
    bare.EnableTypeChange(true);
    bare.SetRunType(CKzVariantRunType("RKzExperiment.RKzExpAutoFocus"));
    bare[L"eType"] = 4u;
    ASSERT_EQ(0, Exp::SKzExpAutoFocus::LoadFromVariant(back, bare));
    EXPECT_EQ(4u, back.eType);
    EXPECT_EQ(0, back.aFocusPlane.iDegree);
    EXPECT_EQ(0u, back.aFocusPlane.uiValues);
    EXPECT_EQ(0.0, back.aFocusPlane.pCoeff[5]);
    // Another run type leaves the record untouched.
    CKzVariant other = CKzListVariant();
    EXPECT_EQ(-4, Exp::SKzExpAutoFocus::LoadFromVariant(back, other));
    EXPECT_EQ(4u, back.eType);

    // Probe bytes: at most size / 4 characters, up to the first zero.
    struct Probe {
        std::vector<unsigned char> bytes;
        const wchar_t* text;
    };
    const Probe probes[] = {{{'A', 0, 0, 0, 'B', 0, 0, 0}, L"AB"},
                            {{'A', 0, 0, 0, 'B', 0}, L"A"},
                            {{'A', 0, 0, 0, 0, 0, 0, 0, 'C', 0, 0, 0}, L"A"},
                            {{0xA9, 0x03, 0, 0}, L"\u03a9"},
                            {{'A', 0}, L""}};
    for (const Probe& p : probes) {
        CKzVariant lv = levelNode([&](CKzVariant& v) {
            v[L"aMeasProbesBase64"] = CKzByteArray(p.bytes.data(), (unsigned long)p.bytes.size(), 0);
        });
        EXPECT_EQ(std::wstring(p.text), load(lv)->aMeasProbesBase64.GetString());
    }
}

TEST(ExperimentVariant, ScalarsWhereListsBelong)
{
    // A scalar member where a list is expected adds nothing.
    CKzVariant n = levelNode([](CKzVariant& v) {
        loopNode(v, 1, "RKzExperiment.RKzExpTimeLoop")[L"uiCount"] = 3u;
        v[L"pItemValid"] = 5u;
        v[L"pLargeImage"] = 1u;
        v[L"pNIExperiment"] = 1u;
        v[L"ppNextLevelEx"] = CKzStringW(L"x");
    });
    Tree t = load(n);
    EXPECT_EQ(3u, t->uLoopPars.uiCount);
    EXPECT_EQ(nullptr, t->pItemValid);
    EXPECT_EQ(nullptr, t->pLargeImage);
    EXPECT_EQ(nullptr, t->pNIExperiment);
    EXPECT_EQ(nullptr, t->ppNextLevelEx);
    // A loop node of the wrong run type is read all the same, with a Failure line.
    CKzVariant wrong = levelNode([](CKzVariant& v) {
        loopNode(v, 5, "RKzExperiment.RKzExpTimeLoop")[L"uiCount"] = 4u;
    });
    Tree w;
    EXPECT_TRUE(loadPrintsFailure(wrong, w));
    EXPECT_EQ(4u, w->uLoopPars.sPolarLoop.uiCount);
}

TEST(ExperimentVariant, DeepNestingIsCapped)
{
    // A chain deeper than the library walks: the reader keeps 1024 levels,
    // the writer refuses it.
    const int depth = 1500;
    CKzVariant root;
    CKzVariant* cur = &root;
    for (int i = 0; i < depth; ++i) {
        cur->EnableTypeChange(true);
        ASSERT_EQ(0, cur->SetRunType(CKzVariantRunType("RKzExperiment")));
        loopNode(*cur, 7, "RKzExperiment.RKzExpCustomLoop")[L"uiCount"] = 1u;
        Exp::SKzExpAutoFocus af;
        Exp::SKzExpAutoFocus::SetToNull(af);
        ASSERT_EQ(0, Exp::SKzExpAutoFocus::SaveToVariant((*cur)[L"sAutoFocusBeforeLoop"], af));
        (*cur)[L"uiRepeatCount"] = 1u;
        CKzVariant& kids = (*cur)[L"ppNextLevelEx"];
        kids = CKzListVariant();
        if (i + 1 < depth) cur = &kids.Append(CKzVariant());
    }
    Tree t = load(root);
    int levels = 0;
    for (const Exp* e = t.get(); e; e = e->uiNextLevelCount ? e->ppNextLevelEx[0] : nullptr) ++levels;
    EXPECT_EQ(1024, levels);
    CKzVariant out;
    EXPECT_EQ(0, Exp::SaveToVariant(out, *t));
    // One more level beyond the cap cannot be written.
    Exp* leaf = t.get();
    while (leaf->uiNextLevelCount) leaf = leaf->ppNextLevelEx[0];
    attach(leaf, {level(Exp::eExpCustomLoop, 1)});
    EXPECT_EQ(-9, Exp::SaveToVariant(out, *t));
    // XML nested past the reader's cap is refused before any level is made.
    CKzStringA text;
    ASSERT_EQ(0, CKzSerializerXMLString::VariantToDocument_UTF8(text, root));
    CKzVariant parsed;
    parsed.EnableTypeChange(true);
    EXPECT_NE(0, CKzSerializerXMLString::VariantFromXML_UTF8(parsed, text));
}
