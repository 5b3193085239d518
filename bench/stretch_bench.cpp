// Resampling against OpenCV in the same run. Each pair reports destination
// bytes per second; the ratio of our figure to OpenCV's is the speed relative
// to it (1.0 = as fast). Nearest-neighbour pairs run OpenCV on one thread;
// the box-averaging reduction (two threads per call) runs beside INTER_AREA
// on two threads. memcpy of the destination gives the floor. Report only:
// the filtered two-pass stretch (triangle beside INTER_LINEAR, bell beside
// INTER_CUBIC, x2 up and x0.4 down) and the filtered display passes for a
// 1920 x 1080 view, OpenCV on one thread.
//
// BM_TriangleX2VsCvLinear is one pair printing its ratio: the triangle
// two-pass stretch of a 2048 x 2048 8-bit picture (1 or 3 components) to
// 4096 x 4096 beside cv::resize INTER_LINEAR of the same picture to the same
// size on one thread, interleaved in one process. Both place destination
// samples at half-pixel centres ((j + 0.5) x scale - 0.5), take two source
// samples per axis and repeat the edge samples beyond the picture; they
// differ in rounding: ours has weights in 1/1024 and truncates after each
// pass (the intermediate picture holds 8-bit samples), OpenCV has weights in
// 1/2048, keeps the horizontal sums and rounds once at the end. The work is
// the same: two taps per axis for every one of the 4096 x 4096 destination
// samples. Floor_ms is the least any design does: writing the destination
// once (memset).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include "gnr_picture/KzStretch.h"
#include "gnr_picture/internal/KzStretchTwoPass.h"

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

// Args as above, then 1 for the bell, 0 for the triangle.
void BM_StretchTwoPass(benchmark::State& st)
{
    Pics p(unsigned(st.range(0)), unsigned(st.range(1)), unsigned(st.range(2)), unsigned(st.range(3)),
           unsigned(st.range(4)));
    const bool useBell = st.range(5) != 0;
    for (auto _ : st)
        benchmark::DoNotOptimize(KzFilteredStretch<unsigned char>(p.dst.data(), p.comps, p.dw * p.comps, 8, p.dw, p.dh,
                                                                  p.src.data(), p.sw * p.comps, p.sw, p.sh, 0, 0,
                                                                  p.sw, p.sh, useBell));
    Report(st, p);
}

