#include "gnr_picture/KzKernels.h"
#include "kernel_test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

using kzt::ExpectSamples;
using kzt::RandomPicture;
using kzt::RefClamp;
using kzt::RefTrunc32;
using kzt::TestPicture;

namespace {

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A kernel call with its constants bound: dst, dst row bytes, src, src row bytes, components, bits, width, count.
using Call = std::function<int(void*, kz_uint32, const void*, kz_uint32, kz_uint32, kz_uint32, kz_uint32, kz_uint32)>;

// Members of one stem: format name, fixed component count (0: any), container bytes.
template <class Fn>
struct Member {
    const char* name;
    Fn fn;
    uint32_t fixedComps;
    uint32_t sampleBytes;
};

#define MEMBERS(stem)                                                                                          \
    {                                                                                                          \
        {#stem "_1x8", stem##_1x8, 1, 1}, {#stem "_3x8", stem##_3x8, 3, 1}, {#stem "_4x8", stem##_4x8, 4, 1},  \
            {#stem "_Nx8", stem##_Nx8, 0, 1}, {#stem "_1x16", stem##_1x16, 1, 2},                              \
            {#stem "_3x16", stem##_3x16, 3, 2}, {#stem "_4x16", stem##_4x16, 4, 2},                            \
            {#stem "_Nx16", stem##_Nx16, 0, 2},                                                                \
    }

using IntFn = int (*)(void*, kz_uint32, const void*, kz_uint32, const int*, kz_uint32, kz_uint32, kz_uint32,
                      kz_uint32);
using DblFn = int (*)(void*, kz_uint32, const void*, kz_uint32, const double*, kz_uint32, kz_uint32, kz_uint32,
                      kz_uint32);
using U8Fn = int (*)(void*, kz_uint32, const void*, kz_uint32, const u8*, kz_uint32, kz_uint32, kz_uint32,
                     kz_uint32);
using U16Fn = int (*)(void*, kz_uint32, const void*, kz_uint32, const u16*, kz_uint32, kz_uint32, kz_uint32,
                      kz_uint32);
using PowFn = int (*)(void*, kz_uint32, const void*, kz_uint32, const double*, const double*, const double*,
                      kz_uint32, kz_uint32, kz_uint32, kz_uint32);

const Member<IntFn> kAdd[] = MEMBERS(addconstandclip);
const Member<IntFn> kRotate[] = MEMBERS(addconstrotate);
const Member<IntFn> kSub[] = MEMBERS(subconstandclip);
const Member<DblFn> kMul[] = MEMBERS(mulconstandclip);
const Member<DblFn> kDiv[] = MEMBERS(divconstandclip);
const Member<PowFn> kPow[] = MEMBERS(addmulpowconstandclip);

struct SampleMember {
    const char* name;
    U8Fn fn8;
    U16Fn fn16;
    uint32_t fixedComps;
    uint32_t sampleBytes;
};
const SampleMember kMax[] = {
    {"maxconstandclip_1x8", maxconstandclip_1x8, nullptr, 1, 1},  {"maxconstandclip_3x8", maxconstandclip_3x8, nullptr, 3, 1},
    {"maxconstandclip_4x8", maxconstandclip_4x8, nullptr, 4, 1},  {"maxconstandclip_Nx8", maxconstandclip_Nx8, nullptr, 0, 1},
    {"maxconstandclip_1x16", nullptr, maxconstandclip_1x16, 1, 2}, {"maxconstandclip_3x16", nullptr, maxconstandclip_3x16, 3, 2},
    {"maxconstandclip_4x16", nullptr, maxconstandclip_4x16, 4, 2}, {"maxconstandclip_Nx16", nullptr, maxconstandclip_Nx16, 0, 2},
};
const SampleMember kMin[] = {
    {"minconstandclip_1x8", minconstandclip_1x8, nullptr, 1, 1},  {"minconstandclip_3x8", minconstandclip_3x8, nullptr, 3, 1},
    {"minconstandclip_4x8", minconstandclip_4x8, nullptr, 4, 1},  {"minconstandclip_Nx8", minconstandclip_Nx8, nullptr, 0, 1},
    {"minconstandclip_1x16", nullptr, minconstandclip_1x16, 1, 2}, {"minconstandclip_3x16", nullptr, minconstandclip_3x16, 3, 2},
    {"minconstandclip_4x16", nullptr, minconstandclip_4x16, 4, 2}, {"minconstandclip_Nx16", nullptr, minconstandclip_Nx16, 0, 2},
};

// Component counts a member is run with: its own, or 1, 3, 4 and 5 for N.
std::vector<uint32_t> CountsFor(uint32_t fixedComps)
{
    if (fixedComps)
        return {fixedComps};
    return kzt::TestComponentCounts();
}

// Depths a member is run with.
std::vector<uint32_t> DepthsFor(uint32_t sampleBytes)
{
    if (sampleBytes == 1)
        return {8};
    return {12, 16, 9};
}

// Runs one bound kernel on random pictures of several odd widths (separate and
// in place) and compares with ref(component, sample, limit).
void CheckAgainstReference(const char* name, uint32_t comps, uint32_t sampleBytes, uint32_t bits, const Call& call,
                           const std::function<uint64_t(size_t, uint64_t, uint64_t)>& ref, uint32_t seed)
{
    const uint64_t limit = (uint64_t(1) << bits) - 1;
    // Small pictures are computed per sample, pictures with at least as many
    // samples as the table has entries through the table: the 1-, 3- and
    // 4-component members are run with both.
    std::vector<std::pair<uint32_t, uint32_t>> shapes = {{1, 3}, {13, 3}, {211, 3}};
    const bool fixedCount = std::strstr(name, "_N") == nullptr && std::strstr(name, "x32") == nullptr;
    if (fixedCount && sampleBytes == 2)
        shapes.push_back(bits <= 12 ? std::make_pair(1501u, 3u) : std::make_pair(4099u, 17u));
    kzt::ForEachIsa([&] {
    for (auto [width, height] : shapes) {
        SCOPED_TRACE(testing::Message() << name << " comps " << comps << " bits " << bits << " width " << width);
        TestPicture src = RandomPicture(width, height, comps, sampleBytes, limit, seed++);
        TestPicture dst = RandomPicture(width, height, comps, sampleBytes, ~0ull, seed++);
        const TestPicture before = dst;
        ASSERT_EQ(call(dst.data(), dst.rowBytes, src.data(), src.rowBytes, comps, bits, width,
                       width * height + width - 1),
                  0);
        ExpectSamples(before, dst, [&](size_t r, size_t i, uint64_t) { return ref(i % comps, src.get(r, i), limit); },
                      name);
        TestPicture inplace = src;
        ASSERT_EQ(call(inplace.data(), inplace.rowBytes, inplace.data(), inplace.rowBytes, comps, bits, width,
                       width * height),
                  0);
        ExpectSamples(src, inplace, [&](size_t, size_t i, uint64_t v) { return ref(i % comps, v, limit); }, name);
    }
    });
}

uint64_t RefRotate(int64_t v, int64_t c, uint64_t limit, uint32_t sampleBytes)
{
    int64_t x = v + c;
    if (x < 0)
        x += int64_t(limit);
    else if (x > int64_t(limit))
        x -= int64_t(limit);
    return uint64_t(x) & (sampleBytes == 1 ? 0xFFu : 0xFFFFu);
}

uint64_t RefRounded(double x, uint64_t limit) { return RefClamp(RefTrunc32(x + 0.5), limit); }

} // namespace

#define BIND(...)                                                                                 \
    [&](void* d, kz_uint32 drb, const void* s, kz_uint32 srb, kz_uint32 comps, kz_uint32 bits, kz_uint32 w, \
        kz_uint32 n) { return __VA_ARGS__; }

// ---------------------------------------------------------------------------
// Every family against its scalar reference, for every member, component
// count and depth.
// ---------------------------------------------------------------------------

TEST(ConstArith, IntegerOperandsMatchReference)
{
    // Mild constants, and extremes that overflow 32-bit intermediates.
    const int mild[5] = {37, -200, 3000, -5, 250};
    const int extreme[5] = {INT_MAX, INT_MIN, 70000, -70000, INT_MAX - 3};
    uint32_t seed = 1;
    for (const int* c : {mild, extreme}) {
        for (const auto& m : kAdd)
            for (uint32_t comps : CountsFor(m.fixedComps))
                for (uint32_t bits : DepthsFor(m.sampleBytes))
                    CheckAgainstReference(
                        m.name, comps, m.sampleBytes, bits, BIND(m.fn(d, drb, s, srb, c, comps, bits, w, n)),
                        [&](size_t k, uint64_t v, uint64_t lim) { return RefClamp(int64_t(v) + c[k], lim); }, seed += 10);
        for (const auto& m : kSub)
            for (uint32_t comps : CountsFor(m.fixedComps))
                for (uint32_t bits : DepthsFor(m.sampleBytes))
                    CheckAgainstReference(
                        m.name, comps, m.sampleBytes, bits, BIND(m.fn(d, drb, s, srb, c, comps, bits, w, n)),
                        [&](size_t k, uint64_t v, uint64_t lim) { return RefClamp(int64_t(v) - int64_t(c[k]), lim); },
                        seed += 10);
    }
    for (const int* c : {mild, extreme})
        for (const auto& m : kRotate)
            for (uint32_t comps : CountsFor(m.fixedComps))
                for (uint32_t bits : DepthsFor(m.sampleBytes))
                    CheckAgainstReference(
                        m.name, comps, m.sampleBytes, bits, BIND(m.fn(d, drb, s, srb, c, comps, bits, w, n)),
                        [&](size_t k, uint64_t v, uint64_t lim) { return RefRotate(int64_t(v), c[k], lim, m.sampleBytes); },
                        seed += 10);
}

TEST(ConstArith, SampleOperandsMatchReference)
{
    const u8 c8[5] = {0, 77, 200, 255, 13};
    const u16 c16[5] = {0, 777, 2000, 65535, 4096};
    uint32_t seed = 5000;
    for (int isMax = 0; isMax < 2; ++isMax)
        for (const auto& m : isMax ? kMax : kMin)
            for (uint32_t comps : CountsFor(m.fixedComps))
                for (uint32_t bits : DepthsFor(m.sampleBytes)) {
                    auto ref = [&](size_t k, uint64_t v, uint64_t lim) {
                        const uint64_t c = m.sampleBytes == 1 ? c8[k] : c16[k];
                        const uint64_t r = isMax ? std::max(v, c) : std::min(v, c);
                        return std::min(r, lim);
                    };
                    if (m.sampleBytes == 1)
                        CheckAgainstReference(m.name, comps, 1, bits, BIND(m.fn8(d, drb, s, srb, c8, comps, bits, w, n)),
                                              ref, seed += 10);
                    else
                        CheckAgainstReference(m.name, comps, 2, bits,
                                              BIND(m.fn16(d, drb, s, srb, c16, comps, bits, w, n)), ref, seed += 10);
                }
}

TEST(ConstArith, DoubleOperandsMatchReference)
{
    const double factors[5] = {0.5, 1.7, -2, 0.013, 3.25};
    const double odd[5] = {kInf, kNaN, 1e12, 0, 1.0 / 3};
    // Factors just below (k + 0.5) / v: the product v * c rounds up to k + 0.5
    // and the sample rounds to k + 1, while a fused multiply-add (one rounding)
    // would give k.
    const double justBelow[5] = {std::nextafter(0.02, 0.0), std::nextafter(0.5 / 11, 0.0),
                                 std::nextafter(1.5 / 13, 0.0), std::nextafter(2.5 / 17, 0.0),
                                 std::nextafter(0.5 / 35, 0.0)};
    uint32_t seed = 9000;
    for (const double* c : {factors, odd, justBelow})
        for (const auto& m : kMul)
            for (uint32_t comps : CountsFor(m.fixedComps))
                for (uint32_t bits : DepthsFor(m.sampleBytes))
                    CheckAgainstReference(
                        m.name, comps, m.sampleBytes, bits, BIND(m.fn(d, drb, s, srb, c, comps, bits, w, n)),
                        [&](size_t k, uint64_t v, uint64_t lim) { return RefRounded(double(v) * c[k], lim); },
                        seed += 10);
    // Divide, table members: the reciprocal; a divisor of 0 or below gives 0.
    const double divisors[5] = {2, 0, 0.3, -4, 7.5};
    for (const auto& m : kDiv) {
        if (m.fixedComps == 0)
            continue;
        for (uint32_t bits : DepthsFor(m.sampleBytes))
            CheckAgainstReference(
                m.name, m.fixedComps, m.sampleBytes, bits, BIND(m.fn(d, drb, s, srb, divisors, comps, bits, w, n)),
                [&](size_t k, uint64_t v, uint64_t lim) { return RefRounded(double(v) * (1.0 / divisors[k]), lim); },
                seed += 10);
    }
}

TEST(ConstArith, FixedPointDivideMatchesReference)
{
    struct Case {
        const char* name;
        DblFn fn;
        uint32_t sampleBytes;
        uint64_t scale;
        std::vector<uint32_t> depths;
        std::vector<uint32_t> counts;
    } cases[] = {
        {"divconstandclip_Nx8", divconstandclip_Nx8, 1, 4096, {8}, {1, 3, 4, 5}},
        {"divconstandclip_Nx16", divconstandclip_Nx16, 2, 256, {12, 16}, {1, 3, 4, 5}},
        {"divconstandclip_Nx32", divconstandclip_Nx32, 4, 65536, {20, 32}, {1, 3, 4, 5}},
        {"divconstandclip_5x32", divconstandclip_5x32, 4, 65536, {24, 32}, {5}},
    };
    const double divisors[5] = {2, 0.3, 1e30, 3.7, 1};
    uint32_t seed = 12000;
    for (const Case& c : cases)
        for (uint32_t comps : c.counts)
            for (uint32_t bits : c.depths)
                CheckAgainstReference(
                    c.name, comps, c.sampleBytes, bits, BIND(c.fn(d, drb, s, srb, divisors, comps, bits, w, n)),
                    [&](size_t k, uint64_t v, uint64_t lim) {
                        const double qd = divisors[k] * double(c.scale) + 0.5;
                        const unsigned __int128 q = qd >= 9.2e18 ? (unsigned __int128)1 << 63 : (unsigned __int128)qd;
                        const unsigned __int128 r = ((unsigned __int128)v * c.scale + q / 2) / q;
                        return uint64_t(r < lim ? r : lim);
                    },
                    seed += 10);
}

TEST(ConstArith, PowerLawMatchesReference)
{
    const double a[5] = {-3, 10, 0.5, 100, -1000};
    const double m[5] = {0.02, 1.5, -1, 0.001, 2};
    const double p[5] = {1.7, 0.5, 2, 0.25, 1};
    uint32_t seed = 15000;
    for (int present = 0; present < 8; ++present) {
        const double* pa = (present & 1) ? a : nullptr;
        const double* pm = (present & 2) ? m : nullptr;
        const double* pp = (present & 4) ? p : nullptr;
        for (const auto& mem : kPow)
            for (uint32_t comps : CountsFor(mem.fixedComps))
                for (uint32_t bits : DepthsFor(mem.sampleBytes))
                    CheckAgainstReference(
                        mem.name, comps, mem.sampleBytes, bits, BIND(mem.fn(d, drb, s, srb, pa, pm, pp, comps, bits, w, n)),
                        [&](size_t k, uint64_t v, uint64_t lim) {
                            double x = double(v);
                            if (pa)
                                x += pa[k];
                            if (pm)
                                x *= pm[k];
                            if (pp)
                                x = std::pow(x, pp[k]);
                            return RefRounded(x, lim);  // all absent: the samples are copied
                        },
                        seed += 10);
    }
}

// ---------------------------------------------------------------------------
// Fixed cases
// ---------------------------------------------------------------------------

namespace {

// Runs a bound kernel on one row of 8-bit or 16-bit samples.
template <class T>
std::vector<T> RunRow(const Call& call, std::vector<T> row, uint32_t comps, uint32_t bits, int* rc = nullptr)
{
    const uint32_t width = uint32_t(row.size() / comps);
    std::vector<T> out(row.size(), T(0xABCD));
    const int r = call(out.data(), uint32_t(out.size() * sizeof(T)), row.data(), uint32_t(row.size() * sizeof(T)),
                       comps, bits, width, width);
    if (rc)
        *rc = r;
    return out;
}

} // namespace

TEST(ConstArith, FixedEdgeCases)
{
    const int add3[3] = {10, -10, 300};
    EXPECT_EQ(RunRow<u8>(BIND(addconstandclip_3x8(d, drb, s, srb, add3, comps, bits, w, n)), {250, 5, 0}, 3, 8),
              (std::vector<u8>{255, 0, 255}));
    const int neg[5] = {-20, -20, -20, -20, -20};
    EXPECT_EQ(RunRow<u8>(BIND(addconstandclip_Nx8(d, drb, s, srb, neg, comps, bits, w, n)), {10, 30, 0, 255, 20}, 5, 8),
              (std::vector<u8>{0, 10, 0, 235, 0}));
    const int m100 = -100;
    EXPECT_EQ(RunRow<u16>(BIND(subconstandclip_1x16(d, drb, s, srb, &m100, comps, bits, w, n)), {4000, 0, 3995}, 1, 12),
              (std::vector<u16>{4095, 100, 4095}));
    const u16 floor16[2] = {1000, 3000};
    EXPECT_EQ(RunRow<u16>(BIND(maxconstandclip_Nx16(d, drb, s, srb, floor16, comps, bits, w, n)), {5, 5, 2000, 4000}, 2, 12),
              (std::vector<u16>{1000, 3000, 2000, 4000}));
    const double half = 0.5, minus2 = -2, inf = kInf;
    EXPECT_EQ(RunRow<u8>(BIND(mulconstandclip_1x8(d, drb, s, srb, &half, comps, bits, w, n)), {255, 1, 0, 3}, 1, 8),
              (std::vector<u8>{128, 1, 0, 2}));
    EXPECT_EQ(RunRow<u8>(BIND(mulconstandclip_1x8(d, drb, s, srb, &minus2, comps, bits, w, n)), {255, 1, 0}, 1, 8),
              (std::vector<u8>{0, 0, 0}));
    EXPECT_EQ(RunRow<u8>(BIND(mulconstandclip_1x8(d, drb, s, srb, &inf, comps, bits, w, n)), {255, 1, 0}, 1, 8),
              (std::vector<u8>{0, 0, 0}));
    const double zero3[3] = {0, 0, 0};
    EXPECT_EQ(RunRow<u8>(BIND(divconstandclip_3x8(d, drb, s, srb, zero3, comps, bits, w, n)), {0, 1, 255, 9, 8, 7}, 3, 8),
              (std::vector<u8>{0, 0, 0, 0, 0, 0}));
    const double two = 2, tenth = 0.1;
    EXPECT_EQ(RunRow<u8>(BIND(divconstandclip_Nx8(d, drb, s, srb, &two, comps, bits, w, n)), {255, 1, 0, 3}, 1, 8),
              (std::vector<u8>{128, 1, 0, 2}));
    EXPECT_EQ(RunRow<u8>(BIND(divconstandclip_Nx8(d, drb, s, srb, &tenth, comps, bits, w, n)), {30, 20, 25}, 1, 8),
              (std::vector<u8>{255, 200, 250}));
}

TEST(ConstArith, RotateEveryMember)
{
    const int plus10[4] = {10, 10, 10, 10}, minus10[4] = {-10, -10, -10, -10};
    for (const auto& m : kRotate) {
        const uint32_t comps = m.fixedComps ? m.fixedComps : 2;
        for (int sign = 0; sign < 2; ++sign) {
            const int* c = sign ? minus10 : plus10;
            const std::vector<uint32_t> in = sign ? std::vector<uint32_t>{5, 0, 10, 255} : std::vector<uint32_t>{250, 245, 0, 255};
            const std::vector<uint32_t> want =
                sign ? std::vector<uint32_t>{250, 245, 0, 245} : std::vector<uint32_t>{5, 255, 10, 10};
            std::vector<uint32_t> row, expect;
            for (size_t i = 0; i < in.size(); ++i)
                for (uint32_t k = 0; k < comps; ++k) {
                    row.push_back(in[i]);
                    expect.push_back(want[i]);
                }
            std::vector<uint32_t> got;
            if (m.sampleBytes == 1) {
                for (u8 v : RunRow<u8>(BIND(m.fn(d, drb, s, srb, c, comps, bits, w, n)), std::vector<u8>(row.begin(), row.end()),
                                       comps, 8))
                    got.push_back(v);
            } else {
                for (u16 v : RunRow<u16>(BIND(m.fn(d, drb, s, srb, c, comps, bits, w, n)),
                                         std::vector<u16>(row.begin(), row.end()), comps, 8))
                    got.push_back(v);
            }
            EXPECT_EQ(got, expect) << m.name << (sign ? " -10" : " +10");
        }
    }
}

TEST(ConstArith, TableMembersMaskSamplesAboveTheDepth)
{
    // A 12-bit picture holding 0x1005: the table members index entry 5.
    const int add = 1;
    const double mul = 2;
    EXPECT_EQ(RunRow<u16>(BIND(addconstandclip_1x16(d, drb, s, srb, &add, comps, bits, w, n)), {0x1005}, 1, 12),
              (std::vector<u16>{6}));
    EXPECT_EQ(RunRow<u16>(BIND(mulconstandclip_1x16(d, drb, s, srb, &mul, comps, bits, w, n)), {0x1005}, 1, 12),
              (std::vector<u16>{10}));
}

TEST(ConstArith, RefusalsWriteNothing)
{
    const int ints[5] = {1, 2, 3, 4, 5};
    const double dbl[5] = {1, 2, 3, 4, 5};
    const double negOne[5] = {2, 2, -1, 2, 2};
    const double nanDiv[5] = {2, kNaN, 2, 2, 2};
    const double zero[5] = {2, 2, 2, 0, 2};
    const double tiny[5] = {1e-9, 2, 2, 2, 2};
    struct Case {
        const char* name;
        Call call;
        uint32_t comps, bits, sampleBytes;
        int want;
    } cases[] = {
        {"3x8 with bits 7", BIND(addconstandclip_3x8(d, drb, s, srb, ints, comps, bits, w, n)), 3, 7, 1, KZ_ERR_OUT_OF_MEMORY},
        {"4x8 with bits 12", BIND(mulconstandclip_4x8(d, drb, s, srb, dbl, comps, bits, w, n)), 4, 12, 1, KZ_ERR_OUT_OF_MEMORY},
        {"3x16 with bits 17", BIND(divconstandclip_3x16(d, drb, s, srb, dbl, comps, bits, w, n)), 3, 17, 2, KZ_ERR_OUT_OF_MEMORY},
        {"4x16 with bits 7", BIND(addconstrotate_4x16(d, drb, s, srb, ints, comps, bits, w, n)), 4, 7, 2, KZ_ERR_OUT_OF_MEMORY},
        {"1x16 with bits 17", BIND(subconstandclip_1x16(d, drb, s, srb, ints, comps, bits, w, n)), 1, 17, 2, KZ_ERR_OUT_OF_MEMORY},
        {"Nx8 with bits 0", BIND(addconstandclip_Nx8(d, drb, s, srb, ints, comps, bits, w, n)), 5, 0, 1, KZ_ERR_OUT_OF_MEMORY},
        {"null operand", BIND(addconstandclip_3x8(d, drb, s, srb, nullptr, comps, bits, w, n)), 3, 8, 1, KZ_ERR_INVALID_ARG},
        {"null divisors", BIND(divconstandclip_Nx16(d, drb, s, srb, nullptr, comps, bits, w, n)), 5, 12, 2, KZ_ERR_INVALID_ARG},
        {"Nx16 divisor -1", BIND(divconstandclip_Nx16(d, drb, s, srb, negOne, comps, bits, w, n)), 5, 12, 2, KZ_ERR_FAILED},
        {"Nx8 divisor NaN", BIND(divconstandclip_Nx8(d, drb, s, srb, nanDiv, comps, bits, w, n)), 5, 8, 1, KZ_ERR_FAILED},
        {"Nx32 divisor 0", BIND(divconstandclip_Nx32(d, drb, s, srb, zero, comps, bits, w, n)), 5, 32, 4, KZ_ERR_FAILED},
        {"5x32 divisor below 0.5/S", BIND(divconstandclip_5x32(d, drb, s, srb, tiny, comps, bits, w, n)), 5, 32, 4, KZ_ERR_FAILED},
    };
    uint32_t seed = 20000;
    for (const Case& c : cases) {
        TestPicture src = RandomPicture(7, 3, c.comps, c.sampleBytes, 0xFF, seed++);
        TestPicture dst = RandomPicture(7, 3, c.comps, c.sampleBytes, ~0ull, seed++);
        const TestPicture before = dst;
        EXPECT_EQ(c.call(dst.data(), dst.rowBytes, src.data(), src.rowBytes, c.comps, c.bits, 7, 21), c.want) << c.name;
        EXPECT_EQ(std::memcmp(before.data(), dst.data(), dst.totalBytes()), 0) << c.name;
    }
}

TEST(ConstArith, EmptyWidthOrShortCountTouchesNothing)
{
    const int ints[5] = {1, 2, 3, 4, 5};
    const double dbl[5] = {1, 2, 3, 4, 5};
    const Call calls[] = {
        BIND(addconstandclip_3x8(d, drb, s, srb, ints, comps, bits, w, n)),
        BIND(addconstrotate_Nx8(d, drb, s, srb, ints, comps, bits, w, n)),
        BIND(mulconstandclip_3x8(d, drb, s, srb, dbl, comps, bits, w, n)),
        BIND(divconstandclip_Nx8(d, drb, s, srb, dbl, comps, bits, w, n)),
        BIND(addmulpowconstandclip_3x8(d, drb, s, srb, dbl, dbl, dbl, comps, bits, w, n)),
        BIND(maskout_3x8(d, drb, 0, w, n)),
    };
    TestPicture src = RandomPicture(8, 2, 3, 1, 0xFF, 1);
    TestPicture dst = RandomPicture(8, 2, 3, 1, 0xFF, 2);
    const TestPicture before = dst;
    for (const Call& call : calls) {
        EXPECT_EQ(call(dst.data(), dst.rowBytes, src.data(), src.rowBytes, 3, 8, 0, 16), 0);
        EXPECT_EQ(call(dst.data(), dst.rowBytes, src.data(), src.rowBytes, 3, 8, 8, 7), 0);
    }
    EXPECT_EQ(std::memcmp(before.data(), dst.data(), dst.totalBytes()), 0);
}

// ---------------------------------------------------------------------------
// Masking
// ---------------------------------------------------------------------------

TEST(MaskOut, EveryMemberMasksRowSamplesOnly)
{
    struct Case {
        const char* name;
        std::function<int(void*, kz_uint32, kz_uint32, kz_uint32, kz_uint32, kz_uint32)> fn;  // pic, rb, mask, comps, w, n
        uint32_t comps, sampleBytes;
    } cases[] = {
        {"maskout_1x8", [](void* p, kz_uint32 rb, kz_uint32 m, kz_uint32, kz_uint32 w, kz_uint32 n) { return maskout_1x8(p, rb, m, w, n); }, 1, 1},
        {"maskout_3x8", [](void* p, kz_uint32 rb, kz_uint32 m, kz_uint32, kz_uint32 w, kz_uint32 n) { return maskout_3x8(p, rb, m, w, n); }, 3, 1},
        {"maskout_Nx8 (4)", [](void* p, kz_uint32 rb, kz_uint32 m, kz_uint32 c, kz_uint32 w, kz_uint32 n) { return maskout_Nx8(p, rb, m, c, w, n); }, 4, 1},
        {"maskout_Nx8 (5)", [](void* p, kz_uint32 rb, kz_uint32 m, kz_uint32 c, kz_uint32 w, kz_uint32 n) { return maskout_Nx8(p, rb, m, c, w, n); }, 5, 1},
        {"maskout_1x16", [](void* p, kz_uint32 rb, kz_uint32 m, kz_uint32, kz_uint32 w, kz_uint32 n) { return maskout_1x16(p, rb, m, w, n); }, 1, 2},
        {"maskout_3x16", [](void* p, kz_uint32 rb, kz_uint32 m, kz_uint32, kz_uint32 w, kz_uint32 n) { return maskout_3x16(p, rb, m, w, n); }, 3, 2},
        {"maskout_Nx16 (4)", [](void* p, kz_uint32 rb, kz_uint32 m, kz_uint32 c, kz_uint32 w, kz_uint32 n) { return maskout_Nx16(p, rb, m, c, w, n); }, 4, 2},
        {"maskout_Nx16 (5)", [](void* p, kz_uint32 rb, kz_uint32 m, kz_uint32 c, kz_uint32 w, kz_uint32 n) { return maskout_Nx16(p, rb, m, c, w, n); }, 5, 2},
    };
    uint32_t seed = 30000;
    kzt::ForEachIsa([&] {
    for (const Case& c : cases)
        for (uint32_t mask : {0xF0u, 0x00FFu, 0xABCD1234u})
            for (uint32_t width : {1u, 7u, 30u})
                // Padding of 1 container: rows start at every alignment.
                for (uint32_t pad : {0u, 1u, 3u}) {
                    TestPicture pic = RandomPicture(width, 4, c.comps, c.sampleBytes, ~0ull, seed++, pad);
                    const TestPicture before = pic;
                    EXPECT_EQ(c.fn(pic.data(), pic.rowBytes, mask, c.comps, width, width * 4), 0);
                    const uint64_t m = c.sampleBytes == 1 ? (mask & 0xFF) : (mask & 0xFFFF);
                    ExpectSamples(before, pic, [&](size_t, size_t, uint64_t v) { return v & m; }, c.name);
                }
    });
}
