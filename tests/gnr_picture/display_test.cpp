// Display conversion: true colour through LUTs, composition of components,
// spectral statistics arguments and the resampling dispatch's own rules.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzPicMemAPI.h"
#include "gnr_picture/SKzLut.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"
#include "picmem_test_support.h"

#include "gnr_picture/KzStretch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using pict::Pic;

struct LutGuard {
    SKzLut lut;
    ~LutGuard() { SKzLut::Free(lut); }
};

// Fills every entry of a LUT's block with a recognisable pattern.
void FillTable(SKzLut& lut, uint32_t seed)
{
    const size_t bytes = SKzLut::TableBlockBytes(lut);
    uint8_t* block;
    if (lut.uiInComp <= 1 && lut.uiOutComp <= 1)
        block = static_cast<uint8_t*>(lut.pLut);
    else if (lut.uiInComp <= 1)
        block = static_cast<uint8_t**>(lut.pLut)[0];
    else
        block = static_cast<uint8_t***>(lut.pLut)[0][0];
    for (size_t i = 0; i < bytes; ++i)
        block[i] = uint8_t(i * 2654435761u >> 13 ^ seed);
}

const uint8_t* Row8(const SKzLut& lut, unsigned comp, unsigned v)
{
    if (lut.uiInComp <= 1)
        return static_cast<uint8_t* const*>(lut.pLut)[v];
    return static_cast<uint8_t* const* const*>(lut.pLut)[comp][v];
}

unsigned Screen(unsigned a, unsigned b) { return a + b - a * b / 255; }

TEST(Display, OneComponentThroughColourLutByBothRoads)
{
    // 12-bit one-component picture into 8-bit true colour with a 1-in/3-out
    // LUT: with only component 0 visible the extraction road, with the full
    // mask of a new LUT the value-mapping road; both paint entry v.
    for (bool single : {true, false}) {
        SKzPicBuf src, dst;
        CKzPicBufAPI::Init(&src);
        CKzPicBufAPI::Init(&dst);
        ASSERT_EQ(CKzPicBufAPI::Reinit(&src, 19, 4, 0, 12, 1, false), 0);
        ASSERT_EQ(CKzPicBufAPI::Reinit(&dst, 19, 4, 0, 8, 3, true), 0);
        for (unsigned y = 0; y < 4; ++y)
            for (unsigned x = 0; x < 19; ++x)
                reinterpret_cast<uint16_t*>(src.pData + y * src.uiWidthBytes)[x] = uint16_t((x * 211 + y * 977) & 4095);
        LutGuard g;
        ASSERT_EQ(SKzLut::AllocColor(g.lut, 12, 8), 0);
        FillTable(g.lut, 5);
        if (single) {
            g.lut.maskComp.Reset();
            g.lut.maskComp.Set(0, true);
        }
        ASSERT_EQ(CKzPicBufAPI::ApplyLuts(&dst, &src, &g.lut), 0) << single;
        for (unsigned y = 0; y < 4; ++y)
            for (unsigned x = 0; x < 19; ++x) {
                const unsigned v = reinterpret_cast<uint16_t*>(src.pData + y * src.uiWidthBytes)[x];
                EXPECT_EQ(std::memcmp(dst.pData + y * dst.uiWidthBytes + x * 3, Row8(g.lut, 0, v), 3), 0)
                    << single << " " << x << "," << y;
            }
        CKzPicBufAPI::Free(&src);
        CKzPicBufAPI::Free(&dst);
    }
}

