// Items of custom description forms: values, defaults, presets, comparison,
// value transfer, text/number/check views and the diagnostic trace.
#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_metaformats/KzCustomDescriptionImpl.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariantText.h"

#include <cwchar>

using Desc = CKzCustomDescription;
using namespace kzdesc;

// ---------------------------------------------------------------------------
// CKzItem

Desc::CKzItem::CKzItem() : CKzItem(nullptr, eKzTypeItem) {}
Desc::CKzItem::CKzItem(EKzType type) : CKzItem(nullptr, type) {}
Desc::CKzItem::CKzItem(const wchar_t* name) : CKzItem(name, eKzTypeItem) {}

Desc::CKzItem::CKzItem(const wchar_t* name, EKzType type)
    : m_lID(0), m_eType(type), m_wsName(name ? name : L""), m_wsDescription(), m_bEmpty(true),
      m_bEmptyDefault(true), m_bMandatory(false), m_bEnabled(true), m_bUsed(false), m_pUnknown(nullptr)
{
}

// The kept raw copy of an unknown class stays with the original.
Desc::CKzItem::CKzItem(const CKzItem& o)
    : m_lID(o.m_lID), m_eType(o.m_eType), m_wsName(o.m_wsName), m_wsDescription(o.m_wsDescription),
      m_bEmpty(o.m_bEmpty), m_bEmptyDefault(o.m_bEmptyDefault), m_bMandatory(o.m_bMandatory),
      m_bEnabled(o.m_bEnabled), m_bUsed(o.m_bUsed), m_pUnknown(nullptr)
{
}

Desc::CKzItem::~CKzItem()
{
    delete m_pUnknown;
}

const wchar_t* Desc::CKzItem::GetName() const { return m_wsName.GetString(); }
const wchar_t* Desc::CKzItem::GetDescription() const { return m_wsDescription.GetString(); }
Desc::EKzType Desc::CKzItem::GetType() const { return m_eType; }
CKzStringW Desc::CKzItem::GetText() const { return CKzStringW(); }
double Desc::CKzItem::GetNumber() const { return 0.0; }
int Desc::CKzItem::GetCheck() const { return 0; }
int Desc::CKzItem::GetSelection() const { return -1; }
CKzStringW Desc::CKzItem::GetSelectionLabel(int) const { return CKzStringW(); }
int Desc::CKzItem::GetSelectionLabelCount() const { return 0; }
int Desc::CKzItem::GetNumberFormat(EKzNumberFormat*, unsigned*) const { return KZ_ERR_FAILED; }
bool Desc::CKzItem::IsNULL() const { return m_eType == eKzTypeItem && m_bEmpty && m_wsName.IsEmpty(); }
bool Desc::CKzItem::IsEmpty() const { return m_bEmpty; }
bool Desc::CKzItem::IsEmptyDefault() const { return m_bEmptyDefault; }
bool Desc::CKzItem::IsMandatory() const { return m_bMandatory; }
bool Desc::CKzItem::IsEnabled() const { return m_bEnabled; }
bool Desc::CKzItem::IsUsed() const { return m_bUsed; }
bool Desc::CKzItem::IsQuality() const
{
    return m_eType == eKzTypeText || m_eType == eKzTypeSelection || m_eType == eKzTypeLongText;
}
bool Desc::CKzItem::IsQuantity() const { return m_eType == eKzTypeNumber || m_eType == eKzTypeDate; }
bool Desc::CKzItem::IsDefault() const { return true; }
long Desc::CKzItem::GetID() const { return m_lID; }

long Desc::CKzItem::SetID(long id)
{
    long old = m_lID;
    m_lID = id;
    return old;
}

int Desc::CKzItem::CompareBase(const CKzItem* o, bool structureOnly) const
{
    if (!o) return 1;
    if (m_eType != o->m_eType) return m_eType < o->m_eType ? -1 : 1;
    if (!structureOnly && m_bEnabled != o->m_bEnabled) return m_bEnabled ? -1 : 1;
    if (m_bMandatory != o->m_bMandatory) return m_bMandatory ? -1 : 1;
    int c = Sign(wcscmp(m_wsDescription.GetString(), o->m_wsDescription.GetString()));
    if (c) return c;
    return Sign(wcscmp(m_wsName.GetString(), o->m_wsName.GetString()));
}

