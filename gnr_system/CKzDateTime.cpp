// Date-time values, calendar arithmetic, time zones and daylight saving.
#include "gnr_system/CKzDateTime.h"
#include "gnr_system/CKzVariant.h"

#include <atomic>
#include <cmath>
#include <cstring>
#include <time.h>

const CKzDateTime g_DefaultDateTime(-1);
CKzDateTime::Country CKzDateTime::ms_country = CKzDateTime::Country_Unknown;

namespace {

const kz_int64 kMsPerDay = 86400000;
// Supported range: 100 million days either side of 1970 (about 273,000
// years), which keeps every intermediate of the calendar arithmetic and the
// year itself far inside their integer types.
const kz_int64 kMaxDays = 100000000;
const kz_int64 kMaxMs = kMaxDays * kMsPerDay;
const kz_int64 kEpochTjd = 2440587;

const unsigned short kDaysInMonth[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};
const unsigned short kCumulDays[2][12] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335},
};

// Floor division and modulo: identical to truncation for the non-negative
// operands of the usual range, and still correct far before the epoch.
inline kz_int64 FloorDiv(kz_int64 a, kz_int64 b)
{
    kz_int64 q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}
inline kz_int64 FloorMod(kz_int64 a, kz_int64 b) { return a - FloorDiv(a, b) * b; }

inline bool GregorianLeap(kz_int64 y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

inline unsigned short MonthLength(int month, kz_int64 year)
{
    if (month < 0 || month > 11) return 0;
    return kDaysInMonth[GregorianLeap(year) ? 1 : 0][month];
}

// Gregorian date (day, 0-based month, year) of a day count since 1970-01-01.
void DateFromDays(kz_int64 days, unsigned short* day, int* month, int* year)
{
    const kz_int64 a = days * 4 + 9890531;
    const kz_int64 c = FloorDiv(a, 146097);
    const kz_int64 b = FloorDiv(FloorMod(a, 146097), 4) * 4 + 3;
    kz_int64 y = c * 100 + FloorDiv(b, 1461);
    const kz_int64 d = FloorDiv(FloorMod(b, 1461), 4) * 5 + 2;
    const kz_int64 m = d / 153;
    *day = static_cast<unsigned short>((d % 153) / 5 + 1);
    if (m < 10) {
        *month = static_cast<int>(m + 2);
        y -= 4800;
    } else {
        *month = static_cast<int>(m - 10);
        y -= 4799;
    }
    *year = static_cast<int>(y);
}

// The local and UTC conversions of the C library, reentrant forms only.
bool LocalTm(time_t t, struct tm* out) { return localtime_r(&t, out) != nullptr; }
bool UtcTm(time_t t, struct tm* out) { return gmtime_r(&t, out) != nullptr; }

std::atomic<long> g_systemOffset{0};

void ReadSystemOffset()
{
    // One local conversion makes the C library read the zone; tzset then
    // publishes `timezone` (seconds west of UTC of the local standard time).
    struct tm probe;
    LocalTm(time(nullptr), &probe);
    tzset();
    g_systemOffset.store(timezone);
}

CKzDateTime::Month ToMonth(int m) { return static_cast<CKzDateTime::Month>(m); }

}  // namespace

kz_int64 KZ_TruncatedJulianDay(kz_int64 day, int month, kz_int64 year)
{
    kz_int64 y, m;
    if (month > 1) {
        y = year + 4800;
        m = month - 2;
    } else {
        y = year + 4799;
        m = month + 10;
    }
    return FloorDiv(FloorDiv(y, 100) * 146097, 4) + FloorDiv(FloorMod(y, 100) * 1461, 4) + (153 * m + 2) / 5 + day -
           32046;
}

// ---------------------------------------------------------------------------
// Zones and the system offset

long CKzDateTime::GetSystemOffset()
{
    // Read once per process; the guarded local static makes the first reads
    // on several threads wait for one another.
    static const bool read = (ReadSystemOffset(), true);
    (void)read;
    return g_systemOffset.load();
}

void CKzDateTime::RefreshZoneInfo()
{
    GetSystemOffset();
    ReadSystemOffset();
    __atomic_store_n(&ms_country, Country_Unknown, __ATOMIC_RELEASE);
}

