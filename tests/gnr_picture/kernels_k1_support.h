// Tables and pictures shared by the depth, extraction, float and histogram
// kernel tests.
#pragma once

#include "kernel_test_support.h"

#include <cstdint>
#include <random>
#include <vector>

namespace k1t {

// Random flat table of exactly n entries (heap, so an index past it is caught
// by the address sanitizer).
template <class T>
std::vector<T> RandomFlat(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<T> t(n);
    for (auto& e : t)
        e = static_cast<T>(rng());
    return t;
}

// Row-pointer table of nRows rows of c entries in one block of exactly that
// size; rows are placed in reverse order, so a kernel that assumed row v at
// block + v * c would read the wrong entries.
template <class T>
struct Rows {
    std::vector<T> block;
    std::vector<const T*> rows;
    size_t comps;
    Rows(size_t nRows, size_t c, uint32_t seed) : block(nRows * c), rows(nRows), comps(c)
    {
        std::mt19937 rng(seed);
        for (auto& e : block)
            e = static_cast<T>(rng());
        for (size_t v = 0; v < nRows; ++v)
            rows[v] = block.data() + (nRows - 1 - v) * c;
    }
    const T* const* ptr() const { return rows.data(); }
    T at(size_t v, size_t k) const { return rows[v][k]; }
};

// Geometries every family runs: odd widths, a single column, and a count
// with a trailing partial row (the partial row must stay untouched).
struct Geometry {
    uint32_t width, height, extra;  // count = width * height + extra
};
inline const std::vector<Geometry>& Geometries()
{
    static const std::vector<Geometry> g = {{37, 5, 0}, {1, 3, 0}, {13, 4, 7}, {70, 2, 0}};
    return g;
}

} // namespace k1t
