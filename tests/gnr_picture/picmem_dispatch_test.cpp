// Raw-memory dispatch: every cell of {8, 12, 16, 20, 24 bits} x {1, 3, 4, 5
// components} of each family against a scalar computation of the operation,
// or the code the cell must give.
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"
#include "picmem_test_support.h"

#include <cmath>
#include <functional>
#include <string>

namespace {

using pict::Pic;

constexpr unsigned kBits[] = {8, 12, 16, 20, 24};
constexpr unsigned kComps[] = {1, 3, 4, 5};
constexpr unsigned kW = 37, kH = 5;

bool Int16Depth(unsigned bits) { return bits == 8 || (bits >= 9 && bits <= 16); }

// One family: what the call does, and what it must give for a cell. The
// reference fills `want` (a copy of the destination before the call) and
// returns the code the call must return.
struct Family {
    std::string name;
    std::function<int(Pic& dst, Pic& src, unsigned bits, unsigned comps)> call;
    std::function<int(Pic& want, const Pic& src, unsigned bits, unsigned comps)> reference;
    bool inPlaceSource = false;  // the destination starts as a copy of the source
};

// Per-sample map over the whole picture (every component).
void MapSamples(Pic& want, const Pic& src, const std::function<uint64_t(uint64_t v, unsigned k)>& f)
{
    for (unsigned r = 0; r < src.height; ++r)
        for (unsigned i = 0; i < src.width * src.comps; ++i)
            want.put(r, i, f(src.get(r, i), i % src.comps));
}

int64_t Clamp(int64_t x, int64_t m) { return x < 0 ? 0 : (x > m ? m : x); }

const int kAdd[] = {-37, 100, 5000, -3, 70000};
const double kMul[] = {0.5, 1.7, 3.0, 0.01, 1.0};
const double kDiv[] = {2.0, 0.75, 3.3, 100.0, 1.5};
const uint8_t kMinMax8[] = {17, 200, 128, 3, 255};
const uint16_t kMinMax16[] = {17, 2000, 40000, 3, 4095};

// Results of the 1-, 3- and 4-component members for 8 and 9..16 bits: the
// 8-bit members work at depth 8.
int64_t MaxOf(unsigned bits) { return (int64_t(1) << bits) - 1; }

std::vector<Family> Families()
{
    std::vector<Family> f;
    auto constFamily = [&](std::string name, auto call, std::function<int64_t(int64_t v, unsigned k, int64_t m)> op,
                           bool deep = false) {
        f.push_back({name,
                     [call](Pic& d, Pic& s, unsigned bits, unsigned comps) {
                         return call(d.data(), d.stride, s.data(), s.stride, comps, bits, s.width, s.count());
                     },
                     [op, deep](Pic& want, const Pic& src, unsigned bits, unsigned comps) {
                         if (!(Int16Depth(bits) || (deep && bits > 16 && bits <= 32)))
                             return -2;
                         const int64_t m = MaxOf(bits);
                         MapSamples(want, src, [&](uint64_t v, unsigned k) { return uint64_t(op(int64_t(v), k, m)); });
                         return 0;
                     }});
    };
    constFamily(
        "AddConstAndClip",
        [](void* d, unsigned ds, void* s, unsigned ss, unsigned c, unsigned b, unsigned w, unsigned n) {
            return CKzPicMemAPI::AddConstAndClip(d, ds, s, ss, kAdd, c, b, w, n);
        },
        [](int64_t v, unsigned k, int64_t m) { return Clamp(v + kAdd[k], m); });
    constFamily(
        "AddConstRotate",
        [](void* d, unsigned ds, void* s, unsigned ss, unsigned c, unsigned b, unsigned w, unsigned n) {
            return CKzPicMemAPI::AddConstRotate(d, ds, s, ss, kAdd, c, b, w, n);
        },
        [](int64_t v, unsigned k, int64_t m) {
            int64_t x = v + kAdd[k];
            if (x < 0)
                x += m;
            else if (x > m)
                x -= m;
            return x;
        });
    constFamily(
        "SubConstAndClip",
        [](void* d, unsigned ds, void* s, unsigned ss, unsigned c, unsigned b, unsigned w, unsigned n) {
            return CKzPicMemAPI::SubConstAndClip(d, ds, s, ss, kAdd, c, b, w, n);
        },
        [](int64_t v, unsigned k, int64_t m) { return Clamp(v - kAdd[k], m); });
    // Min and max take constants of the sample type.
    constFamily(
        "MaxConstAndClip",
        [](void* d, unsigned ds, void* s, unsigned ss, unsigned c, unsigned b, unsigned w, unsigned n) {
            return CKzPicMemAPI::MaxConstAndClip(d, ds, s, ss, b <= 8 ? (const void*)kMinMax8 : kMinMax16, c, b, w,
                                                 n);
        },
        [](int64_t v, unsigned k, int64_t m) {
            const int64_t c = m == 255 ? kMinMax8[k] : kMinMax16[k];
            return Clamp(v > c ? v : c, m);  // a constant above the depth gives the top value
        });
    constFamily(
        "MinConstAndClip",
        [](void* d, unsigned ds, void* s, unsigned ss, unsigned c, unsigned b, unsigned w, unsigned n) {
            return CKzPicMemAPI::MinConstAndClip(d, ds, s, ss, b <= 8 ? (const void*)kMinMax8 : kMinMax16, c, b, w,
                                                 n);
        },
        [](int64_t v, unsigned k, int64_t m) {
            const int64_t c = m == 255 ? kMinMax8[k] : kMinMax16[k];
            return v < c ? v : c;
        });
    constFamily(
        "MulConstAndClip",
        [](void* d, unsigned ds, void* s, unsigned ss, unsigned c, unsigned b, unsigned w, unsigned n) {
            return CKzPicMemAPI::MulConstAndClip(d, ds, s, ss, kMul, c, b, w, n);
        },
        [](int64_t v, unsigned k, int64_t m) { return Clamp(int64_t(std::trunc(double(v) * kMul[k] + 0.5)), m); });
    // Division: the 1-, 3- and 4-component members of 8 and 9..16 bits
    // multiply by the reciprocal; the others (and 17..32 bits) divide in
    // fixed point with S = 4096, 256 or 65536.
    f.push_back({"DivConstAndClip",
                 [](Pic& d, Pic& s, unsigned bits, unsigned comps) {
                     return CKzPicMemAPI::DivConstAndClip(d.data(), d.stride, s.data(), s.stride, kDiv, comps, bits,
                                                          s.width, s.count());
                 },
                 [](Pic& want, const Pic& src, unsigned bits, unsigned comps) {
                     if (bits > 32)
                         return -2;
                     const int64_t m = MaxOf(bits);
                     const bool fixed = comps == 5 || bits > 16;
                     const uint64_t scale = bits == 8 ? 4096 : bits <= 16 ? 256 : 65536;
                     MapSamples(want, src, [&](uint64_t v, unsigned k) -> uint64_t {
                         if (!fixed)
                             return uint64_t(Clamp(int64_t(std::trunc(double(v) * (1.0 / kDiv[k]) + 0.5)), m));
                         const uint64_t q = uint64_t(std::trunc(kDiv[k] * double(scale) + 0.5));
                         const uint64_t r = (v * scale + q / 2) / q;
                         return r < uint64_t(m) ? r : uint64_t(m);
                     });
                     return 0;
                 }});
    f.push_back({"MaskOut",
                 [](Pic& d, Pic&, unsigned bits, unsigned comps) {
                     return CKzPicMemAPI::MaskOut(d.data(), d.stride, 0xA5C3u, comps, bits, d.width, d.count());
                 },
                 [](Pic& want, const Pic& src, unsigned bits, unsigned) {
                     if (!Int16Depth(bits))
                         return -2;
                     MapSamples(want, src, [&](uint64_t v, unsigned) { return v & (bits == 8 ? 0xC3u : 0xA5C3u); });
                     return 0;
                 },
                 true});
    f.push_back({"Copy",
                 [](Pic& d, Pic& s, unsigned bits, unsigned comps) {
                     return CKzPicMemAPI::Copy(d.data(), d.stride, s.data(), s.stride, comps, bits, s.width,
                                               s.count());
                 },
                 [](Pic& want, const Pic& src, unsigned, unsigned) {
                     MapSamples(want, src, [](uint64_t v, unsigned) { return v; });
                     return 0;
                 }});
    f.push_back({"BlendTwoBuffers",
                 [](Pic& d, Pic& s, unsigned bits, unsigned comps) {
                     static unsigned char table[256][256];
                     for (int a = 0; a < 256; ++a)
                         for (int b = 0; b < 256; ++b)
                             table[a][b] = uint8_t(a * 7 + b * 3 + 1);
                     return CKzPicMemAPI::BlendTwoBuffers(d.data(), d.stride, s.data(), s.stride, table, comps, bits,
                                                          s.width, s.count());
                 },
                 [](Pic& want, const Pic& src, unsigned, unsigned) {
                     for (unsigned r = 0; r < src.height; ++r)
                         for (unsigned i = 0; i < src.width * src.comps * src.sb; ++i) {
                             uint8_t& d = want.bytes[size_t(r) * want.stride + i];
                             d = uint8_t(d * 7 + src.bytes[size_t(r) * src.stride + i] * 3 + 1);
                         }
                     return 0;
                 }});
    f.push_back({"CopyMask8",
                 [](Pic& d, Pic& s, unsigned bits, unsigned comps) {
                     Pic mask(s.width, s.height, 1, 2, 99);  // values 0..3
                     return CKzPicMemAPI::CopyMask(d.data(), d.stride, s.data(), s.stride, comps, bits, mask.data(), 8,
                                                   mask.stride, s.width, s.count(), 2, true);
                 },
                 [](Pic& want, const Pic& src, unsigned, unsigned comps) {
                     Pic mask(src.width, src.height, 1, 2, 99);
                     for (unsigned r = 0; r < src.height; ++r)
                         for (unsigned x = 0; x < src.width; ++x)
                             if (mask.get(r, x) == 2)
                                 for (unsigned k = 0; k < comps; ++k)
                                     want.put(r, x * comps + k, src.get(r, x * comps + k));
                     return 0;
                 }});
    f.push_back({"SetValue",
                 [](Pic& d, Pic&, unsigned bits, unsigned comps) {
                     const uint16_t v16[5] = {1, 4000, 65535, 7, 9};
                     const uint8_t v8[5] = {1, 200, 255, 7, 9};
                     return CKzPicMemAPI::SetValue(d.data(), comps, bits, d.stride,
                                                   bits <= 8 ? (const void*)v8 : v16, d.width, d.count());
                 },
                 [](Pic& want, const Pic& src, unsigned bits, unsigned) {
                     if (!Int16Depth(bits))
                         return -2;
                     const uint16_t v16[5] = {1, 4000, 65535, 7, 9};
                     const uint8_t v8[5] = {1, 200, 255, 7, 9};
                     MapSamples(want, src, [&](uint64_t, unsigned k) -> uint64_t { return bits <= 8 ? v8[k] : v16[k]; });
                     return 0;
                 }});
    f.push_back({"SetComponentValue",
                 [](Pic& d, Pic&, unsigned bits, unsigned comps) {
                     return CKzPicMemAPI::SetComponentValue(d.data(), comps, bits, d.stride, comps - 1, 0x1234,
                                                            d.width, d.count());
                 },
                 [](Pic& want, const Pic&, unsigned bits, unsigned comps) {
                     if (!Int16Depth(bits))
                         return -2;
                     for (unsigned r = 0; r < want.height; ++r)
                         for (unsigned x = 0; x < want.width; ++x)
                             want.put(r, x * comps + comps - 1, bits <= 8 ? 0x34 : 0x1234);
                     return 0;
                 }});
    // LUTs: a flat table and a table with one entry of `comps` samples per value.
    for (bool flat : {true, false}) {
        f.push_back({flat ? "ApplyLutsFlat" : "ApplyLutsPerComponent",
                     [flat](Pic& d, Pic& s, unsigned bits, unsigned comps) {
                         SKzLut lut;
                         const u8 lb = u8(bits > 16 ? 16 : bits);
                         SKzLut::Alloc(lut, lb, 1, lb, flat ? 1 : u8(comps));
                         const size_t n = size_t(1) << lb;
                         const size_t e = (flat ? 1 : comps) * ((lb + 7) / 8);
                         uint8_t* block = lut.uiOutComp == 1 ? static_cast<uint8_t*>(lut.pLut)
                                                              : static_cast<uint8_t**>(lut.pLut)[0];
                         for (size_t i = 0; i < n * e; ++i)
                             block[i] = uint8_t(i * 131 + 17);
                         if (lb > 8) {  // keep entries inside the depth
                             uint16_t* w = reinterpret_cast<uint16_t*>(block);
                             for (size_t i = 0; i < n * e / 2; ++i)
                                 w[i] &= uint16_t((1u << lb) - 1);
                         }
                         lut.uiInBpc = u8(bits);  // the LUT claims the picture's depth
                         const int r = CKzPicMemAPI::ApplyLuts(d.data(), d.stride, s.data(), s.stride, &lut, comps,
                                                               bits, s.width, s.count());
                         lut.uiInBpc = lb;
                         SKzLut::Free(lut);
                         return r;
                     },
                     [flat](Pic& want, const Pic& src, unsigned bits, unsigned comps) {
                         if (!Int16Depth(bits))
                             return -2;
                         const size_t e = flat ? 1 : comps;
                         MapSamples(want, src, [&](uint64_t v, unsigned k) -> uint64_t {
                             const size_t idx = size_t(v) * e + (flat ? 0 : k);
                             if (bits <= 8)
                                 return uint8_t(idx * 131 + 17);
                             const uint64_t lo = uint8_t(2 * idx * 131 + 17), hi = uint8_t((2 * idx + 1) * 131 + 17);
                             return (lo | hi << 8) & ((1u << bits) - 1);
                         });
                         return 0;
                     }});
    }
    f.push_back({"CopyComponent",
                 [](Pic& d, Pic& s, unsigned bits, unsigned comps) {
                     return CKzPicMemAPI::CopyComponent(d.data(), comps, d.stride, 0, s.data(), comps, s.stride,
                                                        comps - 1, bits, s.width, s.count());
                 },
                 [](Pic& want, const Pic& src, unsigned bits, unsigned comps) {
                     if (!Int16Depth(bits))
                         return -2;
                     for (unsigned r = 0; r < src.height; ++r)
                         for (unsigned x = 0; x < src.width; ++x)
                             want.put(r, x * comps, src.get(r, x * comps + comps - 1));
                     return 0;
                 }});
    return f;
}

TEST(PicMemDispatch, EveryCellOfEveryFamily)
{
    for (const Family& fam : Families())
        for (unsigned bits : kBits)
            for (unsigned comps : kComps) {
                SCOPED_TRACE(fam.name + " bits " + std::to_string(bits) + " comps " + std::to_string(comps));
                Pic src(kW, kH, comps, bits, bits * 10 + comps);
                Pic dst = fam.inPlaceSource ? src : Pic(kW, kH, comps, bits, 1000 + bits * 10 + comps);
                Pic want = dst;
                const int code = fam.reference(want, src, bits, comps);
                if (code != 0)
                    want = dst;  // a refused call writes nothing
                EXPECT_EQ(fam.call(dst, src, bits, comps), code);
                EXPECT_TRUE(pict::SameBytes(dst, want));
            }
}

// Component-count changes: collapse (mean or weights) and expansion, whose
// one-component forms are copies at any depth.
TEST(PicMemDispatch, CollapseAndExpandCells)
{
    for (unsigned bits : kBits)
        for (unsigned comps : kComps) {
            SCOPED_TRACE("bits " + std::to_string(bits) + " comps " + std::to_string(comps));
            const bool ok = Int16Depth(bits) || comps == 1;
            Pic src(kW, kH, comps, bits, 7 * bits + comps);
            Pic one(kW, kH, 1, bits, 3 * bits + comps);
            Pic want = one;
            if (ok)
                for (unsigned r = 0; r < kH; ++r)
                    for (unsigned x = 0; x < kW; ++x) {
                        uint64_t sum = 0;
                        for (unsigned k = 0; k < comps; ++k)
                            sum += src.get(r, x * comps + k);
                        want.put(r, x, (sum + comps / 2) / comps);
                    }
            EXPECT_EQ(CKzPicMemAPI::CollapseComponents(one.data(), one.stride, src.data(), comps, src.stride, nullptr,
                                                       bits, kW, kW * kH),
                      ok ? 0 : -2);
            EXPECT_TRUE(pict::SameBytes(one, want));

            Pic wide(kW, kH, comps, bits, 5 * bits + comps);
            Pic wantWide = wide;
            if (ok)
                for (unsigned r = 0; r < kH; ++r)
                    for (unsigned x = 0; x < kW; ++x)
                        for (unsigned k = 0; k < comps; ++k)
                            wantWide.put(r, x * comps + k, one.get(r, x));
            EXPECT_EQ(CKzPicMemAPI::ExpandComponent(wide.data(), comps, wide.stride, one.data(), one.stride, bits, kW,
                                                    kW * kH),
                      ok ? 0 : -2);
            EXPECT_TRUE(pict::SameBytes(wide, wantWide));
        }
}

TEST(PicMemDispatch, WeightedCollapse)
{
    const double w[3] = {0.25, 0.25, 0.5};
    const uint8_t src[6] = {40, 80, 200, 0, 0, 255};
    uint8_t dst[2] = {};
    ASSERT_EQ(CKzPicMemAPI::CollapseComponents(dst, 2, src, 3, 6, w, 8, 2, 2), 0);
    EXPECT_NEAR(dst[0], 130, 1);  // the kernel weighs in fixed point
    EXPECT_NEAR(dst[1], 128, 1);
}

// Width or count 0 returns 0 before anything else and writes nothing, even
// with null pictures.
TEST(PicMemDispatch, EmptyExtentTouchesNothing)
{
    SKzLut lut;
    const int c[1] = {1};
    const double dc[1] = {1};
    for (unsigned w : {0u, 5u}) {
        const unsigned n = w ? 0 : 5;
        EXPECT_EQ(CKzPicMemAPI::AddConstAndClip(nullptr, 0, nullptr, 0, c, 1, 7, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::DivConstAndClip(nullptr, 0, nullptr, 0, dc, 1, 24, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::MaskOut(nullptr, 0, 1, 1, 8, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::Copy(nullptr, 0, nullptr, 0, 1, 8, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::ApplyLuts(nullptr, 0, nullptr, 0, nullptr, 1, 8, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::ApplyLuts(nullptr, 0, nullptr, 0, &lut, 1, 8, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::SetValue(nullptr, 1, 8, 0, nullptr, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::MapValueToComponents(nullptr, 3, 8, 0, nullptr, 8, 0, nullptr, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::ExtractComponentViaLuts(nullptr, 3, 8, 0, nullptr, 1, 8, 0, 0, nullptr, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::ConvertBitDepthViaShifts(nullptr, 8, 0, nullptr, 12, 0, 1, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::GetHistogram(nullptr, 4, nullptr, 0, 1, 8, w, n), 0);
        EXPECT_EQ(CKzPicMemAPI::CopyMask(nullptr, 0, nullptr, 0, 1, 8, nullptr, 32, 0, w, n, 0, true), 0);
    }
    // The null-source test of the histogram comes first.
    EXPECT_EQ(CKzPicMemAPI::GetHistogramEx(nullptr, nullptr, 4, nullptr, 0, 1, 8, 1, 1, 0, 0), -9);
}

// Null blocks with a non-empty extent: refused, never dereferenced.
TEST(PicMemDispatch, NullBlocksAreRefused)
{
    uint8_t buf[64] = {};
    const int c[3] = {1, 1, 1};
    EXPECT_EQ(CKzPicMemAPI::AddConstAndClip(nullptr, 16, buf, 16, c, 3, 8, 4, 8), -9);
    EXPECT_EQ(CKzPicMemAPI::AddConstAndClip(buf, 16, buf, 16, nullptr, 3, 8, 4, 8), -9);
    EXPECT_EQ(CKzPicMemAPI::Copy(buf, 16, nullptr, 16, 3, 8, 4, 8), -9);
    EXPECT_EQ(CKzPicMemAPI::SetValue(buf, 3, 8, 16, nullptr, 4, 8), -9);
    EXPECT_EQ(CKzPicMemAPI::BlendTwoBuffers(buf, 16, buf, 16, nullptr, 3, 8, 4, 8), -9);
    EXPECT_EQ(CKzPicMemAPI::CopyMask(buf, 16, buf, 16, 3, 8, nullptr, 8, 4, 4, 8, 0, true), -9);
    EXPECT_EQ(CKzPicMemAPI::MaskOut(nullptr, 16, 1, 3, 8, 4, 8), -9);
}

TEST(PicMemDispatch, CopyMaskSixteenBitMasks)
{
    // 3-component 8-bit pictures use the three-byte member; others the general one.
    for (unsigned comps : {3u, 4u}) {
        Pic src(9, 3, comps, 8, 1), dst(9, 3, comps, 8, 2), mask(9, 3, 1, 16, 3);
        for (unsigned r = 0; r < 3; ++r)
            for (unsigned x = 0; x < 9; ++x)
                mask.put(r, x, (x + r) % 3 == 0 ? 0x1234 : 0x0034);
        Pic want = dst;
        for (unsigned r = 0; r < 3; ++r)
            for (unsigned x = 0; x < 9; ++x)
                if (mask.get(r, x) != 0x1234)
                    for (unsigned k = 0; k < comps; ++k)
                        want.put(r, x * comps + k, src.get(r, x * comps + k));
        EXPECT_EQ(CKzPicMemAPI::CopyMask(dst.data(), dst.stride, src.data(), src.stride, comps, 8, mask.data(), 16,
                                         mask.stride, 9, 27, 0x1234, false),
                  0);
        EXPECT_TRUE(pict::SameBytes(dst, want)) << comps;
    }
    uint8_t b[16] = {};
    EXPECT_EQ(CKzPicMemAPI::CopyMask(b, 4, b, 4, 1, 8, b, 17, 4, 4, 4, 0, true), -4);
}

TEST(PicMemDispatch, ApplyLutsRefusals)
{
    Pic src(8, 2, 3, 12, 1), dst(8, 2, 3, 12, 2);
    const Pic before = dst;
    SKzLut lut;
    auto call = [&](unsigned comps, unsigned bits) {
        return CKzPicMemAPI::ApplyLuts(dst.data(), dst.stride, src.data(), src.stride, &lut, comps, bits, 8, 16);
    };
    EXPECT_EQ(CKzPicMemAPI::ApplyLuts(dst.data(), dst.stride, src.data(), src.stride, nullptr, 3, 12, 8, 16), -2);
    EXPECT_EQ(call(3, 12), -4);  // no table
    ASSERT_EQ(SKzLut::Alloc(lut, 12, 2, 12, 3), 0);
    EXPECT_EQ(call(3, 12), -2);  // two input components
    SKzLut::Free(lut);
    ASSERT_EQ(SKzLut::Alloc(lut, 8, 1, 12, 1), 0);
    EXPECT_EQ(call(3, 12), -4);  // input bits differ: 256 entries for 12-bit samples
    SKzLut::Free(lut);
    ASSERT_EQ(SKzLut::Alloc(lut, 12, 1, 8, 1), 0);
    EXPECT_EQ(call(3, 12), -4);  // byte entries for word samples
    SKzLut::Free(lut);
    ASSERT_EQ(SKzLut::Alloc(lut, 12, 1, 12, 2), 0);
    EXPECT_EQ(call(3, 12), -2);  // two outputs for three components
    SKzLut::Free(lut);
    EXPECT_TRUE(pict::SameBytes(dst, before));
}

TEST(PicMemDispatch, ApplyLutsMarksExposureOnThreeByteColour)
{
    // 8-bit 3-component picture, 1-in/3-out LUT with an over-exposure colour:
    // the marking member paints pixels holding 255.
    SKzLut lut;
    ASSERT_EQ(SKzLut::AllocColor(lut, 8, 8), 0);
    auto** rows = static_cast<uint8_t**>(lut.pLut);
    for (int v = 0; v < 256; ++v)
        for (int k = 0; k < 3; ++k)
            rows[v][k] = uint8_t(v / 2 + k);
    lut.pOverExpColor = static_cast<SKzLutExpColor*>(std::calloc(1, SKzLut::kExpColorBytes));
    *lut.pOverExpColor = {1, 2, 3, 0};
    uint8_t src[6] = {10, 20, 30, 10, 255, 30}, dst[6] = {};
    ASSERT_EQ(CKzPicMemAPI::ApplyLuts(dst, 6, src, 6, &lut, 3, 8, 2, 2), 0);
    const uint8_t want[6] = {5, 11, 17, 1, 2, 3};
    EXPECT_EQ(std::memcmp(dst, want, 6), 0);
    SKzLut::Free(lut);
}

// 12-bit frames whose samples hold 0xFFFF: no LUT or histogram path reads
// past its table (the sanitizer preset runs this).
TEST(PicMemDispatch, HostileSamplesStayInsideTables)
{
    Pic src(33, 4, 3, 12, 5);
    for (auto& b : src.bytes)
        b = 0xFF;
    Pic dst(33, 4, 3, 12, 6), one(33, 4, 1, 12, 7), dst8(33, 4, 3, 8, 8);
    SKzLut flat, row, col;
    ASSERT_EQ(SKzLut::AllocSingle(flat, 12, 12), 0);
    ASSERT_EQ(SKzLut::Alloc(row, 12, 1, 12, 3), 0);
    ASSERT_EQ(SKzLut::AllocColor(col, 12, 8), 0);
    EXPECT_EQ(CKzPicMemAPI::ApplyLuts(dst.data(), dst.stride, src.data(), src.stride, &flat, 3, 12, 33, 132), 0);
    EXPECT_EQ(CKzPicMemAPI::ApplyLuts(dst.data(), dst.stride, src.data(), src.stride, &row, 3, 12, 33, 132), 0);
    EXPECT_EQ(CKzPicMemAPI::MapValueToComponents(one.data(), 1, 12, one.stride, src.data(), 12, src.stride, &flat, 33,
                                                 132),
              0);
    const int r1 = CKzPicMemAPI::MapValueToComponents(dst8.data(), 3, 8, dst8.stride, one.data(), 12, one.stride, &col,
                                                      33, 132);
    EXPECT_EQ(r1, kKzPicHaveLutMap ? 0 : -2);
    const int r2 = CKzPicMemAPI::ExtractComponentViaLuts(dst8.data(), 3, 8, dst8.stride, src.data(), 3, 12, src.stride,
                                                         2, &col, 33, 132);
    EXPECT_EQ(r2, kKzPicHaveLutMap ? 0 : -2);
    const int r3 = CKzPicMemAPI::ConvertBitDepthViaLuts(dst8.data(), 8, dst8.stride, src.data(), 12, src.stride, &col,
                                                        3, 33, 132);
    EXPECT_EQ(r3, kKzPicHaveDepth ? 0 : -2);
    std::vector<uint32_t> h(4 * 4096);
    void* rows4[3] = {&h[4096], &h[8192], &h[12288]};
    EXPECT_EQ(CKzPicMemAPI::GetHistogramEx(rows4, h.data(), 4, src.data(), src.stride, 3, 12, 1, 1, 33, 132),
              kKzPicHaveHisto ? 0 : -2);
    if (kKzPicHaveHisto)
        EXPECT_EQ(h[4095 + 4096], 132u);
    SKzLut::Free(flat);
    SKzLut::Free(row);
    SKzLut::Free(col);
}

TEST(PicMemDispatch, ComponentIndexAtCountIsRefused)
{
    uint8_t b[64] = {};
    SKzLut lut;
    ASSERT_EQ(SKzLut::AllocSingle(lut, 8, 8), 0);
    EXPECT_EQ(CKzPicMemAPI::SetComponentValue(b, 3, 8, 12, 3, 1, 4, 4), -4);
    EXPECT_EQ(CKzPicMemAPI::ExtractComponentViaLuts(b, 1, 8, 4, b, 3, 8, 12, 3, &lut, 4, 4), -4);
    SKzLut::Free(lut);
    for (uint8_t v : b)
        EXPECT_EQ(v, 0);
}

} // namespace
