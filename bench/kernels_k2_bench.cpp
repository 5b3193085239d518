// Throughput of channel composition and bit unpacking on 2048 x 2048
// pictures. Every benchmark reports the bytes of its output frame per second,
// beside memcpy of an output frame of the same size in the same run, so the
// ratio of the two bytes_per_second figures is the kernel's speed relative to
// memcpy (true-colour frame: 12 MiB; unpacked 1-byte frame: 4 MiB).
#include "gnr_picture/KzKernelsCompose.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr uint32_t kW = 2048, kH = 2048;
constexpr size_t kPixels = size_t(kW) * kH;

// Component LUT array of n components with rows rows of blue, green, red.
struct Lut {
    std::vector<uint8_t> entries;
    std::vector<const uint8_t*> rowPtrs;
    std::vector<const uint8_t* const*> comps;
    Lut(size_t n, size_t rows)
    {
        std::mt19937 rng(7);
        entries.resize(n * rows * 3);
        for (auto& e : entries)
            e = uint8_t(rng());
        rowPtrs.resize(n * rows);
        for (size_t i = 0; i < n * rows; ++i)
            rowPtrs[i] = &entries[3 * i];
        for (size_t k = 0; k < n; ++k)
            comps.push_back(&rowPtrs[k * rows]);
    }
};

template <class T>
std::vector<T> Frame(size_t samples, uint32_t limit)
{
    std::vector<T> v(samples);
    std::mt19937 rng(3);
    for (auto& s : v)
        s = T(rng() % (limit + 1));
    return v;
}

std::vector<uint8_t>& TrueColour()
{
    static std::vector<uint8_t> d(3 * kPixels, 1);
    return d;
}

void Report(benchmark::State& st, size_t bytes) { st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(bytes)); }

void BM_memcpy_truecolour(benchmark::State& st)
{
    static std::vector<uint8_t> src(3 * kPixels, 2);
    auto& d = TrueColour();
    for (auto _ : st) {
        std::memcpy(d.data(), src.data(), d.size());
        benchmark::ClobberMemory();
    }
    Report(st, d.size());
}
BENCHMARK(BM_memcpy_truecolour)->Unit(benchmark::kMillisecond);

void BM_mapcomp_1x8_3x8(benchmark::State& st)
{
    static const Lut lut(1, 256);
    static const auto src = Frame<uint8_t>(kPixels, 255);
    auto& d = TrueColour();
    for (auto _ : st) {
        mapcomp_1x8_3x8(d.data(), 3 * kW, src.data(), kW, lut.comps[0], kW, uint32_t(kPixels));
        benchmark::ClobberMemory();
    }
    Report(st, d.size());
}
BENCHMARK(BM_mapcomp_1x8_3x8)->Unit(benchmark::kMillisecond);

void BM_mapcomp_3x8_3x8_all_visible(benchmark::State& st)
{
    static const Lut lut(3, 256);
    static const auto src = Frame<uint8_t>(3 * kPixels, 255);
    const unsigned long mask = 7;
    auto& d = TrueColour();
    for (auto _ : st) {
        mapcomp_3x8_3x8(d.data(), 3 * kW, src.data(), 3 * kW, lut.comps.data(), &mask, kW, uint32_t(kPixels));
        benchmark::ClobberMemory();
    }
    Report(st, d.size());
}
BENCHMARK(BM_mapcomp_3x8_3x8_all_visible)->Unit(benchmark::kMillisecond);

void BM_mapcomp_3x8_3x8_overexp_underexp(benchmark::State& st)
{
    static const Lut lut(3, 256);
    static const auto src = Frame<uint8_t>(3 * kPixels, 255);
    const unsigned long mask = 7;
    const SKzLutExpColor over{0, 0, 255, 0}, under{255, 0, 0, 1};
    auto& d = TrueColour();
    for (auto _ : st) {
        mapcomp_3x8_3x8_overexp_underexp(d.data(), 3 * kW, src.data(), 3 * kW, lut.comps.data(), &mask, &over, &under,
                                         kW, uint32_t(kPixels));
        benchmark::ClobberMemory();
    }
    Report(st, d.size());
}
BENCHMARK(BM_mapcomp_3x8_3x8_overexp_underexp)->Unit(benchmark::kMillisecond);

// Five components of 12 bits, components 0, 2 and 3 visible.
void BM_mapcomp_Nx16_3x8_5comp_12bit_partial(benchmark::State& st)
{
    static const Lut lut(5, 4096);
    static const auto src = Frame<uint16_t>(5 * kPixels, 4095);
    const unsigned long mask = 0b01101;
    auto& d = TrueColour();
    for (auto _ : st) {
        mapcomp_Nx16_3x8(d.data(), 3 * kW, src.data(), 12, 10 * kW, 5, lut.comps.data(), &mask, kW, uint32_t(kPixels));
        benchmark::ClobberMemory();
    }
    Report(st, d.size());
}
BENCHMARK(BM_mapcomp_Nx16_3x8_5comp_12bit_partial)->Unit(benchmark::kMillisecond);

std::vector<uint8_t>& OneByteFrame()
{
    static std::vector<uint8_t> d(kPixels, 1);
    return d;
}

void BM_memcpy_onebyte(benchmark::State& st)
{
    static std::vector<uint8_t> src(kPixels, 2);
    auto& d = OneByteFrame();
    for (auto _ : st) {
        std::memcpy(d.data(), src.data(), d.size());
        benchmark::ClobberMemory();
    }
    Report(st, d.size());
}
BENCHMARK(BM_memcpy_onebyte)->Unit(benchmark::kMillisecond);

void BM_unpack_bin_to_1x8_mode0(benchmark::State& st)
{
    static const auto bits = Frame<uint8_t>(kPixels / 8, 255);
    const uint8_t value = 255;
    auto& d = OneByteFrame();
    for (auto _ : st) {
        unpack_bin_to_1x8(d.data(), &value, kW, bits.data(), 0, kW / 8, kW, kPixels, 0);
        benchmark::ClobberMemory();
    }
    Report(st, d.size());
}
BENCHMARK(BM_unpack_bin_to_1x8_mode0)->Unit(benchmark::kMillisecond);

}  // namespace
