// Experiment levels: life cycle, copies, comparison and the lite form.
#include "gnr_metaformats/CKzExperimentAPI.h"
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_system/CKzAlloc.h"
#include "experiment_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <functional>
#include <memory>
#include <string>

using namespace exptest;

namespace {

typedef SKzExperiment Exp;

struct TreeDeleter {
    void operator()(Exp* e) const { Exp::FreeRecursive(e); }
};
typedef std::unique_ptr<Exp, TreeDeleter> Tree;

Tree newLevel(Exp::EKzExperimentType t, u32 items, bool flags = false, u32 periods = 0, u32 children = 0)
{
    Exp* e = nullptr;
    EXPECT_EQ(0, Exp::Alloc(&e));
    EXPECT_EQ(0, Exp::Init(*e, t, flags, items, periods, children, 1));
    return Tree(e);
}

void setAF(Exp::SKzExpAutoFocus& af, int k)
{
    Exp::SKzExpAutoFocus::SetToNull(af);
    af.eType = 2 + k;
    af.dStep = 0.5 * k;
    af.dRange = 10;
    af.dPrecision = 0.1;
    af.dSpeed = 3;
    af.aFocusPlane.iDegree = 2;
    af.aFocusPlane.uiValues = 3;
    af.aFocusPlane.pCoeff[0] = 1;
    af.aFocusPlane.pCoeff[1] = -2;
    af.aFocusPlane.pCoeff[2] = 0.25 * k;
    af.uiFlags = 0x11;
    af.iFocusCriterion = -1;
    wcscpy(af.sZDrive, L"drive");
}

// What every level carries besides its loop.
void setCommon(Exp& e, int k)
{
    e.wsApplicationDesc = L"app";
    e.wsUserDesc = (L"user " + std::to_wstring(k)).c_str();
    e.aMeasProbesBase64 = L"QUJD";
    e.wsCameraName = L"cam";
    setAF(e.sAutoFocusBeforeLoop, k);
    e.wsCommandBeforeLoop = L"bl";
    e.wsCommandAfterCapture = L"ac";
    e.bControlShutter = k % 2 == 0;
    e.bUseHZK = true;
    e.bUseIntenzityCorrection = true;
    e.uiRepeatCount = 1 + k % 3;
    SKzParallelExperiment::AddEvent(e.sParallelExperiment, 0, 1.5, 2, 0.5, 3, 0, L"stim", 1, nullptr);
}

// Three channels with names, colours and per-channel settings.
void fillSpect(Exp& e)
{
    Exp::SKzExpSpectLoop& l = e.uLoopPars.sSpectLoop;
    ASSERT_EQ(3u, l.uiCount);
    ASSERT_NE(nullptr, l.pPlanes);
    const wchar_t* names[] = {L"DAPI", L"FITC", L"TRITC"};
    for (u32 i = 0; i < 3; ++i) {
        l.pPlanes->pPlanes[i].uiCompCount = 1;
        l.pPlanes->pPlanes[i].uiColor = 0x0000FF00u >> (4 * i);
        l.pPlanes->pPlanes[i].sDescription = names[i];
        l.pZStackPos[i] = (kz_int32)i - 1;
        l.szCommandBeforeCapture[i] = names[i];
        setAF(l.pAutoFocus[i], (int)i);
    }
    l.pPlanes->uiCompCount = 3;
    l.bMergeCameras = true;
    if (e.pItemValid) e.pItemValid[1] = false;
}

// One level of every loop type the lite form stores fully, nested as a chain;
// the time loop also holds a second child.
Tree sampleTree()
{
    Tree time = newLevel(Exp::eExpTimeLoop, 4, true, 0, 2);
    setCommon(*time, 0);
    Exp::SKzExpTimeLoop& t = time->uLoopPars.sTimeLoop;
    t.dStart = 1;
    t.dPeriod = 250;
    t.dDuration = 1000;
    t.dMinPeriodDiff = 249;
    t.dMaxPeriodDiff = 251;
    t.dAvgPeriodDiff = 250.5;
    t.bDurationPref = true;
    setAF(t.sAutoFocusBeforeCapture, 1);
    time->pItemValid[2] = false;
    time->pLargeImage = new Exp::SKzLIDesc[2]();
    time->pLargeImage[0].iXFields = 3;
    time->pLargeImage[0].dOverlap = 10;
    time->pLargeImage[0].uiOrder = 2;
    time->pLargeImage[0].uiStitchingChannel = 1;
    wcscpy(time->pLargeImage[0].sPattern, L"tile_%d");
    wcscpy(time->pLargeImage[0].sCamera, L"left");
    time->pLargeImage[1].bStitch = true;
    time->pLargeImage[1].uiStitchingChannel = 4;
    time->pNIExperiment = new SKzExperimentNI();
    time->pNIExperiment->bIgnoreSetup = true;
    time->pNIExperiment->VectorNISetupOutputs.resize(1);
    time->pRecordedData = new SKzRecordedData();
    time->pRecordedData->VectorRD_Other.resize(1);
    time->pRecordedData->VectorRD_Other[0].wsRDKey = L"X";
    time->pRecordedData->VectorRD_Other[0].bRDCheck = true;

    Tree xy = newLevel(Exp::eExpXYPosLoop, 2, true);
    setCommon(*xy, 1);
    Exp::SKzExpXYPosLoop& p = xy->uLoopPars.sXYPosLoop;
    for (u32 i = 0; i < 2; ++i) {
        p.dPosX[i] = 100.5 + i;
        p.dPosY[i] = -20 - i;
        p.dPosZ[i] = 3 * i;
        p.dHZKOffset[i] = 0.25;
        p.pPosName[i] = i ? L"second" : L"first";
    }
    p.bUseZ = true;
    p.bRelativeXY = true;
    p.dReferenceX = 5;
    p.dReferenceY = 6;
    p.bKeepHZKOn = true;
    wcscpy(p.sZDevice, L"zdev");
    setAF(p.sAutoFocusBeforeCapture, 2);

    Tree z = newLevel(Exp::eExpZStackLoop, 7);
    setCommon(*z, 2);
    Exp::SKzExpZStackLoop& s = z->uLoopPars.sZStackLoop;
    s.dZLow = -3;
    s.dZHigh = 3;
    s.dZHome = 0.5;
    s.dZStep = 1;
    s.dReferencePosition = 2;
    s.dTIRFPosition = 0.1;
    s.iType = 5;
    s.bAbsolute = true;
    s.bZInverted = true;
    s.bTIRF = true;
    wcscpy(s.sZDevice, L"piezo");
    wcscpy(s.sCommandBeforeCapture, L"before");
    wcscpy(s.sCommandAfterCapture, L"after");

    Tree ne = newLevel(Exp::eExpNETimeLoop, 9, false, 2);
    setCommon(*ne, 3);
    Exp::SKzExpNETimeLoop& n = ne->uLoopPars.sNETimeLoop;
    n.pPeriod[0].uiCount = 4;
    n.pPeriod[0].dPeriod = 10;
    wcscpy(n.pPeriod[0].wsPhaseName, L"fast");
    n.pPeriod[0].uiLoopType = 1;
    n.pPeriod[0].uiGroup = 3;
    n.pPeriod[1].uiCount = 5;
    n.pPeriod[1].dDuration = 50;
    n.pPeriod[1].uiStimulationCount = 2;
    setAF(n.pPeriod[1].sAutoFocusBeforePeriod, 4);
    n.szCommandBeforePeriod[1] = L"p1 before";
    n.szCommandAfterPeriod[0] = L"p0 after";
    n.pPeriodValid[1] = false;
    setAF(n.sAutoFocusBeforeCapture, 5);
    n.pSubLoops = new Exp::SKzExpNETimeLoop::SKzSubLoopsDefinition[2];
    n.pSubLoops[1].uiNextLevelCount = 1;
    n.pSubLoops[1].ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, sizeof(Exp*));
    Tree polarChild = newLevel(Exp::eExpPolarLoop, 3);
    n.pSubLoops[1].ppNextLevelEx[0] = polarChild.release();

    Tree custom = newLevel(Exp::eExpCustomLoop, 2);
    *custom->uLoopPars.sCustomLoop.wsDescription = L"custom";
    Tree manual = newLevel(Exp::eExpManualTimeLoop, 6);
    Tree grid = newLevel(Exp::eExpXYDiscrLoop, 0);   // the form stores no grid arrays
    grid->uLoopPars.sXYDiscrLoop.uiCount = 12;

    Tree spect = newLevel(Exp::eExpSpectLoop, 3, true);
    fillSpect(*spect);
    grid->ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, sizeof(Exp*));
    grid->uiNextLevelCount = 1;
    grid->ppNextLevelEx[0] = spect.release();
    manual->ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, sizeof(Exp*));
    manual->uiNextLevelCount = 1;
    manual->ppNextLevelEx[0] = grid.release();
    custom->ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, sizeof(Exp*));
    custom->uiNextLevelCount = 1;
    custom->ppNextLevelEx[0] = manual.release();
    ne->ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, sizeof(Exp*));
    ne->uiNextLevelCount = 1;
    ne->ppNextLevelEx[0] = custom.release();
    z->ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, sizeof(Exp*));
    z->uiNextLevelCount = 1;
    z->ppNextLevelEx[0] = ne.release();
    xy->ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, sizeof(Exp*));
    xy->uiNextLevelCount = 1;
    xy->ppNextLevelEx[0] = z.release();
    time->ppNextLevelEx[0] = xy.release();
    time->ppNextLevelEx[1] = newLevel(Exp::eExpPolarLoop, 2).release();
    return time;
}

