// Narrow copy-on-write string.
#include "gnr_system/CKzStringImpl.inl"

typedef KzStringImpl<CKzStringA> ImplA;

namespace {
char g_EmptyCharsA[16] = {};
}  // namespace

// The process-wide empty narrow text: constant-initialised, so it exists
// before any static constructor of the library or of a host runs; never freed.
constinit SKzStrBuffA CKzStringA::ms_SharedEmptyBuffA_(g_EmptyCharsA, 15);

template <>
SKzStrBuffA* KzStringImpl<CKzStringA>::SharedEmpty()
{
    return &CKzStringA::ms_SharedEmptyBuffA_;
}

namespace {
int NarrowLen(const char* text)
{
    if (!text) return 0;
    const size_t n = std::strlen(text);
    return n > (size_t)INT_MAX ? INT_MAX : (int)n;
}

// Appends wide text converted by the current locale.
bool AppendWide(CKzStringA& s, const wchar_t* text)
{
    if (!text || !*text) return true;
    size_t n = 0;
    char* mb = kzstr::WideToMb(text, &n);
    if (!mb) return false;
    const bool ok = ImplA::Append(s, mb, (long long)n);
    CKzAlloc::Free(mb);
    return ok;
}

int FormatNarrow(CKzStringA& s, const char* fmt, va_list args, bool append)
{
    if (!fmt) return KZ_FAIL;
    char stackBlock[512];
    // A first attempt on the stack; its result gives the exact room for a
    // second. (The room does not depend on the string's own length: sizing
    // it by that made every append to a long string allocate and clear a
    // block as long as the whole string.)
    size_t work = sizeof(stackBlock) - 1;
    char* out = stackBlock;
    char* block = nullptr;
    va_list ap;
    va_copy(ap, args);
    int r = std::vsnprintf(out, work + 1, fmt, ap);
    va_end(ap);
    if (r >= 0 && (size_t)r > work) {
        // The first attempt told the exact size: one more pass fits it.
        CKzAlloc::Free(block);
        block = static_cast<char*>(CKzAlloc::Alloc(0, (size_t)r + 1));
        if (!block) return KZ_ERR_OUT_OF_MEMORY;
        out = block;
        va_copy(ap, args);
        const int r2 = std::vsnprintf(out, (size_t)r + 1, fmt, ap);
        va_end(ap);
        r = r2 == r ? r2 : -1;
    }
    int result = KZ_FAIL;
    if (r >= 0) result = ImplA::TakeFormatted(s, out, r, append);
    CKzAlloc::Free(block);
    return result;
}
}  // namespace

// ---- construction, assignment, storage --------------------------------------
CKzStringA::CKzStringA() : m_pBuff(&ms_SharedEmptyBuffA_), m_pStr(g_EmptyCharsA) {}

CKzStringA::CKzStringA(int n)
{
    ImplA::Construct(*this, n);
}

CKzStringA::CKzStringA(const CKzStringA& other) : m_pBuff(other.m_pBuff), m_pStr(other.m_pStr)
{
    ImplA::AddRef(m_pBuff);
}

CKzStringA::CKzStringA(CKzStringA&& other) noexcept : m_pBuff(other.m_pBuff), m_pStr(other.m_pStr)
{
    ImplA::InitEmpty(other);
}

CKzStringA::CKzStringA(const char* text, int n)
{
    ImplA::Construct(*this, n);
    ImplA::AppendText(*this, text);
}

CKzStringA::CKzStringA(const wchar_t* text, int n)
{
    ImplA::Construct(*this, n);
    AppendWide(*this, text);
}

CKzStringA::~CKzStringA()
{
    ImplA::Release(m_pBuff);
}

CKzStringA& CKzStringA::operator=(const CKzStringA& other)
{
    ImplA::Copy(*this, other);
    return *this;
}

CKzStringA& CKzStringA::operator=(CKzStringA&& other) noexcept
{
    ImplA::Move(*this, other);
    return *this;
}

CKzStringA& CKzStringA::operator=(const char* text)
{
    ImplA::AssignText(*this, text);
    return *this;
}

CKzStringA& CKzStringA::operator=(const wchar_t* text)
{
    CKzStringA tmp(text);
    ImplA::Copy(*this, tmp);
    return *this;
}

CKzStringA& CKzStringA::operator=(char c)
{
    Empty();
    return AddChar(c);
}

CKzStringA& CKzStringA::operator=(wchar_t c)
{
    Empty();
    return AddChar(c);
}

void CKzStringA::Empty()
{
    ImplA::Empty(*this);
}

void CKzStringA::Reset()
{
    ImplA::Reset(*this);
}

