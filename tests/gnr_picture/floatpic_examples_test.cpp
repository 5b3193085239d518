// The documented examples of the float picture operations, one table per
// area: each row runs one example and lists the values it must give.

#include "floatpic_support.h"

#include "gnr_picture/KzIntFilters.h"
#include "gnr_picture/internal/KzPicKernelFamilies.h"

#if KZ_PIC_HAVE_SPECTRAL_KERNELS
#include "gnr_picture/KzSpectral.h"
#endif

#include <functional>

using namespace floatpic_test;
using F = CKzFloatPicBufAPI;
using M = CKzFloatPicMemAPI;
using P = CKzPicBufAPI;

namespace {

struct Example {
    const char* what;
    std::function<std::vector<double>()> run;
    std::vector<double> want;
    double tol = 0;  // absolute; 0: exact (NaN equal to NaN)
};

void RunTable(const std::vector<Example>& table)
{
    for (const Example& e : table) {
        const std::vector<double> got = e.run();
        ASSERT_EQ(got.size(), e.want.size()) << e.what;
        for (size_t i = 0; i < got.size(); ++i) {
            const bool same = (std::isnan(got[i]) && std::isnan(e.want[i])) || got[i] == e.want[i] ||
                              (e.tol > 0 && std::fabs(got[i] - e.want[i]) <= e.tol);
            EXPECT_TRUE(same) << e.what << ", value " << i << ": " << got[i] << " instead of " << e.want[i];
        }
    }
}

void Fill(FPic& p, std::initializer_list<float> v)
{
    std::vector<float> a(v);
    p.fill(a.data());
}

void Constant(FPic& p, float v)
{
    for (unsigned y = 0; y < p->uiHeight; ++y)
        for (unsigned x = 0; x < p->uiWidth; ++x)
            for (unsigned k = 0; k < p->uiComp; ++k)
                p.at(x, y, k) = v;
}

constexpr double kMax = 3.4028234663852886e38;

TEST(FloatPicExamples, RawMemory)
{
    RunTable({
        {"standard tail, width 0: 0, nothing written",
         [] {
             float a[4] = {1, 2, 3, 4}, d[4] = {-1, -1, -1, -1};
             const int r = M::AddFloatnConst(d, 16, a, 16, 1.0f, 1, 0, 4);
             return std::vector<double>{double(r), d[0]};
         },
         {0, -1}},
        {"standard tail, count 0: 0, nothing written",
         [] {
             float a[4] = {1, 2, 3, 4}, d[4] = {-1, -1, -1, -1};
             const int r = M::MultiFloatnConst(d, 16, a, 16, 2.0f, 1, 4, 0);
             return std::vector<double>{double(r), d[0]};
         },
         {0, -1}},
        {"count not a multiple of the width: the partial row is ignored",
         [] {
             float a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, d[8] = {0, 0, 0, 0, -1, -1, -1, -1};
             const int r = M::Abs(d, 16, a, 16, 1, 4, 7);
             return std::vector<double>{double(r), d[3], d[4]};
         },
         {0, 4, -1}},
        {"DivFloatnFloat: 0 where the divisor is 0 or NaN",
         [] {
             float a[3] = {6, 5, 7}, b[3] = {3, 0, kNaN}, d[3];
             M::DivFloatnFloat(d, 12, a, 12, b, 12, 1, 3, 3);
             return std::vector<double>{d[0], d[1], d[2]};
         },
         {2, 0, 0}},
        {"DivConstnFloat: 0 where the sample is 0",
         [] {
             float a[2] = {4, 0}, d[2];
             M::DivConstnFloat(d, 8, 2.0f, a, 8, 1, 2, 2);
             return std::vector<double>{double(d[0]), double(d[1])};
         },
         {0.5, 0}},
        {"ConvertFloatToPicture, stretch off, fMin 10: 10.4 -> 0, 300 -> 255",
         [] {
             float s[2] = {10.4f, 300.0f};
             unsigned char d[2];
             M::ConvertFloatToPicture(d, 8, 2, s, 10.0f, 0.0f, false, 8, 1, 2, 1);
             return std::vector<double>{double(d[0]), double(d[1])};
         },
         {0, 255}},
        {"ConvertFloatToPicture, stretch 0..1: 0.5 -> 128",
         [] {
             float s = 0.5f;
             unsigned char d;
             M::ConvertFloatToPicture(&d, 8, 1, &s, 0.0f, 1.0f, true, 4, 1, 1, 1);
             return std::vector<double>{double(d)};
         },
         {128}},
        {"MedianComp of 4, 1, 3, 2: 3",
         [] {
             float v[4] = {4, 1, 3, 2}, out;
             M::MedianComp(&out, v, 4, 1, 1);
             return std::vector<double>{out};
         },
         {3}},
        {"DeviationComp of one pixel: NaN",
         [] {
             float v = 5, mean = 5, dev = 0;
             M::DeviationComp(&dev, &mean, &v, 1, 1, 1);
             return std::vector<double>{dev};
         },
         {std::nan("")}},
        {"SetComponentValue stores 1000.5",
         [] {
             float d[6] = {};
             M::SetComponentValue(d, 3, 24, 2, 1000.5f, 2, 2);
             return std::vector<double>{d[2], d[5], d[1]};
         },
         {1000.5, 1000.5, 0}},
        {"ExpandComponent into three components: each grey sample three times",
         [] {
             float g[2] = {7, 9}, d[6];
             M::ExpandComponent(d, 3, 24, g, 8, 2, 2);
             return std::vector<double>(d, d + 6);
         },
         {7, 7, 7, 9, 9, 9}},
    });
}

TEST(FloatPicExamples, Buffer)
{
    RunTable({
        {"Reinit, stride 0, 3 x 2 of 3 components: stride 36, size 72, 32 bits",
         [] {
             FPic p;
             const int r = F::Reinit(p.get(), 3, 2, 0, 3, false);
             return std::vector<double>{double(r), double(p->uiWidthBytes), double(p->uiSize), double(p->uiBpc)};
         },
         {0, 36, 72, 32}},
        {"Reinit to width 0: -3, no block, every shape field 0",
         [] {
             FPic p(4, 4, 2);
             const int r = F::Reinit(p.get(), 0, 4, 0, 2, false);
             return std::vector<double>{double(r), double(p->pData != nullptr), double(p->uiWidth),
                                        double(p->uiHeight), double(p->uiWidthBytes), double(p->uiComp),
                                        double(p->uiSize), double(p->uiBpc)};
         },
         {-3, 0, 0, 0, 0, 0, 0, 0}},
        {"Free keeps the shape and range; Reinit allocates afresh",
         [] {
             FPic p(5, 3, 2);
             p->fMin = -1;
             p->fMax = 8;
             F::Free(p.get());
             std::vector<double> v{double(p->pData != nullptr), double(p->uiWidth),       double(p->uiHeight),
                                   double(p->uiWidthBytes),     double(p->uiSize),        p->fMin,
                                   p->fMax};
             v.push_back(F::Reinit(p.get(), 5, 3, 0, 2, true));
             v.push_back(p->pData != nullptr);
             return v;
         },
         {0, 5, 3, 40, 120, -1, 8, 0, 1}},
        {"Check: option 7 false, option 0 ignores components and bits",
         [] {
             FPic a(4, 3, 2), b(4, 3, 1);
             b->uiBpc = 16;
             return std::vector<double>{double(F::Check(a.get(), b.get(), F::CheckOptions(7))),
                                        double(F::Check(a.get(), b.get(), F::eCheckSize))};
         },
         {0, 1}},
        {"ConvertFromPicBuf of 12 bits: range 0 .. 4095, unscaled; 32 bits: -2",
         [] {
             IPic i12(2, 1, 12, 1), i32(2, 1, 32, 1);
             i12.at<unsigned short>(1, 0) = 4095;
             i12.at<unsigned short>(0, 0) = 3;
             FPic f;
             const int r = F::ConvertFromPicBuf(f.get(), i12.get());
             return std::vector<double>{double(r),   f->fMin, f->fMax, f.at(0, 0), f.at(1, 0),
                                        double(F::ConvertFromPicBuf(f.get(), i32.get()))};
         },
         {0, 0, 4095, 3, 4095, -2}},
        {"DivideComponents: a 0 denominator gives (2^bits - 1) x scale + offset, negatives 0",
         [] {
             IPic s(2, 1, 12, 2);
             s.at<unsigned short>(0, 0) = 10;  // denominator 0
             s.at<unsigned short>(1, 0) = 1;
             s.at<unsigned short>(1, 0, 1) = 4;
             FPic d(2, 1, 1);
             F::DivideComponents(d.get(), s.get(), 0, 1, 2.0, 3.0);
             std::vector<double> v{d.at(0, 0), d.at(1, 0)};
             F::DivideComponents(d.get(), s.get(), 0, 1, 1.0, -5.0);
             v.push_back(d.at(1, 0));
             return v;
         },
         {4095 * 2 + 3, 3.5, 0}},
        {"ColorToGray of pictures of different widths: -9, nothing written",
         [] {
             FPic rgb(3, 2, 3), grey(2, 2, 1);
             grey.at(0, 0) = 42;
             return std::vector<double>{double(F::ColorToGray(grey.get(), rgb.get())), grey.at(0, 0)};
         },
         {-9, 42}},
        {"ConvertBGRtoRGB in place: first and third swapped, fourth alone",
         [] {
             FPic p(1, 1, 4);
             Fill(p, {1, 2, 3, 4});
             F::ConvertBGRtoRGB(p.get(), p.get());
             return std::vector<double>{p.at(0, 0, 0), p.at(0, 0, 1), p.at(0, 0, 2), p.at(0, 0, 3)};
         },
         {3, 2, 1, 4}},
        {"StretchRect with equal rectangle sizes copies exactly, also with the bell",
         [] {
             FPic s(3, 3, 1), d(4, 4, 1);
             Fill(s, {0, 0, 0, 0, 90, 0, 0, 0, 0});
             F::StretchRect(d.get(), 1, 1, 3, 3, s.get(), 0, 0, 3, 3, 2);
             return std::vector<double>{d.at(2, 2), d.at(1, 2), d.at(0, 0)};
         },
         {90, 0, 0}},
        {"Swap exchanges the value ranges with the blocks",
         [] {
             FPic a(1, 1, 1), b(2, 1, 1);
             a->fMax = 10;
             b->fMax = 20;
             float* blockA = a->pData;
             F::Swap(a.get(), b.get());
             return std::vector<double>{a->fMax, b->fMax, double(b->pData == blockA), double(a->uiWidth)};
         },
         {20, 10, 1, 2}},
    });
}

TEST(FloatPicExamples, Filters)
{
    RunTable({
        {"SmoothSquare_1xfloat, size 3 on 3 x 3: corner = mean of 2 x 2, centre = mean of 9",
         [] {
             FPic s(3, 3, 1), d(3, 3, 1);
             Fill(s, {1, 2, 3, 4, 5, 6, 7, 8, 9});
             SmoothSquare_1xfloat(d.get(), s.get(), 3);
             return std::vector<double>{d.at(0, 0), d.at(1, 1), d.at(2, 2)};
         },
         {3, 5, 7},
         1e-6},
        {"SmoothSquare size 1: -9; SmoothSquare_1xfloat size 1: -2",
         [] {
             FPic s(3, 3, 1), d(3, 3, 1);
             return std::vector<double>{double(F::SmoothSquare(d.get(), s.get(), 1)),
                                        double(SmoothSquare_1xfloat(d.get(), s.get(), 1))};
         },
         {-9, -2}},
        {"Gauss of size 5: sigma 5/3, centre entry 1",
         [] {
             float k[25];
             GetGauss(k, 5, 5 * 0.33333334f);
             return std::vector<double>{k[12], double(k[11] < 1.0f), double(k[0] < k[1])};
         },
         {1, 1, 1}},
        {"Smooth of a constant: the constant everywhere, edges included",
         [] {
             FPic s(6, 5, 1), d(6, 5, 1);
             Constant(s, 2.5f);
             std::vector<double> v;
             for (unsigned type : {0u, 1u}) {
                 F::Smooth(d.get(), s.get(), type, 5);
                 v.push_back(d.at(0, 0));
                 v.push_back(d.at(5, 4));
                 v.push_back(d.at(2, 2));
             }
             return v;
         },
         {2.5, 2.5, 2.5, 2.5, 2.5, 2.5},
         1e-6},
        {"Smooth_WithValidity: size 2 as size 3; an invalid centre stays invalid",
         [] {
             FPic s(3, 3, 1), d2(3, 3, 1), d3(3, 3, 1);
             Fill(s, {1, 2, 3, 4, kMarker, 6, 7, 8, 9});
             F::Smooth_WithValidity(d2.get(), s.get(), 2);
             F::Smooth_WithValidity(d3.get(), s.get(), 3);
             return std::vector<double>{d2.at(0, 0), d3.at(0, 0), d2.at(1, 1), d2.at(2, 1)};
         },
         {7.0 / 3.0, 7.0 / 3.0, -kMax, 5.6},
         1e-6},
        {"MedianFilter size 3 removes a single bright sample",
         [] {
             FPic s(5, 5, 1), d(5, 5, 1);
             s.at(2, 2) = 500;
             F::MedianFilter(d.get(), s.get(), 3);
             return std::vector<double>{d.at(2, 2)};
         },
         {0}},
        {"GetStat of a one-pixel rectangle: NaN deviation",
         [] {
             FPic s(3, 3, 1);
             s.at(1, 1) = 4;
             float mn, mx, mean, dev, med;
             SKzImageStat st{0, 1, 1, 2, 2, &mn, &mx, &mean, &dev, &med};
             F::GetStat(&st, s.get());
             return std::vector<double>{mn, mx, mean, med, dev};
         },
         {4, 4, 4, 4, std::nan("")}},
        {"LocalContrast_Tailed sizes: 7 on 100 x 100 -> 6, 500 on 100 x 50 -> 49",
         [] {
             FPic a(100, 100, 1), b(100, 100, 1), c(100, 50, 1), d(100, 50, 1);
             int s1 = 7, s2 = 500;
             F::LocalContrast_Tailed(b.get(), a.get(), s1, 1.0, false);
             F::LocalContrast_Tailed(d.get(), c.get(), s2, 1.0, false);
             return std::vector<double>{double(s1), double(s2)};
         },
         {6, 49}},
        {"LocalContrast_float: factor 1 gives the source, factor 0 the envelope midpoint",
         [] {
             FPic s(12, 12, 1), d(12, 12, 1);
             for (unsigned y = 0; y < 12; ++y)
                 for (unsigned x = 0; x < 12; ++x)
                     s.at(x, y) = (y % 2) ? 30.0f : 10.0f;
             LocalContrast_float(d.get(), s.get(), 4, 1.0, false);
             std::vector<double> v{d.at(5, 5), d.at(6, 6)};
             LocalContrast_float(d.get(), s.get(), 4, 0.0, false);
             v.push_back(d.at(5, 5));
             v.push_back(d.at(6, 6));
             return v;
         },
         {30, 10, 20, 20}},
        {"Border fade, n 2, constant 1: 0, 0.5, 1 from each border",
         [] {
             FPic p(7, 7, 1);
             Constant(p, 1.0f);
             ExpandAndSmoothToBordersAPI(p.get(), 2);
             return std::vector<double>{p.at(0, 3), p.at(1, 3), p.at(2, 3), p.at(6, 3), p.at(5, 3),
                                        p.at(3, 0), p.at(3, 1), p.at(3, 6), p.at(3, 5), p.at(3, 3)};
         },
         {0, 0.5, 1, 0, 0.5, 0, 0.5, 0, 0.5, 1}},
    });
}

TEST(FloatPicExamples, Arithmetic)
{
    RunTable({
        {"Division with a zero in b: 0 there",
         [] {
             FPic a(2, 1, 1), b(2, 1, 1), d(2, 1, 1);
             Fill(a, {8, 8});
             Fill(b, {2, 0});
             F::Division(d.get(), a.get(), b.get());
             return std::vector<double>{d.at(0, 0), d.at(1, 0)};
         },
         {4, 0}},
        {"MixComponents m2 = m4 = m6 = 100: red and blue trade places; a one-component picture: -9",
         [] {
             FPic s(1, 1, 3), d(1, 1, 3), g(1, 1, 1);
             Fill(s, {1, 2, 3});
             F::MixComponents(d.get(), s.get(), 0, 0, 100, 0, 100, 0, 100, 0, 0);
             return std::vector<double>{d.at(0, 0, 0), d.at(0, 0, 1), d.at(0, 0, 2),
                                        double(F::MixComponents(g.get(), g.get(), 0, 0, 100, 0, 100, 0, 100, 0, 0))};
         },
         {3, 2, 1, -9},
         1e-6},
        {"MultiplicationAP (2, 1) x (3, 0.5) = (6, 1.5); ConjugationAP negates the phase",
         [] {
             FPic a1(1, 1, 1), p1(1, 1, 1), a2(1, 1, 1), p2(1, 1, 1), ad(1, 1, 1), pd(1, 1, 1);
             a1.at(0, 0) = 2;
             p1.at(0, 0) = 1;
             a2.at(0, 0) = 3;
             p2.at(0, 0) = 0.5f;
             F::MultiplicationAP(ad.get(), pd.get(), a1.get(), p1.get(), a2.get(), p2.get());
             std::vector<double> v{ad.at(0, 0), pd.at(0, 0)};
             F::ConjugationAP(ad.get(), pd.get(), a2.get(), p2.get());
             v.push_back(ad.at(0, 0));
             v.push_back(pd.at(0, 0));
             return v;
         },
         {6, 1.5, 3, -0.5}},
        {"ComponentsMulGrayDivGray where den is 0: every component takes num",
         [] {
             FPic d(1, 1, 3), num(1, 1, 1), den(1, 1, 1);
             Fill(d, {1, 2, 3});
             num.at(0, 0) = 7;
             F::ComponentsMulGrayDivGray(d.get(), num.get(), den.get());
             return std::vector<double>{d.at(0, 0, 0), d.at(0, 0, 1), d.at(0, 0, 2)};
         },
         {7, 7, 7}},
        {"Masked GetFloatMinMax with a mask of zeros: -9, start values",
         [] {
             FPic p(2, 2, 1);
             IPic m(2, 2, 8, 1);
             float lo = 0, hi = 0;
             const int r = F::GetFloatMinMax(p.get(), lo, hi, m.get(), false);
             return std::vector<double>{double(r), lo, hi};
         },
         {-9, kMax, -kMax}},
        {"ReplaceValues(pic, 0, 1) also turns NaN into 1",
         [] {
             FPic p(3, 1, 1);
             Fill(p, {0, kNaN, 2});
             F::ReplaceValues(p.get(), 0, 1);
             return std::vector<double>{p.at(0, 0), p.at(1, 0), p.at(2, 0)};
         },
         {1, 1, 2}},
        {"OffsetFloatPicBuf of -2 .. 5: 0 .. 7",
         [] {
             FPic p(8, 1, 1);
             Fill(p, {3, -2, 5, 0, 1, 2, 4, -1});
             F::OffsetFloatPicBuf(p.get());
             return std::vector<double>{p.at(0, 0), p.at(1, 0), p.at(2, 0), p.at(7, 0)};
         },
         {5, 0, 7, 1}},
        {"FillPicByFloat to 8 bits, 0 .. 1: 0.5 -> 127, 1 -> 255, -0.1 -> 0; inverted 0 -> 255",
         [] {
             FPic s(4, 1, 1);
             Fill(s, {0.5f, 1.0f, -0.1f, 0.0f});
             IPic d(4, 1, 8, 1);
             float lo = 0, hi = 1;
             F::FillPicByFloat(d.get(), s.get(), &lo, &hi, false);
             std::vector<double> v{double(d.at<unsigned char>(0, 0)), double(d.at<unsigned char>(1, 0)),
                                   double(d.at<unsigned char>(2, 0))};
             F::FillPicByFloat(d.get(), s.get(), &lo, &hi, true);
             v.push_back(d.at<unsigned char>(3, 0));
             return v;
         },
         {127, 255, 0, 255}},
        {"FillPicByFloat from one component into three: the same byte three times",
         [] {
             FPic s(1, 1, 1);
             s.at(0, 0) = 0.5f;
             IPic d(1, 1, 8, 3);
             float lo = 0, hi = 1;
             F::FillPicByFloat(d.get(), s.get(), &lo, &hi, false);
             return std::vector<double>{double(d.at<unsigned char>(0, 0, 0)), double(d.at<unsigned char>(0, 0, 1)),
                                        double(d.at<unsigned char>(0, 0, 2))};
         },
         {127, 127, 127}},
        {"Immerkaer estimate: constant 0, linear ramp 0, 2 x 10 picture 0",
         [] {
             FPic c(6, 6, 1), r(6, 6, 1), thin(2, 10, 1);
             Constant(c, 9);
             for (unsigned y = 0; y < 6; ++y)
                 for (unsigned x = 0; x < 6; ++x)
                     r.at(x, y) = float(4 * x + 3 * y);
             Constant(thin, 5);
             thin.at(1, 4) = 100;
             return std::vector<double>{GetImmerkaerNoiseEstimation1xFloat(c.get()),
                                        GetImmerkaerNoiseEstimation1xFloat(r.get()),
                                        GetImmerkaerNoiseEstimation1xFloat(thin.get())};
         },
         {0, 0, 0}},
        {"Resize to twice the size with scaleValues: values x 2, range 0, 0",
         [] {
             FPic p(2, 2, 1);
             Fill(p, {1, 2, 3, 4});
             p->fMax = 4;
             F::Resize(p.get(), 4, 4, 0, true);
             return std::vector<double>{p.at(0, 0), p.at(3, 3), p->fMin, p->fMax};
         },
         {2, 8, 0, 0}},
        {"Crop: right equal to the width allowed, beyond it -9",
         [] {
             FPic s(4, 2, 1), d(2, 2, 1);
             s.at(3, 1) = 6;
             const int ok = F::Crop(d.get(), s.get(), 2, 4, 0, 2);
             return std::vector<double>{double(ok), d.at(1, 1), double(F::Crop(d.get(), s.get(), 3, 5, 0, 2))};
         },
         {0, 6, -9}},
    });
}

TEST(FloatPicExamples, DisplayAndResampling)
{
    RunTable({
        {"ConvertToTrueColor, one component: range 0..100 unscaled, 0..1000 stretched",
         [] {
             float s[2] = {100, 1000};
             unsigned char d[6];
             M::ConvertToTrueColor(d, 6, s, 1, 8, 2, 2, nullptr, 0.0f, 100.0f);
             std::vector<double> v{double(d[0]), double(d[1]), double(d[2])};
             M::ConvertToTrueColor(d, 6, s, 1, 8, 2, 2, nullptr, 0.0f, 1000.0f);
             v.push_back(double(d[0]));
             v.push_back(double(d[3]));
             return v;
         },
         {100, 100, 100, 26, 255}},
        {"ConvertToTrueColor with two components and no spectral LUT: -4",
         [] {
             float s[2] = {1, 2};
             unsigned char d[3];
             return std::vector<double>{double(M::ConvertToTrueColor(d, 3, s, 2, 8, 1, 1, nullptr, 0.0f, 10.0f))};
         },
         {-4}},
        {"Stretch mode 1 and 4: nearest neighbour",
         [] {
             float s[2][2] = {{1, 2}, {3, 4}}, d[4][4];
             std::vector<double> v;
             for (unsigned mode : {1u, 4u}) {
                 M::Stretch(&d[0][0], 1, 16, 4, 4, &s[0][0], 8, 2, 0, 0, 2, 2, mode);
                 v.push_back(d[0][1]);
                 v.push_back(d[3][2]);
             }
             return v;
         },
         {1, 4, 1, 4}},
        // Bell enlarging one row to two: weights 18432, 45056, 2048 and 2048,
        // 45056, 18432 of 65536 over the rows 80 (margin above), 0, 0.
        {"Filtered stretch of a rectangle below the top row reads the margin row above it",
         [] {
             float s[3] = {80, 0, 0}, d[2][1];
             M::Stretch(&d[0][0], 1, 4, 1, 2, &s[1], 4, 3, 0, 1, 1, 1, 2);
             return std::vector<double>{d[0][0], d[1][0]};
         },
         {22.5, 2.5}},
        {"StretchDisplay with a zoomed height of 0: -9",
         [] {
             float s = 1, d = 0;
             return std::vector<double>{
                 double(M::StretchDisplay(&d, 1, 1, 1, 4, 32, 1, 0, 0, 0, &s, 1, 1, 4, 2, false, false))};
         },
         {-9}},
    });
#if KZ_PIC_HAVE_SPECTRAL_KERNELS
    // Both percentages 0: lo zeroed, hi the per-channel maxima of the render.
    float px[8] = {10, 0, 0, 20, 5, 5, 20, 20};
    unsigned colours[2] = {0x000000FFu, 0x0000FF00u}, visible[2] = {1, 1};
    double lo[3] = {-1, -1, -1}, hi[3] = {-1, -1, -1}, direct[3] = {-2, -2, -2};
    ASSERT_EQ(M::SpetralGetLoHiRGB(lo, hi, px, 16, 0.0f, 20.0f, 2, 2, 4, colours, visible, 1.0, 0.0, 0.0), 0);
    unsigned masks[2] = {0xFFFFFFFFu, 0xFFFFFFFFu};
    ASSERT_EQ(spect_getmaxrgb_NxFloat_sse(direct, px, 16, 0.0f, 20.0f, 2, 2, 4, colours, masks, 1.0), 0);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(lo[k], 0.0) << k;
        EXPECT_EQ(hi[k], direct[k]) << k;
    }
    EXPECT_GT(hi[0] + hi[1] + hi[2], 0.0);
#endif
}

