// Resampling against OpenCV in the same run. Each pair reports destination
// bytes per second; the ratio of our figure to OpenCV's is the speed relative
// to it (1.0 = as fast). Nearest-neighbour pairs run OpenCV on one thread;
// the box-averaging reduction (two threads per call) runs beside INTER_AREA
// on two threads. memcpy of the destination gives the floor.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "gnr_picture/KzStretch.h"

#ifdef VT5_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

struct Pics {
    std::vector<unsigned char> src, dst;
    unsigned sw, sh, dw, dh, comps;
    Pics(unsigned sw_, unsigned sh_, unsigned dw_, unsigned dh_, unsigned c)
        : sw(sw_), sh(sh_), dw(dw_), dh(dh_), comps(c)
    {
        src.resize(size_t(sw) * sh * c);
        dst.resize(size_t(dw) * dh * c);
        std::mt19937 rng(1);
        for (auto& b : src)
            b = (unsigned char)rng();
    }
};

void Report(benchmark::State& st, const Pics& p)
{
    st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(p.dst.size()));
}

// Args: source width, height, destination width, height, components.
void BM_StretchQuick(benchmark::State& st)
{
    Pics p(unsigned(st.range(0)), unsigned(st.range(1)), unsigned(st.range(2)), unsigned(st.range(3)),
           unsigned(st.range(4)));
    auto fn = p.comps == 1 ? stretch_quick_1<unsigned char> : stretch_quick_3<unsigned char>;
    for (auto _ : st)
        benchmark::DoNotOptimize(fn(p.dst.data(), p.comps, p.dw * p.comps, 8, p.dw, p.dh, p.src.data(),
                                    p.sw * p.comps, p.sw, p.sh, 0, 0, p.sw, p.sh));
    Report(st, p);
}

void BM_StretchHybrid(benchmark::State& st)
{
    Pics p(unsigned(st.range(0)), unsigned(st.range(1)), unsigned(st.range(2)), unsigned(st.range(3)),
           unsigned(st.range(4)));
    auto fn = p.comps == 1 ? stretch_hybrid_mt_1<unsigned char> : stretch_hybrid_mt_3<unsigned char>;
    for (auto _ : st)
        benchmark::DoNotOptimize(fn(p.dst.data(), p.dw * p.comps, p.dw, p.dh, p.src.data(), p.sw * p.comps, p.sw,
                                    p.sh, p.comps, 8));
    Report(st, p);
}

void BM_MemcpyDestination(benchmark::State& st)
{
    Pics p(1, 1, unsigned(st.range(2)), unsigned(st.range(3)), unsigned(st.range(4)));
    std::vector<unsigned char> from(p.dst.size(), 1);
    for (auto _ : st) {
        std::memcpy(p.dst.data(), from.data(), p.dst.size());
        benchmark::ClobberMemory();
    }
    Report(st, p);
}

#ifdef VT5_HAVE_OPENCV
template <int Interp, int Threads>
void BM_CvResize(benchmark::State& st)
{
    Pics p(unsigned(st.range(0)), unsigned(st.range(1)), unsigned(st.range(2)), unsigned(st.range(3)),
           unsigned(st.range(4)));
    cv::setNumThreads(Threads);
    const int type = p.comps == 1 ? CV_8UC1 : CV_8UC3;
    cv::Mat s(int(p.sh), int(p.sw), type, p.src.data()), d(int(p.dh), int(p.dw), type, p.dst.data());
    for (auto _ : st)
        cv::resize(s, d, d.size(), 0, 0, Interp);
    Report(st, p);
}
#endif

void QuickPairs(benchmark::internal::Benchmark* b)
{
    for (int c : {1, 3}) {
        b->Args({2048, 2048, 3072, 3072, c});
        b->Args({2048, 2048, 1000, 1000, c});
    }
}
void HybridPairs(benchmark::internal::Benchmark* b)
{
    for (int c : {1, 3}) {
        b->Args({8192, 8192, 512, 512, c});
        b->Args({6000, 4000, 600, 400, c});
    }
}
}  // namespace

BENCHMARK(BM_StretchQuick)->Apply(QuickPairs)->UseRealTime();
BENCHMARK(BM_StretchHybrid)->Apply(HybridPairs)->UseRealTime();
BENCHMARK(BM_MemcpyDestination)->Apply(QuickPairs)->Apply(HybridPairs)->UseRealTime();
#ifdef VT5_HAVE_OPENCV
BENCHMARK(BM_CvResize<cv::INTER_NEAREST, 1>)->Apply(QuickPairs)->UseRealTime();
BENCHMARK(BM_CvResize<cv::INTER_AREA, 2>)->Apply(HybridPairs)->UseRealTime();
#endif