TEST(Display, TrueColourWithoutLutAndWithNothingVisible)
{
    Pic src3(9, 3, 3, 12, 1), src1(9, 3, 1, 12, 2), src8(9, 3, 1, 8, 3), dst(9, 3, 3, 8, 4);
    ASSERT_EQ(CKzPicMemAPI::ConvertToTrueColor(dst.data(), dst.stride, src3.data(), 3, 12, src3.stride, 9, 27, nullptr), 0);
    for (unsigned r = 0; r < 3; ++r)
        for (unsigned i = 0; i < 27; ++i)
            ASSERT_EQ(dst.get(r, i), src3.get(r, i) >> 4);
    ASSERT_EQ(CKzPicMemAPI::ConvertToTrueColor(dst.data(), dst.stride, src1.data(), 1, 12, src1.stride, 9, 27, nullptr), 0);
    for (unsigned r = 0; r < 3; ++r)
        for (unsigned i = 0; i < 27; ++i)
            ASSERT_EQ(dst.get(r, i), src1.get(r, i / 3) >> 4);
    ASSERT_EQ(CKzPicMemAPI::ConvertToTrueColor(dst.data(), dst.stride, src8.data(), 1, 8, src8.stride, 9, 27, nullptr), 0);
    for (unsigned r = 0; r < 3; ++r)
        for (unsigned i = 0; i < 27; ++i)
            ASSERT_EQ(dst.get(r, i), src8.get(r, i / 3));
    Pic two(9, 3, 2, 8, 5);
    EXPECT_EQ(CKzPicMemAPI::ConvertToTrueColor(dst.data(), dst.stride, two.data(), 2, 8, two.stride, 9, 27, nullptr), -4);
    // A mask with no visible component: black, 0.
    LutGuard g;
    ASSERT_EQ(SKzLut::Alloc(g.lut, 12, 3, 8, 3), 0);
    g.lut.maskComp.Reset();
    ASSERT_EQ(CKzPicMemAPI::ConvertToTrueColor(dst.data(), dst.stride, src3.data(), 3, 12, src3.stride, 9, 27, &g.lut), 0);
    for (unsigned r = 0; r < 3; ++r)
        for (unsigned i = 0; i < 27; ++i)
            ASSERT_EQ(dst.get(r, i), 0u);
    // The one visible component lies past the picture's components.
    g.lut.maskComp.Set(7, true);
    EXPECT_EQ(CKzPicMemAPI::ConvertToTrueColor(dst.data(), dst.stride, src3.data(), 3, 12, src3.stride, 9, 27, &g.lut),
              -4);
    // Output bits other than 8.
    LutGuard w;
    ASSERT_EQ(SKzLut::Alloc(w.lut, 12, 3, 12, 3), 0);
    EXPECT_EQ(CKzPicMemAPI::ConvertToTrueColor(dst.data(), dst.stride, src3.data(), 3, 12, src3.stride, 9, 27, &w.lut),
              -4);
}

// Composition of 1..7 components (8 and 12 bits) into true colour against
// screen blending of the visible components' colours in component order.
TEST(Display, CompositionAgainstScreenBlend)
{
    if (!kKzPicHaveCompose)
        GTEST_SKIP() << "composition kernels not built yet";
    for (unsigned bits : {8u, 12u})
        for (unsigned comps : {1u, 2u, 3u, 4u, 6u, 7u})
            for (bool partial : {false, true}) {
                SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(comps) + " comps" +
                             (partial ? ", partial mask" : ""));
                Pic src(13, 3, comps, bits, comps * 7 + bits), dst(13, 3, 3, 8, 99);
                LutGuard g;
                ASSERT_EQ(SKzLut::Alloc(g.lut, u8(bits), u8(comps), 8, 3), 0);
                FillTable(g.lut, comps);
                if (partial && comps > 1) {
                    g.lut.maskComp.Reset();
                    for (unsigned k = 0; k < comps; k += 2)
                        g.lut.maskComp.Set(k, true);
                }
                Pic want = dst;
                for (unsigned r = 0; r < 3; ++r)
                    for (unsigned x = 0; x < 13; ++x) {
                        unsigned c[3] = {0, 0, 0};
                        for (unsigned k = 0; k < comps; ++k) {
                            if (comps > 1 && !g.lut.maskComp.Get(k))
                                continue;
                            const uint8_t* e = Row8(g.lut, k, unsigned(src.get(r, x * comps + k)));
                            for (int ch = 0; ch < 3; ++ch)
                                c[ch] = Screen(c[ch], e[ch]);
                        }
                        for (int ch = 0; ch < 3; ++ch)
                            want.put(r, x * 3 + ch, c[ch]);
                    }
                ASSERT_EQ(CKzPicMemAPI::MapComponentsMToN(dst.data(), 3, 8, dst.stride, src.data(), comps, bits,
                                                          src.stride, &g.lut, 13, 39),
                          0);
                EXPECT_TRUE(pict::SameBytes(dst, want));
            }
}

