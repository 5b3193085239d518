// Every allocation and thread start of the kernels that run on worker threads
// (spectral rendering and statistics, box-averaging reduction) is failed in
// turn (tests/numerics/failing_allocator.h). No exception leaves a kernel and
// nothing leaks; a refused thread start or band table costs only speed (the
// calling thread covers those rows: the same bytes come out); what cannot be
// done without memory returns its error code with nothing written.
#include "../numerics/failing_allocator.h"

#include "gnr_picture/KzProcessorCountInternal.h"
#include "gnr_picture/KzSpectral.h"
#include "gnr_picture/KzStretch.h"
#include "gnr_picture/SKzLut.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

namespace {

struct Lut {
    SKzLut lut;
    Lut(unsigned comps, unsigned bits)
    {
        EXPECT_EQ(SKzLut::Alloc(lut, u8(bits), u8(comps), 8, 3), 0);
        EXPECT_EQ(SKzLut::ReinitParametric(lut), 0);
        for (unsigned k = 0; k < comps; ++k)
            lut.pParametric[k] = SKzLutParametric{double(k), 1.0 + 0.25 * k, 1.0, 0x00102030u * (k + 1)};
        lut.iPredefLut = -1;
        for (unsigned k = 0; k < comps; ++k)
            lut.maskComp.Set(k, k == 1 || k == 3 || k == 4 || k == 9);
        SetExp(lut.pOverExpColor, 0x00FF00FFu);
        SetExp(lut.pUnderExpColor, 0x01000000u);  // complementary marking
    }
    ~Lut() { SKzLut::Free(lut); }
    static void SetExp(SKzLutExpColor*& rec, uint32_t value)
    {
        std::free(rec);
        rec = static_cast<SKzLutExpColor*>(std::calloc(1, SKzLut::kExpColorBytes));
        rec->red = value & 0xFF;
        rec->green = (value >> 8) & 0xFF;
        rec->blue = (value >> 16) & 0xFF;
        rec->flag = (value >> 24) & 0xFF;
    }
};

template <class T>
std::vector<T> Samples(size_t n, unsigned top, int salt)
{
    std::vector<T> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = T((i * 7919 + size_t(salt) * 104729) % (top + 1));
    return v;
}

struct Case {
    const char* name;
    size_t outBytes;
    int failCode;                             // what a call that cannot get its memory returns
    long recovered;                           // refusals at least that the call gets around
    std::function<int(unsigned char*)> call;  // writes (or adds) into the output block
};

TEST(ThreadedKernelAllocationSweep, RefusedMemoryOrThreadsNeverEndTheHost)
{
    kzthreads::SetProcessorCountOverride(4);
    const unsigned W = 7, R = 9, N = 10;
    Lut lut8(N, 8), lut12(N, 12);
    std::vector<unsigned char> s8 = Samples<unsigned char>(size_t(W) * R * N, 255, 1);
    std::vector<unsigned short> s16 = Samples<unsigned short>(size_t(W) * R * N, 4095, 2);
    std::vector<float> sf(s16.begin(), s16.end());
    for (float& v : sf)
        v /= 4095.0f;
    std::vector<unsigned> colours(N);
    std::vector<unsigned char> flags8(N, 0xFF);
    std::vector<unsigned short> flags16(N, 0xFFFF);
    std::vector<unsigned> flags32(N, 0xFFFFFFFFu);
    for (unsigned k = 0; k < N; ++k)
        colours[k] = 0x00203040u * (k + 1);
    // Box averaging: 400 x 300 samples onto 37 x 29.
    const unsigned SW = 400, SH = 300, DW = 37, DH = 29;
    std::vector<unsigned char> big8 = Samples<unsigned char>(size_t(SW) * SH * 3, 255, 3);
    std::vector<unsigned short> big16 = Samples<unsigned short>(size_t(SW) * SH * 5, 1023, 4);

    const Case cases[] = {
        {"render 8-bit with marking", size_t(W) * 3 * R, -3, 4,
         [&](unsigned char* o) {
             return spect_render_Nx8_3x8_sse_overexp_underexp(o, W * 3, s8.data(), 8, W * N, N, &lut8.lut, W, W * R);
         }},
        {"render 12-bit with marking", size_t(W) * 3 * R, -3, 4,
         [&](unsigned char* o) {
             return spect_render_Nx16_3x8_sse_overexp_underexp(o, W * 3, s16.data(), 12, W * N * 2, N, &lut12.lut, W,
                                                               W * R);
         }},
        {"render float", size_t(W) * 3 * R, -3, 0,
         [&](unsigned char* o) {
             return spect_render_NxFloat_3x8_float(o, W * 3, sf.data(), W * N * 4, N, &lut8.lut, W, W * R, 0.0f, 1.0f);
         }},
        {"maximum 8-bit", 3 * sizeof(double), -3, 4,
         [&](unsigned char* o) {
             return spect_getmaxrgb_Nx8_sse(reinterpret_cast<double*>(o), s8.data(), W * N, 8, N, W, W * R,
                                            colours.data(), flags8.data(), 1.0);
         }},
        {"maximum ex 12-bit", 3 * sizeof(double), -3, 4,
         [&](unsigned char* o) {
             return spect_getmaxrgbex_Nx16_sse(reinterpret_cast<double*>(o), s16.data(), W * N * 2, 12, N, W, W * R,
                                               &lut12.lut);
         }},
        {"maximum ex float", 3 * sizeof(double), -3, 4,
         [&](unsigned char* o) {
             return spect_getmaxrgbex_NxFloat_sse(reinterpret_cast<double*>(o), sf.data(), W * N * 4, 0.0f, 1.0f, N, W,
                                                  W * R, &lut8.lut);
         }},
        {"histogram float", 768 * sizeof(unsigned), -3, 4,
         [&](unsigned char* o) {
             unsigned* h = reinterpret_cast<unsigned*>(o);
             return spect_gethistorgb_NxFloat_sse(h, h + 256, h + 512, sf.data(), W * N * 4, 0.0f, 1.0f, N, W, W * R,
                                                  colours.data(), flags32.data(), 1.0);
         }},
        {"histogram ex float", 768 * sizeof(unsigned), -3, 4,
         [&](unsigned char* o) {
             unsigned* h = reinterpret_cast<unsigned*>(o);
             return spect_gethistorgbex_NxFloat_sse(h, h + 256, h + 512, sf.data(), W * N * 4, 0.0f, 1.0f, N, W, W * R,
                                                    &lut8.lut);
         }},
        {"minimum maximum sum", 3 * N * sizeof(double) + 3, -3, 0,
         [&](unsigned char* o) {
             double* m = reinterpret_cast<double*>(o);
             return spect_getminmaxmean_Nx16_float(m, m + N, m + 2 * N, o + 3 * N * sizeof(double), s16.data(),
                                                   W * N * 2, 0, N, W, W * R, colours.data(), flags16.data(), 0.01);
         }},
        {"box averaging 1 x 8", size_t(DW) * DH, -9, 0,
         [&](unsigned char* o) {
             return stretch_hybrid_mt_1<unsigned char>(o, DW, DW, DH, big8.data(), SW * 3, SW * 3, SH, 1, 8);
         }},
        {"box averaging 3 x 8", size_t(DW) * DH * 3, -9, 0,
         [&](unsigned char* o) {
             return stretch_hybrid_mt_3<unsigned char>(o, DW * 3, DW, DH, big8.data(), SW * 3, SW, SH, 3, 8);
         }},
        {"box averaging display 5 x 10", size_t(DW) * DH * 5 * 2, -9, 0,
         [&](unsigned char* o) {
             return stretch_display_hybrid_mt_N<unsigned short>(reinterpret_cast<unsigned short*>(o), DW, DH, 5,
                                                                DW * 10, 10, 60, 45, 3, 2, big16.data(), SW, SH,
                                                                SW * 10, true, false);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The output starts as the same pattern on every run (histograms are added to).
        const std::vector<unsigned char> start = Samples<unsigned char>(c.outBytes, 255, 5);
        std::vector<unsigned char> ref = start;
        ASSERT_EQ(c.call(ref.data()), 0);
        ASSERT_NE(ref, start);
        std::vector<unsigned char> out = start;
        long recovered = 0;
        const long runs = failalloc::Sweep(
            [&] {
                std::memcpy(out.data(), start.data(), start.size());
                return c.call(out.data());
            },
            [&](int r, const failalloc::Tally& t, long n) {
                EXPECT_EQ(t.live, 0) << n;
                if (r == 0) {
                    EXPECT_EQ(out, ref) << n;
                    recovered += t.failed;
                } else {
                    EXPECT_TRUE(t.failed) << n;
                    EXPECT_EQ(r, c.failCode) << n;
                    EXPECT_EQ(out, start) << n;
                }
            });
        EXPECT_GE(runs, 1);
        EXPECT_GE(recovered, c.recovered);
    }
    kzthreads::SetProcessorCountOverride(0);
}
}  // namespace
