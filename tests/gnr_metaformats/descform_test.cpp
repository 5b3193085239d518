// Custom description forms: list operations, presets across items, filling
// values, comparison, the item registry and the lite-variant levels of forms
// and items.
#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_system/CKzLiteVariant.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <clocale>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Desc = CKzCustomDescription;
using Item = Desc::CKzItem;

std::wstring W(const CKzStringW& s) { return std::wstring(s.GetString()); }

std::vector<unsigned char> Bytes(const CKzLiteVariantR& r)
{
    return std::vector<unsigned char>(r.GetData(), r.GetData() + r.GetSize());
}

std::wstring TagText(CKzLiteVariantR& r)
{
    r.Reset();
    CKzStringW out;
    r.LiteVariantToXML(out);
    r.Reset();
    return W(out);
}

template <class T>
std::vector<unsigned char> Save(const T& what, CKzLiteVariantR& r)
{
    CKzLiteVariantW w;
    what.SaveToLiteVariant(w);
    w.Finalize(r);
    return Bytes(r);
}

// A form holding one item of every class, with presets, labels and a date.
Desc SampleForm()
{
    Desc f;
    f.SetName(L"Sample");
    Desc::CKzLabel check(L"Check", 1);
    check.SetID(11);
    check.SetDescription(L"Ready?");
    check.SetMandatory(true);
    check.StorePreset(0, L"P0");
    f << check;
    Desc::CKzNumber gain(L"Gain", 2.5, L"dB");
    gain.SetNumberFormat(Item::eKzExponent, 2);
    gain.SetNumber(-1.25);
    gain.StorePreset(1, L"low");
    f << gain;
    Desc::CKzText note(L"Note", L"hi");
    note.SetEnabled(false);
    f << note;
    f << Desc::CKzLongText(L"Remarks", L"long");
    CKzStringW labels[] = {L"A", L"B"};
    Desc::CKzSelection mode(L"Mode", 1, 2, labels);
    mode.StorePreset(0, L"first");
    f << mode;
    Desc::CKzDate when(L"When", CKzDateTime(86400000LL));
    when.SetDateFormat(Desc::CKzDate::eKzDateOnly);
    when.StorePreset(0, L"day");
    when.SetEmpty();
    f << when;
    f << Item(L"Plain");
    return f;
}

// Written from the record tables of the item levels, not from the code.
std::wstring Base(int type, const wchar_t* name, const wchar_t* desc, bool empty, bool emptyDef, bool mand,
                  long long id, bool enabled)
{
    auto b = [](bool v) { return std::wstring(v ? L"true" : L"false"); };
    return L"<CKzItem runtype=\"CKzListVariant\"><eType runtype=\"kz_int32\" value=\"" + std::to_wstring(type) +
           L"\"/><sName runtype=\"CKzStringW\" value=\"" + name + L"\"/><sDescription runtype=\"CKzStringW\" value=\"" +
           desc + L"\"/><bEmpty runtype=\"bool\" value=\"" + b(empty) +
           L"\"/><bEmptyDefault runtype=\"bool\" value=\"" + b(emptyDef) +
           L"\"/><bMandatory runtype=\"bool\" value=\"" + b(mand) + L"\"/><iID runtype=\"kz_int64\" value=\"" +
           std::to_wstring(id) + L"\"/><bEnabled runtype=\"bool\" value=\"" + b(enabled) + L"\"/></CKzItem>";
}

