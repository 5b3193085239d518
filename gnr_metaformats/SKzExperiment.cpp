// Experiment levels: construction, set-up, tear-down and release.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/KzExperimentInternal.h"
#include "gnr_system/CKzAlloc.h"

#include <cstring>

using namespace kzexp;

SKzExperiment** kzexp::NewChildArray(u64 n)
{
    if (n == 0 || n > ((u64)1 << 40) / sizeof(SKzExperiment*)) return nullptr;
    return (SKzExperiment**)CKzAlloc::Alloc(1, (size_t)n * sizeof(SKzExperiment*));
}

bool kzexp::NewItemArrays(XYPosLoop& l, u64 n)
{
    l.dPosX = NewArray<double>(n);
    l.dPosY = NewArray<double>(n);
    l.dPosZ = NewArray<double>(n);
    l.dHZKOffset = NewArray<double>(n);
    l.pPosName = NewArray<CKzStringW>(n);
    if (l.dPosX && l.dPosY && l.dPosZ && l.dHZKOffset && l.pPosName) return true;
    FreeItemArrays(l);
    return false;
}

void kzexp::FreeItemArrays(XYPosLoop& l)
{
    delete[] l.dPosX;
    delete[] l.dPosY;
    delete[] l.dPosZ;
    delete[] l.dHZKOffset;
    delete[] l.pPosName;
    l.dPosX = l.dPosY = l.dPosZ = l.dHZKOffset = nullptr;
    l.pPosName = nullptr;
}

bool kzexp::NewItemArrays(XYDiscrLoop& l, u64 n)
{
    l.uiRow = NewArray<kz_uint32>(n);
    l.uiCol = NewArray<kz_uint32>(n);
    l.dPosZ = NewArray<double>(n);
    if (l.uiRow && l.uiCol && l.dPosZ) return true;
    FreeItemArrays(l);
    return false;
}

void kzexp::FreeItemArrays(XYDiscrLoop& l)
{
    delete[] l.uiRow;
    delete[] l.uiCol;
    delete[] l.dPosZ;
    l.uiRow = l.uiCol = nullptr;
    l.dPosZ = nullptr;
}

void kzexp::ClearPeriod(TimeLoop& p)
{
    p.uiCount = 0;
    p.dStart = p.dPeriod = p.dDuration = 0;
    p.dMinPeriodDiff = p.dMaxPeriodDiff = p.dAvgPeriodDiff = 0;
    p.wsPhaseName[0] = 0;
    AutoFocus::SetToNull(p.sAutoFocusBeforePeriod);
    AutoFocus::SetToNull(p.sAutoFocusBeforeCapture);
    p.uiLoopType = p.uiGroup = p.uiStimulationCount = 0;
}

void kzexp::FreeSubLoops(NETimeLoop& l)
{
    if (!l.pSubLoops) return;
    for (u32 p = 0; p < l.uiPeriodCount; ++p) {
        SubLoops& s = l.pSubLoops[p];
        if (s.ppNextLevelEx)
            for (u32 i = 0; i < s.uiNextLevelCount; ++i) {
                SKzExperiment::FreeRecursive(s.ppNextLevelEx[i]);
                s.ppNextLevelEx[i] = nullptr;
            }
        CKzAlloc::Free(s.ppNextLevelEx);
        s.ppNextLevelEx = nullptr;
        s.uiNextLevelCount = 0;
    }
    delete[] l.pSubLoops;
    l.pSubLoops = nullptr;
}

// ---- autofocus -------------------------------------------------------------------------

void SKzExperiment::SKzExpAutoFocus::SetToNull(SKzExpAutoFocus& af)
{
    std::memset((void*)&af, 0, sizeof(af));
}

bool SKzExperiment::SKzExpAutoFocus::IsEqual(const SKzExpAutoFocus& a, const SKzExpAutoFocus& b)
{
    if (a.eType != b.eType || !DblEq(a.dStep, b.dStep) || !DblEq(a.dRange, b.dRange) ||
        !DblEq(a.dPrecision, b.dPrecision) || !DblEq(a.dSpeed, b.dSpeed))
        return false;
    if (a.aFocusPlane.iDegree != b.aFocusPlane.iDegree || a.aFocusPlane.uiValues != b.aFocusPlane.uiValues)
        return false;
    const u32 n = a.aFocusPlane.uiValues < 6 ? a.aFocusPlane.uiValues : 6;
    for (u32 i = 0; i < n; ++i)
        if (!DblEq(a.aFocusPlane.pCoeff[i], b.aFocusPlane.pCoeff[i])) return false;
    if (a.uiFlags != b.uiFlags || a.iFocusCriterion != b.iFocusCriterion) return false;
    if (a.sZDrive[0] && b.sZDrive[0] && !FixedEqual(a.sZDrive, b.sZDrive)) return false;
    return true;
}

