// Value mapping and component extraction through LUTs against scalar
// references: every member, source component counts 1, 3, 4, 5, odd widths,
// padded rows, every instruction-set path, and the depth-taking entries with
// tables of exactly 2^depth entries.
#include "gnr_picture/KzKernelsC.h"
#include "gnr_picture/internal/KzKernelsInternalK1.h"
#include "kernels_k1_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using k1t::Geometries;
using k1t::RandomFlat;
using k1t::Rows;
using kzt::ExpectSamples;
using kzt::ForEachIsa;
using kzt::RandomPicture;
using kzt::TestPicture;

namespace {

using CallFn = std::function<int(void* dst, uint32_t dRB, uint32_t dstComp, const void* src, uint32_t sRB,
                                 uint32_t srcComp, uint32_t srcIdx, const void* table, uint32_t w, uint32_t c,
                                 uint32_t depth)>;

struct Member {
    const char* name;
    uint32_t srcBytes, dstBytes;
    uint32_t dstComp;  // 0: any (argument)
    bool flat;
    bool value;        // 1-component source, no index
    CallFn call;
};

// depth 0 calls the exported member, else the depth-taking entry.
#define K1_P(name, SB, C, TAB)                                                                                \
    Member{#name, SB, 1, C, !std::is_pointer_v<std::remove_pointer_t<TAB>>, false,                            \
           [](void* d, uint32_t drb, uint32_t, const void* s, uint32_t srb, uint32_t sc, uint32_t si,          \
              const void* t, uint32_t w, uint32_t c, uint32_t depth) {                                        \
               return depth ? name##_depth(d, drb, s, sc, srb, si, (TAB)t, w, c, depth)                       \
                            : name(d, drb, s, sc, srb, si, (TAB)t, w, c);                                     \
           }}
#define K1_PN(name, SB, TAB)                                                                                  \
    Member{#name, SB, 1, 0, !std::is_pointer_v<std::remove_pointer_t<TAB>>, false,                            \
           [](void* d, uint32_t drb, uint32_t dc, const void* s, uint32_t srb, uint32_t sc, uint32_t si,       \
              const void* t, uint32_t w, uint32_t c, uint32_t depth) {                                        \
               return depth ? name##_depth(d, dc, drb, s, sc, srb, si, (TAB)t, w, c, depth)                   \
                            : name(d, dc, drb, s, sc, srb, si, (TAB)t, w, c);                                 \
           }}
#define K1_B(name, TAB)                                                                                       \
    Member{#name, 2, 1, 3, !std::is_pointer_v<std::remove_pointer_t<TAB>>, false,                             \
           [](void* d, uint32_t drb, uint32_t, const void* s, uint32_t srb, uint32_t sc, uint32_t si,          \
              const void* t, uint32_t w, uint32_t c, uint32_t depth) {                                        \
               return depth ? name##_depth(d, drb, s, sc, 77, srb, si, (TAB)t, w, c, depth)                   \
                            : name(d, drb, s, sc, 77, srb, si, (TAB)t, w, c);                                 \
           }}
#define K1_V(name, SB, DB, FLAT, TAB)                                                                         \
    Member{#name, SB, DB, 3, FLAT, true,                                                                      \
           [](void* d, uint32_t drb, uint32_t, const void* s, uint32_t srb, uint32_t, uint32_t, const void* t, \
              uint32_t w, uint32_t c, uint32_t depth) {                                                       \
               return depth ? name##_depth(d, drb, s, srb, (TAB)t, w, c, depth) : name(d, drb, s, srb, (TAB)t, w, c); \
           }}
#define K1_VN(name, SB, DB, TAB)                                                                              \
    Member{#name, SB, DB, 0, false, true,                                                                     \
           [](void* d, uint32_t drb, uint32_t dc, const void* s, uint32_t srb, uint32_t, uint32_t, const void* t, \
              uint32_t w, uint32_t c, uint32_t depth) {                                                       \
               return depth ? name##_depth(d, dc, drb, s, srb, (TAB)t, w, c, depth)                           \
                            : name(d, dc, drb, s, srb, (TAB)t, w, c);                                         \
           }}

std::vector<Member> Members()
{
    using F8 = const u8*;
    using R8 = const u8* const*;
    using R16 = const u16* const*;
    return {
        K1_P(component_lut1_Nx8_to_1x8, 1, 1, F8),
        K1_P(component_lut1_Nx8_to_3x8, 1, 3, F8),
        K1_PN(component_lut1_Nx8_to_Nx8, 1, F8),
        K1_P(component_lut3_Mx8_to_3x8, 1, 3, R8),
        K1_PN(component_lutN_Mx8_to_Nx8, 1, R8),
        K1_P(component_lut1_Nx16_to_1x8, 2, 1, F8),
        K1_PN(component_lut1_Nx16_to_Nx8, 2, F8),
        K1_PN(component_lutN_Mx16_to_Nx8, 2, R8),
        K1_B(component_lut1_Nx16_to_3x8, F8),
        K1_B(component_lut3_Mx16_to_3x8, R8),
        K1_V(mapvialuts_val8_to_3x8_lut1, 1, 1, true, F8),
        K1_V(mapvialuts_val8_to_3x8_lut3, 1, 1, false, R8),
        K1_VN(mapvialuts_val8_to_Nx8, 1, 1, R8),
        K1_V(mapvialuts_val16_to_3x8, 2, 1, false, R8),
        K1_V(mapvialuts_val16_to_3x16, 2, 2, false, R16),
        K1_VN(mapvialuts_val16_to_Nx16, 2, 2, R16),
    };
}

} // namespace

