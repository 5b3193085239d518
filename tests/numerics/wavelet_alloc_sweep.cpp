// Every allocation and thread start of every wavelet transform is failed in
// turn (failing_allocator.h): no exception leaves a call, a failed call
// returns -9 and leaves behind only what the transform's rules give the
// caller, and a call that got around a refused thread start gives the same
// bits as an undisturbed one.
#include "failing_allocator.h"

#include "gnr_picture/KzProcessorCountInternal.h"
#include "numerics/CKzWavelet.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Filters {
    std::vector<double> lo, hi;
    std::vector<float> flo, fhi;
    // The transforms take their filters through non-const pointers.
    double* Hi() const { return const_cast<double*>(hi.data()); }
    double* Lo() const { return const_cast<double*>(lo.data()); }
    float* FHi() const { return const_cast<float*>(fhi.data()); }
    float* FLo() const { return const_cast<float*>(flo.data()); }
};

Filters Db4()
{
    double* lo = nullptr;
    double* hi = nullptr;
    int n = 0;
    CKzDaubechies2DWave::GetMotherWavelet(lo, &n, 4);
    CKzDaubechies2DWave::GetFatherWavelet(hi, &n, 4);
    Filters f{{lo, lo + n}, {hi, hi + n}, {lo, lo + n}, {hi, hi + n}};
    std::free(lo);
    std::free(hi);
    return f;
}

std::vector<float> Samples(size_t n, int salt)
{
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = float(int((i * 7919 + size_t(salt) * 104729) % 1009) - 504) / 37.0f;
    return v;
}

// Threads are started for the Image8 forms on any machine.
struct Team {
    Team() { kzthreads::SetProcessorCountOverride(3); }
    ~Team() { kzthreads::SetProcessorCountOverride(0); }
};

// ---------------------------------------------------------------------------
// 2D: outputs that a failed call allocated stay with the caller.
// ---------------------------------------------------------------------------

TEST(WaveletAllocationSweep, Decomposition2DKeepsWhatItGaveTheCaller)
{
    const Filters f = Db4();
    const unsigned w = 20, h = 12;
    std::vector<float> s = Samples(size_t(w) * h, 1);
    std::vector<double> pic(s.begin(), s.end());
    struct Case {
        const char* name;
        bool callerB;  // b is a caller array; the others are allocated by the call
    };
    for (const Case& c : {Case{"all allocated", false}, Case{"b given", true}}) {
        SCOPED_TRACE(c.name);
        std::vector<double> ref[4];
        {
            double* o[4] = {};
            unsigned w2 = 0, h2 = 0;
            ASSERT_EQ(CKzWavelet2D::WaveletDecompositionImage(o[0], o[1], o[2], o[3], w2, h2, pic.data(), w, h,
                                                              f.Hi(), f.Lo(), 8),
                      0);
            for (int i = 0; i < 4; ++i) {
                ref[i].assign(o[i], o[i] + 60);
                CKzWavelet2D::FreeBuf(o[i]);
            }
        }
        std::vector<double> given(60, 7.0);
        double* o[4] = {};
        const long runs = failalloc::Sweep(
            [&] {
                for (double*& p : o)
                    p = nullptr;
                if (c.callerB)
                    o[1] = given.data();
                unsigned w2 = 0, h2 = 0;
                return CKzWavelet2D::WaveletDecompositionImage(o[0], o[1], o[2], o[3], w2, h2, pic.data(), w, h,
                                                               f.Hi(), f.Lo(), 8);
            },
            [&](int r, const failalloc::Tally& t, long n) {
                int made = 0;
                for (int i = 0; i < 4; ++i)
                    made += (o[i] != nullptr && o[i] != given.data());
                EXPECT_EQ(t.live, made) << n;  // nothing but the outputs outlives the call
                if (c.callerB)
                    EXPECT_EQ(o[1], given.data()) << n;
                if (t.failed) {
                    EXPECT_EQ(r, -9) << n;
                } else {
                    EXPECT_EQ(r, 0) << n;
                    for (int i = 0; i < 4; ++i)
                        EXPECT_EQ(std::memcmp(o[i], ref[i].data(), 60 * sizeof(double)), 0) << n << " band " << i;
                }
                for (double* p : o)
                    if (p != given.data())
                        CKzWavelet2D::FreeBuf(p);
            });
        EXPECT_EQ(runs, c.callerB ? 4 : 5);  // the line buffer, then each allocated output
    }
}

