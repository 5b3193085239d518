// Date-time text: names, formatting and parsing under the C locale.
#include "gnr_system/CKzDateTime.h"
#include "text_test_support.h"
#include "gnr_system/CKzString.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

typedef CKzDateTime DT;

// C locale and a pinned zone for one test; both restored afterwards.
class CKzDateTimeText : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* loc = std::setlocale(LC_ALL, nullptr);
        m_locale = loc != nullptr ? loc : "C";
        std::setlocale(LC_ALL, "C");
        const char* tz = std::getenv("TZ");
        m_hadTZ = tz != nullptr;
        if (m_hadTZ) m_tz = tz;
        PinZone("UTC0");
    }
    void TearDown() override
    {
        if (m_hadTZ) setenv("TZ", m_tz.c_str(), 1);
        else unsetenv("TZ");
        tzset();
        DT::RefreshZoneInfo();
        std::setlocale(LC_ALL, m_locale.c_str());
    }
    static void PinZone(const char* zone)
    {
        setenv("TZ", zone, 1);
        tzset();
        DT::RefreshZoneInfo();
    }

    std::string m_locale;
    std::string m_tz;
    bool m_hadTZ = false;
};

using kztest::W;

const DT::TimeZone kUTC(DT::UTC);

DT Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0, int ms = 0)
{
    const long long days = KZ_TruncatedJulianDay(day, month, year) - 2440587;
    return DT(days * 86400000LL + ((hour * 60LL + minute) * 60 + second) * 1000 + ms);
}

}  // namespace

TEST_F(CKzDateTimeText, Names)
{
    EXPECT_EQ(W(DT::GetMonthName(DT::Jan)), L"January");
    EXPECT_EQ(W(DT::GetMonthName(DT::Sep, DT::Name_Abbr)), L"Sep");
    EXPECT_EQ(W(DT::GetWeekDayName(DT::Sun)), L"Sunday");
    EXPECT_EQ(W(DT::GetWeekDayName(DT::Sat, DT::Name_Abbr)), L"Sat");
    EXPECT_EQ(W(DT::GetWeekDayName(DT::Wed)), L"Wednesday");
    // Indexes past the tables give no name.
    EXPECT_EQ(W(DT::GetMonthName(static_cast<DT::Month>(12))), L"");
    EXPECT_EQ(W(DT::GetMonthName(static_cast<DT::Month>(-1))), L"");
    EXPECT_EQ(W(DT::GetWeekDayName(static_cast<DT::WeekDay>(7))), L"");
    CKzStringW am, pm;
    DT::GetAmPmStrings(&am, &pm);
    EXPECT_EQ(W(am), L"AM");
    EXPECT_EQ(W(pm), L"PM");
    DT::GetAmPmStrings(nullptr, &pm);
    DT::GetAmPmStrings(&am, nullptr);
}

TEST_F(CKzDateTimeText, FormatExamples)
{
    EXPECT_EQ(W(DT(0).Format(L"%Y-%m-%d %H:%M:%S.%l", kUTC)), L"1970-01-01 00:00:00.000");
    DT old;
    old.Set(1, DT::Jan, 1600, 0, 0, 0, 0);
    EXPECT_LT(old.GetValue(), 0);
    EXPECT_EQ(W(old.Format(L"%d %B %Y", kUTC)), L"01 January 1600");
    EXPECT_EQ(W(Utc(2011, 1, 1).Format(L"%j", kUTC)), L"032");
    EXPECT_EQ(W(Utc(2011, 1, 1).Format(L"%j.%l", kUTC)), L"032.000");
    EXPECT_EQ(W(Utc(2011, 0, 1, 0, 30).Format(L"%I", kUTC)), L"12");
    EXPECT_EQ(W(Utc(2011, 0, 1, 0, 30).Format(L"%I%l", kUTC)), L"12000");
    EXPECT_EQ(W(DT(-5).Format(L"%q", kUTC)), L"q");
    EXPECT_EQ(W(DT(-5).Format(L"100%", kUTC)), L"100%");
    EXPECT_EQ(W(DT(-5).Format(L"%%", kUTC)), L"%");
    EXPECT_EQ(W(DT(-5).Format(L"", kUTC)), L"");
    EXPECT_EQ(W(DT(5).Format(nullptr, kUTC)), L"");
    // Stored values beyond the calendar's range have no text.
    EXPECT_EQ(W(DT(9223372036854775807LL).Format(L"%c %Y %l", kUTC)), L"");
    EXPECT_EQ(W(DT(-9223372036854775807LL).Format(L"%Y", kUTC)), L"");
}

