// Width-independent implementation of CKzStringW and CKzStringA. Internal:
// included only by the string sources, never installed for hosts to use.
#pragma once

#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzString.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <cwctype>
#include <new>

namespace kzstr {

// Locale conversions. Each returns a zero-terminated block from CKzAlloc
// (caller frees) and its character count, or null when memory ran out.
// Bytes the locale cannot decode become '?', characters it cannot encode too.
wchar_t* MbToWide(const char* text, size_t* count) KZ_STR_HIDDEN;
char* WideToMb(const wchar_t* text, size_t* count) KZ_STR_HIDDEN;

// Rewrites a wide format so that the system's vswprintf sees "%ls" where the
// caller wrote "%s" (wide text) and "%s" where the caller wrote "%S" (narrow
// text), flags, width and precision kept; "%%" stays a literal percent sign.
// Returns a CKzAlloc block (caller frees) or null.
wchar_t* RewriteWideFormat(const wchar_t* fmt, size_t* count) KZ_STR_HIDDEN;

template <class Ch> struct CharOps;

template <> struct CharOps<wchar_t> {
    static size_t Len(const wchar_t* p) { return std::wcslen(p); }
    static wchar_t Lower(wchar_t c) { return KZ_ToLower(c); }
    static wchar_t Upper(wchar_t c) { return KZ_ToUpper(c); }
    static const wchar_t* Chr(const wchar_t* p, wchar_t c, size_t n) { return std::wmemchr(p, c, n); }
    static const wchar_t* Str(const wchar_t* h, const wchar_t* n) { return std::wcsstr(h, n); }
    static int Cmp(const wchar_t* a, const wchar_t* b) { return KZ_Sstrcmp(a, b); }
    static int CmpNoCase(const wchar_t* a, const wchar_t* b) { return KZ_Sstricmp(a, b); }
    static constexpr const char* kSource = "gnr_system/CKzStringW";
    static constexpr int kLineMid = 483;
    static constexpr int kLineReplaceCount = 1242;
    static constexpr int kLineReplaceRange = 1249;
    static constexpr int kLineInsert = 1314;
    static constexpr bool kReportReplaceRange = true;
    static constexpr bool kReportReserve = false;
    static constexpr const wchar_t* kBlank = L" ";
    static constexpr const wchar_t* kEmpty = L"";
};

template <> struct CharOps<char> {
    static size_t Len(const char* p) { return std::strlen(p); }
    static char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
    static char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
    static const char* Chr(const char* p, char c, size_t n) { return static_cast<const char*>(std::memchr(p, c, n)); }
    static const char* Str(const char* h, const char* n) { return std::strstr(h, n); }
    static int Cmp(const char* a, const char* b) { return std::strcmp(a, b); }
    static int CmpNoCase(const char* a, const char* b);
    static constexpr const char* kSource = "gnr_system/CKzStringA";
    static constexpr int kLineMid = 413;
    static constexpr int kLineReplaceCount = 1145;
    static constexpr int kLineReplaceRange = 0;
    static constexpr int kLineInsert = 1217;
    static constexpr bool kReportReplaceRange = false;
    static constexpr bool kReportReserve = true;
    static constexpr const char* kBlank = " ";
    static constexpr const char* kEmpty = "";
};

inline int Sign(long long v) { return (v > 0) - (v < 0); }

}  // namespace kzstr

template <class S>
struct KzStringImpl {
    typedef typename S::char_type Ch;
    typedef SKzStrBuffT<Ch> Buff;
    typedef kzstr::CharOps<Ch> Ops;

    static Buff* SharedEmpty();

    // ---- buffer management -------------------------------------------------
    static void AddRef(Buff* b)
    {
        if (!b->IsStatic()) b->m_uiRefCount.fetch_add(1, std::memory_order_relaxed);
    }
    static void Release(Buff* b)
    {
        if (b->IsStatic()) return;
        if (b->m_uiRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            CKzAlloc::Free(b->m_pChars);
            b->~Buff();
            CKzAlloc::Free(b);
        }
    }
    static void Attach(S& s, Buff* b)
    {
        s.m_pBuff = b;
        s.m_pStr = b->m_pChars;
    }
    static void InitEmpty(S& s) { Attach(s, SharedEmpty()); }

    // Allocation size in characters (terminator included) for `need`
    // characters, growing from `capacity`: 16, 32, 64, ... so capacities run
    // 15, 31, 63, ...
    static long long LadderSize(int capacity, long long need)
    {
        long long size = capacity == 0 ? 16 : (long long)capacity + 1;
        while (size <= need) size *= 2;
        return size;
    }

