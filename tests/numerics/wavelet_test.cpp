#include "numerics/CKzWavelet.h"

#include "gnr_picture/KzProcessorCount.h"
#include "gnr_picture/KzProcessorCountInternal.h"
#include "gnr_system/CKzAlloc.h"
#include "numerics/KzWaveletInternal.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {
#include "numerics/wavelet_reference.inc"

// The same integer formula as the reference generator, so both sides start
// from bit-identical samples.
std::vector<double> Picture(unsigned w, unsigned h, int salt)
{
    std::vector<double> p(size_t(w) * h);
    for (unsigned y = 0; y < h; ++y)
        for (unsigned x = 0; x < w; ++x)
            p[size_t(y) * w + x] = double(((long long)x * 7919 + (long long)y * 104729 + salt * 31) % 1009 - 504) / 37.0;
    return p;
}

std::vector<float> Volume(unsigned w, unsigned h, unsigned d, int salt)
{
    std::vector<float> v(size_t(w) * h * d);
    for (unsigned z = 0; z < d; ++z)
        for (unsigned y = 0; y < h; ++y)
            for (unsigned x = 0; x < w; ++x)
                v[(size_t(z) * h + y) * w + x] = float(
                    double(((long long)x * 7919 + (long long)y * 104729 + (long long)z * 1299709 + salt * 31) % 1009 -
                           504) /
                    37.0);
    return v;
}

// F2 = the bank's stored (low-pass) filter, F1 = its mirror.
struct Bank {
    std::vector<double> lo, hi;
};

Bank GetBank(const std::string& family, int grade)
{
    double* lo = nullptr;
    double* hi = nullptr;
    int n = 0, m = 0;
    if (family == "Daub") {
        EXPECT_EQ(CKzDaubechies2DWave::GetMotherWavelet(lo, &n, grade), 0);
        EXPECT_EQ(CKzDaubechies2DWave::GetFatherWavelet(hi, &m, grade), 0);
    } else {
        EXPECT_EQ(CKzCoiflets2DWave::GetMotherWavelet(lo, &n, grade), 0);
        EXPECT_EQ(CKzCoiflets2DWave::GetFatherWavelet(hi, &m, grade), 0);
    }
    Bank b{std::vector<double>(lo, lo + n), std::vector<double>(hi, hi + m)};
    std::free(lo);
    std::free(hi);
    return b;
}

// ---------------------------------------------------------------------------
// Filter banks
// ---------------------------------------------------------------------------

TEST(WaveletBanks, DaubechiesEqualPywtLowAndHighPassBitForBit)
{
    for (int g = 1; g <= 38; ++g) {
        double* lo = nullptr;
        double* hi = nullptr;
        int n = -1, m = -1;
        ASSERT_EQ(CKzDaubechies2DWave::GetMotherWavelet(lo, &n, g), 0);
        ASSERT_EQ(CKzDaubechies2DWave::GetFatherWavelet(hi, &m, g), 0);
        ASSERT_EQ(n, 2 * g);
        ASSERT_EQ(m, 2 * g);
        EXPECT_EQ(std::memcmp(lo, kPyDbLo[g - 1], sizeof(double) * n), 0) << "db" << g;
        EXPECT_EQ(std::memcmp(hi, kPyDbHi[g - 1], sizeof(double) * n), 0) << "db" << g;
        EXPECT_EQ(std::memcmp(CKzDaubechies2DWave::GetGradePtr(g), kPyDbLo[g - 1], sizeof(double) * n), 0);
        float* lof = nullptr;
        ASSERT_EQ(CKzDaubechies2DWave::GetMotherWavelet(lof, &n, g), 0);
        for (int i = 0; i < n; ++i)
            EXPECT_EQ(lof[i], float(kPyDbLo[g - 1][i]));
        EXPECT_EQ(CKzDaubechies2DWave::FreeWavelet(lo), 0);
        EXPECT_EQ(CKzDaubechies2DWave::FreeWavelet(hi), 0);
        EXPECT_EQ(CKzDaubechies2DWave::FreeWavelet(lof), 0);
        EXPECT_EQ(lo, nullptr);
        EXPECT_EQ(lof, nullptr);
    }
}

