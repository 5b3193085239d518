// Float picture operations on 2048 x 2048 one-component frames beside
// OpenCV (one thread) and memcpy in the same run: each iteration times the
// peer and ours alternately, and the counters give Ratio = peer time / our
// time (best and median passes): our throughput over the peer's, above 1 ours
// is faster.
#include "gnr_picture/KzIntFilters.h"
#include "gnr_picture/SKzFloatPicBuf.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#ifdef VT5_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr unsigned kW = 2048, kH = 2048;

struct FloatPicture {
    SKzFloatPicBuf pic;
    explicit FloatPicture(uint32_t seed)
    {
        CKzFloatPicBufAPI::Init(&pic);
        if (CKzFloatPicBufAPI::Reinit(&pic, kW, kH, 0, 1, false) != 0)
            std::abort();
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> d(0.0f, 1000.0f);
        for (size_t i = 0; i < size_t(kW) * kH; ++i)
            pic.pData[i] = d(rng);
    }
    ~FloatPicture() { CKzFloatPicBufAPI::Free(&pic); }
};

struct BytePicture {
    SKzPicBuf pic;
    explicit BytePicture(uint32_t seed)
    {
        CKzPicBufAPI::Init(&pic);
        if (CKzPicBufAPI::Reinit(&pic, kW, kH, 0, 8, 1, false) != 0)
            std::abort();
        std::mt19937 rng(seed);
        for (size_t i = 0; i < pic.uiSize; ++i)
            pic.pData[i] = uint8_t(rng());
    }
    ~BytePicture() { CKzPicBufAPI::Free(&pic); }
};

double Seconds(const std::function<void()>& f)
{
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Alternates peer and ours; the iteration time is the pair's.
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

void BM_AddVsMemcpy(benchmark::State& state)
{
    FloatPicture a(1), b(2), d(3);
    std::vector<float> plain(size_t(kW) * kH);
    Pair(
        state,
        [&] {
            std::memcpy(plain.data(), a.pic.pData, a.pic.uiSize);
            benchmark::DoNotOptimize(plain.data());
        },
        [&] {
            CKzFloatPicBufAPI::Plus(&d.pic, &a.pic, &b.pic);
            benchmark::DoNotOptimize(d.pic.pData);
        });
}
BENCHMARK(BM_AddVsMemcpy)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_DivideVsMemcpy(benchmark::State& state)
{
    FloatPicture a(1), b(2), d(3);
    std::vector<float> plain(size_t(kW) * kH);
    Pair(
        state,
        [&] {
            std::memcpy(plain.data(), a.pic.pData, a.pic.uiSize);
            benchmark::DoNotOptimize(plain.data());
        },
        [&] {
            CKzFloatPicBufAPI::Division(&d.pic, &a.pic, &b.pic);
            benchmark::DoNotOptimize(d.pic.pData);
        });
}
BENCHMARK(BM_DivideVsMemcpy)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_MultiplyConstVsMemcpy(benchmark::State& state)
{
    FloatPicture a(1), d(3);
    std::vector<float> plain(size_t(kW) * kH);
    Pair(
        state,
        [&] {
            std::memcpy(plain.data(), a.pic.pData, a.pic.uiSize);
            benchmark::DoNotOptimize(plain.data());
        },
        [&] {
            CKzFloatPicBufAPI::Multiplication(&d.pic, &a.pic, 1.5f);
            benchmark::DoNotOptimize(d.pic.pData);
        });
}
BENCHMARK(BM_MultiplyConstVsMemcpy)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);

#ifdef VT5_HAVE_OPENCV

cv::Mat View(SKzFloatPicBuf& p)
{
    return cv::Mat(int(p.uiHeight), int(p.uiWidth), CV_32FC1, p.pData, p.uiWidthBytes);
}