TEST(Display, CompositionRefusals)
{
    Pic src(8, 2, 4, 8, 1), dst(8, 2, 3, 8, 2);
    LutGuard g;
    ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 5, 8, 3), 0);
    EXPECT_EQ(CKzPicMemAPI::MapComponentsMToN(dst.data(), 3, 8, dst.stride, src.data(), 4, 8, src.stride, &g.lut, 8, 16),
              -4);
    EXPECT_EQ(CKzPicMemAPI::MapComponentsMToN(dst.data(), 3, 8, dst.stride, src.data(), 4, 8, src.stride, nullptr, 8, 16),
              -4);
    LutGuard big;
    ASSERT_EQ(SKzLut::Alloc(big.lut, 8, 200, 8, 3), 0);
    std::vector<uint8_t> wide(200 * 8 * 2);
    EXPECT_EQ(CKzPicMemAPI::MapComponentsMToN(dst.data(), 3, 8, dst.stride, wide.data(), 200, 8, 1600, &big.lut, 8, 16),
              -2);
    LutGuard four;
    ASSERT_EQ(SKzLut::Alloc(four.lut, 8, 4, 8, 4), 0);
    EXPECT_EQ(CKzPicMemAPI::MapComponentsMToN(dst.data(), 4, 8, dst.stride, src.data(), 4, 8, src.stride, &four.lut, 8, 16),
              -2);  // only true colour from 8-bit tables
    double out[3];
    unsigned colours[4] = {};
    unsigned short flags[4] = {};
    EXPECT_EQ(CKzPicMemAPI::SpetralGetMaxRGB(out, nullptr, 8, 8, 4, 0, 0, colours, flags, 1.0), -9);
    EXPECT_EQ(CKzPicMemAPI::SpetralGetMaxRGB(out, wide.data(), 8, 8, 200, 8, 16, colours, flags, 1.0), -2);
    EXPECT_EQ(CKzPicMemAPI::SpetralGetMaxRGBEx(out, wide.data(), 8, 20, 4, 8, 16, &g.lut), -2);
}

TEST(Display, ExposureMarkingPaintsTheColour)
{
    if (!kKzPicHaveCompose)
        GTEST_SKIP() << "composition kernels not built yet";
    LutGuard g;
    ASSERT_EQ(SKzLut::Alloc(g.lut, 8, 3, 8, 3), 0);
    FillTable(g.lut, 1);
    g.lut.pOverExpColor = static_cast<SKzLutExpColor*>(std::calloc(1, SKzLut::kExpColorBytes));
    *g.lut.pOverExpColor = {10, 20, 30, 0};
    uint8_t src[6] = {5, 255, 6, 5, 7, 6}, dst[6] = {};
    ASSERT_EQ(CKzPicMemAPI::MapComponentsMToN(dst, 3, 8, 6, src, 3, 8, 6, &g.lut, 2, 2), 0);
    EXPECT_EQ(dst[0], 10);
    EXPECT_EQ(dst[1], 20);
    EXPECT_EQ(dst[2], 30);
}