TEST(WaveletBanks, CoifletTablesLieWithinPywtAndKeepTheDocumentedDigits)
{
    for (int g = 1; g <= 5; ++g) {
        const double* t = CKzCoiflets2DWave::GetGradePtr(g);
        ASSERT_NE(t, nullptr);
        double sum = 0;
        for (int i = 0; i < 6 * g; ++i) {
            EXPECT_NEAR(t[i], kPyCoif[g - 1][i], 1e-11) << "coif" << g << " tap " << i;
            sum += t[i];
        }
        EXPECT_NEAR(sum, 2.0, 1e-9);
    }
    const double grade1[6] = {-0.102859456942, 0.477859456942, 1.205718913884,
                              0.544281086116,  -0.102859456942, -0.022140543057};
    EXPECT_EQ(std::memcmp(CKzCoiflets2DWave::GetGradePtr(1), grade1, sizeof grade1), 0);
    const double grade2[5] = {0.023175193479, -0.05864027596, -0.09527918062, 0.54604209307, 1.149364787715};
    EXPECT_EQ(std::memcmp(CKzCoiflets2DWave::GetGradePtr(2), grade2, sizeof grade2), 0);
}

TEST(WaveletBanks, DeliveredFiltersFollowTheMirrorAndScaleRules)
{
    Bank h = GetBank("Daub", 1);
    EXPECT_EQ(h.lo, (std::vector<double>{0.7071067811865476, 0.7071067811865476}));
    EXPECT_EQ(h.hi, (std::vector<double>{0.7071067811865476, -0.7071067811865476}));
    Bank d2 = GetBank("Daub", 2);
    EXPECT_EQ(d2.hi, (std::vector<double>{-0.12940952255126037, -0.2241438680420134, 0.8365163037378079,
                                           -0.48296291314453416}));
    Bank c1 = GetBank("Coif", 1);
    EXPECT_EQ(c1.lo[0], -0.102859456942 * 0.7071);
    EXPECT_EQ(c1.hi[0], -0.022140543057 * 0.7071);
    EXPECT_EQ(c1.hi[1], 0.102859456942 * 0.7071);
    for (int g = 1; g <= 5; ++g) {
        Bank c = GetBank("Coif", g);
        double lo = 0, hi = 0;
        for (size_t i = 0; i < c.lo.size(); ++i) {
            lo += c.lo[i];
            hi += c.hi[i];
        }
        EXPECT_NEAR(lo, 1.4142, 1e-9);
        EXPECT_NEAR(hi, 0.0, 1e-9);
    }
    for (int g = 1; g <= 38; ++g) {
        Bank d = GetBank("Daub", g);
        double hi = 0;
        for (double v : d.hi)
            hi += v;
        EXPECT_NEAR(hi, 0.0, 1e-15 * 4 * g) << g;
    }
}

