// Strict UTF-8 / UTF-16 / UTF-32 conversions over standard strings, the
// 16-bit character helpers and the byte view StringPiece.
#include "gnr_system/KzTextConv.h"

#include <cstring>
#include <ostream>

// ---------------------------------------------------------------------------
// UTF-8 sequence decoder
// ---------------------------------------------------------------------------
namespace base_icu {

const uint8_t utf8_countTrailBytes[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x00
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x20
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x40
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x60
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x80
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xA0
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0xC0
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 0, 0,  // 0xE0
};

namespace {
const uint32_t kMinLegal[4] = {0, 0x80, 0x800, 0x10000};
inline bool IsTrail(uint8_t b) { return (b & 0xC0) == 0x80; }

// Index-width independent body of utf8_nextCharSafeBody.
template <class I>
UChar32 NextCharSafeBody(const uint8_t* s, I* pi, I length, UChar32 c, UBool strict)
{
    const UChar32 errorValue = strict < 0 ? -1 : 0xFFFD;
    I i = *pi;
    const uint8_t count = utf8_countTrailBytes[(uint8_t)c];
    if (count == 0) return errorValue;  // not a lead byte; nothing more is consumed
    if (i + (I)count <= length) {
        bool illegal = count > 3;
        uint32_t v = (uint32_t)c & ((1u << (6 - count)) - 1);
        if (!illegal) {
            for (uint8_t k = 0; k < count; ++k) {
                const uint8_t trail = s[i + k];
                if (!IsTrail(trail)) {
                    illegal = true;
                    break;
                }
                v = (v << 6) | (trail & 0x3Fu);
            }
        }
        if (illegal || v < kMinLegal[count] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
            // Consume the lead and the trail bytes that follow it, up to the announced count.
            uint8_t k = 0;
            while (k < count && IsTrail(s[i])) {
                ++i;
                ++k;
            }
            *pi = i;
            return errorValue;
        }
        *pi = i + count;
        return (UChar32)v;
    }
    // Too few bytes left: the sequence runs past the end; consume the trail bytes present.
    while (i < length && IsTrail(s[i])) ++i;
    *pi = i;
    return errorValue;
}
}  // namespace

UChar32 utf8_nextCharSafeBody(const uint8_t* s, int32_t* pi, int32_t length, UChar32 c, UBool strict)
{
    if (!s || !pi || *pi < 0 || length < 0 || *pi > length) return strict < 0 ? -1 : 0xFFFD;
    return NextCharSafeBody<int32_t>(s, pi, length, c, strict);
}

}  // namespace base_icu

namespace base {

// ---------------------------------------------------------------------------
// 16-bit character helpers
// ---------------------------------------------------------------------------
int c16memcmp(const char16* s1, const char16* s2, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        if (s1[i] != s2[i]) return s1[i] < s2[i] ? -1 : 1;
    }
    return 0;
}

size_t c16len(const char16* s)
{
    if (!s) return 0;
    const char16* p = s;
    while (*p) ++p;
    return (size_t)(p - s);
}

const char16* c16memchr(const char16* s, char16 c, size_t n)
{
    for (size_t i = 0; i < n; ++i)
        if (s[i] == c) return s + i;
    return nullptr;
}

char16* c16memmove(char16* s1, const char16* s2, size_t n)
{
    if (n) std::memmove(s1, s2, n * sizeof(char16));
    return s1;
}

char16* c16memcpy(char16* s1, const char16* s2, size_t n)
{
    if (n) std::memcpy(s1, s2, n * sizeof(char16));
    return s1;
}

char16* c16memset(char16* s, char16 c, size_t n)
{
    for (size_t i = 0; i < n; ++i) s[i] = c;
    return s;
}