TEST(Display, StretchArguments)
{
    Pic src(40, 30, 3, 8, 1), dst(20, 10, 3, 8, 2);
    const Pic before = dst;
    using M = CKzPicMemAPI::EKzPicStretchMode;
    auto stretch = [&](unsigned dw, unsigned dh, unsigned l, unsigned t, unsigned w, unsigned h, int mode) {
        return CKzPicMemAPI::Stretch(dst.data(), 3, dst.stride, 8, dw, dh, src.data() + t * src.stride + l * 3,
                                     src.stride, 40, 30, l, t, w, h, M(mode));
    };
    EXPECT_EQ(stretch(0, 10, 0, 0, 40, 30, 0), 0);
    EXPECT_EQ(stretch(20, 0, 0, 0, 40, 30, 2), 0);
    EXPECT_EQ(stretch(20, 10, 1, 0, 40, 30, 0), -4);  // past the right edge
    EXPECT_EQ(stretch(20, 10, 0, 25, 10, 10, 3), -4);  // past the bottom
    EXPECT_EQ(stretch(20, 10, 0, 0, 0, 30, 0), -4);
    EXPECT_TRUE(pict::SameBytes(dst, before));
    EXPECT_EQ(CKzPicMemAPI::Stretch(dst.data(), 3, dst.stride, 20, 20, 10, src.data(), src.stride, 40, 30, 0, 0, 40, 30,
                                    M(0)),
              -2);
    for (int mode : {0, 1, 2, 3, 4, 5, 7}) {
        const int r = stretch(20, 10, 0, 0, 40, 30, mode);
        const bool quick = mode != 2 && mode != 3 && mode != 4 && mode != 5;
        EXPECT_EQ(r, (quick ? kKzPicHaveQuickStretch : true) ? 0 : -2) << mode;
    }
    SKzPicBuf a{}, b{};
    a.uiBpc = 8;
    b.uiBpc = 12;
    EXPECT_EQ(CKzPicBufAPI::Stretch(&a, &b, 0), -9);
}

TEST(Display, StretchDisplayArguments)
{
    Pic src(40, 30, 3, 8, 1), dst(20, 10, 3, 8, 2);
    const uint8_t bg[3] = {1, 2, 3};
    using M = CKzPicMemAPI::EKzPicStretchMode;
    auto show = [&](unsigned zw, unsigned zh, unsigned sy, unsigned wl, unsigned wt, unsigned ww, unsigned wh, int mode) {
        return CKzPicMemAPI::StretchDisplayEx(dst.data(), 20, 10, 3, dst.stride, 8, zw, zh, 0, sy,
                                              src.data() + wt * src.stride + wl * 3, wl, wt, ww, wh, 40, 30, src.stride,
                                              M(mode), const_cast<uint8_t*>(bg));
    };
    const Pic before = dst;
    EXPECT_EQ(show(80, 0, 0, 0, 0, 40, 30, 0), -9);
    EXPECT_EQ(show(0, 60, 0, 0, 0, 40, 30, 2), -9);
    EXPECT_EQ(show(80, 60, 0, 5, 0, 40, 30, 0), -4);  // window past the picture
    EXPECT_EQ(show(80, 60, 0, 0, 10, 10, 30, 3), -4);
    EXPECT_TRUE(pict::SameBytes(dst, before));
    // Scrolled below the last row: only background, 0.
    ASSERT_EQ(show(80, 60, 70, 0, 0, 40, 30, 2), 0);
    for (unsigned r = 0; r < 10; ++r)
        for (unsigned x = 0; x < 20; ++x)
            for (unsigned k = 0; k < 3; ++k)
                ASSERT_EQ(dst.get(r, x * 3 + k), bg[k]);
    EXPECT_EQ(show(80, 60, 0, 0, 0, 40, 30, 2), 0);
    EXPECT_EQ(show(80, 60, 0, 0, 0, 40, 30, 0), kKzPicHaveQuickStretch ? 0 : -2);
}

