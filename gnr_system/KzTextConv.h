// Explicit text conversions (none depends on the locale): UTF-8 and UTF-16
// to and from the library's 32-bit wide text, a delimiter tokenizer, number
// parsing, and strict conversions over standard strings.
#pragma once

#include "gnr_system/CKzString.h"

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <iosfwd>
#include <string>

// ---------------------------------------------------------------------------
// Conversions over the library's strings. All static; bool results are true
// on success.
// ---------------------------------------------------------------------------
class KZ_EXPORT CKzStringUtils {
public:
    // out becomes the UTF-8 form; false when a character was above U+10FFFF
    // (written as '!').
    static bool WtoUTF8(const wchar_t* text, CKzStringA& out);
    // out becomes the decoded text up to the terminator. False when the input
    // holds a continuation byte with no sequence open, a sequence broken off
    // by another byte, or ends inside a sequence; what was broken is dropped
    // and never leaks into the next character.
    static bool UTF8toW(const char* text, CKzStringW& out);
    // The same over at most n bytes, stopping earlier at a 0 byte.
    static bool UTF8toWn(const char* text, CKzStringW& out, unsigned n);
    // UTF-16 into a caller buffer. With a null out, count receives the units
    // needed. Otherwise count gives the room in units on entry and receives
    // the units written; false when the next unit or pair does not fit (or
    // the room is negative). No terminator is written.
    static bool WtoUTF16(const wchar_t* text, unsigned short* out, int& count);
    // count -1: up to a 0 unit; otherwise at most count units. False at an
    // unpaired surrogate (the characters before it stay in out).
    static bool UTF16toW(const unsigned short* text, int count, CKzStringW& out);
    // Parse a decimal number; they return true. The wide forms leave out
    // unchanged when nothing parses, the narrow ones store 0.
    static bool ToNumber(CKzStringW text, unsigned int& out);
    static bool ToNumber(CKzStringW text, int& out);
    static bool ToNumber(CKzStringA text, unsigned int& out);
    static bool ToNumber(CKzStringA text, int& out);
    // Units before the terminator (0 for null).
    static int GetWStringLen(const wchar_t* text);
    static int GetWStringLen(const unsigned short* text);
    // Copies at most n characters, stopping at the source's terminator, then
    // a terminator (dst needs n + 1 places); n <= 0 writes only the terminator.
    static void WStringCopy(wchar_t* dst, const wchar_t* src, int n);
    static void Initialize();
    static void Uninitialize();
    // No encoding detection is done: an empty text.
    static CKzStringA GuessEncoding(CKzStringW text);
    static CKzStringA GuessEncoding(const void* data, unsigned size);
    // Not supported: do nothing and return false.
    static bool Wide2Binary(const wchar_t* text, CKzStringA& out, const char* encoding);
    static bool Binary2Wide(const void* data, unsigned size, CKzStringW& out, const char* encoding);
};

// ---------------------------------------------------------------------------
// Splits a wide text at any of a set of delimiter characters.
// ---------------------------------------------------------------------------
class KZ_EXPORT CKzStringTokenizer {
public:
    CKzStringTokenizer(const wchar_t* text, const wchar_t* delimiters);
    bool HasMoreTokens() const;
    // From the position up to the next delimiter; the position moves behind
    // it. Two adjacent delimiters give an empty token.
    CKzStringW GetNextToken();
    int GetPosition() const;
    // 0 for an empty text, else delimiters in the text + 1.
    int Size() const;
    // The n-th token (from 0) counted from the start; empty when absent.
    CKzStringW GetToken(int n) const;

private:
    CKzStringW m_sText;
    CKzStringW m_sDelimiters;
    int m_iPosition;
};

// ---------------------------------------------------------------------------
// Strict conversions over standard strings. Invalid input becomes U+FFFD and
// the result false.
// ---------------------------------------------------------------------------
namespace base {

typedef unsigned short char16;

KZ_EXPORT int c16memcmp(const char16* s1, const char16* s2, size_t n);
KZ_EXPORT size_t c16len(const char16* s);
KZ_EXPORT const char16* c16memchr(const char16* s, char16 c, size_t n);
KZ_EXPORT char16* c16memmove(char16* s1, const char16* s2, size_t n);
KZ_EXPORT char16* c16memcpy(char16* s1, const char16* s2, size_t n);
KZ_EXPORT char16* c16memset(char16* s, char16 c, size_t n);

struct string16_char_traits {
    typedef char16 char_type;
    typedef int int_type;
    typedef std::streamoff off_type;
    typedef std::mbstate_t state_type;
    typedef std::fpos<state_type> pos_type;

    static void assign(char_type& c1, const char_type& c2) { c1 = c2; }
    static bool eq(const char_type& c1, const char_type& c2) { return c1 == c2; }
    static bool lt(const char_type& c1, const char_type& c2) { return c1 < c2; }
    static int compare(const char_type* s1, const char_type* s2, size_t n) { return c16memcmp(s1, s2, n); }
    static size_t length(const char_type* s) { return c16len(s); }
    static const char_type* find(const char_type* s, size_t n, const char_type& a) { return c16memchr(s, a, n); }
    static char_type* move(char_type* s1, const char_type* s2, size_t n) { return c16memmove(s1, s2, n); }
    static char_type* copy(char_type* s1, const char_type* s2, size_t n) { return c16memcpy(s1, s2, n); }
    static char_type* assign(char_type* s, size_t n, char_type a) { return c16memset(s, a, n); }
    static int_type not_eof(const int_type& c) { return eq_int_type(c, eof()) ? 0 : c; }
    static char_type to_char_type(const int_type& c) { return char_type(c); }
    static int_type to_int_type(const char_type& c) { return int_type(c); }
    static bool eq_int_type(const int_type& c1, const int_type& c2) { return c1 == c2; }
    static int_type eof() { return static_cast<int_type>(-1); }
};

typedef std::basic_string<char16, string16_char_traits> string16;

// A view of narrow bytes: a pointer and a length; it owns nothing.
class KZ_EXPORT StringPiece {
public:
    typedef uint64_t size_type;
    static const size_type npos;