Bytes treeLite(const Exp& e)
{
    CKzLiteVariantW w;
    EXPECT_EQ(0, Exp::SaveToLiteVariant(w, e));
    CKzLiteVariantR r;
    w.Finalize(r);
    return Bytes(r.GetData(), r.GetData() + r.GetSize());
}

void openBlob(CKzLiteVariantR& r, const Bytes& b)
{
    r.Clear();
    if (!b.empty()) r.SetData(b.data(), b.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
}

Tree treeFrom(const Bytes& b, int expect = 0)
{
    CKzLiteVariantR r;
    openBlob(r, b);
    Tree t(new Exp());
    EXPECT_EQ(expect, Exp::LoadFromLiteVariant(*t, r));
    return t;
}

// A level blob built by hand inside "SKzExperiment".
template <class F>
Tree levelFrom(F write, int expect = 0)
{
    CKzLiteVariantW w;
    EXPECT_EQ(0, w.LevelBegin(L"SKzExperiment"));
    write(w);
    CKzLiteVariantR r;
    w.Finalize(r);
    Tree t(new Exp());
    r.Reset();
    EXPECT_EQ(expect, Exp::LoadFromLiteVariant(*t, r));
    return t;
}

} // namespace

// ---------------------------------------------------------------------------
// Life cycle
// ---------------------------------------------------------------------------

TEST(ExperimentLevel, NewLevelDefaults)
{
    Exp e;
    EXPECT_EQ(Exp::eExpNone, e.eType);
    EXPECT_EQ(0u, e.uLoopPars.uiCount);
    EXPECT_EQ(0u, e.uiRepeatCount);
    EXPECT_TRUE(e.bControlShutter);
    EXPECT_FALSE(e.bControlLight || e.bUseHZK || e.bUseHWSequencer || e.bUseWqRecipe || e.bUseIntenzityCorrection);
    EXPECT_EQ(nullptr, e.pItemValid);
    EXPECT_EQ(nullptr, e.ppNextLevelEx);
    EXPECT_EQ(nullptr, e.uLoopPars.sXYPosLoop.dPosX);
    EXPECT_EQ(nullptr, e.uLoopPars.sNETimeLoop.pSubLoops);
    EXPECT_EQ(-4, Exp::Alloc(nullptr));
    Exp::Uninit(e);   // a level as constructed holds nothing to release
    Exp::Free(nullptr);
    Exp::FreeRecursive(nullptr);
}

TEST(ExperimentLevel, InitByType)
{
    Tree z = newLevel(Exp::eExpZStackLoop, 4);
    EXPECT_EQ(-1.0, z->uLoopPars.sZStackLoop.dZStep);
    EXPECT_EQ(0.000333, z->uLoopPars.sZStackLoop.dTIRFPosition);
    EXPECT_EQ(-1.0, z->uLoopPars.sZStackLoop.dTIRFHZKOffset);
    EXPECT_EQ(4u, z->uLoopPars.uiCount);
    EXPECT_EQ(1u, z->uiRepeatCount);

    EXPECT_EQ(nullptr, newLevel(Exp::eExpTimeLoop, 0, true)->pItemValid);
    Tree five = newLevel(Exp::eExpTimeLoop, 5, true);
    ASSERT_NE(nullptr, five->pItemValid);
    for (int i = 0; i < 5; ++i) EXPECT_TRUE(five->pItemValid[i]);

    Tree kids = newLevel(Exp::eExpPolarLoop, 2, false, 0, 3);
    EXPECT_EQ(3u, kids->uiNextLevelCount);
    ASSERT_NE(nullptr, kids->ppNextLevelEx);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(nullptr, kids->ppNextLevelEx[i]);

    Tree ne = newLevel(Exp::eExpNETimeLoop, 0, false, 3);
    const Exp::SKzExpNETimeLoop& n = ne->uLoopPars.sNETimeLoop;
    EXPECT_EQ(3u, n.uiPeriodCount);
    EXPECT_EQ(nullptr, n.pSubLoops);
    for (int p = 0; p < 3; ++p) {
        EXPECT_EQ(0u, n.pPeriod[p].uiCount);
        EXPECT_EQ(0, n.pPeriod[p].wsPhaseName[0]);
        EXPECT_TRUE(n.pPeriodValid[p]);
        EXPECT_TRUE(n.szCommandAfterPeriod[p].IsEmpty());
    }

    Tree xy = newLevel(Exp::eExpXYPosLoop, 3);
    ASSERT_NE(nullptr, xy->uLoopPars.sXYPosLoop.pPosName);
    EXPECT_EQ(0.0, xy->uLoopPars.sXYPosLoop.dHZKOffset[2]);
    EXPECT_EQ(nullptr, newLevel(Exp::eExpXYPosLoop, 0)->uLoopPars.sXYPosLoop.dPosX);
    Tree custom = newLevel(Exp::eExpCustomLoop, 1);
    ASSERT_NE(nullptr, custom->uLoopPars.sCustomLoop.wsDescription);

    Exp::Uninit(*ne);
    EXPECT_EQ(Exp::eExpNone, ne->eType);
    EXPECT_EQ(nullptr, ne->uLoopPars.sNETimeLoop.pPeriod);
    EXPECT_EQ(0, Exp::Init(*ne, Exp::eExpXYDiscrLoop, true, 2, 0, 0, 0));
    EXPECT_EQ(2u, ne->uLoopPars.sXYDiscrLoop.uiCount);
}

TEST(ExperimentLevel, FreeLeavesChildrenFreeRecursiveDoesNot)
{
    Tree parent = newLevel(Exp::eExpTimeLoop, 2, false, 0, 3);
    for (int i = 0; i < 3; ++i) parent->ppNextLevelEx[i] = newLevel(Exp::eExpPolarLoop, 1 + i).release();
    Exp* copy = nullptr;
    ASSERT_EQ(0, Exp::Duplicate(&copy, *parent, false));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(parent->ppNextLevelEx[i], copy->ppNextLevelEx[i]);
    EXPECT_NE(parent->ppNextLevelEx, copy->ppNextLevelEx);
    Exp::Free(copy);   // the children stay with the parent
    for (int i = 0; i < 3; ++i) EXPECT_EQ(1u + i, parent->ppNextLevelEx[i]->uLoopPars.uiCount);
    // parent is released with its children by FreeRecursive (leak checks in sanitizer builds)
}

TEST(ExperimentLevel, SpectralLoopHoldsItsChannelSet)
{
    Tree none = newLevel(Exp::eExpSpectLoop, 0, true);
    const Exp::SKzExpSpectLoop& n = none->uLoopPars.sSpectLoop;
    ASSERT_NE(nullptr, n.pPlanes);
    EXPECT_EQ(0u, n.pPlanes->uiCount);
    EXPECT_EQ(0u, n.uiCount);
    EXPECT_EQ(nullptr, n.pAutoFocus);
    EXPECT_EQ(nullptr, n.pZStackPos);
    EXPECT_EQ(nullptr, none->pItemValid);

    Tree three = newLevel(Exp::eExpSpectLoop, 3, true);
    const Exp::SKzExpSpectLoop& t = three->uLoopPars.sSpectLoop;
    EXPECT_EQ(3u, t.uiCount);
    EXPECT_EQ(3u, t.pPlanes->uiCount);
    // The frame holds the components of every plane.
    u32 comps = 0;
    for (u32 i = 0; i < 3; ++i) comps += t.pPlanes->pPlanes[i].uiCompCount;
    EXPECT_EQ(3u, comps);
    EXPECT_EQ(comps, t.pPlanes->uiCompCount);
    SKzPicturePlanes valid;
    ASSERT_EQ(0, Exp::ExtractValidPlanes(valid, three.get()));
    EXPECT_EQ(3u, valid.uiCount);
    EXPECT_EQ(3u, valid.uiCompCount);
    SKzPicturePlanes::Free(valid);
    ASSERT_NE(nullptr, t.szCommandAfterCapture);
    EXPECT_EQ(0, t.pZStackPos[2]);
    Exp::Uninit(*three);
    EXPECT_EQ(nullptr, three->uLoopPars.sSpectLoop.pPlanes);
    EXPECT_EQ(nullptr, three->uLoopPars.sSpectLoop.pAutoFocus);
    EXPECT_EQ(Exp::eExpNone, three->eType);
}

// ---------------------------------------------------------------------------
// Copies
// ---------------------------------------------------------------------------