// The filtered modes compose the two passes by hand here: margin rows of the
// widened support above and below the rectangle or the rows in view.
template <class T>
void FilteredByHand(Pic& want, const Pic& src, unsigned dw, unsigned dh, unsigned l, unsigned t, unsigned w,
                    unsigned h, bool useBell)
{
    const unsigned D = useBell ? 3 : 2, c = src.comps;
    auto f = useBell ? bell : triangle;
    const unsigned E = h > dh ? unsigned(std::ceil(D * (double(h) / dh))) : D;
    const unsigned above = std::min(E, t), below = std::min(E, src.height - t - h), G = h + above + below;
    std::vector<T> mid(size_t(dw) * c * G);
    T* s = reinterpret_cast<T*>(const_cast<uint8_t*>(src.bytes.data()) + size_t(t - above) * src.stride) + l * c;
    ASSERT_EQ(stretch_generic_horz<T>(mid.data(), c, unsigned(dw * c * sizeof(T)), src.bits, dw, G, s, src.stride,
                                      src.width, src.height, l, t - above, w, G, f, D),
              0);
    ASSERT_EQ(stretch_generic_vert<T>(reinterpret_cast<T*>(want.data()), c, want.stride, src.bits, dw, dh,
                                      mid.data() + size_t(above) * dw * c, unsigned(dw * c * sizeof(T)), G, 0, above,
                                      dw, h, f, D),
              0);
}

template <class T>
void FilteredDisplayByHand(Pic& want, const Pic& src, unsigned dw, unsigned dh, unsigned zw, unsigned zh,
                           unsigned sx, unsigned sy, unsigned wl, unsigned wt, unsigned ww, unsigned wh, void* bg,
                           bool useBell)
{
    const unsigned D = useBell ? 3 : 2, c = src.comps;
    auto f = useBell ? bell : triangle;
    const double r = double(src.height) / zh;
    const long first = long(std::floor(sy * r));
    long m = long(std::ceil(dh * r));
    if (first + m > long(src.height))
        m = long(src.height) - first;
    const long E = r > 1 ? long(std::ceil(D * r)) : long(D);
    const long above = std::min(E, first), below = std::min(E, long(src.height) - first - m);
    CKzRectBase<int> band{int(sx), int(first - above), int(sx + dw), int(first + m + below)};
    const unsigned midStride = unsigned((dw * c * sizeof(T) + 3) & ~size_t(3));
    std::vector<uint8_t> mid(size_t(midStride) * unsigned(band.bottom - band.top));
    T* s = reinterpret_cast<T*>(const_cast<uint8_t*>(src.bytes.data()));
    ASSERT_EQ(stretch_generic_display_horz_ex<T>(reinterpret_cast<T*>(mid.data()), dw, dh, c, midStride, src.bits, zw,
                                                 zh, sx, sy, s, wl, wt, ww, wh, src.width, src.height, src.stride, f,
                                                 D, &band, bg),
              0);
    ASSERT_EQ(stretch_generic_display_vert<T>(reinterpret_cast<T*>(want.data()), dw, dh, c, want.stride, src.bits,
                                              zw, zh, sx, sy, reinterpret_cast<T*>(mid.data()), src.width,
                                              src.height, midStride, f, D, &band, false),
              0);
}

