#include "gnr_system/CKzByteArray.h"

#include "gnr_system/CKzAlloc.h"

#include <cstdint>
#include <cstring>

CKzByteArray::CKzByteArray(unsigned long increment)
{
    Init(increment);
}

CKzByteArray::CKzByteArray(const void* src, unsigned long n, unsigned long increment)
{
    Init(increment);
    SetData(src, n, eModeOpReplace, eModeAllocExact);
}

CKzByteArray::CKzByteArray(const CKzByteArray& other)
{
    Init(other.m_uiIncrement);
    SetData(other.m_pData, other.m_uiSize, eModeOpReplace, eModeAllocExact);
}

CKzByteArray::~CKzByteArray()
{
    CKzAlloc::Free(m_pData);
}

CKzByteArray& CKzByteArray::operator=(const CKzByteArray& other)
{
    // Freeing first would lose the bytes when both sides are the same array.
    if (this == &other) return *this;
    FreeData();
    SetData(other.m_pData, other.m_uiSize, eModeOpReplace, eModeAllocExact);
    return *this;
}

void CKzByteArray::Init(unsigned long increment)
{
    m_pData = nullptr;
    m_uiCurrentOffset = 0;
    m_uiSize = 0;
    m_uiAllocated = 0;
    m_uiIncrement = increment ? increment : 1;
}

void CKzByteArray::FreeData()
{
    CKzAlloc::Free(m_pData);
    Init(m_uiIncrement);
}

void CKzByteArray::SetIncrement(unsigned long increment)
{
    m_uiIncrement = increment ? increment : 1;
}

kz_result CKzByteArray::SetData(const void* src, unsigned long n, EKzByteArrayModeOp op, EKzByteArrayModeAlloc alloc)
{
    const u64 start = (static_cast<int>(op) == eModeOpAppend) ? m_uiSize : 0;
    const int allocMode = static_cast<int>(alloc);

    if (m_uiAllocated - start < n && allocMode != eModeAllocNone) {
        // Room needed beyond the allocation; every sum is checked so that a huge
        // n is refused instead of wrapping into a small block.
        if (n > UINT64_MAX - start) return KZ_ERR_OUT_OF_MEMORY;
        const u64 needed = start + n;
        u64 newSize = needed;
        if (allocMode == eModeAllocIncrement) {
            const u64 k = (needed - m_uiAllocated) / m_uiIncrement + 1;
            if (k > (UINT64_MAX - m_uiAllocated) / m_uiIncrement) return KZ_ERR_OUT_OF_MEMORY;
            newSize = m_uiAllocated + k * m_uiIncrement;
        }
        if (newSize > PTRDIFF_MAX) return KZ_ERR_OUT_OF_MEMORY;
        // A source inside the own block must follow it when the block moves.
        const uintptr_t s = reinterpret_cast<uintptr_t>(src);
        const uintptr_t base = reinterpret_cast<uintptr_t>(m_pData);
        const bool inside = src && m_pData && s >= base && s - base < m_uiAllocated;
        void* p = CKzAlloc::ReAlloc(m_pData, static_cast<size_t>(newSize), 0);
        if (!p) return KZ_ERR_OUT_OF_MEMORY;  // the old block and its bytes stay
        m_pData = static_cast<unsigned char*>(p);
        m_uiAllocated = newSize;
        if (inside) src = m_pData + (s - base);
    }

    if (!src) return KZ_OK;  // only reserved

    const u64 room = m_uiAllocated - start;
    const u64 m = (n < room) ? n : room;
    if (m == 0) return n ? KZ_ERR_FAILED : KZ_OK;

    // memmove: the source may lie inside the array itself.
    std::memmove(m_pData + start, src, static_cast<size_t>(m));
    m_uiSize = start + m;
    return (m < n) ? KZ_ERR_TRUNCATED : KZ_OK;
}

unsigned char* CKzByteArray::GetData(unsigned long n)
{
    if (n != 0 && n <= m_uiAllocated) m_uiSize = n;
    return m_pData;
}

void CKzByteArray::SetSize(unsigned long n)
{
    if (n <= m_uiAllocated) m_uiSize = n;
}

kz_result CKzByteArray::SetCurrentOffset(unsigned long off)
{
    if (off > m_uiAllocated) return KZ_ERR_INVALID_ARG;
    m_uiCurrentOffset = off;
    return KZ_OK;
}

kz_result CKzByteArray::SetCurrentOffsetPtr(void* p)
{
    if (!p || !m_pData) return KZ_ERR_INVALID_ARG;
    const uintptr_t at = reinterpret_cast<uintptr_t>(p);
    const uintptr_t base = reinterpret_cast<uintptr_t>(m_pData);
    if (at < base) return KZ_ERR_INVALID_ARG;
    return SetCurrentOffset(at - base);
}

unsigned long CKzByteArray::GetCurrentOffset() const
{
    return (m_uiCurrentOffset > m_uiAllocated) ? 0 : m_uiCurrentOffset;
}

unsigned char* CKzByteArray::GetCurrentOffsetPtr() const
{
    return m_pData + GetCurrentOffset();
}

bool CKzByteArray::operator==(const CKzByteArray& other) const
{
    if (m_uiSize != other.m_uiSize) return false;
    if (m_uiSize == 0) return true;
    return std::memcmp(m_pData, other.m_pData, static_cast<size_t>(m_uiSize)) == 0;
}
