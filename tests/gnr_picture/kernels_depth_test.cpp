// Bit-depth conversion against scalar references on random pictures with odd
// widths, padded rows and guard rows, on every instruction-set path.
#include "gnr_picture/KzKernelsC.h"
#include "gnr_picture/internal/KzKernelsInternalK1.h"
#include "kernels_k1_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

using k1t::Geometries;
using k1t::RandomFlat;
using k1t::Rows;
using kzt::ExpectSamples;
using kzt::ForEachIsa;
using kzt::RandomPicture;
using kzt::TestPicture;

namespace {

// v shifted right by n (left by -n), 0 for a count of 16 or more, cut to the
// destination's low bits.
uint64_t RefShift(uint64_t v, int64_t n, uint64_t dstMask)
{
    if (n >= 16 || n <= -16)
        return 0;
    return (n >= 0 ? v >> n : v << -n) & dstMask;
}

std::string Where(const char* name, uint32_t comps, const k1t::Geometry& g)
{
    return std::string(name) + " comps " + std::to_string(comps) + " width " + std::to_string(g.width);
}

} // namespace

TEST(KzDepthShift, EveryMemberMatchesReference)
{
    enum Kind { To8, To16From8, Sixteen, InPlace };
    struct Case {
        Kind kind;
        uint32_t srcBits, dstBits;
        int32_t shift;
    } cases[] = {
        {To8, 12, 8, 0},       {To8, 16, 8, 0},       {To8, 8, 8, 0},        {To8, 5, 8, 0},
        {To8, 30, 8, 0},       {To16From8, 8, 16, 0}, {To16From8, 8, 12, 0}, {To16From8, 8, 3, 0},
        {To16From8, 8, 40, 0}, {Sixteen, 10, 12, 0},  {Sixteen, 12, 10, 0},  {Sixteen, 12, 12, 0},
        {Sixteen, 0, 16, 0},   {Sixteen, 16, 0, 0},   {InPlace, 16, 16, 4},  {InPlace, 16, 16, -4},
        {InPlace, 16, 16, 15}, {InPlace, 16, 16, -16}, {InPlace, 16, 16, INT_MIN}, {InPlace, 16, 16, INT_MAX},
    };
    uint32_t seed = 1;
    for (const Case& c : cases)
        for (uint32_t comps : kzt::TestComponentCounts())
            for (const auto& g : Geometries()) {
                const uint32_t sb = c.kind == To16From8 ? 1 : 2, db = c.kind == To8 ? 1 : 2;
                const uint32_t pad = seed % 4 == 1 ? 0 : 3;  // some pictures without row gaps
                const TestPicture src = RandomPicture(g.width, g.height, comps, sb, ~0ull, seed++, pad);
                const TestPicture dst0 = RandomPicture(g.width, g.height, comps, db, ~0ull, seed++, pad);
                const uint32_t count = g.width * g.height + g.extra;
                int64_t n = 0;
                switch (c.kind) {
                case To8: n = int64_t(c.srcBits) - 8; break;
                case To16From8: n = 8 - int64_t(c.dstBits); break;
                case Sixteen: n = int64_t(c.srcBits) - int64_t(c.dstBits); break;
                case InPlace: n = c.shift; break;
                }
                const uint64_t dm = db == 1 ? 0xFF : 0xFFFF;
                SCOPED_TRACE(Where("shift", comps, g) + " n " + std::to_string(n));
                ForEachIsa([&] {
                    TestPicture dst = c.kind == InPlace ? src : dst0;
                    int rc = 0;
                    switch (c.kind) {
                    case To8:
                        rc = convert_Nx16_to_Nx8(dst.data(), dst.rowBytes, src.data(), c.srcBits, src.rowBytes, comps,
                                                 g.width, count);
                        break;
                    case To16From8:
                        rc = convert_Nx8_to_Nx16(dst.data(), c.dstBits, dst.rowBytes, src.data(), src.rowBytes, comps,
                                                 g.width, count);
                        break;
                    case Sixteen:
                        rc = convert_Nx16_to_Nx16(dst.data(), c.dstBits, dst.rowBytes, src.data(), c.srcBits,
                                                  src.rowBytes, comps, g.width, count);
                        break;
                    case InPlace:
                        rc = _shift_Nx16_to_Nx16(dst.data(), comps, dst.rowBytes, c.shift, g.width, count);
                        break;
                    }
                    EXPECT_EQ(rc, 0);
                    ExpectSamples(c.kind == InPlace ? src : dst0, dst, [&](size_t r, size_t i, uint64_t) {
                        return RefShift(src.get(r, i), n, dm);
                    });
                });
            }
}

