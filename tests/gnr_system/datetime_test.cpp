// Date-time values: Julian days and calendar fields against Python's datetime
// (scripts/gen_datetime_reference.py), daylight-saving rules against the
// system's zone data, and the documented edge cases.
#include "gnr_system/CKzDateTime.h"

#include <gtest/gtest.h>

#include <limits>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {
#include "datetime_reference.inc"

typedef CKzDateTime DT;

// Pins the process zone for the life of the object and restores it after.
class ScopedTZ {
public:
    explicit ScopedTZ(const char* zone)
    {
        const char* old = std::getenv("TZ");
        m_had = old != nullptr;
        if (m_had) m_old = old;
        setenv("TZ", zone, 1);
        tzset();
        DT::RefreshZoneInfo();
    }
    ~ScopedTZ()
    {
        if (m_had) setenv("TZ", m_old.c_str(), 1);
        else unsetenv("TZ");
        tzset();
        DT::RefreshZoneInfo();
    }

private:
    bool m_had = false;
    std::string m_old;
};

bool HaveZone(const char* name)
{
    return access((std::string("/usr/share/zoneinfo/") + name).c_str(), R_OK) == 0;
}

const DT::TimeZone kUTC(DT::UTC);

}  // namespace

TEST(CKzDateTime, CalendarAgreesWithPython)
{
    for (const auto& r : kDateReference) {
        SCOPED_TRACE(r.ms);
        DT dt(r.ms);
        DT::Tm tm = dt.GetTm(kUTC);
        EXPECT_EQ(tm.year, r.year);
        EXPECT_EQ(tm.mon, r.month);
        EXPECT_EQ(tm.mday, r.day);
        EXPECT_EQ(tm.hour, r.hour);
        EXPECT_EQ(tm.min, r.minute);
        EXPECT_EQ(tm.sec, r.second);
        EXPECT_EQ(tm.msec, r.millisecond);
        EXPECT_TRUE(tm.IsValid());
        EXPECT_EQ(tm.GetWeekDay(), r.weekday);
        EXPECT_EQ(dt.GetDayOfYear(kUTC), r.yearday);

        DT::Tm fresh;
        fresh.mday = static_cast<unsigned short>(r.day);
        fresh.mon = static_cast<DT::Month>(r.month);
        fresh.year = r.year;
        fresh.ComputeWeekDay();
        EXPECT_EQ(fresh.wday, r.weekday);

        const long long days = static_cast<long long>(std::floor(r.ms / 86400000.0));
        EXPECT_EQ(KZ_TruncatedJulianDay(r.day, r.month, r.year) - 2440587, days);
    }
}

TEST(CKzDateTime, JulianDayNumbersAgreeWithPython)
{
    for (const auto& r : kDateReference) {
        SCOPED_TRACE(r.ms);
        DT dt(r.ms);
        // A double near 2.4e6 days resolves about 5e-10 day (0.04 ms).
        EXPECT_NEAR(dt.GetJulianDayNumber(), r.jdn, 2e-9);
        EXPECT_NEAR(dt.GetRataDie(), r.jdn - 1721425.5, 2e-9);
        // GetJulianDayNumber and Set(double) round-trip to the millisecond,
        // before 1970 as well.
        DT back;
        back.Set(dt.GetJulianDayNumber());
        EXPECT_EQ(back.GetValue(), r.ms);
        DT fromPython;
        fromPython.Set(r.jdn);
        EXPECT_LE(std::llabs(fromPython.GetValue() - r.ms), 1);
    }
    DT dt;
    dt.Set(2440587.5);
    EXPECT_EQ(dt.GetValue(), 0);
    EXPECT_EQ(DT(0).GetJulianDayNumber(), 2440587.5);
}

