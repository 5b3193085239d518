#include "gnr_system/KzTextConv.h"
#include "text_test_support.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {
using kztest::W;
using kztest::A;
base::string16 U16(std::initializer_list<unsigned short> units) { return base::string16(units.begin(), units.end()); }
}  // namespace

// ---------------------------------------------------------------------------
// CKzStringUtils: UTF-8
// ---------------------------------------------------------------------------

TEST(CKzStringUtils, WtoUTF8)
{
    struct Case { std::wstring in; std::string out; bool ok; } cases[] = {
        {L"abc", "abc", true},
        {L"\u00e9", "\xc3\xa9", true},
        {L"\u20ac", "\xe2\x82\xac", true},
        {std::wstring(1, wchar_t(0x1F600)), "\xf0\x9f\x98\x80", true},
        {std::wstring(1, wchar_t(0x10FFFF)), "\xf4\x8f\xbf\xbf", true},
        {std::wstring(1, wchar_t(0xD800)), "\xed\xa0\x80", true},  // surrogates are encoded like any other
        {std::wstring(1, wchar_t(0x110000)), "!", false},
        {std::wstring(L"a") + wchar_t(-5) + L"b", "a!b", false},
        {L"", "", true},
    };
    for (const auto& c : cases) {
        CKzStringA out("stale");
        EXPECT_EQ(CKzStringUtils::WtoUTF8(c.in.c_str(), out), c.ok) << c.out;
        EXPECT_EQ(A(out), c.out);
    }
    // Longer than the internal chunk: nothing lost at the seams.
    std::wstring big;
    std::string want;
    for (int i = 0; i < 1000; ++i) {
        big += L"x\u00e9\u20ac";
        want += "x\xc3\xa9\xe2\x82\xac";
    }
    CKzStringA out;
    EXPECT_TRUE(CKzStringUtils::WtoUTF8(big.c_str(), out));
    EXPECT_EQ(A(out), want);
}

TEST(CKzStringUtils, UTF8toW)
{
    struct Case { const char* in; std::wstring out; bool ok; } cases[] = {
        {"abc", L"abc", true},
        {"\xc3\xa9", L"\u00e9", true},
        {"\xf0\x9f\x98\x80", std::wstring(1, wchar_t(0x1F600)), true},
        {"\xa9", L"", false},          // continuation byte with no sequence open
        {"\xc3", L"", false},          // input ends inside a sequence
        {"\xe2\x82", L"", false},
        {"a\xa9z", L"az", false},
        // A broken sequence must not leak into the next character.
        {"\xe2\x82" "A", L"A", false},
        {"\xe2\xc3\xa9", L"\u00e9", false},
        {"\xf0\x9f\xc3\xa9x", L"\u00e9x", false},
        {"a\xf8\xff" "b", L"ab", true},  // bytes that start no sequence are skipped
        {"a\xc0\x80" "b", L"ab", true},    // an overlong 0 never cuts the text
    };
    for (const auto& c : cases) {
        CKzStringW out(L"stale");
        EXPECT_EQ(CKzStringUtils::UTF8toW(c.in, out), c.ok) << c.in;
        EXPECT_EQ(W(out), c.out) << c.in;
    }
    CKzStringW out;
    EXPECT_TRUE(CKzStringUtils::UTF8toW(nullptr, out));
    EXPECT_EQ(W(out), L"");
}

TEST(CKzStringUtils, UTF8toWn)
{
    CKzStringW out;
    EXPECT_FALSE(CKzStringUtils::UTF8toWn("\xc3\xa9", out, 1));  // the limit cuts the sequence
    EXPECT_EQ(W(out), L"");
    EXPECT_TRUE(CKzStringUtils::UTF8toWn("\xc3\xa9xyz", out, 3));
    EXPECT_EQ(W(out), L"\u00e9x");
    EXPECT_TRUE(CKzStringUtils::UTF8toWn("ab\0cd", out, 5));  // stops at a 0 byte
    EXPECT_EQ(W(out), L"ab");
    EXPECT_TRUE(CKzStringUtils::UTF8toWn("abc", out, 0));
    EXPECT_EQ(W(out), L"");
    // Round trip of a long mixed text.
    std::wstring big;
    for (int i = 0; i < 2000; ++i) big += wchar_t(0x20 + (i * 37) % 0x2FFF);
    CKzStringA utf8;
    ASSERT_TRUE(CKzStringUtils::WtoUTF8(big.c_str(), utf8));
    ASSERT_TRUE(CKzStringUtils::UTF8toWn(utf8.GetString(), out, (unsigned)utf8.GetLength()));
    EXPECT_EQ(W(out), big);
}