TEST(KzExtract, EveryMemberAndDepthEntryMatchesReference)
{
    uint32_t seed = 2000;
    for (const Member& m : Members())
        for (uint32_t depth : {0u, 3u, 8u, 12u, 15u}) {
            if (depth > m.srcBytes * 8 || (m.srcBytes == 2 && depth == 8))
                continue;
            const size_t entries = size_t(1) << (depth ? depth : m.srcBytes * 8);
            for (uint32_t srcComp : m.value ? std::vector<uint32_t>{1} : kzt::TestComponentCounts())
                for (uint32_t dstComp : kzt::TestComponentCounts()) {
                    if (m.dstComp && dstComp != m.dstComp)
                        continue;
                    const uint32_t srcIdx = (seed % 2) ? srcComp - 1 : 0;
                    const auto& g = Geometries()[seed % Geometries().size()];
                    TestPicture src = RandomPicture(g.width, g.height, srcComp, m.srcBytes, ~0ull, seed++);
                    for (uint32_t r = 0; r < g.height; ++r)
                        src.put(r, (r * srcComp + srcIdx) % src.samplesPerRow(), ~0ull);
                    const TestPicture dst0 = RandomPicture(g.width, g.height, dstComp, m.dstBytes, ~0ull, seed++);
                    const uint32_t count = g.width * g.height + g.extra;
                    const uint64_t mask = entries - 1;
                    SCOPED_TRACE(std::string(m.name) + " srcComp " + std::to_string(srcComp) + " dstComp " +
                                 std::to_string(dstComp) + " idx " + std::to_string(srcIdx) + " depth " +
                                 std::to_string(depth) + " width " + std::to_string(g.width));
                    auto check = [&](const void* table, const std::function<uint64_t(size_t, size_t)>& entry) {
                        ForEachIsa([&] {
                            TestPicture dst = dst0;
                            EXPECT_EQ(m.call(dst.data(), dst.rowBytes, dstComp, src.data(), src.rowBytes, srcComp,
                                             srcIdx, table, g.width, count, depth),
                                      0);
                            ExpectSamples(dst0, dst, [&](size_t r, size_t i, uint64_t) {
                                const size_t x = i / dstComp;
                                return entry(src.get(r, x * srcComp + srcIdx) & mask, i % dstComp);
                            });
                        });
                    };
                    if (m.flat) {
                        const auto t = RandomFlat<u8>(entries, seed);
                        check(t.data(), [&](size_t v, size_t) { return uint64_t(t[v]); });
                    } else if (m.dstBytes == 1) {
                        const Rows<u8> t(entries, dstComp, seed);
                        check(t.ptr(), [&](size_t v, size_t k) { return uint64_t(t.at(v, k)); });
                    } else {
                        const Rows<u16> t(entries, dstComp, seed);
                        check(t.ptr(), [&](size_t v, size_t k) { return uint64_t(t.at(v, k)); });
                    }
                }
        }
}

