// Throughput of the depth-conversion, float-conversion and histogram kernels
// on 2048 x 2048 frames, next to OpenCV's equivalents (one thread) and memcpy
// of the same bytes in the same run. Each pair reports bytes per second of
// the same picture, so ratio = ours / peer.
#include "gnr_picture/KzKernelsC.h"
#include "gnr_picture/internal/KzKernelsInternalK1.h"

#include <benchmark/benchmark.h>

#ifdef VT5_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

namespace {

constexpr uint32_t kW = 2048, kH = 2048, kCount = kW * kH;

struct Frames {
    std::vector<uint8_t> src8_1, src8_3, out8;
    std::vector<uint16_t> src16_1, src16_3, out16;
    std::vector<float> outF, second;
    std::vector<uint8_t> lut12;
    std::vector<uint32_t> hist[4];
    Frames()
    {
        std::mt19937 rng(7);
        src8_1.resize(size_t(kW) * kH);
        src8_3.resize(size_t(kW) * kH * 3);
        src16_1.resize(size_t(kW) * kH);
        src16_3.resize(size_t(kW) * kH * 3);
        for (auto& v : src8_1)
            v = uint8_t(rng());
        for (auto& v : src8_3)
            v = uint8_t(rng());
        for (auto& v : src16_1)
            v = uint16_t(rng() & 0x0FFF);
        for (auto& v : src16_3)
            v = uint16_t(rng() & 0x0FFF);
        out8.assign(src8_3.size(), 1);
        out16.assign(src16_3.size(), 1);
        outF.assign(src16_3.size(), 1.0f);
        second.assign(1, 0.0f);
        lut12.resize(4096);
        for (size_t i = 0; i < 4096; ++i)
            lut12[i] = uint8_t(i >> 4);
        for (auto& h : hist)
            h.assign(4096, 0);
    }
};

Frames& F()
{
    static Frames f;
    return f;
}

template <class Fn>
void Run(benchmark::State& st, size_t bytes, Fn&& fn)
{
    F();
#ifdef VT5_HAVE_OPENCV
    cv::setNumThreads(1);
#endif
    for (auto _ : st) {
        fn();
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(bytes));
}

// --- memcpy baselines ---------------------------------------------------------
void BM_memcpy_8bit_frame(benchmark::State& st)
{
    Run(st, F().src8_1.size(), [] { std::memcpy(F().out8.data(), F().src8_1.data(), F().src8_1.size()); });
}
BENCHMARK(BM_memcpy_8bit_frame);

// --- histograms ---------------------------------------------------------------
void BM_gethistogram_1x8(benchmark::State& st)
{
    Run(st, F().src8_1.size(), [] {
        gethistogram_1x8(F().hist[0].data(), 4, F().src8_1.data(), kW, 1, 1, kW, kCount);
    });
}
BENCHMARK(BM_gethistogram_1x8);
void BM_gethistogram_3x8(benchmark::State& st)
{
    Run(st, F().src8_3.size(), [] {
        void* set[3] = {F().hist[0].data(), F().hist[1].data(), F().hist[2].data()};
        gethistogram_3x8(set, 4, F().src8_3.data(), kW * 3, 1, 1, kW, kCount);
    });
}
BENCHMARK(BM_gethistogram_3x8);
void BM_gethistogram_1x16_12bit(benchmark::State& st)
{
    Run(st, F().src16_1.size() * 2, [] {
        gethistogram_1x16(F().hist[0].data(), 4, F().src16_1.data(), kW * 2, 1, 1, 12, kW, kCount);
    });
}
BENCHMARK(BM_gethistogram_1x16_12bit);

// --- depth conversion ---------------------------------------------------------
void BM_convert_Nx16_to_Nx8_12bit(benchmark::State& st)
{
    Run(st, F().src16_1.size() * 2, [] {
        convert_Nx16_to_Nx8(F().out8.data(), kW, F().src16_1.data(), 12, kW * 2, 1, kW, kCount);
    });
}
BENCHMARK(BM_convert_Nx16_to_Nx8_12bit);
void BM_convert_Nx8_to_Nx16(benchmark::State& st)
{
    Run(st, F().src8_1.size(), [] {
        convert_Nx8_to_Nx16(F().out16.data(), 16, kW * 2, F().src8_1.data(), kW, 1, kW, kCount);
    });
}
BENCHMARK(BM_convert_Nx8_to_Nx16);
void BM_changebitdepth_1xN_to_1x16_from8(benchmark::State& st)
{
    Run(st, F().src8_1.size(), [] {
        changebitdepth_1xN_to_1x16(F().out16.data(), kW * 2, F().src8_1.data(), kW, 8, kW, kCount);
    });
}
BENCHMARK(BM_changebitdepth_1xN_to_1x16_from8);
void BM_extract_Nx16_to_3xFloat2(benchmark::State& st)
{
    Run(st, F().src16_3.size() * 2, [] {
        extract_Nx16_to_3xFloat2(F().outF.data(), F().second.data(), 0, kW * 12, F().src16_3.data(), kW * 6, 12, 3,
                                 kW, kCount);
    });
}
BENCHMARK(BM_extract_Nx16_to_3xFloat2);
// LUT 12 -> 8 bits, compared with memcpy of its output (the 8-bit frame).
void BM_convertbitdepthvialuts_1x16_to_1x8_12bit(benchmark::State& st)
{
    Run(st, F().src8_1.size(), [] {
        convertbitdepthvialuts_1x16_to_1x8_depth(F().out8.data(), kW, F().src16_1.data(), kW * 2, F().lut12.data(),
                                                 kW, kCount, 12);
    });
}
BENCHMARK(BM_convertbitdepthvialuts_1x16_to_1x8_12bit);

// The same at other depths (table of 2^bits entries, samples below 2^bits):
// up to 12 bits the tables are looked up in registers, above that per sample.
void BM_convertbitdepthvialuts_1x16_to_1x8_bits(benchmark::State& st)
{
    const uint32_t bits = uint32_t(st.range(0));
    std::vector<uint16_t> src(F().src16_1.size());
    std::vector<uint8_t> lut(size_t(1) << bits);
    std::mt19937 rng(bits);
    for (auto& v : src)
        v = uint16_t(rng() & (lut.size() - 1));
    for (auto& e : lut)
        e = uint8_t(rng());
    Run(st, F().src8_1.size(), [&] {
        convertbitdepthvialuts_1x16_to_1x8_depth(F().out8.data(), kW, src.data(), kW * 2, lut.data(), kW, kCount,
                                                 bits);
    });
}
BENCHMARK(BM_convertbitdepthvialuts_1x16_to_1x8_bits)->Arg(8)->Arg(10)->Arg(12)->Arg(13)->Arg(16);

#ifdef VT5_HAVE_OPENCV
// --- OpenCV peers -------------------------------------------------------------
cv::Mat Wrap8(std::vector<uint8_t>& v, int ch) { return cv::Mat(kH, kW, CV_8UC(ch), v.data()); }
cv::Mat Wrap16(std::vector<uint16_t>& v, int ch) { return cv::Mat(kH, kW, CV_16UC(ch), v.data()); }

void BM_cv_calcHist_1x8(benchmark::State& st)
{
    cv::Mat src = Wrap8(F().src8_1, 1), hist;
    const int bins = 256, ch = 0;
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    Run(st, F().src8_1.size(), [&] { cv::calcHist(&src, 1, &ch, cv::Mat(), hist, 1, &bins, ranges); });
}
BENCHMARK(BM_cv_calcHist_1x8);
void BM_cv_calcHist_3x8(benchmark::State& st)
{
    cv::Mat src = Wrap8(F().src8_3, 3), hist[3];
    const int bins = 256;
    const float range[] = {0, 256};
    const float* ranges[] = {range};
    Run(st, F().src8_3.size(), [&] {
        for (int c = 0; c < 3; ++c)
            cv::calcHist(&src, 1, &c, cv::Mat(), hist[c], 1, &bins, ranges);
    });
}
BENCHMARK(BM_cv_calcHist_3x8);
void BM_cv_calcHist_1x16_12bit(benchmark::State& st)
{
    cv::Mat src = Wrap16(F().src16_1, 1), hist;
    const int bins = 4096, ch = 0;
    const float range[] = {0, 4096};
    const float* ranges[] = {range};
    Run(st, F().src16_1.size() * 2, [&] { cv::calcHist(&src, 1, &ch, cv::Mat(), hist, 1, &bins, ranges); });
}
BENCHMARK(BM_cv_calcHist_1x16_12bit);
void BM_cv_convertTo_16_to_8_div16(benchmark::State& st)
{
    cv::Mat src = Wrap16(F().src16_1, 1), dst = Wrap8(F().out8, 1);
    Run(st, F().src16_1.size() * 2, [&] { src.convertTo(dst, CV_8U, 1.0 / 16.0); });
}
BENCHMARK(BM_cv_convertTo_16_to_8_div16);
void BM_cv_convertTo_8_to_16_mul256(benchmark::State& st)
{
    cv::Mat src = Wrap8(F().src8_1, 1), dst = Wrap16(F().out16, 1);
    Run(st, F().src8_1.size(), [&] { src.convertTo(dst, CV_16U, 256.0); });
}
BENCHMARK(BM_cv_convertTo_8_to_16_mul256);
void BM_cv_convertTo_8_to_16(benchmark::State& st)
{
    cv::Mat src = Wrap8(F().src8_1, 1), dst = Wrap16(F().out16, 1);
    Run(st, F().src8_1.size(), [&] { src.convertTo(dst, CV_16U); });
}
BENCHMARK(BM_cv_convertTo_8_to_16);
void BM_cv_convertTo_16x3_to_32F(benchmark::State& st)
{
    cv::Mat src = Wrap16(F().src16_3, 3), dst(kH, kW, CV_32FC3, F().outF.data());
    Run(st, F().src16_3.size() * 2, [&] { src.convertTo(dst, CV_32F); });
}
BENCHMARK(BM_cv_convertTo_16x3_to_32F);

// --- Alternating pairs --------------------------------------------------------
// The peer and ours run in turns in one benchmark, so that the load of a busy
// machine falls on both alike (each timed on the thread's CPU clock); the
// counters give the ratio (peer time / our time, i.e. our throughput over the
// peer's) of the best and of the median runs. Run with
// --benchmark_repetitions=3 and quote the median of Ratio_median.
//
// Every timed run directly follows an untimed run of the same side, so each
// side is always timed from the caches it leaves itself (the steady state of
// repeated calls). Without that, a side that ran right after the other found
// its data partly evicted, one that ran after itself did not: a
// memory-bound peer such as memcpy then had two clusters of times, its best
// run came from one and its median from either, and the two ratios disagreed.
// Time on this thread's CPU clock: on a shared machine a run of a few
// milliseconds is often descheduled, and wall time would then measure the
// other processes.
double ThreadSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}
double Seconds(const std::function<void()>& f)
{
    f();
    const double t0 = ThreadSeconds();
    f();
    return ThreadSeconds() - t0;
}