int Desc::CKzItem::Compare(const CKzItem* other, bool structureOnly) const
{
    return CompareBase(other, structureOnly);
}

int Desc::CKzItem::Trace(CKzStringW* out) const
{
    CKzStringW line;
    if (IsNULL()) {
        line = L"NULL";
    } else {
        const wchar_t* word;
        switch (m_eType) {
        case eKzTypeLabel: word = L"Label"; break;
        case eKzTypeNumber: word = L"Number"; break;
        case eKzTypeText: word = L"Text"; break;
        case eKzTypeSelection: word = L"Selection"; break;
        case eKzTypeLongText: word = L"LongText"; break;
        default: word = L"Unknown"; break;
        }
        CKzStringW text = GetText();
        line.Format(L"%s: %s, Text: %s, Number: %.3lf, Check: (%s)", m_wsName.GetString(), word, text.GetString(),
                    GetNumber(), GetCheck() ? L"X" : L"O");
    }
    if (out) out->AppendFormat(L"%s\n", line.GetString());
    return KZ_OK;
}

Desc::CKzItem* Desc::CKzItem::Duplicate() const { return new (std::nothrow) CKzItem(*this); }

int Desc::CKzItem::SetUnknownData(CKzLiteVariantR& reader)
{
    if (!m_pUnknown) {
        m_pUnknown = new (std::nothrow) CKzLiteVariantR();
        if (!m_pUnknown) return KZ_ERR_OUT_OF_MEMORY;
    }
    if (m_pUnknown == &reader) return KZ_OK;
    *m_pUnknown = reader;
    m_pUnknown->Reset();
    return KZ_OK;
}

const CKzLiteVariantR* Desc::CKzItem::GetUnknownData() const { return m_pUnknown; }

int Desc::CKzItem::SwitchDefaultValue(bool keep)
{
    bool old = m_bEmpty;
    m_bEmpty = m_bEmptyDefault;
    if (!keep) m_bEmptyDefault = old;
    return KZ_OK;
}

int Desc::CKzItem::UsePreset(int) { return KZ_ERR_FAILED; }
int Desc::CKzItem::StorePreset(int, const wchar_t*) { return KZ_ERR_FAILED; }
int Desc::CKzItem::RemovePreset(int) { return KZ_ERR_FAILED; }
int Desc::CKzItem::GetPresetCount() const { return 0; }
const wchar_t* Desc::CKzItem::GetPresetName(int) const { return L""; }

bool Desc::CKzItem::SetMandatory(bool v)
{
    bool old = m_bMandatory;
    m_bMandatory = v;
    return old;
}

bool Desc::CKzItem::SetEnabled(bool v)
{
    bool old = m_bEnabled;
    m_bEnabled = v;
    return old;
}

bool Desc::CKzItem::SetUsed(bool v)
{
    bool old = m_bUsed;
    m_bUsed = v;
    return old;
}

int Desc::CKzItem::SetName(const wchar_t* name)
{
    m_wsName = name ? name : L"";
    return KZ_OK;
}

int Desc::CKzItem::SetDescription(const wchar_t* description)
{
    m_wsDescription = description ? description : L"";
    return KZ_OK;
}

int Desc::CKzItem::SetEmpty()
{
    m_bEmpty = true;
    return KZ_OK;
}

int Desc::CKzItem::SetValue(const CKzItem* other)
{
    if (other && other->IsEmpty()) m_bEmpty = true;
    return KZ_OK;
}

void Desc::CKzItem::Release() { delete this; }

int Desc::CKzItem::SetText(const wchar_t* text)
{
    if (text) return KZ_ERR_FAILED;
    m_bEmpty = true;
    return KZ_OK;
}

int Desc::CKzItem::SetNumber(double) { return KZ_ERR_FAILED; }

bool Desc::CKzItem::operator==(const CKzItem& o) const
{
    if (wcscmp(m_wsName.GetString(), o.m_wsName.GetString()) != 0) return false;
    if (m_eType == eKzTypeItem || o.m_eType == eKzTypeItem) return true;
    return Compare(&o, false) == 0;
}

Desc::CKzItem* Desc::CKzItem::Create() { return new (std::nothrow) CKzItem(); }

// ---------------------------------------------------------------------------
// CKzLabel