    static void ReportReserveFailure()
    {
        if (Ops::kReportReserve) KZ_PrintFailure("gnr_system/CKzStrBuffA", 43);
    }

    // New private buffer of `size` characters (zero-filled), count 1.
    static Buff* NewBuff(long long size)
    {
        if (size <= 0 || size > (long long)INT_MAX + 1) return nullptr;
        void* mem = CKzAlloc::Alloc(0, sizeof(Buff));
        if (!mem) return nullptr;
        Ch* chars = static_cast<Ch*>(CKzAlloc::Alloc(1, (size_t)size * sizeof(Ch)));
        if (!chars) {
            CKzAlloc::Free(mem);
            return nullptr;
        }
        Buff* b = new (mem) Buff();
        b->m_iCapacity = (int)(size - 1);
        b->m_pChars = chars;
        return b;
    }

    // Makes the string's buffer private (copy on write) with room for `need`
    // characters besides the terminator. With keep == false the old text is
    // not carried over when a new buffer is made (the caller empties it).
    // On failure the string is unchanged and false is returned.
    static bool Writable(S& s, long long need, bool keep = true)
    {
        if (need < 0) need = 0;
        if (need > INT_MAX) {
            ReportReserveFailure();
            return false;
        }
        Buff* b = s.m_pBuff;
        const bool shared = b->IsStatic() || b->m_uiRefCount.load(std::memory_order_acquire) > 1;
        if (!shared) {
            if (b->m_iCapacity >= need) return true;
            long long size = LadderSize(b->m_iCapacity, need);
            Ch* p = static_cast<Ch*>(CKzAlloc::ReAlloc(b->m_pChars, (size_t)size * sizeof(Ch), 0));
            if (!p) {
                ReportReserveFailure();
                return false;
            }
            const long long old = (long long)b->m_iCapacity + 1;
            std::memset(p + old, 0, (size_t)(size - old) * sizeof(Ch));
            b->m_pChars = p;
            b->m_iCapacity = (int)(size - 1);
            s.m_pStr = p;
            return true;
        }
        long long size = b->m_iCapacity >= need ? (long long)b->m_iCapacity + 1 : LadderSize(b->m_iCapacity, need);
        Buff* nb = NewBuff(size);
        if (!nb) {
            ReportReserveFailure();
            return false;
        }
        if (keep) {
            nb->m_iLength = b->m_iLength;
            std::memcpy(nb->m_pChars, b->m_pChars, (size_t)b->m_iLength * sizeof(Ch));
        }
        Attach(s, nb);
        Release(b);
        return true;
    }

    static void SetLength(S& s, int len)
    {
        s.m_pBuff->m_iLength = len;
        s.m_pStr[len] = 0;
    }

    // True when p points into the string's own character block: such text
    // must be read from a buffer that stays put while the string changes.
    static bool Owns(const S& s, const void* p)
    {
        const uintptr_t a = reinterpret_cast<uintptr_t>(p);
        const uintptr_t lo = reinterpret_cast<uintptr_t>(s.m_pStr);
        const uintptr_t hi = lo + ((size_t)s.m_pBuff->m_iCapacity + 1) * sizeof(Ch);
        return a >= lo && a < hi;
    }

    // ---- construction -----------------------------------------------------
    static void Construct(S& s, int n)
    {
        InitEmpty(s);
        if (n > 0) Writable(s, n);
    }

    // The string alone uses its buffer (copies may not see a change).
    static bool IsPrivate(const Buff* b) { return b->m_uiRefCount.load(std::memory_order_acquire) == 1; }

    static bool Append(S& s, const Ch* p, long long n)
    {
        if (!p || n <= 0) return true;
        Buff* b = s.m_pBuff;
        const long long len = b->m_iLength;
        if (len + n <= b->m_iCapacity && IsPrivate(b) && !Owns(s, p)) {
            // Common case: room in a private buffer, text from elsewhere.
            std::memcpy(s.m_pStr + len, p, (size_t)n * sizeof(Ch));
            SetLength(s, (int)(len + n));
            return true;
        }
        return AppendSlow(s, p, n);
    }
    static bool AppendOne(S& s, Ch c)
    {
        Buff* b = s.m_pBuff;
        const int len = b->m_iLength;
        if (len < b->m_iCapacity && IsPrivate(b)) {
            s.m_pStr[len] = c;
            SetLength(s, len + 1);
            return true;
        }
        return AppendSlow(s, &c, 1);
    }
    static bool AppendSlow(S& s, const Ch* p, long long n)
    {
        S hold;
        if (Owns(s, p)) hold = s;  // a second reference forces a fresh buffer; p stays valid in the old one
        const long long len = s.m_pBuff->m_iLength;
        if (!Writable(s, len + n)) return false;
        std::memcpy(s.m_pStr + len, p, (size_t)n * sizeof(Ch));
        SetLength(s, (int)(len + n));
        return true;
    }
    static bool AppendText(S& s, const Ch* p)
    {
        if (!p) return true;
        return Append(s, p, (long long)Ops::Len(p));
    }

