// Text side of CKzDateTime: localised names, formatting with milliseconds,
// and the parsers (RFC 822, by format, ISO, free-form dates and times).
#include "gnr_system/CKzDateTime.h"
#include "gnr_system/CKzString.h"

#include <cstring>
#include <cwchar>
#include <cwctype>
#include <string>
#include <time.h>

namespace {

typedef CKzDateTime DT;

const size_t kFormatBuffer = 4096;

// The C formatter over a record; empty text when the result does not fit.
std::wstring CFormat(const wchar_t* format, const struct tm& t)
{
    wchar_t buffer[kFormatBuffer];
    const size_t n = wcsftime(buffer, kFormatBuffer, format, &t);
    return std::wstring(buffer, n);
}

struct tm ZeroTm()
{
    struct tm t;
    std::memset(&t, 0, sizeof(t));
    return t;
}

// A record holding a time of day on 1 January 1976, daylight flag 0.
struct tm TimeOfDayRecord(int hour, int minute, int second)
{
    struct tm t = ZeroTm();
    t.tm_year = 76;
    t.tm_mday = 1;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_wday = 4;  // 1 January 1976 was a Thursday
    t.tm_isdst = 0;
    return t;
}

inline wchar_t Lower(wchar_t c) { return static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c))); }

// Case-insensitive prefix test; returns the length matched or 0.
size_t StartsWithNoCase(const wchar_t* text, const wchar_t* word)
{
    size_t i = 0;
    for (; word[i] != 0; ++i)
        if (text[i] == 0 || Lower(text[i]) != Lower(word[i])) return 0;
    return i;
}

bool EqualNoCase(const wchar_t* a, size_t alen, const CKzStringW& b)
{
    if (b.GetLength() <= 0 || static_cast<size_t>(b.GetLength()) != alen) return false;
    const wchar_t* s = b.GetString();
    for (size_t i = 0; i < alen; ++i)
        if (Lower(a[i]) != Lower(s[i])) return false;
    return true;
}

std::wstring Number(const std::wstring& spec, long long v)
{
    wchar_t buffer[128];
    const int n = swprintf(buffer, 128, spec.c_str(), static_cast<int>(v));
    return n < 0 ? std::wstring() : std::wstring(buffer, static_cast<size_t>(n));
}

void ReplaceAll(std::wstring& s, const std::wstring& from, const std::wstring& to)
{
    if (from.empty()) return;
    for (size_t pos = s.find(from); pos != std::wstring::npos; pos = s.find(from, pos + to.size()))
        s.replace(pos, from.size(), to);
}

CKzStringW ToString(const std::wstring& s)
{
    CKzStringW r;
    r.AddChars(s.c_str(), static_cast<int>(s.size()));
    return r;
}

}  // namespace

// ---------------------------------------------------------------------------
// Names

CKzStringW CKzDateTime::GetMonthName(Month month, NameFlags flags)
{
    if (month < Jan || month > Dec) return CKzStringW();
    struct tm t = ZeroTm();
    t.tm_mon = month;
    t.tm_mday = 1;
    t.tm_year = 76;
    return ToString(CFormat(flags == Name_Abbr ? L"%b" : L"%B", t));
}

CKzStringW CKzDateTime::GetWeekDayName(WeekDay wd, NameFlags flags)
{
    if (wd < Sun || wd > Sat) return CKzStringW();
    // (28 + week day) November 1999: 28 November 1999 was a Sunday.
    Tm date;
    date.mday = static_cast<unsigned short>(28 + wd);
    date.mon = Nov;
    date.year = 1999;
    date.AddDays(0);
    struct tm t = ZeroTm();
    t.tm_year = date.year - 1900;
    t.tm_mon = date.mon;
    t.tm_mday = date.mday;
    t.tm_wday = date.GetWeekDay();
    return ToString(CFormat(flags == Name_Abbr ? L"%a" : L"%A", t));
}

void CKzDateTime::GetAmPmStrings(CKzStringW* am, CKzStringW* pm)
{
    if (am != nullptr) *am = ToString(CFormat(L"%p", TimeOfDayRecord(0, 0, 0)));
    if (pm != nullptr) *pm = ToString(CFormat(L"%p", TimeOfDayRecord(13, 0, 0)));
}

