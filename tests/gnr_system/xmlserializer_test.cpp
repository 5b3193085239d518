// XML text form of variants: exact documents, escaping, reader rules,
// hostile input and a randomized round trip through both forms.
#include "gnr_system/CKzSerializerXMLString.h"
#include "variant_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>

namespace {

using kztest::W;
using kztest::RT;
using kztest::List;
using kztest::A;


std::string SaveUTF8(const CKzVariant& v)
{
    CKzSerializerXMLString s;
    CKzStringA out;
    CKzVariant params(CKzListVariant(), L"params");
    params.Append(CKzVariant((void*)&out, L"stringUTF8"));
    EXPECT_EQ(s.Save(params, v), 0);
    return A(out);
}

std::wstring SaveWide(const CKzVariant& v)
{
    CKzSerializerXMLString s;
    CKzStringW out;
    CKzVariant params(CKzListVariant(), L"params");
    params.Append(CKzVariant((void*)&out, L"string"));
    EXPECT_EQ(s.Save(params, v), 0);
    return W(out);
}

int LoadUTF8(CKzVariant& v, const std::string& doc)
{
    return CKzSerializerXMLString::VariantFromXML_UTF8(v, doc.data(), (unsigned)doc.size());
}

int LoadWide(CKzVariant& v, const std::wstring& doc)
{
    return CKzSerializerXMLString::VariantFromXML(v, doc.data(), (unsigned)doc.size());
}

const std::string kHead = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><variant version=\"1.0\">";
const std::wstring kHeadW = L"<?xml version=\"1.0\" encoding=\"UTF-16\"?><variant version=\"1.0\">";

TEST(XmlSerializer, ExactDocuments)
{
    EXPECT_EQ(SaveUTF8(CKzVariant((int)5, L"Width")),
              kHead + "<Width runtype=\"kz_int32\" value=\"5\"/></variant>");
    EXPECT_EQ(SaveWide(CKzVariant((int)5, L"Width")),
              kHeadW + L"<Width runtype=\"kz_int32\" value=\"5\"/></variant>");
    EXPECT_EQ(SaveUTF8(CKzVariant(0.1, L"d")), kHead + "<d runtype=\"double\" value=\"0.1\"/></variant>");
    EXPECT_EQ(SaveWide(CKzVariant(0.1, L"d")), kHeadW + L"<d runtype=\"double\" value=\"0.100000000000000\"/></variant>");
    EXPECT_EQ(SaveUTF8(CKzVariant(CKzListVariant(), L"L")),
              kHead + "<L runtype=\"CKzListVariant\"></L></variant>");
    EXPECT_EQ(SaveUTF8(CKzVariant()), kHead + "<no_name runtype=\"unknown\" value=\"\"/></variant>");

    CKzVariant tree = List(L"T", {CKzVariant(true, L"b"), List(L"in", {CKzVariant(7u, L"u")}), CKzVariant(L"x", L"s")});
    EXPECT_EQ(SaveUTF8(tree), kHead +
              "<T runtype=\"CKzListVariant\"><b runtype=\"bool\" value=\"true\"/>"
              "<in runtype=\"CKzListVariant\"><u runtype=\"kz_uint32\" value=\"7\"/></in>"
              "<s runtype=\"CKzStringW\" value=\"x\"/></T></variant>");

    unsigned char man[3] = {'M', 'a', 'n'};
    EXPECT_EQ(SaveUTF8(CKzVariant(CKzByteArray(man, 3, 1024), L"B")),
              kHead + "<B runtype=\"CKzByteArray\" value=\"TWFu\"/></variant>");

    // The element alone.
    CKzStringA el;
    EXPECT_EQ(CKzSerializerXMLString::VariantToXML_UTF8(el, CKzVariant((int)1, L"a")), 0);
    EXPECT_EQ(A(el), "<a runtype=\"kz_int32\" value=\"1\"/>");
    CKzStringW elw(L"pre");
    EXPECT_EQ(CKzSerializerXMLString::VariantToXML(elw, CKzVariant((int)1, L"a")), 0);
    EXPECT_EQ(W(elw), L"pre<a runtype=\"kz_int32\" value=\"1\"/>");
}

TEST(XmlSerializer, DoublesKeepEveryBit)
{
    const double values[] = {1.0 / 3.0, 0.1 + 0.2, 1e-300, -123456789.123456789, 5e-324,
                             std::numeric_limits<double>::max(), 1e22, -0.0};
    for (double x : values) {
        SCOPED_TRACE(x);
        for (int form = 0; form < 2; ++form) {
            CKzVariant back;
            const int r = form ? LoadWide(back, SaveWide(CKzVariant(x, L"d"))) : LoadUTF8(back, SaveUTF8(CKzVariant(x, L"d")));
            ASSERT_EQ(r, 0);
            const double y = back.GetDouble();
            EXPECT_EQ(std::memcmp(&x, &y, sizeof x), 0) << form;
        }
    }
    // Texts that read back exactly keep their short form.
    EXPECT_EQ(SaveUTF8(CKzVariant(2.5, L"d")), kHead + "<d runtype=\"double\" value=\"2.5\"/></variant>");
    EXPECT_EQ(SaveUTF8(CKzVariant(1.0 / 3.0, L"d")), kHead + "<d runtype=\"double\" value=\"0.33333333333333331\"/></variant>");
    const double inf = std::numeric_limits<double>::infinity();
    CKzVariant back;
    ASSERT_EQ(LoadUTF8(back, SaveUTF8(CKzVariant(-inf, L"d"))), 0);
    EXPECT_EQ(back.GetDouble(), -inf);
}

TEST(XmlSerializer, EscapedValues)
{
    // '<', '"', CR, LF, tab, and every '&' (also before '#' and at the end).
    CKzVariant v(L"a<b\"c\rd\ne\tf&#x41;g&", L"s");
    const std::string doc = SaveUTF8(v);
    EXPECT_EQ(doc, kHead + "<s runtype=\"CKzStringW\" value=\"a&#x003C;b&#x0022;c&#x000d;d&#x000a;e&#x0009;f&#x0026;#x41;g&#x0026;\"/></variant>");
    CKzVariant back;
    ASSERT_EQ(LoadUTF8(back, doc), 0);
    EXPECT_EQ(W(back.GetCKzStringW()), L"a<b\"c\rd\ne\tf&#x41;g&");
    CKzVariant backW;
    ASSERT_EQ(LoadWide(backW, SaveWide(v)), 0);
    EXPECT_EQ(W(backW.GetCKzStringW()), L"a<b\"c\rd\ne\tf&#x41;g&");

    // Texts that look like the escapes themselves stay as they are.
    CKzVariant lookalike(L"&#x003C;&#x000a;&#x0026;", L"s");
    ASSERT_EQ(LoadUTF8(back, SaveUTF8(lookalike)), 0);
    EXPECT_EQ(W(back.GetCKzStringW()), L"&#x003C;&#x000a;&#x0026;");

    // A character reference written by another producer is resolved.
    ASSERT_EQ(LoadUTF8(back, kHead + "<s runtype=\"CKzStringW\" value=\"&#x41;&lt;&amp;\"/></variant>"), 0);
    EXPECT_EQ(W(back.GetCKzStringW()), L"A<&");
}

TEST(XmlSerializer, ControlCharacters)
{
    CKzVariant v(L"x\x01y", L"s");
    const std::wstring wide = SaveWide(v);
    EXPECT_NE(wide.find(std::wstring(L"x") + (wchar_t)0xDB80 + (wchar_t)0xDC01 + L"y"), std::wstring::npos);
    const std::string utf8 = SaveUTF8(v);
    EXPECT_NE(utf8.find("x\xF3\xB0\x80\x81y"), std::string::npos);   // U+F0001
    CKzVariant back;
    ASSERT_EQ(LoadUTF8(back, utf8), 0);
    EXPECT_EQ(W(back.GetCKzStringW()), L"x\x01y");
    ASSERT_EQ(LoadWide(back, wide), 0);
    EXPECT_EQ(W(back.GetCKzStringW()), L"x\x01y");

    // Characters no XML text may hold, and the private-use characters the
    // escapes borrow, come back as they were.
    std::wstring odd;
    for (u32 c : {0x1Fu, 0x7Fu, 0xD800u, 0xDFFFu, 0xFFFEu, 0xFFFFu, 0xF0000u, 0xF0001u, 0xF0009u, 0xF001Fu,
                  0xF0020u, 0xF00FFu, 0x10FFFFu, 0x110000u})
        odd.push_back((wchar_t)c);
    CKzVariant o(CKzStringW(odd.c_str()), L"o");
    for (int form = 0; form < 2; ++form) {
        CKzVariant b;
        ASSERT_EQ(form ? LoadWide(b, SaveWide(o)) : LoadUTF8(b, SaveUTF8(o)), 0) << form;
        EXPECT_EQ(W(b.GetCKzStringW()), odd) << form;
    }
}

// Documents from writers that encode a control character c as the UTF-8 bytes
// of the two units U+DB80 and U+DC00 + c (six bytes) load, and give the same
// text as the wide form of the same pair; other surrogate bytes still fail.
TEST(XmlSerializer, SixByteControlEscapesLoad)
{
    struct Case {
        const char* bytes;    // inside the value attribute
        std::wstring expect;  // empty: the load must fail
    };
    const Case cases[] = {
        {"\xED\xAE\x80\xED\xB0\x81", L"\x01"},
        {"\xED\xAE\x80\xED\xB0\x9F", L"\x1F"},
        {"a\xED\xAE\x80\xED\xB0\x81" "b\xED\xAE\x80\xED\xB0\x9F" "c", L"a\x01" L"b\x1F" L"c"},
        {"\xED\xAE\x80\xED\xB0\x81\xED\xAE\x80\xED\xB0\x82", L"\x01\x02"},
        {"\xC3\xA9\xED\xAE\x80\xED\xB0\x8B\xE2\x82\xAC", L"\xE9\x0B\x20AC"},
        // A low unit past the control range gives the code point the pair
        // stands for, as UTF-16 readers decode it.
        {"\xED\xAE\x80\xED\xB1\x81", std::wstring(1, (wchar_t)0xF0041)},
        {"\xED\xAE\x80\xED\xBF\xBF", std::wstring(1, (wchar_t)0xF03FF)},
        // Other surrogate sequences.
        {"\xED\xA0\x80\xED\xB0\x80", L""},   // another high unit
        {"\xED\xAE\x80", L""},               // high unit alone
        {"\xED\xAE\x80" "A", L""},           // high unit, then a letter
        {"\xED\xB0\x81", L""},               // low unit alone
        {"\xED\xB0\x81\xED\xAE\x80", L""},   // reversed
        {"\xED\xAE\x80\xED\xAE\x80", L""},   // high then high
        {"\xED\xAE\x80\xED\xB0", L""},       // pair cut short
    };
    for (const Case& c : cases) {
        const std::string doc = kHead + "<s value=\"" + c.bytes + "\"/></variant>";
        CKzVariant v;
        const int rc = LoadUTF8(v, doc);
        if (c.expect.empty()) {
            EXPECT_EQ(rc, -9) << doc;
            continue;
        }
        ASSERT_EQ(rc, 0) << doc;
        EXPECT_EQ(W(v.GetCKzStringW()), c.expect) << doc;
    }
    // The same pairs in wide text, and a pair at the very end of the input.
    std::wstring wide = kHeadW + L"<s value=\"a";
    wide += (wchar_t)0xDB80;
    wide += (wchar_t)0xDC1F;
    wide += L"\"/></variant>";
    CKzVariant w;
    ASSERT_EQ(LoadWide(w, wide), 0);
    EXPECT_EQ(W(w.GetCKzStringW()), L"a\x1F");
    CKzVariant t;
    EXPECT_EQ(LoadUTF8(t, kHead + "<s value=\"x\"/></variant>\xED\xAE\x80\xED\xB0\x81"), -9);
    EXPECT_EQ(LoadUTF8(t, std::string("\xED\xAE\x80\xED\xB0\x81")), -9);
}

TEST(XmlSerializer, ReaderRules)
{
    CKzVariant v;
    // Root names compare without case; an empty list loads as a plain list.
    ASSERT_EQ(LoadUTF8(v, "<VARIANT VERSION=\"1.0\"><L runtype=\"CKzListVariant\"></L></VARIANT>"), 0);
    EXPECT_EQ(RT(v), "CKzListVariant");
    EXPECT_EQ(v.GetCount(), 0);
    EXPECT_EQ(W(v.GetName()), L"L");

    ASSERT_EQ(LoadUTF8(v, kHead + "<u runtype=\"unknown\" value=\"\"/></variant>"), 0);
    EXPECT_TRUE(v.IsUndefined());

    // Same-named siblings are both kept; a second top element is ignored.
    ASSERT_EQ(LoadUTF8(v, kHead + "<l runtype=\"CKzListVariant\"><a runtype=\"kz_int32\" value=\"1\"/>"
                                  "<a runtype=\"kz_int32\" value=\"2\"/></l><m runtype=\"kz_int32\" value=\"3\"/></variant>"), 0);
    ASSERT_EQ(v.GetCount(), 2);
    EXPECT_EQ(v[1].GetKz_int32(), 2);
    EXPECT_EQ(W(v.GetName()), L"l");

    // No run type: a string. An unknown run type: a plain list of its children.
    ASSERT_EQ(LoadUTF8(v, kHead + "<l runtype=\"Mystery\"><a value=\"t\"/><b runtype=\"Other\"><c runtype=\"bool\" value=\"true\"/></b></l></variant>"), 0);
    EXPECT_EQ(RT(v), "CKzListVariant");
    EXPECT_EQ(RT(v[L"a"]), "CKzStringW");
    EXPECT_EQ(W(v[L"a"].GetCKzStringW()), L"t");
    EXPECT_EQ(RT(v[L"b"]), "CKzListVariant");
    EXPECT_TRUE(v[L"b"][L"c"].GetBool());

    // A structure no host registered keeps its name.
    ASSERT_EQ(LoadUTF8(v, kHead + "<p runtype=\"RKzXmlUnreg\"><y runtype=\"double\" value=\"2\"/><x runtype=\"double\" value=\"1\"/></p></variant>"), 0);
    EXPECT_EQ(RT(v), "RKzXmlUnreg");
    ASSERT_EQ(v.GetCount(), 2);
    EXPECT_EQ(W(v[0].GetName()), L"y");

    // A root without an element leaves the target alone.
    CKzVariant keep((int)4, L"k");
    ASSERT_EQ(LoadUTF8(keep, kHead + "</variant>"), 0);
    EXPECT_EQ(keep.GetKz_int32(), 4);

    // Wrong root or version: -9 and an undefined target.
    CKzVariant t((int)4, L"k");
    EXPECT_EQ(LoadUTF8(t, "<other version=\"1.0\"><a value=\"x\"/></other>"), -9);
    EXPECT_TRUE(t.IsUndefined());
    t = (int)4;
    EXPECT_EQ(LoadUTF8(t, "<variant version=\"2.0\"><a value=\"x\"/></variant>"), -9);
    EXPECT_TRUE(t.IsUndefined());

    // The type-change flag of the target is restored.
    CKzVariant f;
    ASSERT_EQ(LoadUTF8(f, kHead + "<a runtype=\"kz_int32\" value=\"3\"/></variant>"), 0);
    EXPECT_FALSE(f.IsEnabledTypeChange());
    f.EnableTypeChange(true);
    ASSERT_EQ(LoadUTF8(f, kHead + "<a runtype=\"kz_int32\" value=\"3\"/></variant>"), 0);
    EXPECT_TRUE(f.IsEnabledTypeChange());
}

TEST(XmlSerializer, RegisteredStructureIsFilledByName)
{
    CKzVariant::RegisterRunType(List(L"RKzXmlPoint", {CKzVariant(0.0, L"x"), CKzVariant(0.0, L"y")}));
    CKzVariant v;
    ASSERT_EQ(LoadUTF8(v, kHead + "<p runtype=\"RKzXmlPoint\"><y runtype=\"double\" value=\"7\"/>"
                                  "<z runtype=\"double\" value=\"9\"><deep value=\"q\"/></z></p></variant>"), 0);
    EXPECT_EQ(RT(v), "RKzXmlPoint");
    ASSERT_EQ(v.GetCount(), 2);
    EXPECT_EQ(v[L"x"].GetDouble(), 0.0);
    EXPECT_EQ(v[L"y"].GetDouble(), 7.0);

    CKzVariant p(CKzVariantRunType("RKzXmlPoint"), L"p");
    p[L"x"] = 1.25;
    CKzVariant back;
    ASSERT_EQ(LoadUTF8(back, SaveUTF8(p)), 0);
    EXPECT_EQ(back, p);
}

TEST(XmlSerializer, MalformedAndHostileInput)
{
    CKzVariant v;
    testing::internal::CaptureStdout();
    EXPECT_EQ(LoadWide(v, kHeadW + L"<a runtype=\"kz_int32\" value=\"1\">"), -9);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("Error: CKzSerializerXMLString::VariantFromXML(); ", 0), 0u) << printed;
    EXPECT_NE(printed.find(" at line 1\n"), std::string::npos) << printed;

