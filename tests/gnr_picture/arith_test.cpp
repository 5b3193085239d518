// Picture arithmetic: depth and component changes, constant fill, constant
// operations and the two-picture operations across 8 and 9..16-bit depths.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Pic {
    SKzPicBuf p;
    Pic(unsigned w, unsigned h, unsigned bits, unsigned comps, uint32_t seed = 0)
    {
        CKzPicBufAPI::Init(&p);
        EXPECT_EQ(CKzPicBufAPI::Reinit(&p, w, h, 0, bits, comps, true), 0);
        uint32_t x = seed * 2654435761u + 1;
        const uint32_t m = bits >= 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
        for (unsigned y = 0; y < h; ++y)
            for (unsigned i = 0; i < w * comps; ++i) {
                x = x * 1664525u + 1013904223u;
                set(y, i, (x >> 8) & m);
            }
    }
    ~Pic() { CKzPicBufAPI::Free(&p); }
    uint32_t get(unsigned y, unsigned i) const
    {
        const uint8_t* row = p.pData + size_t(y) * p.uiWidthBytes;
        if (p.uiBpc <= 8)
            return row[i];
        if (p.uiBpc <= 16)
            return reinterpret_cast<const uint16_t*>(row)[i];
        return reinterpret_cast<const uint32_t*>(row)[i];
    }
    void set(unsigned y, unsigned i, uint32_t v)
    {
        uint8_t* row = p.pData + size_t(y) * p.uiWidthBytes;
        if (p.uiBpc <= 8)
            row[i] = uint8_t(v);
        else if (p.uiBpc <= 16)
            reinterpret_cast<uint16_t*>(row)[i] = uint16_t(v);
        else
            reinterpret_cast<uint32_t*>(row)[i] = v;
    }
    std::vector<uint8_t> bytes() const { return std::vector<uint8_t>(p.pData, p.pData + p.uiSize); }
};

using TwoFn = std::function<kz_result(SKzPicBuf*, SKzPicBuf*, SKzPicBuf*)>;

// Rescaling of a result between source depth ds and destination depth dd.
uint64_t Rescale(uint64_t r, unsigned ds, unsigned dd)
{
    const uint64_t top = (uint64_t(1) << dd) - 1;
    if (ds == 8 && dd == 8)
        return r > 255 ? 255 : r;
    if (dd == 8)
        return std::min<uint64_t>(r >> (ds - 8), 255);
    if (ds == 8)
        return std::min<uint64_t>(r << (dd - 8), top);
    return std::min<uint64_t>(r, top);
}

TEST(Arith, TwoPictureOperationsAcrossDepths)
{
    struct Op {
        const char* name;
        TwoFn fn;
        std::function<int64_t(int64_t, int64_t)> ref;
    } ops[] = {
        {"MinComp", CKzPicBufAPI::MinComp, [](int64_t a, int64_t b) { return std::min(a, b); }},
        {"MaxComp", CKzPicBufAPI::MaxComp, [](int64_t a, int64_t b) { return std::max(a, b); }},
        {"AbsDif", [](SKzPicBuf* d, SKzPicBuf* a, SKzPicBuf* b) { return CKzPicBufAPI::AbsDif(d, a, b); },
         [](int64_t a, int64_t b) { return a > b ? a - b : b - a; }},
        {"Addition", CKzPicBufAPI::Addition, [](int64_t a, int64_t b) { return a + b; }},
        {"Subtract", [](SKzPicBuf* d, SKzPicBuf* a, SKzPicBuf* b) { return CKzPicBufAPI::Subtract(d, a, b, 0); },
         [](int64_t a, int64_t b) { return std::max<int64_t>(a - b, 0); }},
        {"SubtractReverse",
         [](SKzPicBuf* d, SKzPicBuf* a, SKzPicBuf* b) { return CKzPicBufAPI::Subtract(d, a, b, 1); },
         [](int64_t a, int64_t b) { return std::max<int64_t>(b - a, 0); }},
    };
    const unsigned depths[] = {8, 12, 16, 20, 24};
    for (const Op& op : ops)
        for (unsigned ds : depths)
            for (unsigned dd : depths) {
                SCOPED_TRACE(std::string(op.name) + " " + std::to_string(ds) + "->" + std::to_string(dd));
                // Different sizes and counts: the overlap is 7 x 4 x 3.
                Pic a(9, 4, ds, 3, 1), b(7, 6, ds, 4, 2), d(8, 5, dd, 5, 3);
                const std::vector<uint8_t> before = d.bytes();
                const int want = (ds > 16 || dd > 16) ? -2 : 0;
                ASSERT_EQ(op.fn(&d.p, &a.p, &b.p), want);
                if (want != 0) {
                    EXPECT_EQ(d.bytes(), before);
                    continue;
                }
                Pic ref(8, 5, dd, 5, 3);
                for (unsigned y = 0; y < 4; ++y)
                    for (unsigned x = 0; x < 7; ++x)
                        for (unsigned k = 0; k < 3; ++k)
                            ref.set(y, x * 5 + k,
                                    uint32_t(Rescale(uint64_t(op.ref(a.get(y, x * 3 + k), b.get(y, x * 4 + k))), ds, dd)));
                ASSERT_EQ(d.bytes(), ref.bytes());
            }
}

