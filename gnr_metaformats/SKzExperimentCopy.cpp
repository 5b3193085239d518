// Experiment levels: one-level and deep copies, comparison.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/KzExperimentInternal.h"
#include "gnr_system/CKzAlloc.h"

#include <cstring>

using namespace kzexp;

namespace {

// Entry i of a per-item array that may be null.
template <class T>
T at(const T* a, u32 i)
{
    return a ? a[i] : T();
}

const CKzStringW& textAt(const CKzStringW* a, u32 i)
{
    static const CKzStringW empty;
    return a ? a[i] : empty;
}

bool flagAt(const bool* f, u32 i) { return !f || f[i]; }

// Copies n entries of src (zeros when src is null) into a new array; true
// when nothing was needed or the array was made.
template <class T>
bool copyArray(T*& dst, const T* src, u32 n)
{
    dst = nullptr;
    if (n == 0) return true;
    dst = NewArray<T>(n);
    if (!dst) return false;
    if (src)
        for (u32 i = 0; i < n; ++i) dst[i] = src[i];
    return true;
}

// The loop structure of src into dst, whose loop holds nothing. False when
// memory ran out.
bool copyLoop(SKzExperiment& dst, const SKzExperiment& src)
{
    SKzExperiment::ULoopPars& d = dst.uLoopPars;
    const SKzExperiment::ULoopPars& s = src.uLoopPars;
    switch (src.eType) {
    case SKzExperiment::eExpTimeLoop: d.sTimeLoop = s.sTimeLoop; return true;
    case SKzExperiment::eExpManualTimeLoop: d.sManualTimeLoop.uiCount = s.sManualTimeLoop.uiCount; return true;
    case SKzExperiment::eExpXYPosLoop: {
        XYPosLoop& l = d.sXYPosLoop;
        const XYPosLoop& o = s.sXYPosLoop;
        l.uiCount = o.uiCount;
        bool ok = copyArray(l.dPosX, o.dPosX, o.uiCount) && copyArray(l.dPosY, o.dPosY, o.uiCount) &&
                  copyArray(l.dPosZ, o.dPosZ, o.uiCount) && copyArray(l.dHZKOffset, o.dHZKOffset, o.uiCount) &&
                  copyArray(l.pPosName, o.pPosName, o.uiCount);
        l.bUseZ = o.bUseZ;
        l.bRelativeXY = o.bRelativeXY;
        l.dReferenceX = o.dReferenceX;
        l.dReferenceY = o.dReferenceY;
        l.bRedefineAfterHZK = o.bRedefineAfterHZK;
        l.bRedefineAfterAutoFocus = o.bRedefineAfterAutoFocus;
        l.bKeepHZKOn = o.bKeepHZKOn;
        l.bSplitMultipoints = o.bSplitMultipoints;
        l.sAutoFocusBeforeCapture = o.sAutoFocusBeforeCapture;
        CopyFixed(l.sZDevice, o.sZDevice);
        return ok;
    }
    case SKzExperiment::eExpXYDiscrLoop: {
        XYDiscrLoop& l = d.sXYDiscrLoop;
        const XYDiscrLoop& o = s.sXYDiscrLoop;
        l.uiCount = o.uiCount;
        l.bUseZ = o.bUseZ;
        return copyArray(l.uiRow, o.uiRow, o.uiCount) && copyArray(l.uiCol, o.uiCol, o.uiCount) &&
               copyArray(l.dPosZ, o.dPosZ, o.uiCount);
    }
    case SKzExperiment::eExpZStackLoop: d.sZStackLoop = s.sZStackLoop; return true;
    case SKzExperiment::eExpPolarLoop: d.sPolarLoop = s.sPolarLoop; return true;
    case SKzExperiment::eExpSpectLoop: return SpectCopy(d.sSpectLoop, s.sSpectLoop) == KZ_OK;
    case SKzExperiment::eExpCustomLoop:
        d.sCustomLoop.uiCount = s.sCustomLoop.uiCount;
        d.sCustomLoop.wsDescription = new (std::nothrow)
            CKzStringW(s.sCustomLoop.wsDescription ? *s.sCustomLoop.wsDescription : CKzStringW());
        return d.sCustomLoop.wsDescription != nullptr;
    case SKzExperiment::eExpNETimeLoop: {
        NETimeLoop& l = d.sNETimeLoop;
        const NETimeLoop& o = s.sNETimeLoop;
        l.sAutoFocusBeforePeriod = o.sAutoFocusBeforePeriod;
        l.sAutoFocusBeforeCapture = o.sAutoFocusBeforeCapture;
        l.uiCount = o.uiCount;
        l.uiPeriodCount = o.uiPeriodCount;
        // Per-period child lists are never shared: a one-level copy has
        // none, a deep copy makes its own (CopyRecursive).
        l.pSubLoops = nullptr;
        l.pPeriod = nullptr;
        l.szCommandBeforePeriod = l.szCommandAfterPeriod = nullptr;
        l.pPeriodValid = nullptr;
        const u32 n = o.uiPeriodCount;
        if (n == 0) return true;
        bool ok = copyArray(l.szCommandBeforePeriod, o.szCommandBeforePeriod, n) &&
                  copyArray(l.szCommandAfterPeriod, o.szCommandAfterPeriod, n);
        l.pPeriod = NewArray<TimeLoop>(n);
        l.pPeriodValid = NewArray<bool>(n);
        if (!ok || !l.pPeriod || !l.pPeriodValid) return false;
        for (u32 p = 0; p < n; ++p) {
            if (o.pPeriod) l.pPeriod[p] = o.pPeriod[p];
            else ClearPeriod(l.pPeriod[p]);
            l.pPeriodValid[p] = flagAt(o.pPeriodValid, p);
        }
        return true;
    }
    default: dst.eType = SKzExperiment::eExpNone; return true;
    }
}

// Number of items of a loop, the length of its item flags.
u32 itemCount(const SKzExperiment& lv) { return lv.uLoopPars.uiCount; }

// One-level copy; false when memory ran out (dst is then torn down).
bool copyOne(SKzExperiment& dst, const SKzExperiment& src)
{
    if (&dst == &src) return true;
    SKzExperiment::Uninit(dst);
    dst.sAutoFocusBeforeLoop = src.sAutoFocusBeforeLoop;
    bool ok = SKzParallelExperiment::Copy(dst.sParallelExperiment, src.sParallelExperiment) == KZ_OK;
    dst.bControlShutter = src.bControlShutter;
    dst.bControlLight = src.bControlLight;
    dst.bUseHZK = src.bUseHZK;
    dst.bUseHWSequencer = src.bUseHWSequencer;
    dst.bUseWqRecipe = src.bUseWqRecipe;
    dst.bUseIntenzityCorrection = src.bUseIntenzityCorrection;
    if (ok && src.pLargeImage) {
        dst.pLargeImage = NewArray<LIDesc>(2);
        if (dst.pLargeImage) {
            dst.pLargeImage[0] = src.pLargeImage[0];
            dst.pLargeImage[1] = src.pLargeImage[1];
        } else ok = false;
    }
    try {
        if (ok && src.pNIExperiment) {
            dst.pNIExperiment = new SKzExperimentNI();
            *dst.pNIExperiment = *src.pNIExperiment;
            ok = dst.pNIExperiment->VectorNISetupInputs.size() == src.pNIExperiment->VectorNISetupInputs.size() &&
                 dst.pNIExperiment->VectorNISetupOutputs.size() == src.pNIExperiment->VectorNISetupOutputs.size();
        }
        if (ok && src.pRecordedData) {
            dst.pRecordedData = new SKzRecordedData();
            *dst.pRecordedData = *src.pRecordedData;
        }
        dst.wsApplicationDesc = src.wsApplicationDesc;
        dst.wsUserDesc = src.wsUserDesc;
        dst.aMeasProbesBase64 = src.aMeasProbesBase64;
        dst.wsCameraName = src.wsCameraName;
        dst.wsCommandBeforeLoop = src.wsCommandBeforeLoop;
        dst.wsCommandBeforeCapture = src.wsCommandBeforeCapture;
        dst.wsCommandAfterCapture = src.wsCommandAfterCapture;
        dst.wsCommandAfterLoop = src.wsCommandAfterLoop;
    } catch (...) {
        ok = false;
    }
    dst.uiRepeatCount = src.uiRepeatCount;
    if (ok && src.ppNextLevelEx && src.uiNextLevelCount) {
        dst.ppNextLevelEx = NewChildArray(src.uiNextLevelCount);
        if (dst.ppNextLevelEx) {
            std::memcpy((void*)dst.ppNextLevelEx, (const void*)src.ppNextLevelEx,
                        (size_t)src.uiNextLevelCount * sizeof(SKzExperiment*));
            dst.uiNextLevelCount = src.uiNextLevelCount;
        } else ok = false;
    }
    dst.eType = src.eType;
    if (ok) ok = copyLoop(dst, src);
    // Item flags follow the copied item count (for a spectral loop the
    // plane count of the copied channel set).
    const u32 n = itemCount(dst);
    if (ok && src.pItemValid && n > 0 && dst.eType != SKzExperiment::eExpNone) {
        dst.pItemValid = NewArray<bool>(n);
        if (dst.pItemValid) {
            const u32 m = itemCount(src);
            for (u32 i = 0; i < n; ++i) dst.pItemValid[i] = i < m ? src.pItemValid[i] : true;
        } else ok = false;
    }
    if (!ok) {
        // Shared children are not the copy's to release.
        CKzAlloc::Free(dst.ppNextLevelEx);
        dst.ppNextLevelEx = nullptr;
        dst.uiNextLevelCount = 0;
        SKzExperiment::Uninit(dst);
    }
    return ok;
}

bool lidescEqual(const LIDesc& a, const LIDesc& b)
{
    return a.iMethod == b.iMethod && a.iXFields == b.iXFields && a.iYFields == b.iYFields && DblEq(a.dXmm, b.dXmm) &&
           DblEq(a.dYmm, b.dYmm) && a.bStitch == b.bStitch && a.bValid == b.bValid &&
           a.bControlShutter == b.bControlShutter && DblEq(a.dOverlap, b.dOverlap) && a.uiOrder == b.uiOrder &&
           a.uiStitchingChannel == b.uiStitchingChannel && FixedEqual(a.sPattern, b.sPattern) &&
           FixedEqual(a.sCamera, b.sCamera);
}

} // namespace