TEST(ExperimentCopy, SpectralCopyFollowsTheCopiedPlanes)
{
    Tree src = newLevel(Exp::eExpSpectLoop, 3, true);
    fillSpect(*src);
    Exp* c = nullptr;
    ASSERT_EQ(0, Exp::Duplicate(&c, *src, false));
    Tree copy(c);
    const Exp::SKzExpSpectLoop& l = copy->uLoopPars.sSpectLoop;
    ASSERT_NE(src->uLoopPars.sSpectLoop.pPlanes, l.pPlanes);
    EXPECT_EQ(3u, l.uiCount);
    EXPECT_EQ(std::wstring(L"TRITC"), l.pPlanes->pPlanes[2].sDescription.GetString());
    EXPECT_EQ(std::wstring(L"FITC"), l.szCommandBeforeCapture[1].GetString());
    EXPECT_EQ(1, l.pZStackPos[2]);
    EXPECT_FALSE(copy->pItemValid[1]);
    EXPECT_TRUE(l.bMergeCameras);
    EXPECT_TRUE(Exp::IsEqual(*src, *copy, true, true));
    copy->uLoopPars.sSpectLoop.pZStackPos[0] = 5;
    EXPECT_FALSE(Exp::IsEqual(*src, *copy, true, true));

    // A channel set without planes copies as none.
    Tree empty = newLevel(Exp::eExpSpectLoop, 0, false);
    Tree ce(new Exp());
    Exp::Copy(*ce, *empty);
    EXPECT_EQ(nullptr, ce->uLoopPars.sSpectLoop.pPlanes);
    EXPECT_EQ(0u, ce->uLoopPars.sSpectLoop.uiCount);
}

TEST(ExperimentCopy, CopyOntoItselfChangesNothing)
{
    Tree t = sampleTree();
    Exp* kid = t->ppNextLevelEx[0];
    Exp::Copy(*t, *t);
    EXPECT_EQ(kid, t->ppNextLevelEx[0]);
    EXPECT_EQ(0, Exp::CopyRecursive(t.get(), *t, true));
    EXPECT_EQ(kid, t->ppNextLevelEx[0]);
    EXPECT_EQ(4u, t->uLoopPars.uiCount);
    EXPECT_EQ(-4, Exp::CopyRecursive(nullptr, *t, true));
    EXPECT_EQ(-4, Exp::Duplicate(nullptr, *t, true));
}

TEST(ExperimentCopy, DeepCopiesAreIndependentInEitherOrder)
{
    for (int order = 0; order < 2; ++order) {
        Tree src = sampleTree();
        Exp* copy = nullptr;
        ASSERT_EQ(0, Exp::Duplicate(&copy, *src, true));
        Tree dup(copy);
        EXPECT_TRUE(Exp::IsEqual(*src, *dup, true, true));
        // Every level and per-period child is the copy's own.
        const Exp* s = src->ppNextLevelEx[0];
        const Exp* d = dup->ppNextLevelEx[0];
        EXPECT_NE(s, d);
        const Exp* sNe = s->ppNextLevelEx[0]->ppNextLevelEx[0];
        const Exp* dNe = d->ppNextLevelEx[0]->ppNextLevelEx[0];
        ASSERT_EQ(Exp::eExpNETimeLoop, dNe->eType);
        ASSERT_NE(nullptr, dNe->uLoopPars.sNETimeLoop.pSubLoops);
        EXPECT_EQ(0u, dNe->uLoopPars.sNETimeLoop.pSubLoops[0].uiNextLevelCount);
        const Exp* sSub = sNe->uLoopPars.sNETimeLoop.pSubLoops[1].ppNextLevelEx[0];
        const Exp* dSub = dNe->uLoopPars.sNETimeLoop.pSubLoops[1].ppNextLevelEx[0];
        EXPECT_NE(sSub, dSub);
        EXPECT_TRUE(Exp::IsEqual(*sSub, *dSub, true, true));
        EXPECT_NE(s->uLoopPars.sXYPosLoop.dPosX, d->uLoopPars.sXYPosLoop.dPosX);
        EXPECT_NE(src->pNIExperiment, dup->pNIExperiment);
        if (order == 0) src.reset();
        else dup.reset();
    }
}

TEST(ExperimentCopy, OneLevelCopiesShareChildrenButNoPeriodLists)
{
    Tree src = sampleTree();
    Exp* ne = src->ppNextLevelEx[0]->ppNextLevelEx[0]->ppNextLevelEx[0];
    ASSERT_EQ(Exp::eExpNETimeLoop, ne->eType);
    for (bool viaRecursive : {false, true}) {
        Tree copy(new Exp());
        if (viaRecursive) EXPECT_EQ(0, Exp::CopyRecursive(copy.get(), *ne, false));
        else Exp::Copy(*copy, *ne);
        EXPECT_EQ(nullptr, copy->uLoopPars.sNETimeLoop.pSubLoops);
        EXPECT_EQ(2u, copy->uLoopPars.sNETimeLoop.uiPeriodCount);
        if (viaRecursive) {
            EXPECT_EQ(0u, copy->uiNextLevelCount);
            EXPECT_EQ(nullptr, copy->ppNextLevelEx);
        } else {
            EXPECT_EQ(ne->ppNextLevelEx[0], copy->ppNextLevelEx[0]);
            Exp::Free(copy.release());
        }
    }
    EXPECT_EQ(Exp::eExpCustomLoop, ne->ppNextLevelEx[0]->eType);   // still alive
}

TEST(ExperimentCopy, LoopDetails)
{
    // Period flags made for every period when the source has none.
    Tree ne = newLevel(Exp::eExpNETimeLoop, 0, false, 3);
    delete[] ne->uLoopPars.sNETimeLoop.pPeriodValid;
    ne->uLoopPars.sNETimeLoop.pPeriodValid = nullptr;
    Tree c1(new Exp());
    Exp::Copy(*c1, *ne);
    ASSERT_NE(nullptr, c1->uLoopPars.sNETimeLoop.pPeriodValid);
    for (int p = 0; p < 3; ++p) EXPECT_TRUE(c1->uLoopPars.sNETimeLoop.pPeriodValid[p]);

    // A manual-time copy carries its count.
    Tree m = newLevel(Exp::eExpManualTimeLoop, 8);
    Exp* dm = nullptr;
    Exp::Duplicate(&dm, *m, true);
    Tree dmT(dm);
    EXPECT_EQ(8u, dm->uLoopPars.sManualTimeLoop.uiCount);

    // Null per-item arrays of a host-built level copy as zeros.
    Tree grid = newLevel(Exp::eExpXYDiscrLoop, 2, true);
    grid->pItemValid[1] = false;
    grid->uLoopPars.sXYDiscrLoop.uiRow[1] = 7;
    delete[] grid->uLoopPars.sXYDiscrLoop.dPosZ;
    grid->uLoopPars.sXYDiscrLoop.dPosZ = nullptr;
    Exp* dg = nullptr;
    Exp::Duplicate(&dg, *grid, false);
    Tree dgT(dg);
    ASSERT_NE(nullptr, dg->uLoopPars.sXYDiscrLoop.dPosZ);
    EXPECT_EQ(0.0, dg->uLoopPars.sXYDiscrLoop.dPosZ[1]);
    EXPECT_EQ(7u, dg->uLoopPars.sXYDiscrLoop.uiRow[1]);
    EXPECT_FALSE(dg->pItemValid[1]);
    EXPECT_TRUE(Exp::IsEqual(*grid, *dg, true, true));

    // Null child slots stay null in a deep copy.
    Tree holes = newLevel(Exp::eExpTimeLoop, 1, false, 0, 3);
    holes->ppNextLevelEx[1] = newLevel(Exp::eExpPolarLoop, 1).release();
    Tree dh(new Exp());
    EXPECT_EQ(0, Exp::CopyRecursive(dh.get(), *holes, true));
    EXPECT_EQ(nullptr, dh->ppNextLevelEx[0]);
    EXPECT_NE(nullptr, dh->ppNextLevelEx[1]);
    EXPECT_NE(holes->ppNextLevelEx[1], dh->ppNextLevelEx[1]);
    EXPECT_EQ(nullptr, dh->ppNextLevelEx[2]);

    // Type 0 copies as type 0.
    Exp none, dn;
    Exp::Copy(dn, none);
    EXPECT_EQ(Exp::eExpNone, dn.eType);
}

// ---------------------------------------------------------------------------
// Comparison
// ---------------------------------------------------------------------------