    EXPECT_EQ(LoadUTF8(v, ""), -9);
    EXPECT_EQ(LoadUTF8(v, "<variant version=\"1.0\"><a"), -9);
    EXPECT_EQ(LoadUTF8(v, kHead + "<s value=\"\xED\xAE\x80\"/></variant>"), -9);   // surrogate bytes

    // A temporary element of a scalar parent is freed on the error path too.
    EXPECT_EQ(LoadUTF8(v, kHead + "<a runtype=\"kz_int32\"><b runtype=\"CKzListVariant\"><c value=\"x\"/>"), -9);

    // Nesting is capped.
    auto nested = [](int depth) {
        std::string d = kHead;
        for (int i = 0; i < depth; ++i) d += "<n runtype=\"CKzListVariant\">";
        for (int i = 0; i < depth; ++i) d += "</n>";
        return d + "</variant>";
    };
    EXPECT_EQ(LoadUTF8(v, nested(KZ_VARIANT_MAX_DEPTH)), 0);
    EXPECT_EQ(LoadUTF8(v, nested(KZ_VARIANT_MAX_DEPTH + 1)), -9);
    EXPECT_EQ(LoadUTF8(v, nested(100000)), -9);

    // Documents of this form have no document type: entity tricks are refused.
    EXPECT_EQ(LoadUTF8(v, "<!DOCTYPE variant [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;\">]>"
                          "<variant version=\"1.0\"><s value=\"&b;\"/></variant>"), -9);