TEST(WaveletBanks, BadGradesNullCountsAndCallerBuffers)
{
    struct Case {
        const char* family;
        int grade;
    } cases[] = {{"Coif", 0}, {"Coif", 6}, {"Coif", -1}, {"Daub", 0}, {"Daub", 39}, {"Daub", -5}};
    for (const Case& c : cases) {
        double buf[4] = {7, 7, 7, 7};
        double* p = buf;
        int taps = 123;
        const bool coif = std::string(c.family) == "Coif";
        const int r1 = coif ? CKzCoiflets2DWave::GetMotherWavelet(p, &taps, c.grade)
                            : CKzDaubechies2DWave::GetMotherWavelet(p, &taps, c.grade);
        const int r2 = coif ? CKzCoiflets2DWave::GetFatherWavelet(p, &taps, c.grade)
                            : CKzDaubechies2DWave::GetFatherWavelet(p, &taps, c.grade);
        EXPECT_EQ(r1, -9);
        EXPECT_EQ(r2, -9);
        EXPECT_EQ(taps, 123);
        EXPECT_EQ(p, buf);
        EXPECT_EQ(buf[0], 7);
        EXPECT_EQ(coif ? CKzCoiflets2DWave::GetGradePtr(c.grade) : CKzDaubechies2DWave::GetGradePtr(c.grade),
                  nullptr);
    }
    EXPECT_EQ(CKzDaubechies2DWave::GetGradePtrF(39), nullptr);
    // A null tap-count pointer is refused instead of written through.
    double* p = nullptr;
    EXPECT_EQ(CKzDaubechies2DWave::GetMotherWavelet(p, nullptr, 2), -9);
    EXPECT_EQ(p, nullptr);
    // A caller buffer is filled in place.
    double buf[6] = {};
    double* q = buf;
    int taps = 0;
    EXPECT_EQ(CKzCoiflets2DWave::GetMotherWavelet(q, &taps, 1), 0);
    EXPECT_EQ(q, buf);
    EXPECT_EQ(taps, 6);
    EXPECT_EQ(buf[2], 1.205718913884 * 0.7071);
    // Releasing null, and a failed allocation.
    double* none = nullptr;
    float* nonef = nullptr;
    EXPECT_EQ(CKzCoiflets2DWave::FreeWavelet(none), -9);
    EXPECT_EQ(CKzDaubechies2DWave::FreeWavelet(nonef), -9);
    kzwavelet::FailAllocationAfter(1);
    taps = 0;
    EXPECT_EQ(CKzDaubechies2DWave::GetFatherWavelet(none, &taps, 3), -9);
    kzwavelet::FailAllocationAfter(0);
    EXPECT_EQ(taps, 6);
    EXPECT_EQ(none, nullptr);
}

TEST(WaveletBanks, ScalarProductAndReversal)
{
    double a[3] = {1e16, 1.0, -1e16};
    double b[3] = {1.0, 1.0, 1.0};
    // In index order: (1e16 + 1) - 1e16 = 0 in double.
    EXPECT_EQ(ScalarMulti(a, b, 3), 0.0);
    EXPECT_EQ(ScalarMulti(a, b, 0), 0.0);
    double src[4] = {1, 2, 3, 4}, dst[4] = {9, 9, 9, 9};
    EXPECT_EQ(ConstructInverseFilter(dst, src, 4), 0);
    EXPECT_EQ(dst[0], 4);
    EXPECT_EQ(dst[3], 1);
    EXPECT_EQ(ConstructInverseFilter(dst, src, 0), 0);
    float fs[2] = {1, 2}, fd[2] = {};
    EXPECT_EQ(CKzWavelet3D::ConstructInverseFilter(fd, fs, 2), 0);
    EXPECT_EQ(fd[0], 2);
}

// ---------------------------------------------------------------------------
// 2D
// ---------------------------------------------------------------------------

struct Bands2D {
    double *a = nullptr, *b = nullptr, *c = nullptr, *d = nullptr;
    unsigned w2 = 77, h2 = 77;
    ~Bands2D()
    {
        for (double* p : {a, b, c, d})
            if (p)
                CKzWavelet2D::FreeBuf(p);
    }
};

TEST(Wavelet2D, DecompositionMatchesPywtForEveryBank)
{
    for (const WaveRef2D& r : kWaveRef2D) {
        Bank bank = GetBank(r.family, r.grade);
        std::vector<double> pic = Picture(r.w, r.h, r.grade);
        Bands2D s;
        ASSERT_EQ(CKzWavelet2D::WaveletDecompositionImage(s.a, s.b, s.c, s.d, s.w2, s.h2, pic.data(), r.w, r.h,
                                                          bank.hi.data(), bank.lo.data(), unsigned(bank.lo.size())),
                  0);
        ASSERT_EQ(s.w2, r.w / 2);
        ASSERT_EQ(s.h2, r.h / 2);
        double* mine[4] = {s.a, s.b, s.c, s.d};
        for (int band = 0; band < 4; ++band)
            for (unsigned i = 0; i < r.count; ++i) {
                const double want = r.bands[band][i];
                ASSERT_NEAR(mine[band][size_t(i) * r.step], want, 1e-13 * std::max(1.0, std::fabs(want)))
                    << r.family << r.grade << " band " << band << " sample " << i * r.step;
            }
    }
}