TEST(ExperimentCompare, SpecialCases)
{
    Tree m = newLevel(Exp::eExpManualTimeLoop, 3);
    EXPECT_TRUE(Exp::IsEqual(*m, *m, true, true));
    Exp a, b;
    EXPECT_FALSE(Exp::IsEqual(a, b, false, false));

    Tree t1 = newLevel(Exp::eExpTimeLoop, 3), t2 = newLevel(Exp::eExpTimeLoop, 3);
    t2->uLoopPars.sTimeLoop.uiGroup = 4;
    t2->uLoopPars.sTimeLoop.uiStimulationCount = 2;
    setAF(t2->uLoopPars.sTimeLoop.sAutoFocusBeforeCapture, 3);
    EXPECT_TRUE(Exp::IsEqual(*t1, *t2, true, true));
    t2->uLoopPars.sTimeLoop.dAvgPeriodDiff = std::nan("");
    EXPECT_TRUE(Exp::IsEqual(*t1, *t2, true, true));

    Tree n1 = newLevel(Exp::eExpNETimeLoop, 3, true, 1), n2 = newLevel(Exp::eExpNETimeLoop, 3, false, 1);
    EXPECT_FALSE(Exp::IsEqual(*n1, *n1, false, false));
    EXPECT_FALSE(Exp::IsEqual(*n2, *n1, false, false));
    EXPECT_TRUE(Exp::IsEqual(*n2, *n2, false, false));

    Exp::SKzExpAutoFocus x, y;
    setAF(x, 1);
    setAF(y, 1);
    y.sZDrive[0] = 0;
    EXPECT_TRUE(Exp::SKzExpAutoFocus::IsEqual(x, y));
    wcscpy(y.sZDrive, L"other");
    EXPECT_FALSE(Exp::SKzExpAutoFocus::IsEqual(x, y));
    y = x;
    y.aFocusPlane.pCoeff[5] = 9;   // beyond the coefficients in use
    EXPECT_TRUE(Exp::SKzExpAutoFocus::IsEqual(x, y));
    y.aFocusPlane.pCoeff[2] = 9;
    EXPECT_FALSE(Exp::SKzExpAutoFocus::IsEqual(x, y));
}

TEST(ExperimentCompare, EachDifferenceIsFound)
{
    // Paths to a level of the sample tree, by child index.
    auto level = [](Exp& root, std::initializer_list<int> path) {
        Exp* e = &root;
        for (int i : path) e = e->ppNextLevelEx[i];
        return e;
    };
    std::vector<std::pair<const char*, std::function<void(Exp&)>>> changes = {
        {"user text", [&](Exp& r) { r.wsUserDesc = L"x"; }},
        {"loop autofocus", [&](Exp& r) { r.sAutoFocusBeforeLoop.dSpeed = 9; }},
        {"parallel", [&](Exp& r) { SKzParallelExperiment::Clear(r.sParallelExperiment); }},
        {"command", [&](Exp& r) { r.wsCommandAfterLoop = L"x"; }},
        {"flag", [&](Exp& r) { r.bUseHWSequencer = true; }},
        {"large image", [&](Exp& r) { r.pLargeImage[1].sPattern[0] = L'q'; }},
        {"no large image", [&](Exp& r) { delete[] r.pLargeImage; r.pLargeImage = nullptr; }},
        {"io setup", [&](Exp& r) { r.pNIExperiment->bIgnoreSetup = false; }},
        {"recorded", [&](Exp& r) { r.pRecordedData->dValTime = 1; }},
        {"time flag", [&](Exp& r) { r.pItemValid[0] = false; }},
        {"time period", [&](Exp& r) { r.uLoopPars.sTimeLoop.dPeriod = 1; }},
        {"phase name", [&](Exp& r) { r.uLoopPars.sTimeLoop.wsPhaseName[0] = L'n'; }},
        {"child repeat", [&](Exp& r) { r.ppNextLevelEx[1]->uiRepeatCount = 5; }},
        {"child count",
         [&](Exp& r) {
             Exp::FreeRecursive(r.ppNextLevelEx[1]);
             r.uiNextLevelCount = 1;
         }},
        {"null child", [&](Exp& r) {
             Exp::FreeRecursive(r.ppNextLevelEx[1]);
             r.ppNextLevelEx[1] = nullptr;
         }},
        {"xy name", [&](Exp& r) { level(r, {0})->uLoopPars.sXYPosLoop.pPosName[1] = L"x"; }},
        {"xy offset", [&](Exp& r) { level(r, {0})->uLoopPars.sXYPosLoop.dHZKOffset[0] = 1; }},
        {"xy item flag", [&](Exp& r) { level(r, {0})->pItemValid[1] = false; }},
        {"xy device", [&](Exp& r) { level(r, {0})->uLoopPars.sXYPosLoop.sZDevice[0] = 0; }},
        {"z command", [&](Exp& r) { level(r, {0, 0})->uLoopPars.sZStackLoop.sCommandAfterCapture[1] = L'X'; }},
        {"z offset", [&](Exp& r) { level(r, {0, 0})->uLoopPars.sZStackLoop.dZHighHZKOffset = 1; }},
        {"period flag", [&](Exp& r) { level(r, {0, 0, 0})->uLoopPars.sNETimeLoop.pPeriodValid[1] = true; }},
        {"period command",
         [&](Exp& r) { level(r, {0, 0, 0})->uLoopPars.sNETimeLoop.szCommandBeforePeriod[0] = L"x"; }},
        {"period record", [&](Exp& r) { level(r, {0, 0, 0})->uLoopPars.sNETimeLoop.pPeriod[1].uiLoopType = 2; }},
        {"custom text", [&](Exp& r) { *level(r, {0, 0, 0, 0})->uLoopPars.sCustomLoop.wsDescription = L"x"; }},
        {"grid count", [&](Exp& r) { level(r, {0, 0, 0, 0, 0, 0})->uLoopPars.uiCount = 1; }},
        {"polar angle", [&](Exp& r) { r.ppNextLevelEx[1]->uLoopPars.sPolarLoop.dAngleFinish = 1; }},
    };
    for (auto& c : changes) {
        Tree a = sampleTree(), b = sampleTree();
        ASSERT_TRUE(Exp::IsEqual(*a, *b, true, true));
        c.second(*b);
        EXPECT_FALSE(Exp::IsEqual(*a, *b, true, true)) << c.first;
    }
    // Without children only the level itself counts.
    Tree a = sampleTree(), b = sampleTree();
    b->ppNextLevelEx[1]->uLoopPars.sPolarLoop.dAngleStart = 3;
    EXPECT_FALSE(Exp::IsEqual(*a, *b, true, false));
    EXPECT_TRUE(Exp::IsEqual(*a, *b, false, false));
    b->ppNextLevelEx[1]->uLoopPars.sPolarLoop.dAngleStart = 0;
    b->ppNextLevelEx[1]->uiRepeatCount = 7;
    EXPECT_FALSE(Exp::IsEqual(*a, *b, true, false));   // children compare their repeat counts
    b->ppNextLevelEx[1]->uiRepeatCount = a->ppNextLevelEx[1]->uiRepeatCount;
    b->uiRepeatCount = 9;
    EXPECT_TRUE(Exp::IsEqual(*a, *b, true, false));
    EXPECT_FALSE(Exp::IsEqual(*a, *b, true, true));
}

// ---------------------------------------------------------------------------
// Lite form
// ---------------------------------------------------------------------------

TEST(ExperimentLite, TreeRoundTrips)
{
    Tree src = sampleTree();
    // The form leaves out what these lines clear.
    src->uLoopPars.sTimeLoop.wsPhaseName[0] = 0;
    Exp* ne = src->ppNextLevelEx[0]->ppNextLevelEx[0]->ppNextLevelEx[0];
    ne->ppNextLevelEx[0]->uLoopPars.sCustomLoop.wsDescription->Empty();
    Tree back = treeFrom(treeLite(*src));
    EXPECT_TRUE(Exp::IsEqual(*src, *back, true, true));
    EXPECT_EQ(4u, back->pLargeImage[1].uiStitchingChannel);
    EXPECT_EQ(std::wstring(L"left"), back->pLargeImage[0].sCamera);
    const Exp* backNe = back->ppNextLevelEx[0]->ppNextLevelEx[0]->ppNextLevelEx[0];
    ASSERT_NE(nullptr, backNe->uLoopPars.sNETimeLoop.pSubLoops);
    EXPECT_EQ(0u, backNe->uLoopPars.sNETimeLoop.pSubLoops[0].uiNextLevelCount);
    ASSERT_EQ(1u, backNe->uLoopPars.sNETimeLoop.pSubLoops[1].uiNextLevelCount);
    EXPECT_TRUE(Exp::IsEqual(*ne->uLoopPars.sNETimeLoop.pSubLoops[1].ppNextLevelEx[0],
                             *backNe->uLoopPars.sNETimeLoop.pSubLoops[1].ppNextLevelEx[0], true, true));
    EXPECT_EQ(std::wstring(L"fast"), backNe->uLoopPars.sNETimeLoop.pPeriod[0].wsPhaseName);
    EXPECT_EQ(3u, backNe->uLoopPars.sNETimeLoop.pPeriod[0].uiGroup);
    EXPECT_TRUE(Exp::SKzExpAutoFocus::IsEqual(ne->uLoopPars.sNETimeLoop.pPeriod[1].sAutoFocusBeforePeriod,
                                              backNe->uLoopPars.sNETimeLoop.pPeriod[1].sAutoFocusBeforePeriod));
    // Written again, the tree gives the same bytes.
    EXPECT_EQ(treeLite(*src), treeLite(*back));
}