// The display passes: the whole source seen at the destination size
// (a zoom to fit), no window, no flip.
void BM_StretchDisplayTwoPass(benchmark::State& st)
{
    Pics p(unsigned(st.range(0)), unsigned(st.range(1)), unsigned(st.range(2)), unsigned(st.range(3)),
           unsigned(st.range(4)));
    const bool useBell = st.range(5) != 0;
    std::vector<unsigned char> bg(p.comps, 0);
    for (auto _ : st)
        benchmark::DoNotOptimize(KzFilteredDisplayEx<unsigned char>(
            p.dst.data(), p.dw, p.dh, p.comps, p.dw * p.comps, 8, p.dw, p.dh, 0, 0, p.src.data(), 0, 0, p.sw, p.sh,
            p.sw, p.sh, p.sw * p.comps, useBell, bg.data()));
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

#ifdef VT5_HAVE_OPENCV
double secondsOf(const std::function<void()>& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Arg: components (1 or 3).
void BM_TriangleX2VsCvLinear(benchmark::State& st)
{
    Pics p(2048, 2048, 4096, 4096, unsigned(st.range(0)));
    std::vector<unsigned char> peerDst(p.dst.size());
    cv::setNumThreads(1);
    const int type = p.comps == 1 ? CV_8UC1 : CV_8UC3;
    cv::Mat s(int(p.sh), int(p.sw), type, p.src.data()), d(int(p.dh), int(p.dw), type, peerDst.data());
    auto ours = [&] {
        if (KzFilteredStretch<unsigned char>(p.dst.data(), p.comps, p.dw * p.comps, 8, p.dw, p.dh, p.src.data(),
                                             p.sw * p.comps, p.sw, p.sh, 0, 0, p.sw, p.sh, false) != 0)
            std::abort();
    };
    auto peer = [&] { cv::resize(s, d, d.size(), 0, 0, cv::INTER_LINEAR); };
    auto floor = [&] {
        std::memset(p.dst.data(), 1, p.dst.size());
        benchmark::ClobberMemory();
    };
    ours();
    peer();
    std::vector<double> o, q, f;
    for (auto _ : st) {
        // Rounds of the three in turn, the first one changing each round.
        for (int round = 0; round < 15; ++round) {
            for (int k = 0; k < 3; ++k) {
                switch ((round + k) % 3) {
                case 0: o.push_back(secondsOf(ours)); break;
                case 1: q.push_back(secondsOf(peer)); break;
                default: f.push_back(secondsOf(floor)); break;
                }
            }
        }
    }
    st.counters["Ours_ms"] = median(o) * 1e3;
    st.counters["Peer_ms"] = median(q) * 1e3;
    st.counters["Floor_ms"] = median(f) * 1e3;
    st.counters["Ratio_median"] = median(q) / median(o);
    st.counters["Ratio_best"] = *std::min_element(q.begin(), q.end()) / *std::min_element(o.begin(), o.end());
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
void FilteredPairs(benchmark::internal::Benchmark* b)
{
    for (int c : {1, 3})
        for (int useBell : {0, 1}) {
            b->Args({1024, 1024, 2048, 2048, c, useBell});
            b->Args({2048, 2048, 819, 819, c, useBell});
        }
}
void DisplayPairs(benchmark::internal::Benchmark* b)
{
    for (int c : {1, 3})
        for (int useBell : {0, 1}) {
            b->Args({2560, 1440, 1920, 1080, c, useBell});
            b->Args({1280, 720, 1920, 1080, c, useBell});
        }
}
}  // namespace

BENCHMARK(BM_StretchQuick)->Apply(QuickPairs)->UseRealTime();
BENCHMARK(BM_StretchHybrid)->Apply(HybridPairs)->UseRealTime();
BENCHMARK(BM_StretchTwoPass)->Apply(FilteredPairs)->UseRealTime();
BENCHMARK(BM_StretchDisplayTwoPass)->Apply(DisplayPairs)->UseRealTime();
BENCHMARK(BM_MemcpyDestination)->Apply(QuickPairs)->Apply(HybridPairs)->UseRealTime();
#ifdef VT5_HAVE_OPENCV
BENCHMARK(BM_CvResize<cv::INTER_NEAREST, 1>)->Apply(QuickPairs)->UseRealTime();
BENCHMARK(BM_CvResize<cv::INTER_AREA, 2>)->Apply(HybridPairs)->UseRealTime();
// Pairs of the filtered passes: the last argument picks cubic (bell) or
// linear (triangle).
template <int Dummy>
void BM_CvResizeFiltered(benchmark::State& st)
{
    Pics p(unsigned(st.range(0)), unsigned(st.range(1)), unsigned(st.range(2)), unsigned(st.range(3)),
           unsigned(st.range(4)));
    cv::setNumThreads(1);
    const int type = p.comps == 1 ? CV_8UC1 : CV_8UC3;
    const int interp = st.range(5) != 0 ? cv::INTER_CUBIC : cv::INTER_LINEAR;
    cv::Mat s(int(p.sh), int(p.sw), type, p.src.data()), d(int(p.dh), int(p.dw), type, p.dst.data());
    for (auto _ : st)
        cv::resize(s, d, d.size(), 0, 0, interp);
    Report(st, p);
}
BENCHMARK(BM_CvResizeFiltered<0>)->Apply(FilteredPairs)->Apply(DisplayPairs)->UseRealTime();
BENCHMARK(BM_TriangleX2VsCvLinear)->Arg(1)->Arg(3)->Iterations(1)->Unit(benchmark::kMillisecond);
#endif
