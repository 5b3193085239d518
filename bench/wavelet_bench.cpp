// 2D and 3D wavelet transforms. scripts/bench_wavelet.py runs this program and
// pywt on the same sizes in one run and prints the ratios.
//
// Each transform reports the page faults of one call ("faults"): memory that
// a call asks of the system and touches for the first time costs a fault per
// page. The floor benchmarks do the least any design must do on the same
// sizes: read every input sample once and write every output sample once.
#include "numerics/CKzWavelet.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {
struct Filters {
    std::vector<double> lo, hi;
};

long MinorFaults()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

// Page faults per iteration of the timed loop.
struct FaultCounter {
    benchmark::State& state;
    long start = MinorFaults();
    ~FaultCounter()
    {
        state.counters["faults"] =
            benchmark::Counter(double(MinorFaults() - start), benchmark::Counter::kAvgIterations);
    }
};

Filters Get(bool coif, int grade)
{
    double* lo = nullptr;
    double* hi = nullptr;
    int n = 0;
    if (coif) {
        CKzCoiflets2DWave::GetMotherWavelet(lo, &n, grade);
        CKzCoiflets2DWave::GetFatherWavelet(hi, &n, grade);
    } else {
        CKzDaubechies2DWave::GetMotherWavelet(lo, &n, grade);
        CKzDaubechies2DWave::GetFatherWavelet(hi, &n, grade);
    }
    Filters f{std::vector<double>(lo, lo + n), std::vector<double>(hi, hi + n)};
    std::free(lo);
    std::free(hi);
    return f;
}

void Wavelet2D(benchmark::State& state, bool coif, int grade, bool reconstruct, bool allocate = false)
{
    const unsigned n = unsigned(state.range(0));
    Filters f = Get(coif, grade);
    const unsigned L = unsigned(f.lo.size());
    std::vector<double> pic(size_t(n) * n);
    for (size_t i = 0; i < pic.size(); ++i)
        pic[i] = double((i * 2654435761u) % 4096);
    std::vector<double> a(pic.size() / 4), b(a.size()), c(a.size()), d(a.size()), back(pic.size());
    double *pa = a.data(), *pb = b.data(), *pc = c.data(), *pd = d.data(), *pback = back.data();
    unsigned w2 = 0, h2 = 0, w = 0, h = 0;
    CKzWavelet2D::WaveletDecompositionImage(pa, pb, pc, pd, w2, h2, pic.data(), n, n, f.hi.data(), f.lo.data(), L);
    FaultCounter faults{state};
    for (auto _ : state) {
        if (allocate) {
            // Outputs allocated by the call and released after it, as a host
            // that keeps no arrays of its own does.
            double* o[4] = {};
            CKzWavelet2D::WaveletDecompositionImage(o[0], o[1], o[2], o[3], w2, h2, pic.data(), n, n, f.hi.data(),
                                                    f.lo.data(), L);
            benchmark::ClobberMemory();
            for (double* p : o)
                CKzWavelet2D::FreeBuf(p);
        } else if (reconstruct)
            CKzWavelet2D::WaveletReconstructionImage(pback, w, h, pa, pb, pc, pd, w2, h2, f.hi.data(), f.lo.data(),
                                                     L);
        else
            CKzWavelet2D::WaveletDecompositionImage(pa, pb, pc, pd, w2, h2, pic.data(), n, n, f.hi.data(),
                                                    f.lo.data(), L);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(pic.size() * sizeof(double)));
}

void Wavelet3D(benchmark::State& state, bool image8, bool reconstruct)
{
    const unsigned n = unsigned(state.range(0));
    Filters f = Get(false, 4);
    std::vector<float> f1(f.hi.begin(), f.hi.end()), f2(f.lo.begin(), f.lo.end());
    std::vector<float> vol(size_t(n) * n * n);
    for (size_t i = 0; i < vol.size(); ++i)
        vol[i] = float((i * 2654435761u) % 4096);
    std::vector<std::vector<float>> bands(8, std::vector<float>(vol.size() / 8));
    float* o[8];
    for (int i = 0; i < 8; ++i)
        o[i] = bands[i].data();
    std::vector<float> back(vol.size());
    float* pback = back.data();
    unsigned w2 = 0, h2 = 0, d2 = 0, w = 0, h = 0, d = 0;
    auto decompose = [&] {
        if (image8)
            CKzWavelet3D::WaveletDecompositionImage8(o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], w2, h2, d2,
                                                     vol.data(), n, n, n, f1.data(), f2.data(), 8);
        else
            CKzWavelet3D::WaveletDecompositionImage(o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7], w2, h2, d2,
                                                    vol.data(), n, n, n, f.hi.data(), f.lo.data(), 8);
    };
    decompose();
    FaultCounter faults{state};
    for (auto _ : state) {
        if (!reconstruct)
            decompose();
        else if (image8)
            CKzWavelet3D::WaveletReconstructionImage8(pback, w, h, d, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7],
                                                      w2, h2, d2, f1.data(), f2.data(), 8);
        else
            CKzWavelet3D::WaveletReconstructionImage(pback, w, h, d, o[0], o[1], o[2], o[3], o[4], o[5], o[6], o[7],
                                                     w2, h2, d2, f.hi.data(), f.lo.data(), 8);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(vol.size() * sizeof(float)));
}
// Floor: every input sample read once, every output sample written once (a
// copy of the picture or volume into, or out of, its sub-bands).
void Floor2D(benchmark::State& state, bool reconstruct)
{
    const size_t n = size_t(state.range(0));
    std::vector<double> pic(n * n, 1.0);
    std::vector<std::vector<double>> bands(4, std::vector<double>(n * n / 4, 2.0));
    for (auto _ : state) {
        for (size_t i = 0; i < 4; ++i) {
            double* part = pic.data() + i * (n * n / 4);
            if (reconstruct)
                std::memcpy(part, bands[i].data(), sizeof(double) * bands[i].size());
            else
                std::memcpy(bands[i].data(), part, sizeof(double) * bands[i].size());
        }
        benchmark::ClobberMemory();
    }
}

void Floor3D(benchmark::State& state, bool reconstruct)
{
    const size_t n = size_t(state.range(0));
    std::vector<float> vol(n * n * n, 1.0f);
    std::vector<std::vector<float>> bands(8, std::vector<float>(vol.size() / 8, 2.0f));
    for (auto _ : state) {
        for (size_t i = 0; i < 8; ++i) {
            float* part = vol.data() + i * (vol.size() / 8);
            if (reconstruct)
                std::memcpy(part, bands[i].data(), sizeof(float) * bands[i].size());
            else
                std::memcpy(bands[i].data(), part, sizeof(float) * bands[i].size());
        }
        benchmark::ClobberMemory();
    }
}
}  // namespace

BENCHMARK_CAPTURE(Floor2D, dwt2_floor, false)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Floor2D, idwt2_floor, true)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Floor3D, dwtn_floor, false)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Floor3D, idwtn_floor, true)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Wavelet2D, dwt2_db4, false, 4, false)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Wavelet2D, dwt2alloc_db4, false, 4, false, true)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Wavelet2D, idwt2_db4, false, 4, true)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Wavelet2D, dwt2_coif2, true, 2, false)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Wavelet2D, idwt2_coif2, true, 2, true)->Arg(2048)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Wavelet3D, dwtn_double, false, false)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Wavelet3D, idwtn_double, false, true)->Arg(256)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Wavelet3D, dwtn_image8, true, false)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(Wavelet3D, idwtn_image8, true, true)->Arg(256)->Unit(benchmark::kMillisecond)->UseRealTime();
