#include "gnr_picture/KzStretch.h"
#include "gnr_picture/internal/KzStretchFilterCore.h"
#include "gnr_picture/internal/KzStretchTwoPass.h"

#include "stretch_filtered_support.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace filtered_test;

#include "resample_reference.inc"

// Tap lists of a rectangle pass with the library's builder: n destination
// indexes from m source pixels (origin 0, source of m pixels, step 1).
std::vector<std::vector<long>> LibraryTaps(unsigned m, unsigned n, bool useBell, bool isFloat)
{
    kzfilt::Axis ax{};
    ax.n = n;
    ax.s = double(m) / double(n);
    const double D = useBell ? 3.0 : 2.0;
    ax.W = m > n ? std::ceil(D * ax.s) : D;
    ax.f = useBell ? (isFloat ? bellfloat : bell) : (isFloat ? trianglefloat : triangle);
    ax.o = 0;
    ax.S = m;
    ax.step = 1;
    ax.scale = isFloat ? 65536 : 1024;
    ax.round = !isFloat;
    kzfilt::Taps t;
    const double s = ax.s;
    EXPECT_EQ(kzfilt::BuildTaps(
                  t, ax, [s](size_t j) { return (double(j) + 0.5) * s - 0.5; },
                  [s](size_t j) { return (double(j) + 0.5) * s; }),
              0);
    std::vector<std::vector<long>> lists;
    for (size_t j = 0; j < n; ++j) {
        std::vector<long> l;
        for (size_t i = t.start[j]; i < t.start[j + 1]; ++i) {
            l.push_back(long(t.off[i]));
            l.push_back(long(t.wt[i]));
        }
        lists.push_back(l);
    }
    return lists;
}

