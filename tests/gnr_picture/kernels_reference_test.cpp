// Depth conversion, float conversion, tone maps and histograms against the
// values that scripts/gen_kernel_reference.py computes with numpy; every
// result must match exactly.
#include "gnr_picture/KzKernelsC.h"
#include "gnr_picture/internal/KzKernelsInternalK1.h"
#include "kernel_test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kernel_reference.inc"

namespace {

template <class T, size_t N>
std::vector<uint64_t> Wide(const T (&a)[N])
{
    return std::vector<uint64_t>(a, a + N);
}
template <class T>
std::vector<uint64_t> Wide(const std::vector<T>& a)
{
    return std::vector<uint64_t>(a.begin(), a.end());
}
template <size_t N>
std::vector<float> Floats(const uint32_t (&bits)[N])
{
    std::vector<float> f(N);
    std::memcpy(f.data(), bits, N * 4);
    return f;
}
// Expands (index, count) pairs into n counters.
template <size_t N>
std::vector<uint64_t> Expand(const uint32_t (&pairs)[N], size_t nPairs, size_t n)
{
    std::vector<uint64_t> h(n, 0);
    for (size_t i = 0; i < nPairs; ++i)
        h[pairs[2 * i]] = pairs[2 * i + 1];
    return h;
}

constexpr uint32_t kSamples = kref::kW * kref::kH * 3;
constexpr uint32_t kCount = kref::kW * kref::kH;

} // namespace

TEST(KzReference, DepthConversions)
{
    kzt::ForEachIsa([] {
        std::vector<uint8_t> o8(kSamples);
        std::vector<uint16_t> o16(kSamples);
        const uint32_t w = kref::kW;
        convert_Nx16_to_Nx8(o8.data(), w * 3, kref::kShiftSrc16, 12, w * 6, 3, w, kCount);
        EXPECT_EQ(Wide(o8), Wide(kref::kShift16to8_12));
        convert_Nx16_to_Nx16(o16.data(), 12, w * 6, kref::kShiftSrc16, 10, w * 6, 3, w, kCount);
        EXPECT_EQ(Wide(o16), Wide(kref::kShift16to16_10to12));
        convert_Nx16_to_Nx16(o16.data(), 10, w * 6, kref::kShiftSrc16, 12, w * 6, 3, w, kCount);
        EXPECT_EQ(Wide(o16), Wide(kref::kShift16to16_12to10));
        changebitdepth_3xN_to_3x08(o8.data(), w * 3, kref::kShiftSrc16, w * 6, 16, w, kCount);
        EXPECT_EQ(Wide(o8), Wide(kref::kChange16to08));
        convert_Nx8_to_Nx16(o16.data(), 12, w * 6, kref::kShiftSrc8, w * 3, 3, w, kCount);
        EXPECT_EQ(Wide(o16), Wide(kref::kShift8to16_12));
        convert_Nx8_to_Nx16(o16.data(), 16, w * 6, kref::kShiftSrc8, w * 3, 3, w, kCount);
        EXPECT_EQ(Wide(o16), Wide(kref::kShift8to16_16));
        // 12-bit LUT on a frame with bits above the depth, table of 4096 entries.
        const std::vector<uint8_t> lut(std::begin(kref::kLut12to8), std::end(kref::kLut12to8));
        convertbitdepthvialuts_3x16_to_3x8_lut1_depth(o8.data(), w * 3, kref::kShiftSrc16, 0, w * 6, lut.data(), w,
                                                      kCount, 12);
        EXPECT_EQ(Wide(o8), Wide(kref::kLutOut12to8));
        SKzLinFunc f[3];
        std::memcpy(f, kref::kLinFuncs, sizeof(f));
        convertbitdepthvialinfunc_3x32_to_3x16(o16.data(), w * 6, 12, kref::kLinSrc, w * 12, f, w, kCount);
        EXPECT_EQ(Wide(o16), Wide(kref::kLinOut16_12));
        convertbitdepthvialinfunc_3x32_to_3x8(o8.data(), w * 3, kref::kLinSrc, w * 12, f, w, kCount);
        EXPECT_EQ(Wide(o8), Wide(kref::kLinOut8));
    });
}

TEST(KzReference, FloatConversions)
{
    kzt::ForEachIsa([] {
        const uint32_t w = kref::kW;
        std::vector<float> mean(kCount), second(kCount);
        extract_Nx16_to_1xFloat2(mean.data(), second.data(), 1, w * 4, kref::kToFloatSrc, w * 10, 16, 5, w, kCount);
        EXPECT_EQ(mean, Floats(kref::kToFloatMean));
        std::vector<uint8_t> o8(kSamples);
        std::vector<uint16_t> o16(kSamples);
        extract_Float2_to_Nx8(o8.data(), nullptr, w * 3, 0, kref::kFromFloatSrc, nullptr, 3, w * 12, w, kCount);
        EXPECT_EQ(Wide(o8), Wide(kref::kFromFloat8));
        extract_Float2_to_Nx16(o16.data(), nullptr, w * 6, 9, kref::kFromFloatSrc, nullptr, 3, w * 12, w, kCount);
        EXPECT_EQ(Wide(o16), Wide(kref::kFromFloat16_9));
    });
}

