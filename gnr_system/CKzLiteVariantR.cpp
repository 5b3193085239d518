// Reader of the lite-variant binary form: navigation, lookup by name, typed
// values, inflation of compressed blobs and conversion of absolute-offset levels.
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzAlloc.h"
#include "gnr_system/CKzString.h"

#include <cstring>
#include <immintrin.h>
#include <new>
#include <vector>
#include <zlib.h>

using kzlv::ld16;
using kzlv::ld32;
using kzlv::ld64;

namespace {

// An inflated blob is refused beyond this size, or beyond what zlib could
// possibly produce from the stream's length (deflate expands at most ~1032:1).
const u64 kMaxInflated = u64(64) << 20;
const u64 kMaxRatio = 1032;

// Adler-32 of a buffer, as zlib computes it, 32 bytes a step with AVX2: per
// block the byte sum (for s1), the sum of the block sums before it (32 x that
// for s2) and the bytes weighted 32..1 (for s2); reduced modulo 65521 every
// 173 blocks, before any 32-bit lane can overflow.
__attribute__((target("avx2"))) inline u64 SumLanes(__m256i v)
{
    alignas(32) uint32_t lanes[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), v);
    u64 t = 0;
    for (uint32_t x : lanes)
        t += x;
    return t;
}

__attribute__((target("avx2"))) uLong Adler32Avx2(uLong adler, const unsigned char* p, size_t len)
{
    const u64 kBase = 65521;
    u64 s1 = adler & 0xFFFF, s2 = (adler >> 16) & 0xFFFF;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i weights = _mm256_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17, 16,
                                             15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
    const __m256i ones = _mm256_set1_epi16(1);
    while (len >= 32) {
        const size_t blocks = len / 32 < 173 ? len / 32 : 173;
        s2 += s1 * (blocks * 32);
        __m256i vs1 = zero, vs2 = zero, vw = zero;
        for (size_t b = 0; b < blocks; ++b) {
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            vs2 = _mm256_add_epi32(vs2, vs1);
            vs1 = _mm256_add_epi32(vs1, _mm256_sad_epu8(d, zero));
            vw = _mm256_add_epi32(vw, _mm256_madd_epi16(_mm256_maddubs_epi16(d, weights), ones));
            p += 32;
        }
        s1 = (s1 + SumLanes(vs1)) % kBase;
        s2 = (s2 + 32 * SumLanes(vs2) + SumLanes(vw)) % kBase;
        len -= blocks * 32;
    }
    for (; len; --len) {
        s1 += *p++;
        s2 += s1;
    }
    return uLong(((s2 % kBase) << 16) | (s1 % kBase));
}

uLong Adler32(const unsigned char* p, size_t len)
{
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        return Adler32Avx2(1, p, len);
    uLong a = adler32(0L, Z_NULL, 0);
    while (len) {
        const uInt piece = len > (1u << 30) ? (1u << 30) : uInt(len);
        a = adler32(a, p, piece);
        p += piece;
        len -= piece;
    }
    return a;
}

// A zlib stream made only of stored blocks (what deflate writes for
// incompressible data) inflated where it lies: each block's bytes move to the
// front of the buffer, always to a place at or before where they are read.
// The stream is checked whole first (plain header, every block stored with a
// valid length, a final block, room for the check value, at most `room`
// bytes of output), so nothing moves unless all of it can; false then, and
// the buffer is untouched. On true, *produced bytes start at buf and the
// result is Z_OK or, for a check value that does not match, Z_DATA_ERROR.
bool InflateStoredInPlace(unsigned char* buf, u64 streamAt, u64 streamLen, u64 room, u64* produced, int* result)
{
    const unsigned char* in = buf + streamAt;
    if (streamLen < 2 || (in[0] & 0x0F) != 8 || (in[0] >> 4) > 7 || (in[1] & 0x20) ||
        ((unsigned(in[0]) << 8) | in[1]) % 31 != 0)
        return false;
    u64 pos = 2, total = 0;
    for (;;) {
        if (streamLen - pos < 5)
            return false;
        const unsigned char head = in[pos];
        if (((head >> 1) & 3) != 0)
            return false; // a compressed block: the general road
        const unsigned len = in[pos + 1] | (unsigned(in[pos + 2]) << 8);
        const unsigned nlen = in[pos + 3] | (unsigned(in[pos + 4]) << 8);
        if ((len ^ 0xFFFFu) != nlen || streamLen - pos - 5 < len)
            return false;
        pos += 5 + len;
        total += len;
        if (total > room)
            return false;
        if (head & 1)
            break;
    }
    if (streamLen - pos < 4)
        return false;
    const unsigned char* t = in + pos;
    const uLong stored = (uLong(t[0]) << 24) | (uLong(t[1]) << 16) | (uLong(t[2]) << 8) | t[3];
    // Move the blocks' bytes down in order.
    u64 from = streamAt + 2, to = 0;
    for (;;) {
        const unsigned char head = buf[from];
        const unsigned len = buf[from + 1] | (unsigned(buf[from + 2]) << 8);
        std::memmove(buf + to, buf + from + 5, len);
        to += len;
        from += 5 + len;
        if (head & 1)
            break;
    }
    *produced = total;
    *result = Adler32(buf, total) == stored ? Z_OK : Z_DATA_ERROR;
    return true;
}