char* CKzStringA::Preallocate(int n)
{
    return ImplA::Preallocate(*this, n);
}

// ---- reading -----------------------------------------------------------------
CKzStringA CKzStringA::Mid(int start, int count) const
{
    return ImplA::Mid(*this, start, count);
}

CKzStringA CKzStringA::Left(int n) const
{
    return ImplA::Left(*this, n);
}

CKzStringA CKzStringA::Right(int n) const
{
    return ImplA::Right(*this, n);
}

int CKzStringA::CopyToBufferW(wchar_t* dst, int size) const
{
    if (!dst || size < 1) return KZ_FAIL;
    size_t n = 0;
    wchar_t* w = kzstr::MbToWide(m_pStr, &n);
    if (!w) {
        dst[0] = 0;
        return 0;
    }
    const int r = KzStringImpl<CKzStringW>::CopyOut(w, n, dst, size);
    CKzAlloc::Free(w);
    return r;
}

int CKzStringA::CopyToBufferA(char* dst, int size) const
{
    return ImplA::CopyOut(m_pStr, (size_t)m_pBuff->m_iLength, dst, size);
}

// ---- changing ----------------------------------------------------------------
int CKzStringA::SetAt(int i, char c)
{
    return ImplA::SetAt(*this, i, c);
}

int CKzStringA::TruncateAt(int i)
{
    return ImplA::TruncateAt(*this, i);
}

int CKzStringA::Delete(int start, int count)
{
    return ImplA::Delete(*this, start, count);
}

int CKzStringA::DeleteLeft(int n)
{
    if (n < 0) return KZ_ERR_INDEX;
    return ImplA::Delete(*this, 0, n);
}

int CKzStringA::DeleteRight(int n)
{
    return ImplA::DeleteRight(*this, n);
}

CKzStringA& CKzStringA::TrimLeft(const char* set)
{
    ImplA::TrimLeft(*this, set);
    return *this;
}

CKzStringA& CKzStringA::TrimRight(const char* set)
{
    ImplA::TrimRight(*this, set);
    return *this;
}

CKzStringA& CKzStringA::Trim(const char* set)
{
    ImplA::Trim(*this, set);
    return *this;
}

int CKzStringA::Remove(char c)
{
    return ImplA::Remove(*this, c);
}

CKzStringA& CKzStringA::MakeLower()
{
    ImplA::Map(*this, kzstr::CharOps<char>::Lower);
    return *this;
}

CKzStringA& CKzStringA::MakeUpper()
{
    ImplA::Map(*this, kzstr::CharOps<char>::Upper);
    return *this;
}

CKzStringA& CKzStringA::Insert(const char* text, int pos, int count)
{
    ImplA::Insert(*this, text, pos, count);
    return *this;
}

int CKzStringA::ReplaceAt(int pos, int count, const char* text)
{
    return ImplA::ReplaceAt(*this, pos, count, text);
}

int CKzStringA::Replace(const char* oldText, const char* newText)
{
    return ImplA::Replace(*this, oldText, newText, false);
}

int CKzStringA::ReplaceNoCase(const char* oldText, const char* newText)
{
    return ImplA::Replace(*this, oldText, newText, true);
}

CKzStringA& CKzStringA::EndInSlash()
{
    if (GetLastChar() != '\\') AddChar('\\');
    return *this;
}

// ---- appending ---------------------------------------------------------------
CKzStringA& CKzStringA::operator+=(const CKzStringA& s)
{
    return AddString(s);
}

CKzStringA& CKzStringA::operator+=(const char* text)
{
    ImplA::AppendText(*this, text);
    return *this;
}

CKzStringA& CKzStringA::operator+=(const wchar_t* text)
{
    AppendWide(*this, text);
    return *this;
}

CKzStringA& CKzStringA::operator+=(char c)
{
    return AddChar(c);
}

CKzStringA& CKzStringA::AddString(const CKzStringA& s)
{
    // A copy of the argument keeps its characters alive and, for s += s,
    // makes the change happen in a fresh buffer.
    CKzStringA hold(s);
    ImplA::Append(*this, hold.m_pStr, hold.m_pBuff->m_iLength);
    return *this;
}

CKzStringA& CKzStringA::AddString(const char* text)
{
    ImplA::AppendText(*this, text);
    return *this;
}

CKzStringA& CKzStringA::AddString(const wchar_t* text)
{
    AppendWide(*this, text);
    return *this;
}

CKzStringA& CKzStringA::AddChar(char c)
{
    if (c != 0) ImplA::AppendOne(*this, c);
    return *this;
}

