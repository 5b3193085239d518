// Writer of the lite-variant binary form and the UTF-16 helpers of the form.
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzAlloc.h"

#include <algorithm>
#include <cstring>

namespace {

// Largest blob the writer builds; a request beyond it is a caller error, not a
// reason to ask the heap for absurd amounts.
const u64 kMaxBlob = u64(1) << 36;
const unsigned kMaxNameUnits = 254;

inline bool isScalar(u32 c) { return c < 0xD800u || (c >= 0xE000u && c <= 0x10FFFFu); }

} // namespace

namespace kzlv {

void WideToUnits(const wchar_t* text, size_t len, std::u16string& out)
{
    out.clear();
    if (!text) return;
    out.reserve(len);
    for (size_t i = 0; i < len; ++i) {
        u32 c = (u32)text[i];
        if (!isScalar(c)) {
            out.push_back(u'\xFFFD');
        } else if (c < 0x10000u) {
            out.push_back((char16_t)c);
        } else {
            c -= 0x10000u;
            out.push_back((char16_t)(0xD800u + (c >> 10)));
            out.push_back((char16_t)(0xDC00u + (c & 0x3FFu)));
        }
    }
}

unsigned NameUnits(const wchar_t* name, unsigned short* out)
{
    if (!name) return 0;
    unsigned n = 0;
    for (const wchar_t* p = name; *p; ++p) {
        u32 c = (u32)*p;
        if (!isScalar(c)) c = 0xFFFDu;
        if (c < 0x10000u) {
            if (n + 1 > kMaxNameUnits) break;
            out[n++] = (unsigned short)c;
        } else {
            // A pair that does not fit whole is dropped: a cut name must stay valid UTF-16.
            if (n + 2 > kMaxNameUnits) break;
            c -= 0x10000u;
            out[n++] = (unsigned short)(0xD800u + (c >> 10));
            out[n++] = (unsigned short)(0xDC00u + (c & 0x3FFu));
        }
    }
    return n;
}

void UnitsToWide(const u8* p, size_t count, std::wstring& out)
{
    out.clear();
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        u32 u = ld16(p + 2 * i);
        if (u < 0xD800u || u > 0xDFFFu) {
            out.push_back((wchar_t)u);
        } else if (u <= 0xDBFFu && i + 1 < count) {
            u32 l = ld16(p + 2 * (i + 1));
            if (l >= 0xDC00u && l <= 0xDFFFu) {
                out.push_back((wchar_t)(0x10000u + ((u - 0xD800u) << 10) + (l - 0xDC00u)));
                ++i;
            } else {
                out.push_back((wchar_t)0xFFFD);
            }
        } else {
            out.push_back((wchar_t)0xFFFD);
        }
    }
}

} // namespace kzlv

base::string16& GetQORWideStringFromSysString(base::string16& out, const wchar_t* text, int len)
{
    out.clear();
    if (!text) return out;
    size_t n = len > 0 ? (size_t)len : wcslen(text);
    base::WideToUTF16(text, n, &out);
    return out;
}

std::wstring& GetSysWideStringFromQORString(std::wstring& out, const unsigned short* text, int len)
{
    out.clear();
    if (!text) return out;
    size_t n = len > 0 ? (size_t)len : base::c16len(text);
    base::UTF16ToWide(text, n, &out);
    return out;
}

CKzLiteVariantW::CKzLiteVariantW()
    : m_pBuffer(nullptr), m_uiCapacity(0), m_uiUsed(0), m_iLevel(-1), m_uiStackCapacity(0),
      m_pStack(nullptr), m_bFailed(false)
{
}

CKzLiteVariantW::~CKzLiteVariantW()
{
    CKzAlloc::Free(m_pBuffer);
    releaseStack();
}

void CKzLiteVariantW::releaseStack()
{
    if (m_pStack) {
        for (i32 i = 0; i <= m_iLevel; ++i) CKzAlloc::Free(m_pStack[i].pChildOffsets);
        CKzAlloc::Free(m_pStack);
    }
    m_pStack = nullptr;
    m_uiStackCapacity = 0;
    m_iLevel = -1;
}