// Inflates a zlib stream of n bytes into out (room for *outLen bytes; the
// count produced comes back in *outLen) with the result zlib's uncompress
// would give: Z_OK only for a complete stream whose check value matches.
// A plain header (deflate, no preset dictionary) takes the fast road: raw
// inflate straight into out, then the check value computed 32 bytes a step.
int Inflate(unsigned char* out, uLongf* outLen, const unsigned char* in, u64 n)
{
    const bool plainHeader = n >= 2 && (in[0] & 0x0F) == 8 && (in[0] >> 4) <= 7 && !(in[1] & 0x20) &&
                             ((unsigned(in[0]) << 8) | in[1]) % 31 == 0;
    if (!plainHeader || n > 0xFFFFFFFFull || *outLen > 0xFFFFFFFFul)
        return uncompress(out, outLen, in, uLong(n));
    z_stream z;
    std::memset(&z, 0, sizeof z);
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
        return Z_MEM_ERROR;
    z.next_in = const_cast<unsigned char*>(in + 2);
    z.avail_in = uInt(n - 2);
    z.next_out = out;
    z.avail_out = uInt(*outLen);
    const int r = inflate(&z, Z_FINISH);
    const uLong produced = z.total_out;
    const unsigned char* trailer = z.next_in;
    const uInt rest = z.avail_in;
    inflateEnd(&z);
    *outLen = produced;
    if (r != Z_STREAM_END)
        return r == Z_OK || r == Z_BUF_ERROR ? Z_DATA_ERROR : r;
    if (rest < 4)
        return Z_DATA_ERROR; // the check value is missing
    const uLong stored = (uLong(trailer[0]) << 24) | (uLong(trailer[1]) << 16) | (uLong(trailer[2]) << 8) | trailer[3];
    return Adler32(out, produced) == stored ? Z_OK : Z_DATA_ERROR;
}

} // namespace

bool kzlv::Extent(const u8* p, u64 off, u64 end, u64& extent, u8& code)
{
    if (!p || off >= end || end - off < 2) return false;
    code = p[off];
    u64 avail = end - off;
    u64 h = 2 + 2 * (u64)p[off + 1];
    if (h > avail) return false;
    u64 need;
    switch (code) {
    case eKzLVBool: need = h + 1; break;
    case eKzLVInt32:
    case eKzLVUInt32: need = h + 4; break;
    case eKzLVInt64:
    case eKzLVUInt64:
    case eKzLVDouble:
    case eKzLVPointer: need = h + 8; break;
    case eKzLVText:
        for (u64 q = off + h; q + 2 <= end; q += 2) {
            if (p[q] == 0 && p[q + 1] == 0) {
                extent = q + 2 - off;
                return true;
            }
        }
        return false;
    case eKzLVBytes: {
        if (avail - h < 8) return false;
        u64 len = ld64(p + off + h);
        if (len > avail - h - 8) return false;
        extent = h + 8 + len;
        return true;
    }
    case eKzLVLevel: {
        if (avail - h < 12) return false;
        u64 k = ld32(p + off + h);
        u64 x = ld64(p + off + h + 4);
        if (x < h + 12 || x > avail) return false;
        if (k * 8 > avail - x) return false;
        extent = x + 8 * k;
        return true;
    }
    default: return false;
    }
    if (need > avail) return false;
    extent = need;
    return true;
}

