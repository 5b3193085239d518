// Tagged custom data: the tag classes, the store, its description variant and
// its value chunks.
#include "gnr_metaformats/CKzCustomData.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzRangeMask.h"
#include "gnr_system/CKzVariant.h"
#include "vt5file/IKzImageFile.h"

#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

typedef CKzCustomData CD;
typedef CKzCustomData::CKzCustomTag Tag;

namespace {

const wchar_t kVariantName[] = L"CustomDataV2_0";
const wchar_t kRootName[] = L"CustomTagDescription_v1.0";
// A described vector longer than this is refused when a description is read.
const kz_int32 kMaxDescribedSize = 1 << 24;
const unsigned kFieldChars = 256;
const unsigned kFieldKeptChars = 255;

bool IsCameraName(const wchar_t* name) { return wcsncmp(name, L"Camera_", 7) == 0; }

// Grows v to index + 1 elements when needed, then stores value.
template <class T, class V>
int SetGrowing(std::vector<T>& v, unsigned index, const V& value)
{
    if (index == UINT_MAX) return KZ_ERR_FAILED;
    if (index >= v.size()) {
        try {
            v.resize((size_t)index + 1);
        } catch (...) {
            return KZ_ERR_OUT_OF_MEMORY;
        }
    }
    v[index] = value;
    return KZ_OK;
}

template <class T>
int Resize(std::vector<T>& v, unsigned n)
{
    try {
        v.resize(n);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return KZ_OK;
}

void StoreChar(unsigned char* p, wchar_t c)
{
    u32 u = (u32)c;
    p[0] = (unsigned char)u;
    p[1] = (unsigned char)(u >> 8);
    p[2] = (unsigned char)(u >> 16);
    p[3] = (unsigned char)(u >> 24);
}

u32 LoadU32(const unsigned char* p) { return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24); }

// Text of up to maxUnits whole 32-bit units at p, ending at the first 0.
CKzStringW LoadText(const unsigned char* p, u64 maxUnits)
{
    u64 n = 0;
    while (n < maxUnits && LoadU32(p + 4 * n) != 0) ++n;
    std::wstring w;
    w.reserve((size_t)n);
    for (u64 i = 0; i < n; ++i) w.push_back((wchar_t)LoadU32(p + 4 * i));
    return CKzStringW(w.c_str());
}

// One element (or the scalar value, index ~0u) of src written through the
// indexed setter of src's type at position pos of dst.
void CopyElement(const Tag& src, unsigned index, bool scalar, Tag& dst, unsigned pos)
{
    switch (src.GetType()) {
    case CD::eKzCustomDataString: {
        CKzStringW s;
        if (scalar)
            src.GetString(s);
        else
            src.GetString(index, s);
        dst.SetString(pos, s.GetString());
        break;
    }
    case CD::eKzCustomDataInt:
        dst.SetInt(pos, scalar ? src.GetInt() : src.GetInt(index));
        break;
    case CD::eKzCustomDataDouble:
        dst.SetDouble(pos, scalar ? src.GetDouble() : src.GetDouble(index));
        break;
    default:
        break;
    }
}

} // namespace

// ---------------------------------------------------------------------------
// Base tag

Tag::CKzCustomTag() {}
Tag::CKzCustomTag(const CKzCustomTag& o) : m_wsDescription(o.m_wsDescription), m_wsUnit(o.m_wsUnit) {}
Tag::~CKzCustomTag() {}
CD::EKzCustomDataType Tag::GetType() const { return (EKzCustomDataType)0; }
unsigned Tag::GetSize() const { return 0; }
int Tag::SetSize(unsigned) { return KZ_ERR_FAILED; }

int Tag::GetDescription(CKzStringW& out) const
{
    out = m_wsDescription;
    return KZ_OK;
}

int Tag::GetUnit(CKzStringW& out) const
{
    out = m_wsUnit;
    return KZ_OK;
}

