// Experiment trees with every field set, and the variant-form helpers the
// variant and version-2 file tests share.
#pragma once

#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzVariant.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <memory>
#include <string>

namespace varianttest {

using Exp = SKzExperiment;
using u32 = kz_uint32;

struct Del {
    void operator()(Exp* e) const { Exp::FreeRecursive(e); }
};
using Tree = std::unique_ptr<Exp, Del>;

inline Exp* level(Exp::EKzExperimentType t, u32 items, bool flags = false, u32 periods = 0, u32 children = 0)
{
    Exp* e = nullptr;
    EXPECT_EQ(0, Exp::Alloc(&e));
    EXPECT_EQ(0, Exp::Init(*e, t, flags, items, periods, children, 1));
    return e;
}

inline void setAF(Exp::SKzExpAutoFocus& af, int k)
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
    std::wcscpy(af.sZDrive, L"drive");
}

inline void setCommon(Exp& e, int k)
{
    e.wsApplicationDesc = L"app";
    e.wsUserDesc = (L"user " + std::to_wstring(k)).c_str();
    e.aMeasProbesBase64 = L"\u00c4\u03a9 probe";
    e.wsCameraName = L"cam";
    setAF(e.sAutoFocusBeforeLoop, k);
    e.wsCommandBeforeLoop = L"bl";
    e.wsCommandBeforeCapture = L"bc";
    e.wsCommandAfterCapture = L"ac";
    e.wsCommandAfterLoop = L"al";
    e.bControlShutter = k % 2 == 0;
    e.bControlLight = true;
    e.bUseHZK = k % 3 == 0;
    e.bUseHWSequencer = true;
    e.bUseWqRecipe = k % 2 == 1;
    e.bUseIntenzityCorrection = true;
    e.uiRepeatCount = 1 + k % 3;
    SKzParallelExperiment::AddEvent(e.sParallelExperiment, 7, 1.5, 2, 0.5, 3, 4, L"stim", 1, nullptr);
}

inline void attach(Exp* parent, std::initializer_list<Exp*> kids)
{
    parent->uiNextLevelCount = (u32)kids.size();
    parent->ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, kids.size() * sizeof(Exp*));
    u32 i = 0;
    for (Exp* k : kids) parent->ppNextLevelEx[i++] = k;
}

