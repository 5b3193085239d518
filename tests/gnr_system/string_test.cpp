#include "gnr_system/CKzString.h"
#include "text_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <clocale>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

// Runs a test body under a given LC_CTYPE and restores the previous one.
class LocaleScope {
public:
    explicit LocaleScope(const char* name)
    {
        const char* cur = std::setlocale(LC_CTYPE, nullptr);
        m_old = cur ? cur : "C";
        m_ok = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~LocaleScope() { std::setlocale(LC_CTYPE, m_old.c_str()); }
    bool ok() const { return m_ok; }

private:
    std::string m_old;
    bool m_ok;
};

using kztest::W;
using kztest::A;

}  // namespace

// ---------------------------------------------------------------------------
// Construction, sharing, copy on write
// ---------------------------------------------------------------------------

TEST(CKzStringW, EmptyStringsShareOneBufferAndAllocateNothing)
{
    CKzStringW a, b, c(0), d(-5), e(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(a.GetString(), b.GetString());
    EXPECT_EQ(a.GetString(), c.GetString());
    EXPECT_EQ(a.GetString(), d.GetString());
    EXPECT_EQ(a.GetString(), e.GetString());
    EXPECT_NE(a.GetString(), nullptr);
    EXPECT_EQ(a.GetLength(), 0);
    EXPECT_TRUE(a.IsEmpty());
    EXPECT_EQ(a.GetBufferLength(), 15);
    EXPECT_EQ(a.GetString()[0], L'\0');
}

TEST(CKzStringA, EmptyStringsShareOneBufferAndAllocateNothing)
{
    CKzStringA a, b, c(0), d(static_cast<const char*>(nullptr)), e(static_cast<const wchar_t*>(nullptr));
    EXPECT_EQ(a.GetString(), b.GetString());
    EXPECT_EQ(a.GetString(), c.GetString());
    EXPECT_EQ(a.GetString(), d.GetString());
    EXPECT_EQ(a.GetString(), e.GetString());
    EXPECT_EQ(a.GetBufferLength(), 15);
    EXPECT_STREQ(a.GetString(), "");
}

TEST(CKzStringW, CopiesShareUntilOneChanges)
{
    CKzStringW a(L"hello");
    CKzStringW b = a;
    EXPECT_EQ(a.GetString(), b.GetString());
    b.AddChar(L'!');
    EXPECT_EQ(W(a), L"hello");
    EXPECT_EQ(W(b), L"hello!");
    EXPECT_NE(a.GetString(), b.GetString());

    CKzStringW c;
    c = a;
    EXPECT_EQ(c.GetString(), a.GetString());
    c.SetAt(0, L'j');
    EXPECT_EQ(W(a), L"hello");
    EXPECT_EQ(W(c), L"jello");
}

TEST(CKzStringA, CopiesShareUntilOneChanges)
{
    CKzStringA a("hello");
    CKzStringA b(a);
    EXPECT_EQ(a.GetString(), b.GetString());
    b.MakeUpper();
    EXPECT_EQ(A(a), "hello");
    EXPECT_EQ(A(b), "HELLO");
}

TEST(CKzStringW, ConstructionForms)
{
    EXPECT_EQ(W(CKzStringW(L"abc", 2)), L"abc");  // a reservation, never a limit
    EXPECT_GE(CKzStringW(L"abc", 100).GetBufferLength(), 100);
    const unsigned short units[] = {0x41, 0xE9, 0xD83D, 0xDE00, 0};
    CKzStringW u(units);
    ASSERT_EQ(u.GetLength(), 4);  // each unit is one character, surrogates not paired
    EXPECT_EQ(u[1], 0xE9);
    EXPECT_EQ(u[2], 0xD83D);
    EXPECT_EQ(W(CKzStringW(static_cast<const unsigned short*>(nullptr))), L"");
    EXPECT_EQ(W(CKzStringW("plain")), L"plain");
    EXPECT_EQ(A(CKzStringA(L"plain")), "plain");
}

TEST(CKzStringW, AssignmentForms)
{
    CKzStringW s(L"start");
    s = L"wide";
    EXPECT_EQ(W(s), L"wide");
    s = "narrow";
    EXPECT_EQ(W(s), L"narrow");
    s = L'x';
    EXPECT_EQ(W(s), L"x");
    s = 'y';
    EXPECT_EQ(W(s), L"y");
    s = static_cast<const wchar_t*>(nullptr);
    EXPECT_EQ(W(s), L"");
    CKzStringW t(L"moved");
    s = std::move(t);
    EXPECT_EQ(W(s), L"moved");
    s = s;
    EXPECT_EQ(W(s), L"moved");
}

// ---------------------------------------------------------------------------
// Capacity ladder
// ---------------------------------------------------------------------------

TEST(CKzStringW, CapacityLadder)
{
    EXPECT_EQ(CKzStringW(1).GetBufferLength(), 15);
    EXPECT_EQ(CKzStringW(15).GetBufferLength(), 15);
    EXPECT_EQ(CKzStringW(16).GetBufferLength(), 31);
    EXPECT_EQ(CKzStringW(100).GetBufferLength(), 127);

    CKzStringW s;
    for (int i = 0; i < 15; ++i) s.AddChar(L'a');
    EXPECT_EQ(s.GetBufferLength(), 15);
    s.AddChar(L'a');
    EXPECT_EQ(s.GetBufferLength(), 31);
    // Growing by single characters walks the powers of two.
    std::vector<int> seen;
    int last = s.GetBufferLength();
    for (int i = 0; i < 600; ++i) {
        s.AddChar(L'b');
        if (s.GetBufferLength() != last) seen.push_back(last = s.GetBufferLength());
    }
    EXPECT_EQ(seen, (std::vector<int>{63, 127, 255, 511, 1023}));
    EXPECT_EQ(s.GetLength(), 616);
    EXPECT_EQ(s.GetString()[616], L'\0');

    CKzStringW big;
    big.AddString(std::wstring(16, L'x').c_str());
    EXPECT_EQ(big.GetBufferLength(), 31);
}

TEST(CKzStringA, CapacityLadder)
{
    EXPECT_EQ(CKzStringA(1).GetBufferLength(), 15);
    CKzStringA s;
    s += "123456789012345";
    EXPECT_EQ(s.GetBufferLength(), 15);
    s += "6";
    EXPECT_EQ(s.GetBufferLength(), 31);
    s.Reset();
    EXPECT_EQ(s.GetBufferLength(), 15);
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_NE(s.GetString(), CKzStringA().GetString());  // a private buffer
}

TEST(CKzStringW, EmptyKeepsCapacityAndPreallocateReserves)
{
    CKzStringW s(std::wstring(40, L'q').c_str());
    const int cap = s.GetBufferLength();
    const wchar_t* block = s.GetString();
    s.Empty();  // private: the buffer and its capacity stay for the next text
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.GetBufferLength(), cap);
    EXPECT_EQ(s.GetString(), block);
    EXPECT_EQ(s.GetString()[0], 0);

    s = L"again";
    CKzStringW shared = s;
    s.Empty();  // shared: the other copy keeps the text, s takes the empty text
    EXPECT_EQ(s.GetLength(), 0);
    EXPECT_EQ(s.GetString(), CKzStringW().GetString());
    EXPECT_EQ(W(shared), L"again");

    CKzStringW p;
    wchar_t* raw = p.Preallocate(200);
    ASSERT_NE(raw, nullptr);
    EXPECT_GE(p.GetBufferLength(), 200);
    EXPECT_NE(raw, CKzStringW().GetString());
}