    // The raw forms and missing parameters.
    CKzSerializerXMLString s;
    const std::string doc = kHead + "<a runtype=\"kz_int32\" value=\"6\"/></variant>";
    CKzVariant params(CKzListVariant(), L"p");
    params.Append(CKzVariant((void*)doc.data(), L"rawStringUTF8"));
    EXPECT_EQ(s.Load(v, params), -9);   // no length
    params.Append(CKzVariant((unsigned)doc.size(), L"rawStringLen"));
    EXPECT_EQ(s.Load(v, params), 0);
    EXPECT_EQ(v.GetKz_int32(), 6);

    const std::wstring docW = L"<variant version=\"1.0\"><a runtype=\"kz_int32\" value=\"8\"/></variant>";
    CKzVariant pw(CKzListVariant(), L"p");
    pw.Append(CKzVariant((void*)docW.data(), L"rawString"));
    pw.Append(CKzVariant((unsigned)docW.size(), L"rawStringLen"));
    EXPECT_EQ(s.Load(v, pw), 0);
    EXPECT_EQ(v.GetKz_int32(), 8);

    CKzVariant none(CKzListVariant(), L"p");
    EXPECT_EQ(s.Load(v, none), -4);
    EXPECT_EQ(s.Save(none, v), -4);
}

// ---------------------------------------------------------------------------
// randomized round trip

