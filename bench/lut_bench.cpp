// Auto-contrast of a 2048 x 2048 12-bit 3-component frame (one histogram pass
// and the cut search) beside OpenCV's calcHist of the same frame on one
// thread, timed alternately in the same run. Ratio = peer time / our time:
// 1 means equal speed, above 1 ours is faster.
#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/SKzLutParam.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#ifdef VT5_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

double Seconds(const std::function<void()>& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void Pair(benchmark::State& state, const std::function<void()>& peer, const std::function<void()>& ours)
{
    std::vector<double> p, o;
    bool peerFirst = true;
    for (auto _ : state) {
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
        state.SetIterationTime(tp + to);
    }
    std::sort(p.begin(), p.end());
    std::sort(o.begin(), o.end());
    state.counters["Peer_ms_best"] = p.front() * 1e3;
    state.counters["Ours_ms_best"] = o.front() * 1e3;
    state.counters["Ratio_best"] = p.front() / o.front();
    state.counters["Ratio_median"] = p[p.size() / 2] / o[o.size() / 2];
}

#ifdef VT5_HAVE_OPENCV

void BM_AutoContrast12x3VsCalcHist(benchmark::State& state)
{
    cv::setNumThreads(1);
    SKzPicBuf pic;
    CKzPicBufAPI::Init(&pic);
    if (CKzPicBufAPI::Reinit(&pic, 2048, 2048, 0, 12, 3, false) != 0) std::abort();
    std::mt19937 rng(20);
    // A frame that fills part of the range, as a microscope frame does.
    std::normal_distribution<double> level(1500.0, 400.0);
    u16* s = reinterpret_cast<u16*>(pic.pData);
    for (size_t i = 0; i < pic.uiSize / 2; ++i) s[i] = u16(std::clamp(level(rng), 0.0, 4095.0));
    cv::Mat m(2048, 2048, CV_16UC3, pic.pData, pic.uiWidthBytes);
    const int bins = 4096;
    const float range[2] = {0, 4096};
    const float* ranges[1] = {range};
    cv::Mat hist;
    auto param = std::make_unique<SKzLutParam>();
    Pair(
        state,
        [&] {
            for (int c = 0; c < 3; ++c) cv::calcHist(&m, 1, &c, cv::Mat(), hist, 1, &bins, ranges, true, false);
            benchmark::DoNotOptimize(hist.data);
        },
        [&] {
            CKzPicBufAPI::GetAutoContrast(param.get(), nullptr, &pic, 0.5, 0.5, false, false);
            benchmark::DoNotOptimize(param->sCompLutParam[2].uiMaxSrc);
        });
    CKzPicBufAPI::Free(&pic);
}
BENCHMARK(BM_AutoContrast12x3VsCalcHist)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);

#endif

} // namespace