TEST(CKzDateTime, JulianDayOutOfRangeIsInvalid)
{
    const double bad[] = {NAN, INFINITY, -INFINITY, 1e300, -1e300, 1e12, -1e12};
    for (double j : bad) {
        DT dt(12345);
        dt.Set(j);
        EXPECT_EQ(dt.GetValue(), -1) << j;
    }
    // Stored values far beyond the calendar's range break down to no date.
    for (long long v : {9223372036854775807LL, -9223372036854775807LL - 1, 9000000000000000000LL}) {
        DT::Tm tm = DT(v).GetTm(kUTC);
        EXPECT_EQ(tm.year, DT::Inv_Year);
        EXPECT_FALSE(tm.IsValid());
        DT(v).GetTm();
        EXPECT_EQ(DT(v).GetWeekOfYear(), 0);
        EXPECT_EQ(DT(v).GetDayOfYear(), 0);
        struct tm rec;
        DT(v).FillTmStruct(&rec);
        EXPECT_EQ(rec.tm_year, 0);
        DT moved(v);
        EXPECT_NE(&moved.Add(CKzDateSpan(0, 1, 0, 0)), &moved);
        EXPECT_EQ(moved.GetValue(), v);
    }
}

TEST(CKzDateTime, SetFromLocalFields)
{
    ScopedTZ tz("EST5EDT,M3.2.0,M11.1.0");
    EXPECT_EQ(DT::GetSystemOffset(), 5 * 3600);
    // Years 1970..2037 go through the C library (daylight saving known).
    DT dt;
    ASSERT_EQ(&dt.Set(4, DT::Jul, 2010, 12, 30, 15, 250), &dt);
    EXPECT_EQ(dt.GetValue(), 1278261015250LL);  // 2010-07-04 16:30:15.250 UTC
    DT::Tm tm = dt.GetTm();
    EXPECT_EQ(tm.hour, 12);
    EXPECT_EQ(tm.msec, 250);
    EXPECT_EQ(tm.offset, -5 * 3600);
    // Other years: local standard time, by the calendar.
    ASSERT_EQ(&dt.Set(1, DT::Jan, 1600, 0, 0, 0, 0), &dt);
    EXPECT_EQ(dt.GetValue(), -11676096000000LL + 5 * 3600 * 1000LL);
    tm = dt.GetTm();
    EXPECT_EQ(tm.year, 1600);
    EXPECT_EQ(tm.mon, DT::Jan);
    EXPECT_EQ(tm.mday, 1);
    EXPECT_EQ(tm.hour, 0);
    EXPECT_EQ(tm.min, 0);
    EXPECT_EQ(tm.msec, 0);
    EXPECT_EQ(tm.wday, DT::Inv_WeekDay);
    // Out-of-range fields carry over.
    ASSERT_EQ(&dt.Set(32, DT::Dec, 2050, 25, 0, 0, 0), &dt);
    tm = dt.GetTm();
    EXPECT_EQ(tm.year, 2051);
    EXPECT_EQ(tm.mon, DT::Jan);
    EXPECT_EQ(tm.mday, 2);
    EXPECT_EQ(tm.hour, 1);

    DT midnight(0);
    EXPECT_EQ(midnight.GetTm(kUTC).hour, 0);
    const DT::Tm m1 = DT(-1).GetTm(kUTC);
    EXPECT_EQ(m1.year, 1969);
    EXPECT_EQ(m1.mon, DT::Dec);
    EXPECT_EQ(m1.mday, 31);
    EXPECT_EQ(m1.hour, 23);
    EXPECT_EQ(m1.min, 59);
    EXPECT_EQ(m1.sec, 59);
    EXPECT_EQ(m1.msec, 999);
}