TEST(KzExtract, ComponentIndexAtOrPastCountIsRefused)
{
    const u8 src[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    const auto flat = RandomFlat<u8>(65536, 1);
    const Rows<u8> rows(65536, 5, 2);
    for (const Member& m : Members()) {
        if (m.value)
            continue;
        SCOPED_TRACE(m.name);
        u8 dst[16];
        std::fill(std::begin(dst), std::end(dst), 0xEE);
        const void* t = m.flat ? static_cast<const void*>(flat.data()) : static_cast<const void*>(rows.ptr());
        EXPECT_EQ(m.call(dst, 16, 3, src, 8, 2, 2, t, 1, 1, 0), -4);
        EXPECT_EQ(m.call(dst, 16, 3, src, 8, 0, 0, t, 1, 1, 0), -4);
        EXPECT_EQ(m.call(dst, 16, 3, src, 8, 2, 5, t, 1, 1, 12), -4);
        // No row: nothing to refuse.
        EXPECT_EQ(m.call(dst, 16, 3, src, 8, 2, 5, t, 2, 1, 0), 0);
        for (u8 b : dst)
            EXPECT_EQ(b, 0xEE);
    }
}

namespace {

// Marking by one component: 0 takes `under`, else top takes `over`;
// complementary colours paint 255 minus the table's output for top.
void RefMarkOne(uint64_t v, uint64_t top, uint64_t mask, const std::function<uint8_t(size_t, size_t)>& entry,
                const SKzLutExpColor* over, const SKzLutExpColor* under, uint8_t* out)
{
    const SKzLutExpColor* c = (under && v == 0) ? under : (over && v == top) ? over : nullptr;
    for (size_t k = 0; k < 3; ++k) {
        if (!c)
            out[k] = entry(v & mask, k);
        else if (c->flag)
            out[k] = uint8_t(255 - entry(top & mask, k));
        else
            out[k] = k == 0 ? c->blue : k == 1 ? c->green : c->red;
    }
}

} // namespace

TEST(KzExtract, MarkingMembersMatchReference)
{
    const SKzLutExpColor overN{10, 20, 30, 0}, overC{10, 20, 30, 1}, underN{40, 50, 60, 0}, underC{40, 50, 60, 3};
    const SKzLutExpColor* colourSets[][2] = {
        {&overN, &underN}, {&overC, &underC}, {&overN, &underC}, {nullptr, &underN}, {&overC, nullptr}, {nullptr, nullptr}};
    uint32_t seed = 4000;
    // variant: 0 over, 1 under, 2 both
    for (int word = 0; word < 2; ++word)
        for (int flat = 0; flat < 2; ++flat)
            for (uint32_t depth : word ? std::vector<uint32_t>{9, 12, 16} : std::vector<uint32_t>{0, 5, 8})
                for (int variant = 0; variant < 3; ++variant)
                    for (const auto& cs : colourSets)
                        for (uint32_t srcComp : kzt::TestComponentCounts()) {
                            const SKzLutExpColor* over = variant != 1 ? cs[0] : nullptr;
                            const SKzLutExpColor* under = variant != 0 ? cs[1] : nullptr;
                            const uint32_t bits = depth ? depth : 8;
                            const uint64_t top = bits >= 16 ? 0xFFFF : (1u << bits) - 1;
                            const size_t entries = size_t(top) + 1;
                            const uint32_t srcIdx = srcComp / 2;
                            const auto& g = Geometries()[seed % Geometries().size()];
                            TestPicture src = RandomPicture(g.width, g.height, srcComp, word ? 2 : 1, top, seed++);
                            std::mt19937 rng(seed);
                            for (uint32_t r = 0; r < g.height; ++r)
                                for (size_t i = 0; i < src.samplesPerRow(); ++i) {
                                    const uint32_t pick = rng() % 6;
                                    if (pick == 0)
                                        src.put(r, i, 0);
                                    else if (pick == 1)
                                        src.put(r, i, top);
                                    else if (pick == 2)
                                        src.put(r, i, ~0ull);
                                }
                            const auto ft = RandomFlat<u8>(entries, seed);
                            const Rows<u8> rt(entries, 3, seed);
                            const void* table = flat ? static_cast<const void*>(ft.data())
                                                     : static_cast<const void*>(rt.ptr());
                            const TestPicture dst0 = RandomPicture(g.width, g.height, 3, 1, ~0ull, seed++);
                            const uint32_t count = g.width * g.height + g.extra;
                            SCOPED_TRACE("word " + std::to_string(word) + " flat " + std::to_string(flat) + " depth " +
                                         std::to_string(depth) + " variant " + std::to_string(variant) + " comps " +
                                         std::to_string(srcComp));
                            ForEachIsa([&] {
                                TestPicture dst = dst0;
                                void* d = dst.data();
                                const uint32_t drb = dst.rowBytes, srb = src.rowBytes, w = g.width;
                                const void* s = src.data();
                                using F8 = const u8*;
                                using R8 = const u8* const*;
                                int rc = -100;
                                if (word) {
                                    if (flat)
                                        rc = variant == 0 ? component_lut1_Nx16_to_3x8_overexp(d, drb, s, srcComp, depth, srb, srcIdx, (F8)table, over, w, count)
                                           : variant == 1 ? component_lut1_Nx16_to_3x8_underexp(d, drb, s, srcComp, depth, srb, srcIdx, (F8)table, under, w, count)
                                                          : component_lut1_Nx16_to_3x8_overexp_underexp(d, drb, s, srcComp, depth, srb, srcIdx, (F8)table, over, under, w, count);
                                    else
                                        rc = variant == 0 ? component_lut3_Mx16_to_3x8_overexp(d, drb, s, srcComp, depth, srb, srcIdx, (R8)table, over, w, count)
                                           : variant == 1 ? component_lut3_Mx16_to_3x8_underexp(d, drb, s, srcComp, depth, srb, srcIdx, (R8)table, under, w, count)
                                                          : component_lut3_Mx16_to_3x8_overexp_underexp(d, drb, s, srcComp, depth, srb, srcIdx, (R8)table, over, under, w, count);
                                } else if (depth == 0) {
                                    if (flat)
                                        rc = variant == 0 ? component_lut1_Nx8_to_3x8_overexp(d, drb, s, srcComp, srb, srcIdx, (F8)table, over, w, count)
                                           : variant == 1 ? component_lut1_Nx8_to_3x8_underexp(d, drb, s, srcComp, srb, srcIdx, (F8)table, under, w, count)
                                                          : component_lut1_Nx8_to_3x8_overexp_underexp(d, drb, s, srcComp, srb, srcIdx, (F8)table, over, under, w, count);
                                    else
                                        rc = variant == 0 ? component_lut3_Mx8_to_3x8_overexp(d, drb, s, srcComp, srb, srcIdx, (R8)table, over, w, count)
                                           : variant == 1 ? component_lut3_Mx8_to_3x8_underexp(d, drb, s, srcComp, srb, srcIdx, (R8)table, under, w, count)
                                                          : component_lut3_Mx8_to_3x8_overexp_underexp(d, drb, s, srcComp, srb, srcIdx, (R8)table, over, under, w, count);
                                } else {
                                    if (flat)
                                        rc = variant == 0 ? component_lut1_Nx8_to_3x8_overexp_depth(d, drb, s, srcComp, srb, srcIdx, (F8)table, over, w, count, depth)
                                           : variant == 1 ? component_lut1_Nx8_to_3x8_underexp_depth(d, drb, s, srcComp, srb, srcIdx, (F8)table, under, w, count, depth)
                                                          : component_lut1_Nx8_to_3x8_overexp_underexp_depth(d, drb, s, srcComp, srb, srcIdx, (F8)table, over, under, w, count, depth);
                                    else
                                        rc = variant == 0 ? component_lut3_Mx8_to_3x8_overexp_depth(d, drb, s, srcComp, srb, srcIdx, (R8)table, over, w, count, depth)
                                           : variant == 1 ? component_lut3_Mx8_to_3x8_underexp_depth(d, drb, s, srcComp, srb, srcIdx, (R8)table, under, w, count, depth)
                                                          : component_lut3_Mx8_to_3x8_overexp_underexp_depth(d, drb, s, srcComp, srb, srcIdx, (R8)table, over, under, w, count, depth);
                                }
                                EXPECT_EQ(rc, 0);
                                auto entry = [&](size_t v, size_t k) -> uint8_t { return flat ? ft[v] : rt.at(v, k); };
                                ExpectSamples(dst0, dst, [&](size_t r, size_t i, uint64_t) {
                                    uint8_t out[3];
                                    RefMarkOne(src.get(r, (i / 3) * srcComp + srcIdx), top, top, entry, over, under, out);
                                    return uint64_t(out[i % 3]);
                                });
                            });
                        }
}

TEST(KzExtract, MarkingEdgeCases)
{
    // Row 255 of the table holds (0, 0, 255); a complementary over-exposure
    // colour paints (255, 255, 0) for sample 255.
    Rows<u8> rows(256, 3, 9);
    const_cast<u8*>(rows.rows[255])[0] = 0;
    const_cast<u8*>(rows.rows[255])[1] = 0;
    const_cast<u8*>(rows.rows[255])[2] = 255;
    const SKzLutExpColor overC{1, 2, 3, 1}, underC{4, 5, 6, 1};
    const u8 px255[2] = {9, 255};
    u8 out[3];
    EXPECT_EQ(component_lut3_Mx8_to_3x8_overexp(out, 3, px255, 2, 2, 1, rows.ptr(), &overC, 1, 1), 0);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 255);
    EXPECT_EQ(out[2], 0);
    // Flat table with table[255] = 255 and complementary colours: 0 and 255
    // both give (0, 0, 0).
    auto flat = RandomFlat<u8>(256, 3);
    flat[255] = 255;
    for (u8 v : {u8(0), u8(255)}) {
        EXPECT_EQ(component_lut1_Nx8_to_3x8_overexp_underexp(out, 3, &v, 1, 1, 0, flat.data(), &overC, &underC, 1, 1), 0);
        EXPECT_EQ(out[0] | out[1] | out[2], 0) << int(v);
    }
    // 12-bit words: 4095 is marked, 4094 is not, 0xFFFF is not (and is looked up masked).
    const auto flat12 = RandomFlat<u8>(4096, 4);
    const SKzLutExpColor over{7, 8, 9, 0};
    const struct {
        uint16_t v;
        bool marked;
        size_t entry;
    } cases[] = {{4095, true, 0}, {4094, false, 4094}, {0xFFFF, false, 4095}};
    for (const auto& c : cases) {
        EXPECT_EQ(component_lut1_Nx16_to_3x8_overexp(out, 3, &c.v, 1, 12, 2, 0, flat12.data(), &over, 1, 1), 0);
        EXPECT_EQ(out[0], c.marked ? 7 : flat12[c.entry]) << c.v;
        EXPECT_EQ(out[2], c.marked ? 9 : flat12[c.entry]) << c.v;
    }
}