int Tag::SetDescription(const wchar_t* text)
{
    m_wsDescription = text ? text : L"";
    return KZ_OK;
}

int Tag::SetUnit(const wchar_t* text)
{
    m_wsUnit = text ? text : L"";
    return KZ_OK;
}

int Tag::GetString(unsigned, CKzStringW&) const { return KZ_ERR_FAILED; }
int Tag::GetInt(unsigned) const { return 0; }
double Tag::GetDouble(unsigned) const { return 0.0; }
int Tag::GetString(CKzStringW&) const { return KZ_ERR_FAILED; }
int Tag::GetInt() const { return 0; }
double Tag::GetDouble() const { return 0.0; }
int Tag::SetString(unsigned, const wchar_t*) { return KZ_ERR_FAILED; }
int Tag::SetInt(unsigned, int) { return KZ_ERR_FAILED; }
int Tag::SetDouble(unsigned, double) { return KZ_ERR_FAILED; }
int Tag::SetString(const wchar_t*) { return KZ_ERR_FAILED; }
int Tag::SetInt(int) { return KZ_ERR_FAILED; }
int Tag::SetDouble(double) { return KZ_ERR_FAILED; }
Tag* Tag::Duplicate() const { return new (std::nothrow) CKzCustomTag(*this); }

// ---------------------------------------------------------------------------
// Scalar tags

CD::EKzCustomDataType CD::CKzStringTag::GetType() const { return eKzCustomDataString; }
unsigned CD::CKzStringTag::GetSize() const { return 0; }
int CD::CKzStringTag::GetString(CKzStringW& out) const
{
    out = m_value;
    return KZ_OK;
}
int CD::CKzStringTag::SetString(const wchar_t* text)
{
    m_value = text ? text : L"";
    return KZ_OK;
}
Tag* CD::CKzStringTag::Duplicate() const { return new (std::nothrow) CKzStringTag(*this); }

CD::EKzCustomDataType CD::CKzIntTag::GetType() const { return eKzCustomDataInt; }
unsigned CD::CKzIntTag::GetSize() const { return 0; }
int CD::CKzIntTag::GetInt() const { return m_value; }
double CD::CKzIntTag::GetDouble() const { return (double)m_value; }
int CD::CKzIntTag::SetInt(int value)
{
    m_value = value;
    return KZ_OK;
}
Tag* CD::CKzIntTag::Duplicate() const { return new (std::nothrow) CKzIntTag(*this); }

CD::EKzCustomDataType CD::CKzDoubleTag::GetType() const { return eKzCustomDataDouble; }
unsigned CD::CKzDoubleTag::GetSize() const { return 0; }
double CD::CKzDoubleTag::GetDouble() const { return m_value; }
int CD::CKzDoubleTag::SetDouble(double value)
{
    m_value = value;
    return KZ_OK;
}
Tag* CD::CKzDoubleTag::Duplicate() const { return new (std::nothrow) CKzDoubleTag(*this); }

// ---------------------------------------------------------------------------
// Vector tags

CD::CKzStringVectorTag::CKzStringVectorTag() : m_values(1) {}
CD::EKzCustomDataType CD::CKzStringVectorTag::GetType() const { return eKzCustomDataString; }
unsigned CD::CKzStringVectorTag::GetSize() const { return (unsigned)m_values.size(); }
int CD::CKzStringVectorTag::SetSize(unsigned n) { return Resize(m_values, n); }
int CD::CKzStringVectorTag::GetString(unsigned index, CKzStringW& out) const
{
    if (index >= m_values.size()) return KZ_ERR_FAILED;
    out = m_values[index];
    return KZ_OK;
}
int CD::CKzStringVectorTag::SetString(unsigned index, const wchar_t* text)
{
    // The text may be one of this vector's elements, which the growth moves.
    CKzStringW copy(text ? text : L"");
    return SetGrowing(m_values, index, copy);
}
Tag* CD::CKzStringVectorTag::Duplicate() const { return new (std::nothrow) CKzStringVectorTag(*this); }

