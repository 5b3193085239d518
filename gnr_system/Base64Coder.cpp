#include "gnr_system/Base64Coder.h"

#include "gnr_system/CKzString.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<unsigned char, 256> MakeDecodeTable()
{
    std::array<unsigned char, 256> t{};
    for (auto& v : t) v = 254;
    for (int i = 0; i < 64; ++i) {
        const unsigned char c = static_cast<unsigned char>(kAlphabet[i]);
        t[c] = static_cast<unsigned char>(i);
        t[c | 0x80] = static_cast<unsigned char>(i);
    }
    t['='] = 255;
    t['=' | 0x80] = 255;
    return t;
}

inline bool IsSkipped(unsigned char c)
{
    return (c >= 7 && c <= 13) || c == 32;
}

inline bool Inside(const void* p, const unsigned char* block, unsigned capacity)
{
    const uintptr_t a = reinterpret_cast<uintptr_t>(p);
    const uintptr_t b = reinterpret_cast<uintptr_t>(block);
    return block && a >= b && a - b < capacity;
}

// Three bytes from four 6-bit values, each cut to 8 bits.
inline void Join(unsigned v0, unsigned v1, unsigned v2, unsigned v3, unsigned char* out)
{
    out[0] = static_cast<unsigned char>((v0 << 2) | ((v1 >> 4) & 3));
    out[1] = static_cast<unsigned char>((v1 << 4) | ((v2 >> 2) & 15));
    out[2] = static_cast<unsigned char>((v2 << 6) | (v3 & 63));
}

// Replaces *buffer by a zeroed one of at least n bytes; false (buffer kept,
// emptied) when the size does not fit 32 bits or memory runs out.
bool Prepare(unsigned char*& buffer, unsigned& capacity, unsigned& length, unsigned n)
{
    length = 0;
    if (capacity < n) {
        const uint64_t size = (static_cast<uint64_t>(n) / 4096) * 4096 + 4096;
        if (size > UINT32_MAX) return false;
        unsigned char* p = new (std::nothrow) unsigned char[static_cast<size_t>(size)];
        if (!p) return false;
        delete[] buffer;
        buffer = p;
        capacity = static_cast<unsigned>(size);
    }
    if (buffer) std::memset(buffer, 0, capacity);
    return true;
}

}  // namespace

constinit const std::array<unsigned char, 256> Base64Coder::m_DecodeTable = MakeDecodeTable();

Base64Coder::Base64Coder()
    : m_pDBuffer(nullptr), m_pEBuffer(nullptr), m_nDBufLen(0), m_nEBufLen(0), m_nDDataLen(0), m_nEDataLen(0)
{
}

Base64Coder::~Base64Coder()
{
    delete[] m_pDBuffer;
    delete[] m_pEBuffer;
}

bool Base64Coder::AllocEncode(unsigned n)
{
    return Prepare(m_pEBuffer, m_nEBufLen, m_nEDataLen, n);
}

bool Base64Coder::AllocDecode(unsigned n)
{
    return Prepare(m_pDBuffer, m_nDBufLen, m_nDDataLen, n);
}

bool Base64Coder::SetDecodeBuffer(const unsigned char* data, unsigned n)
{
    if (!data && n) {
        m_nDDataLen = 0;
        return false;
    }
    if (n && Inside(data, m_pDBuffer, m_nDBufLen)) {
        // Preparing the buffer would clear (or free) the bytes to be copied.
        unsigned char* copy = new (std::nothrow) unsigned char[n];
        if (!copy) return false;
        std::memcpy(copy, data, n);
        const bool ok = SetDecodeBuffer(copy, n);
        delete[] copy;
        return ok;
    }
    if (!AllocDecode(n)) return false;
    if (n) std::memcpy(m_pDBuffer, data, n);
    m_nDDataLen = n;
    return true;
}

bool Base64Coder::SetEncodeBufferA(const unsigned char* text, unsigned n)
{
    if (!text && n) {
        m_nEDataLen = 0;
        return false;
    }
    if (n && Inside(text, m_pEBuffer, m_nEBufLen)) {
        unsigned char* copy = new (std::nothrow) unsigned char[n];
        if (!copy) return false;
        std::memcpy(copy, text, n);
        const bool ok = SetEncodeBufferA(copy, n);
        delete[] copy;
        return ok;
    }
    if (!AllocEncode(n)) return false;
    unsigned kept = 0;
    for (unsigned i = 0; i < n; ++i)
        if (!IsSkipped(text[i])) m_pEBuffer[kept++] = text[i];
    m_nEDataLen = kept;
    return true;
}

bool Base64Coder::SetEncodeBufferW(const wchar_t* text, unsigned n)
{
    if (!text && n) {
        m_nEDataLen = 0;
        return false;
    }
    if (!AllocEncode(n)) return false;
    unsigned kept = 0;
    for (unsigned i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!IsSkipped(c)) m_pEBuffer[kept++] = c;
    }
    m_nEDataLen = kept;
    return true;
}