TEST(Arith, StatedTwoPictureCases)
{
    Pic a(1, 1, 12, 1), b(1, 1, 12, 1), d12(1, 1, 12, 1), d8(1, 1, 8, 1);
    a.set(0, 0, 4000);
    b.set(0, 0, 4000);
    ASSERT_EQ(CKzPicBufAPI::Addition(&d8.p, &a.p, &b.p), 0);
    EXPECT_EQ(d8.get(0, 0), 255u);
    ASSERT_EQ(CKzPicBufAPI::Addition(&d12.p, &a.p, &b.p), 0);
    EXPECT_EQ(d12.get(0, 0), 4095u);
    b.set(0, 0, 100);
    ASSERT_EQ(CKzPicBufAPI::AbsDif(&d8.p, &b.p, &a.p), 0);
    EXPECT_EQ(d8.get(0, 0), 3900u / 16);
    Pic x(1, 1, 8, 1), y(1, 1, 8, 1), z(1, 1, 8, 1);
    x.set(0, 0, 10);
    y.set(0, 0, 20);
    ASSERT_EQ(CKzPicBufAPI::Subtract(&z.p, &x.p, &y.p, 0), 0);
    EXPECT_EQ(z.get(0, 0), 0u);
    ASSERT_EQ(CKzPicBufAPI::Subtract(&z.p, &x.p, &y.p, 1), 0);
    EXPECT_EQ(z.get(0, 0), 10u);
    // Refusals.
    Pic low(1, 1, 7, 1);
    EXPECT_EQ(CKzPicBufAPI::MinComp(&z.p, &x.p, &a.p), -9);  // source bits differ
    EXPECT_EQ(CKzPicBufAPI::MinComp(&z.p, &low.p, &low.p), -9);
    EXPECT_EQ(CKzPicBufAPI::MinComp(&low.p, &x.p, &y.p), -9);
    EXPECT_EQ(CKzPicBufAPI::MaxComp(nullptr, &x.p, &y.p), -9);
}

