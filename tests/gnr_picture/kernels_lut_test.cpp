#include "gnr_picture/KzKernels.h"
#include "kernel_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

using kzt::ExpectSamples;
using kzt::RandomPicture;
using kzt::RefClamp;
using kzt::RefTrunc32;
using kzt::TestPicture;

namespace {

const double kInf = std::numeric_limits<double>::infinity();

// A row-pointer LUT in the library's layout (rows contiguous in one block) or,
// with scattered = true, with rows placed in reverse order so that the rows
// are not contiguous.
template <class T>
struct RowLut {
    std::vector<T> block;
    std::vector<T*> rows;
    size_t comps;
    RowLut(size_t nRows, size_t c, bool scattered = false) : block(nRows * c), rows(nRows), comps(c)
    {
        for (size_t v = 0; v < nRows; ++v)
            rows[v] = block.data() + (scattered ? (nRows - 1 - v) : v) * c;
    }
    T** ptr() { return rows.data(); }
    const T* const* cptr() const { return rows.data(); }
    T at(size_t v, size_t k) const { return rows[v][k]; }
};

// Reference of one table entry: ((v + a) * m) ^ p, rounded by the x86 rule,
// clamped to the limit.
uint64_t RefPowerLaw(double v, const double* a, const double* m, const double* p, uint64_t limit)
{
    double x = v;
    if (a)
        x = x + *a;
    if (m)
        x = x * *m;
    if (p)
        x = std::pow(x, *p);
    return RefClamp(RefTrunc32(x + 0.5), limit);
}

uint64_t Limit(unsigned bits, unsigned entryBits)
{
    return ((uint64_t(1) << bits) - 1) & ((uint64_t(1) << entryBits) - 1);
}

} // namespace

// ---------------------------------------------------------------------------
// Calculation family
// ---------------------------------------------------------------------------

TEST(CalcLuts, OneComponentEdgeCases)
{
    const double m300 = -300, p300 = 300, half = 0.5, inf = kInf, neg10 = -10, root = 0.5, two = 2;
    struct Case {
        const char* name;
        const double *a, *m, *p;
        unsigned bits;
        std::vector<std::pair<unsigned, unsigned>> expect;  // (input, entry)
    } cases[] = {
        {"add -300 gives 0", &m300, nullptr, nullptr, 8, {{0, 0}, {128, 0}, {255, 0}}},
        {"add 300 gives 255", &p300, nullptr, nullptr, 8, {{0, 255}, {77, 255}, {255, 255}}},
        {"x0.5 rounds half up", nullptr, &half, nullptr, 8, {{255, 128}, {1, 1}, {0, 0}, {2, 1}, {3, 2}}},
        {"infinite multiply gives 0", nullptr, &inf, nullptr, 8, {{0, 0}, {1, 0}, {255, 0}}},
        {"negative base under fractional power gives 0", &neg10, nullptr, &root, 8, {{0, 0}, {9, 0}, {10, 0}, {26, 4}}},
        {"limit of 7 bits", nullptr, &two, nullptr, 7, {{60, 120}, {64, 127}, {127, 127}}},
        {"x8 entries above 8 bits clamp at 255", nullptr, &two, nullptr, 12, {{100, 200}, {200, 255}, {4095, 255}}},
    };
    for (const Case& c : cases) {
        std::vector<u8> lut(size_t(1) << c.bits, 0xEE);
        calcluts_1x8(lut.data(), c.a, c.m, c.p, c.bits);
        for (auto [in, want] : c.expect)
            EXPECT_EQ(lut[in], want) << c.name << " input " << in;
    }
    // 16-bit entries: bits 12 clamps at 4095.
    std::vector<u16> lut16(4096);
    calcluts_1x16(lut16.data(), nullptr, &two, nullptr, 12);
    EXPECT_EQ(lut16[1000], 2000);
    EXPECT_EQ(lut16[3000], 4095);
    EXPECT_EQ(lut16[4095], 4095);
}

