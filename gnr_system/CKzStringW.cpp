// Wide copy-on-write string.
#include "gnr_system/CKzStringImpl.inl"

typedef KzStringImpl<CKzStringW> ImplW;

namespace {
// The process-wide empty wide text: constant-initialised, so it exists before
// any static constructor of the library or of a host runs, and never freed.
wchar_t g_EmptyCharsW[16] = {};
constinit SKzStrBuffW g_SharedEmptyBuffW(g_EmptyCharsW, 15);
}  // namespace

SKzStrBuffW* CKzStringW::init_empty()
{
    return &g_SharedEmptyBuffW;
}

template <>
SKzStrBuffW* KzStringImpl<CKzStringW>::SharedEmpty()
{
    return &g_SharedEmptyBuffW;
}

namespace {
// Appends narrow text converted by the current locale.
bool AppendMb(CKzStringW& s, const char* text)
{
    if (!text || !*text) return true;
    size_t n = 0;
    wchar_t* w = kzstr::MbToWide(text, &n);
    if (!w) return false;
    const bool ok = ImplW::Append(s, w, (long long)n);
    CKzAlloc::Free(w);
    return ok;
}

bool Append16(CKzStringW& s, const unsigned short* text)
{
    if (!text) return true;
    size_t n = 0;
    while (text[n]) ++n;
    if (n == 0) return true;
    const int len = s.GetLength();
    if (!ImplW::Writable(s, (long long)len + (long long)n)) return false;
    wchar_t* p = const_cast<wchar_t*>(s.GetString()) + len;
    for (size_t i = 0; i < n; ++i) p[i] = static_cast<wchar_t>(text[i]);
    ImplW::SetLength(s, (int)(len + n));
    return true;
}

int FormatWide(CKzStringW& s, const wchar_t* fmt, va_list args, bool append)
{
    if (!fmt) return KZ_FAIL;
    size_t flen = 0;
    wchar_t* rfmt = kzstr::RewriteWideFormat(fmt, &flen);
    if (!rfmt) return KZ_ERR_OUT_OF_MEMORY;
    // The room formatting needs does not depend on the string's own length:
    // sizing it by that made every append to a long string allocate and
    // clear a block as long as the whole string.
    size_t work = 0;
    if (work < flen) work = flen;
    if (work < 255) work = 255;
    wchar_t stackBlock[256];
    wchar_t* block = nullptr;
    int result = KZ_FAIL;
    for (;;) {
        wchar_t* out = stackBlock;
        if (work + 1 > sizeof(stackBlock) / sizeof(stackBlock[0])) {
            CKzAlloc::Free(block);
            block = static_cast<wchar_t*>(CKzAlloc::Alloc(0, (work + 1) * sizeof(wchar_t)));
            if (!block) {
                result = KZ_ERR_OUT_OF_MEMORY;
                break;
            }
            out = block;
        }
        va_list ap;
        va_copy(ap, args);
        errno = 0;
        const int r = std::vswprintf(out, work + 1, rfmt, ap);
        va_end(ap);
        if (r >= 0) {
            result = ImplW::TakeFormatted(s, out, r, append);
            break;
        }
        // -1 with errno set is a conversion the system library cannot do (an
        // argument the locale cannot convert): more room would not help.
        if (errno != 0 || work >= (size_t)INT_MAX / 2) break;
        work *= 2;
    }
    CKzAlloc::Free(block);
    CKzAlloc::Free(rfmt);
    return result;
}
}  // namespace

// ---- construction, assignment, storage --------------------------------------
CKzStringW::CKzStringW() : m_pBuff(&g_SharedEmptyBuffW), m_pStr(g_EmptyCharsW) {}

CKzStringW::CKzStringW(int n)
{
    ImplW::Construct(*this, n);
}

CKzStringW::CKzStringW(const CKzStringW& other) : m_pBuff(other.m_pBuff), m_pStr(other.m_pStr)
{
    ImplW::AddRef(m_pBuff);
}

