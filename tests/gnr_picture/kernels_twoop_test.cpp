// Two-operand arithmetic, linear correlation and running average, each
// checked against a plain scalar reference on random pictures with odd widths
// and padded rows, plus the edge cases that pin the arithmetic down.
#include "gnr_picture/KzKernelsB.h"
#include "gnr_picture/KzKernelsBCommon.h"
#include "kernel_test_support.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using kzt::ExpectSamples;
using kzt::RandomPicture;
using kzt::TestPicture;

namespace {

using TwoOpFn = int (*)(KZ_TWO_OP_ARGS);
using TranspFn = int (*)(KZ_TRANSP_ARGS);
using SubConstFn = int (*)(KZ_SUBCONST_ARGS);

enum class Op { Add, Sub, Max, Min };

struct TwoOpMember {
    const char* name;
    TwoOpFn fn;
    Op op;
    uint32_t sampleBytes;
    uint32_t fixedComps; // 0: N member
};

const TwoOpMember kTwoOpMembers[] = {
    {"addandclip_1x8", addandclip_1x8, Op::Add, 1, 1},
    {"addandclip_3x8", addandclip_3x8, Op::Add, 1, 3},
    {"addandclip_4x8", addandclip_4x8, Op::Add, 1, 4},
    {"addandclip_Nx8", addandclip_Nx8, Op::Add, 1, 0},
    {"addandclip_1x16", addandclip_1x16, Op::Add, 2, 1},
    {"addandclip_3x16", addandclip_3x16, Op::Add, 2, 3},
    {"addandclip_4x16", addandclip_4x16, Op::Add, 2, 4},
    {"addandclip_Nx16", addandclip_Nx16, Op::Add, 2, 0},
    {"addandclip_Nx32", addandclip_Nx32, Op::Add, 4, 0},
    {"addandclip_5x32", addandclip_5x32, Op::Add, 4, 5},
    {"subandclip_1x8", subandclip_1x8, Op::Sub, 1, 1},
    {"subandclip_3x8", subandclip_3x8, Op::Sub, 1, 3},
    {"subandclip_4x8", subandclip_4x8, Op::Sub, 1, 4},
    {"subandclip_Nx8", subandclip_Nx8, Op::Sub, 1, 0},
    {"subandclip_1x16", subandclip_1x16, Op::Sub, 2, 1},
    {"subandclip_3x16", subandclip_3x16, Op::Sub, 2, 3},
    {"subandclip_4x16", subandclip_4x16, Op::Sub, 2, 4},
    {"subandclip_Nx16", subandclip_Nx16, Op::Sub, 2, 0},
    {"subandclip_Nx32", subandclip_Nx32, Op::Sub, 4, 0},
    {"subandclip_5x32", subandclip_5x32, Op::Sub, 4, 5},
    {"max_1x8", max_1x8, Op::Max, 1, 1},
    {"max_3x8", max_3x8, Op::Max, 1, 3},
    {"max_4x8", max_4x8, Op::Max, 1, 4},
    {"max_Nx8", max_Nx8, Op::Max, 1, 0},
    {"max_1x16", max_1x16, Op::Max, 2, 1},
    {"max_3x16", max_3x16, Op::Max, 2, 3},
    {"max_4x16", max_4x16, Op::Max, 2, 4},
    {"max_Nx16", max_Nx16, Op::Max, 2, 0},
    {"min_1x8", min_1x8, Op::Min, 1, 1},
    {"min_3x8", min_3x8, Op::Min, 1, 3},
    {"min_4x8", min_4x8, Op::Min, 1, 4},
    {"min_Nx8", min_Nx8, Op::Min, 1, 0},
    {"min_1x16", min_1x16, Op::Min, 2, 1},
    {"min_3x16", min_3x16, Op::Min, 2, 3},
    {"min_4x16", min_4x16, Op::Min, 2, 4},
    {"min_Nx16", min_Nx16, Op::Min, 2, 0},
};

std::vector<uint32_t> CompsOf(uint32_t fixed)
{
    if (fixed)
        return {fixed};
    return kzt::TestComponentCounts();
}

uint64_t FullMask(uint32_t sampleBytes)
{
    return sampleBytes == 4 ? 0xFFFFFFFFull : (1ull << (8 * sampleBytes)) - 1;
}

// Depths tried per container: the full container and a smaller one.
std::vector<uint32_t> BitsOf(uint32_t sampleBytes)
{
    switch (sampleBytes) {
    case 1: return {8, 5};
    case 2: return {16, 12, 9};
    default: return {32, 20};
    }
}

uint64_t Limit(uint32_t bits, uint32_t sampleBytes)
{
    const uint32_t b = bits > 8 * sampleBytes ? 8 * sampleBytes : bits;
    return b >= 64 ? ~0ull : (1ull << b) - 1;
}

uint64_t RefTwoOp(Op op, uint64_t a, uint64_t b, uint64_t m)
{
    switch (op) {
    case Op::Add: return a + b < m ? a + b : m;
    case Op::Sub: return a > b ? a - b : 0;
    case Op::Max: return a > b ? a : b;
    default: return a < b ? a : b;
    }
}

// Runs fn on random pictures (separately and in place) and compares every
// sample with the reference; padding and guard bytes must stay untouched.
template <class Call, class Ref>
void CheckAgainstReference(const std::string& what, uint32_t sampleBytes, uint32_t comps,
                           uint32_t width, uint32_t height, uint64_t valueMask, Call&& call,
                           Ref&& ref)
{
    const TestPicture a = RandomPicture(width, height, comps, sampleBytes, valueMask, 11 + comps);
    const TestPicture b = RandomPicture(width, height, comps, sampleBytes, valueMask, 29 + width);
    const TestPicture d0 = RandomPicture(width, height, comps, sampleBytes, valueMask, 7, 5);
    auto expected = [&](size_t r, size_t i, uint64_t) { return ref(a.get(r, i), b.get(r, i), i % comps); };

    TestPicture d = d0;
    EXPECT_EQ(call(d.data(), d.rowBytes, a.data(), a.rowBytes, b.data(), b.rowBytes, d.count()), 0);
    ExpectSamples(d0, d, expected, (what + " separate").c_str());

    // In place: the destination is the first source.
    TestPicture inPlace = a;
    EXPECT_EQ(call(inPlace.data(), inPlace.rowBytes, inPlace.data(), inPlace.rowBytes, b.data(),
                   b.rowBytes, a.count()),
              0);
    ExpectSamples(a, inPlace, expected, (what + " in place").c_str());
}

} // namespace