int CKzLiteVariantW::Reserve(unsigned long n)
{
    if (m_bFailed) return KZ_ERR_OUT_OF_MEMORY;
    if (n > kMaxBlob || m_uiUsed + n > kMaxBlob) {
        m_bFailed = true;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    u64 need = m_uiUsed + n;
    if (m_uiCapacity >= need) return KZ_OK;
    u64 cap;
    if (!m_pBuffer) {
        cap = 4096;
        while (cap < need) cap *= 2;
    } else {
        cap = m_uiCapacity * 2;
        while (cap < need) cap *= 2;
    }
    void* p = CKzAlloc::ReAlloc(m_pBuffer, cap, 0);
    if (!p) {
        m_bFailed = true;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    m_pBuffer = (u8*)p;
    m_uiCapacity = cap;
    return KZ_OK;
}

int CKzLiteVariantW::addChild(u64 recordOffset)
{
    if (m_iLevel < 0) return KZ_OK;
    SLevel& l = m_pStack[m_iLevel];
    if (l.uiCount == 0xFFFFFFFFu) {
        m_bFailed = true;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    if (l.uiCount >= l.uiCapacity) {
        u64 cap = (u64)l.uiCapacity + 32;
        if (cap > 0xFFFFFFFFu) cap = 0xFFFFFFFFu;
        void* p = CKzAlloc::ReAlloc(l.pChildOffsets, cap * sizeof(u64), 0);
        if (!p) {
            m_bFailed = true;
            return KZ_ERR_OUT_OF_MEMORY;
        }
        l.pChildOffsets = (u64*)p;
        l.uiCapacity = (u32)cap;
    }
    l.pChildOffsets[l.uiCount++] = recordOffset - l.uiOffset;
    return KZ_OK;
}

int CKzLiteVariantW::writeHeader(unsigned char type, const unsigned short* name, unsigned n)
{
    u8* p = m_pBuffer + m_uiUsed;
    p[0] = type;
    if (n == 0) {
        p[1] = 0;
        m_uiUsed += 2;
        return KZ_OK;
    }
    p[1] = (u8)(n + 1);
    for (unsigned i = 0; i < n; ++i) {
        p[2 + 2 * i] = (u8)(name[i] & 0xFF);
        p[3 + 2 * i] = (u8)(name[i] >> 8);
    }
    p[2 + 2 * n] = 0;
    p[3 + 2 * n] = 0;
    m_uiUsed += 2 + 2 * (u64)(n + 1);
    return KZ_OK;
}

int CKzLiteVariantW::LevelBegin(const wchar_t* name)
{
    if (m_bFailed) return KZ_ERR_OUT_OF_MEMORY;
    if (m_iLevel < 0 && m_uiUsed > 0) return KZ_ERR_FAILED;
    unsigned short units[256];
    unsigned n = kzlv::NameUnits(name, units);
    u64 nameBytes = n ? 2 * (u64)(n + 1) : 0;
    u64 recSize = 2 + nameBytes + 12;
    if (Reserve(recSize) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;

    // Room on the level stack and the new level's child offsets first, so that a
    // failure leaves nothing half written.
    if ((u32)(m_iLevel + 1) >= m_uiStackCapacity) {
        u32 cap = m_uiStackCapacity + 8;
        void* p = CKzAlloc::ReAlloc(m_pStack, (size_t)cap * sizeof(SLevel), 0);
        if (!p) {
            m_bFailed = true;
            return KZ_ERR_OUT_OF_MEMORY;
        }
        m_pStack = (SLevel*)p;
        m_uiStackCapacity = cap;
    }
    u64* children = (u64*)CKzAlloc::Alloc(0, 32 * sizeof(u64));
    if (!children) {
        m_bFailed = true;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    if (addChild(m_uiUsed) != KZ_OK) {
        CKzAlloc::Free(children);
        return KZ_ERR_OUT_OF_MEMORY;
    }
    ++m_iLevel;
    SLevel& l = m_pStack[m_iLevel];
    l.pChildOffsets = children;
    l.uiOffset = m_uiUsed;
    l.uiCount = 0;
    l.uiCapacity = 32;

    writeHeader(eKzLVLevel, units, n);
    std::memset(m_pBuffer + m_uiUsed, 0, 12);
    m_uiUsed += 12;
    return KZ_OK;
}

int CKzLiteVariantW::LevelEnd()
{
    if (m_iLevel < 0) return KZ_ERR_FAILED;
    if (m_bFailed) return KZ_ERR_OUT_OF_MEMORY;
    SLevel& l = m_pStack[m_iLevel];
    u32 k = l.uiCount;
    if (Reserve(8 * (u64)k) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
    u8* level = m_pBuffer + l.uiOffset;
    u64 n = level[1];
    kzlv::st32(level + 2 + 2 * n, k);
    kzlv::st64(level + 6 + 2 * n, m_uiUsed - l.uiOffset);
    std::stable_sort(l.pChildOffsets, l.pChildOffsets + k, [level](u64 a, u64 b) {
        return CompareItems(level + a, level + b) < 0;
    });
    u8* p = m_pBuffer + m_uiUsed;
    for (u32 i = 0; i < k; ++i) kzlv::st64(p + 8 * (u64)i, l.pChildOffsets[i]);
    m_uiUsed += 8 * (u64)k;
    CKzAlloc::Free(l.pChildOffsets);
    l.pChildOffsets = nullptr;
    --m_iLevel;
    if (m_iLevel < 0) releaseStack();
    return KZ_OK;
}

int CKzLiteVariantW::Write(unsigned char type, const wchar_t* name, const void* data, unsigned long size)
{
    if (m_bFailed) return KZ_ERR_OUT_OF_MEMORY;
    unsigned short units[256];
    unsigned n = kzlv::NameUnits(name, units);
    u64 nameBytes = n ? 2 * (u64)(n + 1) : 0;
    u64 extra = type == eKzLVBytes ? 8 : 0;
    if (size > kMaxBlob) {
        m_bFailed = true;
        return KZ_ERR_OUT_OF_MEMORY;
    }
    u64 total = 2 + nameBytes + extra + size;
    if (Reserve(total) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
    if (addChild(m_uiUsed) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
    writeHeader(type, units, n);
    if (extra) {
        kzlv::st64(m_pBuffer + m_uiUsed, size);
        m_uiUsed += 8;
    }
    if (size) {
        if (data)
            std::memcpy(m_pBuffer + m_uiUsed, data, size);
        else
            std::memset(m_pBuffer + m_uiUsed, 0, size);
        m_uiUsed += size;
    }
    return KZ_OK;
}

int CKzLiteVariantW::Set(bool v, const wchar_t* name)
{
    u8 b = v ? 1 : 0;
    return Write(eKzLVBool, name, &b, 1);
}
int CKzLiteVariantW::Set(int v, const wchar_t* name) { return Write(eKzLVInt32, name, &v, 4); }
int CKzLiteVariantW::Set(unsigned int v, const wchar_t* name) { return Write(eKzLVUInt32, name, &v, 4); }
int CKzLiteVariantW::Set(long v, const wchar_t* name) { return Write(eKzLVInt64, name, &v, 8); }
int CKzLiteVariantW::Set(unsigned long v, const wchar_t* name) { return Write(eKzLVUInt64, name, &v, 8); }
int CKzLiteVariantW::Set(double v, const wchar_t* name) { return Write(eKzLVDouble, name, &v, 8); }
int CKzLiteVariantW::Set(void* v, const wchar_t* name)
{
    u64 bits = (u64)(uintptr_t)v;
    return Write(eKzLVPointer, name, &bits, 8);
}

int CKzLiteVariantW::Set(const wchar_t* text, const wchar_t* name)
{
    if (!text) return KZ_ERR_FAILED;
    std::u16string units;
    kzlv::WideToUnits(text, wcslen(text), units);
    // The units and their terminator, little-endian.
    return Write(eKzLVText, name, units.c_str(), 2 * ((u64)units.size() + 1));
}

int CKzLiteVariantW::Set(const void* data, const unsigned long& size, const wchar_t* name)
{
    return Write(eKzLVBytes, name, data, size);
}

int CKzLiteVariantW::Set(const CKzByteArray& bytes, const wchar_t* name)
{
    return Write(eKzLVBytes, name, bytes.GetData(), bytes.GetSize());
}

int CKzLiteVariantW::CompareItems(const void* a, const void* b)
{
    const u8* pa = (const u8*)a;
    const u8* pb = (const u8*)b;
    unsigned na = pa[1], nb = pb[1];
    unsigned m = na < nb ? na : nb;
    for (unsigned i = 0; i < m; ++i) {
        unsigned ua = kzlv::ld16(pa + 2 + 2 * i), ub = kzlv::ld16(pb + 2 + 2 * i);
        if (ua != ub) return ua < ub ? -1 : 1;
    }
    return (int)na - (int)nb;
}

int CKzLiteVariantW::Append(const CKzLiteVariantR& cr)
{
    if (m_bFailed) return KZ_ERR_OUT_OF_MEMORY;
    CKzLiteVariantR& r = const_cast<CKzLiteVariantR&>(cr);
    const u8* p = r.blob();
    u64 size = r.blobSize();
    u64 cur = r.cursor();
    if (!p || cur >= size) return KZ_ERR_FAILED;
    u8 code = p[cur];
    if (code == 0 || code > eKzLVLevel) return KZ_ERR_FAILED;

    const u8* src = p + cur;
    u64 ext = 0;
    CKzLiteVariantR tmp;
    if (code == eKzLVLevelAbsolute) {
        // The source blob is not changed: a copy is converted and the level taken from it.
        if (tmp.SetData(p, size, CKzByteArray::eModeOpReplace, CKzByteArray::eModeAllocExact) != KZ_OK)
            return KZ_ERR_OUT_OF_MEMORY;
        u8* q = const_cast<u8*>(tmp.blob());
        if (OffsetIndicesToRelative(q, size, cur) != KZ_OK) return KZ_ERR_FAILED;
        u8 c2;
        if (!kzlv::Extent(q, cur, size, ext, c2)) return KZ_ERR_FAILED;
        src = q + cur;
    } else {
        u8 c2;
        if (!kzlv::Extent(p, cur, r.levelEnd(), ext, c2)) return KZ_ERR_FAILED;
    }
    if (Reserve(ext) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
    if (addChild(m_uiUsed) != KZ_OK) return KZ_ERR_OUT_OF_MEMORY;
    std::memcpy(m_pBuffer + m_uiUsed, src, ext);
    m_uiUsed += ext;
    return KZ_OK;
}

const void* CKzLiteVariantW::Finalize(CKzLiteVariantR& r)
{
    while (m_iLevel >= 0 && !m_bFailed) LevelEnd();
    if (m_bFailed) {
        CKzAlloc::Free(m_pBuffer);
        r.Clear();
    } else {
        r.SetPointer(m_pBuffer, m_uiUsed, m_uiCapacity);
    }
    m_pBuffer = nullptr;
    m_uiCapacity = 0;
    m_uiUsed = 0;
    releaseStack();
    m_bFailed = false;
    return r.GetData();
}
