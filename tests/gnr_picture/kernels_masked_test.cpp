// Masked copies, fills and single-component operations against plain scalar
// references on random pictures with odd widths and padded rows.
#include "gnr_picture/KzKernelsB.h"
#include "gnr_picture/KzKernelsBCommon.h"
#include "kernel_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using kzt::ExpectSamples;
using kzt::RandomPicture;
using kzt::TestPicture;

namespace {

uint64_t FullMask(uint32_t sampleBytes)
{
    return sampleBytes == 4 ? 0xFFFFFFFFull : (1ull << (8 * sampleBytes)) - 1;
}

// A label mask of one sample a pixel holding labels 0..3 and, at a few
// places, a large value.
TestPicture LabelMask(uint32_t width, uint32_t height, uint32_t sampleBytes, uint32_t seed)
{
    TestPicture m = RandomPicture(width, height, 1, sampleBytes, 3, seed, 1);
    m.put(0, 0, sampleBytes == 1 ? 255 : 65535);
    return m;
}

using CopyMaskFn = int (*)(KZ_COPYMASK_ARGS);
using CopyMask3Fn = int (*)(KZ_COPYMASK3_ARGS);

} // namespace

TEST(KzCopyMask, EveryMemberMatchesScalarReference)
{
    struct Member {
        const char* name;
        CopyMaskFn fn;
        CopyMask3Fn fn3;
        uint32_t maskBytes;
        bool in;
    } members[] = {
        {"copymask_8_in", copymask_8_in, nullptr, 1, true},
        {"copymask_8_out", copymask_8_out, nullptr, 1, false},
        {"copymask_16_in", copymask_16_in, nullptr, 2, true},
        {"copymask_16_out", copymask_16_out, nullptr, 2, false},
        {"copymask_16_3x8_in", nullptr, copymask_16_3x8_in, 2, true},
        {"copymask_16_3x8_out", nullptr, copymask_16_3x8_out, 2, false},
    };
    // bits -> (container bytes of the test picture, samples per component).
    struct Depth {
        uint32_t bits, sampleBytes, perComp;
    } depths[] = {{8, 1, 1}, {6, 1, 1}, {12, 2, 1}, {16, 2, 1}, {24, 1, 3}, {32, 4, 1}};
    kzt::ForEachIsa([&] {
        for (const Member& m : members) {
            for (uint32_t comps : kzt::TestComponentCounts()) {
                for (const Depth& dp : depths) {
                    if (m.fn3 && (comps != 3 || dp.bits != 8))
                        continue;
                    // Widths around the 64-pixel blocks of the vector path.
                    for (uint32_t width : {29u, 63u, 64u, 65u, 127u, 130u, 192u})
                    for (int32_t key : {0, 2, 255, 65535, 300, -1}) {
                        const uint32_t height = 4;
                        const uint32_t samples = comps * dp.perComp;
                        const TestPicture mask = LabelMask(width, height, m.maskBytes, 3 + comps);
                        const TestPicture src = RandomPicture(width, height, samples, dp.sampleBytes,
                                                              FullMask(dp.sampleBytes), 5);
                        const TestPicture d0 = RandomPicture(width, height, samples, dp.sampleBytes,
                                                             FullMask(dp.sampleBytes), 6, 2);
                        TestPicture d = d0;
                        const int rc = m.fn ? m.fn(d.data(), d.rowBytes, src.data(), src.rowBytes, comps, dp.bits,
                                                   mask.data(), mask.rowBytes, width, d.count(), key)
                                            : m.fn3(d.data(), d.rowBytes, src.data(), src.rowBytes, mask.data(),
                                                    mask.rowBytes, width, d.count(), key);
                        EXPECT_EQ(rc, 0);
                        const std::string what = std::string(m.name) + " comps " + std::to_string(comps) +
                                                 " bits " + std::to_string(dp.bits) + " key " + std::to_string(key) +
                                                 " width " + std::to_string(width);
                        ExpectSamples(
                            d0, d,
                            [&](size_t r, size_t i, uint64_t old) {
                                const bool eq = int64_t(mask.get(r, i / samples)) == int64_t(key);
                                return eq == m.in ? src.get(r, i) : old;
                            },
                            what.c_str());
                    }
                }
            }
        }
    });
}

