#include "gnr_metaformats/CKzOpticalFilter.h"
#include "gnr_metaformats/KzMetaInternal.h"

#include <new>

using PT = SKzOFSpectrumPoint;

// ---- filter -------------------------------------------------------------------

CKzOpticalFilter::CKzOpticalFilter()
    : m_ePlacement(eOFPlacementExcitation), m_eNature(eOFNatureUnknown), m_eSpctType(eOFSpctTypeDefault), m_uiColor(0)
{
}

CKzOpticalFilter::CKzOpticalFilter(CKzStringW& name, EKzOpticalFilterPlacement placement, EKzOpticalFilterNature nature,
                                   EKzOpticalFilterSpctType spctType, unsigned int colour,
                                   CKzOpticalFilterSpectrum& excitation, CKzOpticalFilterSpectrum& emission,
                                   CKzOpticalFilterSpectrum& mirror)
    : m_sName(name), m_sUserName(name), m_ePlacement(placement), m_eNature(nature), m_eSpctType(spctType),
      m_uiColor(colour), m_ExcitationSpectrum(excitation), m_EmissionSpectrum(emission), m_MirrorSpectrum(mirror)
{
}

CKzOpticalFilter::CKzOpticalFilter(const CKzOpticalFilter& o)
    : m_sName(o.m_sName), m_sUserName(o.m_sUserName), m_ePlacement(o.m_ePlacement), m_eNature(o.m_eNature),
      m_eSpctType(o.m_eSpctType), m_uiColor(o.m_uiColor), m_ExcitationSpectrum(o.m_ExcitationSpectrum),
      m_EmissionSpectrum(o.m_EmissionSpectrum), m_MirrorSpectrum(o.m_MirrorSpectrum)
{
}

CKzOpticalFilter& CKzOpticalFilter::operator=(const CKzOpticalFilter& o)
{
    if (this == &o) return *this;
    m_sName = o.m_sName;
    m_sUserName = o.m_sUserName;
    m_ePlacement = o.m_ePlacement;
    m_eNature = o.m_eNature;
    m_eSpctType = o.m_eSpctType;
    m_uiColor = o.m_uiColor;
    m_ExcitationSpectrum = o.m_ExcitationSpectrum;
    m_EmissionSpectrum = o.m_EmissionSpectrum;
    m_MirrorSpectrum = o.m_MirrorSpectrum;
    return *this;
}

CKzOpticalFilter::~CKzOpticalFilter() {}

namespace {
bool ExcitationCounts(unsigned p) { return p == 1 || p == 3 || p == 4 || p == 6; }
bool EmissionCounts(unsigned p) { return p == 2 || p == 3 || p == 6; }
bool MirrorCounts(unsigned p) { return p == 3; }
} // namespace

CKzOpticalFilterSpectrum* CKzOpticalFilter::GetExcitationSpectrum()
{
    return ExcitationCounts(m_ePlacement) ? &m_ExcitationSpectrum : nullptr;
}
CKzOpticalFilterSpectrum* CKzOpticalFilter::GetEmissionSpectrum()
{
    return EmissionCounts(m_ePlacement) ? &m_EmissionSpectrum : nullptr;
}
CKzOpticalFilterSpectrum* CKzOpticalFilter::GetMirrorSpectrum()
{
    return MirrorCounts(m_ePlacement) ? &m_MirrorSpectrum : nullptr;
}
const CKzOpticalFilterSpectrum* CKzOpticalFilter::GetExcitationSpectrum() const
{
    return ExcitationCounts(m_ePlacement) ? &m_ExcitationSpectrum : nullptr;
}
const CKzOpticalFilterSpectrum* CKzOpticalFilter::GetEmissionSpectrum() const
{
    return EmissionCounts(m_ePlacement) ? &m_EmissionSpectrum : nullptr;
}
const CKzOpticalFilterSpectrum* CKzOpticalFilter::GetMirrorSpectrum() const
{
    return MirrorCounts(m_ePlacement) ? &m_MirrorSpectrum : nullptr;
}