// ---------------------------------------------------------------------------
// CKzStringUtils: UTF-16
// ---------------------------------------------------------------------------

TEST(CKzStringUtils, WtoUTF16)
{
    const wchar_t text[] = {L'A', wchar_t(0x1F600), L'B', 0};
    int count = -1;
    EXPECT_TRUE(CKzStringUtils::WtoUTF16(text, nullptr, count));
    EXPECT_EQ(count, 4);
    unsigned short buf[8] = {};
    count = 8;
    EXPECT_TRUE(CKzStringUtils::WtoUTF16(text, buf, count));
    EXPECT_EQ(count, 4);
    EXPECT_EQ(std::vector<unsigned short>(buf, buf + 4), (std::vector<unsigned short>{0x41, 0xD83D, 0xDE00, 0x42}));

    const wchar_t smile[] = {wchar_t(0x1F600), 0};
    unsigned short one[2] = {0x7777, 0x7777};
    count = 1;
    EXPECT_FALSE(CKzStringUtils::WtoUTF16(smile, one, count));  // the pair does not fit
    EXPECT_EQ(one[0], 0x7777);
    count = -3;
    EXPECT_FALSE(CKzStringUtils::WtoUTF16(smile, one, count));

    const wchar_t skip[] = {L'a', wchar_t(0x110000), L'b', 0};
    count = 8;
    EXPECT_TRUE(CKzStringUtils::WtoUTF16(skip, buf, count));  // characters above U+10FFFF are skipped
    EXPECT_EQ(count, 2);
    EXPECT_FALSE(CKzStringUtils::WtoUTF16(skip, nullptr, count));
}

TEST(CKzStringUtils, UTF16toW)
{
    const unsigned short pair[] = {0xD83D, 0xDE00, 0};
    CKzStringW out;
    EXPECT_TRUE(CKzStringUtils::UTF16toW(pair, 2, out));
    EXPECT_EQ(W(out), std::wstring(1, wchar_t(0x1F600)));
    EXPECT_TRUE(CKzStringUtils::UTF16toW(pair, -1, out));
    EXPECT_EQ(out.GetLength(), 1);

    const unsigned short lowAlone[] = {0x41, 0xDE00, 0x42, 0};
    EXPECT_FALSE(CKzStringUtils::UTF16toW(lowAlone, -1, out));
    EXPECT_EQ(W(out), L"A");  // what came before stays
    const unsigned short highLast[] = {0x41, 0xD83D};
    EXPECT_FALSE(CKzStringUtils::UTF16toW(highLast, 2, out));
    EXPECT_EQ(W(out), L"A");
    const unsigned short highThenA[] = {0xD83D, 0x41, 0};
    EXPECT_FALSE(CKzStringUtils::UTF16toW(highThenA, -1, out));
    const unsigned short exact[] = {0x61, 0x62, 0x63};  // no terminator: count says where it ends
    EXPECT_TRUE(CKzStringUtils::UTF16toW(exact, 2, out));
    EXPECT_EQ(W(out), L"ab");
    EXPECT_FALSE(CKzStringUtils::UTF16toW(exact, -2, out));
    EXPECT_FALSE(CKzStringUtils::UTF16toW(nullptr, 3, out));
}

// ---------------------------------------------------------------------------
// CKzStringUtils: numbers and small services
// ---------------------------------------------------------------------------

TEST(CKzStringUtils, ToNumber)
{
    int i = 77;
    unsigned u = 77;
    EXPECT_TRUE(CKzStringUtils::ToNumber(CKzStringW(L"-12"), i));
    EXPECT_EQ(i, -12);
    EXPECT_TRUE(CKzStringUtils::ToNumber(CKzStringW(L"  34xyz"), u));
    EXPECT_EQ(u, 34u);
    i = 77;
    u = 77;
    EXPECT_TRUE(CKzStringUtils::ToNumber(CKzStringW(L"none"), i));
    EXPECT_TRUE(CKzStringUtils::ToNumber(CKzStringW(L""), u));
    EXPECT_EQ(i, 77);  // wide: unchanged when nothing parses
    EXPECT_EQ(u, 77u);
    EXPECT_TRUE(CKzStringUtils::ToNumber(CKzStringA("none"), i));
    EXPECT_TRUE(CKzStringUtils::ToNumber(CKzStringA("none"), u));
    EXPECT_EQ(i, 0);  // narrow: 0 when nothing parses
    EXPECT_EQ(u, 0u);
    EXPECT_TRUE(CKzStringUtils::ToNumber(CKzStringA("56"), u));
    EXPECT_EQ(u, 56u);
}