TEST(CalcLuts, NothingWrittenWithoutOperandsOrWithBadDepth)
{
    const double one = 1;
    std::vector<u8> lut8(256, 0xEE);
    calcluts_1x8(lut8.data(), nullptr, nullptr, nullptr, 8);
    calcluts_1x8(lut8.data(), &one, nullptr, nullptr, 0);
    EXPECT_EQ(std::count(lut8.begin(), lut8.end(), 0xEE), 256);
    RowLut<u16> rl(4096, 3);
    std::fill(rl.block.begin(), rl.block.end(), 0xEEEE);
    calcluts_Nx16(rl.ptr(), nullptr, nullptr, nullptr, 3, 12);
    calcluts_Nx16_rotate(rl.ptr(), nullptr, 3, 12);
    max_calcluts_Nx16(rl.ptr(), nullptr, 3, 12);
    min_calcluts_Nx16(nullptr, &one, 3, 12);
    calcluts_Nx16(rl.ptr(), &one, nullptr, nullptr, 3, 17);
    EXPECT_EQ(std::count(rl.block.begin(), rl.block.end(), 0xEEEE), 4096 * 3);
}

TEST(CalcLuts, MatchReferenceForEveryOperandForm)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> addD(-50, 50), mulD(-1, 4), powD(0.2, 2.5);
    const unsigned kComps = 5;
    double a[kComps], m[kComps], p[kComps];
    for (unsigned k = 0; k < kComps; ++k) {
        a[k] = addD(rng);
        m[k] = mulD(rng);
        p[k] = powD(rng);
    }
    // Every subset of the three operands.
    for (int mask = 1; mask < 8; ++mask) {
        const double* pa = (mask & 1) ? a : nullptr;
        const double* pm = (mask & 2) ? m : nullptr;
        const double* pp = (mask & 4) ? p : nullptr;
        for (unsigned bits : {8u, 12u, 16u}) {
            const size_t n = size_t(1) << bits;
            if (bits == 8) {
                std::vector<u8> flat(n);
                calcluts_1x8(flat.data(), pa, pm, pp, bits);
                RowLut<u8> rl(n, kComps);
                calcluts_Nx8(rl.ptr(), pa, pm, pp, kComps, bits);
                for (size_t v = 0; v < n; ++v) {
                    ASSERT_EQ(flat[v], RefPowerLaw(double(v), pa, pm, pp, 255)) << mask << " v " << v;
                    for (unsigned k = 0; k < kComps; ++k)
                        ASSERT_EQ(rl.at(v, k),
                                  RefPowerLaw(double(v), pa ? pa + k : nullptr, pm ? pm + k : nullptr,
                                              pp ? pp + k : nullptr, 255))
                            << mask << " v " << v << " k " << k;
                }
            }
            std::vector<u16> flat(n);
            calcluts_1x16(flat.data(), pa, pm, pp, bits);
            RowLut<u16> rl(n, kComps);
            calcluts_Nx16(rl.ptr(), pa, pm, pp, kComps, bits);
            const uint64_t limit = Limit(bits, 16);
            for (size_t v = 0; v < n; ++v) {
                ASSERT_EQ(flat[v], RefPowerLaw(double(v), pa, pm, pp, limit)) << mask << " v " << v;
                for (unsigned k = 0; k < kComps; ++k)
                    ASSERT_EQ(rl.at(v, k), RefPowerLaw(double(v), pa ? pa + k : nullptr, pm ? pm + k : nullptr,
                                                       pp ? pp + k : nullptr, limit))
                        << mask << " bits " << bits << " v " << v << " k " << k;
            }
        }
    }
}

