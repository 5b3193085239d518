// Small helpers shared by the experiment model's records (internal).
#pragma once

#include "gnr_system/kz_base.h"
#include "gnr_system/CKzString.h"
#include "gnr_system/CKzLiteVariant.h"
#include "gnr_system/CKzVariant.h"

#include <cstddef>
#include <vector>

namespace kzexp {

// Copies at most cap - 1 characters of a text (null counts as empty) into a
// fixed array of cap characters and terminates it.
inline void SetFixed(wchar_t* dst, size_t cap, const wchar_t* src)
{
    size_t i = 0;
    if (src)
        for (; i + 1 < cap && src[i]; ++i) dst[i] = src[i];
    dst[i] = 0;
}

// Copies a fixed array into another of the same capacity, always terminated.
template <size_t N>
inline void CopyFixed(wchar_t (&dst)[N], const wchar_t (&src)[N])
{
    SetFixed(dst, N, src);
}

// Texts of fixed arrays compared up to their capacity.
template <size_t N>
inline bool FixedEqual(const wchar_t (&a)[N], const wchar_t (&b)[N])
{
    for (size_t i = 0; i < N; ++i) {
        if (a[i] != b[i]) return false;
        if (!a[i]) return true;
    }
    return true;
}

// Two doubles differ only when one is less or greater than the other, so a
// NaN on either side never makes two values differ.
inline bool DblEq(double a, double b) { return !(a < b || a > b); }

// Reads a text record of the open level into a fixed array.
template <size_t N>
inline void ReadFixed(CKzLiteVariantR& r, const wchar_t* name, wchar_t (&dst)[N])
{
    SetFixed(dst, N, r.Get(name, (const wchar_t*)L""));
}

// A signed 32-bit member of a variant node; 0 when it holds no number.
inline kz_int32 VarI32(const CKzVariant& v)
{
    bool ok = false;
    const kz_int32 x = v.GetKz_int32(&ok);
    return ok ? x : 0;
}

// A bool from a stored byte, made 0 or 1.
inline bool ByteFlag(const unsigned char* p, size_t i) { return p[i] != 0; }

// Reads the elements of a stored vector from the entered level `items` of
// the current level: element i from the i-th record while i < count and a
// record follows. Elements that exist keep their content where the record is
// no level; the vector ends with exactly the positions visited, so a stored
// count never allocates more than the records hold.
template <class T, class F>
void VectorFromLite(CKzLiteVariantR& r, std::vector<T>& vec, u32 count, const wchar_t* items, F readOne)
{
    size_t k = 0;
    if (count && r.LevelBegin(items) == KZ_OK) {
        while (k < count && r.IsNextValue()) {
            if (k >= vec.size()) vec.emplace_back();
            if (r.CurrentLevelBegin() == KZ_OK) {
                readOne(vec[k], r);
                r.LevelEnd();
            }
            ++k;
            if (r.NextValue() != KZ_OK) break;
        }
        r.LevelEnd();
    }
    if (k < vec.size()) vec.erase(vec.begin() + (std::ptrdiff_t)k, vec.end());
}

// Records from the cursor of the entered level, at most max; with levelsOnly
// the count stops at the first record that is no level. The cursor returns to
// the level's first record. Loaders size their arrays by it, so a stored count
// never allocates more than the records the blob holds.
inline u32 CountRecords(CKzLiteVariantR& r, u32 max, bool levelsOnly)
{
    u32 k = 0;
    while (k < max && r.IsNextValue()) {
        if (levelsOnly) {
            const int t = r.GetCurrentType();
            if (t != eKzLVLevel && t != eKzLVLevelAbsolute) break;
        }
        ++k;
        if (r.NextValue() != KZ_OK) break;
    }
    r.FirstValue();
    return k;
}

} // namespace kzexp
