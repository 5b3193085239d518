// Labelling a 2048 x 2048 8-bit mask into run-length objects (8-connectivity)
// beside cv::connectedComponents (8, CV_32S, one thread) on the same mask, for a
// smoothed random blob mask and for 50 % salt and pepper; and painting the
// labelled objects back into the 8-bit mask picture beside a memcpy of that picture's
// bytes, on the plain path (isa 0) and the widest this processor has (isa 2), for
// the one layer painted again and again (layers 1) and for two layers in turn
// (layers 2). BM_LabelFloor: a pass that only reads the mask and counts runs,
// beside the same peer: the least work a labelling can do.
// Ratio counters: peer time / our time (1.0 = as fast as the peer).
#include <benchmark/benchmark.h>

#include "gnr_picture/CKzPicBufAPI.h"
#include "gnr_picture/CKzRLEPicBufAPI.h"
#include "gnr_picture/KzKernelCommon.h"

#include <chrono>
#include <emmintrin.h>
#include <cstring>
#include <random>
#include <vector>

#ifdef VT5_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

namespace {

constexpr unsigned kSide = 2048;

struct Mask {
    SKzPicBuf pic{};
    explicit Mask(bool blobs, unsigned seed = 2024)
    {
        CKzPicBufAPI::Init(&pic);
        CKzPicBufAPI::Reinit(&pic, kSide, kSide, 0, 8, 1, true);
        std::mt19937 rng(seed);
        if (!blobs) {
            for (unsigned y = 0; y < kSide; ++y)
                for (unsigned x = 0; x < kSide; ++x) pic.pData[size_t(y) * pic.uiWidthBytes + x] = (rng() & 1) ? 255 : 0;
            return;
        }
        // Random field smoothed by two box passes of radius 6, thresholded at its mean.
        std::vector<float> f(size_t(kSide) * kSide), g(f.size());
        for (auto& v : f) v = float(rng() & 0xFFFF);
        for (int pass = 0; pass < 2; ++pass) {
            for (unsigned y = 0; y < kSide; ++y) {
                float acc = 0;
                for (int x = -6; x < int(kSide) + 6; ++x) {
                    if (x + 6 < int(kSide)) acc += f[size_t(y) * kSide + x + 6];
                    if (x - 7 >= 0) acc -= f[size_t(y) * kSide + x - 7];
                    if (x >= 0 && x < int(kSide)) g[size_t(y) * kSide + x] = acc;
                }
            }
            for (unsigned x = 0; x < kSide; ++x) {
                float acc = 0;
                for (int y = -6; y < int(kSide) + 6; ++y) {
                    if (y + 6 < int(kSide)) acc += g[size_t(y + 6) * kSide + x];
                    if (y - 7 >= 0) acc -= g[size_t(y - 7) * kSide + x];
                    if (y >= 0 && y < int(kSide)) f[size_t(y) * kSide + x] = acc;
                }
            }
        }
        double mean = 0;
        for (float v : f) mean += v;
        mean /= double(f.size());
        for (unsigned y = 0; y < kSide; ++y)
            for (unsigned x = 0; x < kSide; ++x)
                pic.pData[size_t(y) * pic.uiWidthBytes + x] = f[size_t(y) * kSide + x] > mean ? 255 : 0;
    }
    ~Mask() { CKzPicBufAPI::Free(&pic); }
};

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

#ifdef VT5_HAVE_OPENCV
// The peer's time for labelling the mask once (8-connectivity, one thread).
double OpenCvLabelSeconds(const Mask& mask)
{
    cv::setNumThreads(1);
    cv::Mat m(static_cast<int>(kSide), static_cast<int>(kSide), CV_8UC1, mask.pic.pData, mask.pic.uiWidthBytes), labels;
    auto t2 = std::chrono::steady_clock::now();
    const int n = cv::connectedComponents(m, labels, 8, CV_32S);
    auto t3 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(n);
    return Seconds(t3 - t2);
}
#endif

void BM_Label(benchmark::State& state)
{
    Mask mask(state.range(0) == 1);
    double ours = 0, peer = 0;
    unsigned objects = 0;
    for (auto _ : state) {
        SKzRLEPicBuf rle;
        CKzRLEPicBufAPI::Init(&rle, 0, true);
        auto t0 = std::chrono::steady_clock::now();
        CKzRLEPicBufAPI::ConvertPicBufToPaintedRLE(&rle, &mask.pic, 8);
        auto t1 = std::chrono::steady_clock::now();
        ours += Seconds(t1 - t0);
        objects = rle.uiObjectCount;
        CKzRLEPicBufAPI::Free(&rle);
#ifdef VT5_HAVE_OPENCV
        peer += OpenCvLabelSeconds(mask);
#endif
    }
    state.counters["objects"] = objects;
    if (peer > 0) state.counters["ratio_vs_opencv"] = peer / ours;
}
BENCHMARK(BM_Label)->Arg(1)->Arg(0)->ArgNames({"blobs"})->Unit(benchmark::kMillisecond);

// The floor of labelling: one pass that reads the mask and counts its runs (16
// samples a compare, a run counted where a set bit follows a clear one), the least
// any labelling must do; beside the same peer, so its ratio bounds what a design
// can reach on this machine.
u64 CountRunsFloor(const SKzPicBuf& pic)
{
    u64 runs = 0;
    const __m128i zero = _mm_setzero_si128();
    for (unsigned y = 0; y < pic.uiHeight; ++y) {
        const u8* row = pic.pData + size_t(y) * pic.uiWidthBytes;
        u64 carry = 0;
        for (unsigned x = 0; x + 64 <= pic.uiWidth; x += 64) {
            u64 m = 0;
            for (int q = 0; q < 4; ++q) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + x + 16 * q));
                m |= u64(~unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))) & 0xFFFFu) << (16 * q);
            }
            runs += u64(__builtin_popcountll(m & ~((m << 1) | carry)));
            carry = m >> 63;
        }
    }
    return runs;
}

