// Edge cases of channel composition, exposure marking and bit unpacking,
// and hostile inputs (samples above the depth, many components, odd gains,
// offsets past a byte, pictures that end where their allocation ends).
#include "gnr_picture/KzKernelsCompose.h"
#include "gnr_picture/internal/KzKernelsComposeInternal.h"
#include "gnr_system/CKzRangeMask.h"

#include "compose_test_support.h"
#include "kernel_test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <functional>
#include <limits>
#include <vector>

using namespace kzc_test;

namespace {

using Rgb = std::array<int, 3>;  // blue, green, red

// Colour of value v in component k's table: given by a function; every other
// row gets a fixed filler so a wrong row shows.
using ColourFn = std::function<Rgb(size_t k, size_t v)>;

template <class T>
CompLut<T> MakeLut(size_t n, size_t rows, const ColourFn& f, int layout = 0)
{
    return CompLut<T>(n, rows, layout, [&](size_t t, size_t v, int c) { return f(t, v)[c]; });
}

// One row of pixels, each pixel n samples.
template <class T>
std::vector<T> Row(std::initializer_list<std::initializer_list<int>> pixels)
{
    std::vector<T> s;
    for (const auto& p : pixels)
        for (int v : p)
            s.push_back(T(v));
    return s;
}

Rgb Px(const std::vector<uint8_t>& d, size_t i) { return {d[3 * i], d[3 * i + 1], d[3 * i + 2]}; }

// Colours used below: component k, value v.
Rgb Col(size_t k, size_t v) { return {int((v * 7 + k * 31 + 3) & 0xFF), int((v * 13 + k * 5 + 1) & 0xFF), int((v + k * 57) & 0xFF)}; }

int S(int a, int b) { return a + b - a * b / 255; }

}  // namespace

// ---------------------------------------------------------------------------
// Screen-blend table and blends
// ---------------------------------------------------------------------------

TEST(ScreenMap, EqualsTheFormulaEverywhere)
{
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            ASSERT_EQ(g_pMap[a * 256 + b], a + b - (a * b) / 255) << a << ", " << b;
    struct { int a, b, want; } cases[] = {{0, 77, 77}, {255, 3, 255}, {128, 128, 192}, {100, 200, 222}, {77, 0, 77},
                                          {3, 255, 255}, {255, 255, 255}, {0, 0, 0}};
    for (const auto& c : cases) {
        EXPECT_EQ(g_pMap[c.a * 256 + c.b], c.want) << c.a << ", " << c.b;
        EXPECT_EQ(g_pMap[c.b * 256 + c.a], c.want) << c.b << ", " << c.a;
    }
}

// Blends of the composition, each seen through a two-component member with
// a table whose colour for value v is v on every channel.
TEST(ComposeBlends, BlendValuesOfTheSixteenBitMembers)
{
    struct Case { unsigned bits; int a, b, wantB, wantR; } cases[] = {
        {12, 2048, 2048, 3072, 2048}, {12, 4095, 77, 4095, -1}, {12, 0, 1234, 1234, 1234},
        {16, 65535, 65535, 65535, 65535}, {16, 65535, 40000, 65535, -1}, {16, 50000, 50000, 61853, 50000},
        {12, 100, 25, -1, 75}, {12, 1000, 4000, -1, 3000}, {12, 3, 2, -1, 3}, {12, 0, 500, 500, 500},
        {12, 4095, 4095, 4095, 4095}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.a << " with " << c.b);
        const size_t rows = size_t(1) << c.bits;
        auto lut = MakeLut<uint16_t>(2, rows, [](size_t, size_t v) { return Rgb{int(v), int(v), int(v)}; });
        const std::vector<uint16_t> src = {uint16_t(c.a), uint16_t(c.b)};
        const unsigned long full = 3;
        kzt::ForEachIsa([&] {
            std::vector<uint16_t> d(3, 0xEEEE);
            if (c.wantB >= 0) {
                ASSERT_EQ(mapcomp_2x16_3x16(d.data(), 6, src.data(), 4, c.bits, lut.get(), &full, 1, 1), 0);
                EXPECT_EQ(d[0], c.wantB);
                EXPECT_EQ(d[2], c.wantB);
            }
            if (c.wantR >= 0) {
                ASSERT_EQ(mapcomp_Nx16_3x16(d.data(), 6, src.data(), 2, 4, c.bits, lut.get(), &full, 1, 1), 0);
                EXPECT_EQ(d[1], c.wantR);
            }
        });
    }
}

TEST(ComposeBlends, ScreenBlendIsAppliedInComponentOrder)
{
    // Blue bytes 5, 7, 22: (5 S 7) S 22 = 33, whereas 5 S (7 S 22) = 34.
    const int blues[3] = {5, 7, 22};
    auto lut = MakeLut<uint8_t>(3, 256, [&](size_t k, size_t) { return Rgb{blues[k], 0, 255}; });
    const std::vector<uint8_t> src = {1, 2, 3};
    const unsigned long full = 7, noneAbove = 0b111 | (1ul << 40);
    for (auto m : {full, noneAbove}) {
        std::vector<uint8_t> d(3, 0xEE);
        ASSERT_EQ(mapcomp_3x8_3x8(d.data(), 3, src.data(), 3, lut.get(), &m, 1, 1), 0);
        EXPECT_EQ(Px(d, 0), (Rgb{33, 0, 255}));
        ASSERT_EQ(mapcomp_Nx8_3x8(d.data(), 3, src.data(), 3, 3, lut.get(), &m, 1, 1), 0);
        EXPECT_EQ(Px(d, 0), (Rgb{33, 0, 255}));
    }
    // Two visible components with blue 100 and 100: 161.
    auto lut2 = MakeLut<uint8_t>(2, 256, [](size_t, size_t) { return Rgb{100, 100, 100}; });
    std::vector<uint8_t> d(3);
    const unsigned long two = 3;
    ASSERT_EQ(mapcomp_2x8_3x8(d.data(), 3, src.data(), 2, lut2.get(), &two, 1, 1), 0);
    EXPECT_EQ(d[0], 161);
}

// ---------------------------------------------------------------------------
// Masks
// ---------------------------------------------------------------------------

