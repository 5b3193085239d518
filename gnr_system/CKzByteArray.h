// Growable byte buffer with a read cursor and a growth increment: the container
// of chunk data, serialised lite variants, byte-array variant values and
// range-mask bytes.
#pragma once

#include "gnr_system/kz_base.h"

class KZ_EXPORT CKzByteArray {
public:
    // Where SetData writes: from offset 0, or behind the bytes held.
    enum EKzByteArrayModeOp {
        eModeOpReplace = 0,
        eModeOpAppend = 1,
    };
    // How SetData makes room: exactly what is needed, never, or in whole increments.
    enum EKzByteArrayModeAlloc {
        eModeAllocExact = 0,
        eModeAllocNone = 1,
        eModeAllocIncrement = 2,
    };

    // An increment of 0 is taken as 1.
    explicit CKzByteArray(unsigned long increment = 1024);
    CKzByteArray(const void* src, unsigned long n, unsigned long increment);
    CKzByteArray(const CKzByteArray& other);
    virtual ~CKzByteArray();

    // Exact copy of the other's bytes; the own increment stays. Assigning an
    // array to itself keeps its bytes.
    CKzByteArray& operator=(const CKzByteArray& other);

    // Forgets the bytes without freeing them (for raw, not yet constructed state).
    void Init(unsigned long increment);
    void FreeData();
    void SetIncrement(unsigned long increment);
    unsigned long GetIncrement() const { return m_uiIncrement; }

    // Stores n bytes of src (or only reserves room for them when src is null).
    // Returns KZ_OK; KZ_ERR_OUT_OF_MEMORY when the array had to grow and could
    // not (the array is then left as it was); KZ_ERR_TRUNCATED when only a
    // leading part fitted (mode eModeAllocNone); KZ_ERR_FAILED when nothing fitted.
    kz_result SetData(const void* src, unsigned long n, EKzByteArrayModeOp op, EKzByteArrayModeAlloc alloc);

    const unsigned char* GetData() const { return m_pData; }
    // Sets the size to n when n is neither 0 nor above the allocation (a caller
    // reserves with a null source, fills the bytes and announces their number).
    unsigned char* GetData(unsigned long n);

    unsigned long GetSize() const { return m_uiSize; }
    unsigned long GetAllocated() const { return m_uiAllocated; }
    // Size = n when n is not above the allocation, else nothing.
    void SetSize(unsigned long n);

    // KZ_ERR_INVALID_ARG when the position lies outside the allocation.
    kz_result SetCurrentOffset(unsigned long off);
    kz_result SetCurrentOffsetPtr(void* p);
    // The cursor, or 0 when it lies beyond the allocation.
    unsigned long GetCurrentOffset() const;
    unsigned char* GetCurrentOffsetPtr() const;

    // Exchanges the bytes held, with their allocation and cursor, with another
    // array (the increments stay): hands a large buffer on without copying it.
    void SwapData(CKzByteArray& other) noexcept
    {
        unsigned char* d = m_pData;
        m_pData = other.m_pData;
        other.m_pData = d;
        u64 t = m_uiCurrentOffset;
        m_uiCurrentOffset = other.m_uiCurrentOffset;
        other.m_uiCurrentOffset = t;
        t = m_uiSize;
        m_uiSize = other.m_uiSize;
        other.m_uiSize = t;
        t = m_uiAllocated;
        m_uiAllocated = other.m_uiAllocated;
        other.m_uiAllocated = t;
    }

    // Equal when the bytes held are equal; allocation, cursor and increment do not count.
    bool operator==(const CKzByteArray& other) const;
    bool operator!=(const CKzByteArray& other) const { return !(*this == other); }

private:
    unsigned char* m_pData;
    u64 m_uiCurrentOffset;
    u64 m_uiSize;
    u64 m_uiAllocated;
    u64 m_uiIncrement;
};