TEST(Wavelet2D, ReconstructionOfArbitrarySubBandsMatchesPywt)
{
    for (const WaveRefSynth& r : kWaveRefSynth) {
        Bank bank = GetBank(r.family, r.grade);
        std::vector<double> bands[4];
        for (int i = 0; i < 4; ++i)
            bands[i] = Picture(r.w2, r.h2, 100 + i);
        double* out = nullptr;
        unsigned w = 0, h = 0;
        ASSERT_EQ(CKzWavelet2D::WaveletReconstructionImage(out, w, h, bands[0].data(), bands[1].data(),
                                                           bands[2].data(), bands[3].data(), r.w2, r.h2,
                                                           bank.hi.data(), bank.lo.data(), unsigned(bank.lo.size())),
                  0);
        ASSERT_EQ(size_t(w) * h, r.count);
        for (unsigned i = 0; i < r.count; ++i)
            ASSERT_NEAR(out[i], r.picture[i], 1e-13 * std::max(1.0, std::fabs(r.picture[i])))
                << r.family << r.grade << " sample " << i;
        EXPECT_EQ(CKzWavelet2D::FreeBuf(out), 0);
    }
}

TEST(Wavelet2D, HaarExampleConstantPictureAndRoundTrips)
{
    Bank haar = GetBank("Daub", 1);
    double pic[4] = {1, 2, 3, 4};
    Bands2D s;
    ASSERT_EQ(CKzWavelet2D::WaveletDecompositionImage(s.a, s.b, s.c, s.d, s.w2, s.h2, pic, 2, 2, haar.hi.data(),
                                                      haar.lo.data(), 2),
              0);
    EXPECT_NEAR(s.a[0], 5, 1e-15);
    EXPECT_NEAR(s.b[0], -2, 1e-15);
    EXPECT_NEAR(s.c[0], -1, 1e-15);
    EXPECT_NEAR(s.d[0], 0, 1e-15);
    // Caller-supplied output arrays are filled in place.
    double back[4] = {};
    double* out = back;
    unsigned w = 0, h = 0;
    ASSERT_EQ(CKzWavelet2D::WaveletReconstructionImage(out, w, h, s.a, s.b, s.c, s.d, 1, 1, haar.hi.data(),
                                                       haar.lo.data(), 2),
              0);
    EXPECT_EQ(out, back);
    for (int i = 0; i < 4; ++i)
        EXPECT_NEAR(back[i], pic[i], 1e-15 * 4);  // within about 1e-15 of the magnitude

    Bank d4 = GetBank("Daub", 4);
    std::vector<double> flat(16 * 8, 3.5);
    Bands2D k;
    ASSERT_EQ(CKzWavelet2D::WaveletDecompositionImage(k.a, k.b, k.c, k.d, k.w2, k.h2, flat.data(), 16, 8,
                                                      d4.hi.data(), d4.lo.data(), 8),
              0);
    for (unsigned i = 0; i < 8 * 4; ++i) {
        EXPECT_NEAR(k.a[i], 7.0, 1e-12);
        EXPECT_NEAR(k.b[i], 0.0, 1e-12 * 3.5);
        EXPECT_NEAR(k.c[i], 0.0, 1e-12 * 3.5);
        EXPECT_NEAR(k.d[i], 0.0, 1e-12 * 3.5);
    }

    struct Trip {
        const char* family;
        int grade;
        unsigned w, h;
        double scale;
        double tolerance;  // the Coiflet tables have 12 decimals: orthogonal to about 1e-12
    } trips[] = {{"Daub", 4, 16, 8, 1.0, 1e-12 * 20},
                 {"Coif", 1, 36, 36, (2 * 0.7071 * 0.7071) * (2 * 0.7071 * 0.7071), 1e-10}};
    for (const Trip& t : trips) {
        Bank bank = GetBank(t.family, t.grade);
        std::vector<double> p = Picture(t.w, t.h, 3);
        Bands2D z;
        ASSERT_EQ(CKzWavelet2D::WaveletDecompositionImage(z.a, z.b, z.c, z.d, z.w2, z.h2, p.data(), t.w, t.h,
                                                          bank.hi.data(), bank.lo.data(), unsigned(bank.lo.size())),
                  0);
        double* r = nullptr;
        unsigned rw = 0, rh = 0;
        ASSERT_EQ(CKzWavelet2D::WaveletReconstructionImage(r, rw, rh, z.a, z.b, z.c, z.d, z.w2, z.h2, bank.hi.data(),
                                                           bank.lo.data(), unsigned(bank.lo.size())),
                  0);
        ASSERT_EQ(rw, t.w);
        ASSERT_EQ(rh, t.h);
        for (size_t i = 0; i < p.size(); ++i)
            ASSERT_NEAR(r[i], p[i] * t.scale, t.tolerance) << t.family << t.grade << " sample " << i;
        CKzWavelet2D::FreeBuf(r);
    }
}