Desc::CKzLabel::CKzLabel() : CKzLabel(nullptr) {}
Desc::CKzLabel::CKzLabel(const wchar_t* name) : CKzItem(name, eKzTypeLabel), m_iCheck(0), m_iDefault(0) {}
Desc::CKzLabel::CKzLabel(const wchar_t* name, int check) : CKzItem(name, eKzTypeLabel), m_iCheck(check), m_iDefault(check)
{
    m_bEmpty = m_bEmptyDefault = false;
}
Desc::CKzLabel::CKzLabel(const CKzLabel& o)
    : CKzItem(o), m_iCheck(o.m_iCheck), m_iDefault(o.m_iDefault), m_vPresets(o.m_vPresets)
{
}
Desc::CKzLabel::~CKzLabel() {}

CKzStringW Desc::CKzLabel::GetText() const
{
    if (m_bEmpty) return CKzStringW();
    return CKzStringW(m_iCheck ? L"On" : L"Off");
}
double Desc::CKzLabel::GetNumber() const { return (double)m_iCheck; }
int Desc::CKzLabel::GetCheck() const { return m_iCheck; }

bool Desc::CKzLabel::IsDefault() const
{
    if (m_bEmptyDefault) return m_bEmpty;
    return !m_bEmpty && m_iCheck == m_iDefault;
}

int Desc::CKzLabel::Compare(const CKzItem* other, bool structureOnly) const
{
    int c = CompareBase(other, structureOnly);
    const CKzLabel* o = dynamic_cast<const CKzLabel*>(other);
    if (c || !o) return c;
    if ((c = CompareFlagFirst(!m_bEmptyDefault, !o->m_bEmptyDefault))) return c;
    if ((c = CompareValue(m_iDefault != 0, o->m_iDefault != 0))) return c;
    if ((c = ComparePresets(m_vPresets, o->m_vPresets))) return c;
    if (structureOnly) return 0;
    if ((c = CompareFlagFirst(!m_bEmpty, !o->m_bEmpty))) return c;
    return CompareValue(m_iCheck != 0, o->m_iCheck != 0);
}

Desc::CKzItem* Desc::CKzLabel::Duplicate() const { return new (std::nothrow) CKzLabel(*this); }

int Desc::CKzLabel::SwitchDefaultValue(bool keep)
{
    int old = m_iCheck;
    m_iCheck = m_iDefault;
    if (!keep) m_iDefault = old;
    return CKzItem::SwitchDefaultValue(keep);
}

int Desc::CKzLabel::UsePreset(int index) { return UsePresetOf(m_vPresets, index, m_iCheck, m_bEmpty); }
int Desc::CKzLabel::StorePreset(int index, const wchar_t* name)
{
    return StorePresetOf(m_vPresets, index, name, m_iCheck, m_bEmpty);
}
int Desc::CKzLabel::RemovePreset(int index) { return RemovePresetOf(m_vPresets, index); }
int Desc::CKzLabel::GetPresetCount() const { return (int)m_vPresets.size(); }
const wchar_t* Desc::CKzLabel::GetPresetName(int index) const { return PresetNameOf(m_vPresets, index); }

int Desc::CKzLabel::SetValue(const CKzItem* other)
{
    if (other && !other->IsEmpty() && dynamic_cast<const CKzLabel*>(other)) SetCheck(other->GetCheck());
    return CKzItem::SetValue(other);
}

int Desc::CKzLabel::SetNumber(double x)
{
    m_iCheck = x > 0 ? 1 : 0;
    m_bEmpty = false;
    return KZ_OK;
}

int Desc::CKzLabel::SetCheck(int check)
{
    int old = m_iCheck;
    m_iCheck = check;
    m_bEmpty = false;
    return old;
}

Desc::CKzItem* Desc::CKzLabel::Create() { return new (std::nothrow) CKzLabel(); }

// ---------------------------------------------------------------------------
// CKzNumber