TEST(StretchFiltered, FilterFunctions)
{
    struct Case {
        double x, tri, bel;
    };
    const Case cases[] = {{0.0, 1.0, 0.75},   {0.25, 0.75, 0.6875}, {-0.5, 0.5, 0.5},      {1.0, 0.0, 0.125},
                          {-1.25, 0.0, 0.03125}, {1.5, 0.0, 0.0},   {2.0, 0.0, 0.0},       {-7.0, 0.0, 0.0}};
    for (const Case& c : cases) {
        EXPECT_EQ(triangle(c.x), c.tri) << c.x;
        EXPECT_EQ(trianglefloat(c.x), c.tri) << c.x;
        EXPECT_EQ(bell(c.x), c.bel) << c.x;
        EXPECT_EQ(bellfloat(c.x), c.bel) << c.x;
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(triangle(nan), 0.0);
    EXPECT_EQ(bell(nan), 0.0);
}

TEST(StretchFiltered, TapListsMatchIndependentReference)
{
    for (const TapRef& r : kTapRef)
        EXPECT_EQ(LibraryTaps(r.m, r.n, r.bell, r.isFloat), r.lists)
            << r.m << " to " << r.n << (r.bell ? " bell" : " triangle") << (r.isFloat ? " float" : "");
    // The examples of the weights themselves.
    EXPECT_EQ(LibraryTaps(9, 9, true, false)[4], (std::vector<long>{3, 128, 4, 768, 5, 128}));
    EXPECT_EQ(LibraryTaps(9, 9, true, true)[4], (std::vector<long>{3, 8192, 4, 49152, 5, 8192}));
    EXPECT_EQ(LibraryTaps(30, 10, false, false)[1], (std::vector<long>{2, 113, 3, 227, 4, 344, 5, 227, 6, 113}));
    EXPECT_EQ(LibraryTaps(7, 3, false, false)[0], (std::vector<long>{0, 127, 0, 319, 1, 386, 2, 192, 3, 0}));
    // Past the all-zero-weight thresholds every list is one full-weight tap
    // at its centre.
    EXPECT_EQ(LibraryTaps(4100, 2, false, false)[1], (std::vector<long>{3075, 1024}));
    EXPECT_EQ(LibraryTaps(100000, 1, true, true)[0], (std::vector<long>{50000, 65536}));
}

// Runs the horizontal member for comps (1, 3 or plain) on the rectangle's rows.
template <class T>
int HorzInt(T* d, unsigned comps, unsigned ds, unsigned dw, unsigned rows, T* s, unsigned ss, unsigned sw,
            unsigned sh, unsigned l, unsigned t, unsigned w, unsigned h, bool useBell)
{
    auto f = useBell ? bell : triangle;
    const unsigned D = useBell ? 3 : 2;
    if (comps == 1)
        return stretch_generic_horz_1<T>(d, 1, ds, 0, dw, rows, s, ss, sw, sh, l, t, w, h, f, D);
    if (comps == 3)
        return stretch_generic_horz_3<T>(d, 3, ds, 0, dw, rows, s, ss, sw, sh, l, t, w, h, f, D);
    return stretch_generic_horz<T>(d, comps, ds, 0, dw, rows, s, ss, sw, sh, l, t, w, h, f, D);
}

int HorzFloat(float* d, unsigned comps, unsigned ds, unsigned dw, unsigned rows, float* s, unsigned ss, unsigned sh,
              unsigned l, unsigned t, unsigned w, unsigned h, bool useBell, bool validity)
{
    auto f = useBell ? bellfloat : trianglefloat;
    const unsigned D = useBell ? 3 : 2;
    auto fn = validity ? stretch_float_generic_horz_1_validity
                       : comps == 1 ? stretch_float_generic_horz_1
                                    : comps == 3 ? stretch_float_generic_horz_3 : stretch_float_generic_horz;
    return fn(d, comps, ds, dw, rows, s, ss, sh, l, t, w, h, f, D);
}

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

TEST(StretchFiltered, PassesAndCompositionMatchIndependentReference)
{
    for (const FilteredRectRef& r : kFilteredRectRef) {
        const std::string type = r.type, what = type + " case seed " + std::to_string(r.seed);
        const unsigned sb = SampleSize(type), rowSamples = r.dstW * r.comps;
        Seeded src(type, r.srcW, r.srcH, r.comps, r.pad, r.seed, r.maxValue);
        Padded horz(rowSamples * sb, r.h, 8), out(rowSamples * sb, r.dstH, 4);
        if (type == "u8" || type == "u16") {
            const auto run = [&](auto* tag) {
                using T = std::remove_pointer_t<decltype(tag)>;
                T* s = src.at<T>(r.l, r.t, r.comps);
                EXPECT_EQ(HorzInt<T>(reinterpret_cast<T*>(horz.bytes.data()), r.comps, horz.stride, r.dstW, r.h, s,
                                     src.stride, r.srcW, r.srcH, r.l, r.t, r.w, r.h, r.bell),
                          0);
                EXPECT_EQ(KzFilteredStretch<T>(reinterpret_cast<T*>(out.bytes.data()), r.comps, out.stride,
                                               type == "u8" ? 8 : 16, r.dstW, r.dstH, s, src.stride, r.srcW, r.srcH,
                                               r.l, r.t, r.w, r.h, r.bell),
                          0);
                ExpectSamples<T>(horz, r.horz, rowSamples, what + " horizontal");
                ExpectSamples<T>(out, r.out, rowSamples, what + " two-pass");
            };
            if (type == "u8")
                run(static_cast<unsigned char*>(nullptr));
            else
                run(static_cast<unsigned short*>(nullptr));
        } else {
            const bool validity = type == "val";
            float* s = src.at<float>(r.l, r.t, r.comps);
            EXPECT_EQ(HorzFloat(reinterpret_cast<float*>(horz.bytes.data()), r.comps, horz.stride, r.dstW, r.h, s,
                                src.stride, r.srcH, r.l, r.t, r.w, r.h, r.bell, validity),
                      0);
            EXPECT_EQ(KzFilteredStretchFloat(reinterpret_cast<float*>(out.bytes.data()), r.comps, out.stride, r.dstW,
                                             r.dstH, s, src.stride, r.srcH, r.l, r.t, r.w, r.h, r.bell, validity),
                      0);
            ExpectSamples<float>(horz, r.horz, rowSamples, what + " horizontal");
            ExpectSamples<float>(out, r.out, rowSamples, what + " two-pass");
        }
    }
}

// The worked examples, as one table over the sample types.
TEST(StretchFiltered, WorkedExamples)
{
    // Triangle enlarging 0, 255 to four pixels: 0, 63, 191, 255.
    {
        unsigned char s[2] = {0, 255}, d[4] = {};
        ASSERT_EQ(stretch_generic_horz_1<unsigned char>(d, 1, 4, 8, 4, 1, s, 2, 2, 1, 0, 0, 2, 1, triangle, 2), 0);
        EXPECT_EQ(std::vector<int>(d, d + 4), (std::vector<int>{0, 63, 191, 255}));
    }
    // Bell at equal size, rectangle at column 0: column 0 = (896 a + 128 b) >> 10.
    {
        unsigned short s[3] = {1000, 3000, 50}, d[3] = {};
        ASSERT_EQ(stretch_generic_horz_1<unsigned short>(d, 1, 6, 16, 3, 1, s, 6, 3, 1, 0, 0, 3, 1, bell, 3), 0);
        EXPECT_EQ(d[0], (896 * 1000 + 128 * 3000) >> 10);
        EXPECT_EQ(d[1], (128 * 1000 + 768 * 3000 + 128 * 50) >> 10);
        float fs[3] = {1.0f, 2.0f, 4.0f}, fd[3] = {};
        ASSERT_EQ(stretch_float_generic_horz_1(fd, 1, 12, 3, 1, fs, 12, 1, 0, 0, 3, 1, bellfloat, 3), 0);
        EXPECT_EQ(fd[1], (1.0f * 8192.0f + 2.0f * 49152.0f + 4.0f * 8192.0f) * 1.52587890625e-05f);
    }
    // Triangle at equal size copies the rectangle, in every sample type.
    {
        Seeded s8("u8", 9, 6, 3, 2, 5, 255), s16("u16", 9, 6, 3, 2, 6, 65535), sf("f32", 9, 6, 3, 4, 7, 0);
        std::vector<unsigned char> d8(5 * 4 * 3);
        std::vector<unsigned short> d16(5 * 4 * 3);
        std::vector<float> df(5 * 4 * 3);
        ASSERT_EQ(KzFilteredStretch<unsigned char>(d8.data(), 3, 15, 8, 5, 4, s8.at<unsigned char>(2, 1, 3), s8.stride,
                                                   9, 6, 2, 1, 5, 4, false),
                  0);
        ASSERT_EQ(KzFilteredStretch<unsigned short>(d16.data(), 3, 30, 16, 5, 4, s16.at<unsigned short>(2, 1, 3),
                                                    s16.stride, 9, 6, 2, 1, 5, 4, false),
                  0);
        ASSERT_EQ(KzFilteredStretchFloat(df.data(), 3, 60, 5, 4, sf.at<float>(2, 1, 3), sf.stride, 6, 2, 1, 5, 4,
                                         false, false),
                  0);
        for (unsigned y = 0; y < 4; ++y)
            for (unsigned i = 0; i < 15; ++i) {
                EXPECT_EQ(d8[y * 15 + i], s8.at<unsigned char>(2, y + 1, 3)[i]);
                EXPECT_EQ(d16[y * 15 + i], s16.at<unsigned short>(2, y + 1, 3)[i]);
                EXPECT_EQ(df[y * 15 + i], sf.at<float>(2, y + 1, 3)[i]);
            }
    }
    // A constant picture keeps its value at every scale, with both filters.
    for (const bool useBell : {false, true})
        for (const unsigned dw : {1u, 4u, 17u, 50u}) {
            std::vector<unsigned short> s(40 * 30, 4321), d(size_t(dw) * 13, 0);
            ASSERT_EQ(KzFilteredStretch<unsigned short>(d.data(), 1, dw * 2, 13, dw, 13, s.data(), 80, 40, 30, 0, 0,
                                                        40, 30, useBell),
                      0);
            for (unsigned short v : d)
                ASSERT_EQ(v, 4321) << dw << " bell " << useBell;
        }
    // Validity, bell at equal size, sample above invalid: (49152 b + 8192 c) / 57344;
    // three invalid samples give the invalid value; the next float up is valid.
    {
        const float b = 3.0f, c = 10.0f;
        float col[3] = {kInvalid, b, c}, out[3] = {};
        ASSERT_EQ(stretch_float_generic_vert_1_validity(out, 1, 4, 1, 3, col, 4, 3, 0, 0, 1, 3, bellfloat, 3), 0);
        EXPECT_EQ(out[1], (49152.0f * b + 8192.0f * c) / 57344.0f);
        const float nan = std::numeric_limits<float>::quiet_NaN();
        float bad[3] = {kInvalid, nan, -std::numeric_limits<float>::infinity()};
        ASSERT_EQ(stretch_float_generic_vert_1_validity(out, 1, 4, 1, 3, bad, 4, 3, 0, 0, 1, 3, bellfloat, 3), 0);
        EXPECT_EQ(out[1], kInvalid);
        const float up = std::nextafter(kInvalid, 0.0f);
        float edge[3] = {kInvalid, up, kInvalid};
        ASSERT_EQ(stretch_float_generic_vert_1_validity(out, 1, 4, 1, 3, edge, 4, 3, 0, 0, 1, 3, bellfloat, 3), 0);
        // Counted as valid; weight x sample overflows the float sum.
        EXPECT_TRUE(std::isinf(out[1]) && out[1] < 0);
    }
    // A float sample beyond the largest float / 65536 overflows its accumulator.
    {
        float s[3] = {1.0f, 1e34f, 1.0f}, d[3] = {};
        ASSERT_EQ(stretch_float_generic_horz_1(d, 1, 12, 3, 1, s, 12, 1, 0, 0, 3, 1, trianglefloat, 2), 0);
        EXPECT_TRUE(std::isinf(d[1]));
        EXPECT_EQ(d[0], 1.0f);
    }
}

double ZeroFilter(double) { return 0.0; }
double WideFilter(double x) { return std::fabs(x) < 6.0 ? 1.0 : 0.0; }  // handed with support 2
double NegativeFilter(double x) { return x < 0 ? -1.0 : triangle(x); }
double HugeFilter(double x) { return std::fabs(x) < 1.0 ? 1e300 : 0.0; }

TEST(StretchFiltered, RefusalsAndEmptyCalls)
{
    unsigned char s[64] = {}, d[64];
    std::memset(d, kPoison, sizeof d);
    struct Case {
        const char* what;
        int want;
        int got;
    };
    float fs[16] = {}, fd[16];
    const Case cases[] = {
        {"0 components", -4, stretch_generic_horz<unsigned char>(d, 0, 8, 8, 4, 2, s, 8, 8, 8, 0, 0, 8, 2, bell, 3)},
        {"_3 with 1", -4, stretch_generic_horz_3<unsigned char>(d, 1, 8, 8, 2, 2, s, 8, 8, 8, 0, 0, 8, 2, bell, 3)},
        {"_3 vert with 2", -4, stretch_generic_vert_3<unsigned char>(d, 2, 8, 8, 2, 2, s, 8, 8, 0, 0, 2, 8, bell, 3)},
        {"null filter", -4, stretch_generic_horz_1<unsigned char>(d, 1, 8, 8, 4, 2, s, 8, 8, 8, 0, 0, 8, 2, nullptr, 3)},
        {"empty rect", -4, stretch_generic_horz_1<unsigned char>(d, 1, 8, 8, 4, 2, s, 8, 8, 8, 0, 0, 0, 2, bell, 3)},
        {"empty source", -4, stretch_generic_horz_1<unsigned char>(d, 1, 8, 8, 4, 2, s, 8, 0, 8, 0, 0, 8, 2, bell, 3)},
        {"left outside", -4, stretch_generic_horz_1<unsigned char>(d, 1, 8, 8, 4, 2, s, 8, 8, 8, 8, 0, 1, 2, bell, 3)},
        {"top outside", -4, stretch_generic_vert_1<unsigned char>(d, 1, 8, 8, 4, 2, s, 8, 8, 0, 8, 4, 1, bell, 3)},
        {"empty rows", -4, stretch_generic_vert_1<unsigned char>(d, 1, 8, 8, 4, 2, s, 8, 8, 0, 0, 4, 0, bell, 3)},
        {"float width 0", -4, stretch_float_generic_horz_3(fd, 3, 16, 2, 1, fs, 8, 1, 0, 0, 1, 1, bellfloat, 3)},
        {"rows 0", 0, stretch_generic_horz_1<unsigned char>(d, 1, 8, 8, 4, 0, s, 8, 8, 8, 0, 0, 8, 2, bell, 3)},
        {"width 0", 0, stretch_generic_vert_1<unsigned char>(d, 1, 8, 8, 0, 4, s, 8, 8, 0, 0, 4, 8, bell, 3)},
        {"height 0", 0, stretch_float_generic_vert_1(fd, 1, 8, 4, 0, fs, 16, 4, 0, 0, 4, 4, bellfloat, 3)},
        {"two-pass rows outside", -4,
         KzFilteredStretch<unsigned char>(d, 1, 8, 8, 4, 4, s, 8, 8, 8, 0, 5, 8, 4, true)},
        {"two-pass validity 3", -2,
         KzFilteredStretchFloat(fd, 3, 48, 1, 1, fs, 48, 1, 0, 0, 1, 1, true, true)},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.got, c.want) << c.what;
    for (unsigned char v : d)
        EXPECT_EQ(v, kPoison);
}

TEST(StretchFiltered, HostFilters)
{
    Seeded src("u8", 12, 9, 1, 4, 3, 255);
    std::vector<unsigned char> d(7 * 5, 0);
    // Support 0 and an all-zero filter: every list falls back to its centre.
    for (double (*f)(double) : {ZeroFilter, triangle}) {
        ASSERT_EQ(stretch_generic_horz_1<unsigned char>(d.data(), 1, 7, 8, 7, 5, src.at<unsigned char>(0, 0, 1),
                                                        src.stride, 12, 9, 0, 0, 12, 9, f, 0),
                  0);
        if (f == ZeroFilter)
            for (unsigned j = 0; j < 7; ++j)
                EXPECT_EQ(d[j], src.at<unsigned char>(unsigned((j + 0.5) * (12.0 / 7.0)), 0, 1)[0]);
    }
    // A filter wider than its support, a negative one and a huge one stay
    // inside the picture and within the sample range.
    for (double (*f)(double) : {WideFilter, NegativeFilter, HugeFilter}) {
        ASSERT_EQ(KzFilteredStretch<unsigned char>(d.data(), 1, 7, 8, 7, 5, src.at<unsigned char>(1, 1, 1),
                                                   src.stride, 12, 9, 1, 1, 10, 7, true),
                  0);
        ASSERT_EQ(stretch_generic_vert_1<unsigned char>(d.data(), 1, 7, 8, 7, 5, src.at<unsigned char>(0, 2, 1),
                                                        src.stride, 9, 0, 2, 7, 6, f, 2),
                  0);
        ASSERT_EQ(stretch_generic_horz_1<unsigned char>(d.data(), 1, 7, 8, 7, 5, src.at<unsigned char>(3, 0, 1),
                                                        src.stride, 12, 9, 3, 0, 5, 5, f, 2),
                  0);
    }
}

TEST(StretchFiltered, PicturesEndingAtAGuardPage)
{
    // Every member on a source whose last byte precedes an inaccessible page,
    // at reductions, enlargements and huge ratios.
    const unsigned w = 13, h = 11;
    for (const unsigned comps : {1u, 3u, 4u})
        for (const bool useBell : {false, true})
            for (const auto& dims : {std::pair<unsigned, unsigned>{5, 4}, {40, 33}, {1, 1}, {300, 2}}) {
                const unsigned dw = dims.first, dh = dims.second;
                GuardBlock g8(size_t(w) * comps * h), g16(size_t(w) * comps * h * 2), gf(size_t(w) * comps * h * 4);
                ASSERT_TRUE(g8.data && g16.data && gf.data);
                std::vector<unsigned char> d8(size_t(dw) * dh * comps);
                std::vector<unsigned short> d16(d8.size());
                std::vector<float> df(d8.size());
                EXPECT_EQ(KzFilteredStretch<unsigned char>(d8.data(), comps, dw * comps, 8, dw, dh, g8.data, w * comps,
                                                           w, h, 0, 0, w, h, useBell),
                          0);
                EXPECT_EQ(KzFilteredStretch<unsigned short>(d16.data(), comps, dw * comps * 2, 12, dw, dh,
                                                            reinterpret_cast<unsigned short*>(g16.data),
                                                            w * comps * 2, w, h, 0, 0, w, h, useBell),
                          0);
                EXPECT_EQ(KzFilteredStretchFloat(df.data(), comps, dw * comps * 4, dw, dh,
                                                 reinterpret_cast<float*>(gf.data), w * comps * 4, h, 0, 0, w, h,
                                                 useBell, false),
                          0);
                if (comps == 1)
                    EXPECT_EQ(KzFilteredStretchFloat(df.data(), 1, dw * 4, dw, dh, reinterpret_cast<float*>(gf.data),
                                                     w * 4, h, 0, 0, w, h, useBell, true),
                              0);
                // A rectangle in the last rows and columns.
                EXPECT_EQ(KzFilteredStretch<unsigned char>(d8.data(), comps, dw * comps, 8, dw, dh,
                                                           g8.data + size_t(h - 3) * w * comps + size_t(w - 2) * comps,
                                                           w * comps, w, h, w - 2, h - 3, 2, 3, useBell),
                          0);
            }
}

TEST(StretchFiltered, ReductionsPastTheZeroWeightThresholds)
{
    // 4100 columns to 2 (triangle) and 3100 to 2 (bell) in the integer
    // kernels, 140000 to 2 in the float ones: single centre taps.
    std::vector<unsigned char> s8(4100);
    for (size_t i = 0; i < s8.size(); ++i)
        s8[i] = (unsigned char)(i * 7);
    unsigned char d8[2];
    ASSERT_EQ(stretch_generic_horz_1<unsigned char>(d8, 1, 2, 8, 2, 1, s8.data(), 4100, 4100, 1, 0, 0, 4100, 1,
                                                    triangle, 2),
              0);
    EXPECT_EQ(d8[0], s8[1025]);
    EXPECT_EQ(d8[1], s8[3075]);
    ASSERT_EQ(stretch_generic_vert_1<unsigned char>(d8, 1, 1, 8, 1, 2, s8.data(), 1, 3100, 0, 0, 1, 3100, bell, 3), 0);
    EXPECT_EQ(d8[0], s8[775]);
    EXPECT_EQ(d8[1], s8[2325]);
    std::vector<float> sf(140000);
    for (size_t i = 0; i < sf.size(); ++i)
        sf[i] = float(i);
    float df[2];
    ASSERT_EQ(stretch_float_generic_horz_1(df, 1, 8, 2, 1, sf.data(), 560000, 1, 0, 0, 140000, 1, trianglefloat, 2),
              0);
    EXPECT_EQ(df[0], 35000.0f);
    EXPECT_EQ(df[1], 105000.0f);
}

} // namespace