TEST(KzCopyMask, KeyOutsideTheMaskRange)
{
    const TestPicture mask = LabelMask(7, 3, 1, 1);
    const TestPicture src = RandomPicture(7, 3, 1, 1, 0xFF, 2);
    const TestPicture d0 = RandomPicture(7, 3, 1, 1, 0xFF, 3);
    TestPicture d = d0;
    EXPECT_EQ(copymask_8_in(d.data(), d.rowBytes, src.data(), src.rowBytes, 1, 8, mask.data(), mask.rowBytes, 7,
                            d.count(), 300),
              0);
    EXPECT_EQ(std::memcmp(d.data(), d0.data(), d.totalBytes()), 0) << "key 300 selects nothing";
    EXPECT_EQ(copymask_8_out(d.data(), d.rowBytes, src.data(), src.rowBytes, 1, 8, mask.data(), mask.rowBytes, 7,
                             d.count(), 300),
              0);
    ExpectSamples(d0, d, [&](size_t r, size_t i, uint64_t) { return src.get(r, i); }, "key 300 out copies all");
}

// ---------------------------------------------------------------------------
// Fills
// ---------------------------------------------------------------------------

TEST(KzFill, SetAndChangeMatchScalarReference)
{
    for (uint32_t sampleBytes : {1u, 2u}) {
        for (uint32_t comps : kzt::TestComponentCounts()) {
            for (uint32_t width : {1u, 2u, 3u, 37u}) {
                const uint32_t height = 4;
                const std::string what =
                    "bytes " + std::to_string(sampleBytes) + " comps " + std::to_string(comps) + " width " + std::to_string(width);
                std::vector<uint16_t> v16(comps);
                std::vector<uint8_t> v8(comps);
                for (uint32_t k = 0; k < comps; ++k) {
                    v16[k] = uint16_t(1000 * k + 7);
                    v8[k] = uint8_t(10 * k + 7);
                }
                auto val = [&](size_t k) -> uint64_t { return sampleBytes == 1 ? v8[k] : v16[k]; };
                const void* value = sampleBytes == 1 ? (const void*)v8.data() : (const void*)v16.data();

                const TestPicture d0 = RandomPicture(width, height, comps, sampleBytes, FullMask(sampleBytes), 3);
                TestPicture d = d0;
                const int rc = sampleBytes == 1 ? set_Nx8(d.data(), comps, d.rowBytes, value, width, d.count())
                                                : set_Nx16(d.data(), comps, d.rowBytes, value, width, d.count());
                EXPECT_EQ(rc, 0);
                ExpectSamples(d0, d, [&](size_t, size_t i, uint64_t) { return val(i % comps); }, ("set " + what).c_str());

                // change: a picture where about half of the pixels equal the old value.
                TestPicture c0 = RandomPicture(width, height, comps, sampleBytes, 1, 4);
                std::vector<uint16_t> old16(comps, 1), new16(comps);
                std::vector<uint8_t> old8(comps, 1), new8(comps);
                for (uint32_t k = 0; k < comps; ++k) {
                    new16[k] = uint16_t(50000 + k);
                    new8[k] = uint8_t(200 + k);
                }
                TestPicture c = c0;
                const int rc2 = sampleBytes == 1
                                    ? change_Nx8(c.data(), comps, c.rowBytes, new8.data(), old8.data(), width, c.count())
                                    : change_Nx16(c.data(), comps, c.rowBytes, new16.data(), old16.data(), width,
                                                  c.count());
                EXPECT_EQ(rc2, 0);
                ExpectSamples(
                    c0, c,
                    [&](size_t r, size_t i, uint64_t old) {
                        const size_t px = i / comps;
                        bool all = true;
                        for (uint32_t k = 0; k < comps; ++k)
                            all &= c0.get(r, px * comps + k) == 1;
                        return all ? (sampleBytes == 1 ? uint64_t(new8[i % comps]) : uint64_t(new16[i % comps])) : old;
                    },
                    ("change " + what).c_str());
            }
        }
    }
}

