#include "gnr_picture/KzStretch.h"
#include "gnr_picture/internal/KzStretchTwoPass.h"

#include "stretch_filtered_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace filtered_test;

#include "resample_reference.inc"

template <class T>
void ExpectSamples(const Padded& p, const std::vector<double>& want, unsigned rowSamples, const std::string& what)
{
    ASSERT_EQ(p.bytes.size() / p.stride * rowSamples, want.size()) << what;
    size_t bad = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        const T got = p.Sample<T>(i, rowSamples);
        if (!(double(got) == want[i]) && bad++ < 5)
            ADD_FAILURE() << what << " sample " << i << ": " << double(got) << " want " << want[i];
    }
    EXPECT_EQ(bad, 0u) << what;
    EXPECT_TRUE(p.PaddingIntact()) << what;
}

template <class T>
void RunDisplayCase(const FilteredDisplayRef& r, Seeded& src, Padded& out, const std::string& what)
{
    const unsigned rowSamples = r.dstW * r.comps;
    T* d = reinterpret_cast<T*>(out.bytes.data());
    const unsigned bits = sizeof(T) == 1 ? 8 : sizeof(T) == 2 ? 16 : 0;
    if (r.windowed) {
        if constexpr (!std::is_same_v<T, float>) {
            std::vector<T> bg(r.background.begin(), r.background.end());
            // Everything outside the window is poison the pass must not read.
            Seeded poisoned = src;
            for (unsigned y = 0; y < r.srcH; ++y)
                for (unsigned x = 0; x < r.srcW; ++x)
                    if (x < r.winL || x >= r.winL + r.winW || y < r.winT || y >= r.winT + r.winH)
                        for (unsigned c = 0; c < r.comps; ++c)
                            poisoned.at<T>(x, y, r.comps)[c] = T(0x5A5A);
            EXPECT_EQ(KzFilteredDisplayEx<T>(d, r.dstW, r.dstH, r.comps, out.stride, bits, r.zoomW, r.zoomH,
                                             r.scrollX, r.scrollY, poisoned.at<T>(0, 0, r.comps), r.winL, r.winT,
                                             r.winW, r.winH, r.srcW, r.srcH, poisoned.stride, r.bell, bg.data()),
                      0);
        }
    } else {
        EXPECT_EQ(KzFilteredDisplay<T>(d, r.dstW, r.dstH, r.comps, out.stride, bits, r.zoomW, r.zoomH, r.scrollX,
                                       r.scrollY, src.at<T>(0, 0, r.comps), r.srcW, r.srcH, src.stride, r.bell,
                                       r.flipH, r.flipV),
                  0);
    }
    ExpectSamples<T>(out, r.out, rowSamples, what);
}

TEST(StretchFilteredDisplay, CompositionMatchesIndependentReference)
{
    // Flips, scrolls past the zoomed edge, reductions, enlargements and data
    // windows, on padded pictures.
    for (const FilteredDisplayRef& r : kFilteredDisplayRef) {
        const std::string type = r.type, what = type + " display seed " + std::to_string(r.seed);
        Seeded src(type, r.srcW, r.srcH, r.comps, r.pad, r.seed, r.maxValue);
        Padded out(r.dstW * r.comps * SampleSize(type), r.dstH, 4);
        if (type == "u8")
            RunDisplayCase<unsigned char>(r, src, out, what);
        else if (type == "u16")
            RunDisplayCase<unsigned short>(r, src, out, what);
        else
            RunDisplayCase<float>(r, src, out, what);
    }
}

// The horizontal pass alone into a band of all source rows.
template <class T>
std::vector<T> Horz(const std::vector<T>& src, unsigned w, unsigned h, unsigned comps, unsigned zoomW, unsigned sx,
                    unsigned dstW, bool useBell, bool flip)
{
    std::vector<T> d(size_t(dstW) * h * comps);
    CKzRectBase<int> band{int(sx), 0, int(sx + dstW), int(h)};
    auto f = useBell ? bell : triangle;
    const int r = stretch_generic_display_horz<T>(d.data(), dstW, 0, comps, unsigned(dstW * comps * sizeof(T)), 8,
                                                  zoomW, 0, sx, 0, const_cast<T*>(src.data()), w, h,
                                                  unsigned(w * comps * sizeof(T)), f, useBell ? 3 : 2, &band, flip);
    EXPECT_EQ(r, 0);
    return d;
}