CD::CKzIntVectorTag::CKzIntVectorTag() : m_values(1, 0) {}
CD::EKzCustomDataType CD::CKzIntVectorTag::GetType() const { return eKzCustomDataInt; }
unsigned CD::CKzIntVectorTag::GetSize() const { return (unsigned)m_values.size(); }
int CD::CKzIntVectorTag::SetSize(unsigned n) { return Resize(m_values, n); }
int CD::CKzIntVectorTag::GetInt(unsigned index) const { return index < m_values.size() ? m_values[index] : 0; }
double CD::CKzIntVectorTag::GetDouble(unsigned index) const
{
    return index < m_values.size() ? (double)m_values[index] : 0.0;
}
int CD::CKzIntVectorTag::SetInt(unsigned index, int value) { return SetGrowing(m_values, index, value); }
Tag* CD::CKzIntVectorTag::Duplicate() const { return new (std::nothrow) CKzIntVectorTag(*this); }

CD::CKzDoubleVectorTag::CKzDoubleVectorTag() : m_values(1, 0.0) {}
CD::EKzCustomDataType CD::CKzDoubleVectorTag::GetType() const { return eKzCustomDataDouble; }
unsigned CD::CKzDoubleVectorTag::GetSize() const { return (unsigned)m_values.size(); }
int CD::CKzDoubleVectorTag::SetSize(unsigned n) { return Resize(m_values, n); }
double CD::CKzDoubleVectorTag::GetDouble(unsigned index) const
{
    return index < m_values.size() ? m_values[index] : 0.0;
}
int CD::CKzDoubleVectorTag::SetDouble(unsigned index, double value) { return SetGrowing(m_values, index, value); }
Tag* CD::CKzDoubleVectorTag::Duplicate() const { return new (std::nothrow) CKzDoubleVectorTag(*this); }

// ---------------------------------------------------------------------------
// Store

CD::CKzCustomData() : m_iCameraCount(0) {}

CD::CKzCustomData(const CKzCustomData& o) : m_iCameraCount(o.m_iCameraCount)
{
    for (const auto& e : o.m_mapTags) {
        Tag* d = e.second->Duplicate();
        if (!d) continue;
        try {
            m_mapTags.emplace(e.first, d);
        } catch (...) {
            delete d;
        }
    }
}

CD::~CKzCustomData() { Clear(); }

unsigned CD::GetCustomDataCount() const { return (unsigned)m_mapTags.size(); }
bool CD::ContainsDataFromCamera() const { return m_iCameraCount > 0; }

unsigned CD::SizeOf(EKzCustomDataType type)
{
    switch (type) {
    case eKzCustomDataString: return 1024;
    case eKzCustomDataInt: return 4;
    case eKzCustomDataDouble: return 8;
    default: return 0;
    }
}

const Tag* CD::tag(const wchar_t* name) const
{
    if (!name) return nullptr;
    auto it = m_mapTags.find(CKzStringW(name));
    return it == m_mapTags.end() ? nullptr : it->second;
}

Tag* CD::tag(const wchar_t* name)
{
    return const_cast<Tag*>(static_cast<const CKzCustomData*>(this)->tag(name));
}

namespace {

void Describe(const Tag& t, CD::EKzCustomDataType* type, CKzStringW* description, CKzStringW* unit, bool* vector)
{
    if (type) *type = t.GetType();
    if (description) t.GetDescription(*description);
    if (unit) t.GetUnit(*unit);
    if (vector) *vector = t.GetSize() != 0;
}

} // namespace

int CD::GetCustomDataDescription(unsigned index, EKzCustomDataType* type, CKzStringW* name, CKzStringW* description,
                                 CKzStringW* unit, bool* vector) const
{
    if (index >= m_mapTags.size()) return KZ_ERR_FAILED;
    auto it = m_mapTags.begin();
    std::advance(it, index);
    if (name) *name = it->first;
    Describe(*it->second, type, description, unit, vector);
    return KZ_OK;
}

