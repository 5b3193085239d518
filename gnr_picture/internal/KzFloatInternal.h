// Small helpers shared by the float picture sources.
#pragma once

#include "gnr_system/kz_base.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace kzf {

// Rows a raw block holds: count / width (0 for width 0).
inline size_t RowsOf(unsigned width, unsigned long count)
{
    return width == 0 ? 0 : size_t(count / width);
}

// Row r of a block with a byte stride.
template <class T>
inline T* FRowOf(T* base, unsigned stride, size_t r)
{
    using B = std::conditional_t<std::is_const_v<T>, const unsigned char, unsigned char>;
    return reinterpret_cast<T*>(reinterpret_cast<B*>(base) + r * size_t(stride));
}

// Ascending total order of floats with NaN above every number (NaNs equal).
inline bool FloatLess(float a, float b)
{
    if (a != a)
        return false;
    if (b != b)
        return true;
    return a < b;
}

// The marker of a sample that holds no value.
inline constexpr float kInvalid = -3.4028235e38f;

} // namespace kzf
