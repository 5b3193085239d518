// Value objects of variants: text form, copying, defaults and equality.
#include "gnr_system/CKzVariant.h"
#include "gnr_system/CKzVariantText.h"
#include "gnr_system/Base64Coder.h"

#include <cstring>
#include <string>
#include <unordered_map>

using namespace kzvariant;

// The static run-type objects are defined in CKzVariant.cpp, before the
// shared undefined variant and the registry that use them.


// ---------------------------------------------------------------------------
// CKzVariantRunType

CKzVariantRunType::CKzVariantRunType() {}
CKzVariantRunType::CKzVariantRunType(const char* name) : m_name(name ? name : "") {}
CKzVariantRunType::CKzVariantRunType(const CKzStringA& name)
    : m_name(name.GetString(), (size_t)name.GetLength())
{
}

CKzStringA CKzVariantRunType::GetName() const
{
    return CKzStringA(m_name.c_str());
}

bool CKzVariantRunType::IsStructure() const
{
    return m_name.compare(0, 3, "RKz") == 0;
}

// ---------------------------------------------------------------------------
// CKzVariantData

CKzVariantData::~CKzVariantData() {}
bool CKzVariantData::Read(const CKzStringW& text) { return Read(text.GetString()); }
int CKzVariantData::SetRunType(const CKzVariantRunType&) { return KZ_ERR_FAILED; }
bool CKzVariantData::IsArray() const { return false; }

static void AppendAscii(CKzStringW& out, const std::string& s)
{
    std::wstring w(s.begin(), s.end());
    out += w.c_str();
}

static const wchar_t* Safe(const wchar_t* t) { return t ? t : L""; }

#define KZ_SCALAR_COMMON(CLASS)                                                 \
    bool CLASS::Eq(const CKzVariantData& other) const                           \
    {                                                                           \
        if (other.GetRunType() != m_runType) return false;                      \
        return static_cast<const CLASS&>(other).m_value == m_value;             \
    }                                                                           \
    void CLASS::GetValueCopy(CKzVariantData& target) const                      \
    {                                                                           \
        if (&target != this && target.GetRunType() == m_runType)                \
            static_cast<CLASS&>(target).m_value = m_value;                      \
    }                                                                           \
    CKzVariantData* CLASS::Clone() const { return new CLASS(); }

KZ_SCALAR_COMMON(CKzVariantDataKz_int32)
KZ_SCALAR_COMMON(CKzVariantDataKz_uint32)
KZ_SCALAR_COMMON(CKzVariantDataKz_int64)
KZ_SCALAR_COMMON(CKzVariantDataKz_uint64)
KZ_SCALAR_COMMON(CKzVariantDataBool)
KZ_SCALAR_COMMON(CKzVariantDataVoidPtr)
KZ_SCALAR_COMMON(CKzVariantDataCKzStringW)

bool CKzVariantDataDouble::Eq(const CKzVariantData& other) const
{
    if (other.GetRunType() != m_runType) return false;
    return AlmostEqual(static_cast<const CKzVariantDataDouble&>(other).m_value, m_value, 3);
}
void CKzVariantDataDouble::GetValueCopy(CKzVariantData& target) const
{
    if (&target != this && target.GetRunType() == m_runType)
        static_cast<CKzVariantDataDouble&>(target).m_value = m_value;
}
CKzVariantData* CKzVariantDataDouble::Clone() const { return new CKzVariantDataDouble(); }

bool CKzVariantDataKz_int32::Write(CKzStringW& out) const { out = L""; AppendAscii(out, FormatI64(m_value)); return true; }
bool CKzVariantDataKz_uint32::Write(CKzStringW& out) const { out = L""; AppendAscii(out, FormatU64(m_value)); return true; }
bool CKzVariantDataKz_int64::Write(CKzStringW& out) const { out = L""; AppendAscii(out, FormatI64(m_value)); return true; }
bool CKzVariantDataKz_uint64::Write(CKzStringW& out) const { out = L""; AppendAscii(out, FormatU64(m_value)); return true; }
bool CKzVariantDataDouble::Write(CKzStringW& out) const { out = L""; AppendAscii(out, FormatDoubleFixed15(m_value)); return true; }
bool CKzVariantDataBool::Write(CKzStringW& out) const { out = m_value ? L"true" : L"false"; return true; }
bool CKzVariantDataVoidPtr::Write(CKzStringW& out) const { out = L""; AppendAscii(out, FormatPointer(m_value)); return true; }
bool CKzVariantDataCKzStringW::Write(CKzStringW& out) const { out = m_value; return true; }

