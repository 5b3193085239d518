// Feeds arbitrary bytes to the custom description form loader and to the
// tagged custom data loader (through stand-ins of the image-file reader and
// writer). Each input is loaded, saved, loaded and saved again: the two saves
// must be identical. The loaded objects are then exercised through every view.
//
// Input: the first byte chooses the target.
//   even: the rest is a lite-variant blob holding a description form;
//   odd:  u16 length + UTF-8 description document, then chunks (u16 length +
//         bytes each) for the described tags in name order; the first byte's
//         upper bits pick a slice mask.
#include "gnr_metaformats/CKzCustomData.h"
#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzRangeMask.h"
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzVariant.h"
#include "tests/gnr_metaformats/customdata_mocks.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

typedef CKzCustomDescription Desc;

std::vector<unsigned char> SaveForm(const Desc& f)
{
    CKzLiteVariantW w;
    f.SaveToLiteVariant(w);
    CKzLiteVariantR r;
    w.Finalize(r);
    return std::vector<unsigned char>(r.GetData(), r.GetData() + r.GetSize());
}

void LoadForm(Desc& f, const unsigned char* data, size_t size)
{
    CKzLiteVariantR r;
    if (size) r.SetData(data, (unsigned long)size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
    f.LoadFromLiteVariant(r);
}

void FuzzForm(const uint8_t* data, size_t size)
{
    Desc f1;
    LoadForm(f1, data, size);
    std::vector<unsigned char> s1 = SaveForm(f1);
    Desc f2;
    LoadForm(f2, s1.data(), s1.size());
    std::vector<unsigned char> s2 = SaveForm(f2);
    if (s1 != s2) std::abort();
    if (f2.Compare(f1, false, false) != 0 && f2.Compare(f1, true, false) != 0) std::abort();

    CKzStringW trace;
    for (size_t i = 0; i <= f2.size(); ++i) {
        const Desc::CKzItem& it = f2[i];
        it.GetText();
        it.GetNumber();
        it.GetCheck();
        it.GetSelection();
        for (int k = -1; k <= it.GetSelectionLabelCount(); ++k) it.GetSelectionLabel(k);
        Desc::CKzItem::EKzNumberFormat fmt;
        unsigned places;
        it.GetNumberFormat(&fmt, &places);
        it.IsDefault();
        it.IsNULL();
        for (int k = -1; k <= it.GetPresetCount(); ++k) it.GetPresetName(k);
        it.Trace(&trace);
    }
    Desc copy(f2);
    copy.SwapPreset(0, 1);
    copy.RenamePreset(0, L"r");
    copy.UsePreset(1);
    copy.FillValues(f1, true, true);
    copy.SwitchDefaults();
    copy.Compare(f2, false, true);
    copy.RemoveDisabled();
    SaveForm(copy);
}

unsigned Read16(const uint8_t*& p, const uint8_t* end)
{
    if (end - p < 2) {
        p = end;
        return 0;
    }
    unsigned v = p[0] | (p[1] << 8);
    p += 2;
    return v;
}

// Tag counts beyond this are not saved: a described vector of millions of
// 1024-byte text fields would ask for gigabytes, which the saver refuses only
// when the allocation fails.
const unsigned long long kMaxSavedBytes = 16u << 20;

bool Saveable(const CKzCustomData& s)
{
    unsigned long long total = 0;
    for (unsigned i = 0; i < s.GetCustomDataCount(); ++i) {
        CKzCustomData::EKzCustomDataType t;
        CKzStringW name;
        s.GetCustomDataDescription(i, &t, &name, nullptr, nullptr, nullptr);
        total += (unsigned long long)s.GetCount(name) * CKzCustomData::SizeOf(t) + 1024;
    }
    return total <= kMaxSavedBytes;
}

void FuzzCustomData(uint8_t selector, const uint8_t* data, size_t size)
{
    const uint8_t* p = data;
    const uint8_t* end = data + size;
    unsigned docLen = Read16(p, end);
    if ((size_t)(end - p) < docLen) docLen = (unsigned)(end - p);
    kztest::StoredCustomData file;
    file.documents[L"CustomDataV2_0"] = std::string((const char*)p, docLen);
    p += docLen;

    // Names in store order, to hand the following chunks to the described tags.
    {
        CKzVariant v;
        CKzSerializerXMLString::VariantFromXML_UTF8(v, file.documents[L"CustomDataV2_0"].data(), docLen);
        CKzCustomData names;
        names.LoadFromVariant(v);
        if (!Saveable(names)) return;
        for (unsigned i = 0; i < names.GetCustomDataCount() && p < end; ++i) {
            CKzStringW name;
            names.GetCustomDataDescription(i, nullptr, &name, nullptr, nullptr, nullptr);
            unsigned n = Read16(p, end);
            if ((size_t)(end - p) < n) n = (unsigned)(end - p);
            file.chunks[name.GetString()].assign(p, p + n);
            p += n;
        }
    }

    CKzCustomData s1;
    kztest::MockReader r1(file);
    s1.LoadCustomData(&r1, true);
    kztest::StoredCustomData save1;
    kztest::MockWriter w1(save1);
    if (s1.SaveCustomData(&w1, 0) != 0) std::abort();
    CKzCustomData s2;
    kztest::MockReader r2(save1);
    if (s2.LoadCustomData(&r2, true) != 0) std::abort();
    kztest::StoredCustomData save2;
    kztest::MockWriter w2(save2);
    if (s2.SaveCustomData(&w2, 0) != 0) std::abort();
    if (save1.chunks != save2.chunks || save1.documents != save2.documents) std::abort();

    // Views, merging and slicing.
    for (unsigned i = 0; i <= s2.GetCustomDataCount(); ++i) {
        CKzCustomData::EKzCustomDataType t;
        CKzStringW name, desc, unit, text;
        bool vec;
        if (s2.GetCustomDataDescription(i, &t, &name, &desc, &unit, &vec) != 0) continue;
        int iv;
        double dv;
        s2.Get(name, &iv);
        s2.Get(name, &dv);
        s2.Get(name, &text);
        unsigned n = s2.GetCount(name);
        for (unsigned k = 0; k < n && k < 64; ++k) s2.Get(name, k, t, &text, &iv, &dv);
    }
    CKzCustomData merged(s2);
    merged.AddCustomData(&s1);
    merged.AddCustomData(&merged);
    unsigned first = selector >> 4, step = (selector >> 1) & 7;
    CKzRangeMask mask(64, first, first + 9, step);
    CKzCustomData slice;
    merged.GetSlice(slice, mask);
    merged.GetSlice(merged, mask);
    merged.Crop(3);
    kztest::StoredCustomData save3;
    kztest::MockWriter w3(save3);
    merged.SaveCustomData(&w3, 2);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    if (data[0] & 1)
        FuzzCustomData(data[0], data + 1, size - 1);
    else
        FuzzForm(data + 1, size - 1);
    return 0;
}