// ---------------------------------------------------------------------------
// Appending, including text that lies inside the string itself
// ---------------------------------------------------------------------------

TEST(CKzStringW, AppendToItself)
{
    CKzStringW s(L"ab");
    s += s;
    EXPECT_EQ(W(s), L"abab");
    s += s.GetString();
    EXPECT_EQ(W(s), L"abababab");
    s.AddChars(s.GetString() + 2, 3);
    EXPECT_EQ(W(s), L"abababababa");
    // Force reallocation while appending a piece of the own text.
    CKzStringW t(std::wstring(15, L'z').c_str());
    t.AddString(t.GetString() + 1);
    EXPECT_EQ(W(t), std::wstring(29, L'z'));
    CKzStringW u(L"xy");
    u = u.GetString() + 1;
    EXPECT_EQ(W(u), L"y");
}

TEST(CKzStringA, AppendToItself)
{
    CKzStringA s("ab");
    s += s;
    EXPECT_EQ(A(s), "abab");
    s += s.GetString();
    EXPECT_EQ(A(s), "abababab");
    CKzStringA t(std::string(15, 'z').c_str());
    t.AddString(t.GetString() + 1);
    EXPECT_EQ(A(t), std::string(29, 'z'));
}

TEST(CKzStringW, OwnTextAsArgumentOfEveryChange)
{
    CKzStringW s(L"hello world");
    s.Insert(s.GetString() + 6, 0);
    EXPECT_EQ(W(s), L"worldhello world");
    s.ReplaceAt(0, 5, s.GetString() + 10);
    EXPECT_EQ(W(s), L" worldhello world");
    CKzStringW r(L"aXa");
    r.Replace(r.GetString() + 1, r.GetString());  // old "Xa", new "aXa"
    EXPECT_EQ(W(r), L"aaXa");
    CKzStringW full(std::wstring(15, L'g').c_str());  // full: inserting must move the buffer
    full.Insert(full.GetString() + 10, 0);
    EXPECT_EQ(W(full), std::wstring(20, L'g'));
    CKzStringA h("0123456789abcde");
    h.Insert(h.GetString() + 10, 5);
    EXPECT_EQ(A(h), "01234abcde56789abcde");
    h.ReplaceAt(0, 2, h.GetString() + 15);
    EXPECT_EQ(A(h), "abcde234abcde56789abcde");
    CKzStringW f(L"pad");
    f.Format(L"[%s|%s]", f.GetString(), f.GetString() + 1);
    EXPECT_EQ(W(f), L"[pad|ad]");
    CKzStringA g("pad");
    g.Format("[%s|%s]", g.GetString(), g.GetString() + 1);
    EXPECT_EQ(A(g), "[pad|ad]");
}

