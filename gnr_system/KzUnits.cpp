#include "gnr_system/KzUnits.h"
#include "gnr_system/CKzString.h"

#include <cmath>

wchar_t Unit_Table[KZ_UNIT_COUNT][KZ_UNIT_NAME_LEN];
wchar_t Unit_ShortTable[KZ_UNIT_COUNT][KZ_UNIT_NAME_LEN];
wchar_t Unit_LongTable[KZ_UNIT_COUNT][KZ_UNIT_NAME_LEN];

namespace {

struct SUnitNames {
    const wchar_t* name;
    const wchar_t* shortName;
    const wchar_t* longName;
};

// U+00B5 is the micro sign; U+221E is the sign the degree units have always used.
const SUnitNames kUnits[KZ_UNIT_COUNT] = {
    {L"pixels", L"px", L"Pixels"},
    {L"nm", L"nm", L"Nanometers"},
    {L"\u00B5m", L"\u00B5m", L"Micrometers"},
    {L"mm", L"mm", L"Millimeters"},
    {L"cm", L"cm", L"Centimeters"},
    {L"dm", L"dm", L"Decimeters"},
    {L"m", L"m", L"Meters"},
    {L"km", L"km", L"Kilometers"},
    {L"mil", L"mil", L"Mils"},
    {L"inch", L"in", L"Inches"},
    {L"unknown", L"??", L"Unknown"},
    {L"deg", L"deg", L"Degrees"},
    {L"rad", L"rad", L"Radians"},
    {L"grad", L"grad", L"grad"},
    {L"hour", L"h", L"Hours"},
    {L"min", L"m", L"Minutes"},
    {L"s", L"s", L"Seconds"},
    {L"ms", L"ms", L"Milliseconds"},
    {L"\u00B5s", L"\u00B5s", L"Microseconds"},
    {L"ns", L"ns", L"Nanoseconds"},
    {L"val", L"", L"Value"},
    {L"percent", L"%", L"Percents"},
    {L"celsius", L"\u221E" L"C", L"Degrees Celsius"},
    {L"kelvin", L"K", L"Kelvins"},
    {L"fahrenheit", L"\u221E" L"F", L"Degrees Fahrenheit"},
    {L"nmol", L"nM", L"Nanomoles"},
    {L"\u00B5mol", L"\u00B5M", L"Micromoles"},
    {L"mmol", L"mM", L"Millimoles"},
    {L"mol", L"M", L"Moles"},
};

const double kMicrons[10] = {1, 0.001, 1, 1000, 10000, 100000, 1e6, 1e9, 25.4, 25400};
const double kRadians[3] = {0.017453292519943334, 1, 0.015707963267949};
const double kSeconds[6] = {3600, 60, 1, 0.001, 1e-6, 1e-9};
const double kNanomoles[4] = {1, 1000, 1e6, 1e9};

const int kUnknown = 10;

inline unsigned int Row(int unit)
{
    return static_cast<unsigned int>(unit) < KZ_UNIT_COUNT ? static_cast<unsigned int>(unit) : kUnknown;
}

void Copy(wchar_t* dst, const wchar_t* src)
{
    unsigned int i = 0;
    for (; i + 1 < KZ_UNIT_NAME_LEN && src[i] != 0; ++i) dst[i] = src[i];
    for (; i < KZ_UNIT_NAME_LEN; ++i) dst[i] = 0;
}

bool EqualNoCase(const wchar_t* a, const wchar_t* b)
{
    return KZ_Sstricmp(a, b) == 0;
}

double TimeFactor(int unit)
{
    return (unit >= 14 && unit <= 19) ? kSeconds[unit - 14] : 1.0;
}

double LengthFactor(int unit)
{
    if (unit == 0) return NAN;  // pixels do not convert
    return HowManyMicronsAmI(static_cast<unsigned int>(unit));
}

// Composite names are built per thread so concurrent callers do not share text.
const wchar_t* Composite(int type, int unit, const wchar_t* (*name)(int))
{
    thread_local wchar_t buffer[2][KZ_UNIT_NAME_LEN + 1];
    wchar_t* out = buffer[name == Get_Unit_ShortName ? 0 : 1];
    if (type == 2 || type == 3) {
        swprintf(out, KZ_UNIT_NAME_LEN + 1, L"%ls%lc", name(unit), type == 2 ? L'\u00B2' : L'\u00B3');
    } else if (type == 11) {
        swprintf(out, KZ_UNIT_NAME_LEN + 1, L"%ls/%ls", name(unit / 100 - 1), name(unit % 100));
    } else {
        return name(unit);
    }
    out[KZ_UNIT_NAME_LEN] = 0;
    return out;
}

}  // namespace