CKzDateTime::TimeZone::TimeZone(TZ tz)
{
    const int code = static_cast<int>(tz);
    if (code == Local) m_offset = static_cast<int>(-GetSystemOffset());
    else if (code >= GMT_12 && code <= GMT12) m_offset = (code - GMT0) * 3600;
    else if (code == A_CST) m_offset = 34200;
    else m_offset = 0;  // no offset is defined for other codes: UTC
}

CKzDateTime::TimeZone CKzDateTime::TimeZone::FromOffset(int seconds)
{
    TimeZone z(GMT0);
    // Real zones lie within a day of UTC; anything beyond is not an offset.
    z.m_offset = (seconds > -86400 && seconds < 86400) ? seconds : 0;
    return z;
}

bool CKzDateTime::TimeZone::IsLocal() const
{
    return m_offset + GetSystemOffset() == 0;
}

// ---------------------------------------------------------------------------
// Broken-down time

CKzDateTime::Tm::Tm()
    : msec(0), sec(0), min(0), hour(0), mday(0), mon(Inv_Month), year(0), offset(0), wday(Inv_WeekDay), yday(0)
{
}

CKzDateTime::Tm::Tm(const struct tm& t, const TimeZone& tz)
    : msec(0),
      sec(static_cast<unsigned short>(t.tm_sec)),
      min(static_cast<unsigned short>(t.tm_min)),
      hour(static_cast<unsigned short>(t.tm_hour)),
      mday(static_cast<unsigned short>(t.tm_mday)),
      mon((t.tm_mon >= 0 && t.tm_mon <= 11) ? ToMonth(t.tm_mon) : Inv_Month),
      year(t.tm_year + 1900),
      offset(tz.GetOffset()),
      wday((t.tm_wday >= 0 && t.tm_wday <= 6) ? static_cast<unsigned short>(t.tm_wday) : static_cast<unsigned short>(Inv_WeekDay)),
      yday(static_cast<unsigned short>(t.tm_yday))
{
}

bool CKzDateTime::Tm::IsValid() const
{
    return year != Inv_Year && mon >= Jan && mon <= Dec && mday >= 1 && mday <= MonthLength(mon, year) &&
           hour <= 23 && min <= 59 && sec <= 61 && msec <= 999;
}

void CKzDateTime::Tm::ComputeWeekDay()
{
    if (mon < Jan || mon > Dec) {
        wday = Inv_WeekDay;
        return;
    }
    wday = static_cast<unsigned short>(FloorMod(KZ_TruncatedJulianDay(mday, mon, year) + 2, 7));
}

CKzDateTime::WeekDay CKzDateTime::Tm::GetWeekDay()
{
    if (wday == Inv_WeekDay) ComputeWeekDay();
    return static_cast<WeekDay>(wday);
}

void CKzDateTime::Tm::AddMonths(int n)
{
    if (mon < Jan || mon > Dec) return;
    const kz_int64 total = static_cast<kz_int64>(year) * 12 + mon + n;
    year = static_cast<int>(FloorDiv(total, 12));
    mon = ToMonth(static_cast<int>(FloorMod(total, 12)));
}

void CKzDateTime::Tm::AddDays(int n)
{
    if (mon < Jan || mon > Dec) return;
    // The day count is linear in the day of month, so stepping through whole
    // months is the same as going through the day number, without a loop.
    const kz_int64 days = KZ_TruncatedJulianDay(static_cast<kz_int64>(mday) + n, mon, year) - kEpochTjd;
    int m = 0, y = 0;
    DateFromDays(days, &mday, &m, &y);
    mon = ToMonth(m);
    year = y;
}

// ---------------------------------------------------------------------------
// Julian day numbers

double CKzDateTime::GetJulianDayNumber() const
{
    return static_cast<double>(m_time) / 86400000.0 + 2440587.5;
}

double CKzDateTime::GetRataDie() const
{
    return GetJulianDayNumber() - 1721425.5;
}