// The filtered and box-reduction modes give what the kernels give when
// called directly.
TEST(Display, FilteredAndBoxStretchModesGiveTheKernelsResult)
{
    using M = CKzPicMemAPI::EKzPicStretchMode;
    for (unsigned comps : {1u, 3u, 4u})
        for (unsigned bits : {8u, 12u}) {
            const unsigned sb = bits > 8 ? 2 : 1;
            Pic src(40, 30, comps, bits, 5);
            struct Geo {
                unsigned dw, dh, l, t, w, h;
            };
            for (const Geo& g : {Geo{17, 11, 5, 4, 30, 21}, Geo{61, 45, 0, 0, 40, 30}, Geo{9, 40, 3, 1, 36, 29}})
                for (int mode : {2, 3, 4}) {
                    Pic dst(g.dw, g.dh, comps, bits, 1), want(g.dw, g.dh, comps, bits, 1);
                    const size_t off = size_t(g.t) * src.stride + size_t(g.l) * comps * sb;
                    ASSERT_EQ(CKzPicMemAPI::Stretch(dst.data(), comps, dst.stride, bits, g.dw, g.dh, src.data() + off,
                                                    src.stride, 40, 30, g.l, g.t, g.w, g.h, M(mode)),
                              0);
                    if (bits == 8)
                        FilteredByHand<unsigned char>(want, src, g.dw, g.dh, g.l, g.t, g.w, g.h, mode != 3);
                    else
                        FilteredByHand<unsigned short>(want, src, g.dw, g.dh, g.l, g.t, g.w, g.h, mode != 3);
                    EXPECT_TRUE(pict::SameBytes(dst, want)) << comps << " " << bits << " mode " << mode;
                }
            // Box reduction of a rectangle.
            Pic dst(7, 5, comps, bits, 1), want(7, 5, comps, bits, 1);
            const size_t off = size_t(2) * src.stride + size_t(3) * comps * sb;
            ASSERT_EQ(CKzPicMemAPI::Stretch(dst.data(), comps, dst.stride, bits, 7, 5, src.data() + off, src.stride,
                                            40, 30, 3, 2, 35, 26, M(5)),
                      0);
            if (bits == 8)
                ASSERT_EQ(stretch_hybrid_mt_N<unsigned char>(want.data(), want.stride, 7, 5, src.data() + off,
                                                             src.stride, 35, 26, comps, bits),
                          0);
            else
                ASSERT_EQ(stretch_hybrid_mt_N<unsigned short>(reinterpret_cast<unsigned short*>(want.data()),
                                                              want.stride, 7, 5,
                                                              reinterpret_cast<unsigned short*>(src.data() + off),
                                                              src.stride, 35, 26, comps, bits),
                          0);
            EXPECT_TRUE(pict::SameBytes(dst, want)) << comps << " " << bits << " box";

            // Windowed filtered display: zoom in, zoom out, scrolled near the edge.
            std::vector<uint8_t> bg(comps * 2, 9);
            const unsigned wl = 3, wt = 2, ww = 20, wh = 15;
            const size_t woff = size_t(wt) * src.stride + size_t(wl) * comps * sb;
            struct View {
                unsigned zw, zh, sx, sy, dw, dh;
            };
            for (const View& v : {View{80, 60, 4, 3, 17, 11}, View{23, 13, 1, 2, 19, 9}, View{90, 70, 70, 55, 20, 20}})
                for (int mode : {2, 3}) {
                    Pic dst2(v.dw, v.dh, comps, bits, 1), want2(v.dw, v.dh, comps, bits, 1);
                    ASSERT_EQ(CKzPicMemAPI::StretchDisplayEx(dst2.data(), v.dw, v.dh, comps, dst2.stride, bits, v.zw,
                                                             v.zh, v.sx, v.sy, src.data() + woff, wl, wt, ww, wh, 40,
                                                             30, src.stride, M(mode), bg.data()),
                              0);
                    if (bits == 8)
                        FilteredDisplayByHand<unsigned char>(want2, src, v.dw, v.dh, v.zw, v.zh, v.sx, v.sy, wl, wt,
                                                             ww, wh, bg.data(), mode == 2);
                    else
                        FilteredDisplayByHand<unsigned short>(want2, src, v.dw, v.dh, v.zw, v.zh, v.sx, v.sy, wl, wt,
                                                              ww, wh, bg.data(), mode == 2);
                    EXPECT_TRUE(pict::SameBytes(dst2, want2)) << comps << " " << bits << " display " << mode;
                }
        }
}

