#include "gnr_system/CKzRangeMask.h"
#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzByteArray.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzLiteVariant.h"

#include <cstring>
#include <cwchar>

namespace {

inline u64 popcnt(u64 w) { return (u64)__builtin_popcountll(w); }
// Bits 0 .. b of a word (b < 64).
inline u64 lowBits(u64 b) { return b >= 63 ? ~u64(0) : ((u64(1) << (b + 1)) - 1); }
// Bits 0 .. b - 1 of a word (b < 64).
inline u64 lowBitsBelow(u64 b) { return b == 0 ? 0 : ((u64(1) << b) - 1); }

} // namespace

const unsigned char CKzRangeMask::s_pOnes[256] = {
#define B2(n) n, n + 1, n + 1, n + 2
#define B4(n) B2(n), B2(n + 1), B2(n + 1), B2(n + 2)
#define B6(n) B4(n), B4(n + 1), B4(n + 1), B4(n + 2)
    B6(0), B6(1), B6(1), B6(2)
#undef B6
#undef B4
#undef B2
};
const unsigned char CKzRangeMask::s_pMaskLeft[8] = {1, 3, 7, 15, 31, 63, 127, 255};
const unsigned char CKzRangeMask::s_pMaskRight[8] = {255, 254, 252, 248, 240, 224, 192, 128};

const CKzRangeMask CKzRangeMask::FULL_MASK(129, 0, 128, 1);

CKzRangeMask::CKzRangeMask()
    : m_uiSize(0), m_uiFirst(0), m_uiSpan(0), m_uiStep(0), m_pWords(nullptr), m_bAllocFailed(false)
{
}

CKzRangeMask::CKzRangeMask(unsigned int size, unsigned int first, unsigned int last, unsigned int step)
    : CKzRangeMask()
{
    m_uiSize = size;
    SetRange(first, last, step);
}

CKzRangeMask::CKzRangeMask(unsigned long word) : CKzRangeMask()
{
    SetMask(64, &word);
}

CKzRangeMask::CKzRangeMask(const CKzByteArray& bytes) : CKzRangeMask()
{
    m_uiSize = (u32)(bytes.GetSize() > 0xFFFFFFFFu ? 0xFFFFFFFFu : bytes.GetSize());
    SetMask(bytes);
}

CKzRangeMask::CKzRangeMask(const CKzRangeMask& o) : CKzRangeMask()
{
    *this = o;
}

CKzRangeMask& CKzRangeMask::operator=(const CKzRangeMask& o)
{
    if (this == &o) return *this;
    u64* w = nullptr;
    if (o.m_pWords) {
        w = (u64*)CKzAlloc::Alloc(0, o.wordCount() * 8);
        if (!w) {
            m_bAllocFailed = true;
            return *this;
        }
        std::memcpy(w, o.m_pWords, o.wordCount() * 8);
    }
    freeWords();
    m_pWords = w;
    m_uiSize = o.m_uiSize;
    m_uiFirst = o.m_uiFirst;
    m_uiSpan = o.m_uiSpan;
    m_uiStep = o.m_uiStep;
    return *this;
}

CKzRangeMask::~CKzRangeMask()
{
    freeWords();
}

void CKzRangeMask::freeWords()
{
    CKzAlloc::Free(m_pWords);
    m_pWords = nullptr;
}

void CKzRangeMask::Set()
{
    freeWords();
    m_uiFirst = 0;
    m_uiSpan = m_uiSize;
    m_uiStep = 1;
}

void CKzRangeMask::Reset()
{
    freeWords();
    m_uiFirst = m_uiSpan = m_uiStep = 0;
}

void CKzRangeMask::SetRange(unsigned int a, unsigned int b, unsigned int st)
{
    freeWords();
    if (st == 0) st = 1;
    u32 lo = a < b ? a : b;
    u32 d = a < b ? b - a : a - b;
    m_uiFirst = lo;
    m_uiStep = st;
    u64 span = (u64)st * (d / st) + 1;
    m_uiSpan = (u32)(span > 0xFFFFFFFFu ? 0xFFFFFFFFu : span);
}