// A scan that finds no number leaves the value; Read reports true regardless.
bool CKzVariantDataKz_int32::Read(const wchar_t* t) { ScanI32(Safe(t), m_value); return true; }
bool CKzVariantDataKz_uint32::Read(const wchar_t* t) { ScanU32(Safe(t), m_value); return true; }
bool CKzVariantDataKz_int64::Read(const wchar_t* t) { ScanI64(Safe(t), m_value); return true; }
bool CKzVariantDataKz_uint64::Read(const wchar_t* t) { ScanU64(Safe(t), m_value); return true; }
bool CKzVariantDataDouble::Read(const wchar_t* t) { m_value = ScanDouble(Safe(t)); return true; }
bool CKzVariantDataBool::Read(const wchar_t* t) { m_value = std::wcscmp(Safe(t), L"true") == 0; return true; }
bool CKzVariantDataVoidPtr::Read(const wchar_t* t) { ScanPointer(Safe(t), m_value); return true; }
bool CKzVariantDataCKzStringW::Read(const wchar_t* t)
{
    if (t != m_value.GetString()) m_value = CKzStringW(Safe(t));
    return true;
}

// ---------------------------------------------------------------------------
// byte array

CKzVariantDataCKzByteArray::CKzVariantDataCKzByteArray() : m_value(1024) {}
CKzVariantDataCKzByteArray::CKzVariantDataCKzByteArray(const CKzByteArray& v) : m_value(1024)
{
    m_value = v;
}

bool CKzVariantDataCKzByteArray::Write(CKzStringW& out) const
{
    out = L"";
    const unsigned long n = m_value.GetSize();
    if (n == 0 || !m_value.GetData()) return false;
    if (n > 0x3FFFFFFFul) return false;   // the coder counts in 32 bits
    Base64Coder coder;
    coder.Encode(m_value.GetData(), (unsigned)n);
    unsigned len = 0;
    const unsigned char* text = (const unsigned char*)coder.EncodedBuffer(&len);
    if (!text) return false;
    std::wstring w(text, text + len);
    out = w.c_str();
    return true;
}

bool CKzVariantDataCKzByteArray::Read(const wchar_t* t)
{
    if (!t || !*t) return true;
    Base64Coder coder;
    coder.DecodeW(t);
    unsigned len = 0;
    const unsigned char* bytes = (const unsigned char*)coder.DecodedBuffer(&len);
    m_value.FreeData();
    if (bytes && len)
        m_value.SetData(bytes, len, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    return true;
}

bool CKzVariantDataCKzByteArray::Eq(const CKzVariantData& other) const
{
    if (other.GetRunType() != m_runType) return false;
    if (static_cast<const CKzVariantDataCKzByteArray&>(other).m_value == m_value) return true;
    KZ_PrintFailure("gnr_system/CKzVariant", __LINE__);
    return false;
}

void CKzVariantDataCKzByteArray::GetValueCopy(CKzVariantData& target) const
{
    if (&target != this && target.GetRunType() == m_runType)
        static_cast<CKzVariantDataCKzByteArray&>(target).m_value = m_value;
}

CKzVariantData* CKzVariantDataCKzByteArray::Clone() const { return new CKzVariantDataCKzByteArray(); }

// ---------------------------------------------------------------------------
// list

CKzVariantDataCKzListVariant::CKzVariantDataCKzListVariant() : m_runType(m_runTypeOrig) {}
CKzVariantDataCKzListVariant::CKzVariantDataCKzListVariant(const CKzListVariant& v)
    : m_value(v), m_runType(m_runTypeOrig)
{
}
CKzVariantDataCKzListVariant::~CKzVariantDataCKzListVariant() {}

// The texts of the children joined by blanks, nested lists in place; walked
// with an explicit stack.
bool CKzVariantDataCKzListVariant::Write(CKzStringW& out) const
{
    struct Frame {
        const std::vector<CKzVariant*>* items;
        size_t next;
    };
    CKzStringW all;
    std::vector<Frame> stack{{&m_value.Items(), 0}};
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.next >= f.items->size()) {
            stack.pop_back();
            continue;
        }
        if (f.next) all += L" ";
        const CKzVariant* c = (*f.items)[f.next++];
        const CKzVariantData* d = c->GetData();
        if (d && d->IsArray()) {
            stack.push_back({&static_cast<const CKzVariantDataCKzListVariant*>(d)->m_value.Items(), 0});
            continue;
        }
        CKzStringW piece;
        if (c->Write(piece)) all += piece;
    }
    out = all;
    return true;
}