TEST(Wavelet2D, RefusedShapesWriteNothing)
{
    struct Case {
        unsigned w, h, L;
        int code;
    } cases[] = {
        {3, 4, 4, -9},    // width below L: the odd test is never made
        {5, 6, 4, -2},    // odd width of at least L
        {4, 4, 0, -9},    // no filter
        {6, 6, 3, -9},    // odd filter length
        {8, 4, 6, -9},    // height below L
        {0xFFFFFFFEu, 0xFFFFFFFEu, 2, -9},  // sub-band bytes overflow
    };
    double dummy[16] = {};
    for (const Case& c : cases) {
        double* a = nullptr;
        double* b = nullptr;
        double* cc = nullptr;
        double* d = nullptr;
        unsigned w2 = 77, h2 = 77;
        EXPECT_EQ(CKzWavelet2D::WaveletDecompositionImage(a, b, cc, d, w2, h2, dummy, c.w, c.h, dummy, dummy, c.L),
                  c.code)
            << c.w << "x" << c.h << " L " << c.L;
        EXPECT_EQ(w2, 77u);
        EXPECT_EQ(h2, 77u);
        EXPECT_TRUE(a == nullptr && b == nullptr && cc == nullptr && d == nullptr);
    }
    double* out = nullptr;
    unsigned w = 77, h = 77;
    EXPECT_EQ(CKzWavelet2D::WaveletReconstructionImage(out, w, h, dummy, dummy, dummy, dummy, 1, 4, dummy, dummy, 4),
              -9);
    EXPECT_EQ(CKzWavelet2D::WaveletReconstructionImage(out, w, h, dummy, dummy, dummy, dummy, 2, 2, dummy, dummy, 1),
              -9);
    EXPECT_EQ(CKzWavelet2D::WaveletReconstructionImage(out, w, h, dummy, dummy, dummy, dummy, 0x7FFFFFFFu,
                                                       0x7FFFFFFFu, dummy, dummy, 2),
              -9);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(w, 77u);
    EXPECT_EQ(CKzWavelet2D::FreeBuf(nullptr), -9);
}

