// Copy-on-write strings: CKzStringW (32-bit wchar_t text) and its narrow twin
// CKzStringA, plus the KZ_ character helpers the wide class is built on.
//
// Copies share one reference-counted buffer until one of them changes. The
// counts are atomic, so copies of one string may be made, changed and dropped
// on different threads at once (each string object itself still belongs to one
// thread at a time). All empty strings of one width share a process-wide empty
// buffer that is never counted and never freed.
#pragma once

#include "gnr_system/kz_base.h"

#include <atomic>
#include <cstdarg>
#include <pthread.h>
#include <type_traits>

// Internal members of exported classes stay out of the dynamic symbol table.
#define KZ_STR_HIDDEN __attribute__((visibility("hidden")))

// ---------------------------------------------------------------------------
// Character helpers
// ---------------------------------------------------------------------------
KZ_EXPORT wchar_t KZ_ToLower(wchar_t c);
KZ_EXPORT wchar_t KZ_ToUpper(wchar_t c);
// Characters before the terminator; 0 for a null pointer.
KZ_EXPORT int KZ_lstrlen(const wchar_t* text);
// Code-point order like wcscmp; a null pointer counts as an empty text.
KZ_EXPORT int KZ_Sstrcmp(const wchar_t* a, const wchar_t* b);
// Case-insensitive: where two characters differ, upper-case ones are lowered
// before comparing; the difference of the first pair that still differs.
KZ_EXPORT int KZ_Sstricmp(const wchar_t* a, const wchar_t* b);

// ---------------------------------------------------------------------------
// Empty lock companion embedded in every string. It only reserves its place in
// the string's layout; no string operation takes or reads it.
// ---------------------------------------------------------------------------
class KZ_EXPORT CKzWORMLock_CS {
public:
    CKzWORMLock_CS() : m_uiCount(0), m_ulOwner(0) {}
    CKzWORMLock_CS(const CKzWORMLock_CS&) : m_uiCount(0), m_ulOwner(0) {}
    CKzWORMLock_CS& operator=(const CKzWORMLock_CS&) { return *this; }
    virtual ~CKzWORMLock_CS() {}

private:
    // Kept for the layout; nothing reads them.
    [[maybe_unused]] u32 m_uiCount;
    [[maybe_unused]] u64 m_ulOwner;
    static pthread_mutex_t ms_worm_cs KZ_STR_HIDDEN;
};

// ---------------------------------------------------------------------------
// Shared character buffer. `m_uiRefCount` counts the strings using it; a
// buffer with the static bit set is a process-wide one that is never counted.
// The character block holds capacity + 1 characters; index length is 0.
// ---------------------------------------------------------------------------
template <class Ch>
struct SKzStrBuffT {
    int m_iLength;
    int m_iCapacity;
    std::atomic<u32> m_uiRefCount;
    Ch* m_pChars;

    static constexpr u32 kStatic = 0x80000000u;

    constexpr SKzStrBuffT() : m_iLength(0), m_iCapacity(0), m_uiRefCount(1), m_pChars(nullptr) {}
    constexpr SKzStrBuffT(Ch* block, int capacity)
        : m_iLength(0), m_iCapacity(capacity), m_uiRefCount(kStatic), m_pChars(block) {}
    bool IsStatic() const { return (m_uiRefCount.load(std::memory_order_relaxed) & kStatic) != 0; }
};
typedef SKzStrBuffT<wchar_t> SKzStrBuffW;
typedef SKzStrBuffT<char> SKzStrBuffA;

class CKzStringA;
template <class S> struct KzStringImpl;

// ---------------------------------------------------------------------------
// Wide string
// ---------------------------------------------------------------------------
class KZ_EXPORT CKzStringW {
public:
    typedef wchar_t char_type;

    // --- construction, assignment, storage
    CKzStringW();
    // n <= 0: the shared empty buffer; else a private buffer reserved for n characters.
    explicit CKzStringW(int n);
    CKzStringW(const CKzStringW& other);
    CKzStringW(CKzStringW&& other) noexcept;
    // n is a reservation, never a limit; a null text gives an empty string.
    CKzStringW(const wchar_t* text, int n = 0);
    // 16-bit units up to the first 0, each one character (surrogates not paired); null: empty.
    CKzStringW(const unsigned short* text, int n = 0);
    // Narrow text converted by the current locale; null: empty.
    CKzStringW(const char* text, int n = 0);
    ~CKzStringW();