bool Base64Coder::Encode(const unsigned char* data, unsigned n)
{
    // 64-bit arithmetic: the text of n bytes (4 * ceil(n / 3)) and its
    // terminator exceed 32 bits long before n does.
    const uint64_t text = 4 * ((static_cast<uint64_t>(n) + 2) / 3);
    const uint64_t need = n ? text + 1 : 0;
    if (need > UINT32_MAX || !SetDecodeBuffer(data, n) || !AllocEncode(static_cast<unsigned>(need))) {
        m_nDDataLen = 0;
        m_nEDataLen = 0;
        return false;
    }

    const unsigned char* in = m_pDBuffer;
    unsigned char* out = m_pEBuffer;
    const unsigned whole = n / 3;
    for (unsigned g = 0; g < whole; ++g, in += 3, out += 4) {
        const unsigned b0 = in[0], b1 = in[1], b2 = in[2];
        out[0] = static_cast<unsigned char>(kAlphabet[b0 >> 2]);
        out[1] = static_cast<unsigned char>(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        out[2] = static_cast<unsigned char>(kAlphabet[((b1 & 15) << 2) | (b2 >> 6)]);
        out[3] = static_cast<unsigned char>(kAlphabet[b2 & 63]);
    }
    const unsigned rest = n - whole * 3;
    if (rest) {
        const unsigned b0 = in[0], b1 = rest > 1 ? in[1] : 0;
        out[0] = static_cast<unsigned char>(kAlphabet[b0 >> 2]);
        out[1] = static_cast<unsigned char>(kAlphabet[((b0 & 3) << 4) | (b1 >> 4)]);
        out[2] = rest > 1 ? static_cast<unsigned char>(kAlphabet[(b1 & 15) << 2]) : '=';
        out[3] = '=';
    }
    m_nEDataLen = static_cast<unsigned>(text);
    return true;
}

bool Base64Coder::DecodeA(const CKzStringA& text)
{
    const int n = text.GetLength();
    return _DecodeA(reinterpret_cast<const unsigned char*>(text.GetString()), n > 0 ? static_cast<unsigned>(n) : 0);
}

bool Base64Coder::DecodeA(const unsigned char* text, unsigned n)
{
    return _DecodeA(text, n);
}

bool Base64Coder::DecodeW(const wchar_t* text)
{
    const size_t n = text ? std::wcslen(text) : 0;
    if (n > UINT32_MAX) {
        m_nDDataLen = 0;
        return false;
    }
    return _DecodeW(text, static_cast<unsigned>(n));
}

bool Base64Coder::_DecodeA(const unsigned char* text, unsigned n)
{
    if (!SetEncodeBufferA(text, n)) {
        m_nDDataLen = 0;
        return false;
    }
    return DecodeKept();
}

bool Base64Coder::_DecodeW(const wchar_t* text, unsigned n)
{
    if (!SetEncodeBufferW(text, n)) {
        m_nDDataLen = 0;
        return false;
    }
    return DecodeKept();
}

bool Base64Coder::DecodeKept()
{
    const unsigned kept = m_nEDataLen;
    // Room for kept + 1 bytes, at least 4096: enough for the three bytes a
    // group (or a final partial group) writes.
    if (!AllocDecode(kept)) return false;
    if (kept == 0) return true;

    const unsigned char* in = m_pEBuffer;
    unsigned char* out = m_pDBuffer;
    const unsigned groups = kept / 4;
    unsigned len = 0;
    unsigned pad = 0;
    for (unsigned g = 0; g < groups; ++g, in += 4) {
        const auto& table = m_DecodeTable;
        unsigned v0 = table[in[0]], v1 = table[in[1]], v2 = table[in[2]], v3 = table[in[3]];
        if (v2 == 255) {
            v2 = v3 = 0;
            pad = 2;
        } else if (v3 == 255) {
            v3 = 0;
            pad = 1;
        }
        Join(v0, v1, v2, v3, out + len);
        len += 3;
    }
    len -= pad;  // only the last group that had padding counts

    const unsigned rest = kept - groups * 4;
    if (rest) {
        unsigned v[4] = {0, 0, 0, 0};
        for (unsigned i = 0; i < rest; ++i) {
            v[i] = m_DecodeTable[in[i]];
            if (v[i] == 255) v[i] = 0;
        }
        Join(v[0], v[1], v[2], v[3], out + len);
        len += rest - 1;
    }
    m_nDDataLen = len;
    return true;
}

unsigned char* Base64Coder::DecodedBuffer(unsigned* length)
{
    if (length) *length = m_nDDataLen;
    return m_pDBuffer;
}

char* Base64Coder::EncodedBuffer(unsigned* length)
{
    if (length) *length = m_nEDataLen;
    return reinterpret_cast<char*>(m_pEBuffer);
}

unsigned Base64Coder::_EncodeToBuffer(const TempBucket& bucket, unsigned char* out)
{
    TempBucket raw;
    _EncodeRaw(raw, bucket);
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(kAlphabet[raw.nData[i] & 63]);
    if (bucket.nSize == 1) out[2] = '=';
    if (bucket.nSize == 1 || bucket.nSize == 2) out[3] = '=';
    return bucket.nSize;
}

unsigned Base64Coder::_DecodeToBuffer(const TempBucket& bucket, unsigned char* out)
{
    TempBucket raw;
    _DecodeRaw(raw, bucket);
    unsigned count = 0;
    for (int i = 0; i < 3; ++i) {
        out[i] = raw.nData[i];
        if (out[i] != 255) ++count;
    }
    return count;
}

void Base64Coder::_EncodeRaw(TempBucket& out, const TempBucket& in)
{
    out.nData[0] = static_cast<unsigned char>(in.nData[0] >> 2);
    out.nData[1] = static_cast<unsigned char>(((in.nData[0] & 3) << 4) | (in.nData[1] >> 4));
    out.nData[2] = static_cast<unsigned char>(((in.nData[1] & 15) << 2) | (in.nData[2] >> 6));
    out.nData[3] = static_cast<unsigned char>(in.nData[2] & 63);
    out.nSize = in.nSize;
}

void Base64Coder::_DecodeRaw(TempBucket& out, const TempBucket& in)
{
    Join(in.nData[0], in.nData[1], in.nData[2], in.nData[3], out.nData);
    out.nData[3] = 0;
    out.nSize = in.nSize;
}

bool Base64Coder::_IsBadMimeChar(unsigned char c)
{
    return IsSkipped(c);
}