class TreeMaker {
public:
    explicit TreeMaker(unsigned seed) : m_rng(seed) {}

    CKzVariant Make(int depth)
    {
        CKzVariant v;
        switch (Pick(depth < 4 ? 14 : 11)) {
        case 0: v = (int)m_rng(); break;
        case 1: v = (unsigned int)m_rng(); break;
        case 2: v = (long)(((u64)m_rng() << 32) | m_rng()); break;
        case 3: v = (unsigned long)(((u64)m_rng() << 32) | m_rng()); break;
        case 4: v = Double(); break;
        case 5: v = (bool)(m_rng() & 1); break;
        case 6: v = (void*)(uintptr_t)(Pick(3) ? ((u64)m_rng() << 16) | 8 : 0); break;
        case 7: case 8: v = Text(); break;
        case 9: v = Bytes(); break;
        case 10: break;   // undefined
        case 11: case 12: {
            v = CKzListVariant();
            const int n = Pick(6);
            for (int i = 0; i < n; ++i) v.Append(Make(depth + 1));
            break;
        }
        default: {
            // A structure that no host registered.
            v.EnableTypeChange(true);
            std::wstring t = L"RKzRandom" + std::to_wstring(Pick(4));
            std::string nt(t.begin(), t.end());
            EXPECT_EQ(v.SetRunType(CKzVariantRunType(nt.c_str())), 0);
            v.EnableTypeChange(false);
            const int n = Pick(5);
            for (int i = 0; i < n; ++i) {
                CKzVariant m = Make(depth + 1);
                v[(L"m" + std::to_wstring(i)).c_str()] = m;
            }
            break;
        }
        }
        v.SetName(Name());
        return v;
    }

private:
    int Pick(int n) { return (int)(m_rng() % (unsigned)n); }

