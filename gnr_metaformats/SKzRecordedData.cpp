// Recorded-value definitions: copies, comparison and both persisted forms.
#include "gnr_metaformats/SKzRecordedData.h"
#include "gnr_metaformats/KzExperimentCommon.h"

using kzexp::DblEq;

namespace {

bool itemEqual(const SKzND_RecordedData& a, const SKzND_RecordedData& b)
{
    return a.wsRDKey == b.wsRDKey && a.wsRDDescription == b.wsRDDescription && a.bRDCheck == b.bRDCheck;
}

bool listEqual(const std::vector<SKzND_RecordedData>& a, const std::vector<SKzND_RecordedData>& b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!itemEqual(a[i], b[i])) return false;
    return true;
}

bool isXY(const CKzStringW& key) { return key == L"X" || key == L"Y"; }

// The stage coordinates are always recorded in record mode 1.
void forceXY(SKzRecordedData& d)
{
    if (d.eRecordOther != 1) return;
    for (auto& it : d.VectorRD_Other)
        if (isXY(it.wsRDKey)) it.bRDCheck = true;
}

CKzVariant listToVariant(const wchar_t* name, const std::vector<SKzND_RecordedData>& vec)
{
    CKzVariant list;
    list.SetName(CKzStringW(name));
    for (const auto& it : vec) {
        CKzVariant el;
        el.EnableTypeChange(true);
        el.Append(CKzVariant(it.wsRDKey, CKzStringW(L"wsRDKey")));
        el.Append(CKzVariant(it.wsRDDescription, CKzStringW(L"wsRDDescription")));
        el.Append(CKzVariant(it.bRDCheck, CKzStringW(L"bRDCheck")));
        list.Append(el);
    }
    return list;
}

// bForce: items keyed "X" or "Y" keep the selection forced on them.
void listFromVariant(std::vector<SKzND_RecordedData>& vec, const CKzVariant& node, bool force)
{
    const int n = node.GetCount();
    if (n < 0) return;
    vec.resize((size_t)n);
    for (int i = 0; i < n; ++i) {
        const CKzVariant* c = node.IndexPtr(i);
        if (!c || c->IsUndefined()) continue;
        SKzND_RecordedData& it = vec[(size_t)i];
        it.wsRDKey = (*c)[L"wsRDKey"].GetCKzStringW();
        it.wsRDDescription = (*c)[L"wsRDDescription"].GetCKzStringW();
        if (force && isXY(it.wsRDKey))
            it.bRDCheck = true;
        else
            it.bRDCheck = (*c)[L"bRDCheck"].GetBool();
    }
}

void listToLite(CKzLiteVariantW& w, const wchar_t* name, const wchar_t* items,
                const std::vector<SKzND_RecordedData>& vec, bool skipTemporary)
{
    if (w.LevelBegin(name) != KZ_OK) return;
    int n = 0;
    for (const auto& it : vec)
        if (!skipTemporary || !(it.uiFlags & 1u)) ++n;
    w.Set(n, L"size");
    if (w.LevelBegin(items) == KZ_OK) {
        for (const auto& it : vec) {
            if (skipTemporary && (it.uiFlags & 1u)) continue;
            if (w.LevelBegin(L"") != KZ_OK) continue;
            w.Set(it.wsRDKey.GetString(), L"wsRDKey");
            w.Set(it.wsRDDescription.GetString(), L"wsRDDescription");
            w.Set(it.bRDCheck, L"bRDCheck");
            w.LevelEnd();
        }
        w.LevelEnd();
    }
    w.LevelEnd();
}

void itemFromLite(SKzND_RecordedData& it, CKzLiteVariantR& r)
{
    r.GetCKzStringW(it.wsRDKey, L"wsRDKey", L"");
    r.GetCKzStringW(it.wsRDDescription, L"wsRDDescription", L"");
    it.bRDCheck = r.Get(L"bRDCheck", true);
}

void listFromLite(CKzLiteVariantR& r, const wchar_t* name, const wchar_t* items, std::vector<SKzND_RecordedData>& vec)
{
    if (r.LevelBegin(name) != KZ_OK) return;
    const u32 n = r.Get(L"size", 0u);
    kzexp::VectorFromLite(r, vec, n, items, itemFromLite);
    r.LevelEnd();
}

} // namespace

SKzND_RecordedData::SKzND_RecordedData() : uiFlags(0), bRDCheck(false) {}

SKzND_RecordedData::~SKzND_RecordedData() {}

SKzND_RecordedData& SKzND_RecordedData::operator=(const SKzND_RecordedData& o)
{
    wsRDKey = o.wsRDKey;
    wsRDDescription = o.wsRDDescription;
    uiFlags = o.uiFlags;
    bRDCheck = o.bRDCheck;
    return *this;
}

SKzND_FindRecordedData_Key::SKzND_FindRecordedData_Key(const CKzStringW& key) : m_key(key) {}

bool SKzND_FindRecordedData_Key::operator()(const SKzND_RecordedData& item) const { return item.wsRDKey == m_key; }

SKzRecordedData::SKzRecordedData()
    : dValTime(100.0), dValFrequnce(1.0), eRecordOther((EKzRecordMode)1), eRecordAngIn((EKzRecordMode)1),
      bReserved(false), iVersion(0)
{
}

SKzRecordedData& SKzRecordedData::operator=(const SKzRecordedData& o)
{
    if (this == &o) return *this;
    try {
        std::vector<SKzND_RecordedData> other(o.VectorRD_Other), ang(o.VectorRD_AngIn), ttl(o.VectorRD_TTLIn);
        VectorRD_Other.swap(other);
        VectorRD_AngIn.swap(ang);
        VectorRD_TTLIn.swap(ttl);
        dValTime = o.dValTime;
        dValFrequnce = o.dValFrequnce;
        eRecordOther = o.eRecordOther;
        eRecordAngIn = o.eRecordAngIn;
        iVersion = o.iVersion;
    } catch (...) {
    }
    return *this;
}