int CKzDateTime::NameIndex(const wchar_t* text, bool months, int flags)
{
    const int count = months ? 12 : 7;
    if (text == nullptr) return count;
    const size_t len = wcslen(text);
    for (int i = 0; i < count; ++i) {
        if (flags & Name_Full) {
            const CKzStringW n = months ? GetMonthName(static_cast<Month>(i), Name_Full)
                                        : GetWeekDayName(static_cast<WeekDay>(i), Name_Full);
            if (EqualNoCase(text, len, n)) return i;
        }
        if (flags & Name_Abbr) {
            const CKzStringW n = months ? GetMonthName(static_cast<Month>(i), Name_Abbr)
                                        : GetWeekDayName(static_cast<WeekDay>(i), Name_Abbr);
            if (EqualNoCase(text, len, n)) return i;
        }
    }
    return count;
}

// ---------------------------------------------------------------------------
// Formatting

CKzStringW CKzDateTime::Format(const wchar_t* format, const TimeZone& tz) const
{
    if (format == nullptr) return CKzStringW();
    if (m_time >= 0 && std::wcsstr(format, L"%l") == nullptr) {
        const time_t secs = static_cast<time_t>(m_time / 1000);
        struct tm t;
        bool ok = false;
        if (tz.IsLocal()) {
            ok = localtime_r(&secs, &t) != nullptr;
        } else {
            const long long shifted = static_cast<long long>(secs) + tz.GetOffset();
            if (shifted >= 0) {
                const time_t s = static_cast<time_t>(shifted);
                ok = gmtime_r(&s, &t) != nullptr;
            }
        }
        if (ok) return ToString(CFormat(format, t));
    }

    Tm tm = GetTm(tz);
    if (tm.year == Inv_Year) return CKzStringW();  // a stored value beyond the calendar: no text
    std::wstring out;
    for (const wchar_t* p = format; *p != 0; ++p) {
        if (*p != L'%') {
            out += *p;
            continue;
        }
        ++p;
        // Flags and width: any run of "+", "-", blank and digits.
        std::wstring run;
        while (*p == L'+' || *p == L'-' || *p == L' ' || (*p >= L'0' && *p <= L'9')) {
            if (run.size() < 8) run += *p;  // a longer run is no sensible width
            ++p;
        }
        if (*p == 0) {
            out += L'%';
            break;
        }
        const wchar_t d = *p;
        std::wstring spec = run.empty() ? std::wstring(L"%02d") : L"%" + run + L"d";
        if (run.empty() && d == L'Y') spec = L"%04d";
        if (run.empty() && (d == L'j' || d == L'l')) spec = L"%03d";
        switch (d) {
        case L'a':
        case L'A': out += GetWeekDayName(tm.GetWeekDay(), d == L'a' ? Name_Abbr : Name_Full).GetString(); break;
        case L'b':
        case L'B':
            out += GetMonthName(tm.mon, d == L'b' ? Name_Abbr : Name_Full).GetString();
            break;
        case L'c':
        case L'x': {
            // A year of 1960..2015 with the same calendar stands in for the
            // real one, which the C formatter may not represent.
            const int y = tm.year;
            long long J = 15 - y / 100 + y / 400;
            const int r = y % 28;
            long long K = 1960 + r + (r < 10 ? 28 : 0);
            while (J % 7 != 0) {
                J += (K % 4 == 0) ? 2 : 1;
                K += 1;
            }
            struct tm t = ZeroTm();
            t.tm_sec = tm.sec;
            t.tm_min = tm.min;
            t.tm_hour = tm.hour;
            t.tm_mday = tm.mday;
            t.tm_mon = tm.mon;
            t.tm_wday = tm.GetWeekDay();
            t.tm_yday = GetDayOfYear(TimeZone(Local));
            t.tm_year = static_cast<int>(K - 1900);
            t.tm_isdst = 0;
            std::wstring text = CFormat(d == L'c' ? L"%c" : L"%x", t);
            ReplaceAll(text, Number(L"%d", K), Number(L"%04d", y));
            ReplaceAll(text, Number(L"%d", K % 100), Number(L"%02d", y % 100));
            out += text;
            break;
        }
        case L'd': out += Number(spec, tm.mday); break;
        case L'H': out += Number(spec, tm.hour); break;
        case L'I': out += Number(spec, tm.hour % 12 == 0 ? 12 : tm.hour % 12); break;
        case L'j': out += Number(spec, GetDayOfYear(tz)); break;
        case L'l': out += Number(spec, tm.msec); break;
        case L'm': out += Number(spec, static_cast<int>(tm.mon) + 1); break;
        case L'M': out += Number(spec, tm.min); break;
        case L'p': out += CFormat(L"%p", TimeOfDayRecord(tm.hour, tm.min, tm.sec)); break;
        case L'S': out += Number(spec, tm.sec); break;
        case L'U': out += Number(spec, GetWeekOfYear(Sunday_First, tz)); break;
        case L'W': out += Number(spec, GetWeekOfYear(Monday_First, tz)); break;
        case L'w': out += Number(spec, tm.GetWeekDay()); break;
        case L'X': out += CFormat(L"%X", TimeOfDayRecord(tm.hour, tm.min, tm.sec)); break;
        case L'y': out += Number(spec, tm.year % 100); break;
        case L'Y': out += Number(spec, tm.year); break;
        case L'Z': out += CFormat(L"%Z", TimeOfDayRecord(tm.hour, tm.min, tm.sec)); break;
        case L'%': out += L'%'; break;
        default: out += d; break;
        }
    }
    return ToString(out);
}