// ---- level -----------------------------------------------------------------------------

SKzExperiment::SKzExperiment()
    : eType(eExpNone), pItemValid(nullptr), bControlShutter(true), bControlLight(false), bUseHZK(false),
      bUseHWSequencer(false), bUseWqRecipe(false), bUseIntenzityCorrection(false), pLargeImage(nullptr),
      pNIExperiment(nullptr), pRecordedData(nullptr), ppNextLevelEx(nullptr), uiNextLevelCount(0), uiRepeatCount(0)
{
    // The whole union is zeroed, so a level left as constructed holds nulls.
    std::memset((void*)&uLoopPars, 0, sizeof(uLoopPars));
    SKzExpAutoFocus::SetToNull(sAutoFocusBeforeLoop);
}

SKzExperiment::~SKzExperiment()
{
    if (eType == eExpNETimeLoop) FreeSubLoops(uLoopPars.sNETimeLoop);
    if (ppNextLevelEx)
        for (u32 i = 0; i < uiNextLevelCount; ++i) {
            FreeRecursive(ppNextLevelEx[i]);
            ppNextLevelEx[i] = nullptr;
        }
    Uninit(*this);
}

int SKzExperiment::Alloc(SKzExperiment** level)
{
    if (!level) return KZ_ERR_INVALID_ARG;
    *level = new (std::nothrow) SKzExperiment();
    return *level ? KZ_OK : KZ_ERR_OUT_OF_MEMORY;
}

void SKzExperiment::FreeRecursive(SKzExperiment* level) { delete level; }

void SKzExperiment::Free(SKzExperiment* level)
{
    if (!level) return;
    CKzAlloc::Free(level->ppNextLevelEx);
    level->ppNextLevelEx = nullptr;
    level->uiNextLevelCount = 0;
    delete level;
}