SKzExperiment& SKzExperiment::Copy(SKzExperiment& dst, const SKzExperiment& src)
{
    copyOne(dst, src);
    return dst;
}

int SKzExperiment::CopyRecursive(SKzExperiment* dst, const SKzExperiment& src, bool deep)
{
    if (!dst) return KZ_ERR_INVALID_ARG;
    if (dst == &src) return KZ_OK;
    if (!copyOne(*dst, src)) return KZ_ERR_OUT_OF_MEMORY;
    if (!deep) {
        CKzAlloc::Free(dst->ppNextLevelEx);
        dst->ppNextLevelEx = nullptr;
        dst->uiNextLevelCount = 0;
        return KZ_OK;
    }
    int r = KZ_OK;
    // The copy's slots still point at the source's children: clear them
    // first, so a failure leaves nothing shared behind.
    if (dst->ppNextLevelEx) {
        std::memset((void*)dst->ppNextLevelEx, 0, (size_t)dst->uiNextLevelCount * sizeof(SKzExperiment*));
        for (u32 i = 0; i < dst->uiNextLevelCount && r == KZ_OK; ++i)
            if (src.ppNextLevelEx[i]) r = Duplicate(&dst->ppNextLevelEx[i], *src.ppNextLevelEx[i], true);
    }
    if (r == KZ_OK && src.eType == eExpNETimeLoop && src.uLoopPars.sNETimeLoop.pSubLoops &&
        src.uLoopPars.sNETimeLoop.uiPeriodCount) {
        const NETimeLoop& o = src.uLoopPars.sNETimeLoop;
        NETimeLoop& l = dst->uLoopPars.sNETimeLoop;
        l.pSubLoops = NewArray<SubLoops>(o.uiPeriodCount);
        if (!l.pSubLoops) return KZ_ERR_OUT_OF_MEMORY;
        for (u32 p = 0; p < o.uiPeriodCount && r == KZ_OK; ++p) {
            const SubLoops& s = o.pSubLoops[p];
            if (!s.ppNextLevelEx || s.uiNextLevelCount == 0) continue;
            SubLoops& d = l.pSubLoops[p];
            d.ppNextLevelEx = NewChildArray(s.uiNextLevelCount);
            if (!d.ppNextLevelEx) return KZ_ERR_OUT_OF_MEMORY;
            d.uiNextLevelCount = s.uiNextLevelCount;
            for (u32 i = 0; i < s.uiNextLevelCount && r == KZ_OK; ++i)
                if (s.ppNextLevelEx[i]) r = Duplicate(&d.ppNextLevelEx[i], *s.ppNextLevelEx[i], true);
        }
    }
    return r;
}