// Three-byte pixels: the vector path compares 64 pixels (192 bytes) at a
// time, and the pixels at bytes 63 and 126 of each block span two vectors.
// Rows around those boundaries, with most bytes equal to the old value so that
// full and partial matches (two bytes of three) fall on every position.
TEST(KzFill, Change3x8AcrossVectorBoundaries)
{
    const uint8_t oldV[3] = {9, 200, 9}, newV[3] = {1, 2, 3};
    kzt::ForEachIsa([&] {
        for (uint32_t width : {20u, 21u, 22u, 42u, 43u, 63u, 64u, 65u, 85u, 127u, 128u, 129u, 200u}) {
            TestPicture c0 = RandomPicture(width, 3, 3, 1, 0xFF, 40 + width, 5);
            std::mt19937 rng(width);
            for (uint32_t r = 0; r < 3; ++r)
                for (size_t i = 0; i < c0.samplesPerRow(); ++i)
                    if (rng() % 8 != 0)
                        c0.put(r, i, oldV[i % 3]);
            TestPicture c = c0;
            EXPECT_EQ(change_Nx8(c.data(), 3, c.rowBytes, newV, oldV, width, c.count()), 0);
            ExpectSamples(
                c0, c,
                [&](size_t r, size_t i, uint64_t old) {
                    const size_t px = i / 3;
                    bool all = true;
                    for (uint32_t k = 0; k < 3; ++k)
                        all &= c0.get(r, px * 3 + k) == oldV[k];
                    return all ? uint64_t(newV[i % 3]) : old;
                },
                ("change 3x8 width " + std::to_string(width)).c_str());
        }
    });
}

TEST(KzFill, ChangeEdgeCases)
{
    uint8_t px[6] = {1, 2, 3, 1, 2, 4};
    const uint8_t oldV[3] = {1, 2, 3}, newV[3] = {9, 9, 9};
    EXPECT_EQ(change_Nx8(px, 3, 6, newV, oldV, 2, 2), 0);
    const uint8_t want[6] = {9, 9, 9, 1, 2, 4};
    EXPECT_EQ(std::memcmp(px, want, 6), 0);
    // nComp 0 changes nothing.
    EXPECT_EQ(change_Nx8(px, 0, 6, newV, oldV, 2, 2), 0);
    EXPECT_EQ(std::memcmp(px, want, 6), 0);
    // Width 5, count 12: two rows of five pixels, the last two untouched.
    uint8_t buf[15];
    std::memset(buf, 0xEE, sizeof buf);
    const uint8_t v = 3;
    EXPECT_EQ(set_Nx8(buf, 1, 5, &v, 5, 12), 0);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(buf[i], i < 10 ? 3 : 0xEE) << i;
}

// ---------------------------------------------------------------------------
// Single-component operations
// ---------------------------------------------------------------------------

namespace {

struct CompCase {
    uint32_t dc, di, sc, si;
};
const CompCase kCompCases[] = {
    {1, 0, 1, 0}, {3, 2, 1, 0}, {1, 0, 3, 1}, {3, 0, 3, 2}, {4, 3, 4, 0}, {4, 1, 3, 2}, {5, 4, 3, 0}, {3, 1, 5, 3}, {5, 2, 5, 2},
};

} // namespace

