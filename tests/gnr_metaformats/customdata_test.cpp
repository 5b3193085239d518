// Tagged custom data: tag classes, the store's rules, the description
// variant and the value chunks written to and read from an image file.
#include "gnr_metaformats/CKzCustomData.h"
#include "gnr_system/CKzRangeMask.h"
#include "gnr_system/CKzVariant.h"
#include "customdata_mocks.h"

#include <gtest/gtest.h>

#include <climits>
#include <clocale>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using CD = CKzCustomData;
using Tag = CD::CKzCustomTag;
using kztest::MockReader;
using kztest::MockWriter;
using kztest::StoredCustomData;
typedef std::vector<unsigned char> Bytes;

std::wstring W(const CKzStringW& s) { return std::wstring(s.GetString()); }

// Little-endian pieces of expected chunks, written out byte by byte.
Bytes I32(int32_t v)
{
    uint32_t u = (uint32_t)v;
    return {(unsigned char)u, (unsigned char)(u >> 8), (unsigned char)(u >> 16), (unsigned char)(u >> 24)};
}
Bytes F64(double d)
{
    uint64_t u;
    std::memcpy(&u, &d, 8);
    Bytes b;
    for (int i = 0; i < 8; ++i) b.push_back((unsigned char)(u >> (8 * i)));
    return b;
}
Bytes Cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes Zeros(size_t n) { return Bytes(n, 0); }
// A text as 32-bit units, without terminator.
Bytes Units(const std::wstring& s)
{
    Bytes b;
    for (wchar_t c : s) {
        Bytes u = I32((int32_t)c);
        b.insert(b.end(), u.begin(), u.end());
    }
    return b;
}
// One 1024-byte field of a text vector.
Bytes Field(const std::wstring& s) { return Cat({Units(s), Zeros(1024 - 4 * s.size())}); }