TEST(StretchFilteredDisplay, WorkedExamples)
{
    // Triangle at equal size and scroll (0, 0): the top-left block unchanged.
    {
        Seeded s("u8", 11, 9, 3, 2, 61, 255);
        std::vector<unsigned char> d(6 * 5 * 3);
        ASSERT_EQ(KzFilteredDisplay<unsigned char>(d.data(), 6, 5, 3, 18, 8, 11, 9, 0, 0, s.at<unsigned char>(0, 0, 3),
                                                   11, 9, s.stride, false, false, false),
                  0);
        for (unsigned y = 0; y < 5; ++y)
            EXPECT_EQ(0, std::memcmp(&d[y * 18], s.at<unsigned char>(0, y, 3), 18)) << y;
    }
    // Twice the width, the triangle: 0, 255 -> 0, 63, 191, 255.
    EXPECT_EQ(Horz<unsigned char>({0, 255}, 2, 1, 1, 4, 0, 4, false, false),
              (std::vector<unsigned char>{0, 63, 191, 255}));
    // Flip: column j shows what column dstW - 1 - j shows unflipped.
    {
        std::vector<unsigned short> s(40);
        for (size_t i = 0; i < s.size(); ++i)
            s[i] = (unsigned short)(i * i * 37 % 4096);
        for (const bool useBell : {false, true}) {
            const auto a = Horz<unsigned short>(s, 20, 2, 1, 33, 5, 9, useBell, false);
            const auto b = Horz<unsigned short>(s, 20, 2, 1, 33, 5, 9, useBell, true);
            for (unsigned y = 0; y < 2; ++y)
                for (unsigned j = 0; j < 9; ++j)
                    EXPECT_EQ(b[y * 9 + j], a[y * 9 + 8 - j]);
        }
    }
    // Float bell at equal size weighs in 1/1024: (128 a + 768 b + 128 c) x 2^-10.
    {
        const auto d = Horz<float>({1.5f, -2.0f, 8.25f, 3.0f}, 4, 1, 1, 4, 0, 4, true, false);
        EXPECT_EQ(d[1], (1.5f * 128.0f + -2.0f * 768.0f + 8.25f * 128.0f) * 0.0009765625f);
        const auto big = Horz<float>({1.0f, 1e36f, 1.0f}, 3, 1, 1, 3, 0, 3, true, false);
        EXPECT_TRUE(std::isinf(big[1]));
    }
    // Windowed bell at equal size: at window left the candidate left of the
    // window is left out, 768 and 128 become 877 and 147.
    {
        const unsigned char s[6] = {250, 250, 100, 200, 30, 30};
        unsigned char d[6] = {}, bg = 9;
        CKzRectBase<int> band{0, 0, 6, 1};
        ASSERT_EQ(stretch_generic_display_horz_ex_1<unsigned char>(d, 6, 0, 1, 6, 8, 6, 0, 0, 0,
                                                                   const_cast<unsigned char*>(s), 2, 0, 2, 1, 6, 1, 6,
                                                                   bell, 3, &band, &bg),
                  0);
        EXPECT_EQ(d[2], (877 * 100 + 147 * 200) >> 10);
        EXPECT_EQ(d[3], (146 * 100 + 878 * 200) >> 10);  // shortfall on index 1
        EXPECT_EQ(d[1], 100);
        EXPECT_EQ(d[4], 200);
        // Columns whose filter reaches no window column get the background.
        EXPECT_EQ(d[0], 9);
        EXPECT_EQ(d[5], 9);
    }
    // A window covering the whole picture equals the plain pass without flip;
    // rows outside a window are background only.
    {
        Seeded s("u16", 14, 10, 3, 4, 62, 65535);
        std::vector<unsigned short> a(9 * 10 * 3), b(a.size());
        CKzRectBase<int> band{2, 0, 11, 10};
        const unsigned short bg[3] = {1, 2, 3};
        ASSERT_EQ(stretch_generic_display_horz_3<unsigned short>(a.data(), 9, 0, 3, 54, 16, 17, 0, 2, 0,
                                                                 s.at<unsigned short>(0, 0, 3), 14, 10, s.stride,
                                                                 bell, 3, &band, false),
                  0);
        ASSERT_EQ(stretch_generic_display_horz_ex_3<unsigned short>(
                      b.data(), 9, 0, 3, 54, 16, 17, 0, 2, 0, s.at<unsigned short>(0, 0, 3), 0, 0, 14, 10, 14, 10,
                      s.stride, bell, 3, &band, const_cast<unsigned short*>(bg)),
                  0);
        EXPECT_EQ(a, b);
        ASSERT_EQ(stretch_generic_display_horz_ex_3<unsigned short>(
                      b.data(), 9, 0, 3, 54, 16, 17, 0, 2, 0, s.at<unsigned short>(0, 0, 3), 0, 3, 14, 4, 14, 10,
                      s.stride, bell, 3, &band, const_cast<unsigned short*>(bg)),
                  0);
        for (unsigned y = 0; y < 10; ++y)
            for (unsigned i = 0; i < 27; ++i)
                if (y < 3 || y >= 7)
                    EXPECT_EQ(b[y * 27 + i], bg[i % 3]) << y;
                else
                    EXPECT_EQ(b[y * 27 + i], a[y * 27 + i]) << y;
    }
}