TEST(KzTwoOperand, EveryMemberMatchesScalarReference)
{
    kzt::ForEachIsa([&] {
    for (const TwoOpMember& m : kTwoOpMembers) {
        for (uint32_t comps : CompsOf(m.fixedComps)) {
            for (uint32_t bits : BitsOf(m.sampleBytes)) {
                for (uint32_t width : {1u, 37u, 70u}) {
                    const uint64_t lim = Limit(bits, m.sampleBytes);
                    // Samples within the depth as callers guarantee, or (for
                    // the wider widths) up to the container's maximum.
                    const uint64_t mask = width == 70 ? FullMask(m.sampleBytes) : lim;
                    const std::string what = std::string(m.name) + " comps " + std::to_string(comps) +
                                             " bits " + std::to_string(bits) + " width " +
                                             std::to_string(width);
                    // Fixed members are handed a wrong count: they must ignore it.
                    const uint32_t passed = m.fixedComps ? 2 : comps;
                    CheckAgainstReference(
                        what, m.sampleBytes, comps, width, 4, mask,
                        [&](void* d, uint32_t dr, const void* a, uint32_t ar, const void* b, uint32_t br,
                            uint32_t count) { return m.fn(d, dr, a, ar, b, br, passed, bits, width, count); },
                        [&](uint64_t a, uint64_t b, size_t) { return RefTwoOp(m.op, a, b, lim); });
                }
            }
        }
    }
    });
}