CKzStringW CKzDateTime::FormatDate(const TimeZone& tz) const
{
    return Format(L"%Y-%m-%d", tz);
}

CKzStringW CKzDateTime::FormatDateTime(const TimeZone& tz) const
{
    return Format(L"%Y-%m-%d %H:%M:%S", tz);
}

// ---------------------------------------------------------------------------
// RFC 822

namespace {

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }

// Reads exactly `n` digits.
bool Digits(const wchar_t*& p, int n, int* value)
{
    int v = 0;
    for (int i = 0; i < n; ++i) {
        if (!IsDigit(p[i])) return false;
        v = v * 10 + (p[i] - L'0');
    }
    p += n;
    *value = v;
    return true;
}

}  // namespace

const wchar_t* CKzDateTime::ParseRfc822Date(const wchar_t* date)
{
    if (date == nullptr) return nullptr;
    const wchar_t* p = date;
    if (const wchar_t* comma = std::wcschr(date, L',')) {
        if (comma[1] != L' ') return nullptr;
        p = comma + 2;
    }
    // Day: one or two digits and a blank.
    if (!IsDigit(*p)) return nullptr;
    int day = *p++ - L'0';
    if (IsDigit(*p)) day = day * 10 + (*p++ - L'0');
    if (*p++ != L' ') return nullptr;
    // Month: three characters, compared exactly.
    static const wchar_t* const kMonths[12] = {L"Jan", L"Feb", L"Mar", L"Apr", L"May", L"Jun",
                                               L"Jul", L"Aug", L"Sep", L"Oct", L"Nov", L"Dec"};
    int month = -1;
    for (int i = 0; i < 12; ++i)
        if (std::wcsncmp(p, kMonths[i], 3) == 0) month = i;
    if (month < 0) return nullptr;  // "Invalid RFC 822 month name"
    p += 3;
    if (*p++ != L' ') return nullptr;
    // Year: two or four digits, used as they are.
    int digits = 0;
    while (IsDigit(p[digits]) && digits < 5) ++digits;
    if (digits != 2 && digits != 4) return nullptr;
    int year = 0;
    Digits(p, digits, &year);
    if (*p++ != L' ') return nullptr;
    int hour = 0, minute = 0, second = 0;
    if (!Digits(p, 2, &hour) || *p++ != L':' || !Digits(p, 2, &minute)) return nullptr;
    if (*p == L':') {
        ++p;
        if (!Digits(p, 2, &second)) return nullptr;
    }
    if (*p++ != L' ') return nullptr;
    // Zone.
    int offsetMinutes = 0;
    if (*p == L'+' || *p == L'-') {
        const bool negative = *p == L'-';
        ++p;
        int hh = 0, mm = 0;
        if (!Digits(p, 2, &hh) || !Digits(p, 2, &mm)) return nullptr;
        offsetMinutes = hh * 60 + mm;
        if (negative) offsetMinutes = -offsetMinutes;
    } else {
        size_t len = 0;
        while (std::iswalpha(static_cast<wint_t>(p[len]))) ++len;
        if (len == 0) return nullptr;
        if (len == 1) {
            // Military zones; the letter must end the text.
            if (p[1] != 0) return nullptr;
            const wchar_t c = *p;
            if (c >= L'A' && c <= L'I') offsetMinutes = -(c - L'A' + 1) * 60;
            else if (c >= L'K' && c <= L'M') offsetMinutes = -(c - L'K' + 10) * 60;
            else if (c >= L'N' && c <= L'Y') offsetMinutes = (c - L'N' + 1) * 60;
            else if (c == L'Z') offsetMinutes = 0;
            else return nullptr;  // "Invalid militaty timezone "
        } else {
            static const struct { const wchar_t* name; int hours; } kZones[] = {
                {L"UT", 0}, {L"UTC", 0}, {L"GMT", 0}, {L"AST", -4}, {L"ADT", -3}, {L"EST", -5}, {L"EDT", -4},
                {L"CST", -6}, {L"CDT", -5}, {L"MST", -7}, {L"MDT", -6}, {L"PST", -8}, {L"PDT", -7},
            };
            bool found = false;
            for (const auto& z : kZones) {
                if (std::wcslen(z.name) == len && std::wcsncmp(p, z.name, len) == 0) {
                    offsetMinutes = z.hours * 60;
                    found = true;
                    break;
                }
            }
            if (!found) return nullptr;  // "Unknown RFC 822 timezone "
        }
        p += len;
    }
    // The instant at which a clock of that offset showed the fields, computed
    // on the calendar directly: going through local time would depend on the
    // process zone's daylight saving (an hour off in a local gap, or where the
    // local rules and the setter disagree).
    const kz_int64 days = KZ_TruncatedJulianDay(day, month, year) - 2440587;
    const kz_int64 secs = static_cast<kz_int64>(hour) * 3600 + minute * 60 + second - offsetMinutes * 60;
    m_time = days * 86400000 + secs * 1000;
    return p;
}