    static void Copy(S& s, const S& other)
    {
        if (s.m_pStr == other.m_pStr) return;
        Buff* old = s.m_pBuff;
        AddRef(other.m_pBuff);
        Attach(s, other.m_pBuff);
        Release(old);
    }
    static void Move(S& s, S& other)
    {
        if (&s == &other) return;
        Buff* old = s.m_pBuff;
        Attach(s, other.m_pBuff);
        InitEmpty(other);
        Release(old);
    }

    static void AssignText(S& s, const Ch* p)
    {
        if (p == s.m_pStr) return;
        if (p && Owns(s, p)) {
            S tmp(p);
            Copy(s, tmp);
            return;
        }
        Empty(s);
        AppendText(s, p);
    }

    // A private buffer is kept with its capacity for the text to come; a
    // shared one is left to its other users and the string takes the shared
    // empty text, which costs no allocation.
    static void Empty(S& s)
    {
        Buff* b = s.m_pBuff;
        if (b->IsStatic()) return;
        if (!IsPrivate(b)) {
            InitEmpty(s);
            Release(b);
            return;
        }
        SetLength(s, 0);
    }

    static void Reset(S& s)
    {
        Buff* old = s.m_pBuff;
        Buff* nb = NewBuff(16);
        if (nb)
            Attach(s, nb);
        else
            InitEmpty(s);
        Release(old);
    }

    static Ch* Preallocate(S& s, int n)
    {
        if (!Writable(s, n < 0 ? 0 : n)) return nullptr;
        return s.m_pStr;
    }

    // ---- reading ----------------------------------------------------------
    static S Mid(const S& s, int start, int count)
    {
        const int len = s.m_pBuff->m_iLength;
        if (start < 0) {
            KZ_PrintFailure(Ops::kSource, Ops::kLineMid);
            return S();
        }
        if (count == 0 || len == 0 || start >= len) return S();
        long long n = count < 0 ? (long long)len - start : count;
        if (start + n > len) n = (long long)len - start;
        if (start == 0 && n == len) return s;
        S r((int)n);
        Append(r, s.m_pStr + start, n);
        return r;
    }
    static S Left(const S& s, int n)
    {
        if (n < 0 || n >= s.m_pBuff->m_iLength) return s;
        return Mid(s, 0, n);
    }
    static S Right(const S& s, int n)
    {
        const int len = s.m_pBuff->m_iLength;
        if (n >= len) return s;
        if (n < 0) return S();
        return Mid(s, len - n, n);
    }
    static int CopyOut(const Ch* src, size_t n, Ch* dst, int size)
    {
        if (!dst || size < 1) return KZ_FAIL;
        if (n > (size_t)size - 1) n = (size_t)size - 1;
        std::memcpy(dst, src, n * sizeof(Ch));
        dst[n] = 0;
        return (int)n;
    }