    CKzStringW& operator=(const CKzStringW& other);
    CKzStringW& operator=(CKzStringW&& other) noexcept;
    CKzStringW& operator=(const wchar_t* text);
    CKzStringW& operator=(const char* text);
    CKzStringW& operator=(const unsigned short* text);
    CKzStringW& operator=(wchar_t c);
    CKzStringW& operator=(char c);

    // Length 0. A private buffer keeps its capacity; a shared one is left to
    // its other users and the string takes the shared empty text.
    void Empty();
    // Drops the buffer and takes a new private empty one reserved for 15 characters.
    void Reset();
    // Private buffer with room for n characters; returns the characters
    // pointer (null when the memory cannot be had).
    wchar_t* Preallocate(int n);
    // Characters that fit besides the terminator.
    int GetBufferLength() const { return m_pBuff->m_iCapacity; }

    // --- reading
    int GetLength() const { return m_pBuff->m_iLength; }
    bool IsEmpty() const { return m_pBuff->m_iLength == 0; }
    const wchar_t* GetString() const { return m_pStr; }
    operator const wchar_t*() const { return m_pStr; }
    // 0 outside the text.
    wchar_t GetAt(int i) const { return (i >= 0 && i < m_pBuff->m_iLength) ? m_pStr[i] : L'\0'; }
    // Any integer type indexes (0 outside the text), so no index type is ambiguous.
    template <class I, class = typename std::enable_if<std::is_integral<I>::value>::type>
    wchar_t operator[](I i) const
    {
        if constexpr (std::is_signed<I>::value) {
            if (i < 0) return L'\0';
        }
        return (unsigned long long)i < (unsigned long long)m_pBuff->m_iLength ? m_pStr[i] : L'\0';
    }
    wchar_t GetLastChar() const { return GetAt(m_pBuff->m_iLength - 1); }
    // count < 0: up to the end. A negative start gives an empty string.
    CKzStringW Mid(int start, int count = -1) const;
    CKzStringW Left(int n) const;
    CKzStringW Right(int n) const;
    // Copies min(length, size - 1) characters and a terminator; the count copied,
    // -1 (nothing written) for a null buffer or a size below 1.
    int CopyToBufferW(wchar_t* dst, int size) const;
    // Locale multibyte form; min(bytes, size - 1) bytes and a terminator.
    int CopyToBufferA(char* dst, int size) const;

    // --- changing
    // KZ_ERR_INDEX outside the text; storing 0 truncates.
    int SetAt(int i, wchar_t c);
    // 0 <= i < length: length becomes i; i >= length: nothing. KZ_ERR_INDEX for i < 0.
    int TruncateAt(int i);
    // start >= length: Empty; count < 0 or start + count >= length: truncate at
    // start; else removes count characters. KZ_ERR_INDEX (unchanged) for start < 0.
    int Delete(int start, int count);
    int DeleteLeft(int n);
    // Removes the last n characters (all of them when n >= length); KZ_ERR_INDEX for n < 0.
    int DeleteRight(int n);
    // A null set means a single blank; an empty set removes nothing.
    CKzStringW& TrimLeft(const wchar_t* set = nullptr);
    CKzStringW& TrimRight(const wchar_t* set = nullptr);
    CKzStringW& Trim(const wchar_t* set = nullptr);
    int Remove(wchar_t c);
    CKzStringW& MakeLower();
    CKzStringW& MakeUpper();
    // count < 0 or beyond the text: the whole text. pos outside 0..length: unchanged.
    CKzStringW& Insert(const wchar_t* text, int pos, int count = -1);
    // Replaces count characters at pos by text; KZ_ERR_INDEX (unchanged) when
    // count <= 0, pos < 0 or pos + count > length.
    int ReplaceAt(int pos, int count, const wchar_t* text);
    // Non-overlapping, left to right; the number replaced.
    int Replace(const wchar_t* oldText, const wchar_t* newText);
    int ReplaceNoCase(const wchar_t* oldText, const wchar_t* newText);
    // Appends a backslash unless the text already ends with one.
    CKzStringW& EndInSlash();