const std::wstring kGolden =
    L"<CKzCustomDescription runtype=\"CKzListVariant\">"
    L"<sName runtype=\"CKzStringW\" value=\"Sample\"/>"
    L"<vData runtype=\"CKzListVariant\">"
    // label
    L"<CKzLabel runtype=\"CKzListVariant\">" + Base(1, L"Check", L"Ready?", false, false, true, 11, true) +
    L"<iChecked runtype=\"kz_int32\" value=\"1\"/><iDefault runtype=\"kz_int32\" value=\"1\"/>"
    L"<vPresets runtype=\"CKzListVariant\"><no_name runtype=\"CKzListVariant\">"
    L"<sName runtype=\"CKzStringW\" value=\"P0\"/><aValue runtype=\"kz_int32\" value=\"1\"/>"
    L"<bEmpty runtype=\"bool\" value=\"false\"/></no_name></vPresets></CKzLabel>"
    // number, with a gap preset before "low"
    L"<CKzNumber runtype=\"CKzListVariant\">" + Base(2, L"Gain", L"", false, false, false, 0, true) +
    L"<sUnit runtype=\"CKzStringW\" value=\"dB\"/><dValue runtype=\"double\" value=\"-1.250000000000000\"/>"
    L"<dDefault runtype=\"double\" value=\"2.500000000000000\"/><eFormat runtype=\"kz_uint32\" value=\"1\"/>"
    L"<uiPlaces runtype=\"kz_uint32\" value=\"2\"/>"
    L"<vPresets runtype=\"CKzListVariant\">"
    L"<no_name runtype=\"CKzListVariant\"><sName runtype=\"CKzStringW\" value=\"\"/>"
    L"<aValue runtype=\"double\" value=\"0.000000000000000\"/><bEmpty runtype=\"bool\" value=\"false\"/></no_name>"
    L"<no_name runtype=\"CKzListVariant\"><sName runtype=\"CKzStringW\" value=\"low\"/>"
    L"<aValue runtype=\"double\" value=\"-1.250000000000000\"/><bEmpty runtype=\"bool\" value=\"false\"/></no_name>"
    L"</vPresets></CKzNumber>"
    // text, disabled, no presets
    L"<CKzText runtype=\"CKzListVariant\">" + Base(3, L"Note", L"", false, false, false, 0, false) +
    L"<sText runtype=\"CKzStringW\" value=\"hi\"/><sDefault runtype=\"CKzStringW\" value=\"hi\"/></CKzText>"
    // long text: its text level inside its own
    L"<CKzLongText runtype=\"CKzListVariant\"><CKzText runtype=\"CKzListVariant\">" +
    Base(5, L"Remarks", L"", false, false, false, 0, true) +
    L"<sText runtype=\"CKzStringW\" value=\"long\"/><sDefault runtype=\"CKzStringW\" value=\"long\"/>"
    L"</CKzText></CKzLongText>"
    // selection: labels before presets
    L"<CKzSelection runtype=\"CKzListVariant\">" + Base(4, L"Mode", L"", false, false, false, 0, true) +
    L"<iSelection runtype=\"kz_int32\" value=\"1\"/><iDefault runtype=\"kz_int32\" value=\"1\"/>"
    L"<vLabels runtype=\"CKzListVariant\"><no_name runtype=\"CKzStringW\" value=\"A\"/>"
    L"<no_name runtype=\"CKzStringW\" value=\"B\"/></vLabels>"
    L"<vPresets runtype=\"CKzListVariant\"><no_name runtype=\"CKzListVariant\">"
    L"<sName runtype=\"CKzStringW\" value=\"first\"/><aValue runtype=\"kz_int32\" value=\"1\"/>"
    L"<bEmpty runtype=\"bool\" value=\"false\"/></no_name></vPresets></CKzSelection>"
    // date: milliseconds for the value, a Julian day for the preset
    L"<CKzDate runtype=\"CKzListVariant\">" + Base(6, L"When", L"", true, false, false, 0, true) +
    L"<aDate runtype=\"kz_int64\" value=\"86400000\"/><aDefault runtype=\"kz_int64\" value=\"86400000\"/>"
    L"<eDateFormat runtype=\"kz_int32\" value=\"2\"/>"
    L"<vPresets runtype=\"CKzListVariant\"><no_name runtype=\"CKzListVariant\">"
    L"<sName runtype=\"CKzStringW\" value=\"day\"/><aValue runtype=\"double\" value=\"2440588.500000000000000\"/>"
    L"<bEmpty runtype=\"bool\" value=\"false\"/></no_name></vPresets></CKzDate>"
    // plain item: the base level alone
    + Base(0, L"Plain", L"", true, true, false, 0, true) +
    L"</vData></CKzCustomDescription>";

class DescForm : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* loc = std::setlocale(LC_ALL, nullptr);
        m_locale = loc ? loc : "C";
        std::setlocale(LC_ALL, "C");
    }
    void TearDown() override { std::setlocale(LC_ALL, m_locale.c_str()); }
    std::string m_locale;
};

