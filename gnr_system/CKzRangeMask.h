// Set of indices below a size, kept as one arithmetic range (first, span,
// step) while it can be, and as 64-bit mask words (bit i % 64 of word i / 64)
// when a change cannot be expressed as a range.
//
// Invariants: no bit at or beyond the size is ever set; in mask form first and
// span bound the set bits (span 0: no member); a step of 0, from a caller or
// from a stored blob, counts as 1.
#pragma once

#include "gnr_system/kz_base.h"

#define KZ_RM_HIDDEN __attribute__((visibility("hidden")))

class CKzByteArray;
class CKzStringW;
class CKzLiteVariantW;
class CKzLiteVariantR;

class KZ_EXPORT CKzRangeMask {
public:
    CKzRangeMask();
    CKzRangeMask(unsigned int size, unsigned int first, unsigned int last, unsigned int step);
    explicit CKzRangeMask(unsigned long word);
    explicit CKzRangeMask(const CKzByteArray& bytes);
    CKzRangeMask(const CKzRangeMask& other);
    CKzRangeMask& operator=(const CKzRangeMask& other);
    ~CKzRangeMask();

    // Every index a member (range 0 .. size - 1).
    void Set();
    // No member.
    void Reset();
    void SetRange(unsigned int a, unsigned int b, unsigned int step);
    // 0, or -3 when the mask words cannot grow (nothing changes then).
    int SetSize(unsigned int n);
    unsigned int GetSize() const { return m_uiSize; }
    unsigned int GetStep() const { return m_uiStep; }
    int GetFirst(unsigned int* first) const;
    int GetLast(unsigned int* last) const;
    int GetRange(unsigned int* first, unsigned int* last, unsigned int* step) const;
    bool IsUniform(unsigned int = 0) const { return m_uiStep != 0; }
    // True in mask form.
    bool IsMaskForm() const { return m_pWords != nullptr; }

    bool Get(unsigned int i) const;
    bool operator[](unsigned int i) const { return Get(i); }
    // Sets or clears index i (growing the size to i + 1 when needed); returns
    // the previous membership. When memory runs out nothing changes and
    // AllocFailed() turns true.
    bool Set(unsigned int i, bool v);
    bool Reset(unsigned int i) { return Set(i, false); }
    bool Toggle(unsigned int i) { return Set(i, !Get(i)); }
    // Members at 0 .. i (i <= 0: all).
    unsigned int GetCount(int i = 0) const;
    // Members among the n indices from a.
    unsigned int Sum(unsigned int a, unsigned int n) const;
    bool IsSet() const;
    // Every index below n (clipped to the size) is a member; n of 0 means all.
    bool IsSet(unsigned int n) const;
    bool IsReset() const;
    bool IsReset(unsigned int n) const;
    static bool IsMaskFull(const unsigned long* words, unsigned int n);
    static bool IsMaskNull(const unsigned long* words, unsigned int n);
    // Mask form only (-9 in range form). FindFirst gives 0 when there is no
    // member, FindLast -1.
    int FindFirst(int start) const;
    int FindLast(int start) const;

    // The mask words (building them in range form); null when memory runs out.
    const unsigned long* GetMask();
    int ConvertRangeToMask(unsigned int first, unsigned int span, unsigned int step);
    int ConvertMaskToRange();
    // -3 when memory runs out; a null word array gives an empty mask of size n.
    int SetMask(unsigned int n, const unsigned long* words);
    int SetMask(unsigned long word) { return SetMask(64, &word); }
    int SetMask(const CKzByteArray& bytes);
    int SetMask(const wchar_t* text);
    int GetMask(CKzByteArray& bytes) const;
    void GetMask(wchar_t* out) const;
    CKzStringW GetComponentsMask() const;

    CKzRangeMask& operator&=(const CKzRangeMask& o);
    CKzRangeMask& operator|=(const CKzRangeMask& o);
    CKzRangeMask& operator^=(const CKzRangeMask& o);
    CKzRangeMask& Invert();
    CKzRangeMask& operator<<=(unsigned int n);
    CKzRangeMask& operator>>=(unsigned int n);
    CKzRangeMask operator&(const CKzRangeMask& o) const { CKzRangeMask r(*this); r &= o; return r; }
    CKzRangeMask operator|(const CKzRangeMask& o) const { CKzRangeMask r(*this); r |= o; return r; }
    CKzRangeMask operator^(const CKzRangeMask& o) const { CKzRangeMask r(*this); r ^= o; return r; }
    CKzRangeMask operator~() const { CKzRangeMask r(*this); r.Invert(); return r; }
    CKzRangeMask operator<<(unsigned int n) const { CKzRangeMask r(*this); r <<= n; return r; }
    CKzRangeMask operator>>(unsigned int n) const { CKzRangeMask r(*this); r >>= n; return r; }
    bool operator==(const CKzRangeMask& o) const;
    bool operator!=(const CKzRangeMask& o) const { return !(*this == o); }

    int SaveToLiteVariant(CKzLiteVariantW& w) const;
    int LoadFromLiteVariant(CKzLiteVariantR& r);

    // True once an allocation of mask words failed (the mask stayed as it was).
    bool AllocFailed() const { return m_bAllocFailed; }

    static const CKzRangeMask FULL_MASK;
    static const unsigned char s_pOnes[256];
    static const unsigned char s_pMaskLeft[8];
    static const unsigned char s_pMaskRight[8];

private:
    KZ_RM_HIDDEN u64 wordCount() const { return ((u64)m_uiSize + 63) / 64; }
    KZ_RM_HIDDEN u32 step() const { return m_uiStep ? m_uiStep : 1; }
    KZ_RM_HIDDEN void freeWords();
    // Builds the mask words from the range; false when memory runs out.
    KZ_RM_HIDDEN bool toMask();
    // Membership bits of this mask for indices below limit, into nw words.
    KZ_RM_HIDDEN void fillWords(u64* out, u64 nw, u64 limit) const;
    KZ_RM_HIDDEN void clearTail();
    KZ_RM_HIDDEN void recomputeBounds();
    KZ_RM_HIDDEN i64 nextMember(u64 start) const;  // mask form; -1 when none
    KZ_RM_HIDDEN i64 prevMember(i64 start) const;  // mask form; -1 when none
    KZ_RM_HIDDEN u64 countUpTo(u64 i) const;       // members at 0 .. i
    enum EOp { eAnd, eOr, eXor };
    KZ_RM_HIDDEN CKzRangeMask& combine(const CKzRangeMask& o, EOp op);

    u32 m_uiSize;
    u32 m_uiFirst;
    u32 m_uiSpan;
    u32 m_uiStep;
    u64* m_pWords;
    bool m_bAllocFailed;
};