    // --- appending
    CKzStringW& operator+=(const CKzStringW& s);
    CKzStringW& operator+=(const wchar_t* text);
    CKzStringW& operator+=(const char* text);
    CKzStringW& operator+=(const unsigned short* text);
    CKzStringW& operator+=(wchar_t c);
    CKzStringW& AddString(const CKzStringW& s);
    CKzStringW& AddString(const wchar_t* text);
    CKzStringW& AddString(const char* text);
    CKzStringW& AddString(const unsigned short* text);
    // The character 0 appends nothing.
    CKzStringW& AddChar(wchar_t c);
    CKzStringW& AddChar(char c);
    // count < 0: the whole text; else the first min(count, length) characters.
    CKzStringW& AddChars(const wchar_t* text, int count);

    // --- searching (index or -1)
    int Find(wchar_t c, int start = 0) const;
    int Find(const wchar_t* text, int start = 0) const;
    int FindNoCase(wchar_t c, int start = 0) const;
    int FindNoCase(const wchar_t* text, int start = 0) const;
    // start < 0: from the last character; start >= length: -1.
    int ReverseFind(wchar_t c, int start = -1) const;
    int ReverseFindNoCase(wchar_t c, int start = -1) const;
    int FindOneOf(const wchar_t* set, int start = 0) const;

    // --- comparing (-1, 0, 1)
    int Compare(const wchar_t* text) const;
    int CompareNoCase(const wchar_t* text) const;
    bool Equals(const CKzStringW& s) const;
    bool Equals(const wchar_t* text) const;
    bool Equals(const char* text) const;
    bool Less(const CKzStringW& s) const;
    bool Less(const wchar_t* text) const;
    bool Less(const char* text) const;
    bool LessEqual(const CKzStringW& s) const;
    bool LessEqual(const wchar_t* text) const;
    bool LessEqual(const char* text) const;

    // --- formatting: "%s" takes a wide text, "%S" a narrow one (converted by
    // the locale); "%%" is a percent sign. KZ_OK, or KZ_FAIL when the text
    // cannot be formatted (e.g. an argument the locale cannot convert); the
    // string is then unchanged.
    int Format(const wchar_t* fmt, ...);
    int FormatV(const wchar_t* fmt, va_list args);
    int AppendFormat(const wchar_t* fmt, ...);
    CKzStringW& AddInt(int n);
    // Fixed point with `digits` decimals.
    CKzStringW& AddDouble(double x, int digits);

private:
    friend struct KzStringImpl<CKzStringW>;
    static SKzStrBuffW* init_empty() KZ_STR_HIDDEN;

    SKzStrBuffW* m_pBuff;
    wchar_t* m_pStr;
    CKzWORMLock_CS m_cs;
};

KZ_EXPORT CKzStringW operator+(const CKzStringW& a, const CKzStringW& b);
KZ_EXPORT CKzStringW operator+(const wchar_t* a, const CKzStringW& b);
KZ_EXPORT CKzStringW operator+(const CKzStringW& a, const wchar_t* b);
KZ_EXPORT CKzStringW operator+(wchar_t a, const CKzStringW& b);
KZ_EXPORT CKzStringW operator+(const CKzStringW& a, wchar_t b);