TEST(Wavelet2D, FailedAllocationsKeepWhatTheCallerOwns)
{
    Bank bank = GetBank("Daub", 2);
    std::vector<double> p = Picture(8, 8, 1);
    // Decomposition: the line buffers, then the four outputs.
    for (int n = 1; n <= 5; ++n) {
        Bands2D s;
        kzwavelet::FailAllocationAfter(n);
        EXPECT_EQ(CKzWavelet2D::WaveletDecompositionImage(s.a, s.b, s.c, s.d, s.w2, s.h2, p.data(), 8, 8,
                                                          bank.hi.data(), bank.lo.data(), 4),
                  -9)
            << n;
        kzwavelet::FailAllocationAfter(0);
        EXPECT_EQ(s.w2, 4u);
        // Outputs made before the failure stay with the caller (released by ~Bands2D).
        const int made = (s.a != nullptr) + (s.b != nullptr) + (s.c != nullptr) + (s.d != nullptr);
        EXPECT_EQ(made, n <= 1 ? 0 : n - 2) << n;
    }
    Bands2D s;
    ASSERT_EQ(CKzWavelet2D::WaveletDecompositionImage(s.a, s.b, s.c, s.d, s.w2, s.h2, p.data(), 8, 8, bank.hi.data(),
                                                      bank.lo.data(), 4),
              0);
    for (int n = 1; n <= 2; ++n) {  // line buffers and reversed filters, then the output
        double* out = nullptr;
        unsigned w = 0, h = 0;
        kzwavelet::FailAllocationAfter(n);
        EXPECT_EQ(CKzWavelet2D::WaveletReconstructionImage(out, w, h, s.a, s.b, s.c, s.d, 4, 4, bank.hi.data(),
                                                           bank.lo.data(), 4),
                  -9)
            << n;
        kzwavelet::FailAllocationAfter(0);
        EXPECT_EQ(out, nullptr);
    }
}

// ---------------------------------------------------------------------------
// 3D
// ---------------------------------------------------------------------------

struct Bands3D {
    float* o[8] = {};
    unsigned w2 = 77, h2 = 77, d2 = 77;
    ~Bands3D()
    {
        for (float* p : o)
            if (p)
                CKzWavelet3D::FreeBuf(p);
    }
};

enum class Form { Double, Float, Image8 };
const Form kForms[] = {Form::Double, Form::Float, Form::Image8};

int Decompose(Form f, Bands3D& s, float* vol, unsigned w, unsigned h, unsigned d, const Bank& bank)
{
    std::vector<double> F1 = bank.hi, F2 = bank.lo;
    std::vector<float> f1(F1.begin(), F1.end()), f2(F2.begin(), F2.end());
    const unsigned L = unsigned(F1.size());
    float** o = s.o;
    switch (f) {
    case Form::Double:
        return CKzWavelet3D::WaveletDecompositionImage(o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], s.w2, s.h2,
                                                       s.d2, vol, w, h, d, F1.data(), F2.data(), L);
    case Form::Float:
        return CKzWavelet3D::WaveletDecompositionImage(o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], s.w2, s.h2,
                                                       s.d2, vol, w, h, d, f1.data(), f2.data(), L);
    default:
        return CKzWavelet3D::WaveletDecompositionImage8(o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], s.w2, s.h2,
                                                        s.d2, vol, w, h, d, f1.data(), f2.data(), L);
    }
}

int Reconstruct(Form f, float*& out, unsigned& w, unsigned& h, unsigned& d, float* const* o, unsigned w2,
                unsigned h2, unsigned d2, const Bank& bank)
{
    std::vector<double> F1 = bank.hi, F2 = bank.lo;
    std::vector<float> f1(F1.begin(), F1.end()), f2(F2.begin(), F2.end());
    const unsigned L = unsigned(F1.size());
    switch (f) {
    case Form::Double:
        return CKzWavelet3D::WaveletReconstructionImage(out, w, h, d, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7],
                                                        w2, h2, d2, F1.data(), F2.data(), L);
    case Form::Float:
        return CKzWavelet3D::WaveletReconstructionImage(out, w, h, d, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7],
                                                        w2, h2, d2, f1.data(), f2.data(), L);
    default:
        return CKzWavelet3D::WaveletReconstructionImage8(out, w, h, d, o[0], o[1], o[2], o[3], o[4], o[5], o[6],
                                                         o[7], w2, h2, d2, f1.data(), f2.data(), L);
    }
}

