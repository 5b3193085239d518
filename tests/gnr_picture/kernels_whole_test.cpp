#include "gnr_picture/KzKernels.h"
#include "kernel_test_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using kzt::ExpectSamples;
using kzt::RandomPicture;
using kzt::TestPicture;

// ---------------------------------------------------------------------------
// Shared helpers
// ---------------------------------------------------------------------------

TEST(KzKernelCommon, TruncationMatchesX86Conversion)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double x;
        int32_t want32;
        int64_t want64;
    } cases[] = {
        {0.0, 0, 0},
        {-0.9, 0, 0},
        {2.9, 2, 2},
        {-2.9, -2, -2},
        {2147483647.9, INT32_MAX, 2147483647},
        {2147483648.0, INT32_MIN, 2147483648LL},
        {-2147483648.9, INT32_MIN, -2147483648LL},
        {-2147483649.0, INT32_MIN, -2147483649LL},
        {1e300, INT32_MIN, INT64_MIN},
        {-1e300, INT32_MIN, INT64_MIN},
        {9223372036854775808.0, INT32_MIN, INT64_MIN},
        {-9223372036854775808.0, INT32_MIN, INT64_MIN},
        {nan, INT32_MIN, INT64_MIN},
        {inf, INT32_MIN, INT64_MIN},
        {-inf, INT32_MIN, INT64_MIN},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(KzTruncToInt32(c.x), c.want32) << c.x;
        EXPECT_EQ(KzTruncToInt64(c.x), c.want64) << c.x;
    }
    // Rounded and clamped: NaN and overflow end as 0.
    EXPECT_EQ(KzRoundClamp<u8>(127.5, 255), 128);
    EXPECT_EQ(KzRoundClamp<u8>(nan, 255), 0);
    EXPECT_EQ(KzRoundClamp<u8>(inf, 255), 0);
    EXPECT_EQ(KzRoundClamp<u16>(5000.0, 4095), 4095);
    EXPECT_EQ(KzRoundClamp<u16>(-3.0, 4095), 0);
}

TEST(KzKernelCommon, LimitsRowsAndIndexes)
{
    EXPECT_EQ(KzDepthLimit<u8>(8), 255);
    EXPECT_EQ(KzDepthLimit<u8>(12), 255);
    EXPECT_EQ(KzDepthLimit<u8>(7), 127);
    EXPECT_EQ(KzDepthLimit<u16>(12), 4095);
    EXPECT_EQ(KzDepthLimit<u16>(16), 65535);
    EXPECT_EQ(KzDepthLimit<u32>(32), 0xFFFFFFFFu);
    EXPECT_EQ(KzDepthLimit<u32>(20), 0xFFFFFu);
    EXPECT_EQ(KzIndexMask8(0), 0xFF);
    EXPECT_EQ(KzIndexMask8(8), 0xFF);
    EXPECT_EQ(KzIndexMask8(5), 0x1F);
    EXPECT_EQ(KzRowCount(0, 100), 0u);
    EXPECT_EQ(KzRowCount(7, 6), 0u);
    EXPECT_EQ(KzRowCount(7, 20), 2u);
    EXPECT_TRUE(KzComponentIndexValid(2, 3));
    EXPECT_FALSE(KzComponentIndexValid(3, 3));
    EXPECT_FALSE(KzComponentIndexValid(0, 0));
    // Row offsets do not wrap at 4 GiB.
    const u8* base = nullptr;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(KzRow<u8>(base + 0, 0x10000u, 0x10001u)) -
                  reinterpret_cast<uintptr_t>(base),
              uint64_t(0x10000u) * 0x10001u);
    // A 16-bit row start is rounded down to a whole container.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(KzRow<u16>(base + 0, 7u, 1)) - reinterpret_cast<uintptr_t>(base), 6u);
}