int CD::GetCustomDataDescription(const wchar_t* name, EKzCustomDataType* type, CKzStringW* description,
                                 CKzStringW* unit, bool* vector) const
{
    const Tag* t = tag(name);
    if (!t) return KZ_ERR_FAILED;
    Describe(*t, type, description, unit, vector);
    return KZ_OK;
}

int CD::GetCustomDataDescriptionLang(unsigned index, EKzCustomDataType* type, CKzStringW* name,
                                     CKzStringW* description, CKzStringW* unit, bool* vector) const
{
    return GetCustomDataDescription(index, type, name, description, unit, vector);
}

int CD::GetCustomDataDescriptionLang(const wchar_t* name, EKzCustomDataType* type, CKzStringW* description,
                                     CKzStringW* unit, bool* vector) const
{
    return GetCustomDataDescription(name, type, description, unit, vector);
}

unsigned CD::GetCount(const wchar_t* name) const
{
    const Tag* t = tag(name);
    return t ? t->GetSize() : 0;
}

int CD::Find(const wchar_t* name) const { return tag(name) ? KZ_OK : KZ_ERR_FAILED; }

int CD::Get(const wchar_t* name, int* value) const
{
    const Tag* t = tag(name);
    if (!t || !value) return KZ_ERR_FAILED;
    *value = t->GetInt();
    return KZ_OK;
}

int CD::Get(const wchar_t* name, unsigned index, int* value) const
{
    const Tag* t = tag(name);
    if (!t || !value) return KZ_ERR_FAILED;
    *value = t->GetInt(index);
    return KZ_OK;
}

int CD::Get(const wchar_t* name, double* value) const
{
    const Tag* t = tag(name);
    if (!t || !value) return KZ_ERR_FAILED;
    *value = t->GetDouble();
    return KZ_OK;
}

int CD::Get(const wchar_t* name, unsigned index, double* value) const
{
    const Tag* t = tag(name);
    if (!t || !value) return KZ_ERR_FAILED;
    *value = t->GetDouble(index);
    return KZ_OK;
}

int CD::Get(const wchar_t* name, CKzStringW* value) const
{
    const Tag* t = tag(name);
    if (!t || !value) return KZ_ERR_FAILED;
    t->GetString(*value);
    return KZ_OK;
}

int CD::Get(const wchar_t* name, unsigned index, CKzStringW* value) const
{
    const Tag* t = tag(name);
    if (!t || !value) return KZ_ERR_FAILED;
    t->GetString(index, *value);
    return KZ_OK;
}

int CD::Get(const wchar_t* name, unsigned index, EKzCustomDataType type, CKzStringW* text, int* i, double* d) const
{
    switch (type) {
    case eKzCustomDataString: return Get(name, index, text);
    case eKzCustomDataInt: return Get(name, index, i);
    case eKzCustomDataDouble: return Get(name, index, d);
    default: return KZ_ERR_FAILED;
    }
}

int CD::Set(const wchar_t* name, int value)
{
    Tag* t = tag(name);
    if (!t) return KZ_ERR_NOT_FOUND;
    t->SetInt(value);
    return KZ_OK;
}

int CD::Set(const wchar_t* name, unsigned value) { return Set(name, (int)value); }

int CD::Set(const wchar_t* name, unsigned index, int value)
{
    Tag* t = tag(name);
    if (!t) return KZ_ERR_NOT_FOUND;
    t->SetInt(index, value);
    return KZ_OK;
}

int CD::Set(const wchar_t* name, unsigned index, unsigned value) { return Set(name, index, (int)value); }

int CD::Set(const wchar_t* name, double value)
{
    Tag* t = tag(name);
    if (!t) return KZ_ERR_NOT_FOUND;
    t->SetDouble(value);
    return KZ_OK;
}