TEST(FloatPicExamples, IntegerFilters)
{
    RunTable({
        {"SmoothSquare_1x8, size 3, 8 in the centre of zeros: 2 corners, 1 edges, 0 centre",
         [] {
             IPic s(3, 3, 8, 1), d(3, 3, 8, 1);
             s.at<unsigned char>(1, 1) = 8;
             SmoothSquare_1x8(d.get(), s.get(), 3);
             return std::vector<double>{double(d.at<unsigned char>(0, 0)), double(d.at<unsigned char>(1, 0)),
                                        double(d.at<unsigned char>(1, 1))};
         },
         {2, 1, 0}},
        {"LocalContrast_1x8, envelope 10 .. 30: factor 1.5 makes 30 into 35 and 10 into 5; factor 30 clamps",
         [] {
             // Rows alternate 10 and 30, so every window holds both.
             IPic s(16, 16, 8, 1), d(16, 16, 8, 1);
             for (unsigned y = 0; y < 16; ++y)
                 for (unsigned x = 0; x < 16; ++x)
                     s.at<unsigned char>(x, y) = (y % 2) ? 30 : 10;
             LocalContrast_1x8(d.get(), s.get(), 4, 1.5, false);
             std::vector<double> v{double(d.at<unsigned char>(7, 7)), double(d.at<unsigned char>(7, 8))};
             LocalContrast_1x8(d.get(), s.get(), 4, 30.0, false);
             v.push_back(d.at<unsigned char>(7, 7));
             v.push_back(d.at<unsigned char>(7, 8));
             return v;
         },
         {35, 5, 255, 0}},
        {"LocalContrast_Tailed: a 32-bit picture is left alone with 0",
         [] {
             IPic s(8, 8, 32, 1), d(8, 8, 32, 1);
             s.at<unsigned>(2, 2) = 9;
             d.at<unsigned>(2, 2) = 5;
             int size = 4;
             const int r = P::LocalContrast_Tailed(d.get(), s.get(), size, 2.0, false);
             return std::vector<double>{double(r), double(d.at<unsigned>(2, 2))};
         },
         {0, 5}},
        {"LocalContrastComp_Tailed, first 2 and count 2 of three components: -9",
         [] {
             IPic s(8, 8, 8, 3), d(8, 8, 8, 3);
             int sizes[2] = {4, 4};
             double factors[2] = {1, 1};
             bool smooth[2] = {false, false};
             return std::vector<double>{
                 double(P::LocalContrastComp_Tailed(d.get(), s.get(), 2, 2, sizes, factors, smooth))};
         },
         {-9}},
        {"RegularizeRow on width 100: (-3, 5) -> (0, 8), (95, 104) -> (90, 99)",
         [] {
             IPic p(100, 100, 8, 1);
             int a = -3, b = 5, c = 95, d = 104;
             RegularizeRow(a, b, p.get());
             RegularizeRow(c, d, p.get());
             return std::vector<double>{double(a), double(b), double(c), double(d)};
         },
         {0, 8, 90, 99}},
        {"RegularizeIRect, top 90 bottom 110 on height 100: 79, 99",
         [] {
             IPic p(100, 100, 8, 1);
             SKzIRect r{10, 90, 20, 110};
             RegularizeIRect(r, p.get());
             return std::vector<double>{double(r.top), double(r.bottom), double(r.left), double(r.right)};
         },
         {79, 99, 10, 20}},
        {"StretchFloat2DKernel of a constant 3 x 3 to 5 x 5: 25 values of 0.04",
         [] {
             float s[9], d[25];
             std::fill(s, s + 9, 7.0f);
             StretchFloat2DKernel(d, s, 5, 5, 3);
             return std::vector<double>{d[0], d[12], d[24]};
         },
         {0.04, 0.04, 0.04},
         1e-7},
        {"Immerkaer estimate of a 2-row 16-bit picture: 0",
         [] {
             IPic p(10, 2, 16, 1);
             p.at<unsigned short>(3, 1) = 60000;
             return std::vector<double>{GetImmerkaerNoiseEstimation1x16(p.get())};
         },
         {0}},
        {"FillAllMem1x8MinMax(4, 4): minimum 255, maximum 0",
         [] {
             unsigned char v[4] = {1, 2, 3, 4}, out[2];
             FillAllMem1x8MinMax(4, 4, v, out);
             return std::vector<double>{double(out[0]), double(out[1])};
         },
         {255, 0}},
    });
}