int CKzRangeMask::SetSize(unsigned int n)
{
    u64 oldW = wordCount();
    u64 newW = ((u64)n + 63) / 64;
    if (m_pWords && newW != oldW) {
        u64* w = nullptr;
        if (newW) {
            w = (u64*)CKzAlloc::ReAlloc(m_pWords, newW * 8, 0);
            if (!w) {
                m_bAllocFailed = true;
                return KZ_ERR_OUT_OF_MEMORY;
            }
            if (newW > oldW) std::memset(w + oldW, 0, (newW - oldW) * 8);
        } else {
            CKzAlloc::Free(m_pWords);
        }
        m_pWords = w;
    }
    m_uiSize = n;
    if (m_pWords) {
        clearTail();
        recomputeBounds();
        return KZ_OK;
    }
    if (m_uiSpan && m_uiFirst >= n) {
        Reset();
    } else if ((u64)m_uiFirst + m_uiSpan > n) {
        // The clipped span ends on the last member below the size, as every
        // other range does.
        m_uiSpan = ((n - 1 - m_uiFirst) / step()) * step() + 1;
    }
    return KZ_OK;
}

void CKzRangeMask::clearTail()
{
    if (!m_pWords) return;
    u64 nw = wordCount();
    if (nw && (m_uiSize & 63)) m_pWords[nw - 1] &= lowBits((m_uiSize & 63) - 1);
}

int CKzRangeMask::GetFirst(unsigned int* first) const
{
    if (!m_uiSpan) return KZ_ERR_FAILED;
    if (first) *first = m_uiFirst;
    return KZ_OK;
}

int CKzRangeMask::GetLast(unsigned int* last) const
{
    if (!m_uiSpan) return KZ_ERR_FAILED;
    if (last) *last = m_uiFirst + m_uiSpan - 1;
    return KZ_OK;
}

int CKzRangeMask::GetRange(unsigned int* first, unsigned int* last, unsigned int* st) const
{
    if (!m_uiSpan) return KZ_ERR_FAILED;
    if (first) *first = m_uiFirst;
    if (last) *last = m_uiFirst + m_uiSpan - 1;
    if (st) *st = m_uiStep;
    return KZ_OK;
}

bool CKzRangeMask::Get(unsigned int i) const
{
    if (i >= m_uiSize) return false;
    if (m_pWords) return (m_pWords[i >> 6] >> (i & 63)) & 1;
    if (i < m_uiFirst || (u64)(i - m_uiFirst) >= m_uiSpan) return false;
    return (i - m_uiFirst) % step() == 0;
}

i64 CKzRangeMask::nextMember(u64 start) const
{
    if (!m_pWords || start >= m_uiSize) return -1;
    u64 nw = wordCount();
    u64 wi = start >> 6;
    u64 w = m_pWords[wi] & ~lowBitsBelow(start & 63);
    for (;;) {
        if (w) {
            u64 i = wi * 64 + (u64)__builtin_ctzll(w);
            return i < m_uiSize ? (i64)i : -1;
        }
        if (++wi >= nw) return -1;
        w = m_pWords[wi];
    }
}

i64 CKzRangeMask::prevMember(i64 start) const
{
    if (!m_pWords || start < 0 || m_uiSize == 0) return -1;
    if ((u64)start >= m_uiSize) start = (i64)m_uiSize - 1;
    i64 wi = start >> 6;
    u64 w = m_pWords[wi] & lowBits((u64)start & 63);
    for (;;) {
        if (w) return wi * 64 + 63 - __builtin_clzll(w);
        if (--wi < 0) return -1;
        w = m_pWords[wi];
    }
}

void CKzRangeMask::recomputeBounds()
{
    i64 f = nextMember(0);
    if (f < 0) {
        m_uiFirst = m_uiSpan = 0;
        return;
    }
    i64 l = prevMember((i64)m_uiSize - 1);
    m_uiFirst = (u32)f;
    m_uiSpan = (u32)(l - f + 1);
}

bool CKzRangeMask::toMask()
{
    if (m_pWords) return true;
    u64 nw = wordCount();
    if (nw == 0) {
        // A size-0 mask has no words; the range form stands for it.
        return false;
    }
    u64* w = (u64*)CKzAlloc::Alloc(1, nw * 8);
    if (!w) {
        m_bAllocFailed = true;
        return false;
    }
    fillWords(w, nw, m_uiSize);
    m_pWords = w;
    recomputeBounds();
    return true;
}