int SKzExperiment::Duplicate(SKzExperiment** copy, const SKzExperiment& src, bool deep)
{
    if (!copy) return KZ_ERR_INVALID_ARG;
    *copy = nullptr;
    SKzExperiment* lv = nullptr;
    if (Alloc(&lv) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
    if (deep) {
        if (CopyRecursive(lv, src, true) != KZ_OK) {
            FreeRecursive(lv);
            return KZ_ERR_OUT_OF_MEMORY;
        }
    } else if (!copyOne(*lv, src)) {
        Free(lv);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    *copy = lv;
    return KZ_OK;
}

// ---- comparison --------------------------------------------------------------------------

bool SKzExperiment::SKzExpTimeLoop::IsEqual(const SKzExpTimeLoop& a, const bool* fa, const SKzExpTimeLoop& b,
                                            const bool* fb)
{
    if (a.uiCount != b.uiCount) return false;
    if ((fa == nullptr) != (fb == nullptr)) return false;
    if (fa)
        for (u32 i = 0; i < a.uiCount; ++i)
            if (fa[i] != fb[i]) return false;
    return DblEq(a.dStart, b.dStart) && DblEq(a.dPeriod, b.dPeriod) && DblEq(a.dDuration, b.dDuration) &&
           DblEq(a.dMinPeriodDiff, b.dMinPeriodDiff) && DblEq(a.dMaxPeriodDiff, b.dMaxPeriodDiff) &&
           DblEq(a.dAvgPeriodDiff, b.dAvgPeriodDiff) && FixedEqual(a.wsPhaseName, b.wsPhaseName) &&
           a.uiLoopType == b.uiLoopType && a.bDurationPref == b.bDurationPref;
}

bool SKzExperiment::SKzExpNETimeLoop::IsEqual(const SKzExpNETimeLoop& a, const bool* fa, const SKzExpNETimeLoop& b,
                                              const bool* fb)
{
    if (fa || fb) return false;
    if (a.uiPeriodCount != b.uiPeriodCount) return false;
    if (!SKzExpAutoFocus::IsEqual(a.sAutoFocusBeforePeriod, b.sAutoFocusBeforePeriod) ||
        !SKzExpAutoFocus::IsEqual(a.sAutoFocusBeforeCapture, b.sAutoFocusBeforeCapture))
        return false;
    for (u32 p = 0; p < a.uiPeriodCount; ++p) {
        if (flagAt(a.pPeriodValid, p) != flagAt(b.pPeriodValid, p)) return false;
        if (textAt(a.szCommandBeforePeriod, p) != textAt(b.szCommandBeforePeriod, p)) return false;
        if (textAt(a.szCommandAfterPeriod, p) != textAt(b.szCommandAfterPeriod, p)) return false;
        SKzExpTimeLoop pa, pb;
        if (a.pPeriod) pa = a.pPeriod[p];
        else ClearPeriod(pa);
        if (b.pPeriod) pb = b.pPeriod[p];
        else ClearPeriod(pb);
        if (!SKzExpTimeLoop::IsEqual(pa, nullptr, pb, nullptr)) return false;
    }
    return true;
}

bool SKzExperiment::SKzExpManualTimeLoop::IsEqual(const SKzExpManualTimeLoop&, const bool*,
                                                  const SKzExpManualTimeLoop&, const bool*)
{
    return true;
}

bool SKzExperiment::SKzExpXYPosLoop::IsEqual(const SKzExpXYPosLoop& a, const bool* fa, const SKzExpXYPosLoop& b,
                                             const bool* fb)
{
    if (a.uiCount != b.uiCount || a.bRelativeXY != b.bRelativeXY || !DblEq(a.dReferenceX, b.dReferenceX) ||
        !DblEq(a.dReferenceY, b.dReferenceY) || a.bRedefineAfterHZK != b.bRedefineAfterHZK ||
        a.bRedefineAfterAutoFocus != b.bRedefineAfterAutoFocus || a.bKeepHZKOn != b.bKeepHZKOn ||
        a.bSplitMultipoints != b.bSplitMultipoints ||
        !SKzExpAutoFocus::IsEqual(a.sAutoFocusBeforeCapture, b.sAutoFocusBeforeCapture) || a.bUseZ != b.bUseZ ||
        !FixedEqual(a.sZDevice, b.sZDevice))
        return false;
    for (u32 i = 0; i < a.uiCount; ++i)
        if (flagAt(fa, i) != flagAt(fb, i) || !DblEq(at(a.dPosX, i), at(b.dPosX, i)) ||
            !DblEq(at(a.dPosY, i), at(b.dPosY, i)) || !DblEq(at(a.dPosZ, i), at(b.dPosZ, i)) ||
            !DblEq(at(a.dHZKOffset, i), at(b.dHZKOffset, i)) || textAt(a.pPosName, i) != textAt(b.pPosName, i))
            return false;
    return true;
}

bool SKzExperiment::SKzExpXYDiscrLoop::IsEqual(const SKzExpXYDiscrLoop& a, const bool* fa,
                                               const SKzExpXYDiscrLoop& b, const bool* fb)
{
    if (a.uiCount != b.uiCount || a.bUseZ != b.bUseZ) return false;
    for (u32 i = 0; i < a.uiCount; ++i)
        if (flagAt(fa, i) != flagAt(fb, i) || at(a.uiRow, i) != at(b.uiRow, i) || at(a.uiCol, i) != at(b.uiCol, i) ||
            !DblEq(at(a.dPosZ, i), at(b.dPosZ, i)))
            return false;
    return true;
}

bool SKzExperiment::SKzExpZStackLoop::IsEqual(const SKzExpZStackLoop& a, const bool*, const SKzExpZStackLoop& b,
                                              const bool*)
{
    return a.uiCount == b.uiCount && DblEq(a.dZLow, b.dZLow) && DblEq(a.dZLowHZKOffset, b.dZLowHZKOffset) &&
           DblEq(a.dZHigh, b.dZHigh) && DblEq(a.dZHighHZKOffset, b.dZHighHZKOffset) && DblEq(a.dZHome, b.dZHome) &&
           DblEq(a.dZStep, b.dZStep) && a.bAbsolute == b.bAbsolute && a.bTriggeredPiezo == b.bTriggeredPiezo &&
           a.iType == b.iType && a.bZInverted == b.bZInverted && DblEq(a.dReferencePosition, b.dReferencePosition) &&
           DblEq(a.dTIRFPosition, b.dTIRFPosition) && DblEq(a.dTIRFHZKOffset, b.dTIRFHZKOffset) &&
           a.bTIRF == b.bTIRF && FixedEqual(a.sZDevice, b.sZDevice) &&
           FixedEqual(a.sCommandBeforeCapture, b.sCommandBeforeCapture) &&
           FixedEqual(a.sCommandAfterCapture, b.sCommandAfterCapture);
}

bool SKzExperiment::SKzExpPolarLoop::IsEqual(const SKzExpPolarLoop& a, const bool*, const SKzExpPolarLoop& b,
                                             const bool*)
{
    return a.uiCount == b.uiCount && DblEq(a.dAngleStart, b.dAngleStart) && DblEq(a.dAngleFinish, b.dAngleFinish) &&
           a.bSceneRotates == b.bSceneRotates;
}

bool SKzExperiment::SKzExpCustomLoop::IsEqual(const SKzExpCustomLoop& a, const bool*, const SKzExpCustomLoop& b,
                                              const bool*)
{
    static const CKzStringW empty;
    return a.uiCount == b.uiCount &&
           (a.wsDescription ? *a.wsDescription : empty) == (b.wsDescription ? *b.wsDescription : empty);
}

bool SKzExperiment::IsEqual(const SKzExperiment& a, const SKzExperiment& b, bool children, bool repeat)
{
    if (a.wsApplicationDesc != b.wsApplicationDesc || a.wsUserDesc != b.wsUserDesc ||
        a.aMeasProbesBase64 != b.aMeasProbesBase64 || a.wsCameraName != b.wsCameraName)
        return false;
    if (!SKzExpAutoFocus::IsEqual(a.sAutoFocusBeforeLoop, b.sAutoFocusBeforeLoop)) return false;
    if (!SKzParallelExperiment::IsEqual(a.sParallelExperiment, b.sParallelExperiment)) return false;
    if (a.wsCommandBeforeLoop != b.wsCommandBeforeLoop || a.wsCommandBeforeCapture != b.wsCommandBeforeCapture ||
        a.wsCommandAfterCapture != b.wsCommandAfterCapture || a.wsCommandAfterLoop != b.wsCommandAfterLoop)
        return false;
    if (a.bControlShutter != b.bControlShutter || a.bControlLight != b.bControlLight || a.bUseHZK != b.bUseHZK ||
        a.bUseHWSequencer != b.bUseHWSequencer || a.bUseWqRecipe != b.bUseWqRecipe ||
        a.bUseIntenzityCorrection != b.bUseIntenzityCorrection)
        return false;
    if ((a.pLargeImage == nullptr) != (b.pLargeImage == nullptr)) return false;
    if (a.pLargeImage &&
        (!lidescEqual(a.pLargeImage[0], b.pLargeImage[0]) || !lidescEqual(a.pLargeImage[1], b.pLargeImage[1])))
        return false;
    if (a.pNIExperiment != b.pNIExperiment) {
        if (!a.pNIExperiment || !b.pNIExperiment || !(*a.pNIExperiment == *b.pNIExperiment)) return false;
    }
    if (a.pRecordedData != b.pRecordedData) {
        if (!a.pRecordedData || !b.pRecordedData || !(*a.pRecordedData == *b.pRecordedData)) return false;
    }
    if (a.eType != b.eType || a.eType < eExpTimeLoop || a.eType > eExpManualTimeLoop) return false;
    const ULoopPars &ua = a.uLoopPars, &ub = b.uLoopPars;
    const bool *fa = a.pItemValid, *fb = b.pItemValid;
    bool loop = false;
    switch (a.eType) {
    case eExpTimeLoop: loop = SKzExpTimeLoop::IsEqual(ua.sTimeLoop, fa, ub.sTimeLoop, fb); break;
    case eExpXYPosLoop: loop = SKzExpXYPosLoop::IsEqual(ua.sXYPosLoop, fa, ub.sXYPosLoop, fb); break;
    case eExpXYDiscrLoop: loop = SKzExpXYDiscrLoop::IsEqual(ua.sXYDiscrLoop, fa, ub.sXYDiscrLoop, fb); break;
    case eExpZStackLoop: loop = SKzExpZStackLoop::IsEqual(ua.sZStackLoop, fa, ub.sZStackLoop, fb); break;
    case eExpPolarLoop: loop = SKzExpPolarLoop::IsEqual(ua.sPolarLoop, fa, ub.sPolarLoop, fb); break;
    case eExpSpectLoop: loop = SKzExpSpectLoop::IsEqual(ua.sSpectLoop, fa, ub.sSpectLoop, fb); break;
    case eExpCustomLoop: loop = SKzExpCustomLoop::IsEqual(ua.sCustomLoop, fa, ub.sCustomLoop, fb); break;
    case eExpNETimeLoop: loop = SKzExpNETimeLoop::IsEqual(ua.sNETimeLoop, fa, ub.sNETimeLoop, fb); break;
    case eExpManualTimeLoop:
        loop = SKzExpManualTimeLoop::IsEqual(ua.sManualTimeLoop, fa, ub.sManualTimeLoop, fb);
        break;
    default: break;
    }
    if (!loop) return false;
    if (!children) return true;
    if (repeat && a.uiRepeatCount != b.uiRepeatCount) return false;
    if (a.uiNextLevelCount != b.uiNextLevelCount) return false;
    if ((a.ppNextLevelEx == nullptr) != (b.ppNextLevelEx == nullptr)) return false;
    if (a.ppNextLevelEx)
        for (u32 i = 0; i < a.uiNextLevelCount; ++i) {
            const SKzExperiment *ca = a.ppNextLevelEx[i], *cb = b.ppNextLevelEx[i];
            if (!ca || !cb || !IsEqual(*ca, *cb, true, true)) return false;
        }
    return true;
}