TEST_F(DescForm, EveryItemClassSavesTheDocumentedLevels)
{
    Desc f = SampleForm();
    CKzLiteVariantR r;
    Save(f, r);
    EXPECT_EQ(TagText(r), kGolden);

    Desc back;
    EXPECT_EQ(back.LoadFromLiteVariant(r), 0);
    ASSERT_EQ(back.size(), f.size());
    EXPECT_EQ(back.Compare(f, false, false), 0);
    EXPECT_EQ(back.Compare(f, false, true), 0);
    EXPECT_STREQ(back.GetName(), L"Sample");
    for (size_t i = 0; i < f.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(back[i].GetType(), f[i].GetType());
        EXPECT_EQ(typeid(back[i]), typeid(f[i]));
        EXPECT_EQ(back[i].Compare(&f[i], false), 0);
        EXPECT_EQ(back[i].IsEmpty(), f[i].IsEmpty());
        EXPECT_EQ(back[i].GetPresetCount(), f[i].GetPresetCount());
    }
    EXPECT_EQ(back[0].GetID(), 11);
    EXPECT_EQ(W(back[1].GetText()), L"-1.25e+00");
    EXPECT_EQ(back[3].GetType(), Desc::eKzTypeLongText);
    EXPECT_EQ(back[4].GetSelectionLabelCount(), 2);
    // Saving the loaded form gives the same bytes.
    CKzLiteVariantR again, first;
    EXPECT_EQ(Save(back, again).size(), Save(SampleForm(), first).size());
    EXPECT_EQ(Bytes(again), Bytes(first));
    // The date preset comes back from its Julian day.
    Item* when = *(back.begin() + 5);
    when->UsePreset(0);
    EXPECT_EQ(static_cast<Desc::CKzDate*>(when)->GetDateTime().GetValue(), 86400000LL);
}

TEST_F(DescForm, NullItemPastTheEnd)
{
    Desc f = SampleForm();
    const Item& n = f[f.size()];
    EXPECT_TRUE(n.IsNULL());
    EXPECT_EQ(n.GetType(), Desc::eKzTypeItem);
    EXPECT_STREQ(n.GetName(), L"");
    EXPECT_EQ(W(n.GetText()), L"");
    EXPECT_EQ(n.GetNumber(), 0.0);
    EXPECT_EQ(&f[1000000], &Desc::c_aNULL);
    EXPECT_EQ(&Desc()[0], &Desc::c_aNULL);
}

TEST_F(DescForm, ListOperations)
{
    Desc f;
    EXPECT_EQ(f.SetName(nullptr), -9);
    f << Desc::CKzText(L"a", L"1") << Desc::CKzText(L"b", L"2");
    EXPECT_EQ(f.size(), 2u);
    auto it = f.insert(f.begin() + 1, Desc::CKzNumber(L"n", 1.0, L""));
    EXPECT_EQ(it - f.begin(), 1);
    EXPECT_STREQ(f[1].GetName(), L"n");
    // Replacing an item by itself and appending an item of the form keep working.
    f.replace(f.begin(), **f.begin());
    EXPECT_STREQ(f[0].GetName(), L"a");
    f << **(f.begin() + 2);
    EXPECT_STREQ(f[3].GetName(), L"b");
    f.insert(f.begin(), **(f.begin() + 3));
    EXPECT_EQ(f.size(), 5u);
    EXPECT_STREQ(f[0].GetName(), L"b");
    it = f.erase(f.begin());
    EXPECT_STREQ((*it)->GetName(), L"a");
    (*(f.begin() + 1))->SetID(42);
    EXPECT_EQ(f.find(42L) - f.begin(), 1);
    EXPECT_TRUE(f.find(43L) == f.end());
    Item probe(L"b");
    EXPECT_EQ(f.find(&probe, false) - f.begin(), 2);
    EXPECT_TRUE(f.find(nullptr, false) == f.end());
    Desc::CKzText typed(L"b", L"2");
    EXPECT_EQ(f.find(&typed, false) - f.begin(), 2);
    typed.SetText(L"other");
    EXPECT_TRUE(f.find(&typed, false) == f.end());
    EXPECT_EQ(f.find(&typed, true) - f.begin(), 2);
    // Self-assignment and copies.
    f = f;
    EXPECT_EQ(f.size(), 4u);
    Desc g(f);
    EXPECT_EQ(g.Compare(f, false, false), 0);
    EXPECT_NE(&g[0], &f[0]);
    EXPECT_EQ(f.clear(), 0);
    EXPECT_EQ(f.size(), 0u);
    EXPECT_EQ(g.size(), 4u);
}