CKzStringW::CKzStringW(CKzStringW&& other) noexcept : m_pBuff(other.m_pBuff), m_pStr(other.m_pStr)
{
    ImplW::InitEmpty(other);
}

CKzStringW::CKzStringW(const wchar_t* text, int n)
{
    ImplW::Construct(*this, n);
    ImplW::AppendText(*this, text);
}

CKzStringW::CKzStringW(const unsigned short* text, int n)
{
    ImplW::Construct(*this, n);
    Append16(*this, text);
}

CKzStringW::CKzStringW(const char* text, int n)
{
    ImplW::Construct(*this, n);
    AppendMb(*this, text);
}

CKzStringW::~CKzStringW()
{
    ImplW::Release(m_pBuff);
}

CKzStringW& CKzStringW::operator=(const CKzStringW& other)
{
    ImplW::Copy(*this, other);
    return *this;
}

CKzStringW& CKzStringW::operator=(CKzStringW&& other) noexcept
{
    ImplW::Move(*this, other);
    return *this;
}

CKzStringW& CKzStringW::operator=(const wchar_t* text)
{
    ImplW::AssignText(*this, text);
    return *this;
}

CKzStringW& CKzStringW::operator=(const char* text)
{
    CKzStringW tmp(text);
    ImplW::Copy(*this, tmp);
    return *this;
}

CKzStringW& CKzStringW::operator=(const unsigned short* text)
{
    CKzStringW tmp(text);
    ImplW::Copy(*this, tmp);
    return *this;
}

CKzStringW& CKzStringW::operator=(wchar_t c)
{
    Empty();
    return AddChar(c);
}

CKzStringW& CKzStringW::operator=(char c)
{
    Empty();
    return AddChar(c);
}

void CKzStringW::Empty()
{
    ImplW::Empty(*this);
}

void CKzStringW::Reset()
{
    ImplW::Reset(*this);
}

wchar_t* CKzStringW::Preallocate(int n)
{
    return ImplW::Preallocate(*this, n);
}

// ---- reading -----------------------------------------------------------------
CKzStringW CKzStringW::Mid(int start, int count) const
{
    return ImplW::Mid(*this, start, count);
}

CKzStringW CKzStringW::Left(int n) const
{
    return ImplW::Left(*this, n);
}

CKzStringW CKzStringW::Right(int n) const
{
    return ImplW::Right(*this, n);
}

int CKzStringW::CopyToBufferW(wchar_t* dst, int size) const
{
    return ImplW::CopyOut(m_pStr, (size_t)m_pBuff->m_iLength, dst, size);
}

int CKzStringW::CopyToBufferA(char* dst, int size) const
{
    if (!dst || size < 1) return KZ_FAIL;
    size_t n = 0;
    char* mb = kzstr::WideToMb(m_pStr, &n);
    if (!mb) {
        dst[0] = 0;
        return 0;
    }
    const int r = KzStringImpl<CKzStringA>::CopyOut(mb, n, dst, size);
    CKzAlloc::Free(mb);
    return r;
}

// ---- changing ----------------------------------------------------------------
int CKzStringW::SetAt(int i, wchar_t c)
{
    return ImplW::SetAt(*this, i, c);
}

int CKzStringW::TruncateAt(int i)
{
    return ImplW::TruncateAt(*this, i);
}

int CKzStringW::Delete(int start, int count)
{
    return ImplW::Delete(*this, start, count);
}

int CKzStringW::DeleteLeft(int n)
{
    if (n < 0) return KZ_ERR_INDEX;
    return ImplW::Delete(*this, 0, n);
}

int CKzStringW::DeleteRight(int n)
{
    return ImplW::DeleteRight(*this, n);
}

CKzStringW& CKzStringW::TrimLeft(const wchar_t* set)
{
    ImplW::TrimLeft(*this, set);
    return *this;
}