int CD::Set(const wchar_t* name, unsigned index, double value)
{
    Tag* t = tag(name);
    if (!t) return KZ_ERR_NOT_FOUND;
    t->SetDouble(index, value);
    return KZ_OK;
}

int CD::Set(const wchar_t* name, const wchar_t* value)
{
    Tag* t = tag(name);
    if (!t) return KZ_ERR_NOT_FOUND;
    t->SetString(value);
    return KZ_OK;
}

int CD::Set(const wchar_t* name, unsigned index, const wchar_t* value)
{
    Tag* t = tag(name);
    if (!t) return KZ_ERR_NOT_FOUND;
    t->SetString(index, value);
    return KZ_OK;
}

int CD::Set(const wchar_t* name, unsigned index, EKzCustomDataType type, const wchar_t* text, int i, double d)
{
    switch (type) {
    case eKzCustomDataString:
        if (!text) return KZ_ERR_FAILED;
        return Set(name, index, text);
    case eKzCustomDataInt: return Set(name, index, i);
    case eKzCustomDataDouble: return Set(name, index, d);
    default: return KZ_ERR_FAILED;
    }
}

int CD::add(EKzCustomDataType type, const wchar_t* name, const wchar_t* description, const wchar_t* unit, bool vector)
{
    if (!name) return KZ_ERR_FAILED;
    CKzStringW key(name);
    auto it = m_mapTags.find(key);
    if (it != m_mapTags.end() && (it->second->GetSize() != 0) == vector && it->second->GetType() == type) {
        if (description) it->second->SetDescription(description);
        if (unit) it->second->SetUnit(unit);
        return KZ_OK;
    }
    Tag* t = nullptr;
    switch (type) {
    case eKzCustomDataString: t = vector ? (Tag*)new (std::nothrow) CKzStringVectorTag() : new (std::nothrow) CKzStringTag(); break;
    case eKzCustomDataInt: t = vector ? (Tag*)new (std::nothrow) CKzIntVectorTag() : new (std::nothrow) CKzIntTag(); break;
    case eKzCustomDataDouble: t = vector ? (Tag*)new (std::nothrow) CKzDoubleVectorTag() : new (std::nothrow) CKzDoubleTag(); break;
    default: return KZ_ERR_FAILED;
    }
    if (!t) return KZ_ERR_OUT_OF_MEMORY;
    t->SetDescription(description);
    t->SetUnit(unit);
    if (it != m_mapTags.end()) {
        delete it->second;
        it->second = t;
    } else {
        try {
            m_mapTags.emplace(key, t);
        } catch (...) {
            delete t;
            return KZ_ERR_OUT_OF_MEMORY;
        }
    }
    if (IsCameraName(name)) ++m_iCameraCount;
    return KZ_OK;
}

int CD::AddInt(const wchar_t* name, const wchar_t* description, const wchar_t* unit, bool vector)
{
    return add(eKzCustomDataInt, name, description, unit, vector);
}

int CD::AddDouble(const wchar_t* name, const wchar_t* description, const wchar_t* unit, bool vector)
{
    return add(eKzCustomDataDouble, name, description, unit, vector);
}

int CD::AddString(const wchar_t* name, const wchar_t* description, const wchar_t* unit, bool vector)
{
    return add(eKzCustomDataString, name, description, unit, vector);
}

int CD::SetCustomDataDescription(EKzCustomDataType type, const CKzStringW& name, const wchar_t* description,
                                 const wchar_t* unit, bool vector)
{
    if (type < eKzCustomDataString || type > eKzCustomDataDouble) return KZ_ERR_FAILED;
    return add(type, name.GetString(), description, unit, vector);
}

