// Point in time: signed 64-bit milliseconds since 1970-01-01 00:00:00.000 UTC,
// exchanged with the rest of the library as a Julian day number. Calendar
// arithmetic (proleptic Gregorian), time zones, daylight-saving rules and the
// text forms (formatting, names, parsing).
//
// Local means the zone of the process as the C library sees it. All
// conversions use the reentrant C functions (localtime_r, gmtime_r, mktime)
// and the shared statics are guarded, so date-times may be used on several
// threads at once.
#pragma once

#include "gnr_system/kz_base.h"

#include <climits>
#include <ctime>

class CKzStringW;
class CKzVariant;

// Argument of CKzDateTime::Add.
struct KZ_EXPORT CKzDateSpan {
    int m_years;
    int m_months;
    int m_weeks;
    int m_days;

    CKzDateSpan(int years = 0, int months = 0, int weeks = 0, int days = 0)
        : m_years(years), m_months(months), m_weeks(weeks), m_days(days) {}
};

class KZ_EXPORT CKzDateTime {
public:
    // A fixed underlying type: any int a caller or a file hands in is a value
    // of the enumeration, which the functions then bound.
    enum Month : int { Jan, Feb, Mar, Apr, May, Jun, Jul, Aug, Sep, Oct, Nov, Dec, Inv_Month };
    enum WeekDay : int { Sun, Mon, Tue, Wed, Thu, Fri, Sat, Inv_WeekDay };
    enum WeekFlags : int { Default_First, Monday_First, Sunday_First };
    enum Calendar : int { Gregorian, Julian };
    enum Country : int {
        Country_Unknown = 0,
        Country_Default = 1,  // the current country (GetCountry)
        Country_WesternEurope_Start = 2,
        Country_EEC = 2,  // what a central European zone yields
        France = 3,
        Germany = 4,
        UK = 5,  // what a western European zone yields
        Country_WesternEurope_End = 5,
        Russia = 6,
        USA = 7
    };
    // Zone codes: 0 the local standard zone, 1..25 fixed offsets of code - 13
    // hours (13 is UTC), 26 +9:30. Other codes are treated as UTC.
    enum TZ : int {
        Local = 0,
        GMT_12 = 1, GMT_11, GMT_10, GMT_9, GMT_8, GMT_7, GMT_6, GMT_5, GMT_4, GMT_3, GMT_2, GMT_1,
        GMT0 = 13, GMT1, GMT2, GMT3, GMT4, GMT5, GMT6, GMT7, GMT8, GMT9, GMT10, GMT11, GMT12,
        A_CST = 26,
        UTC = GMT0
    };
    enum NameFlags : int { Name_Full = 1, Name_Abbr = 2 };

    static constexpr int Inv_Year = INT_MIN;
    static constexpr kz_int64 TIME_T_FACTOR = 1000;
    // Country of the daylight-saving rules: 0 until determined or set.
    static Country ms_country;

    // Offset in seconds east of UTC.
    class KZ_EXPORT TimeZone {
    public:
        TimeZone(TZ tz = Local);
        // The local zone is the one whose offset cancels the system offset.
        bool IsLocal() const;
        int GetOffset() const { return m_offset; }
        static TimeZone FromOffset(int seconds);

    private:
        int m_offset;
    };

    // Broken-down time.
    struct KZ_EXPORT Tm {
        unsigned short msec, sec, min, hour, mday;
        Month mon;
        int year;
        int offset;  // seconds east of UTC
        unsigned short wday;  // 0 Sunday .. 6 Saturday, 7 unknown
        unsigned short yday;

        Tm();
        Tm(const struct tm& t, const TimeZone& tz);

        bool IsValid() const;
        WeekDay GetWeekDay();  // computes the week day when unknown
        void ComputeWeekDay();
        void AddMonths(int n);
        void AddDays(int n);
    };

    constexpr CKzDateTime() : m_time(-1) {}
    constexpr explicit CKzDateTime(kz_int64 milliseconds) : m_time(milliseconds) {}

    kz_int64 GetValue() const { return m_time; }
    void SetValue(kz_int64 milliseconds) { m_time = milliseconds; }
    bool IsValid() const { return m_time != -1; }
    bool operator==(const CKzDateTime& o) const { return m_time == o.m_time; }
    bool operator!=(const CKzDateTime& o) const { return m_time != o.m_time; }
    bool operator<(const CKzDateTime& o) const { return m_time < o.m_time; }

    // Julian day numbers.
    double GetJulianDayNumber() const;
    double GetRataDie() const;
    // A Julian day that is not a number or lies beyond about +-270,000 years
    // gives the invalid value -1.
    CKzDateTime& Set(double jdn);

    // Setting from local fields. A setter that fails returns an invalid
    // date-time that is not this object (and never g_DefaultDateTime itself).
    CKzDateTime& Set(unsigned short day, Month month = Inv_Month, int year = Inv_Year, unsigned short hour = 0,
                     unsigned short minute = 0, unsigned short second = 0, unsigned short millisecond = 0);
    CKzDateTime& Set(const struct tm& t);
    CKzDateTime& Set(unsigned short hour, unsigned short minute, unsigned short second, unsigned short millisecond);
    CKzDateTime& SetMillisecond(unsigned short ms);
    CKzDateTime& SetSecond(unsigned short v);
    CKzDateTime& SetMinute(unsigned short v);
    CKzDateTime& SetHour(unsigned short v);
    CKzDateTime& SetDay(unsigned short v);
    CKzDateTime& SetMonth(Month v);
    CKzDateTime& SetYear(int v);
    CKzDateTime& ResetTime();
    CKzDateTime& Add(const CKzDateSpan& span);
    static CKzDateTime UNow();
    CKzDateTime& MakeTimezone(const TimeZone& tz, bool noDST = false);