TEST(ExperimentLite, LevelKeysInStoredOrder)
{
    Tree src = sampleTree();
    CKzLiteVariantR r;
    openBlob(r, treeLite(*src));
    ASSERT_EQ(0, r.LevelBegin(L"SKzExperiment"));
    std::vector<std::pair<std::wstring, int>> recs;
    while (r.IsNextValue()) {
        wchar_t name[300];
        r.GetCurrentName(name, 255);
        recs.push_back({name, r.GetCurrentType()});
        if (r.NextValue() != 0) break;
    }
    const std::vector<std::pair<std::wstring, int>> expect = {
        {L"eType", 3}, {L"wsApplicationDesc", 8}, {L"wsUserDesc", 8}, {L"aMeasProbesBase64", 8},
        {L"wsCameraName", 8}, {L"pItemValid", 9}, {L"uLoopPars", 11}, {L"sAutoFocusBeforeLoop", 11},
        {L"sParallelExperiment", 11}, {L"wsCommandBeforeLoop", 8}, {L"wsCommandBeforeCapture", 8},
        {L"wsCommandAfterCapture", 8}, {L"wsCommandAfterLoop", 8}, {L"bControlShutter", 1}, {L"bControlLight", 1},
        {L"bUseHZK", 1}, {L"bUseHWSequencer", 1}, {L"bUseWqRecipe", 1}, {L"bUseIntenzityCorrection", 1},
        {L"pLargeImage", 11}, {L"pLargeImageEx", 11}, {L"pNIExperiment", 11}, {L"pRecordedData", 11},
        {L"uiRepeatCount", 3}, {L"uiNextLevelCount", 3}, {L"ppNextLevelEx", 11}};
    EXPECT_EQ(expect, recs);

    // Loop records of the time loop and the Z stack (one level down the chain).
    ASSERT_EQ(0, r.LevelBegin(L"uLoopPars"));
    EXPECT_EQ((std::vector<std::wstring>{L"uiCount", L"dStart", L"dPeriod", L"dDuration", L"bDurationPref",
                                         L"dMaxPeriodDiff", L"dMinPeriodDiff", L"dAvgPeriodDiff",
                                         L"sAutoFocusBeforeCapture"}),
              RecordNames(r));
    ASSERT_EQ(0, r.LevelBegin(L"sAutoFocusBeforeCapture"));
    EXPECT_EQ((std::vector<std::wstring>{L"eType", L"dStep", L"dRange", L"dPrecision", L"dSpeed", L"aFocusPlane",
                                         L"uiFlags", L"iFocusCriterion", L"sZDrive"}),
              RecordNames(r));
    r.LevelEnd();
    r.LevelEnd();
    ASSERT_EQ(0, r.LevelBegin(L"ppNextLevelEx"));
    ASSERT_EQ(0, r.CurrentLevelBegin());   // the XY level, directly in its element
    ASSERT_EQ(0, r.LevelBegin(L"uLoopPars"));
    EXPECT_EQ((std::vector<std::wstring>{L"uiCount", L"bRelativeXY", L"dReferenceX", L"dReferenceY",
                                         L"bRedefineAfterHZK", L"bRedefineAfterAutoFocus", L"bKeepHZKOn",
                                         L"bSplitMultipoints", L"bUseZ", L"sZDevice", L"sAFBefore", L"Points"}),
              RecordNames(r));
    ASSERT_EQ(0, r.LevelBegin(L"Points"));
    ASSERT_EQ(0, r.CurrentLevelBegin());
    EXPECT_EQ((std::vector<std::wstring>{L"dHZKOffset", L"dPosX", L"dPosY", L"dPosZ", L"dPosName"}), RecordNames(r));
    r.LevelEnd();
    r.LevelEnd();
    r.LevelEnd();
    ASSERT_EQ(0, r.LevelBegin(L"ppNextLevelEx"));
    ASSERT_EQ(0, r.CurrentLevelBegin());   // the Z stack
    ASSERT_EQ(0, r.LevelBegin(L"uLoopPars"));
    EXPECT_EQ((std::vector<std::wstring>{L"uiCount", L"bAbsolute", L"bTriggeredPiezo", L"bZInverted",
                                         L"dReferencePosition", L"dTIRFPosition", L"dTIRFHZKOffset", L"bTIRF",
                                         L"dZHigh", L"dZHome", L"dZLow", L"dZLow", L"dZStep", L"iType",
                                         L"wsCommandAfterCapture", L"wsCommandBeforeCapture", L"wsZDevice"}),
              RecordNames(r));
    r.LevelEnd();
    ASSERT_EQ(0, r.LevelBegin(L"ppNextLevelEx"));
    ASSERT_EQ(0, r.CurrentLevelBegin());   // the non-equidistant time loop
    ASSERT_EQ(0, r.LevelBegin(L"uLoopPars"));
    EXPECT_EQ((std::vector<std::wstring>{L"uiCount", L"uiPeriodCount", L"pPeriod", L"wsCommandAfterPeriod",
                                         L"wsCommandBeforePeriod", L"pPeriodValid", L"pSubLoops",
                                         L"sAutoFocusBeforeCapture", L"sAutoFocusBeforePeriod"}),
              RecordNames(r));
    ASSERT_EQ(0, r.LevelBegin(L"pPeriod"));
    ASSERT_EQ(0, r.CurrentLevelBegin());
    EXPECT_EQ((std::vector<std::wstring>{L"uiCount", L"dStart", L"dPeriod", L"dDuration", L"uiGroup",
                                         L"uiStimulationCount", L"bDurationPref", L"uiLoopType", L"dMaxPeriodDiff",
                                         L"dMinPeriodDiff", L"dAvgPeriodDiff", L"wsPhaseName",
                                         L"sAutoFocusBeforeCapture", L"sAutoFocusBeforePeriod"}),
              RecordNames(r));
    r.LevelEnd();
    r.LevelEnd();
    // A period's child sits inside its own "SKzExperiment" level.
    ASSERT_EQ(0, r.LevelBegin(L"pSubLoops"));
    ASSERT_EQ(0, r.NextValue());
    ASSERT_EQ(0, r.CurrentLevelBegin());
    EXPECT_EQ(1u, r.Get(L"uiNextLevelCount", 0u));
    ASSERT_EQ(0, r.LevelBegin(L"ppNextLevelEx"));
    ASSERT_EQ(0, r.CurrentLevelBegin());
    EXPECT_EQ((std::vector<std::wstring>{L"SKzExperiment"}), RecordNames(r));
}

TEST(ExperimentLite, SpectralChannelsInBothPlaneForms)
{
    Tree src = newLevel(Exp::eExpSpectLoop, 3, true);
    fillSpect(*src);
    const Bytes b = treeLite(*src);
    Tree back = treeFrom(b);
    EXPECT_TRUE(Exp::IsEqual(*src, *back, true, true));
    const Exp::SKzExpSpectLoop& l = back->uLoopPars.sSpectLoop;
    ASSERT_EQ(3u, l.uiCount);
    EXPECT_EQ(std::wstring(L"FITC"), l.pPlanes->pPlanes[1].sDescription.GetString());
    EXPECT_EQ(src->uLoopPars.sSpectLoop.pPlanes->pPlanes[1].uiColor, l.pPlanes->pPlanes[1].uiColor);
    EXPECT_TRUE(Exp::SKzExpAutoFocus::IsEqual(src->uLoopPars.sSpectLoop.pAutoFocus[2], l.pAutoFocus[2]));
    EXPECT_FALSE(back->pItemValid[1]);

    // The loop stores no count of its own; every channel also carries its
    // plane in the older per-channel form.
    CKzLiteVariantR r;
    openBlob(r, b);
    r.LevelBegin(L"SKzExperiment");
    r.LevelBegin(L"uLoopPars");
    EXPECT_EQ((std::vector<std::wstring>{L"pPlanes", L"bMergeCameras", L"Points"}), RecordNames(r));
    r.LevelBegin(L"Points");
    r.CurrentLevelBegin();
    EXPECT_EQ((std::vector<std::wstring>{L"pAutoFocus", L"pPlaneDesc", L"wsCommandAfterCapture",
                                         L"wsCommandBeforeCapture", L"pZStackPos"}),
              RecordNames(r));

    // Older files: planes only in the channels' elements; the stored count
    // of them, default planes where no element is stored.
    const Bytes older = [&] {
        CKzLiteVariantW w;
        w.LevelBegin(L"SKzExperiment");
        w.Set(6u, L"eType");
        w.LevelBegin(L"uLoopPars");
        w.Set(3u, L"uiCount");
        w.LevelBegin(L"Points");
        for (u32 i = 0; i < 2; ++i) {
            w.LevelBegin(nullptr);
            w.LevelBegin(L"pPlaneDesc");
            SKzPicturePlaneDesc::SaveToLiteVariantOld(w, *src->uLoopPars.sSpectLoop.pPlanes, i + 1);
            w.LevelEnd();
            w.Set((int)(7 + i), L"pZStackPos");
            w.LevelEnd();
        }
        w.LevelEnd();
        w.LevelEnd();
        CKzLiteVariantR rr;
        w.Finalize(rr);
        return Bytes(rr.GetData(), rr.GetData() + rr.GetSize());
    }();
    Tree old = treeFrom(older);
    const Exp::SKzExpSpectLoop& o = old->uLoopPars.sSpectLoop;
    ASSERT_EQ(3u, o.uiCount);
    ASSERT_EQ(3u, o.pPlanes->uiCount);
    EXPECT_EQ(0u, o.pPlanes->pPlanes[0].uiSampleIndex);
    EXPECT_EQ(1u, o.pPlanes->pPlanes[1].uiSampleIndex);
    EXPECT_EQ(2u, o.pPlanes->pPlanes[2].uiSampleIndex);
    EXPECT_EQ(std::wstring(L"TRITC"), o.pPlanes->pPlanes[1].sDescription.GetString());
    EXPECT_TRUE(o.pPlanes->pPlanes[2].sDescription.IsEmpty());
    EXPECT_EQ(o.pPlanes->pPlanes[0].uiCompCount + o.pPlanes->pPlanes[1].uiCompCount +
                  o.pPlanes->pPlanes[2].uiCompCount,
              o.pPlanes->uiCompCount);
    EXPECT_EQ(8, o.pZStackPos[1]);
    EXPECT_EQ(0, o.pZStackPos[2]);

    // Without a channel set the loop stores neither planes nor points.
    Tree bare(new Exp());
    bare->eType = Exp::eExpSpectLoop;
    bare->uiRepeatCount = 1;
    openBlob(r, treeLite(*bare));
    r.LevelBegin(L"SKzExperiment");
    r.LevelBegin(L"uLoopPars");
    EXPECT_EQ((std::vector<std::wstring>{L"bMergeCameras"}), RecordNames(r));
    Tree bareBack = treeFrom(treeLite(*bare));
    EXPECT_EQ(nullptr, bareBack->uLoopPars.sSpectLoop.pPlanes);
    EXPECT_EQ(0u, bareBack->uLoopPars.uiCount);
}