// ---------------------------------------------------------------------------
// Parsing by format

namespace {

// What a format read from the input.
struct SParsed {
    bool haveDay = false, haveMon = false, haveYear = false, haveYDay = false;
    bool haveHour = false, haveMin = false, haveSec = false;
    bool is12h = false, isPM = false;
    int day = 0, mon = 0, year = 0, yday = 0, hour = 0, min = 0, sec = 0;
};

// Reads a run of digits (at most `width` when given) into [lo, hi].
bool ReadNumber(const wchar_t*& p, int width, long long lo, long long hi, long long* out)
{
    const int limit = width > 0 ? width : 18;
    long long v = 0;
    int n = 0;
    while (n < limit && IsDigit(p[n])) {
        // Saturates: a wide field of many digits must not wrap into range.
        if (v <= 99999999999999999LL) v = v * 10 + (p[n] - L'0');
        else v = 999999999999999999LL;
        ++n;
    }
    if (n == 0) return false;
    if (width <= 0 && IsDigit(p[n])) return false;  // too many digits for any field
    if (v < lo || v > hi) return false;
    p += n;
    *out = v;
    return true;
}

const wchar_t* ReadLetters(const wchar_t* p, std::wstring* word)
{
    word->clear();
    while (std::iswalpha(static_cast<wint_t>(*p))) *word += *p++;
    return p;
}

}  // namespace