int Units_Initialize()
{
    for (unsigned int i = 0; i < KZ_UNIT_COUNT; ++i) {
        Copy(Unit_Table[i], kUnits[i].name);
        Copy(Unit_ShortTable[i], kUnits[i].shortName);
        Copy(Unit_LongTable[i], kUnits[i].longName);
    }
    return 0;
}

const wchar_t* Get_Unit_Name(int unit) { return Unit_Table[Row(unit)]; }
const wchar_t* Get_Unit_ShortName(int unit) { return Unit_ShortTable[Row(unit)]; }
const wchar_t* Get_Unit_LongName(int unit) { return Unit_LongTable[Row(unit)]; }

int Get_Unit_ID(const wchar_t* text)
{
    if (text == nullptr) return kUnknown;
    if (EqualNoCase(text, L"um")) return 2;
    for (int i = 0; i < KZ_UNIT_COUNT; ++i)
        if (i != kUnknown && EqualNoCase(text, Unit_Table[i])) return i;
    for (int i = 0; i < 10; ++i)
        if (EqualNoCase(text, Unit_ShortTable[i])) return i;
    for (int i = 0; i < 10; ++i)
        if (EqualNoCase(text, Unit_LongTable[i])) return i;
    for (int i = 11; i < KZ_UNIT_COUNT; ++i) {
        if (EqualNoCase(text, Unit_ShortTable[i])) return i;
        if (EqualNoCase(text, Unit_LongTable[i])) return i;
    }
    return kUnknown;
}

double HowManyMicronsAmI(unsigned int unit)
{
    return (unit >= 1 && unit <= 9) ? kMicrons[unit] : 1.0;
}

int GetUnitGroup(unsigned int unit)
{
    if (unit == 8 || unit == 9 || unit == 24) return 1;
    if (unit == 5) return 2;
    return 6;
}

int Get_Unit_Type(unsigned int unit)
{
    if (unit <= 9) return 1;
    if (unit >= 11 && unit <= 13) return 4;
    if (unit >= 14 && unit <= 19) return 6;
    if (unit == 20 || unit == 21) return 7;
    if (unit >= 22 && unit <= 24) return 8;
    if (unit >= 25 && unit <= 28) return 10;
    return 0;
}

int Get_UnitType_NumUnits(unsigned int type)
{
    switch (type) {
    case 1: case 2: case 3: return 10;
    case 4: return 3;
    case 5: return 1;
    case 6: return 6;
    case 7: return 2;
    case 8: return 3;
    case 10: return 4;
    default: return 0;
    }
}

int Get_UnitType_Unit(unsigned int type, unsigned int k)
{
    if (type == 0 || type == 9) return kUnknown;
    if (type >= 11) return 0;
    // A position past the type's units is no unit of it.
    if (k >= static_cast<unsigned int>(Get_UnitType_NumUnits(type))) return kUnknown;
    switch (type) {
    case 1: case 2: case 3: return static_cast<int>(k);
    case 4: return static_cast<int>(k) + 11;
    case 5: return 1;
    case 6: return static_cast<int>(k) + 14;
    case 7: return static_cast<int>(k) + 20;
    case 8: return static_cast<int>(k) + 22;
    case 10: return static_cast<int>(k) + 25;
    default: return kUnknown;
    }
}

int Get_Unit_Default(unsigned int type)
{
    switch (type) {
    case 1: case 2: case 3: return 2;
    case 4: return 11;
    case 5: return 1;
    case 6: return 16;
    case 7: return 21;
    case 8: return 22;
    case 10: return 25;
    case 11: return 316;
    default: return kUnknown;
    }
}

