// Feeds arbitrary bytes to the LUT parameter loaders: as a lite blob into each
// of the five parameter classes (load, save, reload, save again: both
// writings must agree and, without NaNs, the objects compare equal), and as
// XML text into the variant loader of SKzLutParam, whose spectral data then
// answers colours, offsets and gains, group masks and group edits.
#include "gnr_picture/CKzLutParam.h"
#include "gnr_picture/SKzLutParam.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzRangeMask.h"
#include "gnr_system/CKzSerializerXMLString.h"
#include "gnr_system/CKzVariant.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

void check(bool ok)
{
    if (!ok) __builtin_trap();
}

void load(CKzLiteVariantR& r, const uint8_t* data, size_t size)
{
    r.Clear();
    if (size) r.SetData(data, size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
    r.Reset();
}

template <class T>
Bytes written(const T& obj)
{
    CKzLiteVariantW w;
    w.LevelBegin(L"root");
    check(obj.SaveToLiteVariant(w) == 0);
    w.LevelEnd();
    CKzLiteVariantR r;
    w.Finalize(r);
    return Bytes(r.GetData(), r.GetData() + r.GetSize());
}

// Loads a class from the blob; when that works, saves it, reloads the saved
// form into a fresh object and saves that again.
template <class T, class NoNaN>
void roundTrip(const uint8_t* data, size_t size, NoNaN noNaN)
{
    CKzLiteVariantR r;
    load(r, data, size);
    T a;
    if (a.LoadFromLiteVariant(r) != 0) return;
    const Bytes first = written(a);
    CKzLiteVariantR back;
    load(back, first.data(), first.size());
    check(back.LevelBegin(L"root") == 0);
    T b;
    check(b.LoadFromLiteVariant(back) == 0);
    check(written(b) == first);
    if (noNaN(a)) check(b.CompareWith(a));
    T c(b);
    if (noNaN(a)) check(c.CompareWith(b));
}

bool finite(double x) { return !std::isnan(x); }

template <class T>
bool slotsFinite(const T& p)
{
    if (!finite(p.GetGamma())) return false;
    for (unsigned i = 0; i < p.GetSlotCount(); ++i)
        if (!finite(p.GetGain(i)) || !finite(p.GetOffset(i))) return false;
    return true;
}

void liteForms(const uint8_t* data, size_t size)
{
    roundTrip<CKzLutParamMCH>(data, size, [](const CKzLutParamMCH& p) {
        for (unsigned k = 0; k < p.GetChannelCount(); ++k)
            if (!finite(p.GetGamma(k))) return false;
        return true;
    });
    roundTrip<CKzLutParamRGB>(data, size, [](const CKzLutParamRGB& p) {
        return finite(p.GetGamma(0)) && finite(p.GetGamma(1)) && finite(p.GetGamma(2));
    });
    roundTrip<CKzLutParamSpectralTrueColor>(data, size, slotsFinite<CKzLutParamSpectralTrueColor>);
    roundTrip<CKzLutParamSpectralCustomColor>(data, size, slotsFinite<CKzLutParamSpectralCustomColor>);
    roundTrip<CKzLutParamSpectralGrouped>(data, size, slotsFinite<CKzLutParamSpectralGrouped>);

    // The custom colours of a loaded object fill exactly its components.
    CKzLiteVariantR r;
    load(r, data, size);
    CKzLutParamSpectralCustomColor c;
    if (c.LoadFromLiteVariant(r) == 0) {
        std::vector<unsigned> out(c.GetComponentCount() + 1, 0xDEADBEEF);
        check(c.GetCompColors(out.data()) == 0);
        check(out.back() == 0xDEADBEEF);
    }
}

void variantForm(const uint8_t* data, size_t size)
{
    CKzVariant v;
    if (CKzSerializerXMLString::VariantFromXML_UTF8(v, reinterpret_cast<const char*>(data), unsigned(size)) != 0)
        return;
    auto p = std::make_unique<SKzLutParam>();
    check(SKzLutParam::LoadFromVariant(*p, v) == 0);
    SKzLutParam::SKzLUTDataSpectral& s = p->sLutDataSpectral;
    // The host sets the component count; take one from the input, also past
    // the records.
    s.uiCompCount = size ? data[size - 1] : 0;
    const unsigned n = s.uiCompCount < 192 ? s.uiCompCount : 192;

    std::vector<unsigned> colours(n + 1, 0xDEADBEEF);
    s.GetCompColors(colours.data(), false, false);
    s.GetCompColors(colours.data(), true, true);
    check(colours[n] == 0xDEADBEEF);
    std::vector<double> off(n + 1, -7.0), gain(n + 1, -7.0);
    s.GetCompOffsetAndGains(off.data(), gain.data());
    check(off[n] == -7.0 && gain[n] == -7.0);

    CKzRangeMask mask;
    if (size > 2) {
        mask.SetSize(data[0] + 1u);
        mask.Reset();
        for (unsigned i = data[1] % (data[0] + 1u); i <= data[0] && i < data[1] + data[2] % 16u; ++i)
            mask.Set(i, true);
    }
    unsigned first = 0;
    p->IsGroupMask(mask, &first);
    CKzRangeMask enabled;
    s.GetComponentEnabledGroupMask(enabled);
    s.GetSpectralGroupCount();
    s.GetCompColor(size ? data[0] : 0, true);

    // The saved form reloads into the same variant text (the per-group arrays
    // sized to the group count, as loading sizes them).
    s.Realloc(s.uiGroupCount);
    CKzVariant saved;
    check(SKzLutParam::SaveToVariant(saved, *p) == 0);
    auto q = std::make_unique<SKzLutParam>();
    check(SKzLutParam::LoadFromVariant(*q, saved) == 0);
    q->sLutDataSpectral.uiCompCount = s.uiCompCount;
    CKzVariant again;
    check(SKzLutParam::SaveToVariant(again, *q) == 0);
    CKzStringW a, b;
    CKzSerializerXMLString::VariantToXML(a, saved);
    CKzSerializerXMLString::VariantToXML(b, again);
    check(a == b);

    // Group edits keep every array within its length.
    s.IsAbleToInsertGroup(size ? data[0] % 8 : 0);
    unsigned count = 0;
    s.RemoveGroup(size > 1 ? data[1] % 8 : 0, &count);
    s.GetAllGroupCount(nullptr, true);
    s.GetCompColors(colours.data(), false, false);
    s.GetCompOffsetAndGains(off.data(), gain.data());
    check(colours[n] == 0xDEADBEEF && off[n] == -7.0);
    SKzLutParam copy(*p);
    copy.CompatibleCopy(*p);
    copy.GlobalParamToComponent();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    liteForms(data, size);
    variantForm(data, size);
    return 0;
}