TEST(CKzDateTime, FailedSetterNeverTouchesTheDefault)
{
    DT dt(5000);
    struct tm bad;
    std::memset(&bad, 0, sizeof(bad));
    bad.tm_year = 2147483647;  // mktime cannot represent it
    bad.tm_mday = 1;
    DT& r = dt.Set(bad);
    EXPECT_NE(&r, &dt);
    EXPECT_NE(&r, &g_DefaultDateTime);
    EXPECT_EQ(r.GetValue(), -1);
    r.SetMillisecond(7);
    r.Set(2440600.5);
    EXPECT_EQ(g_DefaultDateTime.GetValue(), -1);
    EXPECT_EQ(dt.GetValue(), 5000);
    // The next failure hands back an invalid value again.
    EXPECT_EQ(dt.Set(bad).GetValue(), -1);

    // Months outside the table are refused rather than indexed.
    DT d2(1000);
    EXPECT_NE(&d2.Set(1, static_cast<DT::Month>(40), 2000), &d2);
    EXPECT_NE(&d2.Set(1, static_cast<DT::Month>(-3), 2000), &d2);
    EXPECT_EQ(d2.GetValue(), 1000);
    EXPECT_EQ(d2.GetValue(), 1000);
    EXPECT_NE(&d2.SetToLastMonthDay(static_cast<DT::Month>(13), 2000), &d2);
    EXPECT_FALSE(d2.SetToWeekDay(static_cast<DT::WeekDay>(9), 1, DT::Jan, 2000));
    EXPECT_FALSE(d2.SetToWeekDay(DT::Sun, 1, static_cast<DT::Month>(77), 2000));
    EXPECT_NE(&d2.SetToNextWeekDay(static_cast<DT::WeekDay>(7)), &d2);
    EXPECT_EQ(d2.GetValue(), 1000);
    EXPECT_EQ(DT::GetNumberOfDays(static_cast<DT::Month>(13), 2000), 0);
    EXPECT_EQ(DT::GetNumberOfDays(DT::Feb, 2000, static_cast<DT::Calendar>(5)), 0);
    EXPECT_EQ(DT::GetNumberOfDays(2000, static_cast<DT::Calendar>(2)), 0);
    EXPECT_FALSE(DT::IsLeapYear(2000, static_cast<DT::Calendar>(3)));
}

TEST(CKzDateTime, ZoneCodesAreBounded)
{
    struct Case { int code; int offset; };
    const Case cases[] = {{1, -12 * 3600}, {13, 0}, {25, 12 * 3600}, {26, 34200}, {27, 0}, {1000, 0}, {-5, 0}};
    for (const auto& c : cases) EXPECT_EQ(DT::TimeZone(static_cast<DT::TZ>(c.code)).GetOffset(), c.offset) << c.code;
    EXPECT_EQ(DT::TimeZone::FromOffset(3600).GetOffset(), 3600);
    EXPECT_EQ(DT::TimeZone::FromOffset(1 << 30).GetOffset(), 0);
    // Day after adding +12 h to 1970-01-01 13:00 UTC.
    DT::Tm tm = DT(13 * 3600 * 1000LL).GetTm(DT::TimeZone(DT::GMT12));
    EXPECT_EQ(tm.mday, 2);
    EXPECT_EQ(tm.hour, 1);
    EXPECT_EQ(tm.offset, 12 * 3600);
    // -12 h of 1970-01-01 05:00 UTC lies before the epoch: the calendar path.
    tm = DT(5 * 3600 * 1000LL).GetTm(DT::TimeZone(DT::GMT_12));
    EXPECT_EQ(tm.year, 1969);
    EXPECT_EQ(tm.mday, 31);
    EXPECT_EQ(tm.hour, 17);
}