TEST_F(DescForm, DisabledDefaultsAndPresetsAcrossItems)
{
    Desc f = SampleForm();
    f.RemoveDisabled();
    EXPECT_EQ(f.size(), 6u);
    for (auto i : f) i->SetEnabled(false);
    f.RemoveDisabled();
    EXPECT_EQ(f.size(), 0u);
    EXPECT_EQ(f.GetPresetCount(), 0);
    EXPECT_EQ(f.GetPresetName(0), nullptr);

    Desc g;
    g << Desc::CKzNumber(L"a", 1.0, L"") << Desc::CKzText(L"b", L"x");
    g.StorePreset(0, L"one");
    (*g.begin())->SetNumber(2.0);
    (*(g.begin() + 1))->SetText(L"y");
    g.StorePreset(1, L"two");
    (*g.begin())->SetNumber(3.0);
    (*(g.begin() + 1))->SetText(L"z");
    EXPECT_EQ(g.GetPresetCount(), 2);
    EXPECT_STREQ(g.GetPresetName(1), L"two");

    EXPECT_EQ(g.SwapPreset(0, 1), 0);
    EXPECT_EQ(g.GetPresetCount(), 2);
    EXPECT_STREQ(g.GetPresetName(0), L"two");
    EXPECT_STREQ(g.GetPresetName(1), L"one");
    EXPECT_EQ(g[0].GetNumber(), 3.0);  // current values unchanged
    EXPECT_EQ(W(g[1].GetText()), L"z");
    g.UsePreset(0);
    EXPECT_EQ(g[0].GetNumber(), 2.0);
    EXPECT_EQ(W(g[1].GetText()), L"y");

    EXPECT_EQ(g.RenamePreset(1, L"uno"), 0);
    EXPECT_STREQ(g.GetPresetName(1), L"uno");
    g.UsePreset(1);
    EXPECT_EQ(g[0].GetNumber(), 1.0);
    EXPECT_EQ(g.RenamePreset(0, nullptr), 0);
    EXPECT_STREQ(g.GetPresetName(0), L"");

    // An item with fewer presets stays unchanged by a swap it cannot make.
    g << Desc::CKzNumber(L"c", 9.0, L"");
    (*(g.begin() + 2))->StorePreset(0, L"only");
    g.SwapPreset(0, 1);
    EXPECT_EQ(g[2].GetPresetCount(), 1);
    EXPECT_STREQ(g[2].GetPresetName(0), L"only");
    EXPECT_STREQ(g[0].GetPresetName(0), L"uno");
    g.SwapPreset(0, 7);
    g.RenamePreset(5, L"x");
    EXPECT_EQ(g[0].GetPresetCount(), 2);
    EXPECT_EQ(g[2].GetPresetCount(), 1);

    g.RemovePreset(0);
    EXPECT_EQ(g[0].GetPresetCount(), 1);
    EXPECT_EQ(g[2].GetPresetCount(), 0);
    EXPECT_EQ(g.StorePreset(INT_MAX, L"x"), 0);  // the items refuse; the form reports 0
    EXPECT_EQ(g[0].GetPresetCount(), 1);

    // Defaults across the form.
    Desc h;
    h << Desc::CKzNumber(L"a", 1.0, L"");
    (*h.begin())->SetNumber(5.0);
    h.SwitchDefaults();
    EXPECT_EQ(h[0].GetNumber(), 1.0);
    h.SwitchDefaults();
    h.FillDefaults();
    EXPECT_EQ(h[0].GetNumber(), 1.0);
}