TEST(CalcLuts, MinimumAndMaximum)
{
    const double w[4] = {100.7, 0, 300, -5};
    RowLut<u8> mn(256, 4), mx(256, 4);
    min_calcluts_Nx8(mn.ptr(), w, 4, 8);
    max_calcluts_Nx8(mx.ptr(), w, 4, 8);
    for (unsigned v = 0; v < 256; ++v) {
        // minimum: trunc(w) where v > w; maximum: trunc(w) where w > v; kept within 0..255
        EXPECT_EQ(mn.at(v, 0), v > 100.7 ? 100 : v);
        EXPECT_EQ(mx.at(v, 0), 100.7 > v ? 100 : v);
        EXPECT_EQ(mn.at(v, 1), 0);
        EXPECT_EQ(mx.at(v, 1), v);
        EXPECT_EQ(mn.at(v, 2), v);
        EXPECT_EQ(mx.at(v, 2), 255);  // a constant above the range saturates instead of wrapping
        EXPECT_EQ(mn.at(v, 3), 0);    // a negative constant clamps at 0 instead of wrapping
        EXPECT_EQ(mx.at(v, 3), v);
    }
    std::vector<u16> f16(4096);
    const double w16 = 1000;
    max_calcluts_1x16(f16.data(), &w16, 12);
    EXPECT_EQ(f16[0], 1000);
    EXPECT_EQ(f16[999], 1000);
    EXPECT_EQ(f16[4000], 4000);
    min_calcluts_1x16(f16.data(), &w16, 12);
    EXPECT_EQ(f16[0], 0);
    EXPECT_EQ(f16[4000], 1000);
    std::vector<u8> f8(256);
    const double w8 = 50;
    min_calcluts_1x8(f8.data(), &w8, 8);
    EXPECT_EQ(f8[49], 49);
    EXPECT_EQ(f8[200], 50);
    max_calcluts_1x8(f8.data(), &w8, 8);
    EXPECT_EQ(f8[49], 50);
    EXPECT_EQ(f8[200], 200);
}

TEST(CalcLuts, RotateWrapsByTheLargestValue)
{
    const double add[2] = {10, -10};
    RowLut<u8> r8(256, 2);
    calcluts_Nx8_rotate(r8.ptr(), add, 2, 8);
    EXPECT_EQ(r8.at(250, 0), 5);
    EXPECT_EQ(r8.at(245, 0), 255);
    EXPECT_EQ(r8.at(0, 0), 10);
    EXPECT_EQ(r8.at(5, 1), 250);
    EXPECT_EQ(r8.at(10, 1), 0);
    RowLut<u16> r16(4096, 2);
    calcluts_Nx16_rotate(r16.ptr(), add, 2, 12);
    EXPECT_EQ(r16.at(4090, 0), 5);
    EXPECT_EQ(r16.at(4085, 0), 4095);
    EXPECT_EQ(r16.at(5, 1), 4090);
}

// ---------------------------------------------------------------------------
// Application family
// ---------------------------------------------------------------------------

namespace {

template <class T>
std::vector<T> RandomFlat(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::vector<T> t(n);
    for (auto& e : t)
        e = T(rng());
    return t;
}

template <class T>
RowLut<T> RandomRows(size_t n, size_t comps, bool scattered, uint32_t seed)
{
    RowLut<T> rl(n, comps, scattered);
    std::mt19937 rng(seed);
    for (auto& e : rl.block)
        e = T(rng());
    return rl;
}

using Flat8 = int (*)(void*, kz_uint32, const void*, kz_uint32, const u8*, kz_uint32, kz_uint32, kz_uint32,
                      kz_uint32);
using Rows8 = int (*)(void*, kz_uint32, const void*, kz_uint32, const u8* const*, kz_uint32, kz_uint32, kz_uint32,
                      kz_uint32);
using Flat16 = int (*)(void*, kz_uint32, const void*, kz_uint32, const u16*, kz_uint32, kz_uint32, kz_uint32,
                       kz_uint32);
using Rows16 = int (*)(void*, kz_uint32, const void*, kz_uint32, const u16* const*, kz_uint32, kz_uint32,
                       kz_uint32, kz_uint32);

} // namespace

void FlatMembersMatchReference();
void RowPointerMembersMatchReference();

TEST(ApplyLuts, FlatMembersMatchReference)
{
    kzt::ForEachIsa([] { FlatMembersMatchReference(); });
}