kz_result CKzOpticalFilter::SetPlacement(EKzOpticalFilterPlacement placement)
{
    if (m_ePlacement == eOFPlacementExcitation && placement == eOFPlacementEmission) {
        m_EmissionSpectrum = m_ExcitationSpectrum;
    } else if (m_ePlacement == eOFPlacementEmission && placement == eOFPlacementExcitation) {
        m_ExcitationSpectrum = m_EmissionSpectrum;
    } else {
        return KZ_ERR_INVALID_ARG;
    }
    m_ePlacement = placement;
    return KZ_OK;
}

kz_result CKzOpticalFilter::SetName(const wchar_t* name)
{
    m_sName = name ? name : L"";
    return KZ_OK;
}

kz_result CKzOpticalFilter::SaveToVariant(CKzVariant& node, const CKzOpticalFilter& f)
{
    kzmeta::BeginStruct(node, "RKzOpticalFilter");
    node[L"m_sUserName"] = f.m_sUserName;
    node[L"m_sName"] = f.m_sName;
    node[L"m_ePlacement"] = static_cast<unsigned int>(f.m_ePlacement);
    node[L"m_eNature"] = static_cast<unsigned int>(f.m_eNature);
    node[L"m_eSpctType"] = static_cast<unsigned int>(f.m_eSpctType);
    node[L"m_uiColor"] = f.m_uiColor;
    if (CKzOpticalFilterSpectrum::SaveToVariant(node[L"m_ExcitationSpectrum"], f.m_ExcitationSpectrum) != KZ_OK)
        kzmeta::Failure(__LINE__);
    if (CKzOpticalFilterSpectrum::SaveToVariant(node[L"m_EmissionSpectrum"], f.m_EmissionSpectrum) != KZ_OK)
        kzmeta::Failure(__LINE__);
    if (CKzOpticalFilterSpectrum::SaveToVariant(node[L"m_MirrorSpectrum"], f.m_MirrorSpectrum) != KZ_OK)
        kzmeta::Failure(__LINE__);
    return KZ_OK;
}

kz_result CKzOpticalFilter::LoadFromVariant(CKzOpticalFilter& f, const CKzVariant& node)
{
    if (!kzmeta::IsRunType(node, "RKzOpticalFilter")) return KZ_ERR_INVALID_ARG;
    f.m_sUserName = node[L"m_sUserName"].GetCKzStringW();
    f.m_sName = node[L"m_sName"].GetCKzStringW();
    f.m_ePlacement = static_cast<EKzOpticalFilterPlacement>(node[L"m_ePlacement"].GetKz_uint32());
    f.m_eNature = static_cast<EKzOpticalFilterNature>(node[L"m_eNature"].GetKz_uint32());
    f.m_eSpctType = static_cast<EKzOpticalFilterSpctType>(node[L"m_eSpctType"].GetKz_uint32());
    f.m_uiColor = node[L"m_uiColor"].GetKz_uint32();
    if (CKzOpticalFilterSpectrum::LoadFromVariant(f.m_ExcitationSpectrum, node[L"m_ExcitationSpectrum"]) != KZ_OK)
        kzmeta::Failure(__LINE__);
    if (CKzOpticalFilterSpectrum::LoadFromVariant(f.m_EmissionSpectrum, node[L"m_EmissionSpectrum"]) != KZ_OK)
        kzmeta::Failure(__LINE__);
    if (CKzOpticalFilterSpectrum::LoadFromVariant(f.m_MirrorSpectrum, node[L"m_MirrorSpectrum"]) != KZ_OK)
        kzmeta::Failure(__LINE__);
    return KZ_OK;
}

kz_result CKzOpticalFilter::SaveToLiteVariant(CKzLiteVariantW& w, const CKzOpticalFilter& f)
{
    w.Set(f.m_sUserName.GetString(), L"m_sUserName");
    w.Set(f.m_sName.GetString(), L"m_sName");
    w.Set(static_cast<unsigned int>(f.m_ePlacement), L"m_ePlacement");
    w.Set(static_cast<unsigned int>(f.m_eNature), L"m_eNature");
    w.Set(static_cast<unsigned int>(f.m_eSpctType), L"m_eSpctType");
    w.Set(f.m_uiColor, L"m_uiColor");
    static const wchar_t* const names[3] = {L"m_ExcitationSpectrum", L"m_EmissionSpectrum", L"m_MirrorSpectrum"};
    const CKzOpticalFilterSpectrum* spectra[3] = {&f.m_ExcitationSpectrum, &f.m_EmissionSpectrum, &f.m_MirrorSpectrum};
    kz_result r = KZ_OK;
    for (int k = 0; k < 3; ++k) {
        r = w.LevelBegin(names[k]);
        if (r != KZ_OK) {
            kzmeta::Failure(__LINE__);
            continue;
        }
        r = CKzOpticalFilterSpectrum::SaveToVariantNew(w, *spectra[k]);
        if (r != KZ_OK) kzmeta::Failure(__LINE__);
        w.LevelEnd();
    }
    return r;
}