    StringPiece() : ptr_(nullptr), length_(0) {}
    StringPiece(const char* str) : ptr_(str), length_(str ? std::char_traits<char>::length(str) : 0) {}
    StringPiece(const std::string& str) : ptr_(str.data()), length_(str.size()) {}
    StringPiece(const char* data, size_type len) : ptr_(data), length_(data ? len : 0) {}

    const char* data() const { return ptr_; }
    size_type size() const { return length_; }
    size_type length() const { return length_; }
    bool empty() const { return length_ == 0; }
    void clear()
    {
        ptr_ = nullptr;
        length_ = 0;
    }
    void set(const char* data, size_type len)
    {
        ptr_ = data;
        length_ = data ? len : 0;
    }
    char operator[](size_type i) const { return ptr_[i]; }
    std::string as_string() const { return ptr_ ? std::string(ptr_, (size_t)length_) : std::string(); }

    void CopyToString(std::string* target) const;
    void AppendToString(std::string* target) const;
    // Copies min(n, length - pos) bytes from pos; the count (0 when pos is beyond the end).
    size_type copy(char* buf, size_type n, size_type pos = 0) const;
    StringPiece substr(size_type pos, size_type n = npos) const;

    size_type find(const StringPiece& s, size_type pos = 0) const;
    size_type find(char c, size_type pos = 0) const;
    size_type rfind(const StringPiece& s, size_type pos = npos) const;
    size_type rfind(char c, size_type pos = npos) const;
    size_type find_first_of(const StringPiece& s, size_type pos = 0) const;
    size_type find_first_of(char c, size_type pos = 0) const { return find(c, pos); }
    size_type find_first_not_of(const StringPiece& s, size_type pos = 0) const;
    size_type find_first_not_of(char c, size_type pos = 0) const;
    size_type find_last_of(const StringPiece& s, size_type pos = npos) const;
    size_type find_last_of(char c, size_type pos = npos) const { return rfind(c, pos); }
    size_type find_last_not_of(const StringPiece& s, size_type pos = npos) const;
    size_type find_last_not_of(char c, size_type pos = npos) const;

private:
    const char* ptr_;
    size_type length_;
};

KZ_EXPORT bool operator==(const StringPiece& a, const StringPiece& b);
inline bool operator!=(const StringPiece& a, const StringPiece& b) { return !(a == b); }

KZ_EXPORT std::ostream& operator<<(std::ostream& out, const string16& str);
KZ_EXPORT std::ostream& operator<<(std::ostream& out, const StringPiece& piece);

// Reads one code point at *char_index and leaves the index on the last unit
// it consumed; false for an invalid sequence or a value that is not a valid
// code point (surrogates, above U+10FFFF).
KZ_EXPORT bool ReadUnicodeCharacter(const char* src, int32_t src_len, int32_t* char_index, uint32_t* code_point_out);
KZ_EXPORT bool ReadUnicodeCharacter(const char16* src, int32_t src_len, int32_t* char_index,
                                    uint32_t* code_point_out);
KZ_EXPORT bool ReadUnicodeCharacter(const wchar_t* src, int32_t src_len, int32_t* char_index,
                                    uint32_t* code_point_out);
// Appends the code point; the number of units written.
KZ_EXPORT size_t WriteUnicodeCharacter(uint32_t code_point, std::string* output);
KZ_EXPORT size_t WriteUnicodeCharacter(uint32_t code_point, string16* output);

KZ_EXPORT bool WideToUTF8(const wchar_t* src, size_t src_len, std::string* output);
KZ_EXPORT std::string WideToUTF8(const std::wstring& wide);
KZ_EXPORT bool UTF8ToWide(const char* src, size_t src_len, std::wstring* output);
KZ_EXPORT std::wstring UTF8ToWide(const StringPiece& utf8);
KZ_EXPORT bool WideToUTF16(const wchar_t* src, size_t src_len, string16* output);
KZ_EXPORT string16 WideToUTF16(const std::wstring& wide);
KZ_EXPORT bool UTF16ToWide(const char16* src, size_t src_len, std::wstring* output);
KZ_EXPORT std::wstring UTF16ToWide(const string16& utf16);
KZ_EXPORT bool UTF8ToUTF16(const char* src, size_t src_len, string16* output);
KZ_EXPORT string16 UTF8ToUTF16(const std::string& utf8);
KZ_EXPORT bool UTF16ToUTF8(const char16* src, size_t src_len, std::string* output);
KZ_EXPORT std::string UTF16ToUTF8(const string16& utf16);

}  // namespace base

namespace base_icu {
typedef int32_t UChar32;
typedef int8_t UBool;
// Trail bytes each lead byte announces (0 for ASCII, trail bytes, 0xFE, 0xFF).
KZ_EXPORT extern const uint8_t utf8_countTrailBytes[256];
// Decodes the rest of a sequence whose lead byte c was read at index *pi - 1.
// With strict < 0 an invalid sequence gives -1; otherwise U+FFFD. *pi moves
// past what was consumed: on error the lead and the trail bytes that follow,
// up to the announced count.
KZ_EXPORT UChar32 utf8_nextCharSafeBody(const uint8_t* s, int32_t* pi, int32_t length, UChar32 c, UBool strict);
}  // namespace base_icu