TEST(KzTwoOperand, EdgeCases)
{
    struct Case {
        const char* what;
        TwoOpFn fn;
        uint32_t sampleBytes, comps, bits;
        uint64_t a, b, want;
    } cases[] = {
        {"12-bit sum saturates", addandclip_1x16, 2, 1, 12, 4000, 200, 4095},
        {"8-bit sum saturates", addandclip_Nx8, 1, 5, 8, 200, 100, 255},
        {"difference below 0", subandclip_3x8, 1, 3, 8, 5, 10, 0},
        {"difference", subandclip_4x16, 2, 4, 16, 60000, 10, 59990},
        {"32-bit sum in 64 bits", addandclip_Nx32, 4, 2, 32, 0xFFFFFFF0u, 0x20, 0xFFFFFFFFu},
        {"20-bit sum", addandclip_5x32, 4, 5, 20, 0xFFFF0, 0x20, 0xFFFFF},
        {"32-bit difference", subandclip_5x32, 4, 5, 32, 5, 0xFFFFFFFFu, 0},
        {"max", max_3x16, 2, 3, 16, 7, 65535, 65535},
        {"min", min_4x16, 2, 4, 16, 7, 65535, 7},
    };
    for (const Case& c : cases) {
        TestPicture a = RandomPicture(3, 2, c.comps, c.sampleBytes, 0, 1);
        TestPicture b = RandomPicture(3, 2, c.comps, c.sampleBytes, 0, 2);
        for (size_t r = 0; r < 2; ++r)
            for (size_t i = 0; i < a.samplesPerRow(); ++i) {
                a.put(r, i, c.a);
                b.put(r, i, c.b);
            }
        const TestPicture d0 = RandomPicture(3, 2, c.comps, c.sampleBytes, 0xFF, 3);
        TestPicture d = d0;
        EXPECT_EQ(c.fn(d.data(), d.rowBytes, a.data(), a.rowBytes, b.data(), b.rowBytes, c.comps, c.bits,
                       3, 6),
                  0);
        ExpectSamples(d0, d, [&](size_t, size_t, uint64_t) { return c.want; }, c.what);
    }
}

TEST(KzTwoOperand, NoWholeRowTouchesNothing)
{
    for (auto [width, count] : {std::pair<uint32_t, uint32_t>{0, 12}, {5, 4}, {0, 0}}) {
        const TestPicture d0 = RandomPicture(5, 2, 3, 2, 0xFFFF, 9);
        TestPicture d = d0;
        const TestPicture a = RandomPicture(5, 2, 3, 2, 0xFFFF, 10);
        const int32_t consts[3] = {1, 2, 3};
        EXPECT_EQ(addandclip_3x16(d.data(), d.rowBytes, a.data(), a.rowBytes, a.data(), a.rowBytes, 3, 16,
                                  width, count),
                  0);
        EXPECT_EQ(addtranspandclip_Nx16(d.data(), d.rowBytes, a.data(), a.rowBytes, a.data(), a.rowBytes, 0.5,
                                        0.5, 3, 16, width, count),
                  0);
        EXPECT_EQ(subaddconstandclip_3x16(d.data(), d.rowBytes, a.data(), a.rowBytes, a.data(), a.rowBytes,
                                          consts, 3, 16, width, count),
                  0);
        EXPECT_EQ(std::memcmp(d.data(), d0.data(), d.totalBytes()), 0);
    }
    // A count that is not a multiple of the width leaves the partial row alone.
    const TestPicture a = RandomPicture(5, 3, 1, 1, 0xFF, 4);
    const TestPicture d0 = RandomPicture(5, 3, 1, 1, 0xFF, 5);
    TestPicture d = d0;
    EXPECT_EQ(max_1x8(d.data(), d.rowBytes, a.data(), a.rowBytes, a.data(), a.rowBytes, 1, 8, 5, 12), 0);
    TestPicture dRows = d0;
    dRows.height = 2; // rows 0 and 1 written, row 2 untouched
    TestPicture got = d;
    got.height = 2;
    ExpectSamples(dRows, got, [&](size_t r, size_t i, uint64_t) { return a.get(r, i); }, "partial row");
}

// ---------------------------------------------------------------------------
// Weighted sum
// ---------------------------------------------------------------------------