    // ---- changing ---------------------------------------------------------
    static int SetAt(S& s, int i, Ch c)
    {
        if (i < 0 || i >= s.m_pBuff->m_iLength) return KZ_ERR_INDEX;
        if (!Writable(s, s.m_pBuff->m_iLength)) return KZ_ERR_OUT_OF_MEMORY;
        s.m_pStr[i] = c;
        if (c == 0) s.m_pBuff->m_iLength = i;
        return KZ_OK;
    }
    static int TruncateAt(S& s, int i)
    {
        if (i < 0) return KZ_ERR_INDEX;
        if (i >= s.m_pBuff->m_iLength) return KZ_OK;
        if (!Writable(s, s.m_pBuff->m_iLength)) return KZ_ERR_OUT_OF_MEMORY;
        SetLength(s, i);
        return KZ_OK;
    }
    static int Delete(S& s, int start, int count)
    {
        const int len = s.m_pBuff->m_iLength;
        if (start < 0) return KZ_ERR_INDEX;
        if (start >= len || count == 0) return KZ_OK;
        if (count < 0 || (long long)start + count >= len) return TruncateAt(s, start);
        if (!Writable(s, len)) return KZ_ERR_OUT_OF_MEMORY;
        std::memmove(s.m_pStr + start, s.m_pStr + start + count, (size_t)(len - start - count) * sizeof(Ch));
        SetLength(s, len - count);
        return KZ_OK;
    }
    static int DeleteRight(S& s, int n)
    {
        if (n < 0) return KZ_ERR_INDEX;
        const int len = s.m_pBuff->m_iLength;
        return TruncateAt(s, n >= len ? 0 : len - n);
    }
    static bool InSet(const Ch* set, size_t setLen, Ch c) { return Ops::Chr(set, c, setLen) != nullptr; }
    static void TrimLeft(S& s, const Ch* set)
    {
        if (!set) set = Ops::kBlank;
        const size_t sl = Ops::Len(set);
        if (sl == 0) return;
        const int len = s.m_pBuff->m_iLength;
        int k = 0;
        while (k < len && InSet(set, sl, s.m_pStr[k])) ++k;
        if (k > 0) Delete(s, 0, k);
    }
    static void TrimRight(S& s, const Ch* set)
    {
        if (!set) set = Ops::kBlank;
        const size_t sl = Ops::Len(set);
        if (sl == 0) return;
        int k = s.m_pBuff->m_iLength;
        while (k > 0 && InSet(set, sl, s.m_pStr[k - 1])) --k;
        TruncateAt(s, k);
    }
    static int Remove(S& s, Ch c)
    {
        const int len = s.m_pBuff->m_iLength;
        if (c == 0 || !Ops::Chr(s.m_pStr, c, (size_t)len)) return 0;
        if (!Writable(s, len)) return 0;
        int w = 0;
        for (int r = 0; r < len; ++r)
            if (s.m_pStr[r] != c) s.m_pStr[w++] = s.m_pStr[r];
        SetLength(s, w);
        return len - w;
    }
    template <class F>
    static void Map(S& s, F f)
    {
        const int len = s.m_pBuff->m_iLength;
        if (len == 0 || !Writable(s, len)) return;
        Ch* p = s.m_pStr;
        for (int i = 0; i < len; ++i) p[i] = f(p[i]);
    }
    static void Insert(S& s, const Ch* text, int pos, int count)
    {
        const int len = s.m_pBuff->m_iLength;
        if (pos < 0 || pos > len) {
            KZ_PrintFailure(Ops::kSource, Ops::kLineInsert);
            return;
        }
        if (!text) return;
        const long long tl = (long long)Ops::Len(text);
        long long n = (count < 0 || count > tl) ? tl : count;
        if (n == 0) return;
        if (pos == len) {
            Append(s, text, n);
            return;
        }
        S hold;
        if (Owns(s, text)) hold = s;
        if (!Writable(s, len + n)) return;
        Ch* p = s.m_pStr;
        std::memmove(p + pos + n, p + pos, (size_t)(len - pos) * sizeof(Ch));
        std::memcpy(p + pos, text, (size_t)n * sizeof(Ch));
        SetLength(s, (int)(len + n));
    }
    static int ReplaceAt(S& s, int pos, int count, const Ch* text)
    {
        const int len = s.m_pBuff->m_iLength;
        if (count <= 0) {
            KZ_PrintFailure(Ops::kSource, Ops::kLineReplaceCount);
            return KZ_ERR_INDEX;
        }
        if (pos < 0 || (long long)pos + count > len) {
            if (Ops::kReportReplaceRange) KZ_PrintFailure(Ops::kSource, Ops::kLineReplaceRange);
            return KZ_ERR_INDEX;
        }
        if (!text) text = Ops::kEmpty;
        S hold;
        if (Owns(s, text)) hold = s;
        const long long tl = (long long)Ops::Len(text);
        if (tl == count) {
            if (!Writable(s, len)) return KZ_ERR_OUT_OF_MEMORY;
            std::memmove(s.m_pStr + pos, text, (size_t)count * sizeof(Ch));
            return KZ_OK;
        }
        // Build the result aside so that a failed allocation leaves the string as it was.
        S r((int)((long long)len - count + tl));
        if (!Append(r, s.m_pStr, pos) || !Append(r, text, tl) ||
            !Append(r, s.m_pStr + pos + count, (long long)len - pos - count))
            return KZ_ERR_OUT_OF_MEMORY;
        Copy(s, r);
        return KZ_OK;
    }
    // Lower-cased private copy of a text, for case-insensitive searches.
    static S Lowered(const Ch* p)
    {
        S r(p);
        Map(r, Ops::Lower);
        return r;
    }
    static int Replace(S& s, const Ch* oldText, const Ch* newText, bool noCase)
    {
        if (!oldText || !*oldText) return 0;
        if (!newText) newText = Ops::kEmpty;
        const int len = s.m_pBuff->m_iLength;
        const int ol = (int)Ops::Len(oldText);
        const long long nl = (long long)Ops::Len(newText);
        S lowS, lowOld;
        const Ch* hay = s.m_pStr;
        const Ch* needle = oldText;
        if (noCase) {
            lowS = Lowered(s.m_pStr);
            lowOld = Lowered(oldText);
            hay = lowS.m_pStr;
            needle = lowOld.m_pStr;
        }
        int count = 0;
        S r;
        int from = 0;
        for (;;) {
            const Ch* hit = from < len ? Ops::Str(hay + from, needle) : nullptr;
            if (!hit) break;
            const int at = (int)(hit - hay);
            if (!Append(r, s.m_pStr + from, at - from) || !Append(r, newText, nl)) return 0;
            from = at + ol;
            ++count;
        }
        if (count == 0) return 0;
        if (!Append(r, s.m_pStr + from, (long long)len - from)) return 0;
        Copy(s, r);
        return count;
    }