void FlatMembersMatchReference()
{
    struct Case8 {
        const char* name;
        Flat8 fn;
        uint32_t comps;
    } cases8[] = {{"applyluts_1x8", applyluts_1x8, 1},
                  {"applyluts_3x8_lut1", applyluts_3x8_lut1, 3},
                  {"applyluts_4x8_lut1", applyluts_4x8_lut1, 4},
                  {"applyluts_Nx8_lut1", applyluts_Nx8_lut1, 5},
                  {"applyluts_Nx8_lut1 (1)", applyluts_Nx8_lut1, 1},
                  {"applyluts_Nx8_lut1 (3)", applyluts_Nx8_lut1, 3}};
    uint32_t seed = 10;
    for (const Case8& c : cases8) {
        for (unsigned bits : {8u, 6u}) {
            const auto lut = RandomFlat<u8>(size_t(1) << bits, seed++);
            for (uint32_t width : {1u, 17u, 61u, 200u}) {
                TestPicture src = RandomPicture(width, 4, c.comps, 1, 0xFF, seed++);
                TestPicture dst = RandomPicture(width, 4, c.comps, 1, 0xFF, seed++);
                const TestPicture before = dst;
                EXPECT_EQ(c.fn(dst.data(), dst.rowBytes, src.data(), src.rowBytes, lut.data(), c.comps, bits, width,
                               width * 4),
                          0);
                const unsigned mask = (1u << bits) - 1;
                ExpectSamples(before, dst, [&](size_t r, size_t i, uint64_t) { return lut[src.get(r, i) & mask]; },
                              c.name);
                // In place.
                TestPicture inplace = src;
                c.fn(inplace.data(), inplace.rowBytes, inplace.data(), inplace.rowBytes, lut.data(), c.comps, bits,
                     width, width * 4);
                ExpectSamples(src, inplace, [&](size_t, size_t, uint64_t v) { return lut[v & mask]; }, c.name);
            }
        }
    }
    struct Case16 {
        const char* name;
        Flat16 fn;
        uint32_t comps;
    } cases16[] = {{"applyluts_1x16", applyluts_1x16, 1},
                   {"applyluts_3x16_lut1", applyluts_3x16_lut1, 3},
                   {"applyluts_4x16_lut1", applyluts_4x16_lut1, 4},
                   {"applyluts_Nx16_lut1", applyluts_Nx16_lut1, 5}};
    for (const Case16& c : cases16) {
        for (unsigned bits : {12u, 16u, 10u}) {
            const auto lut = RandomFlat<u16>(size_t(1) << bits, seed++);
            for (uint32_t width : {1u, 17u, 61u, 200u}) {
                // Samples use all 16 bits: those above the depth are masked, never read past the table.
                TestPicture src = RandomPicture(width, 3, c.comps, 2, 0xFFFF, seed++);
                TestPicture dst = RandomPicture(width, 3, c.comps, 2, 0xFFFF, seed++);
                const TestPicture before = dst;
                EXPECT_EQ(c.fn(dst.data(), dst.rowBytes, src.data(), src.rowBytes, lut.data(), c.comps, bits, width,
                               width * 3),
                          0);
                const unsigned mask = bits == 16 ? 0xFFFF : (1u << bits) - 1;
                ExpectSamples(before, dst, [&](size_t r, size_t i, uint64_t) { return lut[src.get(r, i) & mask]; },
                              c.name);
            }
        }
    }
}

TEST(ApplyLuts, SampleAboveDepthIsMasked)
{
    std::vector<u16> lut(65536);
    for (size_t i = 0; i < lut.size(); ++i)
        lut[i] = u16(i * 7 + 1);
    u16 src[1] = {0x1005}, dst[1] = {0};
    applyluts_1x16(dst, 2, src, 2, lut.data(), 1, 12, 1, 1);
    EXPECT_EQ(dst[0], lut[5]);
    applyluts_1x16(dst, 2, src, 2, lut.data(), 1, 16, 1, 1);
    EXPECT_EQ(dst[0], lut[0x1005]);
}

TEST(ApplyLuts, RowPointerMembersMatchReference)
{
    kzt::ForEachIsa([] { RowPointerMembersMatchReference(); });
}