TEST(CKzStringUtils, LengthsCopyAndStubs)
{
    const unsigned short u16[] = {1, 2, 3, 0};
    EXPECT_EQ(CKzStringUtils::GetWStringLen(L"abcd"), 4);
    EXPECT_EQ(CKzStringUtils::GetWStringLen(u16), 3);
    EXPECT_EQ(CKzStringUtils::GetWStringLen(static_cast<const wchar_t*>(nullptr)), 0);
    wchar_t dst[8];
    std::wmemset(dst, L'#', 8);
    CKzStringUtils::WStringCopy(dst, L"abcdef", 3);
    EXPECT_STREQ(dst, L"abc");
    CKzStringUtils::WStringCopy(dst, L"ab", 5);
    EXPECT_STREQ(dst, L"ab");
    CKzStringUtils::WStringCopy(dst, L"ab", -1);
    EXPECT_STREQ(dst, L"");
    CKzStringUtils::Initialize();
    CKzStringUtils::Uninitialize();
    EXPECT_TRUE(CKzStringUtils::GuessEncoding(CKzStringW(L"x")).IsEmpty());
    EXPECT_TRUE(CKzStringUtils::GuessEncoding("x", 1).IsEmpty());
    CKzStringA a;
    CKzStringW w;
    EXPECT_FALSE(CKzStringUtils::Wide2Binary(L"x", a, "latin1"));
    EXPECT_FALSE(CKzStringUtils::Binary2Wide("x", 1, w, "latin1"));
}

// ---------------------------------------------------------------------------
// Tokenizer
// ---------------------------------------------------------------------------

TEST(CKzStringTokenizer, SplitsAtEveryDelimiter)
{
    CKzStringTokenizer t(L"a,b,,c", L",");
    EXPECT_EQ(t.Size(), 4);
    std::vector<std::wstring> tokens;
    while (t.HasMoreTokens()) tokens.push_back(W(t.GetNextToken()));
    EXPECT_EQ(tokens, (std::vector<std::wstring>{L"a", L"b", L"", L"c"}));
    EXPECT_EQ(t.GetPosition(), 6);
    EXPECT_EQ(W(t.GetToken(0)), L"a");
    EXPECT_EQ(W(t.GetToken(2)), L"");
    EXPECT_EQ(W(t.GetToken(3)), L"c");
    EXPECT_EQ(W(t.GetToken(5)), L"");
    EXPECT_EQ(W(t.GetToken(-1)), L"");

    CKzStringTokenizer d(L"2024-05/17", L"-/");
    EXPECT_EQ(d.Size(), 3);
    EXPECT_EQ(W(d.GetNextToken()), L"2024");
    EXPECT_EQ(d.GetPosition(), 5);
    EXPECT_EQ(W(d.GetNextToken()), L"05");
    EXPECT_EQ(W(d.GetNextToken()), L"17");
    EXPECT_FALSE(d.HasMoreTokens());
    EXPECT_EQ(W(d.GetNextToken()), L"");

    CKzStringTokenizer trailing(L"a,", L",");
    EXPECT_EQ(trailing.Size(), 2);
    EXPECT_EQ(W(trailing.GetToken(1)), L"");
    CKzStringTokenizer empty(L"", L",");
    EXPECT_EQ(empty.Size(), 0);
    EXPECT_FALSE(empty.HasMoreTokens());
    CKzStringTokenizer nulls(nullptr, nullptr);
    EXPECT_EQ(nulls.Size(), 0);
}

// ---------------------------------------------------------------------------
// Strict conversions
// ---------------------------------------------------------------------------