TEST(Wavelet3D, SubBandsMatchPywtDwtnInEveryForm)
{
    Bank db4 = GetBank("Daub", 4);
    std::vector<float> vol = Volume(8, 10, 12, 5);
    for (Form f : kForms) {
        Bands3D s;
        ASSERT_EQ(Decompose(f, s, vol.data(), 8, 10, 12, db4), 0);
        ASSERT_EQ(s.w2, 4u);
        ASSERT_EQ(s.h2, 5u);
        ASSERT_EQ(s.d2, 6u);
        for (int i = 0; i < 8; ++i)
            for (size_t k = 0; k < 4 * 5 * 6; ++k)
                ASSERT_NEAR(s.o[i][k], kDwtn[i][k], 2e-5 * std::max(1.0, std::fabs(kDwtn[i][k])))
                    << "form " << int(f) << " band " << i << " sample " << k;
    }
}

TEST(Wavelet3D, ReconstructionMatchesPywtIdwtnAndRoundTripsInEveryForm)
{
    Bank db4 = GetBank("Daub", 4);
    std::vector<float> bands[8];
    float* o[8];
    for (int i = 0; i < 8; ++i) {
        bands[i] = Volume(4, 5, 6, 200 + i);
        o[i] = bands[i].data();
    }
    std::vector<float> vol = Volume(8, 10, 12, 5);
    for (Form f : kForms) {
        float* out = nullptr;
        unsigned w = 0, h = 0, d = 0;
        ASSERT_EQ(Reconstruct(f, out, w, h, d, o, 4, 5, 6, db4), 0);
        ASSERT_EQ(w * h * d, 8u * 10 * 12);
        for (size_t k = 0; k < 8 * 10 * 12; ++k)
            ASSERT_NEAR(out[k], kIdwtn[k], 2e-5 * std::max(1.0, std::fabs(kIdwtn[k]))) << int(f) << " " << k;
        CKzWavelet3D::FreeBuf(out);

        Bands3D s;
        ASSERT_EQ(Decompose(f, s, vol.data(), 8, 10, 12, db4), 0);
        // A caller array is filled in place.
        std::vector<float> back(vol.size(), -1.0f);
        float* bp = back.data();
        ASSERT_EQ(Reconstruct(f, bp, w, h, d, s.o, 4, 5, 6, db4), 0);
        EXPECT_EQ(bp, back.data());
        for (size_t k = 0; k < vol.size(); ++k)
            ASSERT_NEAR(back[k], vol[k], 2e-5 * std::max(1.0f, std::fabs(vol[k]))) << int(f) << " " << k;
    }
}

TEST(Wavelet3D, HaarExample)
{
    Bank haar = GetBank("Daub", 1);
    float vol[8];
    for (int z = 0; z < 2; ++z)
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                vol[z * 4 + y * 2 + x] = float(1 + x + 2 * y + 4 * z);
    const float want[8] = {12.7279f, -5.6569f, -2.8284f, 0, -1.4142f, 0, 0, 0};
    for (Form f : {Form::Double, Form::Float}) {
        Bands3D s;
        ASSERT_EQ(Decompose(f, s, vol, 2, 2, 2, haar), 0);
        for (int i = 0; i < 8; ++i)
            EXPECT_NEAR(s.o[i][0], want[i], 1e-4) << i;
    }
}