TEST(CKzStringW, AppendingForms)
{
    CKzStringW s;
    s.AddChar(L'a').AddChar(L'\0').AddChar('b');
    s += L"c";
    s += "d";
    const unsigned short units[] = {0x65, 0};
    s += units;
    s.AddChars(L"fgh", 2).AddChars(L"ij", -1).AddChars(L"k", 0).AddChars(nullptr, 3).AddChars(L"lm", 10);
    EXPECT_EQ(W(s), L"abcdefgijlm");
    s.AddInt(-42).AddDouble(3.14159, 2);
    EXPECT_EQ(W(s), L"abcdefgijlm-423.14");
    EXPECT_EQ(W(CKzStringW(L"a") + CKzStringW(L"b")), L"ab");
    EXPECT_EQ(W(L"a" + CKzStringW(L"b")), L"ab");
    EXPECT_EQ(W(CKzStringW(L"a") + L"b"), L"ab");
    EXPECT_EQ(W(L'a' + CKzStringW(L"b")), L"ab");
    EXPECT_EQ(W(CKzStringW(L"a") + L'b'), L"ab");
    EXPECT_EQ(A(CKzStringA("a") + CKzStringA("b") + "c" + 'd'), "abcd");
    EXPECT_EQ(A('x' + CKzStringA("y")), "xy");
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

TEST(CKzStringW, MidLeftRight)
{
    const CKzStringW s(L"abcdef");
    struct Case { int start, count; const wchar_t* want; } cases[] = {
        {2, -1, L"cdef"}, {4, 10, L"ef"}, {6, 1, L""}, {0, 0, L""}, {1, 2, L"bc"}, {0, -1, L"abcdef"}, {9, 1, L""},
    };
    for (const auto& c : cases) EXPECT_EQ(W(s.Mid(c.start, c.count)), c.want) << c.start << "," << c.count;
    testing::internal::CaptureStdout();
    EXPECT_EQ(W(s.Mid(-1, 3)), L"");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFailure! File: gnr_system/CKzStringW, line: 483\n");
    EXPECT_EQ(s.Mid(0, 6).GetString(), s.GetString());  // the whole text is shared
    EXPECT_EQ(W(s.Left(2)), L"ab");
    EXPECT_EQ(s.Left(10).GetString(), s.GetString());
    EXPECT_EQ(W(s.Left(-1)), L"abcdef");
    EXPECT_EQ(W(s.Right(2)), L"ef");
    EXPECT_EQ(s.Right(6).GetString(), s.GetString());
    EXPECT_EQ(W(s.Right(-1)), L"");
}

TEST(CKzStringA, MidReportsNegativeStart)
{
    const CKzStringA s("abcdef");
    EXPECT_EQ(A(s.Mid(2, -1)), "cdef");
    testing::internal::CaptureStdout();
    EXPECT_EQ(A(s.Mid(-3)), "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFailure! File: gnr_system/CKzStringA, line: 413\n");
}

TEST(CKzStringW, GetAtAndLastChar)
{
    const CKzStringW s(L"abc");
    EXPECT_EQ(s.GetAt(0), L'a');
    EXPECT_EQ(s[2], L'c');
    EXPECT_EQ(s.GetAt(3), 0);
    EXPECT_EQ(s.GetAt(-1), 0);
    EXPECT_EQ(s.GetLastChar(), L'c');
    EXPECT_EQ(s[size_t(1)], L'b');
    EXPECT_EQ(s[-1L], 0);
    EXPECT_EQ(s[3u], 0);
    EXPECT_EQ(s[~size_t(0)], 0);
    EXPECT_EQ(CKzStringA("xy")[1L], 'y');
    const wchar_t longer[] = {L'a', L'b', L'c', L'd', L'e'};  // no terminator
    CKzStringW part;
    part.AddChars(longer, 3);
    EXPECT_EQ(W(part), L"abc");
    EXPECT_EQ(CKzStringW().GetLastChar(), 0);
}

TEST(CKzStringW, CopyToBuffers)
{
    const CKzStringW s(L"abcdef");
    wchar_t wb[8];
    std::wmemset(wb, L'#', 8);
    EXPECT_EQ(s.CopyToBufferW(wb, 4), 3);
    EXPECT_STREQ(wb, L"abc");
    char nb[8];
    std::memset(nb, '#', 8);
    EXPECT_EQ(s.CopyToBufferA(nb, 4), 3);
    EXPECT_STREQ(nb, "abc");
    EXPECT_EQ(s.CopyToBufferW(wb, 8), 6);
    EXPECT_EQ(s.CopyToBufferW(wb, 0), KZ_FAIL);
    EXPECT_EQ(s.CopyToBufferW(nullptr, 8), KZ_FAIL);
    EXPECT_EQ(s.CopyToBufferA(nb, -2), KZ_FAIL);

    const CKzStringA a("abcdef");
    EXPECT_EQ(a.CopyToBufferA(nb, 4), 3);
    EXPECT_STREQ(nb, "abc");
    EXPECT_EQ(a.CopyToBufferW(wb, 4), 3);
    EXPECT_STREQ(wb, L"abc");
    EXPECT_EQ(a.CopyToBufferA(nb, 0), KZ_FAIL);
}

// ---------------------------------------------------------------------------
// Changing; negative positions are refused
// ---------------------------------------------------------------------------

TEST(CKzStringW, SetAt)
{
    CKzStringW s(L"abc");
    EXPECT_EQ(s.SetAt(3, L'c'), KZ_ERR_INDEX);
    EXPECT_EQ(s.SetAt(-1, L'c'), KZ_ERR_INDEX);
    EXPECT_EQ(W(s), L"abc");
    EXPECT_EQ(s.SetAt(1, 0), KZ_OK);
    EXPECT_EQ(s.GetLength(), 1);
    EXPECT_EQ(W(s), L"a");
}

TEST(CKzStringW, DeleteAndTruncate)
{
    struct Case { const wchar_t* text; int start, count; int result; const wchar_t* want; } cases[] = {
        {L"abcdef", 1, 2, KZ_OK, L"adef"},
        {L"abcdef", 2, -1, KZ_OK, L"ab"},        // a negative count deletes to the end
        {L"abcdef", 3, 3, KZ_OK, L"abc"},
        {L"abcdef", 0, 0, KZ_OK, L"abcdef"},
        {L"abcdef", 6, 1, KZ_OK, L"abcdef"},     // nothing lies at or beyond the end
        {L"abcdef", -1, 2, KZ_ERR_INDEX, L"abcdef"},
        {L"abcdef", -100, -1, KZ_ERR_INDEX, L"abcdef"},
        {L"abcdef", 2, 0x7fffffff, KZ_OK, L"ab"},
    };
    for (const auto& c : cases) {
        CKzStringW s(c.text);
        EXPECT_EQ(s.Delete(c.start, c.count), c.result) << c.start << "," << c.count;
        EXPECT_EQ(W(s), c.want) << c.start << "," << c.count;
    }
    CKzStringW s(L"abcdef");
    EXPECT_EQ(s.DeleteLeft(2), KZ_OK);
    EXPECT_EQ(W(s), L"cdef");
    EXPECT_EQ(s.DeleteRight(1), KZ_OK);
    EXPECT_EQ(W(s), L"cde");
    EXPECT_EQ(s.DeleteLeft(-1), KZ_ERR_INDEX);
    EXPECT_EQ(s.DeleteRight(-1), KZ_ERR_INDEX);
    EXPECT_EQ(W(s), L"cde");
    EXPECT_EQ(s.TruncateAt(-1), KZ_ERR_INDEX);
    EXPECT_EQ(s.TruncateAt(5), KZ_OK);
    EXPECT_EQ(W(s), L"cde");
    EXPECT_EQ(s.TruncateAt(1), KZ_OK);
    EXPECT_EQ(W(s), L"c");
    EXPECT_EQ(s.DeleteRight(5), KZ_OK);
    EXPECT_EQ(W(s), L"");
    CKzStringA a("abcdef");
    EXPECT_EQ(a.Delete(-2, 1), KZ_ERR_INDEX);
    EXPECT_EQ(a.Delete(1, 2), KZ_OK);
    EXPECT_EQ(A(a), "adef");
}

TEST(CKzStringW, Trim)
{
    CKzStringW s(L"  \tab c\t  ");
    s.TrimLeft();
    EXPECT_EQ(W(s), L"\tab c\t  ");
    s.TrimRight();
    EXPECT_EQ(W(s), L"\tab c\t");
    s.Trim(L"");
    EXPECT_EQ(W(s), L"\tab c\t");
    s.Trim(L"\tc ");
    EXPECT_EQ(W(s), L"ab");
    CKzStringW all(L"xxxx");
    all.Trim(L"x");
    EXPECT_EQ(W(all), L"");
    CKzStringA a("..a.b..");
    a.Trim(".");
    EXPECT_EQ(A(a), "a.b");
}

TEST(CKzStringW, RemoveAndCase)
{
    CKzStringW s(L"banana");
    EXPECT_EQ(s.Remove(L'a'), 3);
    EXPECT_EQ(W(s), L"bnn");
    EXPECT_EQ(s.Remove(L'z'), 0);
    EXPECT_EQ(s.Remove(0), 0);
    CKzStringW m(L"MiXeD");
    m.MakeLower();
    EXPECT_EQ(W(m), L"mixed");
    m.MakeUpper();
    EXPECT_EQ(W(m), L"MIXED");
    CKzStringA a("MiXeD");
    a.MakeLower();
    EXPECT_EQ(A(a), "mixed");
}

TEST(CKzStringW, Insert)
{
    struct Case { const wchar_t* text; int pos, count; const wchar_t* want; } cases[] = {
        {L"ad", 1, -1, L"abcd"}, {L"ad", 1, 1, L"abd"}, {L"ad", 2, 99, L"adbc"}, {L"ad", 0, 2, L"bcad"}, {L"", 0, -1, L"bc"},
    };
    for (const auto& c : cases) {
        CKzStringW s(c.text);
        s.Insert(L"bc", c.pos, c.count);
        EXPECT_EQ(W(s), c.want) << c.pos;
    }
    CKzStringW s(L"ad");
    testing::internal::CaptureStdout();
    s.Insert(L"x", -1);
    s.Insert(L"x", 3);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nFailure! File: gnr_system/CKzStringW, line: 1314\n"
              "\nFailure! File: gnr_system/CKzStringW, line: 1314\n");
    EXPECT_EQ(W(s), L"ad");
    CKzStringA a("ad");
    testing::internal::CaptureStdout();
    a.Insert("x", -2);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFailure! File: gnr_system/CKzStringA, line: 1217\n");
    a.Insert("bc", 1);
    EXPECT_EQ(A(a), "abcd");
}