void RowPointerMembersMatchReference()
{
    struct Case8 {
        const char* name;
        Rows8 fn;
        uint32_t comps;
    } cases8[] = {{"applyluts_3x8", applyluts_3x8, 3},
                  {"applyluts_4x8", applyluts_4x8, 4},
                  {"applyluts_Nx8", applyluts_Nx8, 5},
                  {"applyluts_Nx8 (1)", applyluts_Nx8, 1},
                  {"applyluts_Nx8 (3)", applyluts_Nx8, 3}};
    uint32_t seed = 1000;
    for (const Case8& c : cases8) {
        for (bool scattered : {false, true}) {
            const auto rl = RandomRows<u8>(256, c.comps, scattered, seed++);
            for (uint32_t width : {1u, 29u, 150u}) {
                TestPicture src = RandomPicture(width, 3, c.comps, 1, 0xFF, seed++);
                TestPicture dst = RandomPicture(width, 3, c.comps, 1, 0xFF, seed++);
                const TestPicture before = dst;
                EXPECT_EQ(c.fn(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), c.comps, 8, width,
                               width * 3),
                          0);
                ExpectSamples(
                    before, dst, [&](size_t r, size_t i, uint64_t) { return rl.at(src.get(r, i), i % c.comps); },
                    c.name);
                TestPicture inplace = src;
                c.fn(inplace.data(), inplace.rowBytes, inplace.data(), inplace.rowBytes, rl.cptr(), c.comps, 8,
                     width, width * 3);
                ExpectSamples(src, inplace, [&](size_t, size_t i, uint64_t v) { return rl.at(v, i % c.comps); },
                              c.name);
            }
        }
    }
    struct Case16 {
        const char* name;
        Rows16 fn;
        uint32_t comps;
    } cases16[] = {{"applyluts_3x16", applyluts_3x16, 3},
                   {"applyluts_4x16", applyluts_4x16, 4},
                   {"applyluts_Nx16", applyluts_Nx16, 5}};
    for (const Case16& c : cases16) {
        for (bool scattered : {false, true}) {
            for (unsigned bits : {10u, 16u}) {
                const auto rl = RandomRows<u16>(size_t(1) << bits, c.comps, scattered, seed++);
                // Wide enough that the contiguous-table path is taken for 10 bits.
                for (uint32_t width : {3u, 401u}) {
                    TestPicture src = RandomPicture(width, 3, c.comps, 2, 0xFFFF, seed++);
                    TestPicture dst = RandomPicture(width, 3, c.comps, 2, 0xFFFF, seed++);
                    const TestPicture before = dst;
                    EXPECT_EQ(c.fn(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), c.comps, bits,
                                   width, width * 3),
                              0);
                    const unsigned mask = bits == 16 ? 0xFFFF : (1u << bits) - 1;
                    ExpectSamples(
                        before, dst,
                        [&](size_t r, size_t i, uint64_t) { return rl.at(src.get(r, i) & mask, i % c.comps); },
                        c.name);
                }
            }
        }
    }
}

// Large three-component 16-bit pictures go through per-component planes
// copied from the rows (contiguous or scattered), apart and in place; the
// result is the lookup of every sample.
TEST(ApplyLuts, ThreeComponentWordsThroughPlanes)
{
    uint32_t seed = 5000;
    for (unsigned bits : {10u, 16u}) {
        for (bool scattered : {false, true}) {
            const auto rl = RandomRows<u16>(size_t(1) << bits, 3, scattered, seed++);
            // At least eight samples per table entry; odd widths leave a tail.
            const uint32_t width = bits == 10 ? 3001u : 2047u;
            const uint32_t height = bits == 10 ? 3u : 257u;
            const unsigned mask = (1u << bits) - 1;
            TestPicture src = RandomPicture(width, height, 3, 2, 0xFFFF, seed++);
            TestPicture dst = RandomPicture(width, height, 3, 2, 0xFFFF, seed++);
            const TestPicture before = dst;
            ASSERT_EQ(applyluts_3x16(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), 3, bits, width,
                                     width * height),
                      0);
            ExpectSamples(before, dst,
                          [&](size_t r, size_t i, uint64_t) { return rl.at(src.get(r, i) & mask, i % 3); },
                          "applyluts_3x16 apart");
            TestPicture inplace = src;
            applyluts_3x16(inplace.data(), inplace.rowBytes, inplace.data(), inplace.rowBytes, rl.cptr(), 3, bits,
                           width, width * height);
            ExpectSamples(src, inplace, [&](size_t, size_t i, uint64_t v) { return rl.at(v & mask, i % 3); },
                          "applyluts_3x16 in place");
        }
    }
}