TEST(StretchFilteredDisplay, RefusalsAndEmptyBands)
{
    unsigned char s[64] = {}, d[64], bg[3] = {7, 7, 7};
    std::memset(d, kPoison, sizeof d);
    CKzRectBase<int> band{0, 0, 4, 4}, negative{0, -1, 4, 4}, tall{0, 0, 4, 9};
    struct Case {
        const char* what;
        int want;
        int got;
    };
    const Case cases[] = {
        {"zoom width 0", -9,
         stretch_generic_display_horz_1<unsigned char>(d, 4, 4, 1, 4, 8, 0, 4, 0, 0, s, 8, 8, 8, bell, 3, &band, false)},
        {"zoom height 0", -9,
         stretch_generic_display_vert_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 0, 0, 0, s, 8, 8, 8, bell, 3, &band, false)},
        {"zoom 0 before components", -9,
         stretch_generic_display_horz_ex<unsigned char>(d, 4, 4, 0, 4, 8, 0, 4, 0, 0, s, 0, 0, 8, 8, 8, 8, 8, bell, 3,
                                                        &band, bg)},
        {"0 components", -4,
         stretch_generic_display_horz<unsigned char>(d, 4, 4, 0, 4, 8, 4, 4, 0, 0, s, 8, 8, 8, bell, 3, &band, false)},
        {"_3 with 2", -4,
         stretch_generic_display_vert_3<unsigned char>(d, 4, 4, 2, 8, 8, 4, 4, 0, 0, s, 8, 8, 8, bell, 3, &band, false)},
        {"null filter", -4,
         stretch_generic_display_horz_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 8, 8, 8, nullptr, 3, &band,
                                                       false)},
        {"null band", -4,
         stretch_generic_display_vert_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 8, 8, 8, bell, 3, nullptr,
                                                       false)},
        {"null background", -4,
         stretch_generic_display_horz_ex_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 0, 0, 8, 8, 8, 8, 8, bell,
                                                          3, &band, nullptr)},
        {"band top < 0", -4,
         stretch_generic_display_horz_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 8, 8, 8, bell, 3, &negative,
                                                       false)},
        {"band past the source", -4,
         stretch_generic_display_horz_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 8, 8, 8, bell, 3, &tall,
                                                       false)},
        {"vertical band past the source", -4,
         stretch_generic_display_vert_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 8, 8, 8, bell, 3, &tall,
                                                       false)},
        {"window outside", -4,
         stretch_generic_display_horz_ex_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 5, 0, 4, 8, 8, 8, 8, bell,
                                                          3, &band, bg)},
        {"empty source", -4,
         stretch_generic_display_horz_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 0, 8, 8, bell, 3, &band,
                                                       false)},
        {"dst width 0", 0,
         stretch_generic_display_horz_1<unsigned char>(d, 0, 4, 1, 4, 8, 4, 4, 0, 0, s, 8, 8, 8, bell, 3, &band,
                                                       false)},
        {"two-pass zoom 0", -9,
         KzFilteredDisplayEx<unsigned char>(d, 4, 4, 1, 4, 8, 4, 0, 0, 0, s, 0, 0, 8, 8, 8, 8, 8, true, bg)},
        {"two-pass window outside", -4,
         KzFilteredDisplayEx<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 0, 0, 8, 9, 8, 8, 8, true, bg)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
    for (unsigned char v : d)
        EXPECT_EQ(v, kPoison);
    // An empty band: the horizontal pass writes nothing, the vertical pass zeros.
    CKzRectBase<int> empty{0, 5, 4, 5};
    EXPECT_EQ(stretch_generic_display_horz_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 8, 8, 8, bell, 3, &empty,
                                                            false),
              0);
    EXPECT_EQ(d[0], kPoison);
    EXPECT_EQ(stretch_generic_display_vert_1<unsigned char>(d, 4, 4, 1, 4, 8, 4, 4, 0, 0, s, 8, 8, 8, bell, 3, &empty,
                                                            false),
              0);
    for (unsigned i = 0; i < 16; ++i)
        EXPECT_EQ(d[i], 0);
    // The view far below the zoomed picture: zeros from the composition too.
    std::vector<float> fs(64, 5.0f), fd(12, 1.0f);
    EXPECT_EQ(KzFilteredDisplay<float>(fd.data(), 4, 3, 1, 16, 0, 8, 8, 0, 40, fs.data(), 8, 8, 32, true, false,
                                       false),
              0);
    for (float v : fd)
        EXPECT_EQ(v, 0.0f);
}