TEST(ExperimentLite, OmittedFieldsAndDefaults)
{
    // The time loop loses its phase name, loop type, group and stimulation
    // count, and its period autofocus; its item flags survive.
    Tree t = newLevel(Exp::eExpTimeLoop, 3, true);
    wcscpy(t->uLoopPars.sTimeLoop.wsPhaseName, L"phase");
    t->uLoopPars.sTimeLoop.uiLoopType = 2;
    t->uLoopPars.sTimeLoop.uiGroup = 5;
    t->uLoopPars.sTimeLoop.uiStimulationCount = 6;
    setAF(t->uLoopPars.sTimeLoop.sAutoFocusBeforePeriod, 1);
    t->pItemValid[1] = false;
    Tree tb = treeFrom(treeLite(*t));
    const Exp::SKzExpTimeLoop& l = tb->uLoopPars.sTimeLoop;
    EXPECT_EQ(0, l.wsPhaseName[0]);
    EXPECT_EQ(0u, l.uiLoopType + l.uiGroup + l.uiStimulationCount);
    EXPECT_EQ(0u, l.sAutoFocusBeforePeriod.eType);
    ASSERT_NE(nullptr, tb->pItemValid);
    EXPECT_FALSE(tb->pItemValid[1]);
    EXPECT_TRUE(tb->pItemValid[2]);

    // The Z stack stores no focus-keeping offsets of its ends.
    Tree z = newLevel(Exp::eExpZStackLoop, 2);
    z->uLoopPars.sZStackLoop.dZLowHZKOffset = 4;
    z->uLoopPars.sZStackLoop.dZHighHZKOffset = 5;
    z->uLoopPars.sZStackLoop.dZLow = -7;
    Tree zb = treeFrom(treeLite(*z));
    EXPECT_EQ(0.0, zb->uLoopPars.sZStackLoop.dZLowHZKOffset);
    EXPECT_EQ(0.0, zb->uLoopPars.sZStackLoop.dZHighHZKOffset);
    EXPECT_EQ(-7.0, zb->uLoopPars.sZStackLoop.dZLow);

    // Missing keys: Z-stack defaults, repeat count 1, no children, shutter off.
    Tree bare = levelFrom([](CKzLiteVariantW& w) {
        w.Set(4u, L"eType");
        w.LevelBegin(L"uLoopPars");
        w.Set(3, L"uiCount");
        w.LevelEnd();
    });
    EXPECT_TRUE(bare->uLoopPars.sZStackLoop.bAbsolute);
    EXPECT_EQ(-1.0, bare->uLoopPars.sZStackLoop.dTIRFHZKOffset);
    EXPECT_EQ(0.0, bare->uLoopPars.sZStackLoop.dZStep);
    EXPECT_EQ(3u, bare->uLoopPars.uiCount);
    EXPECT_EQ(1u, bare->uiRepeatCount);
    EXPECT_EQ(0u, bare->uiNextLevelCount);
    EXPECT_EQ(nullptr, bare->ppNextLevelEx);
    EXPECT_FALSE(bare->bControlShutter);
    EXPECT_EQ(nullptr, bare->pLargeImage);
    EXPECT_EQ(nullptr, bare->pNIExperiment);

    // An empty large-image level reads its defaults; the second stays zero.
    Tree li = levelFrom([](CKzLiteVariantW& w) {
        w.LevelBegin(L"pLargeImage");
        w.LevelEnd();
    });
    ASSERT_NE(nullptr, li->pLargeImage);
    const Exp::SKzLIDesc& d = li->pLargeImage[0];
    EXPECT_EQ(2, d.iXFields);
    EXPECT_EQ(2, d.iYFields);
    EXPECT_EQ(15.0, d.dOverlap);
    EXPECT_EQ(0xFFFFFFFFu, d.uiOrder);
    EXPECT_TRUE(d.bStitch && d.bValid && d.bControlShutter);
    EXPECT_EQ(0, li->pLargeImage[1].iXFields);
    EXPECT_EQ(0u, li->pLargeImage[1].uiOrder);
}

TEST(ExperimentLite, AutoFocusCoefficientsCappedAtSix)
{
    Tree t = newLevel(Exp::eExpPolarLoop, 1);
    Exp::SKzExpAutoFocus& af = t->sAutoFocusBeforeLoop;
    setAF(af, 0);
    af.aFocusPlane.uiValues = 9;
    for (int i = 0; i < 6; ++i) af.aFocusPlane.pCoeff[i] = i + 0.5;
    wcscpy(af.sZDrive, std::wstring(100, L'd').c_str() + 37);   // 63 characters
    const Bytes b = treeLite(*t);
    CKzLiteVariantR r;
    openBlob(r, b);
    r.LevelBegin(L"SKzExperiment");
    r.LevelBegin(L"sAutoFocusBeforeLoop");
    r.LevelBegin(L"aFocusPlane");
    EXPECT_EQ(6u, r.Get(L"uiValues", 0u));
    unsigned n = 0;
    r.LevelBegin(L"pCoeff", &n);
    EXPECT_EQ(6u, n);
    Tree back = treeFrom(b);
    EXPECT_EQ(6u, back->sAutoFocusBeforeLoop.aFocusPlane.uiValues);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(i + 0.5, back->sAutoFocusBeforeLoop.aFocusPlane.pCoeff[i]);
    EXPECT_EQ(63u, std::wcslen(back->sAutoFocusBeforeLoop.sZDrive));
}

TEST(ExperimentLite, EmptyNonEquidistantLoopStoresCountsAndAutofocus)
{
    Tree ne = newLevel(Exp::eExpNETimeLoop, 5, false, 0);
    CKzLiteVariantR r;
    openBlob(r, treeLite(*ne));
    r.LevelBegin(L"SKzExperiment");
    r.LevelBegin(L"uLoopPars");
    EXPECT_EQ((std::vector<std::wstring>{L"uiCount", L"uiPeriodCount", L"sAutoFocusBeforeCapture",
                                         L"sAutoFocusBeforePeriod"}),
              RecordNames(r));
    Tree back = treeFrom(treeLite(*ne));
    EXPECT_EQ(5u, back->uLoopPars.sNETimeLoop.uiCount);
    EXPECT_EQ(nullptr, back->uLoopPars.sNETimeLoop.pPeriod);
    EXPECT_TRUE(Exp::IsEqual(*ne, *back, true, true));
}

TEST(ExperimentLite, MissingExperimentLevel)
{
    Tree t = newLevel(Exp::eExpPolarLoop, 2);
    CKzLiteVariantW w;
    w.LevelBegin(L"Other");
    w.Set(1u, L"eType");
    w.LevelEnd();
    CKzLiteVariantR r;
    w.Finalize(r);
    r.Reset();
    EXPECT_EQ(-9, Exp::LoadFromLiteVariant(*t, r));
    EXPECT_EQ(Exp::eExpPolarLoop, t->eType);
    EXPECT_EQ(2u, t->uLoopPars.uiCount);
    CKzLiteVariantW full;
    full.Set(1, L"x");
    EXPECT_EQ(-9, Exp::SaveToLiteVariant(full, *t));
}