TEST(KzReference, ToneMaps)
{
    const std::vector<float> src = Floats(kref::kToneSrc);
    const uint32_t w = kref::kToneW, h = kref::kToneH, c = kref::kToneC;
    std::vector<uint8_t> o8(w * h * c);
    std::vector<uint16_t> o16(w * h * c);
    map_float_to_Nx8_Tumblin(o8.data(), nullptr, w * c, src.data(), w, h, c);
    EXPECT_EQ(Wide(o8), Wide(kref::kToneTumblin8));
    map_float_to_Nx16_Tumblin(o16.data(), nullptr, w * c * 2, src.data(), w, h, c);
    EXPECT_EQ(Wide(o16), Wide(kref::kToneTumblin16));
    map_float_to_Nx8_param_Tumblin(o8.data(), nullptr, w * c, src.data(), w, h, c, 3);
    EXPECT_EQ(Wide(o8), Wide(kref::kToneParamTumblin8_3));
    map_float_to_Nx8_Drago(o8.data(), nullptr, w * c, src.data(), w, h, c);
    EXPECT_EQ(Wide(o8), Wide(kref::kToneDrago8));
    map_float_to_Nx16_param_Drago(o16.data(), nullptr, w * c * 2, src.data(), w, h, c);
    EXPECT_EQ(Wide(o16), Wide(kref::kToneDrago16));
}

TEST(KzReference, Histograms)
{
    const uint32_t w = kref::kHistW, count = kref::kHistW * kref::kHistH;
    kzt::ForEachIsa([&] {
        std::vector<uint32_t> a[5], in;
        auto reset = [&](size_t n) {
            for (auto& v : a)
                v.assign(n, 0);
            in.assign(n, 0);
        };
        void* set[5];
        auto bind = [&] {
            for (int k = 0; k < 5; ++k)
                set[k] = a[k].data();
        };
        reset(256);
        bind();
        EXPECT_EQ(gethistogram_3x8(set, 4, kref::kHistSrc8, w * 3, kref::kHistPixStep, kref::kHistRowStep, w, count), 0);
        EXPECT_EQ(Wide(a[0]), Expand(kref::kHist3x8_steps_0, kref::kHist3x8_steps_0_pairs, 256));
        EXPECT_EQ(Wide(a[1]), Expand(kref::kHist3x8_steps_1, kref::kHist3x8_steps_1_pairs, 256));
        EXPECT_EQ(Wide(a[2]), Expand(kref::kHist3x8_steps_2, kref::kHist3x8_steps_2_pairs, 256));

        reset(256);
        bind();
        EXPECT_EQ(gethistogrambin_3x8(set, in.data(), 4, kref::kHistSrc8, w * 3, kref::kHistMask, w, 1, 1, w, count), 0);
        EXPECT_EQ(Wide(a[0]), Expand(kref::kHistBin3x8_0, kref::kHistBin3x8_0_pairs, 256));
        EXPECT_EQ(Wide(a[1]), Expand(kref::kHistBin3x8_1, kref::kHistBin3x8_1_pairs, 256));
        EXPECT_EQ(Wide(a[2]), Expand(kref::kHistBin3x8_2, kref::kHistBin3x8_2_pairs, 256));
        EXPECT_EQ(Wide(in), Expand(kref::kHistBin3x8_int, kref::kHistBin3x8_int_pairs, 256));

        reset(4096);
        bind();
        EXPECT_EQ(gethistogramint_Nx16(set, in.data(), 4, kref::kHistSrc16, 5, w * 10, 1, 1, 12, w, count), 0);
        EXPECT_EQ(Wide(a[0]), Expand(kref::kHistInt5x16_0, kref::kHistInt5x16_0_pairs, 4096));
        EXPECT_EQ(Wide(a[1]), Expand(kref::kHistInt5x16_1, kref::kHistInt5x16_1_pairs, 4096));
        EXPECT_EQ(Wide(a[2]), Expand(kref::kHistInt5x16_2, kref::kHistInt5x16_2_pairs, 4096));
        EXPECT_EQ(Wide(a[3]), Expand(kref::kHistInt5x16_3, kref::kHistInt5x16_3_pairs, 4096));
        EXPECT_EQ(Wide(a[4]), Expand(kref::kHistInt5x16_4, kref::kHistInt5x16_4_pairs, 4096));
        EXPECT_EQ(Wide(in), Expand(kref::kHistInt5x16_int, kref::kHistInt5x16_int_pairs, 4096));

        reset(128);
        bind();
        EXPECT_EQ(gethistogramdiv_Nx16(set, 4, 7, kref::kHistSrc16, 5, w * 10, 1, 1, 12, w, count), 0);
        EXPECT_EQ(Wide(a[0]), Expand(kref::kHistDiv_0, kref::kHistDiv_0_pairs, 128));
        EXPECT_EQ(Wide(a[2]), Expand(kref::kHistDiv_2, kref::kHistDiv_2_pairs, 128));
        EXPECT_EQ(Wide(a[4]), Expand(kref::kHistDiv_4, kref::kHistDiv_4_pairs, 128));

        std::vector<uint32_t> joint(65536, 0);
        EXPECT_EQ(gethistogram2d_16(joint.data(), 4, kref::kHistSrc16, w * 10, 5, 12, 4, 1, nullptr, nullptr, w, count), 0);
        EXPECT_EQ(Wide(joint), Expand(kref::kHist2d16, kref::kHist2d16_pairs, 65536));
    });
}