TEST(Wavelet3D, RefusedShapesAndFilterLengths)
{
    Bank d3 = GetBank("Daub", 3);  // six taps
    Bank haar = GetBank("Daub", 1);
    std::vector<float> vol(8 * 8 * 8, 1.0f);
    struct Case {
        unsigned w, h, d;
        const Bank* bank;
        Form form;
        int code;
    } cases[] = {
        {8, 4, 8, &d3, Form::Double, -9},   // h below L
        {6, 6, 7, &d3, Form::Float, -2},    // odd depth of at least L
        {8, 8, 8, &haar, Form::Image8, -2}, // eight taps only
        {8, 8, 8, &d3, Form::Image8, -2},
        {0x80000000u, 0x80000000u, 0x80000000u, &haar, Form::Float, -9},  // sizes overflow
    };
    for (const Case& c : cases) {
        Bands3D s;
        EXPECT_EQ(Decompose(c.form, s, vol.data(), c.w, c.h, c.d, *c.bank), c.code);
        EXPECT_EQ(s.w2, 77u);
        for (float* p : s.o)
            EXPECT_EQ(p, nullptr);
    }
    float* o[8];
    for (float*& p : o)
        p = vol.data();
    float* out = nullptr;
    unsigned w = 77, h = 77, d = 77;
    EXPECT_EQ(Reconstruct(Form::Double, out, w, h, d, o, 2, 4, 4, d3), -9);
    EXPECT_EQ(Reconstruct(Form::Image8, out, w, h, d, o, 4, 4, 4, haar), -2);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(w, 77u);
    EXPECT_EQ(CKzWavelet3D::FreeBuf(nullptr), -9);
}

TEST(Wavelet3D, FailedAllocationsReleaseWhatTheCallMade)
{
    Bank db4 = GetBank("Daub", 4);
    std::vector<float> vol = Volume(8, 8, 8, 1);
    std::vector<float> mine(4 * 4 * 4);
    for (Form f : kForms) {
        for (int n = 1; n <= 8; ++n) {  // seven outputs, then the plane and line buffers
            Bands3D s;
            s.o[3] = mine.data();  // a caller array stays as it is
            kzwavelet::FailAllocationAfter(n);
            const int r = Decompose(f, s, vol.data(), 8, 8, 8, db4);
            kzwavelet::FailAllocationAfter(0);
            EXPECT_EQ(r, -9) << n;
            EXPECT_EQ(s.o[3], mine.data());
            s.o[3] = nullptr;
            for (float* p : s.o)
                EXPECT_EQ(p, nullptr) << n;
        }
        Bands3D s;
        ASSERT_EQ(Decompose(f, s, vol.data(), 8, 8, 8, db4), 0);
        for (int n = 1; n <= 2; ++n) {  // the buffers and reversed filters, then the output
            float* out = nullptr;
            unsigned w = 0, h = 0, d = 0;
            kzwavelet::FailAllocationAfter(n);
            EXPECT_EQ(Reconstruct(f, out, w, h, d, s.o, 4, 4, 4, db4), -9) << n;
            kzwavelet::FailAllocationAfter(0);
            EXPECT_EQ(out, nullptr);
        }
    }
}

TEST(Wavelet3DThreads, Image8ResultsDoNotDependOnTheTeamSize)
{
    Bank db4 = GetBank("Daub", 4);
    std::vector<float> vol = Volume(24, 18, 30, 9);
    std::vector<std::vector<float>> first;
    std::vector<float> firstBack;
    for (int team : {1, 7, 3}) {
        kzthreads::SetProcessorCountOverride(team);
        Bands3D s;
        ASSERT_EQ(Decompose(Form::Image8, s, vol.data(), 24, 18, 30, db4), 0);
        float* out = nullptr;
        unsigned w = 0, h = 0, d = 0;
        ASSERT_EQ(Reconstruct(Form::Image8, out, w, h, d, s.o, 12, 9, 15, db4), 0);
        std::vector<float> back(out, out + vol.size());
        CKzWavelet3D::FreeBuf(out);
        if (first.empty()) {
            for (float* p : s.o)
                first.emplace_back(p, p + 12 * 9 * 15);
            firstBack = back;
            continue;
        }
        for (int i = 0; i < 8; ++i)
            EXPECT_EQ(std::memcmp(first[i].data(), s.o[i], sizeof(float) * first[i].size()), 0) << team << " " << i;
        EXPECT_EQ(std::memcmp(firstBack.data(), back.data(), sizeof(float) * back.size()), 0) << team;
    }
    kzthreads::SetProcessorCountOverride(0);
    EXPECT_GE(KZ_GetProcessorCount(), 1);
}
}  // namespace
