// Lite-variant levels of the custom description items. Every class level
// holds its base class's level first, then its own records; presets and
// selection labels are levels of unnamed children.
#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_metaformats/KzCustomDescriptionImpl.h"
#include "gnr_system/CKzLiteVariant.h"

using Desc = CKzCustomDescription;
using namespace kzdesc;

namespace {

// A child count read from a blob: a level of n children carries n 8-byte
// index entries, so a count the blob cannot hold is cut to what it can.
unsigned BoundedCount(const CKzLiteVariantR& r, unsigned n)
{
    u64 fit = (u64)r.GetSize() / 8;
    if (n > fit) n = (unsigned)fit;
    if (n > (unsigned)kMaxListEntries) n = (unsigned)kMaxListEntries;
    return n;
}

void WriteValue(CKzLiteVariantW& w, int v) { w.Set(v, L"aValue"); }
void WriteValue(CKzLiteVariantW& w, double v) { w.Set(v, L"aValue"); }
void WriteValue(CKzLiteVariantW& w, const CKzStringW& v) { w.Set(v.GetString(), L"aValue"); }
// Date presets keep their value as a Julian day number.
void WriteValue(CKzLiteVariantW& w, const CKzDateTime& v) { w.Set(v.GetJulianDayNumber(), L"aValue"); }

void ReadValue(CKzLiteVariantR& r, int& v) { v = r.Get(L"aValue", 0); }
void ReadValue(CKzLiteVariantR& r, double& v) { v = r.Get(L"aValue", 0.0); }
void ReadValue(CKzLiteVariantR& r, CKzStringW& v) { r.GetCKzStringW(v, L"aValue", L""); }
void ReadValue(CKzLiteVariantR& r, CKzDateTime& v) { v.Set(r.Get(L"aValue", 0.0)); }

template <class P>
void SavePresets(CKzLiteVariantW& w, const std::vector<P>& presets)
{
    if (presets.empty()) return;
    if (w.LevelBegin(L"vPresets") != KZ_OK) return;
    for (const P& p : presets) {
        if (w.LevelBegin(L"") != KZ_OK) break;
        w.Set(p.wsName.GetString(), L"sName");
        WriteValue(w, p.value);
        w.Set(p.bEmpty, L"bEmpty");
        w.LevelEnd();
    }
    w.LevelEnd();
}

template <class P>
void LoadPresets(CKzLiteVariantR& r, std::vector<P>& presets)
{
    unsigned n = 0;
    if (r.LevelBegin(L"vPresets", &n) != KZ_OK) {
        presets.clear();
        return;
    }
    n = BoundedCount(r, n);
    try {
        presets.resize(n);
    } catch (...) {
        presets.clear();
        r.LevelEnd();
        return;
    }
    for (unsigned i = 0; i < n; ++i) {
        if (!r.IsNextValue()) break;
        if (r.GetCurrentType() == eKzLVLevel && r.CurrentLevelBegin() == KZ_OK) {
            P& p = presets[i];
            r.GetCKzStringW(p.wsName, L"sName", L"");
            ReadValue(r, p.value);
            p.bEmpty = r.Get(L"bEmpty", true);
            r.LevelEnd();
        }
        if (r.NextValue() != KZ_OK) break;
    }
    r.LevelEnd();
}

} // namespace

// ---------------------------------------------------------------------------
// Base level

int Desc::CKzItem::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"CKzItem") != KZ_OK) return KZ_OK;
    w.Set((int)m_eType, L"eType");
    w.Set(m_wsName.GetString(), L"sName");
    w.Set(m_wsDescription.GetString(), L"sDescription");
    w.Set(m_bEmpty, L"bEmpty");
    w.Set(m_bEmptyDefault, L"bEmptyDefault");
    w.Set(m_bMandatory, L"bMandatory");
    w.Set((long)m_lID, L"iID");
    w.Set(m_bEnabled, L"bEnabled");
    w.LevelEnd();
    return KZ_OK;
}

int Desc::CKzItem::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"CKzItem") != KZ_OK) return KZ_OK;
    m_eType = (EKzType)r.Get(L"eType", 0);
    r.GetCKzStringW(m_wsName, L"sName", L"");
    r.GetCKzStringW(m_wsDescription, L"sDescription", L"");
    m_bEmpty = r.Get(L"bEmpty", true);
    m_bEmptyDefault = r.Get(L"bEmptyDefault", true);
    m_bMandatory = r.Get(L"bMandatory", false);
    m_lID = r.Get(L"iID", (long)0);
    m_bEnabled = r.Get(L"bEnabled", true);
    r.LevelEnd();
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Class levels

int Desc::CKzLabel::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"CKzLabel") != KZ_OK) return KZ_OK;
    CKzItem::SaveToLiteVariant(w);
    w.Set(m_iCheck, L"iChecked");
    w.Set(m_iDefault, L"iDefault");
    SavePresets(w, m_vPresets);
    w.LevelEnd();
    return KZ_OK;
}