namespace {
// The format walk itself; the composite directives call it again with their
// fixed inner formats, so the depth stays small.
const wchar_t* ParseInto(const wchar_t* input, const wchar_t* format, SParsed& r, int depth);

const wchar_t* ParseFirst(const wchar_t* input, const wchar_t* const* formats, int count, SParsed& r, int depth)
{
    for (int i = 0; i < count; ++i) {
        SParsed scratch = r;
        if (const wchar_t* end = ParseInto(input, formats[i], scratch, depth + 1)) {
            r = scratch;
            return end;
        }
    }
    return nullptr;
}

const wchar_t* ParseInto(const wchar_t* p, const wchar_t* f, SParsed& r, int depth)
{
    if (depth > 4) return nullptr;
    for (; *f != 0; ++f) {
        if (std::iswspace(static_cast<wint_t>(*f))) {
            while (std::iswspace(static_cast<wint_t>(*p))) ++p;
            continue;
        }
        if (*f != L'%') {
            if (*p != *f) return nullptr;
            ++p;
            continue;
        }
        ++f;
        int width = 0;
        while (IsDigit(*f)) {
            if (width < 100) width = width * 10 + (*f - L'0');
            ++f;
        }
        long long n = 0;
        std::wstring word;
        switch (*f) {
        case L'a':
        case L'A': {
            p = ReadLetters(p, &word);
            const int flags = *f == L'a' ? DT::Name_Abbr : DT::Name_Full;
            int wd = 7;
            for (int i = 0; i < 7 && wd == 7; ++i) {
                const CKzStringW name = DT::GetWeekDayName(static_cast<DT::WeekDay>(i), static_cast<DT::NameFlags>(flags));
                if (EqualNoCase(word.c_str(), word.size(), name)) wd = i;
            }
            if (wd == 7) return nullptr;
            break;
        }
        case L'b':
        case L'B': {
            p = ReadLetters(p, &word);
            const int flags = *f == L'b' ? DT::Name_Abbr : DT::Name_Full;
            int m = 12;
            for (int i = 0; i < 12 && m == 12; ++i) {
                const CKzStringW name = DT::GetMonthName(static_cast<DT::Month>(i), static_cast<DT::NameFlags>(flags));
                if (EqualNoCase(word.c_str(), word.size(), name)) m = i;
            }
            if (m == 12) return nullptr;
            r.mon = m;
            r.haveMon = true;
            break;
        }
        case L'c': {
            static const wchar_t* const kForms[] = {L"%a %b %d %H:%M:%S %Y", L"%x %X", L"%X %x"};
            p = ParseFirst(p, kForms, 3, r, depth);
            if (p == nullptr) return nullptr;
            break;
        }
        case L'd':
            if (!ReadNumber(p, width, 1, 31, &n)) return nullptr;
            r.day = static_cast<int>(n);
            r.haveDay = true;
            break;
        case L'H':
            if (!ReadNumber(p, width, 0, 23, &n)) return nullptr;
            r.hour = static_cast<int>(n);
            r.haveHour = true;
            break;
        case L'I':
            if (!ReadNumber(p, width, 1, 12, &n)) return nullptr;
            r.hour = n == 12 ? 0 : static_cast<int>(n);
            r.haveHour = true;
            r.is12h = true;
            break;
        case L'j':
            if (!ReadNumber(p, width, 1, 366, &n)) return nullptr;
            r.yday = static_cast<int>(n);
            r.haveYDay = true;
            break;
        case L'm':
            if (!ReadNumber(p, width, 1, 12, &n)) return nullptr;
            r.mon = static_cast<int>(n) - 1;
            r.haveMon = true;
            break;
        case L'M':
            if (!ReadNumber(p, width, 0, 59, &n)) return nullptr;
            r.min = static_cast<int>(n);
            r.haveMin = true;
            break;
        case L'p': {
            p = ReadLetters(p, &word);
            CKzStringW am, pm;
            DT::GetAmPmStrings(&am, &pm);
            if (EqualNoCase(word.c_str(), word.size(), pm)) r.isPM = true;
            else if (!EqualNoCase(word.c_str(), word.size(), am)) return nullptr;
            break;
        }
        case L'r': {
            static const wchar_t* const kForm[] = {L"%I:%M:%S %p"};
            if ((p = ParseFirst(p, kForm, 1, r, depth)) == nullptr) return nullptr;
            break;
        }
        case L'R': {
            static const wchar_t* const kForm[] = {L"%H:%M"};
            if ((p = ParseFirst(p, kForm, 1, r, depth)) == nullptr) return nullptr;
            break;
        }
        case L'S':
            if (!ReadNumber(p, width, 0, 61, &n)) return nullptr;
            r.sec = static_cast<int>(n);
            r.haveSec = true;
            break;
        case L'T': {
            static const wchar_t* const kForm[] = {L"%H:%M:%S"};
            if ((p = ParseFirst(p, kForm, 1, r, depth)) == nullptr) return nullptr;
            break;
        }
        case L'w':
            if (!ReadNumber(p, width, 0, 6, &n)) return nullptr;
            break;
        case L'x': {
            static const wchar_t* const kDayFirst[] = {L"%d/%m/%y", L"%m/%d/%y"};
            static const wchar_t* const kMonthFirst[] = {L"%m/%d/%y", L"%d/%m/%y"};
            const DT::Country c = DT::GetCountry();
            const bool dayFirst = c >= DT::Country_WesternEurope_Start && c <= DT::Russia;
            if ((p = ParseFirst(p, dayFirst ? kDayFirst : kMonthFirst, 2, r, depth)) == nullptr) return nullptr;
            break;
        }
        case L'X': {
            static const wchar_t* const kForms[] = {L"%T", L"%r"};
            if ((p = ParseFirst(p, kForms, 2, r, depth)) == nullptr) return nullptr;
            break;
        }
        case L'y':
            if (!ReadNumber(p, width, 0, 99, &n)) return nullptr;
            r.year = static_cast<int>(n < 31 ? 2000 + n : 1900 + n);
            r.haveYear = true;
            break;
        case L'Y':
            if (!ReadNumber(p, width, 0, 299999, &n)) return nullptr;
            r.year = static_cast<int>(n);
            r.haveYear = true;
            break;
        case L'%':
            if (*p != L'%') return nullptr;
            ++p;
            break;
        default:
            return nullptr;  // unknown directive, or a "%" ending the format
        }
    }
    return p;
}

}  // namespace