Desc::CKzNumber::CKzNumber() : CKzNumber(nullptr) {}
Desc::CKzNumber::CKzNumber(const wchar_t* name)
    : CKzItem(name, eKzTypeNumber), m_dValue(0.0), m_dDefault(0.0), m_wsUnit(), m_eFormat(eKzFixed), m_uiPlaces(3)
{
}
Desc::CKzNumber::CKzNumber(const wchar_t* name, double value, const wchar_t* unit)
    : CKzItem(name, eKzTypeNumber), m_dValue(value), m_dDefault(value), m_wsUnit(unit ? unit : L""),
      m_eFormat(eKzFixed), m_uiPlaces(3)
{
    m_bEmpty = m_bEmptyDefault = false;
}
Desc::CKzNumber::CKzNumber(const CKzNumber& o)
    : CKzItem(o), m_dValue(o.m_dValue), m_dDefault(o.m_dDefault), m_wsUnit(o.m_wsUnit), m_eFormat(o.m_eFormat),
      m_uiPlaces(o.m_uiPlaces), m_vPresets(o.m_vPresets)
{
}
Desc::CKzNumber::~CKzNumber() {}

CKzStringW Desc::CKzNumber::GetText() const
{
    CKzStringW s;
    if (m_bEmpty) return s;
    // Stored places are kept as read; printing takes a sane precision.
    int places = m_uiPlaces > 20 ? 20 : (int)m_uiPlaces;
    s.Format(m_eFormat == eKzExponent ? L"%.*le" : L"%.*lf", places, m_dValue);
    return s;
}
double Desc::CKzNumber::GetNumber() const { return m_dValue; }
int Desc::CKzNumber::GetCheck() const { return kzvariant::DoubleToI32(m_dValue); }

int Desc::CKzNumber::GetNumberFormat(EKzNumberFormat* format, unsigned* places) const
{
    if (format) *format = m_eFormat;
    if (places) *places = m_uiPlaces;
    return KZ_OK;
}

bool Desc::CKzNumber::IsDefault() const
{
    if (m_bEmptyDefault) return m_bEmpty;
    return !m_bEmpty && m_dValue == m_dDefault;
}

int Desc::CKzNumber::Compare(const CKzItem* other, bool structureOnly) const
{
    int c = CompareBase(other, structureOnly);
    const CKzNumber* o = dynamic_cast<const CKzNumber*>(other);
    if (c || !o) return c;
    if ((c = CompareFlagFirst(!m_bEmptyDefault, !o->m_bEmptyDefault))) return c;
    if ((c = CompareValue(m_dDefault, o->m_dDefault))) return c;
    if ((c = Sign(wcscmp(m_wsUnit.GetString(), o->m_wsUnit.GetString())))) return c;
    if ((c = CompareValue((int)m_eFormat, (int)o->m_eFormat))) return c;
    if ((c = CompareValue(m_uiPlaces, o->m_uiPlaces))) return c;
    if ((c = ComparePresets(m_vPresets, o->m_vPresets))) return c;
    if (structureOnly) return 0;
    if ((c = CompareFlagFirst(!m_bEmpty, !o->m_bEmpty))) return c;
    return CompareValue(m_dValue, o->m_dValue);
}

Desc::CKzItem* Desc::CKzNumber::Duplicate() const { return new (std::nothrow) CKzNumber(*this); }

int Desc::CKzNumber::SwitchDefaultValue(bool keep)
{
    double old = m_dValue;
    m_dValue = m_dDefault;
    if (!keep) m_dDefault = old;
    return CKzItem::SwitchDefaultValue(keep);
}

int Desc::CKzNumber::UsePreset(int index) { return UsePresetOf(m_vPresets, index, m_dValue, m_bEmpty); }
int Desc::CKzNumber::StorePreset(int index, const wchar_t* name)
{
    return StorePresetOf(m_vPresets, index, name, m_dValue, m_bEmpty);
}
int Desc::CKzNumber::RemovePreset(int index) { return RemovePresetOf(m_vPresets, index); }
int Desc::CKzNumber::GetPresetCount() const { return (int)m_vPresets.size(); }
const wchar_t* Desc::CKzNumber::GetPresetName(int index) const { return PresetNameOf(m_vPresets, index); }

int Desc::CKzNumber::SetValue(const CKzItem* other)
{
    if (other && !other->IsEmpty() && dynamic_cast<const CKzNumber*>(other)) SetNumber(other->GetNumber());
    return CKzItem::SetValue(other);
}

int Desc::CKzNumber::SetText(const wchar_t* text)
{
    if (!text) return KZ_ERR_FAILED;
    m_dValue = kzvariant::ScanDouble(text);
    m_bEmpty = false;
    return KZ_OK;
}

