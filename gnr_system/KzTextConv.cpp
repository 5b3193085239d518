// UTF-8 / UTF-16 conversions over the library's strings, the tokenizer and
// number parsing.
#include "gnr_system/KzTextConv.h"

#include "gnr_system/CKzAlloc.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <cwchar>

namespace {

// Appends n wide characters from a block to a string (one reservation).
void AppendBlock(CKzStringW& out, const wchar_t* block, size_t n)
{
    if (n > 0) out.AddChars(block, n > (size_t)INT_MAX ? INT_MAX : (int)n);
}

// Output buffer for decoders: characters collect in a stack block and go to
// the string in runs, so a long text is appended in few steps.
class WideSink {
public:
    explicit WideSink(CKzStringW& out) : m_out(out), m_n(0) {}
    ~WideSink() { Flush(); }
    // The character 0 (e.g. from an overlong form) cannot be part of a string's text: dropped.
    void Put(wchar_t c)
    {
        if (c == 0) return;
        if (m_n == kSize) Flush();
        m_buf[m_n++] = c;
    }
    void Flush()
    {
        AppendBlock(m_out, m_buf, m_n);
        m_n = 0;
    }

private:
    static constexpr size_t kSize = 256;
    CKzStringW& m_out;
    wchar_t m_buf[kSize];
    size_t m_n;
};

// Decodes at most `limit` bytes of UTF-8 (stopping at a 0 byte). A sequence
// that is broken off (by an ASCII byte, a new lead byte or the end of the
// input) is dropped and reported; its bits never reach the next character.
bool DecodeUtf8(const char* text, size_t limit, CKzStringW& out)
{
    out.Empty();
    if (!text) return true;
    bool ok = true;
    uint32_t acc = 0;
    int pending = 0;
    WideSink sink(out);
    for (size_t i = 0; i < limit; ++i) {
        const unsigned char b = static_cast<unsigned char>(text[i]);
        if (b == 0) break;
        if (b < 0x80) {
            if (pending > 0) ok = false;
            pending = 0;
            acc = 0;
            sink.Put(static_cast<wchar_t>(b));
        } else if (b < 0xC0) {
            if (pending == 0) {
                ok = false;  // continuation byte with no sequence open: dropped
                continue;
            }
            acc = (acc << 6) | (b & 0x3Fu);
            if (--pending == 0) {
                sink.Put(static_cast<wchar_t>(acc));
                acc = 0;
            }
        } else if (b < 0xF8) {
            if (pending > 0) ok = false;
            if (b < 0xE0) {
                acc = b & 0x1Fu;
                pending = 1;
            } else if (b < 0xF0) {
                acc = b & 0x0Fu;
                pending = 2;
            } else {
                acc = b & 0x07u;
                pending = 3;
            }
        }
        // 0xF8..0xFF start no sequence of this encoding and are skipped.
    }
    if (pending > 0) ok = false;  // the input ended inside a sequence
    return ok;
}

}  // namespace