inline bool operator==(const CKzStringW& a, const CKzStringW& b) { return a.Equals(b); }
inline bool operator==(const CKzStringW& a, const wchar_t* b) { return a.Equals(b); }
inline bool operator==(const wchar_t* a, const CKzStringW& b) { return b.Equals(a); }
inline bool operator!=(const CKzStringW& a, const CKzStringW& b) { return !a.Equals(b); }
inline bool operator!=(const CKzStringW& a, const wchar_t* b) { return !a.Equals(b); }
inline bool operator!=(const wchar_t* a, const CKzStringW& b) { return !b.Equals(a); }
inline bool operator<(const CKzStringW& a, const CKzStringW& b) { return a.Less(b); }
inline bool operator<(const CKzStringW& a, const wchar_t* b) { return a.Less(b); }
inline bool operator<(const wchar_t* a, const CKzStringW& b) { return b.Compare(a) > 0; }
inline bool operator<=(const CKzStringW& a, const CKzStringW& b) { return a.LessEqual(b); }
inline bool operator<=(const CKzStringW& a, const wchar_t* b) { return a.LessEqual(b); }
inline bool operator<=(const wchar_t* a, const CKzStringW& b) { return b.Compare(a) >= 0; }
inline bool operator>(const CKzStringW& a, const CKzStringW& b) { return b.Less(a); }
inline bool operator>(const CKzStringW& a, const wchar_t* b) { return a.Compare(b) > 0; }
inline bool operator>(const wchar_t* a, const CKzStringW& b) { return b.Less(a); }
inline bool operator>=(const CKzStringW& a, const CKzStringW& b) { return b.LessEqual(a); }
inline bool operator>=(const CKzStringW& a, const wchar_t* b) { return a.Compare(b) >= 0; }
inline bool operator>=(const wchar_t* a, const CKzStringW& b) { return b.LessEqual(a); }

// ---------------------------------------------------------------------------
// Narrow string: the twin of CKzStringW over char. Wide arguments are
// converted by the current locale.
// ---------------------------------------------------------------------------
class KZ_EXPORT CKzStringA {
public:
    typedef char char_type;

    CKzStringA();
    explicit CKzStringA(int n);
    CKzStringA(const CKzStringA& other);
    CKzStringA(CKzStringA&& other) noexcept;
    CKzStringA(const char* text, int n = 0);
    // Wide text converted by the locale ('?' for what it cannot convert); null: empty.
    CKzStringA(const wchar_t* text, int n = 0);
    ~CKzStringA();

    CKzStringA& operator=(const CKzStringA& other);
    CKzStringA& operator=(CKzStringA&& other) noexcept;
    CKzStringA& operator=(const char* text);
    CKzStringA& operator=(const wchar_t* text);
    CKzStringA& operator=(char c);
    CKzStringA& operator=(wchar_t c);

    void Empty();
    void Reset();
    char* Preallocate(int n);
    int GetBufferLength() const { return m_pBuff->m_iCapacity; }

    int GetLength() const { return m_pBuff->m_iLength; }
    bool IsEmpty() const { return m_pBuff->m_iLength == 0; }
    const char* GetString() const { return m_pStr; }
    operator const char*() const { return m_pStr; }
    char GetAt(int i) const { return (i >= 0 && i < m_pBuff->m_iLength) ? m_pStr[i] : '\0'; }
    // Any integer type indexes (0 outside the text), so no index type is ambiguous.
    template <class I, class = typename std::enable_if<std::is_integral<I>::value>::type>
    char operator[](I i) const
    {
        if constexpr (std::is_signed<I>::value) {
            if (i < 0) return '\0';
        }
        return (unsigned long long)i < (unsigned long long)m_pBuff->m_iLength ? m_pStr[i] : '\0';
    }
    char GetLastChar() const { return GetAt(m_pBuff->m_iLength - 1); }
    CKzStringA Mid(int start, int count = -1) const;
    CKzStringA Left(int n) const;
    CKzStringA Right(int n) const;
    // Wide form by the locale; min(characters, size - 1) and a terminator.
    int CopyToBufferW(wchar_t* dst, int size) const;
    // min(length, size - 1) bytes and a terminator.
    int CopyToBufferA(char* dst, int size) const;

    int SetAt(int i, char c);
    int TruncateAt(int i);
    int Delete(int start, int count);
    int DeleteLeft(int n);
    int DeleteRight(int n);
    CKzStringA& TrimLeft(const char* set = nullptr);
    CKzStringA& TrimRight(const char* set = nullptr);
    CKzStringA& Trim(const char* set = nullptr);
    int Remove(char c);
    CKzStringA& MakeLower();
    CKzStringA& MakeUpper();
    CKzStringA& Insert(const char* text, int pos, int count = -1);
    int ReplaceAt(int pos, int count, const char* text);
    int Replace(const char* oldText, const char* newText);
    int ReplaceNoCase(const char* oldText, const char* newText);
    CKzStringA& EndInSlash();