int Desc::CKzNumber::SetNumber(double x)
{
    m_dValue = x;
    m_bEmpty = false;
    return KZ_OK;
}

int Desc::CKzNumber::SetNumberFormat(EKzNumberFormat format, unsigned places)
{
    m_eFormat = format;
    m_uiPlaces = places;
    return KZ_OK;
}

CKzStringW Desc::CKzNumber::GetUnit() const { return m_wsUnit; }

int Desc::CKzNumber::SetUnit(const wchar_t* unit)
{
    m_wsUnit = unit ? unit : L"";
    return KZ_OK;
}

Desc::CKzItem* Desc::CKzNumber::Create() { return new (std::nothrow) CKzNumber(); }

// ---------------------------------------------------------------------------
// CKzText and CKzLongText

Desc::CKzText::CKzText() : CKzText(nullptr) {}
Desc::CKzText::CKzText(const wchar_t* name) : CKzItem(name, eKzTypeText) {}
Desc::CKzText::CKzText(const wchar_t* name, const wchar_t* text)
    : CKzItem(name, eKzTypeText), m_wsText(text ? text : L""), m_wsDefault(text ? text : L"")
{
    m_bEmpty = m_bEmptyDefault = false;
}
Desc::CKzText::CKzText(const CKzText& o)
    : CKzItem(o), m_wsText(o.m_wsText), m_wsDefault(o.m_wsDefault), m_vPresets(o.m_vPresets)
{
}
Desc::CKzText::~CKzText() {}

CKzStringW Desc::CKzText::GetText() const { return m_bEmpty ? CKzStringW() : m_wsText; }
double Desc::CKzText::GetNumber() const { return kzvariant::ScanDouble(m_wsText.GetString()); }
int Desc::CKzText::GetCheck() const { return m_wsText.IsEmpty() ? 0 : 1; }

bool Desc::CKzText::IsDefault() const
{
    if (m_bEmptyDefault) return m_bEmpty;
    return !m_bEmpty && m_wsText == m_wsDefault;
}

int Desc::CKzText::Compare(const CKzItem* other, bool structureOnly) const
{
    int c = CompareBase(other, structureOnly);
    const CKzText* o = dynamic_cast<const CKzText*>(other);
    if (c || !o) return c;
    if ((c = CompareFlagFirst(!m_bEmptyDefault, !o->m_bEmptyDefault))) return c;
    if ((c = Sign(wcscmp(m_wsDefault.GetString(), o->m_wsDefault.GetString())))) return c;
    if ((c = ComparePresets(m_vPresets, o->m_vPresets))) return c;
    if (structureOnly) return 0;
    if ((c = CompareFlagFirst(!m_bEmpty, !o->m_bEmpty))) return c;
    CKzStringW theirs = o->GetText();
    return Sign(wcscmp(m_wsText.GetString(), theirs.GetString()));
}

Desc::CKzItem* Desc::CKzText::Duplicate() const { return new (std::nothrow) CKzText(*this); }

int Desc::CKzText::SwitchDefaultValue(bool keep)
{
    CKzStringW old = m_wsText;
    m_wsText = m_wsDefault;
    if (!keep) m_wsDefault = old;
    return CKzItem::SwitchDefaultValue(keep);
}

int Desc::CKzText::UsePreset(int index) { return UsePresetOf(m_vPresets, index, m_wsText, m_bEmpty); }
int Desc::CKzText::StorePreset(int index, const wchar_t* name)
{
    return StorePresetOf(m_vPresets, index, name, m_wsText, m_bEmpty);
}
int Desc::CKzText::RemovePreset(int index) { return RemovePresetOf(m_vPresets, index); }
int Desc::CKzText::GetPresetCount() const { return (int)m_vPresets.size(); }
const wchar_t* Desc::CKzText::GetPresetName(int index) const { return PresetNameOf(m_vPresets, index); }

int Desc::CKzText::SetValue(const CKzItem* other)
{
    if (other && !other->IsEmpty() && dynamic_cast<const CKzText*>(other)) {
        CKzStringW t = other->GetText();
        SetText(t.GetString());
    }
    return CKzItem::SetValue(other);
}