TEST(KzKernelCommon, ScratchAndRowLutGuard)
{
    KzScratch s;
    u8* small = s.Get<u8>(16);
    u16* big = s.Get<u16>(100000);
    u32* second = s.Get<u32>(10);  // inline buffer taken: from the heap
    ASSERT_NE(small, nullptr);
    ASSERT_NE(big, nullptr);
    ASSERT_NE(second, nullptr);
    // Every block stays usable until the scratch goes away (the sanitize build checks this).
    std::memset(small, 1, 16);
    std::memset(big, 2, 200000);
    std::memset(second, 3, 40);
    EXPECT_EQ(big[99999], 0x0202);
    EXPECT_EQ(small[15], 1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(big) % 16, 0u);
    EXPECT_EQ(s.Get<u64>(SIZE_MAX / 4), nullptr);  // size overflow is refused, not wrapped
    EXPECT_EQ(s.Get<u8>(SIZE_MAX - 4), nullptr);
    {
        SKzAllocHelper guard;
        u16** lut = KzAllocRowLut<u16>(4096, 3, guard);
        ASSERT_NE(lut, nullptr);
        EXPECT_EQ(lut[1], lut[0] + 3);
        EXPECT_EQ(lut[4095][2], 0);  // zero-filled
        EXPECT_EQ(reinterpret_cast<void**>(lut), guard.m_ppLut);
    }  // released here (the leak checker of the sanitize build sees a leak otherwise)
    SKzAllocHelper none;
    EXPECT_EQ(KzAllocRowLut<u8>(SIZE_MAX / 2, 4, none), nullptr);
    EXPECT_EQ(none.m_ppLut, nullptr);
}

// ---------------------------------------------------------------------------
// compare / copy / set / blend_two
// ---------------------------------------------------------------------------

struct Format {
    uint32_t comps, bits, sampleBytes;
};
static const Format kFormats[] = {{1, 8, 1}, {3, 8, 1}, {4, 8, 1}, {5, 8, 1},     {1, 12, 2}, {3, 16, 2},
                                  {4, 10, 2}, {5, 16, 2}, {1, 24, 4}, {3, 32, 4}, {4, 17, 4}, {5, 32, 4}};

TEST(WholeBuffer, CopyMatchesReferenceAndKeepsPadding)
{
    uint32_t seed = 1;
    for (const Format& f : kFormats) {
        for (uint32_t width : {1u, 7u, 33u}) {
            TestPicture src = RandomPicture(width, 5, f.comps, f.sampleBytes, ~0ull, seed++);
            TestPicture dst = RandomPicture(width, 5, f.comps, f.sampleBytes, ~0ull, seed++, 5);
            const TestPicture before = dst;
            // A count that is not a multiple of the width leaves the partial row alone.
            EXPECT_EQ(copy(dst.data(), dst.rowBytes, src.data(), src.rowBytes, f.comps, f.bits, width,
                           width * 5 + width - 1),
                      0);
            ExpectSamples(before, dst, [&](size_t r, size_t i, uint64_t) { return src.get(r, i); }, "copy");
        }
    }
}

// Rows without padding, apart and overlapping in both directions, give what
// copying row by row in order gives.
TEST(WholeBuffer, CopyOfUnpaddedRowsEqualsRowByRow)
{
    const uint32_t width = 10, rows = 7, len = width * 3;
    for (long shift : {-1000L, -45L, -30L, -1L, 0L, 1L, 29L, 31L, 1000L}) {
        std::vector<uint8_t> buf(4096), want;
        for (size_t i = 0; i < buf.size(); ++i)
            buf[i] = uint8_t(i * 7 + 3);
        want = buf;
        const size_t srcAt = 1500, dstAt = size_t(long(srcAt) + shift);
        for (uint32_t r = 0; r < rows; ++r)
            std::memmove(want.data() + dstAt + r * len, want.data() + srcAt + r * len, len);
        ASSERT_EQ(copy(buf.data() + dstAt, len, buf.data() + srcAt, len, 3, 8, width, width * rows), 0);
        EXPECT_EQ(buf, want) << shift;
    }
}