void CKzRangeMask::fillWords(u64* out, u64 nw, u64 limit) const
{
    u64 lim = limit < m_uiSize ? limit : m_uiSize;
    if (lim > nw * 64) lim = nw * 64;
    if (m_pWords) {
        u64 own = wordCount();
        u64 n = own < nw ? own : nw;
        std::memcpy(out, m_pWords, n * 8);
        if (nw > n) std::memset(out + n, 0, (nw - n) * 8);
    } else {
        std::memset(out, 0, nw * 8);
        if (m_uiSpan) {
            u64 end = (u64)m_uiFirst + m_uiSpan;
            if (end > lim) end = lim;
            u64 st = step();
            if (st == 1) {
                for (u64 i = m_uiFirst; i < end;) {
                    u64 wi = i >> 6, b = i & 63;
                    u64 top = end - wi * 64 > 64 ? 64 : end - wi * 64;
                    u64 bits = (top == 64 ? ~u64(0) : ((u64(1) << top) - 1)) & ~lowBitsBelow(b);
                    out[wi] |= bits;
                    i = wi * 64 + top;
                }
            } else {
                for (u64 i = m_uiFirst; i < end; i += st) out[i >> 6] |= u64(1) << (i & 63);
            }
        }
    }
    // Nothing at or beyond the limit.
    for (u64 wi = lim >> 6; wi < nw; ++wi) {
        u64 b = lim > wi * 64 ? lim - wi * 64 : 0;
        out[wi] &= b >= 64 ? ~u64(0) : ((u64(1) << b) - 1);
    }
}

bool CKzRangeMask::Set(unsigned int i, bool v)
{
    if (i >= m_uiSize) {
        if (i == 0xFFFFFFFFu || SetSize(i + 1) != KZ_OK) return false;
    }
    bool cur = Get(i);
    if (cur == v) return cur;
    if (!m_pWords) {
        u32 st = step();
        u64 last = (u64)m_uiFirst + m_uiSpan - 1;
        u64 cnt = m_uiSpan ? (u64)(m_uiSpan - 1) / st + 1 : 0;
        if (v) {
            if (cnt == 0) {
                m_uiFirst = i;
                m_uiSpan = 1;
                m_uiStep = 1;
                return cur;
            }
            if (i < m_uiFirst) {
                if (cnt == 1) {
                    m_uiStep = m_uiFirst - i;
                    m_uiSpan = m_uiStep + 1;
                    m_uiFirst = i;
                    return cur;
                }
                if (m_uiFirst >= st && i == m_uiFirst - st) {
                    m_uiFirst = i;
                    m_uiSpan += st;
                    return cur;
                }
            } else if (i > last) {
                if (cnt == 1) {
                    m_uiStep = i - m_uiFirst;
                    m_uiSpan = m_uiStep + 1;
                    return cur;
                }
                u64 lastMember = m_uiFirst + (cnt - 1) * st;
                if (lastMember == last && (u64)i == last + st) {
                    m_uiSpan += st;
                    return cur;
                }
            } else if (cnt == 2 && (st & 1) == 0 && i == m_uiFirst + st / 2) {
                m_uiStep = st / 2;
                return cur;
            }
        } else {
            u64 lastMember = m_uiFirst + (cnt - 1) * st;
            if (cnt == 1) {
                m_uiFirst = m_uiSpan = m_uiStep = 0;
                return cur;
            }
            if (cnt == 3 && lastMember == last && i == m_uiFirst + st) {
                m_uiStep = st * 2;
                return cur;
            }
            if (i == m_uiFirst) {
                m_uiFirst += st;
                m_uiSpan -= st;
                return cur;
            }
            if ((u64)i == last && lastMember == last) {
                m_uiSpan -= st;
                return cur;
            }
        }
        if (!toMask()) return cur;
    }
    // Mask form: flip the bit and keep first and span bounding the members.
    if (v) {
        m_pWords[i >> 6] |= u64(1) << (i & 63);
        if (m_uiSpan == 0) {
            m_uiFirst = i;
            m_uiSpan = 1;
        } else if (i < m_uiFirst) {
            m_uiSpan += m_uiFirst - i;
            m_uiFirst = i;
        } else if ((u64)i >= (u64)m_uiFirst + m_uiSpan) {
            m_uiSpan = i - m_uiFirst + 1;
        }
    } else {
        m_pWords[i >> 6] &= ~(u64(1) << (i & 63));
        u64 last = (u64)m_uiFirst + m_uiSpan - 1;
        if (i == m_uiFirst) {
            i64 nf = nextMember((u64)i + 1);
            if (nf < 0) {
                m_uiFirst = m_uiSpan = 0;
            } else {
                m_uiSpan = (u32)(last - (u64)nf + 1);
                m_uiFirst = (u32)nf;
            }
        } else if ((u64)i == last) {
            i64 nl = prevMember((i64)i - 1);
            m_uiSpan = (u32)(nl - (i64)m_uiFirst + 1);
        }
    }
    return cur;
}