    CKzStringW Name()
    {
        static const wchar_t* names[] = {L"a", L"b", L"dup", L"dup", L"1st", L"caf\u00e9", L"", L"x y",
                                         L"Long.Name-with_parts", L"\U0001F600", L"no_name", L"xml_like"};
        return CKzStringW(names[Pick(12)]);
    }

    double Double()
    {
        switch (Pick(6)) {
        case 0: return (double)(int)m_rng() / 7.0;
        case 1: return std::numeric_limits<double>::quiet_NaN();
        case 2: return Pick(2) ? std::numeric_limits<double>::infinity() : -std::numeric_limits<double>::infinity();
        case 3: return 0.1 * Pick(100);
        default: {
            u64 bits = ((u64)m_rng() << 32) | m_rng();
            double d;
            std::memcpy(&d, &bits, 8);
            return std::isnan(d) ? 0.5 : d;
        }
        }
    }

    CKzStringW Text()
    {
        static const u32 specials[] = {'<', '>', '"', '\'', '&', '#', '\t', '\r', '\n', 0x01, 0x1F, 0x7F,
                                       0xE9, 0x20AC, 0xFFFD, 0xFFFE, 0xD800, 0x1F600, 0x10FFFF, 0xF0001,
                                       0xF00FF, 0xDB80, 0xDC01, ' '};
        static const wchar_t* pieces[] = {L"&#", L"&#x41;", L"&amp;", L"&#x003C;", L"]]>", L"<!--", L"\U00020000"};
        std::wstring t;
        const int n = Pick(12);
        for (int i = 0; i < n; ++i) {
            switch (Pick(4)) {
            case 0: t.push_back((wchar_t)(L'a' + Pick(26))); break;
            case 1: t += pieces[Pick(7)]; break;
            default: t.push_back((wchar_t)specials[Pick(24)]); break;
            }
        }
        return CKzStringW(t.c_str());
    }

