// Throughput of the whole-buffer, LUT and constant-operand kernels on a
// 2048 x 2048 picture (8-bit and 16-bit samples, 1 and 3 components), with
// memcpy of the same bytes as the baseline of the same run. Every benchmark
// reports bytes per second of picture processed (source bytes).
#include "gnr_picture/KzKernels.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr uint32_t kW = 2048, kH = 2048;

struct Pictures {
    uint32_t comps, sampleBytes, bits, rowBytes;
    std::vector<uint8_t> src, dst;
    Pictures(uint32_t c, uint32_t sb) : comps(c), sampleBytes(sb), bits(sb == 1 ? 8 : 12)
    {
        rowBytes = kW * c * sb;
        src.resize(size_t(rowBytes) * kH);
        dst.resize(src.size());
        std::mt19937 rng(1);
        if (sb == 1)
            for (auto& b : src)
                b = uint8_t(rng());
        else
            for (size_t i = 0; i < src.size(); i += 2) {
                const uint16_t v = uint16_t(rng() & 0x0FFF);
                std::memcpy(&src[i], &v, 2);
            }
        std::memset(dst.data(), 1, dst.size());
    }
    size_t bytes() const { return src.size(); }
};

Pictures& Get(const benchmark::State& st)
{
    static Pictures p81(1, 1), p83(3, 1), p161(1, 2), p163(3, 2);
    const bool wide = st.range(0) == 16;
    const bool three = st.range(1) == 3;
    return wide ? (three ? p163 : p161) : (three ? p83 : p81);
}

template <class F>
void Run(benchmark::State& st, F&& f)
{
    Pictures& p = Get(st);
    for (auto _ : st) {
        f(p);
        benchmark::ClobberMemory();
    }
    st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(p.bytes()));
}

void Formats(benchmark::internal::Benchmark* b)
{
    for (int bits : {8, 16})
        for (int comps : {1, 3})
            b->Args({bits, comps});
    b->ArgNames({"bits", "comps"});
}

void BM_memcpy(benchmark::State& st)
{
    Run(st, [](Pictures& p) { std::memcpy(p.dst.data(), p.src.data(), p.bytes()); });
}
BENCHMARK(BM_memcpy)->Apply(Formats);

// --- whole-buffer ---
void BM_copy(benchmark::State& st)
{
    Run(st, [](Pictures& p) {
        copy(p.dst.data(), p.rowBytes, p.src.data(), p.rowBytes, p.comps, p.sampleBytes * 8, kW, kW * kH);
    });
}
BENCHMARK(BM_copy)->Apply(Formats);

void BM_set(benchmark::State& st)
{
    Run(st, [](Pictures& p) { set(p.dst.data(), p.rowBytes, 7, p.comps, p.sampleBytes * 8, kW, kW * kH); });
}
BENCHMARK(BM_set)->Apply(Formats);

// --- LUT application ---
void BM_applyluts(benchmark::State& st)
{
    Pictures& p = Get(st);
    const size_t rows = size_t(1) << p.bits;
    std::vector<uint16_t> flat16(rows), block16(rows * 3);
    std::vector<uint8_t> flat8(256), block8(256 * 3);
    std::vector<const uint16_t*> rp16(rows);
    std::vector<const uint8_t*> rp8(256);
    for (size_t v = 0; v < rows; ++v) {
        flat16[v] = uint16_t(rows - 1 - v);
        rp16[v] = block16.data() + v * 3;
    }
    for (size_t v = 0; v < 256; ++v) {
        flat8[v] = uint8_t(255 - v);
        rp8[v] = block8.data() + v * 3;
    }
    Run(st, [&](Pictures& q) {
        if (q.sampleBytes == 1) {
            if (q.comps == 1)
                applyluts_1x8(q.dst.data(), q.rowBytes, q.src.data(), q.rowBytes, flat8.data(), 1, 8, kW, kW * kH);
            else
                applyluts_3x8(q.dst.data(), q.rowBytes, q.src.data(), q.rowBytes, rp8.data(), 3, 8, kW, kW * kH);
        } else {
            if (q.comps == 1)
                applyluts_1x16(q.dst.data(), q.rowBytes, q.src.data(), q.rowBytes, flat16.data(), 1, q.bits, kW,
                               kW * kH);
            else
                applyluts_3x16(q.dst.data(), q.rowBytes, q.src.data(), q.rowBytes, rp16.data(), 3, q.bits, kW,
                               kW * kH);
        }
    });
}
BENCHMARK(BM_applyluts)->Apply(Formats);

// --- constant-operand arithmetic ---
template <class F8_1, class F8_3, class F16_1, class F16_3, class C>
void RunConst(benchmark::State& st, F8_1 f81, F8_3 f83, F16_1 f161, F16_3 f163, const C* c)
{
    Run(st, [&](Pictures& q) {
        auto* f = q.sampleBytes == 1 ? (q.comps == 1 ? f81 : f83) : (q.comps == 1 ? f161 : f163);
        f(q.dst.data(), q.rowBytes, q.src.data(), q.rowBytes, c, q.comps, q.bits, kW, kW * kH);
    });
}

void BM_addconstandclip(benchmark::State& st)
{
    const int c[3] = {17, -40, 300};
    RunConst(st, addconstandclip_1x8, addconstandclip_3x8, addconstandclip_1x16, addconstandclip_3x16, c);
}
BENCHMARK(BM_addconstandclip)->Apply(Formats);

void BM_maxconstandclip(benchmark::State& st)
{
    // The constants are read as bytes or words by the member's container.
    static const uint16_t c16[3] = {100, 2000, 50};
    static const uint8_t c8[3] = {100, 20, 50};
    Pictures& p = Get(st);
    if (p.sampleBytes == 1)
        RunConst(st, maxconstandclip_1x8, maxconstandclip_3x8, maxconstandclip_1x8, maxconstandclip_3x8, c8);
    else
        RunConst(st, maxconstandclip_1x16, maxconstandclip_3x16, maxconstandclip_1x16, maxconstandclip_3x16, c16);
}
BENCHMARK(BM_maxconstandclip)->Apply(Formats);

void BM_mulconstandclip(benchmark::State& st)
{
    const double c[3] = {0.5, 1.7, 3.1};
    RunConst(st, mulconstandclip_1x8, mulconstandclip_3x8, mulconstandclip_1x16, mulconstandclip_3x16, c);
}
BENCHMARK(BM_mulconstandclip)->Apply(Formats);

void BM_addconstrotate(benchmark::State& st)
{
    const int c[3] = {17, -40, 300};
    RunConst(st, addconstrotate_1x8, addconstrotate_3x8, addconstrotate_1x16, addconstrotate_3x16, c);
}
BENCHMARK(BM_addconstrotate)->Apply(Formats);

void BM_maskout(benchmark::State& st)
{
    Run(st, [](Pictures& q) {
        if (q.sampleBytes == 1)
            q.comps == 1 ? maskout_1x8(q.dst.data(), q.rowBytes, 0xF0, kW, kW * kH)
                         : maskout_3x8(q.dst.data(), q.rowBytes, 0xF0, kW, kW * kH);
        else
            q.comps == 1 ? maskout_1x16(q.dst.data(), q.rowBytes, 0xFF0, kW, kW * kH)
                         : maskout_3x16(q.dst.data(), q.rowBytes, 0xFF0, kW, kW * kH);
    });
}
BENCHMARK(BM_maskout)->Apply(Formats);

} // namespace