void BM_LabelFloor(benchmark::State& state)
{
    Mask mask(state.range(0) == 1);
    double ours = 0, peer = 0;
    u64 runs = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        runs = CountRunsFloor(mask.pic);
        benchmark::DoNotOptimize(runs);
        auto t1 = std::chrono::steady_clock::now();
        ours += Seconds(t1 - t0);
#ifdef VT5_HAVE_OPENCV
        peer += OpenCvLabelSeconds(mask);
#endif
    }
    state.counters["runs"] = double(runs);
    if (peer > 0) state.counters["ratio_vs_opencv"] = peer / ours;
}
BENCHMARK(BM_LabelFloor)->Arg(1)->Arg(0)->ArgNames({"blobs"})->Unit(benchmark::kMillisecond);

void BM_Paint(benchmark::State& state)
{
    // layers 2: two blob layers of the same kind painted in turn, so that branch
    // predictors cannot learn one layer's run sequence from the previous iteration
    // (a host paints a different layer with each frame).
    const int layerCount = int(state.range(1));
    SKzRLEPicBuf layers[2];
    u64 runs = 0;
    for (int i = 0; i < layerCount; ++i) {
        Mask mask(true, 2024 + unsigned(i));
        CKzRLEPicBufAPI::Init(&layers[i], 0, true);
        CKzRLEPicBufAPI::ConvertPicBufToPaintedRLE(&layers[i], &mask.pic, 8);
        for (SKzRLEObject* o = CKzRLEPicBufAPI::GetNextRLEObject(&layers[i], nullptr); o;
             o = CKzRLEPicBufAPI::GetNextRLEObject(&layers[i], o))
            runs += GetSegmentCount(o);
    }
    SKzPicBuf out;
    CKzPicBufAPI::Init(&out);
    CKzPicBufAPI::Reinit(&out, kSide, kSide, 0, 8, 1, true);
    std::vector<unsigned char> copy(size_t(out.uiSize));
    // isa 0: the plain path every processor takes; 2: the widest this one has.
    const int savedIsa = KzIsaLimit().load();
    KzIsaLimit().store(int(state.range(0)));
    double ours = 0, peer = 0;
    int next = 0;
    for (auto _ : state) {
        const SKzRLEPicBuf* rle = &layers[next];
        next = next + 1 == layerCount ? 0 : next + 1;
        auto t0 = std::chrono::steady_clock::now();
        CKzRLEPicBufAPI::ConvertRLEToPicBuf(&out, rle, 0);
        auto t1 = std::chrono::steady_clock::now();
        std::memcpy(copy.data(), out.pData, copy.size());
        benchmark::ClobberMemory();
        auto t2 = std::chrono::steady_clock::now();
        ours += Seconds(t1 - t0);
        peer += Seconds(t2 - t1);
    }
    KzIsaLimit().store(savedIsa);
    state.counters["ratio_vs_memcpy"] = peer / ours;
    state.counters["runs"] = double(runs) / layerCount;
    CKzPicBufAPI::Free(&out);
    for (int i = 0; i < layerCount; ++i) CKzRLEPicBufAPI::Free(&layers[i]);
}
BENCHMARK(BM_Paint)
    ->Args({2, 1})
    ->Args({2, 2})
    ->Args({0, 1})
    ->Args({0, 2})
    ->ArgNames({"isa", "layers"})
    ->Unit(benchmark::kMillisecond);

} // namespace