kz_result CKzOpticalFilter::LoadFromLiteVariant(CKzOpticalFilter& f, CKzLiteVariantR& r)
{
    r.GetCKzStringW(f.m_sUserName, L"m_sUserName", L"");
    r.GetCKzStringW(f.m_sName, L"m_sName", L"");
    f.m_ePlacement = static_cast<EKzOpticalFilterPlacement>(r.Get(L"m_ePlacement", 0u));
    f.m_eNature = static_cast<EKzOpticalFilterNature>(r.Get(L"m_eNature", 0u));
    f.m_eSpctType = static_cast<EKzOpticalFilterSpctType>(r.Get(L"m_eSpctType", 0u));
    f.m_uiColor = r.Get(L"m_uiColor", 0u);
    static const wchar_t* const names[3] = {L"m_ExcitationSpectrum", L"m_EmissionSpectrum", L"m_MirrorSpectrum"};
    CKzOpticalFilterSpectrum* spectra[3] = {&f.m_ExcitationSpectrum, &f.m_EmissionSpectrum, &f.m_MirrorSpectrum};
    for (int k = 0; k < 3; ++k) {
        if (r.LevelBegin(names[k]) != KZ_OK) continue;
        if (CKzOpticalFilterSpectrum::LoadFromVariantNew(*spectra[k], r) != KZ_OK) kzmeta::Failure(__LINE__);
        r.LevelEnd();
    }
    return KZ_OK;
}

kz_result CKzOpticalFilter::SaveUserNameToLiteVariant(CKzLiteVariantW& w, const CKzOpticalFilter& f)
{
    w.Set(f.m_sUserName.GetString(), L"m_sUserName");
    return w.Set(f.m_sName.GetString(), L"m_sName");
}

kz_result CKzOpticalFilter::LoadUserNameFromLiteVariant(CKzOpticalFilter& f, CKzLiteVariantR& r)
{
    r.GetCKzStringW(f.m_sUserName, L"m_sUserName", L"");
    r.GetCKzStringW(f.m_sName, L"m_sName", L"");
    return KZ_OK;
}

// ---- path ---------------------------------------------------------------------

CKzOpticalFilterPath::CKzOpticalFilterPath() : m_uiCount(0), m_pFilter(nullptr) {}

CKzOpticalFilterPath::CKzOpticalFilterPath(const CKzOpticalFilter& f1) : m_uiCount(0), m_pFilter(nullptr)
{
    CopyFrom(&f1, 1);
}

CKzOpticalFilterPath::CKzOpticalFilterPath(const CKzOpticalFilter& f1, const CKzOpticalFilter& f2)
    : m_uiCount(0), m_pFilter(nullptr)
{
    if (Reset(2)) {
        m_pFilter[0] = f1;
        m_pFilter[1] = f2;
    }
}

CKzOpticalFilterPath::CKzOpticalFilterPath(const CKzOpticalFilter& f1, const CKzOpticalFilter& f2,
                                           const CKzOpticalFilter& f3)
    : m_uiCount(0), m_pFilter(nullptr)
{
    if (Reset(3)) {
        m_pFilter[0] = f1;
        m_pFilter[1] = f2;
        m_pFilter[2] = f3;
    }
}

CKzOpticalFilterPath::CKzOpticalFilterPath(CKzOpticalFilter* filters, unsigned int n) : m_uiCount(0), m_pFilter(nullptr)
{
    if (filters) CopyFrom(filters, n);
}