TEST_F(CKzDateTimeText, OwnDirectivesBeforeTheEpoch)
{
    // Sunday 5 March 1600, 14:07:09.123 UTC (day 65; 1 January was a Saturday).
    const DT dt = Utc(1600, 2, 5, 14, 7, 9, 123);
    ASSERT_EQ(dt.GetValue(), -11670515570877LL);
    struct Case { const wchar_t* format; const wchar_t* text; };
    const Case cases[] = {
        {L"%a %A %b %B", L"Sun Sunday Mar March"},
        {L"%d %H %I %j %l %m %M %S", L"05 14 02 065 123 03 07 09"},
        {L"%p %w %y %Y", L"PM 00 00 1600"},  // every number but Y, j, l has two digits
        {L"%U %W", L"10 09"},
        {L"%c", L"Sun Mar  5 14:07:09 1600"},
        {L"%x", L"03/05/00"},
        {L"%X", L"14:07:09"},
        {L"%3d|%-d|%+d|%05Y", L"  5|5|+5|01600"},
        {L"%Z", L"UTC"},
    };
    for (const auto& c : cases) EXPECT_EQ(W(dt.Format(c.format, kUTC)), c.text) << std::wstring(c.format).size();
}

TEST_F(CKzDateTimeText, BothFormattingPathsAgree)
{
    // After the epoch the C formatter does the work unless "%l" is present;
    // the library's own directives must give the same text.
    const DT values[] = {Utc(1970, 0, 1), Utc(1999, 11, 31, 23, 59, 58, 7), Utc(2000, 1, 29, 12, 0, 1, 999),
                         Utc(2011, 2, 16, 15, 4, 5, 321), Utc(2037, 6, 4, 1, 2, 3, 4)};
    const wchar_t* fmt = L"%a %A %b %B %d %H %I %j %m %M %p %S %y %Y %c %x %X";
    for (const DT& v : values) {
        const std::wstring c = W(v.Format(fmt, kUTC));
        const std::wstring own = W(v.Format((std::wstring(fmt) + L".%l").c_str(), kUTC));
        wchar_t ms[8];
        swprintf(ms, 8, L".%03d", static_cast<int>(v.GetValue() % 1000));
        EXPECT_EQ(own, c + ms);
    }
    EXPECT_EQ(W(Utc(2011, 2, 16, 15, 4, 5).FormatDate(kUTC)), L"2011-03-16");
    EXPECT_EQ(W(Utc(2011, 2, 16, 15, 4, 5).FormatDateTime(kUTC)), L"2011-03-16 15:04:05");
    EXPECT_EQ(W(Utc(1600, 2, 5, 1, 2, 3).FormatDateTime(kUTC)), L"1600-03-05 01:02:03");
    // Other zones shift the fields.
    EXPECT_EQ(W(Utc(2011, 2, 16, 15, 4, 5).Format(L"%H:%M", DT::TimeZone(DT::GMT2))), L"17:04");
    EXPECT_EQ(W(Utc(2011, 2, 16, 15, 4, 5).Format(L"%H:%M.%l", DT::TimeZone(DT::A_CST))), L"00:34.000");
}