TEST(BaseConversions, WideAndUtf16)
{
    const std::wstring w = std::wstring(L"A\u00e9") + wchar_t(0x1F600);
    const base::string16 u = base::WideToUTF16(w);
    EXPECT_EQ(u, U16({0x41, 0xE9, 0xD83D, 0xDE00}));
    EXPECT_EQ(base::UTF16ToWide(u), w);
    std::wstring out;
    const base::string16 broken = U16({0xD83D, 0x41});
    EXPECT_FALSE(base::UTF16ToWide(broken.data(), broken.size(), &out));
    EXPECT_EQ(out, L"\uFFFDA");
    const base::string16 lone = U16({0xDE00});
    EXPECT_FALSE(base::UTF16ToWide(lone.data(), lone.size(), &out));
    EXPECT_EQ(out, L"\uFFFD");
    base::string16 o16;
    const std::wstring bad = std::wstring(1, wchar_t(0xD800)) + wchar_t(0x110000) + L"z";
    EXPECT_FALSE(base::WideToUTF16(bad.data(), bad.size(), &o16));
    EXPECT_EQ(o16, U16({0xFFFD, 0xFFFD, 0x7A}));
    EXPECT_EQ(base::c16len(u.c_str()), 4u);
}

TEST(BaseConversions, Utf8Strictness)
{
    struct Case { std::string in; std::wstring out; bool ok; } cases[] = {
        {"ab\xc3\xa9", L"ab\u00e9", true},
        {"\xf0\x9f\x98\x80", std::wstring(1, wchar_t(0x1F600)), true},
        {"\xc0\x80", L"\uFFFD", false},                 // overlong
        {"\xe0\x80\xaf", L"\uFFFD", false},             // overlong three bytes
        {"\xed\xa0\x80", L"\uFFFD", false},             // surrogate
        {"\xf4\x90\x80\x80", L"\uFFFD", false},         // above U+10FFFF
        {"\x80z", L"\uFFFDz", false},                   // stray continuation
        {"\xfe\xff", L"\uFFFD\uFFFD", false},
        {"\xc3z", L"\uFFFDz", false},                   // trail missing: z survives
        {"\xe2\x82", L"\uFFFD", false},                 // runs past the end
        {"\xf8\x88\x80\x80\x80z", L"\uFFFDz", false},   // five-byte form consumes its trail bytes
        {std::string("a\0b", 3), std::wstring(L"a\0b", 3), true},
    };
    for (const auto& c : cases) {
        std::wstring out;
        EXPECT_EQ(base::UTF8ToWide(c.in.data(), c.in.size(), &out), c.ok) << c.in;
        EXPECT_EQ(out, c.out) << c.in;
    }
    EXPECT_EQ(base::UTF8ToWide(base::StringPiece("x\xc3\xa9")), L"x\u00e9");
    EXPECT_EQ(base::WideToUTF8(L"x\u00e9"), "x\xc3\xa9");
    std::string o8;
    const std::wstring bad(1, wchar_t(0xDC00));
    EXPECT_FALSE(base::WideToUTF8(bad.data(), bad.size(), &o8));
    EXPECT_EQ(o8, "\xef\xbf\xbd");
    EXPECT_EQ(base::UTF16ToUTF8(U16({0xD83D, 0xDE00})), "\xf0\x9f\x98\x80");
    EXPECT_EQ(base::UTF8ToUTF16("\xf0\x9f\x98\x80"), U16({0xD83D, 0xDE00}));
    base::string16 none;
    EXPECT_FALSE(base::UTF8ToUTF16(nullptr, 3, &none));  // a null source with a length
    EXPECT_TRUE(base::UTF8ToUTF16(nullptr, 0, &none));
}

TEST(BaseConversions, ReadAndWriteUnicodeCharacter)
{
    const char* s = "\xc3\xa9x";
    int32_t i = 0;
    uint32_t cp = 0;
    EXPECT_TRUE(base::ReadUnicodeCharacter(s, 3, &i, &cp));
    EXPECT_EQ(cp, 0xE9u);
    EXPECT_EQ(i, 1);  // on the last byte consumed
    i = 5;
    EXPECT_FALSE(base::ReadUnicodeCharacter(s, 3, &i, &cp));  // index outside the input
    std::string out;
    EXPECT_EQ(base::WriteUnicodeCharacter(0x1F600, &out), 4u);
    base::string16 o16;
    EXPECT_EQ(base::WriteUnicodeCharacter(0x1F600, &o16), 2u);
    EXPECT_EQ(base_icu::utf8_countTrailBytes[0xC3], 1);
    EXPECT_EQ(base_icu::utf8_countTrailBytes[0xF0], 3);
    const uint8_t seq[] = {0xE2, 0x82, 0xAC};
    int32_t pi = 1;
    EXPECT_EQ(base_icu::utf8_nextCharSafeBody(seq, &pi, 3, 0xE2, -1), 0x20AC);
    EXPECT_EQ(pi, 3);
    pi = 1;
    EXPECT_EQ(base_icu::utf8_nextCharSafeBody(seq, &pi, 2, 0xE2, -1), -1);
}