// The quick modes reach the nearest-neighbour kernels with the rectangle,
// the window origin and the member chosen by depth and component count.
TEST(Display, QuickStretchModesGiveTheKernelsResult)
{
    if (!kKzPicHaveQuickStretch)
        GTEST_SKIP() << "nearest-neighbour kernels not in this build";
    using M = CKzPicMemAPI::EKzPicStretchMode;
    for (unsigned comps : {1u, 3u, 4u})
        for (unsigned bits : {8u, 12u}) {
            Pic src(40, 30, comps, bits, 3), dst(17, 11, comps, bits, 1), want(17, 11, comps, bits, 1);
            const unsigned l = 5, t = 4, w = 30, h = 21;
            const size_t off = size_t(t) * src.stride + size_t(l) * comps * (bits > 8 ? 2 : 1);
            ASSERT_EQ(CKzPicMemAPI::Stretch(dst.data(), comps, dst.stride, bits, 17, 11, src.data() + off, src.stride,
                                            40, 30, l, t, w, h, M(0)),
                      0);
            if (bits == 8)
                ASSERT_EQ(stretch_quick<unsigned char>(want.data(), comps, want.stride, bits, 17, 11,
                                                       src.data() + off, src.stride, 40, 30, l, t, w, h),
                          0);
            else
                ASSERT_EQ(stretch_quick<unsigned short>(reinterpret_cast<unsigned short*>(want.data()), comps,
                                                        want.stride, bits, 17, 11,
                                                        reinterpret_cast<unsigned short*>(src.data() + off),
                                                        src.stride, 40, 30, l, t, w, h),
                          0);
            EXPECT_TRUE(pict::SameBytes(dst, want)) << comps << " " << bits;

            // Windowed display: the dispatcher takes the window's first pixel.
            std::vector<uint8_t> bg(comps * 2, 9);
            const unsigned wl = 3, wt = 2, ww = 20, wh = 15;
            const size_t woff = size_t(wt) * src.stride + size_t(wl) * comps * (bits > 8 ? 2 : 1);
            ASSERT_EQ(CKzPicMemAPI::StretchDisplayEx(dst.data(), 17, 11, comps, dst.stride, bits, 80, 60, 4, 3,
                                                     src.data() + woff, wl, wt, ww, wh, 40, 30, src.stride, M(1),
                                                     bg.data()),
                      0);
            if (bits == 8)
                ASSERT_EQ(stretch_quick_display_ex<unsigned char>(want.data(), 17, 11, comps, want.stride, bits, 80, 60,
                                                                  4, 3, src.data(), wl, wt, ww, wh, 40, 30, src.stride,
                                                                  bg.data()),
                          0);
            else
                ASSERT_EQ(stretch_quick_display_ex<unsigned short>(
                              reinterpret_cast<unsigned short*>(want.data()), 17, 11, comps, want.stride, bits, 80, 60,
                              4, 3, reinterpret_cast<unsigned short*>(src.data()), wl, wt, ww, wh, 40, 30, src.stride,
                              bg.data()),
                          0);
            EXPECT_TRUE(pict::SameBytes(dst, want)) << "display " << comps << " " << bits;
        }
}

TEST(Display, PictureApplyLutsRoads)
{
    SKzPicBuf a, b;
    CKzPicBufAPI::Init(&a);
    CKzPicBufAPI::Init(&b);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&a, 5, 5, 0, 8, 3, true), 0);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&b, 5, 4, 0, 8, 3, true), 0);
    LutGuard g;
    ASSERT_EQ(SKzLut::AllocSingle(g.lut, 8, 8), 0);
    EXPECT_EQ(CKzPicBufAPI::ApplyLuts(&a, &b, &g.lut), -4);  // sizes differ
    EXPECT_EQ(CKzPicBufAPI::ApplyLuts(nullptr, &b, &g.lut), -4);
    CKzPicBufAPI::Free(&b);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&b, 5, 5, 0, 12, 4, true), 0);
    ASSERT_EQ(CKzPicBufAPI::Reinit(&a, 5, 5, 0, 12, 4, true), 0);
    EXPECT_EQ(CKzPicBufAPI::ApplyLuts(&a, &b, nullptr), -4);
    LutGuard l12;
    ASSERT_EQ(SKzLut::AllocSingle(l12.lut, 12, 12), 0);
    static_cast<uint16_t*>(l12.lut.pLut)[0] = 77;
    ASSERT_EQ(CKzPicBufAPI::ApplyLuts(&a, &b, &l12.lut), 0);  // zeros through the table
    EXPECT_EQ(reinterpret_cast<uint16_t*>(a.pData)[5], 77);
    LutGuard l2;
    ASSERT_EQ(SKzLut::Alloc(l2.lut, 12, 2, 12, 1), 0);
    EXPECT_EQ(CKzPicBufAPI::ApplyLuts(&a, &b, &l2.lut), -2);
    CKzPicBufAPI::Free(&a);
    CKzPicBufAPI::Free(&b);
}

} // namespace