u64 CKzRangeMask::countUpTo(u64 i) const
{
    if (m_uiSize == 0) return 0;
    if (i >= m_uiSize) i = m_uiSize - 1;
    if (m_pWords) {
        u64 wi = i >> 6, n = 0;
        for (u64 k = 0; k < wi; ++k) n += popcnt(m_pWords[k]);
        return n + popcnt(m_pWords[wi] & lowBits(i & 63));
    }
    if (!m_uiSpan || i < m_uiFirst) return 0;
    u64 d = i - m_uiFirst;
    u64 s1 = (u64)m_uiSpan - 1;
    return (d < s1 ? d : s1) / step() + 1;
}

unsigned int CKzRangeMask::GetCount(int i) const
{
    return (unsigned int)countUpTo(i <= 0 ? ~u64(0) : (u64)i);
}

unsigned int CKzRangeMask::Sum(unsigned int a, unsigned int n) const
{
    if (n == 0 || a >= m_uiSize) return 0;
    u64 end = (u64)a + n - 1;
    u64 total = countUpTo(end);
    u64 before = a ? countUpTo((u64)a - 1) : 0;
    return (unsigned int)(total - before);
}

bool CKzRangeMask::IsSet() const
{
    return countUpTo(~u64(0)) == m_uiSize;
}

bool CKzRangeMask::IsSet(unsigned int n) const
{
    if (n == 0 || n >= m_uiSize) return IsSet();
    return countUpTo((u64)n - 1) == n;
}

bool CKzRangeMask::IsReset() const
{
    return countUpTo(~u64(0)) == 0;
}

bool CKzRangeMask::IsReset(unsigned int n) const
{
    if (n == 0 || n >= m_uiSize) return IsReset();
    return countUpTo(n) == 0;
}

bool CKzRangeMask::IsMaskFull(const unsigned long* words, unsigned int n)
{
    if (n == 0) return true;
    if (!words) return false;
    u64 full = n / 64;
    for (u64 k = 0; k < full; ++k)
        if (words[k] != ~0UL) return false;
    if (n & 63) {
        u64 m = lowBits((n & 63) - 1);
        if ((words[full] & m) != m) return false;
    }
    return true;
}

bool CKzRangeMask::IsMaskNull(const unsigned long* words, unsigned int n)
{
    if (n == 0) return true;
    if (!words) return true;
    u64 full = n / 64;
    for (u64 k = 0; k < full; ++k)
        if (words[k]) return false;
    if (n & 63)
        if (words[full] & lowBits((n & 63) - 1)) return false;
    return true;
}

int CKzRangeMask::FindFirst(int start) const
{
    if (!m_pWords) return KZ_ERR_FAILED;
    i64 r = nextMember(start < 0 ? 0 : (u64)start);
    return r < 0 ? 0 : (int)r;
}

int CKzRangeMask::FindLast(int start) const
{
    if (!m_pWords) return KZ_ERR_FAILED;
    i64 s = start < 1 ? (i64)m_uiSize - 1 : start;
    i64 r = prevMember(s);
    return r < 0 ? -1 : (int)r;
}

const unsigned long* CKzRangeMask::GetMask()
{
    toMask();
    return m_pWords;
}

int CKzRangeMask::ConvertRangeToMask(unsigned int first, unsigned int span, unsigned int st)
{
    if (!m_pWords) return KZ_ERR_FAILED;
    if (st == 0) st = 1;
    u64 end = (u64)first + span;
    if (end > m_uiSize) end = m_uiSize;
    for (u64 i = first; i < end; i += st) m_pWords[i >> 6] |= u64(1) << (i & 63);
    recomputeBounds();
    return KZ_OK;
}