const wchar_t* CKzDateTime::ParseFormat(const wchar_t* date, const wchar_t* format, const CKzDateTime& dateDef,
                                        bool startOfDay, bool endOfDay)
{
    // An empty format has nothing to understand.
    if (date == nullptr || format == nullptr || *format == 0) return nullptr;
    SParsed r;
    const wchar_t* end = ParseInto(date, format, r, 0);
    if (end == nullptr) return nullptr;

    Tm ref;
    if (dateDef.IsValid()) ref = dateDef.GetTm();
    else if (IsValid()) ref = GetTm();
    if (ref.year == Inv_Year || ref.mon == Inv_Month || !(dateDef.IsValid() || IsValid())) {
        CKzDateTime today = UNow();
        today.ResetTime();
        ref = today.GetTm();
        ref.msec = 0;
    }

    int day = ref.mday, mon = ref.mon;
    const int year = r.haveYear ? r.year : ref.year;
    if (r.haveDay || r.haveMon) {
        // What was read is used; a missing half comes from the reference.
        if (r.haveDay) day = r.day;
        if (r.haveMon) mon = r.mon;
    } else if (r.haveYDay) {
        Tm t;
        t.mday = 1;
        t.mon = Jan;
        t.year = year;
        t.AddDays(r.yday - 1);
        day = t.mday;
        mon = t.mon;
    }
    int hour = r.haveHour ? r.hour + (r.is12h && r.isPM ? 12 : 0) : -1;
    int min = r.haveMin ? r.min : -1;
    int sec = r.haveSec ? r.sec : -1;
    if (hour < 0) hour = startOfDay ? 0 : endOfDay ? 23 : ref.hour;
    if (min < 0) min = startOfDay ? 0 : endOfDay ? 59 : ref.min;
    if (sec < 0) sec = startOfDay ? 0 : endOfDay ? 59 : ref.sec;

    CKzDateTime dt;
    if (&dt.Set(static_cast<unsigned short>(day), static_cast<Month>(mon), year, static_cast<unsigned short>(hour),
                static_cast<unsigned short>(min), static_cast<unsigned short>(sec), ref.msec) != &dt)
        return nullptr;
    *this = dt;
    return end;
}