void Pair(benchmark::State& st, const std::function<void()>& peer, const std::function<void()>& ours)
{
    F();
    cv::setNumThreads(1);
    std::vector<double> p, o;
    bool peerFirst = true;
    for (auto _ : st) {
        double tp, to;
        if (peerFirst) {
            tp = Seconds(peer);
            to = Seconds(ours);
        } else {
            to = Seconds(ours);
            tp = Seconds(peer);
        }
        peerFirst = !peerFirst;
        p.push_back(tp);
        o.push_back(to);
        st.SetIterationTime(tp + to);
    }
    std::sort(p.begin(), p.end());
    std::sort(o.begin(), o.end());
    st.counters["Ratio_best"] = p.front() / o.front();
    st.counters["Ratio_median"] = p[p.size() / 2] / o[o.size() / 2];
    st.counters["Ours_us_median"] = o[o.size() / 2] * 1e6;
    st.counters["Peer_us_median"] = p[p.size() / 2] * 1e6;
}

void CalcHist(const cv::Mat& src, int channel, int bins, cv::Mat& hist)
{
    const float range[] = {0, float(bins)};
    const float* ranges[] = {range};
    cv::calcHist(&src, 1, &channel, cv::Mat(), hist, 1, &bins, ranges);
}

void BM_pair_gethistogram_1x8_vs_calcHist(benchmark::State& st)
{
    cv::Mat src = Wrap8(F().src8_1, 1), hist;
    Pair(
        st, [&] { CalcHist(src, 0, 256, hist); },
        [] { gethistogram_1x8(F().hist[0].data(), 4, F().src8_1.data(), kW, 1, 1, kW, kCount); });
}
BENCHMARK(BM_pair_gethistogram_1x8_vs_calcHist)->Iterations(60)->UseManualTime();
// One calcHist call per channel, as a host would count three channels.
void BM_pair_gethistogram_3x8_vs_calcHist(benchmark::State& st)
{
    cv::Mat src = Wrap8(F().src8_3, 3), hist[3];
    Pair(
        st,
        [&] {
            for (int c = 0; c < 3; ++c)
                CalcHist(src, c, 256, hist[c]);
        },
        [] {
            void* set[3] = {F().hist[0].data(), F().hist[1].data(), F().hist[2].data()};
            gethistogram_3x8(set, 4, F().src8_3.data(), kW * 3, 1, 1, kW, kCount);
        });
}
BENCHMARK(BM_pair_gethistogram_3x8_vs_calcHist)->Iterations(30)->UseManualTime();
void BM_pair_gethistogram_1x16_12bit_vs_calcHist(benchmark::State& st)
{
    cv::Mat src = Wrap16(F().src16_1, 1), hist;
    Pair(
        st, [&] { CalcHist(src, 0, 4096, hist); },
        [] { gethistogram_1x16(F().hist[0].data(), 4, F().src16_1.data(), kW * 2, 1, 1, 12, kW, kCount); });
}
BENCHMARK(BM_pair_gethistogram_1x16_12bit_vs_calcHist)->Iterations(30)->UseManualTime();
void BM_pair_convert_16_to_8_12bit_vs_convertTo(benchmark::State& st)
{
    cv::Mat src = Wrap16(F().src16_1, 1), dst = Wrap8(F().out8, 1);
    Pair(
        st, [&] { src.convertTo(dst, CV_8U, 1.0 / 16.0); },
        [] { convert_Nx16_to_Nx8(F().out8.data(), kW, F().src16_1.data(), 12, kW * 2, 1, kW, kCount); });
}
BENCHMARK(BM_pair_convert_16_to_8_12bit_vs_convertTo)->Iterations(100)->UseManualTime();
void BM_pair_convert_8_to_16_vs_convertTo_mul256(benchmark::State& st)
{
    cv::Mat src = Wrap8(F().src8_1, 1), dst = Wrap16(F().out16, 1);
    Pair(
        st, [&] { src.convertTo(dst, CV_16U, 256.0); },
        [] { convert_Nx8_to_Nx16(F().out16.data(), 16, kW * 2, F().src8_1.data(), kW, 1, kW, kCount); });
}
BENCHMARK(BM_pair_convert_8_to_16_vs_convertTo_mul256)->Iterations(100)->UseManualTime();
void BM_pair_changebitdepth_8_to_16_vs_convertTo(benchmark::State& st)
{
    cv::Mat src = Wrap8(F().src8_1, 1), dst = Wrap16(F().out16, 1);
    Pair(
        st, [&] { src.convertTo(dst, CV_16U); },
        [] { changebitdepth_1xN_to_1x16(F().out16.data(), kW * 2, F().src8_1.data(), kW, 8, kW, kCount); });
}
BENCHMARK(BM_pair_changebitdepth_8_to_16_vs_convertTo)->Iterations(100)->UseManualTime();
void BM_pair_extract_16x3_to_float_vs_convertTo(benchmark::State& st)
{
    cv::Mat src = Wrap16(F().src16_3, 3), dst(kH, kW, CV_32FC3, F().outF.data());
    Pair(
        st, [&] { src.convertTo(dst, CV_32F); },
        [] {
            extract_Nx16_to_3xFloat2(F().outF.data(), F().second.data(), 0, kW * 12, F().src16_3.data(), kW * 6, 12,
                                     3, kW, kCount);
        });
}
BENCHMARK(BM_pair_extract_16x3_to_float_vs_convertTo)->Iterations(30)->UseManualTime();
// LUT 12 -> 8 bits through the dispatcher's entry, next to memcpy of its
// output (one byte per pixel).
void BM_pair_lut_12_to_8_vs_memcpy_output(benchmark::State& st)
{
    Pair(
        st, [] { std::memcpy(F().out8.data() + kCount, F().src8_1.data(), kCount); },
        [] {
            convertbitdepthvialuts_1x16_to_1x8_depth(F().out8.data(), kW, F().src16_1.data(), kW * 2,
                                                     F().lut12.data(), kW, kCount, 12);
        });
}
BENCHMARK(BM_pair_lut_12_to_8_vs_memcpy_output)->Iterations(100)->UseManualTime();
#endif

} // namespace
