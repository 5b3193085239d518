// Throughput of the two-operand, correlation, running-average, masked-copy,
// fill, single-component and component-count kernels on 2048 x 2048
// pictures, beside memcpy of the same number of bytes in the same run.
//
// Bytes per iteration: the bytes of the largest picture a kernel reads or
// writes (for example the 3-component source of a collapse); the Memcpy
// benchmark with the same byte count is the physical baseline. Compare
// bytes_per_second of a kernel with Memcpy/<same bytes>.
#include "gnr_picture/KzKernelsB.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kW = 2048, kH = 2048, kCount = kW * kH;

struct Buffer {
    uint8_t* p = nullptr;
    size_t size = 0;
    ~Buffer() { std::free(p); }
};

// Random buffers of a given size, kept for the whole run (a few per size).
uint8_t* Buf(size_t bytes, int slot)
{
    static std::map<std::pair<size_t, int>, std::unique_ptr<Buffer>> cache;
    auto& b = cache[{bytes, slot}];
    if (!b) {
        b = std::make_unique<Buffer>();
        b->size = bytes;
        b->p = static_cast<uint8_t*>(std::aligned_alloc(64, (bytes + 63) / 64 * 64));
        std::mt19937 rng(unsigned(bytes + slot));
        for (size_t i = 0; i < bytes; ++i)
            b->p[i] = uint8_t(rng() >> 24);
    }
    return b->p;
}

size_t PicBytes(uint32_t comps, uint32_t sampleBytes) { return size_t(kCount) * comps * sampleBytes; }
uint32_t RowBytes(uint32_t comps, uint32_t sampleBytes) { return kW * comps * sampleBytes; }

template <class Fn>
void Register(const std::string& name, size_t bytes, Fn fn)
{
    benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& st) {
        for (auto _ : st) {
            fn();
            benchmark::ClobberMemory();
        }
        st.SetBytesProcessed(int64_t(st.iterations()) * int64_t(bytes));
    })->Unit(benchmark::kMicrosecond)->MinTime(0.3);
}

std::string Fmt(uint32_t comps, uint32_t bytes) { return std::to_string(comps) + "x" + std::to_string(bytes * 8); }

// A label mask in blocks of 64 x 64 pixels with labels 0..2.
uint8_t* LabelMask(uint32_t sampleBytes)
{
    uint8_t* m = Buf(PicBytes(1, sampleBytes), 100);
    static bool done[3] = {false, false, false};
    if (!done[sampleBytes]) {
        for (uint32_t y = 0; y < kH; ++y)
            for (uint32_t x = 0; x < kW; ++x) {
                const uint16_t v = uint16_t((x / 64 + y / 64) % 3);
                if (sampleBytes == 1)
                    m[size_t(y) * kW + x] = uint8_t(v);
                else
                    std::memcpy(m + (size_t(y) * kW + x) * 2, &v, 2);
            }
        done[sampleBytes] = true;
    }
    return m;
}