TEST(CKzStringW, ReplaceAt)
{
    CKzStringW s(L"abcdef");
    EXPECT_EQ(s.ReplaceAt(1, 2, L"XY"), KZ_OK);  // in place
    EXPECT_EQ(W(s), L"aXYdef");
    EXPECT_EQ(s.ReplaceAt(1, 2, L"123"), KZ_OK);
    EXPECT_EQ(W(s), L"a123def");
    EXPECT_EQ(s.ReplaceAt(0, 4, L""), KZ_OK);
    EXPECT_EQ(W(s), L"def");
    testing::internal::CaptureStdout();
    EXPECT_EQ(s.ReplaceAt(0, 0, L"z"), KZ_ERR_INDEX);
    EXPECT_EQ(s.ReplaceAt(2, 2, L"z"), KZ_ERR_INDEX);
    EXPECT_EQ(s.ReplaceAt(-1, 2, L"zz"), KZ_ERR_INDEX);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nFailure! File: gnr_system/CKzStringW, line: 1242\n"
              "\nFailure! File: gnr_system/CKzStringW, line: 1249\n"
              "\nFailure! File: gnr_system/CKzStringW, line: 1249\n");
    EXPECT_EQ(W(s), L"def");
    CKzStringA a("def");
    testing::internal::CaptureStdout();
    EXPECT_EQ(a.ReplaceAt(0, -1, "z"), KZ_ERR_INDEX);
    EXPECT_EQ(a.ReplaceAt(2, 2, "z"), KZ_ERR_INDEX);  // silently
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nFailure! File: gnr_system/CKzStringA, line: 1145\n");
    EXPECT_EQ(A(a), "def");
}