int CD::Remove(const wchar_t* name)
{
    if (!name) return KZ_ERR_NOT_FOUND;
    auto it = m_mapTags.find(CKzStringW(name));
    if (it == m_mapTags.end()) return KZ_ERR_NOT_FOUND;
    delete it->second;
    m_mapTags.erase(it);
    if (IsCameraName(name)) --m_iCameraCount;
    return KZ_OK;
}

int CD::RemoveVariable(const wchar_t* name)
{
    if (!name) return KZ_ERR_NOT_FOUND;
    auto it = m_mapTags.find(CKzStringW(name));
    if (it == m_mapTags.end()) return KZ_ERR_NOT_FOUND;
    delete it->second;
    m_mapTags.erase(it);
    return KZ_ERR_FAILED;
}

int CD::Clear()
{
    for (auto& e : m_mapTags) delete e.second;
    m_mapTags.clear();
    return KZ_OK;
}

int CD::Crop(unsigned n)
{
    for (auto& e : m_mapTags)
        if (e.second->GetSize() > n) e.second->SetSize(n);
    return KZ_OK;
}

int CD::MakeDifferenceFrom(const CKzCustomData*, CKzCustomData*) { return KZ_ERR_NOT_SUPPORTED; }

// ---------------------------------------------------------------------------
// Description variant

int CD::SaveToVariant(CKzVariant& v) const
{
    bool old = v.EnableTypeChange(true);
    v.MakeNull();
    v.SetName(CKzStringW(kRootName));
    int i = 0;
    for (const auto& e : m_mapTags) {
        const Tag& t = *e.second;
        CKzStringW childName;
        childName.Format(L"Tag%d", i++);
        CKzVariant child;
        child.SetName(childName);
        CKzStringW desc, unit;
        t.GetDescription(desc);
        t.GetUnit(unit);
        child.Append(CKzVariant(e.first, CKzStringW(L"ID")));
        child.Append(CKzVariant((int)t.GetType(), CKzStringW(L"Type")));
        child.Append(CKzVariant((int)t.GetSize(), CKzStringW(L"Size")));
        child.Append(CKzVariant(desc, CKzStringW(L"Desc")));
        child.Append(CKzVariant(unit, CKzStringW(L"Unit")));
        v.Append(child);
    }
    // A store without tags still describes itself as an empty list.
    if (m_mapTags.empty()) v = CKzListVariant();
    v.EnableTypeChange(old);
    return KZ_OK;
}

int CD::LoadFromVariant(const CKzVariant& v)
{
    if (v.IsUndefined() || !v.GetName().Equals(kRootName)) return KZ_ERR_FAILED;
    kz_int32 size = 0;  // one running value: a child without "Size" takes the previous one
    int count = v.GetCount();
    for (int i = 0; i < count; ++i) {
        const CKzVariant& c = v[i];
        if (c.IsUndefined()) break;
        CKzStringW name, desc, unit;
        if (const CKzVariant* p = c.SearchFixedOneLevel(L"ID")) name = p->GetCKzStringW();
        if (const CKzVariant* p = c.SearchFixedOneLevel(L"Desc")) desc = p->GetCKzStringW();
        if (const CKzVariant* p = c.SearchFixedOneLevel(L"Unit")) unit = p->GetCKzStringW();
        kz_int32 type = 0;
        if (const CKzVariant* p = c.SearchFixedOneLevel(L"Type")) type = p->GetKz_int32();
        if (const CKzVariant* p = c.SearchFixedOneLevel(L"Size")) size = p->GetKz_int32();
        if (size < 0 || size > kMaxDescribedSize) continue;
        if (type < eKzCustomDataString || type > eKzCustomDataDouble) continue;
        if (add((EKzCustomDataType)type, name.GetString(), desc.GetString(), unit.GetString(), size != 0) != KZ_OK)
            continue;
        if (size == 0) continue;
        Tag* t = tag(name.GetString());
        if (!t) continue;
        unsigned last = (unsigned)size - 1;
        switch (type) {
        case eKzCustomDataString: t->SetString(last, L""); break;
        case eKzCustomDataInt: t->SetInt(last, 0); break;
        default: t->SetDouble(last, 0.0); break;
        }
    }
    return KZ_OK;
}