TEST(ExperimentLite, MalformedInputsGiveSoundTrees)
{
    // Loops keep their stored counts with arrays of that many entries, zeros
    // where elements are missing; a count past the array bound is a damaged
    // level: -9, the loop without items.
    struct Case {
        const char* name;
        std::function<void(CKzLiteVariantW&)> write;
        std::function<void(const Exp&)> check;
        int rc = 0;
    };
    const u32 huge = 0x80000000u;
    // A level of the given type whose parameters hold only a count.
    auto countedLoop = [](u32 type, u32 count) {
        return [type, count](CKzLiteVariantW& w) {
            w.Set(type, L"eType");
            w.LevelBegin(L"uLoopPars");
            w.Set(count, L"uiCount");
            w.LevelEnd();
        };
    };
    // A time loop of three over one position loop of `count` positions.
    auto timeOverXY = [&](u32 count) {
        return [countedLoop, count](CKzLiteVariantW& w) {
            countedLoop(1u, 3u)(w);
            w.Set(1u, L"uiNextLevelCount");
            w.LevelBegin(L"ppNextLevelEx");
            w.LevelBegin(nullptr);
            countedLoop(2u, count)(w);
            w.LevelEnd();
            w.LevelEnd();
        };
    };
    std::vector<Case> cases = {
        {"children missing",
         [&](CKzLiteVariantW& w) {
             w.Set(1u, L"eType");
             w.Set(huge, L"uiNextLevelCount");
         },
         [](const Exp& e) {
             EXPECT_EQ(0u, e.uiNextLevelCount);
             EXPECT_EQ(nullptr, e.ppNextLevelEx);
         }},
        {"children not levels",
         [&](CKzLiteVariantW& w) {
             w.Set(3u, L"uiNextLevelCount");
             w.LevelBegin(L"ppNextLevelEx");
             w.Set(1, nullptr);
             w.LevelBegin(nullptr);
             w.Set(5u, L"eType");
             w.LevelEnd();
             w.Set(2.0, nullptr);
             w.LevelEnd();
         },
         [](const Exp& e) {
             ASSERT_EQ(1u, e.uiNextLevelCount);
             EXPECT_EQ(Exp::eExpPolarLoop, e.ppNextLevelEx[0]->eType);
         }},
        {"one-byte item flags",
         [&](CKzLiteVariantW& w) {
             w.Set(1u, L"eType");
             const unsigned char b = 7;
             const unsigned long n = 1;
             w.Set(&b, n, L"pItemValid");
             w.LevelBegin(L"uLoopPars");
             w.Set(5, L"uiCount");
             w.LevelEnd();
         },
         [](const Exp& e) {
             EXPECT_EQ(5u, e.uLoopPars.uiCount);
             EXPECT_EQ(nullptr, e.pItemValid);
         }},
        {"more flags than items",
         [&](CKzLiteVariantW& w) {
             w.Set(1u, L"eType");
             const unsigned char b[4] = {0, 2, 1, 0};
             const unsigned long n = 4;
             w.Set(b, n, L"pItemValid");
             w.LevelBegin(L"uLoopPars");
             w.Set(2, L"uiCount");
             w.LevelEnd();
         },
         [](const Exp& e) {
             ASSERT_NE(nullptr, e.pItemValid);
             EXPECT_FALSE(e.pItemValid[0]);
             EXPECT_EQ(1, (int)*(const unsigned char*)&e.pItemValid[1]);   // bools are 0 or 1
         }},
        {"xy points fewer than count",
         [&](CKzLiteVariantW& w) {
             w.Set(2u, L"eType");
             w.LevelBegin(L"uLoopPars");
             w.Set(3u, L"uiCount");
             w.LevelBegin(L"Points");
             w.LevelBegin(nullptr);
             w.Set(4.5, L"dPosX");
             w.LevelEnd();
             w.LevelEnd();
             w.LevelEnd();
         },
         [](const Exp& e) {
             const Exp::SKzExpXYPosLoop& l = e.uLoopPars.sXYPosLoop;
             ASSERT_EQ(3u, l.uiCount);
             EXPECT_EQ(4.5, l.dPosX[0]);
             EXPECT_TRUE(l.pPosName[0].IsEmpty());
             EXPECT_EQ(0.0, l.dPosX[2] + l.dPosY[2] + l.dPosZ[2] + l.dHZKOffset[2]);
             EXPECT_TRUE(l.pPosName[2].IsEmpty());
         }},
        {"xy without points",
         countedLoop(2u, 5u),
         [](const Exp& e) {
             const Exp::SKzExpXYPosLoop& l = e.uLoopPars.sXYPosLoop;
             ASSERT_EQ(5u, l.uiCount);
             ASSERT_NE(nullptr, l.dPosX);
             ASSERT_NE(nullptr, l.pPosName);
             EXPECT_EQ(0.0, l.dPosX[4] + l.dPosY[4] + l.dPosZ[4] + l.dHZKOffset[4]);
         }},
        {"xy count past the bound",
         countedLoop(2u, huge),
         [](const Exp& e) {
             EXPECT_EQ(0u, e.uLoopPars.uiCount);
             EXPECT_EQ(nullptr, e.uLoopPars.sXYPosLoop.dPosX);
             EXPECT_EQ(nullptr, e.uLoopPars.sXYPosLoop.pPosName);
         },
         KZ_ERR_FAILED},
        {"xy without points counts its frames below a time loop",
         timeOverXY(5u),
         [](const Exp& e) {
             ASSERT_EQ(1u, e.uiNextLevelCount);
             EXPECT_EQ(5u, e.ppNextLevelEx[0]->uLoopPars.uiCount);
             EXPECT_EQ(15u, CKzExperimentAPI::GetAllImagesCount(&e));
         }},
        {"a damaged child makes the tree damaged",
         timeOverXY(huge),
         [](const Exp& e) {
             EXPECT_EQ(3u, e.uLoopPars.uiCount);
             ASSERT_EQ(1u, e.uiNextLevelCount);
             EXPECT_EQ(0u, e.ppNextLevelEx[0]->uLoopPars.uiCount);
             EXPECT_EQ(nullptr, e.ppNextLevelEx[0]->uLoopPars.sXYPosLoop.dPosX);
         },
         KZ_ERR_FAILED},
        {"grid count gets zero arrays",
         countedLoop(3u, 4u),
         [](const Exp& e) {
             const Exp::SKzExpXYDiscrLoop& l = e.uLoopPars.sXYDiscrLoop;
             ASSERT_EQ(4u, l.uiCount);
             ASSERT_NE(nullptr, l.uiRow);
             ASSERT_NE(nullptr, l.uiCol);
             ASSERT_NE(nullptr, l.dPosZ);
             EXPECT_EQ(0.0, l.uiRow[3] + l.uiCol[3] + l.dPosZ[3]);
         }},
        {"grid count past the bound",
         countedLoop(3u, huge),
         [](const Exp& e) {
             EXPECT_EQ(0u, e.uLoopPars.uiCount);
             EXPECT_EQ(nullptr, e.uLoopPars.sXYDiscrLoop.uiRow);
         },
         KZ_ERR_FAILED},
        {"periods fewer than count",
         [&](CKzLiteVariantW& w) {
             w.Set(8u, L"eType");
             w.LevelBegin(L"uLoopPars");
             w.Set(2u, L"uiPeriodCount");
             w.LevelBegin(L"pPeriod");
             w.LevelBegin(nullptr);
             w.Set(3u, L"uiCount");
             w.LevelEnd();
             w.LevelEnd();
             const unsigned char b[2] = {0, 1};
             const unsigned long n = 2;
             w.Set(b, n, L"pPeriodValid");
             w.LevelBegin(L"pSubLoops");
             w.LevelBegin(nullptr);
             w.Set(huge, L"uiNextLevelCount");
             w.LevelBegin(L"ppNextLevelEx");
             w.LevelBegin(nullptr);   // lacks its "SKzExperiment" level: dropped
             w.LevelEnd();
             w.LevelBegin(nullptr);
             w.LevelBegin(L"SKzExperiment");
             w.Set(5u, L"eType");
             w.LevelEnd();
             w.LevelEnd();
             w.LevelEnd();
             w.LevelEnd();
             w.LevelEnd();
             w.LevelEnd();
         },
         [](const Exp& e) {
             const Exp::SKzExpNETimeLoop& l = e.uLoopPars.sNETimeLoop;
             ASSERT_EQ(2u, l.uiPeriodCount);
             EXPECT_EQ(3u, l.pPeriod[0].uiCount);
             EXPECT_EQ(0u, l.pPeriod[1].uiCount);
             EXPECT_TRUE(l.szCommandBeforePeriod[1].IsEmpty());
             ASSERT_NE(nullptr, l.pPeriodValid);
             EXPECT_FALSE(l.pPeriodValid[0]);
             EXPECT_TRUE(l.pPeriodValid[1]);
             ASSERT_NE(nullptr, l.pSubLoops);
             ASSERT_EQ(1u, l.pSubLoops[0].uiNextLevelCount);
             EXPECT_EQ(Exp::eExpPolarLoop, l.pSubLoops[0].ppNextLevelEx[0]->eType);
             EXPECT_EQ(0u, l.pSubLoops[1].uiNextLevelCount);
         }},
        {"spectral points without planes",
         [&](CKzLiteVariantW& w) {
             w.Set(6u, L"eType");
             w.LevelBegin(L"uLoopPars");
             w.LevelBegin(L"Points");
             w.LevelBegin(nullptr);
             w.Set(3, L"pZStackPos");
             w.LevelEnd();
             w.LevelEnd();
             w.LevelEnd();
         },
         [](const Exp& e) {
             EXPECT_EQ(0u, e.uLoopPars.uiCount);
             EXPECT_EQ(nullptr, e.uLoopPars.sSpectLoop.pPlanes);
             EXPECT_EQ(nullptr, e.uLoopPars.sSpectLoop.pZStackPos);
         }},
        {"period count without periods",
         [&](CKzLiteVariantW& w) {
             w.Set(8u, L"eType");
             w.LevelBegin(L"uLoopPars");
             w.Set(7u, L"uiCount");
             w.Set(2u, L"uiPeriodCount");
             w.LevelEnd();
         },
         [](const Exp& e) {
             const Exp::SKzExpNETimeLoop& l = e.uLoopPars.sNETimeLoop;
             EXPECT_EQ(7u, l.uiCount);
             ASSERT_EQ(2u, l.uiPeriodCount);
             ASSERT_NE(nullptr, l.pPeriod);
             EXPECT_EQ(0u, l.pPeriod[1].uiCount);
             EXPECT_TRUE(l.szCommandAfterPeriod[1].IsEmpty());
             EXPECT_EQ(nullptr, l.pSubLoops);
         }},
        {"period count past the bound",
         [&](CKzLiteVariantW& w) {
             w.Set(8u, L"eType");
             w.LevelBegin(L"uLoopPars");
             w.Set(7u, L"uiCount");
             w.Set(huge, L"uiPeriodCount");
             w.LevelBegin(L"pSubLoops");
             w.LevelEnd();
             w.LevelEnd();
         },
         [](const Exp& e) {
             EXPECT_EQ(0u, e.uLoopPars.sNETimeLoop.uiCount);
             EXPECT_EQ(0u, e.uLoopPars.sNETimeLoop.uiPeriodCount);
             EXPECT_EQ(nullptr, e.uLoopPars.sNETimeLoop.pPeriod);
             EXPECT_EQ(nullptr, e.uLoopPars.sNETimeLoop.pSubLoops);
         },
         KZ_ERR_FAILED},
        {"older channels past the bound",
         countedLoop(6u, huge),
         [](const Exp& e) {
             EXPECT_EQ(0u, e.uLoopPars.uiCount);
             EXPECT_EQ(nullptr, e.uLoopPars.sSpectLoop.pPlanes);
         },
         KZ_ERR_FAILED},
    };
    for (u32 type : {2u, 6u, 7u, 8u, 3u, 9u, 77u}) {
        cases.push_back({"loop without parameters",
                         [type](CKzLiteVariantW& w) {
                             w.Set(type, L"eType");
                             const unsigned char b[3] = {1, 1, 1};
                             const unsigned long n = 3;
                             w.Set(b, n, L"pItemValid");
                         },
                         [type](const Exp& e) {
                             EXPECT_EQ(type, (u32)e.eType);
                             EXPECT_EQ(0u, e.uLoopPars.uiCount);
                             EXPECT_EQ(nullptr, e.pItemValid);
                         }});
    }
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Tree t = levelFrom(c.write, c.rc);
        c.check(*t);
        {
            // The version-3 reader's road: the level entered by the caller.
            CKzLiteVariantW w;
            w.LevelBegin(L"SKzExperiment");
            c.write(w);
            CKzLiteVariantR r;
            w.Finalize(r);
            r.Reset();
            ASSERT_EQ(0, r.LevelBegin(L"SKzExperiment"));
            Tree direct(new Exp());
            EXPECT_EQ(c.rc, Exp::ReadFromLiteVariant(*direct, r));
            c.check(*direct);
        }
        // The tree copies, compares, rewrites and rereads soundly.
        Exp* copy = nullptr;
        ASSERT_EQ(0, Exp::Duplicate(&copy, *t, true));
        Tree ct(copy);
        if (t->eType >= 1 && t->eType <= 9) EXPECT_TRUE(Exp::IsEqual(*t, *ct, true, true));
        Tree again = treeFrom(treeLite(*t));
        EXPECT_EQ(treeLite(*t), treeLite(*again));
    }
}