CKzStringW& CKzStringW::TrimRight(const wchar_t* set)
{
    ImplW::TrimRight(*this, set);
    return *this;
}

CKzStringW& CKzStringW::Trim(const wchar_t* set)
{
    ImplW::Trim(*this, set);
    return *this;
}

int CKzStringW::Remove(wchar_t c)
{
    return ImplW::Remove(*this, c);
}

CKzStringW& CKzStringW::MakeLower()
{
    ImplW::Map(*this, KZ_ToLower);
    return *this;
}

CKzStringW& CKzStringW::MakeUpper()
{
    ImplW::Map(*this, KZ_ToUpper);
    return *this;
}

CKzStringW& CKzStringW::Insert(const wchar_t* text, int pos, int count)
{
    ImplW::Insert(*this, text, pos, count);
    return *this;
}

int CKzStringW::ReplaceAt(int pos, int count, const wchar_t* text)
{
    return ImplW::ReplaceAt(*this, pos, count, text);
}

int CKzStringW::Replace(const wchar_t* oldText, const wchar_t* newText)
{
    return ImplW::Replace(*this, oldText, newText, false);
}

int CKzStringW::ReplaceNoCase(const wchar_t* oldText, const wchar_t* newText)
{
    return ImplW::Replace(*this, oldText, newText, true);
}

CKzStringW& CKzStringW::EndInSlash()
{
    if (GetLastChar() != L'\\') AddChar(L'\\');
    return *this;
}

// ---- appending ---------------------------------------------------------------
CKzStringW& CKzStringW::operator+=(const CKzStringW& s)
{
    return AddString(s);
}

CKzStringW& CKzStringW::operator+=(const wchar_t* text)
{
    ImplW::AppendText(*this, text);
    return *this;
}

CKzStringW& CKzStringW::operator+=(const char* text)
{
    AppendMb(*this, text);
    return *this;
}

CKzStringW& CKzStringW::operator+=(const unsigned short* text)
{
    Append16(*this, text);
    return *this;
}

CKzStringW& CKzStringW::operator+=(wchar_t c)
{
    return AddChar(c);
}

CKzStringW& CKzStringW::AddString(const CKzStringW& s)
{
    // A copy of the argument keeps its characters alive and, for s += s,
    // makes the change happen in a fresh buffer.
    CKzStringW hold(s);
    ImplW::Append(*this, hold.m_pStr, hold.m_pBuff->m_iLength);
    return *this;
}

CKzStringW& CKzStringW::AddString(const wchar_t* text)
{
    ImplW::AppendText(*this, text);
    return *this;
}

CKzStringW& CKzStringW::AddString(const char* text)
{
    AppendMb(*this, text);
    return *this;
}

CKzStringW& CKzStringW::AddString(const unsigned short* text)
{
    Append16(*this, text);
    return *this;
}

CKzStringW& CKzStringW::AddChar(wchar_t c)
{
    if (c != 0) ImplW::AppendOne(*this, c);
    return *this;
}

CKzStringW& CKzStringW::AddChar(char c)
{
    const char text[2] = {c, 0};
    AppendMb(*this, text);
    return *this;
}

CKzStringW& CKzStringW::AddChars(const wchar_t* text, int count)
{
    if (!text || count == 0) return *this;
    if (count < 0) return AddString(text);
    // The text may end before count: read no further than its terminator.
    int n = 0;
    while (n < count && text[n]) ++n;
    ImplW::Append(*this, text, n);
    return *this;
}

// ---- searching ---------------------------------------------------------------
int CKzStringW::Find(wchar_t c, int start) const
{
    return ImplW::Find(*this, c, start);
}

int CKzStringW::Find(const wchar_t* text, int start) const
{
    return ImplW::Find(*this, text, start);
}

int CKzStringW::FindNoCase(wchar_t c, int start) const
{
    return ImplW::FindNoCase(*this, c, start);
}