TEST(CKzStringW, Replace)
{
    struct Case { const wchar_t* text; const wchar_t* from; const wchar_t* to; int n; const wchar_t* want; } cases[] = {
        {L"aaaa", L"aa", L"b", 2, L"bb"},
        {L"aaa", L"aa", L"b", 1, L"ba"},
        {L"abc", L"", L"x", 0, L"abc"},
        {L"abc", nullptr, L"x", 0, L"abc"},
        {L"a.b.c", L".", L"::", 2, L"a::b::c"},
        {L"a.b.c", L".", nullptr, 2, L"abc"},
        {L"abc", L"x", L"y", 0, L"abc"},
    };
    for (const auto& c : cases) {
        CKzStringW s(c.text);
        EXPECT_EQ(s.Replace(c.from, c.to), c.n) << c.text;
        EXPECT_EQ(W(s), c.want) << c.text;
    }
    CKzStringW s(L"One one ONE");
    EXPECT_EQ(s.ReplaceNoCase(L"one", L"2"), 3);
    EXPECT_EQ(W(s), L"2 2 2");
    CKzStringA a("One one ONE");
    EXPECT_EQ(a.ReplaceNoCase("ONE", "x"), 3);
    EXPECT_EQ(A(a), "x x x");
    EXPECT_EQ(a.Replace("x", "yy"), 3);
    EXPECT_EQ(A(a), "yy yy yy");
}