const wchar_t* CKzDateTime::ParseISODateTime(const wchar_t* date, bool startOfDay, bool endOfDay)
{
    return ParseFormat(date, L"%Y-%m-%dT%H:%M:%S", g_DefaultDateTime, startOfDay, endOfDay);
}

const wchar_t* CKzDateTime::ParseTime(const wchar_t* time)
{
    if (time == nullptr) return nullptr;
    if (size_t n = StartsWithNoCase(time, L"noon")) {
        if (&Set(12, 0, 0, 0) != this) return nullptr;
        return time + n;
    }
    if (size_t n = StartsWithNoCase(time, L"midnight")) {
        if (&Set(0, 0, 0, 0) != this) return nullptr;
        return time + n;
    }
    static const wchar_t* const kForms[] = {L"%X", L"%H:%M:%S", L"%I:%M:%S %p", L"%H:%M", L"%I:%M %p", L"%H", L"%I %p"};
    for (const wchar_t* f : kForms)
        if (const wchar_t* end = ParseFormat(time, f, g_DefaultDateTime, false, false)) return end;
    return nullptr;
}

// ---------------------------------------------------------------------------
// Free-form dates

const wchar_t* CKzDateTime::ParseDate(const wchar_t* date)
{
    if (date == nullptr) return nullptr;
    const wchar_t* p = date;
    while (std::iswspace(static_cast<wint_t>(*p))) ++p;

    static const struct { const wchar_t* word; int days; } kRelative[] = {
        {L"today", 0}, {L"yesterday", -1}, {L"tomorrow", 1}};
    for (const auto& rel : kRelative) {
        if (size_t n = StartsWithNoCase(p, rel.word)) {
            CKzDateTime dt = UNow();
            if (&dt.ResetTime() != &dt) return nullptr;
            if (rel.days != 0 && &dt.Add(CKzDateSpan(0, 0, 0, rel.days)) != &dt) return nullptr;
            *this = dt;
            return p + n;
        }
    }

    static const wchar_t* const kOrdinals[20] = {
        L"first", L"second", L"third", L"fourth", L"fifth", L"sixth", L"seventh", L"eighth", L"ninth", L"tenth",
        L"eleventh", L"twelfth", L"thirteenth", L"fourteenth", L"fifteenth", L"sixteenth", L"seventeenth",
        L"eighteenth", L"nineteenth", L"twentieth"};
    auto isDelimiter = [](wchar_t c) {
        return c == L'.' || c == L',' || c == L'/' || c == L'-' || c == L'\t' || c == L'\n' || c == L' ';
    };

    bool haveDay = false, haveMon = false, haveYear = false, haveWDay = false;
    int day = 0, mon = 0, year = 0, wday = 0;
    const wchar_t* used = p;
    const int currentYear = GetCurrentYear();
    const wchar_t* q = p;
    for (;;) {
        while (*q != 0 && isDelimiter(*q)) ++q;
        if (*q == 0) break;
        const wchar_t* start = q;
        while (*q != 0 && !isDelimiter(*q)) ++q;
        const std::wstring token(start, static_cast<size_t>(q - start));

        bool digitsOnly = true;
        for (wchar_t c : token) digitsOnly = digitsOnly && IsDigit(c);
        if (digitsOnly) {
            long long n = 0;
            for (wchar_t c : token) n = n < 100000000 ? n * 10 + (c - L'0') : n;
            if (!haveMon && n >= 1 && n <= 12) {
                mon = static_cast<int>(n) - 1;
                haveMon = true;
            } else {
                const int maxDay = haveMon ? GetNumberOfDays(static_cast<Month>(mon), haveYear ? year : currentYear) : 31;
                if (n != 0 && n <= maxDay) {
                    if (haveDay) break;
                    day = static_cast<int>(n);
                    haveDay = true;
                } else {
                    if (haveYear) break;
                    year = static_cast<unsigned short>(n & 0xFFFF);
                    haveYear = true;
                }
            }
            used = q;
            continue;
        }
        const int m = NameIndex(token.c_str(), true, Name_Full | Name_Abbr);
        if (m < 12) {
            if (haveMon) break;
            mon = m;
            haveMon = true;
            used = q;
            continue;
        }
        const int w = NameIndex(token.c_str(), false, Name_Full | Name_Abbr);
        if (w < 7) {
            if (haveWDay) break;
            wday = w;
            haveWDay = true;
            used = q;
            continue;
        }
        int ordinal = 0;
        for (int i = 0; i < 20 && ordinal == 0; ++i)
            if (token.size() == std::wcslen(kOrdinals[i]) && StartsWithNoCase(token.c_str(), kOrdinals[i])) ordinal = i + 1;
        if (ordinal != 0) {
            if (haveDay) break;
            day = ordinal;
            haveDay = true;
            used = q;
            continue;
        }
        break;
    }

    if (!haveDay && !haveWDay) return nullptr;
    CKzDateTime dt;
    if (haveWDay && (haveDay || haveMon || haveYear)) {
        if (!(haveDay && haveMon && haveYear)) return nullptr;
    } else if (haveWDay) {
        dt = UNow();
        if (&dt.ResetTime() != &dt || &dt.SetToWeekDayInSameWeek(static_cast<WeekDay>(wday)) != &dt) return nullptr;
        *this = dt;
        return used;
    }
    if (haveDay && haveYear && !haveMon) {
        // "5 2011" style: a small day is the month and the year the day.
        if (day > 12) return nullptr;
        mon = day - 1;
        if (year < 1 || year > GetNumberOfDays(static_cast<Month>(mon), currentYear)) return nullptr;
        day = year;
        year = currentYear;
        haveMon = true;
    }
    if (!haveMon) mon = GetCurrentMonth();
    if (!haveYear) year = currentYear;
    if (&dt.Set(static_cast<unsigned short>(day), static_cast<Month>(mon), year, 0, 0, 0, 0) != &dt) return nullptr;
    *this = dt;
    return used;
}