namespace {

// min(255, floor(c q / 255)) with q = round(factor 255) in 0..65535.
uint8_t RefScale(uint8_t c, double factor)
{
    const double x = factor * 255.0 + 0.5;
    uint64_t q = 0;
    if (x >= 65535.0)
        q = 65535;
    else if (x >= 1.0)
        q = uint64_t(x);
    const uint64_t p = uint64_t(c) * q;
    return p > 65279 ? 255 : uint8_t(p / 255);
}

} // namespace

TEST(KzExtract, IntensityScaledTablesMatchReference)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const SKzLutExpColor overC{11, 22, 33, 1};
    uint32_t seed = 6000;
    for (int word = 0; word < 2; ++word)
        for (int withOver = 0; withOver < 2; ++withOver)
            for (uint32_t srcBits : word ? std::vector<uint32_t>{9, 12, 16} : std::vector<uint32_t>{1, 4, 8})
                for (double factor : {1.0, 0.5, 2.0, 0.0, -3.0, nan, 1e12})
                    for (uint32_t srcComp : kzt::TestComponentCounts())
                        for (bool selected : {true, false}) {
                            const uint32_t srcIdx = srcComp - 1;
                            const uint64_t top = (uint64_t(1) << srcBits) - 1;
                            const auto& g = Geometries()[seed % Geometries().size()];
                            TestPicture src = RandomPicture(g.width, g.height, srcComp, word ? 2 : 1, ~0ull, seed++);
                            for (uint32_t r = 0; r < g.height; ++r)
                                src.put(r, r * srcComp + srcIdx, top);
                            const Rows<u8> rt(top + 1, 3, seed);
                            u64 mask[2] = {0, 0};
                            if (selected)
                                mask[srcIdx / 64] |= u64(1) << (srcIdx % 64);
                            mask[0] |= u64(1) << (srcIdx + 1);  // other components' bits do not matter
                            const TestPicture dst0 = RandomPicture(g.width, g.height, 3, 1, ~0ull, seed++);
                            const uint32_t count = g.width * g.height + g.extra;
                            SCOPED_TRACE("word " + std::to_string(word) + " over " + std::to_string(withOver) +
                                         " bits " + std::to_string(srcBits) + " factor " + std::to_string(factor) +
                                         " selected " + std::to_string(selected));
                            ForEachIsa([&] {
                                TestPicture dst = dst0;
                                int rc;
                                if (word)
                                    rc = withOver ? component_lut3_Mx16_to_3x8_add_overexp(dst.data(), dst.rowBytes, src.data(), srcComp, srcBits, src.rowBytes, srcIdx, rt.ptr(), &overC, mask, g.width, count, factor)
                                                  : component_lut3_Mx16_to_3x8_add(dst.data(), dst.rowBytes, src.data(), srcComp, srcBits, src.rowBytes, srcIdx, rt.ptr(), mask, g.width, count, factor);
                                else
                                    rc = withOver ? component_lut3_Mx8_to_3x8_add_overexp(dst.data(), dst.rowBytes, src.data(), srcComp, srcBits, src.rowBytes, srcIdx, rt.ptr(), &overC, mask, g.width, count, factor)
                                                  : component_lut3_Mx8_to_3x8_add(dst.data(), dst.rowBytes, src.data(), srcComp, srcBits, src.rowBytes, srcIdx, rt.ptr(), mask, g.width, count, factor);
                                EXPECT_EQ(rc, 0);
                                ExpectSamples(dst0, dst, [&](size_t r, size_t i, uint64_t) {
                                    const uint64_t raw = src.get(r, (i / 3) * srcComp + srcIdx);
                                    const size_t v = raw & top;
                                    const size_t k = i % 3;
                                    if (withOver && selected && v == top)
                                        return uint64_t(k == 0 ? 11 : k == 1 ? 22 : 33);
                                    if (withOver && !selected && raw == top)  // handed to the marking member
                                        return uint64_t(255 - rt.at(top, k));
                                    return uint64_t(selected ? RefScale(rt.at(v, k), factor) : rt.at(v, k));
                                });
                            });
                        }
}

