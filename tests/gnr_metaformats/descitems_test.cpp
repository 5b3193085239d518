// Custom description items: value views, setters, defaults, presets,
// comparison, value transfer and the trace line.
#include "gnr_metaformats/CKzCustomDescription.h"
#include "gnr_system/CKzLiteVariant.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

namespace {

using Desc = CKzCustomDescription;
using Item = Desc::CKzItem;

std::wstring W(const CKzStringW& s) { return std::wstring(s.GetString()); }

// C locale and UTC for every test; restored afterwards.
class DescItems : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* loc = std::setlocale(LC_ALL, nullptr);
        m_locale = loc ? loc : "C";
        std::setlocale(LC_ALL, "C");
        const char* tz = std::getenv("TZ");
        m_hadTZ = tz != nullptr;
        if (m_hadTZ) m_tz = tz;
        setenv("TZ", "UTC0", 1);
        tzset();
        CKzDateTime::RefreshZoneInfo();
    }
    void TearDown() override
    {
        if (m_hadTZ)
            setenv("TZ", m_tz.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
        CKzDateTime::RefreshZoneInfo();
        std::setlocale(LC_ALL, m_locale.c_str());
    }
    std::string m_locale, m_tz;
    bool m_hadTZ = false;
};

struct ViewCase {
    const char* what;
    std::function<Item*()> make;
    const wchar_t* text;
    double number;
    int check;
};

TEST_F(DescItems, ValueViewsOfEveryClass)
{
    const ViewCase cases[] = {
        {"plain item", [] { return new Item(L"p"); }, L"", 0.0, 0},
        {"new label", [] { return new Desc::CKzLabel(L"l"); }, L"", 0.0, 0},
        {"checked label", [] { return new Desc::CKzLabel(L"l", 3); }, L"On", 3.0, 3},
        {"unchecked label", [] { return new Desc::CKzLabel(L"l", 0); }, L"Off", 0.0, 0},
        {"label SetNumber(-1)", [] { auto* l = new Desc::CKzLabel(L"l"); l->SetNumber(-1.0); return l; }, L"Off", 0.0, 0},
        {"label SetNumber(0.5)", [] { auto* l = new Desc::CKzLabel(L"l"); l->SetNumber(0.5); return l; }, L"On", 1.0, 1},
        {"new number", [] { return new Desc::CKzNumber(L"n"); }, L"", 0.0, 0},
        {"number 2.5", [] { auto* n = new Desc::CKzNumber(L"n"); n->SetNumber(2.5); return n; }, L"2.500", 2.5, 2},
        {"number exp", [] { auto* n = new Desc::CKzNumber(L"n"); n->SetNumber(2.5); n->SetNumberFormat(Item::eKzExponent, 3); return n; }, L"2.500e+00", 2.5, 2},
        {"number -7.9", [] { return new Desc::CKzNumber(L"n", -7.9, L"m"); }, L"-7.900", -7.9, -7},
        {"number 0 places", [] { auto* n = new Desc::CKzNumber(L"n", 2.5, L""); n->SetNumberFormat(Item::eKzFixed, 0); return n; }, L"2", 2.5, 2},
        {"number huge places", [] { auto* n = new Desc::CKzNumber(L"n", 0.5, L""); n->SetNumberFormat(Item::eKzFixed, 0xFFFFFFFFu); return n; }, L"0.50000000000000000000", 0.5, 0},
        {"number beyond int", [] { return new Desc::CKzNumber(L"n", 1e12, L""); }, L"1000000000000.000", 1e12, INT_MAX},
        {"number NaN", [] { return new Desc::CKzNumber(L"n", std::nan(""), L""); }, nullptr, std::nan(""), 0},
        {"text", [] { return new Desc::CKzText(L"t", L"12.5 mm"); }, L"12.5 mm", 12.5, 1},
        {"text no number", [] { return new Desc::CKzText(L"t", L"abc"); }, L"abc", 0.0, 1},
        {"empty text", [] { return new Desc::CKzText(L"t"); }, L"", 0.0, 0},
        {"text SetNumber", [] { auto* t = new Desc::CKzText(L"t"); t->SetNumber(7.9); return t; }, L"07", 7.0, 1},
        {"text SetNumber huge", [] { auto* t = new Desc::CKzText(L"t"); t->SetNumber(1e300); return t; }, L"2147483647", 2147483647.0, 1},
        {"long text", [] { return new Desc::CKzLongText(L"t", L"3"); }, L"3", 3.0, 1},
        {"selection", [] { CKzStringW l[] = {L"1.5", L"B"}; return new Desc::CKzSelection(L"s", 0, 2, l); }, L"1.5", 1.5, 1},
        {"selection outside", [] { CKzStringW l[] = {L"A"}; return new Desc::CKzSelection(L"s", 3, 1, l); }, L"<Empty>", 0.0, 0},
        {"selection empty", [] { CKzStringW l[] = {L"A"}; auto* s = new Desc::CKzSelection(L"s", 0, 1, l); s->SetEmpty(); return s; }, L"<Empty>", 0.0, 0},
        {"selection SetNumber", [] { CKzStringW l[] = {L"A", L"B"}; auto* s = new Desc::CKzSelection(L"s", 0, 2, l); s->SetEmpty(); s->SetNumber(1.9); return s; }, L"B", 0.0, 1},
        {"new date", [] { return new Desc::CKzDate(L"d"); }, L"", 2440587.5 - 1.0 / 86400000.0, 0},
        {"date", [] { return new Desc::CKzDate(L"d", CKzDateTime(86400000LL + 3600000LL)); }, L"1970-01-02 01:00:00", 2440588.5 + 1.0 / 24, 0},
    };
    for (const ViewCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<Item> item(c.make());
        if (c.text) EXPECT_EQ(W(item->GetText()), c.text);
        if (std::isnan(c.number))
            EXPECT_TRUE(std::isnan(item->GetNumber()));
        else
            EXPECT_NEAR(item->GetNumber(), c.number, 1e-6);
        EXPECT_EQ(item->GetCheck(), c.check);
    }
}