TEST_F(DescForm, FillValuesAndCompare)
{
    Desc target;
    target << Desc::CKzNumber(L"a", 1.0, L"") << Desc::CKzText(L"b", L"x") << Desc::CKzNumber(L"c", 7.0, L"");
    (*(target.begin() + 2))->SetNumber(8.0);
    Desc source;
    source << Desc::CKzText(L"b", L"x") << Desc::CKzNumber(L"a", 1.0, L"");
    (*source.begin())->SetText(L"filled");
    (*(source.begin() + 1))->SetNumber(4.0);
    EXPECT_EQ(target.FillValues(source, false, false), 0);
    EXPECT_EQ(target[0].GetNumber(), 4.0);
    EXPECT_EQ(W(target[1].GetText()), L"filled");
    EXPECT_EQ(target[2].GetNumber(), 8.0);
    target.FillValues(source, true, false);
    EXPECT_EQ(target[2].GetNumber(), 7.0);  // reset to its default

    // By ID first: an item of another name takes the value of its ID.
    Desc byId;
    byId << Desc::CKzNumber(L"renamed", 0.0, L"");
    (*byId.begin())->SetID(5);
    Desc src2;
    src2 << Desc::CKzNumber(L"a", 1.0, L"");
    (*src2.begin())->SetID(5);
    (*src2.begin())->SetNumber(6.0);
    byId.FillValues(src2, false, false);
    EXPECT_EQ(byId[0].GetNumber(), 0.0);
    byId.FillValues(src2, false, true);
    EXPECT_EQ(byId[0].GetNumber(), 6.0);

    // Form comparison.
    Desc a = SampleForm(), b = SampleForm();
    (*b.begin())->SetNumber(0.0);
    EXPECT_EQ(a.Compare(b, true, false), 0);
    EXPECT_EQ(a.Compare(b, false, false), 1);  // check 0 first
    b.SetName(L"Z");
    EXPECT_EQ(a.Compare(b, true, false), -1);
    Desc c = SampleForm();
    c.erase(c.begin());
    EXPECT_EQ(c.Compare(a, true, false), -1);
    EXPECT_EQ(a.Compare(c, true, false), 1);
    // By name: order does not matter, a missing name does.
    Desc d = SampleForm(), e = SampleForm();
    std::swap(*d.begin(), *(d.begin() + 1));
    EXPECT_NE(d.Compare(e, true, false), 0);
    EXPECT_EQ(d.Compare(e, true, true), 0);
    (*e.begin())->SetName(L"Other");
    EXPECT_EQ(d.Compare(e, true, true), 1);
}

// Builds a form level by hand: name, then the entries a callback writes.
template <class F>
void WriteForm(CKzLiteVariantR& r, const wchar_t* name, F entries, bool withData = true)
{
    CKzLiteVariantW w;
    w.LevelBegin(L"CKzCustomDescription");
    if (name) w.Set(name, L"sName");
    if (withData) {
        w.LevelBegin(L"vData");
        entries(w);
        w.LevelEnd();
    }
    w.LevelEnd();
    w.Finalize(r);
}

TEST_F(DescForm, UnknownWrapperClassIsKeptByteForByte)
{
    CKzLiteVariantR r;
    WriteForm(r, L"F", [](CKzLiteVariantW& w) {
        w.LevelBegin(L"ACustomText");
        w.LevelBegin(L"AMiddle");
        Desc::CKzText t(L"inner", L"val");
        t.StorePreset(0, L"p");
        t.SaveToLiteVariant(w);
        w.Set(7, L"extra");
        w.LevelEnd();
        w.Set(1.5, L"more");
        w.LevelEnd();
        Desc::CKzNumber(L"n", 3.0, L"m").SaveToLiteVariant(w);
    });
    std::vector<unsigned char> original = Bytes(r);
    Desc f;
    f << Desc::CKzLabel(L"old", 1);
    EXPECT_EQ(f.LoadFromLiteVariant(r), 0);
    ASSERT_EQ(f.size(), 2u);
    EXPECT_EQ(typeid(f[0]), typeid(Desc::CKzText));
    EXPECT_EQ(W(f[0].GetText()), L"val");
    EXPECT_STREQ(f[0].GetName(), L"inner");
    EXPECT_EQ(f[0].GetPresetCount(), 1);
    ASSERT_NE(f[0].GetUnknownData(), nullptr);
    EXPECT_EQ(f[1].GetNumber(), 3.0);
    EXPECT_EQ(f[1].GetUnknownData(), nullptr);
    CKzLiteVariantR saved;
    EXPECT_EQ(Save(f, saved), original);
    // A copy of the form writes the item as its known class.
    Desc copy(f);
    EXPECT_EQ(copy[0].GetUnknownData(), nullptr);
    CKzLiteVariantR copied;
    Save(copy, copied);
    std::wstring text = TagText(copied);
    EXPECT_EQ(text.find(L"ACustomText"), std::wstring::npos);
    EXPECT_NE(text.find(L"<vData runtype=\"CKzListVariant\"><CKzText runtype"), std::wstring::npos);
}

