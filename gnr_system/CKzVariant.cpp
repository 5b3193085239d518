// Variant tree: names, construction, assignment, children, searches,
// equality, trace text, typed getters and the run-type registry.
#include "gnr_system/CKzVariant.h"
#include "gnr_system/CKzVariantText.h"

#include <cmath>
#include <cstdarg>
#include <cstring>
#include <vector>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>

using namespace kzvariant;

// Start-up order: the run-type objects, the shared undefined variant, then the
// registry with its built-in types (all in this unit, so the order holds).
const CKzVariantRunType CKzVariantDataKz_int32::m_runType("kz_int32");
const CKzVariantRunType CKzVariantDataKz_uint32::m_runType("kz_uint32");
const CKzVariantRunType CKzVariantDataKz_int64::m_runType("kz_int64");
const CKzVariantRunType CKzVariantDataKz_uint64::m_runType("kz_uint64");
const CKzVariantRunType CKzVariantDataDouble::m_runType("double");
const CKzVariantRunType CKzVariantDataBool::m_runType("bool");
const CKzVariantRunType CKzVariantDataVoidPtr::m_runType("voidPtr");
const CKzVariantRunType CKzVariantDataCKzStringW::m_runType("CKzStringW");
const CKzVariantRunType CKzVariantDataCKzByteArray::m_runType("CKzByteArray");
const CKzVariantRunType CKzVariantDataCKzListVariant::m_runTypeOrig("CKzListVariant");
const CKzVariantRunType CKzVariantRunType::m_unknown("unknown");

CKzVariant g_UndefVariant;

// ---------------------------------------------------------------------------
// run-type registry

namespace {

struct RegEntry {
    CKzVariant* sample;   // owned, never deleted: references stay valid
    unsigned index;
};

struct Registry {
    std::shared_mutex mtx;
    std::map<CKzVariantRunType, RegEntry> map;
    unsigned nextIndex = 0;

    Registry()
    {
        // Built from literal names: this may run before the static run-type
        // objects of the value classes are constructed.
        Add("unknown", new CKzVariant());
        Add("kz_int32", new CKzVariant((int)0));
        Add("kz_uint32", new CKzVariant((unsigned int)0));
        Add("kz_int64", new CKzVariant((long)0));
        Add("kz_uint64", new CKzVariant((unsigned long)0));
        Add("double", new CKzVariant(0.0));
        Add("bool", new CKzVariant(false));
        Add("voidPtr", new CKzVariant((void*)nullptr));
        Add("CKzStringW", new CKzVariant(CKzStringW()));
        Add("CKzByteArray", new CKzVariant(CKzByteArray(1024)));
        Add("CKzListVariant", new CKzVariant(CKzListVariant()));
    }

    void Add(const char* name, CKzVariant* sample)
    {
        std::wstring w(name, name + std::strlen(name));
        sample->SetName(CKzStringW(w.c_str()));
        map.emplace(CKzVariantRunType(name), RegEntry{sample, nextIndex++});
    }

    const RegEntry* Find(const CKzVariantRunType& type)
    {
        std::shared_lock<std::shared_mutex> lock(mtx);
        auto it = map.find(type);
        return it == map.end() ? nullptr : &it->second;   // map nodes never move
    }
};

Registry& Reg()
{
    static Registry* r = new Registry();   // lives until the process ends
    return *r;
}

std::string WideToNarrowName(const CKzStringW& w)
{
    // Run-type names are ASCII by convention; anything else is kept as UTF-8
    // so that distinct names stay distinct whatever the locale.
    std::string s;
    for (const wchar_t* p = w.GetString(); *p; ++p) {
        u32 c = (u32)*p;
        if (c < 0x80) s.push_back((char)c);
        else if (c < 0x800) { s.push_back((char)(0xC0 | (c >> 6))); s.push_back((char)(0x80 | (c & 0x3F))); }
        else if (c < 0x10000) { s.push_back((char)(0xE0 | (c >> 12))); s.push_back((char)(0x80 | ((c >> 6) & 0x3F))); s.push_back((char)(0x80 | (c & 0x3F))); }
        else if (c <= 0x10FFFF) { s.push_back((char)(0xF0 | (c >> 18))); s.push_back((char)(0x80 | ((c >> 12) & 0x3F))); s.push_back((char)(0x80 | ((c >> 6) & 0x3F))); s.push_back((char)(0x80 | (c & 0x3F))); }
        else s.push_back('?');
    }
    return s;
}

bool IsPlainList(const CKzVariantData* d)
{
    return d && d->IsArray() && d->GetRunType() == CKzVariantDataCKzListVariant::m_runTypeOrig;
}

bool IsUnregisteredStructure(const CKzVariantRunType& t)
{
    return t.IsStructure() && CKzVariant::GetRunTypeIndex(t, false) < 0;
}

} // namespace