int CKzRangeMask::ConvertMaskToRange()
{
    if (!m_pWords) return KZ_ERR_FAILED;
    u64 spacing = 0;
    u64 cnt = 0;
    i64 prev = -1;
    for (i64 i = nextMember(0); i >= 0; i = nextMember((u64)i + 1)) {
        if (prev >= 0) {
            u64 d = (u64)(i - prev);
            if (cnt == 1)
                spacing = d;
            else if (d != spacing)
                return KZ_ERR_FAILED;
        }
        prev = i;
        ++cnt;
    }
    freeWords();
    m_uiStep = cnt < 2 ? 1 : (u32)spacing;
    if (cnt == 0) m_uiFirst = m_uiSpan = 0;
    return KZ_OK;
}

int CKzRangeMask::SetMask(unsigned int n, const unsigned long* words)
{
    u64 nw = ((u64)n + 63) / 64;
    u64* w = nullptr;
    if (nw) {
        w = (u64*)CKzAlloc::Alloc(1, nw * 8);
        if (!w) {
            m_bAllocFailed = true;
            return KZ_ERR_OUT_OF_MEMORY;
        }
        if (words) std::memcpy(w, words, nw * 8);
    }
    freeWords();
    m_uiSize = n;
    m_pWords = w;
    if (!w) {
        m_uiFirst = m_uiSpan = 0;
        m_uiStep = 1;
        return KZ_OK;
    }
    clearTail();
    recomputeBounds();
    return KZ_OK;
}