TEST(CKzDateTime, BrokenDownOperations)
{
    struct W { int d, m, y, wd; };
    const W wd[] = {{1, 0, 1970, 4}, {29, 1, 2000, 2}, {1, 0, 1600, 6}, {4, 6, 1776, 4}, {1, 0, -4800, 6}, {1, 0, 1, 1}};
    for (const auto& c : wd) {
        DT::Tm tm;
        tm.mday = static_cast<unsigned short>(c.d);
        tm.mon = static_cast<DT::Month>(c.m);
        tm.year = c.y;
        tm.ComputeWeekDay();
        EXPECT_EQ(tm.wday, c.wd) << c.y;
    }
    DT::Tm tm;
    tm.mday = 31;
    tm.mon = DT::Jan;
    tm.year = 2001;
    tm.AddMonths(13);
    EXPECT_EQ(tm.mon, DT::Feb);
    EXPECT_EQ(tm.year, 2002);
    tm.AddMonths(-26);
    EXPECT_EQ(tm.mon, DT::Dec);
    EXPECT_EQ(tm.year, 1999);
    tm.mday = 31;
    tm.AddDays(1);
    EXPECT_EQ(tm.mday, 1);
    EXPECT_EQ(tm.mon, DT::Jan);
    EXPECT_EQ(tm.year, 2000);
    tm.AddDays(-365 - 365);
    EXPECT_EQ(tm.year, 1998);
    EXPECT_EQ(tm.mon, DT::Jan);
    EXPECT_EQ(tm.mday, 1);
    tm.AddDays(2147483647);  // no loop over millions of months, still a date
    EXPECT_TRUE(tm.IsValid());

    DT::Tm inv;
    EXPECT_FALSE(inv.IsValid());
    DT::Tm ok;
    ok.mday = 29;
    ok.mon = DT::Feb;
    ok.year = 2000;
    EXPECT_TRUE(ok.IsValid());
    ok.year = 1900;
    EXPECT_FALSE(ok.IsValid());
    ok.mday = 1;
    ok.sec = 61;
    EXPECT_TRUE(ok.IsValid());
    ok.sec = 62;
    EXPECT_FALSE(ok.IsValid());

    EXPECT_FALSE(DT::IsLeapYear(1900, DT::Gregorian));
    EXPECT_TRUE(DT::IsLeapYear(2000, DT::Gregorian));
    EXPECT_TRUE(DT::IsLeapYear(1900, DT::Julian));
    EXPECT_EQ(DT::GetNumberOfDays(DT::Feb, 1900), 28);
    EXPECT_EQ(DT::GetNumberOfDays(DT::Feb, 1900, DT::Julian), 28);
    EXPECT_EQ(DT::GetNumberOfDays(2000), 366);
    EXPECT_EQ(DT::GetCentury(1999), 19);
    EXPECT_EQ(DT::GetCentury(-50), -1);
    EXPECT_EQ(DT::ConvertYearToBC(0), -1);
    EXPECT_EQ(DT::ConvertYearToBC(5), 5);
    EXPECT_EQ(DT::ConvertYearToBC(DT::Inv_Year), DT::Inv_Year);
    EXPECT_EQ(DT::GetCurrentYear(DT::Julian), DT::Inv_Year);
    EXPECT_EQ(DT::GetCurrentMonth(DT::Julian), DT::Inv_Month);
    EXPECT_GE(DT::GetCurrentYear(), 2024);
}