TEST(KzComponent, CopyAndMaskedCopyMatchScalarReference)
{
    using CopyFn = int (*)(KZ_COPYCOMP_ARGS);
    using MaskFn = int (*)(KZ_COPYCOMPMASK_ARGS);
    struct Copy {
        const char* name;
        CopyFn fn;
        uint32_t bytes;
    } copies[] = {{"copycomponent_Nx8_to_Nx8", copycomponent_Nx8_to_Nx8, 1},
                  {"copycomponent_Nx16_to_Nx16", copycomponent_Nx16_to_Nx16, 2}};
    struct Masked {
        const char* name;
        MaskFn fn;
        uint32_t maskBytes, bytes;
        bool in;
    } masked[] = {
        {"copycomponentmask_8_Nx8_in", copycomponentmask_8_Nx8_in, 1, 1, true},
        {"copycomponentmask_8_Nx8_out", copycomponentmask_8_Nx8_out, 1, 1, false},
        {"copycomponentmask_8_Nx16_in", copycomponentmask_8_Nx16_in, 1, 2, true},
        {"copycomponentmask_8_Nx16_out", copycomponentmask_8_Nx16_out, 1, 2, false},
        {"copycomponentmask_16_Nx8_in", copycomponentmask_16_Nx8_in, 2, 1, true},
        {"copycomponentmask_16_Nx8_out", copycomponentmask_16_Nx8_out, 2, 1, false},
        {"copycomponentmask_16_Nx16_in", copycomponentmask_16_Nx16_in, 2, 2, true},
        {"copycomponentmask_16_Nx16_out", copycomponentmask_16_Nx16_out, 2, 2, false},
    };
    kzt::ForEachIsa([&] {
        const uint32_t width = 31, height = 3;
        for (const CompCase& c : kCompCases) {
            const std::string shape = " dst " + std::to_string(c.dc) + "/" + std::to_string(c.di) + " src " +
                                      std::to_string(c.sc) + "/" + std::to_string(c.si);
            for (const Copy& m : copies) {
                const TestPicture src = RandomPicture(width, height, c.sc, m.bytes, FullMask(m.bytes), 1);
                const TestPicture d0 = RandomPicture(width, height, c.dc, m.bytes, FullMask(m.bytes), 2, 1);
                TestPicture d = d0;
                EXPECT_EQ(m.fn(d.data(), c.dc, d.rowBytes, c.di, src.data(), c.sc, src.rowBytes, c.si, width, d.count()), 0);
                ExpectSamples(
                    d0, d,
                    [&](size_t r, size_t i, uint64_t old) {
                        return i % c.dc == c.di ? src.get(r, (i / c.dc) * c.sc + c.si) : old;
                    },
                    (m.name + shape).c_str());
            }
            for (const Masked& m : masked) {
                for (int32_t key : {1, 65535, 70000}) {
                    const TestPicture mask = LabelMask(width, height, m.maskBytes, 9);
                    const TestPicture src = RandomPicture(width, height, c.sc, m.bytes, FullMask(m.bytes), 1);
                    const TestPicture d0 = RandomPicture(width, height, c.dc, m.bytes, FullMask(m.bytes), 2, 1);
                    TestPicture d = d0;
                    EXPECT_EQ(m.fn(d.data(), c.dc, d.rowBytes, c.di, src.data(), c.sc, src.rowBytes, c.si, mask.data(),
                                   mask.rowBytes, width, d.count(), key),
                              0);
                    ExpectSamples(
                        d0, d,
                        [&](size_t r, size_t i, uint64_t old) {
                            const size_t px = i / c.dc;
                            const bool sel = (int64_t(mask.get(r, px)) == key) == m.in;
                            return (i % c.dc == c.di && sel) ? src.get(r, px * c.sc + c.si) : old;
                        },
                        (m.name + shape + " key " + std::to_string(key)).c_str());
                }
            }
        }
    });
}

TEST(KzComponent, ConvertMatchesScalarReference)
{
    using ConvFn = int (*)(KZ_CONVCOMP_ARGS);
    struct Member {
        const char* name;
        ConvFn fn;
        uint32_t srcBytes, dstBytes;
    } members[] = {
        {"convertcomponent_8_to_8", convertcomponent_8_to_8, 1, 1},
        {"convertcomponent_8_to_16", convertcomponent_8_to_16, 1, 2},
        {"convertcomponent_16_to_8", convertcomponent_16_to_8, 2, 1},
        {"convertcomponent_16_to_16", convertcomponent_16_to_16, 2, 2},
    };
    const std::pair<uint32_t, uint32_t> depths[] = {{8, 8}, {8, 6}, {6, 8}, {12, 8}, {8, 12}, {16, 10}, {10, 16}, {4, 40}, {40, 4}};
    kzt::ForEachIsa([&] {
        for (const Member& m : members) {
            for (const CompCase& c : kCompCases) {
                for (auto [srcBits, dstBits] : depths) {
                    const uint32_t width = 27, height = 3;
                    const TestPicture src = RandomPicture(width, height, c.sc, m.srcBytes, FullMask(m.srcBytes), 4);
                    const TestPicture d0 = RandomPicture(width, height, c.dc, m.dstBytes, FullMask(m.dstBytes), 5);
                    TestPicture d = d0;
                    EXPECT_EQ(m.fn(d.data(), c.dc, d.rowBytes, c.di, dstBits, src.data(), c.sc, src.rowBytes, c.si,
                                   srcBits, width, d.count()),
                              0);
                    ExpectSamples(
                        d0, d,
                        [&](size_t r, size_t i, uint64_t old) {
                            if (i % c.dc != c.di)
                                return old;
                            const uint64_t v = src.get(r, (i / c.dc) * c.sc + c.si);
                            const uint64_t shifted = dstBits > srcBits ? (dstBits - srcBits >= 64 ? 0 : v << (dstBits - srcBits))
                                                                       : (srcBits - dstBits >= 64 ? 0 : v >> (srcBits - dstBits));
                            return shifted & FullMask(m.dstBytes);
                        },
                        (std::string(m.name) + " bits " + std::to_string(srcBits) + "->" + std::to_string(dstBits)).c_str());
                }
            }
        }
    });
}

