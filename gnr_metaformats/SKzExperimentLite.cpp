// Experiment levels in the lite-variant form. The reader asks for the keys of
// a level in the order the writer stores them, so each lookup finds its record
// at the cursor.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/KzExperimentInternal.h"
#include "gnr_system/CKzAlloc.h"

#include <vector>

using namespace kzexp;

namespace {

// Lite levels a nested experiment level needs below the current one (its
// element level and the list level holding it, or the per-period nesting).
const int kChildDepth = 2;
const int kPeriodChildDepth = 5;

int loadLevel(SKzExperiment& lv, CKzLiteVariantR& r, LoadBudget& budget);

bool roomFor(CKzLiteVariantR& r, int levels) { return r.GetLevelDepth() + levels <= CKzLiteVariantR::MAX_DEPTH; }

void writeFlags(CKzLiteVariantW& w, const bool* f, u32 n, const wchar_t* name)
{
    std::vector<unsigned char> bytes(n);
    for (u32 i = 0; i < n; ++i) bytes[i] = f[i] ? 1 : 0;
    const unsigned long size = n;
    w.Set(bytes.data(), size, name);
}

// Stored flag bytes for n items: exactly n flags, or none when fewer bytes are
// stored (every item valid).
bool* flagsFrom(const CKzByteArray& bytes, u32 n)
{
    if (n == 0 || bytes.GetSize() < n) return nullptr;
    bool* f = NewArray<bool>(n);
    if (f)
        for (u32 i = 0; i < n; ++i) f[i] = bytes.GetData()[i] != 0;
    return f;
}

void writeAutoFocusLevel(CKzLiteVariantW& w, const wchar_t* name, const AutoFocus& af)
{
    if (w.LevelBegin(name) != KZ_OK) return;
    AutoFocus::SaveToLiteVariant(w, af);
    w.LevelEnd();
}

void readAutoFocusLevel(CKzLiteVariantR& r, const wchar_t* name, AutoFocus& af)
{
    if (r.LevelBegin(name) != KZ_OK) {
        AutoFocus::SetToNull(af);
        return;
    }
    AutoFocus::LoadFromLiteVariant(af, r);
    r.LevelEnd();
}

void writeLIDesc(CKzLiteVariantW& w, const wchar_t* name, const LIDesc& d)
{
    if (w.LevelBegin(name) != KZ_OK) return;
    wchar_t text[256];
    w.Set((int)d.iMethod, L"iMethod");
    w.Set((int)d.iXFields, L"iXFields");
    w.Set((int)d.iYFields, L"iYFields");
    w.Set(d.dXmm, L"dXmm");
    w.Set(d.dYmm, L"dYmm");
    w.Set(d.bStitch, L"bStitch");
    w.Set(d.bValid, L"bValid");
    w.Set(d.bControlShutter, L"bControlShutter");
    w.Set(d.dOverlap, L"dOverlap");
    w.Set((unsigned)d.uiOrder, L"uiOrder");
    w.Set((unsigned)d.uiStitchingChannel, L"uiStitchingChannel");
    SetFixed(text, 256, d.sPattern);
    w.Set(text, L"sPattern");
    SetFixed(text, 256, d.sCamera);
    w.Set(text, L"sCamera");
    w.LevelEnd();
}

void readLIDesc(CKzLiteVariantR& r, LIDesc& d)
{
    d.iMethod = r.Get(L"iMethod", 0);
    d.iXFields = r.Get(L"iXFields", 2);
    d.iYFields = r.Get(L"iYFields", 2);
    d.dXmm = r.Get(L"dXmm", 0.0);
    d.dYmm = r.Get(L"dYmm", 0.0);
    d.bStitch = r.Get(L"bStitch", true);
    d.bValid = r.Get(L"bValid", true);
    d.bControlShutter = r.Get(L"bControlShutter", true);
    d.dOverlap = r.Get(L"dOverlap", 15.0);
    d.uiOrder = r.Get(L"uiOrder", 0xFFFFFFFFu);
    d.uiStitchingChannel = r.Get(L"uiStitchingChannel", 0u);
    ReadFixed(r, L"sPattern", d.sPattern);
    ReadFixed(r, L"sCamera", d.sCamera);
}

// ---- loops ------------------------------------------------------------------------------

void writePeriod(CKzLiteVariantW& w, const TimeLoop& p)
{
    wchar_t name[256];
    w.Set((unsigned)p.uiCount, L"uiCount");
    w.Set(p.dStart, L"dStart");
    w.Set(p.dPeriod, L"dPeriod");
    w.Set(p.dDuration, L"dDuration");
    w.Set((unsigned)p.uiGroup, L"uiGroup");
    w.Set((unsigned)p.uiStimulationCount, L"uiStimulationCount");
    w.Set(p.bDurationPref, L"bDurationPref");
    w.Set((unsigned)p.uiLoopType, L"uiLoopType");
    w.Set(p.dMaxPeriodDiff, L"dMaxPeriodDiff");
    w.Set(p.dMinPeriodDiff, L"dMinPeriodDiff");
    w.Set(p.dAvgPeriodDiff, L"dAvgPeriodDiff");
    SetFixed(name, 256, p.wsPhaseName);
    w.Set(name, L"wsPhaseName");
    writeAutoFocusLevel(w, L"sAutoFocusBeforeCapture", p.sAutoFocusBeforeCapture);
    writeAutoFocusLevel(w, L"sAutoFocusBeforePeriod", p.sAutoFocusBeforePeriod);
}

void readPeriod(CKzLiteVariantR& r, TimeLoop& p)
{
    p.uiCount = r.Get(L"uiCount", 0u);
    p.dStart = r.Get(L"dStart", 0.0);
    p.dPeriod = r.Get(L"dPeriod", 0.0);
    p.dDuration = r.Get(L"dDuration", 0.0);
    p.uiGroup = r.Get(L"uiGroup", 0u);
    p.uiStimulationCount = r.Get(L"uiStimulationCount", 0u);
    p.bDurationPref = r.Get(L"bDurationPref", false);
    p.uiLoopType = r.Get(L"uiLoopType", 0u);
    p.dMaxPeriodDiff = r.Get(L"dMaxPeriodDiff", 0.0);
    p.dMinPeriodDiff = r.Get(L"dMinPeriodDiff", 0.0);
    p.dAvgPeriodDiff = r.Get(L"dAvgPeriodDiff", 0.0);
    ReadFixed(r, L"wsPhaseName", p.wsPhaseName);
    readAutoFocusLevel(r, L"sAutoFocusBeforeCapture", p.sAutoFocusBeforeCapture);
    readAutoFocusLevel(r, L"sAutoFocusBeforePeriod", p.sAutoFocusBeforePeriod);
}

u32 liveChildren(SKzExperiment* const* a, u32 n)
{
    u32 k = 0;
    if (a)
        for (u32 i = 0; i < n; ++i) k += a[i] != nullptr;
    return k;
}

void writeLoop(CKzLiteVariantW& w, const SKzExperiment& lv)
{
    const SKzExperiment::ULoopPars& u = lv.uLoopPars;
    switch (lv.eType) {
    case SKzExperiment::eExpTimeLoop: {
        const TimeLoop& t = u.sTimeLoop;
        w.Set((unsigned)t.uiCount, L"uiCount");
        w.Set(t.dStart, L"dStart");
        w.Set(t.dPeriod, L"dPeriod");
        w.Set(t.dDuration, L"dDuration");
        w.Set(t.bDurationPref, L"bDurationPref");
        w.Set(t.dMaxPeriodDiff, L"dMaxPeriodDiff");
        w.Set(t.dMinPeriodDiff, L"dMinPeriodDiff");
        w.Set(t.dAvgPeriodDiff, L"dAvgPeriodDiff");
        writeAutoFocusLevel(w, L"sAutoFocusBeforeCapture", t.sAutoFocusBeforeCapture);
        break;
    }
    case SKzExperiment::eExpXYPosLoop: {
        const XYPosLoop& l = u.sXYPosLoop;
        wchar_t dev[128];
        w.Set((unsigned)l.uiCount, L"uiCount");
        w.Set(l.bRelativeXY, L"bRelativeXY");
        w.Set(l.dReferenceX, L"dReferenceX");
        w.Set(l.dReferenceY, L"dReferenceY");
        w.Set(l.bRedefineAfterHZK, L"bRedefineAfterHZK");
        w.Set(l.bRedefineAfterAutoFocus, L"bRedefineAfterAutoFocus");
        w.Set(l.bKeepHZKOn, L"bKeepHZKOn");
        w.Set(l.bSplitMultipoints, L"bSplitMultipoints");
        w.Set(l.bUseZ, L"bUseZ");
        SetFixed(dev, 128, l.sZDevice);
        w.Set(dev, L"sZDevice");
        writeAutoFocusLevel(w, L"sAFBefore", l.sAutoFocusBeforeCapture);
        if (w.LevelBegin(L"Points") == KZ_OK) {
            for (u32 i = 0; i < l.uiCount; ++i) {
                if (w.LevelBegin(nullptr) != KZ_OK) continue;
                w.Set(l.dHZKOffset ? l.dHZKOffset[i] : 0.0, L"dHZKOffset");
                w.Set(l.dPosX ? l.dPosX[i] : 0.0, L"dPosX");
                w.Set(l.dPosY ? l.dPosY[i] : 0.0, L"dPosY");
                w.Set(l.dPosZ ? l.dPosZ[i] : 0.0, L"dPosZ");
                w.Set(l.pPosName ? l.pPosName[i].GetString() : L"", L"dPosName");
                w.LevelEnd();
            }
            w.LevelEnd();
        }
        break;
    }
    case SKzExperiment::eExpZStackLoop: {
        const ZStackLoop& z = u.sZStackLoop;
        wchar_t text[500];
        w.Set((unsigned)z.uiCount, L"uiCount");
        w.Set(z.bAbsolute, L"bAbsolute");
        w.Set(z.bTriggeredPiezo, L"bTriggeredPiezo");
        w.Set(z.bZInverted, L"bZInverted");
        w.Set(z.dReferencePosition, L"dReferencePosition");
        w.Set(z.dTIRFPosition, L"dTIRFPosition");
        w.Set(z.dTIRFHZKOffset, L"dTIRFHZKOffset");
        w.Set(z.bTIRF, L"bTIRF");
        w.Set(z.dZHigh, L"dZHigh");
        w.Set(z.dZHome, L"dZHome");
        w.Set(z.dZLow, L"dZLow");
        w.Set(z.dZLow, L"dZLow");
        w.Set(z.dZStep, L"dZStep");
        w.Set((int)z.iType, L"iType");
        SetFixed(text, 500, z.sCommandAfterCapture);
        w.Set(text, L"wsCommandAfterCapture");
        SetFixed(text, 500, z.sCommandBeforeCapture);
        w.Set(text, L"wsCommandBeforeCapture");
        SetFixed(text, 128, z.sZDevice);
        w.Set(text, L"wsZDevice");
        break;
    }
    case SKzExperiment::eExpSpectLoop: SpectWrite(w, u.sSpectLoop); break;
    case SKzExperiment::eExpNETimeLoop: {
        const NETimeLoop& l = u.sNETimeLoop;
        const u32 n = l.uiPeriodCount;
        w.Set((unsigned)l.uiCount, L"uiCount");
        w.Set((unsigned)n, L"uiPeriodCount");
        if (n > 0) {
            if (w.LevelBegin(L"pPeriod") == KZ_OK) {
                TimeLoop cleared;
                ClearPeriod(cleared);
                cleared.bDurationPref = false;
                for (u32 p = 0; p < n; ++p) {
                    if (w.LevelBegin(nullptr) != KZ_OK) continue;
                    writePeriod(w, l.pPeriod ? l.pPeriod[p] : cleared);
                    w.LevelEnd();
                }
                w.LevelEnd();
            }
            if (l.szCommandAfterPeriod && w.LevelBegin(L"wsCommandAfterPeriod") == KZ_OK) {
                for (u32 p = 0; p < n; ++p) w.Set(l.szCommandAfterPeriod[p].GetString(), nullptr);
                w.LevelEnd();
            }
            if (l.szCommandBeforePeriod && w.LevelBegin(L"wsCommandBeforePeriod") == KZ_OK) {
                for (u32 p = 0; p < n; ++p) w.Set(l.szCommandBeforePeriod[p].GetString(), nullptr);
                w.LevelEnd();
            }
            if (l.pPeriodValid) writeFlags(w, l.pPeriodValid, n, L"pPeriodValid");
            if (l.pSubLoops && w.LevelBegin(L"pSubLoops") == KZ_OK) {
                for (u32 p = 0; p < n; ++p) {
                    if (w.LevelBegin(nullptr) != KZ_OK) continue;
                    const SubLoops& s = l.pSubLoops[p];
                    const u32 k = liveChildren(s.ppNextLevelEx, s.uiNextLevelCount);
                    w.Set((unsigned)k, L"uiNextLevelCount");
                    if (k > 0 && w.LevelBegin(L"ppNextLevelEx") == KZ_OK) {
                        for (u32 i = 0; i < s.uiNextLevelCount; ++i) {
                            if (!s.ppNextLevelEx[i] || w.LevelBegin(nullptr) != KZ_OK) continue;
                            SKzExperiment::SaveToLiteVariant(w, *s.ppNextLevelEx[i]);
                            w.LevelEnd();
                        }
                        w.LevelEnd();
                    }
                    w.LevelEnd();
                }
                w.LevelEnd();
            }
        }
        writeAutoFocusLevel(w, L"sAutoFocusBeforeCapture", l.sAutoFocusBeforeCapture);
        writeAutoFocusLevel(w, L"sAutoFocusBeforePeriod", l.sAutoFocusBeforePeriod);
        break;
    }
    default: w.Set((unsigned)u.uiCount, L"uiCount"); break;
    }
}

// Reads up to max children from the entered list level into a new array
// holding only the children read; null and 0 when none.
template <class F>
SKzExperiment** readChildren(CKzLiteVariantR& r, u32 max, u32& count, F readOne)
{
    count = 0;
    const u32 n = CountRecords(r, max, false);
    if (n == 0) return nullptr;
    SKzExperiment** a = NewChildArray(n);
    if (!a) return nullptr;
    for (u32 i = 0; i < n; ++i) {
        if (r.CurrentLevelBegin() == KZ_OK) {
            SKzExperiment* c = nullptr;
            if (SKzExperiment::Alloc(&c) == KZ_OK) {
                if (readOne(*c)) a[count++] = c;
                else SKzExperiment::FreeRecursive(c);
            }
            r.LevelEnd();
        }
        if (r.NextValue() != KZ_OK) break;
    }
    if (count == 0) {
        CKzAlloc::Free(a);
        return nullptr;
    }
    return a;
}

void readNETime(CKzLiteVariantR& r, NETimeLoop& l, LoadBudget& budget)
{
    l.uiCount = (u32)r.Get(L"uiCount", 0);
    const u32 stored = r.Get(L"uiPeriodCount", 0u);
    l.uiPeriodCount = 0;
    l.pPeriod = nullptr;
    l.pSubLoops = nullptr;
    l.szCommandBeforePeriod = l.szCommandAfterPeriod = nullptr;
    l.pPeriodValid = nullptr;
    if (stored > 0 && budget.Take(stored, kPeriodItemBytes)) {
        // Every stored period, cleared where no element describes it.
        l.pPeriod = NewArray<TimeLoop>(stored);
        l.szCommandBeforePeriod = NewArray<CKzStringW>(stored);
        l.szCommandAfterPeriod = NewArray<CKzStringW>(stored);
        if (l.pPeriod && l.szCommandBeforePeriod && l.szCommandAfterPeriod) {
            l.uiPeriodCount = stored;
            for (u32 p = 0; p < stored; ++p) ClearPeriod(l.pPeriod[p]);
            if (r.LevelBegin(L"pPeriod") == KZ_OK) {
                for (u32 p = 0; p < stored && r.IsNextValue(); ++p) {
                    if (r.CurrentLevelBegin() == KZ_OK) {
                        readPeriod(r, l.pPeriod[p]);
                        r.LevelEnd();
                    }
                    if (r.NextValue() != KZ_OK) break;
                }
                r.LevelEnd();
            }
        } else {
            delete[] l.pPeriod;
            delete[] l.szCommandBeforePeriod;
            delete[] l.szCommandAfterPeriod;
            l.pPeriod = nullptr;
            l.szCommandBeforePeriod = l.szCommandAfterPeriod = nullptr;
        }
    }
    // Without periods no time point is counted.
    if (l.uiPeriodCount == 0 && stored > 0) l.uiCount = 0;
    const u32 n = l.uiPeriodCount;
    if (n > 0) {
        for (int which = 0; which < 2; ++which) {
            CKzStringW* cmds = which ? l.szCommandBeforePeriod : l.szCommandAfterPeriod;
            if (r.LevelBegin(which ? L"wsCommandBeforePeriod" : L"wsCommandAfterPeriod") != KZ_OK) continue;
            for (u32 p = 0; p < n && r.IsNextValue(); ++p) {
                r.GetCurrentValueCKzStringW(cmds[p], L"");
                if (r.NextValue() != KZ_OK) break;
            }
            r.LevelEnd();
        }
        CKzByteArray bytes(0);
        if (r.Get(L"pPeriodValid", bytes) == KZ_OK) l.pPeriodValid = flagsFrom(bytes, n);
        if (r.LevelBegin(L"pSubLoops") == KZ_OK) {
            l.pSubLoops = NewArray<SubLoops>(n);
            if (l.pSubLoops && roomFor(r, kPeriodChildDepth)) {
                for (u32 p = 0; p < n && r.IsNextValue(); ++p) {
                    if (r.CurrentLevelBegin() == KZ_OK) {
                        const u32 k = r.Get(L"uiNextLevelCount", 0u);
                        if (k > 0 && r.LevelBegin(L"ppNextLevelEx") == KZ_OK) {
                            SubLoops& s = l.pSubLoops[p];
                            s.ppNextLevelEx = readChildren(r, k, s.uiNextLevelCount, [&](SKzExperiment& c) {
                                // A period child without its own level is dropped.
                                return loadLevel(c, r, budget) == KZ_OK;
                            });
                            r.LevelEnd();
                        }
                        r.LevelEnd();
                    }
                    if (r.NextValue() != KZ_OK) break;
                }
            }
            r.LevelEnd();
        }
    }
    readAutoFocusLevel(r, L"sAutoFocusBeforeCapture", l.sAutoFocusBeforeCapture);
    readAutoFocusLevel(r, L"sAutoFocusBeforePeriod", l.sAutoFocusBeforePeriod);
}

void readXYPos(CKzLiteVariantR& r, XYPosLoop& l, LoadBudget& budget)
{
    const u32 stored = (u32)r.Get(L"uiCount", 0);
    l.bRelativeXY = r.Get(L"bRelativeXY", false);
    l.dReferenceX = r.Get(L"dReferenceX", 0.0);
    l.dReferenceY = r.Get(L"dReferenceY", 0.0);
    l.bRedefineAfterHZK = r.Get(L"bRedefineAfterHZK", false);
    l.bRedefineAfterAutoFocus = r.Get(L"bRedefineAfterAutoFocus", false);
    l.bKeepHZKOn = r.Get(L"bKeepHZKOn", false);
    l.bSplitMultipoints = r.Get(L"bSplitMultipoints", false);
    l.bUseZ = r.Get(L"bUseZ", false);
    ReadFixed(r, L"sZDevice", l.sZDevice);
    if (r.LevelBegin(L"sAFBefore") == KZ_OK) {
        AutoFocus::LoadFromLiteVariant(l.sAutoFocusBeforeCapture, r);
        r.LevelEnd();
    }
    l.uiCount = 0;
    l.dPosX = l.dPosY = l.dPosZ = l.dHZKOffset = nullptr;
    l.pPosName = nullptr;
    if (stored == 0 || !budget.Take(stored, kXYPosItemBytes)) return;
    // Every stored position, zeros where no element describes it.
    if (!NewItemArrays(l, stored)) return;
    l.uiCount = stored;
    if (r.LevelBegin(L"Points") != KZ_OK) return;
    for (u32 i = 0; i < stored && r.IsNextValue(); ++i) {
        if (r.CurrentLevelBegin() == KZ_OK) {
            l.dHZKOffset[i] = r.Get(L"dHZKOffset", 0.0);
            l.dPosX[i] = r.Get(L"dPosX", 0.0);
            l.dPosY[i] = r.Get(L"dPosY", 0.0);
            l.dPosZ[i] = r.Get(L"dPosZ", 0.0);
            r.GetCKzStringW(l.pPosName[i], L"dPosName", L"");
            r.LevelEnd();
        }
        if (r.NextValue() != KZ_OK) break;
    }
    r.LevelEnd();
}

// The grid stores its count only: its items get zero rows, columns and Z.
void readXYDiscr(CKzLiteVariantR& r, XYDiscrLoop& l, LoadBudget& budget)
{
    const u32 stored = r.Get(L"uiCount", 0u);
    l.uiCount = 0;
    l.bUseZ = false;
    l.uiRow = l.uiCol = nullptr;
    l.dPosZ = nullptr;
    if (stored == 0 || !budget.Take(stored, kXYDiscrItemBytes)) return;
    if (NewItemArrays(l, stored)) l.uiCount = stored;
}

void readZStack(CKzLiteVariantR& r, ZStackLoop& z)
{
    z.uiCount = (u32)r.Get(L"uiCount", 0);
    z.bAbsolute = r.Get(L"bAbsolute", true);
    z.bTriggeredPiezo = r.Get(L"bTriggeredPiezo", false);
    z.bZInverted = r.Get(L"bZInverted", false);
    z.dReferencePosition = r.Get(L"dReferencePosition", 0.0);
    z.dTIRFPosition = r.Get(L"dTIRFPosition", 0.0);
    z.dTIRFHZKOffset = r.Get(L"dTIRFHZKOffset", -1.0);
    z.bTIRF = r.Get(L"bTIRF", false);
    z.dZHigh = r.Get(L"dZHigh", 0.0);
    z.dZHome = r.Get(L"dZHome", 0.0);
    z.dZLow = r.Get(L"dZLow", 0.0);
    // The form stores the low end twice; the second record is read as well.
    z.dZLow = r.Get(L"dZLow", z.dZLow);
    z.dZStep = r.Get(L"dZStep", 0.0);
    z.iType = r.Get(L"iType", 0);
    ReadFixed(r, L"wsCommandAfterCapture", z.sCommandAfterCapture);
    ReadFixed(r, L"wsCommandBeforeCapture", z.sCommandBeforeCapture);
    ReadFixed(r, L"wsZDevice", z.sZDevice);
}

void readLoop(CKzLiteVariantR& r, SKzExperiment& lv, LoadBudget& budget)
{
    SKzExperiment::ULoopPars& u = lv.uLoopPars;
    switch (lv.eType) {
    case SKzExperiment::eExpTimeLoop: {
        TimeLoop& t = u.sTimeLoop;
        ClearPeriod(t);
        t.uiCount = (u32)r.Get(L"uiCount", 0);
        t.dStart = r.Get(L"dStart", 0.0);
        t.dPeriod = r.Get(L"dPeriod", 0.0);
        t.dDuration = r.Get(L"dDuration", 0.0);
        t.bDurationPref = r.Get(L"bDurationPref", false);
        t.dMaxPeriodDiff = r.Get(L"dMaxPeriodDiff", 0.0);
        t.dMinPeriodDiff = r.Get(L"dMinPeriodDiff", 0.0);
        t.dAvgPeriodDiff = r.Get(L"dAvgPeriodDiff", 0.0);
        ReadFixed(r, L"wsPhaseName", t.wsPhaseName);
        readAutoFocusLevel(r, L"sAutoFocusBeforeCapture", t.sAutoFocusBeforeCapture);
        break;
    }
    case SKzExperiment::eExpXYPosLoop: readXYPos(r, u.sXYPosLoop, budget); break;
    case SKzExperiment::eExpXYDiscrLoop: readXYDiscr(r, u.sXYDiscrLoop, budget); break;
    case SKzExperiment::eExpZStackLoop: readZStack(r, u.sZStackLoop); break;
    case SKzExperiment::eExpSpectLoop: SpectRead(r, u.sSpectLoop, budget); break;
    case SKzExperiment::eExpCustomLoop:
        u.sCustomLoop.uiCount = r.Get(L"uiCount", 0u);
        u.sCustomLoop.wsDescription = new (std::nothrow) CKzStringW();
        break;
    case SKzExperiment::eExpNETimeLoop: readNETime(r, u.sNETimeLoop, budget); break;
    default: u.uiCount = r.Get(L"uiCount", 0u); break;
    }
}

} // namespace