TEST(CKzStringW, EndInSlash)
{
    CKzStringW s;
    s.EndInSlash();
    EXPECT_EQ(W(s), L"\\");
    s.EndInSlash();
    EXPECT_EQ(W(s), L"\\");
    CKzStringA a("dir");
    a.EndInSlash();
    EXPECT_EQ(A(a), "dir\\");
}

// ---------------------------------------------------------------------------
// Searching and comparing
// ---------------------------------------------------------------------------

TEST(CKzStringW, Searching)
{
    const CKzStringW s(L"abca");
    EXPECT_EQ(s.Find(L'a'), 0);
    EXPECT_EQ(s.Find(L'a', 1), 3);
    EXPECT_EQ(s.Find(L'a', -1), -1);
    EXPECT_EQ(s.Find(L'z'), -1);
    EXPECT_EQ(s.Find(L""), -1);
    EXPECT_EQ(s.Find(static_cast<const wchar_t*>(nullptr)), -1);
    EXPECT_EQ(s.Find(L"ca"), 2);
    EXPECT_EQ(CKzStringW(L"abcd").Find(L"cd", 3), -1);
    EXPECT_EQ(CKzStringW(L"abcd").Find(L"cd", 2), 2);
    EXPECT_EQ(s.ReverseFind(L'a', -1), 3);
    EXPECT_EQ(s.ReverseFind(L'a', 2), 0);
    EXPECT_EQ(s.ReverseFind(L'a', 4), -1);
    EXPECT_EQ(s.FindOneOf(L"cb"), 1);
    EXPECT_EQ(s.FindOneOf(L"cb", 2), 2);
    EXPECT_EQ(s.FindOneOf(L"cb", -1), -1);
    EXPECT_EQ(s.FindOneOf(L"xyz"), -1);
    const CKzStringW m(L"HeLLo");
    EXPECT_EQ(m.FindNoCase(L'l'), 2);
    EXPECT_EQ(m.FindNoCase(L"LLO"), 2);
    EXPECT_EQ(m.FindNoCase(L"ll", 3), -1);
    EXPECT_EQ(m.ReverseFindNoCase(L'L'), 3);
    const CKzStringA a("HeLLo");
    EXPECT_EQ(a.FindNoCase("llo"), 2);
    EXPECT_EQ(a.Find("Lo"), 3);
    EXPECT_EQ(a.ReverseFind('L'), 3);
    EXPECT_EQ(a.FindOneOf("oe"), 1);
}

TEST(CKzStringW, Comparing)
{
    const CKzStringW s(L"abc");
    EXPECT_EQ(s.Compare(L"abd"), -1);
    EXPECT_EQ(s.Compare(L"abc"), 0);
    EXPECT_EQ(s.Compare(L"ab"), 1);
    EXPECT_EQ(s.Compare(nullptr), 1);
    EXPECT_EQ(s.CompareNoCase(L"ABC"), 0);
    EXPECT_EQ(s.CompareNoCase(L"ABD"), -1);
    EXPECT_TRUE(s.Equals("abc"));
    EXPECT_TRUE(s.Less("abd"));
    EXPECT_TRUE(s.LessEqual(L"abc"));
    EXPECT_TRUE(s == L"abc");
    EXPECT_TRUE(L"abc" == s);
    EXPECT_TRUE(s != CKzStringW(L"x"));
    EXPECT_TRUE(s < L"b");
    EXPECT_TRUE(L"b" > s);
    EXPECT_TRUE(s <= CKzStringW(L"abc"));
    EXPECT_TRUE(s >= L"abc");
    EXPECT_FALSE(L"abc" < s);
    const CKzStringA a("abc");
    EXPECT_EQ(a.CompareNoCase("ABC"), 0);
    EXPECT_TRUE(a.Equals(L"abc"));
    EXPECT_TRUE(a < "abd");
    EXPECT_TRUE("abd" > a);
    EXPECT_EQ(a.Compare("abcd"), -1);
}