CKzDateTime& CKzDateTime::Set(double jdn)
{
    // The bias of 1e-8 day keeps a value that GetJulianDayNumber produced
    // from coming back one millisecond short.
    const double v = (jdn - 2440587.49999999) * 86400000.0;
    if (!(std::fabs(v) <= static_cast<double>(kMaxMs))) {
        m_time = -1;  // not a number or beyond the supported range: invalid
        return *this;
    }
    // Rounded down rather than toward zero, so that values before 1970 come
    // back to the same millisecond as well.
    m_time = static_cast<kz_int64>(std::floor(v));
    return *this;
}

// ---------------------------------------------------------------------------
// Setting

CKzDateTime& CKzDateTime::Failed()
{
    // What a failed setter hands back: invalid, and never g_DefaultDateTime
    // itself, so a caller that goes on changing the result changes only this.
    thread_local CKzDateTime scratch;
    scratch.m_time = -1;
    return scratch;
}

CKzDateTime& CKzDateTime::Set(unsigned short day, Month month, int year, unsigned short hour, unsigned short minute,
                              unsigned short second, unsigned short millisecond)
{
    if (static_cast<int>(month) < Jan || static_cast<int>(month) > Inv_Month) return Failed();
    if (year == Inv_Year) year = GetCurrentYear();
    if (month == Inv_Month) month = GetCurrentMonth();
    if (year == Inv_Year || month == Inv_Month) return Failed();

    // From 1970 on, the C library turns the fields into an instant with the
    // zone's daylight saving, as GetTm does in the other direction (for years
    // past 2037 too, where the zone's rule keeps applying). Earlier fields are
    // local standard time in both directions.
    if (year >= 1970) {
        struct tm t;
        std::memset(&t, 0, sizeof(t));
        t.tm_year = year - 1900;
        t.tm_mon = month;
        t.tm_mday = day;
        t.tm_hour = hour;
        t.tm_min = minute;
        t.tm_sec = second;
        t.tm_isdst = -1;
        CKzDateTime& r = Set(t);
        if (&r != this) return r;
        return SetMillisecond(millisecond);
    }
    // Other years: the fields as local standard time.
    const kz_int64 days = KZ_TruncatedJulianDay(day, month, year) - kEpochTjd;
    if (days < -kMaxDays || days > kMaxDays) return Failed();
    const kz_int64 secs = static_cast<kz_int64>(hour) * 3600 + static_cast<kz_int64>(minute) * 60 + second +
                          GetSystemOffset();
    m_time = days * kMsPerDay + secs * 1000 + millisecond;
    return *this;
}

CKzDateTime& CKzDateTime::Set(const struct tm& t)
{
    struct tm copy = t;
    // mktime leaves the week day alone when it fails, so a marker there tells
    // a failure from the valid instant one second before 1970.
    copy.tm_wday = -1;
    time_t s = mktime(&copy);
    const kz_int64 maxSecs = kMaxMs / 1000;
    if (s != static_cast<time_t>(-1) || copy.tm_wday != -1) {
        if (s < -maxSecs || s > maxSecs) return Failed();
        m_time = static_cast<kz_int64>(s) * TIME_T_FACTOR;
        return *this;
    }
    if (copy.tm_year == 70 && copy.tm_mon == 0 && copy.tm_mday == 1) {
        s = mktime(&copy);
        if (s != static_cast<time_t>(-1) && s >= -maxSecs && s <= maxSecs) {
            m_time = (static_cast<kz_int64>(s) + GetSystemOffset()) * TIME_T_FACTOR;
            return *this;
        }
    }
    return Failed();
}

CKzDateTime& CKzDateTime::Set(unsigned short hour, unsigned short minute, unsigned short second,
                              unsigned short millisecond)
{
    const Tm today = UNow().GetTm();
    if (today.year == Inv_Year) return Failed();
    return Set(today.mday, today.mon, today.year, hour, minute, second, millisecond);
}

CKzDateTime& CKzDateTime::SetMillisecond(unsigned short ms)
{
    // A value beyond the calendar (a damaged stored one) has no second to
    // change; at the ends of the 64-bit range the sum would overflow.
    if (m_time < -kMaxMs || m_time > kMaxMs) return *this;
    // Rounded down to the second, so a value before 1970 keeps its own second.
    m_time = FloorDiv(m_time, 1000) * 1000 + ms;
    return *this;
}

