// Pictures for the dispatch tests: interleaved samples in the container of
// their depth, padded rows and a guard after the last row, all filled with
// seeded random bytes, so a test sees every byte a call wrote.
#pragma once

#include "gnr_picture/CKzPicBufAPI.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace pict {

struct Pic {
    unsigned width = 0, height = 0, comps = 0, bits = 0, stride = 0, sb = 0;
    std::vector<uint8_t> bytes;  // rows, then a guard row

    Pic() = default;
    Pic(unsigned w, unsigned h, unsigned c, unsigned b, uint32_t seed, unsigned pad = 5)
        : width(w), height(h), comps(c), bits(b)
    {
        sb = CKzPicBufAPI::CalcCompSize(b);
        stride = w * c * sb + pad * (sb ? sb : 1);  // rows start on a whole sample
        bytes.resize(size_t(stride) * (h + 1));
        std::mt19937 rng(seed);
        for (auto& x : bytes)
            x = uint8_t(rng());
        const uint64_t m = bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1;
        for (unsigned r = 0; r < h; ++r)
            for (unsigned i = 0; i < w * c; ++i)
                put(r, i, ((uint64_t(rng()) << 32) | rng()) & m);
    }
    uint8_t* data() { return bytes.data(); }
    const uint8_t* data() const { return bytes.data(); }
    unsigned count() const { return width * height; }
    uint64_t get(unsigned r, unsigned i) const
    {
        uint64_t v = 0;
        std::memcpy(&v, &bytes[size_t(r) * stride + size_t(i) * sb], sb);
        return v;
    }
    void put(unsigned r, unsigned i, uint64_t v) { std::memcpy(&bytes[size_t(r) * stride + size_t(i) * sb], &v, sb); }
    uint64_t max() const { return bits >= 64 ? ~uint64_t(0) : (uint64_t(1) << bits) - 1; }
};

// Mismatching samples reported with their place; padding and guard compared too.
inline ::testing::AssertionResult SameBytes(const Pic& got, const Pic& want)
{
    if (got.bytes.size() != want.bytes.size())
        return ::testing::AssertionFailure() << "sizes differ";
    for (size_t i = 0; i < got.bytes.size(); ++i)
        if (got.bytes[i] != want.bytes[i])
            return ::testing::AssertionFailure()
                   << "byte " << i << " (row " << i / got.stride << ", offset " << i % got.stride << "): got "
                   << int(got.bytes[i]) << ", want " << int(want.bytes[i]);
    return ::testing::AssertionSuccess();
}

} // namespace pict
