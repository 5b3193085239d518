// Component-count conversion against a scalar reference that builds the
// per-component weight tables literally, on random pictures with odd widths
// and padded rows.
#include "gnr_picture/KzKernelsB.h"
#include "gnr_picture/KzKernelsBCommon.h"
#include "kernel_test_support.h"

#include <gtest/gtest.h>

#include <random>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using kzt::ExpectSamples;
using kzt::RandomPicture;
using kzt::TestPicture;

namespace {

// Scaled weights as the collapse defines them: trunc(w S + 0.5) modulo 2^B
// for the weights read, the remainder for the one that is not.
std::vector<uint64_t> RefScaledWeights(const double* w, uint32_t n, bool remainderFirst, uint64_t S)
{
    std::vector<uint64_t> out(n);
    const uint64_t mod = S + 1;
    uint64_t sum = 0;
    for (uint32_t k = 0; k < n; ++k) {
        const bool isRemainder = remainderFirst ? k == 0 : k == n - 1;
        if (isRemainder)
            continue;
        const int64_t t = kzt::RefTrunc32(w[k] * double(S) + 0.5);
        out[k] = uint64_t(t) % mod;
        sum += out[k];
    }
    const uint64_t rest = (S + mod * n - sum % mod) % mod; // (S - sum) mod 2^B
    out[remainderFirst ? 0 : n - 1] = n == 1 ? S : rest;
    return out;
}

// Literal tables T_k[v] = floor(w'_k v / S) and the sum modulo 2^B.
uint64_t RefCollapse(const TestPicture& src, size_t r, size_t x, const std::vector<uint64_t>* w, uint64_t S)
{
    const uint32_t n = src.comps;
    uint64_t sum = 0;
    if (w) {
        for (uint32_t k = 0; k < n; ++k)
            sum += (*w)[k] * src.get(r, x * n + k) / S;
        return sum % (S + 1);
    }
    for (uint32_t k = 0; k < n; ++k)
        sum += src.get(r, x * n + k);
    const uint64_t add = n == 3 ? 1 : n == 4 ? 2 : n / 2;
    return (sum + add) / n;
}

using CollapseFn = int (*)(void*, uint32_t, const void*, uint32_t, const double*, uint32_t, uint32_t);
using CollapseNFn = int (*)(void*, uint32_t, const void*, uint32_t, uint32_t, const double*, uint32_t, uint32_t);

} // namespace