int SKzExperiment::Init(SKzExperiment& lv, EKzExperimentType type, bool itemValid, kz_uint32 items,
                        kz_uint32 periods, kz_uint32 children, kz_uint32 samples)
{
    SKzExpAutoFocus::SetToNull(lv.sAutoFocusBeforeLoop);
    SKzParallelExperiment::Clear(lv.sParallelExperiment);
    lv.eType = type;
    lv.pItemValid = nullptr;
    lv.uiNextLevelCount = children;
    if (children > 0) {
        lv.ppNextLevelEx = NewChildArray(children);
        if (!lv.ppNextLevelEx) {
            lv.uiNextLevelCount = 0;
            Uninit(lv);
            return KZ_ERR_OUT_OF_MEMORY;
        }
    }
    lv.uiRepeatCount = 1;
    bool ok = true;
    ULoopPars& u = lv.uLoopPars;
    switch (type) {
    case eExpTimeLoop:
    case eExpManualTimeLoop: {
        TimeLoop& t = u.sTimeLoop;
        const bool pref = t.bDurationPref;
        ClearPeriod(t);
        t.bDurationPref = pref;
        t.uiCount = items;
        break;
    }
    case eExpXYPosLoop: {
        XYPosLoop& l = u.sXYPosLoop;
        l.bRelativeXY = false;
        l.dReferenceX = l.dReferenceY = 0;
        l.bRedefineAfterHZK = l.bRedefineAfterAutoFocus = l.bKeepHZKOn = l.bSplitMultipoints = false;
        l.uiCount = items;
        l.dPosX = l.dPosY = l.dPosZ = l.dHZKOffset = nullptr;
        l.pPosName = nullptr;
        if (items > 0) ok = NewItemArrays(l, items);
        SKzExpAutoFocus::SetToNull(l.sAutoFocusBeforeCapture);
        l.sZDevice[0] = 0;
        break;
    }
    case eExpXYDiscrLoop: {
        XYDiscrLoop& l = u.sXYDiscrLoop;
        l.uiCount = items;
        l.uiRow = l.uiCol = nullptr;
        l.dPosZ = nullptr;
        if (items > 0) ok = NewItemArrays(l, items);
        break;
    }
    case eExpZStackLoop: {
        ZStackLoop& z = u.sZStackLoop;
        z.uiCount = items;
        z.dZLow = z.dZLowHZKOffset = z.dZHigh = z.dZHighHZKOffset = z.dZHome = z.dReferencePosition = 0;
        z.dZStep = -1.0;
        z.dTIRFPosition = 0.000333;
        z.dTIRFHZKOffset = -1.0;
        z.iType = 0;
        z.bAbsolute = z.bTriggeredPiezo = z.bZInverted = z.bTIRF = false;
        z.sZDevice[0] = z.sCommandBeforeCapture[0] = z.sCommandAfterCapture[0] = 0;
        break;
    }
    case eExpPolarLoop: u.sPolarLoop.uiCount = items; break;
    case eExpSpectLoop: ok = SpectInit(u.sSpectLoop, items, samples) == KZ_OK; break;
    case eExpCustomLoop:
        u.sCustomLoop.uiCount = items;
        u.sCustomLoop.wsDescription = new (std::nothrow) CKzStringW();
        ok = u.sCustomLoop.wsDescription != nullptr;
        break;
    case eExpNETimeLoop: {
        NETimeLoop& l = u.sNETimeLoop;
        l.uiCount = items;
        l.uiPeriodCount = periods;
        l.pSubLoops = nullptr;
        l.pPeriod = nullptr;
        l.szCommandBeforePeriod = l.szCommandAfterPeriod = nullptr;
        l.pPeriodValid = nullptr;
        SKzExpAutoFocus::SetToNull(l.sAutoFocusBeforePeriod);
        SKzExpAutoFocus::SetToNull(l.sAutoFocusBeforeCapture);
        if (periods > 0) {
            l.pPeriod = NewArray<TimeLoop>(periods);
            l.szCommandBeforePeriod = NewArray<CKzStringW>(periods);
            l.szCommandAfterPeriod = NewArray<CKzStringW>(periods);
            l.pPeriodValid = NewArray<bool>(periods);
            ok = l.pPeriod && l.szCommandBeforePeriod && l.szCommandAfterPeriod && l.pPeriodValid;
            if (ok)
                for (u32 p = 0; p < periods; ++p) l.pPeriodValid[p] = true;
        }
        break;
    }
    default: break;
    }
    if (ok && items > 0 && itemValid) {
        lv.pItemValid = NewArray<bool>(items);
        if (lv.pItemValid)
            for (u32 i = 0; i < items; ++i) lv.pItemValid[i] = true;
        else ok = false;
    }
    if (!ok) {
        Uninit(lv);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

void SKzExperiment::Uninit(SKzExperiment& lv)
{
    ULoopPars& u = lv.uLoopPars;
    switch (lv.eType) {
    case eExpTimeLoop:
    case eExpZStackLoop:
    case eExpPolarLoop: u.uiCount = 0; break;
    case eExpXYPosLoop: {
        XYPosLoop& l = u.sXYPosLoop;
        FreeItemArrays(l);
        l.uiCount = 0;
        l.sZDevice[0] = 0;
        break;
    }
    case eExpXYDiscrLoop: {
        XYDiscrLoop& l = u.sXYDiscrLoop;
        FreeItemArrays(l);
        l.uiCount = 0;
        break;
    }
    case eExpSpectLoop: SpectUninit(u.sSpectLoop); break;
    case eExpCustomLoop:
        delete u.sCustomLoop.wsDescription;
        u.sCustomLoop.wsDescription = nullptr;
        u.sCustomLoop.uiCount = 0;
        break;
    case eExpNETimeLoop: {
        NETimeLoop& l = u.sNETimeLoop;
        FreeSubLoops(l);
        delete[] l.pPeriod;
        delete[] l.szCommandBeforePeriod;
        delete[] l.szCommandAfterPeriod;
        delete[] l.pPeriodValid;
        l.pPeriod = nullptr;
        l.szCommandBeforePeriod = l.szCommandAfterPeriod = nullptr;
        l.pPeriodValid = nullptr;
        l.uiPeriodCount = 0;
        l.uiCount = 0;
        break;
    }
    default: break;
    }
    delete[] lv.pItemValid;
    lv.pItemValid = nullptr;
    CKzAlloc::Free(lv.ppNextLevelEx);
    lv.ppNextLevelEx = nullptr;
    lv.uiNextLevelCount = 0;
    delete lv.pRecordedData;
    lv.pRecordedData = nullptr;
    delete lv.pNIExperiment;
    lv.pNIExperiment = nullptr;
    delete[] lv.pLargeImage;
    lv.pLargeImage = nullptr;
    lv.eType = eExpNone;
}