TEST(KZ_CharacterFunctions, Basics)
{
    EXPECT_EQ(KZ_lstrlen(nullptr), 0);
    EXPECT_EQ(KZ_lstrlen(L"abc"), 3);
    EXPECT_LT(KZ_Sstricmp(L"ABC", L"abd"), 0);
    EXPECT_EQ(KZ_Sstricmp(L"Abc", L"aBC"), 0);
    EXPECT_EQ(KZ_Sstricmp(L"abc", L"ab"), 'c');
    EXPECT_GT(KZ_Sstrcmp(L"b", L"a"), 0);
    EXPECT_EQ(KZ_Sstrcmp(nullptr, L""), 0);
    EXPECT_EQ(KZ_ToLower(L'Q'), L'q');
    EXPECT_EQ(KZ_ToUpper(L'q'), L'Q');
}

// ---------------------------------------------------------------------------
// Formatting
// ---------------------------------------------------------------------------

TEST(CKzStringW, FormatWideAndNarrowArguments)
{
    CKzStringW s;
    EXPECT_EQ(s.Format(L"%s and %S, %d%%s", L"wide", "narrow", 7), KZ_OK);
    EXPECT_EQ(W(s), L"wide and narrow, 7%s");
    EXPECT_EQ(s.Format(L"[%5s|%-4S|%.2s]", L"ab", "cd", L"xyz"), KZ_OK);
    EXPECT_EQ(W(s), L"[   ab|cd  |xy]");
    // Much longer than the capacity: the block grows until the text fits.
    const std::wstring longW(1000, L'w');
    const std::string longA(700, 'n');
    EXPECT_EQ(s.Format(L"%s-%S", longW.c_str(), longA.c_str()), KZ_OK);
    EXPECT_EQ(W(s), longW + L"-" + std::wstring(700, L'n'));
    EXPECT_EQ(s.AppendFormat(L"%d", 5), KZ_OK);
    EXPECT_EQ(s.GetLength(), 1702);
}

TEST(CKzStringW, FormatEndsOnEncodingError)
{
    LocaleScope c("C");
    CKzStringW s(L"keep");
    EXPECT_EQ(s.Format(L"%S", "caf\xc3\xa9"), KZ_FAIL);
    EXPECT_EQ(W(s), L"keep");
    EXPECT_EQ(s.AppendFormat(L"x%Sy", "\xff"), KZ_FAIL);
    EXPECT_EQ(W(s), L"keep");
    CKzStringA a("keep");
    EXPECT_EQ(a.Format("%ls", L"caf\u00e9"), KZ_FAIL);
    EXPECT_EQ(A(a), "keep");
}

TEST(CKzStringA, FormatAtAndBeyondCapacity)
{
    CKzStringA s;
    EXPECT_EQ(s.Format("%s", "123456789012345"), KZ_OK);  // exactly the capacity of a new string
    EXPECT_EQ(A(s), "123456789012345");
    const std::string longA(3000, 'x');
    EXPECT_EQ(s.AppendFormat("%s", longA.c_str()), KZ_OK);
    EXPECT_EQ(A(s), "123456789012345" + longA);
    EXPECT_EQ(s.Format("%d-%s", 12, "ab"), KZ_OK);
    EXPECT_EQ(A(s), "12-ab");
    s.AddInt(3).AddDouble(2.5, 3);
    EXPECT_EQ(A(s), "12-ab32.500");
}

namespace {
int CallFormatV(CKzStringA& s, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int r = s.FormatV(fmt, ap);
    va_end(ap);
    return r;
}
int CallFormatVW(CKzStringW& s, const wchar_t* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const int r = s.FormatV(fmt, ap);
    va_end(ap);
    return r;
}
}  // namespace