int Desc::CKzLabel::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"CKzLabel") != KZ_OK) return KZ_OK;
    CKzItem::LoadFromLiteVariant(r);
    m_iCheck = r.Get(L"iChecked", 0);
    m_iDefault = r.Get(L"iDefault", 0);
    LoadPresets(r, m_vPresets);
    r.LevelEnd();
    return KZ_OK;
}

int Desc::CKzNumber::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"CKzNumber") != KZ_OK) return KZ_OK;
    CKzItem::SaveToLiteVariant(w);
    w.Set(m_wsUnit.GetString(), L"sUnit");
    w.Set(m_dValue, L"dValue");
    w.Set(m_dDefault, L"dDefault");
    w.Set((unsigned)m_eFormat, L"eFormat");
    w.Set(m_uiPlaces, L"uiPlaces");
    SavePresets(w, m_vPresets);
    w.LevelEnd();
    return KZ_OK;
}

int Desc::CKzNumber::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"CKzNumber") != KZ_OK) return KZ_OK;
    CKzItem::LoadFromLiteVariant(r);
    r.GetCKzStringW(m_wsUnit, L"sUnit", L"");
    m_dValue = r.Get(L"dValue", 0.0);
    m_dDefault = r.Get(L"dDefault", 0.0);
    m_eFormat = (EKzNumberFormat)(int)r.Get(L"eFormat", 0u);
    m_uiPlaces = r.Get(L"uiPlaces", 3u);
    LoadPresets(r, m_vPresets);
    r.LevelEnd();
    return KZ_OK;
}

int Desc::CKzText::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"CKzText") != KZ_OK) return KZ_OK;
    CKzItem::SaveToLiteVariant(w);
    w.Set(m_wsText.GetString(), L"sText");
    w.Set(m_wsDefault.GetString(), L"sDefault");
    SavePresets(w, m_vPresets);
    w.LevelEnd();
    return KZ_OK;
}

int Desc::CKzText::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"CKzText") != KZ_OK) return KZ_OK;
    CKzItem::LoadFromLiteVariant(r);
    r.GetCKzStringW(m_wsText, L"sText", L"");
    r.GetCKzStringW(m_wsDefault, L"sDefault", L"");
    LoadPresets(r, m_vPresets);
    r.LevelEnd();
    return KZ_OK;
}

// A long text is its text level wrapped in a level of its own name.
int Desc::CKzLongText::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"CKzLongText") != KZ_OK) return KZ_OK;
    CKzText::SaveToLiteVariant(w);
    w.LevelEnd();
    return KZ_OK;
}

int Desc::CKzLongText::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"CKzLongText") != KZ_OK) return KZ_OK;
    CKzText::LoadFromLiteVariant(r);
    r.LevelEnd();
    return KZ_OK;
}

int Desc::CKzSelection::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"CKzSelection") != KZ_OK) return KZ_OK;
    CKzItem::SaveToLiteVariant(w);
    w.Set(m_iSelection, L"iSelection");
    w.Set(m_iDefault, L"iDefault");
    if (w.LevelBegin(L"vLabels") == KZ_OK) {
        for (const CKzStringW& l : m_vLabels) w.Set(l.GetString(), L"");
        w.LevelEnd();
    }
    SavePresets(w, m_vPresets);
    w.LevelEnd();
    return KZ_OK;
}

int Desc::CKzSelection::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"CKzSelection") != KZ_OK) return KZ_OK;
    CKzItem::LoadFromLiteVariant(r);
    m_iSelection = r.Get(L"iSelection", 0);
    m_iDefault = r.Get(L"iDefault", 0);
    unsigned n = 0;
    if (r.LevelBegin(L"vLabels", &n) == KZ_OK) {
        n = BoundedCount(r, n);
        std::vector<CKzStringW> labels;
        try {
            labels.resize(n);
        } catch (...) {
            n = 0;
        }
        bool more = true;
        for (unsigned i = 0; i < n && more; ++i) {
            if (!r.IsNextValue()) break;
            if (r.GetCurrentType() == eKzLVText) r.GetCurrentValueCKzStringW(labels[i], L"");
            more = r.NextValue() == KZ_OK;
        }
        m_vLabels.swap(labels);
        r.LevelEnd();
    }
    LoadPresets(r, m_vPresets);
    r.LevelEnd();
    return KZ_OK;
}

int Desc::CKzDate::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (w.LevelBegin(L"CKzDate") != KZ_OK) return KZ_OK;
    CKzItem::SaveToLiteVariant(w);
    w.Set((long)m_aValue.GetValue(), L"aDate");
    w.Set((long)m_aDefault.GetValue(), L"aDefault");
    w.Set((int)m_eDateFormat, L"eDateFormat");
    SavePresets(w, m_vPresets);
    w.LevelEnd();
    return KZ_OK;
}

int Desc::CKzDate::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    if (r.LevelBegin(L"CKzDate") != KZ_OK) return KZ_OK;
    CKzItem::LoadFromLiteVariant(r);
    m_aValue.SetValue(r.Get(L"aDate", (long)0));
    m_aDefault.SetValue(r.Get(L"aDefault", (long)0));
    m_eDateFormat = (EKzDateFormat)r.Get(L"eDateFormat", 0);
    LoadPresets(r, m_vPresets);
    r.LevelEnd();
    return KZ_OK;
}