    // Breaking down.
    Tm GetTm(const TimeZone& tz = TimeZone(Local)) const;
    unsigned short GetDayOfYear(const TimeZone& tz = TimeZone(Local)) const;
    void FillTmStruct(struct tm* record, const TimeZone& tz = TimeZone(Local)) const;
    unsigned short GetWeekOfYear(WeekFlags flags = Monday_First, const TimeZone& tz = TimeZone(Local)) const;
    unsigned short GetWeekOfMonth(WeekFlags flags = Monday_First, const TimeZone& tz = TimeZone(Local)) const;

    // Moving to days and weeks (local zone, weeks Sunday to Saturday).
    CKzDateTime& SetToWeekDayInSameWeek(WeekDay wd);
    CKzDateTime& SetToNextWeekDay(WeekDay wd);
    CKzDateTime& SetToPrevWeekDay(WeekDay wd);
    CKzDateTime& SetToLastMonthDay(Month month = Inv_Month, int year = Inv_Year);
    bool SetToWeekDay(WeekDay wd, int n = 1, Month month = Inv_Month, int year = Inv_Year);
    bool SetToTheWeek(unsigned short week, WeekDay wd = Mon);
    CKzDateTime& SetToYearDay(unsigned short day);

    // Calendar queries.
    static bool IsLeapYear(int year = Inv_Year, Calendar cal = Gregorian);
    static unsigned short GetNumberOfDays(Month month, int year = Inv_Year, Calendar cal = Gregorian);
    static unsigned short GetNumberOfDays(int year, Calendar cal = Gregorian);
    static int GetCurrentYear(Calendar cal = Gregorian);
    static Month GetCurrentMonth(Calendar cal = Gregorian);
    static int GetCentury(int year);
    static int ConvertYearToBC(int year);

    // Countries and daylight saving.
    static Country GetCountry();
    static void SetCountry(Country country);
    static bool IsWestEuropeanCountry(Country country = Country_Default);
    static bool IsDSTApplicable(int year = Inv_Year, Country country = Country_Default);
    static CKzDateTime GetBeginDST(int year = Inv_Year, Country country = Country_Default);
    static CKzDateTime GetEndDST(int year = Inv_Year, Country country = Country_Default);
    int IsDST(Country country = Country_Default) const;

    // Names (current locale).
    static CKzStringW GetMonthName(Month month, NameFlags flags = Name_Full);
    static CKzStringW GetWeekDayName(WeekDay wd, NameFlags flags = Name_Full);
    static void GetAmPmStrings(CKzStringW* am, CKzStringW* pm);

    // Formatting: strftime directives plus "%l" for milliseconds.
    CKzStringW Format(const wchar_t* format, const TimeZone& tz = TimeZone(Local)) const;
    // "YYYY-MM-DD" and "YYYY-MM-DD HH:MM:SS" in the given zone.
    CKzStringW FormatDate(const TimeZone& tz = TimeZone(Local)) const;
    CKzStringW FormatDateTime(const TimeZone& tz = TimeZone(Local)) const;

    // Parsing: each returns the position after what was consumed, or null
    // when nothing could be understood (the value then stays as it was).
    const wchar_t* ParseRfc822Date(const wchar_t* date);
    const wchar_t* ParseFormat(const wchar_t* date, const wchar_t* format, const CKzDateTime& dateDef,
                               bool startOfDay = false, bool endOfDay = false);
    const wchar_t* ParseISODateTime(const wchar_t* date, bool startOfDay = false, bool endOfDay = false);
    const wchar_t* ParseTime(const wchar_t* time);
    const wchar_t* ParseDate(const wchar_t* date);
    const wchar_t* ParseLocaleDate(const wchar_t* date, bool startOfDay = false, bool endOfDay = false);
    const wchar_t* ParseLocaleTime(const wchar_t* time, bool startOfDay = false, bool endOfDay = false);
    const wchar_t* ParseDateTime(const wchar_t* text, bool startOfDay = false, bool endOfDay = false);

    // Persistence: run type "RKzDateTime" with the int64 member "time".
    kz_result SaveToVariant(CKzVariant& variant) const;
    kz_result LoadFromVariant(const CKzVariant& variant);

    // Seconds west of UTC of the local standard time, read once per process.
    static long GetSystemOffset();
    // Reads the system offset and the country again; for a process that
    // changes TZ (and calls tzset) while running.
    __attribute__((visibility("hidden"))) static void RefreshZoneInfo();

private:
    __attribute__((visibility("hidden"))) static CKzDateTime& Failed();
    __attribute__((visibility("hidden"))) static int NameIndex(const wchar_t* text, bool months, int flags);

    kz_int64 m_time;
};

// The invalid date-time (-1); read-only.
KZ_EXPORT extern const CKzDateTime g_DefaultDateTime;

// Truncated Julian day of (day, month 0-based, year); 1 January 1970 is 2440587.
kz_int64 KZ_TruncatedJulianDay(kz_int64 day, int month, kz_int64 year);
