// Locale-independent number texts and saturated conversions for variants.
#include "gnr_system/CKzVariantText.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace kzvariant {

// Digits by hand: the library's own code, so no integer-formatting template
// of the standard library is instantiated (and exported) here.
std::string FormatU64(unsigned long long v)
{
    char buf[24];
    int i = 24;
    do {
        buf[--i] = (char)('0' + v % 10);
        v /= 10;
    } while (v);
    return std::string(buf + i, (size_t)(24 - i));
}

std::string FormatI64(long long v)
{
    if (v >= 0) return FormatU64((unsigned long long)v);
    return "-" + FormatU64(0ull - (unsigned long long)v);
}

static std::string FormatNonFinite(double v)
{
    if (std::isnan(v)) return std::signbit(v) ? "-nan" : "nan";
    return v < 0 ? "-inf" : "inf";
}

std::string FormatDoubleFixed15(double v)
{
    if (!std::isfinite(v)) return FormatNonFinite(v);
    char buf[400];   // 309 integer digits, point, 15 decimals, sign
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, 15);
    if (r.ec != std::errc()) return "0.000000000000000";
    return std::string(buf, r.ptr);
}

std::string FormatDoubleG15(double v)
{
    if (!std::isfinite(v)) return FormatNonFinite(v);
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    if (r.ec != std::errc()) return "0";
    return std::string(buf, r.ptr);
}

std::string FormatDoubleG17(double v)
{
    if (!std::isfinite(v)) return FormatNonFinite(v);
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
    if (r.ec != std::errc()) return "0";
    return std::string(buf, r.ptr);
}

std::string FormatPointer(const void* p)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%p", p);
    return buf;
}

static bool IsSpaceW(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

// Sign and magnitude of a decimal number; the magnitude saturates at 2^64-1.
static bool ScanMagnitude(const wchar_t* text, bool& negative, unsigned long long& mag)
{
    if (!text) return false;
    const wchar_t* p = text;
    while (IsSpaceW(*p)) ++p;
    negative = false;
    if (*p == L'+' || *p == L'-') {
        negative = (*p == L'-');
        ++p;
    }
    if (*p < L'0' || *p > L'9') return false;
    unsigned long long m = 0;
    bool over = false;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        unsigned d = (unsigned)(*p - L'0');
        if (m > (std::numeric_limits<unsigned long long>::max() - d) / 10) over = true;
        if (!over) m = m * 10 + d;
    }
    mag = over ? std::numeric_limits<unsigned long long>::max() : m;
    return true;
}

template <class T>
static bool ScanSigned(const wchar_t* text, T& out)
{
    bool neg;
    unsigned long long mag;
    if (!ScanMagnitude(text, neg, mag)) return false;
    using U = std::make_unsigned_t<T>;
    const unsigned long long maxPos = (unsigned long long)std::numeric_limits<T>::max();
    if (neg) {
        if (mag > maxPos + 1) mag = maxPos + 1;
        out = (T)(U)(0 - (U)mag);
    } else {
        out = (T)(mag > maxPos ? maxPos : mag);
    }
    return true;
}

template <class T>
static bool ScanUnsigned(const wchar_t* text, T& out)
{
    bool neg;
    unsigned long long mag;
    if (!ScanMagnitude(text, neg, mag)) return false;
    const unsigned long long maxV = std::numeric_limits<T>::max();
    if (mag > maxV) mag = maxV;
    out = neg ? (T)(0 - (T)mag) : (T)mag;
    return true;
}

bool ScanI32(const wchar_t* text, kz_int32& out) { return ScanSigned(text, out); }
bool ScanU32(const wchar_t* text, kz_uint32& out) { return ScanUnsigned(text, out); }
bool ScanI64(const wchar_t* text, kz_int64& out) { return ScanSigned(text, out); }
bool ScanU64(const wchar_t* text, kz_uint64& out) { return ScanUnsigned(text, out); }

bool ScanPointer(const wchar_t* text, void*& out)
{
    if (!text) return false;
    const wchar_t* p = text;
    while (IsSpaceW(*p)) ++p;
    if (p[0] == L'0' && (p[1] == L'x' || p[1] == L'X')) {
        const wchar_t c = p[2];
        if ((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F')) p += 2;
    }
    uintptr_t v = 0;
    bool any = false;
    for (;; ++p) {
        unsigned d;
        if (*p >= L'0' && *p <= L'9') d = (unsigned)(*p - L'0');
        else if (*p >= L'a' && *p <= L'f') d = (unsigned)(*p - L'a' + 10);
        else if (*p >= L'A' && *p <= L'F') d = (unsigned)(*p - L'A' + 10);
        else break;
        v = (v << 4) | d;
        any = true;
    }
    if (!any) return false;
    out = (void*)v;
    return true;
}

static locale_t CLocale()
{
    static locale_t loc = newlocale(LC_ALL_MASK, "C", (locale_t)0);
    return loc;
}

double ScanDouble(const wchar_t* text)
{
    if (!text) return 0.0;
    // Numbers are ASCII; anything else cannot be part of one.
    std::string narrow;
    for (const wchar_t* p = text; *p; ++p) {
        if (narrow.size() > 4096) break;   // no number is longer
        narrow.push_back((*p > 0 && *p < 0x80) ? (char)*p : '?');
    }
    locale_t loc = CLocale();
    if (loc == (locale_t)0) return std::strtod(narrow.c_str(), nullptr);
    return strtod_l(narrow.c_str(), nullptr, loc);
}

kz_int32 DoubleToI32(double d)
{
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return (kz_int32)d;
}

kz_uint32 DoubleToU32(double d)
{
    if (std::isnan(d) || d <= 0.0) return 0;
    if (d >= 4294967295.0) return UINT32_MAX;
    return (kz_uint32)d;
}

kz_int64 DoubleToI64(double d)
{
    if (std::isnan(d)) return 0;
    if (d >= 9223372036854775808.0) return INT64_MAX;
    if (d < -9223372036854775808.0) return INT64_MIN;
    return (kz_int64)d;
}

kz_uint64 DoubleToU64(double d)
{
    if (std::isnan(d) || d <= 0.0) return 0;
    if (d >= 18446744073709551616.0) return UINT64_MAX;
    if (d >= 9223372036854775808.0)
        return (kz_uint64)(d - 9223372036854775808.0) + 9223372036854775808ull;
    return (kz_uint64)d;
}

} // namespace kzvariant