CKzOpticalFilterPath::CKzOpticalFilterPath(const CKzOpticalFilterPath& o)
    : m_uiCount(0), m_pFilter(nullptr), m_sDescr(o.m_sDescr)
{
    CopyFrom(o.m_pFilter, o.m_uiCount);
}

CKzOpticalFilterPath& CKzOpticalFilterPath::operator=(const CKzOpticalFilterPath& o)
{
    if (this == &o) return *this;
    if (m_uiCount == o.m_uiCount) {
        for (unsigned i = 0; i < m_uiCount; ++i) m_pFilter[i] = o.m_pFilter[i];
    } else {
        CopyFrom(o.m_pFilter, o.m_uiCount);
    }
    m_sDescr = o.m_sDescr;
    return *this;
}

CKzOpticalFilterPath::~CKzOpticalFilterPath() { delete[] m_pFilter; }

bool CKzOpticalFilterPath::Reset(unsigned int n)
{
    delete[] m_pFilter;
    m_pFilter = nullptr;
    m_uiCount = 0;
    if (n == 0) return true;
    m_pFilter = new (std::nothrow) CKzOpticalFilter[n];
    if (!m_pFilter) return false;
    m_uiCount = n;
    return true;
}

void CKzOpticalFilterPath::CopyFrom(const CKzOpticalFilter* filters, unsigned int n)
{
    if (!Reset(n)) return;
    for (unsigned i = 0; i < n; ++i) m_pFilter[i] = filters[i];
}

namespace {

// What an emission or excitation search found.
struct SFound {
    bool found = false;
    bool band = false;
    double s = 0, e = 0;   // the band, or the point in s
};

bool SinglePoint(const CKzOpticalFilterSpectrum* sp) { return sp && sp->GetCount() == 1; }

bool SimpleBand(const CKzOpticalFilterSpectrum* sp)
{
    return sp && sp->GetCount() == 2 && sp->GetPoint(0)->eType == PT::eOFPointBandStart &&
           sp->GetPoint(1)->eType == PT::eOFPointBandEnd;
}

bool RangeMiddlePositive(const CKzOpticalFilterSpectrum* sp)
{
    double lo = 0, hi = 0;
    if (const_cast<CKzOpticalFilterSpectrum*>(sp)->GetWavelenghtRange(lo, hi) != KZ_OK) return false;
    return (lo + hi) / 2 > 0;
}

// The staged search: emission (placements 6, 2, 2, 3, 3) or excitation (6, 1, 1, 3, 3).
SFound StagedSearch(const CKzOpticalFilter* f, unsigned n, bool emission, bool needRange)
{
    SFound r;
    const unsigned main = emission ? 2 : 1;
    struct Stage {
        unsigned placement;
        bool band;
        bool range;
    } stages[5] = {{6, false, false}, {main, false, false}, {main, true, false}, {3, false, emission && needRange},
                   {3, true, false}};
    for (const Stage& st : stages) {
        for (unsigned i = 0; i < n; ++i) {
            if (f[i].GetPlacement() != st.placement) continue;
            const CKzOpticalFilterSpectrum* sp = emission ? f[i].GetEmissionSpectrum() : f[i].GetExcitationSpectrum();
            if (st.band ? !SimpleBand(sp) : !SinglePoint(sp)) continue;
            if (st.range && !RangeMiddlePositive(sp)) continue;
            r.found = true;
            r.band = st.band;
            r.s = sp->GetPoint(0)->dWavelength;
            r.e = st.band ? sp->GetPoint(1)->dWavelength : r.s;
            return r;
        }
    }
    return r;
}

// The fallback over the combined excitation and emission spectra.
SFound CombinedSearch(const CKzOpticalFilter* f, unsigned n, bool needRange)
{
    SFound r;
    CKzOpticalFilterSpectrum exc, em;
    for (unsigned i = 0; i < n; ++i) {
        const CKzOpticalFilterSpectrum* x = f[i].GetExcitationSpectrum();
        if (x && x->GetCount()) {
            CKzOpticalFilterSpectrum c(*x);
            exc.Combine(c, true);
        }
        const CKzOpticalFilterSpectrum* e = f[i].GetEmissionSpectrum();
        if (e && e->GetCount() && (!needRange || RangeMiddlePositive(e))) {
            CKzOpticalFilterSpectrum c(*e);
            em.Combine(c, true);
        }
    }
    const SKzOFSpectrumPoint* cut = nullptr;
    for (unsigned i = 0; i < exc.GetCount(); ++i) {
        const SKzOFSpectrumPoint* p = exc.GetPoint(i);
        if (p->eType == PT::eOFPointBandEnd || p->eType == PT::eOFPointLine) {
            cut = p;
            break;
        }
    }
    if (!cut || em.GetCount() == 0) return r;
    for (unsigned i = 0; i < em.GetCount(); ++i) {
        const SKzOFSpectrumPoint* p = em.GetPoint(i);
        if ((p->eType != PT::eOFPointBandStart && p->eType != PT::eOFPointLine) || !(p->dWavelength > cut->dWavelength))
            continue;
        r.found = true;
        r.s = p->dWavelength;
        if (p->eType == PT::eOFPointBandStart && i + 1 < em.GetCount()) {
            r.band = true;
            r.e = em.GetPoint(i + 1)->dWavelength;
        } else {
            r.e = r.s;
        }
        return r;
    }
    return r;
}

SFound EmissionSearch(const CKzOpticalFilter* f, unsigned n, bool needRange)
{
    SFound r = StagedSearch(f, n, true, needRange);
    if (!r.found) r = CombinedSearch(f, n, needRange);
    return r;
}

} // namespace