TEST(CKzDateTime, CalendarMoves)
{
    ScopedTZ tz("UTC0");
    DT dt;
    dt.Set(31, DT::Jan, 2001, 10, 20, 30, 400);
    dt.Add(CKzDateSpan(0, 1, 0, 0));
    DT::Tm tm = dt.GetTm();
    EXPECT_EQ(tm.mon, DT::Feb);
    EXPECT_EQ(tm.mday, 28);
    EXPECT_EQ(tm.hour, 10);
    EXPECT_EQ(tm.msec, 400);
    dt.Add(CKzDateSpan(1, 0, 1, 1));
    tm = dt.GetTm();
    EXPECT_EQ(tm.year, 2002);
    EXPECT_EQ(tm.mon, DT::Mar);
    EXPECT_EQ(tm.mday, 8);

    ASSERT_TRUE(dt.SetToWeekDay(DT::Sun, -1, DT::Mar, 2011));
    tm = dt.GetTm();
    EXPECT_EQ(tm.mday, 27);
    EXPECT_EQ(tm.mon, DT::Mar);
    EXPECT_EQ(tm.hour, 0);
    const long long before = dt.GetValue();
    EXPECT_FALSE(dt.SetToWeekDay(DT::Sun, 5, DT::Feb, 2011));
    EXPECT_FALSE(dt.SetToWeekDay(DT::Sun, 0, DT::Mar, 2011));  // a week past the last
    EXPECT_EQ(dt.GetValue(), before);
    ASSERT_TRUE(dt.SetToWeekDay(DT::Tue, 1, DT::Mar, 2011));
    EXPECT_EQ(dt.GetTm().mday, 1);
    ASSERT_TRUE(dt.SetToWeekDay(DT::Mon, 2, DT::Mar, 2011));
    EXPECT_EQ(dt.GetTm().mday, 14);
    EXPECT_FALSE(dt.SetToWeekDay(DT::Mon, 2147483647, DT::Mar, 2011));
    EXPECT_FALSE(dt.SetToWeekDay(DT::Mon, -2147483647 - 1, DT::Mar, 2011));

    dt.Set(16, DT::Mar, 2011, 15);  // a Wednesday
    DT x = dt;
    x.SetToWeekDayInSameWeek(DT::Sun);
    EXPECT_EQ(x.GetTm().mday, 13);
    x = dt;
    x.SetToNextWeekDay(DT::Mon);
    EXPECT_EQ(x.GetTm().mday, 21);
    x = dt;
    x.SetToNextWeekDay(DT::Wed);
    EXPECT_EQ(x.GetTm().mday, 16);
    x = dt;
    x.SetToPrevWeekDay(DT::Thu);
    EXPECT_EQ(x.GetTm().mday, 10);
    x = dt;
    x.SetToLastMonthDay();
    EXPECT_EQ(x.GetTm().mday, 31);
    EXPECT_EQ(x.GetTm().hour, 0);
    x.SetToLastMonthDay(DT::Feb, 2012);
    EXPECT_EQ(x.GetTm().mday, 29);
    x = dt;
    x.SetToYearDay(60);
    EXPECT_EQ(x.GetTm().mon, DT::Mar);
    EXPECT_EQ(x.GetTm().mday, 1);
    x = dt;
    x.ResetTime();
    EXPECT_EQ(x.GetTm().hour, 0);
    EXPECT_EQ(x.GetTm().mday, 16);
    x = dt;
    ASSERT_TRUE(x.SetToTheWeek(2, DT::Mon));
    EXPECT_EQ(x.GetTm().mday, 17);  // week of 4 Jan 2011 (Sun 2 .. Sat 8), Monday 3, plus two weeks
    x = dt;
    EXPECT_FALSE(x.SetToTheWeek(60, DT::Mon));
    EXPECT_EQ(x.GetValue(), dt.GetValue());

    x = dt;
    x.SetHour(5).SetMinute(6);
    x.SetSecond(7);
    x.SetDay(2);
    x.SetMonth(DT::Apr);
    x.SetYear(1999);
    tm = x.GetTm();
    EXPECT_EQ(tm.year, 1999);
    EXPECT_EQ(tm.mon, DT::Apr);
    EXPECT_EQ(tm.mday, 2);
    EXPECT_EQ(tm.hour, 5);
    EXPECT_EQ(tm.min, 6);
    EXPECT_EQ(tm.sec, 7);

    struct tm rec;
    dt.FillTmStruct(&rec);
    EXPECT_EQ(rec.tm_year, 111);
    EXPECT_EQ(rec.tm_mon, 2);
    EXPECT_EQ(rec.tm_mday, 16);
    EXPECT_EQ(rec.tm_wday, 3);
    EXPECT_EQ(rec.tm_yday, 75);
    EXPECT_EQ(rec.tm_isdst, -1);
    EXPECT_EQ(rec.tm_hour, 15);
    dt.FillTmStruct(nullptr);

    // Week numbers (1 Jan 2011 was a Saturday).
    EXPECT_EQ(dt.GetWeekOfYear(DT::Monday_First), 11);
    EXPECT_EQ(dt.GetWeekOfYear(DT::Sunday_First), 11);
    EXPECT_EQ(dt.GetWeekOfMonth(DT::Monday_First), 3);
    DT::SetCountry(DT::USA);
    EXPECT_EQ(dt.GetWeekOfYear(DT::Default_First), dt.GetWeekOfYear(DT::Sunday_First));
    DT::SetCountry(DT::Country_Unknown);
}