TEST_F(CKzDateTimeText, Rfc822)
{
    for (const char* zone : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0"}) {
        PinZone(zone);
        SCOPED_TRACE(zone);
        DT dt;
        const wchar_t* text = L"Sat, 18 Sep 2010 14:30:00 +0200";
        const wchar_t* end = dt.ParseRfc822Date(text);
        ASSERT_NE(end, nullptr);
        EXPECT_EQ(end, text + std::wcslen(text));
        EXPECT_EQ(dt.GetValue(), Utc(2010, 8, 18, 12, 30).GetValue());

        const wchar_t* t2 = L"18 Sep 2010 14:30 EST and more";
        end = dt.ParseRfc822Date(t2);
        ASSERT_NE(end, nullptr);
        EXPECT_EQ(std::wstring(end), L" and more");
        EXPECT_EQ(dt.GetValue(), Utc(2010, 8, 18, 19, 30).GetValue());
    }
    PinZone("UTC0");
    struct Case { const wchar_t* text; long long value; };
    const Case ok[] = {
        {L"1 Jan 2000 00:00:00 Z", Utc(2000, 0, 1).GetValue()},
        {L"1 Jan 2000 00:00:00 A", Utc(2000, 0, 1, 1).GetValue()},
        {L"1 Jan 2000 00:00:00 N", Utc(1999, 11, 31, 23).GetValue()},
        {L"1 Jan 2000 00:00:00 M", Utc(2000, 0, 1, 12).GetValue()},
        {L"1 Jan 2000 00:00:00 -0130", Utc(2000, 0, 1, 1, 30).GetValue()},
        {L"Mon, 01 Jan 2000 00:00:00 GMT", Utc(2000, 0, 1).GetValue()},
        {L"01 Jan 99 00:00:00 UT", Utc(99, 0, 1).GetValue()},
    };
    for (const auto& c : ok) {
        DT dt;
        ASSERT_NE(dt.ParseRfc822Date(c.text), nullptr) << std::wstring(c.text).size();
        EXPECT_EQ(dt.GetValue(), c.value) << std::wstring(c.text).size();
    }
    const wchar_t* bad[] = {
        L"18 Foo 2010 14:30:00 +0200", L"18 Sep 201 14:30:00 +0200", L"18 Sep 20100 14:30:00 +0200",
        L"Sat,18 Sep 2010 14:30:00 +0200", L"18 Sep 2010 14:30:00 J", L"18 Sep 2010 14:30:00 Z trailing",
        L"18 Sep 2010 14:30:00 XYZ", L"18 Sep 2010 14:30:00 +02", L"18 Sep 2010 1430 GMT", L"", L"sep 2010",
        L"18 sep 2010 14:30:00 GMT", L"18 Sep 2010 14:30:00", L"123 Sep 2010 14:30:00 GMT",
    };
    for (const wchar_t* b : bad) {
        DT dt(777);
        EXPECT_EQ(dt.ParseRfc822Date(b), nullptr) << std::wstring(b).size();
        EXPECT_EQ(dt.GetValue(), 777);
    }
    DT dt(777);
    EXPECT_EQ(dt.ParseRfc822Date(nullptr), nullptr);
}