    CKzByteArray Bytes()
    {
        unsigned char b[40];
        const int n = Pick(40);
        for (int i = 0; i < n; ++i) b[i] = (unsigned char)m_rng();
        return CKzByteArray(b, (unsigned long)n, 1024);
    }

    std::mt19937 m_rng;
};

// Stricter than operator==: names, order, run types and exact values.
void ExpectSame(const CKzVariant& a, const CKzVariant& b, const std::string& path)
{
    ASSERT_EQ(W(a.GetName()), W(b.GetName())) << path;
    ASSERT_EQ(RT(a), RT(b)) << path;
    ASSERT_EQ(a.GetCount(), b.GetCount()) << path;
    if (a.GetCount() >= 0) {
        for (int i = 0; i < a.GetCount(); ++i) ExpectSame(a[i], b[i], path + "/" + std::to_string(i));
        return;
    }
    if (RT(a) == "double") {
        const double x = a.GetDouble(), y = b.GetDouble();
        if (std::isnan(x)) EXPECT_TRUE(std::isnan(y)) << path;
        else EXPECT_EQ(std::memcmp(&x, &y, 8), 0) << path << " " << x << " " << y;
        return;
    }
    EXPECT_EQ(W(a.GetCKzStringW()), W(b.GetCKzStringW())) << path;
}

