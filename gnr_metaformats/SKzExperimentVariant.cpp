// Experiment levels in the variant form, the tree that version-2 files keep
// as XML text. Structure nodes are written by giving them their run type and
// assigning members by name; a run type no host registered keeps the members
// in the order they are assigned. Readers look members up by name, so a
// missing member reads as 0, false or empty; loops keep their stored counts,
// zeros where list elements are missing, within the loaders' array bound.
#include "gnr_metaformats/SKzExperiment.h"
#include "gnr_metaformats/KzExperimentInternal.h"
#include "gnr_metaformats/KzExperimentNav.h"
#include "gnr_metaformats/SKzPicturePlaneDesc.h"
#include "gnr_metaformats/SKzPicturePlanes.h"
#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzVariant.h"

#include <cwchar>
#include <new>
#include <string>
#include <vector>

using namespace kzexp;

namespace {

const char* const kLevelRT = "RKzExperiment";
const char* const kTimeRT = "RKzExperiment.RKzExpTimeLoop";
const char* const kAutoFocusRT = "RKzExperiment.RKzExpAutoFocus";
const char* const kLIDescRT = "RKzExperiment.RKzLIDesc";

const char* loopRunType(u32 type)
{
    switch (type) {
    case SKzExperiment::eExpTimeLoop: return kTimeRT;
    case SKzExperiment::eExpXYPosLoop: return "RKzExperiment.RKzExpXYPosLoop";
    case SKzExperiment::eExpXYDiscrLoop: return "RKzExperiment.RKzExpXYDiscrLoop";
    case SKzExperiment::eExpZStackLoop: return "RKzExperiment.RKzExpZStackLoop";
    case SKzExperiment::eExpPolarLoop: return "RKzExperiment.RKzExpPolarLoop";
    case SKzExperiment::eExpSpectLoop: return "RKzExperiment.RKzExpSpectLoop";
    case SKzExperiment::eExpCustomLoop: return "RKzExperiment.RKzExpCustomLoop";
    case SKzExperiment::eExpNETimeLoop: return "RKzExperiment.RKzExpNETimeLoop";
    default: return nullptr;
    }
}

void failure(int line) { KZ_PrintFailure("gnr_metaformats/ExperimentAPI", line); }

bool isRunType(const CKzVariant& v, const char* rt) { return v.GetRunType() == CKzVariantRunType(rt); }

// Gives a node a run type with type changes allowed for the call only.
int giveRunType(CKzVariant& node, const char* rt)
{
    const bool old = node.EnableTypeChange(true);
    const int r = node.SetRunType(CKzVariantRunType(rt));
    node.EnableTypeChange(old);
    return r;
}

// Element names: "%03u" of the index, or "item_%05u".
struct IndexName {
    wchar_t text[24];
    IndexName(u32 i, bool item) { std::swprintf(text, 24, item ? L"item_%05u" : L"%03u", (unsigned)i); }
    CKzStringW Str() const { return CKzStringW(text); }
};

// ---- writing -------------------------------------------------------------------------------

// The member `name`, made an empty plain list whatever the sample held.
CKzVariant& listOf(CKzVariant& node, const wchar_t* name)
{
    CKzVariant& m = node[name];
    m = CKzListVariant();
    return m;
}

// A double stored as it is (NaN included).
void setDouble(CKzVariant& node, const wchar_t* name, double x) { node[name] = CKzVariant(x); }

// An undefined element named name appended to a list; the element to write into.
CKzVariant& appendEmpty(CKzVariant& list, const CKzStringW& name)
{
    CKzVariant e;
    e.SetName(name);
    return list.Append(e);
}

template <size_t N>
CKzStringW fixedText(const wchar_t (&a)[N])
{
    wchar_t t[N];
    SetFixed(t, N, a);
    return CKzStringW(t);
}

// The measurement-probe text as 32-bit little-endian characters with the
// terminator.
CKzByteArray probeBytes(const CKzStringW& s)
{
    const size_t n = (size_t)s.GetLength() + 1;
    std::vector<unsigned char> p(n * 4);
    const wchar_t* w = s.GetString();
    for (size_t i = 0; i + 1 < n; ++i) {
        const u32 c = (u32)w[i];
        p[4 * i] = (unsigned char)c;
        p[4 * i + 1] = (unsigned char)(c >> 8);
        p[4 * i + 2] = (unsigned char)(c >> 16);
        p[4 * i + 3] = (unsigned char)(c >> 24);
    }
    return CKzByteArray(p.data(), (unsigned long)p.size(), 0);
}

void writeAutoFocusMember(CKzVariant& node, const wchar_t* name, const AutoFocus& af)
{
    if (AutoFocus::SaveToVariant(node[name], af) != KZ_OK) failure(__LINE__);
}

void writeTimeKeys(CKzVariant& n, const TimeLoop& t)
{
    n[L"uiCount"] = (unsigned)t.uiCount;
    setDouble(n, L"dStart", t.dStart);
    setDouble(n, L"dPeriod", t.dPeriod);
    setDouble(n, L"dDuration", t.dDuration);
    setDouble(n, L"dMinPeriodDiff", t.dMinPeriodDiff);
    setDouble(n, L"dMaxPeriodDiff", t.dMaxPeriodDiff);
    setDouble(n, L"dAvgPeriodDiff", t.dAvgPeriodDiff);
    n[L"wsPhaseName"] = fixedText(t.wsPhaseName);
    n[L"uiLoopType"] = (unsigned)t.uiLoopType;
    n[L"uiGroup"] = (unsigned)t.uiGroup;
    n[L"uiStimulationCount"] = (unsigned)t.uiStimulationCount;
    n[L"bDurationPref"] = t.bDurationPref;
}

void writeLIDesc(CKzVariant& n, const LIDesc& d)
{
    n[L"iMethod"] = (int)d.iMethod;
    n[L"iXFields"] = (int)d.iXFields;
    n[L"iYFields"] = (int)d.iYFields;
    setDouble(n, L"dXmm", d.dXmm);
    setDouble(n, L"dYmm", d.dYmm);
    n[L"bStitch"] = (int)(d.bStitch ? 1 : 0);
    n[L"bValid"] = (int)(d.bValid ? 1 : 0);
    n[L"bControlShutter"] = d.bControlShutter;
    setDouble(n, L"dOverlap", d.dOverlap);
    n[L"uiOrder"] = (unsigned)d.uiOrder;
    n[L"uiStitchingChannel"] = (unsigned)d.uiStitchingChannel;
    n[L"sPattern"] = fixedText(d.sPattern);
    n[L"sCamera"] = fixedText(d.sCamera);
}

int saveTree(CKzVariant& node, const SKzExperiment& lv, int depth);

void writeNETime(CKzVariant& n, const NETimeLoop& l, int depth)
{
    n[L"uiCount"] = (unsigned)l.uiCount;
    n[L"uiPeriodCount"] = (unsigned)l.uiPeriodCount;
    writeAutoFocusMember(n, L"sAutoFocusBeforePeriod", l.sAutoFocusBeforePeriod);
    writeAutoFocusMember(n, L"sAutoFocusBeforeCapture", l.sAutoFocusBeforeCapture);
    // Periods exist only with their records.
    const u32 np = l.pPeriod ? l.uiPeriodCount : 0;
    CKzVariant& periods = listOf(n, L"pPeriod");
    CKzVariant& before = listOf(n, L"szCommandBeforePeriod");
    CKzVariant& after = listOf(n, L"szCommandAfterPeriod");
    CKzVariant& valid = listOf(n, L"pPeriodValid");
    CKzVariant* sub = l.pSubLoops ? &listOf(n, L"pSubLoops") : nullptr;
    for (u32 p = 0; p < np; ++p) {
        const CKzStringW name = IndexName(p, false).Str();
        CKzVariant period(CKzVariantRunType(kTimeRT), name);
        writeTimeKeys(period, l.pPeriod[p]);
        periods.Append(period);
        before.Append(CKzVariant(l.szCommandBeforePeriod ? l.szCommandBeforePeriod[p] : CKzStringW(), name));
        after.Append(CKzVariant(l.szCommandAfterPeriod ? l.szCommandAfterPeriod[p] : CKzStringW(), name));
        valid.Append(CKzVariant(l.pPeriodValid ? l.pPeriodValid[p] : true, name));
        if (!sub) continue;
        CKzVariant& el = appendEmpty(*sub, name);
        const SubLoops& s = l.pSubLoops[p];
        if (!s.ppNextLevelEx) continue;
        for (u32 i = 0; i < s.uiNextLevelCount; ++i) {
            if (!s.ppNextLevelEx[i]) continue;
            if (saveTree(el.Append(CKzVariant()), *s.ppNextLevelEx[i], depth + 1) != KZ_OK) failure(__LINE__);
        }
    }
}

void writeXYPos(CKzVariant& n, const XYPosLoop& l)
{
    n[L"uiCount"] = (unsigned)l.uiCount;
    const double* arrays[] = {l.dPosX, l.dPosY, l.dPosZ, l.dHZKOffset};
    const wchar_t* names[] = {L"dPosX", L"dPosY", L"dPosZ", L"dHZKOffset"};
    // A list is written only with its array.
    for (int a = 0; a < 4; ++a) {
        if (!arrays[a]) continue;
        CKzVariant& list = listOf(n, names[a]);
        for (u32 i = 0; i < l.uiCount; ++i) list.Append(CKzVariant(arrays[a][i], IndexName(i, true).Str()));
    }
    if (l.pPosName) {
        CKzVariant& list = listOf(n, L"pPosName");
        for (u32 i = 0; i < l.uiCount; ++i) list.Append(CKzVariant(l.pPosName[i], IndexName(i, true).Str()));
    }
    n[L"bUseZ"] = l.bUseZ;
    n[L"bRelativeXY"] = l.bRelativeXY;
    setDouble(n, L"dReferenceX", l.dReferenceX);
    setDouble(n, L"dReferenceY", l.dReferenceY);
    n[L"bRedefineAfterHZK"] = l.bRedefineAfterHZK;
    n[L"bRedefineAfterAutoFocus"] = l.bRedefineAfterAutoFocus;
    n[L"bKeepHZKOn"] = l.bKeepHZKOn;
    n[L"bSplitMultipoints"] = l.bSplitMultipoints;
    n[L"sZDevice"] = fixedText(l.sZDevice);
    writeAutoFocusMember(n, L"sAutoFocusBeforeCapture", l.sAutoFocusBeforeCapture);
}

void writeXYDiscr(CKzVariant& n, const XYDiscrLoop& l)
{
    n[L"uiCount"] = (unsigned)l.uiCount;
    if (l.uiRow) {
        CKzVariant& list = listOf(n, L"uiRow");
        for (u32 i = 0; i < l.uiCount; ++i) list.Append(CKzVariant((unsigned)l.uiRow[i], IndexName(i, true).Str()));
    }
    if (l.uiCol) {
        CKzVariant& list = listOf(n, L"uiCol");
        for (u32 i = 0; i < l.uiCount; ++i) list.Append(CKzVariant((unsigned)l.uiCol[i], IndexName(i, true).Str()));
    }
    n[L"bUseZ"] = l.bUseZ;
    if (l.dPosZ) {
        CKzVariant& list = listOf(n, L"dPosZ");
        for (u32 i = 0; i < l.uiCount; ++i) list.Append(CKzVariant(l.dPosZ[i], IndexName(i, false).Str()));
    }
}

void writeZStack(CKzVariant& n, const ZStackLoop& z)
{
    n[L"uiCount"] = (unsigned)z.uiCount;
    setDouble(n, L"dZLow", z.dZLow);
    setDouble(n, L"dZLowHZKOffset", z.dZLowHZKOffset);
    setDouble(n, L"dZHigh", z.dZHigh);
    setDouble(n, L"dZHighHZKOffset", z.dZHighHZKOffset);
    setDouble(n, L"dZHome", z.dZHome);
    setDouble(n, L"dZStep", z.dZStep);
    n[L"bTriggeredPiezo"] = z.bTriggeredPiezo;
    n[L"iType"] = (int)z.iType;
    n[L"bAbsolute"] = z.bAbsolute;
    n[L"bZInverted"] = z.bZInverted;
    setDouble(n, L"dReferencePosition", z.dReferencePosition);
    setDouble(n, L"dTIRFPosition", z.dTIRFPosition);
    setDouble(n, L"dTIRFHZKOffset", z.dTIRFHZKOffset);
    n[L"bTIRF"] = z.bTIRF;
    n[L"sZDevice"] = fixedText(z.sZDevice);
    n[L"sCommandBeforeCapture"] = fixedText(z.sCommandBeforeCapture);
    n[L"sCommandAfterCapture"] = fixedText(z.sCommandAfterCapture);
}

void writeSpect(CKzVariant& n, const SpectLoop& l)
{
    n[L"uiCount"] = (unsigned)l.uiCount;
    n[L"bMergeCameras"] = (int)(l.bMergeCameras ? 1 : 0);
    if (!l.pPlanes) return;
    const SKzPicturePlanes& set = *l.pPlanes;
    if (SKzPicturePlanes::SaveToVariant(n[L"pPlanes"], set) != KZ_OK) failure(__LINE__);
    const u32 np = set.pPlanes ? set.uiCount : 0;
    CKzVariant& descs = listOf(n, L"pPlaneDesc");
    CKzVariant& afs = listOf(n, L"pAutoFocus");
    CKzVariant& before = listOf(n, L"szCommandBeforeCapture");
    CKzVariant& after = listOf(n, L"szCommandAfterCapture");
    CKzVariant& zpos = listOf(n, L"pZStackPos");
    AutoFocus cleared;
    AutoFocus::SetToNull(cleared);
    for (u32 i = 0; i < np; ++i) {
        const CKzStringW name = IndexName(i, false).Str();
        const bool in = i < l.uiCount;
        if (SKzPicturePlaneDesc::SaveToVariantOld(appendEmpty(descs, name), set, i) != KZ_OK) failure(__LINE__);
        if (AutoFocus::SaveToVariant(appendEmpty(afs, name), in && l.pAutoFocus ? l.pAutoFocus[i] : cleared) != KZ_OK)
            failure(__LINE__);
        before.Append(CKzVariant(in && l.szCommandBeforeCapture ? l.szCommandBeforeCapture[i] : CKzStringW(), name));
        after.Append(CKzVariant(in && l.szCommandAfterCapture ? l.szCommandAfterCapture[i] : CKzStringW(), name));
        zpos.Append(CKzVariant((int)(in && l.pZStackPos ? l.pZStackPos[i] : 0), name));
    }
}

void writeLoop(CKzVariant& loop, const SKzExperiment& lv, int depth)
{
    const char* rt = loopRunType(lv.eType);
    // Manual time loops and unknown types keep an empty loop node.
    if (!rt) return;
    giveRunType(loop, rt);
    const SKzExperiment::ULoopPars& u = lv.uLoopPars;
    switch (lv.eType) {
    case SKzExperiment::eExpTimeLoop:
        writeTimeKeys(loop, u.sTimeLoop);
        writeAutoFocusMember(loop, L"sAutoFocusBeforePeriod", u.sTimeLoop.sAutoFocusBeforePeriod);
        writeAutoFocusMember(loop, L"sAutoFocusBeforeCapture", u.sTimeLoop.sAutoFocusBeforeCapture);
        break;
    case SKzExperiment::eExpNETimeLoop: writeNETime(loop, u.sNETimeLoop, depth); break;
    case SKzExperiment::eExpXYPosLoop: writeXYPos(loop, u.sXYPosLoop); break;
    case SKzExperiment::eExpXYDiscrLoop: writeXYDiscr(loop, u.sXYDiscrLoop); break;
    case SKzExperiment::eExpZStackLoop: writeZStack(loop, u.sZStackLoop); break;
    case SKzExperiment::eExpPolarLoop:
        loop[L"uiCount"] = (unsigned)u.sPolarLoop.uiCount;
        setDouble(loop, L"dAngleStart", u.sPolarLoop.dAngleStart);
        setDouble(loop, L"dAngleFinish", u.sPolarLoop.dAngleFinish);
        loop[L"bSceneRotates"] = u.sPolarLoop.bSceneRotates;
        break;
    case SKzExperiment::eExpSpectLoop: writeSpect(loop, u.sSpectLoop); break;
    case SKzExperiment::eExpCustomLoop:
        loop[L"uiCount"] = (unsigned)u.sCustomLoop.uiCount;
        loop[L"wsDescription"] = u.sCustomLoop.wsDescription ? *u.sCustomLoop.wsDescription : CKzStringW();
        break;
    default: break;
    }
}

int saveLevel(CKzVariant& node, const SKzExperiment& lv, int depth)
{
    const bool old = node.EnableTypeChange(true);
    node.MakeNull();
    const int given = node.SetRunType(CKzVariantRunType(kLevelRT));
    node.EnableTypeChange(old);
    if (given != KZ_OK) return given;

    node[L"eType"] = (unsigned)lv.eType;
    node[L"wsApplicationDesc"] = lv.wsApplicationDesc;
    node[L"wsUserDesc"] = lv.wsUserDesc;
    node[L"aMeasProbesBase64"] = probeBytes(lv.aMeasProbesBase64);
    node[L"wsCameraName"] = lv.wsCameraName;
    CKzVariant& flags = listOf(node, L"pItemValid");
    if (lv.pItemValid)
        for (u32 i = 0; i < lv.uLoopPars.uiCount; ++i)
            flags.Append(CKzVariant(lv.pItemValid[i], IndexName(i, false).Str()));
    CKzVariant& pars = listOf(node, L"uLoopPars");
    writeLoop(pars.Append(CKzVariant()), lv, depth);
    node[L"wsCommandBeforeLoop"] = lv.wsCommandBeforeLoop;
    node[L"wsCommandBeforeCapture"] = lv.wsCommandBeforeCapture;
    node[L"wsCommandAfterCapture"] = lv.wsCommandAfterCapture;
    node[L"wsCommandAfterLoop"] = lv.wsCommandAfterLoop;
    node[L"bControlShutter"] = lv.bControlShutter;
    node[L"bControlLight"] = lv.bControlLight;
    node[L"bUseHZK"] = lv.bUseHZK;
    node[L"bUseHWSequencer"] = lv.bUseHWSequencer;
    node[L"bUseWqRecipe"] = lv.bUseWqRecipe;
    node[L"bUseIntenzityCorrection"] = lv.bUseIntenzityCorrection;
    CKzVariant& large = listOf(node, L"pLargeImage");
    CKzVariant& largeEx = listOf(node, L"pLargeImageEx");
    if (lv.pLargeImage) {
        CKzVariant d;
        giveRunType(d, kLIDescRT);
        writeLIDesc(d, lv.pLargeImage[0]);
        large.Append(d);
        writeLIDesc(d, lv.pLargeImage[1]);
        largeEx.Append(d);
    }
    if (lv.pNIExperiment) {
        const int r = SKzExperimentNI::SaveToVariant(listOf(node, L"pNIExperiment"), *lv.pNIExperiment);
        if (r != KZ_OK) return r;
    }
    if (lv.pRecordedData) {
        const int r = SKzRecordedData::SaveToVariant(listOf(node, L"pRecordedData"), *lv.pRecordedData);
        if (r != KZ_OK) return r;
    }
    const int r = AutoFocus::SaveToVariant(node[L"sAutoFocusBeforeLoop"], lv.sAutoFocusBeforeLoop);
    if (r != KZ_OK) return r;
    return SKzParallelExperiment::SaveToVariant(node[L"sParallelExperiment"], lv.sParallelExperiment);
}

int saveTree(CKzVariant& node, const SKzExperiment& lv, int depth)
{
    if (depth >= kMaxTreeDepth) return KZ_ERR_FAILED;
    int r = saveLevel(node, lv, depth);
    if (r != KZ_OK) return r;
    node[L"uiRepeatCount"] = (unsigned)lv.uiRepeatCount;
    CKzVariant& kids = listOf(node, L"ppNextLevelEx");
    if (lv.ppNextLevelEx)
        for (u32 i = 0; i < lv.uiNextLevelCount; ++i) {
            if (!lv.ppNextLevelEx[i]) continue;
            r = saveTree(kids.Append(CKzVariant()), *lv.ppNextLevelEx[i], depth + 1);
            if (r != KZ_OK) return r;
        }
    return KZ_OK;
}

// ---- reading -------------------------------------------------------------------------------

u32 u32Of(const CKzVariant& v)
{
    bool ok = false;
    const u32 x = v.GetKz_uint32(&ok);
    return ok ? x : 0;
}

kz_int32 i32Of(const CKzVariant& v) { return VarI32(v); }

double dblOf(const CKzVariant& v)
{
    bool ok = false;
    const double x = v.GetDouble(&ok);
    return ok ? x : 0.0;
}

bool boolOf(const CKzVariant& v)
{
    bool ok = false;
    const bool b = v.GetBool(&ok);
    return ok && b;
}

// A text member; lists and missing members read as empty.
CKzStringW textOf(const CKzVariant& v)
{
    if (v.IsUndefined() || v.GetCount() >= 0) return CKzStringW();
    bool ok = false;
    CKzStringW s = v.GetCKzStringW(&ok);
    return ok ? s : CKzStringW();
}

template <size_t N>
void readFixed(wchar_t (&dst)[N], const CKzVariant& v)
{
    const CKzStringW s = textOf(v);
    SetFixed(dst, N, s.GetString());
}

// The measurement-probe text from 32-bit characters: at most size / 4 of
// them, up to the first zero.
CKzStringW probeText(const CKzVariant& v)
{
    if (v.IsUndefined() || v.GetCount() >= 0) return CKzStringW();
    bool ok = false;
    const CKzByteArray b = v.GetCKzByteArray(&ok);
    const u64 n = ok && b.GetData() ? (u64)b.GetSize() / 4 : 0;
    if (n == 0) return CKzStringW();
    std::wstring w;
    const unsigned char* p = b.GetData();
    for (u64 i = 0; i < n; ++i) {
        const u32 c = (u32)p[4 * i] | (u32)p[4 * i + 1] << 8 | (u32)p[4 * i + 2] << 16 | (u32)p[4 * i + 3] << 24;
        if (c == 0) break;
        w.push_back((wchar_t)c);
    }
    return CKzStringW(w.c_str());
}

// Element count of a list member; -1 when missing or a scalar.
kz_int64 countOf(const CKzVariant& v) { return v.GetCount(); }

void readAutoFocusMember(AutoFocus& af, const CKzVariant& node)
{
    if (AutoFocus::LoadFromVariant(af, node) != KZ_OK) {
        failure(__LINE__);
        AutoFocus::SetToNull(af);
    }
}

void checkLoopRunType(const CKzVariant& loop, u32 type)
{
    // Read all the same.
    if (!isRunType(loop, loopRunType(type))) failure(__LINE__);
}

void readTimeKeys(TimeLoop& t, const CKzVariant& n)
{
    t.uiCount = u32Of(n[L"uiCount"]);
    t.dStart = dblOf(n[L"dStart"]);
    t.dPeriod = dblOf(n[L"dPeriod"]);
    t.dDuration = dblOf(n[L"dDuration"]);
    t.dMinPeriodDiff = dblOf(n[L"dMinPeriodDiff"]);
    t.dMaxPeriodDiff = dblOf(n[L"dMaxPeriodDiff"]);
    t.dAvgPeriodDiff = dblOf(n[L"dAvgPeriodDiff"]);
    readFixed(t.wsPhaseName, n[L"wsPhaseName"]);
    t.uiLoopType = u32Of(n[L"uiLoopType"]);
    t.uiGroup = u32Of(n[L"uiGroup"]);
    t.uiStimulationCount = u32Of(n[L"uiStimulationCount"]);
    t.bDurationPref = boolOf(n[L"bDurationPref"]);
}

void readLIDesc(LIDesc& d, const CKzVariant& n)
{
    d.iMethod = i32Of(n[L"iMethod"]);
    d.iXFields = i32Of(n[L"iXFields"]);
    d.iYFields = i32Of(n[L"iYFields"]);
    d.dXmm = dblOf(n[L"dXmm"]);
    d.dYmm = dblOf(n[L"dYmm"]);
    d.bStitch = dblOf(n[L"bStitch"]) > 0;
    d.bValid = dblOf(n[L"bValid"]) > 0;
    d.bControlShutter = boolOf(n[L"bControlShutter"]);
    d.dOverlap = dblOf(n[L"dOverlap"]);
    d.uiOrder = u32Of(n[L"uiOrder"]);
    d.uiStitchingChannel = u32Of(n[L"uiStitchingChannel"]);
    readFixed(d.sPattern, n[L"sPattern"]);
    readFixed(d.sCamera, n[L"sCamera"]);
}

int loadTree(SKzExperiment& lv, const CKzVariant& node, int depth, LoadBudget& budget);

// Loads every level node of a list into a new child array holding only the
// levels that loaded; null and 0 when none did (or the tree is too deep).
SKzExperiment** loadChildren(const CKzVariant& list, int depth, u32& count, bool levelsOnly, LoadBudget& budget)
{
    count = 0;
    const kz_int64 n = countOf(list);
    if (n < 1 || depth + 1 >= kMaxTreeDepth) return nullptr;
    SKzExperiment** a = NewChildArray((u64)n);
    if (!a) return nullptr;
    for (kz_int64 i = 0; i < n; ++i) {
        const CKzVariant& c = list[(int)i];
        if (levelsOnly && !isRunType(c, kLevelRT)) continue;
        SKzExperiment* x = nullptr;
        if (SKzExperiment::Alloc(&x) != KZ_OK) {
            failure(__LINE__);
            continue;
        }
        if (loadTree(*x, c, depth + 1, budget) == KZ_OK) a[count++] = x;
        else SKzExperiment::FreeRecursive(x);
    }
    if (count == 0) {
        CKzAlloc::Free(a);
        return nullptr;
    }
    return a;
}

void readNETime(NETimeLoop& l, const CKzVariant& n, int depth, LoadBudget& budget)
{
    l.uiCount = u32Of(n[L"uiCount"]);
    const u32 stored = u32Of(n[L"uiPeriodCount"]);
    l.uiPeriodCount = 0;
    readAutoFocusMember(l.sAutoFocusBeforePeriod, n[L"sAutoFocusBeforePeriod"]);
    readAutoFocusMember(l.sAutoFocusBeforeCapture, n[L"sAutoFocusBeforeCapture"]);
    l.pPeriod = nullptr;
    l.pSubLoops = nullptr;
    l.szCommandBeforePeriod = l.szCommandAfterPeriod = nullptr;
    l.pPeriodValid = nullptr;
    const CKzVariant& periods = n[L"pPeriod"];
    const CKzVariant& before = n[L"szCommandBeforePeriod"];
    const CKzVariant& after = n[L"szCommandAfterPeriod"];
    // Every stored period; one whose elements are missing is cleared, with
    // empty commands.
    const kz_int64 np = stored;
    if (np >= 1 && budget.Take(stored, kPeriodItemBytes)) {
        l.pPeriod = NewArray<TimeLoop>((u64)np);
        l.szCommandBeforePeriod = NewArray<CKzStringW>((u64)np);
        l.szCommandAfterPeriod = NewArray<CKzStringW>((u64)np);
        l.pPeriodValid = NewArray<bool>((u64)np);
        l.pSubLoops = NewArray<SubLoops>((u64)np);
    }
    if (!l.pPeriod || !l.szCommandBeforePeriod || !l.szCommandAfterPeriod || !l.pPeriodValid || !l.pSubLoops) {
        delete[] l.pPeriod;
        delete[] l.szCommandBeforePeriod;
        delete[] l.szCommandAfterPeriod;
        delete[] l.pPeriodValid;
        delete[] l.pSubLoops;
        l.pPeriod = nullptr;
        l.pSubLoops = nullptr;
        l.szCommandBeforePeriod = l.szCommandAfterPeriod = nullptr;
        l.pPeriodValid = nullptr;
        l.uiCount = l.uiPeriodCount = 0;
        return;
    }
    const u32 count = (u32)np;
    l.uiPeriodCount = count;
    // Period flags are all there or none are (every period valid).
    const CKzVariant& valid = n[L"pPeriodValid"];
    const bool haveFlags = countOf(valid) >= np;
    const CKzVariant& sub = n[L"pSubLoops"];
    const kz_int64 ns = countOf(sub), nPeriods = countOf(periods), nBefore = countOf(before),
                   nAfter = countOf(after);
    u64 total = 0;
    bool anyChild = false;
    for (u32 p = 0; p < count; ++p) {
        TimeLoop& t = l.pPeriod[p];
        ClearPeriod(t);
        if ((kz_int64)p < nPeriods) readTimeKeys(t, periods[(int)p]);
        if ((kz_int64)p < nBefore) l.szCommandBeforePeriod[p] = textOf(before[(int)p]);
        if ((kz_int64)p < nAfter) l.szCommandAfterPeriod[p] = textOf(after[(int)p]);
        l.pPeriodValid[p] = haveFlags ? boolOf(valid[(int)p]) : true;
        if (l.pPeriodValid[p]) total = SatAdd(total, t.uiCount);
        if ((kz_int64)p < ns) {
            SubLoops& s = l.pSubLoops[p];
            s.ppNextLevelEx = loadChildren(sub[(int)p], depth, s.uiNextLevelCount, false, budget);
            anyChild = anyChild || s.ppNextLevelEx;
        }
    }
    if (!anyChild) {
        delete[] l.pSubLoops;
        l.pSubLoops = nullptr;
    }
    l.uiCount = (u32)total;
}

void readXYPos(XYPosLoop& l, const CKzVariant& n, LoadBudget& budget)
{
    const u32 stored = u32Of(n[L"uiCount"]);
    const wchar_t* names[] = {L"dPosX", L"dPosY", L"dPosZ", L"dHZKOffset"};
    const CKzVariant* lists[4];
    kz_int64 counts[4];
    kz_int64 smallest = 0x7FFFFFFFFFFFFFFF;
    for (int a = 0; a < 4; ++a) {
        lists[a] = &n[names[a]];
        counts[a] = countOf(*lists[a]);
        if (counts[a] < smallest) smallest = counts[a];
    }
    if (smallest != (kz_int64)stored) failure(__LINE__);
    l.dPosX = l.dPosY = l.dPosZ = l.dHZKOffset = nullptr;
    l.pPosName = nullptr;
    l.uiCount = 0;
    // Every stored position, zeros and empty names where elements are missing.
    if (stored > 0 && budget.Take(stored, kXYPosItemBytes) && NewItemArrays(l, stored)) {
        double* arrays[] = {l.dPosX, l.dPosY, l.dPosZ, l.dHZKOffset};
        const CKzVariant& posNames = n[L"pPosName"];
        const kz_int64 nNames = countOf(posNames);
        for (u32 i = 0; i < stored; ++i) {
            for (int a = 0; a < 4; ++a)
                if ((kz_int64)i < counts[a]) arrays[a][i] = dblOf((*lists[a])[(int)i]);
            if ((kz_int64)i < nNames) l.pPosName[i] = textOf(posNames[(int)i]);
        }
        l.uiCount = stored;
    }
    l.bUseZ = boolOf(n[L"bUseZ"]);
    l.bRelativeXY = boolOf(n[L"bRelativeXY"]);
    l.dReferenceX = dblOf(n[L"dReferenceX"]);
    l.dReferenceY = dblOf(n[L"dReferenceY"]);
    l.bRedefineAfterHZK = boolOf(n[L"bRedefineAfterHZK"]);
    l.bRedefineAfterAutoFocus = boolOf(n[L"bRedefineAfterAutoFocus"]);
    l.bKeepHZKOn = boolOf(n[L"bKeepHZKOn"]);
    l.bSplitMultipoints = boolOf(n[L"bSplitMultipoints"]);
    readFixed(l.sZDevice, n[L"sZDevice"]);
    readAutoFocusMember(l.sAutoFocusBeforeCapture, n[L"sAutoFocusBeforeCapture"]);
}

void readXYDiscr(XYDiscrLoop& l, const CKzVariant& n, LoadBudget& budget)
{
    const u32 stored = u32Of(n[L"uiCount"]);
    const CKzVariant& rows = n[L"uiRow"];
    const CKzVariant& cols = n[L"uiCol"];
    const CKzVariant& zs = n[L"dPosZ"];
    const kz_int64 cr = countOf(rows), cc = countOf(cols), cz = countOf(zs);
    if ((cr < cc ? cr : cc) != (kz_int64)stored) failure(__LINE__);
    l.uiRow = l.uiCol = nullptr;
    l.dPosZ = nullptr;
    l.uiCount = 0;
    l.bUseZ = boolOf(n[L"bUseZ"]);
    // Every stored item, zeros where elements are missing.
    if (stored == 0 || !budget.Take(stored, kXYDiscrItemBytes)) return;
    if (!NewItemArrays(l, stored)) return;
    for (u32 i = 0; i < stored; ++i) {
        if ((kz_int64)i < cr) l.uiRow[i] = u32Of(rows[(int)i]);
        if ((kz_int64)i < cc) l.uiCol[i] = u32Of(cols[(int)i]);
        if ((kz_int64)i < cz) l.dPosZ[i] = dblOf(zs[(int)i]);
    }
    l.uiCount = stored;
}

void readZStack(ZStackLoop& z, const CKzVariant& n)
{
    z.uiCount = u32Of(n[L"uiCount"]);
    z.dZLow = dblOf(n[L"dZLow"]);
    z.dZLowHZKOffset = dblOf(n[L"dZLowHZKOffset"]);
    z.dZHigh = dblOf(n[L"dZHigh"]);
    z.dZHighHZKOffset = dblOf(n[L"dZHighHZKOffset"]);
    z.dZHome = dblOf(n[L"dZHome"]);
    z.dZStep = dblOf(n[L"dZStep"]);
    z.bTriggeredPiezo = boolOf(n[L"bTriggeredPiezo"]);
    z.iType = i32Of(n[L"iType"]);
    z.bAbsolute = boolOf(n[L"bAbsolute"]);
    z.bZInverted = boolOf(n[L"bZInverted"]);
    z.dReferencePosition = dblOf(n[L"dReferencePosition"]);
    z.dTIRFPosition = dblOf(n[L"dTIRFPosition"]);
    z.dTIRFHZKOffset = dblOf(n[L"dTIRFHZKOffset"]);
    z.bTIRF = boolOf(n[L"bTIRF"]);
    readFixed(z.sZDevice, n[L"sZDevice"]);
    readFixed(z.sCommandBeforeCapture, n[L"sCommandBeforeCapture"]);
    readFixed(z.sCommandAfterCapture, n[L"sCommandAfterCapture"]);
}

u32 compSum(const SKzPicturePlanes& set, u32 planes)
{
    u64 sum = 0;
    for (u32 i = 0; i < planes; ++i) sum = SatAdd(sum, set.pPlanes[i].uiCompCount);
    return (u32)sum;
}

void readSpect(SpectLoop& l, const CKzVariant& n, LoadBudget& budget)
{
    l.uiCount = 0;
    l.pAutoFocus = nullptr;
    l.pZStackPos = nullptr;
    l.szCommandBeforeCapture = l.szCommandAfterCapture = nullptr;
    l.bMergeCameras = i32Of(n[L"bMergeCameras"]) != 0;
    l.pPlanes = new (std::nothrow) SKzPicturePlanes();
    if (!l.pPlanes) {
        l.bMergeCameras = false;
        return;
    }
    SKzPicturePlanes& set = *l.pPlanes;
    const CKzVariant& planes = n[L"pPlanes"];
    const CKzVariant& descs = n[L"pPlaneDesc"];
    bool older = false;
    if (!planes.IsUndefined() && u32Of(planes[L"uiCount"]) != 0) {
        SKzPicturePlanes::LoadFromVariant(set, planes);
        // As many planes as elements were stored; they count towards the
        // bound of the whole tree all the same.
        if (set.pPlanes && !budget.Take(set.uiCount, kChannelItemBytes)) SKzPicturePlanes::Free(set);
    } else {
        // Older files describe each channel in "pPlaneDesc": the stored count
        // of default planes, each filled from its element where one is stored.
        older = true;
        const u32 g = u32Of(n[L"uiCount"]);
        if (g > 0 && budget.Take(g, kChannelItemBytes) && SKzPicturePlanes::Alloc(set, g, 1) != KZ_OK)
            SKzPicturePlanes::Free(set);
    }
    const kz_int64 nd = countOf(descs);
    const u32 np = set.pPlanes ? set.uiCount : 0;
    const CKzVariant& afs = n[L"pAutoFocus"];
    const kz_int64 na = countOf(afs);
    // The current form reads no more channels than autofocus records are
    // stored; the older form keeps its count.
    u32 f = np;
    if (!older && na >= 0 && na < (kz_int64)f) f = (u32)na;
    if (f > 0) {
        l.pAutoFocus = NewArray<AutoFocus>(f);
        l.pZStackPos = NewArray<kz_int32>(f);
        l.szCommandBeforeCapture = NewArray<CKzStringW>(f);
        l.szCommandAfterCapture = NewArray<CKzStringW>(f);
    }
    if (f == 0 || !l.pAutoFocus || !l.pZStackPos || !l.szCommandBeforeCapture || !l.szCommandAfterCapture) {
        delete[] l.pAutoFocus;
        delete[] l.pZStackPos;
        delete[] l.szCommandBeforeCapture;
        delete[] l.szCommandAfterCapture;
        l.pAutoFocus = nullptr;
        l.pZStackPos = nullptr;
        l.szCommandBeforeCapture = l.szCommandAfterCapture = nullptr;
        SKzPicturePlanes::Free(set);
        delete l.pPlanes;
        l.pPlanes = nullptr;
        l.bMergeCameras = false;
        return;
    }
    const CKzVariant& before = n[L"szCommandBeforeCapture"];
    const CKzVariant& after = n[L"szCommandAfterCapture"];
    const CKzVariant& zpos = n[L"pZStackPos"];
    for (u32 i = 0; i < f; ++i) {
        if (older) {
            if ((kz_int64)i < nd && SKzPicturePlaneDesc::LoadFromVariant(set.pPlanes[i], descs[(int)i]) != KZ_OK)
                failure(__LINE__);
            set.pPlanes[i].uiSampleIndex = i;
        }
        if ((kz_int64)i < na)
            readAutoFocusMember(l.pAutoFocus[i], afs[(int)i]);
        else
            AutoFocus::SetToNull(l.pAutoFocus[i]);
        l.szCommandBeforeCapture[i] = textOf(before[(int)i]);
        l.szCommandAfterCapture[i] = textOf(after[(int)i]);
        l.pZStackPos[i] = i32Of(zpos[(int)i]);
    }
    // Older planes each stand for their own channel; a set cut short by the
    // autofocus list counts the components of the planes it keeps.
    if (older || f < np) set.uiCompCount = compSum(set, f);
    set.uiCount = f;
    l.uiCount = f;
}

void readLoop(SKzExperiment& lv, const CKzVariant& loop, int depth, LoadBudget& budget)
{
    SKzExperiment::ULoopPars& u = lv.uLoopPars;
    const u32 type = lv.eType;
    if (!loopRunType(type)) return;
    checkLoopRunType(loop, type);
    switch (type) {
    case SKzExperiment::eExpTimeLoop:
        ClearPeriod(u.sTimeLoop);
        readTimeKeys(u.sTimeLoop, loop);
        readAutoFocusMember(u.sTimeLoop.sAutoFocusBeforePeriod, loop[L"sAutoFocusBeforePeriod"]);
        readAutoFocusMember(u.sTimeLoop.sAutoFocusBeforeCapture, loop[L"sAutoFocusBeforeCapture"]);
        break;
    case SKzExperiment::eExpNETimeLoop: readNETime(u.sNETimeLoop, loop, depth, budget); break;
    case SKzExperiment::eExpXYPosLoop: readXYPos(u.sXYPosLoop, loop, budget); break;
    case SKzExperiment::eExpXYDiscrLoop: readXYDiscr(u.sXYDiscrLoop, loop, budget); break;
    case SKzExperiment::eExpZStackLoop: readZStack(u.sZStackLoop, loop); break;
    case SKzExperiment::eExpPolarLoop:
        u.sPolarLoop.uiCount = u32Of(loop[L"uiCount"]);
        u.sPolarLoop.dAngleStart = dblOf(loop[L"dAngleStart"]);
        u.sPolarLoop.dAngleFinish = dblOf(loop[L"dAngleFinish"]);
        u.sPolarLoop.bSceneRotates = boolOf(loop[L"bSceneRotates"]);
        break;
    case SKzExperiment::eExpSpectLoop: readSpect(u.sSpectLoop, loop, budget); break;
    case SKzExperiment::eExpCustomLoop:
        u.sCustomLoop.uiCount = u32Of(loop[L"uiCount"]);
        u.sCustomLoop.wsDescription = new (std::nothrow) CKzStringW(textOf(loop[L"wsDescription"]));
        break;
    default: break;
    }
}

// A side record stored as a list: a non-empty list is read, a missing or
// empty one means none, anything else changes nothing.
enum class Side { Read, None, Keep };
Side sideOf(const CKzVariant& v)
{
    const kz_int64 c = countOf(v);
    if (c > 0) return Side::Read;
    if (c == 0 || v.IsUndefined()) return Side::None;
    return Side::Keep;
}

int loadLevel(SKzExperiment& lv, const CKzVariant& node, int depth, LoadBudget& budget)
{
    if (!isRunType(node, kLevelRT)) {
        // Formatted for a debugger only; the code says it all.
        CKzStringW message;
        message.Format(L"Wrong variant runtype('%S'), expected 'RKzExperiment'.", node.GetRunType().GetNameA());
        return KZ_ERR_INVALID_ARG;
    }
    lv.eType = (SKzExperiment::EKzExperimentType)u32Of(node[L"eType"]);
    lv.wsApplicationDesc = textOf(node[L"wsApplicationDesc"]);
    lv.wsUserDesc = textOf(node[L"wsUserDesc"]);
    lv.aMeasProbesBase64 = probeText(node[L"aMeasProbesBase64"]);
    lv.wsCameraName = textOf(node[L"wsCameraName"]);
    const u32 refused = budget.refused;
    readLoop(lv, node[L"uLoopPars"][0], depth, budget);
    // A damaged level ends here, its loop without items.
    if (budget.refused != refused) return KZ_ERR_FAILED;
    // Item flags are exactly the item count, or none (every item valid).
    const CKzVariant& flags = node[L"pItemValid"];
    const u32 items = loopRunType(lv.eType) ? lv.uLoopPars.uiCount : 0;
    if (items > 0 && countOf(flags) >= (kz_int64)items) {
        lv.pItemValid = NewArray<bool>(items);
        if (lv.pItemValid)
            for (u32 i = 0; i < items; ++i) lv.pItemValid[i] = boolOf(flags[(int)i]);
    }
    int r = AutoFocus::LoadFromVariant(lv.sAutoFocusBeforeLoop, node[L"sAutoFocusBeforeLoop"]);
    if (r != KZ_OK) return r;
    r = SKzParallelExperiment::LoadFromVariant(lv.sParallelExperiment, node[L"sParallelExperiment"]);
    if (r != KZ_OK) return r;
    lv.wsCommandBeforeLoop = textOf(node[L"wsCommandBeforeLoop"]);
    lv.wsCommandBeforeCapture = textOf(node[L"wsCommandBeforeCapture"]);
    lv.wsCommandAfterCapture = textOf(node[L"wsCommandAfterCapture"]);
    lv.wsCommandAfterLoop = textOf(node[L"wsCommandAfterLoop"]);
    lv.bControlShutter = boolOf(node[L"bControlShutter"]);
    lv.bControlLight = boolOf(node[L"bControlLight"]);
    lv.bUseHZK = boolOf(node[L"bUseHZK"]);
    lv.bUseHWSequencer = boolOf(node[L"bUseHWSequencer"]);
    lv.bUseWqRecipe = boolOf(node[L"bUseWqRecipe"]);
    lv.bUseIntenzityCorrection = boolOf(node[L"bUseIntenzityCorrection"]);

    const CKzVariant& large = node[L"pLargeImage"];
    switch (sideOf(large)) {
    case Side::Read:
        if (!lv.pLargeImage) lv.pLargeImage = NewArray<LIDesc>(2);
        if (lv.pLargeImage) {
            readLIDesc(lv.pLargeImage[0], large[0]);
            const CKzVariant& ex = node[L"pLargeImageEx"];
            if (countOf(ex) > 0) readLIDesc(lv.pLargeImage[1], ex[0]);
        }
        break;
    case Side::None:
        delete[] lv.pLargeImage;
        lv.pLargeImage = nullptr;
        break;
    case Side::Keep: break;
    }
    const CKzVariant& ni = node[L"pNIExperiment"];
    switch (sideOf(ni)) {
    case Side::Read:
        if (!lv.pNIExperiment) lv.pNIExperiment = new (std::nothrow) SKzExperimentNI();
        if (lv.pNIExperiment) SKzExperimentNI::LoadFromVariant(*lv.pNIExperiment, ni);
        break;
    case Side::None:
        delete lv.pNIExperiment;
        lv.pNIExperiment = nullptr;
        break;
    case Side::Keep: break;
    }
    const CKzVariant& rec = node[L"pRecordedData"];
    switch (sideOf(rec)) {
    case Side::Read:
        if (!lv.pRecordedData) lv.pRecordedData = new (std::nothrow) SKzRecordedData();
        if (lv.pRecordedData) SKzRecordedData::LoadFromVariant(*lv.pRecordedData, rec);
        break;
    case Side::None:
        delete lv.pRecordedData;
        lv.pRecordedData = nullptr;
        break;
    case Side::Keep: break;
    }
    return KZ_OK;
}

void freeChildren(SKzExperiment& lv)
{
    if (lv.ppNextLevelEx)
        for (u32 i = 0; i < lv.uiNextLevelCount; ++i) SKzExperiment::FreeRecursive(lv.ppNextLevelEx[i]);
    CKzAlloc::Free(lv.ppNextLevelEx);
    lv.ppNextLevelEx = nullptr;
    lv.uiNextLevelCount = 0;
}

int loadTree(SKzExperiment& lv, const CKzVariant& node, int depth, LoadBudget& budget)
{
    const int r = loadLevel(lv, node, depth, budget);
    if (r != KZ_OK) return r;
    lv.uiRepeatCount = u32Of(node[L"uiRepeatCount"]);
    freeChildren(lv);
    lv.ppNextLevelEx = loadChildren(node[L"ppNextLevelEx"], depth, lv.uiNextLevelCount, true, budget);
    return KZ_OK;
}

// A damaged level anywhere in the tree (a count past the array bound) makes
// the load -9; such a child is left out like any child that fails to load.
int withBudget(int result, const LoadBudget& budget)
{
    return result == KZ_OK && budget.refused ? KZ_ERR_FAILED : result;
}

} // namespace