    // ---- searching --------------------------------------------------------
    static int Find(const S& s, Ch c, int start)
    {
        const int len = s.m_pBuff->m_iLength;
        if (start < 0 || start >= len) return -1;
        const Ch* hit = Ops::Chr(s.m_pStr + start, c, (size_t)(len - start));
        return hit ? (int)(hit - s.m_pStr) : -1;
    }
    static int Find(const S& s, const Ch* text, int start)
    {
        if (!text || !*text || start < 0 || start >= s.m_pBuff->m_iLength) return -1;
        const Ch* hit = Ops::Str(s.m_pStr + start, text);
        return hit ? (int)(hit - s.m_pStr) : -1;
    }
    static int FindNoCase(const S& s, Ch c, int start)
    {
        if (start < 0 || start >= s.m_pBuff->m_iLength) return -1;
        S low = Lowered(s.m_pStr);
        return Find(low, Ops::Lower(c), start);
    }
    static int FindNoCase(const S& s, const Ch* text, int start)
    {
        if (!text || !*text || start < 0 || start >= s.m_pBuff->m_iLength) return -1;
        S low = Lowered(s.m_pStr);
        S lowText = Lowered(text);
        return Find(low, lowText.m_pStr, start);
    }
    static int ReverseFind(const S& s, Ch c, int start, bool noCase)
    {
        const int len = s.m_pBuff->m_iLength;
        if (start >= len || len == 0) return -1;
        if (start < 0) start = len - 1;
        if (noCase) c = Ops::Lower(c);
        for (int i = start; i >= 0; --i) {
            const Ch x = noCase ? Ops::Lower(s.m_pStr[i]) : s.m_pStr[i];
            if (x == c) return i;
        }
        return -1;
    }
    static int FindOneOf(const S& s, const Ch* set, int start)
    {
        const int len = s.m_pBuff->m_iLength;
        if (!set || start < 0 || start >= len) return -1;
        const size_t sl = Ops::Len(set);
        if (sl == 0) return -1;
        for (int i = start; i < len; ++i)
            if (InSet(set, sl, s.m_pStr[i])) return i;
        return -1;
    }

    // ---- comparing --------------------------------------------------------
    static int Compare(const S& s, const Ch* text) { return kzstr::Sign(Ops::Cmp(s.m_pStr, text ? text : Ops::kEmpty)); }
    static int CompareNoCase(const S& s, const Ch* text)
    {
        return kzstr::Sign(Ops::CmpNoCase(s.m_pStr, text ? text : Ops::kEmpty));
    }
    static bool Equals(const S& a, const S& b)
    {
        if (a.m_pStr == b.m_pStr) return true;
        const int len = a.m_pBuff->m_iLength;
        return len == b.m_pBuff->m_iLength && std::memcmp(a.m_pStr, b.m_pStr, (size_t)len * sizeof(Ch)) == 0;
    }

    // ---- formatting -------------------------------------------------------
    // Takes a formatted block of n characters: replaces or extends the text.
    static int TakeFormatted(S& s, const Ch* block, int n, bool append)
    {
        if (!append) Empty(s);
        return Append(s, block, n) ? KZ_OK : KZ_ERR_OUT_OF_MEMORY;
    }
};

template <>
SKzStrBuffW* KzStringImpl<CKzStringW>::SharedEmpty();
template <>
SKzStrBuffA* KzStringImpl<CKzStringA>::SharedEmpty();

namespace kzstr {
// Reservation hint for a sum of two lengths (0 when it would not fit an int).
inline int SumHint(long long a, long long b)
{
    return a + b > INT_MAX ? 0 : (int)(a + b);
}
}  // namespace kzstr