TEST(KzCollapse, EveryMemberMatchesScalarReference)
{
    struct Member {
        const char* name;
        CollapseFn fixed;
        CollapseNFn n;
        uint32_t bytes, comps;
    } members[] = {
        {"convert_3x8_to_1x8", convert_3x8_to_1x8, nullptr, 1, 3},
        {"convert_4x8_to_1x8", convert_4x8_to_1x8, nullptr, 1, 4},
        {"convert_Nx8_to_1x8", nullptr, convert_Nx8_to_1x8, 1, 0},
        {"convert_3x16_to_1x16", convert_3x16_to_1x16, nullptr, 2, 3},
        {"convert_4x16_to_1x16", convert_4x16_to_1x16, nullptr, 2, 4},
        {"convert_Nx16_to_1x16", nullptr, convert_Nx16_to_1x16, 2, 0},
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<double> weightSets[] = {
        {0.299, 0.587, 0.114, 0.0, 0.0},
        {0.2, 0.2, 0.2, 0.2, 0.2},
        {0.9, 0.8, 0.7, 0.6, 0.5}, // sums above 1: the remainder wraps
        {-0.1, 0.5, 1e20, nan, 0.25},
    };
    kzt::ForEachIsa([&] {
        for (const Member& m : members) {
            const uint64_t S = m.bytes == 1 ? 255 : 65535;
            const std::vector<uint32_t> counts = m.comps ? std::vector<uint32_t>{m.comps} : std::vector<uint32_t>{1, 3, 4, 5};
            for (uint32_t comps : counts) {
                for (int ws = -1; ws < int(std::size(weightSets)); ++ws) {
                    const double* w = ws < 0 ? nullptr : weightSets[ws].data();
                    for (uint32_t width : {35u, 64u, 97u}) {
                    const uint32_t height = 3;
                    const TestPicture src = RandomPicture(width, height, comps, m.bytes, S, 7 + comps);
                    const TestPicture d0 = RandomPicture(width, height, 1, m.bytes, S, 8, 1);
                    TestPicture d = d0;
                    const int rc = m.fixed ? m.fixed(d.data(), d.rowBytes, src.data(), src.rowBytes, w, width, d.count())
                                           : m.n(d.data(), d.rowBytes, src.data(), comps, src.rowBytes, w, width, d.count());
                    EXPECT_EQ(rc, 0);
                    std::vector<uint64_t> scaled;
                    if (w)
                        scaled = RefScaledWeights(w, comps, m.fixed == nullptr, S);
                    ExpectSamples(
                        d0, d, [&](size_t r, size_t x, uint64_t) { return RefCollapse(src, r, x, w ? &scaled : nullptr, S); },
                        (std::string(m.name) + " comps " + std::to_string(comps) + " weights " + std::to_string(ws) +
                         " width " + std::to_string(width)).c_str());
                    }
                }
            }
        }
    });
}

// Every 16-bit sample value through one weight: the entry floor(w' v / 65535)
// against 64-bit arithmetic, for weights at the ends and in between.
TEST(KzCollapse, EveryWordEntryIsExact)
{
    kzt::ForEachIsa([&] {
        for (double w0 : {0.0, 1.0 / 65535, 0.299, 0.5, 0.587, 0.9999, 1.0}) {
            const uint32_t width = 65536;
            std::vector<uint16_t> src(size_t(width) * 3, 0), dst(width, 0xEEEE);
            for (uint32_t v = 0; v < width; ++v)
                src[3 * size_t(v)] = uint16_t(v);
            const double w[3] = {w0, 0.0, 0.0};
            ASSERT_EQ(convert_3x16_to_1x16(dst.data(), width * 2, src.data(), width * 6, w, width, width), 0);
            const uint64_t scaled = uint64_t(int64_t(w0 * 65535 + 0.5)) & 0xFFFF;
            size_t bad = 0;
            for (uint32_t v = 0; v < width; ++v)
                bad += dst[v] != uint16_t(scaled * v / 65535);
            EXPECT_EQ(bad, 0u) << w0;
        }
    });
}

// A weighted collapse large enough for non-temporal stores, with rows at
// every alignment and padding that must stay untouched, at even addresses
// and, for the vector path (the plain loops take rows aligned to their
// samples), at odd ones, where no store can be aligned.
TEST(KzCollapse, LargeWeightedPicture)
{
    struct Case {
        uint32_t dstPad, offset;
    } cases[] = {{6, 2}, {6, 1}};
    kzt::ForEachIsa([&] {
        for (const Case& c : cases) {
            if (c.offset % 2 != 0 && KzCpuIsa() != KzIsa::Avx512)
                continue;
            const uint32_t width = 2101, height = 2000, srcRB = width * 6 + 2, dstRB = width * 2 + c.dstPad;
            const uint32_t offset = c.offset;
            std::vector<uint16_t> src(size_t(srcRB / 2) * height);
            std::mt19937 rng(11);
            for (auto& v : src)
                v = uint16_t(rng());
            std::vector<uint8_t> store(size_t(dstRB) * height + offset + 64, 0xA5);
            uint8_t* dst = store.data() + offset;
            const double w[3] = {0.299, 0.587, 0.114};
            ASSERT_EQ(convert_3x16_to_1x16(dst, dstRB, src.data(), srcRB, w, width, width * height), 0);
            const uint64_t w0 = 19595, w1 = 38469, w2 = 65535 - w0 - w1; // 0.299 and 0.587 scaled, the remainder
            size_t bad = 0;
            for (uint32_t r = 0; r < height; ++r) {
                const uint16_t* s = src.data() + size_t(r) * (srcRB / 2);
                const uint8_t* d = dst + size_t(r) * dstRB;
                for (uint32_t x = 0; x < width; ++x) {
                    const uint16_t want = uint16_t(w0 * s[3 * x] / 65535 + w1 * s[3 * x + 1] / 65535 +
                                                   w2 * s[3 * x + 2] / 65535);
                    uint16_t got;
                    std::memcpy(&got, d + 2 * size_t(x), 2);
                    bad += got != want;
                }
                for (uint32_t p = 0; p < c.dstPad; ++p)
                    bad += d[size_t(width) * 2 + p] != 0xA5;
            }
            for (uint32_t p = 0; p < offset; ++p)
                bad += store[p] != 0xA5;
            EXPECT_EQ(bad, 0u) << "offset " << offset << " row bytes " << dstRB;
        }
    });
}

// Weighted three-word collapse with the output starting at every byte
// offset within a cache line (odd ones on the vector path), rows of every length
// around the vector width, and in place: the pixels before the first 64-byte
// boundary of a row and after the last whole step are computed exactly, and
// nothing outside the rows is written.
TEST(KzCollapse, WordRowsAtEveryOffsetAndInPlace)
{
    struct Case {
        uint32_t width, height, offsets; // offsets 0..offsets-1 bytes
        bool inPlace;
    } cases[] = {
        {1, 2, 64, false},   {5, 3, 64, false},  {31, 2, 64, false}, {32, 2, 64, false},
        {33, 3, 64, false},  {63, 2, 64, false}, {64, 2, 66, false}, {95, 3, 64, false},
        {97, 4, 64, false},  {300, 3, 64, false}, {1, 2, 8, true},   {40, 3, 8, true},
        {129, 5, 8, true},   {300, 3, 8, true},
    };
    const double w[3] = {0.299, 0.587, 0.114};
    const uint64_t w0 = 19595, w1 = 38469, w2 = 65535 - w0 - w1;
    kzt::ForEachIsa([&] {
        for (const Case& c : cases) {
            for (uint32_t offset = 0; offset < c.offsets; ++offset) {
                if (offset % 2 != 0 && KzCpuIsa() != KzIsa::Avx512)
                    continue;
                const uint32_t srcRB = c.width * 6 + 4, dstRB = c.inPlace ? srcRB : c.width * 2 + 10;
                std::vector<uint16_t> pixels(size_t(srcRB / 2) * c.height);
                std::mt19937 rng(c.width * 131 + offset);
                for (auto& v : pixels)
                    v = uint16_t(rng());
                pixels[0] = 65535; // the largest entries
                if (pixels.size() > 2)
                    pixels[1] = pixels[2] = 65535;
                std::vector<uint8_t> store(size_t(srcRB) * c.height + offset + 64, 0xA5);
                uint8_t* dst = store.data() + offset;
                const void* src = pixels.data();
                if (c.inPlace) {
                    std::memcpy(dst, pixels.data(), pixels.size() * 2);
                    src = dst;
                }
                const std::vector<uint8_t> before = store;
                ASSERT_EQ(convert_3x16_to_1x16(dst, dstRB, src, srcRB, w, c.width, c.width * c.height), 0);
                size_t bad = 0;
                for (uint32_t r = 0; r < c.height; ++r) {
                    const uint16_t* s = pixels.data() + size_t(r) * (srcRB / 2);
                    const size_t row = size_t(offset) + size_t(r) * dstRB;
                    for (uint32_t x = 0; x < c.width; ++x) {
                        const uint16_t want = uint16_t(w0 * s[3 * x] / 65535 + w1 * s[3 * x + 1] / 65535 +
                                                       w2 * s[3 * x + 2] / 65535);
                        uint16_t got;
                        std::memcpy(&got, store.data() + row + 2 * size_t(x), 2);
                        bad += got != want;
                    }
                    // Bytes up to the next row's start keep what they held.
                    const size_t end = row + size_t(c.width) * 2;
                    const size_t next = r + 1 < c.height ? row + dstRB : store.size();
                    for (size_t b = end; b < next; ++b)
                        bad += store[b] != before[b];
                }
                for (uint32_t b = 0; b < offset; ++b)
                    bad += store[b] != 0xA5;
                EXPECT_EQ(bad, 0u) << "width " << c.width << " offset " << offset << " in place " << c.inPlace;
            }
        }
    });
}

TEST(KzCollapse, EdgeCases)
{
    const double luma[3] = {0.299, 0.587, 12345.0}; // the third weight is never read
    uint8_t px[6] = {255, 255, 255, 100, 100, 100}, out[2] = {0, 0};
    EXPECT_EQ(convert_3x8_to_1x8(out, 2, px, 6, luma, 2, 2), 0);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 98); // 29 + 58 + 11

    const uint16_t px16[3] = {4095, 4095, 4095};
    uint16_t out16 = 0;
    EXPECT_EQ(convert_3x16_to_1x16(&out16, 2, px16, 6, luma, 1, 1), 0);
    EXPECT_EQ(out16, 4093);

    // The first weight of the N member has no effect.
    const double wA[3] = {0.0, 0.587, 0.114}, wB[3] = {99.0, 0.587, 0.114};
    uint8_t o1 = 0, o2 = 0;
    const uint8_t p3[3] = {10, 200, 30};
    EXPECT_EQ(convert_Nx8_to_1x8(&o1, 1, p3, 3, 3, wA, 1, 1), 0);
    EXPECT_EQ(convert_Nx8_to_1x8(&o2, 1, p3, 3, 3, wB, 1, 1), 0);
    EXPECT_EQ(o1, o2);

    // Means without weights.
    const uint8_t m3[3] = {10, 20, 31}, m4[4] = {1, 2, 3, 4}, m5[5] = {1, 2, 3, 4, 5};
    EXPECT_EQ(convert_3x8_to_1x8(&o1, 1, m3, 3, nullptr, 1, 1), 0);
    EXPECT_EQ(o1, 20);
    EXPECT_EQ(convert_4x8_to_1x8(&o1, 1, m4, 4, nullptr, 1, 1), 0);
    EXPECT_EQ(o1, 3);
    EXPECT_EQ(convert_Nx8_to_1x8(&o1, 1, m5, 5, 5, nullptr, 1, 1), 0);
    EXPECT_EQ(o1, 3);

    // One component with weights copies; no component is refused.
    const uint16_t one[3] = {0, 1234, 65535};
    uint16_t copy[3] = {9, 9, 9};
    const double w1[1] = {0.3};
    EXPECT_EQ(convert_Nx16_to_1x16(copy, 6, one, 1, 6, w1, 3, 3), 0);
    EXPECT_EQ(std::memcmp(copy, one, sizeof one), 0);
    EXPECT_EQ(convert_Nx16_to_1x16(copy, 6, one, 0, 6, w1, 3, 3), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(convert_Nx8_to_1x8(out, 2, px, 0, 6, nullptr, 2, 2), KZ_ERR_INVALID_ARG);
}

TEST(KzExpand, EveryMemberMatchesScalarReference)
{
    using ExpandFn = int (*)(KZ_EXPAND_ARGS);
    using ReplNFn = int (*)(void*, uint32_t, uint32_t, const void*, uint32_t, uint32_t, uint32_t);
    using FourthFn = int (*)(void*, uint32_t, const void*, uint32_t, int32_t, uint32_t, uint32_t);
    enum Shape { Rep3, OneTo4, FourTo3, ThreeTo4, RepN };
    struct Member {
        const char* name;
        ExpandFn fn;
        ReplNFn nfn;
        FourthFn ffn;
        Shape shape;
        uint32_t bytes, srcComps, dstComps;
    } members[] = {
        {"convert_1x8_to_3x8", convert_1x8_to_3x8, nullptr, nullptr, Rep3, 1, 1, 3},
        {"convert_1x16_to_3x16", convert_1x16_to_3x16, nullptr, nullptr, Rep3, 2, 1, 3},
        {"convert_1x8_to_4x8", convert_1x8_to_4x8, nullptr, nullptr, OneTo4, 1, 1, 4},
        {"convert_1x16_to_4x16", convert_1x16_to_4x16, nullptr, nullptr, OneTo4, 2, 1, 4},
        {"convert_4x8_to_3x8", convert_4x8_to_3x8, nullptr, nullptr, FourTo3, 1, 4, 3},
        {"convert_4x16_to_3x16", convert_4x16_to_3x16, nullptr, nullptr, FourTo3, 2, 4, 3},
        {"convert_3x8_to_4x8", nullptr, nullptr, convert_3x8_to_4x8, ThreeTo4, 1, 3, 4},
        {"convert_3x16_to_4x16", nullptr, nullptr, convert_3x16_to_4x16, ThreeTo4, 2, 3, 4},
        {"convert_1x8_to_Nx8", nullptr, convert_1x8_to_Nx8, nullptr, RepN, 1, 1, 0},
        {"convert_1x16_to_Nx16", nullptr, convert_1x16_to_Nx16, nullptr, RepN, 2, 1, 0},
    };
    const int32_t fourth = 300;
    kzt::ForEachIsa([&] {
        for (const Member& m : members) {
            // Every count with a specialised loop, and one past them (the
            // vector replication takes 2..16 components).
            const std::vector<uint32_t> counts = m.dstComps ? std::vector<uint32_t>{m.dstComps}
                                                            : std::vector<uint32_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 16, 17};
            for (uint32_t dc : counts) {
                // Widths below, at and past whole vectors of 64 bytes.
                for (uint32_t width : {1u, 37u, 64u, 131u}) {
                    const uint32_t height = 3;
                    const uint64_t full = m.bytes == 1 ? 0xFF : 0xFFFF;
                    const TestPicture src = RandomPicture(width, height, m.srcComps, m.bytes, full, 3 + width);
                    const TestPicture d0 = RandomPicture(width, height, dc, m.bytes, full, 4, 2);
                    TestPicture d = d0;
                    int rc;
                    if (m.fn)
                        rc = m.fn(d.data(), d.rowBytes, src.data(), src.rowBytes, width, d.count());
                    else if (m.nfn)
                        rc = m.nfn(d.data(), dc, d.rowBytes, src.data(), src.rowBytes, width, d.count());
                    else
                        rc = m.ffn(d.data(), d.rowBytes, src.data(), src.rowBytes, fourth, width, d.count());
                    EXPECT_EQ(rc, 0);
                    ExpectSamples(
                        d0, d,
                        [&](size_t r, size_t i, uint64_t) -> uint64_t {
                            const size_t x = i / dc, k = i % dc;
                            switch (m.shape) {
                            case OneTo4: return k == 3 ? 0 : src.get(r, x);
                            case FourTo3: return src.get(r, x * 4 + k);
                            case ThreeTo4: return k == 3 ? uint64_t(fourth) & full : src.get(r, x * 3 + k);
                            default: return src.get(r, x);
                            }
                        },
                        (std::string(m.name) + " comps " + std::to_string(dc) + " width " + std::to_string(width)).c_str());
                }
            }
        }
    });
}