TEST(StretchFilteredDisplay, PicturesEndingAtAGuardPage)
{
    const unsigned w = 13, h = 11;
    struct View {
        unsigned zw, zh, sx, sy, dw, dh;
    };
    const View views[] = {{13, 11, 0, 0, 13, 11}, {5, 4, 1, 0, 5, 4},    {80, 70, 60, 55, 30, 30},
                          {80, 70, 70, 60, 40, 40}, {1, 1, 0, 0, 3, 3}, {3000, 7, 2990, 6, 50, 9}};
    for (const unsigned comps : {1u, 3u, 4u})
        for (const bool useBell : {false, true})
            for (const View& v : views) {
                GuardBlock g8(size_t(w) * comps * h), g16(size_t(w) * comps * h * 2), gf(size_t(w) * comps * h * 4);
                ASSERT_TRUE(g8.data && g16.data && gf.data);
                std::vector<unsigned char> d8(size_t(v.dw) * v.dh * comps);
                std::vector<unsigned short> d16(d8.size());
                std::vector<float> df(d8.size());
                const unsigned short bg[4] = {1, 2, 3, 4};
                for (const bool flip : {false, true}) {
                    EXPECT_EQ(KzFilteredDisplay<float>(df.data(), v.dw, v.dh, comps, v.dw * comps * 4, 0, v.zw, v.zh,
                                                       v.sx, v.sy, reinterpret_cast<float*>(gf.data), w, h,
                                                       w * comps * 4, useBell, flip, !flip),
                              0);
                    EXPECT_EQ(KzFilteredDisplay<unsigned char>(d8.data(), v.dw, v.dh, comps, v.dw * comps, 8, v.zw,
                                                               v.zh, v.sx, v.sy, g8.data, w, h, w * comps, useBell,
                                                               !flip, flip),
                              0);
                }
                EXPECT_EQ(KzFilteredDisplayEx<unsigned short>(d16.data(), v.dw, v.dh, comps, v.dw * comps * 2, 12,
                                                              v.zw, v.zh, v.sx, v.sy,
                                                              reinterpret_cast<unsigned short*>(g16.data), 2, 3, w - 2,
                                                              h - 3, w, h, w * comps * 2, useBell,
                                                              const_cast<unsigned short*>(bg)),
                          0);
            }
}

} // namespace