bool CKzVariantDataCKzListVariant::Read(const wchar_t*) { return false; }

namespace {
// A hasher of this unit keeps the map's code internal to the library.
struct NameHash {
    size_t operator()(const std::wstring& s) const { return std::hash<std::wstring>()(s); }
};
} // namespace

// Pairs of lists still to compare go on a work list, so deep trees are
// compared without recursion.
bool CKzVariantDataCKzListVariant::Eq(const CKzVariantData& other) const
{
    struct Pair {
        const CKzVariantDataCKzListVariant* a;
        const CKzVariantDataCKzListVariant* b;
    };
    if (!other.IsArray()) return false;
    std::vector<Pair> work{{this, static_cast<const CKzVariantDataCKzListVariant*>(&other)}};
    std::unordered_map<std::wstring, std::vector<size_t>, NameHash> byName;
    std::unordered_map<std::wstring, size_t, NameHash> used;
    while (!work.empty()) {
        const Pair p = work.back();
        work.pop_back();
        if (p.a->m_runType != p.b->m_runType) return false;
        const auto& a = p.a->m_value.Items();
        const auto& b = p.b->m_value.Items();
        if (a.size() != b.size()) return false;
        if (a.empty()) continue;
        // Named children pair with the child of the same name on the other
        // side: the k-th child of a name with the k-th child of that name, so
        // lists holding repeated names compare equal to their copies.
        // Unnamed children ("no_name") pair by position.
        byName.clear();
        used.clear();
        for (size_t j = 0; j < b.size(); ++j)
            byName[std::wstring(b[j]->GetName().GetString())].push_back(j);
        for (size_t k = 0; k < a.size(); ++k) {
            const CKzVariant* partner = nullptr;
            std::wstring name(a[k]->GetName().GetString());
            if (name == L"no_name") {
                partner = b[k];
            } else {
                auto it = byName.find(name);
                if (it == byName.end()) return false;
                size_t& n = used[name];
                if (n >= it->second.size()) return false;
                partner = b[it->second[n++]];
            }
            const CKzVariantData* da = a[k]->GetData();
            const CKzVariantData* db = partner->GetData();
            if (!da || !db) {
                if (da || db) return false;
                continue;
            }
            if (da->IsArray() && db->IsArray()) {
                work.push_back({static_cast<const CKzVariantDataCKzListVariant*>(da),
                                static_cast<const CKzVariantDataCKzListVariant*>(db)});
                continue;
            }
            if (!da->Eq(*db)) return false;
        }
    }
    return true;
}

void CKzVariantDataCKzListVariant::GetValueCopy(CKzVariantData& target) const
{
    if (&target == this || !target.IsArray()) return;
    static_cast<CKzVariantDataCKzListVariant&>(target).m_value = m_value;
}

CKzVariantData* CKzVariantDataCKzListVariant::Clone() const
{
    CKzVariantDataCKzListVariant* c = new CKzVariantDataCKzListVariant();
    if (m_runType == m_runTypeOrig) return c;
    c->m_runType = m_runType;
    const CKzVariant& sample = CKzVariant::GetRunTypeSample(m_runType);
    if (const CKzVariantData* sd = sample.GetData()) {
        if (sd->IsArray())
            c->m_value = static_cast<const CKzVariantDataCKzListVariant*>(sd)->m_value;
    }
    return c;
}