int CKzRangeMask::SetMask(const CKzByteArray& bytes)
{
    u64 n = bytes.GetSize();
    if (n == 0) return KZ_OK;
    if (n > 0xFFFFFFFFu) n = 0xFFFFFFFFu;
    u64 nw = (n + 63) / 64;
    u64* w = (u64*)CKzAlloc::Alloc(1, nw * 8);
    if (!w) {
        m_bAllocFailed = true;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    const u8* p = bytes.GetData();
    for (u64 i = 0; i < n; ++i)
        if (p[i]) w[i >> 6] |= u64(1) << (i & 63);
    freeWords();
    m_uiSize = (u32)n;
    m_pWords = w;
    recomputeBounds();
    return KZ_OK;
}

int CKzRangeMask::SetMask(const wchar_t* text)
{
    if (!text) return KZ_ERR_FAILED;
    u64 n = std::wcslen(text);
    if (n > 0xFFFFFFFFu) n = 0xFFFFFFFFu;
    u64 nw = (n + 63) / 64;
    u64* w = nullptr;
    if (nw) {
        w = (u64*)CKzAlloc::Alloc(1, nw * 8);
        if (!w) {
            m_bAllocFailed = true;
            return KZ_ERR_OUT_OF_MEMORY;
        }
        for (u64 i = 0; i < n; ++i)
            if (text[i] == L'1') w[i >> 6] |= u64(1) << (i & 63);
    }
    freeWords();
    m_uiSize = (u32)n;
    m_pWords = w;
    if (w) {
        recomputeBounds();
        ConvertMaskToRange();
    } else {
        m_uiFirst = m_uiSpan = 0;
    }
    return KZ_OK;
}

int CKzRangeMask::GetMask(CKzByteArray& bytes) const
{
    if (bytes.GetSize() < m_uiSize) {
        if (bytes.SetData(nullptr, m_uiSize, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact) != KZ_OK)
            return KZ_ERR_OUT_OF_MEMORY;
        bytes.GetData(m_uiSize);
    }
    if (m_uiSize == 0) return KZ_OK;
    u8* p = bytes.GetData(bytes.GetSize());
    for (u64 i = 0; i < m_uiSize; ++i) p[i] = Get((u32)i) ? 1 : 0;
    return KZ_OK;
}

void CKzRangeMask::GetMask(wchar_t* out) const
{
    if (!out) return;
    for (u64 i = 0; i < m_uiSize; ++i) out[i] = Get((u32)i) ? L'1' : L'0';
}

CKzStringW CKzRangeMask::GetComponentsMask() const
{
    CKzStringW s((int)(m_uiSize > 0x7FFFFFFEu ? 0x7FFFFFFE : m_uiSize));
    for (u64 i = 0; i < m_uiSize; ++i) s.AddChar(Get((u32)i) ? L'1' : L'0');
    return s;
}

CKzRangeMask& CKzRangeMask::combine(const CKzRangeMask& o, EOp op)
{
    u64 nw = wordCount();
    if (nw == 0) {
        Reset();
        return *this;
    }
    if (m_pWords && o.m_pWords) {
        u64 n = o.wordCount() < nw ? o.wordCount() : nw;
        for (u64 k = 0; k < n; ++k) {
            if (op == eAnd) m_pWords[k] &= o.m_pWords[k];
            else if (op == eOr) m_pWords[k] |= o.m_pWords[k];
            else m_pWords[k] ^= o.m_pWords[k];
        }
        if (op == eAnd)
            for (u64 k = n; k < nw; ++k) m_pWords[k] = 0;
        clearTail();
        recomputeBounds();
        return *this;
    }
    u64* a = (u64*)CKzAlloc::Alloc(0, nw * 8);
    u64* b = (u64*)CKzAlloc::Alloc(0, nw * 8);
    if (!a || !b) {
        CKzAlloc::Free(a);
        CKzAlloc::Free(b);
        m_bAllocFailed = true;
        return *this;
    }
    fillWords(a, nw, m_uiSize);
    o.fillWords(b, nw, m_uiSize);
    for (u64 k = 0; k < nw; ++k) {
        if (op == eAnd) a[k] &= b[k];
        else if (op == eOr) a[k] |= b[k];
        else a[k] ^= b[k];
    }
    CKzAlloc::Free(b);
    freeWords();
    m_pWords = a;
    recomputeBounds();
    ConvertMaskToRange();
    return *this;
}

CKzRangeMask& CKzRangeMask::operator&=(const CKzRangeMask& o)
{
    if (o.m_uiSize < m_uiSize && SetSize(o.m_uiSize) != KZ_OK) return *this;
    if (!m_pWords && !o.m_pWords && step() == 1 && o.step() == 1) {
        u64 a0 = m_uiFirst, a1 = a0 + m_uiSpan, b0 = o.m_uiFirst, b1 = b0 + o.m_uiSpan;
        if (!m_uiSpan || !o.m_uiSpan || a1 <= b0 || b1 <= a0) {
            Reset();
            return *this;
        }
    }
    return combine(o, eAnd);
}

CKzRangeMask& CKzRangeMask::operator|=(const CKzRangeMask& o)
{
    if (o.m_uiSize > m_uiSize && SetSize(o.m_uiSize) != KZ_OK) return *this;
    if (!o.m_uiSpan) return *this;
    if (!m_pWords && !o.m_pWords && step() == 1 && o.step() == 1 && m_uiSpan) {
        u64 a0 = m_uiFirst, a1 = a0 + m_uiSpan, b0 = o.m_uiFirst, b1 = b0 + o.m_uiSpan;
        if (a0 <= b0 && b1 <= a1) return *this;
    }
    return combine(o, eOr);
}

CKzRangeMask& CKzRangeMask::operator^=(const CKzRangeMask& o)
{
    if (o.m_uiSize > m_uiSize && SetSize(o.m_uiSize) != KZ_OK) return *this;
    return combine(o, eXor);
}

CKzRangeMask& CKzRangeMask::Invert()
{
    CKzRangeMask full(m_uiSize, 0, m_uiSize ? m_uiSize - 1 : 0, 1);
    if (m_uiSize == 0) return *this;
    return *this ^= full;
}

CKzRangeMask& CKzRangeMask::operator<<=(unsigned int n)
{
    if (n == 0 || !m_uiSpan) return *this;
    if (!m_pWords) {
        u64 st = step();
        u64 cnt = ((u64)m_uiSpan - 1) / st + 1;
        u64 j0 = m_uiFirst >= n ? 0 : ((u64)n - m_uiFirst + st - 1) / st;
        if (j0 >= cnt) {
            Reset();
            return *this;
        }
        u64 nf = m_uiFirst + j0 * st - n;
        u64 nl = m_uiFirst + (cnt - 1) * st - n;
        m_uiFirst = (u32)nf;
        m_uiSpan = (u32)(nl - nf + 1);
        return *this;
    }
    u64 nw = wordCount();
    u64 ws = n >> 6, bs = n & 63;
    for (u64 k = 0; k < nw; ++k) {
        u64 src = k + ws;
        u64 lo = src < nw ? m_pWords[src] : 0;
        u64 hi = src + 1 < nw ? m_pWords[src + 1] : 0;
        m_pWords[k] = bs ? (lo >> bs) | (hi << (64 - bs)) : lo;
    }
    clearTail();
    recomputeBounds();
    return *this;
}

CKzRangeMask& CKzRangeMask::operator>>=(unsigned int n)
{
    if (n == 0 || !m_uiSpan) return *this;
    if (!m_pWords) {
        u64 st = step();
        u64 cnt = ((u64)m_uiSpan - 1) / st + 1;
        u64 nf = (u64)m_uiFirst + n;
        if (nf >= m_uiSize) {
            Reset();
            return *this;
        }
        u64 maxJ = ((u64)m_uiSize - 1 - nf) / st;
        u64 lastJ = cnt - 1 < maxJ ? cnt - 1 : maxJ;
        m_uiFirst = (u32)nf;
        m_uiSpan = (u32)(lastJ * st + 1);
        return *this;
    }
    u64 nw = wordCount();
    u64 ws = n >> 6, bs = n & 63;
    for (u64 k = nw; k-- > 0;) {
        u64 lo = k >= ws ? m_pWords[k - ws] : 0;
        u64 lo2 = k >= ws + 1 ? m_pWords[k - ws - 1] : 0;
        m_pWords[k] = bs ? (lo << bs) | (lo2 >> (64 - bs)) : lo;
    }
    clearTail();
    recomputeBounds();
    return *this;
}

bool CKzRangeMask::operator==(const CKzRangeMask& o) const
{
    if (m_uiSize != o.m_uiSize || m_uiFirst != o.m_uiFirst || m_uiSpan != o.m_uiSpan) return false;
    if (!m_pWords && !o.m_pWords && step() == o.step()) return true;
    u64 end = (u64)m_uiFirst + m_uiSpan;
    if (end > m_uiSize) end = m_uiSize;
    for (u64 i = m_uiFirst; i < end; ++i)
        if (Get((u32)i) != o.Get((u32)i)) return false;
    return true;
}

int CKzRangeMask::SaveToLiteVariant(CKzLiteVariantW& w) const
{
    if (m_pWords) {
        CKzByteArray bytes(1024);
        int r = GetMask(bytes);
        if (r != KZ_OK) return r;
        return w.Set(bytes, L"Ma") == KZ_ERR_OUT_OF_MEMORY ? KZ_ERR_OUT_OF_MEMORY : KZ_OK;
    }
    int r = w.Set((unsigned int)m_uiSize, L"Si");
    if (r == KZ_OK) r = w.Set((unsigned int)m_uiFirst, L"St");
    if (r == KZ_OK) r = w.Set((unsigned int)m_uiSpan, L"Co");
    if (r == KZ_OK) r = w.Set((unsigned int)m_uiStep, L"Sp");
    return r == KZ_ERR_OUT_OF_MEMORY ? r : KZ_OK;
}

int CKzRangeMask::LoadFromLiteVariant(CKzLiteVariantR& r)
{
    CKzByteArray bytes(1024);
    if (r.Get(L"Ma", bytes) == KZ_OK) {
        if (bytes.GetSize() == 0) {
            Reset();
            m_uiSize = 0;
            return KZ_OK;
        }
        return SetMask(bytes);
    }
    unsigned int size = r.Get(L"Si", 0u);
    unsigned int st = r.Get(L"St", 0u);
    unsigned int co = r.Get(L"Co", 0u);
    unsigned int sp = r.Get(L"Sp", 1u);
    freeWords();
    m_uiSize = size;
    if (co == 0 || st >= size) {
        Reset();
        return KZ_OK;
    }
    // A stored range reaching beyond the size is clipped to it.
    u64 last = (u64)st + co - 1;
    if (last >= size) last = size - 1;
    SetRange(st, (u32)last, sp);
    return KZ_OK;
}