void CKzOpticalFilterPath::GetEmissionWavelengthDescription(CKzStringW& text)
{
    const SFound r = EmissionSearch(m_pFilter, m_uiCount, true);
    if (!r.found) return;
    if (r.band) text.Format(L"%.1lf - %.1lf", r.s, r.e);
    else text.Format(L"%.1lf", r.s);
}

double CKzOpticalFilterPath::GetMeanEmissionWavelength()
{
    const SFound r = EmissionSearch(m_pFilter, m_uiCount, true);
    return r.found ? (r.s + r.e) / 2 : 0.0;
}

double CKzOpticalFilterPath::GetLowEmissionWavelength() const
{
    const SFound r = EmissionSearch(m_pFilter, m_uiCount, false);
    return r.found ? (r.s < r.e ? r.s : r.e) : 0.0;
}

double CKzOpticalFilterPath::GetHightEmissionWavelength() const
{
    const SFound r = EmissionSearch(m_pFilter, m_uiCount, false);
    return r.found ? (r.s > r.e ? r.s : r.e) : 0.0;
}

double CKzOpticalFilterPath::GetLowExcitationWavelength() const
{
    const SFound r = StagedSearch(m_pFilter, m_uiCount, false, false);
    return r.found ? (r.s < r.e ? r.s : r.e) : 0.0;
}

double CKzOpticalFilterPath::GetHightExcitationWavelength() const
{
    const SFound r = StagedSearch(m_pFilter, m_uiCount, false, false);
    return r.found ? (r.s > r.e ? r.s : r.e) : 0.0;
}

double CKzOpticalFilterPath::GetMeanExcitationWavelength()
{
    if (m_uiCount == 0) return 0.0;
    for (unsigned i = 0; i < m_uiCount; ++i) {
        const CKzOpticalFilterSpectrum* sp = m_pFilter[i].GetExcitationSpectrum();
        if (m_pFilter[i].GetPlacement() == 6 && SinglePoint(sp)) return sp->GetPoint(0)->dWavelength;
    }
    double sumW = 0, sumV = 0;
    double firstW = 0;
    bool firstContributed = false;
    for (unsigned i = 0; i < m_uiCount; ++i) {
        const unsigned pl = m_pFilter[i].GetPlacement();
        if (pl != 1 && pl != 3 && pl != 4) continue;
        const CKzOpticalFilterSpectrum* sp = m_pFilter[i].GetExcitationSpectrum();
        const unsigned c = sp ? sp->GetCount() : 0;
        if (c != 1 && c != 2) continue;
        const SKzOFSpectrumPoint* p0 = sp->GetPoint(0);
        double w = p0->dWavelength;
        if (c == 2 && p0->eType == PT::eOFPointBandStart) w = (w + sp->GetPoint(1)->dWavelength) / 2;
        sumW += w * p0->dTValue;
        sumV += p0->dTValue;
        if (i == 0) {
            firstW = w;
            firstContributed = true;
        }
    }
    if (sumV > 0) return sumW / sumV;
    if (firstContributed) return firstW;
    const CKzOpticalFilterSpectrum* sp = m_pFilter[0].GetExcitationSpectrum();
    if (sp && (sp->GetCount() == 0 || sp->GetCount() > 2) && sp->GetPoint(0)->eType == PT::eOFPointLine)
        return sp->GetPoint(0)->dWavelength;
    return 0.0;
}