TEST(CKzDateTime, UNowAndMakeTimezone)
{
    ScopedTZ tz("CET-1CEST,M3.5.0,M10.5.0/3");
    const DT a = DT::UNow();
    const long long wall = static_cast<long long>(time(nullptr)) * 1000;
    EXPECT_LE(std::llabs(a.GetValue() - wall), 2000);
    // Fields set as local winter time, moved to what a UTC clock showed.
    DT dt;
    dt.Set(15, DT::Jan, 2020, 12, 0, 0, 0);
    dt.MakeTimezone(DT::TimeZone(DT::UTC));
    EXPECT_EQ(dt.GetTm(kUTC).hour, 12);
    // Summer: daylight saving considered unless told not to.
    dt.Set(15, DT::Jul, 2020, 12, 0, 0, 0);
    DT noDst = dt;
    dt.MakeTimezone(DT::TimeZone(DT::UTC));
    EXPECT_EQ(dt.GetTm(kUTC).hour, 12);
    noDst.MakeTimezone(DT::TimeZone(DT::UTC), true);
    EXPECT_EQ(noDst.GetTm(kUTC).hour, 11);  // the hour of daylight saving is not removed
    // Set(hour, ...) keeps today's date.
    DT today;
    today.Set(3, 4, 5, 6);
    const DT::Tm t = today.GetTm();
    EXPECT_EQ(t.hour, 3);
    EXPECT_EQ(t.min, 4);
    EXPECT_EQ(t.sec, 5);
    EXPECT_EQ(t.msec, 6);
    EXPECT_EQ(t.mday, a.GetTm().mday);
}

TEST(CKzDateTime, CountryFromZone)
{
    struct Case { const char* zone; const char* file; DT::Country c; };
    const Case cases[] = {
        {"Europe/Berlin", "Europe/Berlin", DT::Country_EEC},
        {"Europe/Lisbon", "Europe/Lisbon", DT::UK},
        {"America/New_York", "America/New_York", DT::USA},
        {"CET-1CEST", nullptr, DT::Country_EEC},
        {"MSK-3", nullptr, DT::Russia},
        {"XYZ-7", nullptr, DT::USA},
    };
    for (const auto& c : cases) {
        if (c.file != nullptr && !HaveZone(c.file)) continue;
        ScopedTZ tz(c.zone);
        EXPECT_EQ(DT::GetCountry(), c.c) << c.zone;
        EXPECT_EQ(DT::ms_country, c.c);
    }
    DT::SetCountry(DT::France);
    EXPECT_EQ(DT::GetCountry(), DT::France);
    EXPECT_TRUE(DT::IsWestEuropeanCountry());
    EXPECT_FALSE(DT::IsWestEuropeanCountry(DT::Russia));
    DT::SetCountry(DT::Country_Unknown);
}