int CKzVariant::RegisterRunType(const CKzVariant& sample)
{
    CKzVariantRunType key(WideToNarrowName(sample.GetName()).c_str());
    Registry& r = Reg();
    if (r.Find(key)) return KZ_OK;
    CKzVariant* copy = new CKzVariant(sample);
    if (copy->m_pData) copy->m_pData->SetRunType(key);
    std::unique_lock<std::shared_mutex> lock(r.mtx);
    auto res = r.map.emplace(key, RegEntry{copy, r.nextIndex});
    if (res.second) ++r.nextIndex;
    else delete copy;   // registered meanwhile by another thread
    return KZ_OK;
}

int CKzVariant::RegisterKnownTypes()
{
    Reg();   // the built-in types are registered when the registry is made
    return KZ_OK;
}

int CKzVariant::GetRunTypeIndex(const CKzVariantRunType& type, bool report)
{
    const RegEntry* e = Reg().Find(type);
    if (!e) return report ? 0 : -1;
    return (int)e->index;
}

const CKzVariant& CKzVariant::GetRunTypeSample(const CKzVariantRunType& type)
{
    const RegEntry* e = Reg().Find(type);
    return e ? *e->sample : g_UndefVariant;
}

// Make sure the registry exists before main, as the rest of start-up does.
static const int s_registryReady = CKzVariant::RegisterKnownTypes();

// ---------------------------------------------------------------------------
// construction

#define KZ_VARIANT_INIT m_ppData(&m_pData), m_pData(nullptr), m_bTypeChange(false)

CKzVariant::CKzVariant() : KZ_VARIANT_INIT { SetName(CKzStringW()); }

CKzVariant::CKzVariant(const CKzVariant& other)
    : m_ppData(&m_pData), m_pData(nullptr), m_name(other.m_name), m_bTypeChange(other.m_bTypeChange)
{
    if (other.m_pData) {
        m_pData = other.m_pData->Clone();
        if (m_pData) other.m_pData->GetValueCopy(*m_pData);
    }
}

CKzVariant* CKzVariant::NewShallowCopy(const CKzVariant& v)
{
    CKzVariant* c = new CKzVariant();
    c->m_name = v.m_name;
    c->m_bTypeChange = v.m_bTypeChange;
    if (!v.m_pData) return c;
    if (v.m_pData->IsArray()) {
        CKzVariantDataCKzListVariant* l = new CKzVariantDataCKzListVariant();
        l->m_runType = v.m_pData->GetRunType();
        c->m_pData = l;
    } else {
        c->m_pData = v.m_pData->Clone();
        if (c->m_pData) v.m_pData->GetValueCopy(*c->m_pData);
    }
    return c;
}

CKzVariant::CKzVariant(const int& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataKz_int32(v); SetName(name); }
CKzVariant::CKzVariant(const unsigned int& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataKz_uint32(v); SetName(name); }
CKzVariant::CKzVariant(const long& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataKz_int64(v); SetName(name); }
CKzVariant::CKzVariant(const unsigned long& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataKz_uint64(v); SetName(name); }
CKzVariant::CKzVariant(const double& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataDouble(v); SetName(name); }
CKzVariant::CKzVariant(const bool& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataBool(v); SetName(name); }
CKzVariant::CKzVariant(void* const& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataVoidPtr(v); SetName(name); }
CKzVariant::CKzVariant(const CKzStringW& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataCKzStringW(v); SetName(name); }
CKzVariant::CKzVariant(wchar_t* const& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataCKzStringW(CKzStringW(v ? (const wchar_t*)v : L"")); SetName(name); }
CKzVariant::CKzVariant(const wchar_t* v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataCKzStringW(CKzStringW(v ? v : L"")); SetName(name); }
CKzVariant::CKzVariant(char* const& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataCKzStringW(CKzStringW(v ? (const char*)v : "")); SetName(name); }
CKzVariant::CKzVariant(const char* v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataCKzStringW(CKzStringW(v ? v : "")); SetName(name); }
CKzVariant::CKzVariant(const CKzByteArray& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataCKzByteArray(v); SetName(name); }
CKzVariant::CKzVariant(const CKzListVariant& v, const CKzStringW& name) : KZ_VARIANT_INIT
{ m_pData = new CKzVariantDataCKzListVariant(v); SetName(name); }

CKzVariant::CKzVariant(const CKzVariantRunType& type, const CKzStringW& name) : KZ_VARIANT_INIT
{
    SetName(name);
    const CKzVariant& sample = GetRunTypeSample(type);
    if (sample.m_pData) {
        m_pData = sample.m_pData->Clone();
    } else if (type.IsStructure()) {
        // A structure no host registered: an empty list that keeps the name
        // of the structure, so that its savers and readers keep it too.
        CKzVariantDataCKzListVariant* l = new CKzVariantDataCKzListVariant();
        l->SetRunType(type);
        m_pData = l;
    }
}

CKzVariant::~CKzVariant() { delete m_pData; }

// ---------------------------------------------------------------------------
// name and flags

bool CKzVariant::IsSharedUndef() const { return this == &g_UndefVariant; }

static bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