// ---------------------------------------------------------------------------
// Stored form

int CD::SaveCustomData(IKzOutputImageFile* file, unsigned maxCount) const
{
    if (!file) return KZ_ERR_INVALID_ARG;
    CKzVariant description;
    SaveToVariant(description);
    int r = file->SetCustomDataVar(kVariantName, &description);
    if (r < 0) return r;
    if (maxCount == 0)
        for (const auto& e : m_mapTags)
            if (e.second->GetSize() > maxCount) maxCount = e.second->GetSize();

    std::vector<unsigned char> buf;
    for (const auto& e : m_mapTags) {
        const Tag& t = *e.second;
        EKzCustomDataType type = t.GetType();
        unsigned count = t.GetSize();
        u64 size;
        CKzStringW text;
        if (count > 0) {
            size = (u64)count * SizeOf(type);
        } else if (type == eKzCustomDataString) {
            t.GetString(text);
            size = ((u64)text.GetLength() + 1) * 4;
        } else {
            size = SizeOf(type);
        }
        if (size == 0) continue;
        try {
            buf.assign((size_t)size, 0);  // unfilled bytes stay zero
        } catch (...) {
            return KZ_ERR_OUT_OF_MEMORY;
        }
        unsigned char* p = buf.data();
        if (count > 0) {
            unsigned n = count < maxCount ? count : maxCount;
            for (unsigned i = 0; i < n; ++i) {
                switch (type) {
                case eKzCustomDataInt: {
                    kz_int32 v = t.GetInt(i);
                    std::memcpy(p + (size_t)i * 4, &v, 4);
                    break;
                }
                case eKzCustomDataDouble: {
                    double v = t.GetDouble(i);
                    std::memcpy(p + (size_t)i * 8, &v, 8);
                    break;
                }
                default: {
                    CKzStringW s;
                    t.GetString(i, s);
                    unsigned len = (unsigned)s.GetLength();
                    if (len > kFieldKeptChars) len = kFieldKeptChars;
                    unsigned char* f = p + (size_t)i * 1024;
                    for (unsigned k = 0; k < len; ++k) StoreChar(f + 4 * k, s.GetString()[k]);
                    break;
                }
                }
            }
        } else if (type == eKzCustomDataInt) {
            kz_int32 v = t.GetInt();
            std::memcpy(p, &v, 4);
        } else if (type == eKzCustomDataDouble) {
            double v = t.GetDouble();
            std::memcpy(p, &v, 8);
        } else {
            for (int k = 0; k < text.GetLength(); ++k) StoreChar(p + 4 * (size_t)k, text.GetString()[k]);
        }
        r = file->SetCustomData(e.first.GetString(), p, (size_t)size);
        if (r < 0) return r;
    }
    return KZ_OK;
}