TEST(BaseConversions, C16Helpers)
{
    const base::char16 a[] = {1, 2, 0xFFFF, 0};
    const base::char16 b[] = {1, 2, 3, 0};
    EXPECT_EQ(base::c16memcmp(a, b, 2), 0);
    EXPECT_EQ(base::c16memcmp(a, b, 3), 1);  // unsigned comparison
    EXPECT_EQ(base::c16memcmp(b, a, 3), -1);
    EXPECT_EQ(base::c16memchr(a, 0xFFFF, 3), a + 2);
    EXPECT_EQ(base::c16memchr(a, 7, 3), nullptr);
    base::char16 buf[4];
    base::c16memset(buf, 9, 4);
    EXPECT_EQ(buf[3], 9);
    base::c16memcpy(buf, a, 3);
    base::c16memmove(buf + 1, buf, 3);
    EXPECT_EQ(buf[1], 1);
    EXPECT_EQ(buf[3], 0xFFFF);
    std::ostringstream os;
    os << U16({0x41, 0xE9}) << "|" << base::StringPiece("pie");
    EXPECT_EQ(os.str(), "A\xc3\xa9|pie");
}

TEST(StringPiece, Operations)
{
    using base::StringPiece;
    const StringPiece p("hello world");
    const auto npos = StringPiece::npos;
    EXPECT_TRUE(p == StringPiece("hello world"));
    EXPECT_TRUE(p != StringPiece("hello"));
    std::string s = "x";
    p.AppendToString(&s);
    EXPECT_EQ(s, "xhello world");
    p.CopyToString(&s);
    EXPECT_EQ(s, "hello world");
    char buf[8] = {};
    EXPECT_EQ(p.copy(buf, 5, 6), 5u);
    EXPECT_EQ(std::string(buf, 5), "world");
    EXPECT_EQ(p.copy(buf, 5, 11), 0u);
    EXPECT_EQ(p.substr(6).as_string(), "world");
    EXPECT_EQ(p.substr(20, 2).size(), 0u);
    EXPECT_EQ(p.find('o'), 4u);
    EXPECT_EQ(p.find('o', 5), 7u);
    EXPECT_EQ(p.find("wor"), 6u);
    EXPECT_EQ(p.find("xyz"), npos);
    EXPECT_EQ(p.find(""), 0u);
    EXPECT_EQ(p.find("", 11), 11u);
    EXPECT_EQ(p.find("", 12), npos);
    EXPECT_EQ(p.rfind('o'), 7u);
    EXPECT_EQ(p.rfind('o', 6), 4u);
    EXPECT_EQ(p.rfind("o"), 7u);
    EXPECT_EQ(p.rfind("hello", 3), 0u);
    EXPECT_EQ(p.rfind(""), 11u);
    EXPECT_EQ(p.rfind("", 3), 3u);
    EXPECT_EQ(p.find_first_of("ow"), 4u);
    EXPECT_EQ(p.find_first_of("w"), 6u);
    EXPECT_EQ(p.find_first_of(""), npos);
    EXPECT_EQ(p.find_first_not_of("hel"), 4u);
    EXPECT_EQ(p.find_first_not_of("", 5), 0u);
    EXPECT_EQ(p.find_first_not_of('h'), 1u);
    EXPECT_EQ(p.find_last_of("lo"), 9u);
    EXPECT_EQ(p.find_last_of("lo", 5), 4u);
    EXPECT_EQ(p.find_last_of(""), npos);
    EXPECT_EQ(p.find_last_not_of("dl"), 8u);
    EXPECT_EQ(p.find_last_not_of(""), 10u);
    EXPECT_EQ(p.find_last_not_of("", 3), 3u);
    EXPECT_EQ(p.find_last_not_of('d'), 9u);
    const StringPiece e;
    EXPECT_EQ(e.find('a'), npos);
    EXPECT_EQ(e.find_first_not_of(""), npos);
    EXPECT_EQ(e.find_last_not_of("a"), npos);
    EXPECT_EQ(e.rfind('a'), npos);
}