int Desc::CKzText::SetText(const wchar_t* text)
{
    m_wsText = text ? text : L"";
    m_bEmpty = m_wsText.IsEmpty();
    return KZ_OK;
}

int Desc::CKzText::SetNumber(double x)
{
    m_wsText.Format(L"%.2d", kzvariant::DoubleToI32(x));
    m_bEmpty = m_wsText.IsEmpty();
    return KZ_OK;
}

Desc::CKzItem* Desc::CKzText::Create() { return new (std::nothrow) CKzText(); }

Desc::CKzLongText::CKzLongText() : CKzLongText(nullptr) {}
Desc::CKzLongText::CKzLongText(const wchar_t* name) : CKzText(name) { m_eType = eKzTypeLongText; }
Desc::CKzLongText::CKzLongText(const wchar_t* name, const wchar_t* text) : CKzText(name, text)
{
    m_eType = eKzTypeLongText;
}
Desc::CKzLongText::CKzLongText(const CKzLongText& o) : CKzText(o) {}
Desc::CKzLongText::~CKzLongText() {}
Desc::CKzItem* Desc::CKzLongText::Duplicate() const { return new (std::nothrow) CKzLongText(*this); }
Desc::CKzItem* Desc::CKzLongText::Create() { return new (std::nothrow) CKzLongText(); }

// ---------------------------------------------------------------------------
// CKzSelection

Desc::CKzSelection::CKzSelection() : CKzSelection(nullptr) {}
Desc::CKzSelection::CKzSelection(const wchar_t* name) : CKzItem(name, eKzTypeSelection), m_iSelection(0), m_iDefault(0) {}
Desc::CKzSelection::CKzSelection(const wchar_t* name, int selection, int count, CKzStringW* labels)
    : CKzItem(name, eKzTypeSelection), m_iSelection(selection), m_iDefault(selection)
{
    if (labels)
        for (int i = 0; i < count; ++i) m_vLabels.push_back(labels[i]);
    m_bEmpty = m_bEmptyDefault = false;
}
Desc::CKzSelection::CKzSelection(const wchar_t* name, int selection, const std::set<CKzStringW>& labels)
    : CKzItem(name, eKzTypeSelection), m_iSelection(selection), m_iDefault(selection),
      m_vLabels(labels.begin(), labels.end())
{
    m_bEmpty = m_bEmptyDefault = false;
}
Desc::CKzSelection::CKzSelection(const CKzSelection& o)
    : CKzItem(o), m_iSelection(o.m_iSelection), m_iDefault(o.m_iDefault), m_vLabels(o.m_vLabels),
      m_vPresets(o.m_vPresets)
{
}
Desc::CKzSelection::~CKzSelection() {}

CKzStringW Desc::CKzSelection::GetText() const
{
    if (!m_bEmpty && labelValid(m_iSelection)) return m_vLabels[m_iSelection];
    return CKzStringW(L"<Empty>");
}

double Desc::CKzSelection::GetNumber() const
{
    if (!labelValid(m_iSelection)) return 0.0;
    return kzvariant::ScanDouble(m_vLabels[m_iSelection].GetString());
}

int Desc::CKzSelection::GetCheck() const { return !m_bEmpty && labelValid(m_iSelection) ? 1 : 0; }
int Desc::CKzSelection::GetSelection() const { return m_iSelection; }
CKzStringW Desc::CKzSelection::GetSelectionLabel(int index) const
{
    return labelValid(index) ? m_vLabels[index] : CKzStringW();
}
int Desc::CKzSelection::GetSelectionLabelCount() const { return (int)m_vLabels.size(); }
bool Desc::CKzSelection::IsDefault() const { return m_bEmpty == m_bEmptyDefault; }

int Desc::CKzSelection::Compare(const CKzItem* other, bool structureOnly) const
{
    int c = CompareBase(other, structureOnly);
    const CKzSelection* o = dynamic_cast<const CKzSelection*>(other);
    if (c || !o) return c;
    if ((c = CompareValue(m_vLabels.size(), o->m_vLabels.size()))) return c;
    for (size_t i = 0; i < m_vLabels.size(); ++i)
        if ((c = Sign(wcscmp(m_vLabels[i].GetString(), o->m_vLabels[i].GetString())))) return c;
    if ((c = CompareFlagFirst(!m_bEmptyDefault, !o->m_bEmptyDefault))) return c;
    if ((c = CompareValue(m_iDefault, o->m_iDefault))) return c;
    if ((c = ComparePresets(m_vPresets, o->m_vPresets))) return c;
    if (structureOnly) return 0;
    if ((c = CompareFlagFirst(!m_bEmpty, !o->m_bEmpty))) return c;
    return CompareValue(m_iSelection, o->m_iSelection);
}