TEST(Arith, WeightedAndMasked)
{
    Pic a(3, 1, 8, 1), b(3, 1, 8, 1), d(3, 1, 8, 1);
    const uint32_t av[3] = {100, 7, 255}, bv[3] = {201, 9, 0};
    for (unsigned i = 0; i < 3; ++i) {
        a.set(0, i, av[i]);
        b.set(0, i, bv[i]);
    }
    struct Case {
        int percent;
        uint32_t want[3];
    } cases[] = {{100, {100, 7, 255}}, {0, {201, 9, 0}}, {50, {150, 8, 127}}, {25, {175, 8, 63}}};
    for (const Case& c : cases) {
        ASSERT_EQ(CKzPicBufAPI::WeightedAddition(&d.p, &a.p, &b.p, c.percent), 0);
        for (unsigned i = 0; i < 3; ++i) {
            const uint32_t ref = (av[i] * c.percent / 50 + bv[i] * (100 - c.percent) / 50) / 2;
            EXPECT_EQ(d.get(0, i), ref) << c.percent;
            EXPECT_EQ(ref, c.want[i]);
        }
    }
    EXPECT_EQ(CKzPicBufAPI::WeightedAddition(&d.p, &a.p, &b.p, 101), -4);
    EXPECT_EQ(CKzPicBufAPI::WeightedAddition(&d.p, &a.p, &b.p, -1), -4);
    Pic wide(3, 1, 12, 1);
    EXPECT_EQ(CKzPicBufAPI::WeightedAddition(&wide.p, &a.p, &b.p, 50), -9);
    // Masks: pixel 0 both set, 1 only maskB, 2 only maskA.
    Pic ma(3, 1, 8, 1), mb(3, 1, 8, 1);
    const uint32_t mav[3] = {1, 0, 9}, mbv[3] = {2, 3, 0};
    for (unsigned i = 0; i < 3; ++i) {
        ma.set(0, i, mav[i]);
        mb.set(0, i, mbv[i]);
    }
    ASSERT_EQ(CKzPicBufAPI::AbsDif(&d.p, &a.p, &ma.p, &b.p, &mb.p), 0);
    EXPECT_EQ(d.get(0, 0), 101u);
    EXPECT_EQ(d.get(0, 1), 9u);
    EXPECT_EQ(d.get(0, 2), 255u);
    ASSERT_EQ(CKzPicBufAPI::WeightedAddition(&d.p, &a.p, &ma.p, &b.p, &mb.p, 50), 0);
    EXPECT_EQ(d.get(0, 0), 150u);
    EXPECT_EQ(d.get(0, 1), 9u);
    EXPECT_EQ(d.get(0, 2), 255u);
    ASSERT_EQ(CKzPicBufAPI::AbsDif(&d.p, &a.p, nullptr, &b.p, nullptr), 0);  // null masks: set everywhere
    EXPECT_EQ(d.get(0, 1), 2u);
    // A mask that is not 8-bit or does not cover the overlap: -9.
    Pic small(2, 1, 8, 1), deep(3, 1, 16, 1);
    EXPECT_EQ(CKzPicBufAPI::AbsDif(&d.p, &a.p, &small.p, &b.p, nullptr), -9);
    EXPECT_EQ(CKzPicBufAPI::WeightedAddition(&d.p, &a.p, nullptr, &b.p, &deep.p, 50), -9);
}

TEST(Arith, ConstantOperationsPassTheDispatchCode)
{
    int add[5] = {10, -10, 300, 0, 5};
    unsigned mm[5] = {100, 4000, 70000, 0, 5};
    double mul[5] = {2, 0.5, 1, 1, 1};
    for (unsigned bits : {8u, 12u, 16u, 20u})
        for (unsigned comps : {1u, 3u, 5u}) {
            SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(comps) + " comps");
            Pic s(6, 3, bits, comps, 4), d(6, 3, bits, comps, 5);
            const int want = bits > 16 ? -2 : 0;
            const uint32_t top = (1u << bits) - 1;
            EXPECT_EQ(CKzPicBufAPI::AddConst(&d.p, &s.p, add), want);
            if (want == 0)
                EXPECT_EQ(d.get(2, comps * 5), std::min<uint32_t>(s.get(2, comps * 5) + 10, top));
            EXPECT_EQ(CKzPicBufAPI::MaxConst(&d.p, &s.p, mm), want);
            if (want == 0 && comps > 1)
                EXPECT_EQ(d.get(1, 1), std::max<uint32_t>(s.get(1, 1), bits == 8 ? 4000 % 256 : 4000) & top);
            EXPECT_EQ(CKzPicBufAPI::MultConst(&d.p, &s.p, mul), want);
            EXPECT_EQ(CKzPicBufAPI::DivConst(&d.p, &s.p, mul), bits == 20 ? 0 : want);  // 17..32 bits divide too
            // In place.
            EXPECT_EQ(CKzPicBufAPI::SubConst(&s.p, &s.p, add), want);
        }
    Pic a(4, 4, 8, 3), b(4, 4, 8, 1);
    EXPECT_EQ(CKzPicBufAPI::AddConstRotate(&a.p, &b.p, nullptr), -9);
    EXPECT_EQ(CKzPicBufAPI::MinConst(&a.p, &b.p, mm), -9);
}