TEST(KzComponent, SetMatchesScalarReference)
{
    kzt::ForEachIsa([&] {
        for (uint32_t bytes : {1u, 2u}) {
            for (uint32_t comps : kzt::TestComponentCounts()) {
                // Widths around the vector path's 64-pixel blocks of three-byte pixels.
                for (uint32_t width : {33u, 64u, 65u, 86u, 129u})
                for (uint32_t idx = 0; idx < comps; idx += (comps == 3 ? 1 : 2)) {
                    const int32_t value = 70000;
                    const TestPicture d0 = RandomPicture(width, 3, comps, bytes, FullMask(bytes), 6);
                    TestPicture d = d0;
                    const int rc = bytes == 1 ? setcomponent_Nx8(d.data(), comps, d.rowBytes, idx, value, width, d.count())
                                              : setcomponent_Nx16(d.data(), comps, d.rowBytes, idx, value, width, d.count());
                    EXPECT_EQ(rc, 0);
                    ExpectSamples(
                        d0, d,
                        [&](size_t, size_t i, uint64_t old) { return i % comps == idx ? (value & FullMask(bytes)) : old; },
                        ("setcomponent bytes " + std::to_string(bytes) + " comps " + std::to_string(comps) + " width " + std::to_string(width) + " idx " + std::to_string(idx)).c_str());
                }
            }
        }
    });
}