CKzStringA& CKzStringA::AddChar(wchar_t c)
{
    if (c == 0) return *this;
    const wchar_t text[2] = {c, 0};
    AppendWide(*this, text);
    return *this;
}

CKzStringA& CKzStringA::AddChars(const char* text, int count)
{
    if (!text || count == 0) return *this;
    if (count < 0) return AddString(text);
    // The text may end before count: read no further than its terminator.
    int n = 0;
    while (n < count && text[n]) ++n;
    ImplA::Append(*this, text, n);
    return *this;
}

// ---- searching ---------------------------------------------------------------
int CKzStringA::Find(char c, int start) const
{
    return ImplA::Find(*this, c, start);
}

int CKzStringA::Find(const char* text, int start) const
{
    return ImplA::Find(*this, text, start);
}

int CKzStringA::FindNoCase(char c, int start) const
{
    return ImplA::FindNoCase(*this, c, start);
}

int CKzStringA::FindNoCase(const char* text, int start) const
{
    return ImplA::FindNoCase(*this, text, start);
}

int CKzStringA::ReverseFind(char c, int start) const
{
    return ImplA::ReverseFind(*this, c, start, false);
}

int CKzStringA::ReverseFindNoCase(char c, int start) const
{
    return ImplA::ReverseFind(*this, c, start, true);
}

int CKzStringA::FindOneOf(const char* set, int start) const
{
    return ImplA::FindOneOf(*this, set, start);
}

// ---- comparing ---------------------------------------------------------------
int CKzStringA::Compare(const char* text) const
{
    return ImplA::Compare(*this, text);
}

int CKzStringA::CompareNoCase(const char* text) const
{
    return ImplA::CompareNoCase(*this, text);
}

bool CKzStringA::Equals(const CKzStringA& s) const
{
    return ImplA::Equals(*this, s);
}

bool CKzStringA::Equals(const char* text) const
{
    return Compare(text) == 0;
}

bool CKzStringA::Equals(const wchar_t* text) const
{
    return Compare(CKzStringA(text)) == 0;
}

bool CKzStringA::Less(const CKzStringA& s) const
{
    return Compare(s.m_pStr) < 0;
}

bool CKzStringA::Less(const char* text) const
{
    return Compare(text) < 0;
}

bool CKzStringA::Less(const wchar_t* text) const
{
    return Compare(CKzStringA(text)) < 0;
}

bool CKzStringA::LessEqual(const CKzStringA& s) const
{
    return Compare(s.m_pStr) <= 0;
}

bool CKzStringA::LessEqual(const char* text) const
{
    return Compare(text) <= 0;
}

bool CKzStringA::LessEqual(const wchar_t* text) const
{
    return Compare(CKzStringA(text)) <= 0;
}

// ---- formatting --------------------------------------------------------------
int CKzStringA::Format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const int r = FormatNarrow(*this, fmt, args, false);
    va_end(args);
    return r;
}

int CKzStringA::FormatV(const char* fmt, va_list args)
{
    return FormatNarrow(*this, fmt, args, false);
}

int CKzStringA::AppendFormat(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    const int r = FormatNarrow(*this, fmt, args, true);
    va_end(args);
    return r;
}

CKzStringA& CKzStringA::AddInt(int n)
{
    AppendFormat("%d", n);
    return *this;
}

CKzStringA& CKzStringA::AddDouble(double x, int digits)
{
    // Beyond this no double has further significant decimals.
    if (digits > 1100) digits = 1100;
    AppendFormat("%.*f", digits, x);
    return *this;
}

// ---- building operators ------------------------------------------------------
CKzStringA operator+(const CKzStringA& a, const CKzStringA& b)
{
    CKzStringA r(kzstr::SumHint(a.GetLength(), b.GetLength()));
    r += a;
    r += b;
    return r;
}

CKzStringA operator+(const char* a, const CKzStringA& b)
{
    CKzStringA r(kzstr::SumHint(NarrowLen(a), b.GetLength()));
    r += a;
    r += b;
    return r;
}

CKzStringA operator+(const CKzStringA& a, const char* b)
{
    CKzStringA r(kzstr::SumHint(a.GetLength(), NarrowLen(b)));
    r += a;
    r += b;
    return r;
}

CKzStringA operator+(char a, const CKzStringA& b)
{
    CKzStringA r(kzstr::SumHint(1, b.GetLength()));
    r.AddChar(a);
    r += b;
    return r;
}

CKzStringA operator+(const CKzStringA& a, char b)
{
    CKzStringA r(kzstr::SumHint(a.GetLength(), 1));
    r += a;
    r.AddChar(b);
    return r;
}