TEST_F(DescForm, UnloadableEntriesAreDropped)
{
    CKzLiteVariantR r;
    WriteForm(r, L"F", [](CKzLiteVariantW& w) {
        w.Set(5, L"NotALevel");             // unknown name, not a level
        w.LevelBegin(L"Wrapper");            // unknown, first record not a level
        w.Set(1, L"x");
        w.LevelEnd();
        w.LevelBegin(L"EmptyWrapper");       // unknown level without records
        w.LevelEnd();
        w.LevelBegin(L"Deep");               // unknown inside unknown, ending in a value
        w.LevelBegin(L"Deeper");
        w.Set(2, L"y");
        w.LevelEnd();
        w.LevelEnd();
        Desc::CKzText(L"kept", L"v").SaveToLiteVariant(w);
        w.LevelBegin(L"EmptyLast");
        w.LevelEnd();
    });
    Desc f;
    EXPECT_EQ(f.LoadFromLiteVariant(r), 0);
    ASSERT_EQ(f.size(), 1u);
    EXPECT_STREQ(f[0].GetName(), L"kept");
}

TEST_F(DescForm, FormLevelVariants)
{
    struct Case {
        const char* what;
        bool withName, withData, emptyData;
        const wchar_t* name;
        size_t items;
    } cases[] = {
        {"no vData keeps items, takes name", true, false, false, L"N", 1},
        {"no sName gives empty name", false, false, false, L"", 1},
        {"empty vData empties", true, true, true, L"N", 0},
        {"full", true, true, false, L"N", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CKzLiteVariantR r;
        WriteForm(
            r, c.withName ? L"N" : nullptr,
            [&](CKzLiteVariantW& w) {
                if (c.emptyData) return;
                Desc::CKzLabel(L"x", 1).SaveToLiteVariant(w);
                Desc::CKzDate(L"d").SaveToLiteVariant(w);
            },
            c.withData);
        Desc f;
        f.SetName(L"before");
        f << Desc::CKzNumber(L"kept", 1.0, L"");
        EXPECT_EQ(f.LoadFromLiteVariant(r), 0);
        EXPECT_STREQ(f.GetName(), c.name);
        EXPECT_EQ(f.size(), c.items);
    }
    // No form level: nothing changes.
    CKzLiteVariantW w;
    w.Set(1, L"Other");
    CKzLiteVariantR r;
    w.Finalize(r);
    Desc f = SampleForm();
    EXPECT_EQ(f.LoadFromLiteVariant(r), 0);
    EXPECT_STREQ(f.GetName(), L"Sample");
    EXPECT_EQ(f.size(), 7u);
    CKzLiteVariantR empty;
    EXPECT_EQ(f.LoadFromLiteVariant(empty), 0);
    EXPECT_EQ(f.size(), 7u);
}

TEST_F(DescForm, ItemLevelEdgeCases)
{
    // Missing records take their defaults; missing lists behave as documented.
    {
        CKzLiteVariantW w;
        w.LevelBegin(L"CKzNumber");
        w.Set(4.0, L"dValue");
        w.LevelEnd();
        CKzLiteVariantR r;
        w.Finalize(r);
        Desc::CKzNumber n(L"n", 1.0, L"u");
        n.StorePreset(0, L"p");
        n.SetNumberFormat(Item::eKzExponent, 9);
        EXPECT_EQ(n.LoadFromLiteVariant(r), 0);
        EXPECT_EQ(n.GetNumber(), 4.0);
        EXPECT_EQ(n.GetPresetCount(), 0);
        EXPECT_STREQ(n.GetName(), L"n");  // no base level: base fields unchanged
        Item::EKzNumberFormat f;
        unsigned places;
        n.GetNumberFormat(&f, &places);
        EXPECT_EQ(places, 3u);
        EXPECT_EQ((int)f, 0);
        EXPECT_EQ(W(n.GetUnit()), L"");
    }
    // "uiPlaces" 0xFFFFFFFF is kept; printing stays bounded.
    {
        Desc::CKzNumber n(L"n", 1.5, L"");
        n.SetNumberFormat(Item::eKzExponent, 0xFFFFFFFFu);
        CKzLiteVariantR r;
        Save(n, r);
        Desc::CKzNumber m(L"m");
        m.LoadFromLiteVariant(r);
        unsigned places = 0;
        m.GetNumberFormat(nullptr, &places);
        EXPECT_EQ(places, 0xFFFFFFFFu);
        EXPECT_EQ(W(m.GetText()), L"1.50000000000000000000e+00");
    }
    // A selection level without labels keeps the labels; an empty list is written.
    {
        Desc::CKzSelection none(L"s");
        CKzLiteVariantR r;
        Save(none, r);
        EXPECT_NE(TagText(r).find(L"<vLabels runtype=\"CKzListVariant\"></vLabels>"), std::wstring::npos);
        CKzLiteVariantW w;
        w.LevelBegin(L"CKzSelection");
        w.Set(1, L"iSelection");
        w.LevelEnd();
        CKzLiteVariantR r2;
        w.Finalize(r2);
        CKzStringW ls[] = {L"a", L"b"};
        Desc::CKzSelection s(L"s", 0, 2, ls);
        s.LoadFromLiteVariant(r2);
        EXPECT_EQ(s.GetSelectionLabelCount(), 2);
        EXPECT_EQ(s.GetSelection(), 1);
        s.LoadFromLiteVariant(r);
        EXPECT_EQ(s.GetSelectionLabelCount(), 0);
    }
    // A date preset of Julian day 2440587.5 is the date-time 0; labels that are not texts read empty.
    {
        CKzLiteVariantW w;
        w.LevelBegin(L"CKzDate");
        w.LevelBegin(L"vPresets");
        w.LevelBegin(L"");
        w.Set(2440587.5, L"aValue");
        w.LevelEnd();
        w.Set(3, L"");  // not a level: that preset stays a gap preset
        w.LevelEnd();
        w.LevelEnd();
        CKzLiteVariantR r;
        w.Finalize(r);
        Desc::CKzDate d(L"d", CKzDateTime(5));
        d.LoadFromLiteVariant(r);
        ASSERT_EQ(d.GetPresetCount(), 2);
        d.UsePreset(0);
        EXPECT_EQ(d.GetDateTime().GetValue(), 0);
        EXPECT_TRUE(d.IsEmpty());  // "bEmpty" missing: true
        d.UsePreset(1);
        EXPECT_EQ(d.GetDateTime().GetValue(), -1);
        EXPECT_FALSE(d.IsEmpty());
        EXPECT_EQ(d.GetDateTime().GetValue(), -1);
    }
    {
        CKzLiteVariantW w;
        w.LevelBegin(L"CKzSelection");
        w.LevelBegin(L"vLabels");
        w.Set(L"x", L"");
        w.Set(4, L"");
        w.Set(L"z", L"");
        w.LevelEnd();
        w.LevelEnd();
        CKzLiteVariantR r;
        w.Finalize(r);
        Desc::CKzSelection s(L"s");
        s.LoadFromLiteVariant(r);
        ASSERT_EQ(s.GetSelectionLabelCount(), 3);
        EXPECT_EQ(W(s.GetSelectionLabel(0)), L"x");
        EXPECT_EQ(W(s.GetSelectionLabel(1)), L"");
        EXPECT_EQ(W(s.GetSelectionLabel(2)), L"z");
    }
    // Saved at the root of a writer that already holds a record: nothing written, 0.
    {
        CKzLiteVariantW w;
        w.Set(1, L"first");
        unsigned long used = w.GetUsed();
        Desc::CKzLabel l(L"l", 1);
        EXPECT_EQ(l.SaveToLiteVariant(w), 0);
        EXPECT_EQ(Desc::CKzLongText(L"t").SaveToLiteVariant(w), 0);
        EXPECT_EQ(Item(L"i").SaveToLiteVariant(w), 0);
        EXPECT_EQ(SampleForm().SaveToLiteVariant(w), 0);
        EXPECT_EQ(w.GetUsed(), used);
    }
    // A number item without presets writes no preset level.
    {
        CKzLiteVariantR r;
        Save(Desc::CKzNumber(L"n", 1.0, L""), r);
        EXPECT_EQ(TagText(r).find(L"vPresets"), std::wstring::npos);
    }
}

TEST_F(DescForm, RegisteredCreatorsRebuildItems)
{
    struct Marked : Desc::CKzText {
        static CKzItem* Make() { return new Marked(); }
        CKzItem* Duplicate() const override { return new Marked(*this); }
    };
    EXPECT_EQ(Desc::RegisterItem(nullptr, &Marked::Make), -9);
    EXPECT_EQ(Desc::RegisterItem(L"CKzMarked", nullptr), -9);
    EXPECT_EQ(Desc::RegisterItem(L"CKzMarked", &Marked::Make), 0);
    CKzLiteVariantR r;
    WriteForm(r, L"F", [](CKzLiteVariantW& w) {
        w.LevelBegin(L"CKzMarked");
        Desc::CKzText(L"m", L"v").SaveToLiteVariant(w);
        w.LevelEnd();
    });
    Desc f;
    f.LoadFromLiteVariant(r);
    ASSERT_EQ(f.size(), 1u);
    // Marked loads its text level from the cursor: the registered level is an
    // entry the Marked class does not open, so the text stays default.
    EXPECT_NE(dynamic_cast<const Marked*>(&f[0]), nullptr);
    EXPECT_EQ(f[0].GetUnknownData(), nullptr);
    // Replacing a built-in creator takes effect for later loads, then is undone.
    EXPECT_EQ(Desc::RegisterItem(L"CKzText", &Marked::Make), 0);
    CKzLiteVariantR r2;
    WriteForm(r2, L"F", [](CKzLiteVariantW& w) { Desc::CKzText(L"t", L"v").SaveToLiteVariant(w); });
    Desc g;
    g.LoadFromLiteVariant(r2);
    ASSERT_EQ(g.size(), 1u);
    EXPECT_NE(dynamic_cast<const Marked*>(&g[0]), nullptr);
    EXPECT_EQ(W(g[0].GetText()), L"v");
    EXPECT_EQ(Desc::RegisterItem(L"CKzText", &Desc::CKzText::Create), 0);
    g.LoadFromLiteVariant(r2);
    EXPECT_EQ(dynamic_cast<const Marked*>(&g[0]), nullptr);
}

TEST_F(DescForm, ConcurrentLoadsAndRegistrationThreads)
{
    CKzLiteVariantR r;
    Save(SampleForm(), r);
    std::vector<unsigned char> blob = Bytes(r);
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < 40; ++k) {
                if (t == 0) {
                    Desc::RegisterItem(L"CKzExtra", &Desc::CKzText::Create);
                    continue;
                }
                CKzLiteVariantR mine;
                mine.SetData(blob.data(), blob.size(), CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact);
                Desc f;
                f.LoadFromLiteVariant(mine);
                if (f.size() != 7) ++bad;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST_F(DescForm, CreateItemAtCursor)
{
    CKzLiteVariantW w;
    w.LevelBegin(L"Unknown");
    w.LevelBegin(L"CKzLongText");
    Desc::CKzText(L"t", L"x").SaveToLiteVariant(w);
    w.LevelEnd();
    w.LevelEnd();
    CKzLiteVariantR r;
    w.Finalize(r);
    std::unique_ptr<Item> item(Desc::CreateItemFromLiteVariant(r));
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(typeid(*item), typeid(Desc::CKzLongText));
    EXPECT_EQ(W(item->GetText()), L"x");
    EXPECT_EQ(r.GetLevelDepth(), 0);  // back on the entry
    EXPECT_EQ(r.GetCurrentOffset(), 0u);
    ASSERT_NE(item->GetUnknownData(), nullptr);
    EXPECT_EQ(item->GetUnknownData()->GetSize(), r.GetSize());
    CKzLiteVariantR empty;
    EXPECT_EQ(Desc::CreateItemFromLiteVariant(empty), nullptr);
}

} // namespace