bool CKzVariant::ValidateName(CKzStringW& name)
{
    const int n = name.GetLength();
    if (n == 0) {
        name = L"no_name";
        return true;
    }
    const wchar_t* s = name.GetString();
    bool need = false;
    for (int i = 0; i < n && !need; ++i) {
        const wchar_t c = s[i];
        const bool ok = i == 0 ? (IsAsciiLetter(c) || c == L'_')
                               : (IsAsciiLetter(c) || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.' || c == L'_');
        if (!ok) need = true;
    }
    if (!need) return false;
    std::wstring w(s, s + n);
    for (int i = 0; i < n; ++i) {
        const wchar_t c = w[i];
        const bool ok = i == 0 ? (IsAsciiLetter(c) || c == L'_')
                               : (IsAsciiLetter(c) || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.' || c == L'_');
        if (!ok) w[i] = L'_';
    }
    name = w.c_str();
    return true;
}

bool CKzVariant::SetName(const CKzStringW& name)
{
    if (IsSharedUndef() && m_name.GetLength() != 0) return false;
    CKzStringW n(name);
    const bool changed = ValidateName(n);
    m_name = n;
    return changed;
}

bool CKzVariant::EnableTypeChange(bool enable)
{
    const bool old = m_bTypeChange;
    if (!IsSharedUndef()) m_bTypeChange = enable;
    return old;
}

void CKzVariant::MakeNull() { ReplaceData(nullptr); }

const CKzVariantRunType& CKzVariant::GetRunType() const
{
    return m_pData ? m_pData->GetRunType() : CKzVariantRunType::m_unknown;
}

void CKzVariant::ReplaceData(CKzVariantData* data)
{
    if (IsSharedUndef()) {
        delete data;
        return;
    }
    CKzVariantData* old = *m_ppData;   // m_ppData always points at m_pData
    *m_ppData = data;
    delete old;
}

void CKzVariant::SwapValue(CKzVariant& other)
{
    if (IsSharedUndef() || other.IsSharedUndef()) return;
    std::swap(m_pData, other.m_pData);
}

CKzVariantDataCKzListVariant* CKzVariant::ListData() const
{
    return (m_pData && m_pData->IsArray()) ? static_cast<CKzVariantDataCKzListVariant*>(m_pData) : nullptr;
}

// ---------------------------------------------------------------------------
// assignment

template <class DATA, class T>
static void AssignScalar(CKzVariant& self, CKzVariantData*& data, const T& v, void (CKzVariant::*replace)(CKzVariantData*))
{
    if (data && data->GetRunType() == DATA::m_runType) static_cast<DATA*>(data)->m_value = v;
    else (self.*replace)(new DATA(v));
}

#define KZ_ASSIGN(TYPE, DATA)                                                  \
    CKzVariant& CKzVariant::operator=(const TYPE& v)                           \
    {                                                                          \
        if (IsSharedUndef()) return *this;                                     \
        if (m_pData && m_pData->GetRunType() == DATA::m_runType)               \
            static_cast<DATA*>(m_pData)->m_value = v;                          \
        else                                                                   \
            ReplaceData(new DATA(v));                                          \
        return *this;                                                          \
    }

KZ_ASSIGN(int, CKzVariantDataKz_int32)
KZ_ASSIGN(unsigned int, CKzVariantDataKz_uint32)
KZ_ASSIGN(long, CKzVariantDataKz_int64)
KZ_ASSIGN(unsigned long, CKzVariantDataKz_uint64)
KZ_ASSIGN(bool, CKzVariantDataBool)
KZ_ASSIGN(CKzStringW, CKzVariantDataCKzStringW)

CKzVariant& CKzVariant::operator=(void* const& v)
{
    if (IsSharedUndef()) return *this;
    if (m_pData && m_pData->GetRunType() == CKzVariantDataVoidPtr::m_runType)
        static_cast<CKzVariantDataVoidPtr*>(m_pData)->m_value = v;
    else
        ReplaceData(new CKzVariantDataVoidPtr(v));
    return *this;
}

CKzVariant& CKzVariant::operator=(const double& v)
{
    if (IsSharedUndef()) return *this;
    if (m_pData && m_pData->GetRunType() == CKzVariantDataDouble::m_runType)
        static_cast<CKzVariantDataDouble*>(m_pData)->m_value = v;
    else
        ReplaceData(new CKzVariantDataDouble(std::isnan(v) ? 1.0 : v));
    return *this;
}

CKzVariant& CKzVariant::operator=(const wchar_t* v)
{
    return *this = CKzStringW(v ? v : L"");
}

CKzVariant& CKzVariant::operator=(const CKzByteArray& v)
{
    if (IsSharedUndef()) return *this;
    if (m_pData && m_pData->GetRunType() == CKzVariantDataCKzByteArray::m_runType) {
        CKzByteArray& own = static_cast<CKzVariantDataCKzByteArray*>(m_pData)->m_value;
        if (&own != &v) own = v;
    } else {
        ReplaceData(new CKzVariantDataCKzByteArray(v));
    }
    return *this;
}

CKzVariant& CKzVariant::operator=(const CKzListVariant& v)
{
    if (IsSharedUndef()) return *this;
    if (IsPlainList(m_pData))
        static_cast<CKzVariantDataCKzListVariant*>(m_pData)->m_value = v;   // copies first
    else
        ReplaceData(new CKzVariantDataCKzListVariant(v));
    return *this;
}

CKzVariant& CKzVariant::operator=(const CKzVariant& other)
{
    if (this == &other || IsSharedUndef()) return *this;
    if (!other.m_pData) {
        MakeNull();
        return *this;
    }
    if (m_pData && m_pData->GetRunType() == other.m_pData->GetRunType()) {
        // Lists copy the children before they release their own, so other
        // may be one of this variant's descendants.
        other.m_pData->GetValueCopy(*m_pData);
        return *this;
    }
    // Build the copy completely before the old value (which may hold other) goes.
    CKzVariantData* d = other.m_pData->Clone();
    if (d) other.m_pData->GetValueCopy(*d);
    ReplaceData(d);
    return *this;
}

// ---------------------------------------------------------------------------
// children

int CKzVariant::GetCount() const
{
    const CKzVariantDataCKzListVariant* l = ListData();
    return l ? l->m_value.GetSize() : -1;
}

CKzVariant* CKzVariant::IndexPtr(int i)
{
    const CKzVariantDataCKzListVariant* l = ListData();
    return l ? l->m_value.GetAt(i) : nullptr;
}

const CKzVariant* CKzVariant::IndexPtr(int i) const
{
    const CKzVariantDataCKzListVariant* l = ListData();
    return l ? l->m_value.GetAt(i) : nullptr;
}

CKzVariant& CKzVariant::operator[](int i)
{
    CKzVariant* c = IndexPtr(i);
    return c ? *c : g_UndefVariant;
}

const CKzVariant& CKzVariant::operator[](int i) const
{
    const CKzVariant* c = IndexPtr(i);
    return c ? *c : g_UndefVariant;
}

const CKzVariant* CKzVariant::SearchFixedOneLevel(const wchar_t* name) const
{
    const CKzVariantDataCKzListVariant* l = ListData();
    if (!l || !name) return nullptr;
    for (CKzVariant* c : l->m_value.Items())
        if (std::wcscmp(c->m_name.GetString(), name) == 0) return c;
    return nullptr;
}

CKzVariant* CKzVariant::SearchFixedOneLevel(const wchar_t* name)
{
    return const_cast<CKzVariant*>(static_cast<const CKzVariant*>(this)->SearchFixedOneLevel(name));
}

CKzVariant& CKzVariant::operator[](const wchar_t* name)
{
    if (CKzVariant* c = SearchFixedOneLevel(name)) return *c;
    CKzVariantDataCKzListVariant* l = ListData();
    if (l && name && !IsSharedUndef() && IsUnregisteredStructure(l->m_runType)) {
        CKzVariant* c = new CKzVariant();
        c->SetName(CKzStringW(name));
        l->m_value.Items().push_back(c);
        return *c;
    }
    return g_UndefVariant;
}

const CKzVariant& CKzVariant::operator[](const wchar_t* name) const
{
    const CKzVariant* c = SearchFixedOneLevel(name);
    return c ? *c : g_UndefVariant;
}

int CKzVariant::IndexOf(const CKzStringW& name) const
{
    const CKzVariantDataCKzListVariant* l = ListData();
    if (!l) return -1;
    const auto& items = l->m_value.Items();
    for (size_t i = 0; i < items.size(); ++i)
        if (std::wcscmp(items[i]->m_name.GetString(), name.GetString()) == 0) return (int)i;
    return KZ_ERR_FAILED;
}

static const CKzVariant* SearchFixedV(const CKzVariant* node, const wchar_t* name, va_list ap)
{
    if (!name) return nullptr;
    for (const wchar_t* n = name; n; n = va_arg(ap, const wchar_t*)) {
        node = node->SearchFixedOneLevel(n);
        if (!node) return nullptr;
    }
    return node;
}

namespace {
struct QueueItem {
    const CKzVariant* v;
};
} // namespace

static const CKzVariant* SearchBreadthFirst(const CKzVariant* start, const wchar_t* name)
{
    std::vector<QueueItem> queue;
    queue.push_back({start});
    for (size_t head = 0; head < queue.size(); ++head) {
        const CKzVariant* v = queue[head].v;
        if (std::wcscmp(v->GetName().GetString(), name) == 0) return v;
        const int n = v->GetCount();
        for (int i = 0; i < n; ++i) queue.push_back({v->IndexPtr(i)});
    }
    return nullptr;
}

static const CKzVariant* SearchV(const CKzVariant* node, const wchar_t* name, va_list ap)
{
    if (!name) return nullptr;
    for (const wchar_t* n = name; n; n = va_arg(ap, const wchar_t*)) {
        node = SearchBreadthFirst(node, n);
        if (!node) return nullptr;
    }
    return node;
}

CKzVariant* CKzVariant::SearchFixed(const wchar_t* name, ...)
{
    va_list ap;
    va_start(ap, name);
    const CKzVariant* r = SearchFixedV(this, name, ap);
    va_end(ap);
    return const_cast<CKzVariant*>(r);
}

const CKzVariant* CKzVariant::SearchFixed(const wchar_t* name, ...) const
{
    va_list ap;
    va_start(ap, name);
    const CKzVariant* r = SearchFixedV(this, name, ap);
    va_end(ap);
    return r;
}

CKzVariant* CKzVariant::Search(const wchar_t* name, ...)
{
    va_list ap;
    va_start(ap, name);
    const CKzVariant* r = SearchV(this, name, ap);
    va_end(ap);
    return const_cast<CKzVariant*>(r);
}

const CKzVariant* CKzVariant::Search(const wchar_t* name, ...) const
{
    va_list ap;
    va_start(ap, name);
    const CKzVariant* r = SearchV(this, name, ap);
    va_end(ap);
    return r;
}

void CKzVariant::EnsurePlainList()
{
    if (CKzVariantDataCKzListVariant* l = ListData()) l->SetRunType(CKzVariantDataCKzListVariant::m_runTypeOrig);
    else ReplaceData(new CKzVariantDataCKzListVariant());
}

CKzVariant& CKzVariant::Insert(const CKzVariant& v, int index)
{
    if (IsSharedUndef()) return g_UndefVariant;
    CKzVariant* copy = new CKzVariant(v);   // before v can change with this variant
    EnsurePlainList();
    auto& items = ListData()->m_value.Items();
    if (index < 0 || (size_t)index > items.size()) {
        delete copy;
        return g_UndefVariant;
    }
    items.insert(items.begin() + index, copy);
    return *copy;
}

CKzVariant& CKzVariant::Append(const CKzVariant& v)
{
    if (IsSharedUndef()) return g_UndefVariant;
    CKzVariant* copy = new CKzVariant(v);
    EnsurePlainList();
    ListData()->m_value.Items().push_back(copy);
    return *copy;
}

int CKzVariant::SetOrAppend(const CKzStringW& name, CKzVariant& v)
{
    const int i = IndexOf(name);
    if (i < 0) {
        v.SetName(name);
        Append(v);
        return i;
    }
    (*this)[i] = v;
    return i;
}

bool CKzVariant::Delete(unsigned int index)
{
    if (!m_pData || IsSharedUndef()) return false;
    if (!IsPlainList(m_pData)) m_pData->SetRunType(CKzVariantDataCKzListVariant::m_runTypeOrig);
    CKzVariantDataCKzListVariant* l = ListData();
    if (!l) return false;
    const int i = (int)index;
    auto& items = l->m_value.Items();
    if (i < 0 || (size_t)i >= items.size()) return false;
    std::vector<CKzVariant*> gone{items[(size_t)i]};
    items.erase(items.begin() + i);
    CKzListVariant tmp;
    tmp.Items().swap(gone);   // deleted without recursion
    return true;
}

bool CKzVariant::Member(const CKzVariant& v) const
{
    const CKzVariantDataCKzListVariant* l = ListData();
    if (!l) return false;
    for (const CKzVariant* c : l->m_value.Items())
        if (*c == v) return true;
    return false;
}

// ---------------------------------------------------------------------------
// equality and structure

bool CKzVariant::operator==(const CKzVariant& other) const
{
    if (!m_pData || !other.m_pData) return !m_pData && !other.m_pData;
    return m_pData->Eq(*other.m_pData);
}

int CKzVariant::CompareStructure(const CKzVariant& a, const CKzVariant& b, bool recursive)
{
    if (!recursive || a.GetCount() < 0) {
        if (a.GetCount() != b.GetCount()) return -1;
        return a.GetRunType() == b.GetRunType() ? 0 : -1;
    }
    // Lists: children at equal positions, level by level from a work list
    // (no recursion over deep trees). Run types of lists are not compared.
    struct Pair {
        const CKzVariant* x;
        const CKzVariant* y;
    };
    std::vector<Pair> work{{&a, &b}};
    while (!work.empty()) {
        const Pair p = work.back();
        work.pop_back();
        const int n = p.x->GetCount();
        if (n != p.y->GetCount()) return -1;
        if (n >= 0) {
            for (int i = 0; i < n; ++i) work.push_back({p.x->IndexPtr(i), p.y->IndexPtr(i)});
        } else if (p.x->GetRunType() != p.y->GetRunType()) {
            return -1;
        }
    }
    return 0;
}

int compareStructure_Special(const CKzVariant& a, const CKzVariant& b)
{
    const int n = a.GetCount();
    if (n != b.GetCount()) return -1;
    if (n < 0) return a.GetRunType() == b.GetRunType() ? 0 : -1;
    for (int i = 0; i < n; ++i)
        if (CKzVariant::CompareStructure(*a.IndexPtr(i), *b.IndexPtr(i), false) != 0) return -1;
    return 0;
}

// ---------------------------------------------------------------------------
// trace

static void AppendNarrow(CKzStringW& out, const char* s)
{
    std::string n(s);
    std::wstring w(n.begin(), n.end());
    out += w.c_str();
}

void CKzVariant::TraceLow(CKzStringW* out, const CKzVariant& v, bool flag, int depth)
{
    if (!out) return;
    if (depth < 0) {
        *out += L"<variant version=\"1.0\">\r\n";
        TraceLow(out, v, flag, 0);
        *out += L"</variant>\r\n";
        return;
    }
    // Walked with an explicit stack: a list is opened, its children follow,
    // then it is closed.
    struct Frame {
        const CKzVariant* v;
        int depth;
        int next;   // -1: not opened yet
    };
    std::vector<Frame> stack{{&v, depth, -1}};
    while (!stack.empty()) {
        Frame& f = stack.back();
        const CKzVariant& node = *f.v;
        const std::wstring indent((size_t)f.depth, L' ');
        if (f.next < 0) {
            *out += indent.c_str();
            *out += L"<";
            *out += node.GetName();
            *out += L" runtype=\"";
            AppendNarrow(*out, node.GetRunType().GetNameA());
            if (node.GetCount() < 0) {
                *out += L"\" value=\"";
                *out += node.GetCKzStringW();
                *out += L"\"/>\r\n";
                stack.pop_back();
                continue;
            }
            *out += L"\">\r\n";
            f.next = 0;
        }
        if (f.next < node.GetCount()) {
            const Frame child{node.IndexPtr(f.next++), f.depth + 1, -1};
            stack.push_back(child);
            continue;
        }
        *out += indent.c_str();
        *out += L"</";
        *out += node.GetName();
        *out += L">\r\n";
        stack.pop_back();
    }
}

void CKzVariant::Trace(const CKzVariant&) {}

CKzStringW& CKzVariant::Trace(CKzStringW& out, const CKzVariant& v)
{
    CKzStringW text;
    TraceLow(&text, v, false, -1);
    out = text;
    return out;
}

// ---------------------------------------------------------------------------
// text form and getters

bool CKzVariant::Write(CKzStringW& out) const
{
    if (!m_pData) return false;
    return m_pData->Write(out);
}

bool CKzVariant::Read(const CKzStringW& text)
{
    if (!m_pData || IsSharedUndef()) return false;
    return m_pData->Read(text);
}

bool CKzVariant::Read(const wchar_t* text)
{
    if (!m_pData || IsSharedUndef()) return false;
    return m_pData->Read(text ? text : L"");
}

namespace {

enum class Kind { Undef, I32, U32, I64, U64, Dbl, Bool, Ptr, Str, Bytes, List };

Kind KindOf(const CKzVariantData* d)
{
    if (!d) return Kind::Undef;
    const CKzVariantRunType& t = d->GetRunType();
    if (d->IsArray()) return Kind::List;
    if (t == CKzVariantDataKz_int32::m_runType) return Kind::I32;
    if (t == CKzVariantDataKz_uint32::m_runType) return Kind::U32;
    if (t == CKzVariantDataKz_int64::m_runType) return Kind::I64;
    if (t == CKzVariantDataKz_uint64::m_runType) return Kind::U64;
    if (t == CKzVariantDataDouble::m_runType) return Kind::Dbl;
    if (t == CKzVariantDataBool::m_runType) return Kind::Bool;
    if (t == CKzVariantDataVoidPtr::m_runType) return Kind::Ptr;
    if (t == CKzVariantDataCKzStringW::m_runType) return Kind::Str;
    if (t == CKzVariantDataCKzByteArray::m_runType) return Kind::Bytes;
    return Kind::Undef;
}

template <class D> const auto& Val(const CKzVariantData* d) { return static_cast<const D*>(d)->m_value; }

template <class T> bool FirstBytes(const CKzVariantData* d, T& out)
{
    const CKzByteArray& b = Val<CKzVariantDataCKzByteArray>(d);
    if (b.GetSize() < sizeof(T) || !b.GetData()) return false;
    std::memcpy(&out, b.GetData(), sizeof(T));
    return true;
}

void SetOk(bool* ok, bool v) { if (ok) *ok = v; }

// Integer getters share one table: the value as a signed or unsigned 64-bit
// pattern, then cut to the target width.
template <class T>
T GetInteger(const CKzVariantData* d, bool* ok, T (*fromDouble)(double), bool (*scan)(const wchar_t*, T&), T failure)
{
    SetOk(ok, true);
    switch (KindOf(d)) {
    case Kind::I32: return (T)(i64)Val<CKzVariantDataKz_int32>(d);
    case Kind::U32: return (T)(u64)Val<CKzVariantDataKz_uint32>(d);
    case Kind::I64: return (T)Val<CKzVariantDataKz_int64>(d);
    case Kind::U64: return (T)Val<CKzVariantDataKz_uint64>(d);
    case Kind::Dbl: return fromDouble(Val<CKzVariantDataDouble>(d));
    case Kind::Bool: return (T)(Val<CKzVariantDataBool>(d) ? 1 : 0);
    case Kind::Ptr: return (T)(uintptr_t)Val<CKzVariantDataVoidPtr>(d);
    case Kind::Str: {
        T v = 0;
        scan(Val<CKzVariantDataCKzStringW>(d).GetString(), v);
        return v;
    }
    case Kind::Bytes: {
        T v;
        if (FirstBytes(d, v)) return v;
        break;
    }
    default: break;
    }
    SetOk(ok, false);
    return failure;
}

kz_uint32 U32FromDouble(double x) { return DoubleToU32(x); }

} // namespace

bool CKzVariant::GetBool(bool* ok) const
{
    SetOk(ok, true);
    const CKzVariantData* d = m_pData;
    switch (KindOf(d)) {
    case Kind::I32: return Val<CKzVariantDataKz_int32>(d) != 0;
    case Kind::U32: return Val<CKzVariantDataKz_uint32>(d) != 0;
    case Kind::I64: return Val<CKzVariantDataKz_int64>(d) != 0;
    case Kind::U64: return Val<CKzVariantDataKz_uint64>(d) != 0;
    case Kind::Dbl: { double x = Val<CKzVariantDataDouble>(d); return x < 0.0 || x > 0.0; }
    case Kind::Bool: return Val<CKzVariantDataBool>(d);
    case Kind::Ptr: return Val<CKzVariantDataVoidPtr>(d) != nullptr;
    case Kind::Str: return std::wcscmp(Val<CKzVariantDataCKzStringW>(d).GetString(), L"true") == 0;
    case Kind::Bytes: { u8 b; if (FirstBytes(d, b)) return b != 0; break; }
    default: break;
    }
    SetOk(ok, false);
    return false;
}

double CKzVariant::GetDouble(bool* ok) const
{
    SetOk(ok, true);
    const CKzVariantData* d = m_pData;
    switch (KindOf(d)) {
    case Kind::I32: return (double)Val<CKzVariantDataKz_int32>(d);
    case Kind::U32: return (double)Val<CKzVariantDataKz_uint32>(d);
    case Kind::I64: return (double)Val<CKzVariantDataKz_int64>(d);
    case Kind::U64: return (double)Val<CKzVariantDataKz_uint64>(d);
    case Kind::Dbl: return Val<CKzVariantDataDouble>(d);
    case Kind::Bool: return Val<CKzVariantDataBool>(d) ? 1.0 : 0.0;
    case Kind::Str: return ScanDouble(Val<CKzVariantDataCKzStringW>(d).GetString());
    case Kind::Bytes: { double x; if (FirstBytes(d, x)) return x; break; }
    default: break;
    }
    SetOk(ok, false);
    return 0.0;
}

kz_int32 CKzVariant::GetKz_int32(bool* ok) const
{
    return GetInteger<kz_int32>(m_pData, ok, DoubleToI32, ScanI32, -1);
}

kz_uint32 CKzVariant::GetKz_uint32(bool* ok) const
{
    return GetInteger<kz_uint32>(m_pData, ok, U32FromDouble, ScanU32, 0);
}

kz_int64 CKzVariant::GetKz_int64(bool* ok) const
{
    return GetInteger<kz_int64>(m_pData, ok, DoubleToI64, ScanI64, -1);
}

kz_uint64 CKzVariant::GetKz_uint64(bool* ok) const
{
    return GetInteger<kz_uint64>(m_pData, ok, DoubleToU64, ScanU64, 0);
}

CKzStringW CKzVariant::GetCKzStringW(bool* ok) const
{
    CKzStringW s;
    const bool r = Write(s);
    SetOk(ok, r);
    if (!r) return CKzStringW();
    return s;
}

CKzByteArray CKzVariant::GetCKzByteArray(bool* ok) const
{
    switch (KindOf(m_pData)) {
    case Kind::Bytes: {
        SetOk(ok, true);
        CKzByteArray copy(Val<CKzVariantDataCKzByteArray>(m_pData));
        return copy;
    }
    case Kind::I32: {
        SetOk(ok, true);
        const kz_int32 v = Val<CKzVariantDataKz_int32>(m_pData);
        return CKzByteArray(&v, 4, 1024);
    }
    default: break;
    }
    SetOk(ok, false);
    return CKzByteArray(1024);
}

void* CKzVariant::GetVoidPtr(bool* ok) const
{
    switch (KindOf(m_pData)) {
    case Kind::Ptr: SetOk(ok, true); return Val<CKzVariantDataVoidPtr>(m_pData);
    case Kind::Bytes:
        SetOk(ok, true);
        return (void*)Val<CKzVariantDataCKzByteArray>(m_pData).GetData();
    default: break;
    }
    SetOk(ok, false);
    return nullptr;
}

const CKzListVariant& CKzVariant::GetCKzListVariant(bool* ok) const
{
    if (const CKzVariantDataCKzListVariant* l = ListData()) {
        SetOk(ok, true);
        return l->m_value;
    }
    SetOk(ok, false);
    static const CKzListVariant* empty = new CKzListVariant();
    return *empty;
}

void* CKzVariant::GetValueVoidPtr() const
{
    return m_pData ? m_pData->GetValueVoidPtr() : nullptr;
}

// ---------------------------------------------------------------------------
// typed comparisons

bool CKzVariant::operator==(const bool& v) const { bool ok; bool x = GetBool(&ok); return ok && x == v; }
bool CKzVariant::operator==(const int& v) const { bool ok; kz_int32 x = GetKz_int32(&ok); return ok && x == v; }
bool CKzVariant::operator==(const unsigned int& v) const { bool ok; kz_uint32 x = GetKz_uint32(&ok); return ok && x == v; }
bool CKzVariant::operator==(const long& v) const { bool ok; kz_int64 x = GetKz_int64(&ok); return ok && x == v; }
bool CKzVariant::operator==(const unsigned long& v) const { bool ok; kz_uint64 x = GetKz_uint64(&ok); return ok && x == v; }
bool CKzVariant::operator==(const double& v) const { bool ok; double x = GetDouble(&ok); return ok && AlmostEqual(v, x, 3); }
bool CKzVariant::operator==(const CKzStringW& v) const
{
    bool ok;
    CKzStringW x = GetCKzStringW(&ok);
    return ok && std::wcscmp(x.GetString(), v.GetString()) == 0 && x.GetLength() == v.GetLength();
}
bool CKzVariant::operator==(const CKzByteArray& v) const { bool ok; CKzByteArray x = GetCKzByteArray(&ok); return ok && x == v; }
bool CKzVariant::operator==(void* const& v) const { bool ok; void* x = GetVoidPtr(&ok); return ok && x == v; }
bool CKzVariant::operator==(const CKzListVariant& v) const
{
    if (!m_pData) return false;
    CKzVariantDataCKzListVariant tmp(v);
    return m_pData->Eq(tmp);
}

// ---------------------------------------------------------------------------
// run-type changes and structure builders

int CKzVariant::SetRunType_helper(CKzVariant& target, const CKzVariant& sample, bool rename)
{
    if (target.IsSharedUndef()) return KZ_OK;
    if (target.m_pData && sample.m_pData) target.m_pData->SetRunType(sample.GetRunType());
    if (rename) target.m_name = sample.m_name;
    const int n = target.GetCount();
    for (int i = 0; i < n; ++i) {
        const CKzVariant* s = sample.IndexPtr(i);
        if (s) SetRunType_helper(*target.IndexPtr(i), *s, true);
    }
    return KZ_OK;
}

int CKzVariant::SetRunType(const CKzVariantRunType& type)
{
    if (GetRunType() == type) return KZ_OK;
    if (!m_bTypeChange || IsSharedUndef()) return KZ_ERR_FAILED;
    CKzVariant temp(type, CKzStringW());
    if (!temp.m_pData) return KZ_ERR_INVALID_ARG;
    if (CompareStructure(*this, temp, true) != 0) *this = temp;
    else SetRunType_helper(*this, temp, false);
    return KZ_OK;
}

int CKzVariant::SetRunTypeCompatible_helper(CKzVariant& target, const CKzVariant& source)
{
    const int n = target.GetCount();
    for (int i = 0; i < n; ++i) {
        CKzVariant& t = *target.IndexPtr(i);
        const int j = source.IndexOf(t.GetName());
        if (j < 0) continue;
        const CKzVariant& s = *source.IndexPtr(j);
        if (t.GetCount() > 0 && s.GetCount() > 0) SetRunTypeCompatible_helper(t, s);
        else if (t.GetRunType() == s.GetRunType()) t = s;
    }
    return KZ_OK;
}

int CKzVariant::SetRunTypeCompatible(const CKzVariantRunType& type)
{
    if (GetRunType() == type) return KZ_OK;
    if (!m_bTypeChange || IsSharedUndef()) return KZ_ERR_FAILED;
    CKzVariant temp(type, CKzStringW());
    if (!temp.m_pData) return KZ_ERR_INVALID_ARG;
    if (CompareStructure(*this, temp, true) != 0) {
        SetRunTypeCompatible_helper(temp, *this);
        *this = temp;
    } else {
        SetRunType_helper(*this, temp, false);
    }
    return KZ_OK;
}

void CKzVariant::ClearList()
{
    if (IsSharedUndef()) return;
    if (!IsPlainList(m_pData)) SetRunType(CKzVariantDataCKzListVariant::m_runTypeOrig);
    if (IsPlainList(m_pData)) ListData()->m_value.Clear();
}

CKzVariant CKzVariant::CreateStruct(const CKzStringW& name, const CKzVariant* first, ...)
{
    CKzVariant result(CKzListVariant(), name);
    if (!first || !first->m_pData) return result;
    result.Append(*first);
    va_list ap;
    va_start(ap, first);
    for (;;) {
        const CKzVariant* v = va_arg(ap, const CKzVariant*);
        if (!v || !v->m_pData) break;
        result.Append(*v);
    }
    va_end(ap);
    return result;
}

CKzVariant CKzVariant::CreateStructNamed(const CKzVariantRunType& type, const CKzStringW& name,
                                         const CKzVariant* first, ...)
{
    CKzVariant result(type, name);
    if (!first || !first->m_pData) return result;
    result[first->GetName().GetString()] = *first;
    va_list ap;
    va_start(ap, first);
    for (;;) {
        const CKzVariant* v = va_arg(ap, const CKzVariant*);
        if (!v || !v->m_pData) break;
        result[v->GetName().GetString()] = *v;
    }
    va_end(ap);
    return result;
}