TEST(WholeBuffer, SetFillsBytesOfEachRow)
{
    uint32_t seed = 100;
    for (const Format& f : kFormats) {
        TestPicture pic = RandomPicture(9, 4, f.comps, f.sampleBytes, ~0ull, seed++);
        const TestPicture before = pic;
        EXPECT_EQ(set(pic.data(), pic.rowBytes, 0x312, f.comps, f.bits, 9, 36), 0);
        const uint64_t want = f.sampleBytes == 1 ? 0x12 : f.sampleBytes == 2 ? 0x1212 : 0x12121212;
        ExpectSamples(before, pic, [&](size_t, size_t, uint64_t) { return want; }, "set");
    }
}

TEST(WholeBuffer, CompareLooksAtPixelRowsOnly)
{
    uint32_t seed = 200;
    for (const Format& f : kFormats) {
        TestPicture a = RandomPicture(11, 4, f.comps, f.sampleBytes, ~0ull, seed++);
        TestPicture b = RandomPicture(11, 4, f.comps, f.sampleBytes, ~0ull, seed++);
        for (uint32_t r = 0; r < 4; ++r)
            for (size_t i = 0; i < a.samplesPerRow(); ++i)
                b.put(r, i, a.get(r, i));
        // Differences in padding and guard rows only.
        EXPECT_EQ(compare(a.data(), a.rowBytes, b.data(), b.rowBytes, f.comps, f.bits, 11, 44), 0);
        // Last sample of the last row: byte order decides the sign.
        b.put(3, a.samplesPerRow() - 1, a.get(3, a.samplesPerRow() - 1) ^ 1);
        const int c = compare(a.data(), a.rowBytes, b.data(), b.rowBytes, f.comps, f.bits, 11, 44);
        const int want = (a.get(3, a.samplesPerRow() - 1) & 1) ? 1 : -1;  // a has the larger byte when its bit is set
        EXPECT_EQ(c, want);
        EXPECT_EQ(-compare(b.data(), b.rowBytes, a.data(), a.rowBytes, f.comps, f.bits, 11, 44), want);
        // The differing row is not processed when the count stops before it.
        EXPECT_EQ(compare(a.data(), a.rowBytes, b.data(), b.rowBytes, f.comps, f.bits, 11, 43), 0);
    }
}

TEST(WholeBuffer, BlendTwoUsesDestinationRowSourceColumn)
{
    std::vector<u8> takeSrc(65536), keepDst(65536), mix(65536);
    for (int d = 0; d < 256; ++d)
        for (int s = 0; s < 256; ++s) {
            takeSrc[d * 256 + s] = u8(s);
            keepDst[d * 256 + s] = u8(d);
            mix[d * 256 + s] = u8((d * 3 + s * 5) >> 3);
        }
    uint32_t seed = 300;
    for (const Format& f : kFormats) {
        TestPicture src = RandomPicture(13, 3, f.comps, f.sampleBytes, ~0ull, seed++);
        TestPicture dst = RandomPicture(13, 3, f.comps, f.sampleBytes, ~0ull, seed++);
        const TestPicture before = dst;
        auto bytewise = [&](const std::vector<u8>& table) {
            return [&, table](size_t r, size_t i, uint64_t dv) {
                const uint64_t sv = src.get(r, i);
                uint64_t out = 0;
                for (uint32_t b = 0; b < f.sampleBytes; ++b)
                    out |= uint64_t(table[((dv >> (8 * b)) & 0xFF) * 256 + ((sv >> (8 * b)) & 0xFF)]) << (8 * b);
                return out;
            };
        };
        EXPECT_EQ(blend_two(dst.data(), dst.rowBytes, src.data(), src.rowBytes, mix.data(), f.comps, f.bits, 13, 39),
                  0);
        ExpectSamples(before, dst, bytewise(mix), "blend mix");
        TestPicture d2 = before;
        blend_two(d2.data(), d2.rowBytes, src.data(), src.rowBytes, takeSrc.data(), f.comps, f.bits, 13, 39);
        ExpectSamples(before, d2, [&](size_t r, size_t i, uint64_t) { return src.get(r, i); }, "blend src");
        TestPicture d3 = before;
        blend_two(d3.data(), d3.rowBytes, src.data(), src.rowBytes, keepDst.data(), f.comps, f.bits, 13, 39);
        ExpectSamples(before, d3, [&](size_t, size_t, uint64_t dv) { return dv; }, "blend dst");
    }
}