int CKzStringW::FindNoCase(const wchar_t* text, int start) const
{
    return ImplW::FindNoCase(*this, text, start);
}

int CKzStringW::ReverseFind(wchar_t c, int start) const
{
    return ImplW::ReverseFind(*this, c, start, false);
}

int CKzStringW::ReverseFindNoCase(wchar_t c, int start) const
{
    return ImplW::ReverseFind(*this, c, start, true);
}

int CKzStringW::FindOneOf(const wchar_t* set, int start) const
{
    return ImplW::FindOneOf(*this, set, start);
}

// ---- comparing ---------------------------------------------------------------
int CKzStringW::Compare(const wchar_t* text) const
{
    return ImplW::Compare(*this, text);
}

int CKzStringW::CompareNoCase(const wchar_t* text) const
{
    return ImplW::CompareNoCase(*this, text);
}

bool CKzStringW::Equals(const CKzStringW& s) const
{
    return ImplW::Equals(*this, s);
}

bool CKzStringW::Equals(const wchar_t* text) const
{
    return Compare(text) == 0;
}

bool CKzStringW::Equals(const char* text) const
{
    return Compare(CKzStringW(text)) == 0;
}

bool CKzStringW::Less(const CKzStringW& s) const
{
    return Compare(s.m_pStr) < 0;
}

bool CKzStringW::Less(const wchar_t* text) const
{
    return Compare(text) < 0;
}

bool CKzStringW::Less(const char* text) const
{
    return Compare(CKzStringW(text)) < 0;
}

bool CKzStringW::LessEqual(const CKzStringW& s) const
{
    return Compare(s.m_pStr) <= 0;
}

bool CKzStringW::LessEqual(const wchar_t* text) const
{
    return Compare(text) <= 0;
}

bool CKzStringW::LessEqual(const char* text) const
{
    return Compare(CKzStringW(text)) <= 0;
}

// ---- formatting --------------------------------------------------------------
int CKzStringW::Format(const wchar_t* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const int r = FormatWide(*this, fmt, args, false);
    va_end(args);
    return r;
}

int CKzStringW::FormatV(const wchar_t* fmt, va_list args)
{
    return FormatWide(*this, fmt, args, false);
}

int CKzStringW::AppendFormat(const wchar_t* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const int r = FormatWide(*this, fmt, args, true);
    va_end(args);
    return r;
}

CKzStringW& CKzStringW::AddInt(int n)
{
    AppendFormat(L"%d", n);
    return *this;
}

CKzStringW& CKzStringW::AddDouble(double x, int digits)
{
    // Beyond this no double has further significant decimals.
    if (digits > 1100) digits = 1100;
    AppendFormat(L"%.*f", digits, x);
    return *this;
}

// ---- building operators ------------------------------------------------------
CKzStringW operator+(const CKzStringW& a, const CKzStringW& b)
{
    CKzStringW r(kzstr::SumHint(a.GetLength(), b.GetLength()));
    r += a;
    r += b;
    return r;
}

CKzStringW operator+(const wchar_t* a, const CKzStringW& b)
{
    CKzStringW r(kzstr::SumHint(KZ_lstrlen(a), b.GetLength()));
    r += a;
    r += b;
    return r;
}

CKzStringW operator+(const CKzStringW& a, const wchar_t* b)
{
    CKzStringW r(kzstr::SumHint(a.GetLength(), KZ_lstrlen(b)));
    r += a;
    r += b;
    return r;
}

CKzStringW operator+(wchar_t a, const CKzStringW& b)
{
    CKzStringW r(kzstr::SumHint(1, b.GetLength()));
    r.AddChar(a);
    r += b;
    return r;
}

CKzStringW operator+(const CKzStringW& a, wchar_t b)
{
    CKzStringW r(kzstr::SumHint(a.GetLength(), 1));
    r += a;
    r.AddChar(b);
    return r;
}