TEST(ApplyLuts, EmptyWidthOrShortCountTouchesNothing)
{
    const auto flat = RandomFlat<u8>(256, 1);
    const auto rl = RandomRows<u8>(256, 3, false, 2);
    TestPicture src = RandomPicture(8, 2, 3, 1, 0xFF, 3);
    TestPicture dst = RandomPicture(8, 2, 3, 1, 0xFF, 4);
    const TestPicture before = dst;
    const SKzLutExpColor col = {1, 2, 3, 0};
    for (uint32_t width : {0u, 8u}) {
        const uint32_t count = width ? 7 : 16;
        EXPECT_EQ(applyluts_3x8_lut1(dst.data(), dst.rowBytes, src.data(), src.rowBytes, flat.data(), 3, 8, width,
                                     count),
                  0);
        EXPECT_EQ(applyluts_3x8(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), 3, 8, width, count), 0);
        EXPECT_EQ(applyluts_3x8_overexp_underexp(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), &col,
                                                 &col, 3, 8, width, count),
                  0);
    }
    EXPECT_EQ(std::memcmp(before.data(), dst.data(), dst.totalBytes()), 0);
}

// ---------------------------------------------------------------------------
// Exposure marking
// ---------------------------------------------------------------------------

namespace {

// Reference marking of one pixel; returns the three outputs.
std::array<u8, 3> RefMarked(const u8* s, const RowLut<u8>& rl, const SKzLutExpColor* over,
                            const SKzLutExpColor* under, unsigned maxValue)
{
    for (int k = 2; k >= 0; --k) {
        const SKzLutExpColor* rec = nullptr;
        if (under && s[k] == 0)
            rec = under;
        else if (over && s[k] == maxValue)
            rec = over;
        if (rec) {
            if (rec->flag == 0)
                return {rec->blue, rec->green, rec->red};
            std::array<u8, 3> out = {255, 255, 255};
            out[k] = 0;
            return out;
        }
    }
    return {rl.at(s[0], 0), rl.at(s[1], 1), rl.at(s[2], 2)};
}

} // namespace

TEST(ApplyLutsMarking, FixedPixels)
{
    RowLut<u8> rl(256, 3);
    for (size_t v = 0; v < 256; ++v)
        for (size_t k = 0; k < 3; ++k)
            rl.rows[v][k] = u8(v / 2 + k);
    const SKzLutExpColor over = {10, 20, 30, 0}, under = {40, 50, 60, 0};
    const SKzLutExpColor overFlag = {10, 20, 30, 1}, underFlag = {40, 50, 60, 1};
    struct Case {
        const char* name;
        std::array<u8, 3> px;
        const SKzLutExpColor *over, *under;
        unsigned bits;
        std::array<u8, 3> want;
    } cases[] = {
        {"component 1 at the maximum is tested before component 0 at 0", {0, 255, 100}, &over, &under, 8, {10, 20, 30}},
        {"flagged over-exposure: component 1 decides", {0, 255, 100}, &overFlag, &under, 8, {255, 0, 255}},
        {"component 2 at the maximum, flagged", {7, 8, 255}, &overFlag, nullptr, 8, {255, 255, 0}},
        {"component 0 at 0, flagged", {0, 8, 9}, nullptr, &underFlag, 8, {0, 255, 255}},
        {"0 before the maximum in one component order", {255, 0, 9}, &over, &under, 8, {40, 50, 60}},
        {"nothing marked", {1, 254, 100}, &over, &under, 8, {0, 128, 52}},
        {"bits 7: 127 is over-exposed", {127, 5, 6}, &over, nullptr, 7, {10, 20, 30}},
        {"bits 7: 255 is not over-exposed", {255, 5, 6}, &over, nullptr, 7, {63, 3, 5}},
    };
    for (const Case& c : cases) {
        u8 src[3] = {c.px[0], c.px[1], c.px[2]}, dst[3] = {0, 0, 0};
        if (c.over && c.under)
            applyluts_3x8_overexp_underexp(dst, 3, src, 3, rl.cptr(), c.over, c.under, 3, c.bits, 1, 1);
        else if (c.over)
            applyluts_3x8_overexp(dst, 3, src, 3, rl.cptr(), c.over, 3, c.bits, 1, 1);
        else
            applyluts_3x8_underexp(dst, 3, src, 3, rl.cptr(), c.under, 3, c.bits, 1, 1);
        EXPECT_EQ(dst[0], c.want[0]) << c.name;
        EXPECT_EQ(dst[1], c.want[1]) << c.name;
        EXPECT_EQ(dst[2], c.want[2]) << c.name;
    }
}