TEST(CKzStringA, FormatVFormats)
{
    CKzStringA s("old");
    EXPECT_EQ(CallFormatV(s, "%s=%d", "k", 42), KZ_OK);
    EXPECT_EQ(A(s), "k=42");
    const std::string big(5000, 'b');
    EXPECT_EQ(CallFormatV(s, "%s", big.c_str()), KZ_OK);
    EXPECT_EQ(A(s), big);
    CKzStringW w(L"old");
    EXPECT_EQ(CallFormatVW(w, L"%s=%d", L"k", 42), KZ_OK);
    EXPECT_EQ(W(w), L"k=42");
}

// ---------------------------------------------------------------------------
// Locale conversions
// ---------------------------------------------------------------------------

TEST(CKzStringW, LocaleConversionUtf8)
{
    LocaleScope loc("C.UTF-8");
    if (!loc.ok()) GTEST_SKIP() << "no UTF-8 locale";
    CKzStringW s("caf\xc3\xa9");  // valid sequence as the last character
    EXPECT_EQ(W(s), L"caf\u00e9");
    CKzStringW bad("a\xff" "b\xc3");  // invalid byte and a cut sequence
    EXPECT_EQ(W(bad), L"a?b?");
    CKzStringA back(L"caf\u00e9");
    EXPECT_EQ(A(back), "caf\xc3\xa9");
    char nb[4];
    EXPECT_EQ(CKzStringW(L"\u00e9\u00e9").CopyToBufferA(nb, 4), 3);  // a sequence may be cut
    EXPECT_EQ(std::string(nb), "\xc3\xa9\xc3");
    CKzStringW c;
    c.AddChar('\xe9');  // not valid alone in UTF-8
    EXPECT_EQ(W(c), L"?");
    CKzStringA n;
    n.AddChar(L'\u00e9');
    EXPECT_EQ(A(n), "\xc3\xa9");
    EXPECT_TRUE(CKzStringW(L"caf\u00e9").Equals("caf\xc3\xa9"));
}

TEST(CKzStringW, FormatNarrowArgumentInUtf8Locale)
{
    LocaleScope loc("C.UTF-8");
    if (!loc.ok()) GTEST_SKIP() << "no UTF-8 locale";
    CKzStringW s;
    EXPECT_EQ(s.Format(L"%S|%s", "caf\xc3\xa9", L"\u20ac"), KZ_OK);
    EXPECT_EQ(W(s), L"caf\u00e9|\u20ac");
}

TEST(CKzStringW, LocaleConversionC)
{
    LocaleScope loc("C");
    EXPECT_EQ(W(CKzStringW("a\xe9")), L"a?");
    EXPECT_EQ(A(CKzStringA(L"a\u00e9\u4e2d")), "a??");
}

// ---------------------------------------------------------------------------
// Threads: copies of one string on many threads
// ---------------------------------------------------------------------------

TEST(CKzStringW, ConcurrentCopiesKeepTheSharedBufferAlive)
{
    const CKzStringW shared(L"shared text that all threads copy");
    const CKzStringA sharedA("narrow shared text");
    std::atomic<int> bad{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 20000; ++i) {
                CKzStringW a = shared;
                CKzStringW b;
                b = a;
                if (i % 7 == t % 7) b.AddChar(L'x');  // copy on write of a shared buffer
                CKzStringW e;                        // the empty buffer is shared by all threads
                e = b.Left(0);
                CKzStringA c = sharedA;
                CKzStringA d(c);
                if (a.GetLength() != 33 || std::wcsncmp(b.GetString(), L"shared", 6) != 0 || d.GetLength() != 18)
                    bad.fetch_add(1);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(W(shared), L"shared text that all threads copy");
    EXPECT_EQ(A(sharedA), "narrow shared text");
}

TEST(CKzStringW, ResetAndPreallocateLeaveCopiesAlone)
{
    CKzStringW a(L"text");
    CKzStringW b = a;
    b.Reset();
    EXPECT_EQ(W(a), L"text");
    EXPECT_EQ(b.GetLength(), 0);
    EXPECT_EQ(b.GetBufferLength(), 15);
    CKzStringW c = a;
    wchar_t* raw = c.Preallocate(100);
    ASSERT_NE(raw, nullptr);
    EXPECT_NE(raw, a.GetString());
    raw[0] = L'T';  // writes go to c's own block only
    EXPECT_EQ(W(a), L"text");
    EXPECT_EQ(W(c), L"Text");
    CKzStringA n("text");
    CKzStringA m = n;
    m.Preallocate(50)[0] = 'n';
    EXPECT_EQ(A(n), "text");
    CKzStringW& self = a;
    a = std::move(self);
    EXPECT_EQ(W(a), L"text");
}