#include "gnr_picture/KzSpectral.h"

namespace {

// A LUT with a parametric block renders spectrally: the dispatch gives what
// the spectral kernel gives for the same call, and the statistics get the
// flags as the kernels take them (bytes 0 / 0xFF for 8-bit samples).
TEST(Display, SpectralRoadsReachTheKernels)
{
    if (!kKzPicHaveSpectral)
        GTEST_SKIP() << "spectral kernels not built yet";
    for (unsigned bits : {8u, 12u}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        const unsigned comps = 5;
        Pic src(21, 6, comps, bits, 40 + bits), dst(21, 6, 3, 8, 1), direct = dst;
        LutGuard g;
        ASSERT_EQ(SKzLut::Alloc(g.lut, u8(bits), u8(comps), 8, 3), 0);
        ASSERT_EQ(SKzLut::ReinitParametric(g.lut), 0);
        const unsigned colours[comps] = {0x0000FF, 0x00FF00, 0xFF0000, 0x00FFFF, 0xFF00FF};
        for (unsigned k = 0; k < comps; ++k)
            g.lut.pParametric[k] = {double(k), 1.0 + 0.25 * k, 1.0, colours[k]};
        g.lut.maskComp.Reset();
        for (unsigned k : {0u, 1u, 3u, 4u})
            g.lut.maskComp.Set(k, true);
        ASSERT_EQ(CKzPicMemAPI::MapComponentsMToN(dst.data(), 3, 8, dst.stride, src.data(), comps, bits, src.stride,
                                                  &g.lut, 21, 126),
                  0);
        const int r = bits == 8 ? spect_render_Nx8_3x8_sse_overexp_underexp(direct.data(), direct.stride, src.data(), 8,
                                                                           src.stride, comps, &g.lut, 21, 126)
                                : spect_render_Nx16_3x8_sse_overexp_underexp(
                                      direct.data(), direct.stride, reinterpret_cast<unsigned short*>(src.data()), bits,
                                      src.stride, comps, &g.lut, 21, 126);
        ASSERT_EQ(r, 0);
        EXPECT_TRUE(pict::SameBytes(dst, direct));
        // Statistics.
        unsigned cols[comps];
        std::memcpy(cols, colours, sizeof cols);
        unsigned short flags[comps] = {0xFFFF, 0, 0xFFFF, 0xFFFF, 0};
        unsigned char byteFlags[comps] = {0xFF, 0, 0xFF, 0xFF, 0};
        double got[3] = {-1, -1, -1}, want[3] = {-2, -2, -2};
        ASSERT_EQ(CKzPicMemAPI::SpetralGetMaxRGB(got, src.data(), src.stride, bits, comps, 21, 126, cols, flags, 0.7),
                  0);
        const int r2 = bits == 8 ? spect_getmaxrgb_Nx8_sse(want, src.data(), src.stride, 8, comps, 21, 126, cols,
                                                           byteFlags, 0.7)
                                 : spect_getmaxrgb_Nx16_sse(want, reinterpret_cast<unsigned short*>(src.data()),
                                                            src.stride, bits, comps, 21, 126, cols, flags, 0.7);
        ASSERT_EQ(r2, 0);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(got[c], want[c]) << c;
        ASSERT_EQ(CKzPicMemAPI::SpetralGetMaxRGBEx(got, src.data(), src.stride, bits, comps, 21, 126, &g.lut), 0);
        const int r3 = bits == 8 ? spect_getmaxrgbex_Nx8_sse(want, src.data(), src.stride, 8, comps, 21, 126, &g.lut)
                                 : spect_getmaxrgbex_Nx16_sse(want, reinterpret_cast<unsigned short*>(src.data()),
                                                              src.stride, bits, comps, 21, 126, &g.lut);
        ASSERT_EQ(r3, 0);
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(got[c], want[c]) << c;
    }
}

} // namespace