TEST(KzDepthShift, EdgeCases)
{
    struct Case {
        const char* what;
        int kind;  // 0: 16 to 8, 1: 8 to 16, 2: 16 to 16, 3: in place
        uint32_t srcBits, dstBits;
        int32_t shift;
        uint32_t in, want;
    } cases[] = {
        {"12 to 8, top", 0, 12, 8, 0, 4095, 255},
        {"12 to 8, middle", 0, 12, 8, 0, 2048, 128},
        {"12 to 8, out of range keeps the low byte", 0, 12, 8, 0, 4096, 0},
        {"8 to 16 is not 65535", 1, 8, 16, 0, 255, 65280},
        {"10 to 12", 2, 10, 12, 0, 1023, 4092},
        {"12 to 10", 2, 12, 10, 0, 4095, 1023},
        {"equal depths copy", 2, 12, 12, 0, 4095, 4095},
        {"shift -4", 3, 16, 16, -4, 15, 240},
        {"shift 4", 3, 16, 16, 4, 240, 15},
        {"shift 0 leaves the buffer", 3, 16, 16, 0, 1234, 1234},
        {"shift INT_MIN", 3, 16, 16, INT_MIN, 0xFFFF, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint16_t in16 = uint16_t(c.in);
        uint8_t in8 = uint8_t(c.in);
        uint8_t out8 = 0xAA;
        uint16_t out16 = 0xAAAA;
        switch (c.kind) {
        case 0:
            convert_Nx16_to_Nx8(&out8, 1, &in16, c.srcBits, 2, 1, 1, 1);
            EXPECT_EQ(out8, c.want);
            break;
        case 1:
            convert_Nx8_to_Nx16(&out16, c.dstBits, 2, &in8, 1, 1, 1, 1);
            EXPECT_EQ(out16, c.want);
            break;
        case 2:
            convert_Nx16_to_Nx16(&out16, c.dstBits, 2, &in16, c.srcBits, 2, 1, 1, 1);
            EXPECT_EQ(out16, c.want);
            break;
        default:
            EXPECT_EQ(_shift_Nx16_to_Nx16(&in16, 1, 2, c.shift, 1, 1), 0);
            EXPECT_EQ(in16, c.want);
            break;
        }
    }
}

TEST(KzDepthContainer, EveryMemberMatchesReference)
{
    using Fn = int (*)(void*, uint32_t, const void*, uint32_t, uint32_t, uint32_t, uint32_t);
    using FnN = int (*)(void*, uint32_t, const void*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);
    struct Member {
        const char* name;
        Fn fixed;
        FnN n;
        uint32_t comps, dstBytes;
    } members[] = {
        {"1x08", changebitdepth_1xN_to_1x08, nullptr, 1, 1},  {"3x08", changebitdepth_3xN_to_3x08, nullptr, 3, 1},
        {"Nx08", nullptr, changebitdepth_NxM_to_Nx08, 0, 1},  {"1x16", changebitdepth_1xN_to_1x16, nullptr, 1, 2},
        {"3x16", changebitdepth_3xN_to_3x16, nullptr, 3, 2},  {"Nx16", nullptr, changebitdepth_NxM_to_Nx16, 0, 2},
        {"1x32", changebitdepth_1xN_to_1x32, nullptr, 1, 4},  {"3x32", changebitdepth_3xN_to_3x32, nullptr, 3, 4},
        {"Nx32", nullptr, changebitdepth_NxM_to_Nx32, 0, 4},
    };
    uint32_t seed = 100;
    for (const Member& m : members)
        for (uint32_t srcBits : {0u, 5u, 8u, 12u, 16u, 20u, 32u, 40u})
            for (uint32_t comps : kzt::TestComponentCounts()) {
                if (m.comps && comps != m.comps)
                    continue;
                const auto& g = Geometries()[seed % Geometries().size()];
                const uint32_t sb = srcBits <= 8 ? 1 : srcBits <= 16 ? 2 : 4;
                // Odd seeds: rows without padding (walked as one block).
                const uint32_t pad = seed % 2 ? 0 : 3;
                const TestPicture src = RandomPicture(g.width, g.height, comps, sb, ~0ull, seed++, pad);
                const TestPicture dst0 = RandomPicture(g.width, g.height, comps, m.dstBytes, ~0ull, seed++, pad);
                const uint32_t count = g.width * g.height + g.extra;
                SCOPED_TRACE(Where(m.name, comps, g) + " srcBits " + std::to_string(srcBits) + " pad " +
                             std::to_string(pad));
                ForEachIsa([&] {
                    TestPicture dst = dst0;
                    const int rc = m.fixed ? m.fixed(dst.data(), dst.rowBytes, src.data(), src.rowBytes, srcBits,
                                                     g.width, count)
                                           : m.n(dst.data(), dst.rowBytes, src.data(), src.rowBytes, srcBits, comps,
                                                 g.width, count);
                    EXPECT_EQ(rc, 0);
                    const uint64_t dm = m.dstBytes == 4 ? 0xFFFFFFFFull : (1ull << (8 * m.dstBytes)) - 1;
                    ExpectSamples(dst0, dst, [&](size_t r, size_t i, uint64_t before) {
                        return srcBits > 32 ? before : src.get(r, i) & dm;
                    });
                });
            }
}

namespace {

// Output of the LUT members for one sample: flat or row-pointer entry.
struct LutMember {
    const char* name;
    uint32_t srcBytes, dstBytes, comps;  // comps 0: any count (nComp argument)
    bool flat;
    // Calls the exported member (depth = 0) or the depth-taking entry.
    std::function<int(void*, uint32_t, const void*, uint32_t, const void*, uint32_t, uint32_t, uint32_t, uint32_t)>
        call;
};

#define K1_L(name, SB, DB, C, FLAT, TAB)                                                                     \
    LutMember{#name, SB, DB, C, FLAT,                                                                        \
              [](void* d, uint32_t drb, const void* s, uint32_t srb, const void* t, uint32_t n, uint32_t w,  \
                 uint32_t c, uint32_t depth) {                                                               \
                  (void)n;                                                                                   \
                  return depth ? name##_depth(d, drb, s, srb, (TAB)t, w, c, depth)                           \
                               : name(d, drb, s, srb, (TAB)t, w, c);                                         \
              }}
#define K1_LN(name, SB, DB, FLAT, TAB)                                                                       \
    LutMember{#name, SB, DB, 0, FLAT,                                                                        \
              [](void* d, uint32_t drb, const void* s, uint32_t srb, const void* t, uint32_t n, uint32_t w,  \
                 uint32_t c, uint32_t depth) {                                                               \
                  return depth ? name##_depth(d, drb, s, srb, (TAB)t, n, w, c, depth)                        \
                               : name(d, drb, s, srb, (TAB)t, n, w, c);                                      \
              }}
#define K1_LB(name, FLAT, TAB)                                                                               \
    LutMember{#name, 2, 1, 3, FLAT,                                                                          \
              [](void* d, uint32_t drb, const void* s, uint32_t srb, const void* t, uint32_t, uint32_t w,    \
                 uint32_t c, uint32_t depth) {                                                               \
                  return depth ? name##_depth(d, drb, s, 99, srb, (TAB)t, w, c, depth)                       \
                               : name(d, drb, s, 99, srb, (TAB)t, w, c);                                     \
              }}

std::vector<LutMember> LutMembers()
{
    using R8 = const u8* const*;
    using R16 = const u16* const*;
    using F8 = const u8*;
    using F16 = const u16*;
    return {
        K1_L(convertbitdepthvialuts_1x16_to_1x8, 2, 1, 1, true, F8),
        K1_LB(convertbitdepthvialuts_3x16_to_3x8, false, R8),
        K1_LB(convertbitdepthvialuts_3x16_to_3x8_lut1, true, F8),
        K1_L(convertbitdepthvialuts_4x16_to_4x8, 2, 1, 4, false, R8),
        K1_L(convertbitdepthvialuts_4x16_to_4x8_lut1, 2, 1, 4, true, F8),
        K1_LN(convertbitdepthvialuts_Nx16_to_Nx8, 2, 1, false, R8),
        K1_LN(convertbitdepthvialuts_Nx16_to_Nx8_lut1, 2, 1, true, F8),
        K1_L(convertbitdepthvialuts_1x8_to_1x16, 1, 2, 1, true, F16),
        K1_L(convertbitdepthvialuts_3x8_to_3x16, 1, 2, 3, false, R16),
        K1_L(convertbitdepthvialuts_3x8_to_3x16_lut1, 1, 2, 3, true, F16),
        K1_L(convertbitdepthvialuts_4x8_to_4x16, 1, 2, 4, false, R16),
        K1_L(convertbitdepthvialuts_4x8_to_4x16_lut1, 1, 2, 4, true, F16),
        K1_LN(convertbitdepthvialuts_Nx8_to_Nx16, 1, 2, false, R16),
        K1_LN(convertbitdepthvialuts_Nx8_to_Nx16_lut1, 1, 2, true, F16),
        K1_L(convertbitdepthvialuts_1x16_to_1x16, 2, 2, 1, true, F16),
        K1_L(convertbitdepthvialuts_3x16_to_3x16, 2, 2, 3, false, R16),
        K1_L(convertbitdepthvialuts_3x16_to_3x16_lut1, 2, 2, 3, true, F16),
        K1_L(convertbitdepthvialuts_4x16_to_4x16, 2, 2, 4, false, R16),
        K1_L(convertbitdepthvialuts_4x16_to_4x16_lut1, 2, 2, 4, true, F16),
        K1_LN(convertbitdepthvialuts_Nx16_to_Nx16, 2, 2, false, R16),
        K1_LN(convertbitdepthvialuts_Nx16_to_Nx16_lut1, 2, 2, true, F16),
    };
}

} // namespace

// Exported members with tables covering the container, and the depth-taking
// entries with tables of exactly 2^depth entries on frames whose samples run
// up to the container's maximum (0xFFFF in 12-bit frames): no lookup leaves
// the table (the sanitizer build checks), and the result is the masked
// sample's entry.
TEST(KzDepthLut, EveryMemberAndDepthEntryMatchesReference)
{
    uint32_t seed = 300;
    for (const LutMember& m : LutMembers())
        for (uint32_t depth : {0u, 3u, 8u, 9u, 12u, 15u, 16u}) {
            if (depth > m.srcBytes * 8 || (m.srcBytes == 2 && depth != 0 && depth < 9 && depth != 3))
                continue;
            const size_t entries = size_t(1) << (depth ? depth : m.srcBytes * 8);
            for (uint32_t comps : kzt::TestComponentCounts()) {
                if (m.comps && comps != m.comps)
                    continue;
                const auto& g = Geometries()[seed % Geometries().size()];
                TestPicture src = RandomPicture(g.width, g.height, comps, m.srcBytes, ~0ull, seed++);
                // Samples at the container's maximum in every row.
                for (uint32_t r = 0; r < g.height; ++r)
                    src.put(r, r % src.samplesPerRow(), ~0ull);
                const TestPicture dst0 = RandomPicture(g.width, g.height, comps, m.dstBytes, ~0ull, seed++);
                const uint32_t count = g.width * g.height + g.extra;
                const uint64_t mask = entries - 1;
                SCOPED_TRACE(Where(m.name, comps, g) + " depth " + std::to_string(depth));
                auto check = [&](const void* table, const std::function<uint64_t(size_t, size_t)>& entry) {
                    ForEachIsa([&] {
                        TestPicture dst = dst0;
                        EXPECT_EQ(m.call(dst.data(), dst.rowBytes, src.data(), src.rowBytes, table, comps, g.width,
                                         count, depth),
                                  0);
                        ExpectSamples(dst0, dst, [&](size_t r, size_t i, uint64_t) {
                            return entry(src.get(r, i) & mask, i % comps);
                        });
                    });
                };
                if (m.dstBytes == 1) {
                    if (m.flat) {
                        const auto t = RandomFlat<u8>(entries, seed);
                        check(t.data(), [&](size_t v, size_t) { return uint64_t(t[v]); });
                    } else {
                        const Rows<u8> t(entries, comps, seed);
                        check(t.ptr(), [&](size_t v, size_t k) { return uint64_t(t.at(v, k)); });
                    }
                } else {
                    if (m.flat) {
                        const auto t = RandomFlat<u16>(entries, seed);
                        check(t.data(), [&](size_t v, size_t) { return uint64_t(t[v]); });
                    } else {
                        const Rows<u16> t(entries, comps, seed);
                        check(t.ptr(), [&](size_t v, size_t k) { return uint64_t(t.at(v, k)); });
                    }
                }
            }
        }
}

namespace {

// Reference of the marking members: tests 2, 1, 0, under before over.
void RefMark(const uint16_t* s, uint32_t srcBits, uint16_t mask, const Rows<u8>& t, const SKzLutExpColor* over,
             const SKzLutExpColor* under, uint8_t* out)
{
    const uint32_t M = srcBits >= 16 ? 0xFFFF : (1u << srcBits) - 1;
    for (int k = 2; k >= 0; --k) {
        const SKzLutExpColor* c = nullptr;
        if (under && s[k] == 0)
            c = under;
        else if (over && s[k] == M)
            c = over;
        if (c) {
            if (c->flag) {
                out[0] = out[1] = out[2] = 255;
                out[k] = 0;
            } else {
                out[0] = c->blue;
                out[1] = c->green;
                out[2] = c->red;
            }
            return;
        }
    }
    for (int k = 0; k < 3; ++k)
        out[k] = t.at(s[k] & mask, k);
}

} // namespace

TEST(KzDepthLut, MarkingMembersMatchReference)
{
    const SKzLutExpColor overN{10, 20, 30, 0}, overC{10, 20, 30, 1}, underN{40, 50, 60, 0}, underC{40, 50, 60, 7};
    struct Colours {
        const SKzLutExpColor *over, *under;
    } colours[] = {{&overN, &underN}, {&overC, &underC}, {&overN, nullptr}, {nullptr, &underC}, {nullptr, nullptr}};
    uint32_t seed = 900;
    for (uint32_t srcBits : {9u, 12u, 16u})
        for (const Colours& col : colours)
            for (int member = 0; member < 4; ++member) {
                // 0 overexp, 1 underexp, 2 both, 3 underexp depth entry
                const SKzLutExpColor* over = (member == 0 || member == 2) ? col.over : nullptr;
                const SKzLutExpColor* under = member != 0 ? col.under : nullptr;
                const uint16_t M = uint16_t(srcBits >= 16 ? 0xFFFF : (1u << srcBits) - 1);
                const auto& g = Geometries()[seed % Geometries().size()];
                TestPicture src = RandomPicture(g.width, g.height, 3, 2, M, seed++);
                // Sprinkle 0, M and values above M.
                std::mt19937 rng(seed);
                for (uint32_t r = 0; r < g.height; ++r)
                    for (size_t i = 0; i < src.samplesPerRow(); ++i) {
                        const uint32_t pick = rng() % 8;
                        if (pick == 0)
                            src.put(r, i, 0);
                        else if (pick == 1)
                            src.put(r, i, M);
                        else if (pick == 2)
                            src.put(r, i, 0xFFFF);
                    }
                // Exported members other than underexp index by the masked sample;
                // underexp's table covers the container unless its depth entry is used.
                const bool container = member == 1;
                const Rows<u8> t(container ? 65536 : size_t(M) + 1, 3, seed);
                const uint16_t mask = container ? 0xFFFF : M;
                const TestPicture dst0 = RandomPicture(g.width, g.height, 3, 1, ~0ull, seed++);
                const uint32_t count = g.width * g.height + g.extra;
                SCOPED_TRACE("member " + std::to_string(member) + " bits " + std::to_string(srcBits));
                ForEachIsa([&] {
                    TestPicture dst = dst0;
                    int rc = 0;
                    switch (member) {
                    case 0:
                        rc = convertbitdepthvialuts_3x16_to_3x8_overexp(dst.data(), dst.rowBytes, src.data(), srcBits,
                                                                        src.rowBytes, t.ptr(), over, g.width, count);
                        break;
                    case 1:
                        rc = convertbitdepthvialuts_3x16_to_3x8_underexp(dst.data(), dst.rowBytes, src.data(), 0,
                                                                         src.rowBytes, t.ptr(), under, g.width, count);
                        // srcBits is not read: M for the reference is the container's.
                        break;
                    case 2:
                        rc = convertbitdepthvialuts_3x16_to_3x8_overexp_underexp(dst.data(), dst.rowBytes, src.data(),
                                                                                 srcBits, src.rowBytes, t.ptr(), over,
                                                                                 under, g.width, count);
                        break;
                    default:
                        rc = convertbitdepthvialuts_3x16_to_3x8_underexp_depth(dst.data(), dst.rowBytes, src.data(), 0,
                                                                               src.rowBytes, t.ptr(), under, g.width,
                                                                               count, srcBits);
                        break;
                    }
                    EXPECT_EQ(rc, 0);
                    ExpectSamples(dst0, dst, [&](size_t r, size_t i, uint64_t) {
                        uint16_t px[3];
                        for (int k = 0; k < 3; ++k)
                            px[k] = uint16_t(src.get(r, (i / 3) * 3 + k));
                        uint8_t out[3];
                        RefMark(px, member == 1 ? 0 : srcBits, mask, t, over, under, out);
                        return uint64_t(out[i % 3]);
                    });
                });
            }
}

TEST(KzDepthLut, MarkingEdgeCases)
{
    // Row v of the table holds (v / 16, v / 16 + 1, v / 16 + 2) as bytes.
    std::vector<u8> block(4096 * 3);
    std::vector<const u8*> rows(4096);
    for (size_t v = 0; v < 4096; ++v) {
        for (size_t k = 0; k < 3; ++k)
            block[v * 3 + k] = u8(v / 16 + k);
        rows[v] = block.data() + v * 3;
    }
    const SKzLutExpColor over{1, 2, 3, 0}, under{4, 5, 6, 0}, overC{1, 2, 3, 1};
    struct Case {
        const char* what;
        uint16_t px[3];
        const SKzLutExpColor *over, *under;
        uint8_t want[3];
    } cases[] = {
        {"component 1 at M is tested before component 0 at 0", {0, 4095, 7}, &over, &under, {1, 2, 3}},
        {"component 2 at 0", {4095, 5, 0}, &over, &under, {4, 5, 6}},
        {"no sample at 0 or M goes through the table", {4094, 5, 7}, &over, &under, {255, 1, 2}},
        {"complementary over-exposure, component 2", {5, 5, 4095}, &overC, &under, {255, 255, 0}},
        {"complementary over-exposure, component 0", {4095, 5, 5}, &overC, &under, {0, 255, 255}},
        {"above M is not marked", {4096 + 7, 16, 32}, &over, nullptr, {0, 2, 4}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        uint8_t out[3] = {9, 9, 9};
        EXPECT_EQ(convertbitdepthvialuts_3x16_to_3x8_overexp_underexp(out, 3, c.px, 12, 6, rows.data(), c.over,
                                                                      c.under, 1, 1),
                  0);
        EXPECT_EQ(out[0], c.want[0]);
        EXPECT_EQ(out[1], c.want[1]);
        EXPECT_EQ(out[2], c.want[2]);
    }
}

TEST(KzDepthLut, FlatMarkingPaintsStoredBytesAtOrAboveM)
{
    const auto table = RandomFlat<u8>(4096, 5);
    const SKzLutExpColor flagged{7, 8, 9, 1};
    struct Case {
        uint16_t px[3];
        bool marked;
    } cases[] = {{{3, 4095, 3}, true}, {{0xFFFF, 0, 0}, true}, {{4094, 4094, 0}, false}, {{0, 1, 2}, false}};
    for (const Case& c : cases) {
        uint8_t out[3];
        EXPECT_EQ(convertbitdepthvialuts_3x16_to_3x8_lut1_overexp(out, 3, c.px, 12, 6, table.data(), &flagged, 1, 1),
                  0);
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(out[k], c.marked ? (k == 0 ? 7 : k == 1 ? 8 : 9) : table[c.px[k]]);
    }
    // A null colour hands the call to the plain flat member (masked by M).
    const uint16_t px[3] = {0xFFFF, 1, 4095};
    uint8_t out[3];
    EXPECT_EQ(convertbitdepthvialuts_3x16_to_3x8_lut1_overexp(out, 3, px, 12, 6, table.data(), nullptr, 1, 1), 0);
    EXPECT_EQ(out[0], table[4095]);
    EXPECT_EQ(out[1], table[1]);
    EXPECT_EQ(out[2], table[4095]);
}

// Long runs of 16-bit samples through byte tables of 2^depth entries, the
// sizes that the register lookup takes (7 to 12 bits) and one each side of
// them: every value below 2^depth appears, scattered so that the samples of one
// step fall into different table blocks, and a third of the samples carry
// random bits above the depth (0xFFFF among them), which must be masked off.
// Gapless pictures run as one block across rows; padded ones row by row,
// with row lengths around the 256-sample step (the rest of a row goes through
// the plain loop). The table ends where its allocation ends, and is read once
// at a 64-byte aligned address and once one byte past one (a table that the
// kernel copies first).
TEST(KzDepthLut, LongRunsThroughByteTablesMatchReference)
{
    struct Shape {
        uint32_t width, height, extra, comps, pad;
    } shapes[] = {
        {4096 + 77, 2, 0, 1, 0},  // gapless: one run of 8346 samples
        {4096 + 77, 2, 5, 1, 3},  // padded rows, trailing partial row untouched
        {256, 3, 0, 1, 4},        // rows of exactly one step
        {257, 3, 0, 1, 1},
        {255, 17, 0, 1, 0},       // gapless, rows shorter than a step
        {85, 40, 0, 3, 2},        // 255 samples a row, three components
        {1, 600, 0, 1, 0},        // one-column gapless picture
    };
    uint32_t seed = 1200;
    for (uint32_t depth = 6; depth <= 13; ++depth) {
        const size_t entries = size_t(1) << depth;
        const auto values = RandomFlat<u8>(entries, seed++);
        std::unique_ptr<u8, decltype(&std::free)> alignedTable(static_cast<u8*>(std::aligned_alloc(64, entries)),
                                                               &std::free);
        ASSERT_NE(alignedTable, nullptr);
        std::vector<u8> oddBlock(entries + 1);
        std::copy(values.begin(), values.end(), alignedTable.get());
        std::copy(values.begin(), values.end(), oddBlock.begin() + 1);
        const u8* tables[] = {alignedTable.get(), oddBlock.data() + 1};
        for (const u8* table : tables)
            for (const Shape& sh : shapes) {
                TestPicture src = RandomPicture(sh.width, sh.height, sh.comps, 2, 0, seed++, sh.pad);
                std::mt19937 rng(seed);
                size_t g = 0;
                for (uint32_t r = 0; r < sh.height; ++r)
                    for (size_t i = 0; i < src.samplesPerRow(); ++i, ++g) {
                        // An odd multiplier permutes the values below 2^depth.
                        uint32_t v = uint32_t((g * 0x9E37u + 11) & (entries - 1));
                        if (rng() % 3 == 0)
                            v |= (rng() << depth) & 0xFFFF;
                        if (g % 97 == 5)
                            v = 0xFFFF;
                        src.put(r, i, v);
                    }
                const TestPicture dst0 = RandomPicture(sh.width, sh.height, sh.comps, 1, ~0ull, seed++, sh.pad);
                const uint32_t count = sh.width * sh.height + sh.extra;
                SCOPED_TRACE("depth " + std::to_string(depth) + " width " + std::to_string(sh.width) + " comps " +
                             std::to_string(sh.comps) + " pad " + std::to_string(sh.pad) +
                             (table == tables[0] ? " aligned table" : " unaligned table"));
                ForEachIsa([&] {
                    TestPicture dst = dst0;
                    const int rc =
                        sh.comps == 1
                            ? convertbitdepthvialuts_1x16_to_1x8_depth(dst.data(), dst.rowBytes, src.data(),
                                                                       src.rowBytes, table, sh.width, count, depth)
                            : convertbitdepthvialuts_Nx16_to_Nx8_lut1_depth(dst.data(), dst.rowBytes, src.data(),
                                                                            src.rowBytes, table, sh.comps, sh.width,
                                                                            count, depth);
                    EXPECT_EQ(rc, 0);
                    ExpectSamples(dst0, dst, [&](size_t r, size_t i, uint64_t) {
                        return uint64_t(values[src.get(r, i) & (entries - 1)]);
                    });
                });
            }
    }
}

TEST(KzDepthLinFunc, EveryMemberMatchesReference)
{
    uint32_t seed = 1300;
    for (int member = 0; member < 6; ++member)
        for (uint32_t comps : kzt::TestComponentCounts()) {
            const bool to16 = member < 3;
            const uint32_t fixed = member % 3 == 0 ? 1 : member % 3 == 1 ? 3 : 0;
            if (fixed && comps != fixed)
                continue;
            for (uint32_t dstBits : {8u, 12u, 16u, 20u}) {
                if (!to16 && dstBits != 8)
                    continue;
                const auto& g = Geometries()[seed % Geometries().size()];
                const TestPicture src = RandomPicture(g.width, g.height, comps, 4, ~0ull, seed++);
                const TestPicture dst0 = RandomPicture(g.width, g.height, comps, to16 ? 2 : 1, ~0ull, seed++);
                std::mt19937_64 rng(seed);
                std::vector<SKzLinFunc> f(comps);
                for (auto& e : f)
                    e = SKzLinFunc{rng() % 70000, rng() % 3 ? rng() % 1000 : rng(), rng() % 5000 + 1, rng() % 100000};
                const uint32_t count = g.width * g.height + g.extra;
                SCOPED_TRACE("linfunc member " + std::to_string(member) + " comps " + std::to_string(comps));
                TestPicture dst = dst0;
                int rc = 0;
                switch (member) {
                case 0: rc = convertbitdepthvialinfunc_1x32_to_1x16(dst.data(), dst.rowBytes, dstBits, src.data(), src.rowBytes, f.data(), g.width, count); break;
                case 1: rc = convertbitdepthvialinfunc_3x32_to_3x16(dst.data(), dst.rowBytes, dstBits, src.data(), src.rowBytes, f.data(), g.width, count); break;
                case 2: rc = convertbitdepthvialinfunc_Mx32_to_Mx16(dst.data(), dst.rowBytes, dstBits, src.data(), src.rowBytes, f.data(), comps, g.width, count); break;
                case 3: rc = convertbitdepthvialinfunc_1x32_to_1x8(dst.data(), dst.rowBytes, src.data(), src.rowBytes, f.data(), g.width, count); break;
                case 4: rc = convertbitdepthvialinfunc_3x32_to_3x8(dst.data(), dst.rowBytes, src.data(), src.rowBytes, f.data(), g.width, count); break;
                default: rc = convertbitdepthvialinfunc_Mx32_to_Mx8(dst.data(), dst.rowBytes, src.data(), src.rowBytes, f.data(), comps, g.width, count); break;
                }
                EXPECT_EQ(rc, 0);
                const uint64_t M = dstBits >= 16 ? 65535 : (1u << dstBits) - 1;
                ExpectSamples(dst0, dst, [&](size_t r, size_t i, uint64_t) {
                    const SKzLinFunc& e = f[i % comps];
                    const uint64_t q = (src.get(r, i) * e.multiplier - e.offset) / e.divisor + e.addend;
                    if (!to16)
                        return q & 0xFF;
                    return std::min<uint64_t>(q & 0xFFFF, M);
                });
            }
        }
}

TEST(KzDepthLinFunc, EdgeCasesAndZeroDivisor)
{
    struct Case {
        uint32_t in, dstBits;
        SKzLinFunc f;
        uint32_t want;
    } cases[] = {
        {65535, 12, {1, 0, 16, 0}, 4095},
        {1048575, 12, {1, 0, 16, 0}, 4095},
        {1048576, 12, {1, 0, 16, 0}, 0},
        {300, 8, {1, 0, 1, 0}, 44},
    };
    for (const Case& c : cases) {
        if (c.dstBits == 8) {
            uint8_t out = 0;
            EXPECT_EQ(convertbitdepthvialinfunc_1x32_to_1x8(&out, 1, &c.in, 4, &c.f, 1, 1), 0);
            EXPECT_EQ(out, c.want);
        } else {
            uint16_t out = 0;
            EXPECT_EQ(convertbitdepthvialinfunc_1x32_to_1x16(&out, 2, c.dstBits, &c.in, 4, &c.f, 1, 1), 0);
            EXPECT_EQ(out, c.want) << c.in;
        }
    }
    // A zero divisor in any record used is refused before anything is written.
    const uint32_t src[40] = {7, 7, 7, 7, 7};
    uint16_t out[40];
    std::fill(std::begin(out), std::end(out), 0xABCD);
    SKzLinFunc f[40];
    for (auto& e : f)
        e = SKzLinFunc{1, 0, 1, 0};
    f[34].divisor = 0;
    EXPECT_EQ(convertbitdepthvialinfunc_Mx32_to_Mx16(out, 80, 16, src, 160, f, 35, 1, 1), -4);
    EXPECT_EQ(convertbitdepthvialinfunc_Mx32_to_Mx8(out, 80, src, 160, f, 35, 1, 1), -4);
    for (uint16_t v : out)
        EXPECT_EQ(v, 0xABCD);
    // More than 32 components are served: record k for component k.
    EXPECT_EQ(convertbitdepthvialinfunc_Mx32_to_Mx16(out, 80, 16, src, 160, f, 34, 1, 1), 0);
    EXPECT_EQ(out[0], 7);
    EXPECT_EQ(out[33], 0);
    EXPECT_EQ(out[34], 0xABCD);
}
