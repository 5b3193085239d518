// Experiment events: life cycle, meaning tables and both persisted forms.
#include "gnr_metaformats/SKzExperimentEvent.h"
#include "gnr_metaformats/KzExperimentCommon.h"

#include <cmath>
#include <cwchar>
#include <new>

namespace {

const wchar_t kEmpty[] = L"";

wchar_t* dupText(const wchar_t* s)
{
    if (!s) return nullptr;
    const size_t n = std::wcslen(s);
    wchar_t* d = new (std::nothrow) wchar_t[n + 1];
    if (d) std::wmemcpy(d, s, n + 1);
    return d;
}

// An own copy of a loaded text; an empty one stays none.
wchar_t* dupNonEmpty(const wchar_t* s) { return (s && *s) ? dupText(s) : nullptr; }

// A stored meaning as loaded: the older user meanings 2 to 5 become the
// current user meanings 33 to 36, so hosts that select user events by the
// current meanings see them.
SKzExperimentEvent::EMeaning loadedMeaning(kz_uint32 m)
{
    if (m >= SKzExperimentEvent::eMeaningUser1Old && m <= SKzExperimentEvent::eMeaningUser4Old)
        m += SKzExperimentEvent::eMeaningUser1 - SKzExperimentEvent::eMeaningUser1Old;
    return (SKzExperimentEvent::EMeaning)m;
}

const wchar_t* const kStimText[6] = {L"Stim. None",     L"Stim. Sequential", L"Stim. Parallel",
                                     L"Stim. Manual",   L"Stim. Begin",      L"Stim. End"};

const CKzVariantRunType& eventRunType()
{
    static const CKzVariantRunType t("RKzExperimentEvent");
    return t;
}

} // namespace

const wchar_t* const SKzExperimentEvent::_pDescription[52] = {
    L"Unknown",
    L"Autofocus",
    L"User 1 old",
    L"User 2 old",
    L"User 3 old",
    L"User 4 old",
    L"Unknown",
    L"Command Executed",
    L"Unknown",
    L"Experiment Paused",
    L"Experiment Resumed",
    L"Experiment Stopped by User",
    L"Unknown",
    L"Next Phase Moved by User",
    L"Experiment Paused for Refocusing",
    L"Stimulation",
    L"External Stimulation",
    kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty,   // 17 to 24
    kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty, kEmpty,   // 25 to 32
    L"User 1",
    L"User 2",
    L"User 3",
    L"User 4",
    L"User 5",
    L"User 6",
    L"User 7",
    L"User 8",
    L"Before Capture",
    L"After Capture",
    kEmpty,
    L"No Acquisition Phase Start",
    L"No Acquisition Phase End",
    L"Hardware Error",
    L"Q-STORM",
    L"Incubation Info",
    L"Incubation Error",
    L"Interactive Finish",
    L"Pause Experiment",
};

const kz_uint32 SKzExperimentEvent::s_rgbBookmark[52] = {
    0x00888888, 0x00A4D498, 0x00ED1C24, 0x00F66512, 0x00F7941D, 0x00FFF200, 0x0088FFAA, 0x0066DD88,
    0x0044BB66, 0x008822FF, 0x006600DD, 0x004400BB, 0x0000DD00, 0x0000BB00, 0x00008800, 0x00E4D400,
    0,          0,          0,          0,          0,          0,          0,          0,
    0,          0,          0,          0,          0,          0,          0,          0,
    0,          0x00ED1C24, 0x00F66512, 0x00F7941D, 0x00FFF200, 0x0088FFAA, 0x0066DD88, 0x0044BB66,
    0x008822FF, 0,          0,          0,          0x008822FF, 0x006600DD, 0x00FF0000, 0x00DDDD00,
    0x00BD8686, 0x00FF0000, 0x008822FF, 0,
};

const wchar_t* KzExperimentEventMeaningText(kz_uint32 m) { return m < 52 ? SKzExperimentEvent::_pDescription[m] : kEmpty; }

kz_uint32 KzExperimentEventMeaningColor(kz_uint32 m) { return m < 52 ? SKzExperimentEvent::s_rgbBookmark[m] : 0; }

const wchar_t* KzExperimentEventStimulationText(kz_uint32 t) { return t < 6 ? kStimText[t] : nullptr; }

const wchar_t* KzExperimentEventText(const SKzExperimentEvent& e)
{
    if (e.eMeaning == SKzExperimentEvent::eMeaningStimulation && e.pStimulation)
        if (const wchar_t* s = KzExperimentEventStimulationText(e.pStimulation->eType)) return s;
    return KzExperimentEventMeaningText(e.eMeaning);
}