// ---- autofocus ---------------------------------------------------------------------------

int SKzExperiment::SKzExpAutoFocus::SaveToLiteVariant(CKzLiteVariantW& w, const SKzExpAutoFocus& af)
{
    w.Set((unsigned)af.eType, L"eType");
    w.Set(af.dStep, L"dStep");
    w.Set(af.dRange, L"dRange");
    w.Set(af.dPrecision, L"dPrecision");
    w.Set(af.dSpeed, L"dSpeed");
    if (w.LevelBegin(L"aFocusPlane") == KZ_OK) {
        const u32 n = af.aFocusPlane.uiValues < 6 ? af.aFocusPlane.uiValues : 6;
        w.Set((int)af.aFocusPlane.iDegree, L"iDegree");
        w.Set((unsigned)n, L"uiValues");
        if (w.LevelBegin(L"pCoeff") == KZ_OK) {
            for (u32 i = 0; i < n; ++i) w.Set(af.aFocusPlane.pCoeff[i], nullptr);
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.Set((unsigned)af.uiFlags, L"uiFlags");
    w.Set((int)af.iFocusCriterion, L"iFocusCriterion");
    wchar_t drive[64];
    SetFixed(drive, 64, af.sZDrive);
    w.Set(drive, L"sZDrive");
    return KZ_OK;
}

int SKzExperiment::SKzExpAutoFocus::LoadFromLiteVariant(SKzExpAutoFocus& af, CKzLiteVariantR& r)
{
    af.eType = r.Get(L"eType", 0u);
    af.dStep = r.Get(L"dStep", 0.0);
    af.dRange = r.Get(L"dRange", 0.0);
    af.dPrecision = r.Get(L"dPrecision", 0.0);
    af.dSpeed = r.Get(L"dSpeed", 0.0);
    af.aFocusPlane.iDegree = 0;
    af.aFocusPlane.uiValues = 0;
    for (double& c : af.aFocusPlane.pCoeff) c = 0;
    if (r.LevelBegin(L"aFocusPlane") == KZ_OK) {
        af.aFocusPlane.iDegree = r.Get(L"iDegree", 0);
        u32 n = r.Get(L"uiValues", 0u);
        if (n > 6) n = 6;
        af.aFocusPlane.uiValues = n;
        if (r.LevelBegin(L"pCoeff") == KZ_OK) {
            for (u32 i = 0; i < n && r.IsNextValue(); ++i) {
                af.aFocusPlane.pCoeff[i] = r.GetCurrentValue(0.0);
                if (r.NextValue() != KZ_OK) break;
            }
            r.LevelEnd();
        }
        r.LevelEnd();
    }
    af.uiFlags = r.Get(L"uiFlags", 0u);
    af.iFocusCriterion = r.Get(L"iFocusCriterion", 0);
    ReadFixed(r, L"sZDrive", af.sZDrive);
    return KZ_OK;
}

// ---- level ------------------------------------------------------------------------------

int SKzExperiment::WriteToLiteVariant(CKzLiteVariantW& w, const SKzExperiment& lv)
{
    try {
        w.Set((unsigned)lv.eType, L"eType");
        w.Set(lv.wsApplicationDesc.GetString(), L"wsApplicationDesc");
        w.Set(lv.wsUserDesc.GetString(), L"wsUserDesc");
        w.Set(lv.aMeasProbesBase64.GetString(), L"aMeasProbesBase64");
        w.Set(lv.wsCameraName.GetString(), L"wsCameraName");
        if (lv.pItemValid) writeFlags(w, lv.pItemValid, lv.uLoopPars.uiCount, L"pItemValid");
        if (w.LevelBegin(L"uLoopPars") == KZ_OK) {
            writeLoop(w, lv);
            w.LevelEnd();
        }
        writeAutoFocusLevel(w, L"sAutoFocusBeforeLoop", lv.sAutoFocusBeforeLoop);
        if (w.LevelBegin(L"sParallelExperiment") == KZ_OK) {
            SKzParallelExperiment::SaveToLiteVariant(w, lv.sParallelExperiment);
            w.LevelEnd();
        }
        w.Set(lv.wsCommandBeforeLoop.GetString(), L"wsCommandBeforeLoop");
        w.Set(lv.wsCommandBeforeCapture.GetString(), L"wsCommandBeforeCapture");
        w.Set(lv.wsCommandAfterCapture.GetString(), L"wsCommandAfterCapture");
        w.Set(lv.wsCommandAfterLoop.GetString(), L"wsCommandAfterLoop");
        w.Set(lv.bControlShutter, L"bControlShutter");
        w.Set(lv.bControlLight, L"bControlLight");
        w.Set(lv.bUseHZK, L"bUseHZK");
        w.Set(lv.bUseHWSequencer, L"bUseHWSequencer");
        w.Set(lv.bUseWqRecipe, L"bUseWqRecipe");
        w.Set(lv.bUseIntenzityCorrection, L"bUseIntenzityCorrection");
        if (lv.pLargeImage) {
            writeLIDesc(w, L"pLargeImage", lv.pLargeImage[0]);
            writeLIDesc(w, L"pLargeImageEx", lv.pLargeImage[1]);
        }
        if (lv.pNIExperiment && w.LevelBegin(L"pNIExperiment") == KZ_OK) {
            SKzExperimentNI::SaveToLiteVariant(w, *lv.pNIExperiment);
            w.LevelEnd();
        }
        if (lv.pRecordedData && w.LevelBegin(L"pRecordedData") == KZ_OK) {
            SKzRecordedData::SaveToLiteVariant(w, *lv.pRecordedData);
            w.LevelEnd();
        }
        w.Set((unsigned)lv.uiRepeatCount, L"uiRepeatCount");
        // Null child slots are skipped; the count says how many are stored.
        const u32 k = liveChildren(lv.ppNextLevelEx, lv.uiNextLevelCount);
        w.Set((unsigned)k, L"uiNextLevelCount");
        if (k > 0 && w.LevelBegin(L"ppNextLevelEx") == KZ_OK) {
            for (u32 i = 0; i < lv.uiNextLevelCount; ++i) {
                if (!lv.ppNextLevelEx[i] || w.LevelBegin(nullptr) != KZ_OK) continue;
                WriteToLiteVariant(w, *lv.ppNextLevelEx[i]);
                w.LevelEnd();
            }
            w.LevelEnd();
        }
    } catch (...) {
    }
    return KZ_OK;
}

int SKzExperiment::SaveToLiteVariant(CKzLiteVariantW& w, const SKzExperiment& lv)
{
    if (w.LevelBegin(L"SKzExperiment") != KZ_OK) return KZ_ERR_FAILED;
    const int r = WriteToLiteVariant(w, lv);
    w.LevelEnd();
    return r;
}

namespace {

int readLevel(SKzExperiment& lv, CKzLiteVariantR& r, LoadBudget& budget)
{
    try {
        lv.eType = (SKzExperiment::EKzExperimentType)r.Get(L"eType", 0u);
        r.GetCKzStringW(lv.wsApplicationDesc, L"wsApplicationDesc", L"");
        r.GetCKzStringW(lv.wsUserDesc, L"wsUserDesc", L"");
        r.GetCKzStringW(lv.aMeasProbesBase64, L"aMeasProbesBase64", L"");
        r.GetCKzStringW(lv.wsCameraName, L"wsCameraName", L"");
        CKzByteArray flags(0);
        const bool haveFlags = r.Get(L"pItemValid", flags) == KZ_OK && flags.GetSize() > 0;
        lv.uiRepeatCount = 1;
        if (r.LevelBegin(L"uLoopPars") == KZ_OK) {
            readLoop(r, lv, budget);
            r.LevelEnd();
        } else if (lv.eType == SKzExperiment::eExpCustomLoop) {
            lv.uLoopPars.sCustomLoop.wsDescription = new (std::nothrow) CKzStringW();
        }
        // Item flags are exactly the item count, or none.
        if (haveFlags) lv.pItemValid = flagsFrom(flags, lv.uLoopPars.uiCount);
        readAutoFocusLevel(r, L"sAutoFocusBeforeLoop", lv.sAutoFocusBeforeLoop);
        if (r.LevelBegin(L"sParallelExperiment") == KZ_OK) {
            SKzParallelExperiment::LoadFromLiteVariant(lv.sParallelExperiment, r);
            r.LevelEnd();
        }
        r.GetCKzStringW(lv.wsCommandBeforeLoop, L"wsCommandBeforeLoop", L"");
        r.GetCKzStringW(lv.wsCommandBeforeCapture, L"wsCommandBeforeCapture", L"");
        r.GetCKzStringW(lv.wsCommandAfterCapture, L"wsCommandAfterCapture", L"");
        r.GetCKzStringW(lv.wsCommandAfterLoop, L"wsCommandAfterLoop", L"");
        lv.bControlShutter = r.Get(L"bControlShutter", false);
        lv.bControlLight = r.Get(L"bControlLight", false);
        lv.bUseHZK = r.Get(L"bUseHZK", false);
        lv.bUseHWSequencer = r.Get(L"bUseHWSequencer", false);
        lv.bUseWqRecipe = r.Get(L"bUseWqRecipe", false);
        lv.bUseIntenzityCorrection = r.Get(L"bUseIntenzityCorrection", false);
        if (r.LevelBegin(L"pLargeImage") == KZ_OK) {
            if (!lv.pLargeImage) lv.pLargeImage = NewArray<LIDesc>(2);
            if (lv.pLargeImage) readLIDesc(r, lv.pLargeImage[0]);
            r.LevelEnd();
            if (lv.pLargeImage && r.LevelBegin(L"pLargeImageEx") == KZ_OK) {
                readLIDesc(r, lv.pLargeImage[1]);
                r.LevelEnd();
            }
        }
        if (r.LevelBegin(L"pNIExperiment") == KZ_OK) {
            if (!lv.pNIExperiment) lv.pNIExperiment = new SKzExperimentNI();
            SKzExperimentNI::LoadFromLiteVariant(*lv.pNIExperiment, r);
            r.LevelEnd();
        }
        if (r.LevelBegin(L"pRecordedData") == KZ_OK) {
            if (!lv.pRecordedData) lv.pRecordedData = new SKzRecordedData();
            SKzRecordedData::LoadFromLiteVariant(*lv.pRecordedData, r);
            r.LevelEnd();
        }
        lv.uiRepeatCount = r.Get(L"uiRepeatCount", 1u);
        const u32 n = r.Get(L"uiNextLevelCount", 0u);
        if (n > 0 && roomFor(r, kChildDepth) && r.LevelBegin(L"ppNextLevelEx") == KZ_OK) {
            lv.ppNextLevelEx = readChildren(r, n, lv.uiNextLevelCount, [&](SKzExperiment& c) {
                readLevel(c, r, budget);
                return true;
            });
            r.LevelEnd();
        }
    } catch (...) {
    }
    return KZ_OK;
}

int loadLevel(SKzExperiment& lv, CKzLiteVariantR& r, LoadBudget& budget)
{
    if (r.LevelBegin(L"SKzExperiment") != KZ_OK) return KZ_ERR_FAILED;
    const int res = readLevel(lv, r, budget);
    r.LevelEnd();
    return res;
}

} // namespace

// A tree with a damaged level (a count past the array bound) is read
// all the same, that level without items, and reported with -9.
int SKzExperiment::ReadFromLiteVariant(SKzExperiment& lv, CKzLiteVariantR& r)
{
    LoadBudget budget;
    const int res = readLevel(lv, r, budget);
    return res == KZ_OK && budget.refused ? KZ_ERR_FAILED : res;
}

int SKzExperiment::LoadFromLiteVariant(SKzExperiment& lv, CKzLiteVariantR& r)
{
    LoadBudget budget;
    const int res = loadLevel(lv, r, budget);
    return res == KZ_OK && budget.refused ? KZ_ERR_FAILED : res;
}