namespace {

struct TranspMember {
    const char* name;
    TranspFn fn;
    uint32_t sampleBytes, fixedComps;
};
const TranspMember kTranspMembers[] = {
    {"addtranspandclip_1x8", addtranspandclip_1x8, 1, 1},
    {"addtranspandclip_3x8", addtranspandclip_3x8, 1, 3},
    {"addtranspandclip_4x8", addtranspandclip_4x8, 1, 4},
    {"addtranspandclip_Nx8", addtranspandclip_Nx8, 1, 0},
    {"addtranspandclip_1x16", addtranspandclip_1x16, 2, 1},
    {"addtranspandclip_3x16", addtranspandclip_3x16, 2, 3},
    {"addtranspandclip_4x16", addtranspandclip_4x16, 2, 4},
    {"addtranspandclip_Nx16", addtranspandclip_Nx16, 2, 0},
};

// Integer weight: trunc(w M + 0.5), a negative or NaN weight counting as 0,
// capped far above any weight that changes the result.
uint64_t RefWeight(double w, uint64_t m)
{
    const double q = w * double(m) + 0.5;
    if (!(q >= 1.0))
        return 0;
    if (q >= 1099511627776.0)
        return 1ull << 40;
    return uint64_t(q);
}

uint64_t RefTransp(uint64_t a, uint64_t b, double wA, double wB, uint64_t m)
{
    if (m == 0)
        return 0;
    const unsigned __int128 num = (unsigned __int128)RefWeight(wA, m) * a + (unsigned __int128)RefWeight(wB, m) * b;
    const unsigned __int128 q = num / m;
    return q > m ? m : uint64_t(q);
}

} // namespace

TEST(KzWeightedSum, EveryMemberMatchesScalarReference)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::pair<double, double> weights[] = {
        {0.5, 0.5}, {0.3, 0.9}, {1.0, 0.0}, {1.7, 0.2}, {-0.5, 0.5}, {nan, 0.25}, {1e12, 0.1}, {3.0, 3.0},
    };
    kzt::ForEachIsa([&] {
    for (const TranspMember& m : kTranspMembers) {
        for (uint32_t comps : CompsOf(m.fixedComps)) {
            for (uint32_t bits : BitsOf(m.sampleBytes)) {
                for (auto [wA, wB] : weights) {
                    const uint64_t lim = Limit(bits, m.sampleBytes);
                    const uint32_t width = 41;
                    const std::string what = std::string(m.name) + " comps " + std::to_string(comps) + " bits " +
                                             std::to_string(bits) + " w " + std::to_string(wA) + "/" +
                                             std::to_string(wB);
                    // Samples within the depth, and (frames from files can
                    // hold them) samples up to the container's maximum.
                    for (uint64_t valueMask : {lim, FullMask(m.sampleBytes)})
                        CheckAgainstReference(
                            what + " mask " + std::to_string(valueMask), m.sampleBytes, comps, width, 3, valueMask,
                            [&](void* d, uint32_t dr, const void* a, uint32_t ar, const void* b, uint32_t br,
                                uint32_t count) { return m.fn(d, dr, a, ar, b, br, wA, wB, comps, bits, width, count); },
                            [&](uint64_t a, uint64_t b, size_t) { return RefTransp(a, b, wA, wB, lim); });
                }
            }
        }
    }
    });
}

TEST(KzWeightedSum, EdgeCases)
{
    struct Case {
        const char* what;
        TranspFn fn;
        uint32_t sampleBytes, bits;
        double wA, wB;
        uint64_t a, b, want;
    } cases[] = {
        {"half and half saturates at 255", addtranspandclip_1x8, 1, 8, 0.5, 0.5, 255, 255, 255},
        {"half and half", addtranspandclip_1x8, 1, 8, 0.5, 0.5, 100, 50, 75},
        {"16-bit full scale", addtranspandclip_1x16, 2, 16, 0.5, 0.5, 65535, 65535, 65535},
        {"negative weight counts as 0", addtranspandclip_1x8, 1, 8, -1.0, 1.0, 200, 50, 50},
        {"NaN weight counts as 0", addtranspandclip_1x16, 2, 12, std::nan(""), 1.0, 4000, 300, 300},
        {"weight above 1 saturates", addtranspandclip_1x16, 2, 12, 2.0, 0.0, 3000, 0, 4095},
        {"huge weight saturates", addtranspandclip_1x8, 1, 8, 1e300, 0.0, 1, 0, 255},
        {"depth 0 gives 0", addtranspandclip_1x8, 1, 0, 1.0, 1.0, 200, 50, 0},
    };
    for (const Case& c : cases) {
        TestPicture a = RandomPicture(1, 1, 1, c.sampleBytes, 0, 1);
        TestPicture b = a, d = a;
        a.put(0, 0, c.a);
        b.put(0, 0, c.b);
        EXPECT_EQ(c.fn(d.data(), d.rowBytes, a.data(), a.rowBytes, b.data(), b.rowBytes, c.wA, c.wB, 1, c.bits, 1,
                       1),
                  0);
        EXPECT_EQ(d.get(0, 0), c.want) << c.what;
    }
}