int OffsetIndicesToRelative(void* blobp, unsigned long size, unsigned long offset)
{
    u8* p = (u8*)blobp;
    if (!p || offset >= size) return KZ_ERR_FAILED;
    if (p[offset] != eKzLVLevelAbsolute) return KZ_OK;
    int result = KZ_OK;
    try {
        // Work list rather than recursion: children always lie behind their
        // level, so no level is reached twice through a cycle, and a converted
        // level has code 11 and is skipped when met again.
        std::vector<u64> work;
        work.push_back(offset);
        // Index tables of a sound blob are disjoint, so all of them together
        // hold at most size / 8 entries; damaged levels sharing one table
        // cannot make the conversion cost more than that.
        u64 budget = size / 8 + 1;
        while (!work.empty()) {
            u64 o = work.back();
            work.pop_back();
            if (p[o] != eKzLVLevelAbsolute) continue;
            bool ok = size - o >= 2;
            u64 h = ok ? 2 + 2 * (u64)p[o + 1] : 0;
            ok = ok && size - o >= h + 12;
            u64 k = ok ? ld32(p + o + h) : 0;
            u64 x = ok ? ld64(p + o + h + 4) : 0;
            ok = ok && x >= o && x - o >= h + 12 && x <= size && k * 8 <= size - x;
            if (!ok) {
                if (o == offset) result = KZ_ERR_FAILED;
                continue;
            }
            if (k > budget) {
                if (o == offset) result = KZ_ERR_FAILED;
                continue;
            }
            budget -= k;
            for (u64 i = 0; i < k; ++i) {
                u8* e = p + x + 8 * i;
                u64 c = ld64(e);
                // Entries outside the level's children are left as they are;
                // readers check every entry before they follow it.
                if (c < o + h + 12 || c >= x) continue;
                kzlv::st64(e, c - o);
                if (p[c] == eKzLVLevelAbsolute) work.push_back(c);
            }
            kzlv::st64(p + o + h + 4, x - o);
            p[o] = eKzLVLevel;
        }
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    return result;
}

CKzLiteVariantR::CKzLiteVariantR()
    : CKzByteArray(1024), m_iLevel(-1), m_uiStackCapacity(0), m_pStack(nullptr)
{
}

CKzLiteVariantR::CKzLiteVariantR(const CKzLiteVariantR& other)
    : CKzByteArray(other), m_iLevel(-1), m_uiStackCapacity(0), m_pStack(nullptr)
{
    if (other.m_iLevel >= 0 && GetSize() == other.GetSize()) {
        u32 cap = ((u32)other.m_iLevel / 8 + 1) * 8;
        m_pStack = (SLevel*)CKzAlloc::Alloc(0, (size_t)cap * sizeof(SLevel));
        if (m_pStack) {
            std::memcpy(m_pStack, other.m_pStack, ((size_t)other.m_iLevel + 1) * sizeof(SLevel));
            m_uiStackCapacity = cap;
            m_iLevel = other.m_iLevel;
        }
    }
}

CKzLiteVariantR& CKzLiteVariantR::operator=(const CKzLiteVariantR& other)
{
    if (this == &other) return *this;
    releaseStack();
    CKzByteArray::operator=(other);
    SetCurrentOffset(0);
    return *this;
}

CKzLiteVariantR::~CKzLiteVariantR()
{
    releaseStack();
}

void CKzLiteVariantR::releaseStack()
{
    CKzAlloc::Free(m_pStack);
    m_pStack = nullptr;
    m_uiStackCapacity = 0;
    m_iLevel = -1;
}

u64 CKzLiteVariantR::levelEnd() const
{
    return m_iLevel >= 0 ? m_pStack[m_iLevel].uiIndex : blobSize();
}

int CKzLiteVariantR::Clear()
{
    FreeData();
    releaseStack();
    return KZ_OK;
}

int CKzLiteVariantR::Reset()
{
    releaseStack();
    setCursor(0);
    return KZ_OK;
}

int CKzLiteVariantR::SetPointer(void* data, unsigned long size, unsigned long allocated)
{
    FreeData();
    releaseStack();
    int r = KZ_OK;
    if (data && size) {
        if (size > allocated) size = allocated;
        r = SetData(data, size, eModeOpReplace, eModeAllocExact);
        if (r != KZ_OK) FreeData();
    }
    CKzAlloc::Free(data);
    setCursor(0);
    return r;
}

int CKzLiteVariantR::FirstValue()
{
    setCursor(m_iLevel >= 0 ? m_pStack[m_iLevel].uiFirst : 0);
    return KZ_OK;
}

void CKzLiteVariantR::maybeDecompress()
{
    u64 c = cursor();
    if (c < blobSize() && blob()[c] == 'L') Decompress();
}

bool CKzLiteVariantR::IsNextValue()
{
    u64 c = cursor();
    if (c + 4 >= blobSize()) return false;
    if (blob()[c] == 'L') {
        Decompress();
        c = cursor();
        if (c + 4 >= blobSize()) return false;
    }
    if (m_iLevel < 0) return true;
    const SLevel& l = m_pStack[m_iLevel];
    return c >= l.uiFirst && c < l.uiIndex;
}

void CKzLiteVariantR::convertAt(u64 off)
{
    if (off >= blobSize() || blob()[off] != eKzLVLevelAbsolute) return;
    // Absolute offsets count from the blob's start, so a level met anywhere
    // converts with its own offset; the first record goes the documented way.
    if (off == 0)
        ConvertLV31toLV32();
    else
        OffsetIndicesToRelative(const_cast<u8*>(blob()), blobSize(), off);
}

bool CKzLiteVariantR::extentAt(u64 off, u64 end, u64& extent)
{
    const u8* p = blob();
    if (!p || off >= end) return false;
    convertAt(off);
    u8 code;
    return kzlv::Extent(blob(), off, end, extent, code);
}

int CKzLiteVariantR::NextValue()
{
    if (!IsNextValue()) return KZ_ERR_FAILED;
    u64 c = cursor();
    u64 ext;
    if (!extentAt(c, levelEnd(), ext)) return KZ_ERR_FAILED;
    setCursor(c + ext);
    return KZ_OK;
}

int CKzLiteVariantR::GetCurrentType()
{
    if (cursor() >= blobSize()) return 0;
    maybeDecompress();
    u64 c = cursor();
    if (c >= blobSize()) return 0;
    return blob()[c];
}

bool CKzLiteVariantR::headerAt(u64 off, u64 end, u8& code, u32& n) const
{
    const u8* p = blob();
    if (!p || off >= end || end - off < 2) return false;
    code = p[off];
    n = p[off + 1];
    return 2 + 2 * (u64)n <= end - off;
}

int CKzLiteVariantR::GetCurrentName(wchar_t* out, unsigned int size)
{
    if (!out || size == 0) return KZ_ERR_FAILED;
    if (cursor() >= blobSize()) return KZ_ERR_FAILED;
    maybeDecompress();
    u8 code;
    u32 n;
    if (!headerAt(cursor(), blobSize(), code, n)) return KZ_ERR_FAILED;
    u32 m = size < n ? size : n;
    std::wstring w;
    kzlv::UnitsToWide(blob() + cursor() + 2, m, w);
    size_t i = 0;
    for (; i < w.size() && i < size; ++i) out[i] = w[i];
    out[i] = 0;
    return KZ_OK;
}

int CKzLiteVariantR::CurrentLevelBegin(unsigned int* count)
{
    if (!blob() || blobSize() == 0) return KZ_ERR_FAILED;
    int code = GetCurrentType();
    u64 c = cursor();
    if (code == eKzLVLevelAbsolute) {
        convertAt(c);
        code = blob()[c];
    }
    if (code != eKzLVLevel) return KZ_ERR_FAILED;
    u64 ext;
    u8 cd;
    if (!kzlv::Extent(blob(), c, levelEnd(), ext, cd)) return KZ_ERR_FAILED;
    if ((u32)(m_iLevel + 1) >= m_uiStackCapacity) {
        u32 cap = m_uiStackCapacity + 8;
        void* p = CKzAlloc::ReAlloc(m_pStack, (size_t)cap * sizeof(SLevel), 0);
        if (!p) return KZ_ERR_OUT_OF_MEMORY;
        m_pStack = (SLevel*)p;
        m_uiStackCapacity = cap;
    }
    const u8* p = blob();
    u64 h = 2 + 2 * (u64)p[c + 1];
    SLevel& l = m_pStack[++m_iLevel];
    l.uiOffset = c;
    l.uiFirst = c + h + 12;
    l.uiCount = ld32(p + c + h);
    l.uiIndex = c + ld64(p + c + h + 4);
    if (count) *count = l.uiCount;
    setCursor(l.uiFirst);
    return KZ_OK;
}

int CKzLiteVariantR::LevelBegin(const wchar_t* name, unsigned int* count)
{
    unsigned long off;
    if (Find(name, off) != KZ_OK) return KZ_ERR_FAILED;
    u64 old = cursor();
    setCursor(off);
    int r = CurrentLevelBegin(count);
    if (r != KZ_OK) setCursor(old);
    return r;
}

int CKzLiteVariantR::LevelEnd()
{
    if (m_iLevel < 0) return KZ_OK;
    setCursor(m_pStack[m_iLevel].uiOffset);
    --m_iLevel;
    if (m_iLevel < 0) releaseStack();
    return KZ_OK;
}

namespace {

// Name order of a stored name (n units at p) against a search name (ns units,
// the last one 0 unless ns is 0).
int compareName(const u8* p, u32 n, const char16_t* s, u32 ns)
{
    u32 m = n < ns ? n : ns;
    for (u32 i = 0; i < m; ++i) {
        u32 a = ld16(p + 2 * i), b = (u16)s[i];
        if (a != b) return a < b ? -1 : 1;
    }
    return (int)n - (int)ns;
}

} // namespace

int CKzLiteVariantR::Find(const wchar_t* name, unsigned long& offset)
{
    // The search name as UTF-16 with its zero unit; names of up to 255 units
    // (all a record can store) convert on the stack.
    char16_t stackUnits[520];
    std::u16string heapUnits;
    const char16_t* su = stackUnits;
    u32 m = 0;
    size_t len = name ? wcslen(name) : 0;
    if (len <= 255) {
        for (size_t i = 0; i < len; ++i) {
            u32 c = (u32)name[i];
            if (c < 0xD800u || (c >= 0xE000u && c < 0x10000u)) {
                stackUnits[m++] = (char16_t)c;
            } else if (c >= 0x10000u && c <= 0x10FFFFu) {
                c -= 0x10000u;
                stackUnits[m++] = (char16_t)(0xD800u + (c >> 10));
                stackUnits[m++] = (char16_t)(0xDC00u + (c & 0x3FFu));
            } else {
                stackUnits[m++] = u'\xFFFD';
            }
        }
        stackUnits[m] = 0;
    } else {
        kzlv::WideToUnits(name, len, heapUnits);
        su = heapUnits.c_str();
        m = (u32)heapUnits.size();
    }

    if (IsNextValue()) {
        u64 c = cursor();
        u8 code;
        u32 n;
        if (headerAt(c, levelEnd(), code, n)) {
            const u8* q = blob() + c + 2;
            bool same = true;
            u32 k = n < m ? n : m;
            for (u32 i = 0; i < k && same; ++i) same = ld16(q + 2 * i) == (u16)su[i];
            if (same && ((n == m + 1 && ld16(q + 2 * m) == 0) || n == m)) {
                offset = c;
                return KZ_OK;
            }
        }
    }
    if (m_iLevel < 0) return KZ_ERR_FAILED;
    const SLevel& l = m_pStack[m_iLevel];
    if (l.uiCount == 0) return KZ_ERR_FAILED;
    const u8* p = blob();
    // The search name is compared with its zero unit, so an unnamed record is
    // found only at the cursor, never through the index.
    const u32 ns = m + 1;
    u64 lo = 0, hi = l.uiCount;
    while (lo < hi) {
        u64 mid = lo + (hi - lo) / 2;
        u64 e = ld64(p + l.uiIndex + 8 * mid);
        // Each index entry must name a record among the level's children.
        if (e >= l.uiIndex - l.uiOffset) return KZ_ERR_FAILED;
        u64 rec = l.uiOffset + e;
        u8 code;
        u32 n;
        if (rec < l.uiFirst || !headerAt(rec, l.uiIndex, code, n)) return KZ_ERR_FAILED;
        int cmp = compareName(p + rec + 2, n, su, ns);
        if (cmp == 0) {
            offset = rec;
            return KZ_OK;
        }
        if (cmp < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return KZ_ERR_FAILED;
}

bool CKzLiteVariantR::IsValueSet(const wchar_t* name)
{
    unsigned long off;
    return Find(name, off) == KZ_OK;
}

int CKzLiteVariantR::Decompress()
{
    const u8* p = blob();
    u64 s = blobSize();
    if (!p || s <= 12 || std::memcmp(p, "LV0Z", 4) != 0) return KZ_OK;
    u64 len = ld64(p + 4);
    if (len == 0) return KZ_OK;
    u64 srcLen = s - 12;
    releaseStack();
    bool ok = len <= kMaxInflated && len <= srcLen * kMaxRatio + 1024;
    // Stored blocks only (incompressible data): inflated in the blob's own
    // bytes, with neither a copy nor a new block of memory.
    if (ok) {
        u64 produced = 0;
        int result = Z_DATA_ERROR;
        if (InflateStoredInPlace(const_cast<unsigned char*>(GetData()), 12, srcLen, len, &produced, &result)) {
            ok = result == Z_OK;
            if (ok && produced) {
                GetData(produced);
                SetSize(produced);
            } else {
                FreeData();
            }
            setCursor(0);
            return ok ? KZ_OK : KZ_ERR_FAILED;
        }
    }
    // The compressed bytes stay where they are: the array lets go of them
    // (they are freed below) and receives a new block for the inflated bytes.
    unsigned char* src = ok ? const_cast<unsigned char*>(GetData()) : nullptr;
    if (ok) {
        Init(GetIncrement());
        ok = SetData(nullptr, len, eModeOpReplace, eModeAllocExact) == KZ_OK;
    }
    if (ok) {
        u8* dst = GetData(len);
        uLongf destLen = (uLongf)len;
        ok = Inflate(dst, &destLen, src + 12, srcLen) == Z_OK;
        if (ok) SetSize(destLen);
    }
    CKzAlloc::Free(src);
    if (!ok) FreeData();
    setCursor(0);
    return ok ? KZ_OK : KZ_ERR_FAILED;
}

int CKzLiteVariantR::ConvertLV31toLV32()
{
    if (!blob() || blobSize() == 0) return KZ_OK;
    return OffsetIndicesToRelative(const_cast<u8*>(blob()), blobSize(), 0);
}

// ---- values ---------------------------------------------------------------

bool CKzLiteVariantR::currentPayload(u8 c1, u8 c2, u64& payload, u64& ext)
{
    u64 c = cursor();
    u8 code;
    if (!kzlv::Extent(blob(), c, levelEnd(), ext, code)) return false;
    if (code != c1 && code != c2) return false;
    payload = c + 2 + 2 * (u64)blob()[c + 1];
    return true;
}

bool CKzLiteVariantR::currentText(std::wstring& out)
{
    u64 pl, ext;
    if (!currentPayload(eKzLVText, eKzLVText, pl, ext)) return false;
    u64 units = (cursor() + ext - pl) / 2 - 1;
    kzlv::UnitsToWide(blob() + pl, units, out);
    return true;
}

int CKzLiteVariantR::ReadCurrentValue(void* out, unsigned long size)
{
    if (!out) return KZ_ERR_FAILED;
    u64 c = cursor();
    u64 end = levelEnd();
    u8 code;
    u32 n;
    if (!headerAt(c, end, code, n)) return KZ_ERR_FAILED;
    u64 pl = c + 2 + 2 * (u64)n;
    if (size == 0) {
        // The caller reads the whole payload from the address: a text up to
        // its zero unit, bytes over their stored length. Both must lie
        // inside the blob.
        u64 ext;
        u8 cd;
        if (!kzlv::Extent(blob(), c, end, ext, cd)) return KZ_ERR_FAILED;
        if (code == eKzLVText) {
            *(const void**)out = blob() + pl;
            return KZ_OK;
        }
        if (code == eKzLVBytes) {
            *(const void**)out = blob() + pl + 8;
            return KZ_OK;
        }
        return KZ_ERR_FAILED;
    }
    if (size > end - pl) return KZ_ERR_FAILED;
    std::memcpy(out, blob() + pl, size);
    return KZ_OK;
}

int CKzLiteVariantR::Read(unsigned char code, const wchar_t* name, void* out, unsigned long size)
{
    unsigned long off;
    if (Find(name, off) != KZ_OK) return KZ_ERR_FAILED;
    setCursor(off);
    u8 c2 = code;
    if (code == eKzLVInt32) c2 = eKzLVUInt32;
    else if (code == eKzLVUInt32) c2 = eKzLVInt32;
    else if (code == eKzLVInt64) c2 = eKzLVUInt64;
    else if (code == eKzLVUInt64) c2 = eKzLVInt64;
    u64 pl, ext;
    if (!currentPayload(code, c2, pl, ext)) return KZ_ERR_FAILED;
    if (ReadCurrentValue(out, size) != KZ_OK) return KZ_ERR_FAILED;
    setCursor(off + ext);
    return KZ_OK;
}

namespace {
// A fixed-size record by name, or the default when it is missing or of another type.
template <class T>
T ReadOr(CKzLiteVariantR& r, unsigned char code, const wchar_t* name, T def)
{
    T v;
    return r.Read(code, name, &v, sizeof(T)) == KZ_OK ? v : def;
}
}  // namespace

bool CKzLiteVariantR::Get(const wchar_t* name, bool def)
{
    u8 b;
    return Read(eKzLVBool, name, &b, 1) == KZ_OK ? b != 0 : def;
}

int CKzLiteVariantR::Get(const wchar_t* name, int def)
{
    return ReadOr<int>(*this, eKzLVInt32, name, def);
}

unsigned int CKzLiteVariantR::Get(const wchar_t* name, unsigned int def)
{
    return ReadOr<unsigned int>(*this, eKzLVUInt32, name, def);
}

long CKzLiteVariantR::Get(const wchar_t* name, long def)
{
    return ReadOr<long>(*this, eKzLVInt64, name, def);
}

unsigned long CKzLiteVariantR::Get(const wchar_t* name, unsigned long def)
{
    return ReadOr<unsigned long>(*this, eKzLVUInt64, name, def);
}

double CKzLiteVariantR::Get(const wchar_t* name, double def)
{
    return ReadOr<double>(*this, eKzLVDouble, name, def);
}

void* CKzLiteVariantR::Get(const wchar_t* name, void* def)
{
    u64 v;
    return Read(eKzLVPointer, name, &v, 8) == KZ_OK ? (void*)(uintptr_t)v : def;
}

const unsigned short* CKzLiteVariantR::Get(const wchar_t* name, const unsigned short* def)
{
    const void* v;
    return Read(eKzLVText, name, &v, 0) == KZ_OK ? (const unsigned short*)v : def;
}

const wchar_t* CKzLiteVariantR::Get(const wchar_t* name, const wchar_t* def)
{
    unsigned long off;
    if (Find(name, off) != KZ_OK) return def;
    setCursor(off);
    u64 pl, ext;
    if (!currentPayload(eKzLVText, eKzLVText, pl, ext)) return def;
    currentText(m_text);
    setCursor(off + ext);
    return m_text.c_str();
}

CKzStringW& CKzLiteVariantR::GetCKzStringW(CKzStringW& out, const wchar_t* name, const wchar_t* def)
{
    unsigned long off;
    u64 pl, ext;
    if (Find(name, off) == KZ_OK) {
        setCursor(off);
        if (currentPayload(eKzLVText, eKzLVText, pl, ext)) {
            currentText(m_text);
            setCursor(off + ext);
            out = m_text.c_str();
            return out;
        }
    }
    // The default takes the same road a stored text would.
    std::u16string u;
    if (def) kzlv::WideToUnits(def, wcslen(def), u);
    kzlv::UnitsToWide((const u8*)u.data(), u.size(), m_text);
    out = m_text.c_str();
    return out;
}

int CKzLiteVariantR::Get(const wchar_t* name, void* out, unsigned long size)
{
    unsigned long off;
    if (Find(name, off) != KZ_OK) return KZ_ERR_FAILED;
    setCursor(off);
    u64 pl, ext;
    if (!currentPayload(eKzLVBytes, eKzLVBytes, pl, ext)) return KZ_ERR_FAILED;
    u64 len = ld64(blob() + pl);
    u64 m = size < len ? size : len;
    if (m && out) std::memcpy(out, blob() + pl + 8, m);
    setCursor(off + ext);
    return KZ_OK;
}

int CKzLiteVariantR::Get(const wchar_t* name, CKzByteArray& out)
{
    unsigned long off;
    if (Find(name, off) != KZ_OK) return KZ_ERR_FAILED;
    setCursor(off);
    u64 pl, ext;
    if (!currentPayload(eKzLVBytes, eKzLVBytes, pl, ext)) return KZ_ERR_FAILED;
    u64 len = ld64(blob() + pl);
    if (len && out.SetData(blob() + pl + 8, len, eModeOpReplace, eModeAllocExact) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    setCursor(off + ext);
    return KZ_OK;
}

const void* CKzLiteVariantR::Get(const wchar_t* name, unsigned long* size)
{
    unsigned long off;
    if (Find(name, off) != KZ_OK) return nullptr;
    setCursor(off);
    u64 pl, ext;
    if (!currentPayload(eKzLVBytes, eKzLVBytes, pl, ext)) return nullptr;
    if (size) *size = ld64(blob() + pl);
    setCursor(off + ext);
    return blob() + pl + 8;
}

bool CKzLiteVariantR::GetCurrentValue(bool def)
{
    u64 pl, ext;
    return currentPayload(eKzLVBool, eKzLVBool, pl, ext) ? blob()[pl] != 0 : def;
}

int CKzLiteVariantR::GetCurrentValue(int def)
{
    u64 pl, ext;
    return currentPayload(eKzLVInt32, eKzLVUInt32, pl, ext) ? (int)ld32(blob() + pl) : def;
}

unsigned int CKzLiteVariantR::GetCurrentValue(unsigned int def)
{
    u64 pl, ext;
    return currentPayload(eKzLVInt32, eKzLVUInt32, pl, ext) ? ld32(blob() + pl) : def;
}

long CKzLiteVariantR::GetCurrentValue(long def)
{
    u64 pl, ext;
    return currentPayload(eKzLVInt64, eKzLVInt64, pl, ext) ? (long)ld64(blob() + pl) : def;
}

unsigned long CKzLiteVariantR::GetCurrentValue(unsigned long def)
{
    u64 pl, ext;
    return currentPayload(eKzLVUInt64, eKzLVUInt64, pl, ext) ? ld64(blob() + pl) : def;
}

double CKzLiteVariantR::GetCurrentValue(double def)
{
    u64 pl, ext;
    if (!currentPayload(eKzLVDouble, eKzLVDouble, pl, ext)) return def;
    double d;
    std::memcpy(&d, blob() + pl, 8);
    return d;
}

void* CKzLiteVariantR::GetCurrentValue(void* def)
{
    u64 pl, ext;
    return currentPayload(eKzLVPointer, eKzLVPointer, pl, ext) ? (void*)(uintptr_t)ld64(blob() + pl) : def;
}

const unsigned short* CKzLiteVariantR::GetCurrentValue(const unsigned short* def)
{
    u64 pl, ext;
    return currentPayload(eKzLVText, eKzLVText, pl, ext) ? (const unsigned short*)(blob() + pl) : def;
}

const wchar_t* CKzLiteVariantR::GetCurrentValue(const wchar_t* def)
{
    if (!currentText(m_text)) return def;
    return m_text.c_str();
}

CKzStringW& CKzLiteVariantR::GetCurrentValueCKzStringW(CKzStringW& out, const wchar_t* def)
{
    if (currentText(m_text))
        out = m_text.c_str();
    else
        out = def ? def : L"";
    return out;
}

int CKzLiteVariantR::GetCurrentValue(CKzByteArray& out)
{
    u64 pl, ext;
    if (!currentPayload(eKzLVBytes, eKzLVBytes, pl, ext)) return KZ_ERR_FAILED;
    u64 len = ld64(blob() + pl);
    if (len && out.SetData(blob() + pl + 8, len, eModeOpReplace, eModeAllocExact) != KZ_OK)
        return KZ_ERR_OUT_OF_MEMORY;
    return KZ_OK;
}

int CKzLiteVariantR::GetCurrentValue(void* out, unsigned long size)
{
    u64 pl, ext;
    if (!currentPayload(eKzLVBytes, eKzLVBytes, pl, ext)) return KZ_ERR_FAILED;
    u64 len = ld64(blob() + pl);
    u64 m = size < len ? size : len;
    if (m && out) std::memcpy(out, blob() + pl + 8, m);
    return KZ_OK;
}

const void* CKzLiteVariantR::GetCurrentValue(unsigned long* size)
{
    u64 pl, ext;
    if (!currentPayload(eKzLVBytes, eKzLVBytes, pl, ext)) return nullptr;
    if (size) *size = ld64(blob() + pl);
    return blob() + pl + 8;
}