TEST(Arith, AssignConst)
{
    Pic p8(5, 2, 8, 3), p12(5, 2, 12, 4), p20(5, 2, 20, 1);
    unsigned v[4] = {300, 2, 0x12345, 7};
    ASSERT_EQ(CKzPicBufAPI::AssignConst(&p8.p, v), 0);
    for (unsigned i = 0; i < 15; ++i)
        EXPECT_EQ(p8.get(1, i), v[i % 3] & 0xFF);
    ASSERT_EQ(CKzPicBufAPI::AssignConst(&p12.p, v), 0);
    for (unsigned i = 0; i < 20; ++i)
        EXPECT_EQ(p12.get(0, i), v[i % 4] & 0xFFFF);
    EXPECT_EQ(CKzPicBufAPI::AssignConst(&p20.p, v), -2);
    EXPECT_EQ(CKzPicBufAPI::AssignConst(&p8.p, nullptr), -9);
    EXPECT_EQ(CKzPicBufAPI::AssignConst(nullptr, v), -9);
}

TEST(Arith, ConvertBpcAndComp)
{
    if (!kKzPicHaveDepth)
        GTEST_SKIP() << "shift kernels not built yet";
    {  // 3-component 12-bit to one 8-bit component: the mean of the shifted samples.
        Pic p(7, 3, 12, 3, 9);
        Pic copy(7, 3, 12, 3, 9);
        ASSERT_EQ(CKzPicBufAPI::ConvertBpcAndComp(&p.p, 8, 1), 0);
        EXPECT_EQ(p.p.uiBpc, 8u);
        EXPECT_EQ(p.p.uiComp, 1u);
        EXPECT_EQ(p.p.uiWidthBytes, 8u);
        for (unsigned y = 0; y < 3; ++y)
            for (unsigned x = 0; x < 7; ++x) {
                const uint32_t s = (copy.get(y, x * 3) >> 4) + (copy.get(y, x * 3 + 1) >> 4) + (copy.get(y, x * 3 + 2) >> 4);
                EXPECT_EQ(p.get(y, x), (s + 1) / 3) << x << "," << y;
            }
    }
    {  // one component into three, 8 to 16 bits
        Pic p(4, 2, 8, 1, 3), copy(4, 2, 8, 1, 3);
        ASSERT_EQ(CKzPicBufAPI::ConvertBpcAndComp(&p.p, 16, 3), 0);
        for (unsigned x = 0; x < 4; ++x)
            for (unsigned k = 0; k < 3; ++k)
                EXPECT_EQ(p.get(1, x * 3 + k), copy.get(1, x) << 8);
    }
    struct Refused {
        unsigned bits, comps, toBits, toComps;
        int code;
    } refused[] = {
        {8, 4, 8, 2, -2}, {8, 3, 8, 4, -2}, {8, 2, 8, 3, -2}, {20, 1, 8, 1, -2}, {8, 1, 24, 1, -2}, {8, 3, 8, 0, -2},
    };
    for (const Refused& r : refused) {
        Pic p(3, 3, r.bits, r.comps, 1);
        const SKzPicBuf before = p.p;
        const std::vector<uint8_t> bytes = p.bytes();
        EXPECT_EQ(CKzPicBufAPI::ConvertBpcAndComp(&p.p, r.toBits, r.toComps), r.code);
        EXPECT_EQ(std::memcmp(&before, &p.p, sizeof before), 0);
        EXPECT_EQ(p.bytes(), bytes);
    }
    Pic same(3, 3, 12, 3);
    EXPECT_EQ(CKzPicBufAPI::ConvertBpcAndComp(&same.p, 12, 3), 0);
}

} // namespace