class CustomData : public ::testing::Test {
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

// ---------------------------------------------------------------------------

struct TagCase {
    const char* what;
    std::function<Tag*()> make;
    int type;
    unsigned size;
};

TEST_F(CustomData, TagClassesAnswerTheirOwnOperations)
{
    const TagCase cases[] = {
        {"base", [] { return new Tag(); }, 0, 0},
        {"string", [] { return new CD::CKzStringTag(); }, 1, 0},
        {"int", [] { return new CD::CKzIntTag(); }, 2, 0},
        {"double", [] { return new CD::CKzDoubleTag(); }, 3, 0},
        {"string vector", [] { return new CD::CKzStringVectorTag(); }, 1, 1},
        {"int vector", [] { return new CD::CKzIntVectorTag(); }, 2, 1},
        {"double vector", [] { return new CD::CKzDoubleVectorTag(); }, 3, 1},
    };
    for (const TagCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::unique_ptr<Tag> t(c.make());
        EXPECT_EQ((int)t->GetType(), c.type);
        EXPECT_EQ(t->GetSize(), c.size);
        bool vector = c.size != 0;
        // Description and unit are plain texts.
        EXPECT_EQ(t->SetDescription(L"d"), 0);
        EXPECT_EQ(t->SetUnit(nullptr), 0);
        CKzStringW s(L"unchanged");
        t->GetDescription(s);
        EXPECT_EQ(W(s), L"d");
        t->GetUnit(s);
        EXPECT_EQ(W(s), L"");
        // Each setter works only on its own class.
        EXPECT_EQ(t->SetInt(7), !vector && c.type == 2 ? 0 : -9);
        EXPECT_EQ(t->SetDouble(7.5), !vector && c.type == 3 ? 0 : -9);
        EXPECT_EQ(t->SetString(L"s"), !vector && c.type == 1 ? 0 : -9);
        EXPECT_EQ(t->SetInt(2, 7), vector && c.type == 2 ? 0 : -9);
        EXPECT_EQ(t->SetDouble(2, 7.5), vector && c.type == 3 ? 0 : -9);
        EXPECT_EQ(t->SetString(2, L"s"), vector && c.type == 1 ? 0 : -9);
        EXPECT_EQ(t->GetSize(), vector ? 3u : 0u);
        // Getters: an integer scalar also answers as a double; a double scalar has no integer view.
        EXPECT_EQ(t->GetInt(), !vector && c.type == 2 ? 7 : 0);
        EXPECT_EQ(t->GetDouble(), !vector ? (c.type == 3 ? 7.5 : c.type == 2 ? 7.0 : 0.0) : 0.0);
        EXPECT_EQ(t->GetInt(2), vector && c.type == 2 ? 7 : 0);
        EXPECT_EQ(t->GetDouble(2), vector ? (c.type == 3 ? 7.5 : c.type == 2 ? 7.0 : 0.0) : 0.0);
        s = L"unchanged";
        EXPECT_EQ(t->GetString(s), !vector && c.type == 1 ? 0 : -9);
        EXPECT_EQ(W(s), !vector && c.type == 1 ? L"s" : L"unchanged");
        s = L"unchanged";
        EXPECT_EQ(t->GetString(2, s), vector && c.type == 1 ? 0 : -9);
        EXPECT_EQ(W(s), vector && c.type == 1 ? L"s" : L"unchanged");
        // Past the end: zero answers; -9 and no change for texts.
        EXPECT_EQ(t->GetInt(3), 0);
        EXPECT_EQ(t->GetDouble(3), 0.0);
        EXPECT_EQ(t->GetString(3, s), -9);
        // Growth fills with defaults; index 4294967295 is refused.
        if (vector) {
            EXPECT_EQ(t->GetInt(1), 0);
            EXPECT_EQ(t->GetDouble(1), 0.0);
            if (c.type == 1) {
                EXPECT_EQ(t->GetString(1, s), 0);
                EXPECT_EQ(W(s), L"");
            }
            EXPECT_EQ(t->SetInt(UINT_MAX, 1), c.type == 2 ? -9 : -9);
            EXPECT_EQ(t->SetDouble(UINT_MAX, 1), -9);
            EXPECT_EQ(t->SetString(UINT_MAX, L"x"), -9);
            EXPECT_EQ(t->GetSize(), 3u);
            EXPECT_EQ(t->SetSize(5), 0);
            EXPECT_EQ(t->GetSize(), 5u);
            EXPECT_EQ(t->SetSize(2), 0);
            EXPECT_EQ(t->GetInt(2), 0);
            EXPECT_EQ(t->SetSize(0), 0);
            EXPECT_EQ(t->GetSize(), 0u);
        } else {
            EXPECT_EQ(t->SetSize(5), -9);
            EXPECT_EQ(t->GetSize(), 0u);
        }
        // Duplicates keep class, texts and values.
        t->SetSize(2);
        std::unique_ptr<Tag> d(t->Duplicate());
        EXPECT_EQ(typeid(*d), typeid(*t));
        EXPECT_EQ(d->GetSize(), t->GetSize());
        d->GetDescription(s);
        EXPECT_EQ(W(s), L"d");
        EXPECT_EQ(d->GetInt(), t->GetInt());
        EXPECT_EQ(d->GetDouble(0), t->GetDouble(0));
    }
}

TEST_F(CustomData, StoreAddsKeepsAndReplacesTags)
{
    CD s;
    EXPECT_EQ(s.AddInt(L"n", L"first", L"mm", false), 0);
    s.Set(L"n", 5);
    // Same kind and type: kept with its value, texts updated where given.
    EXPECT_EQ(s.AddInt(L"n", nullptr, L"um", false), 0);
    int v = 0;
    EXPECT_EQ(s.Get(L"n", &v), 0);
    EXPECT_EQ(v, 5);
    CKzStringW desc, unit;
    CD::EKzCustomDataType type;
    bool vector = true;
    EXPECT_EQ(s.GetCustomDataDescription(L"n", &type, &desc, &unit, &vector), 0);
    EXPECT_EQ(W(desc), L"first");
    EXPECT_EQ(W(unit), L"um");
    EXPECT_FALSE(vector);
    // Another kind or type: replaced by a new tag with the given texts only.
    EXPECT_EQ(s.AddInt(L"n", nullptr, nullptr, true), 0);
    EXPECT_EQ(s.GetCount(L"n"), 1u);
    EXPECT_EQ(s.Get(L"n", 0, &v), 0);
    EXPECT_EQ(v, 0);
    s.GetCustomDataDescription(L"n", &type, &desc, &unit, &vector);
    EXPECT_EQ(W(desc), L"");
    EXPECT_TRUE(vector);
    EXPECT_EQ(s.AddDouble(L"n", L"d", nullptr, true), 0);
    s.GetCustomDataDescription(L"n", &type, nullptr, nullptr, nullptr);
    EXPECT_EQ(type, CD::eKzCustomDataDouble);
    EXPECT_EQ(s.SetCustomDataDescription((CD::EKzCustomDataType)4, CKzStringW(L"x"), nullptr, nullptr, false), -9);
    EXPECT_EQ(s.SetCustomDataDescription(CD::eKzCustomDataString, CKzStringW(L"x"), L"t", nullptr, false), 0);
    EXPECT_EQ(s.GetCustomDataCount(), 2u);
    EXPECT_EQ(s.Find(L"x"), 0);
    EXPECT_EQ(s.Find(L"y"), -9);
    EXPECT_EQ(s.AddInt(nullptr, nullptr, nullptr, false), -9);
}

TEST_F(CustomData, CameraCounter)
{
    CD s;
    EXPECT_FALSE(s.ContainsDataFromCamera());
    s.AddInt(L"Camera_Gain", nullptr, nullptr, false);
    EXPECT_TRUE(s.ContainsDataFromCamera());
    EXPECT_EQ(s.Remove(L"Camera_Gain"), 0);
    EXPECT_FALSE(s.ContainsDataFromCamera());
    EXPECT_EQ(s.Remove(L"Camera_Gain"), -13);

    s.AddInt(L"Camera_Gain", nullptr, nullptr, false);
    EXPECT_EQ(s.RemoveVariable(L"Camera_Gain"), -9);
    EXPECT_TRUE(s.ContainsDataFromCamera());
    EXPECT_EQ(s.RemoveVariable(L"Camera_Gain"), -13);
    EXPECT_EQ(s.GetCustomDataCount(), 0u);

    CD t;
    t.AddInt(L"Camera_X", nullptr, nullptr, false);
    t.AddInt(L"Camera_X", nullptr, nullptr, false);  // kept: not counted again
    t.AddDouble(L"Camera_X", nullptr, nullptr, false);  // replaced: counted
    t.AddInt(L"Camera", nullptr, nullptr, false);
    t.AddInt(L"camera_y", nullptr, nullptr, false);
    t.Remove(L"Camera_X");
    EXPECT_TRUE(t.ContainsDataFromCamera());
    CD copy(t);
    EXPECT_TRUE(copy.ContainsDataFromCamera());
    t.Clear();
    EXPECT_EQ(t.GetCustomDataCount(), 0u);
    EXPECT_TRUE(t.ContainsDataFromCamera());
}

TEST_F(CustomData, NamesInCharacterCodeOrder)
{
    CD s;
    s.AddInt(L"b", nullptr, nullptr, false);
    s.AddInt(L"B", nullptr, nullptr, false);
    s.AddInt(L"a", nullptr, nullptr, false);
    s.AddInt(L"\u00e9", nullptr, nullptr, false);
    const wchar_t* expected[] = {L"B", L"a", L"b", L"\u00e9"};
    for (unsigned i = 0; i < 4; ++i) {
        CKzStringW name;
        EXPECT_EQ(s.GetCustomDataDescription(i, nullptr, &name, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(W(name), expected[i]);
        EXPECT_EQ(s.GetCustomDataDescriptionLang(i, nullptr, &name, nullptr, nullptr, nullptr), 0);
        EXPECT_EQ(W(name), expected[i]);
    }
    EXPECT_EQ(s.GetCustomDataDescription(4, nullptr, nullptr, nullptr, nullptr, nullptr), -9);
    EXPECT_EQ(s.GetCustomDataDescription(L"c", nullptr, nullptr, nullptr, nullptr), -9);
    EXPECT_EQ(s.GetCustomDataDescriptionLang(L"c", nullptr, nullptr, nullptr, nullptr), -9);
}

TEST_F(CustomData, TypedGetAndSetThroughTheStore)
{
    CD s;
    s.AddInt(L"iv", nullptr, nullptr, true);
    s.AddDouble(L"d", nullptr, nullptr, false);
    s.AddString(L"sv", nullptr, nullptr, true);
    // Growth through the indexed setter.
    EXPECT_EQ(s.Set(L"iv", 5, 7), 0);
    EXPECT_EQ(s.GetCount(L"iv"), 6u);
    for (unsigned i = 0; i < 5; ++i) {
        int v = -1;
        s.Get(L"iv", i, &v);
        EXPECT_EQ(v, 0);
    }
    int v = 0;
    s.Get(L"iv", 5, &v);
    EXPECT_EQ(v, 7);
    EXPECT_EQ(s.Set(L"iv", 1, 4000000000u), 0);
    s.Get(L"iv", 1, &v);
    EXPECT_EQ(v, (int)4000000000u);
    // The store answers 0 whatever the tag answered; -13 for an absent name.
    EXPECT_EQ(s.Set(L"d", 3), 0);
    EXPECT_EQ(s.Set(L"d", 3u), 0);
    double d = 9;
    EXPECT_EQ(s.Get(L"d", &d), 0);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(s.Set(L"d", 2.5), 0);
    EXPECT_EQ(s.Get(L"d", &v), 0);
    EXPECT_EQ(v, 0);  // no integer view of a double
    EXPECT_EQ(s.Set(L"missing", 1), -13);
    EXPECT_EQ(s.Set(L"missing", 1u), -13);
    EXPECT_EQ(s.Set(L"missing", 1, 2), -13);
    EXPECT_EQ(s.Set(L"missing", 1.0), -13);
    EXPECT_EQ(s.Set(L"missing", 1, 1.0), -13);
    EXPECT_EQ(s.Set(L"missing", L"x"), -13);
    EXPECT_EQ(s.Set(L"missing", 1, L"x"), -13);
    EXPECT_EQ(s.Get(L"missing", &v), -9);
    EXPECT_EQ(s.Get(L"d", (double*)nullptr), -9);
    EXPECT_EQ(s.Get(L"iv", 0, (int*)nullptr), -9);
    CKzStringW text(L"kept");
    EXPECT_EQ(s.Get(L"sv", 3, &text), 0);  // past the end: unchanged
    EXPECT_EQ(W(text), L"kept");
    EXPECT_EQ(s.Set(L"sv", 1, L"one"), 0);
    EXPECT_EQ(s.Get(L"sv", 1, &text), 0);
    EXPECT_EQ(W(text), L"one");
    // Combined forms.
    struct Combined {
        CD::EKzCustomDataType type;
        const wchar_t* name;
        int getResult;
        int setResult;
    } combined[] = {
        {CD::eKzCustomDataString, L"sv", 0, 0}, {CD::eKzCustomDataInt, L"iv", 0, 0},
        {CD::eKzCustomDataDouble, L"d", 0, 0},  {(CD::EKzCustomDataType)0, L"iv", -9, -9},
        {(CD::EKzCustomDataType)4, L"iv", -9, -9}, {CD::eKzCustomDataInt, L"missing", -9, -13},
    };
    for (const Combined& c : combined) {
        SCOPED_TRACE(c.type);
        CKzStringW t;
        int i = 0;
        double x = 0;
        EXPECT_EQ(s.Get(c.name, 0, c.type, &t, &i, &x), c.getResult);
        EXPECT_EQ(s.Set(c.name, 0, c.type, L"z", 11, 1.5), c.setResult);
    }
    int i = 0;
    s.Get(L"iv", 0, &i);
    EXPECT_EQ(i, 11);
    CKzStringW t;
    s.Get(L"sv", 0, &t);
    EXPECT_EQ(W(t), L"z");
    EXPECT_EQ(s.Get(L"iv", 0, CD::eKzCustomDataInt, nullptr, nullptr, nullptr), -9);
    EXPECT_EQ(s.Get(L"sv", 0, CD::eKzCustomDataString, nullptr, &i, nullptr), -9);
    EXPECT_EQ(s.Set(L"sv", 0, CD::eKzCustomDataString, nullptr, 0, 0.0), -9);
    EXPECT_EQ(CD::MakeDifferenceFrom(&s, &s), -2);
    EXPECT_EQ(CD::SizeOf(CD::eKzCustomDataString), 1024u);
    EXPECT_EQ(CD::SizeOf(CD::eKzCustomDataInt), 4u);
    EXPECT_EQ(CD::SizeOf(CD::eKzCustomDataDouble), 8u);
    EXPECT_EQ(CD::SizeOf((CD::EKzCustomDataType)0), 0u);
    EXPECT_EQ(CD::SizeOf((CD::EKzCustomDataType)-1), 0u);
    // Crop shortens only longer vectors.
    s.Crop(2);
    EXPECT_EQ(s.GetCount(L"iv"), 2u);
    EXPECT_EQ(s.GetCount(L"sv"), 2u);
    s.Crop(0);
    EXPECT_EQ(s.GetCount(L"iv"), 0u);
}

// A store of every kind of tag, with names that test the order and texts
// that test escaping and non-ASCII characters.
CD SampleStore()
{
    CD s;
    s.AddInt(L"b", L"counts", nullptr, true);
    s.Set(L"b", 0, -2);
    s.Set(L"b", 1, 70000);
    s.AddString(L"B", nullptr, nullptr, false);
    s.Set(L"B", L"x<y");
    s.AddDouble(L"a", L"D&B", L"\u00b5m", false);
    s.Set(L"a", 2.5);
    s.AddDouble(L"dv", nullptr, nullptr, true);
    s.Set(L"dv", 1, -0.5);
    s.AddInt(L"i", nullptr, nullptr, false);
    s.Set(L"i", -1);
    s.AddString(L"sv", nullptr, nullptr, true);
    s.Set(L"sv", 0, L"ab");
    s.Set(L"sv", 1, std::wstring(300, L'q').c_str());
    return s;
}

std::string TagXml(int i, const char* id, int type, int size, const char* desc, const char* unit)
{
    std::string n = "Tag" + std::to_string(i);
    return "<" + n + " runtype=\"CKzListVariant\"><ID runtype=\"CKzStringW\" value=\"" + id +
           "\"/><Type runtype=\"kz_int32\" value=\"" + std::to_string(type) +
           "\"/><Size runtype=\"kz_int32\" value=\"" + std::to_string(size) +
           "\"/><Desc runtype=\"CKzStringW\" value=\"" + desc + "\"/><Unit runtype=\"CKzStringW\" value=\"" + unit +
           "\"/></" + n + ">";
}

TEST_F(CustomData, SavedDescriptionAndChunksAreExact)
{
    CD s = SampleStore();
    StoredCustomData file;
    MockWriter w(file);
    ASSERT_EQ(s.SaveCustomData(&w, 0), 0);

    // The description document, written by hand: tags in the order B, a, b, dv, i, sv.
    const std::string golden =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\">"
        "<CustomTagDescription_v1.0 runtype=\"CKzListVariant\">" +
        TagXml(0, "B", 1, 0, "", "") + TagXml(1, "a", 3, 0, "D&#x0026;B", "\xc2\xb5m") +
        TagXml(2, "b", 2, 2, "counts", "") + TagXml(3, "dv", 3, 2, "", "") + TagXml(4, "i", 2, 0, "", "") +
        TagXml(5, "sv", 1, 2, "", "") + "</CustomTagDescription_v1.0></variant>";
    ASSERT_EQ(file.documents.size(), 1u);
    EXPECT_EQ(file.documents[L"CustomDataV2_0"], golden);

    // The description first, then one chunk per tag in name order.
    std::vector<std::wstring> order = {L"var:CustomDataV2_0", L"B", L"a", L"b", L"dv", L"i", L"sv"};
    EXPECT_EQ(file.order, order);
    EXPECT_EQ(file.chunks[L"B"], Cat({Units(L"x<y"), I32(0)}));
    EXPECT_EQ(file.chunks[L"a"], F64(2.5));
    EXPECT_EQ(file.chunks[L"b"], Cat({I32(-2), I32(70000)}));
    EXPECT_EQ(file.chunks[L"dv"], Cat({F64(0.0), F64(-0.5)}));
    EXPECT_EQ(file.chunks[L"i"], I32(-1));
    EXPECT_EQ(file.chunks[L"sv"], Cat({Field(L"ab"), Field(std::wstring(255, L'q'))}));
}

TEST_F(CustomData, MaxCountLeavesLaterElementsZero)
{
    CD s;
    s.AddInt(L"iv", nullptr, nullptr, true);
    s.Set(L"iv", 2, 9);
    s.Set(L"iv", 0, 5);
    s.Set(L"iv", 1, 6);
    s.AddString(L"sv", nullptr, nullptr, true);
    s.Set(L"sv", 1, L"x");
    s.Set(L"sv", 0, L"y");
    s.AddDouble(L"d", nullptr, nullptr, false);
    s.Set(L"d", 1.0);
    StoredCustomData file;
    MockWriter w(file);
    ASSERT_EQ(s.SaveCustomData(&w, 1), 0);
    EXPECT_EQ(file.chunks[L"iv"], Cat({I32(5), Zeros(8)}));
    EXPECT_EQ(file.chunks[L"sv"], Cat({Field(L"y"), Zeros(1024)}));
    EXPECT_EQ(file.chunks[L"d"], F64(1.0));  // scalars are whole
}

TEST_F(CustomData, EmptiedVectorsAreScalars)
{
    struct Case {
        const char* what;
        std::function<void(CD&)> add;
        Bytes chunk;
    } cases[] = {
        {"int", [](CD& s) { s.AddInt(L"t", nullptr, nullptr, true); }, I32(0)},
        {"double", [](CD& s) { s.AddDouble(L"t", nullptr, nullptr, true); }, F64(0.0)},
        {"string", [](CD& s) { s.AddString(L"t", nullptr, nullptr, true); }, I32(0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CD s;
        c.add(s);
        s.Crop(0);
        StoredCustomData file;
        MockWriter w(file);
        ASSERT_EQ(s.SaveCustomData(&w, 0), 0);
        EXPECT_EQ(file.chunks[L"t"], c.chunk);
        EXPECT_NE(file.documents[L"CustomDataV2_0"].find("<Size runtype=\"kz_int32\" value=\"0\"/>"), std::string::npos);
        CD back;
        MockReader r(file);
        EXPECT_EQ(back.LoadCustomData(&r, true), 0);
        bool vector = true;
        back.GetCustomDataDescription(L"t", nullptr, nullptr, nullptr, &vector);
        EXPECT_FALSE(vector);
    }
}

TEST_F(CustomData, SaveAndLoadRoundTrip)
{
    CD s = SampleStore();
    StoredCustomData file;
    MockWriter w(file);
    ASSERT_EQ(s.SaveCustomData(&w, 0), 0);
    CD back;
    MockReader r(file);
    ASSERT_EQ(back.LoadCustomData(&r, true), 0);
    ASSERT_EQ(back.GetCustomDataCount(), s.GetCustomDataCount());
    for (unsigned i = 0; i < s.GetCustomDataCount(); ++i) {
        CKzStringW n1, n2, d1, d2, u1, u2;
        CD::EKzCustomDataType t1, t2;
        bool v1, v2;
        s.GetCustomDataDescription(i, &t1, &n1, &d1, &u1, &v1);
        back.GetCustomDataDescription(i, &t2, &n2, &d2, &u2, &v2);
        SCOPED_TRACE(W(n1));
        EXPECT_EQ(W(n1), W(n2));
        EXPECT_EQ(t1, t2);
        EXPECT_EQ(W(d1), W(d2));
        EXPECT_EQ(W(u1), W(u2));
        EXPECT_EQ(v1, v2);
        EXPECT_EQ(s.GetCount(n1), back.GetCount(n2));
    }
    int i = 0;
    back.Get(L"b", 1, &i);
    EXPECT_EQ(i, 70000);
    double d = 0;
    back.Get(L"a", &d);
    EXPECT_EQ(d, 2.5);
    CKzStringW t;
    back.Get(L"B", &t);
    EXPECT_EQ(W(t), L"x<y");
    back.Get(L"sv", 1, &t);
    EXPECT_EQ(W(t), std::wstring(255, L'q'));
    // Saving the reloaded store gives the same bytes.
    StoredCustomData again;
    MockWriter w2(again);
    ASSERT_EQ(back.SaveCustomData(&w2, 0), 0);
    EXPECT_EQ(again.chunks, file.chunks);
    EXPECT_EQ(again.documents, file.documents);
    // Without values only the description is taken.
    CD descOnly;
    MockReader r2(file);
    EXPECT_EQ(descOnly.LoadCustomData(&r2, false), 0);
    descOnly.Get(L"a", &d);
    EXPECT_EQ(d, 0.0);
    EXPECT_EQ(descOnly.GetCount(L"sv"), 2u);
}

TEST_F(CustomData, TruncatedChunksGivePartialValues)
{
    CD s;
    s.AddInt(L"iv", nullptr, nullptr, true);
    s.Set(L"iv", 2, 3);
    s.AddDouble(L"dv", nullptr, nullptr, true);
    s.Set(L"dv", 1, 2.0);
    s.AddString(L"sv", nullptr, nullptr, true);
    s.Set(L"sv", 1, L"b");
    s.AddInt(L"i", nullptr, nullptr, false);
    s.AddDouble(L"d", nullptr, nullptr, false);
    s.AddString(L"s", nullptr, nullptr, false);
    StoredCustomData file;
    MockWriter w(file);
    ASSERT_EQ(s.SaveCustomData(&w, 0), 0);
    file.chunks[L"iv"] = Cat({I32(1), I32(2)});             // 2 of 3 elements
    file.chunks[L"dv"] = Cat({F64(1.5), Bytes{1, 2, 3}});   // 1 whole element
    file.chunks[L"sv"] = Cat({Field(L"a"), Units(L"bc")});  // 1 whole field
    file.chunks[L"i"] = Bytes{1, 2, 3};                     // too short: unchanged
    file.chunks[L"d"] = Cat({F64(4.0), Bytes{9}});          // extra bytes ignored
    file.chunks[L"s"] = Cat({Units(L"xy"), Bytes{7, 0}});   // no terminator, a partial unit
    CD back;
    back.AddInt(L"i", nullptr, nullptr, false);
    back.Set(L"i", 42);
    MockReader r(file);
    EXPECT_EQ(back.LoadCustomData(&r, true), 0);
    int v = -1;
    EXPECT_EQ(back.GetCount(L"iv"), 3u);
    back.Get(L"iv", 0, &v);
    EXPECT_EQ(v, 1);
    back.Get(L"iv", 1, &v);
    EXPECT_EQ(v, 2);
    back.Get(L"iv", 2, &v);
    EXPECT_EQ(v, 0);
    double d = -1;
    back.Get(L"dv", 0, &d);
    EXPECT_EQ(d, 1.5);
    back.Get(L"dv", 1, &d);
    EXPECT_EQ(d, 0.0);
    CKzStringW t;
    back.Get(L"sv", 0, &t);
    EXPECT_EQ(W(t), L"a");
    back.Get(L"sv", 1, &t);
    EXPECT_EQ(W(t), L"");
    back.Get(L"i", &v);
    EXPECT_EQ(v, 42);
    back.Get(L"d", &d);
    EXPECT_EQ(d, 4.0);
    back.Get(L"s", &t);
    EXPECT_EQ(W(t), L"xy");
    // An empty text chunk sets the empty text; a field without terminator stops at 256 characters.
    file.chunks[L"s"] = Bytes{};
    file.chunks[L"sv"] = Bytes(1024, 0x41);
    back.Set(L"s", L"old");
    MockReader r2(file);
    back.LoadCustomData(&r2, true);
    back.Get(L"s", &t);
    EXPECT_EQ(W(t), L"old");
    back.Get(L"sv", 0, &t);
    EXPECT_EQ(t.GetLength(), 256);
    EXPECT_EQ((unsigned)t.GetString()[0], 0x41414141u);
}

TEST_F(CustomData, LoadResultIsTheLastChunkRead)
{
    CD s;
    s.AddInt(L"a", nullptr, nullptr, false);
    s.AddInt(L"b", nullptr, nullptr, false);
    s.Set(L"a", 1);
    s.Set(L"b", 2);
    StoredCustomData file;
    MockWriter w(file);
    s.SaveCustomData(&w, 0);
    file.chunks.erase(L"a");
    CD back;
    MockReader r(file);
    EXPECT_EQ(back.LoadCustomData(&r, true), 0);  // "b", read last, was there
    int v = -1;
    back.Get(L"a", &v);
    EXPECT_EQ(v, 0);
    back.Get(L"b", &v);
    EXPECT_EQ(v, 2);
    file.chunks.erase(L"b");
    r.missingChunkCode = -1002;
    CD back2;
    EXPECT_EQ(back2.LoadCustomData(&r, true), -1002);
    // Description failures pass through.
    StoredCustomData none;
    MockReader r3(none);
    EXPECT_EQ(back2.LoadCustomData(&r3, true), -13);
    EXPECT_EQ(back2.LoadCustomData(nullptr, true), -4);
}

TEST_F(CustomData, WriterFailuresStopTheSave)
{
    CD s = SampleStore();
    EXPECT_EQ(s.SaveCustomData(nullptr, 0), -4);
    {
        StoredCustomData file;
        MockWriter w(file);
        w.failVarWith = -1003;
        EXPECT_EQ(s.SaveCustomData(&w, 0), -1003);
        EXPECT_TRUE(file.chunks.empty());
    }
    {
        StoredCustomData file;
        MockWriter w(file);
        w.failChunkAt = 2;
        w.failChunkWith = -1003;
        EXPECT_EQ(s.SaveCustomData(&w, 0), -1003);
        EXPECT_EQ(file.chunks.size(), 2u);  // the description and two chunks stay
        EXPECT_EQ(file.documents.size(), 1u);
    }
    // An empty store writes an empty description and no chunk; loading it adds nothing.
    CD empty;
    StoredCustomData file;
    MockWriter w(file);
    EXPECT_EQ(empty.SaveCustomData(&w, 0), 0);
    EXPECT_TRUE(file.chunks.empty());
    EXPECT_EQ(file.documents[L"CustomDataV2_0"],
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\">"
              "<CustomTagDescription_v1.0 runtype=\"CKzListVariant\"></CustomTagDescription_v1.0></variant>");
    CD back;
    MockReader r(file);
    EXPECT_EQ(back.LoadCustomData(&r, true), 0);
    EXPECT_EQ(back.GetCustomDataCount(), 0u);
}

// Builds a description variant from (ID, Type, Size) triples; a Size of
// INT_MIN leaves the key out.
CKzVariant Description(std::initializer_list<std::tuple<const wchar_t*, int, int>> tags,
                       const wchar_t* rootName = L"CustomTagDescription_v1.0")
{
    CKzVariant v{CKzListVariant(), CKzStringW(rootName)};
    int i = 0;
    for (const auto& t : tags) {
        CKzVariant c(CKzListVariant(), CKzStringW((L"Tag" + std::to_wstring(i++)).c_str()));
        c.Append(CKzVariant(CKzStringW(std::get<0>(t)), CKzStringW(L"ID")));
        c.Append(CKzVariant(std::get<1>(t), CKzStringW(L"Type")));
        if (std::get<2>(t) != INT_MIN) c.Append(CKzVariant(std::get<2>(t), CKzStringW(L"Size")));
        v.Append(c);
    }
    return v;
}

TEST_F(CustomData, DescriptionVariantRules)
{
    CD s;
    EXPECT_EQ(s.LoadFromVariant(CKzVariant()), -9);
    EXPECT_EQ(s.LoadFromVariant(Description({{L"x", 2, 1}}, L"Other")), -9);
    EXPECT_EQ(s.GetCustomDataCount(), 0u);
    // Size is one running value; bad sizes and types skip their child.
    ASSERT_EQ(s.LoadFromVariant(Description({
                  {L"v3", 2, 3},
                  {L"inherits", 3, INT_MIN},   // takes the 3 before it
                  {L"neg", 2, -1},
                  {L"alsoNeg", 2, INT_MIN},    // the running -1: skipped too
                  {L"huge", 1, 0x7fffffff},
                  {L"over", 1, (1 << 24) + 1},
                  {L"scalar", 1, 0},
                  {L"badType", 4, 0},
                  {L"zeroType", 0, 0},
              })),
              0);
    EXPECT_EQ(s.GetCustomDataCount(), 3u);
    EXPECT_EQ(s.GetCount(L"v3"), 3u);
    EXPECT_EQ(s.GetCount(L"inherits"), 3u);
    EXPECT_EQ(s.Find(L"neg"), -9);
    EXPECT_EQ(s.Find(L"alsoNeg"), -9);
    EXPECT_EQ(s.Find(L"huge"), -9);
    EXPECT_EQ(s.Find(L"over"), -9);
    EXPECT_EQ(s.Find(L"scalar"), 0);
    EXPECT_EQ(s.Find(L"badType"), -9);
    // Merging into existing tags: a kept vector grows to Size and its last element is reset.
    CD t;
    t.AddInt(L"v", nullptr, nullptr, true);
    t.Set(L"v", 0, 5);
    t.Set(L"v", 1, 6);
    t.LoadFromVariant(Description({{L"v", 2, 2}}));
    int v = -1;
    t.Get(L"v", 0, &v);
    EXPECT_EQ(v, 5);
    t.Get(L"v", 1, &v);
    EXPECT_EQ(v, 0);
    t.LoadFromVariant(Description({{L"v", 2, 4}}));
    EXPECT_EQ(t.GetCount(L"v"), 4u);
    // The saved variant: root name, children Tag0.., five keys in order.
    CKzVariant out(5);
    out.EnableTypeChange(false);
    SampleStore().SaveToVariant(out);
    EXPECT_FALSE(out.IsEnabledTypeChange());
    EXPECT_EQ(W(out.GetName()), L"CustomTagDescription_v1.0");
    ASSERT_EQ(out.GetCount(), 6);
    EXPECT_EQ(W(out[2].GetName()), L"Tag2");
    ASSERT_EQ(out[2].GetCount(), 5);
    const wchar_t* keys[] = {L"ID", L"Type", L"Size", L"Desc", L"Unit"};
    for (int k = 0; k < 5; ++k) EXPECT_EQ(W(out[2][k].GetName()), keys[k]);
    EXPECT_EQ(W(out[2][0].GetCKzStringW()), L"b");
    EXPECT_EQ(out[2][2].GetKz_int32(), 2);
}

TEST_F(CustomData, AppendingStores)
{
    CD a;
    a.AddInt(L"iv", L"d", L"u", true);
    a.Set(L"iv", 1, 8);
    a.AddDouble(L"s", nullptr, nullptr, false);
    a.Set(L"s", 1.5);
    a.AddString(L"t", nullptr, nullptr, false);
    a.Set(L"t", L"z");
    CD b;
    EXPECT_EQ(b.AddCustomData(nullptr), -9);
    EXPECT_EQ(b.AddCustomData(&a), 0);
    // New targets are vectors holding the appended values from position 0.
    EXPECT_EQ(b.GetCount(L"iv"), 2u);
    EXPECT_EQ(b.GetCount(L"s"), 1u);
    CKzStringW desc;
    b.GetCustomDataDescription(L"iv", nullptr, &desc, nullptr, nullptr);
    EXPECT_EQ(W(desc), L"d");
    EXPECT_EQ(b.AddCustomData(&a), 0);
    EXPECT_EQ(b.GetCount(L"iv"), 4u);
    EXPECT_EQ(b.GetCount(L"s"), 2u);
    int v = 0;
    b.Get(L"iv", 3, &v);
    EXPECT_EQ(v, 8);
    double d = 0;
    b.Get(L"s", 1, &d);
    EXPECT_EQ(d, 1.5);
    CKzStringW t;
    b.Get(L"t", 1, &t);
    EXPECT_EQ(W(t), L"z");
    // Appending a store to itself doubles each vector once.
    EXPECT_EQ(b.AddCustomData(&b), 0);
    EXPECT_EQ(b.GetCount(L"iv"), 8u);
    EXPECT_EQ(b.GetCount(L"s"), 4u);
    // Targets of another kind or type stay unchanged.
    CD c;
    c.AddDouble(L"iv", nullptr, nullptr, true);
    c.AddInt(L"s", nullptr, nullptr, false);
    c.Set(L"s", 4);
    c.AddCustomData(&a);
    EXPECT_EQ(c.GetCount(L"iv"), 1u);
    c.Get(L"s", &v);
    EXPECT_EQ(v, 4);
}

TEST_F(CustomData, SlicingVectors)
{
    CD src;
    src.AddInt(L"iv", nullptr, nullptr, true);
    for (unsigned i = 0; i < 10; ++i) src.Set(L"iv", i, (int)(i * 10));
    src.AddDouble(L"sc", nullptr, nullptr, false);
    src.Set(L"sc", 7.0);
    struct Case {
        unsigned first, last, step;
        std::vector<int> expected;
    } cases[] = {
        {0, 9, 1, {0, 10, 20, 30, 40, 50, 60, 70, 80, 90}},
        {2, 7, 2, {20, 40, 60}},
        {8, 30, 1, {80, 90}},
        {9, 9, 5, {90}},
        {0, 9, 4, {0, 40, 80}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.first * 100 + c.step);
        CKzRangeMask mask(64, c.first, c.last, c.step);
        CD target;
        ASSERT_EQ(src.GetSlice(target, mask), 0);
        ASSERT_EQ(target.GetCount(L"iv"), c.expected.size());
        for (unsigned i = 0; i < c.expected.size(); ++i) {
            int v = -1;
            target.Get(L"iv", i, &v);
            EXPECT_EQ(v, c.expected[i]);
        }
        double d = 0;
        target.Get(L"sc", 0, &d);
        EXPECT_EQ(d, 7.0);
        EXPECT_EQ(target.GetCount(L"sc"), 1u);
    }
    // An existing target: element 0 overwritten, the rest appended.
    CD target;
    target.AddInt(L"iv", nullptr, nullptr, true);
    target.Set(L"iv", 2, 5);
    CKzRangeMask mask(64, 1, 2, 1);
    src.GetSlice(target, mask);
    EXPECT_EQ(target.GetCount(L"iv"), 4u);
    int v = -1;
    target.Get(L"iv", 0, &v);
    EXPECT_EQ(v, 10);
    target.Get(L"iv", 3, &v);
    EXPECT_EQ(v, 20);
    // An empty mask gives -9 and creates nothing; a store sliced into itself ends.
    CKzRangeMask empty;
    empty.Reset();
    CD none;
    EXPECT_EQ(src.GetSlice(none, empty), -9);
    EXPECT_EQ(none.GetCustomDataCount(), 0u);
    CKzRangeMask all(64, 0, 63, 1);
    EXPECT_EQ(src.GetSlice(src, all), 0);
    EXPECT_EQ(src.GetCount(L"iv"), 19u);
    CKzRangeMask far(UINT_MAX, UINT_MAX - 1, UINT_MAX - 1, 1);
    CD farTarget;
    EXPECT_EQ(src.GetSlice(farTarget, far), 0);
    EXPECT_EQ(farTarget.GetCount(L"iv"), 1u);  // the default element only
}

TEST_F(CustomData, CopiesOwnTheirTags)
{
    CD a = SampleStore();
    CD b(a);
    b.Set(L"b", 0, 99);
    int v = 0;
    a.Get(L"b", 0, &v);
    EXPECT_EQ(v, -2);
    b.Get(L"b", 0, &v);
    EXPECT_EQ(v, 99);
    EXPECT_EQ(b.GetCustomDataCount(), a.GetCustomDataCount());
    std::unique_ptr<Tag> two(new CD::CKzIntVectorTag());
    two->SetInt(1, 3);
    std::unique_ptr<Tag> dup(two->Duplicate());
    EXPECT_EQ(dup->GetSize(), 2u);
    EXPECT_EQ(dup->GetInt(1), 3);
}

} // namespace