    CKzStringA& operator+=(const CKzStringA& s);
    CKzStringA& operator+=(const char* text);
    CKzStringA& operator+=(const wchar_t* text);
    CKzStringA& operator+=(char c);
    CKzStringA& AddString(const CKzStringA& s);
    CKzStringA& AddString(const char* text);
    CKzStringA& AddString(const wchar_t* text);
    CKzStringA& AddChar(char c);
    CKzStringA& AddChar(wchar_t c);
    CKzStringA& AddChars(const char* text, int count);

    int Find(char c, int start = 0) const;
    int Find(const char* text, int start = 0) const;
    int FindNoCase(char c, int start = 0) const;
    int FindNoCase(const char* text, int start = 0) const;
    int ReverseFind(char c, int start = -1) const;
    int ReverseFindNoCase(char c, int start = -1) const;
    int FindOneOf(const char* set, int start = 0) const;

    int Compare(const char* text) const;
    int CompareNoCase(const char* text) const;
    bool Equals(const CKzStringA& s) const;
    bool Equals(const char* text) const;
    bool Equals(const wchar_t* text) const;
    bool Less(const CKzStringA& s) const;
    bool Less(const char* text) const;
    bool Less(const wchar_t* text) const;
    bool LessEqual(const CKzStringA& s) const;
    bool LessEqual(const char* text) const;
    bool LessEqual(const wchar_t* text) const;

    // printf formats as given. KZ_OK, or KZ_FAIL (string unchanged).
    int Format(const char* fmt, ...);
    int FormatV(const char* fmt, va_list args);
    int AppendFormat(const char* fmt, ...);
    CKzStringA& AddInt(int n);
    CKzStringA& AddDouble(double x, int digits);

private:
    friend struct KzStringImpl<CKzStringA>;
    static SKzStrBuffA ms_SharedEmptyBuffA_ KZ_STR_HIDDEN;

    SKzStrBuffA* m_pBuff;
    char* m_pStr;
    CKzWORMLock_CS m_cs;
};

KZ_EXPORT CKzStringA operator+(const CKzStringA& a, const CKzStringA& b);
KZ_EXPORT CKzStringA operator+(const char* a, const CKzStringA& b);
KZ_EXPORT CKzStringA operator+(const CKzStringA& a, const char* b);
KZ_EXPORT CKzStringA operator+(char a, const CKzStringA& b);
KZ_EXPORT CKzStringA operator+(const CKzStringA& a, char b);

inline bool operator==(const CKzStringA& a, const CKzStringA& b) { return a.Equals(b); }
inline bool operator==(const CKzStringA& a, const char* b) { return a.Equals(b); }
inline bool operator==(const char* a, const CKzStringA& b) { return b.Equals(a); }
inline bool operator!=(const CKzStringA& a, const CKzStringA& b) { return !a.Equals(b); }
inline bool operator!=(const CKzStringA& a, const char* b) { return !a.Equals(b); }
inline bool operator!=(const char* a, const CKzStringA& b) { return !b.Equals(a); }
inline bool operator<(const CKzStringA& a, const CKzStringA& b) { return a.Less(b); }
inline bool operator<(const CKzStringA& a, const char* b) { return a.Less(b); }
inline bool operator<(const char* a, const CKzStringA& b) { return b.Compare(a) > 0; }
inline bool operator<=(const CKzStringA& a, const CKzStringA& b) { return a.LessEqual(b); }
inline bool operator<=(const CKzStringA& a, const char* b) { return a.LessEqual(b); }
inline bool operator<=(const char* a, const CKzStringA& b) { return b.Compare(a) >= 0; }
inline bool operator>(const CKzStringA& a, const CKzStringA& b) { return b.Less(a); }
inline bool operator>(const CKzStringA& a, const char* b) { return a.Compare(b) > 0; }
inline bool operator>(const char* a, const CKzStringA& b) { return b.Less(a); }
inline bool operator>=(const CKzStringA& a, const CKzStringA& b) { return b.LessEqual(a); }
inline bool operator>=(const CKzStringA& a, const char* b) { return a.Compare(b) >= 0; }
inline bool operator>=(const char* a, const CKzStringA& b) { return b.LessEqual(a); }