namespace {
// Replaces one field of the local broken-down time and sets all seven again.
template <typename F>
CKzDateTime& SetField(CKzDateTime& dt, F change)
{
    CKzDateTime::Tm tm = dt.GetTm();
    change(tm);
    return dt.Set(tm.mday, tm.mon, tm.year, tm.hour, tm.min, tm.sec, tm.msec);
}
}  // namespace

CKzDateTime& CKzDateTime::SetSecond(unsigned short v)
{
    if (GetTm().year == Inv_Year) return Failed();
    return SetField(*this, [v](Tm& tm) { tm.sec = v; });
}

CKzDateTime& CKzDateTime::SetMinute(unsigned short v)
{
    if (GetTm().year == Inv_Year) return Failed();
    return SetField(*this, [v](Tm& tm) { tm.min = v; });
}

CKzDateTime& CKzDateTime::SetHour(unsigned short v)
{
    if (GetTm().year == Inv_Year) return Failed();
    return SetField(*this, [v](Tm& tm) { tm.hour = v; });
}

CKzDateTime& CKzDateTime::SetDay(unsigned short v)
{
    if (GetTm().year == Inv_Year) return Failed();
    return SetField(*this, [v](Tm& tm) { tm.mday = v; });
}

CKzDateTime& CKzDateTime::SetMonth(Month v)
{
    if (GetTm().year == Inv_Year) return Failed();
    return SetField(*this, [v](Tm& tm) { tm.mon = v; });
}

CKzDateTime& CKzDateTime::SetYear(int v)
{
    if (GetTm().year == Inv_Year) return Failed();
    return SetField(*this, [v](Tm& tm) { tm.year = v; });
}

CKzDateTime& CKzDateTime::ResetTime()
{
    const Tm tm = GetTm();
    if (tm.year == Inv_Year) return Failed();
    if (tm.msec == 0 && tm.sec == 0 && tm.min == 0 && tm.hour == 0) return *this;
    return Set(tm.mday, tm.mon, tm.year, 0, 0, 0, 0);
}

CKzDateTime& CKzDateTime::Add(const CKzDateSpan& span)
{
    Tm tm = GetTm();
    if (tm.year == Inv_Year) return Failed();
    const kz_int64 year = static_cast<kz_int64>(tm.year) + span.m_years;
    if (year < -300000 || year > 300000) return Failed();
    tm.year = static_cast<int>(year);
    tm.AddMonths(span.m_months);
    const unsigned short len = MonthLength(tm.mon, tm.year);
    if (tm.mday > len) tm.mday = len;
    const kz_int64 days = static_cast<kz_int64>(span.m_weeks) * 7 + span.m_days;
    if (days < -kMaxDays * 2 || days > kMaxDays * 2) return Failed();
    tm.AddDays(static_cast<int>(days));
    return Set(tm.mday, tm.mon, tm.year, tm.hour, tm.min, tm.sec, tm.msec);
}

CKzDateTime CKzDateTime::UNow()
{
    // The clock itself, to the millisecond: going through local calendar
    // fields would be ambiguous in the hour that repeats when daylight saving ends.
    struct timespec ts;
    if (clock_gettime(CLOCK_REALTIME, &ts) != 0) return CKzDateTime(0);
    return CKzDateTime(static_cast<kz_int64>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000);
}

CKzDateTime& CKzDateTime::MakeTimezone(const TimeZone& tz, bool noDST)
{
    // A value beyond the calendar is not shifted (it could overflow).
    if (m_time < -kMaxMs || m_time > kMaxMs) return *this;
    // The hour of daylight saving to remove is the one the setter applied to
    // the local fields: the C library's decision from 1970 on, none before
    // (earlier fields are local standard time). Asking the country's rules
    // before 1970 would move such values an hour away from their fields.
    long d = 0;
    if (!noDST && m_time >= 0) {
        struct tm t;
        if (LocalTm(static_cast<time_t>(m_time / 1000), &t) && t.tm_isdst > 0) d = 3600;
    }
    m_time -= (static_cast<kz_int64>(tz.GetOffset()) + GetSystemOffset() - d) * 1000;
    return *this;
}

// ---------------------------------------------------------------------------
// Breaking down

