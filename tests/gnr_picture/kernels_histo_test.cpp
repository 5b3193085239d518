// Histograms and their repair against a plain counting reference: every
// counting member, component counts 1, 3, 4, 5, steps, masks, intensities,
// both counter widths (counters start non-zero so that growth and wrapping
// are checked), every instruction-set path; counter arrays of exactly their
// stated size.
#include "gnr_picture/KzKernelsC.h"
#include "kernels_k1_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

using kzt::ForEachIsa;
using kzt::RandomPicture;
using kzt::TestPicture;

namespace {

// One counter array of n counters of width cw (4 or 8), exactly sized.
struct Counters {
    uint32_t cw;
    std::vector<uint8_t> bytes;
    Counters(size_t n, uint32_t width, uint32_t seed) : cw(width), bytes(n * width)
    {
        std::mt19937_64 rng(seed);
        for (size_t i = 0; i < n; ++i)
            set(i, rng() % 3 == 0 ? ~uint64_t(0) - rng() % 3 : rng() % 100);
    }
    size_t size() const { return bytes.size() / cw; }
    uint64_t get(size_t i) const
    {
        if (cw == 4) {
            uint32_t v;
            std::memcpy(&v, &bytes[i * 4], 4);
            return v;
        }
        uint64_t v;
        std::memcpy(&v, &bytes[i * 8], 8);
        return v;
    }
    void set(size_t i, uint64_t v)
    {
        if (cw == 4) {
            const uint32_t w = uint32_t(v);
            std::memcpy(&bytes[i * 4], &w, 4);
        } else {
            std::memcpy(&bytes[i * 8], &v, 8);
        }
    }
    void add(size_t i) { set(i, get(i) + 1); }
    void* data() { return bytes.data(); }
};

enum class Fam { Plain, Int, Div, Bin, Bin16 };

struct Member {
    const char* name;
    Fam fam;
    uint32_t srcBytes;  // 1, 2, 4
    uint32_t comps;     // 0: any
};

struct Args {
    void** set;
    void* inten;
    uint32_t cw;
    const void* src;
    uint32_t nComp, rowBytes;
    const void* mask;
    uint32_t maskRowBytes, ps, rs, bits, histBits, width, count;
};

int Call(const Member& m, const Args& a)
{
    const std::string n = m.name;
#define K1_IF(name, ...)                                                                                     \
    if (n == #name)                                                                                          \
        return name(__VA_ARGS__);
    K1_IF(gethistogram_1x8, a.set[0], a.cw, a.src, a.rowBytes, a.ps, a.rs, a.width, a.count)
    K1_IF(gethistogram_3x8, a.set, a.cw, a.src, a.rowBytes, a.ps, a.rs, a.width, a.count)
    K1_IF(gethistogram_4x8, a.set, a.cw, a.src, a.rowBytes, a.ps, a.rs, a.width, a.count)
    K1_IF(gethistogram_Nx8, a.set, a.cw, a.src, a.nComp, a.rowBytes, a.ps, a.rs, a.width, a.count)
    K1_IF(gethistogram_1x16, a.set[0], a.cw, a.src, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogram_3x16, a.set, a.cw, a.src, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogram_4x16, a.set, a.cw, a.src, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogram_Nx16, a.set, a.cw, a.src, a.nComp, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogramint_3x8, a.set, a.inten, a.cw, a.src, a.rowBytes, a.ps, a.rs, a.width, a.count)
    K1_IF(gethistogramint_4x8, a.set, a.inten, a.cw, a.src, a.rowBytes, a.ps, a.rs, a.width, a.count)
    K1_IF(gethistogramint_Nx8, a.set, a.inten, a.cw, a.src, a.nComp, a.rowBytes, a.ps, a.rs, a.width, a.count)
    K1_IF(gethistogramint_3x16, a.set, a.inten, a.cw, a.src, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogramint_4x16, a.set, a.inten, a.cw, a.src, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogramint_Nx16, a.set, a.inten, a.cw, a.src, a.nComp, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogramdiv_1x16, a.set[0], a.cw, a.histBits, a.src, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogramdiv_3x16, a.set, a.cw, a.histBits, a.src, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogramdiv_Nx16, a.set, a.cw, a.histBits, a.src, a.nComp, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogramdiv_1x32, a.set[0], a.cw, a.histBits, a.src, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogramdiv_3x32, a.set, a.cw, a.histBits, a.src, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_IF(gethistogramdiv_Nx32, a.set, a.cw, a.histBits, a.src, a.nComp, a.rowBytes, a.ps, a.rs, a.bits, a.width, a.count)
#define K1_BIN(bin, TM)                                                                                      \
    K1_IF(bin##_1x8, a.set[0], a.cw, a.src, a.rowBytes, (const TM*)a.mask, a.maskRowBytes, a.ps, a.rs, a.width, a.count) \
    K1_IF(bin##_3x8, a.set, a.inten, a.cw, a.src, a.rowBytes, (const TM*)a.mask, a.maskRowBytes, a.ps, a.rs, a.width, a.count) \
    K1_IF(bin##_4x8, a.set, a.inten, a.cw, a.src, a.rowBytes, (const TM*)a.mask, a.maskRowBytes, a.ps, a.rs, a.width, a.count) \
    K1_IF(bin##_Nx8, a.set, a.inten, a.cw, a.src, a.nComp, a.rowBytes, (const TM*)a.mask, a.maskRowBytes, a.ps, a.rs, a.width, a.count) \
    K1_IF(bin##_1x16, a.set[0], a.cw, a.src, a.rowBytes, (const TM*)a.mask, a.maskRowBytes, a.ps, a.rs, a.bits, a.width, a.count) \
    K1_IF(bin##_3x16, a.set, a.inten, a.cw, a.src, a.rowBytes, (const TM*)a.mask, a.maskRowBytes, a.ps, a.rs, a.bits, a.width, a.count) \
    K1_IF(bin##_4x16, a.set, a.inten, a.cw, a.src, a.rowBytes, (const TM*)a.mask, a.maskRowBytes, a.ps, a.rs, a.bits, a.width, a.count) \
    K1_IF(bin##_Nx16, a.set, a.inten, a.cw, a.src, a.nComp, a.rowBytes, (const TM*)a.mask, a.maskRowBytes, a.ps, a.rs, a.bits, a.width, a.count)
    K1_BIN(gethistogrambin, u8)
    K1_BIN(gethistogrambin16, u16)
#undef K1_BIN
#undef K1_IF
    ADD_FAILURE() << "unknown member " << n;
    return -100;
}

std::vector<Member> Members()
{
    std::vector<Member> out = {
        {"gethistogram_1x8", Fam::Plain, 1, 1},     {"gethistogram_3x8", Fam::Plain, 1, 3},
        {"gethistogram_4x8", Fam::Plain, 1, 4},     {"gethistogram_Nx8", Fam::Plain, 1, 0},
        {"gethistogram_1x16", Fam::Plain, 2, 1},    {"gethistogram_3x16", Fam::Plain, 2, 3},
        {"gethistogram_4x16", Fam::Plain, 2, 4},    {"gethistogram_Nx16", Fam::Plain, 2, 0},
        {"gethistogramint_3x8", Fam::Int, 1, 3},    {"gethistogramint_4x8", Fam::Int, 1, 4},
        {"gethistogramint_Nx8", Fam::Int, 1, 0},    {"gethistogramint_3x16", Fam::Int, 2, 3},
        {"gethistogramint_4x16", Fam::Int, 2, 4},   {"gethistogramint_Nx16", Fam::Int, 2, 0},
        {"gethistogramdiv_1x16", Fam::Div, 2, 1},   {"gethistogramdiv_3x16", Fam::Div, 2, 3},
        {"gethistogramdiv_Nx16", Fam::Div, 2, 0},   {"gethistogramdiv_1x32", Fam::Div, 4, 1},
        {"gethistogramdiv_3x32", Fam::Div, 4, 3},   {"gethistogramdiv_Nx32", Fam::Div, 4, 0},
    };
    static const std::vector<std::string> binNames = [] {
        std::vector<std::string> v;
        for (const char* bin : {"gethistogrambin", "gethistogrambin16"})
            for (const char* suffix : {"_1x8", "_3x8", "_4x8", "_Nx8", "_1x16", "_3x16", "_4x16", "_Nx16"})
                v.push_back(std::string(bin) + suffix);
        return v;
    }();
    for (size_t i = 0; i < binNames.size(); ++i) {
        const uint32_t comps[] = {1, 3, 4, 0};
        out.push_back({binNames[i].c_str(), i < 8 ? Fam::Bin : Fam::Bin16, uint32_t((i % 8) < 4 ? 1 : 2),
                       comps[i % 4]});
    }
    return out;
}

struct CountSetup {
    uint32_t cw, bits, histBits, ps, rs;
};

// Counts with the member on every instruction-set path, each time from the
// start counters into fresh copies (the arrays of `a` are set here), and
// compares every component row and the intensity row with the expected ones.
void ExpectCountsOnEveryIsa(const Member& m, Args a, const std::vector<Counters>& start, const Counters& startInt,
                            const std::vector<Counters>& want, const Counters& wantInt)
{
    ForEachIsa([&] {
        std::vector<Counters> got = start;
        Counters gotInt = startInt;
        std::vector<void*> set;
        for (auto& c : got)
            set.push_back(c.data());
        a.set = set.data();
        a.inten = gotInt.data();
        EXPECT_EQ(Call(m, a), 0);
        for (size_t k = 0; k < want.size(); ++k)
            EXPECT_EQ(got[k].bytes, want[k].bytes) << "component " << k;
        EXPECT_EQ(gotInt.bytes, wantInt.bytes) << "intensity";
    });
}

} // namespace

TEST(KzHistogram, EveryCountingMemberMatchesReference)
{
    const CountSetup setups[] = {
        {4, 8, 8, 1, 1}, {8, 12, 8, 1, 1}, {4, 9, 9, 3, 2}, {8, 16, 12, 4, 3}, {4, 12, 5, 0, 0}, {4, 11, 0, 2, 10},
    };
    uint32_t seed = 8000;
    for (const Member& m : Members())
        for (const CountSetup& su : setups)
            for (uint32_t comps : kzt::TestComponentCounts()) {
                if (m.comps && comps != m.comps)
                    continue;
                // Depth of the counted samples and length of the arrays.
                uint32_t bits = su.bits, histBits = su.histBits;
                if (m.fam == Fam::Div && m.srcBytes == 4) {
                    bits += 12;  // 20..28-bit sources
                    histBits += 4;
                }
                const bool word = m.srcBytes == 2 && m.fam != Fam::Div;
                const uint32_t arrayBits = m.fam == Fam::Div ? histBits : m.srcBytes == 1 ? 8 : std::min(bits, 16u);
                const size_t n = size_t(1) << arrayBits;
                const bool hasInt = m.fam == Fam::Int || ((m.fam == Fam::Bin || m.fam == Fam::Bin16) && m.comps != 1);
                const bool hasMask = m.fam == Fam::Bin || m.fam == Fam::Bin16;
                const auto& g = k1t::Geometries()[seed % k1t::Geometries().size()];
                const uint32_t height = g.height + 5;
                // Reduced-depth sources may hold bits above the depth (masked away).
                const TestPicture src = RandomPicture(g.width, height, comps, m.srcBytes, ~0ull, seed++);
                const TestPicture mask = RandomPicture(g.width, height, 1, m.fam == Fam::Bin16 ? 2 : 1, 0, seed++);
                TestPicture maskPic = mask;
                std::mt19937 rng(seed);
                for (uint32_t r = 0; r < height; ++r)
                    for (uint32_t x = 0; x < g.width; ++x)
                        maskPic.put(r, x, rng() % 3 ? 0 : (m.fam == Fam::Bin16 ? 0x100 : 1) * (1 + rng() % 200));
                const uint32_t count = g.width * height + g.extra;
                SCOPED_TRACE(std::string(m.name) + " comps " + std::to_string(comps) + " cw " + std::to_string(su.cw) +
                             " bits " + std::to_string(bits) + " steps " + std::to_string(su.ps) + "/" +
                             std::to_string(su.rs));
                // Reference counts.
                const uint32_t nc = comps;
                std::vector<Counters> want, start;
                for (uint32_t k = 0; k < nc; ++k)
                    want.emplace_back(n, su.cw, seed + k);
                Counters wantInt(n, su.cw, seed + 99);
                start = want;
                const Counters startInt = wantInt;
                const uint64_t vmask = word ? (bits >= 16 ? 0xFFFF : (1u << bits) - 1)
                                            : m.fam == Fam::Div ? ((uint64_t(1) << bits) - 1) : 0xFF;
                const unsigned shift = m.fam == Fam::Div ? bits - histBits : 0;
                const size_t ps = su.ps ? su.ps : 1, rs = su.rs ? su.rs : 1;
                for (size_t r = 0; r < height; r += rs)
                    for (size_t x = 0; x < g.width; x += ps) {
                        if (hasMask && maskPic.get(r, x) == 0)
                            continue;
                        uint64_t sum = 0;
                        for (uint32_t k = 0; k < nc; ++k) {
                            const uint64_t v = (src.get(r, x * nc + k) & vmask) >> shift;
                            want[k].add(v);
                            sum += v;
                        }
                        if (hasInt)
                            wantInt.add(sum / nc);
                    }
                ExpectCountsOnEveryIsa(m,
                                       Args{nullptr, nullptr, su.cw, src.data(), comps, src.rowBytes, maskPic.data(),
                                            maskPic.rowBytes, su.ps, su.rs, bits, histBits, g.width, count},
                                       start, startInt, want, hasInt ? wantInt : startInt);
            }
}

// The byte members with 1, 3 or 4 components keep private counters narrower
// than the caller's: pictures of more than 65535 counted pixels whose
// samples repeat (one value, or every value in turn) must still give exact
// counts, with a row longer than 65535 pixels, odd widths, padded rows and
// steps; counters start near their wrap so the sums are checked at width.
TEST(KzHistogram, BytePathsCountPastSixteenBits)
{
    enum class Fill { One, EveryValue, Random };
    struct Case {
        const char* what;
        uint32_t width, height, ps, rs;
        Fill fill;
    } cases[] = {
        {"one row of 70001 pixels, one value", 70001, 1, 1, 1, Fill::One},
        {"one row of 140001 pixels, pixel step 2", 140001, 1, 2, 1, Fill::One},
        {"300 rows of 257, one value", 257, 300, 1, 1, Fill::One},
        {"2100 rows of 33, every value", 33, 2100, 1, 1, Fill::EveryValue},
        {"260 rows of 511, row step 2, pixel step 3", 511, 260, 3, 2, Fill::EveryValue},
        {"400 rows of 255, random", 255, 400, 1, 1, Fill::Random},
    };
    const Member members[] = {
        {"gethistogram_1x8", Fam::Plain, 1, 1},  {"gethistogram_3x8", Fam::Plain, 1, 3},
        {"gethistogram_4x8", Fam::Plain, 1, 4},  {"gethistogramint_3x8", Fam::Int, 1, 3},
        {"gethistogramint_4x8", Fam::Int, 1, 4},
    };
    uint32_t seed = 12000;
    for (const Case& c : cases)
        for (const Member& m : members)
            for (uint32_t cw : {4u, 8u}) {
                SCOPED_TRACE(std::string(c.what) + ", " + m.name + " cw " + std::to_string(cw));
                const uint32_t nc = m.comps;
                TestPicture src = RandomPicture(c.width, c.height, nc, 1, 0xFF, seed++);
                for (uint32_t r = 0; r < c.height; ++r)
                    for (uint32_t x = 0; x < c.width; ++x)
                        for (uint32_t k = 0; k < nc; ++k) {
                            if (c.fill == Fill::One)
                                src.put(r, x * nc + k, 200 + 17 * k);
                            else if (c.fill == Fill::EveryValue)
                                src.put(r, x * nc + k, (x + 7 * r + 61 * k) & 0xFF);
                        }
                std::vector<Counters> want;
                for (uint32_t k = 0; k < nc; ++k)
                    want.emplace_back(256, cw, seed + k);
                Counters wantInt(256, cw, seed + 50);
                const auto start = want;
                const Counters startInt = wantInt;
                const bool hasInt = m.fam == Fam::Int;
                for (size_t r = 0; r < c.height; r += c.rs)
                    for (size_t x = 0; x < c.width; x += c.ps) {
                        uint32_t sum = 0;
                        for (uint32_t k = 0; k < nc; ++k) {
                            const uint64_t v = src.get(r, x * nc + k);
                            want[k].add(v);
                            sum += uint32_t(v);
                        }
                        if (hasInt)
                            wantInt.add(sum / nc);
                    }
                ExpectCountsOnEveryIsa(m,
                                       Args{nullptr, nullptr, cw, src.data(), nc, src.rowBytes, nullptr, 0, c.ps, c.rs,
                                            8, 8, c.width, c.width * c.height},
                                       start, startInt, want, hasInt ? wantInt : startInt);
            }
}

TEST(KzHistogram, CounterWidthDepthAndRowRules)
{
    const TestPicture src8 = RandomPicture(5, 3, 5, 1, ~0ull, 1);
    const TestPicture src16 = RandomPicture(5, 3, 5, 2, ~0ull, 2);
    const TestPicture src32 = RandomPicture(5, 3, 5, 4, ~0ull, 3);
    const TestPicture mask = RandomPicture(5, 3, 1, 2, ~0ull, 4);
    for (const Member& m : Members()) {
        SCOPED_TRACE(m.name);
        const TestPicture& src = m.srcBytes == 1 ? src8 : m.srcBytes == 2 ? src16 : src32;
        std::vector<Counters> arrays(5, Counters(65536, 8, 5));
        Counters inten(65536, 8, 6);
        const auto before = arrays;
        const auto beforeInt = inten;
        std::vector<void*> set;
        for (auto& c : arrays)
            set.push_back(c.data());
        const uint32_t bits = m.srcBytes == 4 ? 20 : 12;
        const Args base{set.data(), inten.data(), 8, src.data(), 5, src.rowBytes, mask.data(), mask.rowBytes,
                        1, 1, bits, 8, 5, 15};
        struct Case {
            const char* what;
            uint32_t cw, count, histBits, nComp;
            int want;
        } cases[] = {
            {"counter width 5 with rows", 5, 15, 8, 5, -2},
            {"counter width 5, count below width", 5, 4, 8, 5, 0},
            {"count 0", 2, 0, 8, 5, 0},
            {"histogram bits above source bits", 8, 15, bits + 1, 5, m.fam == Fam::Div ? -4 : 0},
            {"no components with intensity", 8, 15, 8, 0,
             (m.comps == 0 && (m.fam == Fam::Int || m.fam == Fam::Bin || m.fam == Fam::Bin16)) ? -4 : 0},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            Args a = base;
            a.cw = c.cw;
            a.count = c.count;
            a.histBits = c.histBits;
            a.nComp = c.nComp;
            const int rc = Call(m, a);
            EXPECT_EQ(rc, c.want);
            if (rc != 0 || c.count < 5) {
                for (size_t k = 0; k < arrays.size(); ++k)
                    EXPECT_EQ(arrays[k].bytes, before[k].bytes);
                EXPECT_EQ(inten.bytes, beforeInt.bytes);
            }
            arrays = before;
            inten = beforeInt;
        }
        if (m.fam == Fam::Div) {
            Args a = base;
            a.bits = m.srcBytes * 8 + 1;  // source depth above the container
            EXPECT_EQ(Call(m, a), -4);
        }
    }
}

TEST(KzHistogram, EdgeCases)
{
    // Row step 3 on 7 rows counts rows 0, 3, 6; row step 10 only row 0; pixel
    // step 4 on 10 pixels counts 0, 4, 8.
    std::vector<uint8_t> pic(7 * 10);
    for (size_t r = 0; r < 7; ++r)
        for (size_t x = 0; x < 10; ++x)
            pic[r * 10 + x] = uint8_t(r * 10 + x);
    auto counted = [&](uint32_t ps, uint32_t rs) {
        std::vector<uint32_t> h(256, 0);
        EXPECT_EQ(gethistogram_1x8(h.data(), 4, pic.data(), 10, ps, rs, 10, 70), 0);
        std::vector<int> v;
        for (int i = 0; i < 256; ++i)
            if (h[i])
                v.push_back(i);
        return v;
    };
    EXPECT_EQ(counted(10, 3), (std::vector<int>{0, 30, 60}));
    EXPECT_EQ(counted(10, 10), (std::vector<int>{0}));
    EXPECT_EQ(counted(4, 10), (std::vector<int>{0, 4, 8}));

    std::vector<uint32_t> h(65536, 0);
    const uint16_t s3ff = 0x3FF;
    gethistogram_1x16(h.data(), 4, &s3ff, 2, 1, 1, 9, 1, 1);
    EXPECT_EQ(h[0x1FF], 1u);
    gethistogram_1x16(h.data(), 4, &s3ff, 2, 1, 1, 16, 1, 1);
    EXPECT_EQ(h[0x3FF], 1u);

    std::vector<uint32_t> a0(256), a1(256), a2(256), in(256);
    void* set[3] = {a0.data(), a1.data(), a2.data()};
    const uint8_t px[6] = {10, 11, 13, 255, 255, 254};
    EXPECT_EQ(gethistogramint_3x8(set, in.data(), 4, px, 6, 1, 1, 1, 1), 0);
    EXPECT_EQ(a0[10] + a1[11] + a2[13] + in[11], 4u);
    EXPECT_EQ(gethistogramint_3x8(set, in.data(), 4, px + 3, 6, 1, 1, 1, 1), 0);
    EXPECT_EQ(in[254], 1u);

    std::vector<uint64_t> b[4], bi(4096);
    void* set4[4];
    for (int k = 0; k < 4; ++k) {
        b[k].assign(4096, 0);
        set4[k] = b[k].data();
    }
    const uint16_t px4[4] = {0x1FFF, 0x0FFF, 0x0FFF, 0x0FFF};
    EXPECT_EQ(gethistogramint_4x16(set4, bi.data(), 8, px4, 8, 1, 1, 12, 1, 1), 0);
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(b[k][0xFFF], 1u);
    EXPECT_EQ(bi[0xFFF], 1u);

    std::vector<uint32_t> d(256, 0);
    const uint16_t abc = 0xABC;
    EXPECT_EQ(gethistogramdiv_1x16(d.data(), 4, 8, &abc, 2, 1, 1, 12, 1, 1), 0);
    EXPECT_EQ(d[0xAB], 1u);
    // Bits above the source depth are masked before the shift.
    const uint16_t hostile = 0xFABC;
    EXPECT_EQ(gethistogramdiv_1x16(d.data(), 4, 8, &hostile, 2, 1, 1, 12, 1, 1), 0);
    EXPECT_EQ(d[0xAB], 2u);
    // A one-counter histogram of 32-bit samples: every sample lands in counter 0.
    const uint32_t big[3] = {0xFFFFFFFFu, 0, 0x80000000u};
    uint64_t one = 0;
    EXPECT_EQ(gethistogramdiv_1x32(&one, 8, 0, big, 12, 1, 1, 32, 3, 3), 0);
    EXPECT_EQ(one, 3u);
}

TEST(KzHistogram, JointMatchesReference)
{
    uint32_t seed = 9000;
    for (int word = 0; word < 2; ++word)
        for (int masked = 0; masked < 2; ++masked)
            for (uint32_t cw : {4u, 8u})
                for (uint32_t bits : word ? std::vector<uint32_t>{8, 12, 16} : std::vector<uint32_t>{3, 8, 12})
                    for (uint32_t comps : kzt::TestComponentCounts()) {
                        const uint32_t a = comps - 1, b = comps / 2;
                        const auto& g = k1t::Geometries()[seed % k1t::Geometries().size()];
                        const TestPicture src = RandomPicture(g.width, g.height, comps, word ? 2 : 1, ~0ull, seed++);
                        TestPicture mask = RandomPicture(g.width, g.height, 1, 1, ~0ull, seed++);
                        const size_t n = word ? 65536 : 255 * (size_t(1) << bits) + 256;
                        Counters want(n, cw, seed), got = want;
                        const uint64_t vmask = bits >= 16 ? 0xFFFF : (1u << bits) - 1;
                        for (size_t r = 0; r < g.height; ++r)
                            for (size_t x = 0; x < g.width; ++x) {
                                if (masked && mask.get(r, x) == 0)
                                    continue;
                                uint64_t va = src.get(r, x * comps + a), vb = src.get(r, x * comps + b);
                                if (word) {
                                    va = (va & vmask) >> (bits - 8);
                                    vb = (vb & vmask) >> (bits - 8);
                                    want.add(va * 256 + vb);
                                } else {
                                    want.add((va << bits) + vb);
                                }
                            }
                        const uint32_t count = g.width * g.height + g.extra;
                        int rc;
                        if (word)
                            rc = masked ? gethistogram2d_16_under_mask(got.data(), cw, src.data(), src.rowBytes, comps, bits, a, b, mask.data(), mask.rowBytes, nullptr, nullptr, g.width, count)
                                        : gethistogram2d_16(got.data(), cw, src.data(), src.rowBytes, comps, bits, a, b, nullptr, nullptr, g.width, count);
                        else
                            rc = masked ? gethistogram2d_8_under_mask(got.data(), cw, src.data(), src.rowBytes, comps, bits, a, b, mask.data(), mask.rowBytes, nullptr, nullptr, g.width, count)
                                        : gethistogram2d_8(got.data(), cw, src.data(), src.rowBytes, comps, bits, a, b, nullptr, nullptr, g.width, count);
                        EXPECT_EQ(rc, 0);
                        EXPECT_EQ(got.bytes, want.bytes) << "word " << word << " bits " << bits << " comps " << comps;
                    }
}

TEST(KzHistogram, JointEdgeCasesAndHostileArguments)
{
    std::vector<uint32_t> h(65536, 0);
    const uint8_t p8[2] = {3, 200};
    EXPECT_EQ(gethistogram2d_8(h.data(), 4, p8, 2, 2, 8, 0, 1, nullptr, nullptr, 1, 1), 0);
    EXPECT_EQ(h[968], 1u);
    const uint16_t p16[2] = {0x0ABC, 0x0123};
    EXPECT_EQ(gethistogram2d_16(h.data(), 4, p16, 4, 2, 12, 0, 1, nullptr, nullptr, 1, 1), 0);
    EXPECT_EQ(h[0xAB * 256 + 0x12], 1u);
    const std::vector<uint32_t> before = h;
    struct Case {
        const char* what;
        int word;
        uint32_t cw, bits, a, b, count;
        int want;
    } cases[] = {
        {"index a past the count", 0, 4, 8, 2, 0, 1, -4},
        {"index b past the count", 1, 4, 12, 0, 7, 1, -4},
        {"byte depth above 16", 0, 4, 17, 0, 1, 1, -4},
        {"word depth below 8", 1, 4, 7, 0, 1, 1, -4},
        {"word depth above 16", 1, 4, 17, 0, 1, 1, -4},
        {"counter width 3 counts nothing", 0, 3, 8, 0, 1, 1, 0},
        {"no row, bad index", 1, 4, 12, 9, 9, 0, 0},
    };
    for (const Case& c : cases) {
        const int rc = c.word ? gethistogram2d_16(h.data(), c.cw, p16, 4, 2, c.bits, c.a, c.b, nullptr, nullptr, 1, c.count)
                              : gethistogram2d_8(h.data(), c.cw, p8, 2, 2, c.bits, c.a, c.b, nullptr, nullptr, 1, c.count);
        EXPECT_EQ(rc, c.want) << c.what;
        EXPECT_EQ(h, before) << c.what;
    }
}

TEST(KzHistogram, AddMatchesReference)
{
    for (uint32_t cw : {4u, 8u})
        for (uint32_t bits : {0u, 8u, 12u})
            for (int32_t comps : {-1, 0, 1, 3, 5}) {
                const size_t n = size_t(1) << bits;
                const size_t nc = comps > 0 ? size_t(comps) : 0;
                std::vector<Counters> src, dst;
                for (size_t k = 0; k < 5; ++k) {
                    src.emplace_back(n, cw, 10 + k);
                    dst.emplace_back(n, cw, 20 + k);
                }
                Counters srcI(n, cw, 30), dstI(n, cw, 31);
                std::vector<const void*> sset;
                std::vector<void*> dset;
                for (size_t k = 0; k < 5; ++k) {
                    sset.push_back(src[k].data());
                    dset.push_back(dst[k].data());
                }
                auto wantD = dst;
                auto wantI = dstI;
                for (size_t i = 0; i < n; ++i) {
                    wantI.set(i, dstI.get(i) + srcI.get(i));
                    for (size_t k = 0; k < nc; ++k)
                        wantD[k].set(i, dst[k].get(i) + src[k].get(i));
                }
                EXPECT_EQ(histo_add(srcI.data(), sset.data(), dstI.data(), dset.data(), bits, comps, cw), 0);
                EXPECT_EQ(dstI.bytes, wantI.bytes);
                for (size_t k = 0; k < 5; ++k)
                    EXPECT_EQ(dst[k].bytes, wantD[k].bytes) << "cw " << cw << " bits " << bits << " comps " << comps;
            }
    // A one-component histogram whose set entry 0 is its intensity array adds
    // the intensity once and leaves the destination set alone.
    Counters one(256, 4, 1), dstI(256, 4, 2), dstC(256, 4, 3);
    const Counters dstC0 = dstC;
    const void* sset[1] = {one.data()};
    void* dset[1] = {dstC.data()};
    Counters want = dstI;
    for (size_t i = 0; i < 256; ++i)
        want.set(i, dstI.get(i) + one.get(i));
    EXPECT_EQ(histo_add(one.data(), sset, dstI.data(), dset, 8, 1, 4), 0);
    EXPECT_EQ(dstI.bytes, want.bytes);
    EXPECT_EQ(dstC.bytes, dstC0.bytes);
    // Counter width 2 and bits above 32 change nothing.
    const Counters keep = dstI;
    EXPECT_EQ(histo_add(one.data(), sset, dstI.data(), dset, 8, 1, 2), 0);
    EXPECT_EQ(histo_add(one.data(), nullptr, dstI.data(), dset, 40, 1, 4), 0);
    EXPECT_EQ(dstI.bytes, keep.bytes);
}

// ---------------------------------------------------------------------------
// Repair
// ---------------------------------------------------------------------------

TEST(KzHistogramRepair, CombTest)
{
    struct Case {
        const char* what;
        uint32_t bits;
        std::function<uint64_t(size_t)> fill;
        uint8_t want;
    } cases[] = {
        {"8-bit, every other bin", 8, [](size_t i) { return i % 2 ? 0 : 5; }, 0},
        {"12-bit, every fourth bin", 12, [](size_t i) { return i % 4 ? 0 : 1; }, 1},
        {"12-bit, every fourth bin and one adjacent pair", 12, [](size_t i) { return (i % 4 == 0 || i == 801) ? 1 : 0; }, 0},
        {"192 isolated bins", 12, [](size_t i) { return (i % 2 == 0 && i < 384) ? 3 : 0; }, 1},
        {"191 isolated bins", 12, [](size_t i) { return (i % 2 == 0 && i < 382) ? 3 : 0; }, 0},
        {"empty", 12, [](size_t) { return 0; }, 0},
        {"huge counters count as filled", 10, [](size_t i) { return i % 3 ? 0 : ~uint64_t(0); }, 1},
    };
    for (uint32_t cw : {4u, 8u})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " cw " + std::to_string(cw));
            const size_t n = size_t(1) << c.bits;
            Counters h(n, cw, 0);
            for (size_t i = 0; i < n; ++i)
                h.set(i, c.fill(i));
            uint8_t flag = 9;
            EXPECT_EQ(needtorepairhistogram_1(&flag, h.data(), int(cw), c.bits), 0);
            EXPECT_EQ(flag, c.want);
            // The multi-array members test each array on its own.
            Counters flat(n, cw, 0);
            for (size_t i = 0; i < n; ++i)
                flat.set(i, i < 300 ? 1 : 0);
            const void* set[5] = {h.data(), flat.data(), h.data(), flat.data(), h.data()};
            uint8_t flags[6] = {9, 9, 9, 9, 9, 9};
            EXPECT_EQ(needtorepairhistogramint_3(flags, set, nullptr, int(cw), c.bits), 0);
            EXPECT_EQ(flags[0], c.want);
            EXPECT_EQ(flags[1], 0);
            EXPECT_EQ(flags[2], c.want);
            EXPECT_EQ(flags[3], 9);
            EXPECT_EQ(needtorepairhistogramint_4(flags, set, nullptr, int(cw), c.bits), 0);
            EXPECT_EQ(flags[3], 0);
            EXPECT_EQ(flags[4], 9);
            EXPECT_EQ(needtorepairhistogramint_N(flags, set, nullptr, int(cw), 5, c.bits), 0);
            EXPECT_EQ(flags[4], c.want);
            EXPECT_EQ(flags[5], 9);
        }
    uint8_t flags[2] = {7, 7};
    const void* none[1] = {nullptr};
    EXPECT_EQ(needtorepairhistogramint_N(flags, none, nullptr, 4, 0, 12), 0);
    EXPECT_EQ(needtorepairhistogramint_N(flags, none, nullptr, 5, 3, 12), -9);
    EXPECT_EQ(needtorepairhistogram_1(flags, nullptr, 8, 33), -9);
    EXPECT_EQ(flags[0], 7);
}

TEST(KzHistogramRepair, GapFilling)
{
    struct Case {
        const char* what;
        std::vector<std::pair<size_t, uint64_t>> set;
        std::vector<std::pair<size_t, uint64_t>> want;  // every other bin keeps its value
    } cases[] = {
        {"rising", {{4, 100}, {8, 200}}, {{5, 125}, {6, 150}, {7, 175}}},
        {"round half up", {{2, 10}, {5, 20}}, {{3, 13}, {4, 17}}},
        {"falling", {{2, 20}, {5, 10}}, {{3, 17}, {4, 13}}},
        {"single bin", {{7, 5}}, {}},
        {"empty", {}, {}},
        {"adjacent bins and edges untouched", {{0, 1}, {1, 9}, {3, 5}, {9, 5}}, {{2, 7}, {4, 5}, {5, 5}, {6, 5}, {7, 5}, {8, 5}}},
        {"32-bit extremes do not wrap", {{1, 0xFFFFFFFFu}, {3, 1}}, {{2, 2147483648u}}},
    };
    for (uint32_t cw : {4u, 8u})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " cw " + std::to_string(cw));
            Counters h(256, cw, 0);
            for (size_t i = 0; i < 256; ++i)
                h.set(i, 0);
            for (auto [i, v] : c.set)
                h.set(i, v);
            Counters want = h;
            for (auto [i, v] : c.want)
                want.set(i, v);
            EXPECT_EQ(repairhistocomp_1(h.data(), int(cw), 8), 0);
            EXPECT_EQ(h.bytes, want.bytes);
        }
    // 64-bit counters near the top saturate instead of wrapping.
    Counters big(16, 8, 0);
    for (size_t i = 0; i < 16; ++i)
        big.set(i, 0);
    big.set(0, ~uint64_t(0));
    big.set(2, ~uint64_t(0) - 1);
    EXPECT_EQ(repairhistocomp_1(big.data(), 8, 4), 0);
    EXPECT_EQ(big.get(1), ~uint64_t(0));
    // The set member repairs only the array at the index; width 5 writes nothing.
    Counters a(16, 4, 0), b(16, 4, 0);
    for (size_t i = 0; i < 16; ++i) {
        a.set(i, i % 4 ? 0 : 40);
        b.set(i, i % 4 ? 0 : 40);
    }
    const Counters a0 = a, b0 = b;
    void* set[2] = {a.data(), b.data()};
    EXPECT_EQ(repairhistocomp_N(set, nullptr, 1, 5, 4), -9);
    EXPECT_EQ(b.bytes, b0.bytes);
    EXPECT_EQ(repairhistocomp_N(set, nullptr, 1, 4, 4), 0);
    EXPECT_EQ(a.bytes, a0.bytes);
    EXPECT_EQ(b.get(1), 40u);
    EXPECT_EQ(repairhistocomp_1(a.data(), 4, 40), -9);
    EXPECT_EQ(a.bytes, a0.bytes);
}