TEST(ComposeMasks, VisibleComponentsOfTheFixedAndAnyCountMembers)
{
    auto lut = MakeLut<uint8_t>(3, 256, Col);
    const std::vector<uint8_t> src = {10, 20, 30};
    const Rgb c0 = Col(0, 10), c1 = Col(1, 20), c2 = Col(2, 30);
    auto blend = [](Rgb a, Rgb b) { return Rgb{S(a[0], b[0]), S(a[1], b[1]), S(a[2], b[2])}; };
    struct Case { unsigned long mask; Rgb want; const char* what; } cases[] = {
        {0b111, blend(blend(c0, c1), c2), "all"},
        {0b101, blend(c0, c2), "0 and 2"},
        {0b010, c1, "only 1"},
        {0b000, Rgb{0, 0, 0}, "none: black"},
        {0b111 | ~0ul << 3, blend(blend(c0, c1), c2), "bits above n ignored"},
        {0b100 | ~0ul << 3, c2, "only 2, garbage above"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> d(3, 0xEE);
        ASSERT_EQ(mapcomp_3x8_3x8(d.data(), 3, src.data(), 3, lut.get(), &c.mask, 1, 1), 0);
        EXPECT_EQ(Px(d, 0), c.want);
        std::fill(d.begin(), d.end(), 0xEE);
        ASSERT_EQ(mapcomp_Nx8_3x8(d.data(), 3, src.data(), 3, 3, lut.get(), &c.mask, 1, 1), 0);
        EXPECT_EQ(Px(d, 0), c.want);
    }
    // One component through the any-count member: its colour, or black.
    for (unsigned long m : {1ul, 0ul, 2ul}) {
        std::vector<uint8_t> d(3, 0xEE);
        ASSERT_EQ(mapcomp_Nx8_3x8(d.data(), 3, src.data(), 1, 1, lut.get(), &m, 1, 1), 0);
        EXPECT_EQ(Px(d, 0), (m & 1) ? c0 : (Rgb{0, 0, 0})) << m;
    }
    // Two components: one visible gives its colour, none gives black rows.
    for (unsigned long m : {1ul, 2ul, 0ul, 4ul}) {
        std::vector<uint8_t> d(3, 0xEE);
        ASSERT_EQ(mapcomp_2x8_3x8(d.data(), 3, src.data(), 2, lut.get(), &m, 1, 1), 0);
        EXPECT_EQ(Px(d, 0), (m == 1 ? c0 : m == 2 ? c1 : Rgb{0, 0, 0})) << m;
        std::vector<uint16_t> s16 = {10, 20};
        std::fill(d.begin(), d.end(), 0xEE);
        ASSERT_EQ(mapcomp_2x16_3x8(d.data(), 3, s16.data(), 9, 4, lut.get(), &m, 1, 1), 0);
        EXPECT_EQ(Px(d, 0), (m == 1 ? c0 : m == 2 ? c1 : Rgb{0, 0, 0})) << m;
    }
}

// The full-mask test of the any-count members reads exactly the words of the
// first n bits (a heap block of exactly that many words: a read past it
// fails under the sanitizers), and n = 0 reads nothing.
TEST(ComposeMasks, FullMaskTestReadsOnlyTheWordsOfTheFirstBits)
{
    struct Case { unsigned n; bool full; } cases[] = {{1, true}, {63, true}, {64, true}, {65, true}, {128, true},
                                                     {130, false}, {200, true}};
    for (const auto& c : cases) {
        const size_t words = (c.n + 63) / 64;
        std::unique_ptr<unsigned long[]> w(new unsigned long[words]);
        for (size_t i = 0; i < words; ++i)
            w[i] = ~0ul;
        if (!c.full)
            w[words - 1] &= ~(1ul << ((c.n - 1) % 64));
        else if (c.n % 64)
            w[words - 1] &= (1ul << (c.n % 64)) - 1;  // nothing set past n
        EXPECT_EQ(CKzRangeMask::IsMaskFull(w.get(), c.n), c.full) << c.n;
    }
    EXPECT_TRUE(CKzRangeMask::IsMaskFull(nullptr, 0));
}

// ---------------------------------------------------------------------------
// Rows
// ---------------------------------------------------------------------------

TEST(ComposeRows, CountsBelowTheWidthAndPartialRows)
{
    auto lut = MakeLut<uint8_t>(3, 256, Col);
    const uint32_t width = 4;
    std::vector<uint8_t> src(3 * width * 3, 9);
    const unsigned long full = 7;
    struct Case { uint32_t count; size_t rowsWritten; } cases[] = {{3, 0}, {0, 0}, {4, 1}, {10, 2}, {12, 3}};
    for (const auto& c : cases) {
        std::vector<uint8_t> d(3 * width * 3, 0xEE);
        ASSERT_EQ(mapcomp_3x8_3x8(d.data(), 3 * width, src.data(), 3 * width, lut.get(), &full, width, c.count), 0);
        for (size_t i = 0; i < d.size(); ++i)
            ASSERT_EQ(d[i] == 0xEE, i >= c.rowsWritten * 3 * width) << "count " << c.count << " byte " << i;
        std::fill(d.begin(), d.end(), 0xEE);
        ASSERT_EQ(mapcomp_Nx8_3x8_overexp_underexp(d.data(), 3 * width, src.data(), 3, 3 * width, lut.get(), &full,
                                                   nullptr, nullptr, width, c.count),
                  0);
        for (size_t i = 0; i < d.size(); ++i)
            ASSERT_EQ(d[i] == 0xEE, i >= c.rowsWritten * 3 * width) << "count " << c.count << " byte " << i;
    }
    // Component count 0 writes nothing, in every any-count member.
    std::vector<uint8_t> d(12, 0xEE);
    const SKzLutExpColor rec{1, 2, 3, 0};
    EXPECT_EQ(mapcomp_Nx8_3x8(d.data(), 12, src.data(), 0, 12, lut.get(), &full, 4, 4), 0);
    EXPECT_EQ(mapcomp_Nx8_3x8_overexp_underexp(d.data(), 12, src.data(), 0, 12, lut.get(), &full, &rec, &rec, 4, 4), 0);
    EXPECT_EQ(mapcomp_Nx8_3x8_add(d.data(), 12, src.data(), 0, 12, lut.get(), 1.0, &full, &full, 4, 4), 0);
    EXPECT_EQ(std::count(d.begin(), d.end(), 0xEE), 12);
    EXPECT_EQ(mapcomp_Nx8_Mx8(d.data(), 12, src.data(), 3, 12, lut.get(), &full, 4, 4), KZ_ERR_NOT_SUPPORTED);
    EXPECT_EQ(std::count(d.begin(), d.end(), 0xEE), 12);
}

// ---------------------------------------------------------------------------
// Add composition
// ---------------------------------------------------------------------------

TEST(ComposeAdd, WorkedExamples)
{
    // Blue bytes per component: 200, 100, 90.
    const int blues[3] = {200, 100, 90};
    auto lut = MakeLut<uint8_t>(3, 256, [&](size_t k, size_t) { return Rgb{blues[k], 0, 255}; });
    const std::vector<uint8_t> src = {1, 2, 3};
    struct Case { double gain; unsigned long mask, add; int blue; const char* what; } cases[] = {
        {1.0, 0b011, 0b011, 150, "two added, gain 1: q = 38250"},
        {1.0, 0b111, 0b011, 120, "third outside the add mask: 75 + 45"},
        {2.0, 0b011, 0b011, 255, "gain 2 saturates"},
        {-1.0, 0b011, 0b011, 0, "negative gain: h = 0"},
        {std::numeric_limits<double>::quiet_NaN(), 0b011, 0b011, 0, "NaN gain: h = 0"},
        {1e300, 0b011, 0b011, 255, "huge gain: saturates, no wrap"},
        {1e300, 0b111, 0b011, 127 + 45, "huge gain with another term"},
        {1.0, 0b111, 0b000, 200 / 4 + 100 / 4 + 90 / 4, "nothing added: the divided others"},
        // Component 1 is in the add mask but invisible: (200 + 90) * 255 / 2 / 255 = 145 (130 if it counted).
        {1.0, 0b101, 0b111, 145, "invisible added component ignored"},
        {std::numeric_limits<double>::infinity(), 0b011, 0b011, 255, "infinite gain saturates"},
        {-std::numeric_limits<double>::infinity(), 0b011, 0b011, 0, "minus infinity: h = 0"},
        {0.5, 0b011, 0b011, 75, "gain 0.5: h = 128, q = 19200"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> d(3, 0xEE);
        ASSERT_EQ(mapcomp_Nx8_3x8_add(d.data(), 3, src.data(), 3, 3, lut.get(), c.gain, &c.mask, &c.add, 1, 1), 0);
        EXPECT_EQ(d[0], c.blue);
        std::vector<uint16_t> s16(src.begin(), src.end());
        std::fill(d.begin(), d.end(), 0xEE);
        ASSERT_EQ(mapcomp_Nx16_3x8_add(d.data(), 3, s16.data(), 8, 6, 3, lut.get(), c.gain, &c.mask, &c.add, 1, 1), 0);
        EXPECT_EQ(d[0], c.blue);
    }
    // No visible component: the destination keeps its bytes.
    const unsigned long none = 0, all = 7;
    std::vector<uint8_t> d(3, 0xEE);
    EXPECT_EQ(mapcomp_Nx8_3x8_add(d.data(), 3, src.data(), 3, 3, lut.get(), 1.0, &none, &all, 1, 1), 0);
    EXPECT_EQ(d, std::vector<uint8_t>(3, 0xEE));
}

TEST(ComposeAdd, OverExposedListedComponentsOnly)
{
    auto lut = MakeLut<uint8_t>(3, 4096, [](size_t, size_t) { return Rgb{200, 0, 0}; });
    const uint8_t over[3] = {1, 2, 3};
    const unsigned long mask = 0b011, add = 0b001;
    struct Case { std::vector<uint8_t> s8; std::vector<uint16_t> s16; bool marked; } cases[] = {
        {{255, 1, 1}, {4095, 1, 1}, true},      // added component at the top
        {{1, 255, 1}, {1, 4095, 1}, true},      // other listed component
        {{1, 1, 255}, {1, 1, 4095}, false},     // invisible component
        {{254, 1, 1}, {4094, 1, 1}, false},
        {{1, 1, 1}, {65535, 1, 1}, true},       // raw sample above the depth
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> d(3, 0xEE);
        if (c.s16[0] != 65535) {
            ASSERT_EQ(mapcomp_Nx8_3x8_add_overexp(d.data(), 3, c.s8.data(), 3, 3, lut.get(), 1.0, &mask, over, &add, 1,
                                                  1),
                      0);
            EXPECT_EQ(d[0] == 1 && d[1] == 2 && d[2] == 3, c.marked);
            // A null colour works as the plain add member.
            std::vector<uint8_t> plain(3), nul(3);
            mapcomp_Nx8_3x8_add(plain.data(), 3, c.s8.data(), 3, 3, lut.get(), 1.0, &mask, &add, 1, 1);
            mapcomp_Nx8_3x8_add_overexp(nul.data(), 3, c.s8.data(), 3, 3, lut.get(), 1.0, &mask, nullptr, &add, 1, 1);
            EXPECT_EQ(plain, nul);
        }
        std::fill(d.begin(), d.end(), 0xEE);
        ASSERT_EQ(mapcomp_Nx16_3x8_add_overexp(d.data(), 3, c.s16.data(), 12, 6, 3, lut.get(), 1.0, &mask, over, &add,
                                               1, 1),
                  0);
        EXPECT_EQ(d[0] == 1 && d[1] == 2 && d[2] == 3, c.marked);
    }
}

// ---------------------------------------------------------------------------
// One blend pass
// ---------------------------------------------------------------------------

TEST(ComposeIter, BlendsIntoTheDestination)
{
    auto lutA = MakeLut<uint8_t>(1, 256, Col);
    auto lutB = MakeLut<uint8_t>(1, 256, [](size_t, size_t v) { return Col(7, v); });
    // Three components per pixel; the pass reads the first sample of each.
    const std::vector<uint8_t> src = {10, 99, 99, 20, 99, 99};
    std::vector<uint8_t> d(6, 0);
    ASSERT_EQ(mapcomp_Iter1x8_3x8(d.data(), 6, src.data(), 3, 6, lutA.one(), nullptr, 2, 2), 0);
    EXPECT_EQ(Px(d, 0), Col(0, 10));
    EXPECT_EQ(Px(d, 1), Col(0, 20));
    ASSERT_EQ(mapcomp_Iter1x8_3x8(d.data(), 6, src.data(), 3, 6, lutB.one(), nullptr, 2, 2), 0);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(d[c], S(Col(0, 10)[c], Col(7, 10)[c]));
}

// ---------------------------------------------------------------------------
// Exposure marking
// ---------------------------------------------------------------------------

namespace {

// The three forms of each count through one call: kind 0 over only, 1 under
// only, 2 both (null records allowed).
int Mark8(int count, int kind, uint8_t* d, const uint8_t* s, KzCompLut8 t, const unsigned long* m,
          const SKzLutExpColor* o, const SKzLutExpColor* u, uint32_t w)
{
    const uint32_t st = 3 * w, ss = uint32_t(count) * w;
#define KZT_MARK8(cnt)                                                                                           \
    if (kind == 0)                                                                                               \
        return mapcomp_##cnt##x8_3x8_overexp(d, st, s, ss, t, m, o, w, w);                                      \
    if (kind == 1)                                                                                               \
        return mapcomp_##cnt##x8_3x8_underexp(d, st, s, ss, t, m, u, w, w);                                     \
    return mapcomp_##cnt##x8_3x8_overexp_underexp(d, st, s, ss, t, m, o, u, w, w);
    switch (count) {
    case 1:
        if (kind == 0)
            return mapcomp_1x8_3x8_overexp(d, st, s, ss, t[0], o, w, w);
        if (kind == 1)
            return mapcomp_1x8_3x8_underexp(d, st, s, ss, t[0], u, w, w);
        return mapcomp_1x8_3x8_overexp_underexp(d, st, s, ss, t[0], o, u, w, w);
    case 2: KZT_MARK8(2)
    case 3: KZT_MARK8(3)
    case 4: KZT_MARK8(4)
    case 5: KZT_MARK8(5)
    case 6: KZT_MARK8(6)
    default: break;
    }
#undef KZT_MARK8
    return -100;
}

}  // namespace

TEST(ComposeMarking, MarkerRuleWorkedExamples)
{
    // C_k(255) = (10 + k, 20 + k, 30 + k); other values: Col.
    auto colour = [](size_t k, size_t v) { return v == 255 ? Rgb{int(10 + k), int(20 + k), int(30 + k)} : Col(k, v); };
    auto lut = MakeLut<uint8_t>(3, 256, colour);
    const SKzLutExpColor overRec{1, 2, 3, 0}, underRec{4, 5, 6, 0}, overComp{1, 2, 3, 9}, underComp{4, 5, 6, 1};
    auto comp = [&](size_t k) { Rgb c = colour(k, 255); return Rgb{255 - c[0], 255 - c[1], 255 - c[2]}; };
    const std::vector<uint8_t> src = {200, 255, 0};
    struct Case { unsigned long mask; const SKzLutExpColor* o; const SKzLutExpColor* u; Rgb want; const char* what; } cases[] = {
        {0b111, &overRec, &underRec, {1, 2, 3}, "all visible: component 1 over"},
        {0b101, &overRec, &underRec, {4, 5, 6}, "1 invisible: component 2 under"},
        {0b001, &overRec, &underRec, Col(0, 200), "only 0 visible: its colour"},
        {0b111, &overComp, &underRec, comp(1), "complementary over"},
        {0b101, &overComp, &underComp, comp(2), "complementary under"},
        {0b101, &overComp, nullptr, Col(0, 200), "over only: component 2 at 0 composes"},
        {0b000, &overRec, &underRec, {0, 0, 0}, "none visible: black"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> d(3, 0xEE);
        ASSERT_EQ(Mark8(3, 2, d.data(), src.data(), lut.get(), &c.mask, c.o, c.u, 1), 0);
        if (std::string(c.what).rfind("only 0", 0) == 0 || std::string(c.what).rfind("over only", 0) == 0) {
            // Only component 0 visible or composing: its colour, blended with
            // component 2 when that is visible.
            Rgb want = Col(0, 200);
            if (c.mask & 4)
                for (int i = 0; i < 3; ++i)
                    want[i] = S(want[i], Col(2, 0)[i]);
            EXPECT_EQ(Px(d, 0), want);
        } else {
            EXPECT_EQ(Px(d, 0), c.want);
        }
    }
    // The complement follows each record's own flag; with both flagged the two
    // markers are the same complement.
    auto lut1 = MakeLut<uint8_t>(1, 256, colour);
    struct Flags { const SKzLutExpColor* o; const SKzLutExpColor* u; Rgb at255, at0; } flags[] = {
        {&overComp, &underRec, comp(0), {4, 5, 6}},
        {&overRec, &underComp, {1, 2, 3}, comp(0)},
        {&overComp, &underComp, comp(0), comp(0)},
    };
    for (const auto& f : flags) {
        const std::vector<uint8_t> s = {255, 0, 7};
        std::vector<uint8_t> d(9, 0xEE);
        ASSERT_EQ(mapcomp_1x8_3x8_overexp_underexp(d.data(), 9, s.data(), 3, lut1.one(), f.o, f.u, 3, 3), 0);
        EXPECT_EQ(Px(d, 0), f.at255);
        EXPECT_EQ(Px(d, 1), f.at0);
        EXPECT_EQ(Px(d, 2), Col(0, 7));
    }
}

// Every count and form: samples at 0 and 255 in each position, against a
// direct reading of the marker rule.
TEST(ComposeMarking, EveryCountAndFormFollowsTheRule)
{
    auto lut = MakeLut<uint8_t>(6, 256, Col, 1);
    const SKzLutExpColor o{11, 22, 33, 0}, u{44, 55, 66, 1};
    for (int n = 1; n <= 6; ++n)
        for (int kind = 0; kind < 3; ++kind)
            for (unsigned long mask : {0x3Ful, 0x15ul, 0x2Aul, 0ul}) {
                // Pixels: all combinations of {0, 255, 128} over the n
                // components for n <= 3; a fixed set of rows otherwise.
                std::vector<uint8_t> s;
                const int vals[3] = {0, 255, 128};
                const int pixels = 27;
                for (int p = 0; p < pixels; ++p)
                    for (int k = 0; k < n; ++k)
                        s.push_back(uint8_t(vals[(p / (k == 0 ? 1 : k == 1 ? 3 : 9)) % 3 + 0 * k]));
                std::vector<uint8_t> d(3 * pixels, 0xEE);
                const unsigned long m = n == 1 ? 1 : mask;
                ASSERT_EQ(Mark8(n, kind, d.data(), s.data(), lut.get(), &m, kind != 1 ? &o : nullptr,
                                kind != 0 ? &u : nullptr, pixels),
                          0);
                const unsigned long low = (1ul << n) - 1;
                const bool full = (m & low) == low;
                for (int p = 0; p < pixels; ++p) {
                    Rgb want{0, 0, 0};
                    bool any = false, marked = false;
                    for (int k = 0; k < n && !marked; ++k) {
                        if (!(full || (m >> k) & 1))
                            continue;
                        const int v = s[p * n + k];
                        if (kind != 0 && v == 0) {
                            const Rgb t = Col(0, 255);
                            want = {255 - t[0], 255 - t[1], 255 - t[2]};
                            marked = true;
                        } else if (kind != 1 && v == 255) {
                            want = {11, 22, 33};
                            marked = true;
                        } else {
                            const Rgb c = Col(0, v);
                            for (int i = 0; i < 3; ++i)
                                want[i] = any ? S(want[i], c[i]) : c[i];
                            any = true;
                        }
                    }
                    if (marked) {
                        // composed colours of earlier components are discarded
                    }
                    EXPECT_EQ(Px(d, p), want) << "n " << n << " kind " << kind << " mask " << m << " pixel " << p;
                }
            }
}

TEST(ComposeMarking, NullRecordsGiveThePlainMembers)
{
    auto lut = MakeLut<uint8_t>(6, 256, Col);
    std::vector<uint8_t> s(6 * 40);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = uint8_t(i * 37 % 7 == 0 ? 255 : i * 37 % 5 == 0 ? 0 : i * 11);
    for (int n = 2; n <= 6; ++n)
        for (unsigned long m : {0x3Ful, 0x5ul, 0ul}) {
            std::vector<uint8_t> plain(120, 0xEE);
            const uint32_t ss = uint32_t(n) * 40;
            switch (n) {
            case 2: mapcomp_2x8_3x8(plain.data(), 120, s.data(), ss, lut.get(), &m, 40, 40); break;
            case 3: mapcomp_3x8_3x8(plain.data(), 120, s.data(), ss, lut.get(), &m, 40, 40); break;
            case 4: mapcomp_4x8_3x8(plain.data(), 120, s.data(), ss, lut.get(), &m, 40, 40); break;
            case 5: mapcomp_5x8_3x8(plain.data(), 120, s.data(), ss, lut.get(), &m, 40, 40); break;
            default: mapcomp_6x8_3x8(plain.data(), 120, s.data(), ss, lut.get(), &m, 40, 40); break;
            }
            for (int kind = 0; kind < 3; ++kind) {
                std::vector<uint8_t> d(120, 0xEE);
                ASSERT_EQ(Mark8(n, kind, d.data(), s.data(), lut.get(), &m, nullptr, nullptr, 40), 0);
                EXPECT_EQ(d, plain) << n << " " << kind << " " << m;
            }
        }
}

// 9..16-bit marking: the top is 2^bits - 1, compared on the raw sample.
TEST(ComposeMarking, SixteenBitTopAndComplement)
{
    struct Case { unsigned bits; uint16_t sample; int want; } cases[] = {
        // want: 0 composed, 1 over marker, 2 under marker
        {12, 4095, 1}, {12, 4094, 0}, {12, 0, 2}, {12, 65535, 1}, {12, 4096, 1}, {16, 65535, 1}, {16, 65534, 0},
        {9, 511, 1}, {9, 510, 0}, {15, 32767, 1}, {15, 0x8000, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, sample " << c.sample);
        const size_t rows = size_t(1) << c.bits;
        const size_t top = rows - 1;
        auto colour = [&](size_t k, size_t v) { return v == top ? Rgb{10, 20, int(30 + k)} : Col(k, v); };
        auto lut = MakeLut<uint8_t>(2, rows, colour);
        const SKzLutExpColor over{1, 2, 3, 0}, under{4, 5, 6, 7};
        const std::vector<uint16_t> s = {c.sample, 5};
        const unsigned long full = 3;
        std::vector<uint8_t> d(3, 0xEE);
        ASSERT_EQ(mapcomp_2x16_3x8_overexp_underexp(d.data(), 3, s.data(), c.bits, 4, lut.get(), &full, &over, &under,
                                                    1, 1),
                  0);
        Rgb want;
        if (c.want == 1)
            want = {1, 2, 3};
        else if (c.want == 2)
            want = {245, 235, 225};  // complement of C_0(M)
        else
            for (int i = 0; i < 3; ++i)
                want[i] = S(Col(0, c.sample)[i], Col(1, 5)[i]);
        EXPECT_EQ(Px(d, 0), want);
        // The under-only member takes its complement from C_0(M) too.
        std::fill(d.begin(), d.end(), 0xEE);
        const std::vector<uint16_t> zero = {0, 5};
        ASSERT_EQ(mapcomp_1x16_3x8_underexp(d.data(), 3, zero.data(), c.bits, 4, lut.one(), &under, 1, 1), 0);
        EXPECT_EQ(Px(d, 0), (Rgb{245, 235, 225}));
    }
}

TEST(ComposeMarking, SixteenBitFormsAgreeWithEachOther)
{
    // 7 components, 12 bits, shared layout.
    const unsigned bits = 12;
    auto lut = MakeLut<uint8_t>(7, 4096, Col, 1);
    const uint32_t w = 33;
    std::vector<uint16_t> s(7 * w);
    for (size_t i = 0; i < s.size(); ++i)
        s[i] = uint16_t(i % 9 == 0 ? 4095 : i % 7 == 0 ? 0 : i * 101 % 4096);
    const SKzLutExpColor over{1, 2, 3, 1};
    for (unsigned long m : {0x7Ful, 0x55ul, 0ul}) {
        std::vector<uint8_t> a(3 * w, 0xEE), b(3 * w, 0x11), plain(3 * w), both(3 * w);
        ASSERT_EQ(mapcomp_Nx16_3x8_overexp_underexp(a.data(), 3 * w, s.data(), bits, 7, 14 * w, lut.get(), &m, &over,
                                                    nullptr, w, w),
                  0);
        ASSERT_EQ(mapcomp_Nx16_3x8_overexp(b.data(), 3 * w, s.data(), bits, 14 * w, 7, lut.get(), &m, &over, w, w), 0);
        EXPECT_EQ(a, b);
        mapcomp_Nx16_3x8(plain.data(), 3 * w, s.data(), bits, 14 * w, 7, lut.get(), &m, w, w);
        mapcomp_Nx16_3x8_overexp_underexp(both.data(), 3 * w, s.data(), bits, 7, 14 * w, lut.get(), &m, nullptr,
                                          nullptr, w, w);
        EXPECT_EQ(plain, both);
        // No visible component: black rows from the single-marker two-component members.
        const unsigned long none = 0;
        std::vector<uint8_t> d(3 * w, 0xEE);
        ASSERT_EQ(mapcomp_2x16_3x8_overexp(d.data(), 3 * w, s.data(), bits, 4 * w, lut.get(), &none, &over, w, w), 0);
        EXPECT_EQ(d, std::vector<uint8_t>(3 * w, 0));
        std::fill(d.begin(), d.end(), 0xEE);
        ASSERT_EQ(mapcomp_2x16_3x8_underexp(d.data(), 3 * w, s.data(), bits, 4 * w, lut.get(), &none, &over, w, w), 0);
        EXPECT_EQ(d, std::vector<uint8_t>(3 * w, 0));
    }
}

// ---------------------------------------------------------------------------
// Refusals
// ---------------------------------------------------------------------------

TEST(ComposeRefusals, ResultCodesBeforeAnythingIsWritten)
{
    auto lut16 = MakeLut<uint16_t>(2, 2, [](size_t, size_t v) { return Rgb{int(v), 1, 2}; });
    const std::vector<uint16_t> s = {0, 1};
    const unsigned long full = ~0ul;
    for (unsigned bits : {0u, 17u, 32u, 1000u}) {
        std::vector<uint16_t> d(3, 0xEEEE);
        EXPECT_EQ(mapcomp_2x16_3x16(d.data(), 6, s.data(), 4, bits, lut16.get(), &full, 1, 1), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(mapcomp_6x16_3x16(d.data(), 6, s.data(), 12, bits, lut16.get(), &full, 1, 0), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(d, std::vector<uint16_t>(3, 0xEEEE));
    }
    // Bits 1: B divides by M = 1 and is defined for colour words 0 and 1.
    {
        auto lut1 = MakeLut<uint16_t>(2, 2, [](size_t, size_t v) { return Rgb{int(v), int(v), 0}; });
        const std::vector<uint16_t> s1 = {1, 1};
        std::vector<uint16_t> d(3);
        EXPECT_EQ(mapcomp_2x16_3x16(d.data(), 6, s1.data(), 4, 1, lut1.get(), &full, 1, 1), 0);
        EXPECT_EQ(d, (std::vector<uint16_t>{1, 1, 0}));
    }
    // More than 192 components with a marker record: -2, nothing written;
    // with both records null the plain work for any count.
    for (uint32_t n : {193u, 256u, 300u}) {
        auto lut = MakeLut<uint8_t>(n, 256, Col, 1);
        std::vector<uint8_t> s8(n, 255);
        std::vector<uint16_t> s16(n, 4095);
        std::vector<unsigned long> m(n / 64 + 1, ~0ul);
        const SKzLutExpColor rec{1, 2, 3, 0};
        std::vector<uint8_t> d(3, 0xEE);
        EXPECT_EQ(mapcomp_Nx8_3x8_overexp(d.data(), 3, s8.data(), n, n, lut.get(), m.data(), &rec, 1, 1), -2);
        EXPECT_EQ(mapcomp_Nx8_3x8_underexp(d.data(), 3, s8.data(), n, n, lut.get(), m.data(), &rec, 1, 1), -2);
        EXPECT_EQ(mapcomp_Nx8_3x8_overexp_underexp(d.data(), 3, s8.data(), n, n, lut.get(), m.data(), nullptr, &rec, 1, 1), -2);
        EXPECT_EQ(mapcomp_Nx16_3x8_overexp(d.data(), 3, s16.data(), 12, 2 * n, n, lut.get(), m.data(), &rec, 1, 1), -2);
        EXPECT_EQ(mapcomp_Nx16_3x8_underexp(d.data(), 3, s16.data(), 12, 2 * n, n, lut.get(), m.data(), &rec, 1, 1), -2);
        EXPECT_EQ(mapcomp_Nx16_3x8_overexp_underexp(d.data(), 3, s16.data(), 12, n, 2 * n, lut.get(), m.data(), &rec,
                                                    nullptr, 1, 1),
                  -2);
        EXPECT_EQ(d, std::vector<uint8_t>(3, 0xEE));
    }
}

// ---------------------------------------------------------------------------
// Hostile inputs (meant for the sanitize preset as much as for the results)
// ---------------------------------------------------------------------------

namespace {

// Calls every 9..16-bit member that reads the depth, and every depth-taking
// entry, on frame s (n components, width w, one row). Returns each call's
// output.
struct DepthCall {
    const char* name;
    int n;  // component count the call needs (0: any)
    std::function<int(uint8_t* d8, uint16_t* d16, const uint16_t* s, unsigned bits, uint32_t n, uint32_t w,
                      KzCompLut8 t8, KzCompLut16 t16, const unsigned long* m, const SKzLutExpColor* o,
                      const SKzLutExpColor* u)>
        call;
};

std::vector<DepthCall> DepthCalls()
{
    std::vector<DepthCall> v;
#define DC(name, CNT, body) v.push_back({#name, CNT, [](uint8_t* d8, uint16_t* d16, const uint16_t* s, unsigned bits, uint32_t n, uint32_t w, KzCompLut8 t8, KzCompLut16 t16, const unsigned long* m, const SKzLutExpColor* o, const SKzLutExpColor* u) { (void)d8; (void)d16; (void)t8; (void)t16; (void)o; (void)u; (void)m; (void)n; return body; }})
#define DC_FIXED(cnt)                                                                                              \
    DC(KzMapCompDepth_##cnt##x16_3x8, cnt, KzMapCompDepth_##cnt##x16_3x8(d8, 3 * w, s, bits, 2 * cnt * w, t8, m, w, w)); \
    DC(mapcomp_##cnt##x16_3x8_overexp, cnt, mapcomp_##cnt##x16_3x8_overexp(d8, 3 * w, s, bits, 2 * cnt * w, t8, m, o, w, w)); \
    DC(mapcomp_##cnt##x16_3x8_underexp, cnt, mapcomp_##cnt##x16_3x8_underexp(d8, 3 * w, s, bits, 2 * cnt * w, t8, m, u, w, w)); \
    DC(mapcomp_##cnt##x16_3x8_overexp_underexp, cnt, mapcomp_##cnt##x16_3x8_overexp_underexp(d8, 3 * w, s, bits, 2 * cnt * w, t8, m, o, u, w, w)); \
    DC(mapcomp_##cnt##x16_3x16, cnt, mapcomp_##cnt##x16_3x16(d16, 6 * w, s, 2 * cnt * w, bits, t16, m, w, w));
    DC_FIXED(2) DC_FIXED(3) DC_FIXED(4) DC_FIXED(5) DC_FIXED(6)
    DC(KzMapCompDepth_1x16_3x8, 1, KzMapCompDepth_1x16_3x8(d8, 3 * w, s, bits, 2 * w, t8[0], w, w));
    DC(mapcomp_1x16_3x8_overexp, 1, mapcomp_1x16_3x8_overexp(d8, 3 * w, s, bits, 2 * w, t8[0], o, w, w));
    DC(mapcomp_1x16_3x8_underexp, 1, mapcomp_1x16_3x8_underexp(d8, 3 * w, s, bits, 2 * w, t8[0], u, w, w));
    DC(mapcomp_1x16_3x8_overexp_underexp, 1, mapcomp_1x16_3x8_overexp_underexp(d8, 3 * w, s, bits, 2 * w, t8[0], o, u, w, w));
    DC(KzMapCompDepth_1x16_3x16, 1, KzMapCompDepth_1x16_3x16(d16, 6 * w, s, 2 * w, bits, t16[0], w, w));
    DC(KzMapCompDepth_Nx16_3x8, 0, KzMapCompDepth_Nx16_3x8(d8, 3 * w, s, bits, 2 * n * w, n, t8, m, w, w));
    DC(KzMapCompDepth_Nx16_3x16, 0, KzMapCompDepth_Nx16_3x16(d16, 6 * w, s, n, 2 * n * w, bits, t16, m, w, w));
    DC(KzMapCompDepth_Nx16_3x8_add, 0, KzMapCompDepth_Nx16_3x8_add(d8, 3 * w, s, bits, 2 * n * w, n, t8, 1.0, m, m, w, w));
    DC(mapcomp_Nx16_3x8_add_overexp, 0, mapcomp_Nx16_3x8_add_overexp(d8, 3 * w, s, bits, 2 * n * w, n, t8, 1.0, m, nullptr, m, w, w));
    DC(mapcomp_Nx16_3x8_overexp, 0, mapcomp_Nx16_3x8_overexp(d8, 3 * w, s, bits, 2 * n * w, n, t8, m, o, w, w));
    DC(mapcomp_Nx16_3x8_underexp, 0, mapcomp_Nx16_3x8_underexp(d8, 3 * w, s, bits, 2 * n * w, n, t8, m, u, w, w));
    DC(mapcomp_Nx16_3x8_overexp_underexp, 0, mapcomp_Nx16_3x8_overexp_underexp(d8, 3 * w, s, bits, n, 2 * n * w, t8, m, o, u, w, w));
#undef DC_FIXED
#undef DC
    return v;
}

}  // namespace

// Frames of 9..15 bits full of 0xFFFF (and other values above the depth)
// through every member that reads the depth and every depth-taking entry,
// with tables of exactly 2^bits rows: the sample is limited to the depth, so
// it takes the last row (a read past it fails under the sanitizers).
TEST(ComposeHostile, SamplesAboveTheDepthStayInsideTheTables)
{
    const uint32_t w = 5, nAny = 7;
    for (unsigned bits = 9; bits <= 15; ++bits) {
        const size_t rows = size_t(1) << bits;
        const size_t top = rows - 1;
        auto lut8 = MakeLut<uint8_t>(nAny, rows, [&](size_t k, size_t v) {
            return v == top ? Rgb{int(40 + k), 50, 60} : Rgb{1, 2, 3};
        });
        auto lut16 = MakeLut<uint16_t>(nAny, rows, [&](size_t, size_t v) {
            return v == top ? Rgb{int(top), 0, int(top)} : Rgb{1, 2, 3};
        });
        for (const uint16_t raw : {uint16_t(0xFFFF), uint16_t((rows << 1) | top), uint16_t(0x8000 | top)}) {
            for (const auto& dc : DepthCalls()) {
                SCOPED_TRACE(testing::Message() << dc.name << ", " << bits << " bits, sample " << raw);
                const uint32_t n = dc.n ? uint32_t(dc.n) : nAny;
                // The frame ends where its allocation ends.
                Buffer src(size_t(2) * n * w);
                for (size_t i = 0; i < size_t(n) * w; ++i)
                    std::memcpy(src.data() + 2 * i, &raw, 2);
                Buffer d8(3 * w), d16(6 * w);
                const unsigned long full = ~0ul;
                const SKzLutExpColor o{200, 201, 202, 0}, u{100, 101, 102, 0};
                ASSERT_EQ(dc.call(d8.data(), d16.words(), src.words(), bits, n, w, lut8.get(), lut16.get(), &full, &o, &u),
                          0);
                const std::string name = dc.name;
                if (name.compare(name.size() - 5, 5, "_3x16") == 0) {
                    // Every component's colour is (top, 0, top): B and R keep it.
                    for (uint32_t x = 0; x < w; ++x) {
                        EXPECT_EQ(d16.words()[3 * x], top);
                        EXPECT_EQ(d16.words()[3 * x + 1], 0);
                        EXPECT_EQ(d16.words()[3 * x + 2], top);
                    }
                } else if (name.find("overexp") != std::string::npos && name.find("add") == std::string::npos) {
                    // A raw sample at or above the top is over-exposed.
                    EXPECT_EQ(d8.data()[0], 200);
                } else if (name.find("add") == std::string::npos) {
                    // Composed (under-only marking too) from the last row of each table.
                    int blue = 40, green = 50;
                    for (uint32_t k = 1; k < n; ++k) {
                        blue = S(blue, int(40 + k));
                        green = S(green, 50);
                    }
                    EXPECT_EQ(d8.data()[0], blue);
                    EXPECT_EQ(d8.data()[1], green);
                }
            }
        }
    }
}

// 256 and 300 components (more than an 8-bit counter and more words than
// one) through the plain, add and marking any-count members.
TEST(ComposeHostile, ManyComponents)
{
    for (uint32_t n : {256u, 300u}) {
        SCOPED_TRACE(n);
        const uint32_t w = 3;
        auto lut = MakeLut<uint8_t>(n, 4096, Col);
        std::vector<uint8_t> s8(size_t(n) * w);
        std::vector<uint16_t> s16(size_t(n) * w);
        for (size_t i = 0; i < s8.size(); ++i) {
            s8[i] = uint8_t(i * 29 % 251 + 1);
            s16[i] = s8[i];
        }
        std::vector<unsigned long> full((n + 63) / 64, ~0ul), part((n + 63) / 64, 0x8000000000000101ul);
        for (const auto* m : {&full, &part}) {
            std::vector<uint8_t> want(3 * w);
            for (uint32_t x = 0; x < w; ++x) {
                bool any = false;
                for (uint32_t k = 0; k < n; ++k) {
                    if (!(((*m)[k / 64] >> (k % 64)) & 1))
                        continue;
                    const Rgb c = Col(k, s8[x * n + k]);
                    for (int i = 0; i < 3; ++i)
                        want[3 * x + i] = uint8_t(any ? S(want[3 * x + i], c[i]) : c[i]);
                    any = true;
                }
            }
            std::vector<uint8_t> d(3 * w, 0xEE);
            ASSERT_EQ(mapcomp_Nx8_3x8(d.data(), 3 * w, s8.data(), n, n * w, lut.get(), m->data(), w, w), 0);
            EXPECT_EQ(d, want);
            std::fill(d.begin(), d.end(), 0xEE);
            ASSERT_EQ(mapcomp_Nx16_3x8(d.data(), 3 * w, s16.data(), 12, 2 * n * w, n, lut.get(), m->data(), w, w), 0);
            EXPECT_EQ(d, want);
            std::fill(d.begin(), d.end(), 0xEE);
            ASSERT_EQ(mapcomp_Nx8_3x8_overexp_underexp(d.data(), 3 * w, s8.data(), n, n * w, lut.get(), m->data(),
                                                       nullptr, nullptr, w, w),
                      0);
            EXPECT_EQ(d, want);
            std::fill(d.begin(), d.end(), 0xEE);
            ASSERT_EQ(mapcomp_Nx16_3x8_overexp_underexp(d.data(), 3 * w, s16.data(), 12, n, 2 * n * w, lut.get(),
                                                        m->data(), nullptr, nullptr, w, w),
                      0);
            EXPECT_EQ(d, want);
            // Add composition: every visible component added, gain 1: the mean.
            std::vector<uint8_t> mean(3 * w);
            for (uint32_t x = 0; x < w; ++x)
                for (int i = 0; i < 3; ++i) {
                    uint64_t sum = 0, cnt = 0;
                    for (uint32_t k = 0; k < n; ++k)
                        if (((*m)[k / 64] >> (k % 64)) & 1) {
                            sum += uint64_t(Col(k, s8[x * n + k])[i]);
                            ++cnt;
                        }
                    mean[3 * x + i] = uint8_t(std::min<uint64_t>(255, 255 * sum / cnt / 255));
                }
            std::fill(d.begin(), d.end(), 0xEE);
            ASSERT_EQ(mapcomp_Nx8_3x8_add(d.data(), 3 * w, s8.data(), n, n * w, lut.get(), 1.0, m->data(), full.data(),
                                          w, w),
                      0);
            EXPECT_EQ(d, mean);
            std::fill(d.begin(), d.end(), 0xEE);
            ASSERT_EQ(mapcomp_Nx16_3x8_add_overexp(d.data(), 3 * w, s16.data(), 12, 2 * n * w, n, lut.get(), 1.0,
                                                   m->data(), nullptr, full.data(), w, w),
                      0);
            EXPECT_EQ(d, mean);
        }
    }
}

// Pictures whose last row ends at the end of their allocation, with row
// bytes equal to the row length and odd widths: nothing is read or written
// past them (checked by the sanitizers), and the results match a padded run.
TEST(ComposeHostile, PicturesEndingAtTheEndOfTheirBuffer)
{
    for (uint32_t w : {1u, 7u, 255u, 257u, 600u}) {
        SCOPED_TRACE(w);
        const uint32_t h = 3, n = 3;
        auto lut8 = MakeLut<uint8_t>(n, 4096, Col);
        auto lut16 = MakeLut<uint16_t>(n, 4096, [](size_t k, size_t v) { return Rgb{int(v), int(k * 100), 4095}; });
        Buffer s8(size_t(n) * w * h), s16(size_t(2) * n * w * h), d8(size_t(3) * w * h), d16(size_t(6) * w * h);
        for (size_t i = 0; i < size_t(n) * w * h; ++i) {
            s8.data()[i] = uint8_t(i * 7 % 256);
            const uint16_t v = uint16_t(i * 7 % 4096);
            std::memcpy(s16.data() + 2 * i, &v, 2);
        }
        const unsigned long full = 7, part = 5;
        const SKzLutExpColor rec{1, 2, 3, 1};
        for (const unsigned long* m : {&full, &part}) {
            EXPECT_EQ(mapcomp_3x8_3x8(d8.data(), 3 * w, s8.data(), n * w, lut8.get(), m, w, w * h), 0);
            EXPECT_EQ(mapcomp_Nx8_3x8(d8.data(), 3 * w, s8.data(), n, n * w, lut8.get(), m, w, w * h), 0);
            EXPECT_EQ(mapcomp_3x8_3x8_overexp_underexp(d8.data(), 3 * w, s8.data(), n * w, lut8.get(), m, &rec, &rec, w,
                                                       w * h),
                      0);
            EXPECT_EQ(mapcomp_1x8_3x8(d8.data(), 3 * w, s8.data(), w, lut8.one(), w, w * h), 0);
            EXPECT_EQ(mapcomp_Iter1x8_3x8(d8.data(), 3 * w, s8.data(), n, n * w, lut8.one(), nullptr, w, w * h), 0);
            EXPECT_EQ(mapcomp_Nx8_3x8_add_overexp(d8.data(), 3 * w, s8.data(), n, n * w, lut8.get(), 0.7, m, rec.flag ? &rec.blue : nullptr, m, w, w * h), 0);
            EXPECT_EQ(KzMapCompDepth_Nx16_3x8(d8.data(), 3 * w, s16.words(), 12, 2 * n * w, n, lut8.get(), m, w, w * h), 0);
            EXPECT_EQ(mapcomp_3x16_3x8_overexp(d8.data(), 3 * w, s16.words(), 12, 2 * n * w, lut8.get(), m, &rec, w, w * h), 0);
            EXPECT_EQ(mapcomp_3x16_3x16(d16.words(), 6 * w, s16.words(), 2 * n * w, 12, lut16.get(), m, w, w * h), 0);
            EXPECT_EQ(mapcomp_Nx16_3x16(d16.words(), 6 * w, s16.words(), n, 2 * n * w, 12, lut16.get(), m, w, w * h), 0);
            // Padded run of the plain member: same bytes.
            std::vector<uint8_t> padded(size_t(3 * w + 5) * h, 0xEE);
            mapcomp_3x16_3x8(padded.data(), 3 * w + 5, s16.words(), 12, 2 * n * w, lut8.get(), m, w, w * h);
            mapcomp_3x16_3x8(d8.data(), 3 * w, s16.words(), 12, 2 * n * w, lut8.get(), m, w, w * h);
            for (uint32_t r = 0; r < h; ++r)
                ASSERT_EQ(0, std::memcmp(padded.data() + r * (3 * w + 5), d8.data() + r * 3 * w, 3 * w)) << r;
        }
    }
}

// ---------------------------------------------------------------------------
// Bit-mask unpacking
// ---------------------------------------------------------------------------

TEST(Unpack, WorkedExamples)
{
    struct Case { uint8_t bits0, bits1; uint32_t off, width, mode; uint8_t before; std::vector<int> want; const char* what; } cases[] = {
        {0xA5, 0x00, 0, 8, 0, 0x77, {200, 0, 200, 0, 0, 200, 0, 200}, "mode 0"},
        // Offset 3: pixel 0 is mask 0x10 of byte 0, pixel 5 the top bit of byte 1.
        {0x10, 0x80, 3, 8, 0, 0x77, {200, 0, 0, 0, 0, 200, 0, 0}, "offset 3"},
        {0x18, 0xFF, 2, 3, 0, 0x77, {0, 200, 200}, "width 3 offset 2: bits 2, 3, 4"},
        {0xA5, 0x00, 0, 8, 1, 0x07, {0xCF, 0x07, 0xCF, 0x07, 0x07, 0xCF, 0x07, 0xCF}, "mode 1: OR, clear bits keep"},
        {0xA5, 0x00, 0, 8, 2, 0xF0, {0xC0, 0, 0xC0, 0, 0, 0xC0, 0, 0xC0}, "mode 2: AND, clear bits 0"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const uint8_t bits[2] = {c.bits0, c.bits1};
        const uint8_t value = 200;
        std::vector<uint8_t> d(c.width + 2, c.before);
        ASSERT_EQ(unpack_bin_to_1x8(d.data(), &value, c.width + 2, bits, c.off, 2, c.width, c.width, c.mode), 0);
        for (uint32_t x = 0; x < c.width; ++x)
            EXPECT_EQ(d[x], c.want[x]) << x;
        EXPECT_EQ(d[c.width], c.before);
        EXPECT_EQ(d[c.width + 1], c.before);
    }
    // Mode 2 with a 0x3C value on 0xF0 under a set bit: 0x30.
    const uint8_t one = 0x80, v3c = 0x3C;
    uint8_t px = 0xF0;
    ASSERT_EQ(unpack_bin_to_1x8(&px, &v3c, 1, &one, 0, 1, 1, 1, 2), 0);
    EXPECT_EQ(px, 0x30);
    // Three 16-bit words 100, 200, 300 in mode 0.
    const uint16_t value3[3] = {100, 200, 300};
    const uint8_t bits = 0x40;  // pixel 1 set
    std::vector<uint16_t> d(6, 0xEEEE);
    ASSERT_EQ(unpack_bin_to_3x16(d.data(), value3, 12, &bits, 0, 1, 2, 2, 0), 0);
    EXPECT_EQ(d, (std::vector<uint16_t>{0, 0, 0, 100, 200, 300}));
}

TEST(Unpack, RefusalsBeforeWritingAndEmptyCounts)
{
    uint8_t bits[16];
    std::memset(bits, 0xFF, sizeof bits);
    const uint8_t value[40] = {1, 2, 3, 4, 5, 6, 7, 8};
    using Fn = std::function<int(void*, uint32_t off, uint32_t width, uint64_t count, uint32_t mode)>;
    const std::pair<const char*, Fn> members[] = {
        {"1x8", [&](void* d, uint32_t o, uint32_t w, uint64_t c, uint32_t m) { return unpack_bin_to_1x8(d, value, 64, bits, o, 8, w, c, m); }},
        {"3x8", [&](void* d, uint32_t o, uint32_t w, uint64_t c, uint32_t m) { return unpack_bin_to_3x8(d, value, 64, bits, o, 8, w, c, m); }},
        {"4x8", [&](void* d, uint32_t o, uint32_t w, uint64_t c, uint32_t m) { return unpack_bin_to_4x8(d, value, 64, bits, o, 8, w, c, m); }},
        {"Nx8", [&](void* d, uint32_t o, uint32_t w, uint64_t c, uint32_t m) { return unpack_bin_to_Nx8(d, 5, value, 64, bits, o, 8, w, c, m); }},
        {"1x16", [&](void* d, uint32_t o, uint32_t w, uint64_t c, uint32_t m) { return unpack_bin_to_1x16(d, value, 64, bits, o, 8, w, c, m); }},
        {"3x16", [&](void* d, uint32_t o, uint32_t w, uint64_t c, uint32_t m) { return unpack_bin_to_3x16(d, value, 64, bits, o, 8, w, c, m); }},
        {"4x16", [&](void* d, uint32_t o, uint32_t w, uint64_t c, uint32_t m) { return unpack_bin_to_4x16(d, value, 64, bits, o, 8, w, c, m); }},
        {"Nx16", [&](void* d, uint32_t o, uint32_t w, uint64_t c, uint32_t m) { return unpack_bin_to_Nx16(d, 5, value, 64, bits, o, 8, w, c, m); }},
    };
    for (const auto& [name, fn] : members) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> d(64 * 2, 0xEE);
        const std::vector<uint8_t> untouched = d;
        for (uint32_t mode : {3u, 4u, 0xFFFFFFFFu})
            EXPECT_EQ(fn(d.data(), 0, 4, 8, mode), KZ_ERR_NOT_SUPPORTED);
        EXPECT_EQ(fn(d.data(), 9, 4, 8, 3), KZ_ERR_NOT_SUPPORTED);  // the mode is tested first
        for (uint32_t off = 8; off <= 31; ++off)
            EXPECT_EQ(fn(d.data(), off, 4, 8, 0), KZ_ERR_INVALID_ARG) << off;
        EXPECT_EQ(fn(d.data(), 0xFFFFFFFFu, 4, 8, 1), KZ_ERR_INVALID_ARG);
        EXPECT_EQ(fn(d.data(), 0, 4, 3, 0), 0);  // count below the width: no row
        EXPECT_EQ(fn(d.data(), 0, 0, 8, 0), 0);  // width 0: no row
        EXPECT_EQ(d, untouched);
        // A 64-bit count: rows = count / width in 64 bits (2^32 + 3 pixels of
        // width 2^31 + 2 would be 1 row; here, 2 rows of 4 and a remainder).
        EXPECT_EQ(fn(d.data(), 0, 4, 9, 0), 0);
        EXPECT_NE(d, untouched);
    }
}

// Unpacked rows ending at the end of their allocations, for every offset and
// a range of widths: exactly ceil((offset + width) / 8) bytes of each bit row
// are read and width pixels written.
TEST(Unpack, RowsEndingAtTheEndOfTheirBuffers)
{
    kzt::ForEachIsa([] {
    for (uint32_t pb : {1u, 3u, 4u, 2u, 6u, 8u, 5u, 10u})
        for (uint32_t off = 0; off < 8; ++off)
            for (uint32_t w : {1u, 7u, 8u, 9u, 17u, 64u, 67u, 200u}) {
                const uint32_t bs = (off + w + 7) / 8, rows = 3;
                Buffer bits(size_t(bs) * rows), d(size_t(w) * pb * rows);
                for (size_t i = 0; i < bits.bytes; ++i)
                    bits.data()[i] = uint8_t(i * 151 + 7);
                std::vector<uint8_t> value(pb);
                for (uint32_t j = 0; j < pb; ++j)
                    value[j] = uint8_t(0xA0 + j);
                for (uint32_t mode = 0; mode < 3; ++mode) {
                    std::memset(d.data(), 0x5A, d.bytes);
                    int r;
                    const uint64_t count = uint64_t(w) * rows;
                    switch (pb) {
                    case 1: r = unpack_bin_to_1x8(d.data(), value.data(), w, bits.data(), off, bs, w, count, mode); break;
                    case 3: r = unpack_bin_to_3x8(d.data(), value.data(), 3 * w, bits.data(), off, bs, w, count, mode); break;
                    case 4: r = unpack_bin_to_4x8(d.data(), value.data(), 4 * w, bits.data(), off, bs, w, count, mode); break;
                    case 5: r = unpack_bin_to_Nx8(d.data(), 5, value.data(), 5 * w, bits.data(), off, bs, w, count, mode); break;
                    case 2: r = unpack_bin_to_1x16(d.data(), value.data(), 2 * w, bits.data(), off, bs, w, count, mode); break;
                    case 6: r = unpack_bin_to_3x16(d.data(), value.data(), 6 * w, bits.data(), off, bs, w, count, mode); break;
                    case 8: r = unpack_bin_to_4x16(d.data(), value.data(), 8 * w, bits.data(), off, bs, w, count, mode); break;
                    default: r = unpack_bin_to_Nx16(d.data(), 5, value.data(), 10 * w, bits.data(), off, bs, w, count, mode); break;
                    }
                    ASSERT_EQ(r, 0);
                    for (uint32_t row = 0; row < rows; ++row)
                        for (uint32_t x = 0; x < w; ++x) {
                            const uint32_t i = off + x;
                            const bool b = (bits.data()[row * bs + i / 8] >> (7 - i % 8)) & 1;
                            for (uint32_t j = 0; j < pb; ++j) {
                                const uint8_t got = d.data()[(size_t(row) * w + x) * pb + j];
                                const uint8_t want = mode == 0 ? (b ? value[j] : 0)
                                                     : mode == 1 ? uint8_t(b ? (0x5A | value[j]) : 0x5A)
                                                                 : uint8_t(b ? (0x5A & value[j]) : 0);
                                ASSERT_EQ(got, want) << "pb " << pb << " off " << off << " w " << w << " mode " << mode
                                                     << " row " << row << " x " << x;
                            }
                        }
                }
            }
    });
}