CKzDateTime::Tm CKzDateTime::GetTm(const TimeZone& tz) const
{
    Tm result;
    if (m_time < -kMaxMs || m_time > kMaxMs) {
        // Beyond the calendar's range (a damaged stored value): no date.
        result.year = Inv_Year;
        return result;
    }
    if (m_time >= 0) {
        const kz_int64 secs = m_time / 1000;
        struct tm t;
        bool ok = false;
        if (tz.IsLocal()) {
            ok = LocalTm(static_cast<time_t>(secs), &t);
        } else {
            const kz_int64 shifted = secs + tz.GetOffset();
            if (shifted >= 0) ok = UtcTm(static_cast<time_t>(shifted), &t);
        }
        if (ok) {
            result = Tm(t, tz);
            result.msec = static_cast<unsigned short>((m_time % kMsPerDay) % 1000);
            return result;
        }
    }
    const kz_int64 t = m_time + static_cast<kz_int64>(tz.GetOffset()) * 1000;
    const kz_int64 timeOfDay = FloorMod(t, kMsPerDay);
    const kz_int64 days = (t - timeOfDay) / kMsPerDay;
    int month = 0;
    DateFromDays(days, &result.mday, &month, &result.year);
    result.mon = ToMonth(month);
    result.hour = static_cast<unsigned short>(timeOfDay / 3600000);
    result.min = static_cast<unsigned short>((timeOfDay / 60000) % 60);
    result.sec = static_cast<unsigned short>((timeOfDay / 1000) % 60);
    result.msec = static_cast<unsigned short>(timeOfDay % 1000);
    result.wday = Inv_WeekDay;
    result.offset = 0;
    result.yday = 0;
    return result;
}

unsigned short CKzDateTime::GetDayOfYear(const TimeZone& tz) const
{
    const Tm tm = GetTm(tz);
    if (tm.mon < Jan || tm.mon > Dec) return 0;
    return static_cast<unsigned short>(kCumulDays[GregorianLeap(tm.year) ? 1 : 0][tm.mon] + tm.mday);
}

void CKzDateTime::FillTmStruct(struct tm* record, const TimeZone& tz) const
{
    if (record == nullptr) return;
    Tm tm = GetTm(tz);
    std::memset(record, 0, sizeof(*record));
    record->tm_isdst = -1;
    if (tm.year == Inv_Year) return;  // no date: the record stays zero
    record->tm_year = tm.year - 1900;
    record->tm_mon = tm.mon;
    record->tm_mday = tm.mday;
    record->tm_wday = tm.GetWeekDay();
    record->tm_yday = GetDayOfYear(tz);
    record->tm_isdst = -1;
    record->tm_hour = tm.hour;
    record->tm_min = tm.min;
    record->tm_sec = tm.sec;
}

unsigned short CKzDateTime::GetWeekOfYear(WeekFlags flags, const TimeZone& tz) const
{
    if (flags == Default_First) flags = GetCountry() == USA ? Sunday_First : Monday_First;
    Tm tm = GetTm(tz);
    if (tm.year == Inv_Year) return 0;
    const int wd = tm.GetWeekDay();
    const int doy = GetDayOfYear(tz);
    int week = flags == Sunday_First ? (doy - wd + 7) / 7 : (doy + 7 - (wd + 6) % 7) / 7;
    Tm jan1;
    jan1.mday = 1;
    jan1.mon = Jan;
    jan1.year = tm.year;
    const int wdJan1 = jan1.GetWeekDay();
    if (wdJan1 == Wed || wdJan1 == Thu) ++week;
    return static_cast<unsigned short>(week);
}

unsigned short CKzDateTime::GetWeekOfMonth(WeekFlags flags, const TimeZone& tz) const
{
    const Tm tm = GetTm(tz);
    if (tm.year == Inv_Year) return 0;
    CKzDateTime first;
    if (&first.Set(1, tm.mon, tm.year) != &first) return 0;
    int w = GetWeekOfYear(flags, tz) - first.GetWeekOfYear(flags, TimeZone(Local));
    if (w < -1) w += IsLeapYear(tm.year - 1) ? 54 : 53;
    else w += 1;
    return static_cast<unsigned short>(w);
}