kz_result CKzOpticalFilterPath::SaveToVariant(CKzVariant& node, const CKzOpticalFilterPath& p)
{
    kzmeta::BeginStruct(node, "RKzOpticalFilterPath");
    node[L"m_sDescr"] = p.m_sDescr;
    node[L"m_uiCount"] = p.m_uiCount;
    CKzVariant& list = kzmeta::ListMember(node, L"m_pFilter");
    for (unsigned i = 0; i < p.m_uiCount; ++i)
        if (CKzOpticalFilter::SaveToVariant(kzmeta::AppendChild(list), p.m_pFilter[i]) != KZ_OK)
            kzmeta::Failure(__LINE__);
    return KZ_OK;
}

kz_result CKzOpticalFilterPath::LoadFromVariant(CKzOpticalFilterPath& p, const CKzVariant& node)
{
    if (!kzmeta::IsRunType(node, "RKzOpticalFilterPath")) return KZ_ERR_INVALID_ARG;
    p.m_sDescr = node[L"m_sDescr"].GetCKzStringW();
    const CKzVariant& list = node[L"m_pFilter"];
    const int children = list.GetCount();
    if (!p.Reset(children > 0 ? static_cast<unsigned>(children) : 0)) return KZ_OK;
    for (unsigned i = 0; i < p.m_uiCount; ++i) {
        const CKzVariant* c = list.IndexPtr(static_cast<int>(i));
        if (!c || CKzOpticalFilter::LoadFromVariant(p.m_pFilter[i], *c) != KZ_OK) {
            p.m_pFilter[i] = CKzOpticalFilter();
            kzmeta::Failure(__LINE__);
        }
    }
    return KZ_OK;
}

kz_result CKzOpticalFilterPath::SaveToLiteVariant(CKzLiteVariantW& w, const CKzOpticalFilterPath& p)
{
    w.Set(p.m_sDescr.GetString(), L"m_sDescr");
    w.Set(p.m_uiCount, L"m_uiCount");
    if (p.m_uiCount == 0) return KZ_OK;
    if (w.LevelBegin(L"m_pFilter") != KZ_OK) return KZ_OK;
    for (unsigned i = 0; i < p.m_uiCount; ++i) {
        if (w.LevelBegin(L"") != KZ_OK) {
            kzmeta::Failure(__LINE__);
            continue;
        }
        if (CKzOpticalFilter::SaveToLiteVariant(w, p.m_pFilter[i]) != KZ_OK) kzmeta::Failure(__LINE__);
        w.LevelEnd();
    }
    w.LevelEnd();
    return KZ_OK;
}

kz_result CKzOpticalFilterPath::LoadFromLiteVariant(CKzOpticalFilterPath& p, CKzLiteVariantR& r)
{
    r.GetCKzStringW(p.m_sDescr, L"m_sDescr", L"");
    const unsigned stored = r.Get(L"m_uiCount", 0u);
    p.Reset(0);
    if (stored == 0 || r.LevelBegin(L"m_pFilter") != KZ_OK) return KZ_OK;
    const unsigned present = kzmeta::CountRecords(r);
    const unsigned n = stored < present ? stored : present;
    if (p.Reset(n)) {
        for (unsigned i = 0; i < n && r.IsNextValue(); ++i) {
            if (r.CurrentLevelBegin() == KZ_OK) {
                CKzOpticalFilter::LoadFromLiteVariant(p.m_pFilter[i], r);
                r.LevelEnd();
            }
            if (r.NextValue() != KZ_OK) break;
        }
    }
    r.LevelEnd();
    return KZ_OK;
}