TEST_F(CKzDateTimeText, ParseFormat)
{
    DT dt;
    ASSERT_NE(dt.ParseFormat(L"12/31/99", L"%m/%d/%y", g_DefaultDateTime), nullptr);
    DT::Tm tm = dt.GetTm();
    EXPECT_EQ(tm.year, 1999);
    EXPECT_EQ(tm.mon, DT::Dec);
    EXPECT_EQ(tm.mday, 31);
    ASSERT_NE(dt.ParseFormat(L"30", L"%y", g_DefaultDateTime), nullptr);
    EXPECT_EQ(dt.GetTm().year, 2030);
    ASSERT_NE(dt.ParseFormat(L"31", L"%y", g_DefaultDateTime), nullptr);
    EXPECT_EQ(dt.GetTm().year, 1931);

    const DT::Tm today = DT::UNow().GetTm();
    DT inv;
    ASSERT_NE(inv.ParseFormat(L"10:15", L"%H:%M", g_DefaultDateTime, false, true), nullptr);
    tm = inv.GetTm();
    EXPECT_EQ(tm.mday, today.mday);
    EXPECT_EQ(tm.hour, 10);
    EXPECT_EQ(tm.min, 15);
    EXPECT_EQ(tm.sec, 59);
    inv = DT();
    ASSERT_NE(inv.ParseFormat(L"10:15", L"%H:%M", g_DefaultDateTime, true, true), nullptr);
    EXPECT_EQ(inv.GetTm().sec, 0);

    // The reference supplies what the text does not.
    const DT ref = Utc(2011, 2, 16, 15, 4, 5, 678);
    ASSERT_NE(dt.ParseFormat(L"7", L"%H", ref), nullptr);
    EXPECT_EQ(dt.GetValue(), Utc(2011, 2, 16, 7, 4, 5, 678).GetValue());
    ASSERT_NE(dt.ParseFormat(L"9", L"%d", ref), nullptr);  // a day alone is used
    EXPECT_EQ(dt.GetValue(), Utc(2011, 2, 9, 15, 4, 5, 678).GetValue());

    ASSERT_NE(dt.ParseISODateTime(L"2004-02-29T23:59:60"), nullptr);
    EXPECT_EQ(W(dt.FormatDateTime(kUTC)), L"2004-03-01 00:00:00");

    struct Case { const wchar_t* text; const wchar_t* format; long long value; const wchar_t* rest; };
    const Case cases[] = {
        {L"2011 060", L"%Y %j", Utc(2011, 2, 1, 15, 4, 5, 678).GetValue(), L""},
        {L"march 5,   2011", L"%B %d, %Y", Utc(2011, 2, 5, 15, 4, 5, 678).GetValue(), L""},
        {L"Mar 5 2011", L"%b %d %Y", Utc(2011, 2, 5, 15, 4, 5, 678).GetValue(), L""},
        {L"07:30:00 PM", L"%r", Utc(2011, 2, 16, 19, 30, 0, 678).GetValue(), L""},
        {L"12:30:00 am", L"%r", Utc(2011, 2, 16, 0, 30, 0, 678).GetValue(), L""},
        {L"19:30", L"%R", Utc(2011, 2, 16, 19, 30, 5, 678).GetValue(), L""},
        {L"Sun Mar  5 14:07:09 1600", L"%c", Utc(1600, 2, 5, 14, 7, 9, 678).GetValue(), L""},
        {L"03/05/11 10:00:00", L"%x %X", Utc(2011, 2, 5, 10, 0, 0, 678).GetValue(), L""},
        {L"20110305xyz", L"%4Y%2m%2d", Utc(2011, 2, 5, 15, 4, 5, 678).GetValue(), L"xyz"},
        {L"100% 3", L"100%% %w", Utc(2011, 2, 16, 15, 4, 5, 678).GetValue(), L""},
        {L"Wednesday 16", L"%A %d", Utc(2011, 2, 16, 15, 4, 5, 678).GetValue(), L""},
    };
    for (const auto& c : cases) {
        DT d;
        const wchar_t* end = d.ParseFormat(c.text, c.format, ref);
        ASSERT_NE(end, nullptr) << std::wstring(c.text).size();
        EXPECT_EQ(d.GetValue(), c.value) << std::wstring(c.text).size();
        EXPECT_EQ(std::wstring(end), c.rest);
    }
    const Case bad[] = {
        {L"abc", L"%d", 0, nullptr}, {L"32", L"%d", 0, nullptr}, {L"24", L"%H", 0, nullptr},
        {L"13", L"%m", 0, nullptr}, {L"0", L"%I", 0, nullptr}, {L"5", L"%Q", 0, nullptr},
        {L"5", L"%d%", 0, nullptr}, {L"Foo", L"%B", 0, nullptr}, {L"Funday", L"%A", 0, nullptr},
        {L"10 xm", L"%I %p", 0, nullptr}, {L"99999999999999999999", L"%Y", 0, nullptr},
        {L"2011-03", L"%Y-%m-%d", 0, nullptr}, {L"7", L"", 0, nullptr},
        {L"1/2/3/4", L"%c", 0, nullptr},
    };
    for (const auto& c : bad) {
        DT d(4242);
        const wchar_t* end = d.ParseFormat(c.text, c.format, ref);
        EXPECT_EQ(end, nullptr) << std::wstring(c.text).size() << " " << std::wstring(c.format).size();
        EXPECT_EQ(d.GetValue(), 4242);
    }
    EXPECT_EQ(dt.ParseFormat(nullptr, L"%d", ref), nullptr);
    EXPECT_EQ(dt.ParseFormat(L"5", nullptr, ref), nullptr);
}

TEST_F(CKzDateTimeText, ParseTime)
{
    const DT::Tm today = DT::UNow().GetTm();
    DT dt;
    const wchar_t* t = L"midnight";
    EXPECT_EQ(dt.ParseTime(t), t + 8);
    DT::Tm tm = dt.GetTm();
    EXPECT_EQ(tm.mday, today.mday);
    EXPECT_EQ(tm.hour, 0);
    EXPECT_EQ(tm.min, 0);
    EXPECT_EQ(tm.msec, 0);
    t = L"NOON!";
    EXPECT_EQ(dt.ParseTime(t), t + 4);
    EXPECT_EQ(dt.GetTm().hour, 12);
    t = L"7 pm";
    EXPECT_EQ(dt.ParseTime(t), t + 1);  // "%H" comes before "%I %p"
    EXPECT_EQ(dt.GetTm().hour, 7);
    t = L"14:05:06";
    EXPECT_EQ(dt.ParseTime(t), t + 8);
    tm = dt.GetTm();
    EXPECT_EQ(tm.hour, 14);
    EXPECT_EQ(tm.min, 5);
    EXPECT_EQ(tm.sec, 6);
    t = L"02:05:06 PM";  // "%X" is tried first and stops before the mark
    EXPECT_EQ(dt.ParseTime(t), t + 8);
    EXPECT_EQ(dt.GetTm().hour, 2);
    t = L"2:05 pm";
    EXPECT_EQ(dt.ParseTime(t), t + 4);  // "%H:%M" before "%I:%M %p"
    EXPECT_EQ(dt.GetTm().hour, 2);
    DT keep(99);
    EXPECT_EQ(keep.ParseTime(L"xyz"), nullptr);
    EXPECT_EQ(keep.ParseTime(nullptr), nullptr);
    EXPECT_EQ(keep.GetValue(), 99);
}