TEST(KzComponent, EdgeCases)
{
    // Depth shifts.
    uint8_t s8 = 255, d8 = 0;
    EXPECT_EQ(convertcomponent_8_to_8(&d8, 1, 1, 0, 6, &s8, 1, 1, 0, 8, 1, 1), 0);
    EXPECT_EQ(d8, 63);
    s8 = 63;
    EXPECT_EQ(convertcomponent_8_to_8(&d8, 1, 1, 0, 8, &s8, 1, 1, 0, 6, 1, 1), 0);
    EXPECT_EQ(d8, 252);
    s8 = 77;
    EXPECT_EQ(convertcomponent_8_to_8(&d8, 1, 1, 0, 8, &s8, 1, 1, 0, 8, 1, 1), 0);
    EXPECT_EQ(d8, 77);
    uint16_t s16 = 4095;
    EXPECT_EQ(convertcomponent_16_to_8(&d8, 1, 1, 0, 8, &s16, 1, 2, 0, 12, 1, 1), 0);
    EXPECT_EQ(d8, 255);
    // A destination shallower than the source in 8_to_16 shifts right, never by
    // a negative count.
    uint16_t d16 = 1;
    s8 = 200;
    EXPECT_EQ(convertcomponent_8_to_16(&d16, 1, 2, 0, 6, &s8, 1, 1, 0, 8, 1, 1), 0);
    EXPECT_EQ(d16, 50);

    // Setters keep the low bits.
    uint8_t p8[3] = {1, 2, 3};
    EXPECT_EQ(setcomponent_Nx8(p8, 3, 3, 1, 511, 1, 1), 0);
    EXPECT_EQ(p8[1], 255);
    uint16_t p16[1] = {0};
    EXPECT_EQ(setcomponent_Nx16(p16, 1, 2, 0, 70000, 1, 1), 0);
    EXPECT_EQ(p16[0], 4464);

    // Component comparison: the first difference in row order.
    const uint8_t a[6] = {1, 10, 5, 1, 99, 5}, b[6] = {1, 12, 5, 1, 0, 5};
    EXPECT_EQ(comparecomponent_Nx8_to_Nx8(a, 3, 3, 1, b, 3, 3, 1, 1, 2), -2);
    EXPECT_EQ(comparecomponent_Nx8_to_Nx8(a, 3, 3, 0, b, 3, 3, 0, 1, 2), 0);
    EXPECT_EQ(comparecomponent_Nx8_to_Nx8(b, 3, 3, 1, a, 3, 3, 1, 1, 2), 2);
    const uint16_t a16[4] = {7, 65535, 7, 1}, b16[2] = {7, 0};
    EXPECT_EQ(comparecomponent_Nx16_to_Nx16(a16, 2, 4, 1, b16, 1, 2, 0, 1, 2), 65528);
    EXPECT_EQ(comparecomponent_Nx16_to_Nx16(a16, 2, 4, 0, b16, 1, 2, 0, 1, 2), 7); // second row

    // A component index at or past the count is refused and writes nothing.
    uint8_t guard[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const uint8_t before[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(setcomponent_Nx8(guard, 3, 8, 3, 0, 2, 2), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(copycomponent_Nx8_to_Nx8(guard, 3, 8, 3, a, 3, 3, 0, 2, 2), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(copycomponent_Nx8_to_Nx8(guard, 3, 8, 0, a, 3, 3, 3, 2, 2), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(copycomponentmask_8_Nx8_in(guard, 0, 8, 0, a, 3, 3, 0, a, 3, 2, 2, 1), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(convertcomponent_16_to_16(guard, 2, 8, 2, 16, a16, 2, 4, 0, 16, 1, 1), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(comparecomponent_Nx8_to_Nx8(a, 3, 3, 3, b, 3, 3, 0, 1, 2), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(std::memcmp(guard, before, 8), 0);

    // Width 5 and count 12: two rows of five pixels; the rest is untouched.
    uint8_t src[15], dst[15];
    for (int i = 0; i < 15; ++i) {
        src[i] = uint8_t(i + 100);
        dst[i] = 0xEE;
    }
    EXPECT_EQ(copycomponent_Nx8_to_Nx8(dst, 1, 5, 0, src, 1, 5, 0, 5, 12), 0);
    for (int i = 0; i < 15; ++i)
        EXPECT_EQ(dst[i], i < 10 ? src[i] : 0xEE) << i;
    // Width 0 touches nothing.
    EXPECT_EQ(setcomponent_Nx8(dst, 1, 5, 0, 1, 0, 12), 0);
    EXPECT_EQ(dst[0], src[0]);
}

TEST(KzComponent, CompareFindsTheFirstDifference)
{
    using CmpFn = int (*)(KZ_CMPCOMP_ARGS);
    struct Member {
        const char* name;
        CmpFn fn;
        uint32_t bytes;
    } members[] = {{"comparecomponent_Nx8_to_Nx8", comparecomponent_Nx8_to_Nx8, 1},
                   {"comparecomponent_Nx16_to_Nx16", comparecomponent_Nx16_to_Nx16, 2}};
    kzt::ForEachIsa([&] {
        const uint32_t width = 150, height = 3;
        for (const Member& m : members) {
            for (const CompCase& c : kCompCases) {
                // b's component equals a's everywhere, except where a test puts differences.
                const TestPicture a = RandomPicture(width, height, c.dc, m.bytes, FullMask(m.bytes), 7);
                TestPicture b0 = RandomPicture(width, height, c.sc, m.bytes, FullMask(m.bytes), 8, 2);
                for (size_t r = 0; r < height; ++r)
                    for (size_t x = 0; x < width; ++x)
                        b0.put(r, x * c.sc + c.si, a.get(r, x * c.dc + c.di));
                const std::string what = std::string(m.name) + " a " + std::to_string(c.dc) + "/" +
                                         std::to_string(c.di) + " b " + std::to_string(c.sc) + "/" + std::to_string(c.si);
                EXPECT_EQ(m.fn(a.data(), c.dc, a.rowBytes, c.di, b0.data(), c.sc, b0.rowBytes, c.si, width, a.count()), 0)
                    << what;
                // Other components and padding may differ freely; a difference in
                // the compared component is found first in row order.
                for (auto [r, x] : {std::pair<size_t, size_t>{0, 0}, {0, 63}, {0, 64}, {1, 65}, {1, 127}, {2, 149}}) {
                    TestPicture b = b0;
                    const uint64_t av = a.get(r, x * c.dc + c.di);
                    const uint64_t bv = (av + 5) & FullMask(m.bytes);
                    b.put(r, x * c.sc + c.si, bv);
                    if (x + 1 < width) // a later difference must not win
                        b.put(r, (x + 1) * c.sc + c.si, (a.get(r, (x + 1) * c.dc + c.di) + 1) & FullMask(m.bytes));
                    EXPECT_EQ(m.fn(a.data(), c.dc, a.rowBytes, c.di, b.data(), c.sc, b.rowBytes, c.si, width, a.count()),
                              int(av) - int(bv))
                        << what << " at row " << r << " pixel " << x;
                }
            }
        }
    });
}
