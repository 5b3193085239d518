// Internal helpers of the variant units: numbers written and read in the C
// locale whatever the host's locale is, and saturated double-to-integer
// conversions.
#pragma once

#include "gnr_system/kz_base.h"

#include <string>

namespace kzvariant {

// Integer texts ("%d", "%u", "%lld", "%llu" forms).
std::string FormatI64(long long v);
std::string FormatU64(unsigned long long v);
// "%.15f" and "%.15g" forms of a double.
std::string FormatDoubleFixed15(double v);
std::string FormatDoubleG15(double v);
// "%.17g": enough digits for every double to read back exactly.
std::string FormatDoubleG17(double v);
// "%p" form of a pointer.
std::string FormatPointer(const void* p);

// Wide scans like swscanf: leading white space, an optional sign, decimal
// digits. False when no digit was found (the output is then untouched).
// Values beyond the target range saturate; a negative text read as an
// unsigned number is negated modulo 2^bits, as the C library does.
bool ScanI32(const wchar_t* text, kz_int32& out);
bool ScanU32(const wchar_t* text, kz_uint32& out);
bool ScanI64(const wchar_t* text, kz_int64& out);
bool ScanU64(const wchar_t* text, kz_uint64& out);
// Hexadecimal pointer text ("0x..." or plain hex digits).
bool ScanPointer(const wchar_t* text, void*& out);
// strtod of the leading number of the text in the C locale; 0.0 when the
// text holds none.
double ScanDouble(const wchar_t* text);

// Truncation toward zero; NaN gives 0, values beyond the range the nearest
// end of the range.
kz_int32 DoubleToI32(double d);
kz_uint32 DoubleToU32(double d);
kz_int64 DoubleToI64(double d);
kz_uint64 DoubleToU64(double d);

} // namespace kzvariant