// Large destinations (written with non-temporal stores where the vector path
// runs) at every alignment of their rows, padding untouched.
TEST(KzExpand, LargeDestinationsAtAnyAlignment)
{
    struct Case {
        uint32_t bytes, width, height, padding, offset;
    } cases[] = {
        {2, 1000, 1500, 6, 2},   // rows 6006 bytes apart, start 2 bytes past a boundary
        {2, 1024, 1400, 0, 0},   // rows of whole vectors
        {2, 999, 1500, 2, 34},
        {1, 3000, 1000, 1, 1},   // byte samples: odd row bytes
        {1, 2731, 1100, 5, 63},
    };
    kzt::ForEachIsa([&] {
        for (const Case& c : cases) {
            const uint32_t srcRB = c.width * c.bytes + 4;
            const uint32_t dstRB = c.width * 3 * c.bytes + c.padding;
            std::vector<uint8_t> src(size_t(srcRB) * c.height);
            std::mt19937 rng(c.width);
            for (auto& b : src)
                b = uint8_t(rng());
            std::vector<uint8_t> store(size_t(dstRB) * c.height + c.offset + 64, 0xA5);
            uint8_t* dst = store.data() + c.offset;
            const uint32_t count = c.width * c.height;
            const int rc = c.bytes == 1 ? convert_1x8_to_3x8(dst, dstRB, src.data(), srcRB, c.width, count)
                                        : convert_1x16_to_3x16(dst, dstRB, src.data(), srcRB, c.width, count);
            ASSERT_EQ(rc, 0);
            size_t bad = 0;
            for (uint32_t r = 0; r < c.height; ++r) {
                const uint8_t* d = dst + size_t(r) * dstRB;
                const uint8_t* s = src.data() + size_t(r) * srcRB;
                for (uint32_t x = 0; x < c.width; ++x)
                    for (uint32_t k = 0; k < 3; ++k)
                        bad += std::memcmp(d + (size_t(x) * 3 + k) * c.bytes, s + size_t(x) * c.bytes, c.bytes) != 0;
                for (uint32_t p = 0; p < c.padding; ++p)
                    bad += d[size_t(c.width) * 3 * c.bytes + p] != 0xA5;
            }
            for (uint32_t p = 0; p < c.offset; ++p)
                bad += store[p] != 0xA5;
            EXPECT_EQ(bad, 0u) << c.bytes << " " << c.width << " " << c.offset;
        }
    });
}