int CKzVariantDataCKzListVariant::SetRunType(const CKzVariantRunType& type)
{
    m_runType = type;
    return KZ_OK;
}

bool CKzVariantDataCKzListVariant::IsArray() const { return true; }

// ---------------------------------------------------------------------------
// CKzListVariant

CKzListVariant::CKzListVariant() {}

CKzListVariant::CKzListVariant(const CKzListVariant& other)
{
    CopyItems(other.m_items, m_items);
}

// Trees are copied level by level from a work list, so deep trees cannot
// exhaust the stack. The target lists live in heap objects that never move.
void CKzListVariant::CopyItems(const std::vector<CKzVariant*>& src, std::vector<CKzVariant*>& dst)
{
    struct Job {
        const std::vector<CKzVariant*>* from;
        std::vector<CKzVariant*>* to;
    };
    std::vector<Job> jobs{{&src, &dst}};
    while (!jobs.empty()) {
        const Job job = jobs.back();
        jobs.pop_back();
        job.to->reserve(job.to->size() + job.from->size());
        for (const CKzVariant* v : *job.from) {
            CKzVariant* c = CKzVariant::NewShallowCopy(*v);
            job.to->push_back(c);
            const CKzVariantData* sd = v->GetData();
            CKzVariantData* cd = c->GetData();
            if (sd && sd->IsArray() && cd && cd->IsArray()) {
                jobs.push_back({&static_cast<const CKzVariantDataCKzListVariant*>(sd)->m_value.Items(),
                                &static_cast<CKzVariantDataCKzListVariant*>(cd)->m_value.Items()});
            }
        }
    }
}

// Children are deleted without recursion: a node's own children move to the
// work list before the node goes, so deep trees cannot exhaust the stack.
static void DestroyItems(std::vector<CKzVariant*>& items)
{
    std::vector<CKzVariant*> work;
    work.swap(items);
    while (!work.empty()) {
        CKzVariant* v = work.back();
        work.pop_back();
        CKzVariantData* d = v->GetData();
        if (d && d->IsArray()) {
            auto& sub = static_cast<CKzVariantDataCKzListVariant*>(d)->m_value.Items();
            work.insert(work.end(), sub.begin(), sub.end());
            sub.clear();
        }
        delete v;
    }
}

CKzListVariant& CKzListVariant::operator=(const CKzListVariant& other)
{
    if (this == &other) return *this;
    // Copy first: other may be held by one of the children about to go.
    std::vector<CKzVariant*> copies;
    CopyItems(other.m_items, copies);
    copies.swap(m_items);
    DestroyItems(copies);
    return *this;
}

CKzListVariant::~CKzListVariant() { DestroyItems(m_items); }

CKzVariant* CKzListVariant::GetAt(int i) const
{
    if (i < 0 || (size_t)i >= m_items.size()) return nullptr;
    return m_items[(size_t)i];
}

CKzVariant& CKzListVariant::Add(const CKzVariant& v)
{
    CKzVariant* c = new CKzVariant(v);   // the copy constructor copies lists without recursion
    m_items.push_back(c);
    return *c;
}

void CKzListVariant::Clear() { DestroyItems(m_items); }

// ---------------------------------------------------------------------------

bool AlmostEqual(double a, double b, int maxUlps)
{
    if (maxUlps < 0) return false;
    u64 ua, ub;
    std::memcpy(&ua, &a, 8);
    std::memcpy(&ub, &b, 8);
    // Negative patterns are mirrored so that integer order follows the order
    // of the doubles (+0.0 and -0.0 both become 0); all in unsigned arithmetic.
    const u64 sign = 0x8000000000000000ull;
    if (ua & sign) ua = sign - ua;   // == -(magnitude) modulo 2^64
    if (ub & sign) ub = sign - ub;
    const i64 ia = (i64)ua, ib = (i64)ub;
    const u64 diff = ia > ib ? ua - ub : ub - ua;
    return diff <= (u64)maxUlps;
}