TEST(ExperimentLite, DeepNestingStopsAtTheReadersCap)
{
    // 400 nested levels, each the only child of the one above.
    CKzLiteVariantW w;
    w.LevelBegin(L"SKzExperiment");
    for (int i = 0; i < 400; ++i) {
        w.Set(5u, L"eType");
        w.Set(1u, L"uiNextLevelCount");
        w.LevelBegin(L"ppNextLevelEx");
        w.LevelBegin(nullptr);
    }
    w.Set(5u, L"eType");
    CKzLiteVariantR r;
    w.Finalize(r);
    r.Reset();
    Tree t(new Exp());
    EXPECT_EQ(0, Exp::LoadFromLiteVariant(*t, r));
    int depth = 0;
    for (const Exp* e = t.get(); e; e = e->uiNextLevelCount ? e->ppNextLevelEx[0] : nullptr) ++depth;
    EXPECT_GT(depth, 50);
    EXPECT_LE(depth, CKzLiteVariantR::MAX_DEPTH);
}

// ---------------------------------------------------------------------------
// Picture sequence
// ---------------------------------------------------------------------------

#include "gnr_metaformats/SKzPictureMetadata.h"
#include "gnr_metaformats/SKzPictureSequence.h"

TEST(ExperimentPictureSequence, AllocAndFree)
{
    SKzPictureSequence seq;
    EXPECT_EQ(-4, SKzPictureSequence::Alloc(nullptr, 3));
    EXPECT_EQ(0, SKzPictureSequence::Alloc(&seq, 0));
    EXPECT_EQ(0u, seq.uiCount);
    EXPECT_EQ(nullptr, seq.pMetadata);
    SKzPictureSequence::Free(&seq);
    EXPECT_EQ(0, SKzPictureSequence::Alloc(&seq, 3));
    EXPECT_EQ(3u, seq.uiCount);
    ASSERT_NE(nullptr, seq.pMetadata);
    SKzPictureSequence::Free(&seq);
    EXPECT_EQ(nullptr, seq.pMetadata);
    SKzPictureSequence::Free(&seq);   // a second release does nothing
    SKzPictureSequence::Free(nullptr);
}

TEST(ExperimentPictureSequence, ExtractValidPlanes)
{
    SKzPicturePlanes out;
    Tree time = newLevel(Exp::eExpTimeLoop, 2);
    EXPECT_EQ(-4, Exp::ExtractValidPlanes(out, nullptr));
    EXPECT_EQ(-4, Exp::ExtractValidPlanes(out, time.get()));
    // Without a channel set: the destination counts no component, and item
    // flags that select nothing print the failure line.
    struct {
        const char* name;
        bool flags;
        const char* printed;
    } noSet[] = {
        {"no flags", false, ""},
        {"flags", true, "\nFailure! File: gnr_metaformats/PictureSequence, line: 1771\n"},
    };
    for (const auto& c : noSet) {
        Tree bare(new Exp());
        bare->eType = Exp::eExpSpectLoop;
        if (c.flags) {
            bare->uLoopPars.uiCount = 2;
            bare->pItemValid = new bool[2]{true, true};
        }
        out.uiCompCount = 7;
        testing::internal::CaptureStdout();
        EXPECT_EQ(0, Exp::ExtractValidPlanes(out, bare.get())) << c.name;
        EXPECT_EQ(std::string(c.printed), testing::internal::GetCapturedStdout()) << c.name;
        EXPECT_EQ(0u, out.uiCount) << c.name;
        EXPECT_EQ(0u, out.uiCompCount) << c.name;
        EXPECT_EQ(nullptr, out.pPlanes) << c.name;
    }

    // Flags {1, 0, 1} over three one-component channels: components 0 and 2.
    Tree spect = newLevel(Exp::eExpSpectLoop, 3, true);
    fillSpect(*spect);
    ASSERT_EQ(0, Exp::ExtractValidPlanes(out, spect.get()));
    ASSERT_EQ(2u, out.uiCount);
    EXPECT_EQ(std::wstring(L"DAPI"), out.pPlanes[0].sDescription.GetString());
    EXPECT_EQ(std::wstring(L"TRITC"), out.pPlanes[1].sDescription.GetString());
    SKzPicturePlanes::Free(out);

    // Without flags every channel; with none valid, no channel.
    Tree all = newLevel(Exp::eExpSpectLoop, 3, false);
    fillSpect(*all);
    ASSERT_EQ(0, Exp::ExtractValidPlanes(out, all.get()));
    EXPECT_EQ(3u, out.uiCount);
    SKzPicturePlanes::Free(out);
    for (int i = 0; i < 3; ++i) spect->pItemValid[i] = false;
    ASSERT_EQ(0, Exp::ExtractValidPlanes(out, spect.get()));
    EXPECT_EQ(0u, out.uiCount);
    SKzPicturePlanes::Free(out);
}