// ---------------------------------------------------------------------------
// Difference with offset
// ---------------------------------------------------------------------------

namespace {
struct SubConstMember {
    const char* name;
    SubConstFn fn;
    uint32_t sampleBytes, fixedComps;
};
const SubConstMember kSubConstMembers[] = {
    {"subaddconstandclip_1x8", subaddconstandclip_1x8, 1, 1},
    {"subaddconstandclip_3x8", subaddconstandclip_3x8, 1, 3},
    {"subaddconstandclip_4x8", subaddconstandclip_4x8, 1, 4},
    {"subaddconstandclip_Nx8", subaddconstandclip_Nx8, 1, 0},
    {"subaddconstandclip_1x16", subaddconstandclip_1x16, 2, 1},
    {"subaddconstandclip_3x16", subaddconstandclip_3x16, 2, 3},
    {"subaddconstandclip_4x16", subaddconstandclip_4x16, 2, 4},
    {"subaddconstandclip_Nx16", subaddconstandclip_Nx16, 2, 0},
};
} // namespace

TEST(KzSubAddConst, EveryMemberMatchesScalarReference)
{
    kzt::ForEachIsa([&] {
    const std::vector<int32_t> constantSets[] = {
        {128, -300, 70000, 0, 5},
        {INT32_MIN, INT32_MAX, -1, 65535, -65535},
        {0, 0, 0, 0, 0},
    };
    for (const SubConstMember& m : kSubConstMembers) {
        for (uint32_t comps : CompsOf(m.fixedComps)) {
            for (uint32_t bits : BitsOf(m.sampleBytes)) {
                for (const auto& consts : constantSets) {
                    const uint64_t lim = Limit(bits, m.sampleBytes);
                    const uint32_t width = 301; // longer than one constant pattern chunk
                    const std::string what = std::string(m.name) + " comps " + std::to_string(comps) + " bits " +
                                             std::to_string(bits) + " c0 " + std::to_string(consts[0]);
                    CheckAgainstReference(
                        what, m.sampleBytes, comps, width, 3, lim,
                        [&](void* d, uint32_t dr, const void* a, uint32_t ar, const void* b, uint32_t br,
                            uint32_t count) {
                            return m.fn(d, dr, a, ar, b, br, consts.data(), comps, bits, width, count);
                        },
                        [&](uint64_t a, uint64_t b, size_t k) {
                            return kzt::RefClamp(int64_t(a) + consts[k] - int64_t(b), lim);
                        });
                }
            }
        }
    }
    });
}

TEST(KzSubAddConst, EdgeCases)
{
    const int32_t c128 = 128;
    uint8_t a[2] = {10, 200}, b[2] = {200, 10}, d[2] = {7, 7};
    EXPECT_EQ(subaddconstandclip_1x8(d, 2, a, 2, b, 2, &c128, 1, 8, 2, 2), 0);
    EXPECT_EQ(d[0], 0);
    EXPECT_EQ(d[1], 255);
    // Constants that overflow 32-bit arithmetic have defined results.
    const int32_t cmax = INT32_MAX, cmin = INT32_MIN;
    uint16_t a16 = 65535, b16 = 0, d16 = 1;
    EXPECT_EQ(subaddconstandclip_1x16(&d16, 2, &a16, 2, &b16, 2, &cmax, 1, 16, 1, 1), 0);
    EXPECT_EQ(d16, 65535);
    a16 = 0;
    b16 = 65535;
    EXPECT_EQ(subaddconstandclip_1x16(&d16, 2, &a16, 2, &b16, 2, &cmin, 1, 16, 1, 1), 0);
    EXPECT_EQ(d16, 0);
}

// ---------------------------------------------------------------------------
// Correlation
// ---------------------------------------------------------------------------