TEST_F(CKzDateTimeText, ParseDate)
{
    const DT now = DT::UNow();
    DT midnight = now;
    midnight.ResetTime();
    DT dt;
    const wchar_t* t = L"  tomorrow";
    EXPECT_EQ(dt.ParseDate(t), t + 10);
    EXPECT_EQ(dt.GetValue(), midnight.GetValue() + 86400000LL);
    EXPECT_NE(dt.ParseDate(L"Yesterday"), nullptr);
    EXPECT_EQ(dt.GetValue(), midnight.GetValue() - 86400000LL);
    EXPECT_NE(dt.ParseDate(L"today"), nullptr);
    EXPECT_EQ(dt.GetValue(), midnight.GetValue());

    t = L"March 5 2011 at noon";
    EXPECT_EQ(dt.ParseDate(t), t + 12);
    EXPECT_EQ(dt.GetValue(), Utc(2011, 2, 5).GetValue());
    EXPECT_NE(dt.ParseDate(L"5.3.2011"), nullptr);  // month first
    EXPECT_EQ(dt.GetValue(), Utc(2011, 4, 3).GetValue());
    EXPECT_NE(dt.ParseDate(L"third-Mar-2011"), nullptr);
    EXPECT_EQ(dt.GetValue(), Utc(2011, 2, 3).GetValue());
    EXPECT_NE(dt.ParseDate(L"Saturday, March 5, 2011"), nullptr);  // the week day is ignored
    EXPECT_EQ(dt.GetValue(), Utc(2011, 2, 5).GetValue());
    EXPECT_NE(dt.ParseDate(L"Dec 25"), nullptr);
    EXPECT_EQ(dt.GetTm().year, now.GetTm().year);
    EXPECT_EQ(dt.GetTm().mday, 25);

    t = L"Monday";
    EXPECT_EQ(dt.ParseDate(t), t + 6);
    const DT::Tm m = dt.GetTm();
    EXPECT_EQ(m.hour, 0);
    EXPECT_EQ(DT::Tm(dt.GetTm()).GetWeekDay(), DT::Mon);
    EXPECT_LT(std::llabs(dt.GetValue() - midnight.GetValue()), 7 * 86400000LL);

    const wchar_t* bad[] = {L"hello", L"5 March 2011", L"25/2011", L"Monday 5", L"Monday March 2011", L"",
                            L"fifth 2011", L"13 2011", L"March"};
    for (const wchar_t* b : bad) {
        DT d(31337);
        EXPECT_EQ(d.ParseDate(b), nullptr) << std::wstring(b).size();
        EXPECT_EQ(d.GetValue(), 31337);
    }
    EXPECT_EQ(dt.ParseDate(nullptr), nullptr);
}