// A tree holding every loop type, with every field the variant form stores
// set to a value other than its default.
inline Tree fullTree()
{
    Exp* time = level(Exp::eExpTimeLoop, 4, true);
    setCommon(*time, 0);
    auto& t = time->uLoopPars.sTimeLoop;
    t.dStart = 1;
    t.dPeriod = 250;
    t.dDuration = 1000;
    t.dMinPeriodDiff = 249;
    t.dMaxPeriodDiff = 251;
    t.dAvgPeriodDiff = 250.5;
    std::wcscpy(t.wsPhaseName, L"phase");
    t.uiLoopType = 4;
    t.uiGroup = 5;
    t.uiStimulationCount = 6;
    t.bDurationPref = true;
    setAF(t.sAutoFocusBeforeCapture, 1);
    setAF(t.sAutoFocusBeforePeriod, 2);
    time->pItemValid[2] = false;
    time->pLargeImage = new Exp::SKzLIDesc[2]();
    auto& li = time->pLargeImage[0];
    li.iMethod = 1;
    li.iXFields = 3;
    li.iYFields = 4;
    li.dXmm = 0.5;
    li.dYmm = 1.25;
    li.bStitch = true;
    li.bControlShutter = true;
    li.dOverlap = 10;
    li.uiOrder = 2;
    li.uiStitchingChannel = 1;
    std::wcscpy(li.sPattern, L"tile_%d");
    std::wcscpy(li.sCamera, L"left");
    time->pLargeImage[1].bValid = true;
    time->pLargeImage[1].uiStitchingChannel = 4;
    std::wcscpy(time->pLargeImage[1].sCamera, L"right");
    time->pNIExperiment = new SKzExperimentNI();
    time->pNIExperiment->bIgnoreSetup = true;
    time->pNIExperiment->VectorNISetupOutputs.resize(1);
    time->pRecordedData = new SKzRecordedData();
    time->pRecordedData->VectorRD_Other.resize(1);
    time->pRecordedData->VectorRD_Other[0].wsRDKey = L"X";
    time->pRecordedData->VectorRD_Other[0].bRDCheck = true;

    Exp* xy = level(Exp::eExpXYPosLoop, 2, true);
    setCommon(*xy, 1);
    auto& p = xy->uLoopPars.sXYPosLoop;
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
    p.bRedefineAfterHZK = true;
    p.bRedefineAfterAutoFocus = true;
    p.bKeepHZKOn = true;
    p.bSplitMultipoints = true;
    std::wcscpy(p.sZDevice, L"zdev");
    setAF(p.sAutoFocusBeforeCapture, 2);
    xy->pItemValid[0] = false;

    Exp* z = level(Exp::eExpZStackLoop, 7);
    setCommon(*z, 2);
    auto& s = z->uLoopPars.sZStackLoop;
    s.dZLow = -3;
    s.dZLowHZKOffset = 0.5;
    s.dZHigh = 3;
    s.dZHighHZKOffset = 0.75;
    s.dZHome = 0.5;
    s.dZStep = 1;
    s.dReferencePosition = 2;
    s.dTIRFPosition = 0.1;
    s.dTIRFHZKOffset = 0.2;
    s.iType = 5;
    s.bAbsolute = true;
    s.bTriggeredPiezo = true;
    s.bZInverted = true;
    s.bTIRF = true;
    std::wcscpy(s.sZDevice, L"piezo");
    std::wcscpy(s.sCommandBeforeCapture, L"before");
    std::wcscpy(s.sCommandAfterCapture, L"after");

    Exp* ne = level(Exp::eExpNETimeLoop, 15, false, 3);
    setCommon(*ne, 3);
    auto& n = ne->uLoopPars.sNETimeLoop;
    const u32 counts[] = {4, 5, 6};
    for (u32 k = 0; k < 3; ++k) {
        n.pPeriod[k].uiCount = counts[k];
        n.pPeriod[k].dPeriod = 10.0 * (k + 1);
        n.pPeriod[k].dStart = k;
        n.pPeriod[k].uiGroup = k + 1;
        n.szCommandBeforePeriod[k] = (L"before " + std::to_wstring(k)).c_str();
        n.szCommandAfterPeriod[k] = (L"after " + std::to_wstring(k)).c_str();
    }
    std::wcscpy(n.pPeriod[0].wsPhaseName, L"fast");
    n.pPeriod[0].uiLoopType = 1;
    n.pPeriod[1].dDuration = 50;
    n.pPeriod[1].uiStimulationCount = 2;
    n.pPeriod[2].bDurationPref = true;
    n.pPeriodValid[1] = false;
    n.uiCount = 10;
    setAF(n.sAutoFocusBeforeCapture, 5);
    setAF(n.sAutoFocusBeforePeriod, 6);
    n.pSubLoops = new Exp::SKzExpNETimeLoop::SKzSubLoopsDefinition[3];
    Exp* polarSub = level(Exp::eExpPolarLoop, 3);
    polarSub->uLoopPars.sPolarLoop.dAngleStart = 10;
    n.pSubLoops[2].uiNextLevelCount = 2;
    n.pSubLoops[2].ppNextLevelEx = (Exp**)CKzAlloc::Alloc(1, 2 * sizeof(Exp*));
    n.pSubLoops[2].ppNextLevelEx[0] = polarSub;
    n.pSubLoops[2].ppNextLevelEx[1] = level(Exp::eExpCustomLoop, 2);
    n.pSubLoops[2].ppNextLevelEx[1]->uiRepeatCount = 2;

    Exp* custom = level(Exp::eExpCustomLoop, 2);
    *custom->uLoopPars.sCustomLoop.wsDescription = L"custom loop";
    Exp* manual = level(Exp::eExpManualTimeLoop, 0);
    Exp* grid = level(Exp::eExpXYDiscrLoop, 3, true);
    auto& g = grid->uLoopPars.sXYDiscrLoop;
    for (u32 i = 0; i < 3; ++i) {
        g.uiRow[i] = i / 2;
        g.uiCol[i] = i % 2 + 7;
        g.dPosZ[i] = 0.5 * i - 1;
    }
    g.bUseZ = true;
    grid->pItemValid[2] = false;

    Exp* spect = level(Exp::eExpSpectLoop, 3, true);
    auto& l = spect->uLoopPars.sSpectLoop;
    const wchar_t* names[] = {L"DAPI", L"FITC", L"TRITC"};
    for (u32 i = 0; i < 3; ++i) {
        l.pPlanes->pPlanes[i].uiCompCount = 2;
        l.pPlanes->pPlanes[i].uiColor = 0x0000FF00u >> (4 * i);
        l.pPlanes->pPlanes[i].sDescription = names[i];
        l.pZStackPos[i] = (kz_int32)i - 1;
        l.szCommandBeforeCapture[i] = names[i];
        l.szCommandAfterCapture[i] = L"after";
        setAF(l.pAutoFocus[i], (int)i);
    }
    l.pPlanes->uiCompCount = 6;
    l.bMergeCameras = true;
    spect->pItemValid[1] = false;

    attach(grid, {spect});
    attach(manual, {grid});
    attach(custom, {manual});
    attach(ne, {custom});
    attach(z, {ne});
    attach(xy, {z});
    Exp* polar = level(Exp::eExpPolarLoop, 2);
    polar->uLoopPars.sPolarLoop.dAngleStart = -5;
    polar->uLoopPars.sPolarLoop.dAngleFinish = 85;
    polar->uLoopPars.sPolarLoop.bSceneRotates = true;
    polar->uiRepeatCount = 2;
    attach(time, {xy, polar});
    return Tree(time);
}

// The UTF-8 XML document of a level saved with SaveToVariant.
inline std::string VariantXML(const Exp& e, int expect = 0)
{
    CKzVariant v;
    EXPECT_EQ(expect, Exp::SaveToVariant(v, e));
    CKzStringA text;
    EXPECT_EQ(0, CKzSerializerXMLString::VariantToDocument_UTF8(text, v));
    return text.GetString();
}

// A level read from such a document.
inline Tree FromXML(const std::string& doc, int expect = 0)
{
    CKzVariant v;
    v.EnableTypeChange(true);
    EXPECT_EQ(0, CKzSerializerXMLString::VariantFromXML_UTF8(v, doc.c_str(), (unsigned)doc.size()));
    Tree t(new Exp());
    EXPECT_EQ(expect, Exp::LoadFromVariant(*t, v));
    return t;
}

} // namespace varianttest
