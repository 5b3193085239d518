// Chunk names of VT5 files.
#include "vt5file/KzVT5Names.h"

#include <cstdio>
#include <cstring>

namespace vt5names {

std::string Indexed(const char* prefix, u32 index)
{
    char digits[16];
    std::snprintf(digits, sizeof(digits), "%i", (int)index);
    std::string s(prefix);
    s += digits;
    s += '!';
    return s;
}

bool ParseIndexed(const std::string& name, const char* prefix, u32& index)
{
    const size_t p = std::strlen(prefix);
    if (name.size() < p + 2 || name.compare(0, p, prefix) != 0 || name.back() != '!')
        return false;
    size_t i = p;
    const bool negative = name[i] == '-';
    if (negative)
        ++i;
    const size_t end = name.size() - 1;
    if (i == end || end - i > 10)
        return false;
    long long v = 0;
    for (; i < end; ++i) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        v = v * 10 + (name[i] - '0');
    }
    if (negative)
        v = -v;
    if (v < -2147483648LL || v > 2147483647LL)
        return false;
    const u32 candidate = (u32)(int)v;
    if (Indexed(prefix, candidate) != name)  // leading zeros, "-0"
        return false;
    index = candidate;
    return true;
}

std::string Utf8(const wchar_t* name)
{
    std::string out;
    if (!name)
        return out;
    for (const wchar_t* p = name; *p; ++p) {
        u32 c = (u32)*p;
        if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))
            c = 0xFFFD;
        if (c < 0x80) {
            out += (char)c;
        } else if (c < 0x800) {
            out += (char)(0xC0 | (c >> 6));
            out += (char)(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += (char)(0xE0 | (c >> 12));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        } else {
            out += (char)(0xF0 | (c >> 18));
            out += (char)(0x80 | ((c >> 12) & 0x3F));
            out += (char)(0x80 | ((c >> 6) & 0x3F));
            out += (char)(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string Custom(const char* prefix, const wchar_t* name)
{
    std::string s(prefix);
    s += Utf8(name);
    s += '!';
    return s;
}

std::string CustomIndexed(const char* prefix, const wchar_t* name, u32 index)
{
    std::string s(prefix);
    s += Utf8(name);
    s += '|';
    return Indexed(s.c_str(), index);
}

}  // namespace vt5names