TEST(ApplyLutsMarking, MatchReferenceOnRandomPictures)
{
    const SKzLutExpColor recs[] = {{10, 20, 30, 0}, {40, 50, 60, 1}};
    uint32_t seed = 5000;
    for (int variant = 0; variant < 3; ++variant) {
        for (const SKzLutExpColor& o : recs)
            for (const SKzLutExpColor& u : recs) {
                const auto rl = RandomRows<u8>(256, 3, variant == 1, seed++);
                const uint32_t width = 37;
                // Few distinct values, so that 0 and 255 are frequent.
                TestPicture src = RandomPicture(width, 4, 3, 1, 0xFF, seed++);
                for (uint32_t r = 0; r < 4; ++r)
                    for (size_t i = 0; i < src.samplesPerRow(); ++i) {
                        const uint64_t v = src.get(r, i);
                        src.put(r, i, v % 3 == 0 ? 0 : v % 3 == 1 ? 255 : v);
                    }
                TestPicture dst = RandomPicture(width, 4, 3, 1, 0xFF, seed++);
                const TestPicture before = dst;
                const SKzLutExpColor* over = variant == 2 ? nullptr : &o;
                const SKzLutExpColor* under = &u;
                if (variant == 0)
                    applyluts_3x8_overexp_underexp(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), over,
                                                   under, 3, 8, width, width * 4);
                else if (variant == 1)
                    applyluts_3x8_overexp(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), over, 3, 8,
                                          width, width * 4);
                else
                    applyluts_3x8_underexp(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), under, 3, 8,
                                           width, width * 4);
                const SKzLutExpColor* refUnder = variant == 1 ? nullptr : under;
                ExpectSamples(
                    before, dst,
                    [&](size_t r, size_t i, uint64_t) {
                        const size_t px = i / 3;
                        const u8 s[3] = {u8(src.get(r, px * 3)), u8(src.get(r, px * 3 + 1)),
                                         u8(src.get(r, px * 3 + 2))};
                        return uint64_t(RefMarked(s, rl, over, refUnder, 255)[i % 3]);
                    },
                    "marking");
            }
    }
}

TEST(ApplyLutsMarking, NullRecordsBehaveAsPlainApplication)
{
    const auto rl = RandomRows<u8>(256, 3, false, 77);
    TestPicture src = RandomPicture(21, 3, 3, 1, 0xFF, 78);
    for (int which = 0; which < 3; ++which) {
        TestPicture dst = RandomPicture(21, 3, 3, 1, 0xFF, 79);
        const TestPicture before = dst;
        if (which == 0)
            applyluts_3x8_overexp(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), nullptr, 3, 8, 21, 63);
        else if (which == 1)
            applyluts_3x8_underexp(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), nullptr, 3, 8, 21,
                                   63);
        else
            applyluts_3x8_overexp_underexp(dst.data(), dst.rowBytes, src.data(), src.rowBytes, rl.cptr(), nullptr,
                                           nullptr, 3, 8, 21, 63);
        ExpectSamples(before, dst, [&](size_t r, size_t i, uint64_t) { return rl.at(src.get(r, i), i % 3); }, "null");
    }
}