// ---------------------------------------------------------------------------
// CKzStringUtils
// ---------------------------------------------------------------------------
bool CKzStringUtils::WtoUTF8(const wchar_t* text, CKzStringA& out)
{
    out.Empty();
    if (!text) return true;
    bool ok = true;
    char buf[512];
    size_t n = 0;
    for (const wchar_t* p = text; *p; ++p) {
        if (n + 4 > sizeof(buf)) {
            out.AddChars(buf, (int)n);
            n = 0;
        }
        const uint32_t c = static_cast<uint32_t>(*p);
        if (c < 0x80) {
            buf[n++] = static_cast<char>(c);
        } else if (c < 0x800) {
            buf[n++] = static_cast<char>(0xC0 | (c >> 6));
            buf[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            buf[n++] = static_cast<char>(0xE0 | (c >> 12));
            buf[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            buf[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c <= 0x10FFFF) {
            buf[n++] = static_cast<char>(0xF0 | (c >> 18));
            buf[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            buf[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            buf[n++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            buf[n++] = '!';
            ok = false;
        }
    }
    out.AddChars(buf, (int)n);
    return ok;
}

bool CKzStringUtils::UTF8toW(const char* text, CKzStringW& out)
{
    return DecodeUtf8(text, SIZE_MAX, out);
}

bool CKzStringUtils::UTF8toWn(const char* text, CKzStringW& out, unsigned n)
{
    return DecodeUtf8(text, n, out);
}

bool CKzStringUtils::WtoUTF16(const wchar_t* text, unsigned short* out, int& count)
{
    if (!text) text = L"";
    if (!out) {
        long long need = 0;
        for (const wchar_t* p = text; *p; ++p) {
            const uint32_t c = static_cast<uint32_t>(*p);
            if (c > 0x10FFFF) return false;
            need += c >= 0x10000 ? 2 : 1;
            if (need > INT_MAX) return false;
        }
        count = (int)need;
        return true;
    }
    const int room = count;
    if (room < 0) return false;
    int w = 0;
    for (const wchar_t* p = text; *p; ++p) {
        const uint32_t c = static_cast<uint32_t>(*p);
        if (c > 0x10FFFF) continue;
        if (c < 0x10000) {
            if (w + 1 > room) return false;
            out[w++] = static_cast<unsigned short>(c);
        } else {
            if (w + 2 > room) return false;
            out[w++] = static_cast<unsigned short>(0xD800 + ((c - 0x10000) >> 10));
            out[w++] = static_cast<unsigned short>(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    count = w;
    return true;
}

bool CKzStringUtils::UTF16toW(const unsigned short* text, int count, CKzStringW& out)
{
    out.Empty();
    if (count < -1) return false;
    if (!text) return count == 0;
    const size_t n = count == -1 ? base::c16len(text) : (size_t)count;
    WideSink sink(out);
    for (size_t i = 0; i < n; ++i) {
        const uint32_t u = text[i];
        if (u == 0) break;  // a string never holds the character 0
        if (u < 0xD800 || u > 0xDFFF) {
            sink.Put(static_cast<wchar_t>(u));
        } else if (u <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            sink.Put(static_cast<wchar_t>(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00u)));
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

bool CKzStringUtils::ToNumber(CKzStringW text, unsigned int& out)
{
    std::swscanf(text.GetString(), L"%ud", &out);
    return true;
}

bool CKzStringUtils::ToNumber(CKzStringW text, int& out)
{
    std::swscanf(text.GetString(), L"%d", &out);
    return true;
}

bool CKzStringUtils::ToNumber(CKzStringA text, unsigned int& out)
{
    out = static_cast<unsigned int>(std::strtol(text.GetString(), nullptr, 10));
    return true;
}

bool CKzStringUtils::ToNumber(CKzStringA text, int& out)
{
    out = static_cast<int>(std::strtol(text.GetString(), nullptr, 10));
    return true;
}

int CKzStringUtils::GetWStringLen(const wchar_t* text)
{
    return KZ_lstrlen(text);
}

int CKzStringUtils::GetWStringLen(const unsigned short* text)
{
    if (!text) return 0;
    const size_t n = base::c16len(text);
    return n > (size_t)INT_MAX ? INT_MAX : (int)n;
}

void CKzStringUtils::WStringCopy(wchar_t* dst, const wchar_t* src, int n)
{
    if (!dst) return;
    int i = 0;
    if (src)
        for (; i < n && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
}

void CKzStringUtils::Initialize() {}

void CKzStringUtils::Uninitialize() {}

CKzStringA CKzStringUtils::GuessEncoding(CKzStringW)
{
    return CKzStringA();
}

CKzStringA CKzStringUtils::GuessEncoding(const void*, unsigned)
{
    return CKzStringA();
}

bool CKzStringUtils::Wide2Binary(const wchar_t*, CKzStringA&, const char*)
{
    return false;
}

bool CKzStringUtils::Binary2Wide(const void*, unsigned, CKzStringW&, const char*)
{
    return false;
}

// ---------------------------------------------------------------------------
// CKzStringTokenizer
// ---------------------------------------------------------------------------
CKzStringTokenizer::CKzStringTokenizer(const wchar_t* text, const wchar_t* delimiters)
    : m_sText(text), m_sDelimiters(delimiters), m_iPosition(0)
{
}

bool CKzStringTokenizer::HasMoreTokens() const
{
    return m_iPosition < m_sText.GetLength();
}

CKzStringW CKzStringTokenizer::GetNextToken()
{
    const int len = m_sText.GetLength();
    if (m_iPosition >= len) {
        m_iPosition = len;
        return CKzStringW();
    }
    const int at = m_sText.FindOneOf(m_sDelimiters.GetString(), m_iPosition);
    CKzStringW token;
    if (at < 0) {
        token = m_sText.Mid(m_iPosition);
        m_iPosition = len;
    } else {
        token = m_sText.Mid(m_iPosition, at - m_iPosition);
        m_iPosition = at + 1;
    }
    return token;
}

int CKzStringTokenizer::GetPosition() const
{
    return m_iPosition;
}

int CKzStringTokenizer::Size() const
{
    const int len = m_sText.GetLength();
    if (len == 0) return 0;
    int n = 1;
    for (int i = 0; (i = m_sText.FindOneOf(m_sDelimiters.GetString(), i)) >= 0; ++i) ++n;
    return n;
}

CKzStringW CKzStringTokenizer::GetToken(int n) const
{
    if (n < 0) return CKzStringW();
    const int len = m_sText.GetLength();
    if (len == 0) return CKzStringW();
    int start = 0;
    for (int k = 0; k < n; ++k) {
        const int at = m_sText.FindOneOf(m_sDelimiters.GetString(), start);
        if (at < 0) return CKzStringW();
        start = at + 1;
    }
    const int at = m_sText.FindOneOf(m_sDelimiters.GetString(), start);
    if (start >= len) return CKzStringW();  // the empty token after a trailing delimiter
    return at < 0 ? m_sText.Mid(start) : m_sText.Mid(start, at - start);
}