namespace {

double RefCorrelation(const TestPicture& a, const TestPicture& b, const uint64_t* selection, int mode)
{
    const uint32_t nc = a.comps;
    const double n = double(a.width) * a.height;
    double total = 0;
    uint32_t used = 0;
    for (uint32_t k = 0; k < nc; ++k) {
        if (selection && !((selection[k / 64] >> (k % 64)) & 1))
            continue;
        double sx = 0, sy = 0, sxx = 0, syy = 0, sxy = 0;
        for (size_t r = 0; r < a.height; ++r)
            for (size_t x = 0; x < a.width; ++x) {
                const double va = double(a.get(r, x * nc + k)), vb = double(b.get(r, x * nc + k));
                sx += va;
                sy += vb;
                sxx += va * va;
                syy += vb * vb;
                sxy += va * vb;
            }
        const double v = (syy - sy * sy / n) * (sxx - sx * sx / n);
        total += v > 0 ? (sxy - sx * sy / n) / std::sqrt(v) : 0.0;
        ++used;
    }
    double mean = mode == 1 ? total : mode == 3 ? total * (1.0 / 3.0) : (used ? total / used : 0.0);
    return mean > 0 ? mean : 0.0;
}

using CorrFn = int (*)(KZ_CORR_ARGS);
using CorrNFn = int (*)(KZ_CORRN_ARGS);

} // namespace

TEST(KzCorrelation, EveryMemberMatchesScalarReference)
{
    kzt::ForEachIsa([&] {
    struct Fixed {
        const char* name;
        CorrFn fn;
        uint32_t sampleBytes, comps;
    } fixed[] = {
        {"1x8", linar_correlation_1x8, 1, 1},
        {"3x8", linar_correlation_3x8, 1, 3},
        {"1x16", linar_correlation_1x16, 2, 1},
        {"3x16", linar_correlation_3x16, 2, 3},
    };
    for (const Fixed& f : fixed) {
        const uint64_t mask = FullMask(f.sampleBytes);
        // Rows longer than the pass's blocks of lanes, with a remainder.
        const TestPicture a = RandomPicture(201, 7, f.comps, f.sampleBytes, mask, 5);
        TestPicture b = RandomPicture(201, 7, f.comps, f.sampleBytes, mask, 6);
        // Make b partly follow a so the coefficient is clearly positive.
        for (size_t r = 0; r < 7; ++r)
            for (size_t i = 0; i < b.samplesPerRow(); i += 2)
                b.put(r, i, a.get(r, i));
        double got = -1;
        EXPECT_EQ(f.fn(a.data(), a.rowBytes, b.data(), b.rowBytes, 201, a.count(), &got), 0);
        const double want = RefCorrelation(a, b, nullptr, int(f.comps));
        EXPECT_GT(want, 0.1) << f.name;
        EXPECT_NEAR(got, want, 1e-12) << f.name;
    }
    struct N {
        const char* name;
        CorrNFn fn;
        uint32_t sampleBytes;
    } members[] = {{"Nx8", linar_correlation_Nx8, 1}, {"Nx16", linar_correlation_Nx16, 2}};
    const uint64_t selAll[2] = {~0ull, ~0ull}, selSome[2] = {0b10101, 1ull << 3};
    for (const N& m : members) {
        // 70 components: more than the pass has lanes.
        for (uint32_t comps : {1u, 3u, 4u, 5u, 70u}) {
            for (const uint64_t* sel : {(const uint64_t*)nullptr, selAll, selSome}) {
                const uint64_t mask = FullMask(m.sampleBytes);
                const TestPicture a = RandomPicture(133, 5, comps, m.sampleBytes, mask, 15 + comps);
                TestPicture b = RandomPicture(133, 5, comps, m.sampleBytes, mask, 16);
                for (size_t r = 0; r < 5; ++r)
                    for (size_t i = 0; i < b.samplesPerRow(); i += 3)
                        b.put(r, i, a.get(r, i));
                double got = -1;
                EXPECT_EQ(m.fn(a.data(), a.rowBytes, b.data(), b.rowBytes, comps, 133, a.count(), &got, sel), 0);
                EXPECT_NEAR(got, RefCorrelation(a, b, sel, 0), 1e-12) << m.name << " comps " << comps;
            }
        }
    }
    });
}