TEST(KzExpand, EdgeCases)
{
    const uint8_t s[2] = {7, 9};
    uint8_t d4[8];
    std::memset(d4, 0xEE, sizeof d4);
    EXPECT_EQ(convert_1x8_to_4x8(d4, 8, s, 2, 2, 2), 0);
    const uint8_t want4[8] = {7, 7, 7, 0, 9, 9, 9, 0};
    EXPECT_EQ(std::memcmp(d4, want4, 8), 0);
    const uint8_t rgb[3] = {1, 2, 3};
    EXPECT_EQ(convert_3x8_to_4x8(d4, 4, rgb, 3, 300, 1, 1), 0);
    EXPECT_EQ(d4[3], 44);
    // nComp 0 and width 0 touch nothing.
    std::memset(d4, 0xEE, sizeof d4);
    EXPECT_EQ(convert_1x8_to_Nx8(d4, 0, 8, s, 2, 2, 2), 0);
    EXPECT_EQ(convert_1x8_to_3x8(d4, 8, s, 2, 0, 2), 0);
    EXPECT_EQ(convert_4x8_to_3x8(d4, 8, s, 2, 3, 2), 0);
    for (uint8_t b : d4)
        EXPECT_EQ(b, 0xEE);
}

// The shift-only division behind the weighted sum and the collapse tables.
TEST(KzDivByMask, ExactBelowMaskTimesPowerOfTwo)
{
    for (unsigned b = 1; b <= 12; ++b) {
        const uint32_t m = (1u << b) - 1;
        for (uint32_t n = 0; n < m * (m + 1); ++n)
            ASSERT_EQ(KzbDivByMask<uint32_t>(n, b), n / m) << "b " << b << " n " << n;
    }
    for (unsigned b : {13u, 14u, 15u, 16u}) {
        const uint64_t m = (1u << b) - 1;
        for (uint64_t q = 0; q <= m; ++q)
            for (uint64_t r : {uint64_t(0), uint64_t(1), m / 2, m - 1}) {
                const uint64_t n = q * m + r;
                if (n >= m * (m + 1))
                    continue;
                ASSERT_EQ(KzbDivByMask<uint64_t>(n, b), q) << "b " << b << " n " << n;
                if (n < 0xFFFFFFFFull - m)
                    ASSERT_EQ(KzbDivByMask<uint32_t>(uint32_t(n), b), q) << "b " << b << " n " << n;
            }
    }
}