// ---------------------------------------------------------------------------
// Reading and writing code points
// ---------------------------------------------------------------------------
namespace {

inline bool IsValidCodepoint(uint32_t c)
{
    return c < 0xD800u || (c >= 0xE000u && c <= 0x10FFFFu);
}

// The readers over 64-bit indices; `i` moves to the last unit consumed.
bool Read(const char* src, size_t len, size_t* i, uint32_t* cp)
{
    const uint8_t* s = reinterpret_cast<const uint8_t*>(src);
    const uint8_t b = s[*i];
    if (b < 0x80) {
        *cp = b;
        return true;
    }
    int32_t c;
    if (b >= 0xC0 && b <= 0xFD) {
        size_t next = *i + 1;
        c = base_icu::NextCharSafeBody<size_t>(s, &next, len, b, -1);
        *i = next - 1;
    } else {
        c = -1;
    }
    *cp = (uint32_t)c;
    return c >= 0 && IsValidCodepoint((uint32_t)c);
}

bool Read(const char16* src, size_t len, size_t* i, uint32_t* cp)
{
    const uint32_t u = src[*i];
    if (u >= 0xD800 && u <= 0xDBFF && *i + 1 < len && src[*i + 1] >= 0xDC00 && src[*i + 1] <= 0xDFFF) {
        *cp = 0x10000 + ((u - 0xD800) << 10) + (src[*i + 1] - 0xDC00u);
        ++*i;
        return true;
    }
    *cp = u;
    return IsValidCodepoint(u);
}

bool Read(const wchar_t* src, size_t, size_t* i, uint32_t* cp)
{
    *cp = static_cast<uint32_t>(src[*i]);
    return IsValidCodepoint(*cp);
}

size_t Write(uint32_t c, std::string* out)
{
    if (c < 0x80) {
        out->push_back(static_cast<char>(c));
        return 1;
    }
    if (c < 0x800) {
        out->push_back(static_cast<char>(0xC0 | (c >> 6)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        return 2;
    }
    if (c < 0x10000) {
        out->push_back(static_cast<char>(0xE0 | (c >> 12)));
        out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        return 3;
    }
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
    return 4;
}

size_t Write(uint32_t c, string16* out)
{
    if (c < 0x10000) {
        out->push_back(static_cast<char16>(c));
        return 1;
    }
    out->push_back(static_cast<char16>(0xD800 + ((c - 0x10000) >> 10)));
    out->push_back(static_cast<char16>(0xDC00 + (c & 0x3FF)));
    return 2;
}

size_t Write(uint32_t c, std::wstring* out)
{
    out->push_back(static_cast<wchar_t>(c));
    return 1;
}

template <class In, class Out>
bool Convert(const In* src, size_t len, Out* out, size_t reserve)
{
    if (!out) return false;
    try {
        out->clear();
        if (!src) return len == 0;
        out->reserve(reserve);
        bool ok = true;
        for (size_t i = 0; i < len; ++i) {
            uint32_t cp;
            if (Read(src, len, &i, &cp)) {
                Write(cp, out);
            } else {
                Write(0xFFFD, out);
                ok = false;
            }
        }
        return ok;
    } catch (...) {
        out->clear();
        return false;
    }
}

template <class In>
size_t Utf8OutHint(const In* src, size_t len)
{
    if (!src || len == 0) return 0;
    return static_cast<uint32_t>(src[0]) < 0x80 ? len : (len > SIZE_MAX / 3 ? len : 3 * len);
}

size_t FromUtf8Hint(const char* src, size_t len)
{
    if (!src || len == 0) return 0;
    return static_cast<uint8_t>(src[0]) < 0x80 ? len : len / 2;
}

template <class In>
bool ReadExported(const In* src, int32_t src_len, int32_t* char_index, uint32_t* code_point_out)
{
    if (!src || !char_index || !code_point_out || src_len <= 0 || *char_index < 0 || *char_index >= src_len)
        return false;
    size_t i = (size_t)*char_index;
    const bool ok = Read(src, (size_t)src_len, &i, code_point_out);
    *char_index = (int32_t)i;
    return ok;
}

}  // namespace

bool ReadUnicodeCharacter(const char* src, int32_t src_len, int32_t* char_index, uint32_t* code_point_out)
{
    return ReadExported(src, src_len, char_index, code_point_out);
}

bool ReadUnicodeCharacter(const char16* src, int32_t src_len, int32_t* char_index, uint32_t* code_point_out)
{
    return ReadExported(src, src_len, char_index, code_point_out);
}

bool ReadUnicodeCharacter(const wchar_t* src, int32_t src_len, int32_t* char_index, uint32_t* code_point_out)
{
    return ReadExported(src, src_len, char_index, code_point_out);
}

size_t WriteUnicodeCharacter(uint32_t code_point, std::string* output)
{
    if (!output) return 0;
    try {
        return Write(code_point, output);
    } catch (...) {
        return 0;
    }
}

size_t WriteUnicodeCharacter(uint32_t code_point, string16* output)
{
    if (!output) return 0;
    try {
        return Write(code_point, output);
    } catch (...) {
        return 0;
    }
}

// ---------------------------------------------------------------------------
// Conversions
// ---------------------------------------------------------------------------
bool WideToUTF8(const wchar_t* src, size_t src_len, std::string* output)
{
    return Convert(src, src_len, output, Utf8OutHint(src, src_len));
}

std::string WideToUTF8(const std::wstring& wide)
{
    std::string out;
    WideToUTF8(wide.data(), wide.size(), &out);
    return out;
}

bool UTF8ToWide(const char* src, size_t src_len, std::wstring* output)
{
    return Convert(src, src_len, output, FromUtf8Hint(src, src_len));
}

std::wstring UTF8ToWide(const StringPiece& utf8)
{
    std::wstring out;
    UTF8ToWide(utf8.data(), (size_t)utf8.size(), &out);
    return out;
}

bool WideToUTF16(const wchar_t* src, size_t src_len, string16* output)
{
    return Convert(src, src_len, output, src_len);
}

string16 WideToUTF16(const std::wstring& wide)
{
    string16 out;
    WideToUTF16(wide.data(), wide.size(), &out);
    return out;
}

bool UTF16ToWide(const char16* src, size_t src_len, std::wstring* output)
{
    return Convert(src, src_len, output, src_len);
}

std::wstring UTF16ToWide(const string16& utf16)
{
    std::wstring out;
    UTF16ToWide(utf16.data(), utf16.size(), &out);
    return out;
}

bool UTF8ToUTF16(const char* src, size_t src_len, string16* output)
{
    return Convert(src, src_len, output, FromUtf8Hint(src, src_len));
}

string16 UTF8ToUTF16(const std::string& utf8)
{
    string16 out;
    UTF8ToUTF16(utf8.data(), utf8.size(), &out);
    return out;
}

bool UTF16ToUTF8(const char16* src, size_t src_len, std::string* output)
{
    return Convert(src, src_len, output, Utf8OutHint(src, src_len));
}

std::string UTF16ToUTF8(const string16& utf16)
{
    std::string out;
    UTF16ToUTF8(utf16.data(), utf16.size(), &out);
    return out;
}

std::ostream& operator<<(std::ostream& out, const string16& str)
{
    try {
        out << UTF16ToUTF8(str);
    } catch (...) {
    }
    return out;
}

// ---------------------------------------------------------------------------
// StringPiece
// ---------------------------------------------------------------------------
const StringPiece::size_type StringPiece::npos = ~StringPiece::size_type(0);

bool operator==(const StringPiece& a, const StringPiece& b)
{
    if (a.size() != b.size()) return false;
    return a.size() == 0 || std::memcmp(a.data(), b.data(), (size_t)a.size()) == 0;
}

std::ostream& operator<<(std::ostream& out, const StringPiece& piece)
{
    try {
        if (piece.size()) out.write(piece.data(), (std::streamsize)piece.size());
    } catch (...) {
    }
    return out;
}

void StringPiece::CopyToString(std::string* target) const
{
    if (!target) return;
    try {
        target->assign(ptr_ ? ptr_ : "", (size_t)length_);
    } catch (...) {
    }
}

void StringPiece::AppendToString(std::string* target) const
{
    if (!target || !length_) return;
    try {
        target->append(ptr_, (size_t)length_);
    } catch (...) {
    }
}

StringPiece::size_type StringPiece::copy(char* buf, size_type n, size_type pos) const
{
    if (!buf || pos >= length_) return 0;
    const size_type ret = n < length_ - pos ? n : length_ - pos;
    std::memcpy(buf, ptr_ + pos, (size_t)ret);
    return ret;
}

StringPiece StringPiece::substr(size_type pos, size_type n) const
{
    if (pos > length_) pos = length_;
    if (n > length_ - pos) n = length_ - pos;
    return StringPiece(ptr_ + pos, n);
}

StringPiece::size_type StringPiece::find(const StringPiece& s, size_type pos) const
{
    if (pos > length_) return npos;
    if (s.length_ == 0) return pos;
    if (s.length_ > length_ - pos) return npos;
    const size_type last = length_ - s.length_;
    for (size_type i = pos; i <= last; ++i) {
        const void* hit = std::memchr(ptr_ + i, s.ptr_[0], (size_t)(last - i + 1));
        if (!hit) return npos;
        i = (size_type)(static_cast<const char*>(hit) - ptr_);
        if (std::memcmp(ptr_ + i, s.ptr_, (size_t)s.length_) == 0) return i;
    }
    return npos;
}

StringPiece::size_type StringPiece::find(char c, size_type pos) const
{
    if (pos >= length_) return npos;
    const void* hit = std::memchr(ptr_ + pos, c, (size_t)(length_ - pos));
    return hit ? (size_type)(static_cast<const char*>(hit) - ptr_) : npos;
}

StringPiece::size_type StringPiece::rfind(const StringPiece& s, size_type pos) const
{
    if (length_ < s.length_) return npos;
    if (s.length_ == 0) return pos < length_ ? pos : length_;
    size_type i = length_ - s.length_;
    if (pos < i) i = pos;
    for (;; --i) {
        if (std::memcmp(ptr_ + i, s.ptr_, (size_t)s.length_) == 0) return i;
        if (i == 0) break;
    }
    return npos;
}

StringPiece::size_type StringPiece::rfind(char c, size_type pos) const
{
    if (length_ == 0) return npos;
    size_type i = pos < length_ - 1 ? pos : length_ - 1;
    for (;; --i) {
        if (ptr_[i] == c) return i;
        if (i == 0) break;
    }
    return npos;
}

namespace {
// Which of the 256 byte values occur in a set.
struct ByteTable {
    bool has[256] = {};
    explicit ByteTable(const StringPiece& set)
    {
        for (StringPiece::size_type i = 0; i < set.size(); ++i) has[static_cast<uint8_t>(set[i])] = true;
    }
    bool operator[](char c) const { return has[static_cast<uint8_t>(c)]; }
};
}  // namespace

StringPiece::size_type StringPiece::find_first_of(const StringPiece& s, size_type pos) const
{
    if (length_ == 0 || s.length_ == 0) return npos;
    if (s.length_ == 1) return find(s.ptr_[0], pos);
    const ByteTable t(s);
    for (size_type i = pos; i < length_; ++i)
        if (t[ptr_[i]]) return i;
    return npos;
}

StringPiece::size_type StringPiece::find_first_not_of(const StringPiece& s, size_type pos) const
{
    if (length_ == 0) return npos;
    if (s.length_ == 0) return 0;
    if (s.length_ == 1) return find_first_not_of(s.ptr_[0], pos);
    const ByteTable t(s);
    for (size_type i = pos; i < length_; ++i)
        if (!t[ptr_[i]]) return i;
    return npos;
}

StringPiece::size_type StringPiece::find_first_not_of(char c, size_type pos) const
{
    if (length_ == 0) return npos;
    for (size_type i = pos; i < length_; ++i)
        if (ptr_[i] != c) return i;
    return npos;
}

StringPiece::size_type StringPiece::find_last_of(const StringPiece& s, size_type pos) const
{
    if (length_ == 0 || s.length_ == 0) return npos;
    if (s.length_ == 1) return rfind(s.ptr_[0], pos);
    const ByteTable t(s);
    for (size_type i = pos < length_ - 1 ? pos : length_ - 1;; --i) {
        if (t[ptr_[i]]) return i;
        if (i == 0) break;
    }
    return npos;
}

StringPiece::size_type StringPiece::find_last_not_of(const StringPiece& s, size_type pos) const
{
    if (length_ == 0) return npos;
    size_type i = pos < length_ - 1 ? pos : length_ - 1;
    if (s.length_ == 0) return i;
    if (s.length_ == 1) return find_last_not_of(s.ptr_[0], pos);
    const ByteTable t(s);
    for (;; --i) {
        if (!t[ptr_[i]]) return i;
        if (i == 0) break;
    }
    return npos;
}

StringPiece::size_type StringPiece::find_last_not_of(char c, size_type pos) const
{
    if (length_ == 0) return npos;
    for (size_type i = pos < length_ - 1 ? pos : length_ - 1;; --i) {
        if (ptr_[i] != c) return i;
        if (i == 0) break;
    }
    return npos;
}

}  // namespace base
