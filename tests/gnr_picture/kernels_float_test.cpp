// Float-picture kernels: fills and copies, integer/float conversion,
// extremes, tone mapping and tiles, against scalar references on padded
// pictures and on every instruction-set path.
#include "gnr_picture/KzKernelsC.h"
#include "kernels_k1_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

using kzt::ExpectSamples;
using kzt::ForEachIsa;
using kzt::RandomPicture;
using kzt::TestPicture;

namespace {

float AsFloat(uint64_t bits)
{
    const uint32_t b = uint32_t(bits);
    float f;
    std::memcpy(&f, &b, 4);
    return f;
}
uint64_t Bits(float f)
{
    uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

// A float picture (4-byte containers) of finite random values in -10..1000.
TestPicture RandomFloats(uint32_t w, uint32_t h, uint32_t comps, uint32_t seed)
{
    TestPicture p = RandomPicture(w, h, comps, 4, ~0ull, seed);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> dist(-10.0f, 1000.0f);
    for (uint32_t r = 0; r < h; ++r)
        for (size_t i = 0; i < p.samplesPerRow(); ++i)
            p.put(r, i, Bits(dist(rng)));
    return p;
}

// The curves written out: Tumblin's rational curve (single-precision
// constants, double quotient) and the adaptive logarithmic curve; NaN or
// negative results give 0, results above M give M.
uint64_t Limit(double y, uint32_t M)
{
    if (!(y >= 0))
        return 0;
    return y > M ? M : uint64_t(y);
}
uint64_t RefTone(float L, float lmin, float lmax, uint32_t M, bool drago)
{
    if (drago) {
        const float c = float(M) / float(std::log10(double(1.0f + lmax)));
        const float t = L * (1.0f / lmax);
        const double y = double(c) * std::log(1.0 + double(L)) / std::log(2.0 + 8.0 * std::pow(double(t), 0.23446525633335114));
        return Limit(double(float(y)), M);
    }
    const float s = 1.0f / std::sqrt(lmin * lmax);
    const float q = (30.0f / float(M)) * lmax / lmin;
    const float p = (0.5f * (L * s - 1.0f) + 1.0f) * q;
    return Limit(double(M) * double(L) * double(p) / ((double(p) - 1.0) * double(L) + double(lmax)), M);
}

} // namespace

TEST(KzFloat, FillsAndCopiesMatchReference)
{
    uint32_t seed = 10;
    for (uint32_t comps : kzt::TestComponentCounts())
        for (const auto& g : k1t::Geometries()) {
            const uint64_t count = uint64_t(g.width) * g.height + g.extra;
            const TestPicture src = RandomFloats(g.width, g.height, comps, seed++);
            const TestPicture dst0 = RandomPicture(g.width, g.height, comps, 4, ~0ull, seed++);
            SCOPED_TRACE("comps " + std::to_string(comps) + " width " + std::to_string(g.width));
            ForEachIsa([&] {
                TestPicture d = dst0;
                EXPECT_EQ(copyfloat(d.data(), d.rowBytes, src.data(), src.rowBytes, comps, g.width, count), 0);
                ExpectSamples(dst0, d, [&](size_t r, size_t i, uint64_t) { return src.get(r, i); }, "copyfloat");

                d = dst0;
                const float values[5] = {1.5f, -2.0f, 3.25f, 1e20f, -0.0f};
                EXPECT_EQ(set_Nxfloat(d.data(), comps, d.rowBytes, values, g.width, count), 0);
                ExpectSamples(dst0, d, [&](size_t, size_t i, uint64_t) { return Bits(values[i % comps]); }, "set");

                d = dst0;
                EXPECT_EQ(setcomponent_Nxfloat(d.data(), comps, d.rowBytes, comps - 1, 7.5f, g.width, count), 0);
                ExpectSamples(dst0, d, [&](size_t, size_t i, uint64_t b) {
                    return i % comps == comps - 1 ? Bits(7.5f) : b;
                }, "setcomponent");

                for (uint32_t dstComp : {1u, 3u, 5u}) {
                    const TestPicture dc0 = RandomPicture(g.width, g.height, dstComp, 4, ~0ull, seed);
                    TestPicture dc = dc0;
                    const uint32_t di = dstComp / 2, si = comps - 1;
                    EXPECT_EQ(copycomponent_Nxfloat_to_Nxfloat(dc.data(), dstComp, dc.rowBytes, di, src.data(), comps,
                                                               src.rowBytes, si, g.width, count),
                              0);
                    ExpectSamples(dc0, dc, [&](size_t r, size_t i, uint64_t b) {
                        return i % dstComp == di ? src.get(r, (i / dstComp) * comps + si) : b;
                    }, "copycomponent");
                }
            });
        }
    // Indexes at or past the count are refused, without writing.
    float buf[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(setcomponent_Nxfloat(buf, 2, 16, 2, 9.0f, 2, 2), -4);
    EXPECT_EQ(copycomponent_Nxfloat_to_Nxfloat(buf, 2, 16, 0, buf + 4, 2, 16, 2, 2, 2), -4);
    EXPECT_EQ(copycomponent_Nxfloat_to_Nxfloat(buf, 2, 16, 3, buf + 4, 2, 16, 0, 2, 2), -4);
    EXPECT_EQ(buf[0], 1.0f);
    EXPECT_EQ(buf[3], 4.0f);
}

TEST(KzFloat, IntegerToFloatMatchesReference)
{
    uint32_t seed = 50;
    for (uint32_t bytes : {1u, 2u})
        for (int mean = 0; mean < 2; ++mean)
            for (uint32_t comps : kzt::TestComponentCounts())
                for (const auto& g : k1t::Geometries()) {
                    const uint64_t count = uint64_t(g.width) * g.height + g.extra;
                    const TestPicture src = RandomPicture(g.width, g.height, comps, bytes, ~0ull, seed++);
                    const uint32_t dc = mean ? 1 : comps;
                    const TestPicture dst0 = RandomPicture(g.width, g.height, dc, 4, ~0ull, seed++);
                    const uint32_t dst2Comp = 2;
                    std::vector<float> second0(dst2Comp * count + 3, 123.0f);
                    SCOPED_TRACE("bytes " + std::to_string(bytes) + " mean " + std::to_string(mean) + " comps " +
                                 std::to_string(comps));
                    ForEachIsa([&] {
                        TestPicture d = dst0;
                        std::vector<float> second = second0;
                        using Fn = int (*)(void*, float*, uint32_t, uint32_t, const void*, uint32_t, uint32_t, uint32_t,
                                           uint32_t, uint64_t);
                        const Fn fn = bytes == 1 ? (mean ? extract_Nx8_to_1xFloat2 : extract_Nx8_to_3xFloat2)
                                                 : (mean ? extract_Nx16_to_1xFloat2 : extract_Nx16_to_3xFloat2);
                        EXPECT_EQ(fn(d.data(), second.data(), dst2Comp, d.rowBytes, src.data(), src.rowBytes, 99, comps,
                                     g.width, count),
                                  0);
                        ExpectSamples(dst0, d, [&](size_t r, size_t i, uint64_t) {
                            if (!mean)
                                return Bits(float(src.get(r, i)));
                            float sum = 0.0f;
                            for (uint32_t k = 0; k < comps; ++k)
                                sum += float(src.get(r, i * comps + k));
                            return Bits(sum * (1.0f / float(comps)));
                        });
                        for (size_t i = 0; i < second.size(); ++i)
                            EXPECT_EQ(second[i], i < dst2Comp * count ? 0.0f : 123.0f) << i;
                    });
                }
    // (10, 20, 31) gives about 20.333; no components with a mean: -4.
    const uint8_t px[3] = {10, 20, 31};
    float out = 0, second[2] = {5, 5};
    EXPECT_EQ(extract_Nx8_to_1xFloat2(&out, second, 2, 4, px, 3, 8, 3, 1, 1), 0);
    EXPECT_NEAR(out, 20.333f, 0.001f);
    EXPECT_EQ(second[1], 0.0f);
    EXPECT_EQ(extract_Nx8_to_1xFloat2(&out, nullptr, 0, 4, px, 3, 8, 0, 1, 1), -4);
}

TEST(KzFloat, FloatToIntegerRoundsAndLimits)
{
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    struct Case {
        float v;
        uint32_t dstBits;
        uint32_t want8, want16;
    } cases[] = {
        {254.6f, 9, 255, 255},    {300.0f, 9, 255, 300},   {1.49f, 9, 1, 1},       {600.0f, 9, 255, 511},
        {510.4f, 9, 255, 510},    {-2.0f, 16, 0, 0},       {-0.4f, 16, 0, 0},      {nan, 16, 0, 0},
        {inf, 12, 255, 4095},     {-inf, 12, 0, 0},        {65535.4f, 16, 255, 65535}, {1e30f, 20, 255, 65535},
        {0.5f, 8, 1, 1},          {0.49f, 8, 0, 0},
    };
    for (const Case& c : cases) {
        uint8_t o8 = 77;
        uint16_t o16 = 77;
        EXPECT_EQ(extract_Float2_to_Nx8(&o8, nullptr, 1, 0, &c.v, nullptr, 1, 4, 1, 1), 0);
        EXPECT_EQ(extract_Float2_to_Nx16(&o16, nullptr, 2, c.dstBits, &c.v, nullptr, 1, 4, 1, 1), 0);
        EXPECT_EQ(o8, c.want8) << c.v;
        EXPECT_EQ(o16, c.want16) << c.v << " bits " << c.dstBits;
    }
    // Random pictures, every path, padding untouched.
    uint32_t seed = 70;
    for (uint32_t comps : kzt::TestComponentCounts())
        for (const auto& g : k1t::Geometries()) {
            const TestPicture src = RandomFloats(g.width, g.height, comps, seed++);
            const uint64_t count = uint64_t(g.width) * g.height + g.extra;
            for (uint32_t bits : {8u, 12u}) {
                const TestPicture dst0 = RandomPicture(g.width, g.height, comps, bits == 8 ? 1 : 2, ~0ull, seed++);
                ForEachIsa([&] {
                    TestPicture d = dst0;
                    if (bits == 8)
                        extract_Float2_to_Nx8(d.data(), nullptr, d.rowBytes, 0, src.data(), nullptr, comps, src.rowBytes,
                                              g.width, count);
                    else
                        extract_Float2_to_Nx16(d.data(), nullptr, d.rowBytes, bits, src.data(), nullptr, comps,
                                               src.rowBytes, g.width, count);
                    const double M = bits == 8 ? 255.0 : 4095.0;
                    ExpectSamples(dst0, d, [&](size_t r, size_t i, uint64_t) {
                        const double t = double(AsFloat(src.get(r, i))) + 0.5;
                        return uint64_t(t <= 0 ? 0 : t > M ? M : std::trunc(t));
                    });
                });
            }
        }
}

TEST(KzFloat, Extremes)
{
    struct Case {
        std::vector<float> v;
        float mn, mx;
    } cases[] = {
        {{-5, 0, 0.25f, 8}, 0.25f, 8},
        {{-5, -1, -3}, 1e30f, 0},
        {{0, 0}, 1e30f, 0},
        {{std::numeric_limits<float>::quiet_NaN(), 2, 1}, 1, 2},
    };
    for (const Case& c : cases) {
        float mn = 1, mx = 1;
        std::vector<float> v = c.v;
        EXPECT_EQ(GetExtremes(v.data(), unsigned(v.size()), 1, 1, &mn, &mx, 0), 0);
        EXPECT_EQ(mn, c.mn);
        EXPECT_EQ(mx, c.mx);
    }
    // Component 1 of 2-component pixels only.
    float px[6] = {100, 1, -100, 3, 50, 2};
    float mn, mx;
    EXPECT_EQ(GetExtremes(px, 3, 1, 2, &mn, &mx, 1), 0);
    EXPECT_EQ(mn, 1);
    EXPECT_EQ(mx, 3);
    mn = mx = 42;
    EXPECT_EQ(GetExtremes(px, 3, 1, 2, &mn, &mx, 2), -4);
    EXPECT_EQ(mn, 42);
}

TEST(KzFloat, ToneMapping)
{
    using Fn = int (*)(void*, const void*, uint32_t, const float*, uint32_t, uint32_t, uint32_t);
    struct Member {
        const char* name;
        Fn fn;
        uint32_t bytes;
    } members[] = {
        {"Tumblin 8", map_float_to_Nx8_Tumblin, 1},     {"Tumblin 16", map_float_to_Nx16_Tumblin, 2},
        {"Drago 8", map_float_to_Nx8_Drago, 1},         {"Drago 16", map_float_to_Nx16_Drago, 2},
        {"param Drago 8", map_float_to_Nx8_param_Drago, 1}, {"param Drago 16", map_float_to_Nx16_param_Drago, 2},
    };
    const uint32_t w = 7, h = 3;
    for (uint32_t comps : kzt::TestComponentCounts()) {
        std::vector<float> src(size_t(w) * h * comps);
        std::mt19937 rng(comps);
        std::uniform_real_distribution<float> dist(0.01f, 500.0f);
        for (auto& v : src)
            v = dist(rng);
        src[0] = 0.0f;  // a zero sample of component 0
        for (const Member& m : members) {
            SCOPED_TRACE(std::string(m.name) + " comps " + std::to_string(comps));
            const TestPicture dst0 = RandomPicture(w, h, comps, m.bytes, ~0ull, 5);
            TestPicture d = dst0;
            EXPECT_EQ(m.fn(d.data(), nullptr, d.rowBytes, src.data(), w, h, comps), 0);
            const uint32_t M = m.bytes == 1 ? 255 : 65535;
            std::vector<float> lmin(comps, 1e30f), lmax(comps, 0.0f);
            for (size_t i = 0; i < src.size(); ++i) {
                const size_t k = i % comps;
                if (src[i] > lmax[k])
                    lmax[k] = src[i];
                if (src[i] > 0 && src[i] < lmin[k])
                    lmin[k] = src[i];
            }
            const bool drago = std::string(m.name).find("Drago") != std::string::npos;
            ExpectSamples(dst0, d, [&](size_t r, size_t i, uint64_t) {
                const size_t k = i % comps;
                return RefTone(src[r * w * comps + i], lmin[k], lmax[k], M, drago);
            });
            for (uint32_t k = 0; k < comps; ++k) {
                float lmax = 0;
                size_t at = 0;
                for (size_t i = k; i < src.size(); i += comps)
                    if (src[i] > lmax) {
                        lmax = src[i];
                        at = i;
                    }
                const size_t px = at / comps;
                const uint64_t top = d.get(px / w, px % w * comps + k);
                EXPECT_GE(top, M - 1u) << "largest sample of component " << k;
                EXPECT_LE(top, M);
            }
            EXPECT_EQ(d.get(0, 0), 0u) << "zero sample";
        }
    }
}

TEST(KzFloat, ToneMappingEdgeCases)
{
    // Parametric Tumblin with p = 1 is trunc(M L / Lmax).
    const float v[5] = {0.0f, 1.0f, 2.5f, 7.0f, 10.0f};
    uint8_t out[5];
    EXPECT_EQ(map_float_to_Nx8_param_Tumblin(out, nullptr, 5, v, 5, 1, 1, 1), 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(out[i], uint8_t(std::trunc(255.0 * double(v[i]) / 10.0))) << i;
    uint16_t out16[5];
    EXPECT_EQ(map_float_to_Nx16_param_Tumblin(out16, nullptr, 10, v, 5, 1, 1, 1), 0);
    EXPECT_EQ(out16[4], 65535);
    // Drago and its parametric form give the same picture; Lmax = 1 maps to 254 or 255.
    const float one[3] = {0.0f, 0.5f, 1.0f};
    uint8_t a[3], b[3];
    map_float_to_Nx8_Drago(a, nullptr, 3, one, 3, 1, 1);
    map_float_to_Nx8_param_Drago(b, nullptr, 3, one, 3, 1, 1);
    EXPECT_EQ(std::memcmp(a, b, 3), 0);
    EXPECT_EQ(a[0], 0);
    EXPECT_GE(a[2], 254);
    // An all-non-positive component (Lmax 0, Lmin 1e30) and NaN samples map to 0.
    const float bad[4] = {-1.0f, 0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN()};
    using Fn = int (*)(void*, const void*, uint32_t, const float*, uint32_t, uint32_t, uint32_t);
    for (Fn fn : {(Fn)map_float_to_Nx8_Tumblin, (Fn)map_float_to_Nx8_Drago}) {
        uint8_t o[4] = {9, 9, 9, 9};
        EXPECT_EQ(fn(o, nullptr, 4, bad, 4, 1, 1), 0);
        for (uint8_t x : o)
            EXPECT_EQ(x, 0);
    }
}

TEST(KzFloat, Tiles)
{
    // A 2 x 2 tile at (1, 1) of a 4-pixel-wide picture lands on floats 5, 6, 9, 10.
    std::vector<float> big(16, 0.0f);
    float tile[4] = {1, 2, 3, 4};
    EXPECT_EQ(joinfloatpic_to_floatpic(big.data(), 4, 4, tile, 2, 2, 1, 1, 1), 0);
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(big[i], i == 5 ? 1 : i == 6 ? 2 : i == 9 ? 3 : i == 10 ? 4 : 0) << i;
    // Cut then join restores the area; three components.
    std::vector<float> pic(6 * 5 * 3);
    for (size_t i = 0; i < pic.size(); ++i)
        pic[i] = float(i);
    const std::vector<float> orig = pic;
    std::vector<float> cut(3 * 2 * 3, -1.0f);
    EXPECT_EQ(cutfloatpic_to_floatpic(cut.data(), 3, 2, pic.data(), 6, 5, 2, 3, 3), 0);
    EXPECT_EQ(cut[0], orig[(3 * 6 + 2) * 3]);
    EXPECT_EQ(cut[17], orig[(4 * 6 + 4) * 3 + 2]);
    for (size_t r = 3; r < 5; ++r)
        for (size_t x = 2; x < 5; ++x)
            for (size_t k = 0; k < 3; ++k)
                pic[(r * 6 + x) * 3 + k] = 0;
    EXPECT_EQ(joinfloatpic_to_floatpic(pic.data(), 6, 5, cut.data(), 3, 2, 2, 3, 3), 0);
    EXPECT_EQ(pic, orig);
    // The extended join copies a sub-rectangle of the source.
    std::vector<float> dst(4 * 4, 0.0f);
    std::vector<float> src(5 * 3);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = float(100 + i);
    EXPECT_EQ(joinfloatpic_to_floatpic_ex(dst.data(), 4, 4, src.data(), 5, 3, 0, 2, 3, 1, 2, 2, 1), 0);
    EXPECT_EQ(dst[8], 108);   // source (3, 1) at destination (0, 2)
    EXPECT_EQ(dst[9], 109);
    EXPECT_EQ(dst[12], 113);  // source (3, 2) at destination (0, 3)
    EXPECT_EQ(dst[13], 114);
    EXPECT_EQ(dst[10], 0);
}