TEST_F(CKzDateTimeText, ParseDateTimeUnderstandsItsOwnTextOrFails)
{
    DT dt(12345);
    const wchar_t* t = L"  2010-01-01";
    EXPECT_EQ(dt.ParseDateTime(t), t + 12);
    DT::Tm tm = dt.GetTm();
    EXPECT_EQ(tm.year, 2010);
    EXPECT_EQ(tm.mon, DT::Jan);
    EXPECT_EQ(tm.mday, 1);
    t = L"2010-01-01 10:15:30";
    EXPECT_EQ(dt.ParseDateTime(t), t + 19);
    EXPECT_EQ(dt.GetValue(), Utc(2010, 0, 1, 10, 15, 30, 345).GetValue());  // the millisecond stays
    DT fresh;
    EXPECT_EQ(fresh.ParseDateTime(t), t + 19);
    EXPECT_EQ(fresh.GetValue(), Utc(2010, 0, 1, 10, 15, 30, 0).GetValue());

    // What FormatDateTime writes reads back.
    const DT v = Utc(2023, 6, 14, 8, 9, 10);
    DT back;
    const CKzStringW text = v.FormatDateTime();
    ASSERT_NE(back.ParseDateTime(text.GetString()), nullptr);
    EXPECT_EQ(back.GetValue(), v.GetValue());

    // Nothing understood: failure, value unchanged.
    DT keep(555);
    EXPECT_EQ(keep.ParseDateTime(L"nonsense"), nullptr);
    EXPECT_EQ(keep.ParseDateTime(L"   "), nullptr);
    EXPECT_EQ(keep.ParseDateTime(nullptr), nullptr);
    EXPECT_EQ(keep.ParseLocaleDate(L"nonsense"), nullptr);
    EXPECT_EQ(keep.ParseLocaleTime(L"nonsense"), nullptr);
    EXPECT_EQ(keep.GetValue(), 555);
    // A date with something after it that is no time keeps the date only.
    t = L"2010-01-01 xyz";
    EXPECT_EQ(keep.ParseDateTime(t), t + 10);
}

TEST_F(CKzDateTimeText, ParseFormatWideFieldsDoNotWrap)
{
    // A width longer than any number lets a field read many digits; the value
    // must saturate and be refused, never wrap into range (2^64 + 2011 here).
    struct Case { const wchar_t* text; const wchar_t* format; int year; };
    const Case cases[] = {
        {L"18446744073709553627", L"%20Y", 0},
        {L"36893488147419105243", L"%30Y", 0},
        {L"000000000000000000000000002011", L"%30Y", 2011},  // leading zeros are fine
        {L"00000000000000000000000000000000000000000000000002011", L"%99Y", 2011},
    };
    const DT ref = Utc(2011, 2, 16, 15, 4, 5, 678);
    for (const auto& c : cases) {
        DT d(4242);
        const wchar_t* end = d.ParseFormat(c.text, c.format, ref);
        if (c.year == 0) {
            EXPECT_EQ(end, nullptr) << std::wstring(c.format).size();
            EXPECT_EQ(d.GetValue(), 4242);
        } else {
            ASSERT_NE(end, nullptr);
            EXPECT_EQ(*end, 0);
            EXPECT_EQ(d.GetTm().year, c.year);
        }
    }
}