TEST(WholeBuffer, EmptyWidthOrShortCountTouchesNothing)
{
    TestPicture a = RandomPicture(8, 2, 3, 1, ~0ull, 400);
    TestPicture b = RandomPicture(8, 2, 3, 1, ~0ull, 401);
    const TestPicture before = b;
    std::vector<u8> table(65536, 7);
    for (uint32_t width : {0u, 8u}) {
        const uint32_t count = width == 0 ? 16 : 7;  // width 0, or a count below the width
        EXPECT_EQ(compare(a.data(), a.rowBytes, b.data(), b.rowBytes, 3, 8, width, count), 0);
        EXPECT_EQ(copy(b.data(), b.rowBytes, a.data(), a.rowBytes, 3, 8, width, count), 0);
        EXPECT_EQ(set(b.data(), b.rowBytes, 9, 3, 8, width, count), 0);
        EXPECT_EQ(blend_two(b.data(), b.rowBytes, a.data(), a.rowBytes, table.data(), 3, 8, width, count), 0);
        EXPECT_EQ(std::memcmp(before.data(), b.data(), b.totalBytes()), 0);
    }
}

TEST(WholeBuffer, RowLongerThanRowBytesIsCutWithOneDiagnostic)
{
    // 3 x 8-bit x width 10 = 30 bytes per row, but the destination rows are 16 bytes apart.
    std::vector<u8> src(30 * 4), dst(16 * 4 + 8, 0xAA);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = u8(i);
    struct Case {
        const char* name;
        int line;
        std::function<int()> run;
        std::function<u8(size_t r, size_t j)> want;
    } cases[] = {
        {"copy", 51, [&] { return copy(dst.data(), 16, src.data(), 30, 3, 8, 10, 40); },
         [&](size_t r, size_t j) { return src[r * 30 + j]; }},
        {"set", 76, [&] { return set(dst.data(), 16, 0x5C, 3, 8, 10, 40); }, [](size_t, size_t) { return u8(0x5C); }},
        {"blend_two", 103,
         [&] {
             static std::vector<u8> t = [] {
                 std::vector<u8> v(65536);
                 for (int i = 0; i < 65536; ++i)
                     v[i] = u8(i & 0xFF);
                 return v;
             }();
             return blend_two(dst.data(), 16, src.data(), 30, t.data(), 3, 8, 10, 40);
         },
         [&](size_t r, size_t j) { return src[r * 30 + j]; }},
    };
    for (const Case& c : cases) {
        std::fill(dst.begin(), dst.end(), 0xAA);
        testing::internal::CaptureStdout();
        EXPECT_EQ(c.run(), 0) << c.name;
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out, "\nFailure! File: gnr_picture/converts, line: " + std::to_string(c.line) + "\n") << c.name;
        for (size_t r = 0; r < 4; ++r)
            for (size_t j = 0; j < 16; ++j)
                ASSERT_EQ(dst[r * 16 + j], c.want(r, j)) << c.name << " row " << r << " byte " << j;
        for (size_t j = 64; j < dst.size(); ++j)
            EXPECT_EQ(dst[j], 0xAA) << c.name;
    }
}