// ---------------------------------------------------------------------------
// Moving to days and weeks

namespace {
bool ValidWeekDay(CKzDateTime::WeekDay wd) { return wd >= CKzDateTime::Sun && wd <= CKzDateTime::Sat; }
}  // namespace

CKzDateTime& CKzDateTime::SetToWeekDayInSameWeek(WeekDay wd)
{
    if (!ValidWeekDay(wd)) return Failed();
    Tm tm = GetTm();
    if (tm.year == Inv_Year) return Failed();
    return Add(CKzDateSpan(0, 0, 0, static_cast<int>(wd) - tm.GetWeekDay()));
}

CKzDateTime& CKzDateTime::SetToNextWeekDay(WeekDay wd)
{
    if (!ValidWeekDay(wd)) return Failed();
    Tm tm = GetTm();
    if (tm.year == Inv_Year) return Failed();
    return Add(CKzDateSpan(0, 0, 0, (static_cast<int>(wd) - tm.GetWeekDay() + 7) % 7));
}

CKzDateTime& CKzDateTime::SetToPrevWeekDay(WeekDay wd)
{
    if (!ValidWeekDay(wd)) return Failed();
    Tm tm = GetTm();
    if (tm.year == Inv_Year) return Failed();
    return Add(CKzDateSpan(0, 0, 0, -((tm.GetWeekDay() - static_cast<int>(wd) + 7) % 7)));
}

CKzDateTime& CKzDateTime::SetToLastMonthDay(Month month, int year)
{
    if (static_cast<int>(month) < Jan || static_cast<int>(month) > Inv_Month) return Failed();
    if (month == Inv_Month || year == Inv_Year) {
        const Tm tm = GetTm();
        if (tm.year == Inv_Year) return Failed();
        if (month == Inv_Month) month = tm.mon;
        if (year == Inv_Year) year = tm.year;
    }
    return Set(MonthLength(month, year), month, year);
}

bool CKzDateTime::SetToWeekDay(WeekDay wd, int n, Month month, int year)
{
    if (!ValidWeekDay(wd) || static_cast<int>(month) < Jan || static_cast<int>(month) > Inv_Month) return false;
    if (year == Inv_Year) year = GetCurrentYear();
    if (month == Inv_Month) month = GetCurrentMonth();
    if (year == Inv_Year || month == Inv_Month) return false;
    const int len = MonthLength(month, year);
    Tm probe;
    probe.mon = month;
    probe.year = year;
    kz_int64 day;
    if (n > 0) {
        probe.mday = 1;
        const int diff = (static_cast<int>(wd) - probe.GetWeekDay() + 7) % 7;
        day = 1 + diff + 7 * (static_cast<kz_int64>(n) - 1);
    } else {
        probe.mday = static_cast<unsigned short>(len);
        const int diff = (probe.GetWeekDay() - static_cast<int>(wd) + 7) % 7;
        day = len - diff + 7 * (static_cast<kz_int64>(n) + 1);
    }
    if (day < 1 || day > len) return false;
    CKzDateTime target;
    if (&target.Set(static_cast<unsigned short>(day), month, year) != &target) return false;
    *this = target;
    return true;
}

bool CKzDateTime::SetToTheWeek(unsigned short week, WeekDay wd)
{
    if (!ValidWeekDay(wd)) return false;
    const Tm tm = GetTm();
    if (tm.year == Inv_Year) return false;
    CKzDateTime target;
    if (&target.Set(4, Jan, tm.year) != &target) return false;
    if (&target.SetToWeekDayInSameWeek(wd) != &target) return false;
    if (&target.Add(CKzDateSpan(0, 0, week, 0)) != &target) return false;
    if (target.GetTm().year != tm.year) return false;
    *this = target;
    return true;
}

CKzDateTime& CKzDateTime::SetToYearDay(unsigned short day)
{
    const Tm tm = GetTm();
    if (tm.year == Inv_Year) return Failed();
    return Set(day, Jan, tm.year);
}

// ---------------------------------------------------------------------------
// Calendar queries