bool SKzRecordedData::operator==(const SKzRecordedData& o) const
{
    return iVersion == o.iVersion && eRecordOther == o.eRecordOther && eRecordAngIn == o.eRecordAngIn &&
           DblEq(dValTime, o.dValTime) && DblEq(dValFrequnce, o.dValFrequnce) &&
           listEqual(VectorRD_Other, o.VectorRD_Other) && listEqual(VectorRD_AngIn, o.VectorRD_AngIn) &&
           listEqual(VectorRD_TTLIn, o.VectorRD_TTLIn);
}

int SKzRecordedData::RemoveTemporaryData()
{
    size_t k = 0;
    for (size_t i = 0; i < VectorRD_Other.size(); ++i) {
        if (VectorRD_Other[i].uiFlags & 1u) continue;
        if (k != i) VectorRD_Other[k] = VectorRD_Other[i];
        ++k;
    }
    VectorRD_Other.erase(VectorRD_Other.begin() + (std::ptrdiff_t)k, VectorRD_Other.end());
    return KZ_OK;
}

int SKzRecordedData::SaveToVariant(CKzVariant& v, const SKzRecordedData& d)
{
    const bool old = v.EnableTypeChange(true);
    int r = KZ_OK;
    try {
        v.Append(CKzVariant((int)d.iVersion, CKzStringW(L"iVersion")));
        v.Append(CKzVariant(d.dValTime, CKzStringW(L"dValTime")));
        v.Append(CKzVariant(d.dValFrequnce, CKzStringW(L"dValFrequnce")));
        v.Append(CKzVariant((int)d.eRecordOther, CKzStringW(L"eRecordOther")));
        v.Append(CKzVariant((int)d.eRecordAngIn, CKzStringW(L"eRecordAngIn")));
        v.Append(listToVariant(L"VectorRD_Other", d.VectorRD_Other));
        v.Append(listToVariant(L"VectorRD_AngIn", d.VectorRD_AngIn));
        v.Append(listToVariant(L"VectorRD_TTLIn", d.VectorRD_TTLIn));
    } catch (...) {
        r = KZ_ERR_OUT_OF_MEMORY;
    }
    v.EnableTypeChange(old);
    return r;
}

int SKzRecordedData::LoadFromVariant(SKzRecordedData& d, const CKzVariant& v)
{
    try {
        d.dValTime = 100.0;
        d.dValFrequnce = 1.0;
        d.eRecordOther = (EKzRecordMode)1;
        d.eRecordAngIn = (EKzRecordMode)1;
        d.iVersion = 0;
        const CKzVariant& ver = v[L"iVersion"];
        if (!ver.IsUndefined()) d.iVersion = kzexp::VarI32(ver);
        const CKzVariant& t = v[L"dValTime"];
        if (!t.IsUndefined()) d.dValTime = t.GetDouble();
        const CKzVariant& f = v[L"dValFrequnce"];
        if (!f.IsUndefined()) d.dValFrequnce = f.GetDouble();
        const CKzVariant& mo = v[L"eRecordOther"];
        if (!mo.IsUndefined()) d.eRecordOther = (EKzRecordMode)kzexp::VarI32(mo);
        const CKzVariant& ma = v[L"eRecordAngIn"];
        if (!ma.IsUndefined()) d.eRecordAngIn = (EKzRecordMode)kzexp::VarI32(ma);
        listFromVariant(d.VectorRD_Other, v[L"VectorRD_Other"], d.eRecordOther == 1);
        listFromVariant(d.VectorRD_AngIn, v[L"VectorRD_AngIn"], false);
        listFromVariant(d.VectorRD_TTLIn, v[L"VectorRD_TTLIn"], false);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

int SKzRecordedData::SaveToLiteVariant(CKzLiteVariantW& w, const SKzRecordedData& d)
{
    w.Set((int)d.iVersion, L"iVersion");
    w.Set(d.dValTime, L"dValTime");
    w.Set(d.dValFrequnce, L"dValFrequnce");
    w.Set((int)d.eRecordOther, L"eRecordOther");
    w.Set((int)d.eRecordAngIn, L"eRecordAngIn");
    listToLite(w, L"VectorRD_Other", L"nameOther", d.VectorRD_Other, true);
    listToLite(w, L"VectorRD_AngIn", L"nameAngIn", d.VectorRD_AngIn, false);
    listToLite(w, L"VectorRD_TTLIn", L"nameTTLIn", d.VectorRD_TTLIn, false);
    return KZ_OK;
}

int SKzRecordedData::LoadFromLiteVariant(SKzRecordedData& d, CKzLiteVariantR& r)
{
    try {
        d.iVersion = r.Get(L"iVersion", 0);
        d.dValTime = r.Get(L"dValTime", 100.0);
        d.dValFrequnce = r.Get(L"dValFrequnce", 1.0);
        d.eRecordOther = (EKzRecordMode)r.Get(L"eRecordOther", 1);
        d.eRecordAngIn = (EKzRecordMode)r.Get(L"eRecordAngIn", 1);
        listFromLite(r, L"VectorRD_Other", L"nameOther", d.VectorRD_Other);
        listFromLite(r, L"VectorRD_AngIn", L"nameAngIn", d.VectorRD_AngIn);
        listFromLite(r, L"VectorRD_TTLIn", L"nameTTLIn", d.VectorRD_TTLIn);
        forceXY(d);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}