// ---- autofocus ---------------------------------------------------------------------------

int SKzExperiment::SKzExpAutoFocus::SaveToVariant(CKzVariant& n, const SKzExpAutoFocus& af)
{
    try {
        const int r = giveRunType(n, kAutoFocusRT);
        if (r != KZ_OK) return r;
        n[L"eType"] = (unsigned)af.eType;
        setDouble(n, L"dStep", af.dStep);
        setDouble(n, L"dRange", af.dRange);
        setDouble(n, L"dPrecision", af.dPrecision);
        setDouble(n, L"dSpeed", af.dSpeed);
        CKzVariant& plane = listOf(n, L"aFocusPlane");
        const u32 values = af.aFocusPlane.uiValues < 6 ? af.aFocusPlane.uiValues : 6;
        plane.Append(CKzVariant((int)af.aFocusPlane.iDegree, CKzStringW(L"iDegree")));
        plane.Append(CKzVariant((unsigned)values, CKzStringW(L"uiValues")));
        CKzVariant& coeff = plane.Append(CKzVariant(CKzListVariant(), CKzStringW(L"pCoeff")));
        for (u32 i = 0; i < values; ++i) coeff.Append(CKzVariant(af.aFocusPlane.pCoeff[i]));
        n[L"uiFlags"] = (unsigned)af.uiFlags;
        n[L"iFocusCriterion"] = (int)af.iFocusCriterion;
        n[L"sZDrive"] = fixedText(af.sZDrive);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int SKzExperiment::SKzExpAutoFocus::LoadFromVariant(SKzExpAutoFocus& af, const CKzVariant& n)
{
    if (!isRunType(n, kAutoFocusRT)) return KZ_ERR_INVALID_ARG;
    try {
        af.eType = u32Of(n[L"eType"]);
        af.dStep = dblOf(n[L"dStep"]);
        af.dRange = dblOf(n[L"dRange"]);
        af.dPrecision = dblOf(n[L"dPrecision"]);
        af.dSpeed = dblOf(n[L"dSpeed"]);
        af.aFocusPlane.iDegree = 0;
        af.aFocusPlane.uiValues = 0;
        for (double& c : af.aFocusPlane.pCoeff) c = 0;
        const CKzVariant& plane = n[L"aFocusPlane"];
        if (!plane.IsUndefined()) {
            af.aFocusPlane.iDegree = i32Of(plane[L"iDegree"]);
            u32 values = u32Of(plane[L"uiValues"]);
            if (values > 6) values = 6;
            af.aFocusPlane.uiValues = values;
            const CKzVariant& coeff = plane[L"pCoeff"];
            if (!coeff.IsUndefined())
                for (u32 i = 0; i < values; ++i) af.aFocusPlane.pCoeff[i] = dblOf(coeff[(int)i]);
        }
        af.uiFlags = u32Of(n[L"uiFlags"]);
        af.iFocusCriterion = i32Of(n[L"iFocusCriterion"]);
        readFixed(af.sZDrive, n[L"sZDrive"]);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

// ---- level ------------------------------------------------------------------------------

int SKzExperiment::SaveToVariantOld(CKzVariant& node, const SKzExperiment& level)
{
    try {
        return saveLevel(node, level, 0);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

int SKzExperiment::SaveToVariant(CKzVariant& node, const SKzExperiment& level)
{
    try {
        return saveTree(node, level, 0);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

int SKzExperiment::LoadFromVariantOld(SKzExperiment& level, const CKzVariant& node)
{
    try {
        LoadBudget budget;
        return withBudget(loadLevel(level, node, 0, budget), budget);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}

int SKzExperiment::LoadFromVariant(SKzExperiment& level, const CKzVariant& node)
{
    try {
        LoadBudget budget;
        return withBudget(loadTree(level, node, 0, budget), budget);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
}