int CD::LoadCustomData(IKzInputImageFile* file, bool loadValues)
{
    if (!file) return KZ_ERR_INVALID_ARG;
    CKzVariant description;
    int r = file->GetCustomDataVar(kVariantName, description);
    if (r < 0) return r;
    r = LoadFromVariant(description);
    if (r < 0) return r;
    if (!loadValues) return r;
    for (auto& e : m_mapTags) {
        Tag& t = *e.second;
        CKzByteArray data;
        r = file->GetCustomData(e.first.GetString(), data);
        if (r < 0) continue;
        const unsigned char* p = data.GetData();
        u64 size = p ? (u64)data.GetSize() : 0;
        EKzCustomDataType type = t.GetType();
        unsigned count = t.GetSize();
        if (count > 0) {
            u64 es = SizeOf(type);
            if (es == 0) continue;
            u64 whole = size / es;
            u64 n = whole < count ? whole : count;
            for (u64 j = 0; j < n; ++j) {
                const unsigned char* q = p + j * es;
                switch (type) {
                case eKzCustomDataInt: {
                    kz_int32 v;
                    std::memcpy(&v, q, 4);
                    t.SetInt((unsigned)j, v);
                    break;
                }
                case eKzCustomDataDouble: {
                    double v;
                    std::memcpy(&v, q, 8);
                    t.SetDouble((unsigned)j, v);
                    break;
                }
                default: t.SetString((unsigned)j, LoadText(q, kFieldChars).GetString()); break;
                }
            }
        } else if (type == eKzCustomDataInt) {
            if (size >= 4) {
                kz_int32 v;
                std::memcpy(&v, p, 4);
                t.SetInt(v);
            }
        } else if (type == eKzCustomDataDouble) {
            if (size >= 8) {
                double v;
                std::memcpy(&v, p, 8);
                t.SetDouble(v);
            }
        } else if (type == eKzCustomDataString && size > 0) {
            t.SetString(LoadText(p, size / 4).GetString());
        }
    }
    return r;
}

// ---------------------------------------------------------------------------
// Merging and slicing

int CD::appendFrom(const CKzCustomData& source)
{
    for (const auto& e : source.m_mapTags) {
        const Tag& src = *e.second;
        unsigned pos = 0;
        Tag* dst = tag(e.first.GetString());
        if (!dst) {
            CKzStringW desc, unit;
            src.GetDescription(desc);
            src.GetUnit(unit);
            if (SetCustomDataDescription(src.GetType(), e.first, desc.GetString(), unit.GetString(), true) != KZ_OK)
                continue;
            dst = tag(e.first.GetString());
            if (!dst) continue;
        } else {
            pos = dst->GetSize();
        }
        unsigned n = src.GetSize();
        if (n == 0) {
            CopyElement(src, 0, true, *dst, pos);
            continue;
        }
        for (unsigned i = 0; i < n; ++i) {
            CopyElement(src, i, false, *dst, pos);
            pos = dst->GetSize();
        }
    }
    return KZ_OK;
}

int CD::AddCustomData(const CKzCustomData* other)
{
    if (!other) return KZ_ERR_FAILED;
    if (other == this) {
        // Appending a store to itself reads a snapshot, so the walk ends.
        CKzCustomData snapshot(*this);
        return appendFrom(snapshot);
    }
    return appendFrom(*other);
}

int CD::sliceInto(CKzCustomData& target, unsigned first, unsigned last, unsigned step) const
{
    for (const auto& e : m_mapTags) {
        const Tag& src = *e.second;
        Tag* dst = target.tag(e.first.GetString());
        if (!dst) {
            CKzStringW desc, unit;
            src.GetDescription(desc);
            src.GetUnit(unit);
            if (target.SetCustomDataDescription(src.GetType(), e.first, desc.GetString(), unit.GetString(), true) !=
                KZ_OK)
                continue;
            dst = target.tag(e.first.GetString());
            if (!dst) continue;
        }
        unsigned n = src.GetSize();
        if (n == 0) {
            CopyElement(src, 0, true, *dst, 0);
            continue;
        }
        u64 end = (u64)last + 1;
        if (end > n) end = n;
        unsigned pos = 0;
        for (u64 idx = first; idx < end; idx += step) {
            CopyElement(src, (unsigned)idx, false, *dst, pos);
            pos = dst->GetSize();
        }
    }
    return KZ_OK;
}

int CD::GetSlice(CKzCustomData& target, CKzRangeMask& mask) const
{
    unsigned first, last, step;
    if (mask.GetRange(&first, &last, &step) != KZ_OK || step == 0) return KZ_ERR_FAILED;
    if (&target == this) {
        CKzCustomData snapshot(*this);
        return snapshot.sliceInto(target, first, last, step);
    }
    return sliceInto(target, first, last, step);
}