int ExperimentEventCompare(const void* a, const void* b)
{
    const double x = static_cast<const SKzExperimentEvent*>(a)->dTime;
    const double y = static_cast<const SKzExperimentEvent*>(b)->dTime;
    const bool nx = std::isnan(x), ny = std::isnan(y);
    if (nx || ny) return nx == ny ? 0 : (nx ? 1 : -1);
    return x < y ? -1 : (x > y ? 1 : 0);
}

// ---- stimulation -------------------------------------------------------------------

int SKzExperimentEvent::SKzStimulationDescription::SaveToVariant(CKzVariant& ev, const SKzStimulationDescription* d)
{
    if (!d) return KZ_OK;
    try {
        CKzVariant& s = ev[L"pStimulation"];
        if (s.IsSharedUndef()) return KZ_OK;
        const bool old = s.EnableTypeChange(true);
        s = CKzListVariant();
        s.Append(CKzVariant((unsigned)d->eType, CKzStringW(L"eType")));
        s.Append(CKzVariant((unsigned)d->uiLoopIdx, CKzStringW(L"uiLoopIdx")));
        s.Append(CKzVariant((unsigned)d->uiPosition, CKzStringW(L"uiPosition")));
        s.EnableTypeChange(old);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int SKzExperimentEvent::SKzStimulationDescription::SaveToLiteVariant(CKzLiteVariantW& w,
                                                                     const SKzStimulationDescription* d)
{
    if (!d) return KZ_OK;
    if (w.LevelBegin(L"S") != KZ_OK) return KZ_OK;
    w.Set((unsigned)d->eType, L"T");
    w.Set((unsigned)d->uiLoopIdx, L"L");
    w.Set((unsigned)d->uiPosition, L"P");
    w.LevelEnd();
    return KZ_OK;
}

int SKzExperimentEvent::SKzStimulationDescription::LoadFromVariant(SKzStimulationDescription** d,
                                                                   const CKzVariant& ev)
{
    if (!d) return KZ_ERR_FAILED;
    *d = nullptr;
    const CKzVariant* s = ev.SearchFixedOneLevel(L"pStimulation");
    if (!s || s->IsUndefined() || s->GetCount() == 0) return KZ_OK;
    SKzStimulationDescription* n = new (std::nothrow) SKzStimulationDescription;
    if (!n) return KZ_ERR_OUT_OF_MEMORY;
    const CKzVariant* p = s->SearchFixedOneLevel(L"eType");
    n->eType = (p && !p->IsUndefined()) ? (EStimulationType)p->GetKz_uint32() : eStimSequential;
    p = s->SearchFixedOneLevel(L"uiLoopIdx");
    n->uiLoopIdx = p ? p->GetKz_uint32() : 0;
    p = s->SearchFixedOneLevel(L"uiPosition");
    n->uiPosition = p ? p->GetKz_uint32() : 0;
    *d = n;
    return KZ_OK;
}

int SKzExperimentEvent::SKzStimulationDescription::LoadFromLiteVariant(SKzStimulationDescription** d,
                                                                       CKzLiteVariantR& r)
{
    if (!d) return KZ_ERR_FAILED;
    *d = nullptr;
    if (r.LevelBegin(L"S") != KZ_OK) return KZ_OK;
    SKzStimulationDescription* n = new (std::nothrow) SKzStimulationDescription;
    if (n) {
        n->eType = (EStimulationType)r.Get(L"T", 1u);
        n->uiLoopIdx = r.Get(L"L", 0u);
        n->uiPosition = r.Get(L"P", 0u);
    }
    r.LevelEnd();
    *d = n;
    return n ? KZ_OK : KZ_ERR_OUT_OF_MEMORY;
}

// ---- event ----------------------------------------------------------------------------

int SKzExperimentEvent::Init(SKzExperimentEvent& e, double t, EMeaning m, const wchar_t* desc, const wchar_t* data,
                             kz_uint32 id)
{
    e.dTime = t;
    e.dTime2 = 0;
    e.eMeaning = m;
    e.wsDescription = dupText(desc);
    e.wsData = dupText(data);
    e.uiID = id;
    e.pStimulation = nullptr;
    return KZ_OK;
}

int SKzExperimentEvent::SetDescription(SKzExperimentEvent& e, const wchar_t* desc, const wchar_t* data)
{
    // Copies first: the new texts may be the old ones.
    wchar_t* d1 = dupText(desc);
    wchar_t* d2 = dupText(data);
    delete[] e.wsDescription;
    delete[] e.wsData;
    e.wsDescription = d1;
    e.wsData = d2;
    return KZ_OK;
}

int SKzExperimentEvent::SetStimulation(SKzExperimentEvent& e, EStimulationType t, kz_uint32 loop, kz_uint32 pos)
{
    if (t == eStimNone) {
        delete e.pStimulation;
        e.pStimulation = nullptr;
        return KZ_OK;
    }
    if (!e.pStimulation) {
        e.pStimulation = new (std::nothrow) SKzStimulationDescription;
        if (!e.pStimulation) return KZ_ERR_OUT_OF_MEMORY;
    }
    e.pStimulation->eType = t;
    e.pStimulation->uiLoopIdx = loop;
    e.pStimulation->uiPosition = pos;
    return KZ_OK;
}

int SKzExperimentEvent::Free(SKzExperimentEvent& e)
{
    delete e.pStimulation;
    delete[] e.wsDescription;
    delete[] e.wsData;
    e.pStimulation = nullptr;
    e.wsDescription = e.wsData = nullptr;
    e.dTime = e.dTime2 = 0;
    e.eMeaning = eMeaningUnknown;
    e.uiID = 0;
    return KZ_OK;
}

SKzExperimentEvent& SKzExperimentEvent::operator=(const SKzExperimentEvent& o)
{
    if (this == &o) return *this;
    dTime = o.dTime;
    dTime2 = o.dTime2;
    eMeaning = o.eMeaning;
    uiID = o.uiID;
    uiReserved[0] = o.uiReserved[0];
    uiReserved[1] = o.uiReserved[1];
    SetDescription(*this, o.wsDescription, o.wsData);
    delete pStimulation;
    pStimulation = nullptr;
    if (o.pStimulation) {
        pStimulation = new (std::nothrow) SKzStimulationDescription;
        if (pStimulation) *pStimulation = *o.pStimulation;
    }
    return *this;
}

int SKzExperimentEvent::SaveToVariant(CKzVariant& v, const SKzExperimentEvent& e)
{
    try {
        const bool old = v.EnableTypeChange(true);
        v.SetRunType(eventRunType());
        v.EnableTypeChange(old);
        v[L"dTime"] = e.dTime;
        if (e.dTime2 != 0) v[L"dTime2"] = e.dTime2;
        v[L"eMeaning"] = (unsigned)e.eMeaning;
        v[L"wsDescription"] = CKzStringW(e.wsDescription ? e.wsDescription : L"");
        v[L"wsData"] = CKzStringW(e.wsData ? e.wsData : L"");
        v[L"uiID"] = (unsigned)e.uiID;
        SKzStimulationDescription::SaveToVariant(v, e.pStimulation);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int SKzExperimentEvent::SaveToLiteVariant(CKzLiteVariantW& w, const SKzExperimentEvent& e)
{
    w.Set(e.dTime, L"T");
    if (e.dTime2 != 0) w.Set(e.dTime2, L"T2");
    w.Set((unsigned)e.eMeaning, L"M");
    if (e.wsDescription) w.Set((const wchar_t*)e.wsDescription, L"D");
    if (e.wsData) w.Set((const wchar_t*)e.wsData, L"A");
    w.Set((unsigned)e.uiID, L"I");
    SKzStimulationDescription::SaveToLiteVariant(w, e.pStimulation);
    return KZ_OK;
}

int SKzExperimentEvent::LoadFromVariant(SKzExperimentEvent& e, const CKzVariant& v)
{
    if (v.GetRunType() != eventRunType()) return KZ_ERR_INVALID_ARG;
    try {
        e.dTime = v[L"dTime"].GetDouble();
        e.dTime2 = v[L"dTime2"].GetDouble();
        e.eMeaning = loadedMeaning(v[L"eMeaning"].GetKz_uint32());
        e.wsDescription = dupNonEmpty(v[L"wsDescription"].GetCKzStringW().GetString());
        e.wsData = dupNonEmpty(v[L"wsData"].GetCKzStringW().GetString());
        e.uiID = v[L"uiID"].GetKz_uint32();
        SKzStimulationDescription::LoadFromVariant(&e.pStimulation, v);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int SKzExperimentEvent::LoadFromLiteVariant(SKzExperimentEvent& e, CKzLiteVariantR& r)
{
    e.dTime = r.Get(L"T", 0.0);
    e.dTime2 = r.Get(L"T2", 0.0);
    e.eMeaning = loadedMeaning(r.Get(L"M", 0u));
    e.wsDescription = dupNonEmpty(r.Get(L"D", (const wchar_t*)L""));
    e.wsData = dupNonEmpty(r.Get(L"A", (const wchar_t*)L""));
    e.uiID = r.Get(L"I", 0u);
    SKzStimulationDescription::LoadFromLiteVariant(&e.pStimulation, r);
    return KZ_OK;
}
