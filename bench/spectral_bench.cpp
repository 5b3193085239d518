// Spectral rendering (8 channels, 16 bits) and the float spectral histogram on
// 2048 x 2048 pictures, on one band and on every processor, beside memcpy of
// the output frame in the same run.
#include "gnr_picture/KzProcessorCount.h"
#include "gnr_picture/KzProcessorCountInternal.h"
#include "gnr_picture/KzSpectral.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {
constexpr unsigned kSide = 2048, kComps = 8;

struct SpectLut {
    SKzLut lut;
    SpectLut()
    {
        SKzLut::Alloc(lut, 16, kComps, 8, 3);
        SKzLut::ReinitParametric(lut);
        for (unsigned k = 0; k < kComps; ++k)
            lut.pParametric[k] = SKzLutParametric{-100.0, 1.5, k == 0 ? 0.8 : 1.0, 0x00402010u * (k + 1)};
        lut.iPredefLut = -1;
    }
    ~SpectLut() { SKzLut::Free(lut); }
};

void Render16(benchmark::State& state)
{
    kzthreads::SetProcessorCountOverride(int(state.range(0)));
    SpectLut l;
    std::vector<unsigned short> src(size_t(kSide) * kSide * kComps);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = (unsigned short)((i * 2654435761u) >> 16);
    std::vector<unsigned char> dst(size_t(kSide) * kSide * 3);
    for (auto _ : state) {
        spect_render_Nx16_3x8_sse_overexp_underexp(dst.data(), kSide * 3, src.data(), 16, kSide * kComps * 2, kComps,
                                                   &l.lut, kSide, kSide * kSide);
        benchmark::ClobberMemory();
    }
    kzthreads::SetProcessorCountOverride(0);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(dst.size()));
}

void HistoFloat(benchmark::State& state)
{
    kzthreads::SetProcessorCountOverride(int(state.range(0)));
    SpectLut l;
    std::vector<float> src(size_t(kSide) * kSide * kComps);
    for (size_t i = 0; i < src.size(); ++i)
        src[i] = float((i * 2654435761u) >> 20) / 4096.0f;
    std::vector<unsigned> hist(768);
    for (auto _ : state) {
        spect_gethistorgbex_NxFloat_sse(hist.data(), hist.data() + 256, hist.data() + 512, src.data(),
                                        kSide * kComps * 4, 0.0f, 1.0f, kComps, kSide, uint64_t(kSide) * kSide, &l.lut);
        benchmark::ClobberMemory();
    }
    kzthreads::SetProcessorCountOverride(0);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kSide) * kSide * 3);
}

void MemcpyOutput(benchmark::State& state)
{
    std::vector<unsigned char> a(size_t(kSide) * kSide * 3, 1), b(a.size());
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), a.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(a.size()));
}
}  // namespace

BENCHMARK(MemcpyOutput)->Unit(benchmark::kMillisecond);
BENCHMARK(Render16)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(HistoFloat)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();