TEST(CKzDateTime, DaylightSavingRulesTable)
{
    ScopedTZ tz("EST5EDT,M4.1.0,M10.5.0");
    EXPECT_FALSE(DT::IsDSTApplicable(1960, DT::USA));
    EXPECT_TRUE(DT::IsDSTApplicable(1943, DT::USA));
    EXPECT_TRUE(DT::IsDSTApplicable(1966, DT::UK));
    EXPECT_FALSE(DT::IsDSTApplicable(1950, DT::Germany));
    EXPECT_TRUE(DT::IsDSTApplicable(1951, DT::Germany));
    EXPECT_EQ(DT::GetBeginDST(1960, DT::USA).GetValue(), -1);
    EXPECT_EQ(DT::GetEndDST(1920, DT::Russia).GetValue(), -1);

    // 5 April 2004 02:00 local (the first Sunday of April rule).
    DT b = DT::GetBeginDST(2004, DT::USA);
    DT::Tm tm = b.GetTm();
    EXPECT_EQ(tm.mon, DT::Apr);
    EXPECT_EQ(tm.mday, 4);
    EXPECT_EQ(tm.hour, 3);  // 02:00 standard is shown as 03:00 daylight time
    EXPECT_EQ(b.GetTm(kUTC).hour, 7);
    DT e = DT::GetEndDST(1945, DT::USA);
    EXPECT_EQ(e.GetTm().mon, DT::Sep);
    EXPECT_EQ(e.GetTm().mday, 30);
    e = DT::GetBeginDST(1942, DT::USA);
    EXPECT_EQ(e.GetTm().mon, DT::Feb);
    EXPECT_EQ(e.GetTm().mday, 2);
    e = DT::GetBeginDST(1975, DT::USA);
    EXPECT_EQ(e.GetTm().mday, 23);
    // Other countries: fixed dates.
    e = DT::GetBeginDST(1990, DT::Country_Unknown);
    EXPECT_EQ(e.GetTm().mon, DT::Mar);
    EXPECT_EQ(e.GetTm().mday, 30);
    // European rule: 01:00 UTC on the last Sunday of March.
    e = DT::GetBeginDST(2011, DT::Germany);
    tm = e.GetTm(kUTC);
    EXPECT_EQ(tm.mday, 27);
    EXPECT_EQ(tm.hour, 1);

    // Before 1970 the rules decide; the C library is not asked.
    DT old;
    old.Set(4, DT::Jul, 1944, 12);
    EXPECT_EQ(old.IsDST(DT::USA), 1);
    old.Set(4, DT::Jul, 1960, 12);
    EXPECT_EQ(old.IsDST(DT::USA), -1);
    old.Set(4, DT::Jul, 1967, 12);
    EXPECT_EQ(old.IsDST(DT::USA), 1);
    old.Set(4, DT::Jan, 1967, 12);
    EXPECT_EQ(old.IsDST(DT::USA), 0);
}

namespace {
// Each rule's begin and end must be the instants at which the C library's
// zone data switches the daylight flag.
void ExpectRulesMatchZone(const char* zone, DT::Country country, int firstYear, int lastYear)
{
    // Zone names need the system's zone files; POSIX rule strings do not.
    if (std::strchr(zone, ',') == nullptr && !HaveZone(zone)) GTEST_SKIP() << zone << " zone data not installed";
    ScopedTZ tz(zone);
    for (int year = firstYear; year <= lastYear; ++year) {
        SCOPED_TRACE(year);
        const DT begin = DT::GetBeginDST(year, country);
        const DT end = DT::GetEndDST(year, country);
        ASSERT_TRUE(begin.IsValid());
        ASSERT_TRUE(end.IsValid());
        EXPECT_EQ(DT(begin.GetValue() - 1000).IsDST(), 0);
        EXPECT_EQ(begin.IsDST(), 1);
        EXPECT_EQ(DT(end.GetValue() - 1000).IsDST(), 1);
        EXPECT_EQ(end.IsDST(), 0);
        struct tm t;
        const time_t s = static_cast<time_t>(begin.GetValue() / 1000);
        ASSERT_NE(localtime_r(&s, &t), nullptr);
        EXPECT_EQ(t.tm_isdst, 1);
    }
}
}  // namespace

TEST(CKzDateTime, DaylightSavingAgreesWithZoneDataBerlin)
{
    ExpectRulesMatchZone("Europe/Berlin", DT::Country_EEC, 1996, 2037);
}

TEST(CKzDateTime, DaylightSavingAgreesWithZoneDataNewYork)
{
    ExpectRulesMatchZone("America/New_York", DT::USA, 1976, 2037);
}