int RegisterAll()
{
    // Baselines: every byte count used below.
    for (size_t bytes : {PicBytes(1, 1), PicBytes(1, 2), PicBytes(3, 1), PicBytes(3, 2), PicBytes(4, 1),
                         PicBytes(4, 2), PicBytes(5, 1), PicBytes(5, 2)}) {
        uint8_t *to = Buf(bytes, 1), *from = Buf(bytes, 2);
        Register("Memcpy/" + std::to_string(bytes), bytes, [=] { std::memcpy(to, from, bytes); });
    }

    uint8_t* const mask8 = LabelMask(1);
    uint8_t* const mask16 = LabelMask(2);
    struct Fmt2 {
        uint32_t comps, bytes;
    };
    const Fmt2 formats[] = {{1, 1}, {3, 1}, {1, 2}, {3, 2}};

    for (const Fmt2 f : formats) {
        const size_t n = PicBytes(f.comps, f.bytes);
        const uint32_t rb = RowBytes(f.comps, f.bytes);
        const uint32_t bits = 8 * f.bytes;
        uint8_t *d = Buf(n, 1), *a = Buf(n, 2), *b = Buf(n, 3);
        const std::string sfx = "/" + Fmt(f.comps, f.bytes) + "/" + std::to_string(n);
        using TwoOp = int (*)(KZ_TWO_OP_ARGS);
        const bool is8 = f.bytes == 1;
        const TwoOp add = is8 ? (f.comps == 1 ? addandclip_1x8 : addandclip_3x8)
                              : (f.comps == 1 ? addandclip_1x16 : addandclip_3x16);
        const TwoOp sub = is8 ? (f.comps == 1 ? subandclip_1x8 : subandclip_3x8)
                              : (f.comps == 1 ? subandclip_1x16 : subandclip_3x16);
        const TwoOp mx = is8 ? (f.comps == 1 ? max_1x8 : max_3x8) : (f.comps == 1 ? max_1x16 : max_3x16);
        const uint32_t c = f.comps;
        const uint32_t realBits = is8 ? 8 : 12;
        Register("addandclip" + sfx, n, [=] { add(d, rb, a, rb, b, rb, c, realBits, kW, kCount); });
        Register("addandclip_inplace" + sfx, n, [=] { add(a, rb, a, rb, b, rb, c, realBits, kW, kCount); });
        Register("subandclip" + sfx, n, [=] { sub(d, rb, a, rb, b, rb, c, bits, kW, kCount); });
        Register("max" + sfx, n, [=] { mx(d, rb, a, rb, b, rb, c, bits, kW, kCount); });
        Register("addtranspandclip" + sfx, n, [=] {
            (is8 ? addtranspandclip_Nx8 : addtranspandclip_Nx16)(d, rb, a, rb, b, rb, 0.3, 0.7, c, realBits, kW, kCount);
        });
        static const int32_t consts[3] = {100, -50, 7};
        Register("subaddconstandclip" + sfx, n, [=] {
            (is8 ? subaddconstandclip_Nx8 : subaddconstandclip_Nx16)(d, rb, a, rb, b, rb, consts, c, realBits, kW,
                                                                     kCount);
        });
        Register("linar_correlation" + sfx, n, [=] {
            double r;
            (is8 ? linar_correlation_Nx8 : linar_correlation_Nx16)(a, rb, b, rb, c, kW, kCount, &r, nullptr);
            benchmark::DoNotOptimize(r);
        });
        {
            double* wa = reinterpret_cast<double*>(Buf(size_t(kCount) * 8, 10));
            double* ws = reinterpret_cast<double*>(Buf(size_t(kCount) * 8, 11));
            for (size_t i = 0; i < kCount; ++i)
                wa[i] = ws[i] = 1.0;
            Register("average_update" + sfx, n, [=] {
                // Weights stay finite: reset cost is not timed separately, so
                // pass the same weights (the accumulated ones grow linearly).
                (is8 ? average_update_Nx8 : average_update_Nx16)(d, rb, wa, kW * 8, a, rb, ws, kW * 8, c, kW, kCount);
            });
        }
        // Masked copies (blocks of labels; about a third of the pixels match).
        Register("copymask_8_in" + sfx, n, [=] {
            copymask_8_in(d, rb, a, rb, c, bits, mask8, kW, kW, kCount, 1);
        });
        if (f.comps == 3 && is8)
            Register("copymask_16_3x8_out" + sfx, n, [=] {
                copymask_16_3x8_out(d, rb, a, rb, mask16, kW * 2, kW, kCount, 1);
            });
        // Fills.
        static const uint16_t value[3] = {1, 2, 3};
        Register("set" + sfx, n, [=] { (is8 ? set_Nx8 : set_Nx16)(d, c, rb, value, kW, kCount); });
        static const uint16_t oldv[3] = {5, 5, 5};
        Register("change" + sfx, n, [=] { (is8 ? change_Nx8 : change_Nx16)(a, c, rb, value, oldv, kW, kCount); });
        // Single components.
        Register("setcomponent" + sfx, n, [=] {
            (is8 ? setcomponent_Nx8 : setcomponent_Nx16)(d, c, rb, c - 1, 77, kW, kCount);
        });
        Register("copycomponent" + sfx, n, [=] {
            (is8 ? copycomponent_Nx8_to_Nx8 : copycomponent_Nx16_to_Nx16)(d, c, rb, 0, a, c, rb, c - 1, kW, kCount);
        });
        Register("comparecomponent" + sfx, n, [=] {
            benchmark::DoNotOptimize((is8 ? comparecomponent_Nx8_to_Nx8 : comparecomponent_Nx16_to_Nx16)(
                a, c, rb, 0, a, c, rb, 0, kW, kCount));
        });
    }

    // Component-count conversion: bytes = the larger picture.
    for (uint32_t bytes : {1u, 2u}) {
        const bool is8 = bytes == 1;
        const size_t n1 = PicBytes(1, bytes), n3 = PicBytes(3, bytes), n4 = PicBytes(4, bytes);
        const uint32_t rb1 = RowBytes(1, bytes), rb3 = RowBytes(3, bytes), rb4 = RowBytes(4, bytes);
        uint8_t *p1 = Buf(n1, 1), *p3 = Buf(n3, 2), *p4 = Buf(n4, 3);
        static const double w[4] = {0.299, 0.587, 0.114, 0.0};
        const std::string b = std::to_string(bytes * 8);
        Register("convert_3_to_1_weighted/3x" + b + "/" + std::to_string(n3), n3, [=] {
            (is8 ? convert_3x8_to_1x8 : convert_3x16_to_1x16)(p1, rb1, p3, rb3, w, kW, kCount);
        });
        Register("convert_3_to_1_mean/3x" + b + "/" + std::to_string(n3), n3, [=] {
            (is8 ? convert_3x8_to_1x8 : convert_3x16_to_1x16)(p1, rb1, p3, rb3, nullptr, kW, kCount);
        });
        Register("convert_4_to_1_weighted/4x" + b + "/" + std::to_string(n4), n4, [=] {
            (is8 ? convert_4x8_to_1x8 : convert_4x16_to_1x16)(p1, rb1, p4, rb4, w, kW, kCount);
        });
        Register("convert_N3_to_1_weighted/3x" + b + "/" + std::to_string(n3), n3, [=] {
            (is8 ? convert_Nx8_to_1x8 : convert_Nx16_to_1x16)(p1, rb1, p3, 3, rb3, w, kW, kCount);
        });
        Register("convert_1_to_3/3x" + b + "/" + std::to_string(n3), n3, [=] {
            (is8 ? convert_1x8_to_3x8 : convert_1x16_to_3x16)(p3, rb3, p1, rb1, kW, kCount);
        });
        Register("convert_1_to_4/4x" + b + "/" + std::to_string(n4), n4, [=] {
            (is8 ? convert_1x8_to_4x8 : convert_1x16_to_4x16)(p4, rb4, p1, rb1, kW, kCount);
        });
        Register("convert_4_to_3/4x" + b + "/" + std::to_string(n4), n4, [=] {
            (is8 ? convert_4x8_to_3x8 : convert_4x16_to_3x16)(p3, rb3, p4, rb4, kW, kCount);
        });
        Register("convert_3_to_4/4x" + b + "/" + std::to_string(n4), n4, [=] {
            (is8 ? convert_3x8_to_4x8 : convert_3x16_to_4x16)(p4, rb4, p3, rb3, 255, kW, kCount);
        });
        uint8_t* p5 = Buf(n1 * 5, 4);
        Register("convert_1_to_N5/5x" + b + "/" + std::to_string(n1 * 5), n1 * 5, [=] {
            (is8 ? convert_1x8_to_Nx8 : convert_1x16_to_Nx16)(p5, 5, RowBytes(5, bytes), p1, rb1, kW, kCount);
        });
    }
    return 0;
}

const int g_registered = RegisterAll();

} // namespace