TEST(KzExtract, IntensityScaledEdgeCases)
{
    Rows<u8> rows(256, 3, 1);
    for (size_t v = 0; v < 256; ++v) {
        const_cast<u8*>(rows.rows[v])[0] = 255;
        const_cast<u8*>(rows.rows[v])[1] = 100;
        const_cast<u8*>(rows.rows[v])[2] = 200;
    }
    const u64 mask = 1;
    const struct {
        double factor;
        u8 want[3];
    } cases[] = {{1.0, {255, 100, 200}}, {0.5, {128, 50, 100}}, {2.0, {255, 200, 255}}};
    const u8 px = 17;
    for (const auto& c : cases) {
        u8 out[3];
        EXPECT_EQ(component_lut3_Mx8_to_3x8_add(out, 3, &px, 1, 8, 1, 0, rows.ptr(), &mask, 1, 1, c.factor), 0);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(out[k], c.want[k]) << c.factor;
    }
    // Hostile arguments: index past the count, depth outside the container.
    u8 out[3] = {1, 2, 3};
    EXPECT_EQ(component_lut3_Mx8_to_3x8_add(out, 3, &px, 1, 8, 1, 1, rows.ptr(), &mask, 1, 1, 1.0), -4);
    EXPECT_EQ(component_lut3_Mx8_to_3x8_add(out, 3, &px, 1, 0, 1, 0, rows.ptr(), &mask, 1, 1, 1.0), -4);
    EXPECT_EQ(component_lut3_Mx8_to_3x8_add(out, 3, &px, 1, 9, 1, 0, rows.ptr(), &mask, 1, 1, 1.0), -4);
    const u16 px16 = 5;
    EXPECT_EQ(component_lut3_Mx16_to_3x8_add(out, 3, &px16, 1, 17, 2, 0, rows.ptr(), &mask, 1, 1, 1.0), -4);
    EXPECT_EQ(component_lut3_Mx16_to_3x8_add_overexp(out, 3, &px16, 1, 0, 2, 0, rows.ptr(), nullptr, &mask, 1, 1, 1.0),
              -4);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[2], 3);
}