Desc::CKzItem* Desc::CKzSelection::Duplicate() const { return new (std::nothrow) CKzSelection(*this); }

int Desc::CKzSelection::SwitchDefaultValue(bool keep)
{
    int old = m_iSelection;
    m_iSelection = m_iDefault;
    if (!keep) m_iDefault = old;
    return CKzItem::SwitchDefaultValue(keep);
}

int Desc::CKzSelection::UsePreset(int index) { return UsePresetOf(m_vPresets, index, m_iSelection, m_bEmpty); }
int Desc::CKzSelection::StorePreset(int index, const wchar_t* name)
{
    return StorePresetOf(m_vPresets, index, name, m_iSelection, m_bEmpty);
}
int Desc::CKzSelection::RemovePreset(int index) { return RemovePresetOf(m_vPresets, index); }
int Desc::CKzSelection::GetPresetCount() const { return (int)m_vPresets.size(); }
const wchar_t* Desc::CKzSelection::GetPresetName(int index) const { return PresetNameOf(m_vPresets, index); }

int Desc::CKzSelection::SetValue(const CKzItem* other)
{
    if (other && !other->IsEmpty() && dynamic_cast<const CKzSelection*>(other)) SetSelection(other->GetSelection());
    return CKzItem::SetValue(other);
}

int Desc::CKzSelection::SetText(const wchar_t* text)
{
    if (!text) {
        m_bEmpty = true;
        return KZ_OK;
    }
    for (size_t i = 0; i < m_vLabels.size(); ++i) {
        if (wcscmp(m_vLabels[i].GetString(), text) == 0) {
            m_iSelection = (int)i;
            m_bEmpty = false;
            return KZ_OK;
        }
    }
    return KZ_ERR_FAILED;
}

int Desc::CKzSelection::SetNumber(double x)
{
    m_iSelection = kzvariant::DoubleToI32(x);
    m_bEmpty = false;
    return KZ_OK;
}

int Desc::CKzSelection::SetSelection(int selection)
{
    int old = m_iSelection;
    m_iSelection = selection;
    m_bEmpty = false;
    return old;
}

