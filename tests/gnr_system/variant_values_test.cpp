// Values of variants: conversions between types, text forms, equality of
// doubles, saturation and locale independence.
#include "gnr_system/CKzVariant.h"
#include "variant_test_support.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <string>

namespace {

using kztest::W;

CKzByteArray Bytes(std::initializer_list<unsigned char> b)
{
    std::vector<unsigned char> v(b);
    return CKzByteArray(v.data(), (unsigned long)v.size(), 1024);
}

// One row per source value: what each getter gives and whether it converts.
struct Row {
    const char* what;
    CKzVariant v;
    bool b; bool bOk;
    double d; bool dOk;
    kz_int32 i32; bool i32Ok;
    kz_uint32 u32; bool u32Ok;
    kz_int64 i64; bool i64Ok;
    kz_uint64 u64; bool u64Ok;
};

TEST(VariantValues, ConversionMatrix)
{
    const double eightBytes = 2.5;
    unsigned char raw[8];
    std::memcpy(raw, &eightBytes, 8);
    CKzByteArray eight(raw, 8, 1024);

    const Row rows[] = {
        {"int32 -2", CKzVariant((int)-2), true, true, -2.0, true, -2, true, 0xFFFFFFFEu, true, -2, true, 0xFFFFFFFFFFFFFFFEull, true},
        {"uint32 max", CKzVariant(0xFFFFFFFFu), true, true, 4294967295.0, true, -1, true, 0xFFFFFFFFu, true, 4294967295ll, true, 4294967295ull, true},
        {"int64 2^32+5", CKzVariant((long)((1ll << 32) + 5)), true, true, 4294967301.0, true, 5, true, 5u, true, (1ll << 32) + 5, true, (1ull << 32) + 5, true},
        {"uint64 3", CKzVariant((unsigned long)3), true, true, 3.0, true, 3, true, 3u, true, 3, true, 3, true},
        {"double -2.7", CKzVariant(-2.7), true, true, -2.7, true, -2, true, 0u, true, -2, true, 0, true},
        {"double 1e19", CKzVariant(1e19), true, true, 1e19, true, INT32_MAX, true, UINT32_MAX, true, INT64_MAX, true, 10000000000000000000ull, true},
        {"double NaN", CKzVariant(std::nan("")), false, true, std::nan(""), true, 0, true, 0u, true, 0, true, 0, true},
        {"double -1e300", CKzVariant(-1e300), true, true, -1e300, true, INT32_MIN, true, 0u, true, INT64_MIN, true, 0, true},
        {"bool true", CKzVariant(true), true, true, 1.0, true, 1, true, 1u, true, 1, true, 1, true},
        {"voidPtr", CKzVariant((void*)(uintptr_t)0x100000007ull), true, true, 0.0, false, 7, true, 7u, true, 0x100000007ll, true, 0x100000007ull, true},
        {"text 12abc", CKzVariant(L"12abc"), false, true, 12.0, true, 12, true, 12u, true, 12, true, 12, true},
        {"text abc", CKzVariant(L"abc"), false, true, 0.0, true, 0, true, 0u, true, 0, true, 0, true},
        {"text True", CKzVariant(L"True"), false, true, 0.0, true, 0, true, 0u, true, 0, true, 0, true},
        {"text true", CKzVariant(L"true"), true, true, 0.0, true, 0, true, 0u, true, 0, true, 0, true},
        {"bytes 8", CKzVariant(eight), false, true, 2.5, true, (kz_int32)0, true, 0u, true, 0x4004000000000000ll, true, 0x4004000000000000ull, true},
        {"bytes 4", CKzVariant(Bytes({1, 2, 0, 0})), true, true, 0.0, false, 0x201, true, 0x201u, true, -1, false, 0, false},
        {"bytes 0", CKzVariant(CKzByteArray(1024)), false, false, 0.0, false, -1, false, 0u, false, -1, false, 0, false},
        {"undefined", CKzVariant(), false, false, 0.0, false, -1, false, 0u, false, -1, false, 0, false},
        {"list", CKzVariant(CKzListVariant()), false, false, 0.0, false, -1, false, 0u, false, -1, false, 0, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        bool ok = !r.bOk;
        EXPECT_EQ(r.v.GetBool(&ok), r.b);
        EXPECT_EQ(ok, r.bOk);
        ok = !r.dOk;
        const double d = r.v.GetDouble(&ok);
        if (std::isnan(r.d)) EXPECT_TRUE(std::isnan(d));
        else EXPECT_EQ(d, r.d);
        EXPECT_EQ(ok, r.dOk);
        ok = !r.i32Ok;
        EXPECT_EQ(r.v.GetKz_int32(&ok), r.i32);
        EXPECT_EQ(ok, r.i32Ok);
        ok = !r.u32Ok;
        EXPECT_EQ(r.v.GetKz_uint32(&ok), r.u32);
        EXPECT_EQ(ok, r.u32Ok);
        ok = !r.i64Ok;
        EXPECT_EQ(r.v.GetKz_int64(&ok), r.i64);
        EXPECT_EQ(ok, r.i64Ok);
        ok = !r.u64Ok;
        EXPECT_EQ(r.v.GetKz_uint64(&ok), r.u64);
        EXPECT_EQ(ok, r.u64Ok);
    }
}

TEST(VariantValues, DoublesOutsideIntegerRangesSaturate)
{
    struct Case { double d; kz_int32 i32; kz_uint32 u32; kz_int64 i64; kz_uint64 u64; };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {inf, INT32_MAX, UINT32_MAX, INT64_MAX, UINT64_MAX},
        {-inf, INT32_MIN, 0, INT64_MIN, 0},
        {5e9, INT32_MAX, UINT32_MAX, 5000000000ll, 5000000000ull},
        {-5e9, INT32_MIN, 0, -5000000000ll, 0},
        {1e30, INT32_MAX, UINT32_MAX, INT64_MAX, UINT64_MAX},
        {-1.0, -1, 0, -1, 0},
        {9223372036854775808.0, INT32_MAX, UINT32_MAX, INT64_MAX, 9223372036854775808ull},
        {18446744073709549568.0, INT32_MAX, UINT32_MAX, INT64_MAX, 18446744073709549568ull},
        {std::nan(""), 0, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.d);
        CKzVariant v(c.d);
        EXPECT_EQ(v.GetKz_int32(), c.i32);
        EXPECT_EQ(v.GetKz_uint32(), c.u32);
        EXPECT_EQ(v.GetKz_int64(), c.i64);
        EXPECT_EQ(v.GetKz_uint64(), c.u64);
    }
    // Texts of numbers beyond the range saturate as well.
    EXPECT_EQ(CKzVariant(L"99999999999").GetKz_int32(), INT32_MAX);
    EXPECT_EQ(CKzVariant(L"-99999999999999999999999").GetKz_int64(), INT64_MIN);
    EXPECT_EQ(CKzVariant(L"99999999999999999999999").GetKz_uint64(), UINT64_MAX);
}

TEST(VariantValues, DoublesEqualWithinThreeSteps)
{
    CKzVariant one(1.0);
    double x = 1.0;
    for (int step = 1; step <= 3; ++step) {
        x = std::nextafter(x, 2.0);
        EXPECT_TRUE(one == x) << step;
        EXPECT_TRUE(one == CKzVariant(x)) << step;
    }
    x = std::nextafter(x, 2.0);
    EXPECT_FALSE(one == x);
    EXPECT_FALSE(one == CKzVariant(x));

    // Across zero: +0 and -0 are one value; the smallest subnormals on both
    // sides lie two steps apart.
    const double tiny = std::numeric_limits<double>::denorm_min();
    EXPECT_TRUE(AlmostEqual(0.0, -0.0, 0));
    EXPECT_TRUE(AlmostEqual(tiny, -tiny, 2));
    EXPECT_FALSE(AlmostEqual(tiny, -tiny, 1));
    // Patterns far apart must not overflow (the sanitizer build checks).
    const double big = std::numeric_limits<double>::max();
    EXPECT_FALSE(AlmostEqual(big, -big, 3));
    EXPECT_FALSE(AlmostEqual(-std::numeric_limits<double>::infinity(), std::nan(""), 3));
    EXPECT_FALSE(AlmostEqual(1.0, 1.0, -1));
}

TEST(VariantValues, TextForms)
{
    CKzStringW s;
    EXPECT_TRUE(CKzVariant(0.1).Write(s));
    EXPECT_EQ(W(s), L"0.100000000000000");
    EXPECT_TRUE(CKzVariant((int)-7).Write(s));
    EXPECT_EQ(W(s), L"-7");
    EXPECT_TRUE(CKzVariant(0xFFFFFFFFFFFFFFFFul).Write(s));
    EXPECT_EQ(W(s), L"18446744073709551615");
    EXPECT_TRUE(CKzVariant(false).Write(s));
    EXPECT_EQ(W(s), L"false");
    EXPECT_TRUE(CKzVariant(Bytes({'M', 'a', 'n'})).Write(s));
    EXPECT_EQ(W(s), L"TWFu");

    s = L"junk";
    EXPECT_FALSE(CKzVariant(CKzByteArray(1024)).Write(s));
    EXPECT_EQ(W(s), L"");
    EXPECT_FALSE(CKzVariant().Write(s));

    CKzVariant list(CKzListVariant(), L"L");
    list.Append(CKzVariant((int)1, L"a"));
    list.Append(CKzVariant(L"a", L"b"));
    list.Append(CKzVariant());
    EXPECT_TRUE(list.Write(s));
    EXPECT_EQ(W(s), L"1 a ");

    CKzVariant i((int)7);
    EXPECT_TRUE(i.Read(L"xyz"));
    EXPECT_EQ(i.GetKz_int32(), 7);
    EXPECT_TRUE(i.Read(L"  -12 "));
    EXPECT_EQ(i.GetKz_int32(), -12);
    EXPECT_FALSE(list.Read(L"1"));
    EXPECT_FALSE(CKzVariant().Read(L"1"));

    CKzVariant b(Bytes({1}));
    EXPECT_TRUE(b.Read(L""));
    EXPECT_EQ(b.GetCKzByteArray(), Bytes({1}));
    EXPECT_TRUE(b.Read(L"TW E="));
    EXPECT_EQ(b.GetCKzByteArray(), Bytes({'M', 'a'}));

    CKzVariant p((void*)nullptr);
    EXPECT_TRUE(p.Read(L"0x1f"));
    EXPECT_EQ(p.GetVoidPtr(), (void*)0x1f);
    CKzStringW pt;
    p.Write(pt);
    CKzVariant q((void*)nullptr);
    q.Read(pt);
    EXPECT_EQ(q.GetVoidPtr(), (void*)0x1f);

    bool ok = false;
    EXPECT_EQ(W(CKzVariant(2.5).GetCKzStringW(&ok)), L"2.500000000000000");
    EXPECT_TRUE(ok);
    EXPECT_EQ(W(CKzVariant().GetCKzStringW(&ok)), L"");
    EXPECT_FALSE(ok);
}

TEST(VariantValues, OtherAccessors)
{
    bool ok = false;
    CKzByteArray four = CKzVariant((int)0x04030201).GetCKzByteArray(&ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(four, Bytes({1, 2, 3, 4}));
    EXPECT_EQ(CKzVariant(1.0).GetCKzByteArray(&ok).GetSize(), 0u);
    EXPECT_FALSE(ok);

    CKzVariant bytes(Bytes({9, 8}));
    EXPECT_EQ(bytes.GetVoidPtr(&ok), (void*)static_cast<const CKzByteArray*>(bytes.GetValueVoidPtr())->GetData());
    EXPECT_TRUE(ok);
    EXPECT_EQ(CKzVariant(1.0).GetVoidPtr(&ok), nullptr);
    EXPECT_FALSE(ok);

    EXPECT_EQ(CKzVariant(1.0).GetCKzListVariant(&ok).GetSize(), 0);
    EXPECT_FALSE(ok);
    CKzVariant l(CKzListVariant(), L"l");
    l.Append(CKzVariant(1.0, L"x"));
    EXPECT_EQ(l.GetCKzListVariant(&ok).GetSize(), 1);
    EXPECT_TRUE(ok);
}

TEST(VariantValues, TypedComparisons)
{
    EXPECT_TRUE(CKzVariant((int)5) == 5);
    EXPECT_TRUE(CKzVariant(L"5") == 5);
    EXPECT_FALSE(CKzVariant() == 0u);
    EXPECT_TRUE(CKzVariant(L"abc") == CKzStringW(L"abc"));
    EXPECT_FALSE(CKzVariant(L"abc") == CKzStringW(L"ABC"));
    EXPECT_TRUE(CKzVariant((int)3) == CKzStringW(L"3"));
    EXPECT_TRUE(CKzVariant(true) == true);
    EXPECT_TRUE(CKzVariant((long)-3) == (long)-3);
    EXPECT_TRUE(CKzVariant((int)-1) == 0xFFFFFFFFu);

    // Value equality needs equal run types.
    EXPECT_FALSE(CKzVariant((int)1) == CKzVariant(1u));
    EXPECT_TRUE(CKzVariant(1u) == CKzVariant(1u));

    CKzListVariant children;
    children.Add(CKzVariant((int)1, L"a"));
    CKzVariant plain(children, L"p");
    EXPECT_TRUE(plain == children);
    EXPECT_FALSE(CKzVariant() == children);
}

TEST(VariantValues, DifferentByteArraysReportOnce)
{
    CKzVariant a(Bytes({1, 2})), b(Bytes({1, 3}));
    testing::internal::CaptureStdout();
    const bool eq = (a == b);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(eq);
    EXPECT_EQ(out.find("\nFailure! File: gnr_system/CKzVariant, line: "), 0u);
    EXPECT_EQ(out.find("Failure!", 5), std::string::npos);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(a == CKzVariant(Bytes({1, 2})));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

// Builds a locale with a decimal comma, when the system has the sources.
bool UseCommaLocale()
{
    const char* names[] = {"de_DE.UTF-8", "de_DE.utf8"};
    for (const char* n : names)
        if (std::setlocale(LC_ALL, n)) return true;
    std::filesystem::path dir = std::filesystem::temp_directory_path() / "vt5_variant_locale";
    std::filesystem::create_directories(dir);
    std::string cmd = "localedef -i de_DE -f UTF-8 " + (dir / "de_DE.UTF-8").string() + " >/dev/null 2>&1";
    if (std::system(cmd.c_str()) > 1) return false;   // 1: warnings only
    setenv("LOCPATH", dir.c_str(), 1);
    return std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
}

TEST(VariantValues, NumbersIgnoreTheHostLocale)
{
    if (!UseCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma can be made here";
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 0.5);
    ASSERT_STREQ(probe, "0,5");   // the host locale really writes a comma

    CKzStringW s;
    CKzVariant(0.5).Write(s);
    EXPECT_EQ(W(s), L"0.500000000000000");
    CKzVariant d(0.0);
    d.Read(L"2.25");
    EXPECT_EQ(d.GetDouble(), 2.25);
    EXPECT_EQ(CKzVariant(L"1.5").GetDouble(), 1.5);

    std::setlocale(LC_ALL, "C");
}

} // namespace
