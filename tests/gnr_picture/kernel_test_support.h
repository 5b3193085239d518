// Test pictures for the pixel kernels: random samples, odd widths, padded
// rows and a guard region after the last row, so a test can check that a
// kernel wrote exactly the samples it should and nothing else.
#pragma once

#include "gnr_picture/KzKernelCommon.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace kzt {

struct TestPicture {
    uint32_t width = 0;
    uint32_t height = 0;     // rows the kernel is asked to process
    uint32_t comps = 0;
    uint32_t sampleBytes = 1;  // container: 1, 2 or 4
    uint32_t rowBytes = 0;
    std::vector<uint64_t> storage;  // 8-byte aligned backing store

    uint8_t* data() { return reinterpret_cast<uint8_t*>(storage.data()); }
    const uint8_t* data() const { return reinterpret_cast<const uint8_t*>(storage.data()); }
    size_t totalBytes() const { return storage.size() * 8; }
    size_t samplesPerRow() const { return size_t(width) * comps; }
    uint32_t count() const { return width * height; }

    // Sample i (pixel * comps + k) of row r, widened.
    uint64_t get(size_t r, size_t i) const
    {
        const uint8_t* p = data() + r * rowBytes + i * sampleBytes;
        switch (sampleBytes) {
        case 1:
            return *p;
        case 2: {
            uint16_t v;
            std::memcpy(&v, p, 2);
            return v;
        }
        default: {
            uint32_t v;
            std::memcpy(&v, p, 4);
            return v;
        }
        }
    }
    void put(size_t r, size_t i, uint64_t v)
    {
        uint8_t* p = data() + r * rowBytes + i * sampleBytes;
        switch (sampleBytes) {
        case 1: {
            const uint8_t b = uint8_t(v);
            *p = b;
            break;
        }
        case 2: {
            const uint16_t w = uint16_t(v);
            std::memcpy(p, &w, 2);
            break;
        }
        default: {
            const uint32_t w = uint32_t(v);
            std::memcpy(p, &w, 4);
            break;
        }
        }
    }
};

// A picture of width x height pixels whose rows carry `padSamples` extra
// containers of padding, followed by two guard rows; every byte (padding and
// guard included) is random. Samples are random values ANDed with valueMask.
inline TestPicture RandomPicture(uint32_t width, uint32_t height, uint32_t comps, uint32_t sampleBytes,
                                 uint64_t valueMask, uint32_t seed, uint32_t padSamples = 3)
{
    TestPicture p;
    p.width = width;
    p.height = height;
    p.comps = comps;
    p.sampleBytes = sampleBytes;
    p.rowBytes = (width * comps + padSamples) * sampleBytes;
    const size_t bytes = size_t(p.rowBytes) * (height + 2) + 8;
    p.storage.resize((bytes + 7) / 8);
    std::mt19937_64 rng(seed);
    for (auto& w : p.storage)
        w = rng();
    for (uint32_t r = 0; r < height; ++r)
        for (size_t i = 0; i < p.samplesPerRow(); ++i)
            p.put(r, i, rng() & valueMask);
    return p;
}

// Checks `after` against `before`: every sample of the processed rows equals
// expected(row, sampleIndex, beforeSample); every other byte (padding, guard
// rows) is unchanged.
inline void ExpectSamples(const TestPicture& before, const TestPicture& after,
                          const std::function<uint64_t(size_t, size_t, uint64_t)>& expected,
                          const char* what = "")
{
    ASSERT_EQ(before.totalBytes(), after.totalBytes());
    std::vector<bool> isSample(before.totalBytes(), false);
    int failures = 0;
    for (size_t r = 0; r < before.height; ++r) {
        for (size_t i = 0; i < before.samplesPerRow(); ++i) {
            const size_t off = r * before.rowBytes + i * before.sampleBytes;
            for (uint32_t b = 0; b < before.sampleBytes; ++b)
                isSample[off + b] = true;
            const uint64_t want = expected(r, i, before.get(r, i));
            const uint64_t got = after.get(r, i);
            if (want != got && failures++ < 5)
                ADD_FAILURE() << what << ": row " << r << " sample " << i << " (pixel " << i / before.comps
                              << ", comp " << i % before.comps << ") src " << before.get(r, i) << " want " << want
                              << " got " << got;
        }
    }
    for (size_t b = 0; b < before.totalBytes(); ++b)
        if (!isSample[b] && before.data()[b] != after.data()[b] && failures++ < 5)
            ADD_FAILURE() << what << ": byte " << b << " outside the samples changed";
}

// The x86 truncating conversion, written out for the references: NaN and
// values outside the int32 range give INT32_MIN.
inline int64_t RefTrunc32(double x)
{
    if (x != x || x >= 2147483648.0 || x <= -2147483649.0)
        return INT32_MIN;
    return static_cast<int64_t>(x);
}

inline uint64_t RefClamp(int64_t v, uint64_t limit)
{
    if (v < 0)
        return 0;
    return uint64_t(v) > limit ? limit : uint64_t(v);
}

// Runs body once for every instruction-set path this processor can take
// (plain, AVX2, AVX-512), so the vectorised and the plain row loops are all
// checked against the same reference.
inline void ForEachIsa(const std::function<void()>& body)
{
    static const char* const names[] = {"base", "avx2", "avx512"};
    const int saved = KzIsaLimit().load();
    KzIsaLimit().store(int(KzIsa::Avx512));
    const int detected = int(KzCpuIsa());
    for (int level = 0; level <= detected; ++level) {
        SCOPED_TRACE(names[level]);
        KzIsaLimit().store(level);
        body();
    }
    KzIsaLimit().store(saved);
}

// Component counts every family is tested with.
inline const std::vector<uint32_t>& TestComponentCounts()
{
    static const std::vector<uint32_t> counts = {1, 3, 4, 5};
    return counts;
}

} // namespace kzt
