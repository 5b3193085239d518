// Fixtures of the composition and unpacking tests: colour tables in the two
// layouts a LUT holds them in, mask words, marker records and pictures, all
// derived from a stateless hash of (seed, tag, index) that the reference
// generator (scripts/gen_composition_reference.py) computes the same way.
#pragma once

#include "gnr_picture/KzKernelsCompose.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kzc_test {

inline uint64_t Mix(uint64_t z)
{
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

inline uint64_t H(uint64_t seed, uint64_t tag, uint64_t i)
{
    return Mix(i ^ Mix(seed * 1000003ull + tag));
}

// Component LUT array of n components, rows x 3 entries of T per table.
// Layout 0: every component its own table, all pointer rows in one block and
// all entries in one block (component k's rows from entry k * rows * 3).
// Layout 1: every component points at one shared row-pointer LUT.
// Entry (v, c) of table t is fill(t, v, c). Each block is allocated at its
// exact size, so a read past the last row is caught by the sanitizers.
template <class T>
struct CompLut {
    std::unique_ptr<T[]> entries;
    std::unique_ptr<const T*[]> rowPtrs;
    std::unique_ptr<const T* const*[]> comps;
    size_t rows = 0, n = 0;

    template <class Fill>
    CompLut(size_t nComps, size_t nRows, int layout, Fill&& fill) : rows(nRows), n(nComps)
    {
        const size_t tabs = layout == 0 ? nComps : 1;
        entries.reset(new T[tabs * nRows * 3]);
        rowPtrs.reset(new const T*[tabs * nRows]);
        comps.reset(new const T* const*[nComps ? nComps : 1]);
        for (size_t t = 0; t < tabs; ++t)
            for (size_t v = 0; v < nRows; ++v) {
                for (int c = 0; c < 3; ++c)
                    entries[(t * nRows + v) * 3 + c] = T(fill(t, v, c));
                rowPtrs[t * nRows + v] = &entries[(t * nRows + v) * 3];
            }
        for (size_t k = 0; k < nComps; ++k)
            comps[k] = &rowPtrs[(layout == 0 ? k : 0) * nRows];
    }
    const T* const* const* get() const { return comps.get(); }
    const T* const* one() const { return comps[0]; }
    // Entry c of row v of component k.
    T at(size_t k, size_t v, int c) const { return comps[k][v][c]; }
};

// A heap buffer of exactly `bytes` bytes (16-byte aligned start), so a
// picture can end at the very end of its allocation.
struct Buffer {
    std::unique_ptr<uint8_t[]> store;
    size_t bytes = 0;
    explicit Buffer(size_t b) : store(new uint8_t[b ? b : 1]), bytes(b) {}
    uint8_t* data() { return store.get(); }
    const uint8_t* data() const { return store.get(); }
    uint16_t* words() { return reinterpret_cast<uint16_t*>(store.get()); }
};

}  // namespace kzc_test