bool CKzDateTime::IsLeapYear(int year, Calendar cal)
{
    if (year == Inv_Year) year = GetCurrentYear();
    if (cal == Gregorian) return GregorianLeap(year);
    if (cal == Julian) return year % 4 == 0;
    return false;
}

unsigned short CKzDateTime::GetNumberOfDays(Month month, int year, Calendar cal)
{
    if (cal != Gregorian && cal != Julian) return 0;
    if (static_cast<int>(month) < Jan || static_cast<int>(month) > Inv_Month) return 0;
    if (month == Inv_Month) month = GetCurrentMonth();
    if (year == Inv_Year) year = GetCurrentYear();
    return MonthLength(month, year);
}

unsigned short CKzDateTime::GetNumberOfDays(int year, Calendar cal)
{
    if (cal != Gregorian && cal != Julian) return 0;
    if (year == Inv_Year) year = GetCurrentYear();
    return GregorianLeap(year) ? 366 : 365;
}

int CKzDateTime::GetCurrentYear(Calendar cal)
{
    if (cal != Gregorian) return Inv_Year;
    return UNow().GetTm().year;
}

CKzDateTime::Month CKzDateTime::GetCurrentMonth(Calendar cal)
{
    if (cal != Gregorian) return Inv_Month;
    return UNow().GetTm().mon;
}

int CKzDateTime::GetCentury(int year)
{
    return year > 0 ? year / 100 : year / 100 - 1;
}

int CKzDateTime::ConvertYearToBC(int year)
{
    if (year == Inv_Year) return Inv_Year;
    return year > 0 ? year : year - 1;
}

// ---------------------------------------------------------------------------
// Countries and daylight saving

CKzDateTime::Country CKzDateTime::GetCountry()
{
    const Country known = __atomic_load_n(&ms_country, __ATOMIC_ACQUIRE);
    if (known != Country_Unknown) return known;
    char zone[64] = "";
    struct tm t;
    if (LocalTm(time(nullptr), &t)) strftime(zone, sizeof(zone), "%Z", &t);
    Country c = USA;
    if (std::strcmp(zone, "WET") == 0 || std::strcmp(zone, "WEST") == 0) c = UK;
    else if (std::strcmp(zone, "CET") == 0 || std::strcmp(zone, "CEST") == 0) c = Country_EEC;
    else if (std::strcmp(zone, "MSK") == 0 || std::strcmp(zone, "MSD") == 0) c = Russia;
    // The first answer stays, also when another thread found it first.
    Country expected = Country_Unknown;
    if (!__atomic_compare_exchange_n(&ms_country, &expected, c, false, __ATOMIC_ACQ_REL, __ATOMIC_ACQUIRE)) return expected;
    return c;
}

void CKzDateTime::SetCountry(Country country)
{
    __atomic_store_n(&ms_country, country, __ATOMIC_RELEASE);
}

bool CKzDateTime::IsWestEuropeanCountry(Country country)
{
    if (country == Country_Default) country = GetCountry();
    return country >= Country_WesternEurope_Start && country <= Country_WesternEurope_End;
}

bool CKzDateTime::IsDSTApplicable(int year, Country country)
{
    if (year == Inv_Year) year = GetCurrentYear();
    if (country == Country_Default) country = GetCountry();
    if (country == UK || country == USA)
        return year == 1918 || year == 1919 || (year >= 1942 && year <= 1945) || year > 1965;
    return year > 1950;
}

namespace {

// Local midnight of a date, plus some hours; invalid when it cannot be set.
CKzDateTime LocalAt(unsigned short day, CKzDateTime::Month month, int year, int hours)
{
    CKzDateTime dt;
    if (&dt.Set(day, month, year) != &dt) return CKzDateTime();
    return CKzDateTime(dt.GetValue() + static_cast<kz_int64>(hours) * 3600000);
}

// The n-th (n > 0) or n-th last (n < 0) Sunday of a month, local midnight plus hours.
CKzDateTime SundayAt(int n, CKzDateTime::Month month, int year, int hours)
{
    CKzDateTime dt;
    if (!dt.SetToWeekDay(CKzDateTime::Sun, n, month, year)) return CKzDateTime();
    return CKzDateTime(dt.GetValue() + static_cast<kz_int64>(hours) * 3600000);
}

// European rule: the change happens at 01:00 UTC on a last Sunday. The
// instant is computed in UTC directly, so it does not depend on whether local
// midnight of that Sunday already is daylight time (as it is at the end of
// summer, or in a zone whose own rules differ).
CKzDateTime EuropeanChange(CKzDateTime::Month month, int year)
{
    CKzDateTime::Tm last;
    last.mon = month;
    last.year = year;
    last.mday = CKzDateTime::GetNumberOfDays(month, year);
    const int day = last.mday - last.GetWeekDay();  // Sunday is 0
    const kz_int64 days = KZ_TruncatedJulianDay(day, month, year) - kEpochTjd;
    if (days < -kMaxDays || days > kMaxDays) return CKzDateTime();
    return CKzDateTime(days * kMsPerDay + 3600000);
}

}  // namespace