int Desc::CKzSelection::SetSelectionLabel(int index, const wchar_t* text)
{
    if (index < 0 || index >= kMaxListEntries) return KZ_ERR_FAILED;
    CKzStringW t(text ? text : L"");
    try {
        if ((size_t)index >= m_vLabels.size()) m_vLabels.resize((size_t)index + 1);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    m_vLabels[index] = t;
    return KZ_OK;
}

int Desc::CKzSelection::Clear()
{
    m_vLabels.clear();
    return KZ_OK;
}

int Desc::CKzSelection::RemoveLabel(int index)
{
    if (!labelValid(index)) return KZ_ERR_FAILED;
    m_vLabels.erase(m_vLabels.begin() + index);
    return KZ_OK;
}

Desc::CKzItem* Desc::CKzSelection::Create() { return new (std::nothrow) CKzSelection(); }

// ---------------------------------------------------------------------------
// CKzDate

Desc::CKzDate::CKzDate() : CKzDate(nullptr) {}
Desc::CKzDate::CKzDate(const wchar_t* name)
    : CKzItem(name, eKzTypeDate), m_aValue(-1), m_aDefault(-1), m_eDateFormat(eKzDateTime)
{
}
Desc::CKzDate::CKzDate(const wchar_t* name, CKzDateTime value)
    : CKzItem(name, eKzTypeDate), m_aValue(value), m_aDefault(value), m_eDateFormat(eKzDateTime)
{
    m_bEmpty = m_bEmptyDefault = false;
}
Desc::CKzDate::CKzDate(const CKzDate& o)
    : CKzItem(o), m_aValue(o.m_aValue), m_aDefault(o.m_aDefault), m_eDateFormat(o.m_eDateFormat),
      m_vPresets(o.m_vPresets)
{
}
Desc::CKzDate::~CKzDate() {}

CKzStringW Desc::CKzDate::GetText() const
{
    if (m_bEmpty) return CKzStringW();
    if (m_eDateFormat == eKzDateOnly) return m_aValue.FormatDate();
    if (m_eDateFormat == eKzTimeOfDay) {
        CKzDateTime::Tm t = m_aValue.GetTm();
        // Midnight stands for a whole day: the date is shown with it.
        if (t.hour == 0 && t.min == 0 && t.sec == 0) return m_aValue.FormatDateTime();
        // The time-of-day form "%H:%M:%S" without its seconds field.
        return m_aValue.Format(L"  %H:%M");
    }
    return m_aValue.FormatDateTime();
}

double Desc::CKzDate::GetNumber() const { return m_aValue.GetJulianDayNumber(); }

bool Desc::CKzDate::IsDefault() const
{
    if (m_bEmptyDefault) return m_bEmpty;
    return !m_bEmpty && m_aValue == m_aDefault;
}

int Desc::CKzDate::Compare(const CKzItem* other, bool structureOnly) const
{
    int c = CompareBase(other, structureOnly);
    const CKzDate* o = dynamic_cast<const CKzDate*>(other);
    if (c || !o) return c;
    if ((c = CompareFlagFirst(!m_bEmptyDefault, !o->m_bEmptyDefault))) return c;
    if ((c = CompareValue(m_aDefault.GetValue(), o->m_aDefault.GetValue()))) return c;
    if ((c = CompareValue((int)m_eDateFormat, (int)o->m_eDateFormat))) return c;
    if ((c = ComparePresets(m_vPresets, o->m_vPresets))) return c;
    if (structureOnly) return 0;
    if ((c = CompareFlagFirst(!m_bEmpty, !o->m_bEmpty))) return c;
    return CompareValue(m_aValue.GetValue(), o->m_aValue.GetValue());
}

Desc::CKzItem* Desc::CKzDate::Duplicate() const { return new (std::nothrow) CKzDate(*this); }

int Desc::CKzDate::SwitchDefaultValue(bool keep)
{
    CKzDateTime old = m_aValue;
    m_aValue = m_aDefault;
    if (!keep) m_aDefault = old;
    return CKzItem::SwitchDefaultValue(keep);
}

int Desc::CKzDate::UsePreset(int index) { return UsePresetOf(m_vPresets, index, m_aValue, m_bEmpty); }
int Desc::CKzDate::StorePreset(int index, const wchar_t* name)
{
    return StorePresetOf(m_vPresets, index, name, m_aValue, m_bEmpty);
}
int Desc::CKzDate::RemovePreset(int index) { return RemovePresetOf(m_vPresets, index); }
int Desc::CKzDate::GetPresetCount() const { return (int)m_vPresets.size(); }
const wchar_t* Desc::CKzDate::GetPresetName(int index) const { return PresetNameOf(m_vPresets, index); }

int Desc::CKzDate::SetValue(const CKzItem* other)
{
    const CKzDate* o = dynamic_cast<const CKzDate*>(other);
    if (o && !o->IsEmpty()) SetDateTime(o->GetDateTime());
    return CKzItem::SetValue(other);
}

int Desc::CKzDate::SetText(const wchar_t* text)
{
    if (!text || !*text) {
        m_bEmpty = true;
        return KZ_OK;
    }
    m_aValue.ParseDateTime(text, false, false);
    m_bEmpty = false;
    return KZ_OK;
}

int Desc::CKzDate::SetNumber(double x)
{
    m_aValue.Set(x);
    m_bEmpty = false;
    return KZ_OK;
}

CKzDateTime Desc::CKzDate::GetDateTime() const { return m_aValue; }

int Desc::CKzDate::SetDateTime(CKzDateTime value)
{
    m_aValue = value;
    m_bEmpty = false;
    return KZ_OK;
}

int Desc::CKzDate::GetDateFormat(EKzDateFormat* format) const
{
    if (format) *format = m_eDateFormat;
    return KZ_OK;
}

int Desc::CKzDate::SetDateFormat(EKzDateFormat format)
{
    m_eDateFormat = format;
    return KZ_OK;
}

Desc::CKzItem* Desc::CKzDate::Create() { return new (std::nothrow) CKzDate(); }
