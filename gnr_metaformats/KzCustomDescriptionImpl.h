// Internal helpers shared by the custom description item units: preset list
// operations and the three-way comparisons the item ordering is built from.
#pragma once

#include "gnr_metaformats/CKzCustomDescription.h"

#include <new>
#include <vector>

namespace kzdesc {

// Preset and label indexes beyond this are refused: a stored index or a
// caller's index cannot make a list of billions of entries.
constexpr int kMaxListEntries = 65536;

inline int Sign(int c) { return c < 0 ? -1 : (c > 0 ? 1 : 0); }

// -1 when a holds the flag and b does not ("flagged first").
inline int CompareFlagFirst(bool a, bool b)
{
    if (a == b) return 0;
    return a ? -1 : 1;
}

template <class T>
int CompareValue(const T& a, const T& b)
{
    if (a < b) return -1;
    if (b < a) return 1;
    return 0;
}

// Lexicographic order of preset lists; a proper prefix comes first.
template <class P>
int ComparePresets(const std::vector<P>& a, const std::vector<P>& b)
{
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        if (a[i] < b[i]) return -1;
        if (b[i] < a[i]) return 1;
    }
    return CompareValue(a.size(), b.size());
}

template <class P, class V>
int StorePresetOf(std::vector<P>& v, int index, const wchar_t* name, const V& value, bool empty)
{
    if (index < 0 || index >= kMaxListEntries) return KZ_ERR_FAILED;
    // The name may point into this list, which the growth may move.
    CKzStringW n(name ? name : L"");
    try {
        if ((size_t)index >= v.size()) v.resize((size_t)index + 1);
    } catch (...) {
        return KZ_ERR_OUT_OF_MEMORY;
    }
    P& p = v[(size_t)index];
    p.wsName = n;
    p.value = value;
    p.bEmpty = empty;
    return KZ_OK;
}

template <class P, class V>
int UsePresetOf(const std::vector<P>& v, int index, V& value, bool& empty)
{
    if (index < 0 || (size_t)index >= v.size()) return KZ_ERR_FAILED;
    value = v[(size_t)index].value;
    empty = v[(size_t)index].bEmpty;
    return KZ_OK;
}

template <class P>
int RemovePresetOf(std::vector<P>& v, int index)
{
    if (index < 0 || (size_t)index >= v.size()) return KZ_ERR_FAILED;
    v.erase(v.begin() + index);
    return KZ_OK;
}

template <class P>
const wchar_t* PresetNameOf(const std::vector<P>& v, int index)
{
    if (index < 0 || (size_t)index >= v.size()) return nullptr;
    return v[(size_t)index].wsName.GetString();
}

} // namespace kzdesc