void BM_SmoothSquareVsBoxFilter(benchmark::State& state)
{
    cv::setNumThreads(1);
    const int size = int(state.range(0));
    FloatPicture a(1), d(2);
    cv::Mat src = View(a.pic), out;
    Pair(
        state,
        [&] {
            cv::boxFilter(src, out, -1, cv::Size(size, size));
            benchmark::DoNotOptimize(out.data);
        },
        [&] {
            CKzFloatPicBufAPI::SmoothSquare(&d.pic, &a.pic, size);
            benchmark::DoNotOptimize(d.pic.pData);
        });
}
BENCHMARK(BM_SmoothSquareVsBoxFilter)->Arg(5)->Arg(15)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_GaussVsGaussianBlur(benchmark::State& state)
{
    cv::setNumThreads(1);
    const int size = int(state.range(0));
    FloatPicture a(1), d(2);
    cv::Mat src = View(a.pic), out;
    Pair(
        state,
        [&] {
            cv::GaussianBlur(src, out, cv::Size(size, size), 0);
            benchmark::DoNotOptimize(out.data);
        },
        [&] {
            CKzFloatPicBufAPI::Smooth(&d.pic, &a.pic, 1, unsigned(size));
            benchmark::DoNotOptimize(d.pic.pData);
        });
}
BENCHMARK(BM_GaussVsGaussianBlur)->Arg(5)->Arg(9)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_MedianVsMedianBlur(benchmark::State& state)
{
    cv::setNumThreads(1);
    const int size = int(state.range(0));
    FloatPicture a(1), d(2);
    cv::Mat src = View(a.pic), out;
    Pair(
        state,
        [&] {
            cv::medianBlur(src, out, size);
            benchmark::DoNotOptimize(out.data);
        },
        [&] {
            CKzFloatPicBufAPI::MedianFilter(&d.pic, &a.pic, unsigned(size));
            benchmark::DoNotOptimize(d.pic.pData);
        });
}
BENCHMARK(BM_MedianVsMedianBlur)->Arg(3)->Arg(5)->Iterations(3)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_SmoothSquare1x8VsBlur(benchmark::State& state)
{
    cv::setNumThreads(1);
    const int size = int(state.range(0));
    BytePicture a(1), d(2);
    cv::Mat src(int(kH), int(kW), CV_8UC1, a.pic.pData, a.pic.uiWidthBytes), out;
    Pair(
        state,
        [&] {
            cv::blur(src, out, cv::Size(size, size));
            benchmark::DoNotOptimize(out.data);
        },
        [&] {
            SmoothSquare_1x8(&d.pic, &a.pic, size);
            benchmark::DoNotOptimize(d.pic.pData);
        });
}
BENCHMARK(BM_SmoothSquare1x8VsBlur)->Arg(5)->Arg(15)->Iterations(20)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_PictureToFloatVsConvertTo(benchmark::State& state)
{
    cv::setNumThreads(1);
    BytePicture b(1);
    FloatPicture d(2);
    cv::Mat src(int(kH), int(kW), CV_8UC1, b.pic.pData, b.pic.uiWidthBytes), out;
    Pair(
        state,
        [&] {
            src.convertTo(out, CV_32F);
            benchmark::DoNotOptimize(out.data);
        },
        [&] {
            CKzFloatPicBufAPI::ConvertFromPicBuf(&d.pic, &b.pic);
            benchmark::DoNotOptimize(d.pic.pData);
        });
}
BENCHMARK(BM_PictureToFloatVsConvertTo)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);

void BM_FloatToPictureVsConvertTo(benchmark::State& state)
{
    cv::setNumThreads(1);
    FloatPicture a(1);
    BytePicture b(2);
    cv::Mat src = View(a.pic), out;
    Pair(
        state,
        [&] {
            src.convertTo(out, CV_8U, 255.0 / 1000.0);
            benchmark::DoNotOptimize(out.data);
        },
        [&] {
            CKzFloatPicMemAPI::ConvertFloatToPicture(b.pic.pData, 8, b.pic.uiWidthBytes, a.pic.pData, 0.0f, 1000.0f,
                                                     true, a.pic.uiWidthBytes, 1, kW, kH);
            benchmark::DoNotOptimize(b.pic.pData);
        });
}
BENCHMARK(BM_FloatToPictureVsConvertTo)->Iterations(30)->UseManualTime()->Unit(benchmark::kMillisecond);

#endif

} // namespace