TEST(CKzDateTime, DaylightSavingAgreesWithZoneDataLisbon)
{
    ExpectRulesMatchZone("Europe/Lisbon", DT::UK, 1996, 2037);
}

TEST(CKzDateTime, DaylightSavingAgreesWithPosixRules)
{
    // The rules the C library applies from a TZ string, available everywhere.
    ExpectRulesMatchZone("CET-1CEST,M3.5.0,M10.5.0/3", DT::Country_EEC, 1971, 2037);
    ExpectRulesMatchZone("EST5EDT,M3.2.0,M11.1.0", DT::USA, 2007, 2037);
}

TEST(CKzDateTime, ConversionsOnSeveralThreads)
{
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([k, &failures] {
            for (int i = 0; i < 2000; ++i) {
                const auto& r = kDateReference[(i * 7 + k) % (sizeof(kDateReference) / sizeof(kDateReference[0]))];
                DT dt(r.ms);
                const DT::Tm tm = dt.GetTm(kUTC);
                if (tm.year != r.year || tm.mday != r.day || tm.hour != r.hour) ++failures[k];
                DT local;
                local.Set(static_cast<unsigned short>(r.day), static_cast<DT::Month>(r.month), r.year,
                          static_cast<unsigned short>(r.hour));
                const DT::Tm back = local.GetTm();
                if (back.mday != r.day && back.hour == r.hour) ++failures[k];
                DT::GetCountry();
                DT::TimeZone z(DT::Local);
                (void)z;
            }
        });
    }
    for (auto& t : threads) t.join();
    for (int f : failures) EXPECT_EQ(f, 0);
}

TEST(CKzDateTime, SetMillisecondKeepsTheSecondBeforeTheEpoch)
{
    // Only the millisecond within the value's own second changes, also for
    // values before 1970 (negative), which the calendar fully supports.
    struct Case { long long value; unsigned short ms; long long expected; };
    const Case cases[] = {
        {1500, 250, 1250},
        {0, 999, 999},
        {-1500, 250, -1750},                            // 23:59:58.500 -> 23:59:58.250
        {-2000, 5, -1995},                              // a whole second stays that second
        {-11670515570877LL, 0, -11670515571000LL},      // 1600
    };
    for (const auto& c : cases) {
        DT dt(c.value);
        dt.SetMillisecond(c.ms);
        EXPECT_EQ(dt.GetValue(), c.expected) << c.value;
        if (c.value < 0) {
            const DT::Tm before = DT(c.value).GetTm(kUTC);
            const DT::Tm after = dt.GetTm(kUTC);
            EXPECT_EQ(after.sec, before.sec) << c.value;
            EXPECT_EQ(after.msec, c.ms) << c.value;
        }
    }
}

TEST(CKzDateTime, ValuesBeyondTheCalendarAreNotShiftedIntoOverflow)
{
    // A damaged stored value at the ends of the 64-bit range has no date; the
    // arithmetic setters leave it as it is instead of overflowing.
    const long long ends[] = {std::numeric_limits<long long>::min(), std::numeric_limits<long long>::max(),
                              std::numeric_limits<long long>::max() - 5};
    for (long long v : ends) {
        DT a(v);
        a.MakeTimezone(DT::TimeZone(DT::GMT12), true);
        EXPECT_EQ(a.GetValue(), v);
        DT b(v);
        b.MakeTimezone(DT::TimeZone(DT::GMT_12), true);
        EXPECT_EQ(b.GetValue(), v);
        DT c(v);
        c.SetMillisecond(999);
        EXPECT_EQ(c.GetValue(), v);
    }
    // Inside the range both still work.
    DT d(1000);
    d.MakeTimezone(DT::TimeZone::FromOffset(static_cast<int>(-DT::GetSystemOffset()) + 3600), true);
    EXPECT_EQ(d.GetValue(), 1000 - 3600000);
}