TEST(KzCorrelation, EdgeCases)
{
    const TestPicture a = RandomPicture(17, 6, 1, 1, 0xFF, 3);
    TestPicture inverse = a, constant = a;
    for (size_t r = 0; r < 6; ++r)
        for (size_t x = 0; x < 17; ++x) {
            inverse.put(r, x, 255 - a.get(r, x));
            constant.put(r, x, 77);
        }
    double v = -1;
    EXPECT_EQ(linar_correlation_1x8(a.data(), a.rowBytes, a.data(), a.rowBytes, 17, a.count(), &v), 0);
    EXPECT_NEAR(v, 1.0, 1e-12);
    EXPECT_EQ(linar_correlation_1x8(a.data(), a.rowBytes, constant.data(), constant.rowBytes, 17, a.count(), &v), 0);
    EXPECT_EQ(v, 0.0);
    EXPECT_EQ(linar_correlation_1x8(a.data(), a.rowBytes, inverse.data(), inverse.rowBytes, 17, a.count(), &v), 0);
    EXPECT_EQ(v, 0.0);

    // One component constant in both pictures, the others identical: 2/3.
    TestPicture c3 = RandomPicture(9, 4, 3, 1, 0xFF, 8);
    for (size_t r = 0; r < 4; ++r)
        for (size_t x = 0; x < 9; ++x)
            c3.put(r, x * 3 + 1, 10);
    EXPECT_EQ(linar_correlation_3x8(c3.data(), c3.rowBytes, c3.data(), c3.rowBytes, 9, c3.count(), &v), 0);
    EXPECT_NEAR(v, 2.0 / 3.0, 1e-12);

    // Nothing selected: 0 with code 0. A count of 0: result 0 and -4.
    const uint64_t none = 0;
    v = -1;
    EXPECT_EQ(linar_correlation_Nx8(c3.data(), c3.rowBytes, c3.data(), c3.rowBytes, 3, 9, c3.count(), &v, &none), 0);
    EXPECT_EQ(v, 0.0);
    v = -1;
    EXPECT_EQ(linar_correlation_Nx8(c3.data(), c3.rowBytes, c3.data(), c3.rowBytes, 3, 9, 0, &v, nullptr),
              KZ_ERR_INVALID_ARG);
    EXPECT_EQ(v, 0.0);
    v = -1;
    EXPECT_EQ(linar_correlation_1x16(a.data(), a.rowBytes, a.data(), a.rowBytes, 17, 0, &v), KZ_ERR_INVALID_ARG);
    EXPECT_EQ(v, 0.0);
    // Width 0 processes nothing and divides by nothing.
    v = -1;
    EXPECT_EQ(linar_correlation_3x16(a.data(), a.rowBytes, a.data(), a.rowBytes, 0, 5, &v), 0);
    EXPECT_EQ(v, 0.0);
}

// ---------------------------------------------------------------------------
// Running average
// ---------------------------------------------------------------------------

namespace {

using AvgFixedFn = int (*)(KZ_AVG_ARGS, uint32_t, uint32_t);
using AvgNFn = int (*)(KZ_AVG_ARGS, uint32_t, uint32_t, uint32_t);

// Weight picture: one double per pixel, padded rows, random padding.
struct WeightPicture {
    uint32_t width, height, rowBytes;
    std::vector<uint64_t> storage;
    double* data() { return reinterpret_cast<double*>(storage.data()); }
    double& at(size_t r, size_t x) { return data()[r * (rowBytes / 8) + x]; }
};

WeightPicture RandomWeights(uint32_t width, uint32_t height, uint32_t seed)
{
    WeightPicture w{width, height, (width + 3) * 8, {}};
    w.storage.resize(size_t(width + 3) * (height + 1));
    std::mt19937_64 rng(seed);
    for (auto& v : w.storage)
        v = rng();
    for (size_t r = 0; r < height; ++r)
        for (size_t x = 0; x < width; ++x)
            w.at(r, x) = double(rng() % 1000) / 100.0; // 0 .. 9.99, zeros included
    return w;
}

} // namespace

