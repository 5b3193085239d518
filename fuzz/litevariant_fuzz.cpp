// Feeds arbitrary bytes to the lite-variant reader: walks, lookups by name,
// typed reads, tree rebuild, inflation, extraction, merge, tag text and the
// range-mask loader. Every path must stay inside the blob and terminate.
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzRangeMask.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzVariant.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void load(CKzLiteVariantR& r, const uint8_t* data, size_t size)
{
    r.Clear();
    if (size) r.SetData(data, size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
}

// Names worth looking up: fixed ones and those the input spells as ASCII runs.
std::vector<std::wstring> namesOf(const uint8_t* data, size_t size)
{
    std::vector<std::wstring> names = {L"A", L"x", L"a0", L"Si", L"Ma", L"__m_runType", L""};
    std::wstring cur;
    for (size_t i = 0; i + 1 < size && names.size() < 24; i += 2) {
        if (data[i] >= 0x20 && data[i] < 0x7F && data[i + 1] == 0) {
            cur += (wchar_t)data[i];
        } else {
            if (!cur.empty()) names.push_back(cur);
            cur.clear();
        }
    }
    return names;
}

void readAll(CKzLiteVariantR& r, const std::vector<std::wstring>& names)
{
    for (const std::wstring& n : names) {
        const wchar_t* nm = n.c_str();
        (void)r.Get(nm, false);
        (void)r.Get(nm, 0);
        (void)r.Get(nm, 0u);
        (void)r.Get(nm, 0L);
        (void)r.Get(nm, 0UL);
        (void)r.Get(nm, 0.0);
        (void)r.Get(nm, (void*)nullptr);
        (void)r.Get(nm, (const unsigned short*)nullptr);
        (void)r.Get(nm, L"");
        CKzStringW s;
        r.GetCKzStringW(s, nm, L"d");
        unsigned char buf[16];
        (void)r.Get(nm, buf, sizeof buf);
        CKzByteArray ba(64);
        (void)r.Get(nm, ba);
        unsigned long len = 0;
        (void)r.Get(nm, &len);
        (void)r.IsValueSet(nm);
    }
}

void walk(CKzLiteVariantR& r, const std::vector<std::wstring>& names, int depth)
{
    int steps = 0;
    while (r.IsNextValue() && steps++ < 4096) {
        wchar_t name[300];
        r.GetCurrentName(name, 299);
        int code = r.GetCurrentType();
        (void)r.GetCurrentValue(false);
        (void)r.GetCurrentValue(0);
        (void)r.GetCurrentValue(0L);
        (void)r.GetCurrentValue(0UL);
        (void)r.GetCurrentValue(0.0);
        (void)r.GetCurrentValue(L"");
        unsigned long len = 0;
        (void)r.GetCurrentValue(&len);
        const void* p = nullptr;
        (void)r.ReadCurrentValue(&p, 0);
        uint64_t raw;
        (void)r.ReadCurrentValue(&raw, 8);
        if ((code == 10 || code == 11) && depth < 32) {
            unsigned k = 0;
            if (r.CurrentLevelBegin(&k) == 0) {
                readAll(r, names);
                r.FirstValue();
                walk(r, names, depth + 1);
                r.LevelEnd();
            }
        }
        if (r.NextValue() != 0) break;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::wstring> names = namesOf(data, size);
    CKzLiteVariantR r;

    load(r, data, size);
    walk(r, names, 0);

    load(r, data, size);
    readAll(r, names);
    for (const std::wstring& n : names) {
        unsigned k;
        if (r.LevelBegin(n.c_str(), &k) == 0) {
            readAll(r, names);
            r.LevelEnd();
        }
    }

    load(r, data, size);
    CKzVariant v;
    (void)r.GetCurrentValue(v);
    CKzLiteVariantW w;
    w.Set(v, nullptr);
    CKzLiteVariantR again;
    w.Finalize(again);
    {
        // Once a tree has been through the form twice (names made safe, a
        // first text member named "__m_runType" taken as the run type,
        // undefined members stored as empty levels), writing and rebuilding it
        // again must give the same bytes: nothing is lost or changed on the way.
        CKzLiteVariantR second, third;
        for (CKzLiteVariantR* out : {&second, &third}) {
            CKzLiteVariantR& in = out == &second ? again : second;
            CKzVariant t;
            in.Reset();
            (void)in.GetCurrentValue(t);
            CKzLiteVariantW wt;
            wt.Set(t, nullptr);
            wt.Finalize(*out);
        }
        if (third.GetSize() != second.GetSize() ||
            (third.GetSize() && std::memcmp(third.GetData(), second.GetData(), third.GetSize()) != 0))
            std::abort();
    }

    load(r, data, size);
    (void)r.Decompress();
    (void)r.ConvertLV31toLV32();
    CKzStringW text;
    r.Reset();
    r.LiteVariantToXML(text);
    CKzLiteVariantR fromText;
    fromText.LiteVariantFromXML(text);

    load(r, data, size);
    CKzLiteVariantR extracted;
    (void)r.ExtractCurrent(extracted);
    w.LevelBegin(L"R");
    (void)w.Append(r);
    if (r.CurrentLevelBegin() == 0) {
        (void)w.Append(r);
        for (const std::wstring& n : names) (void)r.Extract(n.c_str(), extracted);
        CKzRangeMask m;
        m.LoadFromLiteVariant(r);
        (void)m.GetCount(0);
        r.LevelEnd();
    }
    w.Finalize(again);

    CKzLiteVariantR a, b;
    load(a, data, size);
    load(b, data, size);
    (void)a.Merge(b);

    // The same bytes as tag text.
    std::wstring wide;
    for (size_t i = 0; i < size && i < 4096; ++i) wide += (wchar_t)data[i];
    CKzStringW t(wide.c_str(), 0);
    fromText.LiteVariantFromXML(t);
    return 0;
}