TEST(FloatPicExamples, Diffusion)
{
    RunTable({
        {"FloatToUint8: 254.4 -> 254, 254.5 -> 255, -0.4 -> 0, -0.6 -> 0",
         [] {
             FPic f(4, 1, 1);
             Fill(f, {254.4f, 254.5f, -0.4f, -0.6f});
             IPic d(4, 1, 8, 1);
             FloatToUint8(d.get(), f.get());
             return std::vector<double>{double(d.at<unsigned char>(0, 0)), double(d.at<unsigned char>(1, 0)),
                                        double(d.at<unsigned char>(2, 0)), double(d.at<unsigned char>(3, 0))};
         },
         {254, 255, 0, 0}},
        {"Uint16ToFloat of 12-bit 4095: 255.9375; back to 12 bits: 4095",
         [] {
             IPic s(1, 1, 12, 1), d(1, 1, 12, 1);
             s.at<unsigned short>(0, 0) = 4095;
             FPic f(1, 1, 1);
             Uint16ToFloat(f.get(), s.get());
             FloatToUint16(d.get(), f.get());
             return std::vector<double>{f.at(0, 0), double(d.at<unsigned short>(0, 0))};
         },
         {255.9375, 4095}},
        {"GetGradientFloat2 of a step of 2: 4 in the column before the step",
         [] {
             FPic s(4, 3, 1), g(4, 3, 1);
             for (unsigned y = 0; y < 3; ++y)
                 for (unsigned x = 0; x < 4; ++x)
                     s.at(x, y) = x >= 2 ? 2.0f : 0.0f;
             GetGradientFloat2(g.get(), s.get());
             return std::vector<double>{g.at(0, 1), g.at(1, 1), g.at(2, 1)};
         },
         {0, 4, 0}},
        {"GetInnerCMK, k = 1: 1 below 0.3, 1 - exp(-2.33666) where the squared gradient is 1",
         [] {
             FPic s(4, 3, 1), g(4, 3, 1), d(4, 3, 1);
             for (unsigned y = 0; y < 3; ++y)
                 for (unsigned x = 0; x < 4; ++x)
                     s.at(x, y) = x >= 2 ? 1.0f : 0.0f;
             GetInnerCMK(d.get(), s.get(), 1.0f, 0, g.get());
             return std::vector<double>{d.at(0, 1), d.at(1, 1)};
         },
         {1, 1 - std::exp(-2.33666)},
         1e-6},
        {"GenerateGauss, sigma 0.5 on 9 x 9: the 7 x 7 square written and summing to 1, the ring divided only",
         [] {
             FPic k(9, 9, 1);
             Constant(k, 3.0f);
             GenerateGauss(k.get(), 0.5);
             double sum = 0;
             for (unsigned y = 1; y < 8; ++y)
                 for (unsigned x = 1; x < 8; ++x)
                     sum += k.at(x, y);
             // Before the division the centre was 1 and every ring sample 3.
             const double ratio = k.at(0, 0) / k.at(4, 4);
             return std::vector<double>{sum, ratio, double(k.at(0, 8) == k.at(8, 0))};
         },
         {1, 3, 1},
         1e-5},
        {"AdiffDenoise leaves the source's samples unchanged",
         [] {
             IPic s(4, 3, 8, 2), d;
             for (unsigned y = 0; y < 3; ++y)
                 for (unsigned x = 0; x < 4; ++x) {
                     s.at<unsigned char>(x, y, 0) = (unsigned char)(10 * x + y);
                     s.at<unsigned char>(x, y, 1) = (unsigned char)(200 - x);
                 }
             P::AdiffDenoise(d.get(), s.get(), 1.0, 1.0, 1, 1);
             return std::vector<double>{double(s.p.uiComp), double(s.at<unsigned char>(3, 2, 0)),
                                        double(s.at<unsigned char>(3, 2, 1))};
         },
         {2, 32, 197}},
    });
}

} // namespace