TEST_F(DescItems, DateTextByFormat)
{
    struct Case {
        long long ms;
        Desc::CKzDate::EKzDateFormat format;
        const wchar_t* text;
    } cases[] = {
        {86400000LL + 3723000LL, Desc::CKzDate::eKzDateTime, L"1970-01-02 01:02:03"},
        {86400000LL + 3723000LL, Desc::CKzDate::eKzDateOnly, L"1970-01-02"},
        {86400000LL + 3723000LL, Desc::CKzDate::eKzTimeOfDay, L"  01:02"},
        {86400000LL, Desc::CKzDate::eKzTimeOfDay, L"1970-01-02 00:00:00"},
        {86400000LL + 500, Desc::CKzDate::eKzTimeOfDay, L"1970-01-02 00:00:00"},
        {86400000LL + 1000, Desc::CKzDate::eKzTimeOfDay, L"  00:00"},
        {86400000LL, (Desc::CKzDate::EKzDateFormat)77, L"1970-01-02 00:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ms);
        Desc::CKzDate d(L"d", CKzDateTime(c.ms));
        d.SetDateFormat(c.format);
        EXPECT_EQ(W(d.GetText()), c.text);
    }
}

TEST_F(DescItems, SettersAndEmptyFlags)
{
    // Number from text.
    Desc::CKzNumber n(L"n");
    EXPECT_EQ(n.SetText(nullptr), -9);
    EXPECT_TRUE(n.IsEmpty());
    EXPECT_EQ(n.SetText(L"4.25abc"), 0);
    EXPECT_FALSE(n.IsEmpty());
    EXPECT_DOUBLE_EQ(n.GetNumber(), 4.25);

    // Text: empty flag follows the text.
    Desc::CKzText t(L"t", L"x");
    EXPECT_EQ(t.SetText(L""), 0);
    EXPECT_TRUE(t.IsEmpty());
    EXPECT_EQ(t.SetText(L"y"), 0);
    EXPECT_FALSE(t.IsEmpty());
    EXPECT_EQ(t.SetText(nullptr), 0);
    EXPECT_TRUE(t.IsEmpty());

    // Label: base text setter.
    Desc::CKzLabel l(L"l", 1);
    EXPECT_EQ(l.SetText(L"On"), -9);
    EXPECT_FALSE(l.IsEmpty());
    EXPECT_EQ(l.SetText(nullptr), 0);
    EXPECT_TRUE(l.IsEmpty());
    EXPECT_EQ(l.SetCheck(5), 1);
    EXPECT_FALSE(l.IsEmpty());

    // Selection by label text.
    CKzStringW labels[] = {L"A", L"B", L"B"};
    Desc::CKzSelection s(L"s", 0, 3, labels);
    EXPECT_EQ(s.SetText(L"B"), 0);
    EXPECT_EQ(s.GetSelection(), 1);
    s.SetEmpty();
    EXPECT_EQ(s.SetText(L"Z"), -9);
    EXPECT_EQ(s.GetSelection(), 1);
    EXPECT_TRUE(s.IsEmpty());
    EXPECT_EQ(s.SetSelection(2), 1);
    EXPECT_FALSE(s.IsEmpty());
    EXPECT_EQ(s.SetSelectionLabel(-1, L"x"), -9);
    EXPECT_EQ(s.SetSelectionLabel(65536, L"x"), -9);
    EXPECT_EQ(s.SetSelectionLabel(INT_MAX, L"x"), -9);
    EXPECT_EQ(s.GetSelectionLabelCount(), 3);
    EXPECT_EQ(s.SetSelectionLabel(5, L"F"), 0);
    EXPECT_EQ(s.GetSelectionLabelCount(), 6);
    EXPECT_EQ(W(s.GetSelectionLabel(4)), L"");
    EXPECT_EQ(W(s.GetSelectionLabel(5)), L"F");
    EXPECT_EQ(W(s.GetSelectionLabel(6)), L"");
    EXPECT_EQ(s.RemoveLabel(6), -9);
    EXPECT_EQ(s.RemoveLabel(0), 0);
    EXPECT_EQ(W(s.GetSelectionLabel(0)), L"B");
    EXPECT_EQ(s.GetSelection(), 2);  // not adjusted
    EXPECT_EQ(s.Clear(), 0);
    EXPECT_EQ(W(s.GetText()), L"<Empty>");
    EXPECT_EQ(s.GetCheck(), 0);
    EXPECT_FALSE(s.IsEmpty());

    // Date from text and from a Julian day.
    Desc::CKzDate d(L"d");
    EXPECT_EQ(d.SetText(L"1970-01-02 00:00:01"), 0);
    EXPECT_EQ(d.GetDateTime().GetValue(), 86401000LL);
    EXPECT_FALSE(d.IsEmpty());
    EXPECT_EQ(d.SetText(L""), 0);
    EXPECT_TRUE(d.IsEmpty());
    EXPECT_EQ(d.SetNumber(2440587.5), 0);
    EXPECT_EQ(d.GetDateTime().GetValue(), 0);
    EXPECT_FALSE(d.IsEmpty());

    // Base item.
    Item p(L"p");
    EXPECT_EQ(p.SetNumber(1.0), -9);
    EXPECT_EQ(p.GetSelection(), -1);
    Item::EKzNumberFormat f = (Item::EKzNumberFormat)9;
    unsigned places = 9;
    EXPECT_EQ(p.GetNumberFormat(&f, &places), -9);
    EXPECT_EQ((int)f, 9);
    EXPECT_EQ(places, 9u);
    EXPECT_EQ(n.GetNumberFormat(&f, &places), 0);
    EXPECT_EQ((int)f, 0);
    EXPECT_EQ(places, 3u);
}

TEST_F(DescItems, FlagsAndAccessors)
{
    Item i(L"x", Desc::eKzTypeNumber);
    EXPECT_EQ(i.SetID(5), 0);
    EXPECT_EQ(i.SetID(7), 5);
    EXPECT_EQ(i.GetID(), 7);
    EXPECT_FALSE(i.SetMandatory(true));
    EXPECT_TRUE(i.SetMandatory(false));
    EXPECT_TRUE(i.SetEnabled(false));
    EXPECT_FALSE(i.IsEnabled());
    EXPECT_FALSE(i.SetUsed(true));
    EXPECT_TRUE(i.IsUsed());
    EXPECT_TRUE(i.IsQuantity());
    EXPECT_FALSE(i.IsQuality());
    EXPECT_FALSE(i.IsNULL());  // type 2
    const struct {
        Desc::EKzType type;
        bool quality, quantity;
    } kinds[] = {{Desc::eKzTypeItem, false, false}, {Desc::eKzTypeLabel, false, false},
                 {Desc::eKzTypeNumber, false, true}, {Desc::eKzTypeText, true, false},
                 {Desc::eKzTypeSelection, true, false}, {Desc::eKzTypeLongText, true, false},
                 {Desc::eKzTypeDate, false, true}, {(Desc::EKzType)7, false, false}};
    for (const auto& k : kinds) {
        Item it(k.type);
        EXPECT_EQ(it.IsQuality(), k.quality) << k.type;
        EXPECT_EQ(it.IsQuantity(), k.quantity) << k.type;
    }
    Item null;
    EXPECT_TRUE(null.IsNULL());
    Item named(L"n");
    EXPECT_FALSE(named.IsNULL());
    Item unset;
    unset.SetText(nullptr);
    EXPECT_TRUE(unset.IsNULL());
    EXPECT_EQ(Desc::CKzLongText(L"l").GetType(), Desc::eKzTypeLongText);
}

TEST_F(DescItems, DefaultsSwitchAndIsDefault)
{
    Desc::CKzNumber n(L"n", 2.0, L"m");
    EXPECT_TRUE(n.IsDefault());
    n.SetNumber(3.0);
    EXPECT_FALSE(n.IsDefault());
    n.SwitchDefaultValue(false);  // exchange
    EXPECT_DOUBLE_EQ(n.GetNumber(), 2.0);
    n.SwitchDefaultValue(false);
    EXPECT_DOUBLE_EQ(n.GetNumber(), 3.0);
    n.SwitchDefaultValue(true);  // reset
    EXPECT_DOUBLE_EQ(n.GetNumber(), 2.0);
    n.SwitchDefaultValue(false);
    EXPECT_DOUBLE_EQ(n.GetNumber(), 2.0);

    // The empty flags travel with the values.
    Desc::CKzText t(L"t");  // empty, no default
    EXPECT_TRUE(t.IsDefault());
    t.SetText(L"v");
    EXPECT_FALSE(t.IsDefault());
    t.SwitchDefaultValue(false);
    EXPECT_TRUE(t.IsEmpty());
    EXPECT_FALSE(t.IsEmptyDefault());
    t.SwitchDefaultValue(false);
    EXPECT_EQ(W(t.GetText()), L"v");
    EXPECT_TRUE(t.IsEmptyDefault());

    // A selection is at its default when its empty flags agree.
    CKzStringW l[] = {L"A", L"B"};
    Desc::CKzSelection s(L"s", 0, 2, l);
    s.SetSelection(1);
    EXPECT_TRUE(s.IsDefault());
    s.SetEmpty();
    EXPECT_FALSE(s.IsDefault());

    Desc::CKzDate d(L"d", CKzDateTime(1000));
    d.SetDateTime(CKzDateTime(2000));
    EXPECT_FALSE(d.IsDefault());
    d.SwitchDefaultValue(true);
    EXPECT_EQ(d.GetDateTime().GetValue(), 1000);
    Desc::CKzLabel lb(L"l", 0);
    lb.SetCheck(1);
    lb.SwitchDefaultValue(false);
    EXPECT_EQ(lb.GetCheck(), 0);
    EXPECT_FALSE(lb.IsDefault());  // the default is now 1
}

// Every class handles presets alike; each case stores values through its own setter.
struct PresetClass {
    const char* what;
    std::function<Item*()> make;
    std::function<void(Item&, int)> set;  // value k
    std::function<double(const Item&)> get;
};

std::vector<PresetClass> PresetClasses()
{
    return {
        {"label", [] { return new Desc::CKzLabel(L"l", 0); },
         [](Item& i, int k) { static_cast<Desc::CKzLabel&>(i).SetCheck(k); }, [](const Item& i) { return (double)i.GetCheck(); }},
        {"number", [] { return new Desc::CKzNumber(L"n", 0.0, L""); }, [](Item& i, int k) { i.SetNumber(k + 0.5); },
         [](const Item& i) { return i.GetNumber() - 0.5; }},
        {"text", [] { return new Desc::CKzText(L"t", L"0"); }, [](Item& i, int k) { i.SetText(std::to_wstring(k).c_str()); },
         [](const Item& i) { return i.GetNumber(); }},
        {"long text", [] { return new Desc::CKzLongText(L"t", L"0"); },
         [](Item& i, int k) { i.SetText(std::to_wstring(k).c_str()); }, [](const Item& i) { return i.GetNumber(); }},
        {"selection", [] { return new Desc::CKzSelection(L"s", 0, std::set<CKzStringW>{L"a"}); },
         [](Item& i, int k) { static_cast<Desc::CKzSelection&>(i).SetSelection(k); }, [](const Item& i) { return (double)i.GetSelection(); }},
        {"date", [] { return new Desc::CKzDate(L"d", CKzDateTime(0)); },
         [](Item& i, int k) { static_cast<Desc::CKzDate&>(i).SetDateTime(CKzDateTime(k * 1000LL)); },
         [](const Item& i) { return (double)static_cast<const Desc::CKzDate&>(i).GetDateTime().GetValue() / 1000.0; }},
    };
}

TEST_F(DescItems, PresetsOfEveryClass)
{
    for (const PresetClass& pc : PresetClasses()) {
        SCOPED_TRACE(pc.what);
        std::unique_ptr<Item> i(pc.make());
        EXPECT_EQ(i->GetPresetCount(), 0);
        EXPECT_EQ(i->GetPresetName(0), nullptr);
        pc.set(*i, 4);
        EXPECT_EQ(i->StorePreset(-1, L"x"), -9);
        EXPECT_EQ(i->StorePreset(65536, L"x"), -9);
        EXPECT_EQ(i->StorePreset(INT_MAX, L"x"), -9);
        EXPECT_EQ(i->GetPresetCount(), 0);
        EXPECT_EQ(i->StorePreset(3, L"three"), 0);
        EXPECT_EQ(i->GetPresetCount(), 4);
        EXPECT_STREQ(i->GetPresetName(3), L"three");
        EXPECT_STREQ(i->GetPresetName(1), L"");  // a gap preset
        pc.set(*i, 9);
        i->SetEmpty();
        EXPECT_EQ(i->StorePreset(1, nullptr), 0);
        EXPECT_STREQ(i->GetPresetName(1), L"");
        EXPECT_EQ(i->UsePreset(4), -9);
        EXPECT_EQ(i->UsePreset(-1), -9);
        EXPECT_TRUE(i->IsEmpty());
        EXPECT_EQ(i->UsePreset(3), 0);
        EXPECT_FALSE(i->IsEmpty());
        EXPECT_DOUBLE_EQ(pc.get(*i), 4.0);
        EXPECT_EQ(i->UsePreset(1), 0);
        EXPECT_TRUE(i->IsEmpty());
        EXPECT_EQ(i->UsePreset(0), 0);  // gap preset: not empty
        EXPECT_FALSE(i->IsEmpty());
        EXPECT_EQ(i->RemovePreset(4), -9);
        EXPECT_EQ(i->RemovePreset(0), 0);
        EXPECT_EQ(i->GetPresetCount(), 3);
        EXPECT_STREQ(i->GetPresetName(2), L"three");
        // The copy carries the presets.
        std::unique_ptr<Item> d(i->Duplicate());
        EXPECT_EQ(d->GetPresetCount(), 3);
        EXPECT_EQ(d->Compare(i.get(), false), 0);
    }
    Item base(L"b");
    EXPECT_EQ(base.StorePreset(0, L"x"), -9);
    EXPECT_EQ(base.UsePreset(0), -9);
    EXPECT_EQ(base.RemovePreset(0), -9);
    EXPECT_EQ(base.GetPresetCount(), 0);
    EXPECT_STREQ(base.GetPresetName(0), L"");
}

TEST_F(DescItems, CompareOrders)
{
    // Base steps.
    struct Case {
        const char* what;
        std::function<void(Item&)> a, b;
        int structural, full;
    };
    auto none = [](Item&) {};
    const Case cases[] = {
        {"equal", none, none, 0, 0},
        {"value", [](Item& i) { i.SetNumber(1); }, [](Item& i) { i.SetNumber(2); }, 0, -1},
        {"empty last", [](Item& i) { i.SetNumber(9); }, [](Item& i) { i.SetEmpty(); }, 0, -1},
        {"disabled last", none, [](Item& i) { i.SetEnabled(false); }, 0, -1},
        {"mandatory first", none, [](Item& i) { i.SetMandatory(true); }, 1, 1},
        {"description", [](Item& i) { i.SetDescription(L"b"); }, [](Item& i) { i.SetDescription(L"a"); }, 1, 1},
        {"name", [](Item& i) { i.SetName(L"a"); }, [](Item& i) { i.SetName(L"b"); }, -1, -1},
        {"description before name", [](Item& i) { i.SetName(L"z"); i.SetDescription(L"a"); },
         [](Item& i) { i.SetName(L"a"); i.SetDescription(L"b"); }, -1, -1},
        {"default value", [](Item& i) { i.SetNumber(3); i.SwitchDefaultValue(false); }, none, -1, -1},
        {"no default last", [](Item& i) { i.SetEmpty(); i.SwitchDefaultValue(false); }, none, 1, 1},
        {"unit", [](Item& i) { static_cast<Desc::CKzNumber&>(i).SetUnit(L"mm"); }, none, 1, 1},
        {"format", [](Item& i) { static_cast<Desc::CKzNumber&>(i).SetNumberFormat(Item::eKzExponent, 3); }, none, 1, 1},
        {"places", [](Item& i) { static_cast<Desc::CKzNumber&>(i).SetNumberFormat(Item::eKzFixed, 2); }, none, -1, -1},
        {"presets", [](Item& i) { i.StorePreset(0, L"A"); }, none, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Desc::CKzNumber a(L"n", 5.0, L"");
        Desc::CKzNumber b(L"n", 5.0, L"");
        c.a(a);
        c.b(b);
        EXPECT_EQ(a.Compare(&b, true), c.structural);
        EXPECT_EQ(a.Compare(&b, false), c.full);
        EXPECT_EQ(b.Compare(&a, false), -c.full);
        EXPECT_EQ(a == b, c.full == 0);
    }
    Desc::CKzNumber n(L"n");
    EXPECT_EQ(n.Compare(nullptr, false), 1);
    Desc::CKzLabel l(L"n");
    EXPECT_EQ(l.Compare(&n, false), -1);  // type 1 before type 2
    // Items of another class are equal as far as the base goes.
    Item plain(L"n", Desc::eKzTypeNumber);
    EXPECT_EQ(n.Compare(&plain, false), 0);
    Item plain0(L"n");
    EXPECT_TRUE(plain0 == l);  // a type of 0 compares by name only
    EXPECT_TRUE(l == plain0);
    EXPECT_FALSE(Item(L"m") == l);
    EXPECT_TRUE(Item(L"m") != l);
    Desc::CKzText t(L"n");
    Desc::CKzLongText lt(L"n");
    EXPECT_EQ(t.Compare(&lt, false), -1);
}

TEST_F(DescItems, ClassCompareSteps)
{
    // Selection: label count, then the labels.
    CKzStringW ab[] = {L"a", L"b"}, ac[] = {L"a", L"c"};
    Desc::CKzSelection s1(L"s", 0, 2, ab), s2(L"s", 0, 2, ac), s3(L"s", 0, 1, ac);
    EXPECT_EQ(s1.Compare(&s2, true), -1);
    EXPECT_EQ(s3.Compare(&s1, true), -1);
    s2.SetSelection(1);
    EXPECT_EQ(s1.Compare(&s1, false), 0);
    Desc::CKzSelection s4(s1);
    s4.SetSelection(1);
    EXPECT_EQ(s1.Compare(&s4, true), 0);
    EXPECT_EQ(s1.Compare(&s4, false), -1);

    // Labels: a check of 0 before a non-zero one, defaults first.
    Desc::CKzLabel l0(L"l", 0), l1(L"l", 7), l2(L"l", 9);
    EXPECT_EQ(l0.Compare(&l1, true), -1);
    EXPECT_EQ(l1.Compare(&l2, false), 0);  // both non-zero
    Desc::CKzLabel nodef(L"l");
    EXPECT_EQ(l1.Compare(&nodef, true), -1);

    // Texts compare the own text against the other's view.
    Desc::CKzText ta(L"t", L"a"), tb(L"t", L"a");
    tb.SetText(L"b");
    EXPECT_EQ(ta.Compare(&tb, false), -1);
    EXPECT_EQ(ta.Compare(&tb, true), 0);

    // Dates by milliseconds and format.
    Desc::CKzDate d1(L"d", CKzDateTime(5)), d2(L"d", CKzDateTime(6));
    EXPECT_EQ(d1.Compare(&d2, true), -1);
    Desc::CKzDate d3(L"d", CKzDateTime(5));
    d3.SetDateFormat(Desc::CKzDate::eKzDateOnly);
    EXPECT_EQ(d1.Compare(&d3, true), -1);
}

TEST_F(DescItems, PresetListOrder)
{
    // Name first, then empty before non-empty, then value; a prefix first.
    auto withPresets = [](std::initializer_list<std::tuple<const wchar_t*, double, bool>> ps) {
        auto* n = new Desc::CKzNumber(L"n", 0.0, L"");
        int k = 0;
        for (auto& p : ps) {
            n->SetNumber(std::get<1>(p));
            if (std::get<2>(p)) n->SetEmpty();
            n->StorePreset(k++, std::get<0>(p));
        }
        n->SetNumber(0.0);
        return std::unique_ptr<Desc::CKzNumber>(n);
    };
    struct Case {
        const char* what;
        std::unique_ptr<Desc::CKzNumber> a, b;
        int expected;
    };
    Case cases[] = {
        {"empty first", withPresets({{L"A", 0.0, true}}), withPresets({{L"A", 5.0, false}}), -1},
        {"name first", withPresets({{L"B", 0.0, true}}), withPresets({{L"A", 5.0, false}}), 1},
        {"value", withPresets({{L"A", 1.0, false}}), withPresets({{L"A", 5.0, false}}), -1},
        {"prefix", withPresets({{L"A", 1.0, false}}), withPresets({{L"A", 1.0, false}, {L"B", 0.0, false}}), -1},
        {"second", withPresets({{L"A", 1.0, false}, {L"C", 0.0, false}}), withPresets({{L"A", 1.0, false}, {L"B", 0.0, false}}), 1},
        {"same", withPresets({{L"A", 1.0, false}}), withPresets({{L"A", 1.0, false}}), 0},
    };
    for (Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.a->Compare(c.b.get(), true), c.expected);
        EXPECT_EQ(c.b->Compare(c.a.get(), true), -c.expected);
    }
    Desc::SKzDatePreset d1, d2;
    d1.value = CKzDateTime(1);
    d2.value = CKzDateTime(2);
    EXPECT_TRUE(d1 < d2);
    EXPECT_FALSE(d2 < d1);
}

TEST_F(DescItems, SetValueAcrossClasses)
{
    Desc::CKzNumber n(L"n");
    Desc::CKzNumber src(L"s", 4.5, L"");
    EXPECT_EQ(n.SetValue(&src), 0);
    EXPECT_DOUBLE_EQ(n.GetNumber(), 4.5);
    EXPECT_FALSE(n.IsEmpty());
    // An empty source empties; a source of another class changes nothing else.
    Desc::CKzNumber empty(L"e");
    EXPECT_EQ(n.SetValue(&empty), 0);
    EXPECT_TRUE(n.IsEmpty());
    EXPECT_DOUBLE_EQ(n.GetNumber(), 4.5);
    Desc::CKzLabel lab(L"l", 1);
    n.SetNumber(1.0);
    EXPECT_EQ(n.SetValue(&lab), 0);
    EXPECT_DOUBLE_EQ(n.GetNumber(), 1.0);
    EXPECT_EQ(n.SetValue(nullptr), 0);
    // A long text serves a text.
    Desc::CKzText t(L"t");
    Desc::CKzLongText lt(L"l", L"long");
    EXPECT_EQ(t.SetValue(&lt), 0);
    EXPECT_EQ(W(t.GetText()), L"long");
    // Both text classes share the text setter.
    Desc::CKzLongText lt2(L"l2");
    Desc::CKzText tx(L"t", L"x");
    lt2.SetValue(&tx);
    EXPECT_EQ(W(lt2.GetText()), L"x");
    CKzStringW ls[] = {L"a", L"b"};
    Desc::CKzSelection s1(L"s", 0, 2, ls), s2(L"s", 1, 2, ls);
    s1.SetValue(&s2);
    EXPECT_EQ(s1.GetSelection(), 1);
    Desc::CKzDate d1(L"d"), d2(L"d", CKzDateTime(77));
    d1.SetValue(&d2);
    EXPECT_EQ(d1.GetDateTime().GetValue(), 77);
    Desc::CKzLabel l0(L"l");
    l0.SetValue(&lab);
    EXPECT_EQ(l0.GetCheck(), 1);
    EXPECT_FALSE(l0.IsEmpty());
}

TEST_F(DescItems, TraceLines)
{
    CKzStringW out;
    Item().Trace(&out);
    Desc::CKzLabel(L"Chk", 1).Trace(&out);
    Desc::CKzNumber(L"Gain", 2.5, L"dB").Trace(&out);
    Desc::CKzText(L"T", L"hi").Trace(&out);
    CKzStringW ls[] = {L"a"};
    Desc::CKzSelection(L"S", 0, 1, ls).Trace(&out);
    Desc::CKzLongText(L"L", L"").Trace(&out);
    Desc::CKzDate(L"D", CKzDateTime(0)).Trace(&out);
    Desc::CKzNumber big(L"Big", 1e20, L"");
    big.Trace(&out);
    EXPECT_EQ(Item().Trace(nullptr), 0);
    EXPECT_EQ(W(out),
              L"NULL\n"
              L"Chk: Label, Text: On, Number: 1.000, Check: (X)\n"
              L"Gain: Number, Text: 2.500, Number: 2.500, Check: (X)\n"
              L"T: Text, Text: hi, Number: 0.000, Check: (X)\n"
              L"S: Selection, Text: a, Number: 0.000, Check: (X)\n"
              L"L: LongText, Text: , Number: 0.000, Check: (O)\n"
              L"D: Unknown, Text: 1970-01-01 00:00:00, Number: 2440587.500, Check: (O)\n"
              L"Big: Number, Text: 100000000000000000000.000, Number: 100000000000000000000.000, Check: (X)\n");
}

TEST_F(DescItems, DuplicateDropsKeptRawCopy)
{
    CKzLiteVariantW w;
    w.Set(5, L"x");
    CKzLiteVariantR raw;
    w.Finalize(raw);
    Desc::CKzText t(L"t", L"v");
    EXPECT_EQ(t.GetUnknownData(), nullptr);
    EXPECT_EQ(t.SetUnknownData(raw), 0);
    ASSERT_NE(t.GetUnknownData(), nullptr);
    EXPECT_EQ(t.GetUnknownData()->GetSize(), raw.GetSize());
    std::unique_ptr<Item> d(t.Duplicate());
    EXPECT_EQ(d->GetUnknownData(), nullptr);
    EXPECT_EQ(W(d->GetText()), L"v");
    Desc::CKzText c(t);
    EXPECT_EQ(c.GetUnknownData(), nullptr);
    // Replacing keeps one copy, of the new bytes.
    CKzLiteVariantW w2;
    w2.Set(1.0, L"y");
    CKzLiteVariantR raw2;
    w2.Finalize(raw2);
    EXPECT_EQ(t.SetUnknownData(raw2), 0);
    EXPECT_EQ(t.GetUnknownData()->GetSize(), raw2.GetSize());
    Item* r = t.Duplicate();
    r->Release();
}

} // namespace