TEST(WaveletAllocationSweep, Reconstruction2DReturnsNothingOnFailure)
{
    const Filters f = Db4();
    std::vector<float> s = Samples(4 * 60, 2);
    std::vector<double> bands(s.begin(), s.end());
    double* b[4] = {&bands[0], &bands[60], &bands[120], &bands[180]};
    std::vector<double> ref;
    {
        double* out = nullptr;
        unsigned w = 0, h = 0;
        ASSERT_EQ(CKzWavelet2D::WaveletReconstructionImage(out, w, h, b[0], b[1], b[2], b[3], 10, 6, f.Hi(), f.Lo(), 8),
                  0);
        ref.assign(out, out + 240);
        CKzWavelet2D::FreeBuf(out);
    }
    for (bool given : {false, true}) {
        SCOPED_TRACE(given ? "output given" : "output allocated");
        std::vector<double> mine(240, 3.0);
        double* out = nullptr;
        failalloc::Sweep(
            [&] {
                out = given ? mine.data() : nullptr;
                unsigned w = 0, h = 0;
                return CKzWavelet2D::WaveletReconstructionImage(out, w, h, b[0], b[1], b[2], b[3], 10, 6,
                                                                f.Hi(), f.Lo(), 8);
            },
            [&](int r, const failalloc::Tally& t, long n) {
                if (t.failed) {
                    EXPECT_EQ(r, -9) << n;
                    EXPECT_EQ(out, given ? mine.data() : nullptr) << n;
                    EXPECT_EQ(t.live, 0) << n;
                } else {
                    ASSERT_EQ(r, 0) << n;
                    EXPECT_EQ(std::memcmp(out, ref.data(), ref.size() * sizeof(double)), 0) << n;
                    EXPECT_EQ(t.live, given ? 0 : 1) << n;
                }
                if (!given)
                    CKzWavelet2D::FreeBuf(out);
            });
    }
}

// ---------------------------------------------------------------------------
// 3D, every form: a failed call releases and nulls the outputs it allocated.
// ---------------------------------------------------------------------------

enum class Form { Double, Float, Image8 };
const Form kForms[] = {Form::Double, Form::Float, Form::Image8};

int Decompose(Form form, float** o, float* vol, unsigned w, unsigned h, unsigned d, const Filters& f)
{
    unsigned w2 = 0, h2 = 0, d2 = 0;
    switch (form) {
    case Form::Double:
        return CKzWavelet3D::WaveletDecompositionImage(o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], w2, h2, d2, vol,
                                                       w, h, d, f.Hi(), f.Lo(), 8);
    case Form::Float:
        return CKzWavelet3D::WaveletDecompositionImage(o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], w2, h2, d2, vol,
                                                       w, h, d, f.FHi(), f.FLo(), 8);
    default:
        return CKzWavelet3D::WaveletDecompositionImage8(o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], w2, h2, d2,
                                                        vol, w, h, d, f.FHi(), f.FLo(), 8);
    }
}

int Reconstruct(Form form, float*& out, float* const* o, unsigned w2, unsigned h2, unsigned d2, const Filters& f)
{
    unsigned w = 0, h = 0, d = 0;
    switch (form) {
    case Form::Double:
        return CKzWavelet3D::WaveletReconstructionImage(out, w, h, d, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7],
                                                        w2, h2, d2, f.Hi(), f.Lo(), 8);
    case Form::Float:
        return CKzWavelet3D::WaveletReconstructionImage(out, w, h, d, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7],
                                                        w2, h2, d2, f.FHi(), f.FLo(), 8);
    default:
        return CKzWavelet3D::WaveletReconstructionImage8(out, w, h, d, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7],
                                                         w2, h2, d2, f.FHi(), f.FLo(), 8);
    }
}