double Get_Unit_MulFactor(unsigned int type, int unit)
{
    switch (type) {
    case 1: return LengthFactor(unit);
    case 2: { const double f = LengthFactor(unit); return f * f; }
    case 3: { const double f = LengthFactor(unit); return f * f * f; }
    case 4: return (unit >= 11 && unit <= 13) ? kRadians[unit - 11] : 1.0;
    case 6: return TimeFactor(unit);
    case 7: return unit == 20 ? 1.0 : 0.01;
    case 10: return (unit >= 25 && unit <= 28) ? kNanomoles[unit - 25] : 1.0;
    case 11: return LengthFactor(unit / 100 - 1) / TimeFactor(unit % 100);
    default: return 1.0;
    }
}

double Convert_Unit_To_Unit(int type, int from, int to, double value)
{
    if (from == to) return value;
    if (type == 8) {
        double c = value;
        if (from == 23) c = value - 273.15;
        else if (from == 24) c = (value - 32) * 0.5555555555555556;
        if (to == 23) return c + 273.15;
        if (to == 24) return c * 1.8 + 32;
        return c;
    }
    if (type == 11) {
        const double l1 = LengthFactor(from / 100 - 1), l2 = LengthFactor(to / 100 - 1);
        const double t1 = TimeFactor(from % 100), t2 = TimeFactor(to % 100);
        if (std::isnan(t1) || std::isnan(t2)) return value;
        if (std::isnan(l1) || std::isnan(l2)) return value / t1 * t2;
        return value * (l1 / t1) / l2 * t2;
    }
    const double f1 = Get_Unit_MulFactor(static_cast<unsigned int>(type), from);
    const double f2 = Get_Unit_MulFactor(static_cast<unsigned int>(type), to);
    if (std::isnan(f1) || std::isnan(f2)) return value;
    return value * f1 / f2;
}

const wchar_t* Get_UnitType_ShortName(int type, int unit) { return Composite(type, unit, Get_Unit_ShortName); }
const wchar_t* Get_UnitType_LongName(int type, int unit) { return Composite(type, unit, Get_Unit_LongName); }

int Get_UnitType_ID(unsigned int type, const wchar_t* text)
{
    if (text == nullptr) return kUnknown;
    const size_t len = wcslen(text);
    if (type == 2 || type == 3) {
        // Without the exponent; an empty text has none to remove.
        if (len == 0 || len > 256) return kUnknown;
        wchar_t base[257];
        wmemcpy(base, text, len - 1);
        base[len - 1] = 0;
        return Get_Unit_ID(base);
    }
    if (type == 11) {
        const wchar_t* slash = wcschr(text, L'/');
        if (slash == nullptr) return kUnknown;
        const size_t n = static_cast<size_t>(slash - text);
        if (n > 256) return kUnknown;
        wchar_t length[257];
        wmemcpy(length, text, n);
        length[n] = 0;
        const int l = Get_Unit_ID(length);
        const int t = Get_Unit_ID(slash + 1);
        if (l < 0 || l > 9 || t < 14 || t > 19) return kUnknown;
        return (l + 1) * 100 + t;
    }
    return Get_Unit_ID(text);
}

void Calc_Auto_Units(int* unit, unsigned int current, double value)
{
    if (unit == nullptr) return;
    static const int kMetric[7][2] = {{1, -3}, {2, 0}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 9}};
    static const int kImperial[2][2] = {{8, 1}, {9, 4}};
    const int (*cand)[2] = kMetric;
    int count = 7;
    if (GetUnitGroup(current) % 2 == 1) {
        cand = kImperial;
        count = 2;
        value *= 25.4;
    }
    double e = std::log10(value);
    if (std::fabs(e) < 4503599627370496.0) e = std::floor(e);
    double best = 10000000.0;
    *unit = 0;
    for (int i = 0; i < count; ++i) {
        const double d = std::fabs(cand[i][1] - e);
        if (d < best) {
            best = d;
            *unit = cand[i][0];
        }
    }
}

void Calc_Auto_Units_Precision(int* unit, int precision, double value)
{
    if (unit == nullptr) return;
    static const int kMetric[7][2] = {{1, -3}, {2, 0}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 9}};
    const double e = std::log10(value);
    double best = 10000000.0;
    *unit = 0;
    for (const auto& c : kMetric) {
        const double x = c[1] - e;
        const double d = x >= 0 ? x + precision : -x;
        if (d < best) {
            best = d;
            *unit = c[0];
        }
    }
}