// Formatting and parsing take the same daylight-saving decision for every
// year: what FormatDateTime writes in the process zone, and an RFC 822 text
// written with an explicit offset, read back as the same instant, from 1600
// to 2400, with summer dates before 1970 and after 2037 included.
TEST_F(CKzDateTimeText, FormatThenParseKeepsTheInstantInEveryYear)
{
    const long long kFirst = Utc(1600, 0, 1).GetValue() / 1000;
    const long long kLast = Utc(2400, 11, 31, 23, 59, 59).GetValue() / 1000;
    std::mt19937_64 rng(20261210);
    std::vector<long long> seconds;
    for (int i = 0; i < 600; ++i) seconds.push_back(kFirst + (long long)(rng() % (unsigned long long)(kLast - kFirst)));
    // Summer days (noon UTC and around it) before 1970 and after 2037.
    for (int year : {1601, 1789, 1900, 1944, 1955, 1968, 1969, 2038, 2040, 2099, 2100, 2222, 2399}) {
        for (int month : {5, 6, 7}) {
            for (int hour : {0, 9, 12, 22}) seconds.push_back(Utc(year, month, 15, hour, 30, 17).GetValue() / 1000);
        }
    }
    struct Zone { const char* tz; const char* file; };
    const Zone zones[] = {{"UTC0", nullptr},
                          {"Europe/Berlin", "/usr/share/zoneinfo/Europe/Berlin"},
                          {"America/New_York", "/usr/share/zoneinfo/America/New_York"},
                          {"CET-1CEST,M3.5.0,M10.5.0/3", nullptr},
                          {"EST5EDT,M3.2.0,M11.1.0", nullptr}};
    for (const Zone& z : zones) {
        if (z.file && access(z.file, R_OK) != 0) continue;
        PinZone(z.tz);
        SCOPED_TRACE(z.tz);
        int ambiguous = 0;
        for (long long s : seconds) {
            const DT v(s * 1000);
            const std::wstring text = W(v.FormatDateTime());
            // The hour that repeats when daylight saving ends cannot be told
            // apart without an offset: such texts are not expected to round-trip.
            if (text == W(DT((s - 3600) * 1000).FormatDateTime()) || text == W(DT((s + 3600) * 1000).FormatDateTime())) {
                ++ambiguous;
                continue;
            }
            DT back(0);
            const wchar_t* end = back.ParseDateTime(text.c_str());
            ASSERT_NE(end, nullptr) << std::string(text.begin(), text.end());
            EXPECT_EQ(*end, 0);
            EXPECT_EQ(back.GetValue(), v.GetValue()) << std::string(text.begin(), text.end());

            // RFC 822 in UTC and at fixed offsets east and west (none of them
            // the standard offset of a zone above, which would count as local).
            struct Offset { DT::TZ code; const wchar_t* text; };
            const Offset offsets[] = {{DT::UTC, L"+0000"}, {static_cast<DT::TZ>(DT::UTC + 2), L"+0200"},
                                      {static_cast<DT::TZ>(DT::UTC - 8), L"-0800"}, {DT::A_CST, L"+0930"}};
            for (const Offset& o : offsets) {
                const std::wstring format = std::wstring(L"%a, %d %b %Y %H:%M:%S ") + o.text;
                const std::wstring rfc = W(v.Format(format.c_str(), DT::TimeZone(o.code)));
                DT r(0);
                ASSERT_NE(r.ParseRfc822Date(rfc.c_str()), nullptr) << std::string(rfc.begin(), rfc.end());
                EXPECT_EQ(r.GetValue(), v.GetValue()) << std::string(rfc.begin(), rfc.end());
            }
        }
        EXPECT_LE(ambiguous, 4);
    }
}

// Summer dates outside 1970..2037, in a zone with daylight saving: the
// fields the setter takes and the fields GetTm gives describe the same
// instant, and RFC 822 texts ignore the process zone.
TEST_F(CKzDateTimeText, SummerDatesOutsideTheClassicRange)
{
    PinZone("CET-1CEST,M3.5.0,M10.5.0/3");
    struct Case { int year; int hourUtc; };   // local time is UTC + 2 in summer from 1970 on, + 1 before
    const Case cases[] = {{2040, 10}, {2100, 10}, {2399, 10}, {1968, 11}, {1900, 11}, {1600, 11}};
    for (const Case& c : cases) {
        DT dt;
        ASSERT_EQ(&dt.Set(15, DT::Jul, c.year, 12, 0, 0, 0), &dt);
        EXPECT_EQ(dt.GetValue(), Utc(c.year, 6, 15, c.hourUtc).GetValue()) << c.year;
        EXPECT_EQ(dt.GetTm().hour, 12) << c.year;
        // Local fields moved to a UTC clock.
        DT moved = dt;
        moved.MakeTimezone(DT::TimeZone(DT::UTC));
        EXPECT_EQ(moved.GetValue(), Utc(c.year, 6, 15, 12).GetValue()) << c.year;
    }
    for (const char* zone : {"UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0"}) {
        PinZone(zone);
        DT r;
        ASSERT_NE(r.ParseRfc822Date(L"Mon, 15 Jul 1968 12:00:00 +0000"), nullptr);
        EXPECT_EQ(r.GetValue(), Utc(1968, 6, 15, 12).GetValue()) << zone;
        ASSERT_NE(r.ParseRfc822Date(L"15 Jul 2040 12:00:00 EDT"), nullptr);
        EXPECT_EQ(r.GetValue(), Utc(2040, 6, 15, 16).GetValue()) << zone;
        // Fields in the hour a local clock skips still name one instant.
        ASSERT_NE(r.ParseRfc822Date(L"30 Mar 2025 02:30:00 +0000"), nullptr);
        EXPECT_EQ(r.GetValue(), Utc(2025, 2, 30, 2, 30).GetValue()) << zone;
    }
    // One second before 1970 in a zone east of UTC is a valid instant.
    PinZone("CET-1CEST,M3.5.0,M10.5.0/3");
    DT edge;
    ASSERT_EQ(&edge.Set(1, DT::Jan, 1970, 0, 59, 59, 0), &edge);
    EXPECT_EQ(edge.GetValue(), -1000);
}