TEST(WaveletAllocationSweep, Every3DFormReleasesWhatAFailedCallMade)
{
    Team team;
    const Filters f = Db4();
    const unsigned w = 16, h = 12, d = 10;
    const size_t band = 8 * 6 * 5;
    std::vector<float> vol = Samples(size_t(w) * h * d, 3);
    for (Form form : kForms) {
        SCOPED_TRACE(int(form));
        std::vector<std::vector<float>> ref;
        std::vector<float> refBack;
        {
            float* o[8] = {};
            ASSERT_EQ(Decompose(form, o, vol.data(), w, h, d, f), 0);
            for (float* p : o)
                ref.emplace_back(p, p + band);
            float* out = nullptr;
            ASSERT_EQ(Reconstruct(form, out, o, 8, 6, 5, f), 0);
            refBack.assign(out, out + vol.size());
            CKzWavelet3D::FreeBuf(out);
            for (float* p : o)
                CKzWavelet3D::FreeBuf(p);
        }
        // Decomposition with o5 given by the caller.
        std::vector<float> given(band, 5.0f);
        float* o[8] = {};
        long runs = failalloc::Sweep(
            [&] {
                for (float*& p : o)
                    p = nullptr;
                o[5] = given.data();
                return Decompose(form, o, vol.data(), w, h, d, f);
            },
            [&](int r, const failalloc::Tally& t, long n) {
                EXPECT_EQ(o[5], given.data()) << n;
                if (r != 0) {
                    EXPECT_EQ(r, -9) << n;
                    EXPECT_TRUE(t.failed) << n;
                    for (int i = 0; i < 8; ++i)
                        if (i != 5)
                            EXPECT_EQ(o[i], nullptr) << n << " o" << i;
                    EXPECT_EQ(t.live, 0) << n;
                    return;
                }
                // A refused thread start: the calling thread did that part.
                EXPECT_EQ(t.live, 7) << n;
                for (int i = 0; i < 8; ++i) {
                    EXPECT_EQ(std::memcmp(o[i], ref[size_t(i)].data(), band * sizeof(float)), 0) << n << " o" << i;
                    if (i != 5)
                        CKzWavelet3D::FreeBuf(o[i]);
                }
            });
        EXPECT_GE(runs, 8);  // seven outputs and the buffers, and the thread starts of Image8
        if (form == Form::Image8)
            EXPECT_GE(runs, 8 + 2);

        // Reconstruction into an allocated and into a given volume.
        std::vector<float*> sub;
        for (auto& r : ref)
            sub.push_back(r.data());
        for (bool givenOut : {false, true}) {
            std::vector<float> mine(vol.size(), 1.0f);
            float* out = nullptr;
            failalloc::Sweep(
                [&] {
                    out = givenOut ? mine.data() : nullptr;
                    return Reconstruct(form, out, sub.data(), 8, 6, 5, f);
                },
                [&](int r, const failalloc::Tally& t, long n) {
                    if (r != 0) {
                        EXPECT_EQ(r, -9) << n;
                        EXPECT_EQ(out, givenOut ? mine.data() : nullptr) << n;
                        EXPECT_EQ(t.live, 0) << n;
                        return;
                    }
                    EXPECT_EQ(t.live, givenOut ? 0 : 1) << n;
                    EXPECT_EQ(std::memcmp(out, refBack.data(), refBack.size() * sizeof(float)), 0) << n;
                    if (!givenOut)
                        CKzWavelet3D::FreeBuf(out);
                });
        }
    }
}

TEST(WaveletAllocationSweep, FilterBanksReturnMinusNineWithANullFilter)
{
    for (int family = 0; family < 3; ++family) {
        double* filter = nullptr;
        float* ffilter = nullptr;
        int taps = 0;
        failalloc::Sweep(
            [&] {
                filter = nullptr;
                ffilter = nullptr;
                if (family == 0)
                    return CKzCoiflets2DWave::GetFatherWavelet(filter, &taps, 2);
                if (family == 1)
                    return CKzDaubechies2DWave::GetMotherWavelet(filter, &taps, 4);
                return CKzDaubechies2DWave::GetFatherWavelet(ffilter, &taps, 4);
            },
            [&](int r, const failalloc::Tally& t, long n) {
                EXPECT_EQ(r, t.failed ? -9 : 0) << n;
                EXPECT_EQ(filter == nullptr && ffilter == nullptr, t.failed) << n;
                EXPECT_EQ(t.live, t.failed ? 0 : 1) << n;
                std::free(filter);
                std::free(ffilter);
            });
    }
}
}  // namespace