CKzDateTime CKzDateTime::GetBeginDST(int year, Country country)
{
    if (year == Inv_Year) year = GetCurrentYear();
    if (country == Country_Default) country = GetCountry();
    if (!IsDSTApplicable(year, country)) return g_DefaultDateTime;
    if (country >= Country_WesternEurope_Start && country <= Russia) return EuropeanChange(Mar, year);
    if (country == USA) {
        switch (year) {
        case 1918: case 1919: case 1943: case 1944: case 1945: return LocalAt(1, Jan, year, 0);
        case 1942: return LocalAt(2, Feb, year, 0);
        case 1974: return LocalAt(6, Jan, year, 0);
        case 1975: return LocalAt(23, Feb, year, 0);
        default: break;
        }
        // The first Sunday of April applies from 1987 (1986 still began on the
        // last Sunday); since 2007 it is the second Sunday of March.
        if (year >= 2007) return SundayAt(2, Mar, year, 2);
        return year < 1987 ? SundayAt(-1, Apr, year, 2) : SundayAt(1, Apr, year, 2);
    }
    return LocalAt(30, Mar, year, 0);
}

CKzDateTime CKzDateTime::GetEndDST(int year, Country country)
{
    if (year == Inv_Year) year = GetCurrentYear();
    if (country == Country_Default) country = GetCountry();
    if (!IsDSTApplicable(year, country)) return g_DefaultDateTime;
    if (country >= Country_WesternEurope_Start && country <= Russia) return EuropeanChange(Oct, year);
    if (country == USA) {
        switch (year) {
        case 1918: case 1919: case 1943: case 1944: return LocalAt(31, Dec, year, 0);
        case 1945: return LocalAt(30, Sep, year, 0);
        default: break;
        }
        // Since 2007 daylight saving ends on the first Sunday of November.
        if (year >= 2007) return SundayAt(1, Nov, year, 2);
        return SundayAt(-1, Oct, year, 2);
    }
    return LocalAt(26, Oct, year, 0);
}

int CKzDateTime::IsDST(Country country) const
{
    if (m_time >= 0) {
        struct tm t;
        if (!LocalTm(static_cast<time_t>(m_time / 1000), &t)) return -1;
        return t.tm_isdst;
    }
    const Tm tm = GetTm();
    if (tm.year == Inv_Year || !IsDSTApplicable(tm.year, country)) return -1;
    const CKzDateTime begin = GetBeginDST(tm.year, country);
    const CKzDateTime end = GetEndDST(tm.year, country);
    return (m_time >= begin.m_time && m_time <= end.m_time) ? 1 : 0;
}

// ---------------------------------------------------------------------------
// Persistence

kz_result CKzDateTime::SaveToVariant(CKzVariant& variant) const
{
    const bool previous = variant.IsEnabledTypeChange();
    variant.EnableTypeChange(true);
    const int result = variant.SetRunType(CKzVariantRunType("RKzDateTime"));
    variant.EnableTypeChange(previous);
    if (result == 0) variant[L"time"] = static_cast<long>(m_time);
    return result;
}

kz_result CKzDateTime::LoadFromVariant(const CKzVariant& variant)
{
    if (variant.GetRunType() != CKzVariantRunType("RKzDateTime")) return KZ_ERR_INVALID_ARG;
    m_time = variant[L"time"].GetKz_int64();
    return KZ_OK;
}