TEST(XmlSerializer, RandomTreesRoundTrip)
{
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE(seed);
        TreeMaker maker(seed);
        CKzVariant tree = maker.Make(0);

        CKzVariant fromUTF8;
        const std::string doc = SaveUTF8(tree);
        ASSERT_EQ(LoadUTF8(fromUTF8, doc), 0) << doc;
        EXPECT_TRUE(fromUTF8 == tree);
        ExpectSame(tree, fromUTF8, "");

        CKzVariant fromWide;
        ASSERT_EQ(LoadWide(fromWide, SaveWide(tree)), 0);
        EXPECT_TRUE(fromWide == tree);
        ExpectSame(tree, fromWide, "");
        if (HasFatalFailure()) return;
    }
}

TEST(XmlSerializer, UnregisteredStructureRoundTrips)
{
    // What a saver builds for a structure no host registered.
    CKzVariant v;
    v.EnableTypeChange(true);
    ASSERT_EQ(v.SetRunType(CKzVariantRunType("RKzXmlSaved")), 0);
    v[L"wavelength"] = 488.0;
    v[L"name"] = CKzStringW(L"GFP\t<1>");
    v[L"count"] = (int)3;
    CKzVariant nested;
    nested.EnableTypeChange(true);
    nested.SetRunType(CKzVariantRunType("RKzXmlSaved.RKzPart"));
    nested[L"on"] = true;
    v[L"part"] = nested;

    const std::string doc = SaveUTF8(v);
    EXPECT_NE(doc.find("<no_name runtype=\"RKzXmlSaved\"><wavelength runtype=\"double\" value=\"488\"/>"), std::string::npos) << doc;
    CKzVariant back;
    ASSERT_EQ(LoadUTF8(back, doc), 0);
    EXPECT_EQ(back, v);
    ExpectSame(v, back, "");
    EXPECT_EQ(RT(back[L"part"]), "RKzXmlSaved.RKzPart");
    EXPECT_EQ(CKzVariant::GetRunTypeIndex(CKzVariantRunType("RKzXmlSaved")), -1);
}

} // namespace