TEST(KzRunningAverage, EveryMemberMatchesScalarReference)
{
    struct Member {
        const char* name;
        AvgFixedFn fixed;
        AvgNFn n;
        uint32_t sampleBytes, comps;
        bool reciprocal;
    } members[] = {
        {"1x8", average_update_1x8, nullptr, 1, 1, false},
        {"3x8", average_update_3x8, nullptr, 1, 3, false},
        {"1x16", average_update_1x16, nullptr, 2, 1, false},
        {"3x16", average_update_3x16, nullptr, 2, 3, true},
        {"Nx8", nullptr, average_update_Nx8, 1, 0, false},
        {"Nx16", nullptr, average_update_Nx16, 2, 0, true},
    };
    kzt::ForEachIsa([&] {
    for (const Member& m : members) {
        for (uint32_t comps : CompsOf(m.comps)) {
            const uint32_t width = 23, height = 4;
            const TestPicture acc0 = RandomPicture(width, height, comps, m.sampleBytes, FullMask(m.sampleBytes), 3);
            const TestPicture src = RandomPicture(width, height, comps, m.sampleBytes, FullMask(m.sampleBytes), 4);
            const WeightPicture wa0 = RandomWeights(width, height, 5);
            WeightPicture ws = RandomWeights(width, height, 6);
            TestPicture acc = acc0;
            WeightPicture wa = wa0;
            int rc = m.fixed ? m.fixed(acc.data(), acc.rowBytes, wa.data(), wa.rowBytes, src.data(), src.rowBytes,
                                       ws.data(), ws.rowBytes, width, acc.count())
                             : m.n(acc.data(), acc.rowBytes, wa.data(), wa.rowBytes, src.data(), src.rowBytes,
                                   ws.data(), ws.rowBytes, comps, width, acc.count());
            EXPECT_EQ(rc, 0);
            WeightPicture wref = wa0;
            const std::string what = std::string(m.name) + " comps " + std::to_string(comps);
            ExpectSamples(
                acc0, acc,
                [&](size_t r, size_t i, uint64_t old) {
                    const double wA = wref.at(r, i / comps), wS = ws.at(r, i / comps);
                    const double num = double(src.get(r, i)) * wS + double(old) * wA;
                    const double q = m.reciprocal ? num * (1.0 / (wA + wS)) : num / (wA + wS);
                    return uint64_t(uint32_t(kzt::RefTrunc32(q + 0.5))) & FullMask(m.sampleBytes);
                },
                what.c_str());
            // Weights: processed pixels hold the sum, everything else is untouched.
            for (size_t r = 0; r < height + 1; ++r)
                for (size_t x = 0; x < width + 3; ++x) {
                    WeightPicture& w0 = wref;
                    const double want = (r < height && x < width) ? w0.at(r, x) + ws.at(r, x) : w0.at(r, x);
                    EXPECT_EQ(std::memcmp(&wa.at(r, x), &want, 8), 0) << what << " weight " << r << "," << x;
                }
        }
    }
    });
}

TEST(KzRunningAverage, EdgeCases)
{
    uint8_t acc = 100, s = 200;
    double wa = 1, ws = 1;
    EXPECT_EQ(average_update_1x8(&acc, 1, &wa, 8, &s, 1, &ws, 8, 1, 1), 0);
    EXPECT_EQ(acc, 150);
    EXPECT_EQ(wa, 2.0);
    s = 0;
    ws = 2;
    EXPECT_EQ(average_update_1x8(&acc, 1, &wa, 8, &s, 1, &ws, 8, 1, 1), 0);
    EXPECT_EQ(acc, 75);
    EXPECT_EQ(wa, 4.0);

    // Both weights 0: the quotient is not a number and the samples become 0.
    uint8_t acc3[3] = {10, 20, 30}, s3[3] = {40, 50, 60};
    wa = 0;
    ws = 0;
    EXPECT_EQ(average_update_3x8(acc3, 3, &wa, 8, s3, 3, &ws, 8, 1, 1), 0);
    EXPECT_EQ(acc3[0], 0);
    EXPECT_EQ(acc3[1], 0);
    EXPECT_EQ(acc3[2], 0);
    EXPECT_EQ(wa, 0.0);

    // The same in the one-component loop, for every instruction set, with
    // neighbours whose weights are valid.
    kzt::ForEachIsa([&] {
        uint16_t acc16[9] = {1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000};
        const uint16_t s16[9] = {3000, 3000, 3000, 3000, 3000, 3000, 3000, 3000, 3000};
        double w0[9] = {1, 1, 1, 0, 1, 1, 1, 1, 1};
        const double w1[9] = {1, 1, 1, 0, 1, 1, 1, 1, 3};
        EXPECT_EQ(average_update_1x16(acc16, 18, w0, 72, s16, 18, w1, 72, 9, 9), 0);
        for (int x = 0; x < 9; ++x)
            EXPECT_EQ(acc16[x], x == 3 ? 0 : x == 8 ? 2500 : 2000) << "pixel " << x;
        EXPECT_EQ(w0[3], 0.0);
        EXPECT_EQ(w0[8], 4.0);
    });
}