// ---------------------------------------------------------------------------
// Locale dates and times, and both together

const wchar_t* CKzDateTime::ParseLocaleDate(const wchar_t* date, bool startOfDay, bool endOfDay)
{
    // The form FormatDate writes, then the locale's short date.
    static const wchar_t* const kForms[] = {L"%Y-%m-%d", L"%x"};
    for (const wchar_t* f : kForms)
        if (const wchar_t* end = ParseFormat(date, f, g_DefaultDateTime, startOfDay, endOfDay)) return end;
    return nullptr;
}

const wchar_t* CKzDateTime::ParseLocaleTime(const wchar_t* time, bool startOfDay, bool endOfDay)
{
    // The time is read onto this object's date.
    static const wchar_t* const kForms[] = {L"%H:%M:%S", L"%H:%M", L"%X"};
    const CKzDateTime reference = *this;
    for (const wchar_t* f : kForms)
        if (const wchar_t* end = ParseFormat(time, f, reference, startOfDay, endOfDay)) return end;
    return nullptr;
}

const wchar_t* CKzDateTime::ParseDateTime(const wchar_t* text, bool startOfDay, bool endOfDay)
{
    if (text == nullptr) return nullptr;
    const wchar_t* p = text;
    while (*p != 0 && static_cast<unsigned int>(*p) <= 32) ++p;
    CKzDateTime dt = *this;
    const wchar_t* afterDate = dt.ParseLocaleDate(p, startOfDay, endOfDay);
    if (afterDate == nullptr) return nullptr;  // nothing understood
    p = afterDate;
    const wchar_t* q = p;
    while (*q != 0 && static_cast<unsigned int>(*q) <= 32) ++q;
    if (*q != 0 && q != p) {
        if (const wchar_t* afterTime = dt.ParseLocaleTime(q, startOfDay, endOfDay)) p = afterTime;
    }
    *this = dt;
    return p;
}
